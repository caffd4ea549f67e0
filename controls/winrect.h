// A rectangle as window layouts and the viewer reckon it: edges, with right
// and bottom exclusive (they lie just outside).
#pragma once

#include <QPoint>
#include <QRect>

struct WinRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(QPoint p) const { return left <= p.x() && p.x() < right && top <= p.y() && p.y() < bottom; }
    QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
    static WinRect FromQRect(const QRect &r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
    bool operator==(const WinRect &) const = default;
};
