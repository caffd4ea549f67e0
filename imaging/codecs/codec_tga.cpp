// Truevision TGA pictures: colour-mapped, true-colour and grey, plain or
// run-length coded, stored from any of the four corners. The reader checks
// every byte it takes against the file size.
#include "imaging/codecs/byteorder.h"
#include "imaging/codecs/codecs.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace {

using cxbytes::Le16;
using cxbytes::Le32;
using cxcodec::RefuseImage;

constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kFooterSize = 26;          // extension and developer offsets, signature
constexpr std::size_t kExtensionSize = 495;      // TGA 2.0's extension area
constexpr std::size_t kAttributesTypeAt = 494;   // its attributes-type byte
constexpr std::uint64_t kMostPerPacket = 128;    // pixels of one run-length packet

// A 5-bit value over 0..255, rounded as the BMP reader scales its fields.
BYTE Scale5(std::uint32_t v)
{
    return BYTE(((v & 31) * 255 + 15) / 31);
}

// A colour as TGA stores 15 and 16 bits: xRRRRRGG GGGBBBBB, little-endian,
// the top bit the attribute (alpha) bit.
RGBQUAD From16(std::uint32_t v, bool alphaBit)
{
    return RGBQUAD{Scale5(v), Scale5(v >> 5), Scale5(v >> 10), BYTE(!alphaBit || (v & 0x8000) ? 255 : 0)};
}

// A premultiplied colour divided back by its alpha.
void Unpremultiply(RGBQUAD &c)
{
    const unsigned a = c.rgbReserved;
    if (a == 255)
        return;
    auto div = [a](BYTE v) { return a == 0 ? BYTE(0) : BYTE(std::min(255u, (v * 255u + a / 2) / a)); };
    c = RGBQUAD{div(c.rgbBlue), div(c.rgbGreen), div(c.rgbRed), c.rgbReserved};
}

enum class Kind { Mapped, TrueColour, Grey };

// What the header (and the extension area, when there is one) says, checked.
struct TgaHeader {
    Kind kind = Kind::TrueColour;
    bool rle = false;
    int width = 0, height = 0;
    int depth = 0;                // bits a pixel
    std::size_t pixelBytes = 0;   // bytes a pixel
    bool rightToLeft = false, topDown = false;
    bool alpha = false;           // the pixels (or the map) carry alpha to use
    bool premultiplied = false;
    std::size_t mapFirst = 0, mapLength = 0;
    int mapDepth = 0;
    std::size_t mapStart = 0;     // where the colour map's bytes begin
    std::size_t dataStart = 0;    // and the pixels'
};

// The TGA 2.0 extension area's attributes type: -1 when the file has none.
int AttributesType(const std::uint8_t *data, std::size_t size)
{
    static const char kSignature[18] = "TRUEVISION-XFILE.";
    if (size < kHeaderSize + kFooterSize || std::memcmp(data + size - 18, kSignature, 18) != 0)
        return -1;
    const std::uint64_t at = Le32(data + size - kFooterSize);
    if (at < kHeaderSize || at + kExtensionSize > size - kFooterSize || Le16(data + at) < kExtensionSize)
        return -1;
    return data[at + kAttributesTypeAt];
}

