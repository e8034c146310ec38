#include "ActiveWindow.h"
#include "BackgroundWork.h"
#include "FakeTickSource.h"
#include "FileSizeLimit.h"
#include "FormMainAccess.h"
#include "ModalGuard.h"
#include "ProgressCanceller.h"
#include "ProtocolLogic.h"
#include "ReadCancel.h"
#include "TBitBtnWithColor.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestAccess.h"
#include "TestDialogs.h"
#include "TestPrintDialogs.h"
#include "TextBytes.h"
#include "WindowHarness.h"
#include "WorkbookWriter.h"
#include "XlsProcess.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <memory>

// Loading starter lists and saving protocols through the main window's commands.

// The CSV entry of the save dialog (after text and Excel) and of the open
// dialog (after every list type, text and Excel), the web page entry of the save dialog.
constexpr int kCsvEntry = 3;
constexpr int kCsvOpenEntry = 4;
constexpr int kWebPageEntry = 5;

class TestFormMainFiles : public QObject, private WindowHarness
{
    Q_OBJECT

private:
    // The data rows without the load order, which every load renumbers.
    QStringList DataRows() const
    {
        QStringList rows;
        for (int row = 1; row < window->SortGrid1->RowCount(); ++row) {
            QStringList cells = window->SortGrid1->Rows(row).ToStringList();
            cells.removeLast();
            rows.append(cells.join(QLatin1Char('|')));
        }
        return rows;
    }

    // The window started again on the same settings, as after a restart of the program.
    void RestartWindow()
    {
        window->SetUnsaved(false);
        window.reset();
        window = std::make_unique<TTestFormMain>(Access());
        QVERIFY(ShowActive(*window));
    }

    QString Cell(int col, int row) const { return window->SortGrid1->Cells(col, row); }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void init()
    {
        clock = std::make_unique<FakeTickSource>(1000);
        CreateWindow();
    }

    void cleanup()
    {
        DestroyWindow();
        clock.reset();
    }

    void csvStarterListFillsProtocolListsAndCaption()
    {
        WriteFile(QStringLiteral("Starter2024.csv"),
                  "Nr.;Name;Vorname;Verein;Klasse\r\n7;Muster;Max;SC Nord;A\r\n9;Bauer;Lena;TV Ost;B\r\n");
        Open(QStringLiteral("Starter2024.csv"), kCsvOpenEntry);
        QCOMPARE(window->SortGrid1->RowCount(), 3);
        QCOMPARE(window->SortGrid1->Rows(1).ToStringList(),
                 QStringList({"7", "Muster", "Max", "SC Nord", "A", "", "", "", "", "", "", "", "", "1"}));
        QCOMPARE(window->cbBuhn1->itemText(0), QStringLiteral("7 Muster Max SC Nord"));
        QCOMPARE(window->cbBuhn1->currentIndex(), 0);
        QCOMPARE(window->cbBuhn2->currentIndex(), 1);
        QVERIFY(window->cbBuhn2->isEnabled());
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: Starter2024"));
        QVERIFY(window->bSTART->isEnabled());
        QVERIFY(window->sbSave->isEnabled());
        QVERIFY(!window->Session().Modified());
        QCOMPARE(dialogs->lastFilters.size(), 4);
    }

