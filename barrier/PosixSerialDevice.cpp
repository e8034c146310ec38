#ifndef _WIN32

#include "PosixSerialDevice.h"

#include "TickSource.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace {

struct LineBits
{
    std::uint32_t modemStatus;
    std::uint32_t event;
    int tiocm;
    std::uint32_t ModemLineSnapshot::Counters::*counter;
};

constexpr LineBits lines[] = {
    {MS_CTS_ON, EV_CTS, TIOCM_CTS, &ModemLineSnapshot::Counters::cts},
    {MS_DSR_ON, EV_DSR, TIOCM_DSR, &ModemLineSnapshot::Counters::dsr},
    {MS_RLSD_ON, EV_RLSD, TIOCM_CD, &ModemLineSnapshot::Counters::dcd},
    {MS_RING_ON, EV_RING, TIOCM_RNG, nullptr},
};

// Between two readings spaced this far apart input is thrown away, so that
// RTS (which feeds the start contact) never drops for a full input buffer.
constexpr unsigned pollsPerDrain = 500;
constexpr long linePollNanoseconds = 1'000'000;
constexpr long idlePollNanoseconds = 50'000'000;

SerialError SystemError(SerialError::Kind kind, int code)
{
    return {kind, code, std::generic_category().message(code)};
}

std::uint32_t StatusFromTiocm(int bits)
{
    std::uint32_t status = 0;
    for (const LineBits& line : lines) {
        if (bits & line.tiocm)
            status |= line.modemStatus;
    }
    return status;
}

std::optional<speed_t> SpeedFor(std::uint32_t baudRate)
{
    switch (baudRate) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return std::nullopt;
    }
}

tcflag_t SizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

void IgnoreWakeSignal(int) {}

// The wake-up signal must interrupt TIOCMIWAIT with EINTR, so no SA_RESTART.
void InstallWakeHandler()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action
        {
        };
        action.sa_handler = IgnoreWakeSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGUSR1, &action, nullptr);
    });
}

} // namespace

std::vector<SerialEventBatch> ExpandLineChanges(const ModemLineSnapshot& before,
                                                const ModemLineSnapshot& after, std::uint32_t eventMask)
{
    struct Transitions
    {
        const LineBits* line;
        unsigned count;
    };
    std::vector<Transitions> moved;
    unsigned steps = 0;
    for (const LineBits& line : lines) {
        if (!(eventMask & line.event))
            continue;
        const bool changed = ((before.status ^ after.status) & line.modemStatus) != 0;
        unsigned count = changed ? 1 : 0;
        if (line.counter && before.counters && after.counters) {
            const std::uint32_t counted = (*after.counters).*line.counter - (*before.counters).*line.counter;
            // Odd means the state changed; an even count with a changed state
            // (or the reverse) lost one transition between the two readings.
            const unsigned cap = changed ? 3 : 2;
            count = counted >= cap ? cap : unsigned(counted);
            if ((count % 2 == 1) != changed)
                ++count;
        }
        if (count > 0) {
            moved.push_back({&line, count});
            steps = std::max(steps, count);
        }
    }

    std::vector<SerialEventBatch> batches;
    // Each line's transitions are aligned to end on the last step, which then
    // shows the lines as read.
    for (unsigned step = 1; step <= steps; ++step) {
        SerialEventBatch batch;
        batch.modemStatus = after.status;
        for (const Transitions& t : moved) {
            const unsigned firstStep = steps - t.count + 1;
            const unsigned toggles = step >= firstStep ? step - firstStep + 1 : 0;
            const std::uint32_t bit = t.line->modemStatus;
            const std::uint32_t state = (before.status & bit) ^ (toggles % 2 ? bit : 0);
            batch.modemStatus = (batch.modemStatus & ~bit) | state;
            if (step >= firstStep)
                batch.events |= t.line->event;
        }
        batches.push_back(batch);
    }
    return batches;
}

PosixSerialDevice::~PosixSerialDevice()
{
    Close();
}

SerialError PosixSerialDevice::Open(const std::string& path, const SerialLineSettings& settings)
{
    Close();
    stopRequested = false;
    waiterKnown = false;
    pollLines = false;
    pollsSinceDrain = 0;

    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return SystemError(SerialError::Kind::Open, errno);
    // Like an unshared Windows handle: no second program on the same line.
    ::ioctl(fd, TIOCEXCL);

    SerialError error = Configure(settings);
    if (!error && !ReadLines(last, error))
        error.kind = SerialError::Kind::Configure;
    if (error) {
        Close();
        return error;
    }
    InstallWakeHandler();
    return {};
}

