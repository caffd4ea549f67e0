// The options of one conversion run and its ordered list of source files.
#pragma once

#include "convert/editsteps.h"
#include "imaging/metadatatags.h"
#include "imaging/cxtypes.h"
#include "imaging/encodersettings.h"
#include "imaging/formats.h"

#include <array>
#include <cstdint>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CxImage;

// Longest texts the job keeps, in characters.
constexpr int kMaxAffixChars = 254;     // rename prefix and suffix
constexpr int kMaxStampTextChars = 255;  // watermark text
constexpr int kDefaultStampMargin = 10;  // the watermark's distance from the edges

// Overwrite policy when an output file already exists.
enum : std::int32_t {
    OVERWRITE_REPLACE = 0,
    OVERWRITE_RENAME = 1,
    OVERWRITE_ASK = 2,
    OVERWRITE_SKIP = 3,   // the existing output is left alone
    OVERWRITE_UPDATE = 4, // replaced only when the source is newer, else left alone
};

// Rotation choices.
enum : std::int32_t {
    ROTATE_NONE = -1,
    ROTATE_LEFT = 0,   // -90 degrees
    ROTATE_RIGHT = 1,  // +90 degrees
    ROTATE_180 = 2,
};

// The window's format list: this entry (each source keeps its format), then
// the name of every format in the order of ImageFormats(). The texts here
// are source texts of context "ConvertJob": the window shows them translated.
extern const char *const kKeepFormatEntry;
// The format of entry index of that list; null for the first entry and for
// an index outside the list.
const ImageFormat *FormatOfListEntry(int index);

// The resize rules, in order: 0 fit inside, 1 set width, 2 set height,
// 3 exact size.
extern const std::array<const char *, 4> kResizeRuleNames;

// The rules after those, stored as 4 to 8: the longer or the shorter side
// set, a percentage of the picture, a box covered and cropped (fill) or
// fitted inside and padded (pad).
enum : std::int32_t {
    RESIZE_LONG_EDGE = 4,
    RESIZE_SHORT_EDGE = 5,
    RESIZE_PERCENT = 6,
    RESIZE_FILL = 7,
    RESIZE_PAD = 8,
};
extern const std::array<const char *, 5> kFramingRuleNames;

// The window's last resize entry: several sizes of each picture, each
// output by one of the rules above (see OutputSize). Never a job's own rule.
inline constexpr std::int32_t RESIZE_SIZES = 9;
extern const char *const kSizesRuleName;

// One size of several: a width or height (the other side in proportion),
// the long edge, or a box the picture fits inside.
struct OutputSize {
    enum class Kind { Width, Height, LongEdge, Box };
    Kind kind = Kind::Width;
    std::int32_t width = 0;  // Width, LongEdge (the edge) and Box
    std::int32_t height = 0; // Height and Box
    bool operator==(const OutputSize &) const = default;
};
inline constexpr int kMaxOutputSizes = 16;

// Where a crop keeps its part and where a pad puts the picture: the nine
// anchors, row by row from the top left; then two that look at the pixels
// (crops only: a pad puts the picture in the centre under them): the part
// with the most edge detail, saturation and skin tone (attention), or the
// one whose brightness holds the most information (entropy).
enum : std::int32_t {
    GRAVITY_TOP_LEFT = 0,
    GRAVITY_TOP = 1,
    GRAVITY_TOP_RIGHT = 2,
    GRAVITY_LEFT = 3,
    GRAVITY_CENTER = 4,
    GRAVITY_RIGHT = 5,
    GRAVITY_BOTTOM_LEFT = 6,
    GRAVITY_BOTTOM = 7,
    GRAVITY_BOTTOM_RIGHT = 8,
    GRAVITY_ATTENTION = 9,
    GRAVITY_ENTROPY = 10,
};
constexpr bool IsContentGravity(std::int32_t gravity)
{
    return gravity == GRAVITY_ATTENTION || gravity == GRAVITY_ENTROPY;
}

// The letter case of an output's extension: as the naming has it (the
// format's capitals when the format changes), or always lower or upper.
enum : std::int32_t {
    EXTCASE_AUTO = 0,
    EXTCASE_LOWER = 1,
    EXTCASE_UPPER = 2,
};

// The modification time an output gets: the time it is written, its
// source's, or the photo's DateTimeOriginal (else its source's).
enum : std::int32_t {
    OUTDATE_WRITTEN = 0,
    OUTDATE_SOURCE = 1,
    OUTDATE_EXIF = 2,
};

// How a JPEG only turned becomes a JPEG: on its coefficients where its
// blocks allow, else encoded again (auto); on them always, the partial edge
// blocks dropped (trim); or always encoded again (off).
enum : std::int32_t {
    LOSSLESS_AUTO = 0,
    LOSSLESS_TRIM = 1,
    LOSSLESS_OFF = 2,
};

