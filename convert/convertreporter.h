// What a conversion run tells the window (or terminal) that shows it.
#pragma once

#include <string>

enum class OverwriteChoice {
    Overwrite = 0,
    AutoRename = 1,
    Cancel = 2,
};

struct OverwriteAnswer {
    OverwriteChoice choice = OverwriteChoice::Cancel;
    bool remember = false;  // keep this choice for the rest of the run
};

// Called on the worker's thread, in the order of the run. An on-screen
// implementation forwards each call to its window's thread, in order, and
// drops whatever arrives after the window stopped listening. Every call but
// AskOverwrite is one-way; AskOverwrite blocks the worker until answered.
class IConvertReporter {
public:
    virtual ~IConvertReporter() = default;
    virtual void AnimateStatus() = 0;
    virtual void AppendLog(const std::string &text) = 0;
    virtual void SetPercent(int percent) = 0;
    virtual void AddResult(const std::string &outputPath) = 0;
    virtual void SetSummary(const std::string &summary) = 0;
    // The run is over: the list is finished or the question was cancelled.
    virtual void ConvertDone() = 0;
    virtual OverwriteAnswer AskOverwrite(const std::string &message) = 0;
};

// The log lines of a run.
namespace convertlog {
inline constexpr const char *kFrom = "从: ";
inline constexpr const char *kMissing = "  错误: 文件不存在。\r\n";
inline constexpr const char *kOpenError = "  错误: 打开文件错误。\r\n";
inline constexpr const char *kConvertError = "  错误: 转换文件错误!\r\n";
inline constexpr const char *kSaveError = "  错误: 保存文件错误!\r\n";
inline constexpr const char *kTo = "  到: ";
inline constexpr const char *kLineEnd = "\r\n";
// File count, converted count, error count.
std::string Summary(int files, int converted, int errors);
}  // namespace convertlog
