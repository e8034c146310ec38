#pragma once

#include <QList>
#include <QPointer>
#include <QStatusBar>

// A status bar whose messages have one place: left of the permanent widgets,
// in place of the panels, which step aside while a message shows (also one
// shown before the window first appears). A message longer than its place is
// cut with "…" and its whole text is the bar's tooltip.
class TStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit TStatusBar(QWidget* parent = nullptr);

    // A panel at the left, shown while no message is, and only while wanted.
    void AddPanel(QWidget* panel, int stretch = 0);
    void SetPanelWanted(QWidget* panel, bool wanted);
    bool PanelWanted(const QWidget* panel) const;

    // The message as drawn: whole, or cut to its place.
    QString ShownMessage() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Panel
    {
        QPointer<QWidget> widget;
        bool wanted = true;
    };

    QRect MessagePlace() const;
    void ShowPanels();
    void FitMessage();

    QList<Panel> m_panels;
};
