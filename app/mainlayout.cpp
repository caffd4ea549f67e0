#include "app/mainlayout.h"

#include "app/dialogs/appresources.h"
#include "app/controlbyid.h"
#include "resources/ids_main.h"
#include "app/maintemplate.h"
#include "settings/settingsstore.h"

#include <QCursor>
#include <QLabel>
#include <QPushButton>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace {

using namespace mainid;

constexpr int kCursorSplitVer = 154;
constexpr int kCursorSplitHor = 155;

// The check box on the quality row takes the room the output group gains.
constexpr int kStretchIds[] = {IDC_OUTPUT_GROUP, IDC_FORMAT, IDC_DEST, IDC_IF_LARGER};
constexpr int kBottomLeftIds[] = {IDC_FORMAT_LABEL, IDC_DEST_LABEL, IDC_QUALITY_LABEL, IDC_QUALITY,
                                  IDC_QUALITY_SPIN, IDC_KEEP_DATES,  IDC_DATE_SOURCE, IDC_METADATA_LABEL,
                                  IDC_METADATA, IDC_METADATA_TAGS};
constexpr int kBottomRightIds[] = {
    IDC_RENAME,        IDC_RENAME_GROUP, IDC_PREFIX_LABEL,   IDC_PREFIX,       IDC_SUFFIX,
    IDC_START_NUMBER_LABEL, IDC_SUFFIX_LABEL, IDC_START_NUMBER, IDC_RESIZE,   IDC_RESIZE_GROUP,
    IDC_RESIZE_TYPE_LABEL, IDC_SHARPEN,  IDC_DONT_ENLARGE,   IDC_RESIZE_TYPE,  IDC_WIDTH_LABEL,
    IDC_WIDTH,         IDC_HEIGHT_LABEL, IDC_HEIGHT,         IDC_ROTATE,       IDC_ROTATE_GROUP,
    IDC_ROTATE_LEFT,   IDC_PIC_180,      IDC_ROTATE_RIGHT,   IDC_PIC_RIGHT,    IDC_ROTATE_180,
    IDC_PIC_LEFT,      IDC_STAMP,        IDC_STAMP_GROUP,    IDC_STAMP_TEXT_LABEL, IDC_STAMP_TEXT,
    IDC_FONT,          IDC_PREVIEW,      IDOK,               IDC_VIEW_RESULTS, IDC_ABOUT,
    IDCANCEL,          IDC_BROWSE,       IDC_RESIZE_MORE,    IDC_NAME_TEMPLATE, IDC_STAMP_MORE,
    IDC_UNDO_RUN,      IDC_FORMAT_SETTINGS, IDC_LOSSLESS,
};

// The band while it is dragged: a dithered pattern over whatever lies below.
class SplitTracker : public QWidget {
public:
    explicit SplitTracker(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("splitTracker"));
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), QBrush(QColor(0, 0, 0, 150), Qt::Dense4Pattern));
    }
};

}  // namespace

int SplitVerLeftFor(int x, int wndRight)
{
    if (x < 120)
        return 117;
    if (x >= wndRight - 568)
        return wndRight - 571;
    return x - 3;
}

int SplitHorTopFor(int y, int listAreaBottom)
{
    if (y < 50)
        return 36;
    if (y >= listAreaBottom - 50)
        return listAreaBottom - 64;
    return y - 14;
}

CMainLayout::CMainLayout(QWidget *host)
    : m_host(host), m_cursorVer(LoadAppCursor(kCursorSplitVer)), m_cursorHor(LoadAppCursor(kCursorSplitHor))
{
}

CMainLayout::~CMainLayout() = default;

QWidget *CMainLayout::Control(int id) const
{
    return ControlById(m_host, id, Qt::FindDirectChildrenOnly);
}

void CMainLayout::MoveControl(int id, int x, int y, int w, int h)
{
    Control(id)->setGeometry(x, y, std::max(0, w), std::max(0, h));
}

void CMainLayout::PlaceControl(int id, int x, int y)
{
    Control(id)->move(x, y);
}

WinRect CMainLayout::MeasureWnd() const
{
    // The client area: the window manager's frame is not known before the
    // window is mapped, and measuring from it then would shift every anchor.
    // Below the minimum size (no window manager holds it) the controls keep
    // their places at that size, cut off at the edge rather than overlapping.
    const QSize size = m_host->size().expandedTo(maintemplate::kMinimumSize);
    return {0, 0, size.width(), size.height()};
}

