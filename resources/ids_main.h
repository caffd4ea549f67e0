// Control ids of the main window. Each widget carries its id as objectName
// ("1019"), so tests and the layout find controls by id.
#pragma once

namespace mainid {

inline constexpr int IDD_MAIN = 102;
inline constexpr int IDS_ABOUTBOX = 101;        // "关于 Velmora(&A)..."
inline constexpr int IDM_ABOUTBOX = 0x0010;

// Commands.
inline constexpr int IDOK = 1;                  // "开始(&S)", the default button
inline constexpr int IDCANCEL = 2;              // "退出(&Q)"
inline constexpr int IDC_PREVIEW = 1045;        // "预览(&P)"
inline constexpr int IDC_VIEW_RESULTS = 1048;   // "查看结果(&V)"
inline constexpr int IDC_ABOUT = 1077;          // "关于(&A)"
inline constexpr int IDC_UNDO_RUN = 1120;       // "撤销上次运行"

// Lists and tree.
inline constexpr int IDC_ADD = 1000;
inline constexpr int IDC_ADD_ALL = 1001;
inline constexpr int IDC_REMOVE = 1002;
inline constexpr int IDC_REMOVE_ALL = 1003;
inline constexpr int IDC_VIEW = 1004;
inline constexpr int IDC_SELECTED_LIST = 1013;
inline constexpr int IDC_FOLDER_LIST = 1014;
inline constexpr int IDC_FOLDER_TREE = 1033;
inline constexpr int IDC_FOLDER_LABEL = 1027;   // above the folder list
inline constexpr int IDC_COUNT_LABEL = 1031;    // "选定的图像: %d"
inline constexpr int IDC_TREE_LABEL = 1026;     // "选择目录:"
inline constexpr int IDC_LOADING_LABEL = 1059;
inline constexpr int IDC_LOADING_BAR = 1030;

// Output group.
inline constexpr int IDC_OUTPUT_GROUP = 1062;
inline constexpr int IDC_FORMAT = 1019;
inline constexpr int IDC_FORMAT_LABEL = 1057;
inline constexpr int IDC_QUALITY = 1070;
inline constexpr int IDC_QUALITY_SPIN = 1075;
inline constexpr int IDC_QUALITY_LABEL = 1076;
inline constexpr int IDC_IF_LARGER = 1111;      // "若更大则保留原文件"
inline constexpr int IDC_DEST = 1023;
inline constexpr int IDC_KEEP_DATES = 1092;     // "保留日期"
inline constexpr int IDC_DATE_SOURCE = 1093;    // the source file's time or the photo's
inline constexpr int IDC_DEST_LABEL = 1058;
inline constexpr int IDC_BROWSE = 1025;
inline constexpr int IDC_FORMAT_SETTINGS = 1100; // "设置...": the chosen format's encoder settings
inline constexpr int IDC_METADATA = 1105;        // keep all, drop the location, remove all
inline constexpr int IDC_METADATA_LABEL = 1106;  // "元数据:"
inline constexpr int IDC_METADATA_TAGS = 1107;   // "...": the tags written and the dates moved

// Rename group.
inline constexpr int IDC_RENAME_GROUP = 1064;
inline constexpr int IDC_RENAME = 1071;
inline constexpr int IDC_PREFIX = 1068;
inline constexpr int IDC_PREFIX_LABEL = 1065;
inline constexpr int IDC_SUFFIX = 1074;
inline constexpr int IDC_SUFFIX_LABEL = 1067;
inline constexpr int IDC_START_NUMBER = 1069;
inline constexpr int IDC_NAME_TEMPLATE = 1091;  // "模板..."
inline constexpr int IDC_START_NUMBER_LABEL = 1066;

// Resize group.
inline constexpr int IDC_RESIZE_GROUP = 1054;
inline constexpr int IDC_RESIZE = 1007;
inline constexpr int IDC_RESIZE_TYPE = 1072;
inline constexpr int IDC_RESIZE_TYPE_LABEL = 1061;
inline constexpr int IDC_WIDTH = 1005;
inline constexpr int IDC_WIDTH_LABEL = 1034;
inline constexpr int IDC_HEIGHT = 1006;
inline constexpr int IDC_HEIGHT_LABEL = 1035;
inline constexpr int IDC_SHARPEN = 1073;
inline constexpr int IDC_DONT_ENLARGE = 1078;
inline constexpr int IDC_RESIZE_MORE = 1090;    // "更多..."

// Rotate group.
inline constexpr int IDC_ROTATE_GROUP = 1055;
inline constexpr int IDC_ROTATE = 1010;
inline constexpr int IDC_ROTATE_LEFT = 1009;    // "-90"
inline constexpr int IDC_ROTATE_RIGHT = 1011;   // "90"
inline constexpr int IDC_ROTATE_180 = 1012;     // "180"
inline constexpr int IDC_PIC_LEFT = 1041;       // bitmap 137
inline constexpr int IDC_PIC_RIGHT = 1040;      // bitmap 135
inline constexpr int IDC_PIC_180 = 1039;        // bitmap 136
inline constexpr int IDC_LOSSLESS = 1110;       // "无损旋转"

// Watermark group.
inline constexpr int IDC_STAMP_GROUP = 1056;
inline constexpr int IDC_STAMP = 1017;
inline constexpr int IDC_STAMP_TEXT = 1020;
inline constexpr int IDC_STAMP_TEXT_LABEL = 1038;
inline constexpr int IDC_FONT = 1021;
inline constexpr int IDC_STAMP_MORE = 1140;     // "更多..."

// Presets, in the row of the selected list's buttons.
inline constexpr int IDC_PRESET_LABEL = 1150;   // "预设:"
inline constexpr int IDC_PRESET = 1151;
inline constexpr int IDC_PRESET_SAVE = 1152;    // "保存..."
inline constexpr int IDC_PRESET_DELETE = 1153;  // "删除", in the save dialog

// Editing steps, at the right end of the folder list's caption row.
inline constexpr int IDC_EDITS = 1160;          // "编辑..."
inline constexpr int IDC_EDITS_LABEL = 1161;    // the chosen steps, "编辑: 翻转、边框"

}  // namespace mainid
