#include "mat_qimage.h"

#include <QDebug>

QImage cv_mat_to_qimage(const cv::Mat& mat)
{
    const int stride = int(mat.step);
    switch (mat.type()) {
    case CV_8UC3:
        return QImage(mat.data, mat.cols, mat.rows, stride, QImage::Format_RGB888).rgbSwapped();
    case CV_8UC4:
        return QImage(mat.data, mat.cols, mat.rows, stride, QImage::Format_ARGB32).copy();
    case CV_8UC1:
        return QImage(mat.data, mat.cols, mat.rows, stride, QImage::Format_Grayscale8).copy();
    default:
        qWarning() << "ASM::cvMatToQImage() - cv::Mat image type not handled in switch:" << mat.type();
        return QImage();
    }
}
