#include "labeling.h"

#include "atomic_file.h"
#include "bounded_input.h"
#include "input_limits.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <cmath>
#include <cstdio>

const float kClassPalette[6][3] = {
    {1, 0, 1}, // magenta
    {0, 0, 1}, // red
    {0, 1, 1}, // yellow
    {0, 1, 0}, // green
    {1, 1, 0}, // cyan
    {1, 0, 0}, // blue
};

cv::Scalar palette_color(long long index, int modulus, const float palette[6][3])
{
    long long r = (index * 123457LL) % modulus;
    if (r < 0)
        r += modulus;
    const float t = static_cast<float>(r) / static_cast<float>(modulus) * 5.0f;
    const int lo = static_cast<int>(std::floor(t));
    const int hi = static_cast<int>(std::ceil(t));
    const float f = t - static_cast<float>(lo);
    cv::Scalar c(0, 0, 0, 0);
    for (int ch = 0; ch < 3; ++ch) {
        const float v = (palette[lo][ch] * (1.0f - f) + palette[hi][ch] * f) * 255.0f;
        c[ch] = static_cast<double>(v);
    }
    return c;
}

cv::Scalar class_color(long long index, const float palette[6][3])
{
    return palette_color(index, 999, palette);
}

namespace {

// A class name as a message shows it: a long one (a ".gt" is read as it is)
// by its start and its length, so that a line stays a line.
QString message_text(const QString& name)
{
    const int kShown = 64;
    if (name.size() <= kShown)
        return name;
    const int n = name.at(kShown - 1).isHighSurrogate() ? kShown - 1 : kShown;
    return name.left(n) + QString("... (%1 characters)").arg(name.size());
}

// Integer of part `i` of `parts`; 0 when the part is missing or not an integer.
int intPart(const QStringList& parts, int i)
{
    if (i < 0 || i >= parts.size())
        return 0;
    return parts[i].toInt(); // 0 when not an integer
}

} // namespace

QJsonObject Object::save() const
{
    QJsonObject o;
    o["label_index"] = label_index;
    o["label"] = label;
    o["color"] = QString::number(color[0], 'g', 6) + "," + QString::number(color[1], 'g', 6) + ","
                 + QString::number(color[2], 'g', 6);
    o["center"] = QString::number(center.x) + "," + QString::number(center.y);
    o["bbox"] = QString::number(bbox.x) + "," + QString::number(bbox.y) + "," + QString::number(bbox.width)
                + "," + QString::number(bbox.height);
    o["landmark_len"] = static_cast<int>(landmark.size());
    QString lm;
    for (const cv::Point& p : landmark)
        lm += QString::number(p.x) + ":" + QString::number(p.y) + ",";
    o["landmark"] = lm;
    return o;
}

void Object::restore(const QJsonObject& json)
{
    label_index = json["label_index"].toInt();
    label = json["label"].toString();
    if (json.contains("color")) {
        const QStringList parts = json["color"].toString().split(",");
        for (int ch = 0; ch < 3; ++ch)
            color[ch] = intPart(parts, ch);
    }
    const QStringList c = json["center"].toString().split(",");
    center = cv::Point(intPart(c, 0), intPart(c, 1));
    const QStringList b = json["bbox"].toString().split(",");
    bbox = cv::Rect(intPart(b, 0), intPart(b, 1), intPart(b, 2), intPart(b, 3));

    landmark.clear();
    const int n = json["landmark_len"].toInt();
    if (n > 0) {
        const QString text = json["landmark"].toString();
        QStringList parts = text.split(",");
        // Every point is written followed by ",", so the part after the last
        // comma is not a point.
        if (text.endsWith(","))
            parts.removeLast();
        const int count = std::min(n, static_cast<int>(parts.size()));
        landmark.reserve(count);
        for (int k = 0; k < count; ++k) {
            const QStringList xy = parts[k].split(":");
            landmark.emplace_back(intPart(xy, 0), intPart(xy, 1));
        }
    }
}

Labeling::Labeling()
{
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 3; ++c)
            palette[r][c] = kClassPalette[r][c];
    for (cv::Scalar& s : class_colors)
        s = cv::Scalar(0, 0, 0, 0);
}

