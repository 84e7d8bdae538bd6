// The scoring of the server's answers on held-out images: boxes mapped back
// from the server's 608-pixel image to the image file, matched by class at
// IoU 0.5.

#include "detection_scoring.h"

#include <QtTest>

namespace {

// "name x y w h; ..." in pixels of the image file.
std::vector<TruthBox> truthFrom(const QString& text)
{
    std::vector<TruthBox> out;
    for (const QString& item : text.split(';', Qt::SkipEmptyParts)) {
        const QStringList f = item.split(' ', Qt::SkipEmptyParts);
        out.push_back({f[0], cv::Rect2d(f[1].toDouble(), f[2].toDouble(), f[3].toDouble(), f[4].toDouble())});
    }
    return out;
}

// A "test_end" line as the server writes it, with boxes "name x y w h conf"
// (centre and size in the scaled image).
QByteArray resultLine(int imW, int imH, const QStringList& boxes)
{
    QStringList objects;
    for (const QString& b : boxes) {
        const QStringList f = b.split(' ');
        objects << QString(R"({"confidence":%6,"h":%5,"id":0,"name":"%1","w":%4,"x":%2,"y":%3})")
                       .arg(f[0], f[1], f[2], f[3], f[4], f[5]);
    }
    return QString(R"({"datatime":"2026-01-01 00:00:00","result":{"count":%1,"im_h":%2,"im_w":%3,)"
                   R"("obj_count":[],"obj_count_str":"","objects":[%4]},"state":"test_end"})")
        .arg(boxes.size())
        .arg(imH)
        .arg(imW)
        .arg(objects.join(','))
        .toUtf8();
}

} // namespace

class TstDetectionScoring : public QObject {
    Q_OBJECT

private slots:
    void matches_data();
    void matches();
    void unusableLines_data();
    void unusableLines();
};

// A portrait 300 x 400 image is served as 456 x 608, a landscape 416 x 320 one
// as 608 x 467. Truth: a tall box at (30, 100) 60 x 120 in the portrait image,
// a wide disc at (200, 150) 110 x 50 in the landscape one.
void TstDetectionScoring::matches_data()
{
    QTest::addColumn<QSize>("image");
    QTest::addColumn<QString>("truth");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("matched");

    const QString tall = "box 30 100 60 120";
    const QString wide = "disc 200 150 110 50";
    QTest::newRow("portrait: centre and size scaled back")
        << QSize(300, 400) << tall << resultLine(456, 608, {"box 91 243 91 182 0.9"}) << 1;
    QTest::newRow("landscape: centre and size scaled back")
        << QSize(416, 320) << wide << resultLine(608, 467, {"disc 372 255 161 73 0.9"}) << 1;
    QTest::newRow("width and height swapped")
        << QSize(300, 400) << tall << resultLine(456, 608, {"box 91 243 182 91 0.9"}) << 0;
    QTest::newRow("x and y taken as the top-left corner")
        << QSize(300, 400) << tall << resultLine(456, 608, {"box 46 152 91 182 0.9"}) << 0;
    // The numbers of the image file itself: right only for a scorer that
    // forgets to scale back.
    QTest::newRow("not scaled back")
        << QSize(416, 320) << wide << resultLine(608, 467, {"disc 255 175 110 50 0.9"}) << 0;
    QTest::newRow("other class") << QSize(300, 400) << tall << resultLine(456, 608, {"disc 91 243 91 182 0.9"})
                                 << 0;
    QTest::newRow("the same object twice counts once")
        << QSize(300, 400) << tall << resultLine(456, 608, {"box 91 243 91 182 0.8", "box 92 244 90 180 0.9"}) << 1;
    QTest::newRow("two objects of one class, one detection each")
        << QSize(416, 320) << wide + ";disc 20 20 110 50" << resultLine(608, 467, {"disc 372 255 161 73 0.7",
                                                                                  "disc 109 65 161 73 0.8"})
        << 2;
    QTest::newRow("no detection") << QSize(300, 400) << tall << resultLine(456, 608, {}) << 0;
}

void TstDetectionScoring::matches()
{
    QFETCH(QSize, image);
    QFETCH(QString, truth);
    QFETCH(QByteArray, line);
    QFETCH(int, matched);
    QString error;
    const auto found = detections_from_result_line(line, cv::Size(image.width(), image.height()), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(count_matches(truthFrom(truth), found, 0.5), matched);
}

void TstDetectionScoring::unusableLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("test_error") << QByteArray(R"({"datatime":"2026-01-01 00:00:00","state":"test_error"})");
    QTest::newRow("no scaled size") << resultLine(0, 0, {"box 1 1 1 1 0.9"});
    QTest::newRow("not JSON") << QByteArray("test_end");
}

void TstDetectionScoring::unusableLines()
{
    QFETCH(QByteArray, line);
    QString error;
    QVERIFY(detections_from_result_line(line, cv::Size(300, 400), &error).empty());
    QVERIFY(!error.isEmpty());
}

QTEST_APPLESS_MAIN(TstDetectionScoring)
#include "tst_detection_scoring.moc"
