#include "app/optionpanel.h"

#include "convert/sizelimit.h"

#include "controls/dialogint.h"
#include "controls/folderdialog.h"
#include "resources/ids_main.h"
#include "convert/naming.h"
#include "convert/outputsizes.h"
#include "convert/pipeline.h"
#include "convert/watermark.h"
#include "imaging/cximage.h"
#include "imaging/documentwriter.h"
#include "imaging/formats.h"
#include "imaging/imageheader.h"
#include "settings/settingsstore.h"
#include "convert/storedoptions.h"
#include "controls/spinbuttonctrl.h"
#include "app/dialogs/editstepsdlg.h"
#include "app/dialogs/encodersettingsdlg.h"
#include "app/dialogs/metadatatagsdlg.h"
#include "convert/metadataedits.h"
#include "app/dialogs/stampfontdlg.h"
#include "controls/elidinglabel.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <utility>

using namespace mainid;

namespace {

constexpr int kMaxPanelText = 255;
constexpr const char *kBrowseTitle = QT_TRANSLATE_NOOP("COptionPanel", "选择目标文件夹");
constexpr unsigned kBrowseFlags = 0x41;  // file-system folders only, new dialog style

bool IsChecked(QWidget *w)
{
    auto *b = qobject_cast<QAbstractButton *>(w);
    return b && b->isChecked();
}

void SetChecked(QWidget *w, int on)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        b->setChecked(on != 0);
}

// The metadata list's entry of a stored value and back (the one mapping
// swaps 1 and 2): keep all, drop the location, remove all. Any other
// stored value removes all, as every non-zero one once did.
int MetadataEntry(int value)
{
    return value == 0 ? 0 : value == 2 ? 1 : 2;
}

}  // namespace

COptionPanel::COptionPanel(QWidget *window) : QObject(window), m_window(window)
{
    m_format = Control<QComboBox>(IDC_FORMAT);
    m_dest = Control<QComboBox>(IDC_DEST);
    m_resizeType = Control<QComboBox>(IDC_RESIZE_TYPE);
    m_spin = Control<CSpinButtonCtrl>(IDC_QUALITY_SPIN);

    m_format->addItem(QCoreApplication::translate("ConvertJob", kKeepFormatEntry));
    for (const ImageFormat &f : OutputFormats())
        m_format->addItem(QString::fromUtf8(f.name));
    for (const char *rule : kResizeRuleNames)
        m_resizeType->addItem(QCoreApplication::translate("ConvertJob", rule));
    for (const char *rule : kFramingRuleNames)
        m_resizeType->addItem(QCoreApplication::translate("ConvertJob", rule));
    m_resizeType->addItem(QCoreApplication::translate("ConvertJob", kSizesRuleName));
    auto *dateSource = Control<QComboBox>(IDC_DATE_SOURCE);
    for (const char *source : {QT_TRANSLATE_NOOP("COptionPanel", "源文件的日期"), QT_TRANSLATE_NOOP("COptionPanel", "拍摄日期")})
        dateSource->addItem(tr(source));
    for (const char *choice :
         {QT_TRANSLATE_NOOP("COptionPanel", "保留全部"), QT_TRANSLATE_NOOP("COptionPanel", "去除位置"),
          QT_TRANSLATE_NOOP("COptionPanel", "全部去除")})
        Control<QComboBox>(IDC_METADATA)->addItem(tr(choice));
    m_format->setCurrentIndex(-1);
    m_resizeType->setCurrentIndex(-1);

    m_rotateGroup = new QButtonGroup(this);
    int index = 0;
    for (int id : {IDC_ROTATE_LEFT, IDC_ROTATE_RIGHT, IDC_ROTATE_180})
        m_rotateGroup->addButton(Control<QAbstractButton>(id), index++);

    for (int id : {IDC_STAMP_TEXT, IDC_PREFIX})
        Control<QLineEdit>(id)->setMaxLength(kMaxPanelText);
    m_spin->SetBuddy(Control<QLineEdit>(IDC_QUALITY));
    Control(IDC_STAMP_TEXT)->setToolTip(tr("{name}、{n}、{date} 和 {folder} 会换成每个文件的名称、序号、日期和文件夹"));

    auto onClick = [this](int id, void (COptionPanel::*handler)()) {
        connect(Control<QAbstractButton>(id), &QAbstractButton::clicked, this, handler);
    };
    onClick(IDC_ROTATE, &COptionPanel::OnRotateCheck);
    onClick(IDC_RESIZE, &COptionPanel::OnResizeCheck);
    onClick(IDC_STAMP, &COptionPanel::OnStampCheck);
    onClick(IDC_RENAME, &COptionPanel::OnRenameCheck);
    onClick(IDC_FONT, &COptionPanel::OnFont);
    onClick(IDC_BROWSE, &COptionPanel::OnBrowseDest);
    onClick(IDC_RESIZE_MORE, &COptionPanel::OnResizeMore);
    onClick(IDC_NAME_TEMPLATE, &COptionPanel::OnNameTemplate);
    onClick(IDC_STAMP_MORE, &COptionPanel::OnStampMore);
    onClick(IDC_KEEP_DATES, &COptionPanel::OnKeepDatesCheck);
    onClick(IDC_FORMAT_SETTINGS, &COptionPanel::OnFormatSettings);
    onClick(IDC_EDITS, &COptionPanel::OnEdits);
    onClick(IDC_METADATA_TAGS, &COptionPanel::OnMetadataTags);
    Control(IDC_METADATA_TAGS)->setToolTip(tr("写入作者、版权、说明、关键字和评级,调整拍摄日期"));
    Control<CElidingLabel>(IDC_EDITS_LABEL)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(m_resizeType, &QComboBox::activated, this, &COptionPanel::OnResizeTypeChange);
    // The list of several sizes is typed behind 更多...: it opens once chosen.
    connect(m_resizeType, &QComboBox::activated, this, [this](int index) {
        if (index == RESIZE_SIZES)
            OnResizeMore();
    });
    connect(m_format, &QComboBox::activated, this, &COptionPanel::OnFormatChange);
}

