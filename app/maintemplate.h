// The main window's template: every control's kind, caption and rectangle at
// the default client size. The layout measures its anchors from these
// places, so they are kept here in one table.
#pragma once

#include <QRect>
#include <QSize>

#include <span>

namespace maintemplate {

enum class Kind {
    Label,
    GroupBox,
    Button,
    DefaultButton,
    CheckBox,
    Radio,
    Edit,
    Combo,
    ElidingCombo, // a combo box whose text too long for it ends in "…"
    ElidingLabel, // a label whose text too long for it ends in "…", whole in its tip
    Spin,
    Picture,
    ProgressBar,
    Tree,
    FolderList,
    SelectedList,
};

struct Control {
    int id;
    Kind kind;
    const char *text;  // UTF-8 source caption, translated as CMainDlg; nullptr for none
    QRect rect;        // client coordinates at the default size
};

// Client size the rectangles are drawn for.
inline constexpr QSize kDefaultClientSize{960, 660};
// Smallest outer size of the window: there the commands of the bottom row,
// Undo Last Run first, still clear the date choice.
inline constexpr QSize kMinimumSize{810, 530};

// Every control of the window in creation (tab) order.
std::span<const Control> Controls();
// The entry of one id; nullptr when the template has no such control.
const Control *Find(int id);

}  // namespace maintemplate
