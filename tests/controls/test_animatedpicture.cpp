#include "animatedpicture.h"
#include "gif_builder.h"
#include "ids_controls.h"
#include "step_clock.h"
#include "test_support.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <memory>

using gifbuild::Bytes;
using gifbuild::FrameSpec;

namespace {

const QColor kYellow(255, 255, 0);

struct Area {
    QRect rect;
    QColor colour;
};

// Every pixel of the canvas: `rest`, then each area over it in order.
void ExpectCanvas(const QImage &canvas, const QColor &rest, const std::vector<Area> &areas)
{
    ASSERT_FALSE(canvas.isNull());
    QImage expected(canvas.size(), QImage::Format_RGB32);
    expected.fill(rest);
    for (const Area &a : areas)
        for (int y = a.rect.top(); y <= a.rect.bottom(); ++y)
            for (int x = a.rect.left(); x <= a.rect.right(); ++x)
                expected.setPixelColor(x, y, a.colour);
    int wrong = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.pixelColor(x, y) != expected.pixelColor(x, y) && ++wrong <= 3)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is "
                              << canvas.pixelColor(x, y).name().toStdString() << ", expected "
                              << expected.pixelColor(x, y).name().toStdString();
    EXPECT_EQ(wrong, 0);
}

COLORREF Ref(const QColor &c)
{
    return RGB(c.red(), c.green(), c.blue());
}

bool Load(CAnimatedPicture &pic, const Bytes &bytes)
{
    // An exact-size copy: reads past the end hit the end of a heap block.
    const Bytes copy(bytes.begin(), bytes.end());
    return pic.LoadPicture(copy.data(), copy.size());
}

// Four full-screen frames with the given delays.
Bytes FourColours(const std::vector<int> &delays)
{
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::white};
    std::vector<FrameSpec> specs;
    for (std::size_t k = 0; k < delays.size(); ++k)
        specs.push_back({colours[k % 4], 4, 4, 0, 0, delays[k], 0});
    return gifbuild::BuildAnimation(specs, 4, 4);
}

// Where each frame's bytes end in a GIF of our encoder.
std::vector<std::size_t> FrameEnds(const Bytes &gif)
{
    std::vector<std::size_t> ends = gifbuild::ControlPositions(gif);
    ends.erase(ends.begin());
    ends.push_back(gif.size() - 1);
    return ends;
}

}  // namespace

TEST(AnimatedPicture, StillPicturesAreDrawnWithoutAThread)
{
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, gifbuild::BuildAnimation({{Qt::magenta, 5, 3}}, 5, 3)));
    EXPECT_TRUE(pic.IsGif());
    EXPECT_EQ(pic.GetFrameCount(), 1);
    EXPECT_EQ(pic.GetPictureSize(), QSize(5, 3));
    EXPECT_EQ(pic.size(), QSize(5, 3));  // the control takes the picture's size
    pic.StartShow();
    EXPECT_FALSE(pic.IsAnimating());
    EXPECT_EQ(clock.Entered(), 0u);
    ExpectCanvas(pic.GetCanvas(), Qt::magenta, {});

    // Not a GIF: the picture's own size and pixels.
    QImage still(7, 2, QImage::Format_RGB32);
    still.fill(Qt::darkCyan);
    still.setPixelColor(6, 1, Qt::yellow);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(still.save(&buffer, "PNG"));
    ASSERT_TRUE(pic.LoadPicture(png));
    EXPECT_FALSE(pic.IsGif());
    EXPECT_EQ(pic.GetPictureSize(), QSize(7, 2));
    pic.StartShow();
    EXPECT_FALSE(pic.IsAnimating());
    ExpectCanvas(pic.GetCanvas(), Qt::darkCyan, {{QRect(6, 1, 1, 1), Qt::yellow}});
}

