#include "previewdlg.h"

#include "animatedpicture.h"
#include "animation.h"
#include "colourprofile.h"
#include "cxanimation.h"
#include "ids_viewer.h"
#include "previewmenu.h"
#include "previewprocess.h"
#include "settingsstore.h"
#include "slidedelaydlg.h"
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

bool CPreviewDlg::IsReading() const
{
    return m_bPartial || m_pRefineTimer->isActive() || m_loader->IsBusy();
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
    const viewgeom::Size screen{m_nScreenW, m_nScreenH};
    const bool fullSize = m_bFullSize;
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
    m_bFullSize = GetProfileInt(kSettingsSection, kViewFullSize, settingsdefault::kViewFullSize) != 0;
    m_nSlideDelay = GetProfileInt(kSettingsSection, kSlideShowDelay, settingsdefault::kSlideShowDelay);
    m_info->SetPinned(GetProfileInt(kSettingsSection, kViewInfo, 0) != 0);
    m_crBack = ReadPreviewBackground();
    m_bAutoOrient = GetProfileInt(kSettingsSection, kAutoRotate, 1) != 0;

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
    ConfigureLoader();
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
    m_pRefineTimer->stop();
    m_loader->Clear();
    m_shownPath.clear();
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
    // Whichever way the picture comes out, the user is told where they are.
    const auto flash = qScopeGuard([this] { FlashInfo(); });
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
    m_pImage.reset();
    m_display = QImage();
    m_bPartial = m_bRegion = m_bQuickPaint = false;
    ++m_nDisplaySerial; // copies still being made are for the picture before
    m_pRefineTimer->stop();
    QStringList kept{path};
    for (const int i : {index - 1, index + 1})
        if (i >= 0 && i < FileCount())
            kept << m_pFiles->at(i);
    m_loader->KeepOnly(kept);
    if (path == m_shownPath)
        m_loader->Forget(path);
    m_shownPath = path;

    viewwork::Picture picture;
    if (!m_loader->Take(path, picture)) {
        WaitCursor wait;
        if (!m_bPreview) {
            const viewgeom::Size screen{m_nScreenW, m_nScreenH};
            viewwork::FirstLook look =
                viewwork::DecodeFirstLook(path.toStdString(), m_bAutoOrient, m_bFullSize, screen);
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
                                                      m_bFullSize, screen));
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
    m_bPartial = true;
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
        m_pImage.reset();
        m_display = QImage();
        m_bPartial = m_bRegion = false;
        m_bPictureMode = true;
        {
            WaitCursor wait;
            ShowAnimation(m_pFiles->at(m_nIndex), frames, animationType);
        }
        ClearLayout();
        Repaint();
        UpdateCursor();
        ReadAhead();
        return;
    }
    m_pImage = picture.image ? picture.image : std::make_shared<const CxImage>();
    m_bPartial = m_bRegion = false;
    m_natural = {m_pImage->GetWidth(), m_pImage->GetHeight()};
    m_display = picture.display;
    LayoutDecoded(keepView);
    UpdateCursor();
    ReadAhead();
}

void CPreviewDlg::EnsureWhole()
{
    if (!m_bPartial || !HasCurrentFile())
        return;
    WaitCursor wait;
    const viewwork::Picture picture = m_loader->Wait(m_pFiles->at(m_nIndex));
    UsePicture(picture, true);
}

void CPreviewDlg::OnFetched(const QString &path)
{
    if (!m_bPartial || !HasCurrentFile() || m_pFiles->at(m_nIndex) != path)
        return;
    viewwork::Picture picture;
    if (m_loader->Take(path, picture))
        UsePicture(picture, true);
}

void CPreviewDlg::ReadAhead()
{
    if (m_bPreview || m_bPartial || !HasCurrentFile())
        return;
    for (const int i : {m_nIndex + m_nStep, m_nIndex - m_nStep})
        if (i >= 0 && i < FileCount())
            m_loader->Fetch(m_pFiles->at(i), true);
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
    // Only a part of the picture is in: the rest is needed now.
    if (m_bRegion)
        EnsureWhole();
    LayoutDecoded();
    UpdateCursor();
    FlashInfo();
}

void CPreviewDlg::FlashInfo()
{
    if (!HasCurrentFile())
        return;
    int percent = -1;
    if (m_bPictureMode)
        percent = m_bError ? -1 : 100; // an animation plays at its own size
    else if (m_pImage && m_pImage->IsValid() && m_natural.width > 0)
        percent = int(std::lround(100.0 * m_rcImage.Width() / m_natural.width));
    m_info->Flash(QFileInfo(m_pFiles->at(m_nIndex)).fileName(),
                  CViewerInfo::Where(m_nIndex, FileCount(), percent));
}

