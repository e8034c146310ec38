#include "ResultsPrint.h"

#include "ReadCancel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPrinter>
#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>

namespace {

constexpr int kNameColumn = 1;
constexpr int kClubColumn = 2;
const QColor kHeaderBackground(0xD8, 0xD8, 0xD8);
const QColor kStripeBackground(0xF2, 0xF2, 0xF2);
const QColor kLineColour(0xA0, 0xA0, 0xA0);
const QColor kCertificateColour(0x80, 0x10, 0x10);
const QMarginsF kListMarginsMm(15, 12, 15, 12);

QFont Sized(QFont font, qreal points, bool bold)
{
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

bool IsTextColumn(int col)
{
    return col == kNameColumn || col == kClubColumn;
}

Qt::Alignment ColumnAlignment(int col)
{
    return (IsTextColumn(col) ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter;
}

// A test run's column (its times in italics, as in the protocol).
bool IsTestRunColumn(const ResultsList& list, int col)
{
    const int run = col - kResultsFixedLeading;
    return run >= 0 && run < list.RunHeaders.size() && list.RunHeaders.at(run).startsWith(u"Probe");
}

qreal WidestWord(const QFontMetricsF& metrics, const QString& text)
{
    qreal widest = 0;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts))
        widest = std::max(widest, metrics.horizontalAdvance(word));
    return widest;
}

} // namespace

QList<qreal> ResultsPrintLayout::SliceTops(int page) const
{
    QList<qreal> tops;
    qreal top = TitleHeight;
    for (const ResultsSlice& slice : Pages.at(page)) {
        if (!tops.isEmpty())
            top += GapHeight;
        tops.append(top);
        top += ClassHeadingHeight + HeaderHeight + (slice.EndRow - slice.FirstRow) * RowHeight;
    }
    return tops;
}

QRectF ResultsPrintLayout::FooterRect() const
{
    return {0, PageSize.height() - FooterHeight, PageSize.width(), FooterHeight};
}

QFont ResultsPrintFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(11);
    return font;
}

