#include "convert/contentgravity.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

// The picture box-averaged over factor x factor cells (those at the right
// and bottom edges may be smaller): colour weighted by alpha, the cell's mean
// alpha, and how far its pixels' luma strays from the cell's mean. A large
// cell is sampled every factor / 8 pixels across and down (a 24-megapixel
// photo: every third), which keeps its averages and spread and saves most
// of the reading.
struct Cells {
    int w = 0, h = 0, factor = 1;
    std::vector<std::uint8_t> r, g, b, a, spread;
    std::size_t At(int x, int y) const { return std::size_t(y) * std::size_t(w) + std::size_t(x); }
};

// Per cell: red, green and blue times alpha, alpha, luma and its square.
using Sums = std::array<std::uint64_t, 6>;

// A pixel's luma, 0 to 255, from its red, green and blue.
inline unsigned Luma(unsigned r, unsigned g, unsigned b)
{
    return (77 * r + 150 * g + 29 * b + 128) >> 8;
}

template <bool Paletted, bool Alpha>
void AddRow(const CxImage &img, int y, int factor, int step, const std::array<RGBQUAD, 256> &palette,
            std::vector<Sums> &sums)
{
    const BYTE *row = img.GetBits(y);
    const BYTE *alphaRow = Alpha ? img.AlphaGetPointer(y) : nullptr;
    const int width = img.GetWidth();
    for (std::size_t cx = 0; cx < sums.size(); ++cx) {
        // Summed in locals, which the rows' bytes cannot alias, then added.
        std::uint64_t s[6] = {};
        const int x1 = std::min(width, int(cx + 1) * factor);
        for (int x = int(cx) * factor; x < x1; x += step) {
            unsigned r, g, b, a = 255;
            if constexpr (Paletted) {
                const RGBQUAD &q = palette[row[x]];
                r = q.rgbRed, g = q.rgbGreen, b = q.rgbBlue, a = q.rgbReserved;
            } else {
                b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
                if constexpr (Alpha)
                    a = alphaRow[x];
            }
            const unsigned y8 = Luma(r, g, b);
            s[0] += r * a, s[1] += g * a, s[2] += b * a, s[3] += a, s[4] += y8, s[5] += y8 * y8;
        }
        for (std::size_t k = 0; k < 6; ++k)
            sums[cx][k] += s[k];
    }
}

Cells Shrink(const CxImage &img)
{
    const int width = img.GetWidth(), height = img.GetHeight();
    Cells c;
    const int f = c.factor =
        std::max(1, (std::max(width, height) + kContentScoreSide - 1) / kContentScoreSide);
    c.w = (width + f - 1) / f;
    c.h = (height + f - 1) / f;
    const std::size_t n = std::size_t(c.w) * std::size_t(c.h);
    for (auto *plane : {&c.r, &c.g, &c.b, &c.a, &c.spread})
        plane->assign(n, 0);
    const bool paletted = img.GetBpp() <= 8;
    std::array<RGBQUAD, 256> palette{};
    for (int i = 0; paletted && i < std::min(256, img.GetNumColors()); ++i) {
        palette[std::size_t(i)] = img.GetPaletteColor(i);
        palette[std::size_t(i)].rgbReserved = i == img.GetTransIndex() ? 0 : 255;
    }
    const auto addRow = paletted             ? &AddRow<true, false>
                        : img.AlphaIsValid() ? &AddRow<false, true>
                                             : &AddRow<false, false>;
    const int step = std::max(1, f / 8);
    std::vector<Sums> sums(std::size_t(c.w));
    for (int cy = 0; cy < c.h; ++cy) {
        std::fill(sums.begin(), sums.end(), Sums{});
        const int y0 = cy * f, y1 = std::min(height, y0 + f);
        for (int y = y0; y < y1; y += step)
            addRow(img, y, f, step, palette, sums);
        for (int cx = 0; cx < c.w; ++cx) {
            const Sums &s = sums[std::size_t(cx)];
            const int x0 = cx * f, x1 = std::min(width, x0 + f);
            const std::uint64_t count =
                std::uint64_t((x1 - x0 + step - 1) / step) * ((y1 - y0 + step - 1) / step);
            const std::uint64_t alpha = s[3];
            const std::size_t i = c.At(cx, cy);
            c.a[i] = std::uint8_t((alpha + count / 2) / count);
            if (alpha > 0) {
                c.r[i] = std::uint8_t((s[0] + alpha / 2) / alpha);
                c.g[i] = std::uint8_t((s[1] + alpha / 2) / alpha);
                c.b[i] = std::uint8_t((s[2] + alpha / 2) / alpha);
            }
            // The standard deviation of luma, from integer sums: exact.
            const std::uint64_t variance = (count * s[5] - s[4] * s[4]) / (count * count);
            c.spread[i] =
                std::uint8_t(std::min<std::uint64_t>(255, std::uint64_t(std::sqrt(double(variance)))));
        }
    }
    return c;
}

