#include "app/dialogs/editstepsdlg.h"

#include "app/dialogs/dialogbuttons.h"
#include "controls/colourpicker.h"
#include "imaging/adjust.h"
#include "imaging/cximage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The steps' own bounds (editsteps.cpp).
constexpr int kMostPixels = 1 << 20;
constexpr int kMostBorderPixels = 10000;
constexpr double kMostBorderPercent = 50;
constexpr int kPercentDecimals = 2;
constexpr double kPercentStep = 0.01; // a step of kPercentDecimals

constexpr const char *kFlipNames[] = {
    QT_TRANSLATE_NOOP("CEditStepsDlg", "无"), QT_TRANSLATE_NOOP("CEditStepsDlg", "水平"),
    QT_TRANSLATE_NOOP("CEditStepsDlg", "垂直"), QT_TRANSLATE_NOOP("CEditStepsDlg", "水平和垂直")};

// Numbers are written with a '.' whatever the language, as the command line
// and the presets write them.
void CLocale(QAbstractSpinBox *box)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::OmitGroupSeparator);
    box->setLocale(c);
}

QSpinBox *WholeBox(QWidget *parent, const QString &name, int least, int most)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(least, most);
    CLocale(box);
    return box;
}

} // namespace

CEditStepsDlg::CEditStepsDlg(const Edits &edits, bool holdsBorder, const QString &samplePath, QWidget *parent)
    : QDialog(parent), m_holdsBorder(holdsBorder)
{
    setObjectName(QStringLiteral("EditSteps"));
    setWindowTitle(tr("编辑"));

    auto *left = new QVBoxLayout;
    left->addWidget(MakeCropGroup());

    auto *trimFlip = new QGroupBox(tr("修剪与翻转"), this);
    m_trim = new QCheckBox(tr("修剪边框"), trimFlip);
    m_trim->setObjectName(QStringLiteral("trim"));
    m_trim->setToolTip(tr("裁去与四角颜色相同(或透明)的均匀边框"));
    m_trimFuzz = new QDoubleSpinBox(trimFlip);
    m_trimFuzz->setObjectName(QStringLiteral("trimFuzz"));
    CLocale(m_trimFuzz);
    m_trimFuzz->setRange(0, 100);
    m_trimFuzz->setDecimals(1);
    m_trimFuzz->setSuffix(QStringLiteral(" %"));
    m_flip = new QComboBox(trimFlip);
    m_flip->setObjectName(QStringLiteral("flip"));
    for (const char *name : kFlipNames)
        m_flip->addItem(tr(name));
    auto *trimRow = new QHBoxLayout;
    trimRow->addWidget(m_trim);
    trimRow->addStretch();
    trimRow->addWidget(new QLabel(tr("容差:"), trimFlip));
    trimRow->addWidget(m_trimFuzz);
    auto *flipRow = new QHBoxLayout;
    flipRow->addWidget(new QLabel(tr("翻转:"), trimFlip));
    flipRow->addWidget(m_flip);
    flipRow->addStretch();
    auto *trimFlipLayout = new QVBoxLayout(trimFlip);
    trimFlipLayout->addLayout(trimRow);
    trimFlipLayout->addLayout(flipRow);
    left->addWidget(trimFlip);
    left->addWidget(MakeBorderGroup());
    left->addStretch();

    auto *columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(MakeToneGroup());

    QDialogButtonBox *buttons = OkCancelButtons(this);
    QPushButton *reset = buttons->addButton(tr("全部重置"), QDialogButtonBox::ResetRole);
    reset->setObjectName(QStringLiteral("reset"));
    reset->setAutoDefault(false);
    connect(reset, &QPushButton::clicked, this, [this] { SetValues({}); });

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    LoadSample(samplePath);
    SetValues(edits);

    const auto refresh = [this] { Refresh(); };
    connect(m_cropWay, &QButtonGroup::idToggled, this, refresh);
    connect(m_trim, &QCheckBox::toggled, this, refresh);
    connect(m_border.value, &QDoubleSpinBox::valueChanged, this, refresh);
    const auto draw = [this] { DrawSample(); };
    for (QCheckBox *box : {m_autoLevels, m_grayscale, m_sepia})
        connect(box, &QCheckBox::toggled, this, draw);
    for (QSpinBox *box : m_levels)
        connect(box, &QSpinBox::valueChanged, this, draw);
    connect(m_gamma, &QDoubleSpinBox::valueChanged, this, draw);
}

