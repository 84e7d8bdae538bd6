#pragma once
// Writes the darknet training folder "data" of one generation, pair by pair,
// without any window: the main dialog's generation reads the images and hands
// every pair (the image and its augmented samples) to this writer as it comes,
// so only one pair is alive at a time.
//
// Layout written into <training folder>/data:
//   img/<uuid>.jpg, img/<uuid>.txt  one 640 x 640 JPEG and one label text per
//                                   pair (<uuid> as QUuid::toString gives it)
//   backup/                         empty, for the trainer's weights
//   seg_train.txt                   shuffled list of the segmentation export
//   classif_train.txt               shuffled list of the classification export
//   classif_train.names             class ids of this run, then that of OTHER
//   train.txt                       shuffled "data/img/<uuid>.jpg" lines
//   obj.names, obj.data, classes.data
// Every text file is UTF-8.
//
// A pair whose JPEG or label text cannot be written is left out of
// "train.txt" (and its JPEG removed), because the training executable stops
// on an image or label text that the list names and that is missing.

#include "labeling.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <vector>

class TrainingFolderWriter {
public:
    // `classes` is the class list of the run (index = class, as in
    // obj.names); an object whose label is not in it gets no label line.
    TrainingFolderWriter(const QString& train_dir, const std::vector<QString>& classes);

    // Removes "data" (never following a symbolic link) and creates "data",
    // "data/img" and "data/backup" with single-level mkdir, so the training
    // folder itself must exist. Makes the class ids. Returns whether "data/img"
    // is a folder afterwards, that is whether any pair can be written.
    bool prepare();

    // Writes one pair: the image (W x H as given, 8-bit) resized to 640 x 640,
    // bilinear, as a JPEG of OpenCV's default quality, and its label text with
    // one line per object of a class, normalised by W and H. With
    // `export_segment` the segmentation and classification images of the pair
    // are written too (side `segment_size`). Returns whether the JPEG and the
    // label text were written and listed. Never throws.
    bool write_pair(const cv::Mat& image, const Frame& frame, bool export_segment = false, int segment_size = 256);

    // Writes the lists and descriptions, in this order: seg_train.txt,
    // classif_train.txt, classif_train.names, train.txt, obj.names, obj.data,
    // classes.data. One random generator, seeded once from std::random_device,
    // shuffles the three lists in the order they are written.
    void finish();

    QString data_dir() const { return data_dir_; }
    QString img_dir() const { return img_dir_; }
    // Pairs handed to write_pair, and those of them that were not written.
    int pairs() const { return pairs_; }
    int pairs_not_written() const { return pairs_not_written_; }
    // The class ids of this run: one per class in class order, then OTHER.
    const QStringList& class_id_list() const { return class_id_list_; }

private:
    QString data_dir_;
    QString img_dir_;
    std::vector<QString> classes_;
    QStringList class_id_list_;
    QMap<QString, QString> class_ids_; // class name, and "OTHER", to its id
    QStringList image_list_;           // entries of train.txt, each ending in "\n"
    QStringList segment_list_;         // entries of seg_train.txt, each ending in "\n"
    QStringList classif_list_;         // entries of classif_train.txt, no "\n"
    int pairs_ = 0;
    int pairs_not_written_ = 0;
};

// The label text of a pair: one label line and "\n" per object of a class,
// in frame order, for an image of width x height pixels.
QString label_text(const Frame& frame, const std::vector<QString>& classes, int width, int height);
