#include "image_header.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Bounds-checked reads of unsigned integers at a byte offset.
class Bytes {
public:
    explicit Bytes(const QByteArray& b) : data_(reinterpret_cast<const unsigned char*>(b.constData())), size_(b.size())
    {
    }

    qint64 size() const { return size_; }
    bool has(qint64 at, qint64 n) const { return at >= 0 && n >= 0 && at <= size_ - n; }
    bool starts_with(qint64 at, const char* text) const
    {
        const qint64 n = static_cast<qint64>(std::strlen(text));
        return has(at, n) && std::memcmp(data_ + at, text, static_cast<size_t>(n)) == 0;
    }
    unsigned char at(qint64 i) const { return data_[i]; }

    // Big-endian (or, with little = true, little-endian) unsigned integer of
    // n bytes; false when it lies beyond the end.
    bool uint(qint64 at, int n, bool little, quint64* out) const
    {
        if (!has(at, n))
            return false;
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v |= quint64(data_[at + i]) << (8 * (little ? i : n - 1 - i));
        *out = v;
        return true;
    }

private:
    const unsigned char* data_;
    qint64 size_;
};

bool set(quint64 w, quint64 h, qint64* width, qint64* height)
{
    *width = static_cast<qint64>(w);
    *height = static_cast<qint64>(h);
    return true;
}

bool png_size(const Bytes& b, qint64* width, qint64* height)
{
    quint64 w = 0, h = 0;
    if (!b.starts_with(12, "IHDR") || !b.uint(16, 4, false, &w) || !b.uint(20, 4, false, &h))
        return false;
    return set(w, h, width, height);
}

// The first start-of-frame header, found as libjpeg finds it: segments are
// skipped by their length, stray bytes and fill bytes before a marker are
// skipped, and the scan data may not come first.
bool jpeg_size(const Bytes& b, qint64* width, qint64* height)
{
    qint64 pos = 2;
    while (pos < b.size()) {
        while (pos < b.size() && b.at(pos) != 0xFF)
            ++pos;
        while (pos < b.size() && b.at(pos) == 0xFF)
            ++pos;
        if (pos >= b.size())
            return false;
        const unsigned char marker = b.at(pos++);
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // markers without a segment
        if (marker == 0xD9 || marker == 0xDA)
            return false; // end of image or scan data before any frame header
        quint64 length = 0;
        if (!b.uint(pos, 2, false, &length) || length < 2)
            return false;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            quint64 h = 0, w = 0;
            if (!b.uint(pos + 3, 2, false, &h) || !b.uint(pos + 5, 2, false, &w) || h == 0)
                return false; // a height of 0 (set later by a DNL marker) is not decoded either
            return set(w, h, width, height);
        }
        pos += static_cast<qint64>(length);
    }
    return false;
}

bool bmp_size(const Bytes& b, qint64* width, qint64* height)
{
    quint64 header = 0;
    if (!b.uint(14, 4, true, &header))
        return false;
    quint64 w = 0, h = 0;
    if (header == 12) {
        if (!b.uint(18, 2, true, &w) || !b.uint(20, 2, true, &h))
            return false;
        return set(w, h, width, height);
    }
    if (header < 40 || !b.uint(18, 4, true, &w) || !b.uint(22, 4, true, &h))
        return false;
    // Signed fields; a negative height stands for a top-down image.
    return set(std::llabs(static_cast<qint32>(w)), std::llabs(static_cast<qint32>(h)), width, height);
}

