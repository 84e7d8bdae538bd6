// The extreme ".gt" in the main dialog: every object redrawn by the image
// window's timer (box thicknesses 2 and 10) draws exactly what its twin within
// 100000 draws; selection works at the int limits, moving and resizing
// saturate there, pointer events far outside commit boxes that fit an int;
// the augmentation preview draws the extreme objects like their twins; and
// the boxes stay in the data as they were read.

#include "editing_fixture.h"
#include "extreme_boxes.h"

#include "dialog_dataset_gen.h"
#include "dialog_labeling_setting.h"
#include "ui_dialog_dataset_gen.h"

#include <QJsonDocument>

#include <climits>

using namespace extreme_boxes;

namespace {

enum { kMove = 0, kDown = 1, kUp = 4 };

QJsonObject settings(int rect, int crosshair)
{
    return QJsonObject{{"rect_thickness", rect}, {"line_thickness", 2},  {"crosshair_thickness", crosshair},
                       {"font_scale", 1.0},      {"font_thickness", 1},  {"font_offset", 5}};
}

// qsrand() is deprecated in Qt 5.15 but seeds the rotation's border colour.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
void seedBorderColour()
{
    qsrand(7);
}
QT_WARNING_POP

int differingPixels(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return -1;
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return cv::countNonZero(diff.reshape(1));
}

// Zero-padded, so that the folder order is the record order.
QString fileName(int i)
{
    return QString("%1.png").arg(i, 2, 10, QChar('0'));
}

} // namespace

class ExtremeDisplay : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void redrawMatchesTwin();
    void selectionAndCrosshair_data();
    void selectionAndCrosshair();
    void moveAndResize_data();
    void moveAndResize();
    void pointerAtTheLimits_data();
    void pointerAtTheLimits();
    void polygonAtTheLimits();
    void previewMatchesTwin_data();
    void previewMatchesTwin();
    void boxesStayAsRead();

private:
    void showImage(int index);
    cv::Mat redraw();
    Object& shownObject(int index) { return d_->labeling.frames[fileName(index)][0]; }

    editing_fixture::Environment env_;
    QString folder_;
    QString gt_;
    std::unique_ptr<DialogVarnex> d_;
};

void ExtremeDisplay::initTestCase()
{
    QVERIFY(env_.setUp());
    QStringList files;
    for (int i = 0; i < kCount; ++i)
        files << fileName(i);
    folder_ = env_.folder("images", files, kWidth, kHeight);
    gt_ = env_.path("extreme.gt");
    QVERIFY(testsupport::writeFile(gt_, gtText(files)));
}

// The project opened and the ".gt" loaded as the dialog does it: one extreme
// object per image.
void ExtremeDisplay::init()
{
    d_.reset(new DialogVarnex(nullptr));
    d_->key_poll = []() { return -1; };
    d_->loadPrjoject(folder_);
    QCOMPARE(int(d_->labeling.frame_names.size()), kCount);
    QVERIFY(d_->labeling.load_gt(gt_));
    d_->dlg_lb_setting->restore_setting(settings(2, 0));
    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
}

void ExtremeDisplay::cleanup()
{
    d_.reset();
}

void ExtremeDisplay::showImage(int index)
{
    d_->ui->horizontalSlider_frame->setValue(index + 1);
    QCOMPARE(d_->cur_index, index);
}

// One tick of the image window's timer: the redraw the view shows.
cv::Mat ExtremeDisplay::redraw()
{
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    return d_->display_image.clone();
}

