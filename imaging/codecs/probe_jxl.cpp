// A JPEG XL header read by libjxl: basic info and colour encoding, then the
// frame headers counted, no pixels decoded.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"

#include <jxl/decode.h>
#include <memory>

namespace {

struct JxlDeleter {
    void operator()(JxlDecoder *d) const { JxlDecoderDestroy(d); }
};

// Takes one event's facts into h; false on an error.
bool TakeEvent(JxlDecoder *dec, JxlDecoderStatus status, ImageHeader &h)
{
    if (status == JXL_DEC_BASIC_INFO) {
        JxlBasicInfo info;
        if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
            return false;
        h.width = int(info.xsize); // as stored: before the orientation
        h.height = int(info.ysize);
        h.orientation = info.orientation >= 1 && info.orientation <= 8 ? int(info.orientation) : 1;
    } else if (status == JXL_DEC_COLOR_ENCODING) {
        // A profile described by an ICC block rather than by enumerated values.
        JxlColorEncoding encoded;
        h.hasProfile = JxlDecoderGetColorAsEncodedProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                                          &encoded) != JXL_DEC_SUCCESS;
    } else if (status == JXL_DEC_FRAME) {
        ++h.frames;
    }
    return true;
}

} // namespace

namespace cxprobe {

bool ProbeJxl(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    std::unique_ptr<JxlDecoder, JxlDeleter> dec(JxlDecoderCreate(nullptr));
    if (!dec ||
        JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec.get(), data, size) != JXL_DEC_SUCCESS)
        return false;
    JxlDecoderCloseInput(dec.get());
    h.frames = 0;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_SUCCESS)
            break;
        if (status == JXL_DEC_ERROR || status == JXL_DEC_NEED_MORE_INPUT || !TakeEvent(dec.get(), status, h))
            return false;
    }
    return h.frames > 0 && cxcodec::FitsPixelLimits(h.width, h.height);
}

} // namespace cxprobe
