// The class-name picker.
#include "label_dialog.h"
#include "ui_label_dialog.h"

#include "test_support.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

class TstLabelDialog : public QObject {
    Q_OBJECT

    static QStringList rows(LabelDialog& d)
    {
        QStringList out;
        for (int r = 0; r < d.ui->tableWidget->rowCount(); ++r)
            out << d.ui->tableWidget->item(r, 0)->text() + ":" + d.ui->tableWidget->item(r, 1)->text();
        return out;
    }
    static QStringList titles(LabelDialog& d)
    {
        return {d.ui->tableWidget->horizontalHeaderItem(0)->text(), d.ui->tableWidget->horizontalHeaderItem(1)->text()};
    }

private slots:
    void fresh()
    {
        LabelDialog d(nullptr);
        QCOMPARE(d.row_count, 0);
        QCOMPARE(d.ui->tableWidget->rowCount(), 0);
        QCOMPARE(d.getLineEdit(), QString());
        QCOMPARE(titles(d), (QStringList{"Index", "Label"}));
        QCOMPARE(d.windowTitle(), QString("Class Name"));
        QCOMPARE(d.size(), QSize(332, 213));
        QVERIFY(d.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(d.parentWidget() == nullptr);
        QVERIFY(!d.isVisible());
        // Column 0 asks for 45 but the header's minimum section size of 57 wins.
        QCOMPARE(d.ui->tableWidget->columnWidth(0), 57);
        QCOMPARE(d.ui->tableWidget->columnWidth(1), 115);
    }

    void appendAndRefill()
    {
        LabelDialog d(nullptr);
        d.setLabelItemp("car");
        d.setLabelItemp("person");
        QCOMPARE(rows(d), (QStringList{"0:car", "1:person"}));
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c) {
                const Qt::ItemFlags f = d.ui->tableWidget->item(r, c)->flags();
                QVERIFY(!(f & Qt::ItemIsEditable));
                QVERIFY(f & Qt::ItemIsEnabled);
                QVERIFY(f & Qt::ItemIsSelectable);
            }

        d.clear_rows();
        for (const char* n : {"a", "b", "c", "d", "e"})
            d.setLabelItemp(n);
        d.ui->lineEdit->setText("typed");
        d.clear_rows();
        QCOMPARE(d.getLineEdit(), QString());
        for (const char* n : {"x", "y", "z"})
            d.setLabelItemp(n);
        QCOMPARE(rows(d), (QStringList{"0:x", "1:y", "2:z"}));
        QCOMPARE(d.row_count, 3);
        QCOMPARE(titles(d), (QStringList{"Index", "Label"}));
    }

    // Real clicks through the table's viewport prove the by-name connections.
    void clicksPickTheName_data()
    {
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<int>("column");
        QTest::newRow("click on index cell") << false << 0;
        QTest::newRow("double click on index cell") << true << 0;
        QTest::newRow("click on name cell") << false << 1;
    }
    void clicksPickTheName()
    {
        QFETCH(bool, doubleClick);
        QFETCH(int, column);
        LabelDialog d(nullptr);
        d.setLabelItemp("car");
        d.setLabelItemp("person");
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTableWidget* t = d.ui->tableWidget;
        const QPoint p = t->visualItemRect(t->item(1, column)).center();
        if (doubleClick) {
            // An item view only reports a double click on the cell it saw pressed.
            QTest::mouseClick(t->viewport(), Qt::LeftButton, Qt::NoModifier, p);
            d.ui->lineEdit->clear();
            QTest::mouseDClick(t->viewport(), Qt::LeftButton, Qt::NoModifier, p);
        } else
            QTest::mouseClick(t->viewport(), Qt::LeftButton, Qt::NoModifier, p);
        QCOMPARE(d.getLineEdit(), QString("person"));
    }

    // A 10 MiB class name, and another one that differs only at its end, are
    // shown cut, and a click picks the whole name of its row (a line edit
    // holds no more than 32767 characters). A name typed over the pick is
    // what the picker returns then.
    void longNameIsShownCutAndPickedWhole()
    {
        const QString first = QString(10 << 20, 'n');
        const QString second = QString((10 << 20) - 1, 'n') + 'm';
        LabelDialog d(nullptr);
        d.setLabelItemp("car");
        d.setLabelItemp(first);
        d.setLabelItemp(second);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTableWidget* t = d.ui->tableWidget;
        for (int row : {1, 2}) {
            QVERIFY(t->item(row, 1)->text().size() <= 257);
            QTest::mouseClick(t->viewport(), Qt::LeftButton, Qt::NoModifier,
                              t->visualItemRect(t->item(row, 1)).center());
            QVERIFY(d.ui->lineEdit->text().size() <= 257);
            QVERIFY(d.getLineEdit() == (row == 1 ? first : second));
        }
        d.ui->lineEdit->setText("truck");
        QCOMPARE(d.getLineEdit(), QString("truck"));
        QTest::mouseClick(t->viewport(), Qt::LeftButton, Qt::NoModifier, t->visualItemRect(t->item(0, 1)).center());
        QCOMPARE(d.getLineEdit(), QString("car"));
        QCOMPARE(t->item(0, 1)->text(), QString("car"));
    }

    void typedNameAndCancel()
    {
        LabelDialog d(nullptr);
        d.setLabelItemp("car");
        d.ui->lineEdit->setText("truck");
        testsupport::answerNextModal([](QWidget* w) {
            auto dlg = qobject_cast<LabelDialog*>(w);
            QVERIFY(dlg);
            dlg->ui->buttonBox->button(QDialogButtonBox::Cancel)->click();
        });
        QCOMPARE(d.exec(), int(QDialog::Rejected));
        QCOMPARE(d.getLineEdit(), QString("truck"));
    }

    void focusOnButtonsAndTextKept()
    {
        LabelDialog d(nullptr);
        d.setLabelItemp("car");
        d.ui->lineEdit->setText("car");
        for (int round = 0; round < 2; ++round) {
            QWidget* focused = nullptr;
            testsupport::answerNextModal([&focused](QWidget* w) {
                focused = w->focusWidget();
                QTest::keyClick(w, Qt::Key_Return);
            });
            QCOMPARE(d.exec(), int(QDialog::Accepted)); // Return reaches the OK button
            QVERIFY(focused);
            QVERIFY(d.ui->buttonBox->isAncestorOf(focused) || focused == d.ui->buttonBox);
            QCOMPARE(d.getLineEdit(), QString("car"));
        }
    }
};

QTEST_MAIN(TstLabelDialog)
#include "tst_label_dialog.moc"
