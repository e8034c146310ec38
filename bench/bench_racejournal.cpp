// Prints what the race journal adds to each recorded time (with 100 and 10,000
// starters), how long the start-up takes to restore a journal of 10,000 and of
// 100,000 starters with 2,000 recorded times, and how long a name edit in a
// list of 100,000 starters takes up to the lane lists showing it.
#include "FormMainAccess.h"
#include "GeneratedStarterList.h"
#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "SessionJournal.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestAccess.h"
#include "TestDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace {

QTemporaryDir* gDir = nullptr;

std::unique_ptr<TTestFormMain> Window(bool journal)
{
    TSystemAccess access = TestAccess(gDir->filePath(QStringLiteral("settings.ini")));
    if (journal)
        access.JournalFolder = gDir->filePath(QStringLiteral("journal"));
    auto window = std::make_unique<TTestFormMain>(access);
    window->show();
    return window;
}

// Microseconds per recorded time over runs of two lanes each, taken in turn
// on a window without and one with a journal, so both see the same machine load.
std::array<double, 2> RunCost(std::array<TTestFormMain*, 2> windows, int runs)
{
    QElapsedTimer timer;
    std::array<qint64, 2> ns{0, 0};
    std::uint32_t tick = 1000;
    for (int run = 0; run < runs; ++run) {
        for (int w = 0; w < 2; ++w) {
            TTestFormMain& window = *windows.at(w);
            window.TriggerCommand(window.mStart, tick);
            timer.start();
            window.TriggerCommand(window.mSTOP1, tick + 20000 + run);
            window.TriggerCommand(window.mStop2, tick + 21000 + run);
            ns.at(w) += timer.nsecsElapsed();
            window.TriggerCommand(window.mReset);
        }
        tick += 60000;
    }
    return {double(ns[0]) / 1000.0 / (2.0 * runs), double(ns[1]) / 1000.0 / (2.0 * runs)};
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir dir;
    gDir = &dir;
    // Two windows at once: the dialogs are installed for both, not by either.
    TestDialogs dialogs;
    const DialogsScope useDialogs(dialogs);

    for (int starters : {100, 10000}) {
        const QString list = dir.filePath(QStringLiteral("list%1.csv").arg(starters));
        WriteGeneratedStarterList(list, starters);
        auto plain = Window(false);
        auto journalled = Window(true);
        plain->LoadStarterList(list);
        journalled->LoadStarterList(list);
        const std::array<double, 2> cost =
            RunCost({plain.get(), journalled.get()}, starters == 100 ? 200 : 40);
        plain->SetUnsaved(false);
        journalled->SetUnsaved(false);
        journalled.reset();
        // The journal's own part: the two records a lane stop writes.
        auto window = Window(true);
        window->LoadStarterList(list);
        JournalRecord stop;
        stop.type = JournalRecordType::LaneStop;
        stop.lane = 1;
        JournalRecord cell;
        cell.type = JournalRecordType::Cell;
        cell.change = JournalCellChange::Time;
        cell.column = ColLauf3;
        cell.text = QStringLiteral("23,45");
        const int records = 2000;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < records; ++i) {
            stop.tick = std::uint32_t(i);
            cell.loadOrder = window->SortGrid1->Cells(ColLoadOrder, 1 + i % starters);
            window->Journal()->Append(stop);
            window->Journal()->Append(cell);
        }
        const double direct = double(timer.nsecsElapsed()) / 1000.0 / records;
        window->SetUnsaved(false);
        std::printf("%6d starters: lane stop %8.1f us without journal, %8.1f us with (difference %+.1f us); "
                    "journal records per recorded time %.1f us (target < 1000 us)\n",
                    starters, cost[0], cost[1], cost[1] - cost[0], direct);
    }

    // Restoring 10,000 and 100,000 starters with 2,000 times: a journal as
    // 1,000 two-lane runs leave it.
    for (int starters : {10000, 100000}) {
        const QString list = dir.filePath(QStringLiteral("list%1.csv").arg(starters));
        if (!QFile::exists(list))
            WriteGeneratedStarterList(list, starters);
        QDir(dir.filePath(QStringLiteral("journal"))).removeRecursively();
        auto window = Window(true);
        window->LoadStarterList(list);
        TRaceJournal* journal = window->Journal();
        // The runs as the session journals them: each command as it was taken.
        std::uint32_t tick = 1000;
        for (int run = 0; run < 1000; ++run) {
            journal->Append(CommandRecord({.kind = SessionCommand::Start, .tick = tick}));
            for (int lane = 1; lane <= 2; ++lane)
                journal->Append(CommandRecord({.kind = SessionCommand::Stop,
                                               .lane = lane,
                                               .tick = tick + 20000 + std::uint32_t(lane)}));
            journal->Append(CommandRecord({.kind = SessionCommand::Reset}));
            tick += 60000;
        }
        journal->Append(CommandRecord({.kind = SessionCommand::Rank}));
        window.reset();

        dialogs.answers.enqueue(true);
        auto restored = Window(true);
        QElapsedTimer timer;
        timer.start();
        restored->RestoreLastSession();
        const qint64 ms = timer.elapsed();
        int times = 0;
        for (int row = 1; row < restored->SortGrid1->RowCount(); ++row)
            times += restored->SortGrid1->Cells(ColLauf1, row).isEmpty() ? 0 : 1;
        std::printf("restore of %d starters and 2000 times: %lld ms (target < %d ms), %d times back\n",
                    starters, static_cast<long long>(ms), starters > 10000 ? 3000 : 1000, times);

        if (starters == 100000) {
            // A name edit in the grid's editor, up to the lane lists showing it.
            restored->cbEditON->click();
            double worst = 0;
            double total = 0;
            const int edits = 20;
            for (int i = 0; i < edits; ++i) {
                const int row = 1 + (i * 4999) % starters;
                restored->SortGrid1->GotoCell(ColName, row, true);
                restored->SortGrid1->SetEditorMode(true);
                restored->SortGrid1->InplaceEditor()->setText(QStringLiteral("Neuname%1").arg(i));
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                timer.start();
                QCoreApplication::sendEvent(restored->SortGrid1->InplaceEditor(), &enter);
                QCoreApplication::processEvents();
                const double editMs = double(timer.nsecsElapsed()) / 1e6;
                worst = std::max(worst, editMs);
                total += editMs;
            }
            const bool shown =
                restored->cbBuhn1->findText(QStringLiteral("Neuname0"), Qt::MatchContains) >= 0;
            std::printf("name edit in %d starters: %.1f ms on average, %.1f ms at most (target < 50 ms), "
                        "lane lists follow: %s\n",
                        starters, total / edits, worst, shown ? "yes" : "no");
        }
        restored->SetUnsaved(false);
    }
    return 0;
}
