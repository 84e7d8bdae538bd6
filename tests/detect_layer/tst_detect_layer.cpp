// Real detection through the layer on model folders whose detections are
// known in advance (see fixture_model.h).
#include "layer_test_support.h"

#include "det_config.h"
#include "detector.h"
#include "dialog_list_configs.h"
#include "model_loader.h"

#include <QtTest>

#include <set>

using namespace layertest;
using nomu_lib_darknet_widget::DetectionError;

class TestDetectLayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void knownDetections_data();
    void knownDetections();
    void refusedModels_data();
    void refusedModels();
    void failedReloadKeepsServing();
    void protectedGivesSameDetections();
    void reloadReusesRecord();
    void gpuBackendUsesGpuWrapper();
    void roi_data();
    void roi();
    void countsAndText();
    void trackingStillBoxes();
    void trackingAcrossGapsAndDistance_data();
    void trackingAcrossGapsAndDistance();
    void resetTrackIdRestartsCounts();
    void failuresThrow();
    void drawingFollowsParameters();

private:
    QTemporaryDir root_;
    DialogListConfigs* list_ = nullptr;
    QString small_, big_, low_;
};

void TestDetectLayer::initTestCase()
{
    QVERIFY(root_.isValid());
    list_ = new DialogListConfigs(nullptr);
    const QString cfg = fixture::nomued_det52_cfg(2);
    small_ = make_folder(root_, "small", cfg, fixture::small_boxes_weights());
    big_ = make_folder(root_, "big", cfg, fixture::big_box_weights());
    low_ = make_folder(root_, "low", cfg, fixture::low_score_weights());
    QVERIFY(!small_.isEmpty() && !big_.isEmpty() && !low_.isEmpty());
}

void TestDetectLayer::cleanup() { clear_registry(); }

void TestDetectLayer::knownDetections_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<double>("thresh");
    QTest::addColumn<int>("count");
    QTest::newRow("many small boxes") << "small" << 0.5 << 169;
    QTest::newRow("one big box") << "big" << 0.5 << 1;
    QTest::newRow("threshold above every score") << "small" << 0.9995 << 0;
    // OpenCV alone would zero every score under 0.2.
    QTest::newRow("5 % keeps a score of 0.1") << "low" << 0.05 << 169;
    QTest::newRow("15 % drops it") << "low" << 0.15 << 0;
    QTest::newRow("lowest threshold") << "low" << 0.0001 << 169;
}

void TestDetectLayer::knownDetections()
{
    QFETCH(QString, folder);
    QFETCH(double, thresh);
    QFETCH(int, count);
    DetConfig* cfg = load(*list_, "test", root_.path() + "/" + folder);
    QVERIFY(cfg);
    cfg->thresh = thresh;
    cv::Mat img = black();
    const std::vector<bbox_t> boxes = cfg->infer(img);
    QCOMPARE(int(boxes.size()), count);
    QCOMPARE(img.cols, 608);
    QCOMPARE(img.rows, 342);
    for (const bbox_t& b : boxes) {
        QCOMPARE(b.obj_id, 0u);
        QVERIFY(b.x + b.w <= 608u && b.y + b.h <= 342u && b.w > 0 && b.h > 0);
        QVERIFY(b.prob > thresh);
    }
    if (folder == "big" && count == 1) {
        QCOMPARE(boxes[0].x, 0u);
        QCOMPARE(boxes[0].y, 0u);
        QCOMPARE(boxes[0].w, 608u);
        QCOMPARE(boxes[0].h, 342u);
        QVERIFY(qAbs(boxes[0].prob - 0.99933f) < 1e-4f);
    }
    if (folder == "small" && count == 169) {
        // One box per cell of the 13 x 13 lattice, each about 6 x 5 pixels.
        std::set<std::pair<unsigned, unsigned>> cells;
        for (const bbox_t& b : boxes) {
            QVERIFY(b.w >= 5 && b.w <= 7 && b.h >= 4 && b.h <= 6);
            cells.insert({(b.x + b.w / 2) * 13 / 608, (b.y + b.h / 2) * 13 / 342});
        }
        QCOMPARE(int(cells.size()), 169);
        // Same order every time.
        cv::Mat again = black();
        const std::vector<bbox_t> second = cfg->infer(again);
        for (size_t i = 0; i < boxes.size(); ++i)
            QVERIFY(boxes[i].x == second[i].x && boxes[i].y == second[i].y);
    }
}

