// The times an output is given and named by: its source's modification
// time, or the photo's DateTimeOriginal.
#pragma once

#include "convert/convertjob.h"

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>

// A file's time to the nanosecond, as stat gives it and utimensat takes it.
using FileTime = decltype(std::declval<struct stat>().st_mtim);

// "2024:05:06 07:08:09" (as cameras write it, local time) as a time; false
// when the text is no such date.
bool ParseExifDate(const std::string &text, std::time_t &out);

// The photo's DateTimeOriginal (moved by shiftSeconds, as the run moves it
// in the output), else the file's modification time; false when neither can
// be read.
bool PhotoTime(const std::string &path, FileTime &out, std::int64_t shiftSeconds = 0);

// The modification time the job gives the output of source; false when the
// output keeps the time it was written at (or the source has none).
bool PlannedOutputTime(const CConvertJob &job, const std::string &source, FileTime &out);

// Gives the output the time the job asks for; false (reason set) when the
// file system refuses it. True with nothing done when the job asks none.
bool ApplyOutputTime(const CConvertJob &job, const std::string &source, const std::string &output,
                     std::string *reason = nullptr);
