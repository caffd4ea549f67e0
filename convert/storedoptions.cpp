#include "convert/storedoptions.h"

#include "convert/metadataedits.h"
#include "convert/pagesources.h"

#include "convert/naming.h"
#include "convert/sizelimit.h"
#include "convert/outputsizes.h"

#include "imaging/documentwriter.h"
#include "imaging/formats.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

constexpr long kMaxInt = INT_MAX;
constexpr long kMaxMargin = 10000;

constexpr StoredName kNames[] = {
    // Resize.
    {"m_bResize"},
    {"m_nResizeType", -1, RESIZE_SIZES},
    {"m_nWidth", 0, kMaxInt},
    {"m_nHeight", 0, kMaxInt},
    {"m_bSharpen"},
    {"m_bDontEnlarge"},
    {"ResizeEdge", 0, kMaxInt},
    {"ResizePercent", 1, 1000},
    {"Gravity", 0, GRAVITY_ENTROPY},
    {"PadColour", 0, 0xFFFFFF},
    {"CropRatio"},
    {"CropRatioWidth", 1, 100000},
    {"CropRatioHeight", 1, 100000},
    {"Sizes", 0, 0, true},
    // Rename and the name template.
    {"m_bRename"},
    {"RenamePrefix", 0, 0, true},
    {"RenameSuffix", 0, 0, true},
    {"RenameStart", 0, kMaxInt},
    {"NameTemplateOn"},
    {"NameTemplate", 0, 0, true},
    {"ExtensionCase", 0, 2},
    // Rotation.
    {"m_bRotate"},
    {"m_nrotateType", -1, 2},
    {"LosslessRotate"},
    {"AutoRotate"},
    // Watermark, its font and colour, its further choices and logo.
    {"m_bStamp"},
    {"StampText", 0, 0, true},
    {"fcr", 0, 255},
    {"fcg", 0, 255},
    {"fcb", 0, 255},
    {"fontHeight", -100000, 100000},
    {"fontWidth", 0, 100000},
    {"fontEscapement", -3600, 3600},
    {"fontItalic"},
    {"fontWeight", 0, 1000},
    {"fontUnderline"},
    {"fontStrickOut"},
    {"fontCharSet", 0, 255},
    {"fontFaceName", 0, 0, true},
    {"StampPosition", 0, 8},
    {"StampMargin", 0, kMaxMargin},
    {"StampOpacity", 0, 100},
    {"StampSizeOn"},
    {"StampSize", 1, 100},
    {"StampShadow"},
    {"LogoFile", 0, 0, true},
    {"LogoSize", 1, 100},
    // Format, quality and the encoders' settings.
    {"m_nFormatType", -1, 64},
    {"Output Quality", 0, 100},
    {"JpegProgressive"},
    {"JpegSubsampling", 0, 444},
    {"PngLevel", 0, 9},
    {"TifCompression", 0, 3},
    {"WebpEffort", 0, 6},
    {"WebpLossless"},
    {"AvifSpeed", 0, 10},
    {"JxlEffort", 0, 9},
    {"Dpi", 0, 65535},
    {"RenderDpi", 0, kRenderDpiMost},
    // A PDF's page; the document a run is combined into names one file, and is not kept.
    {"PageSize", 0, 0, true},
    {"PageMargin", 0, kMaxPageMargin},
    // Where the outputs go and what they keep.
    {"KeepIfLarger"},
    {"MaxFileSizeOn"},
    {"MaxFileSize", kMinFileSizeLimit, kMaxFileSizeLimit},
    {"MaxFileSizeUnit", 0, SIZEUNIT_MIB},
    {"MinQuality", 1, 100},
    {"MaxFileSizeShrink"},
    {"OutDir", 0, 0, true},
    {"StripMetadata", 0, 2},
    {"KeepDates"},
    {"DateSource"},
    // Tags written and the shot's dates moved.
    {"SetTags", 0, 0, true},
    {"SetTagsIfEmpty"},
    {"ShiftDates", 0, 0, true},
};

