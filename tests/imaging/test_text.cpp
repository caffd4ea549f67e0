#include "imaging/cxtext.h"
#include "tests/test_support.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

RGBQUAD Rgb(int r, int g, int b, int a = 255)
{
    return RGBQUAD{BYTE(b), BYTE(g), BYTE(r), BYTE(a)};
}

CxImage White(int w, int h)
{
    CxImage img;
    img.Create(w, h, 24);
    for (int y = 0; y < h; ++y)
        std::fill(img.GetBits(y), img.GetBits(y) + w * 3, BYTE(255));
    return img;
}

LOGFONT Font(int height, const char *face = "DejaVu Sans")
{
    LOGFONT lf;
    lf.lfHeight = height;
    lf.SetFaceName(face);
    return lf;
}

CXTEXTINFO Text(const std::string &text, int height, COLORREF colour = RGB(0, 0, 0))
{
    CXTEXTINFO info;
    info.text = text;
    info.lfont = Font(height);
    info.fcolor = colour;
    return info;
}

// Bounding box of the pixels that differ from white.
struct Ink {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1, count = 0;
    bool Empty() const { return count == 0; }
};

Ink FindInk(const CxImage &img)
{
    Ink ink;
    for (int y = 0; y < img.GetHeight(); ++y)
        for (int x = 0; x < img.GetWidth(); ++x) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            if (c.rgbRed == 255 && c.rgbGreen == 255 && c.rgbBlue == 255)
                continue;
            ink.x0 = std::min(ink.x0, x);
            ink.x1 = std::max(ink.x1, x);
            ink.y0 = std::min(ink.y0, y);
            ink.y1 = std::max(ink.y1, y);
            ++ink.count;
        }
    return ink;
}

}  // namespace

TEST(TextFont, LogFontRulesForFaceSizeAndStyle)
{
    const QFont dejavu = FontFromLogFont(Font(-30));
    EXPECT_EQ(QFontInfo(dejavu).family(), "DejaVu Sans");
    EXPECT_EQ(dejavu.pixelSize(), 30);
    EXPECT_EQ(FontFromLogFont(Font(0)).pixelSize(), 16);
    EXPECT_FALSE(QFontInfo(FontFromLogFont(Font(-20, ""))).family().isEmpty());
    EXPECT_FALSE(QFontInfo(FontFromLogFont(Font(-20, "No Such Face 123"))).family().isEmpty());

    // Positive height is the cell: ascent plus descent.
    const QFont cell = FontFromLogFont(Font(40));
    QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
    const QFontMetricsF fm(cell, &device);
    EXPECT_NEAR(fm.ascent() + fm.descent(), 40.0, 1.5);
    EXPECT_LT(cell.pixelSize(), 40);

    LOGFONT styled = Font(-20);
    styled.lfWeight = 700;
    styled.lfItalic = 1;
    styled.lfUnderline = 1;
    styled.lfStrikeOut = 1;
    const QFont s = FontFromLogFont(styled);
    EXPECT_EQ(s.weight(), QFont::Bold);
    EXPECT_TRUE(s.italic());
    EXPECT_TRUE(s.underline());
    EXPECT_TRUE(s.strikeOut());
    EXPECT_FALSE(FontFromLogFont(Font(-20)).bold());

    // Width asks for twice the face's average character width.
    LOGFONT wide = Font(-20);
    const int normal = TextExtentWidth(wide, "abcdefghij");
    wide.lfWidth = int(std::lround(QFontMetricsF(FontFromLogFont(wide), &device).averageCharWidth() * 2));
    EXPECT_NEAR(TextExtentWidth(wide, "abcdefghij"), 2 * normal, normal * 0.15);
}

TEST(TextFont, ExtentIsTheWidestLine)
{
    const LOGFONT lf = Font(-24);
    EXPECT_EQ(TextExtentWidth(lf, ""), 0);
    const int one = TextExtentWidth(lf, "Stamp");
    const int longer = TextExtentWidth(lf, "A longer line");
    EXPECT_GT(one, 30);
    EXPECT_GT(longer, one);
    EXPECT_EQ(TextExtentWidth(lf, "Stamp\nA longer line\nx"), longer);
    EXPECT_GT(TextExtentWidth(Font(-48), "Stamp"), one * 3 / 2);
    EXPECT_GT(TextExtentWidth(lf, "你好世界"), 40);
}

