// Configuration selection, the backend icon rule and the tracking reset of
// the settings dialog.
#include "dialog_sarvik_v2.h"

#include "dialog_list_configs.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>

namespace {

const char* kGpuIcon = ":/nomu_quandel_sarvik/model/cnn_detect.png";
const char* kVulkanIcon = ":/nomu_quandel_sarvik/model/cnn_detect_vulkan.png";
const char* kCpuIcon = ":/nomu_quandel_sarvik/model/cnn_detect_cpu.png";

DetConfig* add(const QString& name, const QString& backend, bool loaded, int classes)
{
    auto cfg = new DetConfig(nullptr);
    cfg->backend_name = backend;
    cfg->loaded = loaded;
    for (int i = 0; i < classes; ++i)
        cfg->class_names.push_back("c" + std::to_string(i));
    DialogListConfigs::map_det_cfgs.insert(name, cfg);
    return cfg;
}

QImage pixmap_of(QLabel* label) { return label->pixmap(Qt::ReturnByValue).toImage(); }
QImage icon(const char* path) { return QPixmap(path).toImage(); }

const std::vector<unsigned> kSentinel{42, 42};

} // namespace

class TestSelection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void choosingShowsIcon_data();
    void choosingShowsIcon();
    void choosingUnloadedOrEmpty();
    void removal();
    void removalReachesEveryDialog();
    void enableTrackingClicks();
    void resetCountButton_data();
    void resetCountButton();
    void configButtonRunsList();

private:
    QLabel* name() { return dlg_->findChild<QLabel*>("label_config_name"); }
    QLabel* iconLabel() { return dlg_->findChild<QLabel*>("label_config_icon"); }
    void choose(const QString& n) { QVERIFY(QMetaObject::invokeMethod(dlg_, "current_config_changed", Q_ARG(QString, n))); }
    void removed(const QString& n) { emit nomu_lib_darknet_widget::dlg_detect_lst_config->config_removed(n); }

    DialogSarvik_v2* dlg_ = nullptr;
    QLabel host_icon_, host_name_;
};

void TestSelection::init()
{
    dlg_ = new DialogSarvik_v2;
    dlg_->host_icon_label = &host_icon_;
    dlg_->host_name_label = &host_name_;
    host_icon_.clear();
    host_name_.clear();
}

void TestSelection::cleanup()
{
    delete dlg_;
    qDeleteAll(DialogListConfigs::map_det_cfgs);
    DialogListConfigs::map_det_cfgs.clear();
}

void TestSelection::choosingShowsIcon_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("icon");
    QTest::newRow("Vulkan") << "Vulkan" << kVulkanIcon;
    QTest::newRow("CUDA") << "CUDA" << kGpuIcon;
    QTest::newRow("CPU") << "CPU" << kCpuIcon;
    QTest::newRow("cuda") << "cuda" << kCpuIcon;
    QTest::newRow("other") << "OpenVINO" << kCpuIcon;
}

void TestSelection::choosingShowsIcon()
{
    QFETCH(QString, backend);
    QFETCH(QString, icon);
    DetConfig* cfg = add("A", backend, true, 3);
    dlg_->track_ids = kSentinel;
    dlg_->track_history.resize(4);
    choose("A");
    QCOMPARE(name()->text(), QString("A"));
    QCOMPARE(host_name_.text(), QString("A"));
    QCOMPARE(pixmap_of(iconLabel()), QPixmap(icon).toImage());
    QCOMPARE(pixmap_of(&host_icon_), QPixmap(icon).toImage());
    // A reset: one 1 per class, no history, the record's own counters too.
    QCOMPARE(dlg_->track_ids, (std::vector<unsigned>{1, 1, 1}));
    QVERIFY(dlg_->track_history.empty());
    QCOMPARE(*cfg->track_counters, (std::vector<unsigned>{1, 1, 1}));
    // Both locks free again (the slot must not lock the dialog's twice).
    QVERIFY(dlg_->mutex.tryLock());
    dlg_->mutex.unlock();
    QVERIFY(cfg->mutex.tryLock());
    cfg->mutex.unlock();
}

