#pragma once

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

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::optional<SerialEventBatch> pending;
    bool served = false;
    bool stopped = false;
};

// Waits on the open device for line changes and hands each batch to the GUI
// thread, where the port dispatches it.
class TComThread
{
public:
    TComThread(TComPort& port, ISerialDevice& device, std::shared_ptr<THandOver> handOver);
    ~TComThread();

    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void Start();
    // GUI thread: ends the thread and waits for it. A batch waiting for the GUI
    // thread is refused, so this cannot wait on a thread that waits on it.
    void Stop();
    bool Finished() const;

private:
    void Run();
    bool WaitFinished(int milliseconds);

    TComPort& port;
    ISerialDevice& device;
    std::shared_ptr<THandOver> handOver;
    std::thread worker;
    mutable std::mutex finishMutex;
    std::condition_variable finishChanged;
    bool finished = false;
};
