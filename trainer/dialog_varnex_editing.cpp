// Editing the objects of the current image from pointer input: boxes,
// polygons, selection, the context menu, removal, moving and resizing.
//
// Locking: the frames, the selection and the clicked points are changed by
// the GUI thread and by the two editing tasks on the global thread pool, so
// every access here holds the dialog's mutex, and never across a modal loop
// (the class picker, the question, the menu): the 10 ms redraw takes the same
// non-recursive mutex on the GUI thread while those loops run.
//
// The tasks act on what the user chose: the image (and, for a removal, the
// object) is captured when the command is given and passed by value, so a
// change of image before the task runs cannot send it to another image. A
// task resets the selection and the clicked points only when its image is
// still the one shown; when the image changes at the same moment, the change
// itself resets them under the mutex, so either order ends the same.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "box_geometry.h"
#include "view_pointer.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QMutexLocker>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>
#include <memory>

namespace {

// The file name of the shown image; empty when no image is open.
QString current_name(const DialogVarnex& d)
{
    if (d.cur_index < 0 || d.cur_index >= static_cast<int>(d.labeling.frame_names.size()))
        return QString();
    return d.labeling.frame_names[static_cast<size_t>(d.cur_index)];
}

// The Frame of image `name`, or null. Never inserts. Call with the mutex held.
Frame* frame_named(Labeling& l, const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    const auto it = l.frames.find(name);
    return it == l.frames.end() ? nullptr : &it.value();
}

Frame* current_frame(DialogVarnex& d)
{
    return frame_named(d.labeling, current_name(d));
}

double squared_distance(const cv::Point& a, int x, int y)
{
    const double dx = static_cast<double>(x) - a.x;
    const double dy = static_cast<double>(y) - a.y;
    return dx * dx + dy * dy;
}

// Appends `obj` named `name` to image `frame`: an existing class gives its
// index and colour, a new one is added to the class list and the picker. A
// class the colour table has no room for commits nothing (add_class says so
// on stderr); so does an image that is no longer open.
bool commit_object(DialogVarnex& d, Object obj, const QString& name, const QString& frame)
{
    bool added = false;
    {
        QMutexLocker lock(&d.mutex);
        Frame* f = frame_named(d.labeling, frame);
        if (!f)
            return false;
        int k = d.labeling.class_index(name);
        if (k < 0) {
            k = d.labeling.add_class(name);
            if (k < 0)
                return false;
            added = true;
        }
        obj.label = name;
        obj.label_index = k;
        obj.color = d.labeling.class_colors[k];
        f->push_back(obj);
    }
    if (added)
        d.label_dialog.setLabelItemp(name);
    return true;
}

// Hands `task` to the global thread pool. Pointer input is ignored from now
// until the task has finished.
void start_task(DialogVarnex& d, std::function<void()> task)
{
    d.busy = true;
    DialogVarnex* dialog = &d;
    const QFuture<void> future = QtConcurrent::run(QThreadPool::globalInstance(), [dialog, task]() {
        task();
        dialog->busy = false;
    });
    // Only the pending tasks are worth keeping (for the destructor's wait).
    bool all_finished = true;
    for (const QFuture<void>& f : d.editing_tasks.futures())
        all_finished = all_finished && f.isFinished();
    if (all_finished)
        d.editing_tasks.clearFutures();
    d.editing_tasks.addFuture(future);
}

// Moves (or resizes) the selected object by the pointer's offset from its
// centre, when the pointer is at most 3 pixels from that centre. A box read
// at the int limits stays there: the position or size saturates.
void shift_active(DialogVarnex& d, int x, int y, bool resize)
{
    QMutexLocker lock(&d.mutex);
    const int k = d.labeling.active_object;
    Frame* f = current_frame(d);
    if (k < 0 || !f || k >= static_cast<int>(f->size()))
        return;
    Object& o = (*f)[static_cast<size_t>(k)];
    if (squared_distance(o.center, x, y) > 9.0)
        return;
    const long long dx = static_cast<long long>(x) - o.center.x;
    const long long dy = static_cast<long long>(y) - o.center.y;
    if (resize) {
        o.bbox.width = clamp_to_int(o.bbox.width + dx);
        o.bbox.height = clamp_to_int(o.bbox.height + dy);
    } else {
        o.bbox.x = clamp_to_int(o.bbox.x + dx);
        o.bbox.y = clamp_to_int(o.bbox.y + dy);
    }
    o.center = box_centre(o.bbox);
}

// The menu of a right button release at image pixel (x, y).
void run_context_menu(DialogVarnex& d, int x, int y)
{
    size_t points = 0;
    bool has_objects = false;
    int active = -1;
    {
        QMutexLocker lock(&d.mutex);
        points = d.clicked_points.size();
        active = d.labeling.active_object;
        const Frame* f = current_frame(d);
        has_objects = f && !f->empty();
    }

    QMenu menu(DialogVarnex::tr("Context menu"), &d);
    std::vector<std::unique_ptr<QAction>> actions;
    auto add = [&](const QString& text, std::function<void()> run) {
        actions.emplace_back(new QAction(text, &d));
        QObject::connect(actions.back().get(), &QAction::triggered, &d, run);
        menu.addAction(actions.back().get());
    };
    DialogVarnex* dialog = &d;
    if (active < 0) {
        if (points >= 3)
            add("Remove last point", [dialog]() {
                QMutexLocker lock(&dialog->mutex);
                if (!dialog->clicked_points.empty())
                    dialog->clicked_points.pop_back();
            });
        if (points >= 1)
            add("Clear points", [dialog]() {
                QMutexLocker lock(&dialog->mutex);
                dialog->clicked_points.clear();
            });
        if (has_objects)
            add("Clear objects", [dialog]() { dialog->clearObects(); });
    } else {
        add("Remove object", [dialog, x, y]() { dialog->removePointOrObj(5, x, y); });
    }
    // Nothing to offer: no empty popup.
    if (actions.empty())
        return;
    menu.exec(QCursor::pos());
}

} // namespace

