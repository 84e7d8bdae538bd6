// The segmentation and classification images of one pair: sizes and stacking
// of the masks, box or polygon filling, the class-id naming of the copy, the
// "OTHER" name, no classes at all, and entries only for written files.
#include "segment_export.h"

#include "box_geometry.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace {

Object object(const QString& label, cv::Rect box, std::vector<cv::Point> landmark = {})
{
    Object o;
    o.label = label;
    o.bbox = box;
    o.center = box_centre(box); // boxes here reach the int limits
    o.landmark = std::move(landmark);
    return o;
}

cv::Mat read(const QString& path)
{
    return cv::imread(path.toUtf8().constData(), cv::IMREAD_UNCHANGED);
}

const QRegularExpression kBracedUuid("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$");

} // namespace

class TstSegmentExport : public QObject {
    Q_OBJECT

    std::vector<QString> classes;
    QMap<QString, QString> ids;
    cv::Mat image640;

    // The sid of a segmentation entry, checked for its form.
    QString sid_of(const QString& entry, const QString& dir)
    {
        const QString head = dir + "/";
        const QString tail = "_leftImg8bit.png\n";
        if (!entry.startsWith(head) || !entry.endsWith(tail))
            return QString();
        const QString sid = entry.mid(head.size(), entry.size() - head.size() - tail.size());
        return kBracedUuid.match(sid).hasMatch() ? sid : QString();
    }

    // The ids part of a classification entry ("_id_id..."), checked for its form.
    QString ids_of(const QString& entry, const QString& dir)
    {
        const QRegularExpression re("^" + QRegularExpression::escape(dir) + "/[0-9a-f]{32}((_[0-9a-f]{32})+)\\.jpg$");
        const auto m = re.match(entry);
        return m.hasMatch() ? m.captured(1) : QString();
    }

private slots:
    void initTestCase()
    {
        classes = {"a", "b", "c"};
        for (const QString& c : classes)
            ids.insert(c, bare_uuid());
        ids.insert("OTHER", bare_uuid());
        image640 = cv::Mat(640, 640, CV_8UC3, cv::Scalar(10, 20, 30));
    }

