// SVG and SVGZ sources through velmora-batch: rendered at their own size, at
// the DPI asked and directly at the size a resize makes, their transparency
// kept; and the documents refused, each the file's error with nothing written.
#include "tests/cli/batch_process.h"
#include "tests/test_support.h"

#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <utility>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

// 40 x 20: red on the left half, blue on the top right quarter, a black bar
// one unit wide at x 25 in the bottom right, transparent around it.
const std::string kDrawing =
    R"svg(<?xml version="1.0"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="40" height="20" viewBox="0 0 40 20">
  <defs><linearGradient id="g"><stop offset="0" stop-color="#f00"/></linearGradient></defs>
  <rect width="20" height="20" fill="url(#g)"/>
  <rect x="20" width="20" height="10" fill="#0000ff"/>
  <rect x="25" y="12" width="1" height="8" fill="#000"/>
</svg>
)svg";

std::vector<std::uint8_t> Gzip(const std::string &text)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> out(deflateBound(&z, uLong(text.size())));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool Write(const std::string &path, const std::string &text)
{
    return WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

QImage Output(const ScratchDir &out, const char *name)
{
    return QImage(QString::fromStdString(out.Path(name))).convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(SvgSources, RenderedAtTheirOwnSizeTheDpiAskedAndTheResizesSizeDirectly)
{
    ScratchDir src;
    ASSERT_TRUE(Write(src.Path("d.svg"), kDrawing));
    ASSERT_TRUE(WriteFileBytes(src.Path("z.svgz"), Gzip(kDrawing)));
    struct Row {
        QStringList args;
        const char *source, *output;
        int width, height;
        bool jpeg; // transparent parts on white
    };
    const Row rows[] = {
        {{"--format", "png"}, "d.svg", "d.PNG", 40, 20, false},
        // A DPI chosen renders the drawing anew, written as PNG, which keeps its alpha.
        {{"--render-dpi", "96"}, "z.svgz", "z.PNG", 40, 20, false},
        {{"--render-dpi", "192", "--format", "png"}, "d.svg", "d.PNG", 80, 40, false},
        {{"--resize", "width", "--width", "1000", "--format", "png"}, "d.svg", "d.PNG", 1000, 500, false},
        {{"--resize", "percent", "--percent", "50", "--render-dpi", "192", "--format", "png"},
         "d.svg",
         "d.PNG",
         40,
         20,
         false},
        {{"--format", "jpg", "--quality", "100"}, "d.svg", "d.JPG", 40, 20, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString() + " " + row.source);
        ScratchDir out;
        const Result r = RunBatch(row.args + QStringList{"--out", QString::fromStdString(out.Root()),
                                                         QString::fromStdString(src.Path(row.source))});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const QImage img = Output(out, row.output);
        ASSERT_EQ(img.size(), QSize(row.width, row.height));
        const auto at = [&](double x, double y) {
            return img.pixel(int(x * row.width / 40), int(y * row.height / 20));
        };
        const auto near = [](QRgb a, QRgb b) {
            return std::abs(qRed(a) - qRed(b)) < 8 && std::abs(qGreen(a) - qGreen(b)) < 8 &&
                   std::abs(qBlue(a) - qBlue(b)) < 8 && std::abs(qAlpha(a) - qAlpha(b)) < 8;
        };
        EXPECT_TRUE(near(at(5, 5), qRgb(255, 0, 0))) << std::hex << at(5, 5);
        EXPECT_TRUE(near(at(30, 5), qRgb(0, 0, 255))) << std::hex << at(30, 5);
        EXPECT_TRUE(near(at(35, 15), row.jpeg ? qRgb(255, 255, 255) : qRgba(0, 0, 0, 0)))
            << std::hex << at(35, 15);
        if (row.width != 1000)
            continue;
        // The one-unit bar is 25 pixels with hard edges, as drawn at this
        // size, not a small render's soft one enlarged.
        int covered = 0, solid = 0;
        for (int x = 500; x < 1000; ++x) {
            covered += qAlpha(img.pixel(x, 450)) > 0;
            solid += qAlpha(img.pixel(x, 450)) == 255;
        }
        EXPECT_EQ(std::pair(covered, solid), std::pair(25, 25));
    }
    // SVGZ renders exactly as the SVG it holds.
    ScratchDir a, b;
    ASSERT_EQ(RunBatch({"--format", "png", "--out", QString::fromStdString(a.Root()),
                        QString::fromStdString(src.Path("d.svg"))})
                  .exitCode,
              0);
    ASSERT_EQ(RunBatch({"--format", "png", "--out", QString::fromStdString(b.Root()),
                        QString::fromStdString(src.Path("z.svgz"))})
                  .exitCode,
              0);
    EXPECT_EQ(Output(a, "d.PNG"), Output(b, "z.PNG"));
}

TEST(SvgSources, DocumentsThatReachOutsideOrPassTheLimitsAreRefused)
{
    const std::string head =
        R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )";
    // A drawing whose text inflates to 65 MB of spaces.
    const std::string bomb = head + R"(width="10" height="10">)" + std::string(65u << 20, ' ') + "</svg>";
    struct Row {
        const char *name;
        std::vector<std::uint8_t> bytes;
        const char *reason;
    };
    const auto text = [](const std::string &s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    const Row rows[] = {
        {"passwd.svg",
         text(head +
              R"(width="10" height="10"><image href="file:///etc/passwd" width="10" height="10"/></svg>)"),
         "refers to a file or address outside it"},
        {"relative.svg",
         text(head + R"(width="10" height="10"><image xlink:href="pic.png" width="10" height="10"/></svg>)"),
         "refers to a file or address outside it"},
        {"styled.svg",
         text(head +
              R"(width="10" height="10"><style>rect { fill: url(http://example.com/p) }</style></svg>)"),
         "refers to a file or address outside it"},
        {"entity.svg",
         text(R"(<!DOCTYPE svg [<!ENTITY x SYSTEM "file:///etc/passwd">]>)" + head +
              R"(width="10" height="10"><text>&x;</text></svg>)"),
         "external entity"},
        {"bomb.svgz", Gzip(bomb), "inflates past 64 MB"},
        {"huge.svg", text(head + R"(width="100000000" height="100000000"/>)"), "over the picture limits"},
        {"broken.svg", text(head + R"(width="10" height="10"><rect width="5" </svg>)"),
         "not a well-formed XML document"},
    };
    ScratchDir src;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(WriteFileBytes(src.Path(row.name), row.bytes));
        ScratchDir out;
        const Result r = RunBatch({"--format", "png", "--out", QString::fromStdString(out.Root()),
                                   QString::fromStdString(src.Path(row.name))});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(row.reason), std::string::npos) << r.err;
        EXPECT_EQ(Entries(out.Root()), QStringList());
    }
}