void DialogVarnex::install_view_pointer()
{
    view_pointer = new ViewPointer(
        ui->label_img,
        [this]() {
            // Editing works on the current image's Frame: only while a folder
            // is open.
            if (labeling.frame_names.empty() || cur_image.empty())
                return QSize();
            return QSize(cur_image.cols, cur_image.rows);
        },
        [this](int event, int x, int y, int flags) { on_MouseHandle(event, x, y, nullptr, flags); }, this);
}

void DialogVarnex::addObject()
{
    Object obj;
    QString frame;
    std::vector<cv::Point> points;
    {
        QMutexLocker lock(&mutex);
        obj.bbox = pending_rect;
        obj.center = box_centre(pending_rect);
        frame = current_name(*this);
        points = clicked_points;
    }

    if (ui->checkBox_autorect->isChecked()) {
        // The points are not attached, and the pending rect keeps its size.
        const QString name = ui->lineEdit_classname->text();
        if (!name.isEmpty())
            commit_object(*this, obj, name, frame);
        return;
    }

    // The picker is already asking (a commit from inside its own loop).
    if (label_dialog.isVisible())
        return;
    label_dialog.move(QCursor::pos() - QPoint(label_dialog.width() / 2, label_dialog.height() / 2));
    const int answer = label_dialog.exec();
    const QString name = label_dialog.getLineEdit();
    if (answer == QDialog::Accepted && !name.isEmpty()) {
        if (points.size() >= 3)
            obj.landmark = points;
        commit_object(*this, obj, name, frame);
    }
    QMutexLocker lock(&mutex);
    pending_rect.width = 0;
    pending_rect.height = 0;
}

void DialogVarnex::clearObects()
{
    const QString frame = current_name(*this);
    if (frame.isEmpty())
        return;

    QMessageBox box(this);
    box.setWindowTitle("Clear");
    box.setText("Do you want to clear objects ?");
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    const QSize size = box.sizeHint();
    box.move(QCursor::pos() - QPoint(size.width() / 2, size.height() / 2));
    if (box.exec() != QMessageBox::Yes)
        return;

    start_task(*this, [this, frame]() {
        QMutexLocker lock(&mutex);
        Frame* f = frame_named(labeling, frame);
        if (!f)
            return;
        f->clear();
        if (current_name(*this) == frame) {
            labeling.active_object = -1;
            clicked_points.clear();
        }
    });
}

