// The augmentation dialog: its settings object, the sliders that follow their
// boxes, the preview with its own operation order and line sizes, the image
// conversion for display, and the holder the main dialog opens it through.

#include "augment_fixtures.h"
#include "augmentation.h"
#include "dataset_generator.h"
#include "dialog_dataset_gen.h"
#include "mat_qimage.h"
#include "test_support.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QJsonObject>
#include <QLabel>
#include <QPixmap>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

#include <opencv2/imgproc.hpp>

Q_DECLARE_METATYPE(QJsonObject)

using namespace fixtures;

namespace {

template <typename T>
T* child(DialogDatasetGen& dialog, const char* name)
{
    T* w = dialog.findChild<T*>(name);
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

QDoubleSpinBox* box(DialogDatasetGen& d, const QString& name)
{
    return child<QDoubleSpinBox>(d, qPrintable(name));
}

QSlider* slider(DialogDatasetGen& d, const QString& name)
{
    return child<QSlider>(d, qPrintable(name));
}

const QJsonObject kFormDefaults{{"thickness", 2},         {"fixed_size", false},  {"grb_rotation", true},
                                {"rot_min", -180},        {"rot_max", 180},       {"rot_step", 90},
                                {"grb_contrast", true},   {"contrast_min", 0.2},  {"contrast_max", 1.2},
                                {"contrast_step", 1.0},   {"grb_noise", false},   {"noise_max", 10},
                                {"noise_step", 10},       {"grb_blur", false},    {"blur_max", 9},
                                {"blur_step", 9}};

cv::Mat random_image(int cols, int rows)
{
    cv::Mat m(rows, cols, CV_8UC3);
    cv::randu(m, 0, 256);
    return m;
}

// Switches every preview group off, so tests switch on only what they check.
void groups_off(DialogDatasetGen& d)
{
    for (const char* name : {"groupBox_rotation", "groupBox_noise", "groupBox_contrast", "groupBox_blur"})
        child<QGroupBox>(d, name)->setChecked(false);
}

QPixmap shown_pixmap(const QLabel* label)
{
    return label->pixmap(Qt::ReturnByValue);
}

QImage as_rgb888(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB888);
}

} // namespace

class TestDialogDatasetGen : public QObject {
    Q_OBJECT

private slots:
    void form_defaults();
    void restore_empty_object();
    void restore_clamps_and_rounds_data();
    void restore_clamps_and_rounds();
    void restore_get_round_trip();
    void restore_does_not_click_groups();

    void sliders_follow_boxes_data();
    void sliders_follow_boxes();
    void sliders_start_out_of_step();
    void restoring_equal_values_keeps_sliders();

    void preview_line_sizes_data();
    void preview_line_sizes();
    void preview_applies_groups_in_its_order();
    void preview_of_odd_width_canvas();
    void preview_redraws_on_slider_moves();
    void preview_without_image_or_failing_keeps_label();

    void conversion_by_type();

    void show_runs_modally_and_draws();
    void holder_opens_dialog_with_copies();
};

void TestDialogDatasetGen::form_defaults()
{
    DialogDatasetGen d;
    QCOMPARE(d.windowTitle(), QString("Auto Gen"));
    QCOMPARE(d.get_setting(), kFormDefaults);
    QCOMPARE(d.get_setting().keys().size(), 16);
    QVERIFY(d.image.empty());
    QVERIFY(d.frame.empty());
}

void TestDialogDatasetGen::restore_empty_object()
{
    // Every key reads as 0 or false and the widgets clamp it: all groups
    // off, the step boxes at their minimums.
    DialogDatasetGen d;
    d.restore_setting(QJsonObject());
    const QJsonObject expected{{"thickness", 1},         {"fixed_size", false},  {"grb_rotation", false},
                               {"rot_min", 0},           {"rot_max", 0},         {"rot_step", 1},
                               {"grb_contrast", false},  {"contrast_min", 0.1},  {"contrast_max", 1.0},
                               {"contrast_step", 0.1},   {"grb_noise", false},   {"noise_max", 0},
                               {"noise_step", 1},        {"grb_blur", false},    {"blur_max", 1},
                               {"blur_step", 1}};
    QCOMPARE(d.get_setting(), expected);
}

