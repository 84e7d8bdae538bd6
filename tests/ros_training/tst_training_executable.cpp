// The training executables as the trainer starts them: refusal of a network
// the 2018 engine cannot build, the end of a run for each way an engine ends
// (a fake engine through NOMU_DARKNET), SIGTERM, and short real trainings with
// Debian's darknet through rosrun.

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
    void endsAsTheEngineEnds_data();
    void endsAsTheEngineEnds();
    void sigtermEndsExecutableAndEngine();
    void fifoInputEndsPromptly_data();
    void fifoInputEndsPromptly();
    void fileSizeLimitFailsTheWrite();
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
        QCOMPARE(testsupport::readFile(root_ + "/data/backup/train.backup"), QByteArray(1000, 'w'));
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
