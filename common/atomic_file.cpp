#include "atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The longest file name a Linux file system takes, in bytes.
constexpr int kNameMax = 255;

// The file a chain of symbolic links ends at (the path itself when it is none);
// empty after too many links.
QString link_end(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; info.isSymLink(); ++depth) {
        if (depth == 40)
            return QString();
        info.setFile(info.symLinkTarget());
    }
    return info.absoluteFilePath();
}

// "<folder>/.<name>.<6 random letters>", the name cut so that it stays a
// valid file name however long the target's name is.
QByteArray temporary_name(const QByteArray& folder, const QByteArray& name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, 'x');
    for (char& c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof(letters)) - 1)];
    return folder + "/." + name.left(kNameMax - 8) + "." + suffix;
}

// The umask when the program started: read by setting it and putting it
// back, before any thread runs.
const mode_t kStartUmask = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}();

// The process's umask now, read without changing it (umask(2) acts on the
// whole process and a thread could create a file meanwhile): the "Umask:"
// line of /proc/self/status, the start-up value where that is not there.
mode_t current_umask()
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return kStartUmask;
    char buffer[4096];
    QByteArray text;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, int(n));
    }
    ::close(fd);
    const int at = text.indexOf("\nUmask:");
    if (at < 0)
        return kStartUmask;
    bool ok = false;
    const int end = text.indexOf('\n', at + 1);
    const uint mask = text.mid(at + 7, end < 0 ? -1 : end - at - 7).trimmed().toUInt(&ok, 8);
    return ok ? mode_t(mask & 0777) : kStartUmask;
}

// Whether a file of `length` bytes stays within the file-size limit; false
// with errno EFBIG when not, as a write beyond it would fail part way (or end
// a process that does not ignore SIGXFSZ).
bool within_size_limit(qint64 length)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        quint64(length) > quint64(limit.rlim_cur)) {
        errno = EFBIG;
        return false;
    }
    return true;
}

// fsync(2), where a descriptor that cannot be synced (EINVAL) is no failure.
bool sync_file(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL;
}

// Syncs the folder `folder`, so that a rename in it is on the disk. A folder
// that cannot be opened for reading cannot be synced, which is no failure.
bool sync_folder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const int error_number = errno;
    ::close(fd);
    errno = error_number;
    return synced;
}

// Writes all `size` bytes; false with errno set when a write fails. A short
// count means the next write says why (ENOSPC, EFBIG).
bool write_fully(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const QString& path, const FileWriteOptions& options)
    : path_(path), options_(options)
{
}

AtomicFileWriter::~AtomicFileWriter()
{
    abandon();
}

bool AtomicFileWriter::fail(int error_number)
{
    if (!failed_)
        error_ = qt_error_string(error_number);
    failed_ = true;
    return false;
}

void AtomicFileWriter::abandon()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.isEmpty())
        ::unlink(temporary_.constData());
    temporary_.clear();
}

bool AtomicFileWriter::open()
{
    const QString target = options_.follow_link ? link_end(path_) : QFileInfo(path_).absoluteFilePath();
    if (target.isEmpty())
        return fail(ELOOP);
    target_ = QFile::encodeName(target);

    struct stat existing {};
    const bool exists = ::lstat(target_.constData(), &existing) == 0;
    const bool regular = exists && S_ISREG(existing.st_mode);
    if (exists && S_ISDIR(existing.st_mode))
        return fail(EISDIR);
    const bool as_before = options_.permissions == kPermissionsAsBefore;
    if (as_before && regular && ::access(target_.constData(), W_OK) != 0)
        return fail(errno);

    const QFileInfo info(target);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray name = QFile::encodeName(info.fileName());
    // The bits the file ends with: as a plain open for writing would leave
    // it (0666 under the umask), the replaced file's, or the given ones.
    if (!as_before)
        mode_ = options_.permissions & 0777;
    else if (regular)
        mode_ = int(existing.st_mode & 0777);
    else
        mode_ = int(0666 & ~current_umask());
    // With the bits as before go the owner and group (set at the commit).
    keep_owner_ = as_before && regular;
    owner_ = existing.st_uid;
    group_ = existing.st_gid;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const QByteArray candidate = temporary_name(folder, name);
        // Only its owner may read the file while it fills.
        fd_ = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            temporary_ = candidate;
        } else if (errno != EEXIST) {
            const int refused = errno;
            if (refused != EACCES || !options_.in_place_if_folder_refuses || !regular)
                return fail(refused);
            // The folder takes no new file: the file itself is rewritten. It is
            // not truncated now, so the blocks it holds stay its own; the
            // bytes are held until the commit has made room for them.
            fd_ = ::open(target_.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd_ < 0)
                return fail(errno);
            return true;
        }
    }
    if (fd_ < 0)
        return fail(EEXIST);
    return true;
}

