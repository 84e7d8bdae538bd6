// The combination generator as the main dialog reaches it: settings read from
// the augmentation dialog's widgets (never shown), the loop order, the
// inclusive bounds, the skipped identity, the seeded determinism and the
// streaming form.

#include "augment_fixtures.h"
#include "augmentation.h"
#include "dialog_dataset_gen.h"

#include <QCheckBox>
#include <QFile>
#include <QJsonObject>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <stdexcept>

using namespace fixtures;

namespace {

typedef std::vector<std::pair<cv::Mat, Frame>> Samples;

cv::Mat grey(int cols, int rows, int value)
{
    return cv::Mat(rows, cols, CV_8UC3, cv::Scalar::all(value));
}

// Settings with every group off; tests switch on what they need.
QJsonObject all_off()
{
    return QJsonObject{{"thickness", 2},        {"fixed_size", false},  {"grb_rotation", false},
                       {"rot_min", -180},       {"rot_max", 180},       {"rot_step", 90},
                       {"grb_contrast", false}, {"contrast_min", 0.2},  {"contrast_max", 1.2},
                       {"contrast_step", 1.0},  {"grb_noise", false},   {"noise_max", 10},
                       {"noise_step", 10},      {"grb_blur", false},    {"blur_max", 9},
                       {"blur_step", 9}};
}

QJsonObject with(QJsonObject base, const QJsonObject& changes)
{
    for (auto it = changes.begin(); it != changes.end(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

// Where the box's centre landed on the canvas: which half, left or right,
// top or bottom.
QString quadrant(const cv::Mat& canvas, const Object& o)
{
    const bool left = o.center.x < canvas.cols / 2;
    const bool top = o.center.y < canvas.rows / 2;
    return QString(top ? "top" : "bottom") + "-" + (left ? "left" : "right");
}

// Mean absolute difference of the central quarter from the uniform value
// (noise shows, the resampling at the edges does not).
double centre_deviation(const cv::Mat& image, int value)
{
    const cv::Mat centre = image(cv::Rect(image.cols / 4, image.rows / 4, image.cols / 2, image.rows / 2));
    cv::Mat diff;
    cv::absdiff(centre, cv::Scalar::all(value), diff);
    return cv::mean(diff)[0];
}

} // namespace

Q_DECLARE_METATYPE(QJsonObject)

class TestAugmentGenerator : public QObject {
    Q_OBJECT

private slots:
    void form_defaults_give_ten_samples_in_order();
    void sample_counts_data();
    void sample_counts();
    void mixed_settings_come_in_loop_order();
    void fixed_size_box_reaches_the_generator();
    void seeded_runs_are_bitwise_identical();
    void stream_agrees_with_get_auto_gen();
    void stream_stops_when_the_consumer_says_so();
    void stream_passes_consumer_exceptions_on();
    void empty_and_unreadable_images_yield_nothing();
    void failing_operation_ends_the_stream_with_its_error_data();
    void failing_operation_ends_the_stream_with_its_error();
};

void TestAugmentGenerator::form_defaults_give_ten_samples_in_order()
{
    DialogDatasetGen dialog;
    const cv::Mat image = grey(64, 48, 100);
    const Frame frame = {box_object(4, 4, 10, 8, "car", 3)};
    const Samples samples = dialog.get_auto_gen(image, frame);

    // (angle, contrast): angle read from where the top-left box lands
    // (counter-clockwise turns), contrast from the unchanged centre pixel.
    const QStringList where = {"bottom-right", "bottom-right", "top-right",   "top-right",    "top-left",
                               "top-left",     "bottom-left",  "bottom-left", "bottom-right", "bottom-right"};
    const int centre[] = {20, 120, 20, 120, 20, 120, 20, 120, 20, 120};
    QCOMPARE(int(samples.size()), 10);
    for (int i = 0; i < 10; ++i) {
        const cv::Mat& img = samples[i].first;
        QCOMPARE(img.type(), CV_8UC3);
        QCOMPARE(int(samples[i].second.size()), 1);
        const Object& o = samples[i].second[0];
        QVERIFY2(quadrant(img, o) == where[i], qPrintable(QString("sample %1: %2").arg(i).arg(quadrant(img, o))));
        QCOMPARE(int(img.at<cv::Vec3b>(img.rows / 2, img.cols / 2)[1]), centre[i]);
        QCOMPARE(o.label, QString("car"));
        QCOMPARE(o.label_index, 3);
        QVERIFY(o.color == frame[0].color);
        QCOMPARE(int(o.landmark.size()), 4);
        QVERIFY(img.data != image.data);
        for (int j = 0; j < i; ++j)
            QVERIFY(img.data != samples[j].first.data); // each sample owns its pixels
    }
    // The angle 0 samples are on the enlarged canvas too.
    QCOMPARE(samples[4].first.cols, 65);
    QCOMPARE(samples[4].first.rows, 49);
    // The caller's image and frame are untouched.
    QCOMPARE(image.at<cv::Vec3b>(0, 0), cv::Vec3b(100, 100, 100));
    QCOMPARE(frame[0].bbox, cv::Rect(4, 4, 10, 8));
    QVERIFY(frame[0].landmark.empty());
}

void TestAugmentGenerator::sample_counts_data()
{
    QTest::addColumn<QJsonObject>("settings");
    QTest::addColumn<int>("count");
    const QJsonObject off = all_off();
    const QJsonObject rotation{{"grb_rotation", true}};
    const QJsonObject contrast{{"grb_contrast", true}};
    const QJsonObject noise{{"grb_noise", true}};
    const QJsonObject blur{{"grb_blur", true}};

    QTest::newRow("all groups off: only the identity") << off << 0;
    QTest::newRow("empty object") << QJsonObject() << 0;
    QTest::newRow("rotation min above max")
        << with(off, {{"grb_rotation", true}, {"rot_min", 10}, {"rot_max", -10}}) << 0;
    QTest::newRow("rotation -180..180/90, 0 skipped") << with(off, rotation) << 4;
    QTest::newRow("rotation -180..180/10") << with(off, {{"grb_rotation", true}, {"rot_step", 10}}) << 36;
    QTest::newRow("rotation 0..0") << with(off, {{"grb_rotation", true}, {"rot_min", 0}, {"rot_max", 0}}) << 0;
    QTest::newRow("noise 0..10/10") << with(off, noise) << 1;
    QTest::newRow("noise 0..25/10 misses 25") << with(off, {{"grb_noise", true}, {"noise_max", 25}}) << 2;
    QTest::newRow("noise 0..0") << with(off, {{"grb_noise", true}, {"noise_max", 0}}) << 0;
    QTest::newRow("blur defaults: only 1") << with(off, blur) << 0;
    QTest::newRow("blur 1..9/2") << with(off, {{"grb_blur", true}, {"blur_step", 2}}) << 4;
    QTest::newRow("contrast 0.2..1.2/1.0") << with(off, contrast) << 2;
    QTest::newRow("contrast 0.2..1.2/0.2, 1.0 skipped")
        << with(off, {{"grb_contrast", true}, {"contrast_step", 0.2}}) << 5;
    QTest::newRow("contrast 0.1..1.0/0.1 never reaches 1.0")
        << with(off, {{"grb_contrast", true}, {"contrast_min", 0.1}, {"contrast_max", 1.0}, {"contrast_step", 0.1}})
        << 10;
    QTest::newRow("contrast 0.2..3.0/0.1 misses 3.0")
        << with(off, {{"grb_contrast", true}, {"contrast_max", 3.0}, {"contrast_step", 0.1}}) << 28;
    QTest::newRow("contrast 0.1..3.0/0.1")
        << with(off, {{"grb_contrast", true}, {"contrast_min", 0.1}, {"contrast_max", 3.0}, {"contrast_step", 0.1}})
        << 29;
    QTest::newRow("form defaults, rotation step 10")
        << with(off, {{"grb_rotation", true}, {"rot_step", 10}, {"grb_contrast", true}}) << 74;
    const QJsonObject mixed = with(off, {{"grb_noise", true},
                                         {"grb_blur", true},
                                         {"blur_step", 2},
                                         {"grb_rotation", true},
                                         {"rot_min", -90},
                                         {"rot_max", 90},
                                         {"grb_contrast", true}});
    QTest::newRow("noise, blur 1..9/2, rotation -90..90/90, contrast") << mixed << 60;
    QTest::newRow("the same without contrast") << with(mixed, {{"grb_contrast", false}}) << 29;
}

void TestAugmentGenerator::sample_counts()
{
    QFETCH(QJsonObject, settings);
    QFETCH(int, count);
    DialogDatasetGen dialog;
    dialog.restore_setting(settings);
    const Samples samples = dialog.get_auto_gen(grey(12, 10, 100), Frame{box_object(1, 1, 3, 3)});
    QCOMPARE(int(samples.size()), count);
    QCOMPARE(augmented_sample_count(dialog.current_settings()), (long long)count);
}

void TestAugmentGenerator::mixed_settings_come_in_loop_order()
{
    // Noise outermost, then blur, then angle, contrast innermost.
    DialogDatasetGen dialog;
    dialog.restore_setting(with(all_off(), {{"grb_noise", true},
                                            {"grb_blur", true},
                                            {"blur_step", 4},
                                            {"grb_rotation", true},
                                            {"rot_min", -90},
                                            {"rot_max", 90},
                                            {"grb_contrast", true}}));
    cv::Mat image = grey(64, 48, 100);
    image.at<cv::Vec3b>(30, 20) = cv::Vec3b(255, 255, 255); // a dot that the blur spreads
    const Samples samples = dialog.get_auto_gen(image, Frame{box_object(4, 4, 10, 8)});
    // 2 noise levels x 3 blur sizes (1, 5, 9) x 3 angles x 2 contrasts, none the identity.
    QCOMPARE(int(samples.size()), 36);
    const QStringList angles = {"top-right", "top-left", "bottom-left"}; // -90, 0, 90
    double peak[3][3] = {};                                             // [blur][angle], noise 0, contrast 1.2
    for (int i = 0; i < 36; ++i) {
        const int noise = i / 18;
        const int blur = (i / 6) % 3;
        const int angle = (i / 2) % 3;
        const int contrast = i % 2;
        const cv::Mat& img = samples[size_t(i)].first;
        const QString at = QString("sample %1").arg(i);
        QVERIFY2(quadrant(img, samples[size_t(i)].second[0]) == angles[angle], qPrintable(at));
        const cv::Mat centre = img(cv::Rect(img.cols / 4, img.rows / 4, img.cols / 2, img.rows / 2));
        QVERIFY2(std::abs(cv::mean(centre)[0] - (contrast ? 120 : 20)) < 2, qPrintable(at));
        if (blur == 0 && contrast == 1) // the noise shows where no blur smooths it
            QVERIFY2((centre_deviation(img, 120) > 1.0) == (noise == 1), qPrintable(at));
        if (noise == 0 && contrast == 1)
            cv::minMaxLoc(centre.reshape(1), nullptr, &peak[blur][angle]);
    }
    // Blur sizes 1, 5, 9 in this order: the dot flattens from one to the next.
    for (int angle = 0; angle < 3; ++angle) {
        QVERIFY(peak[0][angle] > peak[1][angle]);
        QVERIFY(peak[1][angle] > peak[2][angle]);
    }
}

void TestAugmentGenerator::fixed_size_box_reaches_the_generator()
{
    DialogDatasetGen dialog;
    dialog.restore_setting(with(all_off(), {{"fixed_size", true}, {"grb_contrast", true}}));
    const Samples samples = dialog.get_auto_gen(grey(640, 480, 100), Frame{box_object(10, 10, 20, 20)});
    QCOMPARE(int(samples.size()), 2);
    for (const auto& s : samples) {
        QCOMPARE(s.second[0].bbox, cv::Rect(0, 0, 41, 41));
        QVERIFY(s.second[0].landmark.empty());
    }
    // The box is read when the generator runs.
    dialog.findChild<QCheckBox*>("checkBox_fix_width_height")->setChecked(false);
    const Samples again = dialog.get_auto_gen(grey(640, 480, 100), Frame{box_object(10, 10, 20, 20)});
    QCOMPARE(again[0].second[0].bbox, cv::Rect(10, 10, 21, 21));
}

void TestAugmentGenerator::seeded_runs_are_bitwise_identical()
{
    DialogDatasetGen dialog;
    dialog.restore_setting(with(all_off(), {{"grb_noise", true},
                                            {"grb_rotation", true},
                                            {"rot_step", 45},
                                            {"grb_contrast", true}}));
    cv::Mat image(36, 50, CV_8UC3);
    cv::randu(image, 0, 256);
    const Frame frame = {box_object(3, 4, 12, 9), polygon_object({{20, 20}, {30, 22}, {25, 30}})};

    seed_qt(77);
    cv::setRNGSeed(77);
    const Samples a = dialog.get_auto_gen(image, frame);
    seed_qt(77);
    cv::setRNGSeed(77);
    const Samples b = dialog.get_auto_gen(image, frame);
    const Samples c = dialog.get_auto_gen(image, frame); // unseeded: the draws go on

    QCOMPARE(int(a.size()), 2 * 9 * 2); // contrast 0.2 and 1.2: no identity
    QCOMPARE(a.size(), b.size());
    bool differs = false;
    for (size_t i = 0; i < a.size(); ++i) {
        QVERIFY2(same_pixels(a[i].first, b[i].first), qPrintable(QString("sample %1").arg(i)));
        QVERIFY(same_objects(a[i].second, b[i].second));
        differs = differs || !same_pixels(a[i].first, c[i].first);
    }
    QVERIFY(differs);
}

void TestAugmentGenerator::stream_agrees_with_get_auto_gen()
{
    DialogDatasetGen dialog;
    dialog.restore_setting(with(all_off(), {{"grb_noise", true},
                                            {"grb_blur", true},
                                            {"blur_step", 4},
                                            {"grb_rotation", true},
                                            {"rot_step", 60},
                                            {"grb_contrast", true},
                                            {"contrast_step", 0.5}}));
    cv::Mat image(30, 41, CV_8UC3);
    cv::randu(image, 0, 256);
    const Frame frame = {box_object(2, 2, 8, 6), polygon_object({{20, 10}, {30, 12}, {26, 20}})};

    seed_qt(31);
    cv::setRNGSeed(31);
    const Samples collected = dialog.get_auto_gen(image, frame);

    seed_qt(31);
    cv::setRNGSeed(31);
    int seen = 0;
    const int handed = dialog.for_each_auto_gen(image, frame, [&](AugmentedSample sample) {
        if (seen >= int(collected.size()))
            return false;
        const auto& expected = collected[size_t(seen)];
        if (!same_pixels(sample.first, expected.first) || !same_objects(sample.second, expected.second))
            qWarning("sample %d differs", seen);
        else
            ++seen;
        return true;
    });
    QCOMPARE(int(collected.size()), 2 * 3 * 7 * 3); // contrast 0.2, 0.7, 1.2
    QCOMPARE(handed, int(collected.size()));
    QCOMPARE(seen, int(collected.size()));
}

void TestAugmentGenerator::stream_stops_when_the_consumer_says_so()
{
    DialogDatasetGen dialog; // form defaults: ten samples
    int calls = 0;
    const int handed = dialog.for_each_auto_gen(grey(20, 16, 100), Frame(), [&](AugmentedSample sample) {
        ++calls;
        return !sample.first.empty() && calls < 3;
    });
    QCOMPARE(calls, 3);
    QCOMPARE(handed, 3);
}

void TestAugmentGenerator::stream_passes_consumer_exceptions_on()
{
    DialogDatasetGen dialog;
    bool thrown = false;
    try {
        dialog.for_each_auto_gen(grey(20, 16, 100), Frame(), [](AugmentedSample) -> bool {
            throw std::runtime_error("disk full");
        });
    } catch (const std::runtime_error& e) {
        thrown = QString(e.what()) == "disk full";
    }
    QVERIFY(thrown);
}

void TestAugmentGenerator::empty_and_unreadable_images_yield_nothing()
{
    DialogDatasetGen dialog;
    const Frame frame = {box_object(1, 1, 4, 4)};
    QVERIFY(dialog.get_auto_gen(cv::Mat(), frame).empty());
    QVERIFY(dialog.get_auto_gen(cv::Mat(0, 10, CV_8UC3), frame).empty());
    QVERIFY(dialog.get_auto_gen(cv::Mat(8, 8, CV_8UC1, cv::Scalar(5)), frame).empty());
    QVERIFY(dialog.get_auto_gen(cv::Mat(8, 8, CV_32FC3, cv::Scalar::all(5)), frame).empty());
    int calls = 0;
    QCOMPARE(dialog.for_each_auto_gen(cv::Mat(), frame, [&](AugmentedSample) { return ++calls > 0; }), 0);
    QCOMPARE(calls, 0);
}

void TestAugmentGenerator::failing_operation_ends_the_stream_with_its_error_data()
{
    QTest::addColumn<int>("cols");
    QTest::addColumn<bool>("limit_memory");
    QTest::addColumn<int>("samples");
    // OpenCV's warp refuses canvases of 32767 pixels or more: the first
    // rotation fails.
    QTest::newRow("canvas too wide") << 40000 << false << 0;
    // A one-row image 32000 wide turned by 45 degrees needs a canvas of about
    // 1.5 GB; under an address-space limit that allocation fails after the
    // two angle 0 samples.
    QTest::newRow("memory exhausted") << 32000 << true << 2;
}

void TestAugmentGenerator::failing_operation_ends_the_stream_with_its_error()
{
    QFETCH(int, cols);
    QFETCH(bool, limit_memory);
    QFETCH(int, samples);

    rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
    if (limit_memory) {
        long pages = 0;
        QFile statm("/proc/self/statm");
        QVERIFY(statm.open(QIODevice::ReadOnly));
        pages = QString(statm.readAll()).split(' ').value(0).toLong();
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(512) << 20);
        if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limited.rlim_cur)
            QSKIP("the hard address-space limit is below what the test needs");
        QCOMPARE(setrlimit(RLIMIT_AS, &limited), 0);
    }

    AugmentSettings settings; // contrast 0.2 and 1.2
    settings.rotation_min = 0;
    settings.rotation_max = 45;
    settings.rotation_step = 45;
    int calls = 0;
    QString error = "stale";
    int handed = -1;
    bool thrown = false;
    try {
        handed = for_each_augmented_sample(grey(cols, 1, 100), Frame(), settings,
                                           [&](AugmentedSample) { return ++calls > 0; }, &error);
    } catch (...) {
        thrown = true;
    }
    setrlimit(RLIMIT_AS, &saved);

    QVERIFY(!thrown);
    QCOMPARE(calls, samples);
    QCOMPARE(handed, samples);
    QVERIFY2(!error.isEmpty() && error != "stale", qPrintable(error));

    // A run that goes through clears the error.
    QCOMPARE(for_each_augmented_sample(grey(8, 6, 1), Frame(), AugmentSettings(),
                                       [](AugmentedSample) { return true; }, &error),
             10);
    QVERIFY(error.isEmpty());
}

QTEST_MAIN(TestAugmentGenerator)
#include "test_augment_generator.moc"
