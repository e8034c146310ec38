#pragma once

#include <QPixmap>

// The light-barrier pictures, 32 x 32: 0 a red round sign with a white
// horizontal bar (barrier off), 1 a green one with a white vertical bar
// (barrier on), 2 a plain olive one, 3 (BarrierFaultPicture) a grey one with a
// white exclamation mark (the port did not open).
inline constexpr int BarrierFaultPicture = 3;
QPixmap BarrierPicture(int index);
