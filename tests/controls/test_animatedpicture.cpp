#include "controls/animatedpicture.h"
#include "tests/controls/gif_builder.h"
#include "resources/ids_controls.h"
#include "tests/controls/step_clock.h"
#include "tests/test_support.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <algorithm>

using gifbuild::Bytes;

namespace {

struct Area {
    QRect rect;
    QColor colour;
};

// Every pixel: `rest`, with each area painted over it in turn.
void ExpectPixels(const QImage &image, const QColor &rest, const std::vector<Area> &areas = {})
{
    ASSERT_FALSE(image.isNull());
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor want = rest;
            for (const Area &a : areas)
                want = a.rect.contains(x, y) ? a.colour : want;
            if (image.pixelColor(x, y) != want && ++wrong <= 3)
                ADD_FAILURE() << "(" << x << ", " << y << ") is "
                              << image.pixelColor(x, y).name().toStdString() << ", expected "
                              << want.name().toStdString();
        }
}

// Loads from an exact-size copy: a read past the end leaves the heap block.
bool Load(CAnimatedPicture &pic, const Bytes &bytes)
{
    const Bytes copy(bytes);
    return pic.LoadPicture(copy.data(), copy.size());
}

const QColor kColours[] = {Qt::red, Qt::green, Qt::blue, Qt::white};

// Full-screen 4 x 4 frames in kColours order, with these delays.
Bytes Frames(const std::vector<int> &delays)
{
    std::vector<gifbuild::FrameDesc> specs;
    for (std::size_t k = 0; k < delays.size(); ++k)
        specs.push_back({kColours[k % 4], 4, 4, 0, 0, delays[k], 0});
    return gifbuild::BuildAnimation(specs, 4, 4);
}

} // namespace

TEST(AnimatedPicture, StillPicturesAreDrawnWithoutAThread)
{
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, gifbuild::BuildAnimation({{Qt::magenta, 5, 3}}, 5, 3)));
    EXPECT_TRUE(pic.IsGif());
    EXPECT_EQ(pic.GetFrameCount(), 1);
    EXPECT_EQ(pic.size(), QSize(5, 3)); // the control takes the picture's size
    pic.StartShow();
    EXPECT_FALSE(pic.IsAnimating());
    ExpectPixels(pic.GetCanvas(), Qt::magenta);

    QImage still(7, 2, QImage::Format_RGB32);
    still.fill(Qt::darkCyan);
    still.setPixelColor(6, 1, Qt::yellow);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && still.save(&buffer, "PNG"));
    ASSERT_TRUE(pic.LoadPicture(png));
    EXPECT_FALSE(pic.IsGif());
    EXPECT_EQ(pic.GetPictureSize(), QSize(7, 2));
    pic.StartShow();
    ExpectPixels(pic.GetCanvas(), Qt::darkCyan, {{QRect(6, 1, 1, 1), Qt::yellow}});

    // The error picture of our resources: dark red text on white.
    ASSERT_TRUE(pic.LoadPictureResource(controlsid::IDR_GIF_FILE_ERROR, controlsid::RT_GIF));
    EXPECT_EQ(pic.GetPictureSize(), QSize(142, 21));
    pic.SetBackColour(RGB(255, 255, 255));
    pic.StartShow();
    const QImage canvas = pic.GetCanvas();
    int text = 0;
    for (int x = 0; x < 142; ++x)
        text += canvas.pixelColor(x, 10).red() > 120 && canvas.pixelColor(x, 10).green() < 80;
    EXPECT_GT(text, 10);
    EXPECT_EQ(canvas.pixelColor(0, 0), Qt::white);
    EXPECT_FALSE(pic.LoadPictureResource(999, controlsid::RT_GIF));
    EXPECT_FALSE(pic.LoadPictureResource(controlsid::IDR_GIF_FILE_ERROR, "BMP"));
    EXPECT_EQ(clock.Requests().size(), 0u);
}

