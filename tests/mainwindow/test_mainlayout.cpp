#include "app/controlbyid.h"
#include "app/mainlayout.h"
#include "tests/mainwindow/mainwindow_fixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

#include <functional>

using namespace mainid;
using namespace mwtest;

namespace {

using MainLayout = MainWindowTest;

void Mouse(QWidget *w, QEvent::Type type, QPoint p, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Drag(QWidget *w, QPoint from, QPoint to)
{
    Mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, to, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

QPoint Centre(const WinRect &r)
{
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

TEST_F(MainLayout, SplitterClampRules)
{
    EXPECT_EQ(SplitVerLeftFor(119, 1000), 117);
    EXPECT_EQ(SplitVerLeftFor(120, 1000), 117);
    EXPECT_EQ(SplitVerLeftFor(300, 1000), 297);
    EXPECT_EQ(SplitVerLeftFor(432, 1000), 429);
    EXPECT_EQ(SplitVerLeftFor(433, 1000), 429);
    EXPECT_EQ(SplitHorTopFor(49, 400), 36);
    EXPECT_EQ(SplitHorTopFor(100, 400), 86);
    EXPECT_EQ(SplitHorTopFor(350, 400), 336);
}

TEST_F(MainLayout, TemplateFallsWhereTheRulesExpect)
{
    CMainDlg &dlg = Open();
    CMainLayout &l = *dlg.Layout();
    EXPECT_EQ(dlg.minimumSize(), QSize(810, 530));
    EXPECT_EQ(l.m_rtSplitVer, (WinRect{186, 24, 192, dlg.height() - l.m_nBottomPanel}));
    EXPECT_EQ(l.m_nHeightListSel, 152);
    const int r = dlg.width();
    EXPECT_EQ(Ctl(IDC_ADD)->x(), r - 444);
    EXPECT_EQ(Ctl(IDC_VIEW)->x(), r - 102);
    EXPECT_EQ(Ctl(IDC_ADD)->y(), l.m_rtSplitHor.top + 4);
    EXPECT_EQ(Ctl(IDC_COUNT_LABEL)->y(), l.m_rtSplitHor.top + 13);
    EXPECT_EQ(Ctl(IDC_SELECTED_LIST)->height(), 152);
    EXPECT_EQ(Ctl(IDC_FOLDER_TREE)->geometry(), QRect(6, 24, 180, dlg.height() - l.m_nBottomPanel - 24));
    // Labels in the option groups end before the control they name.
    for (auto [label, control] : {std::pair{IDC_QUALITY_LABEL, IDC_QUALITY}, {IDC_FORMAT_LABEL, IDC_FORMAT},
                                  {IDC_DEST_LABEL, IDC_DEST}, {IDC_PREFIX_LABEL, IDC_PREFIX},
                                  {IDC_START_NUMBER_LABEL, IDC_START_NUMBER}, {IDC_STAMP_TEXT_LABEL, IDC_STAMP_TEXT},
                                  {IDC_METADATA_LABEL, IDC_METADATA}}) {
        const auto *text = Ctl<QLabel>(label);
        EXPECT_LT(text->x() + text->fontMetrics().horizontalAdvance(text->text()), Ctl(control)->x()) << label;
    }
    EXPECT_EQ(Ctl(IDC_QUALITY_SPIN)->x(), Ctl(IDC_QUALITY)->geometry().right() + 1);
}

TEST_F(MainLayout, AnchoredGroupsFollowTheirCorners)
{
    CMainDlg &dlg = Open();
    const QRect start = Ctl(IDOK)->geometry(), format = Ctl(IDC_FORMAT)->geometry(),
                quality = Ctl(IDC_QUALITY)->geometry(), stamp = Ctl(IDC_STAMP_TEXT)->geometry(),
                settings = Ctl(IDC_FORMAT_SETTINGS)->geometry(), metadata = Ctl(IDC_METADATA)->geometry();
    dlg.resize(dlg.width() + 100, dlg.height() + 50);
    // The format list's button goes with its right end; the metadata list
    // stays beside the dates, before the command buttons.
    EXPECT_EQ(Ctl(IDC_FORMAT_SETTINGS)->geometry(), settings.translated(100, 50));
    EXPECT_LT(Ctl(IDC_FORMAT)->geometry().right(), Ctl(IDC_FORMAT_SETTINGS)->x());
    EXPECT_EQ(Ctl(IDC_METADATA)->geometry(), metadata.translated(0, 50));
    EXPECT_LT(metadata.right(), start.x());
    EXPECT_EQ(Ctl(IDOK)->geometry(), start.translated(100, 50));
    EXPECT_EQ(Ctl(IDC_STAMP_TEXT)->geometry(), stamp.translated(100, 50));
    EXPECT_EQ(Ctl(IDC_FORMAT)->geometry(), format.translated(0, 50).adjusted(0, 0, 100, 0));
    EXPECT_EQ(Ctl(IDC_QUALITY)->geometry(), quality.translated(0, 50));
    // Nothing of the panel overlaps the lists.
    EXPECT_LE(Ctl(IDC_SELECTED_LIST)->geometry().bottom(), Ctl(IDC_OUTPUT_GROUP)->y());
}

TEST_F(MainLayout, VerticalSplitterStopsAtItsLimits)
{
    CMainDlg &dlg = Open();
    CMainLayout &l = *dlg.Layout();
    Drag(&dlg, Centre(l.m_rtSplitVer), {5, 200});
    EXPECT_EQ(l.m_rtSplitVer.left, 117);
    EXPECT_EQ(l.m_rtSplitVer.right, 123);
    EXPECT_EQ(Ctl(IDC_FOLDER_TREE)->width(), 111);
    EXPECT_EQ(Ctl(IDC_FOLDER_LIST)->x(), 123);
    Drag(&dlg, Centre(l.m_rtSplitVer), {dlg.width() - 10, 200});
    EXPECT_EQ(l.m_rtSplitVer.left, dlg.width() - 571);
    EXPECT_EQ(Ctl(IDC_FOLDER_TREE)->width(), dlg.width() - 577);
    EXPECT_FALSE(l.m_bDragSplitVer);
    Drag(&dlg, Centre(l.m_rtSplitVer), {300, 200});
    EXPECT_EQ(l.m_rtSplitVer.left, 297);
}

TEST_F(MainLayout, HorizontalSplitterStopsAtItsLimits)
{
    CMainDlg &dlg = Open();
    CMainLayout &l = *dlg.Layout();
    Drag(&dlg, Centre(l.m_rtSplitHor), {400, 3});
    EXPECT_EQ(l.m_rtSplitHor.top, 36);
    EXPECT_EQ(Ctl(IDC_FOLDER_LIST)->height(), 12);
    Drag(&dlg, Centre(l.m_rtSplitHor), {400, dlg.height()});
    EXPECT_EQ(l.m_rtSplitHor.top, l.m_rtSplitVer.bottom - 64);
    EXPECT_EQ(Ctl(IDC_SELECTED_LIST)->height(), 28);
    EXPECT_EQ(l.m_nHeightListSel, 28);
    EXPECT_EQ(Ctl(IDC_ADD)->y(), l.m_rtSplitHor.top + 4);
}

TEST_F(MainLayout, ShrinkingResetsTheSelectedListAndTheSplitter)
{
    CMainDlg &dlg = Open();
    CMainLayout &l = *dlg.Layout();
    Drag(&dlg, Centre(l.m_rtSplitHor), {400, 100});
    Drag(&dlg, Centre(l.m_rtSplitVer), {dlg.width() - 10, 200});
    ASSERT_GT(l.m_nHeightListSel, 232);
    dlg.resize(810, 530);
    EXPECT_EQ(l.m_nHeightListSel, 152);
    EXPECT_EQ(l.m_rtSplitVer.left, 186);
    EXPECT_EQ(l.m_rtSplitVer.right, 192);
    EXPECT_EQ(Ctl(IDC_SELECTED_LIST)->height(), 152);
}

TEST_F(MainLayout, TheMinimumSizeIsHeldAndNothingOfThePanelOverlapsThere)
{
    CMainDlg &dlg = Open();
    const struct {
        const char *how;
        std::function<void()> resize;
    } rows[] = {
        {"asked for", [&] { dlg.resize(810, 530); }},
        // As a display without a window manager does: nothing holds the hint.
        {"made smaller by the display", [&] { dlg.windowHandle()->resize(700, 480); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.how);
        dlg.resize(900, 600);
        row.resize();
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == QSize(810, 530); }, 2000))
            << dlg.width() << "x" << dlg.height();
        std::vector<QWidget *> panel;
        for (const AnchorRecord &a : dlg.Layout()->m_anchors)
            if (QWidget *w = Ctl(a.id); w->isVisible())
                panel.push_back(w);
        ASSERT_GT(panel.size(), 40u);
        for (std::size_t i = 0; i < panel.size(); ++i) {
            EXPECT_TRUE(dlg.rect().contains(panel[i]->geometry())) << panel[i]->objectName().toStdString();
            // A group's own controls lie over it; groups and controls must not meet.
            const bool group = qobject_cast<QGroupBox *>(panel[i]);
            for (std::size_t j = i + 1; j < panel.size(); ++j) {
                if (group == bool(qobject_cast<QGroupBox *>(panel[j]))) {
                    EXPECT_FALSE(panel[i]->geometry().intersects(panel[j]->geometry()))
                        << panel[i]->objectName().toStdString() << " "
                        << panel[j]->objectName().toStdString();
                }
            }
        }
    }
}

TEST_F(MainLayout, GeometryRoundTripIncludingMaximised)
{
    {
        CMainDlg &dlg = Open();
        dlg.move(40, 30);
        dlg.resize(900, 600);
        Drag(&dlg, Centre(dlg.Layout()->m_rtSplitVer), {200, 200});
        dlg.setWindowState(Qt::WindowMaximized);
        dlg.reject();
        m_dlg.reset();
    }
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kMaximized, -1), 16777216);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kSizeCx, -1), 900);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kSizeCy, -1), 600);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kPosX, -1), 40);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kSplitVerLeft, -1), 197);

    CMainDlg &dlg = Open();
    EXPECT_TRUE(dlg.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(dlg.Layout()->m_rtSplitVer.left, 197);
    dlg.setWindowState(Qt::WindowNoState);
    dlg.reject();
    m_dlg.reset();
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kMaximized, -1), 0);
    EXPECT_EQ(GetProfileInt(kSettingsSection, settingskey::kSizeCx, -1), 900);
}

}  // namespace

TEST(ControlById, FindsTheTypedControlAndStopsTheProgramOnAWrongIdOrType)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QWidget window;
    auto *label = new QLabel(&window);
    label->setObjectName("7");
    auto *group = new QWidget(&window);
    auto *inner = new QLabel(group);
    inner->setObjectName("8");

    EXPECT_EQ(ControlById<QLabel>(&window, 7), label);
    EXPECT_EQ(ControlById(&window, 8), inner);
    struct Wrong {
        int id;
        bool asButton;
        Qt::FindChildOptions options;
    };
    for (const Wrong &w : {Wrong{9, false, Qt::FindChildrenRecursively}, Wrong{7, true, Qt::FindChildrenRecursively},
                           Wrong{8, false, Qt::FindDirectChildrenOnly}}) {
        SCOPED_TRACE(w.id);
        const std::string expected = "no control with id " + std::to_string(w.id);
        if (w.asButton)
            EXPECT_DEATH(ControlById<QPushButton>(&window, w.id, w.options), expected);
        else
            EXPECT_DEATH(ControlById(&window, w.id, w.options), expected);
    }
}
