#include "engine_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace nomu_ros {

namespace {

using Clock = std::chrono::steady_clock;

// A line longer than this without a newline is passed on as it stands.
constexpr size_t kMaxPendingLine = 64 * 1024;

void writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the reader is gone; training goes on
        done += static_cast<size_t>(n);
    }
}

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// True while the process holds a file below `dir` open (a weights save).
bool holdsFileBelow(pid_t pid, const std::string& dir)
{
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(dir, ec);
    if (ec)
        return false;
    const std::string prefix = base.string() + "/";
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = ::opendir(fdDir.c_str());
    if (!d)
        return false;
    bool found = false;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        char target[4096];
        const std::string link = fdDir + "/" + e->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (std::strncmp(target, prefix.c_str(), prefix.size()) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

class LineSplitter {
public:
    template <typename F>
    void feed(const char* data, size_t n, F&& onLine)
    {
        pending_.append(data, n);
        size_t start = 0;
        for (;;) {
            const size_t nl = pending_.find('\n', start);
            if (nl == std::string::npos)
                break;
            onLine(pending_.substr(start, nl - start));
            start = nl + 1;
        }
        pending_.erase(0, start);
        if (pending_.size() > kMaxPendingLine) {
            onLine(pending_);
            pending_.clear();
        }
    }
    template <typename F>
    void finish(F&& onLine)
    {
        if (!pending_.empty())
            onLine(pending_);
        pending_.clear();
    }

private:
    std::string pending_;
};

} // namespace

sigset_t stopSignalSet()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    sigaddset(&mask, SIGCHLD);
    return mask;
}

