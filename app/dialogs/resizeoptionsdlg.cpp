#include "app/dialogs/resizeoptionsdlg.h"

#include "app/dialogs/dialogbuttons.h"
#include "controls/colourpicker.h"
#include "convert/convertjob.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>

const char *const CResizeOptionsDlg::kGravityNames[9] = {
    QT_TRANSLATE_NOOP("CResizeOptionsDlg", "左上"), QT_TRANSLATE_NOOP("CResizeOptionsDlg", "上"),
    QT_TRANSLATE_NOOP("CResizeOptionsDlg", "右上"), QT_TRANSLATE_NOOP("CResizeOptionsDlg", "左"),
    QT_TRANSLATE_NOOP("CResizeOptionsDlg", "居中"), QT_TRANSLATE_NOOP("CResizeOptionsDlg", "右"),
    QT_TRANSLATE_NOOP("CResizeOptionsDlg", "左下"), QT_TRANSLATE_NOOP("CResizeOptionsDlg", "下"),
    QT_TRANSLATE_NOOP("CResizeOptionsDlg", "右下")};

const char *const CResizeOptionsDlg::kContentGravityNames[2] = {
    QT_TRANSLATE_NOOP("CResizeOptionsDlg", "主体（注意力）"),
    QT_TRANSLATE_NOOP("CResizeOptionsDlg", "细节最多（信息熵）")};

namespace {

QSpinBox *NumberBox(QWidget *parent, const char *name, int most, int value, const char *suffix)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(1, most);
    box->setValue(std::clamp(value, 1, most));
    if (suffix)
        box->setSuffix(QCoreApplication::translate("CResizeOptionsDlg", suffix));
    return box;
}

// A field and the label of its row.
void EnableRow(QFormLayout *form, QWidget *field, bool on)
{
    field->setEnabled(on);
    if (QWidget *label = form->labelForField(field))
        label->setEnabled(on);
}

} // namespace

unsigned ResizeFieldsFor(int rule, bool cropRatio)
{
    unsigned fields = cropRatio ? kFieldRatio | kFieldGravity : 0;
    switch (rule) {
    case RESIZE_LONG_EDGE:
    case RESIZE_SHORT_EDGE:
        fields |= kFieldEdge;
        break;
    case RESIZE_PERCENT:
        fields |= kFieldPercent;
        break;
    case RESIZE_FILL:
        fields |= kFieldGravity;
        break;
    case RESIZE_PAD:
        fields |= kFieldGravity | kFieldBackground;
        break;
    case RESIZE_SIZES:
        fields |= kFieldSizes;
        break;
    default:
        break;
    }
    return fields;
}

