// The AC scans of progressive JPEGs are read by our own code, a large file's
// components on two threads at once; what comes out must be what libjpeg
// alone makes of the file, for any scan layout, scale or damage.
#include "imaging/codecs/codecs.h"
#include "tests/imaging/jpeg_png_tiff_helpers.h"
#include "imaging/largeblocks.h"
#include "imaging/resampledrows.h"
#include "imaging/runresources.h"
#include "imaging/testhooks.h"

#include <sys/stat.h>

using namespace codectest;
using namespace testsupport;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Decodes bytes with libjpeg reading every scan (threads 0), or with our AC
// scan reader on this thread alone (1) or with a helper (2), at full size or
// covering the hint; a cut-off file fails or shows what arrived.
bool DecodeWith(int threads, const Bytes &bytes, CxImage &out, int hintW = 0, int hintH = 0,
                bool acceptTruncated = false)
{
    CxImage::SetThreadLimit(std::max(threads, 1));
    cxcodec::testhooks::SetJpegOwnAcScans(threads > 0);
    const CxDecodeRequest req{.hintWidth = hintW, .hintHeight = hintH, .acceptTruncated = acceptTruncated};
    const bool ok = out.Decode(bytes.data(), bytes.size(), CXIMAGE_FORMAT_JPG, req);
    cxcodec::testhooks::SetJpegOwnAcScans(true);
    CxImage::SetThreadLimit(0);
    return ok;
}

// Decodes bytes on one thread into a width x height picture, shrunk as the
// rows come where the sink takes them (taken), else decoded whole.
bool DecodeShrunk(const Bytes &bytes, int width, int height, CxImage &out, bool &taken, int hint = 0,
                  bool acceptTruncated = false)
{
    CxImage::SetThreadLimit(1);
    ResampledRows rows([&](int, int, const CxMetadata &, int &w, int &h) {
        w = width;
        h = height;
        return true;
    });
    const CxDecodeRequest req{.hintWidth = hint, .hintHeight = hint, .acceptTruncated = acceptTruncated};
    bool ok = out.DecodeRows(bytes.data(), bytes.size(), rows, req);
    taken = ok && !out.IsValid();
    if (taken)
        ok = rows.Take(out, req.autoOrient);
    CxImage::SetThreadLimit(0);
    return ok;
}

// What shrinking a whole decode gives.
void ExpectResampledFrom(const CxImage &whole, int width, int height, const CxImage &shrunk)
{
    CxImage expected(whole);
    ASSERT_TRUE(expected.Resample(width, height, 0));
    ExpectIdentical(expected, shrunk);
}

struct Layout {
    const char *name;
    ScanScript script;
    bool subsample;
    int restartRows;
    bool helper; // a complete script: our reader takes it, with a helper
};

// Where each scan of a JPEG starts and ends (its marker to the next marker
// that is not stuffing or a restart), and where its quantisation tables are.
struct Segments {
    std::vector<std::pair<std::size_t, std::size_t>> scans;
    std::pair<std::size_t, std::size_t> dqt{0, 0};
};

Segments FindSegments(const Bytes &b)
{
    Segments out;
    std::size_t pos = 2;
    while (pos + 4 <= b.size() && b[pos] == 0xFF) {
        const std::uint8_t marker = b[pos + 1];
        if (marker == 0xD9)
            break;
        const std::size_t length = std::size_t(b[pos + 2]) << 8 | b[pos + 3];
        std::size_t end = pos + 2 + length;
        if (marker == 0xDA) {
            while (end + 1 < b.size() &&
                   !(b[end] == 0xFF && b[end + 1] != 0x00 && (b[end + 1] < 0xD0 || b[end + 1] > 0xD7)))
                ++end;
            out.scans.emplace_back(pos, end);
        } else if (marker == 0xDB && out.dqt.second == 0) {
            out.dqt = {pos, end};
        }
        pos = end;
    }
    return out;
}

Bytes Inserted(const Bytes &b, std::size_t at, const Bytes &piece)
{
    Bytes out(b.begin(), b.begin() + std::ptrdiff_t(at));
    out.insert(out.end(), piece.begin(), piece.end());
    out.insert(out.end(), b.begin() + std::ptrdiff_t(at), b.end());
    return out;
}

Bytes Slice(const Bytes &b, std::pair<std::size_t, std::size_t> range)
{
    return Bytes(b.begin() + std::ptrdiff_t(range.first), b.begin() + std::ptrdiff_t(range.second));
}

