// The resize rules after the first four, the ratio crop and the pad's canvas.
#include "convert/contentgravity.h"
#include "convert/convertworker.h"
#include "convert/pipeline.h"
#include "imaging/cximagegif.h"
#include "tests/convert/recording_reporter.h"
#include "tests/convert/worker_job.h"
#include "tests/test_support.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <tuple>

using namespace testsupport;

namespace {

CConvertJob RuleJob(int rule, int width, int height, int edge = 0, int percent = 100,
                    bool dontEnlarge = false)
{
    CConvertJob job;
    job.SetResizeFlag(true);
    job.SetResizeType(rule);
    job.SetSize(width, height);
    job.m_nEdgeSize = edge;
    job.m_nPercent = percent;
    job.SetDontEnlarge(dontEnlarge);
    return job;
}

// 600 x 300 of grey (a ramp from dark to light: ramp), with a 60 x 60
// checker of skin tones from x = at, y = 120 when at >= 0.
CxImage Subject(int at, bool ramp = false)
{
    CxImage img;
    img.Create(600, 300, 24);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 600; ++x) {
            const BYTE grey = BYTE(ramp ? 64 + x * 128 / 600 : 128);
            RGBQUAD c{grey, grey, grey, 255};
            if (at >= 0 && x >= at && x < at + 60 && y >= 120 && y < 180)
                c = (x / 10 + y / 10) % 2 ? RGBQUAD{70, 110, 190, 255} : RGBQUAD{140, 180, 235, 255};
            img.SetPixelColor(x, y, c);
        }
    return img;
}

// The pixels of a Subject picture away from its grey.
int SubjectPixels(const CxImage &img)
{
    int n = 0;
    for (int y = 0; y < img.GetHeight(); ++y)
        for (int x = 0; x < img.GetWidth(); ++x) {
            const RGBQUAD c = img.GetPixelColor(x, y);
            n += std::max({std::abs(c.rgbRed - 128), std::abs(c.rgbGreen - 128), std::abs(c.rgbBlue - 128)}) >
                 16;
        }
    return n;
}

} // namespace

