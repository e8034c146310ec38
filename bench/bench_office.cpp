// Prints how long the main window takes to export the protocol as an .xlsx
// workbook and to import that workbook again, for 10,000 starters, and the
// same for the workbook writer and reader alone.
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestDialogs.h"
#include "WorkbookReader.h"
#include "WorkbookWriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir dir;
    TestDialogs dialogs;
    TSystemAccess access;
    const QString settings = dir.filePath(QStringLiteral("settings.ini"));
    access.OpenSettings = [settings] { return std::make_unique<QSettings>(settings, QSettings::IniFormat); };
    access.ScanPorts = [] { return std::uint32_t(0); };
    TFormMain window(access);
    window.show();

    constexpr int starters = 10000;
    const QString list = dir.filePath(QStringLiteral("list.csv"));
    QFile file(list);
    file.open(QIODevice::WriteOnly);
    QByteArray text = "Nr.;Name;Vorname;Verein;Klasse\r\n";
    for (int i = 1; i <= starters; ++i) {
        text += QByteArray::number(i) + ";Müller" + QByteArray::number(i % 977) + ";Jörg;Verein " +
                QByteArray::number(i % 31) + ";" + char('A' + i % 7) + ";" + QByteArray::number(20 + i % 13) +
                "," + QByteArray::number(10 + i % 89) + ";EL;" + QByteArray::number(21 + i % 11) + ",05\r\n";
    }
    file.write(text);
    file.close();
    window.LoadStarterList(list);

    const QString workbook = dir.filePath(QStringLiteral("protokoll.xlsx"));
    QElapsedTimer timer;
    timer.start();
    const bool exported = window.ExportExcel(workbook);
    const qint64 exportMs = timer.elapsed();
    timer.restart();
    const bool imported = window.ImportExcel(workbook);
    const qint64 importMs = timer.elapsed();
    std::printf("%d starters as .xlsx through the window: export %lld ms, import %lld ms (target: each < 1000 ms)%s\n",
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
    return 0;
}
