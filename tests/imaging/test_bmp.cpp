#include "imaging/formats.h"
#include "imaging/imageheader.h"
#include "tests/imaging/bmp_pcx_helpers.h"

#include <QByteArray>
#include <cstring>

using namespace testsupport;
using namespace bmppcx;

namespace {

void Put(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

std::uint32_t Get32(const std::vector<std::uint8_t> &b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

// Builds a bitmap file field by field, independently of the encoder.
struct Bmp {
    std::uint32_t infoSize = 40;
    std::int32_t width = 1, height = 1;
    std::uint16_t bpp = 24;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks;  // red, green, blue[, alpha]
    std::vector<RGBQUAD> palette;
    std::int64_t clrUsed = -1;  // -1: the palette's size
    std::vector<std::uint8_t> pixels;
    std::int64_t offBits = -1; // -1: right after the palette (and gap)
    std::size_t gap = 0;       // filler bytes between the palette and the pixels

    std::vector<std::uint8_t> Build() const
    {
        std::vector<std::uint8_t> b(14 + std::max<std::uint32_t>(infoSize, 40), 0);
        b[0] = 'B';
        b[1] = 'M';
        Put(b, 14, infoSize, 4);
        if (infoSize == 12) {
            Put(b, 18, std::uint32_t(width), 2);
            Put(b, 20, std::uint32_t(height), 2);
            Put(b, 22, 1, 2);
            Put(b, 24, bpp, 2);
        } else {
            Put(b, 18, std::uint32_t(width), 4);
            Put(b, 22, std::uint32_t(height), 4);
            Put(b, 26, 1, 2);
            Put(b, 28, bpp, 2);
            Put(b, 30, compression, 4);
            Put(b, 34, std::uint32_t(pixels.size()), 4);
            Put(b, 46, std::uint32_t(clrUsed < 0 ? palette.size() : std::size_t(clrUsed)), 4);
            for (std::size_t i = 0; i < masks.size() && infoSize >= 52; ++i)
                if (i < 3 || infoSize >= 56)
                    Put(b, 54 + 4 * i, masks[i], 4);
        }
        b.resize(14 + infoSize);  // odd sizes keep only what fits
        if (infoSize == 40)
            for (std::uint32_t m : masks) {
                b.resize(b.size() + 4);
                Put(b, b.size() - 4, m, 4);
            }
        for (const RGBQUAD &c : palette) {
            b.insert(b.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
            if (infoSize != 12)
                b.push_back(0);
        }
        b.insert(b.end(), gap, 0xEE);
        Put(b, 10, std::uint32_t(offBits < 0 ? b.size() : std::size_t(offBits)), 4);
        b.insert(b.end(), pixels.begin(), pixels.end());
        Put(b, 2, std::uint32_t(b.size()), 4);
        return b;
    }
};

std::vector<RGBQUAD> Greys(int n)
{
    std::vector<RGBQUAD> p;
    for (int i = 0; i < n; ++i)
        p.push_back(RGBQUAD{BYTE(i * 17), BYTE(i * 17), BYTE(i * 17), 0});
    return p;
}

// The indices of a paletted image as hex digits, top row first.
std::vector<std::string> Rows(const CxImage &img)
{
    std::vector<std::string> rows;
    for (int y = 0; y < img.GetHeight(); ++y) {
        std::string r;
        for (int x = 0; x < img.GetWidth(); ++x)
            r += "0123456789ABCDEF"[img.GetPixelIndex(x, y) & 15];
        rows.push_back(r);
    }
    return rows;
}

std::vector<std::uint8_t> Fixture(const std::string &name)
{
    return ReadFileBytes(DataPath("bmp/" + name));
}

}  // namespace

TEST(BmpDecode, ImageMagickFixturesMatchTheirTemplates)
{
    // Tolerances: 0 where the file holds the template's exact values; for 5-
    // and 6-bit channels, one quantisation step (255/31) of either rounding.
    struct Case {
        const char *file, *templ;
        int bpp, tolerance;
    } cases[] = {
        {"rgb24_v3.bmp", "template_rgb.ppm", 24, 0},    {"rgb24_os2.bmp", "template_rgb.ppm", 24, 0},
        {"rgb24_v5.bmp", "template_rgb.ppm", 24, 0},    {"rgb565.bmp", "template_rgb.ppm", 24, 8},
        {"rgb555.bmp", "template_rgb.ppm", 24, 8},      {"argb32_v5.bmp", "template_alpha.png", 24, 0},
        {"argb32_v4.bmp", "template_alpha.png", 24, 0}, {"pal8.bmp", "template_40.ppm", 8, 0},
        {"pal8_rle.bmp", "template_40.ppm", 8, 0},      {"pal8_os2.bmp", "template_40.ppm", 8, 0},
        {"pal4.bmp", "template_16.ppm", 4, 0},          {"pal1.bmp", "template_2.pbm", 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        CxImage img;
        ASSERT_TRUE(img.Load(DataPath(std::string("bmp/") + c.file).c_str())) << img.GetLastError();
        const CxImage want = LoadTemplate(c.templ);
        EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_BMP);
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.AlphaIsValid(), want.AlphaIsValid());
        EXPECT_LE(MaxRgbaDiff(img, want), c.tolerance);
        for (int y = 0; y < img.GetHeight() && c.bpp != 24; ++y)
            for (int x = 0; x < img.GetWidth(); ++x)
                ASSERT_LT(img.GetPixelIndex(x, y), img.GetNumColors());
    }
}

TEST(BmpDecode, DibsWithoutAFileHeaderReadAsTheirBitmaps)
{
    // A .dib is a bitmap file without its first 14 bytes: the pixels follow
    // the header, its masks and its colour table.
    std::vector<std::vector<std::uint8_t>> bitmaps;
    for (const char *name :
         {"rgb24_v3.bmp", "rgb24_os2.bmp", "rgb24_v5.bmp", "rgb565.bmp", "argb1555.bmp", "argb32_v4.bmp",
          "argb32_v5.bmp", "pal8.bmp", "pal8_rle.bmp", "pal8_os2.bmp", "pal4.bmp", "pal1.bmp"})
        bitmaps.push_back(Fixture(name));
    Bmp bmp; // 4 x 1 at 24 bits, a colour table of three entries before the pixels
    bmp.width = 4;
    bmp.palette = Greys(3);
    bmp.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    bitmaps.push_back(bmp.Build());
    bmp.bpp = 8; // a table of two entries declared
    bmp.palette = Greys(2);
    bmp.pixels = {0, 1, 1, 0};
    bitmaps.push_back(bmp.Build());
    bmp.bpp = 16; // bit fields after a 40-byte header
    bmp.palette.clear();
    bmp.compression = 3;
    bmp.masks = {0xF800, 0x07E0, 0x001F};
    bmp.pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF};
    bitmaps.push_back(bmp.Build());
    for (const std::vector<std::uint8_t> &bitmap : bitmaps) {
        SCOPED_TRACE(::testing::Message()
                     << "header " << Get32(bitmap, 14) << ", " << bitmap.size() << " bytes");
        const std::vector<std::uint8_t> dib(bitmap.begin() + 14, bitmap.end());
        const CxImage want = DecodeBytes(bitmap), img = DecodeBytes(dib);
        ASSERT_TRUE(img.IsValid()) << img.GetLastError();
        EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_BMP);
        EXPECT_EQ(img.GetBpp(), want.GetBpp());
        EXPECT_EQ(img.GetNumColors(), want.GetNumColors());
        EXPECT_EQ(MaxRgbaDiff(img, want), 0);
        ImageHeader h;
        ASSERT_TRUE(ProbeImageHeader(dib.data(), dib.size(), h));
        EXPECT_EQ(h.width, want.GetWidth());
        EXPECT_EQ(h.height, want.GetHeight());

        // Cut inside the header, the colour table or the pixels.
        for (std::size_t cut : {std::size_t(3), std::size_t(20), dib.size() / 2, dib.size() - 12}) {
            const CxImage part = DecodeBytes(std::vector<std::uint8_t>(dib.begin(), dib.begin() + cut));
            EXPECT_FALSE(part.IsValid()) << "cut at " << cut;
        }
    }
    EXPECT_EQ(TypeFromExtension("dib"), CXIMAGE_FORMAT_BMP);

