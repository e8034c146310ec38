#pragma once

#include "SerialDevice.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// Asks the system to run the calling thread promptly when it wakes: the
// threads that read the clock at a line change call it.
void RaiseStampingPriority();

// Waits on an open device on a thread of its own and stamps every change the
// moment the device reports it, then waits again at once; the stamped batches
// queue up in order until the dispatcher takes them. So a change that comes
// while the GUI thread is still busy with the one before keeps its own time.
class TLineSampler
{
public:
    enum class Result { Batch, Lost, Stopped };

    explicit TLineSampler(ISerialDevice& device);
    ~TLineSampler();

    TLineSampler(const TLineSampler&) = delete;
    TLineSampler& operator=(const TLineSampler&) = delete;

    void Start();
    // Blocks until the oldest batch not yet taken; after the last batch the
    // loss of the device (lost filled) or the end of sampling.
    Result Next(SerialEventBatch& batch, SerialError& lost);
    // Ends sampling and waits for the sampling thread; Next then returns
    // Stopped. Asks the device again and again, since a wake-up sent just
    // before the thread enters its wait can be lost.
    void Stop();
    bool Finished() const;

private:
    void Run();
    bool WaitFinished(int milliseconds);

    ISerialDevice& device;
    std::thread thread;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<SerialEventBatch> queue;
    std::optional<SerialError> lostError;
    bool stopping = false;
    bool finished = false;
};
