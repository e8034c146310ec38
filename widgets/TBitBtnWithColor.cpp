#include "TBitBtnWithColor.h"

#include <QDialog>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <qdrawutil.h>

namespace {

constexpr int CaptionFlags = Qt::TextSingleLine | Qt::TextShowMnemonic;

struct TStockKind
{
    const char* resource;
    const char* caption;
    int modalResult;
};

// Indexed by TBitBtnKind minus one.
const TStockKind StockKinds[] = {
    {"BBCOK", "OK", TBitBtnWithColor::mrOk},
    {"BBCCANCEL", "Abbrechen", TBitBtnWithColor::mrCancel},
    {"BBCHELP", "&Hilfe", TBitBtnWithColor::mrNone},
    {"BBCYES", "&Ja", TBitBtnWithColor::mrYes},
    {"BBCNO", "&Nein", TBitBtnWithColor::mrNo},
    {"BBCCLOSE", "&Schließen", TBitBtnWithColor::mrNone},
    {"BBCABORT", "Abbruch", TBitBtnWithColor::mrAbort},
    {"BBCRETRY", "&Wiederholen", TBitBtnWithColor::mrRetry},
    {"BBCIGNORE", "&Ignorieren", TBitBtnWithColor::mrIgnore},
    {"BBCALL", "&Alle", TBitBtnWithColor::mrAll},
};

const TStockKind& StockKind(TBitBtnWithColor::TBitBtnKind kind)
{
    return StockKinds[int(kind) - 1];
}

bool StockDefault(TBitBtnWithColor::TBitBtnKind kind)
{
    return kind == TBitBtnWithColor::bkOK || kind == TBitBtnWithColor::bkYes;
}

bool StockCancel(TBitBtnWithColor::TBitBtnKind kind)
{
    return kind == TBitBtnWithColor::bkCancel || kind == TBitBtnWithColor::bkNo;
}

// drawRect() strokes one pixel beyond the right and bottom edge; this outlines exactly r.
void OutlineRect(QPainter& painter, const QRect& r)
{
    painter.drawRect(r.adjusted(0, 0, -1, -1));
}

} // namespace

TBitBtnWithColor::TBitBtnWithColor(QWidget* parent) : TBitBtnWithColor(QString(), parent) {}

