// The project: the image folder, moving between its images, the view, and the
// ground-truth file commands.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "bounded_image.h"
#include "cv_qimage.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPixmap>

#include <opencv2/imgcodecs.hpp>

namespace {

// The image types the project lists; QDir matches them in any letter case.
const QStringList kImageFilters = {"*.jpg",  "*.JPG",  "*.bmp",  "*.BMP",  "*.png", "*.PNG",
                                   "*.jpeg", "*.JPEG", "*.tiff", "*.TIFF", "*.tif", "*.TIF"};

// True when `file` is the file `other` names (links and "." resolved).
bool same_file(const QString& file, const QString& other)
{
    const QString a = QFileInfo(file).canonicalFilePath();
    return !a.isEmpty() && a == QFileInfo(other).canonicalFilePath();
}

} // namespace

void DialogVarnex::on_pushButton_loadImages_clicked()
{
    if (generating)
        return; // a generation lets events run and reads this project until it ends
    const QString dir =
        QFileDialog::getExistingDirectory(this, tr("Open Images Directory"), prj_path,
                                          QFileDialog::DontResolveSymlinks | QFileDialog::DontUseNativeDialog);
    if (dir.isEmpty())
        return;
    loadPrjoject(dir);
}

void DialogVarnex::loadPrjoject(QString path)
{
    ui->label_img_name->setText("");
    ui->label_prj_path->setText(path);
    prj_path = path;

    const QFileInfoList listing = QDir(path).entryInfoList(kImageFilters, QDir::Files | QDir::NoDotAndDotDot);
    // A folder without images keeps the open project: its listing, labels and
    // redraw stay consistent with each other.
    if (listing.isEmpty())
        return;

    try {
        im_window_timer->stop();

        // Built aside and swapped in whole, so the names, the frames and the
        // count never disagree.
        std::vector<QString> names;
        QMap<QString, Frame> frames;
        names.reserve(static_cast<size_t>(listing.size()));
        for (const QFileInfo& fi : listing) {
            names.push_back(fi.fileName());
            frames.insert(fi.fileName(), Frame());
        }
        image_files = listing;
        {
            QMutexLocker lock(&mutex);
            labeling.frame_names.swap(names);
            labeling.frames.swap(frames);
            // The selection and the clicked points belonged to the old images.
            labeling.active_object = -1;
            clicked_points.clear();
        }

        ui->horizontalSlider_frame->setMinimum(1);
        ui->horizontalSlider_frame->setValue(1);
        frame_count = listing.size();
        ui->horizontalSlider_frame->setMaximum(frame_count);
        ui->lineEdit_frameStatus->setText("1/" + QString::number(frame_count));

        {
            QMutexLocker lock(&mutex);
            cur_index = 0;
        }
        getFrame(0, true);
        copy_to_display();
        show_cur_img(display_image);
    } catch (...) {
        // Opening goes as far as it got; the previous image stays shown.
    }
    im_window_timer->start(10);
}

cv::Mat DialogVarnex::getFrame(int index, bool store)
{
    if (index < 0 || index >= image_files.size())
        return cv::Mat();
    const QFileInfo& fi = image_files[index];
    // Only a regular file within the image limits is decoded; anything else
    // is an unreadable image.
    QString why;
    cv::Mat image = bounded_image::read_color_image(fi.absoluteFilePath(), &why);
    ui->label_img_name->setText(fi.fileName());
    if (image.empty()) {
        std::fprintf(stderr, "[Varnex] : cannot read image: %s\n", why.toLocal8Bit().constData());
        image = cv::Mat(320, 240, CV_8UC3, cv::Scalar::all(0));
        ui->label_img_name->setText("Image error : " + fi.fileName());
    }
    // The stored image shares the pixels just read: nothing writes into
    // cur_image in place (the redraw draws on its own copy), and the next store
    // replaces it, so a caller holding the returned image keeps its pixels.
    if (store)
        cur_image = image;
    return image;
}

void DialogVarnex::on_horizontalSlider_frame_valueChanged(int value)
{
    ui->lineEdit_frameStatus->setText(QString::number(value) + "/" + QString::number(frame_count));
    {
        // Editing tasks read the index (under the mutex) from the thread pool.
        QMutexLocker lock(&mutex);
        cur_index = value - 1;
        labeling.active_object = -1;
        clicked_points.clear();
    }
    if (getFrame(value - 1, true).empty())
        return;
    // Nothing draws on the display image while the view is not shown (the
    // redraw waits until it is, and copies first): then the display image
    // shares the pixels instead of copying them. A generation moves through
    // every image so, with the dialog hidden in a "gen" run.
    if (view_shown())
        copy_to_display();
    else
        display_image = cur_image;
}

