// The writer of every file both programs write: a failed write (a full disk,
// a file-size limit, a refused folder) is reported and keeps the previous
// file; links, permissions and read-only folders are treated as each kind of
// file needs.
#include "atomic_file.h"
#include "image_file.h"
#include "private_mount.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

Q_DECLARE_METATYPE(FileWriteOptions)

namespace {

const QByteArray kPrevious = "previous content\n";

// The permission bits of a file (not of a link's target).
int modeOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

// Every entry of a folder, hidden ones included: a temporary file left behind
// shows up here.
QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Restores the umask when the test ends.
struct ScopedUmask {
    explicit ScopedUmask(mode_t mask) : saved(::umask(mask)) {}
    ~ScopedUmask() { ::umask(saved); }
    mode_t saved;
};

// Fills the file system that holds `dir` to its last block: where a block is
// smaller than a page, the filler's last page-sized write may leave a few
// free, which one-block files ("filler.1", ...) then take.
void fillToTheLastBlock(const QString& dir)
{
    testsupport::fillFileSystem(dir);
    struct statvfs space {};
    if (::statvfs(QFile::encodeName(dir).constData(), &space) != 0)
        return;
    const QByteArray block(int(space.f_bsize), 'f');
    for (int i = 1;; ++i) {
        const QByteArray path = QFile::encodeName(QDir(dir).filePath("filler." + QString::number(i)));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        const bool whole = ::write(fd, block.constData(), size_t(block.size())) == block.size();
        ::close(fd);
        if (!whole) {
            ::unlink(path.constData());
            return;
        }
    }
}

// Called with the path of every descriptor the writer syncs, while the test
// sets it.
std::function<void(const QString&)> g_onFsync;

} // namespace

// The writer's fsync(2) calls come here (this definition takes the place of
// the C library's in this executable), so a test sees what is synced and
// when; the real system call follows.
extern "C" int fsync(int fd)
{
    if (g_onFsync) {
        char path[4096];
        const ssize_t n = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), path,
                                     sizeof path - 1);
        g_onFsync(n > 0 ? QFile::decodeName(QByteArray(path, int(n))) : QString());
    }
    return int(::syscall(SYS_fsync, fd));
}

class TstAtomicFile : public QObject {
    Q_OBJECT

private slots:
    void replacesWithExactBytes_data();
    void replacesWithExactBytes();
    void fileSizeLimitKeepsPrevious_data();
    void fileSizeLimitKeepsPrevious();
    void fullDiskKeepsPrevious();
    void inPlaceFullDiskLeavesFileUntouched_data();
    void inPlaceFullDiskLeavesFileUntouched();
    void ownerOnlyWhileFilling_data();
    void ownerOnlyWhileFilling();
    void folderSyncedAfterRename_data();
    void folderSyncedAfterRename();
    void linkAtTarget_data();
    void linkAtTarget();
    void permissions_data();
    void permissions();
    void ownerAsBefore_data();
    void ownerAsBefore();
    void readOnlyFolder_data();
    void readOnlyFolder();
    void unwritableFile_data();
    void unwritableFile();
    void abandonedWriterLeavesTargetAlone();
    void longFileName();
    void imageBytesAsImwriteWritesThem_data();
    void imageBytesAsImwriteWritesThem();
    void imageNotEncodable();
};

void TstAtomicFile::replacesWithExactBytes_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::newRow("exchange file") << kExchangeFile;
    QTest::newRow("output file") << kOutputFile;
    QTest::newRow("user's file") << kUserFile;
}

// Written whole, in one piece and in many; nothing left beside it.
void TstAtomicFile::replacesWithExactBytes()
{
    QFETCH(FileWriteOptions, options);
    QTemporaryDir dir;
    const QString path = dir.filePath("f");
    QByteArray bytes;
    for (int i = 0; i < 40000; ++i)
        bytes += char('a' + i % 26);
    QVERIFY(write_file_atomically(path, kPrevious, options));
    QCOMPARE(testsupport::readFile(path), kPrevious);
    QVERIFY(write_file_atomically(path, bytes, options));
    QCOMPARE(testsupport::readFile(path), bytes);
    QVERIFY(write_file_atomically(path, QByteArray(), options));
    QCOMPARE(QFileInfo(path).size(), 0);

    AtomicFileWriter writer(path, options);
    QVERIFY(writer.open());
    for (int at = 0; at < bytes.size(); at += 7000)
        QVERIFY(writer.write(bytes.mid(at, 7000)));
    QVERIFY(writer.commit());
    QCOMPARE(testsupport::readFile(path), bytes);
    QCOMPARE(entries(dir.path()), QStringList{"f"});
}

