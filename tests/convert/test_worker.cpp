#include "imaging/atomicfile.h"
#include "convert/convertworker.h"
#include "convert/naming.h"
#include "convert/outputwriter.h"
#include "convert/filepreparer.h"
#include "convert/outputsizes.h"
#include "tests/convert/recording_reporter.h"
#include "tests/test_support.h"
#include "tests/convert/worker_job.h"
#include "tests/dng_maker.h"

#include <QDir>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

void SavePng(const std::string &path, int w, int h)
{
    CxImage img = MakeTestImage(w, h);
    ASSERT_TRUE(img.Save(path.c_str(), CXIMAGE_FORMAT_PNG)) << img.GetLastError();
}

QStringList Entries(const std::string &folder)
{
    return QDir(QString::fromStdString(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

RecordingReporter RunJob(const CConvertJob &job)
{
    RecordingReporter r;
    ConvertWorker worker(job, r);
    worker.Run();
    return r;
}

}  // namespace

TEST(ConvertWorker, EmptyListEndsAtOnce)
{
    RecordingReporter r = RunJob(JobFor({}));
    EXPECT_EQ(r.Log(), "\r\n总计文件: 0; 已转换: 0; 错误: 0。");
    EXPECT_EQ(r.summary, r.Log());
    EXPECT_EQ(r.doneCount, 1);
    EXPECT_TRUE(r.percents.empty());
}

TEST(ConvertWorker, MissingMiddleFile)
{
    ScratchDir src, out;
    SavePng(src.Path("a.png"), 40, 30);
    SavePng(src.Path("c.png"), 40, 30);
    CConvertJob job = JobFor({src.Path("a.png"), src.Path("b.png"), src.Path("c.png")});
    job.SetFormat("JPG");
    job.SetOutputFolder(out.Root());
    RecordingReporter r = RunJob(job);
    EXPECT_EQ(r.Log(), "从: " + src.Path("a.png") + "\r\n" + "  到: " + out.Path("a.JPG") + "\r\n" +
                           "从: " + src.Path("b.png") + "\r\n" + "  错误: 文件不存在。\r\n" +
                           "从: " + src.Path("c.png") + "\r\n" + "  到: " + out.Path("c.JPG") + "\r\n" +
                           "\r\n总计文件: 3; 已转换: 2; 错误: 1。");
    EXPECT_EQ(r.percents, (std::vector<int>{33, 100}));
    EXPECT_EQ(r.results, (std::vector<std::string>{out.Path("a.JPG"), out.Path("c.JPG")}));
    EXPECT_EQ(r.statusTicks, 3);
    CxImage back(out.Path("c.JPG").c_str(), 0);
    EXPECT_EQ(back.GetType(), CXIMAGE_FORMAT_JPG);
}

TEST(ConvertWorker, RunningNumbersSkipFilesThatFail)
{
    ScratchDir src, out;
    SavePng(src.Path("a.png"), 8, 8);
    ASSERT_TRUE(WriteFileBytes(src.Path("broken.png"), {1, 2, 3}));
    // A cut-off JPEG is refused too, never written half grey.
    CxImage photo = MakeTestImage(64, 48);
    ASSERT_TRUE(photo.Save(src.Path("cut.jpg").c_str(), CXIMAGE_FORMAT_JPG));
    std::vector<std::uint8_t> jpeg = ReadFileBytes(src.Path("cut.jpg"));
    jpeg.resize(jpeg.size() * 2 / 3);
    ASSERT_TRUE(WriteFileBytes(src.Path("cut.jpg"), jpeg));
    SavePng(src.Path("c.png"), 8, 8);
    CConvertJob job = JobFor({src.Path("a.png"), src.Path("missing.png"), src.Path("broken.png"),
                              src.Path("cut.jpg"), src.Path("c.png")});
    job.SetOutputFolder(out.Root());
    job.SetRenameFlag(true);
    job.SetStartNumber(1);
    RecordingReporter r = RunJob(job);
    EXPECT_EQ(Entries(out.Root()), (QStringList{"001.png", "002.png"}));
    EXPECT_NE(r.Log().find("cut.jpg\r\n  错误: 打开文件错误。\r\n"), std::string::npos);
    EXPECT_EQ(r.summary, "\r\n总计文件: 5; 已转换: 2; 错误: 3。");
}

TEST(ConvertWorker, UnknownExtensionIsDetectedAndKept)
{
    ScratchDir src, out;
    SavePng(src.Path("x.png"), 10, 10);
    ASSERT_EQ(rename(src.Path("x.png").c_str(), src.Path("x.dat").c_str()), 0);
    CConvertJob job = JobFor({src.Path("x.dat")});
    job.SetOutputFolder(out.Root());
    job.SetResizeFlag(true);
    job.SetResizeType(3);
    job.SetSize(5, 5);
    RecordingReporter r = RunJob(job);
    ASSERT_EQ(r.results, std::vector<std::string>{out.Path("x.dat")});
    CxImage back(out.Path("x.dat").c_str(), 0);
    EXPECT_EQ(back.GetType(), CXIMAGE_FORMAT_PNG);  // written in its own format
    EXPECT_EQ(back.GetWidth(), 5);
}

// Under "keep the format" a file of a format only read is copied as it is
// while no option changes it; any option writes it in the format its row
// names, alpha kept.
TEST(ConvertWorker, FormatsOnlyReadStayCopiesUntilAnOptionChangesThem)
{
    const struct {
        const char *source, *name, *changed;
        std::uint32_t type;
        bool alpha;
    } sources[] = {
        {"pnm/p6.ppm", "p6.ppm", "p6.PNG", CXIMAGE_FORMAT_PNG, false},
        {"pnm/p4.pbm", "p4.pbm", "p4.PNG", CXIMAGE_FORMAT_PNG, false},
        {"ico/alpha32.ico", "alpha32.ico", "alpha32.PNG", CXIMAGE_FORMAT_PNG, true},
        {"ico/cursor.cur", "cursor.cur", "cursor.PNG", CXIMAGE_FORMAT_PNG, true},
        {"tga/alpha32.tga", "alpha32.tga", "alpha32.PNG", CXIMAGE_FORMAT_PNG, true},
        {"photo/orient1.heic", "orient1.heic", "orient1.JPG", CXIMAGE_FORMAT_JPG, false},
        {nullptr, "chart.dng", "chart.JPG", CXIMAGE_FORMAT_JPG, false}, // made below
    };
    const std::function<void(CConvertJob &)> options[] = {
        [](CConvertJob &) {},
        [](CConvertJob &job) {
            job.SetResizeFlag(true);
            job.SetResizeType(3);
            job.SetSize(6, 4);
        },
        [](CConvertJob &job) {
            job.SetRotateFlag(true);
            job.SetRotation(ROTATE_RIGHT);
        },
        [](CConvertJob &job) {
            job.SetStampFlag(true);
            job.SetStamp("V", nullptr, RGB(255, 0, 0));
        },
        [](CConvertJob &job) { job.m_bStripMetadata = true; },
    };
    for (const auto &s : sources) {
        ScratchDir src;
        ASSERT_TRUE(s.source || WriteDng(src.Path(s.name)));
        const std::vector<std::uint8_t> bytes = ReadFileBytes(s.source ? DataPath(s.source) : src.Path(s.name));
        ASSERT_TRUE(WriteFileBytes(src.Path(s.name), bytes));
        for (std::size_t k = 0; k < std::size(options); ++k) {
            SCOPED_TRACE(std::string(s.name) + " option " + std::to_string(k));
            ScratchDir out;
            CConvertJob job = JobFor({src.Path(s.name)});
            job.SetOutputFolder(out.Root());
            options[k](job);
            const std::string output = out.Path(k == 0 ? s.name : s.changed);
            // A copy is no conversion result.
            EXPECT_EQ(RunJob(job).results,
                      k == 0 ? std::vector<std::string>{} : std::vector<std::string>{output});
            if (k == 0) {
                EXPECT_EQ(ReadFileBytes(output), bytes);
                continue;
            }
            CxImage back(output.c_str(), 0);
            EXPECT_EQ(back.GetType(), s.type);
            EXPECT_EQ(back.AlphaIsValid(), s.alpha);
        }
    }
}

// A camera raw file's flip and shot facts reach its JPEG: turned upright,
// or kept as stored with the orientation in the EXIF, which LibRaw's fields
// fill.
TEST(ConvertWorker, CameraRawCarriesOrientationAndShotFactsIntoJpeg)
{
    ScratchDir src;
    ASSERT_TRUE(WriteDng(src.Path("shot.dng"), {.orientation = 6, .shotFacts = true}));
    for (const bool autoRotate : {true, false}) {
        SCOPED_TRACE(autoRotate ? "auto rotate" : "as stored");
        ScratchDir out;
        CConvertJob job = JobFor({src.Path("shot.dng")});
        job.SetOutputFolder(out.Root());
        job.SetFormat("JPG");
        job.m_bAutoRotate = autoRotate;
        ASSERT_EQ(RunJob(job).results, std::vector<std::string>{out.Path("shot.JPG")});
        CxImage stored;
        ASSERT_TRUE(stored.Load(out.Path("shot.JPG").c_str(), 0, {.autoOrient = false}));
        EXPECT_EQ(stored.GetWidth(), autoRotate ? 64 : 96);
        auto keys = MetadataKeys(out.Path("shot.JPG"));
        EXPECT_EQ(keys["Exif.Image.Orientation"], autoRotate ? "" : "6");
        EXPECT_EQ(keys["Exif.Image.Make"], "Velmora");
        EXPECT_EQ(keys["Exif.Image.Model"], "Test Camera");
        EXPECT_EQ(keys["Exif.Photo.LensModel"], "Velmora 50mm F2.8");
        EXPECT_EQ(keys["Exif.Photo.ISOSpeedRatings"], "400");
        EXPECT_EQ(keys["Exif.Photo.ExposureTime"], "1/250");
        EXPECT_EQ(keys["Exif.Photo.FNumber"], "28/10");
        EXPECT_EQ(keys["Exif.Photo.FocalLength"], "500/10");
        EXPECT_EQ(keys["Exif.Photo.DateTimeOriginal"], "2024:05:06 07:08:09");
        EXPECT_EQ(keys["Exif.GPSInfo.GPSLatitudeRef"], "N");
        EXPECT_EQ(keys["Exif.GPSInfo.GPSLatitude"], "52/1 30/1 0/100");
    }
}

TEST(ConvertWorker, OutputsEqualToSourcesAskEveryTimeUntilRemembered)
{
    ScratchDir src;
    std::vector<std::string> files;
    for (const char *name : {"a.png", "b.png", "c.png"}) {
        SavePng(src.Path(name), 6, 6);
        files.push_back(src.Path(name));
    }
    const auto before = ReadFileBytes(files[0]);

    // Overwrite onto itself leaves the file as it is and counts as converted;
    // auto-rename copies it beside.
    CConvertJob job = JobFor(files);
    RecordingReporter r;
    r.answers = {{OverwriteChoice::Overwrite, false}, {OverwriteChoice::AutoRename, true}};
    ConvertWorker worker(job, r);
    worker.Run();
    EXPECT_EQ(r.questions.size(), 2u);  // the third file follows the remembered choice
    EXPECT_EQ(r.questions[0], OverwriteQuestion(files[0]));
    EXPECT_EQ(ReadFileBytes(files[0]), before);
    EXPECT_EQ(Entries(src.Root()), (QStringList{"a.png", "b.png", "b_001.png", "c.png", "c_001.png"}));
    EXPECT_EQ(ReadFileBytes(src.Path("b_001.png")), ReadFileBytes(files[1]));
    EXPECT_EQ(r.summary, "\r\n总计文件: 3; 已转换: 3; 错误: 0。");
    EXPECT_TRUE(r.results.empty());  // plain copies are not results
    EXPECT_EQ(worker.GetJob().m_nOverwrite, OVERWRITE_RENAME);
}

TEST(ConvertWorker, CancelEndsTheRunWithoutSummary)
{
    ScratchDir src, out;
    SavePng(src.Path("a.png"), 6, 6);
    SavePng(src.Path("b.png"), 6, 6);
    SavePng(out.Path("a.png"), 3, 3);
    CConvertJob job = JobFor({src.Path("a.png"), src.Path("b.png")});
    job.SetOutputFolder(out.Root());
    job.SetResizeFlag(true);
    job.SetResizeType(3);
    job.SetSize(4, 4);
    RecordingReporter r;  // no answers: cancel
    ConvertWorker(job, r).Run();
    EXPECT_EQ(r.questions.size(), 1u);
    EXPECT_EQ(r.doneCount, 1);
    EXPECT_EQ(r.summary, "");
    EXPECT_EQ(r.log.size(), 1u);
    EXPECT_EQ(Entries(out.Root()), QStringList{"a.png"});
}

TEST(ConvertWorker, OverwriteReplacesTheSourceWithTheResizedImage)
{
    ScratchDir src;
    SavePng(src.Path("a.png"), 40, 20);
    ASSERT_EQ(chmod(src.Path("a.png").c_str(), 0640), 0);
    CConvertJob job = JobFor({src.Path("a.png")});
    job.SetResizeFlag(true);
    job.SetResizeType(1);
    job.SetSize(10, 0);
    job.SetOverwritePolicy(OVERWRITE_REPLACE);
    RecordingReporter r = RunJob(job);
    EXPECT_TRUE(r.questions.empty());
    CxImage back(src.Path("a.png").c_str(), 0);
    EXPECT_EQ(back.GetWidth(), 10);
    EXPECT_EQ(back.GetHeight(), 5);
    struct stat st;
    ASSERT_EQ(stat(src.Path("a.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file keeps its bits
    EXPECT_EQ(Entries(src.Root()), QStringList{"a.png"});
}

// Every way a file can fail gives its record: the outcome, a reason naming
// the cause, the same log lines as ever, one error, and nothing written (an
// output already there survives).
TEST(ConvertWorker, EachFailureGivesItsRecord)
{
    const std::string openError = "  错误: 打开文件错误。\r\n", saveError = "  错误: 保存文件错误!\r\n";
    struct Row {
        const char *name;
        std::function<CConvertJob(ScratchDir &src, ScratchDir &out)> job;
        FileOutcome outcome;
        const char *reason;
        std::string lines;
        int (*sync)(int) = nullptr;
    };
    auto png = [](ScratchDir &src, ScratchDir &out, const char *format = "PNG") {
        SavePng(src.Path("a.png"), 10, 10);
        CConvertJob job = JobFor({src.Path("a.png")});
        job.SetOutputFolder(out.Root());
        job.SetFormat(format);
        return job;
    };
    auto resized = [&](ScratchDir &src, ScratchDir &out, int w, int h, const char *format) {
        CConvertJob job = png(src, out, format);
        job.SetResizeFlag(true);
        job.SetResizeType(3);
        job.SetSize(w, h);
        return job;
    };
    const Row rows[] = {
        {"missing", [](ScratchDir &src, ScratchDir &) { return JobFor({src.Path("gone.png")}); },
         FileOutcome::Missing, "No such file or directory", "  错误: 文件不存在。\r\n"},
        {"folder",
         [](ScratchDir &src, ScratchDir &) {
             mkdir(src.Path("folder.png").c_str(), 0755);
             return JobFor({src.Path("folder.png")});
         },
         FileOutcome::OpenError, "Is a directory", openError},
        {"pipe",
         [](ScratchDir &src, ScratchDir &) {
             mkfifo(src.Path("pipe.jpg").c_str(), 0600);
             return JobFor({src.Path("pipe.jpg")});
         },
         FileOutcome::OpenError, "not a regular file", openError},
        {"not a picture",
         [](ScratchDir &src, ScratchDir &) {
             WriteFileBytes(src.Path("broken.png"), {1, 2, 3});
             return JobFor({src.Path("broken.png")});
         },
         FileOutcome::OpenError, "unknown file format", openError},
        {"cut-off JPEG",
         [](ScratchDir &src, ScratchDir &) {
             CxImage photo = MakeTestImage(64, 48);
             photo.Save(src.Path("cut.jpg").c_str(), CXIMAGE_FORMAT_JPG);
             std::vector<std::uint8_t> jpeg = ReadFileBytes(src.Path("cut.jpg"));
             jpeg.resize(jpeg.size() * 2 / 3);
             WriteFileBytes(src.Path("cut.jpg"), jpeg);
             return JobFor({src.Path("cut.jpg")});
         },
         FileOutcome::OpenError, "Premature end of JPEG file", openError},
        {"resize to nothing",
         [&](ScratchDir &src, ScratchDir &out) { return resized(src, out, 0, 10, "PNG"); },
         FileOutcome::ConvertError, "size", "  错误: 转换文件错误!\r\n" + saveError},
        // JPEG cannot hold a 70000-pixel-wide picture.
        {"encode", [&](ScratchDir &src, ScratchDir &out) { return resized(src, out, 70000, 1, "JPG"); },
         FileOutcome::SaveError, "Maximum supported image dimension", saveError},
        {"folder under a file",
         [&](ScratchDir &src, ScratchDir &out) {
             CConvertJob job = png(src, out, "BMP");
             WriteFileBytes(out.Path("file"), {1});
             job.SetOutputFolder(out.Path("file"));
             return job;
         },
         FileOutcome::SaveError, "Not a directory", saveError},
        {"plain copy under a file",
         [&](ScratchDir &src, ScratchDir &out) {
             CConvertJob job = png(src, out);
             WriteFileBytes(out.Path("file"), {1});
             job.SetOutputFolder(out.Path("file"));
             return job;
         },
         FileOutcome::SaveError, "Not a directory", saveError},
        {"disk full", [&](ScratchDir &src, ScratchDir &out) { return png(src, out, "BMP"); },
         FileOutcome::SaveError, "No space left on device", saveError,
         [](int) {
             errno = ENOSPC;
             return -1;
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir src, out;
        CConvertJob job = row.job(src, out);
        job.SetOverwritePolicy(OVERWRITE_REPLACE);
        // An output of the same name is there before: a failure must keep it.
        const std::string old = out.Path(job.m_szFormat == "JPG" ? "a.JPG" : "a.BMP");
        WriteFileBytes(old, {9, 9, 9});
        const QStringList before = Entries(out.Root());
        SetFileSync(row.sync);
        RecordingReporter r = RunJob(job);
        SetFileSync(nullptr);
        ASSERT_EQ(r.records.size(), 1u);
        const FileRecord &rec = r.records[0];
        EXPECT_EQ(rec.source, job.GetFile(0));
        EXPECT_EQ(rec.outcome, row.outcome);
        EXPECT_TRUE(rec.Failed());
        EXPECT_TRUE(rec.output.empty());
        EXPECT_NE(rec.reason.find(row.reason), std::string::npos) << rec.reason;
        EXPECT_EQ(r.Log(),
                  "从: " + job.GetFile(0) + "\r\n" + row.lines + "\r\n总计文件: 1; 已转换: 0; 错误: 1。");
        EXPECT_TRUE(r.results.empty());
        EXPECT_EQ(Entries(out.Root()), before);
        EXPECT_EQ(ReadFileBytes(old), (std::vector<std::uint8_t>{9, 9, 9}));
    }
}

// A link or a hard link in the destination never leads a write to a source
// or out of the destination, and names that differ only in letter case are
// one output within a run.
TEST(ConvertWorker, OutputsNeverReachASourceAndCaseTwinsAreOneOutput)
{
    using Files = std::vector<std::string>;
    struct Row {
        const char *name;
        // Makes the sources (under src) and what is in out; gives the sources.
        std::function<Files(ScratchDir &src, ScratchDir &out)> setup;
        const char *format;
        bool intoOut; // the outputs go to out, not beside the sources
        int policy;
        std::vector<FileOutcome> outcomes;
        const char *reason; // of the first failure
        QStringList outEntries, srcEntries;
    };
    auto pngs = [](ScratchDir &src, const Files &names) {
        Files files;
        for (const std::string &n : names) {
            SavePng(src.Path(n), 6, 4);
            files.push_back(src.Path(n));
        }
        return files;
    };
    using O = FileOutcome;
    const Row rows[] = {
        {"a link to its own source",
         [&](ScratchDir &src, ScratchDir &out) {
             Files f = pngs(src, {"a.png"});
             symlink(f[0].c_str(), out.Path("a.png").c_str());
             return f;
         },
         "PNG", true, OVERWRITE_REPLACE, {O::SaveError}, "source under another name", {"a.png"}, {"a.png"}},
        {"a hard link to its own source",
         [&](ScratchDir &src, ScratchDir &out) {
             Files f = pngs(src, {"a.png"});
             link(f[0].c_str(), out.Path("a.png").c_str());
             return f;
         },
         "PNG", true, OVERWRITE_REPLACE, {O::SaveError}, "source under another name", {"a.png"}, {"a.png"}},
        {"a link to another source",
         [&](ScratchDir &src, ScratchDir &out) {
             Files f = pngs(src, {"a.png", "b.png"});
             symlink(f[1].c_str(), out.Path("a.png").c_str());
             return f;
         },
         "PNG", true, OVERWRITE_REPLACE, {O::SaveError, O::Copied}, "another source of this run",
         {"a.png", "b.png"}, {"a.png", "b.png"}},
        {"another source beside it",
         [&](ScratchDir &src, ScratchDir &) {
             Files f = pngs(src, {"a.bmp", "a.PNG"});
             return f;
         },
         "PNG", false, OVERWRITE_REPLACE, {O::SaveError, O::Copied}, "another source of this run", {},
         {"a.PNG", "a.bmp"}},
        {"a dangling link is replaced, not followed",
         [&](ScratchDir &src, ScratchDir &out) {
             symlink(src.Path("made.png").c_str(), out.Path("a.PNG").c_str());
             return pngs(src, {"a.bmp"});
         },
         "PNG", true, OVERWRITE_REPLACE, {O::Converted}, "", {"a.PNG"}, {"a.bmp"}},
        {"a case twin is renamed",
         [&](ScratchDir &src, ScratchDir &) { return pngs(src, {"leaf.png", "leaf.bmp"}); }, "PNG", true,
         OVERWRITE_RENAME, {O::Copied, O::Converted}, "", {"leaf.png", "leaf_001.PNG"}, {"leaf.bmp", "leaf.png"}},
        {"a case twin is overwritten as one file",
         [&](ScratchDir &src, ScratchDir &) { return pngs(src, {"leaf.bmp", "leaf.png"}); }, "PNG", true,
         OVERWRITE_REPLACE, {O::Converted, O::Copied}, "", {"leaf.PNG"}, {"leaf.bmp", "leaf.png"}},
        {"a case twin is skipped",
         [&](ScratchDir &src, ScratchDir &) { return pngs(src, {"leaf.png", "leaf.bmp"}); }, "PNG", true,
         OVERWRITE_SKIP, {O::Copied, O::Skipped}, "", {"leaf.png"}, {"leaf.bmp", "leaf.png"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir src, out;
        const Files files = row.setup(src, out);
        std::vector<std::vector<std::uint8_t>> before;
        for (const std::string &f : files)
            before.push_back(ReadFileBytes(f));
        CConvertJob job = JobFor(files);
        job.SetFormat(row.format);
        if (row.intoOut)
            job.SetOutputFolder(out.Root());
        job.SetOverwritePolicy(row.policy);
        RecordingReporter r = RunJob(job);
        ASSERT_EQ(r.records.size(), row.outcomes.size());
        for (std::size_t i = 0; i < row.outcomes.size(); ++i)
            EXPECT_EQ(r.records[i].outcome, row.outcomes[i]) << i;
        if (*row.reason) {
            EXPECT_NE(r.records[0].reason.find(row.reason), std::string::npos) << r.records[0].reason;
        }
        EXPECT_EQ(Entries(out.Root()), row.outEntries);
        EXPECT_EQ(Entries(src.Root()), row.srcEntries);
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(ReadFileBytes(files[i]), before[i]) << files[i];
    }
}

namespace {

std::string Stem(const std::string &path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    if (name.starts_with('.'))
        name = name.substr(1, name.find(".part-") - 1);
    return name.substr(0, name.find('.'));
}

// The commit's calls and the run's "written" reports, in the order they
// came: "f:a" a's data flush, "fs" its file system's, "r:a" a's rename, "d"
// a folder's flush, "W:a" a reported written.
class RecordingCommitCalls : public CommitCalls {
public:
    int FlushData(int fd) override
    {
        char link[4096] = {};
        readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1);
        return Note("f:" + Stem(link));
    }
    int FlushFileSystem(int) override { return Note("fs"); }
    int Rename(const std::string &from, const std::string &to) override
    {
        Note("r:" + Stem(to));
        return Stem(to) == failRename ? EXDEV : CommitCalls::Rename(from, to);
    }
    int FlushFolder(const std::string &) override { return Note("d"); }
    int Note(const std::string &call)
    {
        std::lock_guard lock(mutex);
        calls.push_back(call);
        return 0;
    }
    // The calls alone, and each report's place after its rename and the
    // folder flush that follows it ("" when so).
    std::string Commits() const
    {
        std::string all;
        for (const std::string &c : calls)
            if (!c.starts_with("W:"))
                all += (all.empty() ? "" : " ") + c;
        return all;
    }
    std::string EarlyReports() const
    {
        std::string early;
        for (std::size_t w = 0; w < calls.size(); ++w) {
            if (!calls[w].starts_with("W:"))
                continue;
            const auto rename = std::find(calls.begin(), calls.begin() + long(w), "r:" + calls[w].substr(2));
            if (rename == calls.begin() + long(w) ||
                std::find(rename, calls.begin() + long(w), "d") == calls.begin() + long(w))
                early += calls[w] + " ";
        }
        return early;
    }

    std::mutex mutex;
    std::vector<std::string> calls;
    std::string failRename;
};

} // namespace

TEST(ConvertWorker, OutputsAreCommittedInGroupsAndReportedOnlyOnceInPlace)
{
    const struct {
        const char *name;
        int stepMs; // the clock's advance from one file to the next
        int stopAt; // the file at whose start a stop comes, or -1
        const char *failRename;
        const char *commits;
        const char *written;
    } rows[] = {
        // The first file is a group of its own; the rest wait for the end.
        {"still clock", 0, -1, "", "f:a r:a d fs r:b r:c r:d d", "abcd"},
        {"250 ms close a group", 200, -1, "", "f:a r:a d fs r:b r:c d f:d r:d d", "abcd"},
        {"a stop commits the pending group", 0, 2, "", "f:a r:a d f:b r:b d", "ab"},
        {"a failed rename fails that file alone", 0, -1, "b", "f:a r:a d fs r:b r:c r:d d", "acd"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir src, out;
        std::vector<std::string> files;
        for (const char *n : {"a", "b", "c", "d"}) {
            files.push_back(src.Path(std::string(n) + ".png"));
            SavePng(files.back(), 8, 8);
        }
        CConvertJob job = JobFor(files);
        job.SetOutputFolder(out.Root());
        job.SetFormat("BMP");
        RecordingCommitCalls calls;
        calls.failRename = row.failRename;
        std::atomic<long long> now{0};
        std::stop_source stop;
        RecordingReporter r;
        int file = 0;
        r.onStatus = [&] {
            now = 1000LL + row.stepMs * file;
            if (file++ == row.stopAt)
                stop.request_stop();
        };
        r.onLog = [&](const std::string &line) {
            if (line.starts_with("  到: "))
                calls.Note("W:" + Stem(line.substr(line.find('/'), line.size() - line.find('/') - 2)));
        };
        ConvertWorker worker(job, r);
        worker.SetCommitCalls(&calls, [&] {
            return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now.load()));
        });
        worker.Run(stop.get_token());
        EXPECT_EQ(calls.Commits(), row.commits);
        EXPECT_EQ(calls.EarlyReports(), "");
        std::string written, log;
        QStringList entries;
        for (const std::string &f : files) {
            const std::string stem = Stem(f);
            log += "从: " + f + "\r\n";
            if (std::string(row.written).find(stem) != std::string::npos) {
                written += stem;
                entries << QString::fromStdString(stem + ".BMP");
                log += "  到: " + out.Path(stem + ".BMP") + "\r\n";
            } else if (stem == row.failRename) {
                log += "  错误: 保存文件错误!\r\n";
            }
            if (row.stopAt >= 0 && written.size() == std::size_t(row.stopAt))
                break;
        }
        EXPECT_EQ(r.Log().substr(0, log.size()), log); // the order of the files
        EXPECT_EQ(Entries(out.Root()), entries);       // no temporary is left
        EXPECT_EQ(r.doneCount, row.stopAt < 0 ? 1 : 0);
    }
}

TEST(WriteAtomically, AStopDuringTheWriteLeavesNothing)
{
    ScratchDir out;
    const std::vector<std::uint8_t> old = {4, 2};
    ASSERT_TRUE(WriteFileBytes(out.Path("a.png"), old));
    std::stop_source stop;
    const WriteResult result = WriteAtomically(out.Path("a.png"), stop.get_token(), [&](CxFile &f) {
        f.Write("partial", 1, 7);
        stop.request_stop();
        return true;
    });
    EXPECT_EQ(result, WriteResult::Stopped);
    EXPECT_EQ(ReadFileBytes(out.Path("a.png")), old);
    EXPECT_EQ(Entries(out.Root()), QStringList{"a.png"});
}

TEST(ConvertRun, RunsOnItsOwnThreadAndJoins)
{
    ScratchDir src, out;
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) {
        files.push_back(src.Path("f" + std::to_string(i) + ".png"));
        SavePng(files.back(), 30, 30);
    }
    CConvertJob job = JobFor(files);
    job.SetOutputFolder(out.Root());
    job.SetFormat("PCX");
    RecordingReporter r;
    {
        ConvertRun run(job, r);
        run.Start();
        run.Join();
    }
    EXPECT_EQ(r.summary, "\r\n总计文件: 5; 已转换: 5; 错误: 0。");
    // Destroying a run that is still going stops it and waits.
    RecordingReporter r2;
    {
        ConvertRun run(job, r2);
        run.Start();
    }
    EXPECT_LE(r2.doneCount, 1);
}

// The job set to the sizes of list (which must read), and those sizes.
static std::vector<OutputSize> SetSizeList(CConvertJob &job, const char *list)
{
    std::vector<OutputSize> sizes;
    std::string problem;
    EXPECT_TRUE(ParseSizeList(list, sizes, problem)) << problem;
    SetSizes(job, sizes);
    return sizes;
}

TEST(ConvertWorker, SeveralSizesComeFromOneDecodeEachAndCountAsOutputs)
{
    ScratchDir src, out;
    const std::string a = src.Path("a.jpg"), b = src.Path("b.png");
    ASSERT_TRUE(MakeTestImage(1600, 1200).Save(a.c_str(), CXIMAGE_FORMAT_JPG));
    SavePng(b, 300, 200);
    CConvertJob job = JobFor({a, b, src.Path("gone.png")});
    job.SetOutputFolder(out.Root());
    job.SetOverwritePolicy(OVERWRITE_REPLACE);
    const std::vector<OutputSize> sizes = SetSizeList(job, "320w,1024,800x600");
    job.SetDontEnlarge(true);
    const long long decodes = DecodeCount();
    const RecordingReporter r = RunJob(job);
    EXPECT_EQ(DecodeCount() - decodes, 2);
    const struct {
        const char *name;
        int width, height;
    } rows[] = {
        {"a_320w.jpg", 320, 240},
        {"a_1024px.jpg", 1024, 768},
        {"a_800x600.jpg", 800, 600},
        // Never enlarged: each size of the small one keeps its own.
        {"b_320w.png", 300, 200},
        {"b_1024px.png", 300, 200},
        {"b_800x600.png", 300, 200},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CxImage written;
        ASSERT_TRUE(written.Load(out.Path(row.name).c_str()));
        EXPECT_EQ(written.GetWidth(), row.width);
        EXPECT_EQ(written.GetHeight(), row.height);
    }
    EXPECT_EQ(Entries(out.Root()).size(), 6);
    // A record per output, the missing source's too; the totals and the
    // progress count outputs.
    ASSERT_EQ(r.records.size(), 9u);
    EXPECT_EQ(r.records[1].output, out.Path("a_1024px.jpg"));
    EXPECT_EQ(r.records[8].outcome, FileOutcome::Missing);
    EXPECT_EQ(r.summary, "\r\n" + convertlog::SummaryLine(RunTotals{9, 6, 3, 0}));
    ASSERT_FALSE(r.percents.empty());
    EXPECT_EQ(r.percents.front(), 11);
    EXPECT_EQ(r.percents.back(), 66);
}

// A smaller size is resized from a larger size's picture (one that holds it
// twice over) rather than from the decode: it stays close to what its own
// run makes from the decode.
TEST(PrepareFile, SmallerSizesFromALargerOneStayCloseToTheirOwnRuns)
{
    ScratchDir src;
    const std::string a = src.Path("a.png");
    ASSERT_TRUE(MakeTexturedImage(1600, 1200).Save(a.c_str(), CXIMAGE_FORMAT_PNG));
    CConvertJob job = JobFor({a});
    const std::vector<OutputSize> sizes = SetSizeList(job, "1200w,900w,600w,150w");
    CxImage image;
    const PreparedFile several = PrepareFile(job, 0, image, {});
    ASSERT_EQ(several.more.size(), 3u);
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        SCOPED_TRACE(k);
        const PreparedFile &made = k == 0 ? several : several.more[k - 1];
        SetSizes(job, {sizes[k]});
        const PreparedFile own = PrepareFile(job, 0, image, {});
        CxImage x, y;
        ASSERT_TRUE(x.Decode(own.bytes.data.get(), own.bytes.size));
        ASSERT_TRUE(y.Decode(made.bytes.data.get(), made.bytes.size));
        ASSERT_EQ(x.GetWidth(), y.GetWidth());
        EXPECT_GE(Psnr(x, y), 40.0);
    }
}

// The largest size is made from the decoded picture as its own resize would
// be (the smaller ones may come from it); a turn is made once for all.
TEST(PrepareFile, TheLargestOfSeveralSizesIsWhatItsOwnResizeMakes)
{
    ScratchDir src;
    const std::string a = src.Path("a.jpg");
    ASSERT_TRUE(MakeTestImage(1600, 1200).Save(a.c_str(), CXIMAGE_FORMAT_JPG));
    const struct {
        int rotation;
        int ratio; // a W:W crop, 0 for none
        bool sharpen;
        int width, height; // the largest output's
    } rows[] = {
        {ROTATE_RIGHT, 1, false, 600, 600},
        {ROTATE_180, 0, true, 600, 450},
        {ROTATE_LEFT, 0, false, 600, 800},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.rotation);
        CConvertJob job = JobFor({a});
        job.SetRotateFlag(true);
        job.SetRotation(row.rotation);
        job.m_nCropRatioW = job.m_nCropRatioH = row.ratio;
        job.SetSharpen(row.sharpen);
        const std::vector<OutputSize> sizes = SetSizeList(job, "150w,600w,90h");
        CxImage image;
        const PreparedFile several = PrepareFile(job, 0, image, {});
        ASSERT_EQ(several.more.size(), 2u);
        const PreparedFile &largest = several.more[0];
        ASSERT_EQ(largest.kind, PreparedFile::Kind::Encoded) << largest.reason;
        EXPECT_EQ(largest.width, row.width);
        EXPECT_EQ(largest.height, row.height);
        SetSizes(job, {sizes[1]});
        const PreparedFile one = PrepareFile(job, 0, image, {});
        ASSERT_EQ(one.kind, PreparedFile::Kind::Encoded);
        ASSERT_EQ(one.bytes.size, largest.bytes.size);
        EXPECT_EQ(std::memcmp(one.bytes.data.get(), largest.bytes.data.get(), one.bytes.size), 0);
        EXPECT_EQ(several.width, 150);
        EXPECT_EQ(several.more[1].height, 90);
    }
}
