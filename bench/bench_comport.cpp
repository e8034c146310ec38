// Figures of the serial line monitor through the real POSIX device over the
// scripted line (its system calls are wrapped, see ScriptedSerialLine.h):
// how far each time stamp lies after the true moment of its edge, for single
// edges, for close finishes while the GUI thread is busy, and for edges that
// come just as the monitor begins to wait; and the CPU the idle monitor uses
// with its 1 ms watch running.
//
// The edges come from an injector thread that stands for the hardware and
// its driver: it runs at the highest real-time priority the system allows
// (the output says when it got none) and takes the true time in the same
// locked step that changes the lines and wakes the waiter. For the 5 worst
// edges of each case the way from the edge to the window is broken down,
// beside how late a real-time thread that merely sleeps 1 ms at a time (the
// floor, running throughout the case) woke around the same moment: a late
// stamp that the floor thread shares is the machine's, not the program's.
//
// With --uploads the same cases run while the results go to a web host (nginx with
// WebDAV on loopback) as during a race with "OnlineZiel" set: a state of 768 KB (about
// thirty times a race's results) every 50 ms, so that an upload is always in flight.
//
//   bench_comport [edges] [--uploads]   (default 1000 edges of each kind)
#include "InheritingMutex.h"
#include "LineSampler.h"
#include "LoopbackWebDav.h"
#include "OnlinePublisher.h"
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
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
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
        return std::uint32_t(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    }
    // The tick in which a moment lies: a stamp of that tick or a later one is
    // not early.
    std::uint32_t TickAt(Clock::time_point moment) const
    {
        return std::uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(moment - start).count());
    }
    Clock::time_point MomentOf(std::uint32_t tick) const { return start + std::chrono::microseconds(tick); }

private:
    const Clock::time_point start = Clock::now();
};

double Microseconds(Clock::duration span)
{
    return std::chrono::duration<double, std::micro>(span).count();
}

// Stamp minus the tick of the true moment, in microseconds.
double StampError(std::uint32_t stamp, std::uint32_t edgeTick)
{
    return double(std::int64_t(stamp) - std::int64_t(edgeTick));
}

void PrintFigures(const char* what, std::vector<double> errors, const char* unit = "edges")
{
    if (errors.empty()) {
        std::printf("%-44s no figures\n", what);
        return;
    }
    std::sort(errors.begin(), errors.end());
    const auto at = [&errors](double share) {
        return errors[std::size_t(share * double(errors.size() - 1))];
    };
    std::printf("%-44s min %7.1f  median %7.1f  99%% %7.1f  worst %8.1f us  (%zu %s)\n", what, errors.front(),
                at(0.5), at(0.99), errors.back(), errors.size(), unit);
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

std::string SchedulingOfThisThread()
{
    int policy = 0;
    sched_param parameters{};
    ::pthread_getschedparam(::pthread_self(), &policy, &parameters);
    policy &= ~SCHED_RESET_ON_FORK;
    if (policy == SCHED_FIFO || policy == SCHED_RR)
        return std::string(policy == SCHED_FIFO ? "SCHED_FIFO " : "SCHED_RR ") +
               std::to_string(parameters.sched_priority);
    return "no real-time priority";
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
            late.push_back(Microseconds(Clock::now() - next));
        }
    });
    sleeper.join();
    return late;
}

// The same floor, measured throughout a case on a thread of its own per
// core, so that a slow wake-up of the machine at the moment of a late stamp
// shows beside it.
class FloorWatch
{
public:
    struct Sample
    {
        Clock::time_point due;
        double lateUs;
    };

    // On core cpu alone: a stall of one core shows on its own floor thread.
    explicit FloorWatch(int cpu) : cpu(cpu) {}

