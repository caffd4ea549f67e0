#include "convert/filepreparer.h"
#include "convert/naming.h"
#include "convert/outputdates.h"
#include "convert/outputsizes.h"
#include "tests/test_support.h"

#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

CConvertJob Job(const std::string &outDir, const std::string &format)
{
    CConvertJob job;
    job.SetOutputFolder(outDir);
    job.SetFormat(format);
    return job;
}

void Touch(const std::string &path)
{
    ASSERT_TRUE(WriteFileBytes(path, {0}));
}

}  // namespace

TEST(MakeOutputPath, FolderFormatAndExtension)
{
    CConvertJob job = Job("/out", "JPG");
    OutputName o = MakeOutputPath(job, "/pics/a.bmp", 1, 1);
    EXPECT_EQ(o.path, "/out/a.JPG");
    EXPECT_EQ(o.type, 3u);
    // Same format: the source's own extension and type stay.
    o = MakeOutputPath(job, "/pics/a.jpg", 3, 1);
    EXPECT_EQ(o.path, "/out/a.jpg");
    EXPECT_EQ(o.type, 3u);
    o = MakeOutputPath(job, "/pics/b.jpeg", 3, 1);
    EXPECT_EQ(o.path, "/out/b.JPG");

    // A folder already ending in "/" gets no second one.
    job = Job("/", "PNG");
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 1).path, "/a.PNG");

    // Nothing chosen: the source itself.
    job = Job("", "");
    o = MakeOutputPath(job, "/pics/a.bmp", 1, 1);
    EXPECT_EQ(o.path, "/pics/a.bmp");
    EXPECT_EQ(o.type, 1u);

    // "\" is an ordinary character, and a dot in a folder is not an extension.
    job = Job("/out", "PNG");
    EXPECT_EQ(MakeOutputPath(job, "/pics/a\\b.bmp", 1, 1).path, "/out/a\\b.PNG");
    job = Job("", "PNG");
    EXPECT_EQ(MakeOutputPath(job, "/my.pics/photo", 0, 1).path, "/my.pics/photo.PNG");
}

TEST(MakeOutputPath, RenamingWithRunningNumbers)
{
    CConvertJob job = Job("", "");
    job.SetRenameFlag(true);
    job.SetPrefix("p_");
    job.SetSuffix("_s");
    job.SetStartNumber(7);
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 12).path, "/pics/p_007_s.bmp");
    EXPECT_EQ(MakeOutputPath(job, "/pics/b.bmp", 1, 12).path, "/pics/p_008_s.bmp");
    EXPECT_EQ(job.m_nStartNumber, 9);

    job.SetStartNumber(7);
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 1200).path, "/pics/p_0007_s.bmp");
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 10000).path, "/pics/p_00008_s.bmp");
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 100000).path, "/pics/p_000009_s.bmp");

    // Start number 0 keeps the base name, with prefix and suffix.
    job = Job("", "");
    job.SetRenameFlag(true);
    job.SetPrefix("x");
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 1).path, "/pics/xa.bmp");
    EXPECT_EQ(job.m_nStartNumber, 0);
}

TEST(MakeUniqueName, ContinuesTheNumbering)
{
    ScratchDir dir;
    const std::string a = dir.Path("a.JPG");
    Touch(dir.Path("a_001.JPG"));
    Touch(dir.Path("a_002.JPG"));
    EXPECT_EQ(MakeUniqueName(a), dir.Path("a_003.JPG"));
    EXPECT_EQ(MakeUniqueName(dir.Path("a_041.JPG")), dir.Path("a_042.JPG"));
    EXPECT_EQ(MakeUniqueName(dir.Path("a_1234.JPG")), dir.Path("a_1234_001.JPG"));
    EXPECT_EQ(MakeUniqueName(dir.Path("b_999.png")), dir.Path("b_1000.png"));
    Touch(dir.Path("c_1000.png"));
    EXPECT_EQ(MakeUniqueName(dir.Path("c_999.png")), dir.Path("c_1001.png"));
    // Only the file name is looked at.
    ASSERT_EQ(mkdir(dir.Path("x.d_123").c_str(), 0755), 0);
    EXPECT_EQ(MakeUniqueName(dir.Path("x.d_123/file")), dir.Path("x.d_123/file_001"));
    EXPECT_EQ(MakeUniqueName(dir.Path("x.d_123/_123")), dir.Path("x.d_123/_124"));
}

