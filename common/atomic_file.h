#pragma once
// The one writer of every file both programs write. The bytes go into a new
// file in the target's folder; every one of them must have reached that file
// (each write, the size it ends with, its close) before it is renamed over the
// target, so a reader sees the old content or the new, never a part, and a
// full disk or a file-size limit leaves the previous file as it was and is
// reported as a failure. The new file is readable by its owner only while it
// fills and gets its final permission bits once every byte is in, before the
// rename. No shell is involved, whatever the path or the bytes.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Permission bits "as before": those of the file being replaced, and for a new
// file what open(2) gives with 0666 under the umask (as QFile or cv::imwrite
// would leave it). A replaced file's owner and group stay too, where this
// process may set them (root, as sed -i keeps them); elsewhere the new file
// is this user's.
constexpr int kPermissionsAsBefore = -1;

struct FileWriteOptions {
    // The written file's permission bits, or kPermissionsAsBefore. With
    // kPermissionsAsBefore an existing file that this user may not write is
    // refused, as opening it for writing would be.
    int permissions = 0644;
    // A symbolic link at the path is replaced by the new file (false), or the
    // file it names is replaced and the link stays (true).
    bool follow_link = false;
    // Where the folder takes no new file (no write permission) while the file
    // itself is writable, the file is rewritten in place instead. The bytes
    // are then held until commit(), which checks the new length against the
    // file-size limit and first makes the file that long, writing the part
    // past its end and syncing it; when that fails (a full disk) the file is
    // cut back to its old length with its old bytes. Only then are the bytes
    // before it rewritten, in blocks the file holds already; a write that
    // fails there (an I/O error) leaves the file damaged: only a user's own
    // file, which would otherwise not be saved at all, is written so.
    bool in_place_if_folder_refuses = false;
    // The bytes are on the disk (fsync) before the file replaces the old one,
    // and the folder is synced after the rename, so that a power loss cannot
    // bring the previous file back.
    bool sync = false;
};

// Exchange files under /tmp that other programs read at any moment (status
// and log lines, the result image, the run marker, the stop file): readable by
// everyone, and a link planted at the name is replaced, never written through.
constexpr FileWriteOptions kExchangeFile{};
// What the programs produce (the training folder, network descriptions,
// crops): permissions as before, a link at the name is replaced.
constexpr FileWriteOptions kOutputFile{kPermissionsAsBefore, false, false, false};
// A file the user chose and keeps (ground truth): permissions as before, a
// link to it stays a link, synced to disk, and rewritten in place where its
// folder takes no new file.
constexpr FileWriteOptions kUserFile{kPermissionsAsBefore, true, true, true};

// One file written piece by piece, for contents too large to hold in memory.
// open(), any number of write() calls, then commit(); a writer destroyed
// without a successful commit() removes its temporary file and leaves the
// target untouched.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const QString& path, const FileWriteOptions& options = kExchangeFile);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool open();
    // False once any write failed; later writes and the commit then fail too.
    bool write(const char* data, qint64 size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // Checks that the file holds every byte written, then puts it in place.
    bool commit();
    // The system's reason for the first failure ("No space left on device").
    QString errorString() const { return error_; }

private:
    bool fail(int error_number);
    void abandon();
    bool commit_in_place();
    // The bytes on the disk when asked for, then the descriptor closed.
    bool sync_and_close();

    QString path_;
    FileWriteOptions options_;
    QByteArray target_;    // the file that is replaced, encoded
    QByteArray temporary_; // the new file beside it; empty when writing in place
    QByteArray held_;      // in place: the bytes written so far
    int fd_ = -1;
    int mode_ = 0600;      // the permission bits the file ends with
    bool keep_owner_ = false; // the replacement gets the replaced file's owner
    uid_t owner_ = 0;
    gid_t group_ = 0;
    qint64 written_ = 0;
    bool failed_ = false;
    QString error_;
};

// Replaces `path` with exactly `bytes` (see AtomicFileWriter). False, with
// the reason in *error when given, on failure; the previous file then stays.
bool write_file_atomically(const QString& path, const QByteArray& bytes,
                           const FileWriteOptions& options = kExchangeFile, QString* error = nullptr);
