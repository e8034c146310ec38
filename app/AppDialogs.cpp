#include "AppDialogs.h"

#include "TFDlgYesNo.h"

AppDialogs::AppDialogs(QWidget* owner) : m_yesNo(std::make_unique<TFDlgYesNo>(owner)) {}

AppDialogs::~AppDialogs() = default;

bool AppDialogs::AskYesNo(QWidget*, const QString& question)
{
    m_yesNo->Prepare(question);
    return Exec(*m_yesNo) == QDialog::Accepted;
}
