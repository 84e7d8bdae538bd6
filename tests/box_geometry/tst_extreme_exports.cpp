// The extreme ".gt" (every object on one 640 x 480 image) through what reads
// boxes besides the display: the crop export, the segmentation export, the
// label lines of the training folder and the augmented samples behind them.

#include "extreme_boxes.h"

#include "augmentation.h"
#include "crop_export.h"
#include "crop_fixture.h"
#include "label_decoding.h"
#include "segment_export.h"
#include "test_support.h"
#include "training_folder.h"
#include "training_folder_writer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

using namespace extreme_boxes;

Q_DECLARE_METATYPE(cv::Rect)

namespace {

const qint64 kStamp = 1700000000;
const char* const kScene = "scene.png";

// The fixture as the trainer holds it: the ".gt" loaded for one image.
bool loadFixture(Labeling& labeling, const QString& dir)
{
    const QString gt = QDir(dir).filePath("extreme.gt");
    QFile file(gt);
    if (!file.open(QIODevice::WriteOnly) || file.write(gtText({kScene})) < 0)
        return false;
    file.close();
    labeling.frame_names = {kScene};
    labeling.frames.insert(kScene, Frame());
    return labeling.load_gt(gt) && labeling.frames[kScene].size() == size_t(kCount);
}

// The mask of class k in an instance-id image of side `side`.
cv::Mat maskOf(const cv::Mat& instances, int k, int side)
{
    return instances(cv::Rect(0, k * side, side, side));
}

} // namespace

class ExtremeExports : public QObject {
    Q_OBJECT

private slots:
    void cropExport();
    void segmentExport_data();
    void segmentExport();
    void labelLines();
    void augmentedLabelLines_data();
    void augmentedLabelLines();
};

// Only the boxes whose crop region holds pixels are written, each cut where
// the 64-bit arithmetic puts it; the others are skipped, none wraps around.
void ExtremeExports::cropExport()
{
    QTemporaryDir dir;
    Labeling labeling;
    QVERIFY(loadFixture(labeling, dir.path()));
    const QString scene = dir.filePath(kScene);
    QVERIFY(cropfixture::write_position_png(scene));

    CropOptions options;
    const CropExportResult r = export_crops(dir.filePath("out"), kStamp, {QFileInfo(scene)}, labeling, options);
    QVERIFY(r.completed);
    QCOMPARE(r.failures, 0);
    QCOMPARE(r.written, 3);
    QCOMPARE(r.skipped, kCount - 3);

    const QMap<QString, cv::Rect> expected{
        {"normal", cv::Rect(100, 100, 50, 30)},
        // Centre far right, half the width back: x0 = -100, raised to 0,
        // then one column short of the right edge.
        {"wide", cv::Rect(0, 100, 639, 50)},
        {"wedge", cv::Rect(10, 10, 629, 469)},
    };
    QStringList files = QDir(r.export_dir).entryList(QDir::Files);
    QCOMPARE(files.size(), expected.size());
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        const QString file = r.export_dir + "/" + crop_file_name(kStamp, it.key(), 0, true);
        const cv::Mat crop = cv::imread(file.toUtf8().constData(), cv::IMREAD_COLOR);
        QVERIFY2(!crop.empty(), qPrintable(file));
        QCOMPARE(cv::Rect(cropfixture::origin_of(crop), crop.size()), it.value());
    }
}

void ExtremeExports::segmentExport_data()
{
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("firstRow"); // the rows of the mask holding set pixels; -1: none
    QTest::addColumn<int>("lastRow");
    QTest::addColumn<bool>("full"); // those rows set throughout

    QTest::newRow("normal box") << 0 << 100 << 129 << false;
    QTest::newRow("INT_MIN corner and size") << 1 << -1 << -1 << false;
    QTest::newRow("INT_MAX corner and size") << 2 << -1 << -1 << false;
    QTest::newRow("huge width and height from inside") << 3 << 100 << 149 << true;
    QTest::newRow("negative size past INT_MIN") << 4 << -1 << -1 << false;
    QTest::newRow("negative size inside") << 5 << -1 << -1 << false;
    QTest::newRow("huge width, negative height") << 6 << -1 << -1 << false;
    QTest::newRow("polygon around the image") << 7 << 0 << kHeight - 1 << true;
    QTest::newRow("polygon corner inside") << 8 << 10 << kHeight - 1 << false;
    QTest::newRow("polygon far outside") << 9 << -1 << -1 << false;
    QTest::newRow("polygon across the image") << 10 << 0 << kHeight - 1 << false;
}

