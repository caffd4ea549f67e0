#include "tests/imaging/jpeg_png_tiff_helpers.h"
#include "imaging/testhooks.h"

#include <QDir>
#include <cstdlib>
#include <cstring>
#include <random>
#include <zlib.h>

using namespace codectest;
using namespace testsupport;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes &v, std::uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8)
        v.push_back(std::uint8_t(x >> s));
}

Bytes Chunk(const char *type, const Bytes &body, bool goodCrc = true)
{
    Bytes c;
    Put32(c, std::uint32_t(body.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), body.begin(), body.end());
    const std::uint32_t crc = std::uint32_t(crc32(0, c.data() + 4, uInt(c.size() - 4)));
    Put32(c, goodCrc ? crc : ~crc);
    return c;
}

// A PNG by hand from packed rows (filter byte added here), with extra chunks
// placed before the image data.
Bytes BuildPng(std::uint32_t w, std::uint32_t h, int depth, int colorType, const std::vector<Bytes> &rows,
               const std::vector<Bytes> &extra = {})
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ihdr, raw;
    Put32(ihdr, w);
    Put32(ihdr, h);
    ihdr.insert(ihdr.end(), {std::uint8_t(depth), std::uint8_t(colorType), 0, 0, 0});
    for (const Bytes &r : rows) {
        raw.push_back(0);
        raw.insert(raw.end(), r.begin(), r.end());
    }
    uLongf zlen = compressBound(uLong(raw.size()));
    Bytes z(zlen);
    EXPECT_EQ(compress(z.data(), &zlen, raw.data(), uLong(raw.size())), Z_OK);
    z.resize(zlen);
    std::vector<Bytes> chunks = {Chunk("IHDR", ihdr)};
    chunks.insert(chunks.end(), extra.begin(), extra.end());
    chunks.insert(chunks.end(), {Chunk("IDAT", z), Chunk("IEND", {})});
    for (const Bytes &c : chunks)
        png.insert(png.end(), c.begin(), c.end());
    return png;
}

std::size_t FindChunk(const Bytes &png, const char *type)
{
    for (std::size_t p = 8; p + 8 <= png.size();) {
        if (std::memcmp(&png[p + 4], type, 4) == 0)
            return p;
        p += 12 + (std::uint32_t(png[p]) << 24 | std::uint32_t(png[p + 1]) << 16 | png[p + 2] << 8 | png[p + 3]);
    }
    return std::string::npos;
}

Bytes InsertBeforeIdat(Bytes png, const Bytes &chunk)
{
    png.insert(png.begin() + std::ptrdiff_t(FindChunk(png, "IDAT")), chunk.begin(), chunk.end());
    return png;
}

// Raw rows with each row's filter taken in turn from filters (0 none, 1
// sub, 2 up, 3 average, 4 Paeth), as an encoder would write them; bpp bytes
// per pixel.
Bytes FilterRows(const std::vector<Bytes> &rows, int bpp, const std::vector<int> &filters)
{
    Bytes raw;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const Bytes &row = rows[y];
        const int filter = filters[y % filters.size()];
        raw.push_back(std::uint8_t(filter));
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int a = i >= std::size_t(bpp) ? row[i - std::size_t(bpp)] : 0;
            const int b = y > 0 ? rows[y - 1][i] : 0;
            const int c = y > 0 && i >= std::size_t(bpp) ? rows[y - 1][i - std::size_t(bpp)] : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predictor[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
            raw.push_back(std::uint8_t(row[i] - predictor[filter]));
        }
    }
    return raw;
}