bool ParseNumber(std::string_view text, long &out)
{
    const std::string s(text);
    if (s.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || end == s.c_str())
        return false;
    out = v;
    return true;
}

// Reads the values as the window reads its store: an absent value gives
// the default.
class Reader {
public:
    explicit Reader(const StoredValues &values) : m_values(values) {}
    int Int(const char *name, int fallback) const
    {
        long v = 0;
        const auto it = m_values.find(name);
        return it != m_values.end() && ParseNumber(it->second, v) ? int(v) : fallback;
    }
    bool Flag(const char *name, bool fallback) const { return Int(name, fallback ? 1 : 0) != 0; }
    std::string Text(const char *name, const char *fallback = "") const
    {
        const auto it = m_values.find(name);
        return it != m_values.end() ? it->second : fallback;
    }

private:
    const StoredValues &m_values;
};

void ReadResize(const Reader &r, ConvertOptions &o)
{
    o.m_bResize = r.Flag("m_bResize", false);
    o.m_nResizeType = r.Int("m_nResizeType", 0);
    o.m_nWidth = r.Int("m_nWidth", 800);
    o.m_nHeight = r.Int("m_nHeight", 600);
    o.m_bSharpen = r.Flag("m_bSharpen", false);
    o.m_bDontEnlarge = r.Flag("m_bDontEnlarge", false);
    o.m_nEdgeSize = r.Int("ResizeEdge", 800);
    o.m_nPercent = r.Int("ResizePercent", 50);
    // A value no gravity has (a later version's, or a damaged store) is the centre.
    const int gravity = r.Int("Gravity", GRAVITY_CENTER);
    o.m_nGravity = gravity >= GRAVITY_TOP_LEFT && gravity <= GRAVITY_ENTROPY ? gravity : GRAVITY_CENTER;
    o.m_crBackground = COLORREF(r.Int("PadColour", int(RGB(255, 255, 255))));
    // The crop is chosen with the resize group, and goes with it.
    o.m_bCropRatio = o.m_bResize && r.Flag("CropRatio", false);
    o.m_nCropRatioW = r.Int("CropRatioWidth", 1);
    o.m_nCropRatioH = r.Int("CropRatioHeight", 1);
    o.m_strSizes = r.Text("Sizes");
}

void ReadNames(const Reader &r, ConvertOptions &o)
{
    o.m_bRename = r.Flag("m_bRename", false);
    o.m_strRenamePrefix = r.Text("RenamePrefix", "pic");
    o.m_strRenameSuffix = r.Text("RenameSuffix");
    o.m_strStartNumber = std::to_string(r.Int("RenameStart", 1));
    // The template goes with renaming; the extension's case does not.
    o.m_bNameTemplate = o.m_bRename && r.Flag("NameTemplateOn", false);
    o.m_strNameTemplate = r.Text("NameTemplate", "{name}_{n:3}");
    o.m_nExtCase = r.Int("ExtensionCase", EXTCASE_AUTO);
}

