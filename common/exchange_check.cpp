#include "exchange_check.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace exchange_check {

namespace {

QString system_reason(int error_number)
{
    return QString::fromLocal8Bit(std::strerror(error_number));
}

// CAP_FOWNER lets a process remove another user's file from a sticky folder.
bool has_fowner_capability()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
}

// The immutable and append-only attributes: from statx where the file system
// reports them, else from FS_IOC_GETFLAGS on a regular file or a folder (a
// FIFO or a device is never opened). False when they cannot be told.
bool read_attributes(const QByteArray& path, const struct stat& st, bool* immutable, bool* append_only)
{
    struct statx sx {};
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &sx) == 0) {
        const unsigned long long wanted = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
        if ((sx.stx_attributes_mask & wanted) == wanted) {
            *immutable = (sx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
            *append_only = (sx.stx_attributes & STATX_ATTR_APPEND) != 0;
            return true;
        }
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    if (!ok)
        return false;
    *immutable = (flags & FS_IMMUTABLE_FL) != 0;
    *append_only = (flags & FS_APPEND_FL) != 0;
    return true;
}

} // namespace

QString why_not_replaceable(const QString& path)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());

    struct stat dir {};
    if (::stat(folder.constData(), &dir) != 0)
        return "its folder " + info.absolutePath() + ": " + system_reason(errno);
    if (::access(folder.constData(), W_OK | X_OK) != 0)
        return "its folder " + info.absolutePath() + " takes no new file: " + system_reason(errno);

    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        if (errno == ENOENT)
            return QString();
        return system_reason(errno);
    }
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    const uid_t me = ::geteuid();
    if ((dir.st_mode & S_ISVTX) && st.st_uid != me && dir.st_uid != me && !has_fowner_capability())
        return QString("it belongs to another user (uid %1) and %2 is sticky").arg(st.st_uid).arg(info.absolutePath());
    bool immutable = false;
    bool append_only = false;
    if (read_attributes(name, st, &immutable, &append_only)) {
        if (immutable)
            return QStringLiteral("it is immutable");
        if (append_only)
            return QStringLiteral("it is append-only");
    }
    return QString();
}

QString why_not_rewritable(const QString& path)
{
    const QByteArray name = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(name.constData(), W_OK) == 0) {
        // An append-only file takes no truncation; access() already refuses
        // an immutable one.
        bool immutable = false;
        bool append_only = false;
        if (!read_attributes(name, st, &immutable, &append_only) || (!immutable && !append_only))
            return QString();
    }
    return why_not_replaceable(path);
}

bool report_unreplaceable(const char* program, const QStringList& replaced, const QStringList& rewritten)
{
    bool ok = true;
    auto check = [&](const QString& path, const QString& why) {
        if (why.isEmpty())
            return;
        std::fprintf(stderr, "%s: cannot replace %s: %s\n", program, qPrintable(path), qPrintable(why));
        ok = false;
    };
    for (const QString& path : replaced)
        check(path, why_not_replaceable(path));
    for (const QString& path : rewritten)
        check(path, why_not_rewritable(path));
    std::fflush(stderr);
    return ok;
}

bool remove_exchange_file(const QString& path, const char* who)
{
    if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
        return true;
    const int error_number = errno;
    std::fprintf(stderr, "%s: cannot remove %s: %s\n", who, qPrintable(path), std::strerror(error_number));
    std::fflush(stderr);
    return false;
}

} // namespace exchange_check
