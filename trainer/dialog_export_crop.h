#pragma once
// The crop export: one image file per labelled object of every image.
// (Placeholder until the crop export work lands: it keeps no settings and
// exports nothing.)

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
    explicit DialogExportCrop(QWidget* parent = nullptr);
    ~DialogExportCrop() override;

    QJsonObject saveState();
    void restoreState(QJsonObject state);

    const QList<QFileInfo>* image_files = nullptr; // the main dialog's list, not owned
    Labeling* labeling = nullptr;                  // the main dialog's labels, not owned
    QString tmp_dir;                               // where the folder dialog opens
    bool success = false;                          // the last run went through every image
    QString export_dir;                            // export folder of that run
    Ui::DialogExportCrop* ui;
};
