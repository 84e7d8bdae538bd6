// Object editing driven through the pointer handler with OpenCV's event codes
// and flags: one-click boxes, dragged boxes, polygons, the class lookup, the
// selection, the context menu and its actions, moving and resizing, the full
// class table, and the editing tasks racing a change of image.

#include "editing_fixture.h"

#include <QSemaphore>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <opencv2/highgui.hpp>

using namespace editing_fixture;

namespace {

enum { kMove = 0, kDown = 1, kUp = 4, kRightUp = 5 };

// A left click at (x, y) as OpenCV reports it: down and up, both with the
// left-button flag.
void click(DialogVarnex* d, int x, int y)
{
    d->on_MouseHandle(kDown, x, y, nullptr, 1);
    d->on_MouseHandle(kUp, x, y, nullptr, 1);
}

void drag(DialogVarnex* d, cv::Point from, cv::Point to)
{
    d->on_MouseHandle(kDown, from.x, from.y, nullptr, 1);
    d->on_MouseHandle(kMove, (from.x + to.x) / 2, (from.y + to.y) / 2, nullptr, 1);
    d->on_MouseHandle(kMove, to.x, to.y, nullptr, 1);
    d->on_MouseHandle(kUp, to.x, to.y, nullptr, 1);
}

// Keeps every thread of the global pool busy until released, so editing
// tasks wait in its queue.
class PoolHold {
public:
    PoolHold()
    {
        pool_ = QThreadPool::globalInstance();
        oldMax_ = pool_->maxThreadCount();
        pool_->waitForDone();
        pool_->setMaxThreadCount(1);
        QtConcurrent::run(pool_, [this]() {
            started_.release();
            gate_.acquire();
        });
        started_.acquire();
    }
    void release()
    {
        if (!released_)
            gate_.release();
        released_ = true;
        pool_->waitForDone();
    }
    ~PoolHold()
    {
        release();
        pool_->setMaxThreadCount(oldMax_);
    }

private:
    QThreadPool* pool_;
    int oldMax_ = 1;
    QSemaphore started_;
    QSemaphore gate_;
    bool released_ = false;
};

} // namespace

class Editing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void oneClick_data();
    void oneClick();
    void drag_data();
    void drag();
    void polygon_data();
    void polygon();
    void selection_data();
    void selection();
    void menuEntries_data();
    void menuEntries();
    void menuActions_data();
    void menuActions();
    void moveAndResize_data();
    void moveAndResize();
    void classTableFull();
    void noFolderNoEdit();
    void taskRacesImageChange_data();
    void taskRacesImageChange();

private:
    Environment env_;
    QString folder_;
    std::unique_ptr<DialogVarnex> d_;
};

void Editing::initTestCase()
{
    QVERIFY(env_.setUp());
    folder_ = env_.folder("images", {"a.png", "b.png"}, 640, 480);
}

void Editing::init()
{
    d_.reset(new DialogVarnex(nullptr));
    d_->key_poll = []() { return -1; };
    d_->loadPrjoject(folder_);
    QCOMPARE(int(d_->labeling.frame_names.size()), 2);
}

void Editing::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
    d_.reset();
}

// "One click": a box of the spin boxes' size around the click, named by the
// class field.
void Editing::oneClick_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("commits");
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<int>("index");

    // "bus" exists as class 0 before each row.
    QTest::newRow("box around the click, new class") << 10 << 10 << "car" << true << cv::Rect(95, 45, 10, 10) << 1;
    QTest::newRow("odd size: integer halves") << 7 << 9 << "car" << true << cv::Rect(97, 46, 7, 9) << 1;
    QTest::newRow("existing class") << 10 << 10 << "bus" << true << cv::Rect(95, 45, 10, 10) << 0;
    QTest::newRow("5 x 5 is too small") << 5 << 5 << "car" << false << cv::Rect() << -1;
    QTest::newRow("6 x 5 is too small") << 6 << 5 << "car" << false << cv::Rect() << -1;
    QTest::newRow("empty class name") << 10 << 10 << "" << false << cv::Rect() << -1;
}

