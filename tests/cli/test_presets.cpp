#include "cli/batchcommand.h"
#include "convert/storedoptions.h"
#include "settings/presetfile.h"
#include "tests/convert/job_fields.h"
#include "tests/test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>

using namespace testsupport;

namespace {

std::optional<BatchCommand> Parse(const std::vector<std::string> &args, std::string *error = nullptr)
{
    std::string e;
    auto cmd = ParseBatchCommand(args, e, "/w");
    if (error)
        *error = e;
    return cmd;
}

std::vector<std::string> Words(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// A preset written by hand, in the preset folder.
std::string WritePreset(const QString &name, const std::vector<std::pair<std::string, std::string>> &values)
{
    QString why;
    EXPECT_TRUE(WritePresetFile(PresetPath(name), values, why)) << why.toStdString();
    return PresetPath(name).toStdString();
}

int RunBatch(const QStringList &args, QString *err = nullptr, QString *out = nullptr)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(VELMORA_BATCH_EXE, args);
    if (!p.waitForFinished(60000))
        return -1;
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitCode();
}

} // namespace

// Each family of options, saved with --save-preset and taken back with
// --preset, makes the very job the options make.
TEST(Presets, EachOptionFamilyComesBackFromItsPreset)
{
    const std::string logo = DataPath("photo/orient1.png");
    const std::string rows[] = {
        "--resize fit --width 800 --height 600 --sharpen --no-enlarge",
        "--resize long --size 1024",
        "--sizes 320w,768h,1024,800x600 --sharpen --no-enlarge",
        "--resize percent --percent 35",
        "--resize pad --width 640 --height 480 --background 102030 --gravity top --crop-ratio 4:3",
        "--resize fill --width 640 --height 480 --gravity attention --crop-ratio 4:3",
        "--prefix a_ --suffix _b --start 7 --ext-case lower",
        "--prefix keep",
        "--ext-case upper --out /tmp/somewhere", // without renaming too
        "--name {folder}/{n:4} --start 3",
        "--rotate 90 --lossless off",
        "--rotate -90",
        "--stamp ©2026,x --font Serif --font-size 30 --color 00ff80 --stamp-position top-left --stamp-margin "
        "4 "
        "--stamp-opacity 50 --stamp-size 8 --stamp-shadow --logo " +
            logo + " --logo-size 30",
        "--format webp --quality 80 --webp-effort 2 --webp-lossless",
        "--format jpg --jpeg-progressive --jpeg-subsampling 422 --dpi 300",
        "--format tif --tif-compression lzw --png-level 9 --avif-speed 3 --jxl-effort 7",
        "--out /tmp/somewhere --if-larger keep",
        "--strip-location --keep-dates",
        "--strip --date-from-exif --no-autorotate",
        "--set Artist=A|B\\C --set keywords=x;y --set Copyright=©{date:%Y} --set-if-empty --shift-dates -2d3h",
        "--crop-margins 10,5%,0,0 --flip v --gamma 1.4 --saturation -30 --border 3 --border-color 203040",
        "--crop 1,2,30,40 --trim-borders --trim-fuzz 4 --auto-levels --brightness 5 --contrast -5 --grayscale "
        "--sepia",
        "--resize fit --width 800 --height 600 --border 2% --border-inside --crop-ratio 4:3 --crop-ratio-follows",
        // The document a run is combined into is not kept.
        "--format pdf --page-size a4 --page-margin 12 --dpi 150 --combine /tmp/all.pdf",
    };
    for (const std::string &row : rows) {
        std::vector<std::string> args = Words(row);
        std::vector<std::string> withFile = args;
        withFile.push_back("a.png");
        const auto direct = Parse(withFile);
        ASSERT_TRUE(direct) << row;
        args.insert(args.begin(), {"--save-preset", "family"});
        std::string error;
        const auto saved = Parse(args, &error);
        ASSERT_TRUE(saved && saved->saveOnly) << row << ": " << error;
        std::vector<std::pair<std::string, std::string>> values(saved->presetValues.begin(),
                                                                saved->presetValues.end());
        WritePreset("family", values);
        const auto back = Parse({"--preset", "family", "a.png"}, &error);
        ASSERT_TRUE(back) << row << ": " << error;
        EXPECT_EQ(JobFields(back->job), JobFields(direct->job)) << row;
        EXPECT_TRUE(back->combine.empty()) << row;
    }
    std::string error;
    EXPECT_FALSE(Parse({"--save-preset", "x", "--rotate", "90", "--lossless", "trim"}, &error));
    EXPECT_NE(error.find("--lossless trim"), std::string::npos) << error;
}

