#include "imaging/cxfile.h"
#include "imaging/cximage.h"
#include "imaging/cximagegif.h"
#include "tests/controls/gif_builder.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Bytes = std::vector<std::uint8_t>;

// --- Reading helpers -------------------------------------------------------------

Bytes Fixture(const std::string &name)
{
    Bytes bytes = ReadFileBytes(DataPath("gif/" + name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

bool DecodeFrame(const Bytes &bytes, int frame, CxImage &img)
{
    return img.Decode(bytes.data(), bytes.size(), CXIMAGE_FORMAT_UNKNOWN, {.frame = frame});
}

// CxImageGIF::Decode(CxFile *, req) named through its exact type (a plain
// call is ambiguous with the inherited overload for some compilers).
bool DecodeGifFile(CxImageGIF &gif, const Bytes &bytes, int frame = 0)
{
    CxMemFile mem(bytes.data(), bytes.size());
    bool (CxImageGIF::*decode)(CxFile *, const CxDecodeRequest &) = &CxImageGIF::Decode;
    return (gif.*decode)(&mem, {.frame = frame});
}

// One letter per pixel for the colours the fixtures use; '.' is transparent.
char Cell(const CxImage &img, int x, int y)
{
    const RGBQUAD c = img.GetPixelColor(x, y);
    if (c.rgbReserved == 0)
        return '.';
    struct Named {
        char letter;
        int r, g, b;
    };
    static const Named names[] = {{'R', 255, 0, 0}, {'G', 0, 255, 0},     {'B', 0, 0, 255},
                                  {'W', 255, 255, 255}, {'K', 0, 0, 0}, {'Y', 255, 255, 0}};
    for (const Named &n : names)
        if (c.rgbRed == n.r && c.rgbGreen == n.g && c.rgbBlue == n.b)
            return n.letter;
    return '?';
}

std::string Grid(const CxImage &img)
{
    std::string s;
    for (int y = 0; y < img.GetHeight(); ++y) {
        for (int x = 0; x < img.GetWidth(); ++x)
            s += Cell(img, x, y);
        s += '\n';
    }
    return s;
}

// Every pixel's colour and alpha equal (transparent pixels compare by alpha only).
void ExpectSamePixels(const CxImage &want, const CxImage &got, const std::string &what)
{
    ASSERT_EQ(want.GetWidth(), got.GetWidth()) << what;
    ASSERT_EQ(want.GetHeight(), got.GetHeight()) << what;
    for (int y = 0; y < want.GetHeight(); ++y)
        for (int x = 0; x < want.GetWidth(); ++x) {
            const RGBQUAD a = want.GetPixelColor(x, y), b = got.GetPixelColor(x, y);
            ASSERT_EQ(a.rgbReserved, b.rgbReserved) << what << " at " << x << "," << y;
            if (a.rgbReserved != 0) {
                ASSERT_TRUE(a == b) << what << " at " << x << "," << y;
            }
        }
}

// --- Writing GIFs by hand ---------------------------------------------------------

// Builds GIF files byte by byte, for cases no encoder would produce. Pixels
// are coded as literals with a clear code often enough that the code width
// never grows.
class GifBytes {
public:
    GifBytes(int width, int height, const std::vector<std::uint32_t> &global)
    {
        m_b = {'G', 'I', 'F', '8', '9', 'a'};
        Word(width);
        Word(height);
        m_b.push_back(global.empty() ? 0 : BYTE(0x80 | 0x70 | (TableBits(global) - 1)));
        m_b.push_back(0);
        m_b.push_back(0);
        Table(global);
    }
    GifBytes &Control(int disposal, int delay, int trans = -1)
    {
        const BYTE data[] = {0x21, 0xF9, 4, BYTE((disposal << 2) | (trans >= 0 ? 1 : 0)), BYTE(delay), BYTE(delay >> 8),
                             BYTE(trans >= 0 ? trans : 0), 0};
        m_b.insert(m_b.end(), data, data + sizeof data);
        return *this;
    }
    // Image descriptor and LZW code size; the codes follow with Codes.
    GifBytes &Image(int left, int top, int width, int height, int codeSize = 2,
                    const std::vector<std::uint32_t> &local = {})
    {
        m_b.push_back(0x2C);
        Word(left);
        Word(top);
        Word(width);
        Word(height);
        m_b.push_back(local.empty() ? 0 : BYTE(0x80 | (TableBits(local) - 1)));
        Table(local);
        m_b.push_back(BYTE(codeSize));
        return *this;
    }
    GifBytes &Frame(int left, int top, int width, int height, const std::vector<int> &pixels, int codeSize = 2,
                    const std::vector<std::uint32_t> &local = {})
    {
        Image(left, top, width, height, codeSize, local);
        const int clear = 1 << codeSize;
        std::vector<int> codes{clear};
        int run = 0;
        for (int p : pixels) {
            if (run == clear - 2) {
                codes.push_back(clear);
                run = 0;
            }
            codes.push_back(p);
            ++run;
        }
        codes.push_back(clear + 1);
        return Codes(codes, codeSize + 1);
    }
    // Codes of one width, packed into sub-blocks.
    GifBytes &Codes(const std::vector<int> &codes, int width)
    {
        Bytes packed;
        std::uint32_t acc = 0;
        int bits = 0;
        for (int c : codes) {
            acc |= std::uint32_t(c) << bits;
            bits += width;
            while (bits >= 8) {
                packed.push_back(BYTE(acc));
                acc >>= 8;
                bits -= 8;
            }
        }
        if (bits > 0)
            packed.push_back(BYTE(acc));
        for (std::size_t i = 0; i < packed.size(); i += 255) {
            const std::size_t n = std::min<std::size_t>(255, packed.size() - i);
            m_b.push_back(BYTE(n));
            m_b.insert(m_b.end(), packed.begin() + long(i), packed.begin() + long(i + n));
        }
        m_b.push_back(0);
        return *this;
    }
    Bytes Finish()
    {
        m_b.push_back(0x3B);
        return m_b;
    }

private:
    static int TableBits(const std::vector<std::uint32_t> &t)
    {
        int bits = 1;
        while ((1u << bits) < t.size())
            ++bits;
        return bits;
    }
    void Table(const std::vector<std::uint32_t> &t)
    {
        if (t.empty())
            return;
        for (std::size_t i = 0; i < (std::size_t(1) << TableBits(t)); ++i) {
            const std::uint32_t c = i < t.size() ? t[i] : 0;
            m_b.push_back(BYTE(c >> 16));
            m_b.push_back(BYTE(c >> 8));
            m_b.push_back(BYTE(c));
        }
    }
    void Word(int v)
    {
        m_b.push_back(BYTE(v));
        m_b.push_back(BYTE(v >> 8));
    }
    Bytes m_b;
};

// --- Reading the block structure of written files ------------------------------------

struct FrameRecord {
    int disposal = -1, delay = -1, trans = -1;
    int localTableSize = 0;  // 0: none
    std::size_t dataOffset = 0;  // first byte of the LZW data
};

struct Structure {
    bool ok = false;
    int width = 0, height = 0, globalTableSize = 0;
    int loops = -1;
    std::vector<int> commentBlocks;  // sub-block lengths
    std::vector<FrameRecord> frames;
};

Structure Parse(const Bytes &d)
{
    Structure s;
    if (d.size() < 13 || std::memcmp(d.data(), "GIF89a", 6) != 0)
        return s;
    s.width = d[6] | (d[7] << 8);
    s.height = d[8] | (d[9] << 8);
    std::size_t p = 13;
    if (d[10] & 0x80) {
        s.globalTableSize = 1 << ((d[10] & 7) + 1);
        p += 3 * std::size_t(s.globalTableSize);
    }
    auto subBlocks = [&](std::vector<Bytes> *out) {
        while (p < d.size() && d[p] != 0) {
            const std::size_t n = d[p];
            if (out)
                out->emplace_back(d.begin() + long(p + 1), d.begin() + long(std::min(d.size(), p + 1 + n)));
            p += n + 1;
        }
        ++p;
    };
    FrameRecord pending;
    while (p < d.size()) {
        const BYTE b = d[p++];
        if (b == 0x3B) {
            s.ok = true;
            break;
        }
        if (b == 0x21 && p < d.size()) {
            const BYTE label = d[p++];
            std::vector<Bytes> blocks;
            subBlocks(&blocks);
            if (label == 0xF9 && !blocks.empty() && blocks[0].size() == 4) {
                pending.disposal = (blocks[0][0] >> 2) & 7;
                pending.delay = blocks[0][1] | (blocks[0][2] << 8);
                pending.trans = (blocks[0][0] & 1) ? blocks[0][3] : -1;
            } else if (label == 0xFE) {
                for (const Bytes &blk : blocks)
                    s.commentBlocks.push_back(int(blk.size()));
            } else if (label == 0xFF && blocks.size() >= 2 && blocks[0].size() == 11 &&
                       std::memcmp(blocks[0].data(), "NETSCAPE2.0", 11) == 0 && blocks[1].size() == 3) {
                s.loops = blocks[1][1] | (blocks[1][2] << 8);
            }
        } else if (b == 0x2C && p + 9 <= d.size()) {
            FrameRecord f = pending;
            pending = FrameRecord{};
            const BYTE packed = d[p + 8];
            p += 9;
            if (packed & 0x80) {
                f.localTableSize = 1 << ((packed & 7) + 1);
                p += 3 * std::size_t(f.localTableSize);
            }
            f.dataOffset = p;
            ++p;  // LZW code size
            subBlocks(nullptr);
            s.frames.push_back(f);
        } else {
            break;
        }
    }
    return s;
}

// --- Making frames ------------------------------------------------------------------

// A paletted frame whose pixel (x, y) takes index pattern(x, y).
template <typename Pattern>
CxImage Paletted(int w, int h, const std::vector<RGBQUAD> &palette, Pattern pattern, int trans = -1)
{
    CxImage img;
    const int n = int(palette.size());
    img.Create(w, h, n <= 2 ? 1 : (n <= 16 ? 4 : 8));
    img.SetPalette(palette.data(), n);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.SetPixelIndex(x, y, BYTE(pattern(x, y)));
    img.SetTransIndex(trans);
    return img;
}

RGBQUAD Rgb(int r, int g, int b)
{
    return RGBQUAD{BYTE(b), BYTE(g), BYTE(r), 0};
}

Bytes EncodeFrames(CxImageGIF &writer, std::vector<CxImage *> frames, bool localMaps)
{
    CxMemFile mem;
    EXPECT_TRUE(mem.Open());
    EXPECT_TRUE(writer.Encode(&mem, frames.data(), int(frames.size()), localMaps)) << writer.GetLastError();
    const std::int64_t size = mem.Size();
    std::uint8_t *data = mem.GetBuffer(true);
    Bytes bytes(data, data + size);
    CxMemFile::FreeBuffer(data);
    return bytes;
}

// A CxFile that accepts a fixed number of bytes, then fails.
class ShortFile final : public CxFile {
public:
    explicit ShortFile(std::size_t room) : m_room(room) {}
    bool Close() override { return true; }
    std::size_t Read(void *, std::size_t, std::size_t) override { return 0; }
    std::size_t Write(const void *, std::size_t size, std::size_t count) override
    {
        if (size * count > m_room) {
            m_failed = true;
            return 0;
        }
        m_room -= size * count;
        return count;
    }
    bool Seek(std::int64_t, int) override { return false; }
    std::int64_t Tell() override { return 0; }
    std::int64_t Size() override { return 0; }
    bool Flush() override { return !m_failed; }
    bool Eof() override { return true; }
    bool Error() override { return m_failed; }
    bool IsOpen() const override { return true; }

private:
    std::size_t m_room;
    bool m_failed = false;
};

}  // namespace

// --- Decoding ---------------------------------------------------------------------------

TEST(GifDecode, ComposesKeepRestoreToBackgroundAndRestoreToPrevious)
{
    const Bytes file = Fixture("dispose.gif");
    const char *want[4] = {
        "RRRRRRRR\nRRRRRRRR\nRRRRRRRR\nRRRRRRRR\nRRRRRRRR\nRRRRRRRR\nRRRRRRRR\nRRRRRRRR\n",
        "RRRRRRRR\nRRRRRRRR\nRRGGGGRR\nRRGGGGRR\nRRGGGGRR\nRRGGGGRR\nRRRRRRRR\nRRRRRRRR\n",
        "BBRRRRRR\nBBRRRRRR\nRR....RR\nRR....RR\nRR....RR\nRR....RR\nRRRRRRRR\nRRRRRRRR\n",
        "RRRRRRRR\nRRRRRRRR\nRR....RR\nRR....RR\nRR....RR\nRR....RR\nRRRRRRWW\nRRRRRRWW\n",
    };
    const int delays[4] = {10, 20, 30, 40}, disposals[4] = {1, 2, 3, 1};
    for (int k = 0; k < 4; ++k) {
        CxImage img;
        ASSERT_TRUE(DecodeFrame(file, k, img)) << k << ": " << img.GetLastError();
        EXPECT_EQ(Grid(img), want[k]) << "frame " << k;
        EXPECT_EQ(img.GetNumFrames(), 4);
        EXPECT_EQ(img.GetFrameDelay(), delays[k]);
        EXPECT_EQ(img.GetDisposalMethod(), disposals[k]);
        EXPECT_NE(img.GetBpp(), 24) << "every frame fits one palette";
        if (k == 3) {
            // Red from the global table, white from the frame's own two
            // entries; its unused black entry becomes the transparent one.
            EXPECT_EQ(img.GetNumColors(), 3);
            EXPECT_EQ(img.GetBpp(), 4);
        }
    }
    CxImage past;
    EXPECT_FALSE(DecodeFrame(file, 4, past));
    EXPECT_FALSE(past.IsValid());
}

TEST(GifDecode, TransparentIndexIsOneNoVisiblePixelUses)
{
    // Frame 2 of dispose.gif is opaque, but the hole left by frame 1 needs a
    // transparent entry; neither red nor blue may turn transparent.
    CxImage img;
    ASSERT_TRUE(DecodeFrame(Fixture("dispose.gif"), 2, img));
    ASSERT_GE(img.GetTransIndex(), 0);
    EXPECT_TRUE(img.IsTransparent());
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool hole = x >= 2 && x < 6 && y >= 2 && y < 6;
            EXPECT_EQ(img.GetPixelIndex(x, y) == img.GetTransIndex(), hole) << x << "," << y;
        }

    // Frame 1's transparent index is the one frame 0 painted black with: the
    // black pixel must stay black, so another entry becomes transparent.
    const Bytes shared = GifBytes(3, 1, {0xFF0000, 0x000000})
                             .Control(1, 0)
                             .Frame(0, 0, 2, 1, {0, 1})
                             .Control(1, 0, 1)
                             .Frame(0, 0, 1, 1, {1})
                             .Finish();
    CxImage mixed;
    ASSERT_TRUE(DecodeFrame(shared, 1, mixed));
    EXPECT_EQ(Grid(mixed), "RK.\n");
    EXPECT_NE(mixed.GetTransIndex(), 1);

    // Frames with their own transparency: red shows through frame 1; frame 1
    // restores to background, so frame 2's clear pixels stay clear.
    const Bytes file = Fixture("transparent.gif");
    const char *want[3] = {"RRRRRR\nRRRRRR\nRRRRRR\nRRRRRR\nRRRRRR\nRRRRRR\n",
                           "RRRRRR\nRRRRRR\nRRBBRR\nRRBBRR\nRRRRRR\nRRRRRR\n",
                           "GGGGGG\nGGGGGG\n......\n......\n......\n......\n"};
    for (int k = 0; k < 3; ++k) {
        CxImage frame;
        ASSERT_TRUE(DecodeFrame(file, k, frame)) << k;
        EXPECT_EQ(Grid(frame), want[k]) << "frame " << k;
        EXPECT_EQ(frame.GetTransIndex() >= 0, k == 2) << "frame " << k;
    }
}

TEST(GifDecode, FallsBackToColourWhenNoPaletteFits)
{
    const Bytes file = Fixture("manycolors.gif");
    // Frame 0 (no delay: the animation's alone, not the still): 256 colours
    // and the unpainted right half need 257 entries.
    CxImage first;
    ASSERT_TRUE(CxGifFrameReader(DataPath("gif/manycolors.gif").c_str()).Next(first));
    ASSERT_EQ(first.GetBpp(), 24);
    ASSERT_TRUE(first.AlphaIsValid());
    EXPECT_EQ(first.GetWidth(), 32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const RGBQUAD c = first.GetPixelColor(x, y);
            if (x >= 16) {
                EXPECT_EQ(c.rgbReserved, 0) << x << "," << y;
            } else {
                EXPECT_TRUE(c == (RGBQUAD{0, BYTE(17 * y), BYTE(17 * x), 255})) << x << "," << y;
            }
        }
    // Frame 1: 512 colours from two tables.
    CxImage second;
    ASSERT_TRUE(DecodeFrame(file, 1, second));
    ASSERT_EQ(second.GetBpp(), 24);
    EXPECT_FALSE(second.IsTransparent());
    EXPECT_TRUE(second.GetPixelColor(5, 9) == (RGBQUAD{0, 153, 85, 255}));
    EXPECT_TRUE(second.GetPixelColor(21, 9) == (RGBQUAD{153, 85, 0, 255}));
}

TEST(GifDecode, ReadsCommentLoopCountAndDelays)
{
    const Bytes file = Fixture("timing.gif");
    std::string want;
    for (int i = 0; i < 16; ++i)
        want += "Made for Velmora; ";
    want += "Second part.";
    const int delays[3] = {10, 25, 50};
    for (int k = 0; k < 3; ++k) {
        CxImageGIF gif;
        ASSERT_TRUE(DecodeGifFile(gif, file, k)) << gif.GetLastError();
        EXPECT_EQ(gif.GetComment(), want);
        EXPECT_EQ(gif.GetLoops(), 3);
        EXPECT_EQ(gif.GetFrameDelay(), delays[k]);
        EXPECT_EQ(gif.GetNumFrames(), 3);
        EXPECT_EQ(gif.GetType(), CXIMAGE_FORMAT_GIF);
    }
    CxImageGIF gif;
    ASSERT_TRUE(DecodeGifFile(gif, file));
    char small[9];
    gif.GetComment(small, sizeof small);
    EXPECT_STREQ(small, "Made for");
    char none[1] = {'x'};
    gif.GetComment(none, 1);
    EXPECT_EQ(none[0], '\0');

    CxImageGIF still;
    ASSERT_TRUE(DecodeGifFile(still, Fixture("interlaced.gif")));
    EXPECT_EQ(still.GetLoops(), -1) << "no loop extension";
    EXPECT_EQ(still.GetComment(), "");

    // The frame reader reads them as Decode does.
    const CxGifFrameReader timing(DataPath("gif/timing.gif").c_str());
    const CxGifFrameReader plain(DataPath("gif/interlaced.gif").c_str());
    EXPECT_EQ(timing.GetComment(), want);
    EXPECT_EQ(timing.GetLoops(), 3);
    EXPECT_EQ(plain.GetLoops(), -1);
    EXPECT_EQ(plain.GetComment(), "");
}

TEST(GifDecode, DeinterlacesRows)
{
    CxImage img;
    ASSERT_TRUE(DecodeFrame(Fixture("interlaced.gif"), 0, img));
    ASSERT_EQ(img.GetHeight(), 16);
    EXPECT_EQ(img.GetBpp(), 4);
    EXPECT_EQ(img.GetNumFrames(), 1);
    for (int y = 0; y < 16; ++y) {
        const RGBQUAD c = img.GetPixelColor(1, y);
        EXPECT_EQ(c.rgbRed, 255 - 17 * y) << "row " << y;
        EXPECT_EQ(c.rgbRed, c.rgbBlue);
    }
}

namespace {

// Everything a decode leaves in an image, byte for byte.
std::string Everything(const CxImage &img)
{
    std::string s = std::to_string(img.GetWidth()) + "x" + std::to_string(img.GetHeight()) + " bpp " +
                    std::to_string(img.GetBpp()) + " frame " + std::to_string(img.GetFrame()) + "/" +
                    std::to_string(img.GetNumFrames()) + " delay " + std::to_string(img.GetFrameDelay()) +
                    " disposal " + std::to_string(img.GetDisposalMethod()) + " trans " +
                    std::to_string(img.GetTransIndex()) + " type " + std::to_string(img.GetType()) + " src " +
                    std::to_string(img.GetSrcWidth()) + "x" + std::to_string(img.GetSrcHeight()) +
                    " error '" + img.GetLastError() + "'\n";
    if (const RGBQUAD *pal = img.GetPalette())
        s.append(reinterpret_cast<const char *>(pal), sizeof(RGBQUAD) * std::size_t(img.GetNumColors()));
    const RGBQUAD trans = img.GetTransColor();
    s.append(reinterpret_cast<const char *>(&trans), sizeof trans);
    const std::size_t row = std::size_t(img.GetWidth()) * std::size_t(img.GetBpp()) / 8;
    for (int y = 0; img.IsValid() && y < img.GetHeight(); ++y) {
        s.append(reinterpret_cast<const char *>(img.GetBits(y)), row);
        if (img.AlphaIsValid())
            s.append(reinterpret_cast<const char *>(img.AlphaGetPointer(y)), std::size_t(img.GetWidth()));
    }
    return s;
}

// Everything but the frame index.
std::string AfterFrameIndex(const CxImage &img)
{
    const std::string all = Everything(img);
    return all.substr(all.find(" delay "));
}

} // namespace

TEST(GifFrameReader, FramesInOrderMatchSingleFrameLoads)
{
    // Every GIF the tests carry, and one cut inside its third frame.
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::recursive_directory_iterator(DataPath("")))
        if (e.is_regular_file() && e.path().extension() == ".gif")
            files.push_back(e.path().string());
    ASSERT_GE(files.size(), 20u);
    ScratchDir dir;
    const Bytes dispose = Fixture("dispose.gif");
    const Bytes cut(dispose.begin(), dispose.begin() + long(Parse(dispose).frames[2].dataOffset + 2));
    ASSERT_TRUE(WriteFileBytes(dir.Path("cut.gif"), cut));
    files.push_back(dir.Path("cut.gif"));
    files.push_back(dir.Path("missing.gif"));

    int frames = 0, failures = 0;
    for (const std::string &path : files) {
        CxImage still;
        still.Load(path.c_str(), CXIMAGE_FORMAT_GIF);
        CxGifFrameReader reader(path.c_str());
        if (still.IsValid()) {
            EXPECT_EQ(reader.GetNumFrames(), still.GetNumFrames()) << path;
        }
        // A looping animation with no delay anywhere stills to its first frame.
        bool anyDelay = false;
        {
            CxGifFrameReader scan(path.c_str());
            for (CxImage f; scan.Next(f);)
                anyDelay = anyDelay || f.GetFrameDelay() != 0;
        }
        const bool firstAlone = !anyDelay && reader.GetLoops() >= 0;
        // One past the last frame: the reader fails there as Load does.
        bool stillShown = false;
        for (int k = 0; k <= std::max(1, still.GetNumFrames()); ++k) {
            CxImage single, next;
            const bool loaded = single.Load(path.c_str(), CXIMAGE_FORMAT_GIF, {.frame = k});
            ASSERT_EQ(reader.Next(next), loaded) << path << " frame " << k;
            // Frame 0 is the still: the frame shown when the first delay
            // begins (or the last one).
            const bool shownNow = loaded && !stillShown &&
                                  (firstAlone || next.GetFrameDelay() != 0 || k + 1 == reader.GetNumFrames());
            if (shownNow) {
                EXPECT_TRUE(AfterFrameIndex(still) == AfterFrameIndex(next)) << path << " still, frame " << k;
                stillShown = true;
            }
            if (k > 0 || shownNow || !loaded) {
                EXPECT_TRUE(Everything(single) == Everything(next)) << path << " frame " << k;
            }
            frames += loaded;
            failures += !loaded;
            if (!loaded)
                break;
        }
    }
    EXPECT_GT(frames, 40);
    EXPECT_GE(failures, int(files.size()));
}

