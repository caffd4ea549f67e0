#include "convert/naming.h"

#include "convert/filltext.h"
#include "imaging/atomicfile.h"
#include "imaging/cxfile.h"

#include <QCoreApplication>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

PathParts SplitPath(const std::string &path)
{
    PathParts p;
    const std::size_t slash = path.rfind('/');
    std::string name;
    if (slash == std::string::npos) {
        name = path;
    } else {
        p.hasSeparator = true;
        p.folder = path.substr(0, slash);
        name = path.substr(slash + 1);
    }
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        p.base = name;
    } else {
        p.hasDot = true;
        p.base = name.substr(0, dot);
        p.ext = name.substr(dot + 1);
    }
    return p;
}

std::string LowerExtension(const std::string &path)
{
    std::string ext = SplitPath(path).ext;
    for (char &c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

static std::string Lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

namespace {

// The format asked for; under "keep", a source in a format only read is
// written as its row says whenever it cannot stay a plain copy (its
// metadata cannot be taken out of it in place either).
std::string OutputFormatName(const CConvertJob &job, std::uint32_t sourceType)
{
    if (!job.m_szFormat.empty())
        return job.m_szFormat;
    const ImageFormat *source = FormatByType(sourceType);
    const bool changed =
        job.m_bStamp || job.m_bRotate || job.m_bResize || job.m_bStripMetadata || job.m_bStripLocation;
    return source && !source->Writable() && changed ? FormatByType(source->writtenAs)->name : "";
}

// The output path with running number `number` (when numbers are given out).
OutputName BuildOutputPath(const CConvertJob &job, const std::string &source, std::uint32_t sourceType,
                           int fileCount, const std::string &subfolder, int number)
{
    const std::string format = OutputFormatName(job, sourceType);
    if (job.m_szOutDir.empty() && format.empty() && !job.m_bRename)
        return OutputName{source, sourceType};

    const PathParts parts = SplitPath(source);
    // A bare name without any folder gives no folder and no base name, as
    // the backward scan for a separator never reaches a base name.
    std::string base = parts.hasSeparator ? parts.base : std::string();

    if (job.m_bRename) {
        if (number > 0) {
            const char *pattern = fileCount > 99999  ? "%06d"
                                  : fileCount > 9999 ? "%05d"
                                  : fileCount > 999  ? "%04d"
                                                     : "%03d";
            char digits[16];
            std::snprintf(digits, sizeof digits, pattern, number);
            base = digits;
        }
        base = job.m_szRenamePrefix + base + job.m_szRenameSuffix;
    }

    std::string folder = job.m_szOutDir.empty() ? parts.folder : job.m_szOutDir;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    if (!job.m_szOutDir.empty() && !subfolder.empty())
        folder += subfolder + '/';

    OutputName out;
    out.path = folder + base + ".";
    const std::string &ext = parts.ext;
    if (!format.empty() && Lower(format) != Lower(ext)) {
        out.path += format;
        out.type = TypeFromExtension(Lower(format));
    } else {
        out.path += ext;
        out.type = sourceType;
    }
    return out;
}

} // namespace

OutputName MakeOutputPath(CConvertJob &job, const std::string &source, std::uint32_t sourceType,
                          int fileCount, const std::string &subfolder)
{
    const int number = job.m_bRename ? job.m_nStartNumber : 0;
    OutputName out = BuildOutputPath(job, source, sourceType, fileCount, subfolder, number);
    if (number > 0 && number < 2147483647)
        ++job.m_nStartNumber;
    return out;
}

OutputName PlannedOutputPath(const CConvertJob &job, int index, std::uint32_t sourceType)
{
    const int position = job.GetListPosition(index);
    int number = 0;
    if (job.m_bRename && job.m_nStartNumber > 0 && position >= 0)
        number = int(std::min<long long>(2147483647LL, (long long)job.m_nStartNumber + position));
    return BuildOutputPath(job, job.GetFile(index), sourceType, job.GetListSize(), job.GetOutputSubfolder(index),
                           number);
}

std::uint32_t OutputTypeFor(const CConvertJob &job, const std::string &source, std::uint32_t sourceType)
{
    const std::string format = OutputFormatName(job, sourceType);
    if (!format.empty() && Lower(format) != LowerExtension(source))
        return TypeFromExtension(Lower(format));
    return sourceType;
}

bool NameKnownBeforeDecoding(const CConvertJob &job)
{
    return !job.m_bRename || job.m_nStartNumber <= 0 || job.IsShare();
}

bool KeepsExistingOutput(const CConvertJob &job, const std::string &source, const std::string &output)
{
    if (job.m_nOverwrite != OVERWRITE_SKIP && job.m_nOverwrite != OVERWRITE_UPDATE)
        return false;
    struct stat out;
    if (output.empty() || lstat(output.c_str(), &out) != 0)
        return false;
    if (job.m_nOverwrite == OVERWRITE_SKIP)
        return true;
    struct stat in;
    if (stat(source.c_str(), &in) != 0 || stat(output.c_str(), &out) != 0)
        return false; // a missing source or dangling output: the run reports or replaces it
    const auto newer = [](const auto &a, const auto &b) {
        return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
    };
    return !newer(in.st_mtim, out.st_mtim);
}

bool FileExists(const std::string &path)
{
    struct stat st;
    return !path.empty() && lstat(path.c_str(), &st) == 0;
}

std::string RenamePartProblem(const std::string &part)
{
    for (const char c : part) {
        if (c == '/')
            return QCoreApplication::translate("velmora-batch", "a name part cannot hold \"/\"")
                .toStdString();
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return QCoreApplication::translate("velmora-batch", "a name part cannot hold a control character")
                .toStdString();
    }
    return {};
}

std::string MakeUniqueName(const std::string &path, const std::function<bool(const std::string &)> &taken)
{
    // Only the file name's dot counts: "/a.b/c" has no extension.
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string stem = hasExt ? path.substr(0, dot) : path;
    const std::string ext = hasExt ? path.substr(dot) : std::string();

    long long counter = 0;
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (stem.size() >= nameStart + 4) {
        const std::string tail = stem.substr(stem.size() - 4);
        if (tail[0] == '_' && std::isdigit(static_cast<unsigned char>(tail[1])) &&
            std::isdigit(static_cast<unsigned char>(tail[2])) &&
            std::isdigit(static_cast<unsigned char>(tail[3]))) {
            counter = std::stoll(tail.substr(1));
            stem.resize(stem.size() - 4);
        }
    }
    stem += '_';
    for (;;) {
        ++counter;
        char number[24];
        std::snprintf(number, sizeof number, "%03lld", counter);
        std::string candidate = stem + number + ext;
        if (!FileExists(candidate) && !(taken && taken(candidate)))
            return candidate;
    }
}

std::string OverwriteQuestion(const std::string &outputPath, const char *lineEnd)
{
    return FillText(QCoreApplication::translate("convertlog", "文件 \"%1\" 已存在!%2%2请选择你想要的设置。"),
                    {outputPath, lineEnd});
}

bool CopyFileAtomically(const std::string &source, const std::string &target, std::string *reason)
{
    auto fail = [&](std::string why) {
        if (reason)
            *reason = std::move(why);
        return false; // the writer drops its temporary file
    };
    CxIOFile in;
    if (!in.Open(source.c_str(), "rb"))
        return fail(std::strerror(errno));
    AtomicFileWriter writer;
    if (!writer.Begin(target))
        return fail(writer.Error());
    char buffer[1 << 16];
    for (;;) {
        const std::size_t n = in.Read(buffer, 1, sizeof buffer);
        if (n == 0)
            break;
        if (std::fwrite(buffer, 1, n, writer.Stream()) != n)
            return fail(std::strerror(errno));
    }
    if (in.Error())
        return fail(QT_TRANSLATE_NOOP("FileRecord", "cannot read the source"));
    return writer.Commit() || fail(writer.Error());
}