ResultsPrintLayout LayOutResultsList(const ResultsList& list, const QSizeF& pageSize, QPaintDevice* device)
{
    ResultsPrintLayout layout;
    layout.PageSize = pageSize;
    layout.Font = ResultsPrintFont();
    layout.HeaderFont = Sized(layout.Font, layout.Font.pointSizeF(), true);
    layout.HeadingFont = Sized(layout.Font, 14, true);
    layout.TitleFont = Sized(layout.Font, 18, true);

    const QStringList headers = ResultsHeaders(list);
    const int columns = int(headers.size());
    const QFontMetricsF metrics(layout.Font, device);
    const QFontMetricsF bold(layout.HeaderFont, device);
    QFont boldItalic = layout.HeaderFont;
    boldItalic.setItalic(true);
    const QFontMetricsF boldItalicMetrics(boldItalic, device);
    layout.Padding = metrics.averageCharWidth() * 0.7;

    // Widest cell texts, measured in bold (places 1 to 3) so no time is cut.
    // Times, places and clubs repeat a lot: each distinct text is measured once.
    QList<qreal> widest(columns, 0);
    QList<QHash<QString, qreal>> measured(columns);
    for (const ResultsClass& block : list.Classes) {
        for (const ResultsEntry& entry : block.Entries) {
            const QStringList cells = ResultsCells(entry);
            for (int c = 0; c < columns; ++c) {
                const QString& text = cells.at(c);
                if (text.isEmpty())
                    continue;
                const QFontMetricsF& metrics = IsTestRunColumn(list, c) ? boldItalicMetrics : bold;
                if (c == kNameColumn) {
                    widest[c] = std::max(widest[c], metrics.horizontalAdvance(text));
                    continue;
                }
                auto known = measured[c].constFind(text);
                if (known == measured[c].cend())
                    known = measured[c].insert(text, metrics.horizontalAdvance(text));
                widest[c] = std::max(widest[c], *known);
            }
        }
    }
    const qreal pageWidth = pageSize.width();
    // A run's title may wrap ("Probelauf" over "1") when name and club would
    // otherwise be squeezed; every other title fits in one line.
    int headerLines = 1;
    QList<qreal> natural(columns, 0);
    qreal fixedSum = 0;
    qreal textSum = 0;
    for (bool wrap : {false, true}) {
        fixedSum = 0;
        textSum = 0;
        for (int c = 0; c < columns; ++c) {
            const qreal title = bold.horizontalAdvance(headers.at(c));
            const bool runTitle =
                c >= kResultsFixedLeading && c < kResultsFixedLeading + list.RunHeaders.size();
            qreal width = std::max(widest[c], title);
            if (wrap && runTitle && title > widest[c]) {
                width = std::max(widest[c], WidestWord(bold, headers.at(c)));
                if (title > width)
                    headerLines = 2;
            }
            natural[c] = width + 2 * layout.Padding;
            (IsTextColumn(c) ? textSum : fixedSum) += natural[c];
        }
        layout.Cramped = pageWidth - fixedSum < std::min(textSum, pageWidth * 0.45);
        if (!layout.Cramped)
            break;
    }
    const qreal space = std::max<qreal>(0, pageWidth - fixedSum);
    QList<qreal> widths = natural;
    if (space >= textSum) {
        // The room left over goes to name and club by their needs.
        for (int c : {kNameColumn, kClubColumn})
            widths[c] = natural[c] + (space - textSum) * (textSum > 0 ? natural[c] / textSum : 0.5);
    } else {
        const int narrow = natural[kNameColumn] <= natural[kClubColumn] ? kNameColumn : kClubColumn;
        const int wide = narrow == kNameColumn ? kClubColumn : kNameColumn;
        widths[narrow] = std::min(natural[narrow], space / 2);
        widths[wide] = space - widths[narrow];
    }
    if (fixedSum > pageWidth) {
        // Not even the figures fit: every column shrinks alike.
        layout.Shrunk = true;
        qreal total = 0;
        for (qreal w : std::as_const(widths))
            total += w;
        for (qreal& w : widths)
            w *= pageWidth / total;
    }
    qreal left = 0;
    for (int c = 0; c < columns; ++c) {
        layout.ColumnLeft.append(left);
        layout.ColumnWidth.append(widths[c]);
        left += widths[c];
    }

    const QFontMetricsF headingMetrics(layout.HeadingFont, device);
    const QFontMetricsF titleMetrics(layout.TitleFont, device);
    layout.RowHeight = std::ceil(metrics.height() * 1.45);
    layout.HeaderHeight = std::ceil(bold.height() * (headerLines + 0.45));
    layout.ClassHeadingHeight = std::ceil(headingMetrics.height() * 1.5);
    layout.GapHeight = layout.RowHeight;
    layout.TitleHeight = std::ceil(titleMetrics.height() + metrics.height() * 2.6);
    layout.FooterHeight = std::ceil(metrics.height() * 2);

    QList<int> rows;
    for (const ResultsClass& block : list.Classes)
        rows.append(int(block.Entries.size()));
    layout.Pages =
        PaginateResults(rows, layout.ClassHeadingHeight + layout.HeaderHeight, layout.RowHeight,
                        layout.GapHeight, pageSize.height() - layout.TitleHeight - layout.FooterHeight);
    return layout;
}