void Editing::oneClick()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(QString, name);
    QFETCH(bool, commits);
    QFETCH(cv::Rect, box);
    QFETCH(int, index);

    d_->labeling.add_class("bus");
    d_->label_dialog.setLabelItemp("bus");
    d_->ui->checkBox_autorect->setChecked(true);
    d_->ui->spinBox_autorect_w->setValue(w);
    d_->ui->spinBox_autorect_h->setValue(h);
    d_->ui->lineEdit_classname->setText(name);

    click(d_.get(), 100, 50);

    const Frame& f = frameOf(d_.get(), 0);
    QVERIFY(d_->clicked_points.empty());
    QVERIFY(frameOf(d_.get(), 1).empty());
    if (!commits) {
        QVERIFY(f.empty());
        QCOMPARE(int(d_->labeling.classes.size()), 1);
        QCOMPARE(pickerRows(d_->label_dialog), QStringList{"0:bus"});
        return;
    }
    QCOMPARE(int(f.size()), 1);
    QCOMPARE(f[0].bbox, box);
    QCOMPARE(f[0].center, cv::Point(100, 50));
    QCOMPARE(f[0].label, name);
    QCOMPARE(f[0].label_index, index);
    QCOMPARE(f[0].color, class_color(index, kClassPalette));
    QVERIFY(f[0].landmark.empty());
    QCOMPARE(d_->labeling.classes[static_cast<size_t>(index)], name);
    QCOMPARE(d_->labeling.class_colors[index], class_color(index, kClassPalette));
    QCOMPARE(pickerRows(d_->label_dialog), index == 1 ? (QStringList{"0:bus", "1:car"}) : QStringList{"0:bus"});
    // The pending rect keeps its size (the redraw goes on showing it).
    QCOMPARE(d_->pending_rect, box);

    // A second click elsewhere is a second object.
    click(d_.get(), 300, 200);
    QCOMPARE(int(f.size()), 2);
    QCOMPARE(f[1].center, cv::Point(300, 200));
    QCOMPARE(int(d_->labeling.classes.size()), index == 1 ? 2 : 1);
}

// Without "One click": a drag draws a box, the picker names it.
void Editing::drag_data()
{
    QTest::addColumn<cv::Point>("from");
    QTest::addColumn<cv::Point>("to");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("commits");
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<cv::Point>("centre");
    QTest::addColumn<int>("index");

    // "bus" and "person" exist as classes 0 and 1 before each row.
    QTest::newRow("down and right, new class") << cv::Point(10, 10) << cv::Point(60, 40) << "truck" << true << true
                                              << cv::Rect(10, 10, 50, 30) << cv::Point(35, 25) << 2;
    QTest::newRow("up and left") << cv::Point(60, 40) << cv::Point(10, 10) << "truck" << true << true
                                 << cv::Rect(10, 10, 50, 30) << cv::Point(35, 25) << 2;
    QTest::newRow("existing class keeps its index") << cv::Point(10, 10) << cv::Point(60, 40) << "person" << true
                                                    << true << cv::Rect(10, 10, 50, 30) << cv::Point(35, 25) << 1;
    QTest::newRow("7 pixels: centre 3.5 goes to 4") << cv::Point(0, 0) << cv::Point(7, 7) << "truck" << true << true
                                                    << cv::Rect(0, 0, 7, 7) << cv::Point(4, 4) << 2;
    QTest::newRow("9 pixels: centre 4.5 goes to 4") << cv::Point(0, 0) << cv::Point(9, 9) << "truck" << true << true
                                                    << cv::Rect(0, 0, 9, 9) << cv::Point(4, 4) << 2;
    QTest::newRow("picker cancelled") << cv::Point(10, 10) << cv::Point(60, 40) << "truck" << false << false
                                      << cv::Rect() << cv::Point() << -1;
    QTest::newRow("picker accepted without a name") << cv::Point(10, 10) << cv::Point(60, 40) << "" << true << false
                                                    << cv::Rect() << cv::Point() << -1;
}