// Cuts UTF-8 text to at most maxChars characters, never inside one.
std::string CutText(std::string_view text, int maxChars);

class CConvertJob {
public:
    // Which optional steps run.
    bool m_bStamp = false;
    bool m_bRotate = false;
    bool m_bResize = false;
    bool m_bRename = false;

    std::string m_szFormat;        // "" keeps each source's format, else "JPG", "BMP", ...
    std::string m_szOutDir;        // "" writes beside each source
    std::string m_szRenamePrefix;  // at most kMaxAffixChars characters
    std::string m_szRenameSuffix;
    std::int32_t m_nStartNumber = 0;  // <= 0 keeps each file's own base name
    std::int32_t m_nResizeType = 0;
    std::int32_t m_nWidth = 0;
    std::int32_t m_nHeight = 0;
    std::int32_t m_nrotateType = ROTATE_NONE;
    std::string m_szStampText;  // at most kMaxStampTextChars characters
    COLORREF m_crStampColor = RGB(255, 122, 122);
    // The job's own copy of the watermark font; empty until a stamp is set.
    std::optional<LOGFONT> m_lfStampFont;
    std::int32_t m_nOverwrite = OVERWRITE_ASK;
    BYTE m_bSharpen = 0;
    BYTE m_bDontEnlarge = 0;
    std::int32_t m_nQuality = 75;
    // Photos are turned upright as their file says (off: pixels as stored,
    // the orientation tag kept). Metadata: all of it dropped, or only the
    // GPS fields.
    bool m_bAutoRotate = true;
    bool m_bStripMetadata = false;
    bool m_bStripLocation = false;
    // Rules 4 and 5: the side's length; rule 6: the percentage (1 to 1000).
    std::int32_t m_nEdgeSize = 0;
    std::int32_t m_nPercent = 100;
    std::int32_t m_nGravity = GRAVITY_CENTER;
    COLORREF m_crBackground = RGB(255, 255, 255); // the pad's canvas
    // The picture is first cut to this ratio around the gravity (0: not).
    std::int32_t m_nCropRatioW = 0;
    std::int32_t m_nCropRatioH = 0;
    // Output names from tokens ({name}, {n}, {n:W}, {date}, {date:FORMAT},
    // {w}, {h}, {folder}) instead of prefix and suffix; "" for none.
    std::string m_szNameTemplate;
    std::int32_t m_nExtCase = EXTCASE_AUTO;
    std::int32_t m_nOutputDate = OUTDATE_WRITTEN;
    // The watermark's place, margin, opacity (0 to 100), size as a share of
    // the picture's height (0: the font's own), shadow, and a logo sized as a
    // share of the picture's width, read once for the run.
    std::int32_t m_nStampPosition = GRAVITY_BOTTOM_RIGHT;
    std::int32_t m_nStampMargin = kDefaultStampMargin;
    std::int32_t m_nStampOpacity = 100;
    std::int32_t m_nStampSizePercent = 0;
    bool m_bStampShadow = false;
    std::shared_ptr<const CxImage> m_logo;
    std::int32_t m_nLogoSizePercent = 20;
    // How each format's encoder writes; not the defaults: no plain copies
    // of the formats it changes.
    CEncoderSettings m_encoder;
    std::int32_t m_nLossless = LOSSLESS_AUTO;
    // An output in its source's format and size, nothing drawn on it, that
    // would be larger than its source: the source is copied instead.
    bool m_bKeepIfLarger = false;
    // Outputs no larger than this many bytes (0: no limit): the highest
    // quality down to m_nMinQuality that fits, and with shrinking allowed
    // the picture scaled down until it does.
    std::int64_t m_nMaxFileSize = 0;
    std::int32_t m_nMinQuality = 30;
    bool m_bMaxFileSizeShrink = false;
    // Dots per inch a drawing source (SVG) is rendered at, kRenderDpiLeast
    // to kRenderDpiMost; 0: its format's own default.
    std::int32_t m_nRenderDpi = 0;
    // The pages of documents a run takes (--pages: "1-3,7", "5-"); "" for
    // every page of a PDF and the first of a TIFF. See pagesources.h.
    std::string m_szPages;
    // Several outputs of each source, one per size, from one decode; empty
    // for one output by the resize above. The resize fields hold the first
    // size's rule, so whatever shows one picture shows that one.
    std::vector<OutputSize> m_sizes;
    // The size an output is named by ("320w"): set by ForSize, "" otherwise.
    std::string m_szSizeTag;
    // Crop, trim, flip, tone and colour, border (see editsteps.h).
    Edits m_edits;
    // Tags written after any strip (values may hold the name template's
    // tokens, filled in per file) and the shot's dates moved.
    cxmeta::TagEdits m_metaEdits;

