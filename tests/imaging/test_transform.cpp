#include "imaging/losslessjpeg.h"
#include "imaging/testhooks.h"
#include "tests/imaging/magick_compare.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

using testsupport::MakeTestImage;
using testsupport::MaxChannelDiff;

namespace {

RGBQUAD Rgb(int r, int g, int b, int a = 255)
{
    return RGBQUAD{BYTE(b), BYTE(g), BYTE(r), BYTE(a)};
}

bool SameColour(RGBQUAD a, RGBQUAD b)
{
    return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

CxImage Noise(int w, int h, unsigned seed, bool alpha)
{
    CxImage img;
    img.Create(w, h, 24);
    if (alpha)
        img.AlphaCreate();
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelColor(x, y, Rgb(rng() & 255, rng() & 255, rng() & 255, rng() & 255), alpha);
    return img;
}

bool SamePixels(const CxImage &a, const CxImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBpp() != b.GetBpp())
        return false;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            if (!(a.GetPixelColor(x, y) == b.GetPixelColor(x, y)))
                return false;
    return true;
}

}  // namespace

// --- Rotations ---------------------------------------------------------------

TEST(Rotate, QuarterTurnsMoveCornersOfAWideImage)
{
    CxImage img;
    ASSERT_TRUE(img.Create(3, 2, 24));
    const RGBQUAD tl = Rgb(255, 0, 0), tr = Rgb(0, 255, 0), bl = Rgb(0, 0, 255), br = Rgb(255, 255, 0);
    img.SetPixelColor(0, 0, tl);
    img.SetPixelColor(2, 0, tr);
    img.SetPixelColor(0, 1, bl);
    img.SetPixelColor(2, 1, br);

    CxImage left;
    ASSERT_TRUE(img.RotateLeft(&left));
    ASSERT_EQ(left.GetWidth(), 2);
    ASSERT_EQ(left.GetHeight(), 3);
    EXPECT_EQ(left.GetPixelColor(0, 0), tr);  // counter-clockwise
    EXPECT_EQ(left.GetPixelColor(1, 0), br);
    EXPECT_EQ(left.GetPixelColor(0, 2), tl);
    EXPECT_EQ(left.GetPixelColor(1, 2), bl);
    EXPECT_EQ(img.GetWidth(), 3);  // source untouched

    CxImage right(img);
    ASSERT_TRUE(right.RotateRight());
    ASSERT_EQ(right.GetWidth(), 2);
    EXPECT_EQ(right.GetPixelColor(0, 0), bl);
    EXPECT_EQ(right.GetPixelColor(1, 0), tl);
    EXPECT_EQ(right.GetPixelColor(0, 2), br);
    EXPECT_EQ(right.GetPixelColor(1, 2), tr);

    CxImage half(img);
    ASSERT_TRUE(half.Rotate180());
    EXPECT_EQ(half.GetPixelColor(0, 0), br);
    EXPECT_EQ(half.GetPixelColor(2, 1), tl);
    EXPECT_EQ(half.GetPixelColor(2, 0), bl);
}

TEST(Rotate, KeepsPaletteTransparencyAndAlpha)
{
    CxImage pal;
    ASSERT_TRUE(pal.Create(5, 3, 4));
    pal.SetTransIndex(7);
    pal.SetPixelIndex(4, 0, 7);
    pal.SetPixelIndex(0, 2, 3);
    ASSERT_TRUE(pal.RotateRight());
    EXPECT_EQ(pal.GetBpp(), 4);
    EXPECT_EQ(pal.GetNumColors(), 16);
    EXPECT_EQ(pal.GetTransIndex(), 7);
    EXPECT_EQ(pal.GetPixelIndex(2, 4), 7);  // top-right went to bottom-right
    EXPECT_EQ(pal.GetPixelIndex(0, 0), 3);  // bottom-left went to top-left

    CxImage alpha;
    ASSERT_TRUE(alpha.Create(4, 2, 24));
    alpha.AlphaCreate();
    alpha.SetPixelColor(3, 1, Rgb(1, 2, 3, 40), true);
    ASSERT_TRUE(alpha.RotateLeft());
    ASSERT_TRUE(alpha.AlphaIsValid());
    EXPECT_EQ(alpha.GetPixelColor(1, 0), Rgb(1, 2, 3, 40));
    EXPECT_EQ(alpha.GetPixelColor(0, 0).rgbReserved, 255);
}

