#include "private_mount.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// The exit status of a child whose namespace could not be made; its reason
// is what it wrote.
constexpr int kNoNamespace = 3;

bool writeAll(int fd, const QByteArray& bytes)
{
    for (qint64 at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
    }
    return true;
}

// Runs `program` (looked up in PATH, then in the folders of the system's own
// tools) with `args`, no shell involved, and waits for it. Its exit status,
// or -1 when it could not be run; empty *why when it ran and succeeded.
int runProgram(const QString& program, const QStringList& args, QString* why)
{
    QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(program, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    if (path.isEmpty()) {
        *why = program + " is not installed";
        return -1;
    }
    std::vector<QByteArray> words{QFile::encodeName(path)};
    for (const QString& arg : args)
        words.push_back(QFile::encodeName(arg));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code != 0)
        *why = program + " " + args.join(' ') + " failed (status " + QString::number(code) + ")";
    return code;
}

// The folder right under /tmp that holds the running test program, as
// "/tmp/name" in `top` (a checkout cloned and built under /tmp), or false
// when the program lies elsewhere. No allocation: it runs after a fork.
bool treeUnderTmp(char (&top)[4096])
{
    const ssize_t n = ::readlink("/proc/self/exe", top, sizeof top - 1);
    if (n <= 5 || std::strncmp(top, "/tmp/", 5) != 0)
        return false;
    top[n] = '\0';
    if (char* slash = std::strchr(top + 5, '/'))
        *slash = '\0';
    return top[5] != '\0';
}

// Makes this thread's mount namespace its own, / private (no mount made from
// here on propagates back through a shared /) and /tmp a tmpfs of its own.
// A build tree under /tmp would vanish under the new tmpfs with the programs
// the test starts: its top folder is bound back at its own path (through a
// descriptor opened before the mount), the one entry the new /tmp holds.
// Null on success, else the step that failed (errno tells why).
const char* makePrivateTmp()
{
    if (::unshare(CLONE_NEWNS) != 0)
        return "unshare(CLONE_NEWNS)";
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "making / private";
    char top[4096];
    int tree = -1;
    if (treeUnderTmp(top) && (tree = ::open(top, O_PATH | O_DIRECTORY | O_CLOEXEC)) < 0)
        return "opening the build tree under /tmp";
    if (::mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777,size=64m") != 0)
        return "mounting a tmpfs on /tmp";
    if (tree >= 0) {
        char source[64];
        std::snprintf(source, sizeof source, "/proc/self/fd/%d", tree);
        const bool bound = ::mkdir(top, 0755) == 0 && ::mount(source, top, nullptr, MS_BIND | MS_REC, nullptr) == 0;
        const int error_number = errno;
        ::close(tree);
        errno = error_number;
        if (!bound)
            return "binding the build tree back into the new /tmp";
    }
    return nullptr;
}

} // namespace

QString enterPrivateMountNamespace()
{
    const char* step = makePrivateTmp();
    if (!step)
        return QString();
    const int error_number = errno;
    return "no mount namespace of its own here: " + QString::fromLatin1(step) + ": "
           + QString::fromLocal8Bit(std::strerror(error_number));
}

PrivateRun runInPrivateMountNamespace(const std::function<QByteArray()>& work, QByteArray* result, QString* why)
{
    result->clear();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return PrivateRun::Failed;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return PrivateRun::Failed;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (const char* step = makePrivateTmp()) {
            const QByteArray reason(std::strerror(errno));
            writeAll(pipeFds[1], QByteArray(step) + ": " + reason);
            ::_exit(kNoNamespace);
        }
        const QByteArray bytes = work();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(writeAll(pipeFds[1], bytes) ? 0 : 1);
    }
    ::close(pipeFds[1]);
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, int(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            *why = QString::fromLocal8Bit(std::strerror(errno));
            return PrivateRun::Failed;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        *result = bytes;
        return PrivateRun::Ran;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace) {
        *why = "no mount namespace of its own here: " + QString::fromLocal8Bit(bytes);
        return PrivateRun::Unavailable;
    }
    *why = WIFSIGNALED(status) ? "the child ended by signal " + QString::number(WTERMSIG(status))
                               : "the child ended with status " + QString::number(WEXITSTATUS(status));
    return PrivateRun::Failed;
}

QString mountExt2Image(const QString& dir, qint64 bytes)
{
    const QString image = QDir(QDir::tempPath()).filePath(".ext2-" + QString::number(::getpid()) + ".img");
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(bytes))
        return "cannot make the image " + image + ": " + file.errorString();
    file.close();
    QString why;
    if (runProgram("mkfs.ext2", {"-q", "-F", "-b", "1024", "-m", "0", image}, &why) != 0)
        return why;
    // mount(8) takes a free loop device and lets it go when the file system
    // is unmounted, or when the namespace that holds it ends.
    if (runProgram("mount", {"-t", "ext2", "-o", "loop,nosuid,nodev", image, dir}, &why) != 0)
        return why;
    return QString();
}

} // namespace testsupport
