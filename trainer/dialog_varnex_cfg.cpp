// Network descriptions ("train.cfg", "test.cfg", "version") filled from the
// embedded templates, and the batch defaults of each model.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "global_nomu_lib_yolo.h"

// Writes "train.cfg", "test.cfg" and "version" of `model_name` for `classes`
// classes into the data folder `train_dir`. Not built yet: writes nothing.
void DialogVarnex::generate_cfg_file(QString model_name, int classes, QString train_dir_)
{
    Q_UNUSED(model_name);
    Q_UNUSED(classes);
    Q_UNUSED(train_dir_);
}

// The tiny and small-input families train with batch 64 in 8 subdivisions,
// the large models with 4 in 4; without a usable GPU always 4 in 4.
void DialogVarnex::on_comboBox_model_currentTextChanged(const QString& text)
{
    if (text.contains("tiny") || text.startsWith("NomuedDet") || text.startsWith("KVTRDet") ||
        text.startsWith("Fastest")) {
        ui->spinBox_batch_size->setValue(64);
        ui->spinBox_subdivisions->setValue(8);
    } else {
        ui->spinBox_batch_size->setValue(4);
        ui->spinBox_subdivisions->setValue(4);
    }
    if (!GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok()) {
        ui->spinBox_batch_size->setValue(4);
        ui->spinBox_subdivisions->setValue(4);
    }
}

// The values are read when the description is generated.
void DialogVarnex::on_spinBox_batch_size_valueChanged(int) {}
void DialogVarnex::on_spinBox_subdivisions_valueChanged(int) {}
