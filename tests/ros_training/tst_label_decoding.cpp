// Decoding of the trainer's label lines ("id cy cx h w ") into darknet's
// "k cx cy w h": every class branch, values outside (0, 1], unknown ids.

#include "label_decoding.h"
#include "training_fixture.h"

#include <QtTest>

using nomu_ros::DecodedLabel;

Q_DECLARE_METATYPE(DecodedLabel::Kind)

class TstLabelDecoding : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
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

    QTest::newRow("cy above 1") << "16 0.8 0.2 0.2 0.2 " << 1 << DecodedLabel::Bad << -1 << "cy 1.2 is outside (0, 1]";
    QTest::newRow("w of 0") << "16 0.2 0.2 0.2 0 " << 1 << DecodedLabel::Bad << -1 << "w 0 is outside (0, 1]";
    QTest::newRow("negative cx") << "451 0.2 -0.1 0.2 0.2 " << 2 << DecodedLabel::Bad << -1 << "cx -0.18 is outside";
    QTest::newRow("h just above 1") << "16 0.2 0.2 0.6667 0.2 " << 1 << DecodedLabel::Bad << -1 << "h 1.00005";
    QTest::newRow("nan") << "16 nan 0.2 0.2 0.2 " << 1 << DecodedLabel::Bad << -1 << "is not a number";
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
    } else if (kind == DecodedLabel::Bad) {
        QVERIFY2(QString::fromStdString(d.error).contains(darknet), d.error.c_str());
    }
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
