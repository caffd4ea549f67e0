// A TIFF's first directory read by libtiff: the size, orientation tag and
// profile tag of the page the decoder reads.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"

#include <cstring>
#include <memory>
#include <tiffio.h>

namespace {

struct Source {
    const std::uint8_t *data;
    std::uint64_t size, pos;
};

tmsize_t Read(thandle_t h, void *buf, tmsize_t n)
{
    auto *s = static_cast<Source *>(h);
    if (n < 0)
        return -1;
    const std::uint64_t take = std::min<std::uint64_t>(std::uint64_t(n), s->size - std::min(s->pos, s->size));
    std::memcpy(buf, s->data + s->pos, std::size_t(take));
    s->pos += take;
    return tmsize_t(take);
}

tmsize_t NoWrite(thandle_t, void *, tmsize_t)
{
    return -1;
}

toff_t Seek(thandle_t h, toff_t off, int whence)
{
    auto *s = static_cast<Source *>(h);
    const std::uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->size : 0;
    if (off > UINT64_MAX - base)
        return toff_t(-1);
    s->pos = base + off;
    return s->pos;
}

int Close(thandle_t)
{
    return 0;
}

toff_t Size(thandle_t h)
{
    return static_cast<Source *>(h)->size;
}

int Quiet(TIFF *, void *, const char *, const char *, va_list)
{
    return 1; // handled: nothing reaches the terminal
}

struct Closer {
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};

} // namespace

namespace cxprobe {

bool ProbeTiff(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    if (!data || size < 8)
        return false;
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return false;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, Quiet, nullptr);
    Source src{data, size, 0};
    // "m": no mapping, read through the procs above.
    std::unique_ptr<TIFF, Closer> tif(
        TIFFClientOpenExt("memory", "rm", &src, Read, NoWrite, Seek, Close, Size, nullptr, nullptr, opts));
    TIFFOpenOptionsFree(opts);
    if (!tif)
        return false;
    std::uint32_t width = 0, height = 0;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint32_t iccSize = 0;
    void *icc = nullptr;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        return false;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    h.width = int(std::min<std::uint32_t>(width, INT32_MAX));
    h.height = int(std::min<std::uint32_t>(height, INT32_MAX));
    h.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    h.hasProfile = TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0;
    h.frames = 1; // only the first page is read
    return cxcodec::FitsPixelLimits(h.width, h.height);
}

} // namespace cxprobe