// A cell's own luma, 0 to 255.
std::vector<int> CellLuma(const Cells &c)
{
    std::vector<int> luma(c.r.size());
    for (std::size_t i = 0; i < luma.size(); ++i)
        luma[i] = int(Luma(c.r[i], c.g[i], c.b[i]));
    return luma;
}

// Attention: the scores' weights and the floors below which a measure counts
// nothing (grain in the detail, the chroma of greys).
constexpr int kDetailWeight = 1, kSaturationWeight = 1, kSkinWeight = 2;
constexpr int kDetailFloor = 8, kGreyChroma = 40;

// How much a colour looks like skin, 0 to 255: how near its direction in
// RGB is to a typical skin tone's (0.78, 0.57, 0.44), counted from a
// distance of 0.15 (a wider one takes in cream and beige) down to 0, where
// the colour is not dark.
int SkinLikeness(int r, int g, int b, int luma)
{
    const double length = std::sqrt(double(r * r + g * g + b * b));
    if (luma < 51 || length <= 0.0)
        return 0;
    const double dr = r / length - 0.78, dg = g / length - 0.57, db = b / length - 0.44;
    const double closeness = 1.0 - std::sqrt(dr * dr + dg * dg + db * db);
    return closeness <= 0.85 ? 0 : int((closeness - 0.85) / 0.15 * 255.0);
}

// Each cell's score, 0 to 1020: its detail (the 4-neighbour Laplacian of the
// cells' luma plus the spread of luma inside the cell, less a floor, at most
// 255), its saturation (chroma past that of greys, scaled to 0..255) and
// its likeness to skin (0..255), weighted and taken by the cell's opacity;
// then less the score of the cell at nine tenths of them (at least 0).
std::vector<std::int64_t> AttentionScores(const Cells &c)
{
    const std::vector<int> luma = CellLuma(c);
    std::vector<std::int64_t> score(luma.size());
    const auto at = [&](int x, int y) {
        return luma[c.At(std::clamp(x, 0, c.w - 1), std::clamp(y, 0, c.h - 1))];
    };
    for (int y = 0; y < c.h; ++y) {
        for (int x = 0; x < c.w; ++x) {
            const std::size_t i = c.At(x, y);
            const int r = c.r[i], g = c.g[i], b = c.b[i];
            const int laplacian = 4 * at(x, y) - at(x - 1, y) - at(x + 1, y) - at(x, y - 1) - at(x, y + 1);
            const int detail = std::clamp(std::abs(laplacian) + c.spread[i] - kDetailFloor, 0, 255);
            const int chroma = std::max({r, g, b}) - std::min({r, g, b});
            const int saturation = std::max(0, chroma - kGreyChroma) * 255 / (255 - kGreyChroma);
            const int skin = SkinLikeness(r, g, b, luma[i]);
            const int sum = kDetailWeight * detail + kSaturationWeight * saturation + kSkinWeight * skin;
            score[i] = std::int64_t(sum) * c.a[i] / 255;
        }
    }
    // What stands out: only what scores above nine cells in ten counts, by
    // how much, so a background that scores all over (a blue sky's
    // saturation, a lawn's texture) does not outweigh a subject.
    std::vector<std::int64_t> sorted = score;
    const auto ninth = sorted.begin() + std::ptrdiff_t(sorted.size() * 9 / 10);
    std::nth_element(sorted.begin(), ninth, sorted.end());
    for (std::int64_t &v : score)
        v = std::max<std::int64_t>(0, v - *ninth);
    return score;
}

// A summed-area table of a w x h grid, (w + 1) x (h + 1), and the sum of a
// box of it.
struct Summed {
    int w = 0;
    std::vector<std::int64_t> t;
    Summed(const Cells &c, const std::vector<std::int64_t> &v)
        : w(c.w), t(std::size_t(c.w + 1) * (c.h + 1), 0)
    {
        for (int y = 0; y < c.h; ++y) {
            std::int64_t row = 0;
            for (int x = 0; x < c.w; ++x) {
                row += v[c.At(x, y)];
                t[At(x + 1, y + 1)] = t[At(x + 1, y)] + row;
            }
        }
    }
    std::size_t At(int x, int y) const { return std::size_t(y) * std::size_t(w + 1) + std::size_t(x); }
    std::int64_t Box(int x, int y, int bw, int bh) const
    {
        return t[At(x + bw, y + bh)] - t[At(x, y + bh)] - t[At(x + bw, y)] + t[At(x, y)];
    }
};

