#pragma once

#include "AudienceView.h"

#include <QByteArray>

// One line of compact JSON (no line breaks, so it fits one Server-Sent Events
// data line): {"veranstaltung","datum","probelaeufe","spalten","zeilen","bahnen":[{"bahn",
// "zustand":"bereit"|"läuft"|"gestoppt","zeit","starter","klasse","unbestaetigt"}],
// "unbestaetigt": the indexes of rows with a time not yet confirmed}.
QByteArray ResultsJson(const LiveSnapshot& snapshot);
