#include "convert/convertworker.h"
#include "tests/rundialogs/dialog_helpers.h"
#include "resources/ids_progress.h"
#include "rundialogs/overwritedialog.h"
#include "rundialogs/progressdialog.h"
#include "rundialogs/workerthread.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <latch>
#include <set>

using namespace dlgtest;
using namespace progressid;
using testsupport::ScratchDir;

namespace {

QString Text(CProgressDialog &d, int id)
{
    if (auto *label = ById<QLabel>(&d, id))
        return label->text();
    if (auto *edit = ById<QPlainTextEdit>(&d, id))
        return edit->toPlainText();
    return ById<QAbstractButton>(&d, id)->text();
}

int Percent(CProgressDialog &d)
{
    return ById<QProgressBar>(&d, IDC_PROGRESS)->value();
}

std::string Converted(const std::string &src, const std::string &out)
{
    return "从: " + src + "\r\n  到: " + out + "\r\n";
}

QStringList Q(const std::vector<std::string> &v)
{
    QStringList l;
    for (const auto &s : v)
        l << QString::fromStdString(s);
    return l;
}

} // namespace

TEST(ProgressDialog, ControlsAndArrangement)
{
    SetPrefs(1, 0);
    CProgressDialog dlg(JobFor({}, "/nowhere"), nullptr);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Velmora");
    EXPECT_EQ(dlg.size(), QSize(498, 371)); // 332 x 228 units
    const struct {
        int id;
        const char *text;
        QRect rect;
    } controls[] = {{IDC_VIEW_RESULTS, "查看结果", QRect(401, 16, 84, 23)},
                    {IDC_STOP, "停止", QRect(401, 44, 84, 23)},
                    {IDC_DETAILS, "<< 详细信息", QRect(401, 72, 84, 22)},
                    {IDC_AUTO_CLOSE, "完成后关闭", QRect(14, 99, 156, 16)},
                    {IDC_STATUS, "正在转换文件。请稍等", QRect(78, 21, 315, 18)}};
    for (const auto &c : controls) {
        EXPECT_EQ(Text(dlg, c.id), U(c.text));
        EXPECT_EQ(ById(&dlg, c.id)->geometry(), c.rect) << c.id;
    }
    EXPECT_FALSE(ById(&dlg, IDC_VIEW_RESULTS)->isEnabled());
    auto *bar = ById<QProgressBar>(&dlg, IDC_PROGRESS);
    EXPECT_EQ(bar->geometry(), QRect(14, 73, 375, 20));
    EXPECT_EQ(bar->maximum(), 100);
    auto *log = ById(&dlg, IDC_LOG);
    EXPECT_EQ(QRect(log->mapTo(&dlg, QPoint(0, 0)), log->size()), QRect(21, 150, 455, 199));
    // The empty run ends at once with its summary and stays (auto-close off).
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
    EXPECT_EQ(Text(dlg, IDC_STATUS), U("转换已完成。"));
    EXPECT_EQ(Text(dlg, IDC_STOP), U("退出"));
    EXPECT_EQ(Text(dlg, IDC_LOG), U("\n总计文件: 0; 已转换: 0; 错误: 0。"));
}

