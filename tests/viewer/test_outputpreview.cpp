// The actual output in the viewer: made off the window's thread, dropped
// when the page turns, and an estimate of the list from a few of its files.
#include "resources/ids_viewer.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/outputpreview.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace viewertest;

namespace {

CConvertJob JpegAt(int quality)
{
    CConvertJob job;
    job.SetFormat("JPG");
    job.SetQuality(quality);
    return job;
}

void Settle(viewout::COutputPreview *work)
{
    work->WaitIdle();
    QCoreApplication::processEvents();
}

} // namespace

TEST(OutputPreview, APageTurnStopsTheEncodeAndDropsItsResult)
{
    std::mutex mutex;
    std::condition_variable released;
    bool started = false, release = false;
    std::atomic<bool> firstStopped{false};
    viewout::COutputPreview work(
        [&](const QString &path, const std::stop_token &stop) {
            viewout::Result r;
            r.path = path;
            if (path == "a") {
                std::unique_lock lock(mutex);
                started = true;
                released.notify_all();
                released.wait(lock, [&] { return release; });
                firstStopped = stop.stop_requested();
            }
            return r;
        },
        [](const QString &, const std::stop_token &) { return std::int64_t(-1); });
    QStringList shown;
    QObject::connect(&work, &viewout::COutputPreview::Ready,
                     [&](const viewout::Result &r) { shown << r.path; });
    work.Request("a");
    {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return started; });
    }
    work.Request("b"); // returns while "a" is still encoding
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    Settle(&work);
    EXPECT_TRUE(firstStopped);
    EXPECT_EQ(shown, QStringList{"b"});

    // A result already on its way when the page turns is dropped too.
    work.Request("c");
    work.WaitIdle();
    work.Cancel();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, QStringList{"b"});
}

TEST(OutputPreview, SamplesSpreadAndScale)
{
    EXPECT_EQ(viewout::SampleIndexes(3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(viewout::SampleIndexes(20), (std::vector<int>{0, 2, 5, 8, 10, 13, 16, 19}));
    EXPECT_TRUE(viewout::SampleIndexes(0).empty());
    struct Row {
        std::vector<viewout::Sample> samples;
        std::int64_t listBytes;
        int count;
        std::int64_t total;
    };
    const Row rows[] = {
        {{{1000, 250}, {3000, 750}}, 40000, 40, 10000}, // a quarter of the sources' bytes
        {{{0, 100}, {0, 300}}, 0, 10, 2000},            // sizes unknown: by count
        {{}, 5000, 5, 0},
    };
    for (const Row &row : rows) {
        const viewout::Estimate e = viewout::EstimateTotal(row.samples, row.listBytes, row.count);
        EXPECT_EQ(e.total, row.total);
        EXPECT_EQ(e.samples, int(row.samples.size()));
    }
    EXPECT_EQ(viewout::ByteSizeText(1234567), "1.2 MB (1 234 567 字节)");
    EXPECT_EQ(viewout::ByteSizeText(512), "512 字节");
}

TEST_F(ViewerTest, EstimateOfASmallListIsItsOutputs)
{
    m_files << Pattern("e0.png", 60, 40) << Pattern("e1.png", 90, 50) << Pattern("e2.png", 30, 30);
    const CConvertJob job = JpegAt(30);
    std::int64_t sum = 0;
    for (const QString &f : m_files)
        sum += std::int64_t(MakeOutputBytes(job, f.toStdString(), {}).bytes.size);
    viewout::COutputPreview work(job);
    std::optional<viewout::Estimate> got;
    QObject::connect(&work, &viewout::COutputPreview::Estimated,
                     [&](const viewout::Estimate &e) { got = e; });
    work.RequestEstimate(m_files);
    Settle(&work);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->samples, 3);
    EXPECT_EQ(got->total, sum);
}

TEST_F(ViewerTest, PreviewShowsTheActualOutputBesideTheSource)
{
    m_files << Pattern("p0.png", 200, 120) << Pattern("p1.png", 80, 60) << Missing("gone.png");
    const CConvertJob job = JpegAt(30);
    CPreviewDlg &dlg = OpenSelected(job);
    Key(Qt::Key_O);
    ASSERT_TRUE(dlg.IsOutputMode());
    EXPECT_EQ(dlg.GetOutput(), nullptr); // being made
    Settle(dlg.GetOutputWork());
    ASSERT_NE(dlg.GetOutput(), nullptr);
    const OutputBytes expected = MakeOutputBytes(job, m_files[0].toStdString(), {});
    EXPECT_EQ(dlg.GetOutput()->bytes, std::int64_t(expected.bytes.size));
    EXPECT_EQ(dlg.GetOutput()->output.size(), QSize(200, 120));
    EXPECT_EQ(dlg.GetOutput()->source.size(), QSize(200, 120));
    EXPECT_TRUE(dlg.GetOutputLines().front().contains(viewout::ByteSizeText(dlg.GetOutput()->bytes)));
    EXPECT_TRUE(dlg.GetOutputLines()[1].contains("2 个样本"));

    // The split line follows a drag; Tab shows either whole.
    const QPoint line(dlg.GetSplitX(), dlg.height() / 2);
    MousePress(&dlg, line);
    MouseMove(&dlg, line - QPoint(40, 0), Qt::LeftButton);
    MouseRelease(&dlg, line - QPoint(40, 0));
    EXPECT_EQ(dlg.GetSplitX(), line.x() - 40);
    Key(Qt::Key_Tab);
    EXPECT_EQ(dlg.GetOutputView(), CPreviewDlg::OutputView::Output);
    Key(Qt::Key_Tab);
    EXPECT_EQ(dlg.GetOutputView(), CPreviewDlg::OutputView::Source);

    // The next page never shows the one before's output.
    Key(Qt::Key_PageDown);
    EXPECT_EQ(dlg.GetOutput(), nullptr);
    Settle(dlg.GetOutputWork());
    ASSERT_NE(dlg.GetOutput(), nullptr);
    EXPECT_EQ(dlg.GetOutput()->path, m_files[1]);
    // Taken off the list, a file leaves the estimate; the next one cannot
    // be made and says why, as text.
    dlg.OnRemoveFromList();
    Settle(dlg.GetOutputWork());
    ASSERT_NE(dlg.GetOutput(), nullptr);
    EXPECT_TRUE(dlg.GetOutputLines()[1].contains("1 个样本"));
    EXPECT_TRUE(dlg.GetOutputLines().front().startsWith("无法生成输出: "))
        << dlg.GetOutputLines().front().toStdString();

    Key(Qt::Key_PageUp);
    Key(Qt::Key_O);
    EXPECT_FALSE(dlg.IsOutputMode());
    EXPECT_TRUE(dlg.GetImage().IsValid());
}

// The source side shows the file as read, not the steps' result: painted
// beside the output, split or whole, at its own place and size.
TEST_F(ViewerTest, TheSourceSideIsThePictureBeforeTheSteps)
{
    CConvertJob turned = JpegAt(90);
    turned.SetRotateFlag(true);
    turned.SetRotation(ROTATE_RIGHT);
    CConvertJob stamped = JpegAt(90);
    stamped.SetStampFlag(true);
    stamped.SetStamp("VELMORA", nullptr, 0xffffff);
    const struct {
        const char *name;
        CConvertJob job;
        QSize output;
    } rows[] = {{"turned", turned, {120, 200}}, {"stamped", stamped, {200, 120}}};
    m_files << Pattern("s0.png", 200, 120);
    const QImage file = QImage(m_files[0]).convertToFormat(QImage::Format_RGB32);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CPreviewDlg &dlg = OpenSelected(row.job);
        Key(Qt::Key_O);
        Settle(dlg.GetOutputWork());
        ASSERT_NE(dlg.GetOutput(), nullptr);
        EXPECT_EQ(dlg.GetOutput()->output.size(), row.output);
        EXPECT_EQ(dlg.GetOutput()->source.convertToFormat(QImage::Format_RGB32), file);
        // Where a 200 x 120 picture lies at 100 % on this screen.
        const viewgeom::Layout at = viewgeom::LayoutImage(
            viewgeom::ActualSize({200, 120}, dlg.devicePixelRatioF()), dlg.GetScreenSize());
        for (bool split : {true, false}) {
            if (!split) {
                Key(Qt::Key_Tab);
                Key(Qt::Key_Tab);
                ASSERT_EQ(dlg.GetOutputView(), CPreviewDlg::OutputView::Source);
            }
            const QImage painted = dlg.grab().toImage();
            int same = 0, looked = 0;
            for (int cy = 0; cy < 12; ++cy)
                for (int cx = 0; cx < 20; ++cx) {
                    const QPoint in(cx * kCell + kCell / 2, cy * kCell + kCell / 2);
                    const QPoint on(at.image.left + in.x(), at.image.top + in.y());
                    if (split && on.x() >= dlg.GetSplitX() - 4)
                        continue;
                    ++looked;
                    same += painted.pixel(on) == file.pixel(in);
                }
            EXPECT_GT(looked, 50);
            EXPECT_EQ(same, looked) << (split ? "split" : "source");
        }
        m_dlg.reset();
    }
}

