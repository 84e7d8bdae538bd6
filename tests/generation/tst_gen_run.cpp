// The real trainer started with "gen", offscreen, as a controlling program
// runs it: a state file naming a fixture project and "path_gen", and what the
// run leaves in "data", on standard output, on stderr and in the status line.
#include "test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <cerrno>

namespace {

const QString kLog = "/tmp/varnex.log";
const QString kStop = "/tmp/varnex.stop";
const QString kGen = "/tmp/varnex_gen";
const QString kState = "/tmp/varnex.json";

QJsonObject object_json(const QString& label, int x, int y, int w, int h, int cx, int cy)
{
    QJsonObject o;
    o["label"] = label;
    o["label_index"] = 0; // the class comes from the label, never from this field
    o["color"] = "255,0,255";
    o["center"] = QString("%1,%2").arg(cx).arg(cy);
    o["bbox"] = QString("%1,%2,%3,%4").arg(x).arg(y).arg(w).arg(h);
    o["landmark_len"] = 0;
    o["landmark"] = "";
    return o;
}

QString text(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

struct Run {
    int exit_code = -1;
    QString out;
    QString err;
};

} // namespace

class TstGenRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void gen_data();
    void gen();
    void rerunKeepsLinkTargets();
    void refusals_data();
    void refusals();
    void fullDisk();
    void fileSizeLimit();

private:
    // `file_size_limit`: RLIMIT_FSIZE for the program, none when negative.
    Run run(const QJsonObject& state, qint64 file_size_limit = -1);
    QJsonObject fixture_state(const QString& train_dir);

    QTemporaryDir home_;
    QTemporaryDir bin_;
    QTemporaryDir project_;
    QString gt_;
};

void TstGenRun::initTestCase()
{
    QVERIFY(home_.isValid() && bin_.isValid() && project_.isValid());
    QVERIFY(testsupport::writeQuietBoardProbe(bin_.path()));

    // a.jpg 1000 x 500 with one object of each class, b.png 64 x 48 without
    // objects, c.jpg unreadable with one object (read as the black 240 x 320
    // image).
    const QString dir = project_.path();
    QVERIFY(cv::imwrite((dir + "/a.jpg").toStdString(), cv::Mat(500, 1000, CV_8UC3, cv::Scalar(20, 120, 220))));
    QVERIFY(cv::imwrite((dir + "/b.png").toStdString(), cv::Mat(48, 64, CV_8UC3, cv::Scalar(200, 10, 10))));
    QVERIFY(testsupport::writeFile(dir + "/c.jpg", "this is not a JPEG"));
    QVERIFY(testsupport::writeFile(dir + "/notes.txt", "not an image"));
    QJsonArray gt;
    gt << QJsonObject{{"filename", "a.jpg"},
                      {"obj_array", QJsonArray{object_json("a", 100, 50, 300, 40, 250, 70),
                                               object_json("b", 550, 60, 100, 80, 600, 100),
                                               object_json("c", 80, 300, 40, 300, 100, 450)}}};
    gt << QJsonObject{{"filename", "c.jpg"}, {"obj_array", QJsonArray{object_json("b", 90, 20, 60, 20, 120, 100)}}};
    gt_ = home_.filePath("project.gt");
    QVERIFY(testsupport::writeFile(gt_, QJsonDocument(gt).toJson()));
}

QJsonObject TstGenRun::fixture_state(const QString& train_dir)
{
    return QJsonObject{{"prj_path", project_.path()}, {"gt_path", gt_},      {"path_gen", train_dir},
                       {"cmb_model", "V4-tiny"},      {"batch_size", 16},   {"sub_division", 2},
                       {"grb_auto_gen", false}};
}

Run TstGenRun::run(const QJsonObject& state, qint64 file_size_limit)
{
    Run r;
    if (!testsupport::writeFile(kState, QJsonDocument(state).toJson()))
        return r;
    testsupport::FileSizeLimitedProcess p(file_size_limit);
    QProcessEnvironment env = testsupport::programEnvironment(home_.path(), bin_.path());
    env.insert("NOMU_LIB_YOLO_GPU", "0");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home_.path());
    p.start(NOMU_TRAINER_BIN, {"gen"});
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void TstGenRun::gen_data()
{
    QTest::addColumn<QJsonValue>("autoGen"); // null: Auto Gen unchecked
    QTest::addColumn<int>("pairsPerImage");
    QTest::newRow("Auto Gen off") << QJsonValue() << 1;
    // The form's defaults: rotation -180..180 step 90, contrast 0.2..1.2 step
    // 1.0: ten samples per image.
    QJsonObject defaults{{"thickness", 2},       {"fixed_size", false},   {"grb_rotation", true},
                         {"rot_min", -180},      {"rot_max", 180},        {"rot_step", 90},
                         {"grb_contrast", true}, {"contrast_min", 0.2},   {"contrast_max", 1.2},
                         {"contrast_step", 1.0}, {"grb_noise", false},    {"noise_max", 10},
                         {"noise_step", 10},     {"grb_blur", false},     {"blur_max", 9},
                         {"blur_step", 9}};
    QTest::newRow("Auto Gen on, form defaults") << QJsonValue(defaults) << 11;
    // Rotation off (angle 0), contrast 0.5 only: one sample per image.
    QJsonObject one{{"grb_contrast", true}, {"contrast_min", 0.5}, {"contrast_max", 1.0}, {"contrast_step", 1.0}};
    QTest::newRow("Auto Gen on, one sample") << QJsonValue(one) << 2;
}

