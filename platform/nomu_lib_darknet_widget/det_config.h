#pragma once
// One detector configuration of the registry: the loaded detector, its model
// folder and backend, the detection, drawing, tracking and ROI parameters the
// server copies in before every detection, and what the last detection
// counted.

#include "bbox.h"
#include "yolo_wrappers.h"

#include <QMutex>
#include <QMutexLocker>
#include <QString>

#include <opencv2/core.hpp>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

class QWidget;
class DialogListConfigs;

namespace nomu_lib_darknet_widget {

// The one exception DetConfig::infer throws: the detection could not run (no
// detector, an unusable image, an OpenCV failure). Its text says why.
class DetectionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace nomu_lib_darknet_widget

class DetConfig {
public:
    // A new configuration: no wrappers, an empty path, backend "CPU", not
    // loaded, no names, counts or text, `owner` its creator. The parameters
    // start at the settings dialog's defaults.
    explicit DetConfig(QWidget* owner = nullptr);
    // Frees the detectors and the wrappers.
    ~DetConfig();
    DetConfig(const DetConfig&) = delete;
    DetConfig& operator=(const DetConfig&) = delete;

    // Frees the detector of each wrapper; the wrappers stay. A configuration
    // holds at most one detector, the one of its backend. Call with `mutex`
    // held.
    void free_detectors();

    darknet::NomuYolo* yolo = nullptr; // used when backend_name is "CUDA"
    NomuYoloCPU* yolo_cpu = nullptr;   // any other backend
    QString config_path;
    QString backend_name = QStringLiteral("CPU");
    bool loaded = false;
    QMutex mutex; // non-recursive; held by infer, reset_track_id and the library's own loads and removals

    double thresh = 0.5; // a fraction: a box is kept when its score exceeds it
    double nms = 0.4;    // overlap above which the weaker of two boxes of one class is dropped
    // Region of interest in pixels of the image given to infer; boxes whose
    // centre lies outside it are dropped. A width or height of 0 (or less)
    // means the whole image. The part outside the image is ignored.
    int roi_x = 0;
    int roi_y = 0;
    int roi_w = 5000;
    int roi_h = 5000;
    bool enable_tracking = false;
    int frame_buffer = 5; // frames a track can be missing and still be continued
    int max_dist = 150;   // largest centre shift, in pixels, from one sighting of a track to the next
    bool result_drawing = true;
    bool draw_roi = true;
    bool text_drawing = true;
    bool show_confidence = true;
    int rect_thickness = 2;
    int font_thickness = 1;
    int txt_offset = 5;
    double font_scale = 0.8;
    std::vector<std::string> class_names; // by class id, UTF-8
    // Boxes per class id in the last detected image (one entry per class name).
    std::vector<int> obj_counts;
    // The counts of the last detected image as text: "name: count" for every
    // class with at least one box, in class order, joined by ", "; "" when
    // nothing was found. Example: "cat: 2, dog: 1".
    std::string count_text;
    QWidget* owner = nullptr;
    // Next track id per class; points at the record's own counters and is
    // never null. One entry per class name once a model is loaded.
    std::vector<unsigned>* track_counters = nullptr;

    // Detects on `image` (8-bit BGR) with the parameters above, under the
    // record's mutex: boxes in pixels of `image`, obj_id below the number of
    // class names, ordered by descending score, then class, y, x. With
    // tracking, every box gets the id of the nearest box of its class seen
    // within the last frame_buffer frames and within max_dist pixels, or the
    // next id of its class (the first after a reset is 1); without tracking
    // track_id is 0. Boxes, labels (name, confidence, track id) and the ROI
    // are drawn on `image` as the drawing parameters ask; its size does not
    // change. Throws nomu_lib_darknet_widget::DetectionError when the
    // detection cannot run; obj_counts and count_text are empty then.
    std::vector<bbox_t> infer(cv::Mat& image);

    // Restarts tracking: clears ids and history and gives ids one entry 1 per
    // class name; the record's own counters and history restart the same way.
    // Takes the record's mutex; keeps no reference to ids or history.
    inline void reset_track_id(std::vector<unsigned>* ids, std::deque<std::vector<bbox_t>>* history);

private:
    friend class DialogListConfigs;

    std::vector<unsigned> own_track_ids;
    std::deque<std::vector<bbox_t>> own_history; // newest frame first
};

inline void DetConfig::reset_track_id(std::vector<unsigned>* ids, std::deque<std::vector<bbox_t>>* history)
{
    QMutexLocker lock(&mutex);
    if (ids) {
        ids->clear();
        ids->assign(class_names.size(), 1u);
    }
    if (history)
        history->clear();
    own_track_ids.assign(class_names.size(), 1u);
    own_history.clear();
}
