// The real sarvik_server in a /tmp it shares with another user. The test runs
// in a private mount namespace with its own sticky tmpfs on /tmp (mode 1777,
// like the machine's), so nothing of the machine's /tmp is touched; the
// server runs as nobody (uid 65534) or as root, the other user is uid 65533.
//  - The server lock is held only by a live server: a lock file that no
//    process holds (empty, garbage, left by a server that died, with a FIFO
//    planted beside it) is taken over, a link or FIFO at its name removed;
//    what cannot be taken is refused at once with the reason, never waited on
//    and never taken for a live server; of servers starting at once exactly
//    one serves.
//  - An answer file another user plants after the start (the log, the result
//    image, the run marker) ends the server with status 1 and the reason, as
//    at start, instead of being read as its answer; a full /tmp does not.
#include "fixture_model.h"
#include "private_mount.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kCmd = "/tmp/sarvik_test.cmd";
const QString kMarker = "/tmp/sarvik.run";
const QString kLog = "/tmp/sarvik.log";
const QString kResult = "/tmp/sarvik_result.png";
const QString kLock = "/tmp/sarvik.lock";
const uid_t kNobody = 65534; // the server's user, where it runs unprivileged
const uid_t kOther = 65533;  // the other local user
const QString kOtherUsersFile = "it belongs to another user (uid 65533) and /tmp is sticky";

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// Puts a file of user `owner` at `path`: a regular file with `content`, a
// FIFO, a folder, a link to `content` or a hard link to the file `content`.
bool plant(const QString& path, const QString& kind, uid_t owner, const QByteArray& content = QByteArray(),
           mode_t mode = 0644)
{
    const QByteArray name = encoded(path);
    bool made = false;
    if (kind == "file")
        made = testsupport::writeFile(path, content) && ::chmod(name.constData(), mode) == 0;
    else if (kind == "FIFO")
        made = ::mkfifo(name.constData(), mode) == 0;
    else if (kind == "folder")
        made = ::mkdir(name.constData(), 0755) == 0;
    else if (kind == "link")
        made = ::symlink(content.constData(), name.constData()) == 0;
    else if (kind == "hard link")
        made = ::link(content.constData(), name.constData()) == 0;
    return made && ::lchown(name.constData(), owner, owner) == 0;
}

// The id of a process that has ended (a child, already reaped).
pid_t endedPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

// A process of the other user that holds the kernel lock on its own
// /tmp/sarvik.lock (holding its id) until destroyed: a live holder that is
// not this test's server.
class OtherUsersLock {
public:
    bool start()
    {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            if (::setgroups(0, nullptr) != 0 || ::setgid(kOther) != 0 || ::setuid(kOther) != 0)
                ::_exit(2);
            const int fd = ::open("/tmp/sarvik.lock", O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            char text[32];
            const int n = std::snprintf(text, sizeof text, "%d\n", int(::getpid()));
            if (fd < 0 || ::write(fd, text, size_t(n)) != n || ::flock(fd, LOCK_EX) != 0)
                ::_exit(3);
            char byte = 1;
            if (::write(ready[1], &byte, 1) != 1)
                ::_exit(4);
            while (::read(release[0], &byte, 1) < 0 && errno == EINTR) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char byte = 0;
        const bool started = pid_ > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        return started;
    }
    qint64 pid() const { return pid_; }
    ~OtherUsersLock()
    {
        if (release_ >= 0)
            ::close(release_);
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

} // namespace

class TstServerSharedTmp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void lockNoProcessHoldsIsTakenOver_data();
    void lockNoProcessHoldsIsTakenOver();
    void lockThatCannotBeTakenIsRefused_data();
    void lockThatCannotBeTakenIsRefused();
    void serversStartingAtOnce_data();
    void serversStartingAtOnce();
    void answerPlantedByAnotherUser_data();
    void answerPlantedByAnotherUser();

private:
    QProcess* start(bool asNobody);
    // Sends `command` as a client of the server's user would (the marker
    // removed first) and waits for the marker. With `resend`, a command that
    // vanishes unanswered (dropped by a server that was still starting) is
    // sent again. False when no answer comes.
    bool answers(QProcess* server, const QByteArray& command, bool resend = false);
    // Waits for the end of a server that must end by itself; kills it and
    // returns false when it does not end.
    bool ended(QProcess* server, int ms = 15000);
    QString err(QProcess* server) const { return QString::fromLocal8Bit(server->readAllStandardError()); }

    std::unique_ptr<QTemporaryDir> home_;
    std::vector<std::unique_ptr<QProcess>> servers_;
    uid_t serverUser_ = 0;
};

void TstServerSharedTmp::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root: a private mount namespace and a second user");
    // This thread starts the servers, which share its namespace.
    const QString why = testsupport::enterPrivateMountNamespace();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    home_.reset(new QTemporaryDir("/tmp/home-XXXXXX"));
    QVERIFY(home_->isValid());
    // Open to the unprivileged server.
    QVERIFY(::chmod(encoded(home_->path()).constData(), 0777) == 0);
}

