#include "dialog_dataset_gen.h"
#include "ui_dialog_dataset_gen.h"

#include "box_geometry.h"
#include "mat_qimage.h"

#include <QJsonValue>
#include <QPixmap>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <new>

DialogDatasetGen::DialogDatasetGen(QWidget* parent) : QDialog(parent), ui(new Ui::DialogDatasetGen)
{
    ui->setupUi(this);
}

DialogDatasetGen::~DialogDatasetGen()
{
    delete ui;
}

int DialogDatasetGen::show_dataset_gen(cv::Mat image_, Frame frame_)
{
    image = image_;
    frame = frame_;
    return exec();
}

// ---- settings -------------------------------------------------------------

QJsonObject DialogDatasetGen::get_setting()
{
    QJsonObject s;
    s.insert("thickness", QJsonValue(ui->spinBox_thickness->value()));
    s.insert("fixed_size", ui->checkBox_fix_width_height->isChecked());
    s.insert("grb_rotation", ui->groupBox_rotation->isChecked());
    s.insert("rot_min", ui->doubleSpinBox_rotation_min->value());
    s.insert("rot_max", ui->doubleSpinBox_rotation_max->value());
    s.insert("rot_step", ui->doubleSpinBox_rotation_step->value());
    s.insert("grb_contrast", ui->groupBox_contrast->isChecked());
    s.insert("contrast_min", ui->doubleSpinBox_contrast_min->value());
    s.insert("contrast_max", ui->doubleSpinBox_contrast_max->value());
    s.insert("contrast_step", ui->doubleSpinBox_contrast_step->value());
    s.insert("grb_noise", ui->groupBox_noise->isChecked());
    s.insert("noise_max", ui->doubleSpinBox_noise_max->value());
    s.insert("noise_step", ui->doubleSpinBox_noise_step->value());
    s.insert("grb_blur", ui->groupBox_blur->isChecked());
    s.insert("blur_max", ui->doubleSpinBox_blur_max->value());
    s.insert("blur_step", ui->doubleSpinBox_blur_step_min->value());
    return s;
}

void DialogDatasetGen::restore_setting(QJsonObject s)
{
    // Key by key, each applied at once: a spin box that changes runs its
    // slider slot right away, in this order. setChecked on a group box
    // emits no clicked(), so restoring does not redraw through the groups.
    ui->spinBox_thickness->setValue(s.value("thickness").toInt(0));
    ui->checkBox_fix_width_height->setChecked(s.value("fixed_size").toBool(false));
    ui->groupBox_rotation->setChecked(s.value("grb_rotation").toBool(false));
    ui->doubleSpinBox_rotation_min->setValue(s.value("rot_min").toDouble(0.0));
    ui->doubleSpinBox_rotation_max->setValue(s.value("rot_max").toDouble(0.0));
    ui->doubleSpinBox_rotation_step->setValue(s.value("rot_step").toDouble(0.0));
    ui->groupBox_contrast->setChecked(s.value("grb_contrast").toBool(false));
    ui->doubleSpinBox_contrast_min->setValue(s.value("contrast_min").toDouble(0.0));
    ui->doubleSpinBox_contrast_max->setValue(s.value("contrast_max").toDouble(0.0));
    ui->doubleSpinBox_contrast_step->setValue(s.value("contrast_step").toDouble(0.0));
    ui->groupBox_noise->setChecked(s.value("grb_noise").toBool(false));
    ui->doubleSpinBox_noise_max->setValue(s.value("noise_max").toDouble(0.0));
    ui->doubleSpinBox_noise_step->setValue(s.value("noise_step").toDouble(0.0));
    ui->groupBox_blur->setChecked(s.value("grb_blur").toBool(false));
    ui->doubleSpinBox_blur_max->setValue(s.value("blur_max").toDouble(0.0));
    ui->doubleSpinBox_blur_step_min->setValue(s.value("blur_step").toDouble(0.0));
}

