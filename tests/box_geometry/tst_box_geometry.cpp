// The 64-bit box arithmetic and the drawing that keeps OpenCV near the image:
// boxes OpenCV drew correctly draw the same pixels, boxes at the int limits
// draw what a box just far enough outside draws, and polygons are clipped
// only when they reach far out.

#include "box_geometry.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <climits>

Q_DECLARE_METATYPE(cv::Rect)
Q_DECLARE_METATYPE(cv::Point)

namespace {

const cv::Size kImage(64, 48);

cv::Mat blank()
{
    return cv::Mat(kImage, CV_8UC3, cv::Scalar(40, 60, 80));
}

int differingPixels(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return cv::countNonZero(diff.reshape(1));
}

const cv::Scalar kInk(10, 200, 30);

} // namespace

class TstBoxGeometry : public QObject {
    Q_OBJECT

private slots:
    void intersection_data();
    void intersection();
    void conversions();
    void centre_data();
    void centre();
    void boundingBox();
    void rectangleAsBefore_data();
    void rectangleAsBefore();
    void rectangleAtTheLimits_data();
    void rectangleAtTheLimits();
    void circle_data();
    void circle();
    void polygon_data();
    void polygon();
};

void TstBoxGeometry::intersection_data()
{
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<cv::Rect>("inside"); // its part within the 64 x 48 image

    QTest::newRow("inside") << cv::Rect(10, 5, 20, 10) << cv::Rect(10, 5, 20, 10);
    QTest::newRow("over the right edge") << cv::Rect(60, 40, 10, 10) << cv::Rect(60, 40, 4, 8);
    QTest::newRow("x + width past INT_MAX") << cv::Rect(-5, 2, INT_MAX, INT_MAX) << cv::Rect(0, 2, 64, 46);
    QTest::newRow("x + width below INT_MIN") << cv::Rect(-5, -5, INT_MIN, 10) << cv::Rect();
    QTest::newRow("INT_MIN corner, INT_MAX size") << cv::Rect(INT_MIN, INT_MIN, INT_MAX, INT_MAX) << cv::Rect();
    QTest::newRow("negative size") << cv::Rect(30, 30, -10, -10) << cv::Rect();
    QTest::newRow("touching the right edge") << cv::Rect(64, 0, 5, 5) << cv::Rect();
}

void TstBoxGeometry::intersection()
{
    QFETCH(cv::Rect, box);
    QFETCH(cv::Rect, inside);
    const Box64 part = Box64(box) & image_box(kImage);
    QCOMPARE(part.to_rect(), inside);
    QCOMPARE(part.empty(), inside.empty());
}

void TstBoxGeometry::conversions()
{
    QCOMPARE(clamp_to_int(1LL << 40), INT_MAX);
    QCOMPARE(clamp_to_int(-(1LL << 40)), INT_MIN);
    QCOMPARE(clamp_to_int(-7), -7);
    QCOMPARE(limit_coordinate(INT_MAX), (1 << 30) - 1);
    QCOMPARE(limit_coordinate(INT_MIN), -(1 << 30));
    QCOMPARE(clamp_near(-100, 64, 3), -3);
    QCOMPARE(clamp_near(100, 64, 3), 66);
    QCOMPARE(clamp_near(20, 64, 3), 20);
    // A box wider than an int holds: its corners are held instead, so it
    // still covers every image.
    QCOMPARE(Box64(INT_MIN, 0, 1LL << 32, 10).to_rect(), cv::Rect(-(1 << 30), 0, INT_MAX, 10));
}

void TstBoxGeometry::centre_data()
{
    QTest::addColumn<cv::Rect>("box");
    QTest::addColumn<cv::Point>("centre");
    QTest::newRow("even size") << cv::Rect(10, 10, 50, 30) << cv::Point(35, 25);
    QTest::newRow("halves to even") << cv::Rect(0, 0, 7, 5) << cv::Point(4, 2);
    QTest::newRow("beyond INT_MAX") << cv::Rect(INT_MAX, INT_MAX, 2, INT_MAX) << cv::Point(INT_MAX, INT_MAX);
    QTest::newRow("below INT_MIN") << cv::Rect(INT_MIN, 0, INT_MIN, INT_MIN) << cv::Point(INT_MIN, INT_MIN / 2);
}

void TstBoxGeometry::centre()
{
    QFETCH(cv::Rect, box);
    QFETCH(cv::Point, centre);
    QCOMPARE(box_centre(box), centre);
}

