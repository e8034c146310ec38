#include "PdfTools.h"
#include "ProtocolLogic.h"
#include "ReadCancel.h"
#include "ResultsDocument.h"
#include "ResultsPage.h"
#include "ResultsPrint.h"
#include "ZipArchive.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <atomic>

namespace {

const QDate kRaceDay(2024, 7, 6);
const QString kTitle = QStringLiteral("Seifenkistenrennen <Bergpreis> & Co");

// Rows as "Nr;Name;Vorname;Verein;Klasse;Lauf1;...;Lauf6;Gesamt;Platz;load order",
// separated by "|", under the protocol's header row.
ProtocolTable Table(const QString& text)
{
    ProtocolTable rows{ProtocolHeaders()};
    for (const QString& row : text.split(u'|', Qt::SkipEmptyParts))
        rows.append(row.trimmed().split(u';'));
    return rows;
}

// One test run, two counted runs; a tie, an EL, a starter without times and
// a class without any time yet.
ResultsList Race()
{
    return BuildResultsList(Table("4;Dach;Dora;TV;Junior;32,00;26,00;26,10;;;;52,10;4;1|"
                                  "9;Chur;Carl;SV;Junior;29,00;25,30;25,20;;;;50,50;2;2|"
                                  "7;Adler;Anna;SC;Junior;30,00;25,10;25,20;;;;50,30;1;3|"
                                  "3;Berg;Bert;SV;Junior;31,00;25,50;25,00;;;;50,50;2;4|"
                                  "5;Eck;Emil;TV;Junior;30,50;26,00;EL;;;;EL;;5|"
                                  "6;Frosch;Fritz <&>;TV;Junior;;;;;;;;;6|"
                                  "11;Gold;Gabi;SC;Senior;;24,00;24,00;;;;48,00;1;7|"
                                  "21;Igel;Ida;SV;Bambini;;;;;;;;;8|"
                                  "12;Hut;Hans;SC;Senior;;24,50;24,50;;;;49,00;2;9"),
                            1, kTitle, kRaceDay);
}

// classSizes classes "Klasse n" of starters "Kn-i", placed in order, with a time in the first runs.
ResultsList Classes(const QList<int>& classSizes, int runs = 1)
{
    ProtocolTable table{ProtocolHeaders()};
    for (int c = 0; c < classSizes.size(); ++c) {
        for (int i = 0; i < classSizes[c]; ++i) {
            QStringList row(kProtocolColumnCount);
            row[ColNr] = QString::number(c * 1000 + i + 1);
            row[ColName] = QStringLiteral("K%1-%2").arg(c).arg(i + 1);
            row[ColVorname] = QStringLiteral("Vorname");
            row[ColVerein] = QStringLiteral("Verein");
            row[ColKlasse] = QStringLiteral("Klasse %1").arg(c);
            for (int run = 0; run < runs; ++run)
                row[ColLauf1 + run] = QStringLiteral("%1,%2").arg(40 + i).arg(run, 2, 10, QChar(u'0'));
            row[ColGesamt] = QStringLiteral("%1,00").arg(100 + i);
            row[ColPlatz] = QString::number(i + 1);
            table.append(row);
        }
    }
    return BuildResultsList(table, 0, QStringLiteral("Sommerrennen"), kRaceDay);
}

QString Normalized(QString text)
{
    return text.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" ")).trimmed();
}

QString Unescaped(QString text)
{
    return text.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
        .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
        .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
        .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
}

