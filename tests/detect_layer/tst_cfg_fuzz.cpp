// Descriptions made by mutating the numbers of the trainer's templates, and
// descriptions built of the shapes that cost OpenCV most (wide windows on
// padded inputs, many filters, large inputs, wide pools): every one the
// description check accepts must build and run a forward pass in OpenCV
// without ending the program (it may refuse it with an exception), and do so
// within what the check counted for it and within the working memory budget.
// Each accepted description's load and forward pass is measured: its peak
// memory (VmHWM, reset before each through /proc/self/clear_refs) and its
// time. Seeded, so every run tries the same descriptions.
#include "darknet_cfg.h"
#include "detector.h"
#include "input_limits.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <opencv2/core/utils/logger.hpp>

#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

namespace {

constexpr int kCases = 2000;
constexpr int kShapeCases = 100;
constexpr unsigned kSeed = 20261211;

// The longest a load and its forward pass may take: two minutes, where the
// unbounded 4096-wide window took 49 s on a 16 x 16 input and minutes on
// larger ones. Measured here, on one thread: 0.04 ns a multiply-add, 0.5 ns a
// gathered value, 3.6 ns a box comparison; and 4 to 8 s a GiB of memory
// touched for the first time (this virtual machine's page faults). A
// description at every limit at once would take some 40 s on the 4 threads
// the costly ones run on; the largest template, V4 at 608 pixels, takes 4 s.
constexpr qint64 kMaxMilliseconds = 120000;
// Descriptions of more work than this run on 4 threads, the rest on one
// (the small ones run faster without a pool).
constexpr long long kThreadedWork = 1000000000LL;

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

// The test template of every model, as it is embedded: model name and text.
std::vector<std::pair<QString, QString>> test_templates()
{
    std::vector<std::pair<QString, QString>> out;
    const QDir root(QStringLiteral(NOMU_YOLO_CFG_DIR));
    for (const QString& model : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile f(root.filePath(model + "/yolo-test-template.cfg"));
        if (f.open(QIODevice::ReadOnly))
            out.emplace_back(model, QString::fromUtf8(f.readAll()));
    }
    return out;
}

// Fills a template's class count and detection filters for 2 classes, as
// the trainer does.
void fill_for_two_classes(const QString& model, QString* text)
{
    const bool region = model.startsWith(QLatin1String("V2"));
    text->replace("@@@@", "2").replace("$$$$", region ? "35" : "21");
}

// The test template of every model, for 2 classes, at 32 x 32, each filter
// count (but those of the detection layers, and at least 2 for the routes
// that halve them) and depthwise group count divided by 16.
std::vector<Template> templates()
{
    std::vector<Template> out;
    for (const auto& [model, text] : test_templates()) {
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
        fill_for_two_classes(model, &shrunk);
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

// The test template of every model as the trainer fills it, for 2 classes,
// at its own size.
std::vector<std::pair<QString, std::string>> full_size_templates()
{
    std::vector<std::pair<QString, std::string>> out;
    for (auto [model, text] : test_templates()) {
        fill_for_two_classes(model, &text);
        out.emplace_back(model, text.toStdString());
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

// A description built of the costly shapes: an input of 8 to 16384 a side,
// one to three layers among convolutions (1 to 65536 filters, windows of 1
// to 4096, padded or not), max pools (windows of 2 to 4096 with their
// padding), routes (skipping a layer, joining two, taking half of one),
// upsampling and a global average, then, often after a global average, a
// small [yolo] head (with OpenCV's own suppression at times) or a [region]
// head.
QString costly_shapes(std::mt19937& rng)
{
    static const int sides[] = {8, 16, 64, 256, 608, 1024, 2048, 4096, 8192, 16384};
    static const int windows[] = {1, 2, 3, 7, 16, 22, 23, 52, 53, 64, 181, 512, 4096};
    static const int filters[] = {1, 3, 16, 64, 256, 1024, 4096, 65536};
    static const char* routes[] = {"layers=-2", "layers=-1,-2", "layers=-1\ngroups=2\ngroup_id=1"};
    auto pick = [&](const auto& list) { return list[rng() % (sizeof(list) / sizeof(list[0]))]; };
    const int w = pick(sides);
    const int h = rng() % 3 ? w : pick(sides);
    QString cfg = QString("[net]\nwidth=%1\nheight=%2\nchannels=3\n\n").arg(w).arg(h);
    const int layers = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < layers; ++i) {
        const unsigned kind = rng() % 20;
        const int size = pick(windows);
        if (kind < 10) {
            cfg += QString("[convolutional]\nbatch_normalize=%1\nfilters=%2\nsize=%3\nstride=%4\n")
                       .arg(rng() % 2)
                       .arg(pick(filters))
                       .arg(size)
                       .arg(rng() % 4 ? 1 : 2);
            switch (rng() % 3) {
            case 0: cfg += "pad=1\n"; break;
            case 1: cfg += QString("padding=%1\n").arg(size); break;
            default: break;
            }
            cfg += rng() % 2 ? "activation=leaky\n\n" : "activation=linear\n\n";
        } else if (kind < 14) {
            cfg += QString("[maxpool]\nsize=%1\nstride=%2\n").arg(size).arg(rng() % 2 ? 1 : 2);
            cfg += rng() % 3 ? QString("\n") : QString("padding=0\n\n");
        } else if (kind < 17) {
            cfg += QString("[route]\n%1\n\n").arg(pick(routes));
        } else if (kind < 19) {
            cfg += QString("[upsample]\nstride=%1\n\n").arg(1 << (1 + rng() % 4));
        } else {
            cfg += "[avgpool]\n\n";
        }
    }
    // Often pooled to one cell first, so that large layers reach the head.
    if (rng() % 2)
        cfg += "[avgpool]\n\n";
    if (rng() % 4 == 0)
        return cfg + "[convolutional]\nfilters=35\nsize=1\nactivation=linear\n\n"
                     "[region]\nanchors=0.57,0.67,1.87,2.06,3.33,5.47,7.88,3.52,9.77,9.16\n"
                     "classes=2\ncoords=4\nnum=5\nsoftmax=1\n";
    return cfg + "[convolutional]\nfilters=21\nsize=1\nactivation=linear\n\n"
                 "[yolo]\nmask=0,1,2\nanchors=10,14,23,27,37,58\nclasses=2\nnum=3\n" +
           (rng() % 4 == 0 ? "nms_threshold=0.45\n" : "");
}

std::string zero_weights(const darknet_cfg::NetInfo& info)
{
    std::string w(static_cast<size_t>(20 + 4 * info.weight_floats), '\0');
    const std::int32_t version[3] = {0, 2, 5};
    std::memcpy(&w[0], version, sizeof(version));
    return w;
}

// A figure of /proc/self/status in bytes ("VmHWM:", "VmRSS:"), -1 when absent.
long long status_bytes(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(key)) * 1024;
    return -1;
}

// What one load with its warm-up forward pass took.
struct Measure {
    bool built = false;
    int threads = 1;
    long long peak = 0;   // the process's peak resident memory during it
    long long growth = 0; // that peak above the memory resident before it
    qint64 ms = 0;
};

// Loads the description with zero weights as the server does (the weights
// held in memory while OpenCV reads them) and measures it. The freed heap is
// handed back first and the peak reset to what is resident, so the growth is
// this load's own.
Measure measure(const std::string& text, const darknet_cfg::NetInfo& info)
{
    const int threads = info.multiply_adds + info.window_reads > kThreadedWork ? 4 : 1;
    if (cv::getNumThreads() != threads)
        cv::setNumThreads(threads);
    malloc_trim(0);
    Measure m;
    m.threads = threads;
    const long long before = status_bytes("VmRSS:");
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
    }
    QElapsedTimer timer;
    timer.start();
    {
        const std::string weights = zero_weights(info);
        DetectorCPU detector;
        std::string why;
        m.built = detector.load(darknet_cfg::prepare_for_opencv(text), weights, &why);
    }
    m.ms = timer.elapsed();
    m.peak = status_bytes("VmHWM:");
    m.growth = m.peak - before;
    return m;
}

// The figures over every accepted description, and the checks on each.
struct Record {
    int accepted = 0, built = 0, opencv_refused = 0;
    Measure highest_peak, longest;
    QString highest_peak_name, longest_name;
    double largest_share = 0; // of the budget, as counted by the check
    QStringList faults;

    // A fault names the description and gives it whole.
    void add(const QString& name, const std::string& text, const darknet_cfg::NetInfo& info, const Measure& m)
    {
        ++accepted;
        ++(m.built ? built : opencv_refused);
        largest_share = std::max(largest_share, double(info.memory_bytes) / input_limits::kWorkingMemoryBytes);
        if (m.growth > highest_peak.growth) {
            highest_peak = m;
            highest_peak_name = name;
        }
        if (m.ms > longest.ms) {
            longest = m;
            longest_name = name;
        }
        QStringList found;
        // What the check counts is what OpenCV takes at most, and within the
        // budget.
        if (m.growth > allowed(input_limits::kWorkingMemoryBytes))
            found << QString("took %1 MiB, beyond the budget").arg(m.growth >> 20);
        if (m.growth > allowed(info.memory_bytes))
            found << QString("took %1 MiB, the check counted %2 MiB").arg(m.growth >> 20).arg(info.memory_bytes >> 20);
        if (m.ms > kMaxMilliseconds)
            found << QString("took %1 ms").arg(m.ms);
        if (!found.isEmpty())
            faults << name + ": " + found.join(", ") + ":\n" + QString::fromStdString(text);
    }
    void report(const char* what, int cases, int refused) const
    {
        qInfo("%s: %d descriptions, %d refused by the check, %d accepted (%d built and ran, %d refused by OpenCV "
              "with an exception); the largest counted %.0f%% of the working memory budget",
              what, cases, refused, accepted, built, opencv_refused, 100 * largest_share);
        qInfo("  highest peak %lld MiB (grown by %lld MiB in %lld ms) for %s", highest_peak.peak >> 20,
              highest_peak.growth >> 20, static_cast<long long>(highest_peak.ms), qPrintable(highest_peak_name));
        qInfo("  longest %lld ms (peak %lld MiB) for %s", static_cast<long long>(longest.ms), longest.peak >> 20,
              qPrintable(longest_name));
    }
    // The most a load counted as `bytes` may add to the resident memory: 8 MiB
    // more for the allocator's and the pages' rounding; under AddressSanitizer
    // an eighth more for the shadow of every byte touched, and the 256 MiB
    // its quarantine holds freed blocks back from reuse.
    static long long allowed(long long bytes)
    {
#if defined(__SANITIZE_ADDRESS__)
        return bytes + bytes / 8 + (256LL << 20) + (8LL << 20);
#else
        return bytes + (8LL << 20);
#endif
    }
};

} // namespace

class TestCfgFuzz : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        cv::setNumThreads(1);
    }
    void templatesRun();
    void templatesAtTheirOwnSize();
    void mutatedDescriptionsNeverCrash();
    void costlyShapesStayWithinTheBudget();
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

