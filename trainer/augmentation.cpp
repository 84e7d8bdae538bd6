#include "augmentation.h"

#include <QtGlobal>

#include <opencv2/imgproc.hpp>

#include <cmath>
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

// The objects of `frame` moved by the affine transform R.
Frame refit_objects(const Frame& frame, const cv::Mat& R, bool fixed_size)
{
    Frame objects = frame;
    for (Object& object : objects) {
        std::vector<cv::Point> points;
        int w0 = 0;
        int h0 = 0;
        if (object.landmark.empty()) {
            const cv::Rect& b = object.bbox;
            points = {cv::Point(b.x, b.y), cv::Point(b.x + b.width, b.y), cv::Point(b.x + b.width, b.y + b.height),
                      cv::Point(b.x, b.y + b.height)};
            w0 = b.width;
            h0 = b.height;
        } else {
            points = object.landmark;
            if (fixed_size) {
                const cv::Rect own = cv::boundingRect(object.landmark);
                w0 = own.width;
                h0 = own.height;
            }
        }

        // Integer points through a double matrix: each result is rounded
        // to the nearest integer, halves to even.
        std::vector<cv::Point> moved;
        cv::transform(points, moved, R);

        object.bbox = cv::boundingRect(moved);
        object.center = cv::Point(cvRound((2 * object.bbox.x + object.bbox.width) * 0.5),
                                  cvRound((2 * object.bbox.y + object.bbox.height) * 0.5));
        if (fixed_size) {
            // The object's full unrotated width and height on each side of
            // the new centre; the polygon stays as it was given.
            const int cx = object.center.x;
            const int cy = object.center.y;
            const std::vector<cv::Point> around = {cv::Point(cx - w0, cy - h0), cv::Point(cx + w0, cy - h0),
                                                   cv::Point(cx + w0, cy + h0), cv::Point(cx - w0, cy + h0)};
            object.bbox = cv::boundingRect(around);
        } else {
            object.landmark = moved;
        }
    }
    return objects;
}

} // namespace

cv::Mat augment_noise(const cv::Mat& image, double sigma)
{
    cv::Mat result = image.clone();
    if (sigma == 0.0 || !is_colour_image(image))
        return result;
    cv::Mat noise(image.size(), CV_16SC3);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(sigma));
    cv::Mat wide;
    result.convertTo(wide, CV_16SC3, 1, 0);
    cv::addWeighted(wide, 1, noise, 1, 0, wide);
    wide.convertTo(result, image.type(), 1, 0);
    return result;
}

cv::Mat augment_contrast(const cv::Mat& image, double alpha)
{
    cv::Mat result = image.clone();
    if (!is_colour_image(image))
        return result;
    // v * alpha depends on the byte alone, so one table serves every pixel;
    // saturate_cast rounds half to even (the processor's rounding) and clamps.
    uchar table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = cv::saturate_cast<uchar>(v * alpha + 0);
    for (int y = 0; y < result.rows; ++y) {
        uchar* row = result.ptr<uchar>(y);
        const int bytes = result.cols * 3;
        for (int i = 0; i < bytes; ++i)
            row[i] = table[row[i]];
    }
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

    cv::Mat rotated;
    cv::warpAffine(image, rotated, R, bb.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, border);
    return {rotated, refit_objects(frame, R, fixed_size)};
}

namespace {

bool usable_steps(const AugmentSettings& s)
{
    // int(step) for the whole-number loops; a step of 0 or less (or NaN)
    // would never end a loop.
    return int(s.rotation_step) >= 1 && int(s.blur_step) >= 1 && s.noise_step > 0 && s.contrast_step > 0;
}

// The loop bounds as the generator reads them from the settings.
struct Bounds {
    int rs, rmin, rmax;
    double cmin, cmax, cs;
    double nmax, ns;
    int bs, blimit;
};

Bounds bounds_of(const AugmentSettings& s)
{
    Bounds b;
    b.rs = int(s.rotation_step);
    b.rmin = s.rotation ? int(s.rotation_min) : 0;
    b.rmax = s.rotation ? int(s.rotation_max) : 0;
    b.cmin = s.contrast ? s.contrast_min : 1.0;
    b.cmax = s.contrast ? s.contrast_max : 1.0;
    b.cs = s.contrast_step;
    b.nmax = s.noise ? s.noise_max : 0.0;
    b.ns = s.noise_step;
    b.bs = int(s.blur_step);
    b.blimit = s.blur ? int(s.blur_max) : 1;
    return b;
}

bool is_identity(double n, int b, int r, double c)
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
    if (!usable_steps(settings))
        return 0;
    const Bounds k = bounds_of(settings);
    long long inner = 0; // (angle, contrast) pairs, and how many of them have angle 0 and contrast 1.0
    long long identity_pairs = 0;
    for (int r = k.rmin; k.rmax >= r; r += k.rs) {
        for (double c = k.cmin; k.cmax >= c; c += k.cs) {
            ++inner;
            if (r == 0 && c == 1.0)
                ++identity_pairs;
        }
    }
    long long total = 0;
    for (double n = 0.0; k.nmax >= n; n += k.ns)
        for (int b = 1; k.blimit >= b; b += k.bs)
            total += inner - ((n == 0.0 && b == 1) ? identity_pairs : 0);
    return total;
}

int for_each_augmented_sample(const cv::Mat& image, const Frame& frame, const AugmentSettings& settings,
                              const AugmentedSampleConsumer& consumer)
{
    if (!is_colour_image(image) || !usable_steps(settings))
        return 0;
    const Bounds k = bounds_of(settings);

    int handed = 0;
    try {
        const cv::Mat img0 = image.clone();
        const Frame frame0 = frame;
        for (double n = 0.0; k.nmax >= n; n += k.ns) {
            const cv::Mat noisy = augment_noise(img0, n);
            for (int b = 1; k.blimit >= b; b += k.bs) {
                const cv::Mat blurred = augment_blur(noisy, b);
                for (int r = k.rmin; k.rmax >= r; r += k.rs) {
                    const AugmentedSample rotated = augment_rotation(blurred, frame0, double(r), settings.fixed_size);
                    for (double c = k.cmin; k.cmax >= c; c += k.cs) {
                        if (is_identity(n, b, r, c))
                            continue;
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
                }
            }
        }
    } catch (const ConsumerFailure& failure) {
        std::rethrow_exception(failure.error);
    } catch (const cv::Exception& e) {
        std::fprintf(stderr, "[Varnex] : augmentation stopped after %d samples: %s\n", handed, e.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "[Varnex] : augmentation stopped after %d samples: out of memory\n", handed);
    }
    return handed;
}
