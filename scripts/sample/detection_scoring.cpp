#include "detection_scoring.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

std::vector<ScoredDetection> detections_from_result_line(const QByteArray& line, cv::Size original, QString* error)
{
    const QJsonObject log = QJsonDocument::fromJson(line).object();
    if (log["state"].toString() != "test_end") {
        *error = "not a test_end line: " + QString::fromUtf8(line.trimmed());
        return {};
    }
    const QJsonObject result = log["result"].toObject();
    const int scaledW = result["im_w"].toInt();
    const int scaledH = result["im_h"].toInt();
    if (scaledW <= 0 || scaledH <= 0 || original.width <= 0 || original.height <= 0) {
        *error = QString("unusable sizes: scaled %1 x %2, image %3 x %4")
                     .arg(scaledW).arg(scaledH).arg(original.width).arg(original.height);
        return {};
    }
    const double fx = double(original.width) / scaledW;
    const double fy = double(original.height) / scaledH;
    std::vector<ScoredDetection> out;
    for (const QJsonValue& v : result["objects"].toArray()) {
        const QJsonObject o = v.toObject();
        const double w = o["w"].toDouble(), h = o["h"].toDouble();
        ScoredDetection d;
        d.name = o["name"].toString();
        d.confidence = o["confidence"].toDouble();
        d.box = cv::Rect2d((o["x"].toDouble() - w / 2) * fx, (o["y"].toDouble() - h / 2) * fy, w * fx, h * fy);
        out.push_back(d);
    }
    return out;
}

namespace {

double iou(const cv::Rect2d& a, const cv::Rect2d& b)
{
    const double inter = (a & b).area();
    const double uni = a.area() + b.area() - inter;
    return uni > 0 ? inter / uni : 0;
}

} // namespace

int count_matches(const std::vector<TruthBox>& truth, std::vector<ScoredDetection> found, double minIou)
{
    std::stable_sort(found.begin(), found.end(),
                     [](const ScoredDetection& a, const ScoredDetection& b) { return a.confidence > b.confidence; });
    std::vector<bool> taken(truth.size(), false);
    int matched = 0;
    for (const ScoredDetection& d : found) {
        int best = -1;
        double bestIou = minIou;
        for (size_t i = 0; i < truth.size(); ++i) {
            if (taken[i] || truth[i].name != d.name)
                continue;
            const double o = iou(truth[i].box, d.box);
            if (o >= bestIou) {
                bestIou = o;
                best = int(i);
            }
        }
        if (best >= 0) {
            taken[size_t(best)] = true;
            ++matched;
        }
    }
    return matched;
}

double recall_of(const ScoreTotals& t)
{
    return t.objects > 0 ? double(t.matched) / t.objects : 0;
}

double precision_of(const ScoreTotals& t)
{
    return t.detections > 0 ? double(t.matched) / t.detections : 0;
}

QString summary_line(const ScoreTotals& t, double minIou)
{
    return QString("recall %1 precision %2 (%3 of %4 objects at IoU %5, %6 detections, %7 images)")
        .arg(recall_of(t), 0, 'f', 2)
        .arg(precision_of(t), 0, 'f', 2)
        .arg(t.matched)
        .arg(t.objects)
        .arg(minIou)
        .arg(t.detections)
        .arg(t.images);
}