void Editing::drag()
{
    QFETCH(cv::Point, from);
    QFETCH(cv::Point, to);
    QFETCH(QString, name);
    QFETCH(bool, accept);
    QFETCH(bool, commits);
    QFETCH(cv::Rect, box);
    QFETCH(cv::Point, centre);
    QFETCH(int, index);

    for (const char* c : {"bus", "person"}) {
        d_->labeling.add_class(c);
        d_->label_dialog.setLabelItemp(c);
    }
    PickerSeen seen;
    answerPicker(d_.get(), name, accept, &seen);
    ::drag(d_.get(), from, to);

    QVERIFY(seen.opened);
    // The picker stood centred on the pointer, and the lock was free.
    QCOMPARE(seen.pos, seen.cursor - QPoint(d_->label_dialog.width() / 2, d_->label_dialog.height() / 2));
    QVERIFY(seen.lockFree);
    // In every case the pending rect's size goes and the points are emptied.
    QCOMPARE(d_->pending_rect.width, 0);
    QCOMPARE(d_->pending_rect.height, 0);
    QVERIFY(d_->clicked_points.empty());
    QVERIFY(!d_->dragging);

    const Frame& f = frameOf(d_.get(), 0);
    if (!commits) {
        QVERIFY(f.empty());
        QCOMPARE(int(d_->labeling.classes.size()), 2);
        QCOMPARE(d_->label_dialog.row_count, 2);
        return;
    }
    QCOMPARE(int(f.size()), 1);
    QCOMPARE(f[0].bbox, box);
    QCOMPARE(f[0].center, centre);
    QCOMPARE(f[0].label, name);
    QCOMPARE(f[0].label_index, index);
    QCOMPARE(f[0].color, d_->labeling.class_colors[index]);
    QCOMPARE(f[0].color, class_color(index, kClassPalette));
    QVERIFY(f[0].landmark.empty());
    QCOMPARE(d_->label_dialog.row_count, index == 2 ? 3 : 2);
    QCOMPARE(int(d_->labeling.classes.size()), index == 2 ? 3 : 2);
}

// Clicks that draw no box (5 pixels or less) become polygon points; Return
// commits them with their bounding rectangle.
void Editing::polygon_data()
{
    QTest::addColumn<QVector<cv::Point>>("clicks");
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<cv::Point>("centre");

    QTest::newRow("three points, centre 2.5 goes to 2")
        << QVector<cv::Point>{{0, 0}, {4, 0}, {4, 4}} << cv::Rect(0, 0, 5, 5) << cv::Point(2, 2);
    QTest::newRow("four points")
        << QVector<cv::Point>{{10, 10}, {50, 12}, {48, 40}, {12, 38}} << cv::Rect(10, 10, 41, 31) << cv::Point(30, 26);
}

void Editing::polygon()
{
    QFETCH(QVector<cv::Point>, clicks);
    QFETCH(cv::Rect, box);
    QFETCH(cv::Point, centre);

    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
    // A first click that drags a little (5 pixels) stays a point.
    d_->on_MouseHandle(kDown, clicks[0].x, clicks[0].y, nullptr, 1);
    d_->on_MouseHandle(kMove, clicks[0].x + 5, clicks[0].y + 5, nullptr, 1);
    d_->on_MouseHandle(kUp, clicks[0].x + 5, clicks[0].y + 5, nullptr, 1);
    for (int i = 1; i < clicks.size(); ++i)
        click(d_.get(), clicks[i].x, clicks[i].y);
    QCOMPARE(int(d_->clicked_points.size()), clicks.size());
    QVERIFY(frameOf(d_.get(), 0).empty());

    answerPicker(d_.get(), "roof");
    QTest::keyClick(d_.get(), Qt::Key_Return);

    const Frame& f = frameOf(d_.get(), 0);
    QCOMPARE(int(f.size()), 1);
    QCOMPARE(f[0].bbox, box);
    QCOMPARE(f[0].center, centre);
    QCOMPARE(f[0].label, QString("roof"));
    QCOMPARE(QVector<cv::Point>(f[0].landmark.begin(), f[0].landmark.end()), clicks);
    QVERIFY(d_->clicked_points.empty());
    QCOMPARE(d_->ui->horizontalSlider_frame->value(), 1);
    d_->hide();
}

