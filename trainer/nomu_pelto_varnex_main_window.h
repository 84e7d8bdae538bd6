#pragma once
// The trainer's launcher window. Its constructor is the start-up: it creates
// the main dialog, prepares the exchange files under /tmp, applies the state
// file "/tmp/varnex.json" and acts on the command-line words "gen" and
// "train".

#include <QMainWindow>

class DialogVarnex;
class Ui_nomu_pelto_varnex_main_window;

namespace nomu_pelto_varnex {

class nomu_pelto_varnex_main_window : public QMainWindow {
    Q_OBJECT

public:
    nomu_pelto_varnex_main_window(int argc, char** argv, QWidget* parent = nullptr);
    ~nomu_pelto_varnex_main_window() override;

    bool close_at_once = false;            // "gen" ran: main ends without an event loop
    Ui_nomu_pelto_varnex_main_window* ui;
    DialogVarnex* dialog;                  // created without a parent, never deleted

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_pushButton_4_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_clicked();
};

} // namespace nomu_pelto_varnex
