#include "test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <memory>

namespace testsupport {

void answerNextModal(std::function<void(QWidget*)> action, int timeoutMs)
{
    auto timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, action, timeoutMs]() {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(w);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            qWarning("answerNextModal: no modal window within %d ms", timeoutMs);
        }
    });
    timer->start();
}

void clickNextMessageBox(QMessageBox::StandardButton button, QString* text)
{
    answerNextModal([button, text](QWidget* w) {
        auto box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            qWarning("clickNextMessageBox: the modal window is a %s", w->metaObject()->className());
            w->close();
            return;
        }
        if (text)
            *text = box->text();
        QAbstractButton* b = box->button(button);
        if (b)
            b->click();
        else
            box->reject();
    });
}

ModalWatch::ModalWatch()
{
    QObject::connect(&timer_, &QTimer::timeout, [this]() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        auto* box = qobject_cast<QMessageBox*>(w);
        seen << (box ? box->text() : QString(w->metaObject()->className()));
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->done(QDialog::Rejected);
        else
            w->close();
    });
    timer_.start(10);
}

MessageBoxWatch::MessageBoxWatch()
{
    QObject::connect(&timer_, &QTimer::timeout, [this]() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    timer_.start(10);
}

namespace {

// The exchange files are the same for every checkout on the machine: ctest's
// resource lock orders the tests of one run, and this lock (held while any
// guard of the process lives) orders the runs of different checkouts.
int g_lock_users = 0;
int g_lock_fd = -1;

void acquireMachineLock()
{
    if (g_lock_users++ > 0)
        return;
    g_lock_fd = ::open("/tmp/.nomu_exchange_files.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (g_lock_fd >= 0)
        while (::flock(g_lock_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
}

void releaseMachineLock()
{
    if (--g_lock_users > 0)
        return;
    if (g_lock_fd >= 0) {
        ::flock(g_lock_fd, LOCK_UN);
        ::close(g_lock_fd);
        g_lock_fd = -1;
    }
}

} // namespace

ExchangeFileGuard::ExchangeFileGuard(const QStringList& paths)
{
    acquireMachineLock();
    for (const QString& p : paths) {
        Saved s;
        s.path = p;
        QFileInfo fi(p);
        s.existed = fi.exists() || fi.isSymLink();
        s.isDir = fi.isDir() && !fi.isSymLink();
        // A FIFO or a device left by an interrupted test is removed, not read
        // (reading a FIFO would wait for ever) and not put back.
        if (s.existed && !s.isDir && !fi.isFile() && !(fi.isSymLink() && !fi.exists()))
            s.existed = false;
        if (s.existed && !s.isDir)
            s.content = readFile(p);
        if (s.isDir)
            QDir(p).removeRecursively();
        else
            QFile::remove(p);
        saved_.push_back(s);
    }
}

ExchangeFileGuard::~ExchangeFileGuard()
{
    for (const Saved& s : saved_) {
        QFileInfo fi(s.path);
        if (fi.isDir() && !fi.isSymLink())
            QDir(s.path).removeRecursively();
        else
            QFile::remove(s.path);
        if (!s.existed)
            continue;
        if (s.isDir)
            QDir().mkpath(s.path);
        else
            writeFile(s.path, s.content);
    }
    releaseMachineLock();
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value, bool unset) : name_(name)
{
    had_ = qEnvironmentVariableIsSet(name);
    old_ = qgetenv(name);
    if (unset)
        qunsetenv(name);
    else
        qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (had_)
        qputenv(name_.constData(), old_);
    else
        qunsetenv(name_.constData());
}

OutputCapture::OutputCapture(int fd) : fd_(fd)
{
    std::fflush(fd == 1 ? stdout : stderr);
    file_ = std::tmpfile();
    if (!file_)
        return;
    saved_ = ::dup(fd);
    ::dup2(fileno(file_), fd);
}

OutputCapture::~OutputCapture()
{
    finish();
    if (file_)
        std::fclose(file_);
}

QByteArray OutputCapture::finish()
{
    if (saved_ < 0)
        return text_;
    std::fflush(fd_ == 1 ? stdout : stderr);
    ::dup2(saved_, fd_);
    ::close(saved_);
    saved_ = -1;
    std::rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
        text_.append(buf, static_cast<int>(n));
    return text_;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

namespace {

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(QByteArray* out, quint32 v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->append(static_cast<char>((v >> shift) & 0xFF));
}

void appendChunk(QByteArray* out, const char* type, const QByteArray& data)
{
    appendBigEndian(out, static_cast<quint32>(data.size()));
    const QByteArray typed = QByteArray(type) + data;
    out->append(typed);
    appendBigEndian(out, crc32(typed));
}

} // namespace

QByteArray blankPng(int width, int height)
{
    QByteArray header;
    appendBigEndian(&header, static_cast<quint32>(width));
    appendBigEndian(&header, static_cast<quint32>(height));
    header.append("\x01\x00\x00\x00\x00", 5); // 1-bit grey, deflate, no filter, no interlace
    // Every row: filter byte 0, then the packed pixels, all 0.
    const QByteArray rows(static_cast<int>(qint64(height) * (1 + (width + 7) / 8)), '\0');
    const QByteArray zlib = qCompress(rows, 9).mid(4); // without Qt's length prefix
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(&png, "IHDR", header);
    appendChunk(&png, "IDAT", zlib);
    appendChunk(&png, "IEND", QByteArray());
    return png;
}

bool makeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(content) == content.size();
}

bool writeQuietBoardProbe(const QString& binDir)
{
    for (const char* name : {"lsb_release", "cat"}) {
        const QString f = QDir(binDir).filePath(name);
        if (!writeFile(f, "#!/bin/sh\nexit 0\n"))
            return false;
        if (!QFile::setPermissions(f, QFile::permissions(f) | QFile::ExeOwner))
            return false;
    }
    return true;
}

bool DialogEnvironment::setUp()
{
    if (!home_.isValid() || !bin_.isValid() || !root_.isValid())
        return false;
    homeEnv_.reset(new ScopedEnv("HOME", home_.path().toUtf8()));
    if (!writeQuietBoardProbe(bin_.path()))
        return false;
    pathEnv_.reset(new ScopedEnv("PATH", bin_.path().toUtf8() + ":" + qgetenv("PATH")));
    return true;
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    savedCurrent_ = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    active_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

void FileSizeLimitedProcess::setupChildProcess()
{
    // In the child between fork and exec: async-signal-safe calls only.
    if (bytes_ < 0)
        return;
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = static_cast<rlim_t>(bytes_);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(SIGXFSZ, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGXFSZ);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit {};
    if (active_ && ::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = static_cast<rlim_t>(savedCurrent_);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::signal(SIGXFSZ, savedHandler_);
}

TmpfsMount::TmpfsMount(const QString& dir, qint64 bytes) : dir_(QFile::encodeName(dir))
{
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    mounted_ = ::mount("tmpfs", dir_.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
}

TmpfsMount::~TmpfsMount()
{
    if (mounted_)
        ::umount2(dir_.constData(), MNT_DETACH);
}

QString fillFileSystem(const QString& dir, const QString& name)
{
    const QString path = QDir(dir).filePath(name);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return QString();
    const QByteArray block(4096, 'f');
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::write(fd, block.constData(), static_cast<size_t>(block.size()));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        total += n;
    }
    ::close(fd);
    return total > 0 ? path : QString();
}

int runUnprivileged(const std::function<bool()>& work)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::geteuid() == 0) {
            const gid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                ::_exit(2);
        }
        const bool ok = work();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QStringList unprivilegedCommand(const QString& program, const QStringList& args)
{
    if (::geteuid() != 0)
        return QStringList{program} + args;
    return QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", program} + args;
}

bool setImmutable(const QString& path, bool immutable)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

QProcessEnvironment programEnvironment(const QString& home, const QString& binDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    if (!binDir.isEmpty())
        env.insert("PATH", binDir + ":" + env.value("PATH"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

} // namespace testsupport
