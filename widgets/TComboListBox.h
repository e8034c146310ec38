#pragma once

#include <QKeyEvent>
#include <QListWidget>
#include <exception>
#include <functional>

// The drop-down list of combo-box cells. It hands its selected item over when
// the mouse is released in it, when Enter or Space is released, and when it
// loses the focus.
class TComboListBox : public QListWidget
{
public:
    using QListWidget::QListWidget;

    std::function<void()> OnTake;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QListWidget::mouseReleaseEvent(event);
        Take();
    }
    void keyReleaseEvent(QKeyEvent* event) override
    {
        QListWidget::keyReleaseEvent(event);
        const int key = event->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
            Take();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QListWidget::focusOutEvent(event);
        Take();
    }

private:
    // Runs inside Qt's event dispatch, which no exception may pass.
    void Take()
    {
        try {
            if (OnTake)
                OnTake();
        } catch (const std::exception&) {
            hide();
        }
    }
};
