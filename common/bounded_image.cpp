#include "bounded_image.h"

#include "bounded_input.h"
#include "image_header.h"
#include "input_limits.h"

#include <opencv2/imgcodecs.hpp>

#include <exception>
#include <new>

namespace bounded_image {

cv::Mat read_color_image(const QString& path, QString* error)
{
    QByteArray bytes;
    if (bounded_input::read_regular_file(path, input_limits::kImageFileBytes, &bytes, error) != bounded_input::ReadStatus::Ok)
        return cv::Mat();
    qint64 width = 0, height = 0;
    if (!image_header_size(bytes, &width, &height)) {
        *error = path + QStringLiteral(" is not an image whose size can be read before decoding "
                                       "(PNG, JPEG, BMP, TIFF, WebP, PNM)");
        return cv::Mat();
    }
    if (width > input_limits::kImagePixels || height > input_limits::kImagePixels || width * height > input_limits::kImagePixels) {
        *error = QStringLiteral("%1 declares %2 x %3 pixels, more than the limit of %4 pixels")
                     .arg(path)
                     .arg(width)
                     .arg(height)
                     .arg(input_limits::kImagePixels);
        return cv::Mat();
    }
    try {
        const cv::Mat buffer(1, bytes.size(), CV_8U, bytes.data());
        cv::Mat image = cv::imdecode(buffer, cv::IMREAD_COLOR);
        if (image.empty())
            *error = path + QStringLiteral(" does not decode as an image");
        return image;
    } catch (const std::bad_alloc&) {
        *error = path + QStringLiteral(": out of memory while decoding");
    } catch (const std::exception& e) { // cv::Exception among them
        *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(e.what());
    } catch (...) {
        *error = path + QStringLiteral(": unknown failure while decoding");
    }
    return cv::Mat();
}

} // namespace bounded_image
