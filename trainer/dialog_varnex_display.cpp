// The annotated view of the Labeling tab, redrawn every 10 ms, and its keys.
//
// Sizes scale with the image width: thicknesses by width/500, the text and
// the dots by width/640. OpenCV refuses thicknesses above 32767, which large
// settings on a wide image reach, so every thickness is capped there.
//
// Boxes, centres and the pointer may lie anywhere in the int range (a ".gt"
// is read as it is): the marks are placed in 64 bits and brought near the
// image before OpenCV draws them (box_geometry.h).

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "box_geometry.h"
#include "dialog_labeling_setting.h"
#include "label_cut.h"
#include "label_text.h"

#include <QKeyEvent>
#include <QMutexLocker>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

const int kMaxThickness = 32767; // the largest thickness OpenCV draws

const cv::Scalar kActive(255, 0, 0);
const cv::Scalar kDot(0, 255, 255);
const cv::Scalar kText(0, 0, 0);
const cv::Scalar kPending(0, 255, 0);
const cv::Scalar kPolygon(0, 255, 255);
const cv::Scalar kCrosshair(232, 232, 125);

// max(1, setting * width / divisor), capped; the product taken in 64 bits.
int scaled_thickness(int setting, int width, int divisor)
{
    const long long t = static_cast<long long>(setting) * width / divisor;
    return static_cast<int>(std::min<long long>(std::max<long long>(1, t), kMaxThickness));
}

int capped(int thickness)
{
    return std::min(std::max(1, thickness), kMaxThickness);
}

} // namespace

int DialogVarnex::display_setting(const char* key)
{
    return dlg_lb_setting->get_settings()[key].toInt();
}

bool DialogVarnex::view_shown() const
{
    return isVisible() && ui->tabWidget->currentIndex() == 0;
}

void DialogVarnex::loopTimerUpdateImWindow()
{
    if (!view_shown())
        return;
    ui->pushButton_prev->setEnabled(ui->horizontalSlider_frame->value() != 1);
    ui->pushButton_next->setEnabled(ui->horizontalSlider_frame->value() != frame_count);

    int key = 0;
    {
        QMutexLocker lock(&mutex);
        polled_key = 0;
        drawObject();
        key = polled_key;
        polled_key = 0;
    }
    // A commit may open the modal class picker: never while the lock is held.
    if (key == 13)
        commit_or_advance();
    else if (key == 39)
        commit_points();
}

void DialogVarnex::copy_to_display()
{
    if (display_image.u && display_image.u->refcount > 1)
        display_image.release();
    cur_image.copyTo(display_image);
}