void CMainLayout::CaptureLayout()
{
    m_ptMainDlgPos = m_host->pos();
    m_szMainDlg = m_host->size();
    const WinRect w = MeasureWnd();
    m_rtWnd = w;

    m_anchors.clear();
    auto add = [&](int id, AnchorKind kind) {
        const QWidget *c = Control(id);
        const WinRect r = WinRect::FromQRect(c->geometry());
        m_anchors.push_back({id, kind, r.left, w.bottom - r.top, r.Height(), w.right - r.right, w.right - r.left});
    };
    for (int id : kStretchIds)
        add(id, ANCHOR_STRETCH);
    for (int id : kBottomLeftIds)
        add(id, ANCHOR_BOTTOM_LEFT);
    for (int id : kBottomRightIds)
        add(id, ANCHOR_BOTTOM_RIGHT);

    const WinRect tree = WinRect::FromQRect(Control(IDC_FOLDER_TREE)->geometry());
    const WinRect folder = WinRect::FromQRect(Control(IDC_FOLDER_LIST)->geometry());
    const WinRect selected = WinRect::FromQRect(Control(IDC_SELECTED_LIST)->geometry());
    m_rtSplitVer = {tree.right, tree.top, folder.left, tree.bottom};
    m_rtSplitHor = {selected.left, folder.bottom, selected.right, selected.bottom};
    m_nHeightListSel = selected.Height();
    m_nBottomPanel = w.bottom - tree.bottom;
}

void CMainLayout::RestoreLayout()
{
    using namespace settingskey;
    auto get = [](const char *key, int def) { return GetProfileInt(kSettingsSection, key, def); };
    m_rtSplitVer.left = get(kSplitVerLeft, m_rtSplitVer.left);
    m_rtSplitVer.top = get(kSplitVerTop, m_rtSplitVer.top);
    m_rtSplitVer.right = get(kSplitVerRight, m_rtSplitVer.right);
    m_rtSplitVer.bottom = get(kSplitVerBottom, m_rtSplitVer.bottom);
    m_rtSplitHor.left = get(kSplitHorLeft, m_rtSplitHor.left);
    m_rtSplitHor.top = get(kSplitHorTop, m_rtSplitHor.top);
    m_rtSplitHor.right = get(kSplitHorRight, m_rtSplitHor.right);
    m_rtSplitHor.bottom = get(kSplitHorBottom, m_rtSplitHor.bottom);
    m_ptMainDlgPos.setX(get(kPosX, m_ptMainDlgPos.x()));
    m_ptMainDlgPos.setY(get(kPosY, m_ptMainDlgPos.y()));
    m_szMainDlg.setWidth(get(kSizeCx, m_szMainDlg.width()));
    m_szMainDlg.setHeight(get(kSizeCy, m_szMainDlg.height()));
    m_bMaximized = get(kMaximized, 0);
    m_nHeightListSel = get(kHeightListSel, m_nHeightListSel);
}

void CMainLayout::ApplyStoredGeometry()
{
    m_host->move(m_ptMainDlgPos);
    m_host->resize(m_szMainDlg.expandedTo(maintemplate::kMinimumSize));
    if (m_bMaximized != 0)
        m_host->setWindowState(m_host->windowState() | Qt::WindowMaximized);
    RelayoutControls();
}

void CMainLayout::SaveLayout()
{
    using namespace settingskey;
    auto put = [](const char *key, int value) { WriteProfileInt(kSettingsSection, key, value); };
    put(kSplitVerLeft, m_rtSplitVer.left);
    put(kSplitVerTop, m_rtSplitVer.top);
    put(kSplitVerRight, m_rtSplitVer.right);
    put(kSplitVerBottom, m_rtSplitVer.bottom);
    put(kSplitHorLeft, m_rtSplitHor.left);
    put(kSplitHorTop, m_rtSplitHor.top);
    put(kSplitHorRight, m_rtSplitHor.right);
    put(kSplitHorBottom, m_rtSplitHor.bottom);
    put(kPosX, m_ptMainDlgPos.x());
    put(kPosY, m_ptMainDlgPos.y());
    put(kSizeCx, m_szMainDlg.width());
    put(kSizeCy, m_szMainDlg.height());
    put(kMaximized, m_bMaximized);
    put(kHeightListSel, m_nHeightListSel);
}

