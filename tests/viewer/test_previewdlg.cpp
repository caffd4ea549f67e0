#include "imaging/codecs/codecs.h"
#include "tests/pdf_maker.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/picturework.h"
#include "viewer/viewerinfo.h"

#include <QElapsedTimer>

#include "imaging/cxanimation.h"

#include <QFile>
#include <QFont>
#include <QWheelEvent>

#include <cmath>

using namespace viewertest;

namespace {

// Picture point (in pixels of the file) under window point p.
QPointF PicturePoint(const CPreviewDlg &dlg, QPoint p, int pictureW, int pictureH)
{
    const WinRect r = dlg.GetImageRect();
    return {(p.x() + dlg.GetScroll().x() - r.left) * double(pictureW) / r.Width(),
            (p.y() + dlg.GetScroll().y() - r.top) * double(pictureH) / r.Height()};
}

} // namespace

TEST_F(ViewerTest, FitCentresSmallPicturesAndShrinksLargeOnesActualSizeScrolls)
{
    WriteProfileInt(kSettingsSection, settingskey::kViewFullSize, 0);
    m_files << Pattern("small.png", 200, 100) << Pattern("large.png", 1600, 1000);
    CPreviewDlg &dlg = Open();
    const viewgeom::Size s = dlg.GetScreenSize();
    ASSERT_GT(s.width, 300);
    EXPECT_EQ(dlg.geometry().size(), QSize(s.width, s.height));
    EXPECT_FALSE(dlg.IsFullSize());

    const int left = (s.width - 200) / 2, top = (s.height - 100) / 2;
    EXPECT_EQ(dlg.GetImageRect(), (WinRect{left, top, left + 200, top + 100}));
    EXPECT_FALSE(dlg.CanScroll());

    Key(Qt::Key_PageDown);
    const WinRect fitted = dlg.GetImageRect();
    EXPECT_TRUE(fitted.Width() == s.width || fitted.Height() == s.height);
    EXPECT_LE(fitted.Width(), s.width);
    EXPECT_LE(fitted.Height(), s.height);
    EXPECT_NEAR(double(fitted.Width()) / fitted.Height(), 1.6, 0.01);
    EXPECT_EQ(dlg.GetCanvasSize(), s);

    Key(Qt::Key_Slash, Qt::KeypadModifier); // actual size, remembered
    EXPECT_EQ(dlg.GetImageRect(), (WinRect{0, 0, 1600, 1000}));
    EXPECT_EQ(dlg.GetCanvasSize(), (viewgeom::Size{1600, 1000}));
    EXPECT_TRUE(dlg.CanScroll());
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kViewFullSize, -1), 1);
    Key(Qt::Key_Asterisk); // the main keyboard's star is not the command
    EXPECT_EQ(dlg.GetImageRect().Width(), 1600);
    Key(Qt::Key_Asterisk, Qt::KeypadModifier);
    EXPECT_EQ(dlg.GetImageRect(), fitted);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kViewFullSize, -1), 0);
}

