#include "TextBytes.h"
#include "CellFormulaGuard.h"
#include "ProtocolText.h"
#include "TextCodec.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include "FileSizeLimit.h"
#endif

namespace {

const QStringList kHeader = {"Nr.",   "Name",  "Vorname", "Verein", "Klasse", "Lauf1", "Lauf2",
                             "Lauf3", "Lauf4", "Lauf5",   "Lauf6",  "Gesamt", "Platz", "¹"};

QStringList Row(const QStringList& leading)
{
    QStringList row = leading;
    while (row.size() < kProtocolColumnCount)
        row.append(QString());
    return row;
}

ProtocolTable SampleProtocol()
{
    return {kHeader,
            Row({"12", "Muster", "Max", "SC Nord", "A", "31,25", "30,80", "", "", "", "", "62,05", "1", "1"}),
            Row({"7", "Müller", "Jürgen", "RSV Weißenfels", "B", "EL"}), Row({"3", "Graß", "", "", "A"})};
}

// What the grid's SaveToCSV writes: ";" between cells, CR LF after each row,
// a cell with ";", a quote or a line break in double quotes with its quotes doubled.
QByteArray GridCsv(const ProtocolTable& rows)
{
    QString text;
    for (const QStringList& row : rows) {
        QStringList fields;
        for (QString cell : row) {
            if (cell.contains(u';') || cell.contains(u'"') || cell.contains(u'\r') || cell.contains(u'\n'))
                cell =
                    QStringLiteral("\"%1\"").arg(cell.replace(QStringLiteral("\""), QStringLiteral("\"\"")));
            fields.append(cell);
        }
        text += fields.join(u';') + QStringLiteral("\r\n");
    }
    return EncodeFileText(text);
}

QByteArray Written(const ProtocolTable& rows)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const bool written = WriteProtocolText(buffer, rows, kProtocolColumnCount);
    return written ? buffer.data() : QByteArray();
}

// Takes limit bytes, then refuses everything, like a full disk.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit) : m_limit(limit) {}
    QByteArray data;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* bytes, qint64 size) override
    {
        const qint64 room = m_limit - data.size();
        if (room <= 0)
            return -1;
        const qint64 taken = std::min(size, room);
        data.append(bytes, taken);
        return taken;
    }

private:
    qint64 m_limit = 0;
};

