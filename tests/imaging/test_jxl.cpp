#include "imaging/codecs/codecs.h"
#include "tests/test_support.h"
#include "imaging/testhooks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<std::uint8_t> Encoded(CxImage img, int quality)
{
    img.SetJpegQuality(BYTE(quality));
    CxMemFile mem;
    EXPECT_TRUE(mem.Open() && img.Encode(&mem, CXIMAGE_FORMAT_JXL)) << img.GetLastError();
    const std::uint8_t *p = mem.GetBuffer(false);
    return std::vector<std::uint8_t>(p, p + mem.Size());
}

// A bare codestream that stops right after its size and an all-default
// header: the size is all there is to check.
std::vector<std::uint8_t> HeaderOnly(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> d = {0xFF, 0x0A};
    int used = 8;
    auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i, ++used) {
            if (used == 8) {
                d.push_back(0);
                used = 0;
            }
            d.back() |= std::uint8_t(((v >> i) & 1) << used);
        }
    };
    auto side = [&](std::uint32_t v) { // the widest of the four forms
        put(3, 2);
        put(v - 1, 30);
    };
    put(0, 1); // not a multiple of 8
    side(height);
    put(0, 3); // width given
    side(width);
    put(1, 1); // default metadata
    return d;
}

} // namespace

TEST(Jxl, RoundTripsKeepPixelsAndAlpha)
{
    struct Row {
        int quality;
        bool alpha, grey;
        double minPsnr; // 0: lossless
    } rows[] = {
        {100, false, false, 0}, {100, true, false, 0}, {100, false, true, 0},
        {90, false, false, 25}, {90, true, false, 25}, {20, false, false, 15},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.quality << (row.alpha ? " alpha" : "") << (row.grey ? " grey" : ""));
        CxImage src = MakeTestImage(40, 24);
        if (row.grey) {
            ASSERT_TRUE(src.Create(40, 24, 8, CXIMAGE_FORMAT_BMP));
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 40; ++x)
                    src.GetBits(y)[x] = BYTE(x * 6 + y);
        }
        if (row.alpha) {
            ASSERT_TRUE(src.AlphaCreate());
            for (int x = 0; x < 40; ++x)
                src.AlphaGetPointer(5)[x] = BYTE(x * 6);
        }
        const std::vector<std::uint8_t> data = Encoded(src, row.quality);
        CxImage back;
        ASSERT_TRUE(back.Decode(data.data(), data.size())) << back.GetLastError();
        EXPECT_EQ(back.GetType(), CXIMAGE_FORMAT_JXL);
        ASSERT_EQ(back.GetWidth(), 40);
        ASSERT_EQ(back.GetHeight(), 24);
        ASSERT_EQ(back.AlphaIsValid(), row.alpha);
        EXPECT_EQ(back.GetBpp(), row.grey ? 8 : 24);
        if (row.minPsnr == 0) {
            EXPECT_EQ(MaxChannelDiff(back, src), 0);
        } else {
            EXPECT_GT(Psnr(back, src), row.minPsnr);
        }
        for (int x = 0; row.alpha && x < 40; ++x) // lossy files keep alpha lossy too
            EXPECT_NEAR(back.AlphaGetPointer(5)[x], src.AlphaGetPointer(5)[x], row.minPsnr == 0 ? 0 : 8) << x;
    }
}

// cjxl's distances for the qualities it documents.
TEST(Jxl, QualityMapsToDistanceAsCjxlDoes)
{
    const std::pair<int, float> rows[] = {{100, 0.f}, {99, 0.19f}, {90, 1.f},
                                          {30, 6.4f}, {29, 6.5f},  {0, 25.f}};
    for (const auto &[quality, distance] : rows)
        EXPECT_NEAR(cxcodec::JxlDistanceForQuality(quality), distance, 0.05f) << quality;
}

