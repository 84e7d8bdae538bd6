#include "text_util.h"

#include "atomic_file.h"
#include "bounded_input.h"

#include <QFile>

#include <cctype>
#include <filesystem>
#include <system_error>

namespace nomu_ros {

std::vector<std::string> splitWhitespace(const std::string& text)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            if (!cur.empty() && cur.back() == '\r')
                cur.pop_back();
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) {
        if (cur.back() == '\r')
            cur.pop_back();
        out.push_back(cur);
    }
    return out;
}

std::string trim(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    return text.substr(b, e - b);
}

std::string removeBlanks(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += c;
    return out;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size()
        && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

namespace {

// A path as Qt's file functions take it, so that they open the same bytes.
QString qtPath(const std::string& path)
{
    return QFile::decodeName(QByteArray(path.data(), static_cast<int>(path.size())));
}

} // namespace

InputStatus readInputFile(const std::string& path, long long limit, std::string& content, std::string& error)
{
    content.clear();
    QByteArray bytes;
    QString why;
    switch (bounded_input::read_regular_file(qtPath(path), limit, &bytes, &why)) {
    case bounded_input::ReadStatus::Ok:
        content.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
        return InputStatus::Ok;
    case bounded_input::ReadStatus::Missing:
        error = why.toStdString();
        return InputStatus::Missing;
    case bounded_input::ReadStatus::Refused:
    case bounded_input::ReadStatus::TooLarge:
        break;
    }
    error = why.toStdString();
    return InputStatus::Refused;
}

InputStatus checkInputFile(const std::string& path, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) {
        error = path + " does not exist";
        return InputStatus::Missing;
    }
    QFile file;
    QString why;
    if (!bounded_input::open_regular_file(qtPath(path), &file, &why)) {
        error = why.toStdString();
        return InputStatus::Refused;
    }
    return InputStatus::Ok;
}

bool writeFileAtomically(const std::string& path, const std::string& content, std::string* error)
{
    QString why;
    const bool ok = write_file_atomically(qtPath(path),
                                          QByteArray(content.data(), static_cast<int>(content.size())),
                                          kOutputFile, &why);
    if (!ok && error)
        *error = why.toStdString();
    return ok;
}

bool copyFileAtomically(const std::string& from, const std::string& to, std::string* error)
{
    QFile in;
    QString why;
    if (!bounded_input::open_regular_file(qtPath(from), &in, &why)) {
        if (error)
            *error = why.toStdString();
        return false;
    }
    AtomicFileWriter out(qtPath(to), kOutputFile);
    bool ok = out.open();
    while (ok) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty()) {
            if (in.error() != QFileDevice::NoError) {
                if (error)
                    *error = "cannot read " + from + ": " + in.errorString().toStdString();
                return false;
            }
            break;
        }
        ok = out.write(block);
    }
    if (ok)
        ok = out.commit();
    if (!ok && error)
        *error = out.errorString().toStdString();
    return ok;
}

} // namespace nomu_ros
