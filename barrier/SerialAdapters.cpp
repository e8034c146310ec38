#include "SerialAdapters.h"

#include "SerialPorts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString AdapterOfDevice(const QString& devicePath, const QString& byIdFolder)
{
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        return {};
    const QFileInfoList links = QDir(byIdFolder).entryInfoList(QDir::Files | QDir::System, QDir::Name);
    for (const QFileInfo& link : links) {
        if (link.isSymLink() && link.canonicalFilePath() == device)
            return link.fileName();
    }
    return {};
}

QString DeviceOfAdapter(const QString& adapter, const QString& byIdFolder)
{
    if (adapter.isEmpty() || adapter.contains(QLatin1Char('/')))
        return {};
    return QFileInfo(QDir(byIdFolder).filePath(adapter)).canonicalFilePath();
}

int ComNumberOfDevice(const QString& devicePath)
{
    const QString name = QFileInfo(devicePath).fileName();
    for (int n = 1; n <= MaxComPort; ++n) {
        if (!name.isEmpty() && QFileInfo(PortDeviceName(n)).fileName() == name)
            return n;
    }
    return 0;
}

namespace {

QString TtyDeviceFolder(const QString& ttyName, const QString& sysFolder)
{
    return QStringLiteral("%1/class/tty/%2/device").arg(sysFolder, ttyName);
}

std::optional<int> ReadNumber(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int value = file.readAll().trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

const QString ftdiDriver = QStringLiteral("ftdi_sio");
const QString acmDriver = QStringLiteral("cdc_acm");
// Drivers whose TIOCMIWAIT is missing: their lines are polled.
const QStringList polledDrivers{QStringLiteral("cp210x")};

} // namespace

SerialAdapterFacts ReadAdapterFacts(const QString& ttyName, const QString& sysFolder)
{
    SerialAdapterFacts facts;
    if (ttyName.isEmpty() || ttyName.contains(QLatin1Char('/')))
        return facts;
    const QString device = TtyDeviceFolder(ttyName, sysFolder);
    const QFileInfo driver(device + QStringLiteral("/driver"));
    if (driver.isSymLink())
        facts.driver = QFileInfo(driver.symLinkTarget()).fileName();
    if (facts.driver == ftdiDriver)
        facts.latencyMs = ReadNumber(device + QStringLiteral("/latency_timer"));
    facts.linesPolled = polledDrivers.contains(facts.driver);
    facts.statesFromCounters = facts.driver == ftdiDriver;
    return facts;
}

bool WriteSysfsFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::ExistingOnly) && file.write(text) == text.size() &&
           file.flush();
}

std::optional<int> LowerLatencyTimer(const QString& ttyName, const SysfsWriter& write,
                                     const std::function<bool()>& setLowLatency, const QString& sysFolder)
{
    const QString path = TtyDeviceFolder(ttyName, sysFolder) + QStringLiteral("/latency_timer");
    const std::optional<int> before = ReadNumber(path);
    if (!before || *before <= 1)
        return before;
    if (!write(path, QByteArrayLiteral("1")) || ReadNumber(path).value_or(*before) > 1) {
        if (setLowLatency)
            setLowLatency();
    }
    return ReadNumber(path);
}

QStringList AdapterNotes(const SerialAdapterFacts& facts)
{
    QStringList notes;
    if (facts.driver == ftdiDriver && facts.latencyMs && *facts.latencyMs > 1)
        notes << QStringLiteral(
                     "FTDI-Adapter: Er meldet die Lichtschranken nur alle %1 ms, die Zeiten sind nur "
                     "auf %1 ms genau. Die Latenz ließ sich nicht auf 1 ms senken (dazu braucht es "
                     "Administratorrechte).")
                     .arg(*facts.latencyMs);
    if (facts.driver == acmDriver)
        notes << QStringLiteral("USB-Modem-Adapter (cdc_acm): CTS meldet hier immer „an“, die "
                                "Start-Lichtschranke an Kontakt 7+8 kann an diesem Adapter nicht arbeiten.");
    if (facts.linesPolled)
        notes << QStringLiteral("Adapter ohne Meldung von Leitungswechseln (%1): Die Lichtschranken werden "
                                "abgefragt, jede Abfrage ist eine USB-Übertragung. So kommt etwa alle 2 ms "
                                "ein neuer Stand an, die Zeiten sind auf etwa 2 ms genau.")
                     .arg(facts.driver);
    return notes;
}

QString StampingPriorityNote()
{
    return QStringLiteral(
        "Lichtschranken ohne Echtzeit-Vorrang: Ist der Rechner ausgelastet (Browser, Updates), kann eine "
        "Zeit um einige Millisekunden, selten um mehr als eine Zehntelsekunde zu spät genommen werden. "
        "Abhilfe: das Paket „rtkit“ installieren und Quellorix neu starten (siehe Hilfe, Lichtschranken).");
}
