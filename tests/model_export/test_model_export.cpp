// The model export (the three files the detection server loads), the choice
// of another training folder and of the start weights: the GUI-free copy, then
// the dialog's slots with their file dialogs and messages answered here.

#include "dialog_varnex.h"
#include "model_export.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Writes the sources of a training folder: bit 1 obj.names, 2 test.cfg,
// 4 backup/train.backup.
bool writeSources(const QString& L, int which)
{
    bool ok = QDir().mkpath(L + "/data/backup");
    if (which & 1)
        ok = ok && testsupport::writeFile(L + "/data/obj.names", "a\nb\n");
    if (which & 2)
        ok = ok && testsupport::writeFile(L + "/data/test.cfg", "[net]\nbatch=1\n<-<+>->c2VjcmV0");
    if (which & 4)
        ok = ok && testsupport::writeFile(L + "/data/backup/train.backup", QByteArray(300000, '\x07'));
    return ok;
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Answers the next file dialog: checks its caption, then picks `path` (or
// cancels when it is empty). What the dialog showed goes into *seen.
struct Seen {
    QString title;
    QString directory;
    QStringList selected;
    QStringList filters;
    bool nativeOff = false;
    bool dirsOnly = false;
    bool linksKept = false;
};

// `then` runs once the dialog is answered (to answer what follows it).
void answerFileDialog(const QString& path, Seen* seen, std::function<void()> then = {})
{
    testsupport::answerNextModal([path, seen, then](QWidget* w) {
        auto* fd = qobject_cast<QFileDialog*>(w);
        if (!fd) {
            qWarning("expected a file dialog, got a %s", w->metaObject()->className());
            w->close();
            return;
        }
        seen->title = fd->windowTitle();
        seen->directory = fd->directory().absolutePath();
        seen->selected = fd->selectedFiles();
        seen->filters = fd->nameFilters();
        seen->nativeOff = fd->testOption(QFileDialog::DontUseNativeDialog);
        seen->dirsOnly = fd->testOption(QFileDialog::ShowDirsOnly);
        seen->linksKept = fd->testOption(QFileDialog::DontResolveSymlinks);
        if (path.isEmpty())
            fd->reject();
        else {
            // The typed name, absolute, is taken as it stands (a selection in
            // the list would depend on the folder model's background loading).
            auto* edit = fd->findChild<QLineEdit*>("fileNameEdit");
            if (edit)
                edit->setText(path);
            else
                fd->selectFile(path);
            static_cast<QDialog*>(fd)->accept(); // QFileDialog's own accept
        }
        if (then)
            then();
    });
}

// Answers a file dialog with `path`, then the message box that follows it
// (its text into *text).
void answerFileDialogThenMessage(const QString& path, Seen* seen, QString* text)
{
    answerFileDialog(path, seen, [text]() { testsupport::clickNextMessageBox(QMessageBox::Ok, text); });
}

} // namespace

class ModelExport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void exportTable_data();
    void exportTable();
    void failedCopiesKeepTheTarget();
    void failedExportReplacesNothing_data();
    void failedExportReplacesNothing();
    void linkTargetIsReplaced();
    void onlyRegularSourcesAreCopied();
    void trainingDataFolder();

    void exportSlot();
    void exportSlotRefusesDataFolder();
    void browseTrainingFile_data();
    void browseTrainingFile();
    void browseWeight();
    void otherLocation();

private:
    QTemporaryDir base_;
    std::unique_ptr<testsupport::ScopedEnv> home_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<DialogVarnex> d_;
    QString L_;
    QString D_;
};

void ModelExport::initTestCase()
{
    QVERIFY(base_.isValid());
    home_.reset(new testsupport::ScopedEnv("HOME", base_.path().toUtf8()));
    // "No path selected" is a relative path: look it up in an empty folder.
    QVERIFY(QDir::setCurrent(base_.path()));
}

void ModelExport::init()
{
    dir_.reset(new QTemporaryDir);
    L_ = dir_->filePath("train");
    D_ = dir_->filePath("model");
    QVERIFY(QDir().mkpath(L_));
    QVERIFY(QDir().mkpath(D_));
    d_.reset(new DialogVarnex(nullptr));
}

