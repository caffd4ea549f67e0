// Outputs dated by their source or their photo, names told by the decoded
// picture, and --update knowing both.
#include "convert/convertworker.h"
#include "convert/outputdates.h"
#include "tests/convert/recording_reporter.h"
#include "tests/convert/worker_job.h"
#include "tests/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testsupport;

namespace {

std::time_t Local(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

FileTime MTime(const std::string &path)
{
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mtim;
}

} // namespace

TEST(ParseExifDate, TakesOnlyWholeCameraDates)
{
    std::time_t t = 0;
    EXPECT_TRUE(ParseExifDate("2024:05:06 07:08:09", t));
    EXPECT_EQ(t, Local(2024, 5, 6, 7, 8, 9));
    for (const char *bad : {"", "    :  :     :  :  ", "0000:00:00 00:00:00", "2024:13:01 00:00:00",
                            "2024:05:06 07:08", "2024:05:06 07:08:09x", "2024-05-06 07:08:09"})
        EXPECT_FALSE(ParseExifDate(bad, t)) << bad;
}

TEST(OutputDates, KeepDatesAndExifDatesToTheSecondAndUpdateKnowsThem)
{
    struct Row {
        std::int32_t dates;
        const char *source; // under photo/
        bool exifTime;      // the output bears the photo's own date
    };
    const Row rows[] = {
        {OUTDATE_SOURCE, "meta.jpg", false},
        {OUTDATE_EXIF, "meta.jpg", true},
        {OUTDATE_EXIF, "orient1.png", false}, // no DateTimeOriginal: the source's time
        {OUTDATE_WRITTEN, "meta.jpg", false},
    };
    const std::time_t sourceTime = Local(2025, 1, 2, 3, 4, 5);
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.dates) + " " + r.source);
        ScratchDir dir;
        const std::string source = dir.Path(r.source);
        ASSERT_TRUE(WriteFileBytes(source, ReadFileBytes(DataPath(std::string("photo/") + r.source))));
        const FileTime times[2] = {{0, UTIME_OMIT}, {sourceTime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
        CConvertJob job = JobFor({source});
        job.SetOutputFolder(dir.Path(""));
        job.SetFormat("BMP");
        job.m_nOutputDate = r.dates;
        RecordingReporter first;
        ConvertWorker(job, first).Run();
        ASSERT_EQ(first.results.size(), 1u) << first.Log();
        const FileTime written = MTime(first.results[0]);
        if (r.dates == OUTDATE_WRITTEN) {
            EXPECT_GT(written.tv_sec, sourceTime);
            continue;
        }
        EXPECT_EQ(written.tv_sec, r.exifTime ? Local(2024, 5, 6, 7, 8, 9) : sourceTime);
        EXPECT_EQ(written.tv_nsec, 0);

        // Dated as the run would date it: up to date, though older than the source.
        job.SetOverwritePolicy(OVERWRITE_UPDATE);
        RecordingReporter again;
        ConvertWorker(job, again).Run();
        ASSERT_EQ(again.records.size(), 1u);
        EXPECT_EQ(again.records[0].outcome, FileOutcome::Skipped);
    }
}

TEST(OutputDates, NamesToldByTheDecodedPictureStillSkipAndAsk)
{
    ScratchDir dir;
    const std::string source = dir.Path("a.png");
    ASSERT_TRUE(MakeTestImage(40, 20).Save(source.c_str(), CXIMAGE_FORMAT_PNG));
    ASSERT_EQ(mkdir(dir.Path("out").c_str(), 0777), 0);
    CConvertJob job = JobFor({source, source});
    job.SetOutputFolder(dir.Path("out"));
    job.SetRenameFlag(true);
    job.SetStartNumber(1);
    job.m_szNameTemplate = "{w}x{h}/{n:2}";
    job.SetResizeFlag(true);
    job.SetResizeType(RESIZE_PERCENT);
    job.m_nPercent = 50;
    RecordingReporter first;
    ConvertWorker(job, first).Run();
    EXPECT_EQ(first.results,
              (std::vector<std::string>{dir.Path("out/20x10/01.png"), dir.Path("out/20x10/02.png")}))
        << first.Log();

    job.SetOverwritePolicy(OVERWRITE_SKIP);
    RecordingReporter skipped;
    ConvertWorker(job, skipped).Run();
    ASSERT_EQ(skipped.records.size(), 2u);
    EXPECT_EQ(skipped.records[1].outcome, FileOutcome::Skipped);
    EXPECT_EQ(skipped.records[1].output, dir.Path("out/20x10/02.png"));

    job.SetOverwritePolicy(OVERWRITE_ASK);
    RecordingReporter asked;
    asked.answers = {{OverwriteChoice::AutoRename, true}};
    ConvertWorker(job, asked).Run();
    EXPECT_EQ(asked.results,
              (std::vector<std::string>{dir.Path("out/20x10/01_001.png"), dir.Path("out/20x10/02_001.png")}));
}
