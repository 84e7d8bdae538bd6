#include "status_line.h"

#include "atomic_file.h"

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
    QByteArray bytes = line;
    bytes.append('\n');
    return write_file_atomically(path, bytes);
}

} // namespace status_line
