#include "run_marker.h"

#include "atomic_file.h"

#include <QProcess>

#include <cstdio>

QByteArray run_marker_text()
{
    QProcess date;
    date.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    date.start(QStringLiteral("date"), QStringList(), QIODevice::ReadOnly);
    QByteArray text;
    if (date.waitForStarted(5000) && date.waitForFinished(5000))
        text = date.readAllStandardOutput();
    if (date.state() != QProcess::NotRunning) {
        date.kill();
        date.waitForFinished(1000);
    }
    while (text.endsWith('\n'))
        text.chop(1);
    return text + '\n';
}

void write_run_marker(const QString& path)
{
    QString why;
    if (write_file_atomically(path, run_marker_text(), kExchangeFile, &why))
        return;
    std::fprintf(stderr, "loop_cmd: cannot write %s: %s\n", qPrintable(path), qPrintable(why));
    if (!write_file_atomically(path, QByteArray(), kExchangeFile, &why))
        std::fprintf(stderr, "loop_cmd: cannot write an empty %s either: %s\n", qPrintable(path), qPrintable(why));
}
