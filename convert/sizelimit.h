// A file-size limit on outputs: how a limit is written, how it is shown,
// and the search for the highest quality whose encode fits under it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The limit's bounds: 1 KB to 1 GiB.
inline constexpr std::int64_t kMinFileSizeLimit = 1000;
inline constexpr std::int64_t kMaxFileSizeLimit = std::int64_t(1) << 30;
inline constexpr int kDefaultMinQuality = 30;

// The units a limit is typed in, in the window's list order: KB and MB are
// powers of 1,000, KiB and MiB of 1,024.
enum : std::int32_t { SIZEUNIT_KB = 0, SIZEUNIT_MB = 1, SIZEUNIT_KIB = 2, SIZEUNIT_MIB = 3 };
std::int64_t SizeUnitBytes(std::int32_t unit);
const char *SizeUnitName(std::int32_t unit);
// The unit a limit reads best in: the largest that divides it, MiB and KiB
// first (a limit typed as 2MiB shows as 2 MiB, not 2.097152 MB).
std::int32_t FittingSizeUnit(std::int64_t bytes);

// "300K", "1.5 MB", "512KiB", "250000": digits with an optional "." fraction
// (the same in every locale), then an optional unit, any case: none (bytes),
// K/KB, M/MB, KiB, MiB. The bytes, rounded down; nothing when the text is
// not such a size or lies outside the bounds above.
std::optional<std::int64_t> ParseFileSize(std::string_view text);

// A size as the log shows it, in KB or MB of 1,000 ("300 KB", "1.5 MB").
// Rounded up when asked, so a size just over a limit never reads as it.
std::string FormatFileSize(std::int64_t bytes, bool roundUp = false);

// The search for the highest quality in [floor, ceiling] whose encode is at
// most limit bytes. encode(q) encodes at q and gives its size, nothing when
// the encoder failed; the caller keeps the bytes of the trial it wants. A
// format without a quality has floor and ceiling 0: one encode.
struct QualityFit {
    bool fits = false;
    bool failed = false; // an encode failed: nothing more was tried
    int quality = 0;     // the quality that fits; the floor when none does
    std::int64_t size = 0; // that trial's size
    int encodes = 0;
};
using TrialEncode = std::function<std::optional<std::int64_t>(int quality)>;
QualityFit SearchQuality(int floor, int ceiling, std::int64_t limit, const TrialEncode &encode);

// Why an output could not be made to fit: "cannot fit in 300 KB: 412 KB at
// quality 30", or without a quality "cannot fit in 300 KB: 412 KB".
std::string NoFitReason(std::int64_t limit, std::int64_t reached, int quality);
