// The annotated view: every mark checked in the drawn image (sizes scaled by
// the image width, colours, the active object, the label background, the
// crosshair), the keys and the key poll, and the redraw's lock.

#include "dialog_labeling_setting.h"
#include "dialog_varnex.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"
#include "ui_label_dialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>

Q_DECLARE_METATYPE(cv::Rect)

namespace {

const cv::Scalar kColour(10, 200, 30); // an object colour no mark uses
const cv::Vec3b kColourPx(10, 200, 30);
const cv::Vec3b kBlue(255, 0, 0);
const cv::Vec3b kBlack(0, 0, 0);
const cv::Vec3b kCrosshair(232, 232, 125);

Object makeObject(cv::Rect box, const QString& label = "car")
{
    Object o;
    o.label = label;
    o.color = kColour;
    o.bbox = box;
    o.center = cv::Point(box.x + box.width / 2, box.y + box.height / 2);
    return o;
}

int countColour(const cv::Mat& img, cv::Scalar c)
{
    cv::Mat m;
    cv::inRange(img, c, c, m);
    return cv::countNonZero(m);
}

// Answers the next class picker with `name` and OK; *lockFree tells whether
// the dialog's mutex was free while the picker was open.
void acceptPicker(DialogVarnex* d, const QString& name, bool* lockFree = nullptr)
{
    testsupport::answerNextModal([d, name, lockFree](QWidget* w) {
        if (w != &d->label_dialog) {
            w->close();
            return;
        }
        if (lockFree) {
            *lockFree = d->mutex.tryLock();
            if (*lockFree)
                d->mutex.unlock();
        }
        d->label_dialog.ui->lineEdit->setText(name);
        d->label_dialog.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
    });
}

QJsonObject settings(int rect, int line, int cross, double scale, int font, int offset)
{
    return QJsonObject{{"rect_thickness", rect},  {"line_thickness", line},  {"crosshair_thickness", cross},
                       {"font_scale", scale},     {"font_thickness", font},  {"font_offset", offset}};
}

} // namespace

class Display : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void boxThickness_data();
    void boxThickness();
    void activeObject();
    void labelBackgroundAtCorner();
    void crosshair();
    void pendingRect_data();
    void pendingRect();
    void clickedPoints();
    void blackImageStillShowsObjects();
    void zeroFontScale();
    void hugeThicknessesDoNotEndTheRedraw();
    void longLabelShowsItsVisiblePart_data();
    void longLabelShowsItsVisiblePart();
    void skippedWhenHiddenOrOtherTab();
    void keys();
    void keyPoll_data();
    void keyPoll();

private:
    // A black W x H image with `objects` as the current image's labels.
    void scene(int w, int h, const Frame& objects);
    void redraw();
    cv::Vec3b px(int row, int col) { return d_->display_image.at<cv::Vec3b>(row, col); }
    QString makeProject();

    testsupport::DialogEnvironment env_;
    std::unique_ptr<DialogVarnex> d_;
    int polls_ = 0;
};

void Display::initTestCase()
{
    QVERIFY(env_.setUp());
}

void Display::init()
{
    d_.reset(new DialogVarnex(nullptr));
    polls_ = 0;
    d_->key_poll = [this]() {
        ++polls_;
        return -1;
    };
}

void Display::cleanup()
{
    d_.reset();
}

void Display::scene(int w, int h, const Frame& objects)
{
    d_->cur_image = cv::Mat(h, w, CV_8UC3, cv::Scalar::all(0));
    d_->labeling.frame_names = {"scene.png"};
    d_->labeling.frames.clear();
    d_->labeling.frames.insert("scene.png", objects);
    d_->cur_index = 0;
    d_->labeling.active_object = -1;
    d_->mouse_x = 0;
    d_->mouse_y = 0;
    // Defaults but for the crosshair, which would cross the probes.
    d_->dlg_lb_setting->restore_setting(settings(2, 2, 0, 1.0, 1, 5));
}

