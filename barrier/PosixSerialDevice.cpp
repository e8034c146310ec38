#ifndef _WIN32

#include "PosixSerialDevice.h"

#include "LineSampler.h"
#include "SerialAdapters.h"
#include "TickSource.h"

#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <optional>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace {

struct LineBits
{
    std::uint32_t modemStatus;
    int tiocm;
    std::uint32_t event;
};

constexpr LineBits lines[] = {
    {MS_CTS_ON, TIOCM_CTS, EV_CTS},
    {MS_DSR_ON, TIOCM_DSR, EV_DSR},
    {MS_RLSD_ON, TIOCM_CD, EV_RLSD},
    {MS_RING_ON, TIOCM_RNG, EV_RING},
};

constexpr long linePollNanoseconds = 1'000'000;
constexpr long idlePollNanoseconds = 50'000'000;
// The watch looks this soon after the waiter went into its wait (an edge in
// the gap is then seen at once), and then every millisecond while it lasts.
constexpr auto firstWatch = std::chrono::microseconds(100);
constexpr auto watchPeriod = std::chrono::milliseconds(1);
// A reading is repeated while an edge came in during it or the clock moved
// before it had begun, but not for ever: a clock that never stands still
// through a reading gives up after coherentReadings, a contact that bounces
// on and on after bouncingReadings.
constexpr int coherentReadings = 8;
constexpr int bouncingReadings = 4 * coherentReadings;
// TIOCMIWAIT returns 0 only for a counted change; returns in a row that show
// none mean a device that went away (cdc_acm wakes its waiters like that).
constexpr int emptyWakesOfALostDevice = 2;

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

std::uint32_t Ticks()
{
    return TickSource().GetTickCount();
}

void IgnoreWakeSignal(int) {}

bool Unhandled(int signal)
{
    struct sigaction current
    {
    };
    return ::sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
           current.sa_handler == SIG_DFL;
}

int ChooseWakeSignal()
{
    // Away from both ends of the range, which other libraries take first.
    int chosen = SIGRTMIN + 4;
    for (int signal = SIGRTMIN + 4; signal <= SIGRTMAX - 4; ++signal) {
        if (Unhandled(signal)) {
            chosen = signal;
            break;
        }
    }
    // No SA_RESTART: the wait must end with EINTR.
    struct sigaction action
    {
    };
    action.sa_handler = IgnoreWakeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(chosen, &action, nullptr);
    return chosen;
}

// The opener's signal mask is inherited by the threads it starts; a wake
// signal blocked there would leave the waiter in its wait for good.
void UnblockWakeSignal()
{
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, SerialWakeSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
}

} // namespace

int SerialWakeSignal()
{
    static const int signal = ChooseWakeSignal();
    return signal;
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
    emptyWakes = 0;

    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return SystemError(SerialError::Kind::Open, errno);
    // Like an unshared Windows handle: no second program on the same line.
    ::ioctl(fd, TIOCEXCL);

    SerialError error = Configure(settings);
    std::uint32_t tick = 0;
    if (!error && !ReadLines(last, tick, error))
        error.kind = SerialError::Kind::Configure;
    if (error) {
        Close();
        return error;
    }
    PrepareAdapter(path);
    SerialWakeSignal();
    StartWatch();
    if (WatchPriority() != StampingPriority::RealTime)
        notes.push_back(StampingPriorityNote().toStdString());
    return {};
}

// USB adapters: an FTDI one reports the lines once per latency period, so
// that is brought down to 1 ms where the system allows it; what can't be
// mended becomes a note for the operator.
void PosixSerialDevice::PrepareAdapter(const std::string& path)
{
    const QString tty = QFileInfo(QFileInfo(QString::fromStdString(path)).canonicalFilePath()).fileName();
    SerialAdapterFacts facts = ReadAdapterFacts(tty, QString::fromStdString(sysFolder));
    if (facts.latencyMs && *facts.latencyMs > 1) {
        const int port = fd;
        facts.latencyMs = LowerLatencyTimer(
            tty, WriteSysfsFile,
            [port] {
                serial_struct info{};
                if (::ioctl(port, TIOCGSERIAL, &info) != 0)
                    return false;
                info.flags |= ASYNC_LOW_LATENCY;
                return ::ioctl(port, TIOCSSERIAL, &info) == 0;
            },
            QString::fromStdString(sysFolder));
    }
    statesFromCounters = facts.statesFromCounters;
    notes.clear();
    for (const QString& note : AdapterNotes(facts))
        notes.push_back(note.toStdString());
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

    // No CREAD: nothing is ever read, and ignored input can't fill a buffer.
    // No CRTSCTS: the kernel would drop RTS, which feeds the start contact,
    // whenever it thought the input buffer full; RTS is held up by hand below.
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CREAD);
    // CLOCAL: a carrier drop (RLSD is a barrier line) must not hang up the tty.
    tio.c_cflag |= SizeFlag(settings.dataBits) | CLOCAL;
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
    if (settings.flowControl == TFlowControl::fcXonXoff) {
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = 17;
        tio.c_cc[VSTOP] = 19;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return SystemError(SerialError::Kind::Configure, errno);

    // The barrier contacts are fed from DTR and RTS. With RTS/CTS flow control
    // chosen RTS is held asserted; without it RTS stays off.
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
    StopWatch();
    const int closing = fd.exchange(-1);
    if (closing < 0)
        return;
    ::tcflush(closing, TCIFLUSH);
    std::lock_guard lock(insideMutex);
    const int placeholder = waitersInside > 0 ? ::eventfd(0, EFD_CLOEXEC) : -1;
    if (placeholder >= 0 && ::dup2(placeholder, closing) == closing) {
        ::close(placeholder);
        placeholderFd = closing;
        return;
    }
    if (placeholder >= 0)
        ::close(placeholder);
    ::close(closing);
}