// A PNG whose compressed rows are split over several IDAT chunks.
Bytes BuildFilteredPng(std::uint32_t w, std::uint32_t h, int colorType, const Bytes &raw)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ihdr;
    Put32(ihdr, w);
    Put32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, std::uint8_t(colorType), 0, 0, 0});
    uLongf zlen = compressBound(uLong(raw.size()));
    Bytes z(zlen);
    EXPECT_EQ(compress(z.data(), &zlen, raw.data(), uLong(raw.size())), Z_OK);
    z.resize(zlen);
    std::vector<Bytes> chunks = {Chunk("IHDR", ihdr)};
    for (std::size_t p = 0; p < z.size(); p += 997)
        chunks.push_back(Chunk("IDAT", Bytes(z.begin() + std::ptrdiff_t(p),
                                             z.begin() + std::ptrdiff_t(std::min(z.size(), p + 997)))));
    chunks.push_back(Chunk("IDAT", {})); // empty ones are allowed
    chunks.push_back(Chunk("IEND", {}));
    for (const Bytes &c : chunks)
        png.insert(png.end(), c.begin(), c.end());
    return png;
}

Bytes BeforeIend(Bytes png, const Bytes &chunk)
{
    const std::size_t at = FindChunk(png, "IEND");
    if (at != std::string::npos)
        png.insert(png.begin() + std::ptrdiff_t(at), chunk.begin(), chunk.end());
    return png;
}

// The test picture's rows as a PNG holds them: R, G, B (, A) bytes.
std::vector<Bytes> TestRows(int width, int height, int bpp)
{
    const CxImage picture = MakeTestImage(width, height);
    std::vector<Bytes> rows;
    for (int y = 0; y < height; ++y) {
        Bytes row;
        for (int x = 0; x < width; ++x) {
            const BYTE *p = picture.GetBits(y) + x * 3;
            row.insert(row.end(), {p[2], p[1], p[0]});
            if (bpp == 4)
                row.push_back(BYTE(x * 4 + y));
        }
        rows.push_back(row);
    }
    return rows;
}

// Each IDAT chunk's CRC made again after its data was changed.
Bytes WithRightCrcs(Bytes png)
{
    for (std::size_t p = 8; p + 12 <= png.size();) {
        const std::size_t len = std::size_t(png[p]) << 24 | png[p + 1] << 16 | png[p + 2] << 8 | png[p + 3];
        if (p + 12 + len > png.size())
            break;
        if (std::memcmp(&png[p + 4], "IDAT", 4) == 0) {
            const uLong crc = crc32(0, &png[p + 4], uInt(len + 4));
            for (int i = 0; i < 4; ++i)
                png[p + 8 + len + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
        }
        p += 12 + len;
    }
    return png;
}

bool InSquare(int x, int y, int left, int top)
{
    return x >= left && x < left + 16 && y >= top && y < top + 16;
}

}  // namespace

TEST(PngDecode, TemplateAndLosslessVariantsMatch)
{
    const CxImage t = LoadFixture("png/template.png", CXIMAGE_FORMAT_JPG);  // mislabelled on purpose
    EXPECT_EQ(t.GetType(), CXIMAGE_FORMAT_PNG);
    ASSERT_EQ(t.GetWidth(), 64);
    ASSERT_EQ(t.GetHeight(), 48);
    EXPECT_EQ(t.GetBpp(), 24);
    EXPECT_FALSE(t.AlphaIsValid());
    // The formula that made the template: red rises with x, green with y.
    for (int y = 0; y < 48; y += 5) {
        for (int x = 0; x < 64; x += 7) {
            const RGBQUAD c = t.GetPixelColor(x, y);
            EXPECT_NEAR(c.rgbRed, 255.0 * x / 63, 1.0);
            EXPECT_NEAR(c.rgbGreen, 255.0 * y / 47, 1.0);
            EXPECT_NEAR(c.rgbBlue, 255.0 * (0.5 + 0.35 * std::sin(x / 5.0) * std::cos(y / 7.0)), 1.0);
        }
    }
    for (const char *name : {"png/rgb16.png", "png/interlaced.png"}) {
        const CxImage img = LoadFixture(name);
        EXPECT_EQ(img.GetBpp(), 24) << name;
        EXPECT_FALSE(img.AlphaIsValid()) << name;
        EXPECT_EQ(MaxChannelDiff(img, t), 0) << name;
    }
}