void Display::redraw()
{
    QMutexLocker lock(&d_->mutex);
    d_->drawObject();
}

QString Display::makeProject()
{
    const QString dir = env_.path("keys");
    QDir().mkpath(dir);
    for (const char* n : {"a.png", "b.png", "c.png"})
        cv::imwrite((dir + "/" + n).toStdString(), cv::Mat(48, 64, CV_8UC3, cv::Scalar(1, 2, 3)));
    return dir;
}

void Display::boxThickness_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("rect");
    QTest::addColumn<int>("firstColumn"); // of the left edge's band
    QTest::addColumn<int>("lastColumn");

    // The box's left edge at x = 100: thickness max(1, rect * W / 500).
    QTest::newRow("640: 2") << 640 << 2 << 99 << 101;
    QTest::newRow("1280: 5") << 1280 << 2 << 97 << 103;
    QTest::newRow("100: 1") << 200 << 1 << 100 << 100; // 1 * 200 / 500 = 0, raised to 1
    QTest::newRow("640, rect 4: 5") << 640 << 4 << 97 << 103;
}

void Display::boxThickness()
{
    QFETCH(int, width);
    QFETCH(int, rect);
    QFETCH(int, firstColumn);
    QFETCH(int, lastColumn);

    scene(width, 480, {makeObject(cv::Rect(100, 150, 60, 80))});
    QJsonObject s = settings(rect, 2, 0, 1.0, 1, 5);
    d_->dlg_lb_setting->restore_setting(s);
    redraw();
    const int row = 190;
    for (int c = firstColumn; c <= lastColumn; ++c)
        QVERIFY2(px(row, c) == kColourPx, qPrintable(QString::number(c)));
    QCOMPARE(px(row, firstColumn - 1), kBlack);
    QCOMPARE(px(row, lastColumn + 1), kBlack);
    // The far edge is drawn one pixel beyond the box: x + width.
    QCOMPARE(px(row, 160), kColourPx);
    // The view got the drawn image.
    QVERIFY(!d_->ui->label_img->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(polls_, 1);
}

void Display::activeObject()
{
    scene(640, 480, {makeObject(cv::Rect(300, 300, 40, 40)), makeObject(cv::Rect(100, 100, 50, 30))});
    d_->labeling.active_object = 1;
    redraw();
    // Active box and centre dot (radius 640 * 5 / 640 = 5) blue.
    QCOMPARE(px(115, 100), kBlue);
    QCOMPARE(px(115, 120), kBlue);
    // Its label background keeps the object's colour: (99, 80) to (140, 100).
    QCOMPARE(px(80, 99), kColourPx);
    QCOMPARE(px(80, 140), kColourPx);
    QCOMPARE(px(79, 120), kBlack);
    QCOMPARE(px(80, 141), kBlack);
    // The text is black inside the background.
    cv::Mat label = d_->display_image(cv::Rect(99, 80, 42, 20));
    QVERIFY(countColour(label, cv::Scalar(0, 0, 0)) > 20);
    // The other object: its own colour, a cyan dot of radius 2 at its centre.
    QCOMPARE(px(320, 300), kColourPx);
    QCOMPARE(px(320, 318), cv::Vec3b(0, 255, 255));
    QCOMPARE(px(320, 315), kBlack);
}

void Display::labelBackgroundAtCorner()
{
    scene(640, 480, {makeObject(cv::Rect(0, 0, 60, 30))});
    d_->labeling.active_object = 0;
    redraw();
    // Clamped to row 0, columns 0 to the text width (40 for "car").
    QCOMPARE(px(0, 0), kColourPx);
    QCOMPARE(px(0, 40), kColourPx);
    QCOMPARE(px(0, 45), kBlue); // the box's top edge beyond the label
    QCOMPARE(px(1, 20), kBlue);
}

void Display::crosshair()
{
    scene(640, 480, {});
    d_->dlg_lb_setting->restore_setting(settings(2, 2, 1, 1.0, 1, 5));
    redraw();
    // The pointer at (0, 0): the lines run along the top and left edges.
    QCOMPARE(px(0, 300), kCrosshair);
    QCOMPARE(px(300, 0), kCrosshair);
    QCOMPARE(px(1, 300), kBlack);

    d_->mouse_x = 300;
    d_->mouse_y = 200;
    redraw();
    QCOMPARE(px(200, 10), kCrosshair);
    QCOMPARE(px(10, 300), kCrosshair);
    QCOMPARE(px(201, 10), kBlack);

    // 1280 wide: max(1, 1 * 1280 / 500) = 2 pixels.
    scene(1280, 480, {});
    d_->dlg_lb_setting->restore_setting(settings(2, 2, 1, 1.0, 1, 5));
    d_->mouse_y = 200;
    redraw();
    QCOMPARE(px(199, 10), kCrosshair);
    QCOMPARE(px(200, 10), kCrosshair);
    QCOMPARE(px(202, 10), kBlack);

    // A changed setting shows at the next redraw: 0 switches it off.
    d_->dlg_lb_setting->restore_setting(settings(2, 2, 0, 1.0, 1, 5));
    redraw();
    QCOMPARE(countColour(d_->display_image, cv::Scalar(232, 232, 125)), 0);
}

void Display::pendingRect_data()
{
    QTest::addColumn<cv::Rect>("rect");
    QTest::addColumn<bool>("drawn");
    QTest::newRow("box") << cv::Rect(10, 10, 20, 20) << true;
    QTest::newRow("no width") << cv::Rect(10, 10, 0, 20) << false;
    QTest::newRow("no height") << cv::Rect(10, 10, 20, 0) << false;
    QTest::newRow("dragged up and left") << cv::Rect(300, 300, -20, -10) << true;
}

void Display::pendingRect()
{
    QFETCH(cv::Rect, rect);
    QFETCH(bool, drawn);
    scene(640, 480, {});
    d_->pending_rect = rect;
    redraw();
    QCOMPARE(countColour(d_->display_image, cv::Scalar(0, 255, 0)) > 0, drawn);
}

void Display::clickedPoints()
{
    scene(640, 480, {});
    d_->clicked_points = {cv::Point(300, 300)};
    redraw();
    QCOMPARE(cv::countNonZero(d_->display_image.reshape(1)), 0); // one point: nothing

    d_->clicked_points = {cv::Point(300, 300), cv::Point(400, 350)};
    redraw();
    QVERIFY(countColour(d_->display_image, cv::Scalar(0, 255, 255)) > 50); // the closed polygon
    QVERIFY(countColour(d_->display_image, cv::Scalar(255, 0, 255)) > 0);  // palette 0
    QVERIFY(countColour(d_->display_image, cv::Scalar(255, 191, 0)) > 0);  // palette 1
}

void Display::blackImageStillShowsObjects()
{
    scene(240, 320, {makeObject(cv::Rect(20, 40, 50, 50))});
    redraw();
    QVERIFY(countColour(d_->display_image, kColour) > 100);
}

void Display::zeroFontScale()
{
    scene(640, 480, {makeObject(cv::Rect(100, 100, 50, 30))});
    d_->dlg_lb_setting->restore_setting(settings(2, 2, 0, 0.0, 1, 5));
    redraw();
    QCOMPARE(px(115, 100), kColourPx);
}

// 9999 on an image 2000 wide asks OpenCV for thicknesses beyond what it
// draws: the redraw caps them, finishes, and leaves the lock free.
void Display::hugeThicknessesDoNotEndTheRedraw()
{
    scene(2000, 480, {makeObject(cv::Rect(100, 100, 50, 30)), makeObject(cv::Rect(600, 200, 80, 60))});
    d_->dlg_lb_setting->restore_setting(settings(9999, 9999, 9999, 999.0, 9999, 9999));
    d_->pending_rect = cv::Rect(10, 10, 50, 50);
    d_->clicked_points = {cv::Point(5, 5), cv::Point(500, 300), cv::Point(900, 100)};
    d_->mouse_x = 700;
    d_->mouse_y = 300;
    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
    for (int i = 0; i < 3; ++i)
        QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QCOMPARE(polls_, 3);
    QVERIFY(d_->mutex.tryLock());
    d_->mutex.unlock();
    // The crosshair, drawn last, covers the whole image.
    QCOMPARE(px(0, 0), kCrosshair);
    QCOMPARE(px(479, 1999), kCrosshair);
    d_->hide();
}

void Display::longLabelShowsItsVisiblePart_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<cv::Rect>("box");
    QTest::newRow("default scale") << 1.0 << cv::Rect(10, 100, 50, 30);
    QTest::newRow("left of the image") << 1.0 << cv::Rect(-300, 100, 400, 30);
    // 10 MiB of glyphs at scale 40 are wider than an int: measured whole, the
    // background's width wrapped around.
    QTest::newRow("large scale") << 40.0 << cv::Rect(10, 400, 50, 30);
}

