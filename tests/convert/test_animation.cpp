#include "imaging/codecs/codecs.h"
#include "convert/convertworker.h"
#include "imaging/cxanimation.h"
#include "imaging/cximagegif.h"
#include "tests/convert/recording_reporter.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <array>

using namespace testsupport;

namespace {

// An animation of n frames, w x h, each a different colour with a
// transparent corner, delays 10, 11, 12, ...
void MakeAnimation(const std::string &path, int n, int w, int h, const char *comment, int loops, int disposal)
{
    std::vector<CxImage> frames(static_cast<std::size_t>(n));
    std::vector<CxImage *> ptrs;
    for (int k = 0; k < n; ++k) {
        CxImage &f = frames[std::size_t(k)];
        ASSERT_TRUE(f.Create(w, h, 8));
        RGBQUAD pal[4] = {
            {0, 0, 0, 0}, {BYTE(k * 7), 0, 255, 0}, {0, 255, BYTE(k * 3), 0}, {255, 255, 255, 0}};
        f.SetPalette(pal, 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                f.SetPixelIndex(x, y, BYTE(x < 4 && y < 4 ? 0 : 1 + (x / 4 + y / 4 + k) % 3));
        f.SetTransIndex(0);
        f.SetFrameDelay(10 + k % 50);
        ptrs.push_back(&f);
    }
    CxImageGIF gif;
    gif.SetComment(comment);
    gif.SetLoops(loops);
    gif.SetDisposalMethod(disposal);
    CxIOFile out;
    ASSERT_TRUE(out.Open(path.c_str(), "wb"));
    ASSERT_TRUE(gif.Encode(&out, ptrs.data(), n, false));
}

struct GifFacts {
    int frames = 0, loops = 0, disposal = 0;
    std::string comment;
};

GifFacts ReadFacts(const std::string &path)
{
    GifFacts facts;
    CxIOFile in;
    if (!in.Open(path.c_str(), "rb"))
        return facts;
    CxImageGIF gif;
    if (!gif.Decode(&in))
        return facts;
    facts.frames = gif.GetNumFrames();
    facts.loops = gif.GetLoops();
    facts.disposal = gif.GetDisposalMethod();
    facts.comment = gif.GetComment();
    return facts;
}

CConvertJob GifJob(const std::string &source, const std::string &outDir)
{
    CConvertJob job;
    job.SetFileCount(1);
    job.SetFile(0, source);
    job.SetOutputFolder(outDir);
    job.SetFormat("GIF");
    return job;
}

} // namespace

TEST(AnimatedGif, ResizedFramesKeepTimingTransparencyAndSettings)
{
    ScratchDir src, out;
    const std::string comment(700, 'c'); // longer than one comment block
    MakeAnimation(src.Path("a.gif"), 10, 40, 20, comment.c_str(), 3, 2);
    CConvertJob job = GifJob(src.Path("a.gif"), out.Root());
    job.SetResizeFlag(true);
    job.SetResizeType(1);
    job.SetSize(20, 0);
    RecordingReporter r;
    ConvertWorker(job, r).Run();
    ASSERT_EQ(r.results, std::vector<std::string>{out.Path("a.gif")}) << r.Log();
    EXPECT_EQ(r.summary, "\r\n总计文件: 1; 已转换: 1; 错误: 0。");
    EXPECT_GE(r.statusTicks, 11); // once per file and once per frame

    const GifFacts facts = ReadFacts(out.Path("a.gif"));
    EXPECT_EQ(facts.frames, 10);
    EXPECT_EQ(facts.loops, 3);
    EXPECT_EQ(facts.disposal, 2);
    EXPECT_EQ(facts.comment, comment);
    for (int k = 0; k < 10; ++k) {
        CxImage f;
        ASSERT_TRUE(f.Load(out.Path("a.gif").c_str(), CXIMAGE_FORMAT_GIF, {.frame = k}));
        EXPECT_EQ(f.GetWidth(), 20);
        EXPECT_EQ(f.GetHeight(), 10);
        EXPECT_EQ(f.GetFrameDelay(), 10 + k);
        EXPECT_EQ(f.GetPixelColor(0, 0).rgbReserved, 0) << "frame " << k; // the corner stays clear
        EXPECT_EQ(f.GetPixelColor(15, 7).rgbReserved, 255) << "frame " << k;
    }
}

TEST(AnimatedGif, LongAnimationsKeepTheirFirst512Frames)
{
    ScratchDir src, out;
    MakeAnimation(src.Path("long.gif"), 600, 8, 8, "", 0, 1);
    CConvertJob job = GifJob(src.Path("long.gif"), out.Root());
    job.SetRotateFlag(true);
    job.SetRotation(ROTATE_180);
    RecordingReporter r;
    ConvertWorker(job, r).Run();
    ASSERT_EQ(r.results.size(), 1u) << r.Log();
    EXPECT_EQ(ReadFacts(out.Path("long.gif")).frames, 512);
}

TEST(AnimatedGif, FramesAreEnlargedAndStampedWhateverDontEnlargeSays)
{
    ScratchDir src, out;
    MakeAnimation(src.Path("a.gif"), 3, 40, 20, "", 0, 1);
    CConvertJob job = GifJob(src.Path("a.gif"), out.Root());
    job.SetResizeFlag(true);
    job.SetResizeType(3);
    job.SetSize(120, 60);
    job.SetDontEnlarge(true);
    job.SetStampFlag(true);
    job.SetStamp("Vm", nullptr, RGB(255, 255, 0));
    RecordingReporter r;
    ConvertWorker(job, r).Run();
    ASSERT_EQ(r.results.size(), 1u) << r.Log();
    for (int k = 0; k < 3; ++k) {
        CxImage f;
        ASSERT_TRUE(f.Load(out.Path("a.gif").c_str(), CXIMAGE_FORMAT_GIF, {.frame = k}));
        EXPECT_EQ(f.GetWidth(), 120);
        // Yellow stamp pixels near the lower right of every frame.
        int yellow = 0;
        for (int y = 30; y < 52; ++y)
            for (int x = 60; x < 112; ++x) {
                const RGBQUAD c = f.GetPixelColor(x, y);
                yellow += c.rgbRed > 200 && c.rgbGreen > 200 && c.rgbBlue < 80;
            }
        EXPECT_GT(yellow, 5) << "frame " << k;
    }
}

TEST(AnimatedGif, OtherRoutesTakeOnlyTheFirstFrameOrCopy)
{
    ScratchDir src, out;
    MakeAnimation(src.Path("a.gif"), 4, 16, 16, "", 0, 1);

    // Format GIF and nothing else to do: a plain copy, byte for byte.
    CConvertJob copy = GifJob(src.Path("a.gif"), out.Root());
    RecordingReporter r;
    ConvertWorker(copy, r).Run();
    EXPECT_EQ(ReadFileBytes(out.Path("a.gif")), ReadFileBytes(src.Path("a.gif")));
    EXPECT_TRUE(r.results.empty());

    // To PNG: the first frame as one picture.
    CConvertJob png = GifJob(src.Path("a.gif"), out.Root());
    png.SetFormat("PNG");
    png.SetRotateFlag(true);
    png.SetRotation(ROTATE_LEFT);
    RecordingReporter r2;
    ConvertWorker(png, r2).Run();
    CxImage back(out.Path("a.PNG").c_str(), 0);
    ASSERT_TRUE(back.IsValid()) << r2.Log();
    EXPECT_EQ(back.GetType(), CXIMAGE_FORMAT_PNG);
    EXPECT_EQ(back.GetNumFrames(), 1);
}

TEST(Animation, GifAndWebpConvertIntoEachOtherFrameByFrame)
{
    // a.gif goes to a.webp in one folder, which goes on into the other.
    ScratchDir first, second;
    MakeAnimation(first.Path("a.gif"), 5, 40, 20, "", 3, 1);
    struct Row {
        const ScratchDir &from, &to;
        const char *source, *format, *output;
        int width; // resize to this width (0: no option at all)
        int outWidth, outHeight, webpLoops;
    };
    const Row rows[] = {
        // The type changes: converted even with no option on.
        {first, second, "a.gif", "WEBP", "a.WEBP", 0, 40, 20, 4},
        {second, first, "a.WEBP", "GIF", "a.GIF", 20, 20, 10, 0},
        {second, first, "a.WEBP", "WEBP", "a.WEBP", 20, 20, 10, 4},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.source) + " -> " + r.format);
        CConvertJob job = GifJob(r.from.Path(r.source), r.to.Root());
        job.SetFormat(r.format);
        if (r.width) {
            job.SetResizeFlag(true);
            job.SetResizeType(1);
            job.SetSize(r.width, 0);
        }
        RecordingReporter rep;
        ConvertWorker(job, rep).Run();
        const std::string path = r.to.Path(r.output);
        ASSERT_EQ(rep.results, std::vector<std::string>{path}) << rep.Log();