// A JPEG with EXIF orientation 6 transcoded by cjxl: the codestream says
// how the pixels are turned and the EXIF box travels; written again, both
// the turn and the box survive once.
TEST(Jxl, TurnedFileIsShownUprightAndKeepsExif)
{
    const std::vector<std::uint8_t> data = ReadFileBytes(DataPath("jxl/turned.jxl"));
    for (bool autoOrient : {true, false}) {
        CxImage img;
        ASSERT_TRUE(img.Decode(data.data(), data.size(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = autoOrient}))
            << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), autoOrient ? 16 : 24);
        EXPECT_EQ(img.GetOrientation(), autoOrient ? 1 : 6);
        // The box's offset is gone: the block starts with its TIFF header.
        EXPECT_EQ(img.GetMetadata().exif.substr(0, 4), std::string("II*\0", 4));

        const std::vector<std::uint8_t> again = Encoded(img, 90);
        CxImage back;
        ASSERT_TRUE(back.Decode(again.data(), again.size())) << back.GetLastError();
        EXPECT_EQ(back.GetWidth(), 16);
        EXPECT_EQ(back.GetMetadata().exif.size() > 8, true);
        CxImage stored;
        ASSERT_TRUE(stored.Decode(again.data(), again.size(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}));
        EXPECT_EQ(stored.GetOrientation(), autoOrient ? 1 : 6);
    }
}

// Declared sizes past the picture limits are refused from the header;
// damaged files and decoders asking for more memory than allowed fail.
TEST(Jxl, HostileFilesAreRefused)
{
    std::vector<std::uint8_t> cut = Encoded(MakeTestImage(64, 48), 90);
    cut.resize(cut.size() / 2);
    const std::vector<std::uint8_t> whole = Encoded(MakeTestImage(64, 48), 90);
    struct Row {
        const char *name;
        std::vector<std::uint8_t> data;
        std::size_t cap;
        const char *error;
    } rows[] = {
        {"side too long", HeaderOnly(300000, 1), 0, "image too large"},
        {"too many pixels", HeaderOnly(20000, 20000), 0, "image too large"},
        {"size without pixels", HeaderOnly(4000, 4000), 0, "truncated JPEG XL file"},
        {"cut in half", cut, 0, "truncated JPEG XL file"},
        {"over the memory cap", whole, 1024, "out of memory"},
    };
    for (const Row &row : rows) {
        cxcodec::testhooks::SetJxlMemoryCap(row.cap);
        CxImage img;
        EXPECT_FALSE(img.Decode(row.data.data(), row.data.size())) << row.name;
        EXPECT_STREQ(img.GetLastError(), row.error) << row.name;
        EXPECT_FALSE(img.IsValid()) << row.name;
        EXPECT_LT(cxcodec::testhooks::JxlDecodePeakBytes(), std::size_t(64) << 20) << row.name;
    }
    cxcodec::testhooks::SetJxlMemoryCap(0);
}

// Two 24x16 frames of 100 ms looping forever, made by cjxl from a GIF.
TEST(Jxl, AnimationWalksFramesInOrder)
{
    const std::vector<std::uint8_t> data = ReadFileBytes(DataPath("jxl/animated.jxl"));
    CxImage first;
    ASSERT_TRUE(first.Decode(data.data(), data.size())) << first.GetLastError();

    cxcodec::JxlFrameWalker walker;
    std::string error;
    ASSERT_TRUE(walker.Open(data.data(), data.size(), error)) << error;
    EXPECT_EQ(walker.NumFrames(), 2);
    EXPECT_EQ(walker.DurationMs(0), 100);
    EXPECT_EQ(walker.DurationMs(1), 100);
    EXPECT_EQ(walker.Loops(), 0);
    CxImage frames[2];
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(walker.Read(k, frames[k])) << k;
        EXPECT_EQ(frames[k].GetWidth(), 24);
        EXPECT_EQ(frames[k].GetFrameDelay(), 10);
    }
    EXPECT_EQ(MaxChannelDiff(frames[0], first), 0);
    EXPECT_GT(MaxChannelDiff(frames[1], first), 100);
    CxImage again;
    EXPECT_FALSE(walker.Read(0, again)); // the walk goes forward only
}
