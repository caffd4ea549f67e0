#include "convert/pipeline.h"
#include "imaging/cxtext.h"
#include "imaging/formats.h"
#include "imaging/resampledrows.h"
#include "imaging/rowband.h"
#include "tests/test_support.h"

#include <QDir>
#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

using namespace testsupport;

namespace {

ResizeTarget Size(int w, int h, int rule, int W, int H)
{
    return ComputeResize(w, h, rule, W, H);
}

CxImage Paletted(int w, int h, bool grey)
{
    CxImage img;
    img.Create(w, h, 8);
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i)
        pal[i] =
            grey ? RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0} : RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
    img.SetPalette(pal, 256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelIndex(x, y, BYTE((x + y) & 255));
    return img;
}

}  // namespace

TEST(ComputeResize, TheFourRulesTruncate)
{
    auto expect = [](ResizeTarget t, std::int64_t w, std::int64_t h) {
        EXPECT_EQ(t.width, w);
        EXPECT_EQ(t.height, h);
    };
    expect(Size(1600, 1200, 0, 800, 600), 800, 600);
    expect(Size(1200, 1600, 0, 800, 600), 450, 600);  // 800 x 1066 would be too tall
    expect(Size(300, 200, 1, 100, 0), 100, 66);
    expect(Size(300, 200, 2, 0, 100), 150, 100);
    expect(Size(300, 200, 3, 640, 480), 640, 480);
    expect(Size(300, 200, 7, 640, 480), 640, 480);  // unknown rules stretch
    expect(Size(300, 200, 1, 0, 0), 0, 66 * 0);
    // The largest targets do not overflow.
    expect(Size(100, 300, 1, 2147483647, 0), 2147483647, 6442450941);
    expect(Size(300, 100, 2, 0, 2147483647), 6442450941, 2147483647);
}

TEST(TransformImage, DontEnlargeNeedsBothSidesStrictlyLarger)
{
    CConvertJob job;
    job.SetResizeFlag(true);
    job.SetDontEnlarge(true);
    job.SetResizeType(1);
    job.SetSize(800, 0);
    CxImage img = MakeTestImage(640, 480);
    EXPECT_FALSE(TransformImage(img, job).failed);
    EXPECT_EQ(img.GetWidth(), 640);  // left as it is, and no error

    job.SetResizeType(3);
    job.SetSize(640, 480);
    img = MakeTestImage(1000, 480);
    EXPECT_FALSE(TransformImage(img, job).failed);
    EXPECT_EQ(img.GetWidth(), 1000);  // the height is not strictly larger

    img = MakeTestImage(1000, 500);
    EXPECT_FALSE(TransformImage(img, job).failed);
    EXPECT_EQ(img.GetWidth(), 640);
    EXPECT_EQ(img.GetHeight(), 480);

    // Frames of an animation are resized whatever don't-enlarge says.
    img = MakeTestImage(320, 240);
    EXPECT_FALSE(TransformImage(img, job, kAnimationSteps).failed);
    EXPECT_EQ(img.GetWidth(), 640);
}

TEST(TransformImage, RotationComesBeforeResizing)
{
    CConvertJob job;
    job.SetRotateFlag(true);
    job.SetRotation(ROTATE_RIGHT);
    job.SetResizeFlag(true);
    job.SetResizeType(1);
    job.SetSize(100, 0);
    CxImage img = MakeTestImage(300, 200);
    EXPECT_FALSE(TransformImage(img, job).failed);
    EXPECT_EQ(img.GetWidth(), 100);
    EXPECT_EQ(img.GetHeight(), 150);

    // Rotate on with no choice made: nothing turns.
    job.SetRotation(ROTATE_NONE);
    job.SetResizeFlag(false);
    img = MakeTestImage(300, 200);
    EXPECT_FALSE(TransformImage(img, job).failed);
    EXPECT_EQ(img.GetWidth(), 300);
}

TEST(TransformImage, FailedResizeStopsEverythingButSharpen)
{
    CConvertJob job;
    job.SetResizeFlag(true);
    job.SetResizeType(1);
    job.SetSize(2147483647, 0);
    job.SetSharpen(true);
    job.SetStampFlag(true);
    job.SetStamp("never drawn", nullptr, RGB(255, 0, 0));
    CxImage img = MakeTestImage(100, 300);
    const CxImage original = img;
    const TransformOutcome t = TransformImage(img, job);
    EXPECT_TRUE(t.failed);
    EXPECT_FALSE(t.stampDrawn);
    EXPECT_EQ(img.GetWidth(), 100);
    // Sharpened all the same: the checker edges grew stronger.
    EXPECT_GT(MaxChannelDiff(img, original), 0);

    job.SetSize(0, 0);
    img = MakeTestImage(50, 50);
    EXPECT_TRUE(TransformImage(img, job).failed);

    CxImage out = MakeTestImage(50, 50);
    ScratchDir dir;
    EXPECT_EQ(ConvertImage(out, job, dir.Path("never.png"), CXIMAGE_FORMAT_PNG), ConvertResult::TransformFailed);
    EXPECT_TRUE(QDir(QString::fromStdString(dir.Root())).isEmpty());
}

