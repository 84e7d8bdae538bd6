// The training executables as the trainer starts them: refusal of a network
// the 2018 engine cannot build, the end of a run for each way an engine ends
// (a fake engine through NOMU_DARKNET), SIGTERM, and short real trainings with
// Debian's darknet through rosrun.

#include "darknet_cfg.h"
#include "test_support.h"
#include "training_fixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>

class TstTrainingExecutable : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void refusesGroupedRouteOnTheLegacyEngine();
    void refusesWeightsItCannotCount();
    void trainsWhatOnlyTheServerRefuses();
    void endsAsTheEngineEnds_data();
    void endsAsTheEngineEnds();
    void sigtermEndsExecutableAndEngine();
    void fifoInputEndsPromptly_data();
    void fifoInputEndsPromptly();
    void fileSizeLimitFailsTheWrite();
    void cutWeightsNeverReplaceWholeOnes_data();
    void cutWeightsNeverReplaceWholeOnes();
    void summaryCountsWhatIsLeftOut_data();
    void summaryCountsWhatIsLeftOut();
    void trainsForRealThroughRosrun();
    void demoKnobEndsAfterFewIterations();

private:
    QStringList makeFolder(const QString& cfg, int images = 3);
    QProcessEnvironment environment(const QString& engine) const;
    // Starts the executable as the trainer does: through rosrun when `viaRosrun`.
    void start(QProcess& p, const QProcessEnvironment& env, bool viaRosrun,
               const QString& exe = QStringLiteral("darknet_cpu_")) const;
    QMap<QString, QStringList> engineRecord() const;

    QTemporaryDir* tmp_ = nullptr;
    QString root_;
    QString weights_;
};

namespace {

// The weights of fixture::nomuedDetCfg(52, ...) with 2 classes: 3393 floats
// after darknet's 20-byte header.
const qint64 kWeightsBytes = 13592;

bool processAlive(qint64 pid)
{
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return errno != ESRCH;
    // A zombie that nobody reaps (no init in a container) has ended too.
    const QByteArray stat = testsupport::readFile(QString("/proc/%1/stat").arg(pid));
    const int close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

QStringList progressLines(const QByteArray& out)
{
    QStringList lines;
    const QRegularExpression re("\n(\\[ [0-9]+ \\] [^\n]* images)\n");
    auto it = re.globalMatch(QString::fromUtf8(out));
    while (it.hasNext())
        lines << it.next().captured(1);
    return lines;
}

} // namespace

void TstTrainingExecutable::init()
{
    tmp_ = new QTemporaryDir;
    QVERIFY(tmp_->isValid());
    root_ = tmp_->path() + "/train";
    QVERIFY(QDir().mkpath(root_));
    // The pre-trained files live outside data and are absent here.
    weights_ = tmp_->path() + "/home/.nomu_core_install/share/d/yolov4-tiny.conv.29";
}

void TstTrainingExecutable::cleanup()
{
    delete tmp_;
    tmp_ = nullptr;
}

QStringList TstTrainingExecutable::makeFolder(const QString& cfg, int images)
{
    std::vector<fixture::Image> list;
    for (int i = 0; i < images; ++i)
        list.push_back({640, 480, {{0, 120 + 30 * i, 140 + 20 * i, 160, 120}, {1, 450, 330, 100, 100}}});
    return fixture::writeTrainingFolder(root_, list, {"red", "blue"}, cfg);
}

QProcessEnvironment TstTrainingExecutable::environment(const QString& engine) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("NOMU_DARKNET");
    env.remove("NOMU_TRAIN_MAX_BATCHES");
    if (!engine.isEmpty())
        env.insert("NOMU_DARKNET", engine);
    env.insert("FAKE_ENGINE_RECORD", tmp_->path() + "/engine.rec");
    env.insert("ROS_PACKAGE_PATH", NOMU_TEST_ROS_PACKAGE_PATH);
    env.insert("ROS_HOME", tmp_->path() + "/ros");
    env.insert("HOME", tmp_->path() + "/home");
    return env;
}

