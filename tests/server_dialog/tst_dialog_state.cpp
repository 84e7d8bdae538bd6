// The settings dialog's parameters: saveState, set_up_parameter,
// restoreState with its confirmation boxes, cmdSetParameters.
#include "dialog_sarvik_v2.h"
#include "dialog_test_support.h"

#include "detector.h"
#include "fixture_model.h"
#include "global_nomu_lib_yolo.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace dialogtest;

class TestDialogState : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void saveStateOfDefaults();
    void saveStateListsLoadedOnly();
    void setUpParameterCopies();
    void restoreEmptyObject();
    void restoreClampsAndRounds_data();
    void restoreClampsAndRounds();
    void restoreRoundTrip();
    void restoreAsksAndLoads();
    void restoreNoGivesPlaceholder();
    void restoreFailedLoadGivesPlaceholder();
    void restoreBackendRules_data();
    void restoreBackendRules();
    void restoreAsksOnlyForAbsentNames();
    void restoreKeepsConfigLoadedMeanwhile_data();
    void restoreKeepsConfigLoadedMeanwhile();
    void restoreShowsConfig_data();
    void restoreShowsConfig();
    void unansweredBoxAnswersYes();
    void cmdSetParameters_data();
    void cmdSetParameters();
    void cmdResetCount_data();
    void cmdResetCount();

private:
    QTemporaryDir root_;
    QString small_;
};

void TestDialogState::initTestCase()
{
    small_ = root_.path() + "/small";
    QVERIFY(fixture::write_model_folder(small_, fixture::nomued_det52_cfg(2), fixture::small_boxes_weights(),
                                        {"cat", "dog"}));
}

void TestDialogState::cleanup() { clear_registry(); }

static DetConfig* fake_config(const QString& backend, bool loaded, int classes = 0)
{
    auto cfg = new DetConfig(nullptr);
    cfg->backend_name = backend;
    cfg->loaded = loaded;
    cfg->config_path = "/models/" + backend;
    for (int i = 0; i < classes; ++i)
        cfg->class_names.push_back("c" + std::to_string(i));
    return cfg;
}

void TestDialogState::saveStateOfDefaults()
{
    DialogSarvik_v2 dlg;
    const QByteArray json = QJsonDocument(dlg.saveState()).toJson(QJsonDocument::Compact);
    QCOMPARE(json, QByteArray("{\"curr_tap\":0,\"draw_roi\":true,\"enable_tracking\":false,\"font_scale\":0.8,"
                              "\"font_thickness\":1,\"frame_buffer\":5,\"map_det_cfgs\":[],\"max_dist\":150,"
                              "\"nms\":0.4,\"rect_thickness\":2,\"result_drawing\":true,\"roi_h\":5000,"
                              "\"roi_w\":5000,\"roi_x\":0,\"roi_y\":0,\"show_confidence\":true,"
                              "\"text_drawing\":true,\"this_config_name\":\"\",\"thresh\":50,\"txt_offset\":5}"));
    // Types as the keys promise them.
    const QJsonObject s = dlg.saveState();
    QVERIFY(s.value("thresh").isDouble() && s.value("draw_roi").isBool() && s.value("map_det_cfgs").isArray());
    QCOMPARE(s.size(), 20);
}

void TestDialogState::saveStateListsLoadedOnly()
{
    DialogSarvik_v2 dlg;
    DialogListConfigs::map_det_cfgs.insert("zeta", fake_config("CPU", true));
    DialogListConfigs::map_det_cfgs.insert("alpha", fake_config("CUDA", true));
    DialogListConfigs::map_det_cfgs.insert("placeholder", fake_config("CPU", false));
    DialogListConfigs::map_det_cfgs.insert("null", nullptr);
    DialogListConfigs::map_det_cfgs.insert("", fake_config("CPU", true));
    w<QTabWidget>(dlg, "tabWidget")->setCurrentIndex(3);
    const QJsonObject s = dlg.saveState();
    QCOMPARE(QJsonDocument(s.value("map_det_cfgs").toArray()).toJson(QJsonDocument::Compact),
             QByteArray("[{\"backend_name\":\"CUDA\",\"config_name\":\"alpha\",\"config_path\":\"/models/CUDA\"},"
                        "{\"backend_name\":\"CPU\",\"config_name\":\"zeta\",\"config_path\":\"/models/CPU\"}]"));
    QCOMPARE(s.value("curr_tap").toInt(), 3);
    QCOMPARE(DialogListConfigs::map_det_cfgs.size(), 5);
}

