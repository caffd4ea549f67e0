// Resource ids of the reusable controls. A picture resource lives in the
// resource tree as ":/<type>/<id>", so LoadPictureResource(153, "GIF") finds
// the error picture.
#pragma once

namespace controlsid {

inline constexpr const char *RT_GIF = "GIF";   // resource type of GIF pictures
inline constexpr int IDR_GIF_FILE_ERROR = 153; // "文件打开错误!", 142 x 21

// The link labels' pointing hand, ":/CURSOR/143.png" (resources/app.qrc); the
// fingertip is its hot spot.
inline constexpr int IDC_CURSOR_LINK = 143;
inline constexpr int kLinkCursorHotX = 10;
inline constexpr int kLinkCursorHotY = 1;

} // namespace controlsid
