#include "LineSampler.h"

#include "TickSource.h"

#include <chrono>
#include <cstdint>

#ifdef _WIN32
#include "Win32.h"
#else
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

void RaiseStampingPriority()
{
#ifdef _WIN32
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
#else
    // Real-time priority where the system grants it (root, or a raised
    // RLIMIT_RTPRIO): the thread only ever sleeps until a line changes.
    sched_param realTime{};
    realTime.sched_priority = 1;
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &realTime) == 0)
        return;
#ifdef SYS_sched_setattr
    // Otherwise a short time slice lets the scheduler switch to this thread
    // as soon as it wakes, even with every core busy; anyone may ask for it.
    struct
    {
        std::uint32_t size;
        std::uint32_t policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtime;
        std::uint64_t deadline;
        std::uint64_t period;
    } attributes{};
    attributes.size = sizeof attributes;
    attributes.runtime = 100'000; // ns
    ::syscall(SYS_sched_setattr, 0, &attributes, 0);
#endif
#endif
}

TLineSampler::TLineSampler(ISerialDevice& device) : device(device) {}

TLineSampler::~TLineSampler()
{
    Stop();
}

void TLineSampler::Start()
{
    if (!thread.joinable())
        thread = std::thread([this] { Run(); });
}

void TLineSampler::Run()
{
    RaiseStampingPriority();
    std::vector<SerialEventBatch> batches;
    SerialError lost;
    for (;;) {
        batches.clear();
        const SerialWaitResult result = device.Wait(batches, lost);
        // The moment the wait returned, for batches the device didn't stamp itself.
        const std::uint32_t now = TickSource().GetTickCount();
        std::lock_guard lock(mutex);
        if (result == SerialWaitResult::Lost)
            lostError = lost;
        if (result != SerialWaitResult::Changed || stopping)
            break;
        for (SerialEventBatch& batch : batches) {
            if (!batch.tick)
                batch.tick = now;
            queue.push_back(batch);
        }
        changed.notify_all();
    }
    std::lock_guard lock(mutex);
    finished = true;
    changed.notify_all();
}

TLineSampler::Result TLineSampler::Next(SerialEventBatch& batch, SerialError& lost)
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return stopping || finished || !queue.empty(); });
    if (stopping)
        return Result::Stopped;
    if (!queue.empty()) {
        batch = queue.front();
        queue.pop_front();
        return Result::Batch;
    }
    if (lostError) {
        lost = *lostError;
        return Result::Lost;
    }
    return Result::Stopped;
}

void TLineSampler::Stop()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (!thread.joinable())
        return;
    device.RequestStop();
    while (!WaitFinished(2))
        device.RequestStop();
    thread.join();
}

bool TLineSampler::Finished() const
{
    std::lock_guard lock(mutex);
    return finished;
}

bool TLineSampler::WaitFinished(int milliseconds)
{
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return finished; });
}
