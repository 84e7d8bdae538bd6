// The training folder as the writer leaves it: one JPEG and one label text per
// pair, the lists, the descriptions, pairs that cannot be written, the
// segmentation export, and regeneration.
#include "training_folder.h"
#include "training_folder_writer.h"

#include "test_support.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace {

const QString kUuid = "\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}";

Object box(const QString& label, int x, int y, int w, int h, int cx, int cy)
{
    Object o;
    o.label = label;
    o.bbox = cv::Rect(x, y, w, h);
    o.center = cv::Point(cx, cy);
    return o;
}

cv::Mat image(int cols, int rows)
{
    return cv::Mat(rows, cols, CV_8UC3, cv::Scalar(40, 90, 160));
}

QString text(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

QStringList entries(const QString& dir, const QString& filter)
{
    return QDir(dir).entryList({filter}, QDir::Files, QDir::Name);
}

// The base names (UUID texts) named by train.txt, which must all have the form
// "data/img/" + UUID + ".jpg".
QSet<QString> listed_uuids(const QString& data_dir)
{
    QSet<QString> uuids;
    const QRegularExpression line("^data/img/(" + kUuid + ")\\.jpg$");
    const QString list = text(data_dir + "/train.txt");
    for (const QString& l : list.split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line.match(l);
        if (!m.hasMatch())
            return {"bad line: " + l};
        uuids << m.captured(1);
    }
    if (!list.isEmpty() && !list.endsWith('\n'))
        uuids << "no final line feed";
    return uuids;
}

QSet<QString> base_names(const QStringList& files)
{
    QSet<QString> names;
    for (const QString& f : files)
        names << QFileInfo(f).completeBaseName();
    return names;
}

} // namespace

class TstTrainingFolderWriter : public QObject {
    Q_OBJECT

private slots:
    // The label text of one pair: fields normalised by the pair's own W and H
    // (asymmetric boxes in a 1000 x 500 image, so swapped x/y or w/h fail),
    // the ids and divisors of classes 0, 1 and 2, objects of no class left out.
    void labelText()
    {
        const std::vector<QString> classes = {"a", "b", "c"};
        const Frame frame = {box("a", 100, 50, 300, 40, 250, 70), box("stranger", 1, 1, 5, 5, 3, 3),
                             box("b", 550, 60, 100, 80, 600, 100), box("c", 80, 300, 40, 300, 100, 450),
                             box("A", 1, 1, 5, 5, 3, 3)};
        QCOMPARE(label_text(frame, classes, 1000, 500),
                 QString("16 0.0933333 0.166667 0.0533333 0.2 \n"
                         "451 0.111111 0.333333 0.0888889 0.0555556 \n"
                         "579 0.391304 0.0434783 0.26087 0.0173913 \n"));
        // Two classes of the same name: the first index.
        QCOMPARE(label_text({box("b", 0, 0, 10, 10, 5, 5)}, {"a", "b", "b"}, 10, 10).left(4), QString("451 "));
        QCOMPARE(class_index_of({"a", "b", "b"}, "b"), 1);
        QCOMPARE(class_index_of({"a"}, "a "), -1);
        QCOMPARE(label_text(frame, {}, 1000, 500), QString());
    }

