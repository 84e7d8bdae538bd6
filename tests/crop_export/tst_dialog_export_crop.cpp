// The crop export dialog: its form, its "export_crop" state, its slots, a run
// with the options taken from the form, the folder dialog of OK, the progress
// dialog and its Cancel, and the result shown afterwards (message box and the
// folder opened through a URL handler).
#include "dialog_export_crop.h"
#include "ui_dialog_export_crop.h"

#include "crop_fixture.h"
#include "test_support.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileDialog>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace cropfixture;

Q_DECLARE_METATYPE(cv::Size)

// Receives what QDesktopServices::openUrl would hand to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

// What a modal box showed.
struct SeenBox {
    bool seen = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Answers the next message box with its first button, recording it.
static void answerBox(SeenBox* seen)
{
    testsupport::answerNextModal([seen](QWidget* w) {
        auto box = qobject_cast<QMessageBox*>(w);
        QVERIFY2(box, w->metaObject()->className());
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
    });
}

class TstDialogExportCrop : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<testsupport::ScopedEnv> home_env;
    QTemporaryDir images_dir;
    UrlCatcher catcher;

    QList<QFileInfo> images_for(Labeling& labeling, const QList<Frame>& frames)
    {
        return cropfixture::images_for(images_dir.path(), labeling, frames);
    }

