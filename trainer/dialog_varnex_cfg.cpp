// Network descriptions ("train.cfg", "test.cfg", "version") filled from the
// embedded templates, and the batch defaults of each model.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "global_nomu_lib_yolo.h"
#include "network_description.h"

// Writes "train.cfg", "test.cfg" and "version" of `model_name` for `classes`
// classes into the data folder `train_dir_`, with the batch settings of the
// form.
void DialogVarnex::generate_cfg_file(QString model_name, int classes, QString train_dir_)
{
    write_network_description(model_name, classes, ui->spinBox_batch_size->value(),
                              ui->spinBox_subdivisions->value(), train_dir_);
}

// The tiny and small-input families train with batch 64 in 8 subdivisions,
// the large models with 4 in 4; without a usable GPU always 4 in 4.
void DialogVarnex::on_comboBox_model_currentTextChanged(const QString& text)
{
    const BatchSettings s = model_batch_settings(text, GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok());
    ui->spinBox_batch_size->setValue(s.batch);
    ui->spinBox_subdivisions->setValue(s.subdivisions);
}

// The values are read when the description is generated.
void DialogVarnex::on_spinBox_batch_size_valueChanged(int) {}
void DialogVarnex::on_spinBox_subdivisions_valueChanged(int) {}