TEST_F(ViewerTest, ZoomStepsHaveTheirLimitsAndPagingResetsThem)
{
    m_files << Pattern("a.png", 200, 100) << Pattern("b.png", 200, 100);
    CPreviewDlg &dlg = Open();
    for (int i = 0; i < 5; ++i)
        Key(Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_NEAR(dlg.GetZoom(), 4.1616, 0.001);
    EXPECT_EQ(dlg.GetImageRect().Width(), int(200 * double(dlg.GetZoom())));
    const float top = dlg.GetZoom();
    Key(Qt::Key_Equal); // the main keyboard's plus key: refused now
    EXPECT_EQ(dlg.GetZoom(), top);

    // Back down: each step shows the picture smaller until a side is under 32.
    int previousHeight = dlg.GetImageRect().Height();
    for (int guard = 0; guard < 20; ++guard) {
        const float before = dlg.GetZoom();
        Key(Qt::Key_Minus);
        if (dlg.GetZoom() == before)
            break;
        EXPECT_GE(previousHeight, 32);
        previousHeight = dlg.GetImageRect().Height();
    }
    EXPECT_LT(dlg.GetImageRect().Height(), 32);
    EXPECT_EQ(dlg.GetImageRect().Height(), int(100 * double(dlg.GetZoom())));

    Key(Qt::Key_Space);
    EXPECT_EQ(dlg.GetIndex(), 1);
    EXPECT_FALSE(dlg.IsZoomed());
    EXPECT_EQ(dlg.GetZoom(), 1.0f);
    EXPECT_EQ(dlg.GetImageRect().Width(), 200);
}

TEST_F(ViewerTest, ZoomStepsLayOutWhatWasDecodedAndPagingDecodesAgain)
{
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        bool zoomed;
        bool fullSize;
    };
    const Step steps[] = {
        {Qt::Key_Plus, Qt::KeypadModifier, true, true},
        {Qt::Key_Plus, Qt::KeypadModifier, true, true},
        {Qt::Key_Minus, Qt::NoModifier, true, true},
        {Qt::Key_Asterisk, Qt::KeypadModifier, false, false},
        {Qt::Key_Minus, Qt::KeypadModifier, true, false},
        {Qt::Key_Slash, Qt::KeypadModifier, false, true},
    };
    CConvertJob rotate;
    rotate.m_bRotate = true;
    rotate.m_nrotateType = ROTATE_LEFT;
    for (const bool preview : {false, true}) {
        SCOPED_TRACE(preview);
        m_files = {Pattern("p.png", 1600, 1000), Pattern("q.png", 50, 50)};
        m_dlg = std::make_unique<CPreviewDlg>();
        m_dlg->SetFileList(&m_files);
        m_dlg->SetPreview(preview);
        m_dlg->SetPreviewSettings(rotate);
        m_dlg->show();
        const QImage decoded = m_dlg->GetImage().ToQImage();
        ASSERT_EQ(decoded.width(), preview ? 1000 : 1600);
        // Zoom steps must not read the file again: with it gone they still show it.
        ASSERT_TRUE(QFile::remove(m_files[0]));
        for (const Step &step : steps) {
            SCOPED_TRACE(step.key);
            Key(step.key, step.mods);
            EXPECT_EQ(m_dlg->IsZoomed(), step.zoomed);
            EXPECT_EQ(m_dlg->IsFullSize(), step.fullSize);
            EXPECT_FALSE(m_dlg->IsError());
            EXPECT_EQ(m_dlg->GetImage().ToQImage(), decoded);
            const viewgeom::Size shown =
                viewgeom::DisplaySize(decoded.width(), decoded.height(), m_dlg->IsZoomed(), m_dlg->GetZoom(),
                                      m_dlg->IsFullSize(), m_dlg->GetScreenSize());
            EXPECT_EQ(m_dlg->GetImageRect().Width(), shown.width);
            EXPECT_EQ(m_dlg->GetImageRect().Height(), shown.height);
        }
        // A page turn decodes: back on the removed file, the error picture.
        Key(Qt::Key_PageDown);
        Key(Qt::Key_PageUp);
        EXPECT_TRUE(m_dlg->IsError());
    }
}

