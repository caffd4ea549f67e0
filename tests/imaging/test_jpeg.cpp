#include "tests/imaging/jpeg_png_tiff_helpers.h"
#include "imaging/codecs/codecs.h"
#include "imaging/testhooks.h"
#include "imaging/thumbnail.h"

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include <QImage>

using namespace codectest;
using namespace testsupport;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The picture as a four-channel JPEG written with libjpeg itself: plain CMYK
// without an Adobe marker, or Adobe-style with inverted inks.
Bytes WriteCmykJpeg(const CxImage &src, bool adobe)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buf = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&cinfo, &buf, &len);
    cinfo.image_width = JDIMENSION(src.GetWidth());
    cinfo.image_height = JDIMENSION(src.GetHeight());
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    cinfo.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(src.GetWidth()) * 4);
    for (int y = 0; y < src.GetHeight(); ++y) {
        for (int x = 0; x < src.GetWidth(); ++x) {
            const RGBQUAD c = src.GetPixelColor(x, y);
            const int k = 255 - std::max({c.rgbRed, c.rgbGreen, c.rgbBlue});
            const int cmyk[4] = {c.rgbRed, c.rgbGreen, c.rgbBlue, -1};
            for (int i = 0; i < 4; ++i) {
                const int ink = i == 3 ? k : k == 255 ? 0 : (255 - cmyk[i] - k) * 255 / (255 - k);
                row[std::size_t(x) * 4 + std::size_t(i)] = JSAMPLE(adobe ? 255 - ink : ink);
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buf, buf + len);
    std::free(buf);
    return out;
}

std::size_t FindMarker(const Bytes &b, std::uint8_t code)
{
    for (std::size_t i = 2; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == code)
            return i;
    return std::string::npos;
}

// Components in the baseline frame header.
int FrameComponents(const Bytes &b)
{
    const std::size_t sof = FindMarker(b, 0xC0);
    return sof == std::string::npos || sof + 9 >= b.size() ? -1 : b[sof + 9];
}

// Means of block x block squares: what a reduced decode should look like.
CxImage BlockAverage(const CxImage &src, int block)
{
    CxImage out;
    EXPECT_TRUE(out.Create(src.GetWidth() / block, src.GetHeight() / block, 24));
    for (int by = 0; by < out.GetHeight(); ++by) {
        for (int bx = 0; bx < out.GetWidth(); ++bx) {
            int sum[3] = {};
            for (int i = 0; i < block * block; ++i) {
                const RGBQUAD c = src.GetPixelColor(bx * block + i % block, by * block + i / block);
                sum[0] += c.rgbBlue, sum[1] += c.rgbGreen, sum[2] += c.rgbRed;
            }
            const int n = block * block;
            out.SetPixelColor(bx, by, RGBQUAD{BYTE(sum[0] / n), BYTE(sum[1] / n), BYTE(sum[2] / n), 255});
        }
    }
    return out;
}

}  // namespace

TEST(JpegDecode, FixturesMatchTheirTemplates)
{
    const CxImage t = LoadFixture("png/template.png");
    for (const char *name : {"jpeg/baseline.jpg", "jpeg/progressive.jpg"}) {
        const CxImage img = LoadFixture(name, CXIMAGE_FORMAT_PNG);  // mislabelled on purpose
        EXPECT_EQ(img.GetType(), CXIMAGE_FORMAT_JPG);
        EXPECT_EQ(img.GetBpp(), 24) << name;
        EXPECT_GE(Psnr(img, t), 40.0) << name;  // quality 90
        EXPECT_LE(MaxChannelDiff(img, t), 16) << name;
    }
    const CxImage grey = LoadFixture("jpeg/grey.jpg");
    EXPECT_EQ(grey.GetBpp(), 8);
    ASSERT_EQ(grey.GetNumColors(), 256);
    for (int i = 0; i < 256; i += 15)
        EXPECT_EQ(grey.GetPaletteColor(i), (RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0}));
    EXPECT_GE(Psnr(grey, LoadFixture("png/grey_template.png")), 46.0);
}

