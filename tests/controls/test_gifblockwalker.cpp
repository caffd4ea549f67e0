#include "gif_builder.h"
#include "gifblockwalker.h"

#include <QBuffer>
#include <QImageReader>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using gifbuild::Bytes;
using gifbuild::FrameSpec;

namespace {

// Builds GIF bytes block by block, remembering where each block starts and
// how long it was written.
struct HandGif {
    Bytes bytes;
    std::vector<std::pair<std::size_t, std::size_t>> blocks;  // start, length

    void Header(int w, int h, std::uint8_t packed)
    {
        Raw({'G', 'I', 'F', '8', '9', 'a', std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(h),
             std::uint8_t(h >> 8), packed, 0, 0});
    }
    void Raw(const Bytes &b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    void Add(const Bytes &fixed, const std::vector<int> &subBlocks = {}, bool terminated = true)
    {
        const std::size_t start = bytes.size();
        Raw(fixed);
        for (const int n : subBlocks) {
            bytes.push_back(std::uint8_t(n));
            for (int i = 0; i < n; ++i)
                bytes.push_back(std::uint8_t(0x40 + i));
        }
        if (terminated && (!subBlocks.empty() || fixed.size() > 1))
            bytes.push_back(0);
        blocks.emplace_back(start, bytes.size() - start);
    }
    void Application(const std::vector<int> &sub)
    {
        Add({'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, sub);
    }
    void Comment(const std::vector<int> &sub) { Add({'!', 0xFE}, sub); }
    void Control(int delay, int disposal)
    {
        const std::size_t start = bytes.size();
        Raw({'!', 0xF9, 4, std::uint8_t(disposal << 2), std::uint8_t(delay), std::uint8_t(delay >> 8), 0, 0});
        blocks.emplace_back(start, 8);
    }
    void PlainText(const std::vector<int> &sub)
    {
        Add({'!', 0x01, 12, 1, 0, 2, 0, 3, 0, 4, 0, 8, 8, 1, 0}, sub);
    }
    // An image descriptor with an optional local table of 2^(n+1) entries.
    void Image(int x, int y, int w, int h, int tableBits, const std::vector<int> &sub)
    {
        Bytes fixed{',', std::uint8_t(x), std::uint8_t(x >> 8), std::uint8_t(y), std::uint8_t(y >> 8),
                    std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(h), std::uint8_t(h >> 8),
                    std::uint8_t(tableBits >= 0 ? 0x80 | tableBits : 0)};
        if (tableBits >= 0)
            fixed.insert(fixed.end(), std::size_t(3) << (tableBits + 1), 0x11);
        fixed.push_back(2);  // LZW code size
        Add(fixed, sub);
    }
    void Trailer()
    {
        blocks.emplace_back(bytes.size(), 1);
        bytes.push_back(';');
    }
};

std::vector<GifFrameInfo> FramesOf(const Bytes &bytes)
{
    // An exact-size copy, so a read past the end is a read past the heap block.
    const Bytes copy(bytes.begin(), bytes.end());
    return CGifBlockWalker(copy.data(), copy.size()).Frames();
}

}  // namespace

TEST(GifBlockWalker, SplitsOurAnimationIntoFramesThatStandAlone)
{
    const std::vector<FrameSpec> specs = {{Qt::red, 8, 6, 0, 0, 10, 1},
                                          {Qt::green, 3, 2, 4, 1, 3, 2},
                                          {Qt::blue, 2, 5, 1, 1, 250, 3}};
    const Bytes gif = gifbuild::BuildAnimation(specs, 8, 6);
    ASSERT_FALSE(gif.empty());
    const std::vector<std::size_t> controls = gifbuild::ControlPositions(gif);
    const CGifBlockWalker walker(gif.data(), gif.size());
    ASSERT_TRUE(walker.IsGif());
    ASSERT_TRUE(walker.HasHeader());
    EXPECT_EQ(walker.GetWidth(), 8);
    EXPECT_EQ(walker.GetHeight(), 6);
    // Loop count and comment come before the first frame.
    EXPECT_EQ(walker.KindAt(walker.GetFirstBlock()), GifBlockKind::Application);

    const std::vector<GifFrameInfo> frames = walker.Frames();
    ASSERT_EQ(frames.size(), specs.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        SCOPED_TRACE(k);
        const GifFrameInfo &f = frames[k];
        EXPECT_EQ(f.start, controls[k]);
        const std::size_t end = k + 1 < controls.size() ? controls[k + 1] : gif.size() - 1;
        EXPECT_EQ(f.start + f.length, end);
        EXPECT_TRUE(f.hasControl);
        EXPECT_TRUE(f.isImage);
        EXPECT_EQ(f.delay, specs[k].delay);
        EXPECT_EQ(f.disposal, specs[k].disposal);
        EXPECT_EQ(f.left, specs[k].left);
        EXPECT_EQ(f.top, specs[k].top);
        EXPECT_EQ(f.width, specs[k].width);
        EXPECT_EQ(f.height, specs[k].height);

        const Bytes one = walker.BuildFrameGif(f);
        ASSERT_EQ(one.size(), walker.GetFirstBlock() + f.length + 1);
        EXPECT_EQ(std::memcmp(one.data(), gif.data(), walker.GetFirstBlock()), 0);
        EXPECT_EQ(one.back(), ';');
        const std::vector<GifFrameInfo> again = FramesOf(one);
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0].start, walker.GetFirstBlock());
        EXPECT_EQ(again[0].delay, f.delay);
        EXPECT_EQ(again[0].width, f.width);

        // Another reader accepts the one-frame GIF and shows the frame's colour.
        QByteArray raw(reinterpret_cast<const char *>(one.data()), qsizetype(one.size()));
        QBuffer buffer(&raw);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        QImage image;
        ASSERT_TRUE(QImageReader(&buffer, "gif").read(&image));
        EXPECT_EQ(image.pixelColor(f.left, f.top), specs[k].colour);
    }
}

TEST(GifBlockWalker, BlockLengthsFollowTheBlockTable)
{
    HandGif g;
    g.Header(4, 4, 0x80);  // global table of 2 entries
    g.Raw(Bytes(6, 0));
    const CGifBlockWalker header(g.bytes.data(), g.bytes.size());
    EXPECT_EQ(header.GetColourTableSize(), 6u);
    EXPECT_EQ(header.GetFirstBlock(), 19u);

    g.Application({3, 0xFF});
    g.Comment({1, 5});
    g.Control(7, 0);
    g.PlainText({4});
    g.Image(0, 0, 4, 4, 1, {2, 1});  // local table of 4 entries
    g.Image(1, 1, 2, 2, -1, {3});
    g.Add({'!', 0xFE}, {}, true);  // a comment with no data: just the terminator
    g.Trailer();
    const std::vector<GifBlockKind> kinds = {GifBlockKind::Application, GifBlockKind::Comment,
                                             GifBlockKind::GraphicControl, GifBlockKind::PlainText,
                                             GifBlockKind::Image, GifBlockKind::Image,
                                             GifBlockKind::Comment, GifBlockKind::Trailer};
    const Bytes bytes = g.bytes;
    const CGifBlockWalker walker(bytes.data(), bytes.size());
    ASSERT_EQ(g.blocks.size(), kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(walker.KindAt(g.blocks[i].first), kinds[i]);
        EXPECT_EQ(walker.BlockLength(g.blocks[i].first), g.blocks[i].second);
    }
    // Bytes outside the table end the walk and have no length.
    Bytes other = bytes;
    other[g.blocks[1].first + 1] = 0x02;  // an extension label the table does not name
    const CGifBlockWalker unknown(other.data(), other.size());
    EXPECT_EQ(unknown.KindAt(g.blocks[1].first), GifBlockKind::Other);
    EXPECT_EQ(unknown.BlockLength(g.blocks[1].first), 0u);
    EXPECT_EQ(walker.KindAt(bytes.size()), GifBlockKind::Other);
    EXPECT_EQ(walker.BlockLength(bytes.size()), 0u);
}

TEST(GifBlockWalker, FrameBoundaries)
{
    {
        SCOPED_TRACE("extensions before a bare image are skipped; the frame is the image");
        HandGif g;
        g.Header(4, 4, 0);
        g.Application({3});
        g.Comment({2});
        g.Image(1, 2, 3, 2, -1, {1});
        g.Trailer();
        const std::vector<GifFrameInfo> f = FramesOf(g.bytes);
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].start, g.blocks[2].first);
        EXPECT_EQ(f[0].length, g.blocks[2].second);
        EXPECT_FALSE(f[0].hasControl);
        EXPECT_EQ(f[0].delay, 0);
        EXPECT_EQ(f[0].left, 1);
        EXPECT_EQ(f[0].top, 2);
    }
    {
        SCOPED_TRACE("a frame runs from its control extension through its image");
        HandGif g;
        g.Header(4, 4, 0);
        g.Control(20, 2);
        g.Comment({1});
        g.Application({2});
        g.Image(0, 0, 4, 4, 0, {5});
        g.Control(30, 1);
        g.PlainText({1});
        g.Trailer();
        const std::vector<GifFrameInfo> f = FramesOf(g.bytes);
        ASSERT_EQ(f.size(), 2u);
        EXPECT_EQ(f[0].start, g.blocks[0].first);
        EXPECT_EQ(f[0].start + f[0].length, g.blocks[3].first + g.blocks[3].second);
        EXPECT_EQ(f[0].delay, 20);
        EXPECT_EQ(f[0].disposal, 2);
        EXPECT_TRUE(f[0].isImage);
        // A plain text extension also ends a frame; it is no picture.
        EXPECT_EQ(f[1].start, g.blocks[4].first);
        EXPECT_EQ(f[1].start + f[1].length, g.blocks[5].first + g.blocks[5].second);
        EXPECT_FALSE(f[1].isImage);
        EXPECT_EQ(f[1].delay, 30);
    }
    {
        SCOPED_TRACE("of two control extensions the last one counts");
        HandGif g;
        g.Header(4, 4, 0);
        g.Control(20, 2);
        g.Control(45, 3);
        g.Image(0, 0, 4, 4, -1, {1});
        g.Trailer();
        const std::vector<GifFrameInfo> f = FramesOf(g.bytes);
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].start, g.blocks[0].first);
        EXPECT_EQ(f[0].delay, 45);
        EXPECT_EQ(f[0].disposal, 3);
    }
    {
        SCOPED_TRACE("a control extension with no picture after it is no frame");
        HandGif g;
        g.Header(4, 4, 0);
        g.Image(0, 0, 4, 4, -1, {1});
        g.Control(20, 0);
        g.Trailer();
        g.Image(0, 0, 4, 4, -1, {1});  // past the trailer: never reached
        EXPECT_EQ(FramesOf(g.bytes).size(), 1u);
    }
    {
        SCOPED_TRACE("an unknown byte ends the walk");
        HandGif g;
        g.Header(4, 4, 0);
        g.Image(0, 0, 4, 4, -1, {1});
        g.Raw({0x00});
        g.Image(0, 0, 4, 4, -1, {1});
        EXPECT_EQ(FramesOf(g.bytes).size(), 1u);
    }
}