TEST(FileExists, SeesEveryKindOfEntry)
{
    ScratchDir dir;
    EXPECT_FALSE(FileExists(dir.Path("none")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FileExists(dir.Root()));
    ASSERT_EQ(symlink(dir.Path("nowhere").c_str(), dir.Path("dangling").c_str()), 0);
    EXPECT_TRUE(FileExists(dir.Path("dangling")));
}

TEST(CopyFileAtomically, CopiesOrFailsWithoutLeavingParts)
{
    ScratchDir dir;
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5};
    ASSERT_TRUE(WriteFileBytes(dir.Path("src.png"), bytes));
    EXPECT_TRUE(CopyFileAtomically(dir.Path("src.png"), dir.Path("dst.png")));
    EXPECT_EQ(ReadFileBytes(dir.Path("dst.png")), bytes);
    EXPECT_FALSE(CopyFileAtomically(dir.Path("missing.png"), dir.Path("x.png")));
    EXPECT_FALSE(CopyFileAtomically(dir.Path("src.png"), dir.Path("src.png/x.png")));
    EXPECT_FALSE(FileExists(dir.Path("x.png")));
}

TEST(OverwriteQuestion, NamesTheFileByteForByte)
{
    EXPECT_EQ(OverwriteQuestion("/out/a.JPG"), "文件 \"/out/a.JPG\" 已存在!\r\n\r\n请选择你想要的设置。");
    // A "%" in the name is the name's own, and a name need not be UTF-8.
    EXPECT_EQ(OverwriteQuestion("/out/100%2 \xff.JPG", "\n"), "文件 \"/out/100%2 \xff.JPG\" 已存在!\n\n请选择你想要的设置。");
}

