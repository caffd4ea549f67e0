#include "controls/elidinglabel.h"

#include <algorithm>

CElidingLabel::CElidingLabel(QWidget *parent) : QLabel(parent)
{
    // The label's width is the layout's; a long text must not widen it.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void CElidingLabel::SetFullText(const QString &text)
{
    m_full = text;
    Elide();
}

void CElidingLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    Elide();
}

void CElidingLabel::Elide()
{
    const QString shown =
        fontMetrics().elidedText(m_full, Qt::ElideRight, std::max(0, contentsRect().width()));
    setText(shown);
    setToolTip(shown == m_full ? QString() : m_full);
}
