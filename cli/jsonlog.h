// The run's log as JSON lines (--log json): one object per file and a last
// one with the totals, for jq and for merging the logs of several shards.
#pragma once

#include "convert/documentrun.h"
#include "convert/runrecord.h"

#include <string>

namespace jsonlog {

// {"type":"file","source":...,"output":...,"status":"ok"|"skipped"|"error",
//  "outcome":...,"reason":...,"ms":...,"bytes_in":...,"bytes_out":...}
// A name that is not valid UTF-8 is given with its bad bytes replaced by
// U+FFFD, and exactly, in base64, as source_b64 / output_b64 beside it.
// A dry run's record ends with "action":"convert"|"copy"|... too.
std::string FileLine(const FileRecord &record);

// {"type":"document","output":...,"status":"ok"|"planned"|"skipped"|"error",
//  "pages":...,"bytes_out":...} and "reason" when it failed.
std::string DocumentLine(const DocumentRecord &record);

// {"type":"summary","files":...,"converted":...,"skipped":...,"errors":...}
std::string SummaryLine(const RunTotals &totals);

// text as a JSON string; bad UTF-8 replaced. exact (when given) tells
// whether text was valid UTF-8 as it stood.
std::string Quote(const std::string &text, bool *exact = nullptr);

} // namespace jsonlog
