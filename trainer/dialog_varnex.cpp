// Construction of the main dialog, the board probe, the status line and the
// dialog's own event handlers.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "dataset_generator.h"
#include "dialog_export_crop.h"
#include "dialog_labeling_setting.h"
#include "exchange_files.h"
#include "global_nomu_lib_yolo.h"
#include "resources.h"
#include "status_line.h"

#include <QDir>
#include <QIcon>
#include <QThread>

#include <opencv2/highgui.hpp>

#include <cstdio>

namespace {

const char* const kStatusLogPath = trainer_exchange::kStatusLog;

// Runs a short program, waits for it (at most 30 s) and returns its standard
// output up to the first NUL byte. A program that cannot be started gives "".
QString run_capture(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    const QByteArray out = p.readAllStandardOutput();
    return QString::fromUtf8(out.constData()); // stops at the first NUL
}

void print_line(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

DialogVarnex::DialogVarnex(QWidget* parent) : QDialog(parent), ui(new Ui::DialogVarnex)
{
    // The clicked points are coloured along the class palette.
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 3; ++c)
            palette_stops[r][c] = kClassPalette[r][c];
    key_poll = []() { return cv::waitKey(20); };

    nomu_pelto_varnex_init_resources();
    ui->setupUi(this);
    setWindowIcon(QIcon(":/nomu_pelto_varnex/images/icon.png"));

    dataset_generator = new DatasetGenerator(this);

    ui->tabWidget->setCurrentIndex(0);
    ui->label_wg_text_2->hide();
    ui->pushButton_weight->setEnabled(false);
    ui->pushButton_Browse_Train_File->setEnabled(false);
    ui->pushButton_Train_Stop->setEnabled(false);

    connect(&train_process, &QProcess::readyReadStandardOutput, this, &DialogVarnex::stdoutReady);
    connect(&train_process, &QProcess::readyReadStandardError, this, &DialogVarnex::stderrReady);
    connect(&train_process, &QProcess::stateChanged, this, &DialogVarnex::processStateChanged);

    dlg_lb_setting = new DialogLabelingSetting(this);

    prj_path = QDir::homePath();
    train_dir = QDir::homePath();

    train_window_timer = new QTimer(this);
    connect(train_window_timer, &QTimer::timeout, this, &DialogVarnex::loopTimerUpdateTrainWindow);
    train_window_timer->start(500);

    ui->label_avg->setText("");

    // Board probe: a Jetson AGX trains only the V4 family.
    print_line(run_capture("lsb_release", {"-a"}));
    const QString model = run_capture("cat", {"/proc/device-tree/model"});
    print_line(model);
    if (model.contains("AGX")) {
        ui->comboBox_model->clear();
        ui->comboBox_model->addItem("V4");
        ui->comboBox_model->addItem("V4-tiny");
        ui->comboBox_model->setCurrentText("V4-tiny");
    }

    connect(&elapsed_timer, &QTimer::timeout, this, &DialogVarnex::updateTimeElape);
    elapsed_clock.start();

    if (!GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok()) {
        ui->spinBox_batch_size->setValue(4);
        ui->spinBox_subdivisions->setValue(4);
    }

    for (int k = 0; k < 20; ++k)
        point_palette.push_back(palette_color(k, 20, palette_stops));

    dlg_export_crop = new DialogExportCrop(this);

    ui->groupBox_export_segment->hide();

    im_window_timer = new QTimer(this);
    connect(im_window_timer, &QTimer::timeout, this, &DialogVarnex::loopTimerUpdateImWindow);
    install_view_pointer();

    QThread::msleep(200);

    resize(width() - 5, height() - 5);
    resize(width() + 5, height() + 5);
}

DialogVarnex::~DialogVarnex()
{
    if (train_process.state() == QProcess::Running)
        train_process.terminate();
    // The holder only; its dialog is a child widget and goes with this one.
    delete dataset_generator;
    delete ui;
}

void DialogVarnex::show_log(QString text)
{
    print_line(text);
    // One stderr line when the status file stops being writable (a full
    // /tmp), not one for every progress step after it.
    static bool last_write_failed = false;
    QString why;
    const bool written = status_line::replace_file(kStatusLogPath, status_line::shell_quote_removed(text), &why);
    if (!written && !last_write_failed)
        std::fprintf(stderr, "show_log: cannot write %s: %s\n", kStatusLogPath, qPrintable(why));
    last_write_failed = !written;
}

// SIGTERM first; a training that has not ended after 10 s is killed. The
// deciphered description of the run goes with it.
void DialogVarnex::stop_training_and_wait()
{
    if (train_process.state() != QProcess::NotRunning) {
        train_process.terminate();
        if (!train_process.waitForFinished(10000)) {
            train_process.kill();
            train_process.waitForFinished(5000);
        }
    }
    if (train_process.state() == QProcess::NotRunning)
        deciphered_cfg_dir.reset();
}

void DialogVarnex::showEvent(QShowEvent*) {}

void DialogVarnex::changeEvent(QEvent*) {}
