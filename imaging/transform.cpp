// Rotations, convolution filters and depth changes.
#include "imaging/cximage.h"

#include "imaging/codecs/codecs.h"
#include "imaging/octreequantizer.h"
#include "imaging/pixelops.h"
#include "imaging/rowfilter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace cxops {

void DeliverInto(const CxImage &src, CxImage &dst, CxImage &&result)
{
    const int frame = src.GetFrame();
    const int frames = src.GetNumFrames();
    const int delay = src.GetFrameDelay();
    const int disposal = src.GetDisposalMethod();
    const BYTE quality = src.GetJpegQuality();
    const CEncoderSettings encoder = src.GetEncoderSettings();
    const int srcW = src.GetSrcWidth(), srcH = src.GetSrcHeight();
    dst = std::move(result);
    CxImageAccess::SetFrameIndex(dst, frame);
    dst.SetJpegQuality(quality);
    dst.SetEncoderSettings(encoder);
    CxImageAccess::SetFrameInfo(dst, frames, delay, disposal);
    CxImageAccess::SetSourceSize(dst, srcW, srcH);
}

}  // namespace cxops

namespace {

// Copies destination rows [y0, y1) of a plane stored with the given
// orientation (1 to 8) turned upright; dw x dh is the upright size. Rows
// that are source columns (5 to 8) are walked in tiles so the source rows
// they read stay in cache.
template <int N>
void OrientPlane(const BYTE *src, std::size_t sstride, BYTE *dst, std::size_t dstride, int dw, int dh,
                 int orientation, int y0, int y1)
{
    const bool flipX = orientation == 2 || orientation == 3 || orientation == 6 || orientation == 7;
    const bool flipY = orientation == 3 || orientation == 4 || orientation == 7 || orientation == 8;
    if (orientation < 5) {
        for (int y = y0; y < y1; ++y) {
            const BYTE *s = src + std::size_t(flipY ? dh - 1 - y : y) * sstride;
            BYTE *d = dst + std::size_t(y) * dstride;
            if (!flipX) {
                std::memcpy(d, s, std::size_t(dw) * N);
                continue;
            }
            s += std::size_t(dw - 1) * N;
            for (int x = 0; x < dw; ++x, s -= N, d += N)
                std::memcpy(d, s, N);
        }
        return;
    }
    // Destination (x, y) comes from source row x (flipX: dw-1-x) and column
    // y (flipY: dh-1-y).
    constexpr int kTile = 64;
    const std::ptrdiff_t step = flipX ? -std::ptrdiff_t(sstride) : std::ptrdiff_t(sstride);
    for (int ty = y0; ty < y1; ty += kTile) {
        const int ty1 = std::min(y1, ty + kTile);
        for (int tx = 0; tx < dw; tx += kTile) {
            const int tx1 = std::min(dw, tx + kTile);
            for (int y = ty; y < ty1; ++y) {
                BYTE *d = dst + std::size_t(y) * dstride + std::size_t(tx) * N;
                const BYTE *s = src + std::size_t(flipX ? dw - 1 - tx : tx) * sstride +
                                std::size_t(flipY ? dh - 1 - y : y) * N;
                for (int x = tx; x < tx1; ++x, d += N, s += step)
                    std::memcpy(d, s, N);
            }
        }
    }
}

// Builds the upright copy of src, stored with the given orientation, in out
// (depth, palette, transparency and alpha kept).
bool OrientInto(const CxImage &src, CxImage &out, int orientation)
{
    const int w = src.GetWidth(), h = src.GetHeight();
    const bool transposed = orientation >= 5;
    const int nw = transposed ? h : w;
    const int nh = transposed ? w : h;
    if (!out.Create(nw, nh, src.GetBpp(), src.GetType()))
        return false;
    if (src.AlphaIsValid() && !out.AlphaCreate())
        return false;
    if (src.GetBpp() != 24) {
        out.SetPalette(src.GetPalette(), src.GetNumColors());
        out.SetTransIndex(src.GetTransIndex());
    }
    const bool colour = src.GetBpp() == 24;
    const double work = double(w) * h * (colour ? 3 : 1) * (src.AlphaIsValid() ? 2 : 1);
    return cxops::ParallelBands(nh, work, [&](int y0, int y1) {
        if (colour)
            OrientPlane<3>(src.GetBits(0), std::size_t(src.GetEffWidth()), out.GetBits(0),
                           std::size_t(out.GetEffWidth()), nw, nh, orientation, y0, y1);
        else
            OrientPlane<1>(src.GetBits(0), std::size_t(src.GetEffWidth()), out.GetBits(0),
                           std::size_t(out.GetEffWidth()), nw, nh, orientation, y0, y1);
        if (src.AlphaIsValid())
            OrientPlane<1>(src.AlphaGetPointer(0), std::size_t(w), out.AlphaGetPointer(0), std::size_t(nw),
                           nw, nh, orientation, y0, y1);
        return true;
    });
}

// Exact nearest palette entry (squared RGB distance, lowest index on ties).
// Each cell of a 5-bit colour cube keeps, once first asked, the entries that
// can be nearest anywhere inside it, so a lookup searches only those.
class PaletteMatcher {
public:
    PaletteMatcher(const RGBQUAD *pal, int count, int excluded)
    {
        for (int i = 0; i < count; ++i) {
            if (i == excluded)
                continue;
            m_index.push_back(BYTE(i));
            m_r.push_back(pal[i].rgbRed);
            m_g.push_back(pal[i].rgbGreen);
            m_b.push_back(pal[i].rgbBlue);
        }
        m_cellStart.assign(kCells, -1);
        m_cellCount.assign(kCells, 0);
    }

