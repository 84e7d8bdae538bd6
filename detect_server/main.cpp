// The detection server: a launcher window whose 500 ms loop runs the commands
// a client writes into /tmp/sarvik_test.cmd.
#include "sarvik_server_main_window.h"
#include "server_start.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (!sarvik_server::ready_to_serve())
        return 1;
    sarvik_server::sarvik_server_main_window window(argc, argv);
    window.show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