// Hover selects the first object whose centre is nearer than
// cols x 20 x rows / 307200 (20 on 640 x 480).
void Editing::selection_data()
{
    QTest::addColumn<int>("cols");
    QTest::addColumn<int>("rows");
    QTest::addColumn<cv::Point>("pointer");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("active");

    // Objects: centres (100, 100), (110, 100), (400, 300).
    QTest::newRow("on a centre") << 640 << 480 << cv::Point(400, 300) << 0 << 2;
    QTest::newRow("19 away") << 640 << 480 << cv::Point(400, 319) << 0 << 2;
    QTest::newRow("20 away is out") << 640 << 480 << cv::Point(400, 320) << 0 << -1;
    QTest::newRow("diagonal 14.1 away") << 640 << 480 << cv::Point(410, 310) << 0 << 2;
    QTest::newRow("two within reach: the first") << 640 << 480 << cv::Point(105, 100) << 0 << 0;
    QTest::newRow("clicked points: no selection") << 640 << 480 << cv::Point(400, 300) << 1 << -1;
    QTest::newRow("smaller image, smaller reach") << 320 << 240 << cv::Point(400, 306) << 0 << -1;
    // 12000 x 9000: the reach is 7031 pixels; in 32 bits the product would
    // overflow and nothing could be selected.
    QTest::newRow("108 megapixels") << 12000 << 9000 << cv::Point(7400, 300) << 0 << 2;
}

void Editing::selection()
{
    QFETCH(int, cols);
    QFETCH(int, rows);
    QFETCH(cv::Point, pointer);
    QFETCH(int, points);
    QFETCH(int, active);

    // Only the size of the image counts: a header without pixels will do.
    static unsigned char pixel = 0;
    d_->cur_image = cv::Mat(rows, cols, CV_8UC1, &pixel);
    Frame& f = frameOf(d_.get(), 0);
    f.push_back(makeObject("a", 0, cv::Rect(90, 90, 20, 20)));
    f.push_back(makeObject("b", 0, cv::Rect(100, 90, 20, 20)));
    f.push_back(makeObject("c", 0, cv::Rect(390, 290, 20, 20)));
    for (int i = 0; i < points; ++i)
        d_->clicked_points.push_back(cv::Point(1, 1));

    d_->on_MouseHandle(kMove, pointer.x, pointer.y, nullptr, 0);
    QCOMPARE(d_->labeling.active_object, active);
    QCOMPARE(d_->mouse_x, pointer.x);
    QCOMPARE(d_->mouse_y, pointer.y);
    d_->cur_image = cv::Mat();
}

// The context menu's entries for each state.
void Editing::menuEntries_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("objects");
    QTest::addColumn<bool>("nearCentre");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("nothing to offer: no menu") << 0 << false << false << QStringList();
    QTest::newRow("one point") << 1 << false << false << QStringList{"Clear points"};
    QTest::newRow("two points, objects") << 2 << true << false << QStringList{"Clear points", "Clear objects"};
    QTest::newRow("three points, objects")
        << 3 << true << false << QStringList{"Remove last point", "Clear points", "Clear objects"};
    QTest::newRow("objects, pointer away") << 0 << true << false << QStringList{"Clear objects"};
    QTest::newRow("pointer on an object") << 0 << true << true << QStringList{"Remove object"};
    QTest::newRow("points clicked: nothing is selected")
        << 2 << true << true << QStringList{"Clear points", "Clear objects"};
}

