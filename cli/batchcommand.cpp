#include "cli/batchcommand.h"

#include "convert/pagesources.h"

#include "cli/stoppableinput.h"
#include "convert/filltext.h"
#include "convert/imagefiles.h"
#include "convert/metadataedits.h"
#include "convert/naming.h"
#include "convert/sizelimit.h"
#include "convert/outputsizes.h"
#include "convert/storedoptions.h"
#include "convert/watermark.h"
#include "settings/presetfile.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <string_view>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

std::string Tr(const char *text)
{
    return QCoreApplication::translate("velmora-batch", text).toStdString();
}

bool ParseNumber(const std::string &text, long lo, long hi, long &out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// "16:9"
bool ParseRatio(const std::string &text, std::int32_t &w, std::int32_t &h)
{
    const std::size_t colon = text.find(':');
    long a = 0, b = 0;
    if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), 1, 100000, a) ||
        !ParseNumber(text.substr(colon + 1), 1, 100000, b))
        return false;
    w = std::int32_t(a);
    h = std::int32_t(b);
    return true;
}

// RRGGBB, here also with a leading '#'.
bool ParseColor(std::string_view text, COLORREF &out)
{
    if (text.starts_with('#'))
        text.remove_prefix(1);
    const std::optional<COLORREF> colour = ParseHexColour(text);
    if (colour)
        out = *colour;
    return colour.has_value();
}

// A bare name would make outputs whose folder is empty, so every path is
// made absolute; without a known current folder only absolute paths work.
bool Absolute(const std::string &path, const std::string &workFolder, std::string &out, std::string &error)
{
    out = AbsolutePath(path, workFolder);
    if (out.empty() || out[0] == '/')
        return true;
    error = FillText(QCoreApplication::translate("velmora-batch", "cannot tell the current folder for %1"),
                     {path});
    return false;
}

// A longer name is no path: the list is something else (/dev/zero).
constexpr std::size_t kMaxListEntry = 64 * 1024;

// The names of the list on fd, appended to names. Read a piece at a time,
// each name bounded, and waiting so that a stop ends a pipe that stays open.
bool ReadNames(int fd, const std::string &path, bool nulSeparated, std::stop_token stop,
               std::vector<std::string> &names, std::string &error)
{
    const char end = nulSeparated ? '\0' : '\n';
    StoppableInput input(fd, std::move(stop));
    std::string name;
    char buffer[1 << 16];
    ssize_t n;
    while ((n = input.Read(buffer, sizeof buffer)) > 0) {
        for (const char c : std::string_view(buffer, std::size_t(n))) {
            if (c != end && name.size() == kMaxListEntry) {
                error = FillText(
                    QCoreApplication::translate("velmora-batch", "%1: a name is longer than 64 KB"), {path});
                return false;
            }
            if (c != end) {
                name += c;
            } else if (!name.empty()) {
                names.push_back(std::move(name));
                name.clear();
            }
        }
    }
    if (n < 0) {
        error = input.Stopped()
                    ? Tr(QT_TRANSLATE_NOOP("velmora-batch", "stopped"))
                    : FillText(QCoreApplication::translate("velmora-batch", "cannot read %1"), {path});
        return false;
    }
    if (!name.empty())
        names.push_back(std::move(name));
    return true;
}

// The names in a list file: one per line, or NUL-ended; empty entries are
// passed over. "-" is standard input.
bool ReadFileList(const std::string &path, bool nulSeparated, std::stop_token stop,
                  std::vector<std::string> &names, std::string &error)
{
    // Not blocking: a named pipe is then open at once, and its reading waits
    // for a writer where a stop can end it.
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = FillText(QCoreApplication::translate("velmora-batch", "cannot read %1: %2"),
                         {path, std::strerror(errno)});
        return false;
    }
    const bool read = ReadNames(fd, path, nulSeparated, std::move(stop), names, error);
    if (fd != STDIN_FILENO)
        ::close(fd);
    return read;
}

bool EnvNumber(const char *name, long &out)
{
    const char *v = std::getenv(name);
    return v && ParseNumber(v, 0, 100000000, out);
}

// K/N, or "auto": the task of a Slurm job array or a Kubernetes Indexed Job.
bool ParseShard(const std::string &text, std::optional<long> shards, long &k, long &n, std::string &error)
{
    if (text == "auto") {
        long id = 0, lo = 0, hi = 0, step = 1, count = 0;
        if (EnvNumber("SLURM_ARRAY_TASK_ID", id)) {
            if (!EnvNumber("SLURM_ARRAY_TASK_MIN", lo) || lo > id) {
                error =
                    QCoreApplication::translate(
                        "velmora-batch", "--shard auto: SLURM_ARRAY_TASK_MIN is missing or above the task id")
                        .toStdString();
                return false;
            }
            if (!EnvNumber("SLURM_ARRAY_TASK_STEP", step) || step < 1)
                step = 1;
            if (!EnvNumber("SLURM_ARRAY_TASK_COUNT", count)) {
                if (!EnvNumber("SLURM_ARRAY_TASK_MAX", hi) || hi < id) {
                    error =
                        QCoreApplication::translate(
                            "velmora-batch",
                            "--shard auto: neither SLURM_ARRAY_TASK_COUNT nor SLURM_ARRAY_TASK_MAX is set")
                            .toStdString();
                    return false;
                }
                count = (hi - lo) / step + 1;
            }
            k = (id - lo) / step + 1;
            n = count;
        } else if (EnvNumber("JOB_COMPLETION_INDEX", id)) {
            if (!shards) {
                error =
                    QCoreApplication::translate(
                        "velmora-batch",
                        "--shard auto in a Kubernetes Indexed Job needs --shards N (the job's completions)")
                        .toStdString();
                return false;
            }
            k = id + 1;
            n = *shards;
        } else {
            error = QCoreApplication::translate("velmora-batch",
                                                "--shard auto: no Slurm array task (SLURM_ARRAY_TASK_ID) or "
                                                "Kubernetes index (JOB_COMPLETION_INDEX) in the environment")
                        .toStdString();
            return false;
        }
    } else {
        const std::size_t slash = text.find('/');
        if (slash == std::string::npos || !ParseNumber(text.substr(0, slash), 1, 1000000, k) ||
            !ParseNumber(text.substr(slash + 1), 1, 1000000, n)) {
            error = QCoreApplication::translate("velmora-batch", "--shard takes K/N (1/4 ... 4/4) or auto")
                        .toStdString();
            return false;
        }
    }
    if (k < 1 || n < 1 || k > n) {
        error =
            FillText(QCoreApplication::translate("velmora-batch", "--shard %1: part %2 of %3 does not exist"),
                     {text, std::to_string(k), std::to_string(n)});
        return false;
    }
    return true;
}

