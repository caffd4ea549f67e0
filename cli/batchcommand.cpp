#include "batchcommand.h"

#include "imagefiles.h"
#include "naming.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <tuple>
#include <sys/stat.h>

namespace {

std::string Lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
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

bool ParseColor(std::string text, COLORREF &out)
{
    if (!text.empty() && text[0] == '#')
        text.erase(0, 1);
    if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    const unsigned long v = std::strtoul(text.c_str(), nullptr, 16);
    out = RGB(int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF));
    return true;
}

// A bare name would make outputs whose folder is empty, so every path is
// made absolute; without a known current folder only absolute paths work.
bool Absolute(const std::string &path, const std::string &workFolder, std::string &out, std::string &error)
{
    out = AbsolutePath(path, workFolder);
    if (out.empty() || out[0] == '/')
        return true;
    error = "cannot tell the current folder for " + path;
    return false;
}

// The names in a list file: one per line, or NUL-ended; empty entries are
// passed over. "-" is standard input.
bool ReadFileList(const std::string &path, bool nulSeparated, std::vector<std::string> &names, std::string &error)
{
    std::FILE *f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const int end = nulSeparated ? '\0' : '\n';
    std::string name;
    for (int c; (c = std::getc(f)) != EOF;) {
        if (c != end) {
            name += char(c);
        } else if (!name.empty()) {
            names.push_back(std::move(name));
            name.clear();
        }
    }
    const bool failed = std::ferror(f);
    if (!name.empty())
        names.push_back(std::move(name));
    if (f != stdin)
        std::fclose(f);
    if (failed) {
        error = "cannot read " + path;
        return false;
    }
    return true;
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
                error = "--shard auto: SLURM_ARRAY_TASK_MIN is missing or above the task id";
                return false;
            }
            if (!EnvNumber("SLURM_ARRAY_TASK_STEP", step) || step < 1)
                step = 1;
            if (!EnvNumber("SLURM_ARRAY_TASK_COUNT", count)) {
                if (!EnvNumber("SLURM_ARRAY_TASK_MAX", hi) || hi < id) {
                    error = "--shard auto: neither SLURM_ARRAY_TASK_COUNT nor SLURM_ARRAY_TASK_MAX is set";
                    return false;
                }
                count = (hi - lo) / step + 1;
            }
            k = (id - lo) / step + 1;
            n = count;
        } else if (EnvNumber("JOB_COMPLETION_INDEX", id)) {
            if (!shards) {
                error = "--shard auto in a Kubernetes Indexed Job needs --shards N (the job's completions)";
                return false;
            }
            k = id + 1;
            n = *shards;
        } else {
            error = "--shard auto: no Slurm array task (SLURM_ARRAY_TASK_ID) or Kubernetes index "
                    "(JOB_COMPLETION_INDEX) in the environment";
            return false;
        }
    } else {
        const std::size_t slash = text.find('/');
        if (slash == std::string::npos || !ParseNumber(text.substr(0, slash), 1, 1000000, k) ||
            !ParseNumber(text.substr(slash + 1), 1, 1000000, n)) {
            error = "--shard takes K/N (1/4 ... 4/4) or auto";
            return false;
        }
    }
    if (k < 1 || n < 1 || k > n) {
        error = "--shard " + text + ": part " + std::to_string(k) + " of " + std::to_string(n) + " does not exist";
        return false;
    }
    return true;
}

// --format takes "keep" or a format's name in lower case.
std::string FormatChoices(const char *separator)
{
    std::string text = "keep";
    for (const ImageFormat &f : OutputFormats())
        text += separator + Lower(f.name);
    return text;
}

// The job's format text for a --format value.
std::optional<std::string> FormatOfChoice(const std::string &value)
{
    if (value == "keep")
        return std::string();
    for (const ImageFormat &f : OutputFormats())
        if (value == Lower(f.name))
            return std::string(f.name);
    return std::nullopt;
}

} // namespace