TEST(MakeOutputPath, NameTemplateTokensAndExtensionCase)
{
    ScratchDir dir;
    // meta.jpg was taken 2024:05:06 07:08:09; plain.png has no EXIF and
    // takes its file's time.
    const std::string photo = dir.Path("pics/meta.jpg"), plain = dir.Path("pics/plain.png");
    ASSERT_EQ(mkdir(dir.Path("pics").c_str(), 0777), 0);
    ASSERT_TRUE(WriteFileBytes(photo, ReadFileBytes(DataPath("photo/meta.jpg"))));
    ASSERT_TRUE(WriteFileBytes(plain, {0}));
    std::tm when{};
    when.tm_year = 2001 - 1900;
    when.tm_mon = 1;
    when.tm_mday = 3;
    when.tm_hour = 12;
    when.tm_isdst = -1;
    const FileTime times[2] = {{0, UTIME_OMIT}, {std::mktime(&when), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, plain.c_str(), times, 0), 0);
    struct Row {
        const char *source, *name, *format;
        std::int32_t start, extCase;
        const char *expected; // below /out
    };
    const Row rows[] = {
        {"meta.jpg", "{name}", "", 1, EXTCASE_AUTO, "meta.jpg"},
        {"meta.jpg", "{n}-{name}", "", 7, EXTCASE_AUTO, "007-meta.jpg"},
        {"meta.jpg", "x{n:1}_{n:5}", "", 42, EXTCASE_AUTO, "x42_00042.jpg"},
        {"meta.jpg", "{date}", "PNG", 1, EXTCASE_AUTO, "2024-05-06.PNG"},
        {"meta.jpg", "{date:%Y%m%d_%H%M%S}", "PNG", 1, EXTCASE_LOWER, "20240506_070809.png"},
        {"plain.png", "{date:%Y/%m}/{name}", "JPG", 1, EXTCASE_AUTO, "2001/02/plain.JPG"},
        {"meta.jpg", "{w}x{h}", "", 1, EXTCASE_UPPER, "640x480.JPG"},
        {"meta.jpg", "{folder}/{name}", "", 1, EXTCASE_AUTO, "pics/meta.jpg"},
        {"meta.jpg", "{{name}", "", 1, EXTCASE_AUTO, ""}, // refused before
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        CConvertJob job = Job("/out", r.format);
        job.SetRenameFlag(true);
        job.m_szNameTemplate = r.name;
        job.SetStartNumber(r.start);
        job.m_nExtCase = r.extCase;
        if (!*r.expected) {
            EXPECT_NE(NameTemplateProblem(r.name), "");
            continue;
        }
        EXPECT_EQ(NameTemplateProblem(r.name), "");
        const OutputName o =
            MakeOutputPath(job, dir.Path(std::string("pics/") + r.source), 3, 2, {}, NameFacts{640, 480});
        EXPECT_EQ(o.path, std::string("/out/") + r.expected);
        EXPECT_EQ(o.problem, "");
        EXPECT_EQ(job.m_nStartNumber, r.start + 1);
        // Names known before decoding unless they tell the size or number in turn.
        EXPECT_EQ(NameKnownBeforeDecoding(job),
                  !std::strstr(r.name, "{w}") && !std::strstr(r.name, "{n}") && !std::strstr(r.name, "{n:"));
    }
    // Without a template the extension's case still follows the choice.
    CConvertJob job = Job("/out", "PNG");
    job.m_nExtCase = EXTCASE_LOWER;
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.BMP", 1, 1).path, "/out/a.png");
    job = Job("/out", "");
    job.m_nExtCase = EXTCASE_UPPER;
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 1).path, "/out/a.BMP");
    // A name left empty by its tokens is that file's problem.
    job = Job("/out", "");
    job.SetRenameFlag(true);
    job.m_szNameTemplate = "{name}";
    EXPECT_NE(MakeOutputPath(job, "/pics/.jpg", 3, 1).problem, "");
    // So is a control character a date gives, which the template's text may not hold.
    for (const char *name : {"{date:%n}", "{date:%Y%t%m}/{name}", "{date:%Y}/{date:%n}/{name}"}) {
        SCOPED_TRACE(name);
        job.m_szNameTemplate = name;
        EXPECT_EQ(NameTemplateProblem(name), "");
        EXPECT_NE(MakeOutputPath(job, photo, 3, 1).problem.find("control character"), std::string::npos);
    }
}