TEST(Rotate, TurnsUndoEachOtherAcrossTileBorders)
{
    const CxImage src = Noise(70, 45, 1, true);
    CxImage img(src);
    ASSERT_TRUE(img.RotateLeft());
    ASSERT_TRUE(img.RotateRight());
    EXPECT_TRUE(SamePixels(img, src));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(img.RotateRight());
    EXPECT_TRUE(SamePixels(img, src));
    ASSERT_TRUE(img.Rotate180());
    ASSERT_TRUE(img.RotateLeft());
    ASSERT_TRUE(img.RotateLeft());
    EXPECT_TRUE(SamePixels(img, src));
    EXPECT_FALSE(CxImage().RotateLeft());
}

// Each row: Mirror or Flip against ImageMagick's -flop or -flip on the same
// pixels, colour and alpha exact; depth, palette and transparency kept.
TEST(Rotate, MirrorAndFlipMatchImageMagick)
{
    using magick::Source;
    const struct {
        Source source;
        bool flip;
    } cases[] = {{Source::Landscape, false},  {Source::Portrait, true},  {Source::ClearBorder, false},
                 {Source::ClearBorder, true}, {Source::Paletted, false}, {Source::Paletted, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(magick::Name(c.source)) + (c.flip ? " flip" : " mirror"));
        testsupport::ScratchDir dir;
        std::string in;
        const CxImage src = magick::AsPng(magick::Make(c.source), dir, in);
        CxImage ours(src);
        ASSERT_TRUE(c.flip ? ours.Flip() : ours.Mirror());
        EXPECT_EQ(ours.GetBpp(), src.GetBpp());
        EXPECT_EQ(ours.GetNumColors(), src.GetNumColors());
        EXPECT_EQ(ours.GetTransIndex(), src.GetTransIndex());
        EXPECT_EQ(ours.AlphaIsValid(), src.AlphaIsValid());
        const CxImage theirs = magick::Convert(in, {c.flip ? "-flip" : "-flop"}, dir);
        ASSERT_EQ(theirs.GetWidth(), ours.GetWidth());
        ASSERT_EQ(theirs.GetHeight(), ours.GetHeight());
        int differing = 0;
        for (int y = 0; y < ours.GetHeight(); ++y)
            for (int x = 0; x < ours.GetWidth(); ++x)
                differing += !(ours.GetPixelColor(x, y) == theirs.GetPixelColor(x, y));
        EXPECT_EQ(differing, 0);
        // Twice gives back the picture; an empty one is refused.
        ASSERT_TRUE(c.flip ? ours.Flip() : ours.Mirror());
        EXPECT_TRUE(SamePixels(ours, src));
    }
    EXPECT_FALSE(CxImage().Mirror());
    EXPECT_FALSE(CxImage().Flip());
}

// --- Filter ------------------------------------------------------------------

namespace {
const long kSharpen[9] = {-1, -1, -1, -1, 15, -1, -1, -1, -1};
}

TEST(Filter, SharpenKeepsFlatAreasAndClamps)
{
    CxImage img;
    ASSERT_TRUE(img.Create(20, 12, 24));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x)
            img.SetPixelColor(x, y, x < 10 ? Rgb(30, 120, 200) : Rgb(240, 10, 128));
    ASSERT_TRUE(img.Filter(kSharpen, 3, 7, 0));
    // Away from the seam (and at the image border, by replication) nothing moves.
    EXPECT_EQ(img.GetPixelColor(0, 0), Rgb(30, 120, 200));
    EXPECT_EQ(img.GetPixelColor(5, 11), Rgb(30, 120, 200));
    EXPECT_EQ(img.GetPixelColor(19, 6), Rgb(240, 10, 128));
    // Across it the overshoot clamps: (15*30 - 5*30 - 3*240) / 7 < 0.
    const RGBQUAD dark = img.GetPixelColor(9, 5), bright = img.GetPixelColor(10, 5);
    EXPECT_EQ(dark.rgbRed, 0);
    EXPECT_EQ(bright.rgbRed, 255);
    EXPECT_EQ(bright.rgbGreen, 0);
    EXPECT_EQ(dark.rgbGreen, (15 * 120 - 5 * 120 - 3 * 10) / 7);
}

