#include "WorkbookReader.h"
#include "WorkbookWriter.h"
#include "XlsProcess.h"
#include "ZipArchive.h"
#include "ZipMaker.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// Workbooks out and in: the writer's cells, round trips through the reader,
// files saved by a real spreadsheet program, and files that must be refused.
class TestWorkbook : public QObject
{
    Q_OBJECT

private:
    static QByteArray Fixture(const QString& name)
    {
        QFile file(QStringLiteral(QX_TEST_DATA "/") + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A minimal .xlsx around the given sheetData rows.
    static QByteArray Xlsx(const QByteArray& rows, const QByteArray& sharedStrings = {},
                           const QByteArray& styles = {}, const QByteArray& workbookProperties = {})
    {
        QByteArray rels =
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\"x/worksheet\" Target=\"worksheets/sheet1.xml\"/>";
        QList<std::pair<QString, QByteArray>> parts;
        if (!sharedStrings.isEmpty()) {
            rels += "<Relationship Id=\"rId2\" Type=\"x/sharedStrings\" Target=\"/xl/strings.xml\"/>";
            parts.append({QStringLiteral("xl/strings.xml"), "<sst>" + sharedStrings + "</sst>"});
        }
        if (!styles.isEmpty()) {
            rels += "<Relationship Id=\"rId3\" Type=\"x/styles\" Target=\"styles.xml\"/>";
            parts.append({QStringLiteral("xl/styles.xml"), "<styleSheet>" + styles + "</styleSheet>"});
        }
        parts.append({QStringLiteral("xl/_rels/workbook.xml.rels"), rels + "</Relationships>"});
        parts.append(
            {QStringLiteral("xl/workbook.xml"),
             "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
             "<workbookPr " +
                 workbookProperties +
                 "/><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"});
        parts.append({QStringLiteral("xl/worksheets/sheet1.xml"),
                      "<worksheet><sheetData>" + rows + "</sheetData></worksheet>"});
        return MakeZip(parts);
    }

    // A minimal .ods around the given table rows.
    static QByteArray Ods(const QByteArray& rows, bool encryptedManifest = false)
    {
        const QByteArray content =
            "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
            "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
            "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
            "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\"><office:body><office:spreadsheet>"
            "<table:table table:name=\"T\">" +
            rows + "</table:table></office:spreadsheet></office:body></office:document-content>";
        return MakeZip({{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.spreadsheet"},
                        {QStringLiteral("META-INF/manifest.xml"),
                         encryptedManifest ? "<manifest:encryption-data/>" : "<manifest/>"},
                        {QStringLiteral("content.xml"),
                         encryptedManifest ? QByteArray("\x8f\x01\x99 binary") : content}});
    }

    // Rows as "a|b|c", trailing empty cells left out.
    static QStringList Joined(const ProtocolTable& rows)
    {
        QStringList joined;
        for (const QStringList& row : rows) {
            // Every row has exactly the protocol's columns; a wrong count shows as a marker.
            joined.append(
                (row.size() == kProtocolColumnCount ? QString() : QStringLiteral("#%1#").arg(row.size())) +
                row.join(u'|').remove(QRegularExpression(QStringLiteral("\\|+$"))));
        }
        return joined;
    }

    static XlsReaderCommand Reader(const QString& program)
    {
        XlsReaderCommand command;
        command.Program = program;
        return command;
    }

    static QByteArray Part(const QByteArray& zip, const QString& name)
    {
        QByteArray bytes;
        ZipReader(zip).Read(name, kMaxWorkbookPartSize, bytes);
        return bytes;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        SetXlsReaderCommand(Reader(QStringLiteral(QX_XLS_READER)));
    }
    void init() { SetXlsReaderCommand(Reader(QStringLiteral(QX_XLS_READER))); }

    void cellNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::newRow("start number") << "12" << true << 12.0 << 0;
        QTest::newRow("zero") << "0" << true << 0.0 << 0;
        QTest::newRow("time") << "31,25" << true << 31.25 << 2;
        QTest::newRow("time of two minutes") << "125,30" << true << 125.3 << 2;
        QTest::newRow("time under a second") << "0,07" << true << 0.07 << 2;
        QTest::newRow("eliminated") << "EL" << false << 0.0 << 0;
        QTest::newRow("leading zero stays text") << "012" << false << 0.0 << 0;
        QTest::newRow("one decimal is no time") << "31,2" << false << 0.0 << 0;
        QTest::newRow("point on a German system") << "31.25" << false << 0.0 << 0;
        QTest::newRow("blank") << " " << false << 0.0 << 0;
        QTest::newRow("negative") << "-3" << false << 0.0 << 0;
        QTest::newRow("sixteen digits stay text") << "1234567890123456" << false << 0.0 << 0;
        QTest::newRow("arabic digits stay text") << QString::fromUtf8("\u0661\u0662") << false << 0.0 << 0;
    }

    void cellNumbers()
    {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(double, value);
        QFETCH(int, decimals);
        const CellNumber number = ProtocolCellNumber(text, QLocale());
        QCOMPARE(number.isNumber, isNumber);
        QCOMPARE(number.value, value);
        QCOMPARE(number.decimals, decimals);
    }

    void roundTripGivesTheSameTexts()
    {
        const ProtocolTable protocol = {
            {"Nr.", "Name", "Vorname", "Verein", "Klasse", "Lauf1", "Lauf2", "Lauf3", "Lauf4", "Lauf5",
             "Lauf6", "Gesamt", "Platz"},
            {"7", "Müller", "Jörg", "SC Nord; Süd & Co", "A", "31,25", "30,20", "EL", "", "", "", "EL", ""},
            {"12", "Dvořák", "Antonín", "<Weiß & Groß>", "B", "125,30", "0,07", "", "", "", "", "125,37",
             "1"},
            {"012", "Straße", "", "\"Quote\"", "B", " ", "", "", "", "", "", "", ""},
        };
        QByteArray bytes;
        QString reason;
        QVERIFY2(ProtocolWorkbookBytes(protocol, QStringLiteral("Quellorix"), bytes, reason),
                 qPrintable(reason));
        ProtocolTable read;
        QVERIFY2(ParseWorkbook(bytes, read, reason), qPrintable(reason));
        QCOMPARE(read.size(), protocol.size());
        for (qsizetype r = 0; r < protocol.size(); ++r) {
            QCOMPARE(read[r].mid(0, 13), protocol[r]);
            QCOMPARE(read[r][13], QString());
        }
    }

    void writtenWorkbookHasItsSheetAuthorFormatsAndNumbers()
    {
        const ProtocolTable protocol = {
            {"Nr.", "Name", "Lauf1"}, {"7", "Ein sehr langer Name", "31,25"}, {"8", "B", "EL"}};
        QByteArray bytes;
        QString reason;
        QVERIFY(ProtocolWorkbookBytes(protocol, QStringLiteral("Quellorix"), bytes, reason,
                                      {QStringLiteral("Starter & Gäste"), QDate(2024, 7, 6)}));
        const QByteArray workbook = Part(bytes, QStringLiteral("xl/workbook.xml"));
        QVERIFY(workbook.contains("<sheet name=\"Quellorix\""));
        // Printed landscape, one page wide, the header row on every page, list and date on top.
        QVERIFY2(workbook.contains("<definedName name=\"_xlnm.Print_Titles\" localSheetId=\"0\">Quellorix!$1:$1"),
                 workbook.constData());
        const QByteArray setup = Part(bytes, QStringLiteral("xl/worksheets/sheet1.xml"));
        QVERIFY(setup.contains("<pageSetUpPr fitToPage=\"1\"/>"));
        QVERIFY2(setup.contains("orientation=\"landscape\"") && setup.contains("fitToHeight=\"0\""),
                 setup.right(600).constData());
        QVERIFY(setup.contains("<oddHeader>&amp;LStarter &amp;&amp; Gäste&amp;R06.07.2024</oddHeader>"));
        QVERIFY(Part(bytes, QStringLiteral("docProps/core.xml"))
                    .contains("<dc:creator>Tarnvik Software</dc:creator>"));
        const QByteArray styles = Part(bytes, QStringLiteral("xl/styles.xml"));
        QVERIFY(styles.contains("<b/>"));
        QVERIFY(styles.contains("formatCode=\"0.00\""));
        QVERIFY(styles.contains("<left style=\"thin\">"));
        const QByteArray sheet = Part(bytes, QStringLiteral("xl/worksheets/sheet1.xml"));
        // Numbers without a type are numbers; the time has the two-decimal format.
        const QString sheetText = QString::fromUtf8(sheet);
        QVERIFY(
            sheetText.contains(QRegularExpression(QStringLiteral("<c r=\"A2\" s=\"\\d+\"><v>7</v></c>"))));
        QVERIFY(sheetText.contains(
            QRegularExpression(QStringLiteral("<c r=\"C2\" s=\"\\d+\"><v>31.25</v></c>"))));
        QVERIFY(sheetText.contains(QRegularExpression(
            QStringLiteral("<c r=\"C3\" s=\"\\d+\" t=\"inlineStr\"><is><t>EL</t></is></c>"))));
        // Widths follow the longest text: the name column is the widest.
        const QRegularExpression col(QStringLiteral("<col min=\"(\\d)\" max=\"\\d\" width=\"([0-9.]+)\""));
        QList<double> widths;
        for (const auto& m : col.globalMatch(QString::fromUtf8(sheet)))
            widths.append(m.captured(2).toDouble());
        QCOMPARE(widths.size(), 3);
        QVERIFY(widths[1] > widths[0] && widths[1] > widths[2]);
        QVERIFY(widths[1] >= 20);
    }

    void savedByASpreadsheetProgram_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("lauf2");
        QTest::newRow("xlsx") << "starters.xlsx"
                              << "30,20";
        QTest::newRow("ods") << "starters.ods"
                             << "30,20";
        QTest::newRow("xls") << "starters.xls"
                             << "30,20";
    }

    void savedByASpreadsheetProgram()
    {
        QFETCH(QString, file);
        QFETCH(QString, lauf2);
        const QByteArray bytes = Fixture(file);
        QVERIFY(!bytes.isEmpty());
        ProtocolTable rows;
        QString reason;
        QVERIFY2(ParseWorkbook(bytes, rows, reason), qPrintable(reason));
        // Header in row 1, starters in rows 2 to 11, A12 empty: 10 starters, whatever follows.
        QCOMPARE(rows.size(), 11);
        const QStringList joined = Joined(rows);
        QCOMPARE(joined[0],
                 "Nr.|Name|Vorname|Verein|Klasse|Lauf1|Lauf2|Lauf3|Lauf4|Lauf5|Lauf6|Gesamt|Platz");
        QCOMPARE(joined[1], "3|Müller|Jörg|Seifenkisten Süd; Team & Co|A|31,25|" + lauf2);
        QCOMPARE(joined[3], "9|Dvořák|Antonín|RV Weißenburg|A|33,25");
        QCOMPARE(joined[4].section(u'|', 0, 7),
                 "12|Öztürk|Ülkü|SC Nord|B|34,25|" + lauf2.replace("30", "33") + "|EL");
        QCOMPARE(joined[10].section(u'|', 0, 4), "30|Nguyễn|Anh|SC Nord|B");
    }

    void sheets_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("xlsx inline strings, no cell references, booleans, formulas, errors")
            << Xlsx("<row><c t=\"inlineStr\"><is><t>Nr.</t></is></c><c "
                    "t=\"inlineStr\"><is><t>Name</t></is></c></row>"
                    "<row><c><v>7</v></c><c t=\"str\"><f>X1</f><v>Muster</v></c><c t=\"b\"><v>1</v></c>"
                    "<c t=\"e\"><v>#NV</v></c><c t=\"b\"><v>0</v></c></row>")
            << QStringList{"Nr.|Name", "7|Muster|WAHR|#NV|FALSCH"};
        QTest::newRow("xlsx shared rich text without its phonetic run, skipped cells")
            << Xlsx("<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"C1\" t=\"s\"><v>0</v></c>"
                    "<c r=\"E1\" t=\"s\"><v>1</v></c></row>",
                    "<si><r><t>Mü</t></r><r><t xml:space=\"preserve\">ller </t></r><rPh><t>myu</t></rPh></si>"
                    "<si><t>A&amp;B</t></si>")
            << QStringList{"1||Müller ||A&B"};
        QTest::newRow("xlsx missing row ends the data")
            << Xlsx("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\"><v>2</v></c></row>"
                    "<row r=\"4\"><c r=\"A4\"><v>4</v></c></row>")
            << QStringList{"1", "2"};
        QTest::newRow("xlsx empty A ends the data, rows below it ignored")
            << Xlsx("<row><c><v>1</v></c></row><row><c><v>2</v></c></row><row><c r=\"B3\"><v>3</v></c></row>"
                    "<row><c><v>4</v></c></row>")
            << QStringList{"1", "2"};
        QTest::newRow("xlsx exactly 14 columns")
            << Xlsx("<row><c><v>1</v></c><c r=\"N1\"><v>14</v></c><c r=\"O1\"><v>15</v></c>"
                    "<c r=\"XFD1\"><v>16384</v></c></row>")
            << QStringList{"1|||||||||||||14"};
        QTest::newRow("xlsx number formats")
            << Xlsx("<row><c s=\"1\"><v>31.2</v></c><c "
                    "s=\"2\"><v>12</v></c><c><v>31.25</v></c><c><v>1234567</v></c>"
                    "<c s=\"3\"><v>0.5</v></c></row>",
                    {},
                    "<numFmts><numFmt numFmtId=\"164\" formatCode=\"0.00\"/></numFmts>"
                    "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"1\"/><xf "
                    "numFmtId=\"10\"/></cellXfs>")
            << QStringList{"31,20|12|31,25|1234567|0,5"};
        QTest::newRow("xlsx dates and times")
            << Xlsx("<row><c s=\"1\"><v>45479</v></c><c s=\"2\"><v>45479.378472222222</v></c><c s=\"3\">"
                    "<v>0.5</v></c><c s=\"4\"><v>45479</v></c><c s=\"5\"><v>7</v></c></row>",
                    {},
                    "<numFmts><numFmt numFmtId=\"164\" formatCode=\"dd/mm/yyyy\\ hh:mm\"/>"
                    "<numFmt numFmtId=\"165\" formatCode=\"#,##0.0&quot; Tage&quot;\"/></numFmts>"
                    "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf "
                    "numFmtId=\"21\"/>"
                    "<xf numFmtId=\"0\"/><xf numFmtId=\"165\"/></cellXfs>")
            << QStringList{"06.07.2024|06.07.2024 09:05:00|12:00:00|45479|7,0"};
        QTest::newRow("xlsx dates counted from 1904")
            << Xlsx("<row><c s=\"1\"><v>0</v></c></row>", {},
                    "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs>", "date1904=\"1\"")
            << QStringList{"01.01.1904"};
        QTest::newRow("ods repeated cells and rows")
            << Ods("<table:table-row table:number-rows-repeated=\"2\"><table:table-cell "
                   "table:number-columns-repeated=\"2\" office:value-type=\"string\"><text:p>x</text:p>"
                   "</table:table-cell><table:table-cell "
                   "table:number-columns-repeated=\"16384\"/></table:table-row>"
                   "<table:table-row table:number-rows-repeated=\"1048574\"><table:table-cell "
                   "table:number-columns-repeated=\"16384\"/></table:table-row>")
            << QStringList{"x|x", "x|x"};
        QTest::newRow("ods spaces, paragraphs, comments")
            << Ods("<table:table-row><table:table-cell "
                   "office:value-type=\"string\"><office:annotation><text:p>"
                   "Kommentar</text:p></office:annotation><text:p>a<text:s "
                   "text:c=\"2\"/>b</text:p><text:p><text:span>"
                   "c</text:span></text:p></table:table-cell></table:table-row>")
            << QStringList{"a  b\nc"};
        QTest::newRow("ods numbers as shown")
            << Ods("<table:table-header-rows><table:table-row><table:table-cell office:value-type=\"float\" "
                   "office:value=\"1234\"><text:p>1.234</text:p></table:table-cell><table:table-cell "
                   "office:value-type=\"float\" "
                   "office:value=\"31.2\"><text:p>31,20</text:p></table:table-cell>"
                   "<table:table-cell office:value-type=\"boolean\" "
                   "office:boolean-value=\"true\"><text:p>WAHR</text:p>"
                   "</table:table-cell><table:covered-table-cell/><table:table-cell "
                   "office:value-type=\"float\" "
                   "office:value=\"0.125\"><text:p>0,13</text:p></table:table-cell></table:table-row>"
                   "</table:table-header-rows>")
            << QStringList{"1234|31,20|WAHR||0,13"};
    }

