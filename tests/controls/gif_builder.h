// Small animated GIFs for the picture control tests: solid frames written by
// our own encoder, then placed on a larger screen by patching the screen
// size, each frame's offset, delay and disposal in the written bytes.
#pragma once

#include "cximagegif.h"

#include <QColor>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gifbuild {

struct FrameSpec {
    QColor colour;
    int width = 1, height = 1;
    int left = 0, top = 0;
    int delay = 10;
    int disposal = 0;
};

using Bytes = std::vector<std::uint8_t>;

// Where the encoder put each frame's control extension: "!" 0xF9 4, four
// bytes, a zero, and the image descriptor right after it.
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
    gif[pos] = std::uint8_t(value & 0xFF);
    gif[pos + 1] = std::uint8_t((value >> 8) & 0xFF);
}

// The frames as our encoder writes them: each at (0, 0) on a screen the
// size of the largest, with a loop extension and a comment before them.
inline Bytes EncodeFrames(const std::vector<FrameSpec> &specs)
{
    std::vector<CxImage> frames(specs.size());
    std::vector<CxImage *> pointers;
    for (std::size_t k = 0; k < specs.size(); ++k) {
        CxImage &f = frames[k];
        if (!f.Create(specs[k].width, specs[k].height, 8))
            return {};
        const QColor c = specs[k].colour;
        const RGBQUAD entry{BYTE(c.blue()), BYTE(c.green()), BYTE(c.red()), 0};
        f.SetPalette(&entry, 1);
        f.SetFrameDelay(specs[k].delay);
        pointers.push_back(&f);
    }
    CxImageGIF gif;
    gif.SetComment("test animation");
    gif.SetLoops(0);
    CxMemFile mem;
    if (!mem.Open() || !gif.Encode(&mem, pointers.data(), int(pointers.size())))
        return {};
    const std::uint8_t *data = mem.GetBuffer(false);
    return Bytes(data, data + mem.Size());
}

// The frames on a screen of the given size, each at its own offset with its
// own delay and disposal.
inline Bytes BuildAnimation(const std::vector<FrameSpec> &specs, int screenW, int screenH)
{
    Bytes gif = EncodeFrames(specs);
    const std::vector<std::size_t> controls = ControlPositions(gif);
    EXPECT_EQ(controls.size(), specs.size()) << "unexpected encoder output";
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

}  // namespace gifbuild
