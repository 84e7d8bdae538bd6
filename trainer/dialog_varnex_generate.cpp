// Generation of the darknet training folder "data" from the open project, and
// the augmentation settings whose samples it adds.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "dataset_generator.h"
#include "dialog_dataset_gen.h"
#include "training_folder.h"
#include "training_folder_writer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>

namespace {

// Why a generation did not run, as one line on stderr.
void say_not_generated(const QString& why)
{
    std::fprintf(stderr, "[Varnex] : %s: nothing generated\n", why.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

// Generates the training folder, when one was chosen, with Generate and the
// model box disabled while it runs.
void DialogVarnex::on_pushButton_GenerateTrainingFiles_clicked()
{
    // A generation lets events run, and the launcher's "gen" button calls this
    // slot directly: a nested generation would remove "data" while it is
    // being written.
    if (generating)
        return;
    ui->pushButton_GenerateTrainingFiles->setEnabled(false);
    ui->comboBox_model->setEnabled(false);

    const QString dir = train_dir;
    if (!train_dir_chosen || dir.isEmpty()) {
        say_not_generated("no training folder chosen (state key \"path_gen\" or Browse Training File)");
        // A user looking at the dialog is told too; never in a run without a
        // window, where nobody could answer the box.
        if (isVisible()) {
            QMessageBox box;
            box.setText("Please select training file location");
            box.exec();
        }
    } else if (!QFileInfo(dir).isDir()) {
        // Like every other write that fails, said on stderr only.
        say_not_generated("training folder " + dir + " does not exist");
    } else {
        generating = true;
        generate_trainingFile(dir);
        ui->label_Generate_text->setText(dir);
    }

    generating = false;
    ui->pushButton_GenerateTrainingFiles->setEnabled(true);
    ui->comboBox_model->setEnabled(true);
}

// Rebuilds "data" in `trainDir`: every image of the project and, with "Auto
// Gen", its augmented samples, one pair at a time; then the lists and the
// network descriptions. Events run after every pair and every image.
void DialogVarnex::generate_trainingFile(QString trainDir)
{
    if (!QFileInfo(trainDir).isDir()) {
        say_not_generated("training folder " + trainDir + " does not exist");
        return;
    }

    // The class list of the whole run: obj.names, the class count and every
    // label line agree even if a class is added while events run.
    std::vector<QString> classes;
    {
        QMutexLocker lock(&mutex);
        classes = labeling.classes;
    }
    TrainingFolderWriter writer(trainDir, classes);
    if (!writer.prepare()) {
        std::fprintf(stderr, "[Varnex] : cannot create %s: nothing generated\n",
                     QFile::encodeName(writer.img_dir()).constData());
        return;
    }

    const int n = frame_count;
    ui->progressBar->setValue(0);
    for (int i = 0; i < n; ++i) {
        // The listing and the names must both hold image i (they always do
        // after a folder was opened; never read past either).
        if (i >= image_files.size())
            break;
        // Moving the slider shows image i: its handler reads and stores it,
        // and the generation goes on with that read. The slider stays where it
        // is for the first image, so that one is read here.
        QSlider* slider = ui->horizontalSlider_frame;
        const bool moves = slider->value() != i + 1;
        slider->setValue(i + 1);
        const bool shown = moves && slider->value() == i + 1;
        if (!shown) {
            QMutexLocker lock(&mutex);
            cur_index = i;
        }
        const cv::Mat image = shown ? cur_image : getFrame(i, true);

        Frame frame;
        bool named = false;
        {
            QMutexLocker lock(&mutex);
            if (i < static_cast<int>(labeling.frame_names.size())) {
                frame = labeling.frames[labeling.frame_names[static_cast<size_t>(i)]];
                named = true;
            }
        }
        if (!named)
            break;

        if (!image.empty()) {
            writer.write_pair(image, frame, ui->groupBox_export_segment->isChecked(), ui->spinBox_seg_size->value());
            QCoreApplication::processEvents();
            if (ui->groupBox_auto_gen->isChecked()) {
                dataset_generator->dialog->for_each_auto_gen(image, frame, [&](AugmentedSample sample) {
                    writer.write_pair(sample.first, sample.second, ui->groupBox_export_segment->isChecked(),
                                      ui->spinBox_seg_size->value());
                    sample = AugmentedSample();
                    QCoreApplication::processEvents();
                    return true;
                });
            }
        }

        ui->progressBar->setValue((i + 1) * 100 / n);
        show_log(gen_progress_text(ui->progressBar->value()));
        QCoreApplication::processEvents();
    }

    writer.finish();
    if (writer.pairs_not_written() > 0)
        std::fprintf(stderr, "[Varnex] : %d of %d pairs could not be written; they are left out of train.txt\n",
                     writer.pairs_not_written(), writer.pairs());

    generate_cfg_file(ui->comboBox_model->currentText(), static_cast<int>(classes.size()), writer.data_dir());
}

// Removes a folder with its content, never through a symbolic link.
bool DialogVarnex::removeDir(const QString& dir)
{
    return remove_dir_tree(dir);
}

// Opens the augmentation settings with a preview on a copy of the current
// image and its objects.
void DialogVarnex::on_pushButton_gen_setting_clicked()
{
    if (labeling.frames.isEmpty() || cur_image.empty())
        return;
    if (cur_index < 0 || cur_index >= static_cast<int>(labeling.frame_names.size()))
        return;
    const cv::Mat image = cur_image.clone();
    const Frame frame = labeling.frames[labeling.frame_names[static_cast<size_t>(cur_index)]];
    dataset_generator->show_dataset_gen(image, frame);
}