// A stored gravity no version has is the centre; the last two are kept.
TEST(Presets, StoredGravityIsReadWithinItsBounds)
{
    for (const auto &[stored, read] : {std::pair{"9", GRAVITY_ATTENTION}, {"10", GRAVITY_ENTROPY},
                                       {"11", GRAVITY_CENTER}, {"-1", GRAVITY_CENTER}})
        EXPECT_EQ(OptionsFromStored({{"Gravity", stored}}).m_nGravity, read) << stored;
    EXPECT_EQ(CheckStoredValue("Gravity", "10"), StoredFault::None);
    EXPECT_EQ(CheckStoredValue("Gravity", "11"), StoredFault::OutOfRange);
}

// AVIF's speed is avifenc's 6 where nothing is stored; a stored speed, from
// an earlier version's settings or a preset, keeps its value.
TEST(Presets, AvifSpeedDefaultsOnlyWhereNothingIsStored)
{
    EXPECT_EQ(OptionsFromStored({}).m_encoder.m_nAvifSpeed, 6);
    EXPECT_EQ(OptionsFromStored({{"AvifSpeed", "8"}}).m_encoder.m_nAvifSpeed, 8);
    EXPECT_EQ(Parse({"a.png"})->job.m_encoder.m_nAvifSpeed, 6);
}

// A stored page list is checked as --pages checks it; one that is not a
// list takes every page.
TEST(Presets, StoredPagesAreReadAsPagesReadsThem)
{
    for (const auto &[stored, fault, kept] :
         {std::tuple{"1-3,7", StoredFault::None, "1-3,7"}, {"5-", StoredFault::None, "5-"},
          {"", StoredFault::None, ""}, {"3-1", StoredFault::BadText, ""}, {"0", StoredFault::BadText, ""},
          {"1;rm", StoredFault::BadText, ""}}) {
        EXPECT_EQ(CheckStoredValue("Pages", stored), fault) << stored;
        EXPECT_EQ(MakeConvertJob(OptionsFromStored({{"Pages", stored}}), {}).m_szPages, kept) << stored;
    }
    const auto saved = Parse({"--save-preset", "x", "--pages", "2-"});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->presetValues.at("Pages"), "2-");
}

