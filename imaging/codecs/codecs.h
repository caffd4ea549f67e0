// Internal interface between CxImage and its format codecs. Not for callers
// outside imaging/.
#pragma once

#include "imaging/cximage.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class MappedFile;

namespace cxcodec {

// Where a decoder that reads its rows top to bottom may put them as they
// come instead of into a whole picture, so that an encoder on another
// thread takes them meanwhile (DecodeRequest::rows).
class RowSink {
public:
    virtual ~RowSink() = default;
    // A band picture for the decoder to fill (CxImageAccess::CreateBand):
    // its palette, transparency and metadata (meta, as read) are set before
    // row 0. Null when the sink does not take this picture or cannot make
    // the band: the decoder then decodes it whole as usual.
    virtual CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) = 0;
    // Waits until row y may be written; false when the rows are no longer
    // wanted (the decode then gives up).
    virtual bool Room(int y) = 0;
    // Row y, and every row before it, is written.
    virtual void Filled(int y) = 0;
    // How much memory the decoder may hold besides the band to read faster
    // (a PNG's inflated data, whole); 0 where holding little is the point.
    virtual std::size_t SpareBytes() const { return 0; }
    // The file's own size, told before Begin by a decoder that reads the
    // picture reduced (a JPEG at 1/2, 1/4 or 1/8 scale); otherwise Begin's.
    virtual void FileSize(int /*width*/, int /*height*/) {}
    // Whether Begin may come again after rows were filled, the decode then
    // starting over from the top (a JPEG decoder begins again where damage
    // shows only in the rows). Not for a sink whose rows went on elsewhere.
    virtual bool Repeatable() const { return false; }
    // After Begin: the part of the picture whose pixels the sink reads (the
    // width x height from left, top); a decoder may leave what lies outside
    // unwritten, and rows above it undecoded, though Room and Filled still
    // come for every row. False: every pixel is read.
    virtual bool Wants(int & /*left*/, int & /*top*/, int & /*width*/, int & /*height*/) const
    {
        return false;
    }
};

// What an encoder of a band picture waits on.
class RowFeed {
public:
    virtual ~RowFeed() = default;
    // Waits until row y may be read; the rows before it are then done with.
    // False when it will never arrive.
    virtual bool Arrived(int y) = 0;
};

// The caller's request, and where the rows may go.
struct DecodeRequest : CxDecodeRequest {
    DecodeRequest() = default;
    explicit DecodeRequest(const CxDecodeRequest &asked, RowSink *sink = nullptr)
        : CxDecodeRequest(asked), rows(sink)
    {
    }

    // When set, a decoder that can passes its rows here as they come and
    // leaves out empty; one that cannot (or not for this file: an
    // interlaced or turned picture) decodes as usual and never calls it. A
    // cut-off file accepted (acceptTruncated) ends with its last row that
    // arrived repeated, as a whole decode shows it.
    RowSink *rows = nullptr;
    // The mapping the bytes lie in, when they are a file's (null for bytes
    // in memory): a decoder reading front to back may release what it read.
    const MappedFile *mapped = nullptr;

    // The hint for a picture stored storedW x storedH with the recorded
    // orientation, in stored terms: callers speak of the picture as they
    // get it, upright when autoOrient is set.
    void Hint(int storedW, int storedH, int orientation, int &width, int &height) const;
};

// Extra facts a GIF decode reports besides the image.
struct GifFileInfo {
    std::string comment;
    int loops = -1;
};

