// What the 2018 engine cannot build, and what no engine can train.

#include "network_check.h"
#include "training_fixture.h"

#include <QtTest>

using namespace nomu_ros;

class TstNetworkCheck : public QObject {
    Q_OBJECT
private slots:
    void legacyEngineLimits_data();
    void legacyEngineLimits();
    void descriptionProblems_data();
    void descriptionProblems();
    void maxBatchesKnobRewritesOnlyTheNetSection();
    void netSettingMatchesTheWholeKey_data();
    void netSettingMatchesTheWholeKey();
};

namespace {

QString replaced(QString text, const QString& from, const QString& to)
{
    const int at = text.indexOf(from);
    Q_ASSERT(at >= 0);
    return text.replace(at, from.size(), to);
}

QString fastestLikeBlock()
{
    // Grouped (depthwise) convolution, dropout and shortcut, as the Fastest layout uses.
    return "[convolutional]\nbatch_normalize=1\nfilters=8\nsize=3\ngroups=8\nstride=1\npad=1\nactivation=leaky\n\n"
           "[dropout]\nprobability=.15\n\n[shortcut]\nfrom=-2\nactivation=linear\n\n";
}

} // namespace

void TstNetworkCheck::legacyEngineLimits_data()
{
    QTest::addColumn<QString>("cfg");
    QTest::addColumn<QString>("feature"); // empty: buildable
    QTest::addColumn<int>("line");

    const QString nomued = fixture::nomuedDetCfg(52, 64, 8, 500200, 2);
    QTest::newRow("NomuedDet-52") << nomued << "" << 0;
    QTest::newRow("V4-tiny-like route groups") << fixture::groupedRouteCfg(2) << "groups in [route]" << 27;
    QTest::newRow("route groups=1") << replaced(fixture::groupedRouteCfg(2), "groups=2", "groups=1") << "" << 0;
    QTest::newRow("mish") << replaced(nomued, "activation=leaky", "activation=mish") << "activation=mish" << 26;
    QTest::newRow("swish") << replaced(nomued, "activation=leaky", "activation = swish") << "activation=swish" << 26;
    QTest::newRow("new_coords") << nomued + "new_coords=1\n" << "new_coords in [yolo]" << 91;
    QTest::newRow("new_coords off") << nomued + "new_coords=0\n" << "" << 0;
    QTest::newRow("unknown section") << nomued + "\n[sam]\nfrom=-2\n" << "section [sam]" << 92;
    QTest::newRow("grouped convolution, dropout") << replaced(nomued, "[maxpool]", fastestLikeBlock() + "[maxpool]")
                                                  << "" << 0;
    QTest::newRow("comment mentions mish") << "# activation=mish\n" + nomued << "" << 0;
}

void TstNetworkCheck::legacyEngineLimits()
{
    QFETCH(QString, cfg);
    QFETCH(QString, feature);
    QFETCH(int, line);
    const NetworkProblem p = findLegacyEngineProblem(parseCfg(cfg.toStdString()));
    QCOMPARE(p.found, !feature.isEmpty());
    QCOMPARE(QString::fromStdString(p.feature), feature);
    if (p.found)
        QCOMPARE(p.line, line);
}

void TstNetworkCheck::descriptionProblems_data()
{
    QTest::addColumn<QString>("cfg");
    QTest::addColumn<int>("dataClasses");
    QTest::addColumn<QString>("problem"); // a part of the problem text; empty: usable

    const QString nomued = fixture::nomuedDetCfg(52, 64, 8, 500200, 2);
    QTest::newRow("usable") << nomued << 2 << "";
    QTest::newRow("enciphered body") << "[net]\nwidth=128\n<-<+>->AwLx3f9a" << 2 << "enciphered";
    QTest::newRow("classes differ") << fixture::nomuedDetCfg(52, 64, 8, 500200, 3) << 2
                                    << "has classes=3 but the data file has classes = 2";
    QTest::newRow("classes=-1") << fixture::nomuedDetCfg(52, 64, 8, 500200, -1) << 2 << "classes=-1";
    QTest::newRow("no [net]") << replaced(nomued, "[net]", "[convolutional]") << 2 << "no [net]";
    QTest::newRow("no detection layer") << nomued.left(nomued.indexOf("[yolo]")) << 2 << "no detection layer";
    QTest::newRow("empty") << "" << 2 << "no [net]";
}

void TstNetworkCheck::descriptionProblems()
{
    QFETCH(QString, cfg);
    QFETCH(int, dataClasses);
    QFETCH(QString, problem);
    const std::string text = cfg.toStdString();
    const QString got = QString::fromStdString(findDescriptionProblem(text, parseCfg(text), dataClasses));
    if (problem.isEmpty())
        QVERIFY2(got.isEmpty(), qPrintable(got));
    else
        QVERIFY2(got.contains(problem), qPrintable(got));
}

void TstNetworkCheck::maxBatchesKnobRewritesOnlyTheNetSection()
{
    const std::string cfg = fixture::nomuedDetCfg(52, 64, 8, 500200, 2).toStdString() + "max_batches=7\n";
    const std::string out = withMaxBatches(cfg, 20);
    const auto sections = parseCfg(out);
    QCOMPARE(QString::fromStdString(*sections.front().find("max_batches")), QString("20"));
    QCOMPARE(QString::fromStdString(*sections.back().find("max_batches")), QString("7"));
    QCOMPARE(std::count(out.begin(), out.end(), '\n'), std::count(cfg.begin(), cfg.end(), '\n'));

    const std::string without = "[net]\nbatch=4\n\n[yolo]\nclasses=1\n";
    const auto added = parseCfg(withMaxBatches(without, 3));
    QCOMPARE(QString::fromStdString(*added.front().find("max_batches")), QString("3"));
    QCOMPARE(QString::fromStdString(*added.front().find("batch")), QString("4"));
}

// A key is matched whole: "batch" is not "max_batches" or "batch_normalize",
// and a commented-out line stays a comment.
void TstNetworkCheck::netSettingMatchesTheWholeKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("batch") << "batch" << "16"
                           << "[net]\nbatch = 16\nmax_batches = 500200\n# steps=1\nsteps=400000,450000\n\n"
                              "[convolutional]\nbatch_normalize=1\n";
    QTest::newRow("steps") << "steps" << "880,990"
                           << "[net]\nbatch=4\nmax_batches = 500200\n# steps=1\nsteps = 880,990\n\n"
                              "[convolutional]\nbatch_normalize=1\n";
    QTest::newRow("missing key") << "burn_in" << "100"
                                 << "[net]\nburn_in = 100\nbatch=4\nmax_batches = 500200\n# steps=1\n"
                                    "steps=400000,450000\n\n[convolutional]\nbatch_normalize=1\n";
}

void TstNetworkCheck::netSettingMatchesTheWholeKey()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    const std::string cfg = "[net]\nbatch=4\nmax_batches = 500200\n# steps=1\nsteps=400000,450000\n\n"
                            "[convolutional]\nbatch_normalize=1\n";
    QCOMPARE(QString::fromStdString(withNetSetting(cfg, key.toStdString(), value.toStdString())), expected);
}

QTEST_GUILESS_MAIN(TstNetworkCheck)
#include "tst_network_check.moc"
