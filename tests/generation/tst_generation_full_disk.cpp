// Generation on a full disk (a file-size limit, which also works as root):
// every file that cannot be written whole is named on stderr, keeps what it
// held before, and never stays behind empty or cut short.
#include "network_description.h"
#include "resources.h"
#include "training_folder_writer.h"

#include "test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TstGenerationFullDisk : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { nomu_pelto_varnex_init_resources(); }
    void descriptionKeepsPreviousFiles();
    void trainingFolderNamesWhatItCannotWrite();
    void segmentExportListsOnlyWholeImages();
};

// "train.cfg" and "test.cfg" are a few KB, far below the 16 KB that Qt's
// buffer held back: their failed write was taken for written and left them
// cut at the limit. "version" fits and is written.
void TstGenerationFullDisk::descriptionKeepsPreviousFiles()
{
    QTemporaryDir dir;
    const QString data = dir.path();
    QVERIFY(write_network_description("V4-tiny", 3, 16, 2, data));
    const QByteArray train = testsupport::readFile(data + "/train.cfg");
    const QByteArray test = testsupport::readFile(data + "/test.cfg");
    QVERIFY(train.size() > 1000 && test.size() > 1000);

    testsupport::StderrCapture err;
    bool ok = true;
    {
        testsupport::FileSizeLimit limit(1000);
        QVERIFY(limit.isActive());
        ok = write_network_description("V4-tiny", 5, 16, 2, data);
    }
    const QString said = err.take();
    QVERIFY(!ok);
    QVERIFY2(said.contains("cannot write " + data + "/train.cfg"), qPrintable(said));
    QVERIFY2(said.contains("cannot write " + data + "/test.cfg"), qPrintable(said));
    QCOMPARE(testsupport::readFile(data + "/train.cfg"), train);
    QCOMPARE(testsupport::readFile(data + "/test.cfg"), test);
    QCOMPARE(testsupport::readFile(data + "/version"), QByteArray("V4-tiny : 5 class"));
    QCOMPARE(QDir(data).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

// A pair whose JPEG cannot be written is neither listed nor left behind; a
// list or description that cannot be written is named and not left empty,
// while those that fit are written. (The limit leaves room for the captured
// stderr, which is a file too.)
void TstGenerationFullDisk::trainingFolderNamesWhatItCannotWrite()
{
    QTemporaryDir train;
    std::vector<QString> classes;
    for (int i = 0; i < 100; ++i)
        classes.push_back(QString("class number %1 of the run").arg(i));
    TrainingFolderWriter writer(train.path(), classes);
    QVERIFY(writer.prepare());
    Object o;
    o.label = classes[0];
    o.bbox = cv::Rect(10, 10, 20, 20);
    o.center = cv::Point(20, 20);

    testsupport::StderrCapture err;
    {
        testsupport::FileSizeLimit limit(2000);
        QVERIFY(limit.isActive());
        QVERIFY(!writer.write_pair(cv::Mat(100, 100, CV_8UC3, cv::Scalar(1, 2, 3)), {o}));
        writer.finish();
    }
    const QString said = err.take();
    QCOMPARE(writer.pairs_not_written(), 1);
    QVERIFY2(said.contains(QRegularExpression("cannot write " + QRegularExpression::escape(writer.img_dir()) +
                                              "/\\{[-0-9a-f]{36}\\}\\.jpg: ")),
             qPrintable(said));
    QCOMPARE(QDir(writer.img_dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());

    // 101 class ids of 33 bytes and 100 names of about 30: beyond the limit.
    const QString data = writer.data_dir();
    for (const QString& name : QStringList{"classif_train.names", "obj.names"}) {
        QVERIFY2(said.contains("cannot write " + data + "/" + name + ": "), qPrintable(said));
        QVERIFY(!QFileInfo::exists(data + "/" + name));
    }
    QVERIFY(testsupport::readFile(data + "/obj.data").startsWith("classes = 100\n"));
    QCOMPARE(testsupport::readFile(data + "/classes.data"), QByteArray("100"));
    QCOMPARE(QFileInfo(data + "/train.txt").size(), 0);
}

// The segmentation images of a flat picture are small PNGs: cut short, they
// used to be taken for written and listed in "seg_train.txt".
void TstGenerationFullDisk::segmentExportListsOnlyWholeImages()
{
    QTemporaryDir train;
    TrainingFolderWriter writer(train.path(), {"a"});
    QVERIFY(writer.prepare());
    Object o;
    o.label = "a";
    o.bbox = cv::Rect(10, 10, 20, 20);
    o.center = cv::Point(20, 20);
    {
        testsupport::FileSizeLimit limit(100);
        QVERIFY(limit.isActive());
        writer.write_pair(cv::Mat(100, 100, CV_8UC3, cv::Scalar(1, 2, 3)), {o}, true, 64);
    }
    writer.finish();
    QCOMPARE(testsupport::readFile(writer.data_dir() + "/seg_train.txt"), QByteArray());
    QCOMPARE(testsupport::readFile(writer.data_dir() + "/classif_train.txt"), QByteArray());
    QCOMPARE(QDir(writer.img_dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_GUILESS_MAIN(TstGenerationFullDisk)
#include "tst_generation_full_disk.moc"
