#ifndef _WIN32

#include "PosixSerialDevice.h"

#include "LineSampler.h"
#include "SerialAdapters.h"
#include "TickSource.h"

#include <QFileInfo>

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
// the gap is then seen at once), and then every millisecond until the wait
// has surely begun.
constexpr auto firstWatch = std::chrono::microseconds(100);
constexpr auto watchPeriod = std::chrono::milliseconds(1);
// Counters read before and after the lines that differ mean an edge came in
// between; the reading is repeated, but not for ever on a bouncing contact.
constexpr int coherentReadings = 8;

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

std::optional<ModemLineSnapshot::Counters> ReadCounters(int fd)
{
    serial_icounter_struct counters{};
    if (::ioctl(fd, TIOCGICOUNT, &counters) != 0)
        return std::nullopt;
    return ModemLineSnapshot::Counters{std::uint32_t(counters.cts), std::uint32_t(counters.dsr),
                                       std::uint32_t(counters.dcd)};
}

// Whether a thread of this process is asleep ("S" in its /proc stat): for the
// waiter that means inside its wait. False when it can't be told.
bool ThreadSleeps(pid_t thread)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", int(thread));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[256];
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length <= 0)
        return false;
    text[length] = '\0';
    // "tid (name) S ...": the name may hold anything, so take the last ')'.
    const char* end = std::strrchr(text, ')');
    return end && end[1] == ' ' && end[2] == 'S';
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
    PrepareAdapter(path);
    InstallWakeHandler();
    StartWatch();
    return {};
}

// USB adapters: an FTDI one reports the lines once per latency period, so
// that is brought down to 1 ms where the system allows it; what can't be
// mended becomes a note for the operator.
void PosixSerialDevice::PrepareAdapter(const std::string& path)
{
    const QString tty = QFileInfo(QFileInfo(QString::fromStdString(path)).canonicalFilePath()).fileName();
    SerialAdapterFacts facts = ReadAdapterFacts(tty);
    if (facts.latencyMs && *facts.latencyMs > 1) {
        const int port = fd;
        facts.latencyMs = LowerLatencyTimer(tty, WriteSysfsFile, [port] {
            serial_struct info{};
            if (::ioctl(port, TIOCGSERIAL, &info) != 0)
                return false;
            info.flags |= ASYNC_LOW_LATENCY;
            return ::ioctl(port, TIOCSSERIAL, &info) == 0;
        });
    }
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
    haveCounters = ReadCounters(fd).has_value();
    return {};
}

void PosixSerialDevice::Close()
{
    StopWatch();
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

// The lines and the counters of one moment: counters read before and after
// the lines must agree, otherwise an edge came in between and the lines would
// not match the counters.
bool PosixSerialDevice::ReadLines(ModemLineSnapshot& snapshot, SerialError& error)
{
    for (int reading = 1;; ++reading) {
        const std::optional<ModemLineSnapshot::Counters> before =
            haveCounters ? ReadCounters(fd) : std::nullopt;
        int bits = 0;
        if (::ioctl(fd, TIOCMGET, &bits) != 0) {
            error = SystemError(SerialError::Kind::Lost, errno);
            return false;
        }
        snapshot.status = StatusFromTiocm(bits);
        snapshot.counters.reset();
        if (!haveCounters)
            return true;
        const std::optional<ModemLineSnapshot::Counters> after = ReadCounters(fd);
        if (!before || !after) {
            haveCounters = false;
            return true;
        }
        snapshot.counters = after;
        if (*before == *after || reading >= coherentReadings)
            return true;
    }
}

void PosixSerialDevice::SleepOnePoll()
{
    const timespec pause{0, waitMask ? linePollNanoseconds : idlePollNanoseconds};
    // Cut short by the wake-up signal; the caller looks at the stop flag.
    ::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
}

// False when the device failed (lost filled). Returns on a change, on a
// signal (a stop request or the watch), or after one poll interval.
bool PosixSerialDevice::WaitForLineChange(SerialError& lost)
{
    if (pollLines) {
        SleepOnePoll();
        return true;
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
        return true;
    }
    if (code != 0 && code != EINTR) {
        lost = SystemError(SerialError::Kind::Lost, code);
        return false;
    }
    return true;
}

SerialWaitResult PosixSerialDevice::Wait(std::vector<SerialEventBatch>& batches, SerialError& lost)
{
    if (!waiterKnown.load(std::memory_order_acquire)) {
        waiter = ::pthread_self();
        {
            std::lock_guard lock(watchMutex);
            waiterTid = ::gettid();
        }
        waiterKnown.store(true, std::memory_order_release);
    }
    // The first round reads the lines at once: they may have changed since
    // the last call returned.
    bool read = false;
    while (!stopRequested) {
        if (read && !WaitForLineChange(lost))
            return SerialWaitResult::Lost;
        if (stopRequested)
            break;
        // Read the clock before the lines: the tick belongs to the change.
        const std::uint32_t tick = TickSource().GetTickCount();
        ModemLineSnapshot now;
        if (!ReadLines(now, lost))
            return SerialWaitResult::Lost;
        read = true;
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

void PosixSerialDevice::StartWatch()
{
    StopWatch();
    watchStop = false;
    watch = std::thread([this] {
        RaiseStampingPriority();
        WatchLoop();
    });
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

bool PosixSerialDevice::LinesMovedSince(const ModemLineSnapshot& reference)
{
    if (reference.counters) {
        const std::optional<ModemLineSnapshot::Counters> counters = ReadCounters(fd);
        return counters && *counters != *reference.counters;
    }
    int bits = 0;
    return ::ioctl(fd, TIOCMGET, &bits) == 0 && StatusFromTiocm(bits) != reference.status;
}

void PosixSerialDevice::WatchLoop()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(watchMutex);
    std::uint64_t watchedEntry = 0;
    bool settled = false; // the watched wait has begun and wakes by itself
    Clock::time_point next;
    while (!watchStop) {
        if (!inWait || (waitEntry == watchedEntry && settled)) {
            watchWake.wait(lock, [&] { return watchStop || (inWait && waitEntry != watchedEntry); });
            continue;
        }
        if (waitEntry != watchedEntry) {
            watchedEntry = waitEntry;
            settled = false;
            next = Clock::now() + firstWatch;
        } else {
            next = std::max(next + watchPeriod, Clock::now());
        }
        watchWake.wait_until(lock, next, [&] { return watchStop || !inWait || waitEntry != watchedEntry; });
        if (watchStop || !inWait || waitEntry != watchedEntry)
            continue;
        const ModemLineSnapshot reference = watchReference;
        const pid_t thread = waiterTid;
        lock.unlock();
        // In this order: once the waiter sleeps, its wait has read its own
        // counters; if ours still match its last reading after that, nothing
        // came in the gap.
        const bool asleep = ThreadSleeps(thread);
        const bool moved = LinesMovedSince(reference);
        lock.lock();
        if (!inWait || waitEntry != watchedEntry)
            continue;
        // Still the same wait: the waiter can't leave it without this lock,
        // so the signal reaches a thread that is there. A signal that came
        // just before the waiter entered the ioctl is lost: it is sent again
        // a millisecond later while the lines still differ.
        if (moved)
            ::pthread_kill(waiter, SIGUSR1);
        else if (asleep)
            settled = true;
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
