#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The "Information" dialog: program name and version, the maker and a short
// notice. "Einverstanden" and Esc close it.
class TFormInfo : public QDialog
{
    Q_OBJECT

public:
    explicit TFormInfo(QWidget* parent = nullptr);

    // Shows the dialog modally, centred on its owner.
    void ShowModal();

    QLabel* Image1 = nullptr;
    QLabel* lbl_Name = nullptr;
    QLabel* lbl_Version = nullptr;
    QLabel* lbl_Maker = nullptr;
    QLabel* lbl_Web = nullptr;
    QPlainTextEdit* NoticeText = nullptr;
    QPushButton* cmd_OK = nullptr;

    static const QString& NoticeTextContent();
};
