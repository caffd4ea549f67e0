// The bytes measured without writing are the bytes a run writes.
#include "convert/convertworker.h"
#include "convert/outputbytes.h"
#include "tests/convert/recording_reporter.h"
#include "tests/convert/worker_job.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(OutputBytes, AreWhatARunWrites)
{
    struct Row {
        const char *source;
        const char *format;
        int quality;
        bool resize;
        OutputBytes::Kind kind;
    };
    const Row rows[] = {
        {"photo.jpg", "JPG", 30, true, OutputBytes::Kind::Encoded},
        {"photo.jpg", "PNG", 90, true, OutputBytes::Kind::Encoded},
        {"photo.jpg", "WEBP", 60, false, OutputBytes::Kind::Encoded},
        {"photo.jpg", "JPG", 90, false, OutputBytes::Kind::Copied},  // nothing to do: a plain copy
        {"timing.gif", "GIF", 90, true, OutputBytes::Kind::Encoded}, // frame by frame
    };
    ScratchDir src;
    CxImage img = MakeTestImage(120, 90);
    ASSERT_TRUE(img.Save(src.Path("photo.jpg").c_str(), CXIMAGE_FORMAT_JPG));
    ASSERT_TRUE(WriteFileBytes(src.Path("timing.gif"), ReadFileBytes(DataPath("gif/timing.gif"))));
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.source) + " " + row.format);
        ScratchDir out;
        const std::string source = src.Path(row.source);
        CConvertJob job = JobFor({source});
        job.SetFormat(row.format);
        job.SetQuality(row.quality);
        job.SetOutputFolder(out.Root());
        if (row.resize) {
            job.m_bResize = 1;
            job.m_nResizeType = 0;
            job.m_nWidth = 80;
            job.m_nHeight = 80;
        }
        const OutputBytes made = MakeOutputBytes(job, source, {});
        ASSERT_EQ(made.kind, row.kind) << made.reason;
        RecordingReporter r;
        ConvertWorker(job, r).Run();
        ASSERT_EQ(r.records.size(), 1u);
        const std::vector<std::uint8_t> written = ReadFileBytes(r.records.front().output);
        EXPECT_EQ(std::vector<std::uint8_t>(made.bytes.data.get(), made.bytes.data.get() + made.bytes.size),
                  written);
    }
}