TEST(PngDecode, GreyDepthsBecomePalettedRampsWithTransparentValue)
{
    const CxImage grey = LoadFixture("png/grey_template.png");
    EXPECT_EQ(grey.GetBpp(), 8);
    ASSERT_EQ(grey.GetNumColors(), 256);
    EXPECT_EQ(grey.GetPaletteColor(200), (RGBQUAD{200, 200, 200, 0}));
    EXPECT_EQ(grey.GetTransIndex(), -1);

    // 1 bit: the threshold of the grey picture (values at it may go either way).
    const CxImage bilevel = LoadFixture("png/bilevel.png");
    EXPECT_EQ(bilevel.GetBpp(), 1);
    ASSERT_EQ(bilevel.GetNumColors(), 2);
    EXPECT_EQ(bilevel.GetPaletteColor(1), (RGBQUAD{255, 255, 255, 0}));
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const int g = grey.GetPixelColor(x, y).rgbRed;
            EXPECT_TRUE((g >= 127 && g <= 128) || bilevel.GetPixelIndex(x, y) == (g > 128)) << x << "," << y;
        }
    }

    // 2 and 4 bits keep their values as indices into a ramp of that size;
    // 16 bits reduce to the nearest level.
    const CxImage two = Decoded(BuildPng(4, 1, 2, 0, {{0x1B}}, {Chunk("tRNS", {0, 2})}));  // 0 1 2 3
    EXPECT_EQ(two.GetBpp(), 4);
    ASSERT_EQ(two.GetNumColors(), 4);
    EXPECT_EQ(two.GetTransIndex(), 2);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(two.GetPixelColor(x, 0).rgbGreen, x * 85);
    const CxImage four = Decoded(BuildPng(3, 1, 4, 0, {{0x0F, 0x70}}));
    EXPECT_EQ(four.GetNumColors(), 16);
    EXPECT_EQ(four.GetPixelIndex(1, 0), 15);
    EXPECT_EQ(four.GetPixelIndex(2, 0), 7);
    const CxImage g8 = Decoded(BuildPng(3, 1, 8, 0, {{10, 99, 10}}, {Chunk("tRNS", {0, 10})}));
    EXPECT_EQ(g8.GetTransIndex(), 10);
    EXPECT_EQ(Decoded(BuildPng(1, 1, 16, 0, {{0xC8, 0xC8}})).GetPixelIndex(0, 0), 200);

    // 0x1000 and 0x1001 share an 8-bit level, so only an alpha plane can keep
    // just the first transparent.
    const CxImage g16 = Decoded(BuildPng(2, 1, 16, 0, {{0x10, 0x00, 0x10, 0x01}}, {Chunk("tRNS", {0x10, 0x00})}));
    ASSERT_TRUE(g16.AlphaIsValid());
    EXPECT_EQ(Alpha(g16, 0, 0), 0);
    EXPECT_EQ(Alpha(g16, 1, 0), 255);
    EXPECT_EQ(g16.GetPixelColor(1, 0).rgbGreen, 16);
}

