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

QString TFormMain::ProtocolNameFor(const QString& loadedFile)
{
    // Saved under the list's own name with the list's type, the protocol
    // would take the list's place. A protocol opened again (named so by this
    // program) is proposed under its name: the race goes on in its file,
    // replaced only after the question.
    const QFileInfo file(loadedFile);
    const QString base = file.completeBaseName();
    const QString suffix = QStringLiteral(" Protokoll");
    return file.dir().absoluteFilePath(base.endsWith(suffix, Qt::CaseInsensitive) ? base : base + suffix);
}

QString TFormMain::ChooseFileToWrite(const QString& title, const QString& proposal,
                                     const QStringList& filters, int& filterIndex,
                                     const std::function<QString(const QString&, int)>& withEnding)
{
    QString offered = proposal;
    for (;;) {
        const QString chosen = Dialogs().GetSaveFileName(this, title, offered, filters, &filterIndex);
        if (chosen.isEmpty())
            return {};
        QApplication::processEvents();
        RememberFileFolder(QFileInfo(chosen).absolutePath());
        const QString fileName = withEnding(chosen, filterIndex);
        // The dialog asks about the name as typed; an ending added afterwards
        // can name a file it never asked about, the starter list for one.
        const bool askedInDialog =
            Dialogs().SaveDialogAsksBeforeReplacing() &&
            QFileInfo(chosen).absoluteFilePath() == QFileInfo(fileName).absoluteFilePath();
        if (!QFileInfo::exists(fileName) || askedInDialog ||
            Dialogs().AskYesNo(
                this,
                QStringLiteral("„%1“ existiert bereits. Ersetzen?").arg(QFileInfo(fileName).fileName())))
            return fileName;
        // Not replaced: the dialog again, for another name.
        offered = fileName;
    }
}

void TFormMain::sbSaveClick()
{
    const QStringList filters = SaveFilters();
    int filterIndex = SaveFilterIndex(Settings.FilterInd, filters);
    // A typed ending of a known type decides over the chosen entry.
    const auto typeIndexOf = [&filters](const QString& name, int entry) {
        const int typeIndex = FilterIndexOfEnding(filters, name);
        return typeIndex > 0 ? typeIndex : SaveFilterIndex(entry, filters);
    };
    const QString fileName = ChooseFileToWrite(
        QStringLiteral("Protokoll speichern unter"), m_saveFileName, filters, filterIndex,
        [&](const QString& chosen, int entry) {
            const QString pattern = FilterPattern(filters.value(typeIndexOf(chosen, entry) - 1));
            return WithExtension(chosen, pattern.startsWith(QStringLiteral("*.")) ? pattern.mid(2)
                                                                                  : QStringLiteral("txt"));
        });
    if (fileName.isEmpty())
        return;

    // The type saved is the one the dialog offers next time.
    filterIndex = typeIndexOf(fileName, filterIndex);
    Settings.FilterInd = filterIndex;
    const QString pattern = FilterPattern(filters.value(filterIndex - 1));
    bool saved = false;
    if (pattern == u"*.xlsx") {
        saved = ExportExcel(fileName);
    } else if (pattern == u"*.docx") {
        saved = ExportWord(1, fileName);
    } else if (pattern == u"*.html") {
        saved = WriteWebPage(fileName);
    } else {
        // Text and CSV are built from a copy of the rows, so the protocol may change meanwhile.
        const bool csv = pattern == u"*.csv";
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
        m_session.MarkSaved();
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
    if (!FillProtocol(rows, nullptr, false, fileName))
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
    m_saveFileName = ProtocolNameFor(fileName);
    RememberFileFolder(file.absolutePath());
    RankProtocol();
    const int current = SortGrid1->Row();
    SortGrid1->SetSelection({0, current, SortGrid1->ColCount() - 1, current});
    FormResize();
    setWindowTitle(QStringLiteral("Quellorix: ") + file.completeBaseName());
    UpdateCommandStates();
}

bool TFormMain::FillProtocol(const ProtocolTable& rows, const QStringList* header, bool keepLoadOrder,
                             const QString& fileName)
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
    const int mended = m_session.Load(
        rows, titles, keepLoadOrder, fileName.isEmpty() ? QString() : QFileInfo(fileName).absoluteFilePath());
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
