#include "FakeTickSource.h"
#include "FileSizeLimit.h"
#include "ProtocolLogic.h"
#include "TBitBtnWithColor.h"
#include "TFormMain.h"
#include "TSortGrid.h"
#include "TestDialogs.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <memory>

// Loading starter lists and saving protocols through the main window's commands.
class TestFormMainFiles : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeTickSource> clock;
    std::unique_ptr<TestDialogs> dialogs;
    std::unique_ptr<TFormMain> window;
    QTemporaryDir dir;

    QString Path(const QString& name) const { return dir.filePath(name); }

    void WriteFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    QByteArray ReadFile(const QString& name) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void Open(const QString& name, int filterIndex = 1)
    {
        dialogs->fileNames.enqueue(Path(name));
        dialogs->filterIndexes.enqueue(filterIndex);
        window->Open1->trigger();
    }

    void Save(const QString& name, int filterIndex)
    {
        dialogs->fileNames.enqueue(Path(name));
        dialogs->filterIndexes.enqueue(filterIndex);
        window->Save1->trigger();
    }

    // The data rows without the load order, which every load renumbers; with
    // blanksAsEmpty a cell of one blank (how the text format writes an empty
    // cell) counts as empty.
    QStringList DataRows(bool blanksAsEmpty = false) const
    {
        QStringList rows;
        for (int row = 1; row < window->SortGrid1->RowCount(); ++row) {
            QStringList cells = window->SortGrid1->Rows(row).ToStringList();
            cells.removeLast();
            if (blanksAsEmpty)
                std::replace(cells.begin(), cells.end(), QStringLiteral(" "), QString());
            rows.append(cells.join(QLatin1Char('|')));
        }
        return rows;
    }

    QString Cell(int col, int row) const { return window->SortGrid1->Cells(col, row); }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void init()
    {
        clock = std::make_unique<FakeTickSource>(1000);
        dialogs = std::make_unique<TestDialogs>();
        TSystemAccess access;
        const QString settings = Path(QStringLiteral("settings.ini"));
        QFile::remove(settings);
        access.OpenSettings = [settings] {
            return std::make_unique<QSettings>(settings, QSettings::IniFormat);
        };
        access.ScanPorts = [] { return std::uint32_t(0); };
        window = std::make_unique<TFormMain>(std::move(access));
        window->show();
    }

    void cleanup()
    {
        window->SortGrid1->SetModified(false);
        window.reset();
        dialogs.reset();
        clock.reset();
    }

    void csvStarterListFillsProtocolListsAndCaption()
    {
        WriteFile(QStringLiteral("Starter2024.csv"),
                  "Nr.;Name;Vorname;Verein;Klasse\r\n7;Muster;Max;SC Nord;A\r\n9;Bauer;Lena;TV Ost;B\r\n");
        Open(QStringLiteral("Starter2024.csv"), 2);
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
        QVERIFY(!window->SortGrid1->Modified());
        QCOMPARE(dialogs->lastFilters.size(), 2);
    }

    void emptyFieldsKeepTheirColumn()
    {
        WriteFile(QStringLiteral("list.csv"), "7;Muster;;SC Nord;A\r\n");
        Open(QStringLiteral("list.csv"), 2);
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

    void textRoundTripKeepsEveryCell()
    {
        WriteFile(QStringLiteral("in.csv"),
                  "3;Zoë;Jürgen;Grün-Weiß;A\r\n1;Dvořák;Antonín;Praha;B\r\n2;Öz;Ünal;SV Süd;A\r\n");
        Open(QStringLiteral("in.csv"), 2);
        window->SortGrid1->SetCells(ColLauf3, 1, QStringLiteral("31,25"));
        window->RankProtocol();
        window->SortGrid1->SetModified(true);
        const QStringList before = DataRows();

        Save(QStringLiteral("out.txt"), 1);
        QVERIFY(!window->SortGrid1->Modified());
        QVERIFY(ReadFile(QStringLiteral("out.txt")).startsWith("\xEF\xBB\xBFNr.\t"));
        Open(QStringLiteral("out.txt"));
        QCOMPARE(DataRows(true), before);
        // A reloaded protocol takes no further times into the blank cells.
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral(" "));
        QCOMPARE(Cell(ColLauf3, 1), QStringLiteral("31,25"));
        QCOMPARE(Cell(ColName, 2), QStringLiteral("Dvořák"));
    }

    void csvRoundTripKeepsSeparatorsAndQuotes()
    {
        WriteFile(QStringLiteral("in.csv"),
                  "5;Maier;Sepp;\"Verein; Nord\";A\r\n6;\"O\"\"Neill\";Sean;Ost;A\r\n");
        Open(QStringLiteral("in.csv"), 2);
        QCOMPARE(Cell(ColVerein, 1), QStringLiteral("Verein; Nord"));
        QCOMPARE(Cell(ColName, 2), QStringLiteral("O\"Neill"));
        const QStringList before = DataRows();

        Save(QStringLiteral("out.csv"), 2);
        QCOMPARE(window->Settings.FilterInd, 2);
        Open(QStringLiteral("out.csv"), 2);
        QCOMPARE(DataRows(), before);
        // Windows-1252 when every character fits.
        QVERIFY(!ReadFile(QStringLiteral("out.csv")).startsWith("\xEF\xBB\xBF"));
    }

    void umlautsAreWrittenInTheWesternCodePage()
    {
        WriteFile(QStringLiteral("in.csv"), "1;Größer;Jürgen;Süd;A\r\n");
        Open(QStringLiteral("in.csv"), 2);
        Save(QStringLiteral("out.txt"), 1);
        QVERIFY(ReadFile(QStringLiteral("out.txt"))
                    .contains("1\tGr\xF6\xDF"
                              "er\tJ\xFCrgen\tS\xFC"
                              "d\tA\t"));
    }

    void unreadableFileLeavesTheProtocolAlone()
    {
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;SC;A\r\n");
        Open(QStringLiteral("list.csv"), 2);
        Open(QStringLiteral("missing.csv"), 2);
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages.first().contains(QStringLiteral("missing.csv")));
        QCOMPARE(window->SortGrid1->RowCount(), 3);
        QCOMPARE(window->cbBuhn1->count(), 2);
        QCOMPARE(window->windowTitle(), QStringLiteral("Quellorix: list"));
    }

    void loadDuringARunIsIgnored()
    {
        WriteFile(QStringLiteral("list.csv"), "7;Muster;Max;SC Nord;A\r\n8;Kurz;Karl;SC;A\r\n");
        Open(QStringLiteral("list.csv"), 2);
        window->mStart->trigger();
        WriteFile(QStringLiteral("other.csv"), "1;Anders;Anna;X;B\r\n");
        dialogs->fileNames.enqueue(Path(QStringLiteral("other.csv")));
        window->Open1->trigger();
        QCOMPARE(Cell(ColNr, 1), QStringLiteral("7"));
        QCOMPARE(dialogs->fileNames.size(), 1); // no dialog was shown
        window->mSTOP1->trigger();
        QCOMPARE(Cell(ColLauf1, 1), QString("0,00"));
    }

    void failedSaveKeepsTheOldFileAndTheModifiedMark()
    {
        QByteArray list;
        for (int i = 1; i <= 200; ++i)
            list += QByteArray::number(i) + ";Name" + QByteArray::number(i) + ";Vorname;Verein;A\r\n";
        WriteFile(QStringLiteral("list.csv"), list);
        Open(QStringLiteral("list.csv"), 2);
        WriteFile(QStringLiteral("old.txt"), "the previous protocol");
        window->SortGrid1->SetModified(true);

        QVERIFY(UnderFileSizeLimit(2048, [&] { Save(QStringLiteral("old.txt"), 1); }));

        QCOMPARE(ReadFile(QStringLiteral("old.txt")), QByteArray("the previous protocol"));
        QVERIFY(window->SortGrid1->Modified());
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages.first().contains(Path(QStringLiteral("old.txt"))));
    }

    void savingWithoutAChosenNameDoesNothing()
    {
        window->SortGrid1->SetModified(true);
        window->Save1->trigger(); // dialog cancelled
        QVERIFY(window->SortGrid1->Modified());
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
