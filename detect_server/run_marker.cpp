#include "run_marker.h"

#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens the marker for writing, emptied: the file that stands at the name
// when it is a regular file, so that its inode, which a client may be
// watching, stays; otherwise a new plain file in its place (a link planted at
// the name is removed, never followed; a FIFO is never waited on). -1, with
// errno set, on failure.
int open_marker(const QByteArray& name)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) {
                errno = EISDIR;
                return -1;
            }
            if (::unlink(name.constData()) != 0 && errno != ENOENT)
                return -1;
        }
        int fd = ::open(name.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) {
            // A file this user may not write (one left by another user, where
            // the folder allows its removal): a new one takes its place.
            if (::unlink(name.constData()) != 0 && errno != ENOENT)
                return -1;
            errno = ENOENT;
        }
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
            // 0644 whatever the umask, as the marker always was.
            if (fd >= 0 && ::fchmod(fd, 0644) != 0) {
                const int refused = errno;
                ::close(fd);
                errno = refused;
                return -1;
            }
        }
        if (fd < 0) {
            // Something else appeared at the name meanwhile (a link: ELOOP, a
            // FIFO without reader: ENXIO, a new file: EEXIST): look again.
            if (errno == ELOOP || errno == ENXIO || errno == EEXIST)
                continue;
            return -1;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
            // Back to blocking writes, as for any file.
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0)
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            return fd;
        }
        // A FIFO with a reader or a device slipped in between lstat and open.
        ::close(fd);
        if (::unlink(name.constData()) != 0 && errno != ENOENT)
            return -1;
    }
    errno = EAGAIN;
    return -1;
}

bool write_all(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= size_t(n);
    }
    return true;
}

} // namespace

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

bool write_run_marker(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const QByteArray text = run_marker_text();
    const int fd = open_marker(name);
    if (fd < 0) {
        std::fprintf(stderr, "loop_cmd: cannot write %s: %s\n", name.constData(), std::strerror(errno));
        std::fflush(stderr);
        return false;
    }
    if (!write_all(fd, text)) {
        // A full disk or a file-size limit: the marker is left empty, which
        // still tells the client that the command has finished, never with a
        // part of the date.
        const int refused = errno;
        std::fprintf(stderr, "loop_cmd: cannot write %s: %s\n", name.constData(), std::strerror(refused));
        if (::ftruncate(fd, 0) != 0)
            std::fprintf(stderr, "loop_cmd: cannot empty %s either: %s\n", name.constData(), std::strerror(errno));
        std::fflush(stderr);
    }
    if (::close(fd) != 0 && errno != EINTR) {
        std::fprintf(stderr, "loop_cmd: cannot write %s: %s\n", name.constData(), std::strerror(errno));
        std::fflush(stderr);
    }
    return true;
}
