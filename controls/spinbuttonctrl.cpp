#include "controls/spinbuttonctrl.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

CSpinButtonCtrl::CSpinButtonCtrl(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pUp = new QToolButton(this);
    m_pDown = new QToolButton(this);
    for (QToolButton *b : {m_pUp, m_pDown}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setFixedWidth(16);
        layout->addWidget(b);
    }
    m_pUp->setArrowType(Qt::UpArrow);
    m_pDown->setArrowType(Qt::DownArrow);
    m_pUp->setObjectName("up");
    m_pDown->setObjectName("down");
    connect(m_pUp, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinButtonCtrl::SetBuddy(QLineEdit *edit)
{
    if (m_pBuddy)
        m_pBuddy->removeEventFilter(this);
    m_pBuddy = edit;
    if (m_pBuddy)
        m_pBuddy->installEventFilter(this);
    ShowPos();
}

void CSpinButtonCtrl::SetRange(int lower, int upper)
{
    m_nLower = std::min(lower, upper);
    m_nUpper = std::max(lower, upper);
    SetPos(m_nPos);
}

void CSpinButtonCtrl::SetPos(int pos)
{
    const int clamped = std::clamp(pos, m_nLower, m_nUpper);
    const bool changed = clamped != m_nPos;
    m_nPos = clamped;
    ShowPos();
    if (changed)
        emit PosChanged(m_nPos);
}

void CSpinButtonCtrl::Step(int delta)
{
    // The user may have typed into the edit since the last step.
    if (m_pBuddy) {
        bool ok = false;
        const int typed = m_pBuddy->text().trimmed().toInt(&ok);
        if (ok)
            m_nPos = std::clamp(typed, m_nLower, m_nUpper);
    }
    const long long next = (long long)m_nPos + delta;
    SetPos(int(std::clamp<long long>(next, m_nLower, m_nUpper)));
}

bool CSpinButtonCtrl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_pBuddy && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CSpinButtonCtrl::ShowPos()
{
    if (m_pBuddy)
        m_pBuddy->setText(QString::number(m_nPos));
}
