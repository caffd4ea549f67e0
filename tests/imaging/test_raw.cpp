#include "imaging/cximage.h"
#include "imaging/imageheader.h"
#include "imaging/thumbnail.h"
#include "tests/dng_maker.h"
#include "tests/test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

std::vector<std::uint8_t> MadeDng(const ScratchDir &dir, const DngPlan &plan = {}, const char *name = "a.dng")
{
    const std::string path = dir.Path(name);
    EXPECT_TRUE(WriteDng(path, plan));
    return ReadFileBytes(path);
}

// The mean of a patch's middle, where demosaicing sees only the patch.
RGBQUAD PatchMiddle(const CxImage &img, int column, int row, int columns, int rows)
{
    const int w = img.GetWidth() / columns, h = img.GetHeight() / rows;
    int sum[3] = {};
    int n = 0;
    for (int y = row * h + h / 4; y < (row + 1) * h - h / 4; ++y)
        for (int x = column * w + w / 4; x < (column + 1) * w - w / 4; ++x, ++n) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            sum[0] += c.rgbRed;
            sum[1] += c.rgbGreen;
            sum[2] += c.rgbBlue;
        }
    return RGBQUAD{BYTE(sum[2] / n), BYTE(sum[1] / n), BYTE(sum[0] / n), 0};
}

} // namespace

// The camera's white balance and colour matrix take each patch to its sRGB
// value: the neutral of 0.5, 1, 0.8 leaves grey grey only once undone.
TEST(CameraRaw, MadeDngDevelopsToItsChart)
{
    ScratchDir dir;
    const DngPlan plan;
    const std::vector<std::uint8_t> bytes = MadeDng(dir, plan);
    CxImage img;
    ASSERT_TRUE(img.Decode(bytes.data(), bytes.size())) << img.GetLastError();
    EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_RAW);
    ASSERT_EQ(img.GetWidth(), plan.width);
    ASSERT_EQ(img.GetHeight(), plan.height);
    EXPECT_EQ(img.GetBpp(), 24);
    constexpr int kTolerance = 6;
    const int rows = int(plan.patches.size()) / plan.patchColumns;
    for (std::size_t i = 0; i < plan.patches.size(); ++i) {
        const RGBQUAD got =
            PatchMiddle(img, int(i) % plan.patchColumns, int(i) / plan.patchColumns, plan.patchColumns, rows);
        const auto &want = plan.patches[i];
        SCOPED_TRACE("patch " + std::to_string(i));
        EXPECT_NEAR(got.rgbRed, SrgbByte(want[0]), kTolerance);
        EXPECT_NEAR(got.rgbGreen, SrgbByte(want[1]), kTolerance);
        EXPECT_NEAR(got.rgbBlue, SrgbByte(want[2]), kTolerance);
    }
}

// DNG is TIFF in form: it is the RAW row's by its DNGVersion tag and its
// extension, while a plain TIFF stays TIF; raw files with signatures of
// their own are found by them.
TEST(CameraRaw, TypeDetectionTellsRawFromTiff)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> dng = MadeDng(dir),
                                    previewed =
                                        MadeDng(dir, {.previewWidth = 16, .previewHeight = 8}, "p.dng");
    CxImage tiff = MakeTestImage(8, 8);
    ASSERT_TRUE(tiff.Save(dir.Path("t.tif").c_str(), CXIMAGE_FORMAT_TIF));
    const std::vector<std::uint8_t> plain = ReadFileBytes(dir.Path("t.tif"));
    const auto bytes = [](const char *s, std::size_t n) {
        std::vector<std::uint8_t> v(s, s + n);
        v.resize(64);
        return v;
    };
    const struct {
        const char *what;
        std::vector<std::uint8_t> data;
        std::uint32_t type;
    } rows[] = {
        {"DNG", dng, CXIMAGE_FORMAT_RAW},
        {"DNG, mosaic in a sub directory", previewed, CXIMAGE_FORMAT_RAW},
        {"TIFF", plain, CXIMAGE_FORMAT_TIF},
        {"TGA, which has no signature", ReadFileBytes(DataPath("tga/rgb24.tga")), CXIMAGE_FORMAT_TGA},
        {"CR2", bytes("II*\0\x10\0\0\0CR\x02\0", 12), CXIMAGE_FORMAT_RAW},
        {"ORF", bytes("IIRO\x08\0\0\0", 8), CXIMAGE_FORMAT_RAW},
        {"RW2", bytes("IIU\0\x08\0\0\0", 8), CXIMAGE_FORMAT_RAW},
        {"RAF", bytes("FUJIFILMCCD-RAW ", 16), CXIMAGE_FORMAT_RAW},
        {"MRW", bytes("\0MRM\0\0\0\x10", 8), CXIMAGE_FORMAT_RAW},
        {"CR3",
         bytes("\0\0\0\x18"
               "ftypcrx \0\0\0\x01",
               16),
         CXIMAGE_FORMAT_RAW},
        {"CRW", bytes("II\x1a\0\0\0HEAPCCDR", 14), CXIMAGE_FORMAT_RAW},
    };
    for (const auto &r : rows)
        EXPECT_EQ(CxImage::DetectFormat(r.data.data(), r.data.size()), r.type) << r.what;
    for (const char *ext : {"dng", "cr2", "cr3", "nef", "nrw", "arw", "sr2", "raf", "orf", "rw2", "pef",
                            "srw", "3fr", "iiq", "erf", "kdc", "mrw"})
        EXPECT_EQ(TypeFromExtension(ext), CXIMAGE_FORMAT_RAW) << ext;
}

