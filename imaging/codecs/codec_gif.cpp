// GIF decoding through giflib: frame composition with disposal, frames read
// one after another on one open file, and the single-image encoder entry
// point.
#include "imaging/codecs/codecs.h"
#include "imaging/cximagegif.h"
#include "imaging/gifcanvas.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kMaxCommentBytes = 4096;

// Canvas pixels: 0 is transparent, anything else is 0xFF000000 | RGB.
constexpr std::uint32_t kOpaque = 0xFF000000u;

std::uint32_t PackRgb(int r, int g, int b)
{
    return kOpaque | (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | std::uint32_t(b);
}

// --- Input ---------------------------------------------------------------

struct MemReader {
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
};

int ReadFromMemory(GifFileType *gif, GifByteType *buf, int len)
{
    auto *r = static_cast<MemReader *>(gif->UserData);
    if (len <= 0 || r->pos >= r->size)
        return 0;
    const std::size_t n = std::min(std::size_t(len), r->size - r->pos);
    std::memcpy(buf, r->data + r->pos, n);
    r->pos += n;
    return int(n);
}

struct GifCloser {
    void operator()(GifFileType *gif) const { DGifCloseFile(gif, nullptr); }
};
using GifReader = std::unique_ptr<GifFileType, GifCloser>;

GifReader OpenReader(MemReader &reader)
{
    reader.pos = 0;
    int error = 0;
    return GifReader(DGifOpen(&reader, ReadFromMemory, &error));
}

// giflib keeps a record of every image descriptor it has read; we never use
// it, so drop it to keep memory flat however many frames a file has.
void ForgetSavedImages(GifFileType *gif)
{
    GifFreeSavedImages(gif);
    gif->SavedImages = nullptr;
    gif->ImageCount = 0;
}

std::string GifError(const GifFileType *gif, const char *fallback)
{
    const char *text = gif && gif->Error ? GifErrorString(gif->Error) : nullptr;
    return std::string("GIF: ") + (text ? text : fallback);
}

// --- File-level facts (one pass) -------------------------------------

struct GraphicControl {
    int disposal = 0;
    int delay = 0;
    int trans = -1;
};

struct FileFacts {
    gifcanvas::Area canvas;  // the part of the logical screen composed
    int numFrames = 0;
    std::size_t firstRecord = 0;  // offset of the record after the screen descriptor
    std::string comment;
    int loops = -1;
    bool anyDelay = false;  // some frame is shown for a time
};

bool IsLoopApplication(const GifByteType *block)
{
    return block[0] == 11 && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                              std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
}

// Reads one extension (its introducer already consumed). The graphic control
// block goes to gce, comments and the loop count to facts; either may be null.
bool ReadExtension(GifFileType *gif, GraphicControl *gce, FileFacts *facts)
{
    int code = 0;
    GifByteType *block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
        return false;
    bool first = true, loopBlock = false;
    while (block) {
        const int len = block[0];
        if (code == GRAPHICS_EXT_FUNC_CODE && first && gce && len >= 4) {
            const int disposal = (block[1] >> 2) & 7;
            gce->disposal = disposal <= 3 ? disposal : 0;  // 4..7 are undefined: keep
            gce->delay = block[2] | (block[3] << 8);
            gce->trans = (block[1] & 1) ? block[4] : -1;
        } else if (code == COMMENT_EXT_FUNC_CODE && facts && facts->comment.size() <= kMaxCommentBytes) {
            facts->comment.append(reinterpret_cast<const char *>(block + 1), std::size_t(len));
        } else if (code == APPLICATION_EXT_FUNC_CODE && facts) {
            if (first)
                loopBlock = IsLoopApplication(block);
            else if (loopBlock && len >= 3 && block[1] == 1 && facts->loops < 0)
                facts->loops = block[2] | (block[3] << 8);
        }
        first = false;
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
            return false;
    }
    return true;
}

// Skips a frame's LZW data, adding its payload bytes to dataBytes when given.
bool SkipImageData(GifFileType *gif, std::uint64_t *dataBytes = nullptr)
{
    int codeSize = 0;
    GifByteType *block = nullptr;
    if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR)
        return false;
    while (block) {
        if (dataBytes)
            *dataBytes += block[0];
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR)
            return false;
    }
    return true;
}

// --- Frames with wide LZW codes ---------------------------------------------
//
// The format allows a minimum code size up to 11 (codes of up to 12 bits),
// which ImageMagick and browsers read; giflib refuses anything above 8 in
// DGifGetImageDesc, after reading the descriptor and the code size byte.
// Such a frame's data is read here.