TEST(PlanGeometry, LaterRulesOnLandscapeAndPortrait)
{
    struct Row {
        int w, h, rule, W, H, edge, percent;
        bool dontEnlarge;
        const char *ratio; // "" or "rw:rh"
        bool resample;
        std::int64_t tw, th, width, height; // resample target and final size
    };
    const Row rows[] = {
        {400, 300, RESIZE_LONG_EDGE, 0, 0, 100, 100, false, "", true, 100, 75, 100, 75},
        {300, 400, RESIZE_LONG_EDGE, 0, 0, 100, 100, false, "", true, 75, 100, 75, 100},
        {400, 300, RESIZE_SHORT_EDGE, 0, 0, 100, 100, false, "", true, 133, 100, 133, 100},
        {300, 400, RESIZE_SHORT_EDGE, 0, 0, 100, 100, false, "", true, 100, 133, 100, 133},
        {400, 300, RESIZE_PERCENT, 0, 0, 0, 25, false, "", true, 100, 75, 100, 75},
        {300, 400, RESIZE_PERCENT, 0, 0, 0, 1, false, "", true, 3, 4, 3, 4},
        {3, 2, RESIZE_PERCENT, 0, 0, 0, 1, false, "", true, 1, 1, 1, 1}, // never below a pixel
        {400, 300, RESIZE_FILL, 100, 100, 0, 0, false, "", true, 133, 100, 100, 100},
        {300, 400, RESIZE_FILL, 100, 50, 0, 0, false, "", true, 100, 133, 100, 50},
        {400, 300, RESIZE_PAD, 100, 100, 0, 0, false, "", true, 100, 75, 100, 100},
        {300, 400, RESIZE_PAD, 100, 100, 0, 0, false, "", true, 75, 100, 100, 100},
        // Never enlarge: the picture keeps its size, fill crops what it has,
        // pad still makes the whole canvas.
        {400, 300, RESIZE_LONG_EDGE, 0, 0, 800, 100, true, "", false, 800, 600, 400, 300},
        {400, 300, RESIZE_PERCENT, 0, 0, 0, 200, true, "", false, 800, 600, 400, 300},
        {400, 300, RESIZE_FILL, 500, 200, 0, 0, true, "", false, 500, 375, 400, 200},
        {300, 400, RESIZE_PAD, 600, 600, 0, 0, true, "", false, 450, 600, 600, 600},
        // The ratio crop comes first; the rule sees its part.
        {400, 300, RESIZE_LONG_EDGE, 0, 0, 90, 100, false, "1:1", true, 90, 90, 90, 90},
        {300, 400, RESIZE_PERCENT, 0, 0, 0, 50, false, "16:9", true, 150, 85, 150, 85}, // 168.75, 84.5
        {400, 300, -1, 0, 0, 0, 100, false, "16:9", false, 0, 0, 400, 225},
        // These rules and the crop round to the nearest pixel (halves up)...
        {700, 300, RESIZE_LONG_EDGE, 0, 0, 100, 100, false, "", true, 100, 43, 100, 43},    // 42.86
        {500, 300, RESIZE_SHORT_EDGE, 0, 0, 100, 100, false, "", true, 167, 100, 167, 100}, // 166.67
        {333, 100, RESIZE_PERCENT, 0, 0, 0, 50, false, "", true, 167, 50, 167, 50},         // 166.5
        {500, 300, RESIZE_FILL, 100, 100, 0, 0, false, "", true, 167, 100, 100, 100},
        {700, 300, RESIZE_PAD, 100, 100, 0, 0, false, "", true, 100, 43, 100, 100},
        {400, 300, -1, 0, 0, 0, 100, false, "7:5", false, 0, 0, 400, 286}, // 285.71
        {1622, 2880, RESIZE_LONG_EDGE, 0, 0, 640, 100, false, "4:3", true, 640, 480, 640, 480},
        // ...the first four truncate, after a rounded crop too.
        {300, 200, 0, 100, 100, 0, 100, false, "", true, 100, 66, 100, 66},
        {300, 200, 1, 100, 0, 0, 100, false, "", true, 100, 66, 100, 66},
        {200, 300, 2, 0, 100, 0, 100, false, "", true, 66, 100, 66, 100},
        {400, 300, 1, 300, 0, 0, 100, false, "7:5", true, 300, 214, 300, 214}, // 214.5
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h) + " rule " + std::to_string(r.rule) +
                     " " + r.ratio);
        CConvertJob job = RuleJob(r.rule, r.W, r.H, r.edge, r.percent, r.dontEnlarge);
        job.SetResizeFlag(r.rule >= 0);
        if (*r.ratio)
            std::sscanf(r.ratio, "%d:%d", &job.m_nCropRatioW, &job.m_nCropRatioH);
        const GeometryPlan p = PlanGeometry(job, {}, r.w, r.h);
        EXPECT_EQ(p.resample, r.resample);
        if (r.rule >= 0) {
            EXPECT_EQ(p.target.width, r.tw);
            EXPECT_EQ(p.target.height, r.th);
        }
        EXPECT_EQ(p.width, r.width);
        EXPECT_EQ(p.height, r.height);
    }
}

TEST(PlanGeometry, RatioCropSitsAtTheGravity)
{
    // 400 x 300 to 1:1 leaves 100 columns; 300 x 400 leaves 100 rows.
    for (int g = GRAVITY_TOP_LEFT; g <= GRAVITY_BOTTOM_RIGHT; ++g) {
        SCOPED_TRACE(g);
        const CropRect wide = RatioCrop(400, 300, 1, 1, g), tall = RatioCrop(300, 400, 1, 1, g);
        EXPECT_EQ(std::tuple(wide.left, wide.top, wide.width, wide.height),
                  std::tuple(g % 3 * 50, 0, 300, 300));
        EXPECT_EQ(std::tuple(tall.left, tall.top, tall.width, tall.height),
                  std::tuple(0, g / 3 * 50, 300, 300));
    }
}

