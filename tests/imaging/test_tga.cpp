// TGA: files against the picture they must show (ImageMagick's, gdk-pixbuf's
// and Pillow's, origins in tests/data/tga/*/README), every kind of file made
// here byte by byte from a known picture and read from all four corners,
// plain and run-length coded, and the files that must be refused.
#include "imaging/codecs/codecs.h"
#include "imaging/cximage.h"
#include "tests/test_support.h"

#include <QDirIterator>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

using namespace testsupport;

namespace {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 255;
    auto Key() const { return std::tie(r, g, b, a); }
    bool operator<(const Rgba &o) const { return Key() < o.Key(); }
};

// A picture as expected, row 0 at the top.
struct Picture {
    int width = 0, height = 0;
    std::vector<Rgba> pixels;
    const Rgba &At(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

// The largest difference of alpha, and of R, G, B weighted by the expected
// alpha (rounded up, so any error where a pixel shows counts); 256 for
// another size.
int Diff(const CxImage &img, const Picture &ref)
{
    if (img.GetWidth() != ref.width || img.GetHeight() != ref.height)
        return 256;
    int worst = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const RGBQUAD p = img.GetPixelColor(x, y);
            const Rgba &q = ref.At(x, y);
            worst = std::max(worst, std::abs(p.rgbReserved - q.a));
            for (int d : {p.rgbRed - q.r, p.rgbGreen - q.g, p.rgbBlue - q.b})
                worst = std::max(worst, (std::abs(d) * q.a + 254) / 255);
        }
    return worst;
}

Picture FromPng(const std::string &name)
{
    const QImage q = QImage(QString::fromStdString(DataPath(name))).convertToFormat(QImage::Format_ARGB32);
    Picture p;
    if (q.isNull()) {
        ADD_FAILURE() << "cannot read " << name;
        return p;
    }
    p.width = q.width();
    p.height = q.height();
    for (int y = 0; y < q.height(); ++y)
        for (int x = 0; x < q.width(); ++x) {
            const QRgb c = q.pixel(x, y);
            p.pixels.push_back(Rgba{qRed(c), qGreen(c), qBlue(c), qAlpha(c)});
        }
    return p;
}

// --- Files made here ------------------------------------------------------------

// What a file keeps in its alpha bits, and whether the reader must use it.
enum class Alpha {
    None,    // opaque
    Binary,  // clear or opaque, the clear pixels all black
    Full,    // any level
    Zero,    // clear everywhere: a writer that never filled it in
};

enum class Layout { Raw, RleAcrossRows, RleByRows };

struct Variant {
    const char *what;
    int kind;      // 1 colour-mapped, 2 true colour, 3 grey
    int depth;     // bits a pixel
    int mapDepth;  // bits a map entry
    int mapFirst;  // index of the map's first entry
    int attributeBits;
    int extAttributes;  // the extension area's attributes type; -1 none, -2 a footer alone
    int idLength;
    Alpha stored;
    bool alphaUsed;
    int width, height;
    // Expected: the picture's depth, an alpha plane, a transparent index.
    int bpp;
    bool alphaPlane, transIndex;
    int tolerance;
};

// An 8-bit value that 5 bits hold exactly (scaled as BMP's reader does).
int Exact5(int v)
{
    const int k = (v * 31 + 127) / 255;
    return (k * 255 + 15) / 31;
}

// The picture a variant stores: runs that go on across rows for the wide
// one, greys for grey files, 5-bit values for 15- and 16-bit colours.
Picture Source(const Variant &v)
{
    Picture p;
    p.width = v.width;
    p.height = v.height;
    const bool fiveBits = v.kind == 2 ? v.depth <= 16 : v.kind == 1 && v.mapDepth <= 16;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x) {
            Rgba c;
            const int n = y * v.width + x;
            const int cell = v.width > 16 ? n / 77 : n;  // long runs across rows when wide
            if (v.kind == 3) {
                c.r = c.g = c.b = (cell * 37 + 5) % 256;
            } else {
                c.r = (cell * 29 + 3) % 256;
                c.g = 255 - (cell * 53) % 256;
                c.b = (cell * 101 + 40) % 256;
            }
            if (fiveBits)
                c = Rgba{Exact5(c.r), Exact5(c.g), Exact5(c.b), 255};
            switch (v.stored) {
            case Alpha::None:
                break;
            case Alpha::Binary:
                if ((x + 2 * y) % 3 == 0)
                    c = Rgba{0, 0, 0, 0};
                break;
            case Alpha::Full:
                c.a = (cell * 53 + 17) % 256;
                break;
            case Alpha::Zero:
                c.a = 0;
                break;
            }
            p.pixels.push_back(c);
        }
    return p;
}