    // Only a header BMP knows, with one plane, a picture of some size and a
    // bit count BMP has, is taken for one.
    const std::vector<std::uint8_t> file = Fixture("rgb24_v3.bmp"), good(file.begin() + 14, file.end());
    const struct {
        std::size_t at, bytes;
        std::uint32_t value;
    } spoilt[] = {{0, 4, 41}, {0, 4, 0},  {4, 4, 0},  {8, 4, 0},
                  {12, 2, 2}, {14, 2, 2}, {14, 2, 0}, {4, 4, 1u << 30}};
    for (const auto &s : spoilt) {
        std::vector<std::uint8_t> b = good;
        Put(b, s.at, s.value, int(s.bytes));
        EXPECT_EQ(CxImage::DetectFormat(b.data(), b.size()), CXIMAGE_FORMAT_UNKNOWN)
            << s.at << " " << s.value;
    }
}

TEST(BmpDecode, SixteenBitAlphaIsScaledToEightBits)
{
    const CxImage want = LoadTemplate("template_alpha.png");
    CxImage a4, a1;
    ASSERT_TRUE(a4.Load(DataPath("bmp/argb4444.bmp").c_str()));
    ASSERT_TRUE(a1.Load(DataPath("bmp/argb1555.bmp").c_str()));
    ASSERT_TRUE(a4.AlphaIsValid() && a1.AlphaIsValid());
    EXPECT_LE(MaxRgbaDiff(a4, want), 17);  // one 4-bit step
    // One alpha bit: fully clear or fully opaque, never in between.
    for (int y = 0; y < want.GetHeight(); ++y) {
        for (int x = 0; x < want.GetWidth(); ++x) {
            const int wa = want.GetPixelColor(x, y).rgbReserved, got = a1.GetPixelColor(x, y).rgbReserved;
            ASSERT_TRUE(got == 0 || got == 255);
            if (wa == 0 || wa == 255) {
                EXPECT_EQ(got, wa) << x << "," << y;
            }
        }
    }
}

