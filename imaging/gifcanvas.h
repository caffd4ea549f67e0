// The part of a GIF's logical screen that frames are composed on.
//
// A file's screen size is trusted only as far as its frames can fill it:
// real animations paint most of their screen (the first frame usually all of
// it), while a hostile one declares a 16384 x 16383 screen for a 1 x 1
// frame. When the screen holds more than four times the pixels the frames'
// data can paint (and more than 256 x 256), the canvas is clipped to the
// bounding box of the frames on it, as browsers do with a bogus screen;
// when even that box is that much larger than what they paint, the file is
// refused. What the frames can paint is bounded by their LZW data: a code of
// w bits stands for fewer than 2^w pixels and code k after a clear for at
// most k + 1, so a few bytes never describe a large picture.
#pragma once

#include <cstdint>
#include <vector>

namespace gifcanvas {

// An image frame as its descriptor places it, and the bytes of its LZW data
// (sub-block payloads, without the length bytes).
struct Frame {
    std::int64_t left = 0, top = 0, width = 0, height = 0;
    std::uint64_t dataBytes = 0;
};

// The composed area in screen coordinates.
struct Area {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Area &) const = default;
};

// Most pixels LZW data of that many bytes can decode to.
std::uint64_t MaxLzwPixels(std::uint64_t dataBytes);

// Chooses the canvas of a screen of width x height (both > 0); false when
// the screen is refused.
bool Choose(int width, int height, const std::vector<Frame> &frames, Area &area);

} // namespace gifcanvas