TEST(GifDecode, StillComposesFramesUpToTheFirstDelay)
{
    using gifbuild::FrameDesc;
    const QColor red(255, 0, 0), green(0, 255, 0), blue(0, 0, 255), white(255, 255, 255), black(0, 0, 0);
    // More colours than one palette holds, one pixel each, no delays.
    std::vector<FrameDesc> dots;
    std::string firstDot;
    for (int i = 0; i < 16 * 17; ++i) {
        if (i < 257)
            dots.push_back({QColor(i & 255, i > 255 ? 255 : 0, 77), 1, 1, i % 16, i / 16, 0});
        firstDot += std::string(i == 0 ? "?" : ".") + (i % 16 == 15 ? "\n" : "");
    }
    const struct {
        const char *name;
        int width, height;
        std::vector<FrameDesc> blocks;
        int shown;                       // the animation frame the still shows
        const char *still;               // nullptr: colours not named
        std::vector<std::string> frames; // the animation's first frames, as played
        int loops = -1;                  // -1: no loop block
    } rows[] = {
        // clang-format off
        {"pieces side by side", 2, 2,
         {{red, 1, 1, 0, 0, 0}, {green, 1, 1, 1, 0, 0}, {blue, 1, 1, 0, 1, 0}, {white, 1, 1, 1, 1, 0}}, 3,
         "RG\nBW\n", {"R.\n..\n", "RG\n..\n", "RG\nB.\n", "RG\nBW\n"}},
        {"pieces on top of each other", 1, 1, {{black, 1, 1, 0, 0, 0}, {white, 1, 1, 0, 0, 0}}, 1, "W\n",
         {"K\n", "W\n"}},
        {"more colours than a palette", 16, 17, dots, 256, nullptr, {firstDot}},
        // Keep, restore previous, restore background, then the first delay.
        {"disposal between pieces", 2, 2,
         {{red, 2, 2, 0, 0, 0, 1},
          {green, 1, 1, 0, 0, 0, 3},
          {blue, 1, 1, 1, 0, 0, 2},
          {white, 1, 1, 1, 1, 50, 3},
          {black, 1, 1, 0, 1, 50}},
         3, "R.\nRW\n", {"RR\nRR\n", "GR\nRR\n", "RB\nRR\n", "R.\nRW\n", "R.\nKR\n"}},
        {"animation with delays", 2, 2, {{red, 2, 2, 0, 0, 10}, {green, 1, 1, 0, 0, 10}, {blue, 1, 1, 1, 1, 10}},
         0, "RR\nRR\n", {"RR\nRR\n", "GR\nRR\n", "GR\nRB\n"}},
        // A looping animation with no delays at all plays at the viewer's pace.
        {"looping, no delays", 2, 2, {{red, 2, 2, 0, 0, 0}, {green, 1, 1, 0, 0, 0}, {blue, 1, 1, 1, 1, 0}},
         0, "RR\nRR\n", {"RR\nRR\n", "GR\nRR\n", "GR\nRB\n"}, 0},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes file = gifbuild::BuildAnimation(row.blocks, row.width, row.height, row.loops);
        ASSERT_FALSE(file.empty());
        CxImage still;
        ASSERT_TRUE(DecodeFrame(file, 0, still)) << still.GetLastError();
        EXPECT_EQ(still.GetNumFrames(), int(row.blocks.size()));
        if (row.still) {
            EXPECT_EQ(Grid(still), row.still);
        }
        // The frames play as they always did; the still is the one shown
        // when the first delay begins.
        CxGifFrameReader reader(std::string(file.begin(), file.end()));
        for (int k = 0; k <= row.shown || k < int(row.frames.size()); ++k) {
            CxImage frame;
            ASSERT_TRUE(reader.Next(frame)) << k;
            if (k < int(row.frames.size())) {
                EXPECT_EQ(Grid(frame), row.frames[std::size_t(k)]) << "frame " << k;
            }
            if (k == row.shown) {
                ExpectSamePixels(frame, still, "still");
                EXPECT_TRUE(AfterFrameIndex(frame) == AfterFrameIndex(still))
                    << "palette, delay and disposal";
            }
        }
    }
}

