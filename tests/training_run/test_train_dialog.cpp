// The train operation of the main dialog in-process, with real rosrun and the
// fake ROS package under fake_ros/: the command it starts, the progress it
// reads, the status line, the stop file, Stop, the buttons, and a quit during
// a run. Runs once with and once without a GPU (NOMU_LIB_YOLO_GPU).

#include "dialog_varnex.h"
#include "simplecrypt.h"
#include "test_support.h"
#include "train_fixture.h"
#include "ui_dialog_varnex.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <memory>

using namespace trainfixture;

namespace {

const QString kLog = "/tmp/varnex.log";
const QString kStop = "/tmp/varnex.stop";
const QString kStopped = "\n############ Stopped ##############";

bool gpuForced()
{
    return qgetenv("NOMU_LIB_YOLO_GPU") == "1";
}

void invoke(DialogVarnex* d, const char* slot)
{
    QVERIFY(QMetaObject::invokeMethod(d, slot, Qt::DirectConnection));
}

} // namespace

class TrainDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void command_data();
    void command();
    void overrideStep_data();
    void overrideStep();
    void overrideRegenerates_data();
    void overrideRegenerates();
    void protectedDescription();
    void progressAndStatus();
    void stopFile();
    void noPath_data();
    void noPath();
    void cannotStart_data();
    void cannotStart();
    void chunksFromProcess();
    void divergedRun_data();
    void divergedRun();
    void buttons();
    void quitLeavesNoChild_data();
    void quitLeavesNoChild();

private:
    void startAndWaitForRecord(Record* r);

    QTemporaryDir base_;
    QString home_;
    QString tmp_;
    QString folder_;
    QString record_;
    QByteArray tag_;
    std::vector<std::unique_ptr<testsupport::ScopedEnv>> env_;
    std::unique_ptr<testsupport::ExchangeFileGuard> guard_;
    std::unique_ptr<DialogVarnex> d_;
};

void TrainDialog::initTestCase()
{
    QVERIFY(base_.isValid());
    home_ = base_.filePath("home");
    tmp_ = base_.filePath("tmp");
    QVERIFY(QDir().mkpath(home_));
    QVERIFY(QDir().mkpath(tmp_));
    QVERIFY(QDir().mkpath(base_.filePath("roshome")));
    record_ = base_.filePath("record");
    tag_ = "nomu-train-test-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    auto set = [this](const char* name, const QByteArray& value) {
        env_.emplace_back(new testsupport::ScopedEnv(name, value));
    };
    set("HOME", home_.toUtf8());
    set("TMPDIR", tmp_.toUtf8());
    set("ROS_PACKAGE_PATH", NOMU_FAKE_ROS);
    set("ROS_HOME", base_.filePath("roshome").toUtf8());
    set("FAKE_DARKNET_LOG", record_.toUtf8());
    set("FAKE_INTERVAL", "0.1");
    set("FAKE_TAG", tag_);
    QCOMPARE(QDir::tempPath(), tmp_);
}

void TrainDialog::init()
{
    guard_.reset(new testsupport::ExchangeFileGuard({kLog, kStop}));
    QFile::remove(record_);
    QFile::remove(record_ + ".cfg");
    folder_ = base_.filePath(QString("folder-%1").arg(QTest::currentTestFunction()) +
                             (QTest::currentDataTag() ? QString("-") + QTest::currentDataTag() : QString()));
    folder_.replace(' ', '_');
    d_.reset(new DialogVarnex(nullptr));
    d_->train_window_timer->stop(); // the tests drive the button rule themselves
}

void TrainDialog::cleanup()
{
    if (d_)
        d_->stop_training_and_wait();
    d_.reset();
    guard_.reset();
}

// Starts a run on folder_ and waits until the fake has recorded its start.
void TrainDialog::startAndWaitForRecord(Record* r)
{
    d_->ui->label_Generate_text->setText(folder_);
    d_->on_pushButton_Train_clicked();
    QTRY_VERIFY_WITH_TIMEOUT((*r = readRecord(record_)).valid, 10000);
}