    // The job of one of several sizes: its rule in the resize fields, its
    // tag for the name, no list.
    CConvertJob ForSize(std::size_t size) const;
    // Outputs each source gives.
    int OutputsPerSource() const { return m_sizes.empty() ? 1 : int(m_sizes.size()); }

    // Whether any step changes the pixels (else a same-format output is a
    // plain copy).
    bool ChangesPixels() const
    {
        return m_bStamp || m_bRotate || m_bResize || CropsToRatio() || m_logo || m_edits.ChangesPixels();
    }
    // Whether a source of this type is drawn at another DPI than its
    // format's own (m_nRenderDpi on a drawing), or is a document of pages:
    // never a plain copy.
    bool RendersAnew(std::uint32_t sourceType) const
    {
        const ImageFormat *source = FormatByType(sourceType);
        return source && ((m_nRenderDpi != 0 && source->facts.rendered) || source->facts.pages);
    }
    bool CropsToRatio() const { return m_nCropRatioW > 0 && m_nCropRatioH > 0; }
    // Whether anything but the rotation, the flip and the orientation
    // changes the pixels or how they are coded: else a JPEG may be turned
    // losslessly.
    bool ChangesPixelsBeyondRotation() const
    {
        return m_bStamp || m_bResize || m_bSharpen || CropsToRatio() || m_logo || m_edits.ChangesPixelsBeyondFlip();
    }

    // The flags packed as one byte: stamp bit 0, rotate 1, resize 2, rename 3.
    BYTE GetFlagsByte() const;

    void SetStampFlag(bool on) { m_bStamp = on; }
    void SetRotateFlag(bool on) { m_bRotate = on; }
    void SetResizeFlag(bool on) { m_bResize = on; }
    void SetRenameFlag(bool on) { m_bRename = on; }
    void SetPrefix(std::string_view text) { m_szRenamePrefix = CutText(text, kMaxAffixChars); }
    void SetSuffix(std::string_view text) { m_szRenameSuffix = CutText(text, kMaxAffixChars); }
    void SetStartNumber(std::int32_t n) { m_nStartNumber = n; }
    void SetResizeType(std::int32_t rule) { m_nResizeType = rule; }
    void SetSize(std::int32_t width, std::int32_t height)
    {
        m_nWidth = width;
        m_nHeight = height;
    }
    void SetSharpen(bool on) { m_bSharpen = on ? 1 : 0; }
    void SetDontEnlarge(bool on) { m_bDontEnlarge = on ? 1 : 0; }
    void SetRotation(std::int32_t type) { m_nrotateType = type; }
    // Copies the text (cut to fit) and the font record; a null font keeps none.
    void SetStamp(std::string_view text, const LOGFONT *font, COLORREF color);
    void SetQuality(std::int32_t quality) { m_nQuality = quality; }
    // Format texts are at most four characters ("JPG" ... "TIF").
    void SetFormat(std::string_view text) { m_szFormat = CutText(text, 4); }
    // A folder is never cut: a shortened path would name another folder.
    void SetOutputFolder(std::string_view path) { m_szOutDir = std::string(path); }
    void SetOverwritePolicy(std::int32_t policy) { m_nOverwrite = policy; }

    // The source list, in the order of the selected images. Copies of a job
    // share it until one of them changes it, so a run of a million files
    // holds their names once.
    void SetFileCount(int count);
    void SetFile(int index, std::string_view path);
    int GetFileCount() const { return int(m_list->files.size()); }
    const std::string &GetFile(int index) const { return m_list->files.at(std::size_t(index)); }
    const std::vector<std::string> &GetFiles() const { return m_list->files; }
    // An entry that is one page of a document: page 1..pageCount of it. An
    // entry without one (GetPage 0) is the file as one picture.
    void SetFilePage(int index, int page, int pageCount);
    int GetPage(int index) const;
    int GetPageCount(int index) const; // 0 when the entry is not a page
    // The folder below the destination a file's output goes to, so that a
    // tree of sources is mirrored there ("" for the destination itself).
    void SetOutputSubfolder(int index, std::string_view folder);
    const std::string &GetOutputSubfolder(int index) const;
    // A share of a longer list (one machine's part of it): each file's place
    // in the whole list and that list's length fix its running number and the
    // number's width, whatever the other files do. Empty for a whole list.
    void SetListPositions(std::vector<int> positions, int listSize);
    int GetListPosition(int index) const; // -1 for a whole list
    int GetListSize() const { return m_list->positions.empty() ? GetFileCount() : m_list->listSize; }
    bool IsShare() const { return !m_list->positions.empty(); }

