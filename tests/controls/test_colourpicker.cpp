#include "controls/colourpicker.h"
#include "controls/colourpickergrid.h"
#include "controls/colourpickerpopup.h"
#include "resources/ids_colourpicker.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace colourgrid;
using namespace colourpickerid;

namespace {

TEST(ColourGrid, InitialChoiceRules)
{
    EXPECT_EQ(InitialChoice(kAutomatic, true, true), kAutoBox);
    // Without an automatic box "automatic" is just a colour not in the table.
    EXPECT_EQ(InitialChoice(kAutomatic, false, true), kMoreBox);
    EXPECT_EQ(InitialChoice(kAutomatic, false, false), kNoBox);
    EXPECT_EQ(InitialChoice(RGB(152, 251, 152), true, true), 35);
    EXPECT_EQ(InitialChoice(RGB(0, 0, 0), true, true), 0);
    EXPECT_EQ(InitialChoice(RGB(1, 2, 3), true, true), kMoreBox);
    EXPECT_EQ(InitialChoice(RGB(1, 2, 3), true, false), kNoBox);
    EXPECT_STREQ(At(35).name, "Pale green ");
    EXPECT_EQ(At(39).colour, RGB(255, 255, 255));
}

TEST(ColourGrid, KeyTableFromEachKindOfBox)
{
    struct Case {
        int from;
        Move move;
        bool d, c;
        int to;
    };
    const int D = kAutoBox, C = kMoreBox;
    // clang-format off
    const Case cases[] = {
        // From the automatic box.
        {D, Move::Down, true, true, 0},   {D, Move::Right, true, false, 0},
        {D, Move::Up, true, true, C},     {D, Move::Up, true, false, 39},
        {D, Move::Left, true, true, C},   {D, Move::Left, true, false, 39},
        // From the more-colours box.
        {C, Move::Down, true, true, D},   {C, Move::Down, false, true, 0},
        {C, Move::Right, true, true, D},  {C, Move::Right, false, true, 0},
        {C, Move::Up, true, true, 39},    {C, Move::Left, false, true, 39},
        // Inside the grid.
        {5, Move::Down, true, true, 13},  {13, Move::Up, true, true, 5},
        {7, Move::Right, true, true, 8},  {8, Move::Left, true, true, 7},
        // Off the bottom and the end.
        {35, Move::Down, true, true, C},  {35, Move::Down, true, false, D},  {35, Move::Down, false, false, 0},
        {39, Move::Right, true, true, C}, {39, Move::Right, true, false, D}, {39, Move::Right, false, false, 0},
        // Off the top and the start.
        {3, Move::Up, true, true, D},     {3, Move::Up, false, true, C},     {3, Move::Up, false, false, 39},
        {0, Move::Left, true, true, D},   {0, Move::Left, false, true, C},   {0, Move::Left, false, false, 39},
    };
    // clang-format on
    for (const Case &k : cases)
        EXPECT_EQ(KeyMove(k.from, k.move, k.d, k.c), k.to)
            << "from " << k.from << " move " << int(k.move) << " d " << k.d << " c " << k.c;
}

TEST(ColourGrid, LayoutHitTestAndPlacement)
{
    const Layout l = ComputeLayout(BoxSize(2), 2, true, true, QSize(200, 14));
    EXPECT_EQ(l.box, 18);
    EXPECT_EQ(l.window.width(), 200 + 8); // the text is wider than the grid
    const int textBox = 14 + 4 * 2 + 2;
    EXPECT_EQ(l.window.height(), 5 * 18 + 4 + 2 * (textBox + 4));
    for (int i = 0; i < kCount; ++i) {
        const std::optional<int> hit = HitTest(l, l.BoxRect(i).center());
        ASSERT_TRUE(hit);
        EXPECT_EQ(*hit, i);
    }
    EXPECT_EQ(HitTest(l, l.autoBox.center()), kAutoBox);
    EXPECT_EQ(HitTest(l, l.moreBox.center()), kMoreBox);
    EXPECT_FALSE(l.autoBox.intersects(l.BoxRect(0)));
    EXPECT_FALSE(l.moreBox.intersects(l.BoxRect(39)));
    // Right of the grid and in the gap above it: no box.
    EXPECT_FALSE(HitTest(l, QPoint(l.BoxRect(7).right() + 5, l.BoxRect(7).center().y())));
    EXPECT_FALSE(HitTest(l, QPoint(l.BoxRect(0).center().x(), l.BoxRect(0).top() - 2)));

    const QRect screen(0, 0, 1280, 800);
    const QSize size(150, 160);
    EXPECT_EQ(PlacePopup(size, QRect(100, 100, 80, 20), screen), QPoint(100, 120));
    EXPECT_EQ(PlacePopup(size, QRect(100, 700, 80, 20), screen), QPoint(100, 700 - 160));
    EXPECT_EQ(PlacePopup(size, QRect(1200, 100, 80, 20), screen), QPoint(1280 - 150, 120));
    EXPECT_EQ(PlacePopup(size, QRect(-50, 100, 80, 20), screen), QPoint(0, 120));
}

struct Note {
    int message;
    COLORREF colour;
    int id;
};

class PickerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dlg = std::make_unique<QDialog>();
        m_dlg->resize(300, 200);
        m_picker = new CColourPicker(m_dlg.get());
        m_picker->setObjectName("12000");
        m_picker->setGeometry(20, 20, 120, 24);
        QObject::connect(m_picker, &CColourPicker::Notify, [this](int m, COLORREF c, int id) {
            m_notes.push_back({m, c, id});
        });
        m_dlg->show();
    }

    CColourPickerPopup *Open()
    {
        m_picker->click();
        CColourPickerPopup *popup = m_picker->GetPopup();
        EXPECT_TRUE(popup);
        EXPECT_TRUE(m_picker->IsPopupOpen());
        return popup;
    }
    static void Key(QWidget *w, int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
    }
    static void Mouse(QWidget *w, QEvent::Type type, QPoint p)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    // Lets the closed popup go away.
    void Settle()
    {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !m_picker->GetPopup(); }, 5000));
    }
    std::vector<int> Messages() const
    {
        std::vector<int> m;
        for (const Note &n : m_notes)
            m.push_back(n.message);
        return m;
    }

    std::unique_ptr<QDialog> m_dlg;
    CColourPicker *m_picker = nullptr;
    std::vector<Note> m_notes;
};