TEST(AnimatedPicture, FramesFollowInOrderWithTheirDelaysAndLoop)
{
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    // Delays at and around the 100 ms floor for delays of 4 or less.
    ASSERT_TRUE(Load(pic, FourColours({3, 50, 4, 5})));
    EXPECT_EQ(pic.GetFrameCount(), 4);
    EXPECT_EQ(pic.GetFrameDelay(1), 50);
    pic.StartShow();
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::white};
    for (std::size_t n = 1; n <= 9; ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(clock.WaitForRequest(n));
        EXPECT_TRUE(pic.IsAnimating());
        EXPECT_EQ(pic.GetCurrentFrame(), int((n - 1) % 4));
        ExpectCanvas(pic.GetCanvas(), colours[(n - 1) % 4], {});
        if (n < 9)
            clock.Advance();
    }
    pic.StopAnimation();
    EXPECT_FALSE(pic.IsAnimating());
    EXPECT_TRUE(clock.Idle());
    const std::vector<int> expected = {100, 500, 100, 50, 100, 500, 100, 50, 100};
    EXPECT_EQ(clock.Requests(), expected);

    // Shown again, the animation starts over from its first frame.
    pic.StartShow();
    ASSERT_TRUE(clock.WaitForRequest(10));
    EXPECT_EQ(pic.GetCurrentFrame(), 0);
    ExpectCanvas(pic.GetCanvas(), Qt::red, {});
}

TEST(AnimatedPicture, CanvasIsClearedToTheBackgroundBeforeTheFirstFrameComesBack)
{
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, gifbuild::BuildAnimation({{Qt::red, 2, 2, 0, 0}, {Qt::green, 2, 2, 4, 4}}, 6, 6)));
    pic.SetBackColour(RGB(0, 0, 255));
    pic.StartShow();
    ASSERT_TRUE(clock.WaitForRequest(1));
    ExpectCanvas(pic.GetCanvas(), Qt::blue, {{QRect(0, 0, 2, 2), Qt::red}});
    clock.Advance();
    ASSERT_TRUE(clock.WaitForRequest(2));
    ExpectCanvas(pic.GetCanvas(), Qt::blue, {{QRect(0, 0, 2, 2), Qt::red}, {QRect(4, 4, 2, 2), Qt::green}});
    clock.Advance();
    ASSERT_TRUE(clock.WaitForRequest(3));
    ExpectCanvas(pic.GetCanvas(), Qt::blue, {{QRect(0, 0, 2, 2), Qt::red}});
}

TEST(AnimatedPicture, DisposalRestoresBackgroundOrWhatLayUnderneath)
{
    // Ours: a green square restored to what was under it, then a blue corner
    // restored to the background.
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, gifbuild::BuildAnimation({{Qt::red, 8, 8, 0, 0, 10, 1},
                                                    {Qt::green, 4, 4, 2, 2, 10, 3},
                                                    {Qt::blue, 2, 2, 0, 0, 10, 2},
                                                    {Qt::white, 2, 2, 6, 6, 10, 0}},
                                                   8, 8)));
    pic.SetBackColour(Ref(kYellow));
    pic.StartShow();
    const std::vector<std::vector<Area>> steps = {
        {},
        {{QRect(2, 2, 4, 4), Qt::green}},
        {{QRect(0, 0, 2, 2), Qt::blue}},
        {{QRect(0, 0, 2, 2), kYellow}, {QRect(6, 6, 2, 2), Qt::white}},
        {},  // round again: the red frame covers everything
    };
    for (std::size_t n = 0; n < steps.size(); ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(clock.WaitForRequest(n + 1));
        ExpectCanvas(pic.GetCanvas(), Qt::red, steps[n]);
        clock.Advance();
    }

    // ImageMagick's: lime to background, blue to previous, white kept.
    StepClock other;
    CAnimatedPicture magick;
    magick.SetFrameClock(&other);
    ASSERT_TRUE(magick.LoadPictureFile(QString::fromStdString(testsupport::DataPath("gif/dispose.gif"))));
    EXPECT_EQ(magick.GetFrameCount(), 4);
    magick.SetBackColour(RGB(0, 0, 0));
    magick.StartShow();
    const QColor lime(0, 255, 0);
    const std::vector<std::vector<Area>> magickSteps = {
        {},
        {{QRect(2, 2, 4, 4), lime}},
        {{QRect(2, 2, 4, 4), Qt::black}, {QRect(0, 0, 2, 2), Qt::blue}},
        {{QRect(2, 2, 4, 4), Qt::black}, {QRect(6, 6, 2, 2), Qt::white}},
    };
    for (std::size_t n = 0; n < magickSteps.size(); ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(other.WaitForRequest(n + 1));
        ExpectCanvas(magick.GetCanvas(), Qt::red, magickSteps[n]);
        other.Advance();
    }
    const std::vector<int> waits = other.Requests();
    EXPECT_EQ(std::vector<int>(waits.begin(), waits.begin() + 4), (std::vector<int>{100, 200, 300, 400}));
}