void TstTrainingExecutable::start(QProcess& p, const QProcessEnvironment& env, bool viaRosrun, const QString& exe) const
{
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(root_);
    // The trainer's command string, three blanks and the trailing one included.
    const QString rest = " detector train data/obj.data data/train.cfg \"" + weights_ + "\"   -dont_show ";
    const QString command = viaRosrun ? "rosrun nomu_lib_yolo " + exe + rest
                                      : QString(NOMU_TEST_ROS_PACKAGE_PATH) + "/nomu_lib_yolo/bin/" + exe + rest;
    QStringList args = QProcess::splitCommand(command);
    const QString program = args.takeFirst();
    p.start(program, args);
    QVERIFY2(p.waitForStarted(5000), qPrintable(p.errorString()));
}

QMap<QString, QStringList> TstTrainingExecutable::engineRecord() const
{
    QMap<QString, QStringList> rec;
    for (const QByteArray& line : testsupport::readFile(tmp_->path() + "/engine.rec").split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            rec[QString::fromUtf8(line.left(eq))] << QString::fromUtf8(line.mid(eq + 1));
    }
    return rec;
}

void TstTrainingExecutable::refusesGroupedRouteOnTheLegacyEngine()
{
    makeFolder(fixture::groupedRouteCfg(2));
    QProcess p;
    start(p, environment(QString()), false);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("darknet_cpu_: ") && err.contains("groups in [route] at line 27 of data/train.cfg")
                 && err.contains("NOMU_DARKNET"),
             qPrintable(err));
    QVERIFY(p.readAllStandardOutput().isEmpty());
    QVERIFY(!QFile::exists(root_ + "/data/nomu_engine"));

    // A newer engine builds the same description.
    QProcess q;
    start(q, environment(FAKE_ENGINE_PATH), false);
    QVERIFY(q.waitForFinished(10000));
    QCOMPARE(q.exitCode(), 0);
}

// Every save is checked against the weights the description needs: a
// description whose count the check cannot vouch for (here a [connected]
// layer, which darknet trains but the detection server does not load) is
// refused before anything is written.
void TstTrainingExecutable::refusesWeightsItCannotCount()
{
    QString cfg = fixture::nomuedDetCfg(52, 4, 1, 10, 2);
    cfg.replace("[yolo]", "[connected]\noutput=10\nactivation=leaky\n\n[yolo]");
    makeFolder(cfg);
    QProcess p;
    start(p, environment(FAKE_ENGINE_PATH), false);
    QVERIFY(p.waitForFinished(10000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 2, qPrintable(err));
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("darknet_cpu_: data/train.cfg: the size of its weights cannot be known: "), qPrintable(err));
    QVERIFY(!QFile::exists(root_ + "/data/nomu_engine"));
    QVERIFY(!QFile::exists(tmp_->path() + "/engine.rec"));
}

// The server refuses a network that would cost OpenCV too much to run; the
// engine trains it all the same, so the executables count its weights
// without that limit. At 608 pixels the fixture's head has 152 x 152 cells
// of 3 anchors: suppressing their boxes would take 2.4e9 comparisons.
void TstTrainingExecutable::trainsWhatOnlyTheServerRefuses()
{
    const QString cfg = fixture::nomuedDetCfg(608, 4, 1, 10, 2);
    darknet_cfg::NetInfo net;
    std::string why;
    QVERIFY(!darknet_cfg::analyse(cfg.toStdString(), &net, &why));
    QVERIFY2(QString::fromStdString(why).contains("comparisons"), why.c_str());
    makeFolder(cfg);
    QProcessEnvironment env = environment(FAKE_ENGINE_PATH);
    env.insert("FAKE_ENGINE_MODE", "train");
    QProcess p;
    start(p, env, false);
    QVERIFY(p.waitForFinished(20000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 0, qPrintable(err));
    QCOMPARE(QFileInfo(root_ + "/data/backup/train.backup").size(), kWeightsBytes);
}

void TstTrainingExecutable::endsAsTheEngineEnds_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("progress");
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QString>("message");

    QTest::newRow("2018 end") << "train" << 0 << 3 << true << "";
    QTest::newRow("newer engine, _last and _final") << "newer" << 0 << 3 << true << "";
    QTest::newRow("Couldn't open file, status 0") << "cant_open" << 1 << 0 << false
                                                  << "reported \"Couldn't open file: data/missing.txt\"";
    QTest::newRow("crash before any weights") << "crash_early" << 1 << 2 << false
                                              << "crashed by signal 11 (Segmentation fault) before any weights";
    QTest::newRow("crash after the final weights") << "crash_after_final" << 0 << 3 << true
                                                   << "after saving its final weights";
    QTest::newRow("status 0, nothing trained") << "nothing" << 1 << 0 << false << "without saving any weights";
    QTest::newRow("status 3") << "status3" << 3 << 0 << false << "ended with status 3";
}

