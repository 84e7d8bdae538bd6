#pragma once
// The size an image file declares in its header, read from its bytes without
// decoding anything, so that an image too large to decode safely is refused
// before a decoder allocates its pixels. The format is told by the content,
// as the decoders tell it, never by the file name.
//
// Formats read: PNG, JPEG (the first frame header, as libjpeg takes it), BMP,
// TIFF and BigTIFF (the first image), WebP (lossy, lossless and extended),
// and the PNM family (PBM, PGM, PPM, text or binary, and PFM).

#include <QByteArray>
#include <QtGlobal>

// True with the declared width and height when `bytes` start as one of the
// formats above and hold its size; false for any other content and for a
// header that is cut short or malformed.
bool image_header_size(const QByteArray& bytes, qint64* width, qint64* height);