// --- Damaged and hostile input --------------------------------------------------------------

TEST(GifHostile, HugeScreenOrFrameFailsBeforeAllocating)
{
    const Bytes screen = GifBytes(65535, 65535, {0xFF0000, 0}).Frame(0, 0, 1, 1, {0}).Finish();
    CxImage img;
    EXPECT_FALSE(DecodeFrame(screen, 0, img));
    EXPECT_FALSE(img.IsValid());

    // A frame claiming 65535 x 65535 inside a small screen, with no data.
    const Bytes frame = GifBytes(4, 4, {0xFF0000, 0}).Frame(0, 0, 65535, 65535, {}).Finish();
    EXPECT_FALSE(DecodeFrame(frame, 0, img));
}

TEST(GifHostile, ZeroScreenTakesTheFramesBounds)
{
    const Bytes file = GifBytes(0, 0, {0xFF0000, 0x0000FF}).Frame(1, 1, 3, 2, {0, 1, 0, 1, 0, 1}).Finish();
    CxImage img;
    ASSERT_TRUE(DecodeFrame(file, 0, img)) << img.GetLastError();
    EXPECT_EQ(Grid(img), "....\n.RBR\n.BRB\n");
}

TEST(GifHostile, FramesOutsideTheScreenAreClipped)
{
    const std::vector<int> four(16, 1);
    const Bytes file = GifBytes(4, 4, {0xFF0000, 0x00FF00})
                           .Control(1, 0)
                           .Frame(0, 0, 4, 4, std::vector<int>(16, 0))
                           .Control(1, 0)
                           .Frame(2, 2, 4, 4, four)
                           .Control(2, 0)
                           .Frame(40, 40, 4, 4, four)
                           .Finish();
    CxImage img;
    ASSERT_TRUE(DecodeFrame(file, 1, img));
    EXPECT_EQ(Grid(img), "RRRR\nRRRR\nRRGG\nRRGG\n");
    ASSERT_TRUE(DecodeFrame(file, 2, img));
    EXPECT_EQ(img.GetNumFrames(), 3);
    EXPECT_EQ(Grid(img), "RRRR\nRRRR\nRRGG\nRRGG\n");
}

