#include "TFDlgYesNo.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The confirmation dialog: Enter answers yes, Esc and the close box answer no.
class TestDlgYesNo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("yes");
        QTest::newRow("Enter on the fresh dialog") << 0 << true;
        QTest::newRow("Escape") << 1 << false;
        QTest::newRow("close box") << 2 << false;
        QTest::newRow("Nein clicked") << 3 << false;
        QTest::newRow("Ja clicked") << 4 << true;
    }

    void answers()
    {
        QFETCH(int, action);
        QFETCH(bool, yes);
        TFDlgYesNo dialog;
        QCOMPARE(dialog.OKBtn->text(), QStringLiteral("Ja"));
        QCOMPARE(dialog.CancelBtn->text(), QStringLiteral("Nein"));
        QTimer::singleShot(0, &dialog, [&dialog, action] {
            QCOMPARE(dialog.Label1->text(), QStringLiteral("Beenden?"));
            switch (action) {
            case 0:
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog,
                                Qt::Key_Return);
                break;
            case 1:
                QTest::keyClick(&dialog, Qt::Key_Escape);
                break;
            case 2:
                dialog.close();
                break;
            case 3:
                dialog.CancelBtn->click();
                break;
            default:
                dialog.OKBtn->click();
            }
        });
        QCOMPARE(dialog.Ask(QStringLiteral("Beenden?")), yes);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestDlgYesNo)
#include "tst_dlgyesno.moc"
