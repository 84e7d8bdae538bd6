#include "file_name_escape.h"

#include <QByteArray>

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

} // namespace

QString escape_file_name(const QString& label)
{
    if (label.isEmpty())
        return QStringLiteral("%");

    QString out;
    out.reserve(label.size());
    for (int i = 0; i < label.size(); ++i) {
        const QChar c = label.at(i);
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
