// Images: the size each format declares, read before decoding; the decoded
// pixels the same as cv::imread gives; refusals before any decoding.
#include "bounded_image.h"
#include "image_header.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <cstring>
#include <vector>

namespace {

// A 37 x 23 test picture with some structure, so that a rotated or mirrored
// decode shows.
cv::Mat picture(int type = CV_8UC3)
{
    cv::Mat m(23, 37, CV_8UC3);
    for (int y = 0; y < m.rows; ++y)
        for (int x = 0; x < m.cols; ++x)
            m.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(7 * x), uchar(11 * y), uchar(x * y));
    if (type == CV_8UC1)
        cv::extractChannel(m, m, 1);
    if (type == CV_32FC3)
        m.convertTo(m, CV_32FC3, 1 / 255.0);
    return m;
}

QByteArray encoded(const char* ext, int type = CV_8UC3, const std::vector<int>& params = {})
{
    std::vector<uchar> buf;
    if (!cv::imencode(ext, picture(type), buf, params))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(buf.data()), static_cast<int>(buf.size()));
}

QByteArray bigEndian(quint64 v, int n)
{
    QByteArray out;
    for (int i = n - 1; i >= 0; --i)
        out.append(char((v >> (8 * i)) & 0xFF));
    return out;
}

// A JPEG with an Exif segment (orientation `orientation`) before its frame
// header, as cameras write it.
QByteArray jpegWithOrientation(int orientation)
{
    const QByteArray jpg = encoded(".jpg");
    QByteArray exif("Exif\0\0MM\0\x2a\0\0\0\x08", 14);
    exif += bigEndian(1, 2);                                           // one entry
    exif += bigEndian(0x0112, 2) + bigEndian(3, 2) + bigEndian(1, 4); // Orientation, SHORT, 1
    exif += bigEndian(quint64(orientation) << 16, 4) + bigEndian(0, 4);
    return jpg.left(2) + "\xFF\xE1" + bigEndian(quint64(exif.size() + 2), 2) + exif + jpg.mid(2);
}

// A minimal big-endian TIFF (or BigTIFF) header with width and height tags.
QByteArray tiffHeader(bool big, quint64 width, quint64 height)
{
    if (!big)
        return QByteArray("MM\0\x2a", 4) + bigEndian(8, 4) + bigEndian(2, 2) +
               bigEndian(256, 2) + bigEndian(4, 2) + bigEndian(1, 4) + bigEndian(width, 4) +
               bigEndian(257, 2) + bigEndian(3, 2) + bigEndian(1, 4) + bigEndian(height << 16, 4);
    return QByteArray("MM\0\x2b\0\x08\0\0", 8) + bigEndian(16, 8) + bigEndian(2, 8) +
           bigEndian(256, 2) + bigEndian(16, 2) + bigEndian(1, 8) + bigEndian(width, 8) +
           bigEndian(257, 2) + bigEndian(4, 2) + bigEndian(1, 8) + bigEndian(height << 32, 8);
}

} // namespace

class TestImageReading : public QObject {
    Q_OBJECT
private slots:
    void headerSize_data();
    void headerSize();
    void headerRefused_data();
    void headerRefused();
    void decodesAsImread_data();
    void decodesAsImread();
    void refusedBeforeDecoding_data();
    void refusedBeforeDecoding();
};

void TestImageReading::headerSize_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    for (const char* ext : {".png", ".jpg", ".bmp", ".tiff", ".webp", ".ppm", ".pgm", ".pbm"})
        QTest::newRow(ext) << encoded(ext, std::strcmp(ext, ".pgm") && std::strcmp(ext, ".pbm") ? CV_8UC3 : CV_8UC1)
                           << qint64(37) << qint64(23);
    QTest::newRow("lossless webp") << encoded(".webp", CV_8UC3, {cv::IMWRITE_WEBP_QUALITY, 101}) << qint64(37)
                                   << qint64(23);
    QTest::newRow("pfm") << encoded(".pfm", CV_32FC3) << qint64(37) << qint64(23);
    QTest::newRow("text pnm with a comment") << QByteArray("P3\n# made by hand\n37  23\n255\n") << qint64(37)
                                             << qint64(23);
    QTest::newRow("jpeg, exif first") << jpegWithOrientation(6) << qint64(37) << qint64(23);
    QByteArray topDown = encoded(".bmp");
    const qint32 negative = -23;
    topDown.replace(22, 4, QByteArray(reinterpret_cast<const char*>(&negative), 4));
    QTest::newRow("top-down bmp") << topDown << qint64(37) << qint64(23);
    QTest::newRow("big-endian tiff") << tiffHeader(false, 30000, 20000) << qint64(30000) << qint64(20000);
    QTest::newRow("bigtiff") << tiffHeader(true, 30000, 20000) << qint64(30000) << qint64(20000);
    QTest::newRow("png of 30000 x 30000") << testsupport::blankPng(30000, 8).left(33).replace(20, 4, bigEndian(30000, 4))
                                           << qint64(30000) << qint64(30000);
    QByteArray extended = QByteArray("RIFF\0\0\0\0WEBPVP8X", 16) + QByteArray(8, '\0') +
                          QByteArray("\x2f\x75\x00\x2f\x75\x00", 6); // 30000 - 1 twice, 24 bits each
    QTest::newRow("extended webp") << extended << qint64(30000) << qint64(30000);
}

