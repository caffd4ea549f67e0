// Tone and colour adjustments, and the box left when uniform borders are
// trimmed. The formulas follow ImageMagick 6's options of the same purpose
// (named beside each field), so a user who knows those knows these.
#pragma once

#include "imaging/cximage.h"

#include <array>
#include <cstdint>
#include <memory>

namespace cxadjust {

struct ToneSettings {
    bool autoLevels = false; // each channel's 0.5 % darkest and lightest stretched to 0..255
    int brightness = 0;      // -100..100 } as ImageMagick's -brightness-contrast BxC
    int contrast = 0;        // -100..100 }
    double gamma = 1.0;      // 0.1..10: out = in^(1/gamma) on 0..1
    int saturation = 0;      // -100..100: HSL saturation times (1 + N/100), hue and lightness kept
    bool grayscale = false;  // Rec. 709 luma (0.2126 R + 0.7152 G + 0.0722 B on the stored values)
    bool sepia = false;      // R' = .393R+.769G+.189B, G' = .349R+.686G+.168B, B' = .272R+.534G+.131B
    bool Any() const;        // anything chosen
    bool operator==(const ToneSettings &) const = default;
};

// Applies the chosen adjustments in the order of the fields above: one
// table per channel for the curve (auto-levels, brightness/contrast, gamma),
// then the colour step, in one pass over the pixels. A paletted picture
// stays paletted: its palette entries are adjusted (auto-levels counting
// its pixels through the palette). Alpha is left as it is. Values out of
// the ranges above are clamped into them. Raising the saturation past full
// clips the channels, as ImageMagick's -modulate does.
void ApplyTone(CxImage &img, const ToneSettings &tone);

struct TonePlan;

// The same adjustments made a row at a time, for pictures whose rows pass
// once (no auto-levels: its histogram needs every row first). Rows of B, G,
// R bytes come out as ApplyTone makes them.
// Each channel's counts of its values, gathered from colour rows as they
// pass, for auto-levels made before the rows pass again.
struct LevelCounts {
    void Row(const BYTE *bgr, int width);
    std::array<std::array<std::uint64_t, 256>, 3> counts{}; // B, G, R
    std::uint64_t pixels = 0;
};

class ToneRows {
public:
    // counts (when given): every pixel's, which auto-levels stretches.
    explicit ToneRows(const ToneSettings &tone, const LevelCounts *counts = nullptr);
    ~ToneRows();
    ToneRows(const ToneRows &) = delete;
    ToneRows &operator=(const ToneRows &) = delete;
    static bool Takes(const ToneSettings &tone, bool counted = false)
    {
        return tone.Any() && (!tone.autoLevels || counted);
    }
    void Row(BYTE *bgr, int width) const;

private:
    std::unique_ptr<TonePlan> m_plan;
};

struct Box {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Box &) const = default;
};

// The part left when uniform borders are removed. The border colour is the
// most common of the four corners' colours (the top-left on a tie); a pixel
// is border when it lies within fuzzPercent (0..100) of it, measured as
// ImageMagick's -fuzz does: sqrt(da^2 + a1*a2*(dr^2 + dg^2 + db^2) / 3) on
// 0..1, so every fully transparent pixel matches a transparent corner. The
// whole picture when nothing can be trimmed or every pixel is border; an
// empty box for an empty picture.
Box TrimBox(const CxImage &img, double fuzzPercent);

// The same box found over rows that pass one at a time, in any order, once
// the corners are known (a picture too large to hold).
class TrimScan {
public:
    // facts: the rows' depth, palette and transparent entry (its pixels are
    // not read); corners: the picture's top-left, top-right, bottom-left and
    // bottom-right pixels as GetPixelColor gives them (alpha in rgbReserved).
    TrimScan(const CxImage &facts, const std::array<RGBQUAD, 4> &corners, double fuzzPercent);
    ~TrimScan();
    TrimScan(const TrimScan &) = delete;
    TrimScan &operator=(const TrimScan &) = delete;
    // Row y of the picture, width pixels, and its alpha (null: opaque).
    void Row(int y, const BYTE *row, const BYTE *alpha, int width);
    Box Result(int width, int height) const;

private:
    struct State;
    std::unique_ptr<State> m;
};

// The smallest box holding both; an empty box adds nothing.
Box UnionBox(const Box &a, const Box &b);

} // namespace cxadjust
