#include "TComThread.h"

#include "TComPort.h"

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
    changed.notify_all();
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

bool THandOver::WaitForOffer(int milliseconds)
{
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return pending.has_value(); });
}

bool THandOver::StopRequested() const
{
    std::lock_guard lock(mutex);
    return stopped;
}

TComThread::TComThread(TComPort& port, std::shared_ptr<ISerialDevice> device, std::shared_ptr<THandOver> handOver)
    : port(port), sampler(std::move(device)), handOver(std::move(handOver))
{
}

TComThread::~TComThread()
{
    Stop();
}

void TComThread::Start()
{
    if (worker.joinable())
        return;
    sampler.Start();
    worker = std::thread([this] { Run(); });
}

void TComThread::Stop()
{
    handOver->Stop();
    sampler.Stop();
    if (worker.joinable())
        worker.join();
}

bool TComThread::Finished() const
{
    std::lock_guard lock(finishMutex);
    return finished && sampler.Finished();
}

void TComThread::Run()
{
    // The sampler hands its batches over through this thread: it must not
    // have to wait for it.
    RaiseStampingPriority();
    TComPort* const target = &port;
    const std::shared_ptr<THandOver> slot = handOver;
    const auto post = [target, slot] {
        QMetaObject::invokeMethod(
            target, [target, slot] { target->ServeHandOver(slot); }, Qt::QueuedConnection);
    };

    for (;;) {
        SerialEventBatch batch;
        SerialError lost;
        const TLineSampler::Result result = sampler.Next(batch, lost);
        if (result == TLineSampler::Result::Stopped)
            break;
        if (result == TLineSampler::Result::Lost) {
            const QString reason =
                lost.text.empty() ? QString::number(lost.code) : QString::fromStdString(lost.text);
            QMetaObject::invokeMethod(
                target, [target, slot, reason] { target->DeviceLost(slot, reason); }, Qt::QueuedConnection);
            break;
        }
        if (!slot->Offer(batch, post))
            break;
    }

    std::lock_guard lock(finishMutex);
    finished = true;
}
