// The dialog state: what restoreState makes of each key (the widgets' slots
// run as if a user set them), and saveState giving back what was restored.

#include "dataset_generator.h"
#include "dialog_dataset_gen.h"
#include "dialog_export_crop.h"
#include "dialog_labeling_setting.h"
#include "dialog_varnex.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QJsonObject parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

} // namespace

class State : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void modelAndBatch_data();
    void modelAndBatch();
    void plainKeys_data();
    void plainKeys();
    void weightLabel_data();
    void weightLabel();
    void otherLocation();
    void projectFolder_data();
    void projectFolder();
    void roundTrip();

private:
    QTemporaryDir home_;
    QTemporaryDir work_;
    std::unique_ptr<testsupport::ScopedEnv> homeEnv_;
    std::unique_ptr<DialogVarnex> d_;
};

void State::initTestCase()
{
    QVERIFY(home_.isValid());
    QVERIFY(work_.isValid());
    homeEnv_.reset(new testsupport::ScopedEnv("HOME", home_.path().toUtf8()));
    // A missing "prj_path" opens the working folder: keep it an empty one.
    QVERIFY(QDir::setCurrent(work_.path()));
}

void State::init()
{
    d_.reset(new DialogVarnex(nullptr));
}

void State::cleanup()
{
    d_.reset();
}

void State::modelAndBatch_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("batch");
    QTest::addColumn<int>("subdivisions");

    // The batch keys come after the model: missing, they read 0 and clamp to 1.
    QTest::newRow("empty") << QByteArray("{}") << "V4-tiny" << 1 << 1;
    QTest::newRow("V7 without batch keys") << QByteArray(R"({"cmb_model":"V7"})") << "V7" << 1 << 1;
    QTest::newRow("batch 128 clamps to 99")
        << QByteArray(R"({"cmb_model":"V7","batch_size":128,"sub_division":16})") << "V7" << 99 << 16;
    QTest::newRow("unknown model is ignored")
        << QByteArray(R"({"cmb_model":"V9","batch_size":12,"sub_division":3})") << "V4-tiny" << 12 << 3;
    QTest::newRow("fraction reads 0") << QByteArray(R"({"batch_size":2.5,"sub_division":"7"})") << "V4-tiny" << 1
                                      << 1;
    QTest::newRow("negative") << QByteArray(R"({"batch_size":-4,"sub_division":0})") << "V4-tiny" << 1 << 1;
}

void State::modelAndBatch()
{
    QFETCH(QByteArray, state);
    QFETCH(QString, model);
    QFETCH(int, batch);
    QFETCH(int, subdivisions);

    d_->restoreState(parse(state));
    QCOMPARE(d_->ui->comboBox_model->currentText(), model);
    QCOMPARE(d_->ui->spinBox_batch_size->value(), batch);
    QCOMPARE(d_->ui->spinBox_subdivisions->value(), subdivisions);
}

void State::plainKeys_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<bool>("autoGen");
    QTest::addColumn<bool>("autoRect");
    QTest::addColumn<int>("rectW");
    QTest::addColumn<int>("rectH");
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("override");
    QTest::addColumn<QString>("genText");
    QTest::addColumn<int>("rectThickness");

    // Missing booleans read false, numbers 0, strings "".
    QTest::newRow("empty") << QByteArray("{}") << false << false << 0 << 0 << "" << false << "" << 1;
    QTest::newRow("all set") << QByteArray(R"({"grb_auto_gen":true,"auto_rect":true,"auto_rect_w":12,
        "auto_rect_h":34,"auto_rect_class":"car","is_override":true,"path_gen":"/train/here",
        "dlg_lb_setting":{"rect_thickness":7}})")
                             << true << true << 12 << 34 << "car" << true << "/train/here" << 7;
    QTest::newRow("wrong types") << QByteArray(R"({"grb_auto_gen":1,"auto_rect":"true","auto_rect_w":2.5,
        "auto_rect_h":"7","auto_rect_class":5,"is_override":null,"path_gen":[],"dlg_lb_setting":3})")
                                 << false << false << 0 << 0 << "" << false << "" << 1;
    QTest::newRow("clamped") << QByteArray(R"({"auto_rect_w":2000000,"auto_rect_h":-1})") << false << false
                             << 999999 << 0 << "" << false << "" << 1;
}

void State::plainKeys()
{
    QFETCH(QByteArray, state);
    QFETCH(bool, autoGen);
    QFETCH(bool, autoRect);
    QFETCH(int, rectW);
    QFETCH(int, rectH);
    QFETCH(QString, className);
    QFETCH(bool, override);
    QFETCH(QString, genText);
    QFETCH(int, rectThickness);

    d_->restoreState(parse(state));
    QCOMPARE(d_->ui->groupBox_auto_gen->isChecked(), autoGen);
    QCOMPARE(d_->ui->pushButton_gen_setting->isEnabled(), autoGen);
    QCOMPARE(d_->ui->checkBox_autorect->isChecked(), autoRect);
    QCOMPARE(d_->ui->spinBox_autorect_w->value(), rectW);
    QCOMPARE(d_->ui->spinBox_autorect_h->value(), rectH);
    QCOMPARE(d_->ui->lineEdit_classname->text(), className);
    QCOMPARE(d_->ui->checkBox_override_parameter->isChecked(), override);
    QCOMPARE(d_->ui->label_Generate_text->text(), genText);
    QCOMPARE(d_->train_dir, genText);
    QCOMPARE(d_->dlg_lb_setting->get_settings()["rect_thickness"].toInt(), rectThickness);
}

