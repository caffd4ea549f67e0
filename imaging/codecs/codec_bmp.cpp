// Windows and OS/2 bitmaps. The reader is written by hand so that every read
// of the (untrusted) file is checked against its size; the writer emits plain
// BITMAPINFOHEADER files that every reader understands.
#include "imaging/codecs/codecs.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
constexpr std::uint64_t kRlePixelsPerByte = 16384;

constexpr std::size_t kFileHeaderSize = 14;

std::uint16_t U16(const std::uint8_t *p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t U32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

void Put16(std::uint8_t *p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void Put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

bool Fail(CxImage &out, const char *why)
{
    CxImageAccess::SetError(out, why);
    return false;
}

// One colour channel of a 16- or 32-bit pixel, described by its bit mask and
// scaled to the full 0..255 range whatever its width.
class Channel {
public:
    explicit Channel(std::uint32_t mask = 0) : m_mask(mask)
    {
        if (mask) {
            m_shift = std::countr_zero(mask);
            m_max = mask >> m_shift;
        }
    }
    bool Present() const { return m_mask != 0; }
    BYTE Get(std::uint32_t pixel) const
    {
        if (!m_mask)
            return 0;
        const std::uint32_t v = (pixel & m_mask) >> m_shift;
        if (m_max == 255)
            return BYTE(v);
        return BYTE((std::uint64_t(v) * 255 + m_max / 2) / m_max);
    }

private:
    std::uint32_t m_mask = 0;
    int m_shift = 0;
    std::uint32_t m_max = 0;
};

struct BmpHeader {
    std::int64_t width = 0;
    std::int64_t height = 0;  // always positive; topDown tells the row order
    bool topDown = false;
    int bpp = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t clrUsed = 0;
    std::uint32_t masks[4] = {};  // red, green, blue, alpha
    std::size_t paletteStart = 0;  // first byte after the headers and masks
    std::size_t paletteEntrySize = 4;
    std::size_t dataOffset = 0;
};

// The sizes, depth and compression of the info header.
void ReadInfoHeader(const std::uint8_t *info, std::uint32_t infoSize, BmpHeader &h)
{
    if (infoSize == 12) {
        // OS/2 1.x core header: unsigned 16-bit sizes, 3-byte palette entries.
        h.width = U16(info + 4);
        h.height = U16(info + 6);
        h.bpp = U16(info + 10);
        h.paletteEntrySize = 3;
        return;
    }
    h.width = std::int32_t(U32(info + 4));
    const std::int64_t height = std::int32_t(U32(info + 8));
    h.topDown = height < 0;
    h.height = height < 0 ? -height : height;
    h.bpp = U16(info + 14);
    if (infoSize >= 40) {
        h.compression = U32(info + 16);
        h.clrUsed = U32(info + 32);
    }
}

// The bit fields of a BI_BITFIELDS or BI_ALPHABITFIELDS file: after a
// version 1 header, or inside a later one.
const char *ReadBitFields(const std::uint8_t *data, std::size_t size, std::size_t infoAt,
                          std::uint32_t infoSize, BmpHeader &h)
{
    const std::uint8_t *info = data + infoAt;
    if (h.bpp != 16 && h.bpp != 32)
        return "bit fields need 16 or 32 bits per pixel";
    const int count = h.compression == kBiAlphaBitfields ? 4 : 3;
    if (infoSize == 40) {
        // The masks follow the header.
        if (size - h.paletteStart < std::size_t(count) * 4)
            return "truncated BMP header";
        for (int i = 0; i < count; ++i)
            h.masks[i] = U32(data + h.paletteStart + std::size_t(i) * 4);
        h.paletteStart += std::size_t(count) * 4;
    } else if (infoSize >= 52) {
        for (int i = 0; i < 3; ++i)
            h.masks[i] = U32(info + 40 + std::size_t(i) * 4);
        if (infoSize >= 56)
            h.masks[3] = U32(info + 52);
    } else {
        return "bit fields need an info header";
    }
    return nullptr;
}

// The depth checked against the compression, and the channel masks; null
// when sound, else why not.
const char *ReadLayout(const std::uint8_t *data, std::size_t size, std::size_t infoAt, std::uint32_t infoSize,
                       BmpHeader &h)
{
    const std::uint8_t *info = data + infoAt;
    // OS/2 2.x reuses codes 3 and 4 for Huffman and RLE24, which we lack.
    if (infoSize == 64 && h.compression != kBiRgb && h.compression != kBiRle8 && h.compression != kBiRle4)
        return "unsupported BMP compression";
    switch (h.compression) {
    case kBiRgb:
        if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8 && h.bpp != 16 && h.bpp != 24 && h.bpp != 32)
            return "unsupported BMP depth";
        if (h.bpp == 16) {
            h.masks[0] = 0x7C00;
            h.masks[1] = 0x03E0;
            h.masks[2] = 0x001F;
        } else if (h.bpp == 32) {
            h.masks[0] = 0x00FF0000;
            h.masks[1] = 0x0000FF00;
            h.masks[2] = 0x000000FF;
            // A V3+ header may still declare which bits hold alpha.
            if (infoSize >= 56 && infoSize != 64)
                h.masks[3] = U32(info + 52);
        }
        return nullptr;
    case kBiRle8:
        return h.bpp != 8 ? "RLE8 needs 8 bits per pixel" : nullptr;
    case kBiRle4:
        return h.bpp != 4 ? "RLE4 needs 4 bits per pixel" : nullptr;
    case kBiBitfields:
    case kBiAlphaBitfields:
        return ReadBitFields(data, size, infoAt, infoSize, h);
    default:
        return "unsupported BMP compression";
    }
}

// The info header at infoAt: sizes, depth, compression and masks, the
// size checked against the limits. An icon's height counts its AND mask too,
// and its 32-bit pixels carry alpha in the spare byte.
bool ParseInfo(const std::uint8_t *data, std::size_t size, std::size_t infoAt, bool icon, BmpHeader &h,
               CxImage &out)
{
    if (size - infoAt < 4)
        return Fail(out, "truncated BMP header");
    const std::uint32_t infoSize = U32(data + infoAt);
    const bool known = infoSize == 12 || infoSize == 16 || infoSize == 40 || infoSize == 52 ||
                       infoSize == 56 || infoSize == 64 || infoSize == 108 || infoSize == 124;
    if (!known)
        return Fail(out, "unknown BMP header size");
    if (size - infoAt < infoSize)
        return Fail(out, "truncated BMP header");
    h.paletteStart = infoAt + infoSize;
    ReadInfoHeader(data + infoAt, infoSize, h);
    if (const char *why = ReadLayout(data, size, infoAt, infoSize, h))
        return Fail(out, why);
    if (icon) {
        // The mask follows rows of known length, which run-length data lacks.
        if (h.compression == kBiRle8 || h.compression == kBiRle4)
            return Fail(out, "unsupported BMP compression");
        h.height /= 2;
        if (h.bpp == 32 && h.compression == kBiRgb)
            h.masks[3] = 0xFF000000;
    }

    if (h.width <= 0 || h.height <= 0)
        return Fail(out, "empty image size");
    if (h.width > CxImage::kMaxDimension || h.height > CxImage::kMaxDimension ||
        h.width * h.height > CxImage::kMaxPixels || (icon && (h.width > 256 || h.height > 256)))
        return Fail(out, "image too large");
    return true;
}

bool ParseHeader(const std::uint8_t *data, std::size_t size, BmpHeader &h, CxImage &out)
{
    if (size < kFileHeaderSize + 4)
        return Fail(out, "truncated BMP header");
    if (data[0] != 'B' || data[1] != 'M')
        return Fail(out, "not a BMP file");
    if (!ParseInfo(data, size, kFileHeaderSize, false, h, out))
        return false;
    h.dataOffset = U32(data + 10);
    if (h.dataOffset < h.paletteStart || h.dataOffset > size)
        return Fail(out, "bad BMP pixel data offset");
    return true;
}

// Reads the colour table, at most 2^bpp entries. Without a declared size
// the entries present before the pixel data count. A declared size wins over
// a pixel data offset that cuts into the table (as other readers take such
// files), as far as the file holds it; entries the table may share with the
// pixels are read as they stand.
bool ReadPalette(const std::uint8_t *data, std::size_t size, const BmpHeader &h, std::vector<RGBQUAD> &pal,
                 CxImage &out)
{
    const std::size_t most = std::size_t(1) << h.bpp;
    std::size_t count = std::min(most, (h.dataOffset - h.paletteStart) / h.paletteEntrySize);
    if (h.clrUsed != 0 && count > 0)
        count = std::min<std::size_t>({most, h.clrUsed, (size - h.paletteStart) / h.paletteEntrySize});
    if (count == 0)
        return Fail(out, "BMP palette missing");
    pal.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *p = data + h.paletteStart + i * h.paletteEntrySize;
        pal[i] = RGBQUAD{p[0], p[1], p[2], 0};
    }
    return true;
}

