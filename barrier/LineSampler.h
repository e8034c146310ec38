#pragma once

#include "SerialDevice.h"

#include <functional>
#include <memory>

// What the system granted a thread that reads the clock at a line change.
enum class StampingPriority {
    RealTime,   // runs as soon as it wakes, whatever else the machine does
    ShortSlice, // a short time slice: prompt on an idle machine, not on a busy one
    Normal
};

// Asks the system to run the calling thread promptly when it wakes: the
// threads that read the clock at a line change call it. Real-time priority
// where the thread may take it itself, else through the grant set below,
// else a short time slice.
StampingPriority RaiseStampingPriority();
// Another way to real-time priority for the calling thread, tried when it
// may not take it itself (on Linux, the desktop's RealtimeKit). Returns
// whether the thread got it. Set before ports are opened; an empty one
// removes it.
void SetRealTimeGrant(std::function<bool()> grant);
// The same, unless a grant is set already (the program's default, which a
// test may have replaced before).
void SetDefaultRealTimeGrant(std::function<bool()> grant);

// Called on the sampling thread right after it queued a batch (a benchmark's
// breakdown of where an edge's time goes); nullptr, the default, calls nothing.
using BatchQueuedProbe = void (*)(const SerialEventBatch& batch);
void SetBatchQueuedProbe(BatchQueuedProbe probe);

// Waits on an open device on a thread of its own and stamps every change the
// moment the device reports it, then waits again at once; the stamped batches
// queue up in order until the dispatcher takes them. So a change that comes
// while the GUI thread is still busy with the one before keeps its own time.
class TLineSampler
{
public:
    enum class Result { Batch, Lost, Stopped };

    explicit TLineSampler(std::shared_ptr<ISerialDevice> device);
    ~TLineSampler();

    TLineSampler(const TLineSampler&) = delete;
    TLineSampler& operator=(const TLineSampler&) = delete;

    // Returns once the sampling thread knows what priority it got.
    void Start();
    // Blocks until the oldest batch not yet taken; after the last batch the
    // loss of the device (lost filled) or the end of sampling.
    Result Next(SerialEventBatch& batch, SerialError& lost);
    // Ends sampling; Next then returns Stopped. Asks the device again and
    // again, since a wake-up sent just before the thread enters its wait can
    // be lost. A thread still inside the device after stopBoundMs (a call no
    // wake-up reaches) is left to end by itself: it keeps the device and
    // everything it touches alive, and reports nothing more.
    void Stop();
    bool Finished() const;
    // Known once Start has returned.
    StampingPriority Priority() const;
    // Whether the last Stop had to leave the thread behind.
    bool LeftBehind() const { return leftBehind; }

    static constexpr int stopBoundMs = 200;
    // Sampling threads of this process that have not ended, left behind ones included.
    static int ThreadsRunning();

private:
    struct Shared;
    static void Run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared;
    bool started = false;
    bool leftBehind = false;
};
