// The server's GUI-free units: command parsing, the 608 rule, the result
// object and the log writer.
#include "command_parser.h"
#include "log_writer.h"
#include "result_json.h"
#include "scale_rule.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TestServerUnits : public QObject {
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void scaling_data();
    void scaling();
    void result_data();
    void result();
    void logLine();
    void logWriterIsNoShell_data();
    void logWriterIsNoShell();
    void atomicWriteReplacesLinkAndFailsCleanly();
};

Q_DECLARE_METATYPE(ServerCommand::Kind)
Q_DECLARE_METATYPE(bbox_t)

void TestServerUnits::commands_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ServerCommand::Kind>("kind");
    QTest::addColumn<bool>("hasArgument");
    QTest::addColumn<QString>("argument");
    using K = ServerCommand;
    QTest::newRow("update") << QByteArray("update") << K::Update << false << "";
    QTest::newRow("update with folder") << QByteArray("update,/m/x") << K::Update << true << "/m/x";
    QTest::newRow("update, empty folder") << QByteArray("update,") << K::Update << true << "";
    QTest::newRow("test with line feed") << QByteArray("test\n") << K::Test << false << "";
    QTest::newRow("test with CRLF") << QByteArray("test\r\n") << K::Test << false << "";
    QTest::newRow("test with image") << QByteArray("test,/tmp/a.png") << K::Test << true << "/tmp/a.png";
    QTest::newRow("leading blank kept") << QByteArray("test, /tmp/a.png") << K::Test << true << " /tmp/a.png";
    QTest::newRow("line breaks removed anywhere") << QByteArray("te\r\nst,/a\n.png") << K::Test << true << "/a.png";
    QTest::newRow("exit") << QByteArray("exit") << K::Exit << false << "";
    QTest::newRow("exit with line feed") << QByteArray("exit\n") << K::Exit << false << "";
    QTest::newRow("text ends at NUL") << QByteArray("test\0,/x.png", 12) << K::Test << false << "";
    QTest::newRow("utf-8 path") << QByteArray("test,/tmp/\xc3\xa9.png") << K::Test << true
                                << QString::fromUtf8("/tmp/\xc3\xa9.png");
    QTest::newRow("Test") << QByteArray("Test") << K::None << false << "";
    QTest::newRow("EXIT") << QByteArray("EXIT") << K::None << false << "";
    QTest::newRow("blank before the word") << QByteArray(" test") << K::None << false << "";
    QTest::newRow("blank after the word") << QByteArray("test ") << K::None << false << "";
    QTest::newRow("three fields") << QByteArray("update,a,b") << K::None << false << "";
    QTest::newRow("exit with a field") << QByteArray("exit,now") << K::None << false << "";
    QTest::newRow("empty file") << QByteArray() << K::None << false << "";
    QTest::newRow("two lines joined") << QByteArray("update\ntest") << K::None << false << "";
    QTest::newRow("unknown word") << QByteArray("detect,/a.png") << K::None << false << "";
}

void TestServerUnits::commands()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ServerCommand::Kind, kind);
    QFETCH(bool, hasArgument);
    QFETCH(QString, argument);
    const ServerCommand cmd = parse_command(command_text(bytes));
    QCOMPARE(cmd.kind, kind);
    if (kind != ServerCommand::None) {
        QCOMPARE(cmd.has_argument, hasArgument);
        QCOMPARE(cmd.argument, argument);
    }
}

void TestServerUnits::scaling_data()
{
    QTest::addColumn<int>("cols");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::newRow("1920x1080") << 1920 << 1080 << 608 << 342;
    QTest::newRow("640x480") << 640 << 480 << 608 << 456;
    QTest::newRow("300x200") << 300 << 200 << 608 << 405;
    QTest::newRow("100x100 enlarged") << 100 << 100 << 608 << 608;
    QTest::newRow("portrait") << 1080 << 1920 << 342 << 608;
    for (int side : {263, 293, 526, 586, 591, 1052})
        QTest::addRow("%d gives 607", side) << side << side << 607 << 607;
    QTest::newRow("1000x1: no height") << 1000 << 1 << 608 << 0;
    QTest::newRow("empty") << 0 << 0 << 0 << 0;
}