CEditStepsDlg::Length CEditStepsDlg::MakeLength(const char *name, double mostPercent)
{
    Length l;
    l.value = new QDoubleSpinBox(this);
    l.value->setObjectName(QString::fromLatin1(name));
    CLocale(l.value);
    l.unit = new QComboBox(this);
    l.unit->setObjectName(QString::fromLatin1(name) + QStringLiteral("Unit"));
    l.unit->addItems({tr("像素"), QStringLiteral("%")});
    connect(l.unit, &QComboBox::currentIndexChanged, this,
            [this, l, mostPercent] { SetUnit(l, mostPercent); });
    SetUnit(l, mostPercent);
    return l;
}

void CEditStepsDlg::SetUnit(const Length &l, double mostPercent)
{
    const bool percent = l.unit->currentIndex() == 1;
    const bool margin = mostPercent == 100;
    l.value->setDecimals(percent ? kPercentDecimals : 0);
    l.value->setSingleStep(1);
    l.value->setRange(0, percent ? mostPercent : margin ? kMostPixels : kMostBorderPixels);
    if (margin)
        LimitMargins();
}

void CEditStepsDlg::LimitMargins()
{
    // Each percentage's most is what its opposite leaves, less a step: the
    // two never reach 100 % together. Pixels are only known per file.
    for (int i = 0; i < 4; ++i) {
        const Length &own = m_margins[std::size_t(i)];
        const Length &opposite = m_margins[std::size_t((i + 2) % 4)];
        if (!own.value || !opposite.value || own.unit->currentIndex() != 1)
            continue;
        const double taken = opposite.unit->currentIndex() == 1 ? opposite.value->value() : 0;
        const QSignalBlocker quiet(own.value);
        own.value->setMaximum(std::max(0.0, 100 - kPercentStep - taken));
    }
}

void CEditStepsDlg::SetLength(const Length &l, const EditLength &value)
{
    l.unit->setCurrentIndex(value.percent ? 1 : 0);
    l.value->setValue(value.value);
}

EditLength CEditStepsDlg::LengthOf(const Length &l)
{
    return {l.value->value(), l.unit->currentIndex() == 1};
}

QWidget *CEditStepsDlg::MakeCropGroup()
{
    auto *group = new QGroupBox(tr("裁剪"), this);
    m_cropWay = new QButtonGroup(this);
    const char *ways[] = {QT_TRANSLATE_NOOP("CEditStepsDlg", "无"),
                          QT_TRANSLATE_NOOP("CEditStepsDlg", "区域(像素):"),
                          QT_TRANSLATE_NOOP("CEditStepsDlg", "边距:")};
    auto *grid = new QGridLayout(group);
    for (int i = 0; i < 3; ++i) {
        auto *radio = new QRadioButton(tr(ways[i]), group);
        radio->setObjectName(QStringLiteral("cropWay%1").arg(i));
        m_cropWay->addButton(radio, i);
        grid->addWidget(radio, i == 0 ? 0 : i == 1 ? 1 : 3, 0);
    }
    const char *regionNames[] = {"cropX", "cropY", "cropWidth", "cropHeight"};
    const QString regionLabels[] = {QStringLiteral("X:"), QStringLiteral("Y:"), tr("宽:"), tr("高:")};
    for (int i = 0; i < 4; ++i) {
        m_region[std::size_t(i)] =
            WholeBox(group, QString::fromLatin1(regionNames[i]), i < 2 ? 0 : 1, kMostPixels);
        auto *label = new QLabel(regionLabels[i], group);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(label, 1 + i / 2, 1 + 2 * (i % 2));
        grid->addWidget(m_region[std::size_t(i)], 1 + i / 2, 2 + 2 * (i % 2));
    }
    // Top, right, bottom, left, as the steps take them.
    const char *marginNames[] = {"marginTop", "marginRight", "marginBottom", "marginLeft"};
    const QString marginLabels[] = {tr("上:"), tr("右:"), tr("下:"), tr("左:")};
    for (int i = 0; i < 4; ++i) {
        Length &m = m_margins[std::size_t(i)];
        m = MakeLength(marginNames[i], 100);
        connect(m.value, &QDoubleSpinBox::valueChanged, this, &CEditStepsDlg::LimitMargins);
        auto *field = new QHBoxLayout;
        field->setSpacing(2);
        field->addWidget(m.value, 1);
        field->addWidget(m.unit);
        auto *label = new QLabel(marginLabels[i], group);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(label, 3 + i / 2, 1 + 2 * (i % 2));
        grid->addLayout(field, 3 + i / 2, 2 + 2 * (i % 2));
    }
    LimitMargins();
    return group;
}