bool AtomicFileWriter::write(const char* data, qint64 size)
{
    if (failed_ || fd_ < 0)
        return false;
    if (temporary_.isEmpty()) {
        if (size > qint64(std::numeric_limits<int>::max() - held_.size()))
            return fail(EFBIG);
        held_.append(data, int(size));
        written_ += size;
        return true;
    }
    if (!write_fully(fd_, data, size))
        return fail(errno);
    written_ += size;
    return true;
}

bool AtomicFileWriter::commit()
{
    if (failed_ || fd_ < 0)
        return false;
    if (temporary_.isEmpty())
        return commit_in_place();
    struct stat written {};
    if (::fstat(fd_, &written) != 0)
        return fail(errno);
    if (written.st_size != written_)
        return fail(EIO);
    // A file that keeps its permission bits keeps its owner and group too,
    // where this process may give them (root): a user's file saved by root
    // stays that user's. Where it may not (EPERM), the new file is this
    // user's, as it was before, and the save goes on.
    if (keep_owner_ && (written.st_uid != owner_ || written.st_gid != group_))
        (void)::fchown(fd_, owner_, group_);
    // Every byte is in: the file may now be readable by others.
    if (::fchmod(fd_, mode_t(mode_)) != 0)
        return fail(errno);
    if (!sync_and_close())
        return false;
    // rename(2) replaces the target, a symbolic link included, in one step.
    if (::rename(temporary_.constData(), target_.constData()) != 0)
        return fail(errno);
    temporary_.clear();
    if (options_.sync && !sync_folder(target_.left(target_.lastIndexOf('/') + 1)))
        return fail(errno);
    return true;
}

bool AtomicFileWriter::commit_in_place()
{
    struct stat before {};
    if (::fstat(fd_, &before) != 0)
        return fail(errno);
    const qint64 size = qint64(before.st_size);
    if (!within_size_limit(written_))
        return fail(errno);
    // The file first grows to its new length: the part of the new content
    // past its end is written there and synced, so that every block the
    // longer file needs (indirect ones included) is taken, whatever the file
    // system can reserve or counts as free. When that fails (a full disk) the
    // file is cut back to its old length, its old bytes as they were.
    if (written_ > size) {
        const bool grown = ::lseek(fd_, off_t(size), SEEK_SET) == off_t(size) &&
                           write_fully(fd_, held_.constData() + size, written_ - size) && sync_file(fd_);
        if (!grown) {
            const int error_number = errno;
            if (::ftruncate(fd_, off_t(size)) == 0)
                (void)sync_file(fd_);
            return fail(error_number);
        }
    }
    // Then the rest goes into blocks the file already holds.
    if (::lseek(fd_, 0, SEEK_SET) != 0 || !write_fully(fd_, held_.constData(), qMin(size, written_)))
        return fail(errno);
    held_.clear();
    if (::ftruncate(fd_, off_t(written_)) != 0)
        return fail(errno);
    struct stat written {};
    if (::fstat(fd_, &written) != 0)
        return fail(errno);
    if (written.st_size != written_)
        return fail(EIO);
    return sync_and_close();
}

bool AtomicFileWriter::sync_and_close()
{
    if (options_.sync && !sync_file(fd_))
        return fail(errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    // Linux closes the descriptor even when close() is interrupted.
    if (closed != 0 && errno != EINTR)
        return fail(errno);
    return true;
}

bool write_file_atomically(const QString& path, const QByteArray& bytes, const FileWriteOptions& options,
                           QString* error)
{
    AtomicFileWriter writer(path, options);
    const bool ok = writer.open() && writer.write(bytes) && writer.commit();
    if (!ok && error)
        *error = writer.errorString();
    return ok;
}
