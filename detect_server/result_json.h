#pragma once
// The result object of a test detection, as the log line carries it.

#include "bbox.h"

#include <QJsonObject>

#include <string>
#include <vector>

struct DetectionReport {
    int im_w = 0;
    int im_h = 0;
    std::vector<bbox_t> boxes;             // in the order detection returned them
    std::vector<std::string> class_names;  // by class id
    std::vector<int> obj_counts;           // boxes per class in this image
    const std::vector<unsigned>* track_counters = nullptr; // next track id per class
    bool tracking = false;
    std::string count_text;
};

// {"count", "im_h", "im_w", "obj_count", "obj_count_str", "objects"}.
// Each object: "confidence" (the score widened to double), "h", "id", "name",
// "track_id" (only with tracking), "w", and "x", "y", the box centre (x + w
// halved, rounded down, in unsigned 32-bit arithmetic). "obj_count": with
// tracking one {"count", "name"} per class name, the count being the class's
// next track id minus 1 (a missing counter reads as 1, so 0); without, one per
// class whose count in this image is above 0. A class id without a name gets
// the name "".
QJsonObject build_result(const DetectionReport& report);