void TestDialogState::setUpParameterCopies()
{
    DialogSarvik_v2 dlg;
    DetConfig cfg;
    // Values that differ from the record's own defaults first, to see every copy.
    cfg.thresh = cfg.nms = cfg.font_scale = -1;
    cfg.roi_x = cfg.roi_y = cfg.roi_w = cfg.roi_h = cfg.frame_buffer = cfg.max_dist = -1;
    cfg.rect_thickness = cfg.font_thickness = cfg.txt_offset = -1;
    cfg.enable_tracking = true;
    cfg.result_drawing = cfg.draw_roi = cfg.text_drawing = cfg.show_confidence = false;
    dlg.set_up_parameter(&cfg);
    QCOMPARE(cfg.thresh, 0.5);
    QCOMPARE(cfg.nms, 0.4);
    QCOMPARE(QVector<int>({cfg.roi_x, cfg.roi_y, cfg.roi_w, cfg.roi_h}), QVector<int>({0, 0, 5000, 5000}));
    QCOMPARE(cfg.enable_tracking, false);
    QCOMPARE(cfg.frame_buffer, 5);
    QCOMPARE(cfg.max_dist, 150);
    QVERIFY(cfg.result_drawing && cfg.draw_roi && cfg.text_drawing && cfg.show_confidence);
    QCOMPARE(cfg.rect_thickness, 2);
    QCOMPARE(cfg.font_scale, 0.8);
    QCOMPARE(cfg.font_thickness, 1);
    QCOMPARE(cfg.txt_offset, 5);

    // Percent to fraction, and every other widget to its member.
    w<QDoubleSpinBox>(dlg, "spinBox_threshold")->setValue(12.34);
    w<QDoubleSpinBox>(dlg, "doubleSpinBox_nms")->setValue(0.75);
    w<QGroupBox>(dlg, "checkBox_enable_tracking")->setChecked(true);
    w<QSpinBox>(dlg, "spinBox_roi_x")->setValue(11);
    w<QSpinBox>(dlg, "spinBox_roi_y")->setValue(12);
    w<QSpinBox>(dlg, "spinBox_roi_w")->setValue(13);
    w<QSpinBox>(dlg, "spinBox_roi_h")->setValue(14);
    w<QSpinBox>(dlg, "spinBox_frame_buffer")->setValue(7);
    w<QSpinBox>(dlg, "spinBox_max_distance")->setValue(77);
    w<QGroupBox>(dlg, "groupBox_result_drawing")->setChecked(false);
    w<QCheckBox>(dlg, "checkBox_is_draw_roi")->setChecked(false);
    w<QGroupBox>(dlg, "groupBox_text")->setChecked(false);
    w<QCheckBox>(dlg, "checkBox_show_percent")->setChecked(false);
    w<QSpinBox>(dlg, "spinBox_rect_thickness")->setValue(3);
    w<QDoubleSpinBox>(dlg, "spinBox_font_scale")->setValue(1.5);
    w<QSpinBox>(dlg, "spinBox_font_thickness")->setValue(4);
    w<QSpinBox>(dlg, "spinBox_font_offset")->setValue(-6);
    dlg.set_up_parameter(&cfg);
    QCOMPARE(cfg.thresh, 0.1234);
    QCOMPARE(cfg.nms, 0.75);
    QVERIFY(cfg.enable_tracking);
    QCOMPARE(QVector<int>({cfg.roi_x, cfg.roi_y, cfg.roi_w, cfg.roi_h}), QVector<int>({11, 12, 13, 14}));
    QCOMPARE(cfg.frame_buffer, 7);
    QCOMPARE(cfg.max_dist, 77);
    QVERIFY(!cfg.result_drawing && !cfg.draw_roi && !cfg.text_drawing && !cfg.show_confidence);
    QCOMPARE(cfg.rect_thickness, 3);
    QCOMPARE(cfg.font_scale, 1.5);
    QCOMPARE(cfg.font_thickness, 4);
    QCOMPARE(cfg.txt_offset, -6);
}