    bool Empty() const { return m_index.empty(); }

    int Nearest(int r, int g, int b)
    {
        const int cell = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
        if (m_cellStart[std::size_t(cell)] < 0)
            BuildCell(cell);
        const std::size_t start = std::size_t(m_cellStart[std::size_t(cell)]);
        const BYTE *cand = m_candidates.data() + start;
        const int *lower = m_lowerBound.data() + start;
        const int n = m_cellCount[std::size_t(cell)];
        int best = 0;
        int bestDist = std::numeric_limits<int>::max();
        // Candidates come nearest-first by their distance to the cell, which
        // bounds their distance to any colour in it: stop once it cannot win.
        for (int k = 0; k < n && lower[k] <= bestDist; ++k) {
            const int j = cand[k];
            const int dr = r - m_r[std::size_t(j)], dg = g - m_g[std::size_t(j)], db = b - m_b[std::size_t(j)];
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDist || (d == bestDist && j < best)) {
                bestDist = d;
                best = j;
            }
        }
        return m_index[std::size_t(best)];
    }

private:
    static constexpr int kCells = 32 * 32 * 32;

    static int MinDist(int v, int lo, int hi)
    {
        const int d = v < lo ? lo - v : (v > hi ? v - hi : 0);
        return d * d;
    }
    static int MaxDist(int v, int lo, int hi)
    {
        const int d = std::max(std::abs(v - lo), std::abs(v - hi));
        return d * d;
    }

    void BuildCell(int cell)
    {
        const int r0 = (cell >> 10) << 3, g0 = ((cell >> 5) & 31) << 3, b0 = (cell & 31) << 3;
        const int n = int(m_index.size());
        // The entry whose farthest point of the cell is nearest bounds the
        // distance of the answer; entries that cannot come within it are out.
        int bound = std::numeric_limits<int>::max();
        for (int j = 0; j < n; ++j) {
            const int d = MaxDist(m_r[std::size_t(j)], r0, r0 + 7) + MaxDist(m_g[std::size_t(j)], g0, g0 + 7) +
                          MaxDist(m_b[std::size_t(j)], b0, b0 + 7);
            bound = std::min(bound, d);
        }
        m_scratch.clear();
        for (int j = 0; j < n; ++j) {
            const int d = MinDist(m_r[std::size_t(j)], r0, r0 + 7) + MinDist(m_g[std::size_t(j)], g0, g0 + 7) +
                          MinDist(m_b[std::size_t(j)], b0, b0 + 7);
            if (d <= bound)
                m_scratch.emplace_back(d, j);
        }
        std::sort(m_scratch.begin(), m_scratch.end());
        m_cellStart[std::size_t(cell)] = int(m_candidates.size());
        for (const auto &[d, j] : m_scratch) {
            m_candidates.push_back(BYTE(j));
            m_lowerBound.push_back(d);
        }
        m_cellCount[std::size_t(cell)] = std::uint16_t(m_scratch.size());
    }

    std::vector<BYTE> m_index;  // palette index of each candidate slot
    std::vector<int> m_r, m_g, m_b;
    std::vector<int> m_cellStart;
    std::vector<std::uint16_t> m_cellCount;
    std::vector<BYTE> m_candidates;  // slots into m_index
    std::vector<int> m_lowerBound;   // each candidate's distance to its cell
    std::vector<std::pair<int, int>> m_scratch;
};

