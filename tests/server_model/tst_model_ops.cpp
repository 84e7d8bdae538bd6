// update_model, test_model and show_log in-process, on model folders made by
// the test. They write the real exchange files, which the guard saves and
// restores.
#include "dialog_sarvik_v2.h"

#include "dialog_list_configs.h"
#include "fixture_model.h"
#include "test_support.h"
#include "test_support.h"

#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

class TestModelOps : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void testBeforeUpdate();
    void updateWithoutWeightsKeepsModel();
    void updateAndTest();
    void thresholdAboveEveryScore();
    void bigBox();
    void trackingCounts();
    void failedReloadLeavesNoModel();
    void badImages_data();
    void badImages();
    void injectionInFolderNameRunsNothing();
    void unloadClearsShownConfigWithoutDeadlock();

private:
    // Runs op and returns the log lines it printed, parsed.
    QList<QJsonObject> run(const std::function<void()>& op);
    static QStringList states(const QList<QJsonObject>& lines);
    QString image(int w, int h);

    QTemporaryDir root_;
    QString small_, big_, truncated_;
    DialogSarvik_v2* dlg_ = nullptr;
    testsupport::ExchangeFileGuard* guard_ = nullptr;
    QByteArray last_stdout_;
    // Checks every run makes of the lines; reported by cleanup.
    QStringList problems_;
};

void TestModelOps::initTestCase()
{
    const QString cfg = fixture::nomued_det52_cfg(2);
    small_ = root_.path() + "/small";
    big_ = root_.path() + "/big";
    truncated_ = root_.path() + "/truncated";
    QVERIFY(fixture::write_model_folder(small_, cfg, fixture::small_boxes_weights(), {"cat", "dog"}));
    QVERIFY(fixture::write_model_folder(big_, cfg, fixture::big_box_weights(), {"cat", "dog"}));
    QVERIFY(fixture::write_model_folder(truncated_, cfg, fixture::small_boxes_weights().left(5000), {"cat", "dog"}));
}

void TestModelOps::init()
{
    guard_ = new testsupport::ExchangeFileGuard({"/tmp/sarvik.log", "/tmp/sarvik_result.png"});
    dlg_ = new DialogSarvik_v2;
}

void TestModelOps::cleanup()
{
    const QStringList problems = problems_;
    problems_.clear();
    delete dlg_;
    qDeleteAll(DialogListConfigs::map_det_cfgs);
    DialogListConfigs::map_det_cfgs.clear();
    delete guard_;
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
}

QList<QJsonObject> TestModelOps::run(const std::function<void()>& op)
{
    testsupport::StdoutCapture capture;
    op();
    last_stdout_ = capture.finish();
    QList<QJsonObject> lines;
    for (const QByteArray& line : last_stdout_.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            problems_ << "not a JSON line: " + QString::fromUtf8(line);
        lines << doc.object();
    }
    // The file holds the last line exactly, with a newline; every line starts with "datatime".
    const QList<QByteArray> raw = last_stdout_.trimmed().split('\n');
    if (!raw.isEmpty()) {
        QFile f("/tmp/sarvik.log");
        f.open(QIODevice::ReadOnly);
        if (f.readAll() != raw.last() + "\n")
            problems_ << "the log file differs from the last line on standard output";
        for (const QByteArray& l : raw)
            if (!l.startsWith("{\"datatime\":\""))
                problems_ << "a line does not start with datatime: " + QString::fromUtf8(l);
    }
    return lines;
}

QStringList TestModelOps::states(const QList<QJsonObject>& lines)
{
    QStringList out;
    for (const QJsonObject& o : lines)
        out << o.value("state").toString();
    return out;
}

QString TestModelOps::image(int w, int h)
{
    const QString path = root_.path() + QString("/img_%1x%2.png").arg(w).arg(h);
    if (!QFile::exists(path))
        cv::imwrite(path.toStdString(), cv::Mat(h, w, CV_8UC3, cv::Scalar(40, 80, 120)));
    return path;
}

void TestModelOps::testBeforeUpdate()
{
    const auto lines = run([&] { dlg_->test_model(image(640, 480)); });
    QCOMPARE(states(lines), (QStringList{"test_start", "test_error"}));
    QCOMPARE(lines.last().keys(), (QStringList{"datatime", "state"}));
    QVERIFY(!QFile::exists("/tmp/sarvik_result.png"));
}