QByteArray FileBytes(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool WriteFile(const QString& fileName, const QByteArray& bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestProtocolText : public QObject
{
    Q_OBJECT

private slots:
    void textLayout();
    void textReplacesLineBreakingCharacters();
    void textRoundTrip();
    void emptyProtocolRoundTrip();
    void csvRoundTrip();
    void encodingOnDisk_data();
    void encodingOnDisk();
    void longWesternTextPassingAsUtf8();
    void readsWindows1252AndUtf8_data();
    void readsWindows1252AndUtf8();
    void headerLinesAnywhere();
    void separatorPerLine();
    void emptyFieldsKeepTheirColumn_data();
    void emptyFieldsKeepTheirColumn();
    void quotedFields_data();
    void quotedFields();
    void lineEnds_data();
    void lineEnds();
    void blankRecordsSkipped();
    void rowAndFieldLimits_data();
    void rowAndFieldLimits();
    void fieldsBeyondLastColumnDropped();
    void failingDevice();
    void saveReplacesFile();
    void saveIntoMissingFolder();
    void failedSaveKeepsOldFile();
    void loadFile();
    void loadFailures_data();
    void loadFailures();
    void defaultExportName_data();
    void defaultExportName();
    void hostileInput_data();
    void hostileInput();
    void formulaCellsGuarded_data();
    void formulaCellsGuarded();
};

void TestProtocolText::textLayout()
{
    const ProtocolTable rows = {kHeader, Row({"12", "Muster", "Max", "SC Nord", "A", "", "", "31,25", "30,80",
                                              "", "", "62,05", "1", "4"})};
    const QByteArray expected =
        "Nr.\tName\tVorname\tVerein\tKlasse\tLauf1\tLauf2\tLauf3\tLauf4\tLauf5\tLauf6\t"
        "Gesamt\tPlatz\t\xB9\t\r\n"
        "12\tMuster\tMax\tSC Nord\tA\t \t \t31,25\t30,80\t \t \t62,05\t1\t4\t\r\n";
    QCOMPARE(Written(rows), expected);
}

void TestProtocolText::textReplacesLineBreakingCharacters()
{
    const ProtocolTable rows = {{"a\tb", "c\r\nd", "e\rf\ng"}};
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(WriteProtocolText(buffer, rows, 3));
    QCOMPARE(buffer.data(), QByteArray("a b\tc  d\te f g\t\r\n"));
}

void TestProtocolText::textRoundTrip()
{
    const ProtocolTable saved = SampleProtocol();
    const ProtocolTable loaded = ParseProtocolText(Written(saved));
    QCOMPARE(loaded.size(), saved.size() - 1);
    for (int r = 0; r < loaded.size(); ++r) {
        QCOMPARE(loaded[r].size(), kProtocolColumnCount);
        for (int c = 0; c < kProtocolColumnCount; ++c) {
            const QString& original = saved[r + 1][c];
            QCOMPARE(loaded[r][c], original);
        }
    }
}

void TestProtocolText::emptyProtocolRoundTrip()
{
    const ProtocolTable saved = {kHeader, Row({})};
    const QByteArray bytes = Written(saved);
    QVERIFY(bytes.endsWith(QByteArray(" \t").repeated(kProtocolColumnCount) + "\r\n"));
    const ProtocolTable loaded = ParseProtocolText(bytes);
    QVERIFY(loaded.isEmpty());
}

void TestProtocolText::csvRoundTrip()
{
    const ProtocolTable saved = {
        kHeader,
        Row({"1", "O\"Neill", "Sean \"Speedy\"", "SC Nord; Abteilung Seifenkiste", "A", "31,25"}),
        Row({"2", "Brandt", "Eva", "Verein\r\nmit Umbruch", "B", "", "EL"}),
        Row({"3", "\"", "", ";", "", "", "", "29,99"}),
    };
    const ProtocolTable loaded = ParseProtocolText(GridCsv(saved));
    QCOMPARE(loaded, saved.mid(1));
}

void TestProtocolText::encodingOnDisk_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("expectedStart");

    QTest::newRow("umlauts") << QStringLiteral("Müller") << QByteArray("1\tM\xFCller\t");
    QTest::newRow("sharp s") << QStringLiteral("Weiß") << QByteArray("1\tWei\xDF\t");
    QTest::newRow("euro sign") << QStringLiteral("5€") << QByteArray("1\t5\x80\t");
    QTest::newRow("western bytes that pass as utf-8")
        << QString::fromUtf8("\xC3\x83\xC2\xBC" "ber") << QByteArray("\xEF\xBB\xBF" "1\t\xC3\x83\xC2\xBC" "ber\t");
    QTest::newRow("czech") << QStringLiteral("Dvořák")
                           << QByteArray("\xEF\xBB\xBF"
                                         "1\tDvo\xC5\x99\xC3\xA1k\t");
}

void TestProtocolText::encodingOnDisk()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, expectedStart);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("protokoll.txt"));
    QString error;
    QVERIFY(SaveProtocolText(fileName, {Row({"1", name})}, kProtocolColumnCount, error));
    const QByteArray bytes = FileBytes(fileName);
    QVERIFY2(bytes.startsWith(expectedStart), bytes.left(40).toHex(' ').constData());

    ProtocolTable loaded;
    QVERIFY(LoadProtocolText(fileName, loaded, error));
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded[0][1], name);
}

void TestProtocolText::longWesternTextPassingAsUtf8()
{
    // Over 64 KB, with a two-byte sequence across every 64 KB boundary.
    const QString text = u'x' + QString::fromUtf8("\xC3\x83\xC2\xBC").repeated(40000);
    const QByteArray bytes = EncodeFileText(text);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(DecodeFileText(bytes), text);
    QCOMPARE(EncodeFileText(text + QChar(0xFC)).size(), text.size() + 1); // no longer UTF-8: Western
}

void TestProtocolText::readsWindows1252AndUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("windows-1252") << QByteArray("5;J\xFCrgen;Stra\xDF"
                                                "e\r\n");
    QTest::newRow("utf-8") << QByteArray("5;J\xC3\xBCrgen;Stra\xC3\x9F"
                                         "e\r\n");
    QTest::newRow("utf-8 with bom") << QByteArray("\xEF\xBB\xBF"
                                                  "5;J\xC3\xBCrgen;Stra\xC3\x9F"
                                                  "e\r\n");
    QTest::newRow("utf-16le with bom") << Utf16WithBom(QStringLiteral("5;Jürgen;Straße\r\n"), false);
    QTest::newRow("utf-16be with bom") << Utf16WithBom(QStringLiteral("5;Jürgen;Straße\r\n"), true);
}

