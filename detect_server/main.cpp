// The detection server: a launcher window whose 500 ms loop runs the commands
// a client writes into /tmp/sarvik_test.cmd.
#include "sarvik_server_main_window.h"
#include "server_start.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv)
{
    // A write beyond the file-size limit (RLIMIT_FSIZE) fails with EFBIG and
    // is reported like a full disk, instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    if (!sarvik_server::ready_to_serve())
        return 1;
    sarvik_server::sarvik_server_main_window window(argc, argv);
    window.show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
