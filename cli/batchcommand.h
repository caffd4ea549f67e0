// The command line of velmora-batch, turned into a conversion job.
#pragma once

#include "cli/batchoptions.h"
#include "cli/watchoptions.h"
#include "convert/convertjob.h"
#include "convert/storedoptions.h"
#include "imaging/documentwriter.h"

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

struct BatchCommand {
    CConvertJob job;             // sources filled in, folders expanded
    bool overwriteGiven = false; // --overwrite was on the command line
    bool help = false;
    bool version = false; // --version
    int jobs = 0; // files converted at once; 0: one per core
    bool jsonLog = false; // --log json
    bool dryRun = false;  // --dry-run
    bool trashReplaced = false; // --trash-replaced
    std::string combine; // --combine: the one document written (a full path)
    PageLayout pages;    // --page-size, --page-margin (--dpi too), as the job's encoder has them
    // --undo (the newest journal) or --undo-journal FILE: no conversion.
    bool undo = false;
    std::string undoJournal;
    bool listPresets = false; // --list-presets
    // --save-preset: the file and its values; with no files given the
    // command only saves.
    std::string savePresetPath;
    StoredValues presetValues;
    bool saveOnly = false;
    WatchSettings watch; // --watch and what goes with it
};

// Parses the arguments (without the program name). Relative file, folder and
// --out paths are taken from workFolder, so every path the job gets names its
// folder. On a usage error returns nothing and sets error to a message for
// standard error; so it does when stop ends the reading of a --files-from list.
std::optional<BatchCommand> ParseBatchCommand(const std::vector<std::string> &args, std::string &error,
                                              const std::string &workFolder, std::stop_token stop = {});