void TestServerUnits::scaling()
{
    QFETCH(int, cols);
    QFETCH(int, rows);
    QFETCH(int, w);
    QFETCH(int, h);
    QCOMPARE(scaled_to_608(cols, rows), cv::Size(w, h));
}

static bbox_t box(unsigned x, unsigned y, unsigned w, unsigned h, float prob, unsigned id, unsigned track = 0)
{
    bbox_t b;
    b.x = x;
    b.y = y;
    b.w = w;
    b.h = h;
    b.prob = prob;
    b.obj_id = id;
    b.track_id = track;
    return b;
}

void TestServerUnits::result_data()
{
    QTest::addColumn<QVector<bbox_t>>("boxes");
    QTest::addColumn<QVector<int>>("counts");
    QTest::addColumn<QVector<unsigned>>("counters");
    QTest::addColumn<bool>("tracking");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("centre rounded down, w 5")
        << QVector<bbox_t>{box(10, 20, 5, 3, 0.9f, 1)} << QVector<int>{0, 1} << QVector<unsigned>{} << false
        << QByteArray("{\"count\":1,\"im_h\":342,\"im_w\":608,\"obj_count\":[{\"count\":1,\"name\":\"dog\"}],"
                      "\"obj_count_str\":\"dog: 1\",\"objects\":[{\"confidence\":0.8999999761581421,\"h\":3,\"id\":1,"
                      "\"name\":\"dog\",\"w\":5,\"x\":12,\"y\":21}]}");
    QTest::newRow("centre w 4") << QVector<bbox_t>{box(10, 20, 4, 4, 0.5f, 0)} << QVector<int>{1, 0}
                                << QVector<unsigned>{} << false
                                << QByteArray("{\"count\":1,\"im_h\":342,\"im_w\":608,\"obj_count\":[{\"count\":1,"
                                              "\"name\":\"cat\"}],\"obj_count_str\":\"dog: 1\",\"objects\":[{"
                                              "\"confidence\":0.5,\"h\":4,\"id\":0,\"name\":\"cat\",\"w\":4,"
                                              "\"x\":12,\"y\":22}]}");
    QTest::newRow("nothing found, tracking off")
        << QVector<bbox_t>{} << QVector<int>{0, 0} << QVector<unsigned>{} << false
        << QByteArray("{\"count\":0,\"im_h\":342,\"im_w\":608,\"obj_count\":[],\"obj_count_str\":\"dog: 1\","
                      "\"objects\":[]}");
    QTest::newRow("nothing found, tracking on: every class")
        << QVector<bbox_t>{} << QVector<int>{0, 0} << QVector<unsigned>{1, 4} << true
        << QByteArray("{\"count\":0,\"im_h\":342,\"im_w\":608,\"obj_count\":[{\"count\":0,\"name\":\"cat\"},"
                      "{\"count\":3,\"name\":\"dog\"}],\"obj_count_str\":\"dog: 1\",\"objects\":[]}");
    QTest::newRow("tracking on: track_id and counters")
        << QVector<bbox_t>{box(0, 0, 2, 2, 0.25f, 0, 7)} << QVector<int>{1, 0} << QVector<unsigned>{8, 1} << true
        << QByteArray("{\"count\":1,\"im_h\":342,\"im_w\":608,\"obj_count\":[{\"count\":7,\"name\":\"cat\"},"
                      "{\"count\":0,\"name\":\"dog\"}],\"obj_count_str\":\"dog: 1\",\"objects\":[{\"confidence\":"
                      "0.25,\"h\":2,\"id\":0,\"name\":\"cat\",\"track_id\":7,\"w\":2,\"x\":1,\"y\":1}]}");
    QTest::newRow("tracking on: missing counter reads as 0")
        << QVector<bbox_t>{} << QVector<int>{} << QVector<unsigned>{5} << true
        << QByteArray("{\"count\":0,\"im_h\":342,\"im_w\":608,\"obj_count\":[{\"count\":4,\"name\":\"cat\"},"
                      "{\"count\":0,\"name\":\"dog\"}],\"obj_count_str\":\"dog: 1\",\"objects\":[]}");
    QTest::newRow("class id without a name")
        << QVector<bbox_t>{box(0, 0, 2, 2, 0.25f, 5)} << QVector<int>{0, 0, 0, 0, 0, 1} << QVector<unsigned>{}
        << false
        << QByteArray("{\"count\":1,\"im_h\":342,\"im_w\":608,\"obj_count\":[{\"count\":1,\"name\":\"\"}],"
                      "\"obj_count_str\":\"dog: 1\",\"objects\":[{\"confidence\":0.25,\"h\":2,\"id\":5,"
                      "\"name\":\"\",\"w\":2,\"x\":1,\"y\":1}]}");
}

