#include "tests/test_support.h"
#include "imaging/testhooks.h"

#include <gtest/gtest.h>
#include <tuple>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>
#include <random>

// Records the largest allocation while a test asks for it, to prove a
// refused size never asks the allocator for pixel memory. Sanitizer builds
// keep their own allocator.
#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_WATCH_ALLOCS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_WATCH_ALLOCS 0
#endif
#endif
#ifndef VELMORA_WATCH_ALLOCS
#define VELMORA_WATCH_ALLOCS 1
#endif

namespace {
std::atomic<bool> g_watchAllocs{false};
std::atomic<std::size_t> g_largestAlloc{0};
} // namespace

#if VELMORA_WATCH_ALLOCS
void *operator new(std::size_t size)
{
    if (g_watchAllocs.load(std::memory_order_relaxed) &&
        size > g_largestAlloc.load(std::memory_order_relaxed))
        g_largestAlloc.store(size, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
#endif

using testsupport::MakeTestImage;
using testsupport::MaxChannelDiff;
using testsupport::Psnr;

namespace {

RGBQUAD Rgb(int r, int g, int b, int a = 255)
{
    return RGBQUAD{BYTE(b), BYTE(g), BYTE(r), BYTE(a)};
}

// Grey zone plate: cos(k r^2), its local frequency rising to the Nyquist
// limit at the corners.
CxImage ZonePlate(int n)
{
    CxImage img;
    img.Create(n, n, 24);
    const double c = n / 2.0, rmax = std::sqrt(2.0) * c, k = std::numbers::pi / (2.0 * rmax);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double dx = x + 0.5 - c, dy = y + 0.5 - c;
            const int v = int(std::lround(127.5 + 127.5 * std::cos(k * (dx * dx + dy * dy))));
            img.SetPixelColor(x, y, Rgb(v, v, v));
        }
    return img;
}

// RMS deviation from mid-grey over output pixels whose centre lies at least
// `radius` source pixels from the middle: what survives there is aliasing.
double AliasEnergy(const CxImage &small, int factor, double radius)
{
    const double c = small.GetWidth() * factor / 2.0;
    double sum = 0;
    int count = 0;
    for (int y = 0; y < small.GetHeight(); ++y)
        for (int x = 0; x < small.GetWidth(); ++x) {
            const double dx = (x + 0.5) * factor - c, dy = (y + 0.5) * factor - c;
            if (dx * dx + dy * dy < radius * radius)
                continue;
            const double d = small.GetPixelColor(x, y).rgbGreen - 127.5;
            sum += d * d;
            ++count;
        }
    return std::sqrt(sum / count);
}

CxImage PointSampled(const CxImage &src, int factor)
{
    CxImage out;
    out.Create(src.GetWidth() / factor, src.GetHeight() / factor, 24);
    for (int y = 0; y < out.GetHeight(); ++y)
        for (int x = 0; x < out.GetWidth(); ++x)
            out.SetPixelColor(x, y, src.GetPixelColor(x * factor + factor / 2, y * factor + factor / 2));
    return out;
}

CxImage BoxAveraged(const CxImage &src, int factor)
{
    CxImage out;
    out.Create(src.GetWidth() / factor, src.GetHeight() / factor, 24);
    for (int y = 0; y < out.GetHeight(); ++y)
        for (int x = 0; x < out.GetWidth(); ++x) {
            int s[3] = {};
            for (int j = 0; j < factor; ++j)
                for (int i = 0; i < factor; ++i) {
                    const RGBQUAD c = src.GetPixelColor(x * factor + i, y * factor + j);
                    s[0] += c.rgbRed;
                    s[1] += c.rgbGreen;
                    s[2] += c.rgbBlue;
                }
            const int n = factor * factor;
            out.SetPixelColor(x, y, Rgb((s[0] + n / 2) / n, (s[1] + n / 2) / n, (s[2] + n / 2) / n));
        }
    return out;
}

CxImage Flat(int w, int h, RGBQUAD c, bool alpha)
{
    CxImage img;
    img.Create(w, h, 24);
    if (alpha)
        img.AlphaCreate();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelColor(x, y, c, alpha);
    return img;
}

} // namespace

TEST(Resample, EightfoldReductionOfAZonePlateDoesNotAlias)
{
    const CxImage plate = ZonePlate(512);
    CxImage small;
    ASSERT_TRUE(CxImage(plate).Resample(64, 64, 0, &small));
    ASSERT_EQ(small.GetWidth(), 64);
    ASSERT_EQ(small.GetHeight(), 64);

    // Beyond radius 100 the rings are finer than 2.2 output pixels a cycle:
    // a correct filter leaves them grey, point sampling turns them into moire.
    const double filtered = AliasEnergy(small, 8, 100);
    const double naive = AliasEnergy(PointSampled(plate, 8), 8, 100);
    const double box = AliasEnergy(BoxAveraged(plate, 8), 8, 100);
    EXPECT_LT(filtered, 4.0);
    EXPECT_LT(filtered, box);
    EXPECT_GT(naive, 40.0);

    // The coarse rings in the middle survive at full contrast.
    const double k = std::numbers::pi / (2.0 * std::sqrt(2.0) * 256);
    double worst = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double dx = (x + 0.5) * 8 - 256, dy = (y + 0.5) * 8 - 256, r2 = dx * dx + dy * dy;
            if (r2 < 24 * 24)
                worst = std::max(
                    worst, std::abs(small.GetPixelColor(x, y).rgbGreen - (127.5 + 127.5 * std::cos(k * r2))));
        }
    EXPECT_LT(worst, 12.0);
}

