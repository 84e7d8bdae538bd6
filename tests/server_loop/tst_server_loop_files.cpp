// The command loop's own files, in-process: the run marker is rewritten in
// place (the same file, so a client watching it sees every command; never
// through a link planted at its name), and the log keeps the latest line, but
// never an earlier command's line in place of one this command could not
// write (a full disk).
#include "dialog_sarvik_v2.h"
#include "run_marker.h"
#include "sarvik_server_main_window.h"
#include "test_support.h"

#include <QDate>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString kCmd = "/tmp/sarvik_test.cmd";
const QString kMarker = "/tmp/sarvik.run";
const QString kLog = "/tmp/sarvik.log";

QString logState()
{
    return QJsonDocument::fromJson(testsupport::readFile(kLog)).object().value("state").toString();
}

} // namespace

class TstServerLoopFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void markerText_data();
    void markerText();
    void markerNeverThroughLink_data();
    void markerNeverThroughLink();
    void fullDiskLeavesNoEarlierAnswer();
    void watcherSeesEveryCommand();
    void logKeepsLatestLine_data();
    void logKeepsLatestLine();
    void unremovableLogIsReported();

private:
    // Writes the command file and runs one tick of the loop.
    void tick(const QByteArray& command);
    // Runs one tick on the command file in place.
    void runTick();

    QTemporaryDir home_;
    std::unique_ptr<testsupport::ScopedEnv> homeEnv_;
    std::unique_ptr<testsupport::ExchangeFileGuard> guard_;
    sarvik_server::sarvik_server_main_window* window_ = nullptr;
};

void TstServerLoopFiles::initTestCase()
{
    homeEnv_.reset(new testsupport::ScopedEnv("HOME", home_.path().toUtf8()));
    guard_.reset(new testsupport::ExchangeFileGuard(
        {kCmd, kMarker, kLog, "/tmp/sarvik_result.png", "/tmp/sarvik_model_test", "/tmp/sarvik_img_test.png"}));
    window_ = new sarvik_server::sarvik_server_main_window(0, nullptr);
    window_->cmd_timer->stop(); // the test runs the ticks
}

void TstServerLoopFiles::cleanupTestCase()
{
    delete window_->settings_dialog;
    delete window_;
    guard_.reset();
}

void TstServerLoopFiles::tick(const QByteArray& command)
{
    QVERIFY(testsupport::writeFile(kCmd, command));
    runTick();
}

void TstServerLoopFiles::runTick()
{
    QVERIFY(QMetaObject::invokeMethod(window_, "loop_cmd", Qt::DirectConnection));
    QVERIFY(!QFile::exists(kCmd));
}

void TstServerLoopFiles::markerText_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: no date command at all
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("one line") << QByteArray("echo 'Mon Jan  1 00:00:00 UTC 2024'")
                              << QByteArray("Mon Jan  1 00:00:00 UTC 2024\n");
    QTest::newRow("trailing newlines dropped") << QByteArray("printf 'Mon Jan  1\\n\\n\\n'")
                                               << QByteArray("Mon Jan  1\n");
    QTest::newRow("inner newline kept") << QByteArray("printf 'a\\nb\\n'") << QByteArray("a\nb\n");
    QTest::newRow("no date command") << QByteArray() << QByteArray("\n");
}

// What `echo "$(date)"` left: date's output without its trailing newlines,
// and one newline.
void TstServerLoopFiles::markerText()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, text);
    QTemporaryDir bin;
    if (!script.isEmpty()) {
        const QString date = bin.filePath("date");
        QVERIFY(testsupport::writeFile(date, "#!/bin/sh\n" + script + "\n"));
        QVERIFY(QFile::setPermissions(date, QFile::permissions(date) | QFile::ExeOwner));
    }
    testsupport::ScopedEnv path("PATH", bin.path().toUtf8());
    QCOMPARE(run_marker_text(), text);
}

void TstServerLoopFiles::markerNeverThroughLink_data()
{
    QTest::addColumn<QString>("before"); // what stands at the marker's name
    QTest::newRow("link to a file") << "link";
    QTest::newRow("dangling link") << "dangling link";
    QTest::newRow("FIFO without reader") << "FIFO";
}

