// A run over photos: their orientation, their metadata and the strip options.
#include "convert/convertworker.h"
#include "tests/convert/recording_reporter.h"
#include "tests/test_support.h"
#include "tests/convert/worker_job.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(PhotoRun, OrientationAndMetadataOptions)
{
    struct Row {
        const char *source;
        const char *format; // "" keeps the source's
        int fit;            // fit inside fit x fit; 0: no resize
        bool dontEnlarge;
        std::int32_t rotate;
        bool autoRotate, strip, stripLocation;
        int width, height;       // of the output's pixels
        const char *orientation; // the output's tag, "-" when absent
        bool gps, date;
        bool byteCopy; // the output is the source's bytes
    };
    const Row rows[] = {
        // Turned upright before the resize rules, and written upright.
        {"orient6.jpg", "", 20, false, ROTATE_NONE, true, false, false, 20, 10, "1", false, false, false},
        {"orient8.png", "", 20, false, ROTATE_NONE, true, false, false, 20, 10, "1", false, false, false},
        {"orient6.jpg", "", 20, false, ROTATE_NONE, false, false, false, 10, 20, "6", false, false, false},
        {"orient6.jpg", "", 100, true, ROTATE_NONE, true, false, false, 32, 16, "1", false, false, false},
        {"orient6.jpg", "", 0, false, ROTATE_RIGHT, true, false, false, 16, 32, "1", false, false, false},
        {"orient5.jpg", "png", 0, false, ROTATE_NONE, true, false, false, 32, 16, "1", false, false, false},
        // A plain copy stays the file, or loses only what is asked away.
        {"orient6.jpg", "", 0, false, ROTATE_NONE, true, false, false, 16, 32, "6", false, false, true},
        {"orient6.jpg", "", 0, false, ROTATE_NONE, true, true, false, 16, 32, "6", false, false, false},
        {"orient6.png", "", 0, false, ROTATE_NONE, true, true, false, 16, 32, "6", false, false, false},
        {"orient6.png", "", 0, false, ROTATE_NONE, false, false, false, 16, 32, "6", false, false, true},
        {"meta.jpg", "", 0, false, ROTATE_NONE, true, false, true, 32, 16, "1", false, true, false},
        {"meta.jpg", "", 0, false, ROTATE_NONE, true, true, false, 32, 16, "-", false, false, false},
        {"meta.jpg", "png", 0, false, ROTATE_NONE, true, false, false, 32, 16, "1", true, true, false},
        {"orient6.jpg", "png", 0, false, ROTATE_NONE, false, false, false, 16, 32, "6", false, false, false},
        {"meta.jpg", "tif", 20, false, ROTATE_NONE, true, true, false, 20, 10, "1", false, false,
         false}, // TIFF's own tag
        // WebP: blocks carried, and taken out of a plain copy in place.
        {"meta.jpg", "webp", 20, false, ROTATE_NONE, true, false, false, 20, 10, "1", true, true, false},
        {"orient6.jpg", "webp", 0, false, ROTATE_NONE, false, false, false, 16, 32, "6", false, false, false},
        {"orient6.webp", "", 20, false, ROTATE_NONE, true, false, false, 20, 10, "1", false, false, false},
        {"meta.webp", "", 0, false, ROTATE_NONE, true, false, true, 32, 16, "1", false, true, false},
        {"meta.webp", "", 0, false, ROTATE_NONE, true, true, false, 32, 16, "-", false, false, false},
        {"broken_exif.jpg", "png", 0, false, ROTATE_NONE, true, false, false, 16, 32, "-", false, false,
         false},
    };
    int n = 0;
    for (const Row &r : rows) {
        const std::string trace = std::to_string(n) + " " + r.source;
        SCOPED_TRACE(trace);
        ScratchDir dir;
        const std::string source = dir.Path(r.source);
        ASSERT_TRUE(WriteFileBytes(source, ReadFileBytes(DataPath(std::string("photo/") + r.source))));
        CConvertJob job = JobFor({source});
        job.SetFormat(r.format);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.Path("out"))));
        job.SetOutputFolder(dir.Path("out"));
        if (r.fit) {
            job.SetResizeFlag(true);
            job.SetSize(r.fit, r.fit);
            job.SetDontEnlarge(r.dontEnlarge);
        }
        if (r.rotate != ROTATE_NONE) {
            job.SetRotateFlag(true);
            job.SetRotation(r.rotate);
        }
        job.m_bAutoRotate = r.autoRotate;
        job.m_bStripMetadata = r.strip;
        job.m_bStripLocation = r.stripLocation;
        RecordingReporter reporter;
        ConvertWorker(job, reporter).Run();
        ASSERT_EQ(reporter.records.size(), 1u);
        const std::string out = reporter.records[0].output;
        ASSERT_FALSE(out.empty()) << reporter.records[0].reason;

        CxImage img;
        ASSERT_TRUE(img.Load(out.c_str(), CXIMAGE_FORMAT_UNKNOWN, {.autoOrient = false}));
        EXPECT_EQ(img.GetWidth(), r.width);
        EXPECT_EQ(img.GetHeight(), r.height);
        // What the output says is up, this program reads too.
        CxImage shown;
        ASSERT_TRUE(shown.Load(out.c_str()));
        EXPECT_EQ(shown.GetWidth(), std::string(r.orientation) == "6" ? r.height : r.width);
        const auto keys = MetadataKeys(out);
        const auto has = [&](const char *key) { return keys.count(key) != 0; };
        EXPECT_EQ(has("Exif.Image.Orientation") ? keys.at("Exif.Image.Orientation") : "-", r.orientation);
        EXPECT_EQ(has("Exif.GPSInfo.GPSLatitude") || has("Xmp.exif.GPSLatitude"), r.gps);
        EXPECT_EQ(has("Exif.Photo.DateTimeOriginal"), r.date);
        EXPECT_EQ(has("Xmp.dc.title") || has("Iptc.Application2.City"), r.date && !r.strip);
        EXPECT_EQ(ReadFileBytes(out) == ReadFileBytes(source), r.byteCopy);
        ++n;
    }
}
