#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

// Every modal dialog of the program goes through this seam (message boxes,
// questions, file dialogs and the program's own dialogs such as the settings),
// so tests can answer them and none can wait for a person who isn't there:
// install a TestDialogs-like implementation with SetDialogs() and restore the
// default with SetDialogs(nullptr). The print dialogs have a seam of their own
// (PrintDialogs.h).
class IDialogs
{
public:
    virtual ~IDialogs() = default;

    // A message with an OK button (information and errors alike).
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // An error message with the error icon and an OK button.
    virtual void ShowError(QWidget* parent, const QString& text) { ShowMessage(parent, text); }
    // A question answered yes (true) or no (false).
    virtual bool AskYesNo(QWidget* parent, const QString& question) = 0;
    // A question answered with one of the buttons named (the first is the
    // default, the last is the way back: Esc and the close box choose it): the
    // index of the button chosen, -1 when the question was closed otherwise.
    virtual int AskChoice(QWidget* parent, const QString& question, const QStringList& buttons) = 0;
    // A file to open or to save; an empty result means the dialog was cancelled.
    // filterIndex is 1-based, as the filters are listed, in and out.
    virtual QString GetOpenFileName(QWidget* parent, const QString& title, const QString& fileName,
                                    const QStringList& filters, int* filterIndex) = 0;
    virtual QString GetSaveFileName(QWidget* parent, const QString& title, const QString& fileName,
                                    const QStringList& filters, int* filterIndex) = 0;
    // Whether the save dialog itself asks before a name it returns replaces an
    // existing file: then only a name changed afterwards (an ending added) is
    // asked about again.
    virtual bool SaveDialogAsksBeforeReplacing() const { return false; }
    // One of the program's own dialogs, shown modally until it is closed;
    // returns its result (QDialog::Accepted or QDialog::Rejected).
    virtual int Exec(QDialog& dialog) = 0;
};

// The dialogs in use; the Qt ones unless a replacement was installed.
IDialogs& Dialogs();
// Installs a replacement (not owned); nullptr restores the Qt dialogs.
void SetDialogs(IDialogs* dialogs);

// The Qt implementation. The yes/no question uses a plain QMessageBox; the main
// program installs one that uses its own confirmation dialog.
class QtDialogs : public IDialogs
{
public:
    void ShowMessage(QWidget* parent, const QString& text) override;
    void ShowError(QWidget* parent, const QString& text) override;
    bool AskYesNo(QWidget* parent, const QString& question) override;
    int AskChoice(QWidget* parent, const QString& question, const QStringList& buttons) override;
    QString GetOpenFileName(QWidget* parent, const QString& title, const QString& fileName,
                            const QStringList& filters, int* filterIndex) override;
    QString GetSaveFileName(QWidget* parent, const QString& title, const QString& fileName,
                            const QStringList& filters, int* filterIndex) override;
    bool SaveDialogAsksBeforeReplacing() const override;
    int Exec(QDialog& dialog) override;
};