TEST_F(ViewerTest, ZoomKeepsTheCentreAndPaintsOnlyWhatIsVisible)
{
    const int w = 1200, h = 900;
    m_files << Pattern("p.png", w, h);
    CPreviewDlg &dlg = Open(); // actual size by default
    const viewgeom::Size s = dlg.GetScreenSize();
    const QPoint centre(s.width / 2, s.height / 2);
    for (int i = 0; i < 5; ++i)
        Key(Qt::Key_Right);
    Key(Qt::Key_Down);
    EXPECT_EQ(dlg.GetScroll(), QPoint(150, 24));

    QPointF before = PicturePoint(dlg, centre, w, h);
    for (int step = 0; step < 3; ++step) {
        Key(Qt::Key_Plus, Qt::KeypadModifier);
        const QPointF after = PicturePoint(dlg, centre, w, h);
        EXPECT_NEAR(after.x(), before.x(), 1.0) << step;
        EXPECT_NEAR(after.y(), before.y(), 1.0) << step;
        before = after;
    }
    Key(Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_NEAR(PicturePoint(dlg, centre, w, h).x(), before.x(), 1.5);

    // The window shows the picture cell that the arithmetic says it does.
    const QImage shot = dlg.grab().toImage();
    int checked = 0;
    for (int y = 5; y < s.height; y += 37) {
        for (int x = 5; x < s.width; x += 41) {
            const QPointF p = PicturePoint(dlg, {x, y}, w, h);
            const double fx = std::fmod(p.x(), kCell), fy = std::fmod(p.y(), kCell);
            if (fx < 2 || fx > 8 || fy < 2 || fy > 8)
                continue; // too near a cell border to tell
            const QColor want = CellColour(int(p.x()) / kCell, int(p.y()) / kCell);
            const QColor got = shot.pixelColor(x, y);
            EXPECT_NEAR(got.red(), want.red(), 6) << x << "," << y;
            EXPECT_NEAR(got.green(), want.green(), 6) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, 50);

    // Scrolling stops at both ends of the canvas.
    for (int i = 0; i < 400; ++i)
        Key(Qt::Key_Right, Qt::KeypadModifier);
    EXPECT_EQ(dlg.GetScroll().x(), dlg.GetCanvasSize().width - s.width);
    for (int i = 0; i < 400; ++i)
        Key(Qt::Key_Up);
    EXPECT_EQ(dlg.GetScroll().y(), 0);
}

TEST_F(ViewerTest, DraggingScrollsWithTheHandCursors)
{
    m_files << Pattern("wide.png", 2000, 300);
    CPreviewDlg &dlg = Open();
    const viewgeom::Size s = dlg.GetScreenSize();
    ASSERT_TRUE(dlg.CanScroll());
    const int middle = s.height / 2;

    MouseMove(&dlg, QPoint(400, 5)); // above the picture
    EXPECT_EQ(dlg.GetCursorKind(), CPreviewDlg::CursorKind::Arrow);
    MouseMove(&dlg, QPoint(400, middle));
    EXPECT_EQ(dlg.GetCursorKind(), CPreviewDlg::CursorKind::Hand);
    EXPECT_FALSE(dlg.cursor().pixmap().isNull());

    MousePress(&dlg, QPoint(400, middle));
    EXPECT_TRUE(dlg.IsDragging());
    EXPECT_EQ(dlg.GetCursorKind(), CPreviewDlg::CursorKind::Dragging);
    MouseMove(&dlg, QPoint(300, middle - 20), Qt::LeftButton);
    EXPECT_EQ(dlg.GetScroll(), QPoint(100, 0)); // the canvas is no higher than the screen
    Key(Qt::Key_Right);                         // no key scrolling while dragging
    EXPECT_EQ(dlg.GetScroll(), QPoint(100, 0));
    MouseMove(&dlg, QPoint(-5000, middle), Qt::LeftButton);
    EXPECT_EQ(dlg.GetScroll().x(), 2000 - s.width);
    MouseRelease(&dlg, QPoint(-5000, middle));
    EXPECT_FALSE(dlg.IsDragging());
    EXPECT_EQ(dlg.GetCursorKind(), CPreviewDlg::CursorKind::Hand);
    EXPECT_FALSE(dlg.cursor().pixmap().isNull());

    MousePress(&dlg, QPoint(400, 5));
    EXPECT_FALSE(dlg.IsDragging());
    MouseRelease(&dlg, QPoint(400, 5));
}

TEST_F(ViewerTest, KeysAndWheelPageThroughTheList)
{
    for (int i = 0; i < 4; ++i)
        m_files << Pattern("f" + std::to_string(i) + ".png", 40 + i, 30);
    CPreviewDlg &dlg = Open(1);
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        int index;
    } steps[] = {
        {Qt::Key_PageDown, {}, 2},
        {Qt::Key_3, Qt::KeypadModifier, 3},
        {Qt::Key_PageDown, {}, 3},
        {Qt::Key_Space, {}, 0},
        {Qt::Key_PageUp, {}, 0},
        {Qt::Key_End, {}, 3},
        {Qt::Key_9, Qt::KeypadModifier, 2},
        {Qt::Key_7, Qt::KeypadModifier, 0},
        {Qt::Key_1, Qt::KeypadModifier, 3},
        {Qt::Key_Home, {}, 0},
        {Qt::Key_3, {}, 0},
        {Qt::Key_Return, {}, 0},
        {Qt::Key_Tab, {}, 0},
        {Qt::Key_Space, {}, 1},
    };
    for (const Step &st : steps) {
        Key(st.key, st.mods);
        EXPECT_EQ(dlg.GetIndex(), st.index) << int(st.key);
        EXPECT_EQ(dlg.GetImage().GetWidth(), 40 + dlg.GetIndex());
    }
    EXPECT_TRUE(dlg.isVisible());

    auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(10, 10), dlg.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&dlg, &e);
    };
    wheel(-120);
    EXPECT_EQ(dlg.GetIndex(), 2);
    wheel(60); // half a notch away: nothing yet
    EXPECT_EQ(dlg.GetIndex(), 2);
    wheel(60);
    EXPECT_EQ(dlg.GetIndex(), 1);

    Key(Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);

    CPreviewDlg &again = Open(0);
    MouseDoubleClick(&again, QPoint(20, 20));
    EXPECT_FALSE(again.isVisible());
}

