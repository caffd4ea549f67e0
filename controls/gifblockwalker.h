// Walks the blocks of a GIF held in memory and splits an animation into
// frames, each of which can be rebuilt as a GIF of its own. Plain C++ over a
// byte range: every read is checked against the end of the data, so any
// bytes at all can be handed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class GifBlockKind {
    Application,    // "!" 0xFF
    Comment,        // "!" 0xFE
    GraphicControl, // "!" 0xF9
    PlainText,      // "!" 0x01
    Image,          // ","
    Trailer,        // ";"
    Other,          // anything else (or nothing left): the walk ends
};

// One frame: its bytes run from its graphic control extension (or the first
// block found when it has none) through the end of its image data.
struct GifFrameInfo {
    std::size_t start = 0;
    std::size_t length = 0;
    bool hasControl = false;
    int delay = 0;        // hundredths of a second; 0 without a control extension
    int disposal = 0;     // 0 to 7
    bool isImage = false; // false: the frame is a plain text extension
    int left = 0, top = 0, width = 0, height = 0;
    std::size_t descriptor = 0; // where its image descriptor (or plain text block) starts
    std::size_t dataBytes = 0;  // payload of its LZW sub-blocks (image frames)
};

class CGifBlockWalker {
public:
    static constexpr std::size_t kHeaderSize = 13;

    CGifBlockWalker(const std::uint8_t *data, std::size_t size);

    // True when the data starts with "GIF" (the version bytes after it are
    // not examined).
    bool IsGif() const { return m_isGif; }
    // The 13-byte header is all there; size and colour table are read from it.
    bool HasHeader() const { return m_hasHeader; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    // Bytes of the global colour table: 3 * 2^(n+1) when present, else 0.
    std::size_t GetColourTableSize() const { return m_colourTableSize; }
    // Where the first block after the header and its colour table lies.
    std::size_t GetFirstBlock() const { return kHeaderSize + m_colourTableSize; }

    GifBlockKind KindAt(std::size_t pos) const;
    // Whole length of the block at pos; 0 when it would end past the data or
    // the walk ends there.
    std::size_t BlockLength(std::size_t pos) const;

    // Finds the frame starting the search at pos and moves pos past it.
    // False when no complete frame follows (trailer, an unknown byte, or the
    // data ends inside a block).
    bool NextFrame(std::size_t &pos, GifFrameInfo &frame) const;
    // Every complete frame from the first block on.
    std::vector<GifFrameInfo> Frames() const;

    // A GIF holding only this frame: the header and global colour table, the
    // frame's bytes and a trailer. Empty when the frame does not lie inside
    // the data or this is no GIF.
    std::vector<std::uint8_t> BuildFrameGif(const GifFrameInfo &frame) const;
    // The same with the logical screen cut to width x height from (x, y) of
    // the original and the frame moved with it; empty when the frame does
    // not start inside that part.
    std::vector<std::uint8_t> BuildFrameGif(const GifFrameInfo &frame, int x, int y, int width, int height) const;

private:
    std::size_t SubBlocksLength(std::size_t pos) const;
    std::size_t SubBlocksPayload(std::size_t pos) const;
    unsigned Word(std::size_t pos) const { return unsigned(m_data[pos]) | (unsigned(m_data[pos + 1]) << 8); }

    const std::uint8_t *m_data;
    std::size_t m_size;
    bool m_isGif = false;
    bool m_hasHeader = false;
    int m_width = 0;
    int m_height = 0;
    std::size_t m_colourTableSize = 0;
};