TEST(TransformImage, RulesOfRunsAnimationsAndPreviews)
{
    enum Case { DontEnlarge, SharpenOnly, HugeResizeThenStamp };
    const struct {
        Case c;
        const char *rules;
        StepRules r;
        int width;
        bool sharpened, failed, stamped;
    } rows[] = {
        {DontEnlarge, "run", {}, 64, false, false, false},
        {DontEnlarge, "animation", kAnimationSteps, 80, false, false, false},
        {DontEnlarge, "preview still", PreviewSteps(true), 80, false, false, false},
        {DontEnlarge, "preview animation", PreviewSteps(false), 80, false, false, false},
        {SharpenOnly, "run", {}, 64, true, false, false},
        {SharpenOnly, "animation", kAnimationSteps, 64, true, false, false},
        {SharpenOnly, "preview still", PreviewSteps(true), 64, false, false, false},
        {SharpenOnly, "preview animation", PreviewSteps(false), 64, false, false, false},
        // A target no image can have fails whole, never wrapped into a size.
        {HugeResizeThenStamp, "run", {}, 64, false, true, false},
        {HugeResizeThenStamp, "animation", kAnimationSteps, 64, false, true, false},
        {HugeResizeThenStamp, "preview still", PreviewSteps(true), 64, false, true, true},
        {HugeResizeThenStamp, "preview animation", PreviewSteps(false), 64, false, true, false},
    };
    for (const auto &row : rows) {
        CConvertJob job;
        job.SetResizeFlag(row.c != SharpenOnly);
        job.SetResizeType(1);
        job.SetSize(row.c == DontEnlarge ? 80 : 2147483647, 0);
        job.SetDontEnlarge(row.c == DontEnlarge);
        job.SetSharpen(row.c == SharpenOnly);
        job.SetStampFlag(row.c == HugeResizeThenStamp);
        job.SetStamp("x", nullptr, RGB(255, 0, 0));
        CxImage img = MakeTestImage(64, 16);
        const CxImage original = img;
        const TransformOutcome t = TransformImage(img, job, row.r);
        const std::string what = std::string(row.rules) + " case " + std::to_string(row.c);
        EXPECT_EQ(img.GetWidth(), row.width) << what;
        EXPECT_EQ(t.failed, row.failed) << what;
        EXPECT_EQ(t.stampDrawn, row.stamped) << what;
        if (row.c == SharpenOnly) {
            EXPECT_EQ(MaxChannelDiff(img, original) > 0, row.sharpened) << what;
        }
        if (row.failed) {
            EXPECT_EQ(t.reason, "image too large") << what;
        }
    }
}

