// Outputs made from a JPEG's coefficients: rotations without loss, JPEG XL
// that gives the JPEG back, and sources kept where a rewrite would be larger.
#include "convert/convertworker.h"
#include "tests/convert/recording_reporter.h"
#include "tests/convert/worker_job.h"
#include "tests/test_support.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The job's one file converted into the folder out, beside its source.
FileRecord RunOne(CConvertJob job, const ScratchDir &dir, const char *out = "out")
{
    QDir().mkpath(QString::fromStdString(dir.Path(out)));
    job.SetOutputFolder(dir.Path(out));
    RecordingReporter reporter;
    ConvertWorker(std::move(job), reporter).Run();
    return reporter.records.size() == 1 ? reporter.records[0] : FileRecord{};
}

CxImage Decoded(const std::string &path)
{
    CxImage img;
    img.Load(path.c_str());
    return img;
}

} // namespace

TEST(LosslessRun, RotatedJpegsAreTurnedAsJpegtranTurnsThem)
{
    const struct Row {
        const char *name, *source;
        std::int32_t rotate, lossless;
        bool resize;
        FileWay way;
        int width, height;
        const char *expected; // jpegtran's output, the same pixels; null: encoded again
    } rows[] = {
        {"whole blocks", "jpeg/progressive420.jpg", ROTATE_RIGHT, LOSSLESS_AUTO, false, FileWay::Lossless,
         192, 256, "lossless/whole420_r90.jpg"},
        {"the file's orientation and the rotation in one turn", "photo/orient6.jpg", ROTATE_180,
         LOSSLESS_AUTO, false, FileWay::Lossless, 32, 16, "lossless/orient6_r180.jpg"},
        {"partial blocks are encoded again", "lossless/partial420.jpg", ROTATE_RIGHT, LOSSLESS_AUTO, false,
         FileWay::Usual, 45, 70, nullptr},
        {"partial blocks trimmed", "lossless/partial420.jpg", ROTATE_RIGHT, LOSSLESS_TRIM, false,
         FileWay::Lossless, 32, 70, "lossless/partial420_r90_trim.jpg"},
        {"off", "jpeg/progressive420.jpg", ROTATE_RIGHT, LOSSLESS_OFF, false, FileWay::Usual, 192, 256,
         nullptr},
        {"another step", "jpeg/progressive420.jpg", ROTATE_RIGHT, LOSSLESS_AUTO, true, FileWay::Usual, 96,
         128, nullptr},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        ScratchDir dir;
        const std::string source = dir.Path("a.jpg");
        ASSERT_TRUE(WriteFileBytes(source, ReadFileBytes(DataPath(r.source))));
        CConvertJob job = JobFor({source});
        job.SetRotateFlag(true);
        job.SetRotation(r.rotate);
        job.m_nLossless = r.lossless;
        if (r.resize) {
            job.SetResizeFlag(true);
            job.SetSize(128, 128);
        }
        const FileRecord record = RunOne(job, dir);
        ASSERT_EQ(record.outcome, FileOutcome::Converted) << record.reason;
        EXPECT_EQ(record.way, r.way);
        CxImage out;
        ASSERT_TRUE(out.Load(record.output.c_str(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}));
        EXPECT_EQ(std::pair(out.GetWidth(), out.GetHeight()), std::pair(r.width, r.height));
        const auto keys = MetadataKeys(record.output);
        EXPECT_TRUE(!keys.count("Exif.Image.Orientation") || keys.at("Exif.Image.Orientation") == "1");
        if (r.expected) {
            EXPECT_EQ(MaxChannelDiff(out, Decoded(DataPath(r.expected))), 0);
        }
    }
}