int class_index_of(const std::vector<QString>& classes, const QString& label)
{
    for (size_t k = 0; k < classes.size(); ++k)
        if (classes[k] == label)
            return static_cast<int>(k);
    return -1;
}

int Labeling::class_index(const QString& name) const
{
    return class_index_of(classes, name);
}

int Labeling::add_class(const QString& name)
{
    if (classes.size() >= static_cast<size_t>(kMaxClasses)) {
        std::fprintf(stderr, "[Varnex] : class table full (%d classes), label not added: %s\n", kMaxClasses,
                     message_text(name).toLocal8Bit().constData());
        return -1;
    }
    classes.push_back(name);
    const int k = static_cast<int>(classes.size()) - 1;
    class_colors[k] = class_color(k, palette);
    return k;
}

bool read_ground_truth(const QString& path, QByteArray* text, QString* why)
{
    return bounded_input::read_regular_file(path, input_limits::kGroundTruthBytes, text, why) == bounded_input::ReadStatus::Ok;
}

bool parse_ground_truth(const QString& path, QJsonDocument* doc, QString* why)
{
    QByteArray text;
    if (!read_ground_truth(path, &text, why))
        return false;
    QJsonParseError error;
    *doc = QJsonDocument::fromJson(text, &error);
    if (error.error == QJsonParseError::NoError)
        return true;
    *why = path + " is not JSON: " + error.errorString() + " at offset " + QString::number(error.offset);
    return false;
}

bool Labeling::load_gt(const QString& path, QString* reason)
{
    if (frame_names.empty())
        return false;

    frames.clear();
    classes.clear();
    for (const QString& name : frame_names)
        frames.insert(name, Frame());

    QJsonDocument doc;
    QString why;
    if (!parse_ground_truth(path, &doc, &why)) {
        std::fprintf(stderr, "[Varnex] : cannot read ground truth: %s\n", why.toLocal8Bit().constData());
        if (reason)
            *reason = why;
        return false;
    }

    // The class list was just emptied; this index follows it during the load so
    // that a file with many classes loads in linear time.
    QHash<QString, int> index;
    const QJsonArray array = doc.array(); // a top-level object counts as an empty array
    for (const QJsonValue& element : array) {
        const QJsonObject e = element.toObject();
        const QString name = e["filename"].toString();
        auto it = frames.find(name);
        if (it == frames.end())
            continue;
        const QJsonArray a = e["obj_array"].toArray();
        Frame list;
        for (int j = 0; j < a.size(); ++j) {
            if (j > 0 && a[j] == a[j - 1])
                continue; // adjacent duplicates collapse into one
            Object obj;
            obj.restore(a[j].toObject());
            int k = index.value(obj.label, -1);
            if (k < 0) {
                if (obj.label.isEmpty())
                    continue;
                k = add_class(obj.label);
                if (k < 0)
                    continue;
                index.insert(obj.label, k);
            }
            obj.color = class_color(k, palette);
            list.push_back(obj);
        }
        it.value() = list;
    }
    std::fputs("[Varnex] : load gt finished\n", stdout);
    std::fflush(stdout);
    return true;
}

bool Labeling::save_gt(const QString& path, QString* reason) const
{
    QJsonArray array;
    const size_t n = std::min(static_cast<size_t>(frames.size()), frame_names.size());
    for (size_t i = 0; i < n; ++i) {
        const QString& name = frame_names[i];
        QJsonArray objs;
        const auto it = frames.constFind(name);
        if (it != frames.constEnd())
            for (const Object& o : it.value())
                objs.append(o.save());
        QJsonObject e;
        e["filename"] = name;
        e["obj_array"] = objs;
        array.append(e);
    }
    QString why;
    if (write_file_atomically(path, QJsonDocument(array).toJson(), kUserFile, &why))
        return true;
    std::fprintf(stderr, "[Varnex] : cannot write ground truth %s: %s\n", path.toLocal8Bit().constData(),
                 why.toLocal8Bit().constData());
    if (reason)
        *reason = why;
    return false;
}