        if (r.webpLoops) {
            // As the file says it, not through our own mapping back.
            const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
            cxcodec::WebpFrames raw;
            std::string why;
            ASSERT_TRUE(raw.Open(bytes.data(), bytes.size(), why)) << why;
            EXPECT_EQ(raw.LoopCount(), r.webpLoops);
        }
        const std::unique_ptr<CxFrameReader> reader = OpenFrameReader(path.c_str());
        EXPECT_EQ(reader->GetNumFrames(), 5);
        EXPECT_EQ(reader->GetLoops(), 3);
        for (int k = 0; k < 5; ++k) {
            CxImage f;
            ASSERT_TRUE(reader->Next(f)) << k;
            EXPECT_EQ(reader->GetDelayMs(), 100 + 10 * k);
            EXPECT_EQ(f.GetWidth(), r.outWidth);
            EXPECT_EQ(f.GetHeight(), r.outHeight);
            EXPECT_EQ(f.GetPixelColor(0, 0).rgbReserved, 0) << "frame " << k;
            EXPECT_EQ(f.GetPixelColor(r.outWidth - 3, r.outHeight - 3).rgbReserved, 255) << "frame " << k;
        }
    }
}

TEST(Animation, AWebpStoredTurnedIsWrittenUprightUnlessAutoRotateIsOff)
{
    struct Row {
        bool autoRotate;
        const char *format, *output;
        int width, height;       // stored pixels of the output
        const char *orientation; // the output's tag, "-" when absent
    };
    const Row rows[] = {
        {true, "WEBP", "a.webp", 16, 24, "1"},
        {false, "WEBP", "a.webp", 24, 16, "6"},
        {true, "GIF", "a.GIF", 16, 24, "-"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.format) + (r.autoRotate ? " upright" : " as stored"));
        ScratchDir src, out;
        ASSERT_TRUE(WriteFileBytes(src.Path("a.webp"), ReadFileBytes(DataPath("webp/anim-orient6.webp"))));
        CConvertJob job = GifJob(src.Path("a.webp"), out.Root());
        job.SetFormat(r.format);
        job.SetRotateFlag(true); // something to do, so no plain copy
        job.SetRotation(ROTATE_180);
        job.m_bAutoRotate = r.autoRotate;
        RecordingReporter rep;
        ConvertWorker(job, rep).Run();
        const std::string path = out.Path(r.output);
        ASSERT_EQ(rep.results, std::vector<std::string>{path}) << rep.Log();

        const auto keys = MetadataKeys(path);
        EXPECT_EQ(keys.count("Exif.Image.Orientation") ? keys.at("Exif.Image.Orientation") : "-",
                  r.orientation);
        const std::unique_ptr<CxFrameReader> reader = OpenFrameReader(path.c_str(), false);
        EXPECT_EQ(reader->GetNumFrames(), 2);
        EXPECT_EQ(reader->GetLoops(), 3);
        for (int delay : {70, 130}) {
            CxImage f;
            ASSERT_TRUE(reader->Next(f));
            EXPECT_EQ(reader->GetDelayMs(), delay);
            EXPECT_EQ(f.GetWidth(), r.width);
            EXPECT_EQ(f.GetHeight(), r.height);
        }
    }
}

