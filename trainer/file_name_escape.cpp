#include "file_name_escape.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>

namespace {

void append_percent_encoded(QString& out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    for (char c : bytes)
        out += QString("%%1").arg(static_cast<unsigned char>(c), 2, 16, QChar('0')).toUpper();
}

bool hex_digits(const QString& text, int from, int count)
{
    if (from + count > text.size())
        return false;
    for (int i = from; i < from + count; ++i) {
        const ushort c = text.at(i).unicode();
        if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F'))
            return false;
    }
    return true;
}

// Whether the "%" at `i` of the label would read as the start of an escape.
bool percent_reads_as_escape(const QString& label, int i)
{
    return label.size() == 1 || hex_digits(label, i + 1, 2) ||
           (i + 1 < label.size() && label.at(i + 1) == QLatin1Char('u') && hex_digits(label, i + 2, 4));
}

// The UTF-8 length of out[from..]: every unit is a whole character or a
// whole surrogate pair there (lone surrogates were escaped).
int utf8_length(const QString& out, int from)
{
    int n = 0;
    for (int i = from; i < out.size(); ++i) {
        const ushort u = out.at(i).unicode();
        if (u < 0x80)
            n += 1;
        else if (u < 0x800)
            n += 2;
        else if (QChar::isHighSurrogate(u))
            n += 4, ++i;
        else
            n += 3;
    }
    return n;
}

// "%7E" and 16 hexadecimal digits of the whole label's SHA-256. The escapes
// never write "%7E" ("~" is kept as it is, and a "%7E" of the label becomes
// "%257E"), so a cut name never equals the name of a label that was not cut,
// and two cut labels share a name only when their digests do.
QString cut_mark(const QString& label)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(reinterpret_cast<const char*>(label.constData()), label.size() * 2),
        QCryptographicHash::Sha256);
    return QStringLiteral("%7E") + QString::fromLatin1(digest.left(8).toHex());
}

} // namespace

// The escaped label, or, when its UTF-8 form is longer than kMaxEscapedBytes,
// its longest prefix of whole escapes and characters that leaves room for
// the cut mark and the digest of the whole label.
QString escape_file_name(const QString& label)
{
    if (label.isEmpty())
        return QStringLiteral("%");

    const int budget = kMaxEscapedBytes - kCutMarkBytes;
    QString out;
    out.reserve(std::min(label.size(), kMaxEscapedBytes));
    int bytes = 0;      // UTF-8 length of `out`
    int kept_size = -1; // size of `out` while it still fitted the cut budget
    for (int i = 0; i < label.size(); ++i) {
        const QChar c = label.at(i);
        const int before = out.size();
        if (c == QLatin1Char('%'))
            out += percent_reads_as_escape(label, i) ? QStringLiteral("%25") : QStringLiteral("%");
        else if (c == QLatin1Char('/'))
            out += QStringLiteral("%2F");
        else if (c.category() == QChar::Other_Control) // U+0000..U+001F, U+007F..U+009F
            append_percent_encoded(out, QString(c));
        else if (c.isHighSurrogate() && i + 1 < label.size() && label.at(i + 1).isLowSurrogate()) {
            out += c;
            out += label.at(++i);
        } else if (c.isSurrogate())
            // A lone surrogate has no UTF-8 form: on disk it would turn into
            // a replacement character shared with other labels.
            out += QStringLiteral("%u") + QString("%1").arg(c.unicode(), 4, 16, QChar('0')).toUpper();
        else
            out += c;
        bytes += utf8_length(out, before);
        if (bytes <= budget)
            kept_size = out.size();
        if (bytes > kMaxEscapedBytes) {
            out.truncate(kept_size);
            return out + cut_mark(label);
        }
    }
    return out;
}

QString escape_folder_name(const QString& label)
{
    if (label == QLatin1String("."))
        return QStringLiteral("%2E");
    if (label == QLatin1String(".."))
        return QStringLiteral("%2E%2E");
    return escape_file_name(label);
}
