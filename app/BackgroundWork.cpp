#include "BackgroundWork.h"

#include "ReadCancel.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>

bool RunInBackground(QWidget* parent, const QString& text, const std::function<void()>& work)
{
    static bool running = false;
    if (running)
        return false;
    running = true;
    std::atomic<bool> cancel{false};
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        const ReadCancelScope scope(cancel);
        work();
    }));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QProgressDialog progress(text, QStringLiteral("Abbrechen"), 0, 0, parent);
    progress.setWindowTitle(QStringLiteral("Quellorix"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&cancel] { cancel = true; });
    // Escape or closing the dialog cancel it without the signal.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &progress, [&] {
        if (progress.wasCanceled())
            cancel = true;
    });
    watch.start(100);
    thread->start();
    progress.setValue(0); // starts the half second after which the dialog shows
    if (!thread->isFinished())
        loop.exec();
    thread->wait();
    running = false;
    return !cancel;
}