void ModelExport::cleanup()
{
    d_.reset();
    dir_.reset();
}

void ModelExport::exportTable_data()
{
    QTest::addColumn<int>("sources");
    QTest::addColumn<bool>("targetsExist");
    QTest::addColumn<bool>("noPath");
    QTest::addColumn<QStringList>("missing"); // sources reported, relative to L

    QTest::newRow("all present") << 7 << false << false << QStringList();
    QTest::newRow("existing targets are replaced") << 7 << true << false << QStringList();
    QTest::newRow("only train.backup missing") << 3 << false << false << QStringList{"/data/backup/train.backup"};
    QTest::newRow("only train.backup missing, the old export stays")
        << 3 << true << false << QStringList{"/data/backup/train.backup"};
    QTest::newRow("nothing there") << 0 << false << false
                                   << QStringList{"/data/obj.names", "/data/test.cfg", "/data/backup/train.backup"};
    QTest::newRow("No path selected") << 7 << false << true
                                      << QStringList{"/data/obj.names", "/data/test.cfg", "/data/backup/train.backup"};
}

void ModelExport::exportTable()
{
    QFETCH(int, sources);
    QFETCH(bool, targetsExist);
    QFETCH(bool, noPath);
    QFETCH(QStringList, missing);

    QVERIFY(writeSources(L_, sources));
    QFile::setPermissions(L_ + "/data/obj.names", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                      QFile::ReadOther | QFile::ReadUser | QFile::WriteUser);
    if (targetsExist)
        for (const char* t : {"obj.names", "test.cfg", "train.weights"})
            QVERIFY(testsupport::writeFile(D_ + "/" + QString(t), "old"));

    const QString L = noPath ? QString("No path selected") : L_;
    const QString message = export_model(L, D_);
    QString expected;
    for (const QString& m : missing)
        expected += L + m + " is missing\n";
    if (!missing.isEmpty())
        expected += "Nothing was replaced in " + D_ + "\n";
    QCOMPARE(message, expected);

    // All three or none.
    const QVector<ExportRow> rows = export_rows(L, D_);
    QCOMPARE(rows.size(), 3);
    for (const ExportRow& row : rows) {
        if (missing.isEmpty()) {
            QCOMPARE(testsupport::readFile(row.target), testsupport::readFile(row.source));
            QCOMPARE(QFileInfo(row.target).permissions(), QFileInfo(row.source).permissions());
        } else if (targetsExist) {
            QCOMPARE(testsupport::readFile(row.target), QByteArray("old"));
        } else {
            QVERIFY(!QFileInfo::exists(row.target));
        }
    }
    // Nothing but the exported files is left behind.
    for (const QString& e : entries(D_))
        QVERIFY2(QStringList({"obj.names", "test.cfg", "train.weights"}).contains(e), qPrintable(e));
}

void ModelExport::failedCopiesKeepTheTarget()
{
    QVERIFY(writeSources(L_, 5));
    // An unreadable source (a folder in its place) and a target that cannot be
    // replaced (a folder in its place).
    QVERIFY(QDir().mkpath(L_ + "/data/test.cfg"));
    QVERIFY(testsupport::writeFile(D_ + "/test.cfg", "old cfg"));
    QVERIFY(QDir().mkpath(D_ + "/train.weights/keep"));

    QCOMPARE(export_model(L_, D_), L_ + "/data/test.cfg could not be read\n" + D_ +
                                       "/train.weights could not be written\nNothing was replaced in " + D_ + "\n");
    QCOMPARE(testsupport::readFile(D_ + "/test.cfg"), QByteArray("old cfg"));
    QVERIFY(QFileInfo(D_ + "/train.weights/keep").isDir());
    QCOMPARE(entries(D_), (QStringList{"test.cfg", "train.weights"}));

    // A target folder that does not exist: every row fails, none is lost;
    // the unreadable source is named before any target is tried.
    const QString nowhere = dir_->filePath("nowhere");
    QCOMPARE(export_model(L_, nowhere), nowhere + "/obj.names could not be written\n" + L_ +
                                            "/data/test.cfg could not be read\n" + nowhere +
                                            "/train.weights could not be written\nNothing was replaced in " +
                                            nowhere + "\n");
    QVERIFY(!QFileInfo::exists(nowhere));
}

