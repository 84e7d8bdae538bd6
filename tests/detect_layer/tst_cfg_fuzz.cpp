// Descriptions made by mutating the numbers of the trainer's templates: every
// one the description check accepts must build and run a forward pass in
// OpenCV without ending the program (it may refuse it with an exception).
// Seeded, so every run tries the same descriptions.
#include "darknet_cfg.h"
#include "detector.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <opencv2/core/utils/logger.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

constexpr int kCases = 2000;
constexpr unsigned kSeed = 20261211;

// A forward pass of the templates at 32 x 32 with a sixteenth of their
// filters costs a few million multiply-adds. A mutation may ask for far more
// within the check's bounds (a 4096-wide window on a padded input): that one
// is counted apart, not run, so the test stays within seconds.
constexpr double kMaxCost = 5e8;
constexpr long long kMaxFloats = 4LL << 20;

const QRegularExpression& numeric_line()
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\w+)\\s*=\\s*(-?\\d+(\\s*,\\s*-?\\d+)*)\\s*$"));
    return re;
}

struct Template {
    QString name;
    QStringList lines;
    std::vector<int> numbers; // lines of a numeric key
    std::vector<int> headers; // section headers after [net]
};

// The test template of every model, for 2 classes, at 32 x 32, each filter
// count (but those of the detection layers, and at least 2 for the routes
// that halve them) and depthwise group count divided by 16.
std::vector<Template> templates()
{
    std::vector<Template> out;
    const QDir root(QStringLiteral(NOMU_YOLO_CFG_DIR));
    for (const QString& model : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile f(root.filePath(model + "/yolo-test-template.cfg"));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QString text = QString::fromUtf8(f.readAll());
        // Depthwise groups (as many as the filters) shrink with them.
        static const QRegularExpression filters(QStringLiteral("^(filters|groups)=(\\d+)$"),
                                                QRegularExpression::MultilineOption);
        QString shrunk;
        int at = 0;
        auto it = filters.globalMatch(text);
        while (it.hasNext()) {
            const auto m = it.next();
            shrunk += text.mid(at, m.capturedStart() - at);
            const int n = m.captured(2).toInt();
            const bool groups = m.captured(1) == "groups";
            shrunk += m.captured(1) + "=" +
                      QString::number(groups ? (n < 8 ? n : std::max(1, n / 16)) : std::max(2, n / 16));
            at = m.capturedEnd();
        }
        shrunk += text.mid(at);
        const bool region = model.startsWith(QLatin1String("V2"));
        shrunk.replace("@@@@", "2").replace("$$$$", region ? "35" : "21");
        shrunk.replace(QRegularExpression(QStringLiteral("^width=\\d+$"), QRegularExpression::MultilineOption),
                       "width=32");
        shrunk.replace(QRegularExpression(QStringLiteral("^height=\\d+$"), QRegularExpression::MultilineOption),
                       "height=32");
        Template t{model, shrunk.split('\n'), {}, {}};
        for (int i = 0; i < t.lines.size(); ++i) {
            if (numeric_line().match(t.lines[i]).hasMatch())
                t.numbers.push_back(i);
            if (t.lines[i].startsWith('[') && i > 0)
                t.headers.push_back(i);
        }
        out.push_back(t);
    }
    return out;
}

int pick_value(std::mt19937& rng, long long old)
{
    static const long long edges[] = {0,    1,     2,     3,     4,          5,       7,       4095,
                                      4096, 4097,  65535, 65536, 65537,      1 << 20, 1 << 30, INT_MAX,
                                      -1,   -2,    INT_MIN, INT_MAX - 1, INT_MIN + 1};
    long long v = 0;
    switch (rng() % 6) {
    case 0: v = static_cast<long long>(rng() % 11) - 2; break;
    case 1: v = old + (rng() % 2 ? 1 : -1); break;
    case 2: v = rng() % 2 ? old * 2 : old / 2; break;
    case 3: v = static_cast<long long>(rng() % 129); break;
    default: v = edges[rng() % (sizeof(edges) / sizeof(edges[0]))]; break;
    }
    return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, v)));
}