// A subject near a side: the centre cuts it off, attention and entropy keep
// all of it, after a fill (on the resized picture) and a ratio crop.
TEST(TransformImage, ContentGravitiesKeepTheSubject)
{
    const struct {
        int gravity;
        const char *ratio; // "": a 1:1 fill of 150 x 150
        bool kept;
    } rows[] = {
        {GRAVITY_CENTER, "", false},    {GRAVITY_ATTENTION, "", true},    {GRAVITY_ENTROPY, "", true},
        {GRAVITY_CENTER, "1:1", false}, {GRAVITY_ATTENTION, "1:1", true}, {GRAVITY_ENTROPY, "1:1", true},
    };
    for (const auto &r : rows) {
        for (int at : {30, 510}) {
            SCOPED_TRACE(std::to_string(r.gravity) + " " + r.ratio + " subject at " + std::to_string(at));
            CxImage img = Subject(at);
            CConvertJob job = *r.ratio ? CConvertJob{} : RuleJob(RESIZE_FILL, 150, 150);
            if (*r.ratio)
                std::sscanf(r.ratio, "%d:%d", &job.m_nCropRatioW, &job.m_nCropRatioH);
            job.m_nGravity = r.gravity;
            CxImage whole = img; // as the crop sees it
            ASSERT_TRUE(*r.ratio || whole.Resample(300, 150, 0));
            ASSERT_FALSE(TransformImage(img, job).failed);
            EXPECT_EQ(img.GetWidth(), *r.ratio ? 300 : 150);
            EXPECT_EQ(img.GetHeight(), img.GetWidth());
            EXPECT_EQ(SubjectPixels(img), r.kept ? SubjectPixels(whole) : 0);
        }
    }
    // An animation's later frame is cut where its first one was.
    CxImage first = Subject(30), next = Subject(510);
    CConvertJob job = RuleJob(RESIZE_FILL, 150, 150);
    job.m_nGravity = GRAVITY_ATTENTION;
    ContentCrops crops;
    ASSERT_FALSE(TransformImage(first, job, {}, 0, 0, &crops).failed);
    ASSERT_FALSE(TransformImage(next, job, {}, 0, 0, &crops).failed);
    ASSERT_TRUE(crops.fill && !crops.ratio);
    EXPECT_EQ(crops.fill->left, 0);
    EXPECT_EQ(SubjectPixels(next), 0);
}

// Where nothing scores, the content gravities cut exactly where the centre does.
TEST(ContentCrop, NothingToFindIsTheCentre)
{
    const struct {
        bool ramp; // a grey ramp: brightness, yet no edge, colour or skin
        int gravity;
    } rows[] = {{false, GRAVITY_ATTENTION}, {false, GRAVITY_ENTROPY}, {true, GRAVITY_ATTENTION}};
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.gravity) + (r.ramp ? " ramp" : " grey"));
        const CxImage picture = Subject(-1, r.ramp);
        for (const auto &[w, h] : {std::pair{300, 300}, {600, 101}, {251, 200}}) {
            const CropRect c = ContentCrop(picture, w, h, r.gravity),
                           centre = PlaceAt(600, 300, w, h, GRAVITY_CENTER);
            EXPECT_EQ(std::tuple(c.left, c.top, c.width, c.height),
                      std::tuple(centre.left, centre.top, centre.width, centre.height));
        }
        CxImage content = picture, centred = picture;
        CConvertJob job = RuleJob(RESIZE_FILL, 149, 149);
        ASSERT_FALSE(TransformImage(centred, job).failed);
        job.m_nGravity = r.gravity;
        ASSERT_FALSE(TransformImage(content, job).failed);
        EXPECT_EQ(content.ToQImage(), centred.ToQImage());
    }
}