void ReadStamp(const Reader &r, ConvertOptions &o)
{
    o.m_bStamp = r.Flag("m_bStamp", false);
    o.m_strStampText = r.Text("StampText");
    o.m_crStamp = RGB(r.Int("fcr", 0) & 0xFF, r.Int("fcg", 0) & 0xFF, r.Int("fcb", 0) & 0xFF);
    LOGFONT &lf = o.m_lfStamp;
    lf = LOGFONT();
    lf.lfHeight = r.Int("fontHeight", -16);
    lf.lfWidth = r.Int("fontWidth", 0);
    lf.lfEscapement = r.Int("fontEscapement", 0);
    lf.lfItalic = BYTE(r.Int("fontItalic", 0));
    lf.lfWeight = r.Int("fontWeight", 400);
    lf.lfUnderline = BYTE(r.Int("fontUnderline", 0));
    lf.lfStrikeOut = BYTE(r.Int("fontStrickOut", 0));
    lf.lfCharSet = BYTE(r.Int("fontCharSet", 0));
    lf.SetFaceName(r.Text("fontFaceName", "MS Sans Serif").c_str());
    // Out-of-range values fall back to the defaults, as the window's do.
    const int position = r.Int("StampPosition", GRAVITY_BOTTOM_RIGHT);
    o.m_nStampPosition = position >= 0 && position < 9 ? position : GRAVITY_BOTTOM_RIGHT;
    o.m_nStampMargin = std::clamp(r.Int("StampMargin", kDefaultStampMargin), 0, int(kMaxMargin));
    o.m_nStampOpacity = std::clamp(r.Int("StampOpacity", 100), 0, 100);
    o.m_nStampSizePercent = r.Flag("StampSizeOn", false) ? std::clamp(r.Int("StampSize", 5), 1, 100) : 0;
    o.m_bStampShadow = r.Flag("StampShadow", false);
    o.m_strLogoPath = r.Text("LogoFile");
    o.m_nLogoSizePercent = std::clamp(r.Int("LogoSize", 20), 1, 100);
}

void ReadOutput(const Reader &r, ConvertOptions &o)
{
    o.m_nFormatType = r.Int("m_nFormatType", 0);
    o.m_nQuality = r.Int("Output Quality", 95);
    CEncoderSettings &e = o.m_encoder;
    e.m_bJpegProgressive = r.Flag("JpegProgressive", e.m_bJpegProgressive);
    e.m_nJpegSubsampling = r.Int("JpegSubsampling", e.m_nJpegSubsampling);
    if (e.m_nJpegSubsampling != SUBSAMPLING_444 && e.m_nJpegSubsampling != SUBSAMPLING_422 &&
        e.m_nJpegSubsampling != SUBSAMPLING_420)
        e.m_nJpegSubsampling = SUBSAMPLING_AUTO;
    e.m_nPngLevel = std::clamp(r.Int("PngLevel", e.m_nPngLevel), 0, 9);
    e.m_nTifCompression = std::clamp(r.Int("TifCompression", e.m_nTifCompression), 0, int(TIFCOMPRESS_NONE));
    e.m_nWebpEffort = std::clamp(r.Int("WebpEffort", e.m_nWebpEffort), 0, 6);
    e.m_bWebpLossless = r.Flag("WebpLossless", e.m_bWebpLossless);
    e.m_nAvifSpeed = std::clamp(r.Int("AvifSpeed", e.m_nAvifSpeed), 0, 10);
    e.m_nJxlEffort = std::clamp(r.Int("JxlEffort", e.m_nJxlEffort), 0, 9);
    e.m_nDpi = std::clamp(r.Int("Dpi", e.m_nDpi), 0, int(CEncoderSettings::kMaxDpi));
    o.m_nRenderDpi = StoredRenderDpi(r.Int("RenderDpi", 0));
    o.m_strPages = r.Text("Pages");
    e.m_nPageSize = std::max(PageSizeOf(r.Text("PageSize", "image")), int(PAGESIZE_IMAGE));
    e.m_nPageMargin = std::clamp(r.Int("PageMargin", 0), 0, int(kMaxPageMargin));
    o.m_bKeepIfLarger = r.Flag("KeepIfLarger", false);
    o.m_bMaxFileSize = r.Flag("MaxFileSizeOn", false);
    o.m_nMaxFileSize = std::clamp<std::int64_t>(r.Int("MaxFileSize", int(o.m_nMaxFileSize)), kMinFileSizeLimit,
                                                kMaxFileSizeLimit);
    o.m_nMaxFileSizeUnit = std::clamp(r.Int("MaxFileSizeUnit", SIZEUNIT_KB), 0, int(SIZEUNIT_MIB));
    o.m_nMinQuality = std::clamp(r.Int("MinQuality", kDefaultMinQuality), 1, 100);
    o.m_bMaxFileSizeShrink = r.Flag("MaxFileSizeShrink", false);
    o.m_strOutDir = r.Text("OutDir", kSourceFolderEntry);
    const int metadata = r.Int("StripMetadata", 0);
    o.m_bStripMetadata = metadata != 0 && metadata != 2;
    o.m_bStripLocation = metadata == 2;
    o.m_nOutputDate = !r.Flag("KeepDates", false)   ? OUTDATE_WRITTEN
                      : r.Int("DateSource", 0) == 1 ? OUTDATE_EXIF
                                                    : OUTDATE_SOURCE;
    o.m_bAutoRotate = r.Flag("AutoRotate", true);
    o.m_bLossless = r.Flag("LosslessRotate", true);
    // Values that cannot be read write nothing.
    std::string problem;
    if (!ReadTagValuesText(r.Text("SetTags"), o.m_metaEdits.values, problem))
        o.m_metaEdits.values.clear();
    o.m_metaEdits.ifEmpty = r.Flag("SetTagsIfEmpty", false);
    if (const std::string shift = r.Text("ShiftDates"); shift.empty() || !ParseDateShift(shift, o.m_metaEdits.shiftSeconds).empty())
        o.m_metaEdits.shiftSeconds = 0;
}

