#include "previewprocess.h"

#include <algorithm>
#include <cctype>

bool PreviewKeepsAnimation(bool preview, const std::string &format)
{
    if (!preview)
        return true;
    std::string f = format;
    std::transform(f.begin(), f.end(), f.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return f.empty() || f == "gif";
}
