#include "controls/colourpickerpopup.h"

#include "resources/ids_colourpicker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolTip>
#include <qdrawutil.h>

#include <algorithm>

using namespace colourgrid;
using namespace colourpickerid;

namespace {

// The width of a 3-D edge.
constexpr int kEdge = 2;

QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

} // namespace

CColourPickerPopup::CColourPickerPopup(const QRect &button, COLORREF initial, QWidget *picker,
                                       const QString &defaultText, const QString &customText)
    : QWidget(picker, Qt::Popup | Qt::FramelessWindowHint), m_crInitialColour(initial), m_crColour(initial),
      m_strDefaultText(defaultText), m_strCustomText(customText)
{
    setObjectName("CColourPickerPopup");
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setFont(QApplication::font("QMessageBox"));

    const bool hasAuto = !m_strDefaultText.isEmpty(), hasMore = !m_strCustomText.isEmpty();
    QSize text;
    if (hasAuto || hasMore) {
        const QFontMetrics fm(font());
        for (const QString &s : {m_strDefaultText, m_strCustomText}) {
            const QSize size = fm.size(Qt::TextSingleLine, s);
            text = text.expandedTo(size);
        }
    }
    m_layout = ComputeLayout(BoxSize(kEdge), kEdge, hasAuto, hasMore, text);
    m_nChosenColourSel = InitialChoice(initial, hasAuto, hasMore);

    QScreen *screen = picker ? picker->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1 << 16, 1 << 16);
    setGeometry(QRect(PlacePopup(m_layout.window, button, area), m_layout.window));

    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &CColourPickerPopup::OnApplicationStateChanged);
}

CColourPickerPopup::~CColourPickerPopup() = default;

QString CColourPickerPopup::ToolTipAt(QPoint p) const
{
    const std::optional<int> box = HitTest(m_layout, p);
    if (!box || *box < 0)
        return {};
    return QString::fromLatin1(At(*box).name);
}

bool CColourPickerPopup::event(QEvent *e)
{
    if (e->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(e);
        const QString tip = ToolTipAt(help->pos());
        const std::optional<int> box = HitTest(m_layout, help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this, m_layout.BoxRect(*box));
        return true;
    }
    return QWidget::event(e);
}

void CColourPickerPopup::ChangeSelection(int index)
{
    if (index > kCount)
        index = kMoreBox;
    if (index == m_nCurrentSel)
        return;
    const int old = m_nCurrentSel;
    m_nCurrentSel = index;
    update(m_layout.BoxRect(old));
    update(m_layout.BoxRect(index));

    COLORREF shown = m_crInitialColour;
    if (index == kAutoBox) {
        shown = kAutomatic;
        m_crColour = kAutomatic;
    } else if (index >= 0 && index < kCount) {
        shown = At(index).colour;
        m_crColour = shown;
    }
    emit Message(CPN_SELCHANGE, shown);
}

void CColourPickerPopup::mouseMoveEvent(QMouseEvent *event)
{
    if (const std::optional<int> box = HitTest(m_layout, event->position().toPoint()))
        ChangeSelection(*box);
}

void CColourPickerPopup::mousePressEvent(QMouseEvent *event)
{
    // A press outside closes the popup (a cancel). On the picker itself it
    // must not reach the button too, or the click would open it again.
    const QPoint global = event->globalPosition().toPoint();
    if (!rect().contains(event->position().toPoint()) && parentWidget() &&
        parentWidget()->rect().contains(parentWidget()->mapFromGlobal(global)))
        setAttribute(Qt::WA_NoMouseReplay);
    QWidget::mousePressEvent(event);
}

void CColourPickerPopup::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    if (rect().contains(p)) {
        // The release picks the box under it, even without a move before.
        if (const std::optional<int> box = HitTest(m_layout, p))
            ChangeSelection(*box);
        EndSelection(CPN_SELENDOK);
    } else {
        EndSelection(CPN_SELENDCANCEL);
    }
}

