#pragma once

#include "TColor.h"

#include <QPolygon>
#include <QSize>
#include <QWidget>
#include <cstdint>
#include <vector>

// One seven-segment digit with a corner point, painted as filled hexagons.
// The main window shows each lane's running time on five of them.
class TDigit : public QWidget
{
    Q_OBJECT

public:
    // Segment indices; segment i is lit when bit (1 << i) of ValueBinary is set.
    enum TSegment : int {
        sgTop,
        sgMiddle,
        sgBottom,
        sgUpperLeft,
        sgUpperRight,
        sgLowerLeft,
        sgLowerRight,
        sgPoint,
    };
    static constexpr int SegmentCount = 8;

    // Stored and repainted on change; painting does not use it.
    enum TBorderStyle { bsNone, bsSingle };

    explicit TDigit(QWidget* parent = nullptr);

    int Value() const { return FValue; }
    // A value outside 0-9 shows 0 and emits OnOverflow.
    void SetValue(int value);

    std::uint8_t ValueBinary() const { return FValueBinary; }
    void SetValueBinary(std::uint8_t pattern);

    TColor ColorOn() const { return FColorOn; }
    void SetColorOn(TColor color);
    TColor ColorOff() const { return FColorOff; }
    void SetColorOff(TColor color);
    // Background, also the outline of every segment.
    TColor Color() const { return FColor; }
    void SetColor(TColor color);

    // Half the thickness of a segment. Accepted only when it fits into half the
    // current width and half the current height; otherwise ignored.
    int Thickness() const { return FThickness; }
    void SetThickness(int thickness);
    // Gap in pixels between neighbouring segments.
    int Separation() const { return FSeparation; }
    void SetSeparation(int separation);

    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle style);

    // The segment mask a digit 0-9 is shown with; any other value gives that of 0.
    static std::uint8_t DigitPattern(int value);
    // The segments lit for a digit (any other value: those of 0).
    static std::vector<TSegment> SegmentsOn(int value);
    // The segments lit by a mask, in segment order.
    static std::vector<TSegment> SegmentsOfPattern(std::uint8_t pattern);

    // Outline of one segment for a digit of the given size (hexagon, or triangle
    // for the corner point).
    static QPolygon SegmentPolygon(TSegment segment, QSize size, int thickness, int separation);
    // The same for this digit's current size, Thickness and Separation.
    QPolygon SegmentPolygon(TSegment segment) const;
    // ColorOn when the segment's bit is set in ValueBinary, otherwise ColorOff.
    TColor SegmentColor(TSegment segment) const;

signals:
    void OnOverflow();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int FValue = 0;
    std::uint8_t FValueBinary = 125;
    TColor FColorOn = clYellow;
    TColor FColorOff = clBlack;
    TColor FColor = clBlack;
    int FThickness = 2;
    int FSeparation = 1;
    TBorderStyle FBorderStyle = bsSingle;
};
