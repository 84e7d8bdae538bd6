#pragma once
// Box arithmetic that cannot overflow, and drawing that stays near the image.
//
// Boxes, centres and polygon points stay as they were read from a ".gt" file,
// so any int value reaches the code that draws, crops, exports or writes
// them. Sums such as x + width are taken here in 64 bits. What goes to OpenCV
// is first brought within a bounded distance of the image: OpenCV's own
// fixed-point and thickness arithmetic overflows for coordinates near the int
// limits (a thick rectangle there ends the program with SIGFPE), and its fill
// walks every row between a shape's extremes. Shapes that OpenCV drew
// correctly before are drawn with the same pixels.

#include <opencv2/core.hpp>

#include <vector>

// `value` converted to int, saturated at the int limits.
int clamp_to_int(long long value);

// `value` to the nearest integer, halves to even as cvRound rounds, but
// saturated at the int limits (cvRound gives INT_MIN beyond them); NaN
// gives 0.
int round_to_int(double value);

// `value` held within -2^30 .. 2^30 - 1: far beyond any image, yet the
// difference of two such values still fits an int.
int limit_coordinate(long long value);

// `value` held within `margin` pixels outside 0 .. size - 1.
int clamp_near(long long value, int size, long long margin);

// A box in 64 bits, with the fields of cv::Rect: top-left corner and size.
struct Box64 {
    long long x = 0;
    long long y = 0;
    long long width = 0;
    long long height = 0;

    Box64() = default;
    Box64(long long x, long long y, long long width, long long height) : x(x), y(y), width(width), height(height) {}
    explicit Box64(const cv::Rect& r) : x(r.x), y(r.y), width(r.width), height(r.height) {}

    long long right() const { return x + width; }   // one beyond the last column
    long long bottom() const { return y + height; } // one beyond the last row
    // No pixels: a width or height of 0 or less.
    bool empty() const { return width <= 0 || height <= 0; }
    // The pixels both boxes hold; an all-zero box when they share none (a box
    // with a negative size holds no pixels).
    Box64 operator&(const Box64& other) const;
    // Half of (2 x + width), half of (2 y + height), each to the nearest
    // integer with halves going to the even neighbour (a 7-wide box at x 0
    // has centre 4).
    cv::Point2l centre() const;
    // The box as a cv::Rect, its corners held by limit_coordinate so that
    // its size fits an int; every pixel of an image that it covers stays
    // covered.
    cv::Rect to_rect() const;
};

// The pixels of an image of this size.
inline Box64 image_box(const cv::Size& size)
{
    return Box64(0, 0, size.width, size.height);
}

// The centre of a box (Box64::centre), saturated to int.
cv::Point box_centre(const cv::Rect& box);

// The bounding rectangle of the points, each rounded to the nearest integer
// (halves to even), as cv::boundingRect gives it for integer points: both end
// pixels counted (width = max x - min x + 1). All zero for no points.
Box64 bounding_box(const std::vector<cv::Point2d>& points);

// cv::rectangle between the corners (x0, y0) and (x1, y1), in any order, with
// `thickness` (-1 fills). Every corner coordinate is first clamped into the
// image widened by more than the thickness: the edges are axis-aligned, so
// the pixels inside the image are those of the unclamped rectangle.
void draw_rectangle(cv::Mat& image, long long x0, long long y0, long long x1, long long y1,
                    const cv::Scalar& color, int thickness, int line_type);

// cv::circle, left out when no part of it can reach the image.
void draw_circle(cv::Mat& image, cv::Point centre, int radius, const cv::Scalar& color, int thickness,
                 int line_type);

// A polygon for filling into an image of `size`: unchanged when every point
// lies within a wide margin around the image (so such polygons fill exactly
// as before); otherwise clipped against the image widened by that margin, so
// that its part near the image is kept and its points stay far from the int
// limits.
std::vector<cv::Point> clip_polygon(const std::vector<cv::Point>& polygon, const cv::Size& size);