void State::weightLabel_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("text");

    QTest::newRow("prebuilt with a path")
        << QByteArray(R"({"use_prebuilt_wg":true,"wg":"/w/x.weights"})") << true << "/w/x.weights";
    // "wg" comes after the check box: a missing one empties the label.
    QTest::newRow("prebuilt without a path") << QByteArray(R"({"use_prebuilt_wg":true})") << true << "";
    QTest::newRow("not prebuilt") << QByteArray(R"({"use_prebuilt_wg":false,"wg":"/w/y.weights"})") << false
                                  << "/w/y.weights";
}

void State::weightLabel()
{
    QFETCH(QByteArray, state);
    QFETCH(bool, shown);
    QFETCH(QString, text);

    d_->restoreState(parse(state));
    QCOMPARE(d_->ui->checkBox_use_default_wg->isChecked(), shown);
    QCOMPARE(!d_->ui->label_wg_text_2->isHidden(), shown);
    QCOMPARE(d_->ui->pushButton_weight->isEnabled(), shown);
    QCOMPARE(d_->ui->label_wg_text_2->text(), text);

    if (!shown)
        return;
    // Unchecking hides it again and shows the picked weight path.
    d_->ui->checkBox_use_default_wg->setChecked(false);
    QVERIFY(d_->ui->label_wg_text_2->isHidden());
    QVERIFY(!d_->ui->pushButton_weight->isEnabled());
    QCOMPARE(d_->ui->label_wg_text_2->text(), QString("Default"));
}

void State::otherLocation()
{
    d_->restoreState(parse(R"({"use_other_path_gen":true,"path_gen":"/elsewhere"})"));
    QVERIFY(d_->ui->checkBox_use_other_location->isChecked());
    QVERIFY(d_->ui->pushButton_Browse_Train_File->isEnabled());
    QVERIFY(!d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(!d_->ui->progressBar->isEnabled());
    QCOMPARE(d_->ui->label_Generate_text->text(), QString("/elsewhere"));
    QCOMPARE(d_->train_dir, QString("/elsewhere"));

    // The 500 ms timer leaves Generate as it is while the box is checked...
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(!d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(d_->ui->pushButton_Train->isEnabled());
    QVERIFY(!d_->ui->pushButton_Train_Stop->isEnabled());
    QVERIFY(!d_->ui->horizontalSlider_frame->isEnabled()); // no images

    // ...and a second restore that unchecks it forgets the folder text.
    d_->restoreState(parse(R"({"use_other_path_gen":false,"path_gen":"/elsewhere"})"));
    QVERIFY(!d_->ui->checkBox_use_other_location->isChecked());
    QCOMPARE(d_->ui->label_Generate_text->text(), QString("No path selected"));
    QCOMPARE(d_->train_dir, QString("No path selected"));
    QVERIFY(d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(!d_->ui->pushButton_Browse_Train_File->isEnabled());

    d_->generating = true;
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(!d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
    d_->generating = false;
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
}

void State::projectFolder_data()
{
    QTest::addColumn<QString>("prj");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("expected"); // "HOME", "WORK" or a path

    QTest::newRow("existing folder") << "EXISTING" << true << "EXISTING";
    // A folder that does not exist keeps the home folder of construction.
    QTest::newRow("missing folder") << "/does/not/exist" << true << "HOME";
    // QDir("") is the working folder.
    QTest::newRow("missing key") << "" << false << "";
}

void State::projectFolder()
{
    QFETCH(QString, prj);
    QFETCH(bool, present);
    QFETCH(QString, expected);

    QTemporaryDir existing;
    auto resolve = [&](const QString& s) {
        if (s == "EXISTING")
            return existing.path();
        if (s == "HOME")
            return home_.path();
        return s;
    };
    QJsonObject state;
    if (present)
        state["prj_path"] = resolve(prj);
    state["gt_path"] = "/no/such/file.gt";
    d_->restoreState(state);
    QCOMPARE(d_->prj_path, resolve(expected));
    QCOMPARE(d_->ui->label_prj_path->text(), resolve(expected));
    // A ground-truth path that does not exist is kept; nothing is loaded.
    QCOMPARE(d_->gt_path, QString("/no/such/file.gt"));
    QVERIFY(d_->labeling.classes.empty());
}

// Every key present and in range, "prj_path" an existing folder and
// "use_other_path_gen" false: saveState gives back the same object.
void State::roundTrip()
{
    QTemporaryDir prj;
    QJsonObject s = parse(R"({
        "dlg_lb_setting": {"rect_thickness": 3, "line_thickness": 4, "crosshair_thickness": 0,
                           "font_scale": 1.25, "font_thickness": 2, "font_offset": -7},
        "grb_auto_gen": false,
        "auto_gen": {},
        "auto_rect": true,
        "auto_rect_w": 21,
        "auto_rect_h": 17,
        "auto_rect_class": "person",
        "cmb_model": "NomuedDet2-256",
        "batch_size": 32,
        "sub_division": 16,
        "path_gen": "/some/training/folder",
        "use_other_path_gen": false,
        "use_prebuilt_wg": true,
        "wg": "/some/weights.backup",
        "gt_path": "/some/labels.gt",
        "is_override": false,
        "export_crop": {}
    })");
    s["prj_path"] = prj.path();
    d_->restoreState(s);

    const QJsonObject saved = d_->saveState();
    QJsonObject expected = s;
    // The sub-dialogs own their settings objects: whatever they restored.
    expected["auto_gen"] = d_->dataset_generator->dialog->get_setting();
    expected["export_crop"] = d_->dlg_export_crop->saveState();
    QCOMPARE(saved.keys(), expected.keys());
    for (const QString& k : expected.keys())
        QVERIFY2(saved[k] == expected[k], qPrintable(k + ": " + QJsonDocument(QJsonObject{{k, saved[k]}}).toJson()));
    QCOMPARE(saved.size(), 18);
}

QTEST_MAIN(State)
#include "test_state.moc"
