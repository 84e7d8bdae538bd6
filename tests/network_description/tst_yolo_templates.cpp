// The 27 embedded template folders: present with both templates, their
// input sizes, section counts, schedules, placeholders and markers; and every
// description filled from them (3 classes, deciphered where protected) loaded
// by OpenCV's darknet importer and run forward.
#include "network_description.h"
#include "resources.h"

#include "cfg_sections.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <memory>

namespace {

struct Folder {
    QString name;
    int input;
    int conv;
    QString detection; // "yolo" or "region"
    int detections;
    int maxpool;       // -1: not fixed
    QString learningRate;
    int burnIn;
    int maxBatches;
    QString steps;
    bool inBox;
    bool isProtected;
    QVector<int> strides; // of the detection layers, in file order
};

QVector<Folder> folders()
{
    const QString s1 = "400000,450000";
    const QString s7 = "1600000,1800000";
    QVector<Folder> f = {
        {"V2", 608, 23, "region", 1, -1, "0.001", 1000, 500200, s1, false, false, {32}},
        {"V2-tiny", 416, 9, "region", 1, -1, "0.001", 1000, 500200, s1, false, false, {32}},
        {"V3", 608, 75, "yolo", 3, -1, "0.001", 1000, 500200, s1, false, false, {32, 16, 8}},
        {"V3-tiny", 416, 13, "yolo", 2, -1, "0.001", 1000, 500200, s1, false, false, {32, 16}},
        {"V4", 608, 110, "yolo", 3, -1, "0.001", 1000, 500500, s1, true, false, {8, 16, 32}},
    };
    for (int size : {416, 64, 128, 256})
        f.push_back({size == 416 ? QString("V4-tiny") : QString("V4-tiny-%1").arg(size), size, 21, "yolo", 2,
                     -1, "0.00261", 1000, 500200, s1, true, false, {32, 16}});
    f.push_back({"V7", 640, 92, "yolo", 3, -1, "0.00261", 1000, 2000200, s7, true, false, {8, 16, 32}});
    for (int size : {416, 64, 128, 256})
        f.push_back({size == 416 ? QString("V7-tiny") : QString("V7-tiny-%1").arg(size), size, 58, "yolo", 3,
                     -1, "0.00261", 1000, 2000200, s7, size == 416, false, {8, 16, 32}});
    for (int size : {52, 104, 208, 416})
        f.push_back({QString("NomuedDet-%1").arg(size), size, 6, "yolo", 1, 2, "0.00261", 1000, 500200, s1,
                     false, false, {4}});
    for (const char* family : {"NomuedDet2", "KVTRDet"})
        for (int size : {128, 256, 512})
            f.push_back({QString("%1-%2").arg(family).arg(size), size, 21, "yolo", 2, -1, "0.00261", 1000,
                         2000200, s7, size != 512, true, {32, 16}});
    f.push_back({"Fastest-1.1-320", 320, 84, "yolo", 2, -1, "0.001", 4000, 500000, s1, true, false, {32, 16}});
    f.push_back({"Fastest-1.1-XL-320", 320, 84, "yolo", 2, -1, "0.001", 4000, 500000, s1, true, false, {32, 16}});
    f.push_back({"Fastest-1.1-XL-640", 640, 84, "yolo", 2, -1, "0.001", 4000, 500000, s1, false, false, {32, 16}});
    return f;
}

Folder folderNamed(const QString& name)
{
    for (const Folder& f : folders())
        if (f.name == name)
            return f;
    return {};
}

QString readText(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

// Everything from the first layer section on.
QString layersPart(const QString& text)
{
    const int net = text.indexOf("[net]");
    const int next = text.indexOf("\n[", net + 1);
    return next < 0 ? QString() : text.mid(next);
}

} // namespace

class TstYoloTemplates : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> weightsDir_;
    QString zeroWeights_;

private slots:
    void initTestCase()
    {
        nomu_pelto_varnex_init_resources();
        // Zero weights for every description: a sparse file larger than the
        // largest model needs (the importer reads only what the layers take).
        weightsDir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(weightsDir_->isValid());
        zeroWeights_ = weightsDir_->path() + "/zero.weights";
        QFile w(zeroWeights_);
        QVERIFY(w.open(QIODevice::WriteOnly));
        QVERIFY(w.resize(qint64(400) * 1024 * 1024));
    }

