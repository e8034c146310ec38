#include "ScriptedSerialLine.h"

#include "PosixSerialDevice.h"
#include "TComPort.h"

#include <QString>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/serial.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<ScriptedSerialLine*> current{nullptr};

constexpr int modemInputs = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;

} // namespace

extern "C" {
int __real_ioctl(int fd, unsigned long request, ...);
int __real_tcgetattr(int fd, termios* tio);
int __real_tcsetattr(int fd, int when, const termios* tio);
int __real_tcflush(int fd, int queue);
int __real_pthread_kill(pthread_t thread, int signal);

int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (ScriptedSerialLine::Handles(fd))
        return ScriptedSerialLine::Ioctl(fd, request, argument);
    return __real_ioctl(fd, request, argument);
}

int __wrap_tcgetattr(int fd, termios* tio)
{
    return ScriptedSerialLine::Handles(fd) ? ScriptedSerialLine::GetAttr(fd, tio) : __real_tcgetattr(fd, tio);
}

int __wrap_tcsetattr(int fd, int when, const termios* tio)
{
    return ScriptedSerialLine::Handles(fd) ? ScriptedSerialLine::SetAttr(fd, tio)
                                           : __real_tcsetattr(fd, when, tio);
}

int __wrap_tcflush(int fd, int queue)
{
    return ScriptedSerialLine::Handles(fd) ? 0 : __real_tcflush(fd, queue);
}

int __wrap_pthread_kill(pthread_t thread, int signal)
{
    ScriptedSerialLine::SignalSent(thread, signal);
    return __real_pthread_kill(thread, signal);
}
}

ScriptedSerialLine::ScriptedSerialLine()
{
    char pattern[] = "/tmp/qx-scripted-line-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("no temporary folder for the scripted line");
    folder = pattern;
    path = folder + "/ttyScripted";
    const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    struct stat node
    {
    };
    ::fstat(fd, &node);
    ::close(fd);
    device = node.st_dev;
    inode = node.st_ino;
    // What a tty starts with: the device must clear handshake and input.
    tio.c_cflag = B38400 | CS8 | CREAD | HUPCL | CRTSCTS;
    current.store(this);
}

ScriptedSerialLine::~ScriptedSerialLine()
{
    {
        std::unique_lock lock(mutex);
        failure = EIO;
        unplug = Unplug::WaitFails;
        staleReads = 0;
        ending = true;
        changed.notify_all();
        changed.wait(lock, [this] { return !waiting; });
    }
    current.store(nullptr);
    ::unlink(path.c_str());
    ::rmdir(folder.c_str());
}

bool ScriptedSerialLine::Handles(int fd)
{
    const ScriptedSerialLine* line = current.load();
    struct stat node
    {
    };
    return line && fd >= 0 && ::fstat(fd, &node) == 0 && node.st_dev == line->device &&
           node.st_ino == line->inode;
}

void ScriptedSerialLine::SetCounters(bool available)
{
    std::lock_guard lock(mutex);
    counted = available;
}

void ScriptedSerialLine::SetWaitSupported(bool supported)
{
    std::lock_guard lock(mutex);
    waitSupported = supported;
}

ScriptedSerialLine::Clock::time_point ScriptedSerialLine::Change(int which, int toggles)
{
    std::unique_lock lock(mutex);
    const std::pair<int, std::uint32_t Counters::*> bits[] = {{TIOCM_CTS, &Counters::cts},
                                                              {TIOCM_DSR, &Counters::dsr},
                                                              {TIOCM_CD, &Counters::dcd},
                                                              {TIOCM_RNG, &Counters::rng}};
    for (int i = 0; i < toggles; ++i) {
        for (const auto& [bit, counter] : bits) {
            if (which & bit) {
                lines ^= bit;
                if (countersFollowLines)
                    ++(counters.*counter);
            }
        }
    }
    const Clock::time_point now = Clock::now();
    if (tracing && traces.size() < traces.capacity())
        traces.push_back({now, {}, {}, {}, -1});
    changed.notify_all();
    return now;
}

void ScriptedSerialLine::StartTrace(std::size_t capacity)
{
    std::vector<ChangeTrace> room;
    room.reserve(capacity);
    std::lock_guard lock(mutex);
    traces = std::move(room);
    tracesRead = 0;
    tracesSignalled = 0;
    tracing = true;
}

std::vector<ScriptedSerialLine::ChangeTrace> ScriptedSerialLine::TakeTrace()
{
    std::lock_guard lock(mutex);
    tracing = false;
    return std::move(traces);
}

// Called with the lock held on a line or counter reading.
void ScriptedSerialLine::TraceRead()
{
    if (!tracing || !monitorKnown || !::pthread_equal(::pthread_self(), monitor))
        return;
    const Clock::time_point now = Clock::now();
    const int cpu = ::sched_getcpu();
    for (; tracesRead < traces.size(); ++tracesRead) {
        traces[tracesRead].read = now;
        traces[tracesRead].readOnCpu = cpu;
    }
}