void TestDetectLayer::refusedModels_data()
{
    QTest::addColumn<QString>("cfg");
    QTest::addColumn<QByteArray>("weights");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("reason");
    const QString cfg = fixture::nomued_det52_cfg(2);
    const QByteArray w = fixture::small_boxes_weights();
    const QStringList names{"cat", "dog"};
    QTest::newRow("truncated weights") << cfg << w.left(8000) << names << "holds 8000 bytes";
    QTest::newRow("padded weights") << cfg << w + QByteArray(1000, '\0') << names << "holds 14592 bytes";
    QTest::newRow("empty weights") << cfg << QByteArray() << names << "holds 0 bytes";
    // 3 classes need 24 filters before the [yolo] section; the weights fit the 21 given.
    QTest::newRow("classes/filters mismatch") << QString(cfg).replace("classes=2", "classes=3") << w
                                              << QStringList{"a", "b", "c"} << "needs 24 filters";
    QTest::newRow("names shorter than classes") << cfg << w << QStringList{"cat"} << "names 1 classes";
    QString damaged = fixture::protected_form(fixture::nomued_det52_cfg(2, true));
    damaged.chop(6);
    QTest::newRow("damaged protected description") << damaged << w << names << "does not decipher";
    QTest::newRow("layer OpenCV rejects") << QString(cfg).replace("activation=leaky", "activation=hard-mish") << w
                                          << names << "Unsupported activation";
}

void TestDetectLayer::refusedModels()
{
    QFETCH(QString, cfg);
    QFETCH(QByteArray, weights);
    QFETCH(QStringList, names);
    QFETCH(QString, reason);
    const QString dir = make_folder(root_, QTest::currentDataTag(), cfg, weights, names);
    QVERIFY(!dir.isEmpty());
    QString why;
    LoadedModel model;
    QVERIFY(!load_model(dir, "CPU", &model, &why));
    QVERIFY2(why.contains(reason), qPrintable(why));
    QVERIFY(!list_->addConfigPath("test", dir, "CPU"));
    QVERIFY(!DialogListConfigs::map_det_cfgs.contains("test"));
    QCOMPARE(DetectorCPU::live_count(), 0);
}

void TestDetectLayer::failedReloadKeepsServing()
{
    DetConfig* cfg = load(*list_, "test", small_);
    QVERIFY(cfg);
    const QString bad = make_folder(root_, "bad", fixture::nomued_det52_cfg(2), fixture::small_boxes_weights().left(100));
    QVERIFY(!list_->addConfigPath("test", bad, "CPU"));
    QCOMPARE(DialogListConfigs::map_det_cfgs.value("test"), cfg);
    QVERIFY(cfg->loaded);
    QCOMPARE(cfg->config_path, small_);
    cv::Mat img = black();
    QCOMPARE(int(cfg->infer(img).size()), 169);
}

void TestDetectLayer::protectedGivesSameDetections()
{
    const QString prot = make_folder(root_, "protected", fixture::protected_form(fixture::nomued_det52_cfg(2, true)),
                                     fixture::small_boxes_weights());
    DetConfig* clear = load(*list_, "clear", small_);
    DetConfig* hidden = load(*list_, "hidden", prot);
    QVERIFY(clear && hidden);
    cv::Mat a = black(), b = black();
    const std::vector<bbox_t> da = clear->infer(a), db = hidden->infer(b);
    QCOMPARE(da.size(), size_t(169));
    QCOMPARE(db.size(), da.size());
    for (size_t i = 0; i < da.size(); ++i) {
        QCOMPARE(db[i].x, da[i].x);
        QCOMPARE(db[i].y, da[i].y);
        QCOMPARE(db[i].w, da[i].w);
        QCOMPARE(db[i].h, da[i].h);
        QCOMPARE(db[i].prob, da[i].prob);
    }
}