void CMainLayout::PlaceListButtons()
{
    const int y = m_rtSplitHor.top + 4;
    const int r = m_rtWnd.right;
    PlaceControl(IDC_VIEW, r - 102, y);
    PlaceControl(IDC_REMOVE_ALL, r - 187, y);
    PlaceControl(IDC_REMOVE, r - 273, y);
    PlaceControl(IDC_ADD_ALL, r - 358, y);
    PlaceControl(IDC_ADD, r - 444, y);
    FitPresetRow();
}

// The preset row lies between the count of selected images (its template
// width, or its text's where that is wider) and Add, as a row of a layout
// would: the combo box takes the room left; short of room its label goes,
// and where even the box and its button do not fit the row is hidden. The
// window calls it again as the count's text changes.
void CMainLayout::FitPresetRow()
{
    constexpr int kGap = 6, kLabelGap = 4, kLeast = 50, kButtonPadding = 14;
    auto *count = qobject_cast<QLabel *>(Control(IDC_COUNT_LABEL));
    const int countWidth = std::max(maintemplate::Find(IDC_COUNT_LABEL)->rect.width(),
                                    count->fontMetrics().horizontalAdvance(count->text()) + 2);
    count->resize(countWidth, count->height());
    auto *label = qobject_cast<QLabel *>(Control(IDC_PRESET_LABEL));
    QWidget *combo = Control(IDC_PRESET);
    QWidget *save = Control(IDC_PRESET_SAVE);
    const int labelWidth = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    // The button as wide as its text needs, not the style's wider least.
    const QString saveText = qobject_cast<QPushButton *>(save)->text();
    const int saveWidth = std::max(maintemplate::Find(IDC_PRESET_SAVE)->rect.width(),
                                   save->fontMetrics().horizontalAdvance(saveText) + kButtonPadding);
    const int left = count->x() + countWidth + kGap, right = Control(IDC_ADD)->x() - kGap;
    const int room = right - left - saveWidth - kGap;
    const bool labelled = room - labelWidth - kLabelGap >= kLeast;
    const bool shown = room >= kLeast;
    const int comboLeft = labelled ? left + labelWidth + kLabelGap : left;
    const int comboWidth = right - saveWidth - kGap - comboLeft;
    const int y = m_rtSplitHor.top + 4;
    label->setGeometry(left, count->y(), labelWidth, count->height());
    const int comboHeight = maintemplate::Find(IDC_PRESET)->rect.height();
    const int saveHeight = maintemplate::Find(IDC_PRESET_SAVE)->rect.height();
    combo->setGeometry(comboLeft, y + 1, std::max(0, comboWidth), comboHeight);
    save->setGeometry(comboLeft + comboWidth + kGap, y, saveWidth, saveHeight);
    label->setVisible(labelled && shown);
    combo->setVisible(shown);
    save->setVisible(shown);
}

// The button keeps its distance to the window's right edge and grows to the
// left for a longer caption; the summary, right-aligned, ends before it and
// begins after the folder list's caption, which moves with the splitter.
void CMainLayout::PlaceEditsRow()
{
    constexpr int kGap = 6, kButtonPadding = 14;
    auto *button = qobject_cast<QPushButton *>(Control(IDC_EDITS));
    const QRect own = maintemplate::Find(IDC_EDITS)->rect;
    const int rightGap = maintemplate::kDefaultClientSize.width() - (own.right() + 1);
    const int width =
        std::max(own.width(), button->fontMetrics().horizontalAdvance(button->text()) + kButtonPadding);
    button->setGeometry(m_rtWnd.right - rightGap - width, own.y(), width, own.height());
    // On the caption's line.
    const QRect caption = Control(IDC_FOLDER_LABEL)->geometry();
    const int left = caption.right() + 1 + kGap;
    Control(IDC_EDITS_LABEL)
        ->setGeometry(left, caption.y(), std::max(0, button->x() - kGap - left), caption.height());
}

