// Screenshots of object editing (run by hand under Xvfb, for example
// `xvfb-run -s "-screen 0 1280x1024x24" editing_shots OUT_DIR`):
//   editing_drawing_box.png   a box being dragged on the view (pressed, not
//                             yet released), beside a committed object
//   editing_context_menu.png  the context menu over a polygon being clicked
// The mouse events go to the view as the window system delivers them, through
// the pointer route.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "view_pointer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>

namespace {

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A street-like test picture: sky, road, two "cars".
cv::Mat picture()
{
    cv::Mat m(480, 640, CV_8UC3, cv::Scalar(200, 170, 120));
    cv::rectangle(m, cv::Rect(0, 300, 640, 180), cv::Scalar(90, 90, 90), -1);
    cv::rectangle(m, cv::Rect(80, 320, 140, 70), cv::Scalar(40, 40, 180), -1);
    cv::rectangle(m, cv::Rect(380, 330, 160, 80), cv::Scalar(160, 60, 30), -1);
    cv::circle(m, cv::Point(520, 90), 40, cv::Scalar(80, 220, 250), -1);
    return m;
}

void send(QWidget* view, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, QPoint pos)
{
    QMouseEvent e(type, pos, view->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(view, &e);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: editing_shots OUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir tmp;
    cv::imwrite(tmp.filePath("street.png").toStdString(), picture());

    DialogVarnex d(nullptr);
    d.key_poll = []() { return -1; };
    d.show();
    settle(300);
    d.loadPrjoject(tmp.path());
    settle(300);

    // One committed object, then a drag in progress.
    Object car;
    car.label = "car";
    car.label_index = d.labeling.add_class("car");
    car.color = d.labeling.class_colors[car.label_index];
    car.bbox = cv::Rect(80, 320, 140, 70);
    car.center = cv::Point(150, 355);
    d.label_dialog.setLabelItemp("car");
    d.labeling.frames["street.png"].push_back(car);

    QLabel* view = d.ui->label_img;
    const QRect shown = d.view_pointer->shown_rect();
    auto at = [&](int x, int y) {
        return shown.topLeft() + QPoint(x * shown.width() / 640, y * shown.height() / 480);
    };
    send(view, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, at(370, 320));
    send(view, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, at(460, 370));
    send(view, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, at(550, 420));
    settle(500);
    d.grab().save(out + "/editing_drawing_box.png");
    std::printf("saved %s/editing_drawing_box.png (pending rect %d,%d,%d,%d)\n", qPrintable(out), d.pending_rect.x,
                d.pending_rect.y, d.pending_rect.width, d.pending_rect.height);
    // Let go outside the box's class picker: cancel it.
    QTimer::singleShot(300, [&d]() { d.label_dialog.reject(); });
    send(view, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, at(550, 420));

    // A polygon being clicked, then a right click on the view.
    for (QPoint p : {QPoint(300, 150), QPoint(420, 170), QPoint(400, 260)}) {
        send(view, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, at(p.x(), p.y()));
        send(view, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, at(p.x(), p.y()));
    }
    const QPoint rightAt = at(430, 240);
    QCursor::setPos(view->mapToGlobal(rightAt));
    settle(300);
    QTimer::singleShot(600, [&]() {
        QWidget* menu = QApplication::activePopupWidget();
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = d.frameGeometry().united(menu ? menu->geometry() : QRect());
        screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
            .save(out + "/editing_context_menu.png");
        std::printf("saved %s/editing_context_menu.png (menu: %s)\n", qPrintable(out), menu ? "open" : "none");
        if (auto m = qobject_cast<QMenu*>(menu)) {
            for (QAction* a : m->actions())
                std::printf("  entry: %s\n", qPrintable(a->text()));
            m->close();
        }
    });
    send(view, QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, rightAt);
    return 0;
}
