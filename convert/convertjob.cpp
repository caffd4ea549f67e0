#include "convert/convertjob.h"

#include "convert/pagesources.h"

#include "convert/outputsizes.h"
#include "convert/watermark.h"

#include <QtGlobal>

#include <cctype>
#include <climits>
#include <cstring>

const char *const kKeepFormatEntry = QT_TRANSLATE_NOOP("ConvertJob", "保持原始格式");

const ImageFormat *FormatOfListEntry(int index)
{
    const auto formats = OutputFormats();
    return index > 0 && std::size_t(index) <= formats.size() ? &formats[std::size_t(index) - 1] : nullptr;
}

const std::array<const char *, 4> kResizeRuleNames = {
    QT_TRANSLATE_NOOP("ConvertJob", "固定图像"), QT_TRANSLATE_NOOP("ConvertJob", "限制宽度"),
    QT_TRANSLATE_NOOP("ConvertJob", "限制高度"), QT_TRANSLATE_NOOP("ConvertJob", "忽略比例")};

const std::array<const char *, 5> kFramingRuleNames = {
    QT_TRANSLATE_NOOP("ConvertJob", "限制长边"), QT_TRANSLATE_NOOP("ConvertJob", "限制短边"),
    QT_TRANSLATE_NOOP("ConvertJob", "按百分比"), QT_TRANSLATE_NOOP("ConvertJob", "裁剪填满"),
    QT_TRANSLATE_NOOP("ConvertJob", "补边适应")};

const char *const kSizesRuleName = QT_TRANSLATE_NOOP("ConvertJob", "多个尺寸");

const char *const kSourceFolderEntry = QT_TRANSLATE_NOOP("ConvertJob", "源目录");

std::string CutText(std::string_view text, int maxChars)
{
    if (maxChars <= 0)
        return std::string();
    std::size_t pos = 0;
    int chars = 0;
    while (pos < text.size()) {
        // Each character starts with a byte that is not a continuation byte.
        std::size_t next = pos + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
            ++next;
        if (chars == maxChars)
            break;
        ++chars;
        pos = next;
    }
    return std::string(text.substr(0, pos));
}

BYTE CConvertJob::GetFlagsByte() const
{
    return BYTE((m_bStamp ? 1 : 0) | (m_bRotate ? 2 : 0) | (m_bResize ? 4 : 0) | (m_bRename ? 8 : 0));
}

void CConvertJob::SetStamp(std::string_view text, const LOGFONT *font, COLORREF color)
{
    m_szStampText = CutText(text, kMaxStampTextChars);
    if (font)
        m_lfStampFont = *font;
    else
        m_lfStampFont.reset();
    m_crStampColor = color;
}

CConvertJob::FileList &CConvertJob::OwnList()
{
    if (m_list.use_count() > 1)
        m_list = std::make_shared<FileList>(*m_list);
    return *m_list;
}

void CConvertJob::SetFileCount(int count)
{
    FileList &list = OwnList();
    const std::size_t n = count < 0 ? 0 : std::size_t(count);
    list.files.resize(n);
    if (!list.subfolders.empty())
        list.subfolders.resize(n);
    if (!list.positions.empty())
        list.positions.resize(n, -1);
    if (!list.pages.empty())
        list.pages.resize(n);
}

void CConvertJob::SetFilePage(int index, int page, int pageCount)
{
    if (index < 0 || std::size_t(index) >= m_list->files.size())
        return;
    FileList &list = OwnList();
    list.pages.resize(list.files.size());
    const bool valid = page >= 1 && page <= pageCount;
    list.pages[std::size_t(index)] = valid ? std::pair(page, pageCount) : std::pair(0, 0);
}

int CConvertJob::GetPage(int index) const
{
    const auto &pages = m_list->pages;
    return index >= 0 && std::size_t(index) < pages.size() ? pages[std::size_t(index)].first : 0;
}

int CConvertJob::GetPageCount(int index) const
{
    const auto &pages = m_list->pages;
    return index >= 0 && std::size_t(index) < pages.size() ? pages[std::size_t(index)].second : 0;
}

void CConvertJob::SetFile(int index, std::string_view path)
{
    if (index >= 0 && std::size_t(index) < m_list->files.size())
        OwnList().files[std::size_t(index)] = std::string(path);
}

void CConvertJob::SetOutputSubfolder(int index, std::string_view folder)
{
    if (index < 0 || std::size_t(index) >= m_list->files.size())
        return;
    FileList &list = OwnList();
    list.subfolders.resize(list.files.size());
    list.subfolders[std::size_t(index)] = std::string(folder);
}

const std::string &CConvertJob::GetOutputSubfolder(int index) const
{
    static const std::string none;
    const auto &folders = m_list->subfolders;
    return index >= 0 && std::size_t(index) < folders.size() ? folders[std::size_t(index)] : none;
}

void CConvertJob::SetListPositions(std::vector<int> positions, int listSize)
{
    FileList &list = OwnList();
    list.positions = std::move(positions);
    list.positions.resize(list.files.size(), -1);
    list.listSize = listSize;
}

int CConvertJob::GetListPosition(int index) const
{
    const auto &positions = m_list->positions;
    return index >= 0 && std::size_t(index) < positions.size() ? positions[std::size_t(index)] : -1;
}