void TstServerSharedTmp::init()
{
    for (const QString& path : {kCmd, kMarker, kLog, kResult, kLock, kLock + ".rmlock"}) {
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
            QDir().rmdir(path);
        QFile::remove(path);
    }
}

void TstServerSharedTmp::cleanup()
{
    for (auto& server : servers_) {
        if (server->state() != QProcess::NotRunning) {
            server->kill();
            server->waitForFinished(5000);
        }
    }
    servers_.clear();
}

QProcess* TstServerSharedTmp::start(bool asNobody)
{
    serverUser_ = asNobody ? kNobody : 0;
    servers_.emplace_back(new QProcess);
    QProcess* server = servers_.back().get();
    QProcessEnvironment env = testsupport::programEnvironment(home_->path());
    env.insert("NOMU_LIB_YOLO_GPU", "0");
    server->setProcessEnvironment(env);
    server->setProcessChannelMode(QProcess::SeparateChannels);
    const QStringList command =
        asNobody ? testsupport::unprivilegedCommand(SARVIK_SERVER_BIN) : QStringList{SARVIK_SERVER_BIN};
    server->start(command.first(), command.mid(1));
    return server->waitForStarted(10000) ? server : nullptr;
}

bool TstServerSharedTmp::answers(QProcess* server, const QByteArray& command, bool resend)
{
    QFile::remove(kMarker);
    const QByteArray staging = "/tmp/.sarvik_test.cmd.client";
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sent;
    while (clock.elapsed() < 20000 && server->state() == QProcess::Running) {
        if (sent.isValid() && !QFile::exists(kCmd) && QFile::exists(kMarker))
            return true;
        if (!QFile::exists(kCmd) && (!sent.isValid() || (resend && sent.elapsed() > 1500))) {
            // The client's file: the server removes it, so in the sticky
            // /tmp it must be of the server's user.
            if (!testsupport::writeFile(staging, command) || ::chown(staging.constData(), serverUser_, serverUser_) != 0
                || std::rename(staging.constData(), qPrintable(kCmd)) != 0)
                return false;
            sent.start();
        }
        QTest::qWait(5);
    }
    return false;
}

bool TstServerSharedTmp::ended(QProcess* server, int ms)
{
    if (server->state() == QProcess::NotRunning || server->waitForFinished(ms))
        return true;
    server->kill();
    server->waitForFinished(5000);
    return false;
}