    void bareUuid()
    {
        const QString a = bare_uuid();
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(a).hasMatch());
        QVERIFY(a != bare_uuid());
    }

    // S = 4 and two classes: a 4 x 8 instance-id image and a 4 x 4 image.
    void sizes()
    {
        QTemporaryDir dir;
        const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(1, 2, 3));
        const Frame frame{object("a", {0, 0, 32, 24}), object("b", {32, 24, 32, 24})};
        const SegmentExportEntries e = export_segment_pair(image, image640, frame, {"a", "b"}, ids, dir.path(), 4);
        const QString sid = sid_of(e.segment_entry, dir.path());
        QVERIFY2(!sid.isEmpty(), qPrintable(e.segment_entry));
        const cv::Mat left = read(dir.filePath(sid + "_leftImg8bit.png"));
        QCOMPARE(left.size(), cv::Size(4, 4));
        QCOMPARE(left.type(), CV_8UC3);
        const cv::Mat gt = read(dir.filePath(sid + "_gtFine_instanceIds.png"));
        QCOMPARE(gt.size(), cv::Size(4, 8));
        QCOMPARE(gt.type(), CV_8UC1);
        QCOMPARE(ids_of(e.classif_entry, dir.path()), "_" + ids["a"] + "_" + ids["b"]);
        const cv::Mat copy = read(e.classif_entry);
        QCOMPARE(copy.size(), cv::Size(640, 640));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
    }

    void filling_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("polygon");
        QTest::newRow("no landmark: box") << 0 << false;
        QTest::newRow("one point: box") << 1 << false;
        QTest::newRow("two points: box") << 2 << false;
        QTest::newRow("three points: polygon") << 3 << true;
        QTest::newRow("four points: polygon") << 4 << true;
    }
    // With S equal to the image size the masks are exact. The object is of
    // the second class, so the first block stays empty.
    void filling()
    {
        QFETCH(int, points);
        QFETCH(bool, polygon);
        QTemporaryDir dir;
        // The polygon is the triangle (0,0), (60,0), (0,60) (plus (1,1) for a
        // fourth point); the box lies elsewhere.
        const std::vector<cv::Point> all{{0, 0}, {60, 0}, {0, 60}, {1, 1}};
        const std::vector<cv::Point> landmark(all.begin(), all.begin() + points);
        const cv::Rect box(40, 40, 20, 16);
        const cv::Mat image(64, 64, CV_8UC3, cv::Scalar(0, 0, 0));
        const SegmentExportEntries e = export_segment_pair(image, image640, {object("b", box, landmark)}, {"a", "b"},
                                                           ids, dir.path(), 64);
        const QString sid = sid_of(e.segment_entry, dir.path());
        QVERIFY(!sid.isEmpty());
        const cv::Mat gt = read(dir.filePath(sid + "_gtFine_instanceIds.png"));
        QCOMPARE(gt.size(), cv::Size(64, 128));
        QCOMPARE(cv::countNonZero(gt.rowRange(0, 64)), 0);
        const cv::Mat mask = gt.rowRange(64, 128);
        auto at = [&mask](int x, int y) { return int(mask.at<uchar>(y, x)); };
        if (polygon) {
            QCOMPARE(at(10, 10), 255);
            QCOMPARE(at(5, 50), 255);
            QCOMPARE(at(50, 44), 0); // in the box, outside the triangle
        } else {
            QCOMPARE(cv::countNonZero(mask), box.area());
            QCOMPARE(at(40, 40), 255);
            QCOMPARE(at(59, 55), 255);
            QCOMPARE(at(60, 55), 0);
            QCOMPARE(at(10, 10), 0); // the landmark points do not count
        }
        QCOMPARE(ids_of(e.classif_entry, dir.path()), "_" + ids["b"]);
    }

    // Drawing goes class by class: objects of classes 2, 0, 2 name the copy
    // "_id0_id2_id2"; an object of no class adds nothing.
    void namingFollowsClassOrder()
    {
        QTemporaryDir dir;
        const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(0, 0, 0));
        const Frame frame{object("c", {1, 1, 5, 5}), object("zzz", {1, 1, 5, 5}), object("a", {10, 10, 5, 5}),
                          object("c", {20, 20, 5, 5})};
        const SegmentExportEntries e = export_segment_pair(image, image640, frame, classes, ids, dir.path(), 8);
        QCOMPARE(ids_of(e.classif_entry, dir.path()), "_" + ids["a"] + "_" + ids["c"] + "_" + ids["c"]);
        QVERIFY(QFileInfo::exists(e.classif_entry));
        QCOMPARE(read(dir.filePath(sid_of(e.segment_entry, dir.path()) + "_gtFine_instanceIds.png")).size(),
                 cv::Size(8, 24));
    }

    void noObjectOfAnyClass_data()
    {
        QTest::addColumn<bool>("objects");
        QTest::newRow("no objects") << false;
        QTest::newRow("only labels of no class") << true;
    }
    void noObjectOfAnyClass()
    {
        QFETCH(bool, objects);
        QTemporaryDir dir;
        const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(0, 0, 0));
        Frame frame;
        if (objects)
            frame = {object("A", {1, 1, 20, 20}), object("zzz", {1, 1, 20, 20})};
        const SegmentExportEntries e = export_segment_pair(image, image640, frame, classes, ids, dir.path(), 16);
        const cv::Mat gt = read(dir.filePath(sid_of(e.segment_entry, dir.path()) + "_gtFine_instanceIds.png"));
        QCOMPARE(gt.size(), cv::Size(16, 48));
        QCOMPARE(cv::countNonZero(gt), 0);
        QCOMPARE(ids_of(e.classif_entry, dir.path()), "_" + ids["OTHER"]);
    }

    // No classes: no mask to stack, so no segmentation pair; the copy is
    // still written under the "OTHER" id.
    void emptyClassList()
    {
        QTemporaryDir dir;
        const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(0, 0, 0));
        const SegmentExportEntries e =
            export_segment_pair(image, image640, {object("a", {1, 1, 20, 20})}, {}, ids, dir.path(), 4);
        QVERIFY(e.segment_entry.isEmpty());
        QCOMPARE(ids_of(e.classif_entry, dir.path()), "_" + ids["OTHER"]);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({QFileInfo(e.classif_entry).fileName()}));
    }

    // Seven objects or more make the copy's name longer than a file name may
    // be: the copy is not written and gets no entry; the segmentation pair does.
    void tooLongNameGetsNoEntry()
    {
        QTemporaryDir dir;
        const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(0, 0, 0));
        const Frame frame(8, object("a", {1, 1, 20, 20}));
        const SegmentExportEntries e = export_segment_pair(image, image640, frame, classes, ids, dir.path(), 4);
        QVERIFY(e.classif_entry.isEmpty());
        QVERIFY(!sid_of(e.segment_entry, dir.path()).isEmpty());
        QCOMPARE(QDir(dir.path()).entryList({"*.jpg"}, QDir::Files), QStringList());
    }

    // Nothing can be written: no entries, no crash, and boxes or polygons far
    // outside the image are harmless.
    void failuresGiveNoEntries()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath("no/such/img");
        const cv::Mat image(48, 64, CV_8UC3, cv::Scalar(0, 0, 0));
        const Frame frame{object("a", {INT_MAX - 5, INT_MAX - 5, INT_MAX, INT_MAX}),
                          object("b", {-10, -10, 5, 5}, {{-100000, 5}, {100000, 5}, {5, 100000}})};
        const SegmentExportEntries e = export_segment_pair(image, image640, frame, classes, ids, missing, 4);
        QVERIFY(e.segment_entry.isEmpty());
        QVERIFY(e.classif_entry.isEmpty());
        QVERIFY(!QFileInfo::exists(missing));

        const SegmentExportEntries empty = export_segment_pair(cv::Mat(), cv::Mat(), frame, classes, ids, dir.path(), 4);
        QVERIFY(empty.segment_entry.isEmpty());
        QVERIFY(empty.classif_entry.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TstSegmentExport)
#include "tst_segment_export.moc"