TEST(TextDraw, InkSitsOnTheBaselineWhereTheExtentSays)
{
    CxImage img = White(300, 100);
    CXTEXTINFO info = Text("Hamburg", -30, RGB(200, 0, 0));
    info.smooth = false;
    ASSERT_TRUE(img.DrawStringEx(20, 60, &info));
    const Ink ink = FindInk(img);
    ASSERT_FALSE(ink.Empty());
    const int width = TextExtentWidth(info.lfont, info.text);
    EXPECT_GE(ink.x0, 20 - 1);
    EXPECT_LE(ink.x0, 20 + 5);
    EXPECT_LE(ink.x1, 20 + width + 1);
    EXPECT_GE(ink.x1, 20 + width - 6);
    EXPECT_GT(ink.y1, 60 + 2);   // the tail of the g
    EXPECT_LE(ink.y1, 60 + 9);
    EXPECT_GE(ink.y0, 60 - 30);  // cap height below the em
    // Flat baseline: the 'H' stands on row 59.
    int onBaseline = 0;
    for (int x = 20; x < 40; ++x)
        onBaseline += img.GetPixelColor(x, 59) == Rgb(200, 0, 0);
    EXPECT_GT(onBaseline, 2);
    // Without anti-aliasing every touched pixel is the text colour.
    for (int y = ink.y0; y <= ink.y1; ++y)
        for (int x = ink.x0; x <= ink.x1; ++x) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            ASSERT_TRUE(c == Rgb(255, 255, 255) || c == Rgb(200, 0, 0));
        }
}

TEST(TextDraw, EscapementTurnsTextCounterClockwise)
{
    CxImage img = White(200, 300);
    CXTEXTINFO info = Text("Hamburg", -30);
    info.lfont.lfEscapement = 900;
    ASSERT_TRUE(img.DrawStringEx(100, 250, &info));
    const Ink ink = FindInk(img);
    ASSERT_FALSE(ink.Empty());
    const int width = TextExtentWidth(info.lfont, info.text);
    // Reads upwards from (100, 250), letters standing to the left.
    EXPECT_LE(ink.y1, 250 + 1);
    EXPECT_NEAR(ink.y0, 250 - width, 6);
    EXPECT_GE(ink.x0, 100 - 31);
    EXPECT_LE(ink.x1, 100 + 8);
    EXPECT_LT(ink.x0, 100 - 15);
}

TEST(TextDraw, ChineseTextRenders)
{
    CxImage img = White(200, 60);
    const CXTEXTINFO info = Text("你好，世界", -28);
    EXPECT_GT(TextExtentWidth(info.lfont, info.text), 100);
    ASSERT_TRUE(img.DrawStringEx(5, 40, &info));
    EXPECT_GT(FindInk(img).count, 100);
}

TEST(TextDraw, RefusesNothingToDrawAndClipsAtTheEdges)
{
    CxImage img = White(80, 40);
    const CxImage before(img);
    CXTEXTINFO empty = Text("", -20);
    EXPECT_FALSE(img.DrawStringEx(5, 30, &empty));
    EXPECT_FALSE(img.DrawStringEx(5, 30, nullptr));
    EXPECT_EQ(testsupport::MaxChannelDiff(img, before), 0);

    const CXTEXTINFO far = Text("Far away", -20);
    EXPECT_TRUE(img.DrawStringEx(-100000, 5000000, &far));
    EXPECT_TRUE(img.DrawStringEx(2147483647, -2147483647, &far, true));
    EXPECT_EQ(testsupport::MaxChannelDiff(img, before), 0);

    const CXTEXTINFO big = Text("Overflowing the edge", -60);
    EXPECT_TRUE(img.DrawStringEx(-30, 50, &big));
    EXPECT_GT(FindInk(img).count, 50);

    CxImage pal;
    ASSERT_TRUE(pal.Create(60, 30, 8));
    const CXTEXTINFO white = Text("Hi", -20, RGB(255, 255, 255));
    ASSERT_TRUE(pal.DrawStringEx(5, 22, &white));
    EXPECT_EQ(pal.GetBpp(), 24);
}

TEST(TextDraw, SetAlphaComposesTextOverTransparency)
{
    CxImage img;
    ASSERT_TRUE(img.Create(160, 50, 24));
    img.AlphaCreate();
    for (int y = 0; y < 50; ++y)
        std::fill(img.AlphaGetPointer(y), img.AlphaGetPointer(y) + 160, BYTE(0));
    CxImage plain(img);
    const CXTEXTINFO info = Text("Alpha", -30, RGB(255, 255, 0));

    ASSERT_TRUE(img.DrawStringEx(5, 40, &info, true));
    int opaque = 0, partial = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 160; ++x) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            if (c.rgbReserved == 0)
                continue;
            (c.rgbReserved == 255 ? opaque : partial)++;
            // Edges keep the text colour: no dark fringe from the black below.
            ASSERT_TRUE(c.rgbRed == 255 && c.rgbGreen == 255 && c.rgbBlue == 0) << x << "," << y;
        }
    EXPECT_GT(opaque, 50);
    EXPECT_GT(partial, 10);

    // Without bSetAlpha the pixels change but stay transparent.
    ASSERT_TRUE(plain.DrawStringEx(5, 40, &info, false));
    EXPECT_FALSE(std::any_of(plain.AlphaGetPointer(0), plain.AlphaGetPointer(0) + 160 * 50,
                             [](BYTE a) { return a != 0; }));
    EXPECT_GT(plain.GetPixelColor(12, 30).rgbRed + plain.GetPixelColor(20, 30).rgbRed, 0);

    // No alpha plane: bSetAlpha does not invent one.
    CxImage opaqueImg = White(100, 40);
    ASSERT_TRUE(opaqueImg.DrawStringEx(5, 30, &info, true));
    EXPECT_FALSE(opaqueImg.AlphaIsValid());
}

