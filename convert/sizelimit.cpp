#include "convert/sizelimit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>

std::int64_t SizeUnitBytes(std::int32_t unit)
{
    switch (unit) {
    case SIZEUNIT_MB:
        return 1000 * 1000;
    case SIZEUNIT_KIB:
        return 1024;
    case SIZEUNIT_MIB:
        return 1024 * 1024;
    default:
        return 1000;
    }
}

const char *SizeUnitName(std::int32_t unit)
{
    switch (unit) {
    case SIZEUNIT_MB:
        return "MB";
    case SIZEUNIT_KIB:
        return "KiB";
    case SIZEUNIT_MIB:
        return "MiB";
    default:
        return "KB";
    }
}

std::int32_t FittingSizeUnit(std::int64_t bytes)
{
    for (const std::int32_t unit : {SIZEUNIT_MIB, SIZEUNIT_MB, SIZEUNIT_KIB})
        if (bytes % SizeUnitBytes(unit) == 0)
            return unit;
    return SIZEUNIT_KB;
}

std::optional<std::int64_t> ParseFileSize(std::string_view text)
{
    std::size_t i = 0;
    // Whole part and fraction as integers: no locale, no rounding surprise.
    std::int64_t whole = 0, fraction = 0, scale = 1;
    bool digits = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (whole > kMaxFileSizeLimit)
            return std::nullopt;
        whole = whole * 10 + (text[i] - '0');
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            if (scale < 1000000000) {
                fraction = fraction * 10 + (text[i] - '0');
                scale *= 10;
            }
            digits = true;
        }
    }
    if (!digits)
        return std::nullopt;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string unit;
    for (; i < text.size(); ++i)
        unit += char(std::tolower(static_cast<unsigned char>(text[i])));
    static const std::map<std::string, std::int64_t> kUnits = {
        {"", 1},          {"b", 1},           {"k", 1000},        {"kb", 1000},
        {"m", 1000000},   {"mb", 1000000},    {"kib", 1024},      {"mib", 1024 * 1024},
    };
    const auto it = kUnits.find(unit);
    if (it == kUnits.end())
        return std::nullopt;
    const std::int64_t bytes = whole * it->second + fraction * it->second / scale;
    if (bytes < kMinFileSizeLimit || bytes > kMaxFileSizeLimit)
        return std::nullopt;
    return bytes;
}

std::string FormatFileSize(std::int64_t bytes, bool roundUp)
{
    const bool mega = bytes >= 1000 * 1000;
    const double value = double(bytes) / (mega ? 1e6 : 1e3);
    // Three significant digits at most, trailing zeros dropped.
    const int decimals = value >= 100 ? 0 : value >= 10 ? 1 : 2;
    const double step = std::pow(10.0, decimals);
    const double shown = (roundUp ? std::ceil(value * step - 1e-9) : std::round(value * step)) / step;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, shown);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0')
            s.pop_back();
        if (s.back() == '.')
            s.pop_back();
    }
    return s + (mega ? " MB" : " KB");
}

namespace {

// Where log(size) meets log(limit) on the line through two trials, as a
// quality strictly between lo and hi.
int Interpolate(int lo, std::int64_t sizeLo, int hi, std::int64_t sizeHi, std::int64_t limit)
{
    const double a = std::log(double(std::max<std::int64_t>(sizeLo, 1)));
    const double b = std::log(double(std::max<std::int64_t>(sizeHi, 1)));
    const double t = std::log(double(limit));
    int q = (lo + hi) / 2;
    if (b > a)
        q = int(std::floor(lo + (hi - lo) * (t - a) / (b - a)));
    return std::clamp(q, lo + 1, hi - 1);
}

} // namespace

QualityFit SearchQuality(int floor, int ceiling, std::int64_t limit, const TrialEncode &encode)
{
    QualityFit fit;
    std::map<int, std::int64_t> sizes;
    const auto trial = [&](int q) -> std::optional<std::int64_t> {
        if (const auto it = sizes.find(q); it != sizes.end())
            return it->second;
        ++fit.encodes;
        const std::optional<std::int64_t> size = encode(q);
        if (size)
            sizes[q] = *size;
        else
            fit.failed = true;
        return size;
    };
    ceiling = std::max(ceiling, floor);
    std::optional<std::int64_t> first = trial(ceiling);
    if (!first)
        return fit;
    if (*first <= limit)
        return {true, false, ceiling, *first, fit.encodes};
    // The bracket: hi does not fit; look down for a quality that does,
    // guessing from how the size fell so far.
    int hi = ceiling;
    std::int64_t sizeHi = *first;
    int lo = -1;
    std::int64_t sizeLo = 0;
    // Before a second trial there is no slope: lossy encoders roughly halve
    // their output for every 15 steps of quality in the usual range.
    double stepsPerHalving = 15;
    // Until a quality fits, each guess looks down from how the size fell so
    // far, a little past it so the bracket closes in one step as a rule;
    // between a fitting lo and a too-large hi, interpolation, with halving
    // whenever it gains too little, until they are neighbours.
    bool halve = false;
    while (lo < 0 || hi - lo > 1) {
        if (lo < 0 && hi == floor) {
            fit.quality = floor;
            fit.size = sizeHi;
            return fit;
        }
        int q;
        if (lo < 0)
            q = std::clamp(int(std::floor(hi - stepsPerHalving * std::log2(double(sizeHi) / double(limit)) * 1.15 - 1)),
                           floor, hi - 1);
        else
            q = halve ? (lo + hi) / 2 : Interpolate(lo, sizeLo, hi, sizeHi, limit);
        const int before = hi - lo;
        const std::optional<std::int64_t> size = trial(q);
        if (!size)
            return fit;
        if (*size <= limit) {
            halve = lo >= 0 && (hi - q) * 2 > before;
            lo = q;
            sizeLo = *size;
        } else {
            if (lo < 0 && *size < sizeHi)
                stepsPerHalving = std::clamp((hi - q) / std::log2(double(sizeHi) / double(*size)), 2.0, 60.0);
            halve = lo >= 0 && (q - lo) * 2 > before;
            hi = q;
            sizeHi = *size;
        }
    }
    return {true, false, lo, sizeLo, fit.encodes};
}

std::string NoFitReason(std::int64_t limit, std::int64_t reached, int quality)
{
    std::string reason = "cannot fit in " + FormatFileSize(limit) + ": " + FormatFileSize(reached, true);
    if (quality > 0)
        reason += " at quality " + std::to_string(quality);
    return reason;
}
