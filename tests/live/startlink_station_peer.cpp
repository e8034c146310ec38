#include "StartLinkCodec.h"
#include "StartLinkPort.h"
#include "TickSource.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

// The start station's end of tst_startlinktwoprocess: the real station link
// (socket, poll, clock agreement, outbox) in a process of its own, which the test
// starts under libfaketime so that its monotonic clock is off and runs fast.
//
//   startlink_station_peer <finish host:port> <pairing code>
//
// stdin, one command a line: "edge" stamps a start edge now, "quit" ends.
// stdout: "edge <station µs> <system µs>" for each edge, and every 100 ms
// "link <uncertainty µs> <good 0|1> <starts waiting>".

namespace {

// Straight to the kernel, past libfaketime's clock_gettime: the clock the finish
// (the test) stamps with, so the test can tell the true moment of an edge.
qint64 SystemMonotonicUs()
{
    timespec ts{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: startlink_station_peer <host:port> <pairing code>\n");
        return 2;
    }
    const FinishAddress finish = ParseFinishAddress(args.at(1));
    const PairingCodeCheck code = NormalisePairingCode(args.at(2));
    if (!finish.error.isEmpty() || !code.error.isEmpty()) {
        std::fprintf(stderr, "%s%s\n", qPrintable(finish.error), qPrintable(code.error));
        return 2;
    }
    std::uint64_t session = 0;
    while (session == 0)
        session = QRandomGenerator::system()->generate64();
    TStationStartLinkPort station(StartLinkKey(code.code), session, MonotonicMicroseconds);
    QString error;
    if (!station.Open(finish.host, finish.port, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }

    QTimer report;
    QObject::connect(&report, &QTimer::timeout, &app, [&station] {
        const qint64 now = station.Now();
        const TClockAgreement& agreement = station.Link().Agreement();
        std::printf("link %lld %d %d\n",
                    agreement.HasEstimate() ? static_cast<long long>(agreement.UncertaintyUs(now)) : -1LL,
                    agreement.IsGood(now) ? 1 : 0, int(station.Link().Outbox().Pending().size()));
        std::fflush(stdout);
    });
    report.start(100);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t size = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (size <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, size);
        qsizetype end = 0;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray command = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (command == "quit") {
                app.quit();
            } else if (command == "edge") {
                // The stamp between two readings of the system's clock that lie close
                // together: a preemption in between would make the truth unsure.
                qint64 before = 0;
                qint64 stamp = 0;
                qint64 after = 0;
                for (int attempt = 0; attempt < 100; ++attempt) {
                    before = SystemMonotonicUs();
                    stamp = station.Now();
                    after = SystemMonotonicUs();
                    if (after - before <= 50)
                        break;
                }
                station.Edge(stamp);
                std::printf("edge %lld %lld\n", static_cast<long long>(stamp),
                            static_cast<long long>(before + (after - before) / 2));
                std::fflush(stdout);
            }
        }
    });
    return app.exec();
}