void TestProtocolText::readsWindows1252AndUtf8()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(ParseProtocolText(bytes), ProtocolTable({Row({"5", "Jürgen", "Straße"})}));
}

void TestProtocolText::headerLinesAnywhere()
{
    const QByteArray bytes = "Nr.;Name\r\n"
                             "1;Anna\r\n"
                             "Nr\tName\t\r\n"
                             "2;Bert\r\n"
                             "Nrx;irgendwas\r\n"
                             "nr;klein\r\n"
                             " Nr;eingerückt\r\n";
    QCOMPARE(ParseProtocolText(bytes), ProtocolTable({Row({"1", "Anna"}), Row({"2", "Bert"}),
                                                      Row({"nr", "klein"}), Row({" Nr", "eingerückt"})}));
}

void TestProtocolText::separatorPerLine()
{
    const QByteArray bytes = "1\tSC Nord; Süd\tA;B\t\r\n"
                             "2;Muster;Max\r\n"
                             "3\t\"Zitat;\"\t\r\n";
    QCOMPARE(ParseProtocolText(bytes),
             ProtocolTable(
                 {Row({"1", "SC Nord; Süd", "A;B"}), Row({"2", "Muster", "Max"}), Row({"3", "\"Zitat;\""})}));
}

void TestProtocolText::emptyFieldsKeepTheirColumn_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("csv gap") << QByteArray("7;Muster;;SC Nord;A") << Row({"7", "Muster", "", "SC Nord", "A"});
    QTest::newRow("csv runs empty") << QByteArray("7;Muster;Max;SC Nord;A;;;31,25;;;;;;")
                                    << Row({"7", "Muster", "Max", "SC Nord", "A", "", "", "31,25"});
    QTest::newRow("csv leading separator") << QByteArray(";Muster") << Row({"", "Muster"});
    QTest::newRow("csv trailing separator") << QByteArray("7;Muster;") << Row({"7", "Muster"});
    QTest::newRow("tab gap") << QByteArray("7\tMuster\t\tSC Nord\t") << Row({"7", "Muster", "", "SC Nord"});
    QTest::newRow("tab leading separator") << QByteArray("\t\tMax") << Row({"", "", "Max"});
    QTest::newRow("blank is empty") << QByteArray("7; ;Max") << Row({"7", "", "Max"});
    QTest::newRow("blanks are empty") << QByteArray("7\t   \tMax\t") << Row({"7", "", "Max"});
    QTest::newRow("quoted blank is empty") << QByteArray("7;\" \";Max") << Row({"7", "", "Max"});
    QTest::newRow("blanks around text kept") << QByteArray("7; Max ;A") << Row({"7", " Max ", "A"});
    QTest::newRow("quoted empty") << QByteArray("7;\"\";Max") << Row({"7", "", "Max"});
}

void TestProtocolText::emptyFieldsKeepTheirColumn()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, expected);
    QCOMPARE(ParseProtocolText(line + "\r\n"), ProtocolTable({expected}));
}

void TestProtocolText::quotedFields_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ProtocolTable>("expected");

    QTest::newRow("semicolon") << QByteArray("1;\"SC Nord; Süd\";A\r\n")
                               << ProtocolTable{Row({"1", "SC Nord; Süd", "A"})};
    QTest::newRow("doubled quotes") << QByteArray("1;\"Sean \"\"Speedy\"\"\"\r\n")
                                    << ProtocolTable{Row({"1", "Sean \"Speedy\""})};
    QTest::newRow("crlf inside") << QByteArray("1;\"zwei\r\nZeilen\";A\r\n2;B\r\n")
                                 << ProtocolTable{Row({"1", "zwei\r\nZeilen", "A"}), Row({"2", "B"})};
    QTest::newRow("header line inside")
        << QByteArray("1;\"a\nNr. 5\"\n2;B\n") << ProtocolTable{Row({"1", "a\nNr. 5"}), Row({"2", "B"})};
    QTest::newRow("a tab makes a tab line")
        << QByteArray("1;\"a\tb\";C\r\n") << ProtocolTable{Row({"1;\"a", "b\";C"})};
    QTest::newRow("quote on a tab line is text")
        << QByteArray("\"5\tMuster\t\r\n6\tB\"\t\r\n") << ProtocolTable{Row({"\"5", "Muster"}), Row({"6", "B\""})};
    QTest::newRow("quote inside unquoted field")
        << QByteArray("1;O\"Neill;C\r\n") << ProtocolTable{Row({"1", "O\"Neill", "C"})};
    QTest::newRow("text after closing quote")
        << QByteArray("1;\"a\"b;C\r\n") << ProtocolTable{Row({"1", "ab", "C"})};
    QTest::newRow("unclosed quote is text")
        << QByteArray("1;\"offen;C\r\n2;D\r\n") << ProtocolTable{Row({"1", "\"offen", "C"}), Row({"2", "D"})};
    QTest::newRow("quoted last field at end") << QByteArray("1;\"x\"") << ProtocolTable{Row({"1", "x"})};
}