void TrainDialog::command_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("prebuilt");
    QTest::addColumn<QString>("wgText");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("weights"); // relative to the start-weights folder unless absolute

    QTest::newRow("KVTRDet") << "KVTRDet-128 : 3 class" << false << "" << "Train with model NULL : KVTRDet-128 : 3 class"
                             << "d53.conv.74";
    QTest::newRow("V7-tiny") << "V7-tiny : 2 class" << false << "" << "Train with model V7-tiny : V7-tiny : 2 class"
                             << "yolov7-tiny.conv.87";
    QTest::newRow("no version") << kNone << false << "" << "Train with model V3 : V3" << "d53.conv.74";
    QTest::newRow("prebuilt, still Default")
        << "V4-tiny : 2 class" << true << "Default" << "Train with model V4-tiny : V4-tiny : 2 class"
        << "yolov4-tiny.conv.29";
    QTest::newRow("prebuilt file with a blank")
        << "V4-tiny : 2 class" << true << "/w eights/my.weights" << "Train with model V4-tiny : V4-tiny : 2 class"
        << "/w eights/my.weights";
    QTest::newRow("file but prebuilt off") << "V4 : 2 class" << false << "/w/my.weights"
                                           << "Train with model V4 : V4 : 2 class" << "yolov4.conv.137";
}

void TrainDialog::command()
{
    QFETCH(QString, version);
    QFETCH(bool, prebuilt);
    QFETCH(QString, wgText);
    QFETCH(QString, firstLine);
    QFETCH(QString, weights);

    Folder f;
    f.version = version;
    QVERIFY(makeTrainingFolder(folder_, f));
    d_->ui->checkBox_override_parameter->setChecked(false);
    d_->ui->checkBox_use_default_wg->setChecked(prebuilt);
    if (!wgText.isEmpty())
        d_->ui->label_wg_text_2->setText(wgText);

    Record r;
    startAndWaitForRecord(&r);
    if (QTest::currentTestFailed())
        return;
    const QString w = weights.startsWith('/') ? weights : home_ + "/.nomu_core_install/share/d/" + weights;
    QCOMPARE(r.exe, QString(gpuForced() ? "darknet_" : "darknet_cpu_"));
    QCOMPARE(r.cwd, folder_);
    QCOMPARE(r.args, (QStringList{"detector", "train", "data/obj.data", "data/train.cfg", w, "-dont_show"}));
    QCOMPARE(d_->gpu, gpuForced());
    QVERIFY2(d_->ui->textEdit_train_console->toPlainText().startsWith(firstLine + "\n"),
             qPrintable(d_->ui->textEdit_train_console->toPlainText()));
}

void TrainDialog::overrideStep_data()
{
    QTest::addColumn<bool>("override");
    QTest::addColumn<QString>("classes");
    QTest::addColumn<bool>("slash"); // the folder text ends with "/"
    QTest::addColumn<int>("expected"); // class count handed on, or 0 for no call

    QTest::newRow("3 classes") << true << "3" << false << 3;
    QTest::newRow("folder text ending in a slash") << true << "3" << true << 3;
    QTest::newRow("classes.data missing") << true << kNone << false << 0;
    QTest::newRow("classes.data 0") << true << "0" << false << 0;
    QTest::newRow("classes.data not a number") << true << "many" << false << 0;
    QTest::newRow("override off") << false << "3" << false << 0;
}

