#include "tests/viewer/viewer_fixture.h"

#include "resources/ids_viewer.h"
#include "viewer/slidedelaydlg.h"
#include "controls/spinbuttonctrl.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QWheelEvent>

using namespace viewertest;

namespace {

template <class T> T *Child(QWidget *parent, int id)
{
    return parent->findChild<T *>(QString::number(id));
}

// Opens the context menu and hands it to `handler` while it is up.
void WithContextMenu(CPreviewDlg &dlg, std::function<void(QMenu *)> handler)
{
    bool ran = false;
    Answer([&](QWidget *w) {
        auto *menu = qobject_cast<QMenu *>(w);
        if (!menu)
            return false;
        handler(menu);
        ran = true;
        if (menu->isVisible())
            menu->close();
        return true;
    });
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(30, 30), dlg.mapToGlobal(QPoint(30, 30)));
    QApplication::sendEvent(&dlg, &e);
    EXPECT_TRUE(ran);
}

QAction *Item(QMenu *menu, int id)
{
    return menu->findChild<QAction *>(QString::number(id));
}

void Choose(QMenu *menu, int id)
{
    menu->setActiveAction(Item(menu, id));
    KeyClick(menu, Qt::Key_Return);
}

} // namespace

TEST_F(ViewerTest, SlideshowWrapsAroundAndTheNavigationKeysStopIt)
{
    for (int i = 0; i < 3; ++i)
        m_files << Pattern("s" + std::to_string(i) + ".png", 40 + i, 30);
    // Long enough that no real tick comes while the test drives the timer.
    WriteProfileInt(kSettingsSection, settingskey::kSlideShowDelay, 100);
    CPreviewDlg &dlg = Open(1);
    dlg.OnTimer(); // no show running: a stray tick does nothing
    EXPECT_EQ(dlg.GetIndex(), 1);

    dlg.OnSlideShow();
    EXPECT_EQ(dlg.GetSlideTimerInterval(), 100000);
    dlg.OnTimer();
    EXPECT_EQ(dlg.GetIndex(), 2);
    Key(Qt::Key_Plus, Qt::KeypadModifier);
    dlg.OnTimer(); // past the last: the first, at its normal size again
    EXPECT_EQ(dlg.GetIndex(), 0);
    EXPECT_FALSE(dlg.IsZoomed());
    EXPECT_EQ(dlg.GetImage().GetWidth(), 40);

    QWheelEvent e(QPointF(5, 5), dlg.mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&dlg, &e);
    EXPECT_EQ(dlg.GetIndex(), 1);
    EXPECT_TRUE(dlg.IsSlideShow()); // the wheel does not stop it

    struct Stop {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
    } stops[] = {{Qt::Key_PageDown, {}}, {Qt::Key_9, Qt::KeypadModifier},
                 {Qt::Key_Home, {}},     {Qt::Key_End, {}},
                 {Qt::Key_PageUp, {}},   {Qt::Key_Space, {}}};
    for (const Stop &s : stops) {
        if (!dlg.IsSlideShow())
            dlg.OnSlideShow();
        Key(s.key, s.mods);
        EXPECT_FALSE(dlg.IsSlideShow()) << int(s.key);
        EXPECT_EQ(dlg.GetSlideTimerInterval(), -1);
    }
    // Space at the last picture of a running show: the first, and stopped.
    Key(Qt::Key_End);
    dlg.OnSlideShow();
    Key(Qt::Key_Space);
    EXPECT_EQ(dlg.GetIndex(), 0);
    EXPECT_FALSE(dlg.IsSlideShow());
    // Arrow keys leave it running; closing ends it.
    dlg.OnSlideShow();
    Key(Qt::Key_Left);
    EXPECT_TRUE(dlg.IsSlideShow());
    Key(Qt::Key_Escape);
    EXPECT_EQ(dlg.GetSlideTimerInterval(), -1);
}

TEST_F(ViewerTest, AOneImageShowReloadsTheFileAtEveryTick)
{
    m_files << Pattern("only.png", 30, 20);
    CPreviewDlg &dlg = Open();
    dlg.OnSlideShow();
    EXPECT_EQ(dlg.GetSlideTimerInterval(), 5000); // the default delay
    Pattern("only.png", 31, 20);
    dlg.OnTimer();
    EXPECT_EQ(dlg.GetIndex(), 0);
    EXPECT_EQ(dlg.GetImage().GetWidth(), 31);
}