void TestProtocolText::quotedFields()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ProtocolTable, expected);
    QCOMPARE(ParseProtocolText(bytes), expected);
}

void TestProtocolText::lineEnds_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("cr lf") << QByteArray("1;A\r\n2;B\r\n3;C\r\n");
    QTest::newRow("lf") << QByteArray("1;A\n2;B\n3;C\n");
    QTest::newRow("lone cr") << QByteArray("1;A\r2;B\r3;C\r");
    QTest::newRow("mixed, no end") << QByteArray("1;A\r2;B\n\n\r\n3;C");
    QTest::newRow("tab lines, lone cr") << QByteArray("1\tA\t\r2\tB\t\r3\tC\t\r");
}

void TestProtocolText::lineEnds()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(ParseProtocolText(bytes), ProtocolTable({Row({"1", "A"}), Row({"2", "B"}), Row({"3", "C"})}));
}

void TestProtocolText::blankRecordsSkipped()
{
    const QByteArray bytes = "1;A\r\n;;;;;;;;;;;;;\r\n\t\t\t\r\n\r\n \t\t\r\n";
    QCOMPARE(ParseProtocolText(bytes), ProtocolTable({Row({"1", "A"})}));
}

void TestProtocolText::rowAndFieldLimits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("tooMany");
    QTest::addColumn<int>("cut");
    QTest::newRow("as many rows as allowed") << QByteArray("1\n").repeated(kMaxStarters) << kMaxStarters << false << 0;
    QTest::newRow("one row more") << QByteArray("1\n").repeated(kMaxStarters + 1) << kMaxStarters << true << 0;
    QTest::newRow("blank and header lines don't count")
        << QByteArray("Nr\n\n \t \n").repeated(kMaxStarters) + "1\n" << 1 << false << 0;
    QTest::newRow("longest field") << "1;" + QByteArray(kMaxCellLength, 'x') << 1 << false << 0;
    QTest::newRow("fields cut") << "1\t" + QByteArray(kMaxCellLength + 1, 'x') + "\t" + QByteArray(5000, 'y')
                                << 1 << false << 2;
}

void TestProtocolText::rowAndFieldLimits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rows);
    QFETCH(bool, tooMany);
    QFETCH(int, cut);
    ProtocolReadReport report;
    const ProtocolTable read = ParseProtocolText(bytes, &report);
    QCOMPARE(read.size(), rows);
    QCOMPARE(report.TooManyRows, tooMany);
    QCOMPARE(report.CutCells, cut);
    for (const QString& cell : read.first())
        QVERIFY(cell.size() <= kMaxCellLength);
}

void TestProtocolText::fieldsBeyondLastColumnDropped()
{
    QStringList fields;
    for (int i = 0; i < 20; ++i)
        fields.append(QString::number(i));
    const ProtocolTable expected = {fields.mid(0, kProtocolColumnCount)};
    QCOMPARE(ParseProtocolText(fields.join(u';').toUtf8()), expected);
    QCOMPARE(ParseProtocolText(fields.join(u'\t').toUtf8()), expected);
}

void TestProtocolText::failingDevice()
{
    const ProtocolTable rows = SampleProtocol();
    const qint64 size = Written(rows).size();
    QVERIFY(size > 0);

    FailingDevice device(size - 1);
    QVERIFY(device.open(QIODevice::WriteOnly));
    QVERIFY(!WriteProtocolText(device, rows, kProtocolColumnCount));

    FailingDevice roomy(size);
    QVERIFY(roomy.open(QIODevice::WriteOnly));
    QVERIFY(WriteProtocolText(roomy, rows, kProtocolColumnCount));
    QCOMPARE(roomy.data.size(), size);
}