// What the options say before they are checked against each other.
struct GivenOptions {
    std::optional<long> width, height, size, percent;
    bool gravityGiven = false, backgroundGiven = false, affixGiven = false, startGiven = false;
    bool keepDates = false, dateFromExif = false;
    std::optional<std::string> name;
    std::string resize; // as given
    int rule = -1;      // its place in --resize's choices
    std::optional<std::vector<OutputSize>> sizes; // --sizes
    std::string stamp;
    bool stampGiven = false, sharpen = false, noEnlarge = false;
    const char *watermarkChoice = nullptr; // the last watermark option given
    LOGFONT font;
    COLORREF color = RGB(255, 122, 122);
    bool recursive = false, nulSeparated = false, update = false;
    const char *fitChoice = nullptr; // the last option that goes with --max-file-size
    bool minQualityGiven = false;
    std::optional<std::string> filesFrom, shard;
    std::optional<long> shards;
    bool outGiven = false; // --out on the command line
    std::vector<std::string> inputs;
    std::string logoPath; // the logo's file, for a preset saved
    std::vector<const EditOption *> edits; // the editing steps' options given
    const char *watchChoice = nullptr;     // the last option that goes with --watch
};

// An editing step's option: its row reads the value.
bool ApplyEdit(const BatchOption &option, const std::string &v, CConvertJob &job, GivenOptions &given,
               std::string &error)
{
    if (const char *problem = option.edit->parse(v, job.m_edits)) {
        error = FillText(QCoreApplication::translate("velmora-batch", problem), {option.name});
        return false;
    }
    given.edits.push_back(option.edit);
    return true;
}

bool Given(const GivenOptions &given, const char *name)
{
    return std::any_of(given.edits.begin(), given.edits.end(),
                       [name](const EditOption *e) { return std::string_view(e->name) == name; });
}

// What the editing steps' options need of each other and of the resize.
bool CheckEdits(const GivenOptions &given, const CConvertJob &job, std::string &error)
{
    if (Given(given, "--crop") && Given(given, "--crop-margins")) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--crop and --crop-margins do not go together"));
        return false;
    }
    for (const EditOption *e : given.edits) {
        if (!e->needs)
            continue;
        const EditOption *needed = FindEditOption(e->needs);
        if (needed ? !needed->text(job.m_edits).empty() : job.CropsToRatio())
            continue;
        error = FillText(QCoreApplication::translate("velmora-batch", "%1 goes with %2"), {e->name, e->needs});
        return false;
    }
    if (job.m_edits.borderInside && job.m_sizes.empty() && !(job.m_bResize && RuleHoldsBorder(job.m_nResizeType))) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--border-inside needs a --resize rule that sets a size "
                                                      "(any but percent) or --sizes"));
        return false;
    }
    return true;
}

void ApplyFlag(BatchOptionId id, BatchCommand &cmd, GivenOptions &given)
{
    switch (id) {
    case BatchOptionId::NoEnlarge:
        given.noEnlarge = true;
        break;
    case BatchOptionId::Sharpen:
        given.sharpen = true;
        break;
    case BatchOptionId::Recursive:
        given.recursive = true;
        break;
    case BatchOptionId::NulSeparated:
        given.nulSeparated = true;
        break;
    case BatchOptionId::Update:
        given.update = true;
        break;
    case BatchOptionId::KeepDates:
        given.keepDates = true;
        break;
    case BatchOptionId::DateFromExif:
        given.dateFromExif = true;
        break;
    case BatchOptionId::NoAutorotate:
        cmd.job.m_bAutoRotate = false;
        break;
    case BatchOptionId::Strip:
        cmd.job.m_bStripMetadata = true;
        break;
    case BatchOptionId::StripLocation:
        cmd.job.m_bStripLocation = true;
        break;
    case BatchOptionId::SetIfEmpty:
        cmd.job.m_metaEdits.ifEmpty = true;
        break;
    case BatchOptionId::StampShadow:
        cmd.job.m_bStampShadow = true;
        given.watermarkChoice = "--stamp-shadow";
        break;
    case BatchOptionId::JpegProgressive:
        cmd.job.m_encoder.m_bJpegProgressive = true;
        break;
    case BatchOptionId::WebpLossless:
        cmd.job.m_encoder.m_bWebpLossless = true;
        break;
    case BatchOptionId::Help:
        cmd.help = true;
        break;
    case BatchOptionId::Version:
        cmd.version = true;
        break;
    case BatchOptionId::DryRun:
        cmd.dryRun = true;
        break;
    case BatchOptionId::TrashReplaced:
        cmd.trashReplaced = true;
        break;
    case BatchOptionId::Undo:
        cmd.undo = true;
        break;
    case BatchOptionId::ListPresets:
        cmd.listPresets = true;
        break;
    case BatchOptionId::WatchNewOnly:
        cmd.watch.newOnly = true;
        given.watchChoice = "--watch-new-only";
        break;
    case BatchOptionId::MaxFileSizeShrink:
        cmd.job.m_bMaxFileSizeShrink = true;
        given.fitChoice = "--max-file-size-shrink";
        break;
    default:
        break;
    }
}

// "--rotate takes -90, 90 or 180"
std::string TakesChoices(const BatchOption &option)
{
    return FillText(QCoreApplication::translate("velmora-batch", "%1 takes %2"),
                    {option.name, OptionChoices(option, ", ", " or ")});
}

// What a number or a choice the row bounds is told when out of them; empty
// when the value is fine.
std::string ValueProblem(const BatchOption &option, const std::string &a, const std::string &v, long &n)
{
    if (option.takes)
        return ParseNumber(v, option.least, option.most, n)
                   ? std::string()
                   : FillText(QCoreApplication::translate("velmora-batch", "%1 takes %2"),
                              {a, QCoreApplication::translate("velmora-batch", option.takes).toStdString()});
    if ((option.value != OptionValue::Choices && option.value != OptionValue::Formats) ||
        OptionChoiceIndex(option, v) >= 0)
        return {};
    if (option.unknownWhat)
        return FillText(QCoreApplication::translate("velmora-batch", option.unknownWhat), {v, OptionChoices(option, ", ")});
    return TakesChoices(option);
}

