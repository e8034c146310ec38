#include "ProtocolPrint.h"

#include "ReadCancel.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>

namespace {

constexpr std::array<int, 3> kTextColumns = {1, 2, 3};
constexpr qreal kSmallestPointSize = 4.0;
constexpr int kTimeColumnCount = 7; // "Lauf1" to "Lauf6" and "Gesamt"
const QColor kHeaderBackground(0xB0, 0xA7, 0x86);
const QColor kLineColour(0xA0, 0xA0, 0xA0);

bool IsTextColumn(int col)
{
    return std::find(kTextColumns.begin(), kTextColumns.end(), col) != kTextColumns.end();
}

Qt::Alignment ColumnAlignment(int col)
{
    if (col == 0 || col >= kReportFirstRunColumn)
        return Qt::AlignRight | Qt::AlignVCenter;
    if (col == 4)
        return Qt::AlignHCenter | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

QFont Styled(QFont font, bool bold, bool italic)
{
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QFont CellFont(const QFont& font, int col, int probeLaufe)
{
    return Styled(font, false, IsTestRunColumn(col, probeLaufe));
}

// The widest text of every column (header included), without padding.
std::array<qreal, kReportColumnCount> WidestTexts(const ProtocolReport& report, const QFont& font,
                                                  QPaintDevice* device)
{
    std::array<qreal, kReportColumnCount> widest{};
    const QFontMetricsF header(Styled(font, true, false), device);
    for (int c = 0; c < kReportColumnCount; ++c) {
        const QFontMetricsF cells(CellFont(font, c, report.ProbeLaufe), device);
        qreal width = header.horizontalAdvance(ReportHeaders().at(c));
        // Run columns hold few distinct texts; measuring each once is much cheaper.
        QString last;
        for (const QStringList& row : report.Rows) {
            const QString text = row.value(c);
            if (text.isEmpty() || text == last)
                continue;
            last = text;
            width = std::max(width, cells.horizontalAdvance(text));
        }
        widest[c] = width;
    }
    // The six runs and the total side by side in columns of one width.
    const auto runs = widest.begin() + kReportFirstRunColumn;
    std::fill(runs, runs + kTimeColumnCount, *std::max_element(runs, runs + kTimeColumnCount));
    return widest;
}

// Shares space among the text columns: a column whose natural width fits in an
// equal share keeps it, the others split what remains.
void ShareTextColumns(std::array<qreal, kReportColumnCount>& widths,
                      const std::array<qreal, kReportColumnCount>& natural, qreal space)
{
    std::array<int, 3> order = kTextColumns;
    std::sort(order.begin(), order.end(), [&](int a, int b) { return natural[a] < natural[b]; });
    qreal naturalSum = 0;
    for (int c : order)
        naturalSum += natural[c];
    if (space >= naturalSum) {
        // Wider than needed: the extra goes to the text columns by their natural width.
        for (int c : order)
            widths[c] = natural[c] + (space - naturalSum) * natural[c] / naturalSum;
        return;
    }
    int left = int(order.size());
    for (int c : order) {
        const qreal share = space / left;
        widths[c] = std::min(natural[c], share);
        space -= widths[c];
        --left;
    }
}

} // namespace

int PrintLayout::PageRowEnd(int page) const
{
    return page + 1 < PageCount() ? PageFirstRow.at(page + 1) : RowCount;
}

qreal PrintLayout::TableTop(int page) const
{
    return page == 0 ? TitleHeight : 0;
}

QRectF PrintLayout::CellRect(int page, int row, int col) const
{
    const qreal top = TableTop(page);
    if (row < 0)
        return {ColumnLeft[col], top, ColumnWidth[col], HeaderHeight};
    const int onPage = row - PageFirstRow.at(page);
    return {ColumnLeft[col], top + HeaderHeight + onPage * RowHeight, ColumnWidth[col], RowHeight};
}

QRectF PrintLayout::FooterRect() const
{
    return {0, PageSize.height() - FooterHeight, PageSize.width(), FooterHeight};
}

QFont ProtocolPrintFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9);
    return font;
}