// An object at the int limits draws the pixels of its twin: nothing of what
// lies outside, the visible part of what crosses the image, and the label
// background clamped into the image. Every record, with thickness 2 and with
// thickness 10 selected, on one dialog: each record is its own image, so the
// twin put into one record's object leaves the others extreme.
void ExtremeDisplay::redrawMatchesTwin()
{
    struct Look {
        int rect;
        bool active;
    };
    const Look looks[] = {{2, false}, {10, true}};
    auto drawAs = [this](const Look& look) {
        d_->dlg_lb_setting->restore_setting(settings(look.rect, 0));
        d_->labeling.active_object = look.active ? 0 : -1;
        return redraw();
    };
    for (int record = 0; record < kCount; ++record) {
        showImage(record);
        if (QTest::currentTestFailed())
            return;
        std::vector<cv::Mat> extreme;
        for (const Look& look : looks)
            extreme.push_back(drawAs(look));

        const Object twin = object(kRecords[record], true);
        Object& shown = shownObject(record);
        shown.bbox = twin.bbox;
        shown.center = twin.center;
        shown.landmark = twin.landmark;
        for (size_t k = 0; k < extreme.size(); ++k) {
            const QByteArray what = QString("%1, thickness %2%3")
                                        .arg(kRecords[record].name)
                                        .arg(looks[k].rect)
                                        .arg(looks[k].active ? ", selected" : "")
                                        .toUtf8();
            QVERIFY2(!extreme[k].empty(), what.constData());
            const int differing = differingPixels(extreme[k], drawAs(looks[k]));
            QVERIFY2(differing == 0, (what + ": " + QByteArray::number(differing) + " pixels differ").constData());
        }
    }
}

void ExtremeDisplay::selectionAndCrosshair_data()
{
    QTest::addColumn<int>("record");
    QTest::addColumn<cv::Point>("pointer");
    QTest::addColumn<int>("active");

    QTest::newRow("INT_MIN centre, pointer there") << 1 << cv::Point(INT_MIN, INT_MIN) << 0;
    QTest::newRow("INT_MIN centre, pointer at the image corner") << 1 << cv::Point(0, 0) << -1;
    QTest::newRow("INT_MAX centre, pointer 19 away") << 2 << cv::Point(INT_MAX - 19, INT_MAX) << 0;
    QTest::newRow("INT_MAX centre, pointer 20 away") << 2 << cv::Point(INT_MAX, INT_MAX - 20) << -1;
    QTest::newRow("INT_MAX centre, pointer at INT_MIN") << 2 << cv::Point(INT_MIN, INT_MIN) << -1;
    QTest::newRow("centre inside, pointer at INT_MAX") << 3 << cv::Point(INT_MAX, INT_MAX) << -1;
}

// The pointer handler selects by the distance to the centre (below 20 on a
// 640 x 480 image) wherever the two lie; the crosshair of a pointer outside
// the image is not drawn.
void ExtremeDisplay::selectionAndCrosshair()
{
    QFETCH(int, record);
    QFETCH(cv::Point, pointer);
    QFETCH(int, active);

    showImage(record);
    d_->dlg_lb_setting->restore_setting(settings(10, 0));
    d_->on_MouseHandle(kMove, pointer.x, pointer.y, nullptr, 0);
    QCOMPARE(d_->labeling.active_object, active);
    const cv::Mat withoutCrosshair = redraw();

    d_->dlg_lb_setting->restore_setting(settings(10, 9999));
    const cv::Mat withCrosshair = redraw();
    const bool inside = pointer.x >= 0 && pointer.x < kWidth && pointer.y >= 0 && pointer.y < kHeight;
    QCOMPARE(differingPixels(withoutCrosshair, withCrosshair) > 0, inside);
}

