// Reading by name: only a regular file, never more than the limit, and never
// a wait on a FIFO.
#include "bounded_input.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using bounded_input::ReadStatus;

Q_DECLARE_METATYPE(ReadStatus)

class TestBoundedInput : public QObject {
    Q_OBJECT
private slots:
    void kinds_data();
    void kinds();
    void sizeOfStatusIsNotTrusted();
    void openForStreaming();
};

void TestBoundedInput::kinds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<ReadStatus>("status");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray limit(1024, 'x');
    QTest::newRow("regular") << "regular" << ReadStatus::Ok << QByteArray("abc\0def", 7) << "";
    QTest::newRow("empty") << "empty" << ReadStatus::Ok << QByteArray() << "";
    QTest::newRow("exactly the limit") << "limit" << ReadStatus::Ok << limit << "";
    QTest::newRow("one byte over") << "over" << ReadStatus::TooLarge << QByteArray() << "limit of 1 KiB";
    QTest::newRow("link to a regular file") << "link" << ReadStatus::Ok << QByteArray("abc") << "";
    QTest::newRow("missing") << "missing" << ReadStatus::Missing << QByteArray() << "does not exist";
    QTest::newRow("dangling link") << "dangling" << ReadStatus::Missing << QByteArray() << "does not exist";
    QTest::newRow("FIFO") << "fifo" << ReadStatus::Refused << QByteArray() << "not a regular file";
    QTest::newRow("link to a FIFO") << "fifo link" << ReadStatus::Refused << QByteArray() << "not a regular file";
    QTest::newRow("link to /dev/zero") << "zero" << ReadStatus::Refused << QByteArray() << "not a regular file";
    QTest::newRow("folder") << "folder" << ReadStatus::Refused << QByteArray() << "not a regular file";
}

void TestBoundedInput::kinds()
{
    QFETCH(QString, kind);
    QFETCH(ReadStatus, status);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const QString path = dir.filePath("input");
    const QString target = dir.filePath("target");
    if (kind == "regular" || kind == "empty" || kind == "limit")
        QVERIFY(testsupport::writeFile(path, bytes));
    else if (kind == "over")
        QVERIFY(testsupport::writeFile(path, QByteArray(1025, 'x')));
    else if (kind == "link")
        QVERIFY(testsupport::writeFile(target, bytes) && QFile::link(target, path));
    else if (kind == "dangling")
        QVERIFY(QFile::link(target, path));
    else if (kind == "fifo")
        QVERIFY(testsupport::makeFifo(path));
    else if (kind == "fifo link")
        QVERIFY(testsupport::makeFifo(target) && QFile::link(target, path));
    else if (kind == "zero")
        QVERIFY(QFile::link("/dev/zero", path));
    else if (kind == "folder")
        QVERIFY(QDir().mkpath(path));

    QByteArray got("left over");
    QString error;
    QCOMPARE(bounded_input::read_regular_file(path, 1024, &got, &error), status);
    QCOMPARE(got, bytes);
    if (status == ReadStatus::Ok)
        return;
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestBoundedInput::sizeOfStatusIsNotTrusted()
{
    // /proc files are regular with a size of 0 but hold text: the read goes
    // by what arrives, and stops one byte past the limit.
    const QString maps = "/proc/self/maps";
    QByteArray bytes;
    QString error;
    QCOMPARE(bounded_input::read_regular_file(maps, 16, &bytes, &error), ReadStatus::TooLarge);
    QVERIFY(bytes.isEmpty());
    QVERIFY2(error.contains("limit of 16 bytes"), qPrintable(error));
    QCOMPARE(bounded_input::read_regular_file(maps, 1 << 20, &bytes, &error), ReadStatus::Ok);
    QVERIFY(bytes.contains("[stack]"));
}

void TestBoundedInput::openForStreaming()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    QVERIFY(testsupport::makeFifo(fifo));
    QFile file;
    QString error;
    QVERIFY(!bounded_input::open_regular_file(fifo, &file, &error));
    QVERIFY(!file.isOpen());
    QVERIFY2(error.contains("not a regular file"), qPrintable(error));

    const QString plain = dir.filePath("plain");
    QVERIFY(testsupport::writeFile(plain, "content"));
    QVERIFY(QFile::setPermissions(plain, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    QVERIFY2(bounded_input::open_regular_file(plain, &file, &error), qPrintable(error));
    QCOMPARE(file.read(100), QByteArray("content"));
    QVERIFY(file.read(100).isEmpty());
    QVERIFY(file.atEnd());
    // The open file still tells its permissions, which a copy takes over.
    QCOMPARE(file.permissions() & (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup),
             QFileDevice::ReadOwner | QFileDevice::ReadGroup);
}

QTEST_APPLESS_MAIN(TestBoundedInput)
#include "tst_bounded_input.moc"
