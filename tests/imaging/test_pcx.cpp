#include "tests/imaging/bmp_pcx_helpers.h"

using namespace testsupport;
using namespace bmppcx;

namespace {

// Builds a PCX file from a header description and an already coded stream.
struct Pcx {
    int version = 5, encoding = 1, bits = 8, planes = 1;
    int xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    int bytesPerLine = 2;
    std::vector<RGBQUAD> headerPalette;  // up to 16 entries
    std::vector<std::uint8_t> data;
    std::vector<RGBQUAD> vgaPalette;  // appended after 0x0C when not empty

    std::vector<std::uint8_t> Build() const
    {
        std::vector<std::uint8_t> b(128, 0);
        b[0] = 0x0A;
        b[1] = std::uint8_t(version);
        b[2] = std::uint8_t(encoding);
        b[3] = std::uint8_t(bits);
        auto put16 = [&](std::size_t at, int v) {
            b[at] = std::uint8_t(v);
            b[at + 1] = std::uint8_t(v >> 8);
        };
        put16(4, xmin);
        put16(6, ymin);
        put16(8, xmax);
        put16(10, ymax);
        for (std::size_t i = 0; i < headerPalette.size(); ++i) {
            b[16 + i * 3] = headerPalette[i].rgbRed;
            b[17 + i * 3] = headerPalette[i].rgbGreen;
            b[18 + i * 3] = headerPalette[i].rgbBlue;
        }
        b[65] = std::uint8_t(planes);
        put16(66, bytesPerLine);
        b.insert(b.end(), data.begin(), data.end());
        if (!vgaPalette.empty()) {
            b.push_back(0x0C);
            for (int i = 0; i < 256; ++i) {
                const RGBQUAD c = i < int(vgaPalette.size()) ? vgaPalette[std::size_t(i)] : RGBQUAD{};
                b.insert(b.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
            }
        }
        return b;
    }
};

std::vector<RGBQUAD> Ramp(int n)
{
    std::vector<RGBQUAD> p;
    for (int i = 0; i < n; ++i)
        p.push_back(RGBQUAD{BYTE(i), BYTE(255 - i * 16), BYTE(i * 16), 0});
    return p;
}

std::vector<int> Indices(const CxImage &img)
{
    std::vector<int> v;
    for (int y = 0; y < img.GetHeight(); ++y)
        for (int x = 0; x < img.GetWidth(); ++x)
            v.push_back(img.GetPixelIndex(x, y));
    return v;
}

std::vector<std::uint8_t> Fixture(const std::string &name)
{
    return ReadFileBytes(DataPath("pcx/" + name));
}

}  // namespace

TEST(PcxDecode, FixturesMatchTheirTemplates)
{
    // ImageMagick and GraphicsMagick files hold the templates' exact values;
    // ImageMagick's mono file stores white as entry 0 in its header palette.
    // Its plain files (-compress none) pad no line to an even length.
    struct Case {
        const char *file, *templ;
        int bpp;
    } cases[] = {
        {"pal8.pcx", "template_40.ppm", 8},          {"pal8_gm.pcx", "template_40.ppm", 8},
        {"rgb24.pcx", "template_rgb.ppm", 24},       {"rgb24_gm.pcx", "template_rgb.ppm", 24},
        {"rgba.pcx", "template_alpha.png", 24},      {"mono.pcx", "template_2.pbm", 1},
        {"mono_gm.pcx", "template_2.pbm", 1},        {"pal8_plain.pcx", "template_40.ppm", 8},
        {"rgb24_plain.pcx", "template_rgb.ppm", 24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        CxImage img;
        ASSERT_TRUE(img.Load(DataPath(std::string("pcx/") + c.file).c_str())) << img.GetLastError();
        const CxImage want = LoadTemplate(c.templ);
        EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_PCX);
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.AlphaIsValid(), want.AlphaIsValid());
        EXPECT_EQ(MaxRgbaDiff(img, want), 0);
    }
}

