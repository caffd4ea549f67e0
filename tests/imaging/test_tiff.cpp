#include "tests/imaging/jpeg_png_tiff_helpers.h"

#include "imaging/rowband.h"
#include "imaging/testhooks.h"

#include <cstring>
#include <tiffio.h>

using namespace codectest;
using namespace testsupport;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Values of 16-bit tags of a written file (for extra samples, the first
// sample's kind), 0 where absent.
std::vector<int> Tags(const Bytes &bytes, std::initializer_list<ttag_t> tags)
{
    ScratchDir dir;
    const std::string path = dir.Path("f.tif");
    TIFF *tif = WriteFileBytes(path, bytes) ? TIFFOpen(path.c_str(), "r") : nullptr;
    std::vector<int> out;
    for (ttag_t tag : tags) {
        std::uint16_t v = 0, *extra = nullptr;
        if (tif && tag == TIFFTAG_EXTRASAMPLES)
            v = TIFFGetField(tif, tag, &v, &extra) && v ? extra[0] : 0;
        else if (tif)
            TIFFGetFieldDefaulted(tif, tag, &v);
        out.push_back(v);
    }
    if (tif)
        TIFFClose(tif);
    return out;
}

struct Entry {
    std::uint16_t tag, type;
    std::uint32_t value;
};
constexpr std::uint16_t kShort = 3, kLong = 4;

// A little-endian uncompressed 8-bit grey TIFF by hand (pixels i * 7 at
// offset 8, then the directory), with entries added or replaced.
Bytes GreyTiff(std::uint32_t w, std::uint32_t h, std::vector<Entry> changes = {}, std::size_t pixelBytes = 0)
{
    std::vector<Entry> e = {{256, kLong, w}, {257, kLong, h}, {258, kShort, 8}, {259, kShort, 1}, {262, kShort, 1},
                            {273, kLong, 8}, {277, kShort, 1}, {278, kLong, h}, {279, kLong, w * h}};
    for (const Entry &c : changes) {
        auto it = std::find_if(e.begin(), e.end(), [&](const Entry &x) { return x.tag == c.tag; });
        it != e.end() ? void(*it = c) : e.push_back(c);
    }
    std::sort(e.begin(), e.end(), [](const Entry &x, const Entry &y) { return x.tag < y.tag; });
    Bytes b = {'I', 'I', 42, 0};
    auto put = [&b](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.push_back(std::uint8_t(v >> (8 * i)));
    };
    const std::size_t n = pixelBytes ? pixelBytes : std::size_t(w) * h;
    put(std::uint32_t(8 + n + (n & 1)), 4);
    for (std::size_t i = 0; i < n + (n & 1); ++i)
        b.push_back(std::uint8_t(i * 7));
    put(std::uint32_t(e.size()), 2);
    for (const Entry &x : e) {
        put(x.tag, 2);
        put(x.type, 2);
        put(1, 4);
        put(x.value, 4);
    }
    put(0, 4);
    return b;
}

// A one-page uncompressed TIFF written through libtiff, one strip of the
// given raw samples.
struct RawTiff {
    std::uint32_t width = 1, height = 1;
    std::uint16_t bps = 8, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG, orientation = 0;
    bool alpha = false;             // the last sample is unassociated alpha
    bool bigEndian = false;         // samples are still given in host order
    std::vector<std::uint16_t> map; // colour map, 3 x 2^bps entries
    Bytes samples;

    Bytes Build() const
    {
        ScratchDir dir;
        const std::string path = dir.Path("raw.tif");
        TIFF *tif = TIFFOpen(path.c_str(), bigEndian ? "wb" : "w");
        if (!tif)
            return {};
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, sampleFormat);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, planar);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
        if (orientation)
            TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
        if (alpha) {
            const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        if (!map.empty()) {
            const std::size_t n = map.size() / 3;
            TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
        }
        // Separate planes go one strip per sample.
        const int strips = planar == PLANARCONFIG_SEPARATE ? spp : 1;
        const std::size_t per = samples.size() / std::size_t(strips);
        bool ok = true;
        for (int i = 0; i < strips; ++i)
            ok = ok && TIFFWriteEncodedStrip(tif, std::uint32_t(i),
                                             const_cast<std::uint8_t *>(samples.data()) + per * i,
                                             tmsize_t(per)) >= 0;
        TIFFClose(tif);
        return ok ? ReadFileBytes(path) : Bytes{};
    }
};

