// Draws the built-in sample project of the demo: shapes of two classes ("box",
// a filled rectangle, and "disc", a filled ellipse) on noisy grey images, with
// their ground truth.
//
//   make_sample <folder>
//
// writes <folder>/train (the images to train on and "sample.gt") and
// <folder>/heldout (images the training never sees and "heldout.gt", to
// measure what the trained model finds). Every shape is clearly wider than
// high or higher than wide, and the images come in a landscape and a portrait
// size, so a box with width and height swapped, or mapped back with the wrong
// scale, misses its object. The drawing is seeded: every run writes the same
// files.
#include "labeling.h"

#include <QDir>
#include <QString>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <memory>

namespace {

const int kTrainImages = 24;
const int kHeldOutImages = 6;
const cv::Size kImageSizes[] = {{416, 320}, {300, 400}}; // landscape, portrait

// Draws `count` images named prefix_NN.png into `folder` and writes their
// ground truth to `gtName` there. False (with a line on stderr) on failure.
bool drawSet(cv::RNG& rng, const QString& folder, const QString& prefix, int count, const QString& gtName)
{
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "make_sample: cannot create %s\n", folder.toLocal8Bit().constData());
        return false;
    }
    auto labeling = std::make_unique<Labeling>();
    labeling->add_class("box");
    labeling->add_class("disc");
    for (int i = 0; i < count; ++i) {
        const cv::Size size = kImageSizes[i % 2];
        cv::Mat img(size, CV_8UC3);
        rng.fill(img, cv::RNG::UNIFORM, cv::Scalar(90, 90, 90), cv::Scalar(140, 140, 140));
        Frame frame;
        const int shapes = 4 + i % 3; // many shapes an image: the model learns them faster
        for (int n = 0; n < shapes; ++n) {
            const int k = (i + n) % 2;
            // The short side is 55 % to 65 % of the long one: swapped, the box
            // overlaps its shape by less than half (IoU at most 0.65 / 1.35).
            int w = 0, h = 0, x = 0, y = 0;
            bool free = false;
            for (int attempt = 0; attempt < 100 && !free; ++attempt) {
                const int longSide = rng.uniform(60, 130);
                const int shortSide = cvRound(longSide * rng.uniform(0.55, 0.65));
                const bool wide = rng.uniform(0, 2) == 0;
                w = wide ? longSide : shortSide;
                h = wide ? shortSide : longSide;
                x = rng.uniform(0, size.width - w);
                y = rng.uniform(0, size.height - h);
                // Shapes do not overlap, so every label names one whole shape.
                free = true;
                for (const Object& other : frame)
                    if ((other.bbox & cv::Rect(x - 4, y - 4, w + 8, h + 8)).area() > 0)
                        free = false;
            }
            if (!free)
                continue;
            Object o;
            o.label_index = k;
            o.label = labeling->classes[k];
            o.color = labeling->class_colors[k];
            o.bbox = cv::Rect(x, y, w, h);
            o.center = cv::Point(x + w / 2, y + h / 2);
            if (k == 0)
                cv::rectangle(img, o.bbox, cv::Scalar(30, 60, 220), cv::FILLED);
            else
                cv::ellipse(img, o.center, cv::Size(w / 2, h / 2), 0, 0, 360, cv::Scalar(220, 160, 30),
                            cv::FILLED, cv::LINE_AA);
            frame.push_back(o);
        }
        const QString name = QString("%1_%2.png").arg(prefix).arg(i, 2, 10, QChar('0'));
        if (!cv::imwrite((folder + "/" + name).toStdString(), img)) {
            std::fprintf(stderr, "make_sample: cannot write %s\n", name.toLocal8Bit().constData());
            return false;
        }
        labeling->frame_names.push_back(name);
        labeling->frames.insert(name, frame);
    }
    const QString gt = folder + "/" + gtName;
    if (!labeling->save_gt(gt)) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", gt.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s\n", gt.toLocal8Bit().constData());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    cv::RNG rng(20261210);
    if (!drawSet(rng, folder + "/train", "sample", kTrainImages, "sample.gt")
        || !drawSet(rng, folder + "/heldout", "heldout", kHeldOutImages, "heldout.gt"))
        return 1;
    return 0;
}
