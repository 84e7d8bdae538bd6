// The project side of the main dialog: listing an image folder, moving through
// it, unreadable images, and loading and saving the ground truth through the
// real (Qt's own) file dialogs, answered from the test.

#include "dialog_varnex.h"
#include "label_dialog.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"
#include "ui_label_dialog.h"

#include <QAbstractButton>
#include <QLabel>
#include <QFileDialog>
#include <QJsonArray>
#include <QPointer>
#include <QLineEdit>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <memory>

namespace {

void writeImage(const QString& path, int w, int h, cv::Scalar colour = cv::Scalar(10, 20, 30))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QVERIFY(cv::imwrite(path.toStdString(), cv::Mat(h, w, CV_8UC3, colour)));
}

std::vector<QString> names(DialogVarnex* d)
{
    return d->labeling.frame_names;
}

// Waits for the next modal window of type T and runs `action` on it.
template <typename T>
void onNext(std::function<void(T*)> action)
{
    auto timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, action]() {
        T* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if ((w && w->isVisible()) || ++*tries > 3000) {
            timer->stop();
            timer->deleteLater();
            if (w)
                action(w);
            else
                qWarning("no modal %s appeared", T::staticMetaObject.className());
        }
    });
    timer->start(10);
}

// Answers the next file dialog with `path` (empty: cancel); then, when given,
// runs `then` (to answer what follows the dialog). The name goes into the
// dialog's name field, as a user types it (selectFile() leaves a focused field
// alone).
void chooseInFileDialog(const QString& path, std::function<void()> then = nullptr)
{
    onNext<QFileDialog>([path, then](QFileDialog* fd) {
        if (then)
            then();
        if (path.isEmpty()) {
            fd->reject();
            return;
        }
        QLineEdit* name = fd->findChild<QLineEdit*>("fileNameEdit");
        if (name)
            name->setText(path);
        else
            fd->selectFile(path);
        QMetaObject::invokeMethod(fd, "accept", Qt::DirectConnection);
    });
}

// Answers the next message box with `button`, recording its text.
void answerBox(QMessageBox::StandardButton button, QString* text)
{
    onNext<QMessageBox>([button, text](QMessageBox* box) {
        if (text)
            *text = box->text();
        box->button(button)->click();
    });
}

// The texts the dialog shows in its labels, one a line: what a user sees
// without opening anything.
QString shownTexts(QWidget* dialog)
{
    QStringList texts;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->isVisibleTo(dialog) && !label->text().isEmpty())
            texts << label->text();
    return texts.join("\n");
}

QStringList pickerRows(LabelDialog& picker)
{
    QStringList rows;
    for (int r = 0; r < picker.ui->tableWidget->rowCount(); ++r)
        rows << picker.ui->tableWidget->item(r, 0)->text() + ":" + picker.ui->tableWidget->item(r, 1)->text();
    return rows;
}

Object makeObject(const QString& label, int index, cv::Rect box)
{
    Object o;
    o.label = label;
    o.label_index = index;
    o.bbox = box;
    o.center = cv::Point(box.x + box.width / 2, box.y + box.height / 2);
    return o;
}

} // namespace

class Project : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listing();
    void loadImagesButton();
    void emptyFolderKeepsProject();
    void navigation();
    void buttonEnabling();
    void moveWhileViewNotShown_data();
    void moveWhileViewNotShown();
    void unreadableImage();
    void imageRefusedBeforeDecoding_data();
    void imageRefusedBeforeDecoding();
    void loadGroundTruth();
    void loadGroundTruthRefusesBrokenFile_data();
    void loadGroundTruthRefusesBrokenFile();
    void loadGroundTruthRefusesFifo();
    void restoreRefillsPicker();
    void restoreShowsUnreadableGroundTruth_data();
    void restoreShowsUnreadableGroundTruth();
    void saveOverUnreadableGroundTruthAsks_data();
    void saveOverUnreadableGroundTruthAsks();
    void saveGroundTruthNames_data();
    void saveGroundTruthNames();
    void saveGroundTruthAsksBeforeReplacing_data();
    void saveGroundTruthAsksBeforeReplacing();
    void saveGroundTruthFailure();
    void close();

