#pragma once
// Reading an image file within limits. cv::imread takes a name, so it would
// block on a FIFO, and it decodes whatever size the header claims: a PNG of a
// few hundred KB can declare 30000 x 30000 pixels and take gigabytes. Here
// the bytes come through the bounded reader and the header's pixel count is
// checked before anything is decoded.

#include <QString>
#include <QtGlobal>

#include <opencv2/core.hpp>

namespace bounded_image {

// The image of `path` exactly as cv::imread(path, cv::IMREAD_COLOR) gives it
// (8-bit, three channels, EXIF orientation applied), when `path` is a regular
// file of at most input_limits::kImageFileBytes whose header (image_header.h)
// declares at most input_limits::kImagePixels. Otherwise, and when the bytes do not decode, an empty
// image and the reason in *error. Never throws.
cv::Mat read_color_image(const QString& path, QString* error);

} // namespace bounded_image