// One to three changes: a number of a numeric key (one entry of a list),
// or a spatial key added to a layer.
QString mutate(const Template& t, std::mt19937& rng)
{
    static const char* added[] = {"size",     "stride",   "padding", "pad",  "stride_x", "stride_y", "dilation",
                                  "groups",   "group_id", "filters", "from", "layers",   "mask",     "num"};
    QStringList lines = t.lines;
    std::vector<int> numbers = t.numbers, headers = t.headers;
    const int changes = 1 + static_cast<int>(rng() % 3);
    for (int n = 0; n < changes; ++n) {
        if (rng() % 5 == 0) {
            const int at = headers[rng() % headers.size()];
            const char* key = added[rng() % (sizeof(added) / sizeof(added[0]))];
            lines.insert(at + 1, QString("%1=%2").arg(key).arg(pick_value(rng, 2)));
            for (int& i : numbers)
                if (i > at)
                    ++i;
            for (int& h : headers)
                if (h > at)
                    ++h;
            continue;
        }
        const int at = numbers[rng() % numbers.size()];
        const auto m = numeric_line().match(lines[at]);
        QStringList values = m.captured(2).split(',');
        const int which = static_cast<int>(rng() % values.size());
        values[which] = QString::number(pick_value(rng, values[which].trimmed().toLongLong()));
        lines[at] = m.captured(1) + "=" + values.join(',');
    }
    return lines.join('\n');
}

// An upper bound of the forward pass's multiply-adds: every output float
// times the largest kernel of a filter.
double cost(const darknet_cfg::NetInfo& info)
{
    double kernel = 1;
    for (const darknet_cfg::ConvLayer& c : info.convs)
        kernel = std::max(kernel, double(c.in_channels / c.groups) * c.size * c.size);
    return double(info.working_floats) * kernel;
}

std::string zero_weights(const darknet_cfg::NetInfo& info)
{
    std::string w(static_cast<size_t>(20 + 4 * info.weight_floats), '\0');
    const std::int32_t version[3] = {0, 2, 5};
    std::memcpy(&w[0], version, sizeof(version));
    return w;
}

} // namespace

class TestCfgFuzz : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        // The networks are tiny: one thread runs them faster than a pool.
        cv::setNumThreads(1);
    }
    void templatesRun();
    void mutatedDescriptionsNeverCrash();
};

void TestCfgFuzz::templatesRun()
{
    // The starting points themselves are accepted and run.
    const std::vector<Template> all = templates();
    QCOMPARE(int(all.size()), 27);
    for (const Template& t : all) {
        const std::string text = t.lines.join('\n').toStdString();
        darknet_cfg::NetInfo info;
        std::string why;
        QVERIFY2(darknet_cfg::analyse(text, &info, &why), qPrintable(t.name + ": " + QString::fromStdString(why)));
        DetectorCPU detector;
        QVERIFY2(detector.load(darknet_cfg::prepare_for_opencv(text), zero_weights(info), &why),
                 qPrintable(t.name + ": " + QString::fromStdString(why)));
    }
}

void TestCfgFuzz::mutatedDescriptionsNeverCrash()
{
    const std::vector<Template> all = templates();
    QVERIFY(!all.empty());
    std::mt19937 rng(kSeed);
    int refused = 0, ran = 0, opencv_refused = 0, too_costly = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kCases; ++i) {
        const Template& t = all[rng() % all.size()];
        const std::string text = mutate(t, rng).toStdString();
        darknet_cfg::NetInfo info;
        std::string why;
        if (!darknet_cfg::analyse(text, &info, &why)) {
            ++refused;
            continue;
        }
        if (cost(info) > kMaxCost || info.weight_floats > kMaxFloats || info.working_floats > kMaxFloats) {
            ++too_costly;
            continue;
        }
        DetectorCPU detector;
        if (detector.load(darknet_cfg::prepare_for_opencv(text), zero_weights(info), &why))
            ++ran;
        else
            ++opencv_refused;
    }
    qInfo("%d descriptions in %lld ms: %d refused by the check, %d accepted (%d built and ran, %d refused by "
          "OpenCV with an exception, %d not run as too costly for a test)",
          kCases, static_cast<long long>(timer.elapsed()), refused, kCases - refused, ran, opencv_refused,
          too_costly);
    // The mutations must reach OpenCV often enough to mean something.
    QVERIFY(ran >= kCases / 10);
    QVERIFY(too_costly <= kCases / 20);
}

QTEST_APPLESS_MAIN(TestCfgFuzz)
#include "tst_cfg_fuzz.moc"
