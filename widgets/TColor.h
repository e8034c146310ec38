#pragma once

#include "ColorValue.h"

#include <QColor>
#include <QPalette>

// The colour to paint with. System colours come from the given palette (the
// application palette when none is given); unknown system entries fall back to
// the window text colour.
QColor ToQColor(TColor color, const QPalette& palette);
QColor ToQColor(TColor color);

// The nearest TColor for a plain Qt colour (alpha is dropped).
TColor FromQColor(const QColor& color);
