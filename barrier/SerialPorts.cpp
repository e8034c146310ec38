#include "SerialPorts.h"

#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString PortDeviceName(int comNumber)
{
    if (comNumber < 1 || comNumber > MaxComPort)
        return {};
#ifdef _WIN32
    return QStringLiteral("\\\\.\\COM%1").arg(comNumber);
#else
    if (comNumber <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(comNumber - 1);
    if (comNumber <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(comNumber - 5);
    return QStringLiteral("/dev/ttyACM%1").arg(comNumber - 13);
#endif
}

std::uint32_t ComputePortsFound(const QList<int>& presentPorts)
{
    std::uint32_t result = 0;
    for (int n = 1; n <= MaxComPort; ++n) {
        if (presentPorts.contains(n))
            result = (1u << (n - 1)) | (result & 0xFFFFu) | (std::uint32_t(n) << 16);
    }
    return result;
}

std::uint32_t ScanPorts(const IPortProbe& probe)
{
    QList<int> present;
    for (int n = 1; n <= MaxComPort; ++n) {
        if (probe.IsPresent(n))
            present.append(n);
    }
    return ComputePortsFound(present);
}

std::uint32_t ScanPorts()
{
    return ScanPorts(SystemPortProbe());
}

#ifdef _WIN32

bool SystemPortProbe::IsPresent(int comNumber) const
{
    const QByteArray name = PortDeviceName(comNumber).toLatin1();
    if (name.isEmpty())
        return false;
    HANDLE handle = CreateFileA(name.constData(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool isChar = GetFileType(handle) == FILE_TYPE_CHAR;
    CloseHandle(handle);
    return isChar;
}

#else

namespace {

// serial_core publishes the UART type of each ttyS line; 0 is PORT_UNKNOWN,
// a line the 8250 driver reserved without finding hardware.
std::optional<int> SysfsUartType(const QString& ttyName)
{
    QFile file(QStringLiteral("/sys/class/tty/%1/type").arg(ttyName));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int type = file.readAll().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return type;
}

// Without sysfs: ask the driver. O_NONBLOCK keeps the open from waiting for
// carrier; nothing is configured or sent.
bool UartPresentByIoctl(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

// The open fails with EBUSY while another program holds the line with
// TIOCEXCL. O_NONBLOCK keeps the open from waiting for carrier.
bool HeldExclusively(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    return fd < 0 && errno == EBUSY;
}

} // namespace

bool SystemPortProbe::IsPresent(int comNumber) const
{
    const QString path = PortDeviceName(comNumber);
    if (path.isEmpty())
        return false;
    struct stat node
    {
    };
    if (::stat(path.toLocal8Bit().constData(), &node) != 0 || !S_ISCHR(node.st_mode))
        return false;
    if (path.startsWith(QLatin1String("/dev/ttyS"))) {
        const QString ttyName = QFileInfo(path).fileName();
        if (const std::optional<int> type = SysfsUartType(ttyName))
            return *type != PORT_UNKNOWN;
        return UartPresentByIoctl(path);
    }
    // USB and ACM nodes exist only while their device is plugged in. An
    // adapter another program holds exclusively (as this one does) is not
    // offered. (Built-in ports are not opened here: one may be a console.)
    return !HeldExclusively(path);
}

#endif

QString PortAccessProblem(int comNumber)
{
#ifdef _WIN32
    Q_UNUSED(comNumber);
    return {}; // Windows has no device permissions that keep a user from a port
#else
    const QString device = PortDeviceName(comNumber);
    if (device.isEmpty())
        return {};
    const QByteArray path = QFile::encodeName(device);
    if (::access(path.constData(), R_OK | W_OK) == 0)
        return {};
    return errno == EACCES || errno == EPERM ? NoPortPermissionText : QString();
#endif
}

QString PortOpenFaultText(const SerialError& error)
{
    if (error.kind == SerialError::Kind::Configure)
        return QStringLiteral("die Schnittstelle nimmt die Einstellungen nicht an (%1)")
            .arg(QString::fromStdString(error.text));
#ifdef _WIN32
    switch (error.code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("Anschluss nicht gefunden – Adapter eingesteckt?");
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return QStringLiteral("von einem anderen Programm belegt");
    default:
        break;
    }
#else
    switch (error.code) {
    case EACCES:
    case EPERM:
        return NoPortPermissionHint;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("Anschluss nicht gefunden – Adapter eingesteckt?");
    case EBUSY:
        return QStringLiteral("von einem anderen Programm belegt");
    default:
        break;
    }
#endif
    return error.text.empty() ? QStringLiteral("Fehler %1").arg(error.code)
                              : QString::fromStdString(error.text);
}
