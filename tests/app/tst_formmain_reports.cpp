#include "FakeTickSource.h"
#include "PdfTools.h"
#include "ProtocolLogic.h"
#include "ResultsPage.h"
#include "TCertificateDialog.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestDialogs.h"
#include "TestPrintDialogs.h"
#include "WebPage.h"
#include "WindowHarness.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <memory>

// Publishing the protocol from the main window: the web page and printing.

// The CSV entry of the open dialog (text, Excel, CSV) and the web page entry of
// the save dialog (text, Excel, CSV, Word, web page, Excel again).
constexpr int kCsvOpenEntry = 4;
constexpr int kWebPageSaveEntry = 5;

class TestFormMainReports : public QObject, private WindowHarness
{
    Q_OBJECT

private:
    QString previousFolder;

    // Three starters of one class, in load order 7, 8, 9; 9 is fastest, 7 slowest.
    void LoadRaced()
    {
        QFile list(Path(QStringLiteral("list.csv")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;Schmidt & S\xF6hne;A\r\n9;Lang;Lena;TV;A\r\n");
        list.close();
        dialogs->fileNames.enqueue(list.fileName());
        dialogs->filterIndexes.enqueue(kCsvOpenEntry);
        window->Open1->trigger();
        const QStringList totals = {"40,00", "35,00", "30,00"};
        for (int row = 1; row <= 3; ++row) {
            window->WriteCell(ColLauf1, row, QStringLiteral("50,00"));
            window->WriteCell(ColLauf3, row, totals[row - 1]);
        }
        window->RankProtocol();
    }

    static QString PageName()
    {
        return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
               QStringLiteral(".html");
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void init()
    {
        clock = std::make_unique<FakeTickSource>(1000);
        printDialogs = std::make_unique<TestPrintDialogs>();
        opened.clear();
        CreateWindow();
        previousFolder = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }

    void cleanup()
    {
        QDir::setCurrent(previousFolder);
        DestroyWindow();
        printDialogs.reset();
        clock.reset();
    }

    void saveDialogWritesThePageInTheShownOrder()
    {
        LoadRaced();
        window->cbSort->click(); // place-sorted view: 9, 8, 7
        window->SetUnsaved(true);
        dialogs->fileNames.enqueue(Path(QStringLiteral("ergebnis")));
        dialogs->filterIndexes.enqueue(kWebPageSaveEntry);
        window->Save1->trigger();

        QCOMPARE(dialogs->lastFilters.at(kWebPageSaveEntry - 1), QStringLiteral("Webseite (*.html)"));
        const QByteArray page = ReadFile(QStringLiteral("ergebnis.html"));
        QCOMPARE(page, WebPageBytes(window->ReportOfProtocol()));
        const qsizetype first = page.indexOf("<tr><td>9<td>");
        const qsizetype second =
            page.indexOf("<tr><td>8<td>Kurz<td>Karl<td>Schmidt &amp; S\xF6hne<td>A<td><I>50,00");
        const qsizetype third = page.indexOf("<tr><td>7<td>");
        QVERIFY2(first > 0 && first < second && second < third,
                 page.mid(page.indexOf("</thead>")).constData());
        QVERIFY(!page.contains("¹"));
        QVERIFY(!window->Session().Modified());
        QCOMPARE(window->Settings.FilterInd, kWebPageSaveEntry);
    }

    void webPageButtonWritesAndOpensThePage()
    {
        LoadRaced();
        QCOMPARE(window->sbInet->property("tag").toInt(), 0);
        QVERIFY(window->sbInet->isEnabled());
        window->sbInet->click();
        QCOMPARE(ReadFile(PageName()), WebPageBytes(window->ReportOfProtocol()));
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(Path(PageName()))});
        QVERIFY(dialogs->messages.isEmpty());
    }

    void unwritablePageShowsTheErrorAndOpensNothing()
    {
        LoadRaced();
        // A folder in the page's place: the page can't be written there.
        QFile::remove(Path(PageName()));
        QVERIFY(QDir(dir.path()).mkdir(PageName()));
        window->sbInet->click();
        QCOMPARE(dialogs->errors, QStringList{QStringLiteral("Error write file: ") + PageName()});
        QVERIFY(opened.isEmpty());

        window->SetUnsaved(true);
        dialogs->fileNames.enqueue(Path(QStringLiteral("missing/ergebnis.html")));
        dialogs->filterIndexes.enqueue(kWebPageSaveEntry);
        window->Save1->trigger();
        QCOMPARE(dialogs->errors.last(),
                 QStringLiteral("Error write file: ") + Path(QStringLiteral("missing/ergebnis.html")));
        QVERIFY(window->Session().Modified());
    }

    void resultsListIsWrittenInTheChosenType_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("written");
        QTest::newRow("PDF, the first entry") << "liste" << 1 << "liste.pdf";
        QTest::newRow("web page by its entry") << "liste" << 2 << "liste.html";
        QTest::newRow("Word by the typed ending") << "liste.docx" << 1 << "liste.docx";
    }

