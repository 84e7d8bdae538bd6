// The four image operations of the augmentation, without any window: their
// rounding, their kernels, their random draws, and the refit of the objects
// onto the rotation canvas.

#include "augment_fixtures.h"
#include "augmentation.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>
#include <QtTest>

#include <opencv2/imgproc.hpp>

Q_DECLARE_METATYPE(Object)

using namespace fixtures;

namespace {

QRect qrect(const cv::Rect& r)
{
    return QRect(r.x, r.y, r.width, r.height);
}

QVector<QPoint> qpoints(const std::vector<cv::Point>& points)
{
    QVector<QPoint> out;
    for (const cv::Point& p : points)
        out.push_back(QPoint(p.x, p.y));
    return out;
}

cv::Mat grey(int cols, int rows, int value)
{
    return cv::Mat(rows, cols, CV_8UC3, cv::Scalar::all(value));
}

// Width of the non-zero run through the centre row of a blurred impulse.
int spread_of(const cv::Mat& blurred)
{
    const int y = blurred.rows / 2;
    int n = 0;
    for (int x = 0; x < blurred.cols; ++x)
        if (blurred.at<cv::Vec3b>(y, x)[0] != 0)
            ++n;
    return n;
}

const std::vector<cv::Point> kTriangle = {{100, 100}, {200, 100}, {150, 180}};
const std::vector<cv::Point> kSquare = {{10, 10}, {30, 10}, {30, 30}, {10, 30}};

} // namespace

class TestAugmentOperations : public QObject {
    Q_OBJECT

private slots:
    void contrast_rounds_half_to_even_and_clamps_data();
    void contrast_rounds_half_to_even_and_clamps();
    void contrast_changes_every_channel_of_every_row();

    void blur_kernel_sizes_data();
    void blur_kernel_sizes();
    void blur_below_two_returns_the_same_pixels();

    void noise_zero_is_a_separate_copy();
    void noise_statistics_and_saturation();
    void noise_repeats_with_the_same_seed();

    void rotation_refits_objects_data();
    void rotation_refits_objects();
    void rotation_keeps_labels_and_input();
    void rotation_zero_degrees_resamples_with_the_border();
    void rotation_border_colour_follows_qt_sequence();

    void unusable_images_do_not_throw();
};

void TestAugmentOperations::contrast_rounds_half_to_even_and_clamps_data()
{
    QTest::addColumn<int>("v");
    QTest::addColumn<double>("alpha");
    QTest::addColumn<int>("expected");
    // Ties round to even (std::round would give 1, 3, 4); 0.3, 1.1, 2.1 and
    // 2.3 are where convertTo's own rounding differs from per-byte doubles.
    QTest::newRow("0.5 tie down") << 1 << 0.5 << 0;
    QTest::newRow("1.5 tie up") << 3 << 0.5 << 2;
    QTest::newRow("2.5 tie down") << 5 << 0.5 << 2;
    QTest::newRow("3.5 tie up") << 7 << 0.5 << 4;
    QTest::newRow("95 x 0.3") << 95 << 0.3 << 28;
    QTest::newRow("55 x 1.1") << 55 << 1.1 << 61;
    QTest::newRow("15 x 2.1") << 15 << 2.1 << 32;
    QTest::newRow("25 x 2.3") << 25 << 2.3 << 57;
    QTest::newRow("clamped high") << 200 << 1.5 << 255;
    QTest::newRow("255 x 3") << 255 << 3.0 << 255;
    QTest::newRow("identity") << 100 << 1.0 << 100;
    // 15 additions of 0.1 are just above 1.5, so the tie 154.5 rounds up.
    QTest::newRow("accumulated 1.5") << 103 << (0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1 + 0.1) << 155;
}

void TestAugmentOperations::contrast_rounds_half_to_even_and_clamps()
{
    QFETCH(int, v);
    QFETCH(double, alpha);
    QFETCH(int, expected);
    const cv::Mat in = grey(3, 2, v);
    const cv::Mat out = augment_contrast(in, alpha);
    QCOMPARE(out.type(), CV_8UC3);
    QCOMPARE(out.at<cv::Vec3b>(1, 2), cv::Vec3b(uchar(expected), uchar(expected), uchar(expected)));
    QCOMPARE(in.at<cv::Vec3b>(1, 2)[0], uchar(v)); // the input is untouched
    QVERIFY(out.data != in.data);
}

