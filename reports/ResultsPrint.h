#pragma once

#include "ResultsList.h"

#include <QFont>
#include <QList>
#include <QMarginsF>
#include <QRectF>
#include <QSizeF>

class QPainter;
class QPrinter;
class QPaintDevice;

// The results list on paper, in the device units of the page's printable
// area (origin at its top left). Every page carries the event's title and the
// date at the top and "Seite n von m" at the bottom; between them the class
// blocks, each under its heading and the column titles, laid out by
// PaginateResults so that a class is only split when it is longer than a page.
struct ResultsPrintLayout
{
    QSizeF PageSize;
    QFont Font;        // the cells; places 1 to 3 in bold
    QFont HeaderFont;  // the column titles
    QFont HeadingFont; // a class's name
    QFont TitleFont;
    qreal Padding = 0; // left and right of a cell's text
    QList<qreal> ColumnLeft;
    QList<qreal> ColumnWidth;
    qreal TitleHeight = 0;        // title and date on every page
    qreal ClassHeadingHeight = 0; // a class's name above its column titles
    qreal HeaderHeight = 0;       // the column titles, one or two lines
    qreal RowHeight = 0;
    qreal GapHeight = 0; // between two classes on a page
    qreal FooterHeight = 0;
    // The text columns got less than they need at this page width: a wider
    // (landscape) page would suit the list better.
    bool Cramped = false;
    // Not even the figures fit: every column was narrowed and any text may be cut.
    bool Shrunk = false;
    ResultsPages Pages;

    int PageCount() const { return int(Pages.size()); }
    // The top of each slice of the page, in the page's order.
    QList<qreal> SliceTops(int page) const;
    QRectF FooterRect() const;
};

// 11 pt sans serif: readable on a notice board from a metre away.
QFont ResultsPrintFont();

// Lays the list out on pages of pageSize, measuring text on device: start
// number, runs, total and place as wide as their widest text (the run titles
// may wrap onto a second line), name and club share the rest.
ResultsPrintLayout LayOutResultsList(const ResultsList& list, const QSizeF& pageSize, QPaintDevice* device);

void PaintResultsPage(QPainter& painter, const ResultsList& list, const ResultsPrintLayout& layout, int page);

// Writes the list as an A4 PDF (portrait, or landscape when the columns need
// it) through a file beside fileName that replaces it only once complete.
// Called off (ReadCancel.h; looked at before every page) or failed, an older
// file stays as it was and nothing is left behind; error then holds a German
// message (unchanged when called off). May run on a worker thread.
bool SaveResultsPdf(const QString& fileName, const ResultsList& list, QString& error);

// Prints the list on the printer as it was set up (paper, margins), turned to
// landscape like the PDF when the columns need it. Called off between pages,
// what was painted so far may still be printed (Qt can't take back a job).
// May run on a worker thread.
bool PrintResultsList(QPrinter& printer, const ResultsList& list, QString& error);

// Certificates: one A4 portrait page per starter (BuildCertificates), the
// texts centred between the margins (millimetres from the paper's edges), so
// that pre-printed forms can be used with their margins and without frame.
struct CertificateOptions
{
    bool AllPlaced = false; // every placed starter instead of places 1 to 3
    QMarginsF MarginsMm{20, 25, 20, 25};
    bool Frame = true; // a thin double frame along the margins
};

void PaintCertificate(QPainter& painter, const QRectF& area, const ResultsList& list,
                      const Certificate& certificate, bool frame);

// Writes the certificates like SaveResultsPdf; false with a message when no
// starter has a place.
bool SaveCertificatesPdf(const QString& fileName, const ResultsList& list, const CertificateOptions& options,
                         QString& error);
