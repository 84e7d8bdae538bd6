// Filling the network descriptions of a training folder: the filter rule, the
// placeholders, the protected form, "version", the files written for every
// model-box entry, the refusals, and the model box's batch rule.
#include "network_description.h"
#include "resources.h"
#include "simplecrypt.h"

#include "cfg_sections.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

QString readText(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

QString resourceText(const QString& model, bool train)
{
    return readText(yolo_template_path(model, train));
}

// Checks classes and filters of every detection layer and of the convolution
// before it.
void checkDetectionLayers(const QString& text, const QString& classes, const QString& filters)
{
    const QVector<CfgSection> s = parseCfgSections(text);
    int detections = 0;
    for (int i = 1; i < s.size(); ++i) {
        if (!isDetectionSection(s[i]))
            continue;
        ++detections;
        QCOMPARE(s[i].value("classes"), classes);
        QCOMPARE(s[i - 1].name, QString("convolutional"));
        QCOMPARE(s[i - 1].value("filters"), filters);
    }
    QVERIFY(detections > 0);
}

const QStringList kBoxEntries = {
    "V4", "V4-tiny", "V4-tiny-64", "V4-tiny-128", "V4-tiny-256", "Fastest-1.1-XL-320",
    "Fastest-1.1-320", "V7", "V7-tiny", "NomuedDet2-128", "NomuedDet2-256", "KVTRDet-128", "KVTRDet-256"};

} // namespace

