// PNG image data inflated and unfiltered by our own code rather than by
// libpng, and the reader state the PNG codec shares with it. Private to the
// PNG codec.
//
// For 8-bit RGB and RGBA pictures stored in one pass, which is what photos
// and drawn pictures are, the image data is inflated and unfiltered here:
// libpng's Paeth filter, which such files use on nearly every row, works a
// byte at a time, this one a pixel at a time. The checks are libpng's: every
// chunk's CRC through IEND, the filter codes, enough image data, no second
// IHDR after it.
#pragma once

#include "imaging/codecs/codecs.h"
#include "imaging/cximage.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <png.h>
#include <zlib.h>

struct inflate_state;

namespace cxpng {

constexpr std::size_t kMessageSize = 160;

// ISA-L's inflater, which reads image data row by row in about a third of
// zlib's time (see InflateRow).
struct FastInflater {
    void operator()(inflate_state *s) const;
};

// Inflated PNG data held at once by all decodes together; past it, zlib
// reads a picture's data row by row (so two threads making cards of large
// PNGs hold the data of one at most).
constexpr std::size_t kInflatedBudget = std::size_t(48) << 20;

// A PNG's inflated data, kept for the next picture (see largeblocks.h).
struct InflatedData {
    std::uint8_t *bytes = nullptr;
    std::size_t size = 0;
    InflatedData() = default;
    InflatedData(const InflatedData &) = delete;
    InflatedData &operator=(const InflatedData &) = delete;
    // False when memory is short or the budget taken.
    bool Acquire(std::size_t n);
    void Release();
    ~InflatedData() { Release(); }
};

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    const std::atomic<bool> *cancel = nullptr;
    std::vector<png_byte> buffer; // rows that need converting
    std::vector<png_bytep> rows;
    char message[kMessageSize] = {};
    bool acceptTruncated = false;     // a cut-off file shows the rows that arrived
    bool truncated = false;           // the data ended early
    png_uint_32 rowsDone = 0;         // complete rows in the image, from the top
    png_uint_32 rowsAtCut = 0;        // rows complete before the data ran out
    cxcodec::RowSink *sink = nullptr; // rows go here as they come, when they can
    bool autoOrient = true;
    z_stream z{}; // image data inflated here rather than by libpng
    bool zOpen = false;
    std::unique_ptr<inflate_state, FastInflater> fast; // or here, while it goes well
    std::size_t firstIdat = 0;                         // where the image data begins
    InflatedData inflated; // or here, all at once

    ~PngReader()
    {
        if (zOpen)
            inflateEnd(&z);
    }
};

// How decoded rows reach the image.
enum class Layout {
    Index,     // one index byte per pixel, straight into the image
    Bgr,       // B, G, R straight into the image
    Bgra,      // B, G, R, A split into colour and alpha
    GreyAlpha, // G, A expanded into colour and alpha
};

// Undoes one row's filter; prev is the row above (zeros for the first).
// False for an unknown filter code.
bool Unfilter(int filter, std::uint8_t *__restrict cur, const std::uint8_t *__restrict prev, std::size_t n,
              int bpp);

// Whether the rows of this picture are read here: libpng has read up to the
// data of the first IDAT chunk and nothing else is asked of it.
bool OwnRows(const PngReader &r, int depth, int colorType, bool hasTrns, int passes);

// Reads every row (RGB or RGBA, 8 bits, one pass) into img, or into band
// for the reader's sink, and checks the chunks after the image data. A
// cut-off file allowed to be shown stops at the cut (r.truncated).
void ReadOwnRows(PngReader &r, CxImage &img, CxImage *band, Layout layout, png_uint_32 width,
                 png_uint_32 height);

} // namespace cxpng
