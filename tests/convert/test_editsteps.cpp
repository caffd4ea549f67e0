#include "convert/editsteps.h"
#include "convert/pipeline.h"
#include "convert/storedoptions.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

Edits Parsed(const std::vector<std::pair<const char *, const char *>> &options)
{
    Edits e;
    for (const auto &[name, value] : options) {
        const EditOption *o = FindEditOption(name);
        EXPECT_NE(o, nullptr) << name;
        if (o) {
            EXPECT_EQ(o->parse(value, e), nullptr) << name << " " << value;
        }
    }
    return e;
}

// A picture whose every pixel tells where it came from: red the column,
// green the row (both scaled to 0..255), blue 0.
CxImage Positions(int w, int h)
{
    CxImage img;
    img.Create(w, h, 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelColor(x, y, RGBQUAD{0, BYTE(y * 255 / (h - 1)), BYTE(x * 255 / (w - 1)), 0});
    return img;
}

} // namespace

TEST(EditOptions, ValuesReadAndWriteBackTheSame)
{
    const struct {
        const char *name, *value;
        const char *back; // the text it is stored as; nullptr: refused
    } rows[] = {
        {"--flip", "h", "h"},
        {"--flip", "vh", "hv"},
        {"--flip", "x", nullptr},
        {"--crop", "10,20,300,200", "10,20,300,200"},
        {"--crop", "10,20,0,200", nullptr},
        {"--crop", "-1,0,5,5", nullptr},
        {"--crop", "1,2,3", nullptr},
        {"--crop", "1,2,3,4,5", nullptr},
        {"--crop-margins", "0,0,48,0", "0,0,48,0"},
        {"--crop-margins", "12.5%,0,10%,5", "12.5%,0,10%,5"},
        {"--crop-margins", "50%,0,50%,0", nullptr}, // nothing left down
        {"--crop-margins", "0,60%,0,40%", nullptr},
        {"--crop-margins", "0,1.5,0,0", nullptr}, // pixels are whole
        {"--trim-fuzz", "2.5", "2.5"},
        {"--trim-fuzz", "101", nullptr},
        {"--brightness", "-100", "-100"},
        {"--brightness", "300", nullptr},
        {"--contrast", "1.5", nullptr},
        {"--gamma", "1.2", "1.2"},
        {"--gamma", "0", nullptr},
        {"--gamma", "1,2", nullptr}, // a decimal comma is no number here
        {"--gamma", "+2", nullptr},
        {"--saturation", "20", "20"},
        {"--border", "12", "12"},
        {"--border", "2.5%", "2.5%"},
        {"--border", "51%", nullptr},
        {"--border", "10001", nullptr},
        {"--border-color", "00ff80", "00FF80"},
        {"--border-color", "red", nullptr},
        {"--border-color", "#00ff80", nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.value);
        const EditOption *o = FindEditOption(row.name);
        ASSERT_NE(o, nullptr);
        Edits e;
        const char *problem = o->parse(row.value, e);
        if (!row.back) {
            EXPECT_NE(problem, nullptr);
            EXPECT_EQ(e, Edits{}); // nothing taken
            continue;
        }
        ASSERT_EQ(problem, nullptr);
        EXPECT_EQ(o->text(e), row.back);
        Edits again;
        EXPECT_TRUE(ReadEditValue(*o, o->text(e), again));
        EXPECT_EQ(again, e);
    }
    // Every step not chosen is stored as nothing, and every stored name is known.
    for (const EditOption &o : EditOptions()) {
        EXPECT_EQ(o.text(Edits{}), "") << o.name;
        EXPECT_NE(FindStoredName(o.key), nullptr) << o.key;
    }
}

