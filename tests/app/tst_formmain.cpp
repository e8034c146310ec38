#include "ActiveWindow.h"
#include "AppSetup.h"
#include "FakeTickSource.h"
#include "FormMainAccess.h"
#include "LateEntryDialog.h"
#include "ModalGuard.h"
#include "ProtocolLogic.h"
#include "RunTime.h"
#include "TBitBtnWithColor.h"
#include "TClickLabel.h"
#include "TColor.h"
#include "TDigit.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestDialogs.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <memory>

namespace {

struct Starter
{
    QString nr, name, vorname, verein, klasse;
};

const QList<Starter> kFiveStarters = {
    {"1", "Adler", "Anna", "SC Nord", "A"},  {"2", "Berg", "Bruno", "SC Nord", "A"},
    {"3", "Christ", "Clara", "TV Ost", "B"}, {"4", "Dorn", "David", "TV Ost", "A"},
    {"5", "Eck", "Emil", "SV West", "B"},
};

} // namespace

class TestFormMain : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestFormMain> window;
    std::unique_ptr<FakeTickSource> clock;
    std::unique_ptr<TestDialogs> dialogs;
    QTemporaryDir settingsDir;

    TSystemAccess Access()
    {
        TSystemAccess access;
        const QString file = settingsDir.filePath(QStringLiteral("settings.ini"));
        access.OpenSettings = [file] { return std::make_unique<QSettings>(file, QSettings::IniFormat); };
        access.ScanPorts = [] { return std::uint32_t(0); };
        access.Ticks = clock.get();
        access.Dialogs = dialogs.get();
        return access;
    }

    // Fills the protocol as a loaded starter list would, and the lane lists from it.
    void Load(const QList<Starter>& starters)
    {
        ProtocolTable rows;
        for (const Starter& s : starters) {
            QStringList cells(ProtocolColumnCount);
            cells[ColNr] = s.nr;
            cells[ColName] = s.name;
            cells[ColVorname] = s.vorname;
            cells[ColVerein] = s.verein;
            cells[ColKlasse] = s.klasse;
            rows.append(cells);
        }
        window->FillProtocolRows(rows);
        window->FillLaneLists();
        window->UpdateCommandStates();
        window->SetUnsaved(false);
    }

    void Key(Qt::Key key) { QTest::keyClick(window.get(), key); }

    // Types text into a protocol cell in edit mode and takes it with Enter.
    void EditCell(int col, int row, const QString& text)
    {
        if (!window->cbEditON->isChecked())
            window->cbEditON->click();
        TSortGrid* grid = window->SortGrid1;
        grid->GotoCell(col, row, true);
        grid->setFocus();
        grid->SetEditorMode(true);
        QVERIFY(grid->EditorMode());
        grid->InplaceEditor()->setText(text);
        QTest::keyClick(grid->InplaceEditor(), Qt::Key_Return);
    }

    // Both test runs of a row (the first two run columns).
    void FillTestRuns(int row, const QString& time)
    {
        window->WriteCell(ColLauf1, row, time);
        window->WriteCell(ColLauf2, row, time);
    }

    // A two-lane run: lane 1 stops after lane1Ms, lane 2 after lane2Ms.
    void Run(int lane1Ms, int lane2Ms)
    {
        Key(Qt::Key_F5);
        const int first = std::min(lane1Ms, lane2Ms);
        clock->Advance(first);
        Key(lane1Ms == first ? Qt::Key_F8 : Qt::Key_F9);
        clock->Advance(std::max(lane1Ms, lane2Ms) - first);
        Key(lane1Ms == first ? Qt::Key_F9 : Qt::Key_F8);
    }

    QString Cell(int col, int row) const { return window->SortGrid1->Cells(col, row); }

    // Forty starters in three classes, as on a race day.
    static QList<Starter> FortyStarters()
    {
        QList<Starter> starters;
        for (int i = 1; i <= 40; ++i)
            starters.append({QString::number(i), QStringLiteral("Name%1").arg(i),
                             QStringLiteral("Vorname%1").arg(i), QStringLiteral("Verein"),
                             QString(QChar(u'A' + i % 3))});
        return starters;
    }

    bool RowInView(int row) const
    {
        const TSortGrid* grid = window->SortGrid1;
        return row >= grid->TopRow() && row < grid->TopRow() + grid->VisibleRowCount();
    }

    // WCAG contrast ratio of two colours.
    static double Contrast(const QColor& a, const QColor& b)
    {
        auto luminance = [](const QColor& c) {
            auto channel = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        const double la = luminance(a);
        const double lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    }

    QWidget* Focused() const { return QApplication::focusWidget(); }

    QList<int> ShownDigits(int lane) const
    {
        QList<int> values;
        for (TDigit* digit : lane == 1 ? window->Digit1 : window->Digit2)
            values.append(digit->Value());
        return values;
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void init()
    {
        clock = std::make_unique<FakeTickSource>(100000);
        dialogs = std::make_unique<TestDialogs>();
        QFile::remove(settingsDir.filePath(QStringLiteral("settings.ini")));
        window = std::make_unique<TTestFormMain>(Access());
        QVERIFY(ShowActive(*window));
    }

    void cleanup()
    {
        window->SetUnsaved(false);
        window.reset();
        dialogs.reset();
        clock.reset();
    }

    void startsReadyWithHeaderAndCaption()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix 2.7"));
        QCOMPARE(window->SortGrid1->ColCount(), 14);
        QCOMPARE(window->SortGrid1->RowCount(), 2);
        QCOMPARE(window->SortGrid1->Rows(0).ToStringList(), ProtocolHeaders());
        QVERIFY(window->mStart->isEnabled());
        QVERIFY(!window->bSTART->isEnabled());
        QVERIFY(!window->mSTOP1->isEnabled());
        QVERIFY(!window->mStop2->isEnabled());
        QVERIFY(!window->mReset->isEnabled());
        QVERIFY(!window->cbBuhn1->isEnabled());
        QVERIFY(!window->sbSave->isEnabled());
        QCOMPARE(window->SortGrid1->ColWidths(ColLoadOrder), -1);
        QCOMPARE(window->SortGrid1->ColWidths(ColNr), 47);
        QCOMPARE(ShownDigits(1), QList<int>({0, 0, 0, 0, 0}));
    }

    void titleCarriesNoDisplayName()
    {
        SetUpApplication();
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Quellorix"));
        // The platform appends a display name that was set to every window
        // title; without one, the display name just follows the application name.
        QCoreApplication::setApplicationName(QStringLiteral("Probe"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Probe"));
        SetUpApplication();
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix 2.7"));
    }

    // The file and print dialogs are Qt's: their texts come from Qt's German translation.
    void qtDialogTextsAreGerman()
    {
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("Save As"));
        QVERIFY(InstallQtTranslation());
        QVERIFY(InstallQtTranslation()); // once only
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("Speichern unter"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
        QCOMPARE(QCoreApplication::translate("QPrintDialog", "Print"), QStringLiteral("Drucken"));
    }

    void twoLaneRunRecordsEachLaneAndMovesFocus()
    {
        Load(kFiveStarters);
        QVERIFY(window->bSTART->isEnabled());
        QCOMPARE(window->bSTART->Color(), RGBColor(0, 128, 0));

        Key(Qt::Key_F5);
        QVERIFY(window->Clock->isActive());
        QCOMPARE(Focused(), window->bSTOP1);
        QCOMPARE(window->bSTOP1->Color(), RGBColor(255, 0, 0));
        QCOMPARE(window->bSTOP2->Color(), RGBColor(255, 0, 0));
        QVERIFY(!window->bSTART->isEnabled());
        QVERIFY(!window->cbBuhn1->isEnabled());

        clock->Advance(7250);
        Key(Qt::Key_F9);
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("7,25"));
        QCOMPARE(ShownDigits(2), QList<int>({0, 0, 7, 2, 5}));
        QCOMPARE(Focused(), window->bSTOP1);
        QVERIFY(!window->bRESET->isEnabled());
        QVERIFY(window->sb2del->isEnabled());

        clock->Advance(1000);
        Key(Qt::Key_F8);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("8,25"));
        QCOMPARE(Focused(), window->bRESET);
        QVERIFY(!window->Clock->isActive());
        QCOMPARE(window->bRESET->Color(), RGBColor(0, 0, 0));
        QVERIFY(window->Session().Modified());

        Key(Qt::Key_F7);
        QCOMPARE(Focused(), window->bSTART);
        QCOMPARE(window->cbBuhn1->currentIndex(), 2);
        QCOMPARE(window->cbBuhn2->currentIndex(), 3);
        QCOMPARE(ShownDigits(1), QList<int>({0, 0, 0, 0, 0}));
        QCOMPARE(window->LaneRunColumn(1), -1);
        QVERIFY(window->bSTART->isEnabled());
        QVERIFY(window->cbBuhn1->isEnabled());
    }

    void focusFollowsTheLaneStillRunning()
    {
        Load(kFiveStarters);
        Key(Qt::Key_F5);
        QCOMPARE(Focused(), window->bSTOP1);
        Key(Qt::Key_F8);
        QCOMPARE(Focused(), window->bSTOP2);
        Key(Qt::Key_F9);
        QCOMPARE(Focused(), window->bRESET);
        Key(Qt::Key_F7);
        QCOMPARE(Focused(), window->bSTART);
    }

    void aWholeRunByEnterOnTheFocusedButton()
    {
        Load(kFiveStarters);
        window->bSTART->setFocus();
        clock->Advance(5);
        QTest::keyClick(window->bSTART, Qt::Key_Return);
        QVERIFY(window->Clock->isActive());
        clock->Advance(3000);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // STOPP 1
        clock->Advance(500);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // STOPP 2
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("3,00"));
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("3,50"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // 0,00
        QCOMPARE(Focused(), window->bSTART);

        // A held Enter: its repeats go to whichever command button has the
        // focus; none of them starts, stops or resets anything.
        const ProtocolTable before = window->Results().Table();
        for (int repeats = 0; repeats < 8; ++repeats) {
            QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(QApplication::focusWidget(), &repeat);
        }
        QVERIFY(!window->Clock->isActive());
        QCOMPARE(window->Results().Table(), before);
        QCOMPARE(Focused(), window->bSTART);
    }

    void commandButtonsActOnMousePress()
    {
        Load(kFiveStarters);
        // Each command acts on the press; the release later changes nothing.
        QTest::mousePress(window->bSTART, Qt::LeftButton);
        QVERIFY(window->Clock->isActive());
        clock->Advance(1234);
        QTest::mouseRelease(window->bSTART, Qt::LeftButton);
        QCOMPARE(Cell(ColLauf1, 1), QString());

        QTest::mousePress(window->bSTOP2, Qt::RightButton);
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("1,23"));
        clock->Advance(500);
        QTest::mouseRelease(window->bSTOP2, Qt::RightButton);
        QTest::mousePress(window->bSTOP1, Qt::MiddleButton);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("1,73"));
        clock->Advance(500);
        QTest::mouseRelease(window->bSTOP1, Qt::MiddleButton);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("1,73"));
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("1,23"));

        QTest::mousePress(window->bRESET, Qt::LeftButton);
        QVERIFY(window->bSTART->isEnabled());
        QCOMPARE(window->cbBuhn1->currentIndex(), 2);
        QTest::mouseRelease(window->bRESET, Qt::LeftButton);
        QVERIFY(!window->Clock->isActive());
        QCOMPARE(window->cbBuhn1->currentIndex(), 2);
    }

    void secondStopOfALaneIsIgnored()
    {
        Load(kFiveStarters);
        Key(Qt::Key_F5);
        clock->Advance(4000);
        Key(Qt::Key_F8);
        clock->Advance(3);
        Key(Qt::Key_F8);
        window->mSTOP1->trigger();
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("4,00"));
        QCOMPARE(Cell(ColLauf2, 1), QString());
        QCOMPARE(ShownDigits(1), QList<int>({0, 0, 4, 0, 0}));
    }

    void stopTimesAreTruncatedAndSurviveATickWrap_data()
    {
        QTest::addColumn<quint32>("startTick");
        QTest::addColumn<quint32>("elapsed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("digits");
        QTest::newRow("hundredths truncated")
            << quint32(100000) << quint32(12349) << "12,34" << QList<int>{0, 1, 2, 3, 4};
        QTest::newRow("tick wraps between start and stop")
            << quint32(0xFFFFF000u) << quint32(10000) << "10,00" << QList<int>{0, 1, 0, 0, 0};
        QTest::newRow("from 1000 s on whole seconds, the true time")
            << quint32(5) << quint32(1234560) << "1234,56" << QList<int>{0, 1, 2, 3, 4};
        QTest::newRow("five hundredths") << quint32(77) << quint32(59) << "0,05" << QList<int>{0, 0, 0, 0, 5};
    }

    void stopTimesAreTruncatedAndSurviveATickWrap()
    {
        QFETCH(quint32, startTick);
        QFETCH(quint32, elapsed);
        QFETCH(QString, text);
        QFETCH(QList<int>, digits);
        Load(kFiveStarters);
        clock->Set(startTick);
        Key(Qt::Key_F5);
        clock->Advance(elapsed);
        Key(Qt::Key_F8);
        QCOMPARE(Cell(ColLauf1, 1), text);
        QCOMPARE(ShownDigits(1), digits);
        // Whole seconds go without the comma.
        QCOMPARE(window->PanelT1->findChild<QLabel*>(QStringLiteral("comma"))->isVisible(),
                 elapsed < 1000000);
    }

    void runningDigitsFollowTheClock()
    {
        Load(kFiveStarters);
        Key(Qt::Key_F5);
        clock->Advance(123450);
        QTRY_COMPARE(ShownDigits(1), QList<int>({1, 2, 3, 4, 5}));
        QCOMPARE(ShownDigits(2), QList<int>({1, 2, 3, 4, 5}));
        QCOMPARE(window->Digit1.at(0)->ColorOn(), RGBColor(255, 255, 0));
        Key(Qt::Key_F9);
        clock->Advance(1000);
        QTRY_COMPARE(ShownDigits(1), QList<int>({1, 2, 4, 4, 5}));
        QCOMPARE(ShownDigits(2), QList<int>({1, 2, 3, 4, 5}));
    }

    void resetAdvancesBothLanes_data()
    {
        QTest::addColumn<int>("laneCount");
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("lane1Before");
        QTest::addColumn<int>("lane2Before");
        QTest::addColumn<int>("lane1After");
        QTest::addColumn<int>("lane2After");
        QTest::newRow("pairs") << 2 << 5 << 0 << 1 << 2 << 3;
        QTest::newRow("lane 2 wraps to the second entry") << 2 << 5 << 2 << 3 << 4 << 1;
        QTest::newRow("lane 1 wraps to the first entry") << 2 << 5 << 4 << 1 << 0 << 3;
        // Lane 1 goes on from its partner: never one starter on both lanes.
        QTest::newRow("lane 1 without selection") << 2 << 5 << -1 << 3 << 4 << 1;
        QTest::newRow("one entry: lane 2 has nobody") << 2 << 1 << 0 << -1 << 0 << -1;
        QTest::newRow("one lane steps one") << 1 << 5 << 3 << -1 << 4 << -1;
        QTest::newRow("one lane wraps") << 1 << 5 << 4 << -1 << 0 << -1;
        QTest::newRow("one lane without selection") << 1 << 5 << -1 << -1 << 0 << -1;
    }

    void resetAdvancesBothLanes()
    {
        QFETCH(int, laneCount);
        QFETCH(int, entries);
        QFETCH(int, lane1Before);
        QFETCH(int, lane2Before);
        QFETCH(int, lane1After);
        QFETCH(int, lane2After);
        window->Settings.CountBahn = laneCount;
        window->ApplySettings();
        window->ApplyLaneLayout();
        Load(kFiveStarters.mid(0, entries));
        window->cbBuhn1->setCurrentIndex(lane1Before);
        window->cbBuhn2->setCurrentIndex(lane2Before);
        Key(Qt::Key_F5);
        Key(Qt::Key_F8);
        Key(Qt::Key_F9);
        Key(Qt::Key_F7);
        QCOMPARE(window->cbBuhn1->currentIndex(), lane1After);
        QCOMPARE(window->cbBuhn2->currentIndex(), lane2After);
    }

    void laneRowsStayInViewPairByPair_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("802x445") << QSize(802, 445);
        QTest::newRow("1280x900") << QSize(1280, 900);
    }

    void laneRowsStayInViewPairByPair()
    {
        QFETCH(QSize, size);
        window->resize(size);
        QApplication::processEvents();
        Load(FortyStarters());
        for (int pair = 1; pair <= 20; ++pair) {
            QVERIFY2(RowInView(window->LaneRow(1)) && RowInView(window->LaneRow(2)),
                     qPrintable(QStringLiteral("pair %1").arg(pair)));
            Run(30000 + pair, 31000);
            // The second stop ranks the protocol; the pair just timed stays in view until "0,00".
            QVERIFY2(RowInView(window->LaneRow(1)) && RowInView(window->LaneRow(2)),
                     qPrintable(QStringLiteral("pair %1 after its stops").arg(pair)));
            Key(Qt::Key_F7);
        }
        // Lanes chosen by hand far down the list come into view as well.
        window->SortGrid1->SetTopRow(1);
        window->cbBuhn1->setCurrentIndex(36);
        window->cbBuhn2->setCurrentIndex(37);
        QVERIFY(RowInView(37));
        QVERIFY(RowInView(38));
    }

    // From the first show on, and when a list brings the scroll bar, the last
    // column ("Platz") ends inside the table, without the window being resized.
    void placeColumnWholeWithoutAResize()
    {
        const auto placeColumnFits = [this] {
            const QRect place = window->SortGrid1->CellRect(ColPlatz, 0);
            return !place.isEmpty() && place.right() < window->SortGrid1->viewport()->width();
        };
        QTRY_VERIFY(placeColumnFits());
        Load(FortyStarters());
        QTRY_VERIFY(window->SortGrid1->verticalScrollBar()->isVisible());
        QTRY_VERIFY(placeColumnFits());
    }

    void raceDayWindowShowsWholeCaptions_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("802x445") << QSize(802, 445);
        QTest::newRow("1280x900") << QSize(1280, 900);
    }

    // Forty starters at pair 16: captions whole, the pair's rows in view. With
    // QUELLORIX_SCREENSHOTS set to a folder, the window is also saved there.
    void raceDayWindowShowsWholeCaptions()
    {
        QFETCH(QSize, size);
        window->resize(size);
        Load(FortyStarters());
        for (int pair = 1; pair < 16; ++pair) {
            Run(30000 + 10 * pair, 31000 - 10 * pair);
            Key(Qt::Key_F7);
        }
        QApplication::processEvents();
        const QString folder = qEnvironmentVariable("QUELLORIX_SCREENSHOTS");
        if (!folder.isEmpty())
            window->grab().save(
                QStringLiteral("%1/hauptfenster-%2x%3.png").arg(folder).arg(size.width()).arg(size.height()));
        QCOMPARE(window->LaneRow(1), 31);
        QVERIFY(RowInView(31) && RowInView(32));

        QList<QWidget*> captioned;
        for (QWidget* panel :
             {static_cast<QWidget*>(window->PanelTop), static_cast<QWidget*>(window->PanelTitle)}) {
            for (QWidget* child : panel->findChildren<QWidget*>()) {
                if (child->isVisible() &&
                    (qobject_cast<QLabel*>(child) || qobject_cast<QAbstractButton*>(child)) &&
                    child != window->PanelDate && child != window->LabelTitle)
                    captioned.append(child);
            }
        }
        QVERIFY(captioned.contains(window->labEditON));
        for (QWidget* widget : captioned) {
            const QString name =
                widget->objectName().isEmpty() ? widget->metaObject()->className() : widget->objectName();
            QVERIFY2(widget->width() >= widget->sizeHint().width(),
                     qPrintable(QStringLiteral("%1 %2 < %3")
                                    .arg(name)
                                    .arg(widget->width())
                                    .arg(widget->sizeHint().width())));
        }
        // The title shows whole or gives way, never cut.
        const QLabel* title = window->LabelTitle;
        QVERIFY(title->fontMetrics().horizontalAdvance(title->text()) <= title->contentsRect().width());
        if (size.width() >= 1280)
            QCOMPARE(title->text(), QStringLiteral("P R O T O K O L L"));
        captioned.append(window->LabelTitle);
        // Neighbours do not overlap ("Sort" ran into the title).
        const QRect sort = window->LabelSort->geometry();
        for (QWidget* widget : captioned) {
            if (widget != window->LabelSort && widget->parentWidget() == window->LabelSort->parentWidget())
                QVERIFY(!widget->geometry().intersects(sort));
        }
    }

    void selectedLaneRowIsReadable()
    {
        Load(kFiveStarters);
        TSortGrid* grid = window->SortGrid1;
        grid->SetRow(1); // lane 1's row is also the selected one
        const TFormatOptions selected = grid->GetCellFormat(ColName, 1);
        const QColor text = ToQColor(selected.FontColor, grid->palette());
        const QColor back = ToQColor(selected.BrushColor, grid->palette());
        QVERIFY2(Contrast(text, back) >= 3.0, qPrintable(text.name() + QLatin1Char('/') + back.name()));
        // It still differs from an ordinary selected row, which shows whose run it is.
        QVERIFY(text != ToQColor(clHighlightText, grid->palette()));
        // Away from the selection the lane row stays red.
        grid->SetRow(3);
        QCOMPARE(grid->GetCellFormat(ColName, 1).FontColor, LaneRowColor);
    }

    void loadKeyDuringARunSaysWhyNothingHappens()
    {
        Load(kFiveStarters);
        Key(Qt::Key_F5);
        dialogs->fileNames.enqueue(QStringLiteral("/nonexistent/liste.txt"));
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(window->statusBar()->currentMessage(), LoadRefusedMessage);
        // No file dialog was shown, and the protocol stays.
        QCOMPARE(dialogs->fileNames.size(), 1);
        QCOMPARE(Cell(ColName, 1), QStringLiteral("Adler"));
        QVERIFY(dialogs->messages.isEmpty());
    }

    void startUnavailableWithBothLanesOnOneEntry()
    {
        Load(kFiveStarters);
        window->cbBuhn2->setCurrentIndex(0);
        QVERIFY(!window->bSTART->isEnabled());
        QVERIFY(!window->seObmen->isEnabled());
        // F5 neither: both times would go to the one starter. It says why.
        Key(Qt::Key_F5);
        QCOMPARE(window->RunCycle().State(), RunState::Ready);
        QVERIFY(window->statusBar()->currentMessage().contains(QStringLiteral("denselben Starter")));
        window->cbBuhn2->setCurrentIndex(4);
        QVERIFY(window->bSTART->isEnabled());
        window->seObmen->click();
        QCOMPARE(window->cbBuhn1->currentIndex(), 4);
        QCOMPARE(window->cbBuhn2->currentIndex(), 0);
    }

    // A late entry without a start number yet: the lane's time is his, not lost.
    void aStarterWithoutAStartNumberGetsHisTime()
    {
        Load({{"", "Adler", "Anna", "SC Nord", "A"}, {"2", "Berg", "Bruno", "SC Nord", "A"}});
        Run(31000, 32000);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("31,00"));
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("32,00"));
    }

    void startWithoutAStarterListRecordsNothing()
    {
        Key(Qt::Key_F5);
        QVERIFY(window->Clock->isActive());
        clock->Advance(2000);
        Key(Qt::Key_F8);
        Key(Qt::Key_F9);
        QVERIFY(window->mReset->isEnabled());
        QCOMPARE(window->SortGrid1->Rows(1).ToStringList().join(QString()), QString());
        Key(Qt::Key_F7);
        QVERIFY(window->mStart->isEnabled());
    }

    void oneLaneModeIgnoresTheLaneTwoStop()
    {
        window->Settings.CountBahn = 1;
        window->ApplySettings();
        window->ApplyLaneLayout();
        Load(kFiveStarters);
        QVERIFY(window->cbBuhn2->isHidden());
        QCOMPARE(window->bSTOP1->text(), QStringLiteral("STOPP"));
        Key(Qt::Key_F5);
        clock->Advance(900);
        Key(Qt::Key_F9);
        QVERIFY(window->Clock->isActive());
        QCOMPARE(Cell(ColLauf1, 2), QString());
        Key(Qt::Key_F8);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("0,90"));
        QVERIFY(!window->Clock->isActive());
        QCOMPARE(Focused(), window->bRESET);
        Key(Qt::Key_F7);
        QCOMPARE(window->cbBuhn1->currentIndex(), 1);
    }

    void finishedRunIsRankedPerClass_data()
    {
        QTest::addColumn<int>("headerCol");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("no header click") << -1 << Qt::NoButton;
        QTest::newRow("right click on Name") << int(ColName) << Qt::RightButton;
        QTest::newRow("right click on Klasse") << int(ColKlasse) << Qt::RightButton;
        QTest::newRow("left click on Klasse") << int(ColKlasse) << Qt::LeftButton;
    }

    void finishedRunIsRankedPerClass()
    {
        QFETCH(int, headerCol);
        QFETCH(Qt::MouseButton, button);
        Load(kFiveStarters);
        if (headerCol >= 0)
            QTest::mouseClick(window->SortGrid1->viewport(), button, {},
                              window->SortGrid1->CellRect(headerCol, 0).center());
        // Starters 1 and 4 (both class A) with the two default test runs: the
        // faster starter stands below, and its test runs are the slower ones.
        FillTestRuns(1, QStringLiteral("1,00"));
        FillTestRuns(4, QStringLiteral("20,00"));
        window->cbBuhn2->setCurrentIndex(3);
        Run(31000, 30000);
        QCOMPARE(Cell(ColGesamt, 1), QStringLiteral("31,00"));
        QCOMPARE(Cell(ColGesamt, 4), QStringLiteral("30,00"));
        QCOMPARE(Cell(ColPlatz, 4), QStringLiteral("1"));
        QCOMPARE(Cell(ColPlatz, 1), QStringLiteral("2"));
        // Load order is restored after the ranking.
        for (int row = 1; row <= 5; ++row)
            QCOMPARE(Cell(ColNr, row), QString::number(row));
    }

    void eliminationMarksTheLanesRunAndDropsThePlace()
    {
        Load(kFiveStarters);
        FillTestRuns(1, QStringLiteral("1,00"));
        FillTestRuns(2, QStringLiteral("20,00"));
        Run(31000, 30000);
        QCOMPARE(Cell(ColPlatz, 2), QStringLiteral("1"));
        QCOMPARE(Cell(ColPlatz, 1), QStringLiteral("2"));
        window->SetUnsaved(false); // saved after the run

        window->sb2del->click();
        QCOMPARE(Cell(ColLauf3, 2), QStringLiteral("EL"));
        QCOMPARE(Cell(ColGesamt, 2), QStringLiteral("EL"));
        QCOMPARE(Cell(ColPlatz, 2), QString());
        QCOMPARE(Cell(ColPlatz, 1), QStringLiteral("1"));
        // The run still waits for "0,00": START stays off and grey.
        QVERIFY(window->bRESET->isEnabled());
        QVERIFY(!window->bSTART->isEnabled());
        QCOMPARE(window->bSTART->Color(), clBtnFace);
        // The elimination is a change that closing must not lose.
        QVERIFY(window->Session().Modified());
        dialogs->choices.enqueue(2); // "Abbrechen"
        QVERIFY(!window->close());
        QCOMPARE(dialogs->questions,
                 QStringList{QStringLiteral("Beenden? Das Protokoll hat ungespeicherte Änderungen.")});
    }

    void eliminationByKeyStopsOnlyThatLane_data()
    {
        QTest::addColumn<int>("lane");
        QTest::newRow("Shift+F8, lane 1") << 1;
        QTest::newRow("Shift+F9, lane 2") << 2;
    }

    void eliminationByKeyStopsOnlyThatLane()
    {
        QFETCH(int, lane);
        const int other = 3 - lane;
        const int row = lane; // lanes on rows 1 and 2
        Load(kFiveStarters);
        Key(Qt::Key_F5);
        clock->Advance(4000);
        QTest::keyClick(window.get(), lane == 1 ? Qt::Key_F8 : Qt::Key_F9, Qt::ShiftModifier);

        QCOMPARE(Cell(ColLauf1, row), QStringLiteral("EL"));
        QVERIFY(!window->RunCycle().LaneRunning(lane));
        QVERIFY(window->RunCycle().LaneRunning(other));
        QVERIFY(window->RunCycle().CanEliminate(lane));
        // The display says EL: blank, E, L, blank, blank.
        const auto& digits = lane == 1 ? window->Digit1 : window->Digit2;
        QList<int> patterns;
        for (TDigit* digit : digits)
            patterns.append(digit->ValueBinary());
        QCOMPARE(patterns, QList<int>({0, 0b101111, 0b101100, 0, 0}));
        QWidget* panel = lane == 1 ? window->PanelT1 : window->PanelT2;
        QVERIFY(!panel->findChild<QLabel*>(QStringLiteral("comma"))->isVisible()); // "EL", not "EL,"

        // A second EL or a stop of the same lane changes nothing; the other lane runs on.
        QTest::keyClick(window.get(), lane == 1 ? Qt::Key_F8 : Qt::Key_F9, Qt::ShiftModifier);
        Key(lane == 1 ? Qt::Key_F8 : Qt::Key_F9);
        QCOMPARE(Cell(ColLauf2, row), QString());
        clock->Advance(3000);
        QTRY_COMPARE(ShownDigits(other), QList<int>({0, 0, 7, 0, 0}));
        Key(other == 1 ? Qt::Key_F8 : Qt::Key_F9);
        QCOMPARE(Cell(ColLauf1, other), QStringLiteral("7,00"));
        QCOMPARE(window->RunCycle().State(), RunState::ResetDue);
        // The reset shows digits again.
        Key(Qt::Key_F7);
        for (TDigit* digit : digits)
            QCOMPARE(int(digit->ValueBinary()), int(TDigit::DigitPattern(0)));
        QVERIFY(panel->findChild<QLabel*>(QStringLiteral("comma"))->isVisible());
    }

    void doubtfulTimeIsMarkedUntilConfirmed_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("lane1Ms");
        QTest::addColumn<bool>("classField");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<QString>("reason");
        QTest::newRow("bounce below the minimum") << 500 << 120 << false << true << "Mindestzeit";
        QTest::newRow("minimum off") << 0 << 120 << false << false << "";
        QTest::newRow("far from five of its class") << 0 << 9990 << true << true << "Klasse";
        QTest::newRow("in line with its class") << 500 << 29000 << true << false << "";
    }

    void doubtfulTimeIsMarkedUntilConfirmed()
    {
        QFETCH(int, minimum);
        QFETCH(int, lane1Ms);
        QFETCH(bool, classField);
        QFETCH(bool, marked);
        QFETCH(QString, reason);
        window->Settings.Mindestzeit = minimum;
        window->ApplySettings();
        const QList<Starter> starters = FortyStarters();
        Load(starters);
        if (classField) {
            // Five others of row 1's class ran about 30 s in this run.
            int filled = 0;
            for (int row = 3; row <= 40 && filled < 5; ++row) {
                if (Cell(ColKlasse, row) == Cell(ColKlasse, 1)) {
                    window->WriteCell(ColLauf1, row, QStringLiteral("%1,00").arg(28 + filled));
                    ++filled;
                }
            }
        }
        Run(lane1Ms, 31000);
        QCOMPARE(Cell(ColLauf1, 1), FormatRunTime(lane1Ms)); // entered all the same
        QCOMPARE(window->TimeUnconfirmed(ColLauf1, 1), marked);
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 2));
        const TFormatOptions format = window->SortGrid1->GetCellFormat(ColLauf1, 1);
        QCOMPARE(format.BrushColor == UnconfirmedTimeColor, marked);
        QCOMPARE(window->Results().Unconfirmed(QStringLiteral("1"), 1), marked); // scoreboards see it
        if (!marked)
            return;
        QVERIFY2(window->statusBar()->currentMessage().contains(reason),
                 qPrintable(window->statusBar()->currentMessage()));
        // The mark follows the starter, not the row number, when the view is sorted by place.
        window->cbSort->click();
        int row = 1;
        while (Cell(ColLoadOrder, row) != QStringLiteral("1"))
            ++row;
        QVERIFY(row != 1); // the bounce's 0,12 ranks first
        QVERIFY(window->TimeUnconfirmed(ColLauf1, row));
        window->cbSort->click();

        window->SortGrid1->SetRow(1);
        dialogs->answers.enqueue(true);
        QTest::keyClick(window.get(), Qt::Key_B, Qt::ControlModifier);
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 1));
        QVERIFY(!window->Results().Unconfirmed(QStringLiteral("1"), 1));
        QCOMPARE(Cell(ColLauf1, 1), FormatRunTime(lane1Ms));
    }

    void doubtfulTimeTakesNoPlaceUntilConfirmed()
    {
        window->Settings.Mindestzeit = 500;
        window->Settings.ProbeLaufe = 0;
        window->ApplySettings();
        Load(kFiveStarters);
        Run(70, 31000); // Adler's contact bounced, Berg ran
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("0,07"));
        QCOMPARE(Cell(ColPlatz, 1), QString());
        QCOMPARE(Cell(ColPlatz, 2), QStringLiteral("1"));
        Key(Qt::Key_F7);
        Run(32000, 80); // Christ ran, Dorn's 0,08 bounced too
        QVERIFY2(window->statusBar()->currentMessage().contains(QStringLiteral("2 Zeiten warten")),
                 qPrintable(window->statusBar()->currentMessage()));

        // Ctrl+B on a row without a doubtful time asks for the one waiting longest, by name.
        window->SortGrid1->SetRow(2);
        dialogs->answers.enqueue(false);
        QTest::keyClick(window.get(), Qt::Key_B, Qt::ControlModifier);
        QCOMPARE(dialogs->questions.constLast(),
                 QStringLiteral("Zeit 0,07 von Nr. 1 – Adler Anna (Lauf 1) bestätigen?"));
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 1));
        QCOMPARE(Cell(ColPlatz, 1), QString());

        dialogs->answers.enqueue(true);
        QTest::keyClick(window.get(), Qt::Key_B, Qt::ControlModifier);
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 1));
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 4));
        QCOMPARE(Cell(ColPlatz, 1), QStringLiteral("1"));
        QCOMPARE(Cell(ColPlatz, 2), QStringLiteral("2"));
        QCOMPARE(Cell(ColPlatz, 4), QString());
        QVERIFY2(window->statusBar()->currentMessage().contains(QStringLiteral("1 Zeit wartet")),
                 qPrintable(window->statusBar()->currentMessage()));
    }

    void doubtfulMarkGoesAndComesWithItsRow_data()
    {
        QTest::addColumn<bool>("wholeProtocol");
        QTest::newRow("row deleted") << false;
        QTest::newRow("protocol cleared") << true;
    }

    void doubtfulMarkGoesAndComesWithItsRow()
    {
        QFETCH(bool, wholeProtocol);
        window->Settings.Mindestzeit = 500;
        window->ApplySettings();
        Load(kFiveStarters);
        Run(70, 31000); // Adler's 0,07 waits for confirmation
        Key(Qt::Key_F7);
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 1));
        window->SortGrid1->SetRow(1);
        dialogs->answers.enqueue(true);
        (wholeProtocol ? window->sbCLSall : window->sbCLS)->click();
        QVERIFY(!window->Results().Unconfirmed(QStringLiteral("1"), 1));
        // Nothing waits any more: Ctrl+B neither asks nor reports a confirmation.
        const qsizetype asked = dialogs->questions.size();
        QTest::keyClick(window.get(), Qt::Key_B, Qt::ControlModifier);
        QCOMPARE(dialogs->questions.size(), asked);
        QCOMPARE(window->statusBar()->currentMessage(), QString());

        // Undone, Adler is back with her time still to be confirmed.
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Cell(ColLoadOrder, 1), QStringLiteral("1"));
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 1));
        QVERIFY(window->Results().Unconfirmed(QStringLiteral("1"), 1));
        QCOMPARE(Cell(ColPlatz, 1), QString());
    }

    void editingADoubtfulTimeSettlesIt()
    {
        window->Settings.Mindestzeit = 500;
        window->ApplySettings();
        Load(kFiveStarters);
        Run(120, 31000);
        QVERIFY(window->TimeUnconfirmed(ColLauf1, 1));
        Key(Qt::Key_F7);
        EditCell(ColLauf1, 1, QStringLiteral("30,12"));
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("30,12"));
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 1));
    }

    void repeatRunTakesThePairsTimesBack_data()
    {
        QTest::addColumn<bool>("afterReset");
        QTest::newRow("before 0,00") << false;
        QTest::newRow("after 0,00") << true;
    }

    void repeatRunTakesThePairsTimesBack()
    {
        QFETCH(bool, afterReset);
        window->Settings.Mindestzeit = 500;
        window->ApplySettings();
        Load(kFiveStarters);
        Run(120, 31000); // lane 1's contact bounced
        if (afterReset) {
            Key(Qt::Key_F7);
            QCOMPARE(window->cbBuhn1->currentIndex(), 2);
        }
        // Not answered "yes": nothing changes.
        window->mRepeatRun->trigger();
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("0,12"));
        QCOMPARE(
            dialogs->questions.constLast(),
            QStringLiteral(
                "Probelauf 1 von Adler (0,12) und Berg (31,00) wiederholen? Die Zeiten werden entfernt."));

        dialogs->answers.enqueue(true);
        window->mRepeatRun->trigger();
        QCOMPARE(dialogs->questions.size(), 2);
        QCOMPARE(Cell(ColLauf1, 1), QString());
        QCOMPARE(Cell(ColLauf1, 2), QString());
        QVERIFY(!window->TimeUnconfirmed(ColLauf1, 1));
        QCOMPARE(window->cbBuhn1->currentIndex(), 0);
        QCOMPARE(window->cbBuhn2->currentIndex(), 1);
        QCOMPARE(window->RunCycle().State(), RunState::Ready);
        QVERIFY(window->bSTART->isEnabled());

        // Taken back with Ctrl+Z, and repeated once more.
        window->mUndo->trigger();
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("0,12"));
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("31,00"));
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("„Lauf wiederholen“ ist rückgängig gemacht."));
        dialogs->answers.enqueue(true);
        window->mRepeatRun->trigger();
        QCOMPARE(Cell(ColLauf1, 1), QString());

        // The pair runs again into the same column; a second repeat has nothing left to take.
        Run(30000, 31000);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("30,00"));
        QCOMPARE(Cell(ColLauf2, 1), QString());
        Key(Qt::Key_F7);
        Key(Qt::Key_F5);
        window->mRepeatRun->trigger(); // refused while running
        QCOMPARE(dialogs->questions.size(), 3);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("30,00"));
    }

    void timeGoesToTheLaneEntrysOwnRow_data()
    {
        QTest::addColumn<bool>("placeSorted");
        QTest::newRow("load order") << false;
        QTest::newRow("sorted by place") << true;
    }

    void timeGoesToTheLaneEntrysOwnRow()
    {
        QFETCH(bool, placeSorted);
        // One car, two drivers in two classes: start number 7 twice.
        Load({{"7", "Adler", "Anna", "SC Nord", "B"},
              {"7", "Adler", "Arne", "SC Nord", "A"},
              {"8", "Berg", "Bruno", "TV Ost", "A"}});
        if (placeSorted)
            window->cbSort->click();
        window->cbBuhn1->setCurrentIndex(1); // Arne
        window->cbBuhn2->setCurrentIndex(0); // Anna
        Run(20000, 21000);
        window->sb2del->click();
        const int arne = window->LaneRow(1);
        const int anna = window->LaneRow(2);
        QCOMPARE(Cell(ColVorname, arne), QStringLiteral("Arne"));
        QCOMPARE(Cell(ColVorname, anna), QStringLiteral("Anna"));
        QCOMPARE(Cell(ColLauf1, arne), QStringLiteral("20,00"));
        QCOMPARE(Cell(ColLauf1, anna), QStringLiteral("EL"));
        QCOMPARE(Cell(ColLauf2, anna), QString());
    }

    void failingGridOperationLeavesTheProgramRunning_data()
    {
        QTest::addColumn<QString>("secondaryIndex");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("sort key that is no number") << "x" << Qt::RightButton;
        QTest::newRow("sort key beyond the last column") << "99" << Qt::LeftButton;
    }

    void failingGridOperationLeavesTheProgramRunning()
    {
        QFETCH(QString, secondaryIndex);
        QFETCH(Qt::MouseButton, button);
        Load(kFiveStarters);
        TSortGrid* grid = window->SortGrid1;
        grid->SortOptions.CanSort = true;
        grid->SortOptions.SecondaryIndex = secondaryIndex;
        QTest::mouseClick(grid->viewport(), button, {}, grid->CellRect(ColName, 0).center());
        grid->SortOptions.CanSort = false;

        for (int row = 1; row <= 5; ++row)
            QCOMPARE(Cell(ColNr, row), QString::number(row));
        QVERIFY(grid->isEnabled());
        Run(1500, 2500);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("1,50"));
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("2,50"));
    }

    void classesSortInTheWesternCodePageOrder()
    {
        Load({{"1", "A", "a", "V", QStringLiteral("Ärger")},
              {"2", "B", "b", "V", QStringLiteral("Łukasz")},
              {"3", "C", "c", "V", QStringLiteral("Šimon")},
              {"4", "D", "d", "V", QStringLiteral("zeta")},
              {"5", "E", "e", "V", QStringLiteral("€uro")}});
        window->cbSort->click();
        QStringList classes;
        for (int row = 1; row <= 5; ++row)
            classes.append(Cell(ColKlasse, row));
        QCOMPARE(classes,
                 QStringList({QStringLiteral("zeta"), QStringLiteral("€uro"), QStringLiteral("Šimon"),
                              QStringLiteral("Ärger"), QStringLiteral("Łukasz")}));
    }

    void placeSortedViewKeepsLaneRowsByIdentity()
    {
        Load(kFiveStarters);
        window->cbSort->click();
        QVERIFY(window->cbSort->isChecked());
        // Class order: A (1, 2, 4) then B (3, 5).
        QCOMPARE(Cell(ColNr, 3), QStringLiteral("4"));
        QCOMPARE(Cell(ColNr, 4), QStringLiteral("3"));
        window->cbBuhn1->setCurrentIndex(2); // starter 3
        QCOMPARE(window->LaneRow(1), 4);
        Key(Qt::Key_F5);
        clock->Advance(2500);
        Key(Qt::Key_F8);
        QCOMPARE(Cell(ColLauf1, 4), QStringLiteral("2,50"));
        Key(Qt::Key_F9);
        window->sb1del->click();
        QCOMPARE(window->SortGrid1->Cells(ColLauf1, window->LaneRow(1)), QStringLiteral("EL"));
        QCOMPARE(window->SortGrid1->Cells(ColNr, window->LaneRow(1)), QStringLiteral("3"));

        window->cbSort->click();
        QCOMPARE(Cell(ColNr, 3), QStringLiteral("3"));
        QCOMPARE(window->LaneRow(1), 3);
    }

    void takeOverPutsTheCurrentRowOnTheLane()
    {
        Load(kFiveStarters);
        window->SortGrid1->SetRow(4);
        QVERIFY(window->sb2->isEnabled());
        window->sb2->click();
        QCOMPARE(window->cbBuhn2->currentIndex(), 3);
        window->sb1->click();
        QCOMPARE(window->cbBuhn1->currentIndex(), 3);
        QVERIFY(!window->bSTART->isEnabled());
    }

    void deleteRowAsksFirst()
    {
        Load(kFiveStarters);
        window->SortGrid1->SetRow(2);
        dialogs->answers.enqueue(false);
        window->sbCLS->click();
        QCOMPARE(dialogs->questions, QStringList{QStringLiteral("Zeile 2 – Berg Bruno entfernen?")});
        QCOMPARE(window->SortGrid1->RowCount(), 6);

        dialogs->answers.enqueue(true);
        window->sbCLS->click();
        QCOMPARE(window->SortGrid1->RowCount(), 5);
        QCOMPARE(Cell(ColNr, 2), QStringLiteral("3"));
        QCOMPARE(window->SortGrid1->Row(), 2);
        // The deleted starter leaves both lane lists at once; lane 2, which
        // showed him, shows nobody rather than the next starter.
        QCOMPARE(window->cbBuhn1->count(), 4);
        QCOMPARE(window->cbBuhn2->count(), 4);
        QCOMPARE(window->cbBuhn1->currentIndex(), 0);
        QCOMPARE(window->cbBuhn2->currentIndex(), -1);
    }

    void clearAllEmptiesProtocolAndLists()
    {
        Load(kFiveStarters);
        dialogs->answers.enqueue(true);
        window->sbCLSall->click();
        QCOMPARE(dialogs->questions, QStringList{QStringLiteral("Zeitenprotokoll  löschen?")});
        QCOMPARE(window->SortGrid1->RowCount(), 2);
        QCOMPARE(Cell(ColNr, 1), QString());
        QCOMPARE(window->cbBuhn1->count(), 0);
        QVERIFY(!window->cbBuhn1->isEnabled());
        QVERIFY(!window->bSTART->isEnabled());
        QVERIFY(!window->sbSave->isEnabled());
        QVERIFY(!window->Session().Modified());
    }

    void toolsNeedAStartNumberInRowOne()
    {
        Load(kFiveStarters);
        QVERIFY(window->sbSave->isEnabled());
        QVERIFY(window->sbCLS->isEnabled());
        QVERIFY(window->cbEditON->isEnabled());
        // The workbook writer is built in; the Word button needs the template as well.
        QVERIFY(window->sbExcel->isEnabled());
        QCOMPARE(window->sbWord->isEnabled(), QFileInfo::exists(window->WordTemplatePath));
        window->WriteCell(ColNr, 1, QString());
        window->UpdateCommandStates();
        for (QWidget* tool : std::initializer_list<QWidget*>{
                 window->sbSave, window->sbPrint, window->sbInet, window->sbExcel, window->sbWord,
                 window->cbSort, window->cbEditON, window->sbCLS, window->sbCLSall})
            QVERIFY2(!tool->isEnabled(), qPrintable(tool->toolTip()));
    }

    void f2OpensTheSettingsAndEnterEditsACell()
    {
        Load(kFiveStarters);
        TSortGrid* grid = window->SortGrid1;
        window->cbEditON->click();
        grid->GotoCell(ColName, 2, true);
        grid->setFocus();
        QString shownWith;
        dialogs->modalAnswers.enqueue([&](QDialog& dialog) {
            shownWith = dialog.windowTitle();
            QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        QTest::keyClick(grid, Qt::Key_F2); // through the window's shortcut, as an operator's key
        QCOMPARE(shownWith, QStringLiteral("Einstellungen"));
        QVERIFY(!grid->EditorMode());

        QTest::keyClick(grid, Qt::Key_Return);
        QVERIFY(grid->EditorMode());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!grid->EditorMode());
        QCOMPARE(dialogs->modalTitles, QStringList{QStringLiteral("Einstellungen")});
    }

    void classWrittenTwoWaysHasOneWinner()
    {
        Load({{"1", "Adler", "Anna", "SC", "Jugend"},
              {"2", "Berg", "Bruno", "SC", "jugend "},
              {"3", "Christ", "Clara", "SC", "Kinder"},
              {"4", "Dorn", "David", "SC", " Jugend"}});
        const QStringList times{"0,42", "1,54", "2,00", "0,99"};
        for (int row = 1; row <= 4; ++row) {
            FillTestRuns(row, QStringLiteral("9,99"));
            window->WriteCell(ColLauf3, row, times.at(row - 1));
        }
        window->RankProtocol();
        QMap<QString, QString> placeOf;
        for (int row = 1; row <= 4; ++row)
            placeOf.insert(Cell(ColName, row), Cell(ColPlatz, row));
        QCOMPARE(placeOf,
                 (QMap<QString, QString>{{"Adler", "1"}, {"Dorn", "2"}, {"Berg", "3"}, {"Christ", "1"}}));
        QVERIFY2(
            window->statusBar()->currentMessage().contains(QStringLiteral("„Jugend“, „jugend “, „ Jugend“")),
            qPrintable(window->statusBar()->currentMessage()));
        // Said once: a later ranking leaves the status bar to other news.
        window->statusBar()->clearMessage();
        window->RankProtocol();
        QCOMPARE(window->statusBar()->currentMessage(), QString());
    }

    void swappedLanesStayAndSaySo()
    {
        Load(FortyStarters());
        QCOMPARE(window->Label4->text(), QStringLiteral("Laufbahn 1:"));
        window->seObmen->click();
        QVERIFY(window->Label4->text().contains(QStringLiteral("⇄")));
        QVERIFY(window->Label7->text().contains(QStringLiteral("⇄")));
        Run(30000, 31000);
        Key(Qt::Key_F7);
        // The next pair comes reversed too, and the labels still say so.
        QVERIFY(window->cbBuhn1->currentText().startsWith(QStringLiteral("4 ")));
        QVERIFY(window->cbBuhn2->currentText().startsWith(QStringLiteral("3 ")));
        QVERIFY(window->Label4->text().contains(QStringLiteral("⇄")));
        window->seObmen->click();
        QCOMPARE(window->Label4->text(), QStringLiteral("Laufbahn 1:"));
        QCOMPARE(window->Label7->text(), QStringLiteral("Laufbahn 2:"));
    }

    void dialogNobodyAnswersFailsTheTestAtOnce_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<QString>("title");
        QTest::newRow("settings through the test's dialogs") << 0 << QStringLiteral("Einstellungen");
        QTest::newRow("real settings dialog") << 1 << QStringLiteral("Einstellungen");
        QTest::newRow("real message box outside the seam") << 2 << QApplication::applicationDisplayName();
    }

    void dialogNobodyAnswersFailsTheTestAtOnce()
    {
        QFETCH(int, way);
        QFETCH(QString, title);
        QtDialogs real;
        const ModalGuard::CaptureScope unexpected;
        QElapsedTimer took;
        took.start();
        switch (way) {
        case 0:
            QTest::keyClick(window->SortGrid1, Qt::Key_F2);
            break;
        case 1:
            SetDialogs(&real);
            QTest::keyClick(window->SortGrid1, Qt::Key_F2);
            SetDialogs(dialogs.get());
            break;
        default:
            real.ShowMessage(window.get(), QStringLiteral("Niemand antwortet."));
        }
        qInfo("an unanswered dialog was closed after %lld ms", took.elapsed());
        QCOMPARE(unexpected.titles, QStringList{title});
        QVERIFY(!QApplication::activeModalWidget());
    }

    void editModeSwitchesToCellSelection()
    {
        Load(kFiveStarters);
        TSortGrid* grid = window->SortGrid1;
        // The last cell the operator selected was in the club column.
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(ColVerein, 3).center());
        QCOMPARE(grid->Row(), 3);
        window->cbEditON->click();
        QVERIFY(grid->Options().testFlag(goEditing));
        QVERIFY(!grid->Options().testFlag(goRowSelect));
        QCOMPARE(grid->Selection(), TGridRect({ColVerein, 3, ColVerein, 3}));

        // Typing overwrites that cell.
        grid->setFocus();
        QTest::keyClicks(grid, QStringLiteral("S")); // opens the editor on the cell
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("V Neu"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(Cell(ColVerein, 3), QStringLiteral("SV Neu"));
        QVERIFY(window->Session().Modified());

        QTest::mouseClick(window->labEditON, Qt::LeftButton);
        QVERIFY(!window->cbEditON->isChecked());
        QVERIFY(!grid->Options().testFlag(goEditing));
        QVERIFY(grid->Options().testFlag(goRowSelect));
    }

    void lateEntryJoinsTheEndOfTheStartOrder()
    {
        Load(kFiveStarters);
        // A number already given is refused, naming its starter; what was typed stays.
        QString refusedWith;
        dialogs->modalAnswers.enqueue([this, &refusedWith](QDialog& shown) {
            auto& entry = static_cast<TLateEntryDialog&>(shown);
            QCOMPARE(entry.editNr->text(), QStringLiteral("6"));
            entry.editNr->setText(QStringLiteral("3"));
            entry.editName->setText(QStringLiteral("Zorn"));
            entry.editVorname->setText(QStringLiteral("Zoe"));
            entry.cbKlasse->setEditText(QStringLiteral("B"));
            entry.accept();
            QVERIFY(entry.isVisible());
            refusedWith = dialogs->errors.value(0);
            QCOMPARE(entry.editName->text(), QStringLiteral("Zorn"));
            entry.editNr->setText(QStringLiteral("12"));
            entry.accept();
        });
        QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(dialogs->modalTitles, QStringList{QStringLiteral("Starter nachmelden")});
        QCOMPARE(
            refusedWith,
            QStringLiteral("Die Startnummer 3 hat schon Clara Christ. Bitte eine andere Nummer wählen."));
        QCOMPARE(window->SortGrid1->RowCount(), 7);
        QCOMPARE(Cell(ColNr, 6), QStringLiteral("12"));
        QCOMPARE(Cell(ColName, 6), QStringLiteral("Zorn"));
        QCOMPARE(Cell(ColLoadOrder, 6), QStringLiteral("6"));
        QCOMPARE(window->cbBuhn2->count(), 6);
        QCOMPARE(window->cbBuhn2->itemText(5), QStringLiteral("12 Zorn Zoe "));
        QVERIFY(window->Session().Modified());
        QVERIFY(window->statusBar()->currentMessage().contains(QStringLiteral("nachgemeldet")));

        // He is timed like anyone: on lane 2 beside Adler.
        window->cbBuhn2->setCurrentIndex(5);
        Run(30000, 31000);
        QCOMPARE(Cell(ColLauf1, 6), QStringLiteral("31,00"));

        // During a run the key says why nothing opens.
        Key(Qt::Key_F7);
        Key(Qt::Key_F5);
        QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(dialogs->modalTitles.size(), 1);
        QVERIFY(!window->sbLateEntry->isEnabled());
        QVERIFY(window->statusBar()->currentMessage().startsWith(
            QStringLiteral("Starter nachmelden ist während")));
        Key(Qt::Key_F8);
        Key(Qt::Key_F9);
        Key(Qt::Key_F7);

        // Ctrl+Z takes the late entry back.
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(window->SortGrid1->RowCount(), 6);
        QCOMPARE(window->cbBuhn1->count(), 5);
    }

    void keysThatDoNothingDuringARunSayWhy()
    {
        Load(kFiveStarters);
        Key(Qt::Key_F5);
        Key(Qt::Key_F2);
        QVERIFY(dialogs->modalTitles.isEmpty());
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Einstellungen sind während eines Laufs gesperrt – erst nach „0,00“."));
        Key(Qt::Key_F8);
        Key(Qt::Key_F9);
    }

    void exitQuestionEscapeAndCloseBoxGoBack_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Esc") << false;
        QTest::newRow("close box") << true;
    }

    void exitQuestionEscapeAndCloseBoxGoBack()
    {
        QFETCH(bool, closeBox);
        QtDialogs real;
        const ModalGuard::ExpectedScope expected;
        bool answered = false;
        // Runs inside the question's own event loop, once it is shown.
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            answered = true;
            if (closeBox)
                box->close();
            else
                QTest::keyClick(box, Qt::Key_Escape);
        });
        const QStringList buttons{QStringLiteral("Speichern"), QStringLiteral("Beenden ohne Speichern"),
                                  QStringLiteral("Abbrechen")};
        const int chosen = real.AskChoice(window.get(), QStringLiteral("Beenden?"), buttons);
        QVERIFY(answered);
        QCOMPARE(chosen, 2);
    }

    void closingAsksOnlyWhenSomethingIsAtStake()
    {
        Load(kFiveStarters);
        QVERIFY(window->close());
        QCOMPARE(dialogs->questions.size(), 0);

        window->show();
        window->mStart->trigger();
        QVERIFY(window->Clock->isActive());
        dialogs->answers.enqueue(false);
        QVERIFY(!window->close());
        QCOMPARE(dialogs->questions, QStringList{QStringLiteral("Beenden?")});
        window->mSTOP1->trigger();
        window->mStop2->trigger();
        // Unsaved times: "Speichern" closes only once the protocol is in its file.
        dialogs->choices.enqueue(0); // "Speichern", then the save dialog cancelled
        QVERIFY(!window->close());
        QCOMPARE(dialogs->lastButtons,
                 QStringList({QStringLiteral("Speichern"), QStringLiteral("Beenden ohne Speichern"),
                              QStringLiteral("Abbrechen")}));
        QVERIFY(window->Session().Modified());
        dialogs->choices.enqueue(0);
        dialogs->fileNames.enqueue(settingsDir.filePath(QStringLiteral("beim-beenden.txt")));
        QVERIFY(window->close());
        QVERIFY(!window->Session().Modified());
        QVERIFY(QFileInfo(settingsDir.filePath(QStringLiteral("beim-beenden.txt"))).size() > 0);
    }

    void laneLayoutSizesTheLaneBar()
    {
        window->resize(802, 445);
        QApplication::processEvents();
        const int barWidth = window->Panel->width();
        QCOMPARE(window->PanelLL->width(), (barWidth - 130) / 2);
        QCOMPARE(window->PanelRR->width(), (barWidth - 130) / 2);
    }

    void protocolColumnsFillTheGrid()
    {
        window->resize(1000, 500);
        QApplication::processEvents();
        TSortGrid* grid = window->SortGrid1;
        int sum = 0;
        for (int c = 0; c < ColLoadOrder; ++c)
            sum += grid->ColWidths(c);
        // Every visible column plus one pixel of grid line each fills the client width.
        QCOMPARE(sum - 1 + 14, grid->viewport()->width());
    }

    void textColumnsGetWidthByTheirContents()
    {
        const int width = 1280;
        QList<Starter> starters = kFiveStarters;
        starters[2].verein = QStringLiteral("Seifenkisten Unterallgäu");
        starters[3].klasse = QStringLiteral("Junioren ab 12");
        Load(starters);
        window->resize(width, 600);
        QApplication::processEvents();
        TSortGrid* grid = window->SortGrid1;
        const QFontMetrics metrics(grid->font());
        QVERIFY(grid->ColWidths(ColVerein) > metrics.horizontalAdvance(starters[2].verein));
        QVERIFY(grid->ColWidths(ColKlasse) > metrics.horizontalAdvance(starters[3].klasse));
        QVERIFY(grid->ColWidths(ColName) > metrics.horizontalAdvance(QStringLiteral("Christ")));
        int sum = 0;
        for (int c = 0; c < ColLoadOrder; ++c)
            sum += grid->ColWidths(c);
        QCOMPARE(sum - 1 + 14, grid->viewport()->width());
    }

    // At the window's first size a list of real names and classes shows them
    // whole: run columns beyond the runs of the day or still without times
    // are narrow, a run's first time widens its column.
    void unusedRunColumnsGiveTheirWidthToTheNames_data()
    {
        QTest::addColumn<int>("allLaufe");
        QTest::addColumn<int>("timedRuns");
        QTest::newRow("six runs, none timed yet") << 6 << 0;
        QTest::newRow("six runs, the first timed") << 6 << 1;
        QTest::newRow("three runs, none timed yet") << 3 << 0;
    }

    void unusedRunColumnsGiveTheirWidthToTheNames()
    {
        QFETCH(int, allLaufe);
        QFETCH(int, timedRuns);
        window->Settings.AllLaufe = allLaufe;
        window->ApplySettings();
        const QList<Starter> starters = {
            {"1", "Müller", "Johannes", "SV Musterstadt", "Junioren"},
            {"2", "Schäfer", "Maximilian", "RSC Kirchberg", "Junioren"},
        };
        Load(starters);
        window->resize(900, 500); // the rows in the grid are laid out at the next size
        QApplication::processEvents();
        window->resize(802, 445);
        QApplication::processEvents();
        for (int run = 1; run <= timedRuns; ++run) {
            window->mStart->trigger();
            window->mSTOP1->trigger();
            window->mStop2->trigger();
            window->mReset->trigger();
        }
        QApplication::processEvents();
        TSortGrid* grid = window->SortGrid1;
        const QFontMetrics metrics(grid->font());
        for (const Starter& starter : starters) {
            QVERIFY2(grid->ColWidths(ColName) > metrics.horizontalAdvance(starter.name),
                     qPrintable(starter.name));
            QVERIFY(grid->ColWidths(ColVorname) > metrics.horizontalAdvance(starter.vorname));
            QVERIFY(grid->ColWidths(ColKlasse) > metrics.horizontalAdvance(starter.klasse));
        }
        for (int run = 1; run <= RunColumnCount; ++run) {
            const int col = ColLauf1 + run - 1;
            const bool inUse = run <= allLaufe && run <= timedRuns;
            QCOMPARE(grid->ColWidths(col), inUse ? 60 : 24);
        }
        int sum = 0;
        for (int c = 0; c < ColLoadOrder; ++c)
            sum += grid->ColWidths(c);
        QCOMPARE(sum - 1 + 14, grid->viewport()->width());
    }

    void clickOnARowReportsTheSelectionFirst()
    {
        Load(kFiveStarters);
        TSortGrid* grid = window->SortGrid1;
        grid->GotoCell(0, 1, true);
        QStringList seen;
        const auto windowHandler = grid->OnSelectCell;
        const auto restore = qScopeGuard([&] { grid->OnSelectCell = windowHandler; });
        grid->OnSelectCell = [&](int col, int row, bool& canSelect) {
            seen.append(QStringLiteral("select %1 at %2").arg(row).arg(grid->Row()));
            windowHandler(col, row, canSelect);
        };
        QObject receiver;
        connect(grid, &TSortGrid::OnRowSelected, &receiver,
                [&] { seen.append(QStringLiteral("selected at %1").arg(grid->Row())); });
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                          grid->CellRect(ColName, 3).center());
        QCOMPARE(seen, (QStringList{"select 3 at 1", "selected at 1"}));
        QCOMPARE(grid->Row(), 3);
        QTRY_COMPARE(window->StatusPanel0->text(), QStringLiteral("Zeile 3 von 5"));
    }

    void typingALetterSelectsTheNextStarter_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("expected");
        // The grid searches its sort column, the class: A A B A B.
        QTest::newRow("next starter of class B") << 1 << "b" << 3;
        QTest::newRow("after the current row") << 3 << "b" << 5;
        QTest::newRow("wraps to the top") << 5 << "B" << 3;
        QTest::newRow("class A after row 4 wraps to row 1") << 4 << "a" << 1;
        QTest::newRow("no class starts with it") << 2 << "x" << 2;
    }

    void typingALetterSelectsTheNextStarter()
    {
        QFETCH(int, current);
        QFETCH(QString, typed);
        QFETCH(int, expected);
        Load(kFiveStarters);
        window->RankProtocol(); // as after loading a list or a run
        TSortGrid* grid = window->SortGrid1;
        grid->GotoCell(0, current, true);
        grid->setFocus();
        QTest::keyClicks(grid, typed);
        QCOMPARE(grid->Row(), expected);
        QTRY_COMPARE(window->StatusPanel0->text(), QStringLiteral("Zeile %1 von 5").arg(expected));
    }

    void editedCellIsCheckedAndRanked_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected"); // the cell, Dorn's total and place
        QTest::addColumn<bool>("refused");
        // Dorn (row 4, class A) has 32,00 and is third behind Berg 30,00 and Adler 31,00.
        QTest::newRow("time") << ColLauf1 << "29,50" << QStringList{"29,50", "29,50", "1"} << false;
        QTest::newRow("point as separator")
            << ColLauf1 << "29.50" << QStringList{"29,50", "29,50", "1"} << false;
        QTest::newRow("three decimals truncated")
            << ColLauf1 << "30.509" << QStringList{"30,50", "30,50", "2"} << false;
        QTest::newRow("elimination") << ColLauf1 << "el" << QStringList{"EL", "EL", ""} << false;
        QTest::newRow("time removed") << ColLauf1 << "" << QStringList{"", "", ""} << false;
        QTest::newRow("typo refused, old time kept")
            << ColLauf1 << "3l,25" << QStringList{"32,00", "32,00", "3"} << true;
        QTest::newRow("point typo refused")
            << ColLauf1 << "31.2.5" << QStringList{"32,00", "32,00", "3"} << true;
        QTest::newRow("class changed") << ColKlasse << "B" << QStringList{"B", "32,00", "1"} << false;
    }

    void editedCellIsCheckedAndRanked()
    {
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        QFETCH(bool, refused);
        Load(kFiveStarters);
        window->Settings.ProbeLaufe = 0;
        window->ApplySettings();
        for (const auto& [row, time] : {std::pair{1, "31,00"}, std::pair{2, "30,00"}, std::pair{4, "32,00"}})
            window->WriteCell(ColLauf1, row, QString::fromLatin1(time));
        window->RankProtocol();
        window->SetUnsaved(false);
        QCOMPARE(Cell(ColPlatz, 4), QStringLiteral("3"));

        EditCell(col, 4, typed);
        QCOMPARE(Cell(col, 4), expected.at(0));
        QTRY_COMPARE(Cell(ColGesamt, 4), expected.at(1));
        QTRY_COMPARE(Cell(ColPlatz, 4), expected.at(2));
        QCOMPARE(Cell(ColNr, 4), QStringLiteral("4")); // load order kept
        QCOMPARE(window->Session().Modified(), !refused);
        const QString note = window->statusBar()->currentMessage();
        QCOMPARE(!note.isEmpty(), refused);
        QVERIFY(!refused || note.contains(typed));
    }

    // A name edited far below the pair on the lanes changes the entry in the
    // lists, and the view stays where the operator is editing.
    void editingANameLeavesTheViewWhereItIs()
    {
        Load(FortyStarters());
        EditCell(ColName, 35, QStringLiteral("Neuname"));
        QTRY_COMPARE(window->cbBuhn1->itemText(34).section(u' ', 1, 1), QStringLiteral("Neuname"));
        const int top = window->SortGrid1->TopRow();
        QVERIFY(top > 2);
        QVERIFY(top <= 35 && 35 < top + window->SortGrid1->VisibleRowCount());
    }

    void editedStartNumberStillGetsItsTime()
    {
        Load(kFiveStarters);
        EditCell(ColNr, 1, QStringLiteral("11"));
        QTRY_COMPARE(window->cbBuhn1->itemText(0), QStringLiteral("11 Adler Anna SC Nord"));
        Run(30000, 31000);
        QCOMPARE(window->Results().Cell(QStringLiteral("1"), ColLauf1), QStringLiteral("30,00"));
    }

    void resultsModelHearsEachTimeAndEdit()
    {
        Load(kFiveStarters);
        window->RankProtocol();
        const TResultsModel& results = window->Results();
        QCOMPARE(results.RowCount(), 5);
        QSignalSpy runs(&results, &TResultsModel::RunChanged);
        Run(31000, 30000);
        QCOMPARE(runs.count(), 2);
        QCOMPARE(runs.at(0), (QList<QVariant>{QStringLiteral("2"), 1})); // lane 2 stopped first
        QCOMPARE(runs.at(1), (QList<QVariant>{QStringLiteral("1"), 1}));
        QCOMPARE(results.Cell(QStringLiteral("1"), ColLauf1), QStringLiteral("31,00"));

        EditCell(ColLauf2, 1, QStringLiteral("29,50"));
        QCOMPARE(runs.count(), 3);
        QCOMPARE(results.Cell(QStringLiteral("1"), ColLauf2), QStringLiteral("29,50"));
    }
};

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