// Each decoder fills an empty image (through Create and the pixel accessors,
// plus CxImageAccess for frame facts) and returns false on any fault of the
// data. The bytes are untrusted; they are never read past size.
// A bitmap file, or a DIB without its file header (DecodeDib).
bool DecodeBmp(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// An icon's bitmap: a DIB without the file header, its height counting the
// AND mask after the picture, its 32-bit pixels' spare byte read as alpha
// and kept as it stands; at most 256 pixels a side. The mask, when there is
// one, begins at mask.at, its rows in the picture's order.
struct IconMaskPlace {
    std::size_t at = 0;
    bool topDown = false;
};
bool DecodeIconDib(const std::uint8_t *data, std::size_t size, CxImage &out, IconMaskPlace &mask);
// A packed DIB: an info or core header, its colour masks and table, then the
// pixels.
bool DecodeDib(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
bool DecodePcx(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// Colour-mapped, true-colour and grey TGA, plain or run-length coded, from
// any origin: 8 bits (grey, or 8-bit indices into a map whose entries in use
// are opaque but for at most one clear one), else 24 bits with alpha where
// the file declares it.
bool DecodeTga(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
bool DecodeJpeg(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// The metadata blocks of a JPEG's header as DecodeJpeg keeps them, reading
// no pixel.
bool ReadJpegMetadata(const std::uint8_t *data, std::size_t size, CxMetadata &meta);
bool DecodePng(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
bool DecodeTiff(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// The first frame of an animation (GetNumFrames says how many it has).
bool DecodeWebp(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// The first frame of an animation, at full size whatever the hint.
bool DecodeJxl(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// Frame 0 is the still (GifDecoder::ReadStill); an animation's frames are
// those GifDecoder::Read gives.
bool DecodeGif(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req,
               GifFileInfo *info = nullptr);
// The primary image; irot and imir reported as the orientation.
bool DecodeAvif(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// The primary image turned as the file says (orientation 1), or its own
// thumbnail when that covers the size hint.
bool DecodeHeif(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// PBM, PGM, PPM (P1 to P6) and PAM (P7), samples brought to 8 bits.
bool DecodePnm(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// The largest picture of an icon or cursor file.
bool DecodeIco(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// A camera's raw file through LibRaw: the sensor data developed (camera
// white balance, sRGB, 8 bits; half size when that still covers the hint),
// or its embedded preview when the request allows and it covers the hint.
// LibRaw's flip is reported as the orientation, its shot facts as EXIF.
bool DecodeRaw(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// An SVG drawing, or one gzip-compressed (SVGZ), rendered with its
// transparency: at the size the render rule asks (any), else at the hint's
// when that is smaller than its own, else at its own size at the request's
// dpi (96 by default), which is the size reported as the file's. Refused
// when it refers to anything outside itself but a data: URI, declares an
// external entity, inflates past a bound or is larger than the limits.
bool DecodeSvg(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// Its first bytes (inflated, when compressed) begin an XML document whose
// root is <svg>.
bool IsSvg(const std::uint8_t *data, std::size_t size);
// A PDF page (the request's page, else the first) rendered on white paper:
// at the size the render rule asks (any), else at the hint's when smaller
// than its own, else at the request's dpi (kPdfDefaultDpi by default).
// Refused when locked, damaged, over the limits or slower than 30 seconds.
inline constexpr int kPdfDefaultDpi = 150;
bool DecodePdf(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req);
// "%PDF-" within the first 1024 bytes.
bool IsPdf(const std::uint8_t *data, std::size_t size);
// The pages of a PDF Poppler opens unlocked; 0 when it cannot.
int CountPdfPages(const std::uint8_t *data, std::size_t size);
// The directories of a TIFF, at most limit; 0 when it cannot be read.
int CountTiffPages(const std::uint8_t *data, std::size_t size, int limit);
// TIFF's header (classic or BigTIFF).
bool IsTiff(const std::uint8_t *data, std::size_t size);
// A TIFF-structured camera raw file: a DNG (DNGVersion), a CR2, or one whose
// first directories hold colour filter or linear raw data (NEF, ARW, PEF...).
bool IsRawTiff(const std::uint8_t *data, std::size_t size);
// Any camera raw file LibRaw is given: those above and the ones with their
// own signatures (CR3, CRW, RAF, ORF, RW2, MRW, IIQ).
bool IsCameraRaw(const std::uint8_t *data, std::size_t size);

// Composes a GIF's frames in order over bytes the caller keeps alive, so
// frame k costs one frame's work when frame k - 1 came before it. Read's
// frame k is DecodeGif's for k > 0; DecodeGif's frame 0 is ReadStill's.
class GifDecoder {
public:
    GifDecoder();
    ~GifDecoder();
    GifDecoder(const GifDecoder &) = delete;
    GifDecoder &operator=(const GifDecoder &) = delete;

    // Counts the frames and reads comment and loop count.
    bool Open(const std::uint8_t *data, std::size_t size, std::string &error);
    int NumFrames() const;
    // The size every frame is composed at (0 before Open).
    int CanvasWidth() const;
    int CanvasHeight() const;
    GifFileInfo Info() const;
    // Frame k, at or after the next one; a failure ends the walk.
    bool Read(int frame, CxImage &out);
    // The picture a still shows, before any Read: frame 0 with the frames
    // after it up to the first that has a delay, or all of them when none
    // has. Frame 0 alone when it has a delay. Ends the walk; cancel is
    // looked at between frames.
    bool ReadStill(CxImage &out, const std::atomic<bool> *cancel = nullptr);

private:
    bool Compose(int frame, bool still, const std::atomic<bool> *cancel, CxImage &out);

    struct State;
    std::unique_ptr<State> m;
};

// The frames of a WebP (one for a still) composed on its canvas in order,
// over bytes the caller keeps alive. The canvas is checked against the
// limits and against what the frames can cover before it is allocated.
class WebpFrames {
public:
    WebpFrames();
    ~WebpFrames();
    WebpFrames(const WebpFrames &) = delete;
    WebpFrames &operator=(const WebpFrames &) = delete;

    bool Open(const std::uint8_t *data, std::size_t size, std::string &error);
    int NumFrames() const;
    int LoopCount() const;            // as the file says: 0 for ever, n plays n times
    std::uint32_t Background() const; // 0xAARRGGBB
    const CxMetadata &Metadata() const;
    // The next frame, 24 bits with alpha, and how long it shows; a failure
    // ends the walk.
    bool Next(CxImage &out, int &durationMs);

private:
    struct State;
    std::unique_ptr<State> m;
};

// Decodes a JPEG XL animation's frames in order over bytes the caller keeps
// alive, each the whole canvas composed as shown, stored the way the file
// keeps it (the orientation reported, not applied). A still is one frame.
// The picture's frame delay is the duration in hundredths of a second.
class JxlFrameWalker {
public:
    JxlFrameWalker();
    ~JxlFrameWalker();
    JxlFrameWalker(const JxlFrameWalker &) = delete;
    JxlFrameWalker &operator=(const JxlFrameWalker &) = delete;

    // Reads the frame headers (no pixels) for the count and the durations.
    bool Open(const std::uint8_t *data, std::size_t size, std::string &error);
    int NumFrames() const;
    int DurationMs(int frame) const;
    int Loops() const; // 0: forever
    // Frame k, at or after the next one; a failure ends the walk.
    bool Read(int frame, CxImage &out);
private:
    struct State;
    std::unique_ptr<State> m;
};

// Memory a JPEG's decode needs besides its pixels, from the headers at the
// stream's position: all the coefficients of a progressive frame, else 0.
std::size_t JpegScratchBytes(std::FILE *file);

// Coefficient memory that JPEG decodes on all threads may hold together
// (RunResources::decodeBudgetBytes); a decode that would pass it waits
// unless it runs alone.
void SetJpegDecodeBudget(std::size_t bytes);
std::size_t JpegDecodeBudget();

// Scratch memory another decoder holds besides its picture (an AVIF's
// planes), counted in that same budget while the hold lives: waits until it
// fits beside what the others hold, or nothing else is held.
class DecodeBudgetHold {
public:
    explicit DecodeBudgetHold(std::size_t bytes);
    ~DecodeBudgetHold();
    DecodeBudgetHold(const DecodeBudgetHold &) = delete;
    DecodeBudgetHold &operator=(const DecodeBudgetHold &) = delete;

private:
    std::size_t m_bytes;
};

// Each encoder writes a valid image of any depth to the stream; false when
// the stream fails. Formats without transparency composite onto white.
bool EncodeBmp(const CxImage &img, CxFile &file);
bool EncodePcx(const CxImage &img, CxFile &file);
// img.GetJpegQuality(); why (when given) gets libjpeg's message on failure.
bool EncodeJpeg(const CxImage &img, CxFile &file, std::string *why = nullptr);
bool EncodePng(const CxImage &img, CxFile &file);
bool EncodeTiff(const CxImage &img, CxFile &file);
bool EncodePnm(const CxImage &img, CxFile &file);
// Whether a band picture (rows arriving as they are decoded) can be written
// as TIFF: not a paletted one with a transparent entry.
bool TiffWritesBand(const CxImage &img);
bool EncodeGif(const CxImage &img, CxFile &file); // one frame, no loop extension
// Lossy at img.GetJpegQuality(), lossless at 100; alpha kept.
bool EncodeWebp(const CxImage &img, CxFile &file, std::string *why = nullptr);
// count frames of one size as an animation, each shown delaysMs[k]; the
// first frame's quality as for a still. loopCount as WebP counts it.
bool EncodeWebpAnimation(const CxImage *const *frames, const int *delaysMs, int count, int loopCount,
                         std::uint32_t background, CxFile &file, std::string *why = nullptr);
// Lossy at img.GetJpegQuality() (cjxl's distance for it), lossless at 100;
// alpha, orientation, EXIF and XMP boxes and the profile kept.
bool EncodeJxl(const CxImage &img, CxFile &file, std::string *why = nullptr);
float JxlDistanceForQuality(int quality);
// Lossy at img.GetJpegQuality(), lossless at 100; alpha kept exactly; the
// picture's metadata blocks and its orientation (as irot, imir) written.
bool EncodeAvif(const CxImage &img, CxFile &file, std::string *why = nullptr);

// Row helpers for encoders: row y (from the top) of any image as B,G,R
// bytes (onWhite: transparency composited onto white, else ignored) or as
// R,G,B,A bytes.
void RowToBGR(const CxImage &img, int y, std::uint8_t *bgr, bool onWhite);
void RowToRGBA(const CxImage &img, int y, std::uint8_t *rgba);

// Cuts a byte string to at most max bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string &s, std::size_t max);

} // namespace cxcodec

// Gives codecs the frame facts that callers only read.
struct CxImageAccess {
    static void SetFrameInfo(CxImage &img, int numFrames, int delay, int disposal)
    {
        img.m_numFrames = numFrames;
        img.m_frameDelay = delay;
        img.m_disposal = disposal;
    }
    static void SetSourceSize(CxImage &img, int width, int height)
    {
        img.m_srcWidth = width;
        img.m_srcHeight = height;
    }
    static void SetError(CxImage &img, const char *text) { img.m_lastError = text; }
    // Takes a decoded image into img as Load does, turned upright when
    // autoOrient asks.
    static bool Adopt(CxImage &img, CxImage &&out, std::uint32_t format, bool autoOrient)
    {
        return img.AdoptDecoded(std::move(out), format, autoOrient);
    }
    static void SetFrameIndex(CxImage &img, int frame) { img.m_frame = frame < 0 ? 0 : frame; }
    // The file's orientation tag; values outside 1..8 mean upright.
    static void SetOrientation(CxImage &img, int orientation)
    {
        img.m_orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    }
    static void SetMetadata(CxImage &img, CxMetadata meta) { img.m_meta = std::move(meta); }
    // For decoders that write every pixel of every row themselves.
    static bool CreateForDecode(CxImage &img, int width, int height, int bpp, std::uint32_t type)
    {
        return img.CreateImage(width, height, bpp, type, false);
    }
    // A width x height picture that holds only `rows` rows at a time (row y
    // in slot y % rows), for rows written and read strictly in order; none
    // of the pixel operations may be used on it.
    static bool CreateBand(CxImage &img, int width, int height, int bpp, std::uint32_t type, int rows)
    {
        // Only the band is held: the picture may pass the pixel limit, never
        // the side's.
        if (rows < 1 || !img.CheckSize(width, std::min(rows, height)) || height > CxImage::kMaxDimension ||
            !img.CreateImage(width, std::min(rows, height), bpp, type, false))
            return false;
        img.m_bandRows = std::min(rows, height);
        img.m_height = img.m_srcHeight = height;
        return true;
    }
    static bool IsBand(const CxImage &img) { return img.m_bandRows > 0; }
    // What a decoder sets on its picture besides pixels and size (palette,
    // transparency, file facts, metadata), given to another picture of the
    // same depth.
    static void CopyFacts(CxImage &to, const CxImage &from)
    {
        to.m_palette = from.m_palette;
        to.m_transIndex = from.m_transIndex;
        to.m_transColor = from.m_transColor;
        to.m_transColorSet = from.m_transColorSet;
        to.m_type = from.m_type;
        to.m_srcWidth = from.m_srcWidth;
        to.m_srcHeight = from.m_srcHeight;
        to.m_frame = from.m_frame;
        to.m_numFrames = from.m_numFrames;
        to.m_frameDelay = from.m_frameDelay;
        to.m_disposal = from.m_disposal;
        to.m_jpegQuality = from.m_jpegQuality;
        to.m_encoder = from.m_encoder;
        to.m_orientation = from.m_orientation;
        to.m_meta = from.m_meta;
    }
    // Rows of a band arrive through feed while it is encoded (null: none).
    static void SetFeed(CxImage &img, cxcodec::RowFeed *feed) { img.m_feed = feed; }
    static cxcodec::RowFeed *Feed(const CxImage &img) { return img.m_feed; }
};

namespace cxcodec {

// Whether a picture of w x h fits the program's limits (checked before
// anything of its size is allocated).
inline bool FitsPixelLimits(long long w, long long h)
{
    return w > 0 && h > 0 && w <= CxImage::kMaxDimension && h <= CxImage::kMaxDimension &&
           w * h <= CxImage::kMaxPixels;
}

// A failed decode: no pixels left, the reason kept.
inline bool RefuseImage(CxImage &out, const char *why)
{
    out.Destroy();
    CxImageAccess::SetError(out, why);
    return false;
}

} // namespace cxcodec
