#include "LocaleScope.h"
#include "SortCompare.h"
#include "SortGridOrder.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <stdexcept>

namespace {

const QLocale kGerman(QLocale::German, QLocale::Germany);

std::vector<QString> Texts(const QStringList& list)
{
    return {list.begin(), list.end()};
}

QStringList Arranged(const QStringList& texts, const std::vector<int>& positions)
{
    QStringList arranged;
    for (int p : positions)
        arranged.append(texts[p]);
    return arranged;
}

} // namespace

class TestSortCompare : public QObject
{
    Q_OBJECT

private slots:
    void plainText_data();
    void plainText();
    void asciiLower();
    void numeric_data();
    void numeric();
    void numericExtended_data();
    void numericExtended();
    void dateAndTime_data();
    void dateAndTime();
    void detectStyle_data();
    void detectStyle();
    void splitCommaText_data();
    void splitCommaText();
    void keyColumns_data();
    void keyColumns();
    void badKeyColumns_data();
    void badKeyColumns();
    void passOrder_data();
    void passOrder();
    void passWithoutCustomFunction();
    void passSurvivesInconsistentComparison();
};

void TestSortCompare::plainText_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("upper before lower") << "Z"
                                        << "a" << -1;
    QTest::newRow("prefix is smaller") << "Lauf"
                                       << "Lauf1" << -1;
    QTest::newRow("empty is smallest") << ""
                                       << " " << -1;
    QTest::newRow("equal") << "Abc"
                           << "Abc" << 0;
    QTest::newRow("umlaut after z") << QString::fromUtf8("\xC3\xA4") << "z" << 1;
    QTest::newRow("first difference decides") << "ab9"
                                              << "ac1" << -1;
    QTest::newRow("euro before S caron") << QStringLiteral("€uro") << QStringLiteral("Šimon") << -1;
    QTest::newRow("S caron before A umlaut") << QStringLiteral("Šimon") << QStringLiteral("Ärger") << -1;
    QTest::newRow("code page before the rest") << QStringLiteral("ÿ") << QStringLiteral("Ł") << -1;
    QTest::newRow("the rest by code point") << QStringLiteral("Ł") << QStringLiteral("ő") << -1;
    QTest::newRow("beyond U+FFFF last") << QString::fromUtf8("\xEF\xBC\xA1") << QString::fromUtf8("\xF0\x9F\x98\x80") << -1;
    QTest::newRow("undefined byte in its place") << QString(QChar(0x81)) << QStringLiteral("‚") << -1;
}

void TestSortCompare::plainText()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    QCOMPARE(ComparePlainText(a, b), sign);
    QCOMPARE(ComparePlainText(b, a), -sign);
}

void TestSortCompare::asciiLower()
{
    QCOMPARE(AsciiLower(QString::fromUtf8("\xC3\x84"
                                          "BcZ-9")),
             QString::fromUtf8("\xC3\x84"
                               "bcz-9"));
    QCOMPARE(AsciiLower("plain"), QString("plain"));
}

void TestSortCompare::numeric_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("9 before 10") << "9"
                                 << "10" << -1;
    QTest::newRow("text decides for abc") << "abc"
                                          << "10" << 1;
    QTest::newRow("decimal comma") << "2,5"
                                   << "10" << -1;
    QTest::newRow("same value written differently") << "1,0"
                                                    << "1" << 0;
    QTest::newRow("group separator is no number") << "1.000"
                                                  << "999" << -1;
    QTest::newRow("negative") << "-3"
                              << "2" << -1;
}

void TestSortCompare::numeric()
{
    LocaleScope german(kGerman);
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    QCOMPARE(CompareNumeric(a, b), sign);
}