// Where pixel (x, y) of a w x h upright picture lies in the stored rows of
// a file with this orientation: {column, row}.
std::pair<int, int> StoredAt(int orientation, int x, int y, int w, int h)
{
    switch (orientation) {
    case 2:
        return {w - 1 - x, y};
    case 3:
        return {w - 1 - x, h - 1 - y};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {y, w - 1 - x};
    case 7:
        return {h - 1 - y, w - 1 - x};
    case 8:
        return {h - 1 - y, x};
    default:
        return {x, y};
    }
}

}  // namespace

TEST(TiffDecode, AllEightOrientationsDecodeUpright)
{
    // 13 x 7 upright: rows of distinct values, so any wrong turn shows.
    const int w = 13, h = 7;
    const auto value = [](int x, int y, int k) { return std::uint8_t(x * 17 + y * 29 + k * 71); };
    struct Layout {
        const char *name;
        std::uint16_t photometric, spp, planar;
        bool alpha;
    };
    const Layout layouts[] = {
        {"RGB", PHOTOMETRIC_RGB, 3, PLANARCONFIG_CONTIG, false},
        {"RGB with alpha", PHOTOMETRIC_RGB, 4, PLANARCONFIG_CONTIG, true},
        {"palette", PHOTOMETRIC_PALETTE, 1, PLANARCONFIG_CONTIG, false},
        {"separate planes (libtiff's RGBA reader)", PHOTOMETRIC_RGB, 3, PLANARCONFIG_SEPARATE, false},
    };
    for (const Layout &l : layouts) {
        CxImage upright;
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(testing::Message() << l.name << ", orientation " << o);
            RawTiff t;
            t.width = o >= 5 ? h : w;
            t.height = o >= 5 ? w : h;
            t.photometric = l.photometric;
            t.spp = l.spp;
            t.planar = l.planar;
            t.alpha = l.alpha;
            t.orientation = std::uint16_t(o);
            if (l.photometric == PHOTOMETRIC_PALETTE)
                for (int i = 0; i < 3 * 256; ++i)
                    t.map.push_back(std::uint16_t((i * 97 % 256) * 257));
            t.samples.resize(std::size_t(w) * h * l.spp);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const auto [sx, sy] = StoredAt(o, x, y, w, h);
                    for (int k = 0; k < l.spp; ++k) {
                        const std::size_t at = l.planar == PLANARCONFIG_SEPARATE
                                                   ? std::size_t(k) * w * h + std::size_t(sy) * t.width + sx
                                                   : (std::size_t(sy) * t.width + sx) * l.spp + k;
                        t.samples[at] = value(x, y, k);
                    }
                }
            const Bytes bytes = t.Build();
            ASSERT_FALSE(bytes.empty());
            CxImage img;
            // No reduced TIFF decode: the hint changes nothing.
            ASSERT_TRUE(DecodeBytes(bytes, img, {.hintWidth = 4, .hintHeight = 2})) << img.GetLastError();
            EXPECT_EQ(img.GetOrientation(), 1);
            EXPECT_EQ(img.GetSrcWidth(), w);
            EXPECT_EQ(img.GetSrcHeight(), h);
            EXPECT_EQ(img.GetBpp(), l.photometric == PHOTOMETRIC_PALETTE ? 8 : 24);
            if (o == 1) {
                upright = img;
                EXPECT_EQ(img.GetPixelColor(1, 0).rgbRed,
                          l.photometric == PHOTOMETRIC_PALETTE ? 17 * 97 % 256 : 17);
            } else {
                ExpectIdentical(upright, img);
            }

            // Switched off: the pixels as stored and the tag reported, until applied.
            CxImage stored;
            ASSERT_TRUE(DecodeBytes(bytes, stored, {.autoOrient = false}));
            EXPECT_EQ(stored.GetOrientation(), o);
            EXPECT_EQ(stored.GetWidth(), int(t.width));
            EXPECT_EQ(stored.GetSrcWidth(), int(t.width));
            ASSERT_TRUE(stored.ApplyOrientation());
            EXPECT_EQ(stored.GetOrientation(), 1);
            EXPECT_EQ(stored.GetSrcWidth(), w);
            ExpectIdentical(upright, stored);
        }
    }
}

