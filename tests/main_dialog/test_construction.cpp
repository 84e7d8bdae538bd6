// The main dialog as construction leaves it: defaults with and without a GPU
// (the test runs once for each, forced through NOMU_LIB_YOLO_GPU), the form,
// and the AGX board case.

#include "dialog_varnex.h"
#include "dialog_export_crop.h"
#include "dialog_labeling_setting.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

bool gpuForced()
{
    return qgetenv("NOMU_LIB_YOLO_GPU") == "1";
}

const QStringList kAllModels = {"V4",      "V4-tiny",        "V4-tiny-64",     "V4-tiny-128", "V4-tiny-256",
                                "Fastest-1.1-XL-320", "Fastest-1.1-320", "V7",  "V7-tiny",     "NomuedDet2-128",
                                "NomuedDet2-256", "KVTRDet-128",    "KVTRDet-256"};

QStringList models(DialogVarnex* d)
{
    QStringList l;
    for (int i = 0; i < d->ui->comboBox_model->count(); ++i)
        l << d->ui->comboBox_model->itemText(i);
    return l;
}

// A folder with fake "lsb_release" and "cat" that answer like the given board.
void writeBoard(const QTemporaryDir& bin, const QByteArray& model)
{
    const QString cat = bin.filePath("cat");
    testsupport::writeFile(cat, "#!/bin/sh\nprintf '" + model + "'\n");
    QFile::setPermissions(cat, QFile::permissions(cat) | QFile::ExeOwner);
    const QString lsb = bin.filePath("lsb_release");
    testsupport::writeFile(lsb, "#!/bin/sh\necho 'Distributor ID: Ubuntu'\n");
    QFile::setPermissions(lsb, QFile::permissions(lsb) | QFile::ExeOwner);
}

} // namespace

class Construction : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void defaults();
    void form_data();
    void form();
    void pointPalette();
    void board_data();
    void board();
    void displaySettingButton();

private:
    QTemporaryDir home_;
    std::unique_ptr<testsupport::ScopedEnv> homeEnv_;
    std::unique_ptr<DialogVarnex> dialog_;
};

void Construction::initTestCase()
{
    QVERIFY(home_.isValid());
    homeEnv_.reset(new testsupport::ScopedEnv("HOME", home_.path().toUtf8()));
    dialog_.reset(new DialogVarnex(nullptr));
}

void Construction::defaults()
{
    DialogVarnex* d = dialog_.get();
    QCOMPARE(models(d), kAllModels);
    QCOMPARE(d->ui->comboBox_model->currentText(), QString("V4-tiny"));
    QCOMPARE(d->ui->spinBox_batch_size->value(), gpuForced() ? 64 : 4);
    QCOMPARE(d->ui->spinBox_subdivisions->value(), gpuForced() ? 8 : 4);
    QCOMPARE(d->ui->tabWidget->currentIndex(), 0);
    QCOMPARE(d->prj_path, home_.path());
    QCOMPARE(d->train_dir, home_.path());
    QCOMPARE(d->weight_path, QString("Default"));
    QVERIFY(d->gt_path.isEmpty());
    QVERIFY(d->last_weight_dir.isEmpty());
    QCOMPARE(d->avg_loss, 999.0);
    QCOMPARE(d->iteration, qint64(0));
    QVERIFY(!d->exit_after_stop);
    QVERIFY(!d->generating);
    QCOMPARE(d->cur_index, 0);
    QCOMPARE(d->frame_count, 0);
    QCOMPARE(d->pending_rect, cv::Rect());
    QVERIFY(d->clicked_points.empty());
    QCOMPARE(d->labeling.active_object, -1);
    QVERIFY(d->labeling.classes.empty());
    QCOMPARE(d->train_process.state(), QProcess::NotRunning);

    QVERIFY(d->train_window_timer->isActive());
    QCOMPARE(d->train_window_timer->interval(), 500);
    QVERIFY(!d->im_window_timer->isActive());
    QVERIFY(!d->elapsed_timer.isActive());
    QVERIFY(d->elapsed_clock.isValid());

    QVERIFY(d->dlg_lb_setting && d->dlg_lb_setting->parent() == d);
    QVERIFY(d->dlg_export_crop && d->dlg_export_crop->parent() == d);
    QVERIFY(!d->label_dialog.parent());

    QVERIFY(d->ui->label_wg_text_2->isHidden());
    QVERIFY(d->ui->groupBox_export_segment->isHidden());
    QVERIFY(!d->ui->pushButton_weight->isEnabled());
    QVERIFY(!d->ui->pushButton_Browse_Train_File->isEnabled());
    QVERIFY(!d->ui->pushButton_Train_Stop->isEnabled());
    QCOMPARE(d->ui->label_avg->text(), QString(""));
    QCOMPARE(d->size(), QSize(764, 713));
    QCOMPARE(d->windowTitle(), QString("Varnex"));
    QVERIFY(!d->windowIcon().isNull());
}