// Null when the header is sound, else why not.
const char *ReadHeader(const std::uint8_t *data, std::size_t size, TgaHeader &h)
{
    const int idLength = data[0], mapType = data[1], type = data[2];
    h.mapFirst = Le16(data + 3);
    h.mapLength = Le16(data + 5);
    h.mapDepth = data[7];
    h.width = int(Le16(data + 12));
    h.height = int(Le16(data + 14));
    h.depth = data[16];
    const int descriptor = data[17];

    switch (type & ~8) {
    case 1:
        h.kind = Kind::Mapped;
        break;
    case 2:
        h.kind = Kind::TrueColour;
        break;
    case 3:
        h.kind = Kind::Grey;
        break;
    default:
        return "unsupported TGA type";
    }
    h.rle = (type & 8) != 0;
    if (mapType > 1)
        return "unsupported TGA colour map";
    if ((descriptor & 0xC0) != 0)
        return "unsupported TGA interleaving";
    const bool depthOk = h.kind == Kind::TrueColour ? h.depth == 15 || h.depth == 16 || h.depth == 24 || h.depth == 32
                                                    : h.depth == 8 || h.depth == 16;
    if (!depthOk)
        return "unsupported TGA depth";
    // A map may come with any type (the others skip it); a mapped picture
    // needs one.
    if (mapType == 1 && h.mapDepth != 15 && h.mapDepth != 16 && h.mapDepth != 24 && h.mapDepth != 32)
        return "unsupported TGA colour map depth";
    if (h.kind == Kind::Mapped && (mapType != 1 || h.mapLength == 0))
        return "TGA colour map missing";
    if (h.width == 0 || h.height == 0)
        return "empty image size";
    if (!cxcodec::FitsPixelLimits(h.width, h.height))
        return "image too large";

    h.pixelBytes = std::size_t(h.depth + 7) / 8;
    h.rightToLeft = (descriptor & 0x10) != 0;
    h.topDown = (descriptor & 0x20) != 0;
    h.mapStart = kHeaderSize + std::size_t(idLength);
    const std::size_t mapBytes = mapType == 1 ? h.mapLength * std::size_t((h.mapDepth + 7) / 8) : 0;
    h.dataStart = h.mapStart + mapBytes;
    if (h.dataStart > size)
        return "truncated TGA header";

    // Alpha as the extension area says, else as the descriptor's attribute
    // bits do; only pixels (or map entries) with room for it have any.
    const int attributes = AttributesType(data, size);
    const bool declared = attributes >= 0 ? attributes == 3 || attributes == 4 : (descriptor & 0x0F) != 0;
    switch (h.kind) {
    case Kind::Mapped:
        h.alpha = declared && (h.mapDepth == 16 || h.mapDepth == 32);
        break;
    case Kind::TrueColour:
        h.alpha = declared && (h.depth == 16 || h.depth == 32);
        break;
    case Kind::Grey:
        h.alpha = declared && h.depth == 16;
        break;
    }
    h.premultiplied = h.alpha && attributes == 4;
    return nullptr;
}

// The colour map, entry i for index first + i; alpha 255 where unused.
std::vector<RGBQUAD> ReadMap(const std::uint8_t *data, const TgaHeader &h)
{
    std::vector<RGBQUAD> map(h.mapLength);
    const std::uint8_t *p = data + h.mapStart;
    for (RGBQUAD &c : map) {
        switch (h.mapDepth) {
        case 15:
        case 16:
            c = From16(Le16(p), h.alpha);
            p += 2;
            break;
        case 24:
            c = RGBQUAD{p[0], p[1], p[2], 255};
            p += 3;
            break;
        default:
            c = RGBQUAD{p[0], p[1], p[2], h.alpha ? p[3] : BYTE(255)};
            p += 4;
            break;
        }
        if (h.premultiplied)
            Unpremultiply(c);
    }
    return map;
}

// The pixels in the order stored, plain or run-length coded. A packet may
// go on into the next row, so what is left of it is carried over.
class PixelStream {
public:
    PixelStream(const std::uint8_t *data, std::size_t size, std::size_t pixelBytes, bool rle)
        : m_data(data), m_size(size), m_bytes(pixelBytes), m_rle(rle)
    {
    }

    // The next count pixels into dst; false when the data ends first.
    bool Read(std::uint8_t *dst, std::size_t count)
    {
        if (!m_rle)
            return Copy(dst, count);
        while (count > 0) {
            if (m_left == 0 && !NextPacket())
                return false;
            const std::size_t take = std::min(m_left, count);
            if (m_run) {
                for (std::size_t i = 0; i < take; ++i, dst += m_bytes)
                    std::memcpy(dst, m_value.data(), m_bytes);
            } else {
                if (!Copy(dst, take))
                    return false;
                dst += take * m_bytes;
            }
            m_left -= take;
            count -= take;
        }
        return true;
    }

private:
    bool Copy(std::uint8_t *dst, std::size_t count)
    {
        const std::size_t n = count * m_bytes;
        if (m_size - m_pos < n)
            return false;
        std::memcpy(dst, m_data + m_pos, n);
        m_pos += n;
        return true;
    }

    bool NextPacket()
    {
        if (m_pos >= m_size)
            return false;
        const std::uint8_t head = m_data[m_pos++];
        m_left = std::size_t(head & 0x7F) + 1;
        m_run = (head & 0x80) != 0;
        return !m_run || Copy(m_value.data(), 1);
    }

    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    std::size_t m_bytes;
    bool m_rle;
    std::size_t m_left = 0;  // pixels left in the current packet
    bool m_run = false;
    std::array<std::uint8_t, 4> m_value{};
};

