#pragma once
// The trainer's main dialog: the "Labeling" tab (image folder, navigation,
// annotated view, ground truth, augmentation and crop settings) and the
// "Training" tab (training-folder generation, model and batch settings,
// training run, console, export).
//
// One class, its behaviour split by concern into files:
//   dialog_varnex.cpp          construction, board probe, status line, events
//   dialog_varnex_state.cpp    saveState / restoreState
//   dialog_varnex_project.cpp  image folder, navigation, ground-truth commands
//   dialog_varnex_display.cpp  the annotated view redrawn every 10 ms
//   dialog_varnex_editing.cpp  object editing from pointer input
//   dialog_varnex_generate.cpp training-folder generation
//   dialog_varnex_cfg.cpp      network descriptions and model defaults
//   dialog_varnex_train.cpp    training run, progress, stop, button enabling
//   dialog_varnex_export.cpp   weights, training-folder choice, model export
//
// The data members are public: the launcher and the other dialogs read them,
// and the tests check them directly.

#include "label_cut.h"
#include "label_dialog.h"
#include "labeling.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFutureSynchronizer>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <opencv2/core.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class DialogVarnex;
}

class DatasetGenerator;
class DialogExportCrop;
class DialogLabelingSetting;
class QKeyEvent;
class ViewPointer;

class DialogVarnex : public QDialog {
    Q_OBJECT

public:
    explicit DialogVarnex(QWidget* parent = nullptr);
    ~DialogVarnex() override;

    // ---- construction, form and state
    // Prints the text (as given, callers' escapes included) on standard output
    // and replaces "/tmp/varnex.log" with what the shell's
    // `echo "<text>" > /tmp/varnex.log` would have written, without a shell.
    void show_log(QString text);
    QJsonObject saveState();
    void restoreState(QJsonObject state);

    // Runs when the application quits (connected by the launcher, and called by
    // `main` before a "gen" run returns): stops a running training process and
    // waits for it, so no training outlives the trainer.
    void stop_training_and_wait();

    // ---- image folder and navigation
    // Opens `path` as the project: lists its images, one empty Frame each, and
    // shows the first. A folder without images changes only the project path,
    // its label and the file-name label; the previous listing stays.
    void loadPrjoject(QString path);
    // Reads image `index` of the list (a black 240 x 320 image when the file
    // cannot be read); with `store` it becomes the current image. An index
    // outside the list is refused: nothing is read or stored, and an empty
    // image is returned.
    cv::Mat getFrame(int index, bool store);
    // Shows `image` scaled into the view; an empty image leaves the view as it
    // is.
    void show_cur_img(cv::Mat image);
    // Empties the class-name picker and lists the project's classes in it,
    // one row per class in class order.
    void refill_class_picker();
    // Shows above the tabs that the ground truth `path` could not be loaded
    // and why, until a load succeeds or that file is saved over; an empty
    // `why` takes the notice away. Nothing waits for an answer, so a "gen" or
    // "train" run goes on.
    void show_ground_truth_failure(const QString& path, const QString& why);

    // ---- annotated display
    // One redraw of the view and one key poll; called with `mutex` held. A key
    // that commits is left in `polled_key` for the caller to act on after the
    // mutex is released.
    void drawObject();
    void DrawRectangle(cv::Mat& image, cv::Rect rect, cv::Scalar color);
    void DrawLine(cv::Mat& image, cv::Point from, cv::Point to, cv::Scalar color);
    // DrawRectangle with the thickness already worked out.
    static void draw_box(cv::Mat& image, cv::Rect rect, cv::Scalar color, int thickness);
    // Enter: commits the clicked points as an object (three or more) or moves
    // on to the next image; the points are emptied either way.
    void commit_or_advance();
    // Apostrophe: commits the clicked points (three or more); never moves on.
    bool commit_points(); // true when the points were committed

    // ---- object editing
    void addObject();
    void clearObects();
    void removePointOrObj(int event, int x, int y);
    void moveObj(int x, int y);
    void resizeObj(int x, int y);
    void mouse_addRect(int event, int x, int y);
    void get_activeObjectIndex(int x, int y);
    void on_MouseHandle(int event, int x, int y, void* userdata, int flags);
    // The same handler in the form of an OpenCV mouse callback; `userdata` is
    // the dialog.
    static void on_MouseHandle(int event, int x, int y, int flags, void* userdata);
    // Delivers the pointer events of label_img to on_MouseHandle in image
    // pixels (called once by the constructor).
    void install_view_pointer();

    // ---- training-folder generation
    bool removeDir(const QString& dir);

