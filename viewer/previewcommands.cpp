// CPreviewDlg's commands: zoom, paging and the slideshow, the keys and the
// context menu that give them, and the file commands on the current entry.
#include "viewer/previewdlg.h"

#include "controls/animatedpicture.h"
#include "viewer/backcolourdlg.h"
#include "resources/ids_viewer.h"
#include "viewer/previewmenu.h"
#include "settings/settingsstore.h"
#include "viewer/slidedelaydlg.h"
#include "viewer/viewerfileops.h"
#include "viewer/viewerinfo.h"
#include "controls/waitcursor.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>

#include <optional>

namespace {

using namespace viewerid;

// Holds a value for the span of a scope and puts the old one back.
template <typename T> class ScopedValue {
public:
    ScopedValue(T &ref, T value) : m_ref(ref), m_old(ref) { m_ref = value; }
    ~ScopedValue() { m_ref = m_old; }
    ScopedValue(const ScopedValue &) = delete;
    ScopedValue &operator=(const ScopedValue &) = delete;

private:
    T &m_ref;
    T m_old;
};

} // namespace

// ---------------------------------------------------------------------------
// Zoom and paging

void CPreviewDlg::OnZoomIn()
{
    if (IsPictureMode() || m_bOutputMode || !viewgeom::CanZoomIn(m_view.zoom))
        return;
    m_view.zoomed = true;
    m_view.zoomIn = true;
    m_view.zoom = viewgeom::ZoomedIn(m_view.zoom);
    m_bQuickPaint = true;
    RelayoutImage();
}

void CPreviewDlg::OnZoomOut()
{
    if (IsPictureMode() || m_bOutputMode || !viewgeom::CanZoomOut(m_rcImage))
        return;
    m_view.zoomed = true;
    m_view.zoomIn = false;
    m_view.zoom = viewgeom::ZoomedOut(m_view.zoom);
    m_bQuickPaint = true;
    RelayoutImage();
}

void CPreviewDlg::OnActualSize()
{
    // The output is always shown at its own size.
    if (m_bOutputMode || (!m_view.zoomed && m_view.fullSize))
        return;
    m_view.Unzoom();
    m_view.fullSize = true;
    WriteProfileInt(kSettingsSection, settingskey::kViewFullSize, 1);
    m_loader->SetShownSize(ShownSizeRule());
    RelayoutImage();
}

void CPreviewDlg::OnFit()
{
    if (m_bOutputMode || (!m_view.zoomed && !m_view.fullSize))
        return;
    m_view.Unzoom();
    m_view.fullSize = false;
    WriteProfileInt(kSettingsSection, settingskey::kViewFullSize, 0);
    m_loader->SetShownSize(ShownSizeRule());
    RelayoutImage();
}

void CPreviewDlg::ShowTurned()
{
    m_view.Unzoom();
    ShowImage(m_model.Index());
}

void CPreviewDlg::NextImage()
{
    if (m_model.Next())
        ShowTurned();
}

