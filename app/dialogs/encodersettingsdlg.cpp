#include "app/dialogs/encodersettingsdlg.h"

#include "app/dialogs/dialogbuttons.h"
#include "convert/convertjob.h"
#include "convert/sizelimit.h"
#include "imaging/documentwriter.h"
#include "imaging/formats.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The list entries' values, in their order.
constexpr std::array<std::int32_t, 4> kSubsamplings = {SUBSAMPLING_AUTO, SUBSAMPLING_444, SUBSAMPLING_422,
                                                       SUBSAMPLING_420};
constexpr std::array<std::int32_t, 4> kTifCompressions = {TIFCOMPRESS_DEFLATE, TIFCOMPRESS_LZW,
                                                          TIFCOMPRESS_JPEG, TIFCOMPRESS_NONE};

QSpinBox *NumberBox(QWidget *parent, const char *name, int least, int most, int value)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(least, most);
    box->setValue(std::clamp(value, least, most));
    return box;
}

template <std::size_t N> int IndexOf(const std::array<std::int32_t, N> &values, std::int32_t value)
{
    const auto it = std::find(values.begin(), values.end(), value);
    return it == values.end() ? 0 : int(it - values.begin());
}

// A size in its unit, shown without trailing zeros ("300", "1.5").
class SizeBox : public QDoubleSpinBox {
public:
    using QDoubleSpinBox::QDoubleSpinBox;
    QString textFromValue(double value) const override
    {
        QString text = locale().toString(value, 'f', decimals());
        if (!isGroupSeparatorShown())
            text.remove(locale().groupSeparator());
        const QString point = locale().decimalPoint();
        if (text.contains(point)) {
            while (text.endsWith(QLatin1Char('0')))
                text.chop(1);
            if (text.endsWith(point))
                text.chop(point.size());
        }
        return text;
    }
};

} // namespace

const char *const CEncoderSettingsDlg::kExtCaseNames[3] = {QT_TRANSLATE_NOOP("CEncoderSettingsDlg", "自动"),
                                                           QT_TRANSLATE_NOOP("CEncoderSettingsDlg", "小写"),
                                                           QT_TRANSLATE_NOOP("CEncoderSettingsDlg", "大写")};