void TestModelOps::updateWithoutWeightsKeepsModel()
{
    QCOMPARE(states(run([&] { dlg_->update_model(small_); })), (QStringList{"update_start", "update_end"}));
    const QString empty = root_.path() + "/empty";
    QDir().mkpath(empty);
    const auto lines = run([&] { dlg_->update_model(empty); });
    QCOMPARE(states(lines), (QStringList{"update_start", "update_error"}));
    QCOMPARE(lines.last().value("msg").toString(), "not found : " + empty + "/train.weights");
    QCOMPARE(states(run([&] { dlg_->test_model(image(640, 480)); })), (QStringList{"test_start", "test_end"}));
}

void TestModelOps::updateAndTest()
{
    auto lines = run([&] { dlg_->update_model(small_); });
    QCOMPARE(states(lines), (QStringList{"update_start", "update_end"}));
    QCOMPARE(lines.last().value("load_model").toBool(), true);
    QVERIFY(last_stdout_.contains("\"load_model\":true,\"state\":\"update_end\"}"));

    lines = run([&] { dlg_->test_model(image(1920, 1080)); });
    QCOMPARE(states(lines), (QStringList{"test_start", "test_end"}));
    const QJsonObject result = lines.last().value("result").toObject();
    QCOMPARE(result.value("im_w").toInt(), 608);
    QCOMPARE(result.value("im_h").toInt(), 342);
    QCOMPARE(result.value("count").toInt(), 169);
    const QJsonArray objects = result.value("objects").toArray();
    QCOMPARE(objects.size(), 169);
    for (const QJsonValue& v : objects) {
        const QJsonObject o = v.toObject();
        QCOMPARE(o.value("name").toString(), QString("cat"));
        QCOMPARE(o.value("id").toInt(), 0);
        QVERIFY(!o.contains("track_id"));
        QVERIFY(o.value("confidence").toDouble() > 0.999);
    }
    QCOMPARE(QJsonDocument(result.value("obj_count").toArray()).toJson(QJsonDocument::Compact),
             QByteArray("[{\"count\":169,\"name\":\"cat\"}]"));
    QCOMPARE(result.value("obj_count_str").toString(), QString("cat: 169"));
    const cv::Mat png = cv::imread("/tmp/sarvik_result.png", cv::IMREAD_UNCHANGED);
    QCOMPARE(png.cols, 608);
    QCOMPARE(png.rows, 342);
    // The boxes are drawn on it (the source image is one flat colour).
    cv::Mat flat(342, 608, CV_8UC3, cv::Scalar(40, 80, 120)), diff;
    cv::absdiff(png, flat, diff);
    QVERIFY(cv::countNonZero(diff.reshape(1)) > 0);
}

void TestModelOps::thresholdAboveEveryScore()
{
    run([&] { dlg_->update_model(small_); });
    dlg_->findChild<QDoubleSpinBox*>("spinBox_threshold")->setValue(99.96);
    const auto lines = run([&] { dlg_->test_model(image(640, 480)); });
    QCOMPARE(QJsonDocument(lines.last().value("result").toObject()).toJson(QJsonDocument::Compact),
             QByteArray("{\"count\":0,\"im_h\":456,\"im_w\":608,\"obj_count\":[],\"obj_count_str\":\"\","
                        "\"objects\":[]}"));
}

void TestModelOps::bigBox()
{
    run([&] { dlg_->update_model(big_); });
    const auto lines = run([&] { dlg_->test_model(image(1920, 1080)); });
    const QJsonObject result = lines.last().value("result").toObject();
    const QJsonObject o = result.value("objects").toArray().at(0).toObject();
    QCOMPARE(result.value("count").toInt(), 1);
    QCOMPARE(o.value("x").toInt(), 304);
    QCOMPARE(o.value("y").toInt(), 171);
    QCOMPARE(o.value("w").toInt(), 608);
    QCOMPARE(o.value("h").toInt(), 342);
}

