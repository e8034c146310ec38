#include "ActiveWindow.h"
#include "FakeSerialDevice.h"
#include "FakeTickSource.h"
#include "FileSizeLimit.h"
#include "FormMainAccess.h"
#include "LateEntryDialog.h"
#include "ProgramWindows.h"
#include "ProtocolLogic.h"
#include "ProtocolText.h"
#include "RaceJournal.h"
#include "SerialPorts.h"
#include "TBitBtnWithColor.h"
#include "TComPort.h"
#include "TDigit.h"
#include "TFDlgYesNo.h"
#include "TFormMain.h"
#include "TSettings.h"
#include "TSortGrid.h"
#include "TestAccess.h"
#include "TestDialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

// The main window's race journal: what a killed session leaves behind, and
// what the next start makes of it. The killed sessions run in a child process
// started from this test program.

namespace {

const QString kQuestion =
    QStringLiteral("Die letzte Sitzung wurde nicht beendet. Zeitenprotokoll wiederherstellen?");
const QByteArray kStarters = "Nr.;Name;Vorname;Verein;Klasse\r\n"
                             "1;Adler;Anna;SC Nord;A\r\n2;Berg;Bruno;SC Nord;A\r\n3;Christ;Clara;TV Ost;B\r\n"
                             "4;Dorn;David;TV Ost;A\r\n5;Eck;Emil;SV West;B\r\n6;Fink;Frida;SV West;B\r\n"
                             "7;Gold;Gero;SC Nord;A\r\n";

TSystemAccess Access(const QString& folder, const QString& bootId, IDialogs* dialogs, ITickSource* ticks)
{
    TSystemAccess access = TestAccess(QDir(folder).absoluteFilePath(QStringLiteral("../settings.ini")));
    access.Dialogs = dialogs;
    access.Ticks = ticks;
    access.JournalFolder = folder;
    access.BootId = [bootId] { return bootId; };
    return access;
}

void Run(TTestFormMain& window, std::uint32_t start, std::uint32_t lane1, std::uint32_t lane2,
         bool reset = true)
{
    window.TriggerCommand(window.mStart, start);
    window.TriggerCommand(window.mSTOP1, start + lane1);
    window.TriggerCommand(window.mStop2, start + lane2);
    if (reset)
        window.TriggerCommand(window.mReset);
}

QByteArray ProtocolText(const TTestFormMain& window)
{
    return ProtocolTextBytes(window.ProtocolRows(), ProtocolColumnCount);
}

// The child: a session that is killed once it has printed READY. It writes
// what it would have saved, and its lane selections, beside the journal.
int RunChild(const QStringList& args)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString mode = args.at(0);
    const QString folder = args.at(1);
    const QString list = args.at(2);
    TestDialogs dialogs;
    if (mode == QLatin1String("restore")) {
        // Restores the session in the folder and stops at step number args[3]
        // (counted from 1) until it is killed; prints every step it passes.
        const int stopAt = args.value(3).toInt();
        int steps = 0;
        TSystemAccess access = Access(folder, QStringLiteral("boot-A"), &dialogs, nullptr);
        access.RestoreStep = [&steps, stopAt](const QString& step) {
            ++steps;
            std::printf("STEP %d %s\n", steps, qPrintable(step));
            std::fflush(stdout);
            if (steps == stopAt) {
                std::printf("AT %d\n", steps);
                std::fflush(stdout);
                std::fgetc(stdin); // held here until the test kills this process
            }
        };
        dialogs.answers.enqueue(true);
        TTestFormMain window(access);
        window.show();
        window.RestoreLastSession();
        std::printf("DONE %d\n", steps);
        std::fflush(stdout);
        return 0;
    }
    TTestFormMain window(Access(folder, QStringLiteral("boot-A"), &dialogs, nullptr));
    window.show();
    if (!window.LoadStarterList(list))
        return 2;
    if (mode == QLatin1String("load-over")) {
        Run(window, 1000, 12340, 13450);
        // A second list over the unsaved times: a load asks nothing.
        if (!window.LoadStarterList(args.value(3)))
            return 2;
    } else if (mode == QLatin1String("one-run")) {
        Run(window, 1000, 12340, 13450);
    } else if (mode == QLatin1String("three-runs")) {
        Run(window, 1000, 12340, 13450);
        Run(window, 40000, 11110, 10990, false);
        window.sb2del->click(); // lane 2 of the second run is eliminated
        window.TriggerCommand(window.mReset);
        Run(window, 90000, 9870, 15000);
    } else {
        window.TriggerCommand(window.mStart, 5000);
        window.TriggerCommand(window.mSTOP1, 12250);
    }
    QFile expected(QDir(folder).absoluteFilePath(QStringLiteral("../expected.txt")));
    if (!expected.open(QIODevice::WriteOnly))
        return 3;
    expected.write(ProtocolText(window));
    expected.write(QByteArray::number(window.cbBuhn1->currentIndex()) + ' ' +
                   QByteArray::number(window.cbBuhn2->currentIndex()));
    expected.close();
    std::printf("READY\n");
    std::fflush(stdout);
    return QApplication::exec();
}

} // namespace

