#include "TDigit.h"

#include <QPaintEvent>
#include <QPainter>
#include <array>

namespace {

constexpr std::array<std::uint8_t, 10> DigitPatterns = {125, 80, 55, 87, 90, 79, 111, 81, 127, 95};

} // namespace

TDigit::TDigit(QWidget* parent) : QWidget(parent)
{
    // The digit paints every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(16, 32);
}

void TDigit::SetValue(int value)
{
    if (value == FValue)
        return;
    if (value < 0 || value > 9) {
        FValue = 0;
        emit OnOverflow();
    } else {
        FValue = value;
    }
    SetValueBinary(DigitPattern(FValue));
}

void TDigit::SetValueBinary(std::uint8_t pattern)
{
    if (pattern == FValueBinary)
        return;
    FValueBinary = pattern;
    update();
}

void TDigit::SetColorOn(TColor color)
{
    if (color == FColorOn)
        return;
    FColorOn = color;
    update();
}

void TDigit::SetColorOff(TColor color)
{
    if (color == FColorOff)
        return;
    FColorOff = color;
    update();
}

void TDigit::SetColor(TColor color)
{
    if (color == FColor)
        return;
    FColor = color;
    update();
}

void TDigit::SetThickness(int thickness)
{
    if (thickness == FThickness)
        return;
    if (thickness > width() / 2 || thickness > height() / 2)
        return;
    FThickness = thickness;
    update();
}

void TDigit::SetSeparation(int separation)
{
    if (separation == FSeparation)
        return;
    FSeparation = separation;
    update();
}

void TDigit::SetBorderStyle(TBorderStyle style)
{
    if (style == FBorderStyle)
        return;
    FBorderStyle = style;
    update();
}

std::uint8_t TDigit::DigitPattern(int value)
{
    if (value < 0 || value > 9)
        value = 0;
    return DigitPatterns[std::size_t(value)];
}

std::vector<TDigit::TSegment> TDigit::SegmentsOn(int value)
{
    return SegmentsOfPattern(DigitPattern(value));
}

std::vector<TDigit::TSegment> TDigit::SegmentsOfPattern(std::uint8_t pattern)
{
    std::vector<TSegment> segments;
    for (int segment = 0; segment < SegmentCount; ++segment) {
        if (pattern & (1u << segment))
            segments.push_back(TSegment(segment));
    }
    return segments;
}

QPolygon TDigit::SegmentPolygon(TSegment segment, QSize size, int thickness, int separation)
{
    const int w = size.width() - 1;
    const int h = size.height() - 1;
    const int t = thickness;
    const int s = separation;
    const int m = h / 2;

    auto horizontal = [&](int b) {
        return QPolygon({QPoint(s + t, b + t), QPoint(s + 2 * t, b), QPoint(w - 2 * t - s, b),
                         QPoint(w - t - s, b + t), QPoint(w - 2 * t - s, b + 2 * t),
                         QPoint(s + 2 * t, b + 2 * t)});
    };
    auto vertical = [&](int e, int b) {
        return QPolygon({QPoint(e, b + s + 2 * t), QPoint(e + t, b + s + t), QPoint(e + 2 * t, b + s + 2 * t),
                         QPoint(e + 2 * t, b + m - t - s), QPoint(e + t, b + m - s),
                         QPoint(e, b + m - t - s)});
    };

    switch (segment) {
    case sgTop:
        return horizontal(0);
    case sgMiddle:
        return horizontal(m - t);
    case sgBottom:
        return horizontal(h - 2 * t);
    case sgUpperLeft:
        return vertical(0, 0);
    case sgUpperRight:
        return vertical(w - 2 * t, 0);
    case sgLowerLeft:
        return vertical(0, m - t);
    case sgLowerRight:
        return vertical(w - 2 * t, m - t);
    case sgPoint:
        return QPolygon({QPoint(w, h), QPoint(w - 2 * t + s, h), QPoint(w, h - 2 * t + s)});
    }
    return {};
}

QPolygon TDigit::SegmentPolygon(TSegment segment) const
{
    return SegmentPolygon(segment, size(), FThickness, FSeparation);
}

TColor TDigit::SegmentColor(TSegment segment) const
{
    return (FValueBinary & (1u << int(segment))) ? FColorOn : FColorOff;
}

void TDigit::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QColor background = ToQColor(FColor, palette());
    painter.fillRect(event->rect(), background);

    painter.setPen(QPen(background, 1));
    for (int segment = 0; segment < SegmentCount; ++segment) {
        painter.setBrush(ToQColor(SegmentColor(TSegment(segment)), palette()));
        painter.drawPolygon(SegmentPolygon(TSegment(segment)));
    }
}
