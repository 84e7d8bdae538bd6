#pragma once
// Image files that a reader or a later step relies on (the training folder's
// JPEGs, crops, the server's result image), written through the checked
// writer: OpenCV encodes the image in memory, so a full disk can no longer
// leave a short file that cv::imwrite reported as written.

#include "atomic_file.h"

#include <QString>

#include <opencv2/core.hpp>

// Encodes `image` in the format that the extension of `path` names, with
// OpenCV's default parameters (the bytes cv::imwrite would write), and
// replaces `path` with them. False, with the reason in *error when given, when
// the image cannot be encoded (an OpenCV exception included) or written.
bool write_image_file(const QString& path, const cv::Mat& image, const FileWriteOptions& options,
                      QString* error = nullptr);
