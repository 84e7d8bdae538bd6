// The stop file the launcher leaves at start: an empty file at
// /tmp/varnex.stop, put there by rename, so that a link planted at the name is
// replaced and the file it names is neither written nor created (as root that
// could be any file).
#include "dialog_varnex.h"
#include "nomu_pelto_varnex_main_window.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kStop = "/tmp/varnex.stop";

} // namespace

class TstStopFile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { guard_.reset(); }
    void stopFileAtStart_data();
    void stopFileAtStart();

private:
    testsupport::DialogEnvironment env_;
    // Held for the whole test: one wait for the machine-wide lock, not one per row.
    std::unique_ptr<testsupport::ExchangeFileGuard> guard_;
};

void TstStopFile::initTestCase()
{
    QVERIFY(env_.setUp());
    guard_.reset(
        new testsupport::ExchangeFileGuard({"/tmp/varnex.log", kStop, "/tmp/varnex_gen", "/tmp/varnex.json"}));
}

void TstStopFile::stopFileAtStart_data()
{
    QTest::addColumn<QString>("before"); // what lies at the name before the start
    QTest::newRow("nothing") << "nothing";
    QTest::newRow("a stop file") << "file";
    QTest::newRow("link to a file") << "link";
    QTest::newRow("dangling link") << "dangling link";
}

void TstStopFile::stopFileAtStart()
{
    QFETCH(QString, before);
    QFile::remove(kStop);
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    if (before == "file")
        QVERIFY(testsupport::writeFile(kStop, "left by an earlier run"));
    if (before == "link")
        QVERIFY(testsupport::writeFile(victim, "victim"));
    if (before.contains("link"))
        QVERIFY(QFile::link(victim, kStop));

    char name[] = "nomu_pelto_varnex";
    char* argv[] = {name, nullptr};
    nomu_pelto_varnex::nomu_pelto_varnex_main_window w(1, argv);
    delete w.dialog;

    const QFileInfo stop(kStop);
    QVERIFY(stop.isFile() && !stop.isSymLink());
    QCOMPARE(stop.size(), 0);
    QCOMPARE(stop.permissions() & (QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther),
             QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QCOMPARE(QFileInfo::exists(victim), before == "link");
    if (before == "link")
        QCOMPARE(testsupport::readFile(victim), QByteArray("victim"));
}

QTEST_MAIN(TstStopFile)
#include "tst_stop_file.moc"