void DialogVarnex::drawObject()
{
    try {
        copy_to_display();
        if (!display_image.empty()) {
            const int W = display_image.cols;
            const int H = display_image.rows;
            // Read once for this redraw: the settings window cannot change in
            // the middle of it (both run on the GUI thread).
            const QJsonObject settings = dlg_lb_setting->get_settings();
            const int rect_setting = settings["rect_thickness"].toInt();

            double text_scale = W * settings["font_scale"].toDouble() / 640;
            if (text_scale <= 0)
                text_scale = 0.01;
            const int text_thickness = scaled_thickness(settings["font_thickness"].toInt(), W, 640);
            const int text_offset = static_cast<int>(static_cast<long long>(settings["font_offset"].toInt()) * W / 640);
            const int box_thickness = scaled_thickness(rect_setting, W, 500);
            const int half = box_thickness / 2;
            const int dot_thickness = scaled_thickness(rect_setting, W, 640);

            LabelText label_text(text_scale, text_thickness);

            const bool has_frame = cur_index >= 0 && cur_index < static_cast<int>(labeling.frame_names.size());
            const auto it = has_frame ? labeling.frames.constFind(labeling.frame_names[static_cast<size_t>(cur_index)])
                                      : labeling.frames.constEnd();
            label_cut.begin_redraw();
            if (it != labeling.frames.constEnd()) {
                try {
                    const Frame& frame = it.value();
                    for (size_t i = 0; i < frame.size(); ++i) {
                        const Object& o = frame[i];
                        const bool active = static_cast<int>(i) == labeling.active_object;
                        draw_box(display_image, o.bbox, active ? kActive : o.color, box_thickness);

                        if (active) {
                            int radius = W * 5 / 640;
                            if (radius < 1)
                                radius = 3;
                            draw_circle(display_image, o.center, radius, kActive, dot_thickness, cv::LINE_8);
                        } else {
                            draw_circle(display_image, o.center, 2, kDot, dot_thickness, cv::LINE_8);
                        }

                        const long long x = o.bbox.x;
                        const long long y = o.bbox.y;
                        // Only the part of a long label that can show is
                        // measured and drawn.
                        const LabelCut::Cut text = label_cut.cut(o.label, x, W, text_scale, text_thickness);
                        draw_rectangle(display_image, std::max(0LL, x - half),
                                       std::max(0LL, y - half - text.height - text_offset),
                                       std::min(x + text.width, W - 1LL), std::min<long long>(y, H - half), o.color,
                                       -1, cv::LINE_8);
                        if (o.label.size() <= LabelCut::kShortLabel)
                            label_text.put(display_image, text.text, cv::Point2l(x, y - text_offset), kText);
                        else
                            cv::putText(display_image, text.text,
                                        cv::Point(clamp_to_int(text.origin_x), clamp_to_int(y - text_offset)),
                                        cv::FONT_HERSHEY_COMPLEX_SMALL, text_scale, kText, text_thickness, cv::LINE_8,
                                        false);
                    }
                } catch (const std::exception& e) {
                    // One object that cannot be drawn ends the objects of this
                    // redraw only.
                    report_redraw_error(e.what());
                }
            }
            label_cut.end_redraw();

            if (pending_rect.width != 0 && pending_rect.height != 0)
                draw_box(display_image, pending_rect, kPending, box_thickness);

            const size_t n = clicked_points.size();
            if (n >= 2) {
                const int line = capped(settings["line_thickness"].toInt());
                const int t = scaled_thickness(settings["line_thickness"].toInt(), W, 500);
                for (size_t i = 0; i < n; ++i) {
                    cv::line(display_image, clicked_points[i], clicked_points[(i + 1) % n], kPolygon, line,
                             cv::LINE_8, 0);
                    cv::circle(display_image, clicked_points[i], t / 2, point_palette[i % point_palette.size()], t,
                               cv::LINE_8);
                }
            }

            const int crosshair = settings["crosshair_thickness"].toInt();
            if (crosshair >= 1) {
                const int t = scaled_thickness(crosshair, W, 500);
                // A pointer far outside is brought just beyond the thickness:
                // the axis-parallel lines keep their pixels.
                const int mx = clamp_near(mouse_x, W, t + 2LL);
                const int my = clamp_near(mouse_y, H, t + 2LL);
                cv::line(display_image, cv::Point(0, my), cv::Point(W - 1, my), kCrosshair, t, cv::LINE_8);
                cv::line(display_image, cv::Point(mx, 0), cv::Point(mx, H - 1), kCrosshair, t, cv::LINE_8);
            }
        }
        show_cur_img(display_image);
    } catch (const std::exception& e) {
        report_redraw_error(e.what());
    }

    // Only the low byte counts, read as a signed byte, and only when positive.
    const int r = key_poll ? key_poll() : -1;
    const signed char k = static_cast<signed char>(r & 0xFF);
    if (k == 13 || k == 39)
        polled_key = k;
}

void DialogVarnex::report_redraw_error(const char* what)
{
    // Said once per kind of failure: the redraw runs every 10 ms.
    if (last_redraw_error == what)
        return;
    last_redraw_error = what;
    std::fprintf(stderr, "[Varnex] : redraw failed: %s\n", what);
}

void DialogVarnex::DrawRectangle(cv::Mat& image, cv::Rect rect, cv::Scalar color)
{
    draw_box(image, rect, color, scaled_thickness(display_setting("rect_thickness"), image.cols, 500));
}

// The far corner is one pixel beyond the box's last column and row.
void DialogVarnex::draw_box(cv::Mat& image, cv::Rect rect, cv::Scalar color, int thickness)
{
    const Box64 box(rect);
    draw_rectangle(image, box.x, box.y, box.right(), box.bottom(), color, thickness, cv::LINE_8);
}

void DialogVarnex::DrawLine(cv::Mat& image, cv::Point from, cv::Point to, cv::Scalar color)
{
    cv::line(image, from, to, color, capped(display_setting("line_thickness")), cv::LINE_8, 0);
}

void DialogVarnex::commit_or_advance()
{
    if (!commit_points())
        ui->horizontalSlider_frame->setValue(ui->horizontalSlider_frame->value() + 1);
}

bool DialogVarnex::commit_points()
{
    size_t n = 0;
    {
        QMutexLocker lock(&mutex);
        // cv::boundingRect, in 64 bits: points held far outside the image
        // can be wider apart than an int.
        pending_rect = bounding_box({clicked_points.begin(), clicked_points.end()}).to_rect();
        n = clicked_points.size();
    }
    if (n >= 3)
        addObject();
    QMutexLocker lock(&mutex);
    clicked_points.clear();
    return n >= 3;
}

// Only Enter acts, and only on the Labeling tab. The event never reaches the
// dialog's default handling: Escape does not close it, Return presses no
// button.
void DialogVarnex::keyPressEvent(QKeyEvent* event)
{
    if (ui->tabWidget->currentIndex() != 0)
        return;
    const std::string text = event->text().toStdString();
    const char first = text.empty() ? 0 : text[0];
    if (first == '\r')
        commit_or_advance();
}

// The display settings window is a non-modal tool window: changes show at the
// next redraw.
void DialogVarnex::on_pushButton_setting_clicked()
{
    dlg_lb_setting->show();
}
