// Editing the objects of the current image from pointer input: boxes,
// polygons, selection, removal, moving and resizing.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

// Commits the pending rect and the clicked points as an object of the current
// image. Not built yet: commits nothing.
void DialogVarnex::addObject() {}

// Asks, then empties the current image's objects. Not built yet.
void DialogVarnex::clearObects() {}

// Removes the selected object. Not built yet.
void DialogVarnex::removePointOrObj(int event, int x, int y)
{
    Q_UNUSED(event);
    Q_UNUSED(x);
    Q_UNUSED(y);
}

// Moves the selected object with the pointer. Not built yet.
void DialogVarnex::moveObj(int x, int y)
{
    Q_UNUSED(x);
    Q_UNUSED(y);
}

// Resizes the selected object with the pointer. Not built yet.
void DialogVarnex::resizeObj(int x, int y)
{
    Q_UNUSED(x);
    Q_UNUSED(y);
}

// Builds the pending rect and the clicked points. Not built yet.
void DialogVarnex::mouse_addRect(int event, int x, int y)
{
    Q_UNUSED(event);
    Q_UNUSED(x);
    Q_UNUSED(y);
}

// Selects the object whose centre is near the pointer. Not built yet.
void DialogVarnex::get_activeObjectIndex(int x, int y)
{
    Q_UNUSED(x);
    Q_UNUSED(y);
}

// The pointer handler. Not built yet: ignores the event.
void DialogVarnex::on_MouseHandle(int event, int x, int y, void* userdata, int flags)
{
    Q_UNUSED(event);
    Q_UNUSED(x);
    Q_UNUSED(y);
    Q_UNUSED(userdata);
    Q_UNUSED(flags);
}

void DialogVarnex::on_MouseHandle(int event, int x, int y, int flags, void* userdata)
{
    auto dialog = static_cast<DialogVarnex*>(userdata);
    if (dialog)
        dialog->on_MouseHandle(event, x, y, nullptr, flags);
}
