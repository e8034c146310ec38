#include "FileSizeLimit.h"
#include "WebPage.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kHead =
    "<HTML>\r\n"
    "<HEAD>\r\n"
    "<!--Tarnvik software -->\r\n"
    "<TITLE>Quellorix</TITLE>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n"
    "<META content=https://tarnvik.example.org/ name=Webdesign>\r\n"
    "<meta name=\"Webdesign\" content=\"https://tarnvik.example.org/\">\r\n"
    "<style type=\"text/css\">\r\n"
    "<!--\r\n"
    "body {font-family:Verdana;\r\n"
    "scrollbar-track-color:#F9F9E6;\r\n"
    "scrollbar-face-color:#B0A786}\r\n"
    "table {font-size:10pt}\r\n"
    "a:hover{text-decoration:none; background-color:#E2E6CB}\r\n"
    "-->\r\n"
    "</style></head>\r\n"
    "<body bgcolor=#F9F9E6>\r\n"
    "<div style=\"width:100%; color:#A37E4E\">\r\n"
    "<h1>Quellorix Zeitenprotokoll</h1></div>\r\n"
    "<br>\r\n"
    "</b><table style=\"BORDER-COLLAPSE: collapse\" bgcolor=#FFFFFF borderColor=#E0E0E0 border=1 "
    "cellpadding=4 "
    "width=100%>\r\n"
    "<colgroup valign=top> <col align=right> <col align=centr> <col> <col> <col> <col align=right> <col "
    "align=right> <col align=right> <col align=right> <col align=right> <col align=right> <col align=right> "
    "<col "
    "align=right></colgroup>\r\n"
    "<thead bgcolor=#B0A786><tr>\r\n"
    "<th>Nr.</th>\r\n<th nowrap>Name</th>\r\n<th>Vorname</th>\r\n<th>Verein</th>\r\n<th>Klasse</th>\r\n"
    "<th>Lauf1</th>\r\n<th>Lauf2</th>\r\n<th>Lauf3</th>\r\n<th>Lauf4</th>\r\n<th>Lauf5</th>\r\n"
    "<th>Lauf6</th>\r\n<th>Gesamt</th>\r\n<th>Platz</th>\r\n"
    "</tr></thead>\r\n";

const QByteArray kFoot = "</table>\r\n"
                         "<FONT face=Arial size=4><B><P align=right><a style=\"cursor:help\" "
                         "href=\"https://tarnvik.example.org/\" title=\"Quellorix\">"
                         "<FONT color=#FF0000>Tar<FONT color=#009900>n<FONT color=#999999>vik</a>"
                         "<FONT color=#666600 size=3>Zeitmessung f\xFCr Seifenkistenrennen</P>\r\n"
                         "</body></html>\r\n";

// A protocol table as the grid holds it: header row, then data rows of 14 cells.
ProtocolTable Table(const QList<QStringList>& dataRows)
{
    ProtocolTable table = {{"Nr.", "Name", "Vorname", "Verein", "Klasse", "Lauf1", "Lauf2", "Lauf3", "Lauf4",
                            "Lauf5", "Lauf6", "Gesamt", "Platz", "¹"}};
    for (QStringList row : dataRows) {
        while (row.size() < kProtocolColumnCount)
            row.append(QString());
        table.append(row);
    }
    return table;
}

QByteArray Page(const QList<QStringList>& dataRows, int probeLaufe = 2)
{
    return WebPageBytes(ReadProtocolReport(Table(dataRows), QStringLiteral("Quellorix"), probeLaufe));
}

// The data row lines between the header and the foot.
QByteArray Body(const QByteArray& page)
{
    if (!page.startsWith(kHead) || !page.endsWith(kFoot))
        return "(head or foot differ)";
    return page.mid(kHead.size(), page.size() - kHead.size() - kFoot.size());
}

} // namespace

class TestWebPage : public QObject
{
    Q_OBJECT

private slots:
    void headAndFoot();
    void dataRow_data();
    void dataRow();
    void edgeCases_data();
    void edgeCases();
    void escaping_data();
    void escaping();
    void failedWriteKeepsOlderPage();
};

void TestWebPage::headAndFoot()
{
    const QByteArray page = Page({});
    QCOMPARE(page, kHead + kFoot);
}

void TestWebPage::dataRow_data()
{
    QTest::addColumn<int>("probeLaufe");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("no test runs") << 0
                                  << QByteArray(
                                         "<tr><td>12<td>Muster<td>Max<td>SC Nord<td>A<td>31,40<td>&nbsp;"
                                         "<td>31,25<td>&nbsp;<td>&nbsp;<td>&nbsp;<td>62,65<td>1</tr>\r\n");
    QTest::newRow("two test runs") << 2
                                   << QByteArray(
                                          "<tr><td>12<td>Muster<td>Max<td>SC Nord<td>A<td><I>31,40"
                                          "<td><I>&nbsp;<td>31,25<td>&nbsp;<td>&nbsp;<td>&nbsp;<td>62,65"
                                          "<td>1</tr>\r\n");
    QTest::newRow("five test runs") << 5
                                    << QByteArray("<tr><td>12<td>Muster<td>Max<td>SC Nord<td>A<td><I>31,40"
                                                  "<td><I>&nbsp;<td><I>31,25<td><I>&nbsp;<td><I>&nbsp;"
                                                  "<td>&nbsp;<td>62,65<td>1</tr>\r\n");
}