void TestSelection::choosingUnloadedOrEmpty()
{
    add("A", "Vulkan", true, 2);
    add("U", "CUDA", false, 3);
    choose("A");
    dlg_->track_ids = kSentinel;
    // Not loaded: its name, no icon, host icon and tracking as they were.
    choose("U");
    QCOMPARE(name()->text(), QString("U"));
    QCOMPARE(host_name_.text(), QString("U"));
    QVERIFY(iconLabel()->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(pixmap_of(&host_icon_), icon(kVulkanIcon));
    QCOMPARE(dlg_->track_ids, kSentinel);
    // Not registered: the same, and the look-up inserts nothing.
    choose("nobody");
    QCOMPARE(name()->text(), QString("nobody"));
    QVERIFY(!DialogListConfigs::map_det_cfgs.contains("nobody"));
    QCOMPARE(dlg_->track_ids, kSentinel);
    // Empty: nothing shown, the host shows the default icon.
    choose("");
    QCOMPARE(name()->text(), QString());
    QCOMPARE(host_name_.text(), QString());
    QVERIFY(iconLabel()->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(pixmap_of(&host_icon_), icon(kGpuIcon));
    QCOMPARE(dlg_->track_ids, kSentinel);
}

void TestSelection::removal()
{
    add("A", "CPU", true, 2);
    add("B", "CPU", true, 2);
    choose("A");
    dlg_->track_ids = kSentinel;
    removed("B");
    QCOMPARE(name()->text(), QString("A"));
    QCOMPARE(pixmap_of(iconLabel()), icon(kCpuIcon));
    removed("A");
    QCOMPARE(name()->text(), QString());
    QCOMPARE(host_name_.text(), QString());
    QVERIFY(iconLabel()->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(pixmap_of(&host_icon_), icon(kGpuIcon));
    QCOMPARE(dlg_->track_ids, kSentinel); // the counters are kept
    QVERIFY(dlg_->mutex.tryLock());
    dlg_->mutex.unlock();
}

void TestSelection::removalReachesEveryDialog()
{
    add("A", "CPU", true, 1);
    DialogSarvik_v2 second;
    choose("A");
    QVERIFY(QMetaObject::invokeMethod(&second, "current_config_changed", Q_ARG(QString, "A")));
    removed("A");
    QCOMPARE(name()->text(), QString());
    QCOMPARE(second.findChild<QLabel*>("label_config_name")->text(), QString());
}

void TestSelection::enableTrackingClicks()
{
    DetConfig* cfg = add("A", "CPU", true, 2);
    choose("A");
    auto box = dlg_->findChild<QGroupBox*>("checkBox_enable_tracking");
    dlg_->track_ids = kSentinel;
    // clicked(bool) reaches the slot by its name; switching off keeps everything.
    QVERIFY(QMetaObject::invokeMethod(box, "clicked", Q_ARG(bool, false)));
    QCOMPARE(dlg_->track_ids, kSentinel);
    QVERIFY(QMetaObject::invokeMethod(box, "clicked", Q_ARG(bool, true)));
    QCOMPARE(dlg_->track_ids, (std::vector<unsigned>{1, 1}));
    QVERIFY(cfg->mutex.tryLock());
    cfg->mutex.unlock();
    // Setting the box from code is no click: no reset.
    dlg_->track_ids = kSentinel;
    box->setChecked(false);
    box->setChecked(true);
    QCOMPARE(dlg_->track_ids, kSentinel);
}

void TestSelection::resetCountButton_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("reset");
    QTest::newRow("loaded") << "A" << true;
    QTest::newRow("none shown") << "" << false;
    QTest::newRow("not loaded") << "U" << false;
    QTest::newRow("not registered") << "nobody" << false;
}

void TestSelection::resetCountButton()
{
    QFETCH(QString, shown);
    QFETCH(bool, reset);
    add("A", "CPU", true, 3);
    add("U", "CPU", false, 3);
    dlg_->findChild<QGroupBox*>("checkBox_enable_tracking")->setChecked(true);
    name()->setText(shown);
    dlg_->track_ids = kSentinel;
    auto button = dlg_->findChild<QPushButton*>("pushButton_reset_count");
    QVERIFY(button->isEnabled());
    button->click();
    const std::vector<unsigned> expected = reset ? std::vector<unsigned>{1, 1, 1} : kSentinel;
    QCOMPARE(dlg_->track_ids, expected);
    // Inside the unchecked tracking box it cannot be clicked.
    dlg_->findChild<QGroupBox*>("checkBox_enable_tracking")->setChecked(false);
    dlg_->track_ids = kSentinel;
    button->click();
    QCOMPARE(dlg_->track_ids, kSentinel);
}

void TestSelection::configButtonRunsList()
{
    add("A", "CPU", true, 2);
    add("B", "Vulkan", true, 3);
    choose("A");
    dlg_->track_ids = kSentinel;
    dlg_->show();
    QApplication::setActiveWindow(dlg_);
    QTRY_VERIFY(dlg_->isActiveWindow());
    DialogListConfigs* list = nomu_lib_darknet_widget::dlg_detect_lst_config;
    auto button = dlg_->findChild<QPushButton*>("pushButton_config");
    const QPoint expected = dlg_->mapToGlobal(button->pos()) + QPoint(0, button->height());

    bool ran = false;
    QTimer::singleShot(50, this, [&] {
        ran = true;
        // Closes the list even when a check below fails.
        const auto closer = qScopeGuard([list] { list->reject(); });
        QVERIFY(list->isVisible());
        QVERIFY(!button->isEnabled());
        QVERIFY(dlg_->config_list_open);
        QCOMPARE(list->pos(), expected);
        // The preselection of "A" did not reach the dialog (it would have reset).
        QCOMPARE(list->list_configs->currentItem()->text(), QString("A"));
        QCOMPARE(dlg_->track_ids, kSentinel);
        // The dialog stays open although the list is the active window now.
        QEvent activation(QEvent::ActivationChange);
        QApplication::sendEvent(dlg_, &activation);
        QVERIFY(dlg_->isVisible());
        // A choice in the list shows at once.
        list->list_configs->setCurrentItem(list->list_configs->findItems("B", Qt::MatchExactly).first());
        QCOMPARE(name()->text(), QString("B"));
        QCOMPARE(pixmap_of(iconLabel()), icon(kVulkanIcon));
        QCOMPARE(dlg_->track_ids, (std::vector<unsigned>{1, 1, 1}));
    });
    button->click();
    QVERIFY(ran);
    QVERIFY(button->isEnabled());
    QVERIFY(!dlg_->config_list_open);
    // The connection is gone once the list has closed.
    list->list_configs->setCurrentItem(list->list_configs->findItems("A", Qt::MatchExactly).first());
    QCOMPARE(name()->text(), QString("B"));
}

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
