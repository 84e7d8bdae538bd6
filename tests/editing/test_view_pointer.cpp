// The pointer route of the labeling view: view positions mapped to image
// pixels, the view's mouse events turned into OpenCV's codes and flags (the
// release with the left-button flag, presses outside the image ignored,
// drags clamped, double clicks as presses), and a box drawn with the mouse on
// the dialog's view and saved in the ground-truth file.

// Mouse events through the window system layer, as a user's arrive: moves
// carry the held buttons, releases no longer list the released one.
#define QTEST_QPA_MOUSE_HANDLING

#include "editing_fixture.h"
#include "view_pointer.h"

#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>

using namespace editing_fixture;

namespace {

// A forwarded event: code, x, y, flags.
typedef QVector<int> Call;
typedef QVector<Call> Calls;

// One step of a user's hand on the view.
enum Action { Press, Release, Move, DoubleClick };
struct Step {
    Action action;
    Qt::MouseButton button;
    QPoint pos;
};
typedef QVector<Step> Steps;

void play(QWidget* w, const Steps& steps)
{
    for (const Step& s : steps) {
        switch (s.action) {
        case Press:
            QTest::mousePress(w, s.button, Qt::NoModifier, s.pos);
            break;
        case Release:
            QTest::mouseRelease(w, s.button, Qt::NoModifier, s.pos);
            break;
        case Move:
            QTest::mouseMove(w, s.pos);
            break;
        case DoubleClick:
            QTest::mouseDClick(w, s.button, Qt::NoModifier, s.pos);
            break;
        }
    }
}

// Answers the next file dialog with `path`, as a user types it.
void chooseFile(const QString& path)
{
    testsupport::answerNextModal([path](QWidget* w) {
        auto fd = qobject_cast<QFileDialog*>(w);
        if (!fd) {
            w->close();
            return;
        }
        if (auto name = fd->findChild<QLineEdit*>("fileNameEdit"))
            name->setText(path);
        else
            fd->selectFile(path);
        QMetaObject::invokeMethod(fd, "accept", Qt::DirectConnection);
    });
}

} // namespace

Q_DECLARE_METATYPE(Steps)

class ViewPointerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void mapping_data();
    void mapping();
    void events_data();
    void events();
    void doubleClickEvent();
    void drawBoxOnTheViewAndSave();

private:
    Environment env_;
};

void ViewPointerTest::initTestCase()
{
    QVERIFY(env_.setUp());
}

void ViewPointerTest::mapping_data()
{
    QTest::addColumn<QRect>("contents");
    QTest::addColumn<QSize>("pixmap");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QSize>("image");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<bool>("clamp");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QPoint>("pixel");

    const QRect c(0, 0, 800, 600);
    const int centre = Qt::AlignCenter;
    const int topLeft = Qt::AlignLeft | Qt::AlignTop;
    const int vcentre = Qt::AlignLeft | Qt::AlignVCenter; // QLabel's default
    const QSize half(640, 480);
    const QSize big(1280, 960);
    QTest::newRow("centred, half size") << c << half << centre << big << QPoint(85, 65) << false << true << QPoint(10, 10);
    QTest::newRow("centred, far corner") << c << half << centre << big << QPoint(719, 539) << false << true << QPoint(1278, 958);
    QTest::newRow("left bar: outside") << c << half << centre << big << QPoint(79, 300) << false << false << QPoint();
    QTest::newRow("left bar, clamped") << c << half << centre << big << QPoint(10, 300) << true << true << QPoint(0, 480);
    QTest::newRow("beyond the far corner, clamped") << c << half << centre << big << QPoint(799, 599) << true << true << QPoint(1279, 959);
    QTest::newRow("top left aligned") << c << half << topLeft << big << QPoint(5, 5) << false << true << QPoint(10, 10);
    QTest::newRow("left, vertically centred") << c << half << vcentre << big << QPoint(5, 65) << false << true << QPoint(10, 10);
    QTest::newRow("contents offset") << QRect(3, 4, 800, 600) << half << topLeft << big << QPoint(8, 9) << false << true << QPoint(10, 10);
    QTest::newRow("a third: rounded down") << QRect(0, 0, 100, 100) << QSize(100, 100) << topLeft << QSize(300, 300)
                                           << QPoint(1, 2) << false << true << QPoint(3, 6);
    QTest::newRow("enlarged view") << QRect(0, 0, 400, 400) << QSize(400, 400) << topLeft << QSize(100, 100)
                                   << QPoint(399, 7) << false << true << QPoint(99, 1);
    QTest::newRow("pixmap wider than the view") << QRect(0, 0, 100, 100) << QSize(200, 100) << centre << QSize(200, 100)
                                                << QPoint(0, 0) << false << true << QPoint(50, 0);
    QTest::newRow("no image") << c << half << centre << QSize() << QPoint(85, 65) << true << false << QPoint();
    QTest::newRow("no pixmap") << c << QSize() << centre << big << QPoint(85, 65) << true << false << QPoint();
}