TEST(PngDecode, PaletteTransparency)
{
    // One clear entry: stays paletted with that transparent index (a 16x16
    // hole at 8,8). The writer quantised to under 256 colours, dithered.
    const CxImage t = LoadFixture("png/template.png");
    const CxImage one = LoadFixture("png/palette_trns.png");
    EXPECT_EQ(one.GetBpp(), 8);
    EXPECT_GE(one.GetTransIndex(), 0);
    EXPECT_GE(OpaquePsnr(one, t), 23.0);
    // Partial transparency: alpha, half at 8,8 and clear at 40,8 (30 colours).
    const CxImage partial = LoadFixture("png/palette_partial.png");
    EXPECT_EQ(partial.GetBpp(), 24);
    ASSERT_TRUE(partial.AlphaIsValid());
    EXPECT_GE(OpaquePsnr(partial, t), 17.0);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            EXPECT_EQ(Alpha(one, x, y), InSquare(x, y, 8, 8) ? 0 : 255) << x << "," << y;
            const int a = Alpha(partial, x, y);
            EXPECT_TRUE(InSquare(x, y, 8, 8) ? (a == 127 || a == 128) : a == (InSquare(x, y, 40, 8) ? 0 : 255))
                << x << "," << y << ": " << a;
        }
    }

    // Two clear entries cannot share one transparent index.
    const Bytes plte = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    const CxImage two = Decoded(BuildPng(3, 1, 8, 3, {{0, 1, 2}}, {Chunk("PLTE", plte), Chunk("tRNS", {0, 0})}));
    EXPECT_EQ(two.GetBpp(), 24);
    EXPECT_EQ(Alpha(two, 1, 0), 0);
    EXPECT_EQ(Alpha(two, 2, 0), 255);
    EXPECT_EQ(two.GetPixelColor(2, 0).rgbBlue, 255);

    // An index past a short palette is mapped into range.
    const CxImage shortPal = Decoded(BuildPng(4, 1, 8, 3, {{0, 1, 2, 7}}, {Chunk("PLTE", plte)}));
    EXPECT_EQ(shortPal.GetBpp(), 4);
    EXPECT_EQ(shortPal.GetNumColors(), 3);
    EXPECT_EQ(shortPal.GetPixelIndex(2, 0), 2);
    EXPECT_EQ(shortPal.GetPixelIndex(3, 0), 0);
}

TEST(PngDecode, AlphaChannelsAndTransparentColour)
{
    const CxImage grey = LoadFixture("png/grey_template.png");
    const CxImage ga = LoadFixture("png/grey_alpha.png");  // alpha falls from top to bottom
    const CxImage t = LoadFixture("png/template.png");
    const CxImage rgba = LoadFixture("png/rgba.png");  // alpha rises from left to right
    ASSERT_TRUE(ga.AlphaIsValid());
    ASSERT_TRUE(rgba.AlphaIsValid());
    for (int y = 0; y < 48; y += 3) {
        for (int x = 1; x < 64; x += 5) {
            EXPECT_NEAR(Alpha(ga, x, y), 255.0 * (47 - y) / 47, 1.0);
            EXPECT_TRUE(Alpha(ga, x, y) == 0 || ga.GetPixelColor(x, y).rgbRed == grey.GetPixelColor(x, y).rgbRed);
            EXPECT_NEAR(Alpha(rgba, x, y), 255.0 * x / 63, 1.0);
            EXPECT_EQ(rgba.GetPixelColor(x, y).rgbRed, t.GetPixelColor(x, y).rgbRed);
            EXPECT_EQ(rgba.GetPixelColor(x, y).rgbBlue, t.GetPixelColor(x, y).rgbBlue);
        }
    }

    // RGB with a transparent colour: exactly the pixels of that colour clear.
    const CxImage keyed =
        Decoded(InsertBeforeIdat(FixtureBytes("png/template.png"), Chunk("tRNS", {0, 0, 0, 0, 0, 127})));
    ASSERT_TRUE(keyed.AlphaIsValid());
    EXPECT_EQ(Alpha(keyed, 0, 0), 0);  // the template's corner has that colour
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const RGBQUAD c = t.GetPixelColor(x, y);
            EXPECT_EQ(Alpha(keyed, x, y), c.rgbRed == 0 && c.rgbGreen == 0 && c.rgbBlue == 127 ? 0 : 255);
        }
    }
}