// The options that say what becomes of each picture.
void ApplyPictureValue(const BatchOption &option, const std::string &v, long n, int choice, BatchCommand &cmd,
                       GivenOptions &given)
{
    static constexpr int kRotations[] = {ROTATE_LEFT, ROTATE_RIGHT, ROTATE_180};
    CConvertJob &job = cmd.job;
    switch (option.id) {
    case BatchOptionId::Format:
        job.SetFormat(choice == 0 ? std::string() : std::string(OutputFormats()[std::size_t(choice) - 1].name));
        break;
    case BatchOptionId::Quality:
        job.SetQuality(int(n));
        break;
    case BatchOptionId::Resize:
        given.resize = v;
        given.rule = choice;
        break;
    case BatchOptionId::Width:
        given.width = n;
        break;
    case BatchOptionId::Height:
        given.height = n;
        break;
    case BatchOptionId::Size:
        given.size = n;
        break;
    case BatchOptionId::Percent:
        given.percent = n;
        break;
    case BatchOptionId::Gravity:
        given.gravityGiven = true;
        job.m_nGravity = choice;
        break;
    case BatchOptionId::ExtCase:
        job.m_nExtCase = choice;
        break;
    case BatchOptionId::Lossless:
        job.m_nLossless = choice == 0 ? LOSSLESS_AUTO : choice == 1 ? LOSSLESS_TRIM : LOSSLESS_OFF;
        break;
    case BatchOptionId::IfLarger:
        job.m_bKeepIfLarger = choice == 0;
        break;
    case BatchOptionId::Rotate:
        job.SetRotateFlag(true);
        job.SetRotation(kRotations[choice]);
        break;
    case BatchOptionId::Stamp:
        given.stampGiven = true;
        given.stamp = v;
        break;
    case BatchOptionId::Font:
        given.font.SetFaceName(v.c_str());
        break;
    case BatchOptionId::FontSize:
        given.font.lfHeight = -int(n);
        break;
    default:
        break;
    }
}

// The options of the names and of the pad's and the crop's values, checked
// as they come.
bool ApplyNameOrFrameValue(const BatchOption &option, const std::string &a, const std::string &v, long n,
                           CConvertJob &job, GivenOptions &given, std::string &error)
{
    switch (option.id) {
    case BatchOptionId::Prefix:
    case BatchOptionId::Suffix:
        // A name part must stay inside the destination folder.
        if (const std::string problem = RenamePartProblem(v); !problem.empty()) {
            error = a + ": " + problem;
            return false;
        }
        job.SetRenameFlag(true);
        option.id == BatchOptionId::Prefix ? job.SetPrefix(v) : job.SetSuffix(v);
        given.affixGiven = true;
        return true;
    case BatchOptionId::Start:
        job.SetRenameFlag(true);
        job.SetStartNumber(int(n));
        given.startGiven = true;
        return true;
    case BatchOptionId::Name:
        if (const std::string problem = NameTemplateProblem(v); !problem.empty()) {
            error = "--name: " + problem;
            return false;
        }
        given.name = v;
        return true;
    case BatchOptionId::Background:
        if (!ParseColor(v, job.m_crBackground)) {
            error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--background takes six hexadecimal digits, RRGGBB"));
            return false;
        }
        given.backgroundGiven = true;
        return true;
    case BatchOptionId::CropRatio:
        if (!ParseRatio(v, job.m_nCropRatioW, job.m_nCropRatioH)) {
            error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--crop-ratio takes W:H, two numbers from 1 to 100000 (1:1, 4:3, 16:9)"));
            return false;
        }
        return true;
    default:
        return true;
    }
}

// The watermark's place and look, and its logo, read here so that a picture
// that cannot be read stops the run before anything is written.
bool ApplyWatermarkValue(const BatchOption &option, const std::string &v, long n, int choice, CConvertJob &job,
                         GivenOptions &given, const std::string &workFolder, std::string &error)
{
    given.watermarkChoice = option.name;
    std::string path, why;
    switch (option.id) {
    case BatchOptionId::StampPosition:
        job.m_nStampPosition = choice;
        return true;
    case BatchOptionId::StampMargin:
        job.m_nStampMargin = int(n);
        return true;
    case BatchOptionId::StampOpacity:
        job.m_nStampOpacity = int(n);
        return true;
    case BatchOptionId::StampSize:
        job.m_nStampSizePercent = int(n);
        return true;
    case BatchOptionId::LogoSize:
        job.m_nLogoSizePercent = int(n);
        return true;
    default: // --logo
        if (v.empty()) {
            error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--logo needs a file name"));
            return false;
        }
        if (!Absolute(v, workFolder, path, error))
            return false;
        job.m_logo = ReadLogo(path, why);
        if (!job.m_logo) {
            error = "--logo: " + path + ": " + why;
            return false;
        }
        given.logoPath = path;
        return true;
    }
}

// The encoders' settings, the row having checked the value; false for
// another option.
bool ApplyEncoderValue(BatchOptionId id, long n, int choice, CEncoderSettings &settings)
{
    static constexpr std::int32_t kSubsampling[] = {SUBSAMPLING_444, SUBSAMPLING_422, SUBSAMPLING_420};
    static constexpr std::int32_t kTifCompression[] = {TIFCOMPRESS_DEFLATE, TIFCOMPRESS_LZW, TIFCOMPRESS_JPEG,
                                                       TIFCOMPRESS_NONE};
    switch (id) {
    case BatchOptionId::JpegSubsampling:
        settings.m_nJpegSubsampling = kSubsampling[choice];
        break;
    case BatchOptionId::PngLevel:
        settings.m_nPngLevel = std::int32_t(n);
        break;
    case BatchOptionId::TifCompression:
        settings.m_nTifCompression = kTifCompression[choice];
        break;
    case BatchOptionId::WebpEffort:
        settings.m_nWebpEffort = std::int32_t(n);
        break;
    case BatchOptionId::AvifSpeed:
        settings.m_nAvifSpeed = std::int32_t(n);
        break;
    case BatchOptionId::JxlEffort:
        settings.m_nJxlEffort = std::int32_t(n);
        break;
    case BatchOptionId::Dpi:
        settings.m_nDpi = std::int32_t(n);
        break;

    default:
        return false;
    }
    return true;
}

// The folder written to, and the journal to undo.
bool ApplyPlaceValue(const BatchOption &option, const std::string &v, BatchCommand &cmd,
                     const std::string &workFolder, std::string &error)
{
    std::string path;
    if (v.empty()) {
        error = option.id == BatchOptionId::Out
                    ? QCoreApplication::translate("velmora-batch", "--out needs a folder name").toStdString()
                    : QCoreApplication::translate("velmora-batch", "--undo-journal needs a file name").toStdString();
        return false;
    }
    if (!Absolute(v, workFolder, path, error))
        return false;
    if (option.id == BatchOptionId::Out) {
        cmd.job.SetOutputFolder(path);
    } else {
        cmd.undoJournal = path;
        cmd.undo = true;
    }
    return true;
}