// Whether the descriptor at descAt (after its separator), which giflib just
// refused, is such a frame: the reader then stands after its code size byte.
int WideCodeSize(const MemReader &r, std::size_t descAt)
{
    if (descAt + 9 > r.size)
        return 0;
    const int flags = r.data[descAt + 8];
    const std::size_t codeAt = descAt + 9 + (flags & 0x80 ? std::size_t(3) << ((flags & 7) + 1) : 0);
    if (codeAt >= r.size || r.pos != codeAt + 1)
        return 0;
    const int codeSize = r.data[codeAt];
    return codeSize >= 9 && codeSize <= 11 ? codeSize : 0;
}

// Skips sub-blocks from r.pos up to and with their terminator, adding their
// payload bytes to dataBytes when given.
bool SkipSubBlocks(MemReader &r, std::uint64_t *dataBytes = nullptr)
{
    while (r.pos < r.size) {
        const std::size_t n = r.data[r.pos++];
        if (n == 0)
            return true;
        if (n > r.size - r.pos)
            break;
        r.pos += n;
        if (dataBytes)
            *dataBytes += n;
    }
    r.pos = r.size;
    return false;
}

// GIF's LZW over the sub-blocks at r.pos, line by line as giflib gives them.
class WideLzw {
public:
    WideLzw(MemReader &r, int codeSize) : m_r(r), m_clear(1 << codeSize), m_minWidth(codeSize + 1)
    {
        Reset();
    }

    // Fails when the data ends or breaks before n more pixels.
    bool Line(std::uint16_t *out, int n)
    {
        for (int i = 0; i < n;) {
            if (m_depth > 0) {
                out[i++] = m_stack[--m_depth];
                continue;
            }
            const int code = ReadCode();
            if (code < 0 || code == m_clear + 1)
                return false;
            if (code == m_clear) {
                Reset();
                continue;
            }
            if (m_prev < 0) {
                if (code > m_clear)
                    return false;
                m_stack[m_depth++] = std::uint16_t(code);
                m_prev = m_first = code;
                continue;
            }
            int c = code;
            if (code >= m_next) {
                if (code > m_next || m_next >= kCodes)
                    return false;
                m_stack[m_depth++] = std::uint16_t(m_first); // KwKwK: the previous string and its first pixel
                c = m_prev;
            }
            while (c > m_clear + 1) {
                m_stack[m_depth++] = m_suffix[c];
                c = m_prefix[c];
            }
            m_stack[m_depth++] = std::uint16_t(c);
            m_first = c;
            // A full table is kept as it is until the next clear code.
            if (m_next < kCodes) {
                m_prefix[m_next] = std::uint16_t(m_prev);
                m_suffix[m_next] = std::uint16_t(m_first);
                if (++m_next == 1 << m_width && m_width < 12)
                    ++m_width;
            }
            m_prev = code;
        }
        return true;
    }

    // Moves the reader past the frame's remaining data.
    bool Finish()
    {
        if (m_ended)
            return true;
        if (m_left > m_r.size - m_r.pos) {
            m_r.pos = m_r.size;
            return false;
        }
        m_r.pos += m_left;
        return SkipSubBlocks(m_r);
    }

private:
    static constexpr int kCodes = 4096;

    void Reset()
    {
        m_width = m_minWidth;
        m_next = m_clear + 2;
        m_prev = -1;
    }
    int ReadCode()
    {
        while (m_bits < m_width) {
            if (m_left == 0) {
                if (m_ended || m_r.pos >= m_r.size)
                    return -1;
                m_left = m_r.data[m_r.pos++];
                if (m_left == 0) {
                    m_ended = true;
                    return -1;
                }
            }
            if (m_r.pos >= m_r.size)
                return -1;
            m_buffer |= std::uint32_t(m_r.data[m_r.pos++]) << m_bits;
            m_bits += 8;
            --m_left;
        }
        const int code = int(m_buffer & ((1u << m_width) - 1));
        m_buffer >>= m_width;
        m_bits -= m_width;
        return code;
    }

    MemReader &m_r;
    const int m_clear, m_minWidth;
    int m_width = 0, m_next = 0, m_prev = -1, m_first = 0;
    std::size_t m_left = 0; // bytes left in the current sub-block
    bool m_ended = false;   // the terminator was read
    std::uint32_t m_buffer = 0;
    int m_bits = 0;
    std::uint16_t m_prefix[kCodes] = {}, m_suffix[kCodes] = {};
    std::uint16_t m_stack[kCodes + 1] = {};
    int m_depth = 0;
};