TEST(BmpDecode, TwoColourPaletteAndTopDownRows)
{
    CxImage img;
    ASSERT_TRUE(img.Load(DataPath("bmp/pal1_color.bmp").c_str()));
    const CxImage bw = LoadTemplate("template_2.pbm");
    ASSERT_EQ(img.GetBpp(), 1);
    for (int y = 0; y < bw.GetHeight(); ++y)
        for (int x = 0; x < bw.GetWidth(); ++x) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            const bool white = bw.GetPixelColor(x, y).rgbRed == 255;
            ASSERT_EQ(c.rgbRed, white ? 0xFF : 0x00);
            ASSERT_EQ(c.rgbBlue, white ? 0x00 : 0x80);
        }

    // The same pixels stored top-down: negative height, rows reversed.
    for (const char *name : {"rgb24_v3.bmp", "pal4.bmp"}) {
        std::vector<std::uint8_t> b = Fixture(name);
        const CxImage bottomUp = DecodeBytes(b);
        const std::size_t off = Get32(b, 10);
        const int h = bottomUp.GetHeight();
        const std::size_t row = (b.size() - off) / std::size_t(h);
        std::vector<std::uint8_t> flipped(b.begin(), b.begin() + std::ptrdiff_t(off));
        for (int r = h - 1; r >= 0; --r)
            flipped.insert(flipped.end(), b.begin() + std::ptrdiff_t(off + row * std::size_t(r)),
                           b.begin() + std::ptrdiff_t(off + row * std::size_t(r + 1)));
        Put(flipped, 22, std::uint32_t(-h), 4);
        const CxImage topDown = DecodeBytes(flipped);
        ASSERT_TRUE(topDown.IsValid()) << name;
        EXPECT_EQ(MaxRgbaDiff(topDown, bottomUp), 0) << name;
    }
}

