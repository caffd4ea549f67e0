#include "previewdlg.h"

#include "animatedpicture.h"
#include "animation.h"
#include "colourprofile.h"
#include "cxanimation.h"
#include "ids_viewer.h"
#include "previewprocess.h"
#include "settingsstore.h"
#include "viewerinfo.h"
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
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>
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

// A zoom step's quick drawing is redrawn properly, and the copy at the new
// size made, once the steps pause this long.
constexpr int kRefineDelayMs = 40;
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

const CxImage &CPreviewDlg::GetImage() const
{
    static const CxImage none;
    return m_pImage ? *m_pImage : none;
}

void CPreviewDlg::SetFileList(QStringList *files)
{
    m_pOpenerList = files;
    m_model.SetPaths(files ? *files : QStringList());
}

bool CPreviewDlg::IsReading() const
{
    return m_state == PictureState::FirstLook || m_pRefineTimer->isActive() || m_loader->IsBusy();
}

void CPreviewDlg::ConfigureLoader()
{
    viewwork::CPictureLoader::Prepare prepare;
    if (m_bPreview)
        prepare = [this](CxImage &img) {
            if (!AnimationShown(img))
                TransformImage(img, m_settings, PreviewSteps(true));
        };
    m_loader->Configure(m_bAutoOrient, std::move(prepare), ShownSizeRule());
}

viewwork::CPictureLoader::ShownSize CPreviewDlg::ShownSizeRule() const
{
    const viewgeom::Size screen = m_screen;
    const bool fullSize = m_view.fullSize;
    return [screen, fullSize](viewgeom::Size natural) {
        return viewgeom::DisplaySize(natural.width, natural.height, false, 1.0f, fullSize, screen);
    };
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
    // Run again, the dialog starts afresh.
    m_bInitialised = false;
    QDialog::done(result);
}

int CPreviewDlg::GetSlideTimerInterval() const
{
    return m_pSlideTimer->isActive() ? m_pSlideTimer->interval() : -1;
}

// ---------------------------------------------------------------------------
// Loading and layout

void CPreviewDlg::ShowImage(int index)
{
    const QString path = m_model.At(index);
    if (path.isEmpty())
        return;
    // Whichever way the picture comes out, the user is told where they are.
    const auto flash = qScopeGuard([this] { FlashInfo(); });
    m_bDragging = false;
    if (!QFileInfo(path).isFile()) {
        ShowErrorPicture();
        return;
    }
    if (IsPictureMode()) {
        m_picture->UnloadPicture();
        m_picture->hide();
    }
    DropDecoded();
    m_bQuickPaint = false;
    ++m_nDisplaySerial; // copies still being made are for the picture before
    m_pRefineTimer->stop();
    QStringList kept{path};
    for (const int i : {index - 1, index + 1})
        if (!m_model.At(i).isEmpty())
            kept << m_model.At(i);
    m_loader->KeepOnly(kept);
    if (path == m_shownPath)
        m_loader->Forget(path);
    m_shownPath = path;

    viewwork::Picture picture;
    if (!m_loader->Take(path, picture)) {
        WaitCursor wait;
        if (!m_bPreview) {
            const viewgeom::Size screen = m_screen;
            viewwork::FirstLook look =
                viewwork::DecodeFirstLook(path.toStdString(), m_bAutoOrient, m_view.fullSize, screen);
            const std::shared_ptr<const CxImage> first = look.image;
            if (first && viewwork::IsPartial(*first)) {
                m_loader->Fetch(path, false);
                ShowFirstLook(std::move(look));
                return;
            }
            if (first) {
                picture.image = first;
                if (!AnimationShown(*first))
                    picture.display = viewwork::DisplayCopy(
                        *first, viewgeom::DisplaySize(first->GetWidth(), first->GetHeight(), false, 1.0f,
                                                      m_view.fullSize, screen));
                m_loader->Keep(path, picture);
            }
        }
        if (!picture.image)
            picture = m_loader->Wait(path);
    }
    UsePicture(picture, false);
}

std::uint32_t CPreviewDlg::AnimationShown(const CxImage &img) const
{
    return img.IsValid() && IsAnimationType(img.GetType()) && img.GetNumFrames() >= 2
               ? PreviewAnimationType(m_bPreview, m_settings.m_szFormat, img.GetType())
               : 0;
}

void CPreviewDlg::ShowFirstLook(viewwork::FirstLook look)
{
    const CxImage &first = *look.image;
    m_natural = {first.GetSrcWidth(), first.GetSrcHeight()};
    m_bRegion = look.region;
    m_state = PictureState::FirstLook;
    m_display = viewwork::DisplayCopy(first, {first.GetWidth(), first.GetHeight()});
    m_pImage = std::move(look.image);
    LayoutDecoded();
    UpdateCursor();
}

void CPreviewDlg::UsePicture(const viewwork::Picture &picture, bool keepView)
{
    const CxImage *img = picture.image.get();
    if (const std::uint32_t animationType = img ? AnimationShown(*img) : 0) {
        const int frames = img->GetNumFrames();
        DropDecoded();
        m_state = PictureState::Animation;
        {
            WaitCursor wait;
            ShowAnimation(m_model.Current(), frames, animationType);
        }
        ClearLayout();
        Repaint();
        UpdateCursor();
        ReadAhead();
        return;
    }
    m_pImage = picture.image ? picture.image : std::make_shared<const CxImage>();
    m_bRegion = false;
    m_state = PictureState::Whole;
    m_natural = {m_pImage->GetWidth(), m_pImage->GetHeight()};
    m_display = picture.display;
    LayoutDecoded(keepView);
    UpdateCursor();
    ReadAhead();
}

