// Resource ids of the reusable controls. A picture resource lives in the
// resource tree as ":/<type>/<id>", so LoadPictureResource(153, "GIF") finds
// the error picture.
#pragma once

namespace controlsid {

inline constexpr const char *RT_GIF = "GIF";           // resource type of GIF pictures
inline constexpr int IDR_GIF_FILE_ERROR = 153;         // "文件打开错误!", 142 x 21

}  // namespace controlsid