void TestDetectLayer::reloadReusesRecord()
{
    DetConfig* first = load(*list_, "test", small_);
    QVERIFY(first);
    QCOMPARE(DetectorCPU::live_count(), 1);
    QVERIFY(list_->addConfigPath("test", big_, "CPU"));
    QCOMPARE(DialogListConfigs::map_det_cfgs.value("test"), first);
    QCOMPARE(DialogListConfigs::map_det_cfgs.size(), 1);
    QCOMPARE(DetectorCPU::live_count(), 1);
    QCOMPARE(first->config_path, big_);
    // Tracking still works on the reloaded record: it advances the counters
    // the record hands out, and a reset of the record (which restarts its own
    // counters) shows through them.
    std::vector<unsigned>* counters = first->track_counters;
    QVERIFY(counters);
    QCOMPARE(*counters, (std::vector<unsigned>{1, 1}));
    first->enable_tracking = true;
    cv::Mat img = black();
    const std::vector<bbox_t> boxes = first->infer(img);
    QCOMPARE(int(boxes.size()), 1);
    std::vector<unsigned> advanced{1, 1};
    ++advanced.at(boxes[0].obj_id);
    QCOMPARE(*counters, advanced);
    first->reset_track_id(nullptr, nullptr);
    QCOMPARE(*counters, (std::vector<unsigned>{1, 1}));
    QCOMPARE(first->track_counters, counters);
    // An unloaded record under the name (as the server leaves it) is reused too.
    first->loaded = false;
    QVERIFY(list_->addConfigPath("test", small_, "CPU"));
    QCOMPARE(DialogListConfigs::map_det_cfgs.value("test"), first);
    QVERIFY(first->loaded);
}

void TestDetectLayer::gpuBackendUsesGpuWrapper()
{
    // No CUDA target here: the GPU detector runs on the CPU, behind the GPU wrapper.
    DetConfig* cfg = load(*list_, "g", small_, "CUDA");
    QVERIFY(cfg);
    QVERIFY(cfg->yolo && cfg->yolo->detector);
    QVERIFY(!cfg->yolo_cpu);
    QCOMPARE(cfg->backend_name, QString("CUDA"));
    QCOMPARE(Detector::live_count(), 1);
    cv::Mat img = black();
    QCOMPARE(int(cfg->infer(img).size()), 169);
    // The same record reloaded for the CPU frees the GPU detector.
    QVERIFY(list_->addConfigPath("g", small_, "CPU"));
    QCOMPARE(Detector::live_count(), 0);
    QVERIFY(cfg->yolo_cpu && cfg->yolo_cpu->detector);
    QCOMPARE(int(cfg->infer(img).size()), 169);
}

void TestDetectLayer::roi_data()
{
    QTest::addColumn<QVector<int>>("roi");
    QTest::addColumn<int>("count");
    // Cell centres lie at (col + 0.5) / 13 of the width: 6 columns of 13 below x = 300.
    QTest::newRow("left part") << QVector<int>{0, 0, 300, 342} << 78;
    QTest::newRow("empty means the whole image") << QVector<int>{0, 0, 0, 0} << 169;
    QTest::newRow("zero height means the whole image") << QVector<int>{100, 100, 50, 0} << 169;
    QTest::newRow("larger than the image") << QVector<int>{0, 0, 5000, 5000} << 169;
    QTest::newRow("outside the image") << QVector<int>{700, 0, 100, 100} << 0;
    QTest::newRow("one cell") << QVector<int>{0, 0, 40, 20} << 1;
}

void TestDetectLayer::roi()
{
    QFETCH(QVector<int>, roi);
    QFETCH(int, count);
    DetConfig* cfg = load(*list_, "test", small_);
    QVERIFY(cfg);
    cfg->roi_x = roi[0];
    cfg->roi_y = roi[1];
    cfg->roi_w = roi[2];
    cfg->roi_h = roi[3];
    cv::Mat img = black();
    const std::vector<bbox_t> boxes = cfg->infer(img);
    QCOMPARE(int(boxes.size()), count);
    QCOMPARE(cfg->obj_counts[0], count);
}