private:
    QString makeFolder(const QString& name, const QStringList& images);
    // A ground-truth file for `folder` with car, person, car on its first two
    // images (and bus when three classes are asked for).
    QString makeGt(const QString& folder, bool three);

    testsupport::DialogEnvironment env_;
    std::unique_ptr<DialogVarnex> d_;
};

void Project::initTestCase()
{
    // Quick board answers (an x86 desktop): every test builds a dialog.
    QVERIFY(env_.setUp());
}

void Project::init()
{
    d_.reset(new DialogVarnex(nullptr));
    d_->key_poll = []() { return -1; };
}

void Project::cleanup()
{
    d_.reset();
}

QString Project::makeFolder(const QString& name, const QStringList& images)
{
    const QString dir = env_.path(name);
    QDir().mkpath(dir);
    int n = 0;
    for (const QString& f : images)
        writeImage(dir + "/" + f, 64 + 16 * n++, 48);
    return dir;
}

QString Project::makeGt(const QString& folder, bool three)
{
    std::unique_ptr<Labeling> l(new Labeling);
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& f : files) {
        l->frame_names.push_back(f);
        l->frames.insert(f, Frame());
    }
    l->frames[files[0]].push_back(makeObject("car", 0, cv::Rect(2, 3, 20, 10)));
    l->frames[files[0]].push_back(makeObject("person", 1, cv::Rect(5, 6, 7, 8)));
    l->frames[files[1]].push_back(makeObject("car", 0, cv::Rect(1, 1, 9, 9)));
    if (three)
        l->frames[files[1]].push_back(makeObject("bus", 2, cv::Rect(3, 3, 9, 9)));
    const QString path = folder + (three ? "/three.gt" : "/two.gt");
    [&] { QVERIFY(l->save_gt(path)); }();
    return path;
}

void Project::listing()
{
    const QString dir = makeFolder("listing", {"b.png", "A.jpg", "c.TIF", "d.Jpg", ".hidden.png", "sub/z.png"});
    QVERIFY(testsupport::writeFile(dir + "/notes.txt", "not an image\n"));
    d_->loadPrjoject(dir);

    QCOMPARE(names(d_.get()), (std::vector<QString>{"A.jpg", "b.png", "c.TIF", "d.Jpg"}));
    QCOMPARE(d_->image_files.size(), 4);
    QCOMPARE(d_->frame_count, 4);
    QCOMPARE(d_->labeling.frames.size(), 4);
    for (const QString& n : names(d_.get()))
        QVERIFY(d_->labeling.frames.value(n).empty());
    QCOMPARE(d_->ui->lineEdit_frameStatus->text(), QString("1/4"));
    QCOMPARE(d_->ui->horizontalSlider_frame->value(), 1);
    QCOMPARE(d_->ui->horizontalSlider_frame->maximum(), 4);
    QCOMPARE(d_->ui->label_img_name->text(), QString("A.jpg"));
    QCOMPARE(d_->ui->label_prj_path->text(), dir);
    QCOMPARE(d_->prj_path, dir);
    QCOMPARE(d_->cur_index, 0);
    QCOMPARE(d_->cur_image.cols, 80); // A.jpg was the second image written
    QCOMPARE(d_->display_image.cols, 80);
    QVERIFY(d_->im_window_timer->isActive());
    QCOMPARE(d_->im_window_timer->interval(), 10);
    QVERIFY(!d_->ui->label_img->pixmap(Qt::ReturnByValue).isNull());

    // A second folder keeps the classes of the first.
    d_->labeling.add_class("car");
    const QString other = makeFolder("listing2", {"x.png", "y.bmp"});
    d_->loadPrjoject(other);
    QCOMPARE(names(d_.get()), (std::vector<QString>{"x.png", "y.bmp"}));
    QCOMPARE(d_->ui->lineEdit_frameStatus->text(), QString("1/2"));
    QCOMPARE(int(d_->labeling.classes.size()), 1);
}