// What an index the map does not hold shows: black, clear where the map
// carries alpha.
RGBQUAD Missing(const TgaHeader &h)
{
    return RGBQUAD{0, 0, 0, BYTE(h.alpha ? 0 : 255)};
}

// A stored pixel's colour, for the pictures decoded to 24 bits.
class Colours {
public:
    Colours(const TgaHeader &h, std::vector<RGBQUAD> map) : m_h(h), m_map(std::move(map)) {}

    RGBQUAD operator()(const std::uint8_t *p) const
    {
        RGBQUAD c{};
        switch (m_h.kind) {
        case Kind::Mapped: {
            const std::size_t index = m_h.depth == 8 ? p[0] : Le16(p);
            return index >= m_h.mapFirst && index - m_h.mapFirst < m_map.size() ? m_map[index - m_h.mapFirst]
                                                                                   : Missing(m_h);
        }
        case Kind::Grey:
            c = RGBQUAD{p[0], p[0], p[0], m_h.alpha ? p[1] : BYTE(255)};
            break;
        case Kind::TrueColour:
            if (m_h.depth <= 16)
                c = From16(Le16(p), m_h.alpha);
            else
                c = RGBQUAD{p[0], p[1], p[2], m_h.depth == 32 && m_h.alpha ? p[3] : BYTE(255)};
            break;
        }
        if (m_h.premultiplied)
            Unpremultiply(c);
        return c;
    }

private:
    const TgaHeader &m_h;
    std::vector<RGBQUAD> m_map;
};

// A picture of 8-bit indices: grey without alpha, or indices into a map
// (whose alpha, if any, ApplyMapAlpha settles afterwards).
bool Paletted(const TgaHeader &h)
{
    if (h.kind == Kind::Grey)
        return !h.alpha;
    return h.kind == Kind::Mapped && h.depth == 8;
}

// An alpha plane that is clear everywhere comes from writers that never
// filled it in: such a picture is shown opaque, not invisible. One that is
// opaque everywhere says nothing.
void DropEmptyAlpha(CxImage &out)
{
    const std::size_t w = std::size_t(out.GetWidth());
    bool allClear = true, allOpaque = true;
    for (int y = 0; y < out.GetHeight() && (allClear || allOpaque); ++y) {
        const BYTE *a = out.AlphaGetPointer(y);
        allClear = allClear && std::all_of(a, a + w, [](BYTE v) { return v == 0; });
        allOpaque = allOpaque && std::all_of(a, a + w, [](BYTE v) { return v == 255; });
    }
    if (allClear || allOpaque)
        out.AlphaDelete();
}

// The map's alpha over the indices the picture uses: none when every used
// entry is opaque (or every one clear, as DropEmptyAlpha has it), a
// transparent index when only one entry is clear, else the picture goes to
// 24 bits with an alpha plane.
bool ApplyMapAlpha(const std::vector<RGBQUAD> &palette, CxImage &out)
{
    const int w = out.GetWidth(), hgt = out.GetHeight();
    std::array<bool, 256> used{};
    for (int y = 0; y < hgt; ++y) {
        const BYTE *row = out.GetBits(y);
        for (int x = 0; x < w; ++x)
            used[row[x]] = true;
    }
    int clear = -1;
    bool opaque = false, severalClear = false, partial = false;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        if (!used[i])
            continue;
        const BYTE a = palette[i].rgbReserved;
        if (a == 255)
            opaque = true;
        else if (a != 0)
            partial = true;
        else if (clear >= 0)
            severalClear = true;
        else
            clear = int(i);
    }
    if (clear < 0 && !partial)
        return true;  // every pixel opaque
    if (!opaque && !partial)
        return true;  // every pixel clear: never filled in
    if (!partial && !severalClear) {
        out.SetTransIndex(clear);
        return true;
    }
    CxImage full;
    if (!CxImageAccess::CreateForDecode(full, w, hgt, 24, CXIMAGE_FORMAT_TGA) || !full.AlphaCreate())
        return RefuseImage(out, "out of memory");
    for (int y = 0; y < hgt; ++y) {
        const BYTE *src = out.GetBits(y);
        BYTE *dst = full.GetBits(y), *alpha = full.AlphaGetPointer(y);
        for (int x = 0; x < w; ++x) {
            const RGBQUAD c = palette[src[x]];
            dst[x * 3] = c.rgbBlue;
            dst[x * 3 + 1] = c.rgbGreen;
            dst[x * 3 + 2] = c.rgbRed;
            alpha[x] = c.rgbReserved;
        }
    }
    out = std::move(full);
    return true;
}

}  // namespace

