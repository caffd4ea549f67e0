#include "imaging/cxfile.h"
#include "tests/imaging/jpeg_png_tiff_helpers.h"
#include "imaging/mappedfile.h"
#include "imaging/resampledrows.h"
#include "tests/test_support.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

using namespace codectest;
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

// The same writes, seeks back and reads into memory and into a spill file
// of a small threshold: the same bytes, the spill file's on disk in a file
// no folder lists; where no file can be made, in memory.
TEST(CxSpillFile, SpillsPastItsThresholdAndReadsAndSeeksAsMemoryDoes)
{
    ScratchDir dir;
    const struct {
        std::string folder;
        bool spills;
    } rows[] = {{dir.Root(), true}, {dir.Path("missing"), false}, {"", false}};
    for (const auto &row : rows) {
        CxMemFile mem;
        CxSpillFile spill(row.folder, 1000);
        ASSERT_TRUE(mem.Open() && spill.Open());
        for (CxFile *f : {static_cast<CxFile *>(&mem), static_cast<CxFile *>(&spill)}) {
            std::vector<std::uint8_t> block(700);
            for (int i = 0; i < 4; ++i) {
                std::fill(block.begin(), block.end(), std::uint8_t('a' + i));
                ASSERT_EQ(f->Write(block.data(), 1, block.size()), block.size());
            }
            ASSERT_TRUE(f->Seek(10, SEEK_SET));
            ASSERT_EQ(f->Write("HEADER", 1, 6), 6u);
            ASSERT_TRUE(f->Seek(-4, SEEK_END));
            char tail[8] = {};
            EXPECT_EQ(f->Read(tail, 1, 8), 4u);
            EXPECT_TRUE(f->Eof());
            EXPECT_STREQ(tail, "dddd");
            ASSERT_TRUE(f->Seek(0, SEEK_END));
            EXPECT_EQ(f->Tell(), 2800);
        }
        EXPECT_EQ(spill.Spilled(), row.spills) << row.folder;
        EXPECT_EQ(spill.Size(), mem.Size());
        EXPECT_FALSE(spill.Error());
        std::vector<std::uint8_t> got(2800);
        if (row.spills) {
            const int fd = spill.TakeFd();
            EXPECT_EQ(pread(fd, got.data(), got.size(), 0), 2800);
            close(fd);
        } else {
            std::uint8_t *p = spill.TakeBuffer();
            ASSERT_NE(p, nullptr);
            std::memcpy(got.data(), p, got.size());
            CxMemFile::FreeBuffer(p);
        }
        EXPECT_EQ(0, std::memcmp(got.data(), mem.GetBuffer(false), got.size()));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Root()));
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

// A large JPEG is decoded straight from its mapped file; a program that
// truncates it or writes over it meanwhile must cost the picture, never the
// process. The change comes from the sink's size rule, called once the
// headers are read and before the scans are.
TEST(CxIOFile, AJpegChangedWhileDecodedInPlaceIsRefused)
{
    enum Change { None, Truncated, WrittenOver };
    const CxImage src = MakeTexturedImage(1024, 768);
    CxImage baseline = src;
    baseline.SetJpegQuality(95);
    const std::vector<std::vector<std::uint8_t>> files = {
        EncodeBytes(baseline, CXIMAGE_FORMAT_JPG),
        WriteProgressiveJpeg(src, ScanScript::Standard, true, 0, 95)};
    ScratchDir dir;
    const std::string path = dir.Path("photo.jpg");
    for (const auto &bytes : files) {
        ASSERT_GT(bytes.size(), 128u * 1024);
        for (const Change change : {None, Truncated, WrittenOver}) {
            SCOPED_TRACE(testing::Message() << "file of " << bytes.size() << " bytes, change " << change);
            ASSERT_TRUE(WriteFileBytes(path, bytes));
            const auto rule = [&](int w, int h, const CxMetadata &, int &width, int &height) {
                width = w / 2;
                height = h / 2;
                if (change == Truncated) {
                    EXPECT_EQ(truncate(path.c_str(), 2048), 0);
                }
                if (change == WrittenOver) {
                    const int fd = open(path.c_str(), O_WRONLY);
                    const std::vector<std::uint8_t> noise(64 * 1024, 0x5a);
                    EXPECT_EQ(pwrite(fd, noise.data(), noise.size(), off_t(bytes.size() / 2)),
                              ssize_t(noise.size()));
                    close(fd);
                    const utimbuf later = {std::time(nullptr), std::time(nullptr) + 5};
                    EXPECT_EQ(utime(path.c_str(), &later), 0);
                }
                return true;
            };
            ResampledRows rows(rule);
            CxImage loaded;
            const bool ok =
                loaded.LoadRows(path.c_str(), rows) && (loaded.IsValid() || rows.Take(loaded, true));
            EXPECT_EQ(ok, change == None) << loaded.GetLastError();
            if (change != None) {
                EXPECT_STREQ(loaded.GetLastError(), "the file changed while it was read");
                continue;
            }
            ResampledRows again(rule);
            CxImage expected;
            ASSERT_TRUE(expected.DecodeRows(bytes.data(), bytes.size(), again) &&
                        (expected.IsValid() || again.Take(expected, true)));
            EXPECT_EQ(MaxChannelDiff(loaded, expected), 0);
        }
    }
}

// A mapping ends in a zero as a copy in a string does, even where the file
// fills its last page: readers that scan text stop there.
TEST(MappedFile, TheBytesAreFollowedByAZero)
{
    ScratchDir dir;
    const long page = sysconf(_SC_PAGESIZE);
    for (const long size : {page, 3 * page, page + 1, 5L}) {
        SCOPED_TRACE(size);
        const std::string path = dir.Path("f" + std::to_string(size));
        ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(std::size_t(size), 0x41)));
        const int fd = open(path.c_str(), O_RDONLY);
        MappedFile mapped;
        ASSERT_TRUE(mapped.Map(fd));
        ASSERT_EQ(mapped.Size(), std::size_t(size));
        EXPECT_EQ(mapped.Data()[size - 1], 0x41);
        EXPECT_EQ(mapped.Data()[size], 0); // readable: no fault past a whole last page
        EXPECT_EQ(std::strlen(reinterpret_cast<const char *>(mapped.Data())), std::size_t(size));
        EXPECT_FALSE(mapped.Changed());
        mapped.Unmap();
        close(fd);
    }
}

// Only faults in our own mappings are forgiven: any other still ends the process.
TEST(CxIOFileDeathTest, ABusErrorElsewhereStillEndsTheProcess)
{
    ScratchDir dir;
    const std::string path = dir.Path("other.bin");
    ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(256 * 1024, 1)));
    const int fd = open(path.c_str(), O_RDONLY);
    MappedFile ours;
    ASSERT_TRUE(ours.Map(fd)); // the handler is in place
    EXPECT_FALSE(ours.Changed());
    EXPECT_DEATH(
        {
            auto *theirs = static_cast<volatile std::uint8_t *>(
                mmap(nullptr, 256 * 1024, PROT_READ, MAP_PRIVATE, fd, 0));
            if (truncate(path.c_str(), 0) == 0)
                std::printf("%d", theirs[200 * 1024]);
        },
        "");
    close(fd);
}
