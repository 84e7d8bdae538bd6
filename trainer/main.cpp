// The trainer nomu_pelto_varnex. Without a word it shows its launcher window;
// "gen" builds the training folder and exits; "train" starts training and
// quits when that training is stopped.

#include "dialog_varnex.h"
#include "exchange_files.h"
#include "nomu_pelto_varnex_main_window.h"

#include <QApplication>

int main(int argc, char** argv)
{
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
