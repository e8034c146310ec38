#pragma once

#include "InheritingMutex.h"

#include <pthread.h>
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A tty with modem lines behind the system calls of the real POSIX serial
// device. The executable is linked with
//   -Wl,--wrap=ioctl,--wrap=tcgetattr,--wrap=tcsetattr,--wrap=tcflush,--wrap=pthread_kill
// (see QX_SCRIPTED_LINE_LINK_OPTIONS); calls on the file the line stands for
// are answered here like a driver would, every other call goes to the system.
//
// Like the kernel's TIOCMIWAIT, a wait compares against the counters it reads
// when it begins, and only a signal sent while the thread is inside the wait
// ends it with EINTR (an earlier one is lost).
class ScriptedSerialLine
{
public:
    using Clock = std::chrono::steady_clock;

    ScriptedSerialLine();  // becomes the line behind the wrapped calls
    ~ScriptedSerialLine(); // ends any wait still blocked

    ScriptedSerialLine(const ScriptedSerialLine&) = delete;
    ScriptedSerialLine& operator=(const ScriptedSerialLine&) = delete;

    // The file (an ordinary one in a temporary folder) whose descriptor is
    // the line. Open it through the serial device.
    std::string Path() const { return path; }

    // What the driver can do.
    void SetCounters(bool available);      // TIOCGICOUNT
    void SetWaitSupported(bool supported); // TIOCMIWAIT, else ENOTTY as cp210x
    // ftdi_sio: the lines are read from the adapter at once, but the
    // counters (and so TIOCMIWAIT) move only with the status packets, which
    // the test sends with Count.
    void SetCountersFollowLines(bool follow);
    Clock::time_point Count(int lines);

    // Line changes (TIOCM_CTS, TIOCM_DSR, TIOCM_CD, TIOCM_RNG). Each returns
    // the moment the change took effect: read, like a driver's interrupt
    // handler, in the same step that changes the lines and wakes the waiter,
    // under the line's lock, so that the caller can't be preempted between
    // the true time and the change.
    Clock::time_point Set(int lines, bool on);
    Clock::time_point Toggle(int lines);
    // The line goes and comes back at once: two transitions, state as before.
    Clock::time_point Pulse(int lines);
    // Runs action at the start of the next TIOCMIWAIT, before it reads its counters.
    void AtNextWaitEntry(std::function<void()> action);
    // Runs action right after the next TIOCMGET has read the lines.
    void AfterNextLineRead(std::function<void()> action);
    // How a driver lets a waiting thread know that its device is gone.
    enum class Unplug {
        WaitFails,       // usb-serial, serial8250: the wait and every later call fail
        WaitReturnsZero, // cdc_acm with CD in the mask: every wait returns 0 at once
        WaitSleeps       // a wait already begun goes on; later calls fail
    };
    // Every call from now on fails with this errno (EIO, ENODEV: unplugged),
    // after staleReads line and counter reads that still answer as before.
    void Fail(int error, Unplug how = Unplug::WaitFails, int staleReads = 0);
    // A wait ends only when the line changes or the device fails: the wake
    // signal is not heard (a driver that sleeps uninterruptibly).
    void SetWaitDeaf(bool deaf);

    // What became of each change (a benchmark's breakdown of the way from an
    // edge to its stamp): when it took effect and when the monitor first
    // noticed it; a moment not reached stays at the epoch.
    struct ChangeTrace
    {
        Clock::time_point changed;      // the true time
        Clock::time_point waitReturned; // the end of a TIOCMIWAIT begun before it
        Clock::time_point signalled;    // a wake signal that reached the waiter after it
        Clock::time_point read;         // the monitor's next TIOCGICOUNT or TIOCMGET
        int readOnCpu = -1;             // the core the monitor read it on
    };
    // Traces every change from now on, room for capacity of them made now
    // (no allocation while the line's lock is held); TakeTrace ends it.
    void StartTrace(std::size_t capacity);
    std::vector<ChangeTrace> TakeTrace();

    // Blocks until a thread sits in TIOCMIWAIT with no change it hasn't seen
    // (counters as at its start), or times out.
    bool WaitForWaiter(int milliseconds = 5000);
    pthread_t WaiterThread() const;
    int WaitEntries() const;
    // Blocks until TIOCMGET has been called this often since the line was made.
    bool WaitForLineReads(int count, int milliseconds = 5000);
    int LineReads() const;

    // What the device was told.
    termios Termios() const;
    int OutputLines() const; // TIOCM_DTR | TIOCM_RTS as set
    bool Exclusive() const;

    // Wrapped calls, for the --wrap entry points.
    static bool Handles(int fd);
    static int Ioctl(int fd, unsigned long request, void* argument);
    static int GetAttr(int fd, termios* tio);
    static int SetAttr(int fd, const termios* tio);
    static void SignalSent(pthread_t thread, int signal);

private:
    struct Counters
    {
        std::uint32_t cts = 0, dsr = 0, dcd = 0, rng = 0;
        bool operator==(const Counters&) const = default;
    };
    static bool MovedOn(const Counters& from, const Counters& to, int mask);
    Clock::time_point Change(int lines, int toggles);
    int WaitForChange(std::unique_lock<TInheritingMutex>& lock, int mask);
    void TraceRead();
    int Answer(unsigned long request, void* argument);

    std::string folder;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;

    // Priority-inheriting, like the kernel's locks that a preempted thread
    // can't hold: the test's thread (without real-time priority) takes it too.
    mutable TInheritingMutex mutex;
    TInheritingCondition changed;
    int lines = 0;
    int outputs = 0;
    Counters counters;
    bool counted = true;
    bool waitSupported = true;
    bool countersFollowLines = true;
    bool waitDeaf = false;
    int failure = 0;
    Unplug unplug = Unplug::WaitFails;
    int staleReads = 0;
    int lineReads = 0;
    bool ending = false; // the line is being destroyed: every wait ends
    bool exclusive = false;
    termios tio{};
    std::function<void()> atWaitEntry;
    std::function<void()> afterLineRead;
    // The thread in TIOCMIWAIT, its counters at the start, and whether a
    // signal reached it there.
    bool waiting = false;
    pthread_t waiter{};
    sigset_t waiterMask{};
    Counters waitStart;
    int waitMask = 0;
    bool interrupted = false;
    int waitEntries = 0;
    // The thread that last asked for TIOCMIWAIT (answered or not): the
    // monitor, whose readings the trace follows (the watch's are not).
    pthread_t monitor{};
    bool monitorKnown = false;
    bool tracing = false;
    std::vector<ChangeTrace> traces;
    std::size_t tracesRead = 0;      // traces before this one have their read
    std::size_t tracesSignalled = 0; // ... their signal
};

class TComPort;

// Opens the port as the main window sets it up (5 data bits, RTS held, CTS,
// DSR and RLSD events) with the system's device on the scripted line.
void OpenBarrierPort(TComPort& port, const ScriptedSerialLine& line);

// Sends the serial device's wake signal to a thread again and again (a storm of interruptions) until
// destroyed.
class SignalStorm
{
public:
    SignalStorm(std::function<pthread_t()> target, std::chrono::microseconds period);
    ~SignalStorm();

private:
    std::thread thread;
    std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
};