void TestAugmentOperations::contrast_changes_every_channel_of_every_row()
{
    // A region of interest: rows are not contiguous, and every byte of every
    // pixel must be scaled (not only the first cols bytes of a row).
    cv::Mat big(10, 11, CV_8UC3);
    cv::randu(big, 0, 256);
    const cv::Mat roi = big(cv::Rect(1, 2, 7, 5));
    const cv::Mat out = augment_contrast(roi, 0.5);
    QCOMPARE(out.size(), roi.size());
    for (int y = 0; y < roi.rows; ++y)
        for (int x = 0; x < roi.cols; ++x)
            for (int c = 0; c < 3; ++c)
                QCOMPARE(int(out.at<cv::Vec3b>(y, x)[c]), cvRound(roi.at<cv::Vec3b>(y, x)[c] * 0.5));
}

void TestAugmentOperations::blur_kernel_sizes_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("spread");
    // An even size blurs with the next odd kernel.
    QTest::newRow("2") << 2 << 3;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("4") << 4 << 5;
    QTest::newRow("5") << 5 << 5;
    QTest::newRow("6") << 6 << 7;
    QTest::newRow("9") << 9 << 9;
}

void TestAugmentOperations::blur_kernel_sizes()
{
    QFETCH(int, n);
    QFETCH(int, spread);
    cv::Mat impulse = grey(31, 31, 0);
    impulse.at<cv::Vec3b>(15, 15) = cv::Vec3b(255, 255, 255);
    const cv::Mat out = augment_blur(impulse, n);
    QCOMPARE(spread_of(out), spread);
    QCOMPARE(impulse.at<cv::Vec3b>(15, 14)[0], uchar(0));
    if (n % 2 == 0)
        QVERIFY(same_pixels(out, augment_blur(impulse, n + 1)));
}

void TestAugmentOperations::blur_below_two_returns_the_same_pixels()
{
    const cv::Mat in = grey(8, 6, 77);
    for (int n : {-3, 0, 1})
        QCOMPARE(augment_blur(in, n).data, in.data);
}

void TestAugmentOperations::noise_zero_is_a_separate_copy()
{
    cv::Mat in(6, 8, CV_8UC3);
    cv::randu(in, 0, 256);
    const cv::Mat out = augment_noise(in, 0.0);
    QVERIFY(same_pixels(out, in));
    QVERIFY(out.data != in.data);
}

void TestAugmentOperations::noise_statistics_and_saturation()
{
    cv::setRNGSeed(7);
    const cv::Mat in = grey(200, 200, 128);
    const cv::Mat out = augment_noise(in, 10.0);
    QCOMPARE(out.type(), CV_8UC3);
    cv::Mat diff;
    out.convertTo(diff, CV_64FC3);
    diff -= cv::Scalar::all(128);
    cv::Scalar mean, stddev;
    cv::meanStdDev(diff.reshape(1), mean, stddev);
    QVERIFY2(std::abs(mean[0]) < 0.3, qPrintable(QString::number(mean[0])));
    QVERIFY2(stddev[0] > 9.7 && stddev[0] < 10.3, qPrintable(QString::number(stddev[0])));
    QCOMPARE(in.at<cv::Vec3b>(0, 0), cv::Vec3b(128, 128, 128));

    // Saturation, not wrap-around, at both ends.
    double lo = 0, hi = 0;
    cv::minMaxLoc(augment_noise(grey(100, 100, 0), 10.0).reshape(1), &lo, &hi);
    QCOMPARE(lo, 0.0);
    QVERIFY(hi < 100);
    cv::minMaxLoc(augment_noise(grey(100, 100, 255), 10.0).reshape(1), &lo, &hi);
    QCOMPARE(hi, 255.0);
    QVERIFY(lo > 155);
}

void TestAugmentOperations::noise_repeats_with_the_same_seed()
{
    const cv::Mat in = grey(40, 30, 100);
    cv::setRNGSeed(123);
    const cv::Mat a = augment_noise(in, 5.0);
    cv::setRNGSeed(123);
    const cv::Mat b = augment_noise(in, 5.0);
    const cv::Mat c = augment_noise(in, 5.0);
    QVERIFY(same_pixels(a, b));
    QVERIFY(!same_pixels(b, c));
}

