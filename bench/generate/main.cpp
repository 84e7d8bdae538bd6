// Images per second of a training-folder generation, as the Generate slot
// runs it in a "gen" run (the main dialog without a window), over a fixture
// folder of 50 JPEG images of 1920 x 1080 with three objects each:
//   bare         a plain OpenCV loop doing the per-image work of a generation:
//                read the image once (the slider's handler shows it and the
//                generation goes on with it), resize to 640 x 640, write the
//                JPEG and the label text
//   auto gen off the generation, one pair per image
//   auto gen on  the generation with the form's augmentation defaults
//                (ten augmented samples per image, eleven pairs)
// The cases run in turns, three rounds, and the best round of each is printed
// with the ratio of "auto gen off" to "bare", beside the median of the rounds'
// own ratios (each round's two runs are close in time, so that figure suffers
// less from other load on the machine).
//
// Run: bench_generate [rounds] [off]; "off" leaves out the "auto gen on" case.
// It holds the exchange-file lock while it runs and keeps "/tmp/varnex.log" as
// it found it.

#include "dataset_generator.h"
#include "dialog_dataset_gen.h"
#include "dialog_varnex.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTextStream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kImages = 50;

// A picture that compresses like a photograph: gradients, shapes and mild
// noise.
cv::Mat fixture_image(int index)
{
    cv::Mat image(1080, 1920, CV_8UC3);
    for (int y = 0; y < image.rows; ++y) {
        cv::Vec3b* row = image.ptr<cv::Vec3b>(y);
        for (int x = 0; x < image.cols; ++x)
            row[x] = cv::Vec3b(uchar((x + index * 7) / 8), uchar(y / 5), uchar((x + y) / 12));
    }
    cv::RNG rng(index + 1);
    for (int k = 0; k < 40; ++k)
        cv::circle(image, cv::Point(rng.uniform(0, 1920), rng.uniform(0, 1080)), rng.uniform(10, 150),
                   cv::Scalar(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255)), -1);
    cv::Mat noise(image.size(), CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 12);
    image += noise;
    return image;
}

QJsonObject object_json(const QString& label, int index, int x, int y, int w, int h)
{
    QJsonObject o;
    o["label"] = label;
    o["label_index"] = index;
    o["color"] = "255,0,255";
    o["center"] = QString("%1,%2").arg(x + w / 2).arg(y + h / 2);
    o["bbox"] = QString("%1,%2,%3,%4").arg(x).arg(y).arg(w).arg(h);
    o["landmark_len"] = 0;
    o["landmark"] = "";
    return o;
}

// Writes the images and their ground truth; returns the ".gt" path.
QString make_fixture(const QString& dir)
{
    QJsonArray gt;
    for (int i = 0; i < kImages; ++i) {
        const QString name = QString("img_%1.jpg").arg(i, 3, 10, QChar('0'));
        cv::imwrite(QFile::encodeName(dir + "/" + name).toStdString(), fixture_image(i));
        QJsonArray objects;
        objects << object_json("car", 0, 100 + i, 200, 300, 180) << object_json("person", 1, 900, 300 + i, 120, 400)
                << object_json("sign", 2, 1500, 100, 90, 90);
        gt << QJsonObject{{"filename", name}, {"obj_array", objects}};
    }
    const QString path = dir + "/project.gt";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QJsonDocument(gt).toJson());
    return path;
}

// What a generation does per image, with nothing but OpenCV and a file write.
// The read keeps the generation's buffer lifetime: each read image is stored
// as the one current image and dropped at the next read.
double bare_loop(const QString& images, const QString& out)
{
    QDir().mkpath(out);
    const QStringList names = QDir(images).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    QElapsedTimer t;
    t.start();
    int k = 0;
    cv::Mat current; // the dialog's current image
    for (const QString& name : names) {
        const std::string path = QFile::encodeName(images + "/" + name).toStdString();
        const cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
        current = image;
        cv::Mat small;
        cv::resize(image, small, cv::Size(640, 640), 0, 0, cv::INTER_LINEAR);
        const QString base = out + QString("/%1").arg(k++);
        cv::imwrite(QFile::encodeName(base + ".jpg").toStdString(), small);
        QFile txt(base + ".txt");
        txt.open(QIODevice::WriteOnly | QIODevice::Text);
        QTextStream(&txt) << "16 0.259259 0.0868056 0.111111 0.104167 \n"
                             "451 0.296296 0.277778 0.205761 0.0347222 \n"
                             "579 0.0603865 0.354167 0.0362319 0.0203804 \n";
    }
    return names.size() / (t.nsecsElapsed() / 1e9);
}

