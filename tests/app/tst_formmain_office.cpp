#include "ProgressCanceller.h"
#include "ProtocolLogic.h"
#include "ProtocolText.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestAccess.h"
#include "TestDialogs.h"
#include "WindowHarness.h"
#include "WorkbookReader.h"
#include "WorkbookWriter.h"
#include "XlsProcess.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

// The office files through the main window: the dialogs' workbook and Word
// entries, the Excel and Word buttons, and what a failure leaves behind.

// Entries of the save dialog (text, Excel, CSV, Word, web page) and of the
// open dialog (every list type, text, Excel, CSV); 6 was a second workbook entry.
constexpr int kExcelEntry = 2;
constexpr int kWordEntry = 4;
constexpr int kSecondExcelEntry = 6;
constexpr int kCsvOpenEntry = 4;

class TestFormMainOffice : public QObject, private WindowHarness
{
    Q_OBJECT

private:
    // A starter list with two run times, loaded and marked modified.
    void LoadStarters()
    {
        WriteFile(QStringLiteral("Starter.csv"),
                  "Nr.;Name;Vorname;Verein;Klasse\r\n7;Müller;Jörg;\"SC Nord; Süd & Co\";A\r\n"
                  "9;Dvořák;Antonín;Praha;A\r\n12;Weiß;Änne;TV Ost;B\r\n");
        Open(QStringLiteral("Starter.csv"), kCsvOpenEntry);
        window->WriteCell(ColLauf1, 1, QStringLiteral("31,25"));
        window->WriteCell(ColLauf1, 2, QStringLiteral("EL"));
        window->WriteCell(ColLauf1, 3, QStringLiteral("30,20"));
        window->RankProtocol();
        window->SetUnsaved(true);
    }

    // Every row of the grid as "a|b|…", the hidden load order left out.
    QStringList Shown() const
    {
        QStringList rows;
        for (int row = 0; row < window->SortGrid1->RowCount(); ++row)
            rows.append(window->SortGrid1->Rows(row).ToStringList().mid(0, ColLoadOrder).join(u'|'));
        return rows;
    }

