#pragma once
// The crop export dialog: its form holds the crop options ("export_crop" in
// the dialog state) and its OK button writes one image file per labelled
// object of every image of the main dialog's image list (see crop_export.h
// for the geometry, the names and the run itself).
//
// How the main dialog runs it (the dialog never shows a result itself):
//     if (image_file_list.isEmpty()) return;
//     dlg->image_files = &image_file_list;
//     dlg->success = false;
//     dlg->labeling = &labeling;
//     dlg->exec();                    // OK: folder dialog, then run_export()
//     dlg->report_export_result(this); // message box, then the folder is opened

#include "crop_export.h"
#include "labeling.h"

#include <QDialog>
#include <QFileInfo>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace Ui {
class DialogExportCrop;
}

class DialogExportCrop : public QDialog {
    Q_OBJECT

public:
    // Builds the form, fixes the window size to the form's, shows the
    // "Scale" page and sets tmp_dir to the home folder.
    explicit DialogExportCrop(QWidget* parent = nullptr);
    ~DialogExportCrop() override;

    // The twelve "export_crop" keys from the widgets and tmp_dir.
    QJsonObject saveState();
    // Applies such an object through the widgets' setters (clamped, rounded,
    // missing members read as false/0/""). Without "exp_scale" nothing at all
    // changes. A "tmp_dir" that names no folder becomes the home folder;
    // "square_size" is applied only when present. Ends by showing the page of
    // the checked mode.
    void restoreState(QJsonObject state);

    // The whole export into `chosen_dir` (what OK runs after the folder
    // dialog): the export folder chosen_dir + "/export_crop_" + seconds since
    // the epoch ("_2", "_3", ... appended when that name is taken), under a
    // window-modal progress dialog whose Cancel stops the run before the next
    // image. Options are read from the form now. Sets `success` (every image
    // gone through and nothing failed) and, when every image was gone through,
    // `export_dir`. Null image_files or labeling end it without success.
    void run_export(const QString& chosen_dir);

    // What the main dialog calls after exec(): after a clean run the
    // information box "Export crop successfully" (title "Varnex", Ok); when
    // folders or crops could not be written a warning with their count and
    // the first failing path. Then, when the run went through every image and
    // the export folder exists (a run without crops creates none), the folder
    // is opened with QDesktopServices::openUrl. After a cancelled or refused
    // run without failures it shows nothing. The failures are reported once
    // (they are forgotten here); `success` is left for the caller to clear.
    void report_export_result(QWidget* parent);

    // The failures of the last run (folders not created plus crops not
    // written) and the first failing path.
    int failed_writes() const { return failed_writes_; }
    QString first_failed_path() const { return first_failed_path_; }

    const QList<QFileInfo>* image_files = nullptr; // the main dialog's list, not owned
    Labeling* labeling = nullptr;                  // the main dialog's labels, not owned
    QString tmp_dir;                               // where the folder dialog opens; the last chosen folder
    bool success = false;                          // the last run went through every image and nothing failed
    QString export_dir;                            // export folder of the last run that went through every image
    Ui::DialogExportCrop* ui;

private slots:
    void on_radioButton_exp_scale_clicked(bool checked);
    void on_radioButton_exp_constant_clicked(bool checked);
    void on_checkBox_square_padding_stateChanged(int state);
    void on_buttonBox_accepted();

private:
    CropOptions options_from_form() const;
    void forget_run();

    int failed_writes_ = 0;
    QString first_failed_path_;
    bool run_completed_ = false; // the last run went through every image (failures or not)
};
