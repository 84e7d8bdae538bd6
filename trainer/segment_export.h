#pragma once
// The segmentation and classification images that training-folder generation
// writes per pair (image and Frame) when "Export segment" is checked:
//   sid + "_leftImg8bit.png"       the image resized to S x S (bilinear)
//   sid + "_gtFine_instanceIds.png" 8-bit, S wide and K*S high: the mask of
//                                   class k (order of `classes`) in rows
//                                   k*S .. (k+1)*S-1, 255 on its objects
//   cid + ids + ".jpg"             the pair's 640 x 640 image
// sid is a braced UUID text, cid a UUID with "_", "{", "}", "-" removed, ids
// "_" + the class id of every object drawn, class by class and within a class
// in Frame order, or "_" + the id of "OTHER" when none was drawn.

#include "labeling.h"

#include <QMap>
#include <QString>

#include <opencv2/core.hpp>

#include <vector>

// A fresh UUID text with every "_", "{", "}" and "-" removed: 32 lower-case
// hexadecimal digits (the form of the class ids and of cid).
QString bare_uuid();

struct SegmentExportEntries {
    // imgDir + "/" + sid + "_leftImg8bit.png" + "\n", for "seg_train.txt";
    // empty when that pair (square image and instance-id image) was not
    // written, and always empty when there are no classes.
    QString segment_entry;
    // imgDir + "/" + cid + ids + ".jpg" (no "\n"), for "classif_train.txt";
    // empty when the copy was not written (a pair with many objects can make
    // the name longer than a file name may be).
    QString classif_entry;
};

// Writes the files of one pair into img_dir and returns the list entries of
// the files that were written; the caller appends the non-empty ones.
//   image      the pair's image (W x H) as the pair holds it
//   image640   its 640 x 640 copy
//   frame      the pair's objects: an object with 2 landmark points or fewer
//              fills its bbox, with 3 or more its polygon
//   classes    the class names (exact comparison with Object::label)
//   class_ids  class name, and "OTHER", to the 32-digit id of this generation
//   size       S, the side of the square outputs
// With no classes there is no mask to stack: the segmentation pair is skipped
// and the copy is named after "OTHER". Failures (an OpenCV exception, a write
// refused) are printed on stderr and never stop the caller.
SegmentExportEntries export_segment_pair(const cv::Mat& image, const cv::Mat& image640, const Frame& frame,
                                         const std::vector<QString>& classes,
                                         const QMap<QString, QString>& class_ids, const QString& img_dir,
                                         int size);
