// The demo's description writer on a fixed training folder: the trainer's
// filled templates with the demo's [net] values in both descriptions, and the
// cases it refuses without touching the folder.

#include "cfg_sections.h"
#include "test_support.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

int run(const QStringList& args, QByteArray* err = nullptr)
{
    QProcess p;
    p.start(DEMO_DESCRIPTION_BIN, args);
    if (!p.waitForFinished(30000))
        return -1;
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

const QStringList kSchedule = {"burn_in=100", "max_batches=1100", "steps=880,990"};

} // namespace

class TstDemoDescription : public QObject {
    Q_OBJECT

private slots:
    void scheduleInBothDescriptions();
    void refused_data();
    void refused();
};

void TstDemoDescription::scheduleInBothDescriptions()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(testsupport::writeFile(dir.filePath("classes.data"), "2"));
    QByteArray err;
    QCOMPARE(run(QStringList{dir.path(), "NomuedDet-104", "16", "1"} + kSchedule, &err), 0);
    QVERIFY2(err.isEmpty(), err.constData());

    QCOMPARE(testsupport::readFile(dir.filePath("version")), QByteArray("NomuedDet-104 : 2 class"));
    for (const char* name : {"train.cfg", "test.cfg"}) {
        const QVector<CfgSection> cfg = parseCfgSections(QString::fromUtf8(testsupport::readFile(dir.filePath(name))));
        QVERIFY2(cfg.size() == 10, name); // [net], 6 convolutions, 2 maxpools, [yolo]
        const CfgSection& net = cfg.front();
        const bool train = QByteArray(name) == "train.cfg";
        QCOMPARE(net.value("batch"), QString(train ? "16" : "1"));
        QCOMPARE(net.value("subdivisions"), QString("1"));
        QCOMPARE(net.value("width"), QString("104"));
        QCOMPARE(net.value("learning_rate"), QString("0.00261"));
        QCOMPARE(net.value("burn_in"), QString("100"));
        QCOMPARE(net.value("max_batches"), QString("1100"));
        QCOMPARE(net.value("steps"), QString("880,990"));
        QCOMPARE(cfg.back().value("classes"), QString("2"));
        QCOMPARE(cfg[cfg.size() - 2].value("filters"), QString("21"));
    }
}

// Nothing of the folder changes when the writer refuses.
void TstDemoDescription::refused_data()
{
    QTest::addColumn<QByteArray>("classes"); // empty: no classes.data
    QTest::addColumn<QStringList>("args");   // after the folder
    QTest::addColumn<int>("status");
    QTest::newRow("no class count") << QByteArray() << QStringList{"NomuedDet-104", "16", "1"} << 1;
    QTest::newRow("unknown model") << QByteArray("2") << QStringList{"NoSuchModel", "16", "1"} << 1;
    QTest::newRow("batch 0") << QByteArray("2") << QStringList{"NomuedDet-104", "0", "1"} << 2;
    QTest::newRow("setting without a value name") << QByteArray("2")
                                                  << QStringList{"NomuedDet-104", "16", "1", "=100"} << 2;
    QTest::newRow("settings for an enciphered description")
        << QByteArray("2") << QStringList{"NomuedDet2-128", "16", "1", "burn_in=100"} << 2;
}

void TstDemoDescription::refused()
{
    QFETCH(QByteArray, classes);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!classes.isEmpty())
        QVERIFY(testsupport::writeFile(dir.filePath("classes.data"), classes));
    QVERIFY(testsupport::writeFile(dir.filePath("train.cfg"), "before"));
    QByteArray err;
    QCOMPARE(run(QStringList{dir.path()} + args, &err), status);
    QVERIFY(!err.isEmpty());
    QCOMPARE(testsupport::readFile(dir.filePath("train.cfg")), QByteArray("before"));
    QVERIFY(!QFileInfo::exists(dir.filePath("test.cfg")));
    QVERIFY(!QFileInfo::exists(dir.filePath("version")));
}

QTEST_GUILESS_MAIN(TstDemoDescription)
#include "tst_demo_description.moc"