    // No modal window may open in what follows: any that does is recorded and closed.
    static void refuseModals(QObject* owner, bool* opened)
    {
        auto timer = new QTimer(owner);
        QObject::connect(timer, &QTimer::timeout, [opened]() {
            if (QWidget* w = QApplication::activeModalWidget()) {
                *opened = true;
                w->close();
            }
        });
        timer->start(5);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        QVERIFY(images_dir.isValid());
        home_env.reset(new testsupport::ScopedEnv("HOME", home.path().toUtf8()));
        QCOMPARE(QDir::homePath(), home.path());
        QDesktopServices::setUrlHandler("file", &catcher, "open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("file");
    }
    void init()
    {
        catcher.urls.clear();
    }

    void form()
    {
        DialogExportCrop d;
        Ui::DialogExportCrop* ui = d.ui;
        QCOMPARE(d.windowTitle(), QString("Export crop"));
        QCOMPARE(d.minimumSize(), QSize(308, 359));
        QCOMPARE(d.maximumSize(), QSize(308, 359));
        QCOMPARE(d.tmp_dir, home.path());
        QVERIFY(!d.success);
        QVERIFY(!d.image_files && !d.labeling);

        QCOMPARE(ui->checkBox_square_padding->text(), QString("Square padding"));
        QVERIFY(ui->checkBox_square_padding->isChecked());
        QCOMPARE(ui->label_3->text(), QString("size :"));
        QCOMPARE(ui->spinBox_gen_size->minimum(), 64);
        QCOMPARE(ui->spinBox_gen_size->maximum(), 9999999);
        QCOMPARE(ui->spinBox_gen_size->value(), 608);
        QVERIFY(ui->spinBox_gen_size->isEnabled());
        QCOMPARE(ui->groupBox_2->title(), QString("Expand"));
        QCOMPARE(ui->groupBox->font().pointSize(), 11);
        QCOMPARE(ui->radioButton_exp_scale->text(), QString("Scale"));
        QCOMPARE(ui->radioButton_exp_constant->text(), QString("Constant"));
        QVERIFY(ui->radioButton_exp_scale->isChecked() && !ui->radioButton_exp_constant->isChecked());
        QCOMPARE(ui->stackedWidget_exp->currentWidget(), ui->page_scale);
        QCOMPARE(ui->stackedWidget_exp->widget(1), ui->page_constant);
        for (QDoubleSpinBox* s : {ui->doubleSpinBox_exp_scale_w, ui->doubleSpinBox_exp_scale_h}) {
            QCOMPARE(s->decimals(), 3);
            QCOMPARE(s->minimum(), 1.0);
            QCOMPARE(s->maximum(), 99.99);
            QCOMPARE(s->singleStep(), 0.001);
            QCOMPARE(s->value(), 1.0);
        }
        QCOMPARE(ui->label_28->text(), QString("Scale width :"));
        QCOMPARE(ui->label_27->text(), QString("Scale height :"));
        QCOMPARE(ui->label_29->text(), QString("Width :"));
        QCOMPARE(ui->label_30->text(), QString("Height :"));
        for (QSpinBox* s : {ui->spinBox_expand_width, ui->spinBox_expand_height}) {
            QCOMPARE(s->minimum(), 0);
            QCOMPARE(s->maximum(), 999999);
            QCOMPARE(s->value(), 0);
        }
        QCOMPARE(ui->groupBox_3->title(), QString("Image encode"));
        QCOMPARE(ui->groupBox_3->minimumHeight(), 58);
        QCOMPARE(ui->radioButton_jpg->text(), QString("jpg"));
        QCOMPARE(ui->radioButton_png->text(), QString("png"));
        QVERIFY(ui->radioButton_png->isChecked() && !ui->radioButton_jpg->isChecked());
        QCOMPARE(ui->checkBox_same_folder->text(), QString("Same folder"));
        QVERIFY(ui->checkBox_same_folder->isChecked());
        QCOMPARE(ui->buttonBox->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    }

    void modeAndPaddingSlots()
    {
        DialogExportCrop d;
        d.ui->radioButton_exp_constant->click();
        QCOMPARE(d.ui->stackedWidget_exp->currentIndex(), 1);
        QVERIFY(!d.ui->radioButton_exp_scale->isChecked());
        d.ui->radioButton_exp_scale->click();
        QCOMPARE(d.ui->stackedWidget_exp->currentIndex(), 0);
        d.ui->checkBox_square_padding->click();
        QVERIFY(!d.ui->spinBox_gen_size->isEnabled());
        d.ui->checkBox_square_padding->click();
        QVERIFY(d.ui->spinBox_gen_size->isEnabled());
    }

    void restoreState_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("constant");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("tmp_dir"); // "<prev>", "<home>", "<real>" or the literal value
        QTest::addColumn<bool>("size_enabled");
        QTest::addColumn<int>("square_size");
        QTest::addColumn<int>("expand_width");
        QTest::addColumn<double>("scale_w");
        QTest::addColumn<bool>("png");
        QTest::addColumn<bool>("same_folder");
        // A full object with defaults, altered per row.
        const QByteArray base = R"("exp_scale":true,"exp_constant":false,"exp_scale_w":1,"exp_scale_h":1,)"
                                R"("expand_width":0,"expand_height":0,"square_padding":true,"same_folder":true,)"
                                R"("tmp_dir":"<real>","jpg":false,"png":true)";
        auto obj = [&base](const QByteArray& extra) { return "{" + base + extra + "}"; };
        QTest::newRow("no exp_scale: nothing changes")
            << QByteArray(R"({"exp_constant":true,"tmp_dir":"/","square_padding":false,"square_size":100})")
            << false << 0 << "<prev>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("empty object") << QByteArray("{}") << false << 0 << "<prev>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("only the mode: missing members read false, 0, \"\"")
            << QByteArray(R"({"exp_scale":false,"exp_constant":true})")
            << true << 1 << "" << false << 608 << 0 << 1.0 << true << false;
        QTest::newRow("full object") << obj("") << false << 0 << "<real>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("both modes true: the second wins")
            << obj(R"(,"exp_constant":true)") << true << 1 << "<real>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("both modes false: the choice stays")
            << obj(R"(,"exp_scale":false)") << false << 0 << "<real>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("mistyped exp_scale is present and false")
            << QByteArray(R"({"exp_scale":"yes","exp_constant":true,"png":true})")
            << true << 1 << "" << false << 608 << 0 << 1.0 << true << false;
        QTest::newRow("tmp_dir naming no folder") << obj(R"(,"tmp_dir":"/no/such/folder/at/all")")
                                                  << false << 0 << "<home>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("tmp_dir a file") << obj(R"(,"tmp_dir":"/etc/passwd")")
                                        << false << 0 << "<home>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("tmp_dir not a string") << obj(R"(,"tmp_dir":5)")
                                              << false << 0 << "" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("square padding off") << obj(R"(,"square_padding":false)")
                                            << false << 0 << "<real>" << false << 608 << 0 << 1.0 << true << true;
        QTest::newRow("square size applied") << obj(R"(,"square_size":1000)")
                                             << false << 0 << "<real>" << true << 1000 << 0 << 1.0 << true << true;
        QTest::newRow("square size clamped") << obj(R"(,"square_size":10)")
                                             << false << 0 << "<real>" << true << 64 << 0 << 1.0 << true << true;
        QTest::newRow("square size fraction reads 0") << obj(R"(,"square_size":700.5)")
                                                      << false << 0 << "<real>" << true << 64 << 0 << 1.0 << true << true;
        QTest::newRow("expand width") << obj(R"(,"expand_width":12)")
                                      << false << 0 << "<real>" << true << 608 << 12 << 1.0 << true << true;
        QTest::newRow("expand width fraction reads 0") << obj(R"(,"expand_width":2.5)")
                                                       << false << 0 << "<real>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("expand width clamped") << obj(R"(,"expand_width":-5)")
                                              << false << 0 << "<real>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("expand width text reads 0") << obj(R"(,"expand_width":"12")")
                                                   << false << 0 << "<real>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("scale 0 clamped to 1") << obj(R"(,"exp_scale_w":0)")
                                              << false << 0 << "<real>" << true << 608 << 0 << 1.0 << true << true;
        QTest::newRow("scale 150 clamped to 99.99") << obj(R"(,"exp_scale_w":150)")
                                                    << false << 0 << "<real>" << true << 608 << 0 << 99.99 << true << true;
        QTest::newRow("scale rounded to 3 decimals") << obj(R"(,"exp_scale_w":1.23456)")
                                                     << false << 0 << "<real>" << true << 608 << 0 << 1.235 << true << true;
        QTest::newRow("jpg") << obj(R"(,"jpg":true,"png":false)")
                             << false << 0 << "<real>" << true << 608 << 0 << 1.0 << false << true;
        QTest::newRow("same folder off") << obj(R"(,"same_folder":false)")
                                         << false << 0 << "<real>" << true << 608 << 0 << 1.0 << true << false;
    }
    void restoreState()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, constant);
        QFETCH(int, page);
        QFETCH(QString, tmp_dir);
        QFETCH(bool, size_enabled);
        QFETCH(int, square_size);
        QFETCH(int, expand_width);
        QFETCH(double, scale_w);
        QFETCH(bool, png);
        QFETCH(bool, same_folder);
        QTemporaryDir prev, real;
        json.replace("<real>", real.path().toUtf8());
        QJsonParseError error;
        const QJsonObject state = QJsonDocument::fromJson(json, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);