void TstBoxGeometry::boundingBox()
{
    const std::vector<cv::Point> points{{0, 0}, {4, 0}, {4, 4}};
    QCOMPARE(bounding_box({points.begin(), points.end()}).to_rect(), cv::boundingRect(points));
    QCOMPARE(bounding_box({}).to_rect(), cv::Rect());
    // Rounded as cvRound rounds: halves to even.
    QCOMPARE(bounding_box({{0.5, 1.5}, {2.5, -0.5}}).to_rect(), cv::Rect(0, 0, 3, 3));
    const Box64 wide = bounding_box({{INT_MIN, INT_MIN}, {INT_MAX, 3e9}});
    QCOMPARE(wide.width, (1LL << 32));
    QCOMPARE(wide.height, 3000000000LL + (1LL << 31) + 1);
}

void TstBoxGeometry::rectangleAsBefore_data()
{
    QTest::addColumn<cv::Point>("a");
    QTest::addColumn<cv::Point>("b");
    QTest::addColumn<int>("thickness");

    const struct {
        const char* name;
        cv::Point a, b;
    } boxes[] = {
        {"inside", {10, 8}, {40, 30}},
        {"corners swapped", {40, 30}, {10, 8}},
        {"over the left and top", {-20, -7}, {30, 20}},
        {"over the right and bottom", {50, 40}, {90, 70}},
        {"wider than the image", {-500, 10}, {900, 20}},
        {"far left, crossing rows", {-100000, 20}, {-50000, 30}},
        {"a line", {5, 24}, {60, 24}},
        {"outside", {100, 100}, {120, 130}},
    };
    for (const auto& box : boxes)
        for (int t : {1, 2, 12, 33, -1})
            QTest::addRow("%s, thickness %d", box.name, t) << box.a << box.b << t;
}

// Every rectangle that OpenCV draws correctly draws the same pixels.
void TstBoxGeometry::rectangleAsBefore()
{
    QFETCH(cv::Point, a);
    QFETCH(cv::Point, b);
    QFETCH(int, thickness);
    cv::Mat expected = blank();
    cv::rectangle(expected, a, b, kInk, thickness, cv::LINE_8);
    cv::Mat drawn = blank();
    draw_rectangle(drawn, a.x, a.y, b.x, b.y, kInk, thickness, cv::LINE_8);
    QCOMPARE(differingPixels(drawn, expected), 0);
}

void TstBoxGeometry::rectangleAtTheLimits_data()
{
    QTest::addColumn<qlonglong>("x0");
    QTest::addColumn<qlonglong>("y0");
    QTest::addColumn<qlonglong>("x1");
    QTest::addColumn<qlonglong>("y1");
    QTest::addColumn<cv::Rect>("twin"); // corners within 100000 that draw the same

    const qlonglong lo = INT_MIN, hi = INT_MAX;
    QTest::newRow("both corners far up-left") << lo << lo << 2 * lo << 2 * lo << cv::Rect(-90000, -90000, -10, -10);
    QTest::newRow("far corner past INT_MAX") << 10LL << 20LL << 2 * hi << 2 * hi << cv::Rect(10, 20, 99990, 99980);
    QTest::newRow("across the image") << lo << 20LL << hi << 30LL << cv::Rect(-99000, 20, 198000, 10);
    QTest::newRow("far below") << 5LL << hi << 60LL << 2 * hi << cv::Rect(5, 90000, 55, 10);
}

// Corners anywhere in 64 bits draw what corners just far enough outside
// draw; no thickness makes OpenCV overflow.
void TstBoxGeometry::rectangleAtTheLimits()
{
    QFETCH(qlonglong, x0);
    QFETCH(qlonglong, y0);
    QFETCH(qlonglong, x1);
    QFETCH(qlonglong, y1);
    QFETCH(cv::Rect, twin);
    for (int t : {1, 2, 12, 32767, -1}) {
        cv::Mat expected = blank();
        cv::rectangle(expected, twin.tl(), twin.br(), kInk, t, cv::LINE_8);
        cv::Mat drawn = blank();
        draw_rectangle(drawn, x0, y0, x1, y1, kInk, t, cv::LINE_8);
        QVERIFY2(differingPixels(drawn, expected) == 0, qPrintable(QString("thickness %1").arg(t)));
    }
}