void COptionPanel::Enable(std::initializer_list<int> ids, bool on)
{
    for (int id : ids)
        Control(id)->setEnabled(on);
}

bool COptionPanel::Fail(int id, const QString &prompt)
{
    QMessageBox::information(m_window, QStringLiteral("Velmora"), prompt);
    QWidget *w = Control(id);
    auto focus = [w] {
        w->setFocus(Qt::OtherFocusReason);
        if (auto *e = qobject_cast<QLineEdit *>(w))
            e->selectAll();
    };
    focus();
    // The window takes its activation back after the box has gone, and
    // with it the focus it had before: put the focus back once more then.
    QTimer::singleShot(0, w, focus);
    return false;
}

bool COptionPanel::ReadInt(int id, int low, int high, int &value)
{
    auto *e = Control<QLineEdit>(id);
    long long v = 0;
    if (!ParseDialogInt(e->text(), v) || v < low || v > high)
        return Fail(id, tr("请输入一个介于 %1 和 %2 之间的整数。").arg(low).arg(high));
    value = int(v);
    return true;
}

bool COptionPanel::ReadText(int id, int maxChars, QString &value)
{
    auto *e = Control<QLineEdit>(id);
    const QString text = e->text();
    if (maxChars > 0 && text.size() > maxChars)
        return Fail(id, tr("请输入不超过 %1 个字符。").arg(maxChars));
    value = text;
    return true;
}

bool COptionPanel::UpdateData(bool save)
{
    auto edit = [this](int id) { return Control<QLineEdit>(id); };
    if (!save) {
        m_format->setCurrentIndex(m_nFormatType >= 0 && m_nFormatType < m_format->count() ? m_nFormatType : -1);
        m_dest->setCurrentIndex(FindStoredDest(m_dest, m_strOutDir, -1));
        edit(IDC_HEIGHT)->setText(QString::number(m_nHeight));
        edit(IDC_STAMP_TEXT)->setText(m_strStampText);
        edit(IDC_WIDTH)->setText(QString::number(m_nWidth));
        if (QAbstractButton *b = m_rotateGroup->button(m_nrotateType)) {
            b->setChecked(true);
        } else {
            m_rotateGroup->setExclusive(false);
            for (QAbstractButton *r : m_rotateGroup->buttons())
                r->setChecked(false);
            m_rotateGroup->setExclusive(true);
        }
        SetChecked(Control(IDC_ROTATE), m_bRotate);
        SetChecked(Control(IDC_RESIZE), m_bResize);
        SetChecked(Control(IDC_STAMP), m_bStamp);
        edit(IDC_PREFIX)->setText(m_strRenamePrefix);
        m_resizeType->setCurrentIndex(m_nResizeType >= 0 && m_nResizeType < m_resizeType->count() ? m_nResizeType
                                                                                                  : -1);
        SetChecked(Control(IDC_RENAME), m_bRename);
        SetChecked(Control(IDC_SHARPEN), m_bSharpen);
        edit(IDC_QUALITY)->setText(QString::number(m_nQuality));
        edit(IDC_SUFFIX)->setText(m_strRenameSuffix);
        edit(IDC_START_NUMBER)->setText(m_strStartNumber);
        SetChecked(Control(IDC_DONT_ENLARGE), m_bDontEnlarge);
        SetChecked(Control(IDC_KEEP_DATES), m_bKeepDates);
        Control<QComboBox>(IDC_DATE_SOURCE)->setCurrentIndex(m_nDateSource == 1 ? 1 : 0);
        Control<QComboBox>(IDC_METADATA)->setCurrentIndex(MetadataEntry(m_nMetadata));
        SetChecked(Control(IDC_LOSSLESS), m_bLossless);
        SetChecked(Control(IDC_IF_LARGER), m_bKeepIfLarger);
        ShowEditsSummary();
        return true;
    }

    m_nFormatType = m_format->currentIndex();
    m_strOutDir = m_dest->currentIndex() >= 0 ? StoredDest(m_dest, m_dest->currentIndex()) : QString();
    if (!ReadInt(IDC_HEIGHT, 0, INT_MAX, m_nHeight))
        return false;
    if (!ReadText(IDC_STAMP_TEXT, kMaxPanelText, m_strStampText))
        return false;
    if (!ReadInt(IDC_WIDTH, 0, INT_MAX, m_nWidth))
        return false;
    m_nrotateType = m_rotateGroup->checkedId();
    m_bRotate = IsChecked(Control(IDC_ROTATE));
    m_bResize = IsChecked(Control(IDC_RESIZE));
    m_bStamp = IsChecked(Control(IDC_STAMP));
    if (!ReadText(IDC_PREFIX, kMaxPanelText, m_strRenamePrefix))
        return false;
    m_nResizeType = m_resizeType->currentIndex();
    m_bRename = IsChecked(Control(IDC_RENAME));
    m_bSharpen = IsChecked(Control(IDC_SHARPEN));
    if (!ReadInt(IDC_QUALITY, 0, 100, m_nQuality))
        return false;
    ReadText(IDC_SUFFIX, 0, m_strRenameSuffix);
    ReadText(IDC_START_NUMBER, 0, m_strStartNumber);
    m_bDontEnlarge = IsChecked(Control(IDC_DONT_ENLARGE));
    m_bKeepDates = IsChecked(Control(IDC_KEEP_DATES));
    m_nDateSource = Control<QComboBox>(IDC_DATE_SOURCE)->currentIndex();
    m_nMetadata = MetadataEntry(Control<QComboBox>(IDC_METADATA)->currentIndex());
    m_bLossless = IsChecked(Control(IDC_LOSSLESS));
    m_bKeepIfLarger = IsChecked(Control(IDC_IF_LARGER));
    if (m_bResize && m_nResizeType == RESIZE_SIZES && !SizesReadable(m_resizeChoices.sizes))
        return Fail(IDC_RESIZE_MORE,
                    tr("请在“更多...”中输入尺寸列表,用逗号分隔,最多 16 个,每个为 Nw(宽度)、Nh(高度)、"
                       "N(长边)或 WxH(限制在 W×H 内),数字从 1 起,不可重复。"));
    if (m_bResize && m_nResizeType == RESIZE_SIZES && m_bRename && m_nameChoices.useTemplate &&
        !NameTemplateTellsSize(m_nameChoices.nameTemplate.toStdString()))
        return Fail(IDC_NAME_TEMPLATE,
                    tr("使用多个尺寸时,文件名模板必须包含 {size},否则各尺寸的输出会同名。"));
    // A name part must keep the outputs inside the destination folder.
    if (m_bRename && m_nameChoices.useTemplate) {
        if (const QString problem = TemplateProblem(m_nameChoices.nameTemplate); !problem.isEmpty())
            return Fail(IDC_NAME_TEMPLATE, problem);
    } else if (m_bRename) {
        for (const auto &[id, text] : {std::pair{IDC_PREFIX, &m_strRenamePrefix}, {IDC_SUFFIX, &m_strRenameSuffix}})
            if (!RenamePartProblem(text->toStdString()).empty())
                return Fail(id, tr("前缀和后缀不能包含 / 或控制字符。"));
    }
    // The logo is read before anything is written, as velmora-batch reads it.
    if (IsChecked(Control(IDC_STAMP)) && !m_stampChoices.logoPath.isEmpty()) {
        std::string why;
        if (!ReadLogo(m_stampChoices.logoPath.toStdString(), why))
            return Fail(IDC_STAMP_MORE,
                        tr("无法读取水印图片 %1: %2").arg(m_stampChoices.logoPath, QString::fromStdString(why)));
    }
    return true;
}

