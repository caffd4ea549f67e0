#include "convert/outputdates.h"

#include "imaging/metadataio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

bool ParseExifDate(const std::string &text, std::time_t &out)
{
    std::tm tm{};
    char tail = 0;
    // Cameras write "YYYY:MM:DD HH:MM:SS"; an unknown date is all blanks or zeros.
    if (std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail) != 6)
        return false;
    if (tm.tm_year < 1900 || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1; // local time, summer or not, as the camera's clock showed it
    out = std::mktime(&tm);
    return out != std::time_t(-1);
}

namespace {

bool ModificationTime(const std::string &path, FileTime &out)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    out = st.st_mtim;
    return true;
}

} // namespace

bool PhotoTime(const std::string &path, FileTime &out, std::int64_t shiftSeconds)
{
    std::time_t taken = 0;
    if (ParseExifDate(cxmeta::DateTimeOriginal(path), taken)) {
        out = FileTime{std::time_t(taken + shiftSeconds), 0};
        return true;
    }
    return ModificationTime(path, out);
}

bool PlannedOutputTime(const CConvertJob &job, const std::string &source, FileTime &out)
{
    switch (job.m_nOutputDate) {
    case OUTDATE_SOURCE:
        return ModificationTime(source, out);
    case OUTDATE_EXIF:
        return PhotoTime(source, out, job.m_metaEdits.shiftSeconds);
    default:
        return false;
    }
}

bool ApplyOutputTime(const CConvertJob &job, const std::string &source, const std::string &output,
                     std::string *reason)
{
    FileTime when{};
    if (!PlannedOutputTime(job, source, when))
        return true;
    // The access time stays; a link at the output's name is the output itself.
    const FileTime times[2] = {FileTime{0, UTIME_OMIT}, when};
    if (utimensat(AT_FDCWD, output.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    if (reason)
        *reason = std::strerror(errno);
    return false;
}
