// The settings dialog's parameters: saved state, copy into a configuration,
// restore, and the small command object.
#include "dialog_sarvik_v2.h"

#include "ui_dialog_sarvik_v2.h"

#include "backend_icon.h"
#include "dialog_list_configs.h"
#include "global_nomu_lib_yolo.h"

#include <QJsonArray>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

namespace {

// A registered configuration under name, or null: the look-up never inserts,
// and a null entry reads as none.
DetConfig* registered(const QString& name) { return DialogListConfigs::map_det_cfgs.value(name, nullptr); }

} // namespace

QJsonObject DialogSarvik_v2::saveState()
{
    QJsonObject state;
    state.insert("thresh", ui->spinBox_threshold->value());
    state.insert("nms", ui->doubleSpinBox_nms->value());
    state.insert("enable_tracking", ui->checkBox_enable_tracking->isChecked());
    state.insert("roi_x", ui->spinBox_roi_x->value());
    state.insert("roi_y", ui->spinBox_roi_y->value());
    state.insert("roi_w", ui->spinBox_roi_w->value());
    state.insert("roi_h", ui->spinBox_roi_h->value());
    state.insert("frame_buffer", ui->spinBox_frame_buffer->value());
    state.insert("max_dist", ui->spinBox_max_distance->value());
    state.insert("result_drawing", ui->groupBox_result_drawing->isChecked());
    state.insert("show_confidence", ui->checkBox_show_percent->isChecked());
    state.insert("text_drawing", ui->groupBox_text->isChecked());
    state.insert("rect_thickness", ui->spinBox_rect_thickness->value());
    state.insert("font_scale", ui->spinBox_font_scale->value());
    state.insert("font_thickness", ui->spinBox_font_thickness->value());
    state.insert("txt_offset", ui->spinBox_font_offset->value());
    state.insert("draw_roi", ui->checkBox_is_draw_roi->isChecked());
    state.insert("curr_tap", ui->tabWidget->currentIndex());

    QJsonArray configs;
    for (auto it = DialogListConfigs::map_det_cfgs.cbegin(); it != DialogListConfigs::map_det_cfgs.cend(); ++it) {
        const DetConfig* cfg = it.value();
        if (it.key().isEmpty() || !cfg || !cfg->loaded)
            continue;
        QJsonObject entry;
        entry.insert("config_name", it.key());
        entry.insert("config_path", cfg->config_path);
        entry.insert("backend_name", cfg->backend_name);
        configs.append(entry);
    }
    state.insert("map_det_cfgs", configs);
    state.insert("this_config_name", ui->label_config_name->text());
    return state;
}

void DialogSarvik_v2::set_up_parameter(DetConfig* cfg)
{
    const QJsonObject s = saveState();
    cfg->thresh = s.value("thresh").toDouble() / 100.0;
    cfg->nms = s.value("nms").toDouble();
    cfg->roi_x = s.value("roi_x").toInt();
    cfg->roi_y = s.value("roi_y").toInt();
    cfg->roi_w = s.value("roi_w").toInt();
    cfg->roi_h = s.value("roi_h").toInt();
    cfg->enable_tracking = s.value("enable_tracking").toBool();
    cfg->frame_buffer = s.value("frame_buffer").toInt();
    cfg->max_dist = s.value("max_dist").toInt();
    cfg->result_drawing = s.value("result_drawing").toBool();
    cfg->draw_roi = s.value("draw_roi").toBool();
    cfg->text_drawing = s.value("text_drawing").toBool();
    cfg->show_confidence = s.value("show_confidence").toBool();
    cfg->rect_thickness = s.value("rect_thickness").toInt();
    cfg->font_scale = s.value("font_scale").toDouble();
    cfg->font_thickness = s.value("font_thickness").toInt();
    cfg->txt_offset = s.value("txt_offset").toInt();
}