void TestSortCompare::numericExtended_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("result");
    QTest::newRow("Lauf 9 before Lauf 10") << "Lauf 9"
                                           << "Lauf 10" << -1;
    QTest::newRow("Lauf 10 after Lauf 9") << "Lauf 10"
                                          << "Lauf 9" << 1;
    QTest::newRow("07 against 7") << "07"
                                  << "7" << 1;
    QTest::newRow("7 against 07") << "7"
                                  << "07" << 1;
    QTest::newRow("equal texts") << "Lauf 3"
                                 << "Lauf 3" << 0;
    QTest::newRow("both empty") << ""
                                << "" << 0;
    QTest::newRow("empty first") << ""
                                 << "1" << -1;
    QTest::newRow("empty second") << "a"
                                  << "" << 1;
    QTest::newRow("common tail dropped") << "Lauf 2b"
                                         << "Lauf 10b" << -1;
    QTest::newRow("letters by text") << "abc"
                                     << "abd" << -1;
}

void TestSortCompare::numericExtended()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, result);
    QCOMPARE(CompareNumericExtended(a, b), result);
}

void TestSortCompare::dateAndTime_data()
{
    QTest::addColumn<bool>("timeOnly");
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("date by day, not by text") << false << "15.01.2020"
                                              << "01.02.2020" << -1;
    QTest::newRow("date with time") << false << "01.02.2020 10:00"
                                    << "01.02.2020 09:30" << 1;
    QTest::newRow("date falls back to text") << false << "kein Datum"
                                             << "01.02.2020" << 1;
    QTest::newRow("time by value, not by text") << true << "9:05"
                                                << "10:00" << -1;
    QTest::newRow("time with seconds") << true << "10:00:01"
                                       << "10:00:00" << 1;
    QTest::newRow("time falls back to text") << true << "EL"
                                             << "10:00" << 1;
}

void TestSortCompare::dateAndTime()
{
    LocaleScope german(kGerman);
    QFETCH(bool, timeOnly);
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    QCOMPARE(timeOnly ? CompareTime(a, b) : CompareDateTime(a, b), sign);
}

void TestSortCompare::detectStyle_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("style");
    QTest::newRow("numbers with decimal comma") << QStringList{"1", "2,5"} << int(ssNumeric);
    QTest::newRow("one empty cell") << QStringList{"1", "", "3"} << int(ssNormal);
    QTest::newRow("no data rows") << QStringList{} << int(ssNumeric);
    QTest::newRow("dates") << QStringList{"01.02.2020", "15.01.2020"} << int(ssDateTime);
    QTest::newRow("names") << QStringList{"Bauer", "Adler"} << int(ssNormal);
}

void TestSortCompare::detectStyle()
{
    LocaleScope german(kGerman);
    QFETCH(QStringList, texts);
    QFETCH(int, style);
    QCOMPARE(int(DetectSortStyleOf(texts)), style);
}

void TestSortCompare::splitCommaText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("comma") << "4,11" << QStringList{"4", "11"};
    QTest::newRow("blank separates") << "4 11" << QStringList{"4", "11"};
    QTest::newRow("comma and blanks") << " 4 , 11 " << QStringList{"4", "11"};
    QTest::newRow("quoted") << "\"4\",\"1 1\"" << QStringList{"4", "1 1"};
    QTest::newRow("doubled quote") << "\"a\"\"b\"" << QStringList{"a\"b"};
    QTest::newRow("empty item") << "4,,11" << QStringList{"4", "", "11"};
    QTest::newRow("trailing comma") << "4," << QStringList{"4", ""};
    QTest::newRow("empty text") << "" << QStringList{};
}

void TestSortCompare::splitCommaText()
{
    QFETCH(QString, text);
    QFETCH(QStringList, items);
    QCOMPARE(SplitCommaText(text), items);
}

void TestSortCompare::keyColumns_data()
{
    QTest::addColumn<int>("primary");
    QTest::addColumn<QString>("secondary");
    QTest::addColumn<QList<int>>("keys");
    QTest::newRow("ranking") << 4 << "11" << QList<int>{4, 11};
    QTest::newRow("duplicate of the primary removed") << 4 << "4,11" << QList<int>{4, 11};
    QTest::newRow("only the first duplicate removed") << 4 << "11,4,4" << QList<int>{4, 11, 4};
    QTest::newRow("no secondary keys") << 2 << "" << QList<int>{2};
    QTest::newRow("primary moved to the front") << 3 << "1,3,2" << QList<int>{3, 1, 2};
}