// What the reader must show: the alpha dropped where it is not to be used
// or was never filled in.
Picture Expected(const Variant &v)
{
    Picture p = Source(v);
    if (!v.alphaUsed || v.stored == Alpha::Zero)
        for (Rgba &c : p.pixels)
            c.a = 255;
    return p;
}

void Put16(std::vector<std::uint8_t> &out, unsigned v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

unsigned Pack16(const Rgba &c)
{
    const auto five = [](int v) { return unsigned(v * 31 + 127) / 255; };
    return five(c.r) << 10 | five(c.g) << 5 | five(c.b) | (c.a >= 128 ? 0x8000u : 0u);
}

// The premultiplied colour TGA 2.0's attributes type 4 means.
Rgba Premultiplied(Rgba c)
{
    for (int *v : {&c.r, &c.g, &c.b})
        *v = (*v * c.a + 127) / 255;
    return c;
}

// The bytes of one pixel or map entry of the given depth.
void PutColour(std::vector<std::uint8_t> &out, const Rgba &c, int depth, bool grey)
{
    if (grey) {
        out.push_back(std::uint8_t(c.r));
        if (depth == 16)
            out.push_back(std::uint8_t(c.a));
    } else if (depth <= 16) {
        Put16(out, Pack16(c));
    } else {
        out.insert(out.end(), {std::uint8_t(c.b), std::uint8_t(c.g), std::uint8_t(c.r)});
        if (depth == 32)
            out.push_back(std::uint8_t(c.a));
    }
}

// Run-length packets over pixels of n bytes: a run for two alike or more,
// else raw pixels, 128 at most a packet.
void PutRle(std::vector<std::uint8_t> &out, const std::vector<std::uint8_t> &pixels, std::size_t n)
{
    const std::size_t count = pixels.size() / n;
    auto same = [&](std::size_t i, std::size_t j) {
        return std::equal(pixels.begin() + std::ptrdiff_t(i * n), pixels.begin() + std::ptrdiff_t(i * n + n),
                          pixels.begin() + std::ptrdiff_t(j * n));
    };
    std::size_t i = 0;
    while (i < count) {
        std::size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run))
            ++run;
        if (run > 1) {
            out.push_back(std::uint8_t(0x80 | (run - 1)));
            out.insert(out.end(), pixels.begin() + std::ptrdiff_t(i * n), pixels.begin() + std::ptrdiff_t(i * n + n));
            i += run;
            continue;
        }
        std::size_t raw = 1;
        while (i + raw < count && raw < 128 && !(i + raw + 1 < count && same(i + raw, i + raw + 1)))
            ++raw;
        out.push_back(std::uint8_t(raw - 1));
        out.insert(out.end(), pixels.begin() + std::ptrdiff_t(i * n), pixels.begin() + std::ptrdiff_t((i + raw) * n));
        i += raw;
    }
}

