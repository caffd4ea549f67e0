#include "viewer/viewergeometry.h"

#include <gtest/gtest.h>

using namespace viewgeom;

namespace {
const Size kScreen{800, 600};
}

TEST(ViewerGeometry, FitShrinksLargePicturesKeepingTheirShapeAndLeavesSmallOnesAlone)
{
    // Wide: limited by the width after trying the height.
    EXPECT_EQ(DisplaySize(1600, 1000, false, 1.0f, false, kScreen), (Size{800, 500}));
    // Tall: limited by the height.
    EXPECT_EQ(DisplaySize(1000, 2000, false, 1.0f, false, kScreen), (Size{300, 600}));
    // Larger in one direction only still shrinks.
    EXPECT_EQ(DisplaySize(900, 100, false, 1.0f, false, kScreen), (Size{800, 88}));
    EXPECT_EQ(DisplaySize(640, 480, false, 1.0f, false, kScreen), (Size{640, 480}));
    // Full size and zoom use the natural size; the factor applies to it.
    EXPECT_EQ(DisplaySize(1600, 1000, false, 1.0f, true, kScreen), (Size{1600, 1000}));
    EXPECT_EQ(DisplaySize(1600, 1000, true, 1.33f, false, kScreen), (Size{2128, 1330}));
    EXPECT_EQ(DisplaySize(1600, 1000, true, 1.0f, false, kScreen), (Size{1600, 1000}));
    // A hair-thin picture keeps a visible pixel; nothing at all stays nothing.
    EXPECT_EQ(DisplaySize(10000, 1, false, 1.0f, false, kScreen), (Size{800, 1}));
    EXPECT_EQ(DisplaySize(0, 0, false, 1.0f, false, kScreen), (Size{0, 0}));
}

TEST(ViewerGeometry, SmallPicturesAreCentredAndLargeOnesGrowTheCanvas)
{
    const Layout small = LayoutImage({641, 481}, kScreen);
    EXPECT_EQ(small.image, (WinRect{79, 59, 720, 540}));
    EXPECT_EQ(small.canvas, kScreen);

    const Layout wide = LayoutImage({2000, 300}, kScreen);
    EXPECT_EQ(wide.image, (WinRect{0, 150, 2000, 450}));
    EXPECT_EQ(wide.canvas, (Size{2000, 600}));
    // Exactly the screen's size: no centring offset, no extra canvas.
    EXPECT_EQ(LayoutImage(kScreen, kScreen).image, (WinRect{0, 0, 800, 600}));
}

TEST(ViewerGeometry, ZoomingInKeepsTheScreenCentreOnThePicturePoint)
{
    // A picture 1064 wide shown from x = 300: the centre (700) is point 700.
    const int before = 300;
    const int display = int(1064 * 1.33);
    const int after = ScrollAfterLayout(true, true, before, display, display, 800);
    EXPECT_EQ(after, int((300 + 400) * 1.33 - 400));
    EXPECT_NEAR((after + 400) / 1.33, before + 400, 1.0);
    // From the left edge a picture that has just outgrown the screen is centred.
    EXPECT_EQ(ScrollAfterLayout(true, true, 0, 1000, 1000, 800), 100);
    // An axis that fits has nothing to scroll.
    EXPECT_EQ(ScrollAfterLayout(true, true, 0, 500, 800, 800), 0);
    // Without a zoom the view starts at the top left.
    EXPECT_EQ(ScrollAfterLayout(false, true, 250, 2000, 2000, 800), 0);
}

TEST(ViewerGeometry, ZoomingOutKeepsTheCentreAndNeverLeavesThePicture)
{
    const int after = ScrollAfterLayout(true, false, 700, 1500, 1500, 800);
    EXPECT_EQ(after, int((700 + 400) * kZoomOutStep - 400));
    // Near the far edge of a picture that shrinks a lot, the kept centre
    // would lie past the new end: the view stops at the end instead.
    EXPECT_EQ(ScrollAfterLayout(true, false, 1200, 900, 900, 800), 100);
    // Near the start it stops at 0; a picture that now fits has no scroll.
    EXPECT_EQ(ScrollAfterLayout(true, false, 10, 1200, 1200, 800), 0);
    EXPECT_EQ(ScrollAfterLayout(true, false, 400, 700, 800, 800), 0);
    EXPECT_EQ(ClampScroll(-5, 1000, 800), 0);
    EXPECT_EQ(ClampScroll(500, 1000, 800), 200);
    EXPECT_EQ(ClampScroll(30, 800, 800), 0);
}

