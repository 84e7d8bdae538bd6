#pragma once
// Helpers for the settings dialog's tests: widget access by name, the
// registry, and answering the confirmation boxes of restoreState.

#include "dialog_list_configs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace dialogtest {

inline void clear_registry()
{
    qDeleteAll(DialogListConfigs::map_det_cfgs);
    DialogListConfigs::map_det_cfgs.clear();
}

template <typename T> T* w(QWidget& parent, const char* name) { return parent.findChild<T*>(name); }

// Answers every message box that comes up while it lives: records its title
// and text, runs `during` (if set), and clicks the next button of `answers`
// (the last one again when they run out).
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers) : answers_(std::move(answers))
    {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }
    QStringList titles, texts;
    std::function<void()> during;

private:
    void poll()
    {
        auto box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == last_)
            return;
        last_ = box;
        titles << box->windowTitle();
        texts << box->text();
        if (during)
            during();
        const QMessageBox::StandardButton b = answers_.isEmpty() ? QMessageBox::No
                                                                 : answers_.value(titles.size() - 1, answers_.last());
        box->button(b)->click();
    }
    QList<QMessageBox::StandardButton> answers_;
    QTimer timer_;
    QPointer<QMessageBox> last_;
};

} // namespace dialogtest