TEST(EditOptions, PresetValuesKeepEveryStepAndRefuseBadOnes)
{
    CConvertJob job;
    job.SetResizeFlag(true);
    job.SetResizeType(0);
    job.SetSize(800, 600);
    job.m_edits = Parsed({{"--flip", "v"},
                          {"--crop-margins", "0,0,48,0"},
                          {"--trim-borders", ""},
                          {"--trim-fuzz", "5"},
                          {"--gamma", "0.8"},
                          {"--grayscale", ""},
                          {"--border", "3%"},
                          {"--border-color", "102030"},
                          {"--border-inside", ""}});
    std::string why;
    const StoredValues v = StoredFromJob(job, "", LOGFONT{}, 0, why);
    ASSERT_TRUE(why.empty());
    EXPECT_EQ(v.at("Flip"), "v");
    EXPECT_EQ(v.at("CropMargins"), "0,0,48,0");
    EXPECT_EQ(v.count("Brightness"), 0u); // steps not chosen are not written
    EXPECT_EQ(MakeConvertJob(OptionsFromStored(v), {}).m_edits, job.m_edits);
    EXPECT_EQ(CheckStoredValue("Gamma", "0.8"), StoredFault::None);
    EXPECT_EQ(CheckStoredValue("Gamma", "20"), StoredFault::BadText);
    EXPECT_EQ(CheckStoredValue("TrimBorders", "yes"), StoredFault::BadText);
    // What goes with a step not chosen is dropped, as the window has it.
    StoredValues lone = v;
    lone["m_bResize"] = "0";
    lone["CropRatioFollows"] = "1";
    const Edits e = MakeConvertJob(OptionsFromStored(lone), {}).m_edits;
    EXPECT_FALSE(e.borderInside);
    EXPECT_FALSE(e.cropRatioFollows);
}

TEST(EditSteps, CutRegionsAreClippedToThePicture)
{
    const struct {
        std::vector<std::pair<const char *, const char *>> options;
        EditRegion expected;
    } rows[] = {
        {{}, {0, 0, 400, 300}},
        {{{"--crop", "10,20,100,50"}}, {10, 20, 100, 50}},
        {{{"--crop", "350,250,100,100"}}, {350, 250, 50, 50}},
        {{{"--crop", "500,0,10,10"}}, {400, 0, 0, 10}},
        {{{"--crop-margins", "0,0,48,0"}}, {0, 0, 400, 252}},
        {{{"--crop-margins", "10%,25%,10%,25%"}}, {100, 30, 200, 240}},
        {{{"--crop-margins", "0,300,0,200"}}, {200, 0, 0, 300}},
    };
    for (const auto &row : rows) {
        const EditRegion r = CutRegion(Parsed(row.options), 400, 300);
        EXPECT_EQ(r, row.expected) << r.x << "," << r.y << " " << r.width << "x" << r.height;
    }
}

// Each row runs the steps on a 400 x 300 picture of positions, and checks
// the size, and where the pixel at the top left came from.
TEST(EditSteps, StepsRunInTheirOrderAroundRotationAndResize)
{
    const struct {
        const char *what;
        std::vector<std::pair<const char *, const char *>> options;
        int rotate; // ROTATE_*
        int fitW, fitH; // a fit resize, 0 for none
        int w, h;
        int fromX, fromY; // where the top left pixel was in the source (-1: border)
    } rows[] = {
        {"crop", {{"--crop", "100,50,200,100"}}, ROTATE_NONE, 0, 0, 200, 100, 100, 50},
        {"flip h", {{"--flip", "h"}}, ROTATE_NONE, 0, 0, 400, 300, 399, 0},
        {"flip v", {{"--flip", "v"}}, ROTATE_NONE, 0, 0, 400, 300, 0, 299},
        {"crop, then flip", {{"--crop", "100,50,200,100"}, {"--flip", "hv"}}, ROTATE_NONE, 0, 0, 200, 100, 299, 149},
        // The flip comes before the turn: mirrored, then turned right.
        {"flip, then rotate", {{"--flip", "h"}}, ROTATE_RIGHT, 0, 0, 300, 400, 399, 299},
        {"crop, then resize", {{"--crop", "0,0,200,100"}}, ROTATE_NONE, 100, 100, 100, 50, 0, 0},
        {"border around", {{"--border", "5"}}, ROTATE_NONE, 0, 0, 410, 310, -1, -1},
        {"border after the resize", {{"--border", "10%"}}, ROTATE_NONE, 200, 200, 200 + 30, 150 + 30, -1, -1},
        {"border inside the box", {{"--border", "10"}, {"--border-inside", ""}}, ROTATE_NONE, 200, 200, 200, 155,
         -1, -1},
        {"margins", {{"--crop-margins", "10,0,0,20"}}, ROTATE_NONE, 0, 0, 380, 290, 20, 10},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        CxImage img = Positions(400, 300);
        CConvertJob job;
        job.m_edits = Parsed(row.options);
        job.m_edits.borderColor = RGB(0, 0, 255);
        if (row.rotate != ROTATE_NONE) {
            job.SetRotateFlag(true);
            job.SetRotation(row.rotate);
        }
        if (row.fitW) {
            job.SetResizeFlag(true);
            job.SetResizeType(0);
            job.SetSize(row.fitW, row.fitH);
        }
        const ResizeTarget planned = PlannedOutputSize(job, {}, 400, 300);
        const TransformOutcome t = TransformImage(img, job, {}, 400, 300);
        ASSERT_FALSE(t.failed) << t.reason;
        EXPECT_EQ(img.GetWidth(), row.w);
        EXPECT_EQ(img.GetHeight(), row.h);
        EXPECT_EQ(planned.width, row.w);
        EXPECT_EQ(planned.height, row.h);
        const RGBQUAD c = img.GetPixelColor(0, 0);
        if (row.fromX < 0) {
            EXPECT_EQ(c.rgbBlue, 255);
            continue;
        }
        if (row.fitW)
            continue; // resampled: the crop's size is what tells
        EXPECT_EQ(c.rgbRed, row.fromX * 255 / 399);
        EXPECT_EQ(c.rgbGreen, row.fromY * 255 / 299);
    }
}