// The watermark takes the name template's tokens for each file of the list;
// what is not a token is drawn as written, and the run draws that text.
TEST(StampTextFor, FillsTheTokensForEachFile)
{
    ScratchDir dir;
    const std::string photo = dir.Path("pics/meta.jpg"); // taken 2024:05:06 07:08:09
    ASSERT_EQ(mkdir(dir.Path("pics").c_str(), 0777), 0);
    ASSERT_TRUE(WriteFileBytes(photo, ReadFileBytes(DataPath("photo/meta.jpg"))));
    struct Row {
        const char *text;
        bool rename;
        std::int32_t start;
        int index; // meta.jpg is the list's second file
        const char *expected;
    };
    const Row rows[] = {
        {"(c) {name} {date}", false, 0, 1, "(c) meta 2024-05-06"},
        {"#{n} of {folder}", false, 0, 1, "#002 of pics"},
        {"#{n:1}", true, 10, 1, "#11"},
        {"{date:%H:%M} {w}x{h}", false, 0, 1, "07:08 {w}x{h}"},
        {"{nme} {n:0} {} {name", false, 0, 1, "{nme} {n:0} {} {name"},
        {"no tokens", false, 0, 1, "no tokens"},
        {"{name}", false, 0, 5, "{name}"}, // no such file
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        CConvertJob job = Job(dir.Path("out"), "");
        job.SetFileCount(2);
        job.SetFile(0, dir.Path("pics/other.jpg"));
        job.SetFile(1, photo);
        job.SetRenameFlag(r.rename);
        job.SetStartNumber(r.start);
        job.m_bStamp = true;
        job.m_szStampText = r.text;
        EXPECT_EQ(StampTextFor(job, r.index), r.expected);
    }
    // A run draws each file's own text, as if it had been typed.
    const auto bytes = [&](const char *text) {
        CConvertJob job = Job(dir.Path("out"), "PNG");
        job.SetFileCount(1);
        job.SetFile(0, photo);
        job.SetStampFlag(true);
        job.SetStamp(text, nullptr, 0xffffff);
        CxImage image;
        const PreparedFile r = PrepareFile(job, 0, image, {});
        EXPECT_EQ(r.kind, PreparedFile::Kind::Encoded);
        return std::vector<std::uint8_t>(r.bytes.data.get(), r.bytes.data.get() + r.bytes.size);
    };
    EXPECT_EQ(bytes("{name} {date}"), bytes("meta 2024-05-06"));
    EXPECT_NE(bytes("{name} {date}"), bytes("{name} {date:x}"));
}

TEST(NameTemplateProblem, RefusesTemplatesOnTheirOwnText)
{
    for (const char *bad : {"", "/abs/{name}", "../{name}", "a/../b", "a//b", "a/", "./{name}", "x\x01y",
                            "{nme}", "{name", "{n:0}", "{n:12}", "{w:3}", "{date:}", "{}"}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(NameTemplateProblem(bad), "");
    }
    for (const char *good : {"{name}", "a.b/{n:4}_{date:%Y-%m}", "..x{name}", "{folder}{w}{h}}"})
        EXPECT_EQ(NameTemplateProblem(good), "") << good;
}

