#include "viewer/previewprocess.h"

#include "imaging/cxanimation.h"
#include "imaging/formats.h"

#include <algorithm>
#include <cctype>

std::uint32_t PreviewAnimationType(bool preview, const std::string &format, std::uint32_t sourceType)
{
    if (!preview)
        return sourceType;
    std::string f = format;
    std::transform(f.begin(), f.end(), f.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const std::uint32_t type = format.empty() ? sourceType : TypeFromExtension(f);
    return IsAnimationOutputType(type) ? type : 0;
}