void TstGenRun::gen()
{
    QFETCH(QJsonValue, autoGen);
    QFETCH(int, pairsPerImage);
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    QTemporaryDir train;
    QJsonObject state = fixture_state(train.path());
    if (autoGen.isObject()) {
        state["grb_auto_gen"] = true;
        state["auto_gen"] = autoGen;
    }
    const Run r = run(state);
    QCOMPARE(r.exit_code, 0);
    QVERIFY2(!r.err.contains("could not be written"), qPrintable(r.err));

    const QString data = train.filePath("data");
    const int pairs = 3 * pairsPerImage;
    const QStringList jpgs = QDir(data + "/img").entryList({"*.jpg"}, QDir::Files);
    const QStringList txts = QDir(data + "/img").entryList({"*.txt"}, QDir::Files);
    QCOMPARE(jpgs.size(), pairs);
    QCOMPARE(txts.size(), pairs);
    QCOMPARE(QDir(data + "/img").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2 * pairs);

    // train.txt names exactly the JPEGs, each once, relative to the training folder.
    QSet<QString> listed;
    const QStringList lines = text(data + "/train.txt").split('\n');
    QCOMPARE(lines.size(), pairs + 1);
    QVERIFY(lines.last().isEmpty());
    for (int i = 0; i < pairs; ++i) {
        QVERIFY2(lines[i].startsWith("data/img/"), qPrintable(lines[i]));
        listed << lines[i].mid(9);
        QVERIFY(QFileInfo(train.filePath(lines[i])).isFile());
    }
    QCOMPARE(listed, QSet<QString>(jpgs.begin(), jpgs.end()));
    for (const QString& j : jpgs) {
        const cv::Mat m = cv::imread((data + "/img/" + j).toStdString());
        QCOMPARE(m.cols, 640);
        QCOMPARE(m.rows, 640);
    }

    // The label texts of the three source images (normalised by the pair's own
    // size: 1000 x 500, and 240 x 320 for the unreadable one).
    QStringList labels;
    for (const QString& t : txts)
        labels << text(data + "/img/" + t);
    const QString a = "16 0.0933333 0.166667 0.0533333 0.2 \n"
                      "451 0.111111 0.333333 0.0888889 0.0555556 \n"
                      "579 0.391304 0.0434783 0.26087 0.0173913 \n";
    const QString c = "451 0.173611 0.277778 0.0347222 0.138889 \n";
    QCOMPARE(labels.count(a), 1);
    QCOMPARE(labels.count(c), 1);
    QCOMPARE(labels.count(QString()), pairsPerImage); // b and its samples
    for (const QString& l : labels)
        QCOMPARE(l.count('\n'), l.isEmpty() ? 0 : (l.startsWith("451") ? 1 : 3));

    QCOMPARE(testsupport::readFile(data + "/obj.names"), QByteArray("a\nb\nc\n"));
    QCOMPARE(testsupport::readFile(data + "/obj.data"),
             QByteArray("classes = 3\ntrain  = data/train.txt\nvalid  = data/train.txt\n"
                        "names = data/obj.names\nbackup = data/backup/"));
    QCOMPARE(testsupport::readFile(data + "/classes.data"), QByteArray("3"));
    QVERIFY(QRegularExpression("^([0-9a-f]{32}\n){4}$").match(text(data + "/classif_train.names")).hasMatch());
    QCOMPARE(QFileInfo(data + "/seg_train.txt").size(), 0);
    QCOMPARE(QFileInfo(data + "/classif_train.txt").size(), 0);
    QVERIFY(QFileInfo(data + "/backup").isDir());
    QCOMPARE(text(data + "/version"), QString("V4-tiny : 3 class"));
    QVERIFY(text(data + "/train.cfg").contains("batch=16"));
    QVERIFY(text(data + "/train.cfg").contains("classes=3"));
    QVERIFY(QFileInfo(data + "/test.cfg").size() > 0);

    // Progress: one line per image, backslashes on standard output; the status
    // line holds the plain JSON of the last.
    const QRegularExpression progress("\\{ \\\\\"gen_progress\\\\\" : (\\d+) \\}");
    QStringList values;
    for (auto it = progress.globalMatch(r.out); it.hasNext();)
        values << it.next().captured(1);
    QCOMPARE(values, QStringList({"33", "66", "100"}));
    QCOMPARE(testsupport::readFile(kLog), QByteArray("{ \"gen_progress\" : 100 }\n"));
}

