#include "cv_qimage.h"

#include "mat_qimage.h"

#include <QtDebug>

#include <opencv2/imgproc.hpp>

namespace cv_qimage {

namespace {

bool supported(int type)
{
    return type == CV_8UC3 || type == CV_8UC4 || type == CV_8UC1;
}

void warn_type(int type)
{
    qWarning() << "ASM::cvMatToQImage() - cv::Mat image type not handled in switch:" << type;
}

} // namespace

QImage to_qimage(const cv::Mat& image)
{
    return cv_mat_to_qimage(image);
}

QPixmap scaled_pixmap(const cv::Mat& image, const QSize& box)
{
    if (image.empty())
        return QPixmap();
    if (!supported(image.type())) {
        warn_type(image.type());
        return QPixmap();
    }
    const QSize size = QSize(image.cols, image.rows).scaled(box, Qt::KeepAspectRatio);
    if (size.isEmpty())
        return QPixmap();
    cv::Mat small;
    if (size.width() == image.cols && size.height() == image.rows)
        small = image;
    else
        cv::resize(image, small, cv::Size(size.width(), size.height()), 0, 0, cv::INTER_NEAREST);
    if (small.type() == CV_8UC3) {
        // Straight into the pixmap's own format (0xffRRGGBB words, which are
        // B, G, R, 255 bytes here), so no further conversion follows.
        QImage q(small.cols, small.rows, QImage::Format_RGB32);
        cv::Mat view(small.rows, small.cols, CV_8UC4, q.bits(), static_cast<size_t>(q.bytesPerLine()));
        cv::cvtColor(small, view, cv::COLOR_BGR2BGRA);
        return QPixmap::fromImage(std::move(q));
    }
    return QPixmap::fromImage(to_qimage(small));
}

} // namespace cv_qimage
