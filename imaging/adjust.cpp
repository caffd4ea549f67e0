// Tone and colour adjustments, and the trim box.
#include "imaging/adjust.h"

#include "imaging/pixelops.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <numbers>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
        // Colour: two sets of counts taking alternate pixels, so that a run
        // of one value does not wait on one counter.
        std::vector<std::uint32_t> counts(colour ? 6 * 256 : 256, 0);
        for (int y = y0; y < y1; ++y) {
            const BYTE *p = img.GetBits(y);
            if (colour) {
                std::uint32_t *a = counts.data(), *b = a + 3 * 256;
                int x = 0;
                for (; x + 1 < w; x += 2, p += 6) {
                    ++a[p[0]];
                    ++a[256 + p[1]];
                    ++a[512 + p[2]];
                    ++b[p[3]];
                    ++b[256 + p[4]];
                    ++b[512 + p[5]];
                }
                if (x < w) {
                    ++a[p[0]];
                    ++a[256 + p[1]];
                    ++a[512 + p[2]];
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
                    total[std::size_t(c)][std::size_t(v)] +=
                        counts[std::size_t(c * 256 + v)] + counts[std::size_t(768 + c * 256 + v)];
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

} // namespace

// Everything one pass needs: the three channel tables and the colour step.
struct TonePlan {
    std::array<std::array<BYTE, 256>, 3> curve; // B, G, R
    bool saturate = false;
    std::int16_t saturation = 0; // factor in 1/8192
    bool grayscale = false;
    bool sepia = false;
    bool sameCurves = false; // the three tables are one (no auto-levels)
    bool Colour() const { return saturate || grayscale || sepia; }
};

namespace {

using Plan = TonePlan;

// hist: the counts auto-levels stretches, of `pixels` pixels (null: none).
Plan MakePlan(const Histogram *hist, double pixels, const ToneSettings &tone)
{
    Plan plan;
    std::array<std::array<double, 256>, 3> curve;
    const bool levels = tone.autoLevels && hist;
    const double cut = 0.005 * pixels;
    // -brightness-contrast: a line through the grey of the brightness, its
    // slope from the contrast (0 at -100, 1 at 0, steep at 100).
    const double b = std::clamp(tone.brightness, -100, 100), c = std::clamp(tone.contrast, -100, 100);
    const double slope = std::max(0.0, std::tan(std::numbers::pi * (c / 100.0 + 1.0) / 4.0));
    const double intercept = b / 100.0 + (100.0 - b) / 200.0 * (1.0 - slope);
    const bool line = tone.brightness != 0 || tone.contrast != 0;
    const double gamma = std::isfinite(tone.gamma) ? std::clamp(tone.gamma, 0.1, 10.0) : 1.0;
    for (int ch = 0; ch < 3; ++ch) {
        for (int v = 0; v < 256; ++v)
            curve[std::size_t(ch)][std::size_t(v)] = v / 255.0;
        if (levels)
            curve[std::size_t(ch)] = StretchCurve((*hist)[std::size_t(ch)], cut);
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
        plan.saturate = true;
        plan.saturation =
            std::int16_t(std::lround((1.0 + std::clamp(tone.saturation, -100, 100) / 100.0) * 8192.0));
    }
    plan.grayscale = tone.grayscale;
    plan.sepia = tone.sepia;
    plan.sameCurves = plan.curve[0] == plan.curve[1] && plan.curve[1] == plan.curve[2];
    return plan;
}

// The colour step works on a chunk of pixels held as planes of 16-bit
// values, in loops the compiler turns into vector code: fixed point with
// the high half of 16 x 16-bit products.
constexpr int kChunk = 64;
struct Chunk {
    alignas(16) std::int16_t b[kChunk], g[kChunk], r[kChunk];
};

[[gnu::always_inline]] inline std::int16_t MulHigh(std::int16_t a, std::int16_t b)
{
    return std::int16_t((std::int32_t(a) * b) >> 16);
}

[[gnu::always_inline]] inline std::uint16_t MulHighU(std::uint16_t a, std::uint16_t b)
{
    return std::uint16_t((std::uint32_t(a) * b) >> 16);
}

// HSL keeps L = (max + min) / 2 and has each channel at L + (c - L) times
// the saturation; past full saturation the channels clip, as ImageMagick's do.
[[gnu::always_inline]] inline void Saturate(Chunk &c, std::int16_t factor)
{
    // (sum + (2 v - sum) * factor) / 2, clipped; every step fits 16 bits.
    auto scaled = [factor](std::int16_t v, std::int16_t sum) {
        const std::int16_t t = MulHigh(std::int16_t((2 * v - sum) << 6), factor);
        const std::int16_t x = std::int16_t(std::int16_t(sum * 8 + t + 8) >> 4);
        return std::min(std::max(x, std::int16_t(0)), std::int16_t(255));
    };
    for (int i = 0; i < kChunk; ++i) {
        const std::int16_t r = c.r[i], g = c.g[i], b = c.b[i];
        const std::int16_t sum = std::int16_t(std::max(std::max(r, g), b) + std::min(std::min(r, g), b));
        c.r[i] = scaled(r, sum);
        c.g[i] = scaled(g, sum);
        c.b[i] = scaled(b, sum);
    }
}

[[gnu::always_inline]] inline void Grayscale(Chunk &c)
{
    for (int i = 0; i < kChunk; ++i) {
        const int y =
            (MulHighU(std::uint16_t(c.r[i] << 8), 13933) + MulHighU(std::uint16_t(c.g[i] << 8), 46871) +
             MulHighU(std::uint16_t(c.b[i] << 8), 4732) + 128) >>
            8;
        c.r[i] = c.g[i] = c.b[i] = std::int16_t(y);
    }
}

[[gnu::always_inline]] inline void Sepia(Chunk &c)
{
    // Weights in 1/65536 of values in 1/128: the sums stay below 2^16.
    auto mix = [](int r, int g, int b, std::uint16_t wr, std::uint16_t wg, std::uint16_t wb) {
        const int v = (MulHighU(std::uint16_t(r << 7), wr) + MulHighU(std::uint16_t(g << 7), wg) +
                       MulHighU(std::uint16_t(b << 7), wb) + 64) >>
                      7;
        return std::int16_t(std::min(v, 255));
    };
    for (int i = 0; i < kChunk; ++i) {
        const int r = c.r[i], g = c.g[i], b = c.b[i];
        c.r[i] = mix(r, g, b, 25756, 50397, 12386);
        c.g[i] = mix(r, g, b, 22872, 44958, 11010);
        c.b[i] = mix(r, g, b, 17826, 34996, 8585);
    }
}

// The colour step on whole chunks of packed B, G, R bytes. A second copy
// for processors with AVX2, chosen when the program loads, moves the bytes
// to and from the planes in vectors too.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void ColourChunks(BYTE *bgr, int chunks, const Plan &plan)
{
    Chunk c;
    for (int k = 0; k < chunks; ++k, bgr += kChunk * 3) {
        for (int i = 0; i < kChunk; ++i) {
            c.b[i] = bgr[3 * i];
            c.g[i] = bgr[3 * i + 1];
            c.r[i] = bgr[3 * i + 2];
        }
        if (plan.saturate)
            Saturate(c, plan.saturation);
        if (plan.grayscale)
            Grayscale(c);
        if (plan.sepia)
            Sepia(c);
        for (int i = 0; i < kChunk; ++i) {
            bgr[3 * i] = BYTE(c.b[i]);
            bgr[3 * i + 1] = BYTE(c.g[i]);
            bgr[3 * i + 2] = BYTE(c.r[i]);
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The channel tables over 64 bytes at a time with AVX-512's byte
// permutations: a table of 256 is two of 128 (two registers each), the
// index's top bit choosing between them. 64 is one more than a multiple of
// 3, so each vector starts one channel on from the one before; the masks
// say which bytes are which channel. Returns the bytes done, a multiple of 3.
// Bytes of channel c in a vector whose first byte is of channel phase.
constexpr std::array<std::array<std::uint64_t, 3>, 3> kChannelBytes = [] {
    std::array<std::array<std::uint64_t, 3>, 3> mask{};
    for (int phase = 0; phase < 3; ++phase)
        for (int i = 0; i < 64; ++i)
            mask[std::size_t(phase)][std::size_t((phase + i) % 3)] |= std::uint64_t(1) << i;
    return mask;
}();

#define VELMORA_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))
VELMORA_VBMI __attribute__((always_inline)) inline __m512i Look(const __m512i t[4], __m512i v)
{
    const __m512i low = _mm512_permutex2var_epi8(t[0], v, t[1]);
    const __m512i high = _mm512_permutex2var_epi8(t[2], v, t[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

VELMORA_VBMI std::size_t CurvesVbmi(BYTE *p, std::size_t bytes, const Plan &plan)
{
    __m512i t[3][4];
    for (int c = 0; c < 3; ++c)
        for (int q = 0; q < 4; ++q)
            t[c][q] = _mm512_loadu_si512(plan.curve[std::size_t(c)].data() + 64 * q);
    // Whole runs of three vectors (64 pixels), so the rest starts on a pixel.
    const std::size_t end = bytes / 192 * 192;
    std::size_t i = 0;
    for (int phase = 0; i < end; i += 64, phase = phase == 2 ? 0 : phase + 1) {
        const __m512i v = _mm512_loadu_si512(p + i);
        __m512i out = Look(t[0], v);
        if (!plan.sameCurves) {
            out = _mm512_mask_blend_epi8(kChannelBytes[phase][1], out, Look(t[1], v));
            out = _mm512_mask_blend_epi8(kChannelBytes[phase][2], out, Look(t[2], v));
        }
        _mm512_storeu_si512(p + i, out);
    }
    return i;
}
#undef VELMORA_VBMI

bool HaveVbmi()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
}
std::atomic<bool> g_vbmi{HaveVbmi()};
#endif

// n pixels of B, G, R bytes, `step` bytes apart (3 in rows, 4 in a palette):
// through the channel tables, then the colour step.
void ApplyPlan(BYTE *p, int n, int step, const Plan &plan)
{
    const BYTE *tb = plan.curve[0].data(), *tg = plan.curve[1].data(), *tr = plan.curve[2].data();
    int from = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    if (step == 3 && g_vbmi.load(std::memory_order_relaxed))
        from = int(CurvesVbmi(p, std::size_t(n) * 3, plan) / 3);
#endif
    BYTE *q = p + std::size_t(from) * std::size_t(step);
    for (int i = from; i < n; ++i, q += step) {
        q[0] = tb[q[0]];
        q[1] = tg[q[1]];
        q[2] = tr[q[2]];
    }
    if (!plan.Colour())
        return;
    const int whole = step == 3 ? n / kChunk : 0;
    ColourChunks(p, whole, plan);
    // The rest (and a palette's entries) through a buffer of one chunk.
    BYTE buf[kChunk * 3] = {};
    for (int start = whole * kChunk; start < n; start += kChunk) {
        const int m = std::min(kChunk, n - start);
        BYTE *first = p + std::size_t(start) * std::size_t(step);
        q = first;
        for (int i = 0; i < m; ++i, q += step)
            std::memcpy(buf + 3 * i, q, 3);
        ColourChunks(buf, 1, plan);
        q = first;
        for (int i = 0; i < m; ++i, q += step)
            std::memcpy(q, buf + 3 * i, 3);
    }
}

} // namespace

void ApplyTone(CxImage &img, const ToneSettings &tone)
{
    if (!img.IsValid() || !tone.Any())
        return;
    Histogram hist;
    if (tone.autoLevels)
        hist = CountChannels(img);
    const Plan plan = MakePlan(&hist, double(img.GetWidth()) * double(img.GetHeight()), tone);
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

void LevelCounts::Row(const BYTE *bgr, int width)
{
    for (int x = 0; x < width; ++x, bgr += 3) {
        ++counts[0][bgr[0]];
        ++counts[1][bgr[1]];
        ++counts[2][bgr[2]];
    }
    pixels += std::uint64_t(width);
}

ToneRows::ToneRows(const ToneSettings &tone, const LevelCounts *counts)
{
    ToneSettings rows = tone;
    rows.autoLevels = tone.autoLevels && counts;
    m_plan = std::make_unique<TonePlan>(
        MakePlan(counts ? &counts->counts : nullptr, counts ? double(counts->pixels) : 0.0, rows));
}

ToneRows::~ToneRows() = default;

void ToneRows::Row(BYTE *bgr, int width) const
{
    ApplyPlan(bgr, width, 3, *m_plan);
}

// --- Trim box -----------------------------------------------------------------

namespace {

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba &) const = default;
};

// Whether colours lie within the fuzz of the border colour. Distances are
// kept in integers scaled by 3 * 255^4: 3 * 255^2 * da^2 + a1 * a2 * (dr^2 +
// dg^2 + db^2).
class BorderTest {
public:
    BorderTest(Rgba border, double fuzzPercent) : m_border(border)
    {
        const double f = std::isfinite(fuzzPercent) ? std::clamp(fuzzPercent, 0.0, 100.0) / 100.0 : 0.0;
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

struct TrimScan::State {
    State(Rgba border, double fuzz) : isBorder(border, fuzz) {}
    BorderTest isBorder;
    bool colour = true;
    std::array<bool, 256> entryIsBorder{};
    int left = std::numeric_limits<int>::max(), right = -1, top = -1, bottom = -1;

    bool BorderAt(const BYTE *row, const BYTE *alpha, int x) const
    {
        if (!colour)
            return entryIsBorder[row[x]];
        const BYTE *p = row + std::size_t(x) * 3;
        return isBorder(p[2], p[1], p[0], alpha ? alpha[x] : 255);
    }
};

TrimScan::TrimScan(const CxImage &facts, const std::array<RGBQUAD, 4> &corners, double fuzzPercent)
{
    const bool colour = facts.GetBpp() == 24;
    std::array<Rgba, 4> seen;
    for (std::size_t k = 0; k < 4; ++k) {
        const RGBQUAD c = corners[k];
        seen[k] = {c.rgbRed, c.rgbGreen, c.rgbBlue, colour && !facts.AlphaIsValid() ? 255 : c.rgbReserved};
    }
    Rgba border = seen[0];
    long best = 0;
    for (const Rgba &c : seen) {
        const long n = std::count(seen.begin(), seen.end(), c);
        if (n > best) { // first of the most common: the top-left on a tie
            best = n;
            border = c;
        }
    }
    m = std::make_unique<State>(border, fuzzPercent);
    // Per palette entry once; per pixel for colour.
    m->colour = colour;
    if (!colour) {
        for (int i = 0; i < facts.GetNumColors(); ++i) {
            const RGBQUAD c = facts.GetPaletteColor(i);
            m->entryIsBorder[std::size_t(i)] =
                m->isBorder(c.rgbRed, c.rgbGreen, c.rgbBlue, i == facts.GetTransIndex() ? 0 : 255);
        }
    }
}

TrimScan::~TrimScan() = default;

void TrimScan::Row(int y, const BYTE *row, const BYTE *alpha, int w)
{
    State &s = *m;
    if (!s.colour)
        alpha = nullptr;
    int x = 0;
    while (x < w && s.BorderAt(row, alpha, x))
        ++x;
    if (x == w)
        return; // all border
    s.top = s.top < 0 ? y : std::min(s.top, y);
    s.bottom = std::max(s.bottom, y);
    s.left = std::min(s.left, x);
    // From the right only the columns beyond the box found so far matter.
    int xr = w - 1;
    while (xr > s.right && xr > x && s.BorderAt(row, alpha, xr))
        --xr;
    s.right = std::max(s.right, xr);
}

Box TrimScan::Result(int width, int height) const
{
    if (m->top < 0)
        return {0, 0, width, height};
    return {m->left, m->top, m->right - m->left + 1, m->bottom - m->top + 1};
}

Box TrimBox(const CxImage &img, double fuzzPercent)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    if (!img.IsValid())
        return {};
    TrimScan scan(img,
                  {img.GetPixelColor(0, 0), img.GetPixelColor(w - 1, 0), img.GetPixelColor(0, h - 1),
                   img.GetPixelColor(w - 1, h - 1)},
                  fuzzPercent);
    const bool colour = img.GetBpp() == 24;
    for (int y = 0; y < h; ++y)
        scan.Row(y, img.GetBits(y), colour ? img.AlphaGetPointer(y) : nullptr, w);
    return scan.Result(w, h);
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

void cxcodec::testhooks::SetToneVectors(bool on)
{
#if defined(__x86_64__) && defined(__GNUC__)
    cxadjust::g_vbmi = on && cxadjust::HaveVbmi();
#else
    (void)on;
#endif
}