void PaintResultsPage(QPainter& painter, const ResultsList& list, const ResultsPrintLayout& layout, int page)
{
    painter.save();
    QPaintDevice* device = painter.device();
    const qreal width = layout.PageSize.width();
    const QFontMetricsF metrics(layout.Font, device);
    const QFontMetricsF titleMetrics(layout.TitleFont, device);

    painter.setPen(Qt::black);
    painter.setFont(layout.TitleFont);
    painter.drawText(QRectF(0, 0, width, titleMetrics.height()), Qt::AlignLeft | Qt::AlignTop,
                     titleMetrics.elidedText(ResultsHeadline(list), Qt::ElideRight, width));
    painter.setFont(layout.Font);
    const QString subtitle = ResultsSubtitle(list);
    const qreal subtitleTop = titleMetrics.height() + metrics.height() * 0.2;
    painter.drawText(QRectF(0, subtitleTop, width, metrics.height()), Qt::AlignLeft | Qt::AlignTop, subtitle);
    QPen rule(Qt::black);
    rule.setWidthF(std::max<qreal>(1, metrics.height() / 12));
    painter.setPen(rule);
    const qreal ruleY = subtitleTop + metrics.height() * 1.4;
    painter.drawLine(QPointF(0, ruleY), QPointF(width, ruleY));

    const QStringList headers = ResultsHeaders(list);
    const int columns = int(headers.size());
    const QList<qreal> tops = layout.SliceTops(page);
    // The cells' four styles: plain, bold (places 1 to 3), italic (test runs, no ranking), both.
    std::array<QFont, 4> fonts;
    QList<QFontMetricsF> styleMetrics;
    for (int style = 0; style < 4; ++style) {
        fonts[style] = layout.Font;
        fonts[style].setBold(style & 1);
        fonts[style].setItalic(style & 2);
        styleMetrics.append(QFontMetricsF(fonts[style], device));
    }
    QPen line(kLineColour);
    line.setWidthF(std::max<qreal>(1, metrics.height() / 24));
    for (int s = 0; s < tops.size(); ++s) {
        const ResultsSlice& slice = layout.Pages.at(page).at(s);
        const ResultsClass& block = list.Classes.at(slice.Block);
        qreal top = tops.at(s);
        painter.setPen(Qt::black);
        painter.setFont(layout.HeadingFont);
        painter.drawText(QRectF(0, top, width, layout.ClassHeadingHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         ResultsClassHeading(block.Name, slice.Continued));
        top += layout.ClassHeadingHeight;

        painter.fillRect(QRectF(0, top, width, layout.HeaderHeight), kHeaderBackground);
        painter.setFont(layout.HeaderFont);
        for (int c = 0; c < columns; ++c) {
            const QRectF cell(layout.ColumnLeft[c] + layout.Padding, top,
                              layout.ColumnWidth[c] - 2 * layout.Padding, layout.HeaderHeight);
            painter.drawText(cell, ColumnAlignment(c) | Qt::TextWordWrap, headers.at(c));
        }
        top += layout.HeaderHeight;

        for (int row = slice.FirstRow; row < slice.EndRow; ++row) {
            const ResultsEntry& entry = block.Entries.at(row);
            const QRectF rowRect(0, top, width, layout.RowHeight);
            if ((row - slice.FirstRow) % 2 == 1)
                painter.fillRect(rowRect, kStripeBackground);
            const bool podium = entry.Place >= 1 && entry.Place <= 3;
            const QStringList cells = ResultsCells(entry);
            painter.setPen(Qt::black);
            for (int c = 0; c < columns; ++c) {
                const QString& text = cells.at(c);
                if (text.isEmpty())
                    continue;
                const int style =
                    (podium ? 1 : 0) +
                    (IsTestRunColumn(list, c) || (c == columns - 1 && entry.Place == 0) ? 2 : 0);
                painter.setFont(fonts[style]);
                const QRectF cell(layout.ColumnLeft[c] + layout.Padding, top,
                                  layout.ColumnWidth[c] - 2 * layout.Padding, layout.RowHeight);
                // Only name and club can be too long; the other columns are as wide as their widest text.
                painter.drawText(cell, ColumnAlignment(c),
                                 IsTextColumn(c) || layout.Shrunk
                                     ? styleMetrics[style].elidedText(text, Qt::ElideRight, cell.width())
                                     : text);
            }
            top += layout.RowHeight;
            painter.setPen(line);
            painter.drawLine(QPointF(0, top), QPointF(width, top));
        }
    }

    painter.setPen(Qt::black);
    painter.setFont(layout.Font);
    painter.drawText(layout.FooterRect(), Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("Seite %1 von %2").arg(page + 1).arg(layout.PageCount()));
    painter.restore();
}

namespace {

std::filesystem::path FileSystemPath(const QString& fileName)
{
    return std::filesystem::path(QDir::toNativeSeparators(fileName).toStdU16String());
}

// A name beside fileName that no file has yet, ending in ".pdf" as the printer wants.
QString UnusedNameBeside(const QString& fileName)
{
    const QFileInfo info(fileName);
    QString name;
    do {
        name = info.dir().filePath(QStringLiteral("%1~%2.pdf")
                                       .arg(info.completeBaseName())
                                       .arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0')));
    } while (QFileInfo::exists(name));
    return name;
}

enum class Painted { Done, Failed, Cancelled };

// Sets up an A4 PDF printer on a file beside fileName, lets paint fill it
// and puts the file in fileName's place only when everything was painted.
bool WritePdf(const QString& fileName, QPageLayout::Orientation orientation, bool fullPage,
              const std::function<Painted(QPrinter&, QPainter&)>& paint, const QString& what, QString& error)
{
    if (ReadCancelled())
        return false;
    const QString partial = UnusedNameBeside(fileName);
    QString reason;
    {
        // The printer doesn't say why it can't write: a file that can't be made is told here.
        QFile probe(partial);
        if (!probe.open(QIODevice::WriteOnly)) {
            error = QStringLiteral("%1 %2 konnte nicht geschrieben werden: %3")
                        .arg(what, QDir::toNativeSeparators(fileName), probe.errorString());
            return false;
        }
    }
    Painted painted = Painted::Failed;
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(partial);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageOrientation(orientation);
        printer.setFullPage(fullPage);
        if (!fullPage)
            printer.setPageMargins(kListMarginsMm, QPageLayout::Millimeter);
        printer.setCreator(QStringLiteral("Quellorix"));
        printer.setDocName(what);
        QPainter painter;
        if (painter.begin(&printer)) {
            painted = paint(printer, painter);
            if (!painter.end() && painted == Painted::Done)
                painted = Painted::Failed;
            if (printer.printerState() == QPrinter::Error && painted == Painted::Done)
                painted = Painted::Failed;
        }
    }
    if (painted == Painted::Done) {
        // An older file keeps its permissions; a new one gets the usual ones.
        if (QFileInfo::exists(fileName))
            QFile::setPermissions(partial, QFile::permissions(fileName));
        std::error_code failure;
        std::filesystem::rename(FileSystemPath(partial), FileSystemPath(fileName), failure);
        if (!failure)
            return true;
        reason = QString::fromStdString(failure.message());
    }
    QFile::remove(partial);
    if (painted == Painted::Cancelled)
        return false;
    error = QStringLiteral("%1 %2 konnte nicht geschrieben werden%3")
                .arg(what, QDir::toNativeSeparators(fileName),
                     reason.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + reason);
    return false;
}

// The biggest size up to points at which text fits into width.
QFont Fitting(QFont font, qreal points, const QString& text, qreal width, QPaintDevice* device)
{
    font.setPointSizeF(points);
    const qreal advance = QFontMetricsF(font, device).horizontalAdvance(text);
    if (advance > width && advance > 0)
        font.setPointSizeF(std::max<qreal>(6, points * width / advance * 0.98));
    return font;
}

} // namespace

bool SaveResultsPdf(const QString& fileName, const ResultsList& list, QString& error)
{
    // Portrait unless name and club would be squeezed: then the page is turned.
    // The layout is made on a printer like the one that writes the file: same
    // resolution, paper and margins, so the same measures.
    QPrinter probe(QPrinter::HighResolution);
    probe.setOutputFormat(QPrinter::PdfFormat);
    probe.setPageSize(QPageSize(QPageSize::A4));
    probe.setPageMargins(kListMarginsMm, QPageLayout::Millimeter);
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    ResultsPrintLayout layout =
        LayOutResultsList(list, probe.pageLayout().paintRectPixels(probe.resolution()).size(), &probe);
    if (layout.Cramped) {
        orientation = QPageLayout::Landscape;
        probe.setPageOrientation(orientation);
        layout =
            LayOutResultsList(list, probe.pageLayout().paintRectPixels(probe.resolution()).size(), &probe);
    }
    if (ReadCancelled())
        return false;
    const auto paint = [&list, &layout](QPrinter& printer, QPainter& painter) {
        for (int p = 0; p < layout.PageCount(); ++p) {
            if (ReadCancelled())
                return Painted::Cancelled;
            if (p > 0 && !printer.newPage())
                return Painted::Failed;
            PaintResultsPage(painter, list, layout, p);
        }
        return Painted::Done;
    };
    return WritePdf(fileName, orientation, false, paint, QStringLiteral("Die Ergebnisliste"), error);
}

bool PrintResultsList(QPrinter& printer, const ResultsList& list, QString& error)
{
    // The printer's own paper and margins; turned when name and club would be squeezed.
    ResultsPrintLayout layout =
        LayOutResultsList(list, printer.pageLayout().paintRectPixels(printer.resolution()).size(), &printer);
    if (layout.Cramped && printer.pageLayout().orientation() == QPageLayout::Portrait) {
        printer.setPageOrientation(QPageLayout::Landscape);
        layout = LayOutResultsList(list, printer.pageLayout().paintRectPixels(printer.resolution()).size(),
                                   &printer);
    }
    if (ReadCancelled())
        return false;
    QPainter painter;
    if (!painter.begin(&printer)) {
        error =
            QStringLiteral("Die Ergebnisliste konnte nicht gedruckt werden: der Drucker nimmt nichts an.");
        return false;
    }
    for (int p = 0; p < layout.PageCount(); ++p) {
        if (ReadCancelled() || (p > 0 && !printer.newPage()))
            break;
        PaintResultsPage(painter, list, layout, p);
    }
    painter.end();
    return !ReadCancelled();
}

void PaintCertificate(QPainter& painter, const QRectF& area, const ResultsList& list,
                      const Certificate& certificate, bool frame)
{
    painter.save();
    QPaintDevice* device = painter.device();
    QFont base(QStringLiteral("Georgia"));
    base.setStyleHint(QFont::Serif);
    const qreal unit = QFontMetricsF(Sized(base, 12, false), device).height();
    if (frame) {
        QPen outer(kCertificateColour);
        outer.setWidthF(unit / 6);
        painter.setPen(outer);
        painter.drawRect(area);
        QPen inner(kCertificateColour);
        inner.setWidthF(unit / 16);
        painter.setPen(inner);
        painter.drawRect(area.adjusted(unit / 2, unit / 2, -unit / 2, -unit / 2));
    }
    const qreal textWidth = area.width() * 0.86;

    struct Line
    {
        QString Text;
        qreal Points;
        bool Bold;
        QColor Colour;
        qreal SpaceBefore; // in lines of 12 pt
    };
    const QString date = ResultsDateText(list.Date);
    QList<Line> lines{{QStringLiteral("Urkunde"), 48, true, kCertificateColour, 0}};
    if (!list.Title.isEmpty())
        lines.append({list.Title, 20, true, Qt::black, 1.5});
    if (!date.isEmpty())
        lines.append({date, 14, false, Qt::black, 0.3});
    lines.append({certificate.Name, 32, true, Qt::black, 4});
    if (!certificate.Verein.isEmpty())
        lines.append({certificate.Verein, 16, false, Qt::black, 0.5});
    lines.append({certificate.Klasse.isEmpty()
                      ? QStringLiteral("erreichte den")
                      : QStringLiteral("erreichte in der Klasse %1 den").arg(certificate.Klasse),
                  16, false, Qt::black, 3});
    lines.append({certificate.Place, 48, true, kCertificateColour, 0.6});
    if (!certificate.Gesamt.isEmpty())
        lines.append(
            {QStringLiteral("mit der Gesamtzeit %1 s").arg(certificate.Gesamt), 16, false, Qt::black, 0.8});

    QList<QFont> fonts;
    qreal height = 0;
    qreal gaps = 0;
    for (const Line& line : std::as_const(lines)) {
        fonts.append(Fitting(Sized(base, line.Points, line.Bold), line.Points, line.Text, textWidth, device));
        gaps += line.SpaceBefore * unit;
        height += line.SpaceBefore * unit + QFontMetricsF(fonts.last(), device).height();
    }
    // The gaps grow until the texts take about three quarters of the height.
    const qreal target = area.height() * 0.75;
    const qreal stretch = height < target && gaps > 0 ? (gaps + target - height) / gaps : 1;
    height += gaps * (stretch - 1);
    qreal top = area.top() + std::max<qreal>(0, (area.height() - height) / 2);
    for (int i = 0; i < lines.size(); ++i) {
        top += lines[i].SpaceBefore * unit * stretch;
        const qreal lineHeight = QFontMetricsF(fonts[i], device).height();
        painter.setPen(lines[i].Colour);
        painter.setFont(fonts[i]);
        painter.drawText(QRectF(area.left(), top, area.width(), lineHeight),
                         Qt::AlignHCenter | Qt::AlignVCenter, lines[i].Text);
        top += lineHeight;
    }
    painter.restore();
}

bool SaveCertificatesPdf(const QString& fileName, const ResultsList& list, const CertificateOptions& options,
                         QString& error)
{
    const QList<Certificate> certificates = BuildCertificates(list, options.AllPlaced);
    if (certificates.isEmpty()) {
        error = QStringLiteral("Es gibt noch keine Platzierten, für die Urkunden gedruckt werden könnten.");
        return false;
    }
    const auto paint = [&](QPrinter& printer, QPainter& painter) {
        const qreal dotsPerMm = printer.resolution() / 25.4;
        const QRectF paper = printer.pageLayout().fullRectPixels(printer.resolution());
        const QMarginsF& m = options.MarginsMm;
        const QRectF area = paper.adjusted(m.left() * dotsPerMm, m.top() * dotsPerMm, -m.right() * dotsPerMm,
                                           -m.bottom() * dotsPerMm);
        for (int p = 0; p < certificates.size(); ++p) {
            if (ReadCancelled())
                return Painted::Cancelled;
            if (p > 0 && !printer.newPage())
                return Painted::Failed;
            PaintCertificate(painter, area, list, certificates.at(p), options.Frame);
        }
        return Painted::Done;
    };
    return WritePdf(fileName, QPageLayout::Portrait, true, paint, QStringLiteral("Die Urkunden"), error);
}