TEST(Animation, EveryFrameOfAWebpIsReadInTheTermsOfItsProfile)
{
    ScratchDir src, out;
    CxImage photo(DataPath("photo/adobergb.jpg").c_str(), CXIMAGE_FORMAT_UNKNOWN);
    ASSERT_FALSE(photo.GetMetadata().icc.empty());
    CxMetadata profile;
    profile.icc = photo.GetMetadata().icc;
    // Two frames of one saturated green, told apart by a corner.
    CxImage frames[2];
    const CxImage *pointers[2] = {&frames[0], &frames[1]};
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(frames[k].Create(8, 8, 24));
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                frames[k].SetPixelColor(x, y, {0, 200, 0, 0});
        frames[k].SetPixelColor(7, 7, {BYTE(255 * k), 0, 0, 0});
    }
    frames[0].SetJpegQuality(100);
    frames[0].SetMetadata(profile);
    {
        CxIOFile file;
        ASSERT_TRUE(file.Open(src.Path("a.webp").c_str(), "wb"));
        ASSERT_TRUE(WriteWebpAnimation(file, pointers, std::array{100, 100}.data(), 2, 0, 0));
    }
    CConvertJob job = GifJob(src.Path("a.webp"), out.Root());
    RecordingReporter rep;
    ConvertWorker(job, rep).Run();
    ASSERT_EQ(rep.results.size(), 1u) << rep.Log();
    const std::unique_ptr<CxFrameReader> reader = OpenFrameReader(rep.results[0].c_str());
    RGBQUAD shown[2];
    for (RGBQUAD &c : shown) {
        CxImage f;
        ASSERT_TRUE(reader->Next(f));
        c = f.GetPixelColor(2, 2);
    }
    EXPECT_NE(shown[0].rgbGreen, 200); // converted to sRGB at all
    EXPECT_EQ(shown[1].rgbRed, shown[0].rgbRed);
    EXPECT_EQ(shown[1].rgbGreen, shown[0].rgbGreen);
    EXPECT_EQ(shown[1].rgbBlue, shown[0].rgbBlue);
}