TEST(GifHostile, IndicesBeyondTheTableMapToEntryZero)
{
    // Code size 3 allows indices up to 7; the table has two entries.
    const Bytes file = GifBytes(4, 1, {0x0000FF, 0xFFFFFF}).Frame(0, 0, 4, 1, {1, 2, 7, 0}, 3).Finish();
    CxImage img;
    ASSERT_TRUE(DecodeFrame(file, 0, img));
    EXPECT_EQ(Grid(img), "WBBB\n");
    EXPECT_LE(img.GetNumColors(), 2);
}

TEST(GifHostile, TruncationFailsOnlyTheDamagedFrame)
{
    const Bytes file = Fixture("dispose.gif");
    const Structure s = Parse(file);
    ASSERT_EQ(s.frames.size(), 4u);
    const Bytes cut(file.begin(), file.begin() + long(s.frames[2].dataOffset + 2));
    CxImage img;
    ASSERT_TRUE(DecodeFrame(cut, 0, img));
    ASSERT_TRUE(DecodeFrame(cut, 1, img));
    EXPECT_EQ(Grid(img), "RRRRRRRR\nRRRRRRRR\nRRGGGGRR\nRRGGGGRR\nRRGGGGRR\nRRGGGGRR\nRRRRRRRR\nRRRRRRRR\n");
    EXPECT_EQ(img.GetNumFrames(), 3) << "the broken frame is still counted";
    EXPECT_FALSE(DecodeFrame(cut, 2, img));
    EXPECT_FALSE(DecodeFrame(cut, 3, img));

    for (std::size_t n : {0, 5, 12, 13, 20}) {
        const Bytes head(file.begin(), file.begin() + long(n));
        EXPECT_FALSE(DecodeFrame(head, 0, img)) << n << " bytes";
    }

    // A still made of frames without delay ends at a damaged one, and
    // stops when cancelled.
    const Bytes pieces = gifbuild::BuildAnimation({{Qt::red, 1, 1, 0, 0, 0},
                                                   {Qt::green, 1, 1, 1, 0, 0},
                                                   {Qt::blue, 1, 1, 0, 1, 0},
                                                   {Qt::white, 1, 1, 1, 1, 0}},
                                                  2, 2, -1);
    ASSERT_FALSE(pieces.empty());
    const Bytes piecesCut(pieces.begin(), pieces.begin() + long(gifbuild::FrameEnds(pieces)[3] - 3));
    ASSERT_TRUE(DecodeFrame(piecesCut, 0, img)) << img.GetLastError();
    EXPECT_EQ(Grid(img), "RG\nB.\n");
    EXPECT_FALSE(DecodeFrame(piecesCut, 3, img));
    const std::atomic<bool> cancel{true};
    EXPECT_FALSE(img.Decode(pieces.data(), pieces.size(), CXIMAGE_FORMAT_UNKNOWN, {.cancel = &cancel}));
}

