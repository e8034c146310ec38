#pragma once

#include <QList>
#include <QString>
#include <QStringList>
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
};

struct LiveSnapshot
{
    QString title;               // the event ("Veranstaltung"); may be empty
    QString date;                // as the protocol shows it
    QStringList columns;         // the protocol's 13 column captions
    QList<QStringList> rows;     // the protocol's data rows, 13 cell texts each, as they stand
    int testRuns = 0;            // the first run columns that are test runs and don't count
    QList<bool> unconfirmedRows; // per row: one of its times waits for the operator's confirmation
    int laneCount = 2;
    LiveLane lanes[2];
};

// What the spectators see of the race now, from the session alone (the live
// page, the uploads and the scoreboard show it): the protocol's rows as they
// stand and which of them hold a doubtful time, and each lane's starter with
// its running time, or once stopped its time, place and gap to the class's
// winner. now: the tick running times are taken at.
LiveSnapshot SpectatorView(const TRaceSession& session, const QString& title, const QString& date,
                           std::uint32_t now);