// The overwrite question holds the worker at a known point: everything
// reported before it must be on screen, in order.
TEST(ProgressDialog, StatusPercentAndLogArriveInOrder)
{
    SetPrefs(1, 0);
    ScratchDir src, out;
    const int n = 30;
    const auto files = MakePictures(src, n, 8, 6);
    const std::set<int> existing{2, 3, 23, 24};
    for (int k : existing)
        ASSERT_TRUE(testsupport::WriteFileBytes(Name(out.Root(), k, "BMP"), {1}));
    std::vector<std::string> outputs, logs;
    for (int j = 0; j < n; ++j) {
        outputs.push_back(Name(out.Root(), j, "BMP", existing.count(j) ? "_001" : ""));
        logs.push_back(Converted(files[j], outputs[j]));
    }

    QStringList list;
    CProgressDialog dlg(JobFor(files, out.Root()), &list);
    auto next = existing.begin();
    WhenShown<COverwriteDialog> answer([&](COverwriteDialog *q) {
        ASSERT_NE(next, existing.end());
        const int k = *next++;
        EXPECT_EQ(q->GetMessage(), U("文件 \"%1\" 已存在!\r\n\r\n请选择你想要的设置。")
                                       .arg(QString::fromStdString(Name(out.Root(), k, "BMP"))));
        // 25 states: the counter after k + 1 steps, a full stop per four.
        EXPECT_EQ(Text(dlg, IDC_STATUS), U("正在转换文件。请稍等") + QString((k + 1) % 25 / 4, '.')) << k;
        EXPECT_EQ(Percent(dlg), 100 * k / n);
        std::string before;
        for (int j = 0; j < k; ++j)
            before += logs[j];
        before += "从: " + files[k] + "\r\n";
        EXPECT_EQ(dlg.GetLogText().toStdString(), before);
        EXPECT_EQ(Text(dlg, IDC_LOG), Lf(QString::fromStdString(before)));
        EXPECT_EQ(list.size(), k);
        Click(ById(q, IDC_AUTO_RENAME));
    });
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
    EXPECT_EQ(answer.count, 4);
    std::string all;
    for (const auto &l : logs)
        all += l;
    all += "\r\n总计文件: 30; 已转换: 30; 错误: 0。";
    EXPECT_EQ(dlg.GetLogText().toStdString(), all);
    EXPECT_EQ(Text(dlg, IDC_LOG), Lf(QString::fromStdString(all)));
    EXPECT_EQ(list, Q(outputs));
    EXPECT_EQ(Percent(dlg), 100);
    EXPECT_TRUE(ById(&dlg, IDC_VIEW_RESULTS)->isEnabled());
}

TEST(ProgressDialog, DetailsShowTheWholeHiddenLogAndKeepTheScrollPosition)
{
    SetPrefs(0, 0);
    ScratchDir src, out;
    const auto files = MakePictures(src, 25, 4, 4);
    CProgressDialog dlg(JobFor(files, out.Root()), nullptr);
    dlg.show();
    EXPECT_EQ(dlg.height(), 123); // 371 - trunc(371 x 0.67)
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
    auto *details = ById(&dlg, IDC_DETAILS);
    QScrollBar *scroll = ById<QPlainTextEdit>(&dlg, IDC_LOG)->verticalScrollBar();
    Click(details);
    EXPECT_EQ(Text(dlg, IDC_DETAILS), U("<< 详细信息"));
    EXPECT_EQ(dlg.height(), 371);
    const QStringList lines = Text(dlg, IDC_LOG).split('\n');
    ASSERT_EQ(lines.size(), 52);
    for (int j = 0; j < 25; ++j) {
        EXPECT_EQ(lines[2 * j], U("从: ") + QString::fromStdString(files[j]));
        EXPECT_EQ(lines[2 * j + 1], U("  到: ") + QString::fromStdString(Name(out.Root(), j, "BMP")));
    }
    EXPECT_EQ(lines[51], U("总计文件: 25; 已转换: 25; 错误: 0。"));
    EXPECT_EQ(scroll->value(), 0);

    scroll->setValue(17);
    Click(details);
    EXPECT_EQ(Text(dlg, IDC_DETAILS), U("详细信息 >>"));
    EXPECT_EQ(dlg.height(), 123);
    Click(details);
    EXPECT_EQ(scroll->value(), 17);
    EXPECT_EQ(Text(dlg, IDC_LOG).split('\n'), lines);
}

