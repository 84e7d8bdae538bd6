#pragma once
// Small fixtures shared by the augmentation tests.

#include "labeling.h"

#include <QtGlobal>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <vector>

namespace fixtures {

inline Object box_object(int x, int y, int w, int h, const QString& label = "car", int label_index = 0)
{
    Object o;
    o.label = label;
    o.label_index = label_index;
    o.color = cv::Scalar(0, 255, 24.7597, 0);
    o.bbox = cv::Rect(x, y, w, h);
    o.center = cv::Point(x + w / 2, y + h / 2);
    return o;
}

inline Object polygon_object(const std::vector<cv::Point>& points, const QString& label = "person")
{
    Object o;
    o.label = label;
    o.label_index = 1;
    o.color = cv::Scalar(255, 0, 255, 0);
    o.landmark = points;
    o.bbox = cv::boundingRect(points);
    o.center = cv::Point(o.bbox.x + o.bbox.width / 2, o.bbox.y + o.bbox.height / 2);
    return o;
}

// Qt's per-thread generator, which the rotation draws its border colour from.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
inline void seed_qt(uint seed)
{
    qsrand(seed);
}
inline int next_qt()
{
    return qrand();
}
QT_WARNING_POP

// The border colour the next rotation draws, by the contract of the
// generator: reseed from the sequence, then red, green, blue, each % 255.
// Leaves Qt's generator where the rotation leaves it.
inline cv::Vec3b expected_border_after_seed(uint seed)
{
    seed_qt(seed);
    seed_qt(uint(next_qt()));
    const int r = next_qt() % 255;
    const int g = next_qt() % 255;
    const int b = next_qt() % 255;
    return cv::Vec3b(uchar(b), uchar(g), uchar(r));
}

inline bool same_pixels(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return false;
    return a.empty() || cv::countNonZero(a.reshape(1) != b.reshape(1)) == 0;
}

inline bool same_objects(const Frame& a, const Frame& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].label != b[i].label || a[i].label_index != b[i].label_index || a[i].color != b[i].color ||
            a[i].center != b[i].center || a[i].bbox != b[i].bbox || a[i].landmark != b[i].landmark)
            return false;
    }
    return true;
}

} // namespace fixtures