// A second run over the same training folder: only its own files remain, and a
// symbolic link planted inside "data" goes while its target stays.
void TstGenRun::rerunKeepsLinkTargets()
{
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    QTemporaryDir train;
    QTemporaryDir outside;
    QVERIFY(testsupport::writeFile(outside.filePath("keep/precious.txt"), "precious"));
    QCOMPARE(run(fixture_state(train.path())).exit_code, 0);
    const QString data = train.filePath("data");
    const QStringList first = QDir(data + "/img").entryList({"*.jpg"}, QDir::Files);
    QCOMPARE(first.size(), 3);
    QVERIFY(QFile::link(outside.filePath("keep"), data + "/linked"));
    QVERIFY(QFile::link(outside.filePath("keep"), data + "/img/linked"));

    QCOMPARE(run(fixture_state(train.path())).exit_code, 0);
    const QStringList second = QDir(data + "/img").entryList({"*.jpg"}, QDir::Files);
    QCOMPARE(second.size(), 3);
    for (const QString& name : second)
        QVERIFY(!first.contains(name));
    QVERIFY(!QFileInfo(data + "/linked").isSymLink());
    QVERIFY(!QFileInfo(data + "/img/linked").isSymLink());
    QCOMPARE(testsupport::readFile(outside.filePath("keep/precious.txt")), QByteArray("precious"));
}

// Runs that generate nothing say why on stderr, write nothing and still end
// with status 0.
void TstGenRun::refusals_data()
{
    QTest::addColumn<bool>("withPathGen");
    QTest::addColumn<QString>("said");
    QTest::newRow("no path_gen") << false << "no training folder chosen";
    QTest::newRow("path_gen does not exist") << true << "does not exist: nothing generated";
}

void TstGenRun::refusals()
{
    QFETCH(bool, withPathGen);
    QFETCH(QString, said);
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    QTemporaryDir tmp;
    QJsonObject state = fixture_state(tmp.filePath("absent"));
    if (!withPathGen)
        state.remove("path_gen");
    QVERIFY(testsupport::writeFile(home_.filePath("data/keep.txt"), "keep"));
    const Run r = run(state);
    QCOMPARE(r.exit_code, 0);
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
    QVERIFY(!r.out.contains("gen_progress"));
    QVERIFY(!QFileInfo::exists(kLog));
    QVERIFY(!QFileInfo::exists(tmp.filePath("absent")));
    QCOMPARE(testsupport::readFile(home_.filePath("data/keep.txt")), QByteArray("keep"));
}

// A training folder on a full 2 MB file system: the run still ends with
// status 0, names every file it could not write, and leaves none of them
// behind empty or cut short.
void TstGenRun::fullDisk()
{
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    QTemporaryDir train;
    testsupport::TmpfsMount tmpfs(train.path(), 2 * 1024 * 1024);
    if (!tmpfs.isMounted())
        QSKIP("no tmpfs can be mounted here");
    QVERIFY(!testsupport::fillFileSystem(train.path()).isEmpty());
    const Run r = run(fixture_state(train.path()));
    QCOMPARE(r.exit_code, 0);
    const QString data = train.filePath("data");
    for (const QString& name : QStringList{"train.cfg", "test.cfg", "version", "obj.data", "obj.names", "classes.data"}) {
        QVERIFY2(r.err.contains("cannot write " + data + "/" + name + ": "), qPrintable(name + "\n" + r.err));
        QVERIFY2(!QFileInfo::exists(data + "/" + name), qPrintable(name));
    }
    QVERIFY2(r.err.contains("3 of 3 pairs could not be written"), qPrintable(r.err));
    QCOMPARE(QDir(data + "/img").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// Under a file-size limit, as a shell's "ulimit -f" sets it, the trainer
// reports each file it cannot write, as on a full disk, and is not ended by
// SIGXFSZ. The limit lets the small files through (obj.names, the status
// line) and stops the descriptions and the images.
void TstGenRun::fileSizeLimit()
{
    testsupport::ExchangeFileGuard guard({kLog, kStop, kGen, kState});
    QTemporaryDir train;
    const Run r = run(fixture_state(train.path()), 1000);
    QCOMPARE(r.exit_code, 0);
    const QString data = train.filePath("data");
    for (const QString& name : QStringList{"train.cfg", "test.cfg"}) {
        QVERIFY2(r.err.contains("cannot write " + data + "/" + name + ": " + qt_error_string(EFBIG)),
                 qPrintable(name + "\n" + r.err));
        QVERIFY2(!QFileInfo::exists(data + "/" + name), qPrintable(name));
    }
    QCOMPARE(testsupport::readFile(data + "/obj.names"), QByteArray("a\nb\nc\n"));
    QVERIFY2(r.err.contains("3 of 3 pairs could not be written"), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TstGenRun)
#include "tst_gen_run.moc"
