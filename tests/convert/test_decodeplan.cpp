#include "convert/decodeplan.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct Options {
    bool resize = false, rotate = false, stamp = false, sharpen = false;
    bool progressive = false; // an encoder setting of JPEG only
    int dpi = 0;
    bool logo = false;
};

CConvertJob JobWith(const Options &o)
{
    CConvertJob job;
    job.SetResizeFlag(o.resize);
    job.SetResizeType(1);
    job.SetSize(20, 0);
    job.SetRotateFlag(o.rotate);
    job.SetRotation(ROTATE_RIGHT);
    job.SetSharpen(o.sharpen);
    job.m_encoder.m_bJpegProgressive = o.progressive;
    job.m_encoder.m_nDpi = o.dpi;
    if (o.logo)
        job.m_logo = std::make_shared<CxImage>(testsupport::MakeTestImage(4, 4));
    if (o.stamp) {
        job.SetStampFlag(true);
        job.SetStamp("Velmora", nullptr, RGB(255, 255, 0));
    }
    return job;
}

} // namespace

TEST(DecodePlan, EachFileGetsThePlanItsJobAndTypesCallFor)
{
    constexpr std::uint32_t JPG = CXIMAGE_FORMAT_JPG, PNG = CXIMAGE_FORMAT_PNG, GIF = CXIMAGE_FORMAT_GIF,
                            BMP = CXIMAGE_FORMAT_BMP;
    const struct Row {
        const char *name;
        Options options;
        const char *file;
        std::uint32_t sourceType, outType;
        bool copyRefused;
        DecodePlan plan;
    } rows[] = {
        {"no step, same type", {}, "jpeg/baseline.jpg", JPG, JPG, false, DecodePlan::PlainCopy},
        {"no step, a copy that cannot lose its metadata",
         {},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         true,
         DecodePlan::RowsStreamed},
        {"no step, JPEG to PNG", {}, "jpeg/baseline.jpg", JPG, PNG, false, DecodePlan::RowsStreamed},
        {"no step, PNG to JPEG", {}, "png/rgba.png", PNG, JPG, false, DecodePlan::RowsStreamed},
        {"no step, GIF to PNG", {}, "gif/timing.gif", GIF, PNG, false, DecodePlan::Whole},
        {"no step, BMP to JPEG", {}, "bmp/pal8.bmp", BMP, JPG, false, DecodePlan::Whole},
        {"sharpen, JPEG to PNG", {.sharpen = true}, "jpeg/baseline.jpg", JPG, PNG, false, DecodePlan::Whole},
        {"stamp, JPEG to JPEG",
         {.stamp = true},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         false,
         DecodePlan::RowsStreamed},
        {"resize a JPEG",
         {.resize = true},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         false,
         DecodePlan::ShrinkWhileDecoding},
        {"resize a JPEG to PNG",
         {.resize = true},
         "jpeg/progressive.jpg",
         JPG,
         PNG,
         false,
         DecodePlan::ShrinkWhileDecoding},
        {"resize a PNG named .jpg", {.resize = true}, "png/rgba.png", JPG, JPG, false, DecodePlan::Whole},
        {"resize a PNG", {.resize = true}, "png/rgba.png", PNG, PNG, false, DecodePlan::Whole},
        {"resize and turn a JPEG",
         {.resize = true, .rotate = true},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         false,
         DecodePlan::Whole},
        {"turn a JPEG",
         {.rotate = true},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         false,
         DecodePlan::LosslessTransform},
        {"turn a JPEG made progressive",
         {.rotate = true, .progressive = true},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         false,
         DecodePlan::Whole},
        {"turn a JPEG with a logo",
         {.rotate = true, .logo = true},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         false,
         DecodePlan::Whole},
        // An encoder setting rewrites the files of its format only.
        {"progressive JPEG to JPEG",
         {.progressive = true},
         "jpeg/baseline.jpg",
         JPG,
         JPG,
         false,
         DecodePlan::RowsStreamed},
        {"progressive, PNG to PNG",
         {.progressive = true},
         "png/rgba.png",
         PNG,
         PNG,
         false,
         DecodePlan::PlainCopy},
        {"a DPI, PNG to PNG", {.dpi = 300}, "png/rgba.png", PNG, PNG, false, DecodePlan::RowsStreamed},
        {"a DPI, GIF to GIF", {.dpi = 300}, "gif/timing.gif", GIF, GIF, false, DecodePlan::PlainCopy},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const CConvertJob job = JobWith(r.options);
        const PlanInput in{.sourceType = r.sourceType,
                           .outType = r.outType,
                           .contentType = ProbeImageType(DataPath(r.file).c_str()),
                           .copyRefused = r.copyRefused};
        EXPECT_EQ(int(ChooseDecodePlan(job, in)), int(r.plan));
        // Headers that could not be read leave the plan to the types and the job.
        const DecodePlan unread = ChooseDecodePlan(
            job, PlanInput{.sourceType = r.sourceType, .outType = r.outType, .copyRefused = r.copyRefused});
        EXPECT_EQ(int(unread), int(r.plan == DecodePlan::Whole && PlanReadsHeader(job, r.outType)
                                       ? DecodePlan::ShrinkWhileDecoding
                                       : r.plan));
    }
}

// Only a JPEG that is only turned is turned on its coefficients, unless
// --lossless off says not or they turned out unusable; a JPEG goes to JPEG
// XL (and back) so only at quality 100 with no step.
TEST(DecodePlan, CoefficientsAreUsedOnlyWhereNothingElseChanges)
{
    constexpr std::uint32_t JPG = CXIMAGE_FORMAT_JPG, JXL = CXIMAGE_FORMAT_JXL, PNG = CXIMAGE_FORMAT_PNG;
    for (int bits = 0; bits < 16; ++bits) {
        CConvertJob job = JobWith({.resize = (bits & 1) != 0,
                                   .rotate = (bits & 2) != 0,
                                   .stamp = (bits & 4) != 0,
                                   .sharpen = (bits & 8) != 0});
        const bool onlyTurned = bits == 2, nothing = bits == 0;
        SCOPED_TRACE(bits);
        for (const std::int32_t lossless : {LOSSLESS_AUTO, LOSSLESS_TRIM, LOSSLESS_OFF}) {
            job.m_nLossless = lossless;
            for (const int quality : {90, 100}) {
                job.SetQuality(quality);
                const auto fromCoefficients = [&](std::uint32_t from, std::uint32_t to, bool refused = false) {
                    return ChooseDecodePlan(job, {.sourceType = from, .outType = to, .losslessRefused = refused}) ==
                           DecodePlan::LosslessTransform;
                };
                EXPECT_EQ(fromCoefficients(JPG, JPG), onlyTurned && lossless != LOSSLESS_OFF);
                EXPECT_EQ(fromCoefficients(JPG, JXL), nothing && quality == 100);
                EXPECT_EQ(fromCoefficients(JXL, JPG), nothing);
                EXPECT_FALSE(fromCoefficients(JPG, PNG) || fromCoefficients(PNG, PNG) || fromCoefficients(JPG, JPG, true) || fromCoefficients(JPG, JXL, true));
            }
        }
    }
}