TEST(AnimatedPicture, FramesFollowInOrderWithTheirDelaysAndLoop)
{
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, Frames({3, 50, 4, 5}))); // around the 100 ms floor
    EXPECT_EQ(pic.GetFrameCount(), 4);
    pic.StartShow();
    for (std::size_t n = 1; n <= 9; ++n) {
        ASSERT_TRUE(clock.RunTo(n));
        EXPECT_TRUE(pic.IsAnimating());
        EXPECT_EQ(pic.GetCurrentFrame(), int((n - 1) % 4));
        ExpectPixels(pic.GetCanvas(), kColours[(n - 1) % 4]);
    }
    pic.StopAnimation();
    EXPECT_FALSE(pic.IsAnimating());
    EXPECT_TRUE(clock.Idle());
    EXPECT_EQ(clock.Requests(), (std::vector<int>{100, 500, 100, 50, 100, 500, 100, 50, 100}));

    pic.StartShow(); // shown again: from the first frame
    ASSERT_TRUE(clock.RunTo(10));
    EXPECT_EQ(pic.GetCurrentFrame(), 0);
    ExpectPixels(pic.GetCanvas(), Qt::red);
}

TEST(AnimatedPicture, DisposalAndTheClearBeforeEachRound)
{
    const QColor yellow(255, 255, 0);
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    // Green square restored to what lay under it, blue corner restored to the
    // background, a white corner left; all on a red frame that is kept.
    ASSERT_TRUE(Load(pic, gifbuild::BuildAnimation({{Qt::red, 6, 6, 0, 0, 10, 1},
                                                    {Qt::green, 2, 2, 2, 2, 10, 3},
                                                    {Qt::blue, 2, 2, 0, 0, 10, 2},
                                                    {Qt::white, 2, 2, 6, 6, 10, 0}},
                                                   8, 8)));
    pic.SetBackColour(RGB(255, 255, 0));
    pic.StartShow();
    const QRect red(0, 0, 6, 6);
    const std::vector<std::vector<Area>> steps = {
        {{red, Qt::red}},
        {{red, Qt::red}, {QRect(2, 2, 2, 2), Qt::green}},
        {{red, Qt::red}, {QRect(0, 0, 2, 2), Qt::blue}},
        {{red, Qt::red}, {QRect(0, 0, 2, 2), yellow}, {QRect(6, 6, 2, 2), Qt::white}},
        {{red, Qt::red}}, // round again: cleared, so the white corner is gone
    };
    for (std::size_t n = 0; n < steps.size(); ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(clock.RunTo(n + 1));
        ExpectPixels(pic.GetCanvas(), yellow, steps[n]);
    }
}

TEST(AnimatedPicture, BackgroundColourAndPainting)
{
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    pic.SetBackColour(RGB(1, 2, 3)); // nothing loaded: ignored
    EXPECT_EQ(pic.GetBackColour(), RGB(255, 255, 255));
    ASSERT_TRUE(Load(pic, gifbuild::BuildAnimation({{Qt::red, 2, 2, 1, 1}, {Qt::green, 2, 2, 3, 3}}, 6, 6)));
    const QColor button = pic.palette().color(QPalette::Button);
    EXPECT_EQ(pic.GetBackColour(), RGB(button.red(), button.green(), button.blue()));
    ExpectPixels(pic.GetCanvas(), pic.palette().color(QPalette::Window));
    pic.SetBackColour(RGB(1, 2, 3));
    ExpectPixels(pic.GetCanvas(), QColor(1, 2, 3));

    pic.StartShow();
    ASSERT_TRUE(clock.RunTo(2));
    const std::vector<Area> frames = {{QRect(1, 1, 2, 2), Qt::red}, {QRect(3, 3, 2, 2), Qt::green}};
    ExpectPixels(pic.grab().toImage(), QColor(1, 2, 3), frames);
    pic.SetPaintRect(QRect(1, 1, 2, 2)); // only that part of the canvas shows
    ExpectPixels(pic.grab().toImage(), QColor(1, 2, 3), {frames[0]});

    pic.UnloadPicture();
    EXPECT_EQ(pic.GetBackColour(), RGB(255, 255, 255));
    EXPECT_TRUE(pic.GetCanvas().isNull());
}

