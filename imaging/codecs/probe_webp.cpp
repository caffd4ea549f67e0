// A WebP's header read by libwebp's demuxer: the canvas, the frame count and
// the EXIF and ICC chunks of an extended file.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"
#include "imaging/cxmetadata.h"

#include <cstring>
#include <memory>
#include <webp/decode.h>
#include <webp/demux.h>

namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer *d) const { WebPDemuxDelete(d); }
};

int ExifOrientation(WebPDemuxer *dmux)
{
    WebPChunkIterator it;
    int orientation = 1;
    if (WebPDemuxGetChunk(dmux, "EXIF", 1, &it)) {
        const std::uint8_t *d = it.chunk.bytes;
        std::size_t n = it.chunk.size;
        // Some writers keep JPEG's APP1 prefix.
        if (n >= 6 && std::memcmp(d, "Exif\0\0", 6) == 0) {
            d += 6;
            n -= 6;
        }
        orientation = cxmeta::ExifOrientation(d, n);
    }
    WebPDemuxReleaseChunkIterator(&it);
    return orientation;
}

} // namespace

namespace cxprobe {

bool ProbeWebp(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    WebPBitstreamFeatures features;
    if (!data || WebPGetFeatures(data, size, &features) != VP8_STATUS_OK)
        return false;
    h.width = features.width;
    h.height = features.height;
    h.frames = 1;
    const WebPData whole{data, size};
    std::unique_ptr<WebPDemuxer, DemuxDeleter> dmux(WebPDemux(&whole));
    if (dmux) {
        const std::uint32_t flags = WebPDemuxGetI(dmux.get(), WEBP_FF_FORMAT_FLAGS);
        if (features.has_animation) {
            h.width = int(WebPDemuxGetI(dmux.get(), WEBP_FF_CANVAS_WIDTH));
            h.height = int(WebPDemuxGetI(dmux.get(), WEBP_FF_CANVAS_HEIGHT));
            h.frames = int(WebPDemuxGetI(dmux.get(), WEBP_FF_FRAME_COUNT));
        }
        h.hasProfile = (flags & ICCP_FLAG) != 0;
        if (flags & EXIF_FLAG)
            h.orientation = ExifOrientation(dmux.get());
    }
    return h.frames > 0 && cxcodec::FitsPixelLimits(h.width, h.height);
}

} // namespace cxprobe
