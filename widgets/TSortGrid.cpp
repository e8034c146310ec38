#include "TSortGrid.h"

#include "CellFormulaGuard.h"
#include "Dialogs.h"
#include "FileReplace.h"
#include "GridUpdateScope.h"
#include "SortGridOrder.h"
#include "TextCodec.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QIODevice>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool NeedsQuoting(const QString& field)
{
    for (QChar c : field) {
        if (c == u';' || c == u'"' || c == u'\r' || c == u'\n')
            return true;
    }
    return false;
}

QString CsvField(QString field)
{
    // A line with a TAB reads as a TAB line whatever its quotes, so a TAB
    // inside a cell is written as a blank, as in the text format.
    field = GuardedCellText(field);
    field.replace(u'\t', u' ');
    if (!NeedsQuoting(field))
        return field;
    QString quoted = field;
    quoted.replace(u'"', QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

TSortGrid::TSortGrid(QWidget* parent) : TMyStringGrid(parent)
{
    SetFixedCols(0);
    m_glyphUp = QPixmap(QStringLiteral(":/images/UP.xpm"));
    m_glyphDown = QPixmap(QStringLiteral(":/images/DOWN.xpm"));
    m_selectedRows = {QString::number(Row())};
    m_selectionOrder = {QString::number(Row())};
    CreateComboList();
}

TSortGrid::~TSortGrid()
{
    delete m_comboList;
}

void TSortGrid::SetHideRows(bool hide)
{
    if (m_hideRows == hide)
        return;
    m_hideRows = hide;
    if (RowCount() > 1)
        MoveCurrent(Col(), 1, true);
    InvalidateGrid();
}

void TSortGrid::SetMultiSelect(bool on)
{
    if (m_multiSelect == on)
        return;
    m_multiSelect = on;
    if (on)
        SetOptions(Options() | goRowSelect);
    InvalidateGrid();
}

void TSortGrid::SetAlignmentHorz(TAlignment alignment)
{
    if (m_alignmentHorz == alignment)
        return;
    m_alignmentHorz = alignment;
    InvalidateGrid();
}

void TSortGrid::SetAlignmentVert(TVertAlignment alignment)
{
    if (m_alignmentVert == alignment)
        return;
    m_alignmentVert = alignment;
    InvalidateGrid();
}

void TSortGrid::SetBevelStyle(TCellBevelStyle style)
{
    if (m_bevelStyle == style)
        return;
    m_bevelStyle = style;
    InvalidateGrid();
}

void TSortGrid::SetProportionalScrollBars(bool on)
{
    if (m_proportionalScrollBars == on)
        return;
    m_proportionalScrollBars = on;
    UpdateScrollBars();
}

void TSortGrid::SetExtendedKeys(bool on)
{
    m_extendedKeys = on;
}

void TSortGrid::SetModified(bool modified)
{
    // OnModified fires for every "modified", also when the flag was already set.
    m_modified = modified;
    if (modified)
        emit OnModified();
}

// ---------------------------------------------------------------- sorting

void TSortGrid::SortByColumn(int col)
{
    if (!SortOptions.CanSort)
        return;
    SortOptions.SortCol = col;
    m_sorting = true;
    TUpdateScope update(*this);
    try {
        RunSort(col);
    } catch (...) {
        m_sorting = false;
        SortOptions.CustomCompare = nullptr;
        update.Close();
        throw;
    }
    m_sorting = false;
    SortOptions.CustomCompare = nullptr;
    emit OnAfterSort(col);
    update.Close();
}

void TSortGrid::RunSort(int& col)
{
    if (OnBeginSort)
        OnBeginSort(col);

    QSet<int> selected;
    for (const QString& row : std::as_const(m_selectedRows)) {
        bool ok = false;
        const int number = row.toInt(&ok);
        if (ok)
            selected.insert(number);
    }

    const std::vector<int> keys = SortKeyColumns(col, SortOptions.SecondaryIndex, ColCount());

    // order[p] is the data row (0-based) whose cells go to place p. The grid
    // is not written before the last pass, so the passes read their keys from it.
    const int dataRows = std::max(0, RowCount() - 1);
    const size_t count = static_cast<size_t>(dataRows);
    std::vector<int> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = int(i);

    TSortStyle answer = ssAutomatic;
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        const int column = *key;
        std::vector<QString> texts(count);
        for (size_t i = 0; i < count; ++i)
            texts[i] = Cells(column, order[i] + 1);

        if (OnGetSortStyle) {
            OnGetSortStyle(column, answer);
            SortOptions.SortStyle = answer;
        } else if (SortOptions.SortStyle == ssAutomatic) {
            SortOptions.SortStyle = DetectSortStyle(column);
        }

        TSortKeyPass pass;
        pass.Style = SortOptions.SortStyle;
        pass.CaseSensitive = SortOptions.SortCaseSensitive;
        pass.Descending = SortOptions.SortDirection == sdDescending;
        pass.Custom = &SortOptions.CustomCompare;
        const std::vector<int> positions = SortedPositions(std::move(texts), pass);

        std::vector<int> next(count);
        for (size_t p = 0; p < count; ++p)
            next[p] = order[size_t(positions[p])];
        order.swap(next);
    }

    PermuteRows(1, order);

    // Selected rows follow their data: the selection is looked up by the rows
    // the data came from before the sort, whatever the secondary passes did.
    int current = -1;
    QStringList newSelection;
    for (size_t p = 0; p < count; ++p) {
        if (selected.contains(order[p] + 1)) {
            if (current < 0)
                current = int(p) + 1;
            newSelection.append(QString::number(p + 1));
        }
    }
    if (current > 0) {
        MoveCurrent(Col(), current, true);
        m_selectedRows = newSelection;
        m_selectionOrder = newSelection;
    }
}

TSortStyle TSortGrid::DetectSortStyle(int col)
{
    QStringList texts;
    texts.reserve(std::max(0, RowCount() - 1));
    for (int row = 1; row < RowCount(); ++row)
        texts.append(Cells(col, row));
    return DetectSortStyleOf(texts);
}

// ---------------------------------------------------------------- operations

void TSortGrid::ClearGrid()
{
    {
        TUpdateScope update(*this);
        // Rows the filter keeps out of view go too.
        for (int row = 1; row < std::max(RowCount(), 2) + m_filteredCount; ++row)
            Rows(row).Clear();
        m_filteredCount = 0;
        m_filtered = false;
        m_modified = false;
        SetRowCount(2);
        MoveCurrent(Col(), 1, true);
        ResetSelectionTo(1);
        AutoSizeColumns(true);
    }
    emit OnRowSelected();
}

bool TSortGrid::WriteCSV(QIODevice& device)
{
    QString text;
    for (int row = 0; row < RowCount(); ++row) {
        for (int col = 0; col < ColCount(); ++col) {
            if (col > 0)
                text += u';';
            text += CsvField(Cells(col, row));
        }
        text += QLatin1String("\r\n");
    }
    const QByteArray bytes = EncodeFileText(text);
    return device.write(bytes) == bytes.size();
}

bool TSortGrid::SaveToCSV(const QString& fileName)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString reason;
    const bool written = WriteCSV(buffer) && ReplaceFileContents(fileName, buffer.data(), reason);
    if (!written)
        Dialogs().ShowMessage(this, QStringLiteral("Can't write to file:") + u'\r' + fileName);
    return written;
}