void TestWebPage::dataRow()
{
    QFETCH(int, probeLaufe);
    QFETCH(QByteArray, line);
    const QStringList row = {"12",    "Muster", "Max", "SC Nord", "A",     "31,40", "",
                             "31,25", "",       "",    "",        "62,65", "1"};
    QCOMPARE(Body(Page({row}, probeLaufe)), line);
}

void TestWebPage::edgeCases_data()
{
    QTest::addColumn<ProtocolTable>("table");
    QTest::addColumn<QByteArray>("body");
    const QByteArray empty = "<tr>" + QByteArray("<td>&nbsp;").repeated(13) + "</tr>\r\n";
    QTest::newRow("one empty row gives thirteen empty cells") << Table({{}}) << empty;

    ProtocolTable hidden = Table({{"7", "Kurz", "", "", "B"}});
    hidden[0] = QStringList(kProtocolColumnCount, QStringLiteral("anders"));
    hidden[1][13] = QStringLiteral("hidden-order-42");
    QTest::newRow("fixed header, hidden column left out")
        << hidden
        << "<tr><td>7<td>Kurz<td>&nbsp;<td>&nbsp;<td>B" + QByteArray("<td>&nbsp;").repeated(8) + "</tr>\r\n";

    QTest::newRow("rows in the table's order")
        << Table({{"3"}, {"1"}, {"2"}})
        << "<tr><td>3" + QByteArray("<td>&nbsp;").repeated(12) + "</tr>\r\n<tr><td>1" +
               QByteArray("<td>&nbsp;").repeated(12) + "</tr>\r\n<tr><td>2" +
               QByteArray("<td>&nbsp;").repeated(12) + "</tr>\r\n";
}

void TestWebPage::edgeCases()
{
    QFETCH(ProtocolTable, table);
    QFETCH(QByteArray, body);
    QCOMPARE(Body(WebPageBytes(ReadProtocolReport(table, QStringLiteral("Quellorix"), 0))), body);
}

void TestWebPage::escaping_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("ampersand and umlaut")
        << QStringLiteral("Schmidt & Söhne") << QByteArray("Schmidt &amp; S\xF6hne");
    QTest::newRow("markup") << QStringLiteral("<b>Max</b>") << QByteArray("&lt;b&gt;Max&lt;/b&gt;");
    QTest::newRow("script") << QStringLiteral("<script>alert(1)</script>")
                            << QByteArray("&lt;script&gt;alert(1)&lt;/script&gt;");
    QTest::newRow("quotes") << QStringLiteral("\"Blitz\" Max") << QByteArray("&quot;Blitz&quot; Max");
    QTest::newRow("outside Windows-1252") << QStringLiteral("Dvořák") << QByteArray("Dvo&#345;\xE1k");
    QTest::newRow("Windows-1252 above Latin-1")
        << QStringLiteral("€ 5 – Œ") << QByteArray("\x80 5 \x96 \x8C");
    QTest::newRow("beyond the basic plane") << QStringLiteral("Team 🏁") << QByteArray("Team &#127937;");
    QTest::newRow("line breaks and tabs") << QStringLiteral("a\r\nb\tc") << QByteArray("a  b c");
    QTest::newRow("a single blank stays") << QStringLiteral(" ") << QByteArray(" ");
    QTest::newRow("entity text stays text") << QStringLiteral("&nbsp;") << QByteArray("&amp;nbsp;");
}

void TestWebPage::escaping()
{
    QFETCH(QString, cell);
    QFETCH(QByteArray, written);
    const QByteArray body = Body(Page({{"1", cell}}, 0));
    QCOMPARE(body, "<tr><td>1<td>" + written + QByteArray("<td>&nbsp;").repeated(11) + "</tr>\r\n");
}

void TestWebPage::failedWriteKeepsOlderPage()
{
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("protokoll.html"));
    {
        QFile older(fileName);
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("older page");
    }
    QList<QStringList> rows;
    for (int i = 1; i <= 100; ++i)
        rows.append({QString::number(i), QStringLiteral("Name %1").arg(i)});
    const ProtocolReport report = ReadProtocolReport(Table(rows), QStringLiteral("Quellorix"), 2);

    QString error;
    bool written = true;
    QVERIFY(UnderFileSizeLimit(4096, [&] { written = SaveWebPage(fileName, report, error); }));

    QVERIFY(!written);
    QCOMPARE(error, QStringLiteral("Error write file: ") + fileName);
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("older page"));

    QVERIFY(SaveWebPage(fileName, report, error));
    QFile rewritten(fileName);
    QVERIFY(rewritten.open(QIODevice::ReadOnly));
    QCOMPARE(rewritten.readAll(), WebPageBytes(report));
}

QTEST_MAIN(TestWebPage)
#include "tst_webpage.moc"