// "FILE:LINE: what", or "FILE: what" for the file as a whole.
std::string AtLine(const std::string &path, int line, const std::string &what)
{
    return path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what;
}

std::string PresetFaultText(const std::string &path, const PresetFault &fault)
{
    const auto says = [&](const char *text, const std::string &arg = {}) {
        return AtLine(path, fault.line, FillText(QCoreApplication::translate("velmora-batch", text), {arg}));
    };
    switch (fault.kind) {
    case PresetFault::Unreadable:
        return says(QT_TRANSLATE_NOOP("velmora-batch", "cannot read the preset: %1"), fault.detail);
    case PresetFault::OtherGroup:
        return says(QT_TRANSLATE_NOOP("velmora-batch", "a preset holds only a [Settings2] group"));
    case PresetFault::Repeated:
        return says(QT_TRANSLATE_NOOP("velmora-batch", "%1 is given twice"), fault.detail);
    case PresetFault::TooLarge:
        return says(QT_TRANSLATE_NOOP("velmora-batch", "the preset is larger than 1 MB"));
    default:
        return says(QT_TRANSLATE_NOOP("velmora-batch", "not a NAME=VALUE line"));
    }
}

std::string StoredFaultText(const PresetEntry &entry, StoredFault fault)
{
    if (fault == StoredFault::Unknown)
        return FillText(QCoreApplication::translate("velmora-batch", "unknown name %1"), {entry.name});
    if (fault == StoredFault::NotNumber)
        return FillText(QCoreApplication::translate("velmora-batch", "%1 takes a number"), {entry.name});
    if (fault == StoredFault::BadText)
        return entry.name + ": " + StoredTextProblem(entry.name, entry.value);
    if (entry.name == "JpegSubsampling")
        return FillText(QCoreApplication::translate("velmora-batch", "%1 takes 0, 444, 422 or 420"),
                        {entry.name});
    const StoredName *n = FindStoredName(entry.name);
    const long most = entry.name == "m_nFormatType" ? long(OutputFormats().size()) : n->most;
    return FillText(QCoreApplication::translate("velmora-batch", "%1 takes a number from %2 to %3"),
                    {entry.name, std::to_string(n->least), std::to_string(most)});
}

// The preset's values, every one checked; logoLine is the logo's line.
bool ReadPresetValues(const std::string &path, StoredValues &values, int &logoLine, std::string &error)
{
    std::vector<PresetEntry> entries;
    PresetFault fault;
    const auto check = [&](const PresetEntry &entry) {
        const StoredFault f = CheckStoredValue(entry.name, entry.value);
        if (f != StoredFault::None)
            error = AtLine(path, entry.line, StoredFaultText(entry, f));
        return f == StoredFault::None;
    };
    if (!ReadPresetFile(QString::fromStdString(path), entries, fault, check)) {
        if (fault.kind != PresetFault::Refused)
            error = PresetFaultText(path, fault);
        return false;
    }
    for (const PresetEntry &entry : entries) {
        if (entry.name == "LogoFile")
            logoLine = entry.line;
        values[entry.name] = entry.value;
    }
    return true;
}

const char *const kBadPresetName = QT_TRANSLATE_NOOP(
    "velmora-batch", "%1: '%2' is no preset name (empty, a leading dot, a / or a control character)");

// Every option a preset holds is replaced by its value; the others (the
// files, --overwrite, --jobs, --log ...) stay as given.
bool ApplyPreset(const std::string &v, BatchCommand &cmd, GivenOptions &given, const std::string &workFolder,
                 std::string &error)
{
    std::string path;
    if (v.find('/') != std::string::npos) {
        if (!Absolute(v, workFolder, path, error))
            return false;
    } else if (!IsPresetName(QString::fromStdString(v))) {
        error = FillText(QCoreApplication::translate("velmora-batch", kBadPresetName), {"--preset", v});
        return false;
    } else {
        path = PresetPath(QString::fromStdString(v)).toStdString();
    }
    StoredValues values;
    int logoLine = 0;
    if (!ReadPresetValues(path, values, logoLine, error))
        return false;
    const ConvertOptions o = OptionsFromStored(values);
    CConvertJob job = MakeConvertJob(o, {});
    if (job.m_bStamp && !o.m_strLogoPath.empty() && !job.m_logo) {
        std::string why;
        ReadLogo(o.m_strLogoPath, why);
        error = AtLine(path, logoLine,
                       FillText(QCoreApplication::translate("velmora-batch", "cannot read the logo %1: %2"),
                                {o.m_strLogoPath, why}));
        return false;
    }
    if (std::string out; !job.m_szOutDir.empty()) {
        if (!Absolute(job.m_szOutDir, workFolder, out, error))
            return false;
        job.SetOutputFolder(out);
    }
    job.SetOverwritePolicy(cmd.job.m_nOverwrite);
    cmd.job = std::move(job);
    GivenOptions fresh;
    fresh.stampGiven = o.m_bStamp;
    fresh.stamp = o.m_strStampText;
    fresh.font = o.m_lfStamp;
    fresh.color = o.m_crStamp;
    fresh.logoPath = cmd.job.m_logo ? o.m_strLogoPath : std::string();
    // Its running numbers' start stays under a --name given after it.
    fresh.startGiven = cmd.job.m_bRename && cmd.job.m_nStartNumber > 0;
    fresh.recursive = given.recursive;
    fresh.nulSeparated = given.nulSeparated;
    fresh.update = given.update;
    fresh.filesFrom = std::move(given.filesFrom);
    fresh.shard = std::move(given.shard);
    fresh.shards = given.shards;
    fresh.inputs = std::move(given.inputs);
    given = std::move(fresh);
    return true;
}

// --preset runs with a preset; --save-preset names the one to write.
bool ApplyPresetValue(const BatchOption &option, const std::string &a, const std::string &v, BatchCommand &cmd,
                      GivenOptions &given, const std::string &workFolder, std::string &error)
{
    if (option.id == BatchOptionId::Preset)
        return ApplyPreset(v, cmd, given, workFolder, error);
    if (!IsPresetName(QString::fromStdString(v))) {
        error = FillText(QCoreApplication::translate("velmora-batch", kBadPresetName), {a, v});
        return false;
    }
    cmd.savePresetPath = PresetPath(QString::fromStdString(v)).toStdString();
    return true;
}

