#include "LineSampler.h"

#include "InheritingMutex.h"
#include "TickSource.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#ifdef _WIN32
#include "Win32.h"
#else
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

std::atomic<int> threadsRunning{0};
std::atomic<BatchQueuedProbe> batchQueuedProbe{nullptr};
std::mutex grantMutex;
std::function<bool()> realTimeGrant;

[[maybe_unused]] bool GrantedRealTime()
{
    std::function<bool()> grant;
    {
        std::lock_guard lock(grantMutex);
        grant = realTimeGrant;
    }
    return grant && grant();
}

} // namespace

void SetBatchQueuedProbe(BatchQueuedProbe probe)
{
    batchQueuedProbe.store(probe);
}

void SetRealTimeGrant(std::function<bool()> grant)
{
    std::lock_guard lock(grantMutex);
    realTimeGrant = std::move(grant);
}

void SetDefaultRealTimeGrant(std::function<bool()> grant)
{
    std::lock_guard lock(grantMutex);
    if (!realTimeGrant)
        realTimeGrant = std::move(grant);
}

StampingPriority RaiseStampingPriority()
{
#ifdef _WIN32
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) ? StampingPriority::RealTime
                                                                                : StampingPriority::Normal;
#else
    // Real-time priority where the system grants it (root, CAP_SYS_NICE or a
    // raised RLIMIT_RTPRIO): the thread only ever sleeps until a line changes.
    sched_param realTime{};
    realTime.sched_priority = 1;
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &realTime) == 0)
        return StampingPriority::RealTime;
    if (GrantedRealTime())
        return StampingPriority::RealTime;
#ifdef SYS_sched_setattr
    // Otherwise a short time slice lets the scheduler switch to this thread
    // as soon as it wakes while the machine is idle; anyone may ask for it.
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
    if (::syscall(SYS_sched_setattr, 0, &attributes, 0) == 0)
        return StampingPriority::ShortSlice;
#endif
    return StampingPriority::Normal;
#endif
}

struct TLineSampler::Shared
{
    explicit Shared(std::shared_ptr<ISerialDevice> device) : device(std::move(device)) {}

    std::shared_ptr<ISerialDevice> device;
    std::thread thread;
    // The sampling thread queues under it right after stamping; the GUI
    // thread takes it too (start, stop, the state queries).
    mutable TInheritingMutex mutex;
    TInheritingCondition changed;
    std::deque<SerialEventBatch> queue;
    std::optional<SerialError> lostError;
    std::optional<StampingPriority> priority;
    bool stopping = false;
    bool finished = false;
};

TLineSampler::TLineSampler(std::shared_ptr<ISerialDevice> device)
    : shared(std::make_shared<Shared>(std::move(device)))
{
}

TLineSampler::~TLineSampler()
{
    Stop();
}

void TLineSampler::Start()
{
    if (started)
        return;
    started = true;
    ++threadsRunning;
    shared->thread = std::thread([state = shared] {
        Run(state);
        --threadsRunning;
    });
    std::unique_lock lock(shared->mutex);
    shared->changed.wait(lock, [this] { return shared->priority.has_value(); });
}

void TLineSampler::Run(const std::shared_ptr<Shared>& shared)
{
    const StampingPriority priority = RaiseStampingPriority();
    {
        std::lock_guard lock(shared->mutex);
        shared->priority = priority;
    }
    shared->changed.notify_all();

    std::vector<SerialEventBatch> batches;
    SerialError lost;
    for (;;) {
        batches.clear();
        const SerialWaitResult result = shared->device->Wait(batches, lost);
        // The moment the wait returned, for batches the device didn't stamp itself.
        const std::uint32_t now = TickSource().GetTickCount();
        std::lock_guard lock(shared->mutex);
        if (result == SerialWaitResult::Lost)
            shared->lostError = lost;
        if (result != SerialWaitResult::Changed || shared->stopping)
            break;
        for (SerialEventBatch& batch : batches) {
            if (!batch.tick)
                batch.tick = now;
            shared->queue.push_back(batch);
            if (const BatchQueuedProbe probe = batchQueuedProbe.load(std::memory_order_relaxed))
                probe(batch);
        }
        shared->changed.notify_all();
    }
    std::lock_guard lock(shared->mutex);
    shared->finished = true;
    shared->changed.notify_all();
}

TLineSampler::Result TLineSampler::Next(SerialEventBatch& batch, SerialError& lost)
{
    std::unique_lock lock(shared->mutex);
    shared->changed.wait(lock,
                         [this] { return shared->stopping || shared->finished || !shared->queue.empty(); });
    if (shared->stopping)
        return Result::Stopped;
    if (!shared->queue.empty()) {
        batch = shared->queue.front();
        shared->queue.pop_front();
        return Result::Batch;
    }
    if (shared->lostError) {
        lost = *shared->lostError;
        return Result::Lost;
    }
    return Result::Stopped;
}

void TLineSampler::Stop()
{
    {
        std::lock_guard lock(shared->mutex);
        shared->stopping = true;
    }
    shared->changed.notify_all();
    if (!shared->thread.joinable())
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stopBoundMs);
    bool finished = false;
    while (!finished) {
        shared->device->RequestStop();
        std::unique_lock lock(shared->mutex);
        const auto until =
            std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(2));
        finished = shared->changed.wait_until(lock, until, [this] { return shared->finished; });
        if (!finished && std::chrono::steady_clock::now() >= deadline)
            break;
    }
    if (finished) {
        shared->thread.join();
    } else {
        // It holds its own reference to everything it uses.
        shared->thread.detach();
        leftBehind = true;
    }
}

int TLineSampler::ThreadsRunning()
{
    return threadsRunning.load();
}

bool TLineSampler::Finished() const
{
    std::lock_guard lock(shared->mutex);
    return shared->finished;
}

StampingPriority TLineSampler::Priority() const
{
    std::lock_guard lock(shared->mutex);
    return shared->priority.value_or(StampingPriority::Normal);
}