QWidget *CEditStepsDlg::MakeToneGroup()
{
    auto *group = new QGroupBox(tr("色调与颜色"), this);
    auto *form = new QFormLayout;
    m_autoLevels = new QCheckBox(tr("自动色阶"), group);
    m_autoLevels->setObjectName(QStringLiteral("autoLevels"));
    form->addRow(m_autoLevels);
    const char *names[] = {"brightness", "contrast", "saturation"};
    const char *labels[] = {QT_TRANSLATE_NOOP("CEditStepsDlg", "亮度:"),
                            QT_TRANSLATE_NOOP("CEditStepsDlg", "对比度:"),
                            QT_TRANSLATE_NOOP("CEditStepsDlg", "饱和度:")};
    for (std::size_t i = 0; i < 3; ++i) {
        m_levels[i] = WholeBox(group, QString::fromLatin1(names[i]), -100, 100);
        m_sliders[i] = new QSlider(Qt::Horizontal, group);
        m_sliders[i]->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Slider"));
        m_sliders[i]->setRange(-100, 100);
        m_sliders[i]->setPageStep(10);
        connect(m_sliders[i], &QSlider::valueChanged, m_levels[i], &QSpinBox::setValue);
        connect(m_levels[i], &QSpinBox::valueChanged, m_sliders[i], &QSlider::setValue);
        auto *row = new QHBoxLayout;
        row->addWidget(m_sliders[i], 1);
        row->addWidget(m_levels[i]);
        form->addRow(tr(labels[i]), row);
    }
    m_gamma = new QDoubleSpinBox(group);
    m_gamma->setObjectName(QStringLiteral("gamma"));
    CLocale(m_gamma);
    m_gamma->setRange(0.1, 10);
    m_gamma->setDecimals(2);
    m_gamma->setSingleStep(0.1);
    m_gamma->setToolTip(tr("大于 1 时中间调变亮"));
    auto *gamma = new QHBoxLayout;
    gamma->addWidget(m_gamma);
    gamma->addStretch();
    form->addRow(tr("伽马:"), gamma);
    m_grayscale = new QCheckBox(tr("灰度"), group);
    m_grayscale->setObjectName(QStringLiteral("grayscale"));
    m_sepia = new QCheckBox(tr("棕褐色"), group);
    m_sepia->setObjectName(QStringLiteral("sepia"));
    auto *colours = new QHBoxLayout;
    colours->addWidget(m_grayscale);
    colours->addWidget(m_sepia);
    colours->addStretch();
    form->addRow(colours);

    // Before and after, side by side, each in a box of the sample's size.
    auto *samples = new QGridLayout;
    const auto view = [group](const char *name) {
        auto *l = new QLabel(group);
        l->setObjectName(QString::fromLatin1(name));
        l->setFixedSize(kSampleSide, kSampleSide);
        l->setAlignment(Qt::AlignCenter);
        l->setFrameShape(QFrame::StyledPanel);
        return l;
    };
    m_beforeView = view("before");
    m_afterView = view("after");
    samples->addWidget(new QLabel(tr("之前"), group), 0, 0, Qt::AlignHCenter);
    samples->addWidget(new QLabel(tr("之后"), group), 0, 1, Qt::AlignHCenter);
    samples->addWidget(m_beforeView, 1, 0);
    samples->addWidget(m_afterView, 1, 1);

    auto *layout = new QVBoxLayout(group);
    layout->addLayout(form);
    layout->addLayout(samples);
    layout->addStretch();
    return group;
}

