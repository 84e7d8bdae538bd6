#include "server_start.h"

#include "exchange_check.h"
#include "exchange_paths.h"

#include <QLockFile>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace sarvik_server {

namespace {

const char* const kProgram = "sarvik_server";

// Held until the process ends; its destructor, run at a normal exit, frees
// the lock for the next server.
QLockFile& server_lock()
{
    static QLockFile lock(QString::fromLatin1(sarvik_paths::kLockFile));
    return lock;
}

bool take_lock()
{
    const char* path = sarvik_paths::kLockFile;
    // QLockFile reads whatever stands at the name: a FIFO or a link planted
    // there could hold it up, so only a regular file is left to it.
    struct stat st {};
    if (::lstat(path, &st) == 0 && !S_ISREG(st.st_mode) && ::unlink(path) != 0) {
        std::fprintf(stderr, "%s: cannot remove %s, which is not a lock file: %s\n", kProgram, path,
                     std::strerror(errno));
        return false;
    }
    QLockFile& lock = server_lock();
    // Never stale by age: only a lock whose server has died is taken over
    // (QLockFile looks for the process that wrote it).
    lock.setStaleLockTime(0);
    if (lock.tryLock(0))
        return true;
    switch (lock.error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host, app;
        if (!lock.getLockInfo(&pid, &host, &app))
            std::fprintf(stderr, "%s: another server already serves /tmp: it holds %s\n", kProgram, path);
        else if (pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            std::fprintf(stderr, "%s: another server (process %lld) already serves /tmp: it holds %s\n", kProgram,
                         static_cast<long long>(pid), path);
        else
            // The server that held it has ended, but its lock cannot be
            // removed (one of another user in the sticky /tmp).
            std::fprintf(stderr, "%s: cannot take over the lock %s of a server that ended (process %lld): %s\n",
                         kProgram, path, static_cast<long long>(pid),
                         qPrintable(exchange_check::why_not_replaceable(QString::fromLatin1(path))));
        break;
    }
    case QLockFile::PermissionError:
        std::fprintf(stderr, "%s: cannot create the lock %s: permission denied\n", kProgram, path);
        break;
    default:
        std::fprintf(stderr, "%s: cannot take the lock %s\n", kProgram, path);
        break;
    }
    return false;
}

} // namespace

bool ready_to_serve()
{
    if (!take_lock())
        return false;
    // The command file is removed after every command; the log, the result
    // image and the marker are replaced (the marker, where possible, in
    // place).
    return exchange_check::report_unreplaceable(
        kProgram, {sarvik_paths::kCommandFile, sarvik_paths::kLogFile, sarvik_paths::kResultImage},
        {sarvik_paths::kRunMarker});
}

} // namespace sarvik_server
