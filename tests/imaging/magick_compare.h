// Pictures for the tests that hold a pixel operation against ImageMagick's
// `convert` run on the same decoded pixels (tone, trim box, mirror and flip).
#pragma once

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace magick {

enum class Source {
    Landscape,   // photo/grain.jpg, 160 x 120
    Portrait,    // lossless/whole420_r90.jpg, 192 x 256
    Scan,        // a page on a white margin with JPEG-like noise
    ClearBorder, // opaque content on a transparent margin of random colours
    OneColour,
    Paletted, // 16 colours, a margin of entry 0, entry 5 transparent
};

inline RGBQUAD Rgb(int r, int g, int b, int a = 255)
{
    return RGBQUAD{BYTE(b), BYTE(g), BYTE(r), BYTE(a)};
}

inline CxImage Make(Source source)
{
    CxImage img;
    std::mt19937 rng(7);
    switch (source) {
    case Source::Landscape:
        EXPECT_TRUE(img.Load(testsupport::DataPath("photo/grain.jpg").c_str()));
        break;
    case Source::Portrait:
        EXPECT_TRUE(img.Load(testsupport::DataPath("lossless/whole420_r90.jpg").c_str()));
        break;
    case Source::Scan: {
        img.Create(120, 90, 24);
        const CxImage page = testsupport::MakeTexturedImage(90, 64, 3);
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x) {
                const int n = int(rng() % 7); // the margin: 249..255, as a JPEG leaves white
                RGBQUAD c = Rgb(255 - n, 255 - int(rng() % 7), 255 - n);
                if (x >= 17 && x < 107 && y >= 12 && y < 76) {
                    const bool edge = x == 17 || x == 106 || y == 12 || y == 75;
                    c = edge ? Rgb(60, 60, 70) : page.GetPixelColor(x - 17, y - 12);
                    c.rgbRed = BYTE(c.rgbRed * 3 / 4); // away from the margin's white
                }
                img.SetPixelColor(x, y, c);
            }
        break;
    }
    case Source::ClearBorder: {
        img.Create(64, 48, 24);
        img.AlphaCreate();
        const CxImage page = testsupport::MakeTexturedImage(40, 30, 5);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool inside = x >= 9 && x < 49 && y >= 7 && y < 37;
                RGBQUAD c =
                    inside ? page.GetPixelColor(x - 9, y - 7) : Rgb(rng() & 255, rng() & 255, rng() & 255, 0);
                if (inside)
                    c.rgbReserved = BYTE(x < 20 ? 128 : 255);
                img.SetPixelColor(x, y, c, true);
            }
        break;
    }
    case Source::OneColour:
        img.Create(40, 30, 24);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                img.SetPixelColor(x, y, Rgb(90, 140, 200));
        break;
    case Source::Paletted: {
        img.Create(81, 61, 8);
        RGBQUAD pal[16];
        for (int i = 0; i < 16; ++i)
            pal[i] = Rgb(i * 16 + 5, 200 - i * 9, (i * 53) % 256);
        pal[0] = Rgb(230, 230, 225);
        img.SetPalette(pal, 16);
        img.SetTransIndex(5);
        for (int y = 0; y < 61; ++y)
            for (int x = 0; x < 81; ++x)
                img.SetPixelIndex(x, y,
                                  x >= 11 && x < 70 && y >= 8 && y < 50 ? BYTE(1 + (x * 7 + y * 3) % 15) : 0);
        break;
    }
    }
    return img;
}

inline const char *Name(Source s)
{
    constexpr const char *names[] = {"landscape",    "portrait",   "scan",
                                     "clear border", "one colour", "paletted"};
    return names[int(s)];
}

// The picture written as PNG in dir and read back: the pixels both sides work on.
inline CxImage AsPng(const CxImage &src, const testsupport::ScratchDir &dir, std::string &path)
{
    path = dir.Path("in.png");
    CxImage copy(src);
    EXPECT_TRUE(copy.Save(path.c_str(), CXIMAGE_FORMAT_PNG)) << copy.GetLastError();
    CxImage back;
    EXPECT_TRUE(back.Load(path.c_str())) << back.GetLastError();
    return back;
}

// ImageMagick's result of `convert IN args OUT`, read back; empty on failure.
inline CxImage Convert(const std::string &in, const QStringList &args, const testsupport::ScratchDir &dir)
{
    const std::string out = dir.Path("magick.png");
    CxImage img;
    if (testsupport::RunConvert(QStringList{QString::fromStdString(in)} + args +
                                QStringList{"-depth", "8", QString::fromStdString("png32:" + out)})) {
        EXPECT_TRUE(img.Load(out.c_str())) << img.GetLastError();
    }
    return img;
}

} // namespace magick
