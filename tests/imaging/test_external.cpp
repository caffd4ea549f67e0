// Other libraries' own test files (tests/data/external, origins in each
// folder's README). A file x.ext with a template x.ext.png beside it must
// decode to that picture, frame N of an animation to x.ext.N.png; a file
// without one is listed below with what it must do. Adding a case is adding
// the file and its template.
#include "tests/test_support.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string kRoot = testsupport::DataPath("external");

// Files whose decode may differ from the template by more than nothing, or
// that do not match it yet.
struct Exception {
    const char *file;
    int tolerance;          // largest difference of alpha or an alpha-weighted R, G or B
    const char *knownFault; // non-null: skipped until the decoder is fixed
};

const Exception kExceptions[] = {
    // 16 bits are reduced by dropping the low byte; the templates round.
    {"pngsuite/basn0g16.png", 1, nullptr},
    {"pngsuite/basn2c16.png", 1, nullptr},
    {"pngsuite/basn4a16.png", 1, nullptr},
    {"pngsuite/basn6a16.png", 1, nullptr},
    {"pngsuite/ftbwn0g16.png", 1, nullptr},
    {"pngsuite/ibasn6a16.png", 1, nullptr},
    {"pillow/tiff_16bit_RGBa.tiff", 1, nullptr},
    {"pillow/tiff_strip_planar_16bit_RGBa.tiff", 1, nullptr},
    // Premultiplied samples divided back, rounded either way.
    {"libtiff/minisblack-2c-8b-alpha.tiff", 1, nullptr},
    // CMYK to RGB, rounded either way.
    {"pillow/pil_sample_cmyk.jpg", 1, nullptr},
    // The 11-bit samples lie half-way between the 8-bit original's values.
    {"bmpsuite/rgb32-111110.bmp", 1, nullptr},
    // Signed samples: 0 lies half-way between 127 and 128; the white point of
    // Lab (D50 or D65) moves blue by 1.
    {"pillow/16bit.s.tif", 1, nullptr},
    {"pillow/lab-red.tif", 2, nullptr},
    // 12- and 32-bit samples and 16-bit CMYK come to 8 bits in one step,
    // ImageMagick's by way of 16.
    {"pillow/12bit.cropped.tif", 1, nullptr},
    {"pillow/hopper_unknown_pixel_mode.tif", 1, nullptr},
    {"pillow/tiff_strip_cmyk_16l_jpeg.tif", 1, nullptr},
};

// What a file without a template must do.
enum class Outcome { Refused, Decodes };

struct Untemplated {
    const char *file;
    Outcome outcome;
};