TEST(AnimatedPicture, BackgroundColourAndPainting)
{
    StepClock clock;  // outlives the control's drawing thread
    CAnimatedPicture pic;
    pic.SetBackColour(RGB(1, 2, 3));  // nothing loaded: ignored
    EXPECT_EQ(pic.GetBackColour(), RGB(255, 255, 255));
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, gifbuild::BuildAnimation({{Qt::red, 2, 2, 1, 1}, {Qt::green, 2, 2, 3, 3}}, 6, 6)));
    EXPECT_EQ(pic.GetBackColour(), Ref(pic.palette().color(QPalette::Button)));
    ExpectCanvas(pic.GetCanvas(), pic.palette().color(QPalette::Window), {});
    pic.SetBackColour(RGB(1, 2, 3));
    EXPECT_EQ(pic.GetBackColour(), RGB(1, 2, 3));
    ExpectCanvas(pic.GetCanvas(), QColor(1, 2, 3), {});

    pic.StartShow();
    ASSERT_TRUE(clock.RunTo(2));
    const QImage canvas = pic.GetCanvas();
    const QImage shown = pic.grab().toImage();
    ASSERT_EQ(shown.size(), canvas.size());
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(shown.pixelColor(x, y), canvas.pixelColor(x, y)) << x << ", " << y;

    // Only the paint rectangle of the canvas is shown; around it, background.
    pic.SetPaintRect(QRect(1, 1, 2, 2));
    ExpectCanvas(pic.grab().toImage(), QColor(1, 2, 3), {{QRect(1, 1, 2, 2), Qt::red}});

    pic.UnloadPicture();
    EXPECT_EQ(pic.GetBackColour(), RGB(255, 255, 255));
    EXPECT_FALSE(pic.IsReady());
    EXPECT_TRUE(pic.GetCanvas().isNull());
}

TEST(AnimatedPicture, UnloadAndReloadWhilePlaying)
{
    StepClock clock;
    CAnimatedPicture pic;
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, FourColours({10, 10, 10})));
    pic.StartShow();
    ASSERT_TRUE(clock.RunTo(2));
    pic.UnloadPicture();
    EXPECT_FALSE(pic.IsAnimating());
    EXPECT_FALSE(pic.IsReady());
    EXPECT_FALSE(pic.IsGif());
    EXPECT_EQ(pic.GetFrameCount(), 0);
    EXPECT_TRUE(clock.Idle());
    EXPECT_EQ(clock.Entered(), 2u);
    pic.StartShow();  // nothing loaded: nothing starts
    EXPECT_FALSE(pic.IsAnimating());

    // Loading over a playing animation stops it first.
    ASSERT_TRUE(Load(pic, FourColours({10, 10})));
    pic.StartShow();
    ASSERT_TRUE(clock.WaitForRequest(3));
    ASSERT_TRUE(Load(pic, FourColours({20, 20, 20, 20})));
    EXPECT_TRUE(clock.Idle());
    EXPECT_EQ(pic.GetFrameCount(), 4);
    pic.StartShow();
    ASSERT_TRUE(clock.WaitForRequest(4));
    EXPECT_EQ(clock.Requests().back(), 200);
    ExpectCanvas(pic.GetCanvas(), Qt::red, {});
}

