// The watermark's place, margin, opacity, size, shadow and logo.
#include "convert/convertjob.h"
#include "convert/pipeline.h"
#include "convert/watermark.h"
#include "tests/test_support.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

CxImage Solid(int w, int h, BYTE r, BYTE g, BYTE b)
{
    CxImage img;
    img.Create(w, h, 24);
    for (int y = 0; y < h; ++y) {
        BYTE *row = img.GetBits(y);
        for (int x = 0; x < w; ++x) {
            row[x * 3] = b;
            row[x * 3 + 1] = g;
            row[x * 3 + 2] = r;
        }
    }
    return img;
}

// The smallest rectangle holding every pixel that differs from grey.
QRect Changed(const CxImage &img)
{
    QRect box;
    for (int y = 0; y < int(img.GetHeight()); ++y) {
        const BYTE *row = img.GetBits(y);
        for (int x = 0; x < int(img.GetWidth()); ++x)
            if (row[x * 3] != 128 || row[x * 3 + 1] != 128 || row[x * 3 + 2] != 128)
                box |= QRect(x, y, 1, 1);
    }
    return box;
}

QColor At(const CxImage &img, int x, int y)
{
    const BYTE *p = img.GetBits(y) + x * 3;
    return QColor(p[2], p[1], p[0]);
}

CConvertJob LogoJob(int position, int margin, int opacity, const CxImage &logo)
{
    CConvertJob job;
    job.m_logo = std::make_shared<CxImage>(logo);
    job.m_nLogoSizePercent = 10;
    job.m_nStampPosition = position;
    job.m_nStampMargin = margin;
    job.m_nStampOpacity = opacity;
    return job;
}

} // namespace

// Each anchor puts a 10 x 10 logo where the margin and the picture's sides
// say.
TEST(Watermark, LogoAtEachAnchorAndOpacity)
{
    const CxImage red = Solid(20, 20, 255, 0, 0);
    const struct {
        int position, margin, opacity;
        QRect where; // in a 100 x 60 picture, y from the top
        int red;     // the red channel inside
    } rows[] = {
        {GRAVITY_TOP_LEFT, 5, 100, {5, 5, 10, 10}, 255},
        {GRAVITY_TOP, 5, 100, {45, 5, 10, 10}, 255},
        {GRAVITY_TOP_RIGHT, 5, 100, {85, 5, 10, 10}, 255},
        {GRAVITY_LEFT, 0, 100, {0, 25, 10, 10}, 255},
        {GRAVITY_CENTER, 7, 100, {45, 25, 10, 10}, 255},
        {GRAVITY_RIGHT, 3, 100, {87, 25, 10, 10}, 255},
        {GRAVITY_BOTTOM_LEFT, 10, 100, {10, 40, 10, 10}, 255},
        {GRAVITY_BOTTOM, 2, 100, {45, 48, 10, 10}, 255},
        {GRAVITY_BOTTOM_RIGHT, 10, 50, {80, 40, 10, 10}, 192},
        {GRAVITY_TOP_LEFT, 0, 0, {}, 128},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.position * 1000 + row.opacity);
        CxImage img = Solid(100, 60, 128, 128, 128);
        ASSERT_TRUE(DrawWatermark(img, LogoJob(row.position, row.margin, row.opacity, red)));
        EXPECT_EQ(Changed(img), row.where);
        const QPoint inside = row.where.isNull() ? QPoint(0, 0) : row.where.center();
        EXPECT_NEAR(At(img, inside.x(), inside.y()).red(), row.red, 1);
    }
}

TEST(Watermark, LogoAlphaIsKeptAndTheStampCountsForQuality)
{
    CxImage logo = Solid(10, 10, 0, 0, 255);
    ASSERT_TRUE(logo.AlphaCreate());
    for (int y = 0; y < 10; ++y)
        std::fill_n(logo.AlphaGetPointer(y), 10, BYTE(y < 5 ? 0 : 255)); // half clear
    CConvertJob job = LogoJob(GRAVITY_TOP_LEFT, 0, 100, logo);
    CxImage img = Solid(100, 100, 128, 128, 128);
    const TransformOutcome out = TransformImage(img, job);
    EXPECT_TRUE(out.stampDrawn); // so a JPEG gets 95, as with a text stamp
    EXPECT_TRUE(job.ChangesPixels());
    // The logo's top rows (clear) leave the grey; its bottom rows are blue.
    EXPECT_EQ(At(img, 2, 2), QColor(128, 128, 128));
    EXPECT_EQ(At(img, 2, 8), QColor(0, 0, 255));
}

// The text: each anchor keeps it inside the picture at the margin, its size
// follows the picture's height, and a shadow adds the other colour.
TEST(Watermark, TextPlacedSizedAndShadowed)
{
    const struct {
        int position, sizePercent;
        bool shadow;
        int height;
    } rows[] = {
        {GRAVITY_TOP_LEFT, 0, false, 200}, {GRAVITY_CENTER, 0, false, 200}, {GRAVITY_BOTTOM_LEFT, 10, false, 200},
        {GRAVITY_TOP_RIGHT, 10, false, 400}, {GRAVITY_BOTTOM_RIGHT, 0, true, 200},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.position * 100 + row.sizePercent);
        CConvertJob job;
        job.SetStampFlag(true);
        LOGFONT font{};
        font.lfHeight = -16;
        job.SetStamp("Velmora", &font, RGB(255, 255, 255));
        job.m_nStampPosition = row.position;
        job.m_nStampSizePercent = row.sizePercent;
        job.m_bStampShadow = row.shadow;
        CxImage img = Solid(300, row.height, 128, 128, 128);
        EXPECT_FALSE(IsPlainStamp(job));
        ASSERT_TRUE(DrawWatermark(img, job));
        const QRect box = Changed(img);
        ASSERT_FALSE(box.isNull());
        const int column = row.position % 3;
        if (column == 0) {
            EXPECT_GE(box.left(), kDefaultStampMargin - 1);
        } else if (column == 2) {
            EXPECT_LE(box.right(), 300 - kDefaultStampMargin + 1);
        } else {
            EXPECT_NEAR(box.center().x(), 150, 3);
        }
        const int wantHeight = row.sizePercent ? row.height * row.sizePercent / 100 : 16;
        EXPECT_GT(box.height(), wantHeight / 2);
        EXPECT_LT(box.height(), wantHeight * 3 / 2 + 4);
        bool dark = false;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                dark |= At(img, x, y).red() < 40;
        EXPECT_EQ(dark, row.shadow); // black shadow under white text
    }
}

TEST(Watermark, TheDefaultsAreThePlainStamp)
{
    CConvertJob job;
    job.SetStampFlag(true);
    job.SetStamp("x", nullptr, RGB(0, 0, 0));
    EXPECT_TRUE(IsPlainStamp(job));
    for (auto change : {+[](CConvertJob &j) { j.m_nStampPosition = GRAVITY_TOP; },
                        +[](CConvertJob &j) { j.m_nStampMargin = 11; },
                        +[](CConvertJob &j) { j.m_nStampOpacity = 99; },
                        +[](CConvertJob &j) { j.m_nStampSizePercent = 5; },
                        +[](CConvertJob &j) { j.m_bStampShadow = true; }}) {
        CConvertJob changed = job;
        change(changed);
        EXPECT_FALSE(IsPlainStamp(changed));
    }
}