    void writesPairsAndLists()
    {
        QTemporaryDir tmp;
        const std::vector<QString> classes = {"a", "b", "c"};
        TrainingFolderWriter w(tmp.path(), classes);
        QVERIFY(w.prepare());
        const Frame objects = {box("a", 100, 50, 300, 40, 250, 70), box("c", 80, 300, 40, 300, 100, 450)};
        QVERIFY(w.write_pair(image(1000, 500), objects));
        QVERIFY(w.write_pair(image(640, 480), Frame()));
        // The black placeholder of an unreadable image: W = 240, H = 320.
        QVERIFY(w.write_pair(cv::Mat::zeros(320, 240, CV_8UC3), {box("b", 90, 20, 60, 20, 120, 100)}));
        w.finish();
        QCOMPARE(w.pairs(), 3);
        QCOMPARE(w.pairs_not_written(), 0);

        const QString data = tmp.filePath("data");
        const QStringList jpgs = entries(data + "/img", "*.jpg");
        const QStringList txts = entries(data + "/img", "*.txt");
        QCOMPARE(jpgs.size(), 3);
        QCOMPARE(txts.size(), 3);
        QCOMPARE(QDir(data + "/img").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 6);
        QCOMPARE(base_names(jpgs), base_names(txts));
        QCOMPARE(listed_uuids(data), base_names(jpgs));
        for (const QString& j : jpgs) {
            QVERIFY2(QRegularExpression("^" + kUuid + "\\.jpg$").match(j).hasMatch(), qPrintable(j));
            const cv::Mat m = cv::imread((data + "/img/" + j).toStdString(), cv::IMREAD_UNCHANGED);
            QCOMPARE(m.cols, 640);
            QCOMPARE(m.rows, 640);
            QCOMPARE(m.type(), CV_8UC3);
        }
        QStringList labels;
        for (const QString& t : txts)
            labels << text(data + "/img/" + t);
        labels.sort();
        QCOMPARE(labels, QStringList({"", "16 0.0933333 0.166667 0.0533333 0.2 \n579 0.391304 0.0434783 0.26087 "
                                          "0.0173913 \n",
                                      "451 0.173611 0.277778 0.0347222 0.138889 \n"}));

        QVERIFY(QFileInfo(data + "/backup").isDir());
        QVERIFY(QDir(data + "/backup").isEmpty());
        QCOMPARE(testsupport::readFile(data + "/obj.names"), QByteArray("a\nb\nc\n"));
        QCOMPARE(testsupport::readFile(data + "/obj.data"),
                 QByteArray("classes = 3\ntrain  = data/train.txt\nvalid  = data/train.txt\n"
                            "names = data/obj.names\nbackup = data/backup/"));
        QCOMPARE(testsupport::readFile(data + "/classes.data"), QByteArray("3"));
        for (const QString& f : QStringList{"seg_train.txt", "classif_train.txt"}) {
            QVERIFY(QFileInfo(data + "/" + f).isFile());
            QCOMPARE(QFileInfo(data + "/" + f).size(), 0);
        }
        const QString names = text(data + "/classif_train.names");
        QVERIFY(QRegularExpression("^([0-9a-f]{32}\n){4}$").match(names).hasMatch());
        QCOMPARE(names, w.class_id_list().join('\n') + "\n");
        QCOMPARE(QSet<QString>(w.class_id_list().begin(), w.class_id_list().end()).size(), 4);
    }

    // No image and no class: empty lists, the descriptions as usual.
    void emptyProjectAndClassList()
    {
        QTemporaryDir tmp;
        TrainingFolderWriter w(tmp.path(), {});
        QVERIFY(w.prepare());
        w.finish();
        const QString data = tmp.filePath("data");
        for (const QString& f : QStringList{"train.txt", "seg_train.txt", "classif_train.txt", "obj.names"}) {
            QVERIFY2(QFileInfo(data + "/" + f).isFile(), qPrintable(f));
            QCOMPARE(QFileInfo(data + "/" + f).size(), 0);
        }
        QVERIFY(testsupport::readFile(data + "/obj.data").startsWith("classes = 0\ntrain  = "));
        QCOMPARE(testsupport::readFile(data + "/classes.data"), QByteArray("0"));
        QVERIFY(QRegularExpression("^[0-9a-f]{32}\n$").match(text(data + "/classif_train.names")).hasMatch());
        QVERIFY(QDir(data + "/img").isEmpty());

        // With an empty class list every label text is empty.
        TrainingFolderWriter w2(tmp.path(), {});
        QVERIFY(w2.prepare());
        QVERIFY(w2.write_pair(image(64, 48), {box("a", 1, 1, 10, 10, 6, 6)}));
        w2.finish();
        const QStringList txts = entries(data + "/img", "*.txt");
        QCOMPARE(txts.size(), 1);
        QCOMPARE(QFileInfo(data + "/img/" + txts[0]).size(), 0);
    }

    // A pair whose image cannot be written is not listed and gets no label
    // text; the others are written as usual.
    void unwrittenPairsAreNotListed()
    {
        QTemporaryDir tmp;
        TrainingFolderWriter w(tmp.path(), {"a"});
        QVERIFY(w.prepare());
        QVERIFY(w.write_pair(image(64, 48), {box("a", 1, 1, 10, 10, 6, 6)}));
        testsupport::StderrCapture err;
        QVERIFY(!w.write_pair(cv::Mat(), Frame())); // nothing to resize
        // The folder of the images replaced by a file: nothing can be written
        // there (also as root).
        const QString img = tmp.filePath("data/img");
        QDir(img).removeRecursively();
        QVERIFY(testsupport::writeFile(img + "_moved/keep", ""));
        QVERIFY(testsupport::writeFile(img, "not a folder"));
        QVERIFY(!w.write_pair(image(64, 48), {box("a", 1, 1, 10, 10, 6, 6)}));
        w.finish();
        QVERIFY(!err.take().isEmpty());
        QCOMPARE(w.pairs(), 3);
        QCOMPARE(w.pairs_not_written(), 2);
        QCOMPARE(listed_uuids(tmp.filePath("data")).size(), 1); // the first pair only
    }