ScriptedSerialLine::Clock::time_point ScriptedSerialLine::Set(int which, bool on)
{
    int differing = 0;
    {
        std::lock_guard lock(mutex);
        differing = (on ? ~lines : lines) & which & modemInputs;
    }
    return Change(differing, 1);
}

ScriptedSerialLine::Clock::time_point ScriptedSerialLine::Toggle(int which)
{
    return Change(which & modemInputs, 1);
}

ScriptedSerialLine::Clock::time_point ScriptedSerialLine::Pulse(int which)
{
    return Change(which & modemInputs, 2);
}

void ScriptedSerialLine::SetCountersFollowLines(bool follow)
{
    std::lock_guard lock(mutex);
    countersFollowLines = follow;
}

ScriptedSerialLine::Clock::time_point ScriptedSerialLine::Count(int which)
{
    std::lock_guard lock(mutex);
    counters.cts += (which & TIOCM_CTS) ? 1 : 0;
    counters.dsr += (which & TIOCM_DSR) ? 1 : 0;
    counters.dcd += (which & TIOCM_CD) ? 1 : 0;
    counters.rng += (which & TIOCM_RNG) ? 1 : 0;
    const Clock::time_point now = Clock::now();
    changed.notify_all();
    return now;
}

void ScriptedSerialLine::SetWaitDeaf(bool deaf)
{
    std::lock_guard lock(mutex);
    waitDeaf = deaf;
}

void ScriptedSerialLine::AtNextWaitEntry(std::function<void()> action)
{
    std::lock_guard lock(mutex);
    atWaitEntry = std::move(action);
}

void ScriptedSerialLine::AfterNextLineRead(std::function<void()> action)
{
    std::lock_guard lock(mutex);
    afterLineRead = std::move(action);
}

void ScriptedSerialLine::Fail(int error, Unplug how, int stale)
{
    std::lock_guard lock(mutex);
    failure = error;
    unplug = how;
    staleReads = stale;
    changed.notify_all();
}

bool ScriptedSerialLine::WaitForWaiter(int milliseconds)
{
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] {
        return waiting && !interrupted && !MovedOn(waitStart, counters, waitMask);
    });
}

pthread_t ScriptedSerialLine::WaiterThread() const
{
    std::lock_guard lock(mutex);
    return waiter;
}

int ScriptedSerialLine::WaitEntries() const
{
    std::lock_guard lock(mutex);
    return waitEntries;
}

bool ScriptedSerialLine::WaitForLineReads(int count, int milliseconds)
{
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this, count] { return lineReads >= count; });
}

int ScriptedSerialLine::LineReads() const
{
    std::lock_guard lock(mutex);
    return lineReads;
}

termios ScriptedSerialLine::Termios() const
{
    std::lock_guard lock(mutex);
    return tio;
}

int ScriptedSerialLine::OutputLines() const
{
    std::lock_guard lock(mutex);
    return outputs;
}

bool ScriptedSerialLine::Exclusive() const
{
    std::lock_guard lock(mutex);
    return exclusive;
}

bool ScriptedSerialLine::MovedOn(const Counters& from, const Counters& to, int mask)
{
    return ((mask & TIOCM_CTS) && from.cts != to.cts) || ((mask & TIOCM_DSR) && from.dsr != to.dsr) ||
           ((mask & TIOCM_CD) && from.dcd != to.dcd) || ((mask & TIOCM_RNG) && from.rng != to.rng);
}

int ScriptedSerialLine::Ioctl(int, unsigned long request, void* argument)
{
    ScriptedSerialLine* line = current.load();
    const int result = line->Answer(request, argument);
    if (result > 0) {
        errno = result;
        return -1;
    }
    return 0;
}