TEST(PngEncode, PalettedImagesKeepDepthPaletteAndTransparentIndex)
{
    struct Case {
        int bpp, colors, trans;
        bool grey;
    };
    for (const Case c : {Case{1, 2, -1, false}, Case{1, 2, 1, true}, Case{4, 16, -1, false}, Case{4, 5, 3, false},
                         Case{8, 256, -1, true}, Case{8, 200, 17, false}}) {
        SCOPED_TRACE(testing::Message() << "bpp " << c.bpp << " colours " << c.colors << " trans " << c.trans);
        CxImage img = MakePaletted(21, 9, c.bpp, c.colors, c.grey);
        img.SetTransIndex(c.trans);
        const Bytes bytes = EncodeBytes(img, CXIMAGE_FORMAT_PNG);
        ASSERT_GT(bytes.size(), 26u);
        EXPECT_EQ(bytes[24], c.bpp);  // IHDR bit depth
        EXPECT_EQ(bytes[25], 3);      // palette colour type
        const CxImage back = Decoded(bytes);
        EXPECT_EQ(back.GetNumColors(), c.colors);
        ExpectIdentical(img, back);
    }
}

TEST(PngEncode, ColourAndAlphaRoundTripExactly)
{
    CxImage img = MakeTestImage(37, 23);  // odd width: padded rows
    Bytes bytes = EncodeBytes(img, CXIMAGE_FORMAT_PNG);
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[25], 2);
    ExpectIdentical(img, Decoded(bytes));

    ASSERT_TRUE(img.AlphaCreate());
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            img.AlphaGetPointer(y)[x] = BYTE((x * 7 + y * 13) % 256);
    bytes = EncodeBytes(img, CXIMAGE_FORMAT_PNG);
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[25], 6);
    const CxImage back = Decoded(bytes);
    ExpectIdentical(img, back);
    EXPECT_EQ(back.GetBits(0)[0], img.GetBits(0)[0]);  // colour under a clear pixel survives
    ExpectFailingStreamsReported(img, CXIMAGE_FORMAT_PNG);
}

TEST(PngRobustness, CutOffFilesShowTheRowsThatArrivedOnlyWhenAsked)
{
    struct Case {
        const char *name;
        bool shows; // interlaced passes cannot be shown part way
    };
    for (const Case c : {Case{"png/template.png", true}, Case{"png/palette_trns.png", true},
                         Case{"png/grey_alpha.png", true}, Case{"png/interlaced.png", false}}) {
        SCOPED_TRACE(c.name);
        const Bytes whole = FixtureBytes(c.name);
        const CxImage full = Decoded(whole);
        const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * 7 / 10));
        CxImage strict, lenient;
        EXPECT_FALSE(DecodeBytes(cut, strict));
        ASSERT_EQ(DecodeBytes(cut, lenient, {.acceptTruncated = true}), c.shows) << lenient.GetLastError();
        if (!c.shows)
            continue;
        ASSERT_EQ(lenient.GetHeight(), full.GetHeight());
        EXPECT_EQ(lenient.GetBpp(), full.GetBpp());
        // The first rows as in the whole file, the bottom row a copy of the
        // last one that arrived.
        int arrived = 0;
        while (arrived < full.GetHeight() && std::memcmp(lenient.GetBits(arrived), full.GetBits(arrived),
                                                         std::size_t(full.GetEffWidth())) == 0)
            ++arrived;
        EXPECT_GT(arrived, 4);
        EXPECT_LT(arrived, full.GetHeight());
        EXPECT_EQ(std::memcmp(lenient.GetBits(full.GetHeight() - 1), lenient.GetBits(arrived - 1),
                              std::size_t(full.GetEffWidth())),
                  0);
        EXPECT_EQ(lenient.AlphaIsValid(), full.AlphaIsValid());
    }
}

