// The description checks the loader runs before OpenCV sees a model.
#include "darknet_cfg.h"
#include "fixture_model.h"
#include "input_limits.h"

#include <QtTest>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>

using namespace darknet_cfg;

class TestDarknetCfg : public QObject {
    Q_OBJECT
private slots:
    void nomuedDetFigures();
    void v4TinyMatchesDarknetsFileSize();
    void refusals_data();
    void refusals();
    void craftedLayers_data();
    void craftedLayers();
    void sidesAsOpenCVBuildsThem_data();
    void sidesAsOpenCVBuildsThem();
    void workingMemory();
    void openCVCostFigures();
    void openCVCosts_data();
    void openCVCosts();
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
    const QString wide = "[convolutional]\nfilters=67108864\nsize=1\n\n";
    // 2^62 kernel floats: 2^26 filters of 32 x 32 on 2^26 channels, the
    // window padded by 16 on each side of the 1 x 1 input.
    const QString huge = "[convolutional]\nfilters=67108864\nsize=32\npad=1\nstride=32\n\n";
    const QString head = "[yolo]\nmask=0\nanchors=10,14\nclasses=67108859\nnum=1\n";
    QTest::newRow("kernels of one convolution") << fixture::overflowing_cfg() << "overflow a 64-bit count";
    QTest::newRow("sum over convolutions") << net + wide + huge + huge + head << "overflow a 64-bit count";
    QTest::newRow("bytes of the weights file") << net + wide + huge + head << "weights overflow a 64-bit count";
    // A reorg stride must divide both sides, so the channels it multiplies stay
    // within the working memory.
    QTest::newRow("reorg channels") << net + "[reorg]\nstride=2147483647\n\n" + head
                                    << "stride=2147483647 does not divide its input of 1 x 1";
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

void TestDarknetCfg::craftedLayers_data()
{
    // One layer put between a 16 x 16 input and a small head. Each of these
    // reached OpenCV's int arithmetic (a crash, a negative side or an
    // anchor read out of bounds) or built another network than described.
    QTest::addColumn<QString>("layer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("maxpool, huge size and padding")
        << "[maxpool]\nsize=2147483647\npadding=2147483647\nstride=1" << "may be at most 4096";
    QTest::newRow("maxpool, size INT_MIN") << "[maxpool]\nsize=-2147483648" << "positive size and stride";
    QTest::newRow("maxpool, stride INT_MIN") << "[maxpool]\nstride=-2147483648" << "positive size and stride";
    QTest::newRow("maxpool, stride beyond") << "[maxpool]\nsize=2\nstride=4097" << "may be at most 4096";
    QTest::newRow("maxpool, padding beyond size") << "[maxpool]\nsize=2\nstride=1\npadding=3"
                                                  << "padding=3 is not between 0 and size=2";
    QTest::newRow("maxpool, negative padding") << "[maxpool]\nsize=2\npadding=-1" << "padding=-1 is not between";
    QTest::newRow("maxpool, window beyond input") << "[maxpool]\nsize=20\nstride=1\npadding=0"
                                                  << "size=20 is larger than its input of 16 x 16";
    QTest::newRow("maxpool, stride_x") << "[maxpool]\nsize=2\nstride=2\nstride_x=3" << "stride_x and stride_y";
    QTest::newRow("conv, size beyond") << "[convolutional]\nfilters=1\nsize=4097\npad=1" << "may be at most 4096";
    QTest::newRow("conv, size INT_MIN") << "[convolutional]\nfilters=1\nsize=-2147483648" << "positive filters";
    QTest::newRow("conv, stride beyond") << "[convolutional]\nfilters=1\nstride=2147483647" << "at most 4096";
    QTest::newRow("conv, padding beyond size") << "[convolutional]\nfilters=1\nsize=3\npadding=2147483647"
                                               << "padding=2147483647 is not between 0 and size=3";
    QTest::newRow("conv, window beyond input") << "[convolutional]\nfilters=1\nsize=20\npadding=1"
                                               << "size=20 is larger than its input of 16 x 16 with padding=1";
    QTest::newRow("conv, dilation") << "[convolutional]\nfilters=1\nsize=3\npad=1\ndilation=2" << "dilation";
    QTest::newRow("conv, stride_y") << "[convolutional]\nfilters=1\nstride_y=2" << "stride_x and stride_y";
    QTest::newRow("upsample, negative stride") << "[upsample]\nstride=-2" << "unusable stride";
    QTest::newRow("upsample, side beyond") << "[upsample]\nstride=4097" << "a side may be at most 65536";
    QTest::newRow("reorg, stride not dividing") << "[reorg]\nstride=3" << "does not divide its input of 16 x 16";
    QTest::newRow("scale_channels, channels differ")
        << "[convolutional]\nfilters=4\n\n[avgpool]\n\n[convolutional]\nfilters=2\n\n[scale_channels]\nfrom=-3"
        << "scales 4 channels by 2";
    QTest::newRow("weights beyond 1 GiB") << "[convolutional]\nfilters=2048\n\n[convolutional]\nfilters=2048\n"
                                             "size=9\npad=1"
                                          << "more than the limit of 1 GiB";
    QTest::newRow("[net] side beyond") << "" << "[net] width and height may be at most 65536";
    QTest::newRow("yolo, mask beyond the anchors") << "" << "mask names anchor 1 of num=1";
    QTest::newRow("yolo, negative mask") << "" << "mask names anchor -1 of num=1";
    QTest::newRow("yolo, anchors short") << "" << "needs anchors= of 2 numbers for num=1";
}

void TestDarknetCfg::craftedLayers()
{
    QFETCH(QString, layer);
    QFETCH(QString, reason);
    QString net = "[net]\nwidth=16\nheight=16\nchannels=3\n\n";
    QString head = "[convolutional]\nfilters=6\n\n[yolo]\nmask=0\nanchors=10,14\nclasses=1\nnum=1\n";
    NetInfo info;
    std::string error;
    // Without the change, the description is good.
    QVERIFY2(analyse((net + head).toStdString(), &info, &error), error.c_str());
    const QString name = QTest::currentDataTag();
    if (name.startsWith("[net]"))
        net.replace("width=16", "width=65537").replace("height=16", "height=1");
    else if (name.contains("mask beyond"))
        head.replace("mask=0", "mask=1");
    else if (name.contains("negative mask"))
        head.replace("mask=0", "mask=-1");
    else if (name.contains("anchors short"))
        head.replace("anchors=10,14", "anchors=10");
    const QString cfg = net + (layer.isEmpty() ? QString() : layer + "\n\n") + head;
    QVERIFY2(!analyse(cfg.toStdString(), &info, &error), qPrintable(cfg));
    QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
}

void TestDarknetCfg::sidesAsOpenCVBuildsThem_data()
{
    // The working memory of input, layer, a 6-filter convolution and the
    // head: the layer's output side as OpenCV 4.6 gives it (found by running
    // each in OpenCV), where darknet's defaults would give another.
    QTest::addColumn<QString>("layer");
    QTest::addColumn<int>("side");
    QTest::newRow("maxpool defaults: size 2, stride 2") << "[maxpool]" << 8;
    QTest::newRow("maxpool, stride alone") << "[maxpool]\nstride=4\npadding=0" << 4; // size 2: (16 - 2) / 4 + 1
    QTest::newRow("maxpool, size alone") << "[maxpool]\nsize=4\npadding=0" << 7;     // stride 2
    QTest::newRow("maxpool, padding 3 of 3") << "[maxpool]\nsize=3\nstride=2\npadding=3" << 9;
    QTest::newRow("upsample default: 1") << "[upsample]" << 16;
    QTest::newRow("conv, window of the padded input") << "[convolutional]\nfilters=3\nsize=20\npadding=2" << 1;
}

void TestDarknetCfg::sidesAsOpenCVBuildsThem()
{
    QFETCH(QString, layer);
    QFETCH(int, side);
    const QString cfg = "[net]\nwidth=16\nheight=16\nchannels=3\n\n" + layer +
                        "\n\n[convolutional]\nfilters=6\n\n[yolo]\nmask=0\nanchors=10,14\nclasses=1\nnum=1\n";
    NetInfo info;
    std::string error;
    QVERIFY2(analyse(cfg.toStdString(), &info, &error), error.c_str());
    QCOMPARE(info.working_floats, 16LL * 16 * 3 + side * side * 3 + 2LL * side * side * 6);
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

void TestDarknetCfg::openCVCostFigures()
{
    // Counted by hand from OpenCV 4.6's convolution and the detector: a 3 x 3
    // window on 3 channels, padded, 4 filters, on 16 x 16 (256 positions),
    // then 6 filters of 1 x 1 and a head of one anchor.
    const QString cfg = "[net]\nwidth=16\nheight=16\nchannels=3\n\n"
                        "[convolutional]\nfilters=4\nsize=3\npad=1\n\n"
                        "[convolutional]\nfilters=6\n\n[yolo]\nmask=0\nanchors=10,14\nclasses=1\nnum=1\n";
    NetInfo info;
    std::string error;
    QVERIFY2(analyse(cfg.toStdString(), &info, &error), error.c_str());
    QCOMPARE(info.multiply_adds, 256LL * 4 * 3 * 9 + 256LL * 6 * 4);
    QCOMPARE(info.window_reads, 256LL * 3 * 9 + 256LL * 4);
    // The row of 27 values rounded up to 32, 32 rows of them, and 8 floats over.
    QCOMPARE(info.row_buffer_bytes, (32LL * 32 + 8) * 4);
    // 256 boxes, compared by the detector only.
    QCOMPARE(info.box_comparisons, 256LL * 256 / 2);
    // Weights (4 * 28 + 6 * 5 floats) three times; input and outputs (768,
    // 1024, 1536, 1536) with the head again and the input three more times;
    // 32 bytes a filter; the row buffers of 256 threads (or of every
    // processor, where there are more) and the offset table of the first
    // convolution; 8 KiB for each of the 4 sections.
    const long long weights = 20 + 4 * (4 * 28 + 6 * 5);
    const long long floats = 768 + 1024 + 1536 + 1536 + 1536 + 3 * 768;
    const long long threads = std::max(256u, std::thread::hardware_concurrency());
    QCOMPARE(info.memory_bytes, 3 * weights + 4 * floats + 32 * 10 + threads * 4128 + 4 * 27 + 4 * 8192);
}

void TestDarknetCfg::openCVCosts_data()
{
    // Each within every limit before OpenCV's own allocations and work were
    // counted, and each what OpenCV would have spent on it.
    QTest::addColumn<QString>("cfg");
    QTest::addColumn<QString>("reason"); // empty: accepted
    const QString head = "[convolutional]\nfilters=21\nsize=1\nactivation=linear\n\n"
                         "[yolo]\nmask=0,1,2\nanchors=10,14,23,27,37,58\nclasses=2\nnum=3\n";
    auto net = [](int side) { return QString("[net]\nwidth=%1\nheight=%1\nchannels=3\n\n").arg(side); };
    auto window = [](int size) {
        return QString("[convolutional]\nfilters=1\nsize=%1\npad=1\nactivation=linear\n\n").arg(size);
    };
    const QString over_row = "needs a row buffer of 6442450976 bytes on each thread, more than the limit of 1048576";
    // OpenCV's row buffer was 6 GiB on each of the server's threads: it grew
    // to 20.9 GB and was ended by the kernel.
    QTest::newRow("4096-wide window on 608 x 608") << net(608) + window(4096) + head
                                                    << "[convolutional] at line 6: size=4096 on 3 channels " + over_row;
    // The same window took 49 s on 16 x 16.
    QTest::newRow("4096-wide window on 16 x 16") << net(16) + window(4096) + head << over_row;
    QTest::newRow("52-wide window on 3 channels, the widest") << net(608) + window(52) + "[avgpool]\n\n" + head << "";
    QTest::newRow("53-wide window on 3 channels")
        << net(608) + window(53) + "[avgpool]\n\n" + head << "needs a row buffer of 1079328 bytes on each thread";
    QTest::newRow("23-wide window on 16 channels")
        << net(64) + "[convolutional]\nfilters=16\n\n" + window(23) + head
        << "size=23 on 16 channels needs a row buffer of 1083424 bytes";
    // 256 x 256 x 256 into 2048 filters of 3 x 3: 3.1e11 multiply-adds, and
    // half as many with 1024.
    const QString wide = net(256) + "[convolutional]\nfilters=256\nsize=3\npad=1\n\n"
                                    "[convolutional]\nfilters=%1\nsize=3\npad=1\n\n[avgpool]\n\n" + head;
    QTest::newRow("multiply-adds beyond") << wide.arg(2048)
                                          << "needs 309690673152 multiply-adds, more than the limit of 300000000000";
    QTest::newRow("multiply-adds within") << wide.arg(1024) << "";
    // A 64-wide max pool reads 4096 values for each of 608 x 608 x 32.
    QTest::newRow("max pool reads beyond")
        << net(608) + "[convolutional]\nfilters=32\n\n[maxpool]\nsize=64\nstride=1\n\n" + head
        << "reads 48465538048 values through its windows, more than the limit of 4000000000";
    // 128 x 128 x 5 boxes suppressed inside OpenCV's [region] layer took 16 s,
    // 256 x 256 x 5 more than 5 minutes.
    const QString region = "[convolutional]\nfilters=35\n\n[region]\n"
                           "anchors=0.57,0.67,1.87,2.06,3.33,5.47,7.88,3.52,9.77,9.16\nclasses=2\nnum=5\n";
    QTest::newRow("[region] of 128 x 128") << net(128) + region
                                           << "boxes need 10066329600 comparisons to suppress overlaps";
    QTest::newRow("[region] of 64 x 64") << net(64) + region << "";
    // A max pool that no layer reads gets a second output in OpenCV (where
    // its maxima lie): 1 GiB more here.
    const QString unread = net(4096) + "[convolutional]\nfilters=16\n\n[maxpool]\nsize=2\nstride=1\n\n"
                                       "[route]\nlayers=%1\n\n[avgpool]\n\n" + head;
    QTest::newRow("max pool that no layer reads") << unread.arg(-2)
                                                  << "more than the working memory budget of 4096 MiB (an input of 4096 x 4096)";
    QTest::newRow("max pool read by the route") << unread.arg(-1) << "";
}

void TestDarknetCfg::openCVCosts()
{
    QFETCH(QString, cfg);
    QFETCH(QString, reason);
    NetInfo info;
    std::string error;
    const bool ok = analyse(cfg.toStdString(), &info, &error);
    QVERIFY2(ok == reason.isEmpty(), ok ? qPrintable(cfg) : error.c_str());
    if (!ok)
        QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
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
    for (int extra : {input_limits::kModelDescriptionSections - 10, input_limits::kModelDescriptionSections - 9}) {
        QString padded = cfg;
        padded.insert(padded.indexOf("[yolo]"), QString("[dropout]\nprobability=.1\n").repeated(extra));
        const bool ok = analyse(padded.toStdString(), &info, &error);
        QCOMPARE(ok, extra == input_limits::kModelDescriptionSections - 10);
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
