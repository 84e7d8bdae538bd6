// Start weights of the user's choice, a training folder generated elsewhere,
// and the export of a trained model.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "model_export.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// A message box without parent or title that shows only the text, run
// modally.
void message(const QString& text)
{
    QMessageBox box;
    box.setText(text);
    box.exec();
}

const QFileDialog::Options kFolderOptions =
    QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks | QFileDialog::DontUseNativeDialog;

} // namespace

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

// Picks a start-weights file; the next dialog opens at the file picked.
void DialogVarnex::on_pushButton_weight_clicked()
{
    if (last_weight_dir.isEmpty())
        last_weight_dir = train_dir;
    const QString file = QFileDialog::getOpenFileName(this, "Load Ground Truth", last_weight_dir,
                                                      "Weight File (*.backup *.weights)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (file.isEmpty())
        return;
    weight_path = file;
    last_weight_dir = file;
    ui->label_wg_text_2->setText(file);
}

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

// Picks an existing training folder: it must hold "data/obj.data" and
// "data/train.cfg".
void DialogVarnex::on_pushButton_Browse_Train_File_clicked()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Select Folder to Export Training File", train_dir, kFolderOptions);
    if (folder.isEmpty())
        return;
    if (!QFile::exists(folder + "/data/obj.data")) {
        message("obj.data is missing");
    } else if (!QFile::exists(folder + "/data/train.cfg")) {
        message("train.cfg is missing");
    } else {
        ui->label_Generate_text->setText(folder);
        train_dir = folder;
        train_dir_chosen = true;
    }
}

// Copies the trained model ("obj.names", "test.cfg", the last backup as
// "train.weights") into a folder of the user's choice, all three or none;
// what is missing, could not be read or could not be written is shown in one
// message.
void DialogVarnex::on_pushButton_Export_clicked()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Select Folder to Export Train File", train_dir, kFolderOptions);
    if (folder.isEmpty())
        return;
    // An empty text names no training folder (it would read from "/data").
    QString training_folder = ui->label_Generate_text->text();
    if (training_folder.isEmpty())
        training_folder = "No path selected";
    if (is_training_data_folder(training_folder, folder)) {
        message("Cannot export into the training data folder");
        return;
    }
    const QString text = export_model(training_folder, folder);
    if (!text.isEmpty())
        message(text);
}