TEST(JpegDecode, FourChannelFilesGiveTheRightColours)
{
    const CxImage t = LoadFixture("png/template.png");
    // ImageMagick's CMYK file is Adobe-inverted YCCK.
    EXPECT_GE(Psnr(LoadFixture("jpeg/cmyk_adobe.jpg"), t), 42.0);
    for (bool adobe : {false, true}) {
        const Bytes bytes = WriteCmykJpeg(t, adobe);
        ASSERT_EQ(FrameComponents(bytes), 4);
        EXPECT_GE(Psnr(Decoded(bytes), t), 45.0) << (adobe ? "Adobe CMYK" : "plain CMYK");
    }
}

TEST(JpegDecode, ReducedDecodeCoversTheHintAndKeepsTheSourceSize)
{
    const Bytes bytes = FixtureBytes("jpeg/baseline.jpg");
    struct Case {
        int hintW, hintH, w, h;
    };
    for (const Case c : {Case{0, 0, 64, 48}, Case{16, 12, 16, 12}, Case{17, 12, 32, 24}, Case{16, 13, 32, 24},
                         Case{1, 1, 8, 6}, Case{16, 0, 16, 12}, Case{0, 25, 64, 48}, Case{500, 500, 64, 48}}) {
        SCOPED_TRACE(testing::Message() << "hint " << c.hintW << "x" << c.hintH);
        CxImage img;
        ASSERT_TRUE(DecodeBytes(bytes, img, {.hintWidth = c.hintW, .hintHeight = c.hintH}));
        EXPECT_EQ(img.GetWidth(), c.w);
        EXPECT_EQ(img.GetHeight(), c.h);
        EXPECT_EQ(img.GetSrcWidth(), 64);
        EXPECT_EQ(img.GetSrcHeight(), 48);
    }

    // Sizes that do not divide round up, still covering the hint.
    CxImage odd = MakeTestImage(100, 75);
    CxImage small;
    ASSERT_TRUE(
        DecodeBytes(EncodeBytes(odd, CXIMAGE_FORMAT_JPG), small, {.hintWidth = 13, .hintHeight = 10}));
    EXPECT_EQ(small.GetWidth(), 13);
    EXPECT_EQ(small.GetHeight(), 10);
    EXPECT_EQ(small.GetSrcWidth(), 100);

    // The reduced picture looks like the template averaged in blocks, for
    // progressive and greyscale files too.
    CxImage eighth, grey;
    ASSERT_TRUE(DecodeBytes(FixtureBytes("jpeg/progressive.jpg"), eighth, {.hintWidth = 8, .hintHeight = 6}));
    EXPECT_GE(Psnr(eighth, BlockAverage(LoadFixture("png/template.png"), 8)), 44.0);
    ASSERT_TRUE(DecodeBytes(FixtureBytes("jpeg/grey.jpg"), grey, {.hintWidth = 16, .hintHeight = 12}));
    EXPECT_EQ(grey.GetBpp(), 8);
    EXPECT_GE(Psnr(grey, BlockAverage(LoadFixture("png/grey_template.png"), 4)), 46.0);
}