TEST(ProgressDialog, PreferencesAreReadOnOpeningAndWrittenOnClosing)
{
    ScratchDir src;
    const CConvertJob failing = JobFor({src.Path("gone.png")}, src.Root());
    auto stored = [](const char *key) { return GetProfileInt(kSettingsSection, key, -1); };
    SetPrefs(0, 0);
    {
        CProgressDialog dlg(failing, nullptr);
        dlg.show();
        EXPECT_FALSE(ById<QCheckBox>(&dlg, IDC_AUTO_CLOSE)->isChecked());
        ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
        Click(ById(&dlg, IDC_DETAILS));
        Click(ById(&dlg, IDC_AUTO_CLOSE));
        Click(ById(&dlg, IDC_STOP));
        EXPECT_FALSE(dlg.isVisible());
    }
    EXPECT_EQ(stored(settingskey::kProgress), 1);
    EXPECT_EQ(stored(settingskey::kAutoClose), 1);
    {
        // The failed file keeps the dialog open although auto-close is on.
        CProgressDialog dlg(failing, nullptr);
        dlg.show();
        EXPECT_EQ(dlg.height(), 371);
        EXPECT_EQ(Text(dlg, IDC_DETAILS), U("<< 详细信息"));
        EXPECT_TRUE(ById<QCheckBox>(&dlg, IDC_AUTO_CLOSE)->isChecked());
        ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
        EXPECT_TRUE(dlg.isVisible());
        Click(ById(&dlg, IDC_DETAILS));
        Click(ById(&dlg, IDC_AUTO_CLOSE));
        Key(&dlg, Qt::Key_Escape);
        EXPECT_FALSE(dlg.isVisible());
    }
    EXPECT_EQ(stored(settingskey::kProgress), 0);
    EXPECT_EQ(stored(settingskey::kAutoClose), 0);
}

TEST(ProgressDialog, AutoCloseOnlyAfterACleanRun)
{
    ScratchDir src, out;
    SetPrefs(0, 1);
    QStringList list;
    {
        CProgressDialog dlg(JobFor(MakePictures(src, 3, 8, 8), out.Root()), &list);
        bool timedOut = false;
        QTimer::singleShot(60000, &dlg, [&] { timedOut = true, dlg.reject(); });
        EXPECT_EQ(dlg.exec(), QDialog::Rejected);
        EXPECT_FALSE(timedOut);
        EXPECT_EQ(list.size(), 3);
    }
    // Nothing succeeds: a missing file and one that is not a picture.
    ASSERT_TRUE(testsupport::WriteFileBytes(src.Path("bad.png"), {'n', 'o'}));
    CProgressDialog dlg(JobFor({src.Path("gone.png"), src.Path("bad.png")}, out.Root()), nullptr);
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(Text(dlg, IDC_STATUS), U("转换已完成。"));
    EXPECT_EQ(Text(dlg, IDC_STOP), U("退出"));
    EXPECT_EQ(dlg.GetSummary(), U("\r\n总计文件: 2; 已转换: 0; 错误: 2。"));
    // Each error line is followed by what velmora-batch says on standard error.
    EXPECT_EQ(dlg.GetLogText().toStdString(),
              "从: " + src.Path("gone.png") + "\r\n  错误: 文件不存在。\r\n    " + std::strerror(ENOENT) +
                  "\r\n从: " + src.Path("bad.png") +
                  "\r\n  错误: 打开文件错误。\r\n    unknown file format\r\n" +
                  "\r\n总计文件: 2; 已转换: 0; 错误: 2。");
    EXPECT_FALSE(ById(&dlg, IDC_VIEW_RESULTS)->isEnabled());
    bool viewerOpened = false;
    dlg.SetResultsViewer([&](QWidget *, QStringList *) { viewerOpened = true; });
    dlg.OnViewResults();
    EXPECT_FALSE(viewerOpened);
    Click(ById(&dlg, IDC_STOP));
    EXPECT_FALSE(dlg.isVisible());
}

