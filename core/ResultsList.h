#pragma once

#include "ProtocolText.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

// The results for the notice board and the award ceremony, taken from the
// protocol as it stands: one block per class, in the order the classes first
// appear in the protocol, each with its starters by place. The writers
// (reports/ResultsPrint.h, ResultsPage.h, ResultsDocument.h) only lay this out.

// One starter of a class block.
struct ResultsEntry
{
    QString Nr;
    QString Name;
    QString Vorname;
    QString Verein;
    QStringList Runs; // one per shown run column (ResultsList::RunColumns)
    QString Gesamt;
    int Place = 0; // 0: without ranking (no total, "EL", no place yet)

    // "Vorname Name", either part may be missing.
    QString FullName() const;
};

struct ResultsClass
{
    QString Name; // as in the protocol, trimmed
    QList<ResultsEntry> Entries;
};

struct ResultsList
{
    QString Title; // the event ("Veranstaltung")
    QDate Date;
    // The protocol's run columns (0 to 5) that hold an entry in any row, and
    // their headings: "Probelauf n" for test runs, "Lauf n" for counted runs.
    QList<int> RunColumns;
    QStringList RunHeaders;
    QList<ResultsClass> Classes;

    int StarterCount() const;
};

// The table columns of every class block: "Nr.", "Name", "Verein", the shown
// runs, "Gesamt", "Platz".
inline constexpr int kResultsFixedLeading = 3;
QStringList ResultsHeaders(const ResultsList& list);
// A starter's cells under those headings; the place as "1." or, without
// ranking, kWithoutRanking.
QStringList ResultsCells(const ResultsEntry& entry);
inline const QString kWithoutRanking = QStringLiteral("ohne Wertung");
// The date as printed: "06.07.2024" (empty for an invalid date).
QString ResultsDateText(const QDate& date);
// The top line of every page: the event's title, or "Ergebnisliste" without one;
// and the line below it: "Ergebnisliste – 06.07.2024" (only the date when the
// top line already says "Ergebnisliste").
QString ResultsHeadline(const ResultsList& list);
QString ResultsSubtitle(const ResultsList& list);
// The heading of a class block; continued on another page: "A (Fortsetzung)".
QString ResultsClassHeading(const QString& className, bool continued);

// Builds the list from a protocol table whose row 0 is the header (as
// TResultsModel::Table() gives it). Rows without start number, name and
// first name are skipped. Starters are ordered by the protocol's place
// (ties keep their protocol order and share the place); starters without a
// place follow in protocol order. A class with no name heads "ohne Klasse".
// probeLaufe is clamped to 0..6.
ResultsList BuildResultsList(const ProtocolTable& table, int probeLaufe, const QString& title,
                             const QDate& date);

// A class block's share of one page: its rows [FirstRow, EndRow), headed by
// the class heading (with "(Fortsetzung)" when Continued).
struct ResultsSlice
{
    int Block = 0;
    int FirstRow = 0;
    int EndRow = 0;
    bool Continued = false;
    bool operator==(const ResultsSlice&) const = default;
};
using ResultsPages = QList<QList<ResultsSlice>>;

// Puts blocks of rowsPerBlock rows onto pages with pageSpace room each; a
// block takes headingHeight (its heading and the column titles) plus
// rowHeight per row, and gapHeight before it unless it opens a page. A block
// that fits on a page is never split: it goes to the next page when the rest
// of this one is too short. A longer block starts on a fresh page and goes on
// over as many pages as it needs, its heading repeated on each. At least one
// page, even without blocks; a block without rows takes its heading only.
ResultsPages PaginateResults(const QList<int>& rowsPerBlock, double headingHeight, double rowHeight,
                             double gapHeight, double pageSpace);

// One certificate: a starter placed in a class.
struct Certificate
{
    QString Name; // "Vorname Name"
    QString Verein;
    QString Klasse;
    QString Place; // "1. Platz"
    QString Gesamt;
};

// The certificates for places 1 to 3 of every class, or for every placed
// starter (allPlaced), in the list's order.
QList<Certificate> BuildCertificates(const ResultsList& list, bool allPlaced);
