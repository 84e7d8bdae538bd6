#pragma once
// The class-name picker: the project's classes as an (index, name) table; a
// clicked row's name goes into the line edit, where a new name can be typed
// instead. Closed with OK or Cancel.
//
// A class name may be megabytes long (a ".gt" is read as it is), more than a
// table cell can lay out quickly and than a line edit holds (32767
// characters). Such a name is shown cut to its first kShownChars characters
// and "…", in the table and in the line edit; a row picked so keeps its whole
// name, which getLineEdit returns as long as the line edit still shows what
// the click put there.

#include <QDialog>
#include <QString>

namespace Ui {
class LabelDialog;
}

class LabelDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kShownChars = 256;

    explicit LabelDialog(QWidget* parent = nullptr);
    ~LabelDialog() override;

    // Appends the row (row_count, label); neither cell is editable in place.
    void setLabelItemp(QString label);
    // The class name the user clicked (whole) or typed.
    QString getLineEdit();
    // The text shown for `name`: the name itself, or its cut form.
    static QString shown_text(const QString& name);
    // Removes every row (the column titles stay), resets row_count and empties
    // the line edit; the owner then appends one row per class.
    void clear_rows();

    Ui::LabelDialog* ui;
    int row_count = 0; // rows appended; the position of the next row

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString picked_; // the whole name of the row last clicked

private slots:
    void on_tableWidget_cellClicked(int row, int column);
    void on_tableWidget_cellDoubleClicked(int row, int column);
};