TEST_F(ViewerTest, AFileAddedWhileOpenIsPagedTo)
{
    m_files << Pattern("a.png", 30, 20);
    CPreviewDlg &dlg = Open(0, CPreviewDlg::MODE_RESULTS);
    m_files << Pattern("b.png", 40, 20);
    dlg.AddFile(m_files.back());
    dlg.NextImage();
    EXPECT_EQ(dlg.GetIndex(), 1);
    EXPECT_EQ(dlg.GetImage().GetWidth(), 40u);
}

TEST_F(ViewerTest, StartIndexOutsideTheListAndMissingFiles)
{
    m_files << Pattern("one.png", 1000, 700) << Missing("gone.png");
    WriteProfileInt(kSettingsSection, settingskey::kBackRed, 10);
    WriteProfileInt(kSettingsSection, settingskey::kBackGreen, 20);
    WriteProfileInt(kSettingsSection, settingskey::kBackBlue, 300); // only the low byte counts

    CPreviewDlg &first = Open(-1);
    EXPECT_EQ(first.GetIndex(), 0);
    EXPECT_EQ(first.GetImage().GetWidth(), 1000);
    EXPECT_TRUE(first.CanScroll());

    CPreviewDlg &beyond = Open(5);
    EXPECT_FALSE(beyond.GetImage().IsValid());
    EXPECT_FALSE(beyond.IsPictureMode());
    const QImage shot = beyond.grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() / 2, shot.height() / 2), QColor(10, 20, 44));
    Key(Qt::Key_PageDown); // nothing past the end to page to
    EXPECT_EQ(beyond.GetIndex(), 5);
    Key(Qt::Key_Home);
    EXPECT_EQ(beyond.GetIndex(), 0);

    // The missing file shows the error picture centred; nothing is left to
    // drag or zoom.
    Key(Qt::Key_End);
    EXPECT_TRUE(beyond.IsPictureMode());
    EXPECT_TRUE(beyond.IsError());
    EXPECT_FALSE(beyond.CanScroll());
    CAnimatedPicture *pic = beyond.GetPicture();
    ASSERT_TRUE(pic->isVisible());
    EXPECT_EQ(pic->GetPictureSize(), QSize(142, 21));
    EXPECT_EQ(pic->geometry().center(), beyond.rect().center());
    Key(Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FALSE(beyond.IsZoomed());

    Key(Qt::Key_PageUp);
    EXPECT_FALSE(beyond.IsPictureMode());
    EXPECT_FALSE(beyond.IsError());
    EXPECT_FALSE(pic->isVisible());
    EXPECT_EQ(beyond.GetImage().GetWidth(), 1000);
}