TEST(PcxDecode, SixteenColourLayoutsAndTheirPalettes)
{
    // Four bit planes: x0 = 1, x1 = 2, x2 = 7; lines padded to two bytes.
    Pcx pcx;
    pcx.bits = 1;
    pcx.planes = 4;
    pcx.xmax = 2;
    pcx.headerPalette = Ramp(16);
    pcx.data = {0xA0, 0, 0x60, 0, 0x20, 0, 0, 0};
    CxImage img = DecodeBytes(pcx.Build());
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), 4);
    EXPECT_EQ(Indices(img), (std::vector<int>{1, 2, 7}));
    EXPECT_EQ(img.GetPixelColor(2, 0), (RGBQUAD{7, 255 - 7 * 16, 7 * 16, 255}));

    // Version 3 files carry no palette: the standard EGA colours.
    pcx.version = 3;
    img = DecodeBytes(pcx.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetPixelColor(2, 0), (RGBQUAD{170, 170, 170, 255}));
    EXPECT_EQ(img.GetPixelColor(1, 0), (RGBQUAD{0, 170, 0, 255}));

    // One plane of packed nibbles.
    pcx.version = 5;
    pcx.bits = 4;
    pcx.planes = 1;
    pcx.data = {0x1F, 0x20};
    img = DecodeBytes(pcx.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(Indices(img), (std::vector<int>{1, 15, 2}));
    EXPECT_EQ(img.GetPaletteColor(15), Ramp(16)[15]);
}

TEST(PcxDecode, RunsCrossLinesAndWindowAndPaddingAreHonoured)
{
    // 3x2 window at (10, 5), lines of four bytes: the run of six fills line 0
    // and the start of line 1; the pad bytes never show. 0xC0 is an empty run.
    Pcx pcx;
    pcx.xmin = 10;
    pcx.xmax = 12;
    pcx.ymin = 5;
    pcx.ymax = 6;
    pcx.bytesPerLine = 4;
    pcx.data = {0xC0, 0x33, 0xC6, 0x05, 0x07, 0x09};
    pcx.vgaPalette = Ramp(16);
    CxImage img = DecodeBytes(pcx.Build());
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 3);
    EXPECT_EQ(img.GetHeight(), 2);
    EXPECT_EQ(Indices(img), (std::vector<int>{5, 5, 5, 5, 5, 7}));
    RGBQUAD seven = Ramp(16)[7];
    seven.rgbReserved = 255;
    EXPECT_EQ(img.GetPixelColor(2, 1), seven);

    // Without the 0x0C marker an 8-bit file is greyscale.
    pcx.vgaPalette.clear();
    img = DecodeBytes(pcx.Build());
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(img.GetPixelColor(2, 1), (RGBQUAD{7, 7, 7, 255}));
}

