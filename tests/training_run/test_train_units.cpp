// The GUI-free parts of a training run: the parsing of output chunks, the
// console limit, the elapsed text and status line, the start-weights table,
// the command line, and what the train operation reads from a training folder.

#include "input_limits.h"
#include "network_description.h"
#include "progress_parser.h"
#include "simplecrypt.h"
#include "test_support.h"
#include "train_command.h"
#include "train_status.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

class TrainUnits : public QObject {
    Q_OBJECT

private slots:
    void chunks_data();
    void chunks();
    void consoleLimit();
    void elapsed_data();
    void elapsed();
    void statusLine();
    void startWeights_data();
    void startWeights();
    void command();
    void classCount_data();
    void classCount();
    void modelText();
    void trainingFolderTextRefused();
    void protectedDescription();
};

void TrainUnits::chunks_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<bool>("hasIteration");
    QTest::addColumn<QString>("iterationLabel");
    QTest::addColumn<qint64>("iteration");
    QTest::addColumn<bool>("hasAvg");
    QTest::addColumn<QString>("avgLabel");
    QTest::addColumn<double>("avg");

    QTest::newRow("avg form, four decimals")
        << "\n[ 1200 ] 3.141593, 2.718282 avg, 0.002610 rate, 1.234567 seconds, 76800 images\n" << true
        << "iteration : 1200 " << qint64(1200) << true << "Avg loss : 2.7183" << 2.7183;
    QTest::newRow("chunk starting with [ keeps the iteration")
        << "[ 1200 ] 3.14, 2.7 avg, 0.002610 rate, 1.2 seconds, 76800 images\n" << false << "" << qint64(0) << true
        << "Avg loss : 2.7000" << 2.7;
    QTest::newRow("two progress lines report the first")
        << "\n[ 7 ] 5.000000, 4.123456 avg, 0.002610 rate, 1.0 seconds, 448 images\n"
           "\n[ 8 ] 4.000000, 3.900000 avg, 0.002610 rate, 1.0 seconds, 512 images\n"
        << true << "iteration : 7 " << qint64(7) << true << "Avg loss : 4.1235" << 4.1235;
    QTest::newRow("avg loss form, two decimals")
        << "\n 1200: 3.141593, 2.718282 avg loss, 0.002610 rate, 1.2 seconds, 76800 images\n" << false << ""
        << qint64(0) << true << "Avg loss : 2.72" << 2.72;
    QTest::newRow("other output before the progress line")
        << "Loaded: 0.100000 seconds\n[ 12 ] 1.500000, 1.250000 avg, 0.002610 rate, 1.0 seconds, 768 images\n"
        << true << "iteration : 12 " << qint64(12) << true << "Avg loss : 1.2500" << 1.25;
    // A diverged loss is shown and kept as nan or inf in any spelling glibc
    // or Qt gives it, so a diverged run never looks like a perfect loss of 0.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("diverged: -nan reads nan")
        << "\n[ 50 ] -nan, -nan avg, 0.010000 rate, 0.1 seconds, 100 images\n" << true << "iteration : 50 "
        << qint64(50) << true << "Avg loss : nan" << nan;
    QTest::newRow("diverged: -NaN in the avg loss form reads nan")
        << "\n 55: -NaN, -NaN avg loss, 0.010000 rate, 0.1 seconds, 110 images\n" << false << "" << qint64(0)
        << true << "Avg loss : nan" << nan;
    QTest::newRow("diverged: nan stays nan")
        << "\n[ 51 ] nan, nan avg, 0.010000 rate, 0.1 seconds, 102 images\n" << true << "iteration : 51 "
        << qint64(51) << true << "Avg loss : nan" << nan;
    QTest::newRow("diverged: inf stays inf")
        << "\n[ 52 ] inf, inf avg, 0.010000 rate, 0.1 seconds, 104 images\n" << true << "iteration : 52 "
        << qint64(52) << true << "Avg loss : inf" << inf;
    QTest::newRow("diverged: -inf stays -inf")
        << "\n[ 53 ] -inf, -inf avg, 0.010000 rate, 0.1 seconds, 106 images\n" << true << "iteration : 53 "
        << qint64(53) << true << "Avg loss : -inf" << -inf;
    QTest::newRow("diverged: NaN in the avg loss form")
        << "\n 54: NaN, NaN avg loss, 0.010000 rate, 0.1 seconds, 108 images\n" << false << "" << qint64(0)
        << true << "Avg loss : nan" << nan;
    QTest::newRow("bracketed text that is no number")
        << "Resizing [ 416 x 416 ]\n" << true << "iteration : 416 x 416 " << qint64(0) << false << "" << 0.0;
    QTest::newRow("no progress") << "Learning Rate: 0.001, Momentum: 0.9, Decay: 0.0005\n" << false << ""
                                 << qint64(0) << false << "" << 0.0;
}

