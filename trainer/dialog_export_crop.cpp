#include "dialog_export_crop.h"
#include "ui_dialog_export_crop.h"

#include <QDir>

DialogExportCrop::DialogExportCrop(QWidget* parent) : QDialog(parent), ui(new Ui::DialogExportCrop)
{
    ui->setupUi(this);
    setFixedSize(size());
    tmp_dir = QDir::homePath();
}

DialogExportCrop::~DialogExportCrop()
{
    delete ui;
}

QJsonObject DialogExportCrop::saveState()
{
    return QJsonObject();
}

void DialogExportCrop::restoreState(QJsonObject) {}
