// The display settings window: its form, its settings object, and restoring
// values that are missing, mistyped or out of range.

#include "dialog_labeling_setting.h"
#include "ui_dialog_labeling_setting.h"

#include <QAbstractSpinBox>
#include <QFontInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QtTest>

namespace {

QJsonObject parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

QJsonObject settings(int rect, int line, int cross, double scale, int fontThickness, int offset)
{
    return QJsonObject{{"rect_thickness", rect},          {"line_thickness", line},
                       {"crosshair_thickness", cross},    {"font_scale", scale},
                       {"font_thickness", fontThickness}, {"font_offset", offset}};
}

} // namespace

class DisplaySettings : public QObject {
    Q_OBJECT

private slots:
    void window();
    void labelsReadable();
    void fresh();
    void restore_data();
    void restore();
};

void DisplaySettings::window()
{
    QWidget parent;
    DialogLabelingSetting d(&parent);
    QCOMPARE(d.windowTitle(), QString("Display Setting"));
    QCOMPARE(d.size(), QSize(247, 241));
    QCOMPARE(d.minimumSize(), QSize(247, 241));
    QCOMPARE(d.maximumSize(), QSize(247, 241));
    QVERIFY(d.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(d.isHidden());
    QCOMPARE(d.ui->groupBox->title(), QString("Font"));
    // Ranges are explicit: Qt's defaults (99, 99.99) would clamp restored values.
    QCOMPARE(d.ui->spinBox_rect_thickness->maximum(), 9999);
    QCOMPARE(d.ui->spinBox_crosshair_thickness->minimum(), 0);
    QCOMPARE(d.ui->spinBox_font_scale->maximum(), 999999.0);
    QCOMPARE(d.ui->spinBox_font_scale->decimals(), 2);
    QCOMPARE(d.ui->spinBox_font_scale->singleStep(), 0.01);
    QCOMPARE(d.ui->spinBox_font_offset->minimum(), -9999);
    QCOMPARE(d.ui->label->text(), QString("Rectangle thickness :"));
    QCOMPARE(d.ui->label_6->text(), QString("Crosshair thickness :"));
    QCOMPARE(d.ui->label_3->text(), QString("Scale :"));
    QCOMPARE(d.ui->label_4->text(), QString("Thickness :"));
    QCOMPARE(d.ui->label_5->text(), QString("Offset :"));
    QCOMPARE(d.ui->label_5->parentWidget(), d.ui->groupBox);
    d.show();
    QVERIFY(!d.isModal());
    d.close();
    QVERIFY(d.isHidden());
}

// With the font Qt picks on a Debian desktop (Sans Serif 9, which is DejaVu
// Sans), every label shows its whole text inside the fixed window and ends
// before the spin box beside it.
void DisplaySettings::labelsReadable()
{
    const QFont before = QApplication::font();
    QApplication::setFont(QFont("Sans Serif", 9));
    const QString family = QFontInfo(QApplication::font()).family();
    QVERIFY2(family == "DejaVu Sans", qPrintable("the desktop font is missing; got " + family));

    DialogLabelingSetting d;
    const QList<QLabel*> labels = d.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 6);
    for (const QLabel* label : labels) {
        const QRect inWindow(label->mapTo(&d, QPoint(0, 0)), label->size());
        const QString what = label->objectName() + " \"" + label->text() + "\"";
        QVERIFY2(label->sizeHint().width() <= label->width() && label->sizeHint().height() <= label->height(),
                 qPrintable(what + " is cut"));
        QVERIFY2(d.rect().contains(inWindow), qPrintable(what + " leaves the window"));
        for (const QAbstractSpinBox* box : d.findChildren<QAbstractSpinBox*>()) {
            const QRect boxInWindow(box->mapTo(&d, QPoint(0, 0)), box->size());
            QVERIFY2(!inWindow.intersects(boxInWindow), qPrintable(what + " runs into " + box->objectName()));
        }
    }
    QApplication::setFont(before);
}

void DisplaySettings::fresh()
{
    DialogLabelingSetting d;
    const QJsonObject s = d.get_settings();
    QCOMPARE(s, settings(2, 2, 1, 1.0, 1, 5));
    QCOMPARE(s.size(), 6);
    QVERIFY(s["font_scale"].isDouble());
}

void DisplaySettings::restore_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QJsonObject>("expected");

    // Every missing value reads 0 and is clamped to its minimum.
    QTest::newRow("empty") << QByteArray("{}") << settings(1, 1, 0, 0.0, 1, 0);
    QTest::newRow("zero rect") << QByteArray(R"({"rect_thickness":0})") << settings(1, 1, 0, 0.0, 1, 0);
    // A fraction in a whole-number key reads 0; a string too.
    QTest::newRow("fractions and strings")
        << QByteArray(R"({"rect_thickness":2.5,"line_thickness":"3","font_offset":1.5,"font_scale":"2"})")
        << settings(1, 1, 0, 0.0, 1, 0);
    QTest::newRow("clamped") << QByteArray(R"({"rect_thickness":20000,"font_offset":-20000,"font_scale":2e6,
        "font_thickness":10000,"crosshair_thickness":-3})")
                             << settings(9999, 1, 0, 999999.0, 9999, -9999);
    QTest::newRow("scale rounded to two decimals") << QByteArray(R"({"font_scale":1.237})")
                                                   << settings(1, 1, 0, 1.24, 1, 0);
    QTest::newRow("round trip") << QByteArray(R"({"rect_thickness":7,"line_thickness":3,"crosshair_thickness":0,
        "font_scale":2.5,"font_thickness":4,"font_offset":-12})")
                                << settings(7, 3, 0, 2.5, 4, -12);
    QTest::newRow("large values kept") << QByteArray(R"({"rect_thickness":9999,"line_thickness":500,
        "crosshair_thickness":9999,"font_scale":150.75,"font_thickness":100,"font_offset":9999})")
                                       << settings(9999, 500, 9999, 150.75, 100, 9999);
}

void DisplaySettings::restore()
{
    QFETCH(QByteArray, input);
    QFETCH(QJsonObject, expected);
    DialogLabelingSetting d;
    d.restore_setting(parse(input));
    QCOMPARE(d.get_settings(), expected);
}

QTEST_MAIN(DisplaySettings)
#include "test_display_settings.moc"
