// The real sarvik_server, driven as a client drives it: write the command
// file by rename, wait for the run marker, read the log line and the image.
#include "fixture_model.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>

namespace {

const QString kCmd = "/tmp/sarvik_test.cmd";
const QString kMarker = "/tmp/sarvik.run";
const QString kLog = "/tmp/sarvik.log";
const QString kResult = "/tmp/sarvik_result.png";

} // namespace

class TestServerBinary : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void startUpDropsEarlierCommand();
    void testBeforeAnyUpdate();
    void ignoredCommands_data();
    void ignoredCommands();
    void commandNotARegularFile_data();
    void commandNotARegularFile();
    void oversizedCommandIsNotRun();
    void updateErrors_data();
    void updateErrors();
    void injectionInFolderNameCreatesNothing();
    void updateThenTest();
    void textEndsAtNul();
    void defaultImageIsAFifo();
    void updateWithoutWeightsKeepsModel();
    void narrowImageThenNextCommand();
    void exitEndsWithZero();

private:
    // Sends one command and waits for the marker; returns the states printed
    // on standard output for it (once the last one is `last`, when given).
    QStringList send(const QByteArray& bytes, const QString& last = QString());
    QJsonObject logLine();
    QString image(int w, int h);

    QTemporaryDir root_, home_;
    testsupport::ExchangeFileGuard* guard_ = nullptr;
    QProcess server_;
    QByteArray out_;
    QByteArray err_;
    QString small_;
    QJsonObject last_line_;
};

void TestServerBinary::initTestCase()
{
    guard_ = new testsupport::ExchangeFileGuard(
        {kCmd, kMarker, kLog, kResult, "/tmp/sarvik_model_test", "/tmp/sarvik_img_test.png", "/tmp/sarvik.lock"});
    small_ = root_.path() + "/small";
    QVERIFY(fixture::write_model_folder(small_, fixture::nomued_det52_cfg(2), fixture::small_boxes_weights(),
                                        {"cat", "dog"}));
    // A command written before the server starts must be dropped unread.
    QVERIFY(testsupport::writeFile(kCmd, "exit"));

    QProcessEnvironment env = testsupport::programEnvironment(home_.path());
    env.insert("NOMU_LIB_YOLO_GPU", "0");
    server_.setProcessEnvironment(env);
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&server_, &QProcess::readyReadStandardOutput, this, [this] { out_ += server_.readAllStandardOutput(); });
    connect(&server_, &QProcess::readyReadStandardError, this, [this] { err_ += server_.readAllStandardError(); });
    server_.start(SARVIK_SERVER_BIN, QStringList());
    QVERIFY(server_.waitForStarted(10000));
}

void TestServerBinary::cleanupTestCase()
{
    if (server_.state() != QProcess::NotRunning) {
        server_.kill();
        server_.waitForFinished(5000);
    }
    delete guard_;
}

QStringList TestServerBinary::send(const QByteArray& bytes, const QString& last)
{
    QFile::remove(kMarker);
    out_.clear();
    err_.clear();
    const QString staging = "/tmp/.sarvik_test.cmd.client";
    if (!testsupport::writeFile(staging, bytes) || std::rename(qPrintable(staging), qPrintable(kCmd)) != 0)
        return {"cannot write the command"};
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(kMarker) && clock.elapsed() < 20000 && server_.state() == QProcess::Running)
        QTest::qWait(5);
    if (!QFile::exists(kMarker))
        return {"no marker"};
    // The lines are flushed before the marker is written; let the pipe deliver them.
    auto states = [this] {
        QStringList s;
        for (const QByteArray& line : out_.split('\n'))
            if (!line.isEmpty())
                s << QJsonDocument::fromJson(line).object().value("state").toString();
        return s;
    };
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 3000 && (last.isEmpty() ? settle.elapsed() < 100 : (states().isEmpty() || states().last() != last)))
        QTest::qWait(5);
    const QList<QByteArray> lines = out_.trimmed().split('\n');
    last_line_ = QJsonDocument::fromJson(lines.last()).object();
    return states();
}

QJsonObject TestServerBinary::logLine()
{
    const QByteArray text = testsupport::readFile(kLog);
    return QJsonDocument::fromJson(text).object();
}

QString TestServerBinary::image(int w, int h)
{
    const QString path = root_.path() + QString("/img_%1x%2.png").arg(w).arg(h);
    if (!QFile::exists(path))
        cv::imwrite(path.toStdString(), cv::Mat(h, w, CV_8UC3, cv::Scalar(90, 90, 90)));
    return path;
}