    void Start()
    {
        samples.assign(600'000, {}); // 10 minutes of 1 ms sleeps: no allocation while it runs
        count = 0;
        stopping = false;
        thread = std::thread([this] {
            cpu_set_t only;
            CPU_ZERO(&only);
            CPU_SET(cpu, &only);
            ::pthread_setaffinity_np(::pthread_self(), sizeof only, &only);
            RaiseStampingPriority();
            Clock::time_point next = Clock::now();
            while (!stopping.load(std::memory_order_relaxed) && count < samples.size()) {
                next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(next);
                const Clock::time_point woke = Clock::now();
                samples[count++] = {next, Microseconds(woke - next)};
                // After a long stall the floor measures from now on, not a backlog of missed periods.
                next = std::max(next, woke - std::chrono::milliseconds(1));
            }
        });
    }
    void Stop()
    {
        stopping = true;
        thread.join();
    }
    std::vector<double> Latencies() const
    {
        std::vector<double> late;
        for (std::size_t i = 0; i < count; ++i)
            late.push_back(samples[i].lateUs);
        return late;
    }
    // The latest wake-up among the sleeps due between from and to (or
    // nothing when none was due then).
    std::optional<double> WorstBetween(Clock::time_point from, Clock::time_point to) const
    {
        std::optional<double> worst;
        for (std::size_t i = 0; i < count; ++i) {
            // A sleep due before from that woke after it covers the moment too.
            const Clock::time_point woke =
                samples[i].due + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double, std::micro>(samples[i].lateUs));
            if (woke >= from && samples[i].due <= to)
                worst = std::max(worst.value_or(0.0), samples[i].lateUs);
        }
        return worst;
    }

private:
    const int cpu;
    std::vector<Sample> samples;
    std::size_t count = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// The batches as the sampling thread queued them, recorded by its probe.
struct QueuedBatch
{
    std::uint32_t tick = 0;
    Clock::time_point at;
};
std::vector<QueuedBatch> queuedBatches(100'000);
std::atomic<std::size_t> queuedCount{0};

void RecordQueuedBatch(const SerialEventBatch& batch)
{
    const std::size_t index = queuedCount.load(std::memory_order_relaxed);
    if (index < queuedBatches.size())
        queuedBatches[index] = {batch.tick.value_or(0), Clock::now()};
    queuedCount.store(index + 1, std::memory_order_release);
}

// The hardware: changes the lines on a thread of the highest real-time
// priority the system grants, so that nothing of the program, the window or
// a compiler runs between the true time and the change, and the waiter is
// woken in the same step.
class EdgeInjector
{
public:
    EdgeInjector()
    {
        thread = std::thread([this] {
            const int top = ::sched_get_priority_max(SCHED_FIFO);
            sched_param highest{};
            highest.sched_priority = top;
            if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &highest) != 0)
                MakeThreadRealTimeByRealtimeKit(top);
            {
                std::lock_guard lock(mutex);
                scheduling = SchedulingOfThisThread();
                realTime = scheduling.rfind("SCHED_", 0) == 0;
                ready = true;
            }
            changed.notify_all();
            std::unique_lock lock(mutex);
            for (;;) {
                changed.wait(lock, [this] { return stopping || job; });
                if (!job)
                    break;
                const std::function<void()> work = std::move(job);
                lock.unlock();
                work();
                lock.lock();
                job = nullptr;
                busy = false;
                changed.notify_all();
            }
        });
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return ready; });
    }
    ~EdgeInjector()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        thread.join();
    }

    bool RealTime() const { return realTime; }
    std::string Scheduling() const { return scheduling; }

    // Runs work on the injector without waiting for it.
    void Post(std::function<void()> work)
    {
        Finish();
        {
            std::lock_guard lock(mutex);
            job = std::move(work);
            busy = true;
        }
        changed.notify_all();
    }
    // Waits until the work posted last has run.
    void Finish()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !busy; });
    }

private:
    TInheritingMutex mutex;
    TInheritingCondition changed;
    std::function<void()> job;
    bool busy = false;
    bool ready = false;
    bool stopping = false;
    bool realTime = false;
    std::string scheduling;
    std::thread thread;
};

