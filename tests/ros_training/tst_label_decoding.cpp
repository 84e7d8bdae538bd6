// Decoding of the trainer's label lines ("id cy cx h w ") into darknet's
// "k cx cy w h": every class branch, boxes over and beyond the image's edge,
// unknown ids.

#include "label_decoding.h"
#include "training_fixture.h"

#include <QtTest>

#include <limits>

using nomu_ros::DecodedLabel;

Q_DECLARE_METATYPE(DecodedLabel::Kind)

class TstLabelDecoding : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void edgeBoxes_data();
    void edgeBoxes();
    void roundTripsTheTrainersEncoding();
    void formatsDarknetLine();
};

void TstLabelDecoding::decodes_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("classCount");
    QTest::addColumn<DecodedLabel::Kind>("kind");
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("darknet"); // "k cx cy w h" for Ok lines, a part of the error otherwise

    // One object in a 640 x 480 image, centre (160, 360), box 64 x 240, as the
    // trainer writes it for each class branch: cx 0.25, cy 0.75, w 0.1, h 0.5.
    QTest::newRow("class 0: id 16, divisor 1.5")
        << "16 0.5 0.166667 0.333333 0.0666667 " << 5 << DecodedLabel::Ok << 0
        << "0 0.250001 0.750000 0.100000 0.499999";
    QTest::newRow("class 1: odd, divisor 1.8")
        << "451 0.416667 0.138889 0.277778 0.0555556 " << 5 << DecodedLabel::Ok << 1
        << "1 0.250000 0.750001 0.100000 0.500000";
    QTest::newRow("class 2: even, divisor 2.3")
        << "579 0.326087 0.108696 0.217391 0.0434783 " << 5 << DecodedLabel::Ok << 2
        << "2 0.250001 0.750000 0.100000 0.499999";
    QTest::newRow("class 3: odd")
        << "707 0.416667 0.138889 0.277778 0.0555556 " << 5 << DecodedLabel::Ok << 3
        << "3 0.250000 0.750001 0.100000 0.500000";
    QTest::newRow("class 4: even")
        << "835 0.326087 0.108696 0.217391 0.0434783 " << 5 << DecodedLabel::Ok << 4
        << "4 0.250001 0.750000 0.100000 0.499999";
    QTest::newRow("no trailing blank, tabs")
        << "16\t0.5\t0.166667 0.333333 0.0666667" << 1 << DecodedLabel::Ok << 0
        << "0 0.250001 0.750000 0.100000 0.499999";
    // 1 / 2.3 written with six digits reads back as 1.0000009: still the whole image.
    QTest::newRow("full-size box rounds to 1")
        << "579 0.217391 0.217391 0.434783 0.434783 " << 3 << DecodedLabel::Ok << 2
        << "2 0.499999 0.499999 1.000000 1.000000";

    // Values outside (0, 1]: the part of the box inside the image, or nothing.
    QTest::newRow("cy above 1, box below the image")
        << "16 0.8 0.2 0.2 0.2 " << 1 << DecodedLabel::Outside << -1 << "(cx 0.3, cy 1.2, w 0.3, h 0.3) lies outside";
    QTest::newRow("w of 0") << "16 0.2 0.2 0.2 0 " << 1 << DecodedLabel::Outside << -1 << "has no size";
    QTest::newRow("negative cx, box ends at the left edge")
        << "451 0.2 -0.1 0.2 0.2 " << 2 << DecodedLabel::Outside << -1 << "(cx -0.18, cy 0.36, w 0.36, h 0.36) lies outside";
    QTest::newRow("h just above 1") << "16 0.2 0.2 0.6667 0.2 " << 1 << DecodedLabel::Ok << 0
                                    << "0 0.300000 0.400012 0.300000 0.800025";
    QTest::newRow("nan") << "16 nan 0.2 0.2 0.2 " << 1 << DecodedLabel::Bad << -1 << "is not a number";
    // A value that overflows once multiplied back is refused, in any field
    // and for any divisor; it never becomes a box over the whole image.
    QTest::newRow("cy and h overflow, class 1") << "451 1e308 0.5 1e308 0.5" << 2 << DecodedLabel::Bad << -1
                                                << "cy \"1e308\" is out of range";
    QTest::newRow("cx overflows, class 0") << "16 0.2 1.7e308 0.2 0.2 " << 1 << DecodedLabel::Bad << -1
                                           << "cx \"1.7e308\" is out of range";
    QTest::newRow("h overflows negative, class 2") << "579 0.2 0.2 -1e308 0.2 " << 3 << DecodedLabel::Bad << -1
                                                   << "h \"-1e308\" is out of range";
    QTest::newRow("w overflows, class 3") << "707 0.2 0.2 0.2 1e308 " << 4 << DecodedLabel::Bad << -1
                                          << "w \"1e308\" is out of range";
    // Large but finite: a size beyond the image from a centre inside it.
    QTest::newRow("h of 1.5e308, class 0") << "16 0.5 0.2 1e308 0.2 " << 1 << DecodedLabel::Ok << 0
                                           << "0 0.300000 0.500000 0.300000 1.000000";
    QTest::newRow("centre and size near the largest double")
        << "16 1.1e308 0.2 1.1e308 0.2 " << 1 << DecodedLabel::Outside << -1 << "lies outside";
    QTest::newRow("negative centre near the largest double")
        << "16 -1.1e308 0.2 1.1e308 0.2 " << 1 << DecodedLabel::Outside << -1 << "lies outside";
    QTest::newRow("unknown id 17") << "17 0.2 0.2 0.2 0.2 " << 9 << DecodedLabel::Bad << -1 << "unknown class id 17";
    QTest::newRow("323 is not class 0") << "323 0.2 0.2 0.2 0.2 " << 9 << DecodedLabel::Bad << -1 << "unknown class id 323";
    QTest::newRow("id between classes") << "515 0.2 0.2 0.2 0.2 " << 9 << DecodedLabel::Bad << -1 << "unknown class id 515";
    QTest::newRow("plain darknet class 0") << "0 0.5 0.5 0.1 0.1" << 9 << DecodedLabel::Bad << -1 << "unknown class id 0";
    QTest::newRow("class beyond the data file") << "707 0.2 0.2 0.2 0.2 " << 3 << DecodedLabel::Bad << -1
                                                << "class 3, beyond the 3 classes";
    QTest::newRow("id not a number") << "x16 0.2 0.2 0.2 0.2 " << 1 << DecodedLabel::Bad << -1 << "not a whole number";
    QTest::newRow("four fields") << "16 0.2 0.2 0.2 " << 1 << DecodedLabel::Bad << -1 << "found 4";
    QTest::newRow("six fields") << "16 0.2 0.2 0.2 0.2 0.2 " << 1 << DecodedLabel::Bad << -1 << "found 6";
    QTest::newRow("empty line") << "" << 1 << DecodedLabel::Empty << -1 << "";
    QTest::newRow("blank line") << " \t \r" << 1 << DecodedLabel::Empty << -1 << "";
}

