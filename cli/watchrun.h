// velmora-batch --watch: what arrives in a folder is converted by the same
// worker as a run, a run of the files that became ready together.
#pragma once

#include "cli/batchcommand.h"
#include "imaging/runresources.h"

#include <stop_token>
#include <string>
#include <vector>

// Watches until stop; made: the destination's folders the command made.
// Returns 0, or 1 when a file failed or the watch could not go on (told on
// standard error).
int RunWatch(const BatchCommand &cmd, const RunResources &resources, std::stop_token stop,
             std::vector<std::string> made);

// Puts source into folder under its name, or "NAME (2).EXT" and so on when
// that is taken, never replacing a file; across devices it is copied, the
// copy flushed, and then removed. False with error set, source left.
bool MoveIntoFolder(const std::string &source, const std::string &folder, std::string &error);