void TestAugmentOperations::rotation_refits_objects_data()
{
    QTest::addColumn<Object>("object");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<bool>("fixed");
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<QRect>("bbox");
    QTest::addColumn<QPoint>("center");
    QTest::addColumn<QVector<QPoint>>("landmark");

    // On a 640 x 480 image. A positive angle turns counter-clockwise on
    // screen; corners are shifted by half a pixel and rounded half to even,
    // and the box of the points is inclusive, so a 20 x 20 box comes back
    // 21 x 21.
    const Object box = box_object(10, 10, 20, 20);
    const Object tri = polygon_object(kTriangle);
    const Object square = polygon_object(kSquare);
    typedef QVector<QPoint> P;

    QTest::newRow("box 0") << box << 0.0 << false << QSize(641, 481) << QRect(10, 10, 21, 21) << QPoint(20, 20)
                           << P{{10, 10}, {30, 10}, {30, 30}, {10, 30}};
    QTest::newRow("box 0 odd corner") << box_object(11, 11, 20, 20) << 0.0 << false << QSize(641, 481)
                                      << QRect(12, 12, 21, 21) << QPoint(22, 22) << P{{12, 12}, {32, 12}, {32, 32}, {12, 32}};
    QTest::newRow("box +90") << box << 90.0 << false << QSize(481, 641) << QRect(10, 610, 21, 21) << QPoint(20, 620)
                             << P{{10, 630}, {10, 610}, {30, 610}, {30, 630}};
    QTest::newRow("box -90") << box << -90.0 << false << QSize(481, 641) << QRect(450, 10, 21, 21) << QPoint(460, 20)
                             << P{{470, 10}, {470, 30}, {450, 30}, {450, 10}};
    QTest::newRow("box 180") << box << 180.0 << false << QSize(641, 482) << QRect(610, 451, 21, 21)
                             << QPoint(620, 462) << P{{630, 471}, {610, 471}, {610, 451}, {630, 451}};

    QTest::newRow("polygon 0") << tri << 0.0 << false << QSize(641, 481) << QRect(100, 100, 101, 81)
                               << QPoint(150, 140) << P{{100, 100}, {200, 100}, {150, 180}};
    QTest::newRow("polygon +90") << tri << 90.0 << false << QSize(481, 641) << QRect(100, 440, 81, 101)
                                 << QPoint(140, 490) << P{{100, 540}, {100, 440}, {180, 490}};
    QTest::newRow("polygon -90") << tri << -90.0 << false << QSize(481, 641) << QRect(300, 100, 81, 101)
                                 << QPoint(340, 150) << P{{380, 100}, {380, 200}, {300, 150}};
    QTest::newRow("polygon 180") << tri << 180.0 << false << QSize(641, 482) << QRect(440, 301, 101, 81)
                                 << QPoint(490, 342) << P{{540, 381}, {440, 381}, {490, 301}};

    // "Fixed size": the full unrotated width and height on each side of the
    // rotated centre (a box 2w + 1 by 2h + 1); the polygon is not rotated and
    // a box-only object stays box-only. For a polygon the width is that of
    // its inclusive bounding box.
    QTest::newRow("fixed box 0") << box << 0.0 << true << QSize(641, 481) << QRect(0, 0, 41, 41) << QPoint(20, 20) << P{};
    QTest::newRow("fixed box +90") << box << 90.0 << true << QSize(481, 641) << QRect(0, 600, 41, 41)
                                   << QPoint(20, 620) << P{};
    QTest::newRow("fixed square 0") << square << 0.0 << true << QSize(641, 481) << QRect(-1, -1, 43, 43)
                                    << QPoint(20, 20) << qpoints(kSquare);
    QTest::newRow("fixed polygon +90") << tri << 90.0 << true << QSize(481, 641) << QRect(39, 409, 203, 163)
                                       << QPoint(140, 490) << qpoints(kTriangle);
}

void TestAugmentOperations::rotation_refits_objects()
{
    QFETCH(Object, object);
    QFETCH(double, degrees);
    QFETCH(bool, fixed);
    QFETCH(QSize, canvas);
    QFETCH(QRect, bbox);
    QFETCH(QPoint, center);
    QFETCH(QVector<QPoint>, landmark);

    const AugmentedSample out = augment_rotation(grey(640, 480, 100), Frame{object}, degrees, fixed);
    QCOMPARE(QSize(out.first.cols, out.first.rows), canvas);
    QCOMPARE(out.first.type(), CV_8UC3);
    QCOMPARE(int(out.second.size()), 1);
    const Object& o = out.second[0];
    QCOMPARE(qrect(o.bbox), bbox);
    QCOMPARE(QPoint(o.center.x, o.center.y), center);
    QCOMPARE(qpoints(o.landmark), landmark);
}