bool WithinLimits(std::int64_t w, std::int64_t h)
{
    return w <= CxImage::kMaxDimension && h <= CxImage::kMaxDimension && w * h <= CxImage::kMaxPixels;
}

// Counts the frames and gathers comment and loop count. A damaged tail ends
// the count where it breaks; the frames before it stay usable.
bool ScanFile(const std::uint8_t *data, std::size_t size, FileFacts &facts, std::string &error)
{
    MemReader reader{data, size, 0};
    GifReader gif = OpenReader(reader);
    if (!gif) {
        error = "GIF: cannot read the file header";
        return false;
    }
    facts = FileFacts{};
    facts.firstRecord = reader.pos;
    const int sw = gif->SWidth, sh = gif->SHeight;
    if (!WithinLimits(sw, sh)) {
        error = "GIF: logical screen too large";
        return false;
    }
    std::int64_t right = 0, bottom = 0;
    std::vector<gifcanvas::Frame> frames;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE)
            break;
        if (type == EXTENSION_RECORD_TYPE) {
            GraphicControl gce;
            if (!ReadExtension(gif.get(), &gce, &facts))
                break;
            facts.anyDelay = facts.anyDelay || gce.delay > 0;
            continue;
        }
        const std::size_t descAt = reader.pos;
        const bool narrow = DGifGetImageDesc(gif.get()) != GIF_ERROR;
        if (!narrow && WideCodeSize(reader, descAt) == 0)
            break;
        ForgetSavedImages(gif.get());
        ++facts.numFrames;
        right = std::max<std::int64_t>(right, std::int64_t(gif->Image.Left) + gif->Image.Width);
        bottom = std::max<std::int64_t>(bottom, std::int64_t(gif->Image.Top) + gif->Image.Height);
        frames.push_back({gif->Image.Left, gif->Image.Top, gif->Image.Width, gif->Image.Height, 0});
        if (!(narrow ? SkipImageData(gif.get(), &frames.back().dataBytes)
                     : SkipSubBlocks(reader, &frames.back().dataBytes)))
            break;
    }
    cxcodec::CutUtf8(facts.comment, kMaxCommentBytes);
    if (facts.numFrames == 0) {
        error = "GIF: no image in the file";
        return false;
    }
    // A zero logical screen means "as large as the frames".
    const std::int64_t w = sw > 0 ? sw : right, h = sh > 0 ? sh : bottom;
    if (w <= 0 || h <= 0) {
        error = "GIF: empty image size";
        return false;
    }
    if (!WithinLimits(w, h)) {
        error = "GIF: logical screen too large";
        return false;
    }
    // See gifcanvas.h: a screen far larger than its frames can paint is
    // clipped to them, or refused when they are scattered across it.
    if (!gifcanvas::Choose(int(w), int(h), frames, facts.canvas)) {
        error = "GIF: logical screen far larger than its frames";
        return false;
    }
    return true;
}

// --- Composition -------------------------------------------------------------

struct Rect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Empty() const { return x0 >= x1 || y0 >= y1; }
    int Width() const { return x1 - x0; }
    bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// The frame being shown: what the output needs besides the canvas.
struct ShownFrame {
    std::vector<std::uint32_t> table;  // its colour table, packed
    int trans = -1;
    Rect rect;                         // its clipped rectangle
    std::vector<std::uint16_t> index;  // index painted per pixel of rect, kNone if none
    GraphicControl gce;
    static constexpr std::uint16_t kNone = 0xFFFF;
};

