#include "convertjob.h"

#include <cctype>
#include <climits>
#include <cstring>

const std::array<FormatEntry, 7> kFormatTable = {{
    {"保持原始格式", "", CXIMAGE_FORMAT_UNKNOWN},
    {"JPG", "JPG", CXIMAGE_FORMAT_JPG},
    {"BMP", "BMP", CXIMAGE_FORMAT_BMP},
    {"PCX", "PCX", CXIMAGE_FORMAT_PCX},
    {"GIF", "GIF", CXIMAGE_FORMAT_GIF},
    {"PNG", "PNG", CXIMAGE_FORMAT_PNG},
    {"TIF", "TIF", CXIMAGE_FORMAT_TIF},
}};

const std::array<const char *, 4> kResizeRuleNames = {"固定图像", "限制宽度", "限制高度", "忽略比例"};

const char *const kSourceFolderEntry = "源目录";

std::uint32_t TypeFromExtension(std::string_view ext)
{
    struct Entry {
        std::string_view ext;
        std::uint32_t type;
    };
    static constexpr Entry table[] = {
        {"bmp", CXIMAGE_FORMAT_BMP}, {"gif", CXIMAGE_FORMAT_GIF},  {"jpg", CXIMAGE_FORMAT_JPG},
        {"jpeg", CXIMAGE_FORMAT_JPG}, {"png", CXIMAGE_FORMAT_PNG}, {"tif", CXIMAGE_FORMAT_TIF},
        {"tiff", CXIMAGE_FORMAT_TIF}, {"pcx", CXIMAGE_FORMAT_PCX},
    };
    for (const Entry &e : table)
        if (e.ext == ext)
            return e.type;
    return CXIMAGE_FORMAT_UNKNOWN;
}

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

void CConvertJob::SetFile(int index, std::string_view path)
{
    if (index >= 0 && std::size_t(index) < m_files.size())
        m_files[std::size_t(index)] = std::string(path);
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
    }
    job.SetResizeFlag(o.m_bResize);
    if (o.m_bResize) {
        job.SetResizeType(o.m_nResizeType);
        job.SetSize(o.m_nWidth, o.m_nHeight);
        job.SetSharpen(o.m_bSharpen);
        job.SetDontEnlarge(o.m_bDontEnlarge);
    }
    job.SetRotateFlag(o.m_bRotate);
    if (o.m_bRotate)
        job.SetRotation(o.m_nrotateType);
    job.SetStampFlag(o.m_bStamp);
    if (o.m_bStamp)
        job.SetStamp(o.m_strStampText, &o.m_lfStamp, o.m_crStamp);
    job.SetQuality(o.m_nQuality);
    if (o.m_nFormatType > 0 && std::size_t(o.m_nFormatType) < kFormatTable.size())
        job.SetFormat(kFormatTable[std::size_t(o.m_nFormatType)].format);
    else
        job.SetFormat("");
    job.SetOutputFolder(o.m_strOutDir == kSourceFolderEntry ? std::string() : o.m_strOutDir);
    job.SetFileCount(int(sources.size()));
    for (std::size_t i = 0; i < sources.size(); ++i)
        job.SetFile(int(i), sources[i]);
    job.SetOverwritePolicy(OVERWRITE_ASK);
    job.m_bAutoRotate = o.m_bAutoRotate;
    job.m_bStripMetadata = o.m_bStripMetadata;
    return job;
}
