#include "TFormMain.h"

#include "BackgroundWork.h"
#include "Dialogs.h"
#include "FileTypes.h"
#include "ProtocolDocument.h"
#include "ProtocolLogic.h"
#include "TSortGrid.h"
#include "WorkbookReader.h"
#include "WorkbookWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QToolButton>
#include <QUrl>

// Office files: the protocol as a workbook or a Word document, and a workbook
// read as a starter list. Written and read by the program itself, so no office
// suite needs to be installed.

namespace {

// A name in the user's cache folder that no file has yet, for a workbook that
// is only shown.
QString NewCacheFile(const QString& baseName, const QString& suffix)
{
    const QDir folder(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
    folder.mkpath(QStringLiteral("."));
    QString name = folder.absoluteFilePath(baseName + suffix);
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = folder.absoluteFilePath(QStringLiteral("%1-%2%3").arg(baseName).arg(n).arg(suffix));
    return name;
}

} // namespace

ProtocolTable TFormMain::ShownProtocolRows(int colCount, bool startOrder) const
{
    // The values from the results model, the columns the grid shows.
    const ProtocolTable table = startOrder ? m_results.TableInStartOrder() : m_results.Table();
    ProtocolTable block;
    block.reserve(table.size());
    for (const QStringList& row : table) {
        QStringList cells;
        for (int col = 0; col < SortGrid1->ColCount() && cells.size() < colCount; ++col) {
            if (SortGrid1->ColWidths(col) != -1)
                cells.append(row.value(col));
        }
        block.append(cells);
    }
    return block;
}

bool TFormMain::ExportExcel(const QString& fileName)
{
    const bool show = fileName.isEmpty();
    const QString target =
        show ? NewCacheFile(DefaultExportName(QDateTime::currentDateTime()), QStringLiteral(".xlsx"))
             : fileName;
    QString error;
    bool saved = false;
    // A saved workbook may be opened again as the list: it keeps the start order.
    const ProtocolTable rows = ShownProtocolRows(ProtocolColumnCount, !show);
    const QString listName = QFileInfo(m_session.FileName()).completeBaseName();
    const WorkbookPageHeader header{
        Settings.Veranstaltung.isEmpty() || listName.isEmpty()
            ? (Settings.Veranstaltung.isEmpty() ? listName : Settings.Veranstaltung)
            : Settings.Veranstaltung + QStringLiteral(" – ") + listName,
        QDate::currentDate()};
    if (!RunInBackground(this, QStringLiteral("Die Arbeitsmappe wird geschrieben …"), [&] {
            saved = SaveProtocolWorkbook(target, rows, QStringLiteral("Quellorix"), error, header);
        }))
        return false; // called off: nothing written
    if (!saved) {
        Dialogs().ShowError(this, error);
        return false;
    }
    if (show && !OpenUrl(QUrl::fromLocalFile(target))) {
        Dialogs().ShowMessage(
            this, QStringLiteral(
                      "Die Arbeitsmappe %1 wurde gespeichert, aber kein Tabellenprogramm konnte sie öffnen.")
                      .arg(QDir::toNativeSeparators(target)));
    }
    return true;
}

bool TFormMain::ImportExcel(const QString& fileName)
{
    ProtocolTable rows;
    QString error;
    bool loaded = false;
    if (!RunInBackground(this, QStringLiteral("Die Arbeitsmappe wird gelesen …"),
                         [&] { loaded = LoadWorkbook(fileName, rows, error); }))
        return false; // called off: the protocol stays as it was
    // A sheet without starters is refused too: the protocol stays as it was.
    if (!loaded) {
        Dialogs().ShowError(this, error);
        return false;
    }
    const QStringList header = rows.takeFirst();
    if (!FillProtocol(rows, &header, false, fileName))
        return false;
    FinishLoad(fileName);
    return true;
}

bool TFormMain::ExportWord(int mode, const QString& fileName)
{
    QString error;
    bool saved = false;
    const ProtocolTable rows = ShownProtocolRows(ColLoadOrder);
    if (!RunInBackground(this, QStringLiteral("Das Dokument wird geschrieben …"), [&] {
            saved = SaveProtocolDocument(WordTemplatePath, fileName, rows, error, Settings.Veranstaltung);
        }))
        return false; // called off: nothing written
    if (!saved) {
        Dialogs().ShowError(this, error);
        return false;
    }
    if (mode == 0 && !OpenUrl(QUrl::fromLocalFile(fileName))) {
        Dialogs().ShowMessage(
            this,
            QStringLiteral("Das Dokument %1 wurde gespeichert, aber kein Textprogramm konnte es öffnen.")
                .arg(QDir::toNativeSeparators(fileName)));
    }
    return true;
}

// X and W write a new file with every click: a second click while the first
// is being written must not write a second file. The buttons are off while
// writing, and clicks queued meanwhile are delivered to them before they
// come back on, so they are dropped.
class TFormMain::OfficeBusy
{
public:
    explicit OfficeBusy(TFormMain& window) : m_window(window)
    {
        m_window.m_officeBusy = true;
        m_window.UpdateCommandStates();
    }
    ~OfficeBusy()
    {
        QCoreApplication::processEvents();
        m_window.m_officeBusy = false;
        m_window.UpdateCommandStates();
    }
    OfficeBusy(const OfficeBusy&) = delete;
    OfficeBusy& operator=(const OfficeBusy&) = delete;

private:
    TFormMain& m_window;
};

void TFormMain::sbExcelClick()
{
    if (!OfficeExportAvailable(false))
        return;
    const OfficeBusy busy(*this);
    ExportExcel(QString());
}

void TFormMain::sbWordClick()
{
    if (!OfficeExportAvailable(true))
        return;
    const OfficeBusy busy(*this);
    // Named after the starter list, with a number when that name is taken.
    const QString listName = QFileInfo(m_session.FileName()).completeBaseName();
    ExportWord(0, UnusedFileName(QDir::currentPath(),
                                 listName.isEmpty() ? QStringLiteral("Protokoll") : listName,
                                 QStringLiteral(".docx")));
}