void ExtremeDisplay::moveAndResize_data()
{
    QTest::addColumn<bool>("resize");
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<cv::Point>("centre");
    QTest::addColumn<cv::Point>("pointer");
    QTest::addColumn<cv::Rect>("movedBox");
    QTest::addColumn<cv::Point>("movedCentre");

    // A ".gt" keeps the centre apart from the box, so a centre 3 pixels from
    // the pointer can belong to a box at the limit.
    QTest::newRow("move right past INT_MAX")
        << false << cv::Rect(INT_MAX - 1, 10, 1, 1) << cv::Point(INT_MAX - 3, 10) << cv::Point(INT_MAX, 10)
        << cv::Rect(INT_MAX, 10, 1, 1) << cv::Point(INT_MAX, 10);
    QTest::newRow("move left past INT_MIN")
        << false << cv::Rect(INT_MIN + 1, 10, 4, 4) << cv::Point(INT_MIN + 3, 12) << cv::Point(INT_MIN, 12)
        << cv::Rect(INT_MIN, 10, 4, 4) << cv::Point(INT_MIN + 2, 12);
    QTest::newRow("move up past INT_MIN, centre there")
        << false << cv::Rect(0, INT_MIN, 10, 2) << cv::Point(5, INT_MIN + 1) << cv::Point(5, INT_MIN)
        << cv::Rect(0, INT_MIN, 10, 2) << cv::Point(5, INT_MIN + 1);
    QTest::newRow("resize wider than INT_MAX")
        << true << cv::Rect(0, 0, INT_MAX - 1, 10) << cv::Point(INT_MAX - 3, 5) << cv::Point(INT_MAX, 5)
        << cv::Rect(0, 0, INT_MAX, 10) << cv::Point(1073741824, 5);
    QTest::newRow("resize below INT_MIN")
        << true << cv::Rect(0, 0, 10, INT_MIN + 1) << cv::Point(5, INT_MIN + 3) << cv::Point(5, INT_MIN)
        << cv::Rect(0, 0, 10, INT_MIN) << cv::Point(5, INT_MIN / 2);
    QTest::newRow("centre of a box past INT_MAX")
        << true << cv::Rect(INT_MAX, INT_MAX, 1, 1) << cv::Point(INT_MAX, INT_MAX) << cv::Point(INT_MAX, INT_MAX)
        << cv::Rect(INT_MAX, INT_MAX, 1, 1) << cv::Point(INT_MAX, INT_MAX);
}

// Moving and resizing saturate at the int limits, and so does the centre
// recomputed from the box.
void ExtremeDisplay::moveAndResize()
{
    QFETCH(bool, resize);
    QFETCH(cv::Rect, box);
    QFETCH(cv::Point, centre);
    QFETCH(cv::Point, pointer);
    QFETCH(cv::Rect, movedBox);
    QFETCH(cv::Point, movedCentre);

    Object& o = shownObject(0);
    o.bbox = box;
    o.center = centre;
    d_->labeling.active_object = 0;
    if (resize)
        d_->resizeObj(pointer.x, pointer.y);
    else
        d_->moveObj(pointer.x, pointer.y);
    QCOMPARE(o.bbox, movedBox);
    QCOMPARE(o.center, movedCentre);
    redraw();
}

void ExtremeDisplay::pointerAtTheLimits_data()
{
    QTest::addColumn<bool>("oneClick");
    QTest::addColumn<cv::Point>("from");
    QTest::addColumn<cv::Point>("to");
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<cv::Point>("centre");

    // Positions beyond any image are held at -2^30 .. 2^30 - 1, so that the
    // box and its size fit an int.
    QTest::newRow("one click at INT_MAX, 11 x 11")
        << true << cv::Point(INT_MAX, INT_MAX) << cv::Point(INT_MAX, INT_MAX)
        << cv::Rect(1073741818, 1073741818, 11, 11) << cv::Point(1073741824, 1073741824);
    QTest::newRow("drag from INT_MIN to INT_MAX")
        << false << cv::Point(INT_MIN, INT_MIN) << cv::Point(INT_MAX, INT_MAX)
        << cv::Rect(-1073741824, -1073741824, INT_MAX, INT_MAX) << cv::Point(0, 0);
    QTest::newRow("drag from INT_MAX to INT_MIN")
        << false << cv::Point(INT_MAX, INT_MAX) << cv::Point(INT_MIN, INT_MIN)
        << cv::Rect(-1073741824, -1073741824, INT_MAX, INT_MAX) << cv::Point(0, 0);
}

// Pointer events far outside the image (the handler takes any int) commit a
// box that still covers the image, with its centre, never a wrapped size.
void ExtremeDisplay::pointerAtTheLimits()
{
    QFETCH(bool, oneClick);
    QFETCH(cv::Point, from);
    QFETCH(cv::Point, to);
    QFETCH(cv::Rect, box);
    QFETCH(cv::Point, centre);

    showImage(0);
    d_->ui->checkBox_autorect->setChecked(oneClick);
    d_->ui->spinBox_autorect_w->setValue(11);
    d_->ui->spinBox_autorect_h->setValue(11);
    d_->ui->lineEdit_classname->setText("car");
    if (!oneClick)
        editing_fixture::answerPicker(d_.get(), "car");
    d_->on_MouseHandle(kDown, from.x, from.y, nullptr, 1);
    d_->on_MouseHandle(kMove, to.x, to.y, nullptr, 1);
    d_->on_MouseHandle(kUp, to.x, to.y, nullptr, 1);

    const Frame& f = d_->labeling.frames[fileName(0)];
    QCOMPARE(int(f.size()), 2);
    QCOMPARE(f[1].bbox, box);
    QCOMPARE(f[1].center, centre);
    redraw();
}

