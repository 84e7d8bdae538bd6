#include "dialog_labeling_setting.h"
#include "ui_dialog_labeling_setting.h"

DialogLabelingSetting::DialogLabelingSetting(QWidget* parent) : QDialog(parent), ui(new Ui::DialogLabelingSetting)
{
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
}

DialogLabelingSetting::~DialogLabelingSetting()
{
    delete ui;
}

QJsonObject DialogLabelingSetting::get_settings()
{
    QJsonObject s;
    s["rect_thickness"] = ui->spinBox_rect_thickness->value();
    s["line_thickness"] = ui->spinBox_line_thickness->value();
    s["crosshair_thickness"] = ui->spinBox_crosshair_thickness->value();
    s["font_scale"] = ui->spinBox_font_scale->value();
    s["font_thickness"] = ui->spinBox_font_thickness->value();
    s["font_offset"] = ui->spinBox_font_offset->value();
    return s;
}

void DialogLabelingSetting::restore_setting(QJsonObject settings)
{
    ui->spinBox_rect_thickness->setValue(settings["rect_thickness"].toInt());
    ui->spinBox_line_thickness->setValue(settings["line_thickness"].toInt());
    ui->spinBox_crosshair_thickness->setValue(settings["crosshair_thickness"].toInt());
    ui->spinBox_font_scale->setValue(settings["font_scale"].toDouble());
    ui->spinBox_font_thickness->setValue(settings["font_thickness"].toInt());
    ui->spinBox_font_offset->setValue(settings["font_offset"].toInt());
}

void DialogLabelingSetting::on_spinBox_rect_thickness_valueChanged(int) {}
void DialogLabelingSetting::on_spinBox_line_thickness_valueChanged(int) {}
void DialogLabelingSetting::on_spinBox_font_thickness_valueChanged(int) {}
void DialogLabelingSetting::on_spinBox_font_offset_valueChanged(int) {}
void DialogLabelingSetting::on_spinBox_font_scale_valueChanged(double) {}
