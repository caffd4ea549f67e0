// A picture shrunk while its decoder reads it: each output row is made as
// soon as the source rows under its filter have arrived, from a ring of
// those rows, so the picture is never held whole and its rows are filtered
// while they are still in the cache. The result is the one decoding it whole
// and then resampling it (CxImage::Resample) gives, pixel for pixel.
#pragma once

#include "imaging/codecs/codecs.h"
#include "imaging/cximage.h"

#include <functional>
#include <memory>

class ResampledRows final : public cxcodec::RowSink {
public:
    // The size wanted for a file of fileWidth x fileHeight with meta; false
    // when this picture is not to be shrunk as it is read.
    using SizeRule =
        std::function<bool(int fileWidth, int fileHeight, const CxMetadata &meta, int &width, int &height)>;
    // pastLimit: also takes the rows of a picture read at its own size (PNG,
    // TIFF) that is too large to be held whole, colour without alpha or grey.
    explicit ResampledRows(SizeRule rule, bool pastLimit = false);
    ~ResampledRows() override;

    // Takes the colour or grey rows of a JPEG whose height shrinks, when the
    // resample would run on this thread alone anyway (a large one on a
    // thread of its own per core is faster whole); declines anything else,
    // which is then decoded whole as usual.
    void FileSize(int width, int height) override;
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) override;
    bool Room(int y) override;
    void Filled(int y) override;
    bool Repeatable() const override { return !m_next; }

    // The shrunk rows go on to next as they are made, into the band it
    // begins, instead of being held (Take then has nothing); so do those of
    // an enlargement, made only here. A picture shrunk so much that it is
    // box-averaged first is declined.
    void SendTo(cxcodec::RowSink *next) { m_next = next; }
    // Whether Begin would decline rows of width x height for their size
    // alone (no resize wanted, an enlargement held, or a shrink
    // box-averaged while the rows go on).
    bool Declines(int width, int height, const CxMetadata &meta) const;

    // After a decode whose every row came here (the image decoded into
    // stayed empty): puts the shrunk picture into image as a whole decode
    // would have left it, with its metadata, orientation and file size;
    // autoOrient as the decode's request said.
    bool Take(CxImage &image, bool autoOrient);

private:
    struct State;
    SizeRule m_rule;
    bool m_pastLimit = false;
    cxcodec::RowSink *m_next = nullptr;
    std::unique_ptr<State> m;
};
