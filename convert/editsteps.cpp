#include "convert/editsteps.h"

#include <QtGlobal>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// A decimal number as written in every locale: digits, an optional '.' and
// fraction, an optional leading '-'.
std::optional<double> ReadNumber(std::string_view text)
{
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<std::int64_t> ReadWhole(std::string_view text, std::int64_t least, std::int64_t most)
{
    std::int64_t v = 0;
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < least || v > most)
        return std::nullopt;
    return v;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

// The shortest text that reads back as v.
std::string NumberText(double v)
{
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

constexpr std::int64_t kMaxCoordinate = 1 << 20; // pixels, far past any picture
constexpr std::int64_t kMaxBorderPixels = 10000;

// Pixels (a whole number) or a percentage (a decimal number and '%') from 0
// up to mostPercent.
std::optional<EditLength> ReadLength(std::string_view text, std::int64_t mostPixels, double mostPercent)
{
    if (!text.empty() && text.back() == '%') {
        const std::optional<double> v = ReadNumber(text.substr(0, text.size() - 1));
        if (!v || *v < 0 || *v > mostPercent)
            return std::nullopt;
        return EditLength{*v, true};
    }
    const std::optional<std::int64_t> v = ReadWhole(text, 0, mostPixels);
    if (!v)
        return std::nullopt;
    return EditLength{double(*v), false};
}

std::string LengthText(const EditLength &l)
{
    return NumberText(l.value) + (l.percent ? "%" : "");
}

// A flag's row.
template <bool Edits::*Flag> const char *SetFlag(std::string_view, Edits &e)
{
    e.*Flag = true;
    return nullptr;
}
template <bool Edits::*Flag> std::string FlagText(const Edits &e)
{
    return e.*Flag ? "1" : "";
}
template <bool cxadjust::ToneSettings::*Flag> const char *SetToneFlag(std::string_view, Edits &e)
{
    e.tone.*Flag = true;
    return nullptr;
}
template <bool cxadjust::ToneSettings::*Flag> std::string ToneFlagText(const Edits &e)
{
    return e.tone.*Flag ? "1" : "";
}

// -100 to 100.
template <int cxadjust::ToneSettings::*Field> const char *SetLevel(std::string_view v, Edits &e)
{
    const std::optional<std::int64_t> n = ReadWhole(v, -100, 100);
    if (!n)
        return QT_TRANSLATE_NOOP("velmora-batch", "%1 takes a whole number from -100 to 100");
    e.tone.*Field = int(*n);
    return nullptr;
}
template <int cxadjust::ToneSettings::*Field> std::string LevelText(const Edits &e)
{
    return e.tone.*Field != 0 ? std::to_string(e.tone.*Field) : "";
}

const char *SetFlip(std::string_view v, Edits &e)
{
    if (v == "h")
        e.flip = FLIP_HORIZONTAL;
    else if (v == "v")
        e.flip = FLIP_VERTICAL;
    else if (v == "hv" || v == "vh")
        e.flip = FLIP_BOTH;
    else
        return QT_TRANSLATE_NOOP("velmora-batch", "%1 takes h, v or hv");
    return nullptr;
}
std::string FlipText(const Edits &e)
{
    static constexpr const char *kTexts[] = {"", "h", "v", "hv"};
    return kTexts[std::clamp(e.flip, 0, 3)];
}

const char *SetCrop(std::string_view v, Edits &e)
{
    const char *problem =
        QT_TRANSLATE_NOOP("velmora-batch", "%1 takes X,Y,W,H: whole numbers of pixels, W and H above 0");
    const std::vector<std::string_view> parts = Split(v, ',');
    if (parts.size() != 4)
        return problem;
    std::int64_t n[4];
    for (int i = 0; i < 4; ++i) {
        const std::optional<std::int64_t> p = ReadWhole(parts[std::size_t(i)], i < 2 ? 0 : 1, kMaxCoordinate);
        if (!p)
            return problem;
        n[i] = *p;
    }
    e.crop = EditRegion{n[0], n[1], n[2], n[3]};
    e.margins.reset();
    return nullptr;
}
std::string CropText(const Edits &e)
{
    if (!e.crop)
        return "";
    return std::to_string(e.crop->x) + "," + std::to_string(e.crop->y) + "," + std::to_string(e.crop->width) +
           "," + std::to_string(e.crop->height);
}

const char *SetMargins(std::string_view v, Edits &e)
{
    const std::vector<std::string_view> parts = Split(v, ',');
    std::array<EditLength, 4> m;
    bool ok = parts.size() == 4;
    for (std::size_t i = 0; ok && i < 4; ++i) {
        const std::optional<EditLength> l = ReadLength(parts[i], kMaxCoordinate, 100);
        ok = l.has_value();
        if (ok)
            m[i] = *l;
    }
    if (!ok)
        return QT_TRANSLATE_NOOP("velmora-batch", "%1 takes T,R,B,L: each a whole number of pixels or a "
                                                  "percentage (12.5%)");
    // Percentages alone can be seen to leave nothing; pixels only per file.
    const auto share = [](const EditLength &a, const EditLength &b) {
        return (a.percent ? a.value : 0) + (b.percent ? b.value : 0);
    };
    if (share(m[1], m[3]) >= 100 || share(m[0], m[2]) >= 100)
        return QT_TRANSLATE_NOOP("velmora-batch", "%1: the margins across or down add up to 100% or more");
    e.margins = m;
    e.crop.reset();
    return nullptr;
}
std::string MarginsText(const Edits &e)
{
    if (!e.margins)
        return "";
    std::string t;
    for (const EditLength &l : *e.margins)
        t += (t.empty() ? "" : ",") + LengthText(l);
    return t;
}

const char *SetTrimFuzz(std::string_view v, Edits &e)
{
    const std::optional<double> n = ReadNumber(v);
    if (!n || *n < 0 || *n > 100)
        return QT_TRANSLATE_NOOP("velmora-batch", "%1 takes a percentage from 0 to 100");
    e.trimFuzz = *n;
    return nullptr;
}
std::string TrimFuzzText(const Edits &e)
{
    return e.trimFuzz != Edits{}.trimFuzz ? NumberText(e.trimFuzz) : "";
}

const char *SetGamma(std::string_view v, Edits &e)
{
    const std::optional<double> n = ReadNumber(v);
    if (!n || *n < 0.1 || *n > 10)
        return QT_TRANSLATE_NOOP("velmora-batch", "%1 takes a number from 0.1 to 10");
    e.tone.gamma = *n;
    return nullptr;
}
std::string GammaText(const Edits &e)
{
    return e.tone.gamma != 1.0 ? NumberText(e.tone.gamma) : "";
}

const char *SetBorder(std::string_view v, Edits &e)
{
    const std::optional<EditLength> l = ReadLength(v, kMaxBorderPixels, 50);
    if (!l)
        return QT_TRANSLATE_NOOP("velmora-batch",
                                 "%1 takes pixels (0 to 10000) or a percentage of the shorter side (0% to 50%)");
    e.border = *l;
    return nullptr;
}
std::string BorderText(const Edits &e)
{
    return e.HasBorder() ? LengthText(e.border) : "";
}

const char *SetBorderColour(std::string_view v, Edits &e)
{
    const std::optional<COLORREF> c = ParseHexColour(v);
    if (!c)
        return QT_TRANSLATE_NOOP("velmora-batch", "%1 takes six hexadecimal digits, RRGGBB");
    e.borderColor = *c;
    return nullptr;
}
std::string BorderColourText(const Edits &e)
{
    return e.borderColor != Edits{}.borderColor ? HexColourText(e.borderColor) : "";
}

using Tone = cxadjust::ToneSettings;

// In the order of --help and of the steps.
constexpr EditOption kEditOptions[] = {
    {"--crop", "Crop", "X,Y,W,H", false,
     QT_TRANSLATE_NOOP("velmora-batch", "keep only the W x H part at X,Y (pixels of the upright\n"
                                        "picture, clipped to it)"),
     "Keeps only the \\fIW\\fR x \\fIH\\fR part whose top left corner is at \\fIX\\fR,\\fIY\\fR, in pixels "
     "of the picture\nturned upright, before any other step. A part reaching outside is clipped; one "
     "outside the picture\nis that file's error.",
     nullptr, SetCrop, CropText},
    {"--crop-margins", "CropMargins", "T,R,B,L", false,
     QT_TRANSLATE_NOOP("velmora-batch", "cut margins off the top, right, bottom and left, each in\n"
                                        "pixels or with % (0,0,48,0 cuts a 48-pixel bar off the bottom)"),
     "Cuts margins off the top, right, bottom and left, each in pixels or a percentage of the side\n"
     "(\\fB0,0,48,0\\fR cuts a 48\\-pixel bar off the bottom). Not with \\fB\\-\\-crop\\fR.",
     nullptr, SetMargins, MarginsText},
    {"--trim-borders", "TrimBorders", nullptr, false,
     QT_TRANSLATE_NOOP("velmora-batch", "trim uniform borders of the corners' colour (or transparent)"),
     "Trims uniform borders of the corners' colour (the most common of the four, the top left on a "
     "tie),\nor transparent ones. A picture of one colour is left whole; an animation is trimmed by one "
     "box.",
     nullptr, SetFlag<&Edits::trim>, FlagText<&Edits::trim>},
    {"--trim-fuzz", "TrimFuzz", "PERCENT", false,
     QT_TRANSLATE_NOOP("velmora-batch", "how far a border pixel may be from the border colour, 0-100\n"
                                        "(default 10)"),
     "How far a border pixel's colour may be from the border colour, in percent (default 10), for scans\n"
     "and JPEG noise.",
     "--trim-borders", SetTrimFuzz, TrimFuzzText},
    {"--flip", "Flip", "h|v|hv", true,
     QT_TRANSLATE_NOOP("velmora-batch", "mirror left and right (h), top and bottom (v) or both"),
     "Mirrors the picture left to right (\\fBh\\fR), top to bottom (\\fBv\\fR) or both (\\fBhv\\fR), before "
     "\\fB\\-\\-rotate\\fR.\nA JPEG only flipped (and turned) is flipped on its coefficients, as "
     "\\fB\\-\\-lossless\\fR says.",
     nullptr, SetFlip, FlipText},
    {"--auto-levels", "AutoLevels", nullptr, false,
     QT_TRANSLATE_NOOP("velmora-batch", "stretch each channel's darkest and lightest 0.5% to the full\n"
                                        "range"),
     "Stretches each colour channel so that its darkest and lightest 0.5 % reach black and white.", nullptr,
     SetToneFlag<&Tone::autoLevels>, ToneFlagText<&Tone::autoLevels>},
    {"--brightness", "Brightness", "N", false,
     QT_TRANSLATE_NOOP("velmora-batch", "brightness -100 to 100"),
     "Brightness, \\-100 to 100 (0 leaves it).", nullptr, SetLevel<&Tone::brightness>,
     LevelText<&Tone::brightness>},
    {"--contrast", "Contrast", "N", false, QT_TRANSLATE_NOOP("velmora-batch", "contrast -100 to 100"),
     "Contrast, \\-100 to 100 (0 leaves it).", nullptr, SetLevel<&Tone::contrast>,
     LevelText<&Tone::contrast>},
    {"--gamma", "Gamma", "G", false,
     QT_TRANSLATE_NOOP("velmora-batch", "gamma 0.1 to 10 (above 1 lightens the middle tones)"),
     "Gamma, 0.1 to 10: each value becomes value^(1/\\fIG\\fR), so above 1 lightens the middle tones.",
     nullptr, SetGamma, GammaText},
    {"--saturation", "Saturation", "N", false,
     QT_TRANSLATE_NOOP("velmora-batch", "saturation -100 (grey) to 100 (doubled)"),
     "Multiplies the saturation (HSL) by 1 + \\fIN\\fR/100, \\-100 to 100.", nullptr,
     SetLevel<&Tone::saturation>, LevelText<&Tone::saturation>},
    {"--grayscale", "Grayscale", nullptr, false,
     QT_TRANSLATE_NOOP("velmora-batch", "make the picture grey (Rec. 709 luma)"),
     "Makes the picture grey: 0.2126 R + 0.7152 G + 0.0722 B (Rec. 709 luma).", nullptr,
     SetToneFlag<&Tone::grayscale>, ToneFlagText<&Tone::grayscale>},
    {"--sepia", "Sepia", nullptr, false, QT_TRANSLATE_NOOP("velmora-batch", "tone the picture sepia"),
     "Tones the picture sepia with the usual matrix: R' = .393R + .769G + .189B, G' = .349R + .686G + "
     ".168B,\nB' = .272R + .534G + .131B.",
     nullptr, SetToneFlag<&Tone::sepia>, ToneFlagText<&Tone::sepia>},
    {"--border", "Border", "N|N%", false,
     QT_TRANSLATE_NOOP("velmora-batch", "add a border of N pixels or N% of the shorter side"),
     "Adds a border of \\fIN\\fR pixels, or \\fIN\\fR % of the shorter side, around the picture after every "
     "step but\nthe watermark.",
     nullptr, SetBorder, BorderText},
    {"--border-color", "BorderColor", "RRGGBB", false,
     QT_TRANSLATE_NOOP("velmora-batch", "the border's colour (default FFFFFF)"),
     "The border's colour (default FFFFFF, white).", "--border", SetBorderColour, BorderColourText},
    {"--border-inside", "BorderInside", nullptr, false,
     QT_TRANSLATE_NOOP("velmora-batch", "shrink the picture so that the resize's size holds the border"),
     "Shrinks the picture so that the size \\fB\\-\\-resize\\fR gives includes the border (a percentage "
     "is then of\nthe shorter side the rule sets). Not with \\fB\\-\\-resize percent\\fR.",
     "--border", SetFlag<&Edits::borderInside>, FlagText<&Edits::borderInside>},
    {"--crop-ratio-follows", "CropRatioFollows", nullptr, false,
     QT_TRANSLATE_NOOP("velmora-batch", "turn the crop ratio to each picture's orientation"),
     "Turns \\fB\\-\\-crop\\-ratio\\fR to each picture's orientation (4:3 becomes 3:4 on a portrait "
     "photo).",
     "--crop-ratio", SetFlag<&Edits::cropRatioFollows>, FlagText<&Edits::cropRatioFollows>},
};

} // namespace

std::int64_t EditLength::Of(std::int64_t side) const
{
    return percent ? std::llround(double(side) * value / 100.0) : std::int64_t(value);
}

EditRegion CutRegion(const Edits &edits, std::int64_t w, std::int64_t h)
{
    EditRegion r{0, 0, w, h};
    if (edits.crop) {
        const EditRegion &c = *edits.crop;
        r.x = std::min(c.x, w);
        r.y = std::min(c.y, h);
        r.width = std::clamp<std::int64_t>(c.width, 0, w - r.x);
        r.height = std::clamp<std::int64_t>(c.height, 0, h - r.y);
    } else if (edits.margins) {
        const auto &m = *edits.margins;
        const std::int64_t top = m[0].Of(h), right = m[1].Of(w), bottom = m[2].Of(h), left = m[3].Of(w);
        r.x = std::min(left, w);
        r.y = std::min(top, h);
        r.width = std::max<std::int64_t>(0, w - left - right);
        r.height = std::max<std::int64_t>(0, h - top - bottom);
    }
    return r;
}

std::int64_t BorderPixels(const Edits &edits, std::int64_t w, std::int64_t h)
{
    return edits.border.Of(std::min(w, h));
}

std::span<const EditOption> EditOptions()
{
    return kEditOptions;
}

const EditOption *FindEditOption(std::string_view name)
{
    for (const EditOption &o : kEditOptions)
        if (name == o.name)
            return &o;
    return nullptr;
}

bool ReadEditValue(const EditOption &option, std::string_view value, Edits &edits)
{
    if (value.empty())
        return true;
    if (!option.valueText && value != "1")
        return value == "0";
    Edits read = edits;
    if (option.parse(value, read))
        return false;
    edits = read;
    return true;
}

std::optional<COLORREF> ParseHexColour(std::string_view text)
{
    if (text.size() != 6)
        return std::nullopt;
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + 6, v, 16);
    if (ec != std::errc() || end != text.data() + 6)
        return std::nullopt;
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

std::string HexColourText(COLORREF colour)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X%02X%02X", unsigned(GetRValue(colour)),
                  unsigned(GetGValue(colour)), unsigned(GetBValue(colour)));
    return buffer;
}
