#include "TFormMain.h"

#include "BackgroundWork.h"
#include "Dialogs.h"
#include "FileTypes.h"
#include "ProtocolLogic.h"
#include "ProtocolText.h"
#include "TSortGrid.h"
#include "WorkbookReader.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

// Starter lists in, protocols out: the text and CSV files.

namespace {

// The file name as chosen, with the chosen type's extension when it has none.
QString WithExtension(const QString& fileName, const QString& extension)
{
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + QLatin1Char('.') + extension : fileName;
}

const QString kLastFolderKey = QStringLiteral("Dateidialog/Ordner");

QString UsersDocumentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace

void TFormMain::RememberFileFolder(const QString& folder)
{
    m_fileFolder = folder;
    if (const std::unique_ptr<QSettings> store = m_access.OpenSettings())
        store->setValue(kLastFolderKey, folder);
}

QStringList TFormMain::OpenFilters() const
{
    return m_fileFilters.Open;
}

QStringList TFormMain::SaveFilters() const
{
    return m_fileFilters.Save;
}

void TFormMain::InitFileDialogs()
{
    // The first time, the dialogs start in the user's documents (the program's own
    // folder is /usr/bin once installed); later in the folder of the last file.
    m_fileFolder = UsersDocumentsFolder();
    m_saveFileName = QDir(m_fileFolder).filePath(QFileInfo(m_programFiles.SaveFileName).fileName());
    // The folder of the last file chosen, kept apart from the ordered settings.
    if (const std::unique_ptr<QSettings> store = m_access.OpenSettings()) {
        const QString folder = store->value(kLastFolderKey).toString();
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            m_fileFolder = folder;
    }
    connect(sbExcel, &QToolButton::clicked, this, &TFormMain::sbExcelClick);
    connect(sbWord, &QToolButton::clicked, this, &TFormMain::sbWordClick);
}

ProtocolTable TFormMain::ProtocolRows() const
{
    return m_results.Table();
}

void TFormMain::sbSaveClick()
{
    const QStringList filters = SaveFilters();
    int filterIndex = SaveFilterIndex(Settings.FilterInd, filters);
    const QString chosen = Dialogs().GetSaveFileName(this, QStringLiteral("Protokoll speichern unter"),
                                                     m_saveFileName, filters, &filterIndex);
    if (chosen.isEmpty())
        return;
    QApplication::processEvents();
    RememberFileFolder(QFileInfo(chosen).absolutePath());

    bool saved = false;
    QString fileName;
    // A typed ending of a known type decides over the chosen entry, and the
    // type saved is the one the dialog offers next time.
    const int typeIndex = FilterIndexOfEnding(filters, chosen);
    filterIndex = typeIndex > 0 ? typeIndex : SaveFilterIndex(filterIndex, filters);
    Settings.FilterInd = filterIndex;
    const QString pattern = FilterPattern(filters.value(filterIndex - 1));
    if (pattern == u"*.xlsx") {
        fileName = WithExtension(chosen, QStringLiteral("xlsx"));
        saved = ExportExcel(fileName);
    } else if (pattern == u"*.docx") {
        fileName = WithExtension(chosen, QStringLiteral("docx"));
        saved = ExportWord(1, fileName);
    } else if (pattern == u"*.html") {
        fileName = WithExtension(chosen, QStringLiteral("html"));
        saved = WriteWebPage(fileName);
    } else {
        // Text and CSV are built from a copy of the rows, so the protocol may change meanwhile.
        const bool csv = pattern == u"*.csv";
        fileName = WithExtension(chosen, csv ? QStringLiteral("csv") : QStringLiteral("txt"));
        QString error;
        const ProtocolTable rows = m_results.TableInStartOrder();
        const int colCount = SortGrid1->ColCount();
        const bool done = RunInBackground(this, QStringLiteral("Das Protokoll wird gespeichert …"), [&] {
            saved = csv ? SaveProtocolCsv(fileName, rows, colCount, error)
                        : SaveProtocolText(fileName, rows, colCount, error);
        });
        if (done && !saved)
            Dialogs().ShowMessage(this, error);
    }
    // A protocol that didn't reach its file stays marked unsaved, so closing still asks.
    if (saved) {
        SortGrid1->SetModified(false);
        JournalSaved();
        statusBar()->showMessage(QStringLiteral("Gespeichert: %1").arg(QDir::toNativeSeparators(fileName)),
                                 10000);
    }
}

void TFormMain::sbLoadClick()
{
    // From START until "0,00" the load button is locked: a load then would
    // record the running lanes' times, or an elimination, for whichever
    // starters the refilled lists show.
    if (!RunIdle())
        return;
    const QStringList filters = OpenFilters();
    // Always the entry of every list type; the file's contents decide how it is read.
    int filterIndex = 1;
    const QString chosen = Dialogs().GetOpenFileName(this, QStringLiteral("Starterliste öffnen"),
                                                     m_fileFolder, filters, &filterIndex);
    if (chosen.isEmpty())
        return;
    QApplication::processEvents();
    // A workbook is told by its contents, whichever entry was chosen.
    if (IsWorkbookFile(chosen))
        ImportExcel(chosen);
    else
        LoadStarterList(chosen);
}

bool TFormMain::LoadStarterList(const QString& fileName)
{
    ProtocolTable rows;
    QString error;
    QString notice;
    bool loaded = false;
    if (!RunInBackground(this, QStringLiteral("Die Starterliste wird gelesen …"),
                         [&] { loaded = LoadProtocolText(fileName, rows, error, &notice); }))
        return false; // called off: the protocol stays as it was
    if (!loaded) {
        Dialogs().ShowMessage(this, error);
        return false;
    }
    FillProtocol(rows);
    rows.clear();
    FinishLoad(fileName);
    if (!notice.isEmpty())
        Dialogs().ShowMessage(this, notice);
    return true;
}

void TFormMain::FinishLoad(const QString& fileName)
{
    const QFileInfo file(fileName);
    m_saveFileName = file.dir().absoluteFilePath(file.completeBaseName());
    RememberFileFolder(file.absolutePath());
    RankProtocol();
    const int current = SortGrid1->Row();
    SortGrid1->SetSelection({0, current, SortGrid1->ColCount() - 1, current});
    FormResize();
    FillLaneLists();
    PlaceLanesForNextRun();
    setWindowTitle(QStringLiteral("Quellorix: ") + file.completeBaseName());
    SortGrid1->SetModified(false);
    UpdateCommandStates();
    JournalLoaded(file.absoluteFilePath());
}

void TFormMain::FillProtocol(const ProtocolTable& rows, const QStringList* header, bool keepLoadOrder)
{
    const QStringList headers = ProtocolHeaders();
    QStringList titles = headers;
    for (int col = 0; col < ProtocolColumnCount; ++col) {
        const QString given = header ? header->value(col) : SortGrid1->Cells(col, 0);
        if (!given.trimmed().isEmpty())
            titles[col] = given;
    }
    // The model first: it holds the protocol, the grid shows it.
    const int dataRows = std::max(1, int(rows.size()));
    ProtocolTable table;
    table.reserve(dataRows);
    for (int row = 1; row <= dataRows; ++row) {
        QStringList cells = rows.value(row - 1).mid(0, ProtocolColumnCount);
        while (cells.size() < ProtocolColumnCount)
            cells.append(QString());
        if (!keepLoadOrder || cells.at(ColLoadOrder).isEmpty())
            cells[ColLoadOrder] = QString::number(row);
        table.append(std::move(cells));
    }
    m_results.SetHeader(titles);
    m_results.Update(table);

    const int oldRowCount = SortGrid1->RowCount();
    SortGrid1->BeginUpdate();
    SortGrid1->SetRowCount(dataRows + 1);
    // Rows of the previous protocol beyond the new count must not come back when the grid grows.
    for (int row = dataRows + 1; row < oldRowCount; ++row)
        SortGrid1->SetRowItems(row, {});
    for (int row = 1; row <= dataRows; ++row) {
        std::vector<TStrItem> items(ProtocolColumnCount);
        for (int col = 0; col < ProtocolColumnCount; ++col)
            items[col].Text = table.at(row - 1).at(col);
        SortGrid1->SetRowItems(row, std::move(items));
    }
    for (int col = 0; col < ProtocolColumnCount; ++col)
        SortGrid1->SetCells(col, 0, titles.at(col));
    SortGrid1->EndUpdate();
    SortGrid1->GotoCell(0, 1, true);
}

void TFormMain::PlaceLanesForNextRun()
{
    // A protocol opened again goes on where it stopped, not at the top.
    QList<QStringList> rows;
    rows.reserve(cbBuhn1->count());
    for (int i = 0; i < cbBuhn1->count(); ++i) {
        const int index = m_results.IndexOf(cbBuhn1->itemData(i).toString());
        rows.append(index >= 0 ? m_results.Row(index) : QStringList());
    }
    const std::array<int, 2> positions = LanePositionsForNextRun(rows, m_run.LaneCount());
    if (positions[0] == cbBuhn1->currentIndex() && positions[1] == cbBuhn2->currentIndex())
        return;
    cbBuhn1->setCurrentIndex(positions[0]);
    cbBuhn2->setCurrentIndex(positions[1]);
    cbBuhnChange();
}
