#pragma once
// The detection server's settings dialog: the detection, drawing, tracking
// and ROI parameters every test detection uses, and the configuration shown
// in its top bar (name and backend icon).

#include "bbox.h"

#include <QDialog>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

class DetConfig;
class QEvent;
class QLabel;
class Ui_DialogSarvik_v2;

class DialogSarvik_v2 : public QDialog {
    Q_OBJECT
public:
    explicit DialogSarvik_v2(QWidget* parent = nullptr);
    ~DialogSarvik_v2() override;

    // True while the configuration list runs modally from the "Config"
    // button; while true, losing activation does not close the dialog.
    bool config_list_open = false;
    // Optional labels of an embedding window that mirror the shown
    // configuration's backend icon and name; skipped while null.
    QLabel* host_icon_label = nullptr;
    QLabel* host_name_label = nullptr;
    // Guards the top bar and the tracking members below; on a tracking reset
    // it is taken before the configuration's own mutex. Not recursive.
    QMutex mutex;
    std::deque<std::vector<bbox_t>> track_history;
    std::vector<unsigned> track_ids;
    // The exchange files (the log, the result image) that show_log and
    // test_model could not put in place, each once, for the command loop to
    // look at after the command; the loop empties it before each command.
    QStringList unplaced_files;

    // Publishes one state line: the object with "datatime" added, as compact
    // JSON, on standard output and as the whole of /tmp/sarvik.log (the text
    // and a newline, replaced in one step).
    void show_log(QJsonObject log);
    // (Re)loads the model folder dir (it must hold "train.weights") as the
    // configuration "test"; logs "update_start", then "update_error" or
    // "update_end" with "load_model".
    void update_model(QString dir);
    // Detects on the image file after scaling it to a longer side of 608;
    // logs "test_start", then "test_error" or (after writing the drawn image
    // to /tmp/sarvik_result.png) "test_end" with the result object.
    void test_model(QString image);

    // The saved-state object: the eighteen parameter keys, "map_det_cfgs"
    // (the loaded configurations of the registry) and "this_config_name".
    QJsonObject saveState();
    // Copies the parameters into cfg (not null); the threshold as a fraction.
    void set_up_parameter(DetConfig* cfg);
    // Sets the widgets from a saved-state object and re-creates its saved
    // configurations, asking before each load (a box that is left alone
    // answers Yes after five seconds).
    void restoreState(QJsonObject state);
    // Applies a command object: "thresh" (percent) and "nms" as JSON numbers,
    // "reset_count" as a JSON bool; anything else is ignored.
    void cmdSetParameters(QJsonObject cmd);

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void current_config_changed(QString name);
    void config_removed(QString name);
    void on_pushButton_reset_count_clicked();
    void on_checkBox_enable_tracking_clicked(bool checked);
    void on_pushButton_config_clicked();

private:
    // The tracking reset of the shown configuration, when it is loaded,
    // under the dialog's mutex.
    void reset_shown_tracking();

    Ui_DialogSarvik_v2* ui;
};