QWidget *CEditStepsDlg::MakeBorderGroup()
{
    auto *group = new QGroupBox(tr("边框"), this);
    m_border = MakeLength("border", kMostBorderPercent);
    m_border.value->setToolTip(tr("像素,或较短边的百分比(最多 50%)"));
    auto *width = new QHBoxLayout;
    width->setSpacing(2);
    width->addWidget(m_border.value);
    width->addWidget(m_border.unit);
    width->addStretch();
    m_borderColour = new CColourPicker(group);
    m_borderColour->setObjectName(QStringLiteral("borderColour"));
    m_borderColour->SetDefaultText(QString());
    m_borderColour->SetCustomText(tr("其他颜色..."));
    m_borderInside = new QCheckBox(tr("包含在尺寸内"), group);
    m_borderInside->setObjectName(QStringLiteral("borderInside"));
    m_borderInside->setToolTip(tr("缩小图像,使调整大小设定的尺寸包含边框(按百分比调整时不可用)"));
    auto *form = new QFormLayout(group);
    form->addRow(tr("宽度:"), width);
    form->addRow(tr("颜色:"), m_borderColour);
    form->addRow(m_borderInside);
    return group;
}

void CEditStepsDlg::SetValues(const Edits &e)
{
    m_cropWay->button(e.crop ? 1 : e.margins ? 2 : 0)->setChecked(true);
    const EditRegion region = e.crop.value_or(EditRegion{0, 0, 1, 1});
    const std::int64_t r[] = {region.x, region.y, region.width, region.height};
    for (std::size_t i = 0; i < 4; ++i)
        m_region[i]->setValue(int(std::min<std::int64_t>(r[i], kMostPixels)));
    // Zeros first, so no margin is held down by its opposite's old value.
    for (const Length &m : m_margins)
        SetLength(m, {});
    const std::array<EditLength, 4> margins = e.margins.value_or(std::array<EditLength, 4>{});
    for (std::size_t i = 0; i < 4; ++i)
        SetLength(m_margins[i], margins[i]);
    m_trim->setChecked(e.trim);
    m_trimFuzz->setValue(e.trimFuzz);
    m_flip->setCurrentIndex(std::clamp(e.flip, 0, 3));
    m_autoLevels->setChecked(e.tone.autoLevels);
    m_levels[0]->setValue(e.tone.brightness);
    m_levels[1]->setValue(e.tone.contrast);
    m_levels[2]->setValue(e.tone.saturation);
    m_gamma->setValue(e.tone.gamma);
    m_grayscale->setChecked(e.tone.grayscale);
    m_sepia->setChecked(e.tone.sepia);
    SetLength(m_border, e.border);
    m_borderColour->SetColour(e.borderColor);
    m_borderInside->setChecked(e.borderInside);
    Refresh();
    DrawSample();
}