// One case: the stamp errors of its edges, and (while it runs) the trace of
// the line, the queued batches and the floor thread, for the breakdown.
class Case
{
public:
    Case(const char* name, ScriptedSerialLine& line, const MicrosecondTickSource& ticks,
         const std::vector<std::uint32_t>& stamps, const std::vector<Clock::time_point>& handledAt, int edges)
        : name(name), line(line), ticks(ticks), stamps(stamps), handledAt(handledAt),
          firstStamp(stamps.size())
    {
        line.StartTrace(std::size_t(4 * edges + 16));
        queuedCount = 0;
        const int cores = int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
        for (int cpu = 0; cpu < cores; ++cpu) {
            floors.push_back(std::make_unique<FloorWatch>(cpu));
            floors.back()->Start();
        }
    }

    // Ends the case: its figures, the floor beside it and its worst edges.
    // second picks the edges that get a figure of their own (the second edges
    // of close finishes), secondName titles it.
    void Report(const std::function<bool(std::size_t)>& second = nullptr, const char* secondName = nullptr)
    {
        std::vector<double> floorLatencies;
        for (const std::unique_ptr<FloorWatch>& floor : floors) {
            floor->Stop();
            const std::vector<double> late = floor->Latencies();
            floorLatencies.insert(floorLatencies.end(), late.begin(), late.end());
        }
        const std::vector<ScriptedSerialLine::ChangeTrace> traces = line.TakeTrace();
        const std::size_t edges = stamps.size() - firstStamp;
        const std::size_t queued = queuedCount.load(std::memory_order_acquire);
        std::vector<double> errors;
        std::vector<double> secondErrors;
        for (std::size_t i = 0; i < std::min(edges, traces.size()); ++i) {
            errors.push_back(StampError(stamps[firstStamp + i], ticks.TickAt(traces[i].changed)));
            if (second && second(i))
                secondErrors.push_back(errors.back());
        }
        PrintFigures(name, errors);
        if (second)
            PrintFigures(secondName, secondErrors);
        PrintFigures("  floor threads (one per core) in this case", floorLatencies, "sleeps");
        if (traces.size() != edges) {
            std::printf("  no breakdown: %zu line changes, %zu handled\n", traces.size(), edges);
            return;
        }
        // The batch each handled edge came in (one batch may bring two edges).
        std::vector<std::optional<Clock::time_point>> queuedAt(edges);
        for (std::size_t i = 0, j = 0; i < edges; ++i) {
            std::size_t k = j;
            while (k < queued && queuedBatches[k].tick != stamps[firstStamp + i])
                ++k;
            if (k < queued) {
                queuedAt[i] = queuedBatches[k].at;
                j = k;
            }
        }
        std::vector<std::size_t> order(edges);
        std::iota(order.begin(), order.end(), std::size_t(0));
        std::sort(order.begin(), order.end(),
                  [&errors](std::size_t a, std::size_t b) { return errors[a] > errors[b]; });
        std::printf(
            "  the 5 worst, us after the true time: the monitor's wait returned / the watch's signal\n"
            "  reached it / its reading (on core n) / the stamp / the batch queued / the window\n"
            "  handled it; floor: the latest wake-up of the floor thread of core n (and of the\n"
            "  others) from the edge to the queued batch\n");
        for (std::size_t k = 0; k < std::min<std::size_t>(5, edges); ++k) {
            const std::size_t i = order[k];
            const ScriptedSerialLine::ChangeTrace& trace = traces[i];
            const auto after = [&trace](Clock::time_point moment) -> std::string {
                if (moment == Clock::time_point{})
                    return "-";
                char text[32];
                std::snprintf(text, sizeof text, "%.1f", Microseconds(moment - trace.changed));
                return text;
            };
            const Clock::time_point until = queuedAt[i].value_or(handledAt[firstStamp + i]);
            std::optional<double> own;
            std::optional<double> others;
            for (std::size_t cpu = 0; cpu < floors.size(); ++cpu) {
                const std::optional<double> late = floors[cpu]->WorstBetween(trace.changed, until);
                std::optional<double>& into = int(cpu) == trace.readOnCpu ? own : others;
                if (late)
                    into = std::max(into.value_or(0.0), *late);
            }
            const auto number = [](const std::optional<double>& value) {
                return value ? std::to_string(int(*value)) : std::string("-");
            };
            std::printf("  edge %4zu%s  wait %8s  watch %8s  read %8s (core %d)  stamp %8.1f  queued %8s  "
                        "handled %9s  floor %s (others %s)\n",
                        i, second && second(i) ? " (2nd)" : "      ", after(trace.waitReturned).c_str(),
                        after(trace.signalled).c_str(), after(trace.read).c_str(), trace.readOnCpu, errors[i],
                        queuedAt[i] ? after(*queuedAt[i]).c_str() : "-",
                        after(handledAt[firstStamp + i]).c_str(), number(own).c_str(),
                        number(others).c_str());
        }
    }

private:
    const char* name;
    ScriptedSerialLine& line;
    const MicrosecondTickSource& ticks;
    const std::vector<std::uint32_t>& stamps;
    const std::vector<Clock::time_point>& handledAt;
    const std::size_t firstStamp;
    std::vector<std::unique_ptr<FloorWatch>> floors;
};

} // namespace

