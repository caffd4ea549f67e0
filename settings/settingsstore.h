// The per-user settings store: section "Settings2" of the organisation
// "Korvane", application = the executable's base name (an INI file under
// ~/.config/Korvane on Linux). Two value types, ints and strings; every read
// passes a default, and an absent or unreadable value yields it.
#pragma once

#include "imaging/cxtypes.h"

#include <QString>

#include <functional>

constexpr const char *kSettingsSection = "Settings2";

int GetProfileInt(const char *section, const char *entry, int defaultValue);
QString GetProfileString(const char *section, const char *entry, const QString &defaultValue = QString());
bool WriteProfileInt(const char *section, const char *entry, int value);
bool WriteProfileString(const char *section, const char *entry, const QString &value);

// Where values are read from by their stored names: the store itself, or
// values held elsewhere (a preset's).
struct SettingsSource {
    std::function<int(const char *entry, int defaultValue)> getInt;
    std::function<QString(const char *entry, const QString &defaultValue)> getString;
};
// The store's own values, section "Settings2".
SettingsSource StoreSource();

// Every stored value's name, spelled as existing stores have them.
namespace settingskey {
// Option panel.
inline constexpr const char *kResize = "m_bResize";
inline constexpr const char *kResizeType = "m_nResizeType";
inline constexpr const char *kWidth = "m_nWidth";
inline constexpr const char *kHeight = "m_nHeight";
inline constexpr const char *kSharpen = "m_bSharpen";
inline constexpr const char *kDontEnlarge = "m_bDontEnlarge";
inline constexpr const char *kRotate = "m_bRotate";
inline constexpr const char *kRotateType = "m_nrotateType";
inline constexpr const char *kStamp = "m_bStamp";
inline constexpr const char *kStampText = "StampText";
inline constexpr const char *kRename = "m_bRename";
inline constexpr const char *kRenamePrefix = "RenamePrefix";
inline constexpr const char *kRenameSuffix = "RenameSuffix";
inline constexpr const char *kFormatType = "m_nFormatType";
inline constexpr const char *kQuality = "Output Quality";
inline constexpr const char *kOutDir = "OutDir";
inline constexpr const char *kProportion = "bProportion";
inline constexpr const char *kCurrentDirectory = "CurrentDirectory";
// Watermark colour and font.
inline constexpr const char *kFontRed = "fcr";
inline constexpr const char *kFontGreen = "fcg";
inline constexpr const char *kFontBlue = "fcb";
inline constexpr const char *kFontHeight = "fontHeight";
inline constexpr const char *kFontWidth = "fontWidth";
inline constexpr const char *kFontEscapement = "fontEscapement";
inline constexpr const char *kFontItalic = "fontItalic";
inline constexpr const char *kFontWeight = "fontWeight";
inline constexpr const char *kFontUnderline = "fontUnderline";
inline constexpr const char *kFontStrikeOut = "fontStrickOut";
inline constexpr const char *kFontCharSet = "fontCharSet";
inline constexpr const char *kFontFaceName = "fontFaceName";
// Main window geometry.
inline constexpr const char *kPosX = "ptMainDlgPos_x";
inline constexpr const char *kPosY = "ptMainDlgPos_y";
inline constexpr const char *kSizeCx = "szMainDlg_cx";
inline constexpr const char *kSizeCy = "szMainDlg_cy";
inline constexpr const char *kMaximized = "bMaximized";
inline constexpr const char *kHeightListSel = "nHeightListSel";
inline constexpr const char *kSplitVerLeft = "rtSplitVer_left";
inline constexpr const char *kSplitVerTop = "rtSplitVer_top";
inline constexpr const char *kSplitVerRight = "rtSplitVer_right";
inline constexpr const char *kSplitVerBottom = "rtSplitVer_bottom";
inline constexpr const char *kSplitHorLeft = "rtSplitHor_left";
inline constexpr const char *kSplitHorTop = "rtSplitHor_top";
inline constexpr const char *kSplitHorRight = "rtSplitHor_right";
inline constexpr const char *kSplitHorBottom = "rtSplitHor_bottom";
// Progress dialog and viewer.
inline constexpr const char *kAutoClose = "AutoClose";
inline constexpr const char *kProgress = "Progress";
inline constexpr const char *kViewFullSize = "bViewFullSize";
inline constexpr const char *kViewInfo = "bViewInfo"; // name, place and zoom kept on show
inline constexpr const char *kSlideShowDelay = "bSildeShowDelay";
inline constexpr const char *kBackRed = "iRed";
inline constexpr const char *kBackGreen = "iGreen";
inline constexpr const char *kBackBlue = "iBlue";
// How photos are read and written (AutoRotate has no control: set in the
// file; StripMetadata is the bottom row's metadata list).
inline constexpr const char *kAutoRotate = "AutoRotate";
inline constexpr const char *kStripMetadata = "StripMetadata"; // 0 keep, 1 remove all, 2 drop the location
// Behind the metadata list's "...": the tags written ("Artist=Jane|Rating=4",
// see metadataedits.h), only where missing, and the dates' shift ("+1h30m").
inline constexpr const char *kSetTags = "SetTags";
inline constexpr const char *kSetTagsIfEmpty = "SetTagsIfEmpty";
inline constexpr const char *kShiftDates = "ShiftDates";
// The window's language: "zh", "en", or empty for the desktop's (about box).
inline constexpr const char *kLanguage = "Language";
// The folder listing shares thumbnails with the desktop's cache (0: not).
inline constexpr const char *kThumbnailCache = "ThumbnailCache";
// The resize group's further choices.
inline constexpr const char *kResizeEdge = "ResizeEdge";
inline constexpr const char *kResizePercent = "ResizePercent";
inline constexpr const char *kGravity = "Gravity";
inline constexpr const char *kPadColour = "PadColour"; // 0xBBGGRR
inline constexpr const char *kCropRatio = "CropRatio";
inline constexpr const char *kCropRatioWidth = "CropRatioWidth";
inline constexpr const char *kCropRatioHeight = "CropRatioHeight";
// The list of the resize entry 多个尺寸 ("320w,768w,1024w").
inline constexpr const char *kSizes = "Sizes";
// The rename group's.
inline constexpr const char *kNameTemplateOn = "NameTemplateOn";
inline constexpr const char *kNameTemplate = "NameTemplate";
inline constexpr const char *kExtensionCase = "ExtensionCase";
// The output group's: 0 the time written, else the source's (DateSource 0)
// or the photo's (1).
inline constexpr const char *kKeepDates = "KeepDates";
inline constexpr const char *kDateSource = "DateSource";
// The watermark group's further choices (see CStampOptionsDlg).
inline constexpr const char *kStampPosition = "StampPosition";
inline constexpr const char *kStampMargin = "StampMargin";
inline constexpr const char *kStampOpacity = "StampOpacity";
inline constexpr const char *kStampSizeOn = "StampSizeOn";
inline constexpr const char *kStampSize = "StampSize";
inline constexpr const char *kStampShadow = "StampShadow";
inline constexpr const char *kLogoFile = "LogoFile";
inline constexpr const char *kLogoSize = "LogoSize";
// The encoders' settings behind the format list's button (see
// CEncoderSettings; their defaults are its defaults).
inline constexpr const char *kJpegProgressive = "JpegProgressive";
inline constexpr const char *kJpegSubsampling = "JpegSubsampling"; // 0, 444, 422 or 420
inline constexpr const char *kPngLevel = "PngLevel";
inline constexpr const char *kTifCompression = "TifCompression"; // 0 deflate, 1 LZW, 2 JPEG, 3 none
inline constexpr const char *kWebpEffort = "WebpEffort";
inline constexpr const char *kWebpLossless = "WebpLossless";
inline constexpr const char *kAvifSpeed = "AvifSpeed";
inline constexpr const char *kJxlEffort = "JxlEffort";
inline constexpr const char *kDpi = "Dpi";
// The output group's: dots per inch drawings (SVG) are rendered at; 0 for
// their format's own.
inline constexpr const char *kRenderDpi = "RenderDpi";
// The output group's: a PDF's page, "image", "a4" or "letter", and its margin
// in millimetres (0-100), for PDF outputs and a run combined into a PDF.
inline constexpr const char *kPageSize = "PageSize";
inline constexpr const char *kPageMargin = "PageMargin";
// The output group's: 1 makes a run one document, not a file a source; not
// kept in presets. Its kind: 0 PDF, 1 multi-page TIFF.
inline constexpr const char *kCombineOn = "CombineOn";
inline constexpr const char *kCombineFormat = "CombineFormat";
// The rotation group's: 1 turns rotated JPEGs without loss where they can
// be, 0 always encodes them again.
inline constexpr const char *kLosslessRotate = "LosslessRotate";
// The output group's: 1 keeps the source where the rewrite would be larger.
inline constexpr const char *kKeepIfLarger = "KeepIfLarger";
// The output group's size limit: on, its bytes, the unit it is shown in (0
// KB, 1 MB, 2 KiB, 3 MiB), the lowest quality it may choose, and 1 to
// scale a picture down that does not fit at that quality.
inline constexpr const char *kMaxFileSizeOn = "MaxFileSizeOn";
inline constexpr const char *kMaxFileSize = "MaxFileSize";
inline constexpr const char *kMaxFileSizeUnit = "MaxFileSizeUnit";
inline constexpr const char *kMinQuality = "MinQuality";
inline constexpr const char *kMaxFileSizeShrink = "MaxFileSizeShrink";
// A preset's own: the rename group's start number, which the store keeps
// nowhere else (a new run starts at 1).
inline constexpr const char *kRenameStart = "RenameStart";
// The name of the preset last chosen in the window; empty for none.
inline constexpr const char *kPreset = "Preset";
}  // namespace settingskey

