// Time to write the web page and to lay out the printed protocol for 10,000 starters.

#include "ProtocolPrint.h"
#include "WebPage.h"

#include <QApplication>
#include <QBuffer>
#include <QDate>
#include <QElapsedTimer>
#include <QPrinter>
#include <QTemporaryDir>
#include <cstdio>

namespace {

ProtocolTable Protocol(int count)
{
    ProtocolTable rows;
    rows.reserve(count + 1);
    rows.append({"Nr.", "Name", "Vorname", "Verein", "Klasse", "Lauf1", "Lauf2", "Lauf3", "Lauf4", "Lauf5",
                 "Lauf6", "Gesamt", "Platz", "¹"});
    for (int i = 1; i <= count; ++i) {
        const auto time = [i](int run) {
            return QStringLiteral("%1,%2")
                .arg(28 + (i + run) % 7)
                .arg((i * 37 + run * 11) % 100, 2, 10, QChar(u'0'));
        };
        rows.append({QString::number(i), QStringLiteral("Müller-%1").arg(i), QStringLiteral("Jürgen"),
                     QStringLiteral("SC Weißenfels & Söhne"), QString(QChar(u'A' + i % 4)), time(1), time(2),
                     time(3), time(4), QString(), QString(), time(9), QString::number(i % 500 + 1),
                     QString::number(i)});
    }
    return rows;
}

double Milliseconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    constexpr int count = 10000;
    const ProtocolTable table = Protocol(count);

    QElapsedTimer timer;
    timer.start();
    const ProtocolReport report = ReadProtocolReport(table, QStringLiteral("Quellorix"), 2);
    const double readMs = Milliseconds(timer);

    timer.restart();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const bool written = WriteWebPage(buffer, report);
    const double pageMs = Milliseconds(timer);

    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("bench.pdf")));
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape);
    const QSizeF area = printer.pageLayout().paintRectPixels(printer.resolution()).size();
    timer.restart();
    const PrintLayout layout = LayOutProtocolPrint(report, area, ProtocolPrintFont(), &printer);
    const double layoutMs = Milliseconds(timer);

    timer.restart();
    const bool printed = PrintProtocol(printer, report, QDate::currentDate());
    const double printMs = Milliseconds(timer);

    std::printf("%d starters: read %.1f ms; web page %.1f ms (%.1f MB)%s; print layout %.1f ms (%d pages); "
                "whole print to PDF %.1f ms%s\n",
                count, readMs, pageMs, double(buffer.size()) / (1024.0 * 1024.0), written ? "" : " (failed)",
                layoutMs, layout.PageCount(), printMs, printed ? "" : " (failed)");
    return 0;
}
