#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// USB serial adapters on Linux: which adapter sits behind a device node, and
// what its driver means for the barrier lines. The folders are parameters so
// that tests can give a tree in a temporary folder.

inline QString SerialByIdFolder()
{
    return QStringLiteral("/dev/serial/by-id");
}
inline QString SysfsFolder()
{
    return QStringLiteral("/sys");
}

// The name udev gave the adapter behind a device node in byIdFolder (maker,
// model and serial number, the same on every plug-in); empty if none.
QString AdapterOfDevice(const QString& devicePath, const QString& byIdFolder = SerialByIdFolder());
// The device node that adapter is at now; empty while it isn't plugged in.
QString DeviceOfAdapter(const QString& adapter, const QString& byIdFolder = SerialByIdFolder());
// The COM number whose device node has this node's name, 0 if none.
int ComNumberOfDevice(const QString& devicePath);

struct SerialAdapterFacts
{
    QString driver;               // "ftdi_sio", "cdc_acm", "cp210x" ...; empty when unknown
    std::optional<int> latencyMs; // the FTDI latency timer, where it can be read
    bool linesPolled = false;     // the driver can't wait for line changes
    // The line reading and the transition counters come from different
    // sources and may disagree for a moment: the counters decide.
    bool statesFromCounters = false;

    bool operator==(const SerialAdapterFacts&) const = default;
};

// What sysfs tells about the tty (its name without /dev/).
SerialAdapterFacts ReadAdapterFacts(const QString& ttyName, const QString& sysFolder = SysfsFolder());

using SysfsWriter = std::function<bool(const QString& path, const QByteArray& text)>;
bool WriteSysfsFile(const QString& path, const QByteArray& text);

// Brings an FTDI adapter's latency timer down to 1 ms where the system lets
// this program: first by writing the sysfs file (root, or a udev rule), else
// through setLowLatency (the driver's low-latency flag, TIOCSSERIAL on the
// open port). Returns the latency read back afterwards (the old one if
// nothing worked, nothing if it can't be read).
std::optional<int> LowerLatencyTimer(const QString& ttyName, const SysfsWriter& write,
                                     const std::function<bool()>& setLowLatency,
                                     const QString& sysFolder = SysfsFolder());

// The operator's notes about an adapter, in German; empty when all is well.
// All texts about adapters are here.
QStringList AdapterNotes(const SerialAdapterFacts& facts);
// The operator's note when the threads that take the barrier times could not
// get real-time priority, in German.
QString StampingPriorityNote();
