#pragma once

#include "AudienceView.h"

#include <QByteArray>
#include <QList>

// One line of compact JSON (no line breaks, so it fits one Server-Sent Events
// data line): {"veranstaltung","datum","probelaeufe","spalten","zeilen","bahnen":[{"bahn",
// "zustand":"bereit"|"läuft"|"gestoppt","zeit","starter","klasse","unbestaetigt","platz","abstand",
// "nachLaeufen"}], "unbestaetigt": the indexes of rows with a time not yet confirmed,
// "plaetze", "nachLaeufen" and "gesamt": by row, the place the spectators see, while the class's
// round is under way the runs it is after (0 otherwise), and the total it stands on}.
// A running lane carries "laeuftMs", its time when the snapshot was taken; a
// phone counts on from there by its own clock, no clocks need to agree.
QByteArray ResultsJson(const LiveSnapshot& snapshot);

// The results as they leave the server: with "alterMs", how long ago they
// were published, where a lane is running (the phone adds it to "laeuftMs").
QByteArray ResultsJsonAged(const QByteArray& json, qint64 ageMs);

// The results for a data block inside the page's HTML: the same JSON with
// "<", ">", "&" and the line separators U+2028/U+2029 written as \u escapes, so
// that no name ("</script>", "<!--") can end the block or change how it is read.
QByteArray ResultsJsonForHtml(const QByteArray& json);

// The results with "version": the number of the change they stand at, counted
// up by the server, so that a phone knows which changes it has.
QByteArray ResultsJsonVersioned(const QByteArray& json, qint64 version);

// Where the protocol is large, a change goes to the phones as the rows that
// changed since the last whole results (the "basis", by its version), with
// every lane: {"version","basis","anzahl": the row count,"geaendert":[[row index,
// cells,place,after runs,total,unconfirmed 0|1],...],"bahnen"}. A phone that
// holds the basis or any later version applies it; one that doesn't asks for
// the whole results. Rows touched since the basis stay in every later part,
// so that a phone that missed a part loses nothing.
class TResultsChanges
{
public:
    // Smaller protocols go whole each time; so does a change that touches
    // more than a share of the rows (then it is the new basis).
    explicit TResultsChanges(int minRows = 200) : minRows(minRows) {}

    // The part for snapshot as change version, or empty when the whole
    // results should go (they are then the basis of the next parts).
    QByteArray Next(const LiveSnapshot& snapshot, qint64 version);
    // The next change goes whole.
    void Forget() { haveBasis = false; }

private:
    const int minRows;
    bool haveBasis = false;
    qint64 basis = 0;
    LiveSnapshot previous;
    QList<bool> touched;
    int touchedCount = 0;
};