TEST(BmpDecode, BitFieldsInEveryHeaderSize)
{
    // 10-10-10 colour with 2-bit alpha; both pixels hit the ends and middle.
    Bmp bmp;
    bmp.width = 2;
    bmp.bpp = 32;
    bmp.compression = 3;
    bmp.masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000};
    bmp.pixels.resize(8);
    Put(bmp.pixels, 0, (3u << 30) | (1023u << 20) | (512u << 10), 4);
    Put(bmp.pixels, 4, (1u << 30) | 1023u, 4);
    for (std::uint32_t size : {40u, 52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        bmp.infoSize = size;
        bmp.compression = size == 40 ? 6 : 3;  // a 40-byte header needs ALPHABITFIELDS for alpha
        const CxImage img = DecodeBytes(bmp.Build());
        ASSERT_TRUE(img.IsValid());
        const RGBQUAD a = img.GetPixelColor(0, 0), b = img.GetPixelColor(1, 0);
        EXPECT_EQ(a, (RGBQUAD{0, 128, 255, 255}));
        // A 52-byte header has no alpha field: opaque.
        EXPECT_EQ(b, (RGBQUAD{255, 0, 0, BYTE(size == 52 ? 255 : 85)}));
        EXPECT_EQ(img.AlphaIsValid(), size != 52);
    }

    // Plain 32-bit BI_RGB ignores its fourth byte; an alpha field that is
    // zero everywhere is a writer that never filled it in.
    bmp.infoSize = 40;
    bmp.compression = 0;
    bmp.masks.clear();
    bmp.pixels = {10, 20, 30, 0, 40, 50, 60, 17};
    CxImage img = DecodeBytes(bmp.Build());
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_EQ(img.GetPixelColor(1, 0), (RGBQUAD{40, 50, 60, 255}));
    bmp.infoSize = 124;
    bmp.compression = 3;
    bmp.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    bmp.pixels = {10, 20, 30, 0, 40, 50, 60, 0};
    img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_FALSE(img.AlphaIsValid());
}

TEST(BmpDecode, Rle8EscapesDeltasAndClipping)
{
    Bmp bmp;
    bmp.width = 6;
    bmp.height = 4;
    bmp.bpp = 8;
    bmp.compression = 1;
    bmp.palette = Greys(4);
    bmp.pixels = {3, 1,                    // run
                  0, 3, 2, 3, 2, 0,        // odd absolute run and its pad byte
                  0, 0,                    // end of line
                  0, 2, 2, 1,              // delta: skips a row
                  2, 3, 0, 0,              // run, end of line
                  0, 4, 1, 2, 3, 1,        // even absolute run
                  5, 2,                    // run clipped at the right edge
                  0, 1};                   // end of bitmap
    CxImage img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_EQ(Rows(img), (std::vector<std::string>{"123122", "003300", "000000", "111232"}));

    // Runs never wrap into the next row; a delta past the top ends the data.
    bmp.width = 4;
    bmp.height = 2;
    bmp.pixels = {10, 3, 0, 0, 0, 6, 1, 2, 3, 1, 2, 3, 0, 2, 0, 9};
    img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    EXPECT_EQ(Rows(img), (std::vector<std::string>{"1231", "3333"}));

    // Data that ends with the last row complete needs no end code; data that
    // ends before it, or inside an absolute run, is truncated.
    bmp.pixels = {4, 1, 0, 0, 4, 2};
    EXPECT_TRUE(DecodeBytes(bmp.Build()).IsValid());
    bmp.pixels = {4, 1, 0, 0, 3, 2};
    EXPECT_FALSE(DecodeBytes(bmp.Build()).IsValid());
    bmp.pixels = {4, 1, 0, 0, 0, 4, 1, 2};
    EXPECT_FALSE(DecodeBytes(bmp.Build()).IsValid());
}