void TestSortCompare::keyColumns()
{
    QFETCH(int, primary);
    QFETCH(QString, secondary);
    QFETCH(QList<int>, keys);
    const std::vector<int> columns = SortKeyColumns(primary, secondary, 14);
    QCOMPARE(QList<int>(columns.begin(), columns.end()), keys);
}

void TestSortCompare::badKeyColumns_data()
{
    QTest::addColumn<int>("primary");
    QTest::addColumn<QString>("secondary");
    QTest::addColumn<bool>("notANumber");
    QTest::newRow("letters") << 1 << "x" << true;
    QTest::newRow("empty item") << 1 << "2,,3" << true;
    QTest::newRow("column count") << 1 << "14" << false;
    QTest::newRow("negative") << 1 << "-1" << false;
    QTest::newRow("primary out of range") << 20 << "" << false;
}

void TestSortCompare::badKeyColumns()
{
    QFETCH(int, primary);
    QFETCH(QString, secondary);
    QFETCH(bool, notANumber);
    if (notANumber)
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, SortKeyColumns(primary, secondary, 14));
    else
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, SortKeyColumns(primary, secondary, 14));
}

void TestSortCompare::passOrder_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("style");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("case-insensitive")
        << QStringList{"B", "a", "C"} << int(ssNormal) << false << false << QStringList{"a", "B", "C"};
    QTest::newRow("case-sensitive") << QStringList{"B", "a", "C"} << int(ssNormal) << true << false
                                    << QStringList{"B", "C", "a"};
    QTest::newRow("automatic compares as text")
        << QStringList{"10", "9"} << int(ssAutomatic) << false << false << QStringList{"10", "9"};
    QTest::newRow("numeric") << QStringList{"10", "9", "x"} << int(ssNumeric) << false << false
                             << QStringList{"9", "10", "x"};
    QTest::newRow("numeric descending")
        << QStringList{"10", "9", "11"} << int(ssNumeric) << false << true << QStringList{"11", "10", "9"};
    QTest::newRow("numeric extended") << QStringList{"Lauf 10", "Lauf 9"} << int(ssNumericExtended) << false
                                      << false << QStringList{"Lauf 9", "Lauf 10"};
}

void TestSortCompare::passOrder()
{
    QFETCH(QStringList, texts);
    QFETCH(int, style);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, descending);
    QFETCH(QStringList, sorted);
    TSortKeyPass pass;
    pass.Style = TSortStyle(style);
    pass.CaseSensitive = caseSensitive;
    pass.Descending = descending;
    QCOMPARE(Arranged(texts, SortedPositions(Texts(texts), pass)), sorted);
}

void TestSortCompare::passWithoutCustomFunction()
{
    // Equal keys keep their positions' order, in both directions.
    const QStringList texts{"b", "a", "b", "a"};
    TSortKeyPass pass;
    pass.Style = ssCustom;
    const std::vector<int> ascending = SortedPositions(Texts(texts), pass);
    QCOMPARE(QList<int>(ascending.begin(), ascending.end()), (QList<int>{1, 3, 0, 2}));
    pass.Descending = true;
    const std::vector<int> descending = SortedPositions(Texts(texts), pass);
    QCOMPARE(QList<int>(descending.begin(), descending.end()), (QList<int>{0, 2, 1, 3}));
}

void TestSortCompare::passSurvivesInconsistentComparison()
{
    QRandomGenerator random(7);
    std::vector<QString> texts;
    for (int i = 0; i < 2000; ++i)
        texts.push_back(QString::number(random.bounded(100)));
    const TCustomCompare coin = [&random](const QString&, const QString&) { return random.bounded(3) - 1; };
    TSortKeyPass pass;
    pass.Style = ssCustom;
    pass.Custom = &coin;
    std::vector<int> positions = SortedPositions(texts, pass);
    std::sort(positions.begin(), positions.end());
    for (int i = 0; i < int(positions.size()); ++i)
        QCOMPARE(positions[size_t(i)], i);
}

QTEST_GUILESS_MAIN(TestSortCompare)
#include "tst_sortcompare.moc"