TEST_F(PickerTest, EscapeAfterMovingReturnsTheInitialColourWithoutAChange)
{
    m_picker->SetColour(RGB(1, 2, 3));
    CColourPickerPopup *popup = Open();
    ASSERT_EQ(Messages(), std::vector<int>{CPN_DROPDOWN});
    EXPECT_EQ(m_notes[0].id, 12000);
    // Not in the table, with a more-colours text: nothing highlighted, that box chosen.
    EXPECT_EQ(popup->GetHighlighted(), kNoBox);
    EXPECT_EQ(popup->GetChosen(), kMoreBox);

    const Layout &l = popup->GetLayout();
    for (int box : {0, 9, 18})
        Mouse(popup, QEvent::MouseMove, l.BoxRect(box).center());
    Key(popup, Qt::Key_Down);
    EXPECT_EQ(popup->GetHighlighted(), 26);
    EXPECT_EQ(popup->GetColour(), At(26).colour);
    // Track-selection off: the swatch stays.
    EXPECT_EQ(m_picker->GetColour(), RGB(1, 2, 3));

    m_notes.clear();
    Key(popup, Qt::Key_Escape);
    ASSERT_EQ(Messages(), (std::vector<int>{CPN_CLOSEUP, CPN_SELENDCANCEL}));
    for (const Note &n : m_notes)
        EXPECT_EQ(n.colour, RGB(1, 2, 3));
    EXPECT_FALSE(m_picker->IsPopupOpen());
    EXPECT_EQ(m_picker->GetColour(), RGB(1, 2, 3));
    Settle();
}

