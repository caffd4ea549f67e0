// Converting a file whose picture needs no step that sees it whole: the
// decoder hands its rows, as it reads them, through a band of a few rows to
// the encoder on a second thread. Both run at once and the picture is never
// held whole.
#pragma once

#include "imaging/codecs/codecs.h"
#include "imaging/cxfile.h"
#include "imaging/cximage.h"

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
    // Whether the rows of this band picture can take the step; where they
    // cannot, the picture is decoded whole instead.
    virtual bool Takes(const CxImage &band) const = 0;
    virtual void Row(CxImage &band, int y) const = 0;
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
// Gives the region kept of a width x height picture; false when the rows
// cannot be cut so (the picture is then decoded whole).
using CxRegionRule = std::function<bool(int width, int height, CxRegion &region)>;

// Rows cut to a region on their way to another sink: the decoder fills a
// band of its own, whose rows within the region are copied into the next
// sink's picture as they are written; the others are read and dropped.
// Pictures of 8 or 24 bits a pixel only.
class CxCroppedRows final : public cxcodec::RowSink {
public:
    CxCroppedRows(cxcodec::RowSink &next, CxRegionRule rule);
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) override;
    bool Room(int y) override;
    void Filled(int y) override;
    std::size_t SpareBytes() const override { return m_next.SpareBytes(); }

private:
    // Copies the written rows before `end` that the region keeps.
    bool Pass(int end);

    cxcodec::RowSink &m_next;
    const CxRegionRule m_rule;
    CxImage m_in;
    CxImage *m_out = nullptr;
    CxRegion m_region;
    int m_passed = 0; // rows before it are copied or dropped
    bool m_begun = false;
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
// the picture is not to be encoded at all (EncodeFailed), or "". step (when
// given) is done on each row on the decoding thread; a picture it does not
// take comes Whole, without it. region (when given) cuts the rows first; a
// picture it cannot cut comes Whole, uncut.
Outcome Convert(const char *filename, std::uint32_t outType, const std::function<std::string(CxImage &)> &prepare,
                CxImage &image, CxFile &out, std::string &reason, const CxDecodeRequest &req = {},
                const CxRowStep *step = nullptr, const CxRegionRule &region = {});

} // namespace cxstream
