#include "PrintDialogs.h"

#include <QDialogButtonBox>
#include <QPrintDialog>
#include <QPushButton>

namespace {

IPrintDialogs* installedPrintDialogs = nullptr;

} // namespace

IPrintDialogs& PrintDialogs()
{
    static QtPrintDialogs qtDialogs;
    return installedPrintDialogs ? *installedPrintDialogs : qtDialogs;
}

void SetPrintDialogs(IPrintDialogs* dialogs)
{
    installedPrintDialogs = dialogs;
}

bool QtPrintDialogs::ChoosePrint(QWidget* parent, QPrinter& printer)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Protokoll drucken"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                      QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintCollateCopies);
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrintDialogs::SetUpPrinter(QWidget* parent, QPrinter& printer)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Druckereinrichtung"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    const QList<QDialogButtonBox*> boxes = dialog.findChildren<QDialogButtonBox*>();
    for (QDialogButtonBox* box : boxes) {
        if (QPushButton* ok = box->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("OK"));
    }
    return dialog.exec() == QDialog::Accepted;
}