void TstServerSharedTmp::lockNoProcessHoldsIsTakenOver_data()
{
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<QString>("kind");    // what stands at /tmp/sarvik.lock
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("othersFile"); // of the other user, else of the server's user
    QTest::addColumn<bool>("rmlockFifo"); // the other user's FIFO at /tmp/sarvik.lock.rmlock
    const QByteArray dead = QByteArray::number(endedPid()) + "\nsarvik_server\n"
                            + QSysInfo::machineHostName().toUtf8() + "\n";
    QTest::newRow("empty lock file") << true << "file" << QByteArray() << false << false;
    QTest::newRow("garbage lock file") << true << "file" << QByteArray("\x01garbage\xff") << false << false;
    QTest::newRow("dead server's lock beside a FIFO") << true << "file" << dead << false << true;
    QTest::newRow("root: dead server's lock of another user beside a FIFO") << false << "file" << dead << true << true;
    QTest::newRow("root: empty lock file of another user") << false << "file" << QByteArray() << true << false;
    QTest::newRow("FIFO at the name") << true << "FIFO" << QByteArray() << false << false;
    QTest::newRow("link at the name to another user's file")
        << true << "link" << QByteArray("/tmp/victim") << false << false;
    QTest::newRow("root: FIFO of another user at the name") << false << "FIFO" << QByteArray() << true << false;
    QTest::newRow("hard link at the name to a file of the server's user")
        << true << "hard link" << QByteArray("/tmp/victim") << false << false;
    QTest::newRow("root: hard link at the name to a file of root")
        << false << "hard link" << QByteArray("/tmp/victim") << false << false;
}

// Nothing at or beside the name holds the lock unless a live process holds
// the kernel lock: the server serves, with the lock file a regular file of its
// own holding its id, which it removes when it ends. A file that a link or a
// hard link at the name leads to is never written.
void TstServerSharedTmp::lockNoProcessHoldsIsTakenOver()
{
    QFETCH(bool, asNobody);
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(bool, othersFile);
    QFETCH(bool, rmlockFifo);
    const uid_t user = asNobody ? kNobody : 0;
    // The file a link at the name leads to; a hard link can only be a file of
    // the server's user, else the name would be another user's.
    QVERIFY(plant("/tmp/victim", "file", kind == "hard link" ? user : kOther, "a file the name leads to\n"));
    QVERIFY(plant(kLock, kind, othersFile ? kOther : user, content));
    if (rmlockFifo)
        QVERIFY(plant(kLock + ".rmlock", "FIFO", kOther));

    QProcess* server = start(asNobody);
    QVERIFY(server);
    QVERIFY2(answers(server, "Test", true), qPrintable(err(server)));
    struct stat st {};
    QCOMPARE(::lstat(encoded(kLock).constData(), &st), 0);
    QVERIFY(S_ISREG(st.st_mode));
    QCOMPARE(st.st_uid, user);
    QCOMPARE(testsupport::readFile(kLock), QByteArray::number(server->processId()) + "\n");
    QCOMPARE(testsupport::readFile("/tmp/victim"), QByteArray("a file the name leads to\n"));

    QVERIFY(answers(server, "exit"));
    QVERIFY(ended(server));
    QCOMPARE(server->exitCode(), 0);
    QVERIFY(!QFileInfo::exists(kLock));
}

void TstServerSharedTmp::lockThatCannotBeTakenIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("line"); // PID: the holder's id
    QTest::newRow("empty lock file of another user")
        << "file" << 0644 << "cannot take over the lock /tmp/sarvik.lock: " + kOtherUsersFile;
    QTest::newRow("dead server's lock of another user")
        << "dead" << 0644
        << "cannot take over the lock /tmp/sarvik.lock of a server that ended (process PID): " + kOtherUsersFile;
    QTest::newRow("lock of another user that cannot be read")
        << "file" << 0600 << "cannot take the lock /tmp/sarvik.lock: " + kOtherUsersFile;
    QTest::newRow("FIFO of another user at the name")
        << "FIFO" << 0644 << "cannot remove /tmp/sarvik.lock, which is not a lock file: Operation not permitted";
    QTest::newRow("live process of another user holds it")
        << "held" << 0644 << "another server (process PID) already serves /tmp: it holds /tmp/sarvik.lock";
}