void TestDialogState::restoreEmptyObject()
{
    DialogSarvik_v2 dlg;
    w<QTabWidget>(dlg, "tabWidget")->setCurrentIndex(2);
    DialogListConfigs::map_det_cfgs.insert("shown", fake_config("CPU", true));
    dlg.restoreState(QJsonObject{{"map_det_cfgs", QJsonArray()}, {"this_config_name", "shown"}});
    QCOMPARE(w<QLabel>(dlg, "label_config_name")->text(), QString("shown"));
    BoxAnswerer boxes({QMessageBox::No});
    dlg.restoreState(QJsonObject());
    QVERIFY(boxes.texts.isEmpty());
    DetConfig cfg;
    dlg.set_up_parameter(&cfg);
    QCOMPARE(cfg.thresh, 0.0001);
    QCOMPARE(cfg.nms, 0.01);
    QVERIFY(!cfg.enable_tracking);
    QCOMPARE(QVector<int>({cfg.roi_x, cfg.roi_y, cfg.roi_w, cfg.roi_h}), QVector<int>({0, 0, 0, 0}));
    QCOMPARE(cfg.frame_buffer, 1);
    QCOMPARE(cfg.max_dist, 1);
    QVERIFY(!cfg.result_drawing && !cfg.text_drawing && !cfg.show_confidence);
    QVERIFY(cfg.draw_roi);
    QCOMPARE(cfg.rect_thickness, 1);
    QCOMPARE(cfg.font_scale, 0.01);
    QCOMPARE(cfg.font_thickness, 1);
    QCOMPARE(cfg.txt_offset, 0);
    // The tab and the shown configuration stay.
    QCOMPARE(w<QTabWidget>(dlg, "tabWidget")->currentIndex(), 2);
    QCOMPARE(w<QLabel>(dlg, "label_config_name")->text(), QString("shown"));
    QCOMPARE(DialogListConfigs::map_det_cfgs.size(), 1);
}

void TestDialogState::restoreClampsAndRounds_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<double>("expected"); // read back through saveState
    QTest::newRow("threshold above range") << "thresh" << QJsonValue(500) << 100.0;
    QTest::newRow("threshold rounded") << "thresh" << QJsonValue(12.346) << 12.35;
    QTest::newRow("threshold as text") << "thresh" << QJsonValue("35") << 0.01;
    QTest::newRow("nms below range") << "nms" << QJsonValue(0) << 0.01;
    QTest::newRow("font scale rounded") << "font_scale" << QJsonValue(0.123) << 0.12;
    QTest::newRow("font scale large") << "font_scale" << QJsonValue(5000) << 5000.0;
    QTest::newRow("fraction for an integer") << "roi_x" << QJsonValue(2.5) << 0.0;
    QTest::newRow("integer above range") << "roi_w" << QJsonValue(9000) << 5000.0;
    QTest::newRow("negative offset") << "txt_offset" << QJsonValue(-20000) << -9999.0;
    QTest::newRow("whole double for an integer") << "max_dist" << QJsonValue(42.0) << 42.0;
}

void TestDialogState::restoreClampsAndRounds()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(double, expected);
    DialogSarvik_v2 dlg;
    dlg.restoreState(QJsonObject{{key, value}});
    QCOMPARE(dlg.saveState().value(key).toDouble(), expected);
}

