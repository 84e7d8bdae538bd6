#include "atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
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
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const QByteArray candidate = temporary_name(folder, name);
        // 0666 under the umask, as a plain open for writing creates a file.
        fd_ = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporary_ = candidate;
        } else if (errno != EEXIST) {
            const int refused = errno;
            if (refused != EACCES || !options_.in_place_if_folder_refuses || !regular)
                return fail(refused);
            // The folder takes no new file: the file itself is rewritten. It is
            // not truncated now, so the blocks it holds stay its own, and is
            // cut to the new length when every byte is in.
            fd_ = ::open(target_.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd_ < 0)
                return fail(errno);
            return true;
        }
    }
    if (fd_ < 0)
        return fail(EEXIST);

    int mode = options_.permissions;
    if (as_before)
        mode = regular ? int(existing.st_mode & 0777) : -1;
    if (mode >= 0 && ::fchmod(fd_, mode_t(mode)) != 0)
        return fail(errno);
    return true;
}

bool AtomicFileWriter::write(const char* data, qint64 size)
{
    if (failed_ || fd_ < 0)
        return false;
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        // A short count means the next write will say why (ENOSPC, EFBIG).
        data += n;
        size -= n;
        written_ += n;
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    if (failed_ || fd_ < 0)
        return false;
    const bool in_place = temporary_.isEmpty();
    if (in_place && ::ftruncate(fd_, written_) != 0)
        return fail(errno);
    struct stat written {};
    if (::fstat(fd_, &written) != 0)
        return fail(errno);
    if (written.st_size != written_)
        return fail(EIO);
    if (options_.sync && ::fsync(fd_) != 0 && errno != EINVAL)
        return fail(errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    // Linux closes the descriptor even when close() is interrupted.
    if (closed != 0 && errno != EINTR)
        return fail(errno);
    if (in_place)
        return true;
    // rename(2) replaces the target, a symbolic link included, in one step.
    if (::rename(temporary_.constData(), target_.constData()) != 0)
        return fail(errno);
    temporary_.clear();
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