void COptionPanel::ReadSettings()
{
    const SettingsSource from = StoreSource();
    ReadValues(from);
    m_document.on = from.getInt(settingskey::kCombineOn, 0) != 0;
    m_document.kind =
        from.getInt(settingskey::kCombineFormat, 0) == 1 ? DocumentChoices::Tiff : DocumentChoices::Pdf;
    m_spin->SetRange(1, 100);
    m_spin->SetPos(m_nQuality & 0xFFFF);
}

void COptionPanel::ReadValues(const SettingsSource &from)
{
    using namespace settingskey;
    const auto &getInt = from.getInt;
    const auto &getStr = from.getString;
    m_bProportion = getInt(kProportion, 0);
    m_bResize = getInt(kResize, 0);
    m_bRotate = getInt(kRotate, 0);
    m_bStamp = getInt(kStamp, 0);
    m_bSharpen = getInt(kSharpen, 0);
    m_bDontEnlarge = getInt(kDontEnlarge, 0);
    m_nFormatType = getInt(kFormatType, 0);
    m_nResizeType = getInt(kResizeType, 0);
    m_nWidth = getInt(kWidth, settingsdefault::kWidth);
    m_nHeight = getInt(kHeight, settingsdefault::kHeight);
    m_nrotateType = getInt(kRotateType, 0);
    m_strOutDir = getStr(kOutDir, QString::fromUtf8(settingsdefault::kSourceFolder));
    m_strStampText = getStr(kStampText, QString());
    m_strRenamePrefix = getStr(kRenamePrefix, QString::fromUtf8(settingsdefault::kRenamePrefix));
    m_strRenameSuffix = getStr(kRenameSuffix, QString());
    m_bRename = getInt(kRename, 0);

    m_crStamp = ReadStampColour(from);
    m_lfStamp = ReadStampFont(from);

    m_nQuality = getInt(kQuality, settingsdefault::kQuality);
    ReadNewSettings(from);
}

void COptionPanel::ReadNewSettings(const SettingsSource &from)
{
    using namespace settingskey;
    const auto &getInt = from.getInt;
    ResizeChoices &r = m_resizeChoices;
    r.edge = getInt(kResizeEdge, r.edge);
    r.percent = getInt(kResizePercent, r.percent);
    r.gravity = getInt(kGravity, r.gravity);
    r.background = COLORREF(getInt(kPadColour, int(r.background)));
    r.cropRatio = getInt(kCropRatio, 0) != 0;
    r.ratioWidth = getInt(kCropRatioWidth, r.ratioWidth);
    r.ratioHeight = getInt(kCropRatioHeight, r.ratioHeight);
    // A list that cannot be read is dropped, and the rule falls back to the first.
    r.sizes = from.getString(kSizes, QString()).left(CResizeOptionsDlg::kMaxSizesChars);
    if (!r.sizes.isEmpty() && !SizesReadable(r.sizes))
        r.sizes.clear();
    if (m_nResizeType == RESIZE_SIZES && r.sizes.isEmpty())
        m_nResizeType = 0;
    m_nameChoices.useTemplate = getInt(kNameTemplateOn, 0) != 0;
    m_nameChoices.nameTemplate = from.getString(kNameTemplate, m_nameChoices.nameTemplate);
    m_nExtCase = getInt(kExtensionCase, 0);
    m_bKeepDates = getInt(kKeepDates, 0);
    m_nDateSource = getInt(kDateSource, 0);
    m_bLossless = getInt(kLosslessRotate, 1);
    m_bKeepIfLarger = getInt(kKeepIfLarger, 0);
    StampChoices &t = m_stampChoices;
    t.position = getInt(kStampPosition, t.position);
    t.margin = getInt(kStampMargin, t.margin);
    t.opacity = getInt(kStampOpacity, t.opacity);
    t.sizeOn = getInt(kStampSizeOn, 0) != 0;
    t.sizePercent = getInt(kStampSize, t.sizePercent);
    t.shadow = getInt(kStampShadow, 0) != 0;
    t.logoPath = from.getString(kLogoFile, QString());
    t.logoSize = getInt(kLogoSize, t.logoSize);
    m_nMetadata = getInt(kStripMetadata, 0);
    // Values the run would refuse (a hand-edited store) write nothing.
    m_metaEdits = {};
    std::string problem;
    if (!ReadTagValuesText(from.getString(kSetTags, QString()).toStdString(), m_metaEdits.values, problem))
        m_metaEdits.values.clear();
    m_metaEdits.ifEmpty = getInt(kSetTagsIfEmpty, 0) != 0 && !m_metaEdits.values.empty();
    if (const std::string shift = from.getString(kShiftDates, QString()).toStdString();
        !shift.empty() && !ParseDateShift(shift, m_metaEdits.shiftSeconds).empty())
        m_metaEdits.shiftSeconds = 0;
    ReadEncoderSettings(from);
    m_nRenderDpi = StoredRenderDpi(getInt(kRenderDpi, 0));
    SizeLimitChoices &l = m_sizeLimit;
    l.on = getInt(kMaxFileSizeOn, 0) != 0;
    l.bytes = std::clamp<std::int64_t>(getInt(kMaxFileSize, int(l.bytes)), kMinFileSizeLimit, kMaxFileSizeLimit);
    l.unit = std::clamp(getInt(kMaxFileSizeUnit, l.unit), int(SIZEUNIT_KB), int(SIZEUNIT_MIB));
    l.minQuality = std::clamp(getInt(kMinQuality, l.minQuality), 1, 100);
    l.shrink = getInt(kMaxFileSizeShrink, 0) != 0;
    ReadEdits(from);
}