void TestDialogState::restoreRoundTrip()
{
    DialogSarvik_v2 source;
    w<QDoubleSpinBox>(source, "spinBox_threshold")->setValue(33.33);
    w<QGroupBox>(source, "checkBox_enable_tracking")->setChecked(true);
    w<QSpinBox>(source, "spinBox_roi_y")->setValue(99);
    w<QGroupBox>(source, "groupBox_text")->setChecked(false);
    w<QCheckBox>(source, "checkBox_is_draw_roi")->setChecked(false);
    w<QTabWidget>(source, "tabWidget")->setCurrentIndex(3);
    QJsonObject saved = source.saveState();

    DialogSarvik_v2 target;
    target.restoreState(saved);
    QJsonObject restored = target.saveState();
    // "Draw ROI" is always checked afterwards, and the tab is not restored.
    QCOMPARE(restored.value("draw_roi").toBool(), true);
    QCOMPARE(restored.value("curr_tap").toInt(), 0);
    saved.remove("draw_roi");
    saved.remove("curr_tap");
    restored.remove("draw_roi");
    restored.remove("curr_tap");
    QCOMPARE(restored, saved);
}

void TestDialogState::restoreAsksAndLoads()
{
    DialogSarvik_v2 dlg;
    BoxAnswerer boxes({QMessageBox::Yes});
    dlg.restoreState(QJsonObject{
        {"map_det_cfgs", QJsonArray{QJsonObject{{"config_name", "n"}, {"config_path", small_}, {"backend_name", "CPU"}}}}});
    QCOMPARE(boxes.titles, QStringList{"Load config : Sarvik"});
    QCOMPARE(boxes.texts, QStringList{"name : n backend : CPU\n" + small_});
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("n", nullptr);
    QVERIFY(cfg && cfg->loaded);
    QCOMPARE(cfg->config_path, small_);
    QVERIFY(cfg->yolo_cpu && cfg->yolo_cpu->detector);
}

void TestDialogState::restoreNoGivesPlaceholder()
{
    DialogSarvik_v2 dlg;
    BoxAnswerer boxes({QMessageBox::No});
    dlg.restoreState(QJsonObject{
        {"map_det_cfgs", QJsonArray{QJsonObject{{"config_name", "n"}, {"config_path", small_}, {"backend_name", "Vulkan"}}}}});
    QCOMPARE(boxes.texts.size(), 1);
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("n", nullptr);
    QVERIFY(cfg);
    QVERIFY(!cfg->loaded);
    QCOMPARE(cfg->config_path, small_);
    QCOMPARE(cfg->backend_name, QString("Vulkan"));
    QCOMPARE(cfg->owner, static_cast<QWidget*>(&dlg));
    QVERIFY(!cfg->yolo);
    QVERIFY(cfg->yolo_cpu && !cfg->yolo_cpu->detector);
    QVERIFY(cfg->class_names.empty() && cfg->obj_counts.empty() && cfg->count_text.empty());
    QVERIFY(cfg->mutex.tryLock());
    cfg->mutex.unlock();
    QCOMPARE(DetectorCPU::live_count(), 0);
    // Not loaded: left out of the saved state.
    QCOMPARE(dlg.saveState().value("map_det_cfgs").toArray().size(), 0);
}

void TestDialogState::restoreFailedLoadGivesPlaceholder()
{
    DialogSarvik_v2 dlg;
    BoxAnswerer boxes({QMessageBox::Yes});
    dlg.restoreState(QJsonObject{
        {"map_det_cfgs", QJsonArray{QJsonObject{{"config_name", "n"}, {"config_path", root_.path() + "/nowhere"}}}}});
    QCOMPARE(boxes.texts, QStringList{"name : n backend : CPU\n" + root_.path() + "/nowhere"});
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("n", nullptr);
    QVERIFY(cfg && !cfg->loaded && cfg->yolo_cpu && !cfg->yolo_cpu->detector);
}

