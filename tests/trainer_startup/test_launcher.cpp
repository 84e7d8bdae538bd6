// The launcher window in-process: what the state file and the command-line
// words do, and where "show" places the main dialog.

#include "dialog_varnex.h"
#include "input_limits.h"
#include "nomu_pelto_varnex_main_window.h"
#include "test_support.h"
#include "ui_dialog_varnex.h"
#include "ui_nomu_pelto_varnex_main_window.h"

#include <QCursor>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using nomu_pelto_varnex::nomu_pelto_varnex_main_window;

namespace {

const QStringList kExchange = {"/tmp/varnex.log", "/tmp/varnex.stop", "/tmp/varnex_gen", "/tmp/varnex.json"};

// argv as QApplication leaves it: the program name, then the words.
struct Args {
    explicit Args(const QStringList& words)
    {
        store.push_back("nomu_pelto_varnex");
        for (const QString& w : words)
            store.push_back(w.toStdString());
        for (std::string& s : store)
            ptrs.push_back(&s[0]);
        ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(store.size()); }
    char** argv() { return ptrs.data(); }
    std::vector<std::string> store;
    std::vector<char*> ptrs;
};

} // namespace

class Launcher : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void form();
    void words_data();
    void words();
    void stateFileFields_data();
    void stateFileFields();
    void stateFileRefused_data();
    void stateFileRefused();
    void unreadableGroundTruthDoesNotStopGen();
    void showPlacement_data();
    void showPlacement();

private:
    QTemporaryDir home_;
    std::unique_ptr<testsupport::ScopedEnv> homeEnv_;
};

void Launcher::initTestCase()
{
    QVERIFY(home_.isValid());
    homeEnv_.reset(new testsupport::ScopedEnv("HOME", home_.path().toUtf8()));
}

void Launcher::form()
{
    testsupport::ExchangeFileGuard guard(kExchange);
    Args a({});
    nomu_pelto_varnex_main_window w(a.argc(), a.argv());
    QCOMPARE(w.windowTitle(), QString("nomu_pelto_varnex"));
    QCOMPARE(w.size(), QSize(422, 189));
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.ui->lineEdit_gen_dir->text(), QString("/tmp/varnex_gen"));
    QVERIFY(w.ui->lineEdit_img_dir->isReadOnly());
    QCOMPARE(w.ui->pushButton->text(), QString("show"));
    QCOMPARE(w.ui->pushButton->focusPolicy(), Qt::NoFocus);
    QCOMPARE(w.ui->pushButton_2->text(), QString("gen"));
    QCOMPARE(w.ui->pushButton_3->text(), QString("train"));
    QCOMPARE(w.ui->pushButton_4->text(), QString("stop"));
    QVERIFY(!w.close_at_once);
    QVERIFY(w.dialog);
    QVERIFY(!w.dialog->parent());
    delete w.dialog;
}

void Launcher::words_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<bool>("closeAtOnce");
    QTest::addColumn<bool>("exitAfterStop");

    QTest::newRow("none") << QStringList{} << false << false;
    QTest::newRow("gen") << QStringList{"gen"} << true << false;
    QTest::newRow("train") << QStringList{"train"} << false << true;
    // "gen" stops the scan: "train" after it is never looked at.
    QTest::newRow("gen train") << QStringList{"gen", "train"} << true << false;
    QTest::newRow("train gen") << QStringList{"train", "gen"} << true << true;
    QTest::newRow("letter case") << QStringList{"GEN", "Train"} << false << false;
    QTest::newRow("other words") << QStringList{"x", "generate"} << false << false;
}

void Launcher::words()
{
    QFETCH(QStringList, words);
    QFETCH(bool, closeAtOnce);
    QFETCH(bool, exitAfterStop);

    testsupport::ExchangeFileGuard guard(kExchange);
    Args a(words);
    nomu_pelto_varnex_main_window w(a.argc(), a.argv());
    QCOMPARE(w.close_at_once, closeAtOnce);
    QCOMPARE(w.dialog->exit_after_stop, exitAfterStop);
    delete w.dialog;
}

