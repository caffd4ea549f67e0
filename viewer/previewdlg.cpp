// CPreviewDlg's window: making and opening it, painting the canvas, and the
// mouse and keyboard events.
#include "viewer/previewdlg.h"

#include "controls/animatedpicture.h"
#include "resources/ids_viewer.h"
#include "settings/settingsstore.h"
#include "viewer/viewerinfo.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>

#include <memory>
#include <mutex>

// Resource registration must sit outside every namespace.
static void InitViewerResources()
{
    Q_INIT_RESOURCE(viewer);
}

namespace {

using namespace viewerid;

// A zoom step's quick drawing is redrawn properly, and the copy at the new
// size made, once the steps pause this long.
constexpr int kRefineDelayMs = 40;
// How long the view rests before the part in view of a picture shown
// reduced is decoded at a finer scale.
constexpr int kDetailDelayMs = 150;
// One wheel notch.
constexpr int kWheelStep = 120;
// Hot spot of the hand cursors: the middle of the palm.
constexpr int kCursorHotX = 10;
constexpr int kCursorHotY = 10;

const QCursor &ResourceCursor(int id)
{
    static std::once_flag once;
    std::call_once(once, InitViewerResources);
    static const QCursor hand(QPixmap(":/viewer/149.png"), kCursorHotX, kCursorHotY);
    static const QCursor dragging(QPixmap(":/viewer/150.png"), kCursorHotX, kCursorHotY);
    return id == IDC_CURSOR_DRAGGING ? dragging : hand;
}

QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

} // namespace

CPreviewDlg::CPreviewDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QString::number(IDD_PREVIEW));
    setWindowTitle("Velmora");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    // Every pixel comes from the off-screen canvas.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    m_picture = new CAnimatedPicture(this);
    m_picture->setObjectName(QString::number(IDC_PICTURE));
    m_picture->setFocusPolicy(Qt::NoFocus);
    // Clicks, wheel turns and the menu over an animation belong to the viewer.
    m_picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_picture->hide();
    m_info = new CViewerInfo(this);

    m_pSlideTimer = new QTimer(this);
    connect(m_pSlideTimer, &QTimer::timeout, this, &CPreviewDlg::OnTimer);
    m_pRefineTimer = new QTimer(this);
    m_pRefineTimer->setSingleShot(true);
    m_pRefineTimer->setInterval(kRefineDelayMs);
    connect(m_pRefineTimer, &QTimer::timeout, this, &CPreviewDlg::OnRefine);
    m_loader = new viewwork::CPictureLoader(this);
    connect(m_loader, &viewwork::CPictureLoader::Fetched, this, &CPreviewDlg::OnFetched);
    connect(m_loader, &viewwork::CPictureLoader::DisplayMade, this, &CPreviewDlg::OnDisplayMade);
    m_pDetailTimer = new QTimer(this);
    m_pDetailTimer->setSingleShot(true);
    m_pDetailTimer->setInterval(kDetailDelayMs);
    connect(m_pDetailTimer, &QTimer::timeout, this, &CPreviewDlg::OnDetail);
    connect(m_loader, &viewwork::CPictureLoader::DetailMade, this, &CPreviewDlg::OnDetailMade);

    QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(screen->geometry());
    // Over panels and docks too, where a window manager has them.
    setWindowState(windowState() | Qt::WindowFullScreen);
}

CPreviewDlg::~CPreviewDlg()
{
    m_pSlideTimer->stop();
    m_picture->UnloadPicture();
    // Background reads end before the window's members go.
    delete m_loader;
    m_loader = nullptr;
}

void CPreviewDlg::SetFileList(QStringList *files)
{
    m_pOpenerList = files;
    m_model.SetPaths(files ? *files : QStringList());
}

void CPreviewDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
}

void CPreviewDlg::OnInitDialog()
{
    using namespace settingskey;
    m_view = {};
    m_view.fullSize = GetProfileInt(kSettingsSection, kViewFullSize, settingsdefault::kViewFullSize) != 0;
    m_nSlideDelay = GetProfileInt(kSettingsSection, kSlideShowDelay, settingsdefault::kSlideShowDelay);
    m_info->SetPinned(GetProfileInt(kSettingsSection, kViewInfo, 0) != 0);
    m_crBack = ReadPreviewBackground();
    m_bAutoOrient = GetProfileInt(kSettingsSection, kAutoRotate, 1) != 0;

    QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = s ? s->geometry() : QRect(0, 0, 800, 600);
    m_screen = {area.width(), area.height()};
    // The opener's list as it is now: run again, the dialog starts afresh.
    if (m_pOpenerList)
        m_model.SetPaths(*m_pOpenerList);

    m_picture->UnloadPicture();
    m_picture->hide();
    m_bCanScroll = m_bDragging = m_bSlideShow = false;
    if (m_state != PictureState::FirstLook && m_state != PictureState::Whole)
        m_state = PictureState::Empty;
    m_szCanvas = m_screen;
    m_rcImage = {};
    if (!isFullScreen())
        setGeometry(area);
    ConfigureLoader();
    activateWindow();
    setFocus();
    ShowImage(m_model.Index());
}

