// The full-screen viewer over a list of image files: one picture at a time
// on a plain background, paging, zoom, dragging and a slideshow. Animated
// GIFs and the error picture play in an animated picture control.
//
// A large JPEG shows at once from a quick first look (reduced to the screen
// when fitted, its top left part at actual size) while the whole picture is
// read in the background; the pictures before and after it are read ahead,
// and a zoom step redraws what is already decoded, the copy at the new size
// following in the background.
//
// Which files it shows, and which of them is current, is its CViewerModel's.
#pragma once

#include "convert/convertjob.h"
#include "imaging/cximage.h"
#include "viewer/outputpreview.h"
#include "viewer/picturework.h"
#include "viewer/previewhost.h"
#include "viewer/viewergeometry.h"
#include "viewer/viewermodel.h"

#include <QDialog>
#include <QImage>
#include <QStringList>

#include <memory>
#include <optional>

class CAnimatedPicture;
class CViewerInfo;
class QMenu;
class QPainter;
class QTimer;

class CPreviewDlg : public QDialog {
    Q_OBJECT
public:
    // Open modes.
    enum {
        MODE_SELECTED = CViewerModel::MODE_SELECTED,
        MODE_FOLDER = CViewerModel::MODE_FOLDER,
        MODE_RESULTS = CViewerModel::MODE_RESULTS
    };
    enum class CursorKind { Arrow, Hand, Dragging };

    explicit CPreviewDlg(QWidget *parent = nullptr);
    ~CPreviewDlg() override;

    // The opener's list: the viewer shows it as it is when the viewer opens
    // and takes out of it what a file command removes. It must outlive the
    // dialog.
    void SetFileList(QStringList *files);
    void SetOpenMode(int mode) { m_model.SetMode(mode); }
    // A negative index counts as 0; an index past the end shows nothing.
    void SetStartIndex(int index) { m_model.SetIndex(index); }
    // Preview processing: the job's rotation, resize and stamp settings, and
    // its format as a lower-case extension ("" keeps each file's own).
    void SetPreview(bool on) { m_bPreview = on; }
    bool IsPreview() const { return m_bPreview; }
    void SetPreviewSettings(const CConvertJob &settings) { m_settings = settings; }
    void SetHost(IPreviewHost *host) { m_model.SetHost(host); }
    // An entry the opener appended to its list while the viewer is open
    // (the results of a run that goes on).
    void AddFile(const QString &path) { m_model.Append(path); }

    // Loads file i of the list and lays it out; an index outside the list
    // changes nothing.
    void ShowImage(int index);
    void NextImage();
    void PrevImage();
    // Turns the current document by delta pages; false (nothing changes)
    // past its first or last page, or on a file of one page.
    bool TurnPage(int delta);
    // The current document's page on display, from 1, and its pages (0 for
    // a file that is no document).
    int GetPage() const { return m_nPage; }
    int GetPageCount() const { return m_nPages; }
    // Scrolls by a step when the picture is larger than the screen.
    void ScrollBy(int dx, int dy);
    void UpdateCursor();

    // What is on display, for the opener and for checks.
    int GetIndex() const { return m_model.Index(); }
    int GetOpenMode() const { return m_model.Mode(); }
    float GetZoom() const { return m_view.zoom; }
    bool IsZoomed() const { return m_view.zoomed; }
    bool IsFullSize() const { return m_view.fullSize; }
    // An animation or the error picture plays in the picture control.
    bool IsPictureMode() const { return m_state == PictureState::Animation || IsError(); }
    bool IsError() const { return m_state == PictureState::Error; }
    bool CanScroll() const { return m_bCanScroll; }
    bool IsDragging() const { return m_bDragging; }
    bool IsSlideShow() const { return m_bSlideShow; }
    int GetSlideDelay() const { return m_nSlideDelay; }
    // Interval of the running slideshow timer in ms, -1 when it is stopped.
    int GetSlideTimerInterval() const;
    COLORREF GetBackColour() const { return m_crBack; }
    // The picture decoded for the current file (a first look until the
    // whole of it is in).
    const CxImage &GetImage() const;
    // True while pictures are still being read or drawn in the background.
    bool IsReading() const;
    WinRect GetImageRect() const { return m_rcImage; }
    viewgeom::Size GetCanvasSize() const { return m_szCanvas; }
    viewgeom::Size GetScreenSize() const { return m_screen; }
    QPoint GetScroll() const { return {m_view.scrollX, m_view.scrollY}; }
    CursorKind GetCursorKind() const { return m_hCursor; }
    CAnimatedPicture *GetPicture() const { return m_picture; }
    CViewerInfo *GetInfo() const { return m_info; }

