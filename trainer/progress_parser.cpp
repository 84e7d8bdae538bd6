#include "progress_parser.h"

#include <QStringList>

#include <limits>

namespace {

// The text after the last comma (the whole text when there is none), as Qt
// reads the number: 0 when it is not one. A diverged run prints "nan" or "inf",
// which Qt reads as such, so the label shows it and the status line carries
// null rather than a loss of 0 that looks perfect. glibc prints a 0/0 with its
// sign bit set as "-nan", which Qt does not take for a number: a signed nan
// reads as nan too.
double value_after_last_comma(const QString& text)
{
    const int comma = text.lastIndexOf(',');
    const QString value = (comma < 0 ? text : text.mid(comma + 1)).trimmed();
    if ((value.startsWith('-') || value.startsWith('+')) && value.mid(1).compare("nan", Qt::CaseInsensitive) == 0)
        return std::numeric_limits<double>::quiet_NaN();
    return value.toDouble();
}

} // namespace

ProgressUpdate parse_progress_chunk(const QString& chunk_in)
{
    ProgressUpdate u;
    QString chunk = chunk_in;

    const QStringList closing = chunk.split(']', Qt::SkipEmptyParts);
    if (!closing.isEmpty()) {
        const QStringList opening = closing.first().split('[', Qt::SkipEmptyParts);
        if (opening.size() >= 2) {
            u.has_iteration = true;
            u.iteration_label = "iteration :" + opening[1];
            bool ok = false;
            const qint64 n = opening[1].trimmed().toLongLong(&ok);
            u.iteration = ok ? n : 0;
        }
    }

    if (chunk.contains(" avg,")) {
        chunk = chunk.left(chunk.indexOf(" avg,")).remove(' ');
        const QString rounded = QString::number(value_after_last_comma(chunk), 'f', 4);
        u.has_avg = true;
        u.avg_label = "Avg loss : " + rounded;
        u.avg = rounded.toDouble();
    }

    if (chunk.contains("avg loss")) {
        const int at = chunk.indexOf(" avg loss,");
        const QString before = at < 0 ? chunk : chunk.left(at);
        const QString rounded = QString::number(value_after_last_comma(before), 'f', 2);
        u.has_avg = true;
        u.avg_label = "Avg loss : " + rounded;
        u.avg = rounded.toDouble();
    }
    return u;
}

bool console_needs_clearing(const QString& console_text)
{
    return console_text.count('\n') + 1 > 50;
}
