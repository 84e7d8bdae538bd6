// The Generate slot of the main dialog: the chosen-folder rule, the refusals
// and their stderr lines, the re-entrancy guard, and whole generations of a
// fixture project (layout, progress lines, Auto Gen counts, the labels of the
// project's images).
#include "dataset_generator.h"
#include "dialog_dataset_gen.h"
#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "stderr_capture.h"
#include "test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kLog = "/tmp/varnex.log";

QJsonObject parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

QString text(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path));
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
    void nestedGenerateDoesNothing();
    void projectWithoutImages();

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

void TstGenerationDialog::folderThatDoesNotExist()
{
    QTemporaryDir tmp;
    const QString absent = tmp.filePath("absent");
    d_->restoreState(parse(QJsonDocument(QJsonObject{{"path_gen", absent}}).toJson()));
    QCOMPARE(d_->train_dir, absent);

    StderrCapture err;
    d_->on_pushButton_GenerateTrainingFiles_clicked();
    const QString said = err.take();
    QVERIFY2(said.contains(absent + " does not exist"), qPrintable(said));
    QCOMPARE(said.count('\n'), 1);
    QVERIFY(!QFileInfo::exists(absent));
    QVERIFY(!QFileInfo::exists(kLog));
    QVERIFY(d_->ui->pushButton_GenerateTrainingFiles->isEnabled());
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

QTEST_MAIN(TstGenerationDialog)
#include "tst_generation_dialog.moc"
