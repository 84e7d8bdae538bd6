// The settings dialog's form, construction and popup behaviour.
#include "dialog_sarvik_v2.h"

#include "dialog_list_configs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

class TestDialogForm : public QObject {
    Q_OBJECT
private slots:
    void construction();
    void spinBoxes_data();
    void spinBoxes();
    void checkables_data();
    void checkables();
    void texts_data();
    void texts();
    void secondDialogReusesList();
    void popupHidesOnDeactivation();
};

void TestDialogForm::construction()
{
    DialogSarvik_v2 dlg;
    QCOMPARE(dlg.objectName(), QString("DialogSarvik_v2"));
    QCOMPARE(dlg.windowTitle(), QString("Sarvik"));
    QCOMPARE(dlg.size(), QSize(326, 302));
    QCOMPARE(dlg.findChild<QTabWidget*>("tabWidget")->currentIndex(), 0);
    QVERIFY(!dlg.findChild<QGroupBox*>("checkBox_enable_tracking")->isChecked());
    QCOMPARE(dlg.findChild<QLabel*>("label_config_name")->text(), QString());
    QVERIFY(dlg.findChild<QLabel*>("label_config_icon")->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(!dlg.config_list_open);
    QVERIFY(!dlg.host_icon_label && !dlg.host_name_label);
    QVERIFY(dlg.track_ids.empty() && dlg.track_history.empty());
    QVERIFY(dlg.mutex.tryLock());
    dlg.mutex.unlock();
    QVERIFY(nomu_lib_darknet_widget::dlg_detect_lst_config);
    QVERIFY(!nomu_lib_darknet_widget::dlg_detect_lst_config->parent());
    // The tab pages in order, and the button that must not take focus.
    auto tabs = dlg.findChild<QTabWidget*>("tabWidget");
    QCOMPARE(tabs->count(), 4);
    QCOMPARE(tabs->tabText(0), QString("Detection"));
    QCOMPARE(tabs->tabText(1), QString("Drawing"));
    QCOMPARE(tabs->tabText(2), QString("Tracking"));
    QCOMPARE(tabs->tabText(3), QString("ROI"));
    QCOMPARE(dlg.findChild<QPushButton*>("pushButton_config")->focusPolicy(), Qt::NoFocus);
    QCOMPARE(dlg.findChild<QPushButton*>("pushButton_reset_count")->focusPolicy(), Qt::NoFocus);
    // Inside the unchecked tracking box the widgets are disabled.
    QVERIFY(!dlg.findChild<QPushButton*>("pushButton_reset_count")->isEnabled());
}

void TestDialogForm::spinBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals"); // -1: an integer spin box
    QTest::newRow("threshold") << "spinBox_threshold" << 0.01 << 100.0 << 50.0 << 2;
    QTest::newRow("nms") << "doubleSpinBox_nms" << 0.01 << 1.0 << 0.4 << 2;
    QTest::newRow("font scale") << "spinBox_font_scale" << 0.01 << 99999.0 << 0.8 << 2;
    QTest::newRow("rect thickness") << "spinBox_rect_thickness" << 1.0 << 9999.0 << 2.0 << -1;
    QTest::newRow("font thickness") << "spinBox_font_thickness" << 1.0 << 9999.0 << 1.0 << -1;
    QTest::newRow("font offset") << "spinBox_font_offset" << -9999.0 << 9999.0 << 5.0 << -1;
    QTest::newRow("frame buffer") << "spinBox_frame_buffer" << 1.0 << 9999999.0 << 5.0 << -1;
    QTest::newRow("max distance") << "spinBox_max_distance" << 1.0 << 9999999.0 << 150.0 << -1;
    QTest::newRow("roi x") << "spinBox_roi_x" << 0.0 << 5000.0 << 0.0 << -1;
    QTest::newRow("roi y") << "spinBox_roi_y" << 0.0 << 5000.0 << 0.0 << -1;
    QTest::newRow("roi w") << "spinBox_roi_w" << 0.0 << 5000.0 << 5000.0 << -1;
    QTest::newRow("roi h") << "spinBox_roi_h" << 0.0 << 5000.0 << 5000.0 << -1;
}

