#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Every message box and file dialog of the program goes through this seam, so
// tests can answer them: install a TestDialogs-like implementation with
// SetDialogs() and restore the default with SetDialogs(nullptr).
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
    // A file to open or to save; an empty result means the dialog was cancelled.
    // filterIndex is 1-based, as the filters are listed, in and out.
    virtual QString GetOpenFileName(QWidget* parent, const QString& title, const QString& fileName,
                                    const QStringList& filters, int* filterIndex) = 0;
    virtual QString GetSaveFileName(QWidget* parent, const QString& title, const QString& fileName,
                                    const QStringList& filters, int* filterIndex) = 0;
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
    QString GetOpenFileName(QWidget* parent, const QString& title, const QString& fileName,
                            const QStringList& filters, int* filterIndex) override;
    QString GetSaveFileName(QWidget* parent, const QString& title, const QString& fileName,
                            const QStringList& filters, int* filterIndex) override;
};
