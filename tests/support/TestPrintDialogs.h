#pragma once

#include "PrintDialogs.h"

#include <QPrinter>
#include <QQueue>
#include <QStringList>
#include <functional>

// Answers the print dialogs from a queue filled by the test: each answer sets
// the printer up as the user would (for example a PDF file) and returns whether
// the dialog was accepted; an empty queue cancels. A window takes it through
// TSystemAccess::PrintDialogs.
class TestPrintDialogs : public IPrintDialogs
{
public:
    using Answer = std::function<bool(QPrinter&)>;

    QQueue<Answer> answers;
    QStringList shown; // "print" or "setup", in order

    // Accepts with output to a PDF file, changing nothing else.
    static Answer ToPdf(const QString& fileName)
    {
        return [fileName](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(fileName);
            return true;
        };
    }

    bool ChoosePrint(QWidget*, QPrinter& printer) override
    {
        return Respond(QStringLiteral("print"), printer);
    }
    bool SetUpPrinter(QWidget*, QPrinter& printer) override
    {
        return Respond(QStringLiteral("setup"), printer);
    }

private:
    bool Respond(const QString& kind, QPrinter& printer)
    {
        shown.append(kind);
        return !answers.isEmpty() && answers.dequeue()(printer);
    }
};
