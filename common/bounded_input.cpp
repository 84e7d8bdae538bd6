#include "bounded_input.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bounded_input {

namespace {

QString system_error(const char* what, const QString& path, int err)
{
    return QStringLiteral("cannot %1 %2: %3").arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(err)));
}

QString not_regular(const QString& path)
{
    return path + QStringLiteral(" is not a regular file");
}

QString too_large(const QString& path, qint64 limit)
{
    return path + QStringLiteral(" is larger than the limit of ") + size_text(limit);
}

// The descriptor of the regular file `path` (its status in *st), or -1 with
// *status and *error set.
int open_regular(const QString& path, struct stat* st, ReadStatus* status, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), st) != 0) {
        const int err = errno;
        *status = err == ENOENT ? ReadStatus::Missing : ReadStatus::Refused;
        *error = err == ENOENT ? path + QStringLiteral(" does not exist") : system_error("read", path, err);
        return -1;
    }
    // A device is refused before it is opened: opening some has effects.
    if (!S_ISREG(st->st_mode)) {
        *status = ReadStatus::Refused;
        *error = not_regular(path);
        return -1;
    }
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        *status = err == ENOENT ? ReadStatus::Missing : ReadStatus::Refused;
        *error = system_error("open", path, err);
        return -1;
    }
    // The name may have been swapped since the look above: what counts is
    // the file now open.
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        *status = ReadStatus::Refused;
        *error = not_regular(path);
        return -1;
    }
    return fd;
}

} // namespace

ReadStatus read_regular_file(const QString& path, qint64 limit, QByteArray* bytes, QString* error)
{
    return read_regular_file(path, limit, bytes, error, nullptr);
}

ReadStatus read_regular_file(const QString& path, qint64 limit, QByteArray* bytes, QString* error,
                             const std::function<bool(qint64 size, QString* error)>& size_ok)
{
    bytes->clear();
    limit = qBound<qint64>(0, limit, kMaxLimit);
    struct stat st;
    ReadStatus status = ReadStatus::Ok;
    const int fd = open_regular(path, &st, &status, error);
    if (fd < 0)
        return status;
    if (st.st_size > limit) {
        ::close(fd);
        *error = too_large(path, limit);
        return ReadStatus::TooLarge;
    }
    if (size_ok && !size_ok(static_cast<qint64>(st.st_size), error)) {
        ::close(fd);
        return ReadStatus::Refused;
    }
    // The size may still change while it is read: one byte beyond the limit
    // is asked for, so that a file grown past it is seen.
    QByteArray data;
    data.resize(static_cast<int>(qMin<qint64>(st.st_size, limit) + 1));
    qint64 got = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > limit)
                break;
            data.resize(static_cast<int>(qMin<qint64>(limit + 1, 2 * got + 4096)));
        }
        const ssize_t n = ::read(fd, data.data() + got, static_cast<size_t>(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            *error = system_error("read", path, err);
            return ReadStatus::Refused;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > limit) {
        *error = too_large(path, limit);
        return ReadStatus::TooLarge;
    }
    data.resize(static_cast<int>(got));
    *bytes = data;
    return ReadStatus::Ok;
}

bool open_regular_file(const QString& path, QFile* file, QString* error)
{
    struct stat st;
    ReadStatus status = ReadStatus::Ok;
    const int fd = open_regular(path, &st, &status, error);
    if (fd < 0)
        return false;
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = QStringLiteral("cannot open ") + path + QStringLiteral(": ") + file->errorString();
        return false;
    }
    return true;
}

QString size_text(qint64 bytes)
{
    if (bytes >= (qint64(1) << 30) && bytes % (qint64(1) << 30) == 0)
        return QString::number(bytes >> 30) + QStringLiteral(" GiB");
    if (bytes >= (qint64(1) << 20) && bytes % (qint64(1) << 20) == 0)
        return QString::number(bytes >> 20) + QStringLiteral(" MiB");
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QString::number(bytes >> 10) + QStringLiteral(" KiB");
    return QString::number(bytes) + QStringLiteral(" bytes");
}

} // namespace bounded_input