QByteArray ReadAll(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines of the page's headings and table rows; rows set in bold start with "** ".
QStringList HtmlLines(const QString& html)
{
    QStringList lines;
    static const QRegularExpression part(
        QStringLiteral("<(?:h[12]|p class=\"datum\")>(.*?)</(?:h[12]|p)>|<tr([^>]*)>(.*?)</tr>"));
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    for (auto it = part.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString inner = m.captured(1).isEmpty() ? m.captured(3) : m.captured(1);
        QString text = Unescaped(Normalized(QString(inner).replace(tag, QStringLiteral(" "))));
        lines.append(m.captured(2).contains(u"podium") ? QStringLiteral("** ") + text : text);
    }
    return lines;
}

// The paragraphs and table rows of a .docx (header part first); rows in bold start with "** ".
QStringList DocumentLines(const QString& fileName)
{
    const QByteArray bytes = ReadAll(fileName);
    const ZipReader zip(bytes);
    QStringList lines;
    for (const QString& part : {QStringLiteral("word/header1.xml"), QStringLiteral("word/document.xml"),
                                QStringLiteral("word/footer1.xml"), QStringLiteral("word/styles.xml"),
                                QStringLiteral("[Content_Types].xml")}) {
        QByteArray xmlBytes;
        if (zip.Read(part, 1 << 24, xmlBytes) != ZipReader::Result::Ok)
            return {QStringLiteral("missing ") + part};
        QXmlStreamReader xml(xmlBytes);
        QString line;
        bool bold = false;
        bool header = false;
        int tableDepth = 0;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == u"tbl")
                ++tableDepth;
            else if (xml.isEndElement() && xml.name() == u"tbl")
                --tableDepth;
            else if (xml.isStartElement() && xml.name() == u"b")
                bold = true;
            else if (xml.isStartElement() && xml.name() == u"tblHeader")
                header = true;
            else if (xml.isStartElement() && xml.name() == u"t")
                line += u' ' + xml.readElementText();
            else if (xml.isEndElement() && (xml.name() == u"tr" || (xml.name() == u"p" && tableDepth == 0))) {
                lines.append((bold && !header && xml.name() == u"tr" ? QStringLiteral("** ") : QString()) +
                             Normalized(line));
                line.clear();
                bold = false;
                header = false;
            } else if (xml.isEndElement() && xml.name() == u"p" && tableDepth > 0) {
                line += u' ';
            }
        }
        if (xml.hasError())
            return {part + QStringLiteral(": ") + xml.errorString()};
    }
    return lines;
}

QStringList PdfLines(const QString& fileName)
{
    QStringList lines;
    const int pages = PdfTools::PageCount(fileName);
    for (int p = 1; p <= pages; ++p) {
        for (const QString& line : PdfTools::PageText(fileName, p).split(u'\n'))
            lines.append(Normalized(line));
    }
    return lines;
}

enum class Format { Pdf, Html, Word, Certificates };

bool Write(Format format, const QString& fileName, const ResultsList& list, QString& error)
{
    switch (format) {
    case Format::Pdf:
        return SaveResultsPdf(fileName, list, error);
    case Format::Html:
        return SaveResultsPage(fileName, list, error);
    case Format::Word:
        return SaveResultsDocument(fileName, list, error);
    case Format::Certificates:
        return SaveCertificatesPdf(fileName, list, {}, error);
    }
    return false;
}

// Keeps what a test wrote when QUELLORIX_SCREENSHOTS names a folder (for the manual's pictures).
void Keep(const QString& fileName, const QString& name)
{
    const QString folder = qEnvironmentVariable("QUELLORIX_SCREENSHOTS");
    if (!folder.isEmpty()) {
        QFile::remove(folder + u'/' + name);
        QFile::copy(fileName, folder + u'/' + name);
    }
}

} // namespace

class TestResultsOutput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(PdfTools::Available(), "poppler-utils are missing (tools/setup.sh)"); }
    void content_data();
    void content();
    void classesStayWholeOnTheirPages_data();
    void classesStayWholeOnTheirPages();
    void certificates_data();
    void certificates();
    void fileIsReplacedOnlyWhenComplete_data();
    void fileIsReplacedOnlyWhenComplete();
};

void TestResultsOutput::content_data()
{
    QTest::addColumn<Format>("format");
    QTest::addColumn<QString>("name");
    QTest::newRow("PDF") << Format::Pdf << "ergebnisliste.pdf";
    QTest::newRow("HTML") << Format::Html << "ergebnisliste.html";
    QTest::newRow("Word") << Format::Word << "ergebnisliste.docx";
}