// Uploads going on in the same process while the edges are stamped.
class UploadsBeside
{
public:
    bool Start()
    {
        if (!m_webdav.Prepare() || !m_webdav.Start())
            return false;
        OnlineTarget target;
        target.folder = m_webdav.Folder(QStringLiteral("site"));
        m_publisher = std::make_unique<OnlinePublisher>(target);
        QObject::connect(m_publisher.get(), &OnlinePublisher::Uploaded, m_publisher.get(),
                         [this] { ++m_uploads; });
        QObject::connect(m_publisher.get(), &OnlinePublisher::StatusChanged, m_publisher.get(),
                         [this](const OnlineStatus& status) { m_failed += !status.error.isEmpty(); });
        m_changes.setInterval(50);
        QObject::connect(&m_changes, &QTimer::timeout, &m_changes, [this] {
            m_publisher->Publish(QByteArray::number(++m_published) + QByteArray(768 * 1024, 'x'));
        });
        m_changes.start();
        m_running.start();
        return true;
    }
    void Stop()
    {
        m_changes.stop();
        std::printf("beside: %d changes of 768 KB published, %d uploads done, %d failed, in %.1f s\n",
                    m_published, m_uploads, m_failed, double(m_running.elapsed()) / 1000.0);
        m_publisher.reset();
    }

private:
    LoopbackWebDav m_webdav;
    std::unique_ptr<OnlinePublisher> m_publisher;
    QTimer m_changes;
    QElapsedTimer m_running;
    int m_published = 0;
    int m_uploads = 0;
    int m_failed = 0;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const bool withUploads = arguments.contains(QStringLiteral("--uploads"));
    int edges = 1000;
    for (const QString& argument : arguments) {
        if (argument.toInt() > 0)
            edges = argument.toInt();
    }

    MicrosecondTickSource ticks;
    SetTickSource(&ticks);
    ScriptedSerialLine line;
    EdgeInjector injector;
    SetBatchQueuedProbe(RecordQueuedBatch);

    TComPort port;
    PosixSerialDevice* device = nullptr;
    port.SetDeviceFactory([&device] {
        auto made = std::make_unique<PosixSerialDevice>();
        device = made.get();
        return made;
    });
    OpenBarrierPort(port, line);

