#include "TStatusBar.h"

#include <QPaintEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QStyleOption>

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent)
{
    connect(this, &QStatusBar::messageChanged, this, [this] {
        ShowPanels();
        FitMessage();
    });
}

void TStatusBar::AddPanel(QWidget* panel, int stretch)
{
    m_panels.append({panel, true});
    addWidget(panel, stretch);
    ShowPanels();
}

void TStatusBar::SetPanelWanted(QWidget* panel, bool wanted)
{
    for (Panel& entry : m_panels) {
        if (entry.widget == panel)
            entry.wanted = wanted;
    }
    ShowPanels();
}

bool TStatusBar::PanelWanted(const QWidget* panel) const
{
    for (const Panel& entry : m_panels) {
        if (entry.widget == panel)
            return entry.wanted;
    }
    return false;
}

// QStatusBar hides its panels for a message only if they are visible at that
// moment: a message given while the window was still hidden would be drawn
// over them once it shows. Here the panels follow the message whenever it changes.
void TStatusBar::ShowPanels()
{
    const bool message = !currentMessage().isEmpty();
    for (const Panel& entry : m_panels) {
        if (entry.widget)
            entry.widget->setVisible(entry.wanted && !message);
    }
}

QRect TStatusBar::MessagePlace() const
{
    int right = width() - 12;
    for (const QObject* child : children()) {
        const auto* widget = qobject_cast<const QWidget*>(child);
        if (!widget || widget->isWindow() || !widget->isVisible() || qobject_cast<const QSizeGrip*>(widget))
            continue;
        right = std::min(right, widget->x() - 2);
    }
    return {6, 0, std::max(0, right - 6), height()};
}

QString TStatusBar::ShownMessage() const
{
    return fontMetrics().elidedText(currentMessage(), Qt::ElideRight, MessagePlace().width());
}

void TStatusBar::FitMessage()
{
    const QString message = currentMessage();
    setToolTip(!message.isEmpty() && ShownMessage() != message ? message : QString());
    update();
}

bool TStatusBar::event(QEvent* event)
{
    const bool handled = QStatusBar::event(event);
    // A permanent widget came or went: the message's place changed.
    if (event->type() == QEvent::LayoutRequest)
        FitMessage();
    return handled;
}

void TStatusBar::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &option, &painter, this);
    for (const QObject* child : children()) {
        const auto* widget = qobject_cast<const QWidget*>(child);
        if (!widget || widget->isWindow() || !widget->isVisible() || qobject_cast<const QSizeGrip*>(widget))
            continue;
        const QRect frame = widget->geometry().adjusted(-2, -1, 2, 1);
        if (!event->rect().intersects(frame))
            continue;
        QStyleOption item;
        item.rect = frame;
        item.palette = palette();
        item.state = QStyle::State_None;
        style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &item, &painter, widget);
    }
    if (!currentMessage().isEmpty()) {
        painter.setPen(palette().windowText().color());
        painter.drawText(MessagePlace(), Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                         ShownMessage());
    }
}

void TStatusBar::resizeEvent(QResizeEvent* event)
{
    QStatusBar::resizeEvent(event);
    FitMessage();
}

void TStatusBar::showEvent(QShowEvent* event)
{
    QStatusBar::showEvent(event);
    ShowPanels();
    FitMessage();
}
