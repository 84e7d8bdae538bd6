#pragma once
// Helpers shared by the tests: answering modal windows from the test, keeping
// the fixed exchange files of the developer's machine intact, and setting
// environment variables for the length of a scope.

#include <QByteArray>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <cstdio>
#include <functional>
#include <memory>

class QWidget;

namespace testsupport {

// Waits (polling the event loop, up to timeoutMs) for the next modal widget
// that is not `ignore` and runs `action` on it. Returns at once; the action
// runs from a timer while the code under test sits in its exec(). Every call
// answers one modal window.
void answerNextModal(std::function<void(QWidget*)> action, int timeoutMs = 5000);

// Answers the next modal message box by clicking `button` and records its text
// into *text when given (the static QMessageBox functions only return the
// button a real click chose; done() is not enough).
void clickNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr);

// Closes every modal window that opens while it lives and keeps a word for
// each (a message box's text, else the window's class name): for steps that
// must show none. Polls from a timer, so it sees windows opened inside the
// code under test's own exec().
class ModalWatch {
public:
    ModalWatch();
    ModalWatch(const ModalWatch&) = delete;
    ModalWatch& operator=(const ModalWatch&) = delete;

    QStringList seen;

private:
    QTimer timer_;
};

// Closes every message box shown while it lives (with Ok) and keeps its
// text: for steps that must show no box. Other modal windows, such as a
// file dialog the test answers itself, are left alone.
class MessageBoxWatch {
public:
    MessageBoxWatch();
    MessageBoxWatch(const MessageBoxWatch&) = delete;
    MessageBoxWatch& operator=(const MessageBoxWatch&) = delete;

    QStringList texts;

private:
    QTimer timer_;
};

// Saves the listed files, removes them for the test, and puts the saved
// contents back (or removes what the test left) when destroyed. While any
// guard lives the process holds a machine-wide lock, so test runs of several
// checkouts on one machine do not meet in /tmp.
class ExchangeFileGuard {
public:
    explicit ExchangeFileGuard(const QStringList& paths);
    ~ExchangeFileGuard();
    ExchangeFileGuard(const ExchangeFileGuard&) = delete;
    ExchangeFileGuard& operator=(const ExchangeFileGuard&) = delete;

private:
    struct Saved {
        QString path;
        bool existed = false;
        bool isDir = false;
        QByteArray content;
    };
    QVector<Saved> saved_;
};

// Sets (or with unset, removes) an environment variable until destroyed.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value, bool unset = false);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    QByteArray name_;
    QByteArray old_;
    bool had_ = false;
};

// Collects what the process writes to a file descriptor (1 or 2) from
// construction until finish() or destruction; the descriptor is then put back.
class OutputCapture {
public:
    explicit OutputCapture(int fd);
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Stops capturing (once) and returns everything written.
    QByteArray finish();
    // The same as UTF-8 text.
    QString take() { return QString::fromUtf8(finish()); }

private:
    int fd_;
    int saved_ = -1;
    FILE* file_ = nullptr;
    QByteArray text_;
};

class StdoutCapture : public OutputCapture {
public:
    StdoutCapture() : OutputCapture(1) {}
};

class StderrCapture : public OutputCapture {
public:
    StderrCapture() : OutputCapture(2) {}
};

// Reads a whole file; an empty array when it cannot be read.
QByteArray readFile(const QString& path);
// Writes a whole file, creating its folder; false on failure.
bool writeFile(const QString& path, const QByteArray& content);

// A valid PNG of width x height pixels, all black, in 1-bit grey: a few
// hundred KB even for hundreds of megapixels, which a decoder still turns
// into the full image.
QByteArray blankPng(int width, int height);

// Creates a FIFO named `path`; false on failure.
bool makeFifo(const QString& path);

// Writes "lsb_release" and "cat" into `binDir` as scripts that print nothing
// and succeed, so that a dialog's board probe (with `binDir` first in PATH)
// answers at once like an x86 desktop. False when a script cannot be written.
bool writeQuietBoardProbe(const QString& binDir);

// What a main dialog built in a test needs around it, for the life of the
// object: HOME in a temporary folder, the quiet board probe first in PATH, and
// a scratch folder.
class DialogEnvironment {
public:
    // False when a folder or the probe could not be made.
    bool setUp();
    // `name` inside the scratch folder.
    QString path(const QString& name) const { return root_.filePath(name); }

private:
    QTemporaryDir home_;
    QTemporaryDir bin_;
    QTemporaryDir root_;
    std::unique_ptr<ScopedEnv> homeEnv_;
    std::unique_ptr<ScopedEnv> pathEnv_;
};

// Limits every file this process (and any child it starts meanwhile) writes
// to `bytes` until destroyed: RLIMIT_FSIZE, with SIGXFSZ ignored so that a
// write beyond the limit fails (EFBIG) instead of ending the process. A full
// disk that needs no mount and also works as root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool isActive() const { return active_; }

private:
    bool active_ = false;
    unsigned long long savedCurrent_ = 0;
    void (*savedHandler_)(int) = nullptr;
};

// A process started with every file it writes limited to `bytes`
// (RLIMIT_FSIZE) and SIGXFSZ at its default action and unblocked, as a
// program started under a shell's "ulimit -f" finds it: a program that does
// not ignore the signal itself dies of it at the first write beyond the
// limit. A negative `bytes` starts the process as a plain QProcess.
class FileSizeLimitedProcess : public QProcess {
public:
    explicit FileSizeLimitedProcess(qint64 bytes) : bytes_(bytes) {}

protected:
    void setupChildProcess() override;

private:
    qint64 bytes_;
};

// A tmpfs of `bytes` mounted on the folder `dir` until destroyed: a real full
// disk (ENOSPC). Mounting needs root and may be refused in a container; test
// with isMounted() and skip otherwise.
class TmpfsMount {
public:
    TmpfsMount(const QString& dir, qint64 bytes);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool isMounted() const { return mounted_; }

private:
    QByteArray dir_;
    bool mounted_ = false;
};

// Fills the file system that holds `dir` with a file named `name` until no
// page more fits (a tmpfs is then full); returns its path (empty when nothing
// could be written).
QString fillFileSystem(const QString& dir, const QString& name = QStringLiteral("filler"));

// Runs `work` in a forked child as a user without privileges (nobody, uid and
// gid 65534, when this process runs as root; this user otherwise), so that a
// test of refused permissions also works as root. The child sees this
// process's memory as it was at the fork; the paths it uses must be open to
// that user. Returns 0 when `work` returned true, 1 when it returned false,
// and another value when the child could not run it.
int runUnprivileged(const std::function<bool()>& work);

// The command line (program first) that starts `program` with `args` as the
// user runUnprivileged uses: through setpriv when this process runs as root.
QStringList unprivilegedCommand(const QString& program, const QStringList& args = QStringList());

// Sets or clears the immutable attribute of the file `path` (chattr +i, -i).
// False where the file system or the process's capabilities refuse it: skip.
bool setImmutable(const QString& path, bool immutable);

// The environment for one of our programs started by a test: this process's
// environment with HOME set to `home`, `binDir` (when given) first in PATH,
// and the offscreen Qt platform.
QProcessEnvironment programEnvironment(const QString& home, const QString& binDir = QString());

} // namespace testsupport
