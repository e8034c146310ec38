#include "TComThread.h"

#include "TComPort.h"
#include "TickSource.h"

#include <QMetaObject>
#include <QString>

#include <chrono>

bool THandOver::Offer(const SerialEventBatch& batch, const std::function<void()>& post)
{
    std::unique_lock lock(mutex);
    if (stopped)
        return false;
    pending = batch;
    served = false;
    post();
    changed.wait(lock, [this] { return served || stopped; });
    pending.reset();
    return served && !stopped;
}

std::optional<SerialEventBatch> THandOver::Take()
{
    std::lock_guard lock(mutex);
    std::optional<SerialEventBatch> batch;
    batch.swap(pending);
    return batch;
}

void THandOver::Served()
{
    {
        std::lock_guard lock(mutex);
        served = true;
    }
    changed.notify_all();
}

void THandOver::Stop()
{
    {
        std::lock_guard lock(mutex);
        stopped = true;
        pending.reset();
    }
    changed.notify_all();
}

bool THandOver::StopRequested() const
{
    std::lock_guard lock(mutex);
    return stopped;
}

TComThread::TComThread(TComPort& port, ISerialDevice& device, std::shared_ptr<THandOver> handOver)
    : port(port), device(device), handOver(std::move(handOver))
{
}

TComThread::~TComThread()
{
    Stop();
}

void TComThread::Start()
{
    if (!worker.joinable())
        worker = std::thread([this] { Run(); });
}

void TComThread::Stop()
{
    if (!worker.joinable())
        return;
    handOver->Stop();
    device.RequestStop();
    // A wake-up sent just before the thread enters its wait is lost, so keep
    // asking until it has gone.
    while (!WaitFinished(2))
        device.RequestStop();
    worker.join();
}

bool TComThread::Finished() const
{
    std::lock_guard lock(finishMutex);
    return finished;
}

bool TComThread::WaitFinished(int milliseconds)
{
    std::unique_lock lock(finishMutex);
    return finishChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return finished; });
}

void TComThread::Run()
{
    TComPort* const target = &port;
    const std::shared_ptr<THandOver> slot = handOver;
    const auto post = [target, slot] {
        QMetaObject::invokeMethod(
            target, [target, slot] { target->ServeHandOver(slot); }, Qt::QueuedConnection);
    };

    std::vector<SerialEventBatch> batches;
    SerialError lost;
    bool running = true;
    while (running && !slot->StopRequested()) {
        batches.clear();
        const SerialWaitResult result = device.Wait(batches, lost);
        if (result == SerialWaitResult::Stopped)
            break;
        if (result == SerialWaitResult::Lost) {
            const QString reason =
                lost.text.empty() ? QString::number(lost.code) : QString::fromStdString(lost.text);
            QMetaObject::invokeMethod(
                target, [target, slot, reason] { target->DeviceLost(slot, reason); }, Qt::QueuedConnection);
            break;
        }
        const std::uint32_t now = TickSource().GetTickCount();
        for (SerialEventBatch& batch : batches) {
            if (!batch.tick)
                batch.tick = now;
            if (!slot->Offer(batch, post)) {
                running = false;
                break;
            }
        }
    }

    {
        std::lock_guard lock(finishMutex);
        finished = true;
    }
    finishChanged.notify_all();
}
