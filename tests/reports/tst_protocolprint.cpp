#include "PdfTools.h"
#include "ProtocolPrint.h"
#include "ReadCancel.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

namespace {

const QDate kRaceDay(2024, 7, 6);

// Start numbers 101.. and a distinct time in every run cell that is filled.
ProtocolReport Report(int rows, int probeLaufe)
{
    ProtocolTable table = {QStringList(kProtocolColumnCount)};
    for (int i = 0; i < rows; ++i) {
        const auto time = [i](int run) {
            return QStringLiteral("%1,%2").arg(20 + run).arg(i, 2, 10, QChar(u'0'));
        };
        table.append({QString::number(101 + i), QStringLiteral("Müller-Lüdenscheidt %1").arg(i),
                      QStringLiteral("Jürgen"), QStringLiteral("SC Weißenfels"), QString(QChar(u'A' + i % 3)),
                      time(1), time(2), time(3), time(4), QString(), QString(), time(9),
                      QString::number(i + 1), QString::number(i + 1)});
    }
    return ReadProtocolReport(table, QStringLiteral("Quellorix"), probeLaufe);
}

void UsePdf(QPrinter& printer, const QString& fileName, QPageLayout::Orientation orientation)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(orientation);
}

// Calls the print off as it starts a new page, as "Abbrechen" would meanwhile.
class CancellingPrinter : public QPrinter
{
public:
    CancellingPrinter(std::atomic<bool>& cancel, bool callOff)
        : QPrinter(QPrinter::HighResolution), m_cancel(cancel), m_callOff(callOff)
    {
    }
    bool newPage() override
    {
        if (m_callOff)
            m_cancel = true;
        return QPrinter::newPage();
    }

private:
    std::atomic<bool>& m_cancel;
    const bool m_callOff;
};

} // namespace

class TestProtocolPrint : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void printsToPdf_data();
    void printsToPdf();
    void pageRange();
    void failingPrinter();
    void fileIsReplacedOnlyWhenComplete_data();
    void fileIsReplacedOnlyWhenComplete();
};

void TestProtocolPrint::layout_data()
{
    QTest::addColumn<QPageSize::PageSizeId>("paper");
    QTest::addColumn<QPageLayout::Orientation>("orientation");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("shrinks");
    QTest::newRow("A4 landscape, 60 rows") << QPageSize::A4 << QPageLayout::Landscape << 60 << false;
    QTest::newRow("A4 portrait, 60 rows") << QPageSize::A4 << QPageLayout::Portrait << 60 << false;
    QTest::newRow("A6 portrait shrinks the font") << QPageSize::A6 << QPageLayout::Portrait << 60 << true;
    QTest::newRow("no rows, one page") << QPageSize::A4 << QPageLayout::Landscape << 0 << false;
}

void TestProtocolPrint::layout()
{
    QFETCH(QPageSize::PageSizeId, paper);
    QFETCH(QPageLayout::Orientation, orientation);
    QFETCH(int, rows);
    QFETCH(bool, shrinks);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(paper));
    printer.setPageOrientation(orientation);
    const QSizeF page = printer.pageLayout().paintRectPixels(printer.resolution()).size();
    const ProtocolReport report = Report(rows, 2);
    const PrintLayout layout = LayOutProtocolPrint(report, page, ProtocolPrintFont(), &printer);

    // The thirteen columns side by side across the page width.
    QCOMPARE(layout.ColumnLeft[0], 0.0);
    for (int c = 1; c < kReportColumnCount; ++c)
        QCOMPARE(layout.ColumnLeft[c], layout.ColumnLeft[c - 1] + layout.ColumnWidth[c - 1]);
    QCOMPARE(layout.ColumnLeft[12] + layout.ColumnWidth[12], page.width());
    QCOMPARE(layout.Font.pointSizeF() < ProtocolPrintFont().pointSizeF(), shrinks);
    // No start number, class, time or place is cut.
    for (int c : {0, 4, 5, 6, 7, 8, 11, 12}) {
        QFont font = layout.Font;
        font.setItalic(IsTestRunColumn(c, report.ProbeLaufe));
        const QFontMetricsF metrics(font, &printer);
        for (const QStringList& row : report.Rows)
            QVERIFY2(metrics.horizontalAdvance(row[c]) <= layout.ColumnWidth[c] - 2 * layout.Padding,
                     qPrintable(row[c]));
    }
    // Every row on exactly one page, each page's table above its page number.
    QVERIFY(layout.PageCount() >= 1);
    QCOMPARE(layout.PageFirstRow.first(), 0);
    for (int p = 0; p < layout.PageCount(); ++p) {
        QVERIFY(layout.PageRowEnd(p) > layout.PageFirstRow[p] || rows == 0);
        const int last = std::max(layout.PageFirstRow[p], layout.PageRowEnd(p) - 1);
        QVERIFY(layout.CellRect(p, last, 0).bottom() <= layout.FooterRect().top());
    }
    QCOMPARE(layout.PageRowEnd(layout.PageCount() - 1), rows);
    QVERIFY(layout.TableTop(0) > 0);
    QCOMPARE(layout.TableTop(layout.PageCount() - 1) > 0, layout.PageCount() == 1);
}