void TSortGrid::GotoCell(int col, int row, bool scroll)
{
    if (RowCount() < 2 || ColCount() < 1)
        return;
    col = std::clamp(col, 0, ColCount() - 1);
    row = std::clamp(row, 1, RowCount() - 1);
    if (!MoveCurrent(col, row, true))
        return;
    ResetSelectionTo(row);
    InvalidateGrid();
    if (scroll)
        ScrollToCell(col, row);
}

void TSortGrid::ScrollToCell(int col, int row)
{
    if (RowCount() < 2 || ColCount() < 1)
        return;
    col = std::clamp(col, 0, ColCount() - 1);
    row = std::clamp(row, 1, RowCount() - 1);

    if (col >= FixedCols() && col < LeftCol()) {
        SetLeftCol(col);
    } else {
        // Each step must move the view, so a column that never fits cannot loop.
        while (col > LeftCol() + VisibleColCount() - 1) {
            const int before = LeftCol();
            SetLeftCol(before + 1);
            if (LeftCol() == before)
                break;
        }
    }

    const int lastTop = std::max(1, RowCount() - VisibleRowCount());
    SetTopRow(std::clamp(row - 1, 1, lastTop));
}

void TSortGrid::AutoSizeColumn(int col, bool force)
{
    if (ColWidths(col) == -1 && !force)
        return;
    int headerWidth = 0;
    int widest = 0;
    for (int row = 0; row < RowCount(); ++row) {
        bool checkBox = false;
        bool comboBox = false;
        bool ellipsis = false;
        const TFormatOptions format = CellFormat(col, row, nullptr, checkBox, comboBox, ellipsis);
        const int width = QFontMetrics(format.Font).horizontalAdvance(Cells(col, row));
        if (row == 0)
            headerWidth = width + (col == SortOptions.SortCol && SortOptions.CanSort ? 12 : 0);
        else
            widest = std::max(widest, width);
    }
    const QFontMetrics metrics(font());
    const int wanted = std::max(headerWidth, widest);
    SetColWidths(col, wanted <= 0 ? metrics.horizontalAdvance(QStringLiteral("xx"))
                                  : metrics.horizontalAdvance(QStringLiteral("X")) + wanted);
}