TEST(AnimatedPicture, UnloadReloadAndDestroyWhilePlaying)
{
    StepClock clock;
    {
        QWidget parent;
        auto *pic = new CAnimatedPicture(&parent);
        pic->SetFrameClock(&clock);
        ASSERT_TRUE(Load(*pic, Frames({10, 10, 10})));
        pic->StartShow();
        ASSERT_TRUE(clock.RunTo(2));
        pic->UnloadPicture();
        EXPECT_FALSE(pic->IsAnimating());
        EXPECT_FALSE(pic->IsReady());
        EXPECT_EQ(pic->GetFrameCount(), 0);
        EXPECT_TRUE(clock.Idle());
        pic->StartShow(); // nothing loaded: nothing starts

        ASSERT_TRUE(Load(*pic, Frames({10, 10})));
        pic->StartShow();
        ASSERT_TRUE(clock.RunTo(3));
        ASSERT_TRUE(Load(*pic, Frames({20, 20, 20}))); // a load stops the animation first
        EXPECT_TRUE(clock.Idle());
        pic->StartShow();
        ASSERT_TRUE(clock.RunTo(4));
        EXPECT_EQ(clock.Requests().back(), 200);
        // The parent takes the playing control with it.
    }
    EXPECT_TRUE(clock.Idle());
    EXPECT_EQ(clock.Requests().size(), 4u);

    // In real time a stop does not sit out a frame's delay (655 s here).
    QElapsedTimer timer;
    timer.start();
    {
        CAnimatedPicture pic;
        ASSERT_TRUE(Load(pic, Frames({65535, 65535})));
        pic.StartShow();
    }
    EXPECT_LT(timer.elapsed(), 60000);
}

TEST(AnimatedPicture, FramesDecodedForEachShowingLookTheSame)
{
    const Bytes gif = gifbuild::BuildAnimation(
        {{Qt::red, 6, 6, 0, 0, 10, 1}, {Qt::green, 3, 3, 1, 1, 10, 3}, {Qt::blue, 2, 4, 4, 2, 10, 2}}, 6, 6);
    StepClock keptClock, lazyClock;
    CAnimatedPicture kept, lazy;
    kept.SetFrameClock(&keptClock);
    lazy.SetFrameClock(&lazyClock);
    lazy.SetFrameMemoryLimit(6 * 6 * 4); // room for the first frame only
    ASSERT_TRUE(Load(kept, gif) && Load(lazy, gif));
    kept.StartShow();
    lazy.StartShow();
    for (std::size_t n = 1; n <= 5; ++n) {
        ASSERT_TRUE(keptClock.RunTo(n) && lazyClock.RunTo(n));
        EXPECT_EQ(lazy.GetCanvas(), kept.GetCanvas()) << n;
    }
}

