// The part of a long label that the view draws must set exactly the pixels
// cv::putText of the whole label sets on the image, and measure the same
// background width, wherever the label starts (inside the image, left of it,
// far left of it so that the visible characters lie deep inside the label,
// right of it), for ASCII, multi-byte, surrogate-pair and lone-surrogate
// text, while the text handed to OpenCV stays short.

#include "label_cut.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int kFont = cv::FONT_HERSHEY_COMPLEX_SMALL;

// A label of `length` UTF-16 units drawn from a mix of every kind of
// character the conversion to UTF-8 treats differently.
QString mixedLabel(int length, unsigned seed)
{
    const QString pieces[] = {"car", "W", "i", " ", QString::fromUtf8("\xc3\xa9"), QString::fromUtf8("\xe6\xbc\xa2"),
                              QString::fromUtf8("\xf0\x9f\x98\x80"), QString(QChar(0xD800)), QString(QChar(0xDC01)),
                              "\t", "m|"};
    cv::RNG rng(seed);
    QString s;
    s.reserve(length + 4);
    while (s.size() < length)
        s += pieces[rng.uniform(0, 11)];
    s.truncate(length);
    return s;
}

// The advance of the glyph putText draws for each UTF-8 byte, in font units
// (pixels at scale 1): what a second copy of it adds to the width.
std::vector<int> byteAdvances()
{
    std::vector<int> advance(256);
    int baseline = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        advance[b] = cv::getTextSize(one + one, kFont, 1.0, 1, &baseline).width -
                     cv::getTextSize(one, kFont, 1.0, 1, &baseline).width;
    }
    return advance;
}

long long greatestCommonDivisor(long long a, long long b)
{
    while (b != 0) {
        const long long t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// The most bytes a cut of `whole` drawn at `x` on an image `width` wide can
// need. putText draws one glyph per byte, the pen moving on by each glyph's
// advance (at this scale, on a grid of 1/65536 pixel), so the glyphs that can
// set a pixel are those whose pen lies within a glyph or two of the image:
// the bytes of the whole label whose pen lies there, and a character more at
// either end. When the label starts left of that slice, a filler that draws
// nothing inside the image brings a whole-pixel origin to the first visible
// glyph's pen: it covers less than one period of the pen's grid
// (65536 / gcd(scale * 65536, 65536) font units) in spaces, after fewer
// glyphs of another kind than a glyph's advance, with a glyph to spare.
long long visibleSliceBytes(const std::string& whole, long long x, int width, double scale, int thickness)
{
    static const std::vector<int> advance = byteAdvances();
    const int smallest = *std::min_element(advance.begin(), advance.end());
    const int largest = *std::max_element(advance.begin(), advance.end());
    const long long hscale = cvRound(scale * 65536);
    const double unit = hscale / 65536.0; // pixels per font unit
    const double margin = 2.0 * largest * unit + thickness + 2;
    long long inside = 0;
    double pen = static_cast<double>(x);
    for (const char c : whole) {
        if (pen >= -margin && pen <= width + margin)
            ++inside;
        pen += advance[static_cast<unsigned char>(c)] * unit;
    }
    long long bound = inside + 2 * 4;
    if (static_cast<double>(x) < -margin) {
        const long long period = 65536 / greatestCommonDivisor(hscale, 65536);
        bound += period / smallest + 2 * largest;
    }
    return bound;
}

} // namespace

class LabelCutTest : public QObject {
    Q_OBJECT

private slots:
    void sameAsWholeLabel_data();
    void sameAsWholeLabel();
    void tablesLiveWhileDrawn();
};

void LabelCutTest::sameAsWholeLabel_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("thickness");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("x"); // origin
    QTest::addColumn<bool>("ascii");

    // Short labels are drawn whole; the rows above kShortLabel are cut.
    QTest::newRow("short, inside") << 40 << 1.0 << 1 << 320 << 10 << false;
    QTest::newRow("just long, inside") << 1100 << 1.0 << 1 << 320 << 10 << false;
    QTest::newRow("long, inside, ascii") << 60000 << 1.0 << 1 << 320 << 10 << true;
    QTest::newRow("long, inside, thick") << 60000 << 3.0 << 3 << 640 << 100 << false;
    QTest::newRow("long, odd scale") << 60000 << 1.37 << 2 << 500 << 37 << false;
    QTest::newRow("long, tiny scale") << 60000 << 0.01 << 1 << 320 << 3 << false;
    QTest::newRow("long, starts a little left") << 60000 << 1.0 << 1 << 320 << -700 << false;
    QTest::newRow("long, starts far left, no table") << 3000 << 1.0 << 1 << 320 << -20000 << false;
    QTest::newRow("long, starts far left") << 60000 << 1.0 << 1 << 320 << -300000 << false;
    QTest::newRow("long, starts far left, wide image") << 60000 << 1.0 << 1 << 1920 << -300000 << false;
    QTest::newRow("long, far left, odd scale") << 60000 << 1.37 << 2 << 400 << -400001 << false;
    QTest::newRow("long, far left, tiny scale") << 60000 << 0.013 << 1 << 200 << -4000 << false;
    QTest::newRow("long, far left, large scale") << 60000 << 40.0 << 9 << 800 << -15000001 << false;
    QTest::newRow("long, ends inside") << 60000 << 1.0 << 1 << 640 << -700000 << false;
    QTest::newRow("long, wholly left") << 60000 << 1.0 << 1 << 320 << -2000000000 << false;
    QTest::newRow("long, right of the image") << 60000 << 1.0 << 1 << 320 << 400 << false;
}