void TstAtomicFile::fileSizeLimitKeepsPrevious_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::addColumn<int>("size");
    // QSaveFile and QFile keep up to 16 KB in their buffer and lost the
    // failure of writing it out: the sizes below it were taken for saved.
    for (int size : {1000, 16000, 16384, 16385, 100000}) {
        QTest::addRow("%d bytes, exchange file", size) << kExchangeFile << size;
        QTest::addRow("%d bytes, output file", size) << kOutputFile << size;
        QTest::addRow("%d bytes, user's file", size) << kUserFile << size;
    }
}

void TstAtomicFile::fileSizeLimitKeepsPrevious()
{
    QFETCH(FileWriteOptions, options);
    QFETCH(int, size);
    QTemporaryDir dir;
    const QString path = dir.filePath("f");
    QVERIFY(write_file_atomically(path, kPrevious, options));
    QString why;
    bool ok = true;
    {
        testsupport::FileSizeLimit limit(500);
        QVERIFY(limit.isActive());
        ok = write_file_atomically(path, QByteArray(size, 'x'), options, &why);
    }
    QVERIFY(!ok);
    QVERIFY(!why.isEmpty());
    QCOMPARE(testsupport::readFile(path), kPrevious);
    QCOMPARE(entries(dir.path()), QStringList{"f"});
}

// A real full disk (ENOSPC), where a tmpfs can be mounted.
void TstAtomicFile::fullDiskKeepsPrevious()
{
    QTemporaryDir dir;
    testsupport::TmpfsMount tmpfs(dir.path(), 64 * 1024);
    if (!tmpfs.isMounted())
        QSKIP("no tmpfs can be mounted here");
    const QString path = dir.filePath("f");
    QVERIFY(write_file_atomically(path, kPrevious, kUserFile));
    const QString filler = testsupport::fillFileSystem(dir.path());
    QVERIFY(!filler.isEmpty());
    QString why;
    QVERIFY(!write_file_atomically(path, QByteArray(1000, 'x'), kUserFile, &why));
    QCOMPARE(why, qt_error_string(ENOSPC));
    QCOMPARE(testsupport::readFile(path), kPrevious);
    QCOMPARE(entries(dir.path()), (QStringList{"f", "filler"}));
    QVERIFY(QFile::remove(filler));
    QVERIFY(write_file_atomically(path, QByteArray(1000, 'x'), kUserFile));
    QCOMPARE(QFileInfo(path).size(), 1000);
}

void TstAtomicFile::inPlaceFullDiskLeavesFileUntouched_data()
{
    QTest::addColumn<QString>("fileSystem");
    QTest::addColumn<int>("freeBlocks"); // left free when the save starts
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("next");
    QTest::addColumn<bool>("saved");
    // A full tmpfs (4 KiB pages): growing needs pages it does not have;
    // shrinking reuses the file's own.
    QTest::newRow("tmpfs, grows by a page and more") << "tmpfs" << 0 << 20000 << 30000 << false;
    QTest::newRow("tmpfs, grows within its last page") << "tmpfs" << 0 << 20000 << 20400 << true;
    QTest::newRow("tmpfs, shrinks") << "tmpfs" << 0 << 20000 << 5000 << true;
    QTest::newRow("tmpfs, one page free, needs it") << "tmpfs" << 1 << 20000 << 24000 << true;
    // ext2 (1 KiB blocks) can reserve nothing (fallocate: EOPNOTSUPP) and
    // holds a file's first 12 blocks directly: the 13th needs an indirect
    // block as well, two where one is free.
    QTest::newRow("ext2, one block free, the 13th needs an indirect one") << "ext2" << 1 << 12281 << 13000 << false;
    QTest::newRow("ext2, one block free, needs two") << "ext2" << 1 << 5000 << 7000 << false;
    QTest::newRow("ext2, one block free, needs it") << "ext2" << 1 << 10000 << 11000 << true;
    QTest::newRow("ext2, full, grows within its last block") << "ext2" << 0 << 12000 << 12281 << true;
    QTest::newRow("ext2, full, shrinks") << "ext2" << 0 << 12281 << 5000 << true;
}

