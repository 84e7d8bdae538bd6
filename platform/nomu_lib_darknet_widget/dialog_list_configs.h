#pragma once
// The registry of detector configurations by name and the list dialog to
// choose or remove one.

#include "det_config.h"

#include <QDialog>
#include <QMap>
#include <QString>

class QListWidget;
class QPushButton;

class DialogListConfigs : public QDialog {
    Q_OBJECT
public:
    explicit DialogListConfigs(QWidget* parent);
    ~DialogListConfigs() override;

    // Configurations by name. Look names up with value() or find(), never
    // with operator[], which would insert a null entry. The registry owns its
    // records; a record removed through the list is deleted.
    static QMap<QString, DetConfig*> map_det_cfgs;

    // Loads the model folder `path` for `backend` and registers it as `name`.
    // An existing record under the name is reused in place (its old detector
    // is freed only once the new one has loaded); otherwise a new record is
    // created, owned by the registry. True means map_det_cfgs.value(name) is
    // a loaded DetConfig. On failure the reason goes to stderr, the registry
    // is left as it was, and the result is false; never throws.
    bool addConfigPath(QString name, QString path, QString backend);

    // Brings the list up to date with the registry and makes `name` the
    // current item (none when the name is empty or not registered).
    void setSelectedConfig(QString name);

    // The selection widget: one item per registered name, in registry order,
    // the item's text being the name; currentTextChanged(QString) carries the
    // chosen name.
    QListWidget* list_configs = nullptr;

signals:
    // A configuration left the list. Only a notification: the list itself
    // never unloads or deletes a record in response (the server emits it
    // while it holds the record's mutex).
    void config_removed(QString name);

private slots:
    void remove_current();

private:
    void sync_items();

    QPushButton* button_remove = nullptr;
    QPushButton* button_close = nullptr;
};

namespace nomu_lib_darknet_widget {

// The configuration list shared by the settings dialogs; null until the first
// one creates it. Never deleted.
extern DialogListConfigs* dlg_detect_lst_config;

// Registers the library's icons (":/nomu_quandel_sarvik/model/..."). Safe to
// call more than once; the list dialog and the configuration records call it
// themselves, a form that shows the icons before either exists calls it first.
void init_resources();

} // namespace nomu_lib_darknet_widget
