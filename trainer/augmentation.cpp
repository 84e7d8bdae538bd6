#include "augmentation.h"

#include "box_geometry.h"

#include <QtGlobal>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <new>

namespace {

bool is_colour_image(const cv::Mat& image)
{
    return !image.empty() && image.type() == CV_8UC3;
}

// qrand()/qsrand() are deprecated in Qt 5.15, but they are the generator
// whose per-thread sequence makes the border colours reproducible: the same
// seed gives the same colours on every run.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
cv::Scalar draw_border_colour()
{
    qsrand(qrand());
    const int red = qrand() % 255;
    const int green = qrand() % 255;
    const int blue = qrand() % 255;
    return cv::Scalar(blue, green, red, 0);
}
QT_WARNING_POP

// The objects of `frame` moved by the affine transform R. Boxes and polygons
// may lie anywhere in the int range, so corners, sizes and centres are taken
// in 64 bits and only the results are brought into an int. For points within
// the int range OpenCV's double transform with each result rounded (halves to
// even) gives exactly what it gives for integer points.
Frame refit_objects(const Frame& frame, const cv::Mat& R, bool fixed_size)
{
    Frame objects = frame;
    for (Object& object : objects) {
        std::vector<cv::Point2d> points;
        long long w0 = 0;
        long long h0 = 0;
        if (object.landmark.empty()) {
            const Box64 b(object.bbox);
            points = {cv::Point2d(double(b.x), double(b.y)), cv::Point2d(double(b.right()), double(b.y)),
                      cv::Point2d(double(b.right()), double(b.bottom())), cv::Point2d(double(b.x), double(b.bottom()))};
            w0 = b.width;
            h0 = b.height;
        } else {
            points.assign(object.landmark.begin(), object.landmark.end());
            if (fixed_size) {
                const Box64 own = bounding_box(points);
                w0 = own.width;
                h0 = own.height;
            }
        }

        std::vector<cv::Point2d> moved;
        cv::transform(points, moved, R);
        const Box64 box = bounding_box(moved);
        object.bbox = box.to_rect();
        object.center = box_centre(object.bbox);
        if (fixed_size) {
            // The object's full unrotated width and height on each side of
            // the new centre (both end pixels counted); the polygon stays as
            // it was given.
            const cv::Point2l c = box.centre();
            const long long w = std::llabs(w0);
            const long long h = std::llabs(h0);
            object.bbox = Box64(c.x - w, c.y - h, 2 * w + 1, 2 * h + 1).to_rect();
        } else {
            object.landmark.clear();
            for (const cv::Point2d& p : moved)
                object.landmark.emplace_back(round_to_int(p.x), round_to_int(p.y));
        }
    }
    return objects;
}

} // namespace

cv::Mat augment_noise(const cv::Mat& image, double sigma)
{
    if (sigma == 0.0 || !is_colour_image(image))
        return image.clone();
    cv::Mat noise(image.size(), CV_16SC3);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(sigma));
    cv::Mat wide;
    image.convertTo(wide, CV_16SC3, 1, 0);
    cv::addWeighted(wide, 1, noise, 1, 0, wide);
    cv::Mat result;
    wide.convertTo(result, image.type(), 1, 0);
    return result;
}

cv::Mat augment_contrast(const cv::Mat& image, double alpha)
{
    if (!is_colour_image(image))
        return image.clone();
    // v * alpha depends on the byte alone, so one table serves every byte of
    // every pixel; saturate_cast rounds half to even (the processor's
    // rounding) and clamps into 0..255. The lookup writes a new image.
    cv::Mat table(1, 256, CV_8U);
    for (int v = 0; v < 256; ++v)
        table.at<uchar>(v) = cv::saturate_cast<uchar>(v * alpha + 0);
    cv::Mat result;
    cv::LUT(image, table, result);
    return result;
}

cv::Mat augment_blur(const cv::Mat& image, int n)
{
    if (n < 2)
        return image;
    const int k = (n % 2 == 1) ? n : n + 1;
    cv::Mat result;
    cv::GaussianBlur(image, result, cv::Size(k, k), 0, 0, cv::BORDER_DEFAULT);
    return result;
}

AugmentedSample augment_rotation(const cv::Mat& image, const Frame& frame, double degrees, bool fixed_size)
{
    const cv::Scalar border = draw_border_colour();
    if (image.empty())
        return {cv::Mat(), frame};

    const cv::Point2f c(float(image.cols / 2), float(image.rows / 2));
    cv::Mat R = cv::getRotationMatrix2D(c, degrees, 1.0);
    const cv::Rect bb = cv::RotatedRect(c, cv::Size2f(float(image.cols), float(image.rows)), float(degrees)).boundingRect();
    R.at<double>(0, 2) += bb.width * 0.5 - c.x;
    R.at<double>(1, 2) += bb.height * 0.5 - c.y;

    // warpAffine writes a new image, so the source needs no copy of its own.
    cv::Mat rotated;
    cv::warpAffine(image, rotated, R, bb.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, border);
    return {rotated, refit_objects(frame, R, fixed_size)};
}

