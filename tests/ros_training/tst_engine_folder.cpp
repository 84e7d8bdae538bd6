// The private folder the engine trains from: decoded labels beside links to
// the trainer's images, its own list and data file; the trainer's files stay
// as they were.

#include "engine_folder.h"
#include "test_support.h"
#include "training_fixture.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TstEngineFolder : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void decodesIntoPrivateFolder();
    void refusesUnusableData_data();
    void refusesUnusableData();
    void neverFollowsALinkedPrivateFolder();
    void cutsBoxesToTheImage();

private:
    // Runs prepareEngineFolder in the training folder (the engine's working folder).
    bool prepare(nomu_ros::EngineFolder& out, QString& error, QStringList& warnings);
    QMap<QString, QByteArray> trainerFiles() const;

    QTemporaryDir* tmp_ = nullptr;
    QString root_;
    QString oldCwd_;
};

void TstEngineFolder::init()
{
    tmp_ = new QTemporaryDir;
    QVERIFY(tmp_->isValid());
    root_ = tmp_->path();
    oldCwd_ = QDir::currentPath();
}

void TstEngineFolder::cleanup()
{
    QDir::setCurrent(oldCwd_);
    delete tmp_;
    tmp_ = nullptr;
}

bool TstEngineFolder::prepare(nomu_ros::EngineFolder& out, QString& error, QStringList& warnings)
{
    QDir::setCurrent(root_);
    std::string err;
    const bool ok = nomu_ros::prepareEngineFolder("data/obj.data", out, err, [&warnings](const std::string& w) {
        warnings << QString::fromStdString(w);
    });
    QDir::setCurrent(oldCwd_);
    error = QString::fromStdString(err);
    return ok;
}

QMap<QString, QByteArray> TstEngineFolder::trainerFiles() const
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root_ + "/data", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains("/nomu_engine/"))
            continue;
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        out[path] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
    }
    return out;
}

void TstEngineFolder::decodesIntoPrivateFolder()
{
    using fixture::Box;
    const QStringList images = fixture::writeTrainingFolder(
        root_,
        {{640, 480, {{0, 160, 360, 64, 240}, {1, 320, 240, 128, 96}}},
         {800, 600, {{1, 400, 300, 100, 50}}},
         {640, 480, {{0, 100, 100, 20, 20}}},
         {640, 480, {{0, 100, 100, 20, 20}}},
         {640, 480, {}}},
        {"circle", "square"}, fixture::nomuedDetCfg(52, 4, 1, 10, 2));
    // Image 1: three bad lines after a good one. Image 2: its JPEG is gone.
    // Image 3: its label text is gone. Image 4: no objects.
    const QString data = root_ + "/data/";
    {
        QFile f(data + QString(images[1]).replace(".jpg", ".txt").mid(5));
        QVERIFY(f.open(QIODevice::Append | QIODevice::Text));
        f.write("17 0.1 0.1 0.1 0.1 \n\n579 0.9 0.1 0.1 0.1 \n451 1e308 0.5 1e308 0.5\n");
    }
    QVERIFY(QFile::remove(data + images[2].mid(5)));
    QVERIFY(QFile::remove(data + QString(images[3]).replace(".jpg", ".txt").mid(5)));
    QVERIFY(QDir(data + "backup").removeRecursively());
    const auto before = trainerFiles();

    nomu_ros::EngineFolder out;
    QString error;
    QStringList warnings;
    QVERIFY2(prepare(out, error, warnings), qPrintable(error));

    QCOMPARE(trainerFiles(), before);
    QCOMPARE(out.images, 3);
    QCOMPARE(out.objects, 3);
    QCOMPARE(out.badLines, 3);
    QCOMPARE(out.outsideBoxes, 0);
    QCOMPARE(out.skippedImages, 2);
    QCOMPARE(QString::fromStdString(out.folder), QString("data/nomu_engine"));
    QVERIFY(QFileInfo(data + "backup").isDir()); // made for the published weights
    // The engine saves into a folder of its own; each save is checked there.
    QCOMPARE(QString::fromStdString(out.engineBackupDir), QString("data/nomu_engine/backup/"));
    QVERIFY(QFileInfo(data + "nomu_engine/backup").isDir());
    QVERIFY(QFileInfo(data + "nomu_engine/check").isDir());

    const QString label1 = QString(images[1]).replace(".jpg", ".txt");
    QVERIFY2(warnings.filter(label1 + " line 2: unknown class id 17").size() == 1, qPrintable(warnings.join('\n')));
    QVERIFY(warnings.filter(label1 + " line 4: class id 579 is class 2, beyond the 2 classes").size() == 1);
    QVERIFY(warnings.filter("image " + images[2] + " is missing").size() == 1);
    QVERIFY(warnings.filter(QString(images[3]).replace(".jpg", ".txt") + " of " + images[3] + " is missing").size() == 1);
    QVERIFY(warnings.filter(label1 + " line 5: cy \"1e308\" is out of range; line skipped").size() == 1);
    QVERIFY(warnings.filter("3 label line(s) refused").size() == 1);

    const QString eng = data + "nomu_engine/";
    QCOMPARE(testsupport::readFile(eng + "obj.data"),
             QByteArray("classes = 2\ntrain  = data/nomu_engine/train.txt\nvalid  = data/nomu_engine/train.txt\n"
                        "names = data/obj.names\nbackup = data/nomu_engine/backup/\n"));
    QCOMPARE(testsupport::readFile(eng + "train.txt"),
             QByteArray("data/nomu_engine/img/1.jpg\ndata/nomu_engine/img/2.jpg\ndata/nomu_engine/img/3.jpg\n"));
    QCOMPARE(testsupport::readFile(eng + "img/1.txt"),
             QByteArray("0 0.250001 0.750000 0.100000 0.499999\n1 0.500000 0.500000 0.200000 0.200000\n"));
    QCOMPARE(testsupport::readFile(eng + "img/2.txt"), QByteArray("1 0.500000 0.500000 0.125000 0.083333\n"));
    QCOMPARE(testsupport::readFile(eng + "img/3.txt"), QByteArray());
    // Each link shows the trainer's image.
    QCOMPARE(testsupport::readFile(eng + "img/1.jpg"), testsupport::readFile(root_ + "/" + images[0]));
    QCOMPARE(testsupport::readFile(eng + "img/3.jpg"), testsupport::readFile(root_ + "/" + images[4]));

    // A second start rebuilds the folder from nothing.
    QVERIFY(testsupport::writeFile(eng + "img/99.txt", "stale"));
    QVERIFY2(prepare(out, error, warnings), qPrintable(error));
    QVERIFY(!QFile::exists(eng + "img/99.txt"));
    QCOMPARE(out.images, 3);
}

