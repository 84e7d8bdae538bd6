#pragma once
// OpenCV images shown in Qt widgets.

#include <QImage>
#include <QPixmap>
#include <QSize>

#include <opencv2/core.hpp>

namespace cv_qimage {

// A QImage holding its own copy of `image`: 8-bit BGR becomes RGB888,
// 8-bit BGRA ARGB32 and 8-bit grey Grayscale8. Any other type logs a warning
// naming the type and gives a null image.
QImage to_qimage(const cv::Mat& image);

// `image` scaled into `box` with its aspect ratio kept, by nearest-neighbour
// sampling, as a pixmap. The image is reduced before it is converted, so a
// large image costs little more than a small one. A null pixmap for an empty
// box or an unsupported type.
QPixmap scaled_pixmap(const cv::Mat& image, const QSize& box);

} // namespace cv_qimage
