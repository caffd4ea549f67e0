#include "previewdlg.h"

#include "animation.h"
#include "animatedpicture.h"
#include "colourprofile.h"
#include "cxanimation.h"
#include "ids_viewer.h"
#include "previewmenu.h"
#include "previewprocess.h"
#include "settingsstore.h"
#include "slidedelaydlg.h"
#include "waitcursor.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFileInfo>
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
#include <optional>
#include <vector>

// Resource registration must sit outside every namespace.
static void InitViewerResources()
{
    Q_INIT_RESOURCE(viewer);
}

namespace {

using namespace viewerid;

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

    m_pSlideTimer = new QTimer(this);
    connect(m_pSlideTimer, &QTimer::timeout, this, &CPreviewDlg::OnTimer);

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
    m_bFullSize = GetProfileInt(kSettingsSection, kViewFullSize, settingsdefault::kViewFullSize) != 0;
    m_nSlideDelay = GetProfileInt(kSettingsSection, kSlideShowDelay, settingsdefault::kSlideShowDelay);
    m_crBack = ReadPreviewBackground();
    m_image.SetAutoOrient(GetProfileInt(kSettingsSection, kAutoRotate, 1) != 0);

    QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = s ? s->geometry() : QRect(0, 0, 800, 600);
    m_nScreenW = area.width();
    m_nScreenH = area.height();

    m_picture->UnloadPicture();
    m_picture->hide();
    m_bZoomed = m_bZoomIn = m_bCanScroll = m_bDragging = false;
    m_bPictureMode = m_bError = m_bSlideShow = false;
    m_fZoom = 1.0f;
    m_nScrollX = m_nScrollY = 0;
    m_szCanvas = {m_nScreenW, m_nScreenH};
    m_rcImage = {};
    if (!isFullScreen())
        setGeometry(area);
    activateWindow();
    setFocus();
    ShowImage(m_nIndex);
}

void CPreviewDlg::done(int result)
{
    // The slideshow and the animation end with the window.
    m_pSlideTimer->stop();
    m_bSlideShow = false;
    m_picture->StopAnimation();
    // Run again, the dialog starts afresh.
    m_bInitialised = false;
    QDialog::done(result);
}

bool CPreviewDlg::IsLastIndex() const
{
    return m_nIndex >= FileCount() - 1;
}

int CPreviewDlg::GetSlideTimerInterval() const
{
    return m_pSlideTimer->isActive() ? m_pSlideTimer->interval() : -1;
}

// ---------------------------------------------------------------------------
// Loading and layout

void CPreviewDlg::ShowImage(int index)
{
    if (index < 0 || index >= FileCount())
        return;
    m_bDragging = false;
    const QString path = m_pFiles->at(index);
    if (!QFileInfo(path).isFile()) {
        ShowErrorPicture();
        return;
    }
    if (m_bPictureMode) {
        m_picture->UnloadPicture();
        m_picture->hide();
        m_bError = false;
        m_bPictureMode = false;
    }

    std::optional<WaitCursor> wait(std::in_place);
    const std::string file = path.toStdString();
    m_image.Destroy();
    m_display = QImage();
    // Shows what arrived of a cut-off file, as image viewers do; a run
    // still refuses it.
    m_image.SetAcceptTruncated(true);
    m_image.Load(file.c_str(), CXIMAGE_FORMAT_UNKNOWN);
    cxcolour::ToSrgb(m_image); // the screen is taken as sRGB

    const std::uint32_t animationType =
        m_image.IsValid() && IsAnimationType(m_image.GetType()) && m_image.GetNumFrames() >= 2
            ? PreviewAnimationType(m_bPreview, m_settings.m_szFormat, m_image.GetType())
            : 0;
    if (animationType != 0) {
        const int frames = m_image.GetNumFrames();
        m_image.Destroy();
        m_bPictureMode = true;
        ShowAnimation(path, frames, animationType);
        wait.reset();
        ClearLayout();
        Repaint();
        UpdateCursor();
        return;
    }

    if (m_bPreview && m_image.IsValid())
        TransformImage(m_image, m_settings, PreviewSteps(true));
    LayoutDecoded();
    wait.reset();
    UpdateCursor();
}

void CPreviewDlg::RelayoutImage()
{
    if (!HasCurrentFile())
        return;
    // An animation or the error picture is not held decoded: it is shown afresh.
    if (m_bPictureMode) {
        ShowImage(m_nIndex);
        return;
    }
    m_bDragging = false;
    {
        WaitCursor wait;
        LayoutDecoded();
    }
    UpdateCursor();
}

