// The colour picker popup's table, layout, placement, hit testing and
// keyboard moves, as plain functions of plain values.
#pragma once

#include "imaging/cxtypes.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace colourgrid {

inline constexpr int kCount = 40;
inline constexpr int kColumns = 8;
inline constexpr int kRows = (kCount + kColumns - 1) / kColumns;
inline constexpr int kLast = kCount - 1;
inline constexpr int kBoxSize = 18;

// Box indices besides 0 .. 39.
inline constexpr int kAutoBox = -3;
inline constexpr int kMoreBox = -2;
inline constexpr int kNoBox = -1;

// "No explicit colour".
inline constexpr COLORREF kAutomatic = 0xFF000000;

struct Entry {
    COLORREF colour;
    const char *name;
};
const Entry &At(int index);

// Box size for an edge width: 18, or more when the edges need it.
int BoxSize(int edge);

// Which box is marked as chosen when the popup opens on `initial`.
int InitialChoice(COLORREF initial, bool hasAutoText, bool hasMoreText);

enum class Move { Down, Up, Right, Left };
// The box a cursor key leads to from box `from`.
int KeyMove(int from, Move move, bool hasAutoText, bool hasMoreText);

// Where the parts of the popup lie, in its own coordinates.
struct Layout {
    int margin = 0;
    int box = 0;
    QSize window;
    QRect autoBox; // empty without an automatic text
    QRect moreBox; // empty without a more-colours text
    QPoint gridOrigin;
    QRect BoxRect(int index) const;
};
// textSize: the larger width and height of the two texts (zero without texts).
Layout ComputeLayout(int box, int margin, bool hasAutoText, bool hasMoreText, QSize textSize);

// The box under point p; nothing where no box is.
std::optional<int> HitTest(const Layout &layout, QPoint p);

// Top left of a popup of `size` that wants to open at the button's lower
// left, kept on `screen`; near the bottom it opens above the button.
QPoint PlacePopup(QSize size, const QRect &button, const QRect &screen);

} // namespace colourgrid
