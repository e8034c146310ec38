// Figures of the serial line monitor through the real POSIX device over the
// scripted line (its system calls are wrapped, see ScriptedSerialLine.h):
// how far each time stamp lies after the true moment of its edge, for single
// edges, for close finishes while the GUI thread is busy, and for edges that
// come just as the monitor begins to wait; and the CPU the idle monitor uses
// with its 1 ms watch running.
//
//   bench_comport [edges]   (default 1000 of each kind)
#include "LineSampler.h"
#include "PosixSerialDevice.h"
#include "ProcessCpu.h"
#include "RealtimeKit.h"
#include "ScriptedSerialLine.h"
#include "TComPort.h"
#include "TickSource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A tick counter in microseconds instead of milliseconds: a stamp then says
// to the microsecond when it was read, and one from before its edge shows as
// a negative error. The device's check that the clock stood still during a
// reading is stricter with it than with milliseconds (it retries more), so
// these figures are if anything a little late.
class MicrosecondTickSource : public ITickSource
{
public:
    std::uint32_t GetTickCount() const override
    {
        return std::uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    }
    // The tick in which a moment lies: a stamp of that tick or a later one is
    // not early.
    std::uint32_t TickAt(Clock::time_point moment) const
    {
        return std::uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(moment - start).count());
    }

private:
    const Clock::time_point start = Clock::now();
};

// Stamp minus the tick of the true moment, in microseconds.
double StampError(std::uint32_t stamp, std::uint32_t edgeTick)
{
    return double(std::int64_t(stamp) - std::int64_t(edgeTick));
}

void PrintFigures(const char* what, std::vector<double> errors)
{
    std::sort(errors.begin(), errors.end());
    const auto at = [&errors](double share) {
        return errors[std::size_t(share * double(errors.size() - 1))];
    };
    std::printf("%-44s min %7.1f  median %7.1f  99%% %7.1f  worst %8.1f us  (%zu edges)\n", what,
                errors.front(), at(0.5), at(0.99), errors.back(), errors.size());
}

void RunEventLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Serves the GUI thread until count handlers have run.
void RunUntil(const int& handled, int count)
{
    QElapsedTimer waited;
    waited.start();
    while (handled < count && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    if (handled < count) {
        std::fprintf(stderr, "an edge never reached the GUI thread\n");
        std::exit(1);
    }
}

double IdleCpuShare(int milliseconds)
{
    const double before = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunEventLoopFor(milliseconds);
    return 100.0 * (ProcessCpuSeconds() - before) / (double(wall.elapsed()) / 1000.0);
}

// What the machine itself gives a thread of the stamping threads' priority:
// how late it runs after a 1 ms sleep. No stamp can be more prompt than that.
std::vector<double> SleepWakeLatencies(int count)
{
    std::vector<double> late;
    std::thread sleeper([&] {
        RaiseStampingPriority();
        Clock::time_point next = Clock::now();
        for (int i = 0; i < count; ++i) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            late.push_back(std::chrono::duration<double, std::micro>(Clock::now() - next).count());
        }
    });
    sleeper.join();
    return late;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int edges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;

    MicrosecondTickSource ticks;
    SetTickSource(&ticks);
    ScriptedSerialLine line;

    TComPort port;
    OpenBarrierPort(port, line);

    // Stamps of the edges as the handlers get them, in order.
    std::vector<std::uint32_t> stamps;
    int handled = 0;
    int busyMs = 0; // the lane 1 handler keeps the GUI thread this long
    const auto record = [&](TComPort* sender) {
        stamps.push_back(sender->EventTick());
        ++handled;
    };
    QObject::connect(&port, &TComPort::OnDSR, &port, [&](TComPort* sender) {
        record(sender);
        if (busyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(busyMs));
    });
    QObject::connect(&port, &TComPort::OnRLSD, &port, record);

    std::vector<double> single;
    for (int i = 0; i < edges; ++i) {
        line.WaitForWaiter();
        const Clock::time_point edge = line.Toggle(TIOCM_DSR);
        RunUntil(handled, handled + 1);
        single.push_back(StampError(stamps.back(), ticks.TickAt(edge)));
    }

    std::vector<double> closeFinish;
    std::vector<double> whileBusy; // the second edges alone
    busyMs = 100;
    QRandomGenerator random(8);
    for (int i = 0; i < edges; ++i) {
        line.WaitForWaiter();
        const int gapMs = 5 + random.bounded(46);
        Clock::time_point first;
        Clock::time_point second;
        std::thread cars([&] {
            // The line changes like hardware: no waiting for a core between
            // the change and the wake-up (where the system allows it).
            sched_param now{};
            now.sched_priority = 2;
            if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &now) != 0)
                MakeThreadRealTimeByRealtimeKit(2);
            first = line.Toggle(TIOCM_DSR);
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            second = line.Toggle(TIOCM_CD);
        });
        RunUntil(handled, handled + 2);
        cars.join();
        closeFinish.push_back(StampError(stamps[stamps.size() - 2], ticks.TickAt(first)));
        closeFinish.push_back(StampError(stamps.back(), ticks.TickAt(second)));
        whileBusy.push_back(closeFinish.back());
    }
    busyMs = 0;

    std::vector<double> atWaitStart;
    for (int i = 0; i < edges; ++i) {
        line.WaitForWaiter();
        Clock::time_point edge;
        line.AtNextWaitEntry([&] { edge = line.Toggle(TIOCM_DSR); });
        // Woken once, the monitor reads the lines and begins a new wait.
        ::pthread_kill(line.WaiterThread(), SerialWakeSignal());
        RunUntil(handled, handled + 1);
        atWaitStart.push_back(StampError(stamps.back(), ticks.TickAt(edge)));
    }

    const char* const priority = port.MonitorPriority() == StampingPriority::RealTime     ? "real-time"
                                 : port.MonitorPriority() == StampingPriority::ShortSlice ? "short time slice"
                                                                                          : "normal";
    std::printf("stamping threads run with %s priority\n", priority);
    PrintFigures("the machine: wake-up 1 ms sleeps (floor)", SleepWakeLatencies(3 * edges));
    std::printf("stamp error (stamp minus true time of the edge):\n");
    PrintFigures("single edges", single);
    PrintFigures("close finishes 5-50 ms apart, GUI busy 100 ms", closeFinish);
    PrintFigures("  of these the second edges (GUI busy)", whileBusy);
    PrintFigures("edges as the wait begins", atWaitStart);

    port.Close();
    line.SetWaitSupported(false);
    port.Open();
    std::vector<double> polled;
    for (int i = 0; i < std::min(edges, 300); ++i) {
        RunEventLoopFor(int(random.bounded(3)));
        const Clock::time_point edge = line.Toggle(TIOCM_DSR);
        RunUntil(handled, handled + 1);
        polled.push_back(StampError(stamps.back(), ticks.TickAt(edge)));
    }
    PrintFigures("edges on polled lines (cp210x path)", polled);

    // The idle figures with the program's own millisecond clock.
    SetTickSource(nullptr);
    const int readsBefore = line.LineReads();
    QElapsedTimer polling;
    polling.start();
    std::printf("idle CPU share, lines polled every 1 ms       %.3f %% of one core\n", IdleCpuShare(3000));
    std::printf("poll interval without a USB transfer          %.3f ms\n",
                double(polling.nsecsElapsed()) / 1e6 / double(std::max(1, line.LineReads() - readsBefore)));
    port.Close();
    line.SetWaitSupported(true);
    port.Open();
    line.WaitForWaiter();
    std::printf("idle CPU share, TIOCMIWAIT and 1 ms watch     %.3f %% of one core\n", IdleCpuShare(3000));

    QElapsedTimer closing;
    closing.start();
    port.Close();
    std::printf("close with the monitor waiting                %.3f ms\n",
                double(closing.nsecsElapsed()) / 1e6);
    return 0;
}
