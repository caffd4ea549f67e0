#include "imaging/cximage.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<std::uint8_t> Encoded(CxImage img, int quality)
{
    img.SetJpegQuality(BYTE(quality));
    CxMemFile mem;
    EXPECT_TRUE(mem.Open() && img.Encode(&mem, CXIMAGE_FORMAT_WEBP)) << img.GetLastError();
    std::vector<std::uint8_t> data(std::size_t(mem.Size()));
    mem.Seek(0, SEEK_SET);
    mem.Read(data.data(), 1, data.size());
    return data;
}

// A still WebP with the given chunks added, written with libwebp's muxer.
std::vector<std::uint8_t> WithChunks(const std::vector<std::uint8_t> &still, const std::string &exif,
                                     const std::string &icc)
{
    WebPMux *mux = WebPMuxNew();
    const WebPData image{still.data(), still.size()};
    const WebPData exifData{reinterpret_cast<const std::uint8_t *>(exif.data()), exif.size()};
    const WebPData iccData{reinterpret_cast<const std::uint8_t *>(icc.data()), icc.size()};
    WebPData out{};
    const bool ok = mux && WebPMuxSetImage(mux, &image, 1) == WEBP_MUX_OK &&
                    WebPMuxSetChunk(mux, "EXIF", &exifData, 1) == WEBP_MUX_OK &&
                    WebPMuxSetChunk(mux, "ICCP", &iccData, 1) == WEBP_MUX_OK &&
                    WebPMuxAssemble(mux, &out) == WEBP_MUX_OK;
    WebPMuxDelete(mux);
    EXPECT_TRUE(ok);
    std::vector<std::uint8_t> bytes(out.bytes, out.bytes + out.size);
    WebPDataClear(&out);
    return bytes;
}

// An animated file's header alone: the canvas is all that is declared.
std::vector<std::uint8_t> AnimatedHeader(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> d = {'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W',  'E', 'B', 'P',
                                   'V', 'P', '8', 'X', 10, 0, 0, 0, 0x02, 0,   0,   0};
    for (std::uint32_t v : {width - 1, height - 1})
        for (int i = 0; i < 3; ++i)
            d.push_back(std::uint8_t(v >> (8 * i)));
    return d;
}

} // namespace

TEST(Webp, RoundTripsKeepPixelsAndAlpha)
{
    struct Row {
        int quality;
        bool alpha;
        double minPsnr; // 0: lossless
    } rows[] = {
        {100, false, 0},
        {100, true, 0},
        {90, false, 22},
        {90, true, 22},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.quality << (row.alpha ? " alpha" : ""));
        CxImage src = MakeTestImage(40, 24);
        if (row.alpha) {
            ASSERT_TRUE(src.AlphaCreate());
            for (int x = 0; x < 40; ++x)
                src.AlphaGetPointer(5)[x] = BYTE(x * 6);
        }
        const std::vector<std::uint8_t> data = Encoded(src, row.quality);
        CxImage back;
        ASSERT_TRUE(back.Decode(data.data(), data.size())) << back.GetLastError();
        EXPECT_EQ(back.GetType(), CXIMAGE_FORMAT_WEBP);
        ASSERT_EQ(back.GetWidth(), 40);
        ASSERT_EQ(back.GetHeight(), 24);
        ASSERT_EQ(back.AlphaIsValid(), row.alpha);
        if (row.minPsnr == 0) {
            for (int y = 0; y < 24; ++y)
                ASSERT_EQ(std::memcmp(back.GetBits(y), src.GetBits(y), 40 * 3), 0) << y;
        } else {
            EXPECT_GT(Psnr(back, src), row.minPsnr);
        }
        if (row.alpha) {
            EXPECT_EQ(std::memcmp(back.AlphaGetPointer(5), src.AlphaGetPointer(5), 40), 0);
        }
    }
}

TEST(Webp, KeepsExifAndProfileAndTurnsUpright)
{
    // IFD0 with Orientation 6 (turn right).
    const std::string exif("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    const std::string icc(200, '\x2a');
    const std::vector<std::uint8_t> data = WithChunks(Encoded(MakeTestImage(40, 24), 100), exif, icc);
    for (bool autoOrient : {true, false}) {
        CxImage img;
        ASSERT_TRUE(img.Decode(data.data(), data.size(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = autoOrient}))
            << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), autoOrient ? 24 : 40);
        EXPECT_EQ(img.GetOrientation(), autoOrient ? 1 : 6);
        EXPECT_EQ(img.GetMetadata().exif, exif);
        EXPECT_EQ(img.GetMetadata().icc, icc);
    }
}

TEST(Webp, SizeHintDecodesSmaller)
{
    const std::vector<std::uint8_t> data = Encoded(MakeTestImage(64, 32), 90);
    CxImage img;
    ASSERT_TRUE(
        img.Decode(data.data(), data.size(), CXIMAGE_FORMAT_UNKNOWN, {.hintWidth = 8, .hintHeight = 6}));
    EXPECT_EQ(img.GetWidth(), 12); // 6 / 32 of each side
    EXPECT_EQ(img.GetHeight(), 6);
    EXPECT_EQ(img.GetSrcWidth(), 64);
    EXPECT_EQ(img.GetSrcHeight(), 32);
}

// Declared sizes past the picture limits are refused from the header, before
// any pixel memory is asked for; damaged files fail.
TEST(Webp, HostileFilesAreRefused)
{
    std::vector<std::uint8_t> cut = Encoded(MakeTestImage(40, 24), 90);
    cut.resize(cut.size() / 2);
    struct Row {
        const char *name;
        std::vector<std::uint8_t> data;
        const char *error;
    } rows[] = {
        {"side too long", AnimatedHeader(300000, 1), "image too large"},
        {"too many pixels", AnimatedHeader(20000, 20000), "image too large"},
        {"largest canvas", AnimatedHeader(1u << 24, 1u << 24), "cannot decode WebP"},
        {"cut in half", cut, "truncated WebP file"},
    };
    for (const Row &row : rows) {
        CxImage img;
        EXPECT_FALSE(img.Decode(row.data.data(), row.data.size())) << row.name;
        EXPECT_STREQ(img.GetLastError(), row.error) << row.name;
        EXPECT_FALSE(img.IsValid()) << row.name;
    }
}
