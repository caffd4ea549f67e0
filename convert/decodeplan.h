// How one file is taken from its source to its output: chosen once per file
// from the job, the source and output types and what the file's headers say,
// before anything is decoded.
#pragma once

#include "convert/convertjob.h"
#include "imaging/imageheader.h"

#include <cstdint>

enum class DecodePlan {
    PlainCopy,           // no step and the same type: the file is copied (decoded only to be checked)
    LosslessTransform,   // done on the coefficients: a JPEG turned, carried to or back from JPEG XL
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
    // The coefficients could not be used (partial blocks, an orientation
    // JPEG XL would not keep, no JPEG held): decode instead.
    bool losslessRefused = false;
    // One page of a document (CConvertJob::GetPage): always decoded whole.
    int page = 0;
};

// Whether the job's file of these types is made from its coefficients:
// a JPEG only turned (the --lossless choice allowing), a JPEG written as
// JPEG XL at quality 100 with no step, and back.
bool UsesCoefficients(const CConvertJob &job, std::uint32_t sourceType, std::uint32_t outType);

// Whether the choice for this job and output can depend on the headers, so
// the caller reads them only then.
bool PlanReadsHeader(const CConvertJob &job, std::uint32_t outType);

DecodePlan ChooseDecodePlan(const CConvertJob &job, const PlanInput &in);
