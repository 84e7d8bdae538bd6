// The annotation model and the ground-truth file.
#include "labeling.h"

#include "test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

QString colorText(const cv::Scalar& c)
{
    return QString::number(c[0], 'g', 6) + "," + QString::number(c[1], 'g', 6) + "," + QString::number(c[2], 'g', 6);
}

// True when every channel of c is (P[lo] * (1 - f) + P[lo + 1] * f) * 255 for one f in [0, 1]:
// a blend of two adjacent palette rows.
bool isAdjacentBlend(const cv::Scalar& c)
{
    for (int lo = 0; lo < 5; ++lo) {
        bool ok = true;
        double f = -1;
        for (int ch = 0; ch < 3 && ok; ++ch) {
            const double a = kClassPalette[lo][ch] * 255.0, b = kClassPalette[lo + 1][ch] * 255.0;
            if (c[ch] < -1e-3 || c[ch] > 255.001)
                ok = false;
            else if (std::abs(a - b) < 1e-9)
                ok = std::abs(c[ch] - a) < 1e-3;
            else {
                const double g = (c[ch] - a) / (b - a);
                if (g < -1e-4 || g > 1 + 1e-4 || (f >= 0 && std::abs(f - g) > 1e-3))
                    ok = false;
                f = g;
            }
        }
        if (ok)
            return true;
    }
    return false;
}

QJsonObject record(const QString& label, int index, const QString& bbox = "1,2,3,4")
{
    QJsonObject o;
    o["label"] = label;
    o["label_index"] = index;
    o["bbox"] = bbox;
    o["center"] = "2,4";
    o["color"] = "1,2,3";
    o["landmark"] = "";
    o["landmark_len"] = 0;
    return o;
}

QJsonObject element(const QString& name, const QJsonArray& objs)
{
    QJsonObject e;
    e["filename"] = name;
    e["obj_array"] = objs;
    return e;
}

} // namespace

class TstLabeling : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<Labeling> fresh(const QStringList& names = {"a.png", "b.png", "c.png"})
    {
        auto lb = std::make_unique<Labeling>();
        for (const QString& n : names) {
            lb->frame_names.push_back(n);
            lb->frames.insert(n, Frame());
        }
        return lb;
    }
    QString writeGt(const QString& name, const QByteArray& text)
    {
        const QString p = dir.filePath(name);
        testsupport::writeFile(p, text);
        return p;
    }
    QString writeGt(const QString& name, const QJsonArray& array)
    {
        return writeGt(name, QJsonDocument(array).toJson());
    }