// --watch DIR, --settle and --then.
bool ApplyWatchValue(const BatchOption &option, const std::string &v, BatchCommand &cmd, GivenOptions &given,
                     const std::string &workFolder, std::string &error)
{
    WatchSettings &watch = cmd.watch;
    if (option.id == BatchOptionId::Settle) {
        const std::optional<double> settle = ParseSettle(v);
        if (!settle) {
            error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--settle takes seconds from 0 to 3600 (2, 0.5)"));
            return false;
        }
        watch.settle = *settle;
        given.watchChoice = "--settle";
        return true;
    }
    if (option.id == BatchOptionId::Then) {
        std::string folder;
        if (!ParseThen(v, watch.then, folder)) {
            error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--then takes keep, trash or move:DIR"));
            return false;
        }
        given.watchChoice = "--then";
        return folder.empty() || Absolute(folder, workFolder, watch.moveFolder, error);
    }
    if (v.empty()) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--watch needs a folder name"));
        return false;
    }
    if (!Absolute(v, workFolder, watch.folder, error))
        return false;
    watch.folder = TrimFolder(watch.folder);
    return true;
}

// A watch takes no files; it converts only what is newer than its output
// unless told how to overwrite, and never asks.
bool CheckWatch(GivenOptions &given, BatchCommand &cmd, std::string &error)
{
    WatchSettings &watch = cmd.watch;
    if (!watch.Active()) {
        if (given.watchChoice)
            error = FillText(QCoreApplication::translate("velmora-batch", "%1 goes with --watch"),
                             {given.watchChoice});
        return !given.watchChoice;
    }
    if (!given.inputs.empty() || given.filesFrom || given.shard) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--watch takes no files, --files-from or --shard"));
        return false;
    }
    if (cmd.dryRun) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--watch and --dry-run do not go together"));
        return false;
    }
    if (cmd.overwriteGiven && cmd.job.m_nOverwrite == OVERWRITE_ASK) {
        error =
            Tr(QT_TRANSLATE_NOOP("velmora-batch", "--watch does not go with --overwrite ask: nobody is there "
                                                  "to answer"));
        return false;
    }
    struct stat st;
    if (stat(watch.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = FillText(QCoreApplication::translate("velmora-batch", "--watch: %1 is no folder"),
                         {watch.folder});
        return false;
    }
    if (!cmd.overwriteGiven)
        given.update = true;
    watch.recursive = given.recursive;
    return true;
}

bool ApplyValue(const BatchOption &option, const std::string &a, const std::string &v, BatchCommand &cmd,
                GivenOptions &given, const std::string &workFolder, std::string &error)
{
    static constexpr int kPolicies[] = {OVERWRITE_ASK, OVERWRITE_RENAME, OVERWRITE_REPLACE, OVERWRITE_SKIP};
    CConvertJob &job = cmd.job;
    long n = 0;
    if (error = ValueProblem(option, a, v, n); !error.empty())
        return false;
    const int choice = OptionChoiceIndex(option, v);
    if (option.edit)
        return ApplyEdit(option, v, job, given, error);
    if (ApplyEncoderValue(option.id, n, choice, job.m_encoder))
        return true;
    switch (option.id) {
    case BatchOptionId::Out:
        given.outGiven = true;
        return ApplyPlaceValue(option, v, cmd, workFolder, error);
    case BatchOptionId::UndoJournal:
        return ApplyPlaceValue(option, v, cmd, workFolder, error);
    // The PDF format's encoder lays pages out as --combine does.
    case BatchOptionId::PageSize:
        job.m_encoder.m_nPageSize = std::int32_t(choice); // image, a4, letter as PAGESIZE_*
        return true;
    case BatchOptionId::PageMargin:
        job.m_encoder.m_nPageMargin = std::int32_t(n);
        return true;
    case BatchOptionId::Combine: {
        DocumentKind kind;
        if (!DocumentKindOf(v, kind)) {
            error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--combine takes a file name ending in .pdf, .tif or .tiff"));
            return false;
        }
        return Absolute(v, workFolder, cmd.combine, error);
    }
    case BatchOptionId::Prefix:
    case BatchOptionId::Suffix:
    case BatchOptionId::Start:
    case BatchOptionId::Name:
    case BatchOptionId::Background:
    case BatchOptionId::CropRatio:
        return ApplyNameOrFrameValue(option, a, v, n, job, given, error);
    case BatchOptionId::Sizes: {
        std::vector<OutputSize> sizes;
        std::string problem;
        if (!ParseSizeList(v, sizes, problem)) {
            error = a + ": " + problem;
            return false;
        }
        given.sizes = std::move(sizes);
        return true;
    }
    case BatchOptionId::Color:
        if (!ParseColor(v, given.color)) {
            error =
                QCoreApplication::translate("velmora-batch", "--color takes six hexadecimal digits, RRGGBB")
                    .toStdString();
            return false;
        }
        return true;
    case BatchOptionId::StampPosition:
    case BatchOptionId::StampMargin:
    case BatchOptionId::StampOpacity:
    case BatchOptionId::StampSize:
    case BatchOptionId::Logo:
    case BatchOptionId::LogoSize:
        return ApplyWatermarkValue(option, v, n, choice, job, given, workFolder, error);
    case BatchOptionId::Jobs:
        cmd.jobs = int(n);
        return true;
    case BatchOptionId::MaxFileSize:
        if (const std::optional<std::int64_t> bytes = ParseFileSize(v)) {
            job.m_nMaxFileSize = *bytes;
            return true;
        }
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--max-file-size takes a size from 1 KB to 1 GiB: a number "
                                                      "and K, KB, M, MB, KiB or MiB (300K, 1.5MB)"));
        return false;
    case BatchOptionId::RenderDpi:
        job.m_nRenderDpi = std::int32_t(n);
        return true;
    case BatchOptionId::SetTag: {
        cxmeta::TagValue tag;
        if (const std::string problem = ParseTagAssignment(v, tag); !problem.empty()) {
            error = a + ": " + problem;
            return false;
        }
        job.m_metaEdits.values.push_back(std::move(tag));
        return true;
    }
    case BatchOptionId::ShiftDates:
        if (const std::string problem = ParseDateShift(v, job.m_metaEdits.shiftSeconds); !problem.empty()) {
            error = a + ": " + problem;
            return false;
        }
        return true;
    case BatchOptionId::Pages: {
        PageChoice choice;
        if (!ParsePageChoice(v, choice)) {
            error = FillText(QCoreApplication::translate(
                                 "velmora-batch", "%1 takes page numbers and ranges, comma-separated: 1-3,7 or 5-"),
                             {a});
            return false;
        }
        job.m_szPages = v;
        return true;
    }
    case BatchOptionId::MinQuality:
        job.m_nMinQuality = int(n);
        given.fitChoice = "--min-quality";
        given.minQualityGiven = true;
        return true;
    case BatchOptionId::Preset:
    case BatchOptionId::SavePreset:
        return ApplyPresetValue(option, a, v, cmd, given, workFolder, error);
    case BatchOptionId::Overwrite:
        job.SetOverwritePolicy(kPolicies[choice]);
        cmd.overwriteGiven = true;
        return true;
    case BatchOptionId::Log:
        cmd.jsonLog = v == "json";
        return true;
    case BatchOptionId::FilesFrom:
        given.filesFrom = v;
        return true;
    case BatchOptionId::Shard:
        given.shard = v;
        return true;
    case BatchOptionId::Shards:
        given.shards = n;
        return true;
    case BatchOptionId::Watch:
    case BatchOptionId::Settle:
    case BatchOptionId::Then:
        return ApplyWatchValue(option, v, cmd, given, workFolder, error);
    case BatchOptionId::Format:
    case BatchOptionId::Quality:
    case BatchOptionId::Resize:
    case BatchOptionId::Width:
    case BatchOptionId::Height:
    case BatchOptionId::Size:
    case BatchOptionId::Percent:
    case BatchOptionId::Gravity:
    case BatchOptionId::ExtCase:
    case BatchOptionId::Rotate:
    case BatchOptionId::Stamp:
    case BatchOptionId::Font:
    case BatchOptionId::FontSize:
    case BatchOptionId::Lossless:
    case BatchOptionId::IfLarger:
        ApplyPictureValue(option, v, n, choice, cmd, given);
        return true;
    default:
        error = FillText(QCoreApplication::translate("velmora-batch", "unknown option %1"), {a});
        return false;
    }
}

