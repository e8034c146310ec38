// Time to build the results list from a protocol of 100,000 starters and to
// write it as PDF, HTML page and Word document, and the certificates for
// places 1 to 3.

#include "ProcessCpu.h"
#include "ProtocolLogic.h"
#include "ResultsDocument.h"
#include "ResultsPage.h"
#include "ResultsPrint.h"

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// 100,000 starters in 40 classes, one test run and two counted runs, placed within their class.
ProtocolTable Protocol(int count)
{
    constexpr int classes = 40;
    ProtocolTable rows;
    rows.reserve(count + 1);
    rows.append(ProtocolHeaders());
    for (int i = 0; i < count; ++i) {
        const auto time = [i](int run) {
            return QStringLiteral("%1,%2")
                .arg(28 + (i + run) % 7)
                .arg((i * 37 + run * 11) % 100, 2, 10, QChar(u'0'));
        };
        rows.append({QString::number(i + 1), QStringLiteral("Müller-%1").arg(i), QStringLiteral("Jürgen"),
                     QStringLiteral("SC Weißenfels & Söhne"), QStringLiteral("Klasse %1").arg(i % classes),
                     time(1), time(2), time(3), QString(), QString(), QString(), time(9),
                     QString::number(i / classes + 1), QString::number(i + 1)});
    }
    return rows;
}

double Milliseconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

double Megabytes(const QString& fileName)
{
    return double(QFileInfo(fileName).size()) / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    constexpr int count = 100000;
    const ProtocolTable table = Protocol(count);
    QTemporaryDir dir;
    QString error;

    QElapsedTimer timer;
    timer.start();
    const ResultsList list =
        BuildResultsList(table, 1, QStringLiteral("Seifenkistenrennen"), QDate::currentDate());
    const double buildMs = Milliseconds(timer);

    const QString pdf = dir.filePath(QStringLiteral("liste.pdf"));
    timer.restart();
    const double cpuBefore = ProcessCpuSeconds();
    const bool pdfWritten = SaveResultsPdf(pdf, list, error);
    const double pdfMs = Milliseconds(timer);
    const double pdfCpuMs = (ProcessCpuSeconds() - cpuBefore) * 1000;

    const QString html = dir.filePath(QStringLiteral("liste.html"));
    timer.restart();
    const bool htmlWritten = SaveResultsPage(html, list, error);
    const double htmlMs = Milliseconds(timer);

    const QString docx = dir.filePath(QStringLiteral("liste.docx"));
    timer.restart();
    const bool docxWritten = SaveResultsDocument(docx, list, error);
    const double docxMs = Milliseconds(timer);

    const QString certificates = dir.filePath(QStringLiteral("urkunden.pdf"));
    timer.restart();
    const bool certificatesWritten = SaveCertificatesPdf(certificates, list, {}, error);
    const double certificatesMs = Milliseconds(timer);

    std::printf(
        "%d starters: list built %.1f ms; PDF %.0f ms (CPU %.0f ms, %.1f MB)%s; HTML %.0f ms (%.1f MB)%s; "
        "Word %.0f ms (%.1f MB)%s; certificates for places 1-3 %.0f ms (%.1f MB)%s\n",
        count, buildMs, pdfMs, pdfCpuMs, Megabytes(pdf), pdfWritten ? "" : " (failed)", htmlMs,
        Megabytes(html), htmlWritten ? "" : " (failed)", docxMs, Megabytes(docx),
        docxWritten ? "" : " (failed)", certificatesMs, Megabytes(certificates),
        certificatesWritten ? "" : " (failed)");
    return pdfWritten && htmlWritten && docxWritten && certificatesWritten ? 0 : 1;
}
