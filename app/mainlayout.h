// The main window's layout: anchored controls along the bottom, the tree and
// the two lists placed by two splitter bands, and the window geometry kept
// in the settings store. Rectangles are edge-exclusive (right and bottom lie
// just outside), as the splitter rules are written that way.
#pragma once

#include "controls/winrect.h"

#include <QCursor>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

enum AnchorKind { ANCHOR_STRETCH = 0, ANCHOR_BOTTOM_LEFT = 1, ANCHOR_BOTTOM_RIGHT = 2 };

struct AnchorRecord {
    int id = 0;
    AnchorKind kind = ANCHOR_STRETCH;
    int left = 0;
    int dy = 0;
    int height = 0;
    int rightGap = 0;
    int dx = 0;
};

// Where a splitter drag leaves the bands.
int SplitVerLeftFor(int x, int wndRight);
int SplitHorTopFor(int y, int listAreaBottom);

class CMainLayout {
public:
    explicit CMainLayout(QWidget *host);
    ~CMainLayout();

    // Start-up: measure the template places, read the stored geometry and
    // apply it to the (not yet shown) window.
    void CaptureLayout();
    void RestoreLayout();
    void ApplyStoredGeometry();
    void SaveLayout();

    void RelayoutControls();
    void ApplyHorizontalSplit();
    // Shows or hides the dithered tracker at rc: drawing the same rectangle
    // twice restores the screen.
    void DrawSplitTracker(const WinRect &rc);
    void FitPresetRow();
    // The editing steps' button at the right end of the folder list's
    // caption row, their summary between it and the caption.
    void PlaceEditsRow();

    // Window handlers.
    void OnSize();
    void OnMove();
    // Returns true when the press started a splitter drag.
    bool OnLButtonDown(QPoint p);
    void OnMouseMove(QPoint p);
    void OnLButtonUp(QPoint p);
    // Notes the maximised state and stores the geometry.
    void OnDestroy();

    // The measured reference rectangle: the client area.
    WinRect MeasureWnd() const;

    QPoint m_ptMainDlgPos;
    QSize m_szMainDlg;
    int m_bMaximized = 0;
    int m_nHeightListSel = 0;
    int m_nBottomPanel = 0;
    WinRect m_rtSplitVer;
    WinRect m_rtSplitHor;
    WinRect m_rtWnd;
    bool m_bDragSplitVer = false;
    bool m_bDragSplitHor = false;
    std::vector<AnchorRecord> m_anchors;

private:
    QWidget *Control(int id) const;
    void MoveControl(int id, int x, int y, int w, int h);
    void PlaceControl(int id, int x, int y);
    void PlaceListButtons();
    void FitMetadataRow();
    void SetCursorFor(QPoint p);

    QWidget *m_host;
    // Loaded once: the hover test runs on every mouse move.
    QCursor m_cursorVer;
    QCursor m_cursorHor;
    QWidget *m_tracker = nullptr;
    WinRect m_rcTracker;
    bool m_bCaptured = false;
};