Edits CEditStepsDlg::Values() const
{
    Edits e;
    if (m_cropWay->checkedId() == 1)
        e.crop = EditRegion{m_region[0]->value(), m_region[1]->value(), m_region[2]->value(),
                            m_region[3]->value()};
    if (m_cropWay->checkedId() == 2) {
        std::array<EditLength, 4> margins;
        for (std::size_t i = 0; i < 4; ++i)
            margins[i] = LengthOf(m_margins[i]);
        e.margins = margins;
    }
    e.trim = m_trim->isChecked();
    if (e.trim)
        e.trimFuzz = m_trimFuzz->value();
    e.flip = m_flip->currentIndex();
    e.tone.autoLevels = m_autoLevels->isChecked();
    e.tone.brightness = m_levels[0]->value();
    e.tone.contrast = m_levels[1]->value();
    e.tone.saturation = m_levels[2]->value();
    e.tone.gamma = m_gamma->value();
    e.tone.grayscale = m_grayscale->isChecked();
    e.tone.sepia = m_sepia->isChecked();
    e.border = LengthOf(m_border);
    if (e.HasBorder()) {
        e.borderColor = m_borderColour->GetColour();
        e.borderInside = m_borderInside->isChecked();
    } else {
        e.border = {};
    }
    return e;
}

void CEditStepsDlg::Refresh()
{
    const int way = m_cropWay->checkedId();
    for (QSpinBox *box : m_region)
        box->setEnabled(way == 1);
    for (const Length &m : m_margins) {
        m.value->setEnabled(way == 2);
        m.unit->setEnabled(way == 2);
    }
    m_trimFuzz->setEnabled(m_trim->isChecked());
    const bool border = m_border.value->value() > 0;
    m_borderColour->setEnabled(border);
    // The run leaves it out where the resize sets no size (see MakeConvertJob).
    m_borderInside->setEnabled(border && m_holdsBorder);
}

void CEditStepsDlg::LoadSample(const QString &path)
{
    if (path.isEmpty())
        return;
    // Decoded small: a codec that can decodes at a reduced scale.
    CxDecodeRequest request;
    request.hintWidth = request.hintHeight = kSampleSide;
    CxImage picture;
    if (!picture.Load(QFile::encodeName(path).constData(), CXIMAGE_FORMAT_UNKNOWN, request) ||
        !picture.IsValid())
        return;
    const double w = double(picture.GetWidth()), h = double(picture.GetHeight());
    // A small picture is enlarged: the sample fills its box either way.
    const double scale = kSampleSide / std::max(w, h);
    const long sw = std::max(1L, std::lround(w * scale)), sh = std::max(1L, std::lround(h * scale));
    if ((sw != long(w) || sh != long(h)) && !picture.Resample(sw, sh))
        return;
    m_before = picture.ToQImage();
}

QImage CEditStepsDlg::SampleAfter() const
{
    if (m_before.isNull())
        return {};
    CxImage sample;
    if (!sample.FromQImage(m_before))
        return {};
    cxadjust::ApplyTone(sample, Values().tone);
    return sample.ToQImage();
}

void CEditStepsDlg::DrawSample()
{
    if (m_before.isNull()) {
        const QString none = tr("未选择图像");
        m_beforeView->setText(none);
        m_afterView->setText(none);
        return;
    }
    m_beforeView->setPixmap(QPixmap::fromImage(m_before));
    m_afterView->setPixmap(QPixmap::fromImage(SampleAfter()));
}

bool CEditStepsDlg::Run(QWidget *parent, Edits &edits, bool holdsBorder, const QString &samplePath)
{
    CEditStepsDlg dlg(edits, holdsBorder, samplePath, parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    // What the dialog does not show is kept.
    const bool follows = edits.cropRatioFollows;
    edits = dlg.Values();
    edits.cropRatioFollows = follows;
    return true;
}

QString CEditStepsDlg::Summary(const Edits &e)
{
    QStringList steps;
    if (e.Cuts())
        steps << tr("裁剪");
    if (e.trim)
        steps << tr("修剪边框");
    if (e.flip != FLIP_NONE)
        steps << tr("翻转");
    if (e.tone.Any())
        steps << tr("色调与颜色");
    if (e.HasBorder())
        steps << tr("边框");
    return steps.isEmpty() ? QString() : tr("编辑: %1").arg(steps.join(tr("、")));
}