void Construction::form_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    const char* rows[][2] = {
        {"pushButton_close", "close"},
        {"pushButton_setting", "Display Setting"},
        {"pushButton_gen_setting", "Gen Setting"},
        {"label_img_name", "..."},
        {"pushButton_prev", "<"},
        {"pushButton_next", ">"},
        {"lineEdit_frameStatus", "0/0"},
        {"pushButton_loadImages", "Load Images"},
        {"pushButton_LoadGT", "Load GT"},
        {"pushButton_saveGT", "Save GT"},
        {"label", "W :"},
        {"label_2", "H :"},
        {"label_classname", "ClassName"},
        {"lineEdit_classname", ""},
        {"pushButton_export_crop", "Export crop"},
        {"label_img", ""},
        {"label_prj_path", "..."},
        {"pushButton_GenerateTrainingFiles", "Generate"},
        {"label_Generate_text", "No path selected"},
        {"label_5", "Batch size :"},
        {"label_6", "Sub divisions :"},
        {"label_7", "Model :"},
        {"pushButton_Train", "Train"},
        {"label_wg_text_2", "Default   AAAAAAAAAAAAAAAAAAAAAAAAaAAAAA"},
        {"checkBox_use_default_wg", "use prebuilt weight"},
        {"checkBox_use_other_location", "use other generate training location"},
        {"pushButton_weight", "Browse Weight"},
        {"pushButton_Browse_Train_File", "Browse Training File"},
        {"pushButton_Train_Stop", "Stop"},
        {"pushButton_Export", "Export >>"},
        {"checkBox_override_parameter", "override parameters"},
        {"label_time_elape", "-"},
        {"label_iteration", "-"},
        // Group boxes: their titles.
        {"groupBox_auto_gen", "Auto Gen"},
        {"checkBox_autorect", "One click"},
        {"groupBox_2", "Generate Traing Files"},
        {"groupBox_export_segment", "Export segment"},
        {"groupBox_3", "Train"},
    };
    for (auto& r : rows)
        QTest::newRow(r[0]) << QString(r[0]) << QString::fromUtf8(r[1]);
}

// Every widget the behaviour uses exists under its object name with its text.
void Construction::form()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QWidget* w = dialog_->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QVariant v = w->property("text");
    if (!v.isValid())
        v = w->property("title");
    QCOMPARE(v.toString(), text);
}

