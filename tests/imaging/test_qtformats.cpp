// PNM and ICO: ImageMagick's files against the template each was made
// from (scripts/fixtures/qt_formats.sh), and files that lie about their
// size. TGA is in test_tga.cpp.
#include "imaging/cximage.h"
#include "tests/test_support.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// The largest difference of alpha and of R, G, B where a pixel is not
// fully transparent; 256 for another size.
int TemplateDiff(const CxImage &img, const std::string &templ)
{
    const QImage ref = QImage(QString::fromStdString(DataPath(templ))).convertToFormat(QImage::Format_ARGB32);
    if (ref.isNull() || img.GetWidth() != ref.width() || img.GetHeight() != ref.height())
        return 256;
    int worst = 0;
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x) {
            const RGBQUAD p = img.GetPixelColor(x, y);
            const QRgb q = ref.pixel(x, y);
            worst = std::max(worst, std::abs(p.rgbReserved - qAlpha(q)));
            if (qAlpha(q) != 0)
                worst = std::max({worst, std::abs(p.rgbRed - qRed(q)), std::abs(p.rgbGreen - qGreen(q)),
                                  std::abs(p.rgbBlue - qBlue(q))});
        }
    return worst;
}

std::vector<std::uint8_t> Bytes(const std::string &text, std::size_t zeros = 0)
{
    std::vector<std::uint8_t> b(text.begin(), text.end());
    b.resize(b.size() + zeros, 0);
    return b;
}

void PutLe(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

// One 16 x 16 entry holding a PNG whose header says w x h.
std::vector<std::uint8_t> IcoWithPng(std::uint32_t w, std::uint32_t h)
{
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0,
                                     13,   'I', 'H', 'D', 'R',  0,    0,    0,    0, 0, 0,
                                     0,    0,   8,   6,   0,    0,    0,    0,    0, 0};
    for (int i = 0; i < 4; ++i) {
        png[16 + std::size_t(i)] = std::uint8_t(w >> (24 - 8 * i));
        png[20 + std::size_t(i)] = std::uint8_t(h >> (24 - 8 * i));
    }
    std::vector<std::uint8_t> b(22 + png.size(), 0);
    b[2] = 1;
    b[4] = 1;
    b[6] = b[7] = 16;
    b[10] = 1;
    b[12] = 32;
    PutLe(b, 14, std::uint32_t(png.size()), 4);
    PutLe(b, 18, 22, 4);
    std::copy(png.begin(), png.end(), b.begin() + 22);
    return b;
}

} // namespace

TEST(QtFormats, ImageMagickFilesMatchTheirTemplates)
{
    const struct {
        const char *file, *templ;
        std::uint32_t type;
        int bpp;
        bool alpha;
        int tolerance;
    } rows[] = {
        {"pnm/p1.pbm", "pnm/template_bw.png", CXIMAGE_FORMAT_PNM, 1, false, 0},
        {"pnm/p4.pbm", "pnm/template_bw.png", CXIMAGE_FORMAT_PNM, 1, false, 0},
        {"pnm/p2.pgm", "pnm/template_grey.png", CXIMAGE_FORMAT_PNM, 8, false, 0},
        {"pnm/p5.pgm", "pnm/template_grey.png", CXIMAGE_FORMAT_PNM, 8, false, 0},
        {"pnm/p5_16.pgm", "pnm/template_grey.png", CXIMAGE_FORMAT_PNM, 8, false, 0},
        {"pnm/p3.ppm", "pnm/template_rgb.png", CXIMAGE_FORMAT_PNM, 24, false, 0},
        {"pnm/p6.ppm", "pnm/template_rgb.png", CXIMAGE_FORMAT_PNM, 24, false, 0},
        {"pnm/p6_16.ppm", "pnm/template_rgb.png", CXIMAGE_FORMAT_PNM, 24, false, 0},
        {"pnm/p6.pnm", "pnm/template_rgb.png", CXIMAGE_FORMAT_PNM, 24, false, 0},
        {"ico/alpha32.ico", "ico/template_alpha.png", CXIMAGE_FORMAT_ICO, 24, true, 0},
        {"ico/pal8.ico", "ico/template_16.png", CXIMAGE_FORMAT_ICO, 24, false, 0},
        {"ico/png.ico", "ico/template_alpha.png", CXIMAGE_FORMAT_ICO, 24, true, 0},
        // 8 x 8 first, 16 x 16 second: the larger one is the picture.
        {"ico/two_sizes.ico", "ico/template_alpha.png", CXIMAGE_FORMAT_ICO, 24, true, 0},
        {"ico/cursor.cur", "ico/template_alpha.png", CXIMAGE_FORMAT_ICO, 24, true, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        CxImage img;
        ASSERT_TRUE(img.Load(DataPath(row.file).c_str())) << img.GetLastError();
        EXPECT_EQ(img.GetType(), row.type);
        EXPECT_EQ(img.GetBpp(), row.bpp);
        EXPECT_EQ(img.AlphaIsValid(), row.alpha);
        EXPECT_LE(TemplateDiff(img, row.templ), row.tolerance);
        EXPECT_EQ(img.GetSrcWidth(), img.GetWidth());
    }
}

// Refused with a reason before Qt allocates anything for the size given.
TEST(QtFormats, LyingSizesAreRefused)
{
    const struct {
        const char *what;
        std::vector<std::uint8_t> bytes;
        const char *reason;
    } rows[] = {
        {"PPM past the limits", Bytes("P6\n100000 100000\n255\n", 64), "image too large"},
        {"PBM wider than the limits", Bytes("P4 300000 1\n", 64), "image too large"},
        {"PGM within the limits, 64 bytes", Bytes("P5\n16000 16000\n255\n", 64), "truncated PNM data"},
        {"plain PPM within the limits", Bytes("P3 16000 16000 255\n", 64), "truncated PNM data"},
        {"ICO whose PNG says 100000 x 100000", IcoWithPng(100000, 100000), "image too large"},
        {"ICO whose PNG says 257 x 1", IcoWithPng(257, 1), "image too large"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        CxImage img;
        EXPECT_FALSE(img.Decode(row.bytes.data(), row.bytes.size()));
        EXPECT_STREQ(img.GetLastError(), row.reason);
        EXPECT_FALSE(img.IsValid());
    }
    // An entry whose data lies past the end of the file.
    std::vector<std::uint8_t> cut = ReadFileBytes(DataPath("ico/alpha32.ico"));
    cut.resize(cut.size() - 1);
    CxImage img;
    EXPECT_FALSE(img.Decode(cut.data(), cut.size()));
    EXPECT_STREQ(img.GetLastError(), "truncated ICO data");
}
