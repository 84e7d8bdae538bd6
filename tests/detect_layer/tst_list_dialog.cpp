// The registry's list dialog: items, preselection, removal and the icons.
#include "layer_test_support.h"

#include "detector.h"

#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace layertest;

class TestListDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void itemsFollowTheRegistry();
    void preselection_data();
    void preselection();
    void removeDeletesAndNotifies();
    void notificationFromOutsideKeepsRecord();
    void iconsDiffer();

private:
    QTemporaryDir root_;
    QString small_;
};

void TestListDialog::initTestCase()
{
    small_ = make_folder(root_, "small", fixture::nomued_det52_cfg(2), fixture::small_boxes_weights());
    QVERIFY(!small_.isEmpty());
}

void TestListDialog::cleanup() { clear_registry(); }

static QStringList item_texts(const DialogListConfigs& list)
{
    QStringList out;
    for (int i = 0; i < list.list_configs->count(); ++i)
        out << list.list_configs->item(i)->text();
    return out;
}

void TestListDialog::itemsFollowTheRegistry()
{
    DialogListConfigs list(nullptr);
    QVERIFY(list.addConfigPath("b", small_, "CPU"));
    QVERIFY(list.addConfigPath("a", small_, "CPU"));
    QCOMPARE(item_texts(list), (QStringList{"a", "b"}));
    // Records registered by others (a placeholder, a null entry, an empty
    // name) show at the next preselection, the null and unnamed ones never.
    DialogListConfigs::map_det_cfgs.insert("placeholder", new DetConfig(nullptr));
    DialogListConfigs::map_det_cfgs.insert("null", nullptr);
    DialogListConfigs::map_det_cfgs.insert("", new DetConfig(nullptr));
    list.setSelectedConfig("a");
    QCOMPARE(item_texts(list), (QStringList{"a", "b", "placeholder"}));
    // A failed load adds nothing.
    QVERIFY(!list.addConfigPath("c", root_.path() + "/nowhere", "CPU"));
    QCOMPARE(item_texts(list), (QStringList{"a", "b", "placeholder"}));
    QVERIFY(!DialogListConfigs::map_det_cfgs.contains("c"));
}

void TestListDialog::preselection_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("current");
    QTest::newRow("registered") << "b" << "b";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("absent") << "zzz" << "";
}

void TestListDialog::preselection()
{
    QFETCH(QString, name);
    QFETCH(QString, current);
    DialogListConfigs list(nullptr);
    QVERIFY(list.addConfigPath("a", small_, "CPU"));
    QVERIFY(list.addConfigPath("b", small_, "CPU"));
    list.setSelectedConfig("a");
    list.setSelectedConfig(name);
    QCOMPARE(list.list_configs->currentItem() ? list.list_configs->currentItem()->text() : QString(), current);
    QVERIFY(!DialogListConfigs::map_det_cfgs.contains("zzz"));
}

void TestListDialog::removeDeletesAndNotifies()
{
    DialogListConfigs list(nullptr);
    QVERIFY(list.addConfigPath("a", small_, "CPU"));
    QVERIFY(list.addConfigPath("b", small_, "CPU"));
    QCOMPARE(DetectorCPU::live_count(), 2);
    list.setSelectedConfig("a");
    QSignalSpy removed(&list, &DialogListConfigs::config_removed);
    QSignalSpy chosen(list.list_configs, &QListWidget::currentTextChanged);
    auto remove = list.findChild<QPushButton*>("pushButton_remove");
    QVERIFY(remove);
    remove->click();
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(0).toString(), QString("a"));
    QVERIFY(!DialogListConfigs::map_det_cfgs.contains("a"));
    QCOMPARE(item_texts(list), QStringList{"b"});
    QCOMPARE(DetectorCPU::live_count(), 1);
    // The current item moved to "b", as a list reports it.
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).toString(), QString("b"));
    // Nothing current: Remove does nothing.
    list.setSelectedConfig("");
    remove->click();
    QCOMPARE(removed.count(), 1);
    QCOMPARE(item_texts(list), QStringList{"b"});
}

void TestListDialog::notificationFromOutsideKeepsRecord()
{
    DialogListConfigs list(nullptr);
    DetConfig* cfg = load(list, "test", small_);
    QVERIFY(cfg);
    // The server emits the signal while it holds the record's mutex.
    cfg->mutex.lock();
    emit list.config_removed("test");
    cfg->mutex.unlock();
    QCOMPARE(DialogListConfigs::map_det_cfgs.value("test"), cfg);
    QVERIFY(cfg->loaded);
    QCOMPARE(item_texts(list), QStringList{"test"});
}

void TestListDialog::iconsDiffer()
{
    DialogListConfigs list(nullptr); // registers the icons
    const QImage gpu(":/nomu_quandel_sarvik/model/cnn_detect.png");
    const QImage vulkan(":/nomu_quandel_sarvik/model/cnn_detect_vulkan.png");
    const QImage cpu(":/nomu_quandel_sarvik/model/cnn_detect_cpu.png");
    QVERIFY(!gpu.isNull() && !vulkan.isNull() && !cpu.isNull());
    QVERIFY(gpu != vulkan && gpu != cpu && vulkan != cpu);
}

QTEST_MAIN(TestListDialog)
#include "tst_list_dialog.moc"
