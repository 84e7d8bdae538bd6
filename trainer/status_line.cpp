#include "status_line.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

namespace status_line {

QByteArray shell_quote_removed(const QString& text)
{
    const QByteArray in = text.toUtf8();
    QByteArray out;
    out.reserve(in.size());
    for (int i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '\\' && i + 1 < in.size()) {
            const char n = in[i + 1];
            if (n == '"' || n == '\\' || n == '$' || n == '`') {
                out.append(n);
                ++i;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

bool replace_file(const QString& path, const QByteArray& line)
{
    const QFileInfo target(path);
    QTemporaryFile tmp(target.absolutePath() + "/." + target.fileName() + ".XXXXXX");
    if (!tmp.open())
        return false;
    QByteArray bytes = line;
    bytes.append('\n');
    if (tmp.write(bytes) != bytes.size() || !tmp.flush())
        return false;
    tmp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    tmp.close();
    // rename(2) replaces the target (a symbolic link included) in one step.
    const QByteArray from = QFile::encodeName(tmp.fileName());
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) != 0)
        return false;
    tmp.setAutoRemove(false);
    return true;
}

} // namespace status_line