// The values a resize rule takes, and the options that go with one only.
std::string RuleValueProblem(const GivenOptions &given, const CConvertJob &job)
{
    const int rule = given.rule;
    const std::string resize = "--resize " + given.resize;
    const bool edge = rule == RESIZE_LONG_EDGE || rule == RESIZE_SHORT_EDGE, percent = rule == RESIZE_PERCENT;
    if (given.size && !edge)
        return Tr(QT_TRANSLATE_NOOP("velmora-batch", "--size goes with --resize long or short"));
    if (given.percent && !percent)
        return Tr(QT_TRANSLATE_NOOP("velmora-batch", "--percent goes with --resize percent"));
    if (given.backgroundGiven && rule != RESIZE_PAD)
        return Tr(QT_TRANSLATE_NOOP("velmora-batch", "--background goes with --resize pad"));
    if (given.gravityGiven && rule != RESIZE_FILL && rule != RESIZE_PAD && !job.CropsToRatio())
        return Tr(QT_TRANSLATE_NOOP("velmora-batch", "--gravity goes with --resize fill or pad, or --crop-ratio"));
    // Pad places the whole picture: there is nothing in it to look for.
    if (given.gravityGiven && rule == RESIZE_PAD && IsContentGravity(job.m_nGravity))
        return Tr(QT_TRANSLATE_NOOP("velmora-batch",
                                    "--gravity attention and entropy go with --resize fill or --crop-ratio, not "
                                    "--resize pad"));
    if (rule < 0) {
        if (given.width || given.height)
            return Tr(QT_TRANSLATE_NOOP("velmora-batch", "--width and --height go with --resize"));
        if (given.sharpen || given.noEnlarge)
            return Tr(QT_TRANSLATE_NOOP("velmora-batch", "--sharpen and --no-enlarge go with --resize"));
        return {};
    }
    if (edge || percent) {
        if (given.width || given.height)
            return FillText(QCoreApplication::translate("velmora-batch", "%1 takes %2, not --width or --height"),
                            {resize, edge ? "--size" : "--percent"});
        if (edge ? !given.size : !given.percent)
            return FillText(QCoreApplication::translate("velmora-batch", "%1 needs %2"),
                            {resize, edge ? "--size" : "--percent"});
        return {};
    }
    const bool needW = rule != 2, needH = rule != 1;
    if ((needW && !given.width) || (needH && !given.height))
        return FillText(QCoreApplication::translate("velmora-batch", "%1 needs %2"),
                        {resize, needW && needH ? Tr(QT_TRANSLATE_NOOP("velmora-batch", "--width and --height"))
                                 : needW        ? "--width"
                                                : "--height"});
    for (const auto &[needed, value, name] :
         {std::tuple{needW, given.width, "--width"}, {needH, given.height, "--height"}})
        if (needed && *value < 1)
            return FillText(QCoreApplication::translate("velmora-batch", "%1 needs %2 of 1 pixel or more"),
                            {resize, name});
    return {};
}

// A preset's resize, where no --resize follows it: its rule and the values
// the rule takes, unless given after it.
void TakePresetResize(GivenOptions &given, const CConvertJob &job)
{
    static constexpr const char *kRules[] = {"fit", "width", "height", "stretch", "long",
                                             "short", "percent", "fill", "pad"};
    // Its sharpen and don't-enlarge stay under a --resize given after it.
    if (job.m_bResize) {
        given.sharpen = given.sharpen || job.m_bSharpen;
        given.noEnlarge = given.noEnlarge || job.m_bDontEnlarge;
    }
    if (given.rule >= 0 || !job.m_bResize || job.m_nResizeType < 0 || job.m_nResizeType > RESIZE_PAD)
        return;
    const int rule = given.rule = job.m_nResizeType;
    given.resize = kRules[rule];
    if (rule == RESIZE_LONG_EDGE || rule == RESIZE_SHORT_EDGE) {
        given.size = given.size.value_or(job.m_nEdgeSize);
    } else if (rule == RESIZE_PERCENT) {
        given.percent = given.percent.value_or(job.m_nPercent);
    } else {
        given.width = given.width.value_or(job.m_nWidth);
        given.height = given.height.value_or(job.m_nHeight);
    }
}

// Several sizes in the place of one resize; sharpen and don't-enlarge go
// with them as with a resize.
bool CheckSizes(GivenOptions &given, CConvertJob &job, std::string &error)
{
    if (given.rule >= 0) {
        error =
            Tr(QT_TRANSLATE_NOOP("velmora-batch", "--sizes takes the place of --resize: give one of them"));
        return false;
    }
    GivenOptions values = given;
    values.sharpen = values.noEnlarge = false;
    if (error = RuleValueProblem(values, job); !error.empty())
        return false;
    // A preset's sharpen and don't-enlarge stay; its rule gives way.
    if (job.m_bResize) {
        given.sharpen = given.sharpen || job.m_bSharpen;
        given.noEnlarge = given.noEnlarge || job.m_bDontEnlarge;
    }
    SetSizes(job, *given.sizes);
    job.SetSharpen(given.sharpen);
    job.SetDontEnlarge(given.noEnlarge);
    return true;
}