std::vector<std::uint32_t> ColourTable(const ColorMapObject *map)
{
    std::vector<std::uint32_t> table;
    if (map && map->Colors && map->ColorCount > 0) {
        table.reserve(std::size_t(map->ColorCount));
        for (int i = 0; i < map->ColorCount && i < 256; ++i)
            table.push_back(PackRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
    } else {
        // No colour table anywhere: the format leaves the choice to us.
        for (int i = 0; i < 256; ++i)
            table.push_back(PackRgb(i, i, i));
    }
    return table;
}

struct Canvas {
    int x = 0, y = 0;  // where its top-left corner lies on the logical screen
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t *Row(int y) { return pixels.data() + std::size_t(y) * std::size_t(width); }
};

// One frame's turn on the canvas: Paint reads its records and draws it (with
// shown set, also noting what the output needs); Dispose then applies its
// disposal, so the canvas can be read in between.
class FrameComposer {
public:
    FrameComposer(GifFileType *gif, Canvas &canvas) : m_gif(gif), m_canvas(canvas) {}

    bool Paint(ShownFrame *shown, std::string &error);
    void Dispose();

private:
    // The frame's rectangle on the canvas, clipped; desc moves to canvas
    // coordinates.
    void Place(GifImageDesc &desc);
    // Paints the frame's image data (or passes over it when none is visible).
    bool PaintData(const GifImageDesc &desc, const std::vector<std::uint32_t> &table, int trans,
                   ShownFrame *shown, int wideCodeSize);
    // readLine(line, width) gives the frame's next line of indices.
    template <class Pixel, class ReadLine>
    bool DecodeRows(const GifImageDesc &desc, const std::vector<std::uint32_t> &table, int trans,
                    ShownFrame *shown, ReadLine &&readLine);

    GifFileType *m_gif;
    Canvas &m_canvas;
    Rect m_rect;
    int m_disposal = 0;
    std::vector<std::uint32_t> m_saved;  // the rectangle before painting, for disposal 3
};

// Reads the records up to the next image descriptor, the graphic control
// before it into gce.
bool ReadToImage(GifFileType *gif, GraphicControl &gce, std::string &error)
{
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            error = GifError(gif, "truncated file");
            return false;
        }
        if (type == TERMINATE_RECORD_TYPE) {
            error = "GIF: frame missing";
            return false;
        }
        if (type == IMAGE_DESC_RECORD_TYPE)
            return true;
        if (!ReadExtension(gif, &gce, nullptr)) {
            error = GifError(gif, "damaged extension");
            return false;
        }
    }
}

bool FrameComposer::Paint(ShownFrame *shown, std::string &error)
{
    GraphicControl gce;
    if (!ReadToImage(m_gif, gce, error))
        return false;
    MemReader &reader = *static_cast<MemReader *>(m_gif->UserData);
    const std::size_t descAt = reader.pos;
    int wideCodeSize = 0;
    if (DGifGetImageDesc(m_gif) == GIF_ERROR && (wideCodeSize = WideCodeSize(reader, descAt)) == 0) {
        error = GifError(m_gif, "damaged image descriptor");
        return false;
    }
    if (wideCodeSize)
        m_gif->Error = 0; // giflib's refusal of the code size is not what a later failure is about
    ForgetSavedImages(m_gif);
    GifImageDesc desc = m_gif->Image;
    if (!WithinLimits(desc.Width, desc.Height)) {
        error = "GIF: frame too large";
        return false;
    }
    std::vector<std::uint32_t> table = ColourTable(desc.ColorMap ? desc.ColorMap : m_gif->SColorMap);
    m_disposal = gce.disposal;
    Place(desc);
    if (shown) {
        shown->gce = gce;
        shown->trans = gce.trans;
        shown->rect = m_rect;
        shown->index.assign(std::size_t(m_rect.Width()) * std::size_t(m_rect.y1 - m_rect.y0), ShownFrame::kNone);
    }
    if (m_disposal == 3 && !m_rect.Empty()) {
        m_saved.clear();
        m_saved.reserve(std::size_t(m_rect.Width()) * std::size_t(m_rect.y1 - m_rect.y0));
        for (int y = m_rect.y0; y < m_rect.y1; ++y)
            m_saved.insert(m_saved.end(), m_canvas.Row(y) + m_rect.x0, m_canvas.Row(y) + m_rect.x1);
    }
    // The table goes with shown first: a still shows a later frame's rows
    // that arrived even when the rest of its data is broken.
    if (shown)
        shown->table = std::move(table);
    if (!PaintData(desc, shown ? shown->table : table, gce.trans, shown, wideCodeSize)) {
        error = GifError(m_gif, "truncated or damaged image data");
        return false;
    }
    return true;
}

void FrameComposer::Place(GifImageDesc &desc)
{
    desc.Left -= m_canvas.x;
    desc.Top -= m_canvas.y;
    m_rect.x0 = std::max(0, desc.Left);
    m_rect.y0 = std::max(0, desc.Top);
    m_rect.x1 = int(std::min<std::int64_t>(m_canvas.width, std::int64_t(desc.Left) + desc.Width));
    m_rect.y1 = int(std::min<std::int64_t>(m_canvas.height, std::int64_t(desc.Top) + desc.Height));
    if (m_rect.Empty())
        m_rect = Rect{};
}