void Launcher::stateFileFields_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("imgDir");
    QTest::addColumn<QString>("genDir");
    QTest::addColumn<bool>("closeAtOnce");
    QTest::addColumn<QString>("model");

    QTest::newRow("paths") << QByteArray(R"({"prj_path":"/nope/img","path_gen":"/nope/gen"})") << QStringList{}
                           << "/nope/img" << "/nope/gen" << false << "V4-tiny";
    // A missing key empties the field (the default text is replaced).
    QTest::newRow("no path_gen") << QByteArray(R"({"cmb_model":"V7"})") << QStringList{"gen"} << "" << "" << true
                                 << "V7";
    QTest::newRow("not a string") << QByteArray(R"({"path_gen":5})") << QStringList{} << "" << "" << false
                                  << "V4-tiny";
    // An array is not applied; the words still are.
    QTest::newRow("array") << QByteArray("[1]") << QStringList{"gen"} << "" << "/tmp/varnex_gen" << true
                           << "V4-tiny";
    // Broken JSON ends the start-up before the words.
    QTest::newRow("broken") << QByteArray("{") << QStringList{"gen"} << "" << "/tmp/varnex_gen" << false
                            << "V4-tiny";
}

void Launcher::stateFileFields()
{
    QFETCH(QByteArray, state);
    QFETCH(QStringList, words);
    QFETCH(QString, imgDir);
    QFETCH(QString, genDir);
    QFETCH(bool, closeAtOnce);
    QFETCH(QString, model);

    testsupport::ExchangeFileGuard guard(kExchange);
    QVERIFY(testsupport::writeFile("/tmp/varnex.json", state));
    Args a(words);
    nomu_pelto_varnex_main_window w(a.argc(), a.argv());
    QCOMPARE(w.ui->lineEdit_img_dir->text(), imgDir);
    QCOMPARE(w.ui->lineEdit_gen_dir->text(), genDir);
    QCOMPARE(w.close_at_once, closeAtOnce);
    QCOMPARE(w.dialog->ui->comboBox_model->currentText(), model);
    delete w.dialog;
}

void Launcher::stateFileRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // a pattern; empty: none expected
    QTest::addColumn<bool>("closeAtOnce"); // "gen" ran
    QTest::addColumn<QString>("model");

    // Not a regular file: read as an unreadable state file, so "gen" runs on
    // the defaults; nothing waits for a writer.
    QTest::newRow("FIFO") << "fifo" << "varnex.json is not a regular file" << true << "V4-tiny";
    QTest::newRow("link to /dev/zero") << "zero" << "varnex.json is not a regular file" << true << "V4-tiny";
    // Beyond the size limit: as broken as one that does not parse.
    QTest::newRow("one byte over the limit") << "over" << "larger than the limit of 1 MiB" << false << "V4-tiny";
    QTest::newRow("exactly the limit") << "limit" << QString() << true << "V7";
}

void Launcher::stateFileRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QFETCH(bool, closeAtOnce);
    QFETCH(QString, model);

    testsupport::ExchangeFileGuard guard(kExchange);
    const QString state = "/tmp/varnex.json";
    if (kind == "fifo") {
        QVERIFY(testsupport::makeFifo(state));
    } else if (kind == "zero") {
        QVERIFY(QFile::link("/dev/zero", state));
    } else {
        // A valid object, padded with blanks to the limit or one beyond.
        QByteArray text = R"({"cmb_model":"V7"})";
        const qint64 size = input_limits::kStateFileBytes + (kind == "over" ? 1 : 0);
        text += QByteArray(static_cast<int>(size - text.size()), ' ');
        QVERIFY(testsupport::writeFile(state, text));
    }
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(message)));
    Args a({"gen"});
    nomu_pelto_varnex_main_window w(a.argc(), a.argv());
    QCOMPARE(w.close_at_once, closeAtOnce);
    QCOMPARE(w.dialog->ui->comboBox_model->currentText(), model);
    delete w.dialog;
}