void Editing::menuEntries()
{
    QFETCH(int, points);
    QFETCH(bool, objects);
    QFETCH(bool, nearCentre);
    QFETCH(QStringList, entries);

    if (objects)
        frameOf(d_.get(), 0).push_back(makeObject("car", 0, cv::Rect(90, 90, 20, 20)));
    for (int i = 0; i < points; ++i)
        d_->clicked_points.push_back(cv::Point(10 * i, 5));
    const cv::Point at = nearCentre ? cv::Point(103, 104) : cv::Point(500, 400);

    MenuAnswer menu;
    d_->on_MouseHandle(kRightUp, at.x, at.y, nullptr, 0);
    QCOMPARE(menu.seen, !entries.isEmpty());
    QCOMPARE(menu.entries, entries);
    if (menu.seen)
        QCOMPARE(menu.title, QString("Context menu"));
    // Closing the menu changes nothing; its actions are gone with it.
    QCOMPARE(int(d_->clicked_points.size()), points);
    QCOMPARE(int(frameOf(d_.get(), 0).size()), objects ? 1 : 0);
    QCOMPARE(d_->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size(), 0);
}

// What each entry does.
void Editing::menuActions_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("nearCentre");
    QTest::addColumn<QString>("choose");
    QTest::addColumn<int>("answer"); // the question's answer, 0 for none
    QTest::addColumn<int>("pointsAfter");
    QTest::addColumn<QStringList>("objectsAfter");

    const QStringList both{"car", "bus"};
    QTest::newRow("Remove last point") << 3 << false << "Remove last point" << 0 << 2 << both;
    QTest::newRow("Clear points") << 2 << false << "Clear points" << 0 << 0 << both;
    QTest::newRow("Clear objects, No") << 1 << false << "Clear objects" << int(QMessageBox::No) << 1 << both;
    QTest::newRow("Clear objects, Yes") << 1 << false << "Clear objects" << int(QMessageBox::Yes) << 0
                                        << QStringList();
    QTest::newRow("Remove object") << 0 << true << "Remove object" << 0 << 0 << QStringList{"bus"};
}

void Editing::menuActions()
{
    QFETCH(int, points);
    QFETCH(bool, nearCentre);
    QFETCH(QString, choose);
    QFETCH(int, answer);
    QFETCH(int, pointsAfter);
    QFETCH(QStringList, objectsAfter);

    Frame& f = frameOf(d_.get(), 0);
    f.push_back(makeObject("car", 0, cv::Rect(90, 90, 20, 20)));
    f.push_back(makeObject("bus", 1, cv::Rect(290, 190, 20, 20)));
    frameOf(d_.get(), 1).push_back(makeObject("car", 0, cv::Rect(90, 90, 20, 20)));
    for (int i = 0; i < points; ++i)
        d_->clicked_points.push_back(cv::Point(10 * i, 5));
    const cv::Point at = nearCentre ? cv::Point(101, 99) : cv::Point(500, 400);

    QString text;
    QMessageBox* box = nullptr;
    if (answer)
        testsupport::answerNextModal([&text, &box, answer](QWidget* w) {
            box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                w->close();
                return;
            }
            text = box->windowTitle() + "|" + box->text() + "|" + box->defaultButton()->text();
            box->button(QMessageBox::StandardButton(answer))->click();
        });
    MenuAnswer menu(choose);
    d_->on_MouseHandle(kRightUp, at.x, at.y, nullptr, 0);
    QVERIFY(menu.entries.contains(choose));
    QThreadPool::globalInstance()->waitForDone();

    if (answer)
        QCOMPARE(text, QString("Clear|Do you want to clear objects ?|&No"));
    QCOMPARE(int(d_->clicked_points.size()), pointsAfter);
    if (pointsAfter == 2)
        QCOMPARE(d_->clicked_points, (std::vector<cv::Point>{{0, 5}, {10, 5}}));
    QStringList labels;
    for (const Object& o : frameOf(d_.get(), 0))
        labels << o.label;
    QCOMPARE(labels, objectsAfter);
    QCOMPARE(int(frameOf(d_.get(), 1).size()), 1); // the other image is never touched
    if (choose == "Remove object" || answer == QMessageBox::Yes)
        QCOMPARE(d_->labeling.active_object, -1);
    QVERIFY(!d_->busy);
}