TEST(Filter, ReplicatesBordersDividesAndOffsets)
{
    CxImage img = MakeTestImage(9, 5);
    const CxImage src(img);
    // Takes the left neighbour: column 0 sees itself through the replicated border.
    const long shift[9] = {0, 0, 0, 2, 0, 0, 0, 0, 0};
    ASSERT_TRUE(img.Filter(shift, 3, 2, 5));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) {
            const RGBQUAD s = src.GetPixelColor(std::max(0, x - 1), y), d = img.GetPixelColor(x, y);
            EXPECT_EQ(d.rgbRed, std::min(255, s.rgbRed + 5));
            EXPECT_EQ(d.rgbBlue, std::min(255, s.rgbBlue + 5));
        }
    // Divisor 0 is 1; a 1x1 kernel is a scale.
    CxImage one = MakeTestImage(6, 6);
    const long half[1] = {1};
    ASSERT_TRUE(one.Filter(half, 1, 0, -10));
    EXPECT_EQ(one.GetPixelColor(5, 5).rgbRed, 245);
    EXPECT_EQ(one.GetPixelColor(0, 0).rgbRed, 0);
}

TEST(Filter, LeavesAlphaAndRaisesPalettedImages)
{
    CxImage img = Noise(16, 16, 3, true);
    std::vector<BYTE> alpha(img.AlphaGetPointer(0), img.AlphaGetPointer(0) + 256);
    ASSERT_TRUE(img.Filter(kSharpen, 3, 7, 0));
    EXPECT_EQ(std::vector<BYTE>(img.AlphaGetPointer(0), img.AlphaGetPointer(0) + 256), alpha);

    CxImage pal;
    ASSERT_TRUE(pal.Create(8, 8, 8));
    pal.SetPixelIndex(3, 3, 200);
    const long identity[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
    ASSERT_TRUE(pal.Filter(identity, 3, 1, 0));
    EXPECT_EQ(pal.GetBpp(), 24);
    EXPECT_EQ(pal.GetPixelColor(3, 3), Rgb(200, 200, 200));

    const CxImage before(img);
    EXPECT_FALSE(img.Filter(kSharpen, 2, 7, 0));
    EXPECT_FALSE(img.Filter(nullptr, 3, 7, 0));
    EXPECT_TRUE(SamePixels(img, before));
}

namespace {

// Straightforward convolution with replicated borders and truncating division.
CxImage ReferenceFilter(const CxImage &src, const std::vector<long> &k, int n, long div, long off)
{
    CxImage out(src);
    const int w = src.GetWidth(), h = src.GetHeight(), r = n / 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            long long sum[3] = {};
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    const RGBQUAD c = src.GetPixelColor(std::clamp(x + i - r, 0, w - 1), std::clamp(y + j - r, 0, h - 1));
                    const long kv = k[std::size_t(j * n + i)];
                    sum[0] += kv * c.rgbRed;
                    sum[1] += kv * c.rgbGreen;
                    sum[2] += kv * c.rgbBlue;
                }
            auto fin = [&](long long v) { return int(std::clamp<long long>(v / div + off, 0, 255)); };
            RGBQUAD c = src.GetPixelColor(x, y);
            c.rgbRed = BYTE(fin(sum[0]));
            c.rgbGreen = BYTE(fin(sum[1]));
            c.rgbBlue = BYTE(fin(sum[2]));
            out.SetPixelColor(x, y, c);
        }
    return out;
}

}  // namespace

TEST(Filter, MatchesAPlainConvolution)
{
    std::mt19937 rng(9);
    struct Case {
        int w, h, n;
        long lo, hi, div, off;
    };
    // Odd widths exercise the row tails, the large image the band seams,
    // the huge weights the exact wide-sum path.
    const Case cases[] = {{37, 23, 5, -20, 20, 9, 3}, {600, 400, 3, -3, 12, 7, 0}, {13, 11, 3, -90000, 90000, 250000, 128},
                          {5, 40, 7, -4, 9, -3, 10}};
    for (const Case &c : cases) {
        std::vector<long> k(std::size_t(c.n * c.n));
        for (long &v : k)
            v = c.lo + long(rng() % std::uint32_t(c.hi - c.lo + 1));
        const CxImage src = Noise(c.w, c.h, rng(), false);
        CxImage img(src);
        ASSERT_TRUE(img.Filter(k.data(), c.n, c.div, c.off));
        EXPECT_EQ(MaxChannelDiff(img, ReferenceFilter(src, k, c.n, c.div, c.off)), 0) << c.w << "x" << c.h;
    }
}

