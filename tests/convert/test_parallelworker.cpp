// Several workers prepare files ahead, but everything a run shows or writes
// must come out exactly as one worker gives it.
#include "convert/convertworker.h"
#include "convert/filepreparer.h"
#include "convert/pipeline.h"
#include "convert/prepareahead.h"
#include "tests/convert/recording_reporter.h"
#include "tests/convert/worker_job.h"
#include "tests/test_support.h"

#include <QDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace testsupport;

namespace {

void Save(const std::string &path, int w, int h, std::uint32_t type = CXIMAGE_FORMAT_PNG)
{
    CxImage img = MakeTestImage(w, h);
    ASSERT_TRUE(img.Save(path.c_str(), type)) << img.GetLastError();
}

void SaveFlat(const std::string &path, int w, int h, RGBQUAD colour, std::uint32_t type)
{
    CxImage img;
    ASSERT_TRUE(img.Create(w, h, 24));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelColor(x, y, colour);
    ASSERT_TRUE(img.Save(path.c_str(), type));
}

QStringList Entries(const std::string &folder)
{
    return QDir(QString::fromStdString(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void RunWith(const CConvertJob &job, const RunResources &resources, RecordingReporter &r)
{
    ConvertWorker worker(job, r, resources);
    worker.Run();
}

void ExpectSameReports(const RecordingReporter &a, const RecordingReporter &b)
{
    EXPECT_EQ(a.log, b.log);
    EXPECT_EQ(a.percents, b.percents);
    EXPECT_EQ(a.results, b.results);
    EXPECT_EQ(a.questions, b.questions);
    EXPECT_EQ(a.summary, b.summary);
    EXPECT_EQ(a.statusTicks, b.statusTicks);
    EXPECT_EQ(a.doneCount, b.doneCount);
}

} // namespace

TEST(ParallelWorker, ReportsAndOutputsMatchOneWorker)
{
    // Missing, undecodable, failing and good files mixed, renamed with
    // running numbers that skip the files that never reach naming.
    ScratchDir src;
    std::vector<std::string> files;
    for (int i = 0; i < 9; ++i) {
        const std::string name = src.Path("p" + std::to_string(i) + ".png");
        files.push_back(name);
        if (i == 2)
            continue; // missing
        if (i == 4) {
            ASSERT_TRUE(WriteFileBytes(name, {1, 2, 3})); // not a picture
        } else if (i == 6) {
            Save(name, 1000, 1); // resizes to a height of 0: fails
        } else {
            Save(name, 60 + 13 * i, 40 + 7 * i);
        }
    }
    CConvertJob job = JobFor(files);
    job.SetFormat("JPG");
    job.SetResizeFlag(true);
    job.SetResizeType(1);
    job.SetSize(50, 0);
    job.SetRenameFlag(true);
    job.SetPrefix("n_");
    job.SetStartNumber(7);

    std::vector<std::vector<std::vector<std::uint8_t>>> bytes;
    std::vector<RecordingReporter> reports(3);
    const int workers[] = {1, 2, 4};
    for (int k = 0; k < 3; ++k) {
        ScratchDir out;
        job.SetOutputFolder(out.Root());
        RunWith(job, {.workers = workers[k]}, reports[std::size_t(k)]);
        std::vector<std::vector<std::uint8_t>> files;
        for (const QString &name : Entries(out.Root()))
            files.push_back(ReadFileBytes(out.Path(name.toStdString())));
        bytes.push_back(files);
        // Reports name the folder of this round; compare names only.
        for (std::string &line : reports[std::size_t(k)].log)
            if (auto at = line.find(out.Root()); at != std::string::npos)
                line.replace(at, out.Root().size(), "OUT");
        for (std::string &path : reports[std::size_t(k)].results)
            path.replace(0, out.Root().size(), "OUT");
    }
    EXPECT_EQ(reports[0].summary, "\r\n总计文件: 9; 已转换: 6; 错误: 3。");
    EXPECT_EQ(reports[0].results.front(), "OUT/n_007.JPG");
    EXPECT_EQ(bytes[0].size(), 6u);
    for (int k = 1; k < 3; ++k) {
        SCOPED_TRACE(workers[k]);
        ExpectSameReports(reports[0], reports[std::size_t(k)]);
        EXPECT_EQ(bytes[0], bytes[std::size_t(k)]);
    }
}

TEST(ParallelWorker, LargeProgressivePhotosComeOutAsWithOneWorker)
{
    // Progressive photos need their decoding memory and run one after
    // another, first, while the others take the small files; none of that
    // may show in what is written.
    ScratchDir src;
    std::vector<std::string> files;
    for (int i = 0; i < 7; ++i) {
        files.push_back(src.Path("f" + std::to_string(i) + ".jpg"));
        if (i % 2 == 0) {
            ASSERT_TRUE(WriteFileBytes(
                files.back(),
                WriteProgressiveJpeg(MakeTexturedImage(1200, 900, unsigned(i)),
                                     i == 2 ? ScanScript::DcPerComponent : ScanScript::Standard, i == 4)));
        } else {
            Save(files.back(), 300 + 20 * i, 200, CXIMAGE_FORMAT_JPG);
        }
    }
    CConvertJob job = JobFor(files);
    job.SetFormat("JPG");
    job.SetResizeFlag(true);
    job.SetResizeType(0);
    job.SetSize(400, 300);
    std::vector<std::vector<std::vector<std::uint8_t>>> bytes;
    // The last row's decoding memory lets a progressive file start only alone.
    const RunResources rows[] = {{.workers = 1},
                                 {.workers = 2},
                                 {.workers = 3},
                                 {.workers = 3, .preferredScratchBytes = 1, .decodeBudgetBytes = 1}};
    for (const RunResources &resources : rows) {
        ScratchDir out;
        job.SetOutputFolder(out.Root());
        RecordingReporter r;
        RunWith(job, resources, r);
        EXPECT_EQ(r.summary, "\r\n总计文件: 7; 已转换: 7; 错误: 0。");
        std::vector<std::vector<std::uint8_t>> files;
        for (const QString &name : Entries(out.Root()))
            files.push_back(ReadFileBytes(out.Path(name.toStdString())));
        bytes.push_back(files);
    }
    ASSERT_EQ(bytes[0].size(), 7u);
    for (std::size_t k = 1; k < bytes.size(); ++k)
        EXPECT_EQ(bytes[0], bytes[k]) << k;
}

TEST(ParallelWorker, QuestionsComeInSourceOrder)
{
    ScratchDir src, out;
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(src.Path("q" + std::to_string(i) + ".png"));
        Save(files.back(), 30, 20);
    }
    for (int i : {1, 3, 4})
        ASSERT_TRUE(WriteFileBytes(out.Path("q" + std::to_string(i) + ".BMP"), {7}));
    CConvertJob job = JobFor(files);
    job.SetOutputFolder(out.Root());
    job.SetFormat("BMP");
    RecordingReporter r;
    r.answers = {{OverwriteChoice::AutoRename, false},
                 {OverwriteChoice::Overwrite, false},
                 {OverwriteChoice::AutoRename, false}};
    RunWith(job, {.workers = 3}, r);
    ASSERT_EQ(r.questions.size(), 3u);
    EXPECT_NE(r.questions[0].find("q1.BMP"), std::string::npos);
    EXPECT_NE(r.questions[1].find("q3.BMP"), std::string::npos);
    EXPECT_NE(r.questions[2].find("q4.BMP"), std::string::npos);
    EXPECT_EQ(r.results,
              (std::vector<std::string>{out.Path("q0.BMP"), out.Path("q1_001.BMP"), out.Path("q2.BMP"),
                                        out.Path("q3.BMP"), out.Path("q4_001.BMP"), out.Path("q5.BMP")}));
    EXPECT_EQ(ReadFileBytes(out.Path("q1.BMP")), std::vector<std::uint8_t>{7});
}

TEST(ParallelWorker, CancelAndStopWriteNothingPastThem)
{
    ScratchDir src;
    std::vector<std::string> files;
    for (int i = 0; i < 8; ++i) {
        files.push_back(src.Path("c" + std::to_string(i) + ".png"));
        Save(files.back(), 30, 20);
    }
    {
        // Cancel at the third file's question: files prepared ahead of it
        // are never written.
        ScratchDir out;
        ASSERT_TRUE(WriteFileBytes(out.Path("c2.BMP"), {7}));
        CConvertJob job = JobFor(files);
        job.SetOutputFolder(out.Root());
        job.SetFormat("BMP");
        RecordingReporter r;
        RunWith(job, {.workers = 4}, r);
        EXPECT_EQ(r.questions.size(), 1u);
        EXPECT_EQ(r.doneCount, 1);
        EXPECT_EQ(r.summary, "");
        EXPECT_EQ(Entries(out.Root()), (QStringList{"c0.BMP", "c1.BMP", "c2.BMP"}));
    }
    {
        ScratchDir out;
        CConvertJob job = JobFor(files);
        job.SetOutputFolder(out.Root());
        job.SetFormat("BMP");
        std::stop_source stop;
        RecordingReporter r;
        // A stop as the third file starts: the two before it are put in
        // place and reported, the files prepared ahead are not written.
        r.onStatus = [&] {
            if (r.statusTicks == 3)
                stop.request_stop();
        };
        ConvertWorker(job, r, {.workers = 4}).Run(stop.get_token());
        EXPECT_EQ(r.results.size(), 2u);
        EXPECT_EQ(r.doneCount, 0);
        EXPECT_EQ(r.summary, "");
        EXPECT_EQ(Entries(out.Root()), (QStringList{"c0.BMP", "c1.BMP"}));
    }
}

TEST(ParallelWorker, ASourceWrittenEarlierInTheRunIsReadAsWritten)
{
    // a.PNG is listed twice and turned in place each time: one worker turns
    // the turned picture the second time, and so must several.
    ScratchDir dir;
    SaveFlat(dir.Path("a.PNG"), 60, 30, RGBQUAD{255, 0, 0, 0}, CXIMAGE_FORMAT_PNG);
    CConvertJob job = JobFor({dir.Path("a.PNG"), dir.Path("a.PNG")});
    job.SetRotateFlag(true);
    job.SetRotation(ROTATE_RIGHT);
    job.SetOverwritePolicy(OVERWRITE_REPLACE);
    RecordingReporter r;
    RunWith(job, {.workers = 3}, r);
    EXPECT_EQ(r.summary, "\r\n总计文件: 2; 已转换: 2; 错误: 0。");
    CxImage result(dir.Path("a.PNG").c_str(), 0);
    EXPECT_EQ(result.GetWidth(), 60);
    EXPECT_EQ(result.GetHeight(), 30);
}

TEST(ReducedDecode, SizesComeFromTheFileAndPixelsStayClose)
{
    // 2000 x 1003 to a width of 333: the file's own size gives a height of
    // 166 where the half-size decode (1000 x 502) would give 167.
    ScratchDir dir;
    Save(dir.Path("big.jpg"), 2000, 1003, CXIMAGE_FORMAT_JPG);
    CConvertJob job;
    job.SetResizeFlag(true);
    job.SetResizeType(1);
    job.SetSize(333, 0);

    CxImage reduced;
    ASSERT_TRUE(
        reduced.Load(dir.Path("big.jpg").c_str(), CXIMAGE_FORMAT_JPG, {.hintRule = ReducedDecodeRule(job)}));
    EXPECT_EQ(reduced.GetWidth(), 1000); // the rule asked for a reduced decode
    ASSERT_FALSE(TransformImage(reduced, job, {}, reduced.GetSrcWidth(), reduced.GetSrcHeight()).failed);
    EXPECT_EQ(reduced.GetWidth(), 333);
    EXPECT_EQ(reduced.GetHeight(), 166);

    CxImage full(dir.Path("big.jpg").c_str(), CXIMAGE_FORMAT_JPG);
    ASSERT_FALSE(TransformImage(full, job).failed);
    ASSERT_EQ(full.GetHeight(), 166);
    EXPECT_GT(Psnr(reduced, full), 38.0);

    // A quarter turn swaps what the rule asks for; no shrink, no reduction.
    job.SetRotateFlag(true);
    job.SetRotation(ROTATE_RIGHT);
    int w = 0, h = 0;
    ReducedDecodeRule(job)(2000, 1003, w, h);
    EXPECT_EQ(w, 2 * 664); // turned: 333 x 664 from 1003 x 2000
    EXPECT_EQ(h, 2 * 333);
    job.SetRotateFlag(false);
    job.SetSize(2400, 0);
    w = h = 0;
    ReducedDecodeRule(job)(2000, 1003, w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
}

namespace {

// Held output over the budget: only the writer's own file is started, and a
// run still goes through every file in order.
TEST(PrepareAheadBudget, AFullBudgetStillPreparesTheWritersFile)
{
    ScratchDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(dir.Path("s" + std::to_string(i) + ".png"));
        Save(files.back(), 40 + i, 30);
    }
    CConvertJob job = JobFor(files);
    job.SetFormat("BMP");
    std::stop_source stop;
    PrepareAhead ahead(job, 2, 8, stop.get_token(), {.maxHeldBytes = 1});
    for (int i = 0; i < 6; ++i) {
        PreparedFile p = ahead.Take(i);
        ASSERT_EQ(p.kind, PreparedFile::Kind::Encoded) << i;
        // A BMP of the file's own size: every result belongs to its file.
        ASSERT_GT(p.bytes.size, std::size_t(54));
        EXPECT_EQ(p.bytes.data.get()[18] | (p.bytes.data.get()[19] << 8), 40 + i);
    }
}

} // namespace

// One job: one file decoding at a time, the files in turn, and the next
// one's decode begun while the one before is encoded; a picture too large
// to hold twice within the decoding budget is finished first.
TEST(PrepareAheadOrder, OneJobDecodesTheNextFileWhileTheLastIsEncoded)
{
    ScratchDir dir;
    constexpr int n = 5;
    std::vector<std::string> files;
    for (int i = 0; i < n; ++i) {
        files.push_back(dir.Path("f" + std::to_string(i) + ".png"));
        ASSERT_TRUE(WriteFileBytes(files.back(), std::vector<std::uint8_t>(64, 0)));
    }
    for (const bool large : {false, true}) {
        SCOPED_TRACE(large);
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<int> order; // files in the order their decodes began
        int decoding = 0, most = 0;
        bool overlapped = false; // a decode began while another file was encoded
        const auto prepare = [&](int index, CxImage &, const std::stop_token &) {
            {
                std::lock_guard lock(mutex);
                most = std::max(most, ++decoding);
                order.push_back(index);
                changed.notify_all();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            {
                std::lock_guard lock(mutex);
                --decoding;
            }
            CxImage picture;
            picture.Create(large ? 64 : 8, 8, 24);
            EncodeStarts(picture);
            // The encode: the next file's decode should begin meanwhile.
            std::unique_lock lock(mutex);
            if (index + 1 < n) {
                const bool next = changed.wait_for(lock, std::chrono::milliseconds(large ? 50 : 10000), [&] {
                    return std::find(order.begin(), order.end(), index + 1) != order.end();
                });
                overlapped = overlapped || next;
            }
            PreparedFile r;
            r.kind = PreparedFile::Kind::Encoded;
            r.width = index;
            return r;
        };
        std::stop_source stop;
        PrepareAhead ahead(JobFor(files), 2, 2, stop.get_token(), {.decodeBudgetBytes = 1024}, prepare, true);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(ahead.Take(i).width, i);
        EXPECT_EQ(most, 1);
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
        EXPECT_EQ(overlapped, !large);
    }
}

// Whichever files the threads finish first, the first file the writer still
// waits for is always being prepared: outputs never wait for the large files
// started for the end of the run.
TEST(PrepareAheadOrder, TheFileTheWriterWaitsForIsAlwaysBeingPrepared)
{
    struct Row {
        const char *name;
        std::vector<int> kib;  // file sizes: the larger start first
        std::vector<int> side; // progressive JPEG header of a grey side x side picture, or 0
        bool writersFirst;     // the writer's file finishes before the others running
    };
    const Row rows[] = {
        {"plain files", {1, 2, 3, 4, 5, 6, 7, 8}, {}, true},
        {"progressive files", {1, 8, 7, 6, 5, 2, 3}, {0, 512, 512, 512, 512, 0, 0}, false},
    };
    // A row ends at its first fault; the next one still runs.
    const auto check = [](const Row &row) {
        ScratchDir dir;
        const int n = int(row.kib.size());
        std::vector<std::string> files;
        for (int i = 0; i < n; ++i) {
            std::vector<std::uint8_t> bytes;
            if (const int side = i < int(row.side.size()) ? row.side[std::size_t(i)] : 0; side > 0) {
                const std::uint8_t hi = std::uint8_t(side >> 8), lo = std::uint8_t(side);
                bytes = {0xFF, 0xD8, 0xFF, 0xC2, 0, 11, 8, hi, lo, hi, lo, 1, 1, 0x11, 0};
            }
            bytes.resize(std::size_t(row.kib[std::size_t(i)]) * 1024);
            files.push_back(dir.Path("f" + std::to_string(i) + ".jpg"));
            ASSERT_TRUE(WriteFileBytes(files.back(), bytes));
        }
        // The preparer waits until the test lets its file finish.
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<int> started;
        std::vector<char> released(std::size_t(n), 0);
        bool releaseAll = false;
        const auto prepare = [&](int index, CxImage &, const std::stop_token &) {
            std::unique_lock lock(mutex);
            started.push_back(index);
            changed.notify_all();
            changed.wait(lock, [&] { return releaseAll || released[std::size_t(index)]; });
            return PreparedFile{};
        };
        std::stop_source stop;
        const RunResources resources{.preferredScratchBytes = 2 * RunResources::kMiB,
                                     .decodeBudgetBytes = 4 * RunResources::kMiB};
        PrepareAhead ahead(JobFor(files), 2, n, stop.get_token(), resources, prepare);
        struct ReleaseAll {
            std::mutex &mutex;
            std::condition_variable &changed;
            bool &all;
            ~ReleaseAll()
            {
                std::lock_guard lock(mutex);
                all = true;
                changed.notify_all();
            }
        } releaseOnExit{mutex, changed, releaseAll};
        int finished = 0, taken = 0;
        while (finished < n) {
            std::vector<int> running;
            {
                std::unique_lock lock(mutex);
                // No thread stays idle while a file may start.
                const bool settled = changed.wait_for(lock, std::chrono::seconds(30), [&] {
                    return int(started.size()) - finished == std::min(2, n - finished);
                });
                ASSERT_TRUE(settled) << finished;
                for (const int i : started)
                    if (!released[std::size_t(i)])
                        running.push_back(i);
            }
            const int waitedFor = int(std::find(released.begin(), released.end(), 0) - released.begin());
            ASSERT_EQ(std::count(running.begin(), running.end(), waitedFor), 1)
                << "file " << waitedFor << " waits after " << finished << " finished";
            int done = waitedFor;
            if (!row.writersFirst)
                for (const int i : running)
                    if (i != waitedFor)
                        done = i;
            {
                std::lock_guard lock(mutex);
                released[std::size_t(done)] = 1;
                ++finished;
            }
            changed.notify_all();
            // The writer takes what is ready, in order.
            if (done == waitedFor)
                while (taken < n && released[std::size_t(taken)])
                    ahead.Take(taken++);
        }
        EXPECT_EQ(taken, n);
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        check(row);
    }
}