void CPreviewDlg::EnsureWhole()
{
    if (m_state != PictureState::FirstLook || !m_model.HasCurrent())
        return;
    WaitCursor wait;
    const viewwork::Picture picture = m_loader->Wait(m_model.Current());
    UsePicture(picture, true);
}

void CPreviewDlg::OnFetched(const QString &path)
{
    if (m_state != PictureState::FirstLook || !m_model.HasCurrent() || m_model.Current() != path)
        return;
    viewwork::Picture picture;
    if (m_loader->Take(path, picture))
        UsePicture(picture, true);
}

void CPreviewDlg::ReadAhead()
{
    if (m_bPreview || m_state == PictureState::FirstLook || !m_model.HasCurrent())
        return;
    const int index = m_model.Index();
    for (const int i : {index + m_model.Step(), index - m_model.Step()})
        if (!m_model.At(i).isEmpty())
            m_loader->Fetch(m_model.At(i), true);
}

void CPreviewDlg::RelayoutImage()
{
    if (!m_model.HasCurrent())
        return;
    // An animation or the error picture is not held decoded: it is shown afresh.
    if (IsPictureMode()) {
        ShowImage(m_model.Index());
        return;
    }
    m_bDragging = false;
    // Only a part of the picture is in: the rest is needed now.
    if (m_bRegion)
        EnsureWhole();
    LayoutDecoded();
    UpdateCursor();
    FlashInfo();
}

void CPreviewDlg::FlashInfo()
{
    if (!m_model.HasCurrent())
        return;
    int percent = -1;
    if (IsPictureMode())
        percent = IsError() ? -1 : 100; // an animation plays at its own size
    else if (m_pImage && m_pImage->IsValid() && m_natural.width > 0)
        percent = int(std::lround(100.0 * m_rcImage.Width() / m_natural.width));
    m_info->Flash(QFileInfo(m_model.Current()).fileName(),
                  CViewerInfo::Where(m_model.Index(), m_model.Count(), percent));
}

void CPreviewDlg::LayoutDecoded(bool keepView)
{
    viewgeom::View &v = m_view;
    const viewgeom::Size shown =
        viewgeom::DisplaySize(m_natural.width, m_natural.height, v.zoomed, v.zoom, v.fullSize, m_screen);
    const viewgeom::Layout layout = viewgeom::LayoutImage(shown, m_screen);
    m_rcImage = layout.image;
    m_szCanvas = layout.canvas;
    if (keepView) {
        v.scrollX = viewgeom::ClampScroll(v.scrollX, m_szCanvas.width, m_screen.width);
        v.scrollY = viewgeom::ClampScroll(v.scrollY, m_szCanvas.height, m_screen.height);
    } else {
        v.scrollX = viewgeom::ScrollAfterLayout(v.zoomed, v.zoomIn, v.scrollX, shown.width, m_szCanvas.width,
                                                m_screen.width);
        v.scrollY = viewgeom::ScrollAfterLayout(v.zoomed, v.zoomIn, v.scrollY, shown.height,
                                                m_szCanvas.height, m_screen.height);
    }
    m_bCanScroll = m_szCanvas.width > m_screen.width || m_szCanvas.height > m_screen.height;
    // A copy of another size is drawn scaled until the right one is made,
    // and a zoom step's quick drawing redrawn properly once the steps pause.
    if (m_bQuickPaint || (m_state == PictureState::Whole && m_pImage && m_pImage->IsValid() &&
                          !viewwork::DisplayFits(m_display.size(), m_natural, shown)))
        m_pRefineTimer->start();
    Repaint();
}

void CPreviewDlg::OnRefine()
{
    m_bQuickPaint = false;
    if (m_state == PictureState::Whole && m_pImage && m_pImage->IsValid()) {
        const viewgeom::Size shown{m_rcImage.Width(), m_rcImage.Height()};
        if (!viewwork::DisplayFits(m_display.size(), m_natural, shown))
            m_loader->MakeDisplay(m_pImage, shown, ++m_nDisplaySerial);
    }
    Repaint();
}

void CPreviewDlg::OnDisplayMade(int serial, const QImage &display)
{
    const viewgeom::Size shown{m_rcImage.Width(), m_rcImage.Height()};
    if (serial != m_nDisplaySerial || IsPictureMode() ||
        !viewwork::DisplayFits(display.size(), m_natural, shown))
        return;
    m_display = display;
    Repaint();
}

void CPreviewDlg::ShowErrorPicture()
{
    DropDecoded();
    m_shownPath.clear();
    m_state = PictureState::Error;
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
        asStored.m_bAutoRotate = m_bAutoOrient; // as the stills are shown
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
            m_state = PictureState::Error;
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
    const viewgeom::Size origin = viewgeom::CentreOrigin({size.width(), size.height()}, m_screen);
    m_picture->move(origin.width, origin.height);
}

void CPreviewDlg::DropDecoded()
{
    m_pImage.reset();
    m_display = QImage();
    m_bRegion = false;
    m_state = PictureState::Empty;
}

void CPreviewDlg::ClearLayout()
{
    m_rcImage = {};
    m_szCanvas = m_screen;
    m_view.scrollX = m_view.scrollY = 0;
    m_bCanScroll = false;
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
    if (!IsPictureMode() && !m_display.isNull()) {
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
    if (event->button() != Qt::LeftButton || !m_bCanScroll)
        return;
    const QPoint p = event->position().toPoint();
    if (viewgeom::StrictlyInside(m_rcImage, p.x() + m_view.scrollX, p.y() + m_view.scrollY)) {
        m_ptDrag = p;
        m_bDragging = true;
        SetCursorKind(CursorKind::Dragging);
    }
}

void CPreviewDlg::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
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