TEST(Resample, LargeReductionsStillDoNotAlias)
{
    // 24:1 and 10:1 take the box-then-filter path; the rings beyond the
    // middle must still average out to grey.
    for (const int factor : {24, 10}) {
        const CxImage plate = ZonePlate(64 * factor);
        CxImage small;
        ASSERT_TRUE(CxImage(plate).Resample(64, 64, 0, &small));
        const double filtered = AliasEnergy(small, factor, 12.5 * factor);
        const double box = AliasEnergy(BoxAveraged(plate, factor), factor, 12.5 * factor);
        EXPECT_LT(filtered, 4.0) << factor;
        EXPECT_LT(filtered, box) << factor;
    }
}

TEST(Resample, LargeReductionsKeepTransparentColourOut)
{
    // Stripes of opaque red and fully transparent green, 12:1: the result is
    // half transparent and red only.
    CxImage img;
    ASSERT_TRUE(img.Create(480, 240, 24));
    ASSERT_TRUE(img.AlphaCreate());
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 480; ++x)
            img.SetPixelColor(x, y, x % 2 ? Rgb(0, 255, 0, 0) : Rgb(255, 0, 0), true);
    ASSERT_TRUE(img.Resample(40, 20, 0));
    ASSERT_TRUE(img.AlphaIsValid());
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            EXPECT_NEAR(c.rgbReserved, 128, 2);
            EXPECT_EQ(c.rgbGreen, 0);
            EXPECT_EQ(c.rgbRed, 255);
        }
}

TEST(Resample, FlatColourStaysExactlyFlat)
{
    struct Case {
        int w, h, nw, nh;
    };
    const Case cases[] = {
        {37, 23, 101, 7}, {640, 480, 33, 17}, {5, 5, 300, 200}, {300, 2, 299, 1}, {1, 1, 9, 4}};
    for (const Case &c : cases) {
        for (bool alpha : {false, true}) {
            const RGBQUAD colour = Rgb(13, 200, 77, alpha ? 128 : 255);
            CxImage img = Flat(c.w, c.h, colour, alpha);
            ASSERT_TRUE(img.Resample(c.nw, c.nh));
            ASSERT_EQ(img.GetWidth(), c.nw);
            ASSERT_EQ(img.GetHeight(), c.nh);
            ASSERT_EQ(img.GetBpp(), 24);
            ASSERT_EQ(img.AlphaIsValid(), alpha);
            for (int y = 0; y < c.nh; ++y)
                for (int x = 0; x < c.nw; ++x)
                    ASSERT_EQ(img.GetPixelColor(x, y), colour)
                        << c.w << "x" << c.h << " -> " << c.nw << "x" << c.nh << " at " << x << "," << y;
        }
    }
}

TEST(Resample, RefusedSizesChangeNothingAndAllocateNothing)
{
    CxImage img = MakeTestImage(20, 10);
    const CxImage before(img);
    CxImage dst = MakeTestImage(3, 3);
    const long bad[][2] = {{0, 10},
                           {10, -1},
                           {CxImage::kMaxDimension + 1, 1},
                           {1, CxImage::kMaxDimension + 1},
                           {CxImage::kMaxDimension, CxImage::kMaxDimension},
                           {2147483647, 2147483647},
                           {2147483647, 1},
                           {LONG_MAX, LONG_MAX}};
    for (const auto &size : bad) {
        g_largestAlloc = 0;
        g_watchAllocs = true;
        const bool ok = img.Resample(size[0], size[1]);
        const bool okDst = img.Resample(size[0], size[1], 0, &dst);
        g_watchAllocs = false;
        EXPECT_FALSE(ok) << size[0] << "x" << size[1];
        EXPECT_FALSE(okDst);
        // At most the error text; a row of the smallest refused size is far more.
        if (VELMORA_WATCH_ALLOCS) {
            EXPECT_LT(g_largestAlloc.load(), 64u) << size[0] << "x" << size[1];
        }
    }
    EXPECT_EQ(MaxChannelDiff(img, before), 0);
    EXPECT_EQ(dst.GetWidth(), 3);
    EXPECT_STRNE(img.GetLastError(), "");
    EXPECT_FALSE(CxImage().Resample(10, 10));
}