TEST(TransformImage, FillAndPadMatchAPictureScaledAndPlacedByQt)
{
    struct Row {
        int rule, W, H, gravity, w, h;
        bool alpha;
    };
    const Row rows[] = {
        {RESIZE_FILL, 30, 30, GRAVITY_CENTER, 60, 40, false},
        {RESIZE_FILL, 30, 30, GRAVITY_TOP_LEFT, 40, 60, false},
        {RESIZE_FILL, 25, 10, GRAVITY_BOTTOM_RIGHT, 40, 60, true},
        {RESIZE_PAD, 30, 30, GRAVITY_CENTER, 60, 40, true},
        {RESIZE_PAD, 30, 20, GRAVITY_RIGHT, 40, 60, false},
        {RESIZE_PAD, 31, 31, GRAVITY_BOTTOM, 60, 40, false},
    };
    const COLORREF background = RGB(10, 200, 30);
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.rule) + " gravity " + std::to_string(r.gravity) + " " +
                     std::to_string(r.w) + "x" + std::to_string(r.h));
        CxImage img = MakeTestImage(r.w, r.h);
        if (r.alpha) {
            ASSERT_TRUE(img.AlphaCreate());
            for (int y = 0; y < r.h; ++y)
                for (int x = 0; x < r.w; ++x)
                    img.AlphaGetPointer(y)[x] = BYTE((x * 7 + y * 3) & 255);
        }
        CConvertJob job = RuleJob(r.rule, r.W, r.H);
        job.m_nGravity = r.gravity;
        job.m_crBackground = background;

        // The reference: the same resample, then Qt's copy or painting.
        CxImage scaled = img;
        const ResizeTarget t = ComputeResize(r.w, r.h, job);
        ASSERT_TRUE(scaled.Resample(long(t.width), long(t.height), 0));
        const QImage from = scaled.ToQImage();
        const int gx = r.gravity % 3, gy = r.gravity / 3;
        QImage expected;
        if (r.rule == RESIZE_FILL) {
            expected = from.copy((from.width() - r.W) * gx / 2, (from.height() - r.H) * gy / 2, r.W, r.H);
        } else {
            expected = QImage(r.W, r.H, QImage::Format_ARGB32);
            expected.fill(QColor(10, 200, 30));
            QPainter painter(&expected);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage((r.W - from.width()) * gx / 2, (r.H - from.height()) * gy / 2, from);
        }

        ASSERT_FALSE(TransformImage(img, job).failed);
        EXPECT_EQ(img.ToQImage().convertToFormat(QImage::Format_ARGB32),
                  expected.convertToFormat(QImage::Format_ARGB32));
    }
}

TEST(TransformImage, ReducedDecodeOfARatioCropEndsAsAFullOne)
{
    ScratchDir dir;
    ASSERT_TRUE(MakeTestImage(2000, 1003).Save(dir.Path("big.jpg").c_str(), CXIMAGE_FORMAT_JPG));
    struct Row {
        int rule, W, H;
        const char *ratio;
    };
    const Row rows[] = {
        {RESIZE_FILL, 200, 150, ""}, {RESIZE_PAD, 200, 200, "1:1"}, {RESIZE_LONG_EDGE, 0, 0, "4:3"}};
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.rule) + " " + r.ratio);
        CConvertJob job = RuleJob(r.rule, r.W, r.H, 250);
        if (*r.ratio)
            std::sscanf(r.ratio, "%d:%d", &job.m_nCropRatioW, &job.m_nCropRatioH);
        CxImage reduced;
        ASSERT_TRUE(reduced.Load(dir.Path("big.jpg").c_str(), CXIMAGE_FORMAT_JPG,
                                 {.hintRule = ReducedDecodeRule(job)}));
        EXPECT_LT(reduced.GetWidth(), 2000); // a reduced decode was asked for
        ASSERT_FALSE(TransformImage(reduced, job, {}, reduced.GetSrcWidth(), reduced.GetSrcHeight()).failed);
        CxImage full(dir.Path("big.jpg").c_str(), CXIMAGE_FORMAT_JPG);
        ASSERT_FALSE(TransformImage(full, job).failed);
        ASSERT_EQ(reduced.GetWidth(), full.GetWidth());
        ASSERT_EQ(reduced.GetHeight(), full.GetHeight());
        // A crop's edge may fall half a held pixel off the full decode's.
        EXPECT_GT(Psnr(reduced, full), *r.ratio ? 25.0 : 38.0);
    }
}

