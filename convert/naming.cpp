#include "convert/naming.h"

#include "convert/safefolders.h"

#include "convert/filltext.h"
#include "convert/outputdates.h"
#include "imaging/atomicfile.h"
#include "imaging/cxfile.h"

#include <QCoreApplication>
#include <QCryptographicHash>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <sys/stat.h>
#include <vector>

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

// One piece of a name template: literal text, or a token with its argument.
struct TemplatePiece {
    enum Kind { Text, Name, Number, Date, Width, Height, Folder, Size, Page } kind = Text;
    std::string text; // the literal, or the token's argument ("4", "%Y")
};

// The pieces of a template; false (problem set) at an unknown token, or,
// when asLiteral, an unknown token kept as text.
bool ParseTemplate(std::string_view text, std::vector<TemplatePiece> &pieces, std::string &problem,
                   bool asLiteral = false)
{
    static constexpr std::pair<std::string_view, TemplatePiece::Kind> kTokens[] = {
        {"name", TemplatePiece::Name}, {"n", TemplatePiece::Number}, {"date", TemplatePiece::Date},
        {"w", TemplatePiece::Width},   {"h", TemplatePiece::Height}, {"folder", TemplatePiece::Folder},
        {"size", TemplatePiece::Size}, {"page", TemplatePiece::Page},
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t open = text.find('{', i);
        if (open != i) {
            pieces.push_back({TemplatePiece::Text, std::string(text.substr(i, open - i))});
            if (open == std::string_view::npos)
                break;
        }
        const std::size_t close = text.find('}', open);
        const std::string_view token =
            text.substr(open + 1, close == std::string_view::npos ? close : close - open - 1);
        const std::size_t colon = token.find(':');
        const std::string_view name = token.substr(0, colon);
        const std::string arg =
            colon == std::string_view::npos ? std::string() : std::string(token.substr(colon + 1));
        TemplatePiece piece;
        bool known = close != std::string_view::npos && name != "";
        if (known) {
            known = false;
            for (const auto &[tokenName, kind] : kTokens)
                if (name == tokenName) {
                    piece.kind = kind;
                    known = true;
                }
        }
        // Only {n:W} (1 to 9 digits) and {date:FORMAT} take an argument.
        if (known && colon != std::string_view::npos) {
            if (piece.kind == TemplatePiece::Number)
                known = arg.size() == 1 && arg[0] >= '1' && arg[0] <= '9';
            else
                known = piece.kind == TemplatePiece::Date && !arg.empty();
        }
        if (!known && asLiteral) {
            pieces.push_back({TemplatePiece::Text, std::string(text.substr(open, close == std::string_view::npos
                                                                                   ? close
                                                                                   : close - open + 1))});
            if (close == std::string_view::npos)
                break;
            i = close + 1;
            continue;
        }
        if (!known) {
            problem = FillText(QCoreApplication::translate("velmora-batch", "unknown token %1"),
                               {"{" + std::string(token) + (close == std::string_view::npos ? "" : "}")});
            return false;
        }
        piece.text = arg;
        pieces.push_back(std::move(piece));
        i = close + 1;
    }
    return true;
}

bool Uses(const std::vector<TemplatePiece> &pieces, TemplatePiece::Kind kind)
{
    for (const TemplatePiece &p : pieces)
        if (p.kind == kind)
            return true;
    return false;
}

