#pragma once
// OpenCV images shown in Qt widgets.

#include <QImage>
#include <QPixmap>
#include <QSize>

#include <opencv2/core.hpp>

namespace cv_qimage {

// The whole image as a QImage: cv_mat_to_qimage (mat_qimage.h).
QImage to_qimage(const cv::Mat& image);

// `image` scaled into `box` with its aspect ratio kept, by nearest-neighbour
// sampling, as a pixmap. The image is reduced before it is converted, so a
// large image costs little more than a small one. A null pixmap for an empty
// box or an unsupported type.
QPixmap scaled_pixmap(const cv::Mat& image, const QSize& box);

} // namespace cv_qimage