    static QStringList Joined(const ProtocolTable& table)
    {
        QStringList rows;
        for (const QStringList& row : table)
            rows.append(row.mid(0, ColLoadOrder).join(u'|'));
        return rows;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));
    }

    void init()
    {
        opened.clear();
        CreateWindow();
        window->WordTemplatePath = QStringLiteral(QX_WORD_TEMPLATE);
    }

    void cleanup() { DestroyWindow(); }

    void dialogsListTheWorkbookOnceInItsOldPlace()
    {
        window->Save1->trigger();
        QCOMPARE(dialogs->lastFilters,
                 QStringList({"Textdatei (*.txt)", "Excel-Arbeitsmappe (*.xlsx)", "CSV-Datei (*.csv)",
                              "MS Word (*.docx)", "Webseite (*.html)"}));
        window->Open1->trigger();
        QCOMPARE(dialogs->lastFilters,
                 QStringList({"Starterlisten (*.txt *.csv *.xlsx *.xls *.ods)", "Textdatei (*.txt)",
                              "Excel-Arbeitsmappe (*.xlsx *.xls *.ods)", "CSV-Datei (*.csv)"}));
    }

    void workbookSavedAndLoadedAgain_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("entry"); // 0: the dialog's entry as offered
        QTest::newRow("Excel entry") << 1 << kExcelEntry;
        QTest::newRow("6 stored by older versions offers the workbook") << kSecondExcelEntry << 0;
    }

    void workbookSavedAndLoadedAgain()
    {
        QFETCH(int, stored);
        QFETCH(int, entry);
        LoadStarters();
        const QStringList before = Shown();
        window->Settings.FilterInd = stored;
        QFile::remove(Path(QStringLiteral("Ergebnis.xlsx"))); // an earlier row's: replacing it would ask
        dialogs->fileNames.enqueue(Path(QStringLiteral("Ergebnis")));
        if (entry > 0)
            dialogs->filterIndexes.enqueue(entry);
        window->Save1->trigger();
        QVERIFY(!window->Session().Modified());
        QCOMPARE(window->Settings.FilterInd, kExcelEntry);
        QCOMPARE(dialogs->messages, QStringList());

        ProtocolTable read;
        QString error;
        QVERIFY2(LoadWorkbook(Path(QStringLiteral("Ergebnis.xlsx")), read, error), qPrintable(error));
        QCOMPARE(Joined(read), before);

        WriteFile(QStringLiteral("Starter.csv"), "1;Anders;Anna;X;B\r\n");
        Open(QStringLiteral("Starter.csv"), kCsvOpenEntry);
        Open(QStringLiteral("Ergebnis.xlsx"), kExcelEntry);
        QCOMPARE(Shown(), before);
        QCOMPARE(window->SortGrid1->Cells(ColLoadOrder, 3), QStringLiteral("3"));
        QCOMPARE(window->SortGrid1->Cells(ColLoadOrder, 0), QStringLiteral("¹"));
        QCOMPARE(window->cbBuhn1->count(), 3);
        QCOMPARE(window->cbBuhn1->itemText(0), QStringLiteral("7 Müller Jörg SC Nord; Süd & Co"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: Ergebnis"));
        QVERIFY(!window->Session().Modified());
    }

    void failedWorkbookSaveKeepsTheModifiedMark()
    {
        LoadStarters();
        Save(QStringLiteral("fehlt/Ergebnis.xlsx"), kExcelEntry);
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages.first().startsWith("Die Arbeitsmappe " + Path("fehlt/Ergebnis.xlsx")));
        QVERIFY(window->Session().Modified());
    }

    void workbookWithoutStartersLeavesTheProtocolAlone_data()
    {
        QTest::addColumn<ProtocolTable>("sheet");
        QTest::newRow("header only") << ProtocolTable{{"Nr.", "Name"}};
        QTest::newRow("A1 empty") << ProtocolTable{{"", "Name"}, {"1", "A"}};
    }

    void workbookWithoutStartersLeavesTheProtocolAlone()
    {
        QFETCH(ProtocolTable, sheet);
        LoadStarters();
        const QStringList before = Shown();
        QByteArray bytes;
        QString reason;
        QVERIFY(ProtocolWorkbookBytes(sheet, QStringLiteral("Tabelle1"), bytes, reason));
        WriteFile(QStringLiteral("leer.xlsx"), bytes);
        Open(QStringLiteral("leer.xlsx"), kExcelEntry);
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages.first().contains("keine Starter"));
        QCOMPARE(Shown(), before);
        QCOMPARE(window->cbBuhn1->count(), 3);
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: Starter"));
        QVERIFY(window->Session().Modified());
    }

    void excelButtonOpensANewWorkbookFromTheCacheFolder()
    {
        LoadStarters();
        QVERIFY(window->sbExcel->isEnabled());
        window->sbExcel->click();
        window->sbExcel->click();
        QCOMPARE(opened.size(), 2);
        const QString first = opened.at(0).toLocalFile();
        QVERIFY(first.startsWith(dir.filePath(QStringLiteral("cache"))));
        QVERIFY(first.endsWith(QStringLiteral(".xlsx")));
        QVERIFY(opened.at(1).toLocalFile() != first); // each click a new file
        ProtocolTable read;
        QString error;
        QVERIFY2(LoadWorkbook(first, read, error), qPrintable(error));
        QCOMPARE(Joined(read), Shown());
        // Shown, not saved: the protocol stays modified.
        QVERIFY(window->Session().Modified());
        QCOMPARE(dialogs->messages, QStringList());
    }

    void wordButtonSavesTheDocumentInTheCurrentFolderAndOpensIt()
    {
        LoadStarters();
        QVERIFY(window->sbWord->isEnabled());
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        window->sbWord->click();
        window->sbWord->click();
        QDir::setCurrent(previous);
        QCOMPARE(dialogs->messages, QStringList());
        QCOMPARE(opened.size(), 2);
        // Named after the starter list; a name that is taken gets a number.
        const QString document = opened.first().toLocalFile();
        QCOMPARE(QFileInfo(document).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
        QCOMPARE(QFileInfo(document).fileName(), QStringLiteral("Starter.docx"));
        QCOMPARE(QFileInfo(opened.at(1).toLocalFile()).fileName(), QStringLiteral("Starter-2.docx"));
        QVERIFY(QFileInfo(document).size() > 0);
    }

    // A second click that arrives while the first one's file is being written
    // writes no second file.
    void clickWhileWritingIsDropped_data()
    {
        QTest::addColumn<bool>("word");
        QTest::newRow("X") << false;
        QTest::newRow("W") << true;
    }

    void clickWhileWritingIsDropped()
    {
        QFETCH(bool, word);
        LoadStarters();
        QToolButton* button = word ? window->sbWord : window->sbExcel;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        // The second click waits in the queue, as a click does while the window is busy.
        const QPoint centre = button->rect().center();
        QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, centre,
                                                            button->mapToGlobal(centre), Qt::LeftButton,
                                                            Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre,
                                                            button->mapToGlobal(centre), Qt::LeftButton,
                                                            Qt::NoButton, Qt::NoModifier));
        button->click();
        QCoreApplication::processEvents();
        QDir::setCurrent(previous);
        QCOMPARE(opened.size(), 1);
        QVERIFY(button->isEnabled());
    }

    // The typed ending decides the type, whatever entry is chosen.
    void typedEndingDecidesTheType_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("web page under Word") << "protokoll.html" << kWordEntry << QByteArray("<HTML>");
        QTest::newRow("text under Excel") << "protokoll.TXT" << kExcelEntry << QByteArray("Nr.\t");
        QTest::newRow("workbook under text") << "protokoll.xlsx" << 1 << QByteArray("PK\x03\x04");
        QTest::newRow("unknown ending: the entry")
            << "protokoll.dat" << kExcelEntry << QByteArray("PK\x03\x04");
    }

    void typedEndingDecidesTheType()
    {
        QFETCH(QString, name);
        QFETCH(int, entry);
        QFETCH(QByteArray, start);
        LoadStarters();
        Save(name, entry);
        QByteArray bytes = ReadFile(name);
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        QVERIFY2(bytes.startsWith(start), bytes.left(20).constData());
    }

    // The open dialog starts in the folder of the last file, also after a new start;
    // the very first time in the user's documents, never in the program's folder.
    void lastFolderIsRemembered()
    {
        window->Open1->trigger(); // no answer queued: cancelled
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(dialogs->lastProposedName, QFileInfo(documents).isDir() ? documents : QDir::homePath());
        QVERIFY(dialogs->lastProposedName != QCoreApplication::applicationDirPath());

        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Rennen")));
        LoadStarters();
        Save(QStringLiteral("Rennen/Ergebnis.txt"), 1);
        DestroyWindow();
        dialogs = std::make_unique<TestDialogs>();
        window = std::make_unique<TTestFormMain>(Access());
        window->Open1->trigger(); // no answer queued: cancelled
        QCOMPARE(dialogs->lastProposedName, Path(QStringLiteral("Rennen")));
    }

    // A slow workbook is read off the window's thread: the window goes on, a
    // progress dialog with "Abbrechen" shows, and cancelling leaves the
    // protocol as it was.
    void slowWorkbookCanBeCancelled()
    {
        LoadStarters();
        const QStringList before = Shown();
        XlsReaderCommand slow;
        slow.Program = QStringLiteral("/bin/sh");
        slow.Arguments = {QStringLiteral("-c"), QStringLiteral("exec sleep 60")};
        slow.TimeLimitMs = 120000;
        SetXlsReaderCommand(slow);
        WriteFile(QStringLiteral("langsam.xls"),
                  QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1").append(512, '\0'));
        QElapsedTimer clock;
        clock.start();
        {
            ProgressCanceller operatorAtTheWindow(window.get());
            Open(QStringLiteral("langsam.xls"), kExcelEntry);
            QVERIFY(operatorAtTheWindow.cancelled);
            QCOMPARE(operatorAtTheWindow.label, QStringLiteral("Die Arbeitsmappe wird gelesen …"));
            QCOMPARE(operatorAtTheWindow.buttonTexts, QStringList{QStringLiteral("Abbrechen")});
            QVERIFY(operatorAtTheWindow.ticks > 10); // the window went on meanwhile
        }
        SetXlsReaderCommand({});
        QVERIFY(clock.elapsed() < 30000);
        QCOMPARE(dialogs->messages, QStringList());
        QCOMPARE(Shown(), before);
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: Starter"));
    }

    void wordEntrySavesQuietlyOrReportsTheFailure()
    {
        LoadStarters();
        Save(QStringLiteral("Ergebnis"), kWordEntry);
        QVERIFY(QFileInfo(Path(QStringLiteral("Ergebnis.docx"))).size() > 0);
        QVERIFY(opened.isEmpty());
        QVERIFY(!window->Session().Modified());

        window->SetUnsaved(true);
        WriteFile(QStringLiteral("kaputt.docx"), "keine Vorlage");
        window->WordTemplatePath = Path(QStringLiteral("kaputt.docx"));
        Save(QStringLiteral("Zweites.docx"), kWordEntry);
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages.first().startsWith("Das Dokument " + Path("Zweites.docx")));
        QVERIFY(window->Session().Modified());
        QVERIFY(!QFile::exists(Path(QStringLiteral("Zweites.docx"))));
    }

    void wordButtonNeedsTheTemplate()
    {
        window->WordTemplatePath = Path(QStringLiteral("fehlt.docx"));
        LoadStarters();
        QVERIFY(window->sbExcel->isEnabled());
        QVERIFY(!window->sbWord->isEnabled());
        window->sbWord->click();
        QVERIFY(opened.isEmpty());
    }
};

QTEST_MAIN(TestFormMainOffice)
#include "tst_formmain_office.moc"