void TestResultsOutput::content()
{
    QFETCH(Format, format);
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString fileName = dir.filePath(name);
    QString error;
    QVERIFY2(Write(format, fileName, Race(), error), qPrintable(error));
    Keep(fileName, name);

    QStringList lines;
    if (format == Format::Pdf) {
        lines = PdfLines(fileName);
        QCOMPARE(PdfTools::PageCount(fileName), 1);
        QCOMPARE(PdfTools::PageSize(fileName).toSize(), QSize(595, 842)); // A4 portrait: three runs fit
    } else if (format == Format::Html) {
        const QString html = QString::fromUtf8(ReadAll(fileName));
        // Texts are escaped: no markup gets into the page from a name or the title.
        QVERIFY(!html.contains(u"<Bergpreis>") && !html.contains(u"Fritz <&>"));
        QVERIFY(html.contains(u"Fritz &lt;&amp;&gt;"));
        lines = HtmlLines(html);
    } else {
        lines = DocumentLines(fileName);
    }
    // In this order, each on a line of its own; places 1 to 3 in bold (not to be read from a PDF's text).
    const QStringList expected{
        kTitle,
        "Ergebnisliste – 06.07.2024",
        "Junior",
        "Nr. Name Verein Probelauf 1 Lauf 1 Lauf 2 Gesamt Platz",
        "** 7 Anna Adler SC 30,00 25,10 25,20 50,30 1.",
        "** 9 Carl Chur SV 29,00 25,30 25,20 50,50 2.",
        "** 3 Bert Berg SV 31,00 25,50 25,00 50,50 2.",
        "4 Dora Dach TV 32,00 26,00 26,10 52,10 4.",
        "5 Emil Eck TV 30,50 26,00 EL EL ohne Wertung",
        "6 Fritz <&> Frosch TV ohne Wertung",
        "Senior",
        "** 11 Gabi Gold SC 24,00 24,00 48,00 1.",
        "** 12 Hans Hut SC 24,50 24,50 49,00 2.",
        "Bambini",
        "21 Ida Igel SV ohne Wertung",
    };
    qsizetype at = 0;
    for (QString line : expected) {
        if (format == Format::Pdf)
            line.remove(QStringLiteral("** "));
        const qsizetype found = lines.indexOf(line, at);
        QVERIFY2(
            found >= 0,
            qPrintable(QStringLiteral("missing after line %1: %2\n%3").arg(at).arg(line, lines.join(u'\n'))));
        at = found + 1;
    }
    QVERIFY(!lines.join(u'\n').contains(u"Lauf 3")); // runs nobody has a time in are left out
    if (format == Format::Pdf)
        QVERIFY(lines.contains(QStringLiteral("Seite 1 von 1")));
}

void TestResultsOutput::classesStayWholeOnTheirPages_data()
{
    QTest::addColumn<QList<int>>("classSizes");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("longClass"); // -1: none longer than a page
    QTest::addColumn<int>("runs");
    QTest::addColumn<bool>("landscape");
    QTest::newRow("short classes share pages, none is split")
        << QList<int>{12, 12, 12, 12, 12} << 3 << -1 << 1 << false;
    QTest::newRow("a class longer than a page goes on under its heading")
        << QList<int>{5, 75, 3} << 4 << 1 << 1 << false;
    QTest::newRow("six runs turn the page") << QList<int>{5, 25, 3} << 3 << 1 << 6 << true;
}

void TestResultsOutput::classesStayWholeOnTheirPages()
{
    QFETCH(QList<int>, classSizes);
    QFETCH(int, pages);
    QFETCH(int, longClass);
    QFETCH(int, runs);
    QFETCH(bool, landscape);
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("lang.pdf"));
    QString error;
    QVERIFY2(SaveResultsPdf(fileName, Classes(classSizes, runs), error), qPrintable(error));
    Keep(fileName, QStringLiteral("lang-%1.pdf").arg(QTest::currentDataTag()[0] == 's' ? runs : 0));
    QCOMPARE(PdfTools::PageSize(fileName).toSize(), landscape ? QSize(842, 595) : QSize(595, 842));
    QCOMPARE(PdfTools::PageCount(fileName), pages);
    QList<QSet<int>> pagesOfClass(classSizes.size());
    for (int p = 1; p <= pages; ++p) {
        const QString text = PdfTools::PageText(fileName, p);
        QVERIFY(text.contains(u"Sommerrennen") && text.contains(u"06.07.2024"));
        QVERIFY(text.contains(QStringLiteral("Seite %1 von %2").arg(p).arg(pages)));
        static const QRegularExpression starter(QStringLiteral("\\bK(\\d+)-\\d+\\b"));
        for (auto it = starter.globalMatch(text); it.hasNext();)
            pagesOfClass[it.next().captured(1).toInt()].insert(p);
        for (int c = 0; c < classSizes.size(); ++c) {
            // Where a class's starters are, its heading is, "(Fortsetzung)" after its first page.
            if (!pagesOfClass[c].contains(p))
                continue;
            const bool continued = p > *std::min_element(pagesOfClass[c].begin(), pagesOfClass[c].end());
            const QString heading =
                QStringLiteral("Klasse %1%2").arg(c).arg(continued ? " (Fortsetzung)" : "");
            QVERIFY2(text.contains(heading), qPrintable(heading));
        }
    }
    int starters = 0;
    for (int c = 0; c < classSizes.size(); ++c) {
        QCOMPARE(pagesOfClass[c].size() > 1, c == longClass);
        starters += classSizes[c];
    }
    QVERIFY(pages < classSizes.size() || longClass >= 0); // pages are shared
}

