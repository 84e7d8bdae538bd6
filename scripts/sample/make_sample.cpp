// Draws the built-in sample project of the demo: a dozen images with shapes of
// two classes ("box" and "disc") and their ground truth "sample.gt".
//
//   make_sample <folder>
//
// The drawing is seeded, so every run writes the same images and labels.
#include "labeling.h"

#include <QDir>
#include <QString>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "make_sample: cannot create %s\n", argv[1]);
        return 1;
    }

    auto labeling = std::make_unique<Labeling>();
    labeling->add_class("box");
    labeling->add_class("disc");
    cv::RNG rng(20261210);
    const int kImages = 12, kWidth = 416, kHeight = 320;
    for (int i = 0; i < kImages; ++i) {
        cv::Mat img(kHeight, kWidth, CV_8UC3);
        rng.fill(img, cv::RNG::UNIFORM, cv::Scalar(90, 90, 90), cv::Scalar(140, 140, 140));
        Frame frame;
        const int count = 2 + i % 3;
        for (int n = 0; n < count; ++n) {
            const int k = (i + n) % 2;
            // Shapes do not overlap, so every label names one whole shape.
            int size = 0, x = 0, y = 0;
            bool free = false;
            for (int attempt = 0; attempt < 100 && !free; ++attempt) {
                size = rng.uniform(48, 110);
                x = rng.uniform(0, kWidth - size);
                y = rng.uniform(0, kHeight - size);
                free = true;
                for (const Object& other : frame)
                    if ((other.bbox & cv::Rect(x - 4, y - 4, size + 8, size + 8)).area() > 0)
                        free = false;
            }
            if (!free)
                continue;
            Object o;
            o.label_index = k;
            o.label = labeling->classes[k];
            o.color = labeling->class_colors[k];
            o.bbox = cv::Rect(x, y, size, size);
            o.center = cv::Point(x + size / 2, y + size / 2);
            if (k == 0)
                cv::rectangle(img, o.bbox, cv::Scalar(30, 60, 220), cv::FILLED);
            else
                cv::circle(img, o.center, size / 2, cv::Scalar(220, 160, 30), cv::FILLED, cv::LINE_AA);
            frame.push_back(o);
        }
        const QString name = QString("sample_%1.png").arg(i, 2, 10, QChar('0'));
        if (!cv::imwrite((folder + "/" + name).toStdString(), img)) {
            std::fprintf(stderr, "make_sample: cannot write %s\n", name.toLocal8Bit().constData());
            return 1;
        }
        labeling->frame_names.push_back(name);
        labeling->frames.insert(name, frame);
    }
    const QString gt = folder + "/sample.gt";
    if (!labeling->save_gt(gt)) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", gt.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\n", gt.toLocal8Bit().constData());
    return 0;
}
