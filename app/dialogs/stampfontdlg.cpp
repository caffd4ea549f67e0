#include "app/dialogs/stampfontdlg.h"

#include "app/dialogs/appresources.h"
#include "imaging/cxtext.h"
#include "resources/ids_app.h"
#include "settings/settingsstore.h"
#include "app/dialogs/stampfontsample.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kMaxPixels = 1000;
constexpr int kBoldFrom = 600; // weights from here on show as bold

int PixelSizeOf(const LOGFONT &lf)
{
    const int size = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    return size == 0 ? -settingsdefault::kFontHeight : std::min(size, kMaxPixels);
}

QCheckBox *Check(const QString &text, int id, bool on, QWidget *parent)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(QString::number(id));
    box->setChecked(on);
    return box;
}

// A flag keeps its stored byte unless the box was changed.
BYTE FlagFrom(const QCheckBox *box, BYTE initial)
{
    return box->isChecked() == (initial != 0) ? initial : BYTE(box->isChecked() ? 1 : 0);
}

} // namespace

CStampFontDlg::CStampFontDlg(const LOGFONT &lf, COLORREF colour, QWidget *parent)
    : QDialog(parent), m_initial(lf), m_colour(colour & 0xFFFFFF), m_initialSize(PixelSizeOf(lf))
{
    setWindowTitle(tr("字体"));
    setWindowIcon(LoadAppIcon());

    m_face = new QFontComboBox(this);
    m_face->setObjectName(QString::number(appid::IDC_FONT_FACE));
    m_face->setCurrentFont(FontFromLogFont(lf));
    m_face->setMinimumWidth(240);

    m_size = new QSpinBox(this);
    m_size->setObjectName(QString::number(appid::IDC_FONT_SIZE));
    m_size->setRange(1, kMaxPixels);
    m_size->setValue(m_initialSize);
    m_size->setSuffix(tr(" 像素"));

    m_bold = Check(tr("粗体"), appid::IDC_FONT_BOLD, lf.lfWeight >= kBoldFrom, this);
    m_italic = Check(tr("斜体"), appid::IDC_FONT_ITALIC, lf.lfItalic != 0, this);
    m_underline = Check(tr("下划线"), appid::IDC_FONT_UNDERLINE, lf.lfUnderline != 0, this);
    m_strikeOut = Check(tr("删除线"), appid::IDC_FONT_STRIKEOUT, lf.lfStrikeOut != 0, this);

    m_colourButton = new QPushButton(tr("颜色..."), this);
    m_colourButton->setObjectName(QString::number(appid::IDC_FONT_COLOUR));
    m_colourButton->setAutoDefault(false);
    connect(m_colourButton, &QPushButton::clicked, this, &CStampFontDlg::OnColour);

    m_sample = new CStampFontSample(this);
    m_sample->setObjectName(QString::number(appid::IDC_FONT_SAMPLE));

    auto *style = new QHBoxLayout;
    style->addWidget(m_bold);
    style->addWidget(m_italic);
    style->addStretch(1);

    auto *form = new QFormLayout;
    form->addRow(tr("字体:"), m_face);
    form->addRow(tr("大小:"), m_size);
    form->addRow(tr("字形:"), style);

    auto *effects = new QGroupBox(tr("效果"), this);
    auto *effectsRow = new QHBoxLayout(effects);
    effectsRow->addWidget(m_underline);
    effectsRow->addWidget(m_strikeOut);
    effectsRow->addStretch(1);
    effectsRow->addWidget(new QLabel(tr("颜色:"), effects));
    effectsRow->addWidget(m_colourButton);

    auto *sampleGroup = new QGroupBox(tr("示例"), this);
    auto *sampleLayout = new QVBoxLayout(sampleGroup);
    sampleLayout->addWidget(m_sample);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    QPushButton *cancel = buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(effects);
    layout->addWidget(sampleGroup);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Connected after the preset, so only the user's choices count as changes.
    connect(m_face, &QFontComboBox::currentFontChanged, this, [this] {
        m_faceChanged = true;
        UpdateSample();
    });
    connect(m_size, &QSpinBox::valueChanged, this, &CStampFontDlg::UpdateSample);
    for (QCheckBox *box : {m_bold, m_italic, m_underline, m_strikeOut})
        connect(box, &QCheckBox::toggled, this, &CStampFontDlg::UpdateSample);
    UpdateColourButton();
    UpdateSample();
}

LOGFONT CStampFontDlg::GetLogFont() const
{
    LOGFONT lf = m_initial;
    if (m_faceChanged)
        lf.SetFaceName(m_face->currentFont().family().toUtf8().constData());
    if (m_size->value() != m_initialSize)
        lf.lfHeight = -m_size->value();
    if (m_bold->isChecked() != (m_initial.lfWeight >= kBoldFrom))
        lf.lfWeight = m_bold->isChecked() ? 700 : 400;
    lf.lfItalic = FlagFrom(m_italic, m_initial.lfItalic);
    lf.lfUnderline = FlagFrom(m_underline, m_initial.lfUnderline);
    lf.lfStrikeOut = FlagFrom(m_strikeOut, m_initial.lfStrikeOut);
    return lf;
}

void CStampFontDlg::OnColour()
{
    QColorDialog picker(QColor(GetRValue(m_colour), GetGValue(m_colour), GetBValue(m_colour)), this);
    picker.setWindowTitle(tr("颜色"));
    picker.setOption(QColorDialog::DontUseNativeDialog);
    if (picker.exec() != QDialog::Accepted)
        return;
    const QColor chosen = picker.selectedColor();
    if (!chosen.isValid())
        return;
    m_colour = RGB(chosen.red(), chosen.green(), chosen.blue());
    UpdateColourButton();
    UpdateSample();
}

void CStampFontDlg::UpdateColourButton()
{
    QPixmap swatch(24, 14);
    swatch.fill(QColor(GetRValue(m_colour), GetGValue(m_colour), GetBValue(m_colour)));
    QPainter p(&swatch);
    p.setPen(Qt::gray);
    p.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    p.end();
    m_colourButton->setIcon(QIcon(swatch));
    m_colourButton->setIconSize(swatch.size());
}

void CStampFontDlg::UpdateSample()
{
    m_sample->SetFont(GetLogFont(), m_colour);
}

bool CStampFontDlg::Run(QWidget *parent, LOGFONT &lf, COLORREF &colour)
{
    CStampFontDlg dlg(lf, colour, parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    lf = dlg.GetLogFont();
    colour = dlg.GetColour();
    WriteStampFontAndColour(lf, colour);
    return true;
}