// LibRaw's flip is the picture's orientation: turned upright on request,
// otherwise reported, and the header probe says it without unpacking; a
// small enough target takes the half-size decode.
TEST(CameraRaw, FlipIsTheOrientationAndSmallTargetsDecodeAtHalfSize)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> bytes = MadeDng(dir, {.orientation = 6});
    const struct {
        bool autoOrient;
        int hintW, hintH, width, height, orientation;
    } rows[] = {
        {true, 0, 0, 64, 96, 1},    {false, 0, 0, 96, 64, 6},
        {true, 32, 48, 32, 48, 1}, // half covers it (upright terms)
        {true, 33, 48, 64, 96, 1}, // half would not
        {false, 48, 32, 48, 32, 6},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.hintW) + "x" + std::to_string(r.hintH) +
                     (r.autoOrient ? " upright" : ""));
        CxImage img;
        ASSERT_TRUE(img.Decode(bytes.data(), bytes.size(), 0,
                               {.hintWidth = r.hintW, .hintHeight = r.hintH, .autoOrient = r.autoOrient}))
            << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), r.width);
        EXPECT_EQ(img.GetHeight(), r.height);
        EXPECT_EQ(img.GetOrientation(), r.orientation);
    }
    ImageHeader h;
    ASSERT_TRUE(ProbeImageHeader(bytes.data(), bytes.size(), h));
    EXPECT_EQ(h.type, CXIMAGE_FORMAT_RAW);
    EXPECT_EQ(h.width, 96);
    EXPECT_EQ(h.height, 64);
    EXPECT_EQ(h.orientation, 6);
}

// The camera's preview stands in for a thumbnail when it covers the size
// asked and the request allows it; a run always develops the sensor data.
TEST(CameraRaw, EmbeddedPreviewOnlyWhereAllowedAndLargeEnough)
{
    ScratchDir dir;
    const DngPlan plan{.width = 320,
                       .height = 240,
                       .patches = {{0.2, 0.2, 0.2}},
                       .patchColumns = 1,
                       .previewWidth = 160,
                       .previewHeight = 120};
    const std::vector<std::uint8_t> bytes = MadeDng(dir, plan);
    const struct {
        bool allowed;
        int hintW, hintH;
        bool preview;
    } rows[] = {
        {true, 96, 72, true},   {true, 160, 120, true}, {true, 161, 120, false}, // larger than the preview
        {false, 96, 72, false},                                                  // a run's decode
        {true, 0, 0, false},                                                     // full size asked
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.hintW) + "x" + std::to_string(r.hintH) + (r.allowed ? " allowed" : ""));
        CxImage img;
        ASSERT_TRUE(img.Decode(bytes.data(), bytes.size(), 0,
                               {.hintWidth = r.hintW, .hintHeight = r.hintH, .embeddedPreview = r.allowed}))
            << img.GetLastError();
        const RGBQUAD c = img.GetPixelColor(img.GetWidth() / 2, img.GetHeight() / 2);
        EXPECT_EQ(c.rgbRed == 255 && c.rgbGreen == 0 && c.rgbBlue == 255, r.preview);
        EXPECT_EQ(img.GetSrcWidth(), 320);
        EXPECT_EQ(img.GetSrcHeight(), 240);
    }
    QImage thumb;
    ASSERT_TRUE(WriteFileBytes(dir.Path("b.dng"), bytes));
    ASSERT_TRUE(MakeThumbnail(dir.Path("b.dng"), CXIMAGE_FORMAT_RAW, thumb, nullptr, true).valid);
    EXPECT_EQ(thumb.pixel(kThumbWidth / 2, kThumbHeight / 2), qRgb(255, 0, 255));
}

// A hostile file is refused with its reason before LibRaw unpacks anything
// of its declared size.
TEST(CameraRaw, HostileFilesAreRefused)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> dng = MadeDng(dir);
    std::vector<std::uint8_t> half = dng;
    half.resize(half.size() / 2);
    const struct {
        const char *what;
        std::vector<std::uint8_t> data;
        const char *why;
    } rows[] = {
        {"declared 60000 x 60000", WithDeclaredSize(dng, 60000, 60000), "image too large"},
        {"samples past the end", WithStripPastEnd(dng, 100), "damaged camera raw file"},
        {"cut in half", half, nullptr},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_FALSE(r.data.empty());
        CxImage img;
        EXPECT_FALSE(img.Decode(r.data.data(), r.data.size()));
        EXPECT_FALSE(img.IsValid());
        if (r.why) {
            EXPECT_STREQ(img.GetLastError(), r.why);
        }
        ImageHeader h;
        if (r.why && std::string(r.why) == "image too large") {
            EXPECT_FALSE(ProbeImageHeader(r.data.data(), r.data.size(), h));
        }
    }
}