// One row of any image as R, G, B bytes plus a flag for transparent pixels
// (transparent index, or alpha below half).
void ReadRow(const CxImage &img, int y, BYTE *rgb, BYTE *clear)
{
    const int w = img.GetWidth();
    const BYTE *src = img.GetBits(y);
    if (img.GetBpp() == 24) {
        const BYTE *a = img.AlphaGetPointer(y);
        for (int x = 0; x < w; ++x) {
            rgb[x * 3] = src[x * 3 + 2];
            rgb[x * 3 + 1] = src[x * 3 + 1];
            rgb[x * 3 + 2] = src[x * 3];
            clear[x] = a && a[x] < 128;
        }
        return;
    }
    const RGBQUAD *pal = img.GetPalette();
    const int trans = img.GetTransIndex();
    for (int x = 0; x < w; ++x) {
        const RGBQUAD &c = pal[src[x]];
        rgb[x * 3] = c.rgbRed;
        rgb[x * 3 + 1] = c.rgbGreen;
        rgb[x * 3 + 2] = c.rgbBlue;
        clear[x] = src[x] == trans;
    }
}

bool AnyClear(const CxImage &img)
{
    if (img.GetBpp() == 24) {
        for (int y = 0; y < img.GetHeight(); ++y) {
            const BYTE *a = img.AlphaGetPointer(y);
            if (!a)
                return false;
            if (std::any_of(a, a + img.GetWidth(), [](BYTE v) { return v < 128; }))
                return true;
        }
        return false;
    }
    return img.IsTransparent();
}

// A paletted source without diffusion: each palette entry maps the same
// way wherever it is.
void MapPaletteEntries(const CxImage &src, CxImage &out, PaletteMatcher &match, int clearIndex)
{
    const int w = src.GetWidth(), h = src.GetHeight();
    std::array<int, 256> lut;
    lut.fill(-1);
    const RGBQUAD *spal = src.GetPalette();
    const int trans = src.GetTransIndex();
    for (int y = 0; y < h; ++y) {
        const BYTE *s = src.GetBits(y);
        BYTE *d = out.GetBits(y);
        for (int x = 0; x < w; ++x) {
            const BYTE i = s[x];
            if (i == trans) {
                d[x] = BYTE(clearIndex);
                continue;
            }
            if (lut[i] < 0)
                lut[i] = match.Nearest(spal[i].rgbRed, spal[i].rgbGreen, spal[i].rgbBlue);
            d[x] = BYTE(lut[i]);
        }
    }
}

// Each pixel to its nearest entry; runs of one colour are matched once.
void MapNearest(const CxImage &src, CxImage &out, PaletteMatcher &match, int clearIndex)
{
    const int w = src.GetWidth(), h = src.GetHeight();
    std::vector<BYTE> rgb(std::size_t(w) * 3), clear(static_cast<std::size_t>(w));
    std::uint32_t lastKey = 0xFFFFFFFF;
    int lastIndex = 0;
    for (int y = 0; y < h; ++y) {
        ReadRow(src, y, rgb.data(), clear.data());
        BYTE *d = out.GetBits(y);
        for (int x = 0; x < w; ++x) {
            if (clear[std::size_t(x)]) {
                d[x] = BYTE(clearIndex);
                continue;
            }
            const BYTE *p = &rgb[std::size_t(x) * 3];
            const std::uint32_t key = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
            if (key != lastKey) {
                lastKey = key;
                lastIndex = match.Nearest(p[0], p[1], p[2]);
            }
            d[x] = BYTE(lastIndex);
        }
    }
}

// Floyd-Steinberg on a serpentine path; transparent pixels neither take nor
// pass on error.
void MapDiffused(const CxImage &src, CxImage &out, PaletteMatcher &match, const RGBQUAD *pal, int clearIndex)
{
    const int w = src.GetWidth(), h = src.GetHeight();
    std::vector<BYTE> rgb(std::size_t(w) * 3), clear(static_cast<std::size_t>(w));
    // Errors in sixteenths, one guard pixel at each end.
    std::vector<int> cur(std::size_t(w + 2) * 3, 0), next(std::size_t(w + 2) * 3, 0);
    for (int y = 0; y < h; ++y) {
        ReadRow(src, y, rgb.data(), clear.data());
        BYTE *d = out.GetBits(y);
        const bool forward = (y & 1) == 0;
        const int dir = forward ? 1 : -1;
        std::fill(next.begin(), next.end(), 0);
        for (int i = 0; i < w; ++i) {
            const int x = forward ? i : w - 1 - i;
            if (clear[std::size_t(x)]) {
                d[x] = BYTE(clearIndex);
                continue;
            }
            int v[3];
            const std::size_t e = std::size_t(x + 1) * 3;
            for (int c = 0; c < 3; ++c)
                v[c] = std::clamp(int(rgb[std::size_t(x) * 3 + std::size_t(c)]) + ((cur[e + std::size_t(c)] + 8) >> 4),
                                  0, 255);
            const int idx = match.Nearest(v[0], v[1], v[2]);
            d[x] = BYTE(idx);
            const int err[3] = {v[0] - pal[idx].rgbRed, v[1] - pal[idx].rgbGreen, v[2] - pal[idx].rgbBlue};
            const std::size_t ahead = std::size_t(x + 1 + dir) * 3, behind = std::size_t(x + 1 - dir) * 3;
            for (int c = 0; c < 3; ++c) {
                cur[ahead + std::size_t(c)] += err[c] * 7;
                next[behind + std::size_t(c)] += err[c] * 3;
                next[e + std::size_t(c)] += err[c] * 5;
                next[ahead + std::size_t(c)] += err[c];
            }
        }
        cur.swap(next);
    }
}