// Options after --preset change it; those before it are replaced by it.
TEST(Presets, LaterOptionsWinAndEarlierOnesGiveWay)
{
    const std::string path = WritePreset("order", {{"m_bResize", "1"},
                                                   {"m_nResizeType", "0"},
                                                   {"m_nWidth", "800"},
                                                   {"m_nHeight", "600"},
                                                   {"m_bSharpen", "1"},
                                                   {"RenameStart", "5"},
                                                   {"m_bRename", "1"},
                                                   {"NameTemplateOn", "1"},
                                                   {"NameTemplate", "{name}-{n}"},
                                                   {"Output Quality", "80"},
                                                   {"KeepDates", "1"},
                                                   {"OutDir", "out"}});
    WritePreset("several",
                {{"m_bResize", "1"}, {"m_nResizeType", "9"}, {"Sizes", "320w,640w"}, {"m_bSharpen", "1"}});
    WritePreset("nolist",
                {{"m_bResize", "1"}, {"m_nResizeType", "9"}, {"m_nWidth", "50"}, {"m_nHeight", "40"}});
    const struct {
        std::string args;
        std::function<bool(const CConvertJob &)> holds;
    } rows[] = {
        {"--quality 50 --preset order", [](auto &j) { return j.m_nQuality == 80; }},
        {"--preset order --quality 50", [](auto &j) { return j.m_nQuality == 50; }},
        {"--preset order --width 1000",
         [](auto &j) {
             return j.m_bResize && j.m_nWidth == 1000 && j.m_nHeight == 600 && j.m_nResizeType == 0;
         }},
        {"--preset order --resize long --size 300",
         [](auto &j) { return j.m_nResizeType == RESIZE_LONG_EDGE && j.m_nEdgeSize == 300 && j.m_bSharpen; }},
        {"--preset order --name {n}", [](auto &j) { return j.m_szNameTemplate == "{n}" && j.m_nStartNumber == 5; }},
        {"--preset order --prefix p_",
         [](auto &j) { return j.m_szNameTemplate.empty() && j.m_szRenamePrefix == "p_"; }},
        {"--preset order",
         [](auto &j) { return j.m_szNameTemplate == "{name}-{n}" && j.m_nStartNumber == 5; }},
        {"--preset order --date-from-exif", [](auto &j) { return j.m_nOutputDate == OUTDATE_EXIF; }},
        {"--preset order",
         [](auto &j) { return j.m_nOutputDate == OUTDATE_SOURCE && j.m_szOutDir == "/w/out"; }},
        {"--resize long --size 5 --strip --preset order",
         [](auto &j) { return j.m_nResizeType == 0 && !j.m_bStripMetadata; }},
        {"--overwrite skip --preset order", [](auto &j) { return j.m_nOverwrite == OVERWRITE_SKIP; }},
        {"--preset several",
         [](auto &j) {
             return j.m_sizes.size() == 2 && j.m_nResizeType == 1 && j.m_nWidth == 320 && j.m_bSharpen;
         }},
        {"--preset several --resize long --size 300",
         [](auto &j) { return j.m_sizes.empty() && j.m_nResizeType == RESIZE_LONG_EDGE && j.m_bSharpen; }},
        {"--preset order --prefix p_ --sizes 100h",
         [](auto &j) {
             return j.m_sizes.size() == 1 && j.m_nResizeType == 2 && j.m_nHeight == 100 && j.m_bSharpen;
         }},
        // The window's entry without its list: the first rule.
        {"--preset nolist",
         [](auto &j) { return j.m_sizes.empty() && j.m_nResizeType == 0 && j.m_nWidth == 50; }},
        {"--preset " + path + " --out /x",
         [](auto &j) { return j.m_nQuality == 80 && j.m_szOutDir == "/x"; }},
    };
    for (const auto &row : rows) {
        std::vector<std::string> args = Words(row.args);
        args.push_back("a.png");
        std::string error;
        const auto cmd = Parse(args, &error);
        ASSERT_TRUE(cmd) << row.args << ": " << error;
        EXPECT_TRUE(row.holds(cmd->job)) << row.args;
    }
}