TEST(Animation, AJpegXlAnimationIsReadFrameByFrame)
{
    // Two 100 ms frames: they stay an animation as GIF or WebP; any other
    // output (a JPEG XL plain copy aside) takes the first.
    const std::string source = DataPath("jxl/animated.jxl");
    EXPECT_EQ(CxImage(source.c_str(), 0).GetNumFrames(), 2);
    const std::pair<const char *, int> rows[] = {{"GIF", 2}, {"WEBP", 2}, {"PNG", 1}};
    for (const auto &[format, frames] : rows) {
        SCOPED_TRACE(format);
        ScratchDir to;
        CConvertJob job = GifJob(source, to.Root());
        job.SetFormat(format);
        RecordingReporter rep;
        ConvertWorker(job, rep).Run();
        ASSERT_EQ(rep.results.size(), 1u) << rep.Log();
        const CxImage still(rep.results[0].c_str(), 0);
        EXPECT_EQ(still.GetWidth(), 24);
        EXPECT_EQ(still.GetNumFrames(), frames);
        if (frames == 1)
            continue;
        const std::unique_ptr<CxFrameReader> reader = OpenFrameReader(rep.results[0].c_str());
        for (int k = 0; k < frames; ++k) {
            CxImage f;
            ASSERT_TRUE(reader->Next(f)) << k;
            EXPECT_EQ(reader->GetDelayMs(), 100);
        }
    }
}

// A dot moving over a white field: one trim box holds it in every frame, and
// the frames are mirrored inside that box.
TEST(AnimatedGif, FramesAreTrimmedByOneBoxAndFlipped)
{
    ScratchDir src, out;
    std::vector<CxImage> frames(2);
    std::vector<CxImage *> ptrs;
    const int dots[2][2] = {{10, 10}, {20, 14}};
    for (int k = 0; k < 2; ++k) {
        CxImage &f = frames[std::size_t(k)];
        ASSERT_TRUE(f.Create(40, 30, 8));
        RGBQUAD pal[2] = {{255, 255, 255, 0}, {0, 0, 255, 0}};
        f.SetPalette(pal, 2);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                f.SetPixelIndex(x, y, BYTE(x >= dots[k][0] && x < dots[k][0] + 4 && y >= dots[k][1] && y < dots[k][1] + 4));
        f.SetFrameDelay(10);
        ptrs.push_back(&f);
    }
    CxImageGIF gif;
    gif.SetDisposalMethod(1);
    CxIOFile file;
    ASSERT_TRUE(file.Open(src.Path("dot.gif").c_str(), "wb"));
    ASSERT_TRUE(gif.Encode(&file, ptrs.data(), 2, false));
    file.Close();
    CConvertJob job = GifJob(src.Path("dot.gif"), out.Root());
    job.m_edits.trim = true;
    job.m_edits.flip = FLIP_HORIZONTAL;
    RecordingReporter r;
    ConvertWorker(job, r).Run();
    ASSERT_EQ(r.results.size(), 1u) << r.Log();
    ASSERT_EQ(ReadFacts(out.Path("dot.gif")).frames, 2);
    for (int k = 0; k < 2; ++k) {
        CxImage f;
        ASSERT_TRUE(f.Load(out.Path("dot.gif").c_str(), CXIMAGE_FORMAT_GIF, {.frame = k}));
        EXPECT_EQ(f.GetWidth(), 14);
        EXPECT_EQ(f.GetHeight(), 8);
        // Frame 0's dot was at the box's left, frame 1's at its right: mirrored.
        const int dotX = k == 0 ? 10 : 0, dotY = k == 0 ? 0 : 4;
        EXPECT_EQ(f.GetPixelColor(dotX + 1, dotY + 1).rgbGreen, 0) << "frame " << k;      // red
        EXPECT_EQ(f.GetPixelColor(k == 0 ? 1 : 12, dotY + 1).rgbGreen, 255) << "frame " << k; // white
    }
}