TEST(TiffDecode, CieLabAndSignedSamplesGiveTheirColours)
{
    struct Case {
        const char *name;
        std::uint16_t photometric, bps, spp, sampleFormat;
        std::vector<int> samples; // one pixel
        int r, g, b;
    };
    const Case cases[] = {
        {"Lab white", PHOTOMETRIC_CIELAB, 8, 3, SAMPLEFORMAT_UINT, {255, 0, 0}, 255, 255, 255},
        {"Lab black", PHOTOMETRIC_CIELAB, 8, 3, SAMPLEFORMAT_UINT, {0, 0, 0}, 0, 0, 0},
        {"Lab mid grey (L* 50.2)", PHOTOMETRIC_CIELAB, 8, 3, SAMPLEFORMAT_UINT, {128, 0, 0}, 119, 119, 119},
        {"Lab L* alone", PHOTOMETRIC_CIELAB, 8, 1, SAMPLEFORMAT_UINT, {128}, 119, 119, 119},
        {"Lab 16-bit white", PHOTOMETRIC_CIELAB, 16, 3, SAMPLEFORMAT_UINT, {65535, 0, 0}, 255, 255, 255},
        // sRGB red is L* 54.29, a* 80.81, b* 69.89 under D50.
        {"Lab 16-bit red", PHOTOMETRIC_CIELAB, 16, 3, SAMPLEFORMAT_UINT, {35581, 20688, 17891}, 255, 0, 0},
        {"Lab 8-bit red", PHOTOMETRIC_CIELAB, 8, 3, SAMPLEFORMAT_UINT, {138, 81, 70}, 255, 0, 0},
        {"signed 16-bit grey, lowest", PHOTOMETRIC_MINISBLACK, 16, 1, SAMPLEFORMAT_INT, {-32768}, 0, 0, 0},
        {"signed 16-bit grey, zero", PHOTOMETRIC_MINISBLACK, 16, 1, SAMPLEFORMAT_INT, {0}, 128, 128, 128},
        {"signed 16-bit grey, highest",
         PHOTOMETRIC_MINISBLACK,
         16,
         1,
         SAMPLEFORMAT_INT,
         {32767},
         255,
         255,
         255},
        {"signed 16-bit RGB", PHOTOMETRIC_RGB, 16, 3, SAMPLEFORMAT_INT, {-32768, 0, 32767}, 0, 128, 255},
        {"signed 8-bit RGB", PHOTOMETRIC_RGB, 8, 3, SAMPLEFORMAT_INT, {-128, 0, 127}, 0, 128, 255},
        {"signed 8-bit grey", PHOTOMETRIC_MINISBLACK, 8, 1, SAMPLEFORMAT_INT, {-64}, 64, 64, 64},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RawTiff t;
        t.photometric = c.photometric;
        t.bps = c.bps;
        t.spp = c.spp;
        t.sampleFormat = c.sampleFormat;
        for (int v : c.samples) {
            t.samples.push_back(std::uint8_t(v)); // little-endian host order, as libtiff takes it
            if (c.bps == 16)
                t.samples.push_back(std::uint8_t(unsigned(v) >> 8));
        }
        CxImage img;
        if (!DecodeBytes(t.Build(), img)) {
            ADD_FAILURE() << img.GetLastError();
            continue;
        }
        const RGBQUAD p = img.GetPixelColor(0, 0);
        EXPECT_NEAR(p.rgbRed, c.r, 2);
        EXPECT_NEAR(p.rgbGreen, c.g, 2);
        EXPECT_NEAR(p.rgbBlue, c.b, 2);
    }
}