void TestDetectLayer::countsAndText()
{
    DetConfig* cfg = load(*list_, "test", small_);
    QVERIFY(cfg);
    cv::Mat img = black();
    cfg->infer(img);
    QCOMPARE(cfg->obj_counts, (std::vector<int>{169, 0}));
    QCOMPARE(QString::fromStdString(cfg->count_text), QString("cat: 169"));
    QCOMPARE(cfg->class_names, (std::vector<std::string>{"cat", "dog"}));
    cfg->thresh = 0.9995;
    cfg->infer(img);
    QCOMPARE(cfg->obj_counts, (std::vector<int>{0, 0}));
    QCOMPARE(QString::fromStdString(cfg->count_text), QString());
}

void TestDetectLayer::trackingStillBoxes()
{
    DetConfig* cfg = load(*list_, "test", small_);
    QVERIFY(cfg);
    cfg->enable_tracking = true;
    cv::Mat img = black();
    const std::vector<bbox_t> first = cfg->infer(img);
    std::set<unsigned> ids;
    for (const bbox_t& b : first) {
        ids.insert(b.track_id);
        QCOMPARE(b.frames_counter, 1u);
    }
    QCOMPARE(int(ids.size()), 169);
    QCOMPARE(*ids.begin(), 1u);
    QCOMPARE(*ids.rbegin(), 169u);
    QVERIFY(cfg->track_counters);
    QCOMPARE(*cfg->track_counters, (std::vector<unsigned>{170, 1}));
    for (int frame = 2; frame <= 3; ++frame) {
        cv::Mat next = black();
        const std::vector<bbox_t> again = cfg->infer(next);
        QCOMPARE(again.size(), first.size());
        for (size_t i = 0; i < again.size(); ++i) {
            QCOMPARE(again[i].track_id, first[i].track_id);
            QCOMPARE(again[i].frames_counter, unsigned(frame));
        }
    }
    QCOMPARE(*cfg->track_counters, (std::vector<unsigned>{170, 1}));
    // Without tracking the ids are 0.
    cfg->enable_tracking = false;
    cv::Mat plain = black();
    for (const bbox_t& b : cfg->infer(plain))
        QCOMPARE(b.track_id, 0u);
}

void TestDetectLayer::trackingAcrossGapsAndDistance_data()
{
    QTest::addColumn<int>("frameBuffer");
    QTest::addColumn<int>("maxDist");
    QTest::addColumn<int>("secondHeight");
    QTest::addColumn<bool>("gap");
    QTest::addColumn<unsigned>("secondId");
    // The big box covers the image, so its centre moves with the image height: 171 -> 200.
    QTest::newRow("still") << 5 << 150 << 342 << false << 1u;
    QTest::newRow("moved within max_dist") << 5 << 50 << 400 << false << 1u;
    QTest::newRow("moved beyond max_dist") << 5 << 20 << 400 << false << 2u;
    QTest::newRow("gap within frame_buffer") << 2 << 150 << 342 << true << 1u;
    QTest::newRow("gap beyond frame_buffer") << 1 << 150 << 342 << true << 2u;
}

void TestDetectLayer::trackingAcrossGapsAndDistance()
{
    QFETCH(int, frameBuffer);
    QFETCH(int, maxDist);
    QFETCH(int, secondHeight);
    QFETCH(bool, gap);
    QFETCH(unsigned, secondId);
    DetConfig* cfg = load(*list_, "test", big_);
    QVERIFY(cfg);
    cfg->enable_tracking = true;
    cfg->frame_buffer = frameBuffer;
    cfg->max_dist = maxDist;
    cv::Mat a = black();
    QCOMPARE(cfg->infer(a).at(0).track_id, 1u);
    if (gap) {
        cfg->thresh = 0.9995; // a frame without the box
        cv::Mat none = black();
        QVERIFY(cfg->infer(none).empty());
        cfg->thresh = 0.5;
    }
    cv::Mat b = black(608, secondHeight);
    QCOMPARE(cfg->infer(b).at(0).track_id, secondId);
}