void TestAugmentOperations::rotation_keeps_labels_and_input()
{
    cv::Mat in = grey(64, 48, 50);
    const Frame frame = {box_object(2, 3, 10, 8, "car", 4), polygon_object({{30, 30}, {40, 30}, {35, 40}}, "dog")};
    const Frame copy = frame;
    const AugmentedSample out = augment_rotation(in, frame, 45.0, false);
    QVERIFY(same_objects(frame, copy));
    QCOMPARE(in.at<cv::Vec3b>(0, 0), cv::Vec3b(50, 50, 50));
    QVERIFY(out.first.data != in.data);
    QCOMPARE(int(out.second.size()), 2);
    for (size_t i = 0; i < 2; ++i) {
        QCOMPARE(out.second[i].label, frame[i].label);
        QCOMPARE(out.second[i].label_index, frame[i].label_index);
        QVERIFY(out.second[i].color == frame[i].color);
    }
    QCOMPARE(int(out.second[0].landmark.size()), 4); // a rotated box gains its corners
    QCOMPARE(int(out.second[1].landmark.size()), 3);
}

void TestAugmentOperations::rotation_zero_degrees_resamples_with_the_border()
{
    // Even at 0 degrees the image lands half a pixel off on a canvas one
    // pixel larger: the outer pixels mix with the border colour, the inside
    // stays as it was.
    const cv::Vec3b border = expected_border_after_seed(99);
    seed_qt(99);
    const AugmentedSample out = augment_rotation(grey(640, 480, 100), Frame(), 0.0, false);
    QCOMPARE(out.first.cols, 641);
    QCOMPARE(out.first.rows, 481);
    QCOMPARE(out.first.at<cv::Vec3b>(240, 320), cv::Vec3b(100, 100, 100));
    const cv::Vec3b corner = out.first.at<cv::Vec3b>(0, 0);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(int(corner[c]), cvRound(0.25 * 100 + 0.75 * border[c]));
}

void TestAugmentOperations::rotation_border_colour_follows_qt_sequence()
{
    // At 45 degrees the canvas corners are pure border. The colour is the
    // reseeded sequence's next three draws, red first, each 0 .. 254.
    for (uint seed : {1u, 42u, 20240601u}) {
        const cv::Vec3b expected = expected_border_after_seed(seed);
        seed_qt(seed);
        const cv::Mat out = augment_rotation(grey(64, 48, 100), Frame(), 45.0, false).first;
        const int w = out.cols - 1;
        const int h = out.rows - 1;
        QCOMPARE(out.at<cv::Vec3b>(0, 0), expected);
        QCOMPARE(out.at<cv::Vec3b>(0, w), expected);
        QCOMPARE(out.at<cv::Vec3b>(h, 0), expected);
        QCOMPARE(out.at<cv::Vec3b>(h, w), expected);
    }
    // Successive rotations draw new colours.
    seed_qt(5);
    const cv::Mat first = augment_rotation(grey(64, 48, 100), Frame(), 45.0, false).first;
    const cv::Mat second = augment_rotation(grey(64, 48, 100), Frame(), 45.0, false).first;
    QVERIFY(first.at<cv::Vec3b>(0, 0) != second.at<cv::Vec3b>(0, 0));
}

void TestAugmentOperations::unusable_images_do_not_throw()
{
    // Empty images and other pixel types come back unchanged (as copies)
    // rather than failing.
    const cv::Mat empty;
    QVERIFY(augment_noise(empty, 10).empty());
    QVERIFY(augment_contrast(empty, 0.5).empty());
    QVERIFY(augment_blur(empty, 1).empty());
    const AugmentedSample rotated = augment_rotation(empty, Frame{box_object(1, 1, 2, 2)}, 90, false);
    QVERIFY(rotated.first.empty());
    QCOMPARE(int(rotated.second.size()), 1);

    const cv::Mat single(5, 7, CV_8UC1, cv::Scalar(90));
    QVERIFY(same_pixels(augment_contrast(single, 2.0), single));
    QVERIFY(same_pixels(augment_noise(single, 10.0), single));
}

QTEST_GUILESS_MAIN(TestAugmentOperations)
#include "test_augment_operations.moc"
