#include "server_lock.h"

#include "exchange_check.h"
#include "exchange_paths.h"

#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sarvik_server {

namespace {

const char* const kProgram = "sarvik_server";

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The lock this process holds, until it ends. At a normal end the file is
// removed while still locked, and only when the name still stands for it: a
// server that opened it meanwhile then finds its lock on a file that is no
// longer at the name, and starts again from the name (see take_once). When
// the process dies instead, the file stays and the kernel frees the lock.
struct HeldLock {
    int fd = -1;
    struct stat file {};

    ~HeldLock()
    {
        if (fd < 0)
            return;
        struct stat now {};
        if (::lstat(sarvik_paths::kLockFile, &now) == 0 && same_file(now, file))
            ::unlink(sarvik_paths::kLockFile);
        ::close(fd);
    }
};

HeldLock& held_lock()
{
    static HeldLock lock;
    return lock;
}

// The process id at the start of the lock file ("<pid>\n"), or 0 when the
// file holds anything else.
long long holder_pid(int fd)
{
    char text[24] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    long long pid = 0;
    for (ssize_t i = 0; i < n; ++i) {
        if (text[i] == '\n')
            return i > 0 ? pid : 0;
        if (text[i] < '0' || text[i] > '9' || pid > (1LL << 31))
            return 0;
        pid = pid * 10 + (text[i] - '0');
    }
    return 0;
}

void report_held(int fd)
{
    const long long pid = holder_pid(fd);
    if (pid > 0)
        std::fprintf(stderr, "%s: another server (process %lld) already serves /tmp: it holds %s\n", kProgram, pid,
                     sarvik_paths::kLockFile);
    else
        std::fprintf(stderr, "%s: another server already serves /tmp: it holds %s\n", kProgram,
                     sarvik_paths::kLockFile);
}

void report_cannot_take(const char* why)
{
    std::fprintf(stderr, "%s: cannot take the lock %s: %s\n", kProgram, sarvik_paths::kLockFile, why);
}

// Why the lock file may not be removed or replaced by this process, or, when
// nothing there refuses it, the system's reason for the failure.
QString refusal(int error_number)
{
    const QString why = exchange_check::why_not_replaceable(QString::fromLatin1(sarvik_paths::kLockFile));
    return why.isEmpty() ? QString::fromLocal8Bit(std::strerror(error_number)) : why;
}

enum class Step { Taken, Again, Refused };

// Removes the link, FIFO or other non-regular file standing at the lock's
// name. Two servers starting at once may both find it there; the removal of
// one must never hit the lock file the other has made meanwhile. So the
// removal holds a lock on the lock's folder (taken only on this rare path,
// for a moment) and looks at the name again under it.
Step remove_non_lock()
{
    const char* path = sarvik_paths::kLockFile;
    const std::string folder(path, std::strrchr(path, '/') - path);
    const int gate = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (gate < 0) {
        std::fprintf(stderr, "%s: cannot remove %s, which is not a lock file: %s\n", kProgram, path,
                     std::strerror(errno));
        return Step::Refused;
    }
    bool gated = false;
    for (int attempt = 0; attempt < 200 && !gated; ++attempt) {
        gated = ::flock(gate, LOCK_EX | LOCK_NB) == 0;
        if (!gated && errno != EWOULDBLOCK && errno != EINTR)
            break;
        if (!gated)
            ::usleep(10000);
    }
    if (!gated) {
        std::fprintf(stderr, "%s: cannot remove %s, which is not a lock file: another process locks %s\n", kProgram,
                     path, folder.c_str());
        ::close(gate);
        return Step::Refused;
    }
    Step step = Step::Again;
    struct stat st {};
    if (::lstat(path, &st) == 0 && !S_ISREG(st.st_mode) && ::unlink(path) != 0 && errno != ENOENT) {
        std::fprintf(stderr, "%s: cannot remove %s, which is not a lock file: %s\n", kProgram, path,
                     std::strerror(errno));
        step = Step::Refused;
    }
    ::close(gate); // frees the folder's lock
    return step;
}

// Opens the regular file at the lock's name: for writing where this user
// may, else for reading, which is enough for the lock. Never through a link,
// never waiting on a FIFO.
int open_lock_file(bool* writable)
{
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(sarvik_paths::kLockFile, O_RDWR | flags);
    *writable = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = ::open(sarvik_paths::kLockFile, O_RDONLY | flags);
    return fd;
}

// One look at the name. Again when what stands there changed meanwhile.
Step take_once()
{
    const char* path = sarvik_paths::kLockFile;
    struct stat st {};
    int fd = -1;
    bool writable = false;
    if (::lstat(path, &st) != 0) {
        if (errno != ENOENT) {
            report_cannot_take(std::strerror(errno));
            return Step::Refused;
        }
        // O_EXCL: a file that appeared meanwhile is looked at again, never
        // opened by a create (which a sticky folder may refuse for a file of
        // another user).
        fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                return Step::Again;
            const bool denied = errno == EACCES || errno == EPERM;
            std::fprintf(stderr, "%s: cannot create the lock %s: %s\n", kProgram, path,
                         denied ? "permission denied" : std::strerror(errno));
            return Step::Refused;
        }
        writable = true;
        ::fchmod(fd, 0644); // readable by every user, whatever the umask
    } else if (!S_ISREG(st.st_mode)) {
        return remove_non_lock();
    } else {
        fd = open_lock_file(&writable);
        if (fd < 0) {
            if (errno == ENOENT || errno == ELOOP || errno == ENXIO)
                return Step::Again;
            report_cannot_take(qPrintable(refusal(errno)));
            return Step::Refused;
        }
    }