// The window has no standard error: a failed file's cause follows its error
// lines on a line of its own, indented; the lines themselves stay as they were.
TEST(ProgressDialog, AFailedFilesReasonFollowsItsErrorLines)
{
    SetPrefs(1, 0);
    const struct {
        FileOutcome outcome;
        const char *reason;
        const char *lines;
    } rows[] = {
        {FileOutcome::FrameError, "no frame 3",
         "  错误: 打开文件错误。\r\n  错误: 转换文件错误!\r\n  错误: 保存文件错误!\r\n    no frame 3\r\n"},
        {FileOutcome::SaveError, "disk full\nor gone", "  错误: 保存文件错误!\r\n    disk full or gone\r\n"},
        {FileOutcome::SaveError, "", "  错误: 保存文件错误!\r\n"},
        {FileOutcome::Converted, "", "  到: out.bmp\r\n"},
    };
    std::string expected;
    for (const auto &row : rows)
        expected += std::string("从: in.png\r\n") + row.lines;
    CProgressDialog dlg(JobFor({}, "/out"), nullptr);
    dlg.SetRunBody([&](const CConvertJob &, IConvertReporter &r, std::stop_token) {
        for (const auto &row : rows) {
            r.FileStarted("in.png");
            r.FileDone(FileRecord{"in.png", row.outcome == FileOutcome::Converted ? "out.bmp" : "",
                                  row.outcome, row.reason});
        }
        r.ConvertDone();
    });
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
    EXPECT_EQ(dlg.GetLogText().toStdString(), expected);
    EXPECT_EQ(Text(dlg, IDC_LOG), Lf(QString::fromStdString(expected)));
}

TEST(ProgressDialog, OverwriteAnswersAndCancel)
{
    SetPrefs(0, 0);
    ScratchDir src, out;
    const auto files = MakePictures(src, 3, 8, 8);
    QStringList list;
    auto path = [&](int i, const char *suffix = "") { return Name(out.Root(), i, "BMP", suffix); };
    auto run = [&](const std::function<void(COverwriteDialog *)> &act) {
        list.clear();
        CProgressDialog dlg(JobFor(files, out.Root()), &list);
        WhenShown<COverwriteDialog> answer(act);
        dlg.show();
        EXPECT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
        EXPECT_EQ(Text(dlg, IDC_STATUS), U("转换已完成。"));
        return std::pair(answer.count, dlg.GetLogText());
    };
    auto tickAnd = [](int id) {
        return [id](COverwriteDialog *q) { Click(ById(q, IDC_REMEMBER)), Click(ById(q, id)); };
    };
    // A remembered choice holds for the rest of the run.
    for (int i = 0; i < 3; ++i)
        testsupport::WriteFileBytes(path(i), {1});
    EXPECT_EQ(run(tickAnd(IDC_OVERWRITE)).first, 1);
    EXPECT_EQ(list, Q({path(0), path(1), path(2)}));
    for (const QString &p : list)
        EXPECT_EQ(CxImage(p.toUtf8().constData(), 0).GetWidth(), 8u);
    EXPECT_EQ(run(tickAnd(IDC_AUTO_RENAME)).first, 1);
    EXPECT_EQ(list, Q({path(0, "_001"), path(1, "_001"), path(2, "_001")}));
    // Skip leaves the output alone and counts it; ticked, for every file after.
    const struct {
        std::function<void(COverwriteDialog *)> act;
        int asked;
    } skips[] = {{tickAnd(IDC_SKIP), 1}, {[](COverwriteDialog *q) { Click(ById(q, IDC_SKIP)); }, 3}};
    for (const auto &c : skips) {
        const auto [asked, log] = run(c.act);
        EXPECT_EQ(asked, c.asked);
        EXPECT_TRUE(list.isEmpty());
        EXPECT_TRUE(
            log.startsWith(QString::fromStdString("从: " + files[0] + "\r\n  跳过: " + path(0) + "\r\n")));
        EXPECT_TRUE(log.endsWith(U("总计文件: 3; 已转换: 0; 已跳过: 3; 错误: 0。"))) << log.toStdString();
        EXPECT_EQ(CxImage(path(2).c_str(), 0).GetWidth(), 8u);
    }

    // Cancel at the second file ends the run: no summary, nothing more.
    QDir(QString::fromStdString(out.Root())).removeRecursively();
    QDir().mkpath(QString::fromStdString(out.Root()));
    testsupport::WriteFileBytes(path(1), {1});
    const auto [asked, log] = run([](COverwriteDialog *q) { Click(ById(q, IDCANCEL)); });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(log.toStdString(), Converted(files[0], path(0)) + "从: " + files[1] + "\r\n");
    EXPECT_EQ(list, Q({path(0)}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path(2))));
}

