// The trainer nomu_pelto_varnex. Without a word it shows its launcher window;
// "gen" builds the training folder and exits; "train" starts training and
// quits when that training is stopped.

#include "dialog_varnex.h"
#include "exchange_files.h"
#include "nomu_pelto_varnex_main_window.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv)
{
    // A write beyond the file-size limit (RLIMIT_FSIZE) fails with EFBIG and
    // is reported like a full disk, instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    if (!trainer_exchange::ready())
        return 1;
    nomu_pelto_varnex::nomu_pelto_varnex_main_window w(argc, argv);
    if (w.close_at_once) {
        w.close();
        w.dialog->stop_training_and_wait();
        return 0;
    }
    w.show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
