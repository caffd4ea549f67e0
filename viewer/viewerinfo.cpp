#include "viewer/viewerinfo.h"

#include <QEvent>
#include <QPainter>

namespace {

constexpr int kMargin = 16; // from the window's corner
constexpr int kPadX = 12;   // text inside the box
constexpr int kPadY = 6;
constexpr qreal kRadius = 8;
const QString kGap = QStringLiteral("   ");

} // namespace

QSize OverlayBoxSize(const QFontMetrics &metrics, const QStringList &lines)
{
    int width = 0;
    for (const QString &line : lines)
        width = qMax(width, metrics.horizontalAdvance(line));
    return {width + 2 * kPadX, int(lines.size()) * metrics.height() + 2 * kPadY};
}

void PaintOverlayBox(QPainter &p, const QRect &rect, const QStringList &lines)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40, 180)); // seen over a black background too
    p.drawRoundedRect(QRectF(rect), kRadius, kRadius);
    p.setPen(QColor(255, 255, 255, 235));
    const int lineHeight = p.fontMetrics().height();
    QRect line(rect.left() + kPadX, rect.top() + kPadY, rect.width() - 2 * kPadX, lineHeight);
    for (const QString &text : lines) {
        p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, text);
        line.translate(0, lineHeight);
    }
    p.restore();
}

CViewerInfo::CViewerInfo(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("viewerInfo"));
    // Clicks, wheel turns and the menu belong to the viewer.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 1.1);
    setFont(f);
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(kShowMs);
    connect(&m_hideTimer, &QTimer::timeout, this, &CViewerInfo::Expire);
    hide();
    parent->installEventFilter(this);
}

QString CViewerInfo::Where(int index, int count, int percent)
{
    QString text = QStringLiteral("%1 / %2").arg(index + 1).arg(count);
    if (percent >= 0)
        text += kGap + QStringLiteral("%1%").arg(percent);
    return text;
}

QString CViewerInfo::GetText() const
{
    return m_strName + kGap + m_strWhere;
}

void CViewerInfo::Flash(const QString &name, const QString &where)
{
    m_strName = name;
    m_strWhere = where;
    Place();
    show();
    raise(); // over an animation too
    update();
    if (m_bPinned)
        m_hideTimer.stop();
    else
        m_hideTimer.start();
}

void CViewerInfo::Expire()
{
    if (!m_bPinned)
        hide();
}

void CViewerInfo::SetPinned(bool pinned)
{
    m_bPinned = pinned;
    if (pinned) {
        if (!m_strName.isEmpty())
            Flash(m_strName, m_strWhere);
    } else {
        m_hideTimer.stop();
        hide();
    }
}

int CViewerInfo::TextWidth(const QFontMetrics &metrics) const
{
    return metrics.horizontalAdvance(m_strName) + metrics.horizontalAdvance(kGap + m_strWhere);
}

QString CViewerInfo::GetShownText() const
{
    // A long name loses its middle rather than the position and the zoom.
    const QString tail = kGap + m_strWhere;
    const QFontMetrics metrics = fontMetrics();
    const int room = width() - 2 * kPadX;
    if (TextWidth(metrics) <= room)
        return m_strName + tail;
    const int nameWidth = qMax(0, room - metrics.horizontalAdvance(tail));
    return metrics.elidedText(m_strName, Qt::ElideMiddle, nameWidth) + tail;
}

void CViewerInfo::Place()
{
    const QFontMetrics metrics(font());
    const int maxWidth = parentWidget()->width() - 2 * kMargin;
    const QSize size(qMin(TextWidth(metrics) + 2 * kPadX, maxWidth), metrics.height() + 2 * kPadY);
    setGeometry(kMargin, parentWidget()->height() - kMargin - size.height(), size.width(), size.height());
}

void CViewerInfo::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    PaintOverlayBox(p, rect(), {GetShownText()});
}

bool CViewerInfo::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize && isVisible())
        Place();
    return QWidget::eventFilter(watched, event);
}