void COptionPanel::ReadEdits(const SettingsSource &from)
{
    // No value of a step is longer than this; a longer one is not read at all.
    constexpr qsizetype kMaxEditText = 200;
    m_edits = {};
    for (const EditOption &row : EditOptions())
        if (const QString text = from.getString(row.key, QString()); text.size() <= kMaxEditText)
            ReadEditValue(row, text.toStdString(), m_edits);
}

void COptionPanel::ReadEncoderSettings(const SettingsSource &from)
{
    using namespace settingskey;
    const auto &getInt = from.getInt;
    CEncoderSettings &e = m_encoder;
    e.m_bJpegProgressive = getInt(kJpegProgressive, e.m_bJpegProgressive) != 0;
    e.m_nJpegSubsampling = getInt(kJpegSubsampling, e.m_nJpegSubsampling);
    e.m_nPngLevel = std::clamp(getInt(kPngLevel, e.m_nPngLevel), 0, 9);
    e.m_nTifCompression = std::clamp(getInt(kTifCompression, e.m_nTifCompression), 0, int(TIFCOMPRESS_NONE));
    e.m_nWebpEffort = std::clamp(getInt(kWebpEffort, e.m_nWebpEffort), 0, 6);
    e.m_bWebpLossless = getInt(kWebpLossless, e.m_bWebpLossless) != 0;
    e.m_nAvifSpeed = std::clamp(getInt(kAvifSpeed, e.m_nAvifSpeed), 0, 10);
    e.m_nJxlEffort = std::clamp(getInt(kJxlEffort, e.m_nJxlEffort), 0, 9);
    e.m_nDpi = std::clamp(getInt(kDpi, e.m_nDpi), 0, int(CEncoderSettings::kMaxDpi));
    e.m_nPageSize = std::max(PageSizeOf(from.getString(kPageSize, QString()).toStdString()), int(PAGESIZE_IMAGE));
    e.m_nPageMargin = std::clamp(getInt(kPageMargin, 0), 0, int(kMaxPageMargin));
    if (e.m_nJpegSubsampling != SUBSAMPLING_444 && e.m_nJpegSubsampling != SUBSAMPLING_422 &&
        e.m_nJpegSubsampling != SUBSAMPLING_420)
        e.m_nJpegSubsampling = SUBSAMPLING_AUTO;
}

void COptionPanel::WriteEncoderSettings() const
{
    using namespace settingskey;
    auto putInt = [](const char *key, int v) { WriteProfileInt(kSettingsSection, key, v); };
    const CEncoderSettings &e = m_encoder;
    putInt(kJpegProgressive, e.m_bJpegProgressive);
    putInt(kJpegSubsampling, e.m_nJpegSubsampling);
    putInt(kPngLevel, e.m_nPngLevel);
    putInt(kTifCompression, e.m_nTifCompression);
    putInt(kWebpEffort, e.m_nWebpEffort);
    putInt(kWebpLossless, e.m_bWebpLossless);
    putInt(kAvifSpeed, e.m_nAvifSpeed);
    putInt(kJxlEffort, e.m_nJxlEffort);
    putInt(kDpi, e.m_nDpi);
    putInt(kRenderDpi, m_nRenderDpi);
    WriteProfileString(kSettingsSection, kPageSize, QString::fromLatin1(PageSizeName(e.m_nPageSize)));
    putInt(kPageMargin, e.m_nPageMargin);
    putInt(kCombineOn, m_document.on);
    putInt(kCombineFormat, m_document.kind);
}

