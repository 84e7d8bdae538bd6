// The real sarvik_server under a file-size limit, as a shell's "ulimit -f"
// starts it: a log line it cannot write is reported and removed, the loop
// goes on, and the program is not ended by SIGXFSZ.
#include "test_support.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstdio>

namespace {

const QString kCmd = "/tmp/sarvik_test.cmd";
const QString kMarker = "/tmp/sarvik.run";
const QString kLog = "/tmp/sarvik.log";
const QString kResult = "/tmp/sarvik_result.png";

// Room for the run marker (the date, about 30 bytes), the server's lock file
// (its process id) and a short log line, not for the "update_error" line that
// names a long folder.
constexpr qint64 kLimit = 400;

} // namespace

class TstServerFileSizeLimit : public QObject {
    Q_OBJECT
private slots:
    void failedLogLineIsReported();
};

void TstServerFileSizeLimit::failedLogLineIsReported()
{
    testsupport::ExchangeFileGuard guard(
        {kCmd, kMarker, kLog, kResult, "/tmp/sarvik_model_test", "/tmp/sarvik_img_test.png"});
    QTemporaryDir root, home;
    QVERIFY(testsupport::writeFile(kLog, "an earlier line\n"));
    // The start-up removes a command left from before; its removal shows
    // when the loop takes commands.
    QVERIFY(testsupport::writeFile(kCmd, "left from before"));

    testsupport::FileSizeLimitedProcess server(kLimit);
    QProcessEnvironment env = testsupport::programEnvironment(home.path());
    env.insert("NOMU_LIB_YOLO_GPU", "0");
    server.setProcessEnvironment(env);
    server.start(SARVIK_SERVER_BIN, QStringList());
    QVERIFY(server.waitForStarted(10000));
    auto stop = qScopeGuard([&server] {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(5000);
        }
    });

    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(kCmd), 10000);
    QTest::qWait(1200); // more than two ticks

    // Each command, written by rename as a client does, ends with the marker.
    auto send = [&server](const QByteArray& bytes) {
        QFile::remove(kMarker);
        const QString staging = "/tmp/.sarvik_test.cmd.client";
        if (!testsupport::writeFile(staging, bytes) || std::rename(qPrintable(staging), qPrintable(kCmd)) != 0)
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(kMarker) && clock.elapsed() < 20000 && server.state() == QProcess::Running)
            QTest::qWait(5);
        return QFile::exists(kMarker);
    };
    // "update_start" fits, "update_error" naming the long folder does not.
    const QByteArray folder = root.filePath(QString(600, 'd')).toUtf8();
    QVERIFY(send("update," + folder));
    QCOMPARE(server.state(), QProcess::Running);
    QVERIFY(!QFile::exists(kLog));
    QVERIFY(send("exit"));
    QVERIFY(server.state() == QProcess::NotRunning || server.waitForFinished(10000));
    const QString err = QString::fromUtf8(server.readAllStandardError());
    QVERIFY2(server.exitStatus() == QProcess::NormalExit,
             qPrintable(QString("ended by signal %1\n%2").arg(server.exitCode()).arg(err)));
    QCOMPARE(server.exitCode(), 0);
    QVERIFY2(err.contains("cannot write /tmp/sarvik.log: " + qt_error_string(EFBIG)), qPrintable(err));
}

QTEST_GUILESS_MAIN(TstServerFileSizeLimit)
#include "tst_server_file_size_limit.moc"