TEST(TiffDecode, FloatSamplesOfEveryWidthShowZeroToOne)
{
    // 0 to 1 shown as 0 to 255, rounded; beyond it clamped, NaN black.
    // Halves; Adobe's 24-bit floats (7-bit exponent, 16-bit fraction).
    struct Row {
        const char *name;
        std::uint16_t bps, spp;
        bool bigEndian;
        std::vector<std::uint32_t> bits; // of each sample
        std::vector<int> want;           // each sample as 8 bits
    };
    const Row rows[] = {
        {"16-bit grey: 0, 0.5, 1, 2, -1, NaN, infinity, the least subnormal, 1/3, 1/16",
         16,
         1,
         false,
         {0x0000, 0x3800, 0x3C00, 0x4000, 0xBC00, 0x7E00, 0x7C00, 0x0001, 0x3555, 0x2C00},
         {0, 128, 255, 255, 0, 0, 255, 0, 85, 16}},
        {"16-bit grey, big-endian: 1/3, 0.75", 16, 1, true, {0x3555, 0x3A00}, {85, 191}},
        {"24-bit grey: 0, 0.5, 1, 2, -1, NaN, infinity, the least subnormal, 0.25, 0.75",
         24,
         1,
         false,
         {0x000000, 0x3E0000, 0x3F0000, 0x400000, 0xBF0000, 0x7F0001, 0x7F0000, 0x000001, 0x3D0000, 0x3E8000},
         {0, 128, 255, 255, 0, 0, 255, 0, 64, 191}},
        {"24-bit grey, big-endian: 0.25, 0.75", 24, 1, true, {0x3D0000, 0x3E8000}, {64, 191}},
        {"32-bit grey: 0.5, 0.75, 2, -1, NaN",
         32,
         1,
         false,
         {0x3F000000, 0x3F400000, 0x40000000, 0xBF800000, 0x7FC00000},
         {128, 191, 255, 0, 0}},
        {"16-bit RGB", 16, 3, false, {0x3C00, 0x3800, 0x0000}, {255, 128, 0}},
        {"16-bit RGBA, unassociated", 16, 4, false, {0x3C00, 0x3800, 0x0000, 0x3800}, {255, 128, 0, 128}},
        {"24-bit RGB, big-endian", 24, 3, true, {0x3F0000, 0x3E0000, 0x3D0000}, {255, 128, 64}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        RawTiff t;
        t.width = std::uint32_t(r.bits.size() / r.spp);
        t.bps = r.bps;
        t.spp = r.spp;
        t.photometric = r.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        t.sampleFormat = SAMPLEFORMAT_IEEEFP;
        t.alpha = r.spp == 4;
        t.bigEndian = r.bigEndian;
        for (std::uint32_t v : r.bits)
            for (int i = 0; i < r.bps / 8; ++i)
                t.samples.push_back(std::uint8_t(v >> (8 * i))); // little-endian host order
        CxImage img;
        ASSERT_TRUE(DecodeBytes(t.Build(), img)) << img.GetLastError();
        std::vector<int> got;
        for (int x = 0; x < img.GetWidth(); ++x) {
            const RGBQUAD p = img.GetPixelColor(x, 0);
            if (r.spp == 1) {
                EXPECT_TRUE(p.rgbRed == p.rgbGreen && p.rgbGreen == p.rgbBlue) << x;
                got.push_back(p.rgbRed);
            } else {
                got.insert(got.end(), {p.rgbRed, p.rgbGreen, p.rgbBlue});
                if (r.spp == 4)
                    got.push_back(p.rgbReserved);
            }
        }
        EXPECT_EQ(got, r.want);
    }
}

TEST(TiffDecode, ColourLayoutsMatchTheTemplate)
{
    const CxImage t = LoadFixture("png/template.png");
    const double exact = std::numeric_limits<double>::infinity();
    // LZW in 7-row strips, Deflate with predictor, PackBits, 32x32 tiles that
    // overhang the bottom edge, 16 bits per sample, 32-bit floats, the first
    // of two pages; JPEG at quality 90 (RGB and YCbCr) and CMYK within
    // tolerance.
    const std::pair<const char *, double> cases[] = {
        {"tiff/lzw.tif", exact},     {"tiff/deflate.tif", exact}, {"tiff/packbits.tif", exact},
        {"tiff/tiled.tif", exact},   {"tiff/rgb16.tif", exact},   {"tiff/float32.tif", exact},
        {"tiff/twopage.tif", exact}, {"tiff/jpeg_rgb.tif", 45.0}, {"tiff/jpeg_ycbcr.tif", 38.0},
        {"tiff/cmyk.tif", 45.0}};
    for (const auto &[name, psnr] : cases) {
        const CxImage img = LoadFixture(name, CXIMAGE_FORMAT_PNG);  // mislabelled on purpose
        EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_TIF) << name;
        EXPECT_EQ(img.GetBpp(), 24) << name;
        EXPECT_FALSE(img.AlphaIsValid()) << name;
        EXPECT_GE(Psnr(img, t), psnr) << name;
        EXPECT_EQ(img.GetNumFrames(), 1) << name;  // only the first page is read
    }
}

