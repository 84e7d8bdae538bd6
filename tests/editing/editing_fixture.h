#pragma once
// Shared by the editing tests: a home folder and quick board tools for every
// dialog built, image folders, and answers to the class picker, the question
// box and the context menu given from the test while the code under test sits
// in their modal loops.

#include "dialog_varnex.h"
#include "label_dialog.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"
#include "ui_label_dialog.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>

Q_DECLARE_METATYPE(cv::Rect)
Q_DECLARE_METATYPE(cv::Point)

// Readable values in failed comparisons (found by QTest through ADL).
namespace cv {
inline char* toString(const Rect& r)
{
    return QTest::toString(QString("Rect(%1, %2, %3, %4)").arg(r.x).arg(r.y).arg(r.width).arg(r.height));
}
inline char* toString(const Point& p)
{
    return QTest::toString(QString("Point(%1, %2)").arg(p.x).arg(p.y));
}
} // namespace cv

namespace editing_fixture {

// The dialog's environment, with image folders made in its scratch folder.
class Environment : public testsupport::DialogEnvironment {
public:
    // A folder `name` holding one w x h image per file name.
    QString folder(const QString& name, const QStringList& files, int w, int h)
    {
        const QString dir = path(name);
        QDir().mkpath(dir);
        for (const QString& f : files)
            cv::imwrite((dir + "/" + f).toStdString(), cv::Mat(h, w, CV_8UC3, cv::Scalar(40, 60, 80)));
        return dir;
    }
};

// What the class picker saw when it was answered.
struct PickerSeen {
    bool opened = false;
    QPoint pos;       // where it stood
    QPoint cursor;    // the pointer's screen position then
    bool lockFree = false;
};

// Answers the next class picker: with `name` and OK, or Cancel when `accept`
// is false.
inline void answerPicker(DialogVarnex* d, const QString& name, bool accept = true, PickerSeen* seen = nullptr)
{
    testsupport::answerNextModal([d, name, accept, seen](QWidget* w) {
        if (w != &d->label_dialog) {
            qWarning("expected the class picker, got a %s", w->metaObject()->className());
            w->close();
            return;
        }
        if (seen) {
            seen->opened = true;
            seen->pos = w->pos();
            seen->cursor = QCursor::pos();
            seen->lockFree = d->mutex.tryLock();
            if (seen->lockFree)
                d->mutex.unlock();
        }
        d->label_dialog.ui->lineEdit->setText(name);
        d->label_dialog.ui->buttonBox->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
}

// Watches for the next context menu while it lives: records its title and
// entries, then triggers the entry `choose` by a click (or closes the menu
// when `choose` is empty or not offered).
class MenuAnswer {
public:
    explicit MenuAnswer(const QString& choose = QString()) : choose_(choose)
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this]() {
            auto menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible())
                return;
            timer_.stop();
            seen = true;
            title = menu->title();
            QAction* chosen = nullptr;
            for (QAction* a : menu->actions()) {
                entries << a->text();
                if (!choose_.isEmpty() && a->text() == choose_)
                    chosen = a;
            }
            if (chosen)
                QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(chosen).center());
            else
                menu->close();
        });
        timer_.start();
    }

    bool seen = false;
    QString title;
    QStringList entries;

private:
    QString choose_;
    QTimer timer_;
};

inline Object makeObject(const QString& label, int index, cv::Rect box)
{
    Object o;
    o.label = label;
    o.label_index = index;
    o.bbox = box;
    o.center = cv::Point(box.x + box.width / 2, box.y + box.height / 2);
    return o;
}

inline Frame& frameOf(DialogVarnex* d, int index)
{
    return d->labeling.frames[d->labeling.frame_names[static_cast<size_t>(index)]];
}

inline QStringList pickerRows(LabelDialog& picker)
{
    QStringList rows;
    for (int r = 0; r < picker.ui->tableWidget->rowCount(); ++r)
        rows << picker.ui->tableWidget->item(r, 0)->text() + ":" + picker.ui->tableWidget->item(r, 1)->text();
    return rows;
}

} // namespace editing_fixture