bool CheckResize(GivenOptions &given, CConvertJob &job, std::string &error)
{
    if (given.sizes)
        return CheckSizes(given, job, error);
    // A --resize takes the place of a preset's sizes.
    if (given.rule >= 0)
        job.m_sizes.clear();
    TakePresetResize(given, job);
    if (error = RuleValueProblem(given, job); !error.empty())
        return false;
    if (given.rule < 0)
        return true;
    job.SetResizeFlag(true);
    job.SetResizeType(given.rule);
    job.SetSize(int(given.width.value_or(0)), int(given.height.value_or(0)));
    job.m_nEdgeSize = std::int32_t(given.size.value_or(job.m_nEdgeSize));
    job.m_nPercent = std::int32_t(given.percent.value_or(job.m_nPercent));
    job.SetSharpen(given.sharpen);
    job.SetDontEnlarge(given.noEnlarge);
    return true;
}

// The outputs of several sizes must not share a name.
bool CheckSizeNames(const CConvertJob &job, std::string &error)
{
    if (job.m_sizes.empty() || !job.m_bRename || job.m_szNameTemplate.empty() ||
        NameTemplateTellsSize(job.m_szNameTemplate))
        return true;
    error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--sizes needs {size} in the --name template (the sizes' "
                                                  "outputs would share a name)"));
    return false;
}

// A name template instead of prefix and suffix, numbered from 1 unless told;
// the outputs' dates.
bool CheckNaming(const GivenOptions &given, CConvertJob &job, std::string &error)
{
    if (given.keepDates && given.dateFromExif) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--keep-dates and --date-from-exif do not go together"));
        return false;
    }
    // Unless told, the dates are a preset's (else the time written).
    if (given.keepDates || given.dateFromExif)
        job.m_nOutputDate = given.keepDates ? OUTDATE_SOURCE : OUTDATE_EXIF;
    if (!given.name) {
        // A preset's template gives way to --prefix and --suffix.
        if (given.affixGiven)
            job.m_szNameTemplate.clear();
        return CheckSizeNames(job, error);
    }
    if (given.affixGiven) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--name does not go with --prefix or --suffix"));
        return false;
    }
    job.SetRenameFlag(true);
    job.m_szNameTemplate = *given.name;
    job.SetPrefix("");
    job.SetSuffix("");
    if (!given.startGiven)
        job.SetStartNumber(1);
    return CheckSizeNames(job, error);
}

// --update is a policy of its own; a shard must never ask or rename.
bool CheckOverwrite(const GivenOptions &given, BatchCommand &cmd, long &shardK, long &shardN,
                    std::string &error)
{
    if (given.update) {
        if (cmd.overwriteGiven) {
            error =
                QCoreApplication::translate("velmora-batch", "--update and --overwrite do not go together")
                    .toStdString();
            return false;
        }
        cmd.job.SetOverwritePolicy(OVERWRITE_UPDATE);
        cmd.overwriteGiven = true;
    }
    if (given.shard) {
        if (!ParseShard(*given.shard, given.shards, shardK, shardN, error))
            return false;
        const int policy = cmd.job.m_nOverwrite;
        if (!cmd.overwriteGiven ||
            (policy != OVERWRITE_REPLACE && policy != OVERWRITE_SKIP && policy != OVERWRITE_UPDATE)) {
            error = QCoreApplication::translate(
                        "velmora-batch", "--shard needs --overwrite overwrite, --overwrite skip or --update "
                                         "(a shard asks nothing, and renaming would race with the other "
                                         "shards)")
                        .toStdString();
            return false;
        }
    } else if (given.shards) {
        error = QCoreApplication::translate("velmora-batch", "--shards goes with --shard auto").toStdString();
        return false;
    }
    return true;
}

// The names given and those of --files-from, folders expanded.
bool GatherFiles(GivenOptions &given, const CConvertJob &job, const std::string &workFolder,
                 std::stop_token stop, std::vector<TreeFile> &files, std::string &error)
{
    if (given.nulSeparated && !given.filesFrom) {
        error = QCoreApplication::translate("velmora-batch", "-0 goes with --files-from").toStdString();
        return false;
    }
    if (given.filesFrom) {
        const std::string &list = *given.filesFrom;
        std::string from;
        if (list != "-" && !Absolute(list, workFolder, from, error))
            return false;
        if (!ReadFileList(list == "-" ? "-" : from, given.nulSeparated, std::move(stop), given.inputs, error))
            return false;
    } else if (given.inputs.empty()) {
        error = QCoreApplication::translate("velmora-batch", "no files given").toStdString();
        return false;
    }
    for (const std::string &arg : given.inputs) {
        std::string in;
        if (!Absolute(arg, workFolder, in, error))
            return false;
        struct stat st;
        if (stat(in.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (given.recursive) {
                std::vector<TreeFile> tree = ListImageTree(in, job.m_szOutDir);
                files.insert(files.end(), std::make_move_iterator(tree.begin()),
                             std::make_move_iterator(tree.end()));
                continue;
            }
            const std::string folder = TrimFolder(in);
            const std::string prefix = folder == "/" ? folder : folder + "/";
            for (const std::string &name : ListImageFiles(folder))
                files.push_back({prefix + name, {}});
        } else {
            files.push_back({in, {}}); // a missing file is reported by the run
        }
    }
    if (files.size() > std::size_t(2147483647)) {
        error = QCoreApplication::translate("velmora-batch", "too many files").toStdString();
        return false;
    }
    return true;
}

// What a dry run or an undo may not go with; empty when nothing.
std::string ModeProblem(const BatchCommand &cmd, const GivenOptions &given)
{
    // A dry run writes nothing, a preset neither.
    if (cmd.dryRun && !cmd.savePresetPath.empty())
        return Tr(QT_TRANSLATE_NOOP("velmora-batch", "--dry-run and --save-preset do not go together"));
    // An undo converts nothing: it takes no files and no other option.
    if (cmd.undo && (!given.inputs.empty() || given.filesFrom || cmd.dryRun))
        return Tr(
            QT_TRANSLATE_NOOP("velmora-batch", "--undo and --undo-journal take no files and no --dry-run"));
    return {};
}

// Each document becomes its chosen pages; a share then takes every N-th
// entry of the whole list, from the K-th on. False (error set) when a page
// chosen is past a document's end.
bool SetFiles(std::vector<TreeFile> files, bool sharded, long shardK, long shardN, CConvertJob &job,
              std::string &error)
{
    CConvertJob whole = job;
    whole.SetFileCount(int(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i) {
        whole.SetFile(int(i), files[i].path);
        if (!files[i].subfolder.empty() && !job.m_szOutDir.empty())
            whole.SetOutputSubfolder(int(i), files[i].subfolder);
    }
    PageChoice choice;
    ParsePageChoice(job.m_szPages, choice);
    std::string problem;
    if (!ExpandPages(whole, choice, problem)) {
        error = "--pages: " + problem;
        return false;
    }
    if (!sharded) {
        job = std::move(whole);
        return true;
    }
    std::vector<int> positions;
    for (int i = int(shardK - 1); i < whole.GetFileCount(); i += int(shardN))
        positions.push_back(i);
    job.SetFileCount(int(positions.size()));
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const int i = positions[k];
        job.SetFile(int(k), whole.GetFile(i));
        if (!whole.GetOutputSubfolder(i).empty())
            job.SetOutputSubfolder(int(k), whole.GetOutputSubfolder(i));
        if (whole.GetPage(i) > 0)
            job.SetFilePage(int(k), whole.GetPage(i), whole.GetPageCount(i));
    }
    job.SetListPositions(std::move(positions), whole.GetFileCount());
    return true;
}

} // namespace