// A progressive file's AC scans are read by our own decoder, and at 1/8
// scale those of components whose blocks become single pixels are left out.
// Every route gives libjpeg's pixels, whatever the subsampling, scan script
// or restart intervals, and a damaged or cut file fails or shows exactly
// what libjpeg alone makes of it.
TEST(JpegDecode, ProgressiveFilesDecodeAsLibjpegAloneDecodesThem)
{
    struct Route {
        bool ownAc, trim, pdep = true;
    };
    const auto decode = [](const Bytes &bytes, int hintW, bool cut, Route r, CxImage &out) {
        cxcodec::testhooks::SetJpegOwnAcScans(r.ownAc);
        cxcodec::testhooks::SetJpegTrimScans(r.trim);
        cxcodec::testhooks::SetJpegPdep(r.pdep);
        const bool ok = DecodeBytes(bytes, out, {.hintWidth = hintW, .acceptTruncated = cut});
        cxcodec::testhooks::SetJpegOwnAcScans(true);
        cxcodec::testhooks::SetJpegTrimScans(true);
        cxcodec::testhooks::SetJpegPdep(true);
        return ok;
    };
    // Damage: none, a byte flipped at a share of the file, or the file cut there.
    struct Damage {
        int percent;
        bool cut;
    };
    for (const char *file :
         {"jpeg/progressive.jpg", "jpeg/progressive420.jpg", "jpeg/progressive_restart.jpg"}) {
        for (const int hintW : {0, 40, 8}) {
            for (const Damage dmg :
                 {Damage{0, false}, Damage{35, false}, Damage{55, false}, Damage{75, false},
                  Damage{90, false}, Damage{60, true}, Damage{97, true}}) {
                SCOPED_TRACE(testing::Message() << file << " width " << hintW << " damage " << dmg.percent
                                                << (dmg.cut ? " cut" : ""));
                Bytes bytes = FixtureBytes(file);
                const std::size_t at = bytes.size() * std::size_t(dmg.percent) / 100;
                if (dmg.cut)
                    bytes.resize(at);
                else if (dmg.percent)
                    bytes[at] ^= 0x5A;
                // At 1/8 scale, scans left out cannot fail the decode.
                CxImage alone, trimmed;
                const bool aloneOk = decode(bytes, hintW, dmg.cut, Route{false, false}, alone);
                const bool trimmedOk = decode(bytes, hintW, dmg.cut, Route{false, true}, trimmed);
                EXPECT_TRUE(aloneOk || dmg.percent);
                EXPECT_TRUE(trimmedOk == aloneOk || (hintW == 8 && trimmedOk));
                for (const Route r :
                     {Route{true, true}, Route{true, true, false}, Route{true, false}, Route{false, true}}) {
                    const bool leftOut = r.trim && hintW == 8;
                    const CxImage &ref = leftOut ? trimmed : alone;
                    CxImage img;
                    ASSERT_EQ(decode(bytes, hintW, dmg.cut, r, img), leftOut ? trimmedOk : aloneOk)
                        << r.ownAc << r.trim << r.pdep;
                    if (!(leftOut ? trimmedOk : aloneOk))
                        continue;
                    ASSERT_EQ(img.GetWidth(), ref.GetWidth());
                    ASSERT_EQ(img.GetHeight(), ref.GetHeight());
                    EXPECT_EQ(MaxChannelDiff(img, ref), 0) << r.ownAc << r.trim << r.pdep;
                }
            }
        }
    }
}