void CPreviewDlg::PrevImage()
{
    if (m_model.Prev())
        ShowTurned();
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
    m_view.scrollX = viewgeom::ClampScroll(m_view.scrollX + dx, m_szCanvas.width, m_screen.width);
    m_view.scrollY = viewgeom::ClampScroll(m_view.scrollY + dy, m_szCanvas.height, m_screen.height);
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
    if (m_model.Tick())
        ShowTurned();
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

void CPreviewDlg::OnKeyDown(QKeyEvent *event)
{
    const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
    const int key = event->key();
    // Digits and the arithmetic keys count only on the numeric pad (the
    // main keyboard's plus and minus keys are the exception).
    auto pad = [&](Qt::Key k) { return keypad && key == k; };

    if (OnOutputKey(event)) {
        // the output mode's keys
    } else if (key == Qt::Key_Escape) {
        reject();
    } else if (key == Qt::Key_Space) {
        if (m_model.NextOrFirst())
            ShowTurned();
        StopSlideShow();
    } else if ((key == Qt::Key_PageDown || key == Qt::Key_PageUp) &&
               event->modifiers().testFlag(Qt::ControlModifier)) {
        // Ctrl turns the pages of a document; the file stays.
        TurnPage(key == Qt::Key_PageDown ? 1 : -1);
        StopSlideShow();
    } else if (key == Qt::Key_PageDown || pad(Qt::Key_3)) {
        NextImage();
        StopSlideShow();
    } else if (key == Qt::Key_PageUp || pad(Qt::Key_9)) {
        PrevImage();
        StopSlideShow();
    } else if (key == Qt::Key_Home || pad(Qt::Key_7)) {
        if (m_model.First())
            ShowTurned();
        StopSlideShow();
    } else if (key == Qt::Key_End || pad(Qt::Key_1)) {
        if (m_model.Last())
            ShowTurned();
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
// Context menu

QMenu *CPreviewDlg::BuildContextMenu()
{
    PreviewMenuState state;
    state.mode = m_model.Mode();
    state.hasFile = m_model.HasCurrent();
    state.atFirst = m_model.IsFirst();
    state.atLast = m_model.IsLast();
    state.pictureMode = IsPictureMode();
    state.error = IsError();
    state.zoomed = m_view.zoomed;
    state.fullSize = m_view.fullSize;
    state.slideShow = m_bSlideShow;
    state.outputMode = m_bOutputMode;
    return BuildPreviewMenu(this, state);
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
    case ID_ACTUAL_OUTPUT:
        OnActualOutput();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// File commands

void CPreviewDlg::Inform(const QString &text)
{
    QMessageBox::information(this, "Velmora", text);
}

bool CPreviewDlg::AskTarget(const QString &path, const QString &title, QString &target)
{
    const QFileInfo info(path);
    QFileDialog dlg(this, title, info.absolutePath(),
                    viewerfiles::NameFilter(viewerfiles::SaveFilterFor(path)));
    dlg.setObjectName("CFileDialog");
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.selectFile(info.fileName());
    if (dlg.exec() != QDialog::Accepted)
        return false;
    target = dlg.selectedFiles().value(0);
    return !target.isEmpty();
}

void CPreviewDlg::OnCopyTo()
{
    if (!m_model.HasCurrent())
        return;
    // A tick during the dialog would change the current file under us.
    ScopedValue<bool> pause(m_bSlideShow, false);
    const QString path = m_model.Current();
    QString target;
    if (!AskTarget(path, tr("复制到"), target) || viewerfiles::IsSameFile(path, target))
        return;
    QString error;
    {
        WaitCursor wait;
        error = viewerfiles::CopyFileTo(path, target);
    }
    if (!error.isEmpty())
        Inform(error);
}

void CPreviewDlg::OnMoveTo()
{
    if (!m_model.HasCurrent())
        return;
    ScopedValue<bool> pause(m_bSlideShow, false);
    const QString path = m_model.Current();
    QString target;
    if (!AskTarget(path, tr("移动到"), target) || viewerfiles::IsSameFile(path, target))
        return;
    QString error;
    {
        WaitCursor wait;
        error = viewerfiles::MoveFileTo(path, target);
    }
    if (!error.isEmpty()) {
        // The file is still where it was: it stays listed and shown.
        Inform(error);
        return;
    }
    RemoveEntry(path);
}

void CPreviewDlg::OnDelete()
{
    if (!m_model.HasCurrent())
        return;
    ScopedValue<bool> pause(m_bSlideShow, false);
    const QString path = m_model.Current();
    const QString question = tr("确实要把“%1”放入回收站吗?").arg(QFileInfo(path).fileName());
    if (QMessageBox::question(this, "Velmora", question, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) != QMessageBox::Yes)
        return;
    QString error;
    {
        WaitCursor wait;
        error = viewerfiles::MoveToTrash(path);
    }
    if (!error.isEmpty()) {
        Inform(error);
        return;
    }
    RemoveEntry(path);
}

void CPreviewDlg::OnAddToList()
{
    m_model.AddCurrentToSelection();
}

void CPreviewDlg::OnRemoveFromList()
{
    if (m_model.Mode() == MODE_SELECTED && m_model.HasCurrent())
        RemoveEntry(m_model.Current());
}

void CPreviewDlg::RemoveEntry(const QString &path)
{
    {
        WaitCursor wait;
        m_model.Remove(path);
        if (m_pOpenerList)
            *m_pOpenerList = m_model.Paths();
    }
    if (m_model.IsEmpty()) {
        EndEmptyList();
        return;
    }
    // A watermark naming its file counts the files as the list now stands.
    if (m_settings.m_bStamp && m_settings.m_szStampText.find('{') != std::string::npos) {
        const QStringList paths = m_model.Paths();
        m_settings.SetFileCount(int(paths.size()));
        for (int i = 0; i < int(paths.size()); ++i)
            m_settings.SetFile(i, paths[i].toStdString());
        ConfigureLoader(); // drops what was drawn with the old numbers
        if (m_pOutputWork)
            m_pOutputWork->SetJob(m_settings);
        m_pOutput.reset();
    }
    // The estimate was for the list as it was.
    m_estimate.reset();
    m_bEstimating = m_bOutputMode;
    if (m_bOutputMode)
        m_pOutputWork->RequestEstimate(m_model.Paths());
    else if (m_pOutputWork)
        m_pOutputWork->CancelEstimate();
    m_view.Unzoom();
    ShowImage(m_model.Index());
}

void CPreviewDlg::EndEmptyList()
{
    StopSlideShow();
    DropDecoded();
    m_picture->UnloadPicture();
    m_picture->hide();
    ClearLayout();
    Repaint();
    Inform(tr("没有可以显示的图像。"));
    reject();
}

void CPreviewDlg::OnBackColour()
{
    ScopedValue<bool> pause(m_bSlideShow, false);
    CBackColourDlg dlg(this);
    dlg.SetColour(m_crBack);
    if (dlg.exec() != QDialog::Accepted)
        return;
    m_crBack = dlg.GetColour();
    WritePreviewBackground(m_crBack);
    Repaint();
}
