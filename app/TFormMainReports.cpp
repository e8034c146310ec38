#include "TFormMain.h"

#include "Dialogs.h"
#include "PrintDialogs.h"
#include "ProtocolPrint.h"
#include "WebPage.h"

#include <QApplication>
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
    QString error;
    if (SaveWebPage(fileName, ReportOfProtocol(), error))
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
        QPrinter& printer = Printer();
        if (!PrintDialogs().ChoosePrint(this, printer))
            return;
        // Let the closed dialog's area be redrawn before a long protocol is printed.
        QApplication::processEvents();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool printed = PrintProtocol(printer, ReportOfProtocol(), QDate::currentDate());
        QApplication::restoreOverrideCursor();
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
    PrintDialogs().SetUpPrinter(this, Printer());
}