TEST(PngRobustness, TruncatedDamagedAndOversizedFilesFail)
{
    for (const char *name : {"png/template.png", "png/interlaced.png", "png/palette_trns.png", "png/grey_alpha.png",
                             "png/bilevel.png"}) {
        SCOPED_TRACE(name);
        ExpectTruncationsFail(FixtureBytes(name), 3);
    }

    const Bytes good = FixtureBytes("png/template.png");
    CxImage img;
    Bytes bad = good;
    bad[FindChunk(bad, "IDAT") + 40] ^= 0x20;  // image data
    EXPECT_FALSE(DecodeBytes(bad, img));
    bad = good;
    bad[FindChunk(bad, "IHDR") + 8 + 13] ^= 0x01;  // header checksum
    EXPECT_FALSE(DecodeBytes(bad, img));
    // Even an ancillary chunk with a bad checksum means a damaged file.
    EXPECT_FALSE(DecodeBytes(InsertBeforeIdat(good, Chunk("tEXt", {'a', 0, 'b'}, false)), img));

    // Refused from the header alone, before any allocation.
    EXPECT_FALSE(DecodeBytes(BuildPng(CxImage::kMaxDimension + 1, 1, 8, 0, {{0}}), img));
    EXPECT_FALSE(DecodeBytes(BuildPng(1 << 17, 1 << 17, 8, 0, {{0}}), img));  // beyond the pixel budget
    EXPECT_FALSE(DecodeBytes(BuildPng(0, 1, 8, 0, {{}}), img));
    EXPECT_FALSE(DecodeBytes(BuildPng(1, 1, 3, 0, {{0}}), img));  // no such depth
    EXPECT_FALSE(DecodeBytes(BuildPng(4, 5, 8, 0, {{1, 2, 3, 4}}), img));  // rows missing
    EXPECT_FALSE(img.IsValid());
}

