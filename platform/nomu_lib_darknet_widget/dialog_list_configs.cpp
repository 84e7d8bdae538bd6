#include "dialog_list_configs.h"

#include "backend_icon.h"
#include "model_loader.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <exception>

QMap<QString, DetConfig*> DialogListConfigs::map_det_cfgs;

namespace nomu_lib_darknet_widget {
DialogListConfigs* dlg_detect_lst_config = nullptr;
}

namespace {

void warn(const QString& text)
{
    std::fprintf(stderr, "addConfigPath: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

DialogListConfigs::DialogListConfigs(QWidget* parent) : QDialog(parent)
{
    nomu_lib_darknet_widget::init_resources();
    setObjectName(QStringLiteral("DialogListConfigs"));
    setWindowTitle(tr("Configs"));
    resize(260, 300);

    list_configs = new QListWidget(this);
    list_configs->setObjectName(QStringLiteral("list_configs"));
    button_remove = new QPushButton(tr("Remove"), this);
    button_remove->setObjectName(QStringLiteral("pushButton_remove"));
    button_remove->setAutoDefault(false);
    button_close = new QPushButton(tr("Close"), this);
    button_close->setObjectName(QStringLiteral("pushButton_close"));
    button_close->setAutoDefault(false);

    auto buttons = new QHBoxLayout;
    buttons->addWidget(button_remove);
    buttons->addStretch(1);
    buttons->addWidget(button_close);
    auto layout = new QVBoxLayout(this);
    layout->addWidget(list_configs);
    layout->addLayout(buttons);

    connect(button_remove, &QPushButton::clicked, this, &DialogListConfigs::remove_current);
    connect(button_close, &QPushButton::clicked, this, &QDialog::reject);
    sync_items();
}

DialogListConfigs::~DialogListConfigs() = default;

bool DialogListConfigs::addConfigPath(QString name, QString path, QString backend)
{
    try {
        LoadedModel model;
        QString error;
        if (!load_model(path, backend, &model, &error)) {
            warn("\"" + name + "\" not loaded: " + error);
            return false;
        }
        DetConfig* cfg = map_det_cfgs.value(name, nullptr);
        if (!cfg) {
            cfg = new DetConfig(this);
            map_det_cfgs.insert(name, cfg);
        }
        {
            QMutexLocker lock(&cfg->mutex);
            cfg->free_detectors();
            if (model.gpu) {
                if (!cfg->yolo)
                    cfg->yolo = new darknet::NomuYolo;
                cfg->yolo->detector = model.gpu.release();
            } else {
                if (!cfg->yolo_cpu)
                    cfg->yolo_cpu = new NomuYoloCPU;
                cfg->yolo_cpu->detector = model.cpu.release();
            }
            cfg->config_path = path;
            cfg->backend_name = backend;
            cfg->class_names = std::move(model.class_names);
            cfg->obj_counts.clear();
            cfg->count_text.clear();
            cfg->own_track_ids.assign(cfg->class_names.size(), 1u);
            cfg->own_history.clear();
            cfg->track_counters = &cfg->own_track_ids;
            cfg->loaded = true;
        }
        sync_items();
        return true;
    } catch (const std::exception& e) {
        warn("\"" + name + "\" not loaded: " + QString::fromLocal8Bit(e.what()));
    } catch (...) {
        warn("\"" + name + "\" not loaded: unknown failure");
    }
    return false;
}

void DialogListConfigs::setSelectedConfig(QString name)
{
    sync_items();
    const QList<QListWidgetItem*> found =
        name.isEmpty() ? QList<QListWidgetItem*>() : list_configs->findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) {
        list_configs->setCurrentRow(-1);
        list_configs->clearSelection();
    } else {
        list_configs->setCurrentItem(found.first());
    }
}

void DialogListConfigs::sync_items()
{
    // Rebuilt quietly: a refresh is not a choice of the user.
    const QSignalBlocker block(list_configs);
    const QString current = list_configs->currentItem() ? list_configs->currentItem()->text() : QString();
    list_configs->clear();
    for (auto it = map_det_cfgs.cbegin(); it != map_det_cfgs.cend(); ++it) {
        if (it.key().isEmpty() || !it.value())
            continue;
        const DetConfig* cfg = it.value();
        auto item = new QListWidgetItem(QIcon(backend_icon_path(cfg->backend_name)), it.key(), list_configs);
        item->setToolTip(tr("backend : %1\n%2%3")
                             .arg(cfg->backend_name, cfg->config_path, cfg->loaded ? QString() : tr("\n(not loaded)")));
        if (!cfg->loaded)
            item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
        if (it.key() == current)
            list_configs->setCurrentItem(item);
    }
}

void DialogListConfigs::remove_current()
{
    QListWidgetItem* item = list_configs->currentItem();
    if (!item)
        return;
    const QString name = item->text();
    DetConfig* cfg = map_det_cfgs.value(name, nullptr);
    map_det_cfgs.remove(name);
    delete item; // may move the current item, which the list reports as usual
    if (cfg) {
        QMutexLocker lock(&cfg->mutex);
        cfg->free_detectors();
        cfg->loaded = false;
    }
    emit config_removed(name);
    delete cfg;
}
