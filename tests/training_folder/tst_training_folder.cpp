// The formats of the training folder and the removal of "data".
#include "training_folder.h"

#include "test_support.h"

#include <QTemporaryDir>
#include <QtTest>

#include <limits>

class TstTrainingFolder : public QObject {
    Q_OBJECT

private slots:
    void labelLine_data()
    {
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QRect>("box");
        QTest::addColumn<QPoint>("center");
        QTest::addColumn<QString>("line");
        const QRect b(256, 192, 128, 96);
        const QPoint c(320, 240);
        QTest::newRow("class 0") << 0 << 640 << 480 << b << c << "16 0.333333 0.333333 0.133333 0.133333 ";
        QTest::newRow("class 1") << 1 << 640 << 480 << b << c << "451 0.277778 0.277778 0.111111 0.111111 ";
        QTest::newRow("class 2") << 2 << 640 << 480 << b << c << "579 0.217391 0.217391 0.0869565 0.0869565 ";
        QTest::newRow("class 3") << 3 << 640 << 480 << b << c << "707 0.277778 0.277778 0.111111 0.111111 ";
        // Asymmetric box in a non-square image: swapped x/y or w/h fields would differ.
        QTest::newRow("asymmetric") << 0 << 1000 << 500 << QRect(100, 50, 300, 40) << QPoint(250, 70)
                                    << "16 0.0933333 0.166667 0.0533333 0.2 ";
        QTest::newRow("whole numbers") << 0 << 3 << 3 << QRect(0, 0, 3, 3) << QPoint(3, 3)
                                       << "16 0.666667 0.666667 0.666667 0.666667 ";
        // Boxes over or beyond the edge, of no size or at the int limits: the
        // object's own fields all the same (the training executable cuts them
        // to the image for darknet).
        QTest::newRow("over the left edge, centre inside") << 0 << 640 << 480 << QRect(-20, 100, 100, 50)
                                                           << QPoint(30, 125)
                                                           << "16 0.173611 0.03125 0.0694444 0.104167 ";
        QTest::newRow("centre left of the image") << 0 << 640 << 480 << QRect(-80, 100, 100, 50) << QPoint(-30, 125)
                                                  << "16 0.173611 -0.03125 0.0694444 0.104167 ";
        QTest::newRow("wider than the image") << 0 << 640 << 480 << QRect(-10, 0, 700, 480) << QPoint(340, 240)
                                              << "16 0.333333 0.354167 0.666667 0.729167 ";
        QTest::newRow("right of the image") << 0 << 640 << 480 << QRect(640, 0, 10, 10) << QPoint(645, 5)
                                            << "16 0.00694444 0.671875 0.0138889 0.0104167 ";
        QTest::newRow("above the image, class 1") << 1 << 640 << 480 << QRect(295, -125, 50, 50) << QPoint(320, -100)
                                                  << "451 -0.115741 0.277778 0.0578704 0.0434028 ";
        QTest::newRow("no width") << 0 << 640 << 480 << QRect(10, 10, 0, 10) << QPoint(10, 15)
                                  << "16 0.0208333 0.0104167 0.0138889 0 ";
        QTest::newRow("negative size") << 0 << 640 << 480 << QRect(400, 300, -50, -40) << QPoint(375, 280)
                                       << "16 0.388889 0.390625 -0.0555556 -0.0520833 ";
    }
    void labelLine()
    {
        QFETCH(int, k);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QRect, box);
        QFETCH(QPoint, center);
        QFETCH(QString, line);
        Object o;
        o.bbox = cv::Rect(box.x(), box.y(), box.width(), box.height());
        o.center = cv::Point(center.x(), center.y());
        QCOMPARE(label_line(k, o, width, height), line);
    }

    // Centres and sizes at the int limits, which no QRect holds.
    void labelLineAtIntLimits()
    {
        const int lo = std::numeric_limits<int>::min();
        const int hi = std::numeric_limits<int>::max();
        Object o;
        o.bbox = cv::Rect(lo, lo, lo, lo);
        o.center = cv::Point(lo, lo);
        QCOMPARE(label_line(0, o, 640, 480), QString("16 -2.98262e+06 -2.23696e+06 -2.98262e+06 -2.23696e+06 "));
        o.bbox = cv::Rect(hi, hi, hi, hi);
        o.center = cv::Point(hi, hi);
        QCOMPARE(label_line(2, o, 640, 480), QString("579 1.94518e+06 1.45889e+06 1.94518e+06 1.45889e+06 "));
        o.bbox = cv::Rect(-100, 100, hi, 50);
        o.center = cv::Point(320, 125);
        QCOMPARE(label_line(0, o, 640, 480), QString("16 0.173611 0.333333 0.0694444 2.23696e+06 "));
    }

    void objData()
    {
        QCOMPARE(obj_data_text(3), QString("classes = 3\ntrain  = data/train.txt\nvalid  = data/train.txt\n"
                                           "names = data/obj.names\nbackup = data/backup/"));
        QVERIFY(obj_data_text(0).startsWith("classes = 0\n"));
    }

    void genProgress()
    {
        const QString t = gen_progress_text(42);
        QCOMPARE(t, QString("{ \\\"gen_progress\\\" : 42 }"));
        QCOMPARE(t.indexOf("42"), 21);
    }

    void removeDirKeepsLinkTargets()
    {
        QTemporaryDir tmp;
        const QString data = tmp.filePath("train/data");
        const QString outside = tmp.filePath("outside");
        QVERIFY(testsupport::writeFile(outside + "/keep.txt", "keep"));
        QVERIFY(testsupport::writeFile(data + "/img/a.jpg", "x"));
        QVERIFY(testsupport::writeFile(data + "/.hidden", "x"));
        QVERIFY(QFile::link(outside, data + "/link_dir"));
        QVERIFY(QFile::link(outside + "/keep.txt", data + "/img/link_file"));
        QVERIFY(QFile::link(tmp.filePath("nowhere"), data + "/dangling"));
        QVERIFY(remove_dir_tree(data));
        QVERIFY(!QFileInfo::exists(data));
        QCOMPARE(testsupport::readFile(outside + "/keep.txt"), QByteArray("keep"));
        QVERIFY(remove_dir_tree(data)); // absent: nothing to do

        // A "data" that is itself a link: the link goes, the target stays.
        QVERIFY(QFile::link(outside, data));
        QVERIFY(remove_dir_tree(data));
        QVERIFY(!QFileInfo(data).isSymLink());
        QCOMPARE(testsupport::readFile(outside + "/keep.txt"), QByteArray("keep"));
    }
};

QTEST_GUILESS_MAIN(TstTrainingFolder)
#include "tst_training_folder.moc"
