#include "controls/colourpickergrid.h"

#include <algorithm>

namespace colourgrid {

namespace {

// clang-format off
const Entry kTable[kCount] = {
    {RGB(0, 0, 0), "Black"},              {RGB(165, 42, 0), "Brown"},
    {RGB(0, 64, 64), "Dark Olive Green"}, {RGB(0, 85, 0), "Dark Green"},
    {RGB(0, 0, 94), "Dark Teal"},         {RGB(0, 0, 139), "Dark blue"},
    {RGB(75, 0, 130), "Indigo"},          {RGB(40, 40, 40), "Dark grey"},
    {RGB(139, 0, 0), "Dark red"},         {RGB(255, 104, 32), "Orange"},
    {RGB(139, 139, 0), "Dark yellow"},    {RGB(0, 147, 0), "Green"},
    {RGB(56, 142, 142), "Teal"},          {RGB(0, 0, 255), "Blue"},
    {RGB(123, 123, 192), "Blue-grey"},    {RGB(102, 102, 102), "Grey - 40"},
    {RGB(255, 0, 0), "Red"},              {RGB(255, 173, 91), "Light orange"},
    {RGB(50, 205, 50), "Lime"},           {RGB(60, 179, 113), "Sea green"},
    {RGB(127, 255, 212), "Aqua"},         {RGB(125, 158, 192), "Light blue"},
    {RGB(128, 0, 128), "Violet"},         {RGB(127, 127, 127), "Grey - 50"},
    {RGB(255, 192, 203), "Pink"},         {RGB(255, 215, 0), "Gold"},
    {RGB(255, 255, 0), "Yellow"},         {RGB(0, 255, 0), "Bright green"},
    {RGB(64, 224, 208), "Turquoise"},     {RGB(192, 255, 255), "Skyblue"},
    {RGB(72, 0, 72), "Plum"},             {RGB(192, 192, 192), "Light grey"},
    {RGB(255, 228, 225), "Rose"},         {RGB(210, 180, 140), "Tan"},
    {RGB(255, 255, 224), "Light yellow"}, {RGB(152, 251, 152), "Pale green "},
    {RGB(175, 238, 238), "Pale turquoise"}, {RGB(104, 131, 139), "Pale blue"},
    {RGB(230, 230, 250), "Lavender"},     {RGB(255, 255, 255), "White"},
};
// clang-format on

// Where a move that runs off the grid lands: the first text box named that
// exists, else the box given last.
int FirstOf(bool first, int firstBox, bool second, int secondBox, int fallback)
{
    if (first)
        return firstBox;
    if (second)
        return secondBox;
    return fallback;
}

} // namespace

const Entry &At(int index)
{
    return kTable[std::clamp(index, 0, kLast)];
}

int BoxSize(int edge)
{
    return std::max(kBoxSize, 2 * edge + 7);
}

int InitialChoice(COLORREF initial, bool hasAutoText, bool hasMoreText)
{
    if (initial == kAutomatic && hasAutoText)
        return kAutoBox;
    for (int i = 0; i < kCount; ++i)
        if (kTable[i].colour == initial)
            return i;
    return hasMoreText ? kMoreBox : kNoBox;
}

int KeyMove(int from, Move move, bool hasAutoText, bool hasMoreText)
{
    const bool d = hasAutoText, c = hasMoreText;
    if (from == kAutoBox) {
        if (move == Move::Down || move == Move::Right)
            return 0;
        return c ? kMoreBox : kLast;
    }
    if (from == kMoreBox) {
        if (move == Move::Down || move == Move::Right)
            return d ? kAutoBox : 0;
        return kLast;
    }
    if (from < 0 || from >= kCount)
        return 0; // nothing highlighted yet: start at the first box
    int to = from;
    switch (move) {
    case Move::Down:
        to = from + kColumns;
        break;
    case Move::Up:
        to = from - kColumns;
        break;
    case Move::Right:
        to = from + 1;
        break;
    case Move::Left:
        to = from - 1;
        break;
    }
    if (to >= kCount)
        return FirstOf(c, kMoreBox, d, kAutoBox, 0);
    if (to < 0)
        return FirstOf(d, kAutoBox, c, kMoreBox, kLast);
    return to;
}

QRect Layout::BoxRect(int index) const
{
    if (index == kAutoBox)
        return autoBox;
    if (index == kMoreBox)
        return moreBox;
    if (index < 0 || index >= kCount)
        return {};
    return QRect(gridOrigin.x() + (index % kColumns) * box, gridOrigin.y() + (index / kColumns) * box, box,
                 box);
}

Layout ComputeLayout(int box, int margin, bool hasAutoText, bool hasMoreText, QSize textSize)
{
    Layout l;
    l.margin = margin;
    l.box = box;
    int width = kColumns * box + 2 * margin;
    int height = kRows * box + 2 * margin;
    int textBoxHeight = 0;
    if (hasAutoText || hasMoreText) {
        width = std::max(width, textSize.width() + 2 * margin + 2 * margin);
        textBoxHeight = textSize.height() + 4 * margin + 2;
    }
    int gridTop = margin;
    if (hasAutoText) {
        height += textBoxHeight + 2 * margin;
        gridTop += textBoxHeight + 2 * margin;
    }
    if (hasMoreText)
        height += textBoxHeight + 2 * margin;
    l.window = QSize(width, height);
    l.gridOrigin = QPoint(margin, gridTop);
    if (hasAutoText)
        l.autoBox = QRect(margin, margin, width - 2 * margin, textBoxHeight);
    if (hasMoreText)
        l.moreBox = QRect(margin, gridTop + kRows * box + 2 * margin, width - 2 * margin, textBoxHeight);
    return l;
}

std::optional<int> HitTest(const Layout &l, QPoint p)
{
    if (l.moreBox.contains(p))
        return kMoreBox;
    if (l.autoBox.contains(p))
        return kAutoBox;
    const int x = p.x() - l.gridOrigin.x(), y = p.y() - l.gridOrigin.y();
    if (x < 0 || y < 0 || l.box <= 0)
        return std::nullopt;
    const int row = y / l.box, column = x / l.box;
    if (row >= kRows || column >= kColumns || row * kColumns + column >= kCount)
        return std::nullopt;
    return row * kColumns + column;
}

QPoint PlacePopup(QSize size, const QRect &button, const QRect &screen)
{
    QPoint at(button.left(), button.bottom() + 1);
    if (at.x() + size.width() > screen.x() + screen.width())
        at.setX(screen.x() + screen.width() - size.width());
    if (at.x() < screen.x())
        at.setX(screen.x());
    if (at.y() + size.height() > screen.y() + screen.height())
        at.setY(button.top() - size.height());
    return at;
}

} // namespace colourgrid
