#pragma once

#include "AudienceView.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>

class QLabel;
class QTimer;
class TDigit;

// "Quellorix – Anzeigetafel": the results for a screen or projector facing
// the audience. While a run is timed and until the next start it shows the
// lanes (time in large seven-segment digits, starter, class and, after the
// stop, place, gap and counted runs); between runs the standings of each
// class, page by page. A window of its own that never takes the focus from
// the operator's window; a double click switches full screen on and off.
// Its sizes follow its height, so that it can be read from far away: time
// digits a quarter of the height, names a twelfth at least.
class TFormScoreboard : public QWidget
{
    Q_OBJECT

public:
    static constexpr int pageSeconds = 8;

    explicit TFormScoreboard(QWidget* parent = nullptr);

    void SetTitle(const QString& title);
    // The live page's address and its QR code (a null image hides both).
    void SetAddress(const QString& url, const QImage& qrCode);
    void ShowLanes(const std::array<ScoreboardLane, 2>& lanes, int laneCount);
    void ShowStandings(const QList<ScoreboardClass>& classes);
    // Only the time of a lane (1 or 2) on show, as it runs.
    void SetLaneTime(int lane, const QString& time);

    bool ShowingStandings() const { return standingsShown; }
    int StandingsPage() const { return page; }
    int StandingsPages() const { return int(pages.size()); }
    // The lines of the standings page on show (for the window's users and tests).
    QStringList StandingsLines() const;
    // The lines a standings page holds at the current size.
    int LinesPerPage() const;
    void NextPage();
    // Font pixel sizes and the digits' height, as laid out for the current size.
    int NameFontPixels() const;
    int DigitHeight() const;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct LanePanel
    {
        QWidget* panel = nullptr;
        QLabel* caption = nullptr; // "Bahn 1", with the class
        QLabel* starter = nullptr;
        QLabel* club = nullptr;
        std::array<TDigit*, 5> digits{};
        QLabel* comma = nullptr;
        QLabel* result = nullptr;
    };

    void BuildLane(LanePanel& lane);
    void LayOut();
    void Paginate();
    void ShowPage();
    static void ShowTime(LanePanel& lane, const QString& time);

    QLabel* title = nullptr;
    QLabel* address = nullptr;
    QLabel* qr = nullptr;
    QImage qrImage;
    QWidget* lanesView = nullptr;
    std::array<LanePanel, 2> lanes;
    int laneCount = 2;
    QWidget* standingsView = nullptr;
    QLabel* standingsText = nullptr;
    QTimer* pageTimer = nullptr;
    QList<ScoreboardClass> standings;
    QList<QStringList> pages;
    int page = 0;
    bool standingsShown = false;
};