void TestCfgFuzz::templatesAtTheirOwnSize()
{
    // Every template is accepted at its own size, far within each limit; the
    // one that counts the most memory is loaded and measured.
    const auto all = full_size_templates();
    QCOMPARE(int(all.size()), 27);
    struct Largest {
        const char* what;
        long long limit;
        long long darknet_cfg::NetInfo::*count;
        long long value;
        QString name;
    } largest[] = {
        {"working memory (bytes)", input_limits::kWorkingMemoryBytes, &darknet_cfg::NetInfo::memory_bytes, 0, {}},
        {"multiply-adds", input_limits::kNetworkMultiplyAdds, &darknet_cfg::NetInfo::multiply_adds, 0, {}},
        {"window reads", input_limits::kNetworkWindowReads, &darknet_cfg::NetInfo::window_reads, 0, {}},
        {"box comparisons", input_limits::kNetworkBoxComparisons, &darknet_cfg::NetInfo::box_comparisons, 0, {}},
        {"row buffer (bytes)", input_limits::kLayerRowBufferBytes, &darknet_cfg::NetInfo::row_buffer_bytes, 0, {}}};
    std::string heaviest;
    darknet_cfg::NetInfo heaviest_info;
    for (const auto& [name, text] : all) {
        darknet_cfg::NetInfo info;
        std::string why;
        QVERIFY2(darknet_cfg::analyse(text, &info, &why), qPrintable(name + ": " + QString::fromStdString(why)));
        for (Largest& l : largest)
            if (info.*l.count > l.value) {
                l.value = info.*l.count;
                l.name = name;
            }
        if (info.memory_bytes > heaviest_info.memory_bytes) {
            heaviest = text;
            heaviest_info = info;
        }
    }
    for (const Largest& l : largest)
        qInfo("largest %s: %s with %lld, %.1f%% of the limit of %lld", l.what, qPrintable(l.name), l.value,
              100.0 * l.value / l.limit, l.limit);
    Record record;
    const Measure m = measure(heaviest, heaviest_info);
    cv::setNumThreads(1);
    record.add(largest[0].name, heaviest, heaviest_info, m);
    qInfo("%s loaded with a forward pass in %lld ms on %d threads: peak %lld MiB, grown by %lld MiB of the %lld "
          "MiB counted; %.3g multiply-adds",
          qPrintable(largest[0].name), static_cast<long long>(m.ms), m.threads, m.peak >> 20, m.growth >> 20,
          heaviest_info.memory_bytes >> 20, double(heaviest_info.multiply_adds));
    QVERIFY(m.built);
    QVERIFY2(record.faults.isEmpty(), qPrintable(record.faults.join("\n")));
}