PrintLayout LayOutProtocolPrint(const ProtocolReport& report, const QSizeF& pageSize, const QFont& font,
                                QPaintDevice* device)
{
    PrintLayout layout;
    layout.PageSize = pageSize;
    layout.RowCount = int(report.Rows.size());
    layout.Font = font;
    const qreal pageWidth = pageSize.width();

    std::array<qreal, kReportColumnCount> natural{};
    qreal fixedSum = 0;
    qreal needed = 0;
    for (int attempt = 0; attempt < 6; ++attempt) {
        const QFontMetricsF metrics(layout.Font, device);
        layout.Padding = metrics.averageCharWidth() * 0.6;
        natural = WidestTexts(report, layout.Font, device);
        fixedSum = 0;
        needed = 0;
        const qreal shortest = metrics.horizontalAdvance(QStringLiteral("MMMM"));
        for (int c = 0; c < kReportColumnCount; ++c) {
            natural[c] += 2 * layout.Padding;
            if (IsTextColumn(c)) {
                needed += std::min(natural[c], shortest + 2 * layout.Padding);
            } else {
                fixedSum += natural[c];
                needed += natural[c];
            }
        }
        const qreal pointSize = layout.Font.pointSizeF();
        if (needed <= pageWidth || pointSize <= kSmallestPointSize)
            break;
        layout.Font.setPointSizeF(std::max(kSmallestPointSize, pointSize * pageWidth / needed * 0.98));
    }

    std::array<qreal, kReportColumnCount> widths = natural;
    if (needed <= pageWidth) {
        ShareTextColumns(widths, natural, pageWidth - fixedSum);
    } else {
        // Even the smallest font doesn't fit: every column shrinks alike.
        const qreal total = std::accumulate(natural.begin(), natural.end(), qreal(0));
        for (qreal& width : widths)
            width *= pageWidth / total;
    }
    qreal left = 0;
    for (int c = 0; c < kReportColumnCount; ++c) {
        layout.ColumnLeft[c] = left;
        layout.ColumnWidth[c] = widths[c];
        left += widths[c];
    }

    const QFontMetricsF metrics(layout.Font, device);
    layout.TitleFont = Styled(layout.Font, true, false);
    layout.TitleFont.setPointSizeF(layout.Font.pointSizeF() * 1.8);
    const QFontMetricsF titleMetrics(layout.TitleFont, device);
    layout.RowHeight = std::ceil(metrics.height() * 1.4);
    layout.HeaderHeight = layout.RowHeight;
    layout.TitleHeight = titleMetrics.height() + metrics.height() * 2.5;
    layout.FooterHeight = metrics.height() * 2;

    const qreal pageHeight = pageSize.height();
    const qreal tableSpace = pageHeight - layout.HeaderHeight - layout.FooterHeight;
    const int firstPageRows = std::max(1, int((tableSpace - layout.TitleHeight) / layout.RowHeight));
    const int pageRows = std::max(1, int(tableSpace / layout.RowHeight));
    layout.PageFirstRow.append(0);
    for (int row = firstPageRows; row < layout.RowCount; row += pageRows)
        layout.PageFirstRow.append(row);
    return layout;
}

void PaintProtocolPage(QPainter& painter, const ProtocolReport& report, const PrintLayout& layout, int page,
                       const QDate& date)
{
    painter.save();
    const QFontMetricsF metrics(layout.Font, painter.device());
    const qreal width = layout.PageSize.width();
    if (page == 0) {
        painter.setPen(Qt::black);
        painter.setFont(layout.TitleFont);
        const qreal titleHeight = QFontMetricsF(layout.TitleFont, painter.device()).height();
        painter.drawText(QRectF(0, 0, width, titleHeight), Qt::AlignLeft | Qt::AlignTop,
                         report.Title + QStringLiteral(" Zeitenprotokoll"));
        painter.setFont(layout.Font);
        painter.drawText(QRectF(0, titleHeight, width, metrics.height() * 1.5),
                         Qt::AlignLeft | Qt::AlignVCenter, date.toString(QStringLiteral("dd.MM.yyyy")));
    }

    const qreal top = layout.TableTop(page);
    const int first = layout.PageFirstRow.at(page);
    const int end = layout.PageRowEnd(page);
    const qreal bottom = top + layout.HeaderHeight + (end - first) * layout.RowHeight;
    painter.fillRect(QRectF(0, top, width, layout.HeaderHeight), kHeaderBackground);

    painter.setPen(Qt::black);
    const QFont headerFont = Styled(layout.Font, true, false);
    painter.setFont(headerFont);
    const QFontMetricsF headerMetrics(headerFont, painter.device());
    for (int c = 0; c < kReportColumnCount; ++c) {
        const QRectF cell = layout.CellRect(page, -1, c).adjusted(layout.Padding, 0, -layout.Padding, 0);
        painter.drawText(cell, ColumnAlignment(c),
                         headerMetrics.elidedText(ReportHeaders().at(c), Qt::ElideRight, cell.width()));
    }
    for (int c = 0; c < kReportColumnCount; ++c) {
        const QFont font = CellFont(layout.Font, c, report.ProbeLaufe);
        painter.setFont(font);
        const QFontMetricsF cellMetrics(font, painter.device());
        for (int row = first; row < end; ++row) {
            const QString text = report.Rows.at(row).value(c);
            if (text.isEmpty())
                continue;
            const QRectF cell = layout.CellRect(page, row, c).adjusted(layout.Padding, 0, -layout.Padding, 0);
            painter.drawText(cell, ColumnAlignment(c),
                             cellMetrics.elidedText(text, Qt::ElideRight, cell.width()));
        }
    }

    QPen pen(kLineColour);
    pen.setWidthF(std::max<qreal>(1, metrics.height() / 20));
    painter.setPen(pen);
    for (int line = 0; line <= end - first + 1; ++line) {
        const qreal y = line == 0 ? top : top + layout.HeaderHeight + (line - 1) * layout.RowHeight;
        painter.drawLine(QPointF(0, y), QPointF(width, y));
    }
    for (int c = 0; c <= kReportColumnCount; ++c) {
        const qreal x = c < kReportColumnCount ? layout.ColumnLeft[c] : width;
        painter.drawLine(QPointF(x, top), QPointF(x, bottom));
    }

    painter.setPen(Qt::black);
    painter.setFont(layout.Font);
    painter.drawText(layout.FooterRect(), Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("Seite %1 von %2").arg(page + 1).arg(layout.PageCount()));
    painter.restore();
}