TEST(JpegDecode, RegionDecodeGivesOnlyThePartWhereItCan)
{
    // The part of the picture (at the hint's scale) that a whole decode
    // would give, cut to the picture; whole where the region cannot apply
    // (turned pictures, multi-scan files, regions as large as the picture).
    struct Case {
        const char *file;
        bool autoOrient;
        int hint; // width, 0: full size
        int left, top, rw, rh;
        bool whole;
    };
    for (const Case c : {Case{"jpeg/baseline.jpg", true, 0, 0, 0, 20, 10, false},
                         Case{"jpeg/grey.jpg", true, 0, 0, 0, 33, 17, false},
                         Case{"jpeg/baseline.jpg", true, 0, 13, 9, 30, 20, false},
                         Case{"jpeg/baseline.jpg", true, 0, 40, 30, 100, 100, false},
                         Case{"jpeg/grey.jpg", true, 0, 5, 19, 40, 40, false},
                         Case{"jpeg/baseline.jpg", true, 32, 3, 5, 20, 10, false},
                         Case{"jpeg/baseline.jpg", true, 16, 9, 1, 5, 9, false},
                         Case{"jpeg/baseline.jpg", true, 0, 0, 0, 64, 48, true},
                         Case{"jpeg/progressive.jpg", true, 0, 0, 0, 20, 10, true},
                         Case{"photo/orient6.jpg", true, 0, 0, 0, 20, 10, true},
                         Case{"photo/orient6.jpg", false, 0, 7, 3, 20, 10, false}}) {
        SCOPED_TRACE(testing::Message() << c.file << " at " << c.hint << ": " << c.left << "," << c.top << " "
                                        << c.rw << "x" << c.rh << " upright " << c.autoOrient);
        const Bytes bytes = FixtureBytes(c.file);
        CxImage full, part;
        ASSERT_TRUE(DecodeBytes(bytes, full, {.hintWidth = c.hint, .autoOrient = c.autoOrient}));
        ASSERT_TRUE(DecodeBytes(bytes, part,
                                {.hintWidth = c.hint,
                                 .regionLeft = c.left,
                                 .regionTop = c.top,
                                 .regionWidth = c.rw,
                                 .regionHeight = c.rh,
                                 .autoOrient = c.autoOrient}));
        EXPECT_EQ(part.GetSrcWidth(), full.GetSrcWidth());
        EXPECT_EQ(part.GetSrcHeight(), full.GetSrcHeight());
        if (c.whole) {
            EXPECT_EQ(part.ToQImage(), full.ToQImage());
            continue;
        }
        const int w = std::min(c.rw, full.GetWidth() - c.left), h = std::min(c.rh, full.GetHeight() - c.top);
        ASSERT_EQ(part.GetWidth(), w);
        ASSERT_EQ(part.GetHeight(), h);
        EXPECT_EQ(part.ToQImage(), full.ToQImage().copy(c.left, c.top, w, h));
    }
}

TEST(JpegDecode, CoarseDecodeStopsAProgressiveFileOnceEveryColourHasItsAverages)
{
    // A progressive file gives its block averages at 1/8, close to the
    // averaged template and in colour even when its first scan holds the
    // luminance alone; other files ignore the request.
    const struct {
        const char *file;
        int width;
    } cases[] = {
        {"jpeg/progressive.jpg", 8},
        {"jpeg/luma_dc_first.jpg", 8},
        {"jpeg/baseline.jpg", 64},
    };
    const CxImage averaged = BlockAverage(LoadFixture("png/template.png"), 8);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        CxImage coarse;
        ASSERT_TRUE(DecodeBytes(FixtureBytes(c.file), coarse, {.coarse = true}));
        EXPECT_EQ(coarse.GetSrcWidth(), 64);
        ASSERT_EQ(coarse.GetWidth(), c.width);
        if (c.width == 8) {
            EXPECT_GE(Psnr(coarse, averaged), 30.0);
        }
    }
}

TEST(JpegEncode, ColourQualityAndComposition)
{
    CxImage img = MakeTestImage(67, 45);
    img.SetJpegQuality(90);
    const CxImage q90 = Decoded(EncodeBytes(img, CXIMAGE_FORMAT_JPG));
    EXPECT_EQ(q90.GetBpp(), 24);
    EXPECT_GE(Psnr(q90, img), 42.0);
    img.SetJpegQuality(100);
    EXPECT_LE(MaxChannelDiff(Decoded(EncodeBytes(img, CXIMAGE_FORMAT_JPG)), img), 6);

    // Quality decides the size, and 0 means the lowest.
    std::vector<std::size_t> sizes;
    for (BYTE q : {BYTE(1), BYTE(30), BYTE(75), BYTE(95)}) {
        img.SetJpegQuality(q);
        sizes.push_back(EncodeBytes(img, CXIMAGE_FORMAT_JPG).size());
    }
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()) && sizes[0] < sizes[3]);
    img.SetJpegQuality(1);
    const Bytes lowest = EncodeBytes(img, CXIMAGE_FORMAT_JPG);
    img.SetJpegQuality(0);
    EXPECT_EQ(EncodeBytes(img, CXIMAGE_FORMAT_JPG), lowest);

    // Transparent pixels (the left half) come out white.
    ASSERT_TRUE(img.AlphaCreate());
    for (int y = 0; y < 45; ++y)
        std::memset(img.AlphaGetPointer(y), 0, 33);
    img.SetJpegQuality(95);
    const CxImage back = Decoded(EncodeBytes(img, CXIMAGE_FORMAT_JPG));
    EXPECT_FALSE(back.AlphaIsValid());
    const RGBQUAD c = back.GetPixelColor(5, 20);
    EXPECT_GE(std::min({c.rgbRed, c.rgbGreen, c.rgbBlue}), 245);
    EXPECT_GE(Psnr(back, img), 40.0);  // the comparison composites onto white too
}

