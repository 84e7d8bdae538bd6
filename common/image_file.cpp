#include "image_file.h"

#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

#include <exception>
#include <limits>
#include <vector>

bool write_image_file(const QString& path, const cv::Mat& image, const FileWriteOptions& options, QString* error)
{
    auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    std::vector<uchar> encoded;
    try {
        if (!cv::imencode(("." + QFileInfo(path).suffix()).toStdString(), image, encoded))
            return refuse(QStringLiteral("the image cannot be encoded"));
    } catch (const std::exception& e) {
        return refuse(QString::fromLocal8Bit(e.what()));
    }
    if (encoded.size() > size_t(std::numeric_limits<int>::max()))
        return refuse(QStringLiteral("the encoded image is larger than 2 GB"));
    return write_file_atomically(
        path, QByteArray::fromRawData(reinterpret_cast<const char*>(encoded.data()), int(encoded.size())), options,
        error);
}
