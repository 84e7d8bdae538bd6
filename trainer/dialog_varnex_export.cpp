// Start weights of the user's choice, a training folder generated elsewhere,
// and the export of a trained model.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

void DialogVarnex::on_checkBox_use_default_wg_stateChanged(int state)
{
    if (state != Qt::Unchecked) {
        ui->label_wg_text_2->setText(weight_path);
        ui->pushButton_weight->setEnabled(true);
        ui->label_wg_text_2->show();
    } else {
        ui->label_wg_text_2->hide();
        ui->pushButton_weight->setEnabled(false);
        ui->label_wg_text_2->setText(weight_path);
    }
}

// Picks a start-weights file. Not built yet: does nothing.
void DialogVarnex::on_pushButton_weight_clicked() {}

void DialogVarnex::on_checkBox_use_other_location_stateChanged(int state)
{
    if (state != Qt::Unchecked) {
        ui->pushButton_GenerateTrainingFiles->setEnabled(false);
        ui->progressBar->setEnabled(false);
        ui->pushButton_Browse_Train_File->setEnabled(true);
    } else {
        ui->pushButton_GenerateTrainingFiles->setEnabled(true);
        ui->progressBar->setEnabled(true);
        ui->pushButton_Browse_Train_File->setEnabled(false);
        ui->label_Generate_text->setText("No path selected");
    }
}

// Picks an existing training folder. Not built yet: does nothing.
void DialogVarnex::on_pushButton_Browse_Train_File_clicked() {}

// Copies the trained model into a folder of the user's choice. Not built yet:
// does nothing.
void DialogVarnex::on_pushButton_Export_clicked() {}