// The first image's ImageWidth (256) and ImageLength (257) tags.
bool tiff_size(const Bytes& b, bool little, bool big, qint64* width, qint64* height)
{
    const int offset_bytes = big ? 8 : 4;
    const int count_bytes = big ? 8 : 2;
    const int entry_bytes = big ? 20 : 12;
    quint64 ifd = 0, entries = 0;
    if (!b.uint(big ? 8 : 4, offset_bytes, little, &ifd) || ifd > quint64(b.size()) ||
        !b.uint(static_cast<qint64>(ifd), count_bytes, little, &entries))
        return false;
    qint64 w = -1, h = -1;
    for (quint64 i = 0; i < entries; ++i) {
        const qint64 entry = static_cast<qint64>(ifd) + count_bytes + static_cast<qint64>(i) * entry_bytes;
        quint64 tag = 0, type = 0, value = 0;
        if (!b.uint(entry, 2, little, &tag) || !b.uint(entry + 2, 2, little, &type))
            return false;
        if (tag != 256 && tag != 257)
            continue;
        const qint64 field = entry + 4 + (big ? 8 : 4);
        // SHORT, LONG and (BigTIFF) LONG8 values stand at the start of the field.
        const int n = type == 3 ? 2 : type == 4 ? 4 : type == 16 && big ? 8 : 0;
        if (n == 0 || !b.uint(field, n, little, &value) || value > quint64(INT64_MAX))
            return false;
        (tag == 256 ? w : h) = static_cast<qint64>(value);
        if (w >= 0 && h >= 0)
            return set(quint64(w), quint64(h), width, height);
    }
    return false;
}

bool webp_size(const Bytes& b, qint64* width, qint64* height)
{
    quint64 w = 0, h = 0;
    if (b.starts_with(12, "VP8 ")) {
        if (!b.has(23, 3) || b.at(23) != 0x9D || b.at(24) != 0x01 || b.at(25) != 0x2A ||
            !b.uint(26, 2, true, &w) || !b.uint(28, 2, true, &h))
            return false;
        return set(w & 0x3FFF, h & 0x3FFF, width, height);
    }
    if (b.starts_with(12, "VP8L")) {
        quint64 bits = 0;
        if (!b.has(20, 1) || b.at(20) != 0x2F || !b.uint(21, 4, true, &bits))
            return false;
        return set((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1, width, height);
    }
    if (b.starts_with(12, "VP8X")) {
        if (!b.uint(24, 3, true, &w) || !b.uint(27, 3, true, &h))
            return false;
        return set(w + 1, h + 1, width, height);
    }
    return false;
}

// "P1" to "P6", "PF" and "Pf": blanks and "#" comments, then width and height
// in decimal.
bool pnm_size(const Bytes& b, qint64* width, qint64* height)
{
    qint64 pos = 2;
    qint64 values[2] = {0, 0};
    for (qint64& value : values) {
        for (;;) {
            if (pos >= b.size())
                return false;
            const unsigned char c = b.at(pos);
            if (c == '#') {
                while (pos < b.size() && b.at(pos) != '\n' && b.at(pos) != '\r')
                    ++pos;
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++pos;
            } else {
                break;
            }
        }
        int digits = 0;
        while (pos < b.size() && b.at(pos) >= '0' && b.at(pos) <= '9') {
            if (++digits > 12)
                return false; // far beyond any size a decoder takes
            value = value * 10 + (b.at(pos++) - '0');
        }
        if (digits == 0)
            return false;
    }
    *width = values[0];
    *height = values[1];
    return true;
}

} // namespace

bool image_header_size(const QByteArray& bytes, qint64* width, qint64* height)
{
    const Bytes b(bytes);
    if (b.starts_with(0, "\x89PNG\r\n\x1a\n"))
        return png_size(b, width, height);
    if (b.has(0, 2) && b.at(0) == 0xFF && b.at(1) == 0xD8)
        return jpeg_size(b, width, height);
    if (b.starts_with(0, "BM"))
        return bmp_size(b, width, height);
    if (b.has(0, 4) && (std::memcmp(bytes.constData(), "II*\0", 4) == 0 || std::memcmp(bytes.constData(), "II+\0", 4) == 0))
        return tiff_size(b, true, b.at(2) == '+', width, height);
    if (b.has(0, 4) && (std::memcmp(bytes.constData(), "MM\0*", 4) == 0 || std::memcmp(bytes.constData(), "MM\0+", 4) == 0))
        return tiff_size(b, false, b.at(3) == '+', width, height);
    if (b.starts_with(0, "RIFF") && b.starts_with(8, "WEBP"))
        return webp_size(b, width, height);
    if (b.has(0, 2) && b.at(0) == 'P' && ((b.at(1) >= '1' && b.at(1) <= '6') || b.at(1) == 'F' || b.at(1) == 'f'))
        return pnm_size(b, width, height);
    return false;
}