// Every class mask (the side S = 480 keeps the rows of a 640 x 480 image) is
// what the object covers in the image, and byte for byte the mask of its twin.
void ExtremeExports::segmentExport()
{
    QFETCH(int, record);
    QFETCH(int, firstRow);
    QFETCH(int, lastRow);
    QFETCH(bool, full);

    const std::vector<QString> classes = extreme_boxes::classes();
    QMap<QString, QString> ids{{"OTHER", "other"}};
    for (const QString& c : classes)
        ids[c] = c;
    const cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar(40, 60, 80));
    const cv::Mat image640(640, 640, CV_8UC3, cv::Scalar(40, 60, 80));

    cv::Mat masks[2];
    for (int twin = 0; twin < 2; ++twin) {
        QTemporaryDir dir;
        const SegmentExportEntries e =
            export_segment_pair(image, image640, frame(twin), classes, ids, dir.path(), kHeight);
        QVERIFY(!e.segment_entry.isEmpty());
        const QString gt = e.segment_entry.trimmed().replace("_leftImg8bit.png", "_gtFine_instanceIds.png");
        const cv::Mat instances = cv::imread(gt.toUtf8().constData(), cv::IMREAD_UNCHANGED);
        QCOMPARE(instances.size(), cv::Size(kHeight, kHeight * kCount));
        masks[twin] = maskOf(instances, record, kHeight).clone();
    }
    const cv::Mat& mask = masks[0];
    QCOMPARE(cv::countNonZero(mask != masks[1]), 0);
    for (int row = 0; row < mask.rows; ++row) {
        const int set = cv::countNonZero(mask.row(row));
        const QByteArray where = "row " + QByteArray::number(row);
        if (row < firstRow || row > lastRow)
            QVERIFY2(set == 0, where.constData());
        else if (full)
            QVERIFY2(cv::countNonZero(mask.row(row) == 255) == mask.cols, where.constData());
        else
            QVERIFY2(set > 0 && set < mask.cols, where.constData());
    }
}

namespace {

// The darknet label lines the training executable makes of a label text:
// boxes cut to the image, none for a box outside it. Bad lines are named in
// *bad.
QString darknetText(const QString& text, QString* bad)
{
    QString out;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        const nomu_ros::DecodedLabel d = nomu_ros::decodeLabelLine(line.toStdString(), kCount);
        if (d.kind == nomu_ros::DecodedLabel::Ok)
            out += QString::fromStdString(nomu_ros::darknetLabelLine(d)) + "\n";
        else if (d.kind == nomu_ros::DecodedLabel::Bad)
            *bad += line + ": " + QString::fromStdString(d.error) + "\n";
    }
    return out;
}

} // namespace