CResizeOptionsDlg::CResizeOptionsDlg(const ResizeChoices &c, int rule, QWidget *parent)
    : QDialog(parent), m_rule(rule)
{
    setObjectName(QStringLiteral("ResizeOptions"));
    setWindowTitle(tr("调整大小选项"));

    m_edge = NumberBox(this, "edge", kMaxEdge, c.edge, QT_TRANSLATE_NOOP("CResizeOptionsDlg", " 像素"));
    m_percent = NumberBox(this, "percent", kMaxPercent, c.percent, " %");
    m_gravity = new QComboBox(this);
    m_gravity->setObjectName(QStringLiteral("gravity"));
    for (const char *name : kGravityNames)
        m_gravity->addItem(tr(name));
    for (const char *name : kContentGravityNames)
        m_gravity->addItem(tr(name));
    m_gravity->setItemData(GRAVITY_ATTENTION, tr("按画面保留边缘、色彩和肤色最多的部分（补边时不可用）"),
                           Qt::ToolTipRole);
    m_gravity->setItemData(GRAVITY_ENTROPY, tr("按画面保留信息量最多的部分（补边时不可用）"),
                           Qt::ToolTipRole);
    m_gravity->setCurrentIndex(c.gravity >= 0 && c.gravity < m_gravity->count() ? c.gravity : GRAVITY_CENTER);
    m_background = new CColourPicker(this);
    m_background->setObjectName(QStringLiteral("background"));
    m_background->SetColour(c.background);
    m_background->SetDefaultText(QString());
    m_background->SetCustomText(tr("其他颜色..."));

    m_sizes = new QLineEdit(c.sizes, this);
    m_sizes->setObjectName(QStringLiteral("sizes"));
    m_sizes->setMaxLength(kMaxSizesChars);
    m_sizes->setPlaceholderText(QStringLiteral("320w,768w,1024w"));
    // Room for a usual list of four or five sizes, in either language.
    m_sizes->setMinimumWidth(m_sizes->fontMetrics().horizontalAdvance(QStringLiteral("320w,768w,1024w,2048w,4000w")) +
                             2 * m_sizes->fontMetrics().averageCharWidth());
    m_sizes->setToolTip(tr("用逗号分隔,最多 16 个:Nw 宽度、Nh 高度、N 长边、WxH 限制在 W×H 内"));

    m_crop = new QCheckBox(tr("先裁剪到比例:"), this);
    m_crop->setObjectName(QStringLiteral("cropRatio"));
    m_crop->setChecked(c.cropRatio);
    m_ratioW = NumberBox(this, "ratioWidth", kMaxRatio, c.ratioWidth, nullptr);
    m_ratioH = NumberBox(this, "ratioHeight", kMaxRatio, c.ratioHeight, nullptr);
    auto *ratio = new QHBoxLayout;
    ratio->addWidget(m_ratioW);
    ratio->addWidget(new QLabel(QStringLiteral(":"), this));
    ratio->addWidget(m_ratioH);
    m_ratioFollows = new QCheckBox(tr("随方向旋转比例"), this);
    m_ratioFollows->setObjectName(QStringLiteral("ratioFollows"));
    m_ratioFollows->setToolTip(tr("竖幅图像使用转过来的比例(4:3 成为 3:4)"));
    m_ratioFollows->setChecked(c.ratioFollows);
    ratio->addWidget(m_ratioFollows);
    ratio->addStretch();
    connect(m_crop, &QCheckBox::toggled, this, &CResizeOptionsDlg::Refresh);

    m_form = new QFormLayout;
    QFormLayout *form = m_form;
    form->addRow(tr("长边或短边:"), m_edge);
    form->addRow(tr("百分比:"), m_percent);
    form->addRow(tr("裁剪和补边的位置:"), m_gravity);
    form->addRow(tr("补边颜色:"), m_background);
    form->addRow(tr("多个尺寸:"), m_sizes);
    form->addRow(m_crop, ratio);

    QDialogButtonBox *buttons = OkCancelButtons(this);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Refresh();
}

void CResizeOptionsDlg::SetRule(int rule)
{
    m_rule = rule;
    Refresh();
}

void CResizeOptionsDlg::Refresh()
{
    const unsigned fields = ResizeFieldsFor(m_rule, m_crop->isChecked());
    EnableRow(m_form, m_edge, fields & kFieldEdge);
    EnableRow(m_form, m_percent, fields & kFieldPercent);
    EnableRow(m_form, m_gravity, fields & kFieldGravity);
    // Pad places the whole picture: the gravities that look for a part are
    // not offered, and one chosen before becomes the centre, as a run takes it.
    const bool pad = m_rule == RESIZE_PAD;
    if (auto *model = qobject_cast<QStandardItemModel *>(m_gravity->model()))
        for (int g : {GRAVITY_ATTENTION, GRAVITY_ENTROPY})
            if (QStandardItem *item = model->item(g))
                item->setEnabled(!pad);
    if (pad && IsContentGravity(m_gravity->currentIndex()))
        m_gravity->setCurrentIndex(GRAVITY_CENTER);
    EnableRow(m_form, m_background, fields & kFieldBackground);
    EnableRow(m_form, m_sizes, fields & kFieldSizes);
    m_ratioW->setEnabled(fields & kFieldRatio);
    m_ratioH->setEnabled(fields & kFieldRatio);
    m_ratioFollows->setEnabled(fields & kFieldRatio);
}

ResizeChoices CResizeOptionsDlg::Choices() const
{
    ResizeChoices c;
    c.edge = m_edge->value();
    c.percent = m_percent->value();
    c.gravity = m_gravity->currentIndex();
    c.background = m_background->GetColour();
    c.cropRatio = m_crop->isChecked();
    c.ratioWidth = m_ratioW->value();
    c.ratioHeight = m_ratioH->value();
    c.ratioFollows = m_ratioFollows->isChecked();
    c.sizes = m_sizes->text().trimmed();
    return c;
}

bool CResizeOptionsDlg::Run(QWidget *parent, ResizeChoices &choices, int rule)
{
    CResizeOptionsDlg dlg(choices, rule, parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    choices = dlg.Choices();
    return true;
}