TEST(GifHostile, DamagedImageDataFailsWithItsReason)
{
    const std::vector<std::uint32_t> table = {0xFF0000, 0};
    const struct {
        const char *name;
        Bytes gif;
        const char *reason; // nullptr: decodes
    } rows[] = {
        {"code not defined yet", GifBytes(2, 1, table).Image(0, 0, 2, 1).Codes({4, 7, 5}, 3).Finish(), "GIF: "},
        {"end before the last pixel", GifBytes(2, 1, table).Image(0, 0, 2, 1).Codes({4, 0, 5}, 3).Finish(),
         "GIF: "},
        {"code size beyond 11 bits", GifBytes(1, 1, table).Image(0, 0, 1, 1, 12).Codes({0}, 13).Finish(), "GIF: "},
        // Our own reader takes 9 to 11 bits; giflib's refusal of the size is not the reason.
        {"wide codes ending early", GifBytes(4, 1, table).Image(0, 0, 4, 1, 9).Codes({512, 0, 513}, 10).Finish(),
         "damaged image data"},
        {"well formed", GifBytes(2, 1, table).Image(0, 0, 2, 1).Codes({4, 0, 1, 5}, 3).Finish(), nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CxImage img;
        EXPECT_EQ(DecodeFrame(row.gif, 0, img), row.reason == nullptr);
        if (row.reason) {
            EXPECT_NE(std::string(img.GetLastError()).find(row.reason), std::string::npos) << img.GetLastError();
        }
    }
}

TEST(GifHostile, FlippedBytesNeverBreakTheDecoder)
{
    for (const char *name : {"dispose.gif", "timing.gif", "transparent.gif"}) {
        const Bytes file = Fixture(name);
        for (std::size_t i = 6; i < file.size(); ++i) {
            Bytes bad = file;
            bad[i] ^= 0xA5;
            for (int k = 0; k < 4; ++k) {
                CxImage img;
                if (DecodeFrame(bad, k, img)) {
                    ASSERT_TRUE(img.IsValid());
                    ASSERT_LE(std::int64_t(img.GetWidth()) * img.GetHeight(), CxImage::kMaxPixels);
                    ASSERT_LT(k, img.GetNumFrames());
                }
            }
        }
    }
}

// --- Encoding ---------------------------------------------------------------------------------

TEST(GifEncode, RoundTripKeepsFramesDelaysTransparencyLoopsAndComment)
{
    CxImage f0 = Paletted(5, 4, {Rgb(255, 0, 0), Rgb(0, 0, 255)}, [](int x, int y) { return (x + y) % 2; });
    CxImage f1 = Paletted(
        5, 4, {Rgb(10, 20, 30), Rgb(200, 100, 50), Rgb(9, 9, 9)}, [](int x, int) { return x % 3; }, 2);
    f1.SetTransColor(Rgb(0, 255, 0));
    std::vector<RGBQUAD> ramp;
    for (int i = 0; i < 16; ++i)
        ramp.push_back(Rgb(i * 16, 255 - i * 16, 128));
    CxImage f2 = Paletted(5, 4, ramp, [](int x, int y) { return (x * 4 + y) % 16; });
    f0.SetFrameDelay(7);
    f1.SetFrameDelay(300);
    f2.SetFrameDelay(0);

    CxImageGIF writer;
    writer.SetLoops(5);
    std::string comment;
    for (int i = 0; i < 600; ++i)
        comment += char('a' + i % 26);
    writer.SetComment(comment.c_str());
    const Bytes file = EncodeFrames(writer, {&f0, &f1, &f2}, false);

    const Structure s = Parse(file);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.loops, 5);
    EXPECT_EQ(s.commentBlocks, (std::vector<int>{255, 255, 90}));
    EXPECT_EQ(s.globalTableSize, 2);
    ASSERT_EQ(s.frames.size(), 3u);
    EXPECT_EQ(s.frames[0].localTableSize, 0);
    EXPECT_EQ(s.frames[1].localTableSize, 4) << "three entries padded";
    EXPECT_EQ(s.frames[2].localTableSize, 16);
    EXPECT_EQ(s.frames[1].trans, 2);

    const CxImage *frames[3] = {&f0, &f1, &f2};
    const int delays[3] = {7, 300, 0};
    for (int k = 0; k < 3; ++k) {
        CxImageGIF back;
        ASSERT_TRUE(DecodeGifFile(back, file, k)) << back.GetLastError();
        ExpectSamePixels(*frames[k], back, "frame " + std::to_string(k));
        EXPECT_EQ(back.GetFrameDelay(), delays[k]);
        EXPECT_EQ(back.GetLoops(), 5);
        EXPECT_EQ(back.GetComment(), comment);
        EXPECT_EQ(back.GetNumFrames(), 3);
    }
    // The recorded transparent colour is what the transparent entry holds.
    CxImage back;
    ASSERT_TRUE(DecodeFrame(file, 1, back));
    ASSERT_GE(back.GetTransIndex(), 0);
    EXPECT_TRUE(back.GetPaletteColor(back.GetTransIndex()) == Rgb(0, 255, 0));
}