TEST(TiffDecode, PaletteGreyAndBilevelPagesStayPaletted)
{
    const CxImage t = LoadFixture("png/template.png");
    const CxImage pal = LoadFixture("tiff/palette.tif");
    EXPECT_EQ(pal.GetBpp(), 8);
    EXPECT_EQ(pal.GetNumColors(), 256);
    EXPECT_GE(Psnr(pal, t), 20.0);  // 64 colours, dithered
    const CxImage pal4 = LoadFixture("tiff/palette4.tif");
    EXPECT_EQ(pal4.GetBpp(), 4);
    EXPECT_EQ(pal4.GetNumColors(), 16);
    EXPECT_GE(Psnr(pal4, t), 16.0);  // 16 colours

    const CxImage bilevel = LoadFixture("png/bilevel.png");
    ExpectIdentical(bilevel, LoadFixture("tiff/bilevel.tif"));
    const CxImage white = LoadFixture("tiff/bilevel_miniswhite.tif");
    EXPECT_EQ(white.GetBpp(), 1);
    EXPECT_EQ(white.GetPaletteColor(0), (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(MaxChannelDiff(white, bilevel), 0);
    const CxImage inverted = LoadFixture("tiff/miniswhite.tif");
    EXPECT_EQ(inverted.GetBpp(), 8);
    EXPECT_EQ(inverted.GetPaletteColor(0), (RGBQUAD{255, 255, 255, 0}));
    EXPECT_EQ(MaxChannelDiff(inverted, LoadFixture("png/grey_template.png")), 0);
}

TEST(TiffDecode, AssociatedAlphaIsUnpremultiplied)
{
    const CxImage ref = LoadFixture("png/rgba.png");
    for (const bool assoc : {false, true}) {
        SCOPED_TRACE(assoc ? "associated" : "unassociated");
        const CxImage img = LoadFixture(assoc ? "tiff/rgba_assoc.tif" : "tiff/rgba_unassoc.tif");
        ASSERT_TRUE(img.AlphaIsValid());
        EXPECT_EQ(MaxAlphaDiff(img, ref), 0);
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                const RGBQUAD p = img.GetPixelColor(x, y), q = ref.GetPixelColor(x, y);
                const int a = q.rgbReserved;
                // Premultiplied storage loses up to half a level of a/255.
                if (a >= (assoc ? 16 : 1)) {
                    EXPECT_LE(std::abs(p.rgbRed - q.rgbRed) + std::abs(p.rgbBlue - q.rgbBlue),
                              assoc ? 2 * (255 / a + 1) : 0) << x << "," << y;
                }
            }
        }
    }
}