// A 10 MiB class name shows exactly as its first 4000 characters, which
// already run past the right edge; redrawing it stays quick.
void Display::longLabelShowsItsVisiblePart()
{
    QFETCH(double, scale);
    QFETCH(cv::Rect, box);
    QString label;
    label.reserve(10 << 20);
    while (label.size() < (10 << 20))
        label += QString::fromUtf8("car W\xc3\xa9 i|");
    cv::Mat shown[2];
    const QString labels[2] = {label, label.left(4000)};
    for (int i = 0; i < 2; ++i) {
        scene(640, 480, {makeObject(box, labels[i])});
        d_->dlg_lb_setting->restore_setting(settings(2, 2, 0, scale, 1, 5));
        for (int r = 0; r < 5; ++r)
            redraw();
        shown[i] = d_->display_image.clone();
    }
    QVERIFY(countColour(shown[1], kColour) > 0);
    cv::Mat diff;
    cv::absdiff(shown[0], shown[1], diff);
    QCOMPARE(cv::countNonZero(diff.reshape(1)), 0);
}

void Display::skippedWhenHiddenOrOtherTab()
{
    scene(640, 480, {makeObject(cv::Rect(100, 100, 50, 30))});
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QCOMPARE(polls_, 0);
    QVERIFY(d_->display_image.empty());

    d_->show();
    d_->ui->tabWidget->setCurrentIndex(1);
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QCOMPARE(polls_, 0);
    d_->ui->tabWidget->setCurrentIndex(0);
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QCOMPARE(polls_, 1);
    QCOMPARE(px(115, 100), kColourPx);
    d_->hide();
}