const Untemplated kUntemplated[] = {
    // bmpsuite's bad set
    {"bmpsuite/badbitcount.bmp", Outcome::Refused},
    {"bmpsuite/badplanes.bmp", Outcome::Decodes}, // the plane count is not checked
    {"bmpsuite/badrle.bmp", Outcome::Decodes},
    {"bmpsuite/shortfile.bmp", Outcome::Refused},
    {"bmpsuite/reallybig.bmp", Outcome::Refused},
    {"bmpsuite/badwidth.bmp", Outcome::Refused},
    {"bmpsuite/pal8badindex.bmp", Outcome::Decodes},
    {"bmpsuite/rletopdown.bmp", Outcome::Decodes}, // top-down RLE: read anyway
    // Pillow's crash and overrun files
    {"pillow/01r_00.pcx", Outcome::Refused},
    {"pillow/ossfuzz-4836216264589312.pcx", Outcome::Refused},
    {"pillow/pcx_overrun.bin", Outcome::Refused},
    {"pillow/pcx_overrun2.bin", Outcome::Refused},
    {"pillow/decompression_bomb.gif", Outcome::Refused},
    {"pillow/no_palette.gif", Outcome::Decodes},
    {"pillow/truncated_jpeg.jpg", Outcome::Refused}, // a cut JPEG is never half a picture
    // Damaged entropy data: refused here, shown by the viewer (test_jpeg)
    {"pillow/hopper_bad_exif.jpg", Outcome::Refused},
    // Icons whose bitmap says 65535 x 32767 pixels, or compression 56832
    {"pillow/decompression_bomb.ico", Outcome::Refused},
    {"gdk-pixbuf/invalid.1.ico", Outcome::Refused},
    {"pillow/crash-0da013a13571cc8eb457a39fee8db18f8a3c7127.tif", Outcome::Decodes},
    {"pillow/crash-86214e58da443d2b80820cff9677a38a33dcbbca.tif", Outcome::Refused},
    {"pillow/crash-74d2a78403a5a59db1fb0a2b8735ac068a75f6e3.tif", Outcome::Decodes},
    {"pillow/crash-1185209cf7655b5aed8ae5e77784dfdd18ab59e9.tif", Outcome::Refused},
    {"pillow/oom-225817ca0f8c663be7ab4b9e717b02c661e66834.tif", Outcome::Refused},
    // libtiff: LogLuv is read through libtiff's RGBA reader
    {"libtiff/logluv-3c-16b.tiff", Outcome::Decodes},
    // gdk-pixbuf's GIF suite and its files that must fail
    {"gdk-pixbuf/invalid-code.gif", Outcome::Refused},
    {"gdk-pixbuf/zero-size.gif", Outcome::Refused},
    {"gdk-pixbuf/CVE-2017-2862.jpg", Outcome::Refused},
    {"gdk-pixbuf/bug777315.bmp", Outcome::Refused},
    {"gdk-pixbuf/invalid.1.bmp", Outcome::Refused},
    {"gdk-pixbuf/bug780269.tif", Outcome::Refused},
    {"gdk-pixbuf/bug784903-overflow-dimensions.tiff", Outcome::Refused},
    {"gdk-pixbuf/hang_114.gif", Outcome::Refused},
    {"gdk-pixbuf/overflow-codes.gif", Outcome::Refused},
    {"gdk-pixbuf/invalid.1.gif", Outcome::Refused},
    {"gdk-pixbuf/invalid.1.png", Outcome::Refused},
    {"gdk-pixbuf/invalid.3.png", Outcome::Refused},
    {"gdk-pixbuf/bug793470-crasher.png", Outcome::Refused},
};

struct Case {
    std::string file;                   // relative to kRoot
    std::vector<std::string> templates; // index: frame; empty: none
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.file;
}

bool IsTemplate(const QDir &dir, const QString &name)
{
    // x.ext.png, or x.ext.N.png with N a number
    if (!name.endsWith(".png"))
        return false;
    QString stem = name.chopped(4);
    if (dir.exists(stem))
        return true;
    const int dot = stem.lastIndexOf('.');
    bool number = false;
    stem.mid(dot + 1).toInt(&number);
    return dot > 0 && number && dir.exists(stem.left(dot));
}

std::vector<Case> ListCases()
{
    std::vector<Case> cases;
    const QDir root(QString::fromStdString(kRoot));
    for (const QString &origin : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir dir(root.filePath(origin));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            if (name == "README" || IsTemplate(dir, name))
                continue;
            Case c{(origin + "/" + name).toStdString(), {}};
            for (int frame = 0;; ++frame) {
                const QString t = frame == 0 ? name + ".png" : name + "." + QString::number(frame) + ".png";
                if (!dir.exists(t))
                    break;
                c.templates.push_back((origin + "/" + t).toStdString());
            }
            cases.push_back(c);
        }
    }
    return cases;
}

template <typename Row, std::size_t N> const Row *Find(const Row (&rows)[N], const std::string &file)
{
    for (const Row &row : rows)
        if (file == row.file)
            return &row;
    return nullptr;
}

// A colour as it shows over black: the colour of a nearly transparent pixel
// hardly matters, and encoders round it freely.
int Weighted(int colour, int alpha)
{
    return (colour * alpha + 127) / 255;
}

