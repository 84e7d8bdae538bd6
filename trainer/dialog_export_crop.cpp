#include "dialog_export_crop.h"
#include "ui_dialog_export_crop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QUrl>

#include <cstdio>

DialogExportCrop::DialogExportCrop(QWidget* parent) : QDialog(parent), ui(new Ui::DialogExportCrop)
{
    ui->setupUi(this);
    setFixedSize(size());
    ui->stackedWidget_exp->setCurrentIndex(0);
    tmp_dir = QDir::homePath();
}

DialogExportCrop::~DialogExportCrop()
{
    delete ui;
}

QJsonObject DialogExportCrop::saveState()
{
    QJsonObject s;
    s.insert("exp_scale", ui->radioButton_exp_scale->isChecked());
    s.insert("exp_constant", ui->radioButton_exp_constant->isChecked());
    s.insert("exp_scale_w", ui->doubleSpinBox_exp_scale_w->value());
    s.insert("exp_scale_h", ui->doubleSpinBox_exp_scale_h->value());
    s.insert("expand_width", ui->spinBox_expand_width->value());
    s.insert("expand_height", ui->spinBox_expand_height->value());
    s.insert("square_padding", ui->checkBox_square_padding->isChecked());
    s.insert("same_folder", ui->checkBox_same_folder->isChecked());
    s.insert("tmp_dir", tmp_dir);
    s.insert("jpg", ui->radioButton_jpg->isChecked());
    s.insert("png", ui->radioButton_png->isChecked());
    s.insert("square_size", ui->spinBox_gen_size->value());
    return s;
}

void DialogExportCrop::restoreState(QJsonObject state)
{
    if (!state.contains("exp_scale"))
        return;
    // Unchecking the checked button of an exclusive pair is refused by Qt,
    // so exactly one mode and one format stay checked.
    ui->radioButton_exp_scale->setChecked(state["exp_scale"].toBool());
    ui->radioButton_exp_constant->setChecked(state["exp_constant"].toBool());
    ui->doubleSpinBox_exp_scale_w->setValue(state["exp_scale_w"].toDouble());
    ui->doubleSpinBox_exp_scale_h->setValue(state["exp_scale_h"].toDouble());
    ui->spinBox_expand_width->setValue(state["expand_width"].toInt());
    ui->spinBox_expand_height->setValue(state["expand_height"].toInt());
    ui->checkBox_square_padding->setChecked(state["square_padding"].toBool());
    ui->checkBox_same_folder->setChecked(state["same_folder"].toBool());
    tmp_dir = state["tmp_dir"].toString();
    if (!QDir(tmp_dir).exists())
        tmp_dir = QDir::homePath();
    ui->radioButton_jpg->setChecked(state["jpg"].toBool());
    ui->radioButton_png->setChecked(state["png"].toBool());
    if (state.contains("square_size"))
        ui->spinBox_gen_size->setValue(state["square_size"].toInt());
    ui->stackedWidget_exp->setCurrentIndex(ui->radioButton_exp_constant->isChecked() ? 1 : 0);
}

void DialogExportCrop::on_radioButton_exp_scale_clicked(bool checked)
{
    if (checked)
        ui->stackedWidget_exp->setCurrentIndex(0);
}

void DialogExportCrop::on_radioButton_exp_constant_clicked(bool checked)
{
    if (checked)
        ui->stackedWidget_exp->setCurrentIndex(1);
}

void DialogExportCrop::on_checkBox_square_padding_stateChanged(int state)
{
    ui->spinBox_gen_size->setEnabled(state != Qt::Unchecked);
}

void DialogExportCrop::on_buttonBox_accepted()
{
    // accept() has already run (its connection comes first): the dialog is
    // hidden and exec() returns once the export below has finished.
    forget_run();
    const QString dir = QFileDialog::getExistingDirectory(
        this, tr("Select folder to Export Crop"), tmp_dir,
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks | QFileDialog::DontUseNativeDialog);
    if (dir.isEmpty())
        return;
    tmp_dir = dir;
    run_export(dir);
}

CropOptions DialogExportCrop::options_from_form() const
{
    CropOptions o;
    o.scale = ui->radioButton_exp_scale->isChecked();
    o.scale_w = ui->doubleSpinBox_exp_scale_w->value();
    o.scale_h = ui->doubleSpinBox_exp_scale_h->value();
    o.expand_width = ui->spinBox_expand_width->value();
    o.expand_height = ui->spinBox_expand_height->value();
    o.png = ui->radioButton_png->isChecked();
    o.same_folder = ui->checkBox_same_folder->isChecked();
    return o;
}

void DialogExportCrop::forget_run()
{
    failed_writes_ = 0;
    first_failed_path_.clear();
    run_completed_ = false;
}

void DialogExportCrop::run_export(const QString& chosen_dir)
{
    forget_run();
    success = false;
    if (!image_files || !labeling) {
        std::fprintf(stderr, "[Varnex] : export crop: no image list or labeling\n");
        return;
    }
    const qint64 stamp = QDateTime::currentMSecsSinceEpoch() / 1000;
    const CropOptions options = options_from_form();
    const int n = image_files->size();

    QProgressDialog progress(tr("Export cropping..."), tr("Cancel"), 0, n, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.show();
    progress.setWindowTitle("Varnex");
    // setValue lets events run only once the dialog has decided to show
    // itself; run them here so that a press on Cancel is seen at once.
    auto step = [&progress](int i) {
        progress.setValue(i);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    };
    const CropExportResult r = export_crops(chosen_dir, stamp, *image_files, *labeling, options, step);
    progress.close();

    failed_writes_ = r.failures;
    first_failed_path_ = r.first_failure;
    run_completed_ = r.completed;
    if (r.completed) {
        export_dir = r.export_dir;
        success = r.failures == 0;
    }
    if (r.failures > 0)
        std::fprintf(stderr, "[Varnex] : export crop: %d failed, first %s\n", r.failures,
                     r.first_failure.toUtf8().constData());
}

void DialogExportCrop::report_export_result(QWidget* parent)
{
    if (success) {
        QMessageBox::information(parent, "Varnex", "Export crop successfully", QMessageBox::Ok);
    } else if (failed_writes_ > 0) {
        QMessageBox::warning(parent, "Varnex",
                             QString("Export crop failed: %1 folder(s) or crop(s) could not be written.\n"
                                     "First failing path: %2")
                                 .arg(failed_writes_)
                                 .arg(first_failed_path_),
                             QMessageBox::Ok);
    } else {
        forget_run();
        return;
    }
    const bool open = (success || run_completed_) && !export_dir.isEmpty() && QFileInfo(export_dir).isDir();
    forget_run();
    if (open)
        QDesktopServices::openUrl(QUrl::fromLocalFile(export_dir));
}
