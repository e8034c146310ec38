#pragma once

#include <QLabel>

// A label that reports a left click, for captions that act like the control beside them.
class TClickLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
