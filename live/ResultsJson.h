#pragma once

#include "AudienceView.h"

#include <QByteArray>

// One line of compact JSON (no line breaks, so it fits one Server-Sent Events
// data line): {"veranstaltung","datum","probelaeufe","spalten","zeilen","bahnen":[{"bahn",
// "zustand":"bereit"|"läuft"|"gestoppt","zeit","starter","klasse","unbestaetigt","platz","abstand",
// "nachLaeufen"}], "unbestaetigt": the indexes of rows with a time not yet confirmed,
// "plaetze" and "nachLaeufen": by row, the place the spectators see and, while the class's round
// is under way, the runs it is after (0 otherwise)}.
QByteArray ResultsJson(const LiveSnapshot& snapshot);