// 8-bit RGB and RGBA rows are inflated and unfiltered by the program's own
// code: every filter gives the pixels written, and whole, cut, damaged and
// odd files come out exactly as libpng's reading makes them.
TEST(PngDecode, OwnRowReadingMatchesLibpng)
{
    std::vector<std::pair<std::string, Bytes>> files;
    // Each filter in turn, and runs of Paeth rows of either length (the last
    // row among them), at two widths.
    const std::vector<std::vector<int>> orders = {{0, 1, 2, 3, 4}, {4, 4, 4, 1, 4, 4, 2, 4, 3, 4, 4, 0}};
    for (const auto &[bpp, order, width] : {std::tuple{3, 0, 61}, {4, 0, 61}, {3, 1, 61}, {4, 1, 61}, {3, 1, 1}, {4, 1, 1}}) {
        const std::vector<Bytes> rows = TestRows(width, 37, bpp);
        const Bytes png = BuildFilteredPng(std::uint32_t(width), 37, bpp == 4 ? 6 : 2,
                                           FilterRows(rows, bpp, orders[std::size_t(order)]));
        files.emplace_back("filtered " + std::string(bpp == 4 ? "RGBA" : "RGB") + " order " +
                               std::to_string(order) + " width " + std::to_string(width),
                           png);
        // Every filter undone: the pixels written.
        const CxImage got = Decoded(png);
        ASSERT_EQ(got.GetWidth(), width);
        for (int y = 0; y < 37; ++y)
            for (int x = 0; x < width; ++x) {
                const BYTE *p = got.GetBits(y) + x * 3;
                ASSERT_EQ(Bytes({p[2], p[1], p[0]}), Bytes(rows[y].begin() + x * bpp, rows[y].begin() + x * bpp + 3))
                    << files.back().first << " " << x << "," << y;
                if (bpp == 4) {
                    ASSERT_EQ(got.AlphaGetPointer(y)[x], BYTE(x * 4 + y));
                }
            }
    }
    for (const char *folder : {"png", "external/pngsuite", "photo", "../fuzz/corpus/decode"})
        for (const QString &name : QDir(QString::fromStdString(DataPath(folder))).entryList({"*.png"}, QDir::Files))
            files.emplace_back(std::string(folder) + "/" + name.toStdString(),
                               FixtureBytes(std::string(folder) + "/" + name.toStdString()));
    ASSERT_GT(files.size(), 20u);

    struct Variant {
        const char *name;
        Bytes (*make)(const Bytes &);
    };
    const Variant variants[] = {
        {"whole", [](const Bytes &b) { return b; }},
        {"cut in half", [](const Bytes &b) { return Bytes(b.begin(), b.begin() + std::ptrdiff_t(b.size() / 2)); }},
        {"cut near the end", [](const Bytes &b) { return Bytes(b.begin(), b.end() - std::min<std::ptrdiff_t>(20, std::ptrdiff_t(b.size()))); }},
        {"no IEND", [](const Bytes &b) { return Bytes(b.begin(), b.end() - std::min<std::ptrdiff_t>(12, std::ptrdiff_t(b.size()))); }},
        {"image data damaged", [](const Bytes &b) {
             Bytes d = b;
             const std::size_t at = FindChunk(d, "IDAT");
             if (at != std::string::npos && at + 20 < d.size())
                 d[at + 20] ^= 0x5a;
             return d;
         }},
        {"image data damaged under a right CRC", [](const Bytes &b) {
             // Only the inflater sees it, in the middle of the last data chunk.
             Bytes d = b;
             std::size_t middle = 0;
             for (std::size_t p = 8; p + 12 <= d.size();) {
                 const std::size_t len = std::size_t(d[p]) << 24 | d[p + 1] << 16 | d[p + 2] << 8 | d[p + 3];
                 if (p + 12 + len > d.size())
                     break;
                 if (std::memcmp(&d[p + 4], "IDAT", 4) == 0 && len > 0)
                     middle = p + 8 + len / 2;
                 p += 12 + len;
             }
             if (middle)
                 d[middle] ^= 0x5a;
             return WithRightCrcs(d);
         }},
        {"chunk after the data damaged", [](const Bytes &b) {
             Bytes d = b;
             if (d.size() > 12)
                 d[d.size() - 5] ^= 0x01; // IEND's checksum
             return d;
         }},
        {"late PLTE", [](const Bytes &b) { return BeforeIend(b, Chunk("PLTE", {0, 0, 0})); }},
        {"late IHDR", [](const Bytes &b) { return BeforeIend(b, Chunk("IHDR", Bytes(13, 1))); }},
        {"unknown critical chunk", [](const Bytes &b) { return BeforeIend(b, Chunk("ABCD", {})); }},
        {"ancillary chunk", [](const Bytes &b) { return BeforeIend(b, Chunk("tEXt", {'a', 0, 'b'})); }},
    };
    const int inflatedWhole = cxcodec::testhooks::PngWholeInflates();
    for (const auto &[name, bytes] : files) {
        for (const Variant &v : variants) {
            const Bytes input = v.make(bytes);
            for (const bool lenient : {false, true}) {
                SCOPED_TRACE(name + ", " + v.name + (lenient ? ", cut files shown" : ""));
                CxImage own, theirs;
                const CxDecodeRequest req{.acceptTruncated = lenient};
                const bool ownOk = DecodeBytes(input, own, req);
                cxcodec::testhooks::SetPngOwnRows(false);
                const bool theirOk = DecodeBytes(input, theirs, req);
                cxcodec::testhooks::SetPngOwnRows(true);
                // Data inflated whole, or row by row by ISA-L (zlib taking
                // over where it must) or by zlib alone: the same picture or
                // the same failure.
                for (const bool fast : {true, false}) {
                    CxImage rowByRow;
                    cxcodec::testhooks::SetPngWholeInflate(false);
                    cxcodec::testhooks::SetPngFastInflate(fast);
                    ASSERT_EQ(DecodeBytes(input, rowByRow, req), ownOk) << fast;
                    cxcodec::testhooks::SetPngWholeInflate(true);
                    cxcodec::testhooks::SetPngFastInflate(true);
                    EXPECT_STREQ(rowByRow.GetLastError(), own.GetLastError()) << fast;
                    if (ownOk) {
                        ExpectIdentical(rowByRow, own);
                    }
                }
                CxImage full;
                if (lenient && input.size() < bytes.size() && DecodeBytes(bytes, full)) {
                    // Of a cut file, libpng shows the rows complete when its
                    // reading reached the cut; this shows every row the data
                    // that arrived completes (so also where libpng had none),
                    // then repeats the last.
                    ASSERT_TRUE(ownOk || !theirOk) << own.GetLastError();
                    if (!ownOk)
                        continue;
                    const std::size_t rowBytes = std::size_t(full.GetEffWidth());
                    const auto arrived = [&](const CxImage &img) {
                        int y = 0;
                        while (y < img.GetHeight() && std::memcmp(img.GetBits(y), full.GetBits(y), rowBytes) == 0)
                            ++y;
                        return y;
                    };
                    const int shown = arrived(own);
                    ASSERT_GT(shown, 0);
                    if (theirOk) {
                        EXPECT_GE(shown, arrived(theirs));
                    }
                    for (int y = shown; y < own.GetHeight(); ++y)
                        ASSERT_EQ(0, std::memcmp(own.GetBits(y), own.GetBits(shown - 1), rowBytes)) << y;
                    continue;
                }
                if (lenient && ownOk && !theirOk) {
                    // Rows libpng could not show of a file that is cut.
                    CxImage strict;
                    EXPECT_FALSE(DecodeBytes(input, strict));
                    continue;
                }
                ASSERT_EQ(ownOk, theirOk) << own.GetLastError() << " / " << theirs.GetLastError();
                if (!ownOk)
                    continue;
                ASSERT_EQ(own.GetWidth(), theirs.GetWidth());
                ASSERT_EQ(own.GetHeight(), theirs.GetHeight());
                ASSERT_EQ(own.GetBpp(), theirs.GetBpp());
                ASSERT_EQ(own.AlphaIsValid(), theirs.AlphaIsValid());
                for (int y = 0; y < own.GetHeight(); ++y) {
                    ASSERT_EQ(0, std::memcmp(own.GetBits(y), theirs.GetBits(y), std::size_t(own.GetEffWidth()))) << y;
                    if (own.AlphaIsValid()) {
                        ASSERT_EQ(0, std::memcmp(own.AlphaGetPointer(y), theirs.AlphaGetPointer(y),
                                                 std::size_t(own.GetWidth())))
                            << y;
                    }
                }
            }
        }
    }
    EXPECT_GT(cxcodec::testhooks::PngWholeInflates() - inflatedWhole, 0);
}