// A worker inside a step that takes long (a big decode): the dialog closes
// at once, an output reported just before still makes the list, and the
// worker, when it comes back, talks to nobody.
TEST(ProgressDialog, ClosingDoesNotWaitForALongStep)
{
    for (const bool viaCloseBox : {false, true}) {
        SetPrefs(1, 0);
        JoinStoppedThreads();
        std::latch gate(1);
        std::promise<void> reported;
        std::atomic<bool> finished{false};
        QStringList list;
        auto dlg = std::make_unique<CProgressDialog>(JobFor({"/a.png", "/b.png"}, "/out"), &list);
        dlg->SetRunBody([&](const CConvertJob &, IConvertReporter &r, std::stop_token) {
            r.FileStarted("/a.png");
            r.AddResult("/out/a.BMP");
            reported.set_value();
            gate.wait();
            r.AddResult("/out/b.BMP");
            r.SetSummary(RunTotals{2, 2, 0});
            r.ConvertDone();
            finished = true;
        });
        dlg->show();
        // No events processed meanwhile: the result has not reached the dialog.
        ASSERT_EQ(reported.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_TRUE(list.isEmpty());
        viaCloseBox ? (void)dlg->close() : Key(dlg.get(), Qt::Key_Escape);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        EXPECT_EQ(dlg->GetFileCount(), 0);
        EXPECT_EQ(list, QStringList{"/out/a.BMP"});
        EXPECT_EQ(StoppedThreadCount(), 1);
        EXPECT_FALSE(finished);
        dlg.reset();
        gate.count_down();
        JoinStoppedThreads();
        EXPECT_TRUE(finished);
        QCoreApplication::processEvents();
        EXPECT_EQ(list, QStringList{"/out/a.BMP"});
    }
}

TEST(ProgressDialog, StopMidRunKeepsWhatWasWritten)
{
    SetPrefs(0, 0);
    ScratchDir src, out;
    const int n = 40;
    const auto files = MakePictures(src, n, 160, 120);
    // The last output exists, so the run cannot end before Stop: at worst it waits in the question.
    testsupport::WriteFileBytes(Name(out.Root(), n - 1, "BMP"), {1});
    QStringList list;
    CProgressDialog dlg(JobFor(files, out.Root()), &list);
    WhenShown<COverwriteDialog> atLast([&](COverwriteDialog *) { Click(ById(&dlg, IDC_STOP)); });
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return list.size() >= 2; }));
    if (dlg.isVisible())
        Click(ById(&dlg, IDC_STOP));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.GetSummary().isEmpty());
    EXPECT_FALSE(dlg.GetLogText().contains(U("总计文件")));
    JoinStoppedThreads();
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << w->metaObject()->className();
    // Every listed output is complete; nothing half-written or temporary is
    // left. Outputs already written when Stop came still go into place with
    // their group (a slow disk holds a group open for up to a quarter of a
    // second), so the folder may hold more than the list; but the run never
    // went past the question: the last file is still the old one.
    const QDir folder(QString::fromStdString(out.Root()));
    const QStringList onDisk = folder.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    EXPECT_EQ(testsupport::ReadFileBytes(Name(out.Root(), n - 1, "BMP")), std::vector<std::uint8_t>{1});
    for (const QString &name : onDisk) {
        if (name == "f39.BMP")
            continue;
        EXPECT_EQ(CxImage(folder.filePath(name).toUtf8().constData(), 0).GetWidth(), 160u)
            << name.toStdString();
    }
    for (const QString &path : list)
        EXPECT_TRUE(onDisk.contains(QFileInfo(path).fileName())) << path.toStdString();
}