// A damaged preset stops velmora-batch before anything is made, naming the
// file and the line.
TEST(Presets, DamagedPresetsAreUsageErrorsAtTheirLine)
{
    ScratchDir dir;
    const std::string photo = DataPath("photo/orient6.jpg");
    const struct {
        const char *text; // the file; nullptr: none there
        const char *said;
    } rows[] = {
        {"[Settings2]\nm_nWidth=800\nm_bColour=1\n", ":3: unknown name m_bColour"},
        {"[Settings2]\nOutput%20Quality=101\n", ":2: Output Quality takes a number from 0 to 100"},
        {"[Settings2]\n\nm_nHeight=six\n", ":3: m_nHeight takes a number"},
        {"[Settings2]\nJpegSubsampling=411\n", ":2: JpegSubsampling takes 0, 444, 422 or 420"},
        {"[General]\nm_nWidth=1\n", ":1: a preset holds only"},
        {"[Settings2]\nm_nWidth\n", ":2: not a NAME=VALUE line"},
        {"[Settings2]\nm_nWidth=1\nm_nWidth=2\n", ":3: m_nWidth is given twice"},
        {"[Settings2]\nm_bColour=1\nm_nWidth\n", ":2: unknown name m_bColour"}, // the first fault
        // Names a hand can write that would put outputs outside their folder.
        {"[Settings2]\nm_bRename=1\nRenamePrefix=../../out_\n", ":3: RenamePrefix: "},
        {"[Settings2]\nRenameSuffix=a/b\n", ":2: RenameSuffix: "},
        {"[Settings2]\nNameTemplateOn=1\nNameTemplate=/etc/{name}\n", ":3: NameTemplate: "},
        {"[Settings2]\nm_nResizeType=9\nSizes=320w,320w\n", ":3: Sizes: 320w is given twice"},
        {"[Settings2]\nm_nResizeType=10\n", ":2: m_nResizeType takes a number from -1 to 9"},
        {"[Settings2]\nPageSize=a5\n", ":2: PageSize: a5: image, a4 or letter"},
        {"[Settings2]\nPageMargin=101\n", ":2: PageMargin takes a number from 0 to 100"},
        {"[Settings2]\nm_bStamp=1\nLogoFile=/nowhere/logo.png\n",
         ":3: cannot read the logo /nowhere/logo.png"},
        {nullptr, ": cannot read the preset"},
    };
    int n = 0;
    for (const auto &row : rows) {
        const std::string file = dir.Path("bad" + std::to_string(++n) + ".ini");
        if (row.text) {
            ASSERT_TRUE(
                WriteFileBytes(file, std::vector<std::uint8_t>(row.text, row.text + strlen(row.text))));
        }
        const std::string out = dir.Path("out" + std::to_string(n));
        QString err;
        EXPECT_EQ(RunBatch({"--preset", QString::fromStdString(file), "--out", QString::fromStdString(out),
                            QString::fromStdString(photo)},
                           &err),
                  2)
            << row.said;
        EXPECT_TRUE(err.contains(QString::fromStdString(file + row.said))) << err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(out))) << row.said;
    }
    // A file larger than any preset is refused unread, however harmless.
    const std::string big = dir.Path("big.ini"), out = dir.Path("big-out");
    ASSERT_TRUE(WriteFileBytes(big, std::vector<std::uint8_t>(std::size_t(kMaxPresetBytes) + 1, ';')));
    QString err;
    EXPECT_EQ(RunBatch({"--preset", QString::fromStdString(big), "--out", QString::fromStdString(out),
                        QString::fromStdString(photo)},
                       &err),
              2);
    EXPECT_TRUE(err.contains(QString::fromStdString(big + ": the preset is larger than 1 MB")))
        << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(out)));
    EXPECT_EQ(RunBatch({"--preset", ".hidden", QString::fromStdString(photo)}, &err), 2);
    EXPECT_TRUE(err.contains("'.hidden' is no preset name")) << err.toStdString();
    EXPECT_EQ(RunBatch({"--save-preset", "a\tb"}, &err), 2);
    for (const char *name : {"", "a/b", ".x"}) {
        std::string error;
        EXPECT_FALSE(Parse({"--save-preset", name}, &error)) << name;
        EXPECT_NE(error.find("is no preset name"), std::string::npos) << error;
    }
}

// --save-preset alone only saves; --list-presets names them sorted; a run
// from the preset writes what the options write.
TEST(Presets, SavedListedAndRunLikeTheirOptions)
{
    ScratchDir dir;
    const QString photo = QString::fromStdString(DataPath("photo/orient6.jpg"));
    const QStringList options = {"--resize",        "fit",  "--width", "80", "--height",         "60",
                                 "--format",        "webp", "--stamp", "V",  "--stamp-position", "top-left",
                                 "--stamp-opacity", "50"};
    QString out;
    ASSERT_EQ(RunBatch(QStringList{"--save-preset", "zeta"} + options), 0);
    ASSERT_EQ(RunBatch(QStringList{"--save-preset", "Alpha"} + options), 0);
    ASSERT_EQ(RunBatch({"--list-presets"}, nullptr, &out), 0);
    EXPECT_TRUE(out.contains("Alpha\n") && out.indexOf("Alpha\n") < out.indexOf("zeta\n"))
        << out.toStdString();
    const QString a = QString::fromStdString(dir.Path("a")), b = QString::fromStdString(dir.Path("b"));
    ASSERT_EQ(RunBatch(options + QStringList{"--out", a, photo}), 0);
    ASSERT_EQ(RunBatch({"--preset", "zeta", "--out", b, photo}), 0);
    const std::string name = "/orient6.WEBP";
    const auto written = ReadFileBytes(a.toStdString() + name);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(ReadFileBytes(b.toStdString() + name), written);
}