bool FrameComposer::PaintData(const GifImageDesc &desc, const std::vector<std::uint32_t> &table, int trans,
                              ShownFrame *shown, int wideCodeSize)
{
    MemReader &reader = *static_cast<MemReader *>(m_gif->UserData);
    if (m_rect.Empty() || desc.Width == 0 || desc.Height == 0)
        return wideCodeSize ? SkipSubBlocks(reader) : SkipImageData(m_gif); // nothing of it is visible
    if (wideCodeSize) {
        WideLzw lzw(reader, wideCodeSize);
        return DecodeRows<std::uint16_t>(desc, table, trans, shown,
                                         [&](std::uint16_t *line, int width) { return lzw.Line(line, width); }) &&
               lzw.Finish();
    }
    return DecodeRows<GifPixelType>(desc, table, trans, shown, [&](GifPixelType *line, int width) {
        return DGifGetLine(m_gif, line, width) != GIF_ERROR;
    });
}

template <class Pixel, class ReadLine>
bool FrameComposer::DecodeRows(const GifImageDesc &desc, const std::vector<std::uint32_t> &table, int trans,
                               ShownFrame *shown, ReadLine &&readLine)
{
    std::vector<Pixel> line(std::size_t(desc.Width));
    const int count = int(table.size());
    auto paint = [&](int row) {
        const int y = desc.Top + row;
        if (y < m_rect.y0 || y >= m_rect.y1)
            return;
        std::uint32_t *dst = m_canvas.Row(y);
        std::uint16_t *rec = shown ? shown->index.data() + std::size_t(y - m_rect.y0) * std::size_t(m_rect.Width())
                                   : nullptr;
        for (int x = m_rect.x0; x < m_rect.x1; ++x) {
            const int raw = line[std::size_t(x - desc.Left)];
            if (raw == trans)
                continue;
            const int index = raw < count ? raw : 0;
            dst[x] = table[std::size_t(index)];
            if (rec)
                rec[x - m_rect.x0] = std::uint16_t(index);
        }
    };
    if (desc.Interlace) {
        static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int row = kStart[pass]; row < desc.Height; row += kStep[pass]) {
                if (!readLine(line.data(), desc.Width))
                    return false;
                paint(row);
            }
        }
    } else {
        for (int row = 0; row < desc.Height; ++row) {
            if (!readLine(line.data(), desc.Width))
                return false;
            paint(row);
        }
    }
    return true;
}

void FrameComposer::Dispose()
{
    if (m_rect.Empty())
        return;
    if (m_disposal == 2) {
        for (int y = m_rect.y0; y < m_rect.y1; ++y)
            std::fill(m_canvas.Row(y) + m_rect.x0, m_canvas.Row(y) + m_rect.x1, 0u);
    } else if (m_disposal == 3 && !m_saved.empty()) {
        const std::size_t w = std::size_t(m_rect.Width());
        for (int y = m_rect.y0; y < m_rect.y1; ++y)
            std::copy_n(m_saved.data() + std::size_t(y - m_rect.y0) * w, w, m_canvas.Row(y) + m_rect.x0);
    }
}

// Frames shown for no time make one picture with the frames after them, up
// to the first with a delay, as browsers show a still; next moves to the
// last frame taken. A broken frame ends the picture with the rows of it
// that arrived. False when cancelled.
bool AddUndelayedFrames(FrameComposer &composer, ShownFrame &shown, int &next, int numFrames,
                        const std::atomic<bool> *cancel)
{
    std::string error;
    while (shown.gce.delay == 0 && next + 1 < numFrames) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return false;
        composer.Dispose();
        ++next;
        ShownFrame later;
        const bool painted = composer.Paint(&later, error);
        if (painted || !later.table.empty()) {
            shown = std::move(later);
        } else {
            // Broken before its first row, but after the disposal above:
            // the recorded indices may no longer match the canvas.
            std::fill(shown.index.begin(), shown.index.end(), ShownFrame::kNone);
        }
        if (!painted)
            break;
    }
    return true;
}

// --- Output -------------------------------------------------------------------

