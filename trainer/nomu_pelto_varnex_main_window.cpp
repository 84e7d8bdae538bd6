#include "nomu_pelto_varnex_main_window.h"
#include "ui_nomu_pelto_varnex_main_window.h"

#include "atomic_file.h"
#include "bounded_input.h"
#include "dialog_varnex.h"
#include "exchange_check.h"
#include "exchange_files.h"
#include "input_limits.h"
#include "resources.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>

namespace nomu_pelto_varnex {

nomu_pelto_varnex_main_window::nomu_pelto_varnex_main_window(int argc, char** argv, QWidget* parent)
    : QMainWindow(parent), ui(new Ui_nomu_pelto_varnex_main_window)
{
    ui->setupUi(this);
    nomu_pelto_varnex_init_resources();
    setWindowIcon(QIcon(":/nomu_pelto_varnex/images/icon.png"));

    const QRect desktop = QApplication::desktop()->geometry();
    move(desktop.width() / 2 - width() / 2, desktop.height() / 2 - height() / 2);

    dialog = new DialogVarnex(nullptr);
    // No training may outlive the trainer, however the event loop ends.
    connect(qApp, &QCoreApplication::aboutToQuit, dialog, &DialogVarnex::stop_training_and_wait);

    exchange_check::remove_exchange_file(trainer_exchange::kStatusLog, "nomu_pelto_varnex");
    // An empty stop file, as `touch` leaves a new one, put in place by rename
    // so that a link planted at the name is replaced, never followed. Not
    // checked: the stop file only matters to a running training.
    write_file_atomically(trainer_exchange::kStopFile, QByteArray());
    if (!QDir("/tmp/varnex_gen").exists())
        QDir().mkpath("/tmp/varnex_gen");

    // Only a regular file is read: anything else under the name counts as an
    // unreadable state file, and the words are honoured on the defaults. One
    // beyond the size limit is as broken as one that does not parse.
    QByteArray text;
    QString why;
    const bounded_input::ReadStatus read =
        bounded_input::read_regular_file("/tmp/varnex.json", input_limits::kStateFileBytes, &text, &why);
    if (read == bounded_input::ReadStatus::Refused || read == bounded_input::ReadStatus::TooLarge)
        qDebug().noquote() << why;
    if (read == bounded_input::ReadStatus::TooLarge)
        return;
    if (read == bounded_input::ReadStatus::Ok) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError) {
            // The words are not looked at: a broken state file must not run
            // anything on defaults.
            qDebug().noquote() << "fromJson failed: " + error.errorString();
            return;
        }
        if (doc.isObject()) {
            const QJsonObject state = doc.object();
            dialog->restoreState(state);
            ui->lineEdit_img_dir->setText(state["prj_path"].toString());
            ui->lineEdit_gen_dir->setText(state["path_gen"].toString());
        } else {
            qDebug() << "read json error";
        }
    }

    for (int i = 1; i < argc; ++i) {
        const QString word = QString::fromUtf8(argv[i]);
        if (word == "gen") {
            dialog->on_pushButton_GenerateTrainingFiles_clicked();
            close_at_once = true;
            break;
        }
        if (word == "train") {
            dialog->exit_after_stop = true;
            dialog->on_pushButton_Train_clicked();
        }
    }
}

nomu_pelto_varnex_main_window::~nomu_pelto_varnex_main_window()
{
    delete ui;
}

void nomu_pelto_varnex_main_window::closeEvent(QCloseEvent*) {}

void nomu_pelto_varnex_main_window::on_pushButton_4_clicked()
{
    dialog->on_pushButton_Train_Stop_clicked();
}

void nomu_pelto_varnex_main_window::on_pushButton_3_clicked()
{
    dialog->on_pushButton_Train_clicked();
}

void nomu_pelto_varnex_main_window::on_pushButton_2_clicked()
{
    dialog->on_pushButton_GenerateTrainingFiles_clicked();
}

// Shows the main dialog at the pointer, kept inside the first screen. A dialog
// larger than the screen is placed at its top-left corner so that its title
// bar stays reachable.
void nomu_pelto_varnex_main_window::on_pushButton_clicked()
{
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowFlags(Qt::WindowCloseButtonHint);
    const QSize screen = QGuiApplication::screens().first()->size();
    const QPoint cursor = QCursor::pos();
    int x = cursor.x();
    int y = cursor.y();
    if (x + dialog->width() > screen.width())
        x = screen.width() - dialog->width();
    if (y + dialog->height() > screen.height())
        y = screen.height() - dialog->height();
    dialog->move(qMax(0, x), qMax(0, y));
    dialog->setVisible(true);
}

} // namespace nomu_pelto_varnex