TEST(BmpDecode, Rle4NibblesDeltasAndPadding)
{
    Bmp bmp;
    bmp.width = 7;
    bmp.height = 3;
    bmp.bpp = 4;
    bmp.compression = 2;
    bmp.palette = Greys(16);
    bmp.pixels = {4, 0x12,                    // run alternates the two nibbles
                  0, 3, 0x34, 0x50,           // three nibbles in two bytes
                  0, 0,
                  0, 5, 0x67, 0x89, 0xA0, 0,  // five nibbles, three bytes, one pad
                  3, 0xBC,                    // clipped after two pixels
                  0, 0,
                  0, 2, 3, 0,                 // delta right only
                  2, 0xDE,
                  0, 1};
    const CxImage img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), 4);
    EXPECT_EQ(Rows(img), (std::vector<std::string>{"000DE00", "6789ABC", "1212345"}));
}

TEST(BmpDecode, PaletteSizeComesFromTheFileAndIsBounded)
{
    Bmp bmp;
    bmp.width = 4;
    bmp.bpp = 8;
    bmp.pixels = {0, 1, 2, 200};
    bmp.palette = Greys(3);
    CxImage img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetNumColors(), 3);
    EXPECT_EQ(Rows(img)[0], "0120");  // past the palette: entry 0

    bmp.palette = Greys(16);
    bmp.palette.resize(256);
    bmp.clrUsed = 100000;  // more than 8 bits allow
    img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetNumColors(), 256);

    bmp.bpp = 4;  // 20 entries stored, but 4 bits reach only 16
    bmp.palette = Greys(20);
    bmp.pixels = {0x01, 0x2F, 0, 0};
    img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetNumColors(), 16);
    EXPECT_EQ(img.GetPixelColor(3, 0).rgbRed, 255);

    bmp.bpp = 8;
    bmp.pixels = {0, 1, 2, 200};
    bmp.palette = Greys(2);
    bmp.clrUsed = 256; // claims more entries than the file holds
    img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetNumColors(), 3); // the third one made of the pixel bytes
    EXPECT_EQ(Rows(img)[0], "0120");

    bmp.palette.clear();
    EXPECT_FALSE(DecodeBytes(bmp.Build()).IsValid());

    // OS/2 palettes are three bytes an entry.
    bmp.infoSize = 12;
    bmp.palette = Greys(16);
    bmp.bpp = 4;
    bmp.width = 3;
    bmp.pixels = {0x1F, 0x20, 0, 0};
    img = DecodeBytes(bmp.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetPixelColor(1, 0).rgbRed, 255);
    EXPECT_EQ(img.GetPixelColor(2, 0).rgbRed, 34);
}

TEST(BmpDecode, RejectsTruncatedAndCorruptFiles)
{
    for (const char *name : {"rgb24_v3.bmp", "argb32_v5.bmp", "pal8.bmp", "pal8_rle.bmp", "pal1.bmp"}) {
        const std::vector<std::uint8_t> whole = Fixture(name);
        for (std::size_t cut : {std::size_t(10), std::size_t(20), std::size_t(60), whole.size() / 2,
                                whole.size() - 12}) {
            const CxImage img = DecodeBytes(std::vector<std::uint8_t>(whole.begin(), whole.begin() + cut));
            EXPECT_FALSE(img.IsValid()) << name << " cut at " << cut;
            EXPECT_STRNE(img.GetLastError(), "");
        }
    }
    // Only the last row's padding missing: every pixel is there.
    std::vector<std::uint8_t> b = Fixture("rgb24_v3.bmp");
    b.pop_back();
    EXPECT_TRUE(DecodeBytes(b).IsValid());
    EXPECT_FALSE(DecodeBytes(Fixture("broken_bitfields.bmp")).IsValid());

    Bmp good;
    good.width = 2;
    good.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    ASSERT_TRUE(DecodeBytes(good.Build()).IsValid());
    auto broken = [&](auto change) {
        Bmp bmp = good;
        change(bmp);
        return !DecodeBytes(bmp.Build()).IsValid();
    };
    EXPECT_TRUE(broken([](Bmp &m) { m.infoSize = 20; }));
    EXPECT_TRUE(broken([](Bmp &m) { m.width = 0; }));
    EXPECT_TRUE(broken([](Bmp &m) { m.width = -2; }));
    EXPECT_TRUE(broken([](Bmp &m) { m.height = 0; }));
    EXPECT_TRUE(broken([](Bmp &m) { m.bpp = 2; }));
    EXPECT_TRUE(broken([](Bmp &m) { m.compression = 3; }));  // bit fields at 24 bits
    EXPECT_TRUE(broken([](Bmp &m) { m.compression = 1; }));  // RLE8 at 24 bits
    EXPECT_TRUE(broken([](Bmp &m) { m.compression = 4; }));  // embedded JPEG
    EXPECT_TRUE(broken([](Bmp &m) { m.height = 2; }));       // a row short
}

