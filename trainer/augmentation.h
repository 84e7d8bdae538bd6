#pragma once
// The augmentation of one labelled image, without any window: the four image
// operations (noise, blur, rotation onto an enlarged canvas with the objects
// refitted, contrast), the settings they are combined with, and the
// combination generator in its streaming form.
//
// The augmentation dialog (DialogDatasetGen) reads its widgets into an
// AugmentSettings value at the moment it is asked for samples and hands it to
// the generator here; the training-folder generation consumes the samples one
// at a time through for_each_augmented_sample, so memory stays at a few
// samples whatever the settings.
//
// Randomness: the rotation draws its border colour from Qt's qrand() (after
// reseeding it from itself), the noise from OpenCV's cv::theRNG(). Both are
// deterministic per thread and process, so the same seeds (qsrand(K) and
// cv::setRNGSeed(K)) give bitwise identical samples.

#include "labeling.h"

#include <opencv2/core.hpp>

#include <functional>
#include <utility>

// One augmented sample: the image (8-bit, three channels, on the rotation
// canvas) and the source's objects refitted to it. Each sample owns its
// pixels and its objects.
typedef std::pair<cv::Mat, Frame> AugmentedSample;

// The settings the generator combines, as the dialog's widgets hold them.
// The defaults are the form's defaults (ten samples per image).
struct AugmentSettings {
    bool rotation = true;        // "Rotation" group checked
    double rotation_min = -180;  // degrees, read as whole degrees
    double rotation_max = 180;
    double rotation_step = 90;

    bool contrast = true;        // "Contrast" group checked
    double contrast_min = 0.2;   // factors
    double contrast_max = 1.2;
    double contrast_step = 1.0;

    bool noise = false;          // "Noise" group checked
    double noise_max = 10;       // standard deviations
    double noise_step = 10;

    bool blur = false;           // "Blur" group checked
    double blur_max = 9;         // sizes, read as whole numbers
    double blur_step = 9;

    bool fixed_size = false;     // "Fixed size": keep the object's own size around the rotated centre
};

// Gaussian noise of standard deviation sigma, saturated into 0..255. Sigma 0
// returns an unchanged copy. Images that are not 8-bit three-channel come back
// as an unchanged copy.
cv::Mat augment_noise(const cv::Mat& image, double sigma);

// Every byte v becomes v * alpha, rounded half to even and clamped into
// 0..255, on a copy. Images that are not 8-bit three-channel come back as an
// unchanged copy.
cv::Mat augment_contrast(const cv::Mat& image, double alpha);

// Gaussian blur with an n x n kernel (n + 1 when n is even). Below 2 the input
// itself is returned (same pixels, no copy).
cv::Mat augment_blur(const cv::Mat& image, int n);

// Rotates the image by `degrees` (counter-clockwise on screen) about the
// centre (cols / 2, rows / 2) onto the canvas that holds the whole rotated
// image, filling the corners with a random colour (each channel 0..254), and
// refits every object: its box and centre become those of its rotated
// corners (or polygon), and the rotated points become its polygon. With
// `fixed_size` the box instead spans the object's unrotated width and height
// on each side of the new centre and the polygon is left as it was.
// Every call reseeds qrand() from itself first and then draws three numbers.
AugmentedSample augment_rotation(const cv::Mat& image, const Frame& frame, double degrees, bool fixed_size);

// The consumer of the streaming generator. It receives each sample by value
// (it owns it and may move from it) and returns true to go on, false to stop
// the generation after this sample.
typedef std::function<bool(AugmentedSample sample)> AugmentedSampleConsumer;

// The streaming generator: hands every augmented sample of one image to
// `consumer`, one at a time, and returns how many it handed over.
//
// The samples are one per combination of a noise level, a blur size, a
// rotation angle and a contrast factor, in this loop order, noise outermost:
//   noise    n from 0 by noise_step while n <= noise_max  (only 0 when the group is off)
//   blur     b from 1 by blur_step  while b <= blur_max   (only 1 when the group is off)
//   rotation r from rotation_min by rotation_step while r <= rotation_max
//            (whole degrees; only 0 when the group is off)
//   contrast c from contrast_min by contrast_step while c <= contrast_max
//            (only 1.0 when the group is off)
// Every bound is inclusive and the fractional values accumulate by repeated
// addition, so a contrast range may miss its maximum (0.1 .. 1.0 step 0.1 never
// reaches 1.0). The identity combination (noise 0, blur 1, angle 0, contrast
// exactly 1.0) is skipped. Every sample is rotated, at 0 degrees too, so every
// sample lies on the enlarged canvas with its objects refitted.
//
// Each level is computed once and shared by the deeper ones (the noisy image
// once per noise level, the rotation once per noise, blur and angle), and only
// the current sample is alive at a time: memory stays at a few images.
//
// An empty image, an image that is not 8-bit three-channel, or settings
// whose steps are not positive yield no sample (and no error). A failure of
// an image operation (an OpenCV exception, memory exhausted) ends the
// generation with one line on stderr and its text in *error (when given;
// otherwise *error is emptied); the samples handed over so far stay handed
// over. Exceptions thrown by the consumer itself are passed on untouched.
int for_each_augmented_sample(const cv::Mat& image, const Frame& frame, const AugmentSettings& settings,
                              const AugmentedSampleConsumer& consumer, QString* error = nullptr);

// The number of samples the settings give for one usable image, without
// computing any image (the same loops as above): for a progress display, or
// to warn before settings that would give tens of thousands of samples.
long long augmented_sample_count(const AugmentSettings& settings);