TEST_F(ViewerTest, LargeJpegsShowAFirstLookThenTheWholeAndNeighboursAreReadAhead)
{
    auto settle = [](CPreviewDlg &dlg) {
        QElapsedTimer t;
        t.start();
        while (dlg.IsReading() && t.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_FALSE(dlg.IsReading());
    };
    for (const bool fullSize : {true, false}) {
        SCOPED_TRACE(fullSize ? "actual size" : "fitted");
        WriteProfileInt(kSettingsSection, settingskey::kViewFullSize, fullSize);
        m_files = {Pattern("big.jpg", 2400, 1800), Pattern("next.png", 300, 200)};
        CPreviewDlg &dlg = Open();
        // The first look is smaller than the picture, laid out at its own size.
        EXPECT_LT(dlg.GetImage().GetWidth(), 2400);
        const WinRect first = dlg.GetImageRect();
        EXPECT_EQ(first.Width(), fullSize ? 2400 : viewgeom::DisplaySize(2400, 1800, false, 1, false,
                                                                         dlg.GetScreenSize()).width);
        const QColor corner = dlg.grab().toImage().pixelColor(first.left + 15, first.top + 15);
        settle(dlg);
        EXPECT_EQ(dlg.GetImage().GetWidth(), 2400);
        EXPECT_EQ(dlg.GetImageRect(), first);
        // Smooth scaling of the first look and of the whole picture agree
        // within a few levels on a flat cell.
        const QColor whole = dlg.grab().toImage().pixelColor(first.left + 15, first.top + 15);
        EXPECT_NEAR(whole.red(), corner.red(), 12);
        EXPECT_NEAR(whole.green(), corner.green(), 12);

        // A neighbour changed after it was read ahead is read anew.
        Pattern("next.png", 320, 200);
        Key(Qt::Key_PageDown);
        EXPECT_EQ(dlg.GetImage().GetWidth(), 320);
        // A zoom step on the top left part waits for the whole picture; on
        // a reduced first look it scales that until the whole is in.
        CPreviewDlg &again = Open();
        Key(Qt::Key_Plus);
        EXPECT_EQ(again.GetImage().GetWidth() == 2400, fullSize);
        settle(again);
        EXPECT_EQ(again.GetImage().GetWidth(), 2400);
        EXPECT_EQ(again.GetImageRect().Width(),
                  viewgeom::DisplaySize(2400, 1800, true, again.GetZoom(), fullSize, again.GetScreenSize()).width);
    }
}

// A picture too large to hold is shown from a reduced decode, laid out at
// its own size; at actual size the part in view is decoded at scale 1 and
// drawn over it, so its own pixels show (here columns alternately dark and
// light, which the reduced decode averages to grey), and again where the
// view moves: a JPEG decodes just that part, a PGM's rows are read through.
TEST_F(ViewerTest, APictureTooLargeToHoldShowsItsOwnPixelsWhereViewed)
{
    constexpr int kSide = 16400;
    ASSERT_FALSE(cxcodec::FitsPixelLimits(kSide, kSide));
    class Stripes final : public cxcodec::RowFeed {
    public:
        explicit Stripes(CxImage &band) : m_band(band) {}
        bool Arrived(int y) override
        {
            Row(m_band.GetBits(y), m_band.GetWidth());
            return true;
        }
        static void Row(BYTE *row, int width)
        {
            for (int x = 0; x < width; ++x)
                row[x] = BYTE(x % 2 ? 216 : 40);
        }

    private:
        CxImage &m_band;
    };
    const std::string jpeg = m_dir.Path("huge.jpg"), pgm = m_dir.Path("huge.pgm");
    {
        CxImage band;
        ASSERT_TRUE(CxImageAccess::CreateBand(band, kSide, kSide, 8, CXIMAGE_FORMAT_JPG, 16));
        Stripes rows(band);
        CxImageAccess::SetFeed(band, &rows);
        band.SetJpegQuality(95);
        CxIOFile out;
        ASSERT_TRUE(out.Open(jpeg.c_str(), "wb"));
        ASSERT_TRUE(band.Encode(&out, CXIMAGE_FORMAT_JPG)) << band.GetLastError();
        out.Close();
        std::vector<BYTE> row(kSide);
        Stripes::Row(row.data(), kSide);
        std::FILE *f = std::fopen(pgm.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "P5\n%d %d\n255\n", kSide, kSide);
        for (int y = 0; y < kSide; ++y)
            std::fwrite(row.data(), 1, row.size(), f);
        ASSERT_EQ(std::fclose(f), 0);
    }
    const auto settle = [](CPreviewDlg &dlg) {
        QElapsedTimer t;
        t.start();
        while (dlg.IsReading() && t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_FALSE(dlg.IsReading());
    };
    // How far apart neighbouring pixels are around a point of the window.
    const auto contrast = [](CPreviewDlg &dlg, QPoint at) {
        const QImage shot = dlg.grab().toImage();
        int most = 0;
        for (int x = at.x() - 4; x < at.x() + 4; ++x)
            most = std::max(
                most, std::abs(shot.pixelColor(x, at.y()).green() - shot.pixelColor(x + 1, at.y()).green()));
        return most;
    };
    for (const std::string &path : {jpeg, pgm}) {
        SCOPED_TRACE(path);
        WriteProfileInt(kSettingsSection, settingskey::kViewFullSize, true); // the fit below is kept
        m_files = {QString::fromStdString(path)};
        CPreviewDlg &dlg = Open();
        settle(dlg);
        ASSERT_TRUE(viewwork::IsPartial(dlg.GetImage()));
        EXPECT_EQ(dlg.GetImageRect().Width(),
                  viewgeom::ActualSize({kSide, kSide}, dlg.devicePixelRatioF()).width);
        const QPoint middle(dlg.width() / 2, dlg.height() / 2);
        EXPECT_GT(contrast(dlg, middle), 100);
        // Elsewhere in the picture.
        dlg.ScrollBy(5000, 7000);
        settle(dlg);
        EXPECT_GT(contrast(dlg, middle), 100);
        // Fitted, the reduced picture has more pixels than are shown: no part.
        dlg.OnFit();
        settle(dlg);
        EXPECT_LT(dlg.GetImageRect().Width(), 4000);
        EXPECT_LT(contrast(dlg, middle), 100);
    }
}

TEST_F(ViewerTest, CutOffJpegShowsWhatArrived)
{
    const QString path = Pattern("cut.jpg", 400, 300);
    std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path.toStdString());
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(testsupport::WriteFileBytes(path.toStdString(), bytes));
    m_files << path;
    CPreviewDlg &dlg = Open();
    EXPECT_FALSE(dlg.IsError());
    EXPECT_EQ(dlg.GetImage().GetWidth(), 400);
}

TEST_F(ViewerTest, AnimationsPlayUnlessThePreviewMakesAStill)
{
    const RGBQUAD red{0, 0, 255, 0}, blue{255, 0, 0, 0};
    m_files << Animation("anim.gif", 60, 40, {red, blue, red});

    CPreviewDlg &plain = Open();
    EXPECT_TRUE(plain.IsPictureMode());
    EXPECT_FALSE(plain.IsError());
    EXPECT_TRUE(plain.GetPicture()->isVisible());
    EXPECT_EQ(plain.GetPicture()->GetFrameCount(), 3);
    EXPECT_EQ(plain.GetPicture()->GetPictureSize(), QSize(60, 40));

    // Run again over a still, the animation is gone.
    m_files << Pattern("still.png", 20, 20);
    plain.reject();
    plain.SetStartIndex(1);
    plain.show();
    EXPECT_FALSE(plain.IsPictureMode());
    EXPECT_FALSE(plain.GetPicture()->isVisible());
    EXPECT_EQ(plain.GetImage().GetWidth(), 20);

    // As JPG the first frame is shown, rotated and resized, as a still.
    CConvertJob job;
    job.m_bRotate = true;
    job.m_nrotateType = ROTATE_LEFT;
    job.m_bResize = true;
    job.m_nResizeType = 1; // width 80, height follows
    job.m_nWidth = 80;
    job.m_nHeight = 10;
    job.m_bDontEnlarge = 1; // the preview enlarges all the same
    job.m_szFormat = "JPG"; // as MakeConvertJob spells it
    m_dlg = std::make_unique<CPreviewDlg>();
    m_dlg->SetFileList(&m_files);
    m_dlg->SetPreview(true);
    m_dlg->SetPreviewSettings(job);
    m_dlg->show();
    EXPECT_FALSE(m_dlg->IsPictureMode());
    ASSERT_TRUE(m_dlg->GetImage().IsValid());
    EXPECT_EQ(m_dlg->GetImage().GetWidth(), 80);
    EXPECT_EQ(m_dlg->GetImage().GetHeight(), 120);
    const RGBQUAD c = m_dlg->GetImage().GetPixelColor(40, 60);
    EXPECT_GT(c.rgbRed, 200);
    EXPECT_LT(c.rgbBlue, 50);

    // Kept as GIF, the processed frames play.
    job.m_szFormat = "GIF";
    m_dlg = std::make_unique<CPreviewDlg>();
    m_dlg->SetFileList(&m_files);
    m_dlg->SetPreview(true);
    m_dlg->SetPreviewSettings(job);
    m_dlg->show();
    EXPECT_TRUE(m_dlg->IsPictureMode());
    EXPECT_FALSE(m_dlg->IsError());
    EXPECT_EQ(m_dlg->GetPicture()->GetFrameCount(), 3);
    EXPECT_EQ(m_dlg->GetPicture()->GetPictureSize(), QSize(80, 120));
    EXPECT_EQ(m_dlg->GetPicture()->GetFrameDelay(1), 10);

    // As WebP, and an animated WebP itself, play from decoded frames.
    const std::string webp = m_dir.Path("anim.webp");
    {
        std::vector<CxImage> frames(3);
        std::vector<const CxImage *> pointers;
        for (CxImage &f : frames) {
            ASSERT_TRUE(f.Create(30, 20, 24));
            f.SetJpegQuality(100);
            f.SetPixelColor(0, 0, {0, 0, BYTE(40 * pointers.size()), 0}); // frames that differ
            pointers.push_back(&f);
        }
        const int delays[] = {100, 250, 100};
        CxIOFile file;
        ASSERT_TRUE(file.Open(webp.c_str(), "wb"));
        ASSERT_TRUE(WriteWebpAnimation(file, pointers.data(), delays, 3, 0, 0));
    }
    m_files << QString::fromStdString(webp);
    struct Row {
        bool preview;
        int start;
        QSize size;
        int delay1;
    } const rows[] = {{true, 0, {80, 120}, 10}, {false, 2, {30, 20}, 25}};
    job.m_szFormat = "WEBP";
    for (const Row &r : rows) {
        m_dlg = std::make_unique<CPreviewDlg>();
        m_dlg->SetFileList(&m_files);
        m_dlg->SetPreview(r.preview);
        m_dlg->SetPreviewSettings(job);
        m_dlg->SetStartIndex(r.start);
        m_dlg->show();
        EXPECT_TRUE(m_dlg->IsPictureMode()) << r.start;
        EXPECT_FALSE(m_dlg->IsError());
        EXPECT_EQ(m_dlg->GetPicture()->GetFrameCount(), 3);
        EXPECT_EQ(m_dlg->GetPicture()->GetPictureSize(), r.size);
        EXPECT_EQ(m_dlg->GetPicture()->GetFrameDelay(1), r.delay1);
    }
}

TEST_F(ViewerTest, InfoTellsNamePositionAndZoomForAMomentOrWhilePinned)
{
    m_files << Pattern("a.png", 200, 100) << Pattern("b.png", 300, 100) << Missing("gone.png");
    CPreviewDlg &dlg = Open();
    CViewerInfo *info = dlg.GetInfo();
    const struct {
        std::function<void()> act;
        const char *text;
    } steps[] = {
        {[] {}, "a.png   1 / 3   100%"},
        {[&] { Key(Qt::Key_Space); }, "b.png   2 / 3   100%"},
        {[&] { Key(Qt::Key_Plus, Qt::KeypadModifier); }, "b.png   2 / 3   133%"},
        {[&] { Key(Qt::Key_Minus), Key(Qt::Key_Minus); }, "b.png   2 / 3   75%"},
        {[&] { Key(Qt::Key_End); }, "gone.png   3 / 3"}, // the error picture has no zoom
    };
    for (const auto &step : steps) {
        step.act();
        EXPECT_TRUE(info->isVisible()) << step.text;
        EXPECT_EQ(info->GetText(), step.text);
        EXPECT_EQ(info->geometry().bottomLeft(), QPoint(16, dlg.height() - 17));
        EXPECT_TRUE(info->IsCountingDown());
    }
    info->Expire();
    EXPECT_FALSE(info->isVisible());

    // Pinned with I, it stays through changes and the next opening; I again
    // hides it.
    Key(Qt::Key_I);
    EXPECT_TRUE(info->isVisible());
    Key(Qt::Key_Home);
    EXPECT_EQ(info->GetText(), "a.png   1 / 3   100%");
    EXPECT_FALSE(info->IsCountingDown());
    info->Expire();
    EXPECT_TRUE(info->isVisible());
    info = Open(1).GetInfo();
    EXPECT_TRUE(info->isVisible());
    EXPECT_EQ(info->GetText(), "b.png   2 / 3   100%");
    EXPECT_FALSE(info->IsCountingDown());
    Key(Qt::Key_I);
    EXPECT_FALSE(info->isVisible());
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kViewInfo, -1), 0);
}

