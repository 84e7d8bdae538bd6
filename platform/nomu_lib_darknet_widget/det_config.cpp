#include "det_config.h"

#include "detection_steps.h"
#include "result_drawing.h"

#include <exception>

using nomu_lib_darknet_widget::DetectionError;

DetConfig::DetConfig(QWidget* owner_widget) : owner(owner_widget), track_counters(&own_track_ids) {}

DetConfig::~DetConfig()
{
    free_detectors();
    delete yolo;
    delete yolo_cpu;
}

void DetConfig::free_detectors()
{
    if (yolo)
        yolo->delete_detector(&yolo->detector);
    if (yolo_cpu)
        yolo_cpu->delete_detector(&yolo_cpu->detector);
}

std::vector<bbox_t> DetConfig::infer(cv::Mat& image)
{
    QMutexLocker lock(&mutex);
    obj_counts.clear();
    count_text.clear();
    track_counters = &own_track_ids;
    try {
        if (!loaded)
            throw DetectionError("the configuration is not loaded");
        std::vector<bbox_t> boxes;
        const float t = static_cast<float>(thresh);
        const float n = static_cast<float>(nms);
        if (backend_name == QLatin1String("CUDA")) {
            if (!yolo || !yolo->detector)
                throw DetectionError("the configuration holds no GPU detector");
            boxes = yolo->detector->detect(image, t, n);
        } else {
            if (!yolo_cpu || !yolo_cpu->detector)
                throw DetectionError("the configuration holds no CPU detector");
            boxes = yolo_cpu->detector->detect(image, t, n);
        }
        for (const bbox_t& b : boxes)
            if (b.obj_id >= class_names.size())
                throw DetectionError("the network gave a class id beyond the class names");

        const cv::Rect roi = detection_steps::effective_roi(roi_x, roi_y, roi_w, roi_h, image.size());
        detection_steps::keep_inside(boxes, roi);

        own_track_ids.resize(class_names.size(), 1u);
        if (enable_tracking) {
            detection_steps::track(boxes, own_track_ids, own_history, max_dist, frame_buffer);
        } else {
            // Untracked frames break every track: a later tracked frame starts afresh.
            own_history.clear();
            for (bbox_t& b : boxes) {
                b.track_id = 0;
                b.frames_counter = 0;
            }
        }

        obj_counts = detection_steps::count_per_class(boxes, class_names.size());
        count_text = detection_steps::count_text(obj_counts, class_names);

        DrawOptions options;
        options.result_drawing = result_drawing;
        options.text_drawing = text_drawing;
        options.show_confidence = show_confidence;
        options.show_track_id = enable_tracking;
        options.draw_roi = draw_roi;
        options.rect_thickness = rect_thickness;
        options.font_thickness = font_thickness;
        options.txt_offset = txt_offset;
        options.font_scale = font_scale;
        draw_result(image, boxes, class_names, roi, options);
        return boxes;
    } catch (const DetectionError&) {
        obj_counts.clear();
        count_text.clear();
        throw;
    } catch (const std::exception& e) {
        obj_counts.clear();
        count_text.clear();
        throw DetectionError(std::string("detection failed: ") + e.what());
    } catch (...) {
        obj_counts.clear();
        count_text.clear();
        throw DetectionError("detection failed");
    }
}
