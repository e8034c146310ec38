// The delay the start station adds on loopback: from a start edge handed to
// the station's port until the finish's session has the run going (the
// datagram's way, the poll, the decoding and the session's command). The
// clocks are one here, so the agreement itself adds nothing; the figure is
// what the link costs beyond the network's own delay.
#include "RaceSession.h"
#include "StartLinkPort.h"
#include "TickSource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray key = StartLinkKey(NormalisePairingCode(QStringLiteral("ABCD-EFGH-JKLM-NPQR")).code);
    TFinishStartLinkPort finish(key, MonotonicMicroseconds);
    QString error;
    if (!finish.Listen(0, &error, QHostAddress::LocalHost)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    TStationStartLinkPort station(key, 77, MonotonicMicroseconds);
    if (!station.Open(QHostAddress::LocalHost, finish.Port(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    TRaceSession session;
    session.SetStationPaired(true);
    qint64 started = 0;
    QObject::connect(&finish, &TFinishStartLinkPort::StartArrived, [&](const StartLinkDatagram& start) {
        session.StationStart(TickOfMicroseconds(start.finishStampUs),
                             QStringLiteral("%1:%2").arg(start.originSession).arg(start.originSequence),
                             start.clockGood, TickSource().GetTickCount());
    });
    QObject::connect(&session, &TRaceSession::RunStarted, [&] { started = MonotonicMicroseconds(); });
    const auto spin = [](const std::function<bool()>& done, int ms) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    };
    if (!spin([&] { return station.Link().Agreement().IsGood(station.Now()); }, 30000)) {
        std::fprintf(stderr, "no clock agreement\n");
        return 1;
    }
    std::vector<qint64> delays;
    for (int run = 0; run < 200; ++run) {
        session.ArmBarrier(1, true);
        started = 0;
        const qint64 edge = MonotonicMicroseconds();
        station.Edge(edge);
        if (!spin([&] { return started != 0; }, 5000)) {
            std::fprintf(stderr, "start %d did not arrive\n", run);
            return 1;
        }
        delays.push_back(started - edge);
        session.Stop(1, TickSource().GetTickCount());
        session.Stop(2, TickSource().GetTickCount());
        session.Reset();
    }
    std::sort(delays.begin(), delays.end());
    std::printf("start edge at the station to the finish's run going, loopback, %zu starts:\n"
                "  median %lld us, 95th percentile %lld us, max %lld us\n",
                delays.size(), delays[delays.size() / 2], delays[delays.size() * 95 / 100], delays.back());
    return 0;
}