// Small open-addressing map from RGB to a palette slot.
class ColourMap {
public:
    ColourMap() { m_keys.fill(kEmpty); }
    int Find(std::uint32_t rgb) const
    {
        for (std::size_t i = Slot(rgb);; i = (i + 1) & (kSlots - 1)) {
            if (m_keys[i] == rgb)
                return m_values[i];
            if (m_keys[i] == kEmpty)
                return -1;
        }
    }
    void Insert(std::uint32_t rgb, int value)  // keeps an existing entry
    {
        for (std::size_t i = Slot(rgb);; i = (i + 1) & (kSlots - 1)) {
            if (m_keys[i] == rgb)
                return;
            if (m_keys[i] == kEmpty) {
                m_keys[i] = rgb;
                m_values[i] = std::int16_t(value);
                return;
            }
        }
    }

private:
    static constexpr std::size_t kSlots = 1024;  // more than twice the 513 entries ever stored
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    static std::size_t Slot(std::uint32_t rgb) { return (rgb * 0x9E3779B1u) >> 22; }
    std::array<std::uint32_t, kSlots> m_keys;
    std::array<std::int16_t, kSlots> m_values{};
};

RGBQUAD ToQuad(std::uint32_t c)
{
    return RGBQUAD{BYTE(c), BYTE(c >> 8), BYTE(c >> 16), 0};
}

bool MakeColourOutput(const Canvas &canvas, CxImage &out)
{
    if (!out.Create(canvas.width, canvas.height, 24) || !out.AlphaCreate())
        return false;
    for (int y = 0; y < canvas.height; ++y) {
        const std::uint32_t *src = canvas.pixels.data() + std::size_t(y) * std::size_t(canvas.width);
        BYTE *bgr = out.GetBits(y);
        BYTE *alpha = out.AlphaGetPointer(y);
        for (int x = 0; x < canvas.width; ++x) {
            bgr[x * 3] = BYTE(src[x]);
            bgr[x * 3 + 1] = BYTE(src[x] >> 8);
            bgr[x * 3 + 2] = BYTE(src[x] >> 16);
            alpha[x] = src[x] ? 255 : 0;
        }
    }
    return true;
}

constexpr std::uint16_t kTransparentCode = 0xFFFF;

// Each canvas pixel coded as an index of the frame's table, 256 + n for the
// n-th colour the table lacks, or kTransparentCode.
struct CanvasCodes {
    std::vector<std::uint16_t> codes;
    std::vector<std::uint32_t> missing; // colours not in the table
    std::array<bool, 256> used{};       // table entries some pixel uses
    bool anyTransparent = false;
    bool fits = true; // false: more than 256 colours the table lacks
};

// The pixels painted by the shown frame keep the index they were painted
// with; the others find theirs by colour.
void CodePixels(const Canvas &canvas, const ShownFrame &shown, ColourMap &lookup, CanvasCodes &cc)
{
    std::uint32_t lastColour = 0;
    int lastCode = -1;
    const std::size_t rectWidth = std::size_t(shown.rect.Width());
    for (int y = 0; y < canvas.height; ++y) {
        const std::uint32_t *src = canvas.pixels.data() + std::size_t(y) * std::size_t(canvas.width);
        std::uint16_t *dst = cc.codes.data() + std::size_t(y) * std::size_t(canvas.width);
        const bool rowInRect = y >= shown.rect.y0 && y < shown.rect.y1;
        for (int x = 0; x < canvas.width; ++x) {
            const std::uint32_t c = src[x];
            if (c == 0) {
                dst[x] = kTransparentCode;
                cc.anyTransparent = true;
                continue;
            }
            int code = -1;
            if (rowInRect && x >= shown.rect.x0 && x < shown.rect.x1) {
                const std::uint16_t painted =
                    shown.index[std::size_t(y - shown.rect.y0) * rectWidth + std::size_t(x - shown.rect.x0)];
                if (painted != ShownFrame::kNone)
                    code = painted;
            }
            if (code < 0 && c == lastColour && lastCode >= 0) {
                code = lastCode;
            } else if (code < 0) {
                code = lookup.Find(c & 0xFFFFFFu);
                if (code < 0) {
                    if (cc.missing.size() >= 256) {
                        cc.fits = false;
                        return;
                    }
                    code = 256 + int(cc.missing.size());
                    cc.missing.push_back(c);
                    lookup.Insert(c & 0xFFFFFFu, code);
                }
                lastColour = c;
                lastCode = code;
            }
            if (code < 256)
                cc.used[std::size_t(code)] = true;
            dst[x] = std::uint16_t(code);
        }
    }
}

// The output's palette: the frame's table, new entries after it, then
// table entries no pixel uses.
struct OutputPalette {
    std::vector<std::uint32_t> colours;
    std::vector<int> missingSlot; // where each missing colour went
    int trans = -1;
    int nextUnused = 0;