TEST(GifBlockWalker, CutDataKeepsOnlyTheFramesBeforeTheCut)
{
    const std::vector<FrameSpec> specs = {{Qt::red, 6, 4}, {Qt::yellow, 3, 3, 1, 1}, {Qt::cyan, 5, 2, 0, 2}};
    const Bytes gif = gifbuild::BuildAnimation(specs, 6, 4);
    const std::vector<std::size_t> controls = gifbuild::ControlPositions(gif);
    ASSERT_EQ(controls.size(), 3u);
    const std::vector<GifFrameInfo> whole = FramesOf(gif);
    ASSERT_EQ(whole.size(), 3u);
    for (std::size_t cut = 0; cut <= gif.size(); ++cut) {
        SCOPED_TRACE(cut);
        const std::vector<GifFrameInfo> frames = FramesOf(Bytes(gif.begin(), gif.begin() + std::ptrdiff_t(cut)));
        std::size_t complete = 0;
        for (std::size_t k = 0; k < controls.size(); ++k) {
            const std::size_t end = k + 1 < controls.size() ? controls[k + 1] : gif.size() - 1;
            complete += end <= cut ? 1 : 0;
        }
        ASSERT_EQ(frames.size(), complete);
        for (std::size_t k = 0; k < frames.size(); ++k) {
            EXPECT_EQ(frames[k].start, whole[k].start);
            EXPECT_EQ(frames[k].length, whole[k].length);
        }
    }
}

