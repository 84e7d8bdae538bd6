#pragma once
// The pointer route of the labeling view: mouse events on the QLabel that
// shows the image scaled into it, mapped back to pixels of the image and
// handed on with OpenCV's mouse-callback codes and flags.
//
// The view shows the image scaled with its aspect ratio kept and placed by the
// label's alignment inside its contents rectangle, so a view position maps to
// image pixel floor((position - pixmap corner) * image size / pixmap size).

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>

class QLabel;
class QMouseEvent;

namespace view_pointer {

// OpenCV's mouse-callback event codes and button flags.
enum Event { kMove = 0, kLeftDown = 1, kLeftUp = 4, kRightUp = 5 };
enum Flag { kFlagLeft = 1, kFlagRight = 2, kFlagMiddle = 4 };

// Where QLabel draws a pixmap of `pixmap` logical size: aligned by `alignment`
// (already made visual for the label's direction) inside `contents`, the
// label's contents rectangle less its margin.
QRect pixmap_rect(const QRect& contents, const QSize& pixmap, Qt::Alignment alignment);

// The image pixel under view position `pos`, for an image of `image` size
// drawn into `shown`. Outside the drawn pixmap: false, unless `clamp`, which
// brings the position to the nearest pixel of the image. False too when
// nothing is shown (an empty rectangle or image).
bool to_image(const QPoint& pos, const QRect& shown, const QSize& image, bool clamp, QPoint* pixel);

// OpenCV's button flags for Qt's held buttons. Modifier keys are left out:
// the editing handler tells a drag by the flags being exactly the left
// button, which a held Shift or Ctrl would otherwise hide.
int button_flags(Qt::MouseButtons buttons);

} // namespace view_pointer

// Event filter on the view. Forwards, in image pixels:
//  - a left press or double click on the pixmap as a left down (a press
//    outside the pixmap is ignored);
//  - a left release as a left up with the left-button flag (Qt's release
//    event no longer lists the released button), only after a forwarded
//    press, and clamped to the image like the moves of that drag;
//  - a right release on the pixmap as a right up;
//  - moves: those of a drag clamped to the image, others only over the
//    pixmap and without the left-button flag.
// Nothing is forwarded while `image_size` gives an empty size (no image).
class ViewPointer : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(int event, int x, int y, int flags)>;
    using ImageSize = std::function<QSize()>;

    // Switches mouse tracking on for `view` and installs itself on it.
    ViewPointer(QLabel* view, ImageSize image_size, Handler handler, QObject* parent = nullptr);

    // The rectangle the view's pixmap is drawn in; empty without a pixmap.
    QRect shown_rect() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool map(const QPoint& pos, bool clamp, QPoint* pixel) const;
    void forward(int event, const QPoint& pixel, int flags);

    QLabel* view_;
    ImageSize image_size_;
    Handler handler_;
    bool pressed_ = false; // a left press was forwarded and its release is due
};