void TestResultsOutput::certificates_data()
{
    QTest::addColumn<bool>("allPlaced");
    QTest::addColumn<QStringList>("pages");
    QTest::newRow("places 1 to 3") << false
                                   << QStringList{"Anna Adler|SC|Junior|1. Platz|50,30",
                                                  "Carl Chur|SV|Junior|2. Platz|50,50",
                                                  "Bert Berg|SV|Junior|2. Platz|50,50",
                                                  "Gabi Gold|SC|Senior|1. Platz|48,00",
                                                  "Hans Hut|SC|Senior|2. Platz|49,00"};
    QTest::newRow("all placed") << true << QStringList{"Anna Adler|SC|Junior|1. Platz|50,30",
                                                       "Carl Chur|SV|Junior|2. Platz|50,50",
                                                       "Bert Berg|SV|Junior|2. Platz|50,50",
                                                       "Dora Dach|TV|Junior|4. Platz|52,10",
                                                       "Gabi Gold|SC|Senior|1. Platz|48,00",
                                                       "Hans Hut|SC|Senior|2. Platz|49,00"};
}

void TestResultsOutput::certificates()
{
    QFETCH(bool, allPlaced);
    QFETCH(QStringList, pages);
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("urkunden.pdf"));
    QString error;
    CertificateOptions options;
    options.AllPlaced = allPlaced;
    QVERIFY2(SaveCertificatesPdf(fileName, Race(), options, error), qPrintable(error));
    Keep(fileName, QStringLiteral("urkunden.pdf"));
    QCOMPARE(PdfTools::PageCount(fileName), pages.size());
    QCOMPARE(PdfTools::PageSize(fileName).toSize(), QSize(595, 842));
    for (int p = 0; p < pages.size(); ++p) {
        const QStringList parts = pages[p].split(u'|');
        const QString text = Normalized(PdfTools::PageText(fileName, p + 1));
        for (const QString& expected :
             {kTitle, QStringLiteral("06.07.2024"), parts[0], parts[1], QStringLiteral("Klasse ") + parts[2],
              parts[3], QStringLiteral("Gesamtzeit ") + parts[4] + QStringLiteral(" s")})
            QVERIFY2(text.contains(expected),
                     qPrintable(QStringLiteral("page %1: %2 in %3").arg(p + 1).arg(expected, text)));
    }

    // Nobody placed yet: no file, a reason.
    const QString none = dir.filePath(QStringLiteral("keine.pdf"));
    error.clear();
    QVERIFY(!SaveCertificatesPdf(none, Classes({0}), options, error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(none));
}

void TestResultsOutput::fileIsReplacedOnlyWhenComplete_data()
{
    QTest::addColumn<Format>("format");
    QTest::addColumn<bool>("callOff");
    QTest::addColumn<QByteArray>("start"); // how the new file begins
    QTest::newRow("PDF written") << Format::Pdf << false << QByteArray("%PDF");
    QTest::newRow("PDF called off") << Format::Pdf << true << QByteArray();
    QTest::newRow("HTML written") << Format::Html << false << QByteArray("<!DOCTYPE html>");
    QTest::newRow("HTML called off") << Format::Html << true << QByteArray();
    QTest::newRow("Word written") << Format::Word << false << QByteArray("PK");
    QTest::newRow("Word called off") << Format::Word << true << QByteArray();
    QTest::newRow("certificates written") << Format::Certificates << false << QByteArray("%PDF");
    QTest::newRow("certificates called off") << Format::Certificates << true << QByteArray();
}

void TestResultsOutput::fileIsReplacedOnlyWhenComplete()
{
    QFETCH(Format, format);
    QFETCH(bool, callOff);
    QFETCH(QByteArray, start);
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("ergebnis"));
    {
        QFile old(fileName);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older file");
    }
    std::atomic<bool> cancel = callOff;
    QString error = QStringLiteral("unchanged");
    bool written = false;
    {
        const ReadCancelScope scope(cancel);
        written = Write(format, fileName, Race(), error);
    }
    QCOMPARE(written, !callOff);
    QCOMPARE(error, QStringLiteral("unchanged"));
    const QByteArray bytes = ReadAll(fileName);
    QVERIFY(bytes.startsWith(callOff ? QByteArray("older file") : start));
    // Nothing is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ergebnis")});

    // A folder that doesn't exist: a message naming the file.
    if (!callOff) {
        const QString missing = dir.filePath(QStringLiteral("fehlt/ergebnis"));
        QVERIFY(!Write(format, missing, Race(), error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(missing)), qPrintable(error));
    }
}

QTEST_MAIN(TestResultsOutput)
#include "tst_resultsoutput.moc"