void COptionPanel::WriteNewSettings() const
{
    using namespace settingskey;
    auto putInt = [](const char *key, int v) { WriteProfileInt(kSettingsSection, key, v); };
    const ResizeChoices &r = m_resizeChoices;
    putInt(kResizeEdge, r.edge);
    putInt(kResizePercent, r.percent);
    putInt(kGravity, r.gravity);
    putInt(kPadColour, int(r.background));
    putInt(kCropRatio, r.cropRatio);
    putInt(kCropRatioWidth, r.ratioWidth);
    putInt(kCropRatioHeight, r.ratioHeight);
    WriteProfileString(kSettingsSection, kSizes, r.sizes);
    putInt(kNameTemplateOn, m_nameChoices.useTemplate);
    WriteProfileString(kSettingsSection, kNameTemplate, m_nameChoices.nameTemplate);
    putInt(kExtensionCase, m_nExtCase);
    putInt(kKeepDates, m_bKeepDates);
    putInt(kDateSource, m_nDateSource);
    const StampChoices &t = m_stampChoices;
    putInt(kStampPosition, t.position);
    putInt(kStampMargin, t.margin);
    putInt(kStampOpacity, t.opacity);
    putInt(kStampSizeOn, t.sizeOn);
    putInt(kStampSize, t.sizePercent);
    putInt(kStampShadow, t.shadow);
    WriteProfileString(kSettingsSection, kLogoFile, t.logoPath);
    putInt(kLogoSize, t.logoSize);
    putInt(kStripMetadata, m_nMetadata);
    WriteProfileString(kSettingsSection, kSetTags, QString::fromStdString(TagValuesText(m_metaEdits.values)));
    putInt(kSetTagsIfEmpty, m_metaEdits.ifEmpty);
    WriteProfileString(kSettingsSection, kShiftDates, QString::fromStdString(DateShiftText(m_metaEdits.shiftSeconds)));
    WriteEncoderSettings();
    putInt(kLosslessRotate, m_bLossless);
    putInt(kKeepIfLarger, m_bKeepIfLarger);
    const SizeLimitChoices &l = m_sizeLimit;
    putInt(kMaxFileSizeOn, l.on);
    putInt(kMaxFileSize, int(l.bytes));
    putInt(kMaxFileSizeUnit, l.unit);
    putInt(kMinQuality, l.minQuality);
    putInt(kMaxFileSizeShrink, l.shrink);
    for (const EditOption &row : EditOptions())
        WriteProfileString(kSettingsSection, row.key, QString::fromStdString(row.text(m_edits)));
}

void COptionPanel::WriteSettings(const QString &currentFolder)
{
    using namespace settingskey;
    auto putInt = [](const char *key, int v) { WriteProfileInt(kSettingsSection, key, v); };
    auto putStr = [](const char *key, const QString &v) { WriteProfileString(kSettingsSection, key, v); };
    putInt(kProportion, m_bProportion);
    putInt(kResize, m_bResize);
    putInt(kRotate, m_bRotate);
    putInt(kStamp, m_bStamp);
    putInt(kSharpen, m_bSharpen);
    putInt(kDontEnlarge, m_bDontEnlarge);
    putInt(kFormatType, m_nFormatType);
    putInt(kResizeType, m_nResizeType);
    putInt(kWidth, m_nWidth);
    putInt(kHeight, m_nHeight);
    putInt(kRotateType, m_nrotateType);
    putStr(kCurrentDirectory, currentFolder);
    putStr(kOutDir, m_strOutDir);
    putStr(kStampText, m_strStampText);
    putStr(kRenamePrefix, m_strRenamePrefix);
    putStr(kRenameSuffix, m_strRenameSuffix);
    putInt(kRename, m_bRename);
    putInt(kQuality, m_nQuality);
    WriteNewSettings();
}

QString COptionPanel::StoredDest(const QComboBox *combo, int index)
{
    const QVariant stored = combo->itemData(index);
    return stored.isValid() ? stored.toString() : combo->itemText(index);
}

void COptionPanel::InsertDest(QComboBox *combo, int index, const QString &stored)
{
    // The entry for "beside each source" is stored in its source text
    // whatever the language shown.
    const QString shown = stored == QString::fromUtf8(kSourceFolderEntry)
                              ? QCoreApplication::translate("ConvertJob", kSourceFolderEntry)
                              : stored;
    combo->insertItem(index, shown, stored);
}

