#pragma once
// The fixture of the extreme-box tests: a ".gt" whose objects have corners at
// the int limits, sizes that carry x + width past them, negative sizes and
// polygons far outside a 640 x 480 image, each with its twin: the same object
// with every coordinate brought within 100000, which must draw, crop, fill
// and label exactly as the extreme one does.

#include "labeling.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace extreme_boxes {

const int kWidth = 640;
const int kHeight = 480;

struct Record {
    const char* name;
    const char* label; // one class per record
    const char* bbox;
    const char* center;
    const char* landmark; // "x:y," per point, as the ".gt" writes it
    const char* twin_bbox;
    const char* twin_center;
    const char* twin_landmark;
};

const Record kRecords[] = {
    {"normal box", "normal", "100,100,50,30", "125,115", "", "100,100,50,30", "125,115", ""},
    {"INT_MIN corner and size", "low", "-2147483648,-2147483648,-2147483648,-2147483648", "-2147483648,-2147483648",
     "", "-100000,-100000,-100000,-100000", "-100000,-100000", ""},
    {"INT_MAX corner and size", "high", "2147483647,2147483647,2147483647,2147483647", "2147483647,2147483647", "",
     "100000,100000,100000,100000", "100000,100000", ""},
    {"huge width and height from inside", "wide", "-100,100,2147483647,50", "320,125", "", "-100,100,100000,50",
     "320,125", ""},
    {"negative size past INT_MIN", "under", "-300,-300,-2147483648,-2147483648", "-300,-300", "",
     "-300,-300,-100000,-100000", "-300,-300", ""},
    {"negative size inside", "flipped", "400,300,-50,-40", "375,280", "", "400,300,-50,-40", "375,280", ""},
    {"huge width, negative height", "corner", "600,400,2147483647,-2147483648", "2147483647,-2147483648", "",
     "600,400,100000,-100000", "100000,-100000", ""},
    {"polygon around the image", "around", "-2147483648,-2147483648,-1,-1", "2147483647,2147483647",
     "-2147483648:-2147483648,2147483647:-2147483648,0:2147483647,", "-100000,-100000,-1,-1", "100000,100000",
     "-100000:-100000,100000:-100000,0:100000,"},
    {"polygon corner inside", "wedge", "10,10,2147483647,2147483647", "2147483647,2147483647",
     "10:10,10:2147483647,2147483647:10,", "10,10,100000,100000", "100000,100000", "10:10,10:100000,100000:10,"},
    {"polygon far outside", "away", "2147483000,2147483000,647,647", "2147483647,2147483647",
     "2147483647:2147483647,2147483000:2147483647,2147483647:2147483000,", "100000,100000,647,647",
     "100000,100000", "100000:100000,99353:100000,100000:99353,"},
    {"polygon across the image", "across", "0,-2147483648,640,-1", "320,-2147483648",
     "-2147483648:100,640:2147483647,0:-2147483648,", "0,-100000,640,-1", "320,-100000",
     "-100000:100,320:100000,320:-100000,"},
};
const int kCount = int(sizeof(kRecords) / sizeof(kRecords[0]));

inline QJsonObject objectRecord(const Record& r, bool twin)
{
    const QString landmark = twin ? r.twin_landmark : r.landmark;
    return QJsonObject{{"label", r.label},
                       {"label_index", 0},
                       {"color", "0,0,0"},
                       {"bbox", twin ? r.twin_bbox : r.bbox},
                       {"center", twin ? r.twin_center : r.center},
                       {"landmark", landmark},
                       {"landmark_len", landmark.count(',')}};
}

// The ".gt" text: image files[i] holds the objects of records[i], one record
// per image or, with a single file name, every record on that image.
inline QByteArray gtText(const QStringList& files, bool twin = false)
{
    QJsonArray images;
    for (int f = 0; f < files.size(); ++f) {
        QJsonArray objects;
        for (int i = 0; i < kCount; ++i)
            if (files.size() == 1 || i == f)
                objects.append(objectRecord(kRecords[i], twin));
        images.append(QJsonObject{{"filename", files[f]}, {"obj_array", objects}});
    }
    return QJsonDocument(images).toJson();
}

// The object of a record as the ".gt" reader makes it.
inline Object object(const Record& r, bool twin = false)
{
    Object o;
    o.restore(objectRecord(r, twin));
    return o;
}

inline Frame frame(bool twin = false)
{
    Frame f;
    for (const Record& r : kRecords)
        f.push_back(object(r, twin));
    return f;
}

inline std::vector<QString> classes()
{
    std::vector<QString> names;
    for (const Record& r : kRecords)
        names.push_back(r.label);
    return names;
}

} // namespace extreme_boxes
