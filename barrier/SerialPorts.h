#pragma once

#include "SerialDevice.h"

#include <QList>
#include <QString>

#include <cstdint>

inline constexpr int MaxComPort = 16;

// The device a COM number opens. On Linux COM1-COM4 are /dev/ttyS0-3,
// COM5-COM12 /dev/ttyUSB0-7 and COM13-COM16 /dev/ttyACM0-3; on Windows
// COMn is \\.\COMn. Empty for numbers outside 1..16.
QString PortDeviceName(int comNumber);

// PortsFound of a scan: bit n-1 for each present COMn (1..16), the highest
// present number in the high 16 bits. Numbers outside 1..16 are ignored.
std::uint32_t ComputePortsFound(const QList<int>& presentPorts);

// Tells whether a COM number has a device behind it.
class IPortProbe
{
public:
    virtual ~IPortProbe() = default;
    virtual bool IsPresent(int comNumber) const = 0;
};

// Linux: a character device node whose tty has hardware behind it (a ttyS
// node of a UART that isn't there is not a port); a USB adapter that another
// program holds exclusively is not offered. Windows: the port opens
// and is a character device; a port another program holds is not listed.
class SystemPortProbe : public IPortProbe
{
public:
    bool IsPresent(int comNumber) const override;
};

// What keeps this user from opening a COM number's device, in a few words
// for the port list ("keine Berechtigung"); empty when nothing is known to.
QString PortAccessProblem(int comNumber);
inline const QString NoPortPermissionText = QStringLiteral("keine Berechtigung");
// What the operator can do about it.
inline const QString NoPortPermissionHint =
    QStringLiteral("keine Berechtigung – Benutzer zur Gruppe dialout hinzufügen");

// Why a port did not open, in German, with what to do where that is known.
QString PortOpenFaultText(const SerialError& error);

std::uint32_t ScanPorts(const IPortProbe& probe);
std::uint32_t ScanPorts();