// Maps every opaque pixel of src to an entry of the matcher, writing the
// indices into out (transparent pixels get `clearIndex`), with error
// diffusion when asked.
void MapPixels(const CxImage &src, CxImage &out, PaletteMatcher &match, const RGBQUAD *pal, bool diffuse,
               int clearIndex)
{
    if (diffuse)
        MapDiffused(src, out, match, pal, clearIndex);
    else if (src.GetBpp() != 24)
        MapPaletteEntries(src, out, match, clearIndex);
    else
        MapNearest(src, out, match, clearIndex);
}

// The octree's palette of the opaque pixels (transparent ones would only
// waste entries, so one is kept free for them); returns the entries used.
int QuantizedPalette(const CxImage &img, int n, bool clear, RGBQUAD *pal)
{
    COctreeQuantizer quant(clear ? n - 1 : n, 6);
    if (!clear) {
        quant.ProcessImage(img);
    } else {
        const int w = img.GetWidth();
        std::vector<BYTE> rgb(std::size_t(w) * 3), flags(static_cast<std::size_t>(w));
        for (int y = img.GetHeight() - 1; y >= 0; --y) {
            ReadRow(img, y, rgb.data(), flags.data());
            for (int x = 0; x < w; ++x)
                if (!flags[std::size_t(x)])
                    quant.AddColor(rgb[std::size_t(x) * 3], rgb[std::size_t(x) * 3 + 1], rgb[std::size_t(x) * 3 + 2],
                                   0);
        }
    }
    const int usable = std::max(1, quant.GetColorCount());
    quant.SetColorTable(pal);
    return usable;
}

// Gives the transparent pixels of src an entry of out's palette that no
// opaque pixel shows: an unused one, or else the least used, whose pixels
// go to their next-nearest. Returns the entry.
int MarkClearPixels(const CxImage &src, CxImage &out, const RGBQUAD *pal, int n, int usable, bool diffuse)
{
    const int w = src.GetWidth(), h = src.GetHeight();
    std::vector<std::uint64_t> use(std::size_t(n), 0);
    std::vector<BYTE> rgb(std::size_t(w) * 3), flags(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        ReadRow(src, y, rgb.data(), flags.data());
        const BYTE *d = out.GetBits(y);
        for (int x = 0; x < w; ++x)
            if (!flags[std::size_t(x)])
                ++use[d[x]];
    }
    int trans = -1;
    for (int i = n - 1; i >= 0 && trans < 0; --i)
        if (use[std::size_t(i)] == 0)
            trans = i;
    if (trans < 0) {
        trans = int(std::min_element(use.begin(), use.end()) - use.begin());
        PaletteMatcher match(pal, usable, trans);
        MapPixels(src, out, match, pal, diffuse, trans);
        return trans;
    }
    for (int y = 0; y < h; ++y) {
        ReadRow(src, y, rgb.data(), flags.data());
        BYTE *d = out.GetBits(y);
        for (int x = 0; x < w; ++x)
            if (flags[std::size_t(x)])
                d[x] = BYTE(trans);
    }
    return trans;
}

}  // namespace

bool CxImage::RotateBy(int quarterTurns, CxImage *iDst)
{
    // A left turn is what orientation 8 undoes, a right turn 6, a half turn 3.
    return OrientBy(quarterTurns == 1 ? 8 : quarterTurns == 3 ? 6 : 3, iDst);
}

bool CxImage::OrientBy(int orientation, CxImage *iDst)
{
    if (!IsValid()) {
        SetError("no image");
        return false;
    }
    CxImage out;
    if (!OrientInto(*this, out, orientation)) {
        m_lastError = out.m_lastError;
        return false;
    }
    if (m_transColorSet)
        out.SetTransColor(m_transColor);
    if (iDst && iDst != this)
        cxops::DeliverInto(*this, *iDst, std::move(out));
    else
        TakePixels(std::move(out));
    return true;
}

