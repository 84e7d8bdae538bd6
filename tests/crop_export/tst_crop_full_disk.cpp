// Crops on a full disk (a file-size limit, which also works as root): a crop
// that cannot be written whole is a failure and leaves no file. A small PNG
// cut short used to count as written.
#include "crop_export.h"

#include "crop_fixture.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace cropfixture;

class TstCropFullDisk : public QObject {
    Q_OBJECT

private slots:
    void cropCutShortIsAFailure_data();
    void cropCutShortIsAFailure();
};

void TstCropFullDisk::cropCutShortIsAFailure_data()
{
    QTest::addColumn<bool>("png");
    QTest::newRow("PNG") << true;
    QTest::newRow("JPEG") << false;
}

void TstCropFullDisk::cropCutShortIsAFailure()
{
    QFETCH(bool, png);
    QTemporaryDir images, out;
    Labeling labeling;
    const QList<QFileInfo> list =
        images_for(images.path(), labeling, {Frame{object("car", 10, 10, 20, 20), object("car", 100, 90, 30, 30)}});
    CropOptions options;
    options.png = png;
    CropExportResult result;
    {
        testsupport::FileSizeLimit limit(100);
        QVERIFY(limit.isActive());
        result = export_crops(out.path(), 1700000000, list, labeling, options);
    }
    QVERIFY(result.completed);
    QCOMPARE(result.written, 0);
    QCOMPARE(result.failures, 2);
    QVERIFY(result.first_failure.startsWith(result.export_dir + "/"));
    QCOMPARE(files_below(out.path()), QStringList());
}

QTEST_GUILESS_MAIN(TstCropFullDisk)
#include "tst_crop_full_disk.moc"