// moveObj and resizeObj act when the pointer is at most 3 pixels from the
// selected object's centre.
void Editing::moveAndResize_data()
{
    QTest::addColumn<bool>("resize");
    QTest::addColumn<int>("active");
    QTest::addColumn<cv::Point>("pointer");
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<cv::Point>("centre");

    // The object: box (90, 90, 21, 21), centre (100, 100) (100.5 goes to 100).
    const cv::Rect box(90, 90, 21, 21);
    QTest::newRow("move 2 right") << false << 0 << cv::Point(102, 100) << cv::Rect(92, 90, 21, 21) << cv::Point(102, 100);
    QTest::newRow("move 3 up") << false << 0 << cv::Point(100, 97) << cv::Rect(90, 87, 21, 21) << cv::Point(100, 98);
    QTest::newRow("move 4 away: nothing") << false << 0 << cv::Point(104, 100) << box << cv::Point(100, 100);
    QTest::newRow("move 3,3 (4.2) away: nothing") << false << 0 << cv::Point(103, 103) << box << cv::Point(100, 100);
    QTest::newRow("resize 2 right") << true << 0 << cv::Point(102, 100) << cv::Rect(90, 90, 23, 21) << cv::Point(102, 100);
    QTest::newRow("resize 3 down") << true << 0 << cv::Point(100, 103) << cv::Rect(90, 90, 21, 24) << cv::Point(100, 102);
    QTest::newRow("resize 4 away: nothing") << true << 0 << cv::Point(100, 104) << box << cv::Point(100, 100);
    QTest::newRow("nothing selected") << false << -1 << cv::Point(101, 100) << box << cv::Point(100, 100);
    QTest::newRow("selection beyond the objects") << true << 5 << cv::Point(101, 100) << box << cv::Point(100, 100);
}

void Editing::moveAndResize()
{
    QFETCH(bool, resize);
    QFETCH(int, active);
    QFETCH(cv::Point, pointer);
    QFETCH(cv::Rect, box);
    QFETCH(cv::Point, centre);

    Object o = makeObject("car", 0, cv::Rect(90, 90, 21, 21));
    o.center = cv::Point(100, 100);
    frameOf(d_.get(), 0).push_back(o);
    d_->labeling.active_object = active;
    if (resize)
        d_->resizeObj(pointer.x, pointer.y);
    else
        d_->moveObj(pointer.x, pointer.y);
    QCOMPARE(frameOf(d_.get(), 0)[0].bbox, box);
    QCOMPARE(frameOf(d_.get(), 0)[0].center, centre);
}

// With the 99,999 classes the colour table holds, a new name commits nothing
// (and gets no picker row); a known name still commits.
void Editing::classTableFull()
{
    for (int i = 0; i < Labeling::kMaxClasses; ++i)
        QVERIFY(d_->labeling.add_class("c" + QString::number(i)) == i);
    d_->ui->checkBox_autorect->setChecked(true);
    d_->ui->lineEdit_classname->setText("one too many");
    click(d_.get(), 100, 100);
    QVERIFY(frameOf(d_.get(), 0).empty());
    QCOMPARE(int(d_->labeling.classes.size()), Labeling::kMaxClasses);
    QCOMPARE(d_->label_dialog.row_count, 0);

    d_->ui->lineEdit_classname->setText("c99998");
    click(d_.get(), 100, 100);
    QCOMPARE(int(frameOf(d_.get(), 0).size()), 1);
    QCOMPARE(frameOf(d_.get(), 0)[0].label_index, Labeling::kMaxClasses - 1);
}

// Before a folder is open there is no Frame to edit; nothing is inserted. The
// OpenCV form of the handler reaches the same dialog.
void Editing::noFolderNoEdit()
{
    DialogVarnex fresh(nullptr);
    fresh.ui->checkBox_autorect->setChecked(true);
    fresh.ui->lineEdit_classname->setText("car");
    const cv::MouseCallback callback = static_cast<cv::MouseCallback>(&DialogVarnex::on_MouseHandle);
    callback(kDown, 50, 60, 1, &fresh);
    callback(kUp, 50, 60, 1, &fresh);
    QCOMPARE(fresh.mouse_x, 50);
    QCOMPARE(fresh.mouse_y, 60);
    QVERIFY(fresh.labeling.frames.isEmpty());
    QVERIFY(fresh.labeling.classes.empty());
    MenuAnswer menu;
    callback(kRightUp, 50, 60, 0, &fresh);
    QVERIFY(!menu.seen);
}

