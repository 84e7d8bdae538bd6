#include "box_geometry.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// The bound of limit_coordinate: beyond any image, half the int range.
const long long kFar = 1LL << 30;

// How far outside the image a polygon point may lie before the polygon is
// clipped. OpenCV fills in 16-bit fixed point and multiplies a row span by a
// slope; with points within this margin of an image that fits memory those
// products stay well within 64 bits.
const long long kPolygonMargin = 1LL << 20;

long long clamp(long long value, long long lo, long long hi)
{
    return std::min(std::max(value, lo), hi);
}

// One pass of polygon clipping: keeps the part of `in` on the side of an
// axis-parallel line where inside(p) holds; cut(p, q) is the point where the
// edge p -> q crosses the line.
template <typename Inside, typename Cut>
std::vector<cv::Point2d> clip_pass(const std::vector<cv::Point2d>& in, Inside inside, Cut cut)
{
    std::vector<cv::Point2d> out;
    for (size_t i = 0; i < in.size(); ++i) {
        const cv::Point2d& p = in[(i + in.size() - 1) % in.size()];
        const cv::Point2d& q = in[i];
        if (inside(q)) {
            if (!inside(p))
                out.push_back(cut(p, q));
            out.push_back(q);
        } else if (inside(p)) {
            out.push_back(cut(p, q));
        }
    }
    return out;
}

cv::Point2d cut_at_x(const cv::Point2d& p, const cv::Point2d& q, double x)
{
    return cv::Point2d(x, p.y + (x - p.x) / (q.x - p.x) * (q.y - p.y));
}

cv::Point2d cut_at_y(const cv::Point2d& p, const cv::Point2d& q, double y)
{
    return cv::Point2d(p.x + (y - p.y) / (q.y - p.y) * (q.x - p.x), y);
}

} // namespace

int clamp_to_int(long long value)
{
    return static_cast<int>(clamp(value, INT_MIN, INT_MAX));
}

int round_to_int(double value)
{
    if (std::isnan(value))
        return 0;
    return cvRound(std::min(std::max(value, static_cast<double>(INT_MIN)), static_cast<double>(INT_MAX)));
}

int limit_coordinate(long long value)
{
    return static_cast<int>(clamp(value, -kFar, kFar - 1));
}

int clamp_near(long long value, int size, long long margin)
{
    return static_cast<int>(clamp(value, -margin, size - 1 + margin));
}

Box64 Box64::operator&(const Box64& other) const
{
    if (empty() || other.empty())
        return Box64();
    const long long x0 = std::max(x, other.x);
    const long long y0 = std::max(y, other.y);
    const long long x1 = std::min(right(), other.right());
    const long long y1 = std::min(bottom(), other.bottom());
    if (x1 <= x0 || y1 <= y0)
        return Box64();
    return Box64(x0, y0, x1 - x0, y1 - y0);
}

cv::Rect Box64::to_rect() const
{
    const int x0 = limit_coordinate(x);
    const int y0 = limit_coordinate(y);
    return cv::Rect(x0, y0, limit_coordinate(right()) - x0, limit_coordinate(bottom()) - y0);
}

cv::Point2l Box64::centre() const
{
    // 2 x + width is exact in a double for any box built from ints.
    return cv::Point2l(std::llrint(static_cast<double>(2 * x + width) * 0.5),
                       std::llrint(static_cast<double>(2 * y + height) * 0.5));
}

cv::Point box_centre(const cv::Rect& box)
{
    const cv::Point2l c = Box64(box).centre();
    return cv::Point(clamp_to_int(c.x), clamp_to_int(c.y));
}

Box64 bounding_box(const std::vector<cv::Point2d>& points)
{
    if (points.empty())
        return Box64();
    // Far beyond any int, yet safe to convert and to subtract.
    const double far = 4611686018427387904.0; // 2^62
    auto whole = [far](double v) {
        return static_cast<long long>(std::nearbyint(std::min(std::max(v, -far), far)));
    };
    long long x0 = whole(points[0].x), x1 = x0, y0 = whole(points[0].y), y1 = y0;
    for (const cv::Point2d& p : points) {
        const long long px = whole(p.x);
        const long long py = whole(p.y);
        x0 = std::min(x0, px);
        x1 = std::max(x1, px);
        y0 = std::min(y0, py);
        y1 = std::max(y1, py);
    }
    return Box64(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
}

void draw_rectangle(cv::Mat& image, long long x0, long long y0, long long x1, long long y1,
                    const cv::Scalar& color, int thickness, int line_type)
{
    // A thick edge reaches about half its thickness past its line, its round
    // ends as far past its corners.
    const long long margin = std::max(thickness, 1) + 2LL;
    cv::rectangle(image, cv::Point(clamp_near(x0, image.cols, margin), clamp_near(y0, image.rows, margin)),
                  cv::Point(clamp_near(x1, image.cols, margin), clamp_near(y1, image.rows, margin)), color,
                  thickness, line_type, 0);
}

void draw_circle(cv::Mat& image, cv::Point centre, int radius, const cv::Scalar& color, int thickness,
                 int line_type)
{
    const long long reach = static_cast<long long>(std::max(radius, 0)) + std::max(thickness, 0) + 2;
    const Box64 square(centre.x - reach, centre.y - reach, 2 * reach + 1, 2 * reach + 1);
    if ((square & image_box(image.size())).empty())
        return;
    cv::circle(image, centre, radius, color, thickness, line_type);
}

std::vector<cv::Point> clip_polygon(const std::vector<cv::Point>& polygon, const cv::Size& size)
{
    const double left = static_cast<double>(-kPolygonMargin);
    const double top = left;
    const double right = static_cast<double>(size.width - 1 + kPolygonMargin);
    const double bottom = static_cast<double>(size.height - 1 + kPolygonMargin);
    const bool near = std::all_of(polygon.begin(), polygon.end(), [&](const cv::Point& p) {
        return p.x >= left && p.x <= right && p.y >= top && p.y <= bottom;
    });
    if (near)
        return polygon;

    std::vector<cv::Point2d> ring(polygon.begin(), polygon.end());
    ring = clip_pass(ring, [&](const cv::Point2d& p) { return p.x >= left; },
                     [&](const cv::Point2d& p, const cv::Point2d& q) { return cut_at_x(p, q, left); });
    ring = clip_pass(ring, [&](const cv::Point2d& p) { return p.x <= right; },
                     [&](const cv::Point2d& p, const cv::Point2d& q) { return cut_at_x(p, q, right); });
    ring = clip_pass(ring, [&](const cv::Point2d& p) { return p.y >= top; },
                     [&](const cv::Point2d& p, const cv::Point2d& q) { return cut_at_y(p, q, top); });
    ring = clip_pass(ring, [&](const cv::Point2d& p) { return p.y <= bottom; },
                     [&](const cv::Point2d& p, const cv::Point2d& q) { return cut_at_y(p, q, bottom); });

    std::vector<cv::Point> clipped;
    clipped.reserve(ring.size());
    for (const cv::Point2d& p : ring)
        clipped.emplace_back(clamp_near(std::llround(p.x), size.width, kPolygonMargin),
                             clamp_near(std::llround(p.y), size.height, kPolygonMargin));
    return clipped;
}
