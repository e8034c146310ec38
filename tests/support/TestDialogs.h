#pragma once

#include "Dialogs.h"
#include "ModalGuard.h"
#include "SeamScope.h"

#include <QDialog>
#include <QQueue>
#include <functional>
#include <utility>

// Answers the program's dialogs from queues filled by the test, and records
// what was shown. A window takes it through TSystemAccess::Dialogs; a widget
// test without a window installs it with SeamScope. One of the program's own
// dialogs (settings, information) that opens with no answer queued fails the
// test at once.
class TestDialogs : public IDialogs
{
public:
    QStringList messages;      // every ShowMessage and ShowError text, in order
    QStringList errors;        // every ShowError text, in order
    QStringList questions;     // every AskYesNo and AskChoice question, in order
    QQueue<bool> answers;      // next AskYesNo answers; "no" when empty
    QQueue<int> choices;       // next AskChoice answers (button index); closed (-1) when empty
    QStringList lastButtons;   // buttons of the last AskChoice
    QQueue<QString> fileNames; // next file dialog results; cancelled when empty
    QQueue<int> filterIndexes; // next chosen filter indexes; unchanged when empty
    QStringList lastFilters;   // filters of the last file dialog
    QString lastProposedName;  // file name proposed to the last file dialog
    int lastOfferedIndex = 0;  // filter entry the last file dialog was opened with
    // Next answers to the program's own dialogs: each is handed the shown
    // dialog and closes it as a user would (OK, Abbrechen, a key).
    QQueue<std::function<void(QDialog&)>> modalAnswers;
    QStringList modalTitles; // every such dialog's title, in order
    // Runs while the next yes/no question is open (once): what a light barrier
    // or a timer does meanwhile.
    std::function<void()> whileAsking;

    void ShowMessage(QWidget*, const QString& text) override { messages.append(text); }
    void ShowError(QWidget*, const QString& text) override
    {
        errors.append(text);
        messages.append(text);
    }
    bool AskYesNo(QWidget*, const QString& question) override
    {
        questions.append(question);
        if (whileAsking)
            std::exchange(whileAsking, nullptr)();
        return answers.isEmpty() ? false : answers.dequeue();
    }
    int AskChoice(QWidget*, const QString& question, const QStringList& buttons) override
    {
        questions.append(question);
        lastButtons = buttons;
        return choices.isEmpty() ? -1 : choices.dequeue();
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
    // As Qt's save dialog: a name answered from fileNames that exists counts
    // as asked about in the dialog and answered "replace" there.
    bool SaveDialogAsksBeforeReplacing() const override { return true; }

    int Exec(QDialog& dialog) override
    {
        modalTitles.append(dialog.windowTitle());
        if (modalAnswers.isEmpty()) {
            ModalGuard::ReportUnexpected(dialog.windowTitle());
            return QDialog::Rejected;
        }
        // Shown for real, so the dialog fills itself as it does for a user,
        // but without a modal loop: the answer closes it.
        const ModalGuard::ExpectedScope expected;
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        modalAnswers.dequeue()(dialog);
        if (dialog.isVisible()) {
            ModalGuard::ReportUnexpected(dialog.windowTitle() + QStringLiteral(" (left open by its answer)"));
            dialog.reject();
        }
        return dialog.result();
    }

private:
    QString Answer(const QString& fileName, const QStringList& filters, int* filterIndex)
    {
        lastFilters = filters;
        lastProposedName = fileName;
        lastOfferedIndex = filterIndex ? *filterIndex : 0;
        if (filterIndex && !filterIndexes.isEmpty())
            *filterIndex = filterIndexes.dequeue();
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
};

using DialogsScope = SeamScope<IDialogs, SetDialogs>;
