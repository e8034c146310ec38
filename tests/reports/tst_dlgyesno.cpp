#include "TFDlgYesNo.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

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
        // Shown as the dialogs seam shows it, without a modal loop a test could hang in.
        dialog.Prepare(QStringLiteral("Beenden?"));
        dialog.setResult(-1);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
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
        QCOMPARE(dialog.result(), yes ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }

    void wholeQuestionShown_data()
    {
        QTest::addColumn<QString>("question");
        QTest::newRow("short") << QStringLiteral("Beenden?");
        QTest::newRow("a session to restore") << QStringLiteral(
            "Beim Beenden am 10.12.2026 04:18 waren Änderungen am Protokoll „Sommerrennen "
            "Kirchberg 2026“ (120 Zeiten) nicht gespeichert. Zeitenprotokoll wiederherstellen?");
    }

    // Every line of the question fits above the buttons, and the short ones
    // keep the dialog's size.
    void wholeQuestionShown()
    {
        QFETCH(QString, question);
        TFDlgYesNo dialog;
        dialog.Prepare(question);
        const QRect label = dialog.Label1->geometry();
        const int needed = dialog.Label1->heightForWidth(label.width());
        QVERIFY2(needed <= label.height(),
                 qPrintable(QStringLiteral("%1 > %2").arg(needed).arg(label.height())));
        QVERIFY(label.bottom() < dialog.OKBtn->geometry().top());
        QVERIFY(dialog.CancelBtn->geometry().right() < dialog.width());
        QVERIFY(dialog.OKBtn->geometry().bottom() < dialog.height());
        if (question.size() < 20)
            QCOMPARE(dialog.size(), QSize(273, 116));
    }
};

QTEST_MAIN(TestDlgYesNo)
#include "tst_dlgyesno.moc"
