// Resource and control ids of the progress dialog and the overwrite
// question. Widgets carry their id as objectName ("1037") so tests find them.
#pragma once

namespace progressid {

// Progress dialog.
inline constexpr int IDD_PROGRESS = 139;
inline constexpr int IDC_VIEW_RESULTS = 1038;
inline constexpr int IDC_STOP = 1037; // "停止", later "退出"
inline constexpr int IDC_DETAILS = 1036;
inline constexpr int IDC_STATUS = 1060;
inline constexpr int IDC_PROGRESS = 1030;
inline constexpr int IDC_AUTO_CLOSE = 1007;
inline constexpr int IDC_LOG = 1043;
inline constexpr int IDC_UNDO_RUN = 1120; // "撤销上次运行", at the end of a run
inline constexpr int IDC_OPEN_DEST = 1101; // "打开文件夹", shown when the run has ended

// The end of a run, as the worker announces it.
inline constexpr int WM_CONVERT_DONE = 1029;

// Overwrite question.
inline constexpr int IDD_OVERWRITE = 167;
inline constexpr int IDC_AUTO_RENAME = 1068;
inline constexpr int IDC_OVERWRITE = 1067;
inline constexpr int IDC_SKIP = 1079; // "跳过": the existing output is left alone
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_MESSAGE = 1064;
inline constexpr int IDC_REMEMBER = 1007;
inline constexpr int IDC_WARNING_ICON = 1065;

// The application picture shown in the progress dialog.
inline constexpr const char *kAppIconResource = ":/progress/velmora.png";

} // namespace progressid
