#include "imaging/adjust.h"
#include "imaging/testhooks.h"
#include "tests/imaging/magick_compare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using cxadjust::Box;
using cxadjust::ToneSettings;
using magick::Source;

namespace {

ToneSettings Tone(void (*set)(ToneSettings &))
{
    ToneSettings t;
    set(t);
    return t;
}

struct ToneCase {
    Source source;
    ToneSettings tone;
    QStringList magick;
    double minPsnr;  // 40 where the formula is ImageMagick's, 30 where it differs by design
    const char *why; // what differs, for rows under 40
};

} // namespace

// Each row: ApplyTone and ImageMagick on the same decoded pixels.
TEST(Tone, MatchesImageMagick)
{
    const ToneCase cases[] = {
        {Source::Landscape,
         Tone([](ToneSettings &t) { t.autoLevels = true; }),
         {"-channel", "RGB", "-contrast-stretch", "0.5%x0.5%"},
         40,
         ""},
        {Source::Scan,
         Tone([](ToneSettings &t) { t.autoLevels = true; }),
         {"-channel", "RGB", "-contrast-stretch", "0.5%x0.5%"},
         40,
         ""},
        {Source::Portrait,
         Tone([](ToneSettings &t) { t.brightness = t.contrast = 10; }),
         {"-brightness-contrast", "10x10"},
         40,
         ""},
        {Source::Landscape,
         Tone([](ToneSettings &t) { t.brightness = -30, t.contrast = 45; }),
         {"-brightness-contrast", "-30x45"},
         40,
         ""},
        {Source::Landscape,
         Tone([](ToneSettings &t) { t.brightness = 60, t.contrast = -70; }),
         {"-brightness-contrast", "60x-70"},
         40,
         ""},
        {Source::Portrait, Tone([](ToneSettings &t) { t.gamma = 1.8; }), {"-gamma", "1.8"}, 40, ""},
        {Source::Landscape, Tone([](ToneSettings &t) { t.gamma = 0.45; }), {"-gamma", "0.45"}, 40, ""},
        {Source::Landscape,
         Tone([](ToneSettings &t) { t.saturation = 40; }),
         {"-modulate", "100,140,100"},
         40,
         ""},
        {Source::Portrait,
         Tone([](ToneSettings &t) { t.saturation = -60; }),
         {"-modulate", "100,40,100"},
         40,
         ""},
        {Source::Landscape,
         Tone([](ToneSettings &t) { t.saturation = -100; }),
         {"-modulate", "100,0,100"},
         40,
         ""},
        {Source::Landscape,
         Tone([](ToneSettings &t) { t.grayscale = true; }),
         {"-grayscale", "Rec709Luma"},
         40,
         ""},
        // IM 6.9's Gray is the same Rec. 709 luma of the stored values.
        {Source::Portrait,
         Tone([](ToneSettings &t) { t.grayscale = true; }),
         {"-colorspace", "Gray"},
         40,
         ""},
        {Source::Landscape,
         Tone([](ToneSettings &t) { t.sepia = true; }),
         {"-color-matrix", "0.393 0.769 0.189 0.349 0.686 0.168 0.272 0.534 0.131"},
         40,
         ""},
        {Source::Portrait,
         Tone([](ToneSettings &t) {
             t.autoLevels = true, t.brightness = 10, t.contrast = 10, t.gamma = 1.2, t.saturation = 20;
         }),
         {"-channel", "RGB", "-contrast-stretch", "0.5%x0.5%", "+channel", "-brightness-contrast", "10x10",
          "-gamma", "1.2", "-modulate", "100,120,100"},
         40,
         ""},
        {Source::Paletted,
         Tone([](ToneSettings &t) { t.autoLevels = true, t.contrast = 30, t.saturation = 50; }),
         {"-channel", "RGB", "-contrast-stretch", "0.5%x0.5%", "+channel", "-brightness-contrast", "0x30",
          "-modulate", "100,150,100"},
         40,
         ""},
        {Source::ClearBorder,
         Tone([](ToneSettings &t) { t.brightness = 20, t.sepia = true; }),
         {"-brightness-contrast", "20x0", "-color-matrix",
          "0.393 0.769 0.189 0.349 0.686 0.168 0.272 0.534 0.131"},
         40,
         ""},
        {Source::OneColour,
         Tone([](ToneSettings &t) { t.autoLevels = true, t.gamma = 2; }),
         {"-channel", "RGB", "-contrast-stretch", "0.5%x0.5%", "+channel", "-gamma", "2"},
         40,
         ""},
    };
    for (const ToneCase &c : cases) {
        const std::string row = std::string(magick::Name(c.source)) + ": " + c.magick.join(' ').toStdString();
        SCOPED_TRACE(row);
        testsupport::ScratchDir dir;
        std::string in;
        const CxImage src = magick::AsPng(magick::Make(c.source), dir, in);
        ASSERT_TRUE(c.tone.Any());
        CxImage ours(src);
        cxadjust::ApplyTone(ours, c.tone);
        const CxImage theirs = magick::Convert(in, c.magick, dir);
        ASSERT_TRUE(theirs.IsValid());
        const double psnr = testsupport::Psnr(ours, theirs);
        EXPECT_GE(psnr, c.minPsnr) << c.why;
        // Paletted stays paletted; alpha is never touched.
        EXPECT_EQ(ours.GetBpp(), src.GetBpp());
        EXPECT_EQ(ours.GetTransIndex(), src.GetTransIndex());
        ASSERT_EQ(ours.AlphaIsValid(), src.AlphaIsValid());
        for (int y = 0; ours.AlphaIsValid() && y < ours.GetHeight(); ++y)
            ASSERT_EQ(
                0, std::memcmp(ours.AlphaGetPointer(y), src.AlphaGetPointer(y), std::size_t(src.GetWidth())));
    }
}