TEST(PcxDecode, PlainLinesAreReadWithTheirPadding)
{
    // Encoding 0: every line of every plane stored whole, padding included;
    // bytes of 0xC0 and above are pixels, not runs.
    struct Row {
        const char *name;
        int bits, planes, width, height, bytesPerLine;
        std::vector<std::uint8_t> data;
        bool vgaPalette;
        std::vector<int> indices; // empty: refused
        RGBQUAD last;             // the colour of the last pixel
    };
    auto opaque = [](RGBQUAD c) {
        c.rgbReserved = 255;
        return c;
    };
    // 800 pixels, the one where a 256-colour palette's marker would stand 0x0C.
    std::vector<std::uint8_t> marker(800, 3);
    marker[800 - 769] = 0x0C;
    const Row rows[] = {
        {"8 bits, padded lines", 8, 1, 3, 2, 4, {0xC5, 0xC1, 7, 0xEE, 1, 0xFF, 2, 0xEE}, true,
         {0xC5, 0xC1, 7, 1, 0xFF, 2}, opaque(Ramp(256)[2])},
        {"four bit planes", 1, 4, 3, 1, 2, {0xA0, 0xFF, 0x60, 0xFF, 0x20, 0xFF, 0, 0xFF}, false, {1, 2, 7},
         opaque(Ramp(16)[7])},
        {"packed nibbles", 4, 1, 3, 1, 2, {0x1F, 0x2C}, false, {1, 15, 2}, opaque(Ramp(16)[2])},
        {"a pixel where the palette marker would be, greyscale", 8, 1, 800, 1, 800, marker, false,
         std::vector<int>(marker.begin(), marker.end()), RGBQUAD{3, 3, 3, 255}},
        {"a byte short", 8, 1, 3, 2, 4, {1, 2, 3, 0, 4, 5, 6}, false, {}, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Pcx pcx;
        pcx.encoding = 0;
        pcx.bits = r.bits;
        pcx.planes = r.planes;
        pcx.xmax = r.width - 1;
        pcx.ymax = r.height - 1;
        pcx.bytesPerLine = r.bytesPerLine;
        pcx.data = r.data;
        pcx.headerPalette = Ramp(16);
        if (r.vgaPalette)
            pcx.vgaPalette = Ramp(256);
        const CxImage img = DecodeBytes(pcx.Build());
        ASSERT_EQ(img.IsValid(), !r.indices.empty()) << img.GetLastError();
        if (img.IsValid()) {
            EXPECT_EQ(Indices(img), r.indices);
            EXPECT_EQ(img.GetPixelColor(r.width - 1, r.height - 1), r.last);
        }
    }
}

TEST(PcxDecode, RejectsTruncatedAndCorruptFiles)
{
    // Cuts inside the header or the coded lines (past them, an 8-bit file
    // merely loses its trailing palette and reads as greyscale).
    struct Cut {
        const char *name;
        std::vector<std::size_t> at;
    } cuts[] = {{"rgb24.pcx", {60, 128, 200, 800}},
                {"rgba.pcx", {128, 200, 1200}},
                {"mono.pcx", {100, 128, 200}},
                {"pal8_gm.pcx", {128, 300, 500}}};
    for (const auto &[name, at] : cuts) {
        const std::vector<std::uint8_t> whole = Fixture(name);
        for (std::size_t cut : at) {
            const CxImage img = DecodeBytes(std::vector<std::uint8_t>(whole.begin(), whole.begin() + cut));
            EXPECT_FALSE(img.IsValid()) << name << " cut at " << cut;
            EXPECT_STRNE(img.GetLastError(), "");
        }
    }

    Pcx good;
    good.xmax = 1;
    good.ymax = 1;
    good.data = {1, 2, 3, 4};
    ASSERT_TRUE(DecodeBytes(good.Build()).IsValid());
    auto broken = [&](auto change) {
        Pcx pcx = good;
        change(pcx);
        const std::vector<std::uint8_t> b = pcx.Build();
        CxImage out;
        return !cxcodec::DecodePcx(b.data(), b.size(), out, cxcodec::DecodeRequest{});
    };
    EXPECT_TRUE(broken([](Pcx &p) { p.xmin = 2; }));  // Xmax < Xmin
    EXPECT_TRUE(broken([](Pcx &p) { p.ymin = 3; }));
    EXPECT_TRUE(broken([](Pcx &p) { p.bits = 2; }));
    EXPECT_TRUE(broken([](Pcx &p) { p.planes = 2; }));
    EXPECT_TRUE(broken([](Pcx &p) { p.encoding = 2; }));
    EXPECT_TRUE(broken([](Pcx &p) { p.bytesPerLine = 1; }));  // shorter than the width
    EXPECT_TRUE(broken([](Pcx &p) { p.data.pop_back(); }));
    EXPECT_TRUE(broken([](Pcx &p) { p.data = {1, 2, 3, 0xC2}; }));  // run count without its value
}

TEST(PcxDecode, HugeWindowFailsWithoutAllocating)
{
    Pcx pcx;
    pcx.xmax = 15999;  // 768 MB of pixels, within the limits
    pcx.ymax = 15999;
    pcx.planes = 3;
    pcx.bytesPerLine = 16000;
    pcx.data.assign(1000, 0xFF);
    CxImage img;
    {
        AddressSpaceCap cap(64 << 20);
        const std::vector<std::uint8_t> b = pcx.Build();
        EXPECT_FALSE(img.Decode(b.data(), b.size()));
    }
    EXPECT_STREQ(img.GetLastError(), "truncated PCX data");
}

TEST(PcxEncode, RoundTripsEveryDepthWithAPaddedPalette)
{
    std::vector<CxImage> images;
    for (int bpp : {1, 4, 8}) {
        CxImage img;
        ASSERT_TRUE(img.Create(13, 6, bpp));
        const int colors = bpp == 4 ? 11 : 1 << bpp;
        std::vector<RGBQUAD> pal;
        for (int i = 0; i < colors; ++i)
            pal.push_back(RGBQUAD{BYTE(i * 7), BYTE(255 - i), BYTE(i * 91), 0});
        ASSERT_TRUE(img.SetPalette(pal.data(), colors));
        for (int y = 0; y < img.GetHeight(); ++y)
            for (int x = 0; x < img.GetWidth(); ++x)
                img.SetPixelIndex(x, y, BYTE((x * 5 + y * 3 + x * y * 40) % colors));
        images.push_back(img);
    }
    images.push_back(MakeTestImage(37, 23));

    for (const CxImage &img : images) {
        SCOPED_TRACE(img.GetBpp());
        const std::vector<std::uint8_t> bytes = Encode(img, CXIMAGE_FORMAT_PCX);
        ASSERT_GT(bytes.size(), 128u);
        EXPECT_EQ(bytes[65], img.GetBpp() == 24 ? 3 : 1);  // planes
        EXPECT_EQ(bytes[66] | (bytes[67] << 8), (img.GetWidth() + 1) & ~1);
        const CxImage back = DecodeBytes(bytes);
        ASSERT_TRUE(back.IsValid());
        EXPECT_EQ(back.GetBpp(), img.GetBpp() == 24 ? 24 : 8);
        EXPECT_EQ(MaxRgbaDiff(back, img), 0);
        if (img.GetBpp() != 24) {
            EXPECT_EQ(Indices(back), Indices(img));
            EXPECT_EQ(back.GetNumColors(), 256);
            if (img.GetNumColors() < 256) {
                EXPECT_EQ(back.GetPaletteColor(255), (RGBQUAD{}));
            }
        }
    }
}

TEST(PcxEncode, RunsAreCappedAndHighBytesEscaped)
{
    // Row 0: 200 equal bytes, runs of 63+63+63+11. Row 1: lone bytes of
    // 0xC0 and above, each needing a count byte of its own.
    CxImage img;
    ASSERT_TRUE(img.Create(200, 2, 8));
    for (int x = 0; x < 200; ++x) {
        img.SetPixelIndex(x, 0, 0xC5);
        img.SetPixelIndex(x, 1, BYTE(x % 2 ? 0xC1 : 0xFF));
    }
    const std::vector<std::uint8_t> bytes = Encode(img, CXIMAGE_FORMAT_PCX);
    EXPECT_EQ(bytes.size(), 128u + 8 + 400 + 769);
    EXPECT_EQ(bytes[128], 0xC0 | 63);
    EXPECT_EQ(bytes[134], 0xC0 | 11);
    const CxImage back = DecodeBytes(bytes);
    ASSERT_TRUE(back.IsValid());
    EXPECT_EQ(Indices(back), Indices(img));
}

TEST(PcxEncode, TransparencyOntoWhiteAndUnwritableImages)
{
    CxImage pal;
    ASSERT_TRUE(pal.Create(5, 2, 4));
    pal.SetPixelIndex(3, 1, 9);
    pal.SetTransIndex(9);
    CxImage back = DecodeBytes(Encode(pal, CXIMAGE_FORMAT_PCX));
    ASSERT_TRUE(back.IsValid());
    EXPECT_EQ(back.GetPixelColor(3, 1), (RGBQUAD{255, 255, 255, 255}));
    EXPECT_EQ(back.GetPixelColor(0, 0), pal.GetPixelColor(0, 0));

    CxImage rgba = MakeTestImage(9, 3);
    ASSERT_TRUE(rgba.AlphaCreate());
    for (int x = 0; x < 9; ++x)
        rgba.AlphaGetPointer(2)[x] = BYTE(x * 31);
    back = DecodeBytes(Encode(rgba, CXIMAGE_FORMAT_PCX));
    ASSERT_TRUE(back.IsValid());
    EXPECT_FALSE(back.AlphaIsValid());
    EXPECT_LE(MaxChannelDiff(back, rgba), 1);

    // Wider than the 16-bit header fields can describe.
    CxImage wide;
    ASSERT_TRUE(wide.Create(70000, 1, 8));
    ShortFile unlimited(std::size_t(1) << 30);
    EXPECT_FALSE(cxcodec::EncodePcx(wide, unlimited));

    const CxImage img = MakeTestImage(20, 10);
    const std::size_t full = Encode(img, CXIMAGE_FORMAT_PCX).size();
    for (std::size_t room : {std::size_t(0), std::size_t(100), full - 1}) {
        ShortFile out(room);
        EXPECT_FALSE(cxcodec::EncodePcx(img, out)) << room;
    }
}
