#include "controls/gifblockwalker.h"

#include <cstring>

namespace {

// Fixed parts of the blocks, before their data sub-blocks.
constexpr std::size_t kApplicationFixed = 14;
constexpr std::size_t kCommentFixed = 2;
constexpr std::size_t kControlLength = 8;
constexpr std::size_t kPlainTextFixed = 15;
constexpr std::size_t kImageFixed = 11; // descriptor and the LZW code size byte
constexpr std::size_t kDescriptorBytes = 10;

std::size_t ColourTableBytes(std::uint8_t packed)
{
    return (packed & 0x80) ? std::size_t(3) << ((packed & 7) + 1) : 0;
}

} // namespace

CGifBlockWalker::CGifBlockWalker(const std::uint8_t *data, std::size_t size)
    : m_data(data), m_size(data ? size : 0)
{
    m_isGif = m_size >= 3 && std::memcmp(m_data, "GIF", 3) == 0;
    m_hasHeader = m_isGif && m_size >= kHeaderSize;
    if (!m_hasHeader)
        return;
    m_width = int(Word(6));
    m_height = int(Word(8));
    m_colourTableSize = ColourTableBytes(m_data[10]);
}

GifBlockKind CGifBlockWalker::KindAt(std::size_t pos) const
{
    if (pos >= m_size)
        return GifBlockKind::Other;
    switch (m_data[pos]) {
    case ',':
        return GifBlockKind::Image;
    case ';':
        return GifBlockKind::Trailer;
    case '!':
        if (pos + 1 >= m_size)
            return GifBlockKind::Other;
        switch (m_data[pos + 1]) {
        case 0xFF:
            return GifBlockKind::Application;
        case 0xFE:
            return GifBlockKind::Comment;
        case 0xF9:
            return GifBlockKind::GraphicControl;
        case 0x01:
            return GifBlockKind::PlainText;
        default:
            return GifBlockKind::Other;
        }
    default:
        return GifBlockKind::Other;
    }
}

std::size_t CGifBlockWalker::SubBlocksLength(std::size_t pos) const
{
    std::size_t total = 0;
    while (pos < m_size) {
        const std::size_t n = m_data[pos];
        if (n == 0)
            return total + 1;
        // The next length byte may sit exactly at the end: the loop refuses it.
        if (n + 1 > m_size - pos)
            return 0;
        total += n + 1;
        pos += n + 1;
    }
    return 0;
}

// Bytes carried by complete sub-blocks from pos (length bytes not counted).
std::size_t CGifBlockWalker::SubBlocksPayload(std::size_t pos) const
{
    std::size_t total = 0;
    while (pos < m_size && m_data[pos] != 0 && std::size_t(m_data[pos]) + 1 <= m_size - pos) {
        total += m_data[pos];
        pos += std::size_t(m_data[pos]) + 1;
    }
    return total;
}

std::size_t CGifBlockWalker::BlockLength(std::size_t pos) const
{
    if (pos >= m_size)
        return 0;
    const std::size_t left = m_size - pos;
    auto withSubBlocks = [&](std::size_t fixed) -> std::size_t {
        if (fixed > left)
            return 0;
        const std::size_t sub = SubBlocksLength(pos + fixed);
        return sub ? fixed + sub : 0;
    };
    switch (KindAt(pos)) {
    case GifBlockKind::Application:
        return withSubBlocks(kApplicationFixed);
    case GifBlockKind::Comment:
        return withSubBlocks(kCommentFixed);
    case GifBlockKind::GraphicControl:
        return kControlLength <= left ? kControlLength : 0;
    case GifBlockKind::PlainText:
        return withSubBlocks(kPlainTextFixed);
    case GifBlockKind::Image:
        if (left < kDescriptorBytes)
            return 0;
        return withSubBlocks(kImageFixed + ColourTableBytes(m_data[pos + 9]));
    case GifBlockKind::Trailer:
        return 1;
    case GifBlockKind::Other:
        break;
    }
    return 0;
}