// The channel tables looked up 64 bytes at a time give what a byte at a time
// gives: rows shorter than, as long as and longer than a vector, tables the
// same for every channel (no auto-levels) and not.
TEST(Tone, TheVectorLookUpsGiveTheBytesOfTheOthers)
{
    const CxImage photo = magick::Make(Source::Landscape);
    for (const int width : {1, 21, 64, 65, 130, photo.GetWidth()}) {
        for (const bool levels : {false, true}) {
            SCOPED_TRACE(std::to_string(width) + (levels ? " levels" : ""));
            CxImage src(photo);
            ASSERT_TRUE(src.Crop(0, 0, width, std::min(photo.GetHeight(), 40)));
            const ToneSettings tone{.autoLevels = levels, .brightness = 12, .contrast = -20, .gamma = 1.3};
            CxImage vectors(src), bytes(src);
            cxadjust::ApplyTone(vectors, tone);
            cxcodec::testhooks::SetToneVectors(false);
            cxadjust::ApplyTone(bytes, tone);
            cxcodec::testhooks::SetToneVectors(true);
            EXPECT_EQ(testsupport::MaxChannelDiff(vectors, bytes), 0);
            EXPECT_GT(testsupport::MaxChannelDiff(vectors, src), 0);
        }
    }
}

TEST(Tone, NothingChosenChangesNothing)
{
    const ToneSettings none;
    EXPECT_FALSE(none.Any());
    CxImage img = magick::Make(Source::Landscape), before(img);
    cxadjust::ApplyTone(img, none);
    EXPECT_EQ(testsupport::MaxChannelDiff(img, before), 0);
    CxImage empty;
    cxadjust::ApplyTone(empty, Tone([](ToneSettings &t) { t.autoLevels = true; }));
    EXPECT_FALSE(empty.IsValid());
}

