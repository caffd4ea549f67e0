#include "convert/filepreparer.h"
#include "convert/outputfit.h"
#include "convert/sizelimit.h"
#include "tests/convert/worker_job.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace testsupport;

TEST(FileSizeLimit, ReadsSizesAndShowsThem)
{
    const struct {
        const char *text;
        std::int64_t bytes; // 0: refused
    } rows[] = {
        {"300K", 300000},  {"300kb", 300000}, {"1.5MB", 1500000}, {"1.5 m", 1500000}, {"512KiB", 524288},
        {"2mib", 2097152}, {"1000", 1000},    {"1K", 1000},       {"0.5k", 0},        {"999", 0},
        {"1024MiB", 1073741824}, {"1073741825", 0}, {"1,5MB", 0}, {"-5K", 0}, {"", 0}, {"K", 0},
        {".", 0}, {"5 KBB", 0}, {"5GB", 0}, {"99999999999999999999", 0}, {"3.K", 3000},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        const std::optional<std::int64_t> bytes = ParseFileSize(row.text);
        EXPECT_EQ(bytes.value_or(0), row.bytes);
    }
    EXPECT_EQ(FormatFileSize(300000), "300 KB");
    EXPECT_EQ(FormatFileSize(1500000), "1.5 MB");
    // A size just over a limit never reads as the limit.
    EXPECT_EQ(FormatFileSize(300400, true), "301 KB");
    EXPECT_EQ(NoFitReason(300000, 412000, 30), "cannot fit in 300 KB: 412 KB at quality 30");
    EXPECT_EQ(FittingSizeUnit(2097152), SIZEUNIT_MIB);
    EXPECT_EQ(FittingSizeUnit(300000), SIZEUNIT_KB);
}

// The search finds what trying every quality would, in few encodes.
TEST(FileSizeLimit, SearchFindsTheHighestQualityThatFits)
{
    using Curve = std::function<std::int64_t(int)>;
    const Curve smooth = [](int q) { return std::int64_t(20000 * std::exp(q / 20.0)); };
    const Curve steps = [](int q) { return std::int64_t(1000 * (q / 8 + 1)); }; // flat runs, as AVIF's
    const Curve bumpy = [](int q) { return std::int64_t(5000 + 300 * q + (q % 3) * 200); };
    const struct {
        const char *name;
        Curve size;
        int floor, ceiling;
        std::int64_t limit;
        int maxEncodes;
    } rows[] = {
        {"fits at once", smooth, 30, 90, 10000000, 1},
        {"smooth", smooth, 30, 95, 300000, 6},
        {"smooth, near the top", smooth, 30, 95, 2200000, 6},
        {"steps", steps, 30, 95, 7500, 8},
        {"bumpy", bumpy, 1, 100, 20000, 9},
        {"nothing fits", smooth, 30, 95, 50000, 3},
        {"floor is ceiling", smooth, 50, 50, 300000, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::map<int, int> tried;
        const QualityFit fit = SearchQuality(row.floor, row.ceiling, row.limit, [&](int q) {
            ++tried[q];
            return std::optional<std::int64_t>(row.size(q));
        });
        int best = 0;
        for (int q = row.floor; q <= row.ceiling; ++q)
            if (row.size(q) <= row.limit)
                best = q;
        EXPECT_EQ(fit.fits, best > 0);
        if (best > 0) {
            // The highest fitting quality, unless its neighbour above is
            // not tried because the way down never saw it fit.
            EXPECT_LE(row.size(fit.quality), row.limit);
            EXPECT_TRUE(fit.quality == row.ceiling || row.size(fit.quality + 1) > row.limit) << fit.quality;
            EXPECT_EQ(fit.size, row.size(fit.quality));
        } else {
            EXPECT_EQ(fit.quality, row.floor);
        }
        EXPECT_LE(fit.encodes, row.maxEncodes);
        EXPECT_EQ(fit.encodes, int(tried.size())); // no quality encoded twice
    }
    // A failed encode ends the search.
    const QualityFit failed = SearchQuality(30, 90, 1000, [](int q) {
        return q == 90 ? std::optional<std::int64_t>(5000) : std::nullopt;
    });
    EXPECT_TRUE(failed.failed);
    EXPECT_FALSE(failed.fits);
}

namespace {

struct Written {
    PreparedFile file;
    std::int64_t size() const { return std::int64_t(file.bytes.size); }
};

Written Prepare(const std::string &source, const char *format, int quality, std::int64_t limit,
                void (*tune)(CConvertJob &) = nullptr)
{
    CConvertJob job = JobFor({source});
    job.SetFormat(format);
    job.SetQuality(quality);
    job.m_nMaxFileSize = limit;
    if (tune)
        tune(job);
    CxImage image;
    return {PrepareFile(job, 0, image, {})};
}

} // namespace

// Each format with a quality lands under the limit, and a step higher would not.
TEST(FileSizeLimit, EachFormatLandsUnderTheLimit)
{
    ScratchDir dir;
    const std::string source = dir.Path("photo.bmp");
    ASSERT_TRUE(MakeTexturedImage(480, 320).Save(source.c_str(), CXIMAGE_FORMAT_BMP));
    const auto tiffJpeg = [](CConvertJob &job) { job.m_encoder.m_nTifCompression = TIFCOMPRESS_JPEG; };
    const struct {
        const char *format;
        void (*tune)(CConvertJob &);
    } rows[] = {{"JPG", nullptr}, {"WEBP", nullptr}, {"AVIF", nullptr}, {"JXL", nullptr}, {"TIF", tiffJpeg}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.format);
        // Limits no picture reaches take the same way as a tight one.
        const std::int64_t full = Prepare(source, row.format, 90, kMaxFileSizeLimit, row.tune).size();
        const std::int64_t limit = full * 6 / 10;
        const Written w = Prepare(source, row.format, 90, limit, row.tune);
        ASSERT_EQ(w.file.kind, PreparedFile::Kind::Encoded) << w.file.reason;
        EXPECT_LE(w.size(), limit);
        EXPECT_TRUE(w.file.fit.limited);
        EXPECT_GE(w.file.fit.quality, 30);
        EXPECT_LT(w.file.fit.quality, 90);
        EXPECT_FALSE(w.file.fit.shrunk);
        // The bytes are those of a plain run at the chosen quality.
        const Written same = Prepare(source, row.format, w.file.fit.quality, kMaxFileSizeLimit, row.tune);
        EXPECT_EQ(same.size(), w.size());
        const Written above = Prepare(source, row.format, w.file.fit.quality + 1, kMaxFileSizeLimit, row.tune);
        EXPECT_TRUE(above.size() > limit || above.size() == w.size()) << above.size();
    }
    // Under a limit a watermark no longer forces 95: the search starts at the quality chosen.
    const Written stamped = Prepare(source, "JPG", 80, kMaxFileSizeLimit, [](CConvertJob &job) {
        job.SetStampFlag(true);
        job.SetStamp("Velmora", nullptr, RGB(255, 255, 255));
    });
    ASSERT_EQ(stamped.file.kind, PreparedFile::Kind::Encoded) << stamped.file.reason;
    EXPECT_EQ(stamped.file.fit.quality, 80);
}

