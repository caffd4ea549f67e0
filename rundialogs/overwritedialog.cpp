#include "rundialogs/overwritedialog.h"

#include "rundialogs/dialogunits.h"
#include "resources/ids_progress.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTextBoundaryFinder>

namespace {

using namespace progressid;

// A path has no spaces to wrap at: allow a break between any two
// characters of the quoted part so a long one wraps instead of being cut.
QString DisplayText(const QString &message)
{
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const qsizetype open = text.indexOf(QLatin1Char('"'));
    const qsizetype close = text.lastIndexOf(QLatin1Char('"'));
    if (open < 0 || close <= open + 1)
        return text;
    const QString quoted = text.mid(open + 1, close - open - 1);
    QString wrapped;
    wrapped.reserve(quoted.size() * 2);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, quoted);
    qsizetype from = 0;
    while (graphemes.toNextBoundary() > 0) {
        const qsizetype to = graphemes.position();
        if (from > 0)
            wrapped += QChar(0x200B);
        wrapped += quoted.mid(from, to - from);
        from = to;
    }
    return text.left(open + 1) + wrapped + text.mid(close);
}

QPushButton *MakeButton(QWidget *parent, int id, const char *text, QRect rect)
{
    auto *button = new QPushButton(QCoreApplication::translate("COverwriteDialog", text), parent);
    button->setObjectName(QString::number(id));
    button->setGeometry(rect);
    return button;
}

// The four answers side by side under the message, 60 units apart; the
// dialog is as wide as they need.
QRect ButtonRect(int column)
{
    return dlgunits::Rect(55 + 60 * column, 75, 56, 16);
}

const QRect kMessageBox = dlgunits::Rect(54, 11, 237, 44);
const QSize kDialogSize = dlgunits::Size(299, 96);

} // namespace

COverwriteDialog::COverwriteDialog(QWidget *parent) : QDialog(parent)
{
    using dlgunits::Rect;
    setObjectName(QString::number(IDD_OVERWRITE));
    setWindowTitle(QStringLiteral("Velmora"));
    setModal(true);

    // Created in tab order.
    m_btnAutoRename =
        MakeButton(this, IDC_AUTO_RENAME, QT_TRANSLATE_NOOP("COverwriteDialog", "自动重命名"), ButtonRect(0));
    m_btnOverwrite =
        MakeButton(this, IDC_OVERWRITE, QT_TRANSLATE_NOOP("COverwriteDialog", "覆盖"), ButtonRect(1));
    m_btnSkip = MakeButton(this, IDC_SKIP, QT_TRANSLATE_NOOP("COverwriteDialog", "跳过"), ButtonRect(2));
    m_btnCancel = MakeButton(this, IDCANCEL, QT_TRANSLATE_NOOP("COverwriteDialog", "取消"), ButtonRect(3));
    m_btnAutoRename->setDefault(true);

    m_stcMessage = new QLabel(this);
    m_stcMessage->setObjectName(QString::number(IDC_MESSAGE));
    m_stcMessage->setGeometry(kMessageBox);
    m_stcMessage->setWordWrap(true);
    m_stcMessage->setTextFormat(Qt::PlainText);
    m_stcMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_chkRemember = new QCheckBox(tr("为该任务保存该设置"), this);
    m_chkRemember->setObjectName(QString::number(IDC_REMEMBER));
    m_chkRemember->setGeometry(Rect(54, 61, 140, 10));

    m_stcIcon = new QLabel(this);
    m_stcIcon->setObjectName(QString::number(IDC_WARNING_ICON));
    m_stcIcon->setGeometry(Rect(16, 17, 21, 23));
    m_stcIcon->setAlignment(Qt::AlignCenter);

    setFixedSize(kDialogSize);

    connect(m_btnAutoRename, &QPushButton::clicked, this, &COverwriteDialog::OnAutoRename);
    connect(m_btnOverwrite, &QPushButton::clicked, this, &COverwriteDialog::OnOverwrite);
    connect(m_btnSkip, &QPushButton::clicked, this, &COverwriteDialog::OnSkip);
    connect(m_btnCancel, &QPushButton::clicked, this, &COverwriteDialog::reject);
}

OverwriteAnswer COverwriteDialog::GetAnswer(int dialogResult) const
{
    if (dialogResult != QDialog::Accepted)
        return OverwriteAnswer{OverwriteChoice::Cancel, false};
    const OverwriteChoice choice = m_nChoice == CHOICE_RENAME ? OverwriteChoice::AutoRename
                                   : m_nChoice == CHOICE_SKIP ? OverwriteChoice::Skip
                                                              : OverwriteChoice::Overwrite;
    return OverwriteAnswer{choice, m_bRemember};
}

void COverwriteDialog::OnOverwrite()
{
    Choose(CHOICE_OVERWRITE);
}

void COverwriteDialog::OnAutoRename()
{
    Choose(CHOICE_RENAME);
}

void COverwriteDialog::OnSkip()
{
    Choose(CHOICE_SKIP);
}

void COverwriteDialog::Choose(int choice)
{
    m_nChoice = choice;
    UpdateData(true);
    accept();
}

void COverwriteDialog::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        OnInitDialog();
    QDialog::showEvent(event);
}

void COverwriteDialog::OnInitDialog()
{
    const int side = qMin(m_stcIcon->width(), m_stcIcon->height());
    m_stcIcon->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    m_nChoice = CHOICE_OVERWRITE;
    UpdateData(false);
    FitMessage();
    m_btnAutoRename->setFocus();
}

void COverwriteDialog::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_bRemember = m_chkRemember->isChecked();
    } else {
        m_stcMessage->setText(DisplayText(m_strMessage));
        m_stcMessage->setToolTip(QString(m_strMessage).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        m_chkRemember->setChecked(m_bRemember);
    }
}

// A message longer than its box (a deep path) makes the dialog taller
// rather than losing its end; within reason.
void COverwriteDialog::FitMessage()
{
    const QRect box = kMessageBox;
    const int lineHeight = m_stcMessage->fontMetrics().lineSpacing();
    const int needed = m_stcMessage->heightForWidth(box.width());
    const int extra = qBound(0, needed - box.height(), 12 * lineHeight);
    m_stcMessage->setGeometry(box.adjusted(0, 0, 0, extra));
    m_chkRemember->setGeometry(dlgunits::Rect(54, 61, 140, 10).translated(0, extra));
    int column = 0;
    for (QPushButton *button : {m_btnAutoRename, m_btnOverwrite, m_btnSkip, m_btnCancel})
        button->setGeometry(ButtonRect(column++).translated(0, extra));
    setFixedSize(kDialogSize + QSize(0, extra));
}
