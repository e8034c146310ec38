#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The yes/no confirmation. "Ja" is the default button, so Enter answers yes;
// "Nein" is the cancel button, so Esc and the close box answer no.
class TFDlgYesNo : public QDialog
{
    Q_OBJECT

public:
    explicit TFDlgYesNo(QWidget* parent = nullptr);

    // Sets the question and puts the dialog in front of its owner with "Ja"
    // focused; the dialogs seam then shows it modally (IDialogs::Exec).
    void Prepare(const QString& question);

    QLabel* Label1 = nullptr;
    QLabel* Icon = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
};
