#include "result_json.h"

#include <QJsonArray>
#include <QString>

namespace {

QString name_of(const std::vector<std::string>& names, size_t id)
{
    return id < names.size() ? QString::fromStdString(names[id]) : QString();
}

} // namespace

QJsonObject build_result(const DetectionReport& r)
{
    QJsonArray objects;
    for (const bbox_t& b : r.boxes) {
        QJsonObject o;
        o.insert("id", static_cast<int>(b.obj_id));
        o.insert("name", name_of(r.class_names, b.obj_id));
        o.insert("x", static_cast<int>(b.x + b.w / 2));
        o.insert("y", static_cast<int>(b.y + b.h / 2));
        o.insert("w", static_cast<int>(b.w));
        o.insert("h", static_cast<int>(b.h));
        o.insert("confidence", static_cast<double>(b.prob));
        if (r.tracking)
            o.insert("track_id", static_cast<int>(b.track_id));
        objects.append(o);
    }

    QJsonArray counts;
    if (r.tracking) {
        for (size_t c = 0; c < r.class_names.size(); ++c) {
            const unsigned next =
                r.track_counters && c < r.track_counters->size() ? (*r.track_counters)[c] : 1u;
            QJsonObject entry;
            entry.insert("name", name_of(r.class_names, c));
            entry.insert("count", static_cast<int>(next) - 1);
            counts.append(entry);
        }
    } else {
        for (size_t c = 0; c < r.obj_counts.size(); ++c) {
            if (r.obj_counts[c] <= 0)
                continue;
            QJsonObject entry;
            entry.insert("name", name_of(r.class_names, c));
            entry.insert("count", r.obj_counts[c]);
            counts.append(entry);
        }
    }

    QJsonObject result;
    result.insert("im_w", r.im_w);
    result.insert("im_h", r.im_h);
    result.insert("count", static_cast<int>(r.boxes.size()));
    result.insert("objects", objects);
    result.insert("obj_count", counts);
    result.insert("obj_count_str", QString::fromStdString(r.count_text));
    return result;
}