TEST(EditSteps, ACropOutsideThePictureIsTheFilesError)
{
    CxImage img = Positions(40, 30);
    CConvertJob job;
    job.m_edits = Parsed({{"--crop", "50,0,10,10"}});
    const TransformOutcome t = TransformImage(img, job, {}, 40, 30);
    EXPECT_TRUE(t.failed);
    EXPECT_NE(t.reason.find("crop"), std::string::npos);
}

// The region is given in the file's pixels: a picture decoded at half its
// size is cut at half the numbers, and ends at the size a full decode does.
TEST(EditSteps, ARegionIsMappedOntoAReducedDecode)
{
    CxImage full = MakeTestImage(800, 600), half = full;
    ASSERT_TRUE(half.Resample(400, 300));
    CConvertJob job;
    job.SetResizeFlag(true);
    job.SetResizeType(1);
    job.SetSize(100, 0);
    job.m_edits = Parsed({{"--crop", "200,100,400,300"}});
    ASSERT_FALSE(TransformImage(full, job, {}, 800, 600).failed);
    ASSERT_FALSE(TransformImage(half, job, {}, 800, 600).failed);
    EXPECT_EQ(full.GetWidth(), 100);
    EXPECT_EQ(full.GetHeight(), 75);
    EXPECT_EQ(half.GetWidth(), 100);
    EXPECT_EQ(half.GetHeight(), 75);
    EXPECT_GT(Psnr(full, half), 30);
}

TEST(EditSteps, TheCropRatioFollowsEachPicturesOrientation)
{
    const struct {
        int w, h;
        bool follows;
        int outW, outH;
    } rows[] = {
        {400, 300, true, 400, 300}, {300, 400, true, 300, 400}, {300, 400, false, 300, 225},
        {300, 300, true, 300, 225}, // a square takes the ratio as given
    };
    for (const auto &row : rows) {
        CConvertJob job;
        job.m_nCropRatioW = 4;
        job.m_nCropRatioH = 3;
        job.m_edits.cropRatioFollows = row.follows;
        CxImage img = Positions(row.w, row.h);
        ASSERT_FALSE(TransformImage(img, job, {}, row.w, row.h).failed);
        EXPECT_EQ(img.GetWidth(), row.outW) << row.w << "x" << row.h;
        EXPECT_EQ(img.GetHeight(), row.outH) << row.w << "x" << row.h;
    }
}

TEST(EditSteps, OnlyAFlipKeepsAJpegOnItsCoefficients)
{
    CConvertJob job;
    EXPECT_FALSE(job.ChangesPixels());
    job.m_edits.flip = FLIP_HORIZONTAL;
    EXPECT_TRUE(job.ChangesPixels());
    EXPECT_FALSE(job.ChangesPixelsBeyondRotation());
    // Mirrored a row at a time where the rows stream; upside down, not.
    EXPECT_TRUE(NeedsNoWholePicture(job));
    job.m_edits.flip = FLIP_BOTH;
    EXPECT_FALSE(NeedsNoWholePicture(job));
    job.m_edits.tone.gamma = 1.5;
    EXPECT_TRUE(job.ChangesPixelsBeyondRotation());
}