void TestModelOps::trackingCounts()
{
    run([&] { dlg_->update_model(small_); });
    dlg_->findChild<QGroupBox*>("checkBox_enable_tracking")->setChecked(true);
    QJsonObject result;
    for (int frame = 0; frame < 2; ++frame)
        result = run([&] { dlg_->test_model(image(1920, 1080)); }).last().value("result").toObject();
    // The same boxes in both frames: 169 tracks of cats, none of dogs, every class listed.
    QCOMPARE(QJsonDocument(result.value("obj_count").toArray()).toJson(QJsonDocument::Compact),
             QByteArray("[{\"count\":169,\"name\":\"cat\"},{\"count\":0,\"name\":\"dog\"}]"));
    for (const QJsonValue& v : result.value("objects").toArray())
        QVERIFY(v.toObject().value("track_id").toInt() >= 1);
    // Nothing found: with tracking still one entry per class.
    dlg_->findChild<QDoubleSpinBox*>("spinBox_threshold")->setValue(99.96);
    result = run([&] { dlg_->test_model(image(1920, 1080)); }).last().value("result").toObject();
    QCOMPARE(result.value("obj_count").toArray().size(), 2);
}

void TestModelOps::failedReloadLeavesNoModel()
{
    run([&] { dlg_->update_model(small_); });
    const auto lines = run([&] { dlg_->update_model(truncated_); });
    QCOMPARE(states(lines), (QStringList{"update_start", "update_end"}));
    QCOMPARE(lines.last().value("load_model").toBool(), false);
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("test", nullptr);
    QVERIFY(cfg && !cfg->loaded);
    QCOMPARE(states(run([&] { dlg_->test_model(image(640, 480)); })), (QStringList{"test_start", "test_error"}));
    // A good update brings it back, in the same record.
    QCOMPARE(run([&] { dlg_->update_model(small_); }).last().value("load_model").toBool(), true);
    QCOMPARE(DialogListConfigs::map_det_cfgs.value("test", nullptr), cfg);
}

void TestModelOps::badImages_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("not an image") << "text";
    QTest::newRow("1000 x 1") << "narrow";
}

void TestModelOps::badImages()
{
    QFETCH(QString, kind);
    run([&] { dlg_->update_model(small_); });
    QString path = root_.path() + "/nothing.png";
    if (kind == "text") {
        path = root_.path() + "/text.png";
        testsupport::writeFile(path, "not a picture");
    } else if (kind == "narrow") {
        path = image(1000, 1);
    }
    // An earlier result image stays after an error.
    testsupport::writeFile("/tmp/sarvik_result.png", "earlier");
    QCOMPARE(states(run([&] { dlg_->test_model(path); })), (QStringList{"test_start", "test_error"}));
    QCOMPARE(testsupport::readFile("/tmp/sarvik_result.png"), QByteArray("earlier"));
    // And the next detection still works, replacing it.
    QCOMPARE(states(run([&] { dlg_->test_model(image(300, 200)); })), (QStringList{"test_start", "test_end"}));
    QCOMPARE(cv::imread("/tmp/sarvik_result.png").size(), cv::Size(608, 405));
}

void TestModelOps::injectionInFolderNameRunsNothing()
{
    const QString file = root_.path() + "/INJECTED";
    const QString dir = root_.path() + "/m\"$(touch " + file + ")`touch " + file + "`\\c";
    const auto lines = run([&] { dlg_->update_model(dir); });
    QCOMPARE(states(lines), (QStringList{"update_start", "update_error"}));
    QCOMPARE(lines.last().value("msg").toString(), "not found : " + dir + "/train.weights");
    QVERIFY(!QFile::exists(file));
}

void TestModelOps::unloadClearsShownConfigWithoutDeadlock()
{
    // "test" shown in the dialog: the unload emits config_removed while it
    // holds the record's mutex, and the slot takes the dialog's.
    run([&] { dlg_->update_model(small_); });
    QVERIFY(QMetaObject::invokeMethod(dlg_, "current_config_changed", Q_ARG(QString, "test")));
    auto name = dlg_->findChild<QLabel*>("label_config_name");
    QCOMPARE(name->text(), QString("test"));
    const auto lines = run([&] { dlg_->update_model(small_); });
    QCOMPARE(lines.last().value("load_model").toBool(), true);
    QCOMPARE(name->text(), QString());
    QVERIFY(dlg_->findChild<QLabel*>("label_config_icon")->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(dlg_->mutex.tryLock());
    dlg_->mutex.unlock();
}

QTEST_MAIN(TestModelOps)
#include "tst_model_ops.moc"