    // A light barrier may start a run while a list is being read: the list
    // is not taken then, and the window says so without a dialog.
    void aListReadWhileARunStartedIsNotTaken()
    {
        WriteFile(QStringLiteral("a.csv"), "1;Adler;Anna;SC Nord;A\r\n2;Berg;Bruno;SC Nord;A\r\n");
        WriteFile(QStringLiteral("b.csv"), "5;Zorn;Zoe;TV Ost;B\r\n");
        QVERIFY(window->LoadStarterList(Path(QStringLiteral("a.csv"))));
        window->TriggerCommand(window->mStart, 1000);
        QVERIFY(!window->LoadStarterList(Path(QStringLiteral("b.csv"))));
        QCOMPARE(Cell(ColName, 1), QStringLiteral("Adler"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: a"));
        QCOMPARE(window->statusBar()->currentMessage(), LoadRefusedMessage);
        window->TriggerCommand(window->mSTOP1, 3000);
        window->TriggerCommand(window->mStop2, 4000);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("2,00"));
    }

    void emptyFieldsKeepTheirColumn()
    {
        WriteFile(QStringLiteral("list.csv"), "7;Muster;;SC Nord;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        QCOMPARE(Cell(ColVorname, 1), QString());
        QCOMPARE(Cell(ColVerein, 1), QStringLiteral("SC Nord"));
        QCOMPARE(Cell(ColKlasse, 1), QStringLiteral("A"));
        // With a single starter lane 2 has nobody to take.
        QVERIFY(!window->cbBuhn2->isEnabled());
        QCOMPARE(window->cbBuhn2->currentIndex(), -1);
    }

    void headerLinesAnywhereAndSeparatorPerLine()
    {
        WriteFile(QStringLiteral("mixed.txt"),
                  "1\tAdler\tAnna;x\tSC\tA\t\r\nNr.\tName\r\n2;Berg;Bruno;TV;B\r\n\r\nNr;again\r\n");
        Open(QStringLiteral("mixed.txt"));
        QCOMPARE(window->SortGrid1->RowCount(), 3);
        QCOMPARE(Cell(ColVorname, 1), QStringLiteral("Anna;x"));
        QCOMPARE(Cell(ColVorname, 2), QStringLiteral("Bruno"));
        QCOMPARE(Cell(ColLoadOrder, 2), QStringLiteral("2"));
    }

    void textRoundTripKeepsEveryCellAndGoesOnTiming()
    {
        WriteFile(QStringLiteral("in.csv"),
                  "3;Zoë;Jürgen;Grün-Weiß;A\r\n1;Dvořák;Antonín;Praha;B\r\n2;Öz;Ünal;SV Süd;A\r\n");
        Open(QStringLiteral("in.csv"), kCsvOpenEntry);
        window->WriteCell(ColLauf1, 1, QStringLiteral("31,25"));
        window->WriteCell(ColLauf2, 2, QStringLiteral("EL"));
        window->RankProtocol();
        window->SetUnsaved(true);
        const QStringList before = DataRows();

        // Saved in the middle of the race, the program closed and started again.
        Save(QStringLiteral("out.txt"), 1);
        QVERIFY(!window->Session().Modified());
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Gespeichert: ") + QDir::toNativeSeparators(Path(QStringLiteral("out.txt"))));
        QVERIFY(ReadFile(QStringLiteral("out.txt")).startsWith("\xEF\xBB\xBFNr.\t"));
        RestartWindow();
        Open(QStringLiteral("out.txt"));
        QCOMPARE(DataRows(), before);

        // The lanes go on with the starters still without a time in run 1, and
        // the next run is recorded behind the times already there.
        QVERIFY(window->cbBuhn1->currentText().startsWith(QStringLiteral("1 Dvořák")));
        QVERIFY(window->cbBuhn2->currentText().startsWith(QStringLiteral("2 Öz")));
        window->mStart->trigger();
        clock->Advance(12340);
        window->mSTOP1->trigger();
        clock->Advance(1000);
        window->mStop2->trigger();
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("12,34"));
        QCOMPARE(Cell(ColLauf2, 2), QStringLiteral("EL"));
        QCOMPARE(Cell(ColLauf1, 3), QStringLiteral("13,34"));
    }

    void protocolSavedSortedGoesOnWithTheNextPair_data()
    {
        QTest::addColumn<int>("entry");
        QTest::newRow("text") << 1;
        QTest::newRow("CSV") << kCsvEntry;
    }

    void protocolSavedSortedGoesOnWithTheNextPair()
    {
        QFETCH(int, entry);
        WriteFile(QStringLiteral("in.csv"), "1;A;a;V;K\r\n2;B;b;V;K\r\n3;C;c;V;K\r\n"
                                            "4;D;d;V;K\r\n5;E;e;V;K\r\n6;F;f;V;K\r\n");
        Open(QStringLiteral("in.csv"), kCsvOpenEntry);
        window->Settings.ProbeLaufe = 0;
        window->ApplySettings();
        for (const auto& [lane1, lane2] : {std::pair{9000, 8000}, std::pair{7000, 6000}}) {
            window->mStart->trigger();
            clock->Advance(lane2);
            window->mStop2->trigger();
            clock->Advance(lane1 - lane2);
            window->mSTOP1->trigger();
            window->mReset->trigger();
        }
        window->cbSort->click(); // the ranking shown: 4, 3, 2, 1, then 5 and 6
        QCOMPARE(Cell(ColNr, 1), QStringLiteral("4"));
        const QString name = entry == 1 ? QStringLiteral("sortiert.txt") : QStringLiteral("sortiert.csv");
        Save(name, entry);
        Open(name, entry); // still shown sorted: the lanes go by the start order all the same
        QVERIFY(window->cbSort->isChecked());
        QVERIFY(window->cbBuhn1->currentText().startsWith(QStringLiteral("5 E")));
        QVERIFY(window->cbBuhn2->currentText().startsWith(QStringLiteral("6 F")));
        QVERIFY(window->cbBuhn1->itemText(0).startsWith(QStringLiteral("1 A")));
        RestartWindow();
        Open(name, entry);
        QStringList numbers;
        for (int row = 1; row < window->SortGrid1->RowCount(); ++row)
            numbers.append(Cell(ColNr, row));
        QCOMPARE(numbers, (QStringList{"1", "2", "3", "4", "5", "6"}));
        QVERIFY(window->cbBuhn1->currentText().startsWith(QStringLiteral("5 E")));
        QVERIFY(window->cbBuhn2->currentText().startsWith(QStringLiteral("6 F")));
    }

    void textProtocolWithQuotesReadsBackRowByRow_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("text");
        QTest::newRow("start number with a quote") << int(ColNr) << "\"5";
        QTest::newRow("semicolon and quote in the first cell") << int(ColNr) << "12;\"A";
        QTest::newRow("quoted name") << int(ColName) << "\"Blitz\"";
    }

