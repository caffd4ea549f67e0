#include "convert/naming.h"
#include "tests/test_support.h"

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