TEST_F(ViewerTest, DelayDialogTakesZeroToHundredAndPersistsIt)
{
    m_files << Pattern("d.png", 30, 20);
    WriteProfileInt(kSettingsSection, settingskey::kSlideShowDelay, 7);
    CPreviewDlg &dlg = Open();
    dlg.OnSlideShow();
    ASSERT_EQ(dlg.GetSlideTimerInterval(), 7000);

    bool complained = false;
    Answer([&](QWidget *w) {
        if (w->objectName() != QString::number(viewerid::IDD_SLIDE_DELAY))
            return false;
        auto *edit = Child<QLineEdit>(w, viewerid::IDC_DELAY_EDIT);
        auto *spin = Child<CSpinButtonCtrl>(w, viewerid::IDC_DELAY_SPIN);
        auto *ok = Child<QPushButton>(w, viewerid::IDOK);
        EXPECT_EQ(edit->text(), "7");
        EXPECT_EQ(spin->GetLower(), 0);
        EXPECT_EQ(spin->GetUpper(), 100);
        for (const char *bad : {"101", "-1", "5s", ""}) {
            Answer([&](QWidget *box) {
                if (!qobject_cast<QMessageBox *>(box))
                    return false;
                complained = true;
                static_cast<QMessageBox *>(box)->accept();
                return true;
            });
            edit->setText(bad);
            ok->click();
            EXPECT_TRUE(complained) << bad;
            EXPECT_TRUE(w->isVisible()) << bad;
            complained = false;
        }
        edit->setText("100");
        KeyClick(edit, Qt::Key_Up); // stays within the range
        EXPECT_EQ(edit->text(), "100");
        edit->setText("1");
        KeyClick(edit, Qt::Key_Down);
        KeyClick(edit, Qt::Key_Down);
        EXPECT_EQ(edit->text(), "0");
        ok->click();
        return true;
    });
    dlg.OnSlideDelay();
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kSlideShowDelay, -1), 0);
    EXPECT_EQ(dlg.GetSlideDelay(), 0);
    // A delay of 0 is kept, but the running show never ticks faster than this.
    EXPECT_EQ(dlg.GetSlideTimerInterval(), viewgeom::kMinSlideIntervalMs);

    Answer([&](QWidget *w) {
        if (w->objectName() != QString::number(viewerid::IDD_SLIDE_DELAY))
            return false;
        Child<QLineEdit>(w, viewerid::IDC_DELAY_EDIT)->setText("50");
        Child<QPushButton>(w, viewerid::IDCANCEL)->click();
        return true;
    });
    dlg.OnSlideDelay();
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kSlideShowDelay, -1), 0);
    EXPECT_EQ(dlg.GetSlideTimerInterval(), viewgeom::kMinSlideIntervalMs);
}

TEST_F(ViewerTest, ContextMenuFitsTheModeAndPausesTheShow)
{
    m_files << Pattern("m0.png", 30, 20) << Pattern("m1.png", 30, 20) << Missing("m2.png");
    WriteProfileInt(kSettingsSection, settingskey::kSlideShowDelay, 100);
    CPreviewDlg &dlg = Open(0, CPreviewDlg::MODE_FOLDER);
    dlg.OnSlideShow();
    WithContextMenu(dlg, [&](QMenu *menu) {
        std::vector<int> ids;
        for (QAction *a : menu->actions())
            ids.push_back(a->isSeparator() ? 0 : a->data().toInt());
        const std::vector<int> folder = {16,    32772, 0, 32776, 0,     32784, 32785, 0,     32774, 32775, 0,
                                         32779, 32780, 0, 32781, 32782, 32783, 0,     32787, 0,     32773};
        EXPECT_EQ(ids, folder);
        EXPECT_TRUE(Item(menu, 16)->isEnabled());
        EXPECT_FALSE(Item(menu, 32772)->isEnabled()); // at the first picture
        EXPECT_TRUE(Item(menu, 32774)->isChecked());  // actual size by default
        EXPECT_FALSE(Item(menu, 32775)->isChecked());
        EXPECT_TRUE(Item(menu, 32779)->isChecked());
        // While the menu is up, ticks pass without effect.
        EXPECT_FALSE(dlg.IsSlideShow());
        dlg.OnTimer();
        EXPECT_EQ(dlg.GetIndex(), 0);
    });
    EXPECT_TRUE(dlg.IsSlideShow());

    WithContextMenu(dlg, [&](QMenu *menu) { Choose(menu, 32779); });
    EXPECT_FALSE(dlg.IsSlideShow());
    WithContextMenu(dlg, [&](QMenu *menu) { Choose(menu, 32784); });
    EXPECT_TRUE(dlg.IsZoomed());
    WithContextMenu(dlg, [&](QMenu *menu) {
        EXPECT_FALSE(Item(menu, 32774)->isChecked());
        EXPECT_FALSE(Item(menu, 32775)->isChecked());
        Choose(menu, 16);
    });
    EXPECT_EQ(dlg.GetIndex(), 1);

    Key(Qt::Key_End); // the missing file: picture mode, no zoom items
    WithContextMenu(dlg, [&](QMenu *menu) {
        EXPECT_FALSE(Item(menu, 16)->isEnabled());
        for (int id : {32774, 32775, 32784, 32785})
            EXPECT_FALSE(Item(menu, id)->isEnabled()) << id;
        EXPECT_TRUE(Item(menu, 32774)->isChecked());
        Choose(menu, 32773);
    });
    EXPECT_FALSE(dlg.isVisible());

    CPreviewDlg &selected = Open(0, CPreviewDlg::MODE_SELECTED);
    WithContextMenu(selected, [&](QMenu *menu) {
        EXPECT_NE(Item(menu, 32786), nullptr);
        EXPECT_FALSE(Item(menu, 32788)->isChecked()); // the actual output, Preview's only
        EXPECT_EQ(Item(menu, 32776), nullptr);
        EXPECT_EQ(Item(menu, 32781), nullptr);
    });
}