CEncoderSettingsDlg::CEncoderSettingsDlg(const CEncoderSettings &settings, int extCase, std::uint32_t type,
                                         const SizeLimitChoices &limit, QWidget *parent, int renderDpi,
                                         const DocumentChoices &document)
    : QDialog(parent), m_settings(settings), m_type(type)
{
    setObjectName(QStringLiteral("EncoderSettings"));
    setWindowTitle(tr("编码设置"));
    MakeControls();
    m_renderDpi = NumberBox(this, "renderDpi", 0, kRenderDpiMost, StoredRenderDpi(renderDpi));
    m_renderDpi->setSpecialValueText(tr("默认"));
    m_extCase->setCurrentIndex(extCase >= 0 && extCase < 3 ? extCase : 0);

    auto *layout = new QVBoxLayout(this);
    // A group per format; the chosen format's alone when there is one. All
    // of them stand in two columns, so the dialog fits a low screen.
    auto *formats = new QGridLayout;
    int groups = 0;
    const auto group = [&](std::uint32_t format, const char *title,
                           std::initializer_list<std::pair<QString, QWidget *>> rows) {
        if (m_type != 0 && m_type != format) {
            for (const auto &row : rows)
                row.second->hide();
            return;
        }
        auto *box = new QGroupBox(QString::fromLatin1(title), this);
        auto *form = new QFormLayout(box);
        for (const auto &[label, widget] : rows)
            label.isEmpty() ? form->addRow(widget) : form->addRow(label, widget);
        formats->addWidget(box, groups / 2, groups % 2);
        ++groups;
    };
    group(CXIMAGE_FORMAT_JPG, "JPEG", {{QString(), m_jpegProgressive}, {tr("色度抽样:"), m_jpegSubsampling}});
    group(CXIMAGE_FORMAT_PNG, "PNG", {{tr("压缩级别:"), m_pngLevel}});
    group(CXIMAGE_FORMAT_TIF, "TIFF", {{tr("压缩:"), m_tifCompression}});
    group(CXIMAGE_FORMAT_WEBP, "WebP", {{tr("压缩力度:"), m_webpEffort}, {QString(), m_webpLossless}});
    group(CXIMAGE_FORMAT_AVIF, "AVIF", {{tr("速度:"), m_avifSpeed}});
    group(CXIMAGE_FORMAT_JXL, "JPEG XL", {{tr("压缩力度:"), m_jxlEffort}});
    layout->addLayout(formats);
    // What every output has, whatever its format.
    auto *common = new QFormLayout;
    common->addRow(tr("分辨率 (DPI):"), m_dpi);
    common->addRow(tr("扩展名:"), m_extCase);
    common->addRow(tr("渲染分辨率 (SVG、PDF):"), m_renderDpi);
    layout->addLayout(common);
    layout->addWidget(MakeSizeLimitGroup(limit));
    layout->addLayout(MakeDocumentRows(document));

    QDialogButtonBox *buttons = OkCancelButtons(this, false);
    connect(buttons, &QDialogButtonBox::accepted, this, &CEncoderSettingsDlg::accept);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CEncoderSettingsDlg::MakeControls()
{
    const CEncoderSettings &s = m_settings;
    m_jpegProgressive = new QCheckBox(tr("渐进式"), this);
    m_jpegProgressive->setObjectName(QStringLiteral("jpegProgressive"));
    m_jpegProgressive->setChecked(s.m_bJpegProgressive);
    m_jpegSubsampling = new QComboBox(this);
    m_jpegSubsampling->setObjectName(QStringLiteral("jpegSubsampling"));
    m_jpegSubsampling->addItems({tr("按品质 (90 起 4:4:4)"), QStringLiteral("4:4:4"), QStringLiteral("4:2:2"),
                                 QStringLiteral("4:2:0")});
    m_jpegSubsampling->setCurrentIndex(IndexOf(kSubsamplings, s.m_nJpegSubsampling));
    m_pngLevel = NumberBox(this, "pngLevel", 0, 9, s.m_nPngLevel);
    m_tifCompression = new QComboBox(this);
    m_tifCompression->setObjectName(QStringLiteral("tifCompression"));
    m_tifCompression->addItems(
        {QStringLiteral("Deflate"), QStringLiteral("LZW"), QStringLiteral("JPEG"), tr("无")});
    m_tifCompression->setCurrentIndex(IndexOf(kTifCompressions, s.m_nTifCompression));
    m_webpEffort = NumberBox(this, "webpEffort", 0, 6, s.m_nWebpEffort);
    m_webpLossless = new QCheckBox(tr("无损"), this);
    m_webpLossless->setObjectName(QStringLiteral("webpLossless"));
    m_webpLossless->setChecked(s.m_bWebpLossless);
    m_avifSpeed = NumberBox(this, "avifSpeed", 0, 10, s.m_nAvifSpeed);
    // 0 stands for the effort chosen by losslessness.
    m_jxlEffort = NumberBox(this, "jxlEffort", 0, 9, s.m_nJxlEffort);
    m_jxlEffort->setSpecialValueText(tr("自动"));
    m_dpi = NumberBox(this, "dpi", 0, CEncoderSettings::kMaxDpi, s.m_nDpi);
    m_dpi->setSpecialValueText(tr("不写入"));
    m_extCase = new QComboBox(this);
    m_extCase->setObjectName(QStringLiteral("extCase"));
    for (const char *name : kExtCaseNames)
        m_extCase->addItem(tr(name));
}

QGroupBox *CEncoderSettingsDlg::MakeSizeLimitGroup(const SizeLimitChoices &limit)
{
    m_limit = new QGroupBox(tr("文件大小上限"), this);
    m_limit->setObjectName(QStringLiteral("maxFileSize"));
    m_limit->setCheckable(true);
    m_limit->setChecked(limit.on);
    m_limitUnit = new QComboBox(m_limit);
    m_limitUnit->setObjectName(QStringLiteral("maxFileSizeUnit"));
    for (int unit = SIZEUNIT_KB; unit <= SIZEUNIT_MIB; ++unit)
        m_limitUnit->addItem(QString::fromLatin1(SizeUnitName(unit)));
    const int unit = std::clamp(limit.unit, int(SIZEUNIT_KB), int(SIZEUNIT_MIB));
    m_limitUnit->setCurrentIndex(unit);
    m_limitSize = new SizeBox(m_limit);
    m_limitSize->setObjectName(QStringLiteral("maxFileSizeValue"));
    m_limitSize->setDecimals(3);
    m_limitSize->setRange(0.001, double(kMaxFileSizeLimit) / 1000);
    m_limitSize->setValue(double(limit.bytes) / double(SizeUnitBytes(unit)));
    // The same size in the new unit, as far as three decimals allow.
    connect(m_limitUnit, &QComboBox::currentIndexChanged, this, [this, last = unit](int now) mutable {
        m_limitSize->setValue(m_limitSize->value() * double(SizeUnitBytes(last)) / double(SizeUnitBytes(now)));
        last = now;
    });
    auto *size = new QHBoxLayout;
    size->addWidget(m_limitSize, 1);
    size->addWidget(m_limitUnit);
    m_minQuality = NumberBox(m_limit, "minQuality", 1, 100, limit.minQuality);
    m_shrink = new QCheckBox(tr("仍放不下时缩小图片"), m_limit);
    m_shrink->setObjectName(QStringLiteral("maxFileSizeShrink"));
    m_shrink->setChecked(limit.shrink);
    auto *form = new QFormLayout(m_limit);
    form->addRow(tr("上限:"), size);
    form->addRow(tr("最低质量:"), m_minQuality);
    form->addRow(m_shrink);
    return m_limit;
}

QLayout *CEncoderSettingsDlg::MakeDocumentRows(const DocumentChoices &document)
{
    m_combine = new QCheckBox(tr("合并为一个文档"), this);
    m_combine->setObjectName(QStringLiteral("combine"));
    m_combine->setChecked(document.on);
    m_combineKind = new QComboBox(this);
    m_combineKind->setObjectName(QStringLiteral("combineFormat"));
    m_combineKind->addItems({QStringLiteral("PDF"), QStringLiteral("TIFF")});
    m_combineKind->setCurrentIndex(document.kind == DocumentChoices::Tiff ? 1 : 0);
    m_combineKind->setEnabled(document.on);
    connect(m_combine, &QCheckBox::toggled, m_combineKind, &QWidget::setEnabled);
    m_pageSize = new QComboBox(this);
    m_pageSize->setObjectName(QStringLiteral("pageSize"));
    m_pageSize->addItems({tr("图片大小"), QStringLiteral("A4"), QStringLiteral("Letter")});
    m_pageSize->setCurrentIndex(
        std::clamp(m_settings.m_nPageSize, int(PAGESIZE_IMAGE), int(PAGESIZE_LETTER)));
    m_pageMargin = NumberBox(this, "pageMargin", 0, kMaxPageMargin, m_settings.m_nPageMargin);
    auto *combine = new QHBoxLayout;
    combine->addWidget(m_combine);
    combine->addWidget(m_combineKind);
    combine->addStretch(1);
    // The page rows lay out PDF outputs as well as a PDF document.
    auto *form = new QFormLayout;
    form->addRow(combine);
    form->addRow(tr("PDF 页面:"), m_pageSize);
    form->addRow(tr("页边距 (mm):"), m_pageMargin);
    return form;
}

DocumentChoices CEncoderSettingsDlg::Document() const
{
    return {m_combine->isChecked(),
            m_combineKind->currentIndex() == 1 ? DocumentChoices::Tiff : DocumentChoices::Pdf};
}

SizeLimitChoices CEncoderSettingsDlg::SizeLimit() const
{
    SizeLimitChoices limit;
    limit.on = m_limit->isChecked();
    limit.unit = m_limitUnit->currentIndex();
    limit.bytes = std::llround(m_limitSize->value() * double(SizeUnitBytes(limit.unit)));
    limit.minQuality = m_minQuality->value();
    limit.shrink = m_shrink->isChecked();
    return limit;
}

void CEncoderSettingsDlg::accept()
{
    const SizeLimitChoices limit = SizeLimit();
    if (limit.on && (limit.bytes < kMinFileSizeLimit || limit.bytes > kMaxFileSizeLimit)) {
        QMessageBox::information(this, QStringLiteral("Velmora"), tr("请输入 1 KB 到 1 GiB 之间的大小。"));
        m_limitSize->setFocus();
        m_limitSize->selectAll();
        return;
    }
    QDialog::accept();
}

CEncoderSettings CEncoderSettingsDlg::Settings() const
{
    CEncoderSettings s = m_settings;
    const auto shown = [this](std::uint32_t format) { return m_type == 0 || m_type == format; };
    if (shown(CXIMAGE_FORMAT_JPG)) {
        s.m_bJpegProgressive = m_jpegProgressive->isChecked();
        s.m_nJpegSubsampling = kSubsamplings[std::size_t(m_jpegSubsampling->currentIndex())];
    }
    if (shown(CXIMAGE_FORMAT_PNG))
        s.m_nPngLevel = m_pngLevel->value();
    if (shown(CXIMAGE_FORMAT_TIF))
        s.m_nTifCompression = kTifCompressions[std::size_t(m_tifCompression->currentIndex())];
    if (shown(CXIMAGE_FORMAT_WEBP)) {
        s.m_nWebpEffort = m_webpEffort->value();
        s.m_bWebpLossless = m_webpLossless->isChecked();
    }
    if (shown(CXIMAGE_FORMAT_AVIF))
        s.m_nAvifSpeed = m_avifSpeed->value();
    if (shown(CXIMAGE_FORMAT_JXL))
        s.m_nJxlEffort = m_jxlEffort->value();
    s.m_nDpi = m_dpi->value();
    s.m_nPageSize = m_pageSize->currentIndex();
    s.m_nPageMargin = m_pageMargin->value();
    return s;
}

int CEncoderSettingsDlg::RenderDpi() const
{
    // The box steps through 1 to 9 on its way up from the default.
    const int dpi = m_renderDpi->value();
    return dpi == 0 ? 0 : std::max(dpi, int(kRenderDpiLeast));
}

int CEncoderSettingsDlg::ExtCase() const
{
    return m_extCase->currentIndex();
}

bool CEncoderSettingsDlg::Run(QWidget *parent, CEncoderSettings &settings, int &extCase, std::uint32_t type,
                              SizeLimitChoices &limit, int &renderDpi, DocumentChoices &document)
{
    CEncoderSettingsDlg dlg(settings, extCase, type, limit, parent, renderDpi, document);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    settings = dlg.Settings();
    extCase = dlg.ExtCase();
    limit = dlg.SizeLimit();
    renderDpi = dlg.RenderDpi();
    document = dlg.Document();
    return true;
}
