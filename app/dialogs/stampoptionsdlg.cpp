#include "app/dialogs/stampoptionsdlg.h"

#include "app/dialogs/dialogbuttons.h"
#include "app/dialogs/resizeoptionsdlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kSampleWidth = 360;
constexpr int kSampleHeight = 240;
constexpr int kSampleDelayMs = 150; // a burst of changes draws the sample once

QSpinBox *NumberBox(QWidget *parent, const char *name, int least, int most, int value, const char *suffix)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(least, most);
    box->setValue(std::clamp(value, least, most));
    if (suffix)
        box->setSuffix(QCoreApplication::translate("CStampOptionsDlg", suffix));
    return box;
}

} // namespace

CStampOptionsDlg::CStampOptionsDlg(const StampChoices &c, Sample sample, QWidget *parent)
    : QDialog(parent), m_sample(std::move(sample))
{
    setObjectName(QStringLiteral("StampOptions"));
    setWindowTitle(tr("水印选项"));

    m_position = new QComboBox(this);
    m_position->setObjectName(QStringLiteral("position"));
    for (const char *name : CResizeOptionsDlg::kGravityNames)
        m_position->addItem(QCoreApplication::translate("CResizeOptionsDlg", name));
    m_position->setCurrentIndex(c.position >= 0 && c.position < 9 ? c.position : 8);
    m_margin = NumberBox(this, "margin", 0, kMaxMargin, c.margin, QT_TRANSLATE_NOOP("CStampOptionsDlg", " 像素"));
    m_opacity = NumberBox(this, "opacity", 0, 100, c.opacity, " %");
    m_sizeOn = new QCheckBox(tr("文字高度占图像高度:"), this);
    m_sizeOn->setObjectName(QStringLiteral("sizeOn"));
    m_sizeOn->setChecked(c.sizeOn);
    m_size = NumberBox(this, "size", 1, 100, c.sizePercent, " %");
    m_size->setEnabled(c.sizeOn);
    m_shadow = new QCheckBox(tr("文字阴影"), this);
    m_shadow->setObjectName(QStringLiteral("shadow"));
    m_shadow->setChecked(c.shadow);
    m_logo = new QLineEdit(c.logoPath, this);
    m_logo->setObjectName(QStringLiteral("logo"));
    m_logo->setPlaceholderText(tr("(无)"));
    m_logo->setMinimumWidth(220);
    auto *browse = new QPushButton(tr("浏览..."), this);
    browse->setObjectName(QStringLiteral("browseLogo"));
    auto *logoRow = new QHBoxLayout;
    logoRow->addWidget(m_logo, 1);
    logoRow->addWidget(browse);
    m_logoSize = NumberBox(this, "logoSize", 1, 100, c.logoSize, QT_TRANSLATE_NOOP("CStampOptionsDlg", " % 图像宽度"));

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("sample"));
    m_picture->setFixedSize(kSampleWidth, kSampleHeight);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setFrameShape(QFrame::StyledPanel);

    auto *form = new QFormLayout;
    form->addRow(tr("位置:"), m_position);
    form->addRow(tr("边距:"), m_margin);
    form->addRow(tr("不透明度:"), m_opacity);
    form->addRow(m_sizeOn, m_size);
    form->addRow(QString(), m_shadow);
    form->addRow(tr("图片水印:"), logoRow);
    form->addRow(tr("图片大小:"), m_logoSize);

    QDialogButtonBox *buttons = OkCancelButtons(this);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(kSampleDelayMs);
    connect(m_timer, &QTimer::timeout, this, &CStampOptionsDlg::ShowSample);
    connect(m_sizeOn, &QCheckBox::toggled, m_size, &QWidget::setEnabled);
    connect(browse, &QPushButton::clicked, this, &CStampOptionsDlg::OnBrowseLogo);
    connect(m_position, &QComboBox::currentIndexChanged, this, &CStampOptionsDlg::ScheduleSample);
    connect(m_logo, &QLineEdit::textChanged, this, &CStampOptionsDlg::ScheduleSample);
    for (QSpinBox *box : {m_margin, m_opacity, m_size, m_logoSize})
        connect(box, &QSpinBox::valueChanged, this, &CStampOptionsDlg::ScheduleSample);
    for (QCheckBox *box : {m_sizeOn, m_shadow})
        connect(box, &QCheckBox::toggled, this, &CStampOptionsDlg::ScheduleSample);
    ShowSample();
}

StampChoices CStampOptionsDlg::Choices() const
{
    StampChoices c;
    c.position = m_position->currentIndex();
    c.margin = m_margin->value();
    c.opacity = m_opacity->value();
    c.sizeOn = m_sizeOn->isChecked();
    c.sizePercent = m_size->value();
    c.shadow = m_shadow->isChecked();
    c.logoPath = m_logo->text().trimmed();
    c.logoSize = m_logoSize->value();
    return c;
}

void CStampOptionsDlg::OnBrowseLogo()
{
    QFileDialog picker(this, tr("选择水印图片"), m_logo->text());
    picker.setOption(QFileDialog::DontUseNativeDialog);
    picker.setFileMode(QFileDialog::ExistingFile);
    picker.setNameFilters({tr("图像 (*.png *.webp *.jpg *.jpeg *.gif *.bmp *.tif *.tiff *.avif *.jxl)"),
                           tr("所有文件 (*)")});
    if (picker.exec() == QDialog::Accepted && !picker.selectedFiles().isEmpty())
        m_logo->setText(picker.selectedFiles().first());
}

void CStampOptionsDlg::ScheduleSample()
{
    m_timer->start();
}

void CStampOptionsDlg::ShowSample()
{
    const QImage out = m_sample ? m_sample(Choices()) : QImage();
    if (out.isNull()) {
        m_picture->setPixmap({});
        m_picture->setText(tr("(没有选定的图像)"));
        return;
    }
    m_picture->setPixmap(QPixmap::fromImage(
        out.scaled(m_picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

bool CStampOptionsDlg::Run(QWidget *parent, StampChoices &choices, Sample sample)
{
    CStampOptionsDlg dlg(choices, std::move(sample), parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    choices = dlg.Choices();
    return true;
}