TBitBtnWithColor::TBitBtnWithColor(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
{
    connect(this, &QAbstractButton::clicked, this, &TBitBtnWithColor::AfterClick);
}

void TBitBtnWithColor::SetColor(TColor color)
{
    if (color == FColor)
        return;
    FColor = color;
    DropPreparedGlyphs();
    update();
}

void TBitBtnWithColor::SetGlyph(const QImage& glyph)
{
    DropPreparedGlyphs();
    FGlyph = glyph;
    FModifiedGlyph = true;
    if (!glyph.isNull() && glyph.height() > 0) {
        FTransparentColor = FromQColor(glyph.pixelColor(0, glyph.height() - 1));
        if (glyph.width() % glyph.height() == 0) {
            const int count = glyph.width() / glyph.height();
            SetNumGlyphs(count < 5 ? count : 1);
        }
    }
    update();
}

void TBitBtnWithColor::SetNumGlyphs(int count)
{
    count = std::clamp(count, 1, 4);
    if (count == FNumGlyphs)
        return;
    FNumGlyphs = count;
    DropPreparedGlyphs();
    update();
}

void TBitBtnWithColor::SetLayout(TButtonLayout layout)
{
    if (layout == FLayout)
        return;
    FLayout = layout;
    update();
}

void TBitBtnWithColor::SetMargin(int margin)
{
    if (margin == FMargin || margin < -1)
        return;
    FMargin = margin;
    update();
}

void TBitBtnWithColor::SetSpacing(int spacing)
{
    if (spacing == FSpacing)
        return;
    FSpacing = spacing;
    update();
}

TBitBtnWithColor::TBitBtnKind TBitBtnWithColor::Kind() const
{
    if (FKind != bkCustom && (isDefault() != StockDefault(FKind) || FCancel != StockCancel(FKind) ||
                              FModalResult != StockKind(FKind).modalResult || FModifiedGlyph))
        FKind = bkCustom;
    return FKind;
}

void TBitBtnWithColor::SetKind(TBitBtnKind kind)
{
    if (kind == FKind)
        return;
    if (kind != bkCustom) {
        const TStockKind& stock = StockKind(kind);
        setDefault(StockDefault(kind));
        FCancel = StockCancel(kind);
        setText(QString::fromUtf8(stock.caption));
        FModalResult = stock.modalResult;
        // A missing stock bitmap leaves the button without a glyph.
        SetGlyph(QImage(QStringLiteral(":/images/%1.xpm").arg(QLatin1String(stock.resource))));
        SetNumGlyphs(2);
        FModifiedGlyph = false;
    }
    FKind = kind;
    update();
}

void TBitBtnWithColor::SetStyle(TButtonStyle style)
{
    if (style == FStyle)
        return;
    FStyle = style;
    update();
}

void TBitBtnWithColor::SetFontColor(TColor color)
{
    if (color == FFontColor)
        return;
    FFontColor = color;
    update();
}

void TBitBtnWithColor::SetCancel(bool cancel)
{
    FCancel = cancel;
}

void TBitBtnWithColor::SetModalResult(int result)
{
    FModalResult = result;
}

bool TBitBtnWithColor::IsFocused() const
{
    if (hasFocus())
        return true;
    if (!isDefault())
        return false;
    // The default button gives up its marking while another button of its window is active.
    const QWidget* focus = window()->focusWidget();
    return !(focus && focus != this && qobject_cast<const QPushButton*>(focus));
}

TBitBtnWithColor::TButtonState TBitBtnWithColor::DrawState() const
{
    if (!isEnabled())
        return bsDisabled;
    return isDown() ? bsDown : bsUp;
}

TBitBtnPlacement TBitBtnWithColor::CalcButtonLayout(const QRect& client, QSize glyphSize, QSize captionSize,
                                                    TButtonLayout layout, int margin, int spacing)
{
    const QSize clientSize = client.size();
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    QPoint glyphPos;
    QPoint textPos;

    // Side by side: both centred vertically; stacked: both centred horizontally.
    if (horizontal) {
        glyphPos.setY((clientSize.height() - glyphSize.height() + 1) / 2);
        textPos.setY((clientSize.height() - captionSize.height() + 1) / 2);
    } else {
        glyphPos.setX((clientSize.width() - glyphSize.width() + 1) / 2);
        textPos.setX((clientSize.width() - captionSize.width() + 1) / 2);
    }

    if (captionSize.width() == 0 || glyphSize.width() == 0)
        spacing = 0;

    if (margin == -1) {
        if (spacing == -1) {
            const QSize total = glyphSize + captionSize;
            margin = horizontal ? (clientSize.width() - total.width()) / 3
                                : (clientSize.height() - total.height()) / 3;
            spacing = margin;
        } else {
            const QSize total = glyphSize + captionSize + QSize(spacing, spacing);
            margin = horizontal ? (clientSize.width() - total.width() + 1) / 2
                                : (clientSize.height() - total.height() + 1) / 2;
        }
    } else if (spacing == -1) {
        const QSize rest = clientSize - glyphSize - QSize(margin, margin);
        spacing = horizontal ? (rest.width() - captionSize.width()) / 2
                             : (rest.height() - captionSize.height()) / 2;
    }

    switch (layout) {
    case blGlyphLeft:
        glyphPos.setX(margin);
        textPos.setX(glyphPos.x() + glyphSize.width() + spacing);
        break;
    case blGlyphRight:
        glyphPos.setX(clientSize.width() - margin - glyphSize.width());
        textPos.setX(glyphPos.x() - spacing - captionSize.width());
        break;
    case blGlyphTop:
        glyphPos.setY(margin);
        textPos.setY(glyphPos.y() + glyphSize.height() + spacing);
        break;
    case blGlyphBottom:
        glyphPos.setY(clientSize.height() - margin - glyphSize.height());
        textPos.setY(glyphPos.y() - spacing - captionSize.height());
        break;
    }

    TBitBtnPlacement placement;
    placement.content = client;
    placement.glyphPos = glyphPos + client.topLeft();
    placement.captionRect = QRect(textPos + client.topLeft(), captionSize);
    return placement;
}

TBitBtnPlacement TBitBtnWithColor::Placement(TButtonState state, bool activeFrame) const
{
    const bool focused = IsFocused();
    QRect r = rect();
    if (focused || activeFrame)
        r.adjust(1, 1, -1, -1);
    const int inset = state == bsDown ? 1 : EdgeWidth + 1;
    r.adjust(inset, inset, -inset, -inset);
    if (focused)
        r = rect().adjusted(1, 1, -1, -1);
    if (state == bsDown)
        r.translate(1, 1);
    return CalcButtonLayout(r, GlyphSize(), CaptionSize(), FLayout, FMargin, FSpacing);
}

QSize TBitBtnWithColor::GlyphSize() const
{
    if (FGlyph.isNull())
        return {0, 0};
    return {FGlyph.width() / FNumGlyphs, FGlyph.height()};
}

QSize TBitBtnWithColor::CaptionSize() const
{
    if (text().isEmpty())
        return {0, 0};
    return fontMetrics().size(CaptionFlags, text());
}

QImage TBitBtnWithColor::GlyphImage(TButtonState state) const
{
    QImage& prepared = FPrepared[std::size_t(state)];
    if (prepared.isNull())
        prepared = PrepareGlyph(state);
    return prepared;
}

void TBitBtnWithColor::DropPreparedGlyphs()
{
    for (QImage& image : FPrepared)
        image = QImage();
}

QImage TBitBtnWithColor::PrepareGlyph(TButtonState state) const
{
    const QSize size = GlyphSize();
    if (size.isEmpty())
        return {};

    int index = 0;
    switch (state) {
    case bsUp:
        index = 0;
        break;
    case bsDisabled:
        index = FNumGlyphs >= 2 ? 1 : -1;
        break;
    case bsDown:
        index = FNumGlyphs >= 3 ? 2 : 0;
        break;
    case bsExclusive:
        index = FNumGlyphs >= 4 ? 3 : 0;
        break;
    }

    const QRgb transparent = ToQColor(FTransparentColor).rgb();
    const QRgb face = ToQColor(FColor, palette()).rgb();
    const QImage source = FGlyph.copy(std::max(index, 0) * size.width(), 0, size.width(), size.height())
                              .convertToFormat(QImage::Format_ARGB32);
    auto isTransparent = [&](int x, int y) { return (source.pixel(x, y) | 0xFF000000u) == transparent; };

    QImage result(size, QImage::Format_ARGB32);
    if (index < 0) {
        // Embossed monochrome copy: every pixel that is neither transparent nor
        // white, in highlight one pixel right and down, then in shadow in place.
        result.fill(face);
        const QRgb highlight = ToQColor(clBtnHighlight, palette()).rgb();
        const QRgb shadow = ToQColor(clBtnShadow, palette()).rgb();
        auto marked = [&](int x, int y) {
            return !isTransparent(x, y) && (source.pixel(x, y) | 0xFF000000u) != 0xFFFFFFFFu;
        };
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                if (marked(x, y) && x + 1 < size.width() && y + 1 < size.height())
                    result.setPixel(x + 1, y + 1, highlight);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                if (marked(x, y))
                    result.setPixel(x, y, shadow);
        return result;
    }

    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (!isTransparent(x, y))
                result.setPixel(x, y, source.pixel(x, y) | 0xFF000000u);
            else
                result.setPixel(x, y, state == bsExclusive ? 0u : face);
        }
    }
    return result;
}