TEST(GifEncode, ColourTablesGlobalSharedOrLocal)
{
    const std::vector<RGBQUAD> pal = {Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9), Rgb(10, 11, 12)};
    CxImage a = Paletted(3, 3, pal, [](int x, int) { return x; });
    CxImage b = Paletted(3, 3, pal, [](int, int y) { return y + 1; });
    CxImage c = Paletted(3, 3, {Rgb(250, 0, 0), Rgb(0, 250, 0)}, [](int x, int y) { return (x * y) & 1; });
    a.SetFrameDelay(10); // frame 0 alone is the still

    CxImageGIF writer;
    writer.SetLoops(-1);
    Structure shared = Parse(EncodeFrames(writer, {&a, &b, &c}, false));
    ASSERT_EQ(shared.frames.size(), 3u);
    EXPECT_EQ(shared.globalTableSize, 4);
    EXPECT_EQ(shared.frames[0].localTableSize, 0);
    EXPECT_EQ(shared.frames[1].localTableSize, 0) << "same palette as the first frame";
    EXPECT_EQ(shared.frames[2].localTableSize, 2);
    EXPECT_EQ(shared.loops, -1) << "no loop extension asked";

    const Bytes file = EncodeFrames(writer, {&a, &b, &c}, true);
    const Structure local = Parse(file);
    EXPECT_EQ(local.globalTableSize, 0);
    for (const FrameRecord &f : local.frames)
        EXPECT_GT(f.localTableSize, 0);
    const CxImage *frames[3] = {&a, &b, &c};
    for (int k = 0; k < 3; ++k) {
        CxImage back;
        ASSERT_TRUE(DecodeFrame(file, k, back));
        ExpectSamePixels(*frames[k], back, "frame " + std::to_string(k));
    }
}

