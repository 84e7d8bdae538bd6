#include "label_decoding.h"

#include "text_util.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace nomu_ros {

namespace {

// The trainer writes six significant digits of value / divisor; multiplied back
// by the divisor (at most 2.3) a full-size value of 1 can read up to about
// 1 + 1.2e-6.
constexpr double kRoundingSlack = 1e-5;

// A part inside the image narrower than this would reach darknet as a size
// (or centre) of 0.000000 in its six decimals.
constexpr double kMinPart = 2e-6;

// The part of [centre - size / 2, centre + size / 2] within [0, 1], as its
// centre and size; false when it is narrower than kMinPart.
bool partInside(double& centre, double& size)
{
    const double lo = std::max(0.0, centre - size / 2);
    const double hi = std::min(1.0, centre + size / 2);
    if (!(hi - lo >= kMinPart))
        return false;
    centre = (lo + hi) / 2;
    size = hi - lo;
    return true;
}

bool parseLong(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool parseDouble(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(value);
}

} // namespace

int classIndexOfLabelId(long id)
{
    if (id == 16)
        return 0;
    if (id < 128 + 323 || (id - 323) % 128 != 0)
        return -1;
    const long k = (id - 323) / 128;
    return k > 1000000 ? -1 : static_cast<int>(k);
}

long labelIdOfClass(int k)
{
    return k == 0 ? 16 : 128L * k + 323;
}

double labelDivisorOfClass(int k)
{
    if (k == 0)
        return 1.5;
    return (k % 2 == 1) ? 1.8 : 2.3;
}

DecodedLabel decodeLabelLine(const std::string& line, int classCount)
{
    DecodedLabel out;
    const std::vector<std::string> fields = splitWhitespace(line);
    if (fields.empty())
        return out;
    out.kind = DecodedLabel::Bad;
    if (fields.size() != 5) {
        out.error = "expected 5 fields (id cy cx h w), found " + std::to_string(fields.size());
        return out;
    }
    long id = 0;
    if (!parseLong(fields[0], id)) {
        out.error = "the id \"" + fields[0] + "\" is not a whole number";
        return out;
    }
    const int k = classIndexOfLabelId(id);
    if (k < 0) {
        out.error = "unknown class id " + fields[0];
        return out;
    }
    if (k >= classCount) {
        out.error = "class id " + fields[0] + " is class " + std::to_string(k) + ", beyond the "
            + std::to_string(classCount) + " classes of the data file";
        return out;
    }
    // Fields in the trainer's order cy, cx, h, w.
    static const char* const names[4] = {"cy", "cx", "h", "w"};
    double v[4];
    const double f = labelDivisorOfClass(k);
    for (int i = 0; i < 4; ++i) {
        double raw = 0;
        if (!parseDouble(fields[i + 1], raw)) {
            out.error = std::string(names[i]) + " \"" + fields[i + 1] + "\" is not a number";
            return out;
        }
        // Multiplied back, a value near the largest double overflows: an
        // infinite centre or size would make the part inside the image below
        // the whole image.
        v[i] = raw * f;
        if (!std::isfinite(v[i])) {
            out.error = std::string(names[i]) + " \"" + fields[i + 1] + "\" is out of range";
            return out;
        }
        if (v[i] > 1.0 && v[i] <= 1.0 + kRoundingSlack)
            v[i] = 1.0;
    }
    double cy = v[0], cx = v[1], h = v[2], w = v[3];
    // Each axis whose centre or size lies outside (0, 1] is cut to the image;
    // an axis within it stays as written (darknet cuts a box that reaches
    // over the edge from inside itself).
    const auto within = [](double x) { return x > 0.0 && x <= 1.0; };
    const bool xWithin = within(cx) && within(w);
    const bool yWithin = within(cy) && within(h);
    if (!xWithin || !yWithin) {
        const bool sized = w > 0.0 && h > 0.0;
        if (!sized || (!xWithin && !partInside(cx, w)) || (!yWithin && !partInside(cy, h))) {
            char buf[160];
            std::snprintf(buf, sizeof buf, "the box (cx %g, cy %g, w %g, h %g) %s", v[1], v[0], v[3], v[2],
                          sized ? "lies outside the image" : "has no size");
            out.kind = DecodedLabel::Outside;
            out.error = buf;
            return out;
        }
    }
    out.kind = DecodedLabel::Ok;
    out.classIndex = k;
    out.cy = cy;
    out.cx = cx;
    out.h = h;
    out.w = w;
    return out;
}

std::string darknetLabelLine(const DecodedLabel& label)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "%d %.6f %.6f %.6f %.6f", label.classIndex, label.cx, label.cy,
                  label.w, label.h);
    return buf;
}

} // namespace nomu_ros