TEST(ViewerGeometry, VisiblePartMapsWindowPixelsToPicturePixels)
{
    // A 100 x 50 picture zoomed 4x onto a 400 x 200 canvas, window 150 x 100
    // scrolled to (110, 30): window x 0 is canvas 110, picture 27.5.
    const VisiblePart part = VisibleImagePart({0, 0, 400, 200}, 110, 30, {150, 100}, {100, 50});
    ASSERT_FALSE(part.IsEmpty());
    EXPECT_DOUBLE_EQ(part.source.left(), 27.0);
    EXPECT_DOUBLE_EQ(part.source.right(), 65.0); // canvas 260 is picture 65
    EXPECT_DOUBLE_EQ(part.source.top(), 7.0);
    EXPECT_DOUBLE_EQ(part.source.bottom(), 33.0); // ceil(130 / 4)
    // The whole source pixel 27 is drawn, starting 2 pixels left of the window.
    EXPECT_DOUBLE_EQ(part.target.left(), -2.0);
    EXPECT_DOUBLE_EQ(part.target.width(), part.source.width() * 4.0);
    EXPECT_DOUBLE_EQ(part.target.top(), -2.0);

    // A centred picture at 1:1 is drawn whole at its place.
    const VisiblePart centred = VisibleImagePart({200, 100, 600, 500}, 0, 0, {800, 600}, {400, 400});
    EXPECT_EQ(centred.source, QRectF(0, 0, 400, 400));
    EXPECT_EQ(centred.target, QRectF(200, 100, 400, 400));
    // Scrolled right out of view, or nothing shown: nothing to draw.
    EXPECT_TRUE(VisibleImagePart({0, 0, 400, 200}, 400, 0, {150, 100}, {100, 50}).IsEmpty());
    EXPECT_TRUE(VisibleImagePart({400, 300, 400, 300}, 0, 0, {800, 600}, {0, 0}).IsEmpty());
}

TEST(ViewerGeometry, SlideIntervalHasAFloorAndNoOverflow)
{
    EXPECT_EQ(SlideIntervalMs(5), 5000);
    EXPECT_EQ(SlideIntervalMs(0), kMinSlideIntervalMs);
    EXPECT_EQ(SlideIntervalMs(-3), kMinSlideIntervalMs);
    EXPECT_EQ(SlideIntervalMs(100), 100000);
    EXPECT_EQ(SlideIntervalMs(3'000'000), 2147483647);
}

// 100 % is a picture pixel to a device pixel on any screen scale.
TEST(ViewerGeometry, ActualSizeIsOnePicturePixelToADevicePixel)
{
    const struct {
        double dpr;
        Size image;
        Size shown; // window pixels
    } rows[] = {
        {1.0, {200, 120}, {200, 120}}, // as drawn so far
        {2.0, {200, 120}, {100, 60}},  // a window pixel holds 2 x 2
        {2.0, {201, 1}, {101, 1}},     // a part pixel still takes a window pixel
        {1.5, {300, 99}, {200, 66}},   // fractional scales
        {3.0, {10, 10}, {4, 4}},       //
        {0.0, {50, 40}, {50, 40}},     // no scale known: as 1
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.dpr);
        EXPECT_EQ(ActualSize(row.image, row.dpr), row.shown);
        // Centred on the screen, the whole picture is drawn at 1 / dpr.
        const Layout l = LayoutImage(row.shown, kScreen);
        const VisiblePart whole = VisibleActualPart(l.image, 0, 0, kScreen, row.image, row.dpr);
        EXPECT_EQ(whole.source, QRectF(0, 0, row.image.width, row.image.height));
        EXPECT_EQ(whole.target.topLeft(), QPointF(l.image.left, l.image.top));
        const double ratio = row.dpr > 0 ? row.dpr : 1.0;
        EXPECT_NEAR(whole.target.width() * ratio, row.image.width, 1e-9);
        EXPECT_NEAR(whole.target.height() * ratio, row.image.height, 1e-9);
    }
    // Scrolled into a large picture at 2: window x 0 is canvas 100, picture 200.
    const VisiblePart part = VisibleActualPart({0, 0, 1000, 700}, 100, 50, kScreen, {2000, 1400}, 2.0);
    EXPECT_EQ(part.source, QRectF(200, 100, 1600, 1200));
    EXPECT_EQ(part.target, QRectF(0, 0, 800, 600));
}

TEST(ViewerGeometry, AFollowingCanvasShowsTheSameShareOfItsPicture)
{
    // Centre at 400 of 1000 is 40 %: 40 % of 2000 is 800, less half a screen.
    EXPECT_EQ(FollowingScroll(0, 1000, 2000, 800), 400);
    EXPECT_EQ(FollowingScroll(100, 1000, 1000, 800), 100); // the same canvas stays
    EXPECT_EQ(FollowingScroll(200, 1000, 900, 800), 100);  // clamped to the end
    EXPECT_EQ(FollowingScroll(200, 1000, 800, 800), 0);    // a canvas that fits
    EXPECT_EQ(FollowingScroll(0, 0, 3000, 800), 0);
}
