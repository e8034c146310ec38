#include "RunTime.h"

#include <QLocale>
#include <QTest>

class TestRunTime : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void formatRunTime_data();
    void formatRunTime();
    void parseRunTime_data();
    void parseRunTime();
    void parseRoundTripsEveryFormattedTime();
    void compareRunTimes_data();
    void compareRunTimes();
};

void TestRunTime::formatRunTime_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("text");

    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("de truncates hundredths") << german << 12349 << "12,34";
    QTest::newRow("de whole hundredths") << german << 7250 << "7,25";
    QTest::newRow("de leading zero of hundredths") << german << 50 << "0,05";
    QTest::newRow("de no minutes") << german << 125300 << "125,30";
    QTest::newRow("de zero") << german << 0 << "0,00";
    QTest::newRow("de below a hundredth") << german << 9 << "0,00";
    QTest::newRow("de no group separator") << german << 1234560 << "1234,56";
    QTest::newRow("de largest int") << german << 2147483647 << "2147483,64";
    QTest::newRow("de negative keeps its sign") << german << -50 << "-0,05";
    QTest::newRow("de smallest int") << german << int(-2147483647 - 1) << "-2147483,64";
    QTest::newRow("en truncates hundredths") << english << 12349 << "12.34";
    QTest::newRow("en whole hundredths") << english << 7250 << "7.25";
    QTest::newRow("en leading zero of hundredths") << english << 50 << "0.05";
    QTest::newRow("en no minutes") << english << 125300 << "125.30";
    QTest::newRow("en no group separator") << english << 1234560 << "1234.56";
}

void TestRunTime::formatRunTime()
{
    QFETCH(QLocale, locale);
    QFETCH(int, ms);
    QFETCH(QString, text);
    QLocale::setDefault(locale);
    QCOMPARE(FormatRunTime(ms), text);
}

void TestRunTime::parseRunTime_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ms");

    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("de time text") << german << "7,25" << 7250;
    QTest::newRow("de whole seconds") << german << "12" << 12000;
    QTest::newRow("de milliseconds kept") << german << "1,234" << 1234;
    QTest::newRow("de surrounding blanks") << german << " 7,25 " << 7250;
    QTest::newRow("de half rounds to even down") << german << "0,0025" << 2;
    QTest::newRow("de half rounds to even up") << german << "0,0035" << 4;
    QTest::newRow("de negative") << german << "-0,05" << -50;
    QTest::newRow("de EL") << german << "EL" << InvalidTime;
    QTest::newRow("de empty") << german << "" << InvalidTime;
    QTest::newRow("de letters after number") << german << "7,25s" << InvalidTime;
    QTest::newRow("de dot text") << german << "7.25" << InvalidTime;
    QTest::newRow("de group separator") << german << "1.234,56" << InvalidTime;
    QTest::newRow("de huge") << german << "99999999999999999999" << InvalidTime;
    QTest::newRow("de huge negative") << german << "-99999999999999999999" << InvalidTime;
    QTest::newRow("de just below the mark") << german << "1073741,822" << 1073741822;
    QTest::newRow("de at the mark") << german << "1073741,823" << InvalidTime;
    QTest::newRow("de infinity") << german << "inf" << InvalidTime;
    QTest::newRow("de nan") << german << "nan" << InvalidTime;
    QTest::newRow("en time text") << english << "7.25" << 7250;
    QTest::newRow("en comma text") << english << "7,25" << InvalidTime;
}

void TestRunTime::parseRunTime()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(int, ms);
    QLocale::setDefault(locale);
    QCOMPARE(ParseRunTime(text), ms);
}

void TestRunTime::parseRoundTripsEveryFormattedTime()
{
    for (const QLocale& locale :
         {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(locale);
        for (int hundredths = 0; hundredths <= 200000; ++hundredths) {
            const QString text = FormatRunTime(hundredths * 10 + hundredths % 10);
            if (ParseRunTime(text) != hundredths * 10)
                QFAIL(qPrintable(QStringLiteral("%1 (%2) read back as %3")
                                     .arg(text, locale.name())
                                     .arg(ParseRunTime(text))));
        }
        for (int hundredths : {9999999, 10000000, 107374181}) {
            const QString text = FormatRunTime(hundredths * 10);
            QCOMPARE(ParseRunTime(text), hundredths * 10);
        }
    }
}

void TestRunTime::compareRunTimes_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("result");

    QTest::newRow("smaller") << "7,25"
                             << "12,34" << -1;
    QTest::newRow("larger by value not text") << "10,00"
                                              << "9,99" << 1;
    QTest::newRow("equal values, different texts") << "7,5"
                                                   << "7,50" << 0;
    QTest::newRow("time before empty") << "1234,56"
                                       << "" << -1;
    QTest::newRow("empty after time") << ""
                                      << "0,05" << 1;
    QTest::newRow("EL after time") << "EL"
                                   << "125,30" << 1;
    QTest::newRow("EL equals empty") << "EL"
                                     << "" << 0;
    QTest::newRow("EL equals EL") << "EL"
                                  << "EL" << 0;
    QTest::newRow("dot text is not a number") << "7.25"
                                              << "8,00" << 1;
    QTest::newRow("negative first") << "-1,00"
                                    << "0,00" << -1;
}

void TestRunTime::compareRunTimes()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, result);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(CompareRunTimes(a, b), result);
    QCOMPARE(CompareRunTimes(b, a), -result);
}

QTEST_GUILESS_MAIN(TestRunTime)
#include "tst_runtime.moc"