bool CGifBlockWalker::NextFrame(std::size_t &pos, GifFrameInfo &frame) const
{
    if (!m_hasHeader)
        return false;
    std::size_t p = pos;
    auto skip = [&]() {
        const std::size_t len = BlockLength(p);
        p += len;
        return len != 0;
    };
    GifBlockKind kind = KindAt(p);
    while (kind == GifBlockKind::Application || kind == GifBlockKind::Comment) {
        if (!skip())
            return false;
        kind = KindAt(p);
    }
    if (kind != GifBlockKind::GraphicControl && kind != GifBlockKind::Image &&
        kind != GifBlockKind::PlainText)
        return false;

    GifFrameInfo f;
    f.start = p;
    // After a control extension the frame goes on through further extensions
    // to its picture. Should there be several control extensions, the last
    // one counts, as it does for decoders.
    while (kind == GifBlockKind::GraphicControl || kind == GifBlockKind::Application ||
           kind == GifBlockKind::Comment) {
        if (kind == GifBlockKind::GraphicControl) {
            if (BlockLength(p) == 0)
                return false;
            f.hasControl = true;
            f.disposal = (m_data[p + 3] >> 2) & 7;
            f.delay = int(Word(p + 4));
        }
        if (!skip())
            return false;
        kind = KindAt(p);
    }
    if (kind != GifBlockKind::Image && kind != GifBlockKind::PlainText)
        return false;
    const std::size_t len = BlockLength(p);
    if (len == 0)
        return false;
    // Both blocks carry left, top, width and height as words; the plain
    // text extension after its 3-byte introduction.
    const std::size_t geometry = kind == GifBlockKind::Image ? p + 1 : p + 3;
    f.isImage = kind == GifBlockKind::Image;
    f.left = int(Word(geometry));
    f.top = int(Word(geometry + 2));
    f.width = int(Word(geometry + 4));
    f.height = int(Word(geometry + 6));
    f.descriptor = p;
    if (f.isImage)
        f.dataBytes = SubBlocksPayload(p + kImageFixed + ColourTableBytes(m_data[p + 9]));
    f.length = p + len - f.start;
    pos = p + len;
    frame = f;
    return true;
}

std::vector<GifFrameInfo> CGifBlockWalker::Frames() const
{
    std::vector<GifFrameInfo> frames;
    std::size_t pos = GetFirstBlock();
    GifFrameInfo frame;
    while (NextFrame(pos, frame))
        frames.push_back(frame);
    return frames;
}

std::vector<std::uint8_t> CGifBlockWalker::BuildFrameGif(const GifFrameInfo &frame) const
{
    const std::size_t head = GetFirstBlock();
    if (!m_hasHeader || frame.length == 0 || frame.start < head || frame.start > m_size ||
        frame.length > m_size - frame.start)
        return {};
    std::vector<std::uint8_t> gif;
    gif.reserve(head + frame.length + 1);
    gif.insert(gif.end(), m_data, m_data + head);
    gif.insert(gif.end(), m_data + frame.start, m_data + frame.start + frame.length);
    gif.push_back(';');
    return gif;
}

std::vector<std::uint8_t> CGifBlockWalker::BuildFrameGif(const GifFrameInfo &frame, int x, int y, int width,
                                                         int height) const
{
    if (x < 0 || y < 0 || width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF ||
        frame.descriptor < frame.start || frame.descriptor - frame.start + kDescriptorBytes > frame.length ||
        frame.left < x || frame.top < y)
        return {};
    std::vector<std::uint8_t> gif = BuildFrameGif(frame);
    if (gif.empty())
        return gif;
    auto put = [&](std::size_t pos, int v) {
        gif[pos] = std::uint8_t(v & 0xFF);
        gif[pos + 1] = std::uint8_t(v >> 8);
    };
    put(6, width);
    put(8, height);
    // Left and top follow the introducer: after ',' for an image, after the
    // three-byte start of a plain text extension.
    const std::size_t geometry = GetFirstBlock() + (frame.descriptor - frame.start) + (frame.isImage ? 1 : 3);
    put(geometry, frame.left - x);
    put(geometry + 2, frame.top - y);
    return gif;
}