TEST(TransformImage, StampSitsAtTheLowerRight)
{
    CConvertJob job;
    job.SetStampFlag(true);
    LOGFONT font;
    font.lfHeight = -20;
    job.SetStamp("Velmora", &font, RGB(255, 0, 0));
    CxImage img;
    img.Create(640, 480, 24);
    for (int y = 0; y < 480; ++y)
        std::fill(img.GetBits(y), img.GetBits(y) + 640 * 3, BYTE(255));
    const int tw = TextExtentWidth(font, "Velmora");
    ASSERT_GT(tw, 20);
    const TransformOutcome t = TransformImage(img, job);
    EXPECT_TRUE(t.stampDrawn);

    const int x0 = 640 - tw - 10, baseline = 470;
    int left = 640, right = -1, bottom = -1, top = 480;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            if (c.rgbRed > 200 && c.rgbGreen < 120) {  // reddish text pixel
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    ASSERT_GE(right, 0) << "no text drawn";
    EXPECT_NEAR(left, x0, 3);
    EXPECT_LE(right, 640 - 10 + 1);
    EXPECT_LE(bottom, baseline + 1);  // "Velmora" has no descenders
    EXPECT_GT(top, baseline - 30);

    // An empty text draws nothing and does not count as a stamp.
    job.SetStamp("", &font, RGB(255, 0, 0));
    CxImage plain = MakeTestImage(64, 64);
    EXPECT_FALSE(TransformImage(plain, job).stampDrawn);
}

TEST(PrepareForOutput, JpegQualityAndDepth)
{
    CConvertJob job;
    job.SetQuality(50);
    CxImage img = MakeTestImage(32, 32);
    PrepareForOutput(img, CXIMAGE_FORMAT_JPG, job, true);
    EXPECT_EQ(img.GetJpegQuality(), 95);
    PrepareForOutput(img, CXIMAGE_FORMAT_JPG, job, false);
    EXPECT_EQ(img.GetJpegQuality(), 50);

    CxImage colour = Paletted(16, 16, false);
    PrepareForOutput(colour, CXIMAGE_FORMAT_JPG, job, false);
    EXPECT_EQ(colour.GetBpp(), 24);
    CxImage grey = Paletted(16, 16, true);
    PrepareForOutput(grey, CXIMAGE_FORMAT_JPG, job, false);
    EXPECT_EQ(grey.GetBpp(), 8);
    // Other formats keep the depth.
    CxImage keep = Paletted(16, 16, false);
    PrepareForOutput(keep, CXIMAGE_FORMAT_PNG, job, false);
    EXPECT_EQ(keep.GetBpp(), 8);
}

TEST(PrepareForOutput, GifGetsAPaletteFromItsOwnPixels)
{
    CConvertJob job;
    CxImage img = MakeTestImage(64, 64);
    PrepareForOutput(img, CXIMAGE_FORMAT_GIF, job, false);
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_LE(img.GetNumColors(), 256);
    EXPECT_GT(Psnr(img, MakeTestImage(64, 64)), 25.0);

    // Exactly eight colours: left alone.
    CxImage eight;
    eight.Create(8, 8, 4);
    RGBQUAD pal[8];
    for (int i = 0; i < 8; ++i)
        pal[i] = RGBQUAD{BYTE(i * 30), 0, 0, 0};
    eight.SetPalette(pal, 8);
    PrepareForOutput(eight, CXIMAGE_FORMAT_GIF, job, false);
    EXPECT_EQ(eight.GetBpp(), 4);
    EXPECT_EQ(eight.GetNumColors(), 8);
}

TEST(ConvertImage, SavesWhereAskedAndReportsFailedWrites)
{
    ScratchDir dir;
    CConvertJob job;
    job.SetResizeFlag(true);
    job.SetResizeType(0);
    job.SetSize(80, 60);
    job.SetQuality(90);
    CxImage img = MakeTestImage(160, 100);
    const std::string out = dir.Path("out.JPG");
    ASSERT_EQ(ConvertImage(img, job, out, CXIMAGE_FORMAT_JPG), ConvertResult::Saved);
    CxImage back(out.c_str(), CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(back.IsValid());
    EXPECT_EQ(back.GetWidth(), 80);
    EXPECT_EQ(back.GetHeight(), 50);
    EXPECT_EQ(back.GetType(), CXIMAGE_FORMAT_JPG);

    // A folder that cannot exist (under a regular file) fails the save and
    // leaves nothing behind.
    CxImage again = MakeTestImage(20, 20);
    EXPECT_EQ(ConvertImage(again, job, out + "/sub.png", CXIMAGE_FORMAT_PNG), ConvertResult::SaveFailed);
    const QStringList left = QDir(QString::fromStdString(dir.Root())).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(left, QStringList{"out.JPG"});
}

// A file converted with its rows passing from decoder to encoder as they come
// must give the bytes the whole picture would, with the edits done on each
// row too; a picture the decoder (or the row edits) cannot pass row by row
// comes whole; a damaged one fails as it would whole.
TEST(StreamedConversion, SameBytesAsWholeOrWholeWhenItCannot)
{
    struct Row {
        const char *source; // under tests/data
        bool autoRotate;
        const char *damage; // "" none, "cut": half the file, "crc": a byte of image data changed
        cxstream::Outcome expected;
        bool wholeForTiff = false; // a transparent palette entry: TIFF needs every row to choose its form
    };
    using O = cxstream::Outcome;
    const Row rows[] = {
        {"png/template.png", true, "", O::Encoded},
        {"png/rgba.png", true, "", O::Encoded},
        {"png/rgb16.png", true, "", O::Encoded},
        {"png/grey_alpha.png", true, "", O::Encoded},
        {"png/grey_template.png", true, "", O::Encoded},
        {"png/bilevel.png", true, "", O::Encoded},
        {"png/palette_trns.png", true, "", O::Encoded, true},
        {"png/palette_partial.png", true, "", O::Encoded},
        {"png/interlaced.png", true, "", O::Whole},
        {"photo/orient6.png", true, "", O::Whole},
        {"photo/orient6.png", false, "", O::Encoded},
        {"photo/orient1.png", true, "", O::Encoded},
        {"png/template.png", true, "cut", O::DecodeFailed},
        {"png/rgba.png", true, "crc", O::DecodeFailed},
        {"jpeg/baseline.jpg", true, "", O::Encoded},
        {"jpeg/progressive.jpg", true, "", O::Encoded},
        {"jpeg/progressive420.jpg", true, "", O::Encoded},
        {"jpeg/grey.jpg", true, "", O::Encoded},
        {"photo/meta.jpg", true, "", O::Encoded},
        {"photo/orient6.jpg", true, "", O::Whole},
        {"photo/orient6.jpg", false, "", O::Encoded},
        {"jpeg/cmyk_adobe.jpg", true, "", O::Whole},
        {"jpeg/baseline.jpg", true, "cut", O::DecodeFailed},
        {"tiff/deflate.tif", true, "", O::Encoded},
        {"tiff/rgba_unassoc.tif", true, "", O::Encoded},
        {"tiff/rgb16.tif", true, "", O::Encoded},
        {"tiff/jpeg_ycbcr.tif", true, "", O::Encoded},
        {"tiff/palette.tif", true, "", O::Encoded},
        {"tiff/palette4.tif", true, "", O::Whole},
        {"tiff/tiled.tif", true, "", O::Encoded},
        {"tiff/tiled_edges.tif", true, "", O::Encoded},
        {"tiff/tiled_palette.tif", true, "", O::Encoded},
        {"tiff/tiled_grey.tif", true, "", O::Encoded},
        {"tiff/cmyk.tif", true, "", O::Whole},
        {"tiff/lzw.tif", true, "cut", O::DecodeFailed},
        {"pnm/p5.pgm", true, "", O::Encoded},
        {"pnm/p6.ppm", true, "", O::Encoded},
        {"pnm/p2.pgm", true, "", O::Encoded},
        {"pnm/p3.ppm", true, "", O::Encoded},
        {"pnm/p5_16.pgm", true, "", O::Encoded},
        {"pnm/p6_16.ppm", true, "", O::Encoded},
        {"pnm/p1.pbm", true, "", O::Whole},
        {"pnm/p6.ppm", true, "cut", O::DecodeFailed},
    };
    // None; a mirror, which any row of bytes takes; a mirror and tone, which
    // a palette cannot take row by row (its entries change); margins cut
    // off and a mirror, which rows of 8 or 24 bits take; tone and a border
    // around it (not toned), which colour rows take; sharpen, over the rows
    // around each, which colour rows take; a watermark (the plain stamp, and
    // one faded with a shadow at the middle) over the rows it touches, which
    // colour rows take; and every one of them at once.
    enum class Edit {
        None,
        Mirror,
        MirrorAndTone,
        CutAndMirror,
        ToneAndBorder,
        Sharpen,
        Stamp,
        PlainStamp,
        All
    };
    for (const Row &r : rows) {
        for (const auto &[type, edit] :
             {std::pair{CXIMAGE_FORMAT_JPG, Edit::None}, std::pair{CXIMAGE_FORMAT_PNG, Edit::None},
              std::pair{CXIMAGE_FORMAT_TIF, Edit::None}, std::pair{CXIMAGE_FORMAT_PNG, Edit::Mirror},
              std::pair{CXIMAGE_FORMAT_JPG, Edit::MirrorAndTone},
              std::pair{CXIMAGE_FORMAT_TIF, Edit::MirrorAndTone},
              std::pair{CXIMAGE_FORMAT_PNG, Edit::CutAndMirror},
              std::pair{CXIMAGE_FORMAT_JPG, Edit::CutAndMirror},
              std::pair{CXIMAGE_FORMAT_PNG, Edit::ToneAndBorder},
              std::pair{CXIMAGE_FORMAT_PNG, Edit::Sharpen}, std::pair{CXIMAGE_FORMAT_PNG, Edit::Stamp},
              std::pair{CXIMAGE_FORMAT_JPG, Edit::PlainStamp}, std::pair{CXIMAGE_FORMAT_PNM, Edit::None},
              std::pair{CXIMAGE_FORMAT_PNM, Edit::CutAndMirror}, std::pair{CXIMAGE_FORMAT_JPG, Edit::All}}) {
            SCOPED_TRACE(std::string(r.source) + " " + r.damage + " to " + FormatByType(type)->name +
                         " edit " + std::to_string(int(edit)));
            ScratchDir dir;
            std::vector<std::uint8_t> bytes = ReadFileBytes(DataPath(r.source));
            ASSERT_GT(bytes.size(), 100u);
            if (std::string(r.damage) == "cut")
                bytes.resize(bytes.size() / 2);
            else if (std::string(r.damage) == "crc")
                bytes[bytes.size() / 2] ^= 0x55;
            const std::string path = dir.Path("in");
            ASSERT_TRUE(WriteFileBytes(path, bytes));
            CConvertJob job;
            job.SetQuality(80);
            job.m_bAutoRotate = r.autoRotate;
            const auto any = [edit](std::initializer_list<Edit> these) {
                return edit == Edit::All || std::find(these.begin(), these.end(), edit) != these.end();
            };
            if (any({Edit::Mirror, Edit::MirrorAndTone, Edit::CutAndMirror}))
                job.m_edits.flip = FLIP_HORIZONTAL;
            if (any({Edit::MirrorAndTone, Edit::ToneAndBorder}))
                job.m_edits.tone = {.brightness = 10, .contrast = -5, .gamma = 1.2, .saturation = 20};
            if (any({Edit::CutAndMirror}))
                job.m_edits.margins = {{EditLength{10, true}, {5, true}, {20, true}, {15, true}}};
            if (any({Edit::ToneAndBorder})) {
                job.m_edits.border = {5, true};
                job.m_edits.borderColor = RGB(0x33, 0x66, 0x99);
            }
            if (any({Edit::Sharpen}))
                job.m_bSharpen = 1;
            if (any({Edit::Stamp, Edit::PlainStamp})) {
                job.SetStampFlag(true);
                job.SetStamp("Velmora", nullptr, RGB(255, 255, 0));
            }
            if (any({Edit::Stamp})) {
                job.m_nStampPosition = GRAVITY_CENTER;
                job.m_nStampOpacity = 60;
                job.m_bStampShadow = true;
            }
            // Sharpen goes by row after a shrink; alone it keeps the picture whole.
            ASSERT_EQ(NeedsNoWholePicture(job), !any({Edit::Sharpen}));
            const RowEditsOf rowEdits(job);
            ASSERT_EQ(rowEdits.edits.step != nullptr,
                      any({Edit::Mirror, Edit::MirrorAndTone, Edit::CutAndMirror, Edit::ToneAndBorder}));
            ASSERT_EQ(bool(rowEdits.edits.region), any({Edit::CutAndMirror}));
            ASSERT_EQ(bool(rowEdits.edits.border), any({Edit::ToneAndBorder}));
            ASSERT_EQ(rowEdits.edits.filter != nullptr, any({Edit::Sharpen}));

            const CxDecodeRequest req{.autoOrient = r.autoRotate};
            CxImage whole;
            CxMemFile expected;
            const bool loaded = whole.Load(path.c_str(), CXIMAGE_FORMAT_UNKNOWN, req);
            const int bpp = whole.GetBpp();
            if (loaded) {
                const TransformOutcome t = TransformImage(whole, job);
                ASSERT_FALSE(t.failed);
                ASSERT_EQ(t.stampDrawn, Stamps(job));
                PrepareForOutput(whole, type, job, t.stampDrawn);
                ASSERT_TRUE(expected.Open() && whole.Encode(&expected, type));
            }

            CxImage image;
            CxMemFile out;
            ASSERT_TRUE(out.Open());
            std::string reason;
            const auto prepare = [&](CxImage &picture) {
                // As the run's: a watermarked JPEG at 95.
                picture.SetJpegQuality(Stamps(job) ? BYTE(95) : BYTE(job.m_nQuality));
                return std::string();
            };
            const O got =
                cxstream::Convert(path.c_str(), type, prepare, image, out, reason, req, rowEdits.edits);
            const bool rowsTakeEdit = edit == Edit::None || bpp == 24 ||
                                      (bpp == 8 && (edit == Edit::Mirror || edit == Edit::CutAndMirror));
            ASSERT_EQ(int(got), int((type == CXIMAGE_FORMAT_TIF && r.wholeForTiff) ||
                                            (r.expected == O::Encoded && !rowsTakeEdit)
                                        ? O::Whole
                                        : r.expected));
            if (got == O::DecodeFailed) {
                EXPECT_FALSE(loaded);
                EXPECT_FALSE(reason.empty());
                continue;
            }
            if (got == O::Whole) {
                // As decoded, before any step.
                CxImage plain;
                ASSERT_TRUE(plain.Load(path.c_str(), CXIMAGE_FORMAT_UNKNOWN, req));
                EXPECT_EQ(image.GetWidth(), plain.GetWidth());
                EXPECT_EQ(image.GetHeight(), plain.GetHeight());
                continue;
            }
            EXPECT_FALSE(image.IsValid());
            ASSERT_EQ(out.Size(), expected.Size());
            EXPECT_EQ(0, std::memcmp(out.GetBuffer(false), expected.GetBuffer(false), std::size_t(out.Size())));
        }
    }
    // Every step that works on the whole picture keeps it whole.
    CConvertJob job;
    const std::function<void(CConvertJob &)> steps[] = {
        [](CConvertJob &j) { j.SetResizeFlag(true); },
        [](CConvertJob &j) { j.SetRotateFlag(true); },
        [](CConvertJob &j) { j.m_bSharpen = 1; },
        [](CConvertJob &j) { j.m_edits.tone.autoLevels = true; },
        [](CConvertJob &j) { j.m_edits.flip = FLIP_VERTICAL; },
        [](CConvertJob &j) {
            j.m_edits.border = {4, false}, j.m_edits.borderInside = true;
        },
        [](CConvertJob &j) { j.m_edits.trim = true; },
    };
    for (const auto &step : steps) {
        CConvertJob j = job;
        step(j);
        EXPECT_FALSE(NeedsNoWholePicture(j));
    }
}

// A shrink whose rows go on to the encoder as they are made, with tone,
// sharpen and a border after it, writes the bytes the shrunk picture held
// whole and then stepped writes; so does an enlargement, against the whole
// picture resized; what cannot go so (a box-averaged shrink, fill's cut) is
// told.
TEST(StreamedConversion, ShrunkRowsGoOnWithTheStepsAfterTheShrink)
{
    struct Row {
        const char *source;
        int width; // --resize width
        bool tone, sharpen, border;
    };
    for (const Row &r :
         {Row{"jpeg/baseline.jpg", 40, false, false, false}, Row{"jpeg/baseline.jpg", 33, true, true, true},
          Row{"photo/meta.jpg", 20, false, true, false}, Row{"jpeg/grey.jpg", 30, true, true, false},
          Row{"jpeg/progressive420.jpg", 100, false, false, true},
          Row{"jpeg/baseline.jpg", 109, true, true, true}, Row{"jpeg/grey.jpg", 150, false, false, false},
          Row{"photo/meta.jpg", 45, false, true, false}}) {
        for (const std::uint32_t type : {CXIMAGE_FORMAT_JPG, CXIMAGE_FORMAT_PNG}) {
            SCOPED_TRACE(std::string(r.source) + " at " + std::to_string(r.width) + " to " +
                         FormatByType(type)->name);
            CConvertJob job;
            job.SetQuality(85);
            job.SetResizeFlag(true);
            job.SetResizeType(1); // the width, the height following
            job.SetSize(r.width, 0);
            job.SetSharpen(r.sharpen);
            if (r.tone)
                job.m_edits.tone = {.brightness = -8, .gamma = 1.3, .saturation = 15};
            if (r.border) {
                job.m_edits.border = {3, false};
                job.m_edits.borderColor = RGB(200, 10, 60);
            }
            ASSERT_TRUE(RowsAfterShrink(job));
            const std::string path = DataPath(r.source);

            CxImage held;
            ResampledRows heldRows(ShrinkAsDecodedRule(job, type));
            // (An enlargement is held only as the whole picture, then resized.)
            ASSERT_TRUE(held.LoadRows(path.c_str(), heldRows) &&
                        (held.IsValid() || heldRows.Take(held, true)));
            ASSERT_FALSE(TransformImage(held, job, {}, held.GetSrcWidth(), held.GetSrcHeight()).failed);
            PrepareForOutput(held, type, job, false);
            CxMemFile expected, out;
            ASSERT_TRUE(expected.Open() && held.Encode(&expected, type) && out.Open());

            const RowEditsOf edits(job);
            ResampledRows shrink(ShrinkAsDecodedRule(job, type));
            CxImage image;
            std::string reason;
            const auto prepare = [&](CxImage &picture) {
                picture.SetJpegQuality(BYTE(job.m_nQuality));
                return std::string();
            };
            ASSERT_EQ(int(cxstream::Convert(path.c_str(), type, prepare, image, out, reason, {}, edits.edits,
                                            &shrink)),
                      int(cxstream::Outcome::Encoded))
                << reason;
            ASSERT_EQ(out.Size(), expected.Size());
            EXPECT_EQ(0,
                      std::memcmp(out.GetBuffer(false), expected.GetBuffer(false), std::size_t(out.Size())));
        }
    }
    // Shrunk six times or more, a picture is box-averaged whole first: it
    // comes whole. Fill's cut and a turn keep the shrink's picture held.
    CConvertJob tiny;
    tiny.SetResizeFlag(true);
    tiny.SetResizeType(1); // the width, the height following
    tiny.SetSize(8, 0);
    ResampledRows shrink(ShrinkAsDecodedRule(tiny, CXIMAGE_FORMAT_PNG));
    CxMemFile out;
    ASSERT_TRUE(out.Open());
    CxImage image;
    std::string reason;
    const std::string big = DataPath("jpeg/baseline.jpg");
    const RowEditsOf none(tiny);
    EXPECT_EQ(int(cxstream::Convert(
                  big.c_str(), CXIMAGE_FORMAT_PNG, [](CxImage &) { return std::string(); }, image, out,
                  reason, {}, none.edits, &shrink)),
              int(cxstream::Outcome::Whole));
    for (const std::function<void(CConvertJob &)> &step :
         std::initializer_list<std::function<void(CConvertJob &)>>{
             [](CConvertJob &j) { j.SetResizeType(RESIZE_FILL); },
             [](CConvertJob &j) { j.SetRotateFlag(true); },
             [](CConvertJob &j) { j.m_edits.flip = FLIP_HORIZONTAL; }}) {
        CConvertJob j = tiny;
        step(j);
        EXPECT_FALSE(RowsAfterShrink(j));
    }
}

// A border taller than the band between the threads (a wide picture's band
// holds few rows): its rows go on one by one, never waiting on the encoder
// for rows it was not told of; the same bytes as the whole picture.
TEST(StreamedConversion, ABorderTallerThanTheBandGoesThrough)
{
    ScratchDir dir;
    const std::string path = dir.Path("wide.png");
    ASSERT_TRUE(MakeTestImage(4096, 120).Save(path.c_str(), CXIMAGE_FORMAT_PNG));
    CConvertJob job;
    job.m_edits.border = {100, false};
    job.m_edits.margins = {{EditLength{10, false}, {0, false}, {0, false}, {0, false}}};
    ASSERT_TRUE(NeedsNoWholePicture(job));
    CxImage whole;
    ASSERT_TRUE(whole.Load(path.c_str()));
    ASSERT_FALSE(TransformImage(whole, job).failed);
    PrepareForOutput(whole, CXIMAGE_FORMAT_PNG, job, false);
    CxMemFile expected, out;
    ASSERT_TRUE(expected.Open() && whole.Encode(&expected, CXIMAGE_FORMAT_PNG) && out.Open());
    const RowEditsOf edits(job);
    CxImage image;
    std::string reason;
    ASSERT_EQ(int(cxstream::Convert(path.c_str(), CXIMAGE_FORMAT_PNG, [](CxImage &) { return std::string(); }, image,
                                    out, reason, {}, edits.edits)),
              int(cxstream::Outcome::Encoded))
        << reason;
    ASSERT_EQ(out.Size(), expected.Size());
    EXPECT_EQ(0, std::memcmp(out.GetBuffer(false), expected.GetBuffer(false), std::size_t(out.Size())));
}

// The band between the two threads: rows arrive whole and in order whatever
// its size, and either side giving up releases the other.
TEST(RowBand, RowsArriveInOrderAndEitherSideMayStop)
{
    struct Row {
        int height;
        std::size_t bandBytes;
        int decoderStopsAt; // -1: never
        int encoderStopsAt;
    };
    const Row rows[] = {
        {500, 1, -1, -1},       // sixteen rows, many turns round
        {10, 1, -1, -1},        // fewer rows than the band
        {500, 64 * 40, -1, -1}, // forty rows
        {500, 1, 123, -1},
        {500, 1, -1, 77},
        {500, 1, 0, -1},
    };
    constexpr int kWidth = 64;
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.height) + " " + std::to_string(r.decoderStopsAt) + " " +
                     std::to_string(r.encoderStopsAt));
        CxRowBand band(r.bandBytes);
        int seen = 0;
        bool wrong = false;
        std::thread encoder([&] {
            CxImage *picture = band.WaitBegun();
            if (!picture)
                return;
            for (int y = 0; y < picture->GetHeight(); ++y) {
                if (y == r.encoderStopsAt) {
                    band.Abandon();
                    return;
                }
                if (!band.Arrived(y))
                    return;
                const BYTE *bits = picture->GetBits(y);
                wrong = wrong || std::any_of(bits, bits + kWidth, [&](BYTE b) { return b != BYTE(y * 7); });
                ++seen;
            }
        });
        int written = 0;
        if (r.decoderStopsAt != 0) {
            CxImage *picture = band.Begin(kWidth, r.height, 8, CXIMAGE_FORMAT_PNG, CxMetadata{});
            ASSERT_NE(picture, nullptr);
            for (int y = 0; y < r.height && y != r.decoderStopsAt && band.Room(y); ++y, ++written) {
                std::memset(picture->GetBits(y), y * 7, kWidth);
                band.Filled(y);
            }
        }
        band.Close();
        encoder.join();
        EXPECT_FALSE(wrong);
        if (r.encoderStopsAt >= 0) {
            EXPECT_EQ(seen, r.encoderStopsAt);
            EXPECT_LT(written, r.height); // the decoder was told to stop
            EXPECT_TRUE(band.AbandonedFirst());
        } else {
            EXPECT_EQ(seen, r.decoderStopsAt >= 0 ? r.decoderStopsAt : r.height);
            EXPECT_FALSE(band.AbandonedFirst());
        }
    }
}