    auto give_up = [fd](Step step) {
        ::close(fd);
        return step;
    };
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))
        return give_up(Step::Again); // replaced between the look and the open
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        if (errno == EWOULDBLOCK)
            report_held(fd);
        else
            report_cannot_take(std::strerror(errno));
        return give_up(Step::Refused);
    }
    // The lock counts only while the name still stands for the locked file:
    // the file may have been removed after the open (a server that ended).
    struct stat now {};
    if (::lstat(path, &now) != 0 || !same_file(now, opened))
        return give_up(Step::Again);

    if (now.st_nlink != 1) {
        // A hard link at the lock's name to a file kept elsewhere, which
        // taking the lock would empty: only the name is removed, while its
        // lock is held, so never the name of a live server's lock (with a
        // second name or not, its lock is refused above).
        if (::unlink(path) == 0)
            return give_up(Step::Again);
        std::fprintf(stderr, "%s: cannot remove %s, which is not a lock file: %s\n", kProgram, path,
                     std::strerror(errno));
        return give_up(Step::Refused);
    }

    if (opened.st_uid != ::geteuid()) {
        // No process holds this file, but its owner could remove it while
        // this server serves, and a second server would then lock a new one:
        // the lock must be a file of this user. It is replaced where this
        // process may (it holds its lock meanwhile), else the start refused.
        const QString why = exchange_check::why_not_replaceable(QString::fromLatin1(path));
        if (why.isEmpty() && ::unlink(path) == 0)
            return give_up(Step::Again);
        const QString reason = why.isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : why;
        const long long pid = holder_pid(fd);
        if (pid > 0)
            std::fprintf(stderr, "%s: cannot take over the lock %s of a server that ended (process %lld): %s\n",
                         kProgram, path, pid, qPrintable(reason));
        else
            std::fprintf(stderr, "%s: cannot take over the lock %s: %s\n", kProgram, path, qPrintable(reason));
        return give_up(Step::Refused);
    }

    // This server's process id, for the message of a second one. The lock
    // does not depend on it: when it cannot be written (a full /tmp), the
    // file is left empty.
    if (writable && ::ftruncate(fd, 0) == 0) {
        const std::string text = std::to_string(static_cast<long long>(::getpid())) + "\n";
        if (::pwrite(fd, text.data(), text.size(), 0) != ssize_t(text.size()))
            (void)!::ftruncate(fd, 0);
    }
    HeldLock& lock = held_lock();
    lock.fd = fd;
    lock.file = opened;
    return Step::Taken;
}

} // namespace

bool take_server_lock()
{
    // Each Again means the name changed while being looked at (a server that
    // started or ended meanwhile); a few rounds settle it.
    for (int round = 0; round < 20; ++round) {
        switch (take_once()) {
        case Step::Taken:
            return true;
        case Step::Refused:
            std::fflush(stderr);
            return false;
        case Step::Again:
            break;
        }
    }
    report_cannot_take("it keeps being replaced");
    std::fflush(stderr);
    return false;
}

} // namespace sarvik_server