namespace {

// int() of a setting, truncated toward zero as the generator reads whole
// numbers. Values far outside any widget's range (and NaN) are pinned, so the
// conversion and the loops below stay defined.
long long whole(double value)
{
    if (std::isnan(value))
        return 0;
    const double limit = 1e9;
    return (long long)std::max(-limit, std::min(limit, value));
}

// The loop bounds as the generator reads them from the settings.
struct Bounds {
    long long rs, rmin, rmax;
    double cmin, cmax, cs;
    double nmax, ns;
    long long bs, blimit;
};

Bounds bounds_of(const AugmentSettings& s)
{
    Bounds b;
    b.rs = whole(s.rotation_step);
    b.rmin = s.rotation ? whole(s.rotation_min) : 0;
    b.rmax = s.rotation ? whole(s.rotation_max) : 0;
    b.cmin = s.contrast ? s.contrast_min : 1.0;
    b.cmax = s.contrast ? s.contrast_max : 1.0;
    b.cs = s.contrast_step;
    b.nmax = s.noise ? s.noise_max : 0.0;
    b.ns = s.noise_step;
    b.bs = whole(s.blur_step);
    b.blimit = s.blur ? whole(s.blur_max) : 1;
    return b;
}

// A step of 0 or less (or NaN) would never end its loop. The widgets never
// hold such steps.
bool usable_steps(const Bounds& b)
{
    return b.rs >= 1 && b.bs >= 1 && b.ns > 0 && b.cs > 0;
}

// The next value of a fractional loop; a step too small to move the value
// any more ends the loop instead of spinning on the same value.
bool advance(double& value, double step)
{
    const double next = value + step;
    if (!(next > value))
        return false;
    value = next;
    return true;
}

bool is_identity(double n, long long b, long long r, double c)
{
    return n == 0.0 && b == 1 && r == 0 && c == 1.0;
}

// Carries an exception of the consumer past the generator's own guard, so
// that only failures of the image operations are caught there.
struct ConsumerFailure {
    std::exception_ptr error;
};

} // namespace

long long augmented_sample_count(const AugmentSettings& settings)
{
    const Bounds k = bounds_of(settings);
    if (!usable_steps(k))
        return 0;
    long long inner = 0; // (angle, contrast) pairs, and how many of them have angle 0 and contrast 1.0
    long long identity_pairs = 0;
    for (long long r = k.rmin; k.rmax >= r; r += k.rs) {
        for (double c = k.cmin; k.cmax >= c;) {
            ++inner;
            if (r == 0 && c == 1.0)
                ++identity_pairs;
            if (!advance(c, k.cs))
                break;
        }
    }
    long long total = 0;
    for (double n = 0.0; k.nmax >= n;) {
        for (long long b = 1; k.blimit >= b; b += k.bs)
            total += inner - ((n == 0.0 && b == 1) ? identity_pairs : 0);
        if (!advance(n, k.ns))
            break;
    }
    return total;
}

int for_each_augmented_sample(const cv::Mat& image, const Frame& frame, const AugmentSettings& settings,
                              const AugmentedSampleConsumer& consumer, QString* error)
{
    if (error)
        error->clear();
    const Bounds k = bounds_of(settings);
    if (!is_colour_image(image) || !usable_steps(k))
        return 0;

    int handed = 0;
    QString failure;
    try {
        const cv::Mat img0 = image.clone();
        const Frame frame0 = frame;
        for (double n = 0.0; k.nmax >= n;) {
            // Noise 0 is the image itself; it is only read from here on.
            const cv::Mat noisy = (n == 0.0) ? img0 : augment_noise(img0, n);
            for (long long b = 1; k.blimit >= b; b += k.bs) {
                const cv::Mat blurred = augment_blur(noisy, int(b));
                for (long long r = k.rmin; k.rmax >= r; r += k.rs) {
                    const AugmentedSample rotated = augment_rotation(blurred, frame0, double(r), settings.fixed_size);
                    for (double c = k.cmin; k.cmax >= c;) {
                        if (!is_identity(n, b, r, c)) {
                            AugmentedSample sample(augment_contrast(rotated.first, c), rotated.second);
                            ++handed;
                            bool go_on = true;
                            try {
                                go_on = consumer(std::move(sample));
                            } catch (...) {
                                throw ConsumerFailure{std::current_exception()};
                            }
                            if (!go_on)
                                return handed;
                        }
                        if (!advance(c, k.cs))
                            break;
                    }
                }
            }
            if (!advance(n, k.ns))
                break;
        }
        return handed;
    } catch (const ConsumerFailure& passed_on) {
        std::rethrow_exception(passed_on.error);
    } catch (const cv::Exception& e) {
        failure = QString::fromStdString(e.what()).trimmed();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    }
    std::fprintf(stderr, "[Varnex] : augmentation stopped after %d samples: %s\n", handed, qPrintable(failure));
    if (error)
        *error = failure;
    return handed;
}