void CColourPickerPopup::keyPressEvent(QKeyEvent *event)
{
    const bool hasAuto = !m_strDefaultText.isEmpty(), hasMore = !m_strCustomText.isEmpty();
    std::optional<Move> move;
    switch (event->key()) {
    case Qt::Key_Down:
        move = Move::Down;
        break;
    case Qt::Key_Up:
        move = Move::Up;
        break;
    case Qt::Key_Right:
        move = Move::Right;
        break;
    case Qt::Key_Left:
        move = Move::Left;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        EndSelection(CPN_SELENDOK);
        return;
    case Qt::Key_Escape:
        m_crColour = m_crInitialColour;
        EndSelection(CPN_SELENDCANCEL);
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    // The first key press highlights the chosen box, or the first one.
    int to = 0;
    if (m_nCurrentSel == kNoBox)
        to = m_nChosenColourSel == kNoBox ? 0 : m_nChosenColourSel;
    else
        to = KeyMove(m_nCurrentSel, *move, hasAuto, hasMore);
    ChangeSelection(to);
}

void CColourPickerPopup::closeEvent(QCloseEvent *event)
{
    // Closed from outside (a click elsewhere closes a popup): a cancel.
    if (!m_bEnded && !m_bColourDialogOpen) {
        EndSelection(CPN_SELENDCANCEL);
        event->accept();
        return;
    }
    if (m_bColourDialogOpen) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void CColourPickerPopup::OnApplicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive && !m_bColourDialogOpen)
        EndSelection(CPN_SELENDCANCEL);
}

void CColourPickerPopup::EndSelection(int message)
{
    if (m_bEnded || m_bColourDialogOpen)
        return;
    if (message == CPN_SELENDOK && m_nCurrentSel == kMoreBox) {
        // The standard colour dialog takes over; the grid gets out of its way.
        m_bColourDialogOpen = true;
        releaseMouse();
        releaseKeyboard();
        hide();
        QColorDialog dlg(parentWidget() ? parentWidget()->window() : nullptr);
        dlg.setObjectName("CColorDialog");
        dlg.setOptions(QColorDialog::DontUseNativeDialog);
        dlg.setCurrentColor(ToQColor(m_crInitialColour == kAutomatic ? RGB(0, 0, 0) : m_crInitialColour));
        const bool ok = dlg.exec() == QDialog::Accepted;
        m_bColourDialogOpen = false;
        if (ok) {
            const QColor c = dlg.selectedColor();
            m_crColour = RGB(c.red(), c.green(), c.blue());
        } else {
            message = CPN_SELENDCANCEL;
        }
    }
    if (message == CPN_SELENDCANCEL)
        m_crColour = m_crInitialColour;
    m_bEnded = true;
    releaseMouse();
    emit Message(message, m_crColour);
    close();
}

// ---------------------------------------------------------------------------
// Drawing

void CColourPickerPopup::DrawBox(QPainter &p, int index) const
{
    const QRect r = m_layout.BoxRect(index);
    const QPalette &pal = palette();
    const bool highlighted = index == m_nCurrentSel, chosen = index == m_nChosenColourSel;
    p.fillRect(r, chosen && !highlighted ? pal.light() : pal.button());
    if (chosen)
        qDrawShadePanel(&p, r, pal, true, 1);
    if (highlighted)
        qDrawShadePanel(&p, r.adjusted(1, 1, -1, -1), pal, false, 1);
    const int inset = m_layout.margin + 1;
    const QRect swatch = r.adjusted(inset, inset, -inset, -inset);
    p.fillRect(swatch, ToQColor(At(index).colour));
    p.setPen(pal.color(QPalette::Dark));
    p.setBrush(Qt::NoBrush);
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
}

void CColourPickerPopup::DrawTextBox(QPainter &p, int index) const
{
    const QRect r = m_layout.BoxRect(index);
    if (r.isEmpty())
        return;
    const QPalette &pal = palette();
    const bool highlighted = index == m_nCurrentSel, chosen = index == m_nChosenColourSel;
    p.fillRect(r, pal.button());
    if (chosen)
        qDrawShadePanel(&p, r, pal, true, 1);
    if (highlighted)
        qDrawShadePanel(&p, r.adjusted(1, 1, -1, -1), pal, false, 1);
    const QRect inner = r.adjusted(2, 2, -2, -2);
    p.fillRect(inner, chosen && !highlighted ? pal.midlight() : pal.button());
    const int in2 = 2 * m_layout.margin;
    if (index == kAutoBox) {
        p.setPen(pal.color(QPalette::Dark));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(in2, in2, -in2 - 1, -in2 - 1));
    } else {
        // A groove along the top separates it from the grid.
        p.setPen(pal.color(QPalette::Dark));
        p.drawLine(r.left() + in2, r.top() + 1, r.right() - in2, r.top() + 1);
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(r.left() + in2, r.top() + 2, r.right() - in2, r.top() + 2);
    }
    p.setPen(pal.color(QPalette::ButtonText));
    p.drawText(r, Qt::AlignCenter, index == kAutoBox ? m_strDefaultText : m_strCustomText);
}

void CColourPickerPopup::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPalette &pal = palette();
    p.fillRect(rect(), pal.button());
    qDrawShadePanel(&p, rect(), pal, false, 1);
    for (int i = 0; i < kCount; ++i)
        DrawBox(p, i);
    DrawTextBox(p, kAutoBox);
    DrawTextBox(p, kMoreBox);
}