void DialogVarnex::on_pushButton_prev_clicked()
{
    ui->horizontalSlider_frame->setValue(ui->horizontalSlider_frame->value() - 1);
    QMutexLocker lock(&mutex);
    clicked_points.clear();
}

void DialogVarnex::on_pushButton_next_clicked()
{
    ui->horizontalSlider_frame->setValue(ui->horizontalSlider_frame->value() + 1);
    QMutexLocker lock(&mutex);
    clicked_points.clear();
}

void DialogVarnex::on_pushButton_close_clicked()
{
    hide();
}

void DialogVarnex::show_cur_img(cv::Mat image)
{
    if (image.empty())
        return;
    const QPixmap pixmap = cv_qimage::scaled_pixmap(image, ui->label_img->size());
    ui->label_img->setPixmap(pixmap);
    ui->label_img->setScaledContents(false);
}

void DialogVarnex::refill_class_picker()
{
    label_dialog.clear_rows();
    for (const QString& name : labeling.classes)
        label_dialog.setLabelItemp(name);
}

void DialogVarnex::on_pushButton_LoadGT_clicked()
{
    if (generating)
        return; // a generation lets events run and reads these labels until it ends
    const QString file = QFileDialog::getOpenFileName(this, tr("Load Ground Truth"), "", tr("Ground Truth (*.gt);;All Files (*)"),
                                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (file.isEmpty())
        return;

    // Loading replaces every image's labels: a file that is not ground truth
    // must not get that far.
    QJsonDocument doc;
    QString why;
    if (!parse_ground_truth(file, &doc, &why)) {
        show_ground_truth_failure(file, why);
        QMessageBox::warning(this, tr("Load Ground Truth"), "Cannot read ground truth: " + file + "\n" + why);
        return;
    }

    {
        QMutexLocker lock(&mutex);
        labeling.load_gt(file, &why);
    }
    show_ground_truth_failure(file, why);
    refill_class_picker();
    gt_path = file;
}

void DialogVarnex::show_ground_truth_failure(const QString& path, const QString& why)
{
    gt_failed_path = why.isEmpty() ? QString() : path;
    gt_failed_reason = why;
    ui->label_gt_notice->setText(why.isEmpty() ? QString() : "Cannot read ground truth: " + path + "\n" + why);
    ui->label_gt_notice->setVisible(!why.isEmpty());
}

void DialogVarnex::on_pushButton_saveGT_clicked()
{
    QString file = QFileDialog::getSaveFileName(this, tr("Save Ground Truth"), "", tr("Ground Truth (*.gt);;All Files (*)"),
                                                nullptr, QFileDialog::DontUseNativeDialog);
    if (file.isEmpty())
        return;
    const bool appended = file.length() <= 3 || !file.endsWith(".gt");
    if (appended)
        file += ".gt";
    // A file that failed to load still holds labels this window never had:
    // saving over it loses them, so the question says so.
    const bool unread = !gt_failed_path.isEmpty() && same_file(file, gt_failed_path);
    if (unread) {
        if (QMessageBox::question(this, tr("Save Ground Truth"),
                                  QFileInfo(file).fileName() + " could not be read when it was loaded:\n" +
                                      gt_failed_reason + "\nSaving replaces what it holds with the labels shown "
                                      "here.\nDo you want to replace it?",
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
            return;
    } else if (appended && QFileInfo::exists(file) &&
               // The file dialog asked only about the name as typed.
               QMessageBox::question(this, tr("Save Ground Truth"),
                                     QFileInfo(file).fileName() + " already exists.\nDo you want to replace it?",
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        return;
    }

    bool saved = false;
    QString why;
    {
        QMutexLocker lock(&mutex);
        saved = labeling.save_gt(file, &why);
    }
    if (!saved) {
        QMessageBox::warning(this, tr("Save Ground Truth"), "Failed to save ground truth: " + file + "\n" + why);
        return;
    }
    if (unread)
        show_ground_truth_failure(file, QString());
    gt_path = file;
}