void TestCfgFuzz::mutatedDescriptionsNeverCrash()
{
    const std::vector<Template> all = templates();
    QVERIFY(!all.empty());
    std::mt19937 rng(kSeed);
    int refused = 0;
    Record record;
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
        record.add(QString("mutation %1 of %2").arg(i).arg(t.name), text, info, measure(text, info));
    }
    cv::setNumThreads(1);
    qInfo("mutations: %lld ms", static_cast<long long>(timer.elapsed()));
    record.report("mutations", kCases, refused);
    QVERIFY2(record.faults.isEmpty(), qPrintable(record.faults.join("\n")));
    // The mutations must reach OpenCV often enough to mean something.
    QVERIFY(record.built >= kCases / 10);
}

void TestCfgFuzz::costlyShapesStayWithinTheBudget()
{
    std::mt19937 rng(kSeed);
    int refused = 0;
    Record record;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kShapeCases; ++i) {
        const std::string text = costly_shapes(rng).toStdString();
        darknet_cfg::NetInfo info;
        std::string why;
        if (!darknet_cfg::analyse(text, &info, &why)) {
            ++refused;
            continue;
        }
        record.add(QString("shape %1").arg(i), text, info, measure(text, info));
    }
    cv::setNumThreads(1);
    qInfo("costly shapes: %lld ms", static_cast<long long>(timer.elapsed()));
    record.report("costly shapes", kShapeCases, refused);
    QVERIFY2(record.faults.isEmpty(), qPrintable(record.faults.join("\n")));
    QVERIFY(record.built >= kShapeCases / 10);
}

QTEST_APPLESS_MAIN(TestCfgFuzz)
#include "tst_cfg_fuzz.moc"
