#pragma once

#include "InheritingMutex.h"
#include "LineSampler.h"
#include "SerialDevice.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class TComPort;

// The blocking hand-over of one batch from the monitor thread to the GUI
// thread. Shared by both sides so that either may go away first.
class THandOver
{
public:
    // Monitor thread: offers the batch, calls post to get the GUI thread to
    // take it, then blocks until the batch was served or a stop was requested.
    // Returns false when stopped; a batch not yet taken is then withdrawn.
    bool Offer(const SerialEventBatch& batch, const std::function<void()>& post);

    // GUI thread: the batch on offer, if any (at most once per offer).
    std::optional<SerialEventBatch> Take();
    // GUI thread: the handlers of the taken batch have returned.
    void Served();
    // GUI thread: refuses the pending batch and every later one.
    void Stop();
    bool StopRequested() const;
    // Blocks until a batch is on offer (without serving it), or times out.
    bool WaitForOffer(int milliseconds);

private:
    // The monitor thread has real-time priority, the GUI thread may not.
    mutable TInheritingMutex mutex;
    TInheritingCondition changed;
    std::optional<SerialEventBatch> pending;
    bool served = false;
    bool stopped = false;
};

// Hands the batches the sampler stamped to the GUI thread, one at a time and
// in order, where the port dispatches them. The sampler keeps waiting on the
// device meanwhile, so the hand-over's blocking delays no time stamp.
class TComThread
{
public:
    TComThread(TComPort& port, std::shared_ptr<ISerialDevice> device, std::shared_ptr<THandOver> handOver);
    ~TComThread();

    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Returns once the sampling thread knows its priority.
    void Start();
    StampingPriority Priority() const { return sampler.Priority(); }
    // GUI thread: ends both threads and waits for them. A batch waiting for the GUI
    // thread is refused, so this cannot wait on a thread that waits on it.
    void Stop();
    bool Finished() const;

private:
    void Run();

    TComPort& port;
    TLineSampler sampler;
    std::shared_ptr<THandOver> handOver;
    std::thread worker;
    mutable std::mutex finishMutex;
    bool finished = false;
};