void TSortGrid::AutoSizeColumns(bool force)
{
    TUpdateScope update(*this);
    for (int col = 0; col < ColCount(); ++col)
        AutoSizeColumn(col, force);
}

void TSortGrid::InsertRow(int row)
{
    // The new row must be an empty one, not the first row the filter keeps.
    if (m_filteredCount > 0)
        MoveRow(StoredRowCount(), RowCount());
    SetRowCount(RowCount() + 1);
    if (row < RowCount() - 2)
        MoveRow(RowCount() - 1, row);
    else
        row = std::min(row + 1, RowCount() - 1);
    row = std::max(row, 1);
    Rows(row).Clear();
    MoveCurrent(Col(), row, true);
    ResetSelectionTo(row);
    emit OnRowInsert(row);
}

void TSortGrid::InsertColumn(int col)
{
    SetColCount(ColCount() + 1);
    col = std::clamp(col, 0, ColCount() - 1);
    MoveColumn(ColCount() - 1, col);
    Cols(col).Clear();
    MoveCurrent(col, Row(), true);
    emit OnColumnInsert(col);
}

void TSortGrid::DeleteRow(int row)
{
    SetModified(true);
    if (RowCount() < 3) {
        // The last data row is emptied, never removed: the grid keeps one.
        Rows(1).Clear();
        InvalidateRow(1);
    } else {
        const TGridOptions options = Options();
        SetOptions(options & ~TGridOptions(goAlwaysShowEditor));
        TMyStringGrid::DeleteRow(row);
        SetOptions(options);
    }
    emit OnRowDelete(row);
}

void TSortGrid::DeleteColumn(int col)
{
    Cols(col).Clear();
    const TGridOptions options = Options();
    SetOptions(options & ~TGridOptions(goAlwaysShowEditor));
    TMyStringGrid::DeleteColumn(col);
    SetOptions(options);
    emit OnColumnDelete(col);
}

void TSortGrid::MoveRow(int fromIndex, int toIndex)
{
    const TGridOptions options = Options();
    SetOptions(options & ~TGridOptions(goAlwaysShowEditor));
    TMyStringGrid::MoveRow(fromIndex, toIndex);
    SetOptions(options);
}

void TSortGrid::MoveColumn(int fromIndex, int toIndex)
{
    const TGridOptions options = Options();
    SetOptions(options & ~TGridOptions(goAlwaysShowEditor));
    TMyStringGrid::MoveColumn(fromIndex, toIndex);
    SetOptions(options);
}

void TSortGrid::ExchangeRows(int a, int b)
{
    if (a < b) {
        MoveRow(b, a);
        MoveRow(a + 1, b);
    } else if (a > b) {
        MoveRow(a, b);
        MoveRow(b + 1, a);
    }
}

void TSortGrid::BeginUpdate()
{
    // Brackets do not nest; a second BeginUpdate must not overwrite the saved flag.
    if (NowUpdating())
        return;
    m_savedUpdateOnSizeChange = SortOptions.UpdateOnSizeChange;
    SortOptions.UpdateOnSizeChange = false;
    TMyStringGrid::BeginUpdate();
}

