#include "convert/runrecord.h"

#include <cstdio>

namespace convertlog {

std::string FromLine(const std::string &source)
{
    return kFrom + source;
}

std::vector<std::string> RecordLines(const FileRecord &record)
{
    switch (record.outcome) {
    case FileOutcome::Converted:
        return {kTo + record.output};
    case FileOutcome::Copied:
        return {};
    case FileOutcome::Missing:
        return {kMissing};
    case FileOutcome::OpenError:
        return {kOpenError};
    case FileOutcome::FrameError:
        return {kOpenError, kConvertError, kSaveError};
    case FileOutcome::ConvertError:
        return {kConvertError, kSaveError};
    case FileOutcome::SaveError:
        return {kSaveError};
    case FileOutcome::Skipped:
        return {kSkipped + record.output};
    }
    return {};
}

std::string SummaryLine(const RunTotals &totals)
{
    char text[160];
    if (totals.skipped > 0)
        std::snprintf(text, sizeof text, "总计文件: %d; 已转换: %d; 已跳过: %d; 错误: %d。", totals.files,
                      totals.converted, totals.skipped, totals.errors);
    else
        std::snprintf(text, sizeof text, "总计文件: %d; 已转换: %d; 错误: %d。", totals.files, totals.converted,
                      totals.errors);
    return text;
}

} // namespace convertlog
