#pragma once
// The display settings: a small tool window whose spin boxes hold how the
// labeling view draws boxes, polygons, the crosshair and the label text.
// Nothing is cached: readers pull the values with get_settings() whenever
// they need them, so a change shows at the next redraw.

#include <QDialog>
#include <QJsonObject>

namespace Ui {
class DialogLabelingSetting;
}

class DialogLabelingSetting : public QDialog {
    Q_OBJECT

public:
    explicit DialogLabelingSetting(QWidget* parent = nullptr);
    ~DialogLabelingSetting() override;

    // {"rect_thickness", "line_thickness", "crosshair_thickness",
    //  "font_scale", "font_thickness", "font_offset"} as the spin boxes hold
    // them now.
    QJsonObject get_settings();

    // Sets the six spin boxes from such an object. A missing member, one that
    // is not a number, or (but for the scale) one with a fraction reads as 0;
    // each box then clamps to its range and rounds to its decimals.
    void restore_setting(QJsonObject settings);

    Ui::DialogLabelingSetting* ui;

private slots:
    // Readers pull the values; nothing is pushed from here.
    void on_spinBox_rect_thickness_valueChanged(int value);
    void on_spinBox_line_thickness_valueChanged(int value);
    void on_spinBox_font_thickness_valueChanged(int value);
    void on_spinBox_font_offset_valueChanged(int value);
    void on_spinBox_font_scale_valueChanged(double value);
};