    void textProtocolWithQuotesReadsBackRowByRow()
    {
        QFETCH(int, col);
        QFETCH(QString, text);
        WriteFile(QStringLiteral("in.csv"),
                  "1;Adler;Anna;SC;A\r\n2;Berg;Bruno;TV;B\r\n3;Christ;Clara;SV;A\r\n");
        Open(QStringLiteral("in.csv"), kCsvOpenEntry);
        window->WriteCell(col, 1, text);
        window->WriteCell(col, 2, text);
        const QStringList before = DataRows();
        Save(QStringLiteral("out.txt"), 1);
        Open(QStringLiteral("out.txt"));
        QCOMPARE(DataRows(), before);
    }

    void textReadsBackAsWritten_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<int>("saveFilter");
        QTest::addColumn<QString>("name");
        const QByteArray utf8 = "\xEF\xBB\xBF"
                                "1;\xC3\x83\xC2\xBC"
                                "ber;Max;SC;A\r\n2;B;C;D;E\r\n";
        const QString looksWestern = QString::fromUtf8("\xC3\x83\xC2\xBC"
                                                       "ber");
        QTest::newRow("western bytes that pass as utf-8, text") << utf8 << 1 << looksWestern;
        QTest::newRow("western bytes that pass as utf-8, csv") << utf8 << kCsvEntry << looksWestern;
        const QString unicodeText = QStringLiteral("1\tMüller\tMax\tSC\tA\r\n2\tB\tC\tD\tE\r\n");
        QTest::newRow("utf-16 little endian") << Utf16WithBom(unicodeText, false) << 1 << "Müller";
        QTest::newRow("utf-16 big endian") << Utf16WithBom(unicodeText, true) << kCsvEntry << "Müller";
    }

    void textReadsBackAsWritten()
    {
        QFETCH(QByteArray, list);
        QFETCH(int, saveFilter);
        QFETCH(QString, name);
        WriteFile(QStringLiteral("in.txt"), list);
        Open(QStringLiteral("in.txt"));
        QCOMPARE(window->SortGrid1->RowCount(), 3);
        QCOMPARE(Cell(ColName, 1), name);
        const QStringList before = DataRows();
        const QString saved = saveFilter == 1 ? QStringLiteral("out.txt") : QStringLiteral("out.csv");
        Save(saved, saveFilter);
        Open(saved, saveFilter);
        QCOMPARE(DataRows(), before);
    }

    void csvRoundTripKeepsSeparatorsAndQuotes()
    {
        WriteFile(QStringLiteral("in.csv"),
                  "5;Maier;Sepp;\"Verein; Nord\";A\r\n6;\"O\"\"Neill\";Sean;Ost;A\r\n");
        Open(QStringLiteral("in.csv"), kCsvOpenEntry);
        QCOMPARE(Cell(ColVerein, 1), QStringLiteral("Verein; Nord"));
        QCOMPARE(Cell(ColName, 2), QStringLiteral("O\"Neill"));
        const QStringList before = DataRows();

        Save(QStringLiteral("out.csv"), kCsvEntry);
        QCOMPARE(window->Settings.FilterInd, kCsvEntry);
        Open(QStringLiteral("out.csv"), kCsvOpenEntry);
        QCOMPARE(DataRows(), before);
        // The open dialog always starts on every list type; the save dialog on the type saved last.
        QCOMPARE(dialogs->lastOfferedIndex, 1);
        window->Save1->trigger();
        QCOMPARE(dialogs->lastOfferedIndex, kCsvEntry);
        // Windows-1252 when every character fits.
        QVERIFY(!ReadFile(QStringLiteral("out.csv")).startsWith("\xEF\xBB\xBF"));
    }

    void formulaCellsAreGuardedAndReadBack_data()
    {
        QTest::addColumn<int>("saveFilter");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("text") << 1
                              << QByteArray("1\t'=HYPERLINK(\"http://x\";\"y\")\t'+49\t-5\t'@SUMME(A1)\t");
        QTest::newRow("csv") << kCsvEntry
                             << QByteArray(
                                    "1;\"'=HYPERLINK(\"\"http://x\"\";\"\"y\"\")\";'+49;-5;'@SUMME(A1);");
    }

    // A spreadsheet opening the saved file must not see formulas or numbers
    // where the protocol holds text; the program reads its own file back as it was.
    void formulaCellsAreGuardedAndReadBack()
    {
        QFETCH(int, saveFilter);
        QFETCH(QByteArray, written);
        WriteFile(QStringLiteral("in.csv"),
                  "1;\"=HYPERLINK(\"\"http://x\"\";\"\"y\"\")\";+49;-5;@SUMME(A1)\r\n");
        Open(QStringLiteral("in.csv"), kCsvOpenEntry);
        QCOMPARE(Cell(ColName, 1), QStringLiteral("=HYPERLINK(\"http://x\";\"y\")"));
        QCOMPARE(Cell(ColVorname, 1), QStringLiteral("+49"));
        const QStringList before = DataRows();
        const QString saved = saveFilter == 1 ? QStringLiteral("out.txt") : QStringLiteral("out.csv");
        Save(saved, saveFilter);
        QVERIFY2(ReadFile(saved).contains(written), ReadFile(saved).constData());
        Open(saved, saveFilter);
        QCOMPARE(DataRows(), before);
    }

    void umlautsAreWrittenInTheWesternCodePage()
    {
        WriteFile(QStringLiteral("in.csv"), "1;Größer;Jürgen;Süd;A\r\n");
        Open(QStringLiteral("in.csv"), kCsvOpenEntry);
        Save(QStringLiteral("out.txt"), 1);
        QVERIFY(ReadFile(QStringLiteral("out.txt"))
                    .contains("1\tGr\xF6\xDF"
                              "er\tJ\xFCrgen\tS\xFC"
                              "d\tA\t"));
    }

    void unreadableFileLeavesTheProtocolAlone()
    {
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;SC;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        Open(QStringLiteral("missing.csv"), kCsvOpenEntry);
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages.first().contains(QStringLiteral("missing.csv")));
        QCOMPARE(window->SortGrid1->RowCount(), 3);
        QCOMPARE(window->cbBuhn1->count(), 2);
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: list"));
    }

    void loadIsIgnoredFromStartUntilReset_data()
    {
        QTest::addColumn<int>("stopsBeforeLoad");
        QTest::addColumn<QString>("lane1Time");
        QTest::newRow("running") << 0 << "1,25";
        QTest::newRow("one lane stopped") << 1 << "1,25";
        QTest::newRow("finished") << 2 << "0,00";
    }

    void loadIsIgnoredFromStartUntilReset()
    {
        QFETCH(int, stopsBeforeLoad);
        QFETCH(QString, lane1Time);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;SC;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        window->mStart->trigger();
        const QList<QAction*> stops = {window->mStop2, window->mSTOP1};
        for (int i = 0; i < stopsBeforeLoad; ++i)
            stops.at(i)->trigger();
        WriteFile(QStringLiteral("other.csv"), "1;Anders;Anna;X;B\r\n2;Bald;Berta;X;B\r\n");
        dialogs->fileNames.enqueue(Path(QStringLiteral("other.csv")));
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(dialogs->fileNames.size(), 1); // no dialog was shown
        QCOMPARE(Cell(ColNr, 1), QStringLiteral("7"));

        // The run ends on the list it started with; the elimination marks its own starter.
        clock->Advance(1250);
        window->mSTOP1->trigger();
        window->mStop2->trigger();
        window->sb2del->click();
        QCOMPARE(Cell(ColLauf1, 1), lane1Time);
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("EL"));

        // After "0,00" the key loads again.
        window->mReset->trigger();
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(dialogs->fileNames.size(), 0);
        QCOMPARE(Cell(ColNr, 1), QStringLiteral("1"));
        QCOMPARE(Cell(ColLauf1, 2), QString());
    }

    // Whichever entry is chosen: a file that begins as a workbook goes to the
    // workbook reader, any other binary file is refused as no text.
    void fileThatIsNoTextIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        const QString noText = QStringLiteral("Die Datei %1 ist keine Text- oder CSV-Datei.");
        const QString noWorkbook =
            QStringLiteral("Die Arbeitsmappe %1 kann nicht geladen werden: sie ist beschädigt");
        QTest::newRow("workbook (zip)")
            << QByteArray("PK\x03\x04\x14\0\x06\0\x08\0[Content_Types].xml;1;2\r\n", 36) << noWorkbook;
        QTest::newRow("empty zip") << QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0') << noText;
        QTest::newRow("old office file")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1;x;y\r\n") << noWorkbook;
        QTest::newRow("NUL bytes") << QByteArray("7;Muster;Max\r\n\x01\x02\0\x7F;8\r\n", 21) << noText;
    }

    void fileThatIsNoTextIsRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        XlsReaderCommand reader;
        reader.Program = QStringLiteral(QX_XLS_READER);
        SetXlsReaderCommand(reader);
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;SC;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        const QStringList before = DataRows();
        WriteFile(QStringLiteral("Ergebnis.xlsx"), bytes);
        Open(QStringLiteral("Ergebnis.xlsx"));
        QCOMPARE(dialogs->messages.size(), 1);
        const QString expected = message.arg(QDir::toNativeSeparators(Path(QStringLiteral("Ergebnis.xlsx"))));
        QVERIFY2(dialogs->messages.first().startsWith(expected), qPrintable(dialogs->messages.first()));
        QCOMPARE(DataRows(), before);
        QCOMPARE(window->cbBuhn1->count(), 2);
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: list"));
    }

    // A workbook chosen under the text entry is still read as a workbook.
    void workbookUnderTheTextEntryIsReadAsWorkbook()
    {
        QByteArray bytes;
        QString reason;
        QVERIFY(ProtocolWorkbookBytes({{"Nr.", "Name"}, {"4", "Vogel"}}, QStringLiteral("Quellorix"), bytes,
                                      reason));
        WriteFile(QStringLiteral("Liste.xlsx"), bytes);
        Open(QStringLiteral("Liste.xlsx"), 1);
        QCOMPARE(dialogs->messages, QStringList());
        QCOMPARE(Cell(ColName, 1), QStringLiteral("Vogel"));
    }

    void hugeListIsRefusedAndLongFieldsAreCut_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("100,001 one-character lines")
            << QByteArray("x\n").repeated(kMaxStarters + 1)
            << "Die Datei %1 enthält mehr als 100.000 Starter und wird nicht geladen."
            << QStringList{"Muster", "Kurz"};
        QTest::newRow("field of 1,001 characters")
            << "1;" + QByteArray(1001, 'N') + ";Max\r\n2;" + QByteArray(1000, 'M') + ";Eva\r\n"
            << "Die Datei %1 enthält Felder mit mehr als 1.000 Zeichen (1); sie wurden auf 1.000 Zeichen "
               "gekürzt."
            << QStringList{QString(1000, u'N'), QString(1000, u'M')};
    }

    void hugeListIsRefusedAndLongFieldsAreCut()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(QStringList, names);
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;SC;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        WriteFile(QStringLiteral("big.csv"), bytes);
        Open(QStringLiteral("big.csv"), kCsvOpenEntry);
        QCOMPARE(dialogs->messages, QStringList{message.arg(QDir::toNativeSeparators(Path("big.csv")))});
        QCOMPARE(window->SortGrid1->RowCount(), 3);
        QCOMPARE(QStringList({Cell(ColName, 1), Cell(ColName, 2)}), names);
    }

    // Whichever way the name came (proposed, typed, an ending added), a file
    // that exists is replaced only after the question; the dialog's own
    // question about the very name it returns is not asked again.
    void savingAsksBeforeAFileIsReplaced_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("typed"); // empty: the proposal kept
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("answer"); // -1: no question
        QTest::addColumn<QString>("written");
        QTest::newRow("proposal kept, CSV") << "Starterliste.csv"
                                            << "" << kCsvEntry << -1 << "Starterliste Protokoll.csv";
        QTest::newRow("proposal kept, text") << "Starterliste.txt"
                                             << "" << 1 << -1 << "Starterliste Protokoll.txt";
        QTest::newRow("the list's name typed, CSV ending added, kept")
            << "Starterliste.csv"
            << "Starterliste" << kCsvEntry << 0 << "";
        QTest::newRow("the list's name typed, text ending added, replaced")
            << "Starterliste.txt"
            << "Starterliste" << 1 << 1 << "Starterliste.txt";
        QTest::newRow("the whole name, asked in the dialog")
            << "Starterliste.csv"
            << "Starterliste.csv" << kCsvEntry << -1 << "Starterliste.csv";
    }

    void savingAsksBeforeAFileIsReplaced()
    {
        QFETCH(QString, list);
        QFETCH(QString, typed);
        QFETCH(int, entry);
        QFETCH(int, answer);
        QFETCH(QString, written);
        const QByteArray listBytes = "1;Adler;Anna;SC;A\r\n2;Berg;Bruno;TV;B\r\n";
        WriteFile(list, listBytes);
        Open(list);
        window->WriteCell(ColLauf1, 1, QStringLiteral("31,25"));
        window->SetUnsaved(true);
        window->Save1->trigger(); // no name given: cancelled, the proposal looked at
        QCOMPARE(dialogs->lastProposedName, Path(QFileInfo(list).completeBaseName() + " Protokoll"));

        if (answer >= 0)
            dialogs->answers.enqueue(answer == 1);
        Save(typed.isEmpty() ? QFileInfo(dialogs->lastProposedName).fileName() : typed, entry);
        const QString question = QStringLiteral("„%1“ existiert bereits. Ersetzen?").arg(list);
        QCOMPARE(dialogs->questions, answer < 0 ? QStringList() : QStringList{question});
        if (answer == 0) // the dialog again, on the name it would have written
            QCOMPARE(dialogs->lastProposedName, Path(list));
        QCOMPARE(window->Session().Modified(), written.isEmpty());
        if (written != list)
            QCOMPARE(ReadFile(list), listBytes);
        if (!written.isEmpty())
            QVERIFY2(ReadFile(written).contains("31,25"), ReadFile(written).constData());
    }

    // A list with no starter in it would leave an empty protocol: it is
    // refused as an empty sheet is, and the protocol stays.
    void listWithoutStartersIsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("header line only") << "kopf.csv" << QByteArray("Nr.;Name;Vorname;Verein;Klasse\r\n");
        QTest::newRow("empty file") << "leer.txt" << QByteArray();
    }

    void listWithoutStartersIsRefused()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;SC;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        const QStringList before = DataRows();
        WriteFile(name, bytes);
        dialogs->fileNames.enqueue(Path(name));
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(
            dialogs->messages,
            QStringList{QStringLiteral("Die Datei %1 kann nicht geladen werden: sie enthält keine Starter "
                                       "(nur leere Zeilen oder Kopfzeilen).")
                            .arg(QDir::toNativeSeparators(Path(name)))});
        QCOMPARE(DataRows(), before);
        QCOMPARE(window->cbBuhn1->count(), 2);
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: list"));
    }

    // The real file dialogs: the open dialog starts in its folder with no name
    // typed in, the save dialog proposes its name in that folder.
    void fileDialogsStartInTheFolder_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("typed");
        QTest::newRow("open") << int(Qt::Key_O) << "";
        QTest::newRow("save") << int(Qt::Key_S) << "list Protokoll";
    }

    void fileDialogsStartInTheFolder()
    {
        QFETCH(int, key);
        QFETCH(QString, typed);
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        QtDialogs real;
        SetDialogs(&real);
        QString folder;
        QString nameField;
        bool seen = false;
        std::function<void()> look = [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                QTimer::singleShot(0, look);
                return;
            }
            seen = true;
            folder = dialog->directory().absolutePath();
            if (const auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                nameField = edit->text();
            dialog->reject();
        };
        {
            const ModalGuard::ExpectedScope expected;
            QTimer::singleShot(0, look);
            QTest::keyClick(window.get(), Qt::Key(key), Qt::ControlModifier);
        }
        SetDialogs(dialogs.get());
        QVERIFY(seen);
        QCOMPARE(folder, QDir(dir.path()).absolutePath());
        QCOMPARE(nameField, typed);
    }

    void failedSaveKeepsTheOldFileAndTheModifiedMark()
    {
        QByteArray list;
        for (int i = 1; i <= 200; ++i)
            list += QByteArray::number(i) + ";Name" + QByteArray::number(i) + ";Vorname;Verein;A\r\n";
        WriteFile(QStringLiteral("list.csv"), list);
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        WriteFile(QStringLiteral("old.txt"), "the previous protocol");
        window->SetUnsaved(true);

        QVERIFY(UnderFileSizeLimit(2048, [&] { Save(QStringLiteral("old.txt"), 1); }));

        QCOMPARE(ReadFile(QStringLiteral("old.txt")), QByteArray("the previous protocol"));
        QVERIFY(window->Session().Modified());
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages.first().contains(Path(QStringLiteral("old.txt"))));
    }

    // Saves and prints of a long protocol run off the window's thread and can
    // be called off through the progress dialog: the older file stays as it
    // was, nothing is reported, the protocol stays unsaved.
    void cancellingLeavesTheOldFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("entry"); // 0: printed to the file
        QTest::addColumn<QString>("label");
        const QString saving = QStringLiteral("Das Protokoll wird gespeichert …");
        QTest::newRow("csv") << "alt.csv" << kCsvEntry << saving;
        QTest::newRow("text") << "alt.txt" << 1 << saving;
        QTest::newRow("web page") << "alt.html" << kWebPageEntry << "Die Webseite wird geschrieben …";
        QTest::newRow("print to pdf") << "alt.pdf" << 0 << "Das Protokoll wird gedruckt …";
    }

    void cancellingLeavesTheOldFile()
    {
        QFETCH(QString, name);
        QFETCH(int, entry);
        QFETCH(QString, label);
        QByteArray list;
        for (int i = 1; i <= 300; ++i)
            list += QByteArray::number(i) + ";Name" + QByteArray::number(i) + ";Vorname;Verein;A\r\n";
        WriteFile(QStringLiteral("list.csv"), list);
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        window->SetUnsaved(true);
        WriteFile(name, "the previous protocol");
        const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files);
        // However fast the machine, the work lasts until it is called off.
        SetBackgroundWorkHook(WaitUntilReadCancelled);
        {
            ProgressCanceller operatorAtTheWindow(window.get());
            if (entry == 0) {
                printDialogs->answers.enqueue(TestPrintDialogs::ToPdf(Path(name)));
                window->sbPrint->click();
            } else {
                Save(name, entry);
            }
            SetBackgroundWorkHook(nullptr);
            QVERIFY(operatorAtTheWindow.cancelled);
            QCOMPARE(operatorAtTheWindow.label, label);
            QCOMPARE(operatorAtTheWindow.buttonTexts, QStringList{QStringLiteral("Abbrechen")});
        }
        QCOMPARE(ReadFile(name), QByteArray("the previous protocol"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), filesBefore);
        QCOMPARE(dialogs->messages, QStringList());
        QVERIFY(window->Session().Modified());
    }

    // The file a spreadsheet reads: exactly the bytes the grid's own CSV writer gives.
    void csvFileHasTheGridsBytes()
    {
        WriteFile(QStringLiteral("in.txt"), "1\tGr\xF6\xDF"
                                            "er; \"Max\"\tJ\xFCrgen\t=SUMME(A1)\tA;B\r\n"
                                            "2\t-5\t+49\t@x\t\"\r\n");
        Open(QStringLiteral("in.txt"));
        // A list may bring any text into a run column, a line break too.
        ProtocolTable rows = window->ProtocolRows();
        rows.removeFirst();
        rows[1][ColLauf1] = QStringLiteral("Zeile\nzwei");
        window->FillProtocolRows(rows);
        window->SetUnsaved(true);
        Save(QStringLiteral("out.csv"), kCsvEntry);
        QVERIFY(!window->Session().Modified());
        QVERIFY(window->SortGrid1->SaveToCSV(Path(QStringLiteral("grid.csv"))));
        const QByteArray written = ReadFile(QStringLiteral("out.csv"));
        QCOMPARE(written, ReadFile(QStringLiteral("grid.csv")));
        QVERIFY2(written.contains("\r\n1;\"Gr\xF6\xDF"
                                  "er; \"\"Max\"\"\";J\xFCrgen;'=SUMME(A1);\"A;B\";;;;;;;;;1\r\n"
                                  "2;-5;'+49;'@x;\"\"\"\";\"Zeile\nzwei\";"),
                 written.constData());
        QVERIFY(dialogs->messages.isEmpty());
    }

    void csvSaveIntoAFolderThatCantBeWrittenSaysSo()
    {
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n");
        Open(QStringLiteral("list.csv"), kCsvOpenEntry);
        window->SetUnsaved(true);
        Save(QStringLiteral("fehlt/out.csv"), kCsvEntry);
        const QString target = QDir::toNativeSeparators(Path(QStringLiteral("fehlt/out.csv")));
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY2(dialogs->messages.first().startsWith(
                     QStringLiteral("Das Protokoll konnte nicht in %1 gespeichert werden: ").arg(target)),
                 qPrintable(dialogs->messages.first()));
        QVERIFY(window->Session().Modified());
        QVERIFY(!QFile::exists(Path(QStringLiteral("fehlt/out.csv"))));
    }

    void savingWithoutAChosenNameDoesNothing()
    {
        QStringList row(ProtocolColumnCount);
        row[ColNr] = QStringLiteral("1");
        row[ColName] = QStringLiteral("Adler");
        window->FillProtocolRows({row});
        window->SetUnsaved(true);
        window->Save1->trigger(); // dialog cancelled
        QVERIFY(window->Session().Modified());
    }

    void emptyProtocolSavesHeaderAndOneBlankLine()
    {
        Save(QStringLiteral("empty.txt"), 1);
        const QByteArray bytes = ReadFile(QStringLiteral("empty.txt"));
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith("Nr.\tName\tVorname\t"));
        QCOMPARE(lines.at(1), QByteArray(" \t").repeated(14) + "\r");
    }
};

QTEST_MAIN(TestFormMainFiles)
#include "tst_formmain_files.moc"