void TSortGrid::EndUpdate()
{
    const bool wasUpdating = NowUpdating();
    TMyStringGrid::EndUpdate();
    if (wasUpdating)
        SortOptions.UpdateOnSizeChange = m_savedUpdateOnSizeChange;
    emit OnEndUpdate();
}

// ---------------------------------------------------------------- cell format

TFormatOptions TSortGrid::GetCellFormat(int col, int row)
{
    bool checkBox = false;
    bool comboBox = false;
    bool ellipsis = false;
    return CellFormat(col, row, nullptr, checkBox, comboBox, ellipsis);
}

TFormatOptions TSortGrid::CellFormat(int col, int row, const TCellCanvas* canvas, bool& checkBox,
                                     bool& comboBox, bool& ellipsis)
{
    const TGridRect selection = Selection();
    const bool fixed = col < FixedCols() || row < FixedRows();
    const bool inSelection = !fixed && col >= selection.Left && col <= selection.Right &&
                             row >= selection.Top && row <= selection.Bottom;

    TFormatOptions format;
    if (canvas) {
        format.BrushColor = canvas->BrushColor;
        format.Font = canvas->Font;
        format.FontColor = canvas->FontColor;
    } else {
        // Outside painting: the colours painting would prepare for the cell.
        const bool focused = hasFocus() && col == Col() && row == Row();
        const bool selected = inSelection && (!focused || (Options() & (goDrawFocusSelected | goRowSelect)));
        format.BrushColor = fixed ? FixedColor() : (selected ? clHighlight : Color());
        format.Font = font();
        format.FontColor = selected ? clHighlightText : clWindowText;
    }
    format.AlignmentHorz = m_alignmentHorz;
    format.AlignmentVert = m_alignmentVert;
    format.BevelStyle = m_bevelStyle;
    format.HighlightColor =
        m_bevelStyle == cbRaised ? clBtnHighlight : (m_bevelStyle == cbLowered ? clBtnShadow : clWindow);
    format.ShadowColor =
        m_bevelStyle == cbRaised ? clBtnShadow : (m_bevelStyle == cbLowered ? clBtnHighlight : clWindow);
    format.HideText = false;
    checkBox = false;
    comboBox = false;
    ellipsis = false;

    if (OnGetCellFormat) {
        TGridDrawState state;
        if (inSelection)
            state |= gdSelected;
        if (hasFocus() && col == Col() && row == Row())
            state |= gdFocused;
        if (fixed)
            state |= gdFixed;
        OnGetCellFormat(col, row, state, format, checkBox, comboBox, ellipsis);
    }
    return format;
}

// ---------------------------------------------------------------- drawing

QString TSortGrid::ShortenedHeaderText(const QString& text, int room, const QFontMetrics& metrics) const
{
    if (text.size() < 2 || metrics.horizontalAdvance(text) <= room)
        return text;
    QString shortened = text;
    shortened[shortened.size() - 2] = u'.';
    shortened[shortened.size() - 1] = u'.';
    while (metrics.horizontalAdvance(shortened) > room && shortened.size() > 3) {
        shortened.chop(1);
        shortened[shortened.size() - 2] = u'.';
    }
    return shortened;
}

QPoint TSortGrid::TextPosition(const QRect& rect, QSize textSize, TAlignment horz, TVertAlignment vert)
{
    // In 64 bits, then held to the coordinate range: a cell far out or a text
    // wider than the range must not wrap around to the other side.
    qint64 x = 2;
    if (horz == taRightJustify)
        x = qint64(rect.width()) - textSize.width() - 2;
    else if (horz == taCenter)
        x = (qint64(rect.width()) - textSize.width()) / 2;
    qint64 y = 2;
    if (vert == taBottomJustify)
        y = qint64(rect.height()) - textSize.height() - 3;
    else if (vert == taMiddle)
        y = (qint64(rect.height()) - textSize.height()) / 2;
    auto coordinate = [](qint64 value) {
        return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    };
    return {coordinate(rect.left() + x), coordinate(rect.top() + y)};
}