SerialError PosixSerialDevice::Configure(const SerialLineSettings& settings)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return SystemError(SerialError::Kind::Configure, errno);
    ::cfmakeraw(&tio);
    const std::optional<speed_t> speed = SpeedFor(settings.baudRate);
    if (!speed)
        return SystemError(SerialError::Kind::Configure, EINVAL);
    ::cfsetispeed(&tio, *speed);
    ::cfsetospeed(&tio, *speed);

    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // CLOCAL: a carrier drop (RLSD is a barrier line) must not hang up the tty.
    tio.c_cflag |= SizeFlag(settings.dataBits) | CREAD | CLOCAL;
    switch (settings.parity) {
    case TParity::prNone:
        break;
    case TParity::prOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case TParity::prEven:
        tio.c_cflag |= PARENB;
        break;
    case TParity::prMark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case TParity::prSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // Linux has no one and a half: with five data bits the UART makes two of it.
    if (settings.stopBits != TStopBits::sbOneStopBit)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    if (settings.flowControl == TFlowControl::fcRtsCts)
        tio.c_cflag |= CRTSCTS;
    if (settings.flowControl == TFlowControl::fcXonXoff) {
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = 17;
        tio.c_cc[VSTOP] = 19;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return SystemError(SerialError::Kind::Configure, errno);

    // The barrier contacts are fed from DTR and RTS; without flow control RTS stays off.
    int raise = 0;
    int lower = 0;
    (settings.enableDtr ? raise : lower) |= TIOCM_DTR;
    (settings.flowControl == TFlowControl::fcRtsCts ? raise : lower) |= TIOCM_RTS;
    if ((raise && ::ioctl(fd, TIOCMBIS, &raise) != 0) || (lower && ::ioctl(fd, TIOCMBIC, &lower) != 0))
        return SystemError(SerialError::Kind::Configure, errno);
    ::tcflush(fd, TCIFLUSH);

    eventMask = settings.eventMask;
    waitMask = 0;
    for (const LineBits& line : lines) {
        if (eventMask & line.event)
            waitMask |= line.tiocm;
    }

    serial_icounter_struct counters{};
    haveCounters = ::ioctl(fd, TIOCGICOUNT, &counters) == 0;
    return {};
}

void PosixSerialDevice::Close()
{
    if (fd < 0)
        return;
    ::tcflush(fd, TCIFLUSH);
    ::close(fd);
    fd = -1;
}

void PosixSerialDevice::SetDtr(bool on)
{
    if (fd < 0)
        return;
    int bits = TIOCM_DTR;
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

bool PosixSerialDevice::ReadLines(ModemLineSnapshot& snapshot, SerialError& error)
{
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) {
        error = SystemError(SerialError::Kind::Lost, errno);
        return false;
    }
    snapshot.status = StatusFromTiocm(bits);
    snapshot.counters.reset();
    if (haveCounters) {
        serial_icounter_struct counters{};
        if (::ioctl(fd, TIOCGICOUNT, &counters) == 0)
            snapshot.counters = ModemLineSnapshot::Counters{
                std::uint32_t(counters.cts), std::uint32_t(counters.dsr), std::uint32_t(counters.dcd)};
        else
            haveCounters = false;
    }
    return true;
}

// Returns false when the sleep was cut short by the wake-up signal.
bool PosixSerialDevice::SleepOnePoll()
{
    const timespec pause{0, waitMask ? linePollNanoseconds : idlePollNanoseconds};
    return ::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr) == 0;
}

void PosixSerialDevice::DrainInputNowAndThen()
{
    if (++pollsSinceDrain < pollsPerDrain)
        return;
    pollsSinceDrain = 0;
    ::tcflush(fd, TCIFLUSH);
}

SerialWaitResult PosixSerialDevice::Wait(std::vector<SerialEventBatch>& batches, SerialError& lost)
{
    if (!waiterKnown.load(std::memory_order_acquire)) {
        waiter = ::pthread_self();
        waiterKnown.store(true, std::memory_order_release);
    }
    bool blocked = false;
    while (!stopRequested) {
        DrainInputNowAndThen();
        if (blocked && !pollLines) {
            const int result = ::ioctl(fd, TIOCMIWAIT, waitMask);
            const int code = result == 0 ? 0 : errno;
            if (code == 0) {
                // Input that arrived meanwhile is of no use; don't let it throttle RTS.
                ::tcflush(fd, TCIFLUSH);
            } else if (code == ENOTTY || code == EINVAL) {
                pollLines = true;
            } else if (code != EINTR) {
                lost = SystemError(SerialError::Kind::Lost, code);
                return SerialWaitResult::Lost;
            } else if (stopRequested) {
                break;
            }
            // EINTR without a stop was a stray signal: look at the lines again
            // before waiting on, so nothing slips through.
        } else if (blocked) {
            SleepOnePoll();
            if (stopRequested)
                break;
        }
        // Read the clock before the lines: the tick belongs to the change.
        const std::uint32_t tick = TickSource().GetTickCount();
        ModemLineSnapshot now;
        if (!ReadLines(now, lost))
            return SerialWaitResult::Lost;
        // The first round checks for changes made while the previous batch
        // was being handled: TIOCMIWAIT only reports changes after it began.
        blocked = true;
        if (now == last)
            continue;
        std::vector<SerialEventBatch> expanded = ExpandLineChanges(last, now, eventMask);
        last = now;
        if (expanded.empty())
            continue;
        for (SerialEventBatch& batch : expanded) {
            batch.tick = tick;
            batches.push_back(batch);
        }
        return SerialWaitResult::Changed;
    }
    return SerialWaitResult::Stopped;
}

void PosixSerialDevice::RequestStop()
{
    stopRequested = true;
    if (waiterKnown.load(std::memory_order_acquire))
        ::pthread_kill(waiter, SIGUSR1);
}

std::uint32_t PosixSerialDevice::ModemStatus()
{
    int bits = 0;
    if (fd < 0 || ::ioctl(fd, TIOCMGET, &bits) != 0)
        return 0;
    return StatusFromTiocm(bits);
}

int PosixSerialDevice::InputCount()
{
    int count = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &count) != 0)
        return 0;
    return count;
}

std::unique_ptr<ISerialDevice> CreateSystemSerialDevice()
{
    return std::make_unique<PosixSerialDevice>();
}

#endif