void TestDialogDatasetGen::restore_clamps_and_rounds_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("given");
    QTest::addColumn<QJsonValue>("expected");
    QTest::newRow("rot_min rounded to whole degrees") << "rot_min" << QJsonValue(45.6) << QJsonValue(46);
    QTest::newRow("rot_min half away from zero") << "rot_min" << QJsonValue(-0.5) << QJsonValue(-1);
    QTest::newRow("rot_max clamped") << "rot_max" << QJsonValue(500) << QJsonValue(180);
    QTest::newRow("rot_step clamped to 1") << "rot_step" << QJsonValue(0.2) << QJsonValue(1);
    QTest::newRow("thickness fraction reads 0") << "thickness" << QJsonValue(2.5) << QJsonValue(1);
    QTest::newRow("thickness") << "thickness" << QJsonValue(7) << QJsonValue(7);
    QTest::newRow("thickness clamped") << "thickness" << QJsonValue(1000) << QJsonValue(99);
    QTest::newRow("contrast_min clamped") << "contrast_min" << QJsonValue(0) << QJsonValue(0.1);
    QTest::newRow("contrast_max clamped") << "contrast_max" << QJsonValue(5) << QJsonValue(3.0);
    QTest::newRow("contrast_step one decimal") << "contrast_step" << QJsonValue(0.25) << QJsonValue(0.3);
    QTest::newRow("noise_max clamped") << "noise_max" << QJsonValue(-3) << QJsonValue(0);
    QTest::newRow("blur_max missing") << "blur_max" << QJsonValue(QJsonValue::Undefined) << QJsonValue(1);
    QTest::newRow("blur_step text") << "blur_step" << QJsonValue("5") << QJsonValue(1);
    QTest::newRow("grb_noise") << "grb_noise" << QJsonValue(true) << QJsonValue(true);
    QTest::newRow("grb_rotation not a bool") << "grb_rotation" << QJsonValue(1) << QJsonValue(false);
}

void TestDialogDatasetGen::restore_clamps_and_rounds()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, given);
    QFETCH(QJsonValue, expected);
    QJsonObject in = kFormDefaults;
    if (given.isUndefined())
        in.remove(key);
    else
        in.insert(key, given);
    DialogDatasetGen d;
    d.restore_setting(in);
    QJsonObject out = d.get_setting();
    QCOMPARE(out.value(key), expected);
    out.remove(key);
    in.remove(key);
    QCOMPARE(out, in); // nothing else moved
}

void TestDialogDatasetGen::restore_get_round_trip()
{
    const QJsonObject valid{{"thickness", 5},         {"fixed_size", true},   {"grb_rotation", false},
                            {"rot_min", -45},         {"rot_max", 30},        {"rot_step", 15},
                            {"grb_contrast", true},   {"contrast_min", 0.4},  {"contrast_max", 2.6},
                            {"contrast_step", 0.3},   {"grb_noise", true},    {"noise_max", 20},
                            {"noise_step", 5},        {"grb_blur", true},     {"blur_max", 11},
                            {"blur_step", 3}};
    DialogDatasetGen d;
    d.restore_setting(valid);
    QCOMPARE(d.get_setting(), valid);
    DialogDatasetGen other;
    other.restore_setting(d.get_setting());
    QCOMPARE(other.get_setting(), valid);
    // The generator reads the same values.
    const AugmentSettings s = other.current_settings();
    QVERIFY(s.fixed_size && !s.rotation && s.contrast && s.noise && s.blur);
    QCOMPARE(s.rotation_min, -45.0);
    QCOMPARE(s.contrast_step, 0.3);
    QCOMPARE(s.blur_step, 3.0);
}