void Construction::pointPalette()
{
    DialogVarnex* d = dialog_.get();
    QCOMPARE(int(d->point_palette.size()), 20);
    // Colour 0 is t = 0 (magenta), colour 4 is t = 2 (yellow), colour 1 is
    // t = 4.25: a quarter of the way from cyan to blue.
    QCOMPARE(d->point_palette[0], cv::Scalar(255, 0, 255, 0));
    QCOMPARE(d->point_palette[4], cv::Scalar(0, 255, 255, 0));
    QCOMPARE(d->point_palette[1], cv::Scalar(255, 191.25, 0, 0));
    QCOMPARE(d->palette_stops[0][0], 1.0f);
    QCOMPARE(d->palette_stops[5][2], 0.0f);

    // The main dialog's own buttons: the sub-dialogs it owns are windows of
    // their own with buttons of their own.
    QList<QPushButton*> buttons;
    for (QPushButton* b : d->findChildren<QPushButton*>())
        if (b->window() == d)
            buttons << b;
    QCOMPARE(buttons.size(), 15);
    for (QPushButton* b : buttons)
        QVERIFY2(b->focusPolicy() == Qt::NoFocus, qPrintable(b->objectName()));
    QCOMPARE(d->ui->lineEdit_classname->focusPolicy(), Qt::ClickFocus);
    QCOMPARE(d->ui->spinBox_batch_size->focusPolicy(), Qt::ClickFocus);
    QCOMPARE(d->ui->spinBox_subdivisions->focusPolicy(), Qt::ClickFocus);

    QCOMPARE(d->ui->spinBox_batch_size->maximum(), 99);
    QCOMPARE(d->ui->spinBox_subdivisions->minimum(), 1);
    QCOMPARE(d->ui->spinBox_autorect_w->maximum(), 999999);
    QCOMPARE(d->ui->spinBox_autorect_h->value(), 10);
    QCOMPARE(d->ui->spinBox_seg_size->minimum(), 4);
    QCOMPARE(d->ui->spinBox_seg_size->maximum(), 9999);
    QCOMPARE(d->ui->spinBox_seg_size->value(), 256);
    QCOMPARE(d->ui->horizontalSlider_frame->minimum(), 1);
    QVERIFY(d->ui->groupBox_auto_gen->isCheckable() && d->ui->groupBox_auto_gen->isChecked());
    QVERIFY(d->ui->checkBox_autorect->isCheckable() && !d->ui->checkBox_autorect->isChecked());
    QVERIFY(d->ui->checkBox_override_parameter->isChecked());
    QVERIFY(d->ui->lineEdit_frameStatus->isReadOnly());
    QCOMPARE(d->ui->progressBar->value(), 0);
    QCOMPARE(d->ui->tabWidget->tabText(0), QString("Labeling"));
    QCOMPARE(d->ui->tabWidget->tabText(1), QString("Training"));
    QCOMPARE(d->ui->label_img->styleSheet(), QString("background-color: rgb(32, 74, 135);"));
    QCOMPARE(d->ui->textEdit_train_console->styleSheet(),
             QString("background-color: rgb(85, 87, 83);\ncolor: rgb(115, 210, 22);"));
    QCOMPARE(d->ui->pushButton_close->maximumWidth(), 46);
}

void Construction::board_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("AGX") << QByteArray("NVIDIA Jetson AGX Xavier Developer Kit\\0") << QStringList{"V4", "V4-tiny"};
    QTest::newRow("Nano") << QByteArray("NVIDIA Jetson Nano Developer Kit\\0") << kAllModels;
    // The test is case-sensitive.
    QTest::newRow("agx lower case") << QByteArray("jetson agx\\0") << kAllModels;
    // Only the text before the first NUL counts.
    QTest::newRow("AGX after NUL") << QByteArray("Jetson\\0AGX") << kAllModels;
}

void Construction::board()
{
    QFETCH(QByteArray, model);
    QFETCH(QStringList, items);

    QTemporaryDir bin;
    writeBoard(bin, model);
    testsupport::ScopedEnv path("PATH", bin.path().toUtf8() + ":" + qgetenv("PATH"));
    std::unique_ptr<DialogVarnex> d(new DialogVarnex(nullptr));
    QCOMPARE(models(d.get()), items);
    QCOMPARE(d->ui->comboBox_model->currentText(), QString("V4-tiny"));
    QCOMPARE(d->ui->spinBox_batch_size->value(), gpuForced() ? 64 : 4);
    QCOMPARE(d->ui->spinBox_subdivisions->value(), gpuForced() ? 8 : 4);
}

void Construction::displaySettingButton()
{
    DialogVarnex* d = dialog_.get();
    QVERIFY(d->dlg_lb_setting->isHidden());
    d->ui->pushButton_setting->click();
    QVERIFY(d->dlg_lb_setting->isVisible());
    QVERIFY(!d->dlg_lb_setting->isModal());
    d->dlg_lb_setting->close();
    QVERIFY(d->dlg_lb_setting->isHidden());
}

QTEST_MAIN(Construction)
#include "test_construction.moc"