// A TGA of the variant's picture stored from the given corner (the
// descriptor's bits 4 and 5).
std::vector<std::uint8_t> MakeTga(const Variant &v, int origin, Layout layout)
{
    const Picture pic = Source(v);
    const bool premultiply = v.extAttributes == 4;
    // The map: every colour the picture has, in order of first use.
    std::vector<Rgba> map;
    std::map<Rgba, int> index;
    if (v.kind == 1)
        for (const Rgba &c : pic.pixels)
            if (index.emplace(c, v.mapFirst + int(map.size())).second)
                map.push_back(c);

    std::vector<std::uint8_t> out(18, 0);
    out[0] = std::uint8_t(v.idLength);
    out[1] = v.kind == 1 ? 1 : 0;
    out[2] = std::uint8_t(v.kind + (layout == Layout::Raw ? 0 : 8));
    if (v.kind == 1) {
        out[3] = std::uint8_t(v.mapFirst);
        out[4] = std::uint8_t(v.mapFirst >> 8);
        out[5] = std::uint8_t(map.size());
        out[6] = std::uint8_t(map.size() >> 8);
        out[7] = std::uint8_t(v.mapDepth);
    }
    out[12] = std::uint8_t(v.width);
    out[13] = std::uint8_t(v.width >> 8);
    out[14] = std::uint8_t(v.height);
    out[15] = std::uint8_t(v.height >> 8);
    out[16] = std::uint8_t(v.depth);
    out[17] = std::uint8_t(v.attributeBits | origin);
    for (int i = 0; i < v.idLength; ++i)
        out.push_back(std::uint8_t('A' + i % 26));
    for (const Rgba &c : map)
        PutColour(out, premultiply ? Premultiplied(c) : c, v.mapDepth, false);

    const bool right = origin & 0x10, top = origin & 0x20;
    const std::size_t pixelBytes = std::size_t(v.depth + 7) / 8;
    std::vector<std::uint8_t> stored, row;
    for (int r = 0; r < v.height; ++r) {
        const int y = top ? r : v.height - 1 - r;
        row.clear();
        for (int col = 0; col < v.width; ++col) {
            const Rgba &c = pic.At(right ? v.width - 1 - col : col, y);
            if (v.kind == 1 && v.depth == 8)
                row.push_back(std::uint8_t(index[c]));
            else if (v.kind == 1)
                Put16(row, unsigned(index[c]));
            else
                PutColour(row, premultiply ? Premultiplied(c) : c, v.depth, v.kind == 3);
        }
        if (layout == Layout::RleByRows)
            PutRle(out, row, pixelBytes);
        else
            stored.insert(stored.end(), row.begin(), row.end());
    }
    if (layout == Layout::Raw)
        out.insert(out.end(), stored.begin(), stored.end());
    else if (layout == Layout::RleAcrossRows)
        PutRle(out, stored, pixelBytes);

    if (v.extAttributes != -1) {
        const std::size_t extension = v.extAttributes >= 0 ? out.size() : 0;
        if (v.extAttributes >= 0) {
            out.resize(out.size() + 495, 0);
            out[extension] = 495 & 0xFF;
            out[extension + 1] = 495 >> 8;
            out[extension + 494] = std::uint8_t(v.extAttributes);
        }
        for (int i = 0; i < 4; ++i)
            out.push_back(std::uint8_t(extension >> (8 * i)));
        out.insert(out.end(), 4, 0);
        const char kSignature[] = "TRUEVISION-XFILE.";
        out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
    }
    return out;
}