// The task acts on the image the user chose it on, even when the image has
// changed before the task runs.
void Editing::taskRacesImageChange_data()
{
    QTest::addColumn<QString>("choose");
    QTest::addColumn<bool>("otherFolder");
    QTest::addColumn<QStringList>("firstAfter");

    QTest::newRow("Remove object") << "Remove object" << false << QStringList{"bus"};
    QTest::newRow("Clear objects") << "Clear objects" << false << QStringList();
    QTest::newRow("Remove object, another folder opened") << "Remove object" << true << QStringList{"car", "bus"};
}

void Editing::taskRacesImageChange()
{
    QFETCH(QString, choose);
    QFETCH(bool, otherFolder);
    QFETCH(QStringList, firstAfter);

    Frame& first = frameOf(d_.get(), 0);
    first.push_back(makeObject("car", 0, cv::Rect(90, 90, 20, 20)));
    first.push_back(makeObject("bus", 1, cv::Rect(290, 190, 20, 20)));
    const Frame second = {makeObject("car", 0, cv::Rect(90, 90, 20, 20)), makeObject("bus", 1, cv::Rect(290, 190, 20, 20))};
    frameOf(d_.get(), 1) = second;

    PoolHold hold;
    if (choose == "Clear objects")
        testsupport::clickNextMessageBox(QMessageBox::Yes);
    MenuAnswer menu(choose);
    // On "car" of image 1 for a removal, away from the objects for a clear.
    const cv::Point at = choose == "Remove object" ? cv::Point(100, 100) : cv::Point(500, 400);
    d_->on_MouseHandle(kRightUp, at.x, at.y, nullptr, 0);
    QVERIFY(menu.entries.contains(choose));
    QVERIFY(d_->busy);

    // While the task waits: pointer input is ignored, the image changes and
    // something is selected and clicked there.
    d_->on_MouseHandle(kMove, 7, 8, nullptr, 0);
    QCOMPARE(d_->mouse_x, at.x);
    QCOMPARE(int(frameOf(d_.get(), 0).size()), 2);
    QString firstName = d_->labeling.frame_names[0];
    if (otherFolder) {
        d_->loadPrjoject(env_.folder("other", {"x.png", "y.png"}, 320, 240));
        d_->ui->horizontalSlider_frame->setValue(2);
    } else {
        d_->ui->horizontalSlider_frame->setValue(2);
    }
    QCOMPARE(d_->cur_index, 1);
    {
        QMutexLocker lock(&d_->mutex);
        d_->labeling.active_object = 0;
        d_->clicked_points = {cv::Point(3, 3)};
    }

    hold.release();
    QVERIFY(!d_->busy);

    if (!otherFolder) {
        QStringList labels;
        for (const Object& o : d_->labeling.frames[firstName])
            labels << o.label;
        QCOMPARE(labels, firstAfter);
        QCOMPARE(int(frameOf(d_.get(), 1).size()), 2);
        QCOMPARE(frameOf(d_.get(), 1)[0].label, QString("car"));
    } else {
        QVERIFY(!d_->labeling.frames.contains(firstName));
        QCOMPARE(int(d_->labeling.frames.size()), 2);
        QVERIFY(frameOf(d_.get(), 1).empty());
    }
    // The image now shown keeps its selection and points.
    QCOMPARE(d_->labeling.active_object, 0);
    QCOMPARE(int(d_->clicked_points.size()), 1);
    // Pointer input is taken again.
    d_->on_MouseHandle(kMove, 7, 8, nullptr, 0);
    QCOMPARE(d_->mouse_x, 7);
}

QTEST_MAIN(Editing)
#include "test_editing.moc"