TEST(AnimatedPicture, CutAndHostileData)
{
    const Bytes gif = Frames({10, 20, 30});
    const std::vector<std::size_t> ends = gifbuild::FrameEnds(gif);
    StepClock clock;
    CAnimatedPicture pic;
    for (std::size_t cut = 0; cut <= gif.size(); ++cut) {
        const int complete =
            int(std::count_if(ends.begin(), ends.end(), [&](std::size_t e) { return e <= cut; }));
        ASSERT_EQ(Load(pic, Bytes(gif.begin(), gif.begin() + std::ptrdiff_t(cut))), complete > 0) << cut;
        ASSERT_EQ(pic.GetFrameCount(), complete) << cut;
    }
    // Cut inside the third frame: the first two play.
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, Bytes(gif.begin(), gif.begin() + std::ptrdiff_t(ends[2] - 1))));
    pic.StartShow();
    ASSERT_TRUE(clock.RunTo(3));
    EXPECT_EQ(clock.Requests(), (std::vector<int>{100, 200, 100}));

    // A screen far larger than its frames paint is cut to them (the frames'
    // places on the screen, and so the canvas, stay as they were).
    const QSize frames = (Load(pic, gif), pic.GetPictureSize());
    Bytes huge = gif;
    gifbuild::PutWord(huge, 6, 8192);
    gifbuild::PutWord(huge, 8, 4097);
    EXPECT_TRUE(Load(pic, huge));
    EXPECT_EQ(pic.GetPictureSize(), frames);
    Bytes empty = gif;
    gifbuild::PutWord(empty, 6, 0);
    EXPECT_FALSE(Load(pic, empty));
    // Frames that are no pictures (plain text) are left out; only such: failure.
    const Bytes text = {'!', 0xF9, 4, 0, 10, 0, 0, 0, '!', 1, 12, 0,   0,
                        0,   0,    4, 0, 4,  0, 1, 1, 1,   0, 1,  'x', 0};
    const std::size_t second = gifbuild::ControlPositions(gif)[1];
    Bytes mixed = gif;
    mixed.insert(mixed.begin() + std::ptrdiff_t(second), text.begin(), text.end());
    ASSERT_TRUE(Load(pic, mixed));
    EXPECT_EQ(pic.GetFrameCount(), 3);
    Bytes onlyText(gif.begin(), gif.begin() + std::ptrdiff_t(gifbuild::ControlPositions(gif)[0]));
    for (int i = 0; i < 2; ++i)
        onlyText.insert(onlyText.end(), text.begin(), text.end());
    onlyText.push_back(';');
    EXPECT_FALSE(Load(pic, onlyText));
    EXPECT_FALSE(Load(pic, Bytes{'G', 'I', 'F', '8', '9'}));
    EXPECT_FALSE(Load(pic, Bytes(64, 'Z')));
    EXPECT_FALSE(pic.LoadPicture(nullptr, 10));
    EXPECT_FALSE(pic.IsGif());

    testsupport::ScratchDir dir;
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path("a.gif"), gif));
    ASSERT_TRUE(pic.LoadPictureFile(QString::fromStdString(dir.Path("a.gif"))));
    EXPECT_EQ(pic.GetFrameCount(), 3);
    EXPECT_FALSE(pic.LoadPictureFile(QString::fromStdString(dir.Path("missing.gif"))));
    EXPECT_FALSE(pic.IsReady()); // a failed load leaves nothing loaded
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.Path("folder.gif"))));
    EXPECT_FALSE(pic.LoadPictureFile(QString::fromStdString(dir.Path("folder.gif"))));
}

TEST(AnimatedPicture, DecodedFramesCoverTheCanvasOverTheBackColour)
{
    const QColor yellow(255, 255, 0);
    auto frame = [](const QColor &colour, int clearColumns) {
        QImage f(4, 4, QImage::Format_ARGB32);
        f.fill(colour);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < clearColumns; ++x)
                f.setPixelColor(x, y, Qt::transparent);
        return f;
    };
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    EXPECT_FALSE(pic.LoadFrames({}, {}));
    ASSERT_TRUE(pic.LoadFrames({frame(Qt::red, 0), frame(Qt::green, 2), frame(Qt::blue, 0)}, {5, 40, 1000}));
    EXPECT_EQ(pic.GetFrameCount(), 3);
    EXPECT_EQ(pic.GetFrameDelay(1), 4);
    pic.SetBackColour(RGB(255, 255, 0));
    pic.StartShow();
    // The red frame never shows through the green one's clear half.
    const std::vector<std::vector<Area>> steps = {
        {{QRect(0, 0, 4, 4), Qt::red}}, {{QRect(2, 0, 2, 4), Qt::green}}, {{QRect(0, 0, 4, 4), Qt::blue}}};
    for (std::size_t n = 0; n < steps.size(); ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(clock.RunTo(n + 1));
        ExpectPixels(pic.GetCanvas(), yellow, steps[n]);
    }
    pic.StopAnimation();
    EXPECT_EQ(clock.Requests(), (std::vector<int>{100, 40, 1000}));
}