void TrainDialog::overrideStep()
{
    QFETCH(bool, override);
    QFETCH(QString, classes);
    QFETCH(bool, slash);
    QFETCH(int, expected);

    Folder f;
    f.classes = classes;
    QVERIFY(makeTrainingFolder(folder_, f));
    d_->ui->checkBox_override_parameter->setChecked(override);
    d_->ui->comboBox_model->setCurrentText("V7-tiny");
    QStringList calls;
    d_->override_cfg_hook = [&calls](const QString& model, int n, const QString& data) {
        calls << QString("%1|%2|%3").arg(model).arg(n).arg(data);
    };
    d_->ui->label_Generate_text->setText(folder_ + (slash ? "/" : ""));
    d_->on_pushButton_Train_clicked();

    const QString console = d_->ui->textEdit_train_console->toPlainText();
    if (expected > 0) {
        QCOMPARE(calls, QStringList{QString("V7-tiny|%1|%2/data").arg(expected).arg(folder_)});
    } else {
        QVERIFY(calls.isEmpty());
    }
    // Only a skipped regeneration is mentioned, after the model line.
    const bool skipped = override && expected == 0;
    QCOMPARE(console.contains("classes.data is missing or holds no class count"), skipped);
    QVERIFY(console.startsWith("Train with model V4-tiny : V4-tiny : 2 class\n"));
    // The run starts either way.
    QTRY_VERIFY_WITH_TIMEOUT(readRecord(record_).valid, 10000);
}

// The override step with the real description writer: the descriptions and
// "version" are rewritten before the model is read, a protected family is
// handed over in clear text, and a folder without a class count keeps its
// descriptions.
void TrainDialog::overrideRegenerates_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("classes");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("weights");

    QTest::newRow("V4-tiny-64, 3 classes") << "V4-tiny-64" << "3" << "Train with model V4-tiny : V4-tiny-64 : 3 class"
                                           << "yolov4-tiny.conv.29";
    QTest::newRow("KVTRDet-128, protected") << "KVTRDet-128" << "3" << "Train with model NULL : KVTRDet-128 : 3 class"
                                            << "d53.conv.74";
    QTest::newRow("no class count: descriptions kept")
        << "V4-tiny-64" << kNone << "Train with model V4-tiny : V4-tiny : 2 class" << "yolov4-tiny.conv.29";
}

void TrainDialog::overrideRegenerates()
{
    QFETCH(QString, model);
    QFETCH(QString, classes);
    QFETCH(QString, firstLine);
    QFETCH(QString, weights);

    Folder f;
    f.classes = classes;
    QVERIFY(makeTrainingFolder(folder_, f));
    const QByteArray oldTrain = testsupport::readFile(folder_ + "/data/train.cfg");
    const QByteArray oldTest = testsupport::readFile(folder_ + "/data/test.cfg");
    QVERIFY(d_->ui->checkBox_override_parameter->isChecked()); // the form's default
    d_->ui->comboBox_model->setCurrentText(model);
    QCOMPARE(d_->ui->comboBox_model->currentText(), model);

    Record r;
    startAndWaitForRecord(&r);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(d_->ui->textEdit_train_console->toPlainText().startsWith(firstLine + "\n"),
             qPrintable(d_->ui->textEdit_train_console->toPlainText()));
    QCOMPARE(r.args.value(4), home_ + "/.nomu_core_install/share/d/" + weights);

    if (classes == kNone) {
        QCOMPARE(testsupport::readFile(folder_ + "/data/train.cfg"), oldTrain);
        QCOMPARE(testsupport::readFile(folder_ + "/data/test.cfg"), oldTest);
        QCOMPARE(r.args.value(3), QString("data/train.cfg"));
        return;
    }
    // What the executable reads: classes=3 and 3 x (3 + 5) filters, in clear text.
    const QByteArray given = r.args.value(3) == "data/train.cfg"
                                 ? testsupport::readFile(folder_ + "/data/train.cfg")
                                 : testsupport::readFile(record_ + ".cfg");
    QVERIFY(given.contains("classes=3"));
    QVERIFY(given.contains("filters=24"));
    QVERIFY(!given.contains("<-<+>->"));
    const bool protectedFamily = model.startsWith("KVTRDet");
    QCOMPARE(r.args.value(3) != "data/train.cfg", protectedFamily);
    QCOMPARE(testsupport::readFile(folder_ + "/data/train.cfg").contains("<-<+>->"), protectedFamily);
}