void TstTrainingExecutable::endsAsTheEngineEnds()
{
    QFETCH(QString, mode);
    QFETCH(int, exitCode);
    QFETCH(int, progress);
    QFETCH(bool, backup);
    QFETCH(QString, message);

    makeFolder(fixture::nomuedDetCfg(52, 4, 1, 10, 2));
    QProcessEnvironment env = environment(FAKE_ENGINE_PATH);
    env.insert("FAKE_ENGINE_MODE", mode);
    QProcess p;
    start(p, env, false);
    QVERIFY(p.waitForFinished(20000));
    const QByteArray out = p.readAllStandardOutput();
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == exitCode, qPrintable(err));
    QCOMPARE(progressLines(out).size(), progress);
    QCOMPARE(QFile::exists(root_ + "/data/backup/train.backup"), backup);
    if (!message.isEmpty())
        QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY2(err.contains("start weights " + weights_ + " not found; training from scratch"), qPrintable(err));

    // The engine got the private data file, the trainer's description, no
    // missing weights, and (being a newer engine) -dont_show.
    const auto rec = engineRecord();
    QCOMPARE(rec.value("arg"), QStringList({"detector", "train", "data/nomu_engine/obj.data", "data/train.cfg",
                                            "-dont_show"}));
    QCOMPARE(rec.value("cwd"), QStringList(QFileInfo(root_).canonicalFilePath()));
    QCOMPARE(rec.value("stdout_tty"), QStringList("1"));
    if (mode == "train") {
        QCOMPARE(progressLines(out).first(),
                 QString("[ 1 ] 10.000000, 12.000000 avg, 0.001000 rate, 0.250000 seconds, 4 images"));
        QVERIFY(out.contains("Loaded: 0.000100 seconds\n"));
        // The engine's final save, published under its name and as the backup.
        const QByteArray final = testsupport::readFile(root_ + "/data/backup/train_final.weights");
        QCOMPARE(final.size(), int(kWeightsBytes));
        QCOMPARE(testsupport::readFile(root_ + "/data/backup/train.backup"), final);
    }
}

void TstTrainingExecutable::sigtermEndsExecutableAndEngine()
{
    makeFolder(fixture::nomuedDetCfg(52, 4, 1, 10, 2));
    QProcessEnvironment env = environment(FAKE_ENGINE_PATH);
    env.insert("FAKE_ENGINE_MODE", "forever");
    QProcess p;
    start(p, env, false);
    // The fake prints through stdio without flushing: lines arrive one by one
    // only because the executable gives it a terminal.
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).contains("\n[ 2 ] "), 10000);
    const auto rec = engineRecord();
    QCOMPARE(rec.value("pid").size(), 1);
    const qint64 engine = rec.value("pid").first().toLongLong();
    const qint64 child = rec.value("child").value(0).toLongLong();
    QVERIFY(engine > 0 && child > 0);
    QVERIFY(processAlive(engine) && processAlive(child));

    QElapsedTimer clock;
    clock.start();
    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + SIGTERM);
    // The engine itself received SIGTERM (it is not left to the SIGKILL that
    // follows five seconds later).
    QCOMPARE(testsupport::readFile(tmp_->path() + "/engine.rec.term"), QByteArray("term\n"));
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(engine), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(child), 5000);
}

