// Prints how long the main window takes to export the protocol as an .xlsx
// workbook and to import that workbook again, for 10,000 starters, and the
// same for the workbook writer and reader alone.
#include "FormMainAccess.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "WindowHarness.h"
#include "WorkbookReader.h"
#include "WorkbookWriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    WindowHarness harness;
    harness.CreateWindow();
    TTestFormMain& window = *harness.window;

    constexpr int starters = 10000;
    QByteArray text = "Nr.;Name;Vorname;Verein;Klasse\r\n";
    for (int i = 1; i <= starters; ++i) {
        text += QByteArray::number(i) + ";Müller" + QByteArray::number(i % 977) + ";Jörg;Verein " +
                QByteArray::number(i % 31) + ";" + char('A' + i % 7) + ";" + QByteArray::number(20 + i % 13) +
                "," + QByteArray::number(10 + i % 89) + ";EL;" + QByteArray::number(21 + i % 11) + ",05\r\n";
    }
    harness.WriteFile(QStringLiteral("list.csv"), text);
    window.LoadStarterList(harness.Path(QStringLiteral("list.csv")));

    const QString workbook = harness.Path(QStringLiteral("protokoll.xlsx"));
    QElapsedTimer timer;
    timer.start();
    const bool exported = window.ExportExcel(workbook);
    const qint64 exportMs = timer.elapsed();
    timer.restart();
    const bool imported = window.ImportExcel(workbook);
    const qint64 importMs = timer.elapsed();
    std::printf("%d starters as .xlsx through the window: export %lld ms, import %lld ms (target: each < "
                "1000 ms)%s\n",
                starters, static_cast<long long>(exportMs), static_cast<long long>(importMs),
                exported && imported && window.SortGrid1->RowCount() == starters + 1 ? "" : "  FAILED");

    const ProtocolTable protocol = window.ProtocolRows();
    QByteArray bytes;
    QString reason;
    timer.restart();
    ProtocolWorkbookBytes(protocol, QStringLiteral("Quellorix"), bytes, reason);
    const qint64 writeMs = timer.elapsed();
    ProtocolTable rows;
    timer.restart();
    ParseWorkbook(bytes, rows, reason);
    const qint64 readMs = timer.elapsed();
    std::printf("%d starters, writer and reader alone: write %lld ms, read %lld ms, %lld bytes, %lld rows\n",
                starters, static_cast<long long>(writeMs), static_cast<long long>(readMs),
                static_cast<long long>(bytes.size()), static_cast<long long>(rows.size()));
    harness.DestroyWindow();
    return 0;
}