// What the unprivileged server cannot take, it says at once (status 1, one
// line naming the lock and the reason), without waiting and without claiming
// another server where none lives; the other user's file stays as it was.
void TstServerSharedTmp::lockThatCannotBeTakenIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(int, mode);
    QFETCH(QString, line);
    OtherUsersLock holder;
    qint64 pid = 0;
    if (kind == "held") {
        QVERIFY(holder.start());
        pid = holder.pid();
    } else if (kind == "dead") {
        pid = endedPid();
        QVERIFY(plant(kLock, "file", kOther, QByteArray::number(pid) + "\n", mode_t(mode)));
    } else {
        QVERIFY(plant(kLock, kind, kOther, QByteArray(), mode_t(mode)));
    }
    struct stat before {};
    QCOMPARE(::lstat(encoded(kLock).constData(), &before), 0);
    // A command waiting: a server that served would remove it.
    QVERIFY(plant(kCmd, "file", kNobody, "Test"));

    QProcess* server = start(true);
    QVERIFY(server);
    QElapsedTimer clock;
    clock.start();
    QVERIFY2(ended(server), "the server did not end");
    const QString text = err(server);
    QCOMPARE(server->exitStatus(), QProcess::NormalExit);
    QCOMPARE(server->exitCode(), 1);
    QVERIFY2(text.contains("sarvik_server: " + QString(line).replace("PID", QString::number(pid)) + "\n"), qPrintable(text));
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(testsupport::readFile(kCmd), QByteArray("Test"));
    struct stat after {};
    QCOMPARE(::lstat(encoded(kLock).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_uid, kOther);
}

void TstServerSharedTmp::serversStartingAtOnce_data()
{
    QTest::addColumn<QString>("kind"); // what stands at the name before
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("nothing") << QString() << QByteArray();
    QTest::newRow("empty lock file") << "file" << QByteArray();
    QTest::newRow("dead server's lock") << "file" << QByteArray::number(endedPid()) + "\n";
    QTest::newRow("FIFO") << "FIFO" << QByteArray();
}

// Four servers started together, a few times: exactly one serves; each other
// one ends at once with status 1 and the line of a second server.
void TstServerSharedTmp::serversStartingAtOnce()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    const QRegularExpression second(
        "sarvik_server: another server (\\(process \\d+\\) )?already serves /tmp: it holds /tmp/sarvik.lock\n");
    for (int round = 0; round < 3; ++round) {
        init();
        if (!kind.isEmpty())
            QVERIFY(plant(kLock, kind, 0, content));
        std::vector<QProcess*> group;
        for (int i = 0; i < 4; ++i) {
            group.push_back(start(false));
            QVERIFY(group.back());
        }
        QElapsedTimer clock;
        clock.start();
        auto running = [&group] {
            return int(std::count_if(group.begin(), group.end(),
                                     [](QProcess* p) { return p->state() != QProcess::NotRunning; }));
        };
        while (running() > 1 && clock.elapsed() < 20000)
            QTest::qWait(20);
        QCOMPARE(running(), 1);
        QProcess* winner = nullptr;
        for (QProcess* server : group) {
            if (server->state() != QProcess::NotRunning) {
                winner = server;
                continue;
            }
            const QString text = err(server);
            QCOMPARE(server->exitStatus(), QProcess::NormalExit);
            QCOMPARE(server->exitCode(), 1);
            QVERIFY2(second.match(text).hasMatch(), qPrintable(text));
        }
        QVERIFY2(answers(winner, "Test", true), qPrintable(err(winner)));
        QCOMPARE(testsupport::readFile(kLock), QByteArray::number(winner->processId()) + "\n");
        QVERIFY(answers(winner, "exit"));
        QVERIFY(ended(winner));
        QCOMPARE(winner->exitCode(), 0);
        cleanup();
    }
}