void TstTrainingExecutable::fifoInputEndsPromptly_data()
{
    QTest::addColumn<QString>("input"); // which input becomes a FIFO
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString notRegular = " is not a regular file";
    QTest::newRow("description") << "data/train.cfg" << 2
                                 << "cannot read the network description data/train.cfg: data/train.cfg" + notRegular;
    QTest::newRow("data file") << "data/obj.data" << 2
                               << "cannot read the data file data/obj.data: data/obj.data" + notRegular;
    QTest::newRow("training list") << "data/train.txt" << 2
                                   << "cannot read the training list data/train.txt: data/train.txt" + notRegular;
    // The image goes, the others are trained.
    QTest::newRow("label text") << "label" << 0 << " cannot be read (%1" + notRegular + "); image left out of training";
    // Like start weights that do not exist.
    QTest::newRow("start weights") << "weights" << 0
                                   << "start weights not used (%1" + notRegular + "); training from scratch";
}

// A FIFO at an input's name, with nobody writing to it: the run never waits
// on it, and says which file it refused.
void TstTrainingExecutable::fifoInputEndsPromptly()
{
    QFETCH(QString, input);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    const QStringList images = makeFolder(fixture::nomuedDetCfg(52, 4, 1, 10, 2));
    QString path = input;
    if (input == "label") {
        path = images.first();
        path.replace(".jpg", ".txt");
        message = message.arg(path);
        message.prepend("label text " + path + " of " + images.first());
    } else if (input == "weights") {
        path = weights_;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        message = message.arg(path);
    }
    const QString fifo = QDir(root_).absoluteFilePath(path);
    QFile::remove(fifo);
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);

    QProcess p;
    start(p, environment(FAKE_ENGINE_PATH), false);
    QVERIFY2(p.waitForFinished(15000), "the executable waits on the FIFO");
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == exitCode, qPrintable(err));
    QVERIFY2(err.contains("darknet_cpu_: " + message), qPrintable(err));
    if (input == "label")
        QVERIFY2(err.contains("2 images with 4 objects decoded"), qPrintable(err));
    if (exitCode == 0)
        QVERIFY(!engineRecord().value("arg").contains(weights_));
}

namespace {

// A process started under a file-size limit (its signal dispositions are left
// as they are, so SIGXFSZ would end it unless it ignores that itself).
class LimitedProcess : public QProcess {
public:
    explicit LimitedProcess(rlim_t limit) : limit_(limit) {}

protected:
    void setupChildProcess() override
    {
        const rlimit r{limit_, limit_};
        ::setrlimit(RLIMIT_FSIZE, &r);
    }

private:
    rlim_t limit_;
};

} // namespace

