#pragma once

class QPrinter;
class QWidget;

// The print dialogs go through this seam, so tests can answer them with a PDF
// file: install a replacement with SetPrintDialogs() and restore the Qt dialogs
// with SetPrintDialogs(nullptr). Both dialogs leave the printer as it was when
// cancelled.
class IPrintDialogs
{
public:
    virtual ~IPrintDialogs() = default;

    // Where and how to print now; false when cancelled.
    virtual bool ChoosePrint(QWidget* parent, QPrinter& printer) = 0;
    // The printer, paper and orientation the next print uses; false when cancelled.
    virtual bool SetUpPrinter(QWidget* parent, QPrinter& printer) = 0;
};

// The print dialogs in use; the Qt ones unless a replacement was installed.
IPrintDialogs& PrintDialogs();
// Installs a replacement (not owned); nullptr restores the Qt dialogs.
void SetPrintDialogs(IPrintDialogs* dialogs);

// Qt's print dialog; the set-up is the same dialog without page range and with
// "OK" instead of "Print", since it only chooses.
class QtPrintDialogs : public IPrintDialogs
{
public:
    bool ChoosePrint(QWidget* parent, QPrinter& printer) override;
    bool SetUpPrinter(QWidget* parent, QPrinter& printer) override;
};
