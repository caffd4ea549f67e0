// CxImageGIF: the GIF codec's own view of a file (comment, loop count,
// disposal) and the writer of multi-frame GIF89a animations.
#pragma once

#include "imaging/cxanimation.h"
#include "imaging/cximage.h"

#include <cstddef>
#include <memory>
#include <string>

namespace cxcodec {
class GifDecoder;
}

class CxImageGIF : public CxImage {
public:
    CxImageGIF() : CxImage(CXIMAGE_FORMAT_GIF) {}

    // Decodes the frame req asks for (0 by default) and reads the file's
    // comment and loop count; GetDisposalMethod tells that frame's disposal
    // method.
    bool Decode(CxFile *file, const CxDecodeRequest &req = {});

    // Writes pagecount frames as one animation: the logical screen is the
    // largest frame, each frame is written full size at (0, 0) with its own
    // delay and transparency. The disposal method set here is used for every
    // frame except where it would let an earlier frame show through a later
    // frame's transparent pixels; there restore-to-background is written.
    // With bLocalColorMap every frame gets its own colour table; otherwise the
    // first frame's table is global and only frames whose colours differ get a
    // local one. Colour frames are quantised to 256 colours (255 and a
    // transparent entry when they have alpha).
    bool Encode(CxFile *file, CxImage **frames, int pagecount, bool bLocalColorMap = false);
    // Single image, written through the same path.
    bool Encode(CxFile *file) { CxImage *self = this; return Encode(file, &self, 1, false); }

    // Comment extension text (at most 255 bytes are kept per block; the
    // whole comment is kept up to 4096 bytes).
    void SetComment(const char *comment);
    const std::string &GetComment() const { return m_comment; }
    // Copies the comment, NUL-terminated and cut to fit, into a caller buffer.
    void GetComment(char *buffer, std::size_t size) const;

    // -1: the file has no loop extension (plays once); 0: loops for ever;
    // n > 0: repeats n times.
    void SetLoops(int loops) { m_loops = loops < -1 ? -1 : (loops > 65535 ? 65535 : loops); }
    int GetLoops() const { return m_loops; }

private:
    std::string m_comment;
    int m_loops = 0;
};

// The frames of a GIF file in order, read and parsed once: Next gives frame
// 0, 1, 2, ... each exactly as Load of frame k gives it (frame 0 as it
// plays, which is the still unless the first frames have no delay),
// composing one frame per call instead of every frame before it again.
class CxGifFrameReader : public CxFrameReader {
public:
    explicit CxGifFrameReader(const char *filename);
    // Over a file's bytes already read.
    explicit CxGifFrameReader(std::string bytes);
    ~CxGifFrameReader() override;
    CxGifFrameReader(const CxGifFrameReader &) = delete;
    CxGifFrameReader &operator=(const CxGifFrameReader &) = delete;

    bool Next(CxImage &img) override;
    int GetNumFrames() const override;

private:
    void Open();

    std::string m_bytes;
    std::unique_ptr<cxcodec::GifDecoder> m_decoder;
    std::string m_error; // why the file cannot be read at all
    int m_next = 0;
};
