#pragma once

#include "AudienceView.h"

#include <QByteArray>

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
