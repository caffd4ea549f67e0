// SVG: recognised from its bytes, its own size read from the root as CSS
// pixels, and the size it is rendered at chosen from the request.
#include "imaging/cximage.h"
#include "imaging/imageheader.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <tuple>
#include <utility>

#include <string>
#include <vector>

namespace {

std::string Gzip(const std::string &text)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

const std::uint8_t *Bytes(const std::string &s)
{
    return reinterpret_cast<const std::uint8_t *>(s.data());
}

std::string Svg(const std::string &attrs)
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" " + attrs +
           "><rect width=\"100%\" height=\"100%\"/></svg>";
}

} // namespace

TEST(Svg, RecognisedFromTheRootElementPlainOrCompressed)
{
    const std::string svg = Svg("width=\"4\" height=\"4\"");
    const struct {
        std::string bytes;
        bool svg;
    } rows[] = {
        {svg, true},
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- made by hand -->\n<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG "
         "1.1//EN\" "
         "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\" [<!ENTITY a \"b>c\">]>\n" +
             svg,
         true},
        {"<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"/>", true},
        {Gzip(svg), true},
        {Gzip("<html><svg/></html>"), false},
        {"<html><svg/></html>", false},
        {"<svgx width=\"4\"/>", false},
        {"text before <svg/>", false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(CxImage::DetectFormat(Bytes(row.bytes), row.bytes.size()) == CXIMAGE_FORMAT_SVG, row.svg)
            << row.bytes.substr(0, 40);
}

TEST(Svg, OwnSizeInCssPixelsAndTheRenderSizeTheRequestAsks)
{
    const struct {
        std::string attrs;
        int width, height;
    } sizes[] = {
        {"width=\"1in\" height=\"0.5in\"", 96, 48},
        {"width=\"72pt\" height=\"2.54cm\"", 96, 96},
        {"viewBox=\"0 0 30 10\"", 30, 10},
        {"width=\"60\" viewBox=\"0,0,30,10\"", 60, 20},
        {"width=\"100%\" height=\"100%\" viewBox=\"0 0 30 10\"", 30, 10},
    };
    for (const auto &row : sizes) {
        const std::string doc = Svg(row.attrs);
        ImageHeader h;
        ASSERT_TRUE(ProbeImageHeader(Bytes(doc), doc.size(), h)) << row.attrs;
        EXPECT_EQ(std::pair(h.width, h.height), std::pair(row.width, row.height)) << row.attrs;
    }

    const std::string doc = Svg("width=\"40\" height=\"20\"");
    const auto asks = [](int w, int h) {
        return [w, h](int, int, int &hw, int &hh) {
            hw = w;
            hh = h;
        };
    };
    const struct {
        CxDecodeRequest req;
        int width, height; // rendered; the file's size stays 40 x 20 at 96 dpi
        int srcWidth, srcHeight;
    } renders[] = {
        {{}, 40, 20, 40, 20},
        {{.hintWidth = 10, .hintHeight = 4}, 10, 5, 40, 20},    // a smaller hint: covered, not passed
        {{.hintWidth = 100, .hintHeight = 50}, 40, 20, 40, 20}, // a hint never enlarges
        {{.renderRule = asks(100, 10)}, 100, 50, 40, 20},       // the render rule's size, covered
        {{.renderRule = asks(0, 0), .renderDpi = 48}, 20, 10, 20, 10},
        {{.hintWidth = 10, .hintHeight = 5, .renderDpi = 192}, 10, 5, 80, 40},
    };
    for (const auto &row : renders) {
        CxImage img;
        ASSERT_TRUE(img.Decode(Bytes(doc), doc.size(), CXIMAGE_FORMAT_UNKNOWN, row.req))
            << img.GetLastError();
        EXPECT_EQ(std::tuple(img.GetWidth(), img.GetHeight(), img.GetSrcWidth(), img.GetSrcHeight()),
                  std::tuple(row.width, row.height, row.srcWidth, row.srcHeight));
        EXPECT_EQ(img.GetType(), std::uint32_t(CXIMAGE_FORMAT_SVG));
    }
    // A render rule past the limits is refused before anything is allocated.
    CxImage img;
    EXPECT_FALSE(
        img.Decode(Bytes(doc), doc.size(), CXIMAGE_FORMAT_UNKNOWN, {.renderRule = asks(1 << 20, 0)}));
    EXPECT_NE(std::string(img.GetLastError()).find("over the picture limits"), std::string::npos);
}
