// Uploads to a web host: nginx with WebDAV on loopback takes the results after every change.
// 200 changes at race pace (one per turn of the event loop, as a burst of stops and edits
// comes) and at 20 per second; for each change the time until a state at least as new is on
// the host (median, 99 %, worst) and how many uploads carried the 200 changes.
//
//   bench_online [changes]   (default 200)
#include "LoopbackWebDav.h"
#include "OnlinePublisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void Run(LoopbackWebDav& webdav, const char* label, int changes, int intervalMs, QByteArray padding)
{
    OnlineTarget target;
    target.folder = webdav.Folder(QStringLiteral("site"));
    OnlinePublisher publisher(target);
    std::vector<qint64> sent(size_t(changes), 0);
    std::vector<qint64> latency;
    int uploads = 0;
    int delivered = 0; // changes up to here are on the host
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QObject::connect(&publisher, &OnlinePublisher::Uploaded, &loop, [&](const QByteArray& json) {
        const qint64 now = clock.nsecsElapsed();
        const int number = json.left(json.indexOf(' ')).toInt();
        if (number < 0) // the warm-up state
            return;
        ++uploads;
        for (; delivered <= number; ++delivered)
            latency.push_back(now - sent[size_t(delivered)]);
        if (delivered == changes)
            loop.quit();
    });
    // The page goes up with the first state: keep it out of the figures.
    publisher.Publish("-1 " + padding);
    {
        QEventLoop warm;
        QObject::connect(&publisher, &OnlinePublisher::Uploaded, &warm, &QEventLoop::quit);
        QTimer::singleShot(10000, &warm, &QEventLoop::quit);
        warm.exec();
    }
    int next = 0;
    QTimer pace;
    pace.setInterval(intervalMs);
    QObject::connect(&pace, &QTimer::timeout, &loop, [&] {
        sent[size_t(next)] = clock.nsecsElapsed();
        publisher.Publish(QByteArray::number(next) + ' ' + padding);
        if (++next == changes)
            pace.stop();
    });
    pace.start();
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    if (latency.size() < size_t(changes)) {
        std::printf("%s: only %zu of %d changes arrived\n", label, latency.size(), changes);
        return;
    }
    std::sort(latency.begin(), latency.end());
    const auto ms = [](qint64 ns) { return double(ns) / 1e6; };
    std::printf("%-24s changes %d  uploads %d  change→host ms: median %.1f  99%% %.1f  worst %.1f\n", label,
                changes, uploads, ms(latency[latency.size() / 2]), ms(latency[latency.size() * 99 / 100]),
                ms(latency.back()));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int changes = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 200;
    LoopbackWebDav webdav;
    if (!webdav.Prepare() || !webdav.Start()) {
        std::printf("nginx could not be started\n");
        return 1;
    }
    // About the size of a race's results: 150 rows of 13 cells.
    const QByteArray results(150 * 13 * 12, 'x');
    Run(webdav, "race pace (burst)", changes, 0, results);
    Run(webdav, "20 per second", changes, 50, results);
    return 0;
}
