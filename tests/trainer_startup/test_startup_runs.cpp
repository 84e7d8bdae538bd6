// Runs the real trainer binary offscreen, as a controlling program would, in
// each run mode of the command line and the state file.

#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString kLog = "/tmp/varnex.log";
const QString kStop = "/tmp/varnex.stop";
const QString kGen = "/tmp/varnex_gen";
const QString kState = "/tmp/varnex.json";

} // namespace

class StartupRuns : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void runModes_data();
    void runModes();
    void genLoadsTheProject();
    void refusesUnreplaceableFile_data();
    void refusesUnreplaceableFile();

private:
    QTemporaryDir home_;
    QTemporaryDir bin_;
};

void StartupRuns::initTestCase()
{
    QVERIFY(home_.isValid());
    QVERIFY(bin_.isValid());
    // Open to the unprivileged user some runs use.
    QVERIFY(::chmod(QFile::encodeName(home_.path()).constData(), 0777) == 0);
    // Quick, fixed board answers: an x86 desktop.
    QVERIFY(testsupport::writeFile(bin_.filePath("cat"), "#!/bin/sh\nexit 1\n"));
    QFile::setPermissions(bin_.filePath("cat"), QFile::permissions(bin_.filePath("cat")) | QFile::ExeOwner);
    QVERIFY(testsupport::writeFile(bin_.filePath("lsb_release"), "#!/bin/sh\necho 'Distributor ID: Test'\n"));
    QFile::setPermissions(bin_.filePath("lsb_release"),
                          QFile::permissions(bin_.filePath("lsb_release")) | QFile::ExeOwner);
}

void StartupRuns::runModes_data()
{
    QTest::addColumn<bool>("hasState");
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("exits");       // false: still running (window shown)
    QTest::addColumn<QString>("stderrHas");

    QTest::newRow("no state, gen") << false << QByteArray() << QStringList{"gen"} << true << QString();
    QTest::newRow("array state, gen") << true << QByteArray("[1]") << QStringList{"gen"} << true
                                      << QString("read json error");
    QTest::newRow("broken state, gen ignored")
        << true << QByteArray("{") << QStringList{"gen"} << false << QString("fromJson failed: unterminated object");
    QTest::newRow("object state, gen") << true << QByteArray(R"({"cmb_model":"V7"})") << QStringList{"gen"} << true
                                       << QString();
    QTest::newRow("GEN is not a word") << false << QByteArray() << QStringList{"GEN"} << false << QString();
    QTest::newRow("no word") << false << QByteArray() << QStringList{} << false << QString();
    QTest::newRow("gen train") << false << QByteArray() << QStringList{"gen", "train"} << true << QString();
    QTest::newRow("train gen") << false << QByteArray() << QStringList{"train", "gen"} << true << QString();
}

void StartupRuns::runModes()
{
    QFETCH(bool, hasState);
    QFETCH(QByteArray, state);
    QFETCH(QStringList, args);
    QFETCH(bool, exits);
    QFETCH(QString, stderrHas);

    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    // Leftovers of an earlier run: a log that must go, no stop file, no gen folder.
    QVERIFY(testsupport::writeFile(kLog, "{ \"old\" : 1 }\n"));
    if (hasState)
        QVERIFY(testsupport::writeFile(kState, state));

    QProcess p;
    QProcessEnvironment env = testsupport::programEnvironment(home_.path(), bin_.path());
    env.insert("NOMU_LIB_YOLO_GPU", "0");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home_.path());
    p.start(NOMU_TRAINER_BIN, args);
    QVERIFY(p.waitForStarted(10000));

    QByteArray errSoFar;
    if (exits) {
        QVERIFY2(p.waitForFinished(60000), "the trainer did not end");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    } else {
        // Wait for start-up to finish (its last step leaves the gen folder and,
        // for a broken state file, the parser's message), however loaded the
        // machine is; the window must then stay.
        QElapsedTimer clock;
        clock.start();
        bool ready = false;
        while (!ready && clock.elapsed() < 30000) {
            QVERIFY2(!p.waitForFinished(100), "the trainer ended although its window should stay");
            errSoFar += p.readAllStandardError();
            ready = QFileInfo(kGen).isDir() && QFileInfo(kStop).isFile()
                    && (stderrHas.isEmpty() || QString::fromUtf8(errSoFar).contains(stderrHas));
        }
        QVERIFY2(ready, "start-up did not finish within 30 s");
        QVERIFY2(!p.waitForFinished(1000), "the trainer ended although its window should stay");
        errSoFar += p.readAllStandardError();
        p.kill();
        p.waitForFinished(5000);
    }
    const QString err = QString::fromUtf8(errSoFar + p.readAllStandardError());
    if (!stderrHas.isEmpty())
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
    if (stderrHas != "read json error")
        QVERIFY(!err.contains("read json error"));

    QVERIFY(!QFileInfo::exists(kLog));
    // Start-up touches the stop file; the word "train", when it is looked at
    // (before any "gen"), starts a train operation, which removes it again.
    const int train = args.indexOf("train");
    const int gen = args.indexOf("gen");
    const bool trainRan = train >= 0 && (gen < 0 || train < gen);
    QCOMPARE(QFileInfo(kStop).isFile(), !trainRan);
    QVERIFY(QFileInfo(kGen).isDir());
}