// A user's file rewritten in place (its folder takes no new file) on a full
// disk: saved where the blocks it needs are there, else refused with the
// file's content and length as they were, whether or not the file system can
// reserve blocks. Each case has a file system of its own in a private mount
// namespace, and the save runs as a user without privileges, who may not use
// blocks kept back for root and cannot create a file in the folder.
void TstAtomicFile::inPlaceFullDiskLeavesFileUntouched()
{
    QFETCH(QString, fileSystem);
    QFETCH(int, freeBlocks);
    QFETCH(int, previous);
    QFETCH(int, next);
    QFETCH(bool, saved);
    QByteArray before;
    for (int i = 0; i < previous; ++i)
        before += char('a' + i % 26);
    const QByteArray after(next, 'n');

    QByteArray outcome;
    QString why;
    const testsupport::PrivateRun run = testsupport::runInPrivateMountNamespace(
        [&] {
            QByteArray report;
            QDataStream out(&report, QIODevice::WriteOnly);
            QTemporaryDir dir; // in the namespace's own /tmp, which goes with it
            dir.setAutoRemove(false);
            std::unique_ptr<testsupport::TmpfsMount> tmpfs;
            QString skip;
            if (fileSystem == "ext2") {
                skip = testsupport::mountExt2Image(dir.path(), 1024 * 1024);
            } else {
                tmpfs.reset(new testsupport::TmpfsMount(dir.path(), 256 * 1024));
                if (!tmpfs->isMounted())
                    skip = "no tmpfs can be mounted here";
            }
            out << skip;
            if (!skip.isEmpty())
                return report;
            ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
            const QString folder = dir.filePath("ro");
            const QString path = folder + "/f";
            testsupport::writeFile(path, before);
            ::chmod(QFile::encodeName(path).constData(), 0666);
            struct statvfs space {};
            ::statvfs(QFile::encodeName(dir.path()).constData(), &space);
            const QString spare = dir.filePath("spare");
            testsupport::writeFile(spare, QByteArray(int(space.f_bsize) * freeBlocks, 's'));
            fillToTheLastBlock(dir.path());
            QFile::remove(spare);
            ::statvfs(QFile::encodeName(dir.path()).constData(), &space);
            ::chmod(QFile::encodeName(folder).constData(), 0555);
            const int status = testsupport::runUnprivileged([&] {
                QString why;
                const bool ok = write_file_atomically(path, after, kUserFile, &why);
                return ok == saved && (ok || why == qt_error_string(ENOSPC));
            });
            ::chmod(QFile::encodeName(folder).constData(), 0755);
            out << qint64(space.f_bavail) << status << testsupport::readFile(path) << entries(folder);
            return report;
        },
        &outcome, &why);
    if (run == testsupport::PrivateRun::Unavailable)
        QSKIP(qPrintable(why));
    QVERIFY2(run == testsupport::PrivateRun::Ran, qPrintable(why));
    QDataStream in(outcome);
    QString skip;
    in >> skip;
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    qint64 free = -1;
    int status = -1;
    QByteArray file;
    QStringList names;
    in >> free >> status >> file >> names;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(free, qint64(freeBlocks)); // the disk is as full as the case says
    QCOMPARE(status, 0);
    QCOMPARE(file.size(), saved ? after.size() : before.size());
    QCOMPARE(file, saved ? after : before);
    QCOMPARE(names, QStringList{"f"});
}

void TstAtomicFile::ownerOnlyWhileFilling_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::addColumn<int>("before"); // -1: no file yet
    QTest::addColumn<int>("after");
    QTest::newRow("exchange file") << kExchangeFile << -1 << 0644;
    QTest::newRow("output file, new") << kOutputFile << -1 << 0640;
    QTest::newRow("user's file, was 0604") << kUserFile << 0604 << 0604;
    QTest::newRow("user's file, was 0600") << kUserFile << 0600 << 0600;
    FileWriteOptions fixed;
    fixed.permissions = 0755;
    QTest::newRow("given bits") << fixed << -1 << 0755;
}

// Whatever bits the file ends with, no one but its owner may read the new
// file while it fills; the final bits are set once every byte is in.
void TstAtomicFile::ownerOnlyWhileFilling()
{
    QFETCH(FileWriteOptions, options);
    QFETCH(int, before);
    QFETCH(int, after);
    ScopedUmask mask(027);
    QTemporaryDir dir;
    const QString path = dir.filePath("f");
    if (before >= 0) {
        QVERIFY(testsupport::writeFile(path, kPrevious));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(before)), 0);
    }
    AtomicFileWriter writer(path, options);
    QVERIFY(writer.open());
    QVERIFY(writer.write("the first part\n"));
    QStringList filling = entries(dir.path());
    filling.removeAll("f");
    QCOMPARE(filling.size(), 1);
    QCOMPARE(modeOf(dir.filePath(filling.first())), 0600);
    QVERIFY(writer.write("the last part\n"));
    QCOMPARE(modeOf(dir.filePath(filling.first())), 0600);
    QVERIFY(writer.commit());
    QCOMPARE(modeOf(path), after);
    QCOMPARE(testsupport::readFile(path), QByteArray("the first part\nthe last part\n"));
}