// The metadata list sits between the dates and the command buttons (Undo
// Last Run first), which come closer as the window narrows: short of room at
// its place it shrinks to what is left before them, and where even that is
// too little it takes its label's place too. Its "..." button ends its
// place, the list's own end, and goes with it.
void CMainLayout::FitMetadataRow()
{
    constexpr int kGap = 6, kLeast = 80, kButtonGap = 2;
    QWidget *label = Control(IDC_METADATA_LABEL);
    QWidget *combo = Control(IDC_METADATA);
    QWidget *tags = Control(IDC_METADATA_TAGS);
    const QRect own = maintemplate::Find(IDC_METADATA)->rect;
    const int button = maintemplate::Find(IDC_METADATA_TAGS)->rect.width();
    const int room = Control(IDC_UNDO_RUN)->x() - kGap; // where the row must end
    const bool labelled = room - button - kButtonGap - own.left() >= kLeast;
    const int left = labelled ? own.left() : label->x();
    label->setVisible(labelled);
    // Squeezed below any use, the list keeps what is left and the button
    // goes, rather than lie over the buttons beside it.
    const bool buttoned = room - left - button - kButtonGap >= 0;
    tags->setVisible(buttoned);
    const int taken = buttoned ? button + kButtonGap : 0;
    const int width = std::max(0, std::min(own.right() + 1, room) - taken - left);
    combo->setGeometry(left, combo->y(), width, own.height());
    tags->setGeometry(left + width + kButtonGap, combo->y(), button, own.height());
}

void CMainLayout::RelayoutControls()
{
    WinRect w = MeasureWnd();
    m_rtWnd = w;
    const int b = m_nBottomPanel;
    if (m_nHeightListSel > w.Height() - b - 102)
        m_nHeightListSel = 152;
    if (m_rtSplitVer.right > w.right - 563) {
        m_rtSplitVer.left = 186;
        m_rtSplitVer.right = 192;
    }
    const int l = w.bottom - b;
    m_rtSplitVer.bottom = l;
    const int h = m_nHeightListSel;
    m_rtSplitHor = {m_rtSplitVer.right, l - h - 36, w.right - 11, l - h};

    MoveControl(IDC_FOLDER_TREE, 6, 24, m_rtSplitVer.left - 6, l - 24);
    MoveControl(IDC_FOLDER_LIST, m_rtSplitVer.right, 24, w.Width() - m_rtSplitVer.right - 12, m_rtSplitHor.top - 24);
    MoveControl(IDC_SELECTED_LIST, m_rtSplitVer.right, m_rtSplitHor.bottom, w.right - 12 - m_rtSplitVer.right,
                l - m_rtSplitHor.bottom);
    PlaceControl(IDC_FOLDER_LABEL, m_rtSplitVer.right, 8);
    PlaceEditsRow();
    PlaceControl(IDC_COUNT_LABEL, m_rtSplitVer.right, m_rtSplitHor.top + 13);
    PlaceListButtons();

    w = MeasureWnd();
    for (const AnchorRecord &a : m_anchors) {
        QWidget *c = Control(a.id);
        switch (a.kind) {
        case ANCHOR_STRETCH: {
            const int width = std::max(0, w.right - a.rightGap - a.left);
            c->setGeometry(a.left, w.bottom - a.dy, width, a.height);
            // Squeezed to nothing (the quality row's check box in a narrow
            // window), it is not left lying over its neighbours.
            c->setVisible(width > 0);
            break;
        }
        case ANCHOR_BOTTOM_LEFT:
            c->move(a.left, w.bottom - a.dy);
            break;
        case ANCHOR_BOTTOM_RIGHT:
            c->move(w.right - a.dx, w.bottom - a.dy);
            break;
        }
    }
    FitMetadataRow();
    m_host->update();
}

void CMainLayout::ApplyHorizontalSplit()
{
    const WinRect w = MeasureWnd();
    MoveControl(IDC_FOLDER_LIST, m_rtSplitVer.right, 24, w.Width() - m_rtSplitVer.right - 12, m_rtSplitHor.top - 24);
    MoveControl(IDC_SELECTED_LIST, m_rtSplitVer.right, m_rtSplitHor.bottom, w.right - 12 - m_rtSplitVer.right,
                (w.bottom - m_nBottomPanel) - m_rtSplitHor.bottom);
    PlaceControl(IDC_COUNT_LABEL, m_rtSplitVer.right, m_rtSplitHor.top + 13);
    PlaceListButtons();
    m_nHeightListSel = m_rtSplitVer.bottom - m_rtSplitHor.bottom;
    m_host->update();
}