// A label text beyond the limit fails its write: a refusal with the reason,
// not a death by SIGXFSZ (signal 25).
void TstTrainingExecutable::fileSizeLimitFailsTheWrite()
{
    std::vector<fixture::Box> boxes;
    for (int i = 0; i < 300; ++i)
        boxes.push_back({i % 2, 100 + i, 100 + i / 2, 40, 30});
    fixture::writeTrainingFolder(root_, {{640, 480, boxes}}, {"red", "blue"}, fixture::nomuedDetCfg(52, 4, 1, 10, 2));

    LimitedProcess p(4096);
    start(p, environment(FAKE_ENGINE_PATH), false);
    QVERIFY(p.waitForFinished(15000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitStatus() == QProcess::NormalExit, "ended by a signal");
    QVERIFY2(p.exitCode() == 2, qPrintable(err));
    QVERIFY2(err.contains("darknet_cpu_: cannot write data/nomu_engine/img/1.txt: "
                          + QString::fromLocal8Bit(std::strerror(EFBIG))),
             qPrintable(err));
    QVERIFY(!QFile::exists(root_ + "/data/nomu_engine/img/1.txt"));
}

void TstTrainingExecutable::cutWeightsNeverReplaceWholeOnes_data()
{
    QTest::addColumn<QString>("engine"); // "fake" or "darknet" (Debian's, through rosrun)
    QTest::addColumn<QString>("knob");   // a FAKE_ENGINE_ knob set to 1 for the limited run
    QTest::addColumn<QStringList>("messages");

    const QString sigxfsz = "training failed: the engine was ended by signal 25 (File size limit exceeded): a file "
                            "it wrote reached the file-size limit";
    const QString cutBackup = "weights file data/nomu_engine/backup//train.backup holds 8192 bytes; the description "
                              "needs 13592 (a 20-byte header and 3393 floats); data/backup/train.backup is not replaced";
    const QString finalCut = "training failed: the final weights could not be saved whole as "
                             "data/backup/train_final.weights, which keeps what it held";
    // The engine's first write beyond the limit ends it, in its first save.
    QTest::newRow("engine ended by SIGXFSZ") << "fake" << QString() << QStringList{cutBackup, sigxfsz};
    QTest::newRow("Debian's darknet ended by SIGXFSZ") << "darknet" << QString() << QStringList{cutBackup, sigxfsz};
    // An engine that ignores SIGXFSZ goes on after each cut save.
    QTest::newRow("engine goes on after cut saves")
        << "fake" << "FAKE_ENGINE_IGNORE_XFSZ"
        << QStringList{cutBackup,
                       "weights file data/nomu_engine/backup//train_final.weights holds 8192 bytes; the description "
                       "needs 13592 (a 20-byte header and 3393 floats); data/backup/train_final.weights is not replaced",
                       finalCut};
    // The engine's saves are whole; the executable's copies meet the limit.
    QTest::newRow("copies into data/backup cut")
        << "fake" << "FAKE_ENGINE_RAISE_FSIZE"
        << QStringList{"cannot copy data/nomu_engine/backup//train.backup to data/backup/train.backup: ",
                       "cannot copy data/nomu_engine/backup//train_final.weights to data/backup/train_final.weights: ",
                       finalCut};
}

// A good backup from an earlier run, then 101 iterations (saves at 100 and the
// final one) under an 8 KiB file-size limit set in the child, as "ulimit -f 8"
// does, with weights of 13,592 bytes: no file of data/backup/ is replaced by a
// cut one, and the run fails naming the file.
void TstTrainingExecutable::cutWeightsNeverReplaceWholeOnes()
{
    QFETCH(QString, engine);
    QFETCH(QString, knob);
    QFETCH(QStringList, messages);
    const bool real = engine == "darknet";
    if (real && (!QFile::exists("/usr/bin/darknet") || !QFile::exists("/usr/bin/rosrun")))
        QSKIP("Debian's darknet and rosbash are not installed (scripts/setup installs them)");

    makeFolder(fixture::nomuedDetCfg(52, 2, 1, 500200, 2), 3);
    QProcessEnvironment env = environment(real ? QString() : QString(FAKE_ENGINE_PATH));
    env.insert("NOMU_TRAIN_MAX_BATCHES", "2");
    env.insert("FAKE_ENGINE_ITERATIONS", "2");
    {
        QProcess first;
        start(first, env, real);
        QVERIFY(first.waitForFinished(60000));
        QVERIFY2(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0,
                 first.readAllStandardError().right(2000).constData());
    }
    const QString backup = root_ + "/data/backup/";
    const QByteArray good = testsupport::readFile(backup + "train.backup");
    QCOMPARE(good.size(), int(kWeightsBytes));
    QCOMPARE(QDir(backup).entryList(QDir::Files), QStringList({"train.backup", "train_final.weights"}));
    const QByteArray goodFinal = testsupport::readFile(backup + "train_final.weights");

    env.insert("NOMU_TRAIN_MAX_BATCHES", "101");
    env.insert("FAKE_ENGINE_ITERATIONS", "101");
    if (!knob.isEmpty())
        env.insert(knob, "1");
    testsupport::FileSizeLimitedProcess p(8192);
    start(p, env, real);
    QVERIFY(p.waitForFinished(100000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitStatus() == QProcess::NormalExit, "ended by a signal");
    QVERIFY2(p.exitCode() == 1, qPrintable(err.right(3000)));
    for (const QString& m : messages)
        QVERIFY2(err.contains("darknet_cpu_: " + m),
                 qPrintable(m + "\n---\n" + err.right(3000)));
    QVERIFY2(progressLines(p.readAllStandardOutput()).size() >= 100, qPrintable(err.right(2000)));

    // The good backup and final weights stay; nothing cut is in the folder.
    QCOMPARE(testsupport::readFile(backup + "train.backup"), good);
    QCOMPARE(testsupport::readFile(backup + "train_final.weights"), goodFinal);
    for (const QFileInfo& f : QDir(backup).entryInfoList(QDir::Files | QDir::Hidden))
        QVERIFY2(f.size() == kWeightsBytes, qPrintable(f.fileName() + ": " + QString::number(f.size())));
}

void TstTrainingExecutable::summaryCountsWhatIsLeftOut_data()
{
    QTest::addColumn<QByteArray>("extraLines"); // added to the first image's label text
    QTest::addColumn<bool>("removeImage");      // the last image's JPEG goes
    QTest::addColumn<QString>("summary");

    const QString line = "darknet_cpu_: %1 images with %2 objects decoded into data/nomu_engine";
    QTest::newRow("all in") << QByteArray() << false << line.arg(3).arg(6) + "\n";
    QTest::newRow("box outside, box of no size")
        << QByteArray("16 0.8 0.2 0.2 0.2 \n16 0.2 0.2 0.2 0 \n") << false
        << line.arg(3).arg(6) + " (2 boxes left out)\n";
    QTest::newRow("image left out") << QByteArray() << true << line.arg(2).arg(4) + " (1 images left out)\n";
    QTest::newRow("both") << QByteArray("16 0.8 0.2 0.2 0.2 \n") << true
                          << line.arg(2).arg(4) + " (1 images left out, 1 boxes left out)\n";
    // A refused line is counted on a line of its own.
    QTest::newRow("bad line") << QByteArray("451 1e308 0.5 1e308 0.5\n") << false << line.arg(3).arg(6) + "\n";
}

// The run's summary line counts the boxes left out, as it counts the images.
void TstTrainingExecutable::summaryCountsWhatIsLeftOut()
{
    QFETCH(QByteArray, extraLines);
    QFETCH(bool, removeImage);
    QFETCH(QString, summary);

    const QStringList images = makeFolder(fixture::nomuedDetCfg(52, 4, 1, 10, 2));
    QFile label(root_ + "/" + QString(images.first()).replace(".jpg", ".txt"));
    QVERIFY(label.open(QIODevice::Append));
    label.write(extraLines);
    label.close();
    if (removeImage)
        QVERIFY(QFile::remove(root_ + "/" + images.last()));
    QProcess p;
    start(p, environment(FAKE_ENGINE_PATH), false);
    QVERIFY(p.waitForFinished(20000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(err));
    QVERIFY2(err.contains(summary), qPrintable(err));
    if (extraLines.contains("1e308"))
        QVERIFY2(err.contains(label.fileName().mid(root_.size() + 1) + " line 3: cy \"1e308\" is out of range; line "
                              "skipped\ndarknet_cpu_: 1 label line(s) refused in all\n"),
                 qPrintable(err));
}

void TstTrainingExecutable::trainsForRealThroughRosrun()
{
    if (!QFile::exists("/usr/bin/darknet") || !QFile::exists("/usr/bin/rosrun"))
        QSKIP("Debian's darknet and rosbash are not installed (scripts/setup installs them)");
    // 101 iterations: the 2018 engine writes <base>.backup every 100.
    makeFolder(fixture::nomuedDetCfg(52, 2, 1, 101, 2), 4);
    const QByteArray cfgBefore = testsupport::readFile(root_ + "/data/train.cfg");
    QProcess p;
    start(p, environment(QString()), true);
    QVERIFY(p.waitForFinished(100000));
    const QByteArray out = p.readAllStandardOutput();
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(err.right(2000)));

    const QStringList lines = progressLines(out);
    QCOMPARE(lines.size(), 101);
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines[i].startsWith(QString("[ %1 ] ").arg(i + 1)), qPrintable(lines[i]));
    QVERIFY(QRegularExpression("^\\[ 101 \\] [-0-9.na]+, [-0-9.na]+ avg, [0-9.]+ rate, [0-9.]+ seconds, 202 images$")
                .match(lines.last())
                .hasMatch());
    QVERIFY2(err.contains("4 images with 8 objects decoded into data/nomu_engine"), qPrintable(err));
    QVERIFY(err.contains("not found; training from scratch"));

    const QFileInfo backup(root_ + "/data/backup/train.backup");
    QVERIFY(backup.exists());
    QVERIFY(backup.size() > 20);
    QCOMPARE(backup.size(), QFileInfo(root_ + "/data/backup/train_final.weights").size());
    // The engine's saves, each checked and published under its own name: a
    // 20-byte header (major 0, minor 2, revision 0, 64-bit images seen) and
    // the description's floats. The final weights become the backup.
    QCOMPARE(QDir(root_ + "/data/backup").entryList(QDir::Files),
             QStringList({"train.backup", "train_100.weights", "train_final.weights"}));
    for (const char* name : {"train.backup", "train_100.weights", "train_final.weights"}) {
        const QByteArray w = testsupport::readFile(root_ + "/data/backup/" + name);
        QCOMPARE(w.size(), int(kWeightsBytes));
        QCOMPARE(w.left(12), QByteArray("\0\0\0\0\2\0\0\0\0\0\0\0", 12));
    }
    QCOMPARE(testsupport::readFile(root_ + "/data/backup/train.backup"),
             testsupport::readFile(root_ + "/data/backup/train_final.weights"));
    QCOMPARE(QDir(root_ + "/data/nomu_engine/backup").entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(root_ + "/data/nomu_engine/check").entryList(QDir::Files), QStringList());
    QCOMPARE(testsupport::readFile(root_ + "/data/train.cfg"), cfgBefore);
}

void TstTrainingExecutable::demoKnobEndsAfterFewIterations()
{
    if (!QFile::exists("/usr/bin/darknet") || !QFile::exists("/usr/bin/rosrun"))
        QSKIP("Debian's darknet and rosbash are not installed (scripts/setup installs them)");
    makeFolder(fixture::nomuedDetCfg(52, 2, 1, 500200, 2), 2);
    QProcessEnvironment env = environment(QString());
    env.insert("NOMU_TRAIN_MAX_BATCHES", "3");
    QProcess p;
    start(p, env, true);
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitCode() == 0, qPrintable(err.right(2000)));
    const QStringList lines = progressLines(p.readAllStandardOutput());
    QCOMPARE(lines.size(), 3);
    QVERIFY(err.contains("NOMU_TRAIN_MAX_BATCHES=3: training ends after 3 iterations"));
    // Fewer than 100 iterations: the final weights become the backup.
    QVERIFY(QFile::exists(root_ + "/data/backup/train.backup"));
    QCOMPARE(testsupport::readFile(root_ + "/data/backup/train.backup"),
             testsupport::readFile(root_ + "/data/backup/train_final.weights"));
    QVERIFY(testsupport::readFile(root_ + "/data/train.cfg").contains("max_batches = 500200"));
    QVERIFY(!QFile::exists(root_ + "/data/nomu_engine/train.cfg"));
}

QTEST_GUILESS_MAIN(TstTrainingExecutable)
#include "tst_training_executable.moc"
