#include "TColor.h"

#include <QApplication>

QColor ToQColor(TColor color, const QPalette& palette)
{
    if (!IsSystemColor(color))
        return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));

    switch (color) {
    case clWindow:
        return palette.color(QPalette::Active, QPalette::Base);
    case clWindowFrame:
        return palette.color(QPalette::Active, QPalette::Shadow);
    case clWindowText:
        return palette.color(QPalette::Active, QPalette::Text);
    case clHighlight:
        return palette.color(QPalette::Active, QPalette::Highlight);
    case clHighlightText:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    case clBtnFace:
        return palette.color(QPalette::Active, QPalette::Button);
    case clBtnShadow:
        return palette.color(QPalette::Active, QPalette::Dark);
    case clGrayText:
        return palette.color(QPalette::Disabled, QPalette::Text);
    case clBtnText:
        return palette.color(QPalette::Active, QPalette::ButtonText);
    case clBtnHighlight:
        return palette.color(QPalette::Active, QPalette::Light);
    default:
        return palette.color(QPalette::Active, QPalette::Text);
    }
}

QColor ToQColor(TColor color) { return ToQColor(color, QApplication::palette()); }

TColor FromQColor(const QColor& color) { return RGBColor(color.red(), color.green(), color.blue()); }