const Variant kVariants[] = {
    // what, kind, depth, map depth, first, attribute bits, extension, ID, alpha stored, used,
    // width, height, bpp, alpha plane, transparent index, tolerance
    {"24 bits", 2, 24, 0, 0, 0, -1, 0, Alpha::None, false, 7, 5, 24, false, false, 0},
    {"24 bits, a 255-byte ID", 2, 24, 0, 0, 0, -1, 255, Alpha::None, false, 7, 5, 24, false, false, 0},
    {"24 bits, TGA 2.0 footer alone", 2, 24, 0, 0, 0, -2, 3, Alpha::None, false, 7, 5, 24, false, false, 0},
    {"24 bits claiming 8 alpha bits", 2, 24, 0, 0, 8, -1, 0, Alpha::None, false, 7, 5, 24, false, false, 0},
    {"24 bits, wide: runs across rows", 2, 24, 0, 0, 0, -1, 0, Alpha::None, false, 300, 4, 24, false, false, 0},
    {"24 bits, wider than Qt read", 2, 24, 0, 0, 0, -1, 0, Alpha::None, false, 8200, 2, 24, false, false, 0},
    {"32 bits, 8 alpha bits", 2, 32, 0, 0, 8, -1, 0, Alpha::Full, true, 7, 5, 24, true, false, 0},
    {"32 bits, no alpha bits: spare byte", 2, 32, 0, 0, 0, -1, 0, Alpha::Full, false, 7, 5, 24, false, false, 0},
    {"32 bits, alpha never filled in", 2, 32, 0, 0, 8, -1, 0, Alpha::Zero, true, 7, 5, 24, false, false, 0},
    {"32 bits, wide, alpha", 2, 32, 0, 0, 8, -1, 0, Alpha::Full, true, 300, 4, 24, true, false, 0},
    {"32 bits, extension: no alpha (0)", 2, 32, 0, 0, 8, 0, 0, Alpha::Full, false, 7, 5, 24, false, false, 0},
    {"32 bits, extension: undefined, ignore (1)", 2, 32, 0, 0, 8, 1, 0, Alpha::Full, false, 7, 5, 24, false, false, 0},
    {"32 bits, extension: undefined, keep (2)", 2, 32, 0, 0, 8, 2, 0, Alpha::Full, false, 7, 5, 24, false, false, 0},
    {"32 bits, extension: alpha (3)", 2, 32, 0, 0, 0, 3, 0, Alpha::Full, true, 7, 5, 24, true, false, 0},
    {"32 bits, extension: premultiplied (4)", 2, 32, 0, 0, 8, 4, 0, Alpha::Full, true, 7, 5, 24, true, false, 1},
    {"16 bits, attribute bit", 2, 16, 0, 0, 1, -1, 0, Alpha::Binary, true, 7, 5, 24, true, false, 0},
    {"16 bits, no attribute bit", 2, 16, 0, 0, 0, -1, 0, Alpha::Binary, false, 7, 5, 24, false, false, 0},
    {"16 bits, attribute bit never set", 2, 16, 0, 0, 1, -1, 0, Alpha::Zero, true, 7, 5, 24, false, false, 0},
    {"15 bits", 2, 15, 0, 0, 0, -1, 0, Alpha::None, false, 7, 5, 24, false, false, 0},
    {"grey 8 bits", 3, 8, 0, 0, 0, -1, 0, Alpha::None, false, 7, 5, 8, false, false, 0},
    {"grey 8 bits, wide", 3, 8, 0, 0, 0, -1, 0, Alpha::None, false, 300, 4, 8, false, false, 0},
    {"grey and alpha, 16 bits", 3, 16, 0, 0, 8, -1, 0, Alpha::Full, true, 7, 5, 24, true, false, 0},
    {"grey 16 bits, no alpha bits", 3, 16, 0, 0, 0, -1, 0, Alpha::Full, false, 7, 5, 8, false, false, 0},
    {"map of 24 bits", 1, 8, 24, 0, 0, -1, 0, Alpha::None, false, 7, 5, 8, false, false, 0},
    {"map of 24 bits from index 100", 1, 8, 24, 100, 0, -1, 7, Alpha::None, false, 7, 5, 8, false, false, 0},
    {"map of 15 bits", 1, 8, 15, 3, 0, -1, 0, Alpha::None, false, 7, 5, 8, false, false, 0},
    {"map of 16 bits, attribute bit", 1, 8, 16, 0, 1, -1, 0, Alpha::Binary, true, 7, 5, 8, false, true, 0},
    {"map of 16 bits, no attribute bit", 1, 8, 16, 0, 0, -1, 0, Alpha::Binary, false, 7, 5, 8, false, false, 0},
    {"map of 32 bits, one clear entry", 1, 8, 32, 9, 8, -1, 0, Alpha::Binary, true, 7, 5, 8, false, true, 0},
    {"map of 32 bits, alpha levels", 1, 8, 32, 0, 8, -1, 0, Alpha::Full, true, 7, 5, 24, true, false, 0},
    {"map of 32 bits, no alpha bits", 1, 8, 32, 0, 0, -1, 0, Alpha::Full, false, 7, 5, 8, false, false, 0},
    {"map of 32 bits, premultiplied", 1, 8, 32, 0, 8, 4, 0, Alpha::Full, true, 7, 5, 24, true, false, 1},
    {"map of 24 bits, wide", 1, 8, 24, 0, 0, -1, 0, Alpha::None, false, 300, 4, 8, false, false, 0},
    {"16-bit indices from 300", 1, 16, 24, 300, 0, -1, 0, Alpha::None, false, 7, 5, 24, false, false, 0},
};