void CPreviewDlg::LayoutDecoded()
{
    const viewgeom::Size screen{m_nScreenW, m_nScreenH};
    const viewgeom::Size shown = viewgeom::DisplaySize(m_image.GetWidth(), m_image.GetHeight(), m_bZoomed,
                                                       m_fZoom, m_bFullSize, screen);
    const viewgeom::Layout layout = viewgeom::LayoutImage(shown, screen);
    m_rcImage = layout.image;
    m_szCanvas = layout.canvas;
    m_nScrollX = viewgeom::ScrollAfterLayout(m_bZoomed, m_bZoomIn, m_nScrollX, shown.width, m_szCanvas.width,
                                             m_nScreenW);
    m_nScrollY = viewgeom::ScrollAfterLayout(m_bZoomed, m_bZoomIn, m_nScrollY, shown.height,
                                             m_szCanvas.height, m_nScreenH);
    m_bCanScroll = m_szCanvas.width > m_nScreenW || m_szCanvas.height > m_nScreenH;
    PrepareDisplay();
    Repaint();
}

void CPreviewDlg::ShowErrorPicture()
{
    m_image.Destroy();
    m_display = QImage();
    m_bPictureMode = true;
    m_bError = true;
    // Nothing is left to drag: the picture that was shown is gone.
    ClearLayout();
    m_picture->UnloadPicture();
    m_picture->LoadPictureResource(IDR_ERROR_PICTURE, "GIF");
    CentrePicture();
    m_picture->StartShow();
    m_picture->show();
    Repaint();
    UpdateCursor();
}

void CPreviewDlg::ShowAnimation(const QString &path, int frameCount, std::uint32_t type)
{
    // A GIF plays its own bytes, or those the preview makes; any other
    // animation plays from its decoded frames.
    bool shown = false;
    if (type == CXIMAGE_FORMAT_GIF && !m_bPreview) {
        shown = m_picture->LoadPictureFile(path);
    } else if (type == CXIMAGE_FORMAT_GIF) {
        std::vector<std::uint8_t> bytes;
        shown = AnimatedGifBytes(path.toStdString(), frameCount, m_settings, PreviewSteps(false), bytes) ==
                    AnimatedResult::Written &&
                m_picture->LoadPicture(bytes.data(), bytes.size());
    } else {
        CConvertJob asStored;
        asStored.m_bAutoRotate = m_image.GetAutoOrient(); // as the stills are shown
        AnimationFrames decoded;
        shown = AnimationFrameList(path.toStdString(), frameCount, m_bPreview ? m_settings : asStored,
                                   PreviewSteps(false), CAnimatedPicture::kMaxDecodedBytes,
                                   decoded) == AnimatedResult::Written;
        std::vector<QImage> frames;
        for (CxImage &frame : decoded.frames) {
            frames.push_back(frame.ToQImage());
            frame.Destroy();
        }
        shown = shown && m_picture->LoadFrames(std::move(frames), decoded.delaysMs);
    }
    if (!shown) {
        m_picture->LoadPictureResource(IDR_ERROR_PICTURE, "GIF");
        if (m_bPreview)
            m_bError = true;
    }
    m_picture->SetBackColour(RGB(255, 255, 255));
    m_picture->StartShow();
    CentrePicture();
    m_picture->show();
}

void CPreviewDlg::CentrePicture()
{
    const QSize size = m_picture->GetPictureSize();
    m_picture->resize(size);
    const viewgeom::Size origin =
        viewgeom::CentreOrigin({size.width(), size.height()}, {m_nScreenW, m_nScreenH});
    m_picture->move(origin.width, origin.height);
}

void CPreviewDlg::ClearLayout()
{
    m_rcImage = {};
    m_szCanvas = {m_nScreenW, m_nScreenH};
    m_nScrollX = m_nScrollY = 0;
    m_bCanScroll = false;
}

void CPreviewDlg::PrepareDisplay()
{
    m_display = QImage();
    if (!m_image.IsValid())
        return;
    const int w = m_image.GetWidth(), h = m_image.GetHeight();
    const int dw = m_rcImage.Width(), dh = m_rcImage.Height();
    // Shrunk pictures are resampled once with the good filter; enlarged ones
    // stay at their own size and only the visible part is scaled when painted.
    if (dw <= w && dh <= h && (dw < w || dh < h)) {
        CxImage reduced;
        if (m_image.Resample(dw, dh, 0, &reduced))
            m_display = reduced.ToQImage();
    }
    if (m_display.isNull())
        m_display = m_image.ToQImage();
}

// ---------------------------------------------------------------------------
// Painting