// A picture turned through tiles on disk, then cut, toned, shrunk,
// sharpened or framed as its turned rows are read back, writes the bytes
// the whole picture turned and stepped writes: every turn by quarters, with
// flips and the file's own orientation, over rows that end inside a tile.
TEST(StreamedConversion, TurnedOnDiskAsTheWholePictureIsTurned)
{
    ScratchDir dir;
    // 150 x 97 (tiles of 64 overhang both edges): colour with alpha, grey,
    // and a palette.
    const auto made = [&dir](const char *name, int bpp, bool alpha) {
        CxImage img = bpp == 8 ? Paletted(150, 97, std::string(name) == "grey.png") : CxImage();
        if (bpp == 24) {
            img.Create(150, 97, 24);
            img.AlphaCreate();
            for (int y = 0; y < 97; ++y)
                for (int x = 0; x < 150; ++x)
                    img.SetPixelColor(
                        x, y, RGBQUAD{BYTE(x * 3), BYTE(y * 5), BYTE(x ^ y), BYTE(alpha ? x + y : 255)},
                        true);
        }
        const std::string path = dir.Path(name);
        EXPECT_TRUE(img.Save(path.c_str(), CXIMAGE_FORMAT_PNG));
        return path;
    };
    const std::string rgba = made("rgba.png", 24, true), grey = made("grey.png", 8, false),
                      palette = made("palette.png", 8, false);
    // Uniform borders of 11, 19, 5 and 7 pixels (top, right, bottom, left)
    // around colour, for a trim.
    CxImage frame;
    frame.Create(150, 97, 24);
    for (int y = 0; y < 97; ++y)
        for (int x = 0; x < 150; ++x) {
            const bool border = y < 11 || x >= 150 - 19 || y >= 97 - 5 || x < 7;
            frame.SetPixelColor(x, y,
                                border ? RGBQUAD{90, 60, 30, 0} : RGBQUAD{BYTE(x * 3), BYTE(y * 5), 200, 0});
        }
    const std::string framed = dir.Path("framed.png"), framedJpeg = dir.Path("framed.jpg");
    ASSERT_TRUE(frame.Save(framed.c_str(), CXIMAGE_FORMAT_PNG));
    ASSERT_TRUE(frame.Save(framedJpeg.c_str(), CXIMAGE_FORMAT_JPG)); // a JPEG's rows shrink as they come
    struct Row {
        std::string source;
        std::int32_t rotate; // ROTATE_NONE: none
        std::int32_t flip;
        bool autoRotate;
        // c: margins cut, m: trim, t: tone, l: auto-levels, s: shrink and
        // sharpen, e: enlarge, b: border
        const char *edits;
    };
    const std::string orient6 = DataPath("photo/orient6.jpg"), orient7 = DataPath("photo/orient7.png");
    const Row rows[] = {
        {rgba, ROTATE_RIGHT, FLIP_NONE, false, ""},
        {rgba, ROTATE_LEFT, FLIP_VERTICAL, false, "c"},
        {rgba, ROTATE_180, FLIP_HORIZONTAL, false, "cb"},
        {rgba, ROTATE_NONE, FLIP_BOTH, false, "t"},
        {grey, ROTATE_LEFT, FLIP_NONE, false, "c"},
        {grey, ROTATE_RIGHT, FLIP_BOTH, false, ""},
        {palette, ROTATE_180, FLIP_VERTICAL, false, "c"},
        {palette, ROTATE_RIGHT, FLIP_HORIZONTAL, false, ""},
        {orient6, ROTATE_NONE, FLIP_NONE, true, ""},
        {orient6, ROTATE_LEFT, FLIP_HORIZONTAL, true, "ctb"},
        {orient6, ROTATE_RIGHT, FLIP_NONE, false, "s"},
        {orient7, ROTATE_RIGHT, FLIP_VERTICAL, true, "c"},
        {orient7, ROTATE_NONE, FLIP_NONE, true, "tb"},
        {rgba, ROTATE_NONE, FLIP_NONE, false, "l"},
        {orient6, ROTATE_RIGHT, FLIP_VERTICAL, true, "ltb"},
        {framed, ROTATE_RIGHT, FLIP_HORIZONTAL, false, "m"},
        {framedJpeg, ROTATE_180, FLIP_NONE, false, "mts"},
        {orient6, ROTATE_LEFT, FLIP_NONE, true, "eb"},
        {orient7, ROTATE_LEFT, FLIP_NONE, true, "mb"},
        {DataPath("jpeg/baseline.jpg"), ROTATE_LEFT, FLIP_NONE, false, "stb"},
    };
    for (const Row &r : rows) {
        for (const std::uint32_t type : {CXIMAGE_FORMAT_PNG, CXIMAGE_FORMAT_JPG}) {
            SCOPED_TRACE(r.source + " rotate " + std::to_string(r.rotate) + " flip " +
                         std::to_string(r.flip) + " edits " + r.edits + " to " + FormatByType(type)->name);
            const auto has = [&r](char c) { return std::strchr(r.edits, c) != nullptr; };
            CConvertJob job;
            job.SetQuality(85);
            job.m_bAutoRotate = r.autoRotate;
            job.SetRotateFlag(r.rotate != ROTATE_NONE);
            job.SetRotation(r.rotate);
            job.m_edits.flip = r.flip;
            if (has('c'))
                job.m_edits.margins = {{EditLength{10, true}, {5, true}, {20, true}, {15, true}}};
            if (has('t'))
                job.m_edits.tone = {.brightness = 10, .contrast = -5, .gamma = 1.2, .saturation = 20};
            job.m_edits.tone.autoLevels = has('l');
            job.m_edits.trim = has('m');
            if (has('s')) {
                job.SetResizeFlag(true);
                job.SetResizeType(RESIZE_PERCENT);
                job.m_nPercent = 60;
                job.SetSharpen(true);
            }
            if (has('e')) {
                job.SetResizeFlag(true);
                job.SetResizeType(RESIZE_PERCENT);
                job.m_nPercent = 170;
            }
            if (has('b')) {
                job.m_edits.border = {3, false};
                job.m_edits.borderColor = RGB(200, 10, 60);
            }
            ASSERT_TRUE(TurnsOnDisk(job));

            CxImage whole;
            ASSERT_TRUE(whole.Load(r.source.c_str(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = r.autoRotate}));
            const bool colour = whole.GetBpp() == 24;
            ASSERT_FALSE(TransformImage(whole, job, {}, whole.GetSrcWidth(), whole.GetSrcHeight()).failed);
            PrepareForOutput(whole, type, job, false);
            CxMemFile expected, out;
            ASSERT_TRUE(expected.Open() && whole.Encode(&expected, type) && out.Open());

            const CxTurnedRows::Turn turned = TurnOf(job);
            CxTurnedRows turn(dir.Path(""), turned);
            const RowEditsOf edits(job, &turned);
            turn.CountInto(edits.Counts());
            std::optional<ResampledRows> shrink;
            if (has('s') || has('e'))
                shrink.emplace(ShrinkAfterTurnRule(job, type), true);
            CxImage image;
            std::string reason;
            const auto prepare = [&](CxImage &picture) {
                picture.SetJpegQuality(BYTE(job.m_nQuality));
                return std::string();
            };
            const cxstream::Outcome got =
                cxstream::Convert(r.source.c_str(), type, prepare, image, out, reason, {.autoOrient = false},
                                  edits.edits, shrink ? &*shrink : nullptr, &turn);
            // Rows under 24 bits take neither tone nor a border.
            if (!colour && (has('t') || has('l') || has('b') || has('s') || has('e'))) {
                EXPECT_EQ(int(got), int(cxstream::Outcome::Whole));
                continue;
            }
            ASSERT_EQ(int(got), int(cxstream::Outcome::Encoded)) << reason;
            EXPECT_TRUE(turn.Failure().empty());
            ASSERT_EQ(out.Size(), expected.Size());
            EXPECT_EQ(0,
                      std::memcmp(out.GetBuffer(false), expected.GetBuffer(false), std::size_t(out.Size())));
        }
    }
    // Nothing of the store is left in its folder.
    EXPECT_EQ(QDir(QString::fromStdString(dir.Path(""))).entryList(QDir::Files).size(), 5);
    // What the turned rows cannot do keeps the picture whole.
    for (const std::function<void(CConvertJob &)> &step :
         std::initializer_list<std::function<void(CConvertJob &)>>{
             [](CConvertJob &j) { j.m_edits.trim = true, j.m_edits.margins.emplace(); },
             [](CConvertJob &j) { j.m_edits.tone.autoLevels = true, j.m_edits.margins.emplace(); },
             [](CConvertJob &j) { j.m_edits.tone.autoLevels = true, j.m_edits.trim = true; },
             [](CConvertJob &j) { j.m_bSharpen = 1; },
             [](CConvertJob &j) { j.SetResizeFlag(true), j.SetResizeType(RESIZE_FILL); },
             [](CConvertJob &j) {
                 j.SetResizeFlag(true), j.m_edits.crop = EditRegion{0, 0, 5, 5};
             }}) {
        CConvertJob j;
        j.SetRotateFlag(true);
        j.SetRotation(ROTATE_RIGHT);
        ASSERT_TRUE(TurnsOnDisk(j));
        step(j);
        EXPECT_FALSE(TurnsOnDisk(j));
    }
}
