#include "TFormMain.h"

#include "BackgroundWork.h"
#include "Dialogs.h"
#include "ProtocolLogic.h"
#include "PrintDialogs.h"
#include "ProtocolPrint.h"
#include "ResultsDocument.h"
#include "ResultsPage.h"
#include "ResultsPrint.h"
#include "TCertificateDialog.h"
#include "WebPage.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QPageSize>
#include <QPrinter>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>

// The protocol published: as a web page and on paper.

ProtocolReport TFormMain::ReportOfProtocol() const
{
    // The event's name where the organiser gave one.
    const QString title =
        Settings.Veranstaltung.isEmpty() ? QStringLiteral("Quellorix") : Settings.Veranstaltung;
    return ReadProtocolReport(ProtocolRows(), title, m_session.CurrentRules().probeLaufe);
}

bool TFormMain::WriteWebPage(const QString& fileName)
{
    // The report is taken here, as the protocol stands now; the page is built
    // and written off the window's thread.
    const ProtocolReport report = ReportOfProtocol();
    QString error;
    bool saved = false;
    if (!RunInBackground(this, QStringLiteral("Die Webseite wird geschrieben …"),
                         [&] { saved = SaveWebPage(fileName, report, error); }))
        return false; // called off: an older page stays as it was
    if (saved)
        return true;
    Dialogs().ShowError(this, error);
    return false;
}

QPrinter& TFormMain::Printer()
{
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_printer->setPageOrientation(QPageLayout::Landscape);
        m_printer->setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    }
    return *m_printer;
}

void TFormMain::sbInetClick(int tag)
{
    if (tag == 1) {
        // The printer is in use by a print still being painted.
        if (BackgroundWorkRunning())
            return;
        QPrinter& printer = Printer();
        if (!PrintDialogs().ChoosePrint(this, printer))
            return;
        // The report is taken here, as the protocol stands now; the pages are
        // painted off the window's thread, which the printer may be used from
        // while this one leaves it alone.
        const ProtocolReport report = ReportOfProtocol();
        const QDate today = QDate::currentDate();
        bool printed = false;
        if (!RunInBackground(this, QStringLiteral("Das Protokoll wird gedruckt …"),
                             [&] { printed = PrintProtocol(printer, report, today); }))
            return; // called off: nothing printed, no message
        if (!printed)
            Dialogs().ShowError(this, QStringLiteral("Das Protokoll konnte nicht gedruckt werden."));
        return;
    }
    if (tag != 0)
        return;
    const QString& pageName = m_programFiles.WebPage;
    // An older page of the same name would show outdated results.
    if (!WriteWebPage(pageName))
        return;
    const QUrl url = QUrl::fromLocalFile(QDir::current().absoluteFilePath(pageName));
    OpenUrl(url);
}

void TFormMain::Drucker1Click()
{
    if (BackgroundWorkRunning())
        return;
    PrintDialogs().SetUpPrinter(this, Printer());
}

// The day's end: the results list for the notice board and the certificates.

ResultsList TFormMain::ResultsOfProtocol() const
{
    return BuildResultsList(m_results.Table(), m_session.CurrentRules().probeLaufe, Settings.Veranstaltung,
                            QDate::currentDate());
}

namespace {

QString WithEnding(const QString& fileName, const QString& ending)
{
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + u'.' + ending : fileName;
}

// The name proposed in the folder the user chose last: a list written again
// after a correction replaces the one before, after the question.
QString ProposedName(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

} // namespace

bool TFormMain::MayListWithoutWaitingTimes(const QString& verb)
{
    // A doubtful time of a counted run keeps its starter from a place until
    // Ctrl+B: the list would show him without a result and the ones behind
    // moved up. A test run's time doesn't count, so it leaves nothing out.
    const int firstCounted = ColLauf1 + std::max(0, m_session.CurrentRules().probeLaufe);
    const auto waiting =
        std::count_if(m_session.Unconfirmed().cbegin(), m_session.Unconfirmed().cend(),
                      [firstCounted](const TimeMark& mark) { return mark.second >= firstCounted; });
    if (waiting == 0)
        return true;
    const QString question =
        waiting == 1
            ? QStringLiteral("1 Zeit wartet auf Bestätigung (Strg+B) – sie fehlt in der Liste. Trotzdem %1?")
                  .arg(verb)
            : QStringLiteral(
                  "%1 Zeiten warten auf Bestätigung (Strg+B) – sie fehlen in der Liste. Trotzdem %2?")
                  .arg(waiting)
                  .arg(verb);
    return Dialogs().AskYesNo(this, question);
}

void TFormMain::ShowWrittenFile(const QString& fileName)
{
    // Named as a save names its file, and handed to the desktop as the web page is.
    const QString shown = QDir::toNativeSeparators(fileName);
    if (OpenUrl(QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath())))
        statusBar()->showMessage(QStringLiteral("Gespeichert: %1").arg(shown), 10000);
    else
        statusBar()->showMessage(
            QStringLiteral("Gespeichert: %1 – kein Programm auf diesem Rechner konnte die Datei öffnen.")
                .arg(shown),
            10000);
}

