// The real trainer binary in its "train" run mode, driven as a controlling
// program drives it: state file, status line, stop file, exit status; with
// real rosrun and the fake ROS package.

#include "test_support.h"
#include "train_fixture.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

using namespace trainfixture;

namespace {

const QString kLog = "/tmp/varnex.log";
const QString kStop = "/tmp/varnex.stop";
const QString kGen = "/tmp/varnex_gen";
const QString kState = "/tmp/varnex.json";

// The latest status line when it reports an iteration above 0.
bool progressReported(QByteArray* line)
{
    *line = testsupport::readFile(kLog);
    return QJsonDocument::fromJson(*line).object()["train_state"].toObject()["intr"].toInt() > 0;
}

} // namespace

class TrainBinary : public QObject {
    Q_OBJECT

private slots:
    void trainUntilStopFile_data();
    void trainUntilStopFile();
};

// The stop file ends the trainer with status 0 whether the training still
// runs (it is stopped first) or has already ended by itself (the trainer
// stays up until then).
void TrainBinary::trainUntilStopFile_data()
{
    QTest::addColumn<bool>("ignoreTerm");
    QTest::addColumn<int>("iterations"); // 0: the training runs until stopped
    QTest::newRow("training ends on SIGTERM") << false << 0;
    QTest::newRow("training ignores SIGTERM") << true << 0;
    QTest::newRow("training ended by itself") << false << 20;
}

void TrainBinary::trainUntilStopFile()
{
    QFETCH(bool, ignoreTerm);
    QFETCH(int, iterations);
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString home = base.filePath("home");
    const QString folder = base.filePath("my training");
    const QString record = base.filePath("record");
    const QByteArray tag = "nomu-train-binary-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    QVERIFY(QDir().mkpath(home));
    QVERIFY(QDir().mkpath(base.filePath("tmp")));
    QVERIFY(makeTrainingFolder(folder));
    QJsonObject state;
    state["path_gen"] = folder;
    QVERIFY(testsupport::writeFile(kState, QJsonDocument(state).toJson()));

    QProcess p;
    QProcessEnvironment env = testsupport::programEnvironment(home);
    env.remove("NOMU_LIB_YOLO_GPU"); // the probe answers as on any machine
    env.insert("TMPDIR", base.filePath("tmp"));
    env.insert("ROS_PACKAGE_PATH", NOMU_FAKE_ROS);
    env.insert("ROS_HOME", base.filePath("roshome"));
    env.insert("FAKE_DARKNET_LOG", record);
    env.insert("FAKE_INTERVAL", "0.2");
    env.insert("FAKE_TAG", QString::fromUtf8(tag));
    env.insert("FAKE_IGNORE_TERM", ignoreTerm ? "1" : "0");
    if (iterations > 0)
        env.insert("FAKE_ITERS", QString::number(iterations));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    QElapsedTimer clock;
    clock.start();
    p.start(NOMU_TRAINER_BIN, {"train"});
    QVERIFY(p.waitForStarted(10000));

    QByteArray line;
    QTRY_VERIFY_WITH_TIMEOUT(progressReported(&line), 20000);
    qInfo("status line with intr > 0 after %lld ms: %s", clock.elapsed(), line.trimmed().constData());
    const QRegularExpression form(R"re(^\{"train_state":\{"avg":[0-9.]+,"backend":"(GPU|CPU)","intr":[1-9]\d*,)re"
                                  R"re("time_sec":[1-9]\d*,"time_str":"\d\d:\d\d:\d\d"\}\}\n$)re");
    QVERIFY2(form.match(QString::fromUtf8(line)).hasMatch(), line.constData());

    const Record r = readRecord(record);
    QVERIFY(r.valid);
    QCOMPARE(r.cwd, folder);
    QCOMPARE(r.args, (QStringList{"detector", "train", "data/obj.data", "data/train.cfg",
                                  home + "/.nomu_core_install/share/d/yolov4-tiny.conv.29", "-dont_show"}));
    const QString backend = QJsonDocument::fromJson(line).object()["train_state"].toObject()["backend"].toString();
    QCOMPARE(r.exe, QString(backend == "GPU" ? "darknet_" : "darknet_cpu_"));

    if (iterations > 0) {
        // The training ends; the trainer stays up and waits for the stop file.
        const QString trainer = QString::number(p.processId());
        const auto training = [&] {
            QStringList pids = processesTagged(tag);
            pids.removeAll(trainer);
            return pids;
        };
        QTRY_VERIFY_WITH_TIMEOUT(training().isEmpty(), 20000);
        QVERIFY(!p.waitForFinished(1000));
    }

    // The controlling program asks for the end.
    QVERIFY(testsupport::writeFile(kStop, ""));
    clock.restart();
    QVERIFY2(p.waitForFinished(30000), "the trainer did not end");
    qInfo("trainer ended %lld ms after the stop file", clock.elapsed());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(kStop));
    QCOMPARE(readRecord(record).term, !ignoreTerm && iterations == 0);
    // No training outlives the trainer.
    QTRY_VERIFY_WITH_TIMEOUT(processesTagged(tag).isEmpty(), 2000);
}

QTEST_GUILESS_MAIN(TrainBinary)
#include "test_train_binary.moc"