std::optional<BatchCommand> ParseBatchCommand(const std::vector<std::string> &given_args, std::string &error,
                                              const std::string &workFolder, std::stop_token stop)
{
    std::vector<std::string> args = given_args;
    BatchCommand cmd;
    cmd.job.SetQuality(95);
    GivenOptions given;
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
            given.inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
            continue;
        }
        const BatchOption *option = FindBatchOption(a);
        if (option && option->value == OptionValue::None) {
            if (option->edit && !ApplyEdit(*option, std::string(), cmd.job, given, error))
                return std::nullopt;
            ApplyFlag(option->id, cmd, given);
            if (cmd.help || cmd.version || cmd.listPresets)
                return cmd;
            continue;
        }
        // An unknown option takes its value too before it is refused.
        if (i + 1 >= args.size()) {
            error = FillText(QCoreApplication::translate("velmora-batch", "%1 needs a value"), {a});
            return std::nullopt;
        }
        const std::string &v = args[++i];
        if (!option) {
            error = FillText(QCoreApplication::translate("velmora-batch", "unknown option %1"), {a});
            return std::nullopt;
        }
        if (option->id == BatchOptionId::WatchConfig) {
            // The file's options take its place on the command line.
            std::string path;
            std::vector<std::string> more;
            if (!Absolute(v, workFolder, path, error) || !ReadWatchConfig(path, more, error))
                return std::nullopt;
            args.insert(args.begin() + std::ptrdiff_t(i) + 1, more.begin(), more.end());
            continue;
        }
        if (!ApplyValue(*option, a, v, cmd, given, workFolder, error))
            return std::nullopt;
    }

    if (error = ModeProblem(cmd, given); !error.empty())
        return std::nullopt;
    if (cmd.undo)
        return cmd;
    if (!CheckResize(given, cmd.job, error) || !CheckNaming(given, cmd.job, error) ||
        !CheckEdits(given, cmd.job, error))
        return std::nullopt;
    if (cmd.job.m_metaEdits.ifEmpty && cmd.job.m_metaEdits.values.empty()) {
        error = Tr(QT_TRANSLATE_NOOP("velmora-batch", "--set-if-empty goes with --set"));
        return std::nullopt;
    }
    if (given.stampGiven) {
        cmd.job.SetStampFlag(true);
        cmd.job.SetStamp(given.stamp, &given.font, given.color);
    }
    if (given.fitChoice && cmd.job.m_nMaxFileSize == 0) {
        error = FillText(QCoreApplication::translate("velmora-batch", "%1 goes with --max-file-size"),
                         {given.fitChoice});
        return std::nullopt;
    }
    if (given.minQualityGiven && cmd.job.m_nMinQuality > cmd.job.m_nQuality) {
        error = FillText(QCoreApplication::translate("velmora-batch", "--min-quality %1 is above the quality, %2"),
                         {std::to_string(cmd.job.m_nMinQuality), std::to_string(cmd.job.m_nQuality)});
        return std::nullopt;
    }
    if (given.watermarkChoice && !given.stampGiven && !cmd.job.m_logo) {
        error = FillText(QCoreApplication::translate("velmora-batch", "%1 goes with --stamp or --logo"),
                         {given.watermarkChoice});
        return std::nullopt;
    }
    if (!cmd.savePresetPath.empty()) {
        std::string why;
        cmd.presetValues = StoredFromJob(cmd.job, given.logoPath, given.font, given.color, why);
        if (cmd.presetValues.empty()) {
            error = FillText(
                QCoreApplication::translate("velmora-batch", "--save-preset: a preset cannot keep %1"), {why});
            return std::nullopt;
        }
        cmd.saveOnly = given.inputs.empty() && !given.filesFrom && !cmd.watch.Active();
        if (cmd.saveOnly)
            return cmd;
    }
    if (!CheckWatch(given, cmd, error))
        return std::nullopt;
    if (!cmd.combine.empty()) {
        const char *with = cmd.watch.Active()              ? "--watch"
                           : given.outGiven                ? "--out"
                           : given.shard                   ? "--shard"
                           : !cmd.job.m_sizes.empty()      ? "--sizes"
                           : cmd.job.m_nMaxFileSize > 0    ? "--max-file-size"
                                                           : nullptr;
        if (with) {
            error = FillText(QCoreApplication::translate("velmora-batch", "--combine and %1 do not go together"),
                             {with});
            return std::nullopt;
        }
    }
    const CEncoderSettings &encoder = cmd.job.m_encoder;
    cmd.pages = {encoder.m_nPageSize, encoder.m_nPageMargin, encoder.m_nDpi};
    long shardK = 0, shardN = 0;
    if (cmd.watch.Active())
        return CheckOverwrite(given, cmd, shardK, shardN, error) ? std::optional(std::move(cmd))
                                                                 : std::nullopt;
    std::vector<TreeFile> files;
    if (!CheckOverwrite(given, cmd, shardK, shardN, error) ||
        !GatherFiles(given, cmd.job, workFolder, std::move(stop), files, error))
        return std::nullopt;
    if (!SetFiles(std::move(files), given.shard.has_value(), shardK, shardN, cmd.job, error))
        return std::nullopt;
    return cmd;
}
