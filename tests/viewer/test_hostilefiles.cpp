// Tiny files that declare huge pictures: on every path that decodes them
// (load, thumbnail, animated conversion, preview, the animated picture
// control) they must be refused or decode small, within 64 MB of memory.
#include "convert/animation.h"
#include "controls/animatedpicture.h"
#include "imaging/cxanimation.h"
#include "tests/test_support.h"
#include "imaging/thumbnail.h"
#include "imaging/codecs/codecs.h"
#include "viewer/picturework.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <cerrno>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_NO_AS_CAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_NO_AS_CAP 1
#endif
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16le(Bytes &b, unsigned v)
{
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void Put32le(Bytes &b, std::uint32_t v)
{
    Put16le(b, v & 0xFFFF);
    Put16le(b, v >> 16);
}
void Put32be(Bytes &b, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(std::uint8_t(v >> s));
}
void Append(Bytes &b, std::initializer_list<int> bytes)
{
    for (int v : bytes)
        b.push_back(std::uint8_t(v));
}

void PngChunk(Bytes &b, const char *type, const Bytes &data, std::uint32_t length)
{
    Put32be(b, length);
    const std::size_t start = b.size();
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    Put32be(b, std::uint32_t(crc32(0, b.data() + start, uInt(b.size() - start))));
}

// A 1 x 1 grey PNG whose next chunk claims length bytes the file lacks.
Bytes PngWithChunk(const char *type, std::uint32_t length)
{
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    Put32be(ihdr, 1);
    Put32be(ihdr, 1);
    Append(ihdr, {8, 0, 0, 0, 0});
    PngChunk(b, "IHDR", ihdr, 13);
    PngChunk(b, type, {'k', 0, 'v'}, length);
    return b;
}

// GIF89a with a screen of sw x sh and 1 x 1 frames at the given places.
Bytes GifWithFrames(int sw, int sh, const std::vector<std::pair<int, int>> &at, int frameW = 1,
                    int frameH = 1)
{
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    Put16le(b, unsigned(sw));
    Put16le(b, unsigned(sh));
    Append(b, {0x80, 0, 0, 0, 0, 0, 255, 255, 255}); // two-entry global table
    for (const auto &[x, y] : at) {
        b.push_back(',');
        Put16le(b, unsigned(x));
        Put16le(b, unsigned(y));
        Put16le(b, unsigned(frameW));
        Put16le(b, unsigned(frameH));
        Append(b, {0, 2, 2, 0x44, 0x01, 0}); // clear, index 0, end
    }
    b.push_back(';');
    return b;
}

Bytes Bmp(int width, int height, int bpp, int compression, const Bytes &data)
{
    Bytes b = {'B', 'M'};
    Put32le(b, std::uint32_t(54 + data.size()));
    Put32le(b, 0);
    Put32le(b, bpp <= 8 ? 54 + 4 * (1 << bpp) : 54);
    Put32le(b, 40);
    Put32le(b, std::uint32_t(width));
    Put32le(b, std::uint32_t(height));
    Put16le(b, 1);
    Put16le(b, unsigned(bpp));
    Put32le(b, std::uint32_t(compression));
    for (int i = 0; i < 5; ++i)
        Put32le(b, 0);
    for (int i = 0; bpp <= 8 && i < (1 << bpp); ++i)
        Put32le(b, i ? 0xFFFFFF : 0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes Pcx(int width, int height)
{
    Bytes b(128, 0);
    b[0] = 0x0A;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    b[8] = std::uint8_t(width - 1);
    b[9] = std::uint8_t((width - 1) >> 8);
    b[10] = std::uint8_t(height - 1);
    b[11] = std::uint8_t((height - 1) >> 8);
    b[65] = 3;
    b[66] = std::uint8_t(width);
    b[67] = std::uint8_t(width >> 8);
    Append(b, {0xC1, 0});
    return b;
}

// One strip of a few bytes under a bilevel or RGB page of the given size.
Bytes Tiff(std::uint32_t width, std::uint32_t height, int compression, int spp)
{
    Bytes b = {'I', 'I', 42, 0};
    Put32le(b, 8);
    struct Entry {
        int tag, type;
        std::uint32_t value;
    };
    const int bps = spp == 1 ? 1 : 8;
    const std::vector<Entry> entries = {{256, 4, width},
                                        {257, 4, height},
                                        {258, 3, std::uint32_t(bps)},
                                        {259, 3, std::uint32_t(compression)},
                                        {262, 3, spp == 1 ? 0u : 2u},
                                        {273, 4, 0},
                                        {277, 3, std::uint32_t(spp)},
                                        {278, 4, height},
                                        {279, 4, 8}};
    const std::uint32_t dataAt = 8 + 2 + 12 * std::uint32_t(entries.size()) + 4;
    Put16le(b, unsigned(entries.size()));
    for (const Entry &e : entries) {
        Put16le(b, unsigned(e.tag));
        Put16le(b, unsigned(e.type));
        Put32le(b, 1);
        Put32le(b, e.tag == 273 ? dataAt : e.value);
    }
    Put32le(b, 0);
    Append(b, {0, 1, 0, 1, 0, 1, 0, 1}); // a few bytes of "strip"
    return b;
}

// A JPEG header with a frame of width x height in three components, then a
// scan of a few bytes; marker 0xC0 + n chooses the process.
Bytes Jpeg(int sof, int width, int height)
{
    Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
    for (int i = 0; i < 64; ++i)
        b.push_back(1);
    Append(b, {0xFF, sof, 0, 17, 8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 3});
    for (int c = 1; c <= 3; ++c)
        Append(b, {c, 0x11, 0});
    // One DC table with a single one-bit code (category 0), for Huffman files.
    Append(b, {0xFF, 0xC4, 0, 20, 0x00, 1});
    for (int i = 1; i < 16; ++i)
        b.push_back(0);
    b.push_back(0);
    Append(b, {0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xD9});
    return b;
}

// An animation of two 1 x 1 frames whose canvas then claims w x h.
Bytes WebpCanvas(int w, int h)
{
    CxImage frames[2];
    const CxImage *pointers[2] = {&frames[0], &frames[1]};
    for (int k = 0; k < 2; ++k) {
        frames[k].Create(1, 1, 24);
        frames[k].SetPixelColor(0, 0, {BYTE(k * 255), 0, 0, 0});
    }
    CxMemFile mem;
    if (!mem.Open() || !WriteWebpAnimation(mem, pointers, std::array{100, 100}.data(), 2, 0, 0))
        return {};
    const std::uint8_t *data = mem.GetBuffer(false);
    Bytes b(data, data + mem.Size());
    // VP8X: flags, then width - 1 and height - 1 in three bytes each.
    for (int i = 0; i < 3; ++i) {
        b[24 + i] = std::uint8_t((w - 1) >> (8 * i));
        b[27 + i] = std::uint8_t((h - 1) >> (8 * i));
    }
    return b;
}

struct HostileCase {
    const char *name;
    Bytes bytes;
    const char *ext;
    int loadsWidth; // 0: refused
};

std::vector<HostileCase> Cases()
{
    std::vector<HostileCase> cases;
    for (const char *type : {"tEXt", "zTXt", "iTXt", "pCAL", "sCAL", "sPLT"})
        for (std::uint32_t length : {0x3FFFFFFFu, 0x7FFFFFFFu})
            cases.push_back({type, PngWithChunk(type, length), ".png", 0});
    cases.push_back(
        {"gif screen 16384 x 16383, 1 x 1 frames", GifWithFrames(16384, 16383, {{0, 0}, {0, 0}}), ".gif", 1});
    cases.push_back(
        {"gif frames in far corners", GifWithFrames(16000, 16000, {{0, 0}, {15999, 15999}}), ".gif", 0});
    cases.push_back({"gif frame promising 16384 x 16383", GifWithFrames(16384, 16383, {{0, 0}}, 16384, 16383),
                     ".gif", 0});
    cases.push_back({"webp canvas 16383 x 16383, 1 x 1 frames", WebpCanvas(16383, 16383), ".webp", 0});
    cases.push_back({"bmp 30000 x 30000 without data", Bmp(30000, 30000, 24, 0, {}), ".bmp", 0});
    cases.push_back({"bmp rle4 16000 x 16000", Bmp(16000, 16000, 4, 2, {0, 1}), ".bmp", 0});
    cases.push_back({"pcx 30000 x 30000", Pcx(30000, 30000), ".pcx", 0});
    cases.push_back({"tiff g4 65000 x 4000", Tiff(65000, 4000, 4, 1), ".tif", 0});
    cases.push_back({"tiff zstd 16000 x 16000", Tiff(16000, 16000, 50000, 3), ".tif", 0});
    cases.push_back({"jpeg sequential 16384 x 16384", Jpeg(0xC0, 16384, 16384), ".jpg", 0});
    cases.push_back({"jpeg progressive 16384 x 16384", Jpeg(0xC2, 16384, 16384), ".jpg", 0});
    cases.push_back({"jpeg arithmetic progressive 16384 x 16384", Jpeg(0xCA, 16384, 16384), ".jpg", 0});
    return cases;
}

// Runs fn in a child whose address space may grow by 64 MB at most; its
// result, 3 when an allocation failed, or -1 when it died.
int RunCapped(const std::function<int()> &fn)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
#ifndef VELMORA_NO_AS_CAP
        long pages = 0;
        if (FILE *f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlim_t cap = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(64) << 20);
        const rlimit limit{cap, cap};
        setrlimit(RLIMIT_AS, &limit);
#endif
        CxImage::SetThreadLimit(1);
        // Reaching the cap must not pass for a refusal: a failed allocation
        // leaves ENOMEM behind, whatever the decoder made of it.
        errno = 0;
        const int result = fn();
        _exit(errno == ENOMEM ? 3 : result);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

struct NullReporter : IConvertReporter {
    void AnimateStatus() override {}
    void FileStarted(const std::string &) override {}
    void FileDone(const FileRecord &) override {}
    void SetPercent(int) override {}
    void AddResult(const std::string &) override {}
    void SetSummary(const RunTotals &) override {}
    void ConvertDone() override {}
    OverwriteAnswer AskOverwrite(const std::string &) override { return OverwriteAnswer{}; }
};

TEST(HostileFiles, EveryPathStaysWithin64MB)
{
    testsupport::ScratchDir dir;
    for (const HostileCase &c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Path(std::string("hostile") + c.ext);
        ASSERT_TRUE(testsupport::WriteFileBytes(path, c.bytes));
        ASSERT_LT(c.bytes.size(), 1024u);
        ASSERT_FALSE(c.bytes.empty());
        const int expected = c.loadsWidth > 0 ? 1 : 0;

        EXPECT_EQ(RunCapped([&] {
                      CxImage img;
                      if (!img.Load(path.c_str()))
                          return 0;
                      return img.GetWidth() == c.loadsWidth ? 1 : 2;
                  }),
                  expected)
            << "load";
        EXPECT_EQ(RunCapped([&] {
                      QImage thumb;
                      return MakeThumbnail(path, 0, thumb).valid ? 1 : 0;
                  }),
                  expected)
            << "thumbnail";
        if (std::string(c.ext) != ".gif" && std::string(c.ext) != ".webp")
            continue;
        CConvertJob job;
        EXPECT_EQ(RunCapped([&] {
                      NullReporter reporter;
                      std::stop_source stop;
                      return ConvertAnimation(path, 2, CXIMAGE_FORMAT_GIF, dir.Path("out.gif"), job, reporter,
                                                stop.get_token()) == AnimatedResult::Written
                                 ? 1
                                 : 0;
                  }),
                  expected)
            << "animated conversion";
        EXPECT_EQ(RunCapped([&] {
                      std::vector<std::uint8_t> bytes;
                      return AnimatedGifBytes(path, 2, job, PreviewSteps(false), bytes) ==
                                     AnimatedResult::Written
                                 ? 1
                                 : 0;
                  }),
                  expected)
            << "preview";
        EXPECT_EQ(RunCapped([&] {
                      AnimationFrames frames;
                      return AnimationFrameList(path, 2, job, PreviewSteps(false), -1, frames) ==
                                     AnimatedResult::Written
                                 ? 1
                                 : 0;
                  }),
                  expected)
            << "frame list";
        if (std::string(c.ext) != ".gif")
            continue;
        EXPECT_EQ(RunCapped([&] {
                      CAnimatedPicture picture;
                      if (!picture.LoadPictureFile(QString::fromStdString(path)))
                          return 0;
                      return picture.GetPictureSize().width() == c.loadsWidth ? 1 : 2;
                  }),
                  expected)
            << "animated picture";
    }
}

} // namespace

namespace {

// Fills each row of a band as its encoder asks for it: a flat grey picture
// with a ramp at the left, as large as wanted without being held.
class FlatRows final : public cxcodec::RowFeed {
public:
    explicit FlatRows(CxImage &band) : m_band(band) {}
    bool Arrived(int y) override
    {
        BYTE *row = m_band.GetBits(y);
        for (int x = 0; x < m_band.GetWidth(); ++x)
            row[x] = BYTE(x < 256 ? x : 128);
        return true;
    }

private:
    CxImage &m_band;
};

} // namespace

// A JPEG or PNG past what may be held (400 megapixels) is shown from a
// reduced decode within a quarter of the pixel limit, its own size still
// told: the JPEG at a quarter of its scale, the PNG shrunk as its rows come.
TEST(HostileFiles, APictureTooLargeToHoldIsShownReduced)
{
    constexpr int kSide = 20000;
    testsupport::ScratchDir dir;
    for (const std::uint32_t type : {CXIMAGE_FORMAT_JPG, CXIMAGE_FORMAT_PNG}) {
        const std::string path = dir.Path(type == CXIMAGE_FORMAT_JPG ? "large.jpg" : "large.png");
        SCOPED_TRACE(path);
        {
            CxImage band;
            ASSERT_TRUE(CxImageAccess::CreateBand(band, kSide, kSide, 8, type, 16));
            FlatRows rows(band);
            CxImageAccess::SetFeed(band, &rows);
            band.SetJpegQuality(75);
            std::FILE *f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            CxIOFile out(f);
            ASSERT_TRUE(band.Encode(&out, type)) << band.GetLastError();
            out.Close();
        }
        const std::shared_ptr<CxImage> shown = viewwork::DecodeForViewing(path, true, nullptr, 0);
        ASSERT_TRUE(shown->IsValid()) << shown->GetLastError();
        EXPECT_EQ(shown->GetSrcWidth(), kSide);
        EXPECT_EQ(shown->GetSrcHeight(), kSide);
        EXPECT_LE(std::int64_t(shown->GetWidth()) * shown->GetHeight(), CxImage::kMaxPixels / 4);
        EXPECT_GE(shown->GetWidth(), kSide / 8);
        EXPECT_TRUE(viewwork::IsPartial(*shown));
        EXPECT_NEAR(shown->GetPixelColor(shown->GetWidth() / 2, shown->GetHeight() / 2).rgbGreen, 128, 2);
    }
}