AugmentSettings DialogDatasetGen::current_settings() const
{
    AugmentSettings s;
    s.rotation = ui->groupBox_rotation->isChecked();
    s.rotation_min = ui->doubleSpinBox_rotation_min->value();
    s.rotation_max = ui->doubleSpinBox_rotation_max->value();
    s.rotation_step = ui->doubleSpinBox_rotation_step->value();
    s.contrast = ui->groupBox_contrast->isChecked();
    s.contrast_min = ui->doubleSpinBox_contrast_min->value();
    s.contrast_max = ui->doubleSpinBox_contrast_max->value();
    s.contrast_step = ui->doubleSpinBox_contrast_step->value();
    s.noise = ui->groupBox_noise->isChecked();
    s.noise_max = ui->doubleSpinBox_noise_max->value();
    s.noise_step = ui->doubleSpinBox_noise_step->value();
    s.blur = ui->groupBox_blur->isChecked();
    s.blur_max = ui->doubleSpinBox_blur_max->value();
    s.blur_step = ui->doubleSpinBox_blur_step_min->value();
    s.fixed_size = ui->checkBox_fix_width_height->isChecked();
    return s;
}

// ---- image operations and generator --------------------------------------

cv::Mat DialogDatasetGen::get_noise(cv::Mat image_, double sigma)
{
    return augment_noise(image_, sigma);
}

cv::Mat DialogDatasetGen::get_contrast(cv::Mat image_, double alpha)
{
    return augment_contrast(image_, alpha);
}

cv::Mat DialogDatasetGen::get_blur(cv::Mat image_, int n)
{
    return augment_blur(image_, n);
}

std::pair<cv::Mat, Frame> DialogDatasetGen::get_rotation(cv::Mat image_, Frame frame_, double degrees)
{
    return augment_rotation(image_, frame_, degrees, ui->checkBox_fix_width_height->isChecked());
}

int DialogDatasetGen::for_each_auto_gen(cv::Mat image_, Frame frame_, const AugmentedSampleConsumer& consumer,
                                        QString* error)
{
    return for_each_augmented_sample(image_, frame_, current_settings(), consumer, error);
}

std::vector<std::pair<cv::Mat, Frame>> DialogDatasetGen::get_auto_gen(cv::Mat image_, Frame frame_)
{
    std::vector<std::pair<cv::Mat, Frame>> result;
    for_each_auto_gen(image_, frame_, [&result](AugmentedSample sample) {
        result.push_back(std::move(sample));
        return true;
    });
    return result;
}

// ---- preview --------------------------------------------------------------

cv::Mat DialogDatasetGen::render_preview()
{
    if (image.empty())
        return cv::Mat();
    Frame objects = frame;
    cv::Mat img = image.clone();

    // The preview's own order, each checked group at its slider's value.
    if (ui->groupBox_rotation->isChecked()) {
        std::pair<cv::Mat, Frame> rotated = get_rotation(img, objects, ui->horizontalSlider_rotation->value());
        img = rotated.first;
        objects = rotated.second;
    }
    if (ui->groupBox_noise->isChecked())
        img = get_noise(img, ui->horizontalSlider_noise->value());
    if (ui->groupBox_contrast->isChecked())
        img = get_contrast(img, ui->horizontalSlider_contrast->value() / 10.0);
    if (ui->groupBox_blur->isChecked())
        img = get_blur(img, ui->horizontalSlider_blur->value());

    // Line sizes follow the width of what is shown.
    const int thickness = std::max(1, ui->spinBox_thickness->value() * img.cols / 500);
    const int radius = std::max(1, 2 * img.cols / 640);
    // The boxes as cv::rectangle draws a cv::Rect (last column and row
    // inside, nothing for a size of 0 or less), in 64 bits: they may lie
    // anywhere.
    for (const Object& object : objects) {
        const Box64 box(object.bbox);
        if (!box.empty())
            draw_rectangle(img, box.x, box.y, box.right() - 1, box.bottom() - 1, object.color, thickness,
                           cv::LINE_8);
        draw_circle(img, object.center, radius, cv::Scalar(255, 0, 0), thickness, cv::LINE_8);
        for (const cv::Point& point : object.landmark)
            draw_circle(img, point, radius, cv::Scalar(0, 255, 255), thickness, cv::LINE_8);
    }
    return img;
}