TEST(TiffEncode, PalettedImagesRoundTripAsPaletteOrGrey)
{
    struct Case {
        int bpp, colors;
        bool grey;
        int photometric, bps;
    };
    for (const Case c : {Case{1, 2, true, PHOTOMETRIC_MINISBLACK, 1}, Case{4, 4, true, PHOTOMETRIC_MINISBLACK, 2},
                         Case{4, 16, true, PHOTOMETRIC_MINISBLACK, 4}, Case{8, 256, true, PHOTOMETRIC_MINISBLACK, 8},
                         Case{1, 2, false, PHOTOMETRIC_PALETTE, 1}, Case{4, 5, false, PHOTOMETRIC_PALETTE, 4},
                         Case{8, 256, false, PHOTOMETRIC_PALETTE, 8}, Case{8, 100, true, PHOTOMETRIC_PALETTE, 8}}) {
        SCOPED_TRACE(testing::Message() << "bpp " << c.bpp << " colours " << c.colors << (c.grey ? " grey" : ""));
        CxImage img = MakePaletted(29, 11, c.bpp, c.colors, c.grey);
        const Bytes bytes = EncodeBytes(img, CXIMAGE_FORMAT_TIF);
        // Deflate always; the predictor only where samples are smooth 8-bit levels.
        const int predictor = c.bps == 8 && c.photometric != PHOTOMETRIC_PALETTE ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE;
        EXPECT_EQ(Tags(bytes, {TIFFTAG_PHOTOMETRIC, TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL,
                               TIFFTAG_COMPRESSION, TIFFTAG_PREDICTOR}),
                  (std::vector<int>{c.photometric, c.bps, 1, COMPRESSION_ADOBE_DEFLATE, predictor}));
        ExpectIdentical(img, Decoded(bytes));
    }

    // White-on-black the other way round is written as min-is-white.
    CxImage inverted = MakePaletted(10, 4, 1, 2, true);
    const RGBQUAD wb[2] = {{255, 255, 255, 0}, {0, 0, 0, 0}};
    ASSERT_TRUE(inverted.SetPalette(wb, 2));
    const Bytes bytes = EncodeBytes(inverted, CXIMAGE_FORMAT_TIF);
    EXPECT_EQ(Tags(bytes, {TIFFTAG_PHOTOMETRIC})[0], PHOTOMETRIC_MINISWHITE);
    ExpectIdentical(inverted, Decoded(bytes));
}