    // ---- members, in the order the rest of the trainer relies on
    float palette_stops[6][3];             // point palette stops, rows (blue, green, red) 0..1
    QList<QFileInfo> image_files;          // images of the open folder, listing order
    cv::Rect pending_rect;                 // box being drawn
    std::vector<cv::Point> clicked_points; // polygon being clicked
    bool dragging = false;                 // a box drag is in progress
    QTimer* im_window_timer = nullptr;     // 10 ms redraw, started by loadPrjoject
    QTimer* train_window_timer = nullptr;  // 500 ms button enabling
    int cur_index = 0;                     // 0-based index of the shown image
    int frame_count = 0;                   // images of the open folder
    cv::Mat cur_image;                     // the shown image as read
    cv::Mat display_image;                 // the copy the redraw draws on (see copy_to_display)
    QString train_dir;                     // training folder (home folder until chosen)
    bool train_dir_chosen = false;         // set by restoreState and Browse Training File
    QString last_weight_dir;               // start folder of the weight dialog
    QProcess train_process;                // the running training command
    QString weight_path = "Default";       // the last weight file picked
    QString prj_path;                      // the open image folder
    QString gt_path;                       // the last ground-truth file loaded or saved
    QString gt_failed_path;                // the ground-truth file that last failed to load, until one loads
    QString gt_failed_reason;              // and why
    DatasetGenerator* dataset_generator = nullptr;
    bool generating = false;               // true while the Generate slot runs
    QMutex mutex;                          // guards the labels and the clicked points
    std::atomic<bool> busy{false};         // an editing task is pending: pointer input is ignored
    int mouse_x = 0;                       // pointer position in image pixels
    int mouse_y = 0;
    QElapsedTimer elapsed_clock;           // time of the training run
    QTimer elapsed_timer;                  // 1000 ms status while training runs
    std::vector<cv::Scalar> point_palette; // 20 colours of the clicked points
    double avg_loss = 999;
    qint64 iteration = 0;
    bool exit_after_stop = false;          // set by the word "train": stopping ends the program
    bool gpu = false;                      // the run uses the GPU executable
    Ui::DialogVarnex* ui;
    Labeling labeling;
    LabelDialog label_dialog;              // class-name picker (no parent)
    DialogLabelingSetting* dlg_lb_setting = nullptr;
    DialogExportCrop* dlg_export_crop = nullptr;

    // The redraw's key poll, cv::waitKey(20) by default. Tests and the redraw
    // benchmark replace it.
    std::function<int()> key_poll;
    // The key the last drawObject() polled that asks for a commit (13 or 39),
    // or 0.
    int polled_key = 0;

    // True while the view is on screen: the dialog shown on the Labeling tab.
    // The redraw runs only then.
    bool view_shown() const;
    // Copies the current image into the display image, into pixels of the
    // display image's own. A move while the view is not shown only lets the
    // display image share the current image's pixels (nothing draws then), and
    // drawing must never change an image that was read.
    void copy_to_display();
    // The display setting `key` as a whole number, read afresh.
    int display_setting(const char* key);
    // One stderr line per kind of redraw failure (the redraw goes on).
    void report_redraw_error(const char* what);
    QString last_redraw_error;
    // The visible parts of long labels, kept from one redraw to the next.
    LabelCut label_cut;

    // ---- training run (added with the training run control)
    // The private folder (mode 0700) that holds the deciphered copy of a
    // protected network description as "train.cfg" while its training runs;
    // removed when the process has ended.
    std::unique_ptr<QTemporaryDir> deciphered_cfg_dir;
    // Test seam of the train operation's "override parameters" step: when set,
    // it is called with the model, the class count and the data folder in
    // place of generate_cfg_file.
    std::function<void(const QString& model, int classes, const QString& data_dir)> override_cfg_hook;

    ViewPointer* view_pointer = nullptr;   // the pointer route of label_img
    // The editing tasks handed to the thread pool. Declared last, so it is
    // destroyed first: the destructor waits for them while everything they
    // touch still exists.
    QFutureSynchronizer<void> editing_tasks;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void generate_trainingFile(QString trainDir);
    void generate_cfg_file(QString model_name, int classes, QString train_dir);
    void loopTimerUpdateTrainWindow();
    void on_pushButton_setting_clicked();

public slots:
    void on_pushButton_GenerateTrainingFiles_clicked();
    void on_pushButton_Train_clicked();
    void on_pushButton_Train_Stop_clicked();

private slots:
    void stdoutReady();
    void stderrReady();
    void processStateChanged(QProcess::ProcessState state);
    void updateTimeElape();
    void loopTimerUpdateImWindow();
    void on_pushButton_loadImages_clicked();
    void on_horizontalSlider_frame_valueChanged(int value);
    void on_pushButton_prev_clicked();
    void on_pushButton_next_clicked();
    void on_pushButton_saveGT_clicked();
    void on_pushButton_LoadGT_clicked();
    void on_pushButton_close_clicked();
    void on_checkBox_use_default_wg_stateChanged(int state);
    void on_pushButton_weight_clicked();
    void on_checkBox_use_other_location_stateChanged(int state);
    void on_pushButton_Browse_Train_File_clicked();
    void on_pushButton_Export_clicked();
    void on_spinBox_batch_size_valueChanged(int value);
    void on_spinBox_subdivisions_valueChanged(int value);
    void on_pushButton_gen_setting_clicked();
    void on_comboBox_model_currentTextChanged(const QString& text);
    void on_pushButton_export_crop_clicked();
};