// The state file names a ground truth with one invalid UTF-8 byte: "gen"
// still generates (the images without labels), and the main dialog names the
// file and the parser's reason where a user opening it looks, with no box
// waiting for an answer.
void Launcher::unreadableGroundTruthDoesNotStopGen()
{
    testsupport::ExchangeFileGuard guard(kExchange);
    QTemporaryDir prj;
    QTemporaryDir train;
    QVERIFY(testsupport::writeFile(prj.filePath("a.png"), testsupport::blankPng(8, 8)));
    QVERIFY(testsupport::writeFile(prj.filePath("b.png"), testsupport::blankPng(8, 8)));
    const QString gt = prj.filePath("labels.gt");
    QVERIFY(testsupport::writeFile(gt, "[{\"filename\":\"a.png\",\"obj_array\":[{\"label\":\"c\xffr\"}]}]"));
    QJsonObject state{{"prj_path", prj.path()}, {"gt_path", gt}, {"path_gen", train.path()}};
    QVERIFY(testsupport::writeFile("/tmp/varnex.json", QJsonDocument(state).toJson()));

    // Boxes earlier tests left open (a "train" without a folder) go first.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget))
            box->done(QMessageBox::Ok);
    QStringList boxes;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&boxes]() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    watch.start(10);
    Args a({"gen"});
    testsupport::StderrCapture err;
    nomu_pelto_varnex_main_window w(a.argc(), a.argv());
    const QString said = err.take();
    watch.stop();
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("|")));
    QVERIFY(w.close_at_once);
    // Generated: both images are in the list.
    QCOMPARE(testsupport::readFile(train.filePath("data/train.txt")).count('\n'), 2);
    const QString reason = gt + " is not JSON: invalid UTF8 string at offset 45";
    QVERIFY2(said.contains(reason), qPrintable(said));

    QStringList shown;
    for (QLabel* label : w.dialog->findChildren<QLabel*>())
        if (label->isVisibleTo(w.dialog))
            shown << label->text();
    QVERIFY2(shown.contains("Cannot read ground truth: " + gt + "\n" + reason), qPrintable(shown.join("|")));
    delete w.dialog;
}

void Launcher::showPlacement_data()
{
    QTest::addColumn<QSize>("dialogSize");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QPoint>("expected");

    const QSize screen = QGuiApplication::screens().first()->size();
    const int sw = screen.width();
    const int sh = screen.height();
    QTest::newRow("inside") << QSize(300, 200) << QPoint(40, 30) << QPoint(40, 30);
    QTest::newRow("near the left and top edges") << QSize(300, 200) << QPoint(0, 0) << QPoint(0, 0);
    QTest::newRow("near the right edge") << QSize(300, 200) << QPoint(sw - 10, 30) << QPoint(sw - 300, 30);
    QTest::newRow("near the bottom edge") << QSize(300, 200) << QPoint(40, sh - 5) << QPoint(40, sh - 200);
    // Larger than the screen: kept at the top-left corner, never above or left of it.
    QTest::newRow("larger than the screen") << QSize(sw + 50, sh + 40) << QPoint(100, 100) << QPoint(0, 0);
}

void Launcher::showPlacement()
{
    QFETCH(QSize, dialogSize);
    QFETCH(QPoint, cursor);
    QFETCH(QPoint, expected);

    testsupport::ExchangeFileGuard guard(kExchange);
    Args a({});
    nomu_pelto_varnex_main_window w(a.argc(), a.argv());
    w.dialog->setMinimumSize(0, 0);
    w.dialog->resize(dialogSize);
    QCOMPARE(w.dialog->size(), dialogSize);
    QCursor::setPos(cursor);
    QCOMPARE(QCursor::pos(), cursor);
    QMetaObject::invokeMethod(&w, "on_pushButton_clicked");
    QVERIFY(w.dialog->isVisible());
    QCOMPARE(w.dialog->pos(), expected);
    QCOMPARE(w.dialog->windowModality(), Qt::WindowModal);
    // Qt adds the title and system-menu hints that a close button needs.
    QVERIFY(w.dialog->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(w.dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    w.dialog->hide();
    delete w.dialog;
}

QTEST_MAIN(Launcher)
#include "test_launcher.moc"
