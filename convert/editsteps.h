// The editing steps a run may add to each picture: a region or margins cut
// off, uniform borders trimmed, a flip, tone and colour, a border. They run
// in one fixed order around the resize:
//
//   crop -> trim -> flip -> (rotate) -> (crop ratio, resize) -> tone and
//   colour -> (sharpen) -> border -> (watermark)
//
// Each option is a row of one table (EditOptions): its command-line name,
// the name it is stored under, how its value is read and written back. The
// command line, the settings, presets and the window all go through the
// table, so a step added there is known to every one of them.
#pragma once

#include "imaging/adjust.h"
#include "imaging/cxtypes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum : std::int32_t {
    FLIP_NONE = 0,
    FLIP_HORIZONTAL = 1, // left and right swapped
    FLIP_VERTICAL = 2,   // top and bottom swapped
    FLIP_BOTH = 3,
};

// A length in pixels, or a percentage of a side.
struct EditLength {
    double value = 0;
    bool percent = false;
    bool operator==(const EditLength &) const = default;
    // In pixels of a side `side` pixels long, rounded.
    std::int64_t Of(std::int64_t side) const;
};

struct EditRegion {
    std::int64_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const EditRegion &) const = default;
};

struct Edits {
    std::int32_t flip = FLIP_NONE;
    // In pixels of the upright source; at most one of the two.
    std::optional<EditRegion> crop;
    std::optional<std::array<EditLength, 4>> margins; // top, right, bottom, left
    bool trim = false;
    double trimFuzz = 10; // percent
    cxadjust::ToneSettings tone;
    EditLength border; // 0: none; a percentage is of the shorter side
    COLORREF borderColor = RGB(255, 255, 255);
    bool borderInside = false; // the resize's box holds the border too
    bool cropRatioFollows = false; // the crop ratio turned to each picture's orientation

    bool operator==(const Edits &) const = default;
    bool Any() const { return *this != Edits{}; }
    // Whether the picture is cut before anything else (a region or margins).
    bool Cuts() const { return crop || margins; }
    bool HasBorder() const { return border.value > 0; }
    // Whether any step changes the pixels; flip alone is a turn a JPEG takes
    // on its coefficients.
    bool ChangesPixels() const { return flip != FLIP_NONE || ChangesPixelsBeyondFlip(); }
    bool ChangesPixelsBeyondFlip() const { return Cuts() || trim || tone.Any() || HasBorder(); }
    // Whether the steps before the job's rotation have anything to do.
    bool BeforeRotation() const { return Cuts() || trim || flip != FLIP_NONE; }
};

// The part of a w x h picture (upright) that the region or margins keep,
// clipped to it; empty (width or height 0) when nothing is left.
EditRegion CutRegion(const Edits &edits, std::int64_t w, std::int64_t h);

// The border's width in pixels for a picture of w x h.
std::int64_t BorderPixels(const Edits &edits, std::int64_t w, std::int64_t h);

// One option of the table.
struct EditOption {
    const char *name;      // "--flip"
    const char *key;       // stored under this name: the settings' [Settings2], presets
    const char *valueText; // "h|v|hv", "X,Y,W,H"; nullptr for a flag
    bool choices;          // valueText lists the only words taken
    const char *help;      // --help (velmora-batch's texts), a line each
    const char *manual;    // the manual page's entry (roff)
    const char *needs;     // the option it goes with, or nullptr
    // Takes the value (ignored for a flag) into edits. The problem as a text
    // of velmora-batch with the option's name as %1, or nullptr.
    const char *(*parse)(std::string_view value, Edits &edits);
    // The value as it is given and stored; "" when the step is not chosen,
    // "1" for a flag that is on.
    std::string (*text)(const Edits &edits);
};

std::span<const EditOption> EditOptions();
const EditOption *FindEditOption(std::string_view name);

// Reads a stored value of option into edits; false (edits as they were)
// when it cannot be read. An empty value is the step not chosen.
bool ReadEditValue(const EditOption &option, std::string_view value, Edits &edits);

// A colour written RRGGBB (hexadecimal digits, any case).
std::optional<COLORREF> ParseHexColour(std::string_view text);
std::string HexColourText(COLORREF colour);
