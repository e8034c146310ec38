#pragma once

#include "ProtocolReport.h"

#include <QFont>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <array>

class QDate;
class QPainter;
class QPaintDevice;
class QPrinter;

// Where everything of the printed protocol goes, in the device units of the
// page's printable area (origin at its top left). The first page carries the
// title and the date above the table; every page repeats the header row and
// ends with its page number.
struct PrintLayout
{
    QSizeF PageSize;
    QFont Font; // the cells; the header row in bold, test runs in italics
    QFont TitleFont;
    qreal Padding = 0; // left and right of a cell's text
    std::array<qreal, kReportColumnCount> ColumnLeft{};
    std::array<qreal, kReportColumnCount> ColumnWidth{};
    qreal TitleHeight = 0; // title and date block on the first page
    qreal HeaderHeight = 0;
    qreal RowHeight = 0;
    qreal FooterHeight = 0;
    int RowCount = 0;
    QList<int> PageFirstRow; // one entry per page, at least one page

    int PageCount() const { return int(PageFirstRow.size()); }
    // One past the last data row printed on the page.
    int PageRowEnd(int page) const;
    // Top of the header row on the page.
    qreal TableTop(int page) const;
    // The header cell (row -1) or a data row's cell on its page.
    QRectF CellRect(int page, int row, int col) const;
    // The page number line at the bottom of the page.
    QRectF FooterRect() const;
};

// The font the protocol is printed in, before any shrinking to fit the page.
QFont ProtocolPrintFont();

// Lays the report out on pages of pageSize, measuring text on device. All
// thirteen columns share the page width: the start number, class and place
// columns get the width of their widest text, the runs and the total one common
// width (the widest of them), the name and club columns the rest (long texts
// are cut there, with an ellipsis). When even the narrow columns don't fit, the
// font shrinks, so no time is ever cut.
PrintLayout LayOutProtocolPrint(const ProtocolReport& report, const QSizeF& pageSize, const QFont& font,
                                QPaintDevice* device);

// Paints one page of the layout.
void PaintProtocolPage(QPainter& painter, const ProtocolReport& report, const PrintLayout& layout, int page,
                       const QDate& date);

// Prints the report on the printer as it is set up (paper, orientation, page
// range). False if the printer could not be started or failed on the way, or
// when called off (ReadCancel.h; looked at before the job starts and before
// every page). Output to a file goes to a file beside it first, which replaces
// the target only when complete: otherwise an older file stays as it was and
// nothing else is left behind. May run on a worker thread while no other
// thread touches the printer.
bool PrintProtocol(QPrinter& printer, const ProtocolReport& report, const QDate& date);
