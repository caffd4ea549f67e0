// The GIF block walker of the picture control over arbitrary bytes: every
// block length and frame it reports lies inside the data, frames follow one
// another, and each frame rebuilt as a GIF of its own walks again as exactly
// that one frame.
#include "controls/gifblockwalker.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const CGifBlockWalker walker(data, size);
    // Lengths from any position, not only where blocks really start.
    for (std::size_t pos = 0; pos < std::min<std::size_t>(size, 64); ++pos)
        Require(walker.BlockLength(pos) <= size - pos);

    const std::vector<GifFrameInfo> frames = walker.Frames();
    Require(frames.empty() || walker.HasHeader());
    std::size_t end = walker.GetFirstBlock();
    for (const GifFrameInfo &f : frames) {
        Require(f.start >= end && f.start < size);
        Require(f.length > 0 && f.length <= size - f.start);
        Require(f.disposal >= 0 && f.disposal <= 7);
        end = f.start + f.length;

        const std::vector<std::uint8_t> one = walker.BuildFrameGif(f);
        Require(one.size() == walker.GetFirstBlock() + f.length + 1 && one.back() == ';');
        const std::vector<GifFrameInfo> again = CGifBlockWalker(one.data(), one.size()).Frames();
        Require(again.size() == 1);
        const GifFrameInfo &g = again.front();
        Require(g.start == walker.GetFirstBlock() && g.length == f.length);
        Require(g.delay == f.delay && g.disposal == f.disposal && g.isImage == f.isImage);
        Require(g.left == f.left && g.top == f.top && g.width == f.width && g.height == f.height);
    }
    return 0;
}
