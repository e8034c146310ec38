// Prints how long the main window takes to load a starter list (reading,
// ranking, lane lists) and to save the protocol as text, and the peak memory
// of the process doing it: for 10,000 and 100,000 ordinary starters, for the
// largest list that is accepted (100,000 starters filling almost 64 MB), and
// for refusing a 64 MB file of one-character lines. Each case runs in a
// process of its own, so that each peak is its own.
#include "FormMainAccess.h"
#include "ProtocolText.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestDialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

QByteArray OrdinaryList(int starters)
{
    QByteArray text = "Nr.;Name;Vorname;Verein;Klasse\r\n";
    for (int i = 1; i <= starters; ++i) {
        text += QByteArray::number(i) + ";Name" + QByteArray::number(i % 977) + ";Vorname;Verein " +
                QByteArray::number(i % 31) + ";" + char('A' + i % 7) + ";;;" +
                QByteArray::number(20 + i % 13) + "," + QByteArray::number(10 + i % 89) + "\r\n";
    }
    return text;
}

// 100,000 starters whose name, first name and club take up the 64 MB.
QByteArray LargestAcceptedList()
{
    const int fieldLength = int((kMaxProtocolFileSize / kMaxStarters - 40) / 3);
    QByteArray text;
    text.reserve(kMaxProtocolFileSize);
    for (int i = 1; i <= kMaxStarters; ++i) {
        const char letter = char('a' + i % 26);
        text += QByteArray::number(i) + ';' + QByteArray(fieldLength, letter) + ';' +
                QByteArray(fieldLength, 'v') + ';' + QByteArray(fieldLength, 'c') + ';' + char('A' + i % 7) +
                ";;;31,25\r\n";
    }
    return text;
}

long PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

int RunCase(const QString& name)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir dir;
    TestDialogs dialogs;
    TSystemAccess access;
    const QString settings = dir.filePath(QStringLiteral("settings.ini"));
    access.OpenSettings = [settings] { return std::make_unique<QSettings>(settings, QSettings::IniFormat); };
    access.ScanPorts = [] { return std::uint32_t(0); };
    access.Dialogs = &dialogs;
    TTestFormMain window(access);
    window.show();

    QByteArray bytes;
    if (name == QLatin1String("refuse"))
        bytes = QByteArray("x\n").repeated(int(kMaxProtocolFileSize / 2));
    else if (name == QLatin1String("largest"))
        bytes = LargestAcceptedList();
    else
        bytes = OrdinaryList(name.toInt());
    const QString list = dir.filePath(QStringLiteral("list.csv"));
    {
        QFile file(list);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
    }
    const qint64 fileBytes = bytes.size();
    bytes = QByteArray();

    QElapsedTimer timer;
    timer.start();
    const bool loaded = window.LoadStarterList(list);
    const qint64 loadMs = timer.elapsed();
    qint64 saveMs = 0;
    if (loaded) {
        dialogs.fileNames.enqueue(dir.filePath(QStringLiteral("out.txt")));
        dialogs.filterIndexes.enqueue(1);
        timer.restart();
        window.Save1->trigger();
        saveMs = timer.elapsed();
    }
    std::printf("%-42s %5.1f MB file: %s %5lld ms, save %5lld ms, rows %6d, peak memory %5ld MB\n",
                qPrintable(name == QLatin1String("refuse")    ? QStringLiteral("64 MB of one-character lines")
                           : name == QLatin1String("largest") ? QStringLiteral("largest accepted list")
                                                              : name + QStringLiteral(" starters")),
                double(fileBytes) / (1024 * 1024), loaded ? "load  " : "refuse",
                static_cast<long long>(loadMs), static_cast<long long>(saveMs),
                window.SortGrid1->RowCount() - 1, PeakMegabytes());
    window.SetUnsaved(false);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1)
        return RunCase(arguments.at(1));

    std::printf("Targets: 100,000 starters load in < 2000 ms; refusal in < 2000 ms; every peak < 1024 MB.\n");
    std::fflush(stdout);
    for (const char* name : {"10000", "100000", "largest", "refuse"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QLatin1String(name)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            std::printf("%s: failed\n", name);
    }
    return 0;
}