void CPreviewDlg::Repaint()
{
    m_bCanvasDirty = true;
    update();
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
    if (!m_bPictureMode && !m_display.isNull()) {
        const viewgeom::VisiblePart part = viewgeom::VisibleImagePart(
            m_rcImage, m_nScrollX, m_nScrollY, {width(), height()}, {m_display.width(), m_display.height()});
        if (!part.IsEmpty()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform, part.source.size() != part.target.size());
            p.drawImage(part.target, m_display, part.source);
        }
    }
    m_bCanvasDirty = false;
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
// Zoom and paging

void CPreviewDlg::OnZoomIn()
{
    if (m_bPictureMode || !viewgeom::CanZoomIn(m_fZoom))
        return;
    m_bZoomed = true;
    m_bZoomIn = true;
    m_fZoom = viewgeom::ZoomedIn(m_fZoom);
    RelayoutImage();
}

void CPreviewDlg::OnZoomOut()
{
    if (m_bPictureMode || !viewgeom::CanZoomOut(m_rcImage))
        return;
    m_bZoomed = true;
    m_bZoomIn = false;
    m_fZoom = viewgeom::ZoomedOut(m_fZoom);
    RelayoutImage();
}

void CPreviewDlg::OnActualSize()
{
    if (!m_bZoomed && m_bFullSize)
        return;
    m_bZoomed = false;
    m_fZoom = 1.0f;
    m_bFullSize = true;
    WriteProfileInt(kSettingsSection, settingskey::kViewFullSize, 1);
    RelayoutImage();
}

void CPreviewDlg::OnFit()
{
    if (!m_bZoomed && !m_bFullSize)
        return;
    m_bZoomed = false;
    m_fZoom = 1.0f;
    m_bFullSize = false;
    WriteProfileInt(kSettingsSection, settingskey::kViewFullSize, 0);
    RelayoutImage();
}

void CPreviewDlg::GoTo(int index)
{
    m_fZoom = 1.0f;
    m_bZoomed = false;
    m_nIndex = index;
    ShowImage(m_nIndex);
}

void CPreviewDlg::NextImage()
{
    if (IsLastIndex())
        return;
    GoTo(m_nIndex + 1);
}

void CPreviewDlg::PrevImage()
{
    if (m_nIndex <= 0)
        return;
    GoTo(m_nIndex - 1);
}

void CPreviewDlg::OnNextImage()
{
    NextImage();
}
void CPreviewDlg::OnPrevImage()
{
    PrevImage();
}
void CPreviewDlg::OnExit()
{
    reject();
}

void CPreviewDlg::ScrollBy(int dx, int dy)
{
    if (!m_bCanScroll || m_bDragging)
        return;
    m_nScrollX = viewgeom::ClampScroll(m_nScrollX + dx, m_szCanvas.width, m_nScreenW);
    m_nScrollY = viewgeom::ClampScroll(m_nScrollY + dy, m_szCanvas.height, m_nScreenH);
    Repaint();
}

// ---------------------------------------------------------------------------
// Slideshow

void CPreviewDlg::OnSlideShow()
{
    if (m_bSlideShow) {
        m_pSlideTimer->stop();
        m_bSlideShow = false;
    } else {
        m_pSlideTimer->start(viewgeom::SlideIntervalMs(m_nSlideDelay));
        m_bSlideShow = true;
    }
}

void CPreviewDlg::StopSlideShow()
{
    if (m_bSlideShow)
        OnSlideShow();
}

void CPreviewDlg::OnTimer()
{
    if (!m_bSlideShow)
        return;
    // Runs on from the last picture to the first, for ever.
    if (IsLastIndex())
        m_nIndex = -1;
    NextImage();
}