private slots:
    void classColorText_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "255,0,255";
        QTest::newRow("1") << 1 << "0,255,24.7597";
        QTest::newRow("2") << 2 << "49.5195,0,255";
        QTest::newRow("3") << 3 << "180.721,255,0";
        QTest::newRow("4") << 4 << "0,155.961,255";
        QTest::newRow("5") << 5 << "255,123.799,0";
    }
    void classColorText()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        const cv::Scalar c = class_color(index, kClassPalette);
        QCOMPARE(colorText(c), text);
        QCOMPARE(c[3], 0.0);
    }

    // From 17395 on the 32-bit product would overflow and read the palette out of bounds.
    void classColorLargeIndexes_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("17394") << 17394;
        QTest::newRow("17395") << 17395;
        QTest::newRow("99998") << 99998;
    }
    void classColorLargeIndexes()
    {
        QFETCH(int, index);
        QVERIFY(isAdjacentBlend(class_color(index, kClassPalette)));
    }

    void pointPalette()
    {
        // The 20-colour point palette uses the same blend with modulus 20; k = 1 gives t = 4.25.
        const cv::Scalar c = palette_color(1, 20, kClassPalette);
        QCOMPARE(c[0], 255.0);
        QCOMPARE(c[1], 0.75 * 255.0);
        QCOMPARE(c[2], 0.0);
    }

    void objectRoundTrip_data()
    {
        QTest::addColumn<QJsonObject>("in");
        QTest::addColumn<QString>("bbox");
        QTest::addColumn<QString>("center");
        QTest::addColumn<QString>("landmark");
        QTest::addColumn<int>("landmarkLen");
        QTest::addColumn<QString>("color");

        QJsonObject box = record("car", 2, "5,6,7,8");
        box["center"] = "8,10";
        QTest::newRow("box only") << box << "5,6,7,8" << "8,10" << "" << 0 << "1,2,3";

        QJsonObject poly = record("car", 0, "10,20,40,40");
        poly["landmark"] = "10:20,30:40,50:60,";
        poly["landmark_len"] = 3;
        QTest::newRow("polygon of three") << poly << "10,20,40,40" << "2,4" << "10:20,30:40,50:60," << 3 << "1,2,3";

        QJsonObject bad = record("car", 0);
        bad["center"] = "5";
        bad["bbox"] = "1,2";
        bad["landmark"] = "1:2,3:4,";
        bad["landmark_len"] = 5;
        bad["color"] = "a,b";
        QTest::newRow("malformed") << bad << "1,2,0,0" << "5,0" << "1:2,3:4," << 2 << "0,0,0";

        QJsonObject fraction = record("car", 0);
        fraction["color"] = "0,255,24.7597";
        fraction["landmark"] = "7,8:9,";
        fraction["landmark_len"] = 2;
        QTest::newRow("fraction and point without y") << fraction << "1,2,3,4" << "2,4" << "7:0,8:9," << 2 << "0,255,0";
    }
    void objectRoundTrip()
    {
        QFETCH(QJsonObject, in);
        QFETCH(QString, bbox);
        QFETCH(QString, center);
        QFETCH(QString, landmark);
        QFETCH(int, landmarkLen);
        QFETCH(QString, color);
        Object o;
        o.restore(in);
        const QJsonObject out = o.save();
        QCOMPARE(out.keys(), (QStringList{"bbox", "center", "color", "label", "label_index", "landmark", "landmark_len"}));
        QCOMPARE(out["bbox"].toString(), bbox);
        QCOMPARE(out["center"].toString(), center);
        QCOMPARE(out["landmark"].toString(), landmark);
        QCOMPARE(out["landmark_len"].toInt(), landmarkLen);
        QCOMPARE(out["color"].toString(), color);
        QCOMPARE(out["label"].toString(), in["label"].toString());
        QCOMPARE(out["label_index"].toInt(), in["label_index"].toInt());
        // And back again: the saved record restores to the same fields.
        Object again;
        again.restore(out);
        QCOMPARE(again.save(), out);
    }

    void restoreWithoutColorKeepsColor()
    {
        Object o;
        o.color = cv::Scalar(9, 8, 7, 6);
        QJsonObject r = record("x", 0);
        r.remove("color");
        o.restore(r);
        QCOMPARE(o.color, cv::Scalar(9, 8, 7, 6));
        r["color"] = "1,2,3";
        o.restore(r);
        QCOMPARE(o.color, cv::Scalar(1, 2, 3, 6)); // channel 3 keeps its value
    }

    void loadCases_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("classes");
        QTest::addColumn<QList<int>>("counts");      // objects of a.png, b.png, c.png
        QTest::addColumn<QList<int>>("indexesOfA");  // label_index of a.png's objects
        QTest::addColumn<bool>("parsed");

        auto doc = [](const QJsonArray& a) { return QJsonDocument(a).toJson(); };
        QTest::newRow("first-appearance order, label_index kept")
            << doc({element("a.png", {record("car", 7), record("person", 0, "9,9,9,9"), record("car", 3, "5,5,5,5")})})
            << QStringList{"car", "person"} << QList<int>{3, 0, 0} << QList<int>{7, 0, 3} << true;
        QTest::newRow("adjacent duplicates collapse")
            << doc({element("a.png", {record("car", 0), record("car", 0)})}) << QStringList{"car"}
            << QList<int>{1, 0, 0} << QList<int>{0} << true;
        QTest::newRow("separated duplicates stay")
            << doc({element("a.png", {record("car", 0), record("dog", 1), record("car", 0)})})
            << QStringList{"car", "dog"} << QList<int>{3, 0, 0} << QList<int>{0, 1, 0} << true;
        QTest::newRow("empty label dropped")
            << doc({element("a.png", {record("", 0), record("car", 0, "7,7,7,7")})}) << QStringList{"car"}
            << QList<int>{1, 0, 0} << QList<int>{0} << true;
        QTest::newRow("unknown file name skipped")
            << doc({element("zzz.png", {record("dog", 0)}), element("b.png", {record("car", 0)})})
            << QStringList{"car"} << QList<int>{0, 1, 0} << QList<int>{} << true;
        QTest::newRow("repeated file name: last wins, classes stay")
            << doc({element("a.png", {record("dog", 0), record("cat", 1)}), element("a.png", {record("car", 0)})})
            << QStringList{"dog", "cat", "car"} << QList<int>{1, 0, 0} << QList<int>{0} << true;
        QTest::newRow("top-level object") << QByteArray("{\"filename\":\"a.png\"}") << QStringList{}
                                          << QList<int>{0, 0, 0} << QList<int>{} << true;
        QTest::newRow("not JSON") << QByteArray("[{") << QStringList{} << QList<int>{0, 0, 0} << QList<int>{}
                                  << false;
    }
    void loadCases()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, classes);
        QFETCH(QList<int>, counts);
        QFETCH(QList<int>, indexesOfA);
        QFETCH(bool, parsed);
        auto lb = fresh();
        // Stale state that a load must replace.
        lb->classes = {"old"};
        Object stale;
        stale.label = "old";
        lb->frames["c.png"].push_back(stale);

        QCOMPARE(lb->load_gt(writeGt("case.gt", text)), parsed);
        QStringList got;
        for (const QString& c : lb->classes)
            got << c;
        QCOMPARE(got, classes);
        QCOMPARE(lb->frames.size(), 3);
        QList<int> n;
        for (const char* name : {"a.png", "b.png", "c.png"})
            n << int(lb->frames.value(name).size());
        QCOMPARE(n, counts);
        QList<int> idx;
        for (const Object& o : lb->frames.value("a.png"))
            idx << o.label_index;
        QCOMPARE(idx, indexesOfA);
        // Every object carries the colour of its class, whatever the file said.
        for (const Frame& f : lb->frames)
            for (const Object& o : f) {
                const int k = lb->class_index(o.label);
                QVERIFY(k >= 0);
                QCOMPARE(o.color, class_color(k, kClassPalette));
                QCOMPARE(lb->class_colors[k], class_color(k, kClassPalette));
            }
    }

    void loadWithoutFolderDoesNothing()
    {
        auto lb = fresh({});
        lb->classes = {"keep"};
        QVERIFY(!lb->load_gt(writeGt("x.gt", QJsonArray{element("a.png", {record("car", 0)})})));
        QCOMPARE(lb->classes.size(), size_t(1));
        QVERIFY(lb->frames.isEmpty());
    }

    void loadMissingFile()
    {
        auto lb = fresh();
        lb->classes = {"old"};
        QVERIFY(!lb->load_gt(dir.filePath("does-not-exist.gt")));
        QVERIFY(lb->classes.empty());
        QCOMPARE(lb->frames.size(), 3);
    }

    void loadRefusesWhatIsNotARegularFile_data()
    {
        QTest::addColumn<QString>("target"); // what the .gt name links to; empty: a FIFO
        QTest::newRow("FIFO") << QString();
        QTest::newRow("link to /dev/zero") << "/dev/zero";
    }

    void loadRefusesWhatIsNotARegularFile()
    {
        // Loaded like a file that cannot be read, without waiting for a writer.
        QFETCH(QString, target);
        auto lb = fresh();
        lb->classes = {"old"};
        QTemporaryDir here;
        const QString path = here.filePath("special.gt");
        QVERIFY(target.isEmpty() ? testsupport::makeFifo(path) : QFile::link(target, path));
        testsupport::StderrCapture err;
        QVERIFY(!lb->load_gt(path));
        const QString said = err.take();
        QVERIFY2(said.contains(path + " is not a regular file"), qPrintable(said));
        QVERIFY(lb->classes.empty());
        QCOMPARE(lb->frames.size(), 3);
    }

    void saveWritesEveryImage()
    {
        auto lb = fresh();
        Object a, b;
        a.label = "car";
        a.bbox = cv::Rect(1, 2, 3, 4);
        b.label = "person";
        b.landmark = {{10, 20}, {30, 40}, {50, 60}};
        lb->frames["b.png"] = {a, b};
        const QString p = dir.filePath("three.gt");
        QVERIFY(lb->save_gt(p));
        const QJsonArray arr = QJsonDocument::fromJson(testsupport::readFile(p)).array();
        QCOMPARE(arr.size(), 3);
        QCOMPARE(arr[0].toObject()["filename"].toString(), QString("a.png"));
        QCOMPARE(arr[0].toObject()["obj_array"].toArray().size(), 0);
        QCOMPARE(arr[1].toObject()["obj_array"].toArray().size(), 2);
        QCOMPARE(arr[1].toObject()["obj_array"].toArray()[1].toObject()["landmark"].toString(),
                 QString("10:20,30:40,50:60,"));
        QCOMPARE(arr[2].toObject()["filename"].toString(), QString("c.png"));
    }

    void loadSaveLoadSaveIsStable()
    {
        QJsonObject poly = record("person", 7, "10,20,40,40");
        poly["landmark"] = "10:20,30:40,50:60,";
        poly["landmark_len"] = 3;
        poly["color"] = "0,255,24.7597";
        const QString src =
            writeGt("src.gt", QJsonArray{element("a.png", {record("car", 0), poly}), element("c.png", {record("dog", 2)})});
        auto lb = fresh();
        lb->load_gt(src);
        const QString p1 = dir.filePath("s1.gt"), p2 = dir.filePath("s2.gt");
        QVERIFY(lb->save_gt(p1));
        auto lb2 = fresh();
        lb2->load_gt(p1);
        QVERIFY(lb2->save_gt(p2));
        QCOMPARE(testsupport::readFile(p2), testsupport::readFile(p1));
        QVERIFY(testsupport::readFile(p1).contains("\"color\": \"0,255,24.7597\""));
        QVERIFY(testsupport::readFile(p1).contains("\"label_index\": 7"));
    }

    void failedSaveKeepsPreviousFile_data()
    {
        QTest::addColumn<int>("objects");
        // Qt's file classes keep up to 16 KB in their buffer: a text below that
        // whose write failed was taken for saved and left a truncated file.
        QTest::newRow("below 16 KB") << 5;
        QTest::newRow("above 16 KB") << 200;
    }
    void failedSaveKeepsPreviousFile()
    {
        QFETCH(int, objects);
        auto lb = fresh();
        QVERIFY(!lb->save_gt(dir.filePath("no/such/folder/x.gt")));
        QVERIFY(!lb->save_gt(dir.path())); // a folder is not a file
        Object o;
        o.label = "car";
        lb->frames["a.png"] = Frame(size_t(objects), o);
        const QString sizing = dir.filePath("sizing.gt");
        QVERIFY(lb->save_gt(sizing));
        const qint64 size = QFileInfo(sizing).size();
        QVERIFY(objects < 100 ? size < 16384 : size > 16384);

        // A full disk, as root too: no file may grow beyond half the text.
        const QString p = writeGt("keep.gt", "previous");
        bool ok = true;
        {
            testsupport::FileSizeLimit limit(size / 2);
            QVERIFY(limit.isActive());
            ok = lb->save_gt(p);
        }
        QVERIFY(!ok);
        QCOMPARE(testsupport::readFile(p), QByteArray("previous"));
    }

    // A writable file in a folder that takes no new file is saved in place
    // (run as a user without privileges: root writes into any folder).
    void saveInReadOnlyFolder()
    {
        auto lb = fresh();
        QTemporaryDir top;
        QVERIFY(QFile::setPermissions(top.path(), QFile::permissions(top.path()) | QFile::ExeOther));
        const QString folder = top.filePath("ro");
        const QString p = folder + "/keep.gt";
        QVERIFY(testsupport::writeFile(p, QByteArray(4096, ' ') + "previous"));
        QVERIFY(lb->save_gt(dir.filePath("expected.gt")));
        QVERIFY(QFile::setPermissions(p, QFile::permissions(p) | QFile::WriteOther | QFile::ReadOther));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                  QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        const int status = testsupport::runUnprivileged([&] { return lb->save_gt(p); });
        QVERIFY(QFile::setPermissions(folder, QFile::permissions(folder) | QFile::WriteOwner));
        QCOMPARE(status, 0);
        QCOMPARE(testsupport::readFile(p), testsupport::readFile(dir.filePath("expected.gt")));
    }

    // A replaced file keeps its permissions, and a link to it stays a link.
    void saveKeepsPermissionsAndLink()
    {
        auto lb = fresh();
        const QString real = writeGt("real.gt", "previous");
        QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner));
        const QString link = dir.filePath("link.gt");
        QVERIFY(QFile::link(real, link));
        QVERIFY(lb->save_gt(link));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QJsonDocument::fromJson(testsupport::readFile(real)).array().size(), 3);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(real).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0600);
    }

    void classTableFull()
    {
        auto lb = fresh();
        lb->classes.assign(Labeling::kMaxClasses - 1, QString());
        QCOMPARE(lb->add_class("last"), Labeling::kMaxClasses - 1);
        QVERIFY(isAdjacentBlend(lb->class_colors[Labeling::kMaxClasses - 1]));
        QCOMPARE(lb->add_class("beyond"), -1);
        QCOMPARE(int(lb->classes.size()), Labeling::kMaxClasses);
        // A 10 MiB name is said by its start and its length.
        testsupport::StderrCapture err;
        QCOMPARE(lb->add_class(QString(10 << 20, 'x')), -1);
        const QString said = err.take();
        QCOMPARE(said, QString("[Varnex] : class table full (99999 classes), label not added: %1... (10485760 "
                               "characters)\n")
                           .arg(QString(64, 'x')));
    }

    void loadBeyondClassTable()
    {
        // One label more than the colour table holds: the last object is dropped,
        // nothing is written out of bounds.
        QByteArray text = "[{\"filename\":\"a.png\",\"obj_array\":[";
        for (int i = 0; i <= Labeling::kMaxClasses; ++i) {
            if (i)
                text += ',';
            text += "{\"label\":\"c" + QByteArray::number(i) + "\",\"bbox\":\"" + QByteArray::number(i) + ",0,1,1\"}";
        }
        text += "]}]";
        auto lb = fresh();
        QVERIFY(lb->load_gt(writeGt("many.gt", text)));
        QCOMPARE(int(lb->classes.size()), Labeling::kMaxClasses);
        QCOMPARE(int(lb->frames.value("a.png").size()), Labeling::kMaxClasses);
        QCOMPARE(lb->frames.value("a.png").back().label, QString("c%1").arg(Labeling::kMaxClasses - 1));
    }
};

QTEST_GUILESS_MAIN(TstLabeling)
#include "tst_labeling.moc"