void TestProtocolText::saveReplacesFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("protokoll.txt"));
    QVERIFY(WriteFile(fileName, "alter Inhalt, deutlich länger als der neue, damit kein Rest bleibt\r\n"));

    QString error;
    QVERIFY(SaveProtocolText(fileName, {{"1", "A"}}, 2, error));
    QCOMPARE(FileBytes(fileName), QByteArray("1\tA\t\r\n"));
    QVERIFY(error.isEmpty());
}

void TestProtocolText::saveIntoMissingFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("fehlt/protokoll.txt"));
    QString error;
    QVERIFY(!SaveProtocolText(fileName, SampleProtocol(), kProtocolColumnCount, error));
    QVERIFY2(error.startsWith(
                 QStringLiteral("Das Protokoll konnte nicht in %1 gespeichert werden: ").arg(fileName)),
             qPrintable(error));
    QVERIFY(!QFile::exists(fileName));
}

void TestProtocolText::failedSaveKeepsOldFile()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("protokoll.txt"));
    const QByteArray old = "1\tAlt\t\r\n";
    QVERIFY(WriteFile(fileName, old));

    ProtocolTable big;
    for (int i = 0; i < 2000; ++i)
        big.append(Row({QString::number(i), QStringLiteral("Muster")}));

    QString error;
    bool savedOk = true;
    QVERIFY(UnderFileSizeLimit(
        4096, [&] { savedOk = SaveProtocolText(fileName, big, kProtocolColumnCount, error); }));

    QVERIFY(!savedOk);
    QVERIFY2(error.startsWith(
                 QStringLiteral("Das Protokoll konnte nicht in %1 gespeichert werden: ").arg(fileName)),
             qPrintable(error));
    QCOMPARE(FileBytes(fileName), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"protokoll.txt"}));
#else
    QSKIP("needs a file size limit");
#endif
}

void TestProtocolText::loadFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fileName = dir.filePath(QStringLiteral("starter.csv"));
    QVERIFY(WriteFile(fileName, "Nr.;Name;Vorname;Verein;Klasse\r\n7;Muster;Max;SC Nord;A\r\n"));
    ProtocolTable rows = {Row({"alt"})};
    QString error;
    QVERIFY(LoadProtocolText(fileName, rows, error));
    QCOMPARE(rows, ProtocolTable({Row({"7", "Muster", "Max", "SC Nord", "A"})}));
}

void TestProtocolText::loadFailures_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing") << QStringLiteral("fehlt.txt")
                             << QStringLiteral("Die Datei %1 kann nicht gelesen werden.");
    QTest::newRow("folder") << QStringLiteral("ordner")
                            << QStringLiteral("Die Datei %1 kann nicht gelesen werden.");
    QTest::newRow("too large") << QStringLiteral("riesig.txt")
                               << QStringLiteral("Die Datei %1 ist größer als 64 MB und wird nicht geladen.");
    const QString noStarters = QStringLiteral("Die Datei %1 kann nicht geladen werden: sie enthält keine "
                                              "Starter (nur leere Zeilen oder Kopfzeilen).");
    QTest::newRow("header line only") << QStringLiteral("kopf.csv") << noStarters;
    QTest::newRow("empty") << QStringLiteral("leer.txt") << noStarters;
    QTest::newRow("blank lines and blank fields") << QStringLiteral("blank.txt") << noStarters;
}

void TestProtocolText::loadFailures()
{
    QFETCH(QString, entry);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ordner")));
    QFile huge(dir.filePath(QStringLiteral("riesig.txt")));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QVERIFY(huge.resize(kMaxProtocolFileSize + 1));
    huge.close();
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("kopf.csv")), "Nr.;Name;Vorname;Verein;Klasse\r\n"));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("leer.txt")), ""));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("blank.txt")), "\r\n \t \t \t\r\n;;\r\n"));

    const QString fileName = dir.filePath(entry);
    const ProtocolTable before = {Row({"1", "bleibt"})};
    ProtocolTable rows = before;
    QString error;
    QVERIFY(!LoadProtocolText(fileName, rows, error));
    QCOMPARE(error, message.arg(fileName));
    QCOMPARE(rows, before);
}

void TestProtocolText::defaultExportName_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("expected");

    QTest::newRow("morning") << QDateTime(QDate(2024, 7, 6), QTime(9, 5))
                             << QStringLiteral("2024-07-06-09-05");
    QTest::newRow("evening") << QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59))
                             << QStringLiteral("2023-12-31-23-59");
    QTest::newRow("midnight") << QDateTime(QDate(2025, 1, 1), QTime(0, 0))
                              << QStringLiteral("2025-01-01-00-00");
}