void TstAtomicFile::folderSyncedAfterRename_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::newRow("user's file") << kUserFile;
    // The model export's copies.
    FileWriteOptions synced;
    synced.sync = true;
    QTest::newRow("given bits, synced") << synced;
}

// A synced file is on the disk before the rename, and its folder after it:
// a power loss then brings neither a part nor the previous file back.
void TstAtomicFile::folderSyncedAfterRename()
{
    QFETCH(FileWriteOptions, options);
    QTemporaryDir dir;
    const QString path = dir.filePath("f");
    QVERIFY(write_file_atomically(path, kPrevious, options));
    QStringList synced;
    QByteArray atFolderSync;
    g_onFsync = [&](const QString& fd_path) {
        synced << fd_path;
        if (fd_path == QDir(dir.path()).canonicalPath())
            atFolderSync = testsupport::readFile(path);
    };
    const bool ok = write_file_atomically(path, "new\n", options);
    g_onFsync = nullptr;
    QVERIFY(ok);
    QCOMPARE(synced.size(), 2);
    QVERIFY2(synced.first().startsWith(QDir(dir.path()).canonicalPath() + "/.f."), qPrintable(synced.first()));
    QCOMPARE(synced.last(), QDir(dir.path()).canonicalPath());
    QCOMPARE(atFolderSync, QByteArray("new\n"));
}

void TstAtomicFile::linkAtTarget_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::addColumn<bool>("dangling");
    for (bool dangling : {false, true}) {
        const char* what = dangling ? "dangling link" : "link to a file";
        QTest::addRow("%s, exchange file", what) << kExchangeFile << dangling;
        QTest::addRow("%s, output file", what) << kOutputFile << dangling;
        QTest::addRow("%s, user's file", what) << kUserFile << dangling;
    }
}

// Exchange and output files replace a link planted at their name and never
// write, or create, what it names. A user's file that is a link stays one:
// the file it names is replaced (beside that file, not beside the link).
void TstAtomicFile::linkAtTarget()
{
    QFETCH(FileWriteOptions, options);
    QFETCH(bool, dangling);
    QTemporaryDir dir, elsewhere;
    const QString target = elsewhere.filePath("target");
    if (!dangling)
        QVERIFY(testsupport::writeFile(target, kPrevious));
    const QString link = dir.filePath("name");
    QVERIFY(QFile::link(target, link));

    QVERIFY(write_file_atomically(link, "new\n", options));
    if (options.follow_link) {
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(testsupport::readFile(target), QByteArray("new\n"));
        QCOMPARE(entries(elsewhere.path()), QStringList{"target"});
    } else {
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(testsupport::readFile(link), QByteArray("new\n"));
        QCOMPARE(QFileInfo::exists(target), !dangling);
        if (!dangling)
            QCOMPARE(testsupport::readFile(target), kPrevious);
    }
    QCOMPARE(entries(dir.path()), QStringList{"name"});
}

void TstAtomicFile::permissions_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::addColumn<int>("before"); // -1: no file yet
    QTest::addColumn<int>("after");
    // Under the umask 027 a new file opened for writing gets 0640.
    QTest::newRow("exchange file, new") << kExchangeFile << -1 << 0644;
    QTest::newRow("exchange file, was 0600") << kExchangeFile << 0600 << 0644;
    QTest::newRow("output file, new") << kOutputFile << -1 << 0640;
    QTest::newRow("output file, was 0600") << kOutputFile << 0600 << 0600;
    QTest::newRow("output file, was 0666") << kOutputFile << 0666 << 0666;
    QTest::newRow("user's file, new") << kUserFile << -1 << 0640;
    QTest::newRow("user's file, was 0604") << kUserFile << 0604 << 0604;
    FileWriteOptions fixed;
    fixed.permissions = 0755;
    QTest::newRow("given bits, was 0600") << fixed << 0600 << 0755;
}