void CPreviewDlg::OnSlideDelay()
{
    CSlideDelayDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    m_nSlideDelay =
        GetProfileInt(kSettingsSection, settingskey::kSlideShowDelay, settingsdefault::kSlideShowDelay);
    if (m_bSlideShow) {
        m_pSlideTimer->stop();
        m_pSlideTimer->start(viewgeom::SlideIntervalMs(m_nSlideDelay));
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

void CPreviewDlg::OnKeyDown(QKeyEvent *event)
{
    const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
    const int key = event->key();
    // Digits and the arithmetic keys count only on the numeric pad (the
    // main keyboard's plus and minus keys are the exception).
    auto pad = [&](Qt::Key k) { return keypad && key == k; };

    if (key == Qt::Key_Escape) {
        reject();
    } else if (key == Qt::Key_Space) {
        if (IsLastIndex())
            GoTo(0);
        else
            NextImage();
        StopSlideShow();
    } else if (key == Qt::Key_PageDown || pad(Qt::Key_3)) {
        NextImage();
        StopSlideShow();
    } else if (key == Qt::Key_PageUp || pad(Qt::Key_9)) {
        PrevImage();
        StopSlideShow();
    } else if (key == Qt::Key_Home || pad(Qt::Key_7)) {
        if (m_nIndex != 0 && FileCount() > 0)
            GoTo(0);
        StopSlideShow();
    } else if (key == Qt::Key_End || pad(Qt::Key_1)) {
        if (m_nIndex != FileCount() - 1 && FileCount() > 0)
            GoTo(FileCount() - 1);
        StopSlideShow();
    } else if (key == Qt::Key_Up || pad(Qt::Key_8)) {
        ScrollBy(0, -viewgeom::kScrollStepY);
    } else if (key == Qt::Key_Down || pad(Qt::Key_2)) {
        ScrollBy(0, viewgeom::kScrollStepY);
    } else if (key == Qt::Key_Left || pad(Qt::Key_4)) {
        ScrollBy(-viewgeom::kScrollStepX, 0);
    } else if (key == Qt::Key_Right || pad(Qt::Key_6)) {
        ScrollBy(viewgeom::kScrollStepX, 0);
    } else if (key == Qt::Key_Plus || (!keypad && key == Qt::Key_Equal)) {
        OnZoomIn();
    } else if (key == Qt::Key_Minus || (!keypad && key == Qt::Key_Underscore)) {
        OnZoomOut();
    } else if (pad(Qt::Key_Asterisk)) {
        OnFit();
    } else if (pad(Qt::Key_Slash)) {
        OnActualSize();
    } else if (key == Qt::Key_Delete || pad(Qt::Key_Period) || pad(Qt::Key_Comma)) {
        OnDelete();
    }
    // Enter and everything else: swallowed.
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
    const bool over = viewgeom::StrictlyInside(m_rcImage, p.x() + m_nScrollX, p.y() + m_nScrollY);
    SetCursorKind(m_bCanScroll && over ? CursorKind::Hand : CursorKind::Arrow);
}

void CPreviewDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_bCanScroll)
        return;
    const QPoint p = event->position().toPoint();
    if (viewgeom::StrictlyInside(m_rcImage, p.x() + m_nScrollX, p.y() + m_nScrollY)) {
        m_ptDrag = p;
        m_bDragging = true;
        SetCursorKind(CursorKind::Dragging);
    }
}

void CPreviewDlg::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (m_bDragging) {
        m_nScrollX = viewgeom::ClampScroll(m_nScrollX + m_ptDrag.x() - p.x(), m_szCanvas.width, m_nScreenW);
        m_nScrollY = viewgeom::ClampScroll(m_nScrollY + m_ptDrag.y() - p.y(), m_szCanvas.height, m_nScreenH);
        m_ptDrag = p;
        Repaint();
    } else if (m_bCanScroll) {
        const bool over = viewgeom::StrictlyInside(m_rcImage, p.x() + m_nScrollX, p.y() + m_nScrollY);
        SetCursorKind(over ? CursorKind::Hand : CursorKind::Arrow);
    }
}

void CPreviewDlg::mouseReleaseEvent(QMouseEvent *event)
{
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

QMenu *CPreviewDlg::BuildContextMenu()
{
    PreviewMenuState state;
    state.mode = m_nOpenMode;
    state.hasFile = HasCurrentFile();
    state.atFirst = m_nIndex == 0;
    state.atLast = IsLastIndex();
    state.pictureMode = m_bPictureMode;
    state.error = m_bError;
    state.zoomed = m_bZoomed;
    state.fullSize = m_bFullSize;
    state.slideShow = m_bSlideShow;
    return BuildPreviewMenu(this, state);
}

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

void CPreviewDlg::RunCommand(int id)
{
    switch (id) {
    case ID_NEXT_IMAGE:
        OnNextImage();
        break;
    case ID_PREV_IMAGE:
        OnPrevImage();
        break;
    case ID_ZOOM_IN:
        OnZoomIn();
        break;
    case ID_ZOOM_OUT:
        OnZoomOut();
        break;
    case ID_ACTUAL_SIZE:
        OnActualSize();
        break;
    case ID_FIT:
        OnFit();
        break;
    case ID_SLIDESHOW:
        OnSlideShow();
        break;
    case ID_SLIDE_DELAY:
        OnSlideDelay();
        break;
    case ID_EXIT:
        OnExit();
        break;
    case ID_COPY_TO:
        OnCopyTo();
        break;
    case ID_MOVE_TO:
        OnMoveTo();
        break;
    case ID_DELETE:
        OnDelete();
        break;
    case ID_ADD_TO_LIST:
        OnAddToList();
        break;
    case ID_REMOVE_FROM_LIST:
        OnRemoveFromList();
        break;
    case ID_BACK_COLOUR:
        OnBackColour();
        break;
    default:
        break;
    }
}