    // Stamps of the edges as the handlers get them, in order, and when.
    std::vector<std::uint32_t> stamps;
    std::vector<Clock::time_point> handledAt;
    stamps.reserve(std::size_t(10 * edges + 1000));
    handledAt.reserve(stamps.capacity());
    int handled = 0;
    int busyMs = 0; // the lane 1 handler keeps the GUI thread this long
    const auto record = [&](TComPort* sender) {
        handledAt.push_back(Clock::now());
        stamps.push_back(sender->EventTick());
        ++handled;
    };
    QObject::connect(&port, &TComPort::OnDSR, &port, [&](TComPort* sender) {
        record(sender);
        if (busyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(busyMs));
    });
    QObject::connect(&port, &TComPort::OnRLSD, &port, record);

    const auto priorityName = [](StampingPriority priority) {
        return priority == StampingPriority::RealTime     ? "real-time"
               : priority == StampingPriority::ShortSlice ? "short time slice"
                                                          : "normal";
    };
    std::printf("stamping thread runs with %s priority, the 1 ms watch with %s priority\n",
                priorityName(port.MonitorPriority()), priorityName(device->WatchPriority()));
    if (injector.RealTime())
        std::printf("edge injector (the hardware) runs with %s\n", injector.Scheduling().c_str());
    else
        std::printf("edge injector (the hardware) got NO real-time priority: a busy machine can delay an "
                    "edge's wake-up after its true time, and that counts against the stamp\n");
    PrintFigures("the machine: wake-up 1 ms sleeps (floor)", SleepWakeLatencies(3 * edges), "sleeps");
    UploadsBeside uploads;
    if (withUploads) {
        if (!uploads.Start()) {
            std::printf("nginx could not be started\n");
            return 1;
        }
        std::printf("uploads to loopback WebDAV run beside the edges\n");
    }
    std::printf("stamp error (stamp minus true time of the edge):\n");

    {
        Case single("single edges", line, ticks, stamps, handledAt, edges);
        for (int i = 0; i < edges; ++i) {
            line.WaitForWaiter();
            injector.Post([&line] { line.Toggle(TIOCM_DSR); });
            RunUntil(handled, handled + 1);
        }
        injector.Finish();
        single.Report();
    }

    {
        Case closeFinish("close finishes 5-50 ms apart, GUI busy 100 ms", line, ticks, stamps, handledAt,
                         2 * edges);
        busyMs = 100;
        QRandomGenerator random(8);
        for (int i = 0; i < edges; ++i) {
            line.WaitForWaiter();
            const auto gap = std::chrono::milliseconds(5 + random.bounded(46));
            injector.Post([&line, gap] {
                line.Toggle(TIOCM_DSR);
                std::this_thread::sleep_for(gap);
                line.Toggle(TIOCM_CD);
            });
            RunUntil(handled, handled + 2);
        }
        injector.Finish();
        busyMs = 0;
        closeFinish.Report([](std::size_t i) { return i % 2 == 1; },
                           "  of these the second edges (GUI busy)");
    }

    {
        Case atWaitStart("edges as the wait begins", line, ticks, stamps, handledAt, edges);
        for (int i = 0; i < edges; ++i) {
            line.WaitForWaiter();
            line.AtNextWaitEntry([&line] { line.Toggle(TIOCM_DSR); });
            // Woken once, the monitor reads the lines and begins a new wait.
            injector.Post([&line] { ::pthread_kill(line.WaiterThread(), SerialWakeSignal()); });
            RunUntil(handled, handled + 1);
        }
        injector.Finish();
        atWaitStart.Report();
    }

    port.Close();
    line.SetWaitSupported(false);
    port.Open();
    {
        const int count = std::min(edges, 300);
        Case polled("edges on polled lines (cp210x path)", line, ticks, stamps, handledAt, count);
        QRandomGenerator random(9);
        for (int i = 0; i < count; ++i) {
            RunEventLoopFor(int(random.bounded(3)));
            injector.Post([&line] { line.Toggle(TIOCM_DSR); });
            RunUntil(handled, handled + 1);
        }
        injector.Finish();
        polled.Report();
    }
    SetBatchQueuedProbe(nullptr);
    if (withUploads)
        uploads.Stop();

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
