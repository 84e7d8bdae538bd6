#include "view_pointer.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QStyle>

#include <algorithm>

namespace view_pointer {

QRect pixmap_rect(const QRect& contents, const QSize& pixmap, Qt::Alignment alignment)
{
    if (pixmap.isEmpty())
        return QRect();
    // The placement QStyle::drawItemPixmap uses when QLabel paints.
    return QStyle::alignedRect(QGuiApplication::layoutDirection(), alignment, pixmap, contents);
}

namespace {

// floor(offset * image / shown) for one axis, in 64 bits.
int scale_axis(int offset, int image, int shown)
{
    const long long num = static_cast<long long>(offset) * image;
    long long q = num / shown;
    if (num % shown != 0 && num < 0)
        --q;
    return static_cast<int>(std::max<long long>(std::min<long long>(q, 0x7fffffff), -0x7fffffff - 1LL));
}

} // namespace

bool to_image(const QPoint& pos, const QRect& shown, const QSize& image, bool clamp, QPoint* pixel)
{
    if (shown.isEmpty() || image.isEmpty())
        return false;
    int x = scale_axis(pos.x() - shown.x(), image.width(), shown.width());
    int y = scale_axis(pos.y() - shown.y(), image.height(), shown.height());
    const bool inside = x >= 0 && y >= 0 && x < image.width() && y < image.height();
    if (!inside && !clamp)
        return false;
    x = std::min(std::max(x, 0), image.width() - 1);
    y = std::min(std::max(y, 0), image.height() - 1);
    if (pixel)
        *pixel = QPoint(x, y);
    return true;
}

int button_flags(Qt::MouseButtons buttons)
{
    int flags = 0;
    if (buttons & Qt::LeftButton)
        flags |= kFlagLeft;
    if (buttons & Qt::RightButton)
        flags |= kFlagRight;
    if (buttons & Qt::MiddleButton)
        flags |= kFlagMiddle;
    return flags;
}

} // namespace view_pointer

using namespace view_pointer;

ViewPointer::ViewPointer(QLabel* view, ImageSize image_size, Handler handler, QObject* parent)
    : QObject(parent), view_(view), image_size_(std::move(image_size)), handler_(std::move(handler))
{
    view_->setMouseTracking(true);
    view_->installEventFilter(this);
}

QRect ViewPointer::shown_rect() const
{
    const QPixmap pm = view_->pixmap(Qt::ReturnByValue);
    if (pm.isNull() || view_->hasScaledContents())
        return QRect();
    const int margin = view_->margin();
    const QRect contents = view_->contentsRect().adjusted(margin, margin, -margin, -margin);
    const Qt::Alignment align = QStyle::visualAlignment(view_->layoutDirection(), view_->alignment());
    return pixmap_rect(contents, pm.size() / pm.devicePixelRatio(), align);
}

bool ViewPointer::map(const QPoint& pos, bool clamp, QPoint* pixel) const
{
    const QSize image = image_size_ ? image_size_() : QSize();
    return to_image(pos, shown_rect(), image, clamp, pixel);
}

void ViewPointer::forward(int event, const QPoint& pixel, int flags)
{
    if (handler_)
        handler_(event, pixel.x(), pixel.y(), flags);
}

bool ViewPointer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != view_)
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease && type != QEvent::MouseMove)
        return false;

    const auto* me = static_cast<QMouseEvent*>(event);
    const QPoint pos = me->pos();
    const int flags = button_flags(me->buttons());
    QPoint pixel;

    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // The second press of a double click arrives as a double click.
        if (me->button() == Qt::LeftButton && map(pos, false, &pixel)) {
            pressed_ = true;
            forward(kLeftDown, pixel, flags | kFlagLeft);
        }
        return true;
    case QEvent::MouseButtonRelease:
        if (me->button() == Qt::LeftButton) {
            const bool due = pressed_;
            pressed_ = false;
            if (due && map(pos, true, &pixel))
                forward(kLeftUp, pixel, flags | kFlagLeft);
        } else if (me->button() == Qt::RightButton) {
            if (map(pos, false, &pixel))
                forward(kRightUp, pixel, flags);
        }
        return true;
    default: // move
        if (pressed_ && !(me->buttons() & Qt::LeftButton))
            pressed_ = false; // the release went elsewhere
        if (pressed_) {
            if (map(pos, true, &pixel))
                forward(kMove, pixel, flags);
        } else if (map(pos, false, &pixel)) {
            forward(kMove, pixel, flags & ~kFlagLeft);
        }
        return true;
    }
}
