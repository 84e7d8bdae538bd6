#include "sarvik_server_main_window.h"

#include "ui_sarvik_server_main_window.h"

#include "bounded_input.h"
#include "command_parser.h"
#include "dialog_sarvik_v2.h"
#include "exchange_check.h"
#include "exchange_paths.h"
#include "input_limits.h"
#include "run_marker.h"
#include "server_start.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <exception>

static void register_server_resources() { Q_INIT_RESOURCE(sarvik_server); }

void sarvik_server_init_resources()
{
    static const bool done = (register_server_resources(), true);
    (void)done;
}

namespace sarvik_server {

sarvik_server_main_window::sarvik_server_main_window(int, char**, QWidget* parent)
    : QMainWindow(parent), ui(new Ui_sarvik_server_main_window)
{
    sarvik_server_init_resources();
    ui->setupUi(this);
    setWindowIcon(QIcon(":/sarvik_server/images/icon.png"));
    const QRect desktop = QApplication::desktop()->geometry();
    move(desktop.width() / 2 - width() / 2, desktop.height() / 2 - height() / 2);

    settings_dialog = new DialogSarvik_v2(nullptr);
    settings_dialog->setWindowModality(Qt::WindowModal);
    settings_dialog->setWindowFlags(Qt::WindowCloseButtonHint);

    const QString model_dir = ui->lineEdit_model_path->text();
    if (!QDir(model_dir).exists())
        QDir().mkpath(model_dir);
    // A command written before the server started is dropped unread.
    exchange_check::remove_exchange_file(sarvik_paths::kCommandFile, "sarvik_server");

    cmd_timer = new QTimer(this);
    connect(cmd_timer, &QTimer::timeout, this, &sarvik_server_main_window::loop_cmd);
    cmd_timer->start(500);
}

sarvik_server_main_window::~sarvik_server_main_window() { delete ui; }

void sarvik_server_main_window::closeEvent(QCloseEvent*) {}

void sarvik_server_main_window::loop_cmd()
{
    // Only a regular file is read. Anything else under the name (a FIFO, a
    // link to a device) counts as a file that cannot be opened: it stays and
    // is looked at again next tick, until the client's next command replaces
    // it.
    QByteArray bytes;
    QString why;
    const bounded_input::ReadStatus status =
        bounded_input::read_regular_file(sarvik_paths::kCommandFile, input_limits::kCommandFileBytes, &bytes, &why);
    if (status == bounded_input::ReadStatus::Missing || status == bounded_input::ReadStatus::Refused)
        return;
    ServerCommand cmd;
    if (status == bounded_input::ReadStatus::TooLarge) {
        // Never run a part of it; it is answered like an unknown command.
        std::fprintf(stderr, "loop_cmd: %s\n", why.toLocal8Bit().constData());
    } else {
        const QString text = command_text(bytes);
        qDebug() << text;
        cmd = parse_command(text);
    }
    settings_dialog->unplaced_files.clear();
    // A failure inside a command must never end the server: the client
    // waits for the marker below.
    try {
        switch (cmd.kind) {
        case ServerCommand::Update:
            settings_dialog->update_model(cmd.has_argument ? cmd.argument : ui->lineEdit_model_path->text());
            break;
        case ServerCommand::Test:
            settings_dialog->test_model(cmd.has_argument ? cmd.argument : ui->lineEdit_img_path->text());
            break;
        case ServerCommand::Exit:
            end_serving(0);
            break;
        case ServerCommand::None:
            break;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "loop_cmd: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "loop_cmd: unknown failure\n");
    }
    exchange_check::remove_exchange_file(sarvik_paths::kCommandFile, "loop_cmd");
    // The marker tells the client that this command's answer is in place. An
    // answer that could not be put in place because a file this server may
    // not replace stands at its name (another user's, in the sticky /tmp)
    // would be read as this server's: the server ends instead, with the lines
    // of its start check, and leaves the marker as it is. A full /tmp passes
    // the check and is answered as before (no log line, an empty marker).
    const QStringList unplaced = settings_dialog->unplaced_files;
    settings_dialog->unplaced_files.clear();
    if (!unplaced.isEmpty() && !can_still_answer(unplaced))
        return end_serving(1);
    if (!write_run_marker(sarvik_paths::kRunMarker) && !can_still_answer({sarvik_paths::kRunMarker}))
        return end_serving(1);
}

void sarvik_server_main_window::end_serving(int status)
{
    cmd_timer->stop();
    close();
    QCoreApplication::exit(status);
}

void sarvik_server_main_window::on_pushButton_2_clicked()
{
    settings_dialog->test_model(ui->lineEdit_img_path->text());
}

void sarvik_server_main_window::on_pushButton_update_model_clicked()
{
    settings_dialog->update_model(ui->lineEdit_model_path->text());
}

void sarvik_server_main_window::on_pushButton_clicked()
{
    const QSize screen = QGuiApplication::screens().first()->size();
    const QPoint cursor = QCursor::pos();
    int x = cursor.x();
    int y = cursor.y();
    if (x + settings_dialog->width() > screen.width())
        x = screen.width() - settings_dialog->width();
    if (y + settings_dialog->height() > screen.height())
        y = screen.height() - settings_dialog->height();
    settings_dialog->move(x, y);
    if (!settings_dialog->isVisible())
        settings_dialog->show();
}

} // namespace sarvik_server