// Defaults of the values whose default is not obvious at the call.
namespace settingsdefault {
inline constexpr int kWidth = 800;
inline constexpr int kHeight = 600;
inline constexpr int kQuality = 95;
inline constexpr const char *kRenamePrefix = "pic";
inline constexpr const char *kSourceFolder = "源目录";
inline constexpr int kFontHeight = -16;
inline constexpr int kFontWeight = 400;
inline constexpr const char *kFontFaceName = "MS Sans Serif";
inline constexpr int kAutoClose = 1;
inline constexpr int kViewFullSize = 1;
inline constexpr int kSlideShowDelay = 5;
inline constexpr int kMaximizedBit = 16777216;
}  // namespace settingsdefault

// Name of destination list entry n (1 to 5): "OutputDir1" ... "OutputDir5".
QByteArray OutputDirKey(int n);

// A colour from three stored components; only the low 8 bits of each count.
COLORREF ColourFromComponents(int red, int green, int blue);

// The watermark colour and font as stored ("fcr", "fcg", "fcb" and the nine
// font values); the face name is cut to what the font record holds.
COLORREF ReadStampColour(const SettingsSource &from = StoreSource());
LOGFONT ReadStampFont(const SettingsSource &from = StoreSource());
// Writes the colour, then the nine font values in their fixed order.
void WriteStampFontAndColour(const LOGFONT &font, COLORREF colour);

// The viewer's background colour ("iRed", "iGreen", "iBlue").
COLORREF ReadPreviewBackground();
void WritePreviewBackground(COLORREF colour);
