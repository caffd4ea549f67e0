// Tone and colour adjustments, and the trim box.
#include "imaging/adjust.h"

#include "imaging/pixelops.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <numbers>
#include <vector>

namespace cxadjust {

bool ToneSettings::Any() const
{
    return autoLevels || brightness != 0 || contrast != 0 || gamma != 1.0 || saturation != 0 || grayscale ||
           sepia;
}

namespace {

using Histogram = std::array<std::array<std::uint64_t, 256>, 3>; // B, G, R

// Pixel counts of each channel's values; a paletted picture's through its
// palette.
Histogram CountChannels(const CxImage &img)
{
    Histogram total{};
    const int w = img.GetWidth(), h = img.GetHeight();
    const bool colour = img.GetBpp() == 24;
    std::mutex merge;
    cxops::ParallelBands(h, double(w) * h * (colour ? 3 : 1), [&](int y0, int y1) {
        std::vector<std::uint32_t> counts(colour ? 3 * 256 : 256, 0);
        for (int y = y0; y < y1; ++y) {
            const BYTE *p = img.GetBits(y);
            if (colour) {
                for (int x = 0; x < w; ++x, p += 3) {
                    ++counts[p[0]];
                    ++counts[256 + p[1]];
                    ++counts[512 + p[2]];
                }
            } else {
                for (int x = 0; x < w; ++x)
                    ++counts[p[x]];
            }
        }
        const std::lock_guard<std::mutex> lock(merge);
        if (colour) {
            for (int c = 0; c < 3; ++c)
                for (int v = 0; v < 256; ++v)
                    total[std::size_t(c)][std::size_t(v)] += counts[std::size_t(c * 256 + v)];
        } else {
            const RGBQUAD *pal = img.GetPalette();
            for (int i = 0; i < img.GetNumColors(); ++i) {
                total[0][pal[i].rgbBlue] += counts[std::size_t(i)];
                total[1][pal[i].rgbGreen] += counts[std::size_t(i)];
                total[2][pal[i].rgbRed] += counts[std::size_t(i)];
            }
        }
        return true;
    });
    return total;
}

// The values below the first whose running count from the dark end passes
// the cut go to 0, those above the last passing it from the light end to
// 255, and the rest are stretched between them, rounded down, as
// ImageMagick's -contrast-stretch does.
std::array<double, 256> StretchCurve(const std::array<std::uint64_t, 256> &hist, double cut)
{
    int lo = 0, hi = 255;
    double seen = 0;
    for (; lo < 255; ++lo)
        if ((seen += double(hist[std::size_t(lo)])) > cut)
            break;
    seen = 0;
    for (; hi > 0; --hi)
        if ((seen += double(hist[std::size_t(hi)])) > cut)
            break;
    std::array<double, 256> curve;
    for (int v = 0; v < 256; ++v) {
        if (hi <= lo)
            curve[std::size_t(v)] = v / 255.0;
        else
            curve[std::size_t(v)] = std::clamp(std::floor((v - lo) * 255.0 / (hi - lo)), 0.0, 255.0) / 255.0;
    }
    return curve;
}

// Everything one pass needs: the three channel tables and the colour step.
struct Plan {
    std::array<std::array<BYTE, 256>, 3> curve; // B, G, R
    std::int64_t saturation = 0;                // factor in 1/65536; 0: none
    bool grayscale = false;
    bool sepia = false;
    bool Colour() const { return saturation != 0 || grayscale || sepia; }
};

Plan MakePlan(const CxImage &img, const ToneSettings &tone)
{
    Plan plan;
    std::array<std::array<double, 256>, 3> curve;
    const bool levels = tone.autoLevels;
    Histogram hist;
    if (levels)
        hist = CountChannels(img);
    const double cut = 0.005 * double(img.GetWidth()) * double(img.GetHeight());
    // -brightness-contrast: a line through the grey of the brightness, its
    // slope from the contrast (0 at -100, 1 at 0, steep at 100).
    const double b = std::clamp(tone.brightness, -100, 100), c = std::clamp(tone.contrast, -100, 100);
    const double slope = std::max(0.0, std::tan(std::numbers::pi * (c / 100.0 + 1.0) / 4.0));
    const double intercept = b / 100.0 + (100.0 - b) / 200.0 * (1.0 - slope);
    const bool line = tone.brightness != 0 || tone.contrast != 0;
    const double gamma = std::clamp(tone.gamma, 0.1, 10.0);
    for (int ch = 0; ch < 3; ++ch) {
        for (int v = 0; v < 256; ++v)
            curve[std::size_t(ch)][std::size_t(v)] = v / 255.0;
        if (levels)
            curve[std::size_t(ch)] = StretchCurve(hist[std::size_t(ch)], cut);
        for (int v = 0; v < 256; ++v) {
            double x = curve[std::size_t(ch)][std::size_t(v)];
            if (line)
                x = std::clamp(slope * x + intercept, 0.0, 1.0);
            if (gamma != 1.0)
                x = std::pow(x, 1.0 / gamma);
            plan.curve[std::size_t(ch)][std::size_t(v)] = BYTE(std::lround(std::clamp(x, 0.0, 1.0) * 255.0));
        }
    }
    if (tone.saturation != 0) {
        plan.saturation = std::llround((1.0 + std::clamp(tone.saturation, -100, 100) / 100.0) * 65536.0);
        if (plan.saturation == 0) // -100: every pixel grey at its lightness
            plan.saturation = -1;
    }
    plan.grayscale = tone.grayscale;
    plan.sepia = tone.sepia;
    return plan;
}

inline int Clamp255(int v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// n pixels of B, G, R bytes, `step` bytes apart (3 in rows, 4 in a palette).
void ApplyPlan(BYTE *p, int n, int step, const Plan &plan)
{
    const BYTE *tb = plan.curve[0].data(), *tg = plan.curve[1].data(), *tr = plan.curve[2].data();
    if (!plan.Colour()) {
        for (int i = 0; i < n; ++i, p += step) {
            p[0] = tb[p[0]];
            p[1] = tg[p[1]];
            p[2] = tr[p[2]];
        }
        return;
    }
    const std::int64_t factor = plan.saturation < 0 ? 0 : plan.saturation;
    for (int i = 0; i < n; ++i, p += step) {
        int b = tb[p[0]], g = tg[p[1]], r = tr[p[2]];
        if (plan.saturation != 0) {
            // In HSL each channel is L + (c - L) scaled with the saturation;
            // past full saturation the channels clip, as ImageMagick's do.
            const int sum = std::max({r, g, b}) + std::min({r, g, b}); // 2 L
            const std::int64_t half = std::int64_t(sum) << 16;
            r = Clamp255(int((half + (2 * r - sum) * factor + (1 << 16)) >> 17));
            g = Clamp255(int((half + (2 * g - sum) * factor + (1 << 16)) >> 17));
            b = Clamp255(int((half + (2 * b - sum) * factor + (1 << 16)) >> 17));
        }
        if (plan.grayscale)
            r = g = b = (13933 * r + 46871 * g + 4732 * b + 32768) >> 16;
        if (plan.sepia) {
            const int nr = (25756 * r + 50397 * g + 12386 * b + 32768) >> 16;
            const int ng = (22872 * r + 44958 * g + 11010 * b + 32768) >> 16;
            const int nb = (17826 * r + 34996 * g + 8585 * b + 32768) >> 16;
            r = std::min(nr, 255);
            g = std::min(ng, 255);
            b = std::min(nb, 255);
        }
        p[0] = BYTE(b);
        p[1] = BYTE(g);
        p[2] = BYTE(r);
    }
}

} // namespace

void ApplyTone(CxImage &img, const ToneSettings &tone)
{
    if (!img.IsValid() || !tone.Any())
        return;
    const Plan plan = MakePlan(img, tone);
    if (img.GetBpp() != 24) {
        std::vector<RGBQUAD> pal(img.GetPalette(), img.GetPalette() + img.GetNumColors());
        ApplyPlan(reinterpret_cast<BYTE *>(pal.data()), int(pal.size()), int(sizeof(RGBQUAD)), plan);
        img.SetPalette(pal.data(), int(pal.size()));
        return;
    }
    const int w = img.GetWidth();
    cxops::ParallelBands(img.GetHeight(), double(w) * img.GetHeight() * (plan.Colour() ? 12 : 3),
                         [&](int y0, int y1) {
                             for (int y = y0; y < y1; ++y)
                                 ApplyPlan(img.GetBits(y), w, 3, plan);
                             return true;
                         });
}

// --- Trim box -----------------------------------------------------------------

namespace {

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba &) const = default;
};

Rgba ColourAt(const CxImage &img, int x, int y)
{
    const RGBQUAD c = img.GetPixelColor(x, y);
    const int a = img.GetBpp() == 24 ? (img.AlphaIsValid() ? c.rgbReserved : 255) : c.rgbReserved;
    return {c.rgbRed, c.rgbGreen, c.rgbBlue, a};
}

// Whether colours lie within the fuzz of the border colour. Distances are
// kept in integers scaled by 3 * 255^4: 3 * 255^2 * da^2 + a1 * a2 * (dr^2 +
// dg^2 + db^2).
class BorderTest {
public:
    BorderTest(Rgba border, double fuzzPercent) : m_border(border)
    {
        const double f = std::clamp(fuzzPercent, 0.0, 100.0) / 100.0;
        const double scale = 3.0 * 255.0 * 255.0 * 255.0 * 255.0;
        // A hair over, so a distance on the fuzz itself is in despite rounding.
        m_limit = std::int64_t(std::floor(f * f * scale * (1 + 1e-9)));
    }
    bool operator()(int r, int g, int b, int a) const
    {
        const std::int64_t da = a - m_border.a;
        const std::int64_t dr = r - m_border.r, dg = g - m_border.g, db = b - m_border.b;
        const std::int64_t d =
            3 * 255 * 255 * da * da + std::int64_t(a) * m_border.a * (dr * dr + dg * dg + db * db);
        return d <= m_limit;
    }

private:
    Rgba m_border;
    std::int64_t m_limit;
};

} // namespace

