#pragma once
// The crop export's work, without any window: where each crop lies in its
// image, how the export folder and the crop files are named, and the run over
// an image list that writes one image file per labelled object.
// DialogExportCrop reads its options from the form and drives this run under
// its progress dialog.

#include "labeling.h"

#include <QFileInfo>
#include <QList>
#include <QString>

#include <opencv2/core.hpp>

#include <functional>

struct CropOptions {
    bool scale = true;      // "Scale" mode; false: "Constant"
    double scale_w = 1.0;   // Scale: the box width and height are multiplied
    double scale_h = 1.0;
    int expand_width = 0;   // Constant: pixels added to the box width and height
    int expand_height = 0;
    bool png = true;        // ".png", else ".jpg"
    bool same_folder = true; // every crop in the export folder, no per-class sub-folder
};

// The region cut out of an image of cols x rows pixels for a box:
//   cx = x + w/2, cy = y + h/2 (integer halves, toward zero);
//   Scale: W = w * scale_w, H = h * scale_h, truncated; Constant: W = w + ew, H = h + eh;
//   x0 = cx - W/2, y0 = cy - H/2, each raised to 0 when negative (the crop is
//   not moved back to centre the object);
//   when x0 + W reaches cols, W = cols - x0 - 1; when y0 + H reaches rows,
//   H = rows - y0 - 1 (one column or row short of the edge, on purpose).
// Returns false, leaving *region untouched, when the result has no pixels
// (W or H 0 or less) or starts outside the image; such an object is skipped.
// Computed in 64 bits, so boxes of any size from a ".gt" file are safe.
bool crop_region(const cv::Rect& box, int cols, int rows, const CropOptions& options, cv::Rect* region);

// The export folder of a run: chosen + "/export_crop_" + stamp, or, when that
// name is already taken, the same followed by "_2", "_3", ... so that a second
// run in the same second never writes into the first run's folder.
QString export_folder_name(const QString& chosen_dir, qint64 stamp);

// A crop file name: stamp, "_", the escaped label, "_", counter, ".png"/".jpg";
// at most 255 bytes however long the label (file_name_escape.h).
QString crop_file_name(qint64 stamp, const QString& label, int counter, bool png);

struct CropExportResult {
    bool completed = false; // every image was gone through (not cancelled, inputs valid)
    QString export_dir;     // the export folder of the run (it exists only once a crop was written)
    int written = 0;        // crop files written
    int skipped = 0;        // objects whose crop region had no pixels
    int failures = 0;       // folders that could not be created plus crops that could not be written
    QString first_failure;  // path of the first of those
};

// Called before image i (0-based) is handled; returns false to stop the run
// there (Cancel). May be empty.
typedef std::function<bool(int index)> CropProgress;

// Writes one crop per object of every image of the list, in list order, with
// the run's seconds stamp. Frames are looked up by file name without inserting
// into the labeling; an image without objects is not read; an unreadable image
// is skipped. Per-class counters (by the exact label) number the crops from 0;
// a skipped object does not advance its counter, a failed write does. Folders
// are created only as crops are written. Exceptions of OpenCV around the read,
// the crop and the write never leave this function: a failed read is an
// unreadable image, a failed crop or write a failure.
CropExportResult export_crops(const QString& chosen_dir, qint64 stamp, const QList<QFileInfo>& images,
                              const Labeling& labeling, const CropOptions& options,
                              const CropProgress& progress = CropProgress());