    // A training folder whose "data" cannot be made: nothing can be written.
    void folderThatCannotHoldData()
    {
        QTemporaryDir tmp;
        TrainingFolderWriter missing(tmp.filePath("absent"), {"a"});
        QVERIFY(!missing.prepare());
        QVERIFY(!QFileInfo::exists(tmp.filePath("absent")));
    }

    // Two generations: fresh names and ids, and "data" holds only the last.
    // A symbolic link planted inside "data" goes, its target stays.
    void regenerate()
    {
        QTemporaryDir tmp;
        const QString data = tmp.filePath("train/data");
        QVERIFY(QDir().mkpath(tmp.filePath("train")));
        TrainingFolderWriter first(tmp.filePath("train"), {"a"});
        QVERIFY(first.prepare());
        QVERIFY(first.write_pair(image(64, 48), Frame()));
        first.finish();
        const QSet<QString> first_names = base_names(entries(data + "/img", "*.jpg"));
        QVERIFY(testsupport::writeFile(data + "/img/stale.jpg", "x"));
        QVERIFY(testsupport::writeFile(tmp.filePath("outside/keep.txt"), "keep"));
        QVERIFY(QFile::link(tmp.filePath("outside"), data + "/linked"));
        QVERIFY(QFile::link(tmp.filePath("outside/keep.txt"), data + "/img/linked.jpg"));

        TrainingFolderWriter second(tmp.filePath("train"), {"a"});
        QVERIFY(second.prepare());
        QVERIFY(second.write_pair(image(64, 48), Frame()));
        second.finish();
        const QSet<QString> second_names = base_names(entries(data + "/img", "*"));
        QCOMPARE(second_names.size(), 1);
        QVERIFY(!second_names.intersects(first_names));
        QCOMPARE(listed_uuids(data), second_names);
        QVERIFY(!QFileInfo(data + "/linked").isSymLink());
        QCOMPARE(testsupport::readFile(tmp.filePath("outside/keep.txt")), QByteArray("keep"));
        QVERIFY(first.class_id_list()[0] != second.class_id_list()[0]);
    }

    // With the segmentation export each pair adds one entry to each of its
    // lists, each naming a file that exists.
    void segmentExportLists()
    {
        QTemporaryDir tmp;
        TrainingFolderWriter w(tmp.path(), {"a", "b"});
        QVERIFY(w.prepare());
        QVERIFY(w.write_pair(image(64, 48), {box("b", 1, 1, 10, 10, 6, 6)}, true, 8));
        QVERIFY(w.write_pair(image(64, 48), Frame(), true, 8));
        w.finish();
        const QString data = tmp.filePath("data");
        const QStringList seg = text(data + "/seg_train.txt").split('\n');
        const QStringList classif = text(data + "/classif_train.txt").split('\n');
        QCOMPARE(seg.size(), 3); // two entries and the empty part after the last "\n"
        QCOMPARE(classif.size(), 3);
        QVERIFY(seg.last().isEmpty() && classif.last().isEmpty());
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(seg[i].endsWith("_leftImg8bit.png") && QFileInfo(seg[i]).isFile(), qPrintable(seg[i]));
            QVERIFY2(classif[i].startsWith(data + "/img/") && QFileInfo(classif[i]).isFile(),
                     qPrintable(classif[i]));
        }
        const QStringList ids = w.class_id_list();
        QSet<QString> suffixes;
        for (int i = 0; i < 2; ++i)
            suffixes << QFileInfo(classif[i]).completeBaseName().mid(32);
        QCOMPARE(suffixes, QSet<QString>({"_" + ids[1], "_" + ids[2]})); // class b, and OTHER
        QCOMPARE(listed_uuids(data).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TstTrainingFolderWriter)
#include "tst_training_folder_writer.moc"
