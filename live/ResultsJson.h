#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

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

// One line of compact JSON (no line breaks, so it fits one Server-Sent Events
// data line): {"veranstaltung","datum","probelaeufe","spalten","zeilen","bahnen":[{"bahn",
// "zustand":"bereit"|"läuft"|"gestoppt","zeit","starter","klasse","unbestaetigt"}],
// "unbestaetigt": the indexes of rows with a time not yet confirmed}.
QByteArray ResultsJson(const LiveSnapshot& snapshot);