void PutFont(StoredValues &v, const LOGFONT &lf, COLORREF colour)
{
    const auto put = [&](const char *name, long n) { v[name] = std::to_string(n); };
    put("fcr", GetRValue(colour));
    put("fcg", GetGValue(colour));
    put("fcb", GetBValue(colour));
    put("fontHeight", lf.lfHeight);
    put("fontWidth", lf.lfWidth);
    put("fontEscapement", lf.lfEscapement);
    put("fontItalic", lf.lfItalic);
    put("fontWeight", lf.lfWeight);
    put("fontUnderline", lf.lfUnderline);
    put("fontStrickOut", lf.lfStrikeOut);
    put("fontCharSet", lf.lfCharSet);
    v["fontFaceName"] = lf.lfFaceName;
}

int FormatEntry(const std::string &name)
{
    const auto formats = OutputFormats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        if (name == formats[i].name)
            return int(i) + 1;
    return 0;
}

} // namespace

std::span<const StoredName> StoredRunNames()
{
    // The editing steps' values are texts, each read by its row.
    static const std::vector<StoredName> names = [] {
        std::vector<StoredName> all(std::begin(kNames), std::end(kNames));
        for (const EditOption &e : EditOptions())
            all.push_back({e.key, 0, 0, true});
        // The pages of documents, as --pages takes them.
        all.push_back({"Pages", 0, 0, true});
        return all;
    }();
    return names;
}

const StoredName *FindStoredName(std::string_view name)
{
    for (const StoredName &n : StoredRunNames())
        if (name == n.name)
            return &n;
    return nullptr;
}

namespace {

const EditOption *EditOptionStoredAs(std::string_view key)
{
    for (const EditOption &e : EditOptions())
        if (key == e.key)
            return &e;
    return nullptr;
}

} // namespace

std::string StoredTextProblem(std::string_view name, std::string_view value)
{
    // The same rules as the window's boxes and velmora-batch's options: a
    // hand-written value must not put an output outside its folder either.
    if (name == "RenamePrefix" || name == "RenameSuffix")
        return RenamePartProblem(std::string(value));
    if (name == "NameTemplate" && !value.empty())
        return NameTemplateProblem(std::string(value));
    if (const EditOption *e = EditOptionStoredAs(name)) {
        Edits edits;
        if (!ReadEditValue(*e, value, edits))
            return e->valueText ? std::string(e->name) + " " + e->valueText : std::string(e->name);
    }
    if (name == "PageSize" && PageSizeOf(value) < 0)
        return std::string(value) + ": image, a4 or letter";
    std::vector<OutputSize> sizes;
    std::string problem;
    if (name == "Sizes" && !value.empty() && !ParseSizeList(value, sizes, problem))
        return problem;
    std::vector<cxmeta::TagValue> tags;
    if (name == "SetTags" && !ReadTagValuesText(value, tags, problem))
        return problem;
    std::int64_t shift = 0;
    if (name == "ShiftDates" && !value.empty())
        return ParseDateShift(value, shift);
    if (PageChoice pages; name == "Pages" && !value.empty() && !ParsePageChoice(value, pages))
        return "--pages " + std::string(value);
    return {};
}

