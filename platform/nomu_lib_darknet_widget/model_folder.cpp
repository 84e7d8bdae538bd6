#include "model_folder.h"

#include "bounded_input.h"
#include "input_limits.h"
#include "simplecrypt.h"

#include <QList>

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

// The reasons name the path, and the limit when the file is too large.
bool read_whole(const QString& path, qint64 limit, QByteArray* bytes, QString* error,
                const std::function<bool(qint64, QString*)>& size_ok = nullptr)
{
    const bounded_input::ReadStatus status = bounded_input::read_regular_file(path, limit, bytes, error, size_ok);
    if (status == bounded_input::ReadStatus::Missing)
        *error = "not found : " + path;
    return status == bounded_input::ReadStatus::Ok;
}

} // namespace

bool read_model_folder(const QString& dir, ModelFiles* out, QString* error, const WeightsSizeCheck& weights_size_ok)
{
    QByteArray cfg, weights, names;
    if (!read_whole(dir + "/test.cfg", input_limits::kModelDescriptionBytes, &cfg, error))
        return false;
    QString clear;
    if (!description_in_clear(QString::fromUtf8(cfg), &clear)) {
        *error = dir + "/test.cfg is protected but its body does not decipher";
        return false;
    }
    cfg.clear();
    std::string cfg_text = clear.toStdString();
    std::function<bool(qint64, QString*)> size_ok;
    if (weights_size_ok)
        size_ok = [&](qint64 size, QString* why) { return weights_size_ok(cfg_text, size, why); };
    if (!read_whole(dir + "/train.weights", input_limits::kModelWeightsBytes, &weights, error, size_ok) ||
        !read_whole(dir + "/obj.names", input_limits::kModelNamesBytes, &names, error))
        return false;
    const int lines = names.count('\n') + (!names.isEmpty() && !names.endsWith('\n') ? 1 : 0);
    if (lines > input_limits::kModelClassNames) {
        *error = QStringLiteral("%1/obj.names holds %2 names, more than the limit of %3")
                     .arg(dir)
                     .arg(lines)
                     .arg(input_limits::kModelClassNames);
        return false;
    }
    out->cfg_text = std::move(cfg_text);
    out->weights = weights.toStdString();
    out->class_names = parse_names(names);
    return true;
}
