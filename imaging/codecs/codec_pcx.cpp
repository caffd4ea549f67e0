// ZSoft PCX pictures: run-length coded (or, rarely, plain) scan lines of one
// to four planes. The reader checks every byte it takes against the file
// size; the writer emits version 5 files (8-bit with a 256-colour palette, or
// three 8-bit planes).
#include "imaging/codecs/codecs.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kVgaPaletteSize = 769;  // 0x0C marker and 256 RGB triples
constexpr std::uint8_t kVgaPaletteMarker = 0x0C;
constexpr int kMaxRun = 63;

std::uint16_t U16(const std::uint8_t *p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

void Put16(std::uint8_t *p, unsigned v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

bool Fail(CxImage &out, const char *why)
{
    CxImageAccess::SetError(out, why);
    return false;
}

// The 16 colours of an EGA card, for files that carry no palette of their own.
constexpr std::uint8_t kEgaDefault[16][3] = {
    {0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},   {170, 0, 0},     {170, 0, 170},
    {170, 85, 0},    {170, 170, 170}, {85, 85, 85},    {85, 85, 255},   {85, 255, 85},   {85, 255, 255},
    {255, 85, 85},   {255, 85, 255},  {255, 255, 85},  {255, 255, 255},
};

// Decodes the run-length stream one scan line at a time. A run may go on
// into the next line, so its remainder is carried over. A plain file's lines
// are stored as they are, padding and all.
class LineReader {
public:
    LineReader(const std::uint8_t *data, std::size_t size, bool plain)
        : m_data(data), m_size(size), m_plain(plain)
    {
    }

    bool ReadLine(std::uint8_t *dst, std::size_t n)
    {
        if (m_plain) {
            if (m_size - m_pos < n)
                return false;
            std::memcpy(dst, m_data + m_pos, n);
            m_pos += n;
            return true;
        }
        std::size_t k = 0;
        while (k < n) {
            if (m_runLeft > 0) {
                const std::size_t take = std::min<std::size_t>(m_runLeft, n - k);
                std::memset(dst + k, m_runValue, take);
                k += take;
                m_runLeft -= int(take);
                continue;
            }
            if (m_pos >= m_size)
                return false;
            const std::uint8_t b = m_data[m_pos++];
            if ((b & 0xC0) == 0xC0) {
                if (m_pos >= m_size)
                    return false;
                m_runLeft = b & 0x3F;
                m_runValue = m_data[m_pos++];
            } else {
                dst[k++] = b;
            }
        }
        return true;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    bool m_plain;
    std::size_t m_pos = 0;
    int m_runLeft = 0;
    std::uint8_t m_runValue = 0;
};

enum class Layout { Mono, Planar, Nibbles, Indexed8, Rgb, Rgba };

void HeaderPalette(const std::uint8_t *head, int count, bool useDefault, std::vector<RGBQUAD> &pal)
{
    pal.resize(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const std::uint8_t *c = useDefault ? kEgaDefault[i] : head + 16 + i * 3;
        pal[std::size_t(i)] = RGBQUAD{c[2], c[1], c[0], 0};
    }
}

// What the header says, checked.
struct PcxHeader {
    int version = 0, bits = 0, planes = 0;
    bool plain = false; // encoding 0: lines stored without runs
    int width = 0, height = 0;
    std::size_t bytesPerLine = 0;
    Layout layout = Layout::Mono;
    int imageBpp = 1;
};

bool ChooseLayout(PcxHeader &h)
{
    static const struct {
        int bits, minPlanes, maxPlanes;
        Layout layout;
        int bpp;
    } kLayouts[] = {
        {1, 1, 1, Layout::Mono, 1},     {1, 2, 4, Layout::Planar, 4}, {4, 1, 1, Layout::Nibbles, 4},
        {8, 1, 1, Layout::Indexed8, 8}, {8, 3, 3, Layout::Rgb, 24},   {8, 4, 4, Layout::Rgba, 24},
    };
    for (const auto &l : kLayouts) {
        if (h.bits == l.bits && h.planes >= l.minPlanes && h.planes <= l.maxPlanes) {
            h.layout = l.layout;
            h.imageBpp = l.bpp;
            return true;
        }
    }
    return false;
}

// Null when the header is sound, else why not.
const char *ReadHeader(const std::uint8_t *head, PcxHeader &h)
{
    if (head[0] != 0x0A)
        return "not a PCX file";
    if (head[2] != 0 && head[2] != 1)
        return "unsupported PCX encoding";
    h.plain = head[2] == 0;
    h.version = head[1];
    h.bits = head[3];
    const int xmin = U16(head + 4), ymin = U16(head + 6), xmax = U16(head + 8), ymax = U16(head + 10);
    h.planes = head[65];
    h.bytesPerLine = U16(head + 66);
    if (xmax < xmin || ymax < ymin)
        return "bad PCX window";
    h.width = xmax - xmin + 1;
    h.height = ymax - ymin + 1;
    if (!ChooseLayout(h))
        return "unsupported PCX depth";
    if (h.bytesPerLine < (std::size_t(h.width) * std::size_t(h.bits) + 7) / 8)
        return "PCX line too short for its width";
    return nullptr;
}

// The picture's palette; returns where the line data ends (the 256-colour
// palette sits at the very end, after its marker byte; in a plain file only
// past the lines, so that no pixel passes for the marker).
std::size_t ReadPalette(const std::uint8_t *data, std::size_t size, const PcxHeader &h,
                        std::vector<RGBQUAD> &palette)
{
    const std::uint8_t *head = data;
    if (h.layout == Layout::Indexed8) {
        palette.resize(256);
        const std::uint64_t lines =
            h.plain ? std::uint64_t(h.planes) * h.bytesPerLine * std::uint64_t(h.height) : 0;
        if (std::uint64_t(size) >= kHeaderSize + kVgaPaletteSize + lines &&
            data[size - kVgaPaletteSize] == kVgaPaletteMarker) {
            const std::uint8_t *p = data + size - kVgaPaletteSize + 1;
            for (int i = 0; i < 256; ++i)
                palette[std::size_t(i)] = RGBQUAD{p[i * 3 + 2], p[i * 3 + 1], p[i * 3], 0};
            return size - kVgaPaletteSize;
        }
        for (int i = 0; i < 256; ++i)
            palette[std::size_t(i)] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    } else if (h.layout == Layout::Mono) {
        HeaderPalette(head, 2, false, palette);
        // Most mono files leave the header palette blank: black and white.
        if (palette[0] == palette[1]) {
            palette[0] = RGBQUAD{0, 0, 0, 0};
            palette[1] = RGBQUAD{255, 255, 255, 0};
        }
    } else if (h.layout == Layout::Planar || h.layout == Layout::Nibbles) {
        const int count = h.layout == Layout::Planar ? 1 << h.planes : 16;
        // Version 3 means "no palette"; a blank one is just as useless.
        bool blank = true;
        for (int i = 16; i < 16 + count * 3; ++i)
            blank = blank && head[i] == 0;
        HeaderPalette(head, count, h.version == 3 || blank, palette);
    }
    return size;
}

// One decoded scan line (all its planes) into the picture's row.
void StoreLine(const PcxHeader &h, const std::uint8_t *src, BYTE *dst, BYTE *alpha)
{
    const int width = h.width;
    const std::size_t bpl = h.bytesPerLine;
    switch (h.layout) {
    case Layout::Mono:
        for (int x = 0; x < width; ++x)
            dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
        break;
    case Layout::Planar:
        for (int x = 0; x < width; ++x) {
            unsigned v = 0;
            for (int p = 0; p < h.planes; ++p)
                v |= unsigned((src[std::size_t(p) * bpl + std::size_t(x >> 3)] >> (7 - (x & 7))) & 1) << p;
            dst[x] = BYTE(v);
        }
        break;
    case Layout::Nibbles:
        for (int x = 0; x < width; ++x)
            dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
        break;
    case Layout::Indexed8:
        std::memcpy(dst, src, std::size_t(width));
        break;
    case Layout::Rgb:
    case Layout::Rgba:
        for (int x = 0; x < width; ++x) {
            dst[x * 3] = src[2 * bpl + std::size_t(x)];
            dst[x * 3 + 1] = src[bpl + std::size_t(x)];
            dst[x * 3 + 2] = src[x];
            if (alpha)
                alpha[x] = src[3 * bpl + std::size_t(x)];
        }
        break;
    }
}

// A fourth plane that is all zero was never meant as alpha, and one that is
// all opaque says nothing.
void DropEmptyAlpha(CxImage &out)
{
    const BYTE *a = out.AlphaGetPointer(0);
    const std::size_t n = std::size_t(out.GetWidth()) * std::size_t(out.GetHeight());
    const bool allClear = std::all_of(a, a + n, [](BYTE v) { return v == 0; });
    const bool allOpaque = !allClear && std::all_of(a, a + n, [](BYTE v) { return v == 255; });
    if (allClear || allOpaque)
        out.AlphaDelete();
}

}  // namespace

namespace cxcodec {

bool DecodePcx(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &)
{
    if (!data || size < kHeaderSize)
        return Fail(out, "truncated PCX header");
    PcxHeader h;
    if (const char *why = ReadHeader(data, h))
        return Fail(out, why);
    std::vector<RGBQUAD> palette;
    const std::size_t dataEnd = ReadPalette(data, size, h, palette);

    // A run of two bytes gives at most 63: a stream too short for the lines
    // it claims is refused before anything is allocated.
    const std::uint64_t lineBytes = std::uint64_t(h.planes) * h.bytesPerLine;
    const std::uint64_t available = dataEnd - kHeaderSize;
    if (lineBytes * std::uint64_t(h.height) > available * (h.plain ? 1 : 32))
        return Fail(out, "truncated PCX data");

    if (!out.Create(h.width, h.height, h.imageBpp, CXIMAGE_FORMAT_PCX))
        return false;
    if (!palette.empty() && !out.SetPalette(palette.data(), int(palette.size())))
        return false;
    if (h.layout == Layout::Rgba && !out.AlphaCreate())
        return false;

    std::vector<std::uint8_t> line(static_cast<std::size_t>(lineBytes));
    LineReader lines(data + kHeaderSize, dataEnd - kHeaderSize, h.plain);
    for (int y = 0; y < h.height; ++y) {
        if (!lines.ReadLine(line.data(), line.size()))
            return Fail(out, "truncated PCX data");
        StoreLine(h, line.data(), out.GetBits(y), h.layout == Layout::Rgba ? out.AlphaGetPointer(y) : nullptr);
    }
    if (h.layout == Layout::Rgba)
        DropEmptyAlpha(out);
    return true;
}

namespace {

void RleLine(const std::uint8_t *src, std::size_t n, std::vector<std::uint8_t> &out)
{
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t v = src[i];
        std::size_t run = 1;
        while (i + run < n && run < kMaxRun && src[i + run] == v)
            ++run;
        // A lone byte with both top bits set would read as a run count.
        if (run > 1 || (v & 0xC0) == 0xC0)
            out.push_back(std::uint8_t(0xC0 | run));
        out.push_back(v);
        i += run;
    }
}

// A version 5 header for planes of bpl bytes; the first 16 entries of the
// palette go into it.
void MakeHeader(const CxImage &img, std::size_t bpl, int planes, const RGBQUAD *pal, std::uint8_t *head)
{
    std::memset(head, 0, kHeaderSize);
    head[0] = 0x0A;
    head[1] = 5;
    head[2] = 1;
    head[3] = 8;
    Put16(head + 8, unsigned(img.GetWidth() - 1));
    Put16(head + 10, unsigned(img.GetHeight() - 1));
    Put16(head + 12, 72);
    Put16(head + 14, 72);
    for (int i = 0; i < 16; ++i) {
        head[16 + i * 3] = pal[i].rgbRed;
        head[16 + i * 3 + 1] = pal[i].rgbGreen;
        head[16 + i * 3 + 2] = pal[i].rgbBlue;
    }
    head[65] = std::uint8_t(planes);
    Put16(head + 66, unsigned(bpl));
    bool grey = planes == 1;
    for (int i = 0; grey && i < img.GetNumColors(); ++i)
        grey = pal[i].rgbRed == pal[i].rgbGreen && pal[i].rgbGreen == pal[i].rgbBlue;
    Put16(head + 68, grey ? 2 : 1);
}

// Row y as the file's planes: indices, or red, green and blue one after
// another.
void RowToPlanes(const CxImage &img, int y, std::size_t bpl, std::vector<std::uint8_t> &plane,
                 std::vector<std::uint8_t> &bgr)
{
    const int w = img.GetWidth();
    if (img.GetBpp() != 24) {
        const int colors = img.GetNumColors();
        const BYTE *src = img.GetBits(y);
        for (int x = 0; x < w; ++x)
            plane[std::size_t(x)] = src[x] < colors ? src[x] : 0;
        return;
    }
    cxcodec::RowToBGR(img, y, bgr.data(), true);
    for (int x = 0; x < w; ++x) {
        plane[std::size_t(x)] = bgr[std::size_t(x) * 3 + 2];
        plane[bpl + std::size_t(x)] = bgr[std::size_t(x) * 3 + 1];
        plane[2 * bpl + std::size_t(x)] = bgr[std::size_t(x) * 3];
    }
}

bool WriteVgaPalette(const RGBQUAD *pal, CxFile &file)
{
    std::uint8_t tail[kVgaPaletteSize];
    tail[0] = kVgaPaletteMarker;
    for (int i = 0; i < 256; ++i) {
        tail[1 + i * 3] = pal[i].rgbRed;
        tail[2 + i * 3] = pal[i].rgbGreen;
        tail[3 + i * 3] = pal[i].rgbBlue;
    }
    return file.Write(tail, 1, sizeof tail) == sizeof tail;
}

}  // namespace

bool EncodePcx(const CxImage &img, CxFile &file)
{
    if (!img.IsValid())
        return false;
    const int w = img.GetWidth(), h = img.GetHeight();
    const std::size_t bpl = (std::size_t(w) + 1) & ~std::size_t(1);  // lines of an even length
    if (bpl > 0xFFFF || h > 0x10000)
        return false;  // beyond what the 16-bit header fields can say
    const bool paletted = img.GetBpp() != 24;
    const int planes = paletted ? 1 : 3;

    // Palette, with the transparent entry shown as white (PCX has no
    // transparency of its own).
    RGBQUAD pal[256] = {};
    if (paletted) {
        const int colors = img.GetNumColors();
        for (int i = 0; i < colors; ++i)
            pal[i] = img.GetPalette()[i];
        if (img.GetTransIndex() >= 0)
            pal[img.GetTransIndex()] = RGBQUAD{255, 255, 255, 0};
    }
    std::uint8_t head[kHeaderSize];
    MakeHeader(img, bpl, planes, pal, head);
    if (file.Write(head, 1, sizeof head) != sizeof head)
        return false;

    std::vector<std::uint8_t> plane(bpl * std::size_t(planes), 0);
    std::vector<std::uint8_t> bgr(paletted ? 0 : std::size_t(w) * 3);
    std::vector<std::uint8_t> coded;
    coded.reserve(plane.size() * 2);
    for (int y = 0; y < h; ++y) {
        RowToPlanes(img, y, bpl, plane, bgr);
        coded.clear();
        for (int p = 0; p < planes; ++p)
            RleLine(plane.data() + std::size_t(p) * bpl, bpl, coded);
        if (file.Write(coded.data(), 1, coded.size()) != coded.size())
            return false;
    }
    return !paletted || WriteVgaPalette(pal, file);
}

}  // namespace cxcodec
