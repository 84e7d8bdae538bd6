// The command loop's own files, in-process: the run marker is put in place by
// rename (never through a link planted at its name), and the log holds this
// command's lines or none, also when the disk is full, so that a client never
// takes an earlier command's answer for this one's.
#include "dialog_sarvik_v2.h"
#include "run_marker.h"
#include "sarvik_server_main_window.h"
#include "test_support.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
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
    QTest::addColumn<bool>("dangling");
    QTest::newRow("link to a file") << false;
    QTest::newRow("dangling link") << true;
}

// A link planted at the marker's name is replaced: the file it names is
// neither written nor created (as root, any file could be).
void TstServerLoopFiles::markerNeverThroughLink()
{
    QFETCH(bool, dangling);
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    if (!dangling)
        QVERIFY(testsupport::writeFile(victim, "victim"));
    QFile::remove(kMarker);
    QVERIFY(QFile::link(victim, kMarker));
    tick("Test"); // ignored commands rewrite the marker too
    QVERIFY(!QFileInfo(kMarker).isSymLink());
    QCOMPARE(QFileInfo::exists(victim), !dangling);
    if (!dangling)
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

    // An ignored command leaves no earlier answer either.
    tick("Test");
    QVERIFY(!QFile::exists(kLog));
}

QTEST_MAIN(TstServerLoopFiles)
#include "tst_server_loop_files.moc"
