// Dialog-unit geometry of the run dialogs. Their layouts are drawn for base
// units of 6 x 13 pixels: one unit is 1.5 pixels across and 1.625 down,
// rounded half away from zero.
#pragma once

#include <QRect>
#include <QSize>

#include <cmath>

namespace dlgunits {

inline int X(int units)
{
    return int(std::lround(units * 1.5));
}

inline int Y(int units)
{
    return int(std::lround(units * 1.625));
}

inline QSize Size(int width, int height)
{
    return QSize(X(width), Y(height));
}

// Edges are rounded, not sizes, so neighbouring controls never overlap.
inline QRect Rect(int x, int y, int width, int height)
{
    return QRect(QPoint(X(x), Y(y)), QPoint(X(x + width) - 1, Y(y + height) - 1));
}

} // namespace dlgunits