void TstBoxGeometry::circle_data()
{
    QTest::addColumn<cv::Point>("centre");
    QTest::addColumn<int>("radius");
    QTest::addColumn<int>("thickness");
    QTest::newRow("inside") << cv::Point(30, 20) << 5 << 2;
    QTest::newRow("reaching in from the left") << cv::Point(-10, 20) << 5 << 12;
    QTest::newRow("filled, reaching in from below") << cv::Point(30, 55) << 8 << -1;
    QTest::newRow("just outside") << cv::Point(-20, 20) << 5 << 12;
    QTest::newRow("INT_MIN") << cv::Point(INT_MIN, INT_MIN) << 5 << 12;
    QTest::newRow("INT_MAX, thick") << cv::Point(INT_MAX, 20) << 3 << 32767;
}

// A circle that reaches the image draws as before; one that cannot reach it
// draws nothing and never reaches OpenCV.
void TstBoxGeometry::circle()
{
    QFETCH(cv::Point, centre);
    QFETCH(int, radius);
    QFETCH(int, thickness);
    cv::Mat drawn = blank();
    draw_circle(drawn, centre, radius, kInk, thickness, cv::LINE_8);
    cv::Mat expected = blank();
    if (std::abs(static_cast<long long>(centre.x)) < 100000 && std::abs(static_cast<long long>(centre.y)) < 100000)
        cv::circle(expected, centre, radius, kInk, thickness, cv::LINE_8);
    QCOMPARE(differingPixels(drawn, expected), 0);
}

void TstBoxGeometry::polygon_data()
{
    QTest::addColumn<std::vector<cv::Point>>("polygon");
    QTest::addColumn<std::vector<cv::Point>>("twin"); // fills the same pixels
    QTest::addColumn<bool>("clipped");

    const std::vector<cv::Point> near{{-900000, 5}, {30, -1000}, {60, 40}, {10, 1000000}};
    QTest::newRow("within the margin: unchanged") << near << near << false;
    QTest::newRow("around the image")
        << std::vector<cv::Point>{{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, {0, INT_MAX}}
        << std::vector<cv::Point>{{-100000, -100000}, {100000, -100000}, {0, 100000}} << true;
    QTest::newRow("corner inside")
        << std::vector<cv::Point>{{10, 10}, {10, INT_MAX}, {INT_MAX, 10}}
        << std::vector<cv::Point>{{10, 10}, {10, 100000}, {100000, 10}} << true;
    QTest::newRow("concave, out and back")
        << std::vector<cv::Point>{{5, 5}, {INT_MAX, 5}, {INT_MAX, 20}, {30, 20}, {30, 30}, {INT_MAX, 30},
                                  {INT_MAX, 40}, {5, 40}}
        << std::vector<cv::Point>{{5, 5}, {100000, 5}, {100000, 20}, {30, 20}, {30, 30}, {100000, 30},
                                  {100000, 40}, {5, 40}}
        << true;
    QTest::newRow("across the image, nearly upright")
        << std::vector<cv::Point>{{INT_MIN, 100}, {64, INT_MAX}, {0, INT_MIN}}
        << std::vector<cv::Point>{{-100000, 100}, {32, 100000}, {32, -100000}} << true;
    QTest::newRow("far outside")
        << std::vector<cv::Point>{{INT_MAX, INT_MAX}, {INT_MAX - 600, INT_MAX}, {INT_MAX, INT_MAX - 600}}
        << std::vector<cv::Point>{{100000, 100000}, {99400, 100000}, {100000, 99400}} << true;
}

// Polygons within the margin are handed on as they are; others are clipped
// to points within it that fill what the twin fills.
void TstBoxGeometry::polygon()
{
    QFETCH(std::vector<cv::Point>, polygon);
    QFETCH(std::vector<cv::Point>, twin);
    QFETCH(bool, clipped);

    const std::vector<cv::Point> result = clip_polygon(polygon, kImage);
    QCOMPARE(result != polygon, clipped);
    for (const cv::Point& p : result) {
        QVERIFY(std::abs(p.x) <= (1 << 21));
        QVERIFY(std::abs(p.y) <= (1 << 21));
    }
    cv::Mat drawn(kImage, CV_8UC1, cv::Scalar(0));
    if (!result.empty())
        cv::drawContours(drawn, std::vector<std::vector<cv::Point>>{result}, 0, cv::Scalar(255), -1, cv::LINE_8);
    cv::Mat expected(kImage, CV_8UC1, cv::Scalar(0));
    cv::drawContours(expected, std::vector<std::vector<cv::Point>>{twin}, 0, cv::Scalar(255), -1, cv::LINE_8);
    QCOMPARE(cv::countNonZero(drawn != expected), 0);
}

QTEST_GUILESS_MAIN(TstBoxGeometry)
#include "tst_box_geometry.moc"