StoredFault CheckStoredValue(std::string_view name, std::string_view value)
{
    const StoredName *n = FindStoredName(name);
    if (!n)
        return StoredFault::Unknown;
    if (n->text)
        return StoredTextProblem(name, value).empty() ? StoredFault::None : StoredFault::BadText;
    long v = 0;
    if (!ParseNumber(value, v))
        return StoredFault::NotNumber;
    if (v < n->least || v > n->most)
        return StoredFault::OutOfRange;
    if (name == "JpegSubsampling" && v != 0 && v != SUBSAMPLING_444 && v != SUBSAMPLING_422 &&
        v != SUBSAMPLING_420)
        return StoredFault::OutOfRange;
    if (name == "m_nFormatType" && v > long(OutputFormats().size()))
        return StoredFault::OutOfRange;
    return StoredFault::None;
}

ConvertOptions OptionsFromStored(const StoredValues &values)
{
    const Reader r(values);
    ConvertOptions o;
    ReadResize(r, o);
    ReadNames(r, o);
    o.m_bRotate = r.Flag("m_bRotate", false);
    o.m_nrotateType = r.Int("m_nrotateType", 0);
    ReadStamp(r, o);
    ReadOutput(r, o);
    // Values that cannot be read leave their step out.
    for (const EditOption &e : EditOptions())
        ReadEditValue(e, r.Text(e.key), o.m_edits);
    return o;
}

