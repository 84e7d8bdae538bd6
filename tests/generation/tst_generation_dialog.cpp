// The Generate slot of the main dialog: the chosen-folder rule, the refusals
// and their stderr lines (a message box only for a folder never chosen), the
// re-entrancy guard, and whole generations of a fixture project (layout,
// progress lines, Auto Gen counts, the labels of the project's images).
#include "dataset_generator.h"
#include "dialog_dataset_gen.h"
#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

using testsupport::StderrCapture;
using testsupport::StdoutCapture;

const QString kLog = "/tmp/varnex.log";

QJsonObject parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

QString text(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

QJsonObject object_json(const QString& label, int x, int y, int w, int h)
{
    QJsonObject o;
    o["label"] = label;
    o["label_index"] = 0;
    o["color"] = "255,0,255";
    o["center"] = QString("%1,%2").arg(x + w / 2).arg(y + h / 2);
    o["bbox"] = QString("%1,%2,%3,%4").arg(x).arg(y).arg(w).arg(h);
    o["landmark_len"] = 0;
    o["landmark"] = "";
    return o;
}

// Three images (the last unreadable) with two classes; returns the ".gt" path.
QString make_project(const QString& dir)
{
    cv::imwrite((dir + "/a.jpg").toStdString(), cv::Mat(120, 200, CV_8UC3, cv::Scalar(10, 100, 200)));
    cv::imwrite((dir + "/b.png").toStdString(), cv::Mat(60, 80, CV_8UC3, cv::Scalar(200, 10, 10)));
    testsupport::writeFile(dir + "/c.jpg", "not an image");
    QJsonArray gt;
    gt << QJsonObject{{"filename", "a.jpg"},
                      {"obj_array", QJsonArray{object_json("cat", 10, 10, 50, 30), object_json("dog", 100, 50, 20, 40)}}};
    gt << QJsonObject{{"filename", "b.png"}, {"obj_array", QJsonArray{object_json("dog", 1, 2, 30, 20)}}};
    const QString path = dir + "/project.gt";
    testsupport::writeFile(path, QJsonDocument(gt).toJson());
    return path;
}

// Opens the fixture project in `d`, Auto Gen off, generating into `train_dir`.
void open_project(DialogVarnex* d, const QString& project_dir, const QString& train_dir)
{
    const QString gt = make_project(project_dir);
    d->restoreState(QJsonObject{{"prj_path", project_dir}, {"gt_path", gt}, {"path_gen", train_dir},
                                {"grb_auto_gen", false}, {"cmb_model", "V4-tiny"}, {"batch_size", 64},
                                {"sub_division", 8}});
}

int listed(const QString& train_dir)
{
    return text(train_dir + "/data/train.txt").count('\n');
}

// What a generation wrote, without its random names: every pair as the
// digest of its JPEG with its label text (sorted), the files that name no
// pair, and the number of listed images.
QStringList written(const QString& train_dir)
{
    const QString data = train_dir + "/data";
    QStringList entries;
    for (const QString& jpg : QDir(data + "/img").entryList({"*.jpg"}, QDir::Files)) {
        const QString base = data + "/img/" + jpg.chopped(4);
        entries << QCryptographicHash::hash(testsupport::readFile(base + ".jpg"), QCryptographicHash::Sha1).toHex() +
                       " " + text(base + ".txt");
    }
    entries.sort();
    for (const char* name : {"obj.names", "obj.data", "classes.data", "seg_train.txt", "classif_train.txt",
                             "train.cfg", "test.cfg", "version"})
        entries << QString(name) + ": " + text(data + "/" + name);
    entries << "listed: " + QString::number(listed(train_dir));
    return entries;
}

} // namespace

class TstGenerationDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noChosenFolder();
    void folderThatDoesNotExist();
    void chosenFolder_data();
    void chosenFolder();
    void nestedGenerateDoesNothing();
    void projectWithoutImages();
    void visibleDialogSaysWhy();
    void generationOfAProject();
    void viewLeavesTheOutputAlone();
    void commandsWaitForTheGeneration();

private:
    QTemporaryDir home_;
    QTemporaryDir work_;
    std::unique_ptr<testsupport::ScopedEnv> homeEnv_;
    std::unique_ptr<testsupport::ExchangeFileGuard> guard_;
    std::unique_ptr<DialogVarnex> d_;
};

void TstGenerationDialog::initTestCase()
{
    QVERIFY(home_.isValid());
    QVERIFY(work_.isValid());
    homeEnv_.reset(new testsupport::ScopedEnv("HOME", home_.path().toUtf8()));
    // A missing "prj_path" opens the working folder: keep it an empty one.
    QVERIFY(QDir::setCurrent(work_.path()));
}

void TstGenerationDialog::init()
{
    guard_.reset(new testsupport::ExchangeFileGuard({kLog}));
    d_.reset(new DialogVarnex(nullptr));
}

