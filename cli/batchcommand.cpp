#include "batchcommand.h"

#include "imagefiles.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <sys/stat.h>

namespace {

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

} // namespace

const char *BatchUsage()
{
    return "Usage: velmora-batch [options] FILE...\n"
           "Converts image files (JPEG, PNG, TIFF, GIF, BMP, PCX). A folder stands for the\n"
           "image files in it, in the order the program lists them.\n"
           "\n"
           "  --format keep|jpg|bmp|pcx|gif|png|tif   output format (default keep)\n"
           "  --quality N          JPEG quality 0-100 (default 95)\n"
           "  --out DIR            destination folder, made when missing (default: beside each source)\n"
           "  --prefix TEXT        rename: text before the name\n"
           "  --suffix TEXT        rename: text after the name\n"
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
           "  --overwrite ask|rename|overwrite   when an output exists (default ask)\n"
           "  --jobs N             files converted at once (default: one per core); the log,\n"
           "                       the questions and the outputs keep the order of the files\n"
           "  --no-autorotate      keep photos as stored, not turned upright as their file says\n"
           "  --strip              write no metadata (EXIF, XMP, IPTC) into the outputs\n"
           "  --strip-location     drop only the GPS fields of the metadata\n"
           "  --help               this text\n"
           "\n"
           "Exit status: 0 when every file converted, 1 when any failed or the run was\n"
           "cancelled, 2 on a usage error. Ctrl-C or SIGTERM stops the run (finished outputs\n"
           "stay, the file in progress is dropped) and ends the program by that signal.\n";
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

    static const std::map<std::string, const char *> formats = {
        {"keep", ""},   {"jpg", "JPG"}, {"bmp", "BMP"}, {"pcx", "PCX"},
        {"gif", "GIF"}, {"png", "PNG"}, {"tif", "TIF"}};
    static const std::map<std::string, int> rules = {{"fit", 0}, {"width", 1}, {"height", 2}, {"stretch", 3}};
    static const std::map<std::string, int> rotations = {
        {"-90", ROTATE_LEFT}, {"90", ROTATE_RIGHT}, {"180", ROTATE_180}};
    static const std::map<std::string, int> policies = {
        {"ask", OVERWRITE_ASK}, {"rename", OVERWRITE_RENAME}, {"overwrite", OVERWRITE_REPLACE}};

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
            const auto it = formats.find(v);
            if (it == formats.end()) {
                error = "unknown format '" + v + "' (keep, jpg, bmp, pcx, gif, png, tif)";
                return std::nullopt;
            }
            job.SetFormat(it->second);
        } else if (a == "--quality") {
            if (!ParseNumber(v, 0, 100, n)) {
                error = "--quality takes a number from 0 to 100";
                return std::nullopt;
            }
            job.SetQuality(int(n));
        } else if (a == "--out") {
            if (!Absolute(v, workFolder, out, error))
                return std::nullopt;
            job.SetOutputFolder(out);
        } else if (a == "--prefix") {
            job.SetRenameFlag(true);
            job.SetPrefix(v);
        } else if (a == "--suffix") {
            job.SetRenameFlag(true);
            job.SetSuffix(v);
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
                error = "--overwrite takes ask, rename or overwrite";
                return std::nullopt;
            }
            job.SetOverwritePolicy(it->second);
            cmd.overwriteGiven = true;
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

    std::vector<std::string> files;
    for (const std::string &arg : inputs) {
        std::string in;
        if (!Absolute(arg, workFolder, in, error))
            return std::nullopt;
        struct stat st;
        if (stat(in.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            const std::string folder = TrimFolder(in);
            const std::string prefix = folder == "/" ? folder : folder + "/";
            for (const std::string &name : ListImageFiles(folder))
                files.push_back(prefix + name);
        } else {
            files.push_back(in); // a missing file is reported by the run
        }
    }
    if (inputs.empty()) {
        error = "no files given";
        return std::nullopt;
    }
    job.SetFileCount(int(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i)
        job.SetFile(int(i), files[i]);
    return cmd;
}