void TrainUnits::chunks()
{
    QFETCH(QString, chunk);
    const ProgressUpdate u = parse_progress_chunk(chunk);
    QTEST(u.has_iteration, "hasIteration");
    QTEST(u.iteration_label, "iterationLabel");
    QTEST(u.iteration, "iteration");
    QTEST(u.has_avg, "hasAvg");
    QTEST(u.avg_label, "avgLabel");
    QFETCH(double, avg);
    QCOMPARE(u.avg, avg);
}

void TrainUnits::consoleLimit()
{
    QVERIFY(!console_needs_clearing(QString()));
    QVERIFY(!console_needs_clearing(QString(49, '\n'))); // 50 pieces
    QVERIFY(console_needs_clearing(QString(50, '\n')));  // 51 pieces
    QVERIFY(console_needs_clearing(QString("a\n").repeated(60)));
}

void TrainUnits::elapsed_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "00:00:00";
    QTest::newRow("1") << qint64(1) << "00:00:01";
    QTest::newRow("3599") << qint64(3599) << "00:59:59";
    QTest::newRow("3725") << qint64(3725) << "01:02:05";
    QTest::newRow("100 hours") << qint64(360000) << "100:00:00";
}

void TrainUnits::elapsed()
{
    QFETCH(qint64, seconds);
    QTEST(elapsed_text(seconds), "text");
}

void TrainUnits::statusLine()
{
    QCOMPARE(train_state_json(1, 999, 0, true),
             QString(R"({"train_state":{"avg":999,"backend":"GPU","intr":0,"time_sec":1,"time_str":"00:00:01"}})"));
    QCOMPARE(train_state_json(3725, 2.7183, 1200, false),
             QString(R"({"train_state":{"avg":2.7183,"backend":"CPU","intr":1200,"time_sec":3725,)"
                     R"("time_str":"01:02:05"}})"));
    QCOMPARE(quotes_escaped(R"({"a":"b"})"), QString(R"({\"a\":\"b\"})"));
}

void TrainUnits::startWeights_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("file");
    QTest::newRow("V3") << "V3" << "Train with model V3 : " << "d53.conv.74";
    QTest::newRow("V2-tiny") << "V2-tiny : 1 class" << "Train with model V2 : " << "d19_448.conv.23";
    QTest::newRow("V4-tiny-64") << "V4-tiny-64 : 3 class" << "Train with model V4-tiny : " << "yolov4-tiny.conv.29";
    QTest::newRow("NomuedDet2-128") << "NomuedDet2-128 : 2 class" << "Train with model V4-tiny : "
                                    << "yolov4-tiny.conv.29";
    QTest::newRow("Fastest") << "Fastest-1.1-XL-320 : 2 class" << "Train with model Fastest : "
                             << "yolo-fastest.conv.109";
    QTest::newRow("V4") << "V4 : 1 class" << "Train with model V4 : " << "yolov4.conv.137";
    QTest::newRow("V7-tiny") << "V7-tiny : 2 class" << "Train with model V7-tiny : " << "yolov7-tiny.conv.87";
    QTest::newRow("V7") << "V7 : 2 class" << "Train with model V7 : " << "yolov7.conv.132";
    QTest::newRow("KVTRDet falls through") << "KVTRDet-128 : 3 class" << "Train with model NULL : "
                                           << "d53.conv.74";
    QTest::newRow("case-sensitive") << "v4-tiny" << "Train with model NULL : " << "d53.conv.74";
}

void TrainUnits::startWeights()
{
    QFETCH(QString, model);
    const StartWeights w = start_weights_for(model);
    QTEST(w.console_prefix, "prefix");
    QTEST(w.file, "file");
}

