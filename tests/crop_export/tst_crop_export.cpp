// The crop export's run without its dialog: crop geometry on a position-encoded
// image, file and folder names, per-class counters, label escaping, failures,
// unique export folders and stopping midway.
#include "crop_export.h"
#include "file_name_escape.h"

#include "crop_fixture.h"
#include "test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <limits>

using namespace cropfixture;

Q_DECLARE_METATYPE(cv::Rect)

namespace {

constexpr qint64 kStamp = 1700000000;

CropOptions scale_options(double sw, double sh)
{
    CropOptions o;
    o.scale = true;
    o.scale_w = sw;
    o.scale_h = sh;
    return o;
}

CropOptions constant_options(int ew, int eh)
{
    CropOptions o;
    o.scale = false;
    o.expand_width = ew;
    o.expand_height = eh;
    return o;
}

} // namespace

class TstCropExport : public QObject {
    Q_OBJECT

    QTemporaryDir images_dir;
    QString image_a, image_b;

    QList<QFileInfo> images_for(Labeling& labeling, const QList<Frame>& frames)
    {
        return cropfixture::images_for(images_dir.path(), labeling, frames);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(images_dir.isValid());
    }

    // Each label inside a file name and as a whole folder name.
    void escape_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("inFile");
        QTest::addColumn<QString>("asFolder");
        auto same = [](const char* name, const QString& label, const QString& escaped) {
            QTest::newRow(name) << label << escaped << escaped;
        };
        // Safe names are used as written.
        same("ordinary", "car", "car");
        same("blank and dots inside", "traffic light.v2", "traffic light.v2");
        same("blank", "a b", "a b");
        same("percent sign", "50%", "50%");
        same("percents that read as no escape", "100%%, %x, %2, %u12, %G0", "100%%, %x, %2, %u12, %G0");
        same("non-ASCII", QString::fromUtf8("é漢"), QString::fromUtf8("é漢"));
        same("emoji (surrogate pair)", QString::fromUtf8("\xF0\x9F\x9A\x97"), QString::fromUtf8("\xF0\x9F\x9A\x97"));
        same("backslash", "x\\y", "x\\y");
        same("shell characters", "sp ace:*?\"<>|", "sp ace:*?\"<>|");
        same("three dots", "...", "...");
        // "." and ".." cannot be a folder name, but are fine inside a file name.
        QTest::newRow("dot") << "." << "." << "%2E";
        QTest::newRow("dot dot") << ".." << ".." << "%2E%2E";
        // What cannot be a name as written.
        same("slash", "a/b", "a%2Fb");
        same("parent path", "../x", "..%2Fx");
        same("deep parent path", "../../../y", "..%2F..%2F..%2Fy");
        same("absolute path", "/etc/passwd", "%2Fetc%2Fpasswd");
        same("tab and newline", "a\tb\nc", "a%09b%0Ac");
        same("NUL", QString("a") + QChar(0) + "b", "a%00b");
        same("DEL", "a\x7f", "a%7F");
        same("C1 control", QString("a") + QChar(0x85), "a%C2%85");
        same("lone surrogate", QString("a") + QChar(0xD800), "a%uD800");
        same("empty", "", "%");
        // A "%" that would read as an escape is escaped itself.
        same("percent alone", "%", "%25");
        same("escape-looking text", "a%2Fb", "a%252Fb");
        same("escape-looking text, lower case", "a%2fb", "a%252fb");
        same("escaped dot text", "%2E", "%252E");
        same("escaped surrogate text", "%uD800", "%25uD800");
        same("percent before an escape", "%/", "%%2F");
    }
    void escape()
    {
        QFETCH(QString, label);
        QTEST(escape_file_name(label), "inFile");
        QTEST(escape_folder_name(label), "asFolder");
    }

    // Labels that differ never share a name, and no name can leave its folder
    // or hold a control character: every label of up to four characters from
    // an alphabet of the troublesome ones, and some longer escape look-alikes.
    void escapeIsInjectiveAndSafe()
    {
        const QList<QChar> alphabet = {'%', '2', 'F', 'u', '/', '.', 'a', '\t', QChar(0xD800)};
        QStringList labels = {"%uD800", "%25uD800", "a%uD800", "%u00AB", "%C2%85", QString("a") + QChar(0x85),
                              "car", "Car"};
        QStringList level = {QString()};
        for (int length = 0; length <= 4; ++length) {
            labels += level;
            QStringList next;
            for (const QString& l : level)
                for (QChar c : alphabet)
                    next << l + c;
            level = next;
        }
        QHash<QString, QString> inFile, asFolder; // name -> label
        for (const QString& l : labels) {
            const QString f = escape_file_name(l);
            const QString d = escape_folder_name(l);
            QVERIFY2(!inFile.contains(f) || inFile[f] == l, qPrintable(f));
            QVERIFY2(!asFolder.contains(d) || asFolder[d] == l, qPrintable(d));
            inFile.insert(f, l);
            asFolder.insert(d, l);
            for (const QString& name : {f, d}) {
                QVERIFY(!name.isEmpty() && !name.contains('/'));
                QVERIFY(std::none_of(name.begin(), name.end(),
                                     [](QChar c) { return c.category() == QChar::Other_Control; }));
                QCOMPARE(QString::fromUtf8(name.toUtf8()), name); // kept whole as a UTF-8 name on disk
            }
            QVERIFY(d != "." && d != "..");
        }
    }

    void geometry_data()
    {
        QTest::addColumn<cv::Rect>("box");
        QTest::addColumn<bool>("scale");
        QTest::addColumn<double>("a"); // scale width or width margin
        QTest::addColumn<double>("b");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<cv::Rect>("crop");
        QTest::newRow("scale 1.5") << cv::Rect(100, 50, 40, 20) << true << 1.5 << 1.5 << true << cv::Rect(90, 45, 60, 30);
        QTest::newRow("constant 10") << cv::Rect(100, 50, 40, 20) << false << 10.0 << 10.0 << true << cv::Rect(95, 45, 50, 30);
        QTest::newRow("scale truncates") << cv::Rect(100, 50, 41, 21) << true << 1.5 << 1.5 << true << cv::Rect(90, 45, 61, 31);
        QTest::newRow("right edge one short") << cv::Rect(600, 0, 40, 40) << true << 1.0 << 1.0 << true << cv::Rect(600, 0, 39, 40);
        QTest::newRow("bottom edge one short") << cv::Rect(0, 440, 10, 40) << true << 1.0 << 1.0 << true << cv::Rect(0, 440, 10, 39);
        QTest::newRow("left top clamp, not re-centred") << cv::Rect(0, 0, 10, 10) << true << 3.0 << 3.0 << true << cv::Rect(0, 0, 30, 30);
        QTest::newRow("whole image") << cv::Rect(0, 0, 640, 480) << true << 1.0 << 1.0 << true << cv::Rect(0, 0, 639, 479);
        QTest::newRow("larger than the image") << cv::Rect(0, 0, 640, 480) << true << 10.0 << 10.0 << true << cv::Rect(0, 0, 639, 479);
        QTest::newRow("centre in the last column") << cv::Rect(639, 0, 2, 2) << true << 1.0 << 1.0 << false << cv::Rect();
        QTest::newRow("right of the image") << cv::Rect(700, 10, 10, 10) << true << 1.0 << 1.0 << false << cv::Rect();
        QTest::newRow("below the image") << cv::Rect(10, 600, 10, 10) << false << 0.0 << 0.0 << false << cv::Rect();
        QTest::newRow("zero width") << cv::Rect(10, 10, 0, 10) << true << 1.0 << 1.0 << false << cv::Rect();
        QTest::newRow("negative width") << cv::Rect(10, 10, -5, 10) << true << 1.0 << 1.0 << false << cv::Rect();
        QTest::newRow("negative height, constant") << cv::Rect(10, 10, 10, -30) << false << 5.0 << 5.0 << false << cv::Rect();
        QTest::newRow("huge box") << cv::Rect(INT_MAX - 10, INT_MAX - 10, INT_MAX, INT_MAX) << true << 1.0 << 1.0
                                  << false << cv::Rect();
        QTest::newRow("huge box scaled over the image") << cv::Rect(INT_MAX - 10, INT_MAX - 10, INT_MAX, INT_MAX) << true
                                                        << 99.99 << 99.99 << true << cv::Rect(0, 0, 639, 479);
        QTest::newRow("huge box from the left") << cv::Rect(-INT_MAX, -INT_MAX, INT_MAX, INT_MAX) << false << 999999.0
                                                << 999999.0 << true << cv::Rect(0, 0, 639, 479);
    }
    // Through the region function and through a real run on the position PNG:
    // the crop's size and the image position of its first pixel.
    void geometry()
    {
        QFETCH(cv::Rect, box);
        QFETCH(bool, scale);
        QFETCH(double, a);
        QFETCH(double, b);
        QFETCH(bool, kept);
        QFETCH(cv::Rect, crop);
        const CropOptions options = scale ? scale_options(a, b) : constant_options(int(a), int(b));

        cv::Rect region(-1, -1, -1, -1);
        QCOMPARE(crop_region(box, 640, 480, options, &region), kept);
        if (kept)
            QCOMPARE(region, crop);

        QTemporaryDir out;
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("car", box.x, box.y, box.width, box.height)}});
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, options);
        QVERIFY(r.completed);
        QCOMPARE(r.failures, 0);
        QCOMPARE(r.written, kept ? 1 : 0);
        QCOMPARE(r.skipped, kept ? 0 : 1);
        const QString file = r.export_dir + "/1700000000_car_0.png";
        QCOMPARE(QFileInfo::exists(file), kept);
        if (!kept) {
            QVERIFY(!QFileInfo::exists(r.export_dir)); // no folder for nothing
            return;
        }
        const cv::Mat m = cv::imread(file.toUtf8().constData(), cv::IMREAD_COLOR);
        QCOMPARE(m.cols, crop.width);
        QCOMPARE(m.rows, crop.height);
        QCOMPARE(origin_of(m), crop.tl());
    }

    // A skipped object does not advance its class's counter.
    void skippedObjectKeepsNumbersDense()
    {
        QTemporaryDir out;
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("car", 10, 10, 20, 20), object("car", 10, 10, 0, 20),
                                                        object("car", 700, 10, 20, 20), object("car", 50, 50, 20, 20)}});
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, scale_options(1, 1));
        QCOMPARE(r.written, 2);
        QCOMPARE(r.skipped, 2);
        QCOMPARE(files_below(r.export_dir), QStringList({"1700000000_car_0.png", "1700000000_car_1.png"}));
        const cv::Mat second = cv::imread((r.export_dir + "/1700000000_car_1.png").toUtf8().constData());
        QCOMPARE(origin_of(second), cv::Point(50, 50));
    }

    void namesAndCounters_data()
    {
        QTest::addColumn<bool>("same_folder");
        QTest::addColumn<bool>("png");
        QTest::newRow("sub-folders, png") << false << true;
        QTest::newRow("sub-folders, jpg") << false << false;
        QTest::newRow("same folder, png") << true << true;
        QTest::newRow("same folder, jpg") << true << false;
    }
    // Two images of car, car, person: car 0..3 and person 0..1, one stamp.
    void namesAndCounters()
    {
        QFETCH(bool, same_folder);
        QFETCH(bool, png);
        QTemporaryDir out;
        Labeling labeling;
        const Frame f{object("car", 10, 10, 20, 20), object("car", 100, 100, 30, 20), object("person", 200, 50, 20, 40)};
        const auto images = images_for(labeling, {f, f});
        CropOptions options = scale_options(1, 1);
        options.same_folder = same_folder;
        options.png = png;
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, options);
        QVERIFY(r.completed);
        QCOMPARE(r.export_dir, out.path() + "/export_crop_1700000000");
        QCOMPARE(r.written, 6);
        QCOMPARE(r.failures, 0);

        const QString ext = png ? ".png" : ".jpg";
        QStringList expected;
        for (int n = 0; n < 4; ++n)
            expected << QString(same_folder ? "" : "car/") + "1700000000_car_" + QString::number(n) + ext;
        for (int n = 0; n < 2; ++n)
            expected << QString(same_folder ? "" : "person/") + "1700000000_person_" + QString::number(n) + ext;
        expected.sort();
        QCOMPARE(files_below(r.export_dir), expected);
        QCOMPARE(tree(out.path()).size(), expected.size() + 1 + (same_folder ? 0 : 2)); // nothing else

        // The encoding follows the format, and crop 2 of car is image 1's first car.
        const QString third = r.export_dir + (same_folder ? "" : "/car") + "/1700000000_car_2" + ext;
        const QByteArray head = testsupport::readFile(third).left(4);
        QVERIFY(png ? head.startsWith("\x89PNG") : head.startsWith("\xFF\xD8"));
        const cv::Mat m = cv::imread(third.toUtf8().constData());
        QCOMPARE(m.size(), cv::Size(20, 20));
        if (png)
            QCOMPARE(origin_of(m), cv::Point(10, 10));
    }

    // Images without objects, or without an entry at all, are not read and no
    // folder appears; the labeling gains no entry.
    void noObjectsWritesNothing()
    {
        QTemporaryDir out;
        Labeling labeling;
        auto images = images_for(labeling, {Frame{}, Frame{}});
        const QString stray = images_dir.filePath("not_labelled.png");
        write_position_png(stray);
        images << QFileInfo(stray);
        const int entries = labeling.frames.size();
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, scale_options(1, 1));
        QVERIFY(r.completed);
        QCOMPARE(r.written, 0);
        QCOMPARE(r.failures, 0);
        QVERIFY(tree(out.path()).isEmpty());
        QCOMPARE(labeling.frames.size(), entries);
        QVERIFY(!labeling.frames.contains("not_labelled.png"));
    }

    void unreadableImageIsSkipped()
    {
        QTemporaryDir out;
        Labeling labeling;
        const Frame f{object("car", 10, 10, 20, 20)};
        auto images = images_for(labeling, {f});
        const QString garbage = images_dir.filePath("garbage.png");
        QVERIFY(testsupport::writeFile(garbage, "not an image at all"));
        images.prepend(QFileInfo(garbage));
        labeling.frames.insert("garbage.png", f);
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, scale_options(1, 1));
        QVERIFY(r.completed);
        QCOMPARE(r.failures, 0);
        QCOMPARE(files_below(r.export_dir), QStringList({"1700000000_car_0.png"}));
    }

    // Read without waiting and without decoding: skipped, with the reason.
    void refusedImageIsSkipped_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("FIFO") << "fifo" << "refused.png is not a regular file";
        QTest::newRow("link to /dev/zero") << "zero" << "refused.png is not a regular file";
        QTest::newRow("over the pixel limit") << "huge" << "16385 x 16384 pixels, more than the limit";
    }

    void refusedImageIsSkipped()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir out, here;
        Labeling labeling;
        const Frame f{object("car", 10, 10, 20, 20)};
        auto images = images_for(labeling, {f});
        const QString refused = here.filePath("refused.png");
        if (kind == "fifo")
            QVERIFY(testsupport::makeFifo(refused));
        else if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", refused));
        else // about 40 KB; decoded, 805 MB
            QVERIFY(testsupport::writeFile(refused, testsupport::blankPng(16385, 16384)));
        images.prepend(QFileInfo(refused));
        labeling.frames.insert("refused.png", f);
        testsupport::StderrCapture err;
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, scale_options(1, 1));
        const QString said = err.take();
        QVERIFY(r.completed);
        QCOMPARE(r.failures, 0);
        QCOMPARE(files_below(r.export_dir), QStringList({"1700000000_car_0.png"}));
        QVERIFY2(said.contains(reason), qPrintable(said));
    }

    void unsafeLabels_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("same_folder");
        QTest::addColumn<QString>("name");   // the label in the file name
        QTest::addColumn<QString>("folder"); // the label as the class folder
        struct Case {
            QString label, name, folder;
        };
        const QList<Case> labels = {
            {"../x", "..%2Fx", "..%2Fx"},
            {"..", "..", "%2E%2E"},
            {".", ".", "%2E"},
            {"", "%", "%"},
            {"a/b", "a%2Fb", "a%2Fb"},
            {"../../../y", "..%2F..%2F..%2Fy", "..%2F..%2F..%2Fy"},
            {"/abs", "%2Fabs", "%2Fabs"},
            {"x\\y", "x\\y", "x\\y"},
            {"50%", "50%", "50%"},
            {QString::fromUtf8("é漢"), QString::fromUtf8("é漢"), QString::fromUtf8("é漢")},
            {"new\nline", "new%0Aline", "new%0Aline"}};
        for (const Case& l : labels) {
            QTest::newRow(qPrintable("sub-folder " + l.folder)) << l.label << false << l.name << l.folder;
            QTest::newRow(qPrintable("same folder " + l.folder)) << l.label << true << l.name << l.folder;
        }
    }
    // Whatever the label, everything the run creates lies in its export folder,
    // under the escaped name.
    void unsafeLabels()
    {
        QFETCH(QString, label);
        QFETCH(bool, same_folder);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QTemporaryDir root;
        const QString chosen = root.filePath("a/b/chosen");
        QVERIFY(QDir().mkpath(chosen));
        const QSet<QString> before = tree(root.path());

        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object(label, 10, 10, 20, 20)}});
        CropOptions options = scale_options(1, 1);
        options.same_folder = same_folder;
        const CropExportResult r = export_crops(chosen, kStamp, images, labeling, options);
        QVERIFY(r.completed);
        QCOMPARE(r.failures, 0);
        QCOMPARE(r.written, 1);

        const QString file = "1700000000_" + name + "_0.png";
        QCOMPARE(files_below(r.export_dir), QStringList({same_folder ? file : folder + "/" + file}));
        const QString prefix = "a/b/chosen/export_crop_1700000000";
        for (const QString& p : tree(root.path()) - before)
            QVERIFY2(p == prefix || p.startsWith(prefix + "/"), qPrintable(p));
    }

    // Labels whose plain text would collide on disk stay apart.
    void collidingLabelsStayApart()
    {
        QTemporaryDir out;
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("a/b", 10, 10, 20, 20), object("a%2Fb", 10, 10, 20, 20),
                                                        object("..", 10, 10, 20, 20), object("%2E%2E", 10, 10, 20, 20),
                                                        object("", 10, 10, 20, 20), object("%", 10, 10, 20, 20)}});
        CropOptions options = scale_options(1, 1);
        options.same_folder = false;
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, options);
        QCOMPARE(r.written, 6);
        QCOMPARE(files_below(r.export_dir),
                 QStringList({"%/1700000000_%_0.png", "%25/1700000000_%25_0.png",
                              "%252E%252E/1700000000_%252E%252E_0.png", "%2E%2E/1700000000_.._0.png",
                              "a%252Fb/1700000000_a%252Fb_0.png", "a%2Fb/1700000000_a%2Fb_0.png"}));
    }

    void longLabel_data()
    {
        QTest::addColumn<bool>("same_folder");
        QTest::newRow("in sub-folders") << false;
        QTest::newRow("in the same folder") << true;
    }
    // A label longer than a file name may be is cut to a bounded name that
    // keeps it apart from every other label: two 300-character labels that
    // differ only in their last character, and a 10 MiB one, are all written.
    void longLabel()
    {
        QFETCH(bool, same_folder);
        QTemporaryDir out;
        Labeling labeling;
        const QString label(300, 'L');
        const QString other = QString(299, 'L') + 'M';
        const QString huge(10 << 20, 'H');
        const auto images = images_for(labeling, {Frame{object("car", 10, 10, 20, 20), object(label, 10, 10, 20, 20),
                                                        object(label, 30, 30, 20, 20), object(other, 10, 10, 20, 20),
                                                        object(huge, 10, 10, 20, 20)}});
        CropOptions options = scale_options(1, 1);
        options.same_folder = same_folder;
        const CropExportResult r = export_crops(out.path(), kStamp, images, labeling, options);
        QVERIFY(r.completed);
        QCOMPARE(r.failures, 0);
        QCOMPARE(r.written, 5);
        const QStringList files = files_below(r.export_dir);
        QCOMPARE(files.size(), 5);
        const QString cut = escape_file_name(label);
        QVERIFY(cut.startsWith(QString(181, 'L') + "%7E"));
        for (const QString& l : {label, other, huge}) {
            const QString name = escape_file_name(l);
            const QString expected = same_folder ? crop_file_name(kStamp, l, 0, true)
                                                 : escape_folder_name(l) + "/" + crop_file_name(kStamp, l, 0, true);
            QVERIFY2(files.contains(expected), qPrintable(expected));
            QCOMPARE(name.toUtf8().size(), kMaxEscapedBytes);
        }
        QVERIFY(files.contains(same_folder ? crop_file_name(kStamp, label, 1, true)
                                           : cut + "/" + crop_file_name(kStamp, label, 1, true)));
    }

    // Long labels of every kind of character get names of at most 255 bytes
    // (with the largest stamp and counter), never shared with another label
    // (cut or not, the look-alikes of the cut mark included), and as safe as
    // the short ones.
    void longLabelNamesAreBoundedAndDistinct()
    {
        const QString cjk = QString::fromUtf8("\xe6\xbc\xa2");
        const QString emoji = QString::fromUtf8("\xf0\x9f\x98\x80");
        QStringList labels;
        for (int length : {180, 181, 199, 200, 201, 250, 300})
            labels << QString(length, 'a') << QString(length - 1, 'a') + 'b';
        labels << cjk.repeated(66) << cjk.repeated(67) << cjk.repeated(100) << cjk.repeated(99) + 'x'
               << emoji.repeated(60) << QString("\t").repeated(80) << QString("/").repeated(80)
               << QString(QChar(0xD800)).repeated(40) << QString("%").repeated(300) << QString(".").repeated(300)
               << QString(181, 'a') + "%7E" + QString(16, '0') << QString(181, 'a') + "~" + QString(16, '0')
               << QString(300, 'a') + "\t" << QString(300, 'a') + "/" << QString(10 << 20, 'z');
        labels << escape_file_name(QString(300, 'a')); // a label that is a cut name
        QHash<QString, QString> inFile, asFolder; // name -> label
        for (const QString& l : labels) {
            const QString f = escape_file_name(l);
            const QString d = escape_folder_name(l);
            QVERIFY2(!inFile.contains(f) || inFile[f] == l, qPrintable(f));
            QVERIFY2(!asFolder.contains(d) || asFolder[d] == l, qPrintable(d));
            inFile.insert(f, l);
            asFolder.insert(d, l);
            QVERIFY(d.toUtf8().size() <= 255);
            QVERIFY(crop_file_name(std::numeric_limits<qint64>::max(), l, INT_MAX, false).toUtf8().size() <= 255);
            for (const QString& name : {f, d}) {
                QVERIFY(!name.isEmpty() && !name.contains('/'));
                QVERIFY(std::none_of(name.begin(), name.end(),
                                     [](QChar c) { return c.category() == QChar::Other_Control; }));
                QCOMPARE(QString::fromUtf8(name.toUtf8()), name);
            }
        }
    }

    // An export folder name already taken (by an earlier run in the same
    // second, or by anything else) gets "_2", "_3", ...; files keep the stamp.
    void secondRunInTheSameSecond()
    {
        QTemporaryDir out;
        QCOMPARE(export_folder_name(out.path(), kStamp), out.path() + "/export_crop_1700000000");
        QCOMPARE(export_folder_name(out.path() + "/", kStamp), out.path() + "/export_crop_1700000000");

        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("car", 10, 10, 20, 20)}});
        const CropExportResult first = export_crops(out.path(), kStamp, images, labeling, scale_options(1, 1));
        const CropExportResult second = export_crops(out.path(), kStamp, images, labeling, scale_options(2, 2));
        QVERIFY(testsupport::writeFile(out.path() + "/export_crop_1700000000_3", "a file in the way"));
        const CropExportResult third = export_crops(out.path(), kStamp, images, labeling, scale_options(1, 1));
        QCOMPARE(first.export_dir, out.path() + "/export_crop_1700000000");
        QCOMPARE(second.export_dir, out.path() + "/export_crop_1700000000_2");
        QCOMPARE(third.export_dir, out.path() + "/export_crop_1700000000_4");
        for (const auto& r : {first, second, third})
            QCOMPARE(files_below(r.export_dir), QStringList({"1700000000_car_0.png"}));
        // The first run's crop was not overwritten by the second's larger one.
        const cv::Mat m = cv::imread((first.export_dir + "/1700000000_car_0.png").toUtf8().constData());
        QCOMPARE(m.size(), cv::Size(20, 20));
    }

    // Stopping before an image keeps what was written and does not complete.
    void stopMidway()
    {
        QTemporaryDir out;
        Labeling labeling;
        const Frame f{object("car", 10, 10, 20, 20)};
        const auto images = images_for(labeling, {f, f, f});
        QList<int> asked;
        const CropExportResult r =
            export_crops(out.path(), kStamp, images, labeling, scale_options(1, 1), [&asked](int i) {
                asked << i;
                return i < 1;
            });
        QVERIFY(!r.completed);
        QCOMPARE(asked, QList<int>({0, 1}));
        QCOMPARE(files_below(r.export_dir), QStringList({"1700000000_car_0.png"}));
    }

    void noChosenFolder()
    {
        Labeling labeling;
        const auto images = images_for(labeling, {Frame{object("car", 10, 10, 20, 20)}});
        const CropExportResult r = export_crops(QString(), kStamp, images, labeling, scale_options(1, 1));
        QVERIFY(!r.completed);
        QCOMPARE(r.written, 0);
    }

};

QTEST_GUILESS_MAIN(TstCropExport)
#include "tst_crop_export.moc"
