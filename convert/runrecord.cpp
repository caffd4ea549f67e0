#include "convert/runrecord.h"

#include "convert/filltext.h"

#include <QCoreApplication>

#include <utility>

namespace convertlog {

namespace {

std::string Tr(const char *source)
{
    return QCoreApplication::translate("convertlog", source).toStdString();
}

} // namespace

std::string FromLine(const std::string &source)
{
    return Tr(kFrom) + source;
}

namespace {

// What a dry run would do with the file, and to which name.
std::string ActionLine(const FileRecord &record)
{
    static constexpr std::pair<const char *, const char *> kActions[] = {
        {"convert", QT_TRANSLATE_NOOP("convertlog", "  将转换到: ")},
        {"copy", QT_TRANSLATE_NOOP("convertlog", "  将复制到: ")},
        {"lossless", QT_TRANSLATE_NOOP("convertlog", "  将无损变换到: ")},
        {"skip", QT_TRANSLATE_NOOP("convertlog", "  将跳过: ")},
        {"overwrite", QT_TRANSLATE_NOOP("convertlog", "  将覆盖: ")},
        {"rename", QT_TRANSLATE_NOOP("convertlog", "  将改名为: ")},
        {"ask", QT_TRANSLATE_NOOP("convertlog", "  将询问是否覆盖: ")},
    };
    for (const auto &[action, text] : kActions)
        if (record.action == action)
            return Tr(text) + (record.output.empty() ? record.target : record.output);
    return {};
}

// What a size limit did to an output: its quality, and its size when it
// was scaled down to fit.
std::string FitNote(const SizeFit &fit)
{
    if (!fit.limited || (fit.quality == 0 && !fit.shrunk))
        return {};
    const std::string w = std::to_string(fit.width), h = std::to_string(fit.height);
    if (fit.quality == 0)
        return FillText(QCoreApplication::translate("convertlog", "（缩小到 %1×%2）"), {w, h});
    const std::string q = std::to_string(fit.quality);
    if (!fit.shrunk)
        return FillText(QCoreApplication::translate("convertlog", "（质量 %1）"), {q});
    return FillText(QCoreApplication::translate("convertlog", "（质量 %1，缩小到 %2×%3）"), {q, w, h});
}

} // namespace

std::vector<std::string> RecordLines(const FileRecord &record)
{
    if (!record.action.empty() && !record.Failed())
        return {ActionLine(record)};
    switch (record.outcome) {
    case FileOutcome::Converted:
        return {Tr(kTo) + record.output + FitNote(record.fit)};
    case FileOutcome::Copied:
        return {};
    case FileOutcome::Missing:
        return {Tr(kMissing)};
    case FileOutcome::OpenError:
        return {Tr(kOpenError)};
    case FileOutcome::FrameError:
        return {Tr(kOpenError), Tr(kConvertError), Tr(kSaveError)};
    case FileOutcome::ConvertError:
        return {Tr(kConvertError), Tr(kSaveError)};
    case FileOutcome::SaveError:
        return {Tr(kSaveError)};
    case FileOutcome::Skipped:
        return {Tr(kSkipped) + record.output};
    }
    return {};
}

std::string SummaryLine(const RunTotals &totals)
{
    const char *withSkips = totals.planned
                                ? QT_TRANSLATE_NOOP("convertlog", "总计文件: %1; 将转换: %2; 将跳过: %3; 错误: %4。")
                                : QT_TRANSLATE_NOOP("convertlog", "总计文件: %1; 已转换: %2; 已跳过: %3; 错误: %4。");
    const char *plain = totals.planned ? QT_TRANSLATE_NOOP("convertlog", "总计文件: %1; 将转换: %2; 错误: %3。")
                                       : QT_TRANSLATE_NOOP("convertlog", "总计文件: %1; 已转换: %2; 错误: %3。");
    if (totals.skipped > 0)
        return FillText(QCoreApplication::translate("convertlog", withSkips),
                        {std::to_string(totals.files), std::to_string(totals.converted),
                         std::to_string(totals.skipped), std::to_string(totals.errors)});
    return FillText(QCoreApplication::translate("convertlog", plain),
                    {std::to_string(totals.files), std::to_string(totals.converted), std::to_string(totals.errors)});
}

std::string ShownReason(const std::string &reason)
{
    const QString shown = QCoreApplication::translate("FileRecord", reason.c_str());
    return shown == QString::fromStdString(reason) ? reason : shown.toStdString();
}

} // namespace convertlog