bool CxImage::ApplyOrientation()
{
    if (m_orientation == 1 || !IsValid())
        return true;
    if (!OrientBy(m_orientation, nullptr))
        return false;
    if (m_orientation >= 5)
        std::swap(m_srcWidth, m_srcHeight);
    m_orientation = 1;
    return true;
}

bool CxImage::RotateLeft(CxImage *iDst)
{
    return RotateBy(1, iDst);
}

bool CxImage::RotateRight(CxImage *iDst)
{
    return RotateBy(3, iDst);
}

bool CxImage::Rotate180(CxImage *iDst)
{
    return RotateBy(2, iDst);
}

namespace {

// Reverses each row of a plane of N-byte pixels, rows [y0, y1).
template <int N> void MirrorRows(BYTE *plane, std::size_t stride, int width, int y0, int y1)
{
    for (int y = y0; y < y1; ++y) {
        BYTE *l = plane + std::size_t(y) * stride;
        BYTE *r = l + std::size_t(width - 1) * N;
        for (; l < r; l += N, r -= N)
            for (int k = 0; k < N; ++k)
                std::swap(l[k], r[k]);
    }
}

// Swaps row y with row height-1-y for y in [y0, y1), y1 <= height / 2.
void SwapRows(BYTE *plane, std::size_t stride, std::size_t bytes, int height, int y0, int y1)
{
    for (int y = y0; y < y1; ++y)
        std::swap_ranges(plane + std::size_t(y) * stride, plane + std::size_t(y) * stride + bytes,
                         plane + std::size_t(height - 1 - y) * stride);
}

}  // namespace

bool CxImage::Mirror()
{
    if (!IsValid() || m_bandRows > 0) {
        SetError("no image");
        return false;
    }
    const bool colour = m_bpp == 24;
    BYTE *alpha = AlphaIsValid() ? m_alpha.data() : nullptr;
    const double work = double(m_width) * m_height * (colour ? 3 : 1) * (alpha ? 2 : 1);
    return cxops::ParallelBands(m_height, work, [&](int y0, int y1) {
        if (colour)
            MirrorRows<3>(m_pixels.data(), std::size_t(m_stride), m_width, y0, y1);
        else
            MirrorRows<1>(m_pixels.data(), std::size_t(m_stride), m_width, y0, y1);
        if (alpha)
            MirrorRows<1>(alpha, std::size_t(m_width), m_width, y0, y1);
        return true;
    });
}

void CxImage::MirrorRow(BYTE *pixels, int width, int bpp)
{
    if (bpp == 24)
        MirrorRows<3>(pixels, 0, width, 0, 1);
    else
        MirrorRows<1>(pixels, 0, width, 0, 1);
}

bool CxImage::Flip()
{
    if (!IsValid() || m_bandRows > 0) {
        SetError("no image");
        return false;
    }
    const std::size_t rowBytes = std::size_t(m_width) * (m_bpp == 24 ? 3 : 1);
    BYTE *alpha = AlphaIsValid() ? m_alpha.data() : nullptr;
    const double work = double(rowBytes) * m_height * (alpha ? 2 : 1);
    return cxops::ParallelBands(m_height / 2, work, [&](int y0, int y1) {
        SwapRows(m_pixels.data(), std::size_t(m_stride), rowBytes, m_height, y0, y1);
        if (alpha)
            SwapRows(alpha, std::size_t(m_width), std::size_t(m_width), m_height, y0, y1);
        return true;
    });
}

namespace {

struct FilterTap {
    int ky, kx;
    long k;
};

// A kernel ready for sums: its nonzero taps, and for the ordinary kernels
// a table from each raw sum to its clamped result.
struct FilterKernel {
    std::vector<FilterTap> taps;
    int size = 0, radius = 0;
    long divisor = 1, offset = 0;
    std::int64_t lo = 0, hi = 0; // the least and greatest sum
    bool useTable = false;
    std::vector<BYTE> table;