const struct {
    int bits;
    const char *name;
} kOrigins[] = {{0x00, "bottom left"}, {0x10, "bottom right"}, {0x20, "top left"}, {0x30, "top right"}};

const struct {
    Layout layout;
    const char *name;
} kLayouts[] = {
    {Layout::Raw, "plain"}, {Layout::RleAcrossRows, "RLE across rows"}, {Layout::RleByRows, "RLE by rows"}};

} // namespace

TEST(Tga, EveryKindReadsFromEveryCorner)
{
    for (const Variant &v : kVariants) {
        const Picture expected = Expected(v);
        for (const auto &origin : kOrigins)
            for (const auto &layout : kLayouts) {
                SCOPED_TRACE(testing::Message() << v.what << ", " << origin.name << ", " << layout.name);
                const std::vector<std::uint8_t> bytes = MakeTga(v, origin.bits, layout.layout);
                ASSERT_EQ(CxImage::DetectFormat(bytes.data(), bytes.size()), CXIMAGE_FORMAT_TGA);
                CxImage img;
                ASSERT_TRUE(img.Decode(bytes.data(), bytes.size())) << img.GetLastError();
                EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_TGA);
                EXPECT_EQ(img.GetBpp(), v.bpp);
                EXPECT_EQ(img.AlphaIsValid(), v.alphaPlane);
                EXPECT_EQ(img.GetTransIndex() >= 0, v.transIndex);
                EXPECT_LE(Diff(img, expected), v.tolerance);
                EXPECT_EQ(img.GetSrcWidth(), v.width);
                EXPECT_EQ(img.GetSrcHeight(), v.height);
            }
    }
}

// A paletted picture keeps the map's own size, placed at its first index;
// an index outside the map shows black, clear where the map has alpha.
TEST(Tga, AMapKeepsItsSizeAndIndicesPastItShowBlack)
{
    const Variant v{"map", 1, 8, 24, 2, 0, -1, 0, Alpha::None, false, 7, 5, 8, false, false, 0};
    std::vector<std::uint8_t> bytes = MakeTga(v, 0x20, Layout::Raw);
    CxImage img;
    ASSERT_TRUE(img.Decode(bytes.data(), bytes.size()));
    EXPECT_EQ(img.GetNumColors(), 2 + 35);
    const std::size_t firstPixel = 18 + 35 * 3;
    bytes[firstPixel] = 200;  // top left
    bytes[firstPixel + 1] = 1;  // below the map's first index
    ASSERT_TRUE(img.Decode(bytes.data(), bytes.size()));
    EXPECT_EQ(img.GetNumColors(), 201);
    for (int x : {0, 1}) {
        const RGBQUAD c = img.GetPixelColor(x, 0);
        EXPECT_EQ(c.rgbRed + c.rgbGreen + c.rgbBlue, 0) << x;
        EXPECT_EQ(c.rgbReserved, 255) << x;
    }

    // With alpha in the map: the map's one clear entry and the missing ones
    // are more than one transparent index can say.
    const Variant withAlpha{"map", 1, 8, 32, 0, 8, -1, 0, Alpha::Binary, true, 7, 5, 8, false, true, 0};
    bytes = MakeTga(withAlpha, 0x20, Layout::Raw);
    ASSERT_TRUE(img.Decode(bytes.data(), bytes.size()));
    EXPECT_EQ(img.GetBpp(), 8);
    const std::size_t entries = bytes[5];
    bytes[18 + entries * 4 + 1] = 250;  // second pixel of the top row
    ASSERT_TRUE(img.Decode(bytes.data(), bytes.size()));
    EXPECT_EQ(img.GetBpp(), 24);
    const RGBQUAD c = img.GetPixelColor(1, 0);
    EXPECT_EQ(c.rgbReserved, 0);
    EXPECT_EQ(img.GetPixelColor(2, 0).rgbReserved, 255);
}