void TestDialogDatasetGen::restore_does_not_click_groups()
{
    DialogDatasetGen d;
    QSignalSpy rotation(child<QGroupBox>(d, "groupBox_rotation"), &QGroupBox::clicked);
    QSignalSpy noise(child<QGroupBox>(d, "groupBox_noise"), &QGroupBox::clicked);
    d.restore_setting(QJsonObject{{"grb_rotation", false}, {"grb_noise", true}});
    QVERIFY(!child<QGroupBox>(d, "groupBox_rotation")->isChecked());
    QVERIFY(child<QGroupBox>(d, "groupBox_noise")->isChecked());
    QCOMPARE(rotation.count(), 0);
    QCOMPARE(noise.count(), 0);
}

void TestDialogDatasetGen::sliders_follow_boxes_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("shown");
    QTest::addColumn<QString>("slider");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("step");
    QTest::addColumn<QStringList>("stepped"); // boxes whose single step becomes the value

    QTest::newRow("rotation min") << "doubleSpinBox_rotation_min" << 10.7 << 11.0 << "horizontalSlider_rotation" << 11
                                  << 180 << 1 << QStringList();
    QTest::newRow("rotation max") << "doubleSpinBox_rotation_max" << -20.0 << -20.0 << "horizontalSlider_rotation"
                                  << -180 << -20 << 1 << QStringList();
    QTest::newRow("rotation step") << "doubleSpinBox_rotation_step" << 45.0 << 45.0 << "horizontalSlider_rotation"
                                   << -180 << 180 << 45
                                   << QStringList{"doubleSpinBox_rotation_min", "doubleSpinBox_rotation_max"};
    QTest::newRow("contrast min") << "doubleSpinBox_contrast_min" << 0.3 << 0.3 << "horizontalSlider_contrast" << 3
                                  << 11 << 2 << QStringList();
    QTest::newRow("contrast max") << "doubleSpinBox_contrast_max" << 2.5 << 2.5 << "horizontalSlider_contrast" << 4
                                  << 25 << 2 << QStringList();
    QTest::newRow("contrast step") << "doubleSpinBox_contrast_step" << 0.5 << 0.5 << "horizontalSlider_contrast" << 4
                                   << 11 << 5
                                   << QStringList{"doubleSpinBox_contrast_min", "doubleSpinBox_contrast_max"};
    QTest::newRow("noise step") << "doubleSpinBox_noise_step" << 5.0 << 5.0 << "horizontalSlider_noise" << 0 << 10
                                << 5 << QStringList{"doubleSpinBox_noise_max"};
    QTest::newRow("noise max") << "doubleSpinBox_noise_max" << 7.0 << 7.0 << "horizontalSlider_noise" << 0 << 7 << 10
                               << QStringList();
    QTest::newRow("blur step") << "doubleSpinBox_blur_step_min" << 3.0 << 3.0 << "horizontalSlider_blur" << 1 << 9
                               << 3 << QStringList();
    QTest::newRow("blur max") << "doubleSpinBox_blur_max" << 15.0 << 15.0 << "horizontalSlider_blur" << 1 << 15 << 9
                              << QStringList();
}

void TestDialogDatasetGen::sliders_follow_boxes()
{
    QFETCH(QString, box);
    QFETCH(double, value);
    QFETCH(double, shown);
    QFETCH(QString, slider);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, step);
    QFETCH(QStringList, stepped);

    DialogDatasetGen d;
    ::box(d, box)->setValue(value);
    QCOMPARE(::box(d, box)->value(), shown);
    QSlider* s = ::slider(d, slider);
    QCOMPARE(s->minimum(), minimum);
    QCOMPARE(s->maximum(), maximum);
    QCOMPARE(s->singleStep(), step);
    for (const QString& name : stepped)
        QCOMPARE(::box(d, name)->singleStep(), value);
}