    // Output type code of the chosen format; 0 when each source keeps its own.
    std::uint32_t GetOutputType() const;

private:
    struct FileList {
        std::vector<std::string> files;
        std::vector<std::string> subfolders; // empty, or one per file
        std::vector<int> positions;          // empty, or one per file
        // Empty, or one per file: page and page count (0, 0 for none).
        std::vector<std::pair<int, int>> pages;
        int listSize = 0;
    };
    // The list to change, no longer shared with any copy.
    FileList &OwnList();
    std::shared_ptr<FileList> m_list = std::make_shared<FileList>();
};

// The option values of the main window that a run is made from.
struct ConvertOptions {
    bool m_bRename = false;
    std::string m_strRenamePrefix;
    std::string m_strRenameSuffix;
    std::string m_strStartNumber;
    bool m_bResize = false;
    std::int32_t m_nResizeType = 0;
    std::int32_t m_nWidth = 0;
    std::int32_t m_nHeight = 0;
    bool m_bSharpen = false;
    bool m_bDontEnlarge = false;
    bool m_bRotate = false;
    std::int32_t m_nrotateType = ROTATE_NONE;
    bool m_bStamp = false;
    std::string m_strStampText;
    LOGFONT m_lfStamp;
    COLORREF m_crStamp = RGB(255, 122, 122);
    std::int32_t m_nQuality = 75;
    std::int32_t m_nFormatType = 0;  // entry of the window's format list
    std::string m_strOutDir;         // "源目录" means beside each source
    bool m_bAutoRotate = true;       // stored settings, not panel controls
    bool m_bStripMetadata = false;
    bool m_bStripLocation = false;
    // The rules after the first four and their values (see CConvertJob),
    // the ratio crop, the name template, the extension case and the dates.
    std::int32_t m_nEdgeSize = 0;
    std::int32_t m_nPercent = 100;
    std::int32_t m_nGravity = GRAVITY_CENTER;
    COLORREF m_crBackground = RGB(255, 255, 255);
    bool m_bCropRatio = false;
    std::int32_t m_nCropRatioW = 0;
    std::int32_t m_nCropRatioH = 0;
    bool m_bNameTemplate = false; // with rename on: the template, not prefix and suffix
    std::string m_strNameTemplate;
    std::int32_t m_nExtCase = EXTCASE_AUTO;
    std::int32_t m_nOutputDate = OUTDATE_WRITTEN;
    // The watermark's place and look and its logo ("" for none), as
    // CConvertJob has them; the logo is read when the job is made.
    std::int32_t m_nStampPosition = GRAVITY_BOTTOM_RIGHT;
    std::int32_t m_nStampMargin = kDefaultStampMargin;
    std::int32_t m_nStampOpacity = 100;
    std::int32_t m_nStampSizePercent = 0;
    bool m_bStampShadow = false;
    std::string m_strLogoPath;
    std::int32_t m_nLogoSizePercent = 20;
    CEncoderSettings m_encoder;
    bool m_bLossless = true; // rotated JPEGs turned losslessly where they can be
    bool m_bKeepIfLarger = false;
    // The size limit (see CConvertJob), and the unit the window shows it in.
    bool m_bMaxFileSize = false;
    std::int64_t m_nMaxFileSize = 300 * 1000;
    std::int32_t m_nMaxFileSizeUnit = 0;
    std::int32_t m_nMinQuality = 30;
    bool m_bMaxFileSizeShrink = false;
    std::int32_t m_nRenderDpi = 0; // as CConvertJob's
    std::string m_strPages;        // as CConvertJob's m_szPages
    // With rule RESIZE_SIZES: the list as typed ("320w,768w,1024w").
    std::string m_strSizes;
    // The editing steps, as the job has them.
    Edits m_edits;
    cxmeta::TagEdits m_metaEdits; // as the job has them
};

// The render DPI a job may ask for (0 asks for the format's default).
inline constexpr std::int32_t kRenderDpiLeast = 10;
inline constexpr std::int32_t kRenderDpiMost = 2400;
// A stored render DPI as a job takes it: one out of range is the default.
constexpr std::int32_t StoredRenderDpi(int dpi)
{
    return dpi >= kRenderDpiLeast && dpi <= kRenderDpiMost ? dpi : 0;
}

// The destination entry meaning "beside each source file", as stored; shown
// translated.
extern const char *const kSourceFolderEntry;

// Reads a leading decimal number as atoi does (sign, digits; anything else
// gives 0), saturating instead of overflowing.
std::int32_t ParseLeadingInt(std::string_view text);

// Fills a job the way the Start command does: only the groups that are on
// are copied, the rest keep their defaults; the overwrite policy is "ask".
CConvertJob MakeConvertJob(const ConvertOptions &options, const std::vector<std::string> &sources);

// Whether a resize rule sets a side that --border-inside can take the border
// from: every rule but the percentage.
bool RuleHoldsBorder(std::int32_t rule);
