#pragma once

// Horizontal alignment of a cell's text, as the grid draws it and the protocol's
// layout rules choose it.
enum TAlignment : unsigned char { taLeftJustify, taRightJustify, taCenter };