void TestDetectLayer::resetTrackIdRestartsCounts()
{
    DetConfig* cfg = load(*list_, "test", small_);
    QVERIFY(cfg);
    cfg->enable_tracking = true;
    cv::Mat img = black();
    cfg->infer(img);
    QCOMPARE(*cfg->track_counters, (std::vector<unsigned>{170, 1}));

    std::vector<unsigned> ids{7, 7, 7, 7};
    std::deque<std::vector<bbox_t>> history(3);
    cfg->reset_track_id(&ids, &history);
    QCOMPARE(ids, (std::vector<unsigned>{1, 1}));
    QVERIFY(history.empty());
    QCOMPARE(*cfg->track_counters, (std::vector<unsigned>{1, 1}));
    // The mutex is free again, and the next frame opens its tracks from 1.
    QVERIFY(cfg->mutex.tryLock());
    cfg->mutex.unlock();
    cv::Mat next = black();
    const std::vector<bbox_t> boxes = cfg->infer(next);
    unsigned lowest = 1000;
    for (const bbox_t& b : boxes)
        lowest = std::min(lowest, b.track_id);
    QCOMPARE(lowest, 1u);
    QCOMPARE(*cfg->track_counters, (std::vector<unsigned>{170, 1}));

    // A record without names: both containers end empty.
    DetConfig bare;
    ids = {3};
    history.resize(2);
    bare.reset_track_id(&ids, &history);
    QVERIFY(ids.empty() && history.empty());
    QVERIFY(bare.track_counters && bare.track_counters->empty());
}

void TestDetectLayer::failuresThrow()
{
    DetConfig unloaded;
    cv::Mat img = black();
    QVERIFY_EXCEPTION_THROWN(unloaded.infer(img), DetectionError);

    DetConfig* cfg = load(*list_, "test", small_);
    QVERIFY(cfg);
    cfg->infer(img);
    QVERIFY(!cfg->obj_counts.empty());
    cv::Mat empty;
    QVERIFY_EXCEPTION_THROWN(cfg->infer(empty), DetectionError);
    QVERIFY(cfg->obj_counts.empty());
    QVERIFY(cfg->count_text.empty());
    cv::Mat grey(342, 608, CV_8UC1, cv::Scalar(0));
    QVERIFY_EXCEPTION_THROWN(cfg->infer(grey), DetectionError);
    // A placeholder: loaded claimed, but no detector behind the wrapper.
    DetConfig placeholder;
    placeholder.loaded = true;
    placeholder.yolo_cpu = new NomuYoloCPU;
    QVERIFY_EXCEPTION_THROWN(placeholder.infer(img), DetectionError);
    // The lock is released after a failure.
    QVERIFY(cfg->mutex.tryLock());
    cfg->mutex.unlock();
}

void TestDetectLayer::drawingFollowsParameters()
{
    DetConfig* cfg = load(*list_, "test", small_);
    QVERIFY(cfg);
    auto drawn = [&](bool result, bool text, bool roi) {
        cfg->result_drawing = result;
        cfg->text_drawing = text;
        cfg->draw_roi = roi;
        cv::Mat img = black();
        cfg->infer(img);
        return cv::countNonZero(img.reshape(1));
    };
    QCOMPARE(drawn(false, false, false), 0);
    const int boxes = drawn(true, false, false);
    const int with_text = drawn(true, true, false);
    const int with_roi = drawn(false, false, true);
    QVERIFY(boxes > 0);
    QVERIFY(with_text > boxes);
    QVERIFY(with_roi > 0);
    // Thick lines and big text cover more, and extreme values still draw.
    cfg->rect_thickness = 9999;
    cfg->font_scale = 99999;
    cfg->font_thickness = 9999;
    cfg->txt_offset = -9999;
    QVERIFY(drawn(true, true, true) > with_text);
}

QTEST_MAIN(TestDetectLayer)
#include "tst_detect_layer.moc"