TEST(LosslessRun, JpegToJxlAndBackGivesTheSameBytes)
{
    const struct Row {
        const char *source;
        bool autoRotate;
        int quality;
        FileWay way; // of the JPEG XL
    } rows[] = {
        {"jpeg/baseline.jpg", true, 100, FileWay::Transcoded},
        {"jpeg/progressive420.jpg", true, 100, FileWay::Transcoded},
        {"photo/meta.jpg", true, 100, FileWay::Transcoded},
        // Kept as stored, the orientation with it (and only so given back).
        {"photo/orient6.jpg", false, 100, FileWay::Transcoded},
        // Turned upright, or lossy: from pixels, and nothing to give back.
        {"photo/orient6.jpg", true, 100, FileWay::Usual},
        {"jpeg/baseline.jpg", true, 90, FileWay::Usual},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.source) + " q" + std::to_string(r.quality));
        ScratchDir dir;
        const std::string source = dir.Path("a.jpg");
        ASSERT_TRUE(WriteFileBytes(source, ReadFileBytes(DataPath(r.source))));
        CConvertJob toJxl = JobFor({source});
        toJxl.SetFormat("JXL");
        toJxl.SetQuality(r.quality);
        toJxl.m_bAutoRotate = r.autoRotate;
        const FileRecord jxl = RunOne(toJxl, dir);
        ASSERT_EQ(jxl.outcome, FileOutcome::Converted) << jxl.reason;
        EXPECT_EQ(jxl.way, r.way);
        CConvertJob back = JobFor({jxl.output});
        back.SetFormat("JPG");
        back.m_bAutoRotate = r.autoRotate;
        const FileRecord jpeg = RunOne(back, dir, "back");
        ASSERT_EQ(jpeg.outcome, FileOutcome::Converted) << jpeg.reason;
        EXPECT_EQ(jpeg.way, r.way);
        EXPECT_EQ(ReadFileBytes(jpeg.output) == ReadFileBytes(source), r.way == FileWay::Transcoded);
    }
    // cjxl's JPEG of orientation 6: given back only when photos stay as stored.
    for (const bool autoRotate : {true, false}) {
        ScratchDir dir;
        CConvertJob job = JobFor({DataPath("jxl/turned.jxl")});
        job.SetFormat("JPG");
        job.m_bAutoRotate = autoRotate;
        EXPECT_EQ(RunOne(job, dir).way, autoRotate ? FileWay::Usual : FileWay::Transcoded);
    }
}

TEST(LosslessRun, IfLargerKeepCopiesTheSource)
{
    const struct Row {
        const char *name, *source;
        bool keep;
        int quality;
        bool stamp, strip;
        FileOutcome outcome;
        FileWay way;
    } rows[] = {
        {"larger: kept", "jpeg/baseline.jpg", true, 100, false, false, FileOutcome::Copied, FileWay::Kept},
        {"larger, metadata stripped from the copy", "photo/orient1.jpg", true, 100, false, true,
         FileOutcome::Copied, FileWay::Kept},
        {"write", "jpeg/baseline.jpg", false, 100, false, false, FileOutcome::Converted, FileWay::Usual},
        {"smaller", "jpeg/baseline.jpg", true, 10, false, false, FileOutcome::Converted, FileWay::Usual},
        {"stamped", "jpeg/baseline.jpg", true, 100, true, false, FileOutcome::Converted, FileWay::Usual},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        ScratchDir dir;
        const std::string source = dir.Path("a.jpg");
        ASSERT_TRUE(WriteFileBytes(source, ReadFileBytes(DataPath(r.source))));
        CConvertJob job = JobFor({source});
        // Not enlarged: the output keeps the source's size.
        job.SetResizeFlag(true);
        job.SetSize(100, 100);
        job.SetDontEnlarge(true);
        job.SetQuality(r.quality);
        job.m_bKeepIfLarger = r.keep;
        job.m_bStripMetadata = r.strip;
        if (r.stamp) {
            job.SetStampFlag(true);
            job.SetStamp("V", nullptr, RGB(255, 255, 0));
        }
        const FileRecord record = RunOne(job, dir);
        EXPECT_EQ(record.outcome, r.outcome) << record.reason;
        EXPECT_EQ(record.way, r.way);
        ASSERT_FALSE(record.output.empty());
        const bool same = ReadFileBytes(record.output) == ReadFileBytes(source);
        EXPECT_EQ(same, r.way == FileWay::Kept && !r.strip);
        const auto hasExif = [](const std::string &path) {
            const auto keys = MetadataKeys(path);
            const auto it = keys.lower_bound("Exif.");
            return it != keys.end() && it->first.rfind("Exif.", 0) == 0;
        };
        if (r.strip) {
            EXPECT_TRUE(hasExif(source) && !hasExif(record.output));
        }
    }
}