const Layout kLayouts[] = {
    {"standard 4:4:4", ScanScript::Standard, false, 0, true},
    {"standard 4:2:0", ScanScript::Standard, true, 0, true},
    {"DC per component", ScanScript::DcPerComponent, false, 0, true},
    {"restart intervals", ScanScript::DcPerComponent, true, 3, true},
    {"incomplete script", ScanScript::Incomplete, false, 0, false},
};

} // namespace

TEST(JpegThreads, TwoThreadsDecodeExactlyWhatOneDoes)
{
    // 1200 x 1000: about 7 MB of coefficients at 4:4:4, 3.5 MB at 4:2:0
    // (1600 x 1400 there, to stay above what is worth a helper).
    for (const Layout &l : kLayouts) {
        SCOPED_TRACE(l.name);
        const int w = l.subsample ? 1600 : 1200, h = l.subsample ? 1400 : 1000;
        const Bytes bytes =
            WriteProgressiveJpeg(MakeTexturedImage(w, h, 7), l.script, l.subsample, l.restartRows);
        for (const int hint : {0, 500}) {
            SCOPED_TRACE(hint);
            CxImage alone, one, two;
            ASSERT_TRUE(DecodeWith(0, bytes, alone, hint, hint)) << alone.GetLastError();
            const int byRow = cxcodec::testhooks::JpegDecodesByRow();
            ASSERT_TRUE(DecodeWith(1, bytes, one, hint, hint)) << one.GetLastError();
            // On one thread a complete script's coefficients are never held whole.
            EXPECT_EQ(cxcodec::testhooks::JpegDecodesByRow() - byRow, l.helper ? 1 : 0);
            const int before = cxcodec::testhooks::JpegDecodesWithHelper();
            ASSERT_TRUE(DecodeWith(2, bytes, two, hint, hint)) << two.GetLastError();
            EXPECT_EQ(cxcodec::testhooks::JpegDecodesWithHelper() - before, l.helper ? 1 : 0);
            ASSERT_EQ(alone.GetWidth(), hint ? (w + 1) / 2 : w);
            ExpectIdentical(alone, one);
            ExpectIdentical(alone, two);
            // Shrunk as the rows come, still never held whole.
            CxImage shrunk;
            bool taken = false;
            ASSERT_TRUE(DecodeShrunk(bytes, 301, 251, shrunk, taken, hint)) << shrunk.GetLastError();
            EXPECT_TRUE(taken);
            EXPECT_EQ(cxcodec::testhooks::JpegDecodesByRow() - byRow, l.helper ? 2 : 0);
            ExpectResampledFrom(alone, 301, 251, shrunk);
        }
    }
}