TEST(BmpDecode, PixelDataOffsetIsFollowedInsideTheFile)
{
    // 4 x 1 pixels; at 8 bits the indices 1, 2, 3, 0 over four declared
    // entries, the third of them 1, 2, 3 (B, G, R).
    const std::vector<RGBQUAD> pal = {{0, 0, 0, 0}, {50, 50, 50, 0}, {1, 2, 3, 0}, {9, 9, 9, 0}};
    struct Case {
        const char *name;
        int bpp;
        std::size_t gap;
        std::int64_t offBits; // -1: after the palette and the gap
        bool loads;
        std::vector<int> red; // of each pixel
    };
    const Case cases[] = {
        {"24 bits, gap before the pixels", 24, 10, -1, true, {30, 60, 90, 120}},
        {"8 bits, gap before the pixels", 8, 6, -1, true, {50, 3, 9, 0}},
        // The pixels start inside the table, at its third entry: colours
        // from all four entries, pixels from the offset.
        {"8 bits, offset inside the palette", 8, 0, 14 + 40 + 8, true, {50, 3, 9, 0}},
        {"24 bits, offset inside the header", 24, 0, 20, false, {}},
        {"24 bits, offset past the end", 24, 0, 1000, false, {}},
        {"8 bits, offset at the palette start", 8, 0, 14 + 40, false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bmp bmp;
        bmp.width = 4;
        bmp.bpp = std::uint16_t(c.bpp);
        bmp.gap = c.gap;
        bmp.offBits = c.offBits;
        if (c.bpp == 8) {
            bmp.palette = pal;
            bmp.pixels = {1, 2, 3, 0};
        } else {
            for (int x = 0; x < 4; ++x)
                bmp.pixels.insert(bmp.pixels.end(), {0, 0, std::uint8_t(30 * (x + 1))});
        }
        const CxImage img = DecodeBytes(bmp.Build());
        ASSERT_EQ(img.IsValid(), c.loads) << img.GetLastError();
        for (std::size_t x = 0; x < c.red.size(); ++x)
            EXPECT_EQ(img.GetPixelColor(int(x), 0).rgbRed, c.red[x]) << "pixel " << x;
    }
}

TEST(BmpDecode, HugeHeaderFailsWithoutAllocating)
{
    Bmp bmp;
    bmp.width = 16000;  // 768 MB of pixels, within the limits
    bmp.height = 16000;
    bmp.pixels.assign(64, 0);
    CxImage img;
    {
        AddressSpaceCap cap(64 << 20);
        const std::vector<std::uint8_t> b = bmp.Build();
        EXPECT_FALSE(img.Decode(b.data(), b.size()));
    }
    EXPECT_STREQ(img.GetLastError(), "truncated BMP data");

    bmp.width = 1 << 20;
    bmp.height = 1;
    bmp.bpp = 8;
    bmp.compression = 1;
    bmp.palette = Greys(2);
    bmp.pixels = {0, 1};
    EXPECT_FALSE(DecodeBytes(bmp.Build()).IsValid());
}

TEST(BmpEncode, RoundTripsEveryDepthAndReadsInQt)
{
    std::vector<CxImage> images;
    for (int bpp : {1, 4, 8}) {
        CxImage img;
        ASSERT_TRUE(img.Create(bpp == 8 ? 9 : 37, 5, bpp));
        const int colors = bpp == 4 ? 11 : 1 << bpp;  // 4 bits with a short palette
        std::vector<RGBQUAD> pal;
        for (int i = 0; i < colors; ++i)
            pal.push_back(RGBQUAD{BYTE(i * 7), BYTE(255 - i), BYTE(i * 91), 0});
        ASSERT_TRUE(img.SetPalette(pal.data(), colors));
        for (int y = 0; y < img.GetHeight(); ++y)
            for (int x = 0; x < img.GetWidth(); ++x)
                img.SetPixelIndex(x, y, BYTE((x * 5 + y * 3 + x * y) % colors));
        images.push_back(img);
    }
    images.push_back(MakeTestImage(37, 23));

    for (const CxImage &img : images) {
        SCOPED_TRACE(img.GetBpp());
        const std::vector<std::uint8_t> bytes = Encode(img, CXIMAGE_FORMAT_BMP);
        ASSERT_GT(bytes.size(), 54u);
        const std::size_t rowBytes = ((std::size_t(img.GetWidth()) * std::size_t(img.GetBpp()) + 31) / 32) * 4;
        EXPECT_EQ(Get32(bytes, 2), bytes.size());
        EXPECT_EQ(bytes.size() - Get32(bytes, 10), rowBytes * std::size_t(img.GetHeight()));
        EXPECT_EQ(Get32(bytes, 34), rowBytes * std::size_t(img.GetHeight()));

        const CxImage back = DecodeBytes(bytes);
        ASSERT_TRUE(back.IsValid());
        EXPECT_EQ(back.GetBpp(), img.GetBpp());
        EXPECT_EQ(back.GetNumColors(), img.GetNumColors());
        EXPECT_EQ(MaxRgbaDiff(back, img), 0);
        if (img.GetBpp() != 24) {
            EXPECT_EQ(Rows(back), Rows(img));
        }

        CxImage viaQt;
        ASSERT_TRUE(viaQt.FromQImage(QImage::fromData(
            QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())), "BMP")));
        EXPECT_EQ(MaxRgbaDiff(viaQt, img), 0);
    }
}