// One generation by the Generate slot, as a "gen" run calls it; standard
// output (its progress lines) goes to /dev/null meanwhile. The previous
// run's "data" is removed first, untimed: every timed run then starts from an
// empty training folder, as the bare loop does (otherwise "auto gen off"
// would pay for removing the eleven-fold output of the "auto gen on" run
// before it, in every round but the first).
double generation(DialogVarnex& dialog, bool auto_gen)
{
    QDir(dialog.train_dir + "/data").removeRecursively();
    dialog.ui->groupBox_auto_gen->setChecked(auto_gen);
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    QElapsedTimer t;
    t.start();
    dialog.on_pushButton_GenerateTrainingFiles_clicked();
    const double seconds = t.nsecsElapsed() / 1e9;
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return dialog.frame_count / seconds;
}

int count_listed(const QString& train_dir)
{
    QFile f(train_dir + "/data/train.txt");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().count('\n');
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const bool with_auto_gen = !(argc > 2 && std::strcmp(argv[2], "off") == 0);

    // The status line is a fixed exchange file: put back what was there.
    const testsupport::ExchangeFileGuard guard({"/tmp/varnex.log"});

    QTemporaryDir tmp;
    const QString images = tmp.filePath("images");
    const QString train = tmp.filePath("train");
    QDir().mkpath(images);
    QDir().mkpath(train);
    std::fprintf(stderr, "writing %d fixture images of 1920 x 1080 ...\n", kImages);
    const QString gt = make_fixture(images);

    DialogVarnex dialog(nullptr);
    const QJsonObject auto_gen_defaults = DialogDatasetGen().get_setting();
    dialog.restoreState(QJsonObject{{"prj_path", images},
                                    {"gt_path", gt},
                                    {"path_gen", train},
                                    {"cmb_model", "V4-tiny"},
                                    {"batch_size", 64},
                                    {"sub_division", 8},
                                    {"grb_auto_gen", false},
                                    {"auto_gen", auto_gen_defaults}});

    double best_bare = 0, best_off = 0, best_on = 0;
    int listed_off = 0, listed_on = 0;
    std::vector<double> ratios;
    // An untimed pass first: the first one pays for warming the allocator and
    // the caches, which would favour whatever runs after it.
    bare_loop(images, tmp.filePath("warm-up"));
    for (int r = 0; r < rounds; ++r) {
        QDir(tmp.filePath("bare")).removeRecursively();
        const double bare = bare_loop(images, tmp.filePath("bare"));
        const double off = generation(dialog, false);
        listed_off = count_listed(train);
        double on = 0;
        if (with_auto_gen) {
            on = generation(dialog, true);
            listed_on = count_listed(train);
        }
        ratios.push_back(off / bare);
        std::fprintf(stderr, "round %d: bare %.2f, Auto Gen off %.2f, Auto Gen on %.2f images/s, ratio %.3f\n", r + 1,
                     bare, off, on, ratios.back());
        best_bare = std::max(best_bare, bare);
        best_off = std::max(best_off, off);
        best_on = std::max(best_on, on);
    }
    std::sort(ratios.begin(), ratios.end());
    const double median_ratio = rounds % 2 ? ratios[rounds / 2] : (ratios[rounds / 2 - 1] + ratios[rounds / 2]) / 2;

    std::printf("images: %d of 1920 x 1080, best of %d rounds\n", dialog.frame_count, rounds);
    std::printf("bare OpenCV loop (1 read, resize, write):  %8.2f images/s\n", best_bare);
    std::printf("generation, Auto Gen off (%4d pairs):    %8.2f images/s\n", listed_off, best_off);
    if (with_auto_gen)
        std::printf("generation, Auto Gen on  (%4d pairs):    %8.2f images/s  (%.2f pairs/s)\n", listed_on, best_on,
                    best_on * (dialog.frame_count > 0 ? double(listed_on) / dialog.frame_count : 0.0));
    std::printf("ratio Auto Gen off / bare: %.3f, median of the rounds' ratios %.3f (goal 0.9)\n",
                best_bare > 0 ? best_off / best_bare : 0.0, median_ratio);
    return 0;
}