        DialogExportCrop d;
        d.tmp_dir = prev.path();
        d.restoreState(state);
        QCOMPARE(d.ui->radioButton_exp_constant->isChecked(), constant);
        QCOMPARE(d.ui->radioButton_exp_scale->isChecked(), !constant);
        QCOMPARE(d.ui->stackedWidget_exp->currentIndex(), page);
        const QString expected_dir = tmp_dir == "<prev>" ? prev.path()
                                     : tmp_dir == "<home>" ? home.path()
                                     : tmp_dir == "<real>" ? real.path()
                                                           : tmp_dir;
        QCOMPARE(d.tmp_dir, expected_dir);
        QCOMPARE(d.ui->spinBox_gen_size->isEnabled(), size_enabled);
        QCOMPARE(d.ui->checkBox_square_padding->isChecked(), size_enabled);
        QCOMPARE(d.ui->spinBox_gen_size->value(), square_size);
        QCOMPARE(d.ui->spinBox_expand_width->value(), expand_width);
        QCOMPARE(d.ui->doubleSpinBox_exp_scale_w->value(), scale_w);
        QCOMPARE(d.ui->radioButton_png->isChecked(), png);
        QCOMPARE(d.ui->radioButton_jpg->isChecked(), !png);
        QCOMPARE(d.ui->checkBox_same_folder->isChecked(), same_folder);
    }

    void saveStateRoundTrip()
    {
        QTemporaryDir dir;
        DialogExportCrop a;
        const QJsonObject defaults = a.saveState();
        QCOMPARE(defaults.keys(), QStringList({"exp_constant", "exp_scale", "exp_scale_h", "exp_scale_w", "expand_height",
                                               "expand_width", "jpg", "png", "same_folder", "square_padding",
                                               "square_size", "tmp_dir"}));
        QCOMPARE(defaults["exp_scale"], QJsonValue(true));
        QCOMPARE(defaults["png"], QJsonValue(true));
        QCOMPARE(defaults["square_size"], QJsonValue(608));
        QCOMPARE(defaults["tmp_dir"], QJsonValue(home.path()));

        a.ui->radioButton_exp_constant->click();
        a.ui->doubleSpinBox_exp_scale_w->setValue(2.5);
        a.ui->doubleSpinBox_exp_scale_h->setValue(3.125);
        a.ui->spinBox_expand_width->setValue(7);
        a.ui->spinBox_expand_height->setValue(9);
        a.ui->checkBox_square_padding->setChecked(false);
        a.ui->checkBox_same_folder->setChecked(false);
        a.ui->radioButton_jpg->setChecked(true);
        a.ui->spinBox_gen_size->setValue(416);
        a.tmp_dir = dir.path();
        const QJsonObject saved = a.saveState();
        QCOMPARE(saved["exp_scale_h"], QJsonValue(3.125));
        QCOMPARE(saved["expand_height"], QJsonValue(9));

        DialogExportCrop b;
        b.restoreState(saved);
        QCOMPARE(b.saveState(), saved);
        QCOMPARE(b.ui->stackedWidget_exp->currentIndex(), 1);
        QVERIFY(!b.ui->spinBox_gen_size->isEnabled());
    }

    void runWithFormOptions_data()
    {
        QTest::addColumn<bool>("constant");
        QTest::addColumn<bool>("jpg");
        QTest::addColumn<bool>("same_folder");
        QTest::addColumn<QString>("file");
        QTest::addColumn<cv::Size>("size");
        QTest::newRow("scale 1.5, png, same folder") << false << false << true << "S_car_0.png" << cv::Size(60, 30);
        QTest::newRow("constant 10, jpg, sub-folders") << true << true << false << "car/S_car_0.jpg" << cv::Size(50, 30);
    }
    // The options come from the form at the moment the run starts.
    void runWithFormOptions()
    {
        QFETCH(bool, constant);
        QFETCH(bool, jpg);
        QFETCH(bool, same_folder);
        QFETCH(QString, file);
        QFETCH(cv::Size, size);
        QTemporaryDir out;
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("car", 100, 50, 40, 20)}});
        DialogExportCrop d;
        d.ui->doubleSpinBox_exp_scale_w->setValue(1.5);
        d.ui->doubleSpinBox_exp_scale_h->setValue(1.5);
        d.ui->spinBox_expand_width->setValue(10);
        d.ui->spinBox_expand_height->setValue(10);
        if (constant)
            d.ui->radioButton_exp_constant->click();
        if (jpg)
            d.ui->radioButton_jpg->click();
        d.ui->checkBox_same_folder->setChecked(same_folder);
        d.ui->checkBox_square_padding->setChecked(!constant); // has no effect on the crop
        d.image_files = &images;
        d.labeling = &labeling;

        const qint64 before = QDateTime::currentMSecsSinceEpoch() / 1000;
        d.run_export(out.path());
        const qint64 after = QDateTime::currentMSecsSinceEpoch() / 1000;
        QVERIFY(d.success);
        QCOMPARE(d.failed_writes(), 0);
        const QString prefix = out.path() + "/export_crop_";
        QVERIFY(d.export_dir.startsWith(prefix));
        const QString stamp = d.export_dir.mid(prefix.size());
        bool numeric = false;
        const qint64 s = stamp.toLongLong(&numeric);
        QVERIFY(numeric && s >= before && s <= after);
        file.replace("S_", stamp + "_");
        QCOMPARE(files_below(d.export_dir), QStringList({file}));
        const cv::Mat m = cv::imread((d.export_dir + "/" + file).toUtf8().constData());
        QCOMPARE(m.size(), size);
    }

    // OK asks for the folder exactly so, starting in tmp_dir; a cancelled
    // folder dialog writes nothing; a chosen one becomes tmp_dir and is
    // exported into; the result is then shown and the folder opened. This is
    // the main dialog's sequence: exec(), then report_export_result().
    void okButtonAsksForTheFolder_data()
    {
        QTest::addColumn<bool>("choose");
        QTest::newRow("folder dialog cancelled") << false;
        QTest::newRow("folder chosen") << true;
    }
    void okButtonAsksForTheFolder()
    {
        QFETCH(bool, choose);
        QTemporaryDir start, out;
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("car", 100, 50, 40, 20)}});
        DialogExportCrop d;
        d.tmp_dir = start.path();
        d.image_files = &images;
        d.labeling = &labeling;
        d.success = false;

        QString title, directory;
        bool options_ok = false;
        const QString chosen = out.path();
        testsupport::answerNextModal([&](QWidget* w) {
            QCOMPARE(w, &d);
            testsupport::answerNextModal([&](QWidget* f) {
                auto fd = qobject_cast<QFileDialog*>(f);
                QVERIFY2(fd, f->metaObject()->className());
                title = fd->windowTitle();
                directory = fd->directory().absolutePath();
                options_ok = fd->options() == (QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks |
                                               QFileDialog::DontUseNativeDialog);
                if (!choose) {
                    fd->reject();
                    return;
                }
                fd->setDirectory(chosen);
                if (auto edit = fd->findChild<QLineEdit*>("fileNameEdit"))
                    edit->setText(chosen);
                QMetaObject::invokeMethod(fd, "accept");
            });
            d.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        });
        QCOMPARE(d.exec(), int(QDialog::Accepted));
        QCOMPARE(title, QString("Select folder to Export Crop"));
        QCOMPARE(directory, start.path());
        QVERIFY(options_ok);
        QCOMPARE(d.success, choose);

        SeenBox box;
        bool opened = false;
        if (choose)
            answerBox(&box);
        else
            refuseModals(&d, &opened);
        d.report_export_result(nullptr);
        if (!choose) {
            QVERIFY(!opened);
            QCOMPARE(d.tmp_dir, start.path());
            QVERIFY(tree(out.path()).isEmpty());
            QVERIFY(catcher.urls.isEmpty());
            return;
        }
        QCOMPARE(d.tmp_dir, chosen);
        QVERIFY(d.export_dir.startsWith(chosen + "/export_crop_"));
        QCOMPARE(files_below(d.export_dir).size(), 1);
        QVERIFY(box.seen);
        QCOMPARE(box.text, QString("Export crop successfully"));
        QCOMPARE(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(d.export_dir)}));
    }

    // The progress dialog ("Export cropping...", Cancel, modal), and Cancel pressed after the first
    // image: what was written stays, no success, nothing is shown.
    void cancelMidway()
    {
        QTemporaryDir out;
        Labeling labeling;
        const Frame f{object("car", 10, 10, 20, 20), object("person", 30, 30, 20, 20)};
        const auto images = images_for(labeling, {f, f, f});
        DialogExportCrop d;
        d.image_files = &images;
        d.labeling = &labeling;
        d.export_dir = "previous";

        QString label, title, cancel_text;
        int maximum = -1;
        Qt::WindowModality modality = Qt::NonModal;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&]() {
            auto p = d.findChild<QProgressDialog*>();
            if (!p || !p->isVisible())
                return;
            label = p->labelText();
            title = p->windowTitle();
            maximum = p->maximum();
            modality = p->windowModality();
            if (auto b = p->findChild<QPushButton*>())
                cancel_text = b->text();
            if (!files_below(out.path()).isEmpty())
                p->cancel();
        });
        watcher.start(0);
        d.run_export(out.path());
        watcher.stop();

        QCOMPARE(label, QString("Export cropping..."));
        QCOMPARE(title, QString("Varnex"));
        QCOMPARE(maximum, 3);
        QCOMPARE(modality, Qt::WindowModal);
        QCOMPARE(cancel_text, QString("Cancel"));
        QVERIFY(!d.success);
        QCOMPARE(d.export_dir, QString("previous"));
        const QStringList kept = files_below(out.path());
        QCOMPARE(kept.size(), 2); // the crops of the first image only
        QVERIFY(kept.at(0).endsWith("_car_0.png") && kept.at(1).endsWith("_person_0.png"));

        bool opened = false;
        refuseModals(&d, &opened);
        d.report_export_result(nullptr);
        QTest::qWait(20);
        QVERIFY(!opened);
        QVERIFY(catcher.urls.isEmpty());
    }

    void missingInputs_data()
    {
        QTest::addColumn<bool>("with_images");
        QTest::addColumn<bool>("with_labeling");
        QTest::newRow("no image list") << false << true;
        QTest::newRow("no labeling") << true << false;
    }
    void missingInputs()
    {
        QFETCH(bool, with_images);
        QFETCH(bool, with_labeling);
        QTemporaryDir out;
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("car", 10, 10, 20, 20)}});
        DialogExportCrop d;
        d.image_files = with_images ? &images : nullptr;
        d.labeling = with_labeling ? &labeling : nullptr;
        d.success = true; // a stale value must not survive
        d.run_export(out.path());
        QVERIFY(!d.success);
        QVERIFY(tree(out.path()).isEmpty());
    }

    // A clean run: the information box, then the folder is opened.
    void successIsReportedAndFolderOpened()
    {
        QTemporaryDir out;
        Labeling labeling;
        const Frame f{object("car", 10, 10, 20, 20), object("car", 100, 100, 30, 20), object("person", 200, 50, 20, 40)};
        const auto images = images_for(labeling, {f, f});
        DialogExportCrop d;
        d.image_files = &images;
        d.labeling = &labeling;
        d.ui->checkBox_same_folder->setChecked(false);
        d.run_export(out.path());
        QVERIFY(d.success);
        QCOMPARE(files_below(d.export_dir).size(), 6);

        SeenBox box;
        answerBox(&box);
        d.report_export_result(nullptr);
        QVERIFY(box.seen);
        QCOMPARE(box.title, QString("Varnex"));
        QCOMPARE(box.text, QString("Export crop successfully"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(d.export_dir)}));
    }

    // A run without a single crop succeeds but has no folder to open.
    void noCropsNoFolderOpened()
    {
        QTemporaryDir out;
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{}, Frame{}});
        DialogExportCrop d;
        d.image_files = &images;
        d.labeling = &labeling;
        d.run_export(out.path());
        QVERIFY(d.success);
        QVERIFY(!QFileInfo::exists(d.export_dir));
        SeenBox box;
        answerBox(&box);
        d.report_export_result(nullptr);
        QCOMPARE(box.text, QString("Export crop successfully"));
        QVERIFY(catcher.urls.isEmpty());
    }

    // A crop too large for the file-size limit cannot be written: no
    // success, a warning with the count and the first failing path, reported
    // once.
    void failedWriteIsReported()
    {
        QTemporaryDir out;
        Labeling labeling;
        const auto images =
            images_for(labeling, {Frame{object("car", 10, 10, 20, 20), object("person", 0, 0, 400, 400)}});
        DialogExportCrop d;
        d.image_files = &images;
        d.labeling = &labeling;
        {
            testsupport::FileSizeLimit limit(20000);
            d.run_export(out.path());
        }
        QVERIFY(!d.success);
        QCOMPARE(d.failed_writes(), 1);
        const QString failing = d.export_dir + "/" + QFileInfo(d.export_dir).fileName().mid(12) + "_person_0.png";
        QCOMPARE(d.first_failed_path(), failing);

        SeenBox box;
        answerBox(&box);
        d.report_export_result(nullptr);
        QVERIFY(box.seen);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QString("Varnex"));
        QVERIFY(!box.text.contains("successfully"));
        QVERIFY2(box.text.contains(" 1 ") && box.text.contains(failing), qPrintable(box.text));
        // The car crop was written, so its folder exists and is opened.
        QCOMPARE(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(d.export_dir)}));

        catcher.urls.clear();
        bool opened = false;
        refuseModals(&d, &opened);
        d.report_export_result(nullptr);
        QTest::qWait(20);
        QVERIFY(!opened);
        QVERIFY(catcher.urls.isEmpty());
    }
};

QTEST_MAIN(TstDialogExportCrop)
#include "tst_dialog_export_crop.moc"
