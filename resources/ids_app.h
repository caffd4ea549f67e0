// Resource and control ids of the application's own windows and pictures.
// Pictures live in the resource tree as ":/<type>/<id>.png" (resources/app.qrc).
#pragma once

namespace appid {

// About box.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDC_VERSION = 1077;  // "Velmora 1.00"
inline constexpr int IDC_HOMEPAGE = 1042; // link label after "主页: "
inline constexpr int IDC_LANGUAGE = 1043; // "跟随系统", "中文", "English": stored as "", "zh", "en"
inline constexpr int IDC_LANGUAGE_NOTE = 1044; // "重新启动后生效。", shown once the choice changes
inline constexpr int IDC_NAUTILUS_SCRIPTS = 1045; // "安装 Nautilus 脚本", left of OK

// Pictures.
inline constexpr int IDR_MAINFRAME = 128;     // the application icon, several sizes
inline constexpr int IDB_ROTATE_90 = 135;     // "90"
inline constexpr int IDB_ROTATE_180 = 136;    // "180"
inline constexpr int IDB_ROTATE_M90 = 137;    // "-90"
inline constexpr int IDC_CURSOR_SPLITV = 154; // the band between the folder tree and the lists
inline constexpr int IDC_CURSOR_SPLITH = 155; // the band between the two lists

// The rotation pictures' background, made transparent where they are shown.
inline constexpr int kKeyRed = 214;
inline constexpr int kKeyGreen = 211;
inline constexpr int kKeyBlue = 206;

// Watermark font and colour dialog.
inline constexpr int IDC_FONT_FACE = 1301;
inline constexpr int IDC_FONT_SIZE = 1302;
inline constexpr int IDC_FONT_BOLD = 1303;
inline constexpr int IDC_FONT_ITALIC = 1304;
inline constexpr int IDC_FONT_UNDERLINE = 1305;
inline constexpr int IDC_FONT_STRIKEOUT = 1306;
inline constexpr int IDC_FONT_COLOUR = 1307;
inline constexpr int IDC_FONT_SAMPLE = 1308;

} // namespace appid