bool HasControl(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// What a part of a path may not be.
bool BadPart(std::string_view part)
{
    return part.empty() || part == "." || part == "..";
}

std::string FormatDate(const std::string &source, const std::string &format, std::int64_t shiftSeconds)
{
    FileTime when{};
    if (!PhotoTime(source, when, shiftSeconds))
        return {};
    std::tm local{};
    const std::time_t t = when.tv_sec;
    localtime_r(&t, &local);
    char text[256];
    const std::size_t n =
        std::strftime(text, sizeof text, format.empty() ? "%Y-%m-%d" : format.c_str(), &local);
    return std::string(text, n);
}

// The text a template's pieces give for one file. A date that gives a
// control character (strftime's %n and %t) sets dateProblem, when given: the
// template's text may not hold one, nor may what it makes.
std::string ExpandPieces(const std::vector<TemplatePiece> &pieces, const std::string &source,
                         const PathParts &parts, const char *numberPattern, int number,
                         const NameFacts &facts, std::int64_t shiftSeconds, std::string *dateProblem = nullptr,
                         const std::string &sizeTag = {})
{
    std::string name;
    for (const TemplatePiece &p : pieces) {
        switch (p.kind) {
        case TemplatePiece::Text:
            name += p.text;
            break;
        case TemplatePiece::Name:
            name += parts.base;
            break;
        case TemplatePiece::Number: {
            char digits[24];
            if (p.text.empty())
                std::snprintf(digits, sizeof digits, numberPattern, number);
            else
                std::snprintf(digits, sizeof digits, "%0*d", p.text[0] - '0', number);
            name += digits;
            break;
        }
        case TemplatePiece::Date: {
            const std::string date = FormatDate(source, p.text, shiftSeconds);
            if (dateProblem && HasControl(date))
                *dateProblem =
                    QCoreApplication::translate(
                        "velmora-batch", "the name template's date gives this file a control character")
                        .toStdString();
            name += date;
            break;
        }
        case TemplatePiece::Width:
            name += std::to_string(facts.width);
            break;
        case TemplatePiece::Height:
            name += std::to_string(facts.height);
            break;
        case TemplatePiece::Folder:
            name += parts.folder.substr(parts.folder.rfind('/') + 1);
            break;
        case TemplatePiece::Size:
            name += sizeTag;
            break;
        case TemplatePiece::Page:
            name += std::to_string(std::max(facts.page, 1));
            break;
        }
    }
    return name;
}

// A page's part of a name: "_p001", longer past 999.
std::string PageTag(int page)
{
    char tag[24];
    std::snprintf(tag, sizeof tag, "_p%03d", page);
    return tag;
}

// The base name (perhaps with folders before it) a template gives.
std::string ExpandTemplate(const CConvertJob &job, const std::string &source, const PathParts &parts,
                           const char *numberPattern, int number, const NameFacts &facts,
                           std::string &dateProblem)
{
    std::vector<TemplatePiece> pieces;
    std::string problem;
    ParseTemplate(job.m_szNameTemplate, pieces, problem);
    std::string name =
        ExpandPieces(pieces, source, parts, numberPattern, number, facts, job.m_metaEdits.shiftSeconds, &dateProblem,
                     job.m_szSizeTag);
    // Outputs of several sizes never share a name, even where the template
    // (which the front ends check) forgets {size}.
    // Nor do the pages of a document where it names neither page nor number.
    if (facts.pageCount > 1 && !Uses(pieces, TemplatePiece::Page) && !Uses(pieces, TemplatePiece::Number))
        name += PageTag(facts.page);
    if (!job.m_szSizeTag.empty() && !Uses(pieces, TemplatePiece::Size))
        name += "_" + job.m_szSizeTag;
    return name;
}

const char *NumberPattern(int fileCount)
{
    return fileCount > 99999 ? "%06d" : fileCount > 9999 ? "%05d" : fileCount > 999 ? "%04d" : "%03d";
}

// The format asked for; under "keep", a source in a format only read is
// written as its row says whenever it cannot stay a plain copy (its
// metadata cannot be taken out of it in place either).
std::string OutputFormatName(const CConvertJob &job, std::uint32_t sourceType)
{
    if (!job.m_szFormat.empty())
        return job.m_szFormat;
    const ImageFormat *source = FormatByType(sourceType);
    // Under a size limit too: the name is fixed before it is known whether
    // the source fits as it is.
    const bool changed = job.ChangesPixels() || job.m_bStripMetadata || job.m_bStripLocation || job.m_metaEdits.Any() ||
                         job.m_nMaxFileSize > 0 || job.RendersAnew(sourceType);
    // A document's pages are pictures: kept, they are written as its
    // pictures are, though the format can be written too; so is a PNM,
    // written only when asked for.
    const bool asItsPictures = source && FormatByType(source->writtenAs);
    return asItsPictures && changed ? FormatByType(source->writtenAs)->name : "";
}

// The extension in the case the job asks for.
std::string CasedExtension(const CConvertJob &job, std::string ext)
{
    if (job.m_nExtCase == EXTCASE_LOWER || job.m_nExtCase == EXTCASE_UPPER)
        for (char &c : ext)
            c = char(job.m_nExtCase == EXTCASE_LOWER ? std::tolower(static_cast<unsigned char>(c))
                                                     : std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

// The output path with running number `number` (when numbers are given out).
OutputName BuildOutputPath(const CConvertJob &job, const std::string &source, std::uint32_t sourceType,
                           int fileCount, const std::string &subfolder, int number, const NameFacts &facts)
{
    const std::string format = OutputFormatName(job, sourceType);
    const bool pageTag = facts.pageCount > 1;
    if (job.m_szOutDir.empty() && format.empty() && !job.m_bRename && job.m_nExtCase == EXTCASE_AUTO &&
        job.m_szSizeTag.empty() && !pageTag)
        return OutputName{source, sourceType, {}, {}, {}, {}};

    const PathParts parts = SplitPath(source);
    // A bare name without any folder gives no folder and no base name, as
    // the backward scan for a separator never reaches a base name.
    std::string base = parts.hasSeparator ? parts.base : std::string();

    const char *pattern = NumberPattern(fileCount);
    std::string templateFolders;
    OutputName out;
    if (job.m_bRename && !job.m_szNameTemplate.empty()) {
        std::string dateProblem;
        base = ExpandTemplate(job, source, parts, pattern, number, facts, dateProblem);
        const std::size_t slash = base.rfind('/');
        if (slash != std::string::npos) {
            templateFolders = base.substr(0, slash);
            base.erase(0, slash + 1);
        }
        for (std::size_t from = 0; from <= templateFolders.size() && !templateFolders.empty();) {
            const std::size_t end = std::min(templateFolders.find('/', from), templateFolders.size());
            if (BadPart(std::string_view(templateFolders).substr(from, end - from)))
                out.problem = QCoreApplication::translate("velmora-batch", "the name template gives an empty, \".\" or \"..\" folder for this file").toStdString();
            from = end + 1;
        }
        if (base.empty())
            out.problem = QCoreApplication::translate("velmora-batch", "the name template gives this file an empty name").toStdString();
        if (!dateProblem.empty())
            out.problem = dateProblem;
    } else if (job.m_bRename) {
        if (number > 0) {
            char digits[16];
            std::snprintf(digits, sizeof digits, pattern, number);
            base = digits;
        }
        base = job.m_szRenamePrefix + base + job.m_szRenameSuffix;
    }
    // A page of several, then one of several sizes: their tags after the
    // (renamed) base name.
    if (!(job.m_bRename && !job.m_szNameTemplate.empty())) {
        if (pageTag)
            base += PageTag(facts.page);
        if (!job.m_szSizeTag.empty())
            base += "_" + job.m_szSizeTag;
    }

    std::string folder = job.m_szOutDir.empty() ? parts.folder : job.m_szOutDir;
    out.root = folder;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    if (!job.m_szOutDir.empty() && !subfolder.empty())
        folder += subfolder + '/';
    if (!templateFolders.empty()) {
        out.baseFolder = folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
        out.templateFolders = templateFolders;
        folder += templateFolders + '/';
    }

    out.path = folder + base + ".";
    const std::string &ext = parts.ext;
    if (!format.empty() && Lower(format) != Lower(ext)) {
        out.path += CasedExtension(job, format);
        out.type = TypeFromExtension(Lower(format));
    } else {
        out.path += CasedExtension(job, ext);
        out.type = sourceType;
    }
    return out;
}

} // namespace

namespace {

// Whether the job gives out running numbers: from a start above 0, or under
// a name template from any start.
bool GivesNumbers(const CConvertJob &job)
{
    return job.m_bRename && (job.m_nStartNumber > 0 || !job.m_szNameTemplate.empty());
}

} // namespace

OutputName MakeOutputPath(CConvertJob &job, const std::string &source, std::uint32_t sourceType,
                          int fileCount, const std::string &subfolder, const NameFacts &facts)
{
    const int number = GivesNumbers(job) ? job.m_nStartNumber : 0;
    OutputName out = BuildOutputPath(job, source, sourceType, fileCount, subfolder, number, facts);
    if (GivesNumbers(job) && number < 2147483647)
        ++job.m_nStartNumber;
    return out;
}

std::string NameTemplateProblem(const std::string &text)
{
    if (text.empty())
        return QCoreApplication::translate("velmora-batch", "the name template is empty").toStdString();
    if (text[0] == '/')
        return QCoreApplication::translate("velmora-batch", "the name template must name a place below the destination, not an absolute path").toStdString();
    if (HasControl(text))
        return QCoreApplication::translate("velmora-batch",
                                           "the name template cannot hold a control character")
            .toStdString();
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t end = std::min(text.find('/', from), text.size());
        if (BadPart(std::string_view(text).substr(from, end - from)))
            return QCoreApplication::translate("velmora-batch", "the name template cannot have an empty, \".\" or \"..\" part").toStdString();
        from = end + 1;
    }
    std::vector<TemplatePiece> pieces;
    std::string problem;
    ParseTemplate(text, pieces, problem);
    return problem;
}

bool NameTemplateTellsSize(const std::string &text)
{
    std::vector<TemplatePiece> pieces;
    std::string problem;
    return ParseTemplate(text, pieces, problem) && Uses(pieces, TemplatePiece::Size);
}

bool MakeFoldersBelow(const std::string &base, const std::string &relative, std::string &error)
{
    std::vector<std::string> made;
    return OpenFolderBelow(base, relative, error, &made).Valid();
}

namespace {

// A text of the job's (a watermark's, a tag's) with the template's tokens
// filled in for the job's file index.
std::string TextFor(const CConvertJob &job, int index, const std::string &text)
{
    if (text.find('{') == std::string::npos || index < 0 || index >= job.GetFileCount())
        return text;
    std::vector<TemplatePiece> pieces;
    std::string problem;
    ParseTemplate(text, pieces, problem, true);
    // The size is not known before the picture is: {w}, {h} and {size}
    // stay as written.
    for (TemplatePiece &p : pieces)
        if (p.kind == TemplatePiece::Width || p.kind == TemplatePiece::Height ||
            p.kind == TemplatePiece::Size)
            p = {TemplatePiece::Text, p.kind == TemplatePiece::Width    ? "{w}"
                                      : p.kind == TemplatePiece::Height ? "{h}"
                                                                        : "{size}"};
    const int position = job.GetListPosition(index) >= 0 ? job.GetListPosition(index) : index;
    const long long first = GivesNumbers(job) ? job.m_nStartNumber : 1;
    const int number = int(std::min<long long>(2147483647LL, first + position));
    const std::string &source = job.GetFile(index);
    return ExpandPieces(pieces, source, SplitPath(source), NumberPattern(job.GetListSize()), number,
                        PageFacts(job, index), job.m_metaEdits.shiftSeconds);
}

} // namespace

std::string StampTextFor(const CConvertJob &job, int index)
{
    return TextFor(job, index, job.m_szStampText);
}

bool TagsNameFiles(const CConvertJob &job)
{
    const auto &values = job.m_metaEdits.values;
    return std::any_of(values.begin(), values.end(),
                       [](const cxmeta::TagValue &v) { return v.value.find('{') != std::string::npos; });
}

cxmeta::TagEdits TagEditsFor(const CConvertJob &job, int index)
{
    cxmeta::TagEdits edits = job.m_metaEdits;
    for (cxmeta::TagValue &v : edits.values) {
        v.value = TextFor(job, index, v.value);
        // A date format may give a line break, which no tag takes.
        std::replace_if(v.value.begin(), v.value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    }
    return edits;
}

NameFacts PageFacts(const CConvertJob &job, int index, NameFacts facts)
{
    facts.page = job.GetPage(index);
    facts.pageCount = job.GetPageCount(index);
    return facts;
}

int ListIndexOf(const CConvertJob &job, const std::string &path)
{
    const std::vector<std::string> &files = job.GetFiles();
    const auto at = std::find(files.begin(), files.end(), path);
    return at == files.end() ? -1 : int(at - files.begin());
}

CConvertJob JobDrawing(const CConvertJob &job, const std::string &path)
{
    CConvertJob drawing = job;
    if (job.m_bStamp && job.m_szStampText.find('{') != std::string::npos)
        drawing.m_szStampText = StampTextFor(job, ListIndexOf(job, path));
    return drawing;
}

OutputName PlannedOutputPath(const CConvertJob &job, int index, std::uint32_t sourceType)
{
    const int position = job.GetListPosition(index);
    int number = 0;
    if (GivesNumbers(job) && position >= 0)
        number = int(std::min<long long>(2147483647LL, (long long)job.m_nStartNumber + position));
    return BuildOutputPath(job, job.GetFile(index), sourceType, job.GetListSize(),
                           job.GetOutputSubfolder(index), number, PageFacts(job, index));
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
    if (!job.m_bRename || job.m_szNameTemplate.empty())
        return !job.m_bRename || job.m_nStartNumber <= 0 || job.IsShare();
    std::vector<TemplatePiece> pieces;
    std::string problem;
    ParseTemplate(job.m_szNameTemplate, pieces, problem);
    if (Uses(pieces, TemplatePiece::Width) || Uses(pieces, TemplatePiece::Height))
        return false;
    return !Uses(pieces, TemplatePiece::Number) || job.IsShare();
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
    // An output dated as the run would date it is up to date too (a photo's
    // own date is older than its file).
    FileTime planned{};
    if (PlannedOutputTime(job, source, planned) && planned.tv_sec == out.st_mtim.tv_sec &&
        planned.tv_nsec == out.st_mtim.tv_nsec)
        return true;
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

bool StageCopy(const std::string &source, const std::string &target, StagedFile &staged, std::string *reason,
               std::string *sha256, std::int64_t *size)
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
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::int64_t copied = 0;
    for (;;) {
        const std::size_t n = in.Read(buffer, 1, sizeof buffer);
        if (n == 0)
            break;
        if (sha256)
            hash.addData(QByteArrayView(buffer, qsizetype(n)));
        if (std::fwrite(buffer, 1, n, writer.Stream()) != n)
            return fail(std::strerror(errno));
        copied += std::int64_t(n);
    }
    if (in.Error())
        return fail(QT_TRANSLATE_NOOP("FileRecord", "cannot read the source"));
    if (sha256)
        *sha256 = hash.result().toHex().toStdString();
    if (size)
        *size = copied;
    return writer.Stage(staged) || fail(writer.Error());
}

bool CopyFileAtomically(const std::string &source, const std::string &target, std::string *reason)
{
    StagedFile staged;
    if (!StageCopy(source, target, staged, reason))
        return false;
    std::vector<StagedFile *> one{&staged};
    CommitGroup(one);
    if (!staged.Committed() && reason)
        *reason = staged.Error();
    return staged.Committed();
}
