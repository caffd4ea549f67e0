#include "imaging/codecs/rawfile.h"

#include "imaging/codecs/codecs.h"

#include <cstring>

#include <libraw/libraw.h>

namespace {

// A classic TIFF's directories, read within the bytes.
struct Tiff {
    const std::uint8_t *d;
    std::size_t n;
    bool little;

    std::uint32_t U16(std::size_t at) const
    {
        if (at > n || n - at < 2)
            return 0;
        return little ? std::uint32_t(d[at]) | std::uint32_t(d[at + 1]) << 8
                      : std::uint32_t(d[at]) << 8 | d[at + 1];
    }
    std::uint32_t U32(std::size_t at) const
    {
        if (at > n || n - at < 4)
            return 0;
        return little ? U16(at) | U16(at + 2) << 16 : U16(at) << 16 | U16(at + 2);
    }
};

constexpr std::uint32_t kDngVersion = 50706, kPhotometric = 262, kSubIfds = 330;
constexpr std::uint32_t kCfa = 32803, kLinearRaw = 34892;
constexpr std::uint32_t kMaxEntries = 1024, kMaxSubIfds = 8, kMaxChain = 4;

// Whether the directory at `at` (or, from IFD0's level, one of its sub
// directories) is a DNG's or holds raw sensor samples.
bool DirectorySaysRaw(const Tiff &t, std::uint32_t at, bool top)
{
    const std::uint32_t count = t.U16(at);
    if (at < 8 || count == 0 || count > kMaxEntries || t.n - at < 2 + std::size_t(count) * 12)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t e = at + 2 + std::size_t(i) * 12;
        const std::uint32_t tag = t.U16(e), type = t.U16(e + 2), values = t.U32(e + 4);
        if (tag == kDngVersion)
            return true;
        if (tag == kPhotometric && type == 3 && (t.U16(e + 8) == kCfa || t.U16(e + 8) == kLinearRaw))
            return true;
        if (tag == kSubIfds && top && (type == 4 || type == 13) && values > 0) {
            const std::uint32_t listed = values < kMaxSubIfds ? values : kMaxSubIfds;
            for (std::uint32_t k = 0; k < listed; ++k) {
                const std::uint32_t sub =
                    values == 1 ? t.U32(e + 8) : t.U32(std::size_t(t.U32(e + 8)) + 4 * k);
                if (DirectorySaysRaw(t, sub, false))
                    return true;
            }
        }
    }
    return false;
}

// The literal's bytes, NULs included, at `at`.
template <std::size_t N>
bool Starts(const std::uint8_t *d, std::size_t n, std::size_t at, const char (&text)[N])
{
    return n >= at + N - 1 && std::memcmp(d + at, text, N - 1) == 0;
}

} // namespace

namespace cxcodec {

bool IsTiff(const std::uint8_t *d, std::size_t n)
{
    // 42: classic TIFF, 43: BigTIFF.
    return n >= 4 && ((d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
                      (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43)));
}

bool IsRawTiff(const std::uint8_t *d, std::size_t n)
{
    if (!IsTiff(d, n) || n < 16 || (d[2] != 42 && d[3] != 42))
        return false;
    if (Starts(d, n, 8, "CR\x02"))
        return true;
    const Tiff t{d, n, d[0] == 'I'};
    std::uint32_t at = t.U32(4);
    for (std::uint32_t k = 0; k < kMaxChain && at != 0; ++k) {
        if (DirectorySaysRaw(t, at, true))
            return true;
        const std::uint32_t count = t.U16(at);
        at = count > kMaxEntries ? 0 : t.U32(std::size_t(at) + 2 + std::size_t(count) * 12);
    }
    return false;
}

bool IsCameraRaw(const std::uint8_t *d, std::size_t n)
{
    return IsRawTiff(d, n) || Starts(d, n, 0, "IIRO") || Starts(d, n, 0, "IIRS") || Starts(d, n, 0, "MMOR") ||
           Starts(d, n, 0, "IIU\0") || Starts(d, n, 0, "FUJIFILM") || Starts(d, n, 0, "\0MRM") ||
           Starts(d, n, 0, "IIII") || (Starts(d, n, 0, "II") && Starts(d, n, 6, "HEAPCCDR")) ||
           (Starts(d, n, 4, "ftyp") && Starts(d, n, 8, "crx "));
}

} // namespace cxcodec

namespace cxraw {

void Bound(LibRaw &raw)
{
    raw.imgdata.params.max_raw_memory_mb = kMaxRawMemoryMb;
}

int OrientationOfFlip(int flip)
{
    static constexpr int kByFlip[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    return flip >= 0 && flip < 8 ? kByFlip[flip] : 1;
}

const char *Open(LibRaw &raw, const std::uint8_t *data, std::size_t size, int &orientation)
{
    if (!data || size == 0)
        return "cannot decode camera raw";
    // LibRaw only reads the buffer it is given.
    const int e = raw.open_buffer(const_cast<std::uint8_t *>(data), size);
    if (e == LIBRAW_TOO_BIG)
        return "image too large";
    if (e != LIBRAW_SUCCESS)
        return e == LIBRAW_FILE_UNSUPPORTED ? "unsupported camera raw file" : "damaged camera raw file";
    const libraw_image_sizes_t &s = raw.imgdata.sizes;
    if (!cxcodec::FitsPixelLimits(s.raw_width, s.raw_height) || !cxcodec::FitsPixelLimits(s.width, s.height))
        return "image too large";
    orientation = OrientationOfFlip(s.flip);
    return nullptr;
}

} // namespace cxraw