    // Preview only: the current picture's output as a run would write it,
    // at 100 % beside the source (left of the split line) or either whole.
    enum class OutputView { Split, Output, Source };
    bool CanShowOutput() const;
    bool IsOutputMode() const { return m_bOutputMode; }
    OutputView GetOutputView() const { return m_outputView; }
    int GetSplitX() const { return m_nSplitX; }
    // The current picture's output; null while it is being made.
    const viewout::Result *GetOutput() const { return m_pOutput.get(); }
    // The lines the output's overlay shows.
    QStringList GetOutputLines() const;
    viewout::COutputPreview *GetOutputWork() const { return m_pOutputWork; }

public slots:
    void OnNextImage();
    void OnPrevImage();
    void OnZoomIn();
    void OnZoomOut();
    void OnActualSize();
    void OnFit();
    void OnSlideShow();
    void OnSlideDelay();
    void OnExit();
    // File commands on the current file.
    void OnCopyTo();
    void OnMoveTo();
    void OnDelete();
    void OnAddToList();
    void OnRemoveFromList();
    void OnBackColour();
    void OnActualOutput();
    // One slideshow tick (the timer's handler).
    void OnTimer();
    void done(int result) override;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void OnInitDialog();
    void OnKeyDown(QKeyEvent *event);
    void RunCommand(int id);
    QMenu *BuildContextMenu();
    // A zoom step: lays the picture already decoded for the current index
    // out again, without reading the file.
    void RelayoutImage();
    // Size, layout and scroll of the current picture; with keepView the
    // scroll position stays where it is (as far as it can).
    void LayoutDecoded(bool keepView = false);
    // Shows a decoded picture of the current file; keepView when it replaces
    // a first look of the same picture.
    void UsePicture(const viewwork::Picture &picture, bool keepView);
    void ShowFirstLook(viewwork::FirstLook look);
    // Waits for the whole picture when only a first look is shown.
    void EnsureWhole();
    void ReadAhead();
    // The type an animated picture plays as (0: shown as a still).
    std::uint32_t AnimationShown(const CxImage &img) const;
    void OnFetched(const QString &path);
    void OnDisplayMade(int serial, const QImage &display);
    void OnRefine();
    // A picture shown from a reduced decode: the part in view decoded at a
    // scale with as many pixels as the screen shows, drawn over it.
    void OnDetail();
    void OnDetailMade(int serial, const viewwork::DetailPlan &plan, const QImage &detail);
    void RenderDetail(QPainter &p);
    // The decoded picture's own size (less than m_natural when reduced).
    viewgeom::Size Held() const;
    void ConfigureLoader();
    // The size a picture is first shown at in the current mode.
    viewwork::CPictureLoader::ShownSize ShownSizeRule() const;
    void ShowErrorPicture();
    // Name, position and zoom of what is on display, for a moment.
    void FlashInfo();
    void ShowAnimation(const QString &path, int frameCount, std::uint32_t type);
    void CentrePicture();
    // Drops the decoded picture and its copy for drawing.
    void DropDecoded();
    void ClearLayout();
    void Repaint();
    void RenderCanvas();
    void SetCursorKind(CursorKind kind);
    void StopSlideShow();
    // Shows the current entry after the model turned the page.
    void ShowTurned();
    // Asks for the target of a copy or move; false when cancelled.
    bool AskTarget(const QString &path, const QString &title, QString &target);
    // The entry of path has left: drop it from the lists and show what follows.
    void RemoveEntry(const QString &path);
    void EndEmptyList();
    void Inform(const QString &text);
    // The output mode's side of showing, laying out, painting and input.
    void ShowOutputFor(const QString &path);
    void OnOutputReady(const viewout::Result &result);
    void OnEstimated(const viewout::Estimate &estimate);
    // keepView: the view stays on the same part of the pictures.
    void LayoutOutput(bool keepView = false);
    void RenderOutput(QPainter &p);
    bool OnOutputKey(QKeyEvent *event);
    bool NearSplit(QPoint p) const;