namespace {

// Paints the pages onto the printer as it is set up; false if it failed or was called off.
bool PaintPages(QPrinter& printer, const ProtocolReport& report, const QDate& date)
{
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    const PrintLayout layout = LayOutProtocolPrint(report, area.size(), ProtocolPrintFont(), &printer);
    int from = 0;
    int to = layout.PageCount() - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        from = std::min(printer.fromPage() - 1, to);
        to = std::clamp(printer.toPage() - 1, from, to);
    }
    // Laying out a long protocol takes a while; called off meanwhile, no job is started at all.
    if (ReadCancelled())
        return false;
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    for (int page = from; page <= to; ++page) {
        if (ReadCancelled()) {
            // Only some engines can drop a started job (not Qt's PDF and CUPS
            // ones, whose abort() does nothing): a file is then thrown away by
            // the caller, a printer gets the pages painted so far.
            printer.abort();
            painter.end();
            return false;
        }
        if (page > from && !printer.newPage()) {
            painter.end();
            return false;
        }
        PaintProtocolPage(painter, report, layout, page, date);
    }
    return painter.end() && printer.printerState() != QPrinter::Error;
}

std::filesystem::path FileSystemPath(const QString& fileName)
{
    return std::filesystem::path(QDir::toNativeSeparators(fileName).toStdU16String());
}

// A name beside fileName that no file has yet, with the same ending (the
// printer takes a ".pdf" ending for PDF output).
QString UnusedNameBeside(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    QString name;
    do {
        name = info.dir().filePath(QStringLiteral("%1~%2%3")
                                       .arg(info.completeBaseName())
                                       .arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0'))
                                       .arg(suffix));
    } while (QFileInfo::exists(name));
    return name;
}

} // namespace

bool PrintProtocol(QPrinter& printer, const ProtocolReport& report, const QDate& date)
{
    const QString target = printer.outputFileName();
    if (target.isEmpty())
        return PaintPages(printer, report, date);

    // A file is written under another name beside it and takes the target's
    // place only once complete, so a failed or called-off print leaves an older
    // file as it was and no half file behind.
    const QString partial = UnusedNameBeside(target);
    const QPrinter::OutputFormat format = printer.outputFormat();
    printer.setOutputFileName(partial);
    printer.setOutputFormat(format);
    bool printed = PaintPages(printer, report, date);
    printer.setOutputFileName(target);
    printer.setOutputFormat(format);
    if (printed) {
        // An older file keeps its permissions; a new one gets the usual ones.
        if (QFileInfo::exists(target))
            QFile::setPermissions(partial, QFile::permissions(target));
        std::error_code failure;
        std::filesystem::rename(FileSystemPath(partial), FileSystemPath(target), failure);
        printed = !failure;
    }
    if (!printed)
        QFile::remove(partial);
    return printed;
}
