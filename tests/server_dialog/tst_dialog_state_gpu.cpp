// restoreState on a machine whose GPU probe says yes (forced through
// NOMU_LIB_YOLO_GPU=1): "CUDA" stays "CUDA" and uses the GPU wrapper.
#include "dialog_sarvik_v2.h"
#include "dialog_test_support.h"

#include "detector.h"
#include "fixture_model.h"
#include "global_nomu_lib_yolo.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

using namespace dialogtest;

class TestDialogStateGpu : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { clear_registry(); }
    void cudaOfferedAsCuda_data();
    void cudaOfferedAsCuda();
};

void TestDialogStateGpu::cudaOfferedAsCuda_data()
{
    QTest::addColumn<QJsonObject>("element");
    QTest::addColumn<int>("answer");
    QTest::newRow("backend_name, declined") << QJsonObject{{"config_name", "n"}, {"backend_name", "CUDA"}}
                                            << int(QMessageBox::No);
    QTest::newRow("backend_gpu, declined") << QJsonObject{{"config_name", "n"}, {"backend_gpu", true}}
                                           << int(QMessageBox::No);
    QTest::newRow("backend_gpu, loaded") << QJsonObject{{"config_name", "n"}, {"backend_gpu", true}}
                                         << int(QMessageBox::Yes);
}

void TestDialogStateGpu::cudaOfferedAsCuda()
{
    QFETCH(QJsonObject, element);
    QFETCH(int, answer);
    QVERIFY(GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok());
    QTemporaryDir root;
    const QString dir = root.path() + "/m";
    QVERIFY(fixture::write_model_folder(dir, fixture::nomued_det52_cfg(2), fixture::small_boxes_weights(),
                                        {"cat", "dog"}));
    element.insert("config_path", dir);
    DialogSarvik_v2 dlg;
    BoxAnswerer boxes({QMessageBox::StandardButton(answer)});
    dlg.restoreState(QJsonObject{{"map_det_cfgs", QJsonArray{element}}});
    QCOMPARE(boxes.texts, QStringList{"name : n backend : CUDA\n" + dir});
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("n", nullptr);
    QVERIFY(cfg);
    QCOMPARE(cfg->backend_name, QString("CUDA"));
    QVERIFY(cfg->yolo && !cfg->yolo_cpu);
    if (answer == QMessageBox::Yes) {
        QVERIFY(cfg->loaded && cfg->yolo->detector);
        QCOMPARE(Detector::live_count(), 1);
    } else {
        QVERIFY(!cfg->loaded && !cfg->yolo->detector);
        QCOMPARE(Detector::live_count(), 0);
    }
}

QTEST_MAIN(TestDialogStateGpu)
#include "tst_dialog_state_gpu.moc"