void Project::loadImagesButton()
{
    const QString dir = makeFolder("button", {"one.png", "two.png"});
    chooseInFileDialog(dir);
    d_->ui->pushButton_loadImages->click();
    QCOMPARE(d_->prj_path, dir);
    QCOMPARE(d_->frame_count, 2);

    // Cancelled: nothing changes.
    chooseInFileDialog(QString());
    d_->ui->pushButton_loadImages->click();
    QCOMPARE(d_->prj_path, dir);
    QCOMPARE(d_->frame_count, 2);
}

void Project::emptyFolderKeepsProject()
{
    const QString dir = makeFolder("full", {"a.png", "b.png", "c.png"});
    const QString empty = makeFolder("empty", {});
    d_->loadPrjoject(dir);
    d_->labeling.frames["b.png"].push_back(makeObject("car", 0, cv::Rect(1, 1, 5, 5)));

    d_->loadPrjoject(empty);
    QCOMPARE(d_->prj_path, empty);
    QCOMPARE(d_->ui->label_prj_path->text(), empty);
    QCOMPARE(d_->ui->label_img_name->text(), QString(""));
    // The open project stays whole: listing, labels, count, redraw.
    QCOMPARE(d_->image_files.size(), 3);
    QCOMPARE(names(d_.get()), (std::vector<QString>{"a.png", "b.png", "c.png"}));
    QCOMPARE(int(d_->labeling.frames.value("b.png").size()), 1);
    QCOMPARE(d_->frame_count, 3);
    QVERIFY(d_->im_window_timer->isActive());

    d_->ui->horizontalSlider_frame->setValue(3);
    QCOMPARE(d_->cur_index, 2);
    QCOMPARE(d_->ui->label_img_name->text(), QString("c.png"));
    QCOMPARE(d_->cur_image.cols, 64 + 32);
}

void Project::navigation()
{
    const QString dir = makeFolder("nav", {"a.png", "b.png", "c.png"});
    d_->loadPrjoject(dir);
    QSlider* slider = d_->ui->horizontalSlider_frame;

    d_->clicked_points = {cv::Point(1, 1), cv::Point(2, 2)};
    d_->labeling.active_object = 0;
    slider->setValue(2);
    QCOMPARE(d_->ui->lineEdit_frameStatus->text(), QString("2/3"));
    QCOMPARE(d_->cur_index, 1);
    QCOMPARE(d_->ui->label_img_name->text(), QString("b.png"));
    QCOMPARE(d_->cur_image.cols, 80);
    QCOMPARE(d_->display_image.cols, 80);
    QVERIFY(d_->clicked_points.empty());
    QCOMPARE(d_->labeling.active_object, -1);

    // At either end an arrow only empties the clicked points.
    slider->setValue(1);
    d_->clicked_points = {cv::Point(1, 1)};
    d_->labeling.active_object = 0;
    d_->ui->pushButton_prev->click();
    QCOMPARE(slider->value(), 1);
    QCOMPARE(d_->cur_index, 0);
    QVERIFY(d_->clicked_points.empty());
    QCOMPARE(d_->labeling.active_object, 0);

    d_->ui->pushButton_next->click();
    d_->ui->pushButton_next->click();
    QCOMPARE(slider->value(), 3);
    QCOMPARE(d_->ui->lineEdit_frameStatus->text(), QString("3/3"));
    d_->clicked_points = {cv::Point(1, 1)};
    d_->ui->pushButton_next->click();
    QCOMPARE(slider->value(), 3);
    QCOMPARE(d_->cur_index, 2);
    QVERIFY(d_->clicked_points.empty());

    d_->ui->pushButton_prev->click();
    QCOMPARE(d_->cur_index, 1);
    QCOMPARE(d_->ui->label_img_name->text(), QString("b.png"));

    // An index outside the list is refused: nothing read, nothing stored.
    const cv::Mat before = d_->cur_image.clone();
    QVERIFY(d_->getFrame(3, true).empty());
    QVERIFY(d_->getFrame(-1, true).empty());
    QCOMPARE(d_->ui->label_img_name->text(), QString("b.png"));
    QCOMPARE(d_->cur_image.cols, before.cols);
}

