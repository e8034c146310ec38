#include "TFormMain.h"

#include "BackgroundWork.h"
#include "Dialogs.h"
#include "PrintDialogs.h"
#include "ProtocolPrint.h"
#include "WebPage.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QUrl>

// The protocol published: as a web page and on paper.

ProtocolReport TFormMain::ReportOfProtocol() const
{
    // The event's name where the organiser gave one.
    const QString title = Settings.Veranstaltung.isEmpty() ? QStringLiteral("Quellorix") : Settings.Veranstaltung;
    return ReadProtocolReport(ProtocolRows(), title, Settings.ProbeLaufe);
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
