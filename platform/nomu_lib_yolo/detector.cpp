#include "detector.h"

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace {
std::atomic<int> g_live_gpu{0};
std::atomic<int> g_live_cpu{0};
} // namespace

namespace nomu_detector_detail {

enum class Device { Cpu, Cuda, Vulkan };

// The [net] width and height of a darknet description, read the way darknet
// and OpenCV read it: blanks anywhere in a line are ignored, "#" and ";" start
// comment lines, the last value of a key wins.
static void net_size(const std::string& cfg, int* width, int* height)
{
    *width = 0;
    *height = 0;
    std::istringstream in(cfg);
    std::string line;
    int section = -1;
    while (std::getline(in, line)) {
        line.erase(std::remove_if(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); }),
                   line.end());
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            ++section;
            if (section > 0)
                return;
            continue;
        }
        const size_t eq = line.find('=');
        if (section != 0 || eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        try {
            if (key == "width")
                *width = std::stoi(value);
            else if (key == "height")
                *height = std::stoi(value);
        } catch (const std::exception&) {
            // A malformed value leaves the size at 0, which the load refuses.
        }
    }
}

class DnnNet {
public:
    bool load(const std::string& cfg, const std::string& weights, Device device, std::string* error)
    {
        try {
            net_size(cfg, &width, &height);
            if (width <= 0 || height <= 0) {
                *error = "the description has no usable [net] width and height";
                return false;
            }
            if (weights.empty()) {
                *error = "the weights are empty";
                return false;
            }
            net = cv::dnn::readNetFromDarknet(cfg.data(), cfg.size(), weights.data(), weights.size());
            if (net.empty()) {
                *error = "OpenCV built an empty network";
                return false;
            }
            choose_backend(device);
            out_names = net.getUnconnectedOutLayersNames();
            if (out_names.empty()) {
                *error = "the network has no output layer";
                return false;
            }
            // Warm-up forward: checks that the network runs and gives the
            // detection layout [cx, cy, w, h, objectness, class scores...].
            std::vector<cv::Mat> outs;
            forward(cv::Mat(height, width, CV_8UC3, cv::Scalar(0, 0, 0)), outs);
            int cols = -1;
            for (const cv::Mat& out : outs) {
                if (out.dims != 2 || out.type() != CV_32F || out.cols < 6 || (cols >= 0 && out.cols != cols)) {
                    *error = "the network's outputs are not detection outputs";
                    return false;
                }
                cols = out.cols;
            }
            if (outs.empty()) {
                *error = "the network gave no output";
                return false;
            }
            classes = cols - 5;
            loaded = true;
            return true;
        } catch (const cv::Exception& e) {
            *error = std::string("OpenCV: ") + e.what();
        } catch (const std::exception& e) {
            *error = e.what();
        } catch (...) {
            *error = "unknown failure while loading the network";
        }
        loaded = false;
        return false;
    }

    std::vector<bbox_t> detect(const cv::Mat& image, float thresh, float nms)
    {
        if (!loaded)
            throw std::runtime_error("the detector holds no network");
        if (image.empty() || image.type() != CV_8UC3)
            throw std::runtime_error("detection needs a non-empty 8-bit 3-channel image");

        std::vector<cv::Mat> outs;
        forward(image, outs);

        // Candidates per class, clamped to the image in its pixels.
        std::vector<std::vector<cv::Rect2d>> rects(static_cast<size_t>(classes));
        std::vector<std::vector<float>> scores(static_cast<size_t>(classes));
        const double cols = image.cols;
        const double rows = image.rows;
        for (const cv::Mat& out : outs) {
            if (out.dims != 2 || out.cols != classes + 5 || out.type() != CV_32F)
                throw std::runtime_error("the network's output changed its layout");
            for (int r = 0; r < out.rows; ++r) {
                const float* p = out.ptr<float>(r);
                int best = 0;
                for (int c = 1; c < classes; ++c)
                    if (p[5 + c] > p[5 + best])
                        best = c;
                const float score = p[5 + best];
                if (!(score > thresh) || !std::isfinite(score))
                    continue;
                const double cx = p[0] * cols, cy = p[1] * rows;
                const double bw = p[2] * cols, bh = p[3] * rows;
                if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(bw) || !std::isfinite(bh))
                    continue;
                const double x0 = std::clamp(cx - bw / 2, 0.0, cols), x1 = std::clamp(cx + bw / 2, 0.0, cols);
                const double y0 = std::clamp(cy - bh / 2, 0.0, rows), y1 = std::clamp(cy + bh / 2, 0.0, rows);
                if (x1 - x0 <= 0 || y1 - y0 <= 0)
                    continue;
                rects[static_cast<size_t>(best)].emplace_back(x0, y0, x1 - x0, y1 - y0);
                scores[static_cast<size_t>(best)].push_back(score);
            }
        }