void TestServerBinary::startUpDropsEarlierCommand()
{
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(kCmd), 10000);
    QTest::qWait(1200); // more than two ticks
    QCOMPARE(server_.state(), QProcess::Running);
    QVERIFY(!QFile::exists(kMarker));
    QVERIFY(QFileInfo("/tmp/sarvik_model_test").isDir());
}

void TestServerBinary::testBeforeAnyUpdate()
{
    QCOMPARE(send("test," + image(640, 480).toUtf8(), "test_error"), (QStringList{"test_start", "test_error"}));
    QCOMPARE(logLine().value("state").toString(), QString("test_error"));
}

void TestServerBinary::ignoredCommands_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("Test") << QByteArray("Test");
    QTest::newRow("EXIT") << QByteArray("EXIT");
    QTest::newRow("leading blank") << QByteArray(" test");
    QTest::newRow("update,a,b") << QByteArray("update,a,b");
    QTest::newRow("exit,now") << QByteArray("exit,now");
    QTest::newRow("two lines joined") << QByteArray("update\ntest");
    QTest::newRow("empty file") << QByteArray();
}

void TestServerBinary::ignoredCommands()
{
    QFETCH(QByteArray, bytes);
    QFile::remove(kLog);
    QCOMPARE(send(bytes), QStringList());
    QVERIFY(!QFile::exists(kCmd));
    QVERIFY(!QFile::exists(kLog));
    QCOMPARE(server_.state(), QProcess::Running);
}

void TestServerBinary::commandNotARegularFile_data()
{
    QTest::addColumn<QString>("target"); // what the command file name links to; empty: a FIFO
    QTest::newRow("FIFO") << QString();
    QTest::newRow("link to /dev/zero") << "/dev/zero";
}

void TestServerBinary::commandNotARegularFile()
{
    // It counts as a command file that cannot be opened: it stays, no marker
    // is written, and the server goes on serving.
    QFETCH(QString, target);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(kCmd), 10000); // the start-up's removal is over
    QFile::remove(kMarker);
    QVERIFY(target.isEmpty() ? testsupport::makeFifo(kCmd) : QFile::link(target, kCmd));
    QTest::qWait(1200); // more than two ticks
    QCOMPARE(server_.state(), QProcess::Running);
    QVERIFY(QFileInfo(kCmd).exists());
    QVERIFY(!QFile::exists(kMarker));
    // The client's next command replaces it and is answered.
    QCOMPARE(send("update,/no/such", "update_error"), (QStringList{"update_start", "update_error"}));
    QVERIFY(!QFile::exists(kCmd));
}

void TestServerBinary::oversizedCommandIsNotRun()
{
    // A valid command once the line breaks are gone, but beyond the limit: it
    // is answered like an unknown command, and the reason names the limit.
    const QByteArray padded = "test," + image(640, 480).toUtf8() + QByteArray(64 * 1024, '\n');
    QCOMPARE(send(padded), QStringList());
    QVERIFY(!QFile::exists(kCmd));
    QTRY_VERIFY2_WITH_TIMEOUT(err_.contains("larger than the limit of 64 KiB"), err_.constData(), 5000);
    QCOMPARE(send("update,/no/such", "update_error"), (QStringList{"update_start", "update_error"}));
}

void TestServerBinary::updateErrors_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("msg");
    QTest::newRow("empty folder") << QByteArray("update,") << "not found : /train.weights";
    QTest::newRow("default folder") << QByteArray("update\n") << "not found : /tmp/sarvik_model_test/train.weights";
    QTest::newRow("blank kept") << QByteArray("update, /no/such") << "not found :  /no/such/train.weights";
    QTest::newRow("quote and backslash") << QByteArray("update,/no/\"a\\b")
                                         << "not found : /no/\"a\\b/train.weights";
}

void TestServerBinary::updateErrors()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, msg);
    QCOMPARE(send(bytes, "update_error"), (QStringList{"update_start", "update_error"}));
    QCOMPARE(last_line_.value("msg").toString(), msg);
    // The file holds exactly what standard output showed, and a newline.
    QCOMPARE(logLine(), last_line_);
    QVERIFY(testsupport::readFile(kLog).endsWith("}\n"));
}