void TBitBtnWithColor::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    const QColor face = ToQColor(FColor, pal);
    const TButtonState state = DrawState();
    const bool activeFrame = hasFocus();
    const bool focused = IsFocused();

    QRect r = rect();
    if (focused || activeFrame) {
        painter.setPen(ToQColor(clWindowFrame, pal));
        painter.setBrush(Qt::NoBrush);
        OutlineRect(painter, r);
        r.adjust(1, 1, -1, -1);
    }
    if (state == bsDown) {
        painter.setPen(ToQColor(clBtnShadow, pal));
        painter.setBrush(face);
        OutlineRect(painter, r);
    } else {
        qDrawWinButton(&painter, r, pal, false, nullptr);
        r.adjust(EdgeWidth, EdgeWidth, -EdgeWidth, -EdgeWidth);
        painter.setPen(face);
        painter.setBrush(face);
        OutlineRect(painter, r);
    }

    const TBitBtnPlacement placement = Placement(state, activeFrame);
    const QImage glyph = GlyphImage(state);
    if (!glyph.isNull())
        painter.drawImage(placement.glyphPos, glyph);

    painter.setFont(font());
    if (!text().isEmpty()) {
        if (state == bsDisabled) {
            painter.setPen(ToQColor(clWhite));
            painter.drawText(placement.captionRect.translated(1, 1), Qt::AlignCenter | CaptionFlags, text());
            painter.setPen(ToQColor(RGBColor(128, 128, 128)));
        } else {
            painter.setPen(ToQColor(FFontColor, pal));
        }
        painter.drawText(placement.captionRect, Qt::AlignCenter | CaptionFlags, text());
    }

    if (focused) {
        // Inverted dots, so the focus rectangle shows on any face colour.
        painter.setPen(QPen(Qt::white, 1));
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.drawPoints(FocusDots(rect().adjusted(4, 4, -4, -4)));
    }
}

QList<QPoint> TBitBtnWithColor::FocusDots(const QRect& r)
{
    QList<QPoint> dots;
    if (r.isEmpty())
        return dots;
    auto add = [&](int x, int y) {
        if ((x + y) % 2 == 0)
            dots.append(QPoint(x, y));
    };
    for (int x = r.left(); x <= r.right(); ++x) {
        add(x, r.top());
        if (r.bottom() != r.top())
            add(x, r.bottom());
    }
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        add(r.left(), y);
        if (r.right() != r.left())
            add(r.right(), y);
    }
    return dots;
}

void TBitBtnWithColor::mousePressEvent(QMouseEvent* event)
{
    const QPointer<TBitBtnWithColor> guard(this);
    emit OnMouseDown(event->button(), event->position().toPoint());
    // The handler may have disabled (or removed) the button; a disabled button
    // must not be left pressed down.
    if (!guard)
        return;
    if (!isEnabled()) {
        event->accept();
        return;
    }
    QPushButton::mousePressEvent(event);
}

void TBitBtnWithColor::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        DropPreparedGlyphs();
    QPushButton::changeEvent(event);
}

void TBitBtnWithColor::AfterClick()
{
    const QPointer<TBitBtnWithColor> guard(this);
    switch (Kind()) {
    case bkClose:
        window()->close();
        return;
    case bkHelp:
        emit HelpRequested();
        return;
    default:
        break;
    }
    if (guard && FModalResult != mrNone) {
        if (auto* dialog = qobject_cast<QDialog*>(window()))
            dialog->done(FModalResult);
    }
}