// Files written elsewhere against the picture they show: ImageMagick's
// (scripts/fixtures/qt_formats.sh; it stores its top row first, so each is
// made from its template turned upside down), and gdk-pixbuf's and
// Pillow's with their own renderings.
TEST(Tga, FilesShowTheirReferencePictures)
{
    const struct {
        const char *file, *reference;
        int bpp;
        bool alpha;
        int tolerance;
    } rows[] = {
        // TGA 1.0 and 2.0, bottom-up and top-down rows.
        {"tga/rgb24.tga", "tga/template_rgb.png", 24, false, 0},
        {"tga/rgb24_v2.tga", "tga/template_rgb.png", 24, false, 0},
        {"tga/top_down.tga", "tga/template_rgb.png", 24, false, 0},
        {"tga/alpha32.tga", "tga/template_alpha.png", 24, true, 0},
        {"tga/rle.tga", "tga/template_rgb.png", 24, false, 0},
        {"tga/grey.tga", "pnm/template_grey.png", 8, false, 0},
        // ImageMagick takes its 5 bits a channel by cutting low (by up to 16
        // here); read as stored, not as meant.
        {"tga/rgb16.tga", "tga/template_rgb.png", 24, false, 16},
        // Rows from right to left, with the rest of what gdk-pixbuf covers.
        {"tga/gdk-pixbuf/gtk-logo-24bpp-bottom-right.tga", "tga/gdk-pixbuf/gtk-logo-24bpp-bottom-right.tga.ref.png",
         24, false, 0},
        {"tga/gdk-pixbuf/gtk-logo-rle-32bpp-top-right.tga", "tga/gdk-pixbuf/gtk-logo-rle-32bpp-top-right.tga.ref.png",
         24, true, 0},
        {"tga/gdk-pixbuf/gtk-logo-cmap-rle-8bpp-top-left.tga",
         "tga/gdk-pixbuf/gtk-logo-cmap-rle-8bpp-top-left.tga.ref.png", 8, false, 0},
        {"tga/gdk-pixbuf/gtk-logo-gray-rle-16bpp-bottom-right.tga",
         "tga/gdk-pixbuf/gtk-logo-gray-rle-16bpp-bottom-right.tga.ref.png", 24, true, 0},
        // An image-ID field; packets across rows; a map of 16-bit entries.
        {"tga/pillow/tga_id_field.tga", "tga/pillow/tga_id_field.png", 24, false, 0},
        {"tga/pillow/cross_scan_line.tga", "tga/pillow/cross_scan_line.png", 8, false, 0},
        {"tga/pillow/p_16.tga", "tga/pillow/p_16.png", 8, false, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        CxImage img;
        ASSERT_TRUE(img.Load(DataPath(row.file).c_str())) << img.GetLastError();
        EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_TGA);
        EXPECT_EQ(img.GetBpp(), row.bpp);
        EXPECT_EQ(img.AlphaIsValid(), row.alpha);
        EXPECT_LE(Diff(img, FromPng(row.reference)), row.tolerance);
        EXPECT_EQ(img.GetSrcWidth(), img.GetWidth());
    }
}

namespace {

std::vector<std::uint8_t> Header(int type, int w, int h, int depth, std::size_t pixelBytes)
{
    std::vector<std::uint8_t> b(18 + pixelBytes, 0);
    b[2] = std::uint8_t(type);
    b[12] = std::uint8_t(w);
    b[13] = std::uint8_t(w >> 8);
    b[14] = std::uint8_t(h);
    b[15] = std::uint8_t(h >> 8);
    b[16] = std::uint8_t(depth);
    return b;
}

std::vector<std::uint8_t> With(std::vector<std::uint8_t> b, std::size_t at, std::uint8_t value)
{
    b[at] = value;
    return b;
}

} // namespace