void TestProtocolText::defaultExportName()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    QCOMPARE(DefaultExportName(when), expected);
}

void TestProtocolText::hostileInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<int>("firstCellSize");

    static constexpr char withNul[] = "1;\0Na\0me;X\r\n\0\0\0\r\n";
    QTest::newRow("nul bytes") << QByteArray(withNul, sizeof(withNul) - 1) << 2 << 1;
    QTest::newRow("1 MB line") << QByteArray(1024 * 1024, 'x') << 1 << kMaxCellLength;
    QTest::newRow("10 MB of separators") << QByteArray(10 * 1024 * 1024, ';') << 0 << 0;
    QTest::newRow("10 MB of tabs") << QByteArray(10 * 1024 * 1024, '\t') << 0 << 0;
    // Each quote closes the field the one before opened: 50,000 rows holding a CR.
    QTest::newRow("100,000 lines of one quote") << QByteArray("\"\r").repeated(100000) << 50000 << 1;
    QTest::newRow("quote opened, closed at the end")
        << (QByteArray("\"") + QByteArray("1;x\r\n").repeated(100000) + "\"") << 1 << kMaxCellLength;
    QTest::newRow("100,000 empty lines") << QByteArray("\r\n").repeated(100000) << 0 << 0;

    QByteArray random(256 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(4711);
    for (char& byte : random)
        byte = char(generator.bounded(256));
    QTest::newRow("random bytes") << random << -1 << -1;
}

void TestProtocolText::hostileInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rowCount);
    QFETCH(int, firstCellSize);

    const ProtocolTable rows = ParseProtocolText(bytes);
    for (const QStringList& row : rows)
        QCOMPARE(row.size(), kProtocolColumnCount);
    if (rowCount >= 0)
        QCOMPARE(rows.size(), rowCount);
    if (firstCellSize >= 0 && !rows.isEmpty())
        QCOMPARE(rows[0][0].size(), firstCellSize);
}

void TestProtocolText::formulaCellsGuarded_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("written");
    QTest::newRow("formula") << "=HYPERLINK(\"http://x\";\"y\")" << "'=HYPERLINK(\"http://x\";\"y\")";
    QTest::newRow("plus") << "+49" << "'+49";
    QTest::newRow("at") << "@SUMME(A1)" << "'@SUMME(A1)";
    QTest::newRow("minus before text") << "-x" << "'-x";
    QTest::newRow("minus alone") << "-" << "'-";
    QTest::newRow("negative number") << "-5" << "-5";
    QTest::newRow("negative decimal") << "-1,5" << "-1,5";
    QTest::newRow("time") << "31,25" << "31,25";
    QTest::newRow("tab first") << "\tx" << "'\tx";
    QTest::newRow("cr first") << "\rx" << "'\rx";
    QTest::newRow("apostrophe before a formula") << "'=x" << "''=x";
    QTest::newRow("apostrophes before a formula") << "''+1" << "'''+1";
    QTest::newRow("apostrophe before text") << "'abc" << "'abc";
    QTest::newRow("apostrophe alone") << "'" << "'";
    QTest::newRow("formula character later") << "a=b" << "a=b";
    QTest::newRow("empty") << "" << "";
}

// Written with an apostrophe where a spreadsheet would see a formula, and
// read back as it was, from the text format and from CSV.
void TestProtocolText::formulaCellsGuarded()
{
    QFETCH(QString, cell);
    QFETCH(QString, written);
    QCOMPARE(GuardedCellText(cell), written);
    QCOMPARE(UnguardedCellText(written), cell);
    if (cell.isEmpty() || cell.startsWith(u'\t') || cell.startsWith(u'\r'))
        return; // the text format writes these as a blank cell or with a blank in front
    const ProtocolTable saved = {kHeader, Row({"1", cell, "x"})};
    const QByteArray text = Written(saved);
    QVERIFY2(text.contains("\t" + ToWindows1252(written) + "\tx\t"), text.constData());
    QCOMPARE(ParseProtocolText(text), saved.mid(1));
    // The grid's CSV writer guards the same way (see the main window's tests); its lines read back too.
    const ProtocolTable guarded = {kHeader, Row({"1", GuardedCellText(cell), "x"})};
    QCOMPARE(ParseProtocolText(GridCsv(guarded)), saved.mid(1));
}

QTEST_GUILESS_MAIN(TestProtocolText)
#include "tst_protocoltext.moc"