void TFormMain::mErgebnislisteClick()
{
    // Nothing to list yet, or another writer still at work.
    if (m_results.RowCount() == 0 || BackgroundWorkRunning())
        return;
    if (!MayListWithoutWaitingTimes(QStringLiteral("schreiben")))
        return;
    const QStringList filters{QStringLiteral("PDF-Datei (*.pdf)"), QStringLiteral("Webseite (*.html)"),
                              QStringLiteral("Word-Dokument (*.docx)")};
    // A typed ending of a known type decides over the chosen entry.
    const auto patternOf = [&filters](const QString& name, int entry) {
        const int typeIndex = FilterIndexOfEnding(filters, name);
        return FilterPattern(filters.value((typeIndex > 0 ? typeIndex : std::clamp(entry, 1, 3)) - 1));
    };
    int filterIndex = 1;
    const QString fileName =
        ChooseFileToWrite(QStringLiteral("Ergebnisliste speichern unter"),
                          ProposedName(m_fileFolder, QStringLiteral("Ergebnisliste.pdf")), filters,
                          filterIndex, [&](const QString& chosen, int entry) {
                              return WithEnding(chosen, patternOf(chosen, entry).mid(2));
                          });
    if (fileName.isEmpty())
        return;
    const QString pattern = patternOf(fileName, filterIndex);
    // The list is taken here, as the protocol stands now; the file is written
    // off the window's thread.
    const ResultsList list = ResultsOfProtocol();
    QString error;
    bool saved = false;
    if (!RunInBackground(this, QStringLiteral("Die Ergebnisliste wird geschrieben …"), [&] {
            if (pattern == u"*.html")
                saved = SaveResultsPage(fileName, list, error);
            else if (pattern == u"*.docx")
                saved = SaveResultsDocument(fileName, list, error);
            else
                saved = SaveResultsPdf(fileName, list, error);
        }))
        return; // called off: an older file stays as it was
    if (saved)
        ShowWrittenFile(fileName);
    else
        Dialogs().ShowError(this, error);
}

void TFormMain::mErgebnislisteDruckenClick()
{
    if (m_results.RowCount() == 0 || BackgroundWorkRunning())
        return;
    if (!MayListWithoutWaitingTimes(QStringLiteral("drucken")))
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(QStringLiteral("Ergebnisliste"));
    if (!PrintDialogs().ChoosePrint(this, printer))
        return;
    const ResultsList list = ResultsOfProtocol();
    QString error;
    bool printed = false;
    if (!RunInBackground(this, QStringLiteral("Die Ergebnisliste wird gedruckt …"),
                         [&] { printed = PrintResultsList(printer, list, error); }))
        return;
    if (!printed && !error.isEmpty())
        Dialogs().ShowError(this, error);
}

void TFormMain::mUrkundenClick()
{
    if (m_results.RowCount() == 0 || BackgroundWorkRunning())
        return;
    const ResultsList list = ResultsOfProtocol();
    if (BuildCertificates(list, true).isEmpty()) {
        Dialogs().ShowMessage(this, QStringLiteral("Noch hat niemand einen Platz: es gibt keine Urkunden."));
        return;
    }
    if (!MayListWithoutWaitingTimes(QStringLiteral("schreiben")))
        return;
    TCertificateDialog choice(this);
    choice.SetOptions(m_certificateOptions);
    if (Dialogs().Exec(choice) != QDialog::Accepted)
        return;
    // Kept for the next time: forms and margins don't change within a day.
    m_certificateOptions = choice.Options();
    const CertificateOptions options = m_certificateOptions;
    const QStringList filters{QStringLiteral("PDF-Datei (*.pdf)")};
    int filterIndex = 1;
    const QString fileName = ChooseFileToWrite(
        QStringLiteral("Urkunden speichern unter"),
        ProposedName(m_fileFolder, QStringLiteral("Urkunden.pdf")), filters, filterIndex,
        [](const QString& chosen, int) { return WithEnding(chosen, QStringLiteral("pdf")); });
    if (fileName.isEmpty())
        return;
    QString error;
    bool saved = false;
    if (!RunInBackground(this, QStringLiteral("Die Urkunden werden geschrieben …"),
                         [&] { saved = SaveCertificatesPdf(fileName, list, options, error); }))
        return;
    if (saved)
        ShowWrittenFile(fileName);
    else
        Dialogs().ShowError(this, error);
}