Box TrimBox(const CxImage &img, double fuzzPercent)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    if (!img.IsValid())
        return {};
    const Box whole{0, 0, w, h};
    const std::array<Rgba, 4> corners{ColourAt(img, 0, 0), ColourAt(img, w - 1, 0), ColourAt(img, 0, h - 1),
                                      ColourAt(img, w - 1, h - 1)};
    Rgba border = corners[0];
    long best = 0;
    for (const Rgba &c : corners) {
        const long n = std::count(corners.begin(), corners.end(), c);
        if (n > best) { // first of the most common: the top-left on a tie
            best = n;
            border = c;
        }
    }
    const BorderTest isBorder(border, fuzzPercent);

    // Per palette entry once; per pixel for colour.
    const bool colour = img.GetBpp() == 24;
    std::array<bool, 256> entryIsBorder{};
    if (!colour) {
        for (int i = 0; i < img.GetNumColors(); ++i) {
            const RGBQUAD c = img.GetPaletteColor(i);
            entryIsBorder[std::size_t(i)] =
                isBorder(c.rgbRed, c.rgbGreen, c.rgbBlue, i == img.GetTransIndex() ? 0 : 255);
        }
    }
    auto borderAt = [&](const BYTE *row, const BYTE *alpha, int x) {
        if (!colour)
            return entryIsBorder[row[x]];
        const BYTE *p = row + std::size_t(x) * 3;
        return isBorder(p[2], p[1], p[0], alpha ? alpha[x] : 255);
    };

    int left = w, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < h; ++y) {
        const BYTE *row = img.GetBits(y);
        const BYTE *alpha = colour ? img.AlphaGetPointer(y) : nullptr;
        int x = 0;
        while (x < w && borderAt(row, alpha, x))
            ++x;
        if (x == w)
            continue; // all border
        if (top < 0)
            top = y;
        bottom = y;
        left = std::min(left, x);
        // From the right only the columns beyond the box found so far matter.
        int xr = w - 1;
        while (xr > right && xr > x && borderAt(row, alpha, xr))
            --xr;
        right = std::max(right, xr);
    }
    if (top < 0)
        return whole;
    return {left, top, right - left + 1, bottom - top + 1};
}

Box UnionBox(const Box &a, const Box &b)
{
    if (a.width <= 0 || a.height <= 0)
        return b;
    if (b.width <= 0 || b.height <= 0)
        return a;
    const int left = std::min(a.left, b.left), top = std::min(a.top, b.top);
    const int right = std::max(a.left + a.width, b.left + b.width);
    const int bottom = std::max(a.top + a.height, b.top + b.height);
    return {left, top, right - left, bottom - top};
}

} // namespace cxadjust
