// Writing a run's outputs so that a stop or a failure never leaves a partial
// file and never costs the file being replaced.
#pragma once

#include "imaging/cximage.h"

#include <functional>
#include <stop_token>
#include <string>

enum class WriteResult {
    Written,
    Failed,   // nothing was replaced
    Stopped,  // a stop came before the file was put in place; nothing was replaced
};

// Runs encode on a temporary file beside path and puts it in place unless
// encode fails or a stop was requested meanwhile. On Failed, reason (when
// given) says why: the system's word for a failed write, flush or rename.
WriteResult WriteAtomically(const std::string &path, const std::stop_token &stop,
                            const std::function<bool(CxFile &)> &encode, std::string *reason = nullptr);

// The image in the given format (0: the format it was loaded from). A failed
// encode's reason is the codec's own.
WriteResult WriteImage(CxImage &img, const std::string &path, std::uint32_t type, const std::stop_token &stop,
                       std::string *reason = nullptr);