TEST(TextDraw, BoxAndAlignment)
{
    CxImage img = White(200, 80);
    CXTEXTINFO info = Text("Box", -30);
    info.opaque = true;
    info.bcolor = RGB(0, 0, 255);
    info.b_opacity = 0;
    ASSERT_TRUE(img.DrawStringEx(50, 50, &info));
    // Just above the tallest letter, inside the box padding.
    EXPECT_EQ(img.GetPixelColor(52, 50 - 31), Rgb(0, 0, 255));
    EXPECT_EQ(img.GetPixelColor(150, 10), Rgb(255, 255, 255));

    CxImage seeThrough = White(200, 80);
    info.b_opacity = 100;
    ASSERT_TRUE(seeThrough.DrawStringEx(50, 50, &info));
    EXPECT_EQ(seeThrough.GetPixelColor(52, 50 - 31), Rgb(255, 255, 255));

    // Right-aligned lines end together.
    auto rightEdge = [](const CxImage &im, int y0, int y1) {
        int right = -1;
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < im.GetWidth(); ++x)
                if (im.GetPixelColor(x, y).rgbGreen < 128)
                    right = std::max(right, x);
        return right;
    };
    CxImage lines = White(300, 120);
    CXTEXTINFO two = Text("HH\nHHHHHH", -30);
    two.align = 2;
    ASSERT_TRUE(lines.DrawStringEx(10, 40, &two));
    const QFontMetricsF fm(FontFromLogFont(two.lfont));
    const int second = int(40 + fm.lineSpacing());
    EXPECT_NEAR(rightEdge(lines, 0, 42), rightEdge(lines, 42, second + 2), 1);
    EXPECT_GT(rightEdge(lines, 0, 42), 10 + TextExtentWidth(two.lfont, "HHHHHH") - 8);
}

TEST(Stretch, ShrinksWithOurFilterAndComposesTransparency)
{
    CxImage img = testsupport::MakeTestImage(100, 80);
    img.AlphaCreate();
    for (int y = 0; y < 80; ++y)
        for (int x = 50; x < 100; ++x)
            img.AlphaGetPointer(y)[x] = 0;

    QImage canvas(60, 60, QImage::Format_ARGB32);
    canvas.fill(QColor(10, 20, 30));
    {
        QPainter p(&canvas);
        EXPECT_FALSE(img.Stretch(nullptr, 0, 0, 10, 10));
        EXPECT_FALSE(img.Stretch(&p, 0, 0, 0, 10));
        EXPECT_FALSE(img.Stretch(&p, 0, 0, 10, -1));
        ASSERT_TRUE(img.Stretch(&p, 5, 7, 50, 40));
    }
    CxImage expected;
    ASSERT_TRUE(CxImage(img).Resample(50, 40, 0, &expected));
    EXPECT_EQ(canvas.pixel(2, 2), QColor(10, 20, 30).rgb());    // outside the rectangle
    EXPECT_EQ(canvas.pixel(45, 30), QColor(10, 20, 30).rgb());  // transparent half
    for (int y = 0; y < 40; y += 3)
        for (int x = 0; x < 20; x += 3) {
            const RGBQUAD e = expected.GetPixelColor(x, y);
            ASSERT_EQ(canvas.pixel(5 + x, 7 + y), qRgb(e.rgbRed, e.rgbGreen, e.rgbBlue)) << x << "," << y;
        }
}

TEST(Stretch, EnlargesSmoothly)
{
    CxImage img;
    ASSERT_TRUE(img.Create(2, 1, 24));
    img.SetPixelColor(0, 0, Rgb(0, 0, 0));
    img.SetPixelColor(1, 0, Rgb(255, 255, 255));
    QImage canvas(40, 10, QImage::Format_ARGB32);
    canvas.fill(Qt::red);
    {
        QPainter p(&canvas);
        ASSERT_TRUE(img.Stretch(&p, 0, 0, 40, 10));
    }
    EXPECT_LT(qGreen(canvas.pixel(1, 5)), 30);
    EXPECT_GT(qGreen(canvas.pixel(38, 5)), 225);
    const int mid = qGreen(canvas.pixel(20, 5));
    EXPECT_GT(mid, 60);  // blended, not a hard step
    EXPECT_LT(mid, 195);
}
