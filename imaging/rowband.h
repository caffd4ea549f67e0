// Converting a file whose picture needs no step that sees it whole: the
// decoder hands its rows, as it reads them, through a band of a few rows to
// the encoder on a second thread. Both run at once and the picture is never
// held whole.
#pragma once

#include "imaging/codecs/codecs.h"
#include "imaging/cxfile.h"
#include "imaging/cximage.h"
#include "imaging/resampledrows.h"
#include "imaging/rowfilter.h"
#include "imaging/turnedrows.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// Work done on each row as the decoder hands it on, before the encoder
// sees it: steps that need no other row (a mirror, tone curves).
class CxRowStep {
public:
    virtual ~CxRowStep() = default;
    // Whether rows of this depth (8 or 24 bits a pixel) can take the step;
    // where they cannot, the picture is decoded whole instead.
    virtual bool Takes(int bpp) const = 0;
    // width pixels of bpp bits, and their alpha (null: none).
    virtual void Row(BYTE *pixels, BYTE *alpha, int width, int bpp) const = 0;
};

// The band between the two threads. Rows are written and read strictly top
// to bottom; the decoder waits for room once the band is full, the encoder
// for rows not written yet. Each side is woken for a stretch of rows, not
// for every one.
class CxRowBand final : public cxcodec::RowSink, public cxcodec::RowFeed {
public:
    // About `bytes` of rows, never fewer than kMinRows (or the picture's height).
    explicit CxRowBand(std::size_t bytes = std::size_t(1) << 20, const CxRowStep *step = nullptr);
    static constexpr int kMinRows = 16;

    // Decoding side.
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) override;
    bool Room(int y) override;
    void Filled(int y) override;
    // The decode is over, whole or not: rows never written never arrive.
    void Close();

    // Encoding side.
    bool Arrived(int y) override;
    // The picture once its first row may be written (its facts are then
    // final); null when the decode ended without beginning.
    CxImage *WaitBegun();
    // The encoder gives up: the decoder's next Room fails.
    void Abandon();
    // Whether the encoder gave up while the decode still ran.
    bool AbandonedFirst() const;

    int Rows() const { return m_rows; }

private:
    const std::size_t m_bytes;
    const CxRowStep *const m_step;
    int m_stepped = 0; // rows before it have had the step, or are having it
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    CxImage m_picture;
    int m_rows = 0;
    int m_height = 0;
    int m_filled = 0;   // rows before it are written
    int m_released = 0; // rows before it are read
    int m_decoderNeeds = -1; // released count the waiting decoder wants
    int m_encoderNeeds = -1; // filled count the waiting encoder wants
    bool m_begun = false;
    bool m_closed = false;
    bool m_abandoned = false;
    bool m_abandonedFirst = false;
};

// The part of a width x height picture that its rows keep.
struct CxRegion {
    int left = 0, top = 0, width = 0, height = 0;
};

// Something drawn over a few rows of the picture (a watermark): the rows
// it may touch are held together as a picture of their own and drawn on.
class CxRowStamp {
public:
    virtual ~CxRowStamp() = default;
    // The rows [top, bottom) of a width x height picture it may touch.
    virtual void Rows(int width, int height, int &top, int &bottom) const = 0;
    // Draws it on rows, which hold rows [top, top + their height) of a
    // width x height picture.
    virtual void Draw(CxImage &rows, int top, int width, int height) const = 0;
};

// What is done to the rows on their way: a region kept, a step on each
// row, a filter over the rows around each, a border around, a stamp over.
struct CxRowEdits {
    // Gives the region kept of a width x height picture; false when the
    // rows cannot be cut so (the picture is then decoded whole). Empty: all.
    std::function<bool(int width, int height, CxRegion &region)> region;
    const CxRowStep *step = nullptr;
    // After the step, on the region's rows; colour rows only. An output
    // row waits for the filter's radius of rows below it.
    CxRowFilter *filter = nullptr;
    // The border's width for a picture of width x height (after the cut);
    // empty or 0: none. Colour rows only; the border is opaque.
    std::function<std::int64_t(std::int64_t width, std::int64_t height)> border;
    RGBQUAD borderColour{};
    // Last, on the framed rows; colour rows only.
    const CxRowStamp *stamp = nullptr;
};

// Rows cut and framed on their way to another sink: the decoder fills a
// band of its own, whose rows within the region are stepped and copied (or
// filtered) into the next sink's picture, between rows and columns of the
// border, as they are written; the others are read and dropped. Pictures
// of 8 or 24 bits a pixel only, and 24 with a border or a filter.
class CxFramedRows final : public cxcodec::RowSink {
public:
    CxFramedRows(cxcodec::RowSink &next, const CxRowEdits &edits);
    // The widest filter taken: rows above and below.
    static constexpr int kMaxFilterRadius = 8;
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) override;
    bool Room(int y) override;
    void Filled(int y) override;
    std::size_t SpareBytes() const override { return m_next.SpareBytes(); }
    // Only the region's pixels are read.
    bool Wants(int &left, int &top, int &width, int &height) const override;

private:
    // Gives on the output rows that the input rows written before `end`
    // make (the bottom border once the region's last row is read).
    bool Pass(int end);
    // Pixels [from, to) of an output row as the border's colour (alpha
    // opaque).
    void Fill(BYTE *row, BYTE *alpha, int from, int to);
    // The stamp drawn on its rows, which then go on.
    bool Stamp();

    cxcodec::RowSink &m_next;
    const CxRowEdits &m_edits;
    CxImage m_in;
    CxImage *m_out = nullptr;
    CxRegion m_region;
    int m_border = 0;
    CxImage m_stamped; // the output rows the stamp touches, held until it is drawn
    int m_stampTop = 0;
    int m_stepped = 0; // the region's rows before it have had the step
    int m_given = 0;   // output rows before it are given on
};

namespace cxstream {

// Whether a file of sourceType can go to outType row by row (the decoder
// may still decline a particular picture).
bool Streams(std::uint32_t sourceType, std::uint32_t outType);

enum class Outcome {
    Encoded,      // out holds the encoded file; image stays empty
    Whole,        // the decoder gave the whole picture instead: image holds
                  // it as Load would, nothing was encoded
    DecodeFailed, // reason says why; nothing usable was encoded
    EncodeFailed,
};

// Decodes filename on this thread as req asks while a second thread
// encodes it as outType into out, opened by the caller. prepare
// runs on the encoding thread before any row is encoded; it may change the
// picture's metadata and quality, never its pixels, and gives the reason
// the picture is not to be encoded at all (EncodeFailed), or "". A step (when
// given) is done on each row on whichever thread waits less; a picture it
// does not take comes Whole, without it. edits (when given) cut, step and
// frame the rows; a picture they cannot be done on comes Whole, as decoded.
// shrink (when given) first shrinks the decoder's rows, the edits then done
// on the shrunk ones; a picture it declines comes Whole, as decoded. turn
// (when given) takes the decoder's rows first and gives on the turned
// picture's once the last is in; a picture it declines comes Whole, and one
// whose turn failed says why in turn->Failure().
Outcome Convert(const char *filename, std::uint32_t outType,
                const std::function<std::string(CxImage &)> &prepare, CxImage &image, CxFile &out,
                std::string &reason, const CxDecodeRequest &req = {}, const CxRowEdits &edits = {},
                ResampledRows *shrink = nullptr, CxTurnedRows *turn = nullptr);

} // namespace cxstream
