// AVIF written and read through libavif, HEIF read through libheif: quality,
// alpha, a HEIF file's own thumbnail, and files that lie about their size.
#include "imaging/cximage.h"
#include "tests/test_support.h"
#include "imaging/thumbnail.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<std::uint8_t> EncodedAvif(CxImage img, int quality)
{
    img.SetJpegQuality(BYTE(quality));
    CxMemFile mem;
    EXPECT_TRUE(mem.Open() && img.Encode(&mem, CXIMAGE_FORMAT_AVIF)) << img.GetLastError();
    const std::uint8_t *p = mem.GetBuffer(false);
    return std::vector<std::uint8_t>(p, p + mem.Size());
}

// The file with every ispe box (the stored size of an item) claiming w x h.
std::vector<std::uint8_t> ClaimingSize(std::vector<std::uint8_t> d, std::uint32_t w, std::uint32_t h)
{
    int found = 0;
    for (std::size_t at = 0; at + 16 <= d.size(); ++at)
        if (std::memcmp(&d[at], "ispe", 4) == 0) {
            for (int i = 0; i < 4; ++i) {
                d[at + 8 + std::size_t(i)] = std::uint8_t(w >> (24 - 8 * i));
                d[at + 12 + std::size_t(i)] = std::uint8_t(h >> (24 - 8 * i));
            }
            ++found;
        }
    EXPECT_GT(found, 0);
    return d;
}

} // namespace

// Quality 100 is lossless; lower qualities cost detail and bytes. The alpha
// plane is kept exactly at every quality.
TEST(Avif, QualityMapsToQuantizersAndAlphaStaysExact)
{
    CxImage src = MakeTestImage(48, 32);
    ASSERT_TRUE(src.AlphaCreate());
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            src.AlphaGetPointer(y)[x] = BYTE(x * 5 + y);
    struct Row {
        int quality;
        double minPsnr; // 0: the very pixels
        double maxPsnr;
    } rows[] = {{100, 0, 0}, {95, 45, 99}, {75, 28, 45}, {20, 20, 30}};
    std::size_t previous = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.quality);
        const std::vector<std::uint8_t> data = EncodedAvif(src, row.quality);
        if (row.minPsnr != 0) {
            EXPECT_TRUE(previous == 0 || data.size() < previous);
            previous = data.size();
        }
        CxImage back;
        ASSERT_TRUE(back.Decode(data.data(), data.size())) << back.GetLastError();
        EXPECT_EQ(back.GetType(), CXIMAGE_FORMAT_AVIF);
        ASSERT_EQ(back.GetWidth(), 48);
        ASSERT_TRUE(back.AlphaIsValid());
        for (int y = 0; y < 32; ++y)
            ASSERT_EQ(std::memcmp(back.AlphaGetPointer(y), src.AlphaGetPointer(y), 48), 0) << y;
        if (row.minPsnr == 0) {
            EXPECT_EQ(MaxChannelDiff(back, src), 0);
        } else {
            EXPECT_GT(Psnr(back, src), row.minPsnr);
            EXPECT_LT(Psnr(back, src), row.maxPsnr);
        }
    }
}

// Files written by avifenc and heif-enc; a HEIF file's own thumbnail stands
// in when it covers the size asked for.
TEST(AvifHeif, ToolFilesDecodeWithAlphaAndThumbnails)
{
    struct Row {
        const char *file;
        int hintW, hintH;
        int width, height;
        bool alpha;
    } rows[] = {
        {"avif/alpha.avif", 0, 0, 24, 16, true},  {"heif/alpha.heic", 0, 0, 24, 16, true},
        {"heif/thumb.heic", 0, 0, 32, 16, false}, {"heif/thumb.heic", 8, 4, 8, 4, false},
        {"heif/thumb.heic", 6, 0, 8, 4, false},   {"heif/thumb.heic", 16, 8, 32, 16, false},
    };
    const CxImage reference = [] {
        CxImage img;
        img.Load(DataPath("photo/orient1.png").c_str());
        return img;
    }();
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.file << " hint " << row.hintW << "x" << row.hintH);
        CxImage img;
        ASSERT_TRUE(img.Load(DataPath(row.file).c_str(), CXIMAGE_FORMAT_UNKNOWN,
                             {.hintWidth = row.hintW, .hintHeight = row.hintH}))
            << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), row.width);
        EXPECT_EQ(img.GetHeight(), row.height);
        EXPECT_EQ(img.GetSrcWidth(), row.width == 8 ? 32 : row.width);
        EXPECT_EQ(img.AlphaIsValid(), row.alpha);
        if (row.alpha) {
            // The ramp: opaque at the right, nearly clear at the left.
            EXPECT_GT(img.AlphaGetPointer(8)[23], 240);
            EXPECT_LT(img.AlphaGetPointer(8)[0], 60);
        } else {
            CxImage scaled = reference;
            ASSERT_TRUE(scaled.Resample(row.width, row.height));
            EXPECT_GT(Psnr(img, scaled), 20);
        }
    }
}

// Sizes past the picture limits are refused before pixel memory is asked
// for; damaged files fail.
TEST(AvifHeif, HostileFilesAreRefused)
{
    const std::vector<std::uint8_t> avif = ReadFileBytes(DataPath("avif/alpha.avif"));
    const std::vector<std::uint8_t> heif = ReadFileBytes(DataPath("heif/thumb.heic"));
    struct Row {
        const char *name;
        std::vector<std::uint8_t> data;
        const char *error;
    } rows[] = {
        {"avif cut", {avif.begin(), avif.begin() + std::ptrdiff_t(avif.size() / 2)}, "truncated AVIF file"},
        {"heif cut", {heif.begin(), heif.begin() + std::ptrdiff_t(heif.size() / 2)}, "cannot decode HEIF"},
        {"avif side too long", ClaimingSize(avif, 300000, 1), "image too large"},
        {"avif too many pixels", ClaimingSize(avif, 20000, 20000), "image too large"},
        // libavif would scale the 24 x 16 picture to the declared size.
        {"avif larger than coded", ClaimingSize(avif, 16384, 16384),
         "AVIF image size does not match its data"},
        {"avif smaller than coded", ClaimingSize(avif, 12, 8), "AVIF image size does not match its data"},
        {"heif side too long", ClaimingSize(heif, 300000, 1), "image too large"},
        {"heif too many pixels", ClaimingSize(heif, 20000, 20000), "image too large"},
        // A thumbnail grid whose descriptor asks for 26228 x 31088 while its
        // ispe says 8 x 4 (found by fuzzing).
        {"heif grid canvas", ReadFileBytes(DataPath("../fuzz/corpus/heif/grid-larger-than-limits.heic")),
         "image too large"},
    };
    for (const Row &row : rows) {
        CxImage img;
        EXPECT_FALSE(img.Decode(row.data.data(), row.data.size())) << row.name;
        EXPECT_FALSE(img.IsValid()) << row.name;
        EXPECT_STREQ(img.GetLastError(), row.error) << row.name;
    }
    // The thumbnails refuse a scaled-up claim the same way.
    ScratchDir dir;
    const std::string path = dir.Path("claims.avif");
    ASSERT_TRUE(WriteFileBytes(path, ClaimingSize(avif, 16384, 16384)));
    QImage card;
    EXPECT_FALSE(MakeThumbnail(path, CXIMAGE_FORMAT_AVIF, card).valid);
}
