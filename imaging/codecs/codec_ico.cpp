// Icons and cursors: a directory of pictures, each a PNG or a bitmap without
// its file header whose 1-bit AND mask follows the colours. The picture a
// bitmap or PNG describes is the one read, whatever size the directory gives.
#include "imaging/codecs/byteorder.h"
#include "imaging/codecs/codecs.h"

#include <algorithm>
#include <cstring>

namespace {

using cxbytes::Be32;
using cxbytes::Le16;
using cxbytes::Le32;
using cxcodec::RefuseImage;

// Pictures in these files are 256 pixels a side at most.
constexpr std::uint32_t kMaxSide = 256;

// The largest picture, the deepest of those alike (a cursor's depth field
// holds its hot spot instead); the first of equals.
std::size_t ChooseEntry(const std::uint8_t *data, std::size_t count, bool icon)
{
    std::size_t best = 0;
    std::uint64_t bestKey = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *e = data + 6 + 16 * i;
        const std::uint64_t w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
        const std::uint64_t key = (w * h) << 8 | (icon ? std::min<std::uint32_t>(Le16(e + 6), 255) : 0);
        if (key > bestKey) {
            best = i;
            bestKey = key;
        }
    }
    return best;
}

void DropOpaqueAlpha(CxImage &img)
{
    for (int y = 0; y < img.GetHeight() && img.AlphaIsValid(); ++y) {
        const BYTE *a = img.AlphaGetPointer(y);
        if (std::any_of(a, a + img.GetWidth(), [](BYTE v) { return v != 255; }))
            return;
    }
    img.AlphaDelete();
}

bool DecodePngEntry(const std::uint8_t *png, std::size_t n, CxImage &out, const cxcodec::DecodeRequest &req)
{
    if (n >= 24 && (Be32(png + 16) > kMaxSide || Be32(png + 20) > kMaxSide))
        return RefuseImage(out, "image too large");
    cxcodec::DecodeRequest whole;
    whole.cancel = req.cancel;
    if (!cxcodec::DecodePng(png, n, out, whole))
        return false;
    // The picture as stored, and no metadata for the outputs: an icon's
    // PNG is one picture among the file's. An alpha plane opaque
    // everywhere says nothing.
    CxImageAccess::SetMetadata(out, CxMetadata{});
    CxImageAccess::SetOrientation(out, 1);
    DropOpaqueAlpha(out);
    return true;
}

// A bitmap entry in 24 bits, transparent where its alpha says (32 bits with
// any alpha set) or else where its mask bit is 1. A transparent pixel is
// black: under the mask Windows inverts the screen where the colour is not
// black, which a picture cannot show.
bool DecodeDibEntry(const std::uint8_t *dib, std::size_t n, CxImage &out)
{
    CxImage bitmap;
    cxcodec::IconMaskPlace mask;
    if (!cxcodec::DecodeIconDib(dib, n, bitmap, mask))
        return RefuseImage(out, bitmap.GetLastError());
    const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
    bool useAlpha = false;
    for (int y = 0; y < h && bitmap.AlphaIsValid() && !useAlpha; ++y) {
        const BYTE *a = bitmap.AlphaGetPointer(y);
        useAlpha = std::any_of(a, a + w, [](BYTE v) { return v != 0; });
    }
    // A mask cut short is left out: the picture is then opaque.
    const std::size_t maskRow = (std::size_t(w) + 31) / 32 * 4;
    const bool masked =
        !useAlpha && mask.at <= n && maskRow * std::size_t(h - 1) + (std::size_t(w) + 7) / 8 <= n - mask.at;

    if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_ICO) || !out.AlphaCreate())
        return RefuseImage(out, "out of memory");
    const RGBQUAD *palette = bitmap.GetPalette();
    for (int y = 0; y < h; ++y) {
        const BYTE *src = bitmap.GetBits(y);
        const BYTE *srcAlpha = useAlpha ? bitmap.AlphaGetPointer(y) : nullptr;
        const std::uint8_t *bits =
            masked ? dib + mask.at + maskRow * std::size_t(mask.topDown ? y : h - 1 - y) : nullptr;
        BYTE *d = out.GetBits(y);
        BYTE *a = out.AlphaGetPointer(y);
        for (int x = 0; x < w; ++x, d += 3) {
            if (palette) {
                const RGBQUAD c = palette[src[x]];
                d[0] = c.rgbBlue;
                d[1] = c.rgbGreen;
                d[2] = c.rgbRed;
            } else {
                std::memcpy(d, src + 3 * x, 3);
            }
            a[x] = srcAlpha ? srcAlpha[x] : bits && (bits[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 255;
            if (a[x] == 0)
                std::memset(d, 0, 3);
        }
    }
    DropOpaqueAlpha(out);
    return true;
}

} // namespace

namespace cxcodec {

bool DecodeIco(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size < 6)
        return RefuseImage(out, "cannot decode ICO");
    const std::size_t count = Le16(data + 4);
    if (count == 0 || 6 + 16 * count > size)
        return RefuseImage(out, "truncated ICO data");
    const std::uint8_t *e = data + 6 + 16 * ChooseEntry(data, count, Le16(data + 2) == 1);
    const std::size_t bytes = Le32(e + 8), offset = Le32(e + 12);
    if (bytes == 0 || offset > size || bytes > size - offset)
        return RefuseImage(out, "truncated ICO data");
    if (req.cancel && req.cancel->load())
        return RefuseImage(out, "cancelled");
    // The entry's own header says where it ends, as other readers take it;
    // its recorded length only has to fit in the file.
    static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool png = bytes >= 8 && std::memcmp(data + offset, kPng, 8) == 0;
    if (!(png ? DecodePngEntry(data + offset, size - offset, out, req)
              : DecodeDibEntry(data + offset, size - offset, out)))
        return false;
    CxImageAccess::SetSourceSize(out, out.GetWidth(), out.GetHeight());
    return true;
}

} // namespace cxcodec
