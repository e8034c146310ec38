#pragma once

#include <QProgressDialog>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>

// Clicks the button of a window's progress dialog as soon as the dialog shows,
// as an operator calling a long load or save off would, and records what the
// dialog said. It polls on a timer, which runs while the work waits in its own
// event loop, as the window's clock does.
class ProgressCanceller
{
public:
    explicit ProgressCanceller(QWidget* window)
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this, window] {
            ++ticks;
            for (QProgressDialog* dialog : window->findChildren<QProgressDialog*>()) {
                if (!dialog->isVisible() || cancelled)
                    continue;
                cancelled = true;
                label = dialog->labelText();
                const auto buttons = dialog->findChildren<QPushButton*>();
                for (QPushButton* button : buttons)
                    buttonTexts.append(button->text());
                if (buttons.size() == 1)
                    buttons.first()->click();
            }
        });
        m_poll.start(20);
    }

    bool cancelled = false;  // the dialog showed and its only button was clicked
    QString label;           // the dialog's text
    QStringList buttonTexts; // the dialog's buttons
    int ticks = 0;           // timer turns while the work ran

private:
    QTimer m_poll;
};
