#include "imaging/octreequantizer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

CxImage RowsOf(const std::vector<std::vector<RGBQUAD>> &rows)
{
    CxImage img;
    img.Create(int(rows[0].size()), int(rows.size()), 24);
    for (int y = 0; y < int(rows.size()); ++y)
        for (int x = 0; x < int(rows[0].size()); ++x)
            img.SetPixelColor(x, y, rows[std::size_t(y)][std::size_t(x)]);
    return img;
}

RGBQUAD Red(int r)
{
    return RGBQUAD{0, 0, BYTE(r), 0};
}

std::vector<RGBQUAD> Table(const COctreeQuantizer &q)
{
    std::vector<RGBQUAD> pal(std::size_t(q.GetColorCount()));
    q.SetColorTable(pal.data());
    return pal;
}

}  // namespace

TEST(Octree, ExactColoursComeOutInChildOrder)
{
    const RGBQUAD white{255, 255, 255, 0}, red{0, 0, 255, 0}, green{0, 255, 0, 0}, blue{255, 0, 0, 0},
        black{0, 0, 0, 0};
    CxImage img = RowsOf({{white, red, green}, {blue, black, red}});
    COctreeQuantizer q(256, 6);
    ASSERT_TRUE(q.ProcessImage(img));
    const std::vector<RGBQUAD> pal = Table(q);
    // Child index is R*4 + G*2 + B of each level's bit.
    const std::vector<RGBQUAD> expected{black, blue, green, red, white};
    EXPECT_EQ(pal, expected);
}

TEST(Octree, LeafAveragesItsPixelsWithIntegerDivision)
{
    // 100 and 103 share their top six bits, so they meet in one leaf.
    const RGBQUAD a{100, 100, 100, 0}, b{103, 103, 103, 0};
    CxImage img = RowsOf({{a, a, a, b}});
    COctreeQuantizer q(256, 6);
    ASSERT_TRUE(q.ProcessImage(img));
    ASSERT_EQ(q.GetColorCount(), 1);
    EXPECT_EQ(Table(q)[0], (RGBQUAD{100, 100, 100, 0}));  // 403 / 4
}

TEST(Octree, PalettedPixelsCarryTheReservedByte)
{
    CxImage img;
    ASSERT_TRUE(img.Create(4, 4, 8));
    RGBQUAD pal[2] = {{10, 20, 30, 77}, {200, 100, 50, 9}};
    ASSERT_TRUE(img.SetPalette(pal, 2));
    for (int x = 0; x < 4; ++x)
        img.SetPixelIndex(x, 1, 1);
    COctreeQuantizer q(256, 6);
    ASSERT_TRUE(q.ProcessImage(img));
    const std::vector<RGBQUAD> out = Table(q);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], pal[0]);
    EXPECT_EQ(out[1], pal[1]);
}

// With three colours allowed, the fourth makes the tree merge the level-1
// node created last, so the result shows the order pixels were added in.
TEST(Octree, WalksRowsBottomUpAndLeftToRight)
{
    const RGBQUAD x1 = Red(0x00), x2 = Red(0x40), y1 = Red(0x80), y2 = Red(0xC0);
    {
        CxImage img = RowsOf({{y1, y2}, {x1, x2}});  // bottom row added first
        COctreeQuantizer q(3, 2);
        ASSERT_TRUE(q.ProcessImage(img));
        const std::vector<RGBQUAD> expected{x1, x2, Red(0xA0)};
        EXPECT_EQ(Table(q), expected);
    }
    {
        CxImage img = RowsOf({{y1, y2, x1, x2}});
        COctreeQuantizer q(3, 2);
        ASSERT_TRUE(q.ProcessImage(img));
        const std::vector<RGBQUAD> expected{Red(0x20), y1, y2};
        EXPECT_EQ(Table(q), expected);
    }
}

TEST(Octree, ManyColoursReduceToTheLimit)
{
    CxImage img = testsupport::MakeTestImage(300, 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) {
            RGBQUAD c = img.GetPixelColor(x, y);
            c.rgbBlue = BYTE((x * 7 + y * 13) & 0xFF);
            img.SetPixelColor(x, y, c);
        }
    COctreeQuantizer q(256, 6);
    ASSERT_TRUE(q.ProcessImage(img));
    const std::vector<RGBQUAD> pal = Table(q);
    EXPECT_LE(pal.size(), 256u);
    EXPECT_GT(pal.size(), 64u);
    std::set<std::uint32_t> distinct;
    for (const RGBQUAD &c : pal)
        distinct.insert(std::uint32_t(c.rgbRed) << 16 | std::uint32_t(c.rgbGreen) << 8 | c.rgbBlue);
    EXPECT_EQ(distinct.size(), pal.size());
}

TEST(Octree, HugeSingleColourImageDoesNotOverflow)
{
    CxImage img;
    ASSERT_TRUE(img.Create(5000, 5000, 24));
    for (int y = 0; y < 5000; ++y) {
        BYTE *p = img.GetBits(y);
        for (int x = 0; x < 5000; ++x) {
            p[x * 3] = 251;
            p[x * 3 + 1] = 252;
            p[x * 3 + 2] = 253;
        }
    }
    COctreeQuantizer q(256, 6);
    ASSERT_TRUE(q.ProcessImage(img));
    ASSERT_EQ(q.GetColorCount(), 1);
    EXPECT_EQ(Table(q)[0], (RGBQUAD{251, 252, 253, 0}));
}

TEST(Octree, EmptyImageAndDepthLimit)
{
    COctreeQuantizer q(256, 6);
    EXPECT_FALSE(q.ProcessImage(CxImage()));
    EXPECT_EQ(q.GetColorCount(), 0);

    // Depth 12 is cut to 8: colours one step apart stay separate.
    COctreeQuantizer deep(256, 12);
    deep.AddColor(10, 10, 10, 0);
    deep.AddColor(11, 10, 10, 0);
    EXPECT_EQ(deep.GetColorCount(), 2);
    COctreeQuantizer shallow(256, 6);
    shallow.AddColor(10, 10, 10, 0);
    shallow.AddColor(11, 10, 10, 0);
    EXPECT_EQ(shallow.GetColorCount(), 1);
}