TEST(ViewerInfo, EachNameIsElidedOnlyWhenTheBoxCannotHoldIt)
{
    QWidget viewer;
    viewer.resize(500, 300);
    viewer.show();
    CViewerInfo info(&viewer);
    // A Chinese desktop's interface font, whose rounded widths do not add up.
    info.setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 9));
    const QString where = CViewerInfo::Where(0, 3, 100);
    const QString longName = QString(120, QChar('x')) + QStringLiteral("end.png");
    for (const QString &name :
         {longName, QStringLiteral("pa.png"), longName, QStringLiteral("风景.jpg"),
          QStringLiteral("照片 001.png"), longName, QStringLiteral("IMG_20230101.jpg")}) {
        SCOPED_TRACE(name.toStdString());
        info.Flash(name, where);
        const QString shown = info.GetShownText();
        if (name != longName) {
            EXPECT_EQ(shown.toStdString(), info.GetText().toStdString());
            continue;
        }
        EXPECT_TRUE(shown.startsWith(QStringLiteral("xxx")) &&
                    shown.endsWith(QStringLiteral("end.png   ") + where));
        EXPECT_LT(shown.size(), info.GetText().size());
        EXPECT_LE(info.fontMetrics().horizontalAdvance(shown), info.width() - 24);
    }
}

