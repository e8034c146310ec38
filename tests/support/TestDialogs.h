#pragma once

#include "Dialogs.h"
#include "SeamScope.h"

#include <QQueue>

// Answers the program's dialogs from queues filled by the test, and records
// what was shown. A window takes it through TSystemAccess::Dialogs; a widget
// test without a window installs it with SeamScope.
class TestDialogs : public IDialogs
{
public:
    QStringList messages;            // every ShowMessage and ShowError text, in order
    QStringList errors;              // every ShowError text, in order
    QStringList questions;           // every AskYesNo question, in order
    QQueue<bool> answers;            // next AskYesNo answers; "no" when empty
    QQueue<QString> fileNames;       // next file dialog results; cancelled when empty
    QQueue<int> filterIndexes;       // next chosen filter indexes; unchanged when empty
    QStringList lastFilters;         // filters of the last file dialog
    QString lastProposedName;        // file name proposed to the last file dialog

    void ShowMessage(QWidget*, const QString& text) override { messages.append(text); }
    void ShowError(QWidget*, const QString& text) override
    {
        errors.append(text);
        messages.append(text);
    }
    bool AskYesNo(QWidget*, const QString& question) override
    {
        questions.append(question);
        return answers.isEmpty() ? false : answers.dequeue();
    }
    QString GetOpenFileName(QWidget*, const QString&, const QString& fileName, const QStringList& filters,
                            int* filterIndex) override
    {
        return Answer(fileName, filters, filterIndex);
    }
    QString GetSaveFileName(QWidget*, const QString&, const QString& fileName, const QStringList& filters,
                            int* filterIndex) override
    {
        return Answer(fileName, filters, filterIndex);
    }

private:
    QString Answer(const QString& fileName, const QStringList& filters, int* filterIndex)
    {
        lastFilters = filters;
        lastProposedName = fileName;
        if (filterIndex && !filterIndexes.isEmpty())
            *filterIndex = filterIndexes.dequeue();
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
};

using DialogsScope = SeamScope<IDialogs, SetDialogs>;