// The label text of the pair: every object's own values, the extreme ones
// too, so an object and its twin differ. What darknet gets of them is the
// same: the normal box as ever, the wide box cut to the image, nothing for
// the others (the wedge's centre lies far outside: its line says so).
void ExtremeExports::labelLines()
{
    QTemporaryDir dir;
    const std::vector<QString> classes = extreme_boxes::classes();
    const QString expected[2] = {
        "16 0.159722 0.130208 0.0416667 0.0520833 \n"
        "451 -2.48551e+06 -1.86414e+06 -2.48551e+06 -1.86414e+06 \n"
        "579 1.94518e+06 1.45889e+06 1.94518e+06 1.45889e+06 \n"
        "707 0.144676 0.277778 0.0578704 1.86414e+06 \n"
        "835 -0.271739 -0.203804 -1.94518e+06 -1.45889e+06 \n"
        "963 0.324074 0.325521 -0.0462963 -0.0434028 \n"
        "1091 -1.94518e+06 1.45889e+06 -1.94518e+06 1.45889e+06 \n"
        "1219 2.48551e+06 1.86414e+06 -0.00115741 -0.000868056 \n"
        "1347 1.94518e+06 1.45889e+06 1.94518e+06 1.45889e+06 \n"
        "1475 2.48551e+06 1.86414e+06 0.748843 0.561632 \n"
        "1603 -1.94518e+06 0.217391 -0.000905797 0.434783 \n",
        "16 0.159722 0.130208 0.0416667 0.0520833 \n"
        "451 -115.741 -86.8056 -115.741 -86.8056 \n"
        "579 90.5797 67.9348 90.5797 67.9348 \n"
        "707 0.144676 0.277778 0.0578704 86.8056 \n"
        "835 -0.271739 -0.203804 -90.5797 -67.9348 \n"
        "963 0.324074 0.325521 -0.0462963 -0.0434028 \n"
        "1091 -90.5797 67.9348 -90.5797 67.9348 \n"
        "1219 115.741 86.8056 -0.00115741 -0.000868056 \n"
        "1347 90.5797 67.9348 90.5797 67.9348 \n"
        "1475 115.741 86.8056 0.748843 0.561632 \n"
        "1603 -90.5797 0.217391 -0.000905797 0.434783 \n"};
    QString darknet[2];
    for (int twin = 0; twin < 2; ++twin) {
        TrainingFolderWriter writer(dir.path(), classes);
        QVERIFY(writer.prepare());
        QVERIFY(writer.write_pair(cv::Mat(kHeight, kWidth, CV_8UC3, cv::Scalar(40, 60, 80)), frame(twin)));
        const QStringList texts = QDir(writer.img_dir()).entryList({"*.txt"}, QDir::Files);
        QCOMPARE(texts.size(), 1);
        const QString text = QString::fromUtf8(testsupport::readFile(writer.img_dir() + "/" + texts[0]));
        QCOMPARE(text, expected[twin]);
        QString bad;
        darknet[twin] = darknetText(text, &bad);
        QVERIFY2(bad.isEmpty(), qPrintable(bad));
    }
    QCOMPARE(darknet[0], QString("0 0.195312 0.239583 0.078125 0.062500\n3 0.500000 0.260417 1.000000 0.104167\n"));
    QCOMPARE(darknet[1], darknet[0]);
}

void ExtremeExports::augmentedLabelLines_data()
{
    QTest::addColumn<bool>("fixedSize");
    QTest::newRow("rotated boxes") << false;
    QTest::newRow("fixed size") << true;
}

// Every augmented sample (rotations by 90 degrees, two contrasts): the boxes
// refitted in 64 bits reach darknet as their twins' do (the polygons' twins
// only fill the same, their extents differ), the normal box keeps its line,
// and the training executable's reader takes every line written.
void ExtremeExports::augmentedLabelLines()
{
    QFETCH(bool, fixedSize);

    AugmentSettings settings;
    settings.fixed_size = fixedSize;
    const cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar(40, 60, 80));
    const std::vector<QString> classes = extreme_boxes::classes();

    std::vector<std::pair<Frame, cv::Size>> samples[2];
    for (int twin = 0; twin < 2; ++twin) {
        const int n = for_each_augmented_sample(image, frame(twin), settings, [&](AugmentedSample s) {
            samples[twin].emplace_back(s.second, s.first.size());
            return true;
        });
        QCOMPARE(n, int(augmented_sample_count(settings)));
    }

    for (size_t s = 0; s < samples[0].size(); ++s) {
        const Frame& objects = samples[0][s].first;
        const cv::Size size = samples[0][s].second;
        for (int k = 0; k < kCount; ++k) {
            const QString line = label_line(k, objects[size_t(k)], size.width, size.height) + "\n";
            QString bad;
            const QString darknet = darknetText(line, &bad);
            QVERIFY2(bad.isEmpty(), qPrintable(bad));
            if (k == 0)
                QVERIFY(!darknet.isEmpty());
            if (objects[size_t(k)].landmark.empty())
                QCOMPARE(darknet,
                         darknetText(label_line(k, samples[1][s].first[size_t(k)], size.width, size.height), &bad));
        }
        const QString text = label_text(objects, classes, size.width, size.height);
        QCOMPARE(text.count('\n'), kCount);
    }
}

QTEST_GUILESS_MAIN(ExtremeExports)
#include "tst_extreme_exports.moc"
