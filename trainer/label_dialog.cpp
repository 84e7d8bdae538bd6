#include "label_dialog.h"
#include "ui_label_dialog.h"

#include <QTableWidgetItem>

LabelDialog::LabelDialog(QWidget* parent) : QDialog(parent), ui(new Ui::LabelDialog)
{
    ui->setupUi(this);
    ui->tableWidget->setColumnWidth(0, 45);
    ui->tableWidget->setColumnWidth(1, 115);
    row_count = 0;
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
}

LabelDialog::~LabelDialog()
{
    delete ui;
}

void LabelDialog::setLabelItemp(QString label)
{
    ui->tableWidget->insertRow(row_count);
    const int row = ui->tableWidget->rowCount() - 1;
    auto index = new QTableWidgetItem(QString::number(row));
    index->setFlags(index->flags() & ~Qt::ItemIsEditable);
    auto name = new QTableWidgetItem(shown_text(label));
    name->setFlags(name->flags() & ~Qt::ItemIsEditable);
    name->setData(Qt::UserRole, label);
    ui->tableWidget->setItem(row_count, 0, index);
    ui->tableWidget->setItem(row_count, 1, name);
    ++row_count;
}

QString LabelDialog::shown_text(const QString& name)
{
    if (name.size() <= kShownChars)
        return name;
    int n = kShownChars;
    if (name.at(n - 1).isHighSurrogate())
        --n; // never half a pair
    return name.left(n) + QChar(0x2026);
}

QString LabelDialog::getLineEdit()
{
    const QString text = ui->lineEdit->text();
    if (!picked_.isEmpty() && text == shown_text(picked_))
        return picked_;
    return text;
}

void LabelDialog::clear_rows()
{
    // setRowCount(0), not clear(): clear() keeps the rows and deletes the
    // header items.
    ui->tableWidget->setRowCount(0);
    row_count = 0;
    picked_.clear();
    ui->lineEdit->setText("");
}

void LabelDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ui->buttonBox->setFocus(Qt::OtherFocusReason);
}

void LabelDialog::on_tableWidget_cellClicked(int row, int column)
{
    Q_UNUSED(column);
    QTableWidgetItem* item = ui->tableWidget->item(row, 1);
    const QVariant whole = item ? item->data(Qt::UserRole) : QVariant();
    picked_ = whole.isValid() ? whole.toString() : item ? item->text() : QString();
    ui->lineEdit->setText(shown_text(picked_));
}

void LabelDialog::on_tableWidget_cellDoubleClicked(int row, int column)
{
    on_tableWidget_cellClicked(row, column);
}