TEST(TiffEncode, ColourAndAlphaRoundTripExactly)
{
    CxImage img = MakeTestImage(37, 23);
    img.SetJpegQuality(5);
    Bytes bytes = EncodeBytes(img, CXIMAGE_FORMAT_TIF);
    img.SetJpegQuality(100);
    EXPECT_EQ(EncodeBytes(img, CXIMAGE_FORMAT_TIF), bytes);  // quality does not apply
    EXPECT_EQ(Tags(bytes, {TIFFTAG_PHOTOMETRIC, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PREDICTOR}),
              (std::vector<int>{PHOTOMETRIC_RGB, 3, PREDICTOR_HORIZONTAL}));
    ExpectIdentical(img, Decoded(bytes));

    ASSERT_TRUE(img.AlphaCreate());
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            img.AlphaGetPointer(y)[x] = BYTE((x * 7 + y * 13) % 256);
    bytes = EncodeBytes(img, CXIMAGE_FORMAT_TIF);
    EXPECT_EQ(Tags(bytes, {TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_EXTRASAMPLES}),
              (std::vector<int>{4, EXTRASAMPLE_UNASSALPHA}));
    const CxImage back = Decoded(bytes);
    ExpectIdentical(img, back);
    EXPECT_EQ(back.GetBits(0)[0], img.GetBits(0)[0]);  // colour under a clear pixel
    ExpectFailingStreamsReported(img, CXIMAGE_FORMAT_TIF);

    // Past a classic TIFF's reach (here made small), BigTIFF: the same pixels.
    cxcodec::testhooks::SetBigTiffFrom(1);
    const Bytes big = EncodeBytes(img, CXIMAGE_FORMAT_TIF);
    cxcodec::testhooks::SetBigTiffFrom(0);
    ASSERT_GT(big.size(), 4u);
    EXPECT_EQ(std::vector<int>(big.begin(), big.begin() + 4), (std::vector<int>{'I', 'I', 43, 0}));
    EXPECT_EQ(std::vector<int>(bytes.begin(), bytes.begin() + 4), (std::vector<int>{'I', 'I', 42, 0}));
    ExpectIdentical(img, Decoded(big));

    // A used transparent index needs alpha; an unused one changes nothing.
    CxImage pal = MakePaletted(20, 10, 8, 50, false);
    pal.SetTransIndex(pal.GetPixelIndex(4, 4));
    const CxImage alpha = Decoded(EncodeBytes(pal, CXIMAGE_FORMAT_TIF));
    EXPECT_EQ(alpha.GetBpp(), 24);
    EXPECT_EQ(MaxAlphaDiff(pal, alpha), 0);
    EXPECT_EQ(OpaquePsnr(pal, alpha), std::numeric_limits<double>::infinity());
    CxImage unused = MakePaletted(20, 2, 8, 50, false);  // indices 0 to 11
    unused.SetTransIndex(49);
    EXPECT_EQ(Decoded(EncodeBytes(unused, CXIMAGE_FORMAT_TIF)).GetBpp(), 8);
}

