// Text measuring and the font conversion shared by DrawStringEx and every
// caller that places text (the stamp's position depends on its width).
#pragma once

#include "imaging/cxtypes.h"

#include <QFont>
#include <string>

// The Qt font for a logical-font record (face, height rule, width, weight,
// italic, underline, strike-out). Escapement is applied when drawing.
QFont FontFromLogFont(const LOGFONT &lf);

// Width in pixels of the whole text drawn in that font, as DrawStringEx
// lays it out (the advance of the single line; the widest line of several).
int TextExtentWidth(const LOGFONT &lf, const std::string &utf8);