void TstEngineFolder::refusesUnusableData_data()
{
    QTest::addColumn<QByteArray>("objData");
    QTest::addColumn<bool>("removeImages");
    QTest::addColumn<QString>("error");

    const QByteArray good = "classes = 1\ntrain  = data/train.txt\nvalid  = data/train.txt\nnames = data/obj.names\n"
                            "backup = data/backup/";
    QTest::newRow("no classes") << QByteArray(good).replace("classes = 1", "classes = 0") << false
                                << "has no class count of 1 or more";
    QTest::newRow("classes -1") << QByteArray(good).replace("classes = 1", "classes = -1") << false
                                << "has no class count";
    QTest::newRow("no train list") << QByteArray(good).replace("train  = data/train.txt\n", "") << false
                                   << "names no training list";
    QTest::newRow("missing train list") << QByteArray(good).replace("data/train.txt\nvalid", "data/none.txt\nvalid")
                                        << false << "cannot read the training list data/none.txt";
    QTest::newRow("no usable image") << good << true << "no usable image in the training list";
}

void TstEngineFolder::refusesUnusableData()
{
    QFETCH(QByteArray, objData);
    QFETCH(bool, removeImages);
    QFETCH(QString, error);
    const QStringList images = fixture::writeTrainingFolder(root_, {{640, 480, {{0, 10, 10, 4, 4}}}}, {"a"},
                                                            fixture::nomuedDetCfg(52, 4, 1, 10, 1));
    QVERIFY(testsupport::writeFile(root_ + "/data/obj.data", objData));
    if (removeImages)
        QVERIFY(QFile::remove(root_ + "/" + images[0]));
    nomu_ros::EngineFolder out;
    QString got;
    QStringList warnings;
    QVERIFY(!prepare(out, got, warnings));
    QVERIFY2(got.contains(error), qPrintable(got));
}

void TstEngineFolder::neverFollowsALinkedPrivateFolder()
{
    fixture::writeTrainingFolder(root_, {{640, 480, {{0, 10, 10, 4, 4}}}}, {"a"}, fixture::nomuedDetCfg(52, 4, 1, 10, 1));
    QTemporaryDir outside;
    QVERIFY(testsupport::writeFile(outside.path() + "/keep.txt", "precious"));
    QVERIFY(QFile::link(outside.path(), root_ + "/data/nomu_engine"));
    nomu_ros::EngineFolder out;
    QString error;
    QStringList warnings;
    QVERIFY2(prepare(out, error, warnings), qPrintable(error));
    QCOMPARE(testsupport::readFile(outside.path() + "/keep.txt"), QByteArray("precious"));
    QVERIFY(!QFileInfo(root_ + "/data/nomu_engine").isSymLink());
    QVERIFY(QFile::exists(root_ + "/data/nomu_engine/img/1.txt"));
}

// The trainer writes every object's own values: the engine gets a box over
// the edge as its part inside the image and no line for a box outside it,
// which is said but not counted as a refused line.
void TstEngineFolder::cutsBoxesToTheImage()
{
    const QStringList images = fixture::writeTrainingFolder(
        root_, {{640, 480, {{0, -30, 125, 100, 50}, {0, 645, 5, 10, 10}, {0, 160, 360, 64, 240}}}}, {"a"},
        fixture::nomuedDetCfg(52, 4, 1, 10, 1));
    nomu_ros::EngineFolder out;
    QString error;
    QStringList warnings;
    QVERIFY2(prepare(out, error, warnings), qPrintable(error));
    QCOMPARE(out.objects, 2);
    QCOMPARE(out.badLines, 0);
    QCOMPARE(out.outsideBoxes, 1);
    QCOMPARE(testsupport::readFile(root_ + "/data/nomu_engine/img/1.txt"),
             QByteArray("0 0.015625 0.260416 0.031250 0.104167\n0 0.250001 0.750000 0.100000 0.499999\n"));
    const QString label = QString(images[0]).replace(".jpg", ".txt");
    // The values in the line (cx 1.00781, ...) are those read back from six digits.
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings[0].startsWith(label + " line 2: the box (cx 1.00781, cy 0.0104167, w 0.01562")
                 && warnings[0].endsWith(") lies outside the image; left out"),
             qPrintable(warnings[0]));
}

QTEST_GUILESS_MAIN(TstEngineFolder)
#include "tst_engine_folder.moc"
