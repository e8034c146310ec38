// Prints how long the main window takes to load a starter list (reading,
// ranking, lane lists) and to save the protocol as text, for 10,000 and
// 100,000 starters.
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestDialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

namespace {

void WriteStarterList(const QString& fileName, int starters)
{
    QFile file(fileName);
    file.open(QIODevice::WriteOnly);
    QByteArray text = "Nr.;Name;Vorname;Verein;Klasse\r\n";
    for (int i = 1; i <= starters; ++i) {
        text += QByteArray::number(i) + ";Name" + QByteArray::number(i % 977) + ";Vorname;Verein " +
                QByteArray::number(i % 31) + ";" + char('A' + i % 7) + ";;;" +
                QByteArray::number(20 + i % 13) + "," + QByteArray::number(10 + i % 89) + "\r\n";
    }
    file.write(text);
}

} // namespace

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

    for (int starters : {10000, 100000}) {
        const QString list = dir.filePath(QStringLiteral("list%1.csv").arg(starters));
        WriteStarterList(list, starters);
        QElapsedTimer timer;
        timer.start();
        window.LoadStarterList(list);
        const qint64 loadMs = timer.elapsed();

        dialogs.fileNames.enqueue(dir.filePath(QStringLiteral("out%1.txt").arg(starters)));
        dialogs.filterIndexes.enqueue(1);
        timer.restart();
        window.Save1->trigger();
        const qint64 saveMs = timer.elapsed();
        std::printf("%7d starters: load %5lld ms (target for 100000: < 2000 ms), save %5lld ms, rows %d\n",
                    starters, static_cast<long long>(loadMs), static_cast<long long>(saveMs),
                    window.SortGrid1->RowCount() - 1);
    }
    window.SortGrid1->SetModified(false);
    return 0;
}
