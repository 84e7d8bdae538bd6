// The dialog state: one JSON object with every setting of the main dialog and
// of its sub-dialogs. The controlling program writes it as "/tmp/varnex.json";
// the launcher applies it once at start.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "dataset_generator.h"
#include "dialog_dataset_gen.h"
#include "dialog_export_crop.h"
#include "dialog_labeling_setting.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

QJsonObject DialogVarnex::saveState()
{
    QJsonObject s;
    s["dlg_lb_setting"] = dlg_lb_setting->get_settings();
    s["grb_auto_gen"] = ui->groupBox_auto_gen->isChecked();
    s["auto_gen"] = dataset_generator->dialog->get_setting();
    s["auto_rect"] = ui->checkBox_autorect->isChecked();
    s["auto_rect_w"] = ui->spinBox_autorect_w->value();
    s["auto_rect_h"] = ui->spinBox_autorect_h->value();
    s["auto_rect_class"] = ui->lineEdit_classname->text();
    s["cmb_model"] = ui->comboBox_model->currentText();
    s["batch_size"] = ui->spinBox_batch_size->value();
    s["sub_division"] = ui->spinBox_subdivisions->value();
    s["path_gen"] = ui->label_Generate_text->text();
    s["use_other_path_gen"] = ui->checkBox_use_other_location->isChecked();
    s["use_prebuilt_wg"] = ui->checkBox_use_default_wg->isChecked();
    s["wg"] = ui->label_wg_text_2->text();
    s["prj_path"] = ui->label_prj_path->text();
    s["gt_path"] = gt_path;
    s["is_override"] = ui->checkBox_override_parameter->isChecked();
    s["export_crop"] = dlg_export_crop->saveState();
    return s;
}

// Applied in this order on purpose: the widgets' slots run as if a user set
// each value, so the model comes before the batch values (which replace the
// model's defaults), the weight check box before the weight text, and the
// folders last.
void DialogVarnex::restoreState(QJsonObject state)
{
    dlg_lb_setting->restore_setting(state["dlg_lb_setting"].toObject());
    ui->groupBox_auto_gen->setChecked(state["grb_auto_gen"].toBool(false));
    dataset_generator->dialog->restore_setting(state["auto_gen"].toObject());
    ui->checkBox_autorect->setChecked(state["auto_rect"].toBool(false));
    ui->spinBox_autorect_w->setValue(state["auto_rect_w"].toInt(0));
    ui->spinBox_autorect_h->setValue(state["auto_rect_h"].toInt(0));
    ui->lineEdit_classname->setText(state["auto_rect_class"].toString());
    ui->comboBox_model->setCurrentText(state["cmb_model"].toString());
    ui->spinBox_batch_size->setValue(state["batch_size"].toInt(0));
    ui->spinBox_subdivisions->setValue(state["sub_division"].toInt(0));
    ui->label_Generate_text->setText(state["path_gen"].toString());
    ui->checkBox_use_other_location->setChecked(state["use_other_path_gen"].toBool(false));
    ui->checkBox_use_default_wg->setChecked(state["use_prebuilt_wg"].toBool(false));
    ui->label_wg_text_2->setText(state["wg"].toString());

    // QDir("") is the working folder, which exists: a missing key opens it.
    const QString prj = state["prj_path"].toString();
    if (QDir(prj).exists())
        prj_path = prj;
    gt_path = state["gt_path"].toString();
    // The restored folder is the chosen one, whatever it names (the home
    // folder too); an empty text still names none.
    train_dir = ui->label_Generate_text->text();
    train_dir_chosen = true;
    ui->checkBox_override_parameter->setChecked(state["is_override"].toBool(false));
    dlg_export_crop->restoreState(state["export_crop"].toObject());

    if (!QDir(prj_path).exists())
        return;
    loadPrjoject(prj_path);
    if (!QFile::exists(gt_path))
        return;
    // A ground truth that cannot be read leaves the project without labels;
    // the window says so (a save over it would lose them), without a box to
    // answer, so that a run started by a controlling program goes on.
    QString why;
    {
        QMutexLocker lock(&mutex);
        labeling.load_gt(gt_path, &why);
    }
    show_ground_truth_failure(gt_path, why);
    refill_class_picker();
}