void DialogSarvik_v2::restoreState(QJsonObject state)
{
    // A missing key or another JSON type reads as 0, 0.0 or false; each spin
    // box clamps and rounds what it gets.
    ui->spinBox_threshold->setValue(state.value("thresh").toDouble());
    ui->doubleSpinBox_nms->setValue(state.value("nms").toDouble());
    ui->checkBox_enable_tracking->setChecked(state.value("enable_tracking").toBool());
    ui->spinBox_roi_x->setValue(state.value("roi_x").toInt());
    ui->spinBox_roi_y->setValue(state.value("roi_y").toInt());
    ui->spinBox_roi_w->setValue(state.value("roi_w").toInt());
    ui->spinBox_roi_h->setValue(state.value("roi_h").toInt());
    ui->spinBox_frame_buffer->setValue(state.value("frame_buffer").toInt());
    ui->spinBox_max_distance->setValue(state.value("max_dist").toInt());
    ui->groupBox_result_drawing->setChecked(state.value("result_drawing").toBool());
    ui->checkBox_show_percent->setChecked(state.value("show_confidence").toBool());
    ui->spinBox_rect_thickness->setValue(state.value("rect_thickness").toInt());
    ui->spinBox_font_scale->setValue(state.value("font_scale").toDouble());
    ui->spinBox_font_thickness->setValue(state.value("font_thickness").toInt());
    ui->spinBox_font_offset->setValue(state.value("txt_offset").toInt());
    ui->groupBox_text->setChecked(state.value("text_drawing").toBool());
    ui->checkBox_is_draw_roi->setChecked(state.value("draw_roi").toBool());
    ui->checkBox_is_draw_roi->setChecked(true);

    const QString show_name = state.value("this_config_name").toString();

    const QJsonArray configs = state.value("map_det_cfgs").toArray();
    for (const QJsonValue& value : configs) {
        const QJsonObject element = value.toObject();
        const QString name = element.value("config_name").toString();
        const QString path = element.value("config_path").toString();
        QString backend = QStringLiteral("CPU");
        if (element.contains("backend_gpu"))
            backend = element.value("backend_gpu").toBool() ? QStringLiteral("CUDA") : QStringLiteral("CPU");
        else if (element.contains("backend_name"))
            backend = element.value("backend_name").toString();

        if (registered(name))
            continue;
        if (!GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok() && backend == QLatin1String("CUDA"))
            backend = QStringLiteral("CPU");

        QMessageBox box;
        box.setWindowTitle(QStringLiteral("Load config : Sarvik"));
        box.setText("name : " + name + " backend : " + backend + "\n" + path);
        box.setStandardButtons(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        QAbstractButton* yes = box.button(QMessageBox::Yes);
        yes->animateClick(5000);
        box.exec();

        // Yes loads the saved folder under the name, also into a
        // configuration the command loop registered while the box was open.
        if (box.clickedButton() == yes &&
            nomu_lib_darknet_widget::dlg_detect_lst_config->addConfigPath(name, path, backend))
            continue;
        // A configuration registered meanwhile is never replaced by a
        // placeholder.
        if (registered(name))
            continue;

        auto placeholder = new DetConfig(this);
        placeholder->config_path = path;
        placeholder->backend_name = backend;
        placeholder->loaded = false;
        if (backend == QLatin1String("CUDA")) {
            placeholder->yolo = new darknet::NomuYolo;
            placeholder->yolo->detector = nullptr;
        } else {
            placeholder->yolo_cpu = new NomuYoloCPU;
            placeholder->yolo_cpu->detector = nullptr;
        }
        DialogListConfigs::map_det_cfgs.insert(name, placeholder);
    }

    const DetConfig* shown = registered(show_name);
    if (shown && shown->loaded) {
        ui->label_config_name->setText(show_name);
        if (host_name_label)
            host_name_label->setText(show_name);
        const QPixmap icon(backend_icon_path(shown->backend_name));
        ui->label_config_icon->setPixmap(icon);
        if (host_icon_label)
            host_icon_label->setPixmap(icon);
    }
}

void DialogSarvik_v2::cmdSetParameters(QJsonObject cmd)
{
    if (cmd.contains("thresh") && cmd.value("thresh").isDouble())
        ui->spinBox_threshold->setValue(cmd.value("thresh").toDouble());
    if (cmd.contains("nms") && cmd.value("nms").isDouble())
        ui->doubleSpinBox_nms->setValue(cmd.value("nms").toDouble());
    const QJsonValue reset = cmd.value("reset_count");
    if (reset.isBool() && reset.toBool() && ui->checkBox_enable_tracking->isChecked())
        reset_shown_tracking();
}
