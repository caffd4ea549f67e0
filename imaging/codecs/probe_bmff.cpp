// AVIF and HEIF headers: libavif's parse of the container (no AV1 data
// decoded) and libheif's primary image handle.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"

#include <avif/avif.h>
#include <libheif/heif.h>
#include <memory>

namespace {

struct AvifDeleter {
    void operator()(avifDecoder *d) const { avifDecoderDestroy(d); }
};
struct HeifContextDeleter {
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HeifHandleDeleter {
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};

// irot and imir as an EXIF orientation, as the AVIF decoder reports them.
int AvifOrientation(const avifImage &img)
{
    const int angle = img.transformFlags & AVIF_TRANSFORM_IROT ? img.irot.angle & 3 : 0;
    const int mirror = img.transformFlags & AVIF_TRANSFORM_IMIR ? img.imir.mode & 1 : -1;
    static constexpr int kByAngle[4][3] = {{1, 4, 2}, {8, 5, 7}, {3, 2, 4}, {6, 7, 5}};
    return kByAngle[angle][mirror + 1];
}

bool ParseAvif(avifDecoder &dec, const std::uint8_t *data, std::size_t size, avifDecoderSource source)
{
    dec.imageSizeLimit = std::uint32_t(CxImage::kMaxPixels);
    dec.imageDimensionLimit = std::uint32_t(CxImage::kMaxDimension);
    dec.strictFlags = AVIF_STRICT_DISABLED;
    return avifDecoderSetSource(&dec, source) == AVIF_RESULT_OK &&
           avifDecoderSetIOMemory(&dec, data, size) == AVIF_RESULT_OK &&
           avifDecoderParse(&dec) == AVIF_RESULT_OK;
}

} // namespace

namespace cxprobe {

bool ProbeAvif(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    // The primary item, or for a sequence without one its first frame.
    std::unique_ptr<avifDecoder, AvifDeleter> dec(avifDecoderCreate());
    if (dec && !ParseAvif(*dec, data, size, AVIF_DECODER_SOURCE_PRIMARY_ITEM)) {
        dec.reset(avifDecoderCreate());
        if (dec && !ParseAvif(*dec, data, size, AVIF_DECODER_SOURCE_AUTO))
            return false;
    }
    if (!dec)
        return false;
    const avifImage &img = *dec->image;
    h.width = int(img.width);
    h.height = int(img.height);
    h.orientation = AvifOrientation(img);
    h.hasProfile = img.icc.size > 0;
    h.frames = 1; // the primary image is the picture
    return cxcodec::FitsPixelLimits(h.width, h.height);
}

bool ProbeHeif(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    std::unique_ptr<heif_context, HeifContextDeleter> ctx(heif_context_alloc());
    if (!ctx ||
        heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr).code != heif_error_Ok)
        return false;
    heif_image_handle *p = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &p).code != heif_error_Ok)
        return false;
    std::unique_ptr<heif_image_handle, HeifHandleDeleter> primary(p);
    // The handle's size is the picture's once turned: the decoder applies
    // the file's turns itself and reports it upright.
    h.width = heif_image_handle_get_width(primary.get());
    h.height = heif_image_handle_get_height(primary.get());
    h.orientation = 1;
    h.hasProfile = heif_image_handle_get_raw_color_profile_size(primary.get()) > 0 &&
                   heif_image_handle_get_color_profile_type(primary.get()) != heif_color_profile_type_nclx;
    h.frames = 1;
    return cxcodec::FitsPixelLimits(h.width, h.height);
}

} // namespace cxprobe