    // The resource tree holds exactly the 27 folders, each with both templates.
    void folderSet()
    {
        QStringList expected;
        for (const Folder& f : folders())
            expected << f.name;
        QCOMPARE(expected.size(), 27);
        QStringList present = QDir(kYoloCfgResourceRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        expected.sort();
        present.sort();
        QCOMPARE(present, expected);
        int inBox = 0;
        for (const Folder& f : folders()) {
            inBox += f.inBox;
            QCOMPARE(QDir(QString(kYoloCfgResourceRoot) + f.name).entryList(QDir::Files),
                     QStringList({"yolo-test-template.cfg", "yolo-train-template.cfg"}));
        }
        QCOMPARE(inBox, 13);
    }

    void templateFacts_data()
    {
        QTest::addColumn<QString>("folder");
        for (const Folder& f : folders())
            QTest::newRow(qPrintable(f.name)) << f.name;
    }
    void templateFacts()
    {
        QFETCH(QString, folder);
        const Folder f = folderNamed(folder);
        const QString train = readText(yolo_template_path(folder, true));
        const QString test = readText(yolo_template_path(folder, false));
        QVERIFY(!train.isEmpty());
        QVERIFY(!test.isEmpty());
        // The two templates differ only in their [net] head.
        QVERIFY(!layersPart(train).isEmpty());
        QCOMPARE(layersPart(test), layersPart(train));

        for (const bool isTrain : {true, false}) {
            const QString& text = isTrain ? train : test;
            const QVector<CfgSection> s = parseCfgSections(text);
            QVERIFY(!s.isEmpty());
            const CfgSection& net = s[0];
            QCOMPARE(net.name, QString("net"));
            QCOMPARE(countSections(s, "net"), 1);
            QCOMPARE(net.value("width"), QString::number(f.input));
            QCOMPARE(net.value("height"), QString::number(f.input));
            QCOMPARE(net.value("channels"), QString("3"));
            QCOMPARE(net.value("learning_rate"), f.learningRate);
            QCOMPARE(net.value("burn_in"), QString::number(f.burnIn));
            QCOMPARE(net.value("max_batches"), QString::number(f.maxBatches));
            QCOMPARE(net.value("policy"), QString("steps"));
            QCOMPARE(net.value("steps"), f.steps);
            QCOMPARE(net.value("batch"), QString(isTrain ? "$$batch$$" : "1"));
            QCOMPARE(net.value("subdivisions"), QString(isTrain ? "$$subdivisions$$" : "1"));

            QCOMPARE(countSections(s, "convolutional"), f.conv);
            QCOMPARE(countSections(s, f.detection), f.detections);
            QCOMPARE(countSections(s, f.detection == "yolo" ? "region" : "yolo"), 0);
            if (f.maxpool >= 0)
                QCOMPARE(countSections(s, "maxpool"), f.maxpool);

            // Placeholders exactly where they are filled.
            QCOMPARE(text.count("@@@@"), f.detections);
            QCOMPARE(text.count("$$$$"), f.detections);
            for (int i = 1; i < s.size(); ++i) {
                for (const auto& kv : s[i].keys) {
                    if (kv.first == "activation") {
                        static const QStringList known = {"leaky", "linear", "mish", "swish", "logistic"};
                        QVERIFY2(known.contains(kv.second), qPrintable(kv.second));
                    }
                }
                if (!isDetectionSection(s[i]))
                    continue;
                QCOMPARE(s[i].value("classes"), QString("@@@@"));
                QCOMPARE(s[i - 1].name, QString("convolutional"));
                QCOMPARE(s[i - 1].value("filters"), QString("$$$$"));
                if (s[i].name == "yolo")
                    QCOMPARE(s[i].value("mask").split(',').size(), 3);
                else
                    QCOMPARE(s[i].value("num"), QString("5"));
            }
            QVERIFY(!text.contains("silu"));

            // Markers: protected families only, one after [net], one after
            // the last layer.
            const QStringList lines = text.split('\n');
            QCOMPARE(lines.count("#**<>"), f.isProtected ? 2 : 0);
            QCOMPARE(text.count("#**<>"), f.isProtected ? 2 : 0);
            if (f.isProtected) {
                const int first = lines.indexOf("#**<>");
                const int last = lines.lastIndexOf("#**<>");
                QCOMPARE(parseCfgSections(lines.mid(0, first).join('\n')).size(), 1);
                QCOMPARE(parseCfgSections(lines.mid(first + 1, last - first - 1).join('\n')).size(),
                         s.size() - 1);
                QVERIFY(parseCfgSections(lines.mid(last + 1).join('\n')).isEmpty());
            }
            if (folder.startsWith("NomuedDet-"))
                QCOMPARE(lines.count("# batch=64") + lines.count("# subdivisions=16"), isTrain ? 0 : 2);
        }
    }

    // The NomuedDet family as it is defined, key by key.
    void nomuedDetLayout()
    {
        const QString train = readText(yolo_template_path("NomuedDet-208", true));
        const QVector<CfgSection> s = parseCfgSections(train);
        const QStringList netKeys = {"batch=$$batch$$", "subdivisions=$$subdivisions$$", "width=208",
                                     "height=208", "channels=3", "momentum=0.9", "decay=0.0005", "angle=0",
                                     "saturation = 1.5", "exposure = 1.5", "hue=.1", "learning_rate=0.00261",
                                     "burn_in=1000", "max_batches = 500200", "policy=steps",
                                     "steps=400000,450000", "scales=.1,.1"};
        QStringList trainLines = train.split('\n');
        trainLines.removeAll("");
        QCOMPARE(trainLines.mid(1, netKeys.size()), netKeys);
        const QStringList conv = {"batch_normalize=1", "filters=%1", "size=%2", "stride=1", "pad=1",
                                  "activation=leaky"};
        auto convLines = [&](int filters, int size) {
            return QStringList{"[convolutional]", conv[0], conv[1].arg(filters), conv[2].arg(size), conv[3],
                               conv[4], conv[5]};
        };
        const QStringList pool = {"[maxpool]", "size=2", "stride=2"};
        QStringList expected;
        expected << convLines(4, 3) << pool << convLines(8, 3) << pool << convLines(16, 3) << convLines(8, 1)
                 << convLines(16, 3)
                 << QStringList{"[convolutional]", "size=1", "stride=1", "pad=1", "filters=$$$$",
                                "activation=linear"}
                 << QStringList{"[yolo]", "mask = 0,1,2",
                                "anchors = 10,14,  23,27,  37,58,  81,82,  135,169,  344,319", "classes=@@@@",
                                "num=6", "jitter=.3", "scale_x_y = 1.05", "cls_normalizer=1.0",
                                "iou_normalizer=0.07", "iou_loss=ciou", "ignore_thresh = .7",
                                "truth_thresh = 1", "random=0", "resize=1.5", "nms_kind=greedynms",
                                "beta_nms=0.6"};
        QCOMPARE(trainLines.mid(1 + netKeys.size()), expected);
        QCOMPARE(s.size(), 10);

        // The four folders differ only in width and height.
        for (int size : {52, 104, 416}) {
            QString other = readText(yolo_template_path(QString("NomuedDet-%1").arg(size), true));
            other.replace(QString("width=%1\n").arg(size), "width=208\n");
            other.replace(QString("height=%1\n").arg(size), "height=208\n");
            QCOMPARE(other, train);
        }
    }

    // Every filled description loads in OpenCV and gives 4 + 1 + 3 columns.
    void opencvImport_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("train");
        for (const Folder& f : folders()) {
            QTest::newRow(qPrintable(f.name + " train")) << f.name << true;
            QTest::newRow(qPrintable(f.name + " test")) << f.name << false;
        }
    }
    void opencvImport()
    {
        QFETCH(QString, folder);
        QFETCH(bool, train);
        const Folder f = folderNamed(folder);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(write_network_description(folder, 3, 2, 1, dir.path()));
        const QString written = readText(dir.path() + (train ? "/train.cfg" : "/test.cfg"));
        QCOMPARE(written.contains("<-<+>->"), f.isProtected);
        const QString cfgPath = dir.path() + "/readable.cfg";
        QVERIFY(testsupport::writeFile(cfgPath, reveal_cfg_text(written).toUtf8()));

        try {
            cv::dnn::Net net = cv::dnn::readNetFromDarknet(cfgPath.toStdString(), zeroWeights_.toStdString());
            QVERIFY(!net.empty());
            net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
            net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
            const cv::Mat blank = cv::Mat::zeros(f.input, f.input, CV_8UC3);
            net.setInput(cv::dnn::blobFromImage(blank, 1 / 255.0, cv::Size(f.input, f.input), cv::Scalar(),
                                                true, false));
            std::vector<cv::Mat> outs;
            net.forward(outs, net.getUnconnectedOutLayersNames());
            QCOMPARE(int(outs.size()), f.detections);
            // One row per cell and anchor of each detection layer.
            const int anchors = f.detection == "region" ? 5 : 3;
            QMultiMap<int, int> expectedRows, rows;
            for (int stride : f.strides)
                expectedRows.insert((f.input / stride) * (f.input / stride) * anchors, 0);
            for (const cv::Mat& out : outs) {
                QCOMPARE(out.dims, 2);
                QCOMPARE(out.cols, 8);
                rows.insert(out.rows, 0);
            }
            QCOMPARE(rows.keys(), expectedRows.keys());
        } catch (const cv::Exception& e) {
            QFAIL(e.what());
        }
    }
};

QTEST_GUILESS_MAIN(TstYoloTemplates)
#include "tst_yolo_templates.moc"
