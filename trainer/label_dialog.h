#pragma once
// The class-name picker: the project's classes as an (index, name) table; a
// clicked row's name goes into the line edit, where a new name can be typed
// instead. Closed with OK or Cancel.

#include <QDialog>
#include <QString>

namespace Ui {
class LabelDialog;
}

class LabelDialog : public QDialog {
    Q_OBJECT

public:
    explicit LabelDialog(QWidget* parent = nullptr);
    ~LabelDialog() override;

    // Appends the row (row_count, label); neither cell is editable in place.
    void setLabelItemp(QString label);
    // The class name the user clicked or typed.
    QString getLineEdit();
    // Removes every row (the column titles stay), resets row_count and empties
    // the line edit; the owner then appends one row per class.
    void clear_rows();

    Ui::LabelDialog* ui;
    int row_count = 0; // rows appended; the position of the next row

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_tableWidget_cellClicked(int row, int column);
    void on_tableWidget_cellDoubleClicked(int row, int column);
};