QString TSortGrid::ElidedCellText(const QString& text, int room, const QFontMetrics& metrics)
{
    // No character is narrower than a pixel here, so anything beyond that
    // many is never shown; measuring it all could overflow the text metrics.
    const qsizetype shown = std::max(room, 0) + 1;
    const QString measured = text.size() > shown ? text.left(shown) : text;
    if (measured.size() == text.size() && metrics.horizontalAdvance(text) <= room)
        return text;
    return metrics.elidedText(measured + QChar(0x2026), Qt::ElideRight, std::max(room, 0));
}

QRect TSortGrid::ArrowRect(const QRect& cellRect, int headerHeight)
{
    const int width = cellRect.width() <= 10 ? cellRect.width() - 3 : 8;
    return {cellRect.left() + 3, cellRect.top() + headerHeight / 2 - 4, std::max(0, width), 7};
}

TSortGrid::TBevelLines TSortGrid::BevelLines(const QRect& rect, TGridOptions options)
{
    TBevelLines lines;
    if (options & goFixedVertLine) {
        lines.Shadow.append(QLine(rect.right(), rect.top(), rect.right(), rect.bottom()));
        lines.Highlight.append(QLine(rect.left(), rect.top(), rect.left(), rect.bottom()));
    }
    if (options & goFixedHorzLine) {
        lines.Shadow.append(QLine(rect.left(), rect.bottom(), rect.right(), rect.bottom()));
        lines.Highlight.append(QLine(rect.left(), rect.top(), rect.right(), rect.top()));
    }
    return lines;
}

void TSortGrid::DrawCell(TCellCanvas& canvas, int col, int row, const QRect& rect, TGridDrawState state)
{
    QPainter& painter = canvas.Painter;
    const QPalette& colours = palette();

    if (row > 0 && (NowUpdating() || m_hideRows)) {
        // Blank to the right end of the control, over the grid lines too.
        painter.fillRect(rect.adjusted(0, 0, viewport()->width() + 1, 1),
                         ToQColor(canvas.BrushColor, colours));
        return;
    }

    bool checkBox = false;
    bool comboBox = false;
    bool ellipsis = false;
    TFormatOptions format = CellFormat(col, row, &canvas, checkBox, comboBox, ellipsis);
    if (checkBox)
        format.HideText = true;

    const TGridRect selection = Selection();
    if ((Options() & goRangeSelect) && row >= selection.Top && row <= selection.Bottom) {
        format.FontColor = clHighlightText;
        format.BrushColor = clHighlight;
    } else if (m_multiSelect && m_selectedRows.contains(QString::number(row)) && !(Options() & goEditing)) {
        format.FontColor = clHighlightText;
        format.BrushColor = clHighlight;
    }
    canvas.BrushColor = format.BrushColor;
    canvas.Font = format.Font;
    canvas.FontColor = format.FontColor;

    painter.save();
    painter.setFont(format.Font);
    const QFontMetrics metrics = painter.fontMetrics();
    const bool sortArrow = col == SortOptions.SortCol && SortOptions.CanSort;
    QString text = Cells(col, row);
    if (row == 0)
        text = ShortenedHeaderText(text, ColWidths(col) - (sortArrow ? 12 : 1), metrics);
    else
        text = ElidedCellText(text, rect.width() - 4, metrics);
    QPoint position = TextPosition(rect, QSize(metrics.horizontalAdvance(text), metrics.height()),
                                   format.AlignmentHorz, format.AlignmentVert);
    if (sortArrow && row == 0)
        position.rx() += 10;

    painter.fillRect(rect, ToQColor(format.BrushColor, colours));
    if (!format.HideText) {
        painter.setClipRect(rect, Qt::IntersectClip);
        painter.setPen(ToQColor(format.FontColor, colours));
        painter.drawText(position.x(), position.y() + metrics.ascent(), text);
        painter.setClipping(false);
    }

    DrawSpecialCell(painter, col, row, rect, checkBox, comboBox, ellipsis);

    if (sortArrow && row == 0) {
        const QPixmap& glyph = SortOptions.SortDirection == sdAscending ? m_glyphUp : m_glyphDown;
        const QRect target = ArrowRect(rect, RowHeights(0));
        if (!glyph.isNull() && target.width() > 0)
            painter.drawPixmap(target.topLeft(), glyph, QRect(0, 0, target.width(), target.height()));
    }

    if (format.BevelStyle != cbNone && col >= 0 && row >= 1) {
        const TBevelLines lines = BevelLines(rect, Options());
        painter.setPen(ToQColor(format.ShadowColor, colours));
        painter.drawLines(lines.Shadow);
        painter.setPen(ToQColor(format.HighlightColor, colours));
        painter.drawLines(lines.Highlight);
    }
    painter.restore();

    if (OnDrawCell)
        OnDrawCell(col, row, rect, state);
}