void TestServerBinary::injectionInFolderNameCreatesNothing()
{
    const QString file = root_.path() + "/INJECTED";
    const QByteArray cmd = "update," + root_.path().toUtf8() + "/$(touch " + file.toUtf8() + ")";
    QCOMPARE(send(cmd, "update_error"), (QStringList{"update_start", "update_error"}));
    QVERIFY(!QFile::exists(file));
    QVERIFY(logLine().value("msg").toString().contains("$(touch"));
}

void TestServerBinary::updateThenTest()
{
    QCOMPARE(send("update," + small_.toUtf8(), "update_end"), (QStringList{"update_start", "update_end"}));
    QCOMPARE(logLine().value("state").toString(), QString("update_end"));
    QCOMPARE(logLine().value("load_model").toBool(), true);
    QFile::remove(kResult);
    QCOMPARE(send("test," + image(1920, 1080).toUtf8(), "test_end"), (QStringList{"test_start", "test_end"}));
    const QJsonObject result = logLine().value("result").toObject();
    QCOMPARE(result.value("im_w").toInt(), 608);
    QCOMPARE(result.value("im_h").toInt(), 342);
    QCOMPARE(result.value("count").toInt(), 169);
    const cv::Mat png = cv::imread(kResult.toStdString());
    QCOMPARE(png.cols, 608);
    QCOMPARE(png.rows, 342);
}

void TestServerBinary::textEndsAtNul()
{
    // "test,/nonexistent.png" would fail; the NUL ends the text after "test",
    // so the window's default image is used.
    QVERIFY(cv::imwrite("/tmp/sarvik_img_test.png", cv::Mat(200, 300, CV_8UC3, cv::Scalar(1, 2, 3))));
    QCOMPARE(send(QByteArray("test\0,/nonexistent.png", 22), "test_end"), (QStringList{"test_start", "test_end"}));
    QCOMPARE(logLine().value("result").toObject().value("im_h").toInt(), 405);
}

void TestServerBinary::defaultImageIsAFifo()
{
    QFile::remove("/tmp/sarvik_img_test.png");
    QVERIFY(testsupport::makeFifo("/tmp/sarvik_img_test.png"));
    QCOMPARE(send("test", "test_error"), (QStringList{"test_start", "test_error"}));
    QTRY_VERIFY2_WITH_TIMEOUT(err_.contains("/tmp/sarvik_img_test.png is not a regular file"), err_.constData(), 5000);
    QCOMPARE(send("test," + image(640, 480).toUtf8(), "test_end"), (QStringList{"test_start", "test_end"}));
    QFile::remove("/tmp/sarvik_img_test.png");
}

void TestServerBinary::updateWithoutWeightsKeepsModel()
{
    const QString empty = root_.path() + "/no_weights";
    QDir().mkpath(empty);
    QCOMPARE(send("update," + empty.toUtf8(), "update_error"), (QStringList{"update_start", "update_error"}));
    QCOMPARE(send("test," + image(640, 480).toUtf8(), "test_end"), (QStringList{"test_start", "test_end"}));
}

void TestServerBinary::narrowImageThenNextCommand()
{
    QCOMPARE(send("test," + image(1000, 1).toUtf8(), "test_error"), (QStringList{"test_start", "test_error"}));
    QCOMPARE(server_.state(), QProcess::Running);
    const QString text = root_.path() + "/not_an_image.png";
    testsupport::writeFile(text, "text");
    QCOMPARE(send("test," + text.toUtf8(), "test_error"), (QStringList{"test_start", "test_error"}));
    QCOMPARE(send("test," + image(640, 480).toUtf8(), "test_end"), (QStringList{"test_start", "test_end"}));
    QCOMPARE(logLine().value("result").toObject().value("im_h").toInt(), 456);
}

void TestServerBinary::exitEndsWithZero()
{
    // "exit" writes no line: the latest line stays for the client.
    const QByteArray line = testsupport::readFile(kLog);
    QVERIFY(!line.isEmpty());
    QCOMPARE(send("exit"), QStringList());
    // It may have ended already while the marker was awaited.
    QVERIFY(server_.state() == QProcess::NotRunning || server_.waitForFinished(10000));
    QCOMPARE(server_.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server_.exitCode(), 0);
    QVERIFY(QFile::exists(kMarker));
    QVERIFY(!QFile::exists(kCmd));
    QCOMPARE(testsupport::readFile(kLog), line);
}

QTEST_MAIN(TestServerBinary)
#include "tst_server_binary.moc"
