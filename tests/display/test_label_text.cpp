// Label text stamps must set exactly the pixels cv::putText sets, wherever the
// text lands (inside the image, across its border, outside it).

#include "cv_qimage.h"
#include "label_text.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

class LabelTextTest : public QObject {
    Q_OBJECT

private slots:
    void sameAsPutText_data();
    void sameAsPutText();
    void conversion();
    void scaledPixmap();
};

void LabelTextTest::sameAsPutText_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("thickness");
    QTest::newRow("640 defaults") << 1.0 << 1;
    QTest::newRow("1920 wide") << 3.0 << 3;
    QTest::newRow("4000 wide") << 6.25 << 6;
    QTest::newRow("tiny") << 0.01 << 1;
    QTest::newRow("odd scale") << 1.37 << 2;
}

void LabelTextTest::sameAsPutText()
{
    QFETCH(double, scale);
    QFETCH(int, thickness);
    const std::string texts[] = {"car", "person", "Wg|(y)_", "", "a b", "?\xc3\xa9"};
    cv::RNG rng(7);
    LabelText stamp(scale, thickness);
    for (int i = 0; i < 300; ++i) {
        const std::string& text = texts[i % 6];
        const cv::Size size(rng.uniform(50, 400), rng.uniform(40, 300));
        cv::Mat base(size, CV_8UC3);
        rng.fill(base, cv::RNG::UNIFORM, 0, 255);
        // Origins inside, near and past every border.
        const cv::Point origin(rng.uniform(-200, size.width + 50), rng.uniform(-50, size.height + 200));
        const cv::Scalar colour(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
        cv::Mat expected = base.clone();
        cv::putText(expected, text, origin, cv::FONT_HERSHEY_COMPLEX_SMALL, scale, colour, thickness, cv::LINE_8,
                    false);
        cv::Mat actual = base.clone();
        stamp.put(actual, text, origin, colour);
        cv::Mat diff;
        cv::absdiff(expected, actual, diff);
        QVERIFY2(cv::countNonZero(diff.reshape(1)) == 0,
                 qPrintable(QString("text '%1' at %2,%3 in %4x%5")
                                .arg(QString::fromStdString(text))
                                .arg(origin.x)
                                .arg(origin.y)
                                .arg(size.width)
                                .arg(size.height)));
    }
}

void LabelTextTest::conversion()
{
    const cv::Mat blue(2, 3, CV_8UC3, cv::Scalar(255, 0, 0));
    const QImage q = cv_qimage::to_qimage(blue);
    QCOMPARE(q.size(), QSize(3, 2));
    QCOMPARE(q.pixelColor(0, 0), QColor(0, 0, 255));

    const QImage grey = cv_qimage::to_qimage(cv::Mat(2, 2, CV_8UC1, cv::Scalar(77)));
    QCOMPARE(grey.format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(grey.pixel(1, 1)), 77);

    const QImage bgra = cv_qimage::to_qimage(cv::Mat(2, 2, CV_8UC4, cv::Scalar(10, 20, 30, 255)));
    QCOMPARE(bgra.format(), QImage::Format_ARGB32);
    QCOMPARE(bgra.pixelColor(0, 0), QColor(30, 20, 10));

    QTest::ignoreMessage(QtWarningMsg, "ASM::cvMatToQImage() - cv::Mat image type not handled in switch: 2");
    QVERIFY(cv_qimage::to_qimage(cv::Mat(2, 2, CV_16UC1, cv::Scalar(1))).isNull());

    // The image owns its pixels: the matrix may go.
    QImage kept;
    {
        cv::Mat red(4, 4, CV_8UC3, cv::Scalar(0, 0, 255));
        kept = cv_qimage::to_qimage(red);
    }
    QCOMPARE(kept.pixelColor(3, 3), QColor(255, 0, 0));
}

void LabelTextTest::scaledPixmap()
{
    cv::Mat img(50, 100, CV_8UC3, cv::Scalar(0, 255, 0));
    const QPixmap p = cv_qimage::scaled_pixmap(img, QSize(400, 400));
    QCOMPARE(p.size(), QSize(400, 200));
    QCOMPARE(p.toImage().pixelColor(200, 100), QColor(0, 255, 0));
    QCOMPARE(cv_qimage::scaled_pixmap(img, QSize(30, 400)).size(), QSize(30, 15));
    QVERIFY(cv_qimage::scaled_pixmap(img, QSize(0, 0)).isNull());
    QVERIFY(cv_qimage::scaled_pixmap(cv::Mat(), QSize(10, 10)).isNull());
    QCOMPARE(cv_qimage::scaled_pixmap(cv::Mat(8, 8, CV_8UC1, cv::Scalar(9)), QSize(16, 16)).size(), QSize(16, 16));
    QTest::ignoreMessage(QtWarningMsg, "ASM::cvMatToQImage() - cv::Mat image type not handled in switch: 5");
    QVERIFY(cv_qimage::scaled_pixmap(cv::Mat(8, 8, CV_32FC1), QSize(16, 16)).isNull());
}

QTEST_MAIN(LabelTextTest)
#include "test_label_text.moc"