void TrainDialog::protectedDescription()
{
    const QString head = "[net]\nbatch=64\nwidth=128\n";
    const QString body = "[convolutional]\nfilters=24\n\n[yolo]\nclasses=3\n";
    Folder f;
    f.version = "KVTRDet-128 : 3 class";
    f.train_cfg = (head + "<-<+>->" + SimpleCrypt(kNomuCryptKey).encryptToString(body)).toUtf8();
    QVERIFY(makeTrainingFolder(folder_, f));
    d_->ui->checkBox_override_parameter->setChecked(false);

    Record r;
    startAndWaitForRecord(&r);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(r.args.size(), 6);
    const QFileInfo cfg(r.args[3]);
    QCOMPARE(cfg.fileName(), QString("train.cfg"));
    QCOMPARE(cfg.absolutePath(), QDir(tmp_).absolutePath() + "/" + QDir(cfg.absolutePath()).dirName());
    QCOMPARE(QFileInfo(cfg.absolutePath()).permissions() & 0x7777,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser |
                 QFile::ExeUser);
    QCOMPARE(QString::fromUtf8(testsupport::readFile(record_ + ".cfg")), head + "\n" + body);
    QCOMPARE(r.args[4], home_ + "/.nomu_core_install/share/d/d53.conv.74");

    // The executable keeps its weights in the training folder under the usual name.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder_ + "/data/backup/train.backup"), 10000);

    d_->stop_training_and_wait();
    QVERIFY(!QFileInfo::exists(cfg.absolutePath()));
    QVERIFY(!d_->deciphered_cfg_dir);
    // No clear text of the body is left in the temporary folder.
    QDirIterator it(tmp_, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QVERIFY2(!testsupport::readFile(path).contains("filters=24"), qPrintable(path));
    }
}

void TrainDialog::progressAndStatus()
{
    QVERIFY(makeTrainingFolder(folder_));
    d_->ui->checkBox_override_parameter->setChecked(false);
    Record r;
    startAndWaitForRecord(&r);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(d_->elapsed_timer.timerType(), Qt::PreciseTimer);
    QCOMPARE(d_->elapsed_timer.interval(), 1000);
    QVERIFY(d_->elapsed_timer.isActive());

    // The first status line, one second in.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(kLog), 5000);
    const QByteArray first = testsupport::readFile(kLog);
    const QRegularExpression line(R"re(^\{"train_state":\{"avg":[-0-9.e]+,"backend":"(GPU|CPU)","intr":\d+,)re"
                                  R"re("time_sec":\d+,"time_str":"\d\d:\d\d:\d\d"\}\}\n$)re");
    QVERIFY2(line.match(QString::fromUtf8(first)).hasMatch(), first.constData());
    const QJsonObject state = QJsonDocument::fromJson(first).object()["train_state"].toObject();
    QVERIFY2(state["time_sec"].toInt() >= 1, first.constData());
    QCOMPARE(state["backend"].toString(), QString(gpuForced() ? "GPU" : "CPU"));

    // Progress lines move the labels and the counters.
    QTRY_VERIFY_WITH_TIMEOUT(d_->iteration >= 2, 10000);
    QVERIFY(d_->ui->label_iteration->text().startsWith("iteration : "));
    QVERIFY(QRegularExpression(R"(^Avg loss : \d+\.\d{4}$)").match(d_->ui->label_avg->text()).hasMatch());
    QVERIFY(d_->avg_loss < 999);
    QTRY_VERIFY_WITH_TIMEOUT(QJsonDocument::fromJson(testsupport::readFile(kLog))
                                     .object()["train_state"]
                                     .toObject()["intr"]
                                     .toInt() > 0,
                             5000);
    QVERIFY(QRegularExpression(R"(^\d\d:\d\d:\d\d$)").match(d_->ui->label_time_elape->text()).hasMatch());
    // Standard error goes to the console as it stands.
    QVERIFY(d_->ui->textEdit_train_console->toPlainText().contains("fake darknet: training in " + folder_));

    // Train again while the run is active: the counters and the console are
    // reset, and the running process is left alone.
    const qint64 pid = d_->train_process.processId();
    d_->on_pushButton_Train_clicked();
    QCOMPARE(d_->train_process.processId(), pid);
    QCOMPARE(d_->train_process.state(), QProcess::Running);

    d_->stop_training_and_wait();
    QVERIFY(!d_->elapsed_timer.isActive());
    QVERIFY(d_->ui->textEdit_train_console->toPlainText().endsWith(kStopped));
    QVERIFY(readRecord(record_).term);
}