TEST(ProgressDialog, ClosingDuringTheQuestionAnswersCancel)
{
    SetPrefs(0, 0);
    ScratchDir src, out;
    const auto files = MakePictures(src, 2, 8, 8);
    testsupport::WriteFileBytes(Name(out.Root(), 0, "BMP"), {1});
    std::atomic<bool> finished{false};
    CProgressDialog dlg(JobFor(files, out.Root()), nullptr);
    dlg.SetRunBody([&](const CConvertJob &job, IConvertReporter &r, std::stop_token stop) {
        ConvertWorker(job, r).Run(stop);
        finished = true;
    });
    WhenShown<COverwriteDialog> question([&](COverwriteDialog *) { dlg.close(); });
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return finished.load(); }));
    EXPECT_EQ(question.count, 1);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(dlg.GetSummary().isEmpty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Name(out.Root(), 1, "BMP"))));
}

TEST(ProgressDialog, ViewResultsAndTheEndOfTheRunUnderTheViewer)
{
    SetPrefs(0, 1);
    ScratchDir src;
    const auto files = MakePictures(src, 2, 8, 8);
    std::latch gate(1);
    CProgressDialog dlg(JobFor(files, src.Root()), nullptr);
    dlg.SetRunBody([&](const CConvertJob &, IConvertReporter &r, std::stop_token) {
        r.AddResult(files[0]);
        gate.wait();
        r.AddResult(files[1]);
        r.SetSummary(RunTotals{1, 1, 0});
        r.ConvertDone();
    });
    QString boxText;
    WhenShown<QMessageBox> box([&](QMessageBox *b) {
        boxText = b->windowTitle() + "|" + b->text();
        EXPECT_EQ(b->icon(), QMessageBox::Information);
        b->accept();
    });
    int viewerCount = 0;
    dlg.SetResultsViewer([&](QWidget *parent, QStringList *results) {
        ++viewerCount;
        EXPECT_EQ(parent, &dlg);
        EXPECT_EQ(*results, QStringList{QString::fromStdString(files[0])});
        EXPECT_TRUE(dlg.IsViewerOpen());
        // A viewer over the list hears of what the run adds under it.
        QStringList added;
        QObject::connect(&dlg, &CProgressDialog::resultAdded, [&](const QString &path) { added << path; });
        gate.count_down();
        EXPECT_TRUE(WaitFor([&] { return box.count == 1; }));
        EXPECT_EQ(added, QStringList{QString::fromStdString(files[1])});
        EXPECT_EQ(results->size(), 2);
        // Auto-close waits until the viewer is left.
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(Text(dlg, IDC_STATUS), U("转换已完成。"));
    });
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return ById(&dlg, IDC_VIEW_RESULTS)->isEnabled(); }));
    Click(ById(&dlg, IDC_VIEW_RESULTS));
    EXPECT_EQ(viewerCount, 1);
    EXPECT_EQ(boxText, U("Velmora|转换已完成。\n\n总计文件: 1; 已转换: 1; 错误: 0。"));
    EXPECT_FALSE(dlg.IsViewerOpen());
    EXPECT_FALSE(dlg.isVisible());
}