TEST(AnimatedPicture, DestroyedWhilePlaying)
{
    StepClock clock;
    {
        QWidget parent;
        auto *pic = new CAnimatedPicture(&parent);
        pic->SetFrameClock(&clock);
        ASSERT_TRUE(Load(*pic, FourColours({10, 10})));
        pic->StartShow();
        ASSERT_TRUE(clock.WaitForRequest(1));
        // The parent takes the control with it.
    }
    EXPECT_TRUE(clock.Idle());
    EXPECT_EQ(clock.Entered(), 1u);

    // In real time, a stop does not sit out a long delay (655 s here).
    QElapsedTimer timer;
    timer.start();
    {
        CAnimatedPicture pic;
        ASSERT_TRUE(Load(pic, FourColours({65535, 65535})));
        pic.StartShow();
        EXPECT_TRUE(pic.IsReady());
    }
    EXPECT_LT(timer.elapsed(), 60000);
}

TEST(AnimatedPicture, FramesDecodedAgainWhenNotKeptLookTheSame)
{
    const Bytes gif = gifbuild::BuildAnimation({{Qt::red, 6, 6, 0, 0, 10, 1},
                                                {Qt::green, 3, 3, 1, 1, 10, 3},
                                                {Qt::blue, 2, 4, 4, 2, 10, 2},
                                                {Qt::white, 1, 1, 0, 5, 10, 0}},
                                               6, 6);
    StepClock keptClock, lazyClock;
    CAnimatedPicture kept, lazy;
    kept.SetFrameClock(&keptClock);
    lazy.SetFrameClock(&lazyClock);
    lazy.SetFrameMemoryLimit(6 * 6 * 4);  // room for the first frame only
    ASSERT_TRUE(Load(kept, gif));
    ASSERT_TRUE(Load(lazy, gif));
    EXPECT_EQ(lazy.GetFrameCount(), 4);
    kept.StartShow();
    lazy.StartShow();
    for (std::size_t n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(keptClock.WaitForRequest(n));
        ASSERT_TRUE(lazyClock.WaitForRequest(n));
        EXPECT_EQ(lazy.GetCanvas(), kept.GetCanvas());
        keptClock.Advance();
        lazyClock.Advance();
    }
}

TEST(AnimatedPicture, CutAnimationsShowTheFramesBeforeTheCut)
{
    const Bytes gif = FourColours({10, 20, 30});
    const std::vector<std::size_t> ends = FrameEnds(gif);
    ASSERT_EQ(ends.size(), 3u);
    StepClock clock;
    CAnimatedPicture pic;
    for (std::size_t cut = 0; cut <= gif.size(); ++cut) {
        SCOPED_TRACE(cut);
        int complete = 0;
        for (const std::size_t end : ends)
            complete += end <= cut ? 1 : 0;
        const bool ok = Load(pic, Bytes(gif.begin(), gif.begin() + std::ptrdiff_t(cut)));
        ASSERT_EQ(ok, complete > 0);
        ASSERT_EQ(pic.IsReady(), ok);
        ASSERT_EQ(pic.GetFrameCount(), complete);
    }

    // Cut inside the second frame: the first is shown still.
    pic.SetFrameClock(&clock);
    ASSERT_TRUE(Load(pic, Bytes(gif.begin(), gif.begin() + std::ptrdiff_t(ends[1] - 3))));
    pic.StartShow();
    EXPECT_FALSE(pic.IsAnimating());
    ExpectCanvas(pic.GetCanvas(), Qt::red, {});
    // Cut inside the third: two frames play.
    ASSERT_TRUE(Load(pic, Bytes(gif.begin(), gif.begin() + std::ptrdiff_t(ends[2] - 1))));
    pic.StartShow();
    ASSERT_TRUE(clock.RunTo(3));
    ExpectCanvas(pic.GetCanvas(), Qt::red, {});
    EXPECT_EQ(clock.Requests(), (std::vector<int>{100, 200, 100}));
}