TEST(TiffRobustness, TruncatedAndDamagedFilesFailSilently)
{
    testing::internal::CaptureStderr();
    for (const char *name : {"tiff/lzw.tif", "tiff/tiled.tif", "tiff/palette.tif", "tiff/bilevel.tif",
                             "tiff/jpeg_ycbcr.tif", "tiff/cmyk.tif", "tiff/rgba_assoc.tif", "tiff/twopage.tif"}) {
        SCOPED_TRACE(name);
        ExpectTruncationsFail(FixtureBytes(name), 5);
    }

    EXPECT_EQ(Decoded(GreyTiff(16, 8)).GetPixelIndex(1, 0), 7);  // the builder makes valid files
    CxImage img;
    EXPECT_FALSE(DecodeBytes(GreyTiff(CxImage::kMaxDimension + 1, 1), img));
    EXPECT_FALSE(DecodeBytes(GreyTiff(65536, 65536, {}, 64), img));  // beyond the pixel budget
    EXPECT_FALSE(DecodeBytes(GreyTiff(0, 8), img));
    EXPECT_FALSE(DecodeBytes(GreyTiff(16, 8, {{273, kLong, 100000}}), img));  // strip past the end
    EXPECT_FALSE(DecodeBytes(GreyTiff(16, 8, {{259, kShort, 32773}, {279, kLong, 100000}}), img));
    EXPECT_FALSE(DecodeBytes(GreyTiff(16, 8, {{258, kShort, 7}}), img));  // no such depth
    EXPECT_FALSE(DecodeBytes(GreyTiff(16, 8, {{259, kShort, 5}}), img));  // not LZW data
    // Tiles of 32768 x 32768 for a 16 x 8 picture.
    EXPECT_FALSE(DecodeBytes(
        GreyTiff(16, 8, {{322, kLong, 32768}, {323, kLong, 32768}, {324, kLong, 8}, {325, kLong, 128}}), img));
    Bytes bad = GreyTiff(16, 8);
    bad[4] = 0xF0;  // directory offset past the end
    EXPECT_FALSE(DecodeBytes(bad, img));
    EXPECT_FALSE(img.IsValid());

    // Arbitrary damage: refused, or a picture.
    const Bytes good = FixtureBytes("tiff/lzw.tif");
    for (std::size_t at = 8; at < good.size(); at += 13) {
        bad = good;
        bad[at] ^= 0x5A;
        CxImage any;
        EXPECT_TRUE(!DecodeBytes(bad, any) || any.GetWidth() > 0);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Rows read for a part of the picture (a crop, the viewer's part at actual
// size) pass over the strips above it and the tiles beside it: the part
// comes out whole when they are damaged beyond reading.
TEST(TiffDecode, APartPassesOverTheStripsAboveAndTheTilesBesideIt)
{
    testing::internal::CaptureStderr();
    for (const char *name : {"tiff/lzw.tif", "tiff/tiled_edges.tif"}) {
        SCOPED_TRACE(name);
        const std::string path = testsupport::DataPath(name);
        TIFF *tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        const bool tiled = TIFFIsTiled(tif);
        std::uint32_t across = 0, down = 0;
        if (tiled) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &across);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &down);
        } else {
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &down);
        }
        // The first strip, or the first tile of the first two rows of tiles.
        std::uint64_t *offsets = nullptr, *counts = nullptr;
        TIFFGetField(tif, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets);
        TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts);
        const std::uint32_t perRow = tiled ? TIFFNumberOfTiles(tif) / ((48 + down - 1) / down) : 1;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> damaged{{offsets[0], counts[0]}};
        if (tiled)
            damaged.push_back({offsets[perRow], counts[perRow]});
        TIFFClose(tif);
        ASSERT_GT(down, 0u);
        ASSERT_LT(down, 48u);

        testsupport::ScratchDir dir;
        Bytes bytes = FixtureBytes(name);
        for (const auto &[at, size] : damaged)
            for (std::uint64_t k = 0; k < size; ++k)
                bytes[std::size_t(at + k)] = 0xA5;
        const std::string broken = dir.Path("broken.tif");
        ASSERT_TRUE(testsupport::WriteFileBytes(broken, bytes));
        CxImage whole;
        ASSERT_TRUE(whole.Load(path.c_str()));
        // Below the first strip; beside the first column of tiles, from
        // halfway down the first row of them.
        const CxRegion part = tiled
                                  ? CxRegion{int(across), int(down / 2), 64 - int(across), 48 - int(down / 2)}
                                  : CxRegion{5, int(down), 50, 48 - int(down)};
        ASSERT_TRUE(whole.Crop(part.left, part.top, part.width, part.height));
        CxMemFile expected, out;
        ASSERT_TRUE(expected.Open() && whole.Encode(&expected, CXIMAGE_FORMAT_PNG) && out.Open());
        CxRowEdits edits;
        edits.region = [part](int, int, CxRegion &region) {
            region = part;
            return true;
        };
        CxImage image;
        std::string reason;
        ASSERT_EQ(int(cxstream::Convert(
                      broken.c_str(), CXIMAGE_FORMAT_PNG, [](CxImage &) { return std::string(); }, image, out,
                      reason, {}, edits)),
                  int(cxstream::Outcome::Encoded))
            << reason;
        ASSERT_EQ(out.Size(), expected.Size());
        EXPECT_EQ(0, std::memcmp(out.GetBuffer(false), expected.GetBuffer(false), std::size_t(out.Size())));
        // The whole picture cannot be read.
        CxImage all;
        EXPECT_FALSE(all.Load(broken.c_str()) && all.IsValid());
    }
    testing::internal::GetCapturedStderr();
}