void PosixSerialDevice::SetDtr(bool on)
{
    if (fd < 0)
        return;
    int bits = TIOCM_DTR;
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

// False with error filled when the device failed; a driver that turns out
// to keep no counters is read without them from then on.
bool PosixSerialDevice::ReadCounters(ModemLineSnapshot::Counters& counters, SerialError& error)
{
    serial_icounter_struct read{};
    if (::ioctl(fd, TIOCGICOUNT, &read) == 0) {
        counters = {std::uint32_t(read.cts), std::uint32_t(read.dsr), std::uint32_t(read.dcd)};
        return true;
    }
    if (errno == ENOTTY || errno == EINVAL) {
        haveCounters = false;
        return true;
    }
    error = SystemError(SerialError::Kind::Lost, errno);
    return false;
}

// The lines, the counters and the tick of one moment. The counters read
// before and after the lines must agree (otherwise an edge came in between
// and the lines would not match the counters), and the clock must not have
// moved between the tick and the first counter read (without counters:
// across the line read, which on a USB adapter is a transfer of up to a
// millisecond), otherwise an edge during the reading would get a tick from
// before it. When the clock never stands still, the tick is taken after the
// last reading whose counters agree: late, never early.
bool PosixSerialDevice::ReadLines(ModemLineSnapshot& snapshot, std::uint32_t& tick, SerialError& error)
{
    for (int reading = 1;; ++reading) {
        tick = Ticks();
        ModemLineSnapshot::Counters before;
        const bool counted = haveCounters;
        if (counted && !ReadCounters(before, error))
            return false;
        bool clockStill = !counted || Ticks() == tick;
        int bits = 0;
        if (::ioctl(fd, TIOCMGET, &bits) != 0) {
            error = SystemError(SerialError::Kind::Lost, errno);
            return false;
        }
        if (!counted)
            clockStill = Ticks() == tick;
        snapshot.status = StatusFromTiocm(bits);
        snapshot.counters.reset();
        ModemLineSnapshot::Counters after;
        if (counted && !ReadCounters(after, error))
            return false;
        if (counted && haveCounters)
            snapshot.counters = after;
        const bool countersAgree = !snapshot.counters || before == after;
        if (clockStill && countersAgree)
            return true;
        // Lines read between counters that differ may be from before an
        // edge whose count is already there: a pulse, then an edge without a
        // count. So only a reading whose counters agree may end the retries,
        // unless the contact bounces on and on.
        if ((reading >= coherentReadings && countersAgree) || reading >= bouncingReadings) {
            tick = Ticks();
            return true;
        }
    }
}

void PosixSerialDevice::SleepOnePoll()
{
    const timespec pause{0, waitMask ? linePollNanoseconds : idlePollNanoseconds};
    // Cut short by the wake-up signal; the caller looks at the stop flag.
    ::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
}

// Returns on a change, on the wake signal (a stop request or the watch), or
// after one poll interval; Failed (lost filled) when the device failed.
PosixSerialDevice::WaitOutcome PosixSerialDevice::WaitForLineChange(SerialError& lost)
{
    if (pollLines) {
        SleepOnePoll();
        return WaitOutcome::Polled;
    }
    {
        std::lock_guard lock(watchMutex);
        watchReference = last;
        inWait = true;
        ++waitEntry;
    }
    watchWake.notify_all();
    const int result = ::ioctl(fd, TIOCMIWAIT, waitMask);
    const int code = result == 0 ? 0 : errno;
    {
        std::lock_guard lock(watchMutex);
        inWait = false;
    }
    if (code == ENOTTY || code == EINVAL) {
        // cp210x and others: no line-change wait, so poll the lines.
        pollLines = true;
        return WaitOutcome::Polled;
    }
    if (code == EINTR)
        return WaitOutcome::Interrupted;
    if (code != 0) {
        lost = SystemError(SerialError::Kind::Lost, code);
        return WaitOutcome::Failed;
    }
    return WaitOutcome::Reported;
}

SerialWaitResult PosixSerialDevice::Wait(std::vector<SerialEventBatch>& batches, SerialError& lost)
{
    {
        std::lock_guard lock(insideMutex);
        ++waitersInside;
    }
    const SerialWaitResult result = WaitInside(batches, lost);
    std::lock_guard lock(insideMutex);
    if (--waitersInside == 0 && placeholderFd >= 0) {
        ::close(placeholderFd);
        placeholderFd = -1;
    }
    return result;
}

SerialWaitResult PosixSerialDevice::WaitInside(std::vector<SerialEventBatch>& batches, SerialError& lost)
{
    if (!waiterKnown.load(std::memory_order_acquire)) {
        UnblockWakeSignal();
        waiter = ::pthread_self();
        waiterKnown.store(true, std::memory_order_release);
    }
    // The first round reads the lines at once: they may have changed since
    // the last call returned.
    std::optional<WaitOutcome> woken;
    while (!stopRequested) {
        if (woken) {
            woken = WaitForLineChange(lost);
            if (*woken == WaitOutcome::Failed)
                return SerialWaitResult::Lost;
        }
        if (stopRequested)
            break;
        std::uint32_t tick = 0;
        ModemLineSnapshot now;
        if (!ReadLines(now, tick, lost))
            return SerialWaitResult::Lost;
        if (statesFromCounters)
            now.status = StatusFromCounters(last, now);
        const bool reportedChange = woken == WaitOutcome::Reported;
        woken = WaitOutcome::Interrupted;
        if (now == last) {
            if (reportedChange && now.counters && ++emptyWakes >= emptyWakesOfALostDevice) {
                lost = SystemError(SerialError::Kind::Lost, ENODEV);
                return SerialWaitResult::Lost;
            }
            continue;
        }
        emptyWakes = 0;
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
        ::pthread_kill(waiter, SerialWakeSignal());
}

// The watch wakes the waiter for an edge the wait missed, so it is as much
// on the way to a stamp as the waiter: it asks for the same priority, and the
// opener learns what it got before the first edge can need it.
void PosixSerialDevice::StartWatch()
{
    StopWatch();
    {
        std::lock_guard lock(watchMutex);
        watchStop = false;
        watchPriority.reset();
    }
    watch = std::thread([this] {
        const StampingPriority priority = RaiseStampingPriority();
        {
            std::lock_guard lock(watchMutex);
            watchPriority = priority;
        }
        watchWake.notify_all();
        WatchLoop();
    });
    std::unique_lock lock(watchMutex);
    watchWake.wait(lock, [this] { return watchPriority.has_value(); });
}

StampingPriority PosixSerialDevice::WatchPriority()
{
    std::lock_guard lock(watchMutex);
    return watchPriority.value_or(StampingPriority::Normal);
}

void PosixSerialDevice::StopWatch()
{
    if (!watch.joinable())
        return;
    {
        std::lock_guard lock(watchMutex);
        watchStop = true;
    }
    watchWake.notify_all();
    watch.join();
}

PosixSerialDevice::WatchReading PosixSerialDevice::LinesSince(const ModemLineSnapshot& reference)
{
    if (reference.counters) {
        serial_icounter_struct counters{};
        if (::ioctl(fd, TIOCGICOUNT, &counters) != 0)
            return WatchReading::Failed;
        const ModemLineSnapshot::Counters now{std::uint32_t(counters.cts), std::uint32_t(counters.dsr),
                                              std::uint32_t(counters.dcd)};
        return now == *reference.counters ? WatchReading::Same : WatchReading::Moved;
    }
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0)
        return WatchReading::Failed;
    return StatusFromTiocm(bits) == reference.status ? WatchReading::Same : WatchReading::Moved;
}

void PosixSerialDevice::WatchLoop()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(watchMutex);
    std::uint64_t watchedEntry = 0;
    Clock::time_point next;
    while (!watchStop) {
        if (!inWait) {
            watchWake.wait(lock, [&] { return watchStop || inWait; });
            continue;
        }
        if (waitEntry != watchedEntry) {
            watchedEntry = waitEntry;
            next = Clock::now() + firstWatch;
        } else {
            next = std::max(next + watchPeriod, Clock::now());
        }
        watchWake.wait_until(lock, next, [&] { return watchStop || !inWait || waitEntry != watchedEntry; });
        if (watchStop || !inWait || waitEntry != watchedEntry)
            continue;
        const ModemLineSnapshot reference = watchReference;
        lock.unlock();
        const WatchReading reading = LinesSince(reference);
        lock.lock();
        // Still the same wait: the waiter can't leave it without this lock,
        // so the signal reaches a thread that is there. A signal that came
        // just before the waiter entered the ioctl is lost: it is sent again
        // a millisecond later while the lines still differ. A device that
        // can't be read any more wakes the waiter too, which then finds out.
        if (reading != WatchReading::Same && inWait && waitEntry == watchedEntry)
            ::pthread_kill(waiter, SerialWakeSignal());
    }
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
