// Camera raw headers: LibRaw's identification, nothing unpacked.
#include "imaging/codecs/probes.h"
#include "imaging/codecs/rawfile.h"

#include <memory>
#include <new>

#include <libraw/libraw.h>

namespace cxprobe {

bool ProbeRaw(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    try {
        auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
        cxraw::Bound(*raw);
        int orientation = 1;
        if (cxraw::Open(*raw, data, size, orientation))
            return false;
        h.width = raw->imgdata.sizes.width;
        h.height = raw->imgdata.sizes.height;
        h.orientation = orientation;
        h.frames = 1;
        h.hasProfile = false; // developed into sRGB
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace cxprobe