TEST(GifEncode, LaterTransparencyNeverShowsEarlierFrames)
{
    auto solid = [](int w, int h, int colour) {
        return Paletted(w, h, {Rgb(255, 0, 0), Rgb(0, 0, 255), Rgb(0, 255, 0), Rgb(0, 0, 0)},
                        [colour](int, int) { return colour; }, 3);
    };
    CxImage red = solid(4, 4, 0);
    CxImage holes = Paletted(
        4, 4, {Rgb(255, 0, 0), Rgb(0, 0, 255), Rgb(0, 255, 0), Rgb(0, 0, 0)},
        [](int x, int) { return x < 2 ? 1 : 3; }, 3);
    CxImage green = solid(4, 4, 2);

    CxImageGIF writer;
    writer.SetDisposalMethod(1);
    const Bytes file = EncodeFrames(writer, {&red, &holes, &green}, false);
    const Structure s = Parse(file);
    ASSERT_EQ(s.frames.size(), 3u);
    EXPECT_EQ(s.frames[0].disposal, 2) << "red would show through the holes";
    EXPECT_EQ(s.frames[1].disposal, 1);
    EXPECT_EQ(s.frames[2].disposal, 1);
    CxImage back;
    ASSERT_TRUE(DecodeFrame(file, 1, back));
    EXPECT_EQ(Grid(back), "BB..\nBB..\nBB..\nBB..\n");

    // Frames of different sizes: the big first frame still shows beside the
    // small second one and would show under the third, so it clears too.
    CxImage big = solid(6, 6, 0), small = solid(3, 3, 1);
    CxImage clear = Paletted(
        6, 6, {Rgb(255, 0, 0), Rgb(0, 0, 255), Rgb(0, 255, 0), Rgb(0, 0, 0)},
        [](int x, int y) { return x == 5 && y == 5 ? 2 : 3; }, 3);
    const Bytes sized = EncodeFrames(writer, {&big, &small, &clear}, false);
    const Structure t = Parse(sized);
    ASSERT_EQ(t.frames.size(), 3u);
    EXPECT_EQ(t.frames[0].disposal, 2);
    EXPECT_EQ(t.frames[1].disposal, 2);
    EXPECT_EQ(t.width, 6);
    ASSERT_TRUE(DecodeFrame(sized, 1, back));
    EXPECT_EQ(Grid(back), "BBB...\nBBB...\nBBB...\n......\n......\n......\n");
    ASSERT_TRUE(DecodeFrame(sized, 2, back));
    EXPECT_EQ(Grid(back), "......\n......\n......\n......\n......\n.....G\n");

    // Restore-to-previous already clears what the next frame needs clear.
    writer.SetDisposalMethod(3);
    const Structure u = Parse(EncodeFrames(writer, {&red, &green, &holes}, false));
    ASSERT_EQ(u.frames.size(), 3u);
    EXPECT_EQ(u.frames[0].disposal, 3);
    EXPECT_EQ(u.frames[1].disposal, 3);
}

