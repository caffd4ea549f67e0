#include "cxfile.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testsupport;

TEST(CxMemFile, GrowsSeeksAndDetaches)
{
    CxMemFile mem;
    ASSERT_TRUE(mem.Open());
    EXPECT_EQ(mem.Write("abc", 1, 3), 3u);
    ASSERT_TRUE(mem.Seek(10, SEEK_SET));  // gap is zero-filled
    EXPECT_EQ(mem.Write("z", 1, 1), 1u);
    EXPECT_EQ(mem.Size(), 11);
    ASSERT_TRUE(mem.Seek(0, SEEK_SET));
    char buf[16] = {};
    EXPECT_EQ(mem.Read(buf, 1, 16), 11u);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(buf[5], 0);
    EXPECT_EQ(buf[10], 'z');
    std::uint8_t *bytes = mem.GetBuffer(true);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(mem.Size(), 11);  // still tells the length
    EXPECT_EQ(mem.Write("x", 1, 1), 0u);
    CxMemFile::FreeBuffer(bytes);
}

TEST(CxMemFile, ReadOnlyViewNeverReadsPastTheEnd)
{
    const char data[] = "0123456789";
    CxMemFile mem(data, 10);
    char buf[12];
    EXPECT_EQ(mem.Read(buf, 4, 3), 2u);  // two whole items fit
    EXPECT_FALSE(mem.Seek(11, SEEK_SET));
    EXPECT_EQ(mem.Write("x", 1, 1), 0u);
}

TEST(CxIOFile, RefusesFoldersAndPipesForReading)
{
    ScratchDir dir;
    CxIOFile f;
    EXPECT_FALSE(f.Open(dir.Root().c_str(), "rb"));
    const std::string fifo = dir.Path("pipe.jpg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(f.Open(fifo.c_str(), "rb"));  // and returns at once
    EXPECT_FALSE(f.Open(dir.Path("missing.png").c_str(), "rb"));
}

TEST(CxIOFile, ReadAllRespectsTheLimit)
{
    ScratchDir dir;
    const std::string path = dir.Path("f.bin");
    ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(1000, 7)));
    CxIOFile f;
    ASSERT_TRUE(f.Open(path.c_str(), "rb"));
    std::string all;
    EXPECT_FALSE(f.ReadAll(all, 999));
    ASSERT_TRUE(f.Seek(0, SEEK_SET));
    EXPECT_TRUE(f.ReadAll(all, 1000));
    EXPECT_EQ(all.size(), 1000u);
}
