// Prints how far the start station's clock agreement is off the finish's true
// clock over 10 simulated minutes: offset 1 s, drift 100 ppm, delays of 2.0 ms
// forward and 2.6 ms back (or 2.3 ms both), jitter ±20 ms, 10 % loss and a 10 s
// outage in the fifth minute; probes at 10 per second. The error is taken every
// 100 ms after a 60 s warm-up, for the moment itself and for a stamp 5 s back,
// over five seeds, with the largest uncertainty the agreement gave after two
// minutes and how often the error (less the asymmetry) exceeded its uncertainty.
// The asymmetric rows include the asymmetry's unobservable 0.3 ms. Last, the time
// one answer takes to fold in (the whole window is fitted anew each time).
#include "ClockAgreement.h"
#include "SimulatedClockLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct BenchCase
{
    const char* name;
    LinkConditions link;
};

double Quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, std::size_t(q * double(values.size()))));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 minute = 60'000'000;
    LinkConditions base;
    base.offsetUs = 1'000'000;
    base.drift = 100e-6;
    base.jitterUs = 20'000;
    base.loss = 0.10;
    base.outageFromUs = 5 * minute;
    base.outageUs = 10'000'000;
    LinkConditions symmetric = base;
    symmetric.forwardDelayUs = 2300;
    symmetric.backwardDelayUs = 2300;
    LinkConditions asymmetric = base;
    asymmetric.forwardDelayUs = 2000;
    asymmetric.backwardDelayUs = 2600;
    LinkConditions backwards = asymmetric;
    backwards.offsetUs = -1'000'000;
    backwards.drift = -100e-6;
    // A relay or driver delivering on a millisecond timer.
    LinkConditions steps = symmetric;
    steps.delayStepUs = 1000;
    const BenchCase cases[] = {{"2,3/2,3 ms, +1 s, +100 ppm", symmetric},
                               {"2,0/2,6 ms, +1 s, +100 ppm", asymmetric},
                               {"2,0/2,6 ms, -1 s, -100 ppm", backwards},
                               {"2,3/2,3 ms, 1-ms-Schritte", steps}};

    std::printf("Uhrabgleich, 10 Minuten, Jitter ±20 ms, 10 %% Verlust, 10 s Ausfall, 5 Seeds\n");
    std::printf("%-28s %9s %9s %9s %9s %9s %11s\n", "Fall", "Median", "99 %", "max", "max 5 s", "U ab 2 min",
                "Fehler>U");
    for (const BenchCase& c : cases) {
        std::vector<double> errors;
        std::vector<double> pastErrors;
        double worstUncertainty = 0;
        int beyond = 0;
        const double asymmetryShift = double(c.link.forwardDelayUs - c.link.backwardDelayUs) / 2;
        for (quint32 seed = 1; seed <= 5; ++seed) {
            SimulatedClockLink link(c.link, seed);
            TClockAgreement agreement;
            RunClockLink(link, agreement, 10 * minute, 100'000, [&](qint64 now) {
                if (now < SimulatedClockLink::StationZeroUs + 60'000'000)
                    return;
                const double error = double(agreement.RemoteForLocal(now) - link.FinishClock(now));
                const double past =
                    double(agreement.RemoteForLocal(now - 5'000'000) - link.FinishClock(now - 5'000'000));
                errors.push_back(std::abs(error));
                pastErrors.push_back(std::abs(past));
                const double uncertainty = double(agreement.UncertaintyUs(now));
                if (now >= SimulatedClockLink::StationZeroUs + 2 * minute)
                    worstUncertainty = std::max(worstUncertainty, uncertainty);
                if (std::abs(error - asymmetryShift) > uncertainty)
                    ++beyond;
            });
        }
        std::printf("%-28s %6.3f ms %6.3f ms %6.3f ms %6.3f ms %6.3f ms %5d/%zu\n", c.name,
                    Quantile(errors, 0.5) / 1000, Quantile(errors, 0.99) / 1000,
                    *std::max_element(errors.begin(), errors.end()) / 1000,
                    *std::max_element(pastErrors.begin(), pastErrors.end()) / 1000, worstUncertainty / 1000,
                    beyond, errors.size());
    }
    SimulatedClockLink link(asymmetric, 1);
    TClockAgreement agreement;
    int answers = 0;
    QElapsedTimer timer;
    timer.start();
    RunClockLink(link, agreement, 10 * minute, 100'000, [&](qint64) { ++answers; });
    std::printf("Rechenzeit: %.1f µs je Probe (mit Simulation), %d Antworten im Fenster\n",
                double(timer.nsecsElapsed()) / 1000 / answers, agreement.SampleCount());
    return 0;
}
