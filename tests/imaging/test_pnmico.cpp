// PNM and ICO variants other readers take, each a small file made here
// against the pixels it holds (0xAARRGGBB, top row first), and the PNM
// files refused with their reason.
#include "imaging/cxfile.h"
#include "imaging/cximage.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kClear = 0x00000000, kBlack = 0xFF000000, kWhite = 0xFFFFFFFF;

constexpr std::uint32_t Grey(std::uint32_t v)
{
    return 0xFF000000 | v << 16 | v << 8 | v;
}

std::vector<std::uint8_t> Bytes(const std::string &header, const std::vector<std::uint8_t> &raster = {})
{
    std::vector<std::uint8_t> b(header.begin(), header.end());
    b.insert(b.end(), raster.begin(), raster.end());
    return b;
}

std::vector<std::uint8_t> Pam(int w, int h, int depth, int maxval, const char *tuple,
                              const std::vector<std::uint8_t> &raster)
{
    std::string s = "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) + "\nDEPTH " +
                    std::to_string(depth) + "\nMAXVAL " + std::to_string(maxval) + "\n";
    if (*tuple)
        s += std::string("TUPLTYPE ") + tuple + "\n";
    return Bytes(s + "ENDHDR\n", raster);
}

void Put(std::vector<std::uint8_t> &b, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(std::uint8_t(v >> (8 * i)));
}

// An icon file whose one entry the directory calls dirW x dirH, holding
// `image` at the offset the directory gives.
std::vector<std::uint8_t> Icon(int dirW, int dirH, const std::vector<std::uint8_t> &image)
{
    std::vector<std::uint8_t> b = {0, 0, 1, 0, 1, 0, std::uint8_t(dirW), std::uint8_t(dirH)};
    for (std::uint8_t v : {0, 0, 1, 0, 32, 0})
        b.push_back(v);
    Put(b, std::uint32_t(image.size()), 4);
    Put(b, 22, 4);
    b.insert(b.end(), image.begin(), image.end());
    return b;
}

// A bitmap entry of w x h pixels (0xAARRGGBB, top row first) at depth 16,
// 24 or 32, or 8 through a colour table of the pixels' colours, with the
// AND mask's 1 bits where `mask` says (top row first, '1' masked).
std::vector<std::uint8_t> Dib(int w, int h, int bpp, const std::vector<std::uint32_t> &px,
                              const std::string &mask)
{
    std::vector<std::uint32_t> table;
    if (bpp == 8)
        for (std::uint32_t c : px)
            if (std::find(table.begin(), table.end(), c) == table.end())
                table.push_back(c);
    std::vector<std::uint8_t> b;
    for (std::uint32_t v : {40u, std::uint32_t(w), std::uint32_t(2 * h)})
        Put(b, v, 4);
    Put(b, 1, 2);
    Put(b, std::uint32_t(bpp), 2);
    for (std::uint32_t v : {0u, 0u, 0u, 0u, std::uint32_t(table.size()), 0u})
        Put(b, v, 4);
    for (std::uint32_t c : table)
        Put(b, c & 0xFFFFFF, 4);
    for (int y = h - 1; y >= 0; --y) {
        const std::size_t start = b.size();
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = px[std::size_t(y * w + x)];
            if (bpp == 8)
                b.push_back(std::uint8_t(std::find(table.begin(), table.end(), c) - table.begin()));
            else if (bpp == 16)
                Put(b, (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31), 2);
            else
                Put(b, bpp == 32 ? c : c & 0xFFFFFF, bpp / 8);
        }
        b.resize(start + (b.size() - start + 3) / 4 * 4, 0);
    }
    for (int y = h - 1; y >= 0; --y) {
        std::uint8_t row[4] = {};
        for (int x = 0; x < w; ++x)
            if (mask[std::size_t(y * w + x)] == '1')
                row[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
        b.insert(b.end(), row, row + 4);
    }
    return b;
}

std::vector<std::uint8_t> Png(int w, int h, const std::vector<std::uint32_t> &px)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, px[std::size_t(y * w + x)]);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "PNG");
    return {bytes.begin(), bytes.end()};
}

} // namespace