namespace cxcodec {

bool DecodeTga(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size < kHeaderSize)
        return RefuseImage(out, "truncated TGA header");
    TgaHeader h;
    if (const char *why = ReadHeader(data, size, h))
        return RefuseImage(out, why);

    // Every pixel of a plain file, and room for as many run-length packets
    // as a coded one needs at the least (a head and one pixel for 128),
    // must be in the file before anything is allocated.
    const std::uint64_t pixels = std::uint64_t(h.width) * std::uint64_t(h.height);
    const std::uint64_t available = size - h.dataStart;
    if (h.rle ? (pixels + kMostPerPacket - 1) / kMostPerPacket * (1 + h.pixelBytes) > available
              : pixels * h.pixelBytes > available)
        return RefuseImage(out, "truncated TGA data");
    if (req.cancel && req.cancel->load())
        return RefuseImage(out, "cancelled");

    std::vector<RGBQUAD> map;
    if (h.kind == Kind::Mapped)
        map = ReadMap(data, h);
    const bool paletted = Paletted(h);
    if (!CxImageAccess::CreateForDecode(out, h.width, h.height, paletted ? 8 : 24, CXIMAGE_FORMAT_TGA))
        return RefuseImage(out, "out of memory");
    if (h.alpha && !paletted && !out.AlphaCreate())
        return RefuseImage(out, "out of memory");

    std::vector<std::uint8_t> row;
    try {
        row.resize(std::size_t(h.width) * h.pixelBytes);
    } catch (const std::bad_alloc &) {
        return RefuseImage(out, "out of memory");
    }
    PixelStream stream(data + h.dataStart, size - h.dataStart, h.pixelBytes, h.rle);
    const Colours colour(h, paletted ? std::vector<RGBQUAD>{} : map);
    const int w = h.width;
    int highest = 0;  // the largest index met
    for (int r = 0; r < h.height; ++r) {
        if (!stream.Read(row.data(), std::size_t(w)))
            return RefuseImage(out, "truncated TGA data");
        const int y = h.topDown ? r : h.height - 1 - r;
        BYTE *dst = out.GetBits(y);
        BYTE *alpha = out.AlphaIsValid() ? out.AlphaGetPointer(y) : nullptr;
        for (int c = 0; c < w; ++c) {
            const int x = h.rightToLeft ? w - 1 - c : c;
            const std::uint8_t *p = row.data() + std::size_t(c) * h.pixelBytes;
            if (paletted) {
                dst[x] = p[0];
                highest = std::max<int>(highest, p[0]);
                continue;
            }
            const RGBQUAD px = colour(p);
            dst[x * 3] = px.rgbBlue;
            dst[x * 3 + 1] = px.rgbGreen;
            dst[x * 3 + 2] = px.rgbRed;
            if (alpha)
                alpha[x] = px.rgbReserved;
        }
    }

    if (paletted) {
        // Grey levels, or the map placed at its first index.
        std::vector<RGBQUAD> palette;
        if (h.kind == Kind::Grey) {
            palette.resize(256);
            for (int i = 0; i < 256; ++i)
                palette[std::size_t(i)] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 255};
        } else {
            palette.assign(std::size_t(std::max<std::size_t>(std::min<std::size_t>(256, h.mapFirst + map.size()),
                                                             std::size_t(highest) + 1)),
                           Missing(h));
            for (std::size_t i = h.mapFirst; i < palette.size() && i - h.mapFirst < map.size(); ++i)
                palette[i] = map[i - h.mapFirst];
        }
        std::vector<RGBQUAD> entries = palette;
        for (RGBQUAD &e : entries)
            e.rgbReserved = 0;
        if (!out.SetPalette(entries.data(), int(entries.size())))
            return RefuseImage(out, "out of memory");
        if (h.alpha && !ApplyMapAlpha(palette, out))
            return false;
    } else if (out.AlphaIsValid()) {
        DropEmptyAlpha(out);
    }
    CxImageAccess::SetOrientation(out, 1);
    CxImageAccess::SetSourceSize(out, h.width, h.height);
    return true;
}

}  // namespace cxcodec
