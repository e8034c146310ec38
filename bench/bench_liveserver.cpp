// Live results to many phones on loopback: 200 event-stream clients, each
// update published once; how long until every client has it (median, 99 %,
// worst over all clients and updates) and the CPU one update costs the
// program. Then bench_comport's stamp figures run twice in child processes,
// once alone and once while the clients are connected and updates go out
// every 100 ms, and their ratio.
//
//   bench_liveserver [clients] [updates]   (default 200 clients, 100 updates)
#include "LiveClient.h"
#include "LiveServer.h"
#include "ProcessCpu.h"
#include "ResultsJson.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A protocol of 60 starters, the update's number in the first name.
QByteArray Results(int update)
{
    LiveSnapshot snapshot;
    snapshot.title = QStringLiteral("Seifenkistenrennen");
    for (int i = 0; i < 60; ++i)
        snapshot.rows << QStringList{QString::number(i + 1), "Muster", QStringLiteral("U%1").arg(update), "SC",
                                     "A", "31,25", "30,80", "", "", "", "", "62,05", QString::number(i + 1)};
    return ResultsJson(snapshot);
}

void Serve(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// "single edges ... median X" and the like from bench_comport's output.
QMap<QString, double> Medians(const QByteArray& output)
{
    QMap<QString, double> medians;
    static const QRegularExpression line(QStringLiteral("^(\\S.*?)\\s+min\\s+\\S+\\s+median\\s+(\\S+)"));
    for (const QByteArray& text : output.split('\n')) {
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
        if (match.hasMatch())
            medians.insert(match.captured(1).trimmed(), match.captured(2).toDouble());
    }
    return medians;
}

QByteArray RunComport()
{
    QProcess child;
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_comport"), {QStringLiteral("300")});
    while (!child.waitForFinished(50))
        QCoreApplication::processEvents(); // the clients keep reading meanwhile
    return child.readAllStandardOutput();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int clients = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int updates = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;

    const QByteArray alone = RunComport();

    TLiveServer server;
    QString error;
    if (!server.Start(0, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::vector<std::unique_ptr<StreamReader>> readers;
    for (int i = 0; i < clients; ++i)
        readers.push_back(std::make_unique<StreamReader>(server.Port()));
    QElapsedTimer waited;
    waited.start();
    while (server.StreamClients() < clients && waited.elapsed() < 20000)
        Serve(10);
    std::printf("%d event-stream clients connected\n", server.StreamClients());

    std::vector<double> latencies;
    double cpu = 0;
    for (int update = 1; update <= updates; ++update) {
        std::vector<std::size_t> before;
        for (const auto& reader : readers)
            before.push_back(std::size_t(reader->events.size()));
        std::vector<bool> arrived(readers.size(), false);
        const double cpuBefore = ProcessCpuSeconds();
        const Clock::time_point sent = Clock::now();
        server.Publish(Results(update));
        std::size_t done = 0;
        while (done < readers.size() && Clock::now() - sent < std::chrono::seconds(10)) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            for (std::size_t i = 0; i < readers.size(); ++i) {
                if (!arrived[i] && std::size_t(readers[i]->events.size()) > before[i]) {
                    arrived[i] = true;
                    ++done;
                    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                }
            }
        }
        cpu += ProcessCpuSeconds() - cpuBefore;
        if (done < readers.size())
            std::printf("update %d: %zu clients never got it\n", update, readers.size() - done);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) { return latencies[std::size_t(share * double(latencies.size() - 1))]; };
    std::printf("update to every client: median %.2f ms  99%% %.2f ms  worst %.2f ms  (%zu deliveries)\n",
                at(0.5), at(0.99), latencies.back(), latencies.size());
    std::printf("CPU per update (server and %d clients in this process): %.2f ms\n", clients,
                1000.0 * cpu / updates);

    QTimer ticker;
    int update = updates;
    QObject::connect(&ticker, &QTimer::timeout, [&] { server.Publish(Results(++update)); });
    ticker.start(100);
    const QByteArray busy = RunComport();
    ticker.stop();
    const QMap<QString, double> quiet = Medians(alone);
    const QMap<QString, double> loaded = Medians(busy);
    std::printf("bench_comport medians, alone -> with %d clients and an update every 100 ms:\n", clients);
    for (auto it = quiet.cbegin(); it != quiet.cend(); ++it) {
        const double with = loaded.value(it.key(), -1);
        std::printf("  %-46s %8.1f -> %8.1f us  (x %.2f)\n", qPrintable(it.key()), it.value(), with,
                    it.value() > 0 ? with / it.value() : 0.0);
    }
    return 0;
}
