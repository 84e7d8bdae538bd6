#include "status_line.h"

#include "atomic_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <unistd.h>

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

bool replace_file(const QString& path, const QByteArray& line, QString* why)
{
    QByteArray bytes = line;
    bytes.append('\n');
    if (write_file_atomically(path, bytes, kExchangeFile, why))
        return true;
    // Removing the name never touches what a symbolic link there points to.
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT && why)
        *why += QStringLiteral("; the earlier line stays, it cannot be removed either: ")
                + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

} // namespace status_line