void DialogDatasetGen::update_display()
{
    if (image.empty())
        return;
    cv::Mat shown;
    try {
        shown = render_preview();
    } catch (const cv::Exception& e) {
        // A preview that cannot be drawn keeps the previous picture.
        std::fprintf(stderr, "[Varnex] : augmentation preview failed: %s\n", e.what());
        return;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "[Varnex] : augmentation preview failed: out of memory\n");
        return;
    }
    const QPixmap pixmap = QPixmap::fromImage(cv_mat_to_qimage(shown));
    ui->label_img->setPixmap(pixmap.scaled(ui->label_img->size(), Qt::KeepAspectRatio, Qt::FastTransformation));
    ui->label_img->setScaledContents(false);
}

void DialogDatasetGen::resizeEvent(QResizeEvent*)
{
    update_display();
}

void DialogDatasetGen::showEvent(QShowEvent*)
{
    update_display();
}

// ---- slots: the sliders follow their boxes, and redraw ---------------------

void DialogDatasetGen::on_horizontalSlider_rotation_valueChanged(int)
{
    update_display();
}

void DialogDatasetGen::on_doubleSpinBox_rotation_min_valueChanged(double value)
{
    ui->horizontalSlider_rotation->setMinimum(int(value));
}

void DialogDatasetGen::on_doubleSpinBox_rotation_max_valueChanged(double value)
{
    ui->horizontalSlider_rotation->setMaximum(int(value));
}

void DialogDatasetGen::on_doubleSpinBox_rotation_step_valueChanged(double value)
{
    ui->horizontalSlider_rotation->setSingleStep(int(value));
    ui->doubleSpinBox_rotation_min->setSingleStep(value);
    ui->doubleSpinBox_rotation_max->setSingleStep(value);
}

void DialogDatasetGen::on_doubleSpinBox_noise_step_valueChanged(double value)
{
    ui->horizontalSlider_noise->setSingleStep(int(value));
    ui->doubleSpinBox_noise_max->setSingleStep(value);
}

void DialogDatasetGen::on_doubleSpinBox_noise_max_valueChanged(double value)
{
    ui->horizontalSlider_noise->setMaximum(int(value));
}

void DialogDatasetGen::on_horizontalSlider_noise_valueChanged(int)
{
    update_display();
}

void DialogDatasetGen::on_groupBox_rotation_clicked(bool)
{
    update_display();
}

void DialogDatasetGen::on_groupBox_noise_clicked(bool)
{
    update_display();
}

void DialogDatasetGen::on_doubleSpinBox_contrast_min_valueChanged(double value)
{
    ui->horizontalSlider_contrast->setMinimum(int(value * 10));
}

void DialogDatasetGen::on_doubleSpinBox_contrast_max_valueChanged(double value)
{
    ui->horizontalSlider_contrast->setMaximum(int(value * 10));
}

void DialogDatasetGen::on_doubleSpinBox_contrast_step_valueChanged(double value)
{
    ui->horizontalSlider_contrast->setSingleStep(int(value * 10));
    ui->doubleSpinBox_contrast_min->setSingleStep(value);
    ui->doubleSpinBox_contrast_max->setSingleStep(value);
}

void DialogDatasetGen::on_horizontalSlider_contrast_valueChanged(int)
{
    update_display();
}

void DialogDatasetGen::on_doubleSpinBox_blur_step_min_valueChanged(double value)
{
    ui->horizontalSlider_blur->setSingleStep(int(value));
}

void DialogDatasetGen::on_doubleSpinBox_blur_max_valueChanged(double value)
{
    ui->horizontalSlider_blur->setMaximum(int(value));
}

void DialogDatasetGen::on_horizontalSlider_blur_valueChanged(int)
{
    update_display();
}

void DialogDatasetGen::on_spinBox_thickness_valueChanged(int)
{
    update_display();
}