TEST(BmpEncode, TransparencyIsCompositedOntoWhite)
{
    CxImage pal;
    ASSERT_TRUE(pal.Create(4, 2, 8));
    pal.SetPixelIndex(1, 0, 200);
    pal.SetTransIndex(200);
    CxImage back = DecodeBytes(Encode(pal, CXIMAGE_FORMAT_BMP));
    ASSERT_TRUE(back.IsValid());
    EXPECT_EQ(back.GetPaletteColor(200), (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(back.GetPaletteColor(199), pal.GetPaletteColor(199));
    EXPECT_EQ(back.GetPixelIndex(1, 0), 200);
    EXPECT_EQ(back.GetTransIndex(), -1);

    CxImage rgba = MakeTestImage(9, 3);
    ASSERT_TRUE(rgba.AlphaCreate());
    for (int x = 0; x < 9; ++x)
        rgba.AlphaGetPointer(1)[x] = BYTE(x * 31);
    back = DecodeBytes(Encode(rgba, CXIMAGE_FORMAT_BMP));
    ASSERT_TRUE(back.IsValid());
    EXPECT_FALSE(back.AlphaIsValid());
    EXPECT_LE(MaxChannelDiff(back, rgba), 1);  // both sides composited onto white
    EXPECT_EQ(back.GetPixelColor(0, 1), (RGBQUAD{255, 255, 255, 255}));
}

TEST(BmpEncode, ReportsAFailingStream)
{
    const CxImage img = MakeTestImage(20, 10);
    const std::size_t full = Encode(img, CXIMAGE_FORMAT_BMP).size();
    for (std::size_t room : {std::size_t(0), std::size_t(30), full - 1}) {
        ShortFile out(room);
        EXPECT_FALSE(cxcodec::EncodeBmp(img, out)) << room;
    }
    ShortFile enough(full);
    EXPECT_TRUE(cxcodec::EncodeBmp(img, enough));
}