const char *BatchUsage()
{
    static const std::string text =
        "Usage: velmora-batch [options] FILE...\n"
        "Converts image files (JPEG, PNG, TIFF, GIF, BMP, PCX, WebP, AVIF, JPEG XL; HEIC,\n"
        "PNM, ICO and TGA read only). A folder stands for the image files in it, in the\n"
        "order the program lists them.\n"
        "\n"
        "  --format " +
        FormatChoices("|") +
        "   output format (default keep)\n"
        "  --quality N          JPEG, WebP, AVIF and JXL quality 0-100 (default 95; 100 is\n"
        "                       lossless for WebP, AVIF and JXL)\n"
        "  --out DIR            destination folder, made when missing (default: beside each source)\n"
        "  --prefix TEXT        rename: text before the name (no / or control characters)\n"
        "  --suffix TEXT        rename: text after the name (no / or control characters)\n"
        "  --start N            rename: running numbers from N (0 keeps the names)\n"
        "  --resize fit|width|height|stretch   with --width W and/or --height H:\n"
        "                       fit needs both, width needs W, height needs H, stretch both\n"
        "  --no-enlarge         never make an image larger\n"
        "  --sharpen            sharpen after resizing (needs --resize)\n"
        "  --rotate -90|90|180  turn every image\n"
        "  --stamp TEXT         watermark at the lower right\n"
        "  --font FACE          watermark font (default: the system's sans font)\n"
        "  --font-size PX       watermark character height in pixels (default 16)\n"
        "  --color RRGGBB       watermark colour (default FF7A7A)\n"
        "  --overwrite ask|rename|overwrite|skip   when an output exists (default ask);\n"
        "                       skip leaves it alone; a link there is replaced itself, and\n"
        "                       an output that is a source of the run is refused\n"
        "  --update             convert only files newer than their existing output\n"
        "  -r, --recursive      a folder stands for the image files at any depth below it\n"
        "                       (hidden folders left out); with --out the folders below\n"
        "                       each folder given are made again there\n"
        "  --files-from FILE    read more files, one per line, from FILE (- for standard\n"
        "                       input)\n"
        "  -0                   the --files-from names end with a NUL, not a line end\n"
        "  --shard K/N          convert only part K of N of the files (one machine's share);\n"
        "                       needs --overwrite overwrite or skip, or --update. Running\n"
        "                       numbers come from each file's place in the whole list, so a\n"
        "                       file that fails leaves its number unused\n"
        "  --shard auto         K and N from a Slurm job array (SLURM_ARRAY_TASK_ID and\n"
        "                       its MIN/MAX/STEP/COUNT) or a Kubernetes Indexed Job\n"
        "                       (JOB_COMPLETION_INDEX, with --shards N)\n"
        "  --jobs N             files converted at once (default: one per core); the log,\n"
        "                       the questions and the outputs keep the order of the files\n"
        "  --no-autorotate      keep photos as stored, not turned upright as their file says\n"
        "  --strip              write no metadata (EXIF, XMP, IPTC) into the outputs\n"
        "  --strip-location     drop only the GPS fields of the metadata\n"
        "  --log text|json      the log as text (default) or as one JSON object per file\n"
        "                       (source, output, status ok/skipped/error, reason, ms,\n"
        "                       bytes_in, bytes_out) and a last one with the totals\n"
        "  --help               this text\n"
        "\n"
        "Exit status: 0 when every file converted, 1 when any failed or the run was\n"
        "cancelled, 2 on a usage error. Ctrl-C or SIGTERM stops the run (finished outputs\n"
        "stay, the file in progress is dropped) and ends the program by that signal.\n";
    return text.c_str();
}