TEST(JpegEncode, GreyPalettesWriteOneChannelOthersThree)
{
    for (const int bpp : {1, 4, 8}) {
        for (const bool grey : {true, false}) {
            SCOPED_TRACE(testing::Message() << "bpp " << bpp << (grey ? " grey" : " colour"));
            CxImage img = MakePaletted(40, 24, bpp, 1 << bpp, grey);
            img.SetTransIndex(img.GetPixelIndex(20, 8));
            img.SetJpegQuality(95);
            const Bytes bytes = EncodeBytes(img, CXIMAGE_FORMAT_JPG);
            EXPECT_EQ(FrameComponents(bytes), grey ? 1 : 3);
            const CxImage back = Decoded(bytes);
            EXPECT_EQ(back.GetBpp(), grey ? 8 : 24);
            // Hard-edged bands of saturated colour are JPEG's worst case.
            EXPECT_GE(Psnr(back, img), grey ? 30.0 : 24.0);
            const RGBQUAD c = back.GetPixelColor(20, 8);  // the transparent index: white
            EXPECT_GE(std::min({c.rgbRed, c.rgbGreen, c.rgbBlue}), 200);
        }
    }
}

// A progressive file whose blocks would take more than the run's decodes may
// hold keeps them in an unnamed file while it is written: the bytes kept in
// memory give, for colour at 4:4:4 and 4:2:0 and for grey.
TEST(JpegEncode, ProgressiveBlocksKeptOnDiskGiveTheSameBytes)
{
    const std::size_t budget = cxcodec::JpegDecodeBudget();
    for (const auto &[grey, quality] : {std::pair{false, 92}, std::pair{false, 75}, std::pair{true, 85}}) {
        SCOPED_TRACE(testing::Message() << (grey ? "grey" : "colour") << " at " << quality);
        CxImage img = grey ? MakePaletted(301, 203, 8, 256, true) : MakeTestImage(301, 203);
        CEncoderSettings settings;
        settings.m_bJpegProgressive = true;
        img.SetEncoderSettings(settings);
        img.SetJpegQuality(BYTE(quality));
        const Bytes inMemory = EncodeBytes(img, CXIMAGE_FORMAT_JPG);
        const int files = cxcodec::testhooks::JpegCoefficientFiles();
        cxcodec::SetJpegDecodeBudget(4096);
        const Bytes onDisk = EncodeBytes(img, CXIMAGE_FORMAT_JPG);
        cxcodec::SetJpegDecodeBudget(budget);
        EXPECT_EQ(cxcodec::testhooks::JpegCoefficientFiles(), files + 1);
        EXPECT_TRUE(onDisk == inMemory) << onDisk.size() << " against " << inMemory.size();
    }
}

TEST(JpegEncode, FailingStreamIsReported)
{
    // Noise compresses badly: more than one 64 KB output buffer.
    CxImage img;
    ASSERT_TRUE(img.Create(256, 256, 24));
    std::uint32_t seed = 12345;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256 * 3; ++x)
            img.GetBits(y)[x] = BYTE((seed = seed * 1664525u + 1013904223u) >> 24);
    img.SetJpegQuality(100);
    ASSERT_GT(EncodeBytes(img, CXIMAGE_FORMAT_JPG).size(), 2u * 65536);
    ExpectFailingStreamsReported(img, CXIMAGE_FORMAT_JPG);
}