TEST(Resample, TransparentEdgesGetNoFringe)
{
    // Red square on fully transparent green: green must not bleed in.
    CxImage img;
    ASSERT_TRUE(img.Create(48, 48, 24));
    img.AlphaCreate();
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
            const bool in = x >= 12 && x < 36 && y >= 12 && y < 36;
            img.SetPixelColor(x, y, in ? Rgb(255, 0, 0) : Rgb(0, 255, 0, 0), true);
        }
    CxImage pal;
    ASSERT_TRUE(pal.Create(48, 48, 8));
    RGBQUAD entries[2] = {{0, 255, 0, 0}, {0, 0, 255, 0}};
    pal.SetPalette(entries, 2);
    pal.SetTransIndex(0);
    for (int y = 12; y < 36; ++y)
        for (int x = 12; x < 36; ++x)
            pal.SetPixelIndex(x, y, 1);

    for (const CxImage *src : {&img, &pal}) {
        for (auto [w, h] : {std::pair{20, 20}, std::pair{100, 100}, std::pair{31, 17}}) {
            CxImage out;
            ASSERT_TRUE(CxImage(*src).Resample(w, h, 0, &out));
            ASSERT_TRUE(out.AlphaIsValid());
            EXPECT_EQ(out.GetPixelColor(w / 2, h / 2), Rgb(255, 0, 0));
            EXPECT_EQ(out.GetPixelColor(0, 0).rgbReserved, 0);
            int partial = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const RGBQUAD c = out.GetPixelColor(x, y);
                    if (c.rgbReserved < 4)
                        continue;
                    partial += c.rgbReserved < 250;
                    ASSERT_GE(c.rgbRed, 250) << x << "," << y << " alpha " << int(c.rgbReserved);
                    ASSERT_LE(c.rgbGreen, 4) << x << "," << y << " alpha " << int(c.rgbReserved);
                }
            EXPECT_GT(partial, 0); // the edge really is soft
        }
    }
}