EngineEnd runEngine(const EngineRunOptions& options, EngineOutputMonitor& monitor, const std::string& backupDir)
{
    EngineEnd end;
    const std::string prefix = options.programName + ": ";

    const sigset_t mask = stopSignalSet();
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    const int sfd = ::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    std::signal(SIGPIPE, SIG_IGN);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    int errPipe[2] = {-1, -1};
    if (sfd < 0 || master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0
        || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        writeAll(2, prefix + "cannot set up the engine's output: " + std::strerror(errno) + "\n");
        end.startFailed = true;
        return end;
    }
    const std::string slaveName = ::ptsname(master);

    std::vector<std::string> argvStore;
    argvStore.push_back(options.engine);
    argvStore.insert(argvStore.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStore)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        writeAll(2, prefix + "cannot start the engine: " + std::strerror(errno) + "\n");
        end.startFailed = true;
        return end;
    }
    if (pid == 0) {
        // Child: its own session with the pseudo-terminal as controlling
        // terminal, so the whole engine can be signalled as one group.
        // The engine starts with no signal blocked (this process blocks the
        // stop signals to receive them through the signal descriptor).
        // This process ignores SIGXFSZ to see its own writes beyond a
        // file-size limit fail; the engine gets the default, so that such a
        // write (darknet does not check its writes) ends it rather than
        // leaving it to go on after a cut save.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGXFSZ, SIG_DFL);
        ::setsid();
        const int slave = ::open(slaveName.c_str(), O_RDWR);
        if (slave < 0)
            ::_exit(127);
        termios t;
        if (::tcgetattr(slave, &t) == 0) {
            ::cfmakeraw(&t); // no "\r\n" for "\n"
            ::tcsetattr(slave, TCSANOW, &t);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            ::dup2(devnull, 0);
        ::dup2(slave, 1);
        ::dup2(errPipe[1], 2);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::execvp(argv[0], argv.data());
        const std::string msg = prefix + "cannot start the engine " + options.engine + ": " + std::strerror(errno) + "\n";
        writeAll(2, msg);
        ::_exit(127);
    }
    ::close(errPipe[1]);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(errPipe[0], F_SETFL, ::fcntl(errPipe[0], F_GETFL) | O_NONBLOCK);

    LineSplitter outLines, errLines;
    const auto onOut = [&](const std::string& line) { writeAll(1, monitor.onStdoutLine(line)); };
    const auto onErr = [&](const std::string& line) { monitor.onStderrLine(line); };
    const auto flushNotes = [&] {
        for (const std::string& n : monitor.takeNotes())
            writeAll(2, prefix + n + "\n");
    };

    bool masterOpen = true, errOpen = true, childDone = false;
    int status = 0;
    Clock::time_point stopAt{}, termAt{}, lastSaveLine{};
    bool termSent = false, killSent = false;
    bool termWhileWriting = false;
    char buf[16384];

    // Reads what is there; false once the stream has ended.
    const auto drain = [&](int fd, bool isOut) {
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                const size_t before = monitor.savesAnnounced();
                if (isOut) {
                    outLines.feed(buf, static_cast<size_t>(n), onOut);
                } else {
                    writeAll(2, std::string(buf, static_cast<size_t>(n)));
                    errLines.feed(buf, static_cast<size_t>(n), onErr);
                }
                if (monitor.savesAnnounced() != before)
                    lastSaveLine = Clock::now();
                flushNotes();
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return true;
            return false; // 0: end of stream; EIO: the terminal's other side is closed
        }
    };

    while (!childDone) {
        pollfd fds[3];
        int nfds = 0;
        fds[nfds++] = {sfd, POLLIN, 0};
        const int outIdx = masterOpen ? nfds : -1;
        if (masterOpen)
            fds[nfds++] = {master, POLLIN, 0};
        const int errIdx = errOpen ? nfds : -1;
        if (errOpen)
            fds[nfds++] = {errPipe[0], POLLIN, 0};
        const int timeout = (end.stopRequested && !killSent) ? 20 : 1000;
        const int r = ::poll(fds, static_cast<nfds_t>(nfds), timeout);
        if (r < 0 && errno != EINTR)
            break;
        if (outIdx >= 0 && (fds[outIdx].revents & (POLLIN | POLLHUP | POLLERR)))
            masterOpen = drain(master, true);
        if (errIdx >= 0 && (fds[errIdx].revents & (POLLIN | POLLHUP | POLLERR)))
            errOpen = drain(errPipe[0], false);

        signalfd_siginfo si;
        while (::read(sfd, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) {
            const int sig = static_cast<int>(si.ssi_signo);
            if (sig == SIGCHLD)
                continue;
            if (!end.stopRequested) {
                end.stopRequested = true;
                end.stopSignal = sig;
                stopAt = Clock::now();
            }
        }
        // Seen but not yet reaped: its process id (and group) stay reserved
        // until the group has been cleared below.
        siginfo_t info;
        info.si_pid = 0;
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
            childDone = true;
            break;
        }
        if (end.stopRequested && !termSent) {
            // Let a weights save that is being written finish, so the stop never
            // leaves a truncated backup behind.
            const bool saving = holdsFileBelow(pid, backupDir)
                || (monitor.saveAfterLastProgress() && secondsSince(lastSaveLine) < 0.2);
            if (!saving || secondsSince(stopAt) > options.saveGraceSeconds) {
                termWhileWriting = saving;
                ::kill(-pid, end.stopSignal);
                termSent = true;
                termAt = Clock::now();
            }
        }
        if (termSent && !killSent && secondsSince(termAt) > options.killAfterSeconds) {
            ::kill(-pid, SIGKILL);
            killSent = true;
        }
    }
    // Anything else of the engine's group (a child of a script engine) goes
    // with it; then the engine is reaped.
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // The engine is gone; take what is left in its streams.
    if (masterOpen)
        drain(master, true);
    if (errOpen)
        drain(errPipe[0], false);
    outLines.finish(onOut);
    errLines.finish(onErr);
    ::close(master);
    ::close(errPipe[0]);
    ::close(sfd);

    if (!termWhileWriting)
        monitor.completeSaves();
    flushNotes();

    end.exited = WIFEXITED(status);
    end.exitCode = end.exited ? WEXITSTATUS(status) : 0;
    end.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (end.exited && end.exitCode == 127 && monitor.iterations() == 0 && !end.stopRequested)
        end.startFailed = ::access(options.engine.c_str(), X_OK) != 0;
    return end;
}

} // namespace nomu_ros
