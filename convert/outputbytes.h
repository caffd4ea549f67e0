// What a run would write for one source, made in memory and put nowhere:
// the run's own preparation and encoders, so what is measured and shown is
// exactly what a run writes.
#pragma once

#include "convert/convertjob.h"
#include "convert/filepreparer.h"

#include <cstdint>
#include <stop_token>
#include <string>

struct OutputBytes {
    enum class Kind {
        Encoded, // bytes holds the output
        Copied,  // the run copies the source (bytes holds the copy it writes)
        Failed,  // reason says why nothing would be written
        Stopped,
    };
    Kind kind = Kind::Failed;
    std::uint32_t outType = 0;
    EncodedBytes bytes;
    std::string reason;
    SizeFit fit; // how a size limit was met
};

// The output of source as a run with job's options writes it, whatever
// output file is there already.
OutputBytes MakeOutputBytes(const CConvertJob &job, const std::string &source, const std::stop_token &stop);