TEST(Tone, ValuesOutOfRangeAreClamped)
{
    const CxImage src = magick::Make(Source::Landscape);
    auto toned = [&](void (*set)(ToneSettings &)) {
        CxImage img(src);
        cxadjust::ApplyTone(img, Tone(set));
        return img;
    };
    EXPECT_EQ(
        testsupport::MaxChannelDiff(toned([](ToneSettings &t) { t.brightness = 250, t.saturation = -900; }),
                                    toned([](ToneSettings &t) { t.brightness = 100, t.saturation = -100; })),
        0);
    EXPECT_EQ(testsupport::MaxChannelDiff(toned([](ToneSettings &t) { t.gamma = 0; }),
                                          toned([](ToneSettings &t) { t.gamma = 0.1; })),
              0);
    EXPECT_EQ(testsupport::MaxChannelDiff(toned([](ToneSettings &t) { t.gamma = std::nan(""); }), src), 0);
    EXPECT_EQ(cxadjust::TrimBox(src, std::nan("")), cxadjust::TrimBox(src, 0));
}

// Each row: the trim box against `convert IN -fuzz F% -format %@ info:`.
TEST(TrimBox, MatchesImageMagick)
{
    struct Case {
        Source source;
        double fuzz;
    } const cases[] = {
        {Source::Scan, 0},        // the noise is content: nothing trimmed
        {Source::Scan, 10},       // the margin's noise within the fuzz
        {Source::ClearBorder, 0}, // transparent of any colour is border
        {Source::Paletted, 0},    // through the palette
        {Source::Landscape, 5},   // a photo keeps its edges
        {Source::OneColour, 0},   // all border: the whole picture
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(magick::Name(c.source)) + " fuzz " + std::to_string(c.fuzz));
        testsupport::ScratchDir dir;
        std::string in;
        const CxImage src = magick::AsPng(magick::Make(c.source), dir, in);
        std::string box;
        ASSERT_TRUE(testsupport::RunConvert(
            {QString::fromStdString(in), "-fuzz", QString::number(c.fuzz) + "%", "-format", "%@", "info:"},
            &box));
        Box want;
        ASSERT_EQ(std::sscanf(box.c_str(), "%dx%d+%d+%d", &want.width, &want.height, &want.left, &want.top),
                  4)
            << box;
        if (want.width == 0) // ImageMagick's answer when every pixel is border
            want = {0, 0, src.GetWidth(), src.GetHeight()};
        EXPECT_EQ(cxadjust::TrimBox(src, c.fuzz), want) << box;
    }
}

TEST(TrimBox, BorderIsTheCommonestCornerAndFuzzIsADistance)
{
    CxImage img;
    ASSERT_TRUE(img.Create(10, 8, 24));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            img.SetPixelColor(x, y, magick::Rgb(200, 200, 200));
    img.SetPixelColor(0, 0, magick::Rgb(10, 10, 10)); // a lone dark corner is content
    img.SetPixelColor(6, 5, magick::Rgb(190, 200, 200));
    EXPECT_EQ(cxadjust::TrimBox(img, 0), (Box{0, 0, 7, 6}));
    // 10 levels in one channel: 10 / 255 / sqrt(3) = 2.26 %.
    EXPECT_EQ(cxadjust::TrimBox(img, 2.2), (Box{0, 0, 7, 6}));
    EXPECT_EQ(cxadjust::TrimBox(img, 2.3), (Box{0, 0, 1, 1}));
    EXPECT_EQ(cxadjust::TrimBox(CxImage(), 5), Box{});
}

TEST(TrimBox, UnionHoldsBothBoxes)
{
    EXPECT_EQ(cxadjust::UnionBox({2, 3, 4, 5}, {1, 6, 2, 8}), (Box{1, 3, 5, 11}));
    EXPECT_EQ(cxadjust::UnionBox({}, {1, 6, 2, 8}), (Box{1, 6, 2, 8}));
    EXPECT_EQ(cxadjust::UnionBox({2, 3, 4, 5}, {}), (Box{2, 3, 4, 5}));
}