void ViewPointerTest::mapping()
{
    QFETCH(QRect, contents);
    QFETCH(QSize, pixmap);
    QFETCH(int, alignment);
    QFETCH(QSize, image);
    QFETCH(QPoint, pos);
    QFETCH(bool, clamp);
    QFETCH(bool, ok);
    QFETCH(QPoint, pixel);

    const QRect shown = view_pointer::pixmap_rect(contents, pixmap, Qt::Alignment(alignment));
    QPoint got(-1, -1);
    QCOMPARE(view_pointer::to_image(pos, shown, image, clamp, &got), ok);
    if (ok)
        QCOMPARE(got, pixel);
}

// A 1280 x 960 image shown at half size, centred in an 800 x 600 view: the
// pixmap spans view (80, 60) to (719, 539).
void ViewPointerTest::events_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<bool>("image");
    QTest::addColumn<Calls>("calls");

    // Every row starts with the pointer on the bar at (5, 5). Qt sends a move
    // before a press or release at a new position, so a hand that presses
    // somewhere new hovers there first.
    const Qt::MouseButton L = Qt::LeftButton;
    const Qt::MouseButton R = Qt::RightButton;
    QTest::newRow("drag: the release keeps the left flag")
        << Steps{{Press, L, {85, 65}}, {Move, L, {110, 80}}, {Release, L, {110, 80}}} << true
        << Calls{{0, 10, 10, 0}, {1, 10, 10, 1}, {0, 60, 40, 1}, {4, 60, 40, 1}};
    QTest::newRow("drag out of the image: clamped")
        << Steps{{Press, L, {85, 65}}, {Move, L, {790, 590}}, {Release, L, {20, 10}}} << true
        << Calls{{0, 10, 10, 0}, {1, 10, 10, 1}, {0, 1279, 959, 1}, {0, 0, 0, 1}, {4, 0, 0, 1}};
    QTest::newRow("press outside: the drag is not forwarded, hover is")
        << Steps{{Press, L, {40, 300}}, {Move, L, {30, 310}}, {Move, L, {100, 300}}, {Release, L, {100, 300}}} << true
        << Calls{{0, 40, 480, 0}};
    QTest::newRow("hover: only over the image, no flag")
        << Steps{{Move, L, {40, 300}}, {Move, L, {100, 300}}, {Move, L, {719, 539}}} << true
        << Calls{{0, 40, 480, 0}, {0, 1278, 958, 0}};
    QTest::newRow("right click: a right up")
        << Steps{{Press, R, {100, 300}}, {Release, R, {100, 300}}} << true << Calls{{0, 40, 480, 0}, {5, 40, 480, 0}};
    QTest::newRow("right click outside the image")
        << Steps{{Press, R, {30, 300}}, {Release, R, {30, 300}}} << true << Calls{};
    QTest::newRow("double click: two presses")
        << Steps{{DoubleClick, L, {85, 65}}} << true
        << Calls{{0, 10, 10, 0}, {1, 10, 10, 1}, {4, 10, 10, 1}, {1, 10, 10, 1}, {4, 10, 10, 1}};
    QTest::newRow("no image: nothing")
        << Steps{{Press, L, {85, 65}}, {Move, L, {110, 80}}, {Release, L, {110, 80}}, {Press, R, {100, 300}},
                 {Release, R, {100, 300}}}
        << false << Calls{};
}

