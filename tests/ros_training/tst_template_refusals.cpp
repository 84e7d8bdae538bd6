// Which of the trainer's embedded templates Debian's 2018 darknet (the default
// engine of the training executables) can train. Each template goes the way a
// training run takes it: the trainer writes the training folder's description
// (protected form for the protected families) and hands it over deciphered;
// the executable's checks then read that text. Every template folder must have
// a row, so a new or changed template shows here.
//
// Each row prints one line: the model and "accepted", or "refused:" and every
// feature the engine lacks with the line of its first use (the executable
// names the first of them).

#include "darknet_cfg.h"
#include "network_check.h"
#include "network_description.h"
#include "resources.h"
#include "train_command.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using namespace nomu_ros;

class TstTemplateRefusals : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyTemplateHasARow();
    void templatesOnTheDefaultEngine_data();
    void templatesOnTheDefaultEngine();

private:
    QSet<QString> rows;
};

namespace {

const int kClasses = 2;

struct Row {
    const char* model;
    QStringList features; // empty: the 2018 engine builds it
};

const QStringList kRoute = {"groups in [route]"};

const Row kRows[] = {
    {"NomuedDet-52", {}},
    {"NomuedDet-104", {}},
    {"NomuedDet-208", {}},
    {"NomuedDet-416", {}},
    {"Fastest-1.1-320", {}},
    {"Fastest-1.1-XL-320", {}},
    {"Fastest-1.1-XL-640", {}},
    {"V2", {}},
    {"V2-tiny", {}},
    {"V3", {}},
    {"V3-tiny", {}},
    {"V4-tiny", kRoute},
    {"V4-tiny-64", kRoute},
    {"V4-tiny-128", kRoute},
    {"V4-tiny-256", kRoute},
    {"NomuedDet2-128", kRoute},
    {"NomuedDet2-256", kRoute},
    {"NomuedDet2-512", kRoute},
    {"KVTRDet-128", kRoute},
    {"KVTRDet-256", kRoute},
    {"KVTRDet-512", kRoute},
    {"V4", {"activation=mish"}},
    {"V7", {"activation=swish", "new_coords in [yolo]"}},
    {"V7-tiny", {"new_coords in [yolo]"}},
    {"V7-tiny-64", {"new_coords in [yolo]"}},
    {"V7-tiny-128", {"new_coords in [yolo]"}},
    {"V7-tiny-256", {"new_coords in [yolo]"}},
};

// Every problem of the check, not only the first: the check runs on each
// setting alone (and on each section without settings, for its type), and
// each feature is kept once with the line of its first use.
std::vector<NetworkProblem> allLegacyEngineProblems(const std::vector<CfgSection>& sections)
{
    std::vector<NetworkProblem> found;
    auto keep = [&found](const NetworkProblem& p) {
        if (!p.found)
            return;
        for (const NetworkProblem& q : found)
            if (q.feature == p.feature)
                return;
        found.push_back(p);
    };
    for (const CfgSection& s : sections) {
        CfgSection bare;
        bare.type = s.type;
        bare.line = s.line;
        keep(findLegacyEngineProblem({bare}));
        for (size_t i = 0; i < s.options.size(); ++i) {
            CfgSection one = bare;
            one.options = {s.options[i]};
            one.optionLines = {s.optionLines[i]};
            keep(findLegacyEngineProblem({one}));
        }
    }
    return found;
}

} // namespace

void TstTemplateRefusals::initTestCase()
{
    nomu_pelto_varnex_init_resources();
    for (const Row& r : kRows)
        rows.insert(r.model);
}

void TstTemplateRefusals::everyTemplateHasARow()
{
    const QStringList folders = QDir(kYoloCfgResourceRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QVERIFY(!folders.isEmpty());
    for (const QString& model : folders)
        QVERIFY2(rows.contains(model), qPrintable("no row for the template " + model));
    QCOMPARE(folders.size(), rows.size());
}

void TstTemplateRefusals::templatesOnTheDefaultEngine_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("features");
    for (const Row& r : kRows)
        QTest::newRow(r.model) << QString(r.model) << r.features;
}

void TstTemplateRefusals::templatesOnTheDefaultEngine()
{
    QFETCH(QString, model);
    QFETCH(QStringList, features);

    // No GPU here: the model box's batch values without one.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const BatchSettings batch = model_batch_settings(model, false);
    QVERIFY(write_network_description(model, kClasses, batch.batch, batch.subdivisions, dir.path()));
    QString text = read_text_file(dir.filePath("train.cfg"));
    QCOMPARE(is_protected_description(text), is_protected_model(model));
    if (is_protected_description(text))
        text = deciphered_description(text);

    const std::string cfg = text.toStdString();
    const std::vector<CfgSection> sections = parseCfg(cfg);
    const NetworkProblem first = findLegacyEngineProblem(sections);
    const std::vector<NetworkProblem> all = allLegacyEngineProblems(sections);

    QString line = model + ": ";
    QStringList got;
    if (all.empty()) {
        line += "accepted";
    } else {
        QStringList parts;
        for (const NetworkProblem& p : all) {
            got << QString::fromStdString(p.feature);
            parts << QString("%1 at line %2").arg(QString::fromStdString(p.feature)).arg(p.line);
        }
        line += "refused: " + parts.join(", ");
    }
    qInfo().noquote() << line;

    QCOMPARE(got, features);
    // The executable names the first problem of the text.
    QCOMPARE(first.found, !all.empty());
    if (first.found) {
        QCOMPARE(first.feature, all.front().feature);
        QCOMPARE(first.line, all.front().line);
    }
    // Nothing else stands in the way of an engine that builds it.
    const QString problem = QString::fromStdString(findDescriptionProblem(cfg, sections, kClasses));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // The executable knows the size of its whole weights files.
    darknet_cfg::NetInfo net;
    std::string why;
    QVERIFY2(darknet_cfg::analyse(cfg, &net, &why), why.c_str());
    QVERIFY(net.weight_floats > 0);
}

QTEST_GUILESS_MAIN(TstTemplateRefusals)
#include "tst_template_refusals.moc"