void Project::buttonEnabling()
{
    // Before any folder the slider is off.
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(!d_->ui->horizontalSlider_frame->isEnabled());

    d_->loadPrjoject(makeFolder("enable", {"a.png", "b.png", "c.png"}));
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateTrainWindow");
    QVERIFY(d_->ui->horizontalSlider_frame->isEnabled());

    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QVERIFY(!d_->ui->pushButton_prev->isEnabled());
    QVERIFY(d_->ui->pushButton_next->isEnabled());
    d_->ui->horizontalSlider_frame->setValue(2);
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QVERIFY(d_->ui->pushButton_prev->isEnabled());
    QVERIFY(d_->ui->pushButton_next->isEnabled());
    d_->ui->horizontalSlider_frame->setValue(3);
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QVERIFY(d_->ui->pushButton_prev->isEnabled());
    QVERIFY(!d_->ui->pushButton_next->isEnabled());
    d_->hide();
}

void Project::moveWhileViewNotShown_data()
{
    QTest::addColumn<bool>("shown");
    QTest::newRow("dialog hidden") << false;
    QTest::newRow("dialog shown on the Training tab") << true;
}

// With the view off screen a move does not copy the image for the view, yet
// the display image holds the new image; once the view is on screen the
// redraw draws on pixels of its own, never on the image that was read (which
// a generation still holds).
void Project::moveWhileViewNotShown()
{
    QFETCH(bool, shown);
    d_->loadPrjoject(makeFolder("offscreen_move", {"a.png", "b.png"}));
    if (shown) {
        d_->show();
        d_->ui->tabWidget->setCurrentIndex(1);
    }
    Object car = makeObject("car", 0, cv::Rect(2, 3, 20, 10));
    car.color = cv::Scalar(0, 0, 255);
    d_->labeling.frames["b.png"].push_back(car);

    d_->ui->horizontalSlider_frame->setValue(2);
    const cv::Mat read = d_->cur_image; // as a generation holds the image it read
    const cv::Mat pixels = read.clone();
    QCOMPARE(d_->display_image.cols, 80);
    QCOMPARE(cv::norm(d_->display_image, pixels, cv::NORM_INF), 0.0);

    d_->show();
    d_->ui->tabWidget->setCurrentIndex(0);
    QMetaObject::invokeMethod(d_.get(), "loopTimerUpdateImWindow");
    QCOMPARE(d_->display_image.at<cv::Vec3b>(13, 10), cv::Vec3b(0, 0, 255)); // the box's lower edge
    QCOMPARE(cv::norm(read, pixels, cv::NORM_INF), 0.0);
    QCOMPARE(cv::norm(d_->cur_image, pixels, cv::NORM_INF), 0.0);
    d_->hide();
}

