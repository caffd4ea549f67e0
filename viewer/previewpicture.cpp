// CPreviewDlg's picture: reading the current entry (a first look, the whole
// of it, an animation or the error picture) and laying it out on the canvas.
#include "viewer/previewdlg.h"

#include "controls/animatedpicture.h"
#include "convert/animation.h"
#include "convert/naming.h"
#include "imaging/cxanimation.h"
#include "resources/ids_viewer.h"
#include "viewer/previewprocess.h"
#include "viewer/viewerinfo.h"
#include "controls/waitcursor.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace viewerid;

const CxImage &CPreviewDlg::GetImage() const
{
    static const CxImage none;
    return m_pImage ? *m_pImage : none;
}

bool CPreviewDlg::IsReading() const
{
    return m_state == PictureState::FirstLook || m_pRefineTimer->isActive() || m_pDetailTimer->isActive() ||
           m_bDetailBusy || m_loader->IsBusy();
}

void CPreviewDlg::ConfigureLoader()
{
    viewwork::CPictureLoader::Prepare prepare;
    if (m_bPreview)
        // The loader's threads draw with a copy: the list may change here.
        prepare = [this, settings = m_settings](CxImage &img, const QString &path) {
            if (!AnimationShown(img))
                TransformImage(img, JobDrawing(settings, path.toStdString()), PreviewSteps(true));
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

void CPreviewDlg::ShowImage(int index)
{
    const QString path = m_model.At(index);
    if (path.isEmpty())
        return;
    // Another file starts at its first page.
    if (path != m_shownPath) {
        m_nPage = 1;
        m_nPages = 0;
        m_loader->SetPage(QString(), 0);
    }
    // Whichever way the picture comes out, the user is told where they are.
    const auto flash = qScopeGuard([this] { FlashInfo(); });
    m_bDragging = false;
    if (m_bOutputMode) {
        ShowOutputFor(path);
        return;
    }
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
        // A first look is of the first page only.
        if (!m_bPreview && m_nPage == 1) {
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
    m_nPages = picture.pages;
    UsePicture(picture, false);
}

bool CPreviewDlg::TurnPage(int delta)
{
    const int page = m_nPage + delta;
    if (m_bOutputMode || m_nPages < 2 || page < 1 || page > m_nPages || m_model.Current() != m_shownPath)
        return false;
    m_nPage = page;
    m_loader->SetPage(m_shownPath, page);
    ShowImage(m_model.Index());
    return true;
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
    // A picture too large to hold, shown reduced, is laid out at its own
    // size: its actual size is the file's, its detail decoded as viewed.
    // (A preview's picture is what its steps made.)
    m_bReduced = !m_bPreview && viewwork::IsReduced(*m_pImage);
    m_bDecodesScaled = m_bReduced && viewwork::DecodesScaled(m_shownPath.toStdString());
    m_natural = m_bReduced ? viewgeom::Size{m_pImage->GetSrcWidth(), m_pImage->GetSrcHeight()}
                           : viewgeom::Size{m_pImage->GetWidth(), m_pImage->GetHeight()};
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
    if (IsPictureMode() || m_bOutputMode)
        percent = IsError() ? -1 : 100; // an animation and the output show at their own size
    else if (m_pImage && m_pImage->IsValid() && m_natural.width > 0)
        // A picture shown from a reduced decode is measured against its own size.
        percent = int(std::lround(100.0 * m_rcImage.Width() /
                                  (viewwork::IsPartial(*m_pImage) ? m_pImage->GetSrcWidth() : m_natural.width)));
    QString where = CViewerInfo::Where(m_model.Index(), m_model.Count(), percent);
    if (m_nPages > 1 && !m_bOutputMode)
        where += QStringLiteral("   ") + tr("第 %1/%2 页").arg(m_nPage).arg(m_nPages);
    m_info->Flash(QFileInfo(m_model.Current()).fileName(), where);
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
                          !viewwork::DisplayFits(m_display.size(), Held(), shown)))
        m_pRefineTimer->start();
    Repaint();
}

void CPreviewDlg::OnRefine()
{
    m_bQuickPaint = false;
    if (m_state == PictureState::Whole && m_pImage && m_pImage->IsValid()) {
        const viewgeom::Size shown{m_rcImage.Width(), m_rcImage.Height()};
        if (!viewwork::DisplayFits(m_display.size(), Held(), shown))
            m_loader->MakeDisplay(m_pImage, shown, ++m_nDisplaySerial);
    }
    Repaint();
}

void CPreviewDlg::OnDisplayMade(int serial, const QImage &display)
{
    const viewgeom::Size shown{m_rcImage.Width(), m_rcImage.Height()};
    if (serial != m_nDisplaySerial || IsPictureMode() ||
        !viewwork::DisplayFits(display.size(), Held(), shown))
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
    const bool playsBytes = type == CXIMAGE_FORMAT_GIF; // the picture control's own player reads GIF only
    if (playsBytes && !m_bPreview) {
        shown = m_picture->LoadPictureFile(path);
    } else if (playsBytes) {
        std::vector<std::uint8_t> bytes;
        shown = AnimatedGifBytes(path.toStdString(), frameCount, JobDrawing(m_settings, path.toStdString()),
                                 PreviewSteps(false), bytes) ==
                    AnimatedResult::Written &&
                m_picture->LoadPicture(bytes.data(), bytes.size());
    } else {
        CConvertJob asStored;
        asStored.m_bAutoRotate = m_bAutoOrient; // as the stills are shown
        AnimationFrames decoded;
        shown = AnimationFrameList(path.toStdString(), frameCount, m_bPreview ? JobDrawing(m_settings, path.toStdString()) : asStored,
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

viewgeom::Size CPreviewDlg::Held() const
{
    return m_bReduced && m_pImage ? viewgeom::Size{m_pImage->GetWidth(), m_pImage->GetHeight()} : m_natural;
}

void CPreviewDlg::OnDetail()
{
    if (m_state != PictureState::Whole || !m_pImage || !m_bReduced || m_bDetailRefused || m_bOutputMode ||
        !m_model.HasCurrent())
        return;
    const viewwork::DetailPlan plan = viewwork::PlanDetail(
        m_natural, Held(), m_rcImage, m_view.scrollX, m_view.scrollY, {width(), height()}, m_bDecodesScaled);
    if (plan.denom == 0) {
        m_detail = QImage();
        return;
    }
    // What is held already covers the part in view at that scale.
    const viewgeom::VisiblePart seen = viewgeom::VisibleImagePart(m_rcImage, m_view.scrollX, m_view.scrollY,
                                                                  {width(), height()}, plan.scaled);
    if (!m_detail.isNull() && m_szDetailScaled.width == plan.scaled.width &&
        QRectF(m_rcDetail).contains(seen.source))
        return;
    if (m_bDetailBusy) {
        // The part being decoded is out of view: the one in view comes next.
        m_loader->CancelDetail();
        m_bDetailAgain = true;
        return;
    }
    m_bDetailBusy = true;
    m_bDetailAgain = false;
    m_loader->MakeDetail(m_shownPath, m_bAutoOrient, plan, ++m_nDetailSerial);
}

void CPreviewDlg::OnDetailMade(int serial, const viewwork::DetailPlan &plan, const QImage &detail)
{
    m_bDetailBusy = false;
    // A file that cannot give a part (a progressive or turned JPEG, an
    // interlaced PNG) is not asked again.
    if (serial == m_nDetailSerial && detail.isNull() && !m_bDetailAgain)
        m_bDetailRefused = true;
    if (serial == m_nDetailSerial && m_state == PictureState::Whole && !detail.isNull()) {
        m_detail = detail;
        m_rcDetail = plan.region;
        m_szDetailScaled = plan.scaled;
        m_bCanvasDirty = true;
        update();
    }
    if (m_bDetailAgain)
        OnDetail();
}

void CPreviewDlg::DropDecoded()
{
    m_pImage.reset();
    m_display = QImage();
    m_detail = QImage();
    m_bReduced = false;
    m_bDetailRefused = false;
    ++m_nDetailSerial; // a part still being decoded is of the picture before
    m_bDetailAgain = false;
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
