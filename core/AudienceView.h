#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>
#include <cstdint>

class TRaceSession;

// What the spectators see of the race at one moment.
struct LiveLane
{
    enum class State { Idle, Running, Stopped };
    State state = State::Idle;
    QString time;    // as the lane's display shows it ("12,34", "EL"); empty while idle
    QString starter; // start number and names of the lane's starter; empty if none
    QString className;
    bool unconfirmed = false; // the time waits for the operator's confirmation
    QString place;            // once stopped and ranked: the starter's place in the class
    QString gap;              // and how far behind the class's winner ("+1,23"; empty for the winner)
    int afterRuns = 0;        // while the class's round is under way: the runs the place is after
    qint64 elapsedMs = -1;    // while running: the time at the snapshot's tick
};

// A row's place as the spectators see it. While a class's round is under way
// (its placed starters have not all run equally often) a starter is compared
// only with those of his class who have as many counted runs: "Platz 1 nach
// 2 Läufen" rather than behind everyone who has run once. Otherwise the
// protocol's place and the gap to the class's winner, as they stand.
struct AudiencePlace
{
    QString place;     // empty: no place (no time yet, "EL", not ranked)
    QString gap;       // "+1,23"; empty for the first
    int runs = 0;      // the counted runs
    int afterRuns = 0; // the runs the place is after while the round is under way; 0 otherwise
    // The total the place stands on: while the round is under way as the run
    // cells give it (a time just taken counts before the pair's ranking),
    // otherwise the protocol's.
    QString total;
};

struct LiveSnapshot
{
    QString title;               // the event ("Veranstaltung"); may be empty
    QString date;                // as the protocol shows it
    QStringList columns;         // the protocol's 13 column captions
    QList<QStringList> rows;     // the protocol's data rows, 13 cell texts each, as they stand
    int testRuns = 0;            // the first run columns that are test runs and don't count
    QList<bool> unconfirmedRows; // per row: one of its times waits for the operator's confirmation
    QList<AudiencePlace> places; // per row: its place as the spectators see it
    int laneCount = 2;
    LiveLane lanes[2];
};

// What the spectators see of the race now, from the session alone (the live
// page, the uploads and the scoreboard show it): the protocol's rows as they
// stand and which of them hold a doubtful time, and each lane's starter with
// its running time, or once stopped its time, place and gap to the class's
// winner. now: the tick running times are taken at.
LiveSnapshot AudienceView(const TRaceSession& session, const QString& title, const QString& date,
                          std::uint32_t now);

// The places of protocol rows (cells by column, as ranked) for the spectators;
// testRuns and allRuns bound the columns that count.
QList<AudiencePlace> AudiencePlaces(const QList<QStringList>& rows, int testRuns, int allRuns);
// "Platz 3", "Platz 1 nach 2 Läufen", "Platz 2 nach 1 Lauf".
QString AudiencePlaceText(const QString& place, int afterRuns);

// One lane as the audience sees it.
struct ScoreboardLane
{
    enum class Phase { Empty, Ready, Running, Stopped };
    Phase phase = Phase::Empty;
    QString time;    // "12,34", "EL"; as the operator's display shows it
    QString starter; // start number and name
    QString className;
    // After the stop: the place in the class, the gap to the class leader
    // ("+0,35", empty for the leader) and the runs that count.
    QString place;
    QString gap;
    int countedRuns = 0;
    bool unconfirmed = false; // the time waits for the operator's confirmation
    QString club;             // on a line of its own below the name
    int afterRuns = 0;        // the place is among those with as many runs (the round is under way)
};

// One class of the standings: place, start number and name, total.
struct ScoreboardClass
{
    QString className;
    QList<std::array<QString, 3>> rows;
};

// The scoreboard's lanes: the spectators' view of them (view, from
// AudienceView) with name and club on lines of their own and, once stopped,
// the runs that count.
std::array<ScoreboardLane, 2> ScoreboardLanesOf(const TRaceSession& session, const LiveSnapshot& view);
// The scoreboard's standings: each class however it is written (its heading
// the first spelling met), its placed starters by place; a class whose round
// is under way in parts by counted runs, the most first ("Jugend – nach 2 Läufen").
QList<ScoreboardClass> ScoreboardStandingsOf(const LiveSnapshot& view);