class TstNetworkDescription : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { nomu_pelto_varnex_init_resources(); }

    void filterRule_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("classes");
        QTest::addColumn<int>("filters"); // -1: no value

        QTest::newRow("V2") << "V2" << 3 << 40;
        QTest::newRow("V2-tiny") << "V2-tiny" << 3 << 40;
        QTest::newRow("V2 one class") << "V2" << 1 << 30;
        QTest::newRow("V3") << "V3" << 80 << 255;
        QTest::newRow("V4") << "V4" << 3 << 24;
        QTest::newRow("V4-tiny -1 classes") << "V4-tiny" << -1 << 12;
        QTest::newRow("V7-tiny-64") << "V7-tiny-64" << 3 << 24;
        QTest::newRow("NomuedDet-52") << "NomuedDet-52" << 3 << 24;
        // "NomuedDet2" holds "NomuedDet" and no "V2": [yolo] rule.
        QTest::newRow("NomuedDet2-512") << "NomuedDet2-512" << 3 << 24;
        QTest::newRow("KVTRDet-128") << "KVTRDet-128" << 3 << 24;
        QTest::newRow("Fastest zero classes") << "Fastest-1.1-320" << 0 << 15;
        // A [yolo] word wins over "V2" wherever both stand.
        QTest::newRow("V2 and V4") << "V2V4" << 3 << 24;
        QTest::newRow("unknown family") << "YOLOX" << 3 << -1;
        QTest::newRow("case-sensitive") << "v4-tiny" << 3 << -1;
        QTest::newRow("empty name") << "" << 3 << -1;
    }
    void filterRule()
    {
        QFETCH(QString, model);
        QFETCH(int, classes);
        QFETCH(int, filters);
        const std::optional<int> got = cfg_filter_count(model, classes);
        if (filters < 0) {
            QVERIFY(!got.has_value());
        } else {
            QVERIFY(got.has_value());
            QCOMPARE(*got, filters);
        }
    }

    void placeholders()
    {
        const QString text = "[net]\n# batch=$$batch$$\nbatch=$$batch$$\nsubdivisions=$$subdivisions$$\n"
                             "[convolutional]\nfilters=$$$$\n[yolo]\nclasses=@@@@\n"
                             "[convolutional]\nfilters=$$$$\n[yolo]\nclasses=@@@@\n";
        QCOMPARE(fill_train_template(text, 3, 24, 17, 5),
                 QString("[net]\n# batch=17\nbatch=17\nsubdivisions=5\n"
                         "[convolutional]\nfilters=24\n[yolo]\nclasses=3\n"
                         "[convolutional]\nfilters=24\n[yolo]\nclasses=3\n"));
        QCOMPARE(fill_test_template(text, -1, 12),
                 QString("[net]\n# batch=$$batch$$\nbatch=$$batch$$\nsubdivisions=$$subdivisions$$\n"
                         "[convolutional]\nfilters=12\n[yolo]\nclasses=-1\n"
                         "[convolutional]\nfilters=12\n[yolo]\nclasses=-1\n"));
    }

    void protectedForm_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("head");
        QTest::addColumn<QString>("body");

        QTest::newRow("marker between") << "a\nb\n#**<>\nc\nd\n" << "a\nb\n" << "c\nd\n\n";
        QTest::newRow("no final newline") << "a\n#**<>\nc" << "a\n" << "c\n";
        QTest::newRow("second marker dropped") << "a\n#**<>\nb\n#**<>\nc\n" << "a\n" << "b\nc\n\n";
        QTest::newRow("marker inside a line") << "a\n  #**<> x\nb" << "a\n" << "b\n";
        QTest::newRow("no marker") << "a\nb" << "a\nb\n" << "";
        QTest::newRow("empty lines kept") << "\n\n#**<>\n\n" << "\n\n" << "\n\n";
        QTest::newRow("marker first") << "#**<>\nx\n#**<>" << "" << "x\n";
    }
    void protectedForm()
    {
        QFETCH(QString, text);
        QFETCH(QString, head);
        QFETCH(QString, body);
        SimpleCrypt crypt(kNomuCryptKey);
        const QString out = protect_cfg_text(text);
        QCOMPARE(out, head + "<-<+>->" + crypt.encryptToString(body));
        QCOMPARE(crypt.decryptToString(out.mid(head.size() + 7)), body);
        QVERIFY(!out.contains("#**<>"));
        QCOMPARE(out.count("<-<+>->"), 1);
        QCOMPARE(reveal_cfg_text(out), head + "\n" + body);
    }

    void revealLeavesPlainText()
    {
        const QString plain = "[net]\nwidth=416\n";
        QCOMPARE(reveal_cfg_text(plain), plain);
    }

    // Every model-box entry with 3 classes: what the three files hold.
    void boxEntries_data()
    {
        QTest::addColumn<QString>("model");
        for (const QString& m : kBoxEntries)
            QTest::newRow(qPrintable(m)) << m;
    }
    void boxEntries()
    {
        QFETCH(QString, model);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString data = dir.path();
        // Longer earlier files: each must be replaced whole.
        const QByteArray junk(200000, 'x');
        for (const char* name : {"train.cfg", "test.cfg", "version"})
            QVERIFY(testsupport::writeFile(data + "/" + name, junk));

        QVERIFY(write_network_description(model, 3, 17, 5, data));

        QCOMPARE(testsupport::readFile(data + "/version"), (model + " : 3 class").toUtf8());
        const QString trainRaw = readText(data + "/train.cfg");
        const QString testRaw = readText(data + "/test.cfg");
        const bool prot = is_protected_model(model);
        QCOMPARE(prot, model.startsWith("NomuedDet2") || model.startsWith("KVTRDet"));

        const QString trainTemplate = resourceText(model, true);
        const QString testTemplate = resourceText(model, false);
        const QString trainFilled = fill_train_template(trainTemplate, 3, 24, 17, 5);
        const QString testFilled = fill_test_template(testTemplate, 3, 24);

        for (const auto& [raw, filled] : {std::pair<QString, QString>{trainRaw, trainFilled},
                                          std::pair<QString, QString>{testRaw, testFilled}}) {
            QVERIFY(!raw.contains("#**<>"));
            if (!prot) {
                QCOMPARE(raw, filled);
                QVERIFY(!raw.contains("<-<+>->"));
                continue;
            }
            // Head: the [net] lines before the first marker, then the
            // separator at the start of a line, then the cipher text and no
            // newline after it.
            QVERIFY(raw.startsWith("[net]\n"));
            QCOMPARE(raw.count("<-<+>->"), 1);
            const int sep = raw.indexOf("<-<+>->");
            QVERIFY(sep > 0 && raw.at(sep - 1) == '\n');
            QVERIFY(!raw.endsWith('\n'));
            const QString cipher = raw.mid(sep + 7);
            QVERIFY(!cipher.contains('\n'));
            const int marker = filled.indexOf("#**<>\n");
            QVERIFY(marker > 0);
            QCOMPARE(raw.left(sep), filled.left(marker));
            QString body = filled.mid(marker + 6);
            body.remove("#**<>\n");
            QCOMPARE(SimpleCrypt(kNomuCryptKey).decryptToString(cipher), body + "\n");
            // The head is the [net] section only; the layers are all in the body.
            const QVector<CfgSection> head = parseCfgSections(raw.left(sep));
            QCOMPARE(head.size(), 1);
            QCOMPARE(head[0].name, QString("net"));
        }

        const QString train = reveal_cfg_text(trainRaw);
        const QString test = reveal_cfg_text(testRaw);
        checkDetectionLayers(train, "3", "24");
        checkDetectionLayers(test, "3", "24");
        const CfgSection trainNet = parseCfgSections(train).value(0);
        const CfgSection testNet = parseCfgSections(test).value(0);
        QCOMPARE(trainNet.name, QString("net"));
        QCOMPARE(trainNet.value("batch"), QString("17"));
        QCOMPARE(trainNet.value("subdivisions"), QString("5"));
        QCOMPARE(testNet.value("batch"), QString("1"));
        QCOMPARE(testNet.value("subdivisions"), QString("1"));
        for (const QString& t : {train, test}) {
            QVERIFY(!t.contains("@@@@"));
            QVERIFY(!t.contains("$$$$"));
        }
        QVERIFY(!train.contains("$$batch$$"));
        QVERIFY(!train.contains("$$subdivisions$$"));
        // The batch placeholders of the test template's comment lines stay.
        const QStringList testLines = test.split('\n');
        QVERIFY(testLines.contains("# batch=$$batch$$"));
        QVERIFY(testLines.contains("# subdivisions=$$subdivisions$$"));
    }

    // The worked example of the issue, byte for byte where it is fixed.
    void v4Tiny64Example()
    {
        QTemporaryDir dir;
        QVERIFY(write_network_description("V4-tiny-64", 3, 64, 8, dir.path()));
        QCOMPARE(testsupport::readFile(dir.path() + "/version"), QByteArray("V4-tiny-64 : 3 class"));
        for (const char* name : {"/train.cfg", "/test.cfg"}) {
            const QStringList lines = readText(dir.path() + name).split('\n');
            QCOMPARE(lines.count("classes=3"), 2);
            QCOMPARE(lines.count("filters=24"), 2);
        }
        const QStringList train = readText(dir.path() + "/train.cfg").split('\n');
        QVERIFY(train.contains("batch=64"));
        QVERIFY(train.contains("subdivisions=8"));
    }

    // The train operation passes -1 classes when "classes.data" is missing.
    void minusOneClasses()
    {
        QTemporaryDir dir;
        QVERIFY(write_network_description("V4-tiny", -1, 64, 8, dir.path()));
        for (const char* name : {"/train.cfg", "/test.cfg"})
            checkDetectionLayers(readText(dir.path() + name), "-1", "12");
        QCOMPARE(testsupport::readFile(dir.path() + "/version"), QByteArray("V4-tiny : -1 class"));
    }

    // A model without templates leaves an earlier description as it was and
    // says so in one line.
    void missingTemplateKeepsFiles_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("no such folder") << "V9";
        QTest::newRow("family word, no folder") << "V4-tiny-32";
        QTest::newRow("empty name") << "";
    }
    void missingTemplateKeepsFiles()
    {
        QFETCH(QString, model);
        QTemporaryDir dir;
        const QString data = dir.path();
        QVERIFY(testsupport::writeFile(data + "/train.cfg", "old train"));
        QVERIFY(testsupport::writeFile(data + "/test.cfg", "old test"));
        QVERIFY(testsupport::writeFile(data + "/version", "old version"));
        testsupport::StderrCapture err;
        QVERIFY(!write_network_description(model, 3, 64, 8, data));
        const QString said = err.take();
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains("template"), qPrintable(said));
        QCOMPARE(testsupport::readFile(data + "/train.cfg"), QByteArray("old train"));
        QCOMPARE(testsupport::readFile(data + "/test.cfg"), QByteArray("old test"));
        QCOMPARE(testsupport::readFile(data + "/version"), QByteArray("old version"));
        QCOMPARE(QDir(data).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).size(), 3);
    }

    void missingDataFolder()
    {
        QTemporaryDir dir;
        const QString data = dir.path() + "/data";
        testsupport::StderrCapture err;
        QVERIFY(!write_network_description("V4-tiny", 3, 64, 8, data));
        QCOMPARE(err.take().count('\n'), 1);
        QVERIFY(!QFileInfo::exists(data));
    }

    void modelBoxRule_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("gpu");
        QTest::addColumn<int>("batch");
        QTest::addColumn<int>("subdivisions");

        const QStringList big = {"V4", "V7"};
        for (const QString& m : kBoxEntries) {
            const bool small = !big.contains(m);
            QTest::newRow(qPrintable(m + " gpu")) << m << true << (small ? 64 : 4) << (small ? 8 : 4);
            QTest::newRow(qPrintable(m + " cpu")) << m << false << 4 << 4;
        }
        // "tiny" anywhere, the other words only at the start.
        QTest::newRow("tiny inside") << "V3-tiny" << true << 64 << 8;
        QTest::newRow("NomuedDet") << "NomuedDet-52" << true << 64 << 8;
        QTest::newRow("KVTRDet-512") << "KVTRDet-512" << true << 64 << 8;
        QTest::newRow("Fastest not at start") << "V3-Fastest" << true << 4 << 4;
        QTest::newRow("KVTRDet not at start") << "xKVTRDet" << true << 4 << 4;
        QTest::newRow("Tiny upper case") << "V4-Tiny" << true << 4 << 4;
        QTest::newRow("V2") << "V2" << true << 4 << 4;
    }
    void modelBoxRule()
    {
        QFETCH(QString, model);
        QFETCH(bool, gpu);
        QFETCH(int, batch);
        QFETCH(int, subdivisions);
        const BatchSettings s = model_batch_settings(model, gpu);
        QCOMPARE(s.batch, batch);
        QCOMPARE(s.subdivisions, subdivisions);
    }
};

QTEST_GUILESS_MAIN(TstNetworkDescription)
#include "tst_network_description.moc"
