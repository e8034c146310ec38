#include "Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

IDialogs* installedDialogs = nullptr;

QString RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& title,
                      const QString& fileName, const QStringList& filters, int* filterIndex)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    if (filterIndex && *filterIndex >= 1 && *filterIndex <= filters.size())
        dialog.selectNameFilter(filters.at(*filterIndex - 1));
    // A folder is where the dialog starts, with the name field left empty:
    // selected as a file it would show its parent with the folder's name typed in.
    if (!fileName.isEmpty() && QFileInfo(fileName).isDir())
        dialog.setDirectory(fileName);
    else if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    if (filterIndex)
        *filterIndex = int(filters.indexOf(dialog.selectedNameFilter())) + 1;
    return dialog.selectedFiles().constFirst();
}

} // namespace

IDialogs& Dialogs()
{
    static QtDialogs qtDialogs;
    return installedDialogs ? *installedDialogs : qtDialogs;
}

void SetDialogs(IDialogs* dialogs)
{
    installedDialogs = dialogs;
}

void QtDialogs::ShowMessage(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
}

void QtDialogs::ShowError(QWidget* parent, const QString& text)
{
    QMessageBox::critical(parent, QApplication::applicationDisplayName(), text);
}

bool QtDialogs::AskYesNo(QWidget* parent, const QString& question)
{
    return QMessageBox::question(parent, QApplication::applicationDisplayName(), question,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

int QtDialogs::AskChoice(QWidget* parent, const QString& question, const QStringList& buttons)
{
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question,
                    QMessageBox::NoButton, parent);
    QList<QAbstractButton*> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        // The last choice is the way back: Esc and the close box take it.
        const bool last = i == buttons.size() - 1 && buttons.size() > 1;
        added.append(box.addButton(buttons.at(i), last ? QMessageBox::RejectRole : QMessageBox::ActionRole));
    }
    if (!added.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton*>(added.constFirst()));
    if (added.size() > 1)
        box.setEscapeButton(added.constLast());
    box.exec();
    return int(added.indexOf(box.clickedButton()));
}

QString QtDialogs::GetOpenFileName(QWidget* parent, const QString& title, const QString& fileName,
                                   const QStringList& filters, int* filterIndex)
{
    return RunFileDialog(parent, QFileDialog::AcceptOpen, title, fileName, filters, filterIndex);
}

QString QtDialogs::GetSaveFileName(QWidget* parent, const QString& title, const QString& fileName,
                                   const QStringList& filters, int* filterIndex)
{
    return RunFileDialog(parent, QFileDialog::AcceptSave, title, fileName, filters, filterIndex);
}

bool QtDialogs::SaveDialogAsksBeforeReplacing() const
{
    return true;
}

int QtDialogs::Exec(QDialog& dialog)
{
    return dialog.exec();
}