        std::vector<bbox_t> result;
        for (int c = 0; c < classes; ++c) {
            const auto& cr = rects[static_cast<size_t>(c)];
            if (cr.empty())
                continue;
            std::vector<int> keep;
            cv::dnn::NMSBoxes(cr, scores[static_cast<size_t>(c)], thresh, nms, keep);
            for (int i : keep) {
                const cv::Rect2d& b = cr[static_cast<size_t>(i)];
                const long x0 = std::lround(b.x), y0 = std::lround(b.y);
                const long x1 = std::min(std::lround(b.x + b.width), static_cast<long>(image.cols));
                const long y1 = std::min(std::lround(b.y + b.height), static_cast<long>(image.rows));
                if (x1 <= x0 || y1 <= y0)
                    continue;
                bbox_t box;
                box.x = static_cast<unsigned>(x0);
                box.y = static_cast<unsigned>(y0);
                box.w = static_cast<unsigned>(x1 - x0);
                box.h = static_cast<unsigned>(y1 - y0);
                box.prob = scores[static_cast<size_t>(c)][static_cast<size_t>(i)];
                box.obj_id = static_cast<unsigned>(c);
                result.push_back(box);
            }
        }
        std::sort(result.begin(), result.end(), [](const bbox_t& a, const bbox_t& b) {
            if (a.prob != b.prob)
                return a.prob > b.prob;
            return std::tie(a.obj_id, a.y, a.x, a.h, a.w) < std::tie(b.obj_id, b.y, b.x, b.h, b.w);
        });
        return result;
    }

    int width = 0;
    int height = 0;
    int classes = 0;
    bool loaded = false;

private:
    void choose_backend(Device device)
    {
        auto offers = [](cv::dnn::Backend backend, cv::dnn::Target target) {
            const std::vector<cv::dnn::Target> targets = cv::dnn::getAvailableTargets(backend);
            return std::find(targets.begin(), targets.end(), target) != targets.end();
        };
        if (device == Device::Cuda) {
            if (offers(cv::dnn::DNN_BACKEND_CUDA, cv::dnn::DNN_TARGET_CUDA)) {
                net.setPreferableBackend(cv::dnn::DNN_BACKEND_CUDA);
                net.setPreferableTarget(cv::dnn::DNN_TARGET_CUDA);
                return;
            }
            std::fprintf(stderr, "Detector: OpenCV offers no CUDA target; the network runs on the CPU\n");
        } else if (device == Device::Vulkan) {
            if (offers(cv::dnn::DNN_BACKEND_VKCOM, cv::dnn::DNN_TARGET_VULKAN)) {
                net.setPreferableBackend(cv::dnn::DNN_BACKEND_VKCOM);
                net.setPreferableTarget(cv::dnn::DNN_TARGET_VULKAN);
                return;
            }
            std::fprintf(stderr, "DetectorCPU: OpenCV offers no Vulkan target; the network runs on the CPU\n");
        }
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    }

    void forward(const cv::Mat& image, std::vector<cv::Mat>& outs)
    {
        // A plain stretch to the network size, RGB order, 0..1, as darknet feeds it.
        const cv::Mat blob = cv::dnn::blobFromImage(image, 1.0 / 255.0, cv::Size(width, height), cv::Scalar(),
                                                    true, false, CV_32F);
        net.setInput(blob);
        net.forward(outs, out_names);
    }

    cv::dnn::Net net;
    std::vector<std::string> out_names;
};

} // namespace nomu_detector_detail

using nomu_detector_detail::Device;
using nomu_detector_detail::DnnNet;

Detector::Detector() : net_(new DnnNet) { ++g_live_gpu; }
Detector::~Detector() { --g_live_gpu; }
int Detector::live_count() { return g_live_gpu.load(); }

bool Detector::load(const std::string& cfg_text, const std::string& weights, std::string* error)
{
    std::string ignored;
    return net_->load(cfg_text, weights, Device::Cuda, error ? error : &ignored);
}
bool Detector::is_loaded() const { return net_->loaded; }
int Detector::net_width() const { return net_->loaded ? net_->width : 0; }
int Detector::net_height() const { return net_->loaded ? net_->height : 0; }
int Detector::classes() const { return net_->loaded ? net_->classes : 0; }
std::vector<bbox_t> Detector::detect(const cv::Mat& image, float thresh, float nms)
{
    return net_->detect(image, thresh, nms);
}

DetectorCPU::DetectorCPU() : net_(new DnnNet) { ++g_live_cpu; }
DetectorCPU::~DetectorCPU() { --g_live_cpu; }
int DetectorCPU::live_count() { return g_live_cpu.load(); }

bool DetectorCPU::load(const std::string& cfg_text, const std::string& weights, std::string* error,
                       bool prefer_vulkan)
{
    std::string ignored;
    return net_->load(cfg_text, weights, prefer_vulkan ? Device::Vulkan : Device::Cpu, error ? error : &ignored);
}
bool DetectorCPU::is_loaded() const { return net_->loaded; }
int DetectorCPU::net_width() const { return net_->loaded ? net_->width : 0; }
int DetectorCPU::net_height() const { return net_->loaded ? net_->height : 0; }
int DetectorCPU::classes() const { return net_->loaded ? net_->classes : 0; }
std::vector<bbox_t> DetectorCPU::detect(const cv::Mat& image, float thresh, float nms)
{
    return net_->detect(image, thresh, nms);
}
