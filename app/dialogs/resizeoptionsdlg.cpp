#include "app/dialogs/resizeoptionsdlg.h"

#include "controls/colourpicker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

const char *const CResizeOptionsDlg::kGravityNames[9] = {"左上", "上", "右上", "左", "居中",
                                                         "右",   "左下", "下", "右下"};

namespace {

QSpinBox *NumberBox(QWidget *parent, const char *name, int most, int value, const char *suffix)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(1, most);
    box->setValue(std::clamp(value, 1, most));
    if (suffix)
        box->setSuffix(QString::fromUtf8(suffix));
    return box;
}

} // namespace

CResizeOptionsDlg::CResizeOptionsDlg(const ResizeChoices &c, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ResizeOptions"));
    setWindowTitle(QString::fromUtf8("调整大小选项"));

    m_edge = NumberBox(this, "edge", kMaxEdge, c.edge, " 像素");
    m_percent = NumberBox(this, "percent", kMaxPercent, c.percent, " %");
    m_gravity = new QComboBox(this);
    m_gravity->setObjectName(QStringLiteral("gravity"));
    for (const char *name : kGravityNames)
        m_gravity->addItem(QString::fromUtf8(name));
    m_gravity->setCurrentIndex(c.gravity >= 0 && c.gravity < 9 ? c.gravity : 4);
    m_background = new CColourPicker(this);
    m_background->setObjectName(QStringLiteral("background"));
    m_background->SetColour(c.background);
    m_background->SetDefaultText(QString());
    m_background->SetCustomText(QString::fromUtf8("其他颜色..."));

    m_crop = new QCheckBox(QString::fromUtf8("先裁剪到比例:"), this);
    m_crop->setObjectName(QStringLiteral("cropRatio"));
    m_crop->setChecked(c.cropRatio);
    m_ratioW = NumberBox(this, "ratioWidth", kMaxRatio, c.ratioWidth, nullptr);
    m_ratioH = NumberBox(this, "ratioHeight", kMaxRatio, c.ratioHeight, nullptr);
    auto *ratio = new QHBoxLayout;
    ratio->addWidget(m_ratioW);
    ratio->addWidget(new QLabel(QStringLiteral(":"), this));
    ratio->addWidget(m_ratioH);
    ratio->addStretch();
    const auto enableRatio = [this](bool on) {
        m_ratioW->setEnabled(on);
        m_ratioH->setEnabled(on);
    };
    enableRatio(c.cropRatio);
    connect(m_crop, &QCheckBox::toggled, this, enableRatio);

    auto *form = new QFormLayout;
    form->addRow(QString::fromUtf8("长边或短边:"), m_edge);
    form->addRow(QString::fromUtf8("百分比:"), m_percent);
    form->addRow(QString::fromUtf8("裁剪和补边的位置:"), m_gravity);
    form->addRow(QString::fromUtf8("补边颜色:"), m_background);
    form->addRow(m_crop, ratio);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QString::fromUtf8("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    buttons->addButton(QString::fromUtf8("取消"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
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
    return c;
}

bool CResizeOptionsDlg::Run(QWidget *parent, ResizeChoices &choices)
{
    CResizeOptionsDlg dlg(choices, parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    choices = dlg.Choices();
    return true;
}