TEST(FramingRun, PhotosTurnedUprightFirstAndAnimationsFramedAlike)
{
    struct Row {
        const char *source; // under photo/, "portrait" (20 x 40) or "anim" (a GIF of 40 x 20)
        int rule, W, H, edge;
        const char *ratio;
        int width, height; // of the output
    };
    // orient6.jpg is stored 16 x 32 and shows 32 x 16 upright; orient1.jpg
    // is 32 x 16 as stored, orient8.png stored 16 x 32 turns upright.
    const Row rows[] = {
        {"orient6.jpg", RESIZE_LONG_EDGE, 0, 0, 20, "", 20, 10},
        {"orient6.jpg", RESIZE_FILL, 12, 12, 0, "", 12, 12},
        {"orient6.jpg", RESIZE_PAD, 30, 20, 0, "", 30, 20},
        {"orient6.jpg", -1, 0, 0, 0, "1:1", 16, 16},
        {"orient1.jpg", RESIZE_FILL, 8, 12, 0, "4:3", 8, 12},
        {"orient6.jpg", RESIZE_LONG_EDGE, 0, 0, 21, "", 21, 11}, // 10.5 rounds up
        {"orient1.jpg", -1, 0, 0, 0, "5:3", 27, 16},             // 26.67
        {"portrait", RESIZE_LONG_EDGE, 0, 0, 20, "", 10, 20},
        {"portrait", -1, 0, 0, 0, "16:9", 20, 11},
        {"anim", RESIZE_PAD, 30, 30, 0, "", 30, 30},
        {"anim", -1, 0, 0, 0, "1:1", 20, 20},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.source) + " rule " + std::to_string(r.rule) + " " + r.ratio);
        ScratchDir dir;
        const bool anim = std::string(r.source) == "anim", portrait = std::string(r.source) == "portrait";
        const std::string source = dir.Path(anim ? "a.gif" : portrait ? "p.png" : r.source);
        if (portrait) {
            ASSERT_TRUE(MakeTestImage(20, 40).Save(source.c_str(), CXIMAGE_FORMAT_PNG));
        } else if (anim) {
            std::vector<CxImage> frames(3);
            std::vector<CxImage *> pointers;
            for (CxImage &f : frames) {
                f = MakeTestImage(40, 20);
                f.DecreaseBpp(8, false);
                f.SetFrameDelay(10);
                pointers.push_back(&f);
            }
            CxImageGIF gif;
            CxIOFile file;
            ASSERT_TRUE(file.Open(source.c_str(), "wb"));
            ASSERT_TRUE(gif.Encode(&file, pointers.data(), 3, false));
        } else {
            ASSERT_TRUE(WriteFileBytes(source, ReadFileBytes(DataPath(std::string("photo/") + r.source))));
        }
        CConvertJob job = JobFor({source});
        job.SetOutputFolder(dir.Path(""));
        job.SetRenameFlag(true);
        job.SetSuffix("_out");
        if (r.rule >= 0) {
            job.SetResizeFlag(true);
            job.SetResizeType(r.rule);
            job.SetSize(r.W, r.H);
            job.m_nEdgeSize = r.edge;
            job.m_nPercent = 50;
        }
        if (*r.ratio)
            std::sscanf(r.ratio, "%d:%d", &job.m_nCropRatioW, &job.m_nCropRatioH);
        RecordingReporter reporter;
        ConvertWorker(job, reporter).Run();
        ASSERT_EQ(reporter.results.size(), 1u) << reporter.Log();
        const std::string out = reporter.results[0];
        for (int k = 0; k < (anim ? 3 : 1); ++k) {
            CxImage shown;
            ASSERT_TRUE(shown.Load(out.c_str(), {}, {.frame = k}));
            EXPECT_EQ(shown.GetNumFrames(), anim ? 3 : 1);
            EXPECT_EQ(shown.GetWidth(), r.width) << "frame " << k;
            EXPECT_EQ(shown.GetHeight(), r.height) << "frame " << k;
        }
    }
}
