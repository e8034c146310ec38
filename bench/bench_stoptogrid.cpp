// How long a lane stop takes on the GUI thread until the protocol grid shows the
// time: from the stop command with its tick (as a light barrier's edge gives it)
// through recording, the plausibility check, the journal and, after the second
// lane, the ranking, to the grid's repaint. Lists of 40, 1,000 and 10,000
// starters, a journal written as on race day; median, 99 % and worst per stop,
// the first and the second lane of a pair apart.
//
//   bench_stoptogrid [pairs]   (default 200)
#include "FormMainAccess.h"
#include "GeneratedStarterList.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestAccess.h"
#include "TestDialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

void Print(const char* label, int starters, std::vector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    const auto ms = [](qint64 v) { return double(v) / 1e6; };
    std::printf("%6d starters, %-12s stop→grid ms: median %7.3f  99%% %7.3f  worst %7.3f  (%zu stops)\n",
                starters, label, ms(ns[ns.size() / 2]), ms(ns[ns.size() * 99 / 100]), ms(ns.back()),
                ns.size());
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const int pairs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 200;
    QTemporaryDir dir;
    TestDialogs dialogs;
    const DialogsScope useDialogs(dialogs);

    for (int starters : {40, 1000, 10000}) {
        const QString list = dir.filePath(QStringLiteral("list%1.csv").arg(starters));
        WriteGeneratedStarterList(list, starters);
        TSystemAccess access = TestAccess(dir.filePath(QStringLiteral("settings%1.ini").arg(starters)));
        access.JournalFolder = dir.filePath(QStringLiteral("journal%1").arg(starters));
        auto window = std::make_unique<TTestFormMain>(access);
        window->resize(1024, 700);
        window->show();
        window->LoadStarterList(list);
        QApplication::processEvents();

        std::vector<qint64> first;
        std::vector<qint64> second;
        QElapsedTimer timer;
        std::uint32_t tick = 1000;
        const auto stop = [&](QAction* command, std::uint32_t at, std::vector<qint64>& into) {
            timer.start();
            window->TriggerCommand(command, at);
            window->SortGrid1->viewport()->repaint();
            into.push_back(timer.nsecsElapsed());
        };
        for (int pair = 0; pair < pairs; ++pair) {
            window->TriggerCommand(window->mStart, tick);
            stop(window->mSTOP1, tick + 20000 + std::uint32_t(pair % 500) * 10, first);
            stop(window->mStop2, tick + 21000 + std::uint32_t(pair % 300) * 10, second);
            window->TriggerCommand(window->mReset);
            QApplication::processEvents();
            tick += 60000;
        }
        Print("first lane", starters, first);
        Print("second lane", starters, second);
        window->SetUnsaved(false);
    }
    return 0;
}
