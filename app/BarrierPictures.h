#pragma once

#include <QPixmap>

// The light-barrier pictures, 32 x 32: 0 a red round sign with a white
// horizontal bar (barrier off), 1 a green one with a white vertical bar
// (barrier on), 2 a plain olive one.
QPixmap BarrierPicture(int index);
