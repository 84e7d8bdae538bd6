#include "model_export.h"

#include "atomic_file.h"
#include "bounded_input.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QVector<ExportRow> export_rows(const QString& L, const QString& D)
{
    return {{L + "/data/obj.names", D + "/obj.names"},
            {L + "/data/test.cfg", D + "/test.cfg"},
            {L + "/data/backup/train.backup", D + "/train.weights"}};
}

bool is_training_data_folder(const QString& training_folder, const QString& target_folder)
{
    const QString data = QFileInfo(training_folder + "/data").canonicalFilePath();
    const QString target = QFileInfo(target_folder).canonicalFilePath();
    return !data.isEmpty() && data == target;
}

CopyResult replace_file_with_copy(const QString& source, const QString& target)
{
    // Only a regular file is copied: a FIFO would block the trainer and a
    // link to a device would never end.
    QFile in;
    QString why;
    struct stat source_status {};
    if (!bounded_input::open_regular_file(source, &in, &why) || ::fstat(in.handle(), &source_status) != 0)
        return CopyResult::SourceUnreadable;
    // The copy gets the source's permissions, as a plain file copy would, and
    // is on the disk before it replaces the previous export.
    FileWriteOptions options;
    options.permissions = int(source_status.st_mode & 0777);
    options.sync = true;
    AtomicFileWriter out(target, options);
    if (!out.open())
        return CopyResult::TargetUnwritable;
    for (;;) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty())
            break;
        if (!out.write(block))
            return CopyResult::TargetUnwritable;
    }
    // A read that stops short leaves the writer uncommitted, so the previous
    // target stays.
    if (in.error() != QFileDevice::NoError || !in.atEnd())
        return CopyResult::SourceUnreadable;
    return out.commit() ? CopyResult::Copied : CopyResult::TargetUnwritable;
}

namespace {

// A copy of one row, complete in the staging folder, and whether it has been
// put in place.
struct Staged {
    QString name;           // the target as the messages name it
    QByteArray copy;        // the copy in the staging folder
    QByteArray target;      // the target, encoded
    bool exchanged = false; // in place, the previous file now under `copy`
    bool added = false;     // in place, where there was nothing before
};

bool is_folder(const QByteArray& path)
{
    struct stat status {};
    return ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Puts one staged copy in place with one rename. A previous file (or link)
// under the name is exchanged with the copy, so that it stays whole in the
// staging folder and can be put back. Where the file system cannot exchange
// two names the copy replaces it, and it is lost for a roll-back.
bool put_in_place(Staged* s)
{
    struct stat status {};
    if (::lstat(s->target.constData(), &status) != 0) {
        if (errno != ENOENT)
            return false;
        if (::renameat2(AT_FDCWD, s->copy.constData(), AT_FDCWD, s->target.constData(), RENAME_NOREPLACE) == 0) {
            s->added = true;
            return true;
        }
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        s->added = ::rename(s->copy.constData(), s->target.constData()) == 0;
        return s->added;
    }
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (::renameat2(AT_FDCWD, s->copy.constData(), AT_FDCWD, s->target.constData(), RENAME_EXCHANGE) == 0) {
        s->exchanged = true;
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    return ::rename(s->copy.constData(), s->target.constData()) == 0;
}

// Undoes put_in_place: the previous file back under its name, or the added
// copy taken away. False when the target keeps the new copy.
bool take_back(const Staged& s)
{
    if (s.exchanged)
        return ::renameat2(AT_FDCWD, s.copy.constData(), AT_FDCWD, s.target.constData(), RENAME_EXCHANGE) == 0;
    if (s.added)
        return ::rename(s.target.constData(), s.copy.constData()) == 0;
    return false;
}

// Syncs the folder, so that its renames are on the disk; best effort (a
// folder that cannot be opened for reading cannot be synced).
void sync_folder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QString export_model(const QString& training_folder, const QString& target_folder)
{
    // Each copy is first written whole into a private folder inside the
    // target folder (the same file system, so a rename moves it without a
    // copy); only when all three are there do they go in place. A failure of
    // any row leaves the target folder's three files as they were: a folder
    // that mixes the names or the description of one model with the weights
    // of another may load, and detect wrongly.
    QTemporaryDir staging(target_folder + "/.model-export-XXXXXX");
    QString message;
    std::vector<Staged> staged;
    for (const ExportRow& row : export_rows(training_folder, target_folder)) {
        if (!QFile::exists(row.source)) {
            message += row.source + " is missing" + "\n";
            continue;
        }
        if (!staging.isValid()) {
            // Nothing can be written; a source that cannot be read is still
            // named as such, before any target.
            QFile in;
            QString why;
            message += bounded_input::open_regular_file(row.source, &in, &why)
                           ? row.target + " could not be written" + "\n"
                           : row.source + " could not be read" + "\n";
            continue;
        }
        Staged s;
        s.name = row.target;
        const QString copy = staging.filePath(QFileInfo(row.target).fileName());
        s.copy = QFile::encodeName(copy);
        s.target = QFile::encodeName(QFileInfo(row.target).absoluteFilePath());
        switch (replace_file_with_copy(row.source, copy)) {
        case CopyResult::Copied:
            // A folder under the target's name cannot be replaced by a file.
            if (is_folder(s.target))
                message += row.target + " could not be written" + "\n";
            else
                staged.push_back(s);
            break;
        case CopyResult::SourceUnreadable:
            message += row.source + " could not be read" + "\n";
            break;
        case CopyResult::TargetUnwritable:
            message += row.target + " could not be written" + "\n";
            break;
        }
    }
    if (!message.isEmpty())
        return message + "Nothing was replaced in " + target_folder + "\n";

    // All three are ready: one rename each. A rename that still fails (an
    // immutable file, one of another user in a sticky folder, an I/O error)
    // takes back those already in place, newest first, so that the folder
    // again holds one model.
    for (size_t i = 0; i < staged.size(); ++i) {
        if (put_in_place(&staged[i]))
            continue;
        message += staged[i].name + " could not be written" + "\n";
        QString kept_new;
        for (size_t j = i; j-- > 0;)
            if (!take_back(staged[j]))
                kept_new += staged[j].name + " was replaced" + "\n";
        if (kept_new.isEmpty())
            return message + "Nothing was replaced in " + target_folder + "\n";
        return message + kept_new + "The other files in " + target_folder + " were left as they were\n";
    }
    // The previous files, now in the staging folder, go with it.
    staging.remove();
    sync_folder(target_folder);
    return message;
}
