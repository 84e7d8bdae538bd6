// Our nomu_lib_yolo layer: the cipher, the GPU probe and the detector wrappers.
#include "global_nomu_lib_yolo.h"
#include "simplecrypt.h"
#include "yolo_wrappers.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <opencv2/core/cuda.hpp>

#include <cstdio>
#include <cstring>

namespace {

// Read from a static initialiser: the global object must already be there.
const bool g_object_at_static_init = GlobalNomuLibYolo::GlobalNomuLibYoloObject != nullptr;

QString bigText()
{
    QString s;
    for (int i = 0; s.size() < 100 * 1024; ++i)
        s += QString("[convolutional]\nfilters=%1\nactivation=leaky\r\n").arg(i);
    return s;
}

} // namespace

class TstNomuLibYolo : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::newRow("empty") << QString();
        QTest::newRow("one letter") << QString("a");
        QTest::newRow("line feeds") << QString("[net]\nbatch=64\n\n");
        QTest::newRow("crlf") << QString("a\r\nb\r\n");
        QTest::newRow("quotes") << QString("say \"hi\" and 'bye' \\ $(x) `y`");
        QTest::newRow("non-ascii") << QString::fromUtf8("größe ✓ 日本語 \xF0\x9F\x98\x80");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + "x";
        QTest::newRow("separator inside") << QString("head\n<-<+>->\nbody");
        QTest::newRow("nul") << QString(QChar(0)) + "after";
        QTest::newRow("100 kB") << bigText();
    }
    void roundTrip()
    {
        QFETCH(QString, plain);
        SimpleCrypt crypt(kNomuCryptKey);
        const QString cipher = crypt.encryptToString(plain);
        QCOMPARE(crypt.decryptToString(cipher), plain);
        QVERIFY(!cipher.contains("<-<+>->"));
        QVERIFY(!cipher.contains('\r'));
        QVERIFY(!cipher.contains('\n'));
        for (QChar c : cipher)
            QVERIFY(c.unicode() > 32 && c.unicode() < 127);
        // No salt: the same text gives the same cipher text.
        QCOMPARE(SimpleCrypt(kNomuCryptKey).encryptToString(plain), cipher);
    }

    // The protected description is written with QTextStream and read back with readAll.
    void survivesTextStream_data()
    {
        QTest::addColumn<bool>("textMode");
        QTest::newRow("text mode") << true;
        QTest::newRow("binary") << false;
    }
    void survivesTextStream()
    {
        QFETCH(bool, textMode);
        QTemporaryDir dir;
        const QString path = dir.filePath("train.cfg");
        SimpleCrypt crypt(kNomuCryptKey);
        const QString body = QString::fromUtf8("[yolo]\r\nclasses=3\nlabel=größe\n");
        const QString cipher = crypt.encryptToString(body);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | (textMode ? QIODevice::Text : QIODevice::NotOpen)));
            QTextStream out(&f);
            out << "[net]\n" << "<-<+>->" << cipher;
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly | (textMode ? QIODevice::Text : QIODevice::NotOpen)));
        const QString back = QString::fromUtf8(f.readAll());
        const QString tail = back.mid(back.indexOf("<-<+>->") + 7);
        QCOMPARE(tail, cipher);
        QCOMPARE(crypt.decryptToString(tail), body);
    }

    void badCipherGivesEmpty_data()
    {
        const QString good = SimpleCrypt(kNomuCryptKey).encryptToString("some body text\n");
        QTest::addColumn<QString>("cipher");
        QTest::newRow("empty") << QString();
        QTest::newRow("not base64") << QString("!!not base64!!");
        QTest::newRow("cut in half") << good.left(good.size() / 2);
        QTest::newRow("one letter changed") << QString(good).replace(8, 1, good[8] == 'A' ? "B" : "A");
        QTest::newRow("other key") << SimpleCrypt(0x1234).encryptToString("some body text\n");
        QTest::newRow("plain text") << QString("[net]\nbatch=1\n");
        QTest::newRow("non-latin") << QString::fromUtf8("日本");
        QTest::newRow("short") << QString("TkMB");
    }
    void badCipherGivesEmpty()
    {
        QFETCH(QString, cipher);
        QCOMPARE(SimpleCrypt(kNomuCryptKey).decryptToString(cipher), QString());
    }

    void globalObjectBeforeMain()
    {
        QVERIFY(g_object_at_static_init);
    }

    // The probe decides once per process, so each answer is checked in a child
    // process of this test with its own environment.
    void gpuProbe_data()
    {
        QTest::addColumn<QString>("forced");
        QTest::addColumn<QString>("expected");
        const bool cuda = cv::cuda::getCudaEnabledDeviceCount() > 0;
        QTest::newRow("forced on") << "1" << "1 1";
        QTest::newRow("forced off") << "0" << "0 0";
        QTest::newRow("other value runs the probe") << "yes" << (cuda ? "" : "0 0");
        QTest::newRow("unset runs the probe") << "<unset>" << (cuda ? "" : "0 0");
    }
    void gpuProbe()
    {
        QFETCH(QString, forced);
        QFETCH(QString, expected);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (forced == "<unset>")
            env.remove("NOMU_LIB_YOLO_GPU");
        else
            env.insert("NOMU_LIB_YOLO_GPU", forced);
        env.insert("NOMU_TEST_PROBE_CHILD", "1");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        const QString out = QString::fromLatin1(child.readAllStandardOutput()).trimmed();
        if (expected.isEmpty()) // a machine with CUDA: only the stability of the answer is known
            QVERIFY(out == "1 1" || out == "0 0");
        else
            QCOMPARE(out, expected);
    }

    void wrappers()
    {
        darknet::NomuYolo gpu;
        NomuYoloCPU cpu;
        QVERIFY(gpu.detector == nullptr);
        QVERIFY(cpu.detector == nullptr);
        const int liveGpu = Detector::live_count(), liveCpu = DetectorCPU::live_count();

        gpu.detector = new Detector;
        cpu.detector = new DetectorCPU;
        QCOMPARE(Detector::live_count(), liveGpu + 1);
        QCOMPARE(DetectorCPU::live_count(), liveCpu + 1);
        gpu.delete_detector(&gpu.detector);
        cpu.delete_detector(&cpu.detector);
        QVERIFY(gpu.detector == nullptr);
        QVERIFY(cpu.detector == nullptr);
        QCOMPARE(Detector::live_count(), liveGpu);
        QCOMPARE(DetectorCPU::live_count(), liveCpu);

        // Null detector and null address are both no-ops.
        gpu.delete_detector(&gpu.detector);
        cpu.delete_detector(&cpu.detector);
        gpu.delete_detector(nullptr);
        cpu.delete_detector(nullptr);
        QCOMPARE(Detector::live_count(), liveGpu);
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("NOMU_TEST_PROBE_CHILD")) {
        GlobalNomuLibYolo* g = GlobalNomuLibYolo::GlobalNomuLibYoloObject;
        const bool a = g->is_gpu_ok();
        const bool b = g->is_gpu_ok();
        std::printf("%d %d\n", a ? 1 : 0, b ? 1 : 0);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TstNomuLibYolo t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_nomu_lib_yolo.moc"
