// The job the worker tests run: quality 90, the given sources, nothing else.
#pragma once

#include "convert/convertjob.h"

#include <string>
#include <vector>

inline CConvertJob JobFor(const std::vector<std::string> &files)
{
    CConvertJob job;
    job.SetQuality(90);
    job.SetFileCount(int(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i)
        job.SetFile(int(i), files[i]);
    return job;
}
