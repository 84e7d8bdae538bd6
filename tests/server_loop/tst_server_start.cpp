// The real sarvik_server's start-up: a second server on the same /tmp, or an
// exchange file the server could not replace, ends it with a non-zero status
// and a line on stderr before it serves anything; the lock of a server that
// died is taken over, a live server's never, however old.
#include "test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

const QString kCmd = "/tmp/sarvik_test.cmd";
const QString kMarker = "/tmp/sarvik.run";
const QString kLog = "/tmp/sarvik.log";
const QString kResult = "/tmp/sarvik_result.png";
const QString kLock = "/tmp/sarvik.lock";
const uid_t kNobody = 65534;

} // namespace

class TstServerStart : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void refusesUnreplaceableFile_data();
    void refusesUnreplaceableFile();
    void markerOfAnotherUserRewrittenInPlace();
    void oneServerPerTmp();
    void deadServersLockOfAnotherUser();

private:
    void start(QProcess& server, const QStringList& command);
    // Sends one command as a client of user `owner` would and waits for the
    // marker (removed first, or with keepMarker, watched for a change); false
    // when it does not come.
    bool answers(QProcess& server, const QByteArray& command = "Test", uid_t owner = 0, bool keepMarker = false);
    // Waits for the end of a server that must refuse to start; it is killed
    // when it does not end.
    bool ended(QProcess& server);

    QTemporaryDir home_;
    std::unique_ptr<testsupport::ExchangeFileGuard> guard_;
};

void TstServerStart::initTestCase()
{
    QVERIFY(home_.isValid());
    // Open to the unprivileged user the refusals run as.
    QVERIFY(::chmod(QFile::encodeName(home_.path()).constData(), 0777) == 0);
    guard_.reset(new testsupport::ExchangeFileGuard(
        {kCmd, kMarker, kLog, kResult, kLock, "/tmp/sarvik_model_test", "/tmp/sarvik_img_test.png"}));
}

void TstServerStart::cleanupTestCase()
{
    guard_.reset();
}

void TstServerStart::init()
{
    for (const QString& path : {kCmd, kMarker, kLog, kResult, kLock})
        QFile::remove(path);
}

void TstServerStart::start(QProcess& server, const QStringList& command)
{
    QProcessEnvironment env = testsupport::programEnvironment(home_.path());
    env.insert("NOMU_LIB_YOLO_GPU", "0");
    server.setProcessEnvironment(env);
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start(command.first(), command.mid(1));
    QVERIFY2(server.waitForStarted(10000), qPrintable(command.join(' ')));
}

bool TstServerStart::answers(QProcess& server, const QByteArray& command, uid_t owner, bool keepMarker)
{
    if (!keepMarker)
        QFile::remove(kMarker);
    const QByteArray before = testsupport::readFile(kMarker);
    auto answered = [&] {
        return !QFile::exists(kCmd) && (keepMarker ? testsupport::readFile(kMarker) != before : QFile::exists(kMarker));
    };
    const QByteArray staging = "/tmp/.sarvik_test.cmd.start";
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sent;
    while (clock.elapsed() < 20000 && server.state() == QProcess::Running) {
        if (sent.isValid() && answered())
            return true;
        // Not sent yet, or gone without an answer: a command that arrives
        // while the server starts is dropped unread, so it is sent again.
        if (!QFile::exists(kCmd) && (!sent.isValid() || sent.elapsed() > 1500)) {
            if (!testsupport::writeFile(staging, command) || ::chown(staging.constData(), owner, owner) != 0
                || std::rename(staging.constData(), qPrintable(kCmd)) != 0)
                return false;
            sent.start();
        }
        QTest::qWait(5);
    }
    return sent.isValid() && answered();
}

bool TstServerStart::ended(QProcess& server)
{
    if (server.waitForFinished(20000))
        return true;
    server.kill();
    server.waitForFinished(5000);
    return false;
}

void TstServerStart::refusesUnreplaceableFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("how"); // "other user": root's file, the server runs unprivileged
    QTest::addColumn<QString>("why");
    const QString sticky = "it belongs to another user (uid 0) and /tmp is sticky";
    QTest::newRow("log of another user") << kLog << "other user" << sticky;
    QTest::newRow("marker of another user") << kMarker << "other user" << sticky;
    QTest::newRow("result image of another user") << kResult << "other user" << sticky;
    QTest::newRow("command file of another user") << kCmd << "other user" << sticky;
    QTest::newRow("immutable log") << kLog << "immutable" << "it is immutable";
    QTest::newRow("immutable marker") << kMarker << "immutable" << "it is immutable";
}