void TrainDialog::stopFile()
{
    QVERIFY(makeTrainingFolder(folder_));
    d_->ui->checkBox_override_parameter->setChecked(false);
    QVERIFY(testsupport::writeFile(kStop, "")); // start-up leaves one: Train removes it
    Record r;
    startAndWaitForRecord(&r);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!QFileInfo::exists(kStop));
    QTRY_COMPARE_WITH_TIMEOUT(d_->train_process.state(), QProcess::Running, 5000);
    d_->ui->pushButton_GenerateTrainingFiles->setEnabled(false);

    QVERIFY(testsupport::writeFile(kStop, ""));
    QTRY_COMPARE_WITH_TIMEOUT(d_->train_process.state(), QProcess::NotRunning, 3000);
    QVERIFY(!QFileInfo::exists(kStop));
    QVERIFY(readRecord(record_).term);
    QVERIFY(d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(d_->ui->textEdit_train_console->toPlainText().endsWith(kStopped));
}

void TrainDialog::noPath_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("No path selected") << "No path selected";
    QTest::newRow("empty") << "";
}

void TrainDialog::noPath()
{
    QFETCH(QString, text);
    QVERIFY(testsupport::writeFile(kStop, ""));
    d_->iteration = 5;
    d_->avg_loss = 1;
    d_->ui->label_avg->setText("Avg loss : 1.0000");
    d_->ui->textEdit_train_console->setPlainText("old output");
    QStringList calls;
    d_->override_cfg_hook = [&calls](const QString&, int n, const QString& data) { calls << QString("%1 %2").arg(n).arg(data); };

    d_->ui->label_Generate_text->setText(text);
    d_->on_pushButton_Train_clicked();

    QWidget* w = QApplication::activeModalWidget();
    auto* box = qobject_cast<QMessageBox*>(w);
    QVERIFY(box);
    QCOMPARE(box->text(), QString("Please select training file location"));
    QVERIFY(!box->parent());
    QVERIFY(box->windowTitle().isEmpty());
    box->close();
    QTRY_VERIFY(!QApplication::activeModalWidget());

    QCOMPARE(d_->train_process.state(), QProcess::NotRunning);
    QVERIFY(!QFileInfo::exists(record_));
    QVERIFY(!QFileInfo::exists(kStop));
    QVERIFY(calls.isEmpty());
    QCOMPARE(d_->iteration, qint64(0));
    QCOMPARE(d_->avg_loss, 999.0);
    QCOMPARE(d_->ui->label_avg->text(), QString());
    QCOMPARE(d_->ui->textEdit_train_console->toPlainText(), QString("Train with model V3 : V3\n"));
}

void TrainDialog::cannotStart_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("consoleHas");
    QTest::newRow("no rosrun on PATH") << "PATH" << "";
    QTest::newRow("package not found") << "ROS_PACKAGE_PATH" << "nomu_lib_yolo";
}