void CPreviewDlg::done(int result)
{
    // The slideshow and the animation end with the window.
    m_pSlideTimer->stop();
    m_bSlideShow = false;
    m_picture->StopAnimation();
    m_pRefineTimer->stop();
    m_loader->Clear();
    m_shownPath.clear();
    if (m_pOutputWork) {
        m_pOutputWork->Cancel();
        m_pOutputWork->CancelEstimate();
    }
    m_bOutputMode = m_bEstimating = false;
    m_estimate.reset();
    m_pOutput.reset();
    // Run again, the dialog starts afresh.
    m_bInitialised = false;
    QDialog::done(result);
}

int CPreviewDlg::GetSlideTimerInterval() const
{
    return m_pSlideTimer->isActive() ? m_pSlideTimer->interval() : -1;
}

// ---------------------------------------------------------------------------
// Painting

void CPreviewDlg::Repaint()
{
    m_bCanvasDirty = true;
    update();
    // Whatever moved, a picture shown reduced may want a finer part once
    // the view rests.
    if (m_state == PictureState::Whole && m_bReduced && !m_bOutputMode)
        m_pDetailTimer->start();
}

void CPreviewDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    m_bCanvasDirty = true;
}

void CPreviewDlg::RenderCanvas()
{
    const qreal dpr = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * dpr).toSize();
    if (m_canvas.size() != pixels)
        m_canvas = QImage(pixels, QImage::Format_RGB32);
    m_canvas.setDevicePixelRatio(dpr);
    QPainter p(&m_canvas);
    p.fillRect(rect(), ToQColor(m_crBack));
    if (m_bOutputMode) {
        RenderOutput(p);
    } else if (!IsPictureMode() && !m_display.isNull()) {
        // A top left part at scale 1 is drawn as the picture of its own size
        // would be, cut to what the part holds.
        const viewgeom::Size drawn =
            m_bRegion ? m_natural : viewgeom::Size{m_display.width(), m_display.height()};
        viewgeom::VisiblePart part =
            viewgeom::VisibleImagePart(m_rcImage, m_view.scrollX, m_view.scrollY, {width(), height()}, drawn);
        if (m_bRegion) {
            const QRectF held = part.source & QRectF(0, 0, m_display.width(), m_display.height());
            part.target.translate(held.topLeft() - part.source.topLeft());
            part.target.setSize(held.size());
            part.source = held;
        }
        if (!part.IsEmpty()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform,
                            !m_bQuickPaint && part.source.size() != part.target.size());
            p.drawImage(part.target, m_display, part.source);
        }
        RenderDetail(p);
    }
    m_bCanvasDirty = false;
}

void CPreviewDlg::RenderDetail(QPainter &p)
{
    if (m_detail.isNull() || m_state != PictureState::Whole)
        return;
    // The finer part over the picture, where the two overlap in view.
    const viewgeom::VisiblePart part = viewgeom::VisibleImagePart(m_rcImage, m_view.scrollX, m_view.scrollY,
                                                                  {width(), height()}, m_szDetailScaled);
    const QRectF held = part.source & QRectF(m_rcDetail);
    if (part.IsEmpty() || held.isEmpty())
        return;
    const double sx = part.target.width() / part.source.width(),
                 sy = part.target.height() / part.source.height();
    const QRectF target(part.target.x() + (held.x() - part.source.x()) * sx,
                        part.target.y() + (held.y() - part.source.y()) * sy, held.width() * sx,
                        held.height() * sy);
    p.setRenderHint(QPainter::SmoothPixmapTransform, !m_bQuickPaint && (sx != 1.0 || sy != 1.0));
    p.drawImage(target, m_detail, held.translated(-QPointF(m_rcDetail.topLeft())));
}

void CPreviewDlg::paintEvent(QPaintEvent *event)
{
    const qreal dpr = devicePixelRatioF();
    if (m_bCanvasDirty || m_canvas.size() != (QSizeF(size()) * dpr).toSize())
        RenderCanvas();
    QPainter p(this);
    for (const QRect &r : event->region()) {
        const QRectF source(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr);
        p.drawImage(QRectF(r), m_canvas, source);
    }
}

