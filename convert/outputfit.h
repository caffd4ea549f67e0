// Encoding a processed picture so that its file stays under the job's size
// limit: the highest quality that fits, and with shrinking allowed, the
// largest size.
#pragma once

#include "convert/convertjob.h"
#include "convert/filepreparer.h"

#include <cstdint>
#include <functional>
#include <string>

// Whether outputs of this type and job have a quality to lower: the lossy
// formats (WebP unless written lossless) and TIFF with JPEG compression.
bool HasQualityToFit(std::uint32_t outType, const CConvertJob &job);

// The qualities a search for this output runs over: from the job's own
// down to its floor (never above it); both 0 for a format without one,
// which is then encoded once, at whatever quality.
struct QualityRange {
    int floor = 0, ceiling = 0;
};
QualityRange QualityRangeFor(std::uint32_t outType, const CConvertJob &job);

struct FittedOutput {
    enum class Outcome { Fitted, TooLarge, EncodeFailed, Stopped };
    Outcome outcome = Outcome::EncodeFailed;
    EncodedBytes bytes;
    int quality = 0; // the quality written; 0 for a format without one
    bool shrunk = false;
    std::int64_t width = 0, height = 0; // the output's size
    int encodes = 0;
    std::string reason; // why it failed
};

// The picture after its steps (not yet brought to the output's depth) as
// the smallest change that fits the job's limit: first the quality, from
// the job's own down to its floor; then, when the job allows it, the picture
// scaled down about a tenth at a time. image is left as written.
FittedOutput EncodeWithinLimit(CxImage &image, std::uint32_t outType, const CConvertJob &job, bool stampDrawn,
                               const std::function<bool()> &stopped);