void TestImageReading::headerSize()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    QVERIFY(!bytes.isEmpty());
    qint64 w = 0, h = 0;
    QVERIFY(image_header_size(bytes, &w, &h));
    QCOMPARE(w, width);
    QCOMPARE(h, height);
}

void TestImageReading::headerRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray png = encoded(".png");
    const QByteArray jpg = encoded(".jpg");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("not a picture");
    QTest::newRow("png cut in its header") << png.left(20);
    QTest::newRow("jpeg cut before its frame header") << jpg.left(20);
    const int frame = jpg.indexOf("\xFF\xC0");
    QByteArray noHeight = jpg;
    noHeight[frame + 5] = 0;
    noHeight[frame + 6] = 0;
    QTest::newRow("jpeg of height 0") << noHeight;
    QTest::newRow("jpeg scan before any frame") << QByteArray("\xFF\xD8\xFF\xDA\x00\x02", 6) + jpg.mid(2);
    QTest::newRow("tiff directory beyond the end") << QByteArray("II*\0\xff\xff\0\0", 8);
    QTest::newRow("tiff without a height") << tiffHeader(false, 37, 23).left(22);
    // Formats OpenCV decodes but whose size is not read here.
    QTest::newRow("openexr") << QByteArray("\x76\x2f\x31\x01\x02\0\0\0", 8);
    QTest::newRow("jpeg 2000") << QByteArray("\0\0\0\x0cjP  \r\n\x87\n", 12);
    QTest::newRow("sun raster") << QByteArray("\x59\xa6\x6a\x95\0\0\0\x25\0\0\0\x17", 12);
}

void TestImageReading::headerRefused()
{
    QFETCH(QByteArray, bytes);
    qint64 w = -1, h = -1;
    QVERIFY(!image_header_size(bytes, &w, &h));
}

void TestImageReading::decodesAsImread_data()
{
    QTest::addColumn<QByteArray>("bytes");
    for (const char* ext : {".png", ".jpg", ".bmp", ".tiff", ".webp", ".ppm", ".pgm"})
        QTest::newRow(ext) << encoded(ext, std::strcmp(ext, ".pgm") ? CV_8UC3 : CV_8UC1);
    QTest::newRow("grey png") << encoded(".png", CV_8UC1);
    QTest::newRow("16-bit png") << [] {
        std::vector<uchar> buf;
        cv::Mat m;
        picture().convertTo(m, CV_16UC3, 257);
        cv::imencode(".png", m, buf);
        return QByteArray(reinterpret_cast<const char*>(buf.data()), static_cast<int>(buf.size()));
    }();
    for (int orientation : {3, 6, 8})
        QTest::newRow(qPrintable(QString("jpeg, exif orientation %1").arg(orientation)))
            << jpegWithOrientation(orientation);
}

void TestImageReading::decodesAsImread()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath("image");
    QVERIFY(testsupport::writeFile(path, bytes));
    const cv::Mat expected = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
    QVERIFY(!expected.empty());
    QString error;
    const cv::Mat got = bounded_image::read_color_image(path, &error);
    QVERIFY2(!got.empty(), qPrintable(error));
    QCOMPARE(got.type(), CV_8UC3);
    QCOMPARE(got.size(), expected.size());
    QCOMPARE(cv::norm(got, expected, cv::NORM_INF), 0.0);
    if (QByteArray(QTest::currentDataTag()).contains("orientation 6"))
        QCOMPARE(got.size(), cv::Size(23, 37)); // turned, as imread turns it
}

void TestImageReading::refusedBeforeDecoding_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo" << "not a regular file";
    QTest::newRow("link to /dev/zero") << "zero" << "not a regular file";
    QTest::newRow("missing") << "missing" << "does not exist";
    QTest::newRow("one pixel row over the limit") << "huge"
                                                   << "declares 16385 x 16384 pixels, more than the limit of "
                                                      "268435456 pixels";
    QTest::newRow("unchecked format") << "exr" << "not an image whose size can be read before decoding";
    QTest::newRow("damaged data") << "damaged" << "does not decode";
}

void TestImageReading::refusedBeforeDecoding()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("image.png");
    if (kind == "fifo")
        QVERIFY(testsupport::makeFifo(path));
    else if (kind == "zero")
        QVERIFY(QFile::link("/dev/zero", path));
    else if (kind == "huge")
        // About 40 KB; decoded, 805 MB.
        QVERIFY(testsupport::writeFile(path, testsupport::blankPng(16385, 16384)));
    else if (kind == "exr")
        QVERIFY(testsupport::writeFile(path, QByteArray("\x76\x2f\x31\x01\x02\0\0\0", 8) + QByteArray(100, 'x')));
    else if (kind == "damaged")
        QVERIFY(testsupport::writeFile(path, encoded(".png").left(60)));
    QString error;
    const cv::Mat image = bounded_image::read_color_image(path, &error);
    QVERIFY(image.empty());
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

QTEST_APPLESS_MAIN(TestImageReading)
#include "tst_image_reading.moc"
