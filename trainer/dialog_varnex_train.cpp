// The training run: start and stop the training command, follow its output,
// report the status line every second, and keep the buttons in step.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "atomic_file.h"
#include "exchange_check.h"
#include "exchange_files.h"
#include "global_nomu_lib_yolo.h"
#include "network_description.h"
#include "progress_parser.h"
#include "train_command.h"
#include "train_status.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTextCursor>

namespace {

const char* const kStopFile = trainer_exchange::kStopFile;
const char* const kNoPath = "No path selected";

// Adds text at the end of the console exactly as it stands (no paragraph of
// its own), so that the console shows the executable's output unchanged.
void console_append(QTextEdit* console, const QString& text)
{
    console->moveCursor(QTextCursor::End);
    console->insertPlainText(text);
    console->moveCursor(QTextCursor::End);
}

// A message box without parent or title. It is application-modal but does
// not block the caller: the train operation also runs inside the launcher's
// constructor (the word "train"), where a nested event loop would hold up the
// rest of the start-up.
void show_modal_message(const QString& text)
{
    auto* box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setText(text);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

} // namespace

void DialogVarnex::on_pushButton_Train_clicked()
{
    if (generating)
        return; // a generation lets events run; training would read a half-written "data"
    exchange_check::remove_exchange_file(kStopFile, "train");

    iteration = 0;
    gpu = false;
    avg_loss = 999;
    ui->label_avg->setText("");
    ui->label_iteration->setText("");

    // An empty folder text would run in the program's own working folder: it
    // counts as no folder chosen.
    QString folder = ui->label_Generate_text->text();
    if (folder.isEmpty())
        folder = kNoPath;
    const QString data_dir = data_folder_of(folder);
    const int classes = read_class_count(data_dir + "/classes.data");

    // Regenerating with no class count would replace valid descriptions by
    // ones with classes=-1. Without a folder there is nothing to regenerate.
    bool override_skipped = false;
    if (ui->checkBox_override_parameter->isChecked() && folder != kNoPath) {
        if (classes > 0) {
            if (override_cfg_hook)
                override_cfg_hook(ui->comboBox_model->currentText(), classes, data_dir);
            else
                generate_cfg_file(ui->comboBox_model->currentText(), classes, data_dir);
        } else {
            override_skipped = true;
        }
    }

    const QString model_text = read_model_text(folder);

    QTextEdit* console = ui->textEdit_train_console;
    console->clear();
    const StartWeights start = start_weights_for(model_text);
    console_append(console, start.console_prefix + model_text + "\n");
    if (override_skipped)
        console_append(console, "override parameters: " + data_dir +
                                    "/classes.data is missing or holds no class count; "
                                    "train.cfg and test.cfg are left as they are\n");
    QString weights = start_weights_folder() + start.file;

    QString executable = train_executable(false);
    if (GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok()) {
        executable = train_executable(true);
        gpu = true;
    }

    if (folder == kNoPath) {
        show_modal_message("Please select training file location");
        return;
    }

    if (ui->checkBox_use_default_wg->isChecked() && ui->label_wg_text_2->text() != "Default")
        weights = ui->label_wg_text_2->text();

    // A protected description is handed over in clear text, as "train.cfg" in
    // a folder only this user can read, so the executable still names its
    // backup "train.backup". The folder goes when the process has ended.
    QString description = "data/train.cfg";
    std::unique_ptr<QTemporaryDir> clear_dir;
    {
        const QString text = read_text_file(folder + "/data/train.cfg");
        if (is_protected_description(text)) {
            clear_dir.reset(new QTemporaryDir(QDir::tempPath() + "/nomu_train_cfg-XXXXXX"));
            const QString clear_cfg = clear_dir->filePath("train.cfg");
            if (!clear_dir->isValid() ||
                !write_file_atomically(clear_cfg, deciphered_description(text).toUtf8(), kOutputFile)) {
                console_append(console, "Cannot write the deciphered network description into " +
                                            QDir::tempPath() + "\n");
                return;
            }
            description = clear_cfg;
        }
    }

    // A run already in progress is left alone.
    if (train_process.state() != QProcess::NotRunning)
        return;

    deciphered_cfg_dir = std::move(clear_dir);
    const QStringList argv = train_command_argv(executable, description, weights);
    train_process.setWorkingDirectory(folder);
    train_process.start(argv.first(), argv.mid(1), QIODevice::ReadWrite);
}

void DialogVarnex::on_pushButton_Train_Stop_clicked()
{
    train_process.terminate();
    ui->pushButton_GenerateTrainingFiles->setEnabled(true);
    if (exit_after_stop)
        QCoreApplication::exit(0);
}

void DialogVarnex::stdoutReady()
{
    // A partial line stays in the buffer until the rest of it arrives.
    if (!train_process.canReadLine())
        return;
    QTextEdit* console = ui->textEdit_train_console;
    if (console_needs_clearing(console->toPlainText()))
        console->clear();
    const QByteArray bytes = train_process.readAllStandardOutput();
    const QString chunk = QString::fromUtf8(bytes.constData()); // up to the first NUL
    console_append(console, chunk);

    const ProgressUpdate u = parse_progress_chunk(chunk);
    if (u.has_iteration) {
        ui->label_iteration->setText(u.iteration_label);
        iteration = u.iteration;
    }
    if (u.has_avg) {
        ui->label_avg->setText(u.avg_label);
        avg_loss = u.avg;
    }
}

void DialogVarnex::stderrReady()
{
    const QByteArray bytes = train_process.readAllStandardError();
    console_append(ui->textEdit_train_console, QString::fromUtf8(bytes.constData()));
}

void DialogVarnex::processStateChanged(QProcess::ProcessState state)
{
    if (state == QProcess::Running) {
        // The clock starts first and the timer is precise, so the first status
        // line, one second into the run, reads one second.
        elapsed_clock.restart();
        elapsed_timer.setTimerType(Qt::PreciseTimer);
        elapsed_timer.start(1000);
        return;
    }
    elapsed_timer.stop();
    if (state == QProcess::NotRunning) {
        console_append(ui->textEdit_train_console, "\n############ Stopped ##############");
        deciphered_cfg_dir.reset();
    }
}

void DialogVarnex::updateTimeElape()
{
    const qint64 s = elapsed_clock.nsecsElapsed() / 1000000000;
    ui->label_time_elape->setText(elapsed_text(s));
    show_log(quotes_escaped(train_state_json(s, avg_loss, iteration, gpu)));
    if (QFile::exists(kStopFile)) {
        exchange_check::remove_exchange_file(kStopFile, "train");
        on_pushButton_Train_Stop_clicked();
    }
}

// Every 500 ms: while training runs, only Stop is usable in the Train group
// (and Generate is off); otherwise Train and the two check boxes are, and
// Generate follows the generating flag unless another training folder is in
// use. The slider works only with images to move through.
//
// A run started by the word "train" that has ended by itself leaves the
// program up, and the status poll stopped with it: the stop file still ends
// the program here, as it would have ended the run.
void DialogVarnex::loopTimerUpdateTrainWindow()
{
    if (exit_after_stop && train_process.state() == QProcess::NotRunning && QFile::exists(kStopFile)) {
        exchange_check::remove_exchange_file(kStopFile, "train");
        on_pushButton_Train_Stop_clicked();
    }
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