void TestProtocolPrint::printsToPdf_data()
{
    QTest::addColumn<int>("probeLaufe");
    QTest::addColumn<bool>("italic");
    QTest::newRow("no test runs") << 0 << false;
    QTest::newRow("two test runs in italics") << 2 << true;
}

void TestProtocolPrint::printsToPdf()
{
    QFETCH(int, probeLaufe);
    QFETCH(bool, italic);
    QVERIFY2(PdfTools::Available(), "poppler-utils missing (tools/setup.sh installs them)");
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("protokoll.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    UsePdf(printer, fileName, QPageLayout::Landscape);
    const ProtocolReport report = Report(60, probeLaufe);
    QVERIFY(PrintProtocol(printer, report, kRaceDay));

    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5) == "%PDF-");
    const QSizeF size = PdfTools::PageSize(fileName);
    QVERIFY2(size.width() > size.height(), "landscape");
    const int pages = PdfTools::PageCount(fileName);
    const PrintLayout layout =
        LayOutProtocolPrint(report, printer.pageLayout().paintRectPixels(printer.resolution()).size(),
                            ProtocolPrintFont(), &printer);
    QCOMPARE(pages, layout.PageCount());
    QVERIFY(pages >= 2);

    QStringList words;
    for (int p = 1; p <= pages; ++p) {
        const QString text = PdfTools::PageText(fileName, p);
        for (const QString& caption : ReportHeaders())
            QVERIFY2(text.contains(caption), qPrintable(QStringLiteral("page %1: %2").arg(p).arg(caption)));
        QVERIFY(text.contains(QStringLiteral("Seite %1 von %2").arg(p).arg(pages)));
        QCOMPARE(text.contains(QStringLiteral("Quellorix Zeitenprotokoll")), p == 1);
        QCOMPARE(text.contains(QStringLiteral("06.07.2024")), p == 1);
        words += text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    }
    for (const QStringList& row : report.Rows) {
        for (int c : {0, 5, 6, 7, 8, 11})
            QVERIFY2(words.contains(row[c]), qPrintable(row[c]));
    }
    QCOMPARE(PdfTools::Fonts(fileName).contains(QStringLiteral("Oblique")) ||
                 PdfTools::Fonts(fileName).contains(QStringLiteral("Italic")),
             italic);
}

void TestProtocolPrint::pageRange()
{
    QVERIFY2(PdfTools::Available(), "poppler-utils missing (tools/setup.sh installs them)");
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("seite2.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    UsePdf(printer, fileName, QPageLayout::Landscape);
    printer.setPrintRange(QPrinter::PageRange);
    printer.setFromTo(2, 2);
    QVERIFY(PrintProtocol(printer, Report(60, 2), kRaceDay));
    QCOMPARE(PdfTools::PageCount(fileName), 1);
    QVERIFY(PdfTools::PageText(fileName, 1).contains(QStringLiteral("Seite 2 von")));
}

void TestProtocolPrint::failingPrinter()
{
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    UsePdf(printer, dir.filePath(QStringLiteral("missing/protokoll.pdf")), QPageLayout::Landscape);
    QVERIFY(!PrintProtocol(printer, Report(3, 2), kRaceDay));
}

void TestProtocolPrint::fileIsReplacedOnlyWhenComplete_data()
{
    QTest::addColumn<bool>("olderFile");
    QTest::addColumn<bool>("callOff");
    QTest::newRow("called off, older file") << true << true;
    QTest::newRow("called off, no file yet") << false << true;
    QTest::newRow("completed over an older file") << true << false;
}

void TestProtocolPrint::fileIsReplacedOnlyWhenComplete()
{
    QFETCH(bool, olderFile);
    QFETCH(bool, callOff);
    QTemporaryDir dir;
    const QString fileName = dir.filePath(QStringLiteral("protokoll.pdf"));
    if (olderFile) {
        QFile old(fileName);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older print");
    }
    std::atomic<bool> cancel{false};
    const ReadCancelScope scope(cancel);
    CancellingPrinter printer(cancel, callOff);
    UsePdf(printer, fileName, QPageLayout::Landscape);
    // Enough rows for a page after the one on which it is called off.
    QCOMPARE(PrintProtocol(printer, Report(200, 2), kRaceDay), !callOff);

    QCOMPARE(printer.outputFileName(), fileName);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             olderFile || !callOff ? QStringList{QStringLiteral("protokoll.pdf")} : QStringList());
    QFile file(fileName);
    if (olderFile || !callOff) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(callOff ? bytes : bytes.left(5), callOff ? QByteArray("older print") : QByteArray("%PDF-"));
    }
}

QTEST_MAIN(TestProtocolPrint)
#include "tst_protocolprint.moc"