    BYTE Finish(std::int64_t sum) const
    {
        return BYTE(std::clamp<std::int64_t>(sum / divisor + offset, 0, 255));
    }
};

// False for a kernel no one asks for: larger ones would only burn time.
bool ReadKernel(const long *kernel, long ksize, long kfactor, long koffset, FilterKernel &fk)
{
    if (!kernel || ksize < 1 || ksize % 2 == 0 || ksize > 255)
        return false;
    std::int64_t negSum = 0, posSum = 0;
    for (long i = 0; i < ksize * ksize; ++i) {
        const long k = kernel[i];
        if (k < -(1L << 24) || k > (1L << 24))
            return false;
        if (k != 0)
            fk.taps.push_back(FilterTap{int(i / ksize), int(i % ksize), k});
        (k < 0 ? negSum : posSum) += k;
    }
    fk.size = int(ksize);
    fk.radius = int(ksize / 2);
    fk.divisor = kfactor == 0 ? 1 : kfactor;
    fk.offset = koffset;
    fk.lo = negSum * 255;
    fk.hi = posSum * 255;
    // Sums of every ordinary kernel are small: a table then turns each sum
    // into its clamped result without a division per sample. Such kernels
    // also fit 16 bits, which the vector path needs.
    fk.useTable = fk.hi - fk.lo < (std::int64_t(1) << 22);
    return true;
}

// One output row from the rows under each tap, through 64-bit sums.
void FilterRowWide(const FilterKernel &fk, const std::vector<const BYTE *> &tapRow, BYTE *out,
                   std::size_t rowBytes, std::vector<std::int64_t> &acc)
{
    std::fill(acc.begin(), acc.end(), 0);
    for (std::size_t t = 0; t < fk.taps.size(); ++t)
        for (std::size_t i = 0; i < rowBytes; ++i)
            acc[i] += std::int64_t(fk.taps[t].k) * tapRow[t][i];
    for (std::size_t i = 0; i < rowBytes; ++i)
        out[i] = fk.Finish(acc[i]);
}

// One output row through 32-bit sums and the table, eight samples at a time
// where the processor has SSE2.
void FilterRowTable(const FilterKernel &fk, const std::vector<const BYTE *> &tapRow, BYTE *out,
                    std::size_t rowBytes)
{
    const std::vector<FilterTap> &taps = fk.taps;
    const BYTE *tab = fk.table.data() - fk.lo; // indexed by the raw sum
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    alignas(16) std::int32_t sums[8];
    for (; i + 8 <= rowBytes; i += 8) {
        __m128i accLo = zero, accHi = zero;
        for (std::size_t t = 0; t < taps.size(); t += 2) {
            const __m128i a =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(tapRow[t] + i)), zero);
            const bool pair = t + 1 < taps.size();
            const __m128i b =
                pair ? _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(tapRow[t + 1] + i)), zero)
                     : zero;
            const std::uint32_t ka = std::uint16_t(std::int16_t(taps[t].k));
            const std::uint32_t kb = pair ? std::uint16_t(std::int16_t(taps[t + 1].k)) : 0;
            const __m128i k = _mm_set1_epi32(int(kb << 16 | ka));
            accLo = _mm_add_epi32(accLo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), k));
            accHi = _mm_add_epi32(accHi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k));
        }
        _mm_store_si128(reinterpret_cast<__m128i *>(sums), accLo);
        _mm_store_si128(reinterpret_cast<__m128i *>(sums + 4), accHi);
        for (int j = 0; j < 8; ++j)
            out[i + std::size_t(j)] = tab[sums[j]];
    }
#endif
    for (; i < rowBytes; ++i) {
        std::int32_t sum = 0;
        for (std::size_t t = 0; t < taps.size(); ++t)
            sum += std::int32_t(taps[t].k) * tapRow[t][i];
        out[i] = tab[sum];
    }
}

// A row of rowBytes colour bytes into dst with r pixels of room each side,
// where its first and last pixels are repeated.
void PadRow(const BYTE *src, std::size_t rowBytes, int r, BYTE *dst)
{
    for (int i = 0; i < r; ++i) {
        std::memcpy(dst + std::size_t(i) * 3, src, 3);
        std::memcpy(dst + rowBytes + std::size_t(r + i) * 3, src + rowBytes - 3, 3);
    }
    std::memcpy(dst + std::size_t(r) * 3, src, rowBytes);
}