void TestDialogDatasetGen::sliders_start_out_of_step()
{
    // The sliders keep their form values until their boxes change: the
    // contrast slider 4..11 step 2 while the boxes hold 0.2..1.2 step 1.0,
    // the rotation slider step 1 while the step box holds 90.
    DialogDatasetGen d;
    QSlider* contrast = slider(d, "horizontalSlider_contrast");
    QCOMPARE(contrast->minimum(), 4);
    QCOMPARE(contrast->maximum(), 11);
    QCOMPARE(contrast->singleStep(), 2);
    QCOMPARE(contrast->value(), 10);
    QSlider* rotation = slider(d, "horizontalSlider_rotation");
    QCOMPARE(rotation->minimum(), -180);
    QCOMPARE(rotation->maximum(), 180);
    QCOMPARE(rotation->singleStep(), 1);
    QCOMPARE(rotation->value(), 0);
    QSlider* noise = slider(d, "horizontalSlider_noise");
    QCOMPARE(noise->maximum(), 10);
    QCOMPARE(noise->singleStep(), 10);
    QSlider* blur = slider(d, "horizontalSlider_blur");
    QCOMPARE(blur->minimum(), 1);
    QCOMPARE(blur->maximum(), 9);
    QCOMPARE(blur->singleStep(), 9);
    QCOMPARE(blur->value(), 1);
    for (QSlider* s : {contrast, rotation, noise, blur}) {
        QCOMPARE(s->orientation(), Qt::Horizontal);
        QVERIFY(s->hasTracking());
    }
}

void TestDialogDatasetGen::restoring_equal_values_keeps_sliders()
{
    DialogDatasetGen d;
    d.restore_setting(d.get_setting()); // nothing changes: no valueChanged
    QCOMPARE(slider(d, "horizontalSlider_contrast")->minimum(), 4);
    QCOMPARE(slider(d, "horizontalSlider_contrast")->maximum(), 11);
    QCOMPARE(slider(d, "horizontalSlider_rotation")->singleStep(), 1);

    QJsonObject changed = kFormDefaults;
    changed.insert("contrast_min", 0.4);
    changed.insert("rot_step", 30);
    d.restore_setting(changed);
    QCOMPARE(slider(d, "horizontalSlider_contrast")->minimum(), 4);
    QCOMPARE(slider(d, "horizontalSlider_contrast")->maximum(), 11); // 1.2 did not change
    QCOMPARE(slider(d, "horizontalSlider_rotation")->singleStep(), 30);
}

void TestDialogDatasetGen::preview_line_sizes_data()
{
    QTest::addColumn<int>("cols");
    QTest::addColumn<int>("thickness_setting");
    QTest::addColumn<int>("degrees"); // rotation group on at this slider value; 999 for off
    QTest::addColumn<int>("thickness");
    QTest::addColumn<int>("radius");
    // thickness = setting x width / 500 and radius = 2 x width / 640, each at
    // least 1, with the width of the image as shown (after the rotation).
    QTest::newRow("640 wide") << 640 << 2 << 999 << 2 << 2;
    QTest::newRow("200 wide") << 200 << 2 << 999 << 1 << 1;
    QTest::newRow("1280 wide") << 1280 << 2 << 999 << 5 << 4;
    QTest::newRow("499 wide") << 499 << 1 << 999 << 1 << 1;
    QTest::newRow("1000 wide, setting 5") << 1000 << 5 << 999 << 10 << 3;
    QTest::newRow("640 wide turned by 90") << 640 << 4 << 90 << 3 << 1;   // drawn 481 wide
    QTest::newRow("640 wide at 0 degrees") << 640 << 64 << 0 << 82 << 2; // drawn 641 wide (81 at 640)
}