TEST_F(PickerTest, TrackingAndChoosingByKeyAndMouse)
{
    m_picker->SetColour(At(12).colour);
    m_picker->SetTrackSelection(true);
    CColourPickerPopup *popup = Open();
    EXPECT_EQ(popup->GetChosen(), 12);
    Key(popup, Qt::Key_Right); // highlights the chosen box first
    Key(popup, Qt::Key_Right);
    EXPECT_EQ(popup->GetHighlighted(), 13);
    EXPECT_EQ(m_picker->GetColour(), At(13).colour); // followed
    m_notes.clear();
    Key(popup, Qt::Key_Return);
    // Tracking already moved the swatch: no change at the end.
    EXPECT_EQ(Messages(), (std::vector<int>{CPN_CLOSEUP, CPN_SELENDOK}));
    Settle();

    m_picker->SetTrackSelection(false);
    popup = Open();
    Mouse(popup, QEvent::MouseMove, popup->GetLayout().autoBox.center());
    EXPECT_EQ(m_picker->GetColour(), At(13).colour);
    m_notes.clear();
    Mouse(popup, QEvent::MouseButtonRelease, popup->GetLayout().autoBox.center());
    EXPECT_EQ(Messages(), (std::vector<int>{CPN_CLOSEUP, CPN_SELENDOK, CPN_SELCHANGE}));
    EXPECT_EQ(m_picker->GetColour(), kAutomatic);
    Settle();

    // Released outside: cancelled.
    popup = Open();
    Mouse(popup, QEvent::MouseMove, popup->GetLayout().BoxRect(4).center());
    m_notes.clear();
    Mouse(popup, QEvent::MouseButtonRelease, QPoint(-20, -20));
    EXPECT_EQ(Messages(), (std::vector<int>{CPN_CLOSEUP, CPN_SELENDCANCEL}));
    EXPECT_EQ(m_picker->GetColour(), kAutomatic);
    Settle();
}

TEST_F(PickerTest, MoreColoursRunsTheColourDialog)
{
    m_picker->SetColour(RGB(10, 20, 30));
    for (bool accept : {true, false}) {
        CColourPickerPopup *popup = Open();
        Key(popup, Qt::Key_Down); // the chosen box: more colours
        ASSERT_EQ(popup->GetHighlighted(), kMoreBox);
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto *dlg = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
            ASSERT_TRUE(dlg);
            EXPECT_EQ(dlg->currentColor(), QColor(10, 20, 30));
            dlg->setCurrentColor(QColor(200, 100, 50));
            answered = true;
            if (accept)
                dlg->accept();
            else
                dlg->reject();
        });
        m_notes.clear();
        Key(popup, Qt::Key_Space);
        EXPECT_TRUE(answered);
        if (accept) {
            EXPECT_EQ(Messages(), (std::vector<int>{CPN_CLOSEUP, CPN_SELENDOK, CPN_SELCHANGE}));
            EXPECT_EQ(m_picker->GetColour(), RGB(200, 100, 50));
            m_picker->SetColour(RGB(10, 20, 30));
        } else {
            EXPECT_EQ(Messages(), (std::vector<int>{CPN_CLOSEUP, CPN_SELENDCANCEL}));
            EXPECT_EQ(m_picker->GetColour(), RGB(10, 20, 30));
        }
        Settle();
    }
}

TEST_F(PickerTest, PopupKeepsToTheScreenAndNamesItsBoxes)
{
    const QRect screen = m_picker->screen()->geometry();
    m_dlg->move(screen.left() + 10, screen.bottom() - 60);
    QApplication::processEvents();
    const QRect button(m_picker->mapToGlobal(QPoint(0, 0)), m_picker->size());
    CColourPickerPopup *popup = Open();
    EXPECT_EQ(popup->geometry().bottom(), button.top() - 1);
    EXPECT_EQ(popup->geometry().left(), button.left());
    EXPECT_EQ(popup->ToolTipAt(popup->GetLayout().BoxRect(35).center()), "Pale green ");
    EXPECT_EQ(popup->ToolTipAt(popup->GetLayout().autoBox.center()), "");
    // A click elsewhere closes a popup: that is a cancel too.
    m_notes.clear();
    Mouse(popup, QEvent::MouseButtonPress, QPoint(-30, -30));
    EXPECT_EQ(Messages(), (std::vector<int>{CPN_CLOSEUP, CPN_SELENDCANCEL}));
    Settle();
}

TEST_F(PickerTest, SizesItselfAndEditsTheTextColourInTextMode)
{
    EXPECT_EQ(m_picker->height(), m_picker->GetArrowRect().height() + 4);
    EXPECT_EQ(m_picker->GetArrowRect().right(), m_picker->width() - 3);
    m_picker->SetBkColour(RGB(9, 9, 9));
    m_picker->SetSelectionMode(CColourPicker::CP_MODE_TEXT);
    m_picker->SetColour(RGB(255, 0, 0));
    EXPECT_EQ(m_picker->GetTextColour(), RGB(255, 0, 0));
    EXPECT_EQ(m_picker->GetBkColour(), RGB(9, 9, 9));
    CColourPickerPopup *popup = Open();
    EXPECT_EQ(popup->GetChosen(), 16);
    Key(popup, Qt::Key_Escape);
    Settle();
}

} // namespace