TEST(Rotate, LargeImageMatchesPixelByPixel)
{
    const CxImage src = Noise(1500, 1001, 4, false);
    CxImage left, right;
    ASSERT_TRUE(CxImage(src).RotateLeft(&left));
    ASSERT_TRUE(CxImage(src).RotateRight(&right));
    ASSERT_EQ(left.GetWidth(), 1001);
    ASSERT_EQ(left.GetHeight(), 1500);
    for (int y = 0; y < 1001; y += 7)
        for (int x = 0; x < 1500; x += 3) {
            ASSERT_EQ(left.GetPixelColor(y, 1499 - x), src.GetPixelColor(x, y));
            ASSERT_EQ(right.GetPixelColor(1000 - y, x), src.GetPixelColor(x, y));
        }
}

// --- Depth -------------------------------------------------------------------

TEST(Depth, IsGrayScaleNeedsAnAllGreyPalette)
{
    CxImage img;
    ASSERT_TRUE(img.Create(4, 4, 8));
    EXPECT_TRUE(img.IsGrayScale());
    RGBQUAD pal[3] = {{0, 0, 0, 0}, {9, 9, 9, 0}, {9, 9, 10, 0}};
    img.SetPalette(pal, 3);
    EXPECT_FALSE(img.IsGrayScale());
    EXPECT_FALSE(MakeTestImage(4, 4).IsGrayScale());
    EXPECT_FALSE(CxImage().IsGrayScale());
}

TEST(Depth, IncreaseBppTurnsTheTransparentIndexIntoAlpha)
{
    CxImage img;
    ASSERT_TRUE(img.Create(6, 4, 4));
    RGBQUAD pal[3] = {{10, 20, 30, 0}, {200, 100, 0, 0}, {1, 2, 3, 0}};
    img.SetPalette(pal, 3);
    img.SetPixelIndex(1, 1, 1);
    img.SetPixelIndex(2, 2, 2);
    img.SetTransIndex(2);

    CxImage relabel(img);
    ASSERT_TRUE(relabel.IncreaseBpp(8));
    EXPECT_EQ(relabel.GetBpp(), 8);
    EXPECT_EQ(relabel.GetTransIndex(), 2);
    EXPECT_EQ(relabel.GetPixelIndex(1, 1), 1);
    EXPECT_TRUE(relabel.IncreaseBpp(4));  // not above: nothing to do
    EXPECT_EQ(relabel.GetBpp(), 8);

    ASSERT_TRUE(img.IncreaseBpp(24));
    EXPECT_EQ(img.GetBpp(), 24);
    ASSERT_TRUE(img.AlphaIsValid());
    EXPECT_EQ(img.GetPixelColor(0, 0), Rgb(30, 20, 10));
    EXPECT_EQ(img.GetPixelColor(1, 1), Rgb(0, 100, 200));
    EXPECT_EQ(img.GetPixelColor(2, 2).rgbReserved, 0);
    EXPECT_FALSE(img.IncreaseBpp(32));
    EXPECT_EQ(img.GetBpp(), 24);

    // An unused transparent index does not invent an alpha plane.
    CxImage opaque;
    opaque.Create(3, 3, 8);
    opaque.SetTransIndex(9);
    ASSERT_TRUE(opaque.IncreaseBpp(24));
    EXPECT_FALSE(opaque.AlphaIsValid());
}

TEST(Depth, DecreaseBppKeepsFewColoursExactly)
{
    CxImage img;
    ASSERT_TRUE(img.Create(40, 30, 24));
    const RGBQUAD colours[4] = {Rgb(255, 0, 0), Rgb(0, 128, 0), Rgb(20, 40, 240), Rgb(255, 255, 255)};
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            img.SetPixelColor(x, y, colours[(x / 7 + y / 5) % 4]);
    const CxImage src(img);
    for (bool diffuse : {false, true}) {
        CxImage q(src);
        ASSERT_TRUE(q.DecreaseBpp(8, diffuse, nullptr));
        EXPECT_EQ(q.GetBpp(), 8);
        EXPECT_EQ(q.GetNumColors(), 256);
        EXPECT_EQ(q.GetTransIndex(), -1);
        EXPECT_EQ(MaxChannelDiff(q, src), 0) << diffuse;
    }
}