void TrainDialog::cannotStart()
{
    QFETCH(QString, variable);
    QFETCH(QString, consoleHas);
    QVERIFY(makeTrainingFolder(folder_));
    d_->ui->checkBox_override_parameter->setChecked(false);
    QTemporaryDir empty;
    testsupport::ScopedEnv env(variable.toUtf8().constData(), empty.path().toUtf8());
    d_->ui->label_Generate_text->setText(folder_);
    d_->on_pushButton_Train_clicked();
    QTRY_VERIFY_WITH_TIMEOUT(d_->ui->textEdit_train_console->toPlainText().endsWith(kStopped), 10000);
    QCOMPARE(d_->train_process.state(), QProcess::NotRunning);
    QVERIFY(d_->ui->textEdit_train_console->toPlainText().contains(consoleHas));
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!d_->elapsed_timer.isActive());
}

// Output chunks as a process delivers them: a partial line waits for the rest
// of it, a full console is cleared first, text after a NUL byte is dropped.
void TrainDialog::chunksFromProcess()
{
    QTextEdit* console = d_->ui->textEdit_train_console;
    console->setPlainText(QString("old line\n").repeated(60));
    const QString script =
        "printf '[ 9 ] 1.0, 1.5 av'; sleep 0.4;"
        "printf 'g, 0.1 rate\\n'; sleep 0.4;"
        "printf '\\n 10: 1.0, 1.234 avg loss, 0.1 rate\\n\\000junk\\n'; sleep 0.4;"
        "printf '\\n[ 11 ] 2.0, 0.75 avg, 0.1 rate\\n'";
    d_->train_process.start("/bin/sh", {"-c", script});
    QVERIFY(d_->train_process.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(console->toPlainText().contains("avg loss"), 5000);
    // The partial line was held back, so the whole line reported its average.
    QCOMPARE(d_->ui->label_avg->text(), QString("Avg loss : 1.23"));
    QCOMPARE(d_->avg_loss, 1.23);
    QTRY_VERIFY_WITH_TIMEOUT(console->toPlainText().endsWith(kStopped), 5000);
    QCOMPARE(console->toPlainText(), QString("[ 9 ] 1.0, 1.5 avg, 0.1 rate\n"
                                             "\n 10: 1.0, 1.234 avg loss, 0.1 rate\n"
                                             "\n[ 11 ] 2.0, 0.75 avg, 0.1 rate\n") +
                                         kStopped);
    QCOMPARE(d_->iteration, qint64(11));
    QCOMPARE(d_->ui->label_iteration->text(), QString("iteration : 11 "));
    QCOMPARE(d_->ui->label_avg->text(), QString("Avg loss : 0.7500"));
}

// A run whose loss diverged prints nan in one of its spellings: the label
// shows it and the status line carries null, never the 0 of a perfect loss.
void TrainDialog::divergedRun_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("label");
    QTest::newRow("-nan") << "[ 50 ] -nan, -nan avg, 0.01 rate" << "Avg loss : nan";
    QTest::newRow("-NaN, avg loss form") << " 50: -NaN, -NaN avg loss, 0.01 rate" << "Avg loss : nan";
    QTest::newRow("nan") << "[ 50 ] nan, nan avg, 0.01 rate" << "Avg loss : nan";
}