void TestDialogState::restoreBackendRules_data()
{
    QTest::addColumn<QJsonObject>("element");
    QTest::addColumn<QString>("offered");
    const QJsonObject base{{"config_name", "n"}, {"config_path", "/p"}};
    auto with = [&](std::initializer_list<QPair<QString, QJsonValue>> extra) {
        QJsonObject o = base;
        for (const auto& kv : extra)
            o.insert(kv.first, kv.second);
        return o;
    };
    QTest::newRow("no backend") << base << "CPU";
    QTest::newRow("named") << with({{"backend_name", "Vulkan"}}) << "Vulkan";
    QTest::newRow("backend_gpu false decides") << with({{"backend_gpu", false}, {"backend_name", "CUDA"}}) << "CPU";
    QTest::newRow("CUDA without a GPU") << with({{"backend_name", "CUDA"}}) << "CPU";
    QTest::newRow("backend_gpu true without a GPU") << with({{"backend_gpu", true}}) << "CPU";
    QTest::newRow("case matters") << with({{"backend_name", "cuda"}}) << "cuda";
}

void TestDialogState::restoreBackendRules()
{
    QFETCH(QJsonObject, element);
    QFETCH(QString, offered);
    QVERIFY(!GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok()); // NOMU_LIB_YOLO_GPU=0
    DialogSarvik_v2 dlg;
    BoxAnswerer boxes({QMessageBox::No});
    dlg.restoreState(QJsonObject{{"map_det_cfgs", QJsonArray{element}}});
    QCOMPARE(boxes.texts, QStringList{"name : n backend : " + offered + "\n/p"});
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("n", nullptr);
    QVERIFY(cfg);
    QCOMPARE(cfg->backend_name, offered);
    QVERIFY(!cfg->yolo && cfg->yolo_cpu);
}

void TestDialogState::restoreAsksOnlyForAbsentNames()
{
    DialogSarvik_v2 dlg;
    const QJsonObject state{{"map_det_cfgs", QJsonArray{QJsonObject{{"config_name", "a"}, {"config_path", "/a"}},
                                                       QJsonObject{{"config_name", "b"}, {"config_path", "/b"}}}}};
    {
        BoxAnswerer boxes({QMessageBox::No});
        dlg.restoreState(state);
        QCOMPARE(boxes.texts.size(), 2);
    }
    delete DialogListConfigs::map_det_cfgs.take("b");
    DialogListConfigs::map_det_cfgs.insert("null", nullptr);
    {
        BoxAnswerer boxes({QMessageBox::No});
        dlg.restoreState(state);
        QCOMPARE(boxes.texts, QStringList{"name : b backend : CPU\n/b"});
    }
    // A null entry counts as no configuration: its name is asked for and then registered.
    {
        BoxAnswerer boxes({QMessageBox::No});
        dlg.restoreState(QJsonObject{{"map_det_cfgs", QJsonArray{QJsonObject{{"config_name", "null"}}}}});
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(DialogListConfigs::map_det_cfgs.value("null", nullptr));
    }
}

void TestDialogState::restoreKeepsConfigLoadedMeanwhile_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("loadable"); // the saved folder holds a model
    QTest::addColumn<bool>("reloaded");
    QTest::newRow("No keeps it") << false << true << false;
    QTest::newRow("Yes loads the saved folder into it") << true << true << true;
    QTest::newRow("Yes with a folder that fails to load keeps it") << true << false << false;
}