    CViewerModel m_model;
    QStringList *m_pOpenerList = nullptr;
    bool m_bPreview = false;
    CConvertJob m_settings;
    bool m_bInitialised = false;

    PictureState m_state = PictureState::Empty;
    // The current file as decoded (after the preview steps): zoom steps lay
    // it out again; a page turn, a file command or a reload decodes anew.
    std::shared_ptr<const CxImage> m_pImage;
    // The file m_pImage came from: showing it again reads it anew.
    QString m_shownPath;
    // The page of m_shownPath on display; every other file starts at its first.
    int m_nPage = 1;
    int m_nPages = 0;
    // The picture's own size, which layout uses even while only a first
    // look is held: reduced, or only its top left part (m_bRegion, at
    // scale 1).
    viewgeom::Size m_natural;
    bool m_bRegion = false;
    bool m_bAutoOrient = true;
    // m_pImage ready to draw: already at the shown size when shrunk, at its
    // natural size when enlarged (then only the visible part is scaled).
    // Right after a zoom step it may still be the copy of the size before,
    // drawn scaled (quickly while m_bQuickPaint) until the new one is made.
    QImage m_display;
    bool m_bQuickPaint = false;
    int m_nDisplaySerial = 0;
    QTimer *m_pRefineTimer = nullptr;
    // The finer part of a picture shown reduced: m_rcDetail of the picture
    // at m_szDetailScaled; m_bDetailBusy while one is decoded, m_bDetailAgain
    // when the view moved meanwhile.
    bool m_bReduced = false; // m_pImage is the picture reduced, too large to hold
    bool m_bDecodesScaled = false; // and its file decodes at reduced scales (a JPEG)
    QImage m_detail;
    QRect m_rcDetail;
    viewgeom::Size m_szDetailScaled;
    int m_nDetailSerial = 0;
    bool m_bDetailBusy = false;
    bool m_bDetailAgain = false;
    bool m_bDetailRefused = false; // the file cannot give a part
    QTimer *m_pDetailTimer = nullptr;
    viewwork::CPictureLoader *m_loader = nullptr;
    CAnimatedPicture *m_picture = nullptr;
    CViewerInfo *m_info = nullptr;

    viewgeom::View m_view;
    viewgeom::Size m_screen;
    WinRect m_rcImage;
    viewgeom::Size m_szCanvas;
    bool m_bCanScroll = false;
    bool m_bDragging = false;
    QPoint m_ptDrag;
    CursorKind m_hCursor = CursorKind::Arrow;
    int m_nWheelDelta = 0;

    int m_nSlideDelay = 5;
    bool m_bSlideShow = false;
    QTimer *m_pSlideTimer = nullptr;
    COLORREF m_crBack = 0;

    bool m_bOutputMode = false;
    OutputView m_outputView = OutputView::Split;
    int m_nSplitX = -1; // window x of the split line
    bool m_bSplitDragging = false;
    std::shared_ptr<const viewout::Result> m_pOutput;
    // The output and the source each at actual size on a canvas of its own.
    // m_rcImage and m_szCanvas are those of the one the scroll position
    // belongs to (the one on show, the larger of the two side by side); the
    // other follows it.
    viewgeom::Layout m_outputLayout;
    viewgeom::Layout m_sourceLayout;
    viewout::COutputPreview *m_pOutputWork = nullptr;
    bool m_bEstimating = false;
    std::optional<viewout::Estimate> m_estimate;

    // Off-screen copy of the window, redrawn when the view changes.
    QImage m_canvas;
    bool m_bCanvasDirty = true;
};
