#include "imaging/cximage.h"
#include "imaging/imageheader.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

// The headers tell what a whole decode (pixels as stored) reports.
TEST(ImageHeader, EveryFormatsHeaderAgreesWithItsDecode)
{
    const char *const files[] = {
        "jpeg/baseline.jpg",      "jpeg/progressive.jpg", "photo/orient6.jpg",  "photo/adobergb.jpg",
        "photo/orient5.png",      "png/interlaced.png",   "gif/timing.gif",     "gif/dispose.gif",
        "webp/anim-orient6.webp", "webp/exif-icc.webp",   "photo/orient6.webp", "tiff/lzw.tif",
        "tiff/palette.tif",       "photo/orient7.avif",   "avif/alpha.avif",    "photo/orient6.heic",
        "heif/thumb.heic",        "jxl/animated.jxl",     "jxl/turned.jxl",     "bmp/pal8.bmp",
        "bmp/rgb24_os2.bmp",      "pcx/rgb24.pcx",        "pnm/p6.ppm",         "ico/two_sizes.ico",
        "tga/rgb24.tga",
    };
    for (const char *file : files) {
        SCOPED_TRACE(file);
        const std::string path = DataPath(file);
        CxImage whole;
        ASSERT_TRUE(whole.Load(path.c_str(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}))
            << whole.GetLastError();
        ImageHeader h;
        ASSERT_TRUE(ProbeImageHeader(path.c_str(), h));
        EXPECT_EQ(h.type, whole.GetType());
        EXPECT_EQ(ProbeImageType(path.c_str()), h.type);
        EXPECT_EQ(h.width, whole.GetWidth());
        EXPECT_EQ(h.height, whole.GetHeight());
        EXPECT_EQ(h.orientation, whole.GetOrientation());
        EXPECT_EQ(h.frames, whole.GetNumFrames());
        EXPECT_EQ(h.hasProfile, !whole.GetMetadata().icc.empty());
    }
}

TEST(ImageHeader, DamagedOrForeignFilesAreRefused)
{
    ScratchDir dir;
    const Bytes jpeg = ReadFileBytes(DataPath("jpeg/baseline.jpg"));
    const struct {
        const char *name;
        Bytes bytes;
    } rows[] = {
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}},
        {"jpeg cut before its frame", Bytes(jpeg.begin(), jpeg.begin() + 20)},
        {"png signature alone", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(WriteFileBytes(dir.Path("f"), row.bytes));
        ImageHeader h;
        EXPECT_FALSE(ProbeImageHeader(dir.Path("f").c_str(), h));
        EXPECT_EQ(h.width, 0);
    }
    ImageHeader h;
    EXPECT_FALSE(ProbeImageHeader(dir.Path("missing").c_str(), h));
    EXPECT_FALSE(ProbeImageHeader(dir.Path("").c_str(), h)); // a folder
    EXPECT_EQ(ProbeImageType(dir.Path("").c_str()), 0u);
}

// A JPEG taken into a document as it is: whole from its start to its end
// marker, at least one scan, nothing garbled between the segments.
TEST(ImageHeader, JpegRunsWholeOnlyWhenItsSegmentsDo)
{
    ScratchDir dir;
    ASSERT_TRUE(MakeTexturedImage(40, 30).Save(dir.Path("a.jpg").c_str(), CXIMAGE_FORMAT_JPG));
    const std::vector<std::uint8_t> whole = ReadFileBytes(dir.Path("a.jpg"));
    ASSERT_GT(whole.size(), 200u);
    const auto cut = [&](std::size_t n) { return std::vector<std::uint8_t>(whole.begin(), whole.end() - long(n)); };
    std::vector<std::uint8_t> garbled = whole, noScan = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xD9};
    garbled[4] = 0x00; // the first segment's length: runs on into pixels
    garbled[5] = 0x03;
    std::vector<std::uint8_t> filled = whole;
    filled.insert(filled.begin() + 2, {0xFF, 0xFF}); // fill bytes before a marker are allowed
    const struct {
        std::vector<std::uint8_t> bytes;
        bool whole;
    } rows[] = {
        {whole, true}, {filled, true}, {cut(2), false}, {cut(whole.size() / 2), false},
        {garbled, false}, {noScan, false}, {{0xFF, 0xD8}, false}, {{}, false},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(JpegRunsWhole(rows[i].bytes.data(), rows[i].bytes.size()), rows[i].whole) << "row " << i;
}