void TestDialogDatasetGen::preview_line_sizes()
{
    QFETCH(int, cols);
    QFETCH(int, thickness_setting);
    QFETCH(int, degrees);
    QFETCH(int, thickness);
    QFETCH(int, radius);

    DialogDatasetGen d;
    groups_off(d);
    child<QSpinBox>(d, "spinBox_thickness")->setValue(thickness_setting);
    d.image = cv::Mat(cols * 3 / 4, cols, CV_8UC3, cv::Scalar::all(60));
    d.frame = {box_object(cols / 4, cols / 8, cols / 2, cols / 4),
               polygon_object({{cols / 3, cols / 3}, {cols / 2, cols / 3}, {cols / 2, cols / 2}})};
    cv::Mat base = d.image.clone();
    Frame objects = d.frame;
    if (degrees != 999) {
        child<QGroupBox>(d, "groupBox_rotation")->setChecked(true);
        slider(d, "horizontalSlider_rotation")->setValue(degrees);
        seed_qt(11);
        const AugmentedSample rotated = augment_rotation(base, objects, degrees, false);
        base = rotated.first;
        objects = rotated.second;
    }
    seed_qt(11);
    const cv::Mat shown = d.render_preview();

    cv::Mat expected = base.clone();
    for (const Object& o : objects) {
        cv::rectangle(expected, o.bbox, o.color, thickness, cv::LINE_8);
        cv::circle(expected, o.center, radius, cv::Scalar(255, 0, 0), thickness, cv::LINE_8);
        for (const cv::Point& p : o.landmark)
            cv::circle(expected, p, radius, cv::Scalar(0, 255, 255), thickness, cv::LINE_8);
    }
    QVERIFY(same_pixels(shown, expected));
}

void TestDialogDatasetGen::preview_applies_groups_in_its_order()
{
    // Rotation, noise, contrast, blur, each at its slider's value; the
    // generator's order (noise, blur, rotation, contrast) gives other pixels.
    DialogDatasetGen d;
    groups_off(d);
    d.image = random_image(64, 48);
    const cv::Mat source = d.image.clone();

    child<QGroupBox>(d, "groupBox_contrast")->setChecked(true);
    QCOMPARE(slider(d, "horizontalSlider_contrast")->value(), 10);
    QVERIFY(same_pixels(d.render_preview(), source)); // factor 1.0
    slider(d, "horizontalSlider_contrast")->setValue(4);
    QVERIFY(same_pixels(d.render_preview(), augment_contrast(source, 0.4)));

    child<QGroupBox>(d, "groupBox_blur")->setChecked(true);
    QVERIFY(same_pixels(d.render_preview(), augment_contrast(source, 0.4))); // blur slider at 1
    slider(d, "horizontalSlider_blur")->setValue(4);
    const cv::Mat contrast_then_blur = augment_blur(augment_contrast(source, 0.4), 4);
    QVERIFY(same_pixels(d.render_preview(), contrast_then_blur));
    QVERIFY(!same_pixels(contrast_then_blur, augment_contrast(augment_blur(source, 4), 0.4)));

    child<QGroupBox>(d, "groupBox_rotation")->setChecked(true);
    slider(d, "horizontalSlider_rotation")->setValue(30);
    seed_qt(3);
    const cv::Mat rotated = augment_rotation(source, Frame(), 30, false).first;
    seed_qt(3);
    QVERIFY(same_pixels(d.render_preview(), augment_blur(augment_contrast(rotated, 0.4), 4)));

    child<QGroupBox>(d, "groupBox_noise")->setChecked(true);
    slider(d, "horizontalSlider_noise")->setValue(10);
    seed_qt(3);
    cv::setRNGSeed(8);
    const cv::Mat noisy = d.render_preview();
    seed_qt(3);
    cv::setRNGSeed(8);
    QVERIFY(same_pixels(noisy, augment_blur(augment_contrast(augment_noise(rotated, 10), 0.4), 4)));
    QVERIFY(!same_pixels(noisy, augment_blur(augment_contrast(rotated, 0.4), 4)));

    QVERIFY(same_pixels(d.image, source)); // the kept image is never changed
}

