#include "dialog_sarvik_v2.h"

#include "ui_dialog_sarvik_v2.h"

#include "dialog_list_configs.h"

#include <QEvent>
#include <QPixmap>

DialogSarvik_v2::DialogSarvik_v2(QWidget* parent) : QDialog(parent), ui(new Ui_DialogSarvik_v2)
{
    // The form shows the layer's icon, so its resources must be in place first.
    nomu_lib_darknet_widget::init_resources();
    ui->setupUi(this);
    ui->tabWidget->setCurrentIndex(0);
    // Tracking starts switched off; setChecked emits no clicked(), so no reset runs.
    ui->checkBox_enable_tracking->setChecked(false);
    if (!nomu_lib_darknet_widget::dlg_detect_lst_config)
        nomu_lib_darknet_widget::dlg_detect_lst_config = new DialogListConfigs(nullptr);
    connect(nomu_lib_darknet_widget::dlg_detect_lst_config, &DialogListConfigs::config_removed, this,
            &DialogSarvik_v2::config_removed);
    ui->label_config_name->setText(QString());
    ui->label_config_icon->setPixmap(QPixmap());
}

DialogSarvik_v2::~DialogSarvik_v2() { delete ui; }

void DialogSarvik_v2::changeEvent(QEvent* event)
{
    // A popup: it hides as soon as another window becomes active, except
    // while the configuration list it opened is running.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && !config_list_open)
        close();
}