// Rows [y0, y1) of img filtered in place. The band keeps the original rows
// of its window in a ring, read from rowSource; false when memory is short
// (before anything is written).
bool FilterBand(CxImage &img, const FilterKernel &fk, const std::vector<const BYTE *> &rowSource, int y0, int y1)
{
    const int h = img.GetHeight(), r = fk.radius, ksize = fk.size;
    const std::size_t rowBytes = std::size_t(img.GetWidth()) * 3;
    const std::size_t padded = std::size_t(img.GetWidth() + 2 * r) * 3;
    std::vector<BYTE> ring;
    std::vector<std::int64_t> acc64;
    try {
        ring.resize(padded * std::size_t(ksize));
        if (!fk.useTable)
            acc64.resize(rowBytes);
    } catch (const std::bad_alloc &) {
        return false;
    }
    auto slot = [&](int s) { return ring.data() + std::size_t((s % ksize + ksize) % ksize) * padded; };
    auto load = [&](int s) { PadRow(rowSource[std::size_t(std::clamp(s, 0, h - 1))], rowBytes, r, slot(s)); };
    for (int s = y0 - r; s < y0 + r; ++s)
        load(s);
    std::vector<const BYTE *> tapRow(fk.taps.size());
    for (int y = y0; y < y1; ++y) {
        load(y + r);
        for (std::size_t t = 0; t < fk.taps.size(); ++t)
            tapRow[t] = slot(y - r + fk.taps[t].ky) + std::size_t(fk.taps[t].kx) * 3;
        if (fk.useTable)
            FilterRowTable(fk, tapRow, img.GetBits(y), rowBytes);
        else
            FilterRowWide(fk, tapRow, img.GetBits(y), rowBytes, acc64);
    }
    return true;
}

// Where each band reads its source rows: the image's own, except that rows
// next to a band border are read by two bands, so they are copied before
// any band writes. Throws bad_alloc.
void SaveBandEdges(const CxImage &img, int bands, int r, std::vector<const BYTE *> &rowSource,
                   std::vector<std::vector<BYTE>> &saved)
{
    const int h = img.GetHeight();
    const std::size_t rowBytes = std::size_t(img.GetWidth()) * 3;
    rowSource.resize(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        rowSource[std::size_t(y)] = img.GetBits(y);
    for (int b = 1; b < bands; ++b) {
        const int edge = cxops::BandStart(h, bands, b);
        for (int y = std::max(0, edge - r); y < std::min(h, edge + r); ++y) {
            saved.emplace_back(img.GetBits(y), img.GetBits(y) + rowBytes);
            rowSource[std::size_t(y)] = saved.back().data();
        }
    }
}

} // namespace

bool CxImage::Filter(const long *kernel, long ksize, long kfactor, long koffset)
{
    if (!IsValid()) {
        SetError("no image");
        return false;
    }
    FilterKernel fk;
    if (!ReadKernel(kernel, ksize, kfactor, koffset, fk)) {
        SetError("bad filter kernel");
        return false;
    }
    try {
        if (fk.useTable) {
            fk.table.resize(std::size_t(fk.hi - fk.lo + 1));
            for (std::int64_t v = fk.lo; v <= fk.hi; ++v)
                fk.table[std::size_t(v - fk.lo)] = fk.Finish(v);
        }
    } catch (const std::bad_alloc &) {
        SetError("out of memory");
        return false;
    }
    if (m_bpp != 24 && !IncreaseBpp(24))
        return false;

    const int w = m_width, h = m_height;
    const int bands =
        cxops::BandCount(h, double(w) * h * 3 * double(std::max<std::size_t>(1, fk.taps.size())));
    // The result goes straight back into the image.
    std::vector<const BYTE *> rowSource;
    std::vector<std::vector<BYTE>> saved;
    try {
        SaveBandEdges(*this, bands, fk.radius, rowSource, saved);
    } catch (const std::bad_alloc &) {
        SetError("out of memory");
        return false;
    }
    const auto band = [&](int y0, int y1) -> bool { return FilterBand(*this, fk, rowSource, y0, y1); };
    if (!cxops::RunBands(h, bands, band)) {
        // Only memory can fail, before a band writes anything of its own.
        SetError("out of memory");
        return false;
    }
    return true;
}

struct CxRowFilter::Kernel {
    FilterKernel fk;
    bool valid = false;
    std::vector<BYTE> padded; // the rows with their sides repeated
    std::vector<const BYTE *> tapRow;
    std::vector<std::int64_t> acc64;
};

CxRowFilter::CxRowFilter(const long *kernel, long ksize, long kfactor, long koffset)
    : m_kernel(std::make_unique<Kernel>())
{
    FilterKernel &fk = m_kernel->fk;
    if (!ReadKernel(kernel, ksize, kfactor, koffset, fk))
        return;
    if (fk.useTable) {
        fk.table.resize(std::size_t(fk.hi - fk.lo + 1));
        for (std::int64_t v = fk.lo; v <= fk.hi; ++v)
            fk.table[std::size_t(v - fk.lo)] = fk.Finish(v);
    }
    m_kernel->tapRow.resize(fk.taps.size());
    m_kernel->valid = true;
}

CxRowFilter::~CxRowFilter() = default;

bool CxRowFilter::Valid() const
{
    return m_kernel->valid;
}

int CxRowFilter::Radius() const
{
    return m_kernel->fk.radius;
}