// The attention window of ww x wh cells, its left and top in cells: the
// windows whose score is within 1/128 of the highest are taken alike; of
// those the one nearest the grid's middle gives the centre of mass of its
// scores, and the one of them nearest that is kept. False when nothing scores.
bool AttentionWindow(const Cells &c, int ww, int wh, int &left, int &top)
{
    const std::vector<std::int64_t> score = AttentionScores(c);
    std::vector<std::int64_t> byX(score.size()), byY(score.size());
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const std::size_t i = c.At(x, y);
            byX[i] = score[i] * x;
            byY[i] = score[i] * y;
        }
    const Summed sum(c, score), sumX(c, byX), sumY(c, byY);
    std::int64_t best = 0;
    for (int y = 0; y + wh <= c.h; ++y)
        for (int x = 0; x + ww <= c.w; ++x)
            best = std::max(best, sum.Box(x, y, ww, wh));
    if (best <= 0)
        return false;
    const std::int64_t enough = best - best / 128;
    // The window near the best whose middle is nearest (tx, ty), in half cells.
    const auto nearest = [&](std::int64_t tx, std::int64_t ty) {
        std::int64_t closest = std::numeric_limits<std::int64_t>::max();
        for (int y = 0; y + wh <= c.h; ++y)
            for (int x = 0; x + ww <= c.w; ++x) {
                const std::int64_t dx = 2 * x + ww - tx, dy = 2 * y + wh - ty, d = dx * dx + dy * dy;
                if (d < closest && sum.Box(x, y, ww, wh) >= enough) {
                    closest = d;
                    left = x;
                    top = y;
                }
            }
    };
    nearest(c.w, c.h);
    const std::int64_t s = sum.Box(left, top, ww, wh);
    // Each cell's middle is half a cell past its corner.
    nearest((2 * sumX.Box(left, top, ww, wh) + s) / s, (2 * sumY.Box(left, top, ww, wh) + s) / s);
    return true;
}

constexpr int kEntropyLevels = 64;

// The information in a histogram of n cells, in bits per cell.
double Entropy(const std::array<int, kEntropyLevels> &histogram, int n)
{
    if (n <= 0)
        return 0.0;
    double s = 0.0;
    for (int count : histogram)
        if (count > 0)
            s += count * std::log2(double(count));
    return std::log2(double(n)) - s / n;
}

// The offset along one axis (horizontal: across the columns) of the window of
// `length` cells whose histogram of luma levels, over the cells from `from`
// to `from + across` on the other axis, holds the most information; of equal
// ones the nearest the middle. Cells less than half opaque are not counted.
// -1 when every window holds a single level.
int EntropyOffset(const Cells &c, const std::vector<int> &luma, bool horizontal, int length, int from,
                  int across)
{
    const int extent = horizontal ? c.w : c.h;
    std::array<int, kEntropyLevels> histogram{};
    int n = 0;
    const auto line = [&](int k, int add) {
        for (int j = from; j < from + across; ++j) {
            const std::size_t i = horizontal ? c.At(k, j) : c.At(j, k);
            if (c.a[i] >= 128) {
                histogram[std::size_t(luma[i] * kEntropyLevels / 256)] += add;
                n += add;
            }
        }
    };
    for (int k = 0; k < length; ++k)
        line(k, 1);
    constexpr double kSame = 1e-9;
    int best = -1, bestDistance = 0;
    double most = 0.0;
    for (int offset = 0; offset + length <= extent; ++offset) {
        if (offset > 0) {
            line(offset - 1, -1);
            line(offset + length - 1, 1);
        }
        const double e = Entropy(histogram, n);
        const int distance = std::abs(2 * offset + length - extent);
        if (e > most + kSame || (best >= 0 && e >= most - kSame && distance < bestDistance)) {
            most = std::max(most, e);
            best = offset;
            bestDistance = distance;
        }
    }
    return most > kSame ? best : -1;
}

} // namespace

CropRect ContentCrop(const CxImage &img, std::int64_t width, std::int64_t height, int gravity)
{
    const std::int64_t w = img.GetWidth(), h = img.GetHeight();
    CropRect part = PlaceAt(w, h, width, height, GRAVITY_CENTER);
    const std::int64_t roomX = w - part.width, roomY = h - part.height;
    if (!IsContentGravity(gravity) || w <= 0 || h <= 0 || (roomX <= 0 && roomY <= 0))
        return part;
    const Cells c = Shrink(img);
    // The part in cells: the whole side where it is not cut.
    const auto cells = [&](std::int64_t side, std::int64_t room, int all) {
        return room <= 0 ? all : int(std::clamp<std::int64_t>((side + c.factor / 2) / c.factor, 1, all));
    };
    const int ww = cells(part.width, roomX, c.w), wh = cells(part.height, roomY, c.h);
    int left = -1, top = -1;
    if (gravity == GRAVITY_ATTENTION) {
        if (!AttentionWindow(c, ww, wh, left, top))
            return part;
    } else {
        const std::vector<int> luma = CellLuma(c);
        if (roomX > 0)
            left = EntropyOffset(c, luma, true, ww, 0, c.h);
        if (roomY > 0)
            top = EntropyOffset(c, luma, false, wh, left >= 0 ? left : (c.w - ww) / 2, ww);
    }
    // A place in cells to one in pixels, in proportion to the room each has
    // (rounded); the centre's where the cells leave no choice.
    const auto pixels = [](int at, int roomCells, std::int64_t room, std::int64_t centre) {
        return at < 0 || roomCells <= 0 || room <= 0 ? centre : (2 * at * room + roomCells) / (2 * roomCells);
    };
    part.left = pixels(left, c.w - ww, roomX, part.left);
    part.top = pixels(top, c.h - wh, roomY, part.top);
    return part;
}