void TstServerSharedTmp::answerPlantedByAnotherUser_data()
{
    QTest::addColumn<QString>("path");    // planted by the other user after the start
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("command"); // IMAGE: an image
    QTest::addColumn<QString>("why");     // empty: a full /tmp, the server serves on
    QTest::newRow("log") << kLog << "file" << "update,/no/such" << kOtherUsersFile;
    QTest::newRow("log as a folder") << kLog << "folder" << "update,/no/such" << "it is a folder";
    QTest::newRow("result image") << kResult << "file" << "test,IMAGE" << kOtherUsersFile;
    QTest::newRow("marker") << kMarker << "file" << "Test" << kOtherUsersFile;
    QTest::newRow("full /tmp") << QString() << QString() << "update,/no/such" << QString();
}

// The server (nobody) cannot replace a file the other user put at an answer's
// name in the sticky /tmp. Announcing the command with the marker would let
// the client read the planted file as its answer: the server ends instead,
// with status 1 and the start check's line naming the file, and the planted
// file stays as it was. A full /tmp is not such a file: the command is
// answered as before (no log line, a marker) and the server serves on.
void TstServerSharedTmp::answerPlantedByAnotherUser()
{
    QFETCH(QString, path);
    QFETCH(QString, kind);
    QFETCH(QString, command);
    QFETCH(QString, why);
    const QString model = home_->filePath("model");
    QVERIFY(fixture::write_model_folder(model, fixture::nomued_det52_cfg(2), fixture::small_boxes_weights(),
                                        {"cat", "dog"}));
    const QString image = home_->filePath("image.png");
    QVERIFY(cv::imwrite(image.toStdString(), cv::Mat(48, 64, CV_8UC3, cv::Scalar(90, 90, 90))));

    QProcess* server = start(true);
    QVERIFY(server);
    QVERIFY2(answers(server, "Test", true), qPrintable(err(server)));
    if (path == kResult)
        QVERIFY2(answers(server, "update," + model.toUtf8()), qPrintable(err(server)));
    const QByteArray planted = "{\"datatime\":\"2000-01-01 00:00:00\",\"state\":\"update_end\",\"load_model\":true}\n";
    QString filler;
    if (path.isEmpty()) {
        // The client's command is in place before /tmp fills up.
        QFile::remove(kMarker);
        QVERIFY(plant("/tmp/.sarvik_test.cmd.client", "file", kNobody, command.toUtf8()));
        filler = testsupport::fillFileSystem("/tmp");
        QVERIFY(!filler.isEmpty());
        QCOMPARE(std::rename("/tmp/.sarvik_test.cmd.client", qPrintable(kCmd)), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(kCmd) && QFile::exists(kMarker), 20000);
        QFile::remove(filler);
        QCOMPARE(server->state(), QProcess::Running);
        QVERIFY(!QFile::exists(kLog));
        QVERIFY2(answers(server, "update,/no/such"), qPrintable(err(server)));
        QVERIFY(testsupport::readFile(kLog).contains("\"update_error\""));
        QVERIFY(answers(server, "exit"));
        QVERIFY(ended(server));
        QCOMPARE(server->exitCode(), 0);
        return;
    }

    QFile::remove(kMarker); // as the client does; the other user's takes its place
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(plant(path, kind, kOther, planted));
    QVERIFY(plant("/tmp/.sarvik_test.cmd.client", "file", kNobody, QString(command).replace("IMAGE", image).toUtf8()));
    QCOMPARE(std::rename("/tmp/.sarvik_test.cmd.client", qPrintable(kCmd)), 0);
    QVERIFY2(ended(server, 20000), "the server served on beside the other user's file");
    const QString text = err(server);
    QCOMPARE(server->exitStatus(), QProcess::NormalExit);
    QCOMPARE(server->exitCode(), 1);
    QVERIFY2(text.contains("sarvik_server: cannot replace " + path + ": " + why + "\n"), qPrintable(text));
    if (path != kMarker)
        QVERIFY2(!QFileInfo::exists(kMarker), "the command was announced");
    if (kind == "file")
        QCOMPARE(testsupport::readFile(path), planted);
    QVERIFY(!QFileInfo::exists(kLock));
}

QTEST_GUILESS_MAIN(TstServerSharedTmp)
#include "tst_server_shared_tmp.moc"