void TstLabelDecoding::decodes()
{
    QFETCH(QString, line);
    QFETCH(int, classCount);
    QFETCH(DecodedLabel::Kind, kind);
    QFETCH(int, k);
    QFETCH(QString, darknet);

    const DecodedLabel d = nomu_ros::decodeLabelLine(line.toStdString(), classCount);
    QCOMPARE(d.kind, kind);
    if (kind == DecodedLabel::Ok) {
        QCOMPARE(d.classIndex, k);
        QCOMPARE(QString::fromStdString(nomu_ros::darknetLabelLine(d)), darknet);
    } else if (kind != DecodedLabel::Empty) {
        QVERIFY2(QString::fromStdString(d.error).contains(darknet), d.error.c_str());
    }
}

Q_DECLARE_METATYPE(fixture::Box)

void TstLabelDecoding::edgeBoxes_data()
{
    QTest::addColumn<fixture::Box>("box"); // class, centre and size in pixels of a 640 x 480 image
    QTest::addColumn<QString>("labelText");
    QTest::addColumn<QString>("darknet"); // empty: left out

    const int lo = std::numeric_limits<int>::min();
    const int hi = std::numeric_limits<int>::max();
    // The darknet lines differ from the exact fractions by the rounding of the
    // six written digits (0.260416 for 125 / 480).
    // An ordinary box, and one over the edge whose values all lie in (0, 1]:
    // as they were written (darknet cuts such a box at the edge itself).
    QTest::newRow("inside") << fixture::Box{0, 160, 360, 64, 240} << "16 0.5 0.166667 0.333333 0.0666667 "
                            << "0 0.250001 0.750000 0.100000 0.499999";
    QTest::newRow("over the left edge, centre inside") << fixture::Box{0, 30, 125, 100, 50}
                                                       << "16 0.173611 0.03125 0.0694444 0.104167 "
                                                       << "0 0.046875 0.260416 0.156250 0.104167";
    // Each edge crossed with the centre outside: x -80 .. 20 gives 0 .. 20.
    QTest::newRow("left edge") << fixture::Box{0, -30, 125, 100, 50} << "16 0.173611 -0.03125 0.0694444 0.104167 "
                               << "0 0.015625 0.260416 0.031250 0.104167";
    QTest::newRow("left edge, class 2") << fixture::Box{2, -30, 125, 100, 50}
                                        << "579 0.113225 -0.0203804 0.0452899 0.0679348 "
                                        << "2 0.015625 0.260417 0.031250 0.104167";
    QTest::newRow("right edge") << fixture::Box{1, 660, 240, 100, 50} << "451 0.277778 0.572917 0.0578704 0.0868056 "
                                << "1 0.976563 0.500000 0.046874 0.104167";
    QTest::newRow("top edge") << fixture::Box{0, 320, -10, 60, 40} << "16 -0.0138889 0.333333 0.0555556 0.0625 "
                              << "0 0.499999 0.010417 0.093750 0.020833";
    QTest::newRow("bottom edge") << fixture::Box{0, 320, 490, 60, 40} << "16 0.680556 0.333333 0.0555556 0.0625 "
                                 << "0 0.499999 0.989584 0.093750 0.020833";
    QTest::newRow("wider than the image") << fixture::Box{0, 340, 240, 700, 480}
                                          << "16 0.333333 0.354167 0.666667 0.729167 "
                                          << "0 0.500000 0.499999 1.000000 1.000000";
    QTest::newRow("INT_MAX wide from inside") << fixture::Box{0, 320, 125, hi, 50}
                                              << "16 0.173611 0.333333 0.0694444 2.23696e+06 "
                                              << "0 0.500000 0.260416 1.000000 0.104167";
    // Nothing of the box in the image, or no size: no darknet line.
    QTest::newRow("right of the image") << fixture::Box{0, 645, 5, 10, 10}
                                        << "16 0.00694444 0.671875 0.0138889 0.0104167 " << "";
    QTest::newRow("left of the image") << fixture::Box{0, -100, 100, 50, 50}
                                       << "16 0.138889 -0.104167 0.0694444 0.0520833 " << "";
    QTest::newRow("above the image") << fixture::Box{1, 320, -100, 50, 50}
                                     << "451 -0.115741 0.277778 0.0578704 0.0434028 " << "";
    QTest::newRow("below the image") << fixture::Box{0, 320, 600, 50, 50}
                                     << "16 0.833333 0.333333 0.0694444 0.0520833 " << "";
    QTest::newRow("no width") << fixture::Box{0, 10, 15, 0, 10} << "16 0.0208333 0.0104167 0.0138889 0 " << "";
    QTest::newRow("no height") << fixture::Box{0, 10, 15, 10, 0} << "16 0.0208333 0.0104167 0 0.0104167 " << "";
    QTest::newRow("negative size") << fixture::Box{0, 375, 280, -50, -40}
                                   << "16 0.388889 0.390625 -0.0555556 -0.0520833 " << "";
    QTest::newRow("INT_MIN centre and size") << fixture::Box{0, lo, lo, lo, lo}
                                             << "16 -2.98262e+06 -2.23696e+06 -2.98262e+06 -2.23696e+06 " << "";
    QTest::newRow("INT_MAX centre and size") << fixture::Box{0, hi, hi, hi, hi}
                                             << "16 2.98262e+06 2.23696e+06 2.98262e+06 2.23696e+06 " << "";
}