void CMainLayout::DrawSplitTracker(const WinRect &rc)
{
    if (!m_tracker)
        m_tracker = new SplitTracker(m_host);
    if (m_tracker->isVisible() && m_rcTracker == rc) {
        m_tracker->hide();
        return;
    }
    m_rcTracker = rc;
    m_tracker->setGeometry(rc.ToQRect());
    m_tracker->raise();
    m_tracker->show();
}

void CMainLayout::OnSize()
{
    // Without a window manager nothing keeps the window from being made
    // smaller than its minimum: it asks for that size back.
    if (!(m_host->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) &&
        m_host->size() != m_host->size().expandedTo(maintemplate::kMinimumSize))
        QTimer::singleShot(0, m_host, [host = m_host] {
            if (!(host->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
                host->resize(host->size().expandedTo(maintemplate::kMinimumSize));
        });
    m_rtWnd = MeasureWnd();
    if (!(m_host->windowState() & Qt::WindowMaximized))
        m_szMainDlg = m_host->size();
    RelayoutControls();
}

void CMainLayout::OnMove()
{
    if (m_host->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    m_ptMainDlgPos = m_host->pos();
}

bool CMainLayout::OnLButtonDown(QPoint p)
{
    if (m_rtSplitVer.Contains(p)) {
        m_host->grabMouse();
        m_bCaptured = true;
        m_host->setFocus();
        m_host->setCursor(m_cursorVer);
        DrawSplitTracker(m_rtSplitVer);
        m_bDragSplitVer = true;
        return true;
    }
    if (m_rtSplitHor.Contains(p)) {
        m_host->grabMouse();
        m_bCaptured = true;
        m_host->setFocus();
        m_host->setCursor(m_cursorHor);
        DrawSplitTracker(m_rtSplitHor);
        m_bDragSplitHor = true;
        return true;
    }
    return false;
}

void CMainLayout::SetCursorFor(QPoint p)
{
    if (m_rtSplitVer.Contains(p))
        m_host->setCursor(m_cursorVer);
    else if (m_rtSplitHor.Contains(p))
        m_host->setCursor(m_cursorHor);
    else
        m_host->unsetCursor();
}

void CMainLayout::OnMouseMove(QPoint p)
{
    if (m_bDragSplitVer) {
        m_host->setCursor(m_cursorVer);
        DrawSplitTracker(m_rtSplitVer);
        const int width = m_rtSplitVer.Width();
        m_rtSplitVer.left = SplitVerLeftFor(p.x(), m_rtWnd.right);
        m_rtSplitVer.right = m_rtSplitVer.left + width;
        DrawSplitTracker(m_rtSplitVer);
    } else if (m_bDragSplitHor) {
        m_host->setCursor(m_cursorHor);
        DrawSplitTracker(m_rtSplitHor);
        const int height = m_rtSplitHor.Height();
        m_rtSplitHor.top = SplitHorTopFor(p.y(), m_rtSplitVer.bottom);
        m_rtSplitHor.bottom = m_rtSplitHor.top + height;
        DrawSplitTracker(m_rtSplitHor);
    } else {
        SetCursorFor(p);
    }
}

void CMainLayout::OnLButtonUp(QPoint p)
{
    if (!m_bDragSplitVer && !m_bDragSplitHor)
        return;
    if (m_bCaptured) {
        m_host->releaseMouse();
        m_bCaptured = false;
    }
    if (m_bDragSplitVer) {
        DrawSplitTracker(m_rtSplitVer);
        RelayoutControls();
        m_bDragSplitVer = false;
    } else {
        DrawSplitTracker(m_rtSplitHor);
        ApplyHorizontalSplit();
        m_bDragSplitHor = false;
    }
    SetCursorFor(p);
}

void CMainLayout::OnDestroy()
{
    m_bMaximized = (m_host->windowState() & Qt::WindowMaximized) ? settingsdefault::kMaximizedBit : 0;
    SaveLayout();
    m_anchors.clear();
}
