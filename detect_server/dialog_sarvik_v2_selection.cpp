// Configuration selection and tracking reset of the settings dialog.
#include "dialog_sarvik_v2.h"

void DialogSarvik_v2::current_config_changed(QString) {}

void DialogSarvik_v2::config_removed(QString) {}

void DialogSarvik_v2::on_pushButton_reset_count_clicked() {}

void DialogSarvik_v2::on_checkBox_enable_tracking_clicked(bool) {}

void DialogSarvik_v2::on_pushButton_config_clicked() {}
