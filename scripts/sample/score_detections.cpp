// Scores the detection server's answers on the held-out images:
//
//   score_detections <ground truth .gt> <result folder>
//
// The images lie beside the ground-truth file; for each image NAME it names,
// <result folder>/NAME.json holds the server's "test_end" line for it. Prints
// one line: "recall R precision P (M of N objects at IoU 0.5, D detections,
// I images)". Exit status 1 when an image or a result is missing or unusable.
#include "detection_scoring.h"
#include "labeling.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>

namespace {

const double kMinIou = 0.5;

int fail(const QString& text)
{
    std::fprintf(stderr, "score_detections: %s\n", text.toLocal8Bit().constData());
    return 1;
}

QByteArray readAll(const QString& path, bool* ok)
{
    QFile f(path);
    *ok = f.open(QIODevice::ReadOnly);
    return *ok ? f.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: score_detections <ground truth .gt> <result folder>\n");
        return 2;
    }
    const QString gtPath = QString::fromLocal8Bit(argv[1]);
    const QString results = QString::fromLocal8Bit(argv[2]);
    const QString imageDir = QFileInfo(gtPath).absolutePath();

    bool ok = false;
    const QJsonArray entries = QJsonDocument::fromJson(readAll(gtPath, &ok)).array();
    if (!ok || entries.isEmpty())
        return fail("no ground truth in " + gtPath);

    ScoreTotals totals;
    for (const QJsonValue& entry : entries) {
        const QString name = entry.toObject()["filename"].toString();
        const cv::Mat image = cv::imread((imageDir + "/" + name).toStdString(), cv::IMREAD_COLOR);
        if (image.empty())
            return fail("cannot read the image " + imageDir + "/" + name);
        const QByteArray line = readAll(results + "/" + name + ".json", &ok);
        if (!ok)
            return fail("no result for " + name + " in " + results);
        QString error;
        const std::vector<ScoredDetection> found = detections_from_result_line(line, image.size(), &error);
        if (!error.isEmpty())
            return fail(name + ": " + error);
        std::vector<TruthBox> truth;
        for (const QJsonValue& record : entry.toObject()["obj_array"].toArray()) {
            Object o;
            o.restore(record.toObject());
            truth.push_back({o.label, cv::Rect2d(o.bbox)});
        }
        totals.objects += int(truth.size());
        totals.detections += int(found.size());
        totals.matched += count_matches(truth, found, kMinIou);
        ++totals.images;
    }
    std::printf("%s\n", summary_line(totals, kMinIou).toLocal8Bit().constData());
    return 0;
}
