// What a run found out about each file, as data: every front end writes its
// own text from it.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <string>
#include <vector>

enum class FileOutcome {
    Converted,    // written to output
    Copied,       // copied unchanged (or already the output itself)
    Missing,      // the source does not exist
    OpenError,    // not a regular file, or not readable as a picture
    FrameError,   // a frame of an animation could not be read
    ConvertError, // a rotation or resize failed: nothing was written
    SaveError,    // encoding, writing or putting the output in place failed
    Skipped,      // the output exists and the policy leaves it alone
};

// How an output came to be where it was not the usual way: turned on its
// JPEG coefficients, carried over to or back from JPEG XL, or its source
// copied since the rewrite would have been larger.
enum class FileWay { Usual, Lossless, Transcoded, Kept };

// How an output was made to fit a size limit: the quality it was written
// at (0 for a format without one), the size it was scaled down to, if it
// was, and the encodes that took. limited is false without a limit, or
// when the output was a copy or made on the coefficients.
struct SizeFit {
    bool limited = false;
    int quality = 0;
    int encodes = 0;
    bool shrunk = false;
    std::int64_t width = 0, height = 0;
};

struct FileRecord {
    std::string source;
    std::string output; // the file written (for a skip: the one left alone); empty when none was
    FileOutcome outcome = FileOutcome::Converted;
    std::string reason; // the underlying cause of a failure, in English
    std::int64_t bytesIn = 0;      // the source's size
    std::int64_t bytesOut = 0;     // what was written
    std::int64_t microseconds = 0; // spent on the file: decoding to writing
    std::string target = {}; // the file it was to be written to, also when writing it failed
    // A dry run's word for what the run would do: "convert", "copy",
    // "lossless", "skip", "overwrite", "rename" or "ask"; empty in a real run.
    std::string action = {};
    FileWay way = FileWay::Usual;
    SizeFit fit = {};

    bool Failed() const
    {
        return outcome != FileOutcome::Converted && outcome != FileOutcome::Copied && outcome != FileOutcome::Skipped;
    }
};

struct RunTotals {
    int files = 0;
    int converted = 0;
    int errors = 0;
    int skipped = 0; // not counted as converted
    bool planned = false; // a dry run's: what the run would do, nothing done
};

// The log lines of a run, without their line ends, in the language the
// program speaks (source texts of context "convertlog").
namespace convertlog {
inline constexpr const char *kFrom = QT_TRANSLATE_NOOP("convertlog", "从: ");
inline constexpr const char *kMissing = QT_TRANSLATE_NOOP("convertlog", "  错误: 文件不存在。");
inline constexpr const char *kOpenError = QT_TRANSLATE_NOOP("convertlog", "  错误: 打开文件错误。");
inline constexpr const char *kConvertError = QT_TRANSLATE_NOOP("convertlog", "  错误: 转换文件错误!");
inline constexpr const char *kSaveError = QT_TRANSLATE_NOOP("convertlog", "  错误: 保存文件错误!");
inline constexpr const char *kTo = QT_TRANSLATE_NOOP("convertlog", "  到: ");
inline constexpr const char *kSkipped = QT_TRANSLATE_NOOP("convertlog", "  跳过: ");
// The line naming a file as its conversion starts.
std::string FromLine(const std::string &source);
// The lines that follow it once the file is done (none for a copy); a dry
// run's record gets the line of what would be done.
std::vector<std::string> RecordLines(const FileRecord &record);
// File count, converted count, error count; the skipped count too when any
// file was skipped. A dry run's totals say what would be converted and skipped.
std::string SummaryLine(const RunTotals &totals);
// A record's reason as shown: the core's own reasons (context "FileRecord")
// translated, a library's message as the library gave it. Records and the
// JSON log keep the reason as it came.
std::string ShownReason(const std::string &reason);
} // namespace convertlog
