#include "model_folder.h"

#include "simplecrypt.h"

#include <QFile>

bool description_in_clear(const QString& text, QString* clear)
{
    const int at = text.indexOf(QLatin1String(kProtectedSeparator));
    if (at < 0) {
        *clear = text;
        return true;
    }
    const QString head = text.left(at);
    // The cipher text is plain Base64; a line break an editor may have added
    // after it is not part of it.
    const QString cipher = text.mid(at + static_cast<int>(qstrlen(kProtectedSeparator))).trimmed();
    const QString body = SimpleCrypt(kNomuCryptKey).decryptToString(cipher);
    if (body.isEmpty())
        return false;
    *clear = head + "\n" + body;
    return true;
}

std::vector<std::string> parse_names(const QByteArray& bytes)
{
    std::vector<std::string> names;
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        names.push_back(line.toStdString());
    }
    return names;
}

namespace {

bool read_whole(const QString& path, QByteArray* bytes, QString* error)
{
    QFile f(path);
    if (!f.exists()) {
        *error = "not found : " + path;
        return false;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        *error = "cannot read " + path + " : " + f.errorString();
        return false;
    }
    *bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = "cannot read " + path + " : " + f.errorString();
        return false;
    }
    return true;
}

} // namespace

bool read_model_folder(const QString& dir, ModelFiles* out, QString* error)
{
    QByteArray cfg, weights, names;
    if (!read_whole(dir + "/test.cfg", &cfg, error) || !read_whole(dir + "/train.weights", &weights, error) ||
        !read_whole(dir + "/obj.names", &names, error))
        return false;
    QString clear;
    if (!description_in_clear(QString::fromUtf8(cfg), &clear)) {
        *error = dir + "/test.cfg is protected but its body does not decipher";
        return false;
    }
    out->cfg_text = clear.toStdString();
    out->weights = weights.toStdString();
    out->class_names = parse_names(names);
    return true;
}