void ViewPointerTest::events()
{
    QFETCH(Steps, steps);
    QFETCH(bool, image);
    QFETCH(Calls, calls);

    QLabel view;
    view.setAlignment(Qt::AlignCenter);
    view.setFixedSize(800, 600);
    QPixmap pm(640, 480);
    pm.fill(Qt::darkGray);
    view.setPixmap(pm);
    Calls got;
    ViewPointer pointer(
        &view, [image]() { return image ? QSize(1280, 960) : QSize(); },
        [&got](int e, int x, int y, int f) { got.push_back(Call{e, x, y, f}); });
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(pointer.shown_rect(), QRect(80, 60, 640, 480));
    QVERIFY(view.hasMouseTracking());

    QTest::mouseMove(&view, QPoint(5, 5));
    QVERIFY(got.isEmpty());
    play(&view, steps);
    if (got != calls)
        qDebug() << "forwarded" << got << "expected" << calls;
    QCOMPARE(got, calls);
}

// Qt's own double-click event (the second press of a double click) is a
// press; the release that follows is forwarded after it.
void ViewPointerTest::doubleClickEvent()
{
    QLabel view;
    view.setFixedSize(640, 480);
    QPixmap pm(640, 480);
    pm.fill(Qt::darkGray);
    view.setPixmap(pm);
    Calls got;
    ViewPointer pointer(&view, []() { return QSize(640, 480); },
                        [&got](int e, int x, int y, int f) { got.push_back(Call{e, x, y, f}); });
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(20, 30), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &dbl);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(20, 30), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &up);
    // A second release has no press of its own.
    QApplication::sendEvent(&view, &up);
    QCOMPARE(got, (Calls{{1, 20, 30, 1}, {4, 20, 30, 1}}));
}

// The whole route: mouse events on the dialog's view showing a 1280 x 960
// image at half size, the picker answered, the file saved.
void ViewPointerTest::drawBoxOnTheViewAndSave()
{
    const QString dir = env_.folder("big", {"big.png"}, 1280, 960);
    DialogVarnex d(nullptr);
    d.key_poll = []() { return -1; };
    QLabel* view = d.ui->label_img;
    view->setFixedSize(640, 480);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.loadPrjoject(dir);
    QTRY_COMPARE(view->pixmap(Qt::ReturnByValue).size(), QSize(640, 480));
    const QRect shown = d.view_pointer->shown_rect();
    QCOMPARE(shown.size(), QSize(640, 480));
    auto viewPoint = [&shown](int x, int y) { return shown.topLeft() + QPoint(x / 2, y / 2); };

    QTest::mouseMove(view, viewPoint(10, 10));
    QCOMPARE(d.mouse_x, 10);
    QCOMPARE(d.mouse_y, 10);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, viewPoint(10, 10));
    QTest::mouseMove(view, viewPoint(30, 20));
    QTest::mouseMove(view, viewPoint(60, 40));
    QCOMPARE(d.pending_rect, cv::Rect(10, 10, 50, 30));
    PickerSeen seen;
    answerPicker(&d, "person", true, &seen);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, viewPoint(60, 40));
    QVERIFY(seen.opened);
    QCOMPARE(int(frameOf(&d, 0).size()), 1);

    // Away from the box nothing is selected: the redraw shows it in its class
    // colour (class 0, magenta), 5 pixels thick on this width.
    QTest::mouseMove(view, viewPoint(1000, 800));
    QCOMPARE(d.labeling.active_object, -1);
    QTRY_COMPARE(d.display_image.at<cv::Vec3b>(25, 10), cv::Vec3b(255, 0, 255));

    const QString gt = env_.path("drawn.gt");
    chooseFile(gt);
    d.ui->pushButton_saveGT->click();
    QCOMPARE(d.gt_path, gt);
    const QJsonArray files = QJsonDocument::fromJson(testsupport::readFile(gt)).array();
    QCOMPARE(files.size(), 1);
    QCOMPARE(files[0]["filename"].toString(), QString("big.png"));
    const QJsonArray objects = files[0]["obj_array"].toArray();
    QCOMPARE(objects.size(), 1);
    const QJsonObject o = objects[0].toObject();
    QCOMPARE(o["bbox"].toString(), QString("10,10,50,30"));
    QCOMPARE(o["center"].toString(), QString("35,25"));
    QCOMPARE(o["label"].toString(), QString("person"));
    QCOMPARE(o["label_index"].toInt(), 0);
    QCOMPARE(o["landmark_len"].toInt(), 0);
    d.hide();
}

QTEST_MAIN(ViewPointerTest)
#include "test_view_pointer.moc"