// ---------------------------------------------------------------- hooks

bool TSortGrid::SelectCell(int col, int row)
{
    const bool accepted =
        EditorMode() ? SelectCellWhileEditing(col, row) : TMyStringGrid::SelectCell(col, row);
    if (accepted && m_trackSelection) {
        ResetSelectionTo(row);
        // Row() still holds the previous row here.
        emit OnRowSelected();
    }
    InvalidateRow(Row());
    InvalidateRow(row);
    return accepted;
}

void TSortGrid::SetEditText(int col, int row, const QString& value)
{
    bool refused = false;
    const QString text = ValidatedText(col, row, value, refused);
    const bool changed = Cells(col, row) != text;
    TMyStringGrid::SetEditText(col, row, text);
    if (changed)
        SetModified(true);
    if (refused)
        SetModified(m_remembered.Modified);
    m_remembered = {col, row, Cells(col, row), m_modified};
}

void TSortGrid::ColumnMoved(int fromIndex, int toIndex)
{
    TMyStringGrid::ColumnMoved(fromIndex, toIndex);
    SetModified(true);
    int& sortCol = SortOptions.SortCol;
    if (fromIndex == sortCol)
        sortCol = toIndex;
    else if (toIndex <= sortCol && sortCol <= fromIndex)
        ++sortCol;
    else if (fromIndex <= sortCol && sortCol <= toIndex)
        --sortCol;
}

void TSortGrid::SizeChanged(int oldColCount, int oldRowCount)
{
    TMyStringGrid::SizeChanged(oldColCount, oldRowCount);
    SetModified(true);
    UpdateScrollBars();
    if (SortOptions.UpdateOnSizeChange)
        SortByColumn(SortOptions.SortCol);
    try {
        GotoCell(0, 1, true);
    } catch (...) {
        // Going back to the first data row is a courtesy; the size change stands.
    }
    if (RowCount() < 2)
        Dialogs().ShowMessage(this, QStringLiteral("Rowsize too small"));
    emit OnSizeChanged(oldColCount, oldRowCount);
}

void TSortGrid::ColWidthsChanged()
{
    TMyStringGrid::ColWidthsChanged();
    emit OnColumnWidthsChanged();
    UpdateScrollBars();
}

void TSortGrid::RowHeightsChanged()
{
    TMyStringGrid::RowHeightsChanged();
    emit OnRowHeightsChanged();
    UpdateScrollBars();
}

void TSortGrid::resizeEvent(QResizeEvent* event)
{
    TMyStringGrid::resizeEvent(event);
    WidenLastColumn();
    InvalidateGrid();
    UpdateScrollBars();
}

void TSortGrid::WidenLastColumn()
{
    if (ColCount() < 1 || LeftCol() + VisibleColCount() != ColCount())
        return;
    int used = 0;
    for (int c = 0; c < FixedCols() && c < ColCount() - 1; ++c)
        used += ColWidths(c) + GridLineWidth();
    for (int c = std::max(LeftCol(), FixedCols()); c <= ColCount() - 2; ++c)
        used += ColWidths(c);
    const int width = viewport()->width() - used - VisibleColCount() - 3;
    if (width > 0 && width != ColWidths(ColCount() - 1))
        SetColWidths(ColCount() - 1, width);
}

void TSortGrid::UpdateScrollBars()
{
    if (!m_proportionalScrollBars)
        return;
    if ((ScrollBars() == ssVertical || ScrollBars() == ssBoth) && RowCount() > 0) {
        QScrollBar* bar = verticalScrollBar();
        const double range = double(bar->maximum()) - bar->minimum() + 1;
        const int page = int(std::nearbyint(double(VisibleRowCount() + 1) / RowCount() * range));
        bar->setPageStep(std::max(1, page));
    }
    if ((ScrollBars() == ssHorizontal || ScrollBars() == ssBoth) && ColCount() > 0) {
        QScrollBar* bar = horizontalScrollBar();
        const double range = double(bar->maximum()) - bar->minimum() + 1;
        const int page = int(std::nearbyint(double(VisibleColCount()) / ColCount() * range));
        bar->setPageStep(std::max(1, page));
        bar->update();
    }
}