TEST(PnmIco, VariantsDecodeToTheirPixels)
{
    const std::uint32_t a = 0xFFC86432, b = 0xFF0A141E, c = 0xFF3C5064, d = 0xFFFFFFFF;
    const struct {
        const char *what;
        std::vector<std::uint8_t> file;
        int width, bpp;
        std::vector<std::uint32_t> pixels;
    } rows[] = {
        {"plain PBM, no blanks", Bytes("P1 4 1\n01#c\n10"), 4, 1, {kWhite, kBlack, kBlack, kWhite}},
        {"comment right after the magic number", Bytes("P5#c\n2 1 255\n", {7, 9}), 2, 8, {Grey(7), Grey(9)}},
        {"comment ended by a CR", Bytes("P5 2#c\r1 255\n", {7, 9}), 2, 8, {Grey(7), Grey(9)}},
        {"comment ending the header", Bytes("P5 1 1 255#c\n", {7}), 1, 8, {Grey(7)}},
        // Samples above the maxval count as the maxval.
        {"plain PGM", Bytes("P2 3 1 4\n0 2 9\n"), 3, 8, {Grey(0), Grey(127), Grey(255)}},
        {"plain PPM", Bytes("P3 1 1 255\n300 0 70000\n"), 1, 24, {0xFFFF00FF}},
        {"raw PGM", Bytes("P5 2 1 100\n", {50, 200}), 2, 8, {Grey(127), Grey(255)}},
        {"16-bit PPM", Bytes("P6 1 1 1000\n", {4, 176, 0, 100, 1, 244}), 1, 24, {0xFFFF197F}},
        {"16-bit PGM", Bytes("P5 1 1 1000\n", {255, 255}), 1, 8, {Grey(255)}},
        // PAM's tuple types
        {"PAM bilevel", Pam(3, 1, 1, 1, "BLACKANDWHITE", {0, 1, 5}), 3, 1, {kBlack, kWhite, kWhite}},
        {"PAM grey, 16 bits", Pam(2, 1, 1, 65535, "GRAYSCALE", {128, 0, 255, 255}), 2, 8, {Grey(127), d}},
        {"PAM RGB", Pam(1, 1, 3, 255, "RGB", {1, 2, 3}), 1, 24, {0xFF010203}},
        {"PAM bilevel, alpha",
         Pam(2, 1, 2, 1, "BLACKANDWHITE_ALPHA", {1, 0, 0, 1}),
         2,
         24,
         {d - kBlack, kBlack}},
        {"PAM grey, alpha",
         Pam(2, 1, 2, 255, "GRAYSCALE_ALPHA", {9, 0, 200, 9}),
         2,
         24,
         {0x090909, 0x09C8C8C8}},
        {"PAM RGB, alpha", Pam(1, 1, 4, 255, "RGB_ALPHA", {1, 2, 3, 4}), 1, 24, {0x04010203}},
        {"PAM, no tuple type", Pam(1, 1, 3, 15, "", {15, 0, 8}), 1, 24, {0xFFFF0088}},
        // Icons: the mask hides what 24 bits and below show; 32-bit alpha
        // wins unless it is zero everywhere.
        {"24-bit icon", Icon(2, 2, Dib(2, 2, 24, {a, b, c, d}, "0100")), 2, 24, {a, kClear, c, d}},
        {"8-bit icon", Icon(2, 2, Dib(2, 2, 8, {a, b, c, d}, "0001")), 2, 24, {a, b, c, kClear}},
        {"16-bit icon", Icon(2, 1, Dib(2, 1, 16, {0xFFFF0000, 0xFF0000FF}, "10")), 2, 24, {0, 0xFF0000FF}},
        {"32-bit icon, no alpha", Icon(2, 1, Dib(2, 1, 32, {a - kBlack, b - kBlack}, "01")), 2, 24, {a, 0}},
        {"32-bit icon, alpha", Icon(2, 1, Dib(2, 1, 32, {0x80C9630B, b}, "11")), 2, 24, {0x80C9630B, b}},
        // The directory's size is not the picture's.
        {"bitmap icon", Icon(32, 32, Dib(2, 1, 24, {a, b}, "00")), 2, 24, {a, b}},
        {"PNG icon", Icon(0, 0, Png(2, 1, {0x80C9630B, b})), 2, 24, {0x80C9630B, b}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        CxImage img;
        EXPECT_TRUE(img.Decode(row.file.data(), row.file.size())) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), row.bpp);
        EXPECT_EQ(img.GetWidth(), row.width);
        if (std::size_t(img.GetWidth() * img.GetHeight()) != row.pixels.size() || img.GetWidth() != row.width)
            continue;
        for (int y = 0; y < img.GetHeight(); ++y)
            for (int x = 0; x < img.GetWidth(); ++x) {
                const RGBQUAD p = img.GetPixelColor(x, y);
                const std::uint32_t argb = std::uint32_t(p.rgbReserved) << 24 |
                                           std::uint32_t(p.rgbRed) << 16 | std::uint32_t(p.rgbGreen) << 8 |
                                           p.rgbBlue;
                EXPECT_EQ(argb, row.pixels[std::size_t(y * img.GetWidth() + x)]) << std::hex << x << "," << y;
            }
    }
}

