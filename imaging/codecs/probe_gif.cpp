// A GIF's header: the block walk that counts its frames (no LZW data is
// decoded) gives the canvas they are composed on.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"

#include <string>

namespace cxprobe {

bool ProbeGif(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    cxcodec::GifDecoder walk;
    std::string error;
    if (!walk.Open(data, size, error))
        return false;
    h.width = walk.CanvasWidth();
    h.height = walk.CanvasHeight();
    h.frames = walk.NumFrames();
    return h.width > 0 && h.height > 0;
}

} // namespace cxprobe