void CPreviewDlg::LayoutDecoded(bool keepView)
{
    const viewgeom::Size screen{m_nScreenW, m_nScreenH};
    const viewgeom::Size shown =
        viewgeom::DisplaySize(m_natural.width, m_natural.height, m_bZoomed, m_fZoom, m_bFullSize, screen);
    const viewgeom::Layout layout = viewgeom::LayoutImage(shown, screen);
    m_rcImage = layout.image;
    m_szCanvas = layout.canvas;
    if (keepView) {
        m_nScrollX = viewgeom::ClampScroll(m_nScrollX, m_szCanvas.width, m_nScreenW);
        m_nScrollY = viewgeom::ClampScroll(m_nScrollY, m_szCanvas.height, m_nScreenH);
    } else {
        m_nScrollX = viewgeom::ScrollAfterLayout(m_bZoomed, m_bZoomIn, m_nScrollX, shown.width,
                                                 m_szCanvas.width, m_nScreenW);
        m_nScrollY = viewgeom::ScrollAfterLayout(m_bZoomed, m_bZoomIn, m_nScrollY, shown.height,
                                                 m_szCanvas.height, m_nScreenH);
    }
    m_bCanScroll = m_szCanvas.width > m_nScreenW || m_szCanvas.height > m_nScreenH;
    // A copy of another size is drawn scaled until the right one is made,
    // and a zoom step's quick drawing redrawn properly once the steps pause.
    if (m_bQuickPaint || (!m_bPartial && m_pImage && m_pImage->IsValid() &&
                          !viewwork::DisplayFits(m_display.size(), m_natural, shown)))
        m_pRefineTimer->start();
    Repaint();
}

void CPreviewDlg::OnRefine()
{
    m_bQuickPaint = false;
    if (!m_bPictureMode && !m_bPartial && m_pImage && m_pImage->IsValid()) {
        const viewgeom::Size shown{m_rcImage.Width(), m_rcImage.Height()};
        if (!viewwork::DisplayFits(m_display.size(), m_natural, shown))
            m_loader->MakeDisplay(m_pImage, shown, ++m_nDisplaySerial);
    }
    Repaint();
}

void CPreviewDlg::OnDisplayMade(int serial, const QImage &display)
{
    const viewgeom::Size shown{m_rcImage.Width(), m_rcImage.Height()};
    if (serial != m_nDisplaySerial || m_bPictureMode ||
        !viewwork::DisplayFits(display.size(), m_natural, shown))
        return;
    m_display = display;
    Repaint();
}

void CPreviewDlg::ShowErrorPicture()
{
    m_pImage.reset();
    m_shownPath.clear();
    m_display = QImage();
    m_bPartial = m_bRegion = false;
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
        // A top left part at scale 1 is drawn as the picture of its own size
        // would be, cut to what the part holds.
        const viewgeom::Size drawn =
            m_bRegion ? m_natural : viewgeom::Size{m_display.width(), m_display.height()};
        viewgeom::VisiblePart part =
            viewgeom::VisibleImagePart(m_rcImage, m_nScrollX, m_nScrollY, {width(), height()}, drawn);
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
// Zoom and paging

void CPreviewDlg::OnZoomIn()
{
    if (m_bPictureMode || !viewgeom::CanZoomIn(m_fZoom))
        return;
    m_bZoomed = true;
    m_bZoomIn = true;
    m_fZoom = viewgeom::ZoomedIn(m_fZoom);
    m_bQuickPaint = true;
    RelayoutImage();
}

void CPreviewDlg::OnZoomOut()
{
    if (m_bPictureMode || !viewgeom::CanZoomOut(m_rcImage))
        return;
    m_bZoomed = true;
    m_bZoomIn = false;
    m_fZoom = viewgeom::ZoomedOut(m_fZoom);
    m_bQuickPaint = true;
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
    m_loader->SetShownSize(ShownSizeRule());
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
    m_loader->SetShownSize(ShownSizeRule());
    RelayoutImage();
}

void CPreviewDlg::GoTo(int index)
{
    m_nStep = index < m_nIndex ? -1 : 1;
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
    } else if (key == Qt::Key_I && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        // The name, position and zoom stay on show, or go back to showing
        // only after a change.
        m_info->SetPinned(!m_info->IsPinned());
        WriteProfileInt(kSettingsSection, settingskey::kViewInfo, m_info->IsPinned() ? 1 : 0);
        if (m_info->IsPinned())
            FlashInfo();
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