void TestServerUnits::result()
{
    QFETCH(QVector<bbox_t>, boxes);
    QFETCH(QVector<int>, counts);
    QFETCH(QVector<unsigned>, counters);
    QFETCH(bool, tracking);
    QFETCH(QByteArray, json);
    DetectionReport r;
    r.im_w = 608;
    r.im_h = 342;
    r.boxes.assign(boxes.begin(), boxes.end());
    r.class_names = {"cat", "dog"};
    r.obj_counts.assign(counts.begin(), counts.end());
    const std::vector<unsigned> c(counters.begin(), counters.end());
    r.track_counters = &c;
    r.tracking = tracking;
    r.count_text = "dog: 1";
    QCOMPARE(QJsonDocument(build_result(r)).toJson(QJsonDocument::Compact), json);
}

void TestServerUnits::logLine()
{
    QJsonObject log{{"state", "update_end"}, {"load_model", true}};
    const QDateTime at(QDate(2024, 3, 9), QTime(17, 5, 9));
    QCOMPARE(log_line_text(log, at),
             QByteArray("{\"datatime\":\"2024-03-09 17:05:09\",\"load_model\":true,\"state\":\"update_end\"}"));
    QVERIFY(!log.contains("datatime")); // the caller's object is unchanged
}

void TestServerUnits::logWriterIsNoShell_data()
{
    QTest::addColumn<QString>("msg");
    QTest::newRow("command substitution") << "$(touch SENTINEL)";
    QTest::newRow("backquotes") << "`touch SENTINEL`";
    QTest::newRow("double quote") << "a\"b";
    QTest::newRow("backslash") << "a\\b";
    QTest::newRow("backslash c") << "cut\\chere";
    QTest::newRow("tab") << "a\tb";
    QTest::newRow("non-ASCII") << QString::fromUtf8("caf\xc3\xa9");
}

void TestServerUnits::logWriterIsNoShell()
{
    QFETCH(QString, msg);
    QTemporaryDir dir;
    const QString sentinel = dir.path() + "/SENTINEL";
    msg.replace("SENTINEL", sentinel);
    const QByteArray text = log_line_text(QJsonObject{{"state", "update_error"}, {"msg", "not found : " + msg}},
                                          QDateTime::currentDateTime());
    const QString path = dir.path() + "/log";
    QVERIFY(write_file_atomically(path, text + "\n"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray stored = f.readAll();
    QCOMPARE(stored, text + "\n");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(stored, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc.object().value("msg").toString(), "not found : " + msg);
    QVERIFY(!QFile::exists(sentinel));
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"log"});
}

void TestServerUnits::atomicWriteReplacesLinkAndFailsCleanly()
{
    QTemporaryDir dir;
    const QString victim = dir.path() + "/victim";
    QVERIFY(QFile(victim).open(QIODevice::WriteOnly));
    const QString link = dir.path() + "/link";
    QVERIFY(QFile::link(victim, link));
    QVERIFY(write_file_atomically(link, "new\n"));
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(victim).size(), 0); // the link's target is untouched
    QVERIFY(!write_file_atomically(dir.path() + "/no/such/folder/file", "x"));
    QVERIFY(!QFile::exists(dir.path() + "/no"));
}

QTEST_APPLESS_MAIN(TestServerUnits)
#include "tst_server_units.moc"
