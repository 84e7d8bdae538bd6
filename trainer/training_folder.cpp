#include "training_folder.h"

#include "box_geometry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString label_line(int k, const Object& object, int width, int height)
{
    const Box64 box(object.bbox);
    const Box64 inside = box & Box64(0, 0, width, height);
    if (inside.empty())
        return QString();

    QString id;
    double divisor;
    if (k == 0) {
        id = "16";
        divisor = 1.5;
    } else {
        id = QString::number(128LL * k + 323);
        divisor = (k % 2 == 1) ? 1.8 : 2.3;
    }
    auto field = [divisor](float value, int size) {
        const float q = value / static_cast<float>(size);
        return QString::number(static_cast<double>(q) / divisor, 'g', 6) + " ";
    };
    // Centre and size each within (0, 1] of the image: the object's own.
    // Otherwise the part of the box inside the image, about its middle.
    auto within = [](long long v, int size) { return v > 0 && v <= size; };
    float cy, cx, h, w;
    if (within(object.center.y, height) && within(object.center.x, width) && within(box.height, height)
        && within(box.width, width)) {
        cy = static_cast<float>(object.center.y);
        cx = static_cast<float>(object.center.x);
        h = static_cast<float>(box.height);
        w = static_cast<float>(box.width);
    } else {
        cy = static_cast<float>((inside.y + inside.bottom()) * 0.5);
        cx = static_cast<float>((inside.x + inside.right()) * 0.5);
        h = static_cast<float>(inside.height);
        w = static_cast<float>(inside.width);
    }
    return id + " " + field(cy, height) + field(cx, width) + field(h, height) + field(w, width);
}

QString obj_data_text(int classes)
{
    return "classes = " + QString::number(classes) + "\n"
           "train  = data/train.txt\n"
           "valid  = data/train.txt\n"
           "names = data/obj.names\n"
           "backup = data/backup/";
}

QString gen_progress_text(int percent)
{
    return "{ \\\"gen_progress\\\" : " + QString::number(percent) + " }";
}

bool remove_dir_tree(const QString& dir)
{
    const QFileInfo top(dir);
    if (top.isSymLink())
        return QFile::remove(dir); // the link goes, its target stays
    if (!top.exists())
        return true;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::NoDotAndDotDot | QDir::System | QDir::Hidden | QDir::AllDirs | QDir::Files,
                                QDir::DirsFirst);
    for (const QFileInfo& e : entries) {
        const bool ok = (e.isDir() && !e.isSymLink()) ? remove_dir_tree(e.absoluteFilePath())
                                                       : QFile::remove(e.absoluteFilePath());
        if (!ok)
            return false;
    }
    return QDir().rmdir(dir);
}
