#pragma once
// Fixtures of the crop export tests: a 640 x 480 PNG whose pixels encode their
// own position (so a crop tells where it was cut from), and folder listings.

#include "labeling.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace cropfixture {

// Blue = x & 255, green = y & 255, red = 16 * (x >> 8) + (y >> 8).
inline cv::Mat position_image(int cols = 640, int rows = 480)
{
    cv::Mat m(rows, cols, CV_8UC3);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            m.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(x & 255), uchar(y & 255), uchar(16 * (x >> 8) + (y >> 8)));
    return m;
}

// The image position that pixel (0, 0) of a lossless crop came from.
inline cv::Point origin_of(const cv::Mat& crop)
{
    const cv::Vec3b p = crop.at<cv::Vec3b>(0, 0);
    return cv::Point(((p[2] >> 4) << 8) | p[0], ((p[2] & 15) << 8) | p[1]);
}

inline bool write_position_png(const QString& path)
{
    return cv::imwrite(path.toUtf8().constData(), position_image());
}

inline Object object(const QString& label, int x, int y, int w, int h)
{
    Object o;
    o.label = label;
    o.bbox = cv::Rect(x, y, w, h);
    // In 64 bits: the tests also use boxes near the int limits.
    o.center = cv::Point(int(static_cast<long long>(x) + w / 2), int(static_cast<long long>(y) + h / 2));
    return o;
}

// One image per entry of `frames` in `dir`, all the same position PNG (written
// once), with their names and frames added to `labeling`.
inline QList<QFileInfo> images_for(const QString& dir, Labeling& labeling, const QList<Frame>& frames)
{
    QList<QFileInfo> list;
    for (int i = 0; i < frames.size(); ++i) {
        const QString name = QString("img%1.png").arg(i);
        const QString path = QDir(dir).filePath(name);
        if (!QFileInfo::exists(path))
            write_position_png(path);
        list << QFileInfo(path);
        labeling.frame_names.push_back(name);
        labeling.frames.insert(name, frames.at(i));
    }
    return list;
}

// Every file and folder below `root`, as paths relative to it, links not followed.
inline QSet<QString> tree(const QString& root)
{
    QSet<QString> out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out.insert(QDir(root).relativeFilePath(it.next()));
    return out;
}

// The files (not folders) below `root`, relative to it.
inline QStringList files_below(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

} // namespace cropfixture