TEST(GifBlockWalker, HostileLengthsNeverReachPastTheData)
{
    HandGif base;
    base.Header(4, 4, 0);
    base.Control(10, 0);
    base.Image(0, 0, 4, 4, -1, {4});
    const std::size_t image = base.blocks[1].first;
    {
        SCOPED_TRACE("a data sub-block longer than what is left");
        Bytes b = base.bytes;
        b[image + 11] = 200;
        const Bytes copy(b.begin(), b.end());
        EXPECT_EQ(CGifBlockWalker(copy.data(), copy.size()).BlockLength(image), 0u);
        EXPECT_TRUE(FramesOf(b).empty());
    }
    {
        SCOPED_TRACE("a local colour table beyond the end");
        Bytes b = base.bytes;
        b[image + 9] = 0x87;  // 768 bytes of table that are not there
        EXPECT_TRUE(FramesOf(b).empty());
    }
    {
        SCOPED_TRACE("a descriptor cut before its flags");
        const Bytes b(base.bytes.begin(), base.bytes.begin() + std::ptrdiff_t(image + 9));
        EXPECT_EQ(CGifBlockWalker(b.data(), b.size()).BlockLength(image), 0u);
        EXPECT_TRUE(FramesOf(b).empty());
    }
    {
        SCOPED_TRACE("a global colour table beyond the end");
        Bytes b = base.bytes;
        b[10] = 0x87;
        EXPECT_TRUE(FramesOf(b).empty());
    }
    {
        SCOPED_TRACE("the signature without a whole header");
        const Bytes b = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1};
        const CGifBlockWalker walker(b.data(), b.size());
        EXPECT_TRUE(walker.IsGif());
        EXPECT_FALSE(walker.HasHeader());
        EXPECT_TRUE(walker.Frames().empty());
        EXPECT_FALSE(CGifBlockWalker(nullptr, 100).IsGif());
    }
    {
        SCOPED_TRACE("a frame that does not lie in the data is not rebuilt");
        const CGifBlockWalker walker(base.bytes.data(), base.bytes.size());
        GifFrameInfo forged;
        forged.start = walker.GetFirstBlock();
        forged.length = std::numeric_limits<std::size_t>::max();
        EXPECT_TRUE(walker.BuildFrameGif(forged).empty());
        forged.start = base.bytes.size() + 1;
        forged.length = 1;
        EXPECT_TRUE(walker.BuildFrameGif(forged).empty());
        forged.start = 2;  // inside the header
        EXPECT_TRUE(walker.BuildFrameGif(forged).empty());
    }
}
