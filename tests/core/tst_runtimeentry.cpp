#include "RunTimeEntry.h"

#include <QLocale>
#include <QTest>

class TestRunTimeEntry : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }
    void entry_data();
    void entry();
};

void TestRunTimeEntry::entry_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("kept");
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("de time") << german << "31,25" << true << "31,25";
    QTest::newRow("de point as separator") << german << "31.25" << true << "31,25";
    QTest::newRow("de more decimals truncated") << german << "31,259" << true << "31,25";
    QTest::newRow("de no rounding up") << german << "31.2999" << true << "31,29";
    QTest::newRow("de one decimal") << german << "31,2" << true << "31,20";
    QTest::newRow("de whole seconds") << german << "31" << true << "31,00";
    QTest::newRow("de blanks around") << german << " 31,25 " << true << "31,25";
    QTest::newRow("de empty") << german << "" << true << "";
    QTest::newRow("de blank only") << german << "  " << true << "";
    QTest::newRow("de EL") << german << "EL" << true << "EL";
    QTest::newRow("de el") << german << "el" << true << "EL";
    QTest::newRow("de letter l for one") << german << "3l,25" << false << "";
    QTest::newRow("de two separators") << german << "31.2.5" << false << "";
    QTest::newRow("de group separator") << german << "1.000,25" << false << "";
    QTest::newRow("de negative") << german << "-1,00" << false << "";
    QTest::newRow("de exponent") << german << "3e1" << false << "";
    QTest::newRow("de too large") << german << "99999999" << false << "";
    QTest::newRow("de separator only") << german << "," << false << "";
    QTest::newRow("en time") << english << "31.25" << true << "31.25";
    QTest::newRow("en truncated") << english << "31.259" << true << "31.25";
    QTest::newRow("en comma refused") << english << "31,25" << false << "";
}

void TestRunTimeEntry::entry()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(QString, kept);
    QLocale::setDefault(locale);
    const std::optional<QString> entry = RunTimeEntry(typed);
    QCOMPARE(entry.has_value(), accepted);
    if (accepted)
        QCOMPARE(*entry, kept);
}

QTEST_MAIN(TestRunTimeEntry)
#include "tst_runtimeentry.moc"
