// The description checks the loader runs before OpenCV sees a model.
#include "darknet_cfg.h"
#include "fixture_model.h"

#include <QtTest>

#include <cstdint>
#include <cstring>

using namespace darknet_cfg;

class TestDarknetCfg : public QObject {
    Q_OBJECT
private slots:
    void nomuedDetFigures();
    void v4TinyMatchesDarknetsFileSize();
    void refusals_data();
    void refusals();
    void workingMemory();
    void sectionLimit();
    void threshLineInEveryDetectionSection();
    void otherLinesKept();
    void weightsSize_data();
    void weightsSize();
};

void TestDarknetCfg::nomuedDetFigures()
{
    NetInfo info;
    std::string error;
    QVERIFY2(analyse(fixture::nomued_det52_cfg(2).toStdString(), &info, &error), error.c_str());
    QCOMPARE(info.width, 52);
    QCOMPARE(info.height, 52);
    QCOMPARE(info.classes, 2);
    QCOMPARE(info.detection_sections, 1);
    QCOMPARE(int(info.convs.size()), 6);
    // 124 + 320 + 1216 + 160 + 1216 + 357 floats, counted by hand from the layers.
    QCOMPARE(info.weight_floats, 3393LL);
    QCOMPARE(fixture::small_boxes_weights().size(), 20 + 4 * 3393);
}

void TestDarknetCfg::v4TinyMatchesDarknetsFileSize()
{
    // The published 80-class yolov4-tiny.weights file holds 24,251,276 bytes:
    // routes with groups and the second head's route to layer 23 must be
    // followed exactly to get there.
    NetInfo info;
    std::string error;
    QVERIFY2(analyse(fixture::v4_tiny_cfg(80).toStdString(), &info, &error), error.c_str());
    QCOMPARE(20 + 4 * info.weight_floats, 24251276LL);
    QCOMPARE(info.detection_sections, 2);
    QCOMPARE(int(info.convs.size()), 21);
}

void TestDarknetCfg::refusals_data()
{
    QTest::addColumn<QString>("cfg");
    QTest::addColumn<QString>("reason");
    const QString good = fixture::nomued_det52_cfg(2);
    QTest::newRow("classes/filters mismatch") << QString(good).replace("filters=21", "filters=18") << "needs 21 filters";
    QTest::newRow("classes disagree with filters") << QString(good).replace("classes=2", "classes=3") << "needs 24";
    QTest::newRow("no [net]") << good.mid(good.indexOf("[convolutional]")) << "[net]";
    QTest::newRow("no size") << QString(good).replace("width=52", "width=0") << "width";
    QTest::newRow("no detection section") << good.left(good.indexOf("[yolo]")) << "no [yolo]";
    QTest::newRow("unknown section") << QString(good).replace("[maxpool]", "[frobnicate]") << "does not know";
    QTest::newRow("route beyond") << QString(good).replace("[maxpool]\nsize=2\nstride=2\n\n[convolutional]\nbatch_normalize=1\nfilters=8\nsize=3",
                                                        "[route]\nlayers=-5\n\n[convolutional]\nbatch_normalize=1\nfilters=8\nsize=3")
                                 << "does not exist";
    QTest::newRow("malformed number") << QString(good).replace("filters=16", "filters=1x6") << "malformed";
    QTest::newRow("groups not dividing") << QString(good).replace("filters=4\n", "filters=4\ngroups=2\n") << "groups";

    // Counts that overflow 32 or 64 bits.
    const QString net = "[net]\nwidth=1\nheight=1\nchannels=3\n\n";
    const QString wide = "[convolutional]\nfilters=65536\nsize=1\n\n";
    const QString huge = "[convolutional]\nfilters=65536\nsize=32768\n\n"; // 2^62 kernel floats
    const QString head = "[yolo]\nmask=0\nanchors=10,14\nclasses=65531\nnum=1\n";
    QTest::newRow("kernels of one convolution") << fixture::overflowing_cfg() << "overflow a 64-bit count";
    QTest::newRow("sum over convolutions") << net + wide + huge + huge + head << "overflow a 64-bit count";
    QTest::newRow("bytes of the weights file") << net + wide + huge + head << "weights overflow a 64-bit count";
    QTest::newRow("reorg channels") << net + "[reorg]\nstride=2147483647\n\n" + head << "64-bit count";
    QTest::newRow("region filters") << net + "[convolutional]\nfilters=1\n\n"
                                           "[region]\nnum=2147483647\ncoords=2147483647\nclasses=2147483647\n"
                                    << "needs 9223372030412324865 filters";
    QTest::newRow("yolo filters") << net + "[convolutional]\nfilters=1\n\n"
                                           "[yolo]\nmask=0\nclasses=2147483647\nnum=1\n"
                                  << "needs 2147483652 filters";
    // A route doubling a layer of 2^30 channels: refused by the working
    // memory long before a channel count could overflow.
    QTest::newRow("route channels") << net + "[convolutional]\nfilters=1073741824\n\n[route]\nlayers=-1,-1\n\n" + head
                                    << "working memory budget";
}