// Every later answer would be stale (a log or image that stays), or the
// command would run again at every tick (a command file that stays).
void TstServerStart::refusesUnreplaceableFile()
{
    QFETCH(QString, path);
    QFETCH(QString, how);
    QFETCH(QString, why);
    // A command waiting: a server that started serving would remove it.
    QVERIFY(testsupport::writeFile(kCmd, "Test"));
    if (path != kCmd)
        QVERIFY(testsupport::writeFile(path, "left by another run\n"));
    if (how == "immutable" && !testsupport::setImmutable(path, true))
        QSKIP("the immutable attribute cannot be set here");
    QProcess server;
    start(server, how == "other user" ? testsupport::unprivilegedCommand(SARVIK_SERVER_BIN)
                                      : QStringList{SARVIK_SERVER_BIN});
    const bool refused = ended(server);
    if (how == "immutable")
        QVERIFY(testsupport::setImmutable(path, false));
    const QString err = QString::fromLocal8Bit(server.readAllStandardError());
    QVERIFY2(refused, "the server did not refuse to start");
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QVERIFY(server.exitCode() != 0);
    QVERIFY2(err.contains("sarvik_server: cannot replace " + path + ": " + why + "\n"), qPrintable(err));
    QCOMPARE(testsupport::readFile(kCmd), QByteArray("Test"));
    if (path != kMarker)
        QVERIFY(!QFile::exists(kMarker));
    QVERIFY(!QFile::exists(kLock));
}

// A marker of another user that this server may write is rewritten in place
// (the client's watch stays), although the server could not replace it.
void TstServerStart::markerOfAnotherUserRewrittenInPlace()
{
    QVERIFY(testsupport::writeFile(kMarker, "old\n"));
    QVERIFY(::chmod(QFile::encodeName(kMarker).constData(), 0666) == 0);
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(kMarker).constData(), &before), 0);
    QProcess server;
    start(server, testsupport::unprivilegedCommand(SARVIK_SERVER_BIN));
    QVERIFY2(answers(server, "Test", kNobody, true), server.readAllStandardError().constData());
    struct stat after {};
    QCOMPARE(::stat(QFile::encodeName(kMarker).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_uid, uid_t(0));
    QVERIFY(answers(server, "exit", kNobody));
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitCode(), 0);
}

// Two servers on one /tmp would take each other's commands and answers.
void TstServerStart::oneServerPerTmp()
{
    QProcess first;
    start(first, {SARVIK_SERVER_BIN});
    QVERIFY(answers(first));
    // However old the lock of a live server, it is never taken over.
    const struct timeval old[2] = {{::time(nullptr) - 86400, 0}, {::time(nullptr) - 86400, 0}};
    QCOMPARE(::utimes(QFile::encodeName(kLock).constData(), old), 0);

    QProcess second;
    start(second, {SARVIK_SERVER_BIN});
    QVERIFY2(ended(second), "a second server started");
    const QString err = QString::fromLocal8Bit(second.readAllStandardError());
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QVERIFY(second.exitCode() != 0);
    QVERIFY2(err.contains(QString("sarvik_server: another server (process %1) already serves /tmp: it holds "
                                  "/tmp/sarvik.lock\n")
                              .arg(first.processId())),
             qPrintable(err));
    QVERIFY(answers(first));

    // A server that died leaves its lock; the next one takes it over.
    ::kill(pid_t(first.processId()), SIGKILL);
    QVERIFY(first.waitForFinished(10000));
    QVERIFY(QFile::exists(kLock));
    QProcess next;
    start(next, {SARVIK_SERVER_BIN});
    QVERIFY2(answers(next), next.readAllStandardError().constData());
    QVERIFY(answers(next, "exit"));
    QVERIFY(next.waitForFinished(10000));
    QCOMPARE(next.exitCode(), 0);
    // A server that ends frees the lock.
    QVERIFY(!QFile::exists(kLock));
}

// A lock left by a server of another user that died cannot be removed from
// the sticky /tmp: the server says so instead of taking it for a live one.
void TstServerStart::deadServersLockOfAnotherUser()
{
    QProcess dead;
    start(dead, {SARVIK_SERVER_BIN});
    QVERIFY(answers(dead));
    const qint64 pid = dead.processId();
    ::kill(pid_t(pid), SIGKILL);
    QVERIFY(dead.waitForFinished(10000));

    QProcess server;
    start(server, testsupport::unprivilegedCommand(SARVIK_SERVER_BIN));
    QVERIFY2(ended(server), "the server started without the lock");
    const QString err = QString::fromLocal8Bit(server.readAllStandardError());
    QVERIFY(server.exitCode() != 0);
    QVERIFY2(err.contains(QString("sarvik_server: cannot take over the lock /tmp/sarvik.lock of a server that ended "
                                  "(process %1): it belongs to another user (uid 0) and /tmp is sticky\n")
                              .arg(pid)),
             qPrintable(err));
}

QTEST_MAIN(TstServerStart)
#include "tst_server_start.moc"