void TestDialogDatasetGen::preview_of_odd_width_canvas()
{
    // 640 x 480 at 0 degrees is shown on a 641-wide canvas, whose rows are not
    // 4-byte aligned: the QImage must follow the matrix's row step.
    DialogDatasetGen d;
    d.image = random_image(640, 480);
    d.frame = {box_object(100, 100, 50, 40)};
    QVERIFY(child<QGroupBox>(d, "groupBox_rotation")->isChecked());
    QLabel* label = child<QLabel>(d, "label_img");
    label->resize(641, 481);

    seed_qt(21);
    const cv::Mat shown = d.render_preview();
    QCOMPARE(shown.cols, 641);
    QCOMPARE(shown.rows, 481);
    seed_qt(21);
    d.update_display();

    QVERIFY(!shown_pixmap(label).isNull());
    const QImage on_label = as_rgb888(shown_pixmap(label).toImage());
    QCOMPARE(on_label.size(), QSize(641, 481));
    QVERIFY(!label->hasScaledContents());
    for (const QPoint& p : {QPoint(600, 400), QPoint(640, 480), QPoint(0, 480), QPoint(320, 17)}) {
        const cv::Vec3b bgr = shown.at<cv::Vec3b>(p.y(), p.x());
        QCOMPARE(on_label.pixel(p), qRgb(bgr[2], bgr[1], bgr[0]));
    }
    QCOMPARE(on_label, as_rgb888(cv_mat_to_qimage(shown)));

    // A smaller label shows the whole canvas, aspect kept.
    label->resize(321, 400);
    d.update_display();
    QCOMPARE(shown_pixmap(label).size(), QSize(641, 481).scaled(321, 400, Qt::KeepAspectRatio));
}

void TestDialogDatasetGen::preview_redraws_on_slider_moves()
{
    DialogDatasetGen d;
    d.image = random_image(80, 60);
    child<QGroupBox>(d, "groupBox_noise")->setChecked(true);
    child<QGroupBox>(d, "groupBox_blur")->setChecked(true);
    QLabel* label = child<QLabel>(d, "label_img");

    const std::vector<std::pair<QString, std::function<void()>>> moves = {
        {"rotation slider", [&] { slider(d, "horizontalSlider_rotation")->setValue(20); }},
        {"noise slider", [&] { slider(d, "horizontalSlider_noise")->setValue(10); }},
        {"contrast slider", [&] { slider(d, "horizontalSlider_contrast")->setValue(6); }},
        {"blur slider", [&] { slider(d, "horizontalSlider_blur")->setValue(5); }},
        {"thickness", [&] { child<QSpinBox>(d, "spinBox_thickness")->setValue(3); }},
        {"rotation group click", [&] { emit child<QGroupBox>(d, "groupBox_rotation")->clicked(true); }},
        {"noise group click", [&] { emit child<QGroupBox>(d, "groupBox_noise")->clicked(true); }},
        {"contrast range pulls the slider", [&] { box(d, "doubleSpinBox_contrast_min")->setValue(1.0); }},
    };
    for (const auto& move : moves) {
        label->clear();
        move.second();
        QVERIFY2(!shown_pixmap(label).isNull(), qPrintable(move.first));
    }
    // No slot redraws for "Fixed size" or the contrast and blur groups.
    label->clear();
    child<QCheckBox>(d, "checkBox_fix_width_height")->setChecked(true);
    emit child<QGroupBox>(d, "groupBox_contrast")->clicked(false);
    QVERIFY(shown_pixmap(label).isNull());
}

void TestDialogDatasetGen::preview_without_image_or_failing_keeps_label()
{
    DialogDatasetGen d;
    QLabel* label = child<QLabel>(d, "label_img");
    QPixmap marker(10, 10);
    marker.fill(Qt::red);
    label->setPixmap(marker);
    const qint64 key = shown_pixmap(label).cacheKey();
    d.update_display();
    slider(d, "horizontalSlider_rotation")->setValue(45);
    d.restore_setting(QJsonObject()); // moves sliders without an image
    QCOMPARE(shown_pixmap(label).cacheKey(), key);
    QVERIFY(d.render_preview().empty());

    // An image the rotation cannot take (OpenCV's warp stops at 32767
    // pixels) keeps the picture too, and nothing escapes the slot.
    d.image = cv::Mat(1, 40000, CV_8UC3, cv::Scalar::all(9));
    QVERIFY(child<QGroupBox>(d, "groupBox_rotation")->isChecked() == false); // restored from {}
    child<QGroupBox>(d, "groupBox_rotation")->setChecked(true);
    d.update_display();
    QCOMPARE(shown_pixmap(label).cacheKey(), key);
    QVERIFY_EXCEPTION_THROWN(d.render_preview(), cv::Exception); // the failure was real
}