void Project::unreadableImage()
{
    const QString dir = makeFolder("bad", {"a.png"});
    QVERIFY(testsupport::writeFile(dir + "/bad.png", "this is text, not a picture\n"));
    d_->loadPrjoject(dir);
    QCOMPARE(names(d_.get()), (std::vector<QString>{"a.png", "bad.png"}));
    d_->ui->horizontalSlider_frame->setValue(2);
    QCOMPARE(d_->ui->label_img_name->text(), QString("Image error : bad.png"));
    QCOMPARE(d_->cur_image.cols, 240);
    QCOMPARE(d_->cur_image.rows, 320);
    QCOMPARE(d_->cur_image.type(), CV_8UC3);
    QCOMPARE(cv::countNonZero(d_->cur_image.reshape(1)), 0);
    // Also as the first image of a folder.
    const QString only = makeFolder("badonly", {});
    QVERIFY(testsupport::writeFile(only + "/x.jpg", ""));
    d_->loadPrjoject(only);
    QCOMPARE(d_->ui->label_img_name->text(), QString("Image error : x.jpg"));
    QCOMPARE(d_->cur_image.size(), cv::Size(240, 320));
}

void Project::imageRefusedBeforeDecoding_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO put in after the listing") << "fifo" << "b.png is not a regular file";
    QTest::newRow("link to /dev/zero put in after the listing") << "zero" << "b.png is not a regular file";
    QTest::newRow("over the pixel limit") << "huge"
                                          << "16385 x 16384 pixels, more than the limit of 268435456 pixels";
}

void Project::imageRefusedBeforeDecoding()
{
    // Each takes the unreadable-image path, without waiting or decoding.
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString dir = makeFolder("refused_" + kind, {"a.png", "b.png"});
    d_->loadPrjoject(dir);
    const QString b = dir + "/b.png";
    QVERIFY(QFile::remove(b));
    if (kind == "fifo")
        QVERIFY(testsupport::makeFifo(b));
    else if (kind == "zero")
        QVERIFY(QFile::link("/dev/zero", b));
    else // about 40 KB; decoded, 805 MB
        QVERIFY(testsupport::writeFile(b, testsupport::blankPng(16385, 16384)));
    testsupport::StderrCapture err;
    d_->ui->horizontalSlider_frame->setValue(2);
    const QString said = err.take();
    QCOMPARE(d_->ui->label_img_name->text(), QString("Image error : b.png"));
    QCOMPARE(d_->cur_image.size(), cv::Size(240, 320));
    QCOMPARE(cv::countNonZero(d_->cur_image.reshape(1)), 0);
    QVERIFY2(said.contains("[Varnex] : cannot read image: ") && said.contains(reason), qPrintable(said));
}

void Project::loadGroundTruth()
{
    const QString dir = makeFolder("gt", {"a.png", "b.png", "c.png"});
    const QString gt = makeGt(dir, false);
    d_->loadPrjoject(dir);
    for (const char* n : {"one", "two", "three", "four", "five"})
        d_->label_dialog.setLabelItemp(n);

    chooseInFileDialog(gt);
    d_->ui->pushButton_LoadGT->click();
    QCOMPARE(d_->labeling.classes, (std::vector<QString>{"car", "person"}));
    QCOMPARE(int(d_->labeling.frames.value("a.png").size()), 2);
    QCOMPARE(int(d_->labeling.frames.value("b.png").size()), 1);
    QCOMPARE(pickerRows(d_->label_dialog), (QStringList{"0:car", "1:person"}));
    QCOMPARE(d_->label_dialog.row_count, 2);
    QCOMPARE(d_->label_dialog.ui->tableWidget->horizontalHeaderItem(0)->text(), QString("Index"));
    QCOMPARE(d_->gt_path, gt);

    // Cancelled: nothing changes.
    chooseInFileDialog(QString());
    d_->ui->pushButton_LoadGT->click();
    QCOMPARE(d_->gt_path, gt);
    QCOMPARE(int(d_->labeling.classes.size()), 2);
}

void Project::loadGroundTruthRefusesBrokenFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason"); // after the file's name
    QTest::newRow("broken JSON") << QByteArray("[{\"filename\": ") << " is not JSON: unterminated object at offset 14";
    QTest::newRow("empty file") << QByteArray() << " is not JSON: illegal value at offset 0";
    QTest::newRow("text") << QByteArray("car 1 2 3 4\n") << " is not JSON: illegal value at offset 1";
    QTest::newRow("one invalid UTF-8 byte") << QByteArray("[{\"filename\": \"a\xff.png\", \"obj_array\": []}]")
                                            << " is not JSON: invalid UTF8 string at offset 16";
}

void Project::loadGroundTruthRefusesBrokenFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString dir = makeFolder("gtbroken", {"a.png", "b.png"});
    const QString good = makeGt(dir, false);
    d_->loadPrjoject(dir);
    chooseInFileDialog(good);
    d_->ui->pushButton_LoadGT->click();
    QCOMPARE(int(d_->labeling.frames.value("a.png").size()), 2);

    const QString bad = dir + "/broken.gt";
    QVERIFY(testsupport::writeFile(bad, content));
    QString text;
    chooseInFileDialog(bad, [&text] { answerBox(QMessageBox::Ok, &text); });
    d_->ui->pushButton_LoadGT->click();
    // The file and the parser's reason, in the box and in the window.
    QCOMPARE(text, "Cannot read ground truth: " + bad + "\n" + bad + reason);
    QVERIFY2(shownTexts(d_.get()).contains(text), qPrintable(shownTexts(d_.get())));
    // Labels, picker and path as they were.
    QCOMPARE(int(d_->labeling.frames.value("a.png").size()), 2);
    QCOMPARE(d_->labeling.classes, (std::vector<QString>{"car", "person"}));
    QCOMPARE(pickerRows(d_->label_dialog), (QStringList{"0:car", "1:person"}));
    QCOMPARE(d_->gt_path, good);
}

void Project::loadGroundTruthRefusesFifo()
{
    // Refused with its reason, not waited on; the labels stay as they were.
    const QString dir = makeFolder("gtfifo", {"a.png", "b.png"});
    const QString good = makeGt(dir, false);
    d_->loadPrjoject(dir);
    chooseInFileDialog(good);
    d_->ui->pushButton_LoadGT->click();
    const QString fifo = dir + "/fifo.gt";
    QVERIFY(testsupport::makeFifo(fifo));
    QString text;
    chooseInFileDialog(fifo, [&text] { answerBox(QMessageBox::Ok, &text); });
    d_->ui->pushButton_LoadGT->click();
    QCOMPARE(text, "Cannot read ground truth: " + fifo + "\n" + fifo + " is not a regular file");
    QCOMPARE(d_->labeling.classes, (std::vector<QString>{"car", "person"}));
    QCOMPARE(d_->gt_path, good);
}

void Project::restoreRefillsPicker()
{
    const QString dir = makeFolder("restore", {"a.png", "b.png"});
    const QString gt = makeGt(dir, true);
    for (const char* n : {"one", "two", "three", "four", "five"})
        d_->label_dialog.setLabelItemp(n);
    d_->restoreState(QJsonObject{{"prj_path", dir}, {"gt_path", gt}});
    QCOMPARE(d_->frame_count, 2);
    QCOMPARE(d_->labeling.classes, (std::vector<QString>{"car", "person", "bus"}));
    QCOMPARE(pickerRows(d_->label_dialog), (QStringList{"0:car", "1:person", "2:bus"}));
    QCOMPARE(d_->label_dialog.ui->tableWidget->horizontalHeaderItem(1)->text(), QString("Label"));
}

void Project::restoreShowsUnreadableGroundTruth_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // after the file's name; empty: nothing is shown

    QTest::newRow("one invalid UTF-8 byte") << "utf8" << " is not JSON: invalid UTF8 string at offset ";
    QTest::newRow("not JSON") << "text" << " is not JSON: illegal value at offset 1";
    QTest::newRow("cut short") << "cut" << " is not JSON: unterminated object at offset ";
    QTest::newRow("FIFO") << "fifo" << " is not a regular file";
    QTest::newRow("folder") << "folder" << " is not a regular file";
    QTest::newRow("beyond the size limit") << "large" << " is larger than the limit of 1 GiB";
    // Kept silent: no ground truth yet, or one that loads.
    QTest::newRow("missing") << "missing" << QString();
    QTest::newRow("good") << "good" << QString();
}

