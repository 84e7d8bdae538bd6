#include "label_cut.h"

#include <QByteArray>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const int kFont = cv::FONT_HERSHEY_COMPLEX_SMALL;
const long long kOne = 65536; // putText's pen steps: 1/65536 pixel

// The font's metrics in font units, measured once from OpenCV itself.
struct Metrics {
    int advance[256] = {}; // of the glyph drawn for each UTF-8 byte
    int question = 0;      // of "?", which every byte from 0x80 on draws
    int lone = 0;          // of what a lone surrogate becomes in UTF-8
    int lo = 0;            // no stroke lies farther left of its pen position
    int hi = 0;            // nor farther right
    char filler = 0;       // a glyph whose advance shares no factor with the space's
    bool ok = false;       // everything above holds; otherwise labels are drawn whole
};

int text_advance(const std::string& text)
{
    // At scale 1 and thickness 1 the width is the advance plus 1, exactly.
    int baseline = 0;
    return cv::getTextSize(text, kFont, 1.0, 1, &baseline).width - 1;
}

int gcd(long long a, long long b)
{
    while (b != 0) {
        const long long t = a % b;
        a = b;
        b = t;
    }
    return static_cast<int>(a);
}

Metrics measure()
{
    Metrics m;
    for (int b = 0; b < 256; ++b)
        m.advance[b] = text_advance(std::string(1, static_cast<char>(b)));
    m.question = m.advance[static_cast<unsigned char>('?')];
    bool ok = m.question > 0;
    for (int b = 0x80; b < 256; ++b)
        ok = ok && m.advance[b] == m.question;
    for (int b = 0; b < 256; ++b)
        ok = ok && m.advance[b] > 0;

    // A lone surrogate has no UTF-8 form; the conversion writes something of
    // its own for it, the same for high and low halves.
    const QByteArray high = QString(QChar(0xD800)).toUtf8();
    const QByteArray low = QString(QChar(0xDC00)).toUtf8();
    ok = ok && high.size() == low.size() && !high.isEmpty();
    for (char c : high)
        m.lone += m.advance[static_cast<unsigned char>(c)];

    // Stroke extents, drawn at scale 8: a pixel is 1/8 unit, and one unit of
    // margin on each side covers the rounding.
    const int scale = 8;
    const cv::Point origin(40 * scale, 40 * scale);
    int lo = 0, hi = 0;
    for (int b = 32; b < 128; ++b) {
        cv::Mat canvas = cv::Mat::zeros(80 * scale, 80 * scale, CV_8UC1);
        cv::putText(canvas, std::string(1, static_cast<char>(b)), origin, kFont, scale, cv::Scalar(255), 1,
                    cv::LINE_8, false);
        std::vector<cv::Point> on;
        cv::findNonZero(canvas, on);
        if (on.empty())
            continue;
        const cv::Rect box = cv::boundingRect(on);
        // A glyph touching the canvas edge was not measured whole.
        ok = ok && box.x > 0 && box.x + box.width < canvas.cols;
        lo = std::min(lo, static_cast<int>(std::floor((box.x - origin.x) / double(scale))) - 1);
        hi = std::max(hi, static_cast<int>(std::ceil((box.x + box.width - origin.x) / double(scale))) + 1);
    }
    m.lo = lo;
    m.hi = hi;

    const int space = m.advance[static_cast<unsigned char>(' ')];
    for (int b = 33; b < 127 && m.filler == 0; ++b)
        if (gcd(m.advance[b], space) == 1)
            m.filler = static_cast<char>(b);
    m.ok = ok && m.filler != 0;
    return m;
}

const Metrics& metrics()
{
    static const Metrics m = measure();
    return m;
}

// The advance of the character at u and the number of UTF-16 units it takes
// (a surrogate pair is one character of four UTF-8 bytes).
inline int step(const QChar* d, int n, int u, const Metrics& m, int* units)
{
    const ushort c = d[u].unicode();
    *units = 1;
    if (c < 0x80)
        return m.advance[c];
    if (c < 0x800)
        return 2 * m.question;
    if (QChar::isHighSurrogate(c) && u + 1 < n && QChar::isLowSurrogate(d[u + 1].unicode())) {
        *units = 2;
        return 4 * m.question;
    }
    if (QChar::isSurrogate(c))
        return m.lone;
    return 3 * m.question;
}

// The first character boundary at or after unit `u`.
int boundary(const QChar* d, int n, int u)
{
    if (u > 0 && u < n && d[u].isLowSurrogate() && d[u - 1].isHighSurrogate())
        return u + 1;
    return u;
}

// value / divisor (which divides it) when it fits 64 bits, else false.
bool exact_quotient(__int128 value, long long divisor, long long* out)
{
    const __int128 q = value / divisor;
    if (q < LLONG_MIN || q > LLONG_MAX)
        return false;
    *out = static_cast<long long>(q);
    return true;
}

} // namespace

void LabelCut::begin_redraw()
{
    for (auto& entry : tables_)
        entry.second.used = false;
}

void LabelCut::end_redraw()
{
    for (auto it = tables_.begin(); it != tables_.end();)
        it = it->second.used ? std::next(it) : tables_.erase(it);
}