void TstAtomicFile::permissions()
{
    QFETCH(FileWriteOptions, options);
    QFETCH(int, before);
    QFETCH(int, after);
    ScopedUmask mask(027);
    QTemporaryDir dir;
    const QString path = dir.filePath("f");
    if (before >= 0) {
        QVERIFY(testsupport::writeFile(path, kPrevious));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(before)), 0);
    }
    QVERIFY(write_file_atomically(path, "new\n", options));
    QCOMPARE(modeOf(path), after);
}

void TstAtomicFile::ownerAsBefore_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::addColumn<bool>("byRoot");   // else by nobody, who may not give a file away
    QTest::addColumn<int>("fileOwner"); // uid and gid of the file replaced
    QTest::addColumn<int>("after");     // uid and gid of the new file
    // Root saving another user's file in that user's folder gives it back.
    QTest::newRow("user's file of nobody, saved by root") << kUserFile << true << 65534 << 65534;
    QTest::newRow("output file of nobody, written by root") << kOutputFile << true << 65534 << 65534;
    // An exchange file is the programs' own: one another user left is not
    // handed back to them.
    QTest::newRow("exchange file of nobody, written by root") << kExchangeFile << true << 65534 << 0;
    // A user who may write root's file but not give a file away still saves
    // it, as their own.
    QTest::newRow("user's file of root, saved by nobody") << kUserFile << false << 0 << 65534;
}

// The file that replaces another gets its owner and group where the writer
// may set them (as sed -i does), so that a user's file saved by root stays
// theirs to write; elsewhere the save goes on as the writer's own file.
void TstAtomicFile::ownerAsBefore()
{
    QFETCH(FileWriteOptions, options);
    QFETCH(bool, byRoot);
    QFETCH(int, fileOwner);
    QFETCH(int, after);
    if (::geteuid() != 0)
        QSKIP("needs root, to own files of another user");
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther));
    // The folder is the other user's (nobody's), or open to everyone.
    const QByteArray folder = QFile::encodeName(dir.filePath("home"));
    const QString path = dir.filePath("home/f");
    QVERIFY(testsupport::writeFile(path, kPrevious));
    QCOMPARE(::chown(folder.constData(), 65534, 65534), 0);
    QCOMPARE(::chmod(folder.constData(), byRoot ? 0755 : 0777), 0);
    const QByteArray file = QFile::encodeName(path);
    QCOMPARE(::chown(file.constData(), uid_t(fileOwner), gid_t(fileOwner)), 0);
    QCOMPARE(::chmod(file.constData(), byRoot ? 0640 : 0666), 0);
    const QByteArray bytes = "new\n";
    if (byRoot)
        QVERIFY(write_file_atomically(path, bytes, options));
    else
        QCOMPARE(testsupport::runUnprivileged([&] { return write_file_atomically(path, bytes, options); }), 0);
    struct stat st {};
    QCOMPARE(::lstat(file.constData(), &st), 0);
    QCOMPARE(int(st.st_uid), after);
    QCOMPARE(int(st.st_gid), after);
    QCOMPARE(testsupport::readFile(path), bytes);
    if (options.permissions == kPermissionsAsBefore)
        QCOMPARE(modeOf(path), byRoot ? 0640 : 0666);
    QCOMPARE(entries(dir.filePath("home")), QStringList{"f"});
    // The owner can go on saving it.
    if (byRoot && after == fileOwner)
        QCOMPARE(testsupport::runUnprivileged([&] { return write_file_atomically(path, "theirs\n", options); }), 0);
}

void TstAtomicFile::readOnlyFolder_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("written");
    // The new text is shorter than the old: the file must end with it.
    QTest::newRow("user's file, shorter") << kUserFile << QByteArray("new\n") << true;
    QTest::newRow("user's file, longer") << kUserFile << QByteArray(5000, 'n') << true;
    QTest::newRow("output file") << kOutputFile << QByteArray("new\n") << false;
    QTest::newRow("exchange file") << kExchangeFile << QByteArray("new\n") << false;
}