// A ground truth named by the state file that cannot be read leaves the
// project without labels: the window says so, naming the file and why, with
// no box to answer (a controlling program's run goes on).
void Project::restoreShowsUnreadableGroundTruth()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString dir = makeFolder("restore_" + kind, {"a.png", "b.png"});
    const QString good = makeGt(dir, false);
    const QByteArray text = testsupport::readFile(good);
    const QString gt = dir + "/labels.gt";
    if (kind == "utf8") {
        QByteArray broken = text;
        broken.replace("person", "pers\xffn");
        QVERIFY(broken != text);
        QVERIFY(testsupport::writeFile(gt, broken));
    } else if (kind == "text") {
        QVERIFY(testsupport::writeFile(gt, "a.png car 2 3 20 10\n"));
    } else if (kind == "cut") {
        QVERIFY(testsupport::writeFile(gt, text.left(text.size() - 4)));
    } else if (kind == "fifo") {
        QVERIFY(testsupport::makeFifo(gt));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(gt));
    } else if (kind == "large") {
        // Sparse: one byte beyond the limit, refused by its size unread.
        QFile f(gt);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize((qint64(1) << 30) + 1));
    } else if (kind == "good") {
        QVERIFY(QFile::copy(good, gt));
    }

    testsupport::MessageBoxWatch watch;
    d_->restoreState(QJsonObject{{"prj_path", dir}, {"gt_path", gt}});
    QCOMPARE(watch.texts, QStringList());
    QCOMPARE(d_->frame_count, 2);
    QCOMPARE(d_->gt_path, gt);
    const QString shown = shownTexts(d_.get());
    if (reason.isEmpty()) {
        QVERIFY2(!shown.contains("Cannot read ground truth"), qPrintable(shown));
        QCOMPARE(int(d_->labeling.classes.size()), kind == "good" ? 2 : 0);
        return;
    }
    QVERIFY2(shown.contains("Cannot read ground truth: " + gt + "\n" + gt + reason), qPrintable(shown));
    QVERIFY(d_->labeling.classes.empty());
    QCOMPARE(pickerRows(d_->label_dialog), QStringList());

    // A ground truth that loads takes the notice away.
    chooseInFileDialog(good);
    d_->ui->pushButton_LoadGT->click();
    QCOMPARE(d_->labeling.classes, (std::vector<QString>{"car", "person"}));
    QVERIFY2(!shownTexts(d_.get()).contains("Cannot read ground truth"), qPrintable(shownTexts(d_.get())));
}

void Project::saveOverUnreadableGroundTruthAsks_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("No") << int(QMessageBox::No) << false;
    QTest::newRow("Yes") << int(QMessageBox::Yes) << true;
}

// Saving over the file that failed to load would lose every label it holds:
// the question says that it could not be read, and why.
void Project::saveOverUnreadableGroundTruthAsks()
{
    QFETCH(int, answer);
    QFETCH(bool, replaced);
    const QString dir = makeFolder(QString("save_unread_%1").arg(answer), {"a.png", "b.png"});
    QByteArray text = testsupport::readFile(makeGt(dir, false));
    text.replace("person", "pers\xffn");
    const QString gt = dir + "/labels.gt";
    QVERIFY(testsupport::writeFile(gt, text));
    d_->restoreState(QJsonObject{{"prj_path", dir}, {"gt_path", gt}});
    QVERIFY(d_->labeling.classes.empty());

    QString question;
    chooseInFileDialog(dir + "/labels", [&question, answer] {
        answerBox(QMessageBox::StandardButton(answer), &question);
    });
    d_->ui->pushButton_saveGT->click();
    QVERIFY2(question.startsWith("labels.gt could not be read when it was loaded:\n" + gt +
                                 " is not JSON: invalid UTF8 string at offset "),
             qPrintable(question));
    QVERIFY2(question.endsWith("Do you want to replace it?"), qPrintable(question));
    QCOMPARE(testsupport::readFile(gt) != text, replaced);
    // Once replaced, the file holds what the window shows: no notice is left.
    QCOMPARE(shownTexts(d_.get()).contains("Cannot read ground truth"), !replaced);
}