    // A free slot, or -1 when none is left.
    int TakeSlot(std::array<bool, 256> &used, int tableSize)
    {
        if (colours.size() < 256) {
            colours.push_back(kOpaque);
            return int(colours.size()) - 1;
        }
        while (nextUnused < tableSize && used[std::size_t(nextUnused)])
            ++nextUnused;
        if (nextUnused >= tableSize)
            return -1;
        used[std::size_t(nextUnused)] = true;
        return nextUnused++;
    }
};

// Hands out slots: the frame's own transparent index first when free, then
// the missing colours, then a transparent index. False when they do not fit.
bool AssignSlots(const ShownFrame &shown, CanvasCodes &cc, OutputPalette &pal)
{
    const int tableSize = int(shown.table.size());
    pal.colours = shown.table;
    pal.missingSlot.assign(cc.missing.size(), -1);
    if (cc.anyTransparent && shown.trans >= 0 && shown.trans < tableSize && !cc.used[std::size_t(shown.trans)]) {
        pal.trans = shown.trans;
        cc.used[std::size_t(pal.trans)] = true;
    }
    for (std::size_t m = 0; m < cc.missing.size(); ++m) {
        pal.missingSlot[m] = pal.TakeSlot(cc.used, tableSize);
        if (pal.missingSlot[m] < 0)
            return false;
        pal.colours[std::size_t(pal.missingSlot[m])] = cc.missing[m];
    }
    if (!cc.anyTransparent || pal.trans >= 0)
        return true;
    // An unused entry of the table before a new one: keeps the palette small.
    for (int i = 0; i < tableSize && pal.trans < 0; ++i)
        if (!cc.used[std::size_t(i)])
            pal.trans = i;
    if (pal.trans < 0) {
        pal.trans = pal.TakeSlot(cc.used, tableSize);
        if (pal.trans >= 0)
            pal.colours[std::size_t(pal.trans)] = 0;
    }
    return pal.trans >= 0;
}

bool WritePalettedOutput(const Canvas &canvas, const CanvasCodes &cc, const OutputPalette &pal, CxImage &out)
{
    const int n = int(pal.colours.size());
    const int bpp = n <= 2 ? 1 : (n <= 16 ? 4 : 8);
    if (!out.Create(canvas.width, canvas.height, bpp))
        return false;
    std::vector<RGBQUAD> quads(pal.colours.size());
    std::transform(pal.colours.begin(), pal.colours.end(), quads.begin(), ToQuad);
    out.SetPalette(quads.data(), n);
    for (int y = 0; y < canvas.height; ++y) {
        const std::uint16_t *src = cc.codes.data() + std::size_t(y) * std::size_t(canvas.width);
        BYTE *dst = out.GetBits(y);
        for (int x = 0; x < canvas.width; ++x) {
            const std::uint16_t code = src[x];
            dst[x] = BYTE(code == kTransparentCode ? pal.trans : (code < 256 ? code : pal.missingSlot[code - 256]));
        }
    }
    out.SetTransIndex(cc.anyTransparent ? pal.trans : -1);
    return true;
}

// The shown canvas as a paletted image built on the frame's own table, with
// colours of earlier frames added in free slots and a transparent index no
// visible pixel uses; 24 bits with alpha when that cannot fit 256 entries.
bool MakeOutput(const Canvas &canvas, const ShownFrame &shown, CxImage &out)
{
    const int tableSize = int(shown.table.size());
    ColourMap lookup;
    for (int i = 0; i < tableSize; ++i)
        if (i != shown.trans)
            lookup.Insert(shown.table[std::size_t(i)] & 0xFFFFFFu, i);
    if (shown.trans >= 0 && shown.trans < tableSize)
        lookup.Insert(shown.table[std::size_t(shown.trans)] & 0xFFFFFFu, shown.trans);

    CanvasCodes cc;
    try {
        cc.codes.resize(canvas.pixels.size());
    } catch (const std::bad_alloc &) {
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    CodePixels(canvas, shown, lookup, cc);
    OutputPalette pal;
    if (!cc.fits || !AssignSlots(shown, cc, pal))
        return MakeColourOutput(canvas, out);
    return WritePalettedOutput(canvas, cc, pal, out);
}

bool Fail(CxImage &out, const std::string &text)
{
    CxImageAccess::SetError(out, text.c_str());
    return false;
}

}  // namespace

