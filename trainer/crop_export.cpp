#include "crop_export.h"

#include "bounded_image.h"
#include "file_name_escape.h"
#include "image_file.h"

#include <QDir>
#include <QMap>

#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <cstdio>

namespace {

// Far beyond any image, far below the 64-bit limit even when added twice.
constexpr long long kHuge = 1000000000000000000LL;

long long scaled(int length, double factor)
{
    const double v = static_cast<double>(length) * factor;
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(kHuge))
        return kHuge;
    if (v <= -static_cast<double>(kHuge))
        return -kHuge;
    return static_cast<long long>(v); // truncation toward zero
}

bool path_taken(const QString& path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

} // namespace

bool crop_region(const cv::Rect& box, int cols, int rows, const CropOptions& options, cv::Rect* region)
{
    if (cols <= 0 || rows <= 0)
        return false;
    const long long cx = static_cast<long long>(box.x) + box.width / 2;
    const long long cy = static_cast<long long>(box.y) + box.height / 2;
    long long w, h;
    if (options.scale) {
        w = scaled(box.width, options.scale_w);
        h = scaled(box.height, options.scale_h);
    } else {
        w = static_cast<long long>(box.width) + options.expand_width;
        h = static_cast<long long>(box.height) + options.expand_height;
    }
    long long x0 = cx - w / 2;
    long long y0 = cy - h / 2;
    if (x0 < 0)
        x0 = 0;
    if (y0 < 0)
        y0 = 0;
    if (x0 + w >= cols)
        w = cols - x0 - 1;
    if (y0 + h >= rows)
        h = rows - y0 - 1;
    if (w <= 0 || h <= 0 || x0 >= cols || y0 >= rows)
        return false;
    // Here x0 + w < cols and y0 + h < rows, so everything fits an int.
    *region = cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(w), static_cast<int>(h));
    return true;
}

QString export_folder_name(const QString& chosen_dir, qint64 stamp)
{
    QString base = chosen_dir;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    base += QStringLiteral("export_crop_") + QString::number(stamp);
    if (!path_taken(base))
        return base;
    for (int k = 2;; ++k) {
        const QString candidate = base + QLatin1Char('_') + QString::number(k);
        if (!path_taken(candidate))
            return candidate;
    }
}

namespace {

QString file_name_of(qint64 stamp, const QString& escaped_label, int counter, bool png)
{
    return QString::number(stamp) + QLatin1Char('_') + escaped_label + QLatin1Char('_') + QString::number(counter) +
           (png ? QStringLiteral(".png") : QStringLiteral(".jpg"));
}

} // namespace

QString crop_file_name(qint64 stamp, const QString& label, int counter, bool png)
{
    return file_name_of(stamp, escape_file_name(label), counter, png);
}

CropExportResult export_crops(const QString& chosen_dir, qint64 stamp, const QList<QFileInfo>& images,
                              const Labeling& labeling, const CropOptions& options, const CropProgress& progress)
{
    CropExportResult result;
    if (chosen_dir.isEmpty())
        return result; // no folder chosen: nothing to write into
    result.export_dir = export_folder_name(chosen_dir, stamp);

    auto fail = [&result](const QString& path) {
        if (result.failures == 0)
            result.first_failure = path;
        ++result.failures;
    };

    // The progress callback lets events run, and they may change the caller's
    // list; go through the list as it was at the start.
    const QList<QFileInfo> list = images;
    QMap<QString, int> counters; // crops per exact class name in this run
    // The escaped names per class name: a long label's cut name hashes the
    // whole label, once per run.
    struct Names {
        QString in_file;
        QString folder;
    };
    QMap<QString, Names> names;
    for (int i = 0; i < list.size(); ++i) {
        if (progress && !progress(i))
            return result;

        const auto found = labeling.frames.constFind(list.at(i).fileName());
        if (found == labeling.frames.constEnd() || found->empty())
            continue;
        const Frame objects = *found; // events may run between images; work on a copy

        QString why;
        const cv::Mat image = bounded_image::read_color_image(list.at(i).absoluteFilePath(), &why);
        if (image.empty()) {
            std::fprintf(stderr, "[Varnex] : cannot read image: %s\n", why.toUtf8().constData());
            continue;
        }

        for (const Object& object : objects) {
            int& counter = counters[object.label]; // a new name starts at 0
            cv::Rect region;
            if (!crop_region(object.bbox, image.cols, image.rows, options, &region)) {
                ++result.skipped;
                continue;
            }
            auto named = names.find(object.label);
            if (named == names.end())
                named = names.insert(object.label, Names{escape_file_name(object.label), escape_folder_name(object.label)});
            const QString folder = options.same_folder ? result.export_dir
                                                       : result.export_dir + QLatin1Char('/') + named->folder;
            const QString file = folder + QLatin1Char('/') + file_name_of(stamp, named->in_file, counter, options.png);
            ++counter; // numbers are handed out whether or not the write succeeds

            if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
                fail(folder);
                continue;
            }
            QString why;
            if (write_image_file(file, image(region), kOutputFile, &why)) {
                ++result.written;
            } else {
                std::fprintf(stderr, "[Varnex] : cannot write %s: %s\n", file.toUtf8().constData(),
                             why.toUtf8().constData());
                fail(file);
            }
        }
    }
    result.completed = true;
    return result;
}
