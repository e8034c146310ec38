#pragma once

#include <cstdint>

// Colours are 32-bit values laid out 0x00BBGGRR. A high byte of 0xFF marks a
// system colour whose low byte names an entry of the platform colour table;
// those are resolved through the application palette when they are drawn.
using TColor = std::uint32_t;

constexpr TColor RGBColor(int red, int green, int blue)
{
    return TColor(red & 0xFF) | (TColor(green & 0xFF) << 8) | (TColor(blue & 0xFF) << 16);
}

constexpr bool IsSystemColor(TColor color) { return (color >> 24) == 0xFF; }

constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clWhite = RGBColor(255, 255, 255);
constexpr TColor clRed = RGBColor(255, 0, 0);
constexpr TColor clGreen = RGBColor(0, 128, 0);
constexpr TColor clYellow = RGBColor(255, 255, 0);

constexpr TColor clWindow = 0xFF000005;
constexpr TColor clWindowFrame = 0xFF000006;
constexpr TColor clWindowText = 0xFF000008;
constexpr TColor clHighlight = 0xFF00000D;
constexpr TColor clHighlightText = 0xFF00000E;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clBtnShadow = 0xFF000010;
constexpr TColor clGrayText = 0xFF000011;
constexpr TColor clBtnText = 0xFF000012;
constexpr TColor clBtnHighlight = 0xFF000014;