    void sheets()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, rows);
        ProtocolTable read;
        QString reason;
        QVERIFY2(ParseWorkbook(bytes, read, reason), qPrintable(reason));
        QCOMPARE(Joined(read), rows);
    }

    void hostileFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray fixture = Fixture(QStringLiteral("starters.xlsx"));
        QTest::newRow("no workbook") << QByteArray("Nr.;Name\r\n") << "keine Arbeitsmappe";
        QTest::newRow("empty file") << QByteArray() << "keine Arbeitsmappe";
        QTest::newRow("cut off zip") << fixture.left(fixture.size() / 2) << "beschädigt";
        QTest::newRow("zip of something else") << MakeZip({{QStringLiteral("a.txt"), "x"}}) << "fehlt";
        QTest::newRow("broken sheet XML") << Xlsx("<row><c><v>1</v></row>") << "beschädigt";
        QTest::newRow("shared string that isn't there")
            << Xlsx("<row><c t=\"s\"><v>5</v></c></row>", "<si><t>a</t></si>") << "beschädigt";
        QTest::newRow("entities that multiply")
            << MakeZip(
                   {{QStringLiteral("xl/workbook.xml"),
                     "<!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                     "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d "
                     "\"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                     "<workbook>&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;</workbook>"}})
            << "beschädigt";
        QTest::newRow("cell reference without a column")
            << Xlsx("<row><c r=\"12\"><v>1</v></c></row>") << "beschädigt";
        QTest::newRow("zip bomb") << Xlsx("<row><c><v>1</v></c></row>" + QByteArray(64 * 1024 * 1024, ' '))
                                  << "wäre entpackt größer als";
        QByteArray manyRows;
        for (int i = 0; i <= kMaxWorkbookStarters + 1; ++i)
            manyRows += "<row><c><v>" + QByteArray::number(i) + "</v></c></row>";
        QTest::newRow("100,001 starters") << Xlsx(manyRows) << "mehr als 100000 Starter";
        QTest::newRow("a million rows")
            << Ods("<table:table-row table:number-rows-repeated=\"1000000\"><table:table-cell "
                   "office:value-type=\"string\"><text:p>x</text:p></table:table-cell></table:table-row>")
            << "mehr als 100000 Starter";
        QTest::newRow("cell of 40,000 characters")
            << Xlsx("<row><c t=\"s\"><v>0</v></c></row>", "<si><t>" + QByteArray(40000, 'x') + "</t></si>")
            << "mehr als 32767 Zeichen";
        // Elements nested 60,000 deep in a file of a few KB.
        const QByteArray open60k = QByteArray("<x>").repeated(60000);
        const QByteArray close60k = QByteArray("</x>").repeated(60000);
        QTest::newRow("value nested 60,000 deep")
            << Xlsx("<row><c><v>" + open60k + "1" + close60k + "</v></c></row>") << "zu tief verschachtelt";
        QTest::newRow("shared text nested 60,000 deep")
            << Xlsx("<row><c t=\"s\"><v>0</v></c></row>", "<si><t>" + open60k + "a" + close60k + "</t></si>")
            << "zu tief verschachtelt";
        QTest::newRow("ods text nested 60,000 deep")
            << Ods("<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" +
                   QByteArray("<text:span>").repeated(60000) + "a" + QByteArray("</text:span>").repeated(60000) +
                   "</text:p></table:table-cell></table:table-row>")
            << "zu tief verschachtelt";
        // A few KB that unpack to megabytes of empty shared strings.
        QTest::newRow("13 MB of empty shared strings")
            << Xlsx("<row><c><v>1</v></c></row>", QByteArray("<si/>").repeated(2700000)) << "wäre entpackt größer als";
        QTest::newRow("a million empty shared strings")
            << Xlsx("<row><c><v>1</v></c></row>", QByteArray("<si/>").repeated(1000000)) << "zu viele Elemente";
        QTest::newRow("ods cell of 100,000 runs of blanks")
            << Ods("<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" +
                   QByteArray("<text:s text:c=\"32767\"/>").repeated(100000) +
                   "</text:p></table:table-cell></table:table-row>")
            << "mehr als 32767 Zeichen";
        QTest::newRow("a billion blanks")
            << Ods("<table:table-row><table:table-cell office:value-type=\"string\"><text:p>a<text:s "
                   "text:c=\"1000000000\"/></text:p></table:table-cell></table:table-row>")
            << "mehr als 32767 Zeichen";
        QTest::newRow("encrypted zip") << MakeZip({{QStringLiteral("_rels/.rels"), "<Relationships/>"},
                                                   {QStringLiteral("xl/workbook.xml"), "<workbook/>"}},
                                                  true)
                                       << "verschlüsselt";
        QTest::newRow("encrypted ods") << Ods({}, true) << "verschlüsselt";
        // LibreOffice stores no result for a formula that gives text in an .xls, but a 0.
        QTest::newRow("xls formula without its text result")
            << Fixture(QStringLiteral("text-formula.xls")) << "Formel in Zelle B2 hat kein gespeichertes Ergebnis";
        const QByteArray xls = Fixture(QStringLiteral("formulas.xls"));
        QByteArray looped = xls;
        {
            // The directory's sector chain leads back to itself.
            const auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(looped.constData() + at); };
            const quint32 directory = u32(0x30);
            const qsizetype fatEntry = (qsizetype(u32(0x4C)) + 1) * 512 + 4 * qsizetype(directory);
            qToLittleEndian<quint32>(directory, looped.data() + fatEntry);
        }
        QTest::newRow("xls sector chain in a loop") << looped << "beschädigt (Sektorkette)";
        QTest::newRow("xls cut off") << xls.left(3000) << "beschädigt";
        QTest::newRow("xls with a sector size of 1 MB")
            << QByteArray(xls).replace(0x1E, 2, QByteArray("\x14\x00", 2)) << "beschädigt (Sektorgröße)";
        QTest::newRow("compound file without a workbook")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1").append(QByteArray(1024, '\0')) << "beschädigt";
    }

    void hostileFilesAreRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        ProtocolTable rows = {{"unverändert"}};
        QString given;
        QVERIFY(!ParseWorkbook(bytes, rows, given));
        QVERIFY2(given.contains(reason), qPrintable(given));
        QCOMPARE(rows, ProtocolTable({{"unverändert"}}));
    }

    // LibreOffice writes about 1.2 KB of content.xml a starter; a list well
    // within the starter cap must not be refused for its unpacked size.
    void longListAsLibreOfficeWritesItLoads()
    {
        // Cells that differ from row to row, so the file packs no better than a real list.
        const auto cell = [](const QByteArray& text) {
            return "<table:table-cell table:style-name=\"ce1\" office:value-type=\"string\" "
                   "calcext:value-type=\"string\"><text:p>" + text + "</text:p></table:table-cell>";
        };
        const auto number = [](int hundredths) {
            const QByteArray value = QByteArray::number(hundredths / 100.0, 'f', 2);
            return "<table:table-cell table:style-name=\"ce2\" office:value-type=\"float\" office:value=\"" +
                   value + "\" calcext:value-type=\"float\"><text:p>" + value + "</text:p></table:table-cell>";
        };
        QByteArray rows;
        const int count = 40000;
        rows.reserve(qsizetype(count) * 1700);
        quint32 seed = 1;
        const auto next = [&seed] { return int((seed = seed * 1103515245u + 12345u) >> 16); };
        for (int i = 1; i <= count; ++i) {
            rows += "<table:table-row table:style-name=\"ro1\">" + number(i * 100);
            for (int c = 0; c < 4; ++c)
                rows += cell("Seifenkisten Süd " + QByteArray::number(next() % 1000));
            for (int c = 0; c < 8; ++c)
                rows += number(2800 + next() % 1200);
            rows += "</table:table-row>";
        }
        QVERIFY(rows.size() > 64 * 1024 * 1024);
        ProtocolTable read;
        QString reason;
        QVERIFY2(ParseWorkbook(Ods(rows), read, reason), qPrintable(reason));
        QCOMPARE(read.size(), count);
        QCOMPARE(read.last().first(2), QStringList({QString::number(count) + ",00", read.last().at(1)}));
        QVERIFY(read.last().at(1).startsWith(u"Seifenkisten Süd "));
        QVERIFY(read.last().at(5).contains(u','));
    }

    // Formula cells give their stored result; numbers keep their format's
    // decimals and dates read alike whichever format the workbook was saved in.
    void formulasFormatsAndDates_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("xlsx") << "formulas.xlsx";
        QTest::newRow("xls") << "formulas.xls";
        QTest::newRow("xls with an empty text cell") << "empty-string.xls";
    }

    void formulasFormatsAndDates()
    {
        QFETCH(QString, file);
        ProtocolTable rows;
        QString reason;
        QVERIFY2(ParseWorkbook(Fixture(file), rows, reason), qPrintable(reason));
        if (file.startsWith(u"empty")) {
            QCOMPARE(Joined(rows), QStringList({"Nr.", "1|Muster"}));
            return;
        }
        QCOMPARE(Joined(rows), QStringList({"Nr.|Name|Lauf1|Datum|Zeit|Text",
                                            "5|Formel in A|30,80|06.07.2024|09:05:30|Schmidt & Söhne",
                                            "7|Muster|32,05|WAHR|#DIV/0!"}));
    }

    // Whatever happens to the .xls reader's process, the program gets a
    // German reason and the rows stay as they were.
    void xlsReaderFailures_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("reason");
        const QString shell = QStringLiteral("/bin/sh");
        QTest::newRow("crashes") << shell << "kill -SEGV $$" << "das Lesen der .xls-Datei ist gescheitert";
        QTest::newRow("hangs") << shell << "exec sleep 600" << "dauerte zu lange und wurde abgebrochen";
        QTest::newRow("ends with an error") << shell << "cat >/dev/null; exit 3" << "ist gescheitert";
        QTest::newRow("writes without end") << shell << "exec yes" << "zu viele Daten";
        QTest::newRow("output cut off") << shell << "cat >/dev/null; printf 'RsNr.\\n'" << "beschädigt";
        QTest::newRow("output that is no row") << shell << "cat >/dev/null; printf 'Xy\\n.\\n'"
                                               << "beschädigt";
        QTest::newRow("missing") << "/nonexistent/quellorix-xls" << QString() << "startet nicht";
        // The real reader with too little memory to start: the limit reaches the process.
        QTest::newRow("out of memory") << QX_XLS_READER << QString() << "ist gescheitert";
    }

    void xlsReaderFailures()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(QString, reason);
        XlsReaderCommand command = Reader(program);
        if (!script.isEmpty())
            command.Arguments = {QStringLiteral("-c"), script};
        command.TimeLimitMs = 1000;
        command.OutputLimit = 1 << 20;
        if (program == QStringLiteral(QX_XLS_READER)) {
#ifdef __SANITIZE_ADDRESS__
            QSKIP("AddressSanitizer needs more address space than any limit leaves");
#endif
            command.MemoryLimit = 4 << 20;
        }
        SetXlsReaderCommand(command);
        ProtocolTable rows = {{"unverändert"}};
        QString given;
        QVERIFY(!ParseWorkbook(Fixture(QStringLiteral("formulas.xls")), rows, given));
        QVERIFY2(given.contains(reason), qPrintable(given));
        QCOMPARE(rows, ProtocolTable({{"unverändert"}}));
    }

    void sheetsWithoutStartersAreRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("A1 empty") << Xlsx("<row><c r=\"B1\"><v>1</v></c></row><row><c><v>2</v></c></row>")
                                  << "keine Starter (Spalte A ist ab Zeile 1 leer)";
        QTest::newRow("header only") << Xlsx("<row><c t=\"inlineStr\"><is><t>Nr.</t></is></c></row>")
                                     << "keine Starter (Spalte A ist ab Zeile 2 leer)";
        QTest::newRow("no workbook") << QByteArray("x") << "keine Arbeitsmappe";
    }

    void sheetsWithoutStartersAreRefused()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("Liste.xlsx"));
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        file.write(bytes);
        file.close();
        ProtocolTable rows = {{"unverändert"}};
        QString error;
        QVERIFY(!LoadWorkbook(name, rows, error));
        QVERIFY2(error.startsWith("Die Arbeitsmappe " + name + " kann nicht geladen werden: "),
                 qPrintable(error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QCOMPARE(rows, ProtocolTable({{"unverändert"}}));
    }

    void savingReplacesAnExistingFileOrReportsTheFailure()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("Protokoll.xlsx"));
        QFile old(name);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("alt");
        old.close();
        const ProtocolTable protocol = {{"Nr.", "Name"}, {"1", "A"}};
        QString error;
        QVERIFY2(SaveProtocolWorkbook(name, protocol, QStringLiteral("Quellorix"), error), qPrintable(error));
        ProtocolTable read;
        QVERIFY(LoadWorkbook(name, read, error));
        QCOMPARE(read[1].first(2), protocol[1]);

        const QString missing = dir.filePath(QStringLiteral("fehlt/Protokoll.xlsx"));
        QVERIFY(!SaveProtocolWorkbook(missing, protocol, QStringLiteral("Quellorix"), error));
        QVERIFY2(error.startsWith("Die Arbeitsmappe " + missing + " konnte nicht gespeichert werden: "),
                 qPrintable(error));
        QVERIFY(!SaveProtocolWorkbook(name, {{QString(40000, u'x')}}, QStringLiteral("Quellorix"), error));
        QVERIFY(LoadWorkbook(name, read, error)); // the old file is still there
    }
};

QTEST_GUILESS_MAIN(TestWorkbook)
#include "tst_workbook.moc"