void ModelExport::failedExportReplacesNothing_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("line"); // the failure's line, L and D for the folders

    QTest::newRow("train.backup missing") << "no backup" << "L/data/backup/train.backup is missing";
    QTest::newRow("train.backup a FIFO") << "fifo backup" << "L/data/backup/train.backup could not be read";
    QTest::newRow("obj.names missing") << "no names" << "L/data/obj.names is missing";
    QTest::newRow("test.cfg a folder") << "folder cfg" << "L/data/test.cfg could not be read";
    QTest::newRow("a folder in place of obj.names") << "folder target" << "D/obj.names could not be written";
    // The small copies fit, the weights' copy does not.
    QTest::newRow("weights copy beyond the file-size limit") << "size limit" << "D/train.weights could not be written";
    // Found only by the rename itself: the two renames before it are undone.
    QTest::newRow("immutable train.weights") << "immutable weights" << "D/train.weights could not be written";
    QTest::newRow("immutable obj.names") << "immutable names" << "D/obj.names could not be written";
}

// A failed export leaves the previous export whole: its three files as they
// were, byte for byte and mode for mode, and nothing else in the folder.
void ModelExport::failedExportReplacesNothing()
{
    QFETCH(QString, fault);
    QFETCH(QString, line);

    QVERIFY(writeSources(L_, 7));
    struct Previous {
        const char* name;
        QByteArray bytes;
        QFile::Permissions mode;
    };
    const Previous previous[] = {
        {"obj.names", "old\nnames\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup},
        {"test.cfg", "[net]\nold=1\n", QFile::ReadOwner | QFile::WriteOwner},
        {"train.weights", QByteArray(1000, '\x01'), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther},
    };
    for (const Previous& p : previous) {
        if (fault == "folder target" && QByteArray(p.name) == "obj.names") {
            QVERIFY(QDir().mkpath(D_ + "/obj.names/keep"));
            continue;
        }
        QVERIFY(testsupport::writeFile(D_ + "/" + p.name, p.bytes));
        QVERIFY(QFile::setPermissions(D_ + "/" + p.name, p.mode));
    }
    const QStringList before = entries(D_);

    if (fault == "no backup")
        QVERIFY(QFile::remove(L_ + "/data/backup/train.backup"));
    if (fault == "fifo backup")
        QVERIFY(QFile::remove(L_ + "/data/backup/train.backup") &&
                testsupport::makeFifo(L_ + "/data/backup/train.backup"));
    if (fault == "no names")
        QVERIFY(QFile::remove(L_ + "/data/obj.names"));
    if (fault == "folder cfg")
        QVERIFY(QFile::remove(L_ + "/data/test.cfg") && QDir().mkpath(L_ + "/data/test.cfg"));
    QString immutable;
    if (fault == "immutable weights")
        immutable = D_ + "/train.weights";
    if (fault == "immutable names")
        immutable = D_ + "/obj.names";
    if (!immutable.isEmpty() && !testsupport::setImmutable(immutable, true))
        QSKIP("the immutable attribute cannot be set here");

    QString message;
    {
        std::unique_ptr<testsupport::FileSizeLimit> limit;
        if (fault == "size limit") {
            limit.reset(new testsupport::FileSizeLimit(100000));
            QVERIFY(limit->isActive());
        }
        message = export_model(L_, D_);
    }
    if (!immutable.isEmpty())
        QVERIFY(testsupport::setImmutable(immutable, false));

    const QString expected = (line.startsWith("L") ? L_ : D_) + line.mid(1);
    QCOMPARE(message, expected + "\nNothing was replaced in " + D_ + "\n");
    for (const Previous& p : previous) {
        const QString path = D_ + "/" + p.name;
        if (fault == "folder target" && QByteArray(p.name) == "obj.names") {
            QVERIFY(QFileInfo(path + "/keep").isDir());
            continue;
        }
        QCOMPARE(testsupport::readFile(path), p.bytes);
        // Owner, group and others (the "user" bits say what this process may).
        const QFile::Permissions user = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
        QCOMPARE(QFileInfo(path).permissions() & ~user, p.mode);
    }
    QCOMPARE(entries(D_), before);
}

void ModelExport::linkTargetIsReplaced()
{
    QVERIFY(writeSources(L_, 7));
    const QString outside = dir_->filePath("outside.names");
    QVERIFY(testsupport::writeFile(outside, "precious"));
    QVERIFY(QFile::link(outside, D_ + "/obj.names"));
    QCOMPARE(export_model(L_, D_), QString());
    QVERIFY(!QFileInfo(D_ + "/obj.names").isSymLink());
    QCOMPARE(testsupport::readFile(D_ + "/obj.names"), QByteArray("a\nb\n"));
    QCOMPARE(testsupport::readFile(outside), QByteArray("precious"));
}

void ModelExport::onlyRegularSourcesAreCopied()
{
    // A FIFO would block the trainer and a link to /dev/zero would fill the
    // disk: both are reported by their source as not read, and the regular
    // file is not exported without them.
    QVERIFY(writeSources(L_, 2));
    QVERIFY(testsupport::makeFifo(L_ + "/data/obj.names"));
    QVERIFY(QFile::link("/dev/zero", L_ + "/data/backup/train.backup"));
    QCOMPARE(export_model(L_, D_), L_ + "/data/obj.names could not be read\n" + L_ +
                                       "/data/backup/train.backup could not be read\nNothing was replaced in " +
                                       D_ + "\n");
    QCOMPARE(entries(D_), QStringList());
}

void ModelExport::trainingDataFolder()
{
    QVERIFY(writeSources(L_, 7));
    QVERIFY(is_training_data_folder(L_, L_ + "/data"));
    QVERIFY(is_training_data_folder(L_ + "/", L_ + "/data/"));
    QVERIFY(is_training_data_folder(L_, L_ + "/data/backup/.."));
    QVERIFY(QFile::link(L_ + "/data", dir_->filePath("link")));
    QVERIFY(is_training_data_folder(L_, dir_->filePath("link")));
    QVERIFY(!is_training_data_folder(L_, L_));
    QVERIFY(!is_training_data_folder(L_, D_));
    QVERIFY(!is_training_data_folder(dir_->filePath("none"), dir_->filePath("none/data")));
    QVERIFY(!is_training_data_folder("No path selected", D_));
}

void ModelExport::exportSlot()
{
    QVERIFY(writeSources(L_, 3));
    d_->ui->label_Generate_text->setText(L_);
    d_->train_dir = dir_->path();

    Seen seen;
    QString text;
    answerFileDialogThenMessage(D_, &seen, &text);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_Export_clicked", Qt::DirectConnection);
    QCOMPARE(seen.title, QString("Select Folder to Export Train File"));
    QCOMPARE(seen.directory, dir_->path());
    QVERIFY(seen.nativeOff);
    QVERIFY(seen.dirsOnly);
    QVERIFY(seen.linksKept);
    QCOMPARE(text, L_ + "/data/backup/train.backup is missing\nNothing was replaced in " + D_ + "\n");
    QCOMPARE(entries(D_), QStringList());

    // Complete: no message.
    QVERIFY(writeSources(L_, 4));
    {
        testsupport::MessageBoxWatch watch;
        answerFileDialog(D_, &seen);
        QMetaObject::invokeMethod(d_.get(), "on_pushButton_Export_clicked", Qt::DirectConnection);
        QCOMPARE(watch.texts, QStringList());
    }
    QCOMPARE(entries(D_), (QStringList{"obj.names", "test.cfg", "train.weights"}));
    QCOMPARE(testsupport::readFile(D_ + "/train.weights"), testsupport::readFile(L_ + "/data/backup/train.backup"));

    // Cancelled: nothing happens.
    QVERIFY(QFile::remove(D_ + "/obj.names"));
    answerFileDialog(QString(), &seen);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_Export_clicked", Qt::DirectConnection);
    QVERIFY(!QFileInfo::exists(D_ + "/obj.names"));

    // A source that cannot be read is named in the same box.
    QVERIFY(QFile::remove(L_ + "/data/obj.names"));
    QVERIFY(testsupport::makeFifo(L_ + "/data/obj.names"));
    answerFileDialogThenMessage(D_, &seen, &text);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_Export_clicked", Qt::DirectConnection);
    QCOMPARE(text, L_ + "/data/obj.names could not be read\nNothing was replaced in " + D_ + "\n");
    QVERIFY(!QFileInfo::exists(D_ + "/obj.names"));
    QCOMPARE(testsupport::readFile(D_ + "/test.cfg"), testsupport::readFile(L_ + "/data/test.cfg"));
}

void ModelExport::exportSlotRefusesDataFolder()
{
    QVERIFY(writeSources(L_, 7));
    d_->ui->label_Generate_text->setText(L_);
    const QByteArray names = testsupport::readFile(L_ + "/data/obj.names");
    Seen seen;
    QString text;
    answerFileDialogThenMessage(L_ + "/data", &seen, &text);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_Export_clicked", Qt::DirectConnection);
    QCOMPARE(text, QString("Cannot export into the training data folder"));
    QCOMPARE(testsupport::readFile(L_ + "/data/obj.names"), names);
    QVERIFY(!QFileInfo::exists(L_ + "/data/train.weights"));

    // Without a chosen training folder (an empty text alike) every source is
    // missing.
    for (const char* label : {"No path selected", ""}) {
        d_->ui->label_Generate_text->setText(label);
        answerFileDialogThenMessage(D_, &seen, &text);
        QMetaObject::invokeMethod(d_.get(), "on_pushButton_Export_clicked", Qt::DirectConnection);
        QCOMPARE(text, QString("No path selected/data/obj.names is missing\nNo path selected/data/test.cfg is missing\n"
                               "No path selected/data/backup/train.backup is missing\nNothing was replaced in ") +
                           D_ + "\n");
    }
    QVERIFY(entries(D_).isEmpty());
}

void ModelExport::browseTrainingFile_data()
{
    QTest::addColumn<bool>("objData");
    QTest::addColumn<bool>("trainCfg");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("message"); // empty: the folder is taken (or nothing, when cancelled)

    QTest::newRow("train.cfg only") << false << true << false << "obj.data is missing";
    QTest::newRow("obj.data only") << true << false << false << "train.cfg is missing";
    QTest::newRow("neither") << false << false << false << "obj.data is missing";
    QTest::newRow("both") << true << true << false << "";
    QTest::newRow("cancelled") << true << true << true << "";
}

void ModelExport::browseTrainingFile()
{
    QFETCH(bool, objData);
    QFETCH(bool, trainCfg);
    QFETCH(bool, cancel);
    QFETCH(QString, message);

    const QString chosen = dir_->filePath("elsewhere");
    QVERIFY(QDir().mkpath(chosen + "/data"));
    if (objData)
        QVERIFY(testsupport::writeFile(chosen + "/data/obj.data", "classes = 1"));
    if (trainCfg)
        QVERIFY(testsupport::writeFile(chosen + "/data/train.cfg", "[net]"));
    d_->ui->checkBox_use_other_location->setChecked(true);
    d_->ui->label_Generate_text->setText("No path selected");
    d_->train_dir = dir_->path();

    Seen seen;
    QString text;
    testsupport::MessageBoxWatch watch;
    answerFileDialog(cancel ? QString() : chosen, &seen);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_Browse_Train_File_clicked", Qt::DirectConnection);
    text = watch.texts.join("|");
    QCOMPARE(seen.title, QString("Select Folder to Export Training File"));
    QCOMPARE(seen.directory, dir_->path());
    QVERIFY(seen.nativeOff);
    QCOMPARE(text, message);
    const bool taken = message.isEmpty() && !cancel;
    QCOMPARE(d_->ui->label_Generate_text->text(), taken ? chosen : QString("No path selected"));
    QCOMPARE(d_->train_dir, taken ? chosen : dir_->path());
    // A folder taken here is the one Generate writes into.
    QCOMPARE(d_->train_dir_chosen, taken);
}

void ModelExport::browseWeight()
{
    Ui::DialogVarnex* ui = d_->ui;
    const QString first = dir_->filePath("w/first.weights");
    const QString second = dir_->filePath("w/second.backup");
    QVERIFY(testsupport::writeFile(first, "w1"));
    QVERIFY(testsupport::writeFile(second, "w2"));
    d_->train_dir = dir_->path();

    ui->checkBox_use_default_wg->setChecked(true);
    QVERIFY(!ui->label_wg_text_2->isHidden());
    QVERIFY(ui->pushButton_weight->isEnabled());
    QCOMPARE(ui->label_wg_text_2->text(), QString("Default"));

    Seen seen;
    answerFileDialog(first, &seen);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_weight_clicked", Qt::DirectConnection);
    QCOMPARE(seen.title, QString("Load Ground Truth"));
    QCOMPARE(seen.directory, dir_->path()); // the training folder, as nothing was picked yet
    QCOMPARE(seen.filters, QStringList{"Weight File (*.backup *.weights)"});
    QVERIFY(seen.nativeOff);
    QCOMPARE(ui->label_wg_text_2->text(), first);
    QCOMPARE(d_->weight_path, first);
    QCOMPARE(d_->last_weight_dir, first);

    // The next dialog opens at the picked file; cancelling changes nothing.
    answerFileDialog(QString(), &seen);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_weight_clicked", Qt::DirectConnection);
    QCOMPARE(seen.directory, QFileInfo(first).absolutePath());
    QCOMPARE(seen.selected, QStringList{first});
    QCOMPARE(ui->label_wg_text_2->text(), first);

    answerFileDialog(second, &seen);
    QMetaObject::invokeMethod(d_.get(), "on_pushButton_weight_clicked", Qt::DirectConnection);
    QCOMPARE(d_->weight_path, second);

    // Unchecking hides the file, rechecking shows it again.
    ui->checkBox_use_default_wg->setChecked(false);
    QVERIFY(ui->label_wg_text_2->isHidden());
    QVERIFY(!ui->pushButton_weight->isEnabled());
    ui->label_wg_text_2->setText("something else");
    ui->checkBox_use_default_wg->setChecked(true);
    QVERIFY(!ui->label_wg_text_2->isHidden());
    QCOMPARE(ui->label_wg_text_2->text(), second);
}

void ModelExport::otherLocation()
{
    Ui::DialogVarnex* ui = d_->ui;
    ui->label_Generate_text->setText(L_);
    ui->checkBox_use_other_location->setChecked(true);
    QVERIFY(!ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(!ui->progressBar->isEnabled());
    QVERIFY(ui->pushButton_Browse_Train_File->isEnabled());
    QCOMPARE(ui->label_Generate_text->text(), L_);

    ui->checkBox_use_other_location->setChecked(false);
    QVERIFY(ui->pushButton_GenerateTrainingFiles->isEnabled());
    QVERIFY(ui->progressBar->isEnabled());
    QVERIFY(!ui->pushButton_Browse_Train_File->isEnabled());
    QCOMPARE(ui->label_Generate_text->text(), QString("No path selected"));

    // A train started now asks for a training folder.
    testsupport::ExchangeFileGuard guard({"/tmp/varnex.stop", "/tmp/varnex.log"});
    d_->on_pushButton_Train_clicked();
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box);
    QCOMPARE(box->text(), QString("Please select training file location"));
    box->close();
    QCOMPARE(d_->train_process.state(), QProcess::NotRunning);
}

QTEST_MAIN(ModelExport)
#include "test_model_export.moc"