void Display::keys()
{
    d_->loadPrjoject(makeProject());
    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
    QSlider* slider = d_->ui->horizontalSlider_frame;

    QTest::keyClick(d_.get(), Qt::Key_Return);
    QCOMPARE(slider->value(), 2);
    QCOMPARE(d_->ui->lineEdit_frameStatus->text(), QString("2/3"));

    // Two points are not a polygon: Enter (keypad) moves on; the pending rect
    // is their bounding rectangle.
    d_->clicked_points = {cv::Point(4, 5), cv::Point(10, 20)};
    QTest::keyClick(d_.get(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(slider->value(), 3);
    QVERIFY(d_->clicked_points.empty());
    QCOMPARE(d_->pending_rect, cv::Rect(4, 5, 7, 16));

    // On the last image only the points go.
    d_->clicked_points = {cv::Point(1, 1)};
    QTest::keyClick(d_.get(), Qt::Key_Return);
    QCOMPARE(slider->value(), 3);
    QVERIFY(d_->clicked_points.empty());

    // Three points are committed (through the object editing, its class
    // picker answered) and the image stays; the picker zeroes the pending
    // rect's size.
    slider->setValue(1);
    d_->clicked_points = {cv::Point(0, 0), cv::Point(4, 0), cv::Point(4, 4)};
    acceptPicker(d_.get(), "car");
    QTest::keyClick(d_.get(), Qt::Key_Return);
    QCOMPARE(slider->value(), 1);
    QVERIFY(d_->clicked_points.empty());
    QCOMPARE(d_->pending_rect, cv::Rect(0, 0, 0, 0));
    const Frame& first = d_->labeling.frames[d_->labeling.frame_names[0]];
    QCOMPARE(int(first.size()), 1);
    QCOMPARE(first[0].bbox, cv::Rect(0, 0, 5, 5));
    QCOMPARE(int(first[0].landmark.size()), 3);

    // Other keys and other tabs: nothing.
    QTest::keyClick(d_.get(), Qt::Key_A);
    QCOMPARE(slider->value(), 1);
    d_->ui->tabWidget->setCurrentIndex(1);
    d_->clicked_points = {cv::Point(1, 1)};
    QTest::keyClick(d_.get(), Qt::Key_Return);
    QCOMPARE(slider->value(), 1);
    QCOMPARE(int(d_->clicked_points.size()), 1);

    // Escape does not close the dialog, on either tab.
    QTest::keyClick(d_.get(), Qt::Key_Escape);
    QVERIFY(d_->isVisible());
    d_->ui->tabWidget->setCurrentIndex(0);
    QTest::keyClick(d_.get(), Qt::Key_Escape);
    QVERIFY(d_->isVisible());
    d_->hide();
}

void Display::keyPoll_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("slider");
    QTest::addColumn<bool>("pointsEmptied");

    QTest::newRow("Enter, no points: next image") << 13 << 0 << 2 << true;
    QTest::newRow("Enter in the low byte") << 0x10D << 0 << 2 << true;
    QTest::newRow("Enter, three points: commit") << 13 << 3 << 1 << true;
    QTest::newRow("apostrophe never moves") << 39 << 0 << 1 << true;
    QTest::newRow("apostrophe, three points") << 39 << 3 << 1 << true;
    QTest::newRow("no key") << -1 << 2 << 1 << false;
    QTest::newRow("negative low byte") << 0xE0 << 2 << 1 << false;
    QTest::newRow("other key") << int('a') << 2 << 1 << false;
}

// A key from the redraw's poll acts after the redraw has released its lock.
void Display::keyPoll()
{
    QFETCH(int, key);
    QFETCH(int, points);
    QFETCH(int, slider);
    QFETCH(bool, pointsEmptied);

    d_->loadPrjoject(makeProject());
    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
    for (int i = 0; i < points; ++i)
        d_->clicked_points.push_back(cv::Point(3 * i, i * i));
    bool lockFreeDuringCommit = false;
    bool lockFreeInPicker = false;
    const bool commits = points >= 3;
    if (commits)
        acceptPicker(d_.get(), "car", &lockFreeInPicker);
    // One key: the redraws that run inside the picker's loop poll nothing.
    auto keys = std::make_shared<int>(1);
    d_->key_poll = [key, keys]() { return (*keys)-- > 0 ? key : -1; };
    // The slider's own handler runs inside the commit: see whether the lock is free there.
    connect(d_->ui->horizontalSlider_frame, &QSlider::valueChanged, this, [this, &lockFreeDuringCommit]() {
        lockFreeDuringCommit = d_->mutex.tryLock();
        if (lockFreeDuringCommit)
            d_->mutex.unlock();
    });
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QCOMPARE(d_->ui->horizontalSlider_frame->value(), slider);
    QCOMPARE(d_->clicked_points.empty(), pointsEmptied || points == 0);
    if (slider == 2)
        QVERIFY(lockFreeDuringCommit);
    // A commit runs the class picker's modal loop, with the lock released.
    const Frame& first = d_->labeling.frames[d_->labeling.frame_names[0]];
    QCOMPARE(int(first.size()), commits ? 1 : 0);
    if (commits)
        QVERIFY(lockFreeInPicker);
    QVERIFY(d_->mutex.tryLock());
    d_->mutex.unlock();
    d_->hide();
}

QTEST_MAIN(Display)
#include "test_display.moc"
