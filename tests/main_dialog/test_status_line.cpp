// The status line "/tmp/varnex.log": what the file holds (as the shell's echo
// would have left it), what standard output shows, and that no text is ever
// run as a command.

#include "dialog_varnex.h"
#include "status_line.h"
#include "test_support.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

const QString kLog = "/tmp/varnex.log";


} // namespace

class StatusLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void quoteRemoval_data();
    void quoteRemoval();
    void replaceFile();
    void showLog();
    void showLogRunsNothing();
    void showLogReplacesALink();
    void failedWriteLeavesNoStaleLine();

private:
    QTemporaryDir home_;
    QTemporaryDir tmp_;
    std::unique_ptr<testsupport::ScopedEnv> homeEnv_;
    std::unique_ptr<DialogVarnex> d_;
};

void StatusLine::initTestCase()
{
    QVERIFY(home_.isValid());
    QVERIFY(tmp_.isValid());
    homeEnv_.reset(new testsupport::ScopedEnv("HOME", home_.path().toUtf8()));
    d_.reset(new DialogVarnex(nullptr));
}

void StatusLine::quoteRemoval_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("progress line") << R"({ \"gen_progress\" : 42 })" << QByteArray(R"({ "gen_progress" : 42 })");
    QTest::newRow("train state") << R"({\"train_state\":{\"avg\":999,\"backend\":\"GPU\"}})"
                                 << QByteArray(R"({"train_state":{"avg":999,"backend":"GPU"}})");
    QTest::newRow("escaped backslash") << R"(a\\b)" << QByteArray(R"(a\b)");
    QTest::newRow("escaped dollar") << R"(\$HOME)" << QByteArray("$HOME");
    QTest::newRow("escaped backquote") << "\\`x\\`" << QByteArray("`x`");
    // Before any other character the backslash stays.
    QTest::newRow("backslash n") << R"(a\nb)" << QByteArray(R"(a\nb)");
    QTest::newRow("trailing backslash") << R"(end\)" << QByteArray(R"(end\)");
    QTest::newRow("unescaped specials") << "$(x) `y` $Z" << QByteArray("$(x) `y` $Z");
    QTest::newRow("utf-8") << QString::fromUtf8("caf\xc3\xa9") << QByteArray("caf\xc3\xa9");
    QTest::newRow("empty") << "" << QByteArray();
}

void StatusLine::quoteRemoval()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, file);
    QCOMPARE(status_line::shell_quote_removed(text), file);
}

void StatusLine::replaceFile()
{
    const QString path = tmp_.filePath("status.log");
    QVERIFY(status_line::replace_file(path, "first"));
    QVERIFY(status_line::replace_file(path, "second"));
    QCOMPARE(testsupport::readFile(path), QByteArray("second\n"));
    QVERIFY(QFileInfo(path).permissions() & QFileDevice::ReadOther);
    // Nothing but the target is left in the folder.
    QCOMPARE(QDir(tmp_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"status.log"});
    // A folder that does not exist: false, and nothing is created.
    QVERIFY(!status_line::replace_file(tmp_.filePath("no/such/status.log"), "x"));
    QVERIFY(!QFileInfo::exists(tmp_.filePath("no")));
}

void StatusLine::showLog()
{
    testsupport::ExchangeFileGuard guard({kLog});
    testsupport::StdoutCapture out;
    d_->show_log(R"({ \"gen_progress\" : 33 })");
    d_->show_log(R"({ \"gen_progress\" : 66 })");
    const QByteArray printed = out.finish();
    // Standard output shows the text as given, escapes included.
    QCOMPARE(printed, QByteArray("{ \\\"gen_progress\\\" : 33 }\n{ \\\"gen_progress\\\" : 66 }\n"));
    // The file holds only the last line, as plain JSON.
    QCOMPARE(testsupport::readFile(kLog), QByteArray("{ \"gen_progress\" : 66 }\n"));
}

void StatusLine::showLogRunsNothing()
{
    testsupport::ExchangeFileGuard guard({kLog});
    QTemporaryDir dir;
    const QString a = dir.filePath("made_by_dollar");
    const QString b = dir.filePath("made_by_backquote");
    const QString text = "{ \\\"x\\\" : \\\"$(touch " + a + ") `touch " + b + "`\\\" }";
    testsupport::StdoutCapture out;
    d_->show_log(text);
    out.finish();
    QVERIFY(!QFileInfo::exists(a));
    QVERIFY(!QFileInfo::exists(b));
    QCOMPARE(testsupport::readFile(kLog),
             ("{ \"x\" : \"$(touch " + a + ") `touch " + b + "`\" }\n").toUtf8());
}

void StatusLine::showLogReplacesALink()
{
    testsupport::ExchangeFileGuard guard({kLog});
    QTemporaryDir dir;
    const QString victim = dir.filePath("victim.txt");
    QVERIFY(testsupport::writeFile(victim, "keep me\n"));
    QVERIFY(QFile::link(victim, kLog));
    testsupport::StdoutCapture out;
    d_->show_log("{ \\\"n\\\" : 1 }");
    out.finish();
    QCOMPARE(testsupport::readFile(victim), QByteArray("keep me\n"));
    QVERIFY(!QFileInfo(kLog).isSymLink());
    QCOMPARE(testsupport::readFile(kLog), QByteArray("{ \"n\" : 1 }\n"));
}

// A /tmp that takes no more bytes: the earlier line would read as the current
// state, so it goes; stderr says why once, and the next write that fits is
// there again.
void StatusLine::failedWriteLeavesNoStaleLine()
{
    testsupport::ExchangeFileGuard guard({kLog});
    testsupport::StdoutCapture out;
    testsupport::StderrCapture err;
    d_->show_log(R"({ \"gen_progress\" : 10 })");
    QCOMPARE(testsupport::readFile(kLog), QByteArray("{ \"gen_progress\" : 10 }\n"));
    {
        // The limit holds for the captured output too: the stderr line fits
        // under it, the long status lines do not.
        const QString pad(300, QLatin1Char('x'));
        testsupport::FileSizeLimit limit(200);
        QVERIFY(limit.isActive());
        d_->show_log(R"({ \"gen_progress\" : 20, \"pad\" : \")" + pad + R"(\" })");
        QVERIFY(!QFileInfo::exists(kLog));
        d_->show_log(R"({ \"gen_progress\" : 30, \"pad\" : \")" + pad + R"(\" })");
        QVERIFY(!QFileInfo::exists(kLog));
    }
    d_->show_log(R"({ \"gen_progress\" : 40 })");
    out.finish();
    const QByteArray said = err.finish();
    QCOMPARE(testsupport::readFile(kLog), QByteArray("{ \"gen_progress\" : 40 }\n"));
    QCOMPARE(said.count("show_log: cannot write /tmp/varnex.log: "), 1);
    QCOMPARE(said.count('\n'), 1);
}

QTEST_MAIN(StatusLine)
#include "test_status_line.moc"