class TestFormMainJournal : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakeTickSource> clock;
    std::unique_ptr<TestDialogs> dialogs;
    std::unique_ptr<TTestFormMain> window;

    QString Folder() const { return dir->filePath(QStringLiteral("journal")); }
    QString ListFile() const { return dir->filePath(QStringLiteral("Sommerrennen.csv")); }

    void Open(const QString& bootId = QStringLiteral("boot-A"), const QString& folder = QString())
    {
        window.reset();
        window = std::make_unique<TTestFormMain>(
            Access(folder.isEmpty() ? Folder() : folder, bootId, dialogs.get(), clock.get()));
        QVERIFY(ShowActive(*window));
    }

    QStringList JournalFiles() const
    {
        return QDir(Folder()).entryList({QStringLiteral("*.qxj")}, QDir::Files, QDir::Time);
    }

    QByteArray JournalBytes() const
    {
        QFile file(QDir(Folder()).absoluteFilePath(JournalFiles().value(0)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Runs a child session, kills it with SIGKILL once it is ready, and returns
    // what it would have saved followed by its lane selections.
    QByteArray KilledSession(const QString& mode)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--journal-child"), mode, Folder(), ListFile()});
        if (!child.waitForStarted(10000))
            return {};
        QByteArray output;
        while (!output.contains("READY") && child.waitForReadyRead(20000))
            output += child.readAllStandardOutput();
        child.kill();
        child.waitForFinished(10000);
        if (!output.contains("READY") || child.exitStatus() != QProcess::CrashExit)
            return {};
        QFile expected(dir->filePath(QStringLiteral("expected.txt")));
        return expected.open(QIODevice::ReadOnly) ? expected.readAll() : QByteArray();
    }

    // Starts children at once and kills each with SIGKILL once it is ready.
    bool KilledSessions(const QStringList& modes, const QString& extra = QString())
    {
        std::vector<std::unique_ptr<QProcess>> children;
        for (const QString& mode : modes) {
            auto child = std::make_unique<QProcess>();
            child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            QStringList args{QStringLiteral("--journal-child"), mode, Folder(), ListFile()};
            if (!extra.isEmpty())
                args.append(extra);
            child->start(QCoreApplication::applicationFilePath(), args);
            if (!child->waitForStarted(10000))
                return false;
            children.push_back(std::move(child));
        }
        bool allReady = true;
        for (auto& child : children) {
            QByteArray output;
            while (!output.contains("READY") && child->waitForReadyRead(20000))
                output += child->readAllStandardOutput();
            allReady = allReady && output.contains("READY");
        }
        for (auto& child : children) {
            child->kill();
            child->waitForFinished(10000);
            allReady = allReady && child->exitStatus() == QProcess::CrashExit;
        }
        return allReady;
    }

    // A restoring child held at step stopAt and killed there. Returns the
    // steps it printed; stopAt beyond the last step lets it finish.
    QStringList RestoreKilledAt(int stopAt, bool* finished)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--journal-child"), QStringLiteral("restore"), Folder(), ListFile(),
                     QString::number(stopAt)});
        if (!child.waitForStarted(10000))
            return {};
        QByteArray output;
        while (!output.contains("AT ") && !output.contains("DONE") && child.waitForReadyRead(20000))
            output += child.readAllStandardOutput();
        *finished = output.contains("DONE");
        if (*finished) {
            child.waitForFinished(10000);
            output += child.readAllStandardOutput();
        } else {
            child.kill();
            child.waitForFinished(10000);
        }
        QStringList steps;
        for (const QByteArray& line : output.split('\n')) {
            if (line.startsWith("STEP "))
                steps.append(QString::fromUtf8(line.mid(5)));
        }
        return steps;
    }

    // The protocol as a journal's replay leaves it: by load order, the cells
    // the operator and the runs write.
    static QMap<QString, QStringList> Content(const JournalReplay& replay)
    {
        QMap<QString, QStringList> content;
        for (const QStringList& cells : replay.rows)
            content.insert(cells.value(ColLoadOrder), cells.mid(0, ColLauf6 + 1));
        return content;
    }

    std::vector<JournalFinding> Offered() const
    {
        std::vector<JournalFinding> offered;
        for (JournalFinding& found : FindJournals(Folder(), QDateTime::currentDateTime())) {
            if (found.replay.HoldsChanges())
                offered.push_back(std::move(found));
        }
        return offered;
    }

    void CopyFolder(const QString& from, const QString& to)
    {
        QDir(to).removeRecursively();
        QDir().mkpath(to);
        for (const QString& name : QDir(from).entryList(QDir::Files))
            QFile::copy(QDir(from).absoluteFilePath(name), QDir(to).absoluteFilePath(name));
    }

    QString Cell(int col, int row) const { return window->SortGrid1->Cells(col, row); }
    int RowOf(const QString& nr) const
    {
        for (int row = 1; row < window->SortGrid1->RowCount(); ++row) {
            if (Cell(ColNr, row) == nr)
                return row;
        }
        return -1;
    }
    int TimesInProtocol() const
    {
        int times = 0;
        for (int row = 1; row < window->SortGrid1->RowCount(); ++row) {
            for (int col = ColLauf1; col <= ColLauf6; ++col)
                times += Cell(col, row).isEmpty() ? 0 : 1;
        }
        return times;
    }

    // A session in this process: two runs, the second with lane 1 stopped at 7,00.
    void SessionLeftOpen()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 10000, 11000);
        window->TriggerCommand(window->mStart, 30000);
        window->TriggerCommand(window->mSTOP1, 37000);
        window.reset();
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QFile list(ListFile());
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(kStarters);
        list.close();
        clock = std::make_unique<FakeTickSource>(1000);
        dialogs = std::make_unique<TestDialogs>();
    }

    void cleanup()
    {
        window.reset();
        dialogs.reset();
        clock.reset();
        dir.reset();
    }

    void killedAfterThreeRunsRestoresEverything()
    {
        const QByteArray expected = KilledSession(QStringLiteral("three-runs"));
        QVERIFY(!expected.isEmpty());
        const qsizetype split = expected.lastIndexOf('\n') + 1;
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions, QStringList({kQuestion}));
        QCOMPARE(ProtocolText(*window), expected.left(split));
        QCOMPARE(QByteArray::number(window->cbBuhn1->currentIndex()) + ' ' +
                     QByteArray::number(window->cbBuhn2->currentIndex()),
                 expected.mid(split));
        QCOMPARE(Cell(ColLauf1, RowOf(QStringLiteral("4"))), QStringLiteral("EL"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: Sommerrennen"));
        QVERIFY(window->Session().Modified());
        QVERIFY(window->bSTART->isEnabled());
        QVERIFY(dialogs->messages.isEmpty());

        // The next start finds the restored session in its own journal, not the old one twice.
        window.reset();
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.size(), 2);
        QCOMPARE(ProtocolText(*window), expected.left(split));
    }

    void aLateEntryAndHisTimeSurviveAKill()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 10000, 11000);
        dialogs->modalAnswers.enqueue([](QDialog& shown) {
            auto& entry = static_cast<TLateEntryDialog&>(shown);
            entry.editName->setText(QStringLiteral("Zorn"));
            entry.editVorname->setText(QStringLiteral("Zoe"));
            entry.cbKlasse->setEditText(QStringLiteral("B"));
            entry.accept();
        });
        window->mLateEntry->trigger();
        QCOMPARE(RowOf(QStringLiteral("8")), 8);
        window->cbBuhn2->setCurrentIndex(7);
        Run(*window, 30000, 9000, 9500, false);
        QCOMPARE(Cell(ColLauf1, 8), QStringLiteral("9,50"));
        window.reset(); // killed: nothing saved

        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions, QStringList({kQuestion}));
        const int row = RowOf(QStringLiteral("8"));
        QVERIFY(row > 0);
        QCOMPARE(Cell(ColName, row), QStringLiteral("Zorn"));
        QCOMPARE(Cell(ColKlasse, row), QStringLiteral("B"));
        QCOMPARE(Cell(ColLauf1, row), QStringLiteral("9,50"));
        QCOMPARE(window->cbBuhn1->count(), 8);
        QCOMPARE(window->cbBuhn2->currentIndex(), 7);
    }

    void aDeletionRefusedByAStartIsNotJournalled()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        window->SortGrid1->GotoCell(0, 3, true);
        // A start (light barrier or F5) while "Zeile entfernen?" is open.
        dialogs->whileAsking = [this] { window->TriggerCommand(window->mStart, 5000); };
        dialogs->answers.enqueue(true);
        window->sbCLS->click();
        QCOMPARE(window->SortGrid1->RowCount(), 8);
        window->TriggerCommand(window->mSTOP1, 15000);
        window->TriggerCommand(window->mStop2, 16000);
        window.reset(); // killed

        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(window->SortGrid1->RowCount(), 8);
        QCOMPARE(Cell(ColName, RowOf(QStringLiteral("3"))), QStringLiteral("Christ"));
        QCOMPARE(Cell(ColLauf1, RowOf(QStringLiteral("1"))), QStringLiteral("10,00"));
    }

    void killAtAnyStepOfARestoreLeavesTheSessionOffered()
    {
        // A session with three runs, an elimination, a deletion, edits after
        // the last ranking, and lane 2 still timing.
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 12340, 13450);
        Run(*window, 40000, 11110, 10990, false);
        window->sb2del->click();
        window->TriggerCommand(window->mReset);
        window->SortGrid1->GotoCell(0, 5, true);
        dialogs->answers.enqueue(true); // "Zeile entfernen?"
        window->sbCLS->click();
        Run(*window, 90000, 9870, 15000);
        window->TriggerCommand(window->mStart, 120000);
        window->TriggerCommand(window->mSTOP1, 131000);
        for (int row = 1; row < window->SortGrid1->RowCount(); ++row) {
            window->WriteCell(ColVerein, row, QStringLiteral("Verein %1").arg(row));
            window->WriteCell(ColVorname, row, QStringLiteral("Vorname %1").arg(row));
        }
        window.reset();
        const std::vector<JournalFinding> before = Offered();
        QCOMPARE(before.size(), std::size_t(1));
        const QMap<QString, QStringList> expected = Content(before.front().replay);
        QVERIFY(before.front().replay.RunStillTiming());
        QCOMPARE(before.front().replay.TimesInRows(), 6);
        // Row 5's starter was on lane 1: the next run's lane 1 time has no row.
        const auto unplaced = before.front().replay.unplacedTimes;
        QCOMPARE(unplaced.size(), 1);

        const QString original = dir->filePath(QStringLiteral("original"));
        CopyFolder(Folder(), original);
        bool finished = false;
        const QStringList steps = RestoreKilledAt(1000, &finished);
        QVERIFY(finished);
        QVERIFY2(steps.size() >= 20, qPrintable(steps.join(u',')));
        for (int stopAt = 1; stopAt <= steps.size() + 1; ++stopAt) {
            CopyFolder(original, Folder());
            const QStringList passed = RestoreKilledAt(stopAt, &finished);
            QCOMPARE(finished, stopAt > steps.size());
            const QString where = stopAt <= steps.size() ? steps.at(stopAt - 1) : QStringLiteral("finished");
            // The next start offers the session once, with everything.
            const std::vector<JournalFinding> offered = Offered();
            QVERIFY2(offered.size() == 1, qPrintable(where));
            QVERIFY2(Content(offered.front().replay) == expected, qPrintable(where));
            QVERIFY2(offered.front().replay.unplacedTimes == unplaced, qPrintable(where));
            QVERIFY2(offered.front().replay.runOpen && offered.front().replay.laneStopped[0],
                     qPrintable(where));
            QVERIFY2(passed.size() == std::min<qsizetype>(stopAt, steps.size()), qPrintable(where));
        }
    }

    void twoInstancesKilledAreBothOffered()
    {
        QVERIFY(KilledSessions({QStringLiteral("one-run"), QStringLiteral("three-runs")}));
        QCOMPARE(Offered().size(), std::size_t(2));
        dialogs->answers.enqueue(false); // the newer one is kept aside
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.size(), 2);
        for (const QString& question : dialogs->questions) {
            QVERIFY2(question.contains(QStringLiteral("„Sommerrennen“")), qPrintable(question));
            QVERIFY2(question.contains(QStringLiteral(" Zeiten")), qPrintable(question));
        }
        // The newer session was kept aside, the older one restored: each question
        // names its session's times, and the protocol holds those of the second.
        const QRegularExpression timesIn(QStringLiteral("\\((\\d+) Zeiten"));
        const int asideTimes = timesIn.match(dialogs->questions.at(0)).captured(1).toInt();
        const int restoredTimes = timesIn.match(dialogs->questions.at(1)).captured(1).toInt();
        QCOMPARE(QSet<int>({asideTimes, restoredTimes}), QSet<int>({2, 6}));
        QCOMPARE(TimesInProtocol(), restoredTimes);
        // The one set aside is not offered again; the one restored comes from its new journal.
        window.reset();
        QCOMPARE(Offered().size(), std::size_t(1));
        QCOMPARE(QDir(Folder()).entryList({QStringLiteral("Beiseite_*")}, QDir::Files).size(), 2);
    }

    void earlierSessionIsReachableFromTheWindow()
    {
        SessionLeftOpen();
        SessionLeftOpen();
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.size(), 1); // the newest taken, the other stays offered
        QVERIFY(dialogs->questions.at(0).contains(QStringLiteral("„Sommerrennen“")));
        QCOMPARE(TimesInProtocol(), 3);
        // Not while the restored run goes on.
        window->mRestoreSession->trigger();
        QCOMPARE(dialogs->questions.size(), 1);
        window->TriggerCommand(window->mStop2);
        window->TriggerCommand(window->mReset);

        dialogs->answers.enqueue(true);
        window->mRestoreSession->trigger();
        QCOMPARE(dialogs->questions.size(), 2);
        QCOMPARE(TimesInProtocol(), 3);
        window->TriggerCommand(window->mStop2);
        window->TriggerCommand(window->mReset);
        // The session it replaced is unsaved too: offered in its turn, kept aside on "Nein".
        window->mRestoreSession->trigger();
        QCOMPARE(dialogs->questions.size(), 3);
        window->mRestoreSession->trigger();
        QCOMPARE(dialogs->questions.size(), 3);
        QCOMPARE(dialogs->messages.last(),
                 QStringLiteral("Es gibt keine frühere Sitzung mit ungesicherten Zeiten."));
    }

    void loadOverUnsavedTimesKeepsThatSession()
    {
        const QString second = dir->filePath(QStringLiteral("Herbstrennen.csv"));
        QVERIFY(QFile::copy(ListFile(), second));
        QVERIFY(KilledSessions({QStringLiteral("load-over")}, second));
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions, QStringList({kQuestion}));
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: Sommerrennen"));
        QCOMPARE(TimesInProtocol(), 2);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("12,34"));
    }

    void questionIsTheProgramsYesNoDialog()
    {
        SessionLeftOpen();
        // The program's own dialogs, as the program entry installs them.
        TProgramWindows windows(Access(Folder(), QStringLiteral("boot-A"), nullptr, clock.get()));
        QVERIFY(ShowActive(windows.FormMain()));
        QString asked;
        // The real dialog in its real modal loop, answered once it is up.
        const ModalGuard::ExpectedScope expected;
        QTimer answer;
        QElapsedTimer waited;
        waited.start();
        connect(&answer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<TFDlgYesNo*>(QApplication::activeModalWidget())) {
                asked = box->Label1->text();
                box->OKBtn->click();
                answer.stop();
            } else if (waited.elapsed() > 60000 && QApplication::activeModalWidget()) {
                QApplication::activeModalWidget()->close(); // not ours: never wait for ever
            }
        });
        answer.start(10);
        windows.FormMain().RestoreLastSession();
        QCOMPARE(asked, kQuestion);
        TSortGrid* grid = TFormMainTestAccess::Controls(windows.FormMain()).SortGrid1;
        QCOMPARE(grid->Cells(ColLauf1, 1), QStringLiteral("10,00"));
        TFormMainTestAccess::SetUnsaved(windows.FormMain(), false);
    }

    void killedDuringRunGoesOnFromItsStart_data()
    {
        QTest::addColumn<QString>("bootId");
        QTest::addColumn<bool>("resumed");
        QTest::newRow("same boot") << QStringLiteral("boot-A") << true;
        QTest::newRow("machine restarted") << QStringLiteral("boot-B") << false;
    }
    void killedDuringRunGoesOnFromItsStart()
    {
        QFETCH(QString, bootId);
        QFETCH(bool, resumed);
        QVERIFY(!KilledSession(QStringLiteral("lane-1-stopped")).isEmpty());
        clock->Set(25000);
        dialogs->answers.enqueue(true);
        Open(bootId);
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions, QStringList({kQuestion}));
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("7,25"));
        QCOMPARE(window->Clock->isActive(), resumed);
        QCOMPARE(window->bSTOP2->isEnabled(), resumed);
        QVERIFY(!window->bSTOP1->isEnabled());
        QCOMPARE(dialogs->messages.size(), resumed ? 0 : 1);
        if (!resumed) {
            QVERIFY(dialogs->messages.at(0).contains(QStringLiteral("neu gestartet")));
            QVERIFY(window->bSTART->isEnabled());
            return;
        }
        QVERIFY(window->sb1del->isEnabled());
        QVERIFY(!window->TimerGesperrtStart->isActive()); // 20 s after the start the lock is over
        window->TriggerCommand(window->mStop2);
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("20,00"));
        // Timed across the crash: doubtful until confirmed or repeated.
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 2));
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 1));
        QVERIFY2(window->statusBar()->currentMessage().contains(QStringLiteral("über den Neustart gemessen")),
                 qPrintable(window->statusBar()->currentMessage()));
        QCOMPARE(Cell(ColLauf2, 1), QString());
        QVERIFY(window->bRESET->isEnabled());
        window->sb1del->click();
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("EL"));
    }

    void eliminationByKeyComesBackWithItsLane()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        window->TriggerCommand(window->mStart, 30000);
        window->TriggerCommand(window->mEL1, 34000);
        window.reset(); // killed while lane 2 runs

        clock->Set(40000);
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("EL"));
        QCOMPARE(window->LaneRunColumn(1), ColLauf1);
        QCOMPARE(int(window->Digit1.at(1)->ValueBinary()), 0b101111); // "E"
        QVERIFY(!window->bSTOP1->isEnabled());
        QVERIFY(window->bSTOP2->isEnabled());
        window->TriggerCommand(window->mStop2);
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("10,00"));
        QCOMPARE(Cell(ColLauf2, 1), QString());
    }

    // A bounced contact's 0,07 must not win the class after a crash: what waited
    // for confirmation waits again, and what was confirmed stays confirmed.
    void doubtfulTimesWaitAgainAfterARestore()
    {
        Open();
        window->Settings.Mindestzeit = 500; // 5 s
        window->Settings.ProbeLaufe = 0;
        window->ApplySettings();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 70, 80, false); // both contacts bounced
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 1));
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 2));
        window->SortGrid1->SetRow(2);
        dialogs->answers.enqueue(true);
        window->mConfirmTime->trigger();
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 2));
        window.reset(); // killed

        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("0,07"));
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 1));
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 2));
        QCOMPARE(Cell(ColPlatz, 1), QString());
        QCOMPARE(Cell(ColPlatz, 2), QStringLiteral("1"));

        // Confirmed now, it counts; and the next restore knows that too.
        window->SortGrid1->SetRow(1);
        dialogs->answers.enqueue(true);
        window->mConfirmTime->trigger();
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 1));
        window.reset();
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 1));
        QVERIFY(window->Results().UnconfirmedRuns().isEmpty());
    }

    void editsDeletionsAndPlaceOrderComeBack()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 5000, 6000);
        Run(*window, 20000, 7000, 4000);
        window->cbEditON->click();
        window->SortGrid1->GotoCell(ColName, 3, true);
        QTest::keyClick(window->SortGrid1, Qt::Key_Return);
        QVERIFY(window->SortGrid1->EditorMode());
        window->SortGrid1->InplaceEditor()->setText(QStringLiteral("Christ-Berg"));
        QTest::keyClick(window->SortGrid1->InplaceEditor(), Qt::Key_Return);
        QCOMPARE(Cell(ColName, 3), QStringLiteral("Christ-Berg"));
        window->cbEditON->click();
        window->SortGrid1->GotoCell(0, 2, true);
        dialogs->answers.enqueue(true); // "Zeile entfernen?"
        window->sbCLS->click();
        QCOMPARE(window->SortGrid1->RowCount(), 7);
        window->cbSort->click();
        QTest::qWait(10); // what an edit starts on its way runs first
        const QByteArray expected = ProtocolText(*window);
        QStringList entries;
        for (int i = 0; i < window->cbBuhn1->count(); ++i)
            entries.append(window->cbBuhn1->itemText(i));
        const std::array<int, 2> positions{window->cbBuhn1->currentIndex(), window->cbBuhn2->currentIndex()};
        window.reset();

        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(ProtocolText(*window), expected);
        QVERIFY(window->cbSort->isChecked());
        QStringList restoredEntries;
        for (int i = 0; i < window->cbBuhn1->count(); ++i)
            restoredEntries.append(window->cbBuhn1->itemText(i));
        QCOMPARE(restoredEntries, entries);
        QCOMPARE(entries.size(), 6); // the deleted starter left the lane lists
        QVERIFY(!entries.join(u'|').contains(QStringLiteral("Berg Bruno")));
        QCOMPARE(window->cbBuhn1->currentIndex(), positions[0]);
        QCOMPARE(window->cbBuhn2->currentIndex(), positions[1]);
        QCOMPARE(window->cbBuhn1->currentIndex(), 3);
    }

    void finishedRunWaitsForItsResetAfterAnyRestart()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 5000, 6000, false);
        window.reset();
        dialogs->answers.enqueue(true);
        Open(QStringLiteral("boot-B"));
        window->RestoreLastSession();
        QVERIFY(dialogs->messages.isEmpty());
        QVERIFY(!window->Clock->isActive());
        QVERIFY(window->bRESET->isEnabled());
        QVERIFY(window->sb2del->isEnabled());
        QCOMPARE(window->LaneRunColumn(2), ColLauf1);
        QCOMPARE(TimesInProtocol(), 2);
        window->TriggerCommand(window->mReset);
        QCOMPARE(window->cbBuhn1->currentIndex(), 2);
        QCOMPARE(window->cbBuhn2->currentIndex(), 3);
    }

    void damagedJournalRestoresWhatIsSound_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("message");
        QTest::newRow("sound") << "none" << true << 3 << QString();
        QTest::newRow("torn last record") << "torn" << true << 2 << QStringLiteral("unvollständig");
        QTest::newRow("last record's checksum fails")
            << "flip" << true << 2 << QStringLiteral("unvollständig");
        QTest::newRow("lane 2's time damaged in the middle")
            << "middle" << true << 2 << QStringLiteral("in der Mitte beschädigt");
        QTest::newRow("truncated inside the list")
            << "truncate" << false << 0 << QStringLiteral("beschädigt");
        QTest::newRow("another version")
            << "version" << false << 0 << QStringLiteral("anderen Programmversion");
        QTest::newRow("random bytes") << "random" << false << 0 << QStringLiteral("beschädigt");
        QTest::newRow("empty file") << "empty" << false << 0 << QString();
    }
    void damagedJournalRestoresWhatIsSound()
    {
        QFETCH(QString, damage);
        QFETCH(bool, asked);
        QFETCH(int, times);
        QFETCH(QString, message);
        SessionLeftOpen();
        const QString file = QDir(Folder()).absoluteFilePath(JournalFiles().value(0));
        QByteArray bytes = JournalBytes();
        QVERIFY(bytes.size() > 200);
        if (damage == QLatin1String("torn"))
            bytes.chop(3);
        else if (damage == QLatin1String("flip"))
            bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x20);
        else if (damage == QLatin1String("truncate"))
            bytes.truncate(80);
        else if (damage == QLatin1String("middle")) {
            qint64 offset = JournalFileStart().size();
            for (const JournalRecord& record : ReadJournal(bytes).records) {
                if (record.type == JournalRecordType::Command &&
                    record.command.kind == SessionCommand::Stop && record.command.lane == 2)
                    break;
                offset += EncodeJournalRecord(record).size();
            }
            bytes[offset + 12] = char(bytes.at(offset + 12) ^ 0x10);
        } else if (damage == QLatin1String("version"))
            bytes[8] = char(9);
        else if (damage == QLatin1String("random"))
            for (char& c : bytes)
                c = char(QRandomGenerator::global()->bounded(256));
        else if (damage == QLatin1String("empty"))
            bytes.clear();
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
        out.close();

        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.size(), asked ? 1 : 0);
        QCOMPARE(TimesInProtocol(), times);
        QCOMPARE(dialogs->messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QVERIFY2(dialogs->messages.at(0).contains(message), qPrintable(dialogs->messages.at(0)));
        if (asked && damage != QLatin1String("none")) {
            // Nothing was cut off: the journal is kept whole beside the new one.
            const QStringList aside = QDir(Folder()).entryList({QStringLiteral("Beiseite_*")}, QDir::Files);
            QCOMPARE(aside.size(), 1);
            QFile kept(QDir(Folder()).absoluteFilePath(aside.at(0)));
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), bytes);
        }
        // What was found is never offered a second time; a restored session is
        // offered from its own journal.
        window.reset();
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.size(), asked ? 2 : 0);
    }

    void answerNoKeepsTheJournalAside()
    {
        SessionLeftOpen();
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions, QStringList({kQuestion}));
        QCOMPARE(window->SortGrid1->RowCount(), 2);
        QVERIFY(JournalFiles().isEmpty());
        const QStringList aside = QDir(Folder()).entryList({QStringLiteral("Beiseite_*")}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QVERIFY(QFileInfo(QDir(Folder()).absoluteFilePath(aside.at(0))).size() > 200);
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.size(), 1);
    }

    void endOfSessionDecidesWhatIsOffered_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<bool>("reset");
        QTest::newRow("saved, then closed") << true << false << true;
        QTest::newRow("saved between STOPP and 0,00, then closed") << true << false << false;
        QTest::newRow("closed with unsaved times") << false << true << true;
    }
    void endOfSessionDecidesWhatIsOffered()
    {
        QFETCH(bool, save);
        QFETCH(bool, offered);
        QFETCH(bool, reset);
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 5000, 6000, reset);
        if (save) {
            dialogs->fileNames.enqueue(dir->filePath(QStringLiteral("saved.txt")));
            dialogs->filterIndexes.enqueue(1);
            window->Save1->trigger();
            QVERIFY(!window->Session().Modified());
        }
        dialogs->choices.enqueue(1); // "Beenden ohne Speichern"
        QVERIFY(window->close());
        QCOMPARE(dialogs->questions.size(), save ? 0 : 1);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.size(), offered ? 2 : 0);
        // Left unsaved on purpose: the question says so instead of "nicht beendet".
        if (offered)
            QVERIFY2(dialogs->questions.last().startsWith(QStringLiteral("Beim Beenden am ")) &&
                         dialogs->questions.last().contains(QStringLiteral("„Sommerrennen“ (2 Zeiten)")),
                     qPrintable(dialogs->questions.last()));
    }

    void wipeAndDeletionAreTakenBackWithCtrlZ()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        Run(*window, 1000, 5000, 6000);
        const QByteArray before = ProtocolText(*window);
        auto lanes = [this] {
            QStringList state;
            for (int i = 0; i < window->cbBuhn2->count(); ++i)
                state.append(window->cbBuhn2->itemText(i) + u'=' + window->cbBuhn1->itemText(i));
            state.append(QString::number(window->cbBuhn1->currentIndex()) + u' ' +
                         QString::number(window->cbBuhn2->currentIndex()));
            return state;
        };
        const QStringList lanesBefore = lanes();
        window->SortGrid1->GotoCell(0, 3, true);
        dialogs->answers.enqueue(true); // "Zeile entfernen?"
        window->sbCLS->click();
        QCOMPARE(window->SortGrid1->RowCount(), 7);
        dialogs->answers.enqueue(true); // "Zeitenprotokoll  löschen?"
        window->sbCLSall->click();
        QCOMPARE(window->SortGrid1->RowCount(), 2);
        QCOMPARE(window->cbBuhn1->count(), 0);

        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(window->SortGrid1->RowCount(), 7);
        QCOMPARE(window->cbBuhn1->count(), 6);
        QVERIFY(window->statusBar()->currentMessage().contains(QStringLiteral("rückgängig")));
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ProtocolText(*window), before);
        QCOMPARE(lanes(), lanesBefore);
        QVERIFY(window->Session().Modified());
        QVERIFY(window->bSTART->isEnabled());
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier); // nothing more to take back
        QCOMPARE(ProtocolText(*window), before);

        // Journalled like any change: the next start brings back the protocol as it is now.
        window.reset();
        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->questions.last(), kQuestion);
        QCOMPARE(ProtocolText(*window), before);
        QCOMPARE(lanes(), lanesBefore);
    }

    // The last starter deleted and taken back: the protocol is that one row again.
    void theOnlyRowDeletedComesBackAlone()
    {
        Open();
        QFile list(ListFile());
        QVERIFY(list.open(QIODevice::WriteOnly | QIODevice::Truncate));
        list.write("Nr.;Name;Vorname;Verein;Klasse\r\n1;Adler;Anna;SC Nord;A\r\n");
        list.close();
        QVERIFY(window->LoadStarterList(ListFile()));
        window->WriteCell(ColLauf1, 1, QStringLiteral("12,34"));
        const QByteArray before = ProtocolText(*window);
        dialogs->answers.enqueue(true); // "Zeile entfernen?"
        window->sbCLS->click();
        QCOMPARE(window->Results().RowCount(), 0);
        window->mUndo->trigger();
        QCOMPARE(window->Results().RowCount(), 1);
        QCOMPARE(window->SortGrid1->RowCount(), 2);
        QCOMPARE(ProtocolText(*window), before);
    }

    void timeOfADeletedStarterIsKeptAndReported()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        QCOMPARE(window->cbBuhn1->currentIndex(), 0);
        window->SortGrid1->GotoCell(0, 1, true);
        dialogs->answers.enqueue(true); // "Zeile entfernen?"
        window->sbCLS->click();
        // Adler is gone from both lists; lane 1 shows nobody, lane 2 still Berg.
        QCOMPARE(window->cbBuhn1->count(), 6);
        QCOMPARE(window->cbBuhn1->findText(QStringLiteral("1 Adler Anna SC Nord")), -1);
        QCOMPARE(window->cbBuhn1->currentIndex(), -1);
        QCOMPARE(window->cbBuhn2->currentText(), QStringLiteral("2 Berg Bruno SC Nord"));
        Run(*window, 1000, 8760, 9000, false);
        QCOMPARE(TimesInProtocol(), 1);
        const QString note = window->statusBar()->currentMessage();
        QVERIFY2(note.contains(QStringLiteral("Bahn 1")) && note.contains(QStringLiteral("8,76")),
                 qPrintable(note));
        window.reset();

        dialogs->answers.enqueue(true);
        Open();
        window->RestoreLastSession();
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY2(dialogs->messages.at(0).contains(QStringLiteral("Bahn 1: 8,76")),
                 qPrintable(dialogs->messages.at(0)));
        QCOMPARE(window->cbBuhn1->count(), 6);
    }

    void barrierEdgesAreKeptWithTickAndLine()
    {
        FakeSerialLine line;
        {
            TStoredSettings stored;
            stored.Port = 1;
            QSettings file(dir->filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
            QVERIFY(WriteSettings(file, stored));
        }
        TSystemAccess access = Access(Folder(), QStringLiteral("boot-A"), dialogs.get(), clock.get());
        access.ScanPorts = [] { return ComputePortsFound({1}); };
        access.DeviceFactory = line.Factory();
        window = std::make_unique<TTestFormMain>(std::move(access));
        QVERIFY(ShowActive(*window));
        QVERIFY(window->LoadStarterList(ListFile()));
        int dispatched = 0;
        for (auto signal : {&TComPort::OnCTS, &TComPort::OnDSR, &TComPort::OnRLSD})
            connect(window->ComPort, signal, this, [&dispatched] { ++dispatched; });
        QVERIFY(line.WaitForIdleMonitor());
        const std::vector<std::pair<std::uint32_t, std::uint32_t>> edges = {
            {EV_CTS, MS_CTS_ON}, {EV_CTS, 0}, {EV_DSR, MS_DSR_ON}, {EV_RLSD, MS_DSR_ON | MS_RLSD_ON}};
        std::uint32_t tick = 70000;
        for (const auto& [events, status] : edges) {
            const int target = dispatched + 1;
            line.Raise(events, status, tick += 10);
            QElapsedTimer waited;
            waited.start();
            while (dispatched < target && waited.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QList<std::array<std::uint32_t, 3>> kept;
        for (const JournalRecord& record : ReadJournal(JournalBytes()).records) {
            if (record.type == JournalRecordType::Command && record.command.kind == SessionCommand::Edge)
                kept.append({std::uint32_t(record.command.lane),
                             std::uint32_t(record.command.numbers.value(0)), record.command.tick});
        }
        const QList<std::array<std::uint32_t, 3>> expected = {
            {1, MS_CTS_ON, 70010}, {1, 0, 70020}, {2, MS_DSR_ON, 70030}, {3, MS_DSR_ON | MS_RLSD_ON, 70040}};
        QCOMPARE(kept, expected);
        window.reset(); // before the line it reads from
    }

    void idleProgramWritesNothing()
    {
        Open();
        QVERIFY(window->LoadStarterList(ListFile()));
        QVERIFY(window->Journal()->WaitUntilSynced(5000));
        const int syncs = window->Journal()->SyncCount();
        QVERIFY(syncs >= 1);
        const qsizetype size = JournalBytes().size();
        QSignalSpy clockTicks(window->TimerDate, &QTimer::timeout);
        window->TimerDate->start(50);
        window->resize(900, 500);
        QTRY_VERIFY_WITH_TIMEOUT(clockTicks.count() >= 20, 10000);
        QVERIFY(window->Journal()->WaitUntilSynced(5000));
        QCOMPARE(JournalBytes().size(), size);
        QCOMPARE(window->Journal()->SyncCount(), syncs);

        // A recorded time reaches the file at once and the disk soon after, by itself.
        Run(*window, 1000, 5000, 6000, false);
        QVERIFY(JournalBytes().size() > size);
        QTRY_VERIFY_WITH_TIMEOUT(window->Journal()->SyncCount() > syncs, 5000);
    }

    void unwritableJournalWarnsOnceAndTimingGoesOn_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("folder can't be created") << false;
        QTest::newRow("disk full after the load") << true;
    }
    void unwritableJournalWarnsOnceAndTimingGoesOn()
    {
        QFETCH(bool, diskFull);
        const QString blocker = dir->filePath(QStringLiteral("blocker"));
        QFile(blocker).open(QIODevice::WriteOnly);
        Open(QStringLiteral("boot-A"), diskFull ? Folder() : blocker + QStringLiteral("/journal"));
        QVERIFY(window->LoadStarterList(ListFile()));
        if (diskFull) {
            QVERIFY(window->statusBar()->currentMessage().isEmpty());
            QVERIFY(UnderFileSizeLimit(rlim_t(JournalBytes().size() + 20),
                                       [&] { Run(*window, 1000, 5000, 6000); }));
        } else {
            Run(*window, 1000, 5000, 6000);
        }
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("5,00"));
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("6,00"));
        const QString note = window->statusBar()->currentMessage();
        QVERIFY2(note.contains(QStringLiteral("kann nicht geschrieben werden")), qPrintable(note));
        // The reason in German, not the system's English text.
        QVERIFY2(
            note.contains(diskFull ? QStringLiteral("Datei zu groß") : QStringLiteral("kann nicht angelegt")),
            qPrintable(note));
        window->statusBar()->clearMessage();
        window->Journal()->RetryInterval = std::chrono::milliseconds(0);
        if (diskFull) {
            // The window's retry needs no new record: the times so far are in the fresh file.
            window->Journal()->RetryIfFailed();
            QVERIFY(!window->Journal()->Failed());
            QCOMPARE(ReplayJournal(ReadJournal(JournalBytes()).records).TimesInRows(), 2);
        }
        Run(*window, 20000, 5000, 6000);
        QCOMPARE(Cell(ColLauf1, 3), QStringLiteral("5,00"));
        if (!diskFull) {
            // Still no folder: no second note.
            QVERIFY(window->statusBar()->currentMessage().isEmpty());
            return;
        }
        // Space came back: the whole state is written afresh and the failed file goes.
        QVERIFY2(window->statusBar()->currentMessage().contains(QStringLiteral("wieder geschrieben")),
                 qPrintable(window->statusBar()->currentMessage()));
        QCOMPARE(JournalFiles().size(), 1);
        const JournalReadResult read = ReadJournal(JournalBytes());
        QCOMPARE(read.status, JournalReadStatus::Sound);
        const JournalReplay replay = ReplayJournal(read.records);
        QCOMPARE(replay.TimesInRows(), 4);
        QVERIFY(replay.HoldsChanges());
    }

    // Journals the earlier version wrote (record types 1 to 15, one record per
    // change of the window), each with what that version's restore showed: the
    // current one must restore them to the same protocol, lanes, marks and run.
    // Written on the machine whose boot id is kEarlierBoot, so a run still
    // going resumes.
    void journalsOfTheEarlierVersionRestoreAsBefore_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("together they hold every record type") << QString();
        const QDir data(QStringLiteral(QX_EARLIER_JOURNALS));
        for (const QString& name : data.entryList({QStringLiteral("*.qxj")}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name)) << name;
    }
    void journalsOfTheEarlierVersionRestoreAsBefore()
    {
        QFETCH(QString, fixture);
        const QString kEarlierBoot = QStringLiteral("7d3f0c2a-9b41-4e6d-a8c5-21f0e9b6d4a7");
        const QDir data(QStringLiteral(QX_EARLIER_JOURNALS));
        if (fixture.isEmpty()) {
            const QStringList names = data.entryList({QStringLiteral("*.qxj")}, QDir::Files);
            QVERIFY(names.size() >= 4);
            std::array<bool, 16> held{};
            for (const QString& name : names) {
                QFile file(data.absoluteFilePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                const JournalReadResult read = ReadJournal(file.readAll());
                QCOMPARE(read.status, JournalReadStatus::Sound);
                for (const JournalRecord& record : read.records) {
                    QVERIFY2(record.type != JournalRecordType::Command, qPrintable(name));
                    held.at(std::size_t(record.type)) = true;
                }
            }
            for (int type = int(JournalRecordType::Header); type <= int(JournalRecordType::Doubt); ++type)
                QVERIFY2(held.at(std::size_t(type)), qPrintable(QStringLiteral("record type %1").arg(type)));
            return;
        }
        QFile expectedFile(data.absoluteFilePath(fixture.chopped(4) + QStringLiteral(".txt")));
        QVERIFY(expectedFile.open(QIODevice::ReadOnly));
        const QStringList expected = QString::fromUtf8(expectedFile.readAll()).split(u'\n');
        QVERIFY(QDir().mkpath(Folder()));
        const QString copy = QDir(Folder()).absoluteFilePath(fixture);
        QVERIFY(QFile::copy(data.absoluteFilePath(fixture), copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner));
        const QString lastModified =
            QFileInfo(copy).lastModified().toString(QStringLiteral("dd.MM.yyyy HH:mm"));

        clock->Set(500000);
        dialogs->answers.enqueue(true);
        Open(kEarlierBoot);
        window->RestoreLastSession();

        // What the window shows, line by line as the earlier version wrote it
        // down (the file's date and the kept journal's place masked).
        const QStringList aside = QDir(Folder()).entryList({QStringLiteral("Beiseite_*")}, QDir::Files);
        auto masked = [&](QString text) {
            for (const QString& name : aside)
                text.replace(QDir::toNativeSeparators(QDir(Folder()).absoluteFilePath(name)),
                             QStringLiteral("<Ordner>/Beiseite_<Zeit>.qxj.alt"));
            return text.replace(lastModified, QStringLiteral("TT.MM.JJJJ hh:mm"))
                .replace(u'\n', QStringLiteral(" / "));
        };
        auto on = [](bool yes) { return yes ? QStringLiteral("on") : QStringLiteral("off"); };
        QStringList shown;
        for (const QString& question : std::as_const(dialogs->questions))
            shown.append(QStringLiteral("question: ") + masked(question));
        for (const QString& message : std::as_const(dialogs->messages))
            shown.append(QStringLiteral("message: ") + masked(message));
        shown.append(QStringLiteral("title: ") + window->windowTitle());
        shown.append(QStringLiteral("unsaved: ") +
                     (window->Session().Modified() ? QStringLiteral("yes") : QStringLiteral("no")));
        shown.append(QStringLiteral("rules: lanes %1, trial runs %2, runs %3")
                         .arg(window->Settings.CountBahn)
                         .arg(window->Settings.ProbeLaufe)
                         .arg(window->Settings.AllLaufe));
        shown.append(QStringLiteral("sort by place: ") +
                     (window->cbSort->isChecked() ? QStringLiteral("yes") : QStringLiteral("no")));
        QStringList entries;
        for (int i = 0; i < window->cbBuhn1->count(); ++i)
            entries.append(window->cbBuhn1->itemText(i));
        shown.append(QStringLiteral("lane list: ") + entries.join(QStringLiteral(" | ")));
        shown.append(QStringLiteral("lane 1: %1 (%2)")
                         .arg(window->cbBuhn1->currentIndex())
                         .arg(window->cbBuhn1->currentText()));
        shown.append(QStringLiteral("lane 2: %1 (%2)")
                         .arg(window->cbBuhn2->currentIndex())
                         .arg(window->cbBuhn2->currentText()));
        shown.append(
            QStringLiteral("run: clock %1, START %2, STOP 1 %3, STOP 2 %4, RESET %5, lane columns %6 %7")
                .arg(on(window->Clock->isActive()), on(window->bSTART->isEnabled()),
                     on(window->bSTOP1->isEnabled()), on(window->bSTOP2->isEnabled()),
                     on(window->bRESET->isEnabled()))
                .arg(window->LaneRunColumn(1))
                .arg(window->LaneRunColumn(2)));
        QStringList doubtful;
        for (int row = 1; row < window->SortGrid1->RowCount(); ++row) {
            for (int col = ColLauf1; col <= ColLauf6; ++col) {
                if (window->TimeUnconfirmed(col, row))
                    doubtful.append(QStringLiteral("Nr. %1 Lauf %2 (%3)")
                                        .arg(Cell(ColNr, row))
                                        .arg(col - ColLauf1 + 1)
                                        .arg(Cell(col, row)));
            }
        }
        shown.append(QStringLiteral("doubtful: ") + doubtful.join(QStringLiteral(", ")));
        QStringList waiting;
        for (const auto& [key, column] : window->Results().UnconfirmedRuns())
            waiting.append(QStringLiteral("%1/%2").arg(key).arg(column));
        shown.append(QStringLiteral("waiting: ") + waiting.join(QStringLiteral(", ")));
        shown.append(QStringLiteral("protocol:"));
        for (const QStringList& row : window->ProtocolRows())
            shown.append(row.mid(0, ProtocolColumnCount).join(u'\t'));
        shown.append(QString());
        for (qsizetype line = 0; line < std::max(shown.size(), expected.size()); ++line)
            QCOMPARE(shown.value(line), expected.value(line));
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 5 && args.at(1) == QLatin1String("--journal-child"))
        return RunChild(args.mid(2));
    TestFormMainJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_formmain_journal.moc"
