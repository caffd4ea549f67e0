// What a conversion run tells the window (or terminal) that shows it.
#pragma once

#include "convert/runrecord.h"

#include <string>

enum class OverwriteChoice {
    Overwrite = 0,
    AutoRename = 1,
    Cancel = 2,
    Skip = 3, // leave the existing output alone
};

struct OverwriteAnswer {
    OverwriteChoice choice = OverwriteChoice::Cancel;
    bool remember = false;  // keep this choice for the rest of the run
};

// Called on the worker's thread, in the order of the run. An on-screen
// implementation forwards each call to its window's thread, in order, and
// drops whatever arrives after the window stopped listening. Every call but
// AskOverwrite is one-way; AskOverwrite blocks the worker until answered.
// A file is announced by FileStarted (before any question about its output)
// and, unless the run stops or is cancelled first, closed by FileDone.
class IConvertReporter {
public:
    virtual ~IConvertReporter() = default;
    virtual void AnimateStatus() = 0;
    virtual void FileStarted(const std::string &source) = 0;
    virtual void FileDone(const FileRecord &record) = 0;
    virtual void SetPercent(int percent) = 0;
    virtual void AddResult(const std::string &outputPath) = 0;
    virtual void SetSummary(const RunTotals &totals) = 0;
    // The run is over: the list is finished or the question was cancelled.
    virtual void ConvertDone() = 0;
    // outputPath exists already: overwrite it, pick another name, leave it
    // alone, or cancel.
    virtual OverwriteAnswer AskOverwrite(const std::string &outputPath) = 0;
};
