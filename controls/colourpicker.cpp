#include "controls/colourpicker.h"

#include "controls/colourpickergrid.h"
#include "controls/colourpickerpopup.h"
#include "resources/ids_colourpicker.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

#include <algorithm>

using namespace colourpickerid;

namespace {

constexpr int kEdge = 2;

COLORREF FromQColor(const QColor &c)
{
    return RGB(c.red(), c.green(), c.blue());
}

QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

} // namespace

CColourPicker::CColourPicker(QWidget *parent)
    : QPushButton(parent), m_crSwatch(FromQColor(palette().color(QPalette::Button))),
      m_crText(FromQColor(palette().color(QPalette::ButtonText))), m_strAutoText(tr("自动")),
      m_strMoreText(tr("更多颜色..."))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFixedHeight(ArrowSize() + 2 * kEdge);
    connect(this, &QPushButton::clicked, this, &CColourPicker::OnClicked);
}

CColourPicker::~CColourPicker()
{
    if (m_pPopup) {
        m_pPopup->disconnect(this);
        delete m_pPopup;
    }
}

int CColourPicker::ArrowSize() const
{
    const int thumb = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return std::max(5 * kEdge, thumb);
}

int CColourPicker::ControlId() const
{
    return objectName().toInt();
}

QSize CColourPicker::minimumSizeHint() const
{
    return QSize(2 * (kEdge + ArrowSize()), ArrowSize() + 2 * kEdge);
}

QSize CColourPicker::sizeHint() const
{
    const QString label = text().isEmpty() ? QStringLiteral("MMMM") : text();
    const int textWidth = fontMetrics().size(Qt::TextSingleLine, label).width();
    return QSize(std::max(minimumSizeHint().width(), textWidth + 2 * ArrowSize() + 4 * kEdge),
                 ArrowSize() + 2 * kEdge);
}

void CColourPicker::resizeEvent(QResizeEvent *event)
{
    QPushButton::resizeEvent(event);
    const int arrow = ArrowSize();
    m_rcArrow = QRect(width() - kEdge - arrow, kEdge, arrow, height() - 2 * kEdge);
}

COLORREF CColourPicker::GetColour() const
{
    return m_nMode == CP_MODE_TEXT ? m_crText : m_crSwatch;
}

void CColourPicker::SetColour(COLORREF colour)
{
    if (m_nMode == CP_MODE_TEXT)
        SetTextColour(colour);
    else
        SetBkColour(colour);
}

void CColourPicker::SetBkColour(COLORREF colour)
{
    m_crSwatch = colour;
    repaint();
}

void CColourPicker::SetTextColour(COLORREF colour)
{
    m_crText = colour;
    repaint();
}

void CColourPicker::OnClicked()
{
    if (m_pPopup)
        return;
    m_bPopupOpen = true;
    const QRect button(mapToGlobal(QPoint(0, 0)), size());
    m_pPopup = new CColourPickerPopup(button, GetColour(), this, m_strAutoText, m_strMoreText);
    connect(m_pPopup, &CColourPickerPopup::Message, this, &CColourPicker::OnPopupMessage);
    m_pPopup->show();
    m_pPopup->setFocus();
    update();
    emit Notify(CPN_DROPDOWN, GetColour(), ControlId());
}

void CColourPicker::OnPopupMessage(int message, COLORREF colour)
{
    const int id = ControlId();
    switch (message) {
    case CPN_SELENDOK: {
        m_bPopupOpen = false;
        const COLORREF before = GetColour();
        SetColour(colour);
        emit Notify(CPN_CLOSEUP, colour, id);
        emit Notify(CPN_SELENDOK, colour, id);
        if (colour != before)
            emit Notify(CPN_SELCHANGE, colour, id);
        break;
    }
    case CPN_SELENDCANCEL:
        m_bPopupOpen = false;
        SetColour(colour);
        emit Notify(CPN_CLOSEUP, colour, id);
        emit Notify(CPN_SELENDCANCEL, colour, id);
        break;
    case CPN_SELCHANGE:
        if (m_bFollowHighlight)
            SetColour(colour);
        emit Notify(CPN_SELCHANGE, colour, id);
        break;
    default:
        break;
    }
}

void CColourPicker::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPalette &pal = palette();
    const bool enabled = isEnabled();
    const QRect r = rect();
    p.fillRect(r, pal.button());
    qDrawWinPanel(&p, r, pal, true);

    // The drop-down arrow, pushed while the popup is open or the button is held.
    const bool pushed = m_bPopupOpen || isDown();
    qDrawWinButton(&p, m_rcArrow, pal, pushed);
    const int aw = std::max(3, (m_rcArrow.width() / 2) | 1), ah = aw / 2 + 1;
    const QPoint c = m_rcArrow.center() + (pushed ? QPoint(1, 1) : QPoint(0, 0));
    const QPolygon arrow({QPoint(c.x() - aw / 2, c.y() - ah / 2), QPoint(c.x() + aw / 2, c.y() - ah / 2),
                          QPoint(c.x(), c.y() - ah / 2 + aw / 2)});
    p.setPen(Qt::NoPen);
    if (!enabled) {
        p.setBrush(pal.color(QPalette::Light));
        p.drawPolygon(arrow.translated(1, 1));
    }
    p.setBrush(enabled ? pal.color(QPalette::ButtonText) : pal.color(QPalette::Dark));
    p.drawPolygon(arrow);

    // The swatch between the edge and the arrow.
    const QRect swatch(kEdge + 2, kEdge + 2, m_rcArrow.left() - kEdge - 4, height() - 2 * kEdge - 4);
    const bool plain = !enabled || m_crSwatch == colourgrid::kAutomatic;
    p.fillRect(swatch, plain ? pal.button().color() : ToQColor(m_crSwatch));
    if (!plain) {
        p.setPen(pal.color(QPalette::Dark));
        p.setBrush(Qt::NoBrush);
        p.drawRect(swatch.adjusted(0, 0, -1, -1));
    }

    if (!text().isEmpty()) {
        if (enabled) {
            const COLORREF tc =
                m_crText == colourgrid::kAutomatic ? FromQColor(pal.color(QPalette::ButtonText)) : m_crText;
            p.setPen(ToQColor(tc));
        } else {
            p.setPen(pal.color(QPalette::Light));
            p.drawText(swatch.translated(1, 1), Qt::AlignCenter, text());
            p.setPen(pal.color(QPalette::Dark));
        }
        p.drawText(swatch, Qt::AlignCenter, text());
    }

    if (hasFocus()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = swatch.adjusted(-1, -1, 1, 1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}
