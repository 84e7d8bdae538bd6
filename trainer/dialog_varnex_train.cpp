// The training run: start and stop the training command, follow its output,
// report the status line every second, and keep the buttons in step.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

// Starts training on the chosen training folder. Not built yet: starts
// nothing.
void DialogVarnex::on_pushButton_Train_clicked() {}

// Stops the running training. Not built yet: does nothing.
void DialogVarnex::on_pushButton_Train_Stop_clicked() {}

// Output of the training command. Not built yet: the data stays unread.
void DialogVarnex::stdoutReady() {}
void DialogVarnex::stderrReady() {}

// State changes of the training command. Not built yet.
void DialogVarnex::processStateChanged(QProcess::ProcessState state)
{
    Q_UNUSED(state);
}

// Elapsed time, status line and stop-file poll, every second of a run. Not
// built yet.
void DialogVarnex::updateTimeElape() {}

// Every 500 ms: while training runs, only Stop is usable in the Train group
// (and Generate is off); otherwise Train and the two check boxes are, and
// Generate follows the generating flag unless another training folder is in
// use. The slider works only with images to move through.
void DialogVarnex::loopTimerUpdateTrainWindow()
{
    if (train_process.state() != QProcess::NotRunning) {
        ui->pushButton_Train->setEnabled(false);
        ui->checkBox_use_other_location->setEnabled(false);
        ui->checkBox_use_default_wg->setEnabled(false);
        ui->pushButton_GenerateTrainingFiles->setEnabled(false);
        ui->pushButton_Train_Stop->setEnabled(true);
    } else {
        ui->pushButton_Train_Stop->setEnabled(false);
        ui->pushButton_Train->setEnabled(true);
        ui->checkBox_use_default_wg->setEnabled(true);
        ui->checkBox_use_other_location->setEnabled(true);
        if (!ui->checkBox_use_other_location->isChecked())
            ui->pushButton_GenerateTrainingFiles->setEnabled(!generating);
    }
    ui->horizontalSlider_frame->setEnabled(frame_count >= 1);
}