int COptionPanel::FindStringPrefix(const QComboBox *combo, const QString &text, int after)
{
    const int n = combo->count();
    for (int k = 1; k <= n; ++k) {
        const int i = ((after < 0 ? -1 : after) + k) % n;
        if (StoredDest(combo, i).startsWith(text, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

int COptionPanel::FindStoredDest(const QComboBox *combo, const QString &text, int after)
{
    // The folder of the last run exactly as it was stored; the list's prefix
    // search alone would pick "/data/out-old" for "/data/out" and send the
    // next run into another folder.
    for (int i = 0; i < combo->count(); ++i)
        if (StoredDest(combo, i) == text)
            return i;
    return FindStringPrefix(combo, text, after);
}

void COptionPanel::LoadDestList()
{
    m_destDirs.clear();
    for (int n = 1; n <= 5; ++n)
        m_destDirs.push_back(GetProfileString(kSettingsSection, OutputDirKey(n).constData(),
                                              n == 1 ? QString::fromUtf8(settingsdefault::kSourceFolder)
                                                     : QString()));
    m_dest->clear();
    for (int i = 0; i < int(m_destDirs.size()); ++i)
        if (!m_destDirs[std::size_t(i)].isEmpty())
            InsertDest(m_dest, std::min(i, m_dest->count()), m_destDirs[std::size_t(i)]);
    m_dest->setCurrentIndex(FindStoredDest(m_dest, m_strOutDir));
}

void COptionPanel::SaveDestList()
{
    const int n = std::min(5, m_dest->count());
    for (int i = 0; i < n; ++i)
        WriteProfileString(kSettingsSection, OutputDirKey(i + 1).constData(), StoredDest(m_dest, i));
}

ConvertOptions COptionPanel::MakeOptions() const
{
    // The window's run and a preset's in velmora-batch share one mapping.
    ConvertOptions o = OptionsFromStored(Values());
    o.m_strStartNumber = m_strStartNumber.toStdString();
    return o;
}

StoredValues COptionPanel::Values() const
{
    using namespace settingskey;
    StoredValues v;
    const auto put = [&v](const char *key, int n) { v[key] = std::to_string(n); };
    const auto putText = [&v](const char *key, const QString &text) { v[key] = text.toStdString(); };
    put(kResize, m_bResize);
    put(kResizeType, m_nResizeType);
    put(kWidth, m_nWidth);
    put(kHeight, m_nHeight);
    put(kSharpen, m_bSharpen);
    put(kDontEnlarge, m_bDontEnlarge);
    put(kRotate, m_bRotate);
    put(kRotateType, m_nrotateType);
    put(kStamp, m_bStamp);
    putText(kStampText, m_strStampText);
    put(kRename, m_bRename);
    putText(kRenamePrefix, m_strRenamePrefix);
    putText(kRenameSuffix, m_strRenameSuffix);
    put(kRenameStart, std::max(0, int(ParseLeadingInt(m_strStartNumber.toStdString()))));
    put(kFormatType, m_nFormatType);
    put(kQuality, m_nQuality);
    putText(kOutDir, m_strOutDir);
    put(kFontRed, GetRValue(m_crStamp));
    put(kFontGreen, GetGValue(m_crStamp));
    put(kFontBlue, GetBValue(m_crStamp));
    put(kFontHeight, m_lfStamp.lfHeight);
    put(kFontWidth, m_lfStamp.lfWidth);
    put(kFontEscapement, m_lfStamp.lfEscapement);
    put(kFontItalic, m_lfStamp.lfItalic);
    put(kFontWeight, m_lfStamp.lfWeight);
    put(kFontUnderline, m_lfStamp.lfUnderline);
    put(kFontStrikeOut, m_lfStamp.lfStrikeOut);
    put(kFontCharSet, m_lfStamp.lfCharSet);
    v[kFontFaceName] = m_lfStamp.lfFaceName;
    const bool storedAutoRotate = GetProfileInt(kSettingsSection, kAutoRotate, 1) != 0;
    put(kAutoRotate, m_nAutoRotate >= 0 ? m_nAutoRotate : storedAutoRotate);
    PutNewValues(v);
    return v;
}

void COptionPanel::PutNewValues(StoredValues &v) const
{
    using namespace settingskey;
    const auto put = [&v](const char *key, int n) { v[key] = std::to_string(n); };
    const ResizeChoices &r = m_resizeChoices;
    put(kResizeEdge, r.edge);
    put(kResizePercent, r.percent);
    put(kGravity, r.gravity);
    put(kPadColour, int(r.background));
    put(kCropRatio, r.cropRatio);
    put(kCropRatioWidth, r.ratioWidth);
    put(kCropRatioHeight, r.ratioHeight);
    v[kSizes] = r.sizes.toStdString();
    put(kNameTemplateOn, m_nameChoices.useTemplate);
    v[kNameTemplate] = m_nameChoices.nameTemplate.toStdString();
    put(kExtensionCase, m_nExtCase);
    put(kKeepDates, m_bKeepDates);
    put(kDateSource, m_nDateSource);
    const StampChoices &t = m_stampChoices;
    put(kStampPosition, t.position);
    put(kStampMargin, t.margin);
    put(kStampOpacity, t.opacity);
    put(kStampSizeOn, t.sizeOn);
    put(kStampSize, t.sizePercent);
    put(kStampShadow, t.shadow);
    v[kLogoFile] = t.logoPath.toStdString();
    put(kLogoSize, t.logoSize);
    put(kStripMetadata, m_nMetadata);
    // As velmora-batch saves them: only what is chosen.
    if (!m_metaEdits.values.empty())
        v[kSetTags] = TagValuesText(m_metaEdits.values);
    if (m_metaEdits.ifEmpty)
        put(kSetTagsIfEmpty, 1);
    if (m_metaEdits.shiftSeconds != 0)
        v[kShiftDates] = DateShiftText(m_metaEdits.shiftSeconds);
    const CEncoderSettings &e = m_encoder;
    put(kJpegProgressive, e.m_bJpegProgressive);
    put(kJpegSubsampling, e.m_nJpegSubsampling);
    put(kPngLevel, e.m_nPngLevel);
    put(kTifCompression, e.m_nTifCompression);
    put(kWebpEffort, e.m_nWebpEffort);
    put(kWebpLossless, e.m_bWebpLossless);
    put(kAvifSpeed, e.m_nAvifSpeed);
    put(kJxlEffort, e.m_nJxlEffort);
    put(kDpi, e.m_nDpi);
    put(kRenderDpi, m_nRenderDpi);
    v[kPageSize] = PageSizeName(e.m_nPageSize);
    put(kPageMargin, e.m_nPageMargin);
    put(kLosslessRotate, m_bLossless);
    put(kKeepIfLarger, m_bKeepIfLarger);
    const SizeLimitChoices &l = m_sizeLimit;
    put(kMaxFileSizeOn, l.on);
    put(kMaxFileSize, int(l.bytes));
    put(kMaxFileSizeUnit, l.unit);
    put(kMinQuality, l.minQuality);
    put(kMaxFileSizeShrink, l.shrink);
    for (const EditOption &row : EditOptions())
        if (std::string text = row.text(m_edits); !text.empty())
            v[row.key] = std::move(text);
}

void COptionPanel::LoadValues(const StoredValues &values)
{
    const auto find = [&values](const char *key) {
        const auto it = values.find(key);
        return it == values.end() ? std::optional<QString>() : QString::fromStdString(it->second);
    };
    const auto getInt = [find](const char *key, int def) {
        bool ok = false;
        const std::optional<QString> v = find(key);
        const int n = v ? v->toInt(&ok) : 0;
        return ok ? n : def;
    };
    const auto getString = [find](const char *key, const QString &def) { return find(key).value_or(def); };
    const SettingsSource from{getInt, getString};
    // What the preset leaves out has its default, not the window's last value.
    m_resizeChoices = {};
    m_nameChoices = {};
    m_stampChoices = {};
    m_encoder = {};
    m_sizeLimit = {};
    const int proportion = m_bProportion; // no option of a run: kept as stored
    ReadValues(from);
    m_bProportion = proportion;
    m_strStartNumber = QString::number(from.getInt(settingskey::kRenameStart, 1));
    m_nAutoRotate = from.getInt(settingskey::kAutoRotate, 1) != 0;
    m_spin->SetPos(m_nQuality & 0xFFFF);
    if (!m_strOutDir.isEmpty()) {
        bool listed = false;
        for (int i = 0; i < m_dest->count() && !listed; ++i)
            listed = StoredDest(m_dest, i) == m_strOutDir;
        if (!listed)
            InsertDest(m_dest, std::min(1, m_dest->count()), m_strOutDir);
    }
    ShowValues();
}

void COptionPanel::ShowValues()
{
    UpdateData(false);
    OnRotateCheck();
    OnRenameCheck();
    OnKeepDatesCheck();
    OnResizeCheck();
    OnStampCheck();
    OnFormatChange();
}

void COptionPanel::ApplyStampChoices(const StampChoices &t, ConvertOptions &o) const
{
    // Out-of-range stored values fall back to the defaults.
    o.m_nStampPosition = t.position >= 0 && t.position < 9 ? t.position : GRAVITY_BOTTOM_RIGHT;
    o.m_nStampMargin = std::clamp(t.margin, 0, CStampOptionsDlg::kMaxMargin);
    o.m_nStampOpacity = std::clamp(t.opacity, 0, 100);
    o.m_nStampSizePercent = t.sizeOn ? std::clamp(t.sizePercent, 1, 100) : 0;
    o.m_bStampShadow = t.shadow;
    o.m_strLogoPath = t.logoPath.toStdString();
    o.m_nLogoSizePercent = std::clamp(t.logoSize, 1, 100);
}

void COptionPanel::OnRotateCheck()
{
    Enable({IDC_ROTATE_LEFT, IDC_ROTATE_RIGHT, IDC_ROTATE_180, IDC_LOSSLESS}, IsChecked(Control(IDC_ROTATE)));
}

void COptionPanel::OnResizeCheck()
{
    const bool on = IsChecked(Control(IDC_RESIZE));
    Enable({IDC_RESIZE_TYPE, IDC_WIDTH, IDC_HEIGHT, IDC_RESIZE_TYPE_LABEL, IDC_WIDTH_LABEL, IDC_HEIGHT_LABEL,
            IDC_SHARPEN, IDC_DONT_ENLARGE, IDC_RESIZE_MORE},
           on);
    // The rules after the first four take their sizes as they need them.
    if (on && m_resizeType->currentIndex() >= RESIZE_LONG_EDGE)
        OnResizeTypeChange();
}

void COptionPanel::OnStampCheck()
{
    const bool on = IsChecked(Control(IDC_STAMP));
    Enable({IDC_STAMP_TEXT, IDC_FONT, IDC_STAMP_TEXT_LABEL, IDC_STAMP_MORE}, on);
    if (on) {
        QLineEdit *e = Control<QLineEdit>(IDC_STAMP_TEXT);
        e->selectAll();
        e->setFocus(Qt::OtherFocusReason);
    }
}

void COptionPanel::OnRenameCheck()
{
    const bool on = IsChecked(Control(IDC_RENAME));
    Enable({IDC_PREFIX, IDC_SUFFIX, IDC_START_NUMBER, IDC_PREFIX_LABEL, IDC_START_NUMBER_LABEL, IDC_SUFFIX_LABEL,
            IDC_NAME_TEMPLATE},
           on);
    // A template takes the place of prefix and suffix.
    if (on && m_nameChoices.useTemplate)
        Enable({IDC_PREFIX, IDC_SUFFIX, IDC_PREFIX_LABEL, IDC_SUFFIX_LABEL}, false);
    if (on && !m_nameChoices.useTemplate) {
        QLineEdit *e = Control<QLineEdit>(IDC_PREFIX);
        e->selectAll();
        e->setFocus(Qt::OtherFocusReason);
    }
}

void COptionPanel::OnResizeTypeChange()
{
    switch (m_resizeType->currentIndex()) {
    case 0:
    case 3:
        Enable({IDC_WIDTH, IDC_HEIGHT}, true);
        break;
    case 1:
        Enable({IDC_WIDTH}, true);
        Enable({IDC_HEIGHT}, false);
        break;
    case 2:
        Enable({IDC_WIDTH}, false);
        Enable({IDC_HEIGHT}, true);
        break;
    case RESIZE_LONG_EDGE:
    case RESIZE_SHORT_EDGE:
    case RESIZE_PERCENT:
    case RESIZE_SIZES:
        // Their size, share or list is set behind 更多...
        Enable({IDC_WIDTH, IDC_HEIGHT}, false);
        break;
    case RESIZE_FILL:
    case RESIZE_PAD:
        Enable({IDC_WIDTH, IDC_HEIGHT}, true);
        break;
    default:
        break;
    }
}

void COptionPanel::OnFormatChange()
{
    UpdateData(true);
    const ImageFormat *f = FormatOfListEntry(m_nFormatType);
    Enable({IDC_QUALITY_LABEL, IDC_QUALITY, IDC_QUALITY_SPIN}, f && f->facts.showsQuality);
}

void COptionPanel::OnFormatSettings()
{
    const ImageFormat *f = FormatOfListEntry(m_format->currentIndex());
    CEncoderSettingsDlg::Run(m_window, m_encoder, m_nExtCase, f ? f->type : 0, m_sizeLimit, m_nRenderDpi,
                             m_document);
}

void COptionPanel::OnFont()
{
    CStampFontDlg::Run(m_window, m_lfStamp, m_crStamp);
}

void COptionPanel::OnBrowseDest()
{
    CFolderDialog dlg(tr(kBrowseTitle), StoredDest(m_dest, m_dest->currentIndex()), m_window, kBrowseFlags);
    if (dlg.DoModal() != 1)
        return;
    AddBrowsedFolder(dlg.GetFolderPath());
}

void COptionPanel::OnResizeMore()
{
    // The ratio's turn is an editing step's value, kept with the others.
    m_resizeChoices.ratioFollows = m_edits.cropRatioFollows;
    if (CResizeOptionsDlg::Run(m_window, m_resizeChoices, m_resizeType->currentIndex()))
        m_edits.cropRatioFollows = m_resizeChoices.ratioFollows;
}

void COptionPanel::OnEdits()
{
    // Whether the resize as the controls stand now sets a size the border
    // can be held in.
    const bool holdsBorder = IsChecked(Control(IDC_RESIZE)) && RuleHoldsBorder(m_resizeType->currentIndex());
    const QString sample = m_firstSelectedPath ? m_firstSelectedPath() : QString();
    if (CEditStepsDlg::Run(m_window, m_edits, holdsBorder, sample))
        ShowEditsSummary();
}

void COptionPanel::OnMetadataTags()
{
    CMetadataTagsDlg::Run(m_window, m_metaEdits);
}

void COptionPanel::ShowEditsSummary()
{
    Control<CElidingLabel>(IDC_EDITS_LABEL)->SetFullText(CEditStepsDlg::Summary(m_edits));
}

bool COptionPanel::SizesReadable(const QString &list)
{
    std::vector<OutputSize> sizes;
    std::string problem;
    return ParseSizeList(list.toStdString(), sizes, problem);
}

QString COptionPanel::TemplateProblem(const QString &nameTemplate)
{
    const std::string problem = NameTemplateProblem(nameTemplate.toStdString());
    return problem.empty() ? QString() : tr("文件名模板无效: %1").arg(QString::fromStdString(problem));
}

QString COptionPanel::ExampleName(const NameChoices &choices) const
{
    const QString source = m_firstSelectedPath ? m_firstSelectedPath() : QString();
    if (source.isEmpty())
        return {};
    // The running number and the fields are read as a run would read them.
    ConvertOptions o = MakeOptions();
    o.m_bRename = true;
    o.m_bNameTemplate = choices.useTemplate;
    o.m_strNameTemplate = choices.nameTemplate.toStdString();
    o.m_strRenamePrefix = Control<QLineEdit>(IDC_PREFIX)->text().toStdString();
    o.m_strRenameSuffix = Control<QLineEdit>(IDC_SUFFIX)->text().toStdString();
    o.m_strStartNumber = Control<QLineEdit>(IDC_START_NUMBER)->text().toStdString();
    const std::string path = source.toStdString();
    CConvertJob job = MakeConvertJob(o, {path});
    if (!job.m_sizes.empty())
        job = job.ForSize(0); // the first size's name stands for the others
    // {w} and {h} are the output's size: the picture's, upright, through
    // the resize rule.
    QSize size;
    int drawnW = 0, drawnH = 0;
    if (IsDrawingFile(path.c_str(), drawnW, drawnH)) {
        // Its own size at the DPI it is rendered at.
        const double scale = job.m_nRenderDpi > 0 ? job.m_nRenderDpi / 96.0 : 1.0;
        if (drawnW > 0 && drawnH > 0)
            size = QSize(std::max(1, int(std::lround(drawnW * scale))), std::max(1, int(std::lround(drawnH * scale))));
    } else {
        QImageReader reader(source);
        size = reader.size();
        if (reader.transformation() & QImageIOHandler::TransformationRotate90)
            size.transpose();
    }
    NameFacts facts;
    if (size.isValid()) {
        const ResizeTarget t = PlannedOutputSize(job, {}, size.width(), size.height());
        const bool turned = o.m_bRotate && (o.m_nrotateType == ROTATE_LEFT || o.m_nrotateType == ROTATE_RIGHT);
        facts.width = turned ? t.height : t.width;
        facts.height = turned ? t.width : t.height;
    }
    const OutputName name =
        MakeOutputPath(job, path, TypeFromExtension(LowerExtension(path)), 1, {}, facts);
    if (!name.problem.empty())
        return QString::fromStdString(name.problem);
    const QString out = QString::fromStdString(name.path);
    const QString base = QString::fromStdString(name.baseFolder);
    return !base.isEmpty() && out.startsWith(base + QLatin1Char('/')) ? out.mid(base.size() + 1)
                                                                      : QFileInfo(out).fileName();
}

void COptionPanel::OnNameTemplate()
{
    if (!CNameTemplateDlg::Run(m_window, m_nameChoices, &COptionPanel::TemplateProblem,
                               [this](const NameChoices &c) { return ExampleName(c); }))
        return;
    OnRenameCheck();
}

QImage COptionPanel::StampSample(const StampChoices &choices) const
{
    const QString source = m_firstSelectedPath ? m_firstSelectedPath() : QString();
    if (source.isEmpty() || !m_sampleSource)
        return {};
    // Decoded once for the dialog's life; each change draws on a copy.
    CxImage &cached = *m_sampleSource;
    if (m_sampleSourcePath != source || !cached.IsValid()) {
        cached = CxImage();
        m_sampleSourcePath = source;
        if (!cached.Load(QFile::encodeName(source).constData()))
            return {};
    }
    ConvertOptions o = MakeOptions();
    o.m_bStamp = true;
    o.m_strStampText = Control<QLineEdit>(IDC_STAMP_TEXT)->text().toStdString();
    ApplyStampChoices(choices, o);
    CConvertJob job = MakeConvertJob(o, {source.toStdString()});
    job.m_szStampText = StampTextFor(job, 0);
    CxImage out = cached;
    TransformImage(out, job);
    return out.ToQImage();
}

void COptionPanel::OnStampMore()
{
    m_sampleSource = std::make_unique<CxImage>();
    CStampOptionsDlg::Run(m_window, m_stampChoices, [this](const StampChoices &c) { return StampSample(c); });
    m_sampleSource.reset(); // the decoded picture goes with the dialog
    m_sampleSourcePath.clear();
}

void COptionPanel::OnKeepDatesCheck()
{
    Enable({IDC_DATE_SOURCE}, IsChecked(Control(IDC_KEEP_DATES)));
}

void COptionPanel::AddBrowsedFolder(const QString &path)
{
    if (path.isEmpty())
        return;
    const int found = FindStringPrefix(m_dest, path);
    if (found < 0 || StoredDest(m_dest, found) != path) {
        InsertDest(m_dest, std::min(1, m_dest->count()), path);
        m_dest->setCurrentIndex(FindStringPrefix(m_dest, path));
    } else {
        m_dest->setCurrentIndex(found);
    }
}