void Project::saveGroundTruthNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("train") << "train" << "train.gt";
    QTest::newRow("x.gt") << "x.gt" << "x.gt";
    QTest::newRow("gt") << "gt" << "gt.gt";
    QTest::newRow("a.GT") << "a.GT" << "a.GT.gt";
}

void Project::saveGroundTruthNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    const QString dir = makeFolder("save_" + typed, {"a.png", "b.png"});
    d_->loadPrjoject(dir);
    d_->labeling.add_class("car");
    d_->labeling.frames["b.png"].push_back(makeObject("car", 0, cv::Rect(1, 2, 3, 4)));

    chooseInFileDialog(dir + "/" + typed);
    d_->ui->pushButton_saveGT->click();
    const QString path = dir + "/" + written;
    QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    QCOMPARE(d_->gt_path, path);
    const QJsonArray a = QJsonDocument::fromJson(testsupport::readFile(path)).array();
    QCOMPARE(a.size(), 2);
    QCOMPARE(a[1].toObject()["obj_array"].toArray().size(), 1);
}

void Project::saveGroundTruthAsksBeforeReplacing_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("No") << int(QMessageBox::No) << false;
    QTest::newRow("Yes") << int(QMessageBox::Yes) << true;
}

void Project::saveGroundTruthAsksBeforeReplacing()
{
    QFETCH(int, answer);
    QFETCH(bool, replaced);
    const QString dir = makeFolder(QString("replace_%1").arg(answer), {"a.png"});
    d_->loadPrjoject(dir);
    const QString target = dir + "/train.gt";
    QVERIFY(testsupport::writeFile(target, "old content\n"));
    d_->gt_path = "/before.gt";

    QString text;
    chooseInFileDialog(dir + "/train", [&text, answer] { answerBox(QMessageBox::StandardButton(answer), &text); });
    d_->ui->pushButton_saveGT->click();
    QCOMPARE(text, QString("train.gt already exists.\nDo you want to replace it?"));
    QCOMPARE(testsupport::readFile(target) != QByteArray("old content\n"), replaced);
    QCOMPARE(d_->gt_path, replaced ? target : QString("/before.gt"));
}

void Project::saveGroundTruthFailure()
{
    const QString dir = makeFolder("savefail", {"a.png"});
    d_->loadPrjoject(dir);
    // "sub.gt" is a folder: the save cannot write it.
    QVERIFY(QDir().mkpath(dir + "/sub.gt"));
    d_->gt_path = "/before.gt";
    QString question, failure;
    chooseInFileDialog(dir + "/sub", [&question, &failure] {
        onNext<QMessageBox>([&question, &failure](QMessageBox* box) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
            answerBox(QMessageBox::Ok, &failure); // the failure follows the question
        });
    });
    d_->ui->pushButton_saveGT->click();
    QCOMPARE(question, QString("sub.gt already exists.\nDo you want to replace it?"));
    // The system's reason follows the name.
    QCOMPARE(failure, "Failed to save ground truth: " + dir + "/sub.gt\n" + qt_error_string(EISDIR));
    QCOMPARE(d_->gt_path, QString("/before.gt"));
}

void Project::close()
{
    d_->show();
    QVERIFY(d_->isVisible());
    d_->ui->pushButton_close->click();
    QVERIFY(d_->isHidden());
}

QTEST_MAIN(Project)
#include "test_project.moc"
