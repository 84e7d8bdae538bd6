#pragma once
// The detectors that the wrappers own: a darknet network run on OpenCV's DNN
// module. A detector is created and loaded by the configuration layer and freed
// through the wrapper's delete_detector.
//
// `Detector` is the GPU detector (OpenCV's CUDA backend where OpenCV offers
// it), `DetectorCPU` the CPU one (OpenCV's own backend; Vulkan where offered
// and asked for). Both load from memory, so a deciphered network description
// never has to touch the disk.

#include "bbox.h"

#include <opencv2/core.hpp>

#include <memory>
#include <string>
#include <vector>

namespace nomu_detector_detail {
class DnnNet;
}

class Detector {
public:
    Detector();
    ~Detector();
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // Builds the network from the darknet description text and the bytes of
    // the weights file, then runs one forward pass on a black image so that a
    // network that cannot run is refused here and not at the first detection.
    // Without a CUDA target in OpenCV the network runs on the CPU (a note goes
    // to stderr). False, with the reason in *error, on any failure; never
    // throws. The caller checks the weights size beforehand: OpenCV reads
    // short or long weights without a word.
    bool load(const std::string& cfg_text, const std::string& weights, std::string* error);

    bool is_loaded() const;
    // The network's input size ([net] width and height) and class count (from
    // its detection outputs); 0 before a successful load.
    int net_width() const;
    int net_height() const;
    int classes() const;

    // Detection on an 8-bit BGR image, stretched to the network size: every
    // box whose best class score exceeds thresh, non-maximum suppression per
    // class with nms as the overlap limit, boxes clamped to the image and in
    // its pixels (never empty), ordered by descending score, then class, y, x.
    // Throws (cv::Exception or std::runtime_error) when the detection cannot
    // run, never returns an empty list for a failure.
    std::vector<bbox_t> detect(const cv::Mat& image, float thresh, float nms);

    // Live detectors of this kind, for leak checks in tests.
    static int live_count();

private:
    std::unique_ptr<nomu_detector_detail::DnnNet> net_;
};

class DetectorCPU {
public:
    DetectorCPU();
    ~DetectorCPU();
    DetectorCPU(const DetectorCPU&) = delete;
    DetectorCPU& operator=(const DetectorCPU&) = delete;

    // As Detector::load, on the CPU; with prefer_vulkan on OpenCV's Vulkan
    // backend when OpenCV offers it (else the CPU).
    bool load(const std::string& cfg_text, const std::string& weights, std::string* error,
              bool prefer_vulkan = false);

    bool is_loaded() const;
    int net_width() const;
    int net_height() const;
    int classes() const;
    std::vector<bbox_t> detect(const cv::Mat& image, float thresh, float nms);

    static int live_count();

private:
    std::unique_ptr<nomu_detector_detail::DnnNet> net_;
};