const LabelCut::Table& LabelCut::table(const QString& label)
{
    const auto key = std::make_pair(label.constData(), label.size());
    auto it = tables_.find(key);
    if (it == tables_.end()) {
        Table t;
        t.label = label;
        const Metrics& m = metrics();
        const QChar* d = label.constData();
        const int n = label.size();
        t.advance.reserve(static_cast<size_t>(n / kCheckpoint) + 1);
        int64_t a = 0;
        int u = 0;
        for (int i = 0; i * static_cast<long long>(kCheckpoint) <= n; ++i) {
            const int b = boundary(d, n, i * kCheckpoint);
            while (u < b) {
                int units = 1;
                a += step(d, n, u, m, &units);
                u += units;
            }
            t.advance.push_back(a);
        }
        it = tables_.emplace(key, std::move(t)).first;
    }
    it->second.used = true;
    return it->second;
}

LabelCut::Cut LabelCut::cut(const QString& label, long long origin_x, int image_width, double scale, int thickness)
{
    const Metrics& m = metrics();
    const long long hscale = cvRound(scale * kOne); // as putText scales its glyphs
    int baseline = 0;
    Cut c;
    c.origin_x = origin_x;
    if (label.size() <= kShortLabel || !m.ok || hscale <= 0) {
        c.text = label.toStdString();
        const cv::Size size = cv::getTextSize(c.text, kFont, scale, thickness, &baseline);
        c.width = size.width;
        c.height = size.height;
        return c;
    }
    c.height = cv::getTextSize(std::string(), kFont, scale, thickness, &baseline).height;

    const QChar* d = label.constData();
    const int n = label.size();
    const __int128 base = static_cast<__int128>(origin_x) * kOne;
    auto pen = [&](int64_t advance) { return base + static_cast<__int128>(advance) * hscale; };
    // A stroke reaches at most the thickness (plus rounding) beyond its points.
    const __int128 reach = (static_cast<__int128>(thickness) + 2) * kOne;
    // Characters whose pen lies before `left` set no pixel in column 0 or
    // after; those whose pen lies at `right` or after none before column W.
    const __int128 left = -(static_cast<__int128>(m.hi) * hscale + reach);
    const __int128 right = static_cast<__int128>(image_width) * kOne - static_cast<__int128>(m.lo) * hscale + reach;

    // First character that can show: k, with the advance before it.
    int k = 0;
    int64_t ak = 0;
    // Moves k on while the next character still starts left of `left`;
    // false when it stopped at `limit` instead.
    auto skip = [&](int limit) {
        while (k < limit) {
            int units = 1;
            const int a = step(d, n, k, m, &units);
            if (pen(ak + a) >= left)
                return true;
            ak += a;
            k += units;
        }
        return k >= n;
    };
    if (pen(0) < left && !skip(std::min(n, kCheckpoint))) {
        // Far left: from the table's last entry left of the image on.
        {
            const Table& t = table(label);
            // The last table entry still left of the image.
            size_t lo = 0, hi = t.advance.size();
            while (hi - lo > 1) {
                const size_t mid = (lo + hi) / 2;
                (pen(t.advance[mid]) < left ? lo : hi) = mid;
            }
            if (static_cast<long long>(lo) * kCheckpoint > k) {
                k = boundary(d, n, static_cast<int>(lo) * kCheckpoint);
                ak = t.advance[lo];
            }
        }
        skip(n);
    }
    // One past the last character that can show.
    int e = k;
    int64_t ae = ak;
    while (e < n && pen(ae) < right) {
        int units = 1;
        ae += step(d, n, e, m, &units);
        e += units;
    }

    std::string filler;
    if (k > 0) {
        // Whole-pixel origin o and filler advance f with o * 65536 + f * hscale
        // the pen of character k: f = ak modulo 65536 / gcd(hscale, 65536),
        // made of i filler glyphs and j spaces.
        const int space = m.advance[static_cast<unsigned char>(' ')];
        const int a1 = m.advance[static_cast<unsigned char>(m.filler)];
        const long long period = kOne / gcd(hscale, kOne);
        long long f = ak % period;
        const long long least = static_cast<long long>(a1) * space;
        if (f < least)
            f += (least - f + period - 1) / period * period;
        int i = 0;
        while ((f - static_cast<long long>(i) * a1) % space != 0)
            ++i; // fewer than `space` steps: a1 and space share no factor
        const long long j = (f - static_cast<long long>(i) * a1) / space;
        long long o = 0;
        if (exact_quotient(pen(ak) - static_cast<__int128>(f) * hscale, kOne, &o) && o >= INT_MIN && o <= INT_MAX) {
            filler.assign(static_cast<size_t>(i), m.filler);
            filler.append(static_cast<size_t>(j), ' ');
            c.origin_x = o;
        } else {
            // Only at scales so large that few characters lie left of the
            // image: draw them.
            k = 0;
            ak = 0;
        }
    }
    c.text = filler + label.mid(k, e - k).toStdString();

    if (e < n) {
        c.width = static_cast<long long>(image_width) - origin_x; // the background reaches the right edge
    } else if (k == 0) {
        c.width = cv::getTextSize(c.text, kFont, scale, thickness, &baseline).width;
    } else {
        const double w = std::nearbyint(static_cast<double>(ae) * scale + thickness);
        c.width = w >= 9.0e18 ? LLONG_MAX / 4 : static_cast<long long>(w);
    }
    return c;
}