TEST(JpegRobustness, TruncatedAndDamagedFilesFailSilently)
{
    testing::internal::CaptureStderr();
    for (const char *name : {"jpeg/baseline.jpg", "jpeg/progressive.jpg", "jpeg/grey.jpg", "jpeg/cmyk_adobe.jpg"}) {
        SCOPED_TRACE(name);
        ExpectTruncationsFail(FixtureBytes(name), 3);
    }

    const Bytes good = FixtureBytes("jpeg/baseline.jpg");
    const std::size_t sos = FindMarker(good, 0xDA), sof = FindMarker(good, 0xC0);
    ASSERT_NE(sos, std::string::npos);
    ASSERT_NE(sof, std::string::npos);
    CxImage img;
    Bytes bad = good;
    const std::size_t mid = sos + (good.size() - sos) / 2;
    bad[mid] = 0xFF;  // an end marker in the middle of the scan
    bad[mid + 1] = 0xD9;
    EXPECT_FALSE(DecodeBytes(bad, img));
    bad = good;
    bad[sof + 5] = bad[sof + 6] = 0;  // zero height
    EXPECT_FALSE(DecodeBytes(bad, img));
    bad = good;
    bad[sof + 5] = bad[sof + 7] = 0xFF;  // 65500 x 65500: beyond the pixel budget
    bad[sof + 6] = bad[sof + 8] = 0xDC;
    EXPECT_FALSE(DecodeBytes(bad, img));
    EXPECT_FALSE(img.IsValid());

    // Arbitrary damage to the scan: refused, or a picture of the right size.
    for (std::size_t at = sos + 14; at < good.size() - 2; at += 11) {
        bad = good;
        bad[at] ^= 0xA5;
        CxImage any;
        EXPECT_TRUE(!DecodeBytes(bad, any) || (any.GetWidth() == 64 && any.GetHeight() == 48));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(JpegRobustness, MalformedExifIsIgnored)
{
    const Bytes good = FixtureBytes("jpeg/baseline.jpg");
    const CxImage want = Decoded(good);
    const std::string exif("Exif\0\0", 6);
    struct Case {
        const char *name;
        std::string payload; // the APP1 segment's content
    };
    const Case cases[] = {
        {"bad TIFF header", exif + "XY*\0\x08\0\0\0"},
        {"IFD offset outside", exif + std::string("II*\0\xF0\xFF\xFF\x7F", 8)},
        {"entry count running off the end", exif + std::string("II*\0\x08\0\0\0\xFF\xFF\x12\x01\x03\0", 14)},
        {"truncated APP1", exif + "II"},
        {"APP1 of length 2", ""},
        {"not EXIF at all", "http://ns.adobe.com/xap/1.0/"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes(good.begin(), good.begin() + 2);
        const std::size_t length = c.payload.size() + 2;
        bytes.insert(bytes.end(), {0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length)});
        bytes.insert(bytes.end(), c.payload.begin(), c.payload.end());
        bytes.insert(bytes.end(), good.begin() + 2, good.end());
        CxImage img;
        ASSERT_TRUE(DecodeBytes(bytes, img)) << img.GetLastError();
        ExpectIdentical(want, img);
    }
}

TEST(JpegRobustness, CutOffFilesShowWhatArrivedOnlyWhenAsked)
{
    testing::internal::CaptureStderr();
    struct Case {
        const char *name;
        int percent;   // of the file kept
        double psnr;   // of the whole picture against the complete decode
        bool topExact; // the first rows arrive whole
    };
    const Case cases[] = {
        {"jpeg/baseline.jpg", 60, 10.0, true},
        {"jpeg/grey.jpg", 60, 10.0, true},
        {"jpeg/cmyk_adobe.jpg", 60, 10.0, true},
        {"jpeg/progressive.jpg", 70, 25.0, false}, // the coarse scans arrived
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes whole = FixtureBytes(c.name);
        const CxImage full = Decoded(whole);
        const Bytes cut(whole.begin(),
                        whole.begin() + std::ptrdiff_t(whole.size() * std::size_t(c.percent) / 100));
        CxImage strict, lenient;
        EXPECT_FALSE(DecodeBytes(cut, strict));
        EXPECT_FALSE(strict.IsValid());
        ASSERT_TRUE(DecodeBytes(cut, lenient, {.acceptTruncated = true})) << lenient.GetLastError();
        ASSERT_EQ(lenient.GetWidth(), 64);
        ASSERT_EQ(lenient.GetHeight(), 48);
        EXPECT_GE(Psnr(lenient, full), c.psnr);
        int topDiff = 0;
        for (int x = 0; x < 64; ++x)
            for (int y = 0; y < 8; ++y) {
                const RGBQUAD p = lenient.GetPixelColor(x, y), q = full.GetPixelColor(x, y);
                topDiff = std::max({topDiff, std::abs(p.rgbRed - q.rgbRed), std::abs(p.rgbBlue - q.rgbBlue)});
            }
        if (c.topExact) {
            EXPECT_EQ(topDiff, 0);
        }
        // Cut before the tables and the frame: nothing to show.
        const std::size_t dqt = FindMarker(whole, 0xDB);
        ASSERT_NE(dqt, std::string::npos);
        CxImage headerOnly;
        EXPECT_FALSE(headerOnly.Decode(whole.data(), dqt, CXIMAGE_FORMAT_UNKNOWN, {.acceptTruncated = true}));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Damaged entropy data: a run refuses the file with libjpeg's reason, while
// the viewer and the thumbnails (which accept cut-off files) show what
// libjpeg recovers, as Qt's reader shows it.
TEST(JpegRobustness, DamagedDataIsShownOnlyWhereCutOffFilesAre)
{
    struct Row {
        const char *file;
        const char *reason;
        int width, height;
    } rows[] = {
        {"external/pillow/hopper_bad_exif.jpg", "Corrupt JPEG data: bad Huffman code", 500, 500},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file);
        const Bytes bytes = FixtureBytes(row.file);
        CxImage strict, shown;
        EXPECT_FALSE(DecodeBytes(bytes, strict));
        EXPECT_STREQ(strict.GetLastError(), row.reason);
        ASSERT_TRUE(DecodeBytes(bytes, shown, {.acceptTruncated = true})) << shown.GetLastError();
        CxImage qt;
        ASSERT_TRUE(qt.FromQImage(QImage(QString::fromStdString(DataPath(row.file)))));
        EXPECT_GE(Psnr(shown, qt), 40.0);
        QImage card;
        const ThumbnailResult thumb = MakeThumbnail(DataPath(row.file), CXIMAGE_FORMAT_JPG, card);
        EXPECT_TRUE(thumb.valid);
        EXPECT_EQ(thumb.width, row.width);
        EXPECT_EQ(thumb.height, row.height);
    }
}

TEST(JpegRobustness, FloodOfProgressiveScansIsRefused)
{
    const Bytes good = FixtureBytes("jpeg/progressive.jpg");
    const std::size_t sos = FindMarker(good, 0xDA);
    ASSERT_NE(sos, std::string::npos);
    // The first scan runs up to the next marker that is not stuffing or a restart.
    std::size_t end = sos + 2;
    while (end + 1 < good.size() &&
           !(good[end] == 0xFF && good[end + 1] != 0x00 && (good[end + 1] < 0xD0 || good[end + 1] > 0xD7)))
        ++end;
    ASSERT_LT(end, good.size() - 2);
    auto repeated = [&](int copies) {
        Bytes b(good.begin(), good.begin() + std::ptrdiff_t(end));
        for (int i = 0; i < copies; ++i)
            b.insert(b.end(), good.begin() + std::ptrdiff_t(sos), good.begin() + std::ptrdiff_t(end));
        b.insert(b.end(), good.begin() + std::ptrdiff_t(end), good.end());
        return b;
    };
    // A few repeats of the first scan are harmless; hundreds are an attack
    // on decoding time.
    EXPECT_EQ(MaxChannelDiff(Decoded(repeated(5)), Decoded(good)), 0);
    CxImage img;
    EXPECT_FALSE(DecodeBytes(repeated(300), img));
}