// A watermark numbering its files counts them as the list stands after one
// is taken off, as the run will.
TEST_F(ViewerTest, ActualOutputNumbersTheListAsItStands)
{
    m_files << Pattern("n0.png", 120, 80) << Pattern("n1.png", 120, 80) << Pattern("n2.png", 120, 80);
    const auto numbered = [](const QStringList &files) {
        CConvertJob job = JpegAt(60);
        job.SetStampFlag(true);
        job.SetStamp("#{n}", nullptr, 0xffffff);
        job.SetFileCount(int(files.size()));
        for (int i = 0; i < int(files.size()); ++i)
            job.SetFile(i, files[i].toStdString());
        return job;
    };
    CPreviewDlg &dlg = OpenSelected(numbered(m_files));
    Key(Qt::Key_O);
    Settle(dlg.GetOutputWork());
    const QString second = m_files[1];
    dlg.OnRemoveFromList();
    Settle(dlg.GetOutputWork());
    ASSERT_NE(dlg.GetOutput(), nullptr);
    ASSERT_EQ(dlg.GetOutput()->path, second);
    const CConvertJob now = numbered(m_files); // the list without the first
    EXPECT_EQ(dlg.GetOutput()->bytes,
              std::int64_t(MakeOutputBytes(now, second.toStdString(), {}).bytes.size));
    EXPECT_NE(MakeOutputBytes(now, second.toStdString(), {}).bytes.size,
              MakeOutputBytes(numbered({m_files.back(), second}), second.toStdString(), {}).bytes.size);
}

TEST_F(ViewerTest, ActualOutputOnlyInPreview)
{
    m_files << Pattern("v0.png", 40, 30);
    CPreviewDlg &dlg = Open(0, CPreviewDlg::MODE_FOLDER);
    Key(Qt::Key_O);
    EXPECT_FALSE(dlg.IsOutputMode());
}