TEST(Depth, NearestMappingMatchesExhaustiveSearch)
{
    std::mt19937 rng(7);
    std::vector<RGBQUAD> pal(256);
    for (RGBQUAD &c : pal)
        c = RGBQUAD{BYTE(rng() & 255), BYTE(rng() & 255), BYTE(rng() & 255), 0};
    pal[17] = pal[5];  // a tie resolves to the lower index
    const CxImage src = Noise(64, 64, 11, false);
    CxImage img(src);
    ASSERT_TRUE(img.DecreaseBpp(8, false, pal.data()));
    ASSERT_EQ(img.GetNumColors(), 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(img.GetPalette()[i], pal[std::size_t(i)]);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const RGBQUAD c = src.GetPixelColor(x, y);
            int best = 0, bestDist = 1 << 30;
            for (int i = 0; i < 256; ++i) {
                const int dr = c.rgbRed - pal[i].rgbRed, dg = c.rgbGreen - pal[i].rgbGreen,
                          db = c.rgbBlue - pal[i].rgbBlue;
                if (dr * dr + dg * dg + db * db < bestDist) {
                    bestDist = dr * dr + dg * dg + db * db;
                    best = i;
                }
            }
            ASSERT_EQ(img.GetPixelIndex(x, y), best) << x << "," << y;
        }
}

TEST(Depth, ErrorDiffusionKeepsTheAverageOfAGradient)
{
    CxImage grad;
    ASSERT_TRUE(grad.Create(256, 64, 24));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            grad.SetPixelColor(x, y, Rgb(x, x, x));
    std::vector<RGBQUAD> pal(256);
    for (int i = 0; i < 4; ++i)
        pal[std::size_t(i)] = RGBQUAD{BYTE(i * 85), BYTE(i * 85), BYTE(i * 85), 0};
    // Mean error of 16x16 block averages against the original.
    auto blockError = [&](bool diffuse) {
        CxImage q(grad);
        EXPECT_TRUE(q.DecreaseBpp(8, diffuse, pal.data(), 4));
        double total = 0;
        for (int by = 0; by < 64; by += 16)
            for (int bx = 0; bx < 256; bx += 16) {
                double sum = 0, ref = 0;
                for (int y = by; y < by + 16; ++y)
                    for (int x = bx; x < bx + 16; ++x) {
                        sum += q.GetPixelColor(x, y).rgbGreen;
                        ref += x;
                        EXPECT_LT(q.GetPixelIndex(x, y), 4);
                    }
                total += std::abs(sum - ref) / 256.0;
            }
        return total / 64.0;
    };
    const double plain = blockError(false), diffused = blockError(true);
    EXPECT_LT(diffused, 1.5);
    EXPECT_LT(diffused * 4, plain);
}

TEST(Depth, AlphaBecomesAFreeTransparentEntry)
{
    CxImage img;
    ASSERT_TRUE(img.Create(10, 10, 24));
    img.AlphaCreate();
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            img.SetPixelColor(x, y, x < 5 ? Rgb(200, 30, 30, 255 - y) : Rgb(0, 0, 0, y * 12), true);
    for (bool diffuse : {false, true}) {
        CxImage q(img);
        ASSERT_TRUE(q.DecreaseBpp(8, diffuse, nullptr));
        const int t = q.GetTransIndex();
        ASSERT_GE(t, 0);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                if (x < 5) {
                    EXPECT_NE(q.GetPixelIndex(x, y), t);
                    EXPECT_TRUE(SameColour(q.GetPixelColor(x, y), Rgb(200, 30, 30)));
                } else {
                    EXPECT_EQ(q.GetPixelIndex(x, y), t);
                }
            }
    }
}

TEST(Depth, FullPaletteFreesItsLeastUsedEntry)
{
    // Every entry is shown by some opaque pixel; entry 100 by a single one.
    std::vector<RGBQUAD> pal(256);
    for (int i = 0; i < 256; ++i)
        pal[std::size_t(i)] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    CxImage img;
    ASSERT_TRUE(img.Create(256, 3, 24));
    img.AlphaCreate();
    for (int x = 0; x < 256; ++x) {
        img.SetPixelColor(x, 0, Rgb(x, x, x), true);
        img.SetPixelColor(x, 1, x == 100 ? Rgb(0, 0, 0) : Rgb(x, x, x), true);
        img.SetPixelColor(x, 2, Rgb(0, 0, 0, x % 2 ? 0 : 127), true);
    }
    ASSERT_TRUE(img.DecreaseBpp(8, false, pal.data()));
    EXPECT_EQ(img.GetTransIndex(), 100);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(img.GetPalette()[i], pal[std::size_t(i)]);  // colours kept
    const int moved = img.GetPixelIndex(100, 0);
    EXPECT_TRUE(moved == 99 || moved == 101);
    EXPECT_EQ(img.GetPixelIndex(50, 0), 50);
    for (int x = 0; x < 256; ++x)
        EXPECT_EQ(img.GetPixelIndex(x, 2), 100);
}

