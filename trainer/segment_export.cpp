#include "segment_export.h"

#include "box_geometry.h"
#include "image_file.h"

#include <QUuid>

#include <opencv2/imgproc.hpp>

#include <climits>
#include <cstdio>

namespace {

bool write_image(const QString& path, const cv::Mat& image)
{
    QString why;
    if (write_image_file(path, image, kOutputFile, &why))
        return true;
    std::fprintf(stderr, "[Varnex] : cannot write %s: %s\n", path.toUtf8().constData(), why.toUtf8().constData());
    return false;
}

} // namespace

QString bare_uuid()
{
    QString t = QUuid::createUuid().toString();
    t.remove('_').remove('{').remove('}').remove('-');
    return t;
}

SegmentExportEntries export_segment_pair(const cv::Mat& image, const cv::Mat& image640, const Frame& frame,
                                         const std::vector<QString>& classes,
                                         const QMap<QString, QString>& class_ids, const QString& img_dir,
                                         int size)
{
    SegmentExportEntries entries;
    QString cid = bare_uuid();
    bool found = false;

    if (!classes.empty() && size > 0) {
        const QString sid = QUuid::createUuid().toString();
        const QString left_path = img_dir + "/" + sid + "_leftImg8bit.png";
        const QString gt_path = img_dir + "/" + sid + "_gtFine_instanceIds.png";
        QString ids;
        bool drawn = false;
        try {
            cv::Mat square;
            cv::resize(image, square, cv::Size(size, size), 0, 0, cv::INTER_LINEAR);
            const bool left_ok = write_image(left_path, square);

            std::vector<cv::Mat> masks;
            for (const QString& name : classes) {
                cv::Mat mask(image.rows, image.cols, CV_8UC1, cv::Scalar(0));
                for (const Object& o : frame) {
                    if (o.label != name)
                        continue;
                    // Boxes and polygons as read may lie anywhere: only their
                    // part near the mask reaches OpenCV.
                    if (o.landmark.size() <= 2) {
                        const cv::Rect r = (Box64(o.bbox) & image_box(mask.size())).to_rect();
                        if (!r.empty())
                            cv::rectangle(mask, r, cv::Scalar(255), -1, cv::LINE_8, 0);
                    } else {
                        const std::vector<std::vector<cv::Point>> contours{clip_polygon(o.landmark, mask.size())};
                        if (!contours[0].empty())
                            cv::drawContours(mask, contours, 0, cv::Scalar(255), -1, cv::LINE_8, cv::noArray(),
                                             INT_MAX, cv::Point(0, 0));
                    }
                    ids += "_" + class_ids.value(o.label);
                }
                cv::resize(mask, mask, cv::Size(size, size), 0, 0, cv::INTER_LINEAR);
                masks.push_back(mask);
            }
            drawn = true;
            cv::Mat stacked;
            cv::vconcat(masks, stacked);
            const bool gt_ok = write_image(gt_path, stacked);
            if (left_ok && gt_ok)
                entries.segment_entry = left_path + "\n";
        } catch (const cv::Exception& e) {
            std::fprintf(stderr, "[Varnex] : segment export of %s: %s\n", sid.toUtf8().constData(), e.what());
        }
        // The copy is named after what was drawn; a pair whose masks could not
        // be built counts as one without objects.
        if (drawn && !ids.isEmpty()) {
            cid += ids;
            found = true;
        }
    }

    if (!found)
        cid += "_" + class_ids.value("OTHER");
    cid += ".jpg";
    const QString classif_path = img_dir + "/" + cid;
    if (write_image(classif_path, image640))
        entries.classif_entry = classif_path;
    return entries;
}
