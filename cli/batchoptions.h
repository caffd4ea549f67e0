// The options of velmora-batch, one row each: the parser, --help, the
// manual page and the bash completion are all written from this table, so
// none of them can know an option the others lack.
#pragma once

#include "convert/editsteps.h"

#include <span>
#include <string>

enum class BatchOptionId {
    Format,
    Quality,
    Out,
    Prefix,
    Suffix,
    Start,
    Name,
    ExtCase,
    Resize,
    Width,
    Height,
    Size,
    Percent,
    Gravity,
    Background,
    CropRatio,
    NoEnlarge,
    Sharpen,
    Rotate,
    Stamp,
    Font,
    FontSize,
    Color,
    Overwrite,
    Update,
    KeepDates,
    DateFromExif,
    Recursive,
    FilesFrom,
    NulSeparated,
    Shard,
    Shards,
    Jobs,
    NoAutorotate,
    Strip,
    StripLocation,
    Log,
    Help,
    Version,
    StampPosition,
    StampMargin,
    StampOpacity,
    StampSize,
    StampShadow,
    Logo,
    LogoSize,
    DryRun,
    TrashReplaced,
    Undo,
    UndoJournal,
    JpegProgressive,
    JpegSubsampling,
    PngLevel,
    TifCompression,
    WebpEffort,
    WebpLossless,
    AvifSpeed,
    JxlEffort,
    Dpi,
    RenderDpi,
    Pages,
    Lossless,
    IfLarger,
    Preset,
    SavePreset,
    ListPresets,
    MaxFileSize,
    MinQuality,
    MaxFileSizeShrink,
    Sizes,
    Watch,
    WatchNewOnly,
    Settle,
    Then,
    WatchConfig,
    Combine,
    PageSize,
    PageMargin,
    SetTag,
    SetIfEmpty,
    ShiftDates,
    Edit, // a row of the editing steps' table (EditOptions)
};

enum class OptionValue {
    None,    // a flag
    Name,    // value names what to give: "N", "DIR"
    Choices, // value lists the words taken: "text|json"
    Formats, // the output formats' names, with "keep"
    Literal, // a row of its own for one value of the option above ("--shard auto")
};

// How the shell completes an option's value.
enum class Completion { None, Words, Folders, Files, Fonts, Presets };

// Where the option stands in the manual page's OPTIONS.
enum class ManualEntry {
    Own,          // an entry of its own, with the row's text
    WithPrevious, // named in the heading of the entry above ("--prefix TEXT, --suffix TEXT")
    InText,       // only in another entry's text (--width under --resize)
};

struct BatchOption {
    BatchOptionId id;
    const char *name;                // "--format"; nullptr when there is only a short name
    const char *shortName = nullptr; // "-r"
    bool shortListed = true;         // false: accepted but not shown (-h)
    OptionValue value = OptionValue::None;
    const char *valueText = nullptr; // "N", "fit|width|height|stretch", "auto"
    const char *help = nullptr;      // --help text, a line each (translated); nullptr: not in --help
    ManualEntry manual = ManualEntry::Own;
    const char *manualText = nullptr; // roff
    Completion completion = Completion::None;
    const char *words = nullptr; // completion words where they are not the choices ("auto")
    // A number's bounds, and what a value out of them is told it takes
    // ("a number from 0 to 100"); nullptr for a value that is no number.
    long least = 0;
    long most = 0;
    const char *takes = nullptr;
    // What a choice not among the row's is told, its value as %1 and the
    // choices as %2 ("unknown format '%1' (%2)"); nullptr: "--option takes
    // a, b or c".
    const char *unknownWhat = nullptr;
    const EditOption *edit = nullptr; // the editing step's row of an Edit option
};

// The rows of the table above, the editing steps' among them after --rotate.
std::span<const BatchOption> BatchOptions();

// The row of a name as given on the command line (literal rows are never
// found), or nullptr.
const BatchOption *FindBatchOption(const std::string &arg);

// The row's value as shown: the choices of Formats filled in.
std::string OptionValueText(const BatchOption &option);
// The value's choices, or the completion words, joined by separator.
std::string OptionChoices(const BatchOption &option, const char *separator, const char *last = nullptr);
// The index of value among the choices, or -1.
int OptionChoiceIndex(const BatchOption &option, const std::string &value);

// The --help text.
const char *BatchUsage();
// The .TP entries of the manual page's OPTIONS section.
std::string ManualOptions();
// The case branches completing the value after an option, and the names
// offered for a word that starts with "-".
std::string CompletionCases();
std::string CompletionNames(std::size_t firstColumn, std::size_t indent, std::size_t width);