TEST(PnmIco, BrokenPamAndPlainFilesAreRefused)
{
    const struct {
        const char *what;
        std::vector<std::uint8_t> file;
        const char *reason;
    } rows[] = {
        {"unknown tuple type", Pam(1, 1, 4, 255, "CMYK", {0, 0, 0, 0}), "unsupported PAM tuple type"},
        {"four planes, no tuple type", Pam(1, 1, 4, 255, "", {0, 0, 0, 0}), "unsupported PAM tuple type"},
        {"depth unlike its type's", Pam(1, 1, 4, 255, "RGB", {0, 0, 0, 0}), "unsupported PAM tuple type"},
        {"no ENDHDR", Bytes("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n", {0}), "cannot decode PNM"},
        {"unknown header line", Bytes("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nX 1\nENDHDR\n", {0}),
         "cannot decode PNM"},
        {"PAM a byte short", Pam(2, 1, 3, 255, "RGB", {0, 0, 0, 0, 0}), "truncated PNM data"},
        {"PAM past the limits", Pam(100000, 100000, 1, 255, "", {0}), "image too large"},
        {"maxval 0", Bytes("P5 1 1 0\n", {0}), "cannot decode PNM"},
        {"plain PBM of other digits", Bytes("P1 2 1\n02"), "cannot decode PNM"},
        {"plain PGM cut short", Bytes("P2 2 2 255\n1 2 3"), "truncated PNM data"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        CxImage img;
        EXPECT_FALSE(img.Decode(row.file.data(), row.file.size()));
        EXPECT_STREQ(img.GetLastError(), row.reason);
    }
}

// Written, a picture takes the fewest channels that hold it (grey as a PGM,
// colour as a PPM, transparency as a PAM of RGB and alpha) and reads back
// pixel for pixel.
TEST(PnmIco, WrittenAsTheFewestChannelsAndReadBack)
{
    CxImage grey;
    ASSERT_TRUE(grey.Create(5, 3, 8));
    RGBQUAD greys[256];
    for (int i = 0; i < 256; ++i)
        greys[i] = RGBQUAD{BYTE(255 - i), BYTE(255 - i), BYTE(255 - i), 0}; // not the identity
    grey.SetPalette(greys, 256);
    CxImage colour, clear, paletteClear = grey;
    ASSERT_TRUE(colour.Create(5, 3, 24) && clear.Create(5, 3, 24) && clear.AlphaCreate());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            grey.SetPixelIndex(x, y, BYTE(x * 40 + y));
            paletteClear.SetPixelIndex(x, y, BYTE(x + y));
            colour.SetPixelColor(x, y, RGBQUAD{BYTE(x * 50), BYTE(y * 90), BYTE(x + y), 0});
            clear.SetPixelColor(x, y, RGBQUAD{BYTE(x * 50), BYTE(y * 90), 7, BYTE(x * 60)}, true);
        }
    paletteClear.SetTransIndex(2);
    const struct {
        const CxImage *picture;
        const char *header;
    } rows[] = {{&grey, "P5\n5 3\n255\n"},
                {&colour, "P6\n5 3\n255\n"},
                {&clear, "P7\nWIDTH 5\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"},
                {&paletteClear, "P7\nWIDTH 5\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.header);
        CxImage picture = *r.picture;
        CxMemFile out;
        ASSERT_TRUE(out.Open() && picture.Encode(&out, CXIMAGE_FORMAT_PNM));
        const std::string bytes(reinterpret_cast<const char *>(out.GetBuffer(false)),
                                std::size_t(out.Size()));
        const std::size_t channels = std::string(r.header).starts_with("P5")   ? 1
                                     : std::string(r.header).starts_with("P6") ? 3
                                                                               : 4;
        EXPECT_EQ(bytes.substr(0, std::strlen(r.header)), r.header);
        EXPECT_EQ(bytes.size(), std::strlen(r.header) + 15 * channels);
        CxImage back;
        ASSERT_TRUE(back.Decode(out.GetBuffer(false), std::size_t(out.Size())));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const RGBQUAD a = picture.GetPixelColor(x, y), b = back.GetPixelColor(x, y);
                EXPECT_EQ(a.rgbRed, b.rgbRed);
                EXPECT_EQ(a.rgbGreen, b.rgbGreen);
                EXPECT_EQ(a.rgbBlue, b.rgbBlue);
                EXPECT_EQ(a.rgbReserved, b.rgbReserved) << x << "," << y;
            }
    }
}
