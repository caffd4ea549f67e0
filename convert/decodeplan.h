// How one file is taken from its source to its output: chosen once per file
// from the job, the source and output types and what the file's headers say,
// before anything is decoded.
#pragma once

#include "convert/convertjob.h"
#include "imaging/imageheader.h"

#include <cstdint>

enum class DecodePlan {
    PlainCopy,           // no step and the same type: the file is copied (decoded only to be checked)
    LosslessTransform,   // the steps done on the compressed data (not offered by any option yet)
    RowsStreamed,        // rows go from the decoder to the encoder as they come
    ShrinkWhileDecoding, // a JPEG shrunk by the resize as its rows come, never held whole
    Whole,               // decoded whole, then every step
};

struct PlanInput {
    std::uint32_t sourceType = 0; // from the name
    std::uint32_t outType = 0;
    // The type the file's bytes say (ProbeImageType); 0 when they were not
    // read or name none.
    std::uint32_t contentType = 0;
    // A copy that must lose metadata could not be rewritten: convert instead.
    bool copyRefused = false;
};

// Whether the choice for this job and output can depend on the headers, so
// the caller reads them only then.
bool PlanReadsHeader(const CConvertJob &job, std::uint32_t outType);

DecodePlan ChooseDecodePlan(const CConvertJob &job, const PlanInput &in);