// ---------------------------------------------------------------------------
// Keyboard

bool CPreviewDlg::event(QEvent *event)
{
    // Every key is the viewer's, Tab included: no focus moves, no default button.
    if (event->type() == QEvent::KeyPress) {
        OnKeyDown(static_cast<QKeyEvent *>(event));
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void CPreviewDlg::keyPressEvent(QKeyEvent *event)
{
    OnKeyDown(event);
}

// ---------------------------------------------------------------------------
// Mouse

void CPreviewDlg::SetCursorKind(CursorKind kind)
{
    m_hCursor = kind;
    switch (kind) {
    case CursorKind::Arrow:
        setCursor(Qt::ArrowCursor);
        break;
    case CursorKind::Hand:
        setCursor(ResourceCursor(IDC_CURSOR_HAND));
        break;
    case CursorKind::Dragging:
        setCursor(ResourceCursor(IDC_CURSOR_DRAGGING));
        break;
    }
}

void CPreviewDlg::UpdateCursor()
{
    const QPoint p = mapFromGlobal(QCursor::pos());
    const bool over = viewgeom::StrictlyInside(m_rcImage, p.x() + m_view.scrollX, p.y() + m_view.scrollY);
    SetCursorKind(m_bCanScroll && over ? CursorKind::Hand : CursorKind::Arrow);
}

void CPreviewDlg::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton && NearSplit(p)) {
        m_bSplitDragging = true;
        return;
    }
    if (event->button() != Qt::LeftButton || !m_bCanScroll)
        return;
    if (viewgeom::StrictlyInside(m_rcImage, p.x() + m_view.scrollX, p.y() + m_view.scrollY)) {
        m_ptDrag = p;
        m_bDragging = true;
        SetCursorKind(CursorKind::Dragging);
    }
}

void CPreviewDlg::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (m_bSplitDragging) {
        m_nSplitX = qBound(0, p.x(), width());
        Repaint();
        return;
    }
    if (NearSplit(p)) {
        setCursor(Qt::SplitHCursor);
        return;
    }
    if (m_bOutputMode && !m_bCanScroll)
        SetCursorKind(CursorKind::Arrow); // off the line again
    if (m_bDragging) {
        m_view.scrollX =
            viewgeom::ClampScroll(m_view.scrollX + m_ptDrag.x() - p.x(), m_szCanvas.width, m_screen.width);
        m_view.scrollY =
            viewgeom::ClampScroll(m_view.scrollY + m_ptDrag.y() - p.y(), m_szCanvas.height, m_screen.height);
        m_ptDrag = p;
        Repaint();
    } else if (m_bCanScroll) {
        const bool over = viewgeom::StrictlyInside(m_rcImage, p.x() + m_view.scrollX, p.y() + m_view.scrollY);
        SetCursorKind(over ? CursorKind::Hand : CursorKind::Arrow);
    }
}

void CPreviewDlg::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_bSplitDragging) {
        m_bSplitDragging = false;
        UpdateCursor();
        return;
    }
    if (event->button() != Qt::LeftButton || !m_bCanScroll)
        return;
    if (m_bDragging) {
        m_bDragging = false;
        SetCursorKind(CursorKind::Hand);
    } else {
        SetCursorKind(CursorKind::Arrow);
    }
}

void CPreviewDlg::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    reject();
}

void CPreviewDlg::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    event->accept();
    if (delta == 0)
        return;
    // Fine-grained wheels and touchpads page once per whole notch.
    if ((delta > 0) != (m_nWheelDelta > 0))
        m_nWheelDelta = 0;
    m_nWheelDelta += delta;
    while (m_nWheelDelta <= -kWheelStep) {
        m_nWheelDelta += kWheelStep;
        NextImage();
    }
    while (m_nWheelDelta >= kWheelStep) {
        m_nWheelDelta -= kWheelStep;
        PrevImage();
    }
}

// ---------------------------------------------------------------------------
// Context menu

void CPreviewDlg::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    std::unique_ptr<QMenu> menu(BuildContextMenu());
    if (!menu)
        return;
    SetCursorKind(CursorKind::Arrow);
    // Ticks are ignored while the menu is open.
    const bool wasRunning = m_bSlideShow;
    m_bSlideShow = false;
    QAction *chosen = menu->exec(event->globalPos());
    m_bSlideShow = wasRunning;
    const int id = chosen ? chosen->data().toInt() : 0;
    menu.reset();
    if (id != 0)
        RunCommand(id);
}