void DialogVarnex::removePointOrObj(int event, int x, int y)
{
    Q_UNUSED(event);
    Q_UNUSED(x);
    Q_UNUSED(y);
    int k = -1;
    QString frame;
    {
        QMutexLocker lock(&mutex);
        k = labeling.active_object;
        frame = current_name(*this);
    }
    if (k < 0)
        return;

    start_task(*this, [this, frame, k]() {
        QMutexLocker lock(&mutex);
        Frame* f = frame_named(labeling, frame);
        if (f && k < static_cast<int>(f->size()))
            f->erase(f->begin() + k);
        if (current_name(*this) == frame)
            labeling.active_object = -1;
    });
}

void DialogVarnex::moveObj(int x, int y)
{
    shift_active(*this, x, y, false);
}

void DialogVarnex::resizeObj(int x, int y)
{
    shift_active(*this, x, y, true);
}

void DialogVarnex::mouse_addRect(int event, int pointer_x, int pointer_y)
{
    // The view only gives pixels of the image; any other position is held
    // far outside it, where the pending rect and its size still fit an int.
    const int x = limit_coordinate(pointer_x);
    const int y = limit_coordinate(pointer_y);
    const bool one_click = ui->checkBox_autorect->isChecked();
    if (event == view_pointer::kLeftDown) {
        QMutexLocker lock(&mutex);
        if (one_click) {
            const int w = ui->spinBox_autorect_w->value();
            const int h = ui->spinBox_autorect_h->value();
            pending_rect = cv::Rect(x - w / 2, y - h / 2, w, h);
        } else {
            dragging = true;
            pending_rect = cv::Rect(x, y, 0, 0);
            clicked_points.push_back(cv::Point(x, y));
        }
    } else if (event == view_pointer::kMove) {
        QMutexLocker lock(&mutex);
        if (clicked_points.size() == 1 && dragging) {
            pending_rect.width = x - pending_rect.x;
            pending_rect.height = y - pending_rect.y;
        }
    } else if (event == view_pointer::kLeftUp) {
        bool commit = false;
        {
            QMutexLocker lock(&mutex);
            dragging = false;
            if (pending_rect.width < 0) {
                pending_rect.x += pending_rect.width;
                pending_rect.width = -pending_rect.width;
            }
            if (pending_rect.height < 0) {
                pending_rect.y += pending_rect.height;
                pending_rect.height = -pending_rect.height;
            }
            commit = (one_click || clicked_points.size() == 1) && pending_rect.width > 5 && pending_rect.height > 5;
        }
        if (commit) {
            // May run the picker's modal loop: without the lock.
            addObject();
            QMutexLocker lock(&mutex);
            clicked_points.clear();
        }
    }
}

void DialogVarnex::get_activeObjectIndex(int x, int y)
{
    QMutexLocker lock(&mutex);
    labeling.active_object = -1;
    if (!clicked_points.empty())
        return;
    // 20 pixels on a 640 x 480 image; in 64 bits, so very large images still
    // select.
    const long long limit = static_cast<long long>(cur_image.cols) * 20 * cur_image.rows / 307200;
    const Frame* f = current_frame(*this);
    if (!f)
        return;
    const double limit2 = static_cast<double>(limit) * static_cast<double>(limit);
    for (size_t i = 0; i < f->size(); ++i) {
        if (squared_distance((*f)[i].center, x, y) < limit2) {
            labeling.active_object = static_cast<int>(i);
            return;
        }
    }
}

void DialogVarnex::on_MouseHandle(int event, int x, int y, void* userdata, int flags)
{
    Q_UNUSED(userdata);
    if (busy) {
        activateWindow();
        return;
    }
    mouse_x = x;
    mouse_y = y;
    if (event == view_pointer::kLeftDown || flags == view_pointer::kFlagLeft) {
        mouse_addRect(event, x, y);
        if (flags == view_pointer::kFlagLeft) {
            QMutexLocker lock(&mutex);
            labeling.active_object = -1;
        }
    }
    get_activeObjectIndex(x, y);
    if (event == view_pointer::kRightUp)
        run_context_menu(*this, x, y);
}

void DialogVarnex::on_MouseHandle(int event, int x, int y, int flags, void* userdata)
{
    auto dialog = static_cast<DialogVarnex*>(userdata);
    if (dialog)
        dialog->on_MouseHandle(event, x, y, nullptr, flags);
}
