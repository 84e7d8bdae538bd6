// Reading an exported model folder: protected descriptions and class names.
#include "fixture_model.h"
#include "input_limits.h"
#include "model_folder.h"
#include "simplecrypt.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <QtTest>

class TestModelFolder : public QObject {
    Q_OBJECT
private slots:
    void protectedDescriptionDeciphers();
    void damagedCipherRefused();
    void names_data();
    void names();
    void missingFiles_data();
    void missingFiles();
    void refusedFiles_data();
    void refusedFiles();
    void weightsSizeAskedBeforeRead();
};

void TestModelFolder::protectedDescriptionDeciphers()
{
    const QString marked = fixture::nomued_det52_cfg(2, true);
    const QString stored = fixture::protected_form(marked);
    QVERIFY(stored.contains("<-<+>->"));
    QVERIFY(!stored.contains("[yolo]"));
    QVERIFY(!stored.endsWith('\n'));
    QString clear;
    QVERIFY(description_in_clear(stored, &clear));
    QString expected = marked;
    expected.remove("#**<>\n");
    // The head keeps its own line end and gets one more before the body.
    const int body = expected.indexOf("[convolutional]");
    expected.insert(body, "\n");
    // The empty piece after the text's last line end gets its own "\n" too.
    expected += "\n";
    QCOMPARE(clear, expected);
    // A plain description is given back as it stands; so is a trailing line
    // break after the cipher text, which an editor may add.
    QVERIFY(description_in_clear(marked, &clear));
    QCOMPARE(clear, marked);
    QVERIFY(description_in_clear(stored + "\n", &clear));
    QCOMPARE(clear, expected);
}

void TestModelFolder::damagedCipherRefused()
{
    const QString stored = fixture::protected_form(fixture::nomued_det52_cfg(2, true));
    QString clear = "unchanged";
    QString damaged = stored;
    damaged[damaged.size() - 10] = damaged[damaged.size() - 10] == 'A' ? 'B' : 'A';
    QVERIFY(!description_in_clear(damaged, &clear));
    QVERIFY(!description_in_clear(stored.left(stored.size() - 8), &clear));
    const QString other_key = stored.left(stored.indexOf("<-<+>->") + 7) +
                              SimpleCrypt(kNomuCryptKey ^ 1).encryptToString("[yolo]\n");
    QVERIFY(!description_in_clear(other_key, &clear));
    QCOMPARE(clear, QString("unchanged"));
}

void TestModelFolder::names_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("as the trainer writes") << QByteArray("cat\ndog\n") << QStringList{"cat", "dog"};
    QTest::newRow("no final newline") << QByteArray("cat\ndog") << QStringList{"cat", "dog"};
    QTest::newRow("CRLF") << QByteArray("cat\r\ndog\r\n") << QStringList{"cat", "dog"};
    QTest::newRow("blank kept") << QByteArray("cat\n\ndog\n") << QStringList{"cat", "", "dog"};
    QTest::newRow("spaces kept") << QByteArray(" big cat\n") << QStringList{" big cat"};
    QTest::newRow("utf-8") << QByteArray("ch\xc3\xa4t\n") << QStringList{QString::fromUtf8("ch\xc3\xa4t")};
    QTest::newRow("empty") << QByteArray() << QStringList{};
}

void TestModelFolder::names()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QStringList got;
    for (const std::string& n : parse_names(bytes))
        got << QString::fromStdString(n);
    QCOMPARE(got, names);
}

void TestModelFolder::missingFiles_data()
{
    QTest::addColumn<QString>("missing");
    QTest::newRow("cfg") << "test.cfg";
    QTest::newRow("weights") << "train.weights";
    QTest::newRow("names") << "obj.names";
}

