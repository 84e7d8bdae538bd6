// The annotated view of the Labeling tab, redrawn every 10 ms, and its keys.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "dialog_labeling_setting.h"

int DialogVarnex::display_setting(const char* key)
{
    return dlg_lb_setting->get_settings()[key].toInt();
}

void DialogVarnex::loopTimerUpdateImWindow() {}
void DialogVarnex::drawObject() {}

void DialogVarnex::DrawRectangle(cv::Mat& image, cv::Rect rect, cv::Scalar color)
{
    Q_UNUSED(image);
    Q_UNUSED(rect);
    Q_UNUSED(color);
}

void DialogVarnex::DrawLine(cv::Mat& image, cv::Point from, cv::Point to, cv::Scalar color)
{
    Q_UNUSED(image);
    Q_UNUSED(from);
    Q_UNUSED(to);
    Q_UNUSED(color);
}

void DialogVarnex::commit_or_advance() {}
void DialogVarnex::commit_points() {}

// The display settings window is a non-modal tool window: changes show at the
// next redraw.
void DialogVarnex::on_pushButton_setting_clicked()
{
    dlg_lb_setting->show();
}
