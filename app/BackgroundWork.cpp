#include "BackgroundWork.h"

#include "ReadCancel.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>

namespace {

bool running = false;
std::function<void()> workHook;

} // namespace

bool BackgroundWorkRunning()
{
    return running;
}

void SetBackgroundWorkHook(std::function<void()> hook)
{
    workHook = std::move(hook);
}

bool RunInBackground(QWidget* parent, const QString& text, const std::function<void()>& work)
{
    if (running)
        return false;
    running = true;
    std::atomic<bool> cancel{false};
    // Wakes whoever waits for the call-off (WaitUntilReadCancelled).
    const auto callOff = [&cancel] {
        cancel = true;
        cancel.notify_all();
    };
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        const ReadCancelScope scope(cancel);
        if (workHook)
            workHook();
        work();
    }));
    thread->start();
    // Most reads end at once: then nothing else happens meanwhile, as if read on this thread.
    if (thread->wait(50)) {
        running = false;
        return true;
    }
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QProgressDialog progress(text, QStringLiteral("Abbrechen"), 0, 0, parent);
    progress.setWindowTitle(QStringLiteral("Quellorix"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(450);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, callOff);
    // Escape or closing the dialog cancel it without the signal.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &progress, [&] {
        if (progress.wasCanceled() && !cancel)
            callOff();
    });
    watch.start(100);
    progress.setValue(0); // starts the time after which the dialog shows
    if (!thread->isFinished())
        loop.exec();
    thread->wait();
    running = false;
    return !cancel;
}
