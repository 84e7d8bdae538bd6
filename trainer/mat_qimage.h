#pragma once
// Turns an OpenCV image into a QImage for display.

#include <QImage>

#include <opencv2/core.hpp>

// 8-bit three channels (blue, green, red) become Format_RGB888 with red and
// blue swapped, 8-bit four channels Format_ARGB32, 8-bit one channel
// Format_Grayscale8. Rows are read with the matrix's own row step, so odd
// widths (whose rows are not 4-byte aligned) come out straight. The QImage
// owns a copy of the pixels. Any other type logs a warning and gives a null
// image.
QImage cv_mat_to_qimage(const cv::Mat& mat);