// Maps a stored index to the palette, sending strays to entry 0.
struct IndexMap {
    int count;
    BYTE operator()(unsigned index) const { return index < unsigned(count) ? BYTE(index) : 0; }
};

void DecodeRow(const std::uint8_t *src, const BmpHeader &h, const Channel ch[4], const IndexMap &map,
               BYTE *dst, BYTE *alpha)
{
    const int w = int(h.width);
    switch (h.bpp) {
    case 1:
        for (int x = 0; x < w; ++x)
            dst[x] = map((src[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case 4:
        for (int x = 0; x < w; ++x)
            dst[x] = map((x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4));
        break;
    case 8:
        for (int x = 0; x < w; ++x)
            dst[x] = map(src[x]);
        break;
    case 24:
        std::memcpy(dst, src, std::size_t(w) * 3);
        break;
    case 16:
    case 32:
        for (int x = 0; x < w; ++x) {
            const std::uint32_t px = h.bpp == 16 ? U16(src + x * 2) : U32(src + x * 4);
            dst[x * 3] = ch[2].Get(px);
            dst[x * 3 + 1] = ch[1].Get(px);
            dst[x * 3 + 2] = ch[0].Get(px);
            if (alpha)
                alpha[x] = ch[3].Get(px);
        }
        break;
    }
}

// A stored row padded to 4 bytes, and the bytes of the last one that hold
// pixels.
std::uint64_t RowBytes(const BmpHeader &h)
{
    return ((std::uint64_t(h.width) * std::uint64_t(h.bpp) + 31) / 32) * 4;
}

std::uint64_t LastRowBytes(const BmpHeader &h)
{
    return (std::uint64_t(h.width) * std::uint64_t(h.bpp) + 7) / 8;
}

void DecodeUncompressed(const std::uint8_t *data, const BmpHeader &h, const IndexMap &map, CxImage &out)
{
    const Channel ch[4] = {Channel(h.masks[0]), Channel(h.masks[1]), Channel(h.masks[2]), Channel(h.masks[3])};
    const std::uint64_t rowBytes = RowBytes(h);
    const int height = int(h.height);
    for (int r = 0; r < height; ++r) {
        const int y = h.topDown ? r : height - 1 - r;
        const std::uint8_t *src = data + h.dataOffset + std::size_t(rowBytes) * std::size_t(r);
        DecodeRow(src, h, ch, map, out.GetBits(y), out.AlphaGetPointer(y));
    }
}

// Run-length data of 4 or 8 bits per pixel. Rows are counted from the first
// one stored; pixels beyond the image are dropped rather than wrapped.
bool DecodeRle(const std::uint8_t *p, std::size_t n, const BmpHeader &h, const IndexMap &map, CxImage &out)
{
    const bool rle4 = h.compression == kBiRle4;
    const int w = int(h.width), height = int(h.height);
    int x = 0, y = 0;
    BYTE *row = out.GetBits(h.topDown ? 0 : height - 1);
    auto nextRows = [&](int dy) {
        y += dy;
        row = y < height ? out.GetBits(h.topDown ? y : height - 1 - y) : nullptr;
    };
    std::size_t i = 0;
    while (y < height) {
        if (n - i < 2) {
            // Some writers stop after the last pixel without an end code.
            if (y == height - 1 && x >= w)
                return true;
            return Fail(out, "truncated BMP data");
        }
        const unsigned count = p[i], code = p[i + 1];
        i += 2;
        if (count > 0) {
            const int target = std::min(w, x + int(count));
            for (int k = 0; x < target; ++x, ++k) {
                const unsigned v = rle4 ? ((k & 1) ? (code & 0x0F) : (code >> 4)) : code;
                row[x] = map(v);
            }
            continue;
        }
        switch (code) {
        case 0:  // end of line
            x = 0;
            nextRows(1);
            break;
        case 1:  // end of bitmap
            return true;
        case 2:  // delta: move right and up (towards later rows)
            if (n - i < 2)
                return Fail(out, "truncated BMP data");
            x = std::min(w, x + int(p[i]));
            nextRows(int(p[i + 1]));
            i += 2;
            break;
        default: {  // absolute run of `code` pixels, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? (code + 1) / 2 : code;
            if (n - i < bytes)
                return Fail(out, "truncated BMP data");
            const std::uint8_t *src = p + i;
            for (unsigned k = 0; k < code && x < w; ++k, ++x) {
                const unsigned v = rle4 ? ((k & 1) ? (src[k >> 1] & 0x0F) : (src[k >> 1] >> 4)) : src[k];
                row[x] = map(v);
            }
            i += std::min(n - i, bytes + (bytes & 1));
            break;
        }
        }
    }
    return true;
}

// The palette and pixels of a parsed bitmap. An alpha channel that is
// zero or opaque everywhere goes unless keepAlpha (an icon's mask decides).
bool DecodePixels(const std::uint8_t *data, std::size_t size, const BmpHeader &h, bool keepAlpha,
                  CxImage &out)
{
    std::vector<RGBQUAD> palette;
    if (h.bpp <= 8 && !ReadPalette(data, size, h, palette, out))
        return false;

    const bool compressed = h.compression == kBiRle8 || h.compression == kBiRle4;
    if (!compressed) {
        // Everything must be in the file before anything is allocated.
        const std::uint64_t needed = RowBytes(h) * std::uint64_t(h.height - 1) + LastRowBytes(h);
        if (needed > size - h.dataOffset)
            return Fail(out, "truncated BMP data");
    } else if (h.dataOffset >= size) {
        return Fail(out, "truncated BMP data");
    } else if (std::uint64_t(h.width) * std::uint64_t(h.height) > std::uint64_t(size - h.dataOffset) * kRlePixelsPerByte) {
        // End-of-line, delta and end-of-bitmap codes leave pixels unpainted,
        // so RLE has no true limit; beyond this it is a header promising a
        // picture its few bytes never hold, and refused before allocating.
        return Fail(out, "BMP too large for its data");
    }

    const int imageBpp = h.bpp <= 8 ? h.bpp : 24;
    if (!out.Create(int(h.width), int(h.height), imageBpp, CXIMAGE_FORMAT_BMP))
        return false;
    if (!palette.empty() && !out.SetPalette(palette.data(), int(palette.size())))
        return false;
    const bool wantAlpha = imageBpp == 24 && h.masks[3] != 0;
    if (wantAlpha && !out.AlphaCreate())
        return false;

    const IndexMap map{int(palette.size())};
    if (compressed) {
        if (!DecodeRle(data + h.dataOffset, size - h.dataOffset, h, map, out))
            return false;
    } else {
        DecodeUncompressed(data, h, map, out);
    }

    if (wantAlpha && !keepAlpha) {
        // An alpha channel that is zero everywhere comes from writers that
        // never filled it in: show such a picture opaque, not invisible.
        // One that is opaque everywhere carries nothing either.
        const BYTE *a = out.AlphaGetPointer(0);
        const std::size_t n = std::size_t(out.GetWidth()) * std::size_t(out.GetHeight());
        const bool allClear = std::all_of(a, a + n, [](BYTE v) { return v == 0; });
        const bool allOpaque = !allClear && std::all_of(a, a + n, [](BYTE v) { return v == 255; });
        if (allClear || allOpaque)
            out.AlphaDelete();
    }
    return true;
}

}  // namespace

namespace cxcodec {

bool DecodeBmp(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data)
        return Fail(out, "no data");
    if (size < 2 || data[0] != 'B' || data[1] != 'M')
        return DecodeDib(data, size, out, req);
    BmpHeader h;
    return ParseHeader(data, size, h, out) && DecodePixels(data, size, h, false, out);
}

// A DIB has no pixel data offset: the pixels follow the colour table, of
// as many entries as declared (256 at most) or, up to 8 bits, one for
// every index. Windows sizes a packed DIB so.
bool DecodeDib(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &)
{
    BmpHeader h;
    if (!data || !ParseInfo(data, size, 0, false, h, out))
        return false;
    const std::size_t colours = h.clrUsed != 0 ? std::min<std::size_t>(h.clrUsed, 256)
                                : h.bpp <= 8   ? std::size_t(1) << h.bpp
                                               : 0;
    if (size - h.paletteStart < colours * h.paletteEntrySize)
        return Fail(out, "truncated BMP header");
    h.dataOffset = h.paletteStart + colours * h.paletteEntrySize;
    return DecodePixels(data, size, h, false, out);
}

bool DecodeIconDib(const std::uint8_t *data, std::size_t size, CxImage &out, IconMaskPlace &mask)
{
    BmpHeader h;
    if (!data || !ParseInfo(data, size, 0, true, h, out))
        return false;
    // The colour table fills the space between the header and the pixels:
    // the entries the header counts, else as many as the depth allows.
    const std::uint64_t entries = h.clrUsed ? h.clrUsed : h.bpp <= 8 ? std::uint64_t(1) << h.bpp : 0;
    const std::uint64_t pixels = h.paletteStart + entries * h.paletteEntrySize;
    if (pixels > size)
        return Fail(out, "truncated BMP data");
    h.dataOffset = std::size_t(pixels);
    if (!DecodePixels(data, size, h, true, out))
        return false;
    mask.at = h.dataOffset + std::size_t(RowBytes(h) * std::uint64_t(h.height));
    mask.topDown = h.topDown;
    return true;
}

bool EncodeBmp(const CxImage &img, CxFile &file)
{
    if (!img.IsValid())
        return false;
    const int w = img.GetWidth(), h = img.GetHeight();
    const bool paletted = img.GetBpp() != 24;
    const int bpp = paletted ? img.GetBpp() : 24;
    const int colors = paletted ? img.GetNumColors() : 0;
    const std::uint64_t rowBytes = ((std::uint64_t(w) * std::uint64_t(bpp) + 31) / 32) * 4;
    const std::uint64_t offBits = kFileHeaderSize + 40 + std::uint64_t(colors) * 4;
    const std::uint64_t imageBytes = rowBytes * std::uint64_t(h);
    const std::uint64_t fileSize = offBits + imageBytes;
    if (fileSize > 0xFFFFFFFFu)
        return false;

    std::uint8_t head[kFileHeaderSize + 40] = {};
    head[0] = 'B';
    head[1] = 'M';
    Put32(head + 2, std::uint32_t(fileSize));
    Put32(head + 10, std::uint32_t(offBits));
    std::uint8_t *info = head + kFileHeaderSize;
    Put32(info, 40);
    Put32(info + 4, std::uint32_t(w));
    Put32(info + 8, std::uint32_t(h));  // positive: bottom-up rows
    Put16(info + 12, 1);
    Put16(info + 14, std::uint32_t(bpp));
    Put32(info + 16, kBiRgb);
    Put32(info + 20, std::uint32_t(imageBytes));
    Put32(info + 24, 2835);  // 72 dpi
    Put32(info + 28, 2835);
    Put32(info + 32, std::uint32_t(colors));
    if (file.Write(head, 1, sizeof head) != sizeof head)
        return false;

    if (paletted) {
        // BMP has no transparency: the transparent entry is shown as white.
        const RGBQUAD *pal = img.GetPalette();
        const int trans = img.GetTransIndex();
        std::vector<std::uint8_t> table(std::size_t(colors) * 4);
        for (int i = 0; i < colors; ++i) {
            const RGBQUAD c = i == trans ? RGBQUAD{255, 255, 255, 0} : pal[i];
            table[std::size_t(i) * 4] = c.rgbBlue;
            table[std::size_t(i) * 4 + 1] = c.rgbGreen;
            table[std::size_t(i) * 4 + 2] = c.rgbRed;
        }
        if (file.Write(table.data(), 1, table.size()) != table.size())
            return false;
    }

    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes));
    for (int y = h - 1; y >= 0; --y) {
        std::fill(row.begin(), row.end(), 0);
        if (paletted) {
            const BYTE *src = img.GetBits(y);
            for (int x = 0; x < w; ++x) {
                const unsigned v = src[x] < colors ? src[x] : 0;
                if (bpp == 8)
                    row[std::size_t(x)] = std::uint8_t(v);
                else if (bpp == 4)
                    row[std::size_t(x >> 1)] |= std::uint8_t((x & 1) ? v : v << 4);
                else
                    row[std::size_t(x >> 3)] |= std::uint8_t(v << (7 - (x & 7)));
            }
        } else {
            RowToBGR(img, y, row.data(), true);
        }
        if (file.Write(row.data(), 1, row.size()) != row.size())
            return false;
    }
    return true;
}

}  // namespace cxcodec