// 0, or the errno of the failure.
int ScriptedSerialLine::Answer(unsigned long request, void* argument)
{
    std::unique_lock lock(mutex);
    if (failure) {
        const bool read = request == TIOCMGET || request == TIOCGICOUNT;
        if (read && staleReads > 0)
            --staleReads;
        else if (request == TIOCMIWAIT && unplug == Unplug::WaitReturnsZero)
            return 0;
        else
            return failure;
    }
    switch (request) {
    case TIOCEXCL:
        exclusive = true;
        return 0;
    case TIOCMGET:
        *static_cast<int*>(argument) = lines | outputs;
        ++lineReads;
        TraceRead();
        changed.notify_all();
        if (afterLineRead) {
            const std::function<void()> action = std::move(afterLineRead);
            afterLineRead = nullptr;
            lock.unlock();
            action();
        }
        return 0;
    case TIOCMBIS:
        outputs |= *static_cast<int*>(argument) & (TIOCM_DTR | TIOCM_RTS);
        return 0;
    case TIOCMBIC:
        outputs &= ~*static_cast<int*>(argument);
        return 0;
    case FIONREAD:
        *static_cast<int*>(argument) = 0;
        return 0;
    case TIOCGICOUNT: {
        if (!counted)
            return ENOTTY;
        auto* out = static_cast<serial_icounter_struct*>(argument);
        *out = {};
        out->cts = int(counters.cts);
        out->dsr = int(counters.dsr);
        out->dcd = int(counters.dcd);
        out->rng = int(counters.rng);
        TraceRead();
        return 0;
    }
    case TIOCMIWAIT:
        monitor = ::pthread_self();
        monitorKnown = true;
        if (!waitSupported)
            return ENOTTY;
        // The mask comes by value.
        return WaitForChange(lock, int(reinterpret_cast<std::intptr_t>(argument)));
    default:
        return ENOTTY;
    }
}

int ScriptedSerialLine::WaitForChange(std::unique_lock<TInheritingMutex>& lock, int mask)
{
    if (atWaitEntry) {
        const std::function<void()> action = std::move(atWaitEntry);
        atWaitEntry = nullptr;
        lock.unlock();
        action();
        lock.lock();
    }
    waitStart = counters;
    const std::size_t tracedBefore = traces.size();
    waitMask = mask;
    waiter = ::pthread_self();
    ::pthread_sigmask(SIG_BLOCK, nullptr, &waiterMask);
    waiting = true;
    interrupted = false;
    ++waitEntries;
    changed.notify_all();
    const auto gone = [this] { return failure && unplug != Unplug::WaitSleeps; };
    changed.wait(lock, [&] {
        return gone() || (interrupted && !waitDeaf) || MovedOn(waitStart, counters, mask) || ending;
    });
    waiting = false;
    if (tracing) {
        const Clock::time_point now = Clock::now();
        for (std::size_t i = tracedBefore; i < traces.size(); ++i) {
            if (traces[i].waitReturned == Clock::time_point{})
                traces[i].waitReturned = now;
        }
    }
    const bool wasInterrupted = interrupted && !waitDeaf;
    interrupted = false;
    changed.notify_all();
    if (ending)
        return EIO;
    if (gone())
        return unplug == Unplug::WaitReturnsZero ? 0 : failure;
    return wasInterrupted ? EINTR : 0;
}

int ScriptedSerialLine::GetAttr(int, termios* out)
{
    ScriptedSerialLine* line = current.load();
    std::lock_guard lock(line->mutex);
    if (line->failure) {
        errno = line->failure;
        return -1;
    }
    *out = line->tio;
    return 0;
}

int ScriptedSerialLine::SetAttr(int, const termios* in)
{
    ScriptedSerialLine* line = current.load();
    std::lock_guard lock(line->mutex);
    if (line->failure) {
        errno = line->failure;
        return -1;
    }
    line->tio = *in;
    return 0;
}

void ScriptedSerialLine::SignalSent(pthread_t thread, int signal)
{
    ScriptedSerialLine* line = current.load();
    if (!line)
        return;
    std::lock_guard lock(line->mutex);
    // Like the kernel: a signal the thread blocks stays pending and does not end its wait.
    if (line->waiting && ::pthread_equal(thread, line->waiter) && !sigismember(&line->waiterMask, signal)) {
        line->interrupted = true;
        if (line->tracing) {
            const Clock::time_point now = Clock::now();
            // Only for changes the monitor has not read yet: a later signal woke it for something else.
            for (; line->tracesSignalled < line->traces.size(); ++line->tracesSignalled) {
                if (line->traces[line->tracesSignalled].read == Clock::time_point{})
                    line->traces[line->tracesSignalled].signalled = now;
            }
        }
        line->changed.notify_all();
    }
}

void OpenBarrierPort(TComPort& port, const ScriptedSerialLine& line)
{
    port.SetDevicePath(QString::fromStdString(line.Path()));
    port.SetFlowControl(TFlowControl::fcRtsCts);
    port.SetDataBits(5);
    port.SetEvents({TEvent::evCTS, TEvent::evDSR, TEvent::evRLSD});
    port.Open();
}

SignalStorm::SignalStorm(std::function<pthread_t()> target, std::chrono::microseconds period)
{
    thread = std::thread([this, target, period] {
        std::unique_lock lock(mutex);
        while (!stop.wait_for(lock, period, [this] { return stopping; })) {
            const pthread_t victim = target();
            if (victim != pthread_t{})
                ::pthread_kill(victim, SerialWakeSignal());
        }
    });
}

SignalStorm::~SignalStorm()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    stop.notify_all();
    thread.join();
}