// ---------------------------------------------------------------- selection

void TSortGrid::ClearSelection()
{
    for (const QString& row : std::as_const(m_selectedRows))
        InvalidateRow(row.toInt());
    m_selectedRows.clear();
    if (m_selectionOrder.isEmpty())
        m_selectionOrder.append(QString());
    m_selectionOrder.erase(m_selectionOrder.begin() + 1, m_selectionOrder.end());
    m_selectionOrder[0].clear();
}

void TSortGrid::ResetSelectionTo(int row)
{
    ClearSelection();
    m_selectedRows.append(QString::number(row));
    m_selectionOrder[0] = QString::number(row);
}

// ---------------------------------------------------------------- mouse

bool TSortGrid::IsOnColumnBorder(int x, int y) const
{
    const TGridCoord cell = MouseToCell(x, y);
    if (cell.Y != 0 || cell.X < 0)
        return false;
    const QRect rect = CellRect(cell.X, 0);
    if (rect.isEmpty())
        return false;
    const int right = rect.right() + 1;
    return std::abs(x - rect.left()) <= 5 || std::abs(x - right) <= 5;
}

void TSortGrid::mousePressEvent(QMouseEvent* event)
{
    m_comboList->hide();
    const QPoint point = event->position().toPoint();
    m_mouseDownCell = MouseToCell(point.x(), point.y());
    if (m_mouseDownCell.Y == -1)
        m_mouseDownCell.Y = RowCount() - 1;
    // A press there starts sizing the column in the grid base.
    m_pressStartedSizing = event->button() == Qt::LeftButton && (Options() & goColSizing) &&
                           ColumnBorderAt(point.x(), point.y()) >= 0;
    if (m_multiSelect && m_mouseDownCell.Y >= FixedRows() && !MultiSelectPress(event, m_mouseDownCell.Y))
        return;
    TMyStringGrid::mousePressEvent(event);
    // The release of a right press on the header sorts; keep the press here.
    if (event->button() == Qt::RightButton && m_mouseDownCell.Y == 0)
        event->accept();
}

void TSortGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging) {
        m_dragging = false;
        m_dragOrigin = {-1, -1};
        event->accept();
        return;
    }
    m_dragOrigin = {-1, -1};
    // Not while the press opened the editor: that keeps the focus.
    if (!EditorMode())
        setFocus(Qt::MouseFocusReason);
    TMyStringGrid::mouseReleaseEvent(event);
    const QPoint point = event->position().toPoint();
    const TGridCoord cell = MouseToCell(point.x(), point.y());
    DataCellRelease(event, cell);
    if (cell.Y == 0 && cell.X >= 0 && cell.X == m_mouseDownCell.X && !m_pressStartedSizing &&
        !IsOnColumnBorder(point.x(), point.y())) {
        event->accept();
        HeaderClick(cell.X, event->button());
    }
}

void TSortGrid::HeaderClick(int col, Qt::MouseButton button)
{
    TSortDirection& direction = SortOptions.SortDirection;
    if (direction == sdDescending)
        direction = sdAscending;
    else if (col == SortOptions.SortCol)
        direction = sdDescending;
    if (button == Qt::RightButton)
        direction = sdDescending;
    InvalidateRow(0);
    SortByColumn(col);
}

void TSortGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && IsOnColumnBorder(point.x(), point.y())) {
        const int col = MouseToCell(point.x(), point.y()).X;
        const QRect rect = CellRect(col, 0);
        if (std::abs(point.x() - (rect.right() + 1)) <= 3) {
            AutoSizeColumn(col, false);
        } else if (col > 0) {
            const QRect left = CellRect(col - 1, 0);
            if (!left.isEmpty() && std::abs(point.x() - (left.right() + 1)) <= 3)
                AutoSizeColumn(col - 1, false);
        }
    }
    TMyStringGrid::mouseDoubleClickEvent(event);
}