namespace cxcodec {

struct GifDecoder::State {
    MemReader reader;
    FileFacts facts;
    GifReader gif;  // opened at the first frame read
    Canvas canvas;  // as it is before frame next
    int next = 0;
};

GifDecoder::GifDecoder() = default;
GifDecoder::~GifDecoder() = default;

bool GifDecoder::Open(const std::uint8_t *data, std::size_t size, std::string &error)
{
    m = std::make_unique<State>();
    m->reader = MemReader{data, size, 0};
    if (!ScanFile(data, size, m->facts, error)) {
        m.reset();
        return false;
    }
    return true;
}

int GifDecoder::NumFrames() const
{
    return m ? m->facts.numFrames : 0;
}

int GifDecoder::CanvasWidth() const
{
    return m ? m->facts.canvas.width : 0;
}

int GifDecoder::CanvasHeight() const
{
    return m ? m->facts.canvas.height : 0;
}

GifFileInfo GifDecoder::Info() const
{
    GifFileInfo info;
    if (m) {
        info.comment = m->facts.comment;
        info.loops = m->facts.loops;
    }
    return info;
}

bool GifDecoder::Read(int frame, CxImage &out)
{
    return Compose(frame, false, nullptr, out);
}

bool GifDecoder::ReadStill(CxImage &out, const std::atomic<bool> *cancel)
{
    return Compose(0, true, cancel, out);
}

bool GifDecoder::Compose(int frame, bool still, const std::atomic<bool> *cancel, CxImage &out)
{
    if (!m || frame < m->next || frame >= m->facts.numFrames)
        return Fail(out, "GIF: no such frame");
    State &s = *m;
    if (!s.gif) {
        s.gif = OpenReader(s.reader);
        if (!s.gif)
            return Fail(out, "GIF: cannot read the file header");
        const gifcanvas::Area area = s.facts.canvas;
        s.canvas.x = area.x;
        s.canvas.y = area.y;
        s.canvas.width = area.width;
        s.canvas.height = area.height;
        try {
            s.canvas.pixels.assign(std::size_t(area.width) * std::size_t(area.height), 0u);
        } catch (const std::bad_alloc &) {
            return Fail(out, "out of memory");
        }
        s.reader.pos = s.facts.firstRecord;
    }
    std::string error;
    ShownFrame shown;
    for (; s.next <= frame; ++s.next) {
        FrameComposer composer(s.gif.get(), s.canvas);
        const bool target = s.next == frame;
        // A broken frame ends the walk: nothing after it can be composed.
        if (!composer.Paint(target ? &shown : nullptr, error)) {
            s.next = s.facts.numFrames;
            return Fail(out, error);
        }
        // A looping animation whose frames all have no delay plays at the
        // viewer's own pace: its still is its first frame.
        const bool composes = still && (s.facts.anyDelay || s.facts.loops < 0);
        if (target && composes && !AddUndelayedFrames(composer, shown, s.next, s.facts.numFrames, cancel)) {
            s.next = s.facts.numFrames;
            return Fail(out, "cancelled");
        }
        if (target && !MakeOutput(s.canvas, shown, out)) {
            s.next = s.facts.numFrames;
            if (!*out.GetLastError())
                CxImageAccess::SetError(out, "cannot create image");
            return false;
        }
        composer.Dispose();
    }
    if (still)
        s.next = s.facts.numFrames; // the canvas is past frame 0
    CxImageAccess::SetFrameInfo(out, s.facts.numFrames, shown.gce.delay, shown.gce.disposal);
    return true;
}

bool DecodeGif(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req,
               GifFileInfo *info)
{
    if (!data || size < 13)
        return Fail(out, "GIF: truncated file header");
    if (req.frame < 0)
        return Fail(out, "GIF: no such frame");
    GifDecoder decoder;
    std::string error;
    if (!decoder.Open(data, size, error))
        return Fail(out, error);
    if (info)
        *info = decoder.Info();
    return req.frame == 0 ? decoder.ReadStill(out, req.cancel) : decoder.Read(req.frame, out);
}

bool EncodeGif(const CxImage &img, CxFile &file)
{
    CxImageGIF writer;
    writer.SetLoops(-1);
    writer.SetDisposalMethod(img.GetDisposalMethod());
    // The writer only reads its frames.
    CxImage *frames[1] = {const_cast<CxImage *>(&img)};
    return writer.Encode(&file, frames, 1, false);
}

}  // namespace cxcodec