    void resultsListIsWrittenInTheChosenType()
    {
        QFETCH(QString, typed);
        QFETCH(int, entry);
        QFETCH(QString, written);
        LoadRaced();
        window->cbSort->click(); // the list orders by place whatever the view
        QVERIFY(window->sbResults->isEnabled());
        dialogs->fileNames.enqueue(Path(typed));
        dialogs->filterIndexes.enqueue(entry);
        window->sbResults->click();
        QCOMPARE(dialogs->lastFilters,
                 (QStringList{"PDF-Datei (*.pdf)", "Webseite (*.html)", "Word-Dokument (*.docx)"}));
        QVERIFY(dialogs->messages.isEmpty());
        // Named where saves are named, and opened on the desktop.
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Gespeichert: ") + QDir::toNativeSeparators(Path(written)));
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(Path(written))});
        const QByteArray bytes = ReadFile(written);
        if (written.endsWith(u"html")) {
            QCOMPARE(bytes, ResultsPageBytes(window->ResultsOfProtocol()));
        } else if (written.endsWith(u"docx")) {
            QVERIFY(bytes.startsWith("PK"));
        } else {
            // Lauf2 holds no time: only the test run Lauf1 and the counted Lauf3 are shown.
            const QString text = PdfTools::PageText(Path(written), 1).simplified();
            QVERIFY2(text.contains(u"Nr. Name Verein Probelauf 1 Lauf 1 Gesamt Platz") &&
                         text.contains(u"9 Lena Lang TV 50,00 30,00 30,00 1.") &&
                         text.indexOf(u"Lena Lang") < text.indexOf(u"Max Muster"),
                     qPrintable(text));
        }
    }

    // A doubtful time of a counted run keeps its starter from a place: the
    // list or certificates would leave him out. Before they are written or
    // printed the window says how many times wait, and "Nein" stops there.
    void waitingTimesAreNamedBeforeAListIsMade_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("lane2Ms");
        QTest::addColumn<QString>("question");
        const QString two =
            QStringLiteral("2 Zeiten warten auf Bestätigung (Strg+B) – sie fehlen in der Liste. "
                           "Trotzdem %1?");
        const QString one = QStringLiteral("1 Zeit wartet auf Bestätigung (Strg+B) – sie fehlt in der Liste. "
                                           "Trotzdem %1?");
        QTest::newRow("results list, two waiting")
            << int(Qt::Key_E) << int(Qt::ControlModifier) << 120 << two.arg(QStringLiteral("schreiben"));
        QTest::newRow("certificates, one waiting")
            << int(Qt::Key_U) << int(Qt::ControlModifier) << 33000 << one.arg(QStringLiteral("schreiben"));
        QTest::newRow("printed list, two waiting")
            << int(Qt::Key_E) << int(Qt::ControlModifier | Qt::ShiftModifier) << 120
            << two.arg(QStringLiteral("drucken"));
    }

    void waitingTimesAreNamedBeforeAListIsMade()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, lane2Ms);
        QFETCH(QString, question);
        WriteFile(QStringLiteral("vier.csv"), "1;A;a;V;K\r\n2;B;b;V;K\r\n3;C;c;V;K\r\n4;D;d;V;K\r\n");
        dialogs->fileNames.enqueue(Path(QStringLiteral("vier.csv")));
        window->Open1->trigger();
        window->Settings.ProbeLaufe = 0;
        window->Settings.Mindestzeit = 500;
        window->ApplySettings();
        // A clean pair, then one below the minimum on lane 1 (and on lane 2 too, at 0,12).
        std::uint32_t tick = 1000;
        for (const auto& [lane1, lane2] : {std::pair{30000, 31000}, std::pair{120, lane2Ms}}) {
            window->TriggerCommand(window->mStart, tick);
            window->TriggerCommand(window->mSTOP1, tick + lane1);
            window->TriggerCommand(window->mStop2, tick + lane2);
            window->TriggerCommand(window->mReset, tick + 40000);
            tick += 50000;
        }
        dialogs->lastFilters.clear(); // the open dialog's
        const auto press = [&] {
            QTest::keyClick(window.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        };
        const auto nextDialogs = [&] {
            return int(!dialogs->lastFilters.isEmpty()) +
                   int(dialogs->modalTitles.size() + printDialogs->shown.size());
        };

        press(); // answered "Nein"
        QCOMPARE(dialogs->questions, QStringList{question});
        QCOMPARE(nextDialogs(), 0);

        dialogs->answers.enqueue(true);
        if (key == Qt::Key_U)
            dialogs->modalAnswers.enqueue([](QDialog& dialog) { dialog.reject(); });
        press(); // "Ja": on to the file, certificate or print dialog, cancelled there
        QCOMPARE(dialogs->questions, (QStringList{question, question}));
        QCOMPARE(nextDialogs(), 1);
    }

    void resultsListIsPrintedOnTheChosenPrinter()
    {
        LoadRaced();
        window->mErgebnislisteDrucken->trigger(); // the print dialog cancelled: nothing
        QCOMPARE(printDialogs->shown, QStringList{QStringLiteral("print")});
        const QString pdf = Path(QStringLiteral("gedruckt.pdf"));
        QVERIFY(!QFileInfo::exists(pdf));
        printDialogs->answers.enqueue(TestPrintDialogs::ToPdf(pdf));
        QTest::keyClick(window.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(dialogs->messages.isEmpty());
        const QString text = PdfTools::PageText(pdf, 1).simplified();
        QVERIFY2(text.contains(u"Nr. Name Verein Probelauf 1 Lauf 1 Gesamt Platz") &&
                     text.contains(u"Seite 1 von 1"),
                 qPrintable(text));
    }

    void certificatesForThePlaced()
    {
        // No protocol yet: the command does nothing.
        window->mUrkunden->trigger();
        QVERIFY(dialogs->messages.isEmpty() && dialogs->questions.isEmpty());
        LoadRaced();
        window->WriteCell(ColGesamt, 1, QString()); // Max Muster: a place beside no total is no place
        // Called off in the choice: nothing asked for, nothing written.
        dialogs->modalAnswers.enqueue([](QDialog& dialog) { dialog.reject(); });
        dialogs->lastFilters.clear();
        window->mUrkunden->trigger();
        QVERIFY(!QFileInfo::exists(Path(QStringLiteral("urkunden.pdf"))));
        QVERIFY(dialogs->lastFilters.isEmpty());

        dialogs->modalAnswers.enqueue([](QDialog& dialog) {
            auto& choice = static_cast<TCertificateDialog&>(dialog);
            QVERIFY(choice.TopThree->isChecked()); // places 1 to 3 unless chosen otherwise
            choice.Margins[1]->setValue(60);       // a form with its heading printed
            choice.accept();
        });
        dialogs->fileNames.enqueue(Path(QStringLiteral("urkunden")));
        window->mUrkunden->trigger();
        QCOMPARE(dialogs->modalTitles, (QStringList{"Urkunden", "Urkunden"}));
        QCOMPARE(PdfTools::PageCount(Path(QStringLiteral("urkunden.pdf"))), 2);
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Gespeichert: ") +
                     QDir::toNativeSeparators(Path(QStringLiteral("urkunden.pdf"))));
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(Path(QStringLiteral("urkunden.pdf")))});
        QVERIFY(PdfTools::PageText(Path(QStringLiteral("urkunden.pdf")), 1).contains(u"Lena Lang"));

        // The margins chosen are offered again.
        dialogs->modalAnswers.enqueue([](QDialog& dialog) {
            QCOMPARE(static_cast<TCertificateDialog&>(dialog).Options().MarginsMm.top(), 60.0);
            dialog.reject();
        });
        window->mUrkunden->trigger();
    }

    void printUsesTheChosenPrinterSetUp()
    {
        QVERIFY2(PdfTools::Available(), "poppler-utils missing (tools/setup.sh installs them)");
        LoadRaced();
        QCOMPARE(window->sbPrint->property("tag").toInt(), 1);

        // Cancelled: nothing printed, the printer as it was.
        window->sbPrint->click();
        QCOMPARE(printDialogs->shown, QStringList{QStringLiteral("print")});
        QCOMPARE(window->Printer().pageLayout().orientation(), QPageLayout::Landscape);

        const QString first = Path(QStringLiteral("erst.pdf"));
        printDialogs->answers.enqueue(TestPrintDialogs::ToPdf(first));
        window->sbPrint->click();
        const QSizeF landscape = PdfTools::PageSize(first);
        QVERIFY(landscape.width() > landscape.height());
        const QString text = PdfTools::PageText(first, 1);
        QVERIFY(text.contains(QStringLiteral("Quellorix Zeitenprotokoll")));
        QVERIFY(text.contains(QStringLiteral("Schmidt & Söhne")));

        // The set-up's choice is what the next print uses.
        const QString second = Path(QStringLiteral("hoch.pdf"));
        printDialogs->answers.enqueue([second](QPrinter& printer) {
            printer.setPageOrientation(QPageLayout::Portrait);
            return TestPrintDialogs::ToPdf(second)(printer);
        });
        window->Drucker1->trigger();
        QVERIFY(!QFile::exists(second));
        printDialogs->answers.enqueue([](QPrinter&) { return true; });
        window->sbPrint->click();
        const QSizeF portrait = PdfTools::PageSize(second);
        QVERIFY(portrait.width() < portrait.height());
        QCOMPARE(printDialogs->shown, QStringList({QStringLiteral("print"), QStringLiteral("print"),
                                                   QStringLiteral("setup"), QStringLiteral("print")}));

        // A printer that fails: a message, nothing else changes.
        printDialogs->answers.enqueue(TestPrintDialogs::ToPdf(Path(QStringLiteral("missing/x.pdf"))));
        window->sbPrint->click();
        QCOMPARE(dialogs->errors, QStringList{QStringLiteral("Das Protokoll konnte nicht gedruckt werden.")});
        QCOMPARE(dialogs->messages.size(), 1);
    }
};

QTEST_MAIN(TestFormMainReports)
#include "tst_formmain_reports.moc"
