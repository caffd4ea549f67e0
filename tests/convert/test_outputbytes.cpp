// The bytes measured without writing are the bytes a run writes.
#include "convert/convertworker.h"
#include "convert/outputbytes.h"
#include "convert/outputsizes.h"
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
        const char *stamp = nullptr, *typed = nullptr; // a watermark naming its file, and as typed
    };
    const Row rows[] = {
        {"photo.jpg", "JPG", 30, true, OutputBytes::Kind::Encoded},
        {"photo.jpg", "PNG", 90, true, OutputBytes::Kind::Encoded},
        {"photo.jpg", "WEBP", 60, false, OutputBytes::Kind::Encoded},
        {"photo.jpg", "JPG", 90, false, OutputBytes::Kind::Copied},  // nothing to do: a plain copy
        {"timing.gif", "GIF", 90, true, OutputBytes::Kind::Encoded}, // frame by frame
        {"photo.jpg", "PNG", 90, false, OutputBytes::Kind::Encoded, "{name} {n}", "photo 001"},
        {"timing.gif", "GIF", 90, false, OutputBytes::Kind::Encoded, "{name} {n}", "timing 001"},
    };
    ScratchDir src;
    CxImage img = MakeTestImage(120, 90);
    ASSERT_TRUE(img.Save(src.Path("photo.jpg").c_str(), CXIMAGE_FORMAT_JPG));
    ASSERT_TRUE(WriteFileBytes(src.Path("timing.gif"), ReadFileBytes(DataPath("gif/timing.gif"))));
    const auto run = [](const CConvertJob &job) {
        RecordingReporter r;
        ConvertWorker(job, r).Run();
        EXPECT_EQ(r.records.size(), 1u);
        return r.records.empty() ? std::vector<std::uint8_t>() : ReadFileBytes(r.records.front().output);
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.source) + " " + row.format);
        ScratchDir out;
        const std::string source = src.Path(row.source);
        CConvertJob job = JobFor({source});
        if (row.stamp) {
            job.SetStampFlag(true);
            job.SetStamp(row.stamp, nullptr, 0xffffff);
        }
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
        const std::vector<std::uint8_t> written = run(job);
        EXPECT_EQ(std::vector<std::uint8_t>(made.bytes.data.get(), made.bytes.data.get() + made.bytes.size),
                  written);
        if (row.typed) {
            ScratchDir again;
            job.SetOutputFolder(again.Root());
            job.SetStamp(row.typed, nullptr, 0xffffff);
            EXPECT_EQ(run(job), written); // each file's text drawn, on every frame too
        }
    }
    // Of several sizes the first is shown, as a run of that size alone writes it.
    ScratchDir out;
    CConvertJob job = JobFor({src.Path("photo.jpg")});
    job.SetFormat("PNG");
    job.SetOutputFolder(out.Root());
    SetSizes(job, {{OutputSize::Kind::Width, 60, 0}, {OutputSize::Kind::Box, 30, 30}});
    const OutputBytes made = MakeOutputBytes(job, src.Path("photo.jpg"), {});
    ASSERT_EQ(made.kind, OutputBytes::Kind::Encoded) << made.reason;
    SetSizes(job, {job.m_sizes.front()});
    EXPECT_EQ(std::vector<std::uint8_t>(made.bytes.data.get(), made.bytes.data.get() + made.bytes.size),
              run(job));
}
