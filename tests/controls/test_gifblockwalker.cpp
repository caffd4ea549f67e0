#include "tests/controls/gif_builder.h"
#include "controls/gifblockwalker.h"

#include <gtest/gtest.h>

using gifbuild::Bytes;

namespace {

// GIF bytes written block by block; each block's start and length noted.
struct HandGif {
    Bytes bytes;
    std::vector<std::pair<std::size_t, std::size_t>> blocks;

    HandGif()
    {
        // 4 x 4 screen with a global table of two entries.
        static const std::uint8_t header[] = {'G',  'I', 'F', '8', '9', 'a', 4,   0,   4,  0,
                                              0x80, 0,   0,   0,   0,   0,   255, 255, 255};
        bytes.assign(std::begin(header), std::end(header));
    }
    HandGif &Block(const Bytes &fixed, const std::vector<int> &subBlocks, bool chained = true)
    {
        const std::size_t start = bytes.size();
        bytes.insert(bytes.end(), fixed.begin(), fixed.end());
        for (const int n : subBlocks) {
            bytes.push_back(std::uint8_t(n));
            bytes.insert(bytes.end(), std::size_t(n), 0x41);
        }
        if (chained)
            bytes.push_back(0);
        blocks.emplace_back(start, bytes.size() - start);
        return *this;
    }
    HandGif &Control(int delay, int disposal)
    {
        return Block({'!', 0xF9, 4, std::uint8_t(disposal << 2), std::uint8_t(delay), 0, 0, 0}, {}, false);
    }
    // A 2 x 2 image at (x, y) with a local table of 2^(bits+1) entries, none when bits < 0.
    HandGif &Image(int x, int y, int bits, const std::vector<int> &sub)
    {
        const std::uint8_t flags = std::uint8_t(bits >= 0 ? 0x80 | bits : 0);
        Bytes fixed = {',', std::uint8_t(x), 0, std::uint8_t(y), 0, 2, 0, 2, 0, flags};
        if (bits >= 0)
            fixed.insert(fixed.end(), std::size_t(3) << (bits + 1), 0x11);
        fixed.push_back(2); // LZW code size
        return Block(fixed, sub);
    }
    HandGif &App(const std::vector<int> &sub)
    {
        return Block({'!', 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, sub);
    }
    HandGif &Comment(const std::vector<int> &sub) { return Block({'!', 0xFE}, sub); }
    HandGif &Text(const std::vector<int> &sub)
    {
        return Block({'!', 0x01, 12, 1, 0, 2, 0, 3, 0, 4, 0, 8, 8, 1, 0}, sub);
    }
    HandGif &Raw(std::uint8_t b) { return Block({b}, {}, false); }
};

// Walks an exact-size copy, so a read past the end leaves the heap block.
std::vector<GifFrameInfo> FramesOf(const Bytes &bytes)
{
    const Bytes copy(bytes);
    return CGifBlockWalker(copy.data(), copy.size()).Frames();
}

} // namespace

TEST(GifBlockWalker, BlockLengthsFollowTheBlockTable)
{
    HandGif g;
    g.App({3, 255})
        .Comment({1, 5})
        .Comment({})
        .Control(7, 0)
        .Text({4})
        .Image(0, 0, 1, {2, 1})
        .Image(1, 1, -1, {3})
        .Raw(';');
    const std::vector<GifBlockKind> kinds = {
        GifBlockKind::Application, GifBlockKind::Comment, GifBlockKind::Comment, GifBlockKind::GraphicControl,
        GifBlockKind::PlainText,   GifBlockKind::Image,   GifBlockKind::Image,   GifBlockKind::Trailer};
    const CGifBlockWalker walker(g.bytes.data(), g.bytes.size());
    EXPECT_EQ(walker.GetColourTableSize(), 6u);
    EXPECT_EQ(walker.GetFirstBlock(), g.blocks[0].first);
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(walker.KindAt(g.blocks[i].first), kinds[i]) << i;
        EXPECT_EQ(walker.BlockLength(g.blocks[i].first), g.blocks[i].second) << i;
    }
    g.bytes[g.blocks[1].first + 1] = 0x02; // an extension label outside the table
    const CGifBlockWalker unknown(g.bytes.data(), g.bytes.size());
    EXPECT_EQ(unknown.KindAt(g.blocks[1].first), GifBlockKind::Other);
    EXPECT_EQ(unknown.BlockLength(g.blocks[1].first), 0u);
    EXPECT_EQ(walker.BlockLength(g.bytes.size()), 0u);
}

TEST(GifBlockWalker, WhereFramesBeginAndEnd)
{
    HandGif g;
    // A bare image after leading extensions; a frame from its control
    // extension through further extensions to its image; a plain text frame;
    // two control extensions of which the last counts.
    g.App({3}).Comment({2}).Image(1, 2, -1, {1});
    g.Control(20, 2).Comment({1}).App({2}).Image(0, 0, 0, {5});
    g.Control(30, 1).Text({1});
    g.Control(40, 2).Control(45, 3).Image(0, 0, -1, {1});
    g.Control(50, 0).Raw(';').Image(0, 0, -1, {1}); // no picture before the trailer
    const auto &b = g.blocks;
    const std::vector<GifFrameInfo> f = FramesOf(g.bytes);
    ASSERT_EQ(f.size(), 4u);
    const std::size_t firsts[] = {2, 3, 7, 9}, lasts[] = {2, 6, 8, 11};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(f[k].start, b[firsts[k]].first) << k;
        EXPECT_EQ(f[k].start + f[k].length, b[lasts[k]].first + b[lasts[k]].second) << k;
    }
    EXPECT_FALSE(f[0].hasControl);
    EXPECT_EQ(f[0].delay, 0);
    EXPECT_EQ(f[0].left, 1);
    EXPECT_EQ(f[0].top, 2);
    EXPECT_EQ(f[1].delay, 20);
    EXPECT_EQ(f[1].disposal, 2);
    EXPECT_FALSE(f[2].isImage);
    EXPECT_EQ(f[3].delay, 45);
    EXPECT_EQ(f[3].disposal, 3);

    HandGif stop;
    stop.Image(0, 0, -1, {1}).Raw(0x00).Image(0, 0, -1, {1}); // an unknown byte ends the walk
    EXPECT_EQ(FramesOf(stop.bytes).size(), 1u);
}