TEST(FileSizeLimit, ShrinksOrFailsWhenTheFloorDoesNotFit)
{
    ScratchDir dir;
    const std::string source = dir.Path("photo.bmp");
    ASSERT_TRUE(MakeTexturedImage(480, 320).Save(source.c_str(), CXIMAGE_FORMAT_BMP));
    const auto shrink = [](CConvertJob &job) { job.m_bMaxFileSizeShrink = true; };
    const auto floor60 = [](CConvertJob &job) { job.m_nMinQuality = 60; };
    const auto floor60Shrink = [](CConvertJob &job) {
        job.m_bMaxFileSizeShrink = true;
        job.m_nMinQuality = 60;
    };
    const struct {
        const char *format;
        void (*tune)(CConvertJob &);
        double share; // of the size at quality 90 (the floor's for JPEG)
        bool fits;
    } rows[] = {
        {"PNG", nullptr, 0.5, false},
        {"PNG", shrink, 0.5, true},
        {"PCX", shrink, 0.3, true},
        {"JPG", floor60, 0.1, false},
        {"JPG", floor60Shrink, 0.1, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.format << " " << row.share << (row.tune ? " tuned" : ""));
        const std::int64_t full = Prepare(source, row.format, 90, kMaxFileSizeLimit).size();
        const auto limit = std::int64_t(double(full) * row.share);
        const Written w = Prepare(source, row.format, 90, limit, row.tune);
        if (!row.fits) {
            EXPECT_EQ(w.file.kind, PreparedFile::Kind::EncodeFailed);
            EXPECT_EQ(w.file.reason.rfind("cannot fit in " + FormatFileSize(limit) + ": ", 0), 0u) << w.file.reason;
            continue;
        }
        ASSERT_EQ(w.file.kind, PreparedFile::Kind::Encoded) << w.file.reason;
        EXPECT_LE(w.size(), limit);
        EXPECT_TRUE(w.file.fit.shrunk);
        EXPECT_LT(w.file.width, 480);
        EXPECT_EQ(w.file.fit.width, w.file.width);
        // Shrunk a tenth at a time: one step larger would not fit at the floor.
        EXPECT_GT(w.file.width, 480 * 0.9 * std::sqrt(double(limit) / double(full)) * 0.75);
    }
}
