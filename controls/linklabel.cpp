#include "controls/linklabel.h"

#include "resources/ids_controls.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

static void InitControlsResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(controls);
        return true;
    }();
    (void)done;
}

namespace {

QCursor LinkCursor()
{
    InitControlsResources();
    // The hand drawn at twice the size on a screen scaled up ("@2x" gives it
    // a device pixel ratio of 2); the hot spot stays in the window's units.
    const bool twice = qApp && qApp->devicePixelRatio() > 1.0;
    const QPixmap hand(QStringLiteral(":/CURSOR/%1%2.png")
                           .arg(controlsid::IDC_CURSOR_LINK)
                           .arg(twice ? QStringLiteral("@2x") : QString()));
    if (hand.isNull())
        return QCursor(Qt::PointingHandCursor);
    return QCursor(hand, controlsid::kLinkCursorHotX, controlsid::kLinkCursorHotY);
}

} // namespace

CLinkLabel::CLinkLabel(QWidget *parent) : CLinkLabel(QString(), parent) {}

CLinkLabel::CLinkLabel(const QString &text, QWidget *parent)
    : QLabel(parent), m_opener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    // A static text's default placement: top left.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::TabFocus);
    setCursor(LinkCursor());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setText(text);
}

void CLinkLabel::SetLinkTarget(const QString &target)
{
    m_target = target;
    ApplyRules();
}

void CLinkLabel::setText(const QString &text)
{
    m_ownText = text;
    ApplyRules();
}

void CLinkLabel::ApplyRules()
{
    if (m_target.isEmpty())
        m_target = m_ownText;
    QLabel::setText(m_ownText.isEmpty() ? m_target : m_ownText);
    setToolTip(m_target);
    FitToText();
    update();
}

void CLinkLabel::SetLinkColour(COLORREF colour)
{
    m_colour = colour;
    update();
}

void CLinkLabel::SetUnderline(bool underline)
{
    m_underline = underline;
    update();
}

void CLinkLabel::SetFitToText(bool fit)
{
    m_fitToText = fit;
    setSizePolicy(fit ? QSizePolicy::Fixed : QSizePolicy::Preferred,
                  fit ? QSizePolicy::Fixed : QSizePolicy::Preferred);
    FitToText();
}

QSize CLinkLabel::TextSize() const
{
    const QSize text = fontMetrics().boundingRect(QRect(), int(alignment()), QLabel::text()).size();
    const QMargins m = contentsMargins();
    const int extra = 2 * (frameWidth() + margin());
    return QSize(text.width() + m.left() + m.right() + extra, text.height() + m.top() + m.bottom() + extra);
}

void CLinkLabel::FitToText()
{
    if (!m_fitToText)
        return;
    const QSize want = TextSize();
    QRect r = geometry();
    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        r.setTop(r.top() + (r.height() - want.height()) / 2);
        r.setHeight(want.height());
    } else {
        r.setHeight(want.height());
    }
    if (align & Qt::AlignHCenter) {
        r.setLeft(r.left() + (r.width() - want.width()) / 2);
        r.setWidth(want.width());
    } else if (align & Qt::AlignRight) {
        r.setLeft(r.right() + 1 - want.width());
    } else {
        r.setWidth(want.width());
    }
    setGeometry(r);
    updateGeometry();
}

void CLinkLabel::SetOpener(Opener opener)
{
    m_opener = std::move(opener);
}

QUrl CLinkLabel::UrlForTarget(const QString &target)
{
    const QString t = target.trimmed();
    if (t.isEmpty())
        return {};
    if (QDir::isAbsolutePath(t))
        return QUrl::fromLocalFile(t);
    const QUrl url(t, QUrl::TolerantMode);
    if (url.isValid() && url.scheme().size() > 1)
        return url;
    return QUrl::fromUserInput(t);
}

bool CLinkLabel::OpenTarget()
{
    const QUrl url = UrlForTarget(m_target);
    if (url.isEmpty() || !url.isValid() || !m_opener || !m_opener(url)) {
        QApplication::beep();
        return false;
    }
    return true;
}

void CLinkLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QFont f = font();
    f.setUnderline(m_underline);
    p.setFont(f);
    p.setPen(QColor(GetRValue(m_colour), GetGValue(m_colour), GetBValue(m_colour)));
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    p.drawText(area, int(alignment()), QLabel::text());
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void CLinkLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitToText();
}

void CLinkLabel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click =
        m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        OpenTarget();
}

void CLinkLabel::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        OpenTarget();
        event->accept();
        break;
    default:
        QLabel::keyPressEvent(event);
    }
}