void TrainUnits::command()
{
    QTemporaryDir home;
    testsupport::ScopedEnv env("HOME", home.path().toUtf8());
    QCOMPARE(start_weights_folder(), home.path() + "/.nomu_core_install/share/d/");

    QCOMPARE(train_executable(true), QString("rosrun nomu_lib_yolo darknet_"));
    QCOMPARE(train_executable(false), QString("rosrun nomu_lib_yolo darknet_cpu_"));

    const QString exe = train_executable(true);
    const QString w = "/h/.nomu_core_install/share/d/yolov4-tiny.conv.29";
    const QString with = train_command(exe, "data/train.cfg", w);
    QCOMPARE(with, QString("rosrun nomu_lib_yolo darknet_ detector train data/obj.data data/train.cfg "
                           "\"/h/.nomu_core_install/share/d/yolov4-tiny.conv.29\"   -dont_show "));
    const QString without = train_command(exe, "data/train.cfg", QString());
    QCOMPARE(without, QString("rosrun nomu_lib_yolo darknet_ detector train data/obj.data data/train.cfg   -dont_show "));

    // The arguments are those the command text splits into...
    QCOMPARE(train_command_argv(exe, "data/train.cfg", w), QProcess::splitCommand(with));
    QCOMPARE(train_command_argv(exe, "data/train.cfg", QString()), QProcess::splitCommand(without));
    QCOMPARE(train_command_argv(exe, "data/train.cfg", "/x y/w.weights"),
             (QStringList{"rosrun", "nomu_lib_yolo", "darknet_", "detector", "train", "data/obj.data",
                          "data/train.cfg", "/x y/w.weights", "-dont_show"}));
    // ...and a path with a blank or a double quote stays one argument.
    const QStringList odd = train_command_argv(exe, "/tmp/a b/train.cfg", "/w/it's \"best\".weights");
    QCOMPARE(odd.size(), 9);
    QCOMPARE(odd[6], QString("/tmp/a b/train.cfg"));
    QCOMPARE(odd[7], QString("/w/it's \"best\".weights"));
}

void TrainUnits::classCount_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("classes");
    QTest::newRow("missing") << false << QByteArray() << -1;
    QTest::newRow("empty") << true << QByteArray() << -1;
    QTest::newRow("3") << true << QByteArray("3") << 3;
    QTest::newRow("3 and a line feed") << true << QByteArray("3\n") << 3;
    QTest::newRow("blanks") << true << QByteArray(" 2 ") << 2;
    QTest::newRow("not a number") << true << QByteArray("abc") << 0;
}

void TrainUnits::classCount()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath("classes.data");
    if (exists)
        QVERIFY(testsupport::writeFile(path, content));
    QTEST(read_class_count(path), "classes");
}

void TrainUnits::modelText()
{
    QTemporaryDir dir;
    QCOMPARE(data_folder_of("/a"), QString("/a/data"));
    QCOMPARE(data_folder_of("/a/"), QString("/a/data"));
    QCOMPARE(read_model_text(dir.path()), QString("V3"));
    QVERIFY(testsupport::writeFile(dir.filePath("data/version"), ""));
    QCOMPARE(read_model_text(dir.path()), QString("V3"));
    QVERIFY(testsupport::writeFile(dir.filePath("data/version"), "KVTRDet-128 : 3 class"));
    QCOMPARE(read_model_text(dir.path()), QString("KVTRDet-128 : 3 class"));
    QCOMPARE(read_model_text(dir.path() + "/"), QString("KVTRDet-128 : 3 class"));
}

void TrainUnits::trainingFolderTextRefused()
{
    // Read as missing, with the reason on stderr, never waited on.
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("data")));
    QVERIFY(testsupport::makeFifo(dir.filePath("data/version")));
    QVERIFY(QFile::link("/dev/zero", dir.filePath("classes.data")));
    const QString big = dir.filePath("train.cfg");
    QVERIFY(testsupport::writeFile(big, QByteArray(input_limits::kTrainingFolderTextBytes + 1, '#')));
    testsupport::StderrCapture err;
    QCOMPARE(read_model_text(dir.path()), QString("V3"));
    QCOMPARE(read_class_count(dir.filePath("classes.data")), -1);
    QVERIFY(read_text_file(big).isNull());
    const QString said = err.take();
    QVERIFY2(said.contains(dir.filePath("data/version") + " is not a regular file"), qPrintable(said));
    QVERIFY2(said.contains(dir.filePath("classes.data") + " is not a regular file"), qPrintable(said));
    QVERIFY2(said.contains(big + " is larger than the limit of 16 MiB"), qPrintable(said));
}

void TrainUnits::protectedDescription()
{
    const QString head = "[net]\nbatch=64\nwidth=128\n";
    const QString body = "[convolutional]\nfilters=24\n\n[yolo]\nclasses=3\n";
    const QString text = head + kProtectedSeparator + SimpleCrypt(kNomuCryptKey).encryptToString(body);
    QVERIFY(is_protected_description(text));
    QVERIFY(!is_protected_description(head + body));
    QCOMPARE(deciphered_description(text), head + "\n" + body);
}

QTEST_GUILESS_MAIN(TrainUnits)
#include "test_train_units.moc"
