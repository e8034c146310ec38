#pragma once

#include "Dialogs.h"

#include <memory>

class TFDlgYesNo;

// The program's dialogs: the Qt ones, with the confirmation asked through the
// program's own yes/no dialog (one instance, kept for the program's life).
class AppDialogs : public QtDialogs
{
public:
    explicit AppDialogs(QWidget* owner);
    ~AppDialogs() override;

    bool AskYesNo(QWidget* parent, const QString& question) override;

private:
    std::unique_ptr<TFDlgYesNo> m_yesNo;
};