// A writable file in a folder that takes no new file: only a user's file is
// rewritten in place; the others are refused and keep their content. Run as
// a user without privileges, since root writes into any folder.
void TstAtomicFile::readOnlyFolder()
{
    QFETCH(FileWriteOptions, options);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, written);
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther));
    const QString folder = dir.filePath("ro");
    const QString path = folder + "/f";
    QVERIFY(testsupport::writeFile(path, kPrevious));
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const int status = testsupport::runUnprivileged([&] { return write_file_atomically(path, bytes, options); });
    QCOMPARE(status, written ? 0 : 1);
    QCOMPARE(testsupport::readFile(path), written ? bytes : kPrevious);
    QCOMPARE(modeOf(path), 0666);
    QCOMPARE(entries(folder), QStringList{"f"});

    // In place, a write beyond the file-size limit is reported and leaves
    // the file as it was.
    if (written) {
        const int cut = testsupport::runUnprivileged([&] {
            testsupport::FileSizeLimit limit(100);
            return write_file_atomically(path, QByteArray(1000, 'x'), options);
        });
        QCOMPARE(cut, 1);
        QCOMPARE(testsupport::readFile(path), bytes);
    }
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
}

void TstAtomicFile::unwritableFile_data()
{
    QTest::addColumn<FileWriteOptions>("options");
    QTest::addColumn<bool>("written");
    QTest::newRow("user's file") << kUserFile << false;
    QTest::newRow("output file") << kOutputFile << false;
    // An exchange file is the programs' own: whatever was left at the name goes.
    QTest::newRow("exchange file") << kExchangeFile << true;
}

// A file its owner made read-only is not replaced behind their back, as an
// open for writing would not have replaced it (root may; so not as root).
void TstAtomicFile::unwritableFile()
{
    QFETCH(FileWriteOptions, options);
    QFETCH(bool, written);
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther));
    const QString folder = dir.filePath("open");
    const QString path = folder + "/f";
    QVERIFY(testsupport::writeFile(path, kPrevious));
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    const int status = testsupport::runUnprivileged([&] { return write_file_atomically(path, "new\n", options); });
    QCOMPARE(status, written ? 0 : 1);
    QCOMPARE(testsupport::readFile(path), written ? QByteArray("new\n") : kPrevious);
    QCOMPARE(entries(folder), QStringList{"f"});
}

void TstAtomicFile::abandonedWriterLeavesTargetAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("f");
    QVERIFY(write_file_atomically(path, kPrevious));
    {
        AtomicFileWriter writer(path, kOutputFile);
        QVERIFY(writer.open());
        QVERIFY(writer.write("half of it"));
    }
    QCOMPARE(testsupport::readFile(path), kPrevious);
    QCOMPARE(entries(dir.path()), QStringList{"f"});
    // No folder, no file: refused, nothing created.
    AtomicFileWriter missing(dir.filePath("no/such/folder/f"));
    QVERIFY(!missing.open());
    QVERIFY(!missing.write("x"));
    QVERIFY(!missing.commit());
    QCOMPARE(missing.errorString(), qt_error_string(ENOENT));
    QVERIFY(!write_file_atomically(dir.path(), "x")); // a folder is not a file
    QCOMPARE(entries(dir.path()), QStringList{"f"});
}

// The temporary name beside a long name must still be a valid file name.
void TstAtomicFile::longFileName()
{
    QTemporaryDir dir;
    const QString name(255, 'n');
    QVERIFY(write_file_atomically(dir.filePath(name), kPrevious, kOutputFile));
    QCOMPARE(testsupport::readFile(dir.filePath(name)), kPrevious);
    QVERIFY(!write_file_atomically(dir.filePath(name + "n"), kPrevious, kOutputFile)); // too long for any file
    QCOMPARE(entries(dir.path()), QStringList{name});
}

void TstAtomicFile::imageBytesAsImwriteWritesThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("JPEG") << "i.jpg";
    QTest::newRow("PNG") << "i.png";
}

void TstAtomicFile::imageBytesAsImwriteWritesThem()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    cv::Mat image(48, 64, CV_8UC3);
    cv::randu(image, 0, 255);
    const QString reference = dir.filePath("reference-" + name);
    QVERIFY(cv::imwrite(reference.toStdString(), image));
    QVERIFY(write_image_file(dir.filePath(name), image, kOutputFile));
    QCOMPARE(testsupport::readFile(dir.filePath(name)), testsupport::readFile(reference));
}

void TstAtomicFile::imageNotEncodable()
{
    QTemporaryDir dir;
    QString why;
    QVERIFY(!write_image_file(dir.filePath("i.unknown"), cv::Mat(4, 4, CV_8UC3), kOutputFile, &why));
    QVERIFY(!why.isEmpty());
    QVERIFY(!write_image_file(dir.filePath("i.png"), cv::Mat(), kOutputFile, &why));
    QCOMPARE(entries(dir.path()), QStringList());
}

QTEST_GUILESS_MAIN(TstAtomicFile)
#include "tst_atomic_file.moc"
