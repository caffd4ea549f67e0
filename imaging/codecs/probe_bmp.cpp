// Header readers for the formats read by our own code: BMP and PCX.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"

namespace {

unsigned U16(const std::uint8_t *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

std::uint32_t U32(const std::uint8_t *p)
{
    return std::uint32_t(U16(p)) | std::uint32_t(U16(p + 2)) << 16;
}

bool Still(ImageHeader &h, std::int64_t width, std::int64_t height)
{
    if (!cxcodec::FitsPixelLimits(width, height))
        return false;
    h.width = int(width);
    h.height = int(height);
    h.frames = 1;
    return true;
}

} // namespace

namespace cxprobe {

bool ProbeBmp(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    // After the file header, or first in a DIB without one.
    const std::size_t start = data && size >= 2 && data[0] == 'B' && data[1] == 'M' ? 14 : 0;
    if (!data || size < start + 4)
        return false;
    const std::uint32_t infoSize = U32(data + start);
    if (infoSize < 12 || size - start < infoSize)
        return false;
    const std::uint8_t *info = data + start;
    if (infoSize == 12) // OS/2 1.x: unsigned 16-bit sizes
        return Still(h, U16(info + 4), U16(info + 6));
    const std::int64_t height = std::int32_t(U32(info + 8)); // negative: rows top down
    return Still(h, std::int32_t(U32(info + 4)), height < 0 ? -height : height);
}

bool ProbePcx(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    if (!data || size < 128 || data[0] != 0x0A)
        return false;
    const int xmin = int(U16(data + 4)), ymin = int(U16(data + 6));
    const int xmax = int(U16(data + 8)), ymax = int(U16(data + 10));
    return xmax >= xmin && ymax >= ymin && Still(h, xmax - xmin + 1, ymax - ymin + 1);
}

} // namespace cxprobe
