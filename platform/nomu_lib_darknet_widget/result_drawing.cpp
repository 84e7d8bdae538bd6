#include "result_drawing.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

cv::Scalar class_color(unsigned i)
{
    // Stops in BGR, 0..1: magenta, red, yellow, green, cyan, blue.
    static const float palette[6][3] = {{1, 0, 1}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
    const float t = static_cast<float>((static_cast<unsigned long long>(i) * 123457ULL) % 999ULL) / 999.0f * 5.0f;
    const int lo = static_cast<int>(std::floor(t));
    const int hi = static_cast<int>(std::ceil(t));
    const float f = t - static_cast<float>(lo);
    double bgr[3];
    for (int c = 0; c < 3; ++c)
        bgr[c] = (palette[lo][c] * (1 - f) + palette[hi][c] * f) * 255.0f;
    return cv::Scalar(bgr[0], bgr[1], bgr[2]);
}

std::string box_label(const bbox_t& box, const std::vector<std::string>& names, const DrawOptions& options)
{
    std::string label = box.obj_id < names.size() ? names[box.obj_id] : std::to_string(box.obj_id);
    if (options.show_confidence)
        label += " " + std::to_string(std::lround(static_cast<double>(box.prob) * 100.0)) + "%";
    if (options.show_track_id)
        label += " #" + std::to_string(box.track_id);
    return label;
}

void draw_result(cv::Mat& image, const std::vector<bbox_t>& boxes, const std::vector<std::string>& names,
                 const cv::Rect& roi, const DrawOptions& options)
{
    const int thickness = std::clamp(options.rect_thickness, 1, 1000);
    if (options.draw_roi && roi.area() > 0)
        cv::rectangle(image, roi, cv::Scalar(255, 255, 255), thickness);
    if (!options.result_drawing)
        return;
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    const double scale = std::clamp(options.font_scale, 0.01, 100.0);
    const int font_thickness = std::clamp(options.font_thickness, 1, 1000);
    for (const bbox_t& b : boxes) {
        const cv::Scalar color = class_color(b.obj_id);
        cv::rectangle(image, cv::Rect(static_cast<int>(b.x), static_cast<int>(b.y), static_cast<int>(b.w),
                                      static_cast<int>(b.h)),
                      color, thickness);
        if (!options.text_drawing)
            continue;
        const std::string label = box_label(b, names, options);
        int baseline = 0;
        const cv::Size text = cv::getTextSize(label, font, scale, font_thickness, &baseline);
        int y = static_cast<int>(b.y) - options.txt_offset;
        y = std::max(y, text.height);
        cv::putText(image, label, cv::Point(static_cast<int>(b.x), y), font, scale, color, font_thickness,
                    cv::LINE_AA);
    }
}
