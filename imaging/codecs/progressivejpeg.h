// Entropy decoding of the AC scans of a progressive, Huffman-coded JPEG.
//
// A progressive photo spends most of its decoding time here: its AC scans
// send every coefficient but the averages, in bands and bit planes, and the
// refinement scans revisit each coefficient already sent, a bit for each.
// libjpeg walks every coefficient of a band for those bits, scan after scan
// over the whole picture; this keeps a mask of each block's nonzero
// coefficients and jumps between them, reads through a 64-bit window and a
// ten-bit code table, and takes every scan over a row of blocks while the
// row is in the cache. The caller lets libjpeg read the rest of the file
// (tables, DC scans) and make the pixels from the same arrays.
//
// Only well-formed data is decoded: anything libjpeg would warn about,
// repair or refuse (a bad code, a scan that ends early, restart markers out
// of order, an odd progression, coefficients never completed) makes
// DecodeAcScans return false, and the caller then has libjpeg read the whole
// file itself, so a damaged file decodes exactly as it always did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace progressivejpeg {

using Block = short[64]; // coefficients in natural order, as libjpeg keeps them

struct Component {
    int id = 0; // as the frame and scan headers name it
    unsigned widthInBlocks = 0, heightInBlocks = 0;
    // The component's block rows, at least heightInBlocks of rowBlocks
    // blocks (at least widthInBlocks); the first heightInBlocks are cleared
    // here, just before their first use. nullptr skips its AC scans (their
    // coefficients are not needed).
    Block **rows = nullptr;
    unsigned rowBlocks = 0;
    bool zeroed = false; // the rows are all zero already: none is cleared
};

struct HuffmanTable {
    bool defined = false;
    std::uint8_t counts[17] = {}; // codes of each length, 1 to 16
    std::uint8_t values[256] = {};
};

struct Frame {
    Component components[4];
    int count = 0;
    HuffmanTable ac[4];           // AC tables as defined before the first scan
    unsigned restartInterval = 0; // in blocks, as defined before the first scan
    bool helper = false;          // whether a second thread may take the first component
};

// Decodes the AC scans from the first scan's marker at data[first] to the
// end of the image. Fills only coefficients 1 to 63 (the rest stay zero);
// the DC scans are read for their headers alone. False when the data is not
// one libjpeg would read without a word; the blocks are then left partly
// filled and partly uncleared.
bool DecodeAcScans(const std::uint8_t *data, std::size_t size, std::size_t first, const Frame &frame);

// The same decoding a block row at a time, as the rows are wanted, so that
// a picture's coefficients need never be held whole.
class RowReader {
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader &) = delete;
    RowReader &operator=(const RowReader &) = delete;

    // Reads the segments from the first scan's marker at data[first] to the
    // end of the image (which must stay in place); the frame's rows are not
    // used, wanted[c] says whether component c's AC coefficients are. False
    // where DecodeAcScans would be for anything but the entropy-coded data.
    bool Start(const std::uint8_t *data, std::size_t size, std::size_t first, const Frame &frame,
               const bool *wanted);
    // Coefficients 1 to 63 of the component's block row y into row (its
    // widthInBlocks blocks, cleared). Each component's rows come in order
    // from 0. False once the data turns out to be one libjpeg would not
    // read without a word: the picture must then be read another way.
    bool Row(int component, unsigned y, Block *row);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A marker segment: its marker, where its contents start and where it ends
// (for the end of the image, just past the marker).
struct MarkerSegment {
    std::uint8_t marker = 0;
    std::size_t body = 0, end = 0;
};

// Reads the marker segment at pos, after any fill bytes; false when there is
// none there or it runs past the data.
bool ReadMarkerSegment(const std::uint8_t *data, std::size_t size, std::size_t pos, MarkerSegment &seg);

// Where the entropy-coded data that starts at pos ends: at the next marker
// that is not a restart marker; size when there is none.
std::size_t ScanDataEnd(const std::uint8_t *data, std::size_t size, std::size_t pos);

// Whether refinement scans use the pdep instruction where it is fast (the
// default) or count their way to a run's end, as other processors do.
void UsePdep(bool on);

} // namespace progressivejpeg