void TestDialogState::restoreKeepsConfigLoadedMeanwhile()
{
    QFETCH(bool, yes);
    QFETCH(bool, loadable);
    QFETCH(bool, reloaded);
    // The box runs an event loop, in which the command loop may load the same
    // name: it stays the registered configuration, never a placeholder.
    DialogSarvik_v2 dlg;
    DetConfig* loaded_meanwhile = fake_config("CPU", true);
    BoxAnswerer boxes({yes ? QMessageBox::Yes : QMessageBox::No});
    boxes.during = [&] { DialogListConfigs::map_det_cfgs.insert("n", loaded_meanwhile); };
    const QString path = loadable ? small_ : root_.path() + "/nowhere";
    dlg.restoreState(QJsonObject{{"map_det_cfgs", QJsonArray{QJsonObject{{"config_name", "n"}, {"config_path", path}}}}});
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(DialogListConfigs::map_det_cfgs.value("n", nullptr), loaded_meanwhile);
    QVERIFY(loaded_meanwhile->loaded);
    QCOMPARE(loaded_meanwhile->config_path, reloaded ? small_ : QString("/models/CPU"));
    QCOMPARE(loaded_meanwhile->class_names.size(), size_t(reloaded ? 2 : 0));
    QCOMPARE(loaded_meanwhile->yolo_cpu && loaded_meanwhile->yolo_cpu->detector, reloaded);
}

void TestDialogState::restoreShowsConfig_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("icon");
    QTest::newRow("loaded CPU") << "cpu" << "cpu" << ":/nomu_quandel_sarvik/model/cnn_detect_cpu.png";
    QTest::newRow("loaded Vulkan") << "vk" << "vk" << ":/nomu_quandel_sarvik/model/cnn_detect_vulkan.png";
    QTest::newRow("loaded CUDA") << "gpu" << "gpu" << ":/nomu_quandel_sarvik/model/cnn_detect.png";
    QTest::newRow("placeholder") << "placeholder" << "before" << "";
    QTest::newRow("absent") << "nobody" << "before" << "";
    QTest::newRow("empty") << "" << "before" << "";
}

void TestDialogState::restoreShowsConfig()
{
    QFETCH(QString, name);
    QFETCH(QString, label);
    QFETCH(QString, icon);
    DialogListConfigs::map_det_cfgs.insert("cpu", fake_config("CPU", true));
    DialogListConfigs::map_det_cfgs.insert("vk", fake_config("Vulkan", true));
    DialogListConfigs::map_det_cfgs.insert("gpu", fake_config("CUDA", true));
    DialogListConfigs::map_det_cfgs.insert("placeholder", fake_config("CUDA", false));
    DialogSarvik_v2 dlg;
    QLabel host_icon, host_name;
    dlg.host_icon_label = &host_icon;
    dlg.host_name_label = &host_name;
    w<QLabel>(dlg, "label_config_name")->setText("before");
    dlg.track_ids = {9};
    dlg.restoreState(QJsonObject{{"this_config_name", name}});
    QCOMPARE(w<QLabel>(dlg, "label_config_name")->text(), label);
    const QPixmap shown = w<QLabel>(dlg, "label_config_icon")->pixmap(Qt::ReturnByValue);
    if (icon.isEmpty()) {
        QVERIFY(shown.isNull());
        QCOMPARE(host_name.text(), QString());
    } else {
        QVERIFY(!shown.isNull());
        QCOMPARE(shown.toImage(), QPixmap(icon).toImage());
        QCOMPARE(host_icon.pixmap(Qt::ReturnByValue).toImage(), QPixmap(icon).toImage());
        QCOMPARE(host_name.text(), name);
    }
    // Showing resets nothing.
    QCOMPARE(dlg.track_ids, std::vector<unsigned>{9});
}

void TestDialogState::unansweredBoxAnswersYes()
{
    DialogSarvik_v2 dlg;
    QElapsedTimer clock;
    clock.start();
    dlg.restoreState(QJsonObject{{"map_det_cfgs", QJsonArray{QJsonObject{{"config_name", "auto"}, {"config_path", small_}}}}});
    QVERIFY(clock.elapsed() >= 4500);
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("auto", nullptr);
    QVERIFY(cfg && cfg->loaded);
}