void TrainDialog::divergedRun()
{
    QFETCH(QString, line);
    QFETCH(QString, label);
    d_->train_process.start("/bin/sh", {"-c", "printf '\\n%s\\n' \"$1\"", "sh", line});
    QVERIFY(d_->train_process.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(d_->ui->textEdit_train_console->toPlainText().endsWith(kStopped), 5000);
    QCOMPARE(d_->ui->label_avg->text(), label);
    invoke(d_.get(), "updateTimeElape");
    const QByteArray status = testsupport::readFile(kLog);
    const QJsonObject state = QJsonDocument::fromJson(status).object()["train_state"].toObject();
    QVERIFY2(state.contains("avg") && state["avg"].isNull(), status.constData());
}

void TrainDialog::buttons()
{
    Ui::DialogVarnex* ui = d_->ui;
    // Idle.
    d_->frame_count = 0;
    ui->pushButton_Train_Stop->setEnabled(true);
    ui->pushButton_Train->setEnabled(false);
    ui->checkBox_use_default_wg->setEnabled(false);
    ui->checkBox_use_other_location->setEnabled(false);
    invoke(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(!ui->pushButton_Train_Stop->isEnabled());
    QVERIFY(ui->pushButton_Train->isEnabled());
    QVERIFY(ui->checkBox_use_default_wg->isEnabled());
    QVERIFY(ui->checkBox_use_other_location->isEnabled());
    QVERIFY(ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(!ui->horizontalSlider_frame->isEnabled());

    d_->generating = true;
    d_->frame_count = 1;
    invoke(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(!ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(ui->horizontalSlider_frame->isEnabled());
    d_->generating = false;

    // Another training folder in use: Generate keeps its state.
    ui->checkBox_use_other_location->setChecked(true);
    QVERIFY(!ui->pushButton_GenerateTrainingFiles->isEnabled());
    invoke(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(!ui->pushButton_GenerateTrainingFiles->isEnabled());
    ui->pushButton_GenerateTrainingFiles->setEnabled(true);
    invoke(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(ui->pushButton_GenerateTrainingFiles->isEnabled());

    // Running.
    // sleep itself, not through a shell: a terminate that reached the shell
    // first would leave the sleep running past the test.
    d_->train_process.start("sleep", {"30"});
    QVERIFY(d_->train_process.waitForStarted(5000));
    invoke(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(ui->pushButton_Train_Stop->isEnabled());
    QVERIFY(!ui->pushButton_Train->isEnabled());
    QVERIFY(!ui->checkBox_use_default_wg->isEnabled());
    QVERIFY(!ui->checkBox_use_other_location->isEnabled());
    QVERIFY(!ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(ui->horizontalSlider_frame->isEnabled());

    // The Stop button: terminate, Generate usable again.
    d_->on_pushButton_Train_Stop_clicked();
    QVERIFY(ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(d_->train_process.waitForFinished(5000));
    invoke(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(ui->pushButton_Train->isEnabled());
    QVERIFY(!ui->pushButton_Train_Stop->isEnabled());
}

void TrainDialog::quitLeavesNoChild_data()
{
    QTest::addColumn<bool>("ignoreTerm");
    QTest::newRow("ends on SIGTERM") << false;
    QTest::newRow("ignores SIGTERM: killed after 10 s") << true;
}

void TrainDialog::quitLeavesNoChild()
{
    QFETCH(bool, ignoreTerm);
    testsupport::ScopedEnv env("FAKE_IGNORE_TERM", ignoreTerm ? "1" : "0");
    QVERIFY(makeTrainingFolder(folder_));
    d_->ui->checkBox_override_parameter->setChecked(false);
    Record r;
    startAndWaitForRecord(&r);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!processesTagged(tag_).isEmpty());

    QElapsedTimer clock;
    clock.start();
    d_->stop_training_and_wait();
    qInfo("stopped after %lld ms", clock.elapsed());
    QCOMPARE(d_->train_process.state(), QProcess::NotRunning);
    QCOMPARE(readRecord(record_).term, !ignoreTerm);
    if (ignoreTerm)
        QCOMPARE(d_->train_process.exitStatus(), QProcess::CrashExit);
    // A sleep the fake had started may outlive it by its own 0.1 s.
    QElapsedTimer gone;
    gone.start();
    QStringList left = processesTagged(tag_);
    while (!left.isEmpty() && gone.elapsed() < 15000) {
        QTest::qWait(50);
        left = processesTagged(tag_);
    }
    QVERIFY2(left.isEmpty(), qPrintable("still running: " + describeProcesses(left)));
}

QTEST_MAIN(TrainDialog)
#include "test_train_dialog.moc"
