// Small animated GIFs for the tests: solid frames written by our own
// encoder (each at (0, 0)), then placed on a screen of the wanted size by
// patching the screen size and each frame's offset, delay and disposal.
#pragma once

#include "imaging/cximagegif.h"

#include <QColor>

#include <cstdint>
#include <vector>

namespace gifbuild {

using Bytes = std::vector<std::uint8_t>;

struct FrameDesc {
    QColor colour;
    int width = 1, height = 1, left = 0, top = 0, delay = 10, disposal = 0;
};

// Each frame's control extension as the encoder writes it: "!" 0xF9 4, four
// bytes, a zero, and the image descriptor right after.
inline std::vector<std::size_t> ControlPositions(const Bytes &gif)
{
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i + 9 < gif.size(); ++i)
        if (gif[i] == 0x21 && gif[i + 1] == 0xF9 && gif[i + 2] == 4 && gif[i + 7] == 0 && gif[i + 8] == 0x2C)
            found.push_back(i);
    return found;
}

inline void PutWord(Bytes &gif, std::size_t pos, int value)
{
    gif[pos] = std::uint8_t(value);
    gif[pos + 1] = std::uint8_t(value >> 8);
}

// Empty when the encoder's output is not as expected. loops < 0 writes no
// loop block.
inline Bytes BuildAnimation(const std::vector<FrameDesc> &specs, int screenW, int screenH, int loops = 0)
{
    std::vector<CxImage> frames(specs.size());
    std::vector<CxImage *> pointers;
    for (std::size_t k = 0; k < specs.size(); ++k) {
        const QColor c = specs[k].colour;
        const RGBQUAD entry{BYTE(c.blue()), BYTE(c.green()), BYTE(c.red()), 0};
        if (!frames[k].Create(specs[k].width, specs[k].height, 8) || !frames[k].SetPalette(&entry, 1))
            return {};
        pointers.push_back(&frames[k]);
    }
    CxImageGIF encoder;
    encoder.SetComment("test animation"); // blocks before the first frame
    encoder.SetLoops(loops);
    CxMemFile mem;
    if (!mem.Open() || !encoder.Encode(&mem, pointers.data(), int(pointers.size())))
        return {};
    Bytes gif(mem.GetBuffer(false), mem.GetBuffer(false) + mem.Size());
    const std::vector<std::size_t> controls = ControlPositions(gif);
    if (controls.size() != specs.size())
        return {};
    PutWord(gif, 6, screenW);
    PutWord(gif, 8, screenH);
    for (std::size_t k = 0; k < specs.size(); ++k) {
        const std::size_t p = controls[k];
        gif[p + 3] = std::uint8_t((gif[p + 3] & ~0x1C) | ((specs[k].disposal & 7) << 2));
        PutWord(gif, p + 4, specs[k].delay);
        PutWord(gif, p + 9, specs[k].left);
        PutWord(gif, p + 11, specs[k].top);
    }
    return gif;
}

// Where each frame's bytes end (the last one's at the trailer).
inline std::vector<std::size_t> FrameEnds(const Bytes &gif)
{
    std::vector<std::size_t> ends = ControlPositions(gif);
    if (!ends.empty())
        ends.erase(ends.begin());
    ends.push_back(gif.size() - 1);
    return ends;
}

} // namespace gifbuild