// Clicked points far outside make a polygon whose box still fits an int.
void ExtremeDisplay::polygonAtTheLimits()
{
    showImage(0);
    d_->ui->checkBox_autorect->setChecked(false);
    for (const cv::Point& p : {cv::Point(INT_MIN, INT_MIN), cv::Point(INT_MAX, INT_MIN), cv::Point(INT_MAX, INT_MAX)}) {
        d_->on_MouseHandle(kDown, p.x, p.y, nullptr, 1);
        d_->on_MouseHandle(kUp, p.x, p.y, nullptr, 1);
    }
    editing_fixture::answerPicker(d_.get(), "car");
    QTest::keyClick(d_.get(), Qt::Key_Return);

    const Frame& f = d_->labeling.frames[fileName(0)];
    QCOMPARE(int(f.size()), 2);
    QCOMPARE(f[1].bbox, cv::Rect(-1073741824, -1073741824, INT_MAX, INT_MAX));
    QCOMPARE(f[1].center, cv::Point(0, 0));
    const std::vector<cv::Point> held{{-1073741824, -1073741824}, {1073741823, -1073741824}, {1073741823, 1073741823}};
    QCOMPARE(f[1].landmark, held);
    redraw();
}

void ExtremeDisplay::previewMatchesTwin_data()
{
    QTest::addColumn<int>("rotation"); // degrees; -1: rotation off
    QTest::newRow("no rotation") << -1;
    QTest::newRow("rotation 0") << 0;
    QTest::newRow("rotation 90") << 90;
}

// The augmentation preview of the extreme objects (the fixture on one image)
// draws the pixels of their twins. Rotated, only the boxes: a polygon's box
// is refitted from its extent, which its twin does not share.
void ExtremeDisplay::previewMatchesTwin()
{
    QFETCH(int, rotation);

    DialogDatasetGen dialog;
    dialog.ui->groupBox_rotation->setChecked(rotation >= 0);
    dialog.ui->horizontalSlider_rotation->setValue(std::max(rotation, 0));
    dialog.ui->groupBox_contrast->setChecked(false);
    dialog.ui->spinBox_thickness->setValue(10);
    dialog.image = cv::Mat(kHeight, kWidth, CV_8UC3, cv::Scalar(40, 60, 80));

    cv::Mat shown[2];
    for (int twin = 0; twin < 2; ++twin) {
        dialog.frame.clear();
        for (const Object& o : frame(twin))
            if (rotation < 0 || o.landmark.empty())
                dialog.frame.push_back(o);
        // The rotation's border colour is random: the same seed for both.
        seedBorderColour();
        shown[twin] = dialog.render_preview();
    }
    QVERIFY(!shown[0].empty());
    QCOMPARE(differingPixels(shown[0], shown[1]), 0);
}

// Redraws, selection and the preview change nothing in the data: the ".gt"
// written back holds every box, centre and polygon as it was read.
void ExtremeDisplay::boxesStayAsRead()
{
    for (int i = 0; i < kCount; ++i) {
        showImage(i);
        d_->dlg_lb_setting->restore_setting(settings(10, 1));
        d_->on_MouseHandle(kMove, 0, 0, nullptr, 0);
        redraw();
    }
    const QString saved = env_.path("saved.gt");
    QVERIFY(d_->labeling.save_gt(saved));
    const QJsonArray images = QJsonDocument::fromJson(testsupport::readFile(saved)).array();
    QCOMPARE(images.size(), kCount);
    for (int i = 0; i < kCount; ++i) {
        const QJsonObject written = images[i].toObject()["obj_array"].toArray()[0].toObject();
        const QJsonObject read = objectRecord(kRecords[i], false);
        for (const char* key : {"bbox", "center", "landmark", "landmark_len"})
            QCOMPARE(written[key], read[key]);
    }
}

QTEST_MAIN(ExtremeDisplay)
#include "tst_extreme_display.moc"