void TstGenerationDialog::cleanup()
{
    d_.reset();
    guard_.reset();
}

// Without a state file the training folder is the home folder, which serves
// only as the start folder of the file dialogs: a "data" there is never
// touched, and the refusal is said on stderr.
void TstGenerationDialog::noChosenFolder()
{
    QVERIFY(testsupport::writeFile(home_.filePath("data/keep.txt"), "keep"));
    QCOMPARE(d_->train_dir, QDir::homePath());

    StderrCapture err;
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    QVERIFY2(err.take().contains("no training folder chosen"), "no stderr line");

    QCOMPARE(testsupport::readFile(home_.filePath("data/keep.txt")), QByteArray("keep"));
    QCOMPARE(QDir(home_.filePath("data")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
    QVERIFY(!QFileInfo::exists(kLog));
    QCOMPARE(d_->ui->label_Generate_text->text(), QString("No path selected"));
    QVERIFY(!d_->generating);
    QVERIFY(d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(d_->ui->comboBox_model->isEnabled());

    // A state file without "path_gen" leaves the folder text empty: no folder.
    d_->restoreState(parse("{}"));
    StderrCapture err2;
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    QVERIFY(err2.take().contains("no training folder chosen"));
    QVERIFY(QDir(work_.path()).isEmpty());
}

// A chosen folder that does not exist is said on stderr only, like any other
// write that fails: no message box, even with the dialog on screen.
void TstGenerationDialog::folderThatDoesNotExist()
{
    QTemporaryDir tmp;
    const QString absent = tmp.filePath("absent");
    d_->restoreState(parse(QJsonDocument(QJsonObject{{"path_gen", absent}}).toJson()));
    QCOMPARE(d_->train_dir, absent);
    d_->show();
    QVERIFY(QTest::qWaitForWindowExposed(d_.get()));

    testsupport::ModalWatch boxes;
    StderrCapture err;
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    const QString said = err.take();
    QCOMPARE(boxes.seen, QStringList());
    QVERIFY2(said.contains(absent + " does not exist"), qPrintable(said));
    QCOMPARE(said.count('\n'), 1);
    QVERIFY(!QFileInfo::exists(absent));
    QVERIFY(!QFileInfo::exists(kLog));
    QVERIFY(d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
}

// The folder counts as chosen once the state or Browse Training File has set
// it, whatever it names: the home folder too, and also after the location box
// has put "No path selected" back into the label. Without "path_gen" (or
// without any state) nothing is chosen.
void TstGenerationDialog::chosenFolder_data()
{
    QTest::addColumn<bool>("restore");
    QTest::addColumn<QString>("pathGen"); // "HOME", "OTHER" or "" for no key
    QTest::addColumn<bool>("uncheckLocation");
    QTest::addColumn<QString>("generatedIn"); // the same words; "" for nowhere

    QTest::newRow("construction default") << false << "" << false << "";
    QTest::newRow("restored folder") << true << "OTHER" << false << "OTHER";
    QTest::newRow("home folder named by path_gen") << true << "HOME" << false << "HOME";
    QTest::newRow("home folder, location box unchecked after") << true << "HOME" << true << "HOME";
    QTest::newRow("other folder, location box unchecked after") << true << "OTHER" << true << "OTHER";
    QTest::newRow("missing path_gen") << true << "" << false << "";
}

void TstGenerationDialog::chosenFolder()
{
    QFETCH(bool, restore);
    QFETCH(QString, pathGen);
    QFETCH(bool, uncheckLocation);
    QFETCH(QString, generatedIn);

    QTemporaryDir other;
    const QMap<QString, QString> folders{{"HOME", home_.path()}, {"OTHER", other.path()}};
    QJsonObject state;
    if (!pathGen.isEmpty())
        state["path_gen"] = folders[pathGen];
    if (uncheckLocation)
        state["use_other_path_gen"] = true;
    if (restore)
        d_->restoreState(state);
    if (uncheckLocation) {
        d_->ui->checkBox_use_other_location->setChecked(false);
        QCOMPARE(d_->ui->label_Generate_text->text(), QString("No path selected"));
    }

    StderrCapture err;
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    const QString said = err.take();
    for (const QString& where : folders.keys()) {
        const bool expected = where == generatedIn;
        QVERIFY2(QFileInfo(folders[where] + "/data/train.txt").isFile() == expected,
                 qPrintable(where + ": " + said));
    }
    QCOMPARE(said.contains("no training folder chosen"), generatedIn.isEmpty());
    QDir(home_.filePath("data")).removeRecursively();
}

// While a generation runs (it lets events run), a second Generate does
// nothing: it neither removes "data" nor clears the generating flag.
void TstGenerationDialog::nestedGenerateDoesNothing()
{
    QTemporaryDir tmp;
    QVERIFY(testsupport::writeFile(tmp.filePath("data/keep.txt"), "keep"));
    d_->restoreState(parse(QJsonDocument(QJsonObject{{"path_gen", tmp.path()}}).toJson()));
    d_->generating = true;
    d_->ui->pushButton_GenerateTrainingFiles->setEnabled(false);
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    QVERIFY(d_->generating);
    QVERIFY(!d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
    QCOMPARE(testsupport::readFile(tmp.filePath("data/keep.txt")), QByteArray("keep"));
    d_->generating = false;
}

// A project folder without images: empty lists, the descriptions as usual,
// no progress line; the label shows the folder afterwards.
void TstGenerationDialog::projectWithoutImages()
{
    QTemporaryDir tmp;
    QTemporaryDir images;
    QVERIFY(testsupport::writeFile(tmp.filePath("data/old.txt"), "old"));
    d_->restoreState(parse(QJsonDocument(QJsonObject{{"path_gen", tmp.path()},
                                                     {"prj_path", images.path()},
                                                     {"cmb_model", "V4-tiny"},
                                                     {"batch_size", 16},
                                                     {"sub_division", 2}})
                               .toJson()));
    d_->on_pushButton_GenerateTrainingFiles_clicked();

    const QString data = tmp.filePath("data");
    QVERIFY(!QFileInfo::exists(data + "/old.txt"));
    for (const QString& f : QStringList{"train.txt", "seg_train.txt", "classif_train.txt", "obj.names"}) {
        QVERIFY2(QFileInfo(data + "/" + f).isFile(), qPrintable(f));
        QCOMPARE(QFileInfo(data + "/" + f).size(), 0);
    }
    QVERIFY(QDir(data + "/img").isEmpty());
    QVERIFY(QFileInfo(data + "/backup").isDir());
    QCOMPARE(testsupport::readFile(data + "/classes.data"), QByteArray("0"));
    QVERIFY(testsupport::readFile(data + "/obj.data").startsWith("classes = 0\n"));
    QCOMPARE(text(data + "/classif_train.names").count('\n'), 1);
    QCOMPARE(text(data + "/version"), QString("V4-tiny : 0 class"));
    QVERIFY(text(data + "/train.cfg").contains("batch=16"));
    QVERIFY(QFileInfo(data + "/test.cfg").isFile());
    QVERIFY(!QFileInfo::exists(kLog));
    QCOMPARE(d_->ui->label_Generate_text->text(), tmp.path());
    QVERIFY(!d_->generating);
}

// Generate on a dialog that a user looks at also says why in a message box.
void TstGenerationDialog::visibleDialogSaysWhy()
{
    d_->show();
    QVERIFY(QTest::qWaitForWindowExposed(d_.get()));
    QString said;
    testsupport::clickNextMessageBox(QMessageBox::Ok, &said);
    StderrCapture err;
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    QVERIFY(err.take().contains("no training folder chosen"));
    QCOMPARE(said, QString("Please select training file location"));
    QVERIFY(d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
}

// A whole generation through the slot: one progress line per image, the
// dialog left at the last image, an image without an entry in the frames
// given an empty one.
void TstGenerationDialog::generationOfAProject()
{
    QTemporaryDir project;
    QTemporaryDir train;
    open_project(d_.get(), project.path(), train.path());
    QCOMPARE(d_->frame_count, 3);
    QCOMPARE(d_->labeling.classes, std::vector<QString>({"cat", "dog"}));
    d_->labeling.frames.remove("c.jpg");

    StdoutCapture out;
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    const QString printed = out.take();
    QCOMPARE(printed.count("gen_progress"), 3);
    for (const char* line : {"{ \\\"gen_progress\\\" : 33 }\n", "{ \\\"gen_progress\\\" : 66 }\n",
                             "{ \\\"gen_progress\\\" : 100 }\n"})
        QVERIFY2(printed.contains(line), qPrintable(printed));
    QCOMPARE(testsupport::readFile(kLog), QByteArray("{ \"gen_progress\" : 100 }\n"));

    QCOMPARE(listed(train.path()), 3);
    QCOMPARE(QDir(train.filePath("data/img")).entryList({"*.txt"}, QDir::Files).size(), 3);
    QVERIFY(d_->labeling.frames.contains("c.jpg"));
    QVERIFY(d_->labeling.frames["c.jpg"].empty());
    QCOMPARE(d_->labeling.frames["a.jpg"].size(), size_t(2));
    QCOMPARE(d_->cur_index, 2);
    QCOMPARE(d_->ui->horizontalSlider_frame->value(), 3);
    QCOMPARE(d_->ui->progressBar->value(), 100);
    QCOMPARE(d_->cur_image.cols, 240); // the unreadable last image
    QCOMPARE(d_->cur_image.rows, 320);
    QCOMPARE(d_->ui->label_Generate_text->text(), train.path());
    QCOMPARE(text(train.filePath("data/version")), QString("V4-tiny : 2 class"));
    QVERIFY(!d_->generating);
}

// A generation writes the same files and moves through the same steps
// whether the view is on screen (redrawn while events run) or the dialog is
// hidden, as in a "gen" run.
void TstGenerationDialog::viewLeavesTheOutputAlone()
{
    QTemporaryDir project;
    QTemporaryDir train;
    open_project(d_.get(), project.path(), train.path());
    int redraws = 0;
    d_->key_poll = [&redraws]() {
        ++redraws;
        return -1;
    };
    QStringList steps;
    connect(d_->ui->horizontalSlider_frame, &QSlider::valueChanged, [&](int v) {
        steps << "slider " + QString::number(v) + " " + d_->ui->lineEdit_frameStatus->text();
        // A redraw at the next event run of the generation, whatever the clock says.
        QTimer::singleShot(0, d_.get(), [this] { QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow"); });
    });
    connect(d_->ui->progressBar, &QProgressBar::valueChanged, [&](int v) {
        steps << "progress " + QString::number(v) + " " + d_->ui->label_img_name->text();
    });

    struct Run {
        QStringList files, steps;
        QByteArray printed, status;
    };
    auto generate = [&]() {
        // Both runs start from the same place: another image, no progress.
        d_->ui->horizontalSlider_frame->setValue(2);
        d_->ui->progressBar->setValue(0);
        steps.clear();
        StdoutCapture out;
        d_->on_pushButton_GenerateTrainingFiles_clicked();
        return Run{written(train.path()), steps, out.finish(), testsupport::readFile(kLog)};
    };

    const Run hidden = generate();
    QCOMPARE(redraws, 0);
    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
    const Run shown = generate();
    QVERIFY(redraws >= 3);
    d_->hide();

    QCOMPARE(hidden.files.size(), 3 + 9);
    QCOMPARE(shown.files, hidden.files);
    QCOMPARE(shown.steps, hidden.steps);
    QCOMPARE(shown.printed, hidden.printed);
    QCOMPARE(shown.status, hidden.status);
    QCOMPARE(hidden.steps, (QStringList{"slider 1 1/3", "progress 33 a.jpg", "slider 2 2/3", "progress 66 b.png",
                                        "slider 3 3/3", "progress 100 Image error : c.jpg"}));
}

// While a generation lets events run, Generate, Load Images and Load GT do
// nothing: no second generation removes "data", no training starts, no folder or file dialog opens,
// the ground truth is not reloaded.
void TstGenerationDialog::commandsWaitForTheGeneration()
{
    QTemporaryDir project;
    QTemporaryDir train;
    const QString gt = make_project(project.path());
    d_->restoreState(QJsonObject{{"prj_path", project.path()}, {"gt_path", gt}, {"path_gen", train.path()},
                                 {"grb_auto_gen", true}});
    // Rotation off, contrast 0.5 only: one augmented sample per image.
    d_->dataset_generator->dialog->restore_setting(
        QJsonObject{{"grb_contrast", true}, {"contrast_min", 0.5}, {"contrast_max", 1.0}, {"contrast_step", 1.0}});

    int nested = 0;
    int modals = 0;
    QTimer closer;
    closer.setInterval(5);
    connect(&closer, &QTimer::timeout, [&modals]() {
        if (QWidget* w = QApplication::activeModalWidget()) {
            ++modals;
            w->close();
        }
    });
    QTimer poke;
    poke.setInterval(0);
    connect(&poke, &QTimer::timeout, [&]() {
        if (!d_->generating)
            return;
        ++nested;
        d_->on_pushButton_GenerateTrainingFiles_clicked();
        d_->on_pushButton_Train_clicked();
        QVERIFY(QMetaObject::invokeMethod(d_.get(), "on_pushButton_loadImages_clicked"));
        QVERIFY(QMetaObject::invokeMethod(d_.get(), "on_pushButton_LoadGT_clicked"));
    });
    int trainingStarts = 0;
    connect(&d_->train_process, &QProcess::started, [&trainingStarts]() { ++trainingStarts; });
    closer.start();
    poke.start();
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    poke.stop();
    closer.stop();

    QVERIFY2(nested > 0, "no event ran during the generation");
    QCOMPARE(modals, 0);
    QCOMPARE(trainingStarts, 0);
    QCOMPARE(d_->train_process.state(), QProcess::NotRunning);
    QCOMPARE(listed(train.path()), 6);
    QCOMPARE(QDir(train.filePath("data/img")).entryList({"*.jpg"}, QDir::Files).size(), 6);
    QCOMPARE(d_->gt_path, gt);
    QVERIFY(!d_->generating);
}

QTEST_MAIN(TstGenerationDialog)
#include "tst_generation_dialog.moc"
