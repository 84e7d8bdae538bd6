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

#include <sys/resource.h>

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
    void badModelFolders_data();
    void badModelFolders();
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
    QTest::addColumn<QString>("reason"); // on standard error
    QTest::newRow("missing") << "missing" << "does not exist";
    QTest::newRow("not an image") << "text" << "not an image whose size can be read";
    QTest::newRow("1000 x 1") << "narrow" << "too narrow";
    QTest::newRow("FIFO") << "fifo" << "not a regular file";
    QTest::newRow("over the pixel limit") << "huge" << "16385 x 16384 pixels, more than the limit of 268435456";
}

void TestModelOps::badImages()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    run([&] { dlg_->update_model(small_); });
    QString path = root_.path() + "/nothing.png";
    if (kind == "text") {
        path = root_.path() + "/text.png";
        testsupport::writeFile(path, "not a picture");
    } else if (kind == "narrow") {
        path = image(1000, 1);
    } else if (kind == "fifo") {
        path = root_.path() + "/fifo.png";
        QVERIFY(testsupport::makeFifo(path));
    } else if (kind == "huge") {
        // A valid PNG of about 40 KB that decodes to 805 MB.
        path = root_.path() + "/huge.png";
        QVERIFY(testsupport::writeFile(path, testsupport::blankPng(16385, 16384)));
    }
    // An earlier result image stays after an error.
    testsupport::writeFile("/tmp/sarvik_result.png", "earlier");
    testsupport::StderrCapture err;
    QCOMPARE(states(run([&] { dlg_->test_model(path); })), (QStringList{"test_start", "test_error"}));
    const QString said = err.take();
    QVERIFY2(said.contains(reason), qPrintable(said));
    QCOMPARE(testsupport::readFile("/tmp/sarvik_result.png"), QByteArray("earlier"));
    // And the next detection still works, replacing it.
    QCOMPARE(states(run([&] { dlg_->test_model(image(300, 200)); })), (QStringList{"test_start", "test_end"}));
    QCOMPARE(cv::imread("/tmp/sarvik_result.png").size(), cv::Size(608, 405));
}

void TestModelOps::badModelFolders_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // on standard error
    QTest::newRow("train.weights is a FIFO") << "weights fifo" << "train.weights is not a regular file";
    QTest::newRow("test.cfg is a FIFO") << "cfg fifo" << "test.cfg is not a regular file";
    QTest::newRow("obj.names links to /dev/zero") << "names zero" << "obj.names is not a regular file";
    QTest::newRow("test.cfg over its limit") << "cfg over" << "larger than the limit of 16 MiB";
    QTest::newRow("30000 x 30000 input") << "input" << "working memory budget of 4096 MiB";
    QTest::newRow("weights count overflows") << "overflow" << "overflow a 64-bit count";
    QTest::newRow("maxpool window of INT_MAX") << "maxpool" << "size=2147483647 and stride=1 may be at most 4096";
    QTest::newRow("1 GiB sparse weights of the wrong size")
        << "sparse" << "train.weights holds 1073741824 bytes; the description needs 13592";
    QTest::newRow("4096-wide window on 608 x 608, weights of the exact size")
        << "window" << "[convolutional] at line 6: size=4096 on 3 channels needs a row buffer of";
}

void TestModelOps::badModelFolders()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QString cfg = fixture::nomued_det52_cfg(2);
    QByteArray weights = fixture::small_boxes_weights();
    if (kind == "input")
        cfg.replace("width=52", "width=30000").replace("height=52", "height=30000");
    if (kind == "maxpool") // once ended the server with SIGSEGV inside OpenCV
        cfg.replace("[maxpool]\nsize=2\nstride=2\n", "[maxpool]\nsize=2147483647\npadding=2147483647\nstride=1\n");
    if (kind == "window") {
        // Once grew the server to 20.9 GB until the kernel ended it, with no
        // answer: OpenCV's row buffer of 6 GiB on each of its threads.
        cfg = "[net]\nwidth=608\nheight=608\nchannels=3\n\n"
              "[convolutional]\nfilters=1\nsize=4096\npad=1\nactivation=linear\n\n"
              "[convolutional]\nfilters=21\nsize=1\nactivation=linear\n\n"
              "[yolo]\nmask=0,1,2\nanchors=10,14,23,27,37,58\nclasses=2\nnum=3\n";
        weights.clear();
    }
    if (kind == "overflow") {
        // Counted with wrapping arithmetic, these weights have the right size.
        cfg = fixture::overflowing_cfg();
        weights = QByteArray(20 + 4 * (1 << 22), '\0');
    }
    QVERIFY(fixture::write_model_folder(dir.path(), cfg, weights, {"cat", "dog"}));
    auto replace = [&](const QString& file, const std::function<bool(const QString&)>& make) {
        const QString path = dir.path() + "/" + file;
        return QFile::remove(path) && make(path);
    };
    if (kind == "weights fifo")
        QVERIFY(replace("train.weights", testsupport::makeFifo));
    else if (kind == "cfg fifo")
        QVERIFY(replace("test.cfg", testsupport::makeFifo));
    else if (kind == "names zero")
        QVERIFY(replace("obj.names", [](const QString& p) { return QFile::link("/dev/zero", p); }));
    else if (kind == "cfg over")
        QVERIFY(testsupport::writeFile(dir.path() + "/test.cfg", cfg.toUtf8() + QByteArray(16 << 20, '#')));
    else if (kind == "sparse")
        QVERIFY(QFile(dir.path() + "/train.weights").resize(qint64(1) << 30));
    else if (kind == "window") // a 20-byte header and 1 + 3 * 4096^2 + 21 + 21 * 1 floats, sparse
        QVERIFY(QFile(dir.path() + "/train.weights").resize(20 + 4 * (1 + 3LL * 4096 * 4096 + 21 + 21)));

    testsupport::StderrCapture err;
    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer timer;
    timer.start();
    const auto lines = run([&] { dlg_->update_model(dir.path()); });
    const qint64 ms = timer.elapsed();
    const QString said = err.take();
    if (kind == "sparse" || kind == "window") {
        // Refused from the description and the file's size alone: the
        // weights are never read, OpenCV never starts.
        struct rusage after {};
        getrusage(RUSAGE_SELF, &after);
        qInfo("%s refused in %lld ms", kind == "sparse" ? "1 GiB weights" : "the 4096-wide window",
              static_cast<long long>(ms));
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 256 * 1024,
                 qPrintable(QString("peak grew by %1 KiB").arg(after.ru_maxrss - before.ru_maxrss)));
    }
    QCOMPARE(states(lines), (QStringList{"update_start", "update_end"}));
    QCOMPARE(lines.last().value("load_model").toBool(), false);
    QVERIFY2(said.contains(reason), qPrintable(said));
    // The next update is served as ever.
    QCOMPARE(run([&] { dlg_->update_model(small_); }).last().value("load_model").toBool(), true);
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
