#include "training_folder_writer.h"

#include "image_file.h"
#include "segment_export.h"
#include "training_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <new>
#include <random>

namespace {

void report_not_written(const QString& path, const QString& why)
{
    std::fprintf(stderr, "[Varnex] : cannot write %s: %s\n", QFile::encodeName(path).constData(),
                 why.toLocal8Bit().constData());
}

// Replaces `path` with `text` in UTF-8; false, with one stderr line naming the
// file, when it could not be written whole.
bool write_text_file(const QString& path, const QString& text)
{
    QString why;
    if (write_file_atomically(path, text.toUtf8(), kOutputFile, &why))
        return true;
    report_not_written(path, why);
    return false;
}

bool write_jpeg(const QString& path, const cv::Mat& image)
{
    QString why;
    if (write_image_file(path, image, kOutputFile, &why))
        return true;
    report_not_written(path, why);
    return false;
}

} // namespace

QString label_text(const Frame& frame, const std::vector<QString>& classes, int width, int height)
{
    QString text;
    for (const Object& object : frame) {
        const int k = class_index_of(classes, object.label);
        if (k >= 0)
            text += label_line(k, object, width, height) + "\n";
    }
    return text;
}

TrainingFolderWriter::TrainingFolderWriter(const QString& train_dir, const std::vector<QString>& classes)
    : data_dir_(train_dir + "/data"), img_dir_(train_dir + "/data/img"), classes_(classes)
{
}

bool TrainingFolderWriter::prepare()
{
    remove_dir_tree(data_dir_); // leftovers of a removal that failed stay; the lists name only this run's files
    QDir().mkdir(data_dir_);
    QDir().mkdir(img_dir_);
    QDir().mkdir(data_dir_ + "/backup");

    class_id_list_.clear();
    class_ids_.clear();
    for (const QString& name : classes_) {
        const QString id = bare_uuid();
        class_id_list_ << id;
        class_ids_[name] = id;
    }
    const QString other = bare_uuid();
    class_id_list_ << other;
    class_ids_["OTHER"] = other;

    const QFileInfo img(img_dir_);
    return img.isDir() && !img.isSymLink();
}

bool TrainingFolderWriter::write_pair(const cv::Mat& image, const Frame& frame, bool export_segment,
                                      int segment_size)
{
    ++pairs_;
    const QString uuid = QUuid::createUuid().toString();
    const QString jpg = img_dir_ + "/" + uuid + ".jpg";
    bool written = false;
    try {
        cv::Mat image640;
        cv::resize(image, image640, cv::Size(640, 640), 0, 0, cv::INTER_LINEAR);
        written = write_jpeg(jpg, image640);
        if (export_segment) {
            const SegmentExportEntries e =
                export_segment_pair(image, image640, frame, classes_, class_ids_, img_dir_, segment_size);
            if (!e.segment_entry.isEmpty())
                segment_list_ << e.segment_entry;
            if (!e.classif_entry.isEmpty())
                classif_list_ << e.classif_entry;
        }
    } catch (const cv::Exception& e) {
        report_not_written(jpg, QString::fromLocal8Bit(e.what()));
        written = false;
    } catch (const std::bad_alloc&) {
        report_not_written(jpg, QStringLiteral("out of memory"));
        written = false;
    }

    if (written) {
        const QString txt = img_dir_ + "/" + uuid + ".txt";
        if (write_text_file(txt, label_text(frame, classes_, image.cols, image.rows))) {
            image_list_ << "data/img/" + uuid + ".jpg\n";
            return true;
        }
        // An image without its label text would stop the training run.
        QFile::remove(jpg);
    }
    ++pairs_not_written_;
    return false;
}

void TrainingFolderWriter::finish()
{
    std::random_device device;
    std::mt19937 generator(device());

    std::shuffle(segment_list_.begin(), segment_list_.end(), generator);
    write_text_file(data_dir_ + "/seg_train.txt", segment_list_.join(QString()));

    std::shuffle(classif_list_.begin(), classif_list_.end(), generator);
    QString classif;
    for (const QString& entry : classif_list_)
        classif += entry + "\n";
    write_text_file(data_dir_ + "/classif_train.txt", classif);

    QString ids;
    for (const QString& id : class_id_list_)
        ids += id + "\n";
    write_text_file(data_dir_ + "/classif_train.names", ids);

    std::shuffle(image_list_.begin(), image_list_.end(), generator);
    write_text_file(data_dir_ + "/train.txt", image_list_.join(QString()));

    QString names;
    for (const QString& name : classes_)
        names += name + "\n";
    write_text_file(data_dir_ + "/obj.names", names);

    const int n = static_cast<int>(classes_.size());
    write_text_file(data_dir_ + "/obj.data", obj_data_text(n));
    write_text_file(data_dir_ + "/classes.data", QString::number(n));
}