// A box over or beyond the image's edge keeps the label text of the
// trainer's formula; the decoding gives darknet the part inside the image,
// or leaves the box out.
void TstLabelDecoding::edgeBoxes()
{
    QFETCH(fixture::Box, box);
    QFETCH(QString, labelText);
    QFETCH(QString, darknet);

    QCOMPARE(fixture::trainerLabelLine(box, 640, 480), labelText + "\n");
    const DecodedLabel d = nomu_ros::decodeLabelLine(labelText.toStdString(), 3);
    if (darknet.isEmpty()) {
        QVERIFY2(d.kind == DecodedLabel::Outside, d.error.c_str());
        return;
    }
    QVERIFY2(d.kind == DecodedLabel::Ok, d.error.c_str());
    QCOMPARE(d.classIndex, box.classIndex);
    QCOMPARE(QString::fromStdString(nomu_ros::darknetLabelLine(d)), darknet);
}

// The trainer's encoder (single-precision quotient, divisor in double, six
// digits) and the decoder agree for many classes and positions.
void TstLabelDecoding::roundTripsTheTrainersEncoding()
{
    const int classes = 40;
    for (int k = 0; k < classes; ++k) {
        QCOMPARE(nomu_ros::classIndexOfLabelId(nomu_ros::labelIdOfClass(k)), k);
        for (int step = 0; step < 10; ++step) {
            const fixture::Box b{k, 7 + step * 61, 3 + step * 47, 1 + step * 63, 1 + step * 47};
            const int w = 640, h = 480;
            const QString line = fixture::trainerLabelLine(b, w, h);
            QVERIFY(line.endsWith(" \n"));
            const DecodedLabel d = nomu_ros::decodeLabelLine(line.toStdString(), classes);
            QVERIFY2(d.kind == DecodedLabel::Ok, qPrintable(line + QString::fromStdString(d.error)));
            QCOMPARE(d.classIndex, k);
            QVERIFY(qAbs(d.cx - double(b.cx) / w) < 2e-6);
            QVERIFY(qAbs(d.cy - double(b.cy) / h) < 2e-6);
            QVERIFY(qAbs(d.w - double(b.w) / w) < 2e-6);
            QVERIFY(qAbs(d.h - double(b.h) / h) < 2e-6);
        }
    }
}

void TstLabelDecoding::formatsDarknetLine()
{
    DecodedLabel d;
    d.kind = DecodedLabel::Ok;
    d.classIndex = 12;
    d.cx = 0.1;
    d.cy = 0.2;
    d.w = 0.3;
    d.h = 1.0;
    QCOMPARE(QString::fromStdString(nomu_ros::darknetLabelLine(d)), QString("12 0.100000 0.200000 0.300000 1.000000"));
}

QTEST_GUILESS_MAIN(TstLabelDecoding)
#include "tst_label_decoding.moc"