void TestDarknetCfg::refusals()
{
    QFETCH(QString, cfg);
    QFETCH(QString, reason);
    NetInfo info;
    std::string error;
    QVERIFY(!analyse(cfg.toStdString(), &info, &error));
    QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
}

void TestDarknetCfg::workingMemory()
{
    // The 52 x 52 fixture, layer by layer: input 52*52*3 = 8112; 52*52*4;
    // pool to 26: 26*26*4, 26*26*8; pool to 13: 13*13*8, then 13*13 times 16,
    // 8, 16 and 21 for the last convolution and again 21 for [yolo].
    NetInfo info;
    std::string error;
    const QString cfg = fixture::nomued_det52_cfg(2);
    QVERIFY2(analyse(cfg.toStdString(), &info, &error), error.c_str());
    QCOMPARE(info.working_floats, 8112LL + 10816 + 2704 + 5408 + 1352 + 2704 + 1352 + 2704 + 3549 + 3549);

    // The same network on 30000 x 30000 would need about 1.4 TB.
    QString big = cfg;
    big.replace("width=52", "width=30000").replace("height=52", "height=30000");
    QVERIFY(!analyse(big.toStdString(), &info, &error));
    QVERIFY2(QString::fromStdString(error).contains("working memory budget of 4096 MiB"), error.c_str());
    QVERIFY2(QString::fromStdString(error).contains("30000 x 30000"), error.c_str());
}

void TestDarknetCfg::sectionLimit()
{
    // Sections that change nothing, added up to the limit and one beyond.
    const QString cfg = fixture::nomued_det52_cfg(2);
    NetInfo info;
    std::string error;
    QVERIFY(analyse(cfg.toStdString(), &info, &error));
    const int sections = cfg.count("\n[");
    QCOMPARE(sections + (cfg.startsWith('[') ? 1 : 0), 10);
    for (int extra : {kMaxSections - 10, kMaxSections - 9}) {
        QString padded = cfg;
        padded.insert(padded.indexOf("[yolo]"), QString("[dropout]\nprobability=.1\n").repeated(extra));
        const bool ok = analyse(padded.toStdString(), &info, &error);
        QCOMPARE(ok, extra == kMaxSections - 10);
        if (!ok)
            QVERIFY2(QString::fromStdString(error).contains("more than 4096 sections"), error.c_str());
    }
}

void TestDarknetCfg::threshLineInEveryDetectionSection()
{
    // Two heads, one with a thresh of its own, the file ending without a newline.
    QString cfg = fixture::v4_tiny_cfg(3);
    cfg.replace("beta_nms=0.6\n\n[route]", "beta_nms=0.6\nthresh = .25\n\n[route]");
    while (cfg.endsWith('\n'))
        cfg.chop(1);
    const QString out = QString::fromStdString(prepare_for_opencv(cfg.toStdString()));
    QCOMPARE(out.count("thresh=0\n"), 2);
    QVERIFY(!out.contains("thresh = .25"));
    // ignore_thresh and truth_thresh are other keys and stay.
    QCOMPARE(out.count("ignore_thresh = .7"), 2);
    // Each one inside its own section: before the next header, and at the end.
    QVERIFY(out.contains("beta_nms=0.6\n\nthresh=0\n[route]"));
    QVERIFY(out.endsWith("beta_nms=0.6\nthresh=0\n"));
    NetInfo info;
    std::string error;
    QVERIFY2(analyse(out.toStdString(), &info, &error), error.c_str());
}

void TestDarknetCfg::otherLinesKept()
{
    const QString cfg = "[net]\nwidth=32\n# activation=silu\n[convolutional]\nactivation = silu\nfilters=1\n";
    const QString out = QString::fromStdString(prepare_for_opencv(cfg.toStdString()));
    QCOMPARE(out, QString("[net]\nwidth=32\n# activation=silu\n[convolutional]\nactivation=swish\nfilters=1\n"));
}

void TestDarknetCfg::weightsSize_data()
{
    QTest::addColumn<QByteArray>("weights");
    QTest::addColumn<bool>("ok");
    const QByteArray good = fixture::small_boxes_weights();
    QTest::newRow("exact") << good << true;
    QTest::newRow("truncated") << good.left(8000) << false;
    QTest::newRow("one byte short") << good.left(good.size() - 1) << false;
    QTest::newRow("padded") << good + QByteArray(1000, '\0') << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("header only") << good.left(20) << false;
    // Version 0.1 has a 32-bit seen: the same floats after a 16-byte header.
    QByteArray old = good;
    const std::int32_t minor = 1;
    std::memcpy(old.data() + 4, &minor, 4);
    old.remove(16, 4);
    QTest::newRow("old header") << old << true;
}

void TestDarknetCfg::weightsSize()
{
    QFETCH(QByteArray, weights);
    QFETCH(bool, ok);
    NetInfo info;
    QVERIFY(analyse(fixture::nomued_det52_cfg(2).toStdString(), &info, nullptr));
    std::string error;
    QCOMPARE(check_weights_size(info, weights.toStdString(), &error), ok);
    if (!ok)
        QVERIFY2(QString::fromStdString(error).contains("13592"), error.c_str());
}

QTEST_APPLESS_MAIN(TestDarknetCfg)
#include "tst_darknet_cfg.moc"