// The worker hands its reports over without ever waiting for the screen:
// it gets through a flood while this thread processes nothing.
TEST(ProgressDialog, AFloodOfReportsNeverWaitsForTheScreen)
{
    SetPrefs(1, 0);
    const int lines = 20000;
    std::promise<void> posted;
    CProgressDialog dlg(JobFor({}, "/out"), nullptr);
    dlg.SetRunBody([&](const CConvertJob &, IConvertReporter &r, std::stop_token) {
        for (int i = 0; i < lines; ++i) {
            r.AnimateStatus();
            r.FileStarted(std::to_string(i));
            r.SetPercent(i * 100 / lines);
        }
        r.ConvertDone();
        posted.set_value();
    });
    dlg.show();
    ASSERT_EQ(posted.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
    const QStringList shown = Text(dlg, IDC_LOG).split('\n');
    ASSERT_EQ(shown.size(), lines + 1);
    for (int i = 0; i < lines; i += 997)
        EXPECT_EQ(shown[i], QString("从: %1").arg(i));
    EXPECT_EQ(Percent(dlg), 99);
}

// At the end of a run that wrote something, Undo Last Run asks, then takes
// the outputs away and gives back from the trash the file the run replaced.
TEST(ProgressDialog, UndoAtTheEndGivesBackWhatTheRunReplaced)
{
    SetPrefs(0, 0);
    ScratchDir src, out;
    const auto files = MakePictures(src, 2, 16, 12);
    ASSERT_TRUE(testsupport::WriteFileBytes(Name(out.Root(), 0, "BMP"), {1}));
    CConvertJob job = JobFor(files, out.Root());
    job.SetOverwritePolicy(OVERWRITE_REPLACE);
    QStringList list;
    CProgressDialog dlg(job, &list);
    QStringList asked;
    WhenShown<QMessageBox> box([&](QMessageBox *b) {
        asked << b->text();
        b->button(b->icon() == QMessageBox::Question ? QMessageBox::Yes : QMessageBox::Ok)->click();
    });
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
    QWidget *undo = ById(&dlg, IDC_UNDO_RUN);
    ASSERT_TRUE(undo && undo->isVisible());
    EXPECT_NE(testsupport::ReadFileBytes(Name(out.Root(), 0, "BMP")), std::vector<std::uint8_t>{1});
    Click(undo);
    ASSERT_TRUE(WaitFor([&] { return asked.size() == 2; }));
    EXPECT_TRUE(asked[1].startsWith(U("已撤销上次运行。"))) << asked[1].toStdString();
    EXPECT_EQ(testsupport::ReadFileBytes(Name(out.Root(), 0, "BMP")), std::vector<std::uint8_t>{1});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Name(out.Root(), 1, "BMP"))));
    EXPECT_FALSE(undo->isVisible());
    EXPECT_TRUE(list.isEmpty());
    dlg.reject();
}

// Once the run has ended the destination can be opened: the job's folder,
// or beside the sources the first output's. Where the desktop cannot open
// it, a message names it.
TEST(ProgressDialog, TheEndOpensTheDestinationFolder)
{
    SetPrefs(0, 0);
    const struct {
        const char *outDir;
        std::vector<std::string> outputs;
        const char *opened; // nullptr: no button
        bool opens;         // the desktop has a file manager
    } rows[] = {
        {"/out/dest", {}, "/out/dest", true},
        {"源目录", {"/a/x/1.BMP", "/b/2.BMP"}, "/a/x", true},
        {"源目录", {}, nullptr, true},
        {"/out/无处", {}, "/out/无处", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.outDir);
        CProgressDialog dlg(JobFor({}, row.outDir), nullptr);
        std::promise<void> go;
        dlg.SetRunBody([&](const CConvertJob &, IConvertReporter &r, std::stop_token) {
            go.get_future().wait();
            for (const std::string &output : row.outputs)
                r.AddResult(output);
            r.ConvertDone();
        });
        QStringList opened;
        dlg.SetFolderOpener([&](const QString &folder) {
            opened << folder;
            return row.opens;
        });
        dlg.show();
        auto *open = ById<QPushButton>(&dlg, IDC_OPEN_DEST);
        EXPECT_FALSE(open->isVisible());
        go.set_value();
        ASSERT_TRUE(WaitFor([&] { return !dlg.IsRunning(); }));
        EXPECT_EQ(open->isVisible(), row.opened != nullptr);
        if (!row.opened)
            continue;
        EXPECT_EQ(Text(dlg, IDC_OPEN_DEST), U("打开文件夹"));
        QStringList told;
        WhenShown<QMessageBox> box([&](QMessageBox *b) {
            told << b->text();
            b->accept();
        });
        open->click();
        EXPECT_EQ(opened, QStringList{U(row.opened)});
        EXPECT_EQ(told, row.opens
                            ? QStringList()
                            : QStringList{U("无法打开文件夹 %1:找不到文件管理器。").arg(U(row.opened))});
    }
}
