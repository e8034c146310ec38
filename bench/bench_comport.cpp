// Figures of the serial line monitor, measured through the fake device:
// how long after an edge the monitor takes its timestamp (and the GUI thread
// runs the handler), and how much CPU the monitor thread uses while idle.
#include "FakeSerialDevice.h"
#include "TComPort.h"
#include "TickSource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Remembers when the monitor thread first read the tick after an edge.
class StampingTickSource : public ITickSource
{
public:
    std::uint32_t GetTickCount() const override
    {
        Clock::time_point expected{};
        lastRead.compare_exchange_strong(expected, Clock::now());
        return 0;
    }
    void Arm() { lastRead.store({}); }
    Clock::time_point Read() const { return lastRead.load(); }

private:
    mutable std::atomic<Clock::time_point> lastRead{};
};

// Passes everything to the fake and notes which thread waits.
class ThreadNotingDevice : public ISerialDevice
{
public:
    ThreadNotingDevice(std::unique_ptr<ISerialDevice> inner, std::atomic<pthread_t>& waiter,
                       std::atomic<bool>& known)
        : inner(std::move(inner)), waiter(waiter), known(known)
    {
    }
    SerialError Open(const std::string& path, const SerialLineSettings& settings) override
    {
        return inner->Open(path, settings);
    }
    void Close() override { inner->Close(); }
    void SetDtr(bool on) override { inner->SetDtr(on); }
    SerialWaitResult Wait(std::vector<SerialEventBatch>& batches, SerialError& lost) override
    {
        waiter.store(pthread_self());
        known.store(true);
        return inner->Wait(batches, lost);
    }
    void RequestStop() override { inner->RequestStop(); }
    std::uint32_t ModemStatus() override { return inner->ModemStatus(); }
    int InputCount() override { return inner->InputCount(); }

private:
    std::unique_ptr<ISerialDevice> inner;
    std::atomic<pthread_t>& waiter;
    std::atomic<bool>& known;
};

double Micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

void PrintFigures(const char* what, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::printf("%-32s median %8.1f us   worst %8.1f us   (%zu edges)\n", what, values[values.size() / 2],
                values.back(), values.size());
}

double ThreadCpuSeconds(pthread_t thread)
{
    clockid_t clock{};
    if (pthread_getcpuclockid(thread, &clock) != 0)
        return -1;
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunEventLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int edges = 1000;

    StampingTickSource ticks;
    SetTickSource(&ticks);

    FakeSerialLine line;
    std::atomic<pthread_t> waiter{};
    std::atomic<bool> waiterKnown{false};
    TComPort port;
    port.SetDeviceFactory(
        [&] { return std::make_unique<ThreadNotingDevice>(line.Factory()(), waiter, waiterKnown); });
    port.SetEvents({TEvent::evCTS, TEvent::evDSR, TEvent::evRLSD});
    port.Open();

    std::vector<double> toTimestamp;
    std::vector<double> toHandler;
    Clock::time_point raised;
    int handled = 0;
    QEventLoop waitForHandler;
    QObject::connect(&port, &TComPort::OnDSR, &port, [&] {
        toHandler.push_back(Micros(Clock::now() - raised));
        toTimestamp.push_back(Micros(ticks.Read() - raised));
        ++handled;
        waitForHandler.quit();
    });

    for (int i = 0; i < edges; ++i) {
        line.WaitForIdleMonitor();
        ticks.Arm();
        raised = Clock::now();
        line.Raise(EV_DSR, i % 2 ? 0 : MS_DSR_ON);
        if (handled <= i)
            waitForHandler.exec();
    }
    PrintFigures("edge to timestamp (monitor)", toTimestamp);
    PrintFigures("edge to handler (GUI thread)", toHandler);

    line.WaitForIdleMonitor();
    constexpr int idleMs = 2000;
    const double threadBefore = ThreadCpuSeconds(waiter.load());
    const double processBefore = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunEventLoopFor(idleMs);
    const double seconds = double(wall.elapsed()) / 1000.0;
    const double threadCpu = ThreadCpuSeconds(waiter.load()) - threadBefore;
    const double processCpu = ProcessCpuSeconds() - processBefore;
    std::printf("idle monitor thread CPU share     %.4f %% over %.1f s\n", 100.0 * threadCpu / seconds,
                seconds);
    std::printf("idle process CPU share            %.4f %% over %.1f s\n", 100.0 * processCpu / seconds,
                seconds);

    QElapsedTimer closing;
    closing.start();
    port.Close();
    std::printf("close with the monitor waiting    %.3f ms\n", double(closing.nsecsElapsed()) / 1e6);
    SetTickSource(nullptr);
    return 0;
}