// Ctrl+Page Down/Up turn a document's pages, stopping at its first and last;
// Page Down/Up still move between files, and each file starts at its first
// page. The info line names the page only for a document of several.
TEST_F(ViewerTest, CtrlPageKeysTurnTheDocumentsPages)
{
    const std::string pdf = m_dir.Path("d.pdf");
    testsupport::MakePdf(pdf, {{72, 36, 1, 0, 0}, {144, 72, 0, 1, 0}, {36, 72, 0, 0, 1}});
    m_files << QString::fromStdString(pdf) << Pattern("e.png", 40, 30);
    CPreviewDlg &dlg = Open(0);
    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        int index, page, pages;
        QRgb colour; // of the page; 0 for the picture
    } steps[] = {
        {Qt::Key_unknown, {}, 0, 1, 3, red},
        {Qt::Key_PageUp, Qt::ControlModifier, 0, 1, 3, red},
        {Qt::Key_PageDown, Qt::ControlModifier, 0, 2, 3, green},
        {Qt::Key_PageDown, Qt::ControlModifier, 0, 3, 3, blue},
        {Qt::Key_PageDown, Qt::ControlModifier, 0, 3, 3, blue},
        {Qt::Key_PageUp, Qt::ControlModifier, 0, 2, 3, green},
        {Qt::Key_PageDown, {}, 1, 1, 1, 0},
        {Qt::Key_PageDown, Qt::ControlModifier, 1, 1, 1, 0},
        {Qt::Key_PageUp, {}, 0, 1, 3, red},
    };
    for (const Step &st : steps) {
        if (st.key != Qt::Key_unknown)
            Key(st.key, st.mods);
        const QString where = QString::number(st.index) + "/" + QString::number(st.page);
        EXPECT_EQ(dlg.GetIndex(), st.index) << where.toStdString();
        EXPECT_EQ(dlg.GetPage(), st.page) << where.toStdString();
        EXPECT_EQ(dlg.GetPageCount(), st.pages) << where.toStdString();
        const QString text = dlg.GetInfo()->GetText();
        if (st.pages > 1) {
            EXPECT_TRUE(text.endsWith(QString("第 %1/3 页").arg(st.page))) << text.toStdString();
            const QImage shown = dlg.GetImage().ToQImage();
            EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2) & 0xffffff, st.colour & 0xffffff)
                << where.toStdString();
        } else {
            EXPECT_FALSE(text.contains("页")) << text.toStdString();
        }
    }
}
