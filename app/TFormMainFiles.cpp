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
    if (!FillProtocol(rows))
        return false;
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
    setWindowTitle(QStringLiteral("Quellorix: ") + file.completeBaseName());
    SortGrid1->SetModified(false);
    UpdateCommandStates();
    JournalLoaded(file.absoluteFilePath());
}

bool TFormMain::FillProtocol(const ProtocolTable& rows, const QStringList* header, bool keepLoadOrder)
{
    const QStringList headers = ProtocolHeaders();
    QStringList titles = headers;
    for (int col = 0; col < ProtocolColumnCount; ++col) {
        const QString given = header ? header->value(col) : m_results.Header().value(col);
        if (!given.trimmed().isEmpty())
            titles[col] = given;
    }
    // The session takes the rows and places the lanes; the grid and the lane
    // lists show them (ShowProtocol, ShowLaneLists).
    ApplyRules();
    const int mended = m_session.Load(rows, titles, keepLoadOrder);
    if (mended < 0) {
        // Not a dialog: the cars on the track are stopped by keys.
        statusBar()->showMessage(LoadRefusedMessage, 10000);
        return false;
    }
    RaceToPublish();
    if (mended > 0)
        statusBar()->showMessage(
            QStringLiteral("%1 Zeile(n) mit einer laufenden Nummer, die schon vergeben war – als eigene "
                           "Starter übernommen; bitte prüfen, ob ein Starter doppelt eingetragen ist.")
                .arg(mended));
    return true;
}