// A link planted at the marker's name is replaced: the file it names is
// neither written nor created (as root, any file could be). A FIFO is
// replaced too, without waiting for a reader.
void TstServerLoopFiles::markerNeverThroughLink()
{
    QFETCH(QString, before);
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    if (before == "link")
        QVERIFY(testsupport::writeFile(victim, "victim"));
    QFile::remove(kMarker);
    if (before == "FIFO")
        QVERIFY(testsupport::makeFifo(kMarker));
    else
        QVERIFY(QFile::link(victim, kMarker));
    tick("Test"); // ignored commands rewrite the marker too
    QVERIFY(QFileInfo(kMarker).isFile() && !QFileInfo(kMarker).isSymLink());
    QCOMPARE(QFileInfo::exists(victim), before == "link");
    if (before == "link")
        QCOMPARE(testsupport::readFile(victim), QByteArray("victim"));
    const QByteArray marker = testsupport::readFile(kMarker);
    QCOMPARE(marker.count('\n'), 1);
    QVERIFY(marker.endsWith('\n'));
    QVERIFY2(marker.contains(QByteArray::number(QDate::currentDate().year())), marker.constData());
    struct stat st {};
    QCOMPARE(::lstat(QFile::encodeName(kMarker).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0644);
}

// No byte fits: the command's log lines cannot be written, so the earlier
// command's line must not stay for the client to read; the marker still
// appears (empty, as no room is needed for that). The next command, with room
// again, is answered as usual.
void TstServerLoopFiles::fullDiskLeavesNoEarlierAnswer()
{
    QVERIFY(testsupport::writeFile(kLog, "{\"datatime\":\"2000-01-01 00:00:00\",\"state\":\"update_end\"}\n"));
    QFile::remove(kMarker);
    QVERIFY(testsupport::writeFile(kCmd, "test,/no/such/image.png"));
    {
        testsupport::FileSizeLimit limit(0);
        QVERIFY(limit.isActive());
        runTick();
    }
    QVERIFY(!QFile::exists(kLog));
    QVERIFY(QFileInfo(kMarker).isFile());

    QFile::remove(kMarker);
    tick("test,/no/such/image.png");
    QCOMPARE(logState(), QString("test_error"));
    QVERIFY(QFileInfo(kMarker).size() > 1);
}

// A client waits for a change of the marker (inotify, QFileSystemWatcher):
// the marker stays the same file, so the watch sees every command, those
// that write no line included, and is never dropped.
void TstServerLoopFiles::watcherSeesEveryCommand()
{
    tick("Test");
    QVERIFY(QFileInfo(kMarker).isFile());
    struct stat first {};
    QCOMPARE(::stat(QFile::encodeName(kMarker).constData(), &first), 0);
    QFileSystemWatcher watcher({kMarker});
    QSignalSpy changed(&watcher, &QFileSystemWatcher::fileChanged);
    const QByteArray commands[] = {"Test", "update,/no/such", "test,/no/such.png", "update,a,b"};
    for (const QByteArray& command : commands) {
        const int before = changed.count();
        tick(command);
        QTRY_VERIFY2_WITH_TIMEOUT(changed.count() > before, command.constData(), 5000);
        QVERIFY2(watcher.files().contains(kMarker), command.constData());
    }
    struct stat last {};
    QCOMPARE(::stat(QFile::encodeName(kMarker).constData(), &last), 0);
    QCOMPARE(last.st_ino, first.st_ino);
    QVERIFY(testsupport::readFile(kMarker).size() > 1);
}

void TstServerLoopFiles::logKeepsLatestLine_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("Test") << QByteArray("Test");
    QTest::newRow("update,a,b") << QByteArray("update,a,b");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("beyond the size limit") << QByteArray("update,/no/such") + QByteArray(64 * 1024, '\n');
}

// A command that writes no line leaves the latest line where it was.
void TstServerLoopFiles::logKeepsLatestLine()
{
    QFETCH(QByteArray, command);
    tick("update,/no/such");
    QCOMPARE(logState(), QString("update_error"));
    const QByteArray line = testsupport::readFile(kLog);
    tick(command);
    QCOMPARE(testsupport::readFile(kLog), line);
}

// The log cannot be replaced nor removed (an immutable file): the earlier
// line stays, and stderr says that it could not be removed.
void TstServerLoopFiles::unremovableLogIsReported()
{
    QVERIFY(testsupport::writeFile(kLog, "{\"datatime\":\"2000-01-01 00:00:00\",\"state\":\"update_end\"}\n"));
    if (!testsupport::setImmutable(kLog, true))
        QSKIP("the immutable attribute cannot be set here");
    QString err;
    {
        testsupport::StderrCapture capture;
        QVERIFY(testsupport::writeFile(kCmd, "update,/no/such"));
        QVERIFY(QMetaObject::invokeMethod(window_, "loop_cmd", Qt::DirectConnection));
        err = capture.take();
    }
    QVERIFY(testsupport::setImmutable(kLog, false));
    QVERIFY2(err.contains("cannot remove /tmp/sarvik.log: Operation not permitted"), qPrintable(err));
}

QTEST_MAIN(TstServerLoopFiles)
#include "tst_server_loop_files.moc"
