// Every model the trainer offers must load in the server: the trainer's own
// network description (protected where the family asks for it) with weights
// of the size the loader computes, one detection run.
#include "det_config.h"
#include "dialog_list_configs.h"
#include "fixture_model.h"
#include "model_loader.h"
#include "network_description.h"
#include "resources.h"

#include <QTemporaryDir>
#include <QtTest>

class TestTemplateModels : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { nomu_pelto_varnex_init_resources(); }
    void offeredModelsLoad_data();
    void offeredModelsLoad();
};

void TestTemplateModels::offeredModelsLoad_data()
{
    QTest::addColumn<QString>("model");
    for (const char* m : {"V4", "V4-tiny", "V4-tiny-64", "V4-tiny-128", "V4-tiny-256", "Fastest-1.1-XL-320",
                          "Fastest-1.1-320", "V7", "V7-tiny", "NomuedDet2-128", "NomuedDet2-256", "KVTRDet-128",
                          "KVTRDet-256", "NomuedDet-52"})
        QTest::newRow(m) << QString(m);
}

void TestTemplateModels::offeredModelsLoad()
{
    QFETCH(QString, model);
    QTemporaryDir dir;
    QVERIFY(write_network_description(model, 3, 64, 8, dir.path()));
    QFile cfg(dir.path() + "/test.cfg");
    QVERIFY(cfg.open(QIODevice::ReadOnly));
    const QString stored = QString::fromUtf8(cfg.readAll());
    QCOMPARE(stored.contains("<-<+>->"), is_protected_model(model));
    const QByteArray weights = fixture::random_weights(reveal_cfg_text(stored));
    QVERIFY2(!weights.isEmpty(), "the loader refuses the description");
    QVERIFY(fixture::write_model_folder(dir.path(), stored, weights, {"a", "b", "c"}));

    LoadedModel loaded;
    QString error;
    QVERIFY2(load_model(dir.path(), "CPU", &loaded, &error), qPrintable(error));
    QCOMPARE(loaded.classes, 3);
    cv::Mat image(342, 608, CV_8UC3, cv::Scalar(60, 120, 180));
    loaded.cpu->detect(image, 0.5f, 0.4f);
}

QTEST_APPLESS_MAIN(TestTemplateModels)
#include "tst_template_models.moc"
