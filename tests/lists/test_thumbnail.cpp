// The thumbnail card: where a picture is drawn, the file's own size from a
// reduced decode, and files that give no picture.
#include "imaging/cximage.h"
#include "tests/test_support.h"
#include "imaging/thumbnail.h"

#include <QColor>
#include <QPainter>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

bool IsWhite(const QImage &img, int x, int y)
{
    return img.pixel(x, y) == qRgb(255, 255, 255);
}

TEST(ThumbnailDrawRect, FillsWidthUpToFourByThreeAndHeightBeyond)
{
    EXPECT_EQ(ThumbnailDrawRect(800, 600), QRect(0, 0, 96, 72));  // exactly 4:3
    EXPECT_EQ(ThumbnailDrawRect(600, 800), QRect(21, 0, 54, 72)); // taller
    EXPECT_EQ(ThumbnailDrawRect(1000, 100), QRect(0, 31, 96, 9)); // wide
    EXPECT_EQ(ThumbnailDrawRect(2, 20000), QRect(47, 0, 1, 72));  // a sliver still shows
    EXPECT_TRUE(ThumbnailDrawRect(0, 10).isEmpty());
}

TEST(MakeThumbnail, LargePicturesReportTheirOwnSizeAndFillTheCard)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.Path("wide.jpg");
    CxImage big = testsupport::MakeTestImage(1600, 600);
    const QImage expected = big.ToQImage().scaled(96, 36, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // WebP and JPEG decode at a reduced size for the card, AVIF whole.
    for (const auto &[name, type] : {std::pair{"wide.webp", CXIMAGE_FORMAT_WEBP}, {"wide.avif", CXIMAGE_FORMAT_AVIF},
                                     {"wide.jpg", CXIMAGE_FORMAT_JPG}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(big.Save(dir.Path(name).c_str(), type));
        QImage thumb;
        const ThumbnailResult r = MakeThumbnail(dir.Path(name), type, thumb);
        ASSERT_TRUE(r.valid);
        EXPECT_EQ(r.width, 1600); // not the reduced decode's size
        EXPECT_EQ(r.height, 600);
        ASSERT_EQ(thumb.size(), QSize(96, 72));
        // Drawn at (0, 18) 96 x 36: white bands above and below, picture between.
        const QRect rect = ThumbnailDrawRect(1600, 600);
        EXPECT_EQ(rect, QRect(0, 18, 96, 36));
        EXPECT_TRUE(IsWhite(thumb, 48, 5));
        EXPECT_TRUE(IsWhite(thumb, 48, 66));
        // The test picture's colours survive the reduction roughly where they were.
        for (auto [x, y] : {std::pair{10, 10}, {48, 18}, {85, 30}}) {
            const QColor got = thumb.pixelColor(x, 18 + y);
            const QColor want = expected.pixelColor(x, y);
            EXPECT_NEAR(got.red(), want.red(), 40) << x << "," << y;
            EXPECT_NEAR(got.green(), want.green(), 40) << x << "," << y;
        }
    }

    // A cut-off JPEG still gives a card with what arrived, and its size.
    QImage thumb;
    std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path);
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(testsupport::WriteFileBytes(path, bytes));
    const ThumbnailResult cut = MakeThumbnail(path, CXIMAGE_FORMAT_JPG, thumb);
    ASSERT_TRUE(cut.valid);
    EXPECT_EQ(cut.width, 1600);
    const QColor top = thumb.pixelColor(10, 18 + 10), want = expected.pixelColor(10, 10);
    EXPECT_NEAR(top.red(), want.red(), 40);
}

// A large PNG is box-averaged row by row as it is read, never held whole:
// its card is the one the whole picture gives, also with alpha, when cut
// off, and when tall; a paletted one is read whole.
TEST(MakeThumbnail, LargePngsGiveTheCardOfTheWholePicture)
{
    struct Row {
        const char *name;
        int width, height;
        bool alpha, paletted;
        bool cut; // the file ends at 60 %
    };
    const Row rows[] = {
        {"rgb.png", 1200, 700, false, false, false}, {"rgba.png", 1200, 700, true, false, false},
        {"cut.png", 1200, 700, false, false, true},  {"tall.png", 300, 2000, true, false, true},
        {"paletted.png", 1200, 700, false, true, false},
    };
    testsupport::ScratchDir dir;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        CxImage picture = testsupport::MakeTestImage(r.width, r.height);
        if (r.alpha) {
            ASSERT_TRUE(picture.AlphaCreate());
            for (int y = 0; y < r.height; ++y)
                for (int x = 0; x < r.width; ++x)
                    picture.AlphaGetPointer(y)[x] = BYTE(x ^ y);
        }
        if (r.paletted) {
            ASSERT_TRUE(picture.DecreaseBpp(8, false));
        }
        const std::string path = dir.Path(r.name);
        ASSERT_TRUE(picture.Save(path.c_str(), CXIMAGE_FORMAT_PNG));
        std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path);
        if (r.cut) {
            bytes.resize(bytes.size() * 6 / 10);
            ASSERT_TRUE(testsupport::WriteFileBytes(path, bytes));
        }
        // The card from the whole picture, as a viewer decodes it.
        CxImage whole;
        ASSERT_TRUE(
            whole.Decode(bytes.data(), bytes.size(), CXIMAGE_FORMAT_UNKNOWN, {.acceptTruncated = true}));
        QImage expected(kThumbWidth, kThumbHeight, QImage::Format_RGB32);
        expected.fill(Qt::white);
        {
            QPainter painter(&expected);
            const QRect rect = ThumbnailDrawRect(r.width, r.height);
            ASSERT_TRUE(whole.Stretch(&painter, rect.left(), rect.top(), rect.width(), rect.height()));
        }
        QImage thumb;
        const ThumbnailResult got = MakeThumbnail(path, CXIMAGE_FORMAT_PNG, thumb);
        ASSERT_TRUE(got.valid);
        EXPECT_EQ(got.width, r.width);
        EXPECT_EQ(got.height, r.height);
        EXPECT_EQ(thumb, expected);
    }
}

TEST(MakeThumbnail, UnreadableFilesGiveABlankCardAndNoSize)
{
    testsupport::ScratchDir dir;
    std::ofstream(dir.Path("q.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n not really";
    ASSERT_EQ(::mkfifo(dir.Path("pipe.jpg").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.Path("folder.bmp").c_str(), 0700), 0);
    for (const char *name : {"q.png", "pipe.jpg", "folder.bmp", "missing.gif", "q.png/under.png"}) {
        QImage thumb;
        // A pipe must be refused, not waited on: this would hang otherwise.
        const ThumbnailResult r = MakeThumbnail(dir.Path(name), 4, thumb);
        EXPECT_FALSE(r.valid) << name;
        EXPECT_EQ(r.width, 0) << name;
        EXPECT_EQ(r.height, 0) << name;
    }
}

TEST(MakeThumbnail, RaisedCancelFlagEndsTheDecode)
{
    testsupport::ScratchDir dir;
    const std::string path = dir.Path("p.png");
    ASSERT_TRUE(testsupport::MakeTestImage(640, 480).Save(path.c_str(), CXIMAGE_FORMAT_PNG));
    for (const bool raised : {false, true}) {
        const std::atomic<bool> cancel{raised};
        QImage thumb;
        EXPECT_EQ(MakeThumbnail(path, CXIMAGE_FORMAT_PNG, thumb, &cancel).valid, !raised) << raised;
    }
}

} // namespace
