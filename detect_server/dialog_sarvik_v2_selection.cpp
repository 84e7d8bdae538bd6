// Configuration selection and tracking reset of the settings dialog.
#include "dialog_sarvik_v2.h"

#include "ui_dialog_sarvik_v2.h"

#include "backend_icon.h"
#include "dialog_list_configs.h"

#include <QListWidget>
#include <QMutexLocker>
#include <QPixmap>

void DialogSarvik_v2::current_config_changed(QString name)
{
    QMutexLocker lock(&mutex);
    if (name.isEmpty()) {
        ui->label_config_name->setText(QString());
        ui->label_config_icon->setPixmap(QPixmap());
        if (host_name_label)
            host_name_label->setText(QString());
        if (host_icon_label)
            host_icon_label->setPixmap(QPixmap(QString::fromLatin1(kEmptyHostIcon)));
        return;
    }
    ui->label_config_name->setText(name);
    ui->label_config_icon->setPixmap(QPixmap());
    if (host_name_label)
        host_name_label->setText(name);
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value(name, nullptr);
    if (!cfg || !cfg->loaded)
        return;
    const QPixmap icon(backend_icon_path(cfg->backend_name));
    ui->label_config_icon->setPixmap(icon);
    if (host_icon_label)
        host_icon_label->setPixmap(icon);
    // The dialog's mutex is held already; it is not recursive.
    cfg->reset_track_id(&track_ids, &track_history);
}

void DialogSarvik_v2::config_removed(QString name)
{
    if (ui->label_config_name->text() != name)
        return;
    QMutexLocker lock(&mutex);
    ui->label_config_name->setText(QString());
    if (host_name_label)
        host_name_label->setText(QString());
    ui->label_config_icon->setPixmap(QPixmap());
    if (host_icon_label)
        host_icon_label->setPixmap(QPixmap(QString::fromLatin1(kEmptyHostIcon)));
}

void DialogSarvik_v2::on_pushButton_reset_count_clicked() { reset_shown_tracking(); }

void DialogSarvik_v2::on_checkBox_enable_tracking_clicked(bool checked)
{
    // Switching tracking off keeps the counters.
    if (!checked)
        return;
    reset_shown_tracking();
}

void DialogSarvik_v2::reset_shown_tracking()
{
    const QString name = ui->label_config_name->text();
    if (name.isEmpty())
        return;
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value(name, nullptr);
    if (!cfg || !cfg->loaded)
        return;
    mutex.lock();
    cfg->reset_track_id(&track_ids, &track_history);
    mutex.unlock();
}

void DialogSarvik_v2::on_pushButton_config_clicked()
{
    const bool was_open = config_list_open;
    config_list_open = true;
    ui->pushButton_config->setEnabled(false);

    DialogListConfigs* list = nomu_lib_darknet_widget::dlg_detect_lst_config;
    list->close();
    QPoint p = mapToGlobal(ui->pushButton_config->pos());
    p.ry() += ui->pushButton_config->height();
    list->move(p);
    // Preselected before the connection, so the preselection is not a choice.
    list->setSelectedConfig(ui->label_config_name->text());
    const QMetaObject::Connection choice =
        connect(list->list_configs, &QListWidget::currentTextChanged, this, &DialogSarvik_v2::current_config_changed);
    list->exec();
    disconnect(choice);

    config_list_open = was_open;
    ui->pushButton_config->setEnabled(true);
}