void TestDialogForm::spinBoxes()
{
    QFETCH(QString, name);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, value);
    QFETCH(int, decimals);
    DialogSarvik_v2 dlg;
    if (decimals < 0) {
        auto box = dlg.findChild<QSpinBox*>(name);
        QVERIFY(box);
        QCOMPARE(double(box->minimum()), minimum);
        QCOMPARE(double(box->maximum()), maximum);
        QCOMPARE(double(box->value()), value);
        QCOMPARE(box->singleStep(), 1);
    } else {
        auto box = dlg.findChild<QDoubleSpinBox*>(name);
        QVERIFY(box);
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), value);
        QCOMPARE(box->decimals(), decimals);
        QCOMPARE(box->singleStep(), 0.01);
    }
}

void TestDialogForm::checkables_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("groupBox");
    QTest::addColumn<bool>("checked");
    QTest::newRow("result drawing") << "groupBox_result_drawing" << true << true;
    QTest::newRow("text") << "groupBox_text" << true << true;
    QTest::newRow("tracking") << "checkBox_enable_tracking" << true << false;
    QTest::newRow("show percent") << "checkBox_show_percent" << false << true;
    QTest::newRow("draw roi") << "checkBox_is_draw_roi" << false << true;
}

void TestDialogForm::checkables()
{
    QFETCH(QString, name);
    QFETCH(bool, groupBox);
    QFETCH(bool, checked);
    DialogSarvik_v2 dlg;
    if (groupBox) {
        auto box = dlg.findChild<QGroupBox*>(name);
        QVERIFY(box && box->isCheckable());
        QCOMPARE(box->isChecked(), checked);
    } else {
        auto box = dlg.findChild<QCheckBox*>(name);
        QVERIFY(box);
        QCOMPARE(box->isChecked(), checked);
    }
}

void TestDialogForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("alignment"); // 0: the default
    const int right = Qt::AlignRight | Qt::AlignVCenter;
    QTest::newRow("threshold") << "label" << "Threshold :" << right;
    QTest::newRow("nms") << "label_2" << "nms :" << right;
    QTest::newRow("percent") << "label_3" << "%" << int(Qt::AlignLeft | Qt::AlignVCenter);
    QTest::newRow("frame buffer") << "label_8" << "frame buffer :" << right;
    QTest::newRow("max distance") << "label_9" << "max distance :" << right;
    QTest::newRow("rect thickness") << "label_10" << "Rectangle thickness :" << right;
    QTest::newRow("scale") << "label_11" << "Scale :" << right;
    QTest::newRow("thickness") << "label_12" << "Thickness :" << right;
    QTest::newRow("offset") << "label_13" << "Offset :" << right;
    QTest::newRow("x") << "label_4" << "x :" << right;
    QTest::newRow("y") << "label_5" << "y :" << right;
    QTest::newRow("h") << "label_6" << "h :" << right;
    QTest::newRow("w") << "label_7" << "w :" << right;
}

void TestDialogForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, alignment);
    DialogSarvik_v2 dlg;
    auto label = dlg.findChild<QLabel*>(name);
    QVERIFY(label);
    QCOMPARE(label->text(), text);
    QCOMPARE(int(label->alignment() & (Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask)), alignment);
}

void TestDialogForm::secondDialogReusesList()
{
    DialogSarvik_v2 first;
    DialogListConfigs* list = nomu_lib_darknet_widget::dlg_detect_lst_config;
    QVERIFY(list);
    DialogSarvik_v2 second;
    QCOMPARE(nomu_lib_darknet_widget::dlg_detect_lst_config, list);
}

void TestDialogForm::popupHidesOnDeactivation()
{
    DialogSarvik_v2 dlg;
    QWidget other;
    other.resize(100, 100);
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QTRY_VERIFY(dlg.isActiveWindow());
    // An activation change that leaves it active, and other change events, do nothing.
    QEvent activation(QEvent::ActivationChange);
    QApplication::sendEvent(&dlg, &activation);
    QEvent font(QEvent::FontChange);
    QApplication::sendEvent(&dlg, &font);
    QVERIFY(dlg.isVisible());
    // While the configuration list runs, losing activation keeps it open.
    dlg.config_list_open = true;
    other.show();
    QApplication::setActiveWindow(&other);
    QTRY_VERIFY(!dlg.isActiveWindow());
    QVERIFY(dlg.isVisible());
    // Once the list has closed, the next loss of activation hides it.
    dlg.config_list_open = false;
    QApplication::sendEvent(&dlg, &activation);
    QVERIFY(!dlg.isVisible());
}

QTEST_MAIN(TestDialogForm)
#include "tst_dialog_form.moc"