// Refused with a reason, before anything of the size given is allocated.
TEST(Tga, DamagedAndUnknownFilesAreRefused)
{
    const Variant rle{"rle", 2, 24, 0, 0, 0, -1, 0, Alpha::None, false, 7, 5, 24, false, false, 0};
    std::vector<std::uint8_t> cutRle = MakeTga(rle, 0, Layout::RleAcrossRows);
    cutRle.resize(cutRle.size() - 2);
    const Variant mapped{"map", 1, 8, 24, 0, 0, -1, 0, Alpha::None, false, 7, 5, 8, false, false, 0};
    std::vector<std::uint8_t> cutMap = MakeTga(mapped, 0, Layout::Raw);
    cutMap.resize(18 + 20);
    const struct {
        const char *what;
        std::vector<std::uint8_t> bytes;
        const char *reason;
    } rows[] = {
        {"past the limits", Header(2, 65535, 65535, 32, 64), "image too large"},
        {"within the limits, 64 bytes", Header(2, 8000, 8000, 24, 64), "truncated TGA data"},
        {"16384 x 8193 in 64 bytes", Header(2, 16384, 8193, 24, 64), "truncated TGA data"},
        {"RLE within the limits, 64 bytes", Header(10, 8000, 8000, 24, 64), "truncated TGA data"},
        {"one row short", Header(2, 13, 7, 24, 13 * 6 * 3), "truncated TGA data"},
        {"RLE cut short", cutRle, "truncated TGA data"},
        {"Pillow's RLE cut short", ReadFileBytes(DataPath("tga/pillow/cross_scan_line_truncated.tga")),
         "truncated TGA data"},
        {"map cut short", cutMap, "truncated TGA header"},
        {"no width", Header(2, 0, 7, 24, 64), "empty image size"},
        {"12 bits", Header(2, 13, 7, 12, 13 * 7 * 2), "unsupported TGA depth"},
        {"grey of 24 bits", Header(3, 13, 7, 24, 13 * 7 * 3), "unsupported TGA depth"},
        {"Huffman coded (type 32)", Header(32, 13, 7, 8, 13 * 7), "unsupported TGA type"},
        {"no image (type 0)", Header(0, 13, 7, 8, 13 * 7), "unsupported TGA type"},
        {"map type 2", With(Header(2, 13, 7, 24, 13 * 7 * 3), 1, 2), "unsupported TGA colour map"},
        {"mapped without a map", Header(1, 13, 7, 8, 13 * 7), "TGA colour map missing"},
        {"interleaved rows", With(Header(2, 13, 7, 24, 13 * 7 * 3), 17, 0x40), "unsupported TGA interleaving"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        CxImage img;
        EXPECT_FALSE(cxcodec::DecodeTga(row.bytes.data(), row.bytes.size(), img, cxcodec::DecodeRequest{}));
        EXPECT_STREQ(img.GetLastError(), row.reason);
        EXPECT_FALSE(img.IsValid());
    }
    // A cancelled run stops before the picture is made.
    const std::vector<std::uint8_t> fine = MakeTga(rle, 0, Layout::Raw);
    std::atomic<bool> cancel{true};
    cxcodec::DecodeRequest req;
    req.cancel = &cancel;
    CxImage img;
    EXPECT_FALSE(cxcodec::DecodeTga(fine.data(), fine.size(), img, req));
    EXPECT_STREQ(img.GetLastError(), "cancelled");
}

// TGA has no magic number: no other test file may be taken for one, and
// every TGA here is.
TEST(Tga, OnlyTgaFilesAreTakenForTga)
{
    int tga = 0, others = 0;
    QDirIterator it(QString::fromStdString(DataPath("")), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const std::vector<std::uint8_t> bytes = ReadFileBytes(path.toStdString());
        const bool isTga = path.endsWith(QLatin1String(".tga"), Qt::CaseInsensitive);
        EXPECT_EQ(CxImage::DetectFormat(bytes.data(), bytes.size()) == CXIMAGE_FORMAT_TGA, isTga)
            << path.toStdString();
        ++(isTga ? tga : others);
    }
    EXPECT_GE(tga, 15);
    EXPECT_GE(others, 300);
}