TEST(Depth, PalettedInputIsRemappedWithItsTransparency)
{
    CxImage img;
    ASSERT_TRUE(img.Create(8, 2, 8));  // grey ramp
    for (int x = 0; x < 8; ++x)
        img.SetPixelIndex(x, 0, BYTE(x * 36));
    img.SetPixelIndex(0, 1, 5);
    img.SetTransIndex(5);
    std::vector<RGBQUAD> pal(256);
    pal[0] = RGBQUAD{0, 0, 0, 0};
    pal[1] = RGBQUAD{255, 255, 255, 0};
    ASSERT_TRUE(img.DecreaseBpp(8, false, pal.data(), 2));
    EXPECT_EQ(img.GetNumColors(), 256);
    const int t = img.GetTransIndex();
    EXPECT_GE(t, 2);  // not one of the colours in use
    EXPECT_EQ(img.GetPixelIndex(0, 1), t);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(7, 0), 1);

    // Without a palette an image that already fits keeps its own.
    CxImage small;
    ASSERT_TRUE(small.Create(4, 4, 4));
    small.SetPixelIndex(2, 2, 9);
    ASSERT_TRUE(small.DecreaseBpp(8, true, nullptr));
    EXPECT_EQ(small.GetBpp(), 8);
    EXPECT_EQ(small.GetNumColors(), 16);
    EXPECT_EQ(small.GetPixelIndex(2, 2), 9);
}

TEST(Depth, DecreaseBppRejectsBadRequests)
{
    CxImage img = MakeTestImage(8, 8);
    const CxImage before(img);
    EXPECT_FALSE(img.DecreaseBpp(2, false));
    EXPECT_FALSE(img.DecreaseBpp(24, false));
    EXPECT_TRUE(SamePixels(img, before));
    EXPECT_FALSE(CxImage().DecreaseBpp(8, true));

    ASSERT_TRUE(img.DecreaseBpp(4, true));
    EXPECT_EQ(img.GetBpp(), 4);
    EXPECT_EQ(img.GetNumColors(), 16);
}

// A JPEG too large to hold is turned with its coefficients kept on disk: for
// every turn of 4:2:0, 4:4:4, grey and progressive files (and a trimmed one
// with partial edge blocks), the bytes libjpeg-turbo's transform gives in
// memory.
TEST(LosslessTurn, OnDiskAsInMemory)
{
    struct Row {
        const char *source;
        bool trim;
    };
    for (const Row &r : {Row{"jpeg/progressive420.jpg", false}, Row{"jpeg/baseline.jpg", false},
                         Row{"jpeg/grey.jpg", false}, Row{"photo/orient6.jpg", false},
                         Row{"jpeg/cmyk_adobe.jpg", false}, Row{"lossless/partial420.jpg", true}}) {
        const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(testsupport::DataPath(r.source));
        for (int turn = 1; turn <= 8; ++turn) {
            SCOPED_TRACE(std::string(r.source) + " turn " + std::to_string(turn));
            std::string made[2], reason;
            int width[2] = {}, height[2] = {};
            for (const bool onDisk : {false, true}) {
                cxcodec::testhooks::SetJpegTurnsOnDisk(onDisk);
                EXPECT_TRUE(cxlossless::TurnJpeg(bytes.data(), bytes.size(), turn, r.trim, made[onDisk],
                                                 width[onDisk], height[onDisk], reason))
                    << reason;
            }
            cxcodec::testhooks::SetJpegTurnsOnDisk(false);
            EXPECT_EQ(std::pair(width[0], height[0]), std::pair(width[1], height[1]));
            EXPECT_TRUE(made[0] == made[1]) << made[0].size() << " against " << made[1].size();
        }
    }
}
