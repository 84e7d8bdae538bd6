#pragma once
// The server's launcher window and its 500 ms command loop.

#include <QMainWindow>

class DialogSarvik_v2;
class QCloseEvent;
class QTimer;
class Ui_sarvik_server_main_window;

namespace sarvik_server {

class sarvik_server_main_window : public QMainWindow {
    Q_OBJECT
public:
    // argc and argv are accepted and not used.
    sarvik_server_main_window(int argc, char** argv, QWidget* parent = nullptr);
    ~sarvik_server_main_window() override;

    DialogSarvik_v2* settings_dialog; // no parent, never deleted
    QTimer* cmd_timer;                // child of the window

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    // One tick: runs the command in /tmp/sarvik_test.cmd, if any, to its
    // end, removes the file, then rewrites the run marker /tmp/sarvik.run.
    void loop_cmd();
    void on_pushButton_2_clicked();
    void on_pushButton_update_model_clicked();
    void on_pushButton_clicked();

private:
    // Stops the loop and ends the event loop with `status`.
    void end_serving(int status);

    Ui_sarvik_server_main_window* ui;
};

} // namespace sarvik_server

// Registers the server's own resources (its window icon); call once before
// the first window.
void sarvik_server_init_resources();