void LabelCutTest::sameAsWholeLabel()
{
    QFETCH(int, length);
    QFETCH(double, scale);
    QFETCH(int, thickness);
    QFETCH(int, width);
    QFETCH(int, x);
    QFETCH(bool, ascii);

    const QString label = ascii ? QString(length, QChar('x')).replace(7, 3, "W i") : mixedLabel(length, 11);
    const std::string whole = label.toStdString();
    const int y = 40;
    cv::Mat expected(cv::Size(width, 80), CV_8UC1, cv::Scalar(0));
    cv::putText(expected, whole, cv::Point(x, y), kFont, scale, cv::Scalar(255), thickness, cv::LINE_8, false);
    int baseline = 0;
    const cv::Size size = cv::getTextSize(whole, kFont, scale, thickness, &baseline);

    LabelCut cutter;
    cutter.begin_redraw();
    const LabelCut::Cut cut = cutter.cut(label, x, width, scale, thickness);
    cutter.end_redraw();
    cv::Mat actual(expected.size(), CV_8UC1, cv::Scalar(0));
    cv::putText(actual, cut.text, cv::Point(static_cast<int>(cut.origin_x), y), kFont, scale, cv::Scalar(255),
                thickness, cv::LINE_8, false);

    QCOMPARE(cv::countNonZero(expected != actual), 0);
    QCOMPARE(cut.height, size.height);
    // The background's right end: min(x + width, W - 1).
    QCOMPARE(std::min<long long>(x + cut.width, width - 1), std::min<long long>(x + size.width, width - 1));
    // The text handed to OpenCV holds no more than the visible slice (the
    // whole label is 60000 characters or more, tens of kilobytes).
    if (length > LabelCut::kShortLabel) {
        const long long bound = visibleSliceBytes(whole, x, width, scale, thickness);
        QVERIFY2(static_cast<long long>(cut.text.size()) <= bound,
                 qPrintable(QString("%1 bytes, the visible slice holds at most %2").arg(cut.text.size()).arg(bound)));
    }
}

// A table is built only for a long label that starts far left, and dropped
// after a redraw that did not draw that label.
void LabelCutTest::tablesLiveWhileDrawn()
{
    const QString label = mixedLabel(100000, 3);
    LabelCut cutter;
    cutter.begin_redraw();
    cutter.cut(label, 10, 320, 1.0, 1);
    cutter.end_redraw();
    QCOMPARE(cutter.tables(), size_t(0));
    for (int i = 0; i < 2; ++i) {
        cutter.begin_redraw();
        cutter.cut(label, -100000, 320, 1.0, 1);
        cutter.cut(QString(label), -100000, 320, 1.0, 1); // a copy shares the data and the table
        cutter.end_redraw();
        QCOMPARE(cutter.tables(), size_t(1));
    }
    cutter.begin_redraw();
    cutter.end_redraw();
    QCOMPARE(cutter.tables(), size_t(0));
}

QTEST_GUILESS_MAIN(LabelCutTest)
#include "test_label_cut.moc"