TEST(AnimatedPicture, HostileDataFails)
{
    CAnimatedPicture pic;
    const Bytes good = FourColours({10, 10});
    {
        SCOPED_TRACE("a screen far beyond any canvas");
        Bytes b = good;
        gifbuild::PutWord(b, 6, 65535);
        gifbuild::PutWord(b, 8, 65535);
        EXPECT_FALSE(Load(pic, b));
        EXPECT_FALSE(pic.IsReady());
    }
    {
        SCOPED_TRACE("an empty screen");
        Bytes b = good;
        gifbuild::PutWord(b, 6, 0);
        EXPECT_FALSE(Load(pic, b));
    }
    {
        SCOPED_TRACE("frames that are no pictures are left out");
        // A plain text frame between the two pictures.
        Bytes b = good;
        const Bytes text = {'!', 0xF9, 4, 0, 10, 0, 0, 0, '!', 0x01, 12, 0, 0, 0, 0, 4, 0, 4, 0, 1, 1, 1, 0, 1, 'x', 0};
        b.insert(b.begin() + std::ptrdiff_t(gifbuild::ControlPositions(good)[1]), text.begin(), text.end());
        ASSERT_TRUE(Load(pic, b));
        EXPECT_EQ(pic.GetFrameCount(), 2);
        // Only such frames: nothing to show.
        Bytes only(good.begin(), good.begin() + std::ptrdiff_t(gifbuild::ControlPositions(good)[0]));
        only.insert(only.end(), text.begin(), text.end());
        only.insert(only.end(), text.begin(), text.end());
        only.push_back(';');
        EXPECT_FALSE(Load(pic, only));
    }
    {
        SCOPED_TRACE("not a picture at all");
        EXPECT_FALSE(Load(pic, Bytes{'G', 'I', 'F', '8', '9'}));
        EXPECT_FALSE(Load(pic, Bytes(64, 0x5A)));
        EXPECT_FALSE(pic.LoadPicture(nullptr, 10));
        EXPECT_FALSE(pic.LoadPicture(QByteArray()));
        EXPECT_FALSE(pic.IsGif());
        EXPECT_FALSE(pic.IsReady());
    }
}

TEST(AnimatedPicture, FilesAndResources)
{
    testsupport::ScratchDir dir;
    const Bytes gif = FourColours({10, 10});
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path("a.gif"), gif));
    CAnimatedPicture pic;
    ASSERT_TRUE(pic.LoadPictureFile(QString::fromStdString(dir.Path("a.gif"))));
    EXPECT_EQ(pic.GetFrameCount(), 2);
    // A failed load leaves nothing loaded.
    EXPECT_FALSE(pic.LoadPictureFile(QString::fromStdString(dir.Path("missing.gif"))));
    EXPECT_FALSE(pic.IsReady());
    EXPECT_FALSE(pic.LoadPictureFile(QString::fromStdString(dir.Root())));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.Path("folder.gif"))));
    EXPECT_FALSE(pic.LoadPictureFile(QString::fromStdString(dir.Path("folder.gif"))));

    ASSERT_TRUE(pic.LoadPictureResource(controlsid::IDR_GIF_FILE_ERROR, controlsid::RT_GIF));
    EXPECT_TRUE(pic.IsGif());
    EXPECT_EQ(pic.GetPictureSize(), QSize(142, 21));
    EXPECT_EQ(pic.GetFrameCount(), 1);
    pic.SetBackColour(RGB(255, 255, 255));
    pic.StartShow();
    // Dark red text on white.
    const QImage canvas = pic.GetCanvas();
    int text = 0, white = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            const QColor c = canvas.pixelColor(x, y);
            text += c.red() > 120 && c.green() < 80 && c.blue() < 80;
            white += c == Qt::white;
        }
    EXPECT_GT(text, 100);
    EXPECT_GT(white, canvas.width() * canvas.height() / 2);

    EXPECT_FALSE(pic.LoadPictureResource(999, controlsid::RT_GIF));
    EXPECT_FALSE(pic.LoadPictureResource(controlsid::IDR_GIF_FILE_ERROR, "BMP"));
    EXPECT_FALSE(pic.LoadPictureResource(controlsid::IDR_GIF_FILE_ERROR, nullptr));
    EXPECT_FALSE(pic.IsReady());
}