TEST(MakeFoldersBelow, MakesEachFolderButNeverGoesThroughALink)
{
    ScratchDir dir;
    std::string error;
    EXPECT_TRUE(MakeFoldersBelow(dir.Root(), "a/b/c", error)) << error;
    struct stat st;
    EXPECT_EQ(stat(dir.Path("a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(MakeFoldersBelow(dir.Root(), "a/b", error)); // already there
    ASSERT_EQ(symlink(dir.Path("a").c_str(), dir.Path("link").c_str()), 0);
    EXPECT_FALSE(MakeFoldersBelow(dir.Root(), "link/d", error));
    EXPECT_NE(stat(dir.Path("a/d").c_str(), &st), 0);
    Touch(dir.Path("file"));
    EXPECT_FALSE(MakeFoldersBelow(dir.Root(), "file/d", error));
}

TEST(SizeList, FormsTagsAndRefusals)
{
    using K = OutputSize::Kind;
    const struct {
        const char *text;
        std::vector<OutputSize> sizes;
        const char *tags; // each size's tag, comma-separated
    } good[] = {
        {"320w", {{K::Width, 320, 0}}, "320w"},
        {"320w, 768h ,1024,800x600",
         {{K::Width, 320, 0}, {K::Height, 0, 768}, {K::LongEdge, 1024, 0}, {K::Box, 800, 600}},
         "320w,768h,1024px,800x600"},
        {"2147483647", {{K::LongEdge, 2147483647, 0}}, "2147483647px"},
        {"320w,320h,320,320x320",
         {{K::Width, 320, 0}, {K::Height, 0, 320}, {K::LongEdge, 320, 0}, {K::Box, 320, 320}},
         "320w,320h,320px,320x320"},
    };
    for (const auto &row : good) {
        SCOPED_TRACE(row.text);
        std::vector<OutputSize> sizes;
        std::string problem;
        ASSERT_TRUE(ParseSizeList(row.text, sizes, problem)) << problem;
        EXPECT_EQ(sizes, row.sizes);
        std::string tags;
        for (const OutputSize &s : sizes)
            tags += (tags.empty() ? "" : ",") + SizeTag(s);
        EXPECT_EQ(tags, row.tags);
        // What is written back reads as the same list.
        std::vector<OutputSize> again;
        ASSERT_TRUE(ParseSizeList(SizeListText(sizes), again, problem));
        EXPECT_EQ(again, sizes);
    }
    std::string seventeen;
    for (int i = 1; i <= 17; ++i)
        seventeen += std::to_string(i) + "w,";
    seventeen.pop_back();
    for (const std::string &bad :
         {std::string(), std::string("0"), std::string("0w"), std::string("-5w"), std::string("320w,,640w"),
          std::string("320w,"), std::string("320W"), std::string("320px"), std::string("800x"),
          std::string("x600"), std::string("800x600x2"), std::string("2147483648"),
          std::string("99999999999w"), std::string("320w,320w"), std::string("640,0640"), std::string("abc"),
          seventeen}) {
        SCOPED_TRACE(bad);
        std::vector<OutputSize> sizes{{K::Width, 1, 0}};
        std::string problem;
        EXPECT_FALSE(ParseSizeList(bad, sizes, problem));
        EXPECT_FALSE(problem.empty());
        EXPECT_EQ(sizes.size(), 1u); // left alone
    }
}

TEST(MakeOutputPath, EachSizeIsNamedAfterTheRenamedBase)
{
    const struct {
        bool rename;
        const char *prefix, *suffix, *nameTemplate;
        const char *expected;
    } rows[] = {
        {false, "", "", "", "/out/a_800x600.PNG"},
        {true, "p_", "_s", "", "/out/p_a_s_800x600.PNG"},
        {true, "", "", "{size}/{name}", "/out/800x600/a.PNG"},
        // The window and velmora-batch refuse a template without {size};
        // the name still never clashes.
        {true, "", "", "{name}", "/out/a_800x600.PNG"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.expected);
        CConvertJob job = Job("/out", "PNG");
        job.SetRenameFlag(row.rename);
        job.SetPrefix(row.prefix);
        job.SetSuffix(row.suffix);
        job.m_szNameTemplate = row.nameTemplate;
        job.SetFileCount(1);
        job.SetFile(0, "/pics/a.bmp");
        SetSizes(job, {{OutputSize::Kind::Width, 320, 0}, {OutputSize::Kind::Box, 800, 600}});
        CConvertJob sized = job.ForSize(1);
        EXPECT_EQ(MakeOutputPath(sized, "/pics/a.bmp", 1, 1).path, row.expected);
        EXPECT_EQ(PlannedOutputPath(job.ForSize(1), 0, 1).path, row.expected);
    }
    // Beside the source with nothing else chosen, a size still names its own file.
    CConvertJob job = Job("", "");
    SetSizes(job, {{OutputSize::Kind::LongEdge, 1024, 0}});
    CConvertJob sized = job.ForSize(0);
    EXPECT_EQ(MakeOutputPath(sized, "/pics/a.bmp", 1, 1).path, "/pics/a_1024px.bmp");
    // Without sizes {size} is empty; a watermark draws it as written.
    job = Job("/out", "");
    job.SetRenameFlag(true);
    job.m_szNameTemplate = "{name}{size}";
    EXPECT_EQ(MakeOutputPath(job, "/pics/a.bmp", 1, 1).path, "/out/a.bmp");
    EXPECT_TRUE(NameTemplateTellsSize("{name}_{size}"));
    EXPECT_FALSE(NameTemplateTellsSize("{name}_{w}"));
    job.SetFileCount(1);
    job.SetFile(0, "/pics/a.bmp");
    job.m_szStampText = "{name} {size}";
    EXPECT_EQ(StampTextFor(job, 0), "a {size}");
}