TEST(PngDecode, DamagedImageDataEndsAsZlibWouldHaveIt)
{
    // Random bytes of the image data changed under right CRCs, and some of
    // the data cut off: read row by row with ISA-L first or with zlib
    // alone, the same picture or the same failure every time.
    std::mt19937 random(36);
    const Bytes sound = BuildFilteredPng(61, 37, 6, FilterRows(TestRows(61, 37, 4), 4, {4, 4, 1, 3, 4, 2}));
    const std::size_t dataFrom = FindChunk(sound, "IDAT") + 8, dataTo = FindChunk(sound, "IEND");
    cxcodec::testhooks::SetPngWholeInflate(false);
    for (int trial = 0; trial < 400; ++trial) {
        Bytes input = sound;
        for (int n = 1 + int(random() % 3); n > 0; --n)
            input[dataFrom + random() % (dataTo - dataFrom)] ^= std::uint8_t(1 + random() % 255);
        input = WithRightCrcs(input);
        if (trial % 4 == 0)
            input.resize(dataFrom + random() % (input.size() - dataFrom));
        const CxDecodeRequest req{.acceptTruncated = trial % 2 == 0};
        CxImage fast, slow;
        const bool fastOk = DecodeBytes(input, fast, req);
        cxcodec::testhooks::SetPngFastInflate(false);
        const bool slowOk = DecodeBytes(input, slow, req);
        cxcodec::testhooks::SetPngFastInflate(true);
        ASSERT_EQ(fastOk, slowOk) << trial;
        ASSERT_STREQ(fast.GetLastError(), slow.GetLastError()) << trial;
        if (fastOk) {
            ExpectIdentical(fast, slow);
        }
    }
    cxcodec::testhooks::SetPngWholeInflate(true);
}