// A "gen" run opens the state file's project and ground truth before it
// generates.
void StartupRuns::genLoadsTheProject()
{
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    QTemporaryDir prj;
    // Two small PNG files (a 1 x 1 image each) and their ground truth.
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC");
    QVERIFY(testsupport::writeFile(prj.filePath("a.png"), png));
    QVERIFY(testsupport::writeFile(prj.filePath("b.png"), png));
    QVERIFY(testsupport::writeFile(
        prj.filePath("labels.gt"),
        R"([{"filename":"a.png","obj_array":[{"bbox":"0,0,1,1","center":"0,0","color":"0,0,0","label":"car",
            "label_index":0,"landmark":"","landmark_len":0}]}])"));
    const QString state = QString(R"({"prj_path":"%1","gt_path":"%2"})").arg(prj.path(), prj.filePath("labels.gt"));
    QVERIFY(testsupport::writeFile(kState, state.toUtf8()));

    QProcess p;
    p.setProcessEnvironment(testsupport::programEnvironment(home_.path(), bin_.path()));
    p.start(NOMU_TRAINER_BIN, {"gen"});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.contains("[Varnex] : load gt finished\n"), qPrintable(out));
}

void StartupRuns::refusesUnreplaceableFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("how"); // "other user": root's file, the trainer runs unprivileged
    QTest::addColumn<QString>("why");
    const QString sticky = "it belongs to another user (uid 0) and /tmp is sticky";
    QTest::newRow("status log of another user") << kLog << "other user" << sticky;
    QTest::newRow("stop file of another user") << kStop << "other user" << sticky;
    QTest::newRow("immutable status log") << kLog << "immutable" << "it is immutable";
    QTest::newRow("immutable stop file") << kStop << "immutable" << "it is immutable";
}

// A status file that stays would show another run's state after all the
// trainer does; a stop file that stays would stop every training at once.
// The trainer ends before it works: nothing is generated.
void StartupRuns::refusesUnreplaceableFile()
{
    QFETCH(QString, path);
    QFETCH(QString, how);
    QFETCH(QString, why);
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    const QByteArray old = "{ \"state\" : \"another run\" }\n";
    QVERIFY(testsupport::writeFile(path, old));
    if (how == "immutable" && !testsupport::setImmutable(path, true))
        QSKIP("the immutable attribute cannot be set here");

    QProcess p;
    p.setProcessEnvironment(testsupport::programEnvironment(home_.path(), bin_.path()));
    p.setWorkingDirectory(home_.path());
    const QStringList command = how == "other user" ? testsupport::unprivilegedCommand(NOMU_TRAINER_BIN, {"gen"})
                                                    : QStringList{NOMU_TRAINER_BIN, "gen"};
    p.start(command.first(), command.mid(1));
    QVERIFY(p.waitForStarted(10000));
    const bool finished = p.waitForFinished(60000);
    if (!finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    if (how == "immutable")
        QVERIFY(testsupport::setImmutable(path, false));
    QVERIFY(finished);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() != 0, qPrintable(err));
    QVERIFY2(err.contains("nomu_pelto_varnex: cannot replace " + path + ": " + why + "\n"), qPrintable(err));
    QVERIFY(!QFileInfo::exists(kGen));
    QCOMPARE(testsupport::readFile(path), old);
}

QTEST_GUILESS_MAIN(StartupRuns)
#include "test_startup_runs.moc"
