// Times one redraw of the labeling view (DialogVarnex::drawObject: image
// copy, every mark, conversion and scaling into the view) with the key poll's
// 20 ms wait replaced by an immediate answer. Prints the median per redraw
// for each scene (the long-label scenes: one box whose class name is 10 or
// 100 MiB long, a few runs only, and the first redraw on its own). Run:
// QT_QPA_PLATFORM=offscreen bench_redraw [repetitions]
// (BENCH_NOLABEL=1 draws the same scenes without label text, to see its share).

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Scene {
    const char* name;
    int width;
    int height;
    int boxes;
    int polygons;
    int label_mib = 0;    // object 0's class name is this many MiB long
    int label_x = 10;     // and its box starts at this column
};

void fill(DialogVarnex& d, const Scene& s)
{
    cv::RNG rng(12345);
    d.cur_image = cv::Mat(s.height, s.width, CV_8UC3);
    rng.fill(d.cur_image, cv::RNG::UNIFORM, 0, 255);
    d.labeling.classes = {"car", "person", "bicycle"};
    for (int k = 0; k < 3; ++k)
        d.labeling.class_colors[k] = class_color(k, d.labeling.palette);
    d.labeling.frame_names = {"scene.png"};
    Frame frame;
    for (int i = 0; i < s.boxes + s.polygons; ++i) {
        Object o;
        o.label_index = i % 3;
        o.label = qEnvironmentVariableIsSet("BENCH_NOLABEL") ? QString() : d.labeling.classes[static_cast<size_t>(o.label_index)];
        o.color = d.labeling.class_colors[o.label_index];
        const int w = rng.uniform(20, s.width / 8);
        const int h = rng.uniform(20, s.height / 8);
        o.bbox = cv::Rect(rng.uniform(0, s.width - w), rng.uniform(0, s.height - h), w, h);
        o.center = cv::Point(o.bbox.x + w / 2, o.bbox.y + h / 2);
        if (i >= s.boxes)
            for (int p = 0; p < 6; ++p)
                o.landmark.push_back(cv::Point(o.bbox.x + rng.uniform(0, w), o.bbox.y + rng.uniform(0, h)));
        frame.push_back(o);
    }
    if (s.label_mib > 0) {
        QString label;
        label.reserve(s.label_mib << 20);
        while (label.size() < (s.label_mib << 20))
            label += QStringLiteral("car person ");
        frame[0].label = label;
        frame[0].bbox = cv::Rect(s.label_x, 100, 50, 30);
    }
    d.labeling.frames.clear();
    d.labeling.frames.insert("scene.png", frame);
    d.cur_index = 0;
    d.labeling.active_object = 3;
    // A polygon being clicked, and the pointer inside the image.
    d.clicked_points.clear();
    for (int p = 0; p < 8; ++p)
        d.clicked_points.push_back(cv::Point(rng.uniform(0, s.width), rng.uniform(0, s.height)));
    d.mouse_x = s.width / 3;
    d.mouse_y = s.height / 3;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int reps = argc > 1 ? std::max(5, atoi(argv[1])) : 200;

    DialogVarnex d(nullptr);
    d.key_poll = []() { return -1; };
    d.show();
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    std::printf("view %dx%d\n", d.ui->label_img->width(), d.ui->label_img->height());

    const Scene scenes[] = {{"1920x1080, 100 boxes + 20 polygons", 1920, 1080, 100, 20},
                            {"4000x3000, 500 objects", 4000, 3000, 450, 50},
                            {"640x480, one 10 MiB label", 640, 480, 1, 0, 10},
                            {"640x480, one 100 MiB label", 640, 480, 1, 0, 100},
                            {"640x480, one 100 MiB label from x = -100000000", 640, 480, 1, 0, 100, -100000000}};
    for (const Scene& s : scenes) {
        fill(d, s);
        std::vector<double> ms;
        const int warm = s.label_mib > 0 ? 1 : 5;
        const int runs = s.label_mib > 0 ? std::min(reps, 5) : reps;
        for (int i = 0; i < runs + warm; ++i) {
            QElapsedTimer t;
            t.start();
            {
                QMutexLocker lock(&d.mutex);
                d.drawObject();
            }
            if (i == 0 && s.label_mib > 0)
                std::printf("%s: first redraw %.2f ms\n", s.name, t.nsecsElapsed() / 1e6);
            if (i >= warm) // warm-up
                ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("%s: median %.2f ms per redraw (min %.2f, max %.2f, %d runs)\n", s.name, median(ms),
                    *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
                    int(ms.size()));
    }
    d.hide();
    return 0;
}