std::uint32_t CConvertJob::GetOutputType() const
{
    std::string lower = m_szFormat;
    for (char &c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return TypeFromExtension(lower);
}

std::int32_t ParseLeadingInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return std::int32_t(value);
}

CConvertJob MakeConvertJob(const ConvertOptions &o, const std::vector<std::string> &sources)
{
    CConvertJob job;
    job.SetRenameFlag(o.m_bRename);
    if (o.m_bRename) {
        job.SetPrefix(o.m_strRenamePrefix);
        job.SetSuffix(o.m_strRenameSuffix);
        job.SetStartNumber(ParseLeadingInt(o.m_strStartNumber));
        if (o.m_bNameTemplate) {
            job.m_szNameTemplate = o.m_strNameTemplate;
            job.SetPrefix("");
            job.SetSuffix("");
        }
    }
    job.SetResizeFlag(o.m_bResize);
    if (o.m_bResize) {
        job.SetResizeType(o.m_nResizeType);
        job.SetSize(o.m_nWidth, o.m_nHeight);
        job.SetSharpen(o.m_bSharpen);
        job.SetDontEnlarge(o.m_bDontEnlarge);
        job.m_nEdgeSize = o.m_nEdgeSize;
        job.m_nPercent = o.m_nPercent;
        job.m_crBackground = o.m_crBackground;
        // A list that cannot be read leaves the first rule.
        std::vector<OutputSize> sizes;
        std::string problem;
        if (o.m_nResizeType == RESIZE_SIZES)
            job.SetResizeType(0);
        if (o.m_nResizeType == RESIZE_SIZES && ParseSizeList(o.m_strSizes, sizes, problem))
            SetSizes(job, std::move(sizes));
    }
    if (o.m_bCropRatio) {
        job.m_nCropRatioW = o.m_nCropRatioW;
        job.m_nCropRatioH = o.m_nCropRatioH;
    }
    job.m_nGravity = o.m_nGravity;
    job.SetRotateFlag(o.m_bRotate);
    if (o.m_bRotate)
        job.SetRotation(o.m_nrotateType);
    job.SetStampFlag(o.m_bStamp);
    if (o.m_bStamp) {
        job.SetStamp(o.m_strStampText, &o.m_lfStamp, o.m_crStamp);
        job.m_nStampPosition = o.m_nStampPosition;
        job.m_nStampMargin = o.m_nStampMargin;
        job.m_nStampOpacity = o.m_nStampOpacity;
        job.m_nStampSizePercent = o.m_nStampSizePercent;
        job.m_bStampShadow = o.m_bStampShadow;
        job.m_nLogoSizePercent = o.m_nLogoSizePercent;
        // A logo that cannot be read is refused before the run (the
        // window checks it); here it is simply left out.
        std::string why;
        if (!o.m_strLogoPath.empty())
            job.m_logo = ReadLogo(o.m_strLogoPath, why);
    }
    job.SetQuality(o.m_nQuality);
    const ImageFormat *format = FormatOfListEntry(o.m_nFormatType);
    job.SetFormat(format ? format->name : "");
    job.SetOutputFolder(o.m_strOutDir == kSourceFolderEntry ? std::string() : o.m_strOutDir);
    job.SetFileCount(int(sources.size()));
    for (std::size_t i = 0; i < sources.size(); ++i)
        job.SetFile(int(i), sources[i]);
    job.SetOverwritePolicy(OVERWRITE_ASK);
    job.m_bAutoRotate = o.m_bAutoRotate;
    job.m_bStripMetadata = o.m_bStripMetadata;
    job.m_bStripLocation = o.m_bStripLocation;
    job.m_metaEdits = o.m_metaEdits;
    job.m_nExtCase = o.m_nExtCase;
    job.m_nOutputDate = o.m_nOutputDate;
    job.m_encoder = o.m_encoder;
    job.m_nLossless = o.m_bLossless ? LOSSLESS_AUTO : LOSSLESS_OFF;
    job.m_bKeepIfLarger = o.m_bKeepIfLarger;
    job.m_nRenderDpi = o.m_nRenderDpi;
    // A stored page list that is not one takes every page.
    if (PageChoice pages; ParsePageChoice(o.m_strPages, pages))
        job.m_szPages = o.m_strPages;
    if (o.m_bMaxFileSize) {
        job.m_nMaxFileSize = o.m_nMaxFileSize;
        job.m_nMinQuality = o.m_nMinQuality;
        job.m_bMaxFileSizeShrink = o.m_bMaxFileSizeShrink;
    }
    job.m_edits = o.m_edits;
    // What goes with a step not chosen is left out.
    job.m_edits.cropRatioFollows = job.m_edits.cropRatioFollows && job.CropsToRatio();
    job.m_edits.borderInside = job.m_edits.borderInside && job.m_edits.HasBorder() && job.m_bResize &&
                               RuleHoldsBorder(job.m_nResizeType);
    return job;
}

bool RuleHoldsBorder(std::int32_t rule)
{
    return rule >= 0 && rule <= RESIZE_PAD && rule != RESIZE_PERCENT;
}
