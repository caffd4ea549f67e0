#include "app/dialogs/metadatatagsdlg.h"

#include "app/dialogs/dialogbuttons.h"
#include "convert/metadataedits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr cxmeta::Tag kTextTags[4] = {cxmeta::Tag::Artist, cxmeta::Tag::Copyright, cxmeta::Tag::Caption,
                                      cxmeta::Tag::Keywords};

QString ValueOf(const cxmeta::TagEdits &edits, cxmeta::Tag tag)
{
    QString value;
    for (const cxmeta::TagValue &v : edits.values)
        if (v.tag == tag)
            value = QString::fromStdString(v.value);
    return value;
}

} // namespace

CMetadataTagsDlg::CMetadataTagsDlg(const cxmeta::TagEdits &edits, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MetadataTags"));
    setWindowTitle(tr("写入元数据"));
    static const char *const kLabels[4] = {QT_TR_NOOP("作者:"), QT_TR_NOOP("版权:"), QT_TR_NOOP("说明:"),
                                           QT_TR_NOOP("关键字:")};
    auto *form = new QFormLayout;
    for (int i = 0; i < 4; ++i) {
        m_text[i] = new QLineEdit(ValueOf(edits, kTextTags[i]), this);
        m_text[i]->setObjectName(QString::fromLatin1(TagName(kTextTags[i])));
        // Room for the longest hint in either language, and for a sentence or so.
        const QFontMetrics metrics = m_text[i]->fontMetrics();
        m_text[i]->setMinimumWidth(std::max(metrics.averageCharWidth() * 36,
                                            metrics.horizontalAdvance(tr("用逗号或分号分隔")) + metrics.averageCharWidth() * 4));
        form->addRow(tr(kLabels[i]), m_text[i]);
    }
    m_text[0]->setPlaceholderText(tr("空白则不写入"));
    m_text[1]->setPlaceholderText(QStringLiteral("© {date:%Y} ..."));
    m_text[3]->setPlaceholderText(tr("用逗号或分号分隔"));
    m_text[1]->setToolTip(tr("{name}、{n}、{date} 和 {folder} 会换成每个文件的名称、序号、日期和文件夹"));
    m_rating = new QComboBox(this);
    m_rating->setObjectName(QStringLiteral("Rating"));
    m_rating->addItem(tr("不写入"));
    for (int stars = 0; stars <= 5; ++stars)
        m_rating->addItem(QString::number(stars));
    const QString rating = ValueOf(edits, cxmeta::Tag::Rating);
    m_rating->setCurrentIndex(rating.isEmpty() ? 0 : rating.toInt() + 1);
    form->addRow(tr("评级:"), m_rating);
    m_ifEmpty = new QCheckBox(tr("仅写入图像缺少的标签"), this);
    m_ifEmpty->setObjectName(QStringLiteral("ifEmpty"));
    m_ifEmpty->setChecked(edits.ifEmpty);
    form->addRow(QString(), m_ifEmpty);
    m_shift = new QLineEdit(QString::fromStdString(DateShiftText(edits.shiftSeconds)), this);
    m_shift->setObjectName(QStringLiteral("shift"));
    m_shift->setPlaceholderText(QStringLiteral("+1h30m, -2d"));
    m_shift->setToolTip(tr("拍摄日期前移或后移:d 天、h 小时、m 分钟、s 秒"));
    form->addRow(tr("调整拍摄日期:"), m_shift);

    QDialogButtonBox *buttons = OkCancelButtons(this, false);
    connect(buttons, &QDialogButtonBox::accepted, this, &CMetadataTagsDlg::Accept);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

cxmeta::TagEdits CMetadataTagsDlg::Edits() const
{
    cxmeta::TagEdits edits;
    for (int i = 0; i < 4; ++i)
        if (const QString text = m_text[i]->text().trimmed(); !text.isEmpty())
            edits.values.push_back({kTextTags[i], text.toStdString()});
    if (m_rating->currentIndex() > 0)
        edits.values.push_back({cxmeta::Tag::Rating, std::to_string(m_rating->currentIndex() - 1)});
    edits.ifEmpty = m_ifEmpty->isChecked() && !edits.values.empty();
    ParseDateShift(m_shift->text().trimmed().toStdString(), edits.shiftSeconds);
    return edits;
}

void CMetadataTagsDlg::Accept()
{
    for (int i = 0; i < 4; ++i) {
        const std::string problem = TagValueProblem(kTextTags[i], m_text[i]->text().trimmed().toStdString());
        if (!problem.empty()) {
            QMessageBox::information(this, windowTitle(), QString::fromStdString(problem));
            m_text[i]->setFocus();
            return;
        }
    }
    std::int64_t seconds = 0;
    const std::string shift = m_shift->text().trimmed().toStdString();
    if (!shift.empty()) {
        if (const std::string problem = ParseDateShift(shift, seconds); !problem.empty()) {
            QMessageBox::information(this, windowTitle(), QString::fromStdString(problem));
            m_shift->setFocus();
            return;
        }
    }
    accept();
}

bool CMetadataTagsDlg::Run(QWidget *parent, cxmeta::TagEdits &edits)
{
    CMetadataTagsDlg dlg(edits, parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    edits = dlg.Edits();
    return true;
}