TEST(JpegThreads, DamagedFilesFailOrDecodeAsOnOneThread)
{
    const Bytes good =
        WriteProgressiveJpeg(MakeTexturedImage(1200, 1000, 3), ScanScript::DcPerComponent, false, 0);
    // Cut short inside each part of the scan sequence, bytes overwritten in
    // the colour scans the helper reads and in the luminance ones, and the
    // odd layouts below.
    std::vector<Bytes> damaged;
    for (int i = 1; i < 10; ++i)
        damaged.emplace_back(good.begin(), good.begin() + std::ptrdiff_t(good.size() * std::size_t(i) / 10));
    for (int i = 1; i < 10; ++i) {
        Bytes b = good;
        for (std::size_t k = 0; k < 16; ++k)
            b[b.size() * std::size_t(i) / 10 + k * 7] ^= 0x5A;
        damaged.push_back(b);
    }
    Bytes noEnd = good;
    noEnd.resize(noEnd.size() - 2);
    damaged.push_back(noEnd);
    // A scan header too short to hold anything, at the very end of the data.
    Bytes shortScan = noEnd;
    for (const std::uint8_t b : {0xFF, 0xDA, 0x00, 0x02})
        shortScan.push_back(b);
    damaged.push_back(shortScan);
    // Legal but unusual layouts: quantisation tables defined again after
    // the first scan; an early luminance scan sent again at the end (its
    // coefficients are then less precise than the last full refinement);
    // hundreds of repeats of the first scan.
    const Segments seg = FindSegments(good);
    ASSERT_GE(seg.scans.size(), 10u);
    ASSERT_NE(seg.dqt.second, 0u);
    damaged.push_back(Inserted(good, seg.scans[0].second, Slice(good, seg.dqt)));
    const Bytes standard =
        WriteProgressiveJpeg(MakeTexturedImage(1200, 1000, 5), ScanScript::Standard, false);
    const Segments stdSeg = FindSegments(standard);
    ASSERT_GE(stdSeg.scans.size(), 10u);
    // (with the Huffman tables written before it)
    damaged.push_back(Inserted(standard, standard.size() - 2,
                               Slice(standard, {stdSeg.scans[0].second, stdSeg.scans[1].second})));
    Bytes flood = good;
    for (int i = 0; i < 300; ++i)
        flood = Inserted(flood, seg.scans[0].second, Slice(good, seg.scans[0]));
    damaged.push_back(flood);
    // The same when a viewer asks for what arrived of a cut-off file: the
    // first nine then decode.
    const int redone = cxcodec::testhooks::JpegDecodesRedone();
    for (const bool accept : {false, true}) {
        for (std::size_t i = 0; i < damaged.size(); ++i) {
            SCOPED_TRACE(testing::Message() << i << (accept ? ", accepting cut-off files" : ""));
            CxImage alone, one, two, shrunk;
            bool taken = false;
            const bool okAlone = DecodeWith(0, damaged[i], alone, 0, 0, accept);
            const bool okOne = DecodeWith(1, damaged[i], one, 0, 0, accept);
            const bool okTwo = DecodeWith(2, damaged[i], two, 0, 0, accept);
            const bool okShrunk = DecodeShrunk(damaged[i], 500, 400, shrunk, taken, 0, accept);
            ASSERT_EQ(okAlone, okOne);
            ASSERT_EQ(okAlone, okTwo);
            ASSERT_EQ(okAlone, okShrunk);
            if (accept && i < 9) {
                EXPECT_TRUE(okAlone);
            }
            if (okAlone) {
                ExpectIdentical(alone, one);
                ExpectIdentical(alone, two);
                ExpectResampledFrom(alone, 500, 400, shrunk);
            }
        }
    }
    // Some damage shows only in the rows: those decodes began again.
    EXPECT_GT(cxcodec::testhooks::JpegDecodesRedone() - redone, 0);
}

