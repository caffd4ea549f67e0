// Resource and control ids of the viewer window, its menu and the slideshow
// delay dialog. Widgets carry their id as objectName ("1046"), menu actions
// theirs likewise, so tests find them.
#pragma once

namespace viewerid {

// Windows and resources.
inline constexpr int IDD_PREVIEW = 148;         // the full-screen viewer
inline constexpr int IDC_PICTURE = 1046;        // the animated picture control in it
inline constexpr int IDC_CURSOR_HAND = 149;     // over a picture that can be dragged
inline constexpr int IDC_CURSOR_DRAGGING = 150; // while dragging
inline constexpr int IDR_MENU_PREVIEW = 151;    // the context menu
inline constexpr int IDD_SLIDE_DELAY = 152;     // slideshow delay dialog
inline constexpr int IDR_ERROR_PICTURE = 153;   // "GIF" resource shown for a missing file

// Delay dialog controls.
inline constexpr int IDC_DELAY_EDIT = 1005;
inline constexpr int IDC_DELAY_SPIN = 1050;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Background colour dialog.
inline constexpr int IDD_BACK_COLOUR = 12015;
inline constexpr int IDC_BACK_COLOUR_PICKER = 12000;

// Context menu commands.
inline constexpr int ID_NEXT_IMAGE = 16;
inline constexpr int ID_PREV_IMAGE = 32772;
inline constexpr int ID_EXIT = 32773;
inline constexpr int ID_ACTUAL_SIZE = 32774;
inline constexpr int ID_FIT = 32775;
inline constexpr int ID_ADD_TO_LIST = 32776;
inline constexpr int ID_SLIDESHOW = 32779;
inline constexpr int ID_SLIDE_DELAY = 32780;
inline constexpr int ID_COPY_TO = 32781;
inline constexpr int ID_MOVE_TO = 32782;
inline constexpr int ID_DELETE = 32783;
inline constexpr int ID_ZOOM_IN = 32784;
inline constexpr int ID_ZOOM_OUT = 32785;
inline constexpr int ID_REMOVE_FROM_LIST = 32786;
inline constexpr int ID_BACK_COLOUR = 32787;
inline constexpr int ID_ACTUAL_OUTPUT = 32788; // Preview: the output as a run writes it

} // namespace viewerid