namespace {

void PutResizeAndNames(const CConvertJob &job, StoredValues &v)
{
    const auto put = [&](const char *name, long n) { v[name] = std::to_string(n); };
    put("m_bResize", job.m_bResize);
    put("m_nResizeType", job.m_sizes.empty() ? job.m_nResizeType : RESIZE_SIZES);
    put("m_nWidth", job.m_nWidth);
    put("m_nHeight", job.m_nHeight);
    put("m_bSharpen", job.m_bSharpen);
    put("m_bDontEnlarge", job.m_bDontEnlarge);
    put("ResizeEdge", job.m_nEdgeSize);
    put("ResizePercent", job.m_nPercent);
    put("Gravity", job.m_nGravity);
    put("PadColour", long(job.m_crBackground));
    put("CropRatio", job.CropsToRatio());
    put("CropRatioWidth", std::max(1, job.m_nCropRatioW));
    put("CropRatioHeight", std::max(1, job.m_nCropRatioH));
    if (!job.m_sizes.empty())
        v["Sizes"] = SizeListText(job.m_sizes);
    const bool nameTemplate = !job.m_szNameTemplate.empty();
    put("m_bRename", job.m_bRename);
    v["RenamePrefix"] = job.m_szRenamePrefix;
    v["RenameSuffix"] = job.m_szRenameSuffix;
    put("RenameStart", std::max(0, job.m_nStartNumber));
    put("NameTemplateOn", nameTemplate);
    if (nameTemplate)
        v["NameTemplate"] = job.m_szNameTemplate;
    put("ExtensionCase", job.m_nExtCase);
    put("m_bRotate", job.m_bRotate);
    put("m_nrotateType", job.m_bRotate ? job.m_nrotateType : 0);
    put("LosslessRotate", job.m_nLossless != LOSSLESS_OFF);
    put("AutoRotate", job.m_bAutoRotate);
}

void PutStamp(const CConvertJob &job, const std::string &logoPath, const LOGFONT &font, COLORREF colour,
              StoredValues &v)
{
    const auto put = [&](const char *name, long n) { v[name] = std::to_string(n); };
    put("m_bStamp", job.m_bStamp);
    v["StampText"] = job.m_szStampText;
    PutFont(v, job.m_bStamp && job.m_lfStampFont ? *job.m_lfStampFont : font,
            job.m_bStamp ? job.m_crStampColor : colour);
    put("StampPosition", job.m_nStampPosition);
    put("StampMargin", job.m_nStampMargin);
    put("StampOpacity", job.m_nStampOpacity);
    put("StampSizeOn", job.m_nStampSizePercent > 0);
    put("StampSize", std::max(1, job.m_nStampSizePercent));
    put("StampShadow", job.m_bStampShadow);
    v["LogoFile"] = job.m_logo ? logoPath : std::string();
    put("LogoSize", job.m_nLogoSizePercent);
}

void PutOutput(const CConvertJob &job, StoredValues &v)
{
    const auto put = [&](const char *name, long n) { v[name] = std::to_string(n); };
    put("m_nFormatType", FormatEntry(job.m_szFormat));
    put("Output Quality", job.m_nQuality);
    const CEncoderSettings &e = job.m_encoder;
    put("JpegProgressive", e.m_bJpegProgressive);
    put("JpegSubsampling", e.m_nJpegSubsampling);
    put("PngLevel", e.m_nPngLevel);
    put("TifCompression", e.m_nTifCompression);
    put("WebpEffort", e.m_nWebpEffort);
    put("WebpLossless", e.m_bWebpLossless);
    put("AvifSpeed", e.m_nAvifSpeed);
    put("JxlEffort", e.m_nJxlEffort);
    put("Dpi", e.m_nDpi);
    put("RenderDpi", job.m_nRenderDpi);
    if (!job.m_szPages.empty())
        v["Pages"] = job.m_szPages;
    v["PageSize"] = PageSizeName(e.m_nPageSize);
    put("PageMargin", e.m_nPageMargin);
    put("KeepIfLarger", job.m_bKeepIfLarger);
    const bool limited = job.m_nMaxFileSize > 0;
    put("MaxFileSizeOn", limited);
    put("MaxFileSize", limited ? long(job.m_nMaxFileSize) : 300 * 1000);
    put("MaxFileSizeUnit", limited ? FittingSizeUnit(job.m_nMaxFileSize) : SIZEUNIT_KB);
    put("MinQuality", job.m_nMinQuality);
    put("MaxFileSizeShrink", job.m_bMaxFileSizeShrink);
    v["OutDir"] = job.m_szOutDir.empty() ? std::string(kSourceFolderEntry) : job.m_szOutDir;
    put("StripMetadata", job.m_bStripMetadata ? 1 : job.m_bStripLocation ? 2 : 0);
    put("KeepDates", job.m_nOutputDate != OUTDATE_WRITTEN);
    put("DateSource", job.m_nOutputDate == OUTDATE_EXIF);
    // Only what is chosen: a preset without tags keeps its lines.
    if (!job.m_metaEdits.values.empty())
        v["SetTags"] = TagValuesText(job.m_metaEdits.values);
    if (job.m_metaEdits.ifEmpty)
        put("SetTagsIfEmpty", 1);
    if (job.m_metaEdits.shiftSeconds != 0)
        v["ShiftDates"] = DateShiftText(job.m_metaEdits.shiftSeconds);
}

} // namespace

StoredValues StoredFromJob(const CConvertJob &job, const std::string &logoPath, const LOGFONT &font,
                           COLORREF colour, std::string &why)
{
    // What the window has no place for.
    if (job.m_nLossless == LOSSLESS_TRIM)
        why = "--lossless trim";
    else if (job.CropsToRatio() && !job.m_bResize)
        why = "--crop-ratio without --resize";
    else if (job.m_logo && !job.m_bStamp)
        why = "--logo without --stamp";
    if (!why.empty())
        return {};
    StoredValues v;
    PutResizeAndNames(job, v);
    PutStamp(job, logoPath, font, colour, v);
    PutOutput(job, v);
    for (const EditOption &e : EditOptions())
        if (std::string text = e.text(job.m_edits); !text.empty())
            v[e.key] = std::move(text);
    return v;
}