// Sequential files too, at full and reduced scale; what the sink declines
// is decoded whole as usual.
TEST(JpegThreads, RowsShrunkAsTheyComeAreWhatAWholeDecodeResampledGives)
{
    struct Row {
        const char *name;
        CxImage image;
        int quality, width, height, hint;
        bool taken;
    };
    const Row rows[] = {
        {"4:4:4", MakeTexturedImage(640, 480, 1), 95, 300, 200, 0, true},
        {"4:2:0, odd sizes", MakeTexturedImage(641, 479, 3), 75, 213, 160, 0, true},
        {"reduced decode", MakeTexturedImage(1280, 960, 4), 90, 300, 225, 320, true},
        {"wider, not as tall", MakeTexturedImage(640, 480, 5), 90, 800, 400, 0, true},
        {"grey", MakePaletted(640, 480, 8, 256, true), 90, 300, 200, 0, true},
        {"taller", MakeTexturedImage(640, 480, 6), 90, 600, 500, 0, false},
        {"large shrink, box averaged first", MakeTexturedImage(1280, 960, 7), 90, 100, 75, 0, false},
        {"same size", MakeTexturedImage(320, 240, 8), 90, 320, 240, 0, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        CxImage source(r.image);
        source.SetJpegQuality(BYTE(r.quality));
        const Bytes bytes = EncodeBytes(source, CXIMAGE_FORMAT_JPG);
        CxImage whole, shrunk;
        bool taken = false;
        ASSERT_TRUE(DecodeWith(0, bytes, whole, r.hint, r.hint));
        ASSERT_TRUE(DecodeShrunk(bytes, r.width, r.height, shrunk, taken, r.hint)) << shrunk.GetLastError();
        EXPECT_EQ(taken, r.taken);
        if (taken) {
            ExpectResampledFrom(whole, r.width, r.height, shrunk);
            EXPECT_EQ(shrunk.GetSrcWidth(), r.image.GetWidth());
            EXPECT_EQ(shrunk.GetType(), std::uint32_t(CXIMAGE_FORMAT_JPG));
        } else {
            ExpectIdentical(whole, shrunk);
        }
    }
}

TEST(JpegThreads, ScratchMemoryIsReadFromTheHeaders)
{
    ScratchDir dir;
    const std::string progressive = dir.Path("p.jpg"), baseline = dir.Path("b.jpg");
    ASSERT_TRUE(WriteFileBytes(
        progressive, WriteProgressiveJpeg(MakeTexturedImage(1000, 600), ScanScript::Standard, true)));
    CxImage img = MakeTestImage(1000, 600);
    ASSERT_TRUE(img.Save(baseline.c_str(), CXIMAGE_FORMAT_JPG));
    // 4:2:0: luminance 125 x 75 blocks rounded up to whole 2 x 2 units,
    // each chroma component 63 x 38.
    EXPECT_EQ(CxImage::DecodeScratchBytes(progressive.c_str()), std::size_t(126 * 76 + 2 * 63 * 38) * 128);
    EXPECT_EQ(CxImage::DecodeScratchBytes(baseline.c_str()), 0u);
    EXPECT_EQ(CxImage::DecodeScratchBytes(dir.Path("missing.jpg").c_str()), 0u);
    EXPECT_EQ(CxImage::DecodeScratchBytes(dir.Root().c_str()), 0u);
    // A pipe nobody writes to is not waited for.
    const std::string fifo = dir.Path("fifo.jpg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(CxImage::DecodeScratchBytes(fifo.c_str()), 0u);
}

TEST(LargeBlocks, ReleasedBlocksServeTheNextPictureOfTheSameUse)
{
    using largeblocks::Use;
    largeblocks::Trim();
    const std::size_t mb = std::size_t(1) << 20;
    void *coef = largeblocks::Acquire(40 * mb, Use::Coefficients);
    ASSERT_NE(coef, nullptr);
    static_cast<char *>(coef)[40 * mb - 1] = 1; // all of it is usable
    largeblocks::Release(coef, 40 * mb);
    EXPECT_GE(largeblocks::KeptBytes(), 40 * mb);

    // Pixels never take the coefficients' block; a smaller request of the
    // same use does.
    void *pixels = largeblocks::Acquire(30 * mb, Use::Pixels);
    EXPECT_NE(pixels, coef);
    void *again = largeblocks::Acquire(30 * mb, Use::Coefficients);
    EXPECT_EQ(again, coef);
    largeblocks::Release(again, 30 * mb); // released with its own request size
    largeblocks::Release(pixels, 30 * mb);

    // A larger request gives back the kept blocks of its use too small for it.
    const std::size_t keptBefore = largeblocks::KeptBytes();
    void *big = largeblocks::Acquire(60 * mb, Use::Coefficients);
    ASSERT_NE(big, nullptr);
    EXPECT_LT(largeblocks::KeptBytes(), keptBefore);
    EXPECT_GE(largeblocks::KeptBytes(), 30 * mb); // the pixels' block stays
    largeblocks::Release(big, 60 * mb);

    // Small requests are ordinary allocations, never kept.
    largeblocks::Trim();
    EXPECT_EQ(largeblocks::KeptBytes(), 0u);
    void *small = largeblocks::Acquire(1000);
    ASSERT_NE(small, nullptr);
    largeblocks::Release(small, 1000);
    EXPECT_EQ(largeblocks::KeptBytes(), 0u);
}

// The bounds come from the process's resources: the defaults until they are
// applied, then the applied ones.
TEST(LargeBlocks, KeptBlocksGiveWayToNewOnesPastTheFootprintBound)
{
    using largeblocks::Use;
    const std::size_t mb = std::size_t(1) << 20;
    struct Row {
        bool apply;
        RunResources resources;
        std::size_t kept, inUse; // together past resources.keptBlocksBytes
    };
    const Row rows[] = {{false, {}, 100 * mb, 60 * mb},
                        {true, {.decodeBudgetBytes = 7 * mb, .keptBlocksBytes = 24 * mb}, 16 * mb, 12 * mb},
                        {true, {}, 100 * mb, 60 * mb}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.resources.keptBlocksBytes);
        if (row.apply)
            ApplyProcessMemorySettings(row.resources);
        EXPECT_EQ(cxcodec::JpegDecodeBudget(), row.resources.decodeBudgetBytes);
        largeblocks::Trim();
        void *coef = largeblocks::Acquire(row.kept, Use::Coefficients);
        ASSERT_NE(coef, nullptr);
        largeblocks::Release(coef, row.kept);
        EXPECT_GE(largeblocks::KeptBytes(), row.kept);
        // Kept and in use together would pass the bound: the kept block goes.
        void *pixels = largeblocks::Acquire(row.inUse, Use::Pixels);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(largeblocks::KeptBytes(), 0u);
        largeblocks::Release(pixels, row.inUse);
        EXPECT_GE(largeblocks::KeptBytes(), row.inUse);
        largeblocks::Trim();
    }
}
