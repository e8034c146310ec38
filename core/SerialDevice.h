#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Line settings and event vocabulary of a serial port. The constants keep the
// Win32 names and values; the guards let this header sit beside <windows.h>.
#ifndef EV_RXCHAR
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
#endif
#ifndef EV_RXFLAG
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
#endif
#ifndef EV_TXEMPTY
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
#endif
#ifndef EV_CTS
inline constexpr std::uint32_t EV_CTS = 0x0008;
#endif
#ifndef EV_DSR
inline constexpr std::uint32_t EV_DSR = 0x0010;
#endif
#ifndef EV_RLSD
inline constexpr std::uint32_t EV_RLSD = 0x0020;
#endif
#ifndef EV_BREAK
inline constexpr std::uint32_t EV_BREAK = 0x0040;
#endif
#ifndef EV_ERR
inline constexpr std::uint32_t EV_ERR = 0x0080;
#endif
#ifndef EV_RING
inline constexpr std::uint32_t EV_RING = 0x0100;
#endif

#ifndef MS_CTS_ON
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
#endif
#ifndef MS_DSR_ON
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
#endif
#ifndef MS_RING_ON
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
#endif
#ifndef MS_RLSD_ON
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;
#endif

enum class TBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brUser
};

// Device values 0 to 4 in this order.
enum class TParity { prNone, prOdd, prEven, prMark, prSpace };
// Device values 0, 1, 2: one, one and a half, two stop bits.
enum class TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum class TFlowControl { fcNone, fcRtsCts, fcXonXoff };

struct SerialLineSettings
{
    std::uint32_t baudRate = 9600;
    int dataBits = 8;
    TParity parity = TParity::prNone;
    TStopBits stopBits = TStopBits::sbOneStopBit;
    TFlowControl flowControl = TFlowControl::fcNone;
    bool enableDtr = true;
    int readBufSize = 2048;
    int writeBufSize = 2048;
    // EV_* bits of the events to report.
    std::uint32_t eventMask = EV_CTS | EV_DSR | EV_RLSD;
};

// A failure as the system reported it: its error code and its own text for it.
struct SerialError
{
    enum class Kind {
        None,
        Open,      // the device could not be opened
        Configure, // it opened but refused the line settings
        Lost       // it went away (or failed) while open
    };
    Kind kind = Kind::None;
    int code = 0;
    std::string text;

    explicit operator bool() const { return kind != Kind::None; }
};

// One set of events seen together, with the line states belonging to it.
struct SerialEventBatch
{
    std::uint32_t events = 0;      // EV_* bits
    std::uint32_t modemStatus = 0; // MS_* bits right after the change
    // Tick of the change when the device measured it itself; otherwise the
    // monitor thread stamps the batch as soon as the wait returns.
    std::optional<std::uint32_t> tick;
};

enum class SerialWaitResult { Changed, Stopped, Lost };

// An open-able serial device as the monitor needs it. Open, Close, SetDtr,
// ModemStatus and InputCount are called on the GUI thread; Wait on the monitor
// thread; RequestStop from the GUI thread while Wait may be blocked.
class ISerialDevice
{
public:
    virtual ~ISerialDevice() = default;

    // Opens and configures; on failure the device is closed again and the
    // error says which of the two steps failed.
    virtual SerialError Open(const std::string& path, const SerialLineSettings& settings) = 0;
    virtual void Close() = 0;
    virtual void SetDtr(bool on) = 0;

    // Blocks until a line change (appends one or more batches, oldest first),
    // a stop request, or the loss of the device (fills lost).
    virtual SerialWaitResult Wait(std::vector<SerialEventBatch>& batches, SerialError& lost) = 0;
    // Makes the current and every later Wait return Stopped. Safe to repeat:
    // the closer calls it until the monitor thread has ended, because a wake-up
    // sent just before the thread blocks can be lost. Open clears it.
    virtual void RequestStop() = 0;

    // MS_* bits of the input lines now.
    virtual std::uint32_t ModemStatus() = 0;
    // Bytes waiting in the input queue.
    virtual int InputCount() = 0;
    // What the operator should know about the open device (UTF-8, German),
    // for example a USB adapter that can't report the lines to the millisecond.
    virtual std::vector<std::string> Notes() const { return {}; }
};

using SerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;

// The platform's device: POSIX termios on Linux, Win32 communications on Windows.
std::unique_ptr<ISerialDevice> CreateSystemSerialDevice();
