// Resource, control and command ids of the folder list, the selected list and
// their menus. Widgets and menu actions carry their id as objectName ("1014"),
// so tests find them.
#pragma once

namespace listsid {

// Resources.
inline constexpr int IDB_PLACEHOLDER = 134;   // a row without its thumbnail yet (98 x 74)
inline constexpr int IDR_MENU_FOLDER = 140;   // folder list context menu ("DIR")
inline constexpr int IDR_MENU_SELECTED = 141; // selected list context menu ("Sel")
inline constexpr int IDC_CURSOR_DROP = 142;   // over a list while dragging rows

// Controls of the main window that the lists drive.
inline constexpr int IDC_LIST_SELECTED = 1013;
inline constexpr int IDC_LIST_FOLDER = 1014;
inline constexpr int IDC_LOADING_BAR = 1030;
inline constexpr int IDC_SELECTED_COUNT = 1031;
inline constexpr int IDC_LOADING_LABEL = 1059;

// Commands.
inline constexpr int ID_ADD = 1000;
inline constexpr int ID_ADD_ALL = 1001;
inline constexpr int ID_REMOVE = 1002;
inline constexpr int ID_REMOVE_ALL = 1003;
inline constexpr int ID_VIEW = 1004;

// Resource paths in the resource tree.
inline constexpr const char *kPlaceholderPath = ":/lists/134.png";
inline constexpr const char *kDropCursorPath = ":/lists/142.png";

} // namespace listsid