void TestModelFolder::missingFiles()
{
    QFETCH(QString, missing);
    QTemporaryDir dir;
    QVERIFY(fixture::write_model_folder(dir.path(), fixture::nomued_det52_cfg(2), fixture::small_boxes_weights(),
                                        {"a", "b"}));
    ModelFiles files;
    QString error;
    QVERIFY(read_model_folder(dir.path(), &files, &error));
    QCOMPARE(files.class_names.size(), size_t(2));
    QVERIFY(QFile::remove(dir.path() + "/" + missing));
    QVERIFY(!read_model_folder(dir.path(), &files, &error));
    QVERIFY2(error.contains(missing), qPrintable(error));
}

void TestModelFolder::refusedFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    for (const char* file : {"test.cfg", "train.weights", "obj.names"})
        QTest::newRow(qPrintable(QString(file) + " is a FIFO")) << file << "fifo" << "is not a regular file";
    QTest::newRow("obj.names links to /dev/zero") << "obj.names" << "zero" << "is not a regular file";
    QTest::newRow("test.cfg over its limit") << "test.cfg" << "over" << "larger than the limit of 16 MiB";
    QTest::newRow("obj.names over its limit") << "obj.names" << "over" << "larger than the limit of 16 MiB";
    QTest::newRow("train.weights over its limit") << "train.weights" << "over" << "larger than the limit of 1 GiB";
    QTest::newRow("too many names") << "obj.names" << "names" << "100001 names, more than the limit of 100000";
}

void TestModelFolder::refusedFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(fixture::write_model_folder(dir.path(), fixture::nomued_det52_cfg(2), fixture::small_boxes_weights(),
                                        {"a", "b"}));
    const QString path = dir.path() + "/" + file;
    QVERIFY(QFile::remove(path));
    if (kind == "fifo") {
        QVERIFY(testsupport::makeFifo(path));
    } else if (kind == "zero") {
        QVERIFY(QFile::link("/dev/zero", path));
    } else if (kind == "over") {
        // A sparse file one byte beyond the limit: refused by its size, unread.
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const qint64 limit = file == "train.weights" ? input_limits::kModelWeightsBytes
                             : file == "obj.names"   ? input_limits::kModelNamesBytes
                                                     : input_limits::kModelDescriptionBytes;
        QVERIFY(f.resize(limit + 1));
    } else if (kind == "names") {
        QVERIFY(testsupport::writeFile(path, QByteArray("n\n").repeated(input_limits::kModelClassNames + 1)));
    }
    ModelFiles files;
    QString error;
    QVERIFY(!read_model_folder(dir.path(), &files, &error));
    QVERIFY2(error.contains(file), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestModelFolder::weightsSizeAskedBeforeRead()
{
    // The check is given the protected description in clear and the size of
    // train.weights; its refusal is the folder's.
    QTemporaryDir dir;
    const QByteArray weights = fixture::small_boxes_weights();
    QVERIFY(fixture::write_model_folder(dir.path(), fixture::protected_form(fixture::nomued_det52_cfg(2, true)),
                                        weights, {"a", "b"}));
    std::string seen_cfg;
    qint64 seen_size = -1;
    auto refuse = [&](const std::string& cfg, qint64 size, QString* why) {
        seen_cfg = cfg;
        seen_size = size;
        *why = "refused by its size";
        return false;
    };
    ModelFiles files;
    QString error;
    QVERIFY(!read_model_folder(dir.path(), &files, &error, refuse));
    QCOMPARE(error, QString("refused by its size"));
    QCOMPARE(seen_size, qint64(weights.size()));
    QVERIFY(QString::fromStdString(seen_cfg).contains("[yolo]"));
    QVERIFY(files.weights.empty());
    auto accept = [](const std::string&, qint64, QString*) { return true; };
    QVERIFY2(read_model_folder(dir.path(), &files, &error, accept), qPrintable(error));
    QCOMPARE(files.weights.size(), size_t(weights.size()));
}

QTEST_APPLESS_MAIN(TestModelFolder)
#include "tst_model_folder.moc"