void TestDialogDatasetGen::conversion_by_type()
{
    const cv::Mat colour = random_image(641, 3);
    const QImage c = cv_mat_to_qimage(colour);
    QCOMPARE(c.format(), QImage::Format_RGB888);
    QCOMPARE(c.size(), QSize(641, 3));
    for (int y = 0; y < 3; ++y)
        for (int x : {0, 1, 320, 639, 640}) {
            const cv::Vec3b v = colour.at<cv::Vec3b>(y, x);
            QCOMPARE(c.pixel(x, y), qRgb(v[2], v[1], v[0]));
        }

    cv::Mat four(3, 5, CV_8UC4, cv::Scalar(10, 20, 30, 255));
    const QImage f = cv_mat_to_qimage(four);
    QCOMPARE(f.format(), QImage::Format_ARGB32);
    QCOMPARE(f.pixel(4, 2), qRgba(30, 20, 10, 255));

    cv::Mat grey(3, 7, CV_8UC1, cv::Scalar(77));
    const QImage g = cv_mat_to_qimage(grey);
    QCOMPARE(g.format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(g.pixel(6, 2)), 77);

    // The QImage owns its pixels.
    four.setTo(cv::Scalar::all(0));
    grey.setTo(cv::Scalar::all(0));
    QCOMPARE(f.pixel(4, 2), qRgba(30, 20, 10, 255));
    QCOMPARE(qGray(g.pixel(6, 2)), 77);

    QTest::ignoreMessage(QtWarningMsg, "ASM::cvMatToQImage() - cv::Mat image type not handled in switch: 2");
    QVERIFY(cv_mat_to_qimage(cv::Mat(2, 2, CV_16UC1)).isNull());
}

void TestDialogDatasetGen::show_runs_modally_and_draws()
{
    DialogDatasetGen d;
    const cv::Mat image = random_image(64, 48);
    const Frame frame = {box_object(5, 5, 10, 10)};
    bool modal = false;
    bool drawn = false;
    testsupport::answerNextModal([&](QWidget* w) {
        modal = (w == &d);
        QLabel* label = d.findChild<QLabel*>("label_img");
        drawn = !shown_pixmap(label).isNull(); // the first showEvent drew it
        d.reject();
    });
    QCOMPARE(d.show_dataset_gen(image, frame), int(QDialog::Rejected));
    QVERIFY(modal);
    QVERIFY(drawn);
    QCOMPARE(d.image.data, image.data); // kept, sharing the caller's pixels
    QVERIFY(same_objects(d.frame, frame));
    QVERIFY(!d.isVisible());
    QCOMPARE(d.get_auto_gen(image, frame).size(), size_t(10)); // still answers when hidden
}

void TestDialogDatasetGen::holder_opens_dialog_with_copies()
{
    QWidget* owner = new QWidget;
    DatasetGenerator generator(owner);
    QCOMPARE(generator.parent, owner);
    QVERIFY(generator.dialog);
    QCOMPARE(generator.dialog->parentWidget(), owner);

    const cv::Mat image = random_image(32, 24);
    const Frame frame = {box_object(1, 2, 3, 4)};
    testsupport::answerNextModal([&](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    generator.show_dataset_gen(image, frame);
    QVERIFY(same_pixels(generator.dialog->image, image));
    QVERIFY(same_objects(generator.dialog->frame, frame));
    // The dialog is a Qt child of its owner and goes with it.
    QPointer<DialogDatasetGen> dialog = generator.dialog;
    delete owner;
    QVERIFY(dialog.isNull());
}

QTEST_MAIN(TestDialogDatasetGen)
#include "test_dialog_dataset_gen.moc"