void TestDialogState::cmdSetParameters_data()
{
    QTest::addColumn<QJsonObject>("cmd");
    QTest::addColumn<double>("thresh");
    QTest::addColumn<double>("nms");
    QTest::newRow("threshold number") << QJsonObject{{"thresh", 35}} << 35.0 << 0.4;
    QTest::newRow("threshold text ignored") << QJsonObject{{"thresh", "35"}} << 50.0 << 0.4;
    QTest::newRow("threshold clamped") << QJsonObject{{"thresh", 0.001}} << 0.01 << 0.4;
    QTest::newRow("threshold rounded") << QJsonObject{{"thresh", 12.346}} << 12.35 << 0.4;
    QTest::newRow("nms clamped") << QJsonObject{{"nms", 2}} << 50.0 << 1.0;
    QTest::newRow("nms text ignored") << QJsonObject{{"nms", "0.5"}} << 50.0 << 0.4;
    QTest::newRow("both, other keys ignored") << QJsonObject{{"thresh", 10}, {"nms", 0.2}, {"roi_x", 5}} << 10.0 << 0.2;
    QTest::newRow("bool ignored") << QJsonObject{{"thresh", true}} << 50.0 << 0.4;
}

void TestDialogState::cmdSetParameters()
{
    QFETCH(QJsonObject, cmd);
    QFETCH(double, thresh);
    QFETCH(double, nms);
    DialogSarvik_v2 dlg;
    dlg.cmdSetParameters(cmd);
    QCOMPARE(w<QDoubleSpinBox>(dlg, "spinBox_threshold")->value(), thresh);
    QCOMPARE(w<QDoubleSpinBox>(dlg, "doubleSpinBox_nms")->value(), nms);
    QCOMPARE(dlg.saveState().value("roi_x").toInt(), 0);
}

void TestDialogState::cmdResetCount_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<bool>("tracking");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("reset");
    QTest::newRow("reset") << QJsonValue(true) << true << "three" << true;
    QTest::newRow("false") << QJsonValue(false) << true << "three" << false;
    QTest::newRow("number") << QJsonValue(1) << true << "three" << false;
    QTest::newRow("tracking off") << QJsonValue(true) << false << "three" << false;
    QTest::newRow("nothing shown") << QJsonValue(true) << true << "" << false;
    QTest::newRow("not loaded") << QJsonValue(true) << true << "placeholder" << false;
    QTest::newRow("not registered") << QJsonValue(true) << true << "nobody" << false;
}

void TestDialogState::cmdResetCount()
{
    QFETCH(QJsonValue, value);
    QFETCH(bool, tracking);
    QFETCH(QString, shown);
    QFETCH(bool, reset);
    DetConfig* three = fake_config("CPU", true, 3);
    DialogListConfigs::map_det_cfgs.insert("three", three);
    DialogListConfigs::map_det_cfgs.insert("placeholder", fake_config("CPU", false, 3));
    DialogSarvik_v2 dlg;
    w<QGroupBox>(dlg, "checkBox_enable_tracking")->setChecked(tracking);
    w<QLabel>(dlg, "label_config_name")->setText(shown);
    dlg.track_ids = {7};
    dlg.track_history.resize(2);
    dlg.cmdSetParameters(QJsonObject{{"reset_count", value}});
    if (reset) {
        QCOMPARE(dlg.track_ids, (std::vector<unsigned>{1, 1, 1}));
        QVERIFY(dlg.track_history.empty());
        QCOMPARE(*three->track_counters, (std::vector<unsigned>{1, 1, 1}));
    } else {
        QCOMPARE(dlg.track_ids, std::vector<unsigned>{7});
        QCOMPARE(dlg.track_history.size(), size_t(2));
    }
    // Both locks are free again.
    QVERIFY(dlg.mutex.tryLock());
    dlg.mutex.unlock();
    QVERIFY(three->mutex.tryLock());
    three->mutex.unlock();
}

QTEST_MAIN(TestDialogState)
#include "tst_dialog_state.moc"
