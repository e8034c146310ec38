#pragma once

#include "CellAlignment.h"
#include "ColorValue.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <utility>

// The results protocol's column layout and the rules behind totals, places,
// time recording, the lane displays and the starter advance, as plain functions
// so that the main window only moves texts between them and its controls.

constexpr int ColNr = 0;
constexpr int ColName = 1;
constexpr int ColVorname = 2;
constexpr int ColVerein = 3;
constexpr int ColKlasse = 4;
constexpr int ColLauf1 = 5;
constexpr int ColLauf2 = 6;
constexpr int ColLauf3 = 7;
constexpr int ColLauf4 = 8;
constexpr int ColLauf5 = 9;
constexpr int ColLauf6 = 10;
constexpr int ColGesamt = 11;
constexpr int ColPlatz = 12;
constexpr int ColLoadOrder = 13;
constexpr int ProtocolColumnCount = 14;
constexpr int RunColumnCount = ColLauf6 - ColLauf1 + 1;

// Row 0 of the protocol: "Nr.", "Name", ..., "Gesamt", "Platz", "¹".
QStringList ProtocolHeaders();
// A protocol row of exactly ProtocolColumnCount cells: cut or filled with empty ones.
QStringList ProtocolRowCells(const QStringList& cells);

inline bool IsLane(int lane)
{
    return lane == 1 || lane == 2;
}

// The total column's text for one row (cells indexed by column; missing cells
// count as empty). The counted columns are Lauf(probeLaufe + 1) to Lauf(allLaufe),
// clamped to the six run columns. The first non-numeric counted entry ends the
// sum and makes the total "EL"; no counted time (or a sum <= 0) leaves it empty.
QString ComputeTotal(const QStringList& rowCells, int probeLaufe, int allLaufe);

// What decides that two rows are in the same class, for the ranking's sort and
// for its places alike: the name without blanks around it and with the letters
// A-Z lowered, so "Jugend", "jugend" and "Jugend " are one class.
QString ClassKey(const QString& className);
// The same decision for two names without building their keys: for loops over
// every row of a long list.
bool SameClass(QStringView a, QStringView b);

// The classes written in more than one way that count as one (by ClassKey),
// each as its spellings in order of first appearance ("Jugend", "jugend").
QList<QStringList> ClassSpellingVariants(const QStringList& classNames);

// Place texts for rows already sorted by class, then total: competition places
// within each class (1, 2, 2, 4), ties on identical total texts, nothing for rows
// whose total is empty or "EL". Classes are compared by ClassKey.
QStringList ComputePlaces(const QList<std::pair<QString, QString>>& classAndTotalInRowOrder);

// How far a total lies behind its class's winner (the row placed "1" in rows of
// protocol cells), as "+1,23"; empty for the winner, a tie with it, or where
// either total is not a time.
QString GapToClassLeader(const QList<QStringList>& rows, const QString& className, const QString& total);

// The start number at the front of a lane list entry ("12 Muster Max Verein"):
// the text before the first blank as an integer; none when there is no blank or
// that text is not an integer. The row is then looked up by the number written
// in decimal, so a protocol row numbered "012" never matches.
std::optional<int> StartNumberOfEntry(const QString& laneEntry);

// The first run column (ColLauf1..ColLauf6) whose text is exactly empty, or -1.
// Blanks, "EL" and any other text count as filled; cells beyond the end of
// rowCells count as empty.
int FirstEmptyRunColumn(const QStringList& rowCells);

// A run as the results list and every message name it: "Probelauf n" for a
// test run, "Lauf n" for a counted one, counted from 1 (run: 0 for "Lauf1").
QString RunName(int run, int probeLaufe);

// Where the lanes start on a protocol that already holds times (a file opened
// again): the current run is the first run column some starter still lacks;
// lane 1 goes to the first starter in list order without a time there, lane 2
// (with two lanes) to the next one, or none when nobody else lacks it. A list
// where every run is full, or an empty one, starts at the top as a new list
// does (-1: no starter).
std::array<int, 2> LanePositionsForNextRun(const QList<QStringList>& rowsInListOrder, int laneCount);

constexpr TColor LaneDigitOnColor = RGBColor(255, 255, 0);
constexpr TColor LaneDigitDimColor = RGBColor(64, 64, 64);

// Values and "on" colours of a lane's five digits (sss,hh). Leading second
// digits are dimmed, not hidden. From 1000 s on the five digits show whole
// seconds (up to 99999), so a forgotten stop still shows its true time.
struct LaneDigits
{
    std::array<int, 5> values{};
    std::array<TColor, 5> onColors{};
    bool wholeSeconds = false; // no comma and no hundredths
};

// Negative times (a tick difference beyond the signed range) show as 0.
LaneDigits LaneDisplay(int ms);

// The list position a lane's starter list moves to at reset. Lane 1 steps by the
// lane count and wraps to 0; lane 2 steps by 2 and wraps to 1, so two lanes run
// through the list in pairs. No selection counts as position -1 (two-lane lane 1
// then goes to 1). A position that doesn't exist (lane 2 of a one-entry list, an
// empty list) gives -1, no selection; any other lane number leaves it unchanged.
int NextLanePosition(int lane, int position, int laneCount, int entryCount);

constexpr TColor ProtocolFixedBackground = RGBColor(255, 255, 255);
constexpr TColor ProtocolTestRunBackground = RGBColor(255, 255, 224);
constexpr TColor ProtocolCountedRunBackground = RGBColor(224, 255, 224);
constexpr TColor ProtocolResultBackground = RGBColor(255, 224, 224);

// Background of a data cell that is not in the current row; clWindow for a
// column outside the protocol.
TColor ProtocolCellBackground(int col, int probeLaufe);

// Right for the start number, runs, total and place; centred for the class;
// left for everything else.
TAlignment ProtocolCellAlignment(int col);