bool CxRowFilter::Row(const BYTE *const *rows, int width, BYTE *out)
{
    Kernel &k = *m_kernel;
    const FilterKernel &fk = k.fk;
    const std::size_t rowBytes = std::size_t(width) * 3, padded = std::size_t(width + 2 * fk.radius) * 3;
    try {
        k.padded.resize(padded * std::size_t(fk.size));
        if (!fk.useTable)
            k.acc64.resize(rowBytes);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (int i = 0; i < fk.size; ++i)
        PadRow(rows[i], rowBytes, fk.radius, k.padded.data() + std::size_t(i) * padded);
    for (std::size_t t = 0; t < fk.taps.size(); ++t)
        k.tapRow[t] = k.padded.data() + std::size_t(fk.taps[t].ky) * padded + std::size_t(fk.taps[t].kx) * 3;
    if (fk.useTable)
        FilterRowTable(fk, k.tapRow, out, rowBytes);
    else
        FilterRowWide(fk, k.tapRow, out, rowBytes, k.acc64);
    return true;
}

bool CxImage::IsGrayScale() const
{
    if (!IsValid() || m_bpp == 24 || m_palette.empty())
        return false;
    return std::all_of(m_palette.begin(), m_palette.end(), [](const RGBQUAD &c) {
        return c.rgbRed == c.rgbGreen && c.rgbGreen == c.rgbBlue;
    });
}

bool CxImage::IncreaseBpp(DWORD nbit)
{
    if (!IsValid()) {
        SetError("no image");
        return false;
    }
    if (nbit <= DWORD(m_bpp))
        return true;
    if (m_bpp != 24 && (nbit == 4 || nbit == 8)) {
        // Indices are stored a byte each already; only the allowed palette grows.
        m_bpp = int(nbit);
        return true;
    }
    if (nbit != 24) {
        SetError("unsupported depth");
        return false;
    }
    CxImage out;
    if (!out.Create(m_width, m_height, 24, m_type)) {
        m_lastError = out.m_lastError;
        return false;
    }
    // The transparent index becomes alpha only when some pixel uses it.
    const bool alpha = IsTransparent();
    if (alpha && !out.AlphaCreate()) {
        m_lastError = out.m_lastError;
        return false;
    }
    RGBQUAD pal[256] = {};
    std::copy(m_palette.begin(), m_palette.end(), pal);
    for (int y = 0; y < m_height; ++y) {
        const BYTE *s = GetBits(y);
        BYTE *d = out.GetBits(y);
        BYTE *a = alpha ? out.AlphaGetPointer(y) : nullptr;
        for (int x = 0; x < m_width; ++x, d += 3) {
            const RGBQUAD &c = pal[s[x]];
            d[0] = c.rgbBlue;
            d[1] = c.rgbGreen;
            d[2] = c.rgbRed;
            if (a)
                a[x] = s[x] == m_transIndex ? 0 : 255;
        }
    }
    if (m_transColorSet)
        out.SetTransColor(m_transColor);
    TakePixels(std::move(out));
    return true;
}

bool CxImage::DecreaseBpp(DWORD nbit, bool errordiffusion, const RGBQUAD *ppal, DWORD clrimportant)
{
    if (!IsValid()) {
        SetError("no image");
        return false;
    }
    if (nbit != 1 && nbit != 4 && nbit != 8) {
        SetError("unsupported depth");
        return false;
    }
    const int n = 1 << nbit;
    if (m_bpp != 24 && !ppal && int(nbit) >= m_bpp) {
        // Already fits: the palette the image has is the best one.
        m_bpp = int(nbit);
        return true;
    }

    const bool clear = AnyClear(*this);
    std::vector<RGBQUAD> pal(static_cast<std::size_t>(n));
    int usable = n;
    if (ppal) {
        std::copy(ppal, ppal + n, pal.begin());
        if (clrimportant > 0 && clrimportant < DWORD(n))
            usable = int(clrimportant);
    } else {
        usable = QuantizedPalette(*this, n, clear, pal.data());
    }

    CxImage out;
    if (!out.Create(m_width, m_height, int(nbit), m_type)) {
        m_lastError = out.m_lastError;
        return false;
    }
    out.SetPalette(pal.data(), n);
    {
        PaletteMatcher match(pal.data(), usable, -1);
        MapPixels(*this, out, match, pal.data(), errordiffusion, 0);
    }
    if (clear)
        out.SetTransIndex(MarkClearPixels(*this, out, pal.data(), n, usable, errordiffusion));
    if (m_transColorSet)
        out.SetTransColor(m_transColor);
    TakePixels(std::move(out));
    return true;
}