std::optional<BatchCommand> ParseBatchCommand(const std::vector<std::string> &args, std::string &error,
                                              const std::string &workFolder)
{
    BatchCommand cmd;
    CConvertJob &job = cmd.job;
    job.SetQuality(95);
    std::optional<long> width, height;
    std::string resize, stamp;
    bool stampGiven = false, sharpen = false, noEnlarge = false;
    LOGFONT font;
    COLORREF color = RGB(255, 122, 122);
    std::vector<std::string> inputs;

    static const std::map<std::string, int> rules = {{"fit", 0}, {"width", 1}, {"height", 2}, {"stretch", 3}};
    static const std::map<std::string, int> rotations = {
        {"-90", ROTATE_LEFT}, {"90", ROTATE_RIGHT}, {"180", ROTATE_180}};
    static const std::map<std::string, int> policies = {
        {"ask", OVERWRITE_ASK}, {"rename", OVERWRITE_RENAME}, {"overwrite", OVERWRITE_REPLACE},
        {"skip", OVERWRITE_SKIP}};
    bool recursive = false, nulSeparated = false, update = false;
    std::optional<std::string> filesFrom, shard;
    std::optional<long> shards;

    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
            inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            cmd.help = true;
            return cmd;
        }
        if (a == "--no-enlarge") {
            noEnlarge = true;
            continue;
        }
        if (a == "--sharpen") {
            sharpen = true;
            continue;
        }
        if (a == "-r" || a == "--recursive" || a == "-0" || a == "--update") {
            (a == "-0" ? nulSeparated : a == "--update" ? update : recursive) = true;
            continue;
        }
        if (a == "--no-autorotate") {
            job.m_bAutoRotate = false;
            continue;
        }
        if (a == "--strip" || a == "--strip-location") {
            (a == "--strip" ? job.m_bStripMetadata : job.m_bStripLocation) = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return std::nullopt;
        }
        const std::string &v = args[++i];
        long n = 0;
        std::string out;
        if (a == "--format") {
            const std::optional<std::string> format = FormatOfChoice(v);
            if (!format) {
                error = "unknown format '" + v + "' (" + FormatChoices(", ") + ")";
                return std::nullopt;
            }
            job.SetFormat(*format);
        } else if (a == "--quality") {
            if (!ParseNumber(v, 0, 100, n)) {
                error = "--quality takes a number from 0 to 100";
                return std::nullopt;
            }
            job.SetQuality(int(n));
        } else if (a == "--out") {
            if (v.empty()) {
                error = "--out needs a folder name";
                return std::nullopt;
            }
            if (!Absolute(v, workFolder, out, error))
                return std::nullopt;
            job.SetOutputFolder(out);
        } else if (a == "--prefix" || a == "--suffix") {
            // A name part must stay inside the destination folder.
            if (const std::string problem = RenamePartProblem(v); !problem.empty()) {
                error = a + ": " + problem;
                return std::nullopt;
            }
            job.SetRenameFlag(true);
            a == "--prefix" ? job.SetPrefix(v) : job.SetSuffix(v);
        } else if (a == "--start") {
            if (!ParseNumber(v, 0, 2147483647, n)) {
                error = "--start takes a number from 0 up";
                return std::nullopt;
            }
            job.SetRenameFlag(true);
            job.SetStartNumber(int(n));
        } else if (a == "--resize") {
            if (!rules.count(v)) {
                error = "unknown resize rule '" + v + "' (fit, width, height, stretch)";
                return std::nullopt;
            }
            resize = v;
        } else if (a == "--width" || a == "--height") {
            if (!ParseNumber(v, 0, 2147483647, n)) {
                error = a + " takes a number of pixels";
                return std::nullopt;
            }
            (a == "--width" ? width : height) = n;
        } else if (a == "--rotate") {
            const auto it = rotations.find(v);
            if (it == rotations.end()) {
                error = "--rotate takes -90, 90 or 180";
                return std::nullopt;
            }
            job.SetRotateFlag(true);
            job.SetRotation(it->second);
        } else if (a == "--stamp") {
            stampGiven = true;
            stamp = v;
        } else if (a == "--font") {
            font.SetFaceName(v.c_str());
        } else if (a == "--font-size") {
            if (!ParseNumber(v, 1, 2000, n)) {
                error = "--font-size takes a number of pixels from 1 to 2000";
                return std::nullopt;
            }
            font.lfHeight = -int(n);
        } else if (a == "--color") {
            if (!ParseColor(v, color)) {
                error = "--color takes six hexadecimal digits, RRGGBB";
                return std::nullopt;
            }
        } else if (a == "--jobs") {
            if (!ParseNumber(v, 1, 64, n)) {
                error = "--jobs takes a number from 1 to 64";
                return std::nullopt;
            }
            cmd.jobs = int(n);
        } else if (a == "--overwrite") {
            const auto it = policies.find(v);
            if (it == policies.end()) {
                error = "--overwrite takes ask, rename, overwrite or skip";
                return std::nullopt;
            }
            job.SetOverwritePolicy(it->second);
            cmd.overwriteGiven = true;
        } else if (a == "--log") {
            if (v != "text" && v != "json") {
                error = "--log takes text or json";
                return std::nullopt;
            }
            cmd.jsonLog = v == "json";
        } else if (a == "--files-from") {
            filesFrom = v;
        } else if (a == "--shard") {
            shard = v;
        } else if (a == "--shards") {
            if (!ParseNumber(v, 1, 1000000, n)) {
                error = "--shards takes a number from 1 up";
                return std::nullopt;
            }
            shards = n;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
    }

    if (resize.empty()) {
        if (width || height) {
            error = "--width and --height go with --resize";
            return std::nullopt;
        }
        if (sharpen || noEnlarge) {
            error = "--sharpen and --no-enlarge go with --resize";
            return std::nullopt;
        }
    } else {
        const int rule = rules.at(resize);
        const bool needW = rule != 2, needH = rule != 1;
        if ((needW && !width) || (needH && !height)) {
            error = "--resize " + resize + " needs " +
                    (needW && needH ? "--width and --height"
                     : needW        ? "--width"
                                    : "--height");
            return std::nullopt;
        }
        for (const auto &[needed, value, name] : {std::tuple{needW, width, "--width"}, {needH, height, "--height"}})
            if (needed && *value < 1) {
                error = "--resize " + resize + " needs " + name + " of 1 pixel or more";
                return std::nullopt;
            }
        job.SetResizeFlag(true);
        job.SetResizeType(rule);
        job.SetSize(int(width.value_or(0)), int(height.value_or(0)));
        job.SetSharpen(sharpen);
        job.SetDontEnlarge(noEnlarge);
    }
    if (stampGiven) {
        job.SetStampFlag(true);
        job.SetStamp(stamp, &font, color);
    }

    if (update) {
        if (cmd.overwriteGiven) {
            error = "--update and --overwrite do not go together";
            return std::nullopt;
        }
        job.SetOverwritePolicy(OVERWRITE_UPDATE);
        cmd.overwriteGiven = true;
    }
    long shardK = 0, shardN = 0;
    if (shard) {
        if (!ParseShard(*shard, shards, shardK, shardN, error))
            return std::nullopt;
        const int policy = job.m_nOverwrite;
        if (!cmd.overwriteGiven || (policy != OVERWRITE_REPLACE && policy != OVERWRITE_SKIP && policy != OVERWRITE_UPDATE)) {
            error = "--shard needs --overwrite overwrite, --overwrite skip or --update (a shard asks nothing, and "
                    "renaming would race with the other shards)";
            return std::nullopt;
        }
    } else if (shards) {
        error = "--shards goes with --shard auto";
        return std::nullopt;
    }
    if (nulSeparated && !filesFrom) {
        error = "-0 goes with --files-from";
        return std::nullopt;
    }
    if (filesFrom) {
        std::string from;
        if (*filesFrom != "-" && !Absolute(*filesFrom, workFolder, from, error))
            return std::nullopt;
        if (!ReadFileList(*filesFrom == "-" ? "-" : from, nulSeparated, inputs, error))
            return std::nullopt;
    } else if (inputs.empty()) {
        error = "no files given";
        return std::nullopt;
    }

    std::vector<TreeFile> files;
    for (const std::string &arg : inputs) {
        std::string in;
        if (!Absolute(arg, workFolder, in, error))
            return std::nullopt;
        struct stat st;
        if (stat(in.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (recursive) {
                std::vector<TreeFile> tree = ListImageTree(in, job.m_szOutDir);
                files.insert(files.end(), std::make_move_iterator(tree.begin()), std::make_move_iterator(tree.end()));
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
        error = "too many files";
        return std::nullopt;
    }
    // A share takes every N-th file of the whole list, from the K-th on.
    std::vector<int> positions;
    if (shard) {
        std::vector<TreeFile> mine;
        for (std::size_t i = std::size_t(shardK - 1); i < files.size(); i += std::size_t(shardN)) {
            positions.push_back(int(i));
            mine.push_back(std::move(files[i]));
        }
        const int whole = int(files.size());
        files = std::move(mine);
        job.SetFileCount(int(files.size()));
        job.SetListPositions(std::move(positions), whole);
    } else {
        job.SetFileCount(int(files.size()));
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        job.SetFile(int(i), files[i].path);
        if (!files[i].subfolder.empty() && !job.m_szOutDir.empty())
            job.SetOutputSubfolder(int(i), files[i].subfolder);
    }
    return cmd;
}
