// Translation of the engines' per-iteration lines into the trainer's form
// "\n[ N ] loss, avg avg, rate rate, S seconds, I images".

#include "engine_output.h"
#include "progress_line.h"

#include <QtTest>

class TstProgressLine : public QObject {
    Q_OBJECT
private slots:
    void translates_data();
    void translates();
    void monitorPrintsProgressOnItsOwnLine();
};

void TstProgressLine::translates_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected"); // empty: not a progress line

    QTest::newRow("2018 form")
        << "1: 200.867905, 200.867905 avg, 0.001000 rate, 0.010847 seconds, 2 images"
        << "[ 1 ] 200.867905, 200.867905 avg, 0.001000 rate, 0.010847 seconds, 2 images";
    QTest::newRow("newer form with avg loss and hours left")
        << " 1200: 1.234567, 1.345678 avg loss, 0.002610 rate, 2.500000 seconds, 76800 images, 12.345678 hours left"
        << "[ 1200 ] 1.234567, 1.345678 avg, 0.002610 rate, 2.500000 seconds, 76800 images";
    QTest::newRow("avg loss form without hours")
        << "5: 3.000000, 4.000000 avg loss, 0.001000 rate, 1.000000 seconds, 320 images"
        << "[ 5 ] 3.000000, 4.000000 avg, 0.001000 rate, 1.000000 seconds, 320 images";
    QTest::newRow("-nan")
        << "50: -nan, -nan avg, 0.010000 rate, 0.005278 seconds, 100 images"
        << "[ 50 ] -nan, -nan avg, 0.010000 rate, 0.005278 seconds, 100 images";
    QTest::newRow("nan and inf")
        << "51: nan, inf avg, 0.010000 rate, 0.005278 seconds, 102 images"
        << "[ 51 ] nan, inf avg, 0.010000 rate, 0.005278 seconds, 102 images";
    QTest::newRow("carriage return")
        << "3: 1.500000, 2.500000 avg, 0.001000 rate, 0.500000 seconds, 12 images\r"
        << "[ 3 ] 1.500000, 2.500000 avg, 0.001000 rate, 0.500000 seconds, 12 images";
    QTest::newRow("already the trainer's form")
        << "[ 7 ] 1.000000, 2.000000 avg, 0.001000 rate, 0.100000 seconds, 28 images"
        << "[ 7 ] 1.000000, 2.000000 avg, 0.001000 rate, 0.100000 seconds, 28 images";

    QTest::newRow("Loaded") << "Loaded: 0.007902 seconds" << "";
    QTest::newRow("Region") << "Region 5 Avg IOU: 0.176490, Class: 0.352076, Obj: 0.484605, No Obj: 0.460616, "
                               ".5R: 0.000000, .75R: 0.000000,  count: 2"
                            << "";
    QTest::newRow("Saving weights") << "Saving weights to data/backup//train.backup" << "";
    QTest::newRow("learning rate head") << "Learning Rate: 0.001, Momentum: 0.9, Decay: 0.0005" << "";
    QTest::newRow("words in place of numbers") << "1: abc, def avg, x rate, y seconds, z images" << "";
    QTest::newRow("images missing") << "1: 2.0, 3.0 avg, 0.1 rate, 0.2 seconds" << "";
    QTest::newRow("mAP note") << " (next mAP calculation at 1000 iterations) " << "";
    QTest::newRow("empty") << "" << "";
}

void TstProgressLine::translates()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    const auto out = nomu_ros::translateProgressLine(line.toStdString());
    if (expected.isEmpty()) {
        QVERIFY2(!out, out ? out->c_str() : "");
    } else {
        QVERIFY(out);
        QCOMPARE(QString::fromStdString(*out), expected);
    }
}

// The trainer takes the iteration from between the first "[" and "]" of a chunk
// that has text before the "[": the line goes out preceded by a newline.
void TstProgressLine::monitorPrintsProgressOnItsOwnLine()
{
    nomu_ros::EngineOutputMonitor m;
    QCOMPARE(QString::fromStdString(m.onStdoutLine("2: 9.000000, 9.500000 avg, 0.001000 rate, 0.300000 seconds, 8 images")),
             QString("\n[ 2 ] 9.000000, 9.500000 avg, 0.001000 rate, 0.300000 seconds, 8 images\n"));
    QCOMPARE(QString::fromStdString(m.onStdoutLine("Loaded: 0.000100 seconds")), QString("Loaded: 0.000100 seconds\n"));
    QCOMPARE(m.iterations(), 1L);
    QVERIFY(!m.couldNotOpenFile());
    QCOMPARE(QString::fromStdString(m.onStdoutLine("Couldn't open file: data/x.txt")), QString("Couldn't open file: data/x.txt\n"));
    QVERIFY(m.couldNotOpenFile());
}

QTEST_GUILESS_MAIN(TstProgressLine)
#include "tst_progress_line.moc"