TEST(Resample, PalettedBecomesColourAndIDstLeavesSourceAlone)
{
    CxImage pal;
    ASSERT_TRUE(pal.Create(30, 20, 8, CXIMAGE_FORMAT_GIF));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            pal.SetPixelIndex(x, y, BYTE(x * 8));
    const CxImage before(pal);
    CxImage dst;
    ASSERT_TRUE(pal.Resample(15, 40, 0, &dst));
    EXPECT_EQ(pal.GetBpp(), 8);
    EXPECT_EQ(MaxChannelDiff(pal, before), 0);
    EXPECT_EQ(dst.GetBpp(), 24);
    EXPECT_EQ(dst.GetWidth(), 15);
    EXPECT_EQ(dst.GetHeight(), 40);
    EXPECT_FALSE(dst.AlphaIsValid()); // no transparent index in use
    EXPECT_EQ(dst.GetType(), CXIMAGE_FORMAT_GIF);
    // Grey in, grey out, increasing left to right.
    for (int x = 1; x < 15; ++x) {
        const RGBQUAD a = dst.GetPixelColor(x - 1, 20), b = dst.GetPixelColor(x, 20);
        EXPECT_EQ(b.rgbRed, b.rgbBlue);
        EXPECT_GT(b.rgbRed, a.rgbRed);
    }

    // Its colour copy goes through the filter another way (opaque colour
    // rows are read in place when the height shrinks) to the same pixels,
    // with vectors of either width.
    CxImage textured(pal), colour;
    ASSERT_TRUE(colour.Create(30, 20, 24));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            textured.SetPixelIndex(x, y, BYTE(x * 37 + y * 91));
            colour.SetPixelColor(x, y, textured.GetPixelColor(x, y));
        }
    // Widths to give each pixel from six to over twenty taps.
    for (const auto &[w, h] :
         {std::pair{15, 40}, std::pair{15, 9}, std::pair{47, 13}, std::pair{12, 5}, std::pair{7, 20}}) {
        CxImage a, b, narrow;
        ASSERT_TRUE(textured.Resample(w, h, 0, &a));
        ASSERT_TRUE(colour.Resample(w, h, 0, &b));
        cxcodec::testhooks::SetResampleAvx2(false);
        const bool ok = colour.Resample(w, h, 0, &narrow);
        cxcodec::testhooks::SetResampleAvx2(true);
        ASSERT_TRUE(ok);
        EXPECT_EQ(MaxChannelDiff(a, b), 0) << w << "x" << h;
        EXPECT_EQ(MaxChannelDiff(narrow, b), 0) << w << "x" << h;
    }

    // The same size is a plain copy.
    CxImage same;
    ASSERT_TRUE(pal.Resample(30, 20, 0, &same));
    EXPECT_EQ(same.GetBpp(), 8);
    EXPECT_EQ(MaxChannelDiff(same, pal), 0);

    // ResampleInto gives what a copy resampled in place gives, its settings
    // and metadata too, and leaves the source alone; refused sizes fail alike.
    CxMetadata meta;
    meta.icc = "profile";
    meta.xmp = "<x/>";
    textured.SetMetadata(meta);
    textured.SetJpegQuality(61);
    for (const auto &[w, h] : {std::pair{15, 9}, std::pair{30, 20}, std::pair{0, 5}}) {
        CxImage copy(textured), into;
        const bool resampled = copy.Resample(w, h, 0);
        EXPECT_EQ(textured.ResampleInto(w, h, into), resampled) << w;
        EXPECT_EQ(std::tuple(into.GetWidth(), into.GetHeight(), into.GetBpp(), into.GetType(), into.GetJpegQuality(),
                             into.GetMetadata().icc, into.GetMetadata().xmp),
                  std::tuple(copy.GetWidth(), copy.GetHeight(), copy.GetBpp(), copy.GetType(), copy.GetJpegQuality(),
                             copy.GetMetadata().icc, copy.GetMetadata().xmp))
            << w;
        if (resampled) {
            EXPECT_EQ(MaxChannelDiff(into, copy), 0) << w;
        }
        EXPECT_EQ(textured.GetWidth(), 30);
    }
}

TEST(Resample, FollowsTheImageFaithfully)
{
    const CxImage src = MakeTestImage(400, 300);
    // Halving matches a box average of each 2x2 block closely on this
    // smooth-and-edges picture.
    CxImage half;
    ASSERT_TRUE(CxImage(src).Resample(200, 150, 0, &half));
    EXPECT_GT(Psnr(half, BoxAveraged(src, 2)), 28.0);

    // Shrinking then enlarging back keeps the picture.
    CxImage back(src);
    ASSERT_TRUE(back.Resample(300, 225));
    ASSERT_TRUE(back.Resample(400, 300));
    EXPECT_GT(Psnr(back, src), 28.0);

    // Enlarging a ramp gives a ramp, without shifting it.
    CxImage ramp;
    ramp.Create(32, 4, 24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 32; ++x)
            ramp.SetPixelColor(x, y, Rgb(x * 8, 0, 0));
    ASSERT_TRUE(ramp.Resample(128, 4));
    for (int x = 8; x < 120; ++x)
        EXPECT_NEAR(ramp.GetPixelColor(x, 2).rgbRed, (x + 0.5) / 4 * 8 - 4, 1.0) << x;
}

TEST(Resample, MirroredInputGivesMirroredOutput)
{
    // Large enough to be split into bands; a misplaced window or band seam
    // breaks the symmetry.
    std::mt19937 rng(5);
    CxImage img;
    ASSERT_TRUE(img.Create(901, 777, 24));
    for (int y = 0; y < 777; ++y) {
        BYTE *p = img.GetBits(y);
        for (int i = 0; i < 901 * 3; ++i)
            p[i] = BYTE(rng() & 255);
    }
    CxImage flipped(img);
    ASSERT_TRUE(flipped.Rotate180());
    for (auto [w, h] : {std::pair{400, 333}, std::pair{1200, 1000}}) {
        CxImage a, b;
        ASSERT_TRUE(img.Resample(w, h, 0, &a));
        ASSERT_TRUE(flipped.Resample(w, h, 0, &b));
        ASSERT_TRUE(b.Rotate180());
        EXPECT_LE(MaxChannelDiff(a, b), 2) << w << "x" << h;
        EXPECT_GT(Psnr(a, b), 50.0);
    }
}
