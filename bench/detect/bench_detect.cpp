// Times DetConfig::infer against a bare OpenCV DNN forward plus NMS on the
// same blob, on a V4-tiny layout at 416 with random weights of the right size
// and a 1920 x 1080 image scaled as the server scales it (longer side 608).
// Runs alternate between the two, so that load from other programs on the
// machine hits both alike. Prints the medians and their ratio.
#include "darknet_cfg.h"
#include "det_config.h"
#include "dialog_list_configs.h"
#include "fixture_model.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The bare path: forward on a given blob, best class per row, per-class NMS.
size_t bare_detect(cv::dnn::Net& net, const std::vector<std::string>& outs_names, const cv::Mat& blob, int classes,
                   cv::Size image, float thresh, float nms)
{
    std::vector<cv::Mat> outs;
    net.setInput(blob);
    net.forward(outs, outs_names);
    std::vector<std::vector<cv::Rect2d>> rects(static_cast<size_t>(classes));
    std::vector<std::vector<float>> scores(static_cast<size_t>(classes));
    for (const cv::Mat& out : outs)
        for (int r = 0; r < out.rows; ++r) {
            const float* p = out.ptr<float>(r);
            int best = 0;
            for (int c = 1; c < classes; ++c)
                if (p[5 + c] > p[5 + best])
                    best = c;
            if (p[5 + best] <= thresh)
                continue;
            rects[static_cast<size_t>(best)].emplace_back((p[0] - p[2] / 2) * image.width,
                                                          (p[1] - p[3] / 2) * image.height, p[2] * image.width,
                                                          p[3] * image.height);
            scores[static_cast<size_t>(best)].push_back(p[5 + best]);
        }
    size_t kept = 0;
    for (int c = 0; c < classes; ++c) {
        std::vector<int> keep;
        cv::dnn::NMSBoxes(rects[static_cast<size_t>(c)], scores[static_cast<size_t>(c)], thresh, nms, keep);
        kept += keep.size();
    }
    return kept;
}

// The score of the n-th best candidate row: a threshold at which the random
// network gives about n boxes, as a real scene would.
double threshold_for(cv::dnn::Net& net, const std::vector<std::string>& outs_names, const cv::Mat& blob, int classes,
                     size_t n)
{
    std::vector<cv::Mat> outs;
    net.setInput(blob);
    net.forward(outs, outs_names);
    std::vector<float> best;
    for (const cv::Mat& out : outs)
        for (int r = 0; r < out.rows; ++r) {
            const float* p = out.ptr<float>(r);
            best.push_back(*std::max_element(p + 5, p + 5 + classes));
        }
    std::sort(best.begin(), best.end(), std::greater<float>());
    return best[std::min(n, best.size() - 1)];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(5, atoi(argv[1])) : 40;
    const int classes = 3;

    QTemporaryDir root;
    const QString dir = root.path() + "/v4tiny";
    const QString cfg_text = fixture::v4_tiny_cfg(classes, 416);
    const QByteArray weights = fixture::random_weights(cfg_text, 7);
    if (weights.isEmpty() || !fixture::write_model_folder(dir, cfg_text, weights, {"a", "b", "c"})) {
        std::fprintf(stderr, "bench_detect: cannot write the model folder\n");
        return 1;
    }
    DialogListConfigs list(nullptr);
    if (!list.addConfigPath("test", dir, "CPU")) {
        std::fprintf(stderr, "bench_detect: the model does not load\n");
        return 1;
    }
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("test");

    // A 1920 x 1080 picture with some structure, scaled as the server scales it.
    cv::Mat big(1080, 1920, CV_8UC3);
    cv::RNG rng(3);
    rng.fill(big, cv::RNG::UNIFORM, 0, 255);
    cv::GaussianBlur(big, big, cv::Size(0, 0), 8);
    const double s = 608.0 / std::max(big.cols, big.rows);
    cv::Mat image;
    cv::resize(big, image, cv::Size(int(big.cols * s), int(big.rows * s)), 0, 0, cv::INTER_LINEAR);

    // The bare network: the same description as the layer gives OpenCV.
    const std::string prepared = darknet_cfg::prepare_for_opencv(cfg_text.toStdString());
    cv::dnn::Net net = cv::dnn::readNetFromDarknet(prepared.data(), prepared.size(), weights.constData(),
                                                   static_cast<size_t>(weights.size()));
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    const std::vector<std::string> names = net.getUnconnectedOutLayersNames();
    const cv::Mat blob = cv::dnn::blobFromImage(image, 1.0 / 255.0, cv::Size(416, 416), cv::Scalar(), true, false);

    std::printf("bench_detect: V4-tiny layout, 416 x 416, %d classes, image %d x %d, %d runs per threshold\n",
                classes, image.cols, image.rows, runs);
    // The dialog's default threshold (the random network finds nothing), and
    // one at which it gives a few dozen boxes to suppress and draw.
    const double some_boxes = threshold_for(net, names, blob, classes, 60);
    for (const double thresh : {0.5, some_boxes}) {
        cfg->thresh = thresh;
        std::vector<double> t_infer, t_bare, t_bare_blob;
        size_t n_infer = 0, n_bare = 0;
        for (int i = -3; i < runs; ++i) {
            cv::Mat work = image.clone();
            QElapsedTimer clock;
            clock.start();
            n_infer = cfg->infer(work).size();
            const double a = clock.nsecsElapsed() / 1e6;

            clock.restart();
            n_bare = bare_detect(net, names, blob, classes, image.size(), float(cfg->thresh), float(cfg->nms));
            const double b = clock.nsecsElapsed() / 1e6;

            clock.restart();
            const cv::Mat fresh =
                cv::dnn::blobFromImage(image, 1.0 / 255.0, cv::Size(416, 416), cv::Scalar(), true, false);
            bare_detect(net, names, fresh, classes, image.size(), float(cfg->thresh), float(cfg->nms));
            const double c = clock.nsecsElapsed() / 1e6;
            if (i >= 0) {
                t_infer.push_back(a);
                t_bare.push_back(b);
                t_bare_blob.push_back(c);
            }
        }
        const double mi = median(t_infer), mb = median(t_bare), mbb = median(t_bare_blob);
        std::printf("threshold %.4f: boxes infer %zu, bare %zu\n", thresh, n_infer, n_bare);
        std::printf("  DetConfig::infer median           %8.2f ms\n", mi);
        std::printf("  bare forward + NMS (same blob)    %8.2f ms\n", mb);
        std::printf("  bare blob + forward + NMS         %8.2f ms\n", mbb);
        std::printf("  ratio infer / bare                %8.3f (goal <= 1.15)\n", mi / mb);
        std::printf("  ratio infer / bare with blob      %8.3f\n", mi / mbb);
    }
    return 0;
}