// Compares alpha and the alpha-weighted R, G, B. Reports the worst
// difference and where it first occurs.
::testing::AssertionResult MatchesTemplate(const CxImage &img, const std::string &templ, int tolerance)
{
    const QImage ref =
        QImage(QString::fromStdString(kRoot + "/" + templ)).convertToFormat(QImage::Format_ARGB32);
    if (ref.isNull())
        return ::testing::AssertionFailure() << templ << " is unreadable";
    if (img.GetWidth() != ref.width() || img.GetHeight() != ref.height())
        return ::testing::AssertionFailure() << "size " << img.GetWidth() << "x" << img.GetHeight() << ", "
                                             << templ << " is " << ref.width() << "x" << ref.height();
    int worst = 0, wx = 0, wy = 0, over = 0;
    for (int y = 0; y < ref.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(ref.constScanLine(y));
        for (int x = 0; x < ref.width(); ++x) {
            const RGBQUAD p = img.GetPixelColor(x, y);
            const QRgb q = row[x];
            const int a = p.rgbReserved, b = qAlpha(q);
            const int d = std::max({std::abs(a - b), std::abs(Weighted(p.rgbRed, a) - Weighted(qRed(q), b)),
                                    std::abs(Weighted(p.rgbGreen, a) - Weighted(qGreen(q), b)),
                                    std::abs(Weighted(p.rgbBlue, a) - Weighted(qBlue(q), b))});
            over += d > tolerance;
            if (d > worst) {
                worst = d;
                wx = x;
                wy = y;
            }
        }
    }
    if (over == 0)
        return ::testing::AssertionSuccess();
    const RGBQUAD p = img.GetPixelColor(wx, wy);
    const QRgb q = ref.pixel(wx, wy);
    return ::testing::AssertionFailure()
           << over << " pixels differ by more than " << tolerance << "; worst " << worst << " at (" << wx
           << "," << wy << "): rgba " << int(p.rgbRed) << "," << int(p.rgbGreen) << "," << int(p.rgbBlue)
           << "," << int(p.rgbReserved) << " against " << qRed(q) << "," << qGreen(q) << "," << qBlue(q)
           << "," << qAlpha(q);
}

class ExternalFile : public ::testing::TestWithParam<Case> {};

TEST_P(ExternalFile, DecodesAsTemplateOrAsListed)
{
    const Case &c = GetParam();
    const std::string path = kRoot + "/" + c.file;
    const Untemplated *listed = Find(kUntemplated, c.file);
    if (c.templates.empty()) {
        ASSERT_NE(listed, nullptr) << "no template and no row saying what it must do";
        CxImage img;
        const bool ok = img.Load(path.c_str());
        EXPECT_EQ(ok, img.IsValid());
        if (listed->outcome == Outcome::Refused) {
            EXPECT_FALSE(ok) << "decoded to " << img.GetWidth() << "x" << img.GetHeight();
            EXPECT_STRNE(img.GetLastError(), "");
        } else {
            EXPECT_TRUE(ok) << img.GetLastError();
        }
        return;
    }
    ASSERT_EQ(listed, nullptr) << "has a template and a row without one";
    const Exception *ex = Find(kExceptions, c.file);
    if (ex && ex->knownFault)
        GTEST_SKIP() << "known fault: " << ex->knownFault;
    for (std::size_t frame = 0; frame < c.templates.size(); ++frame) {
        SCOPED_TRACE(c.templates[frame]);
        CxImage img;
        ASSERT_TRUE(img.Load(path.c_str(), CXIMAGE_FORMAT_UNKNOWN, {.frame = int(frame)}))
            << img.GetLastError();
        EXPECT_TRUE(MatchesTemplate(img, c.templates[frame], ex ? ex->tolerance : 0));
    }
}

std::string CaseName(const ::testing::TestParamInfo<Case> &info)
{
    std::string name = info.param.file;
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, ExternalFile, ::testing::ValuesIn(ListCases()), CaseName);

// Every row names a file that is there, with or without a template as the
// row's table says.
TEST(ExternalFileTables, NameFilesThatExist)
{
    const std::vector<Case> cases = ListCases();
    auto find = [&](const std::string &file) {
        return std::find_if(cases.begin(), cases.end(), [&](const Case &c) { return c.file == file; });
    };
    for (const Exception &row : kExceptions)
        EXPECT_TRUE(find(row.file) != cases.end() && !find(row.file)->templates.empty()) << row.file;
    for (const Untemplated &row : kUntemplated)
        EXPECT_TRUE(find(row.file) != cases.end()) << row.file;
}

} // namespace