TEST(GifEncode, SingleImageThroughCxImage)
{
    CxImage img = Paletted(7, 3, {Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(255, 0, 0)}, [](int x, int y) { return (x + y) % 3; });
    CxMemFile mem;
    ASSERT_TRUE(mem.Open());
    ASSERT_TRUE(img.Encode(&mem, CXIMAGE_FORMAT_GIF)) << img.GetLastError();
    std::uint8_t *data = mem.GetBuffer(true);
    const Bytes file(data, data + mem.Size());
    CxMemFile::FreeBuffer(data);
    const Structure s = Parse(file);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.loops, -1);
    EXPECT_EQ(s.frames.size(), 1u);

    ScratchDir dir;
    const std::string path = dir.Path("still.gif");
    ASSERT_TRUE(img.Save(path.c_str(), CXIMAGE_FORMAT_GIF));
    CxImage back;
    ASSERT_TRUE(back.Load(path.c_str()));
    ExpectSamePixels(img, back, "saved");
    EXPECT_EQ(back.GetNumColors(), 4) << "three entries padded to four";
}

TEST(GifEncode, SixHundredFrames)
{
    std::vector<CxImage> frames;
    for (int k = 0; k < 600; ++k)
        frames.push_back(Paletted(3, 2, {Rgb(k % 256, k / 256 * 100, 7), Rgb(1, 1, 1)},
                                  [k](int x, int) { return x == k % 3 ? 1 : 0; }));
    frames[0].SetFrameDelay(10); // frame 0 alone is the still
    std::vector<CxImage *> pointers;
    for (CxImage &f : frames)
        pointers.push_back(&f);
    CxImageGIF writer;
    const Bytes file = EncodeFrames(writer, pointers, false);

    CxImage last;
    ASSERT_TRUE(DecodeFrame(file, 599, last));
    EXPECT_EQ(last.GetNumFrames(), 600);
    ExpectSamePixels(frames[599], last, "frame 599");
    for (int k = 0; k < 600; ++k) {
        CxImage img;
        ASSERT_TRUE(DecodeFrame(file, k, img)) << k;
        ExpectSamePixels(frames[std::size_t(k)], img, "frame " + std::to_string(k));
    }
    EXPECT_FALSE(DecodeFrame(file, 600, last));
}

TEST(GifEncode, ReportsBadInputAndFailingStreams)
{
    CxImage img = Paletted(40, 40, {Rgb(0, 0, 0), Rgb(255, 255, 255)}, [](int x, int y) { return (x ^ y) & 1; });
    CxImage *frames[2] = {&img, nullptr};
    CxImageGIF writer;
    const std::size_t full = EncodeFrames(writer, {&img}, false).size();
    for (std::size_t room : {std::size_t(0), std::size_t(10), full / 2, full - 1}) {
        ShortFile out(room);
        EXPECT_FALSE(writer.Encode(&out, frames, 1, false)) << room;
    }
    CxMemFile mem;
    ASSERT_TRUE(mem.Open());
    EXPECT_FALSE(writer.Encode(&mem, frames, 2, false)) << "missing frame";
    EXPECT_FALSE(writer.Encode(&mem, frames, 0, false));
    CxImage empty;
    frames[0] = &empty;
    EXPECT_FALSE(writer.Encode(&mem, frames, 1, false));
    // Wider than a GIF can say, and a screen (the largest width by the
    // largest height) beyond the picture limits.
    CxImage wide, tall, flat;
    ASSERT_TRUE(wide.Create(70000, 1, 8));
    ASSERT_TRUE(tall.Create(1, 65535, 8));
    ASSERT_TRUE(flat.Create(65535, 1, 8));
    frames[0] = &wide;
    EXPECT_FALSE(writer.Encode(&mem, frames, 1, false));
    frames[0] = &tall;
    frames[1] = &flat;
    EXPECT_FALSE(writer.Encode(&mem, frames, 2, false));
    EXPECT_EQ(mem.Size(), 0) << "nothing written for refused input";
}

TEST(GifEncode, CommentIsCutToFourKilobytes)
{
    CxImageGIF gif;
    gif.SetComment(std::string(5000, 'c').c_str());
    EXPECT_EQ(gif.GetComment().size(), 4096u);
    std::string text(4094, 'a');
    text += "\xE2\x82\xAC";  // a euro sign across the limit is dropped whole
    gif.SetComment(text.c_str());
    EXPECT_EQ(gif.GetComment(), std::string(4094, 'a'));
    gif.SetComment(nullptr);
    EXPECT_EQ(gif.GetComment(), "");
}

// Colour frames go through the colour reduction of DecreaseBpp.
TEST(GifEncodeColour, QuantisedFramesKeepTheirLookAndTransparency)
{
    CxImage photo = MakeTestImage(32, 24);
    ASSERT_TRUE(photo.AlphaCreate());
    for (int y = 4; y < 10; ++y)
        for (int x = 4; x < 12; ++x)
            photo.AlphaGetPointer(y)[x] = 0;
    photo.SetTransColor(Rgb(1, 2, 3));
    CxImage opaque = MakeTestImage(32, 24);
    opaque.SetTransColor(Rgb(255, 0, 255));
    photo.SetFrameDelay(10); // frame 0 alone is the still

    CxImageGIF writer;
    const Bytes file = EncodeFrames(writer, {&photo, &opaque}, false);
    for (int k = 0; k < 2; ++k) {
        CxImage back;
        ASSERT_TRUE(DecodeFrame(file, k, back)) << k;
        ASSERT_EQ(back.GetWidth(), 32);
        const CxImage &src = k == 0 ? photo : opaque;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(back.GetPixelColor(x, y).rgbReserved, src.GetPixelColor(x, y).rgbReserved) << x << "," << y;
        EXPECT_GT(Psnr(src, back), 25.0) << "frame " << k;
    }
    CxImage first;
    ASSERT_TRUE(DecodeFrame(file, 0, first));
    ASSERT_GE(first.GetTransIndex(), 0);
    EXPECT_TRUE(first.GetPaletteColor(first.GetTransIndex()) == Rgb(1, 2, 3));
    CxImage second;
    ASSERT_TRUE(DecodeFrame(file, 1, second));
    EXPECT_FALSE(second.IsTransparent()) << "a transparent colour alone makes nothing transparent";
}
