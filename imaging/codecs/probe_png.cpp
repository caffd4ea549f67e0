// A PNG's header read by libpng: IHDR, and the eXIf, iCCP and text chunks
// before the image data, as the decoder reads them.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"
#include "imaging/cxmetadata.h"

#include <cstring>
#include <png.h>
#include <string>

namespace {

struct Source {
    const std::uint8_t *data;
    std::size_t size, pos;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t n)
{
    auto *s = static_cast<Source *>(png_get_io_ptr(png));
    if (n > s->size - s->pos)
        png_error(png, "truncated");
    std::memcpy(out, s->data + s->pos, n);
    s->pos += n;
}

void Quiet(png_structp, png_const_charp) {}

void OnError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

// The EXIF block as the decoder finds it: an eXIf chunk first, else the
// text chunk older writers keep it in.
std::string ExifOf(png_structp png, png_infop info)
{
    png_uint_32 exifSize = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif)
        return std::string(reinterpret_cast<const char *>(exif), exifSize);
    png_textp text = nullptr;
    const int n = png_get_text(png, info, &text, nullptr);
    for (int i = 0; i < n; ++i) {
        const std::size_t length =
            text[i].compression >= PNG_ITXT_COMPRESSION_NONE ? text[i].itxt_length : text[i].text_length;
        if (std::strcmp(text[i].key, "Raw profile type exif") == 0 ||
            std::strcmp(text[i].key, "Raw profile type APP1") == 0)
            return cxmeta::ExifFromRawProfile(text[i].text, length);
    }
    return {};
}

void ReadHeader(png_structp png, png_infop info, ImageHeader &h)
{
    png_read_info(png, info);
    h.width = int(png_get_image_width(png, info));
    h.height = int(png_get_image_height(png, info));
    h.frames = 1;
    h.hasProfile = png_get_valid(png, info, PNG_INFO_iCCP) != 0;
    h.orientation = cxmeta::ExifOrientation(ExifOf(png, info));
}

} // namespace

namespace cxprobe {

bool ProbePng(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, Quiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    Source src{data, size, 0};
    png_set_user_limits(png, CxImage::kMaxDimension, CxImage::kMaxDimension);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_set_read_fn(png, &src, ReadBytes);
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        ReadHeader(png, info, h);
        ok = cxcodec::FitsPixelLimits(h.width, h.height);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

} // namespace cxprobe
