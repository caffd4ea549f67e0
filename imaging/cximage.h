// CxImage: one decoded picture and every pixel operation the program needs.
//
// Image model (the same for every codec and every caller):
//
//  * Depth. GetBpp() is 1, 4 or 8 for a paletted image and 24 for a colour
//    image; 0 for an empty one. Paletted pixels are stored one index byte per
//    pixel whatever GetBpp() says, so 1, 4 and 8 differ only in the palette size
//    they allow (at most 2, 16 or 256 entries). GetNumColors() is the number of
//    palette entries (0 for 24 bits); every stored index is below it.
//    Greyscale is a paletted image whose entries are all grey (IsGrayScale).
//    Deeper samples (16-bit PNG and TIFF) are reduced to 8 bits per channel.
//  * Rows. Row 0 is the top row. Colour rows hold B, G, R bytes; every row,
//    colour or index, starts on a 4-byte boundary (GetEffWidth() bytes apart).
//  * Transparency. A paletted image may have one transparent index
//    (GetTransIndex() >= 0). A 24-bit image may carry an 8-bit alpha plane
//    beside the colour (AlphaIsValid()); 255 is opaque. A paletted image never
//    has an alpha plane: files whose palette has partial transparency decode to
//    24 bits with alpha. Transparency survives to PNG, TIF and GIF output; JPG,
//    BMP and PCX output composite transparent pixels onto white.
//    GetTransColor() reports the colour of the transparent entry (or the one set
//    with SetTransColor). SetTransColor only records the colour an encoder
//    writes for transparent pixels; it never makes any pixel transparent, so an
//    opaque image stays opaque whatever colour it is given.
//  * Frames. GetNumFrames() is the number of frames in the file (1 for still
//    formats). A request's frame k asks for frame k; for a GIF the result is
//    the full logical screen as a viewer shows it while frame k is displayed,
//    composed with every earlier frame's disposal. Such a frame is paletted
//    when one palette covers all its colours and 24 bits with alpha otherwise;
//    areas not painted yet are transparent. GetFrameDelay() is in hundredths of
//    a second, GetDisposalMethod() the frame's own disposal code (0 to 3).
//    Frame 0 is the still: when the first frames have no delay it takes in
//    those after them up to the first with one (GetFrameDelay and
//    GetDisposalMethod are then that frame's). Each such Load composes
//    frames 0..k afresh; to walk all frames use CxGifFrameReader
//    (cximagegif.h), which reads the file once.
//  * Requests. What a decode is asked for (frame, size hint or rule, region,
//    first look, turning, damaged files, cancelling) travels with each Load,
//    Decode or LoadRows as a CxDecodeRequest (decoderequest.h); the picture
//    keeps none of it for the next file.
//  * Reduced decode. A request's size hint w x h lets a codec that can decode at a
//    reduced scale (JPEG) return a smaller image that still covers w x h in
//    both directions; GetWidth()/GetHeight() describe the pixels held, while
//    GetSrcWidth()/GetSrcHeight() always report the file's own size (turned
//    as the pixels are, see Orientation).
//  * Orientation. A file may record that its stored rows are not the upright
//    picture (TIFF orientation tag, values 1 to 8 as in EXIF). Decoders only
//    report it; Decode then turns the pixels (alpha and indices alike) upright
//    and GetOrientation() reports 1. With autoOrient false the pixels stay
//    as stored and GetOrientation() reports the recorded value, which
//    ApplyOrientation() turns upright later. A size hint or rule speaks of the
//    picture as Decode returns it (upright unless auto-orient is off).
//  * Metadata. GetMetadata() holds the EXIF, XMP, IPTC and ICC blocks the
//    file carried (JPEG, PNG, TIFF); Encode writes them into outputs that can
//    carry them, the EXIF's orientation set to GetOrientation() and its pixel
//    sizes to the picture's (see metadataio.h). Destroy and Load clear them.
//  * Damaged files. A truncated file fails to decode, unless the request's
//    acceptTruncated asks for what arrived (JPEG, PNG), the rest
//    filled in by the decoder: for showing, never for writing. The same
//    asks for what libjpeg recovers of a JPEG's damaged data.
//  * Limits. No image is larger than kMaxDimension on a side or kMaxPixels in
//    all; decoders check this before allocating and fail instead. A picture
//    whose rows only pass through a band (a RowSink) is never held, so only
//    its side is limited.
//
// Every operation reports failure by returning false (GetLastError() says
// why); none throws, and a failed operation leaves a valid image unchanged.
#pragma once

#include "imaging/cxfile.h"
#include "imaging/cxmetadata.h"
#include "imaging/cxtypes.h"
#include "imaging/decoderequest.h"
#include "imaging/encodersettings.h"
#include "imaging/formats.h"
#include "imaging/largeblocks.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

class MappedFile;
class QImage;
class QPainter;
namespace cxcodec {
class RowFeed;
class RowSink;
}

namespace cxops {
// Leaves new elements uninitialised, so a decoder that writes every pixel
// does not pay for clearing them first.
template <typename T> struct DefaultInitAllocator : std::allocator<T> {
    template <typename U> struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U> DefaultInitAllocator(const DefaultInitAllocator<U> &) noexcept {}
    // Pixel buffers of large pictures come from largeblocks: kept between
    // pictures instead of faulted in afresh for each one.
    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        void *p = largeblocks::Acquire(n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, std::size_t n) noexcept { largeblocks::Release(p, n * sizeof(T)); }
    template <typename U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <typename U, typename... Args> void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
};

// The pixels: copied with one memcpy. A vector with an allocator of its own
// copies element by element, a byte at a time.
class PixelBytes : public std::vector<BYTE, DefaultInitAllocator<BYTE>> {
    using Base = std::vector<BYTE, DefaultInitAllocator<BYTE>>;

public:
    using Base::Base;
    PixelBytes() = default;
    PixelBytes(const PixelBytes &other) : Base() { CopyFrom(other); }
    PixelBytes &operator=(const PixelBytes &other)
    {
        if (this != &other)
            CopyFrom(other);
        return *this;
    }
    PixelBytes(PixelBytes &&) noexcept = default;
    PixelBytes &operator=(PixelBytes &&) noexcept = default;
    ~PixelBytes() = default;

private:
    void CopyFrom(const PixelBytes &other)
    {
        Base::resize(other.size()); // default-initialised: not cleared first
        if (!other.empty())
            std::memcpy(Base::data(), other.data(), other.size());
    }
};
} // namespace cxops

// What DrawStringEx draws. Callers fill text, font and colour; the other
// fields keep their defaults unless a caller wants them.
struct tagCxTextInfo {
    std::string text; // UTF-8
    LOGFONT lfont;
    COLORREF fcolor = RGB(0, 0, 0);
    // Alignment of multi-line text: 0 left, 1 centre, 2 right.
    int align = 0;
    bool smooth = true; // anti-aliased
    // Optional box behind the text.
    bool opaque = false;
    COLORREF bcolor = RGB(255, 255, 255);
    int b_opacity = 0; // 0..100 percent of the box's transparency
    int b_outline = 0; // outline width in pixels
    int b_round = 0;   // corner radius in pixels
};
using CXTEXTINFO = tagCxTextInfo;

class CxImage {
public:
    static constexpr int kMaxDimension = 1 << 18;
    static constexpr std::int64_t kMaxPixels = std::int64_t(1) << 28;

    explicit CxImage(std::uint32_t imagetype = CXIMAGE_FORMAT_UNKNOWN);
    CxImage(const char *filename, std::uint32_t imagetype);
    CxImage(const CxImage &) = default;
    CxImage &operator=(const CxImage &) = default;
    CxImage(CxImage &&) noexcept = default;
    CxImage &operator=(CxImage &&) noexcept = default;
    virtual ~CxImage() = default;

    // --- Life cycle -----------------------------------------------------
    // Makes a blank image (black, or palette entry 0). bpp 1, 4, 8 or 24; a
    // paletted image gets a grey ramp of 2^bpp entries.
    bool Create(int width, int height, int bpp, std::uint32_t imagetype = 0);
    // Frees the pixels; the frame index, quality and encoder settings are kept.
    void Destroy();
    bool IsValid() const { return m_bpp != 0; }

    // --- Files ------------------------------------------------------------
    // The format is recognised from the bytes; imagetype only names what the
    // caller expects (0: unknown) and a mislabelled file still loads.
    // req says what of the picture is wanted and how (decoderequest.h).
    bool Load(const char *filename, std::uint32_t imagetype = CXIMAGE_FORMAT_UNKNOWN,
              const CxDecodeRequest &req = {});
    bool Decode(CxFile *file, std::uint32_t imagetype = CXIMAGE_FORMAT_UNKNOWN,
                const CxDecodeRequest &req = {});
    bool Decode(const std::uint8_t *data, std::size_t size, std::uint32_t imagetype = CXIMAGE_FORMAT_UNKNOWN,
                const CxDecodeRequest &req = {});
    // Load, except that when the file's decoder can read this picture top to
    // bottom with nothing to turn, its rows go to sink as they come and this
    // image is left empty (IsValid() false) on success.
    bool LoadRows(const char *filename, cxcodec::RowSink &sink, const CxDecodeRequest &req = {});
    bool DecodeRows(const std::uint8_t *data, std::size_t size, cxcodec::RowSink &sink,
                    const CxDecodeRequest &req = {})
    {
        return DecodeBytes(data, size, &sink, req);
    }
    // Writes through a temporary file beside the target, renamed into place
    // only when complete. Type 0 writes the format the image was loaded from.
    bool Save(const char *filename, std::uint32_t imagetype);
    bool Encode(CxFile *file, std::uint32_t imagetype);
    // Memory a decode of the file would need besides the picture's own
    // pixels, read from its headers: large for a progressive JPEG (it keeps
    // every coefficient of the frame), 0 for other files or when unknown.
    static std::size_t DecodeScratchBytes(const char *filename);
    // Format recognised from a file's first bytes, 0 if none.
    static std::uint32_t DetectFormat(const std::uint8_t *data, std::size_t size);

    // --- Properties ---------------------------------------------------------
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetSrcWidth() const { return m_srcWidth; }
    int GetSrcHeight() const { return m_srcHeight; }
    int GetBpp() const { return m_bpp; }
    int GetNumColors() const { return int(m_palette.size()); }
    std::uint32_t GetType() const { return m_type; }
    int GetEffWidth() const { return m_stride; }
    const char *GetLastError() const { return m_lastError.c_str(); }

    // The frame these pixels are (CxDecodeRequest::frame of their decode).
    int GetFrame() const { return m_frame; }
    int GetNumFrames() const { return m_numFrames; }
    int GetFrameDelay() const { return m_frameDelay; }
    void SetFrameDelay(int delay) { m_frameDelay = delay < 0 ? 0 : delay; }
    int GetDisposalMethod() const { return m_disposal; }
    void SetDisposalMethod(int method) { m_disposal = method & 7; }

    void SetJpegQuality(BYTE quality) { m_jpegQuality = quality > 100 ? 100 : quality; }
    BYTE GetJpegQuality() const { return m_jpegQuality; }
    // Read by each encoder for its own format, kept like the quality.
    void SetEncoderSettings(const CEncoderSettings &settings) { m_encoder = settings; }
    const CEncoderSettings &GetEncoderSettings() const { return m_encoder; }
    // How the pixels held map to the upright picture: 1 when they are upright
    // (always after an auto-oriented decode), else the value the file recorded.
    int GetOrientation() const { return m_orientation; }
    // Turns the pixels upright; GetOrientation() is 1 afterwards.
    bool ApplyOrientation();
    const CxMetadata &GetMetadata() const { return m_meta; }
    void SetMetadata(CxMetadata meta) { m_meta = std::move(meta); }

    // Threads a pixel operation started on the calling thread may use: 1
    // keeps it on that thread (a batch that runs one file per core), 0 lets
    // it use every core.
    static void SetThreadLimit(int threads);
    static int GetThreadLimit();

    // --- Pixels ---------------------------------------------------------------
    BYTE *GetBits(int row = 0);
    const BYTE *GetBits(int row = 0) const;
    const RGBQUAD *GetPalette() const { return m_palette.empty() ? nullptr : m_palette.data(); }
    // Sets the palette (1 to 256 entries) of a paletted image; indices at or
    // beyond the new size are mapped to entry 0.
    bool SetPalette(const RGBQUAD *palette, int count);
    RGBQUAD GetPaletteColor(int index) const;
    // Colour at (x, y), y counted from the top; alpha in rgbReserved (255 where
    // opaque, 0 at the transparent index). Out of range gives black.
    RGBQUAD GetPixelColor(int x, int y) const;
    BYTE GetPixelIndex(int x, int y) const;
    void SetPixelColor(int x, int y, RGBQUAD color, bool setAlpha = false);
    void SetPixelIndex(int x, int y, BYTE index);

    bool AlphaIsValid() const { return !m_alpha.empty(); }
    bool AlphaCreate(); // opaque plane; 24-bit images only
    void AlphaDelete()
    {
        m_alpha.clear();
        m_alpha.shrink_to_fit();
    }
    BYTE *AlphaGetPointer(int row = 0);
    const BYTE *AlphaGetPointer(int row = 0) const;
    // True when any pixel is not fully opaque.
    bool IsTransparent() const;

    int GetTransIndex() const { return m_transIndex; }
    void SetTransIndex(int index); // -1 for none
    RGBQUAD GetTransColor() const;
    void SetTransColor(RGBQUAD color);

    // --- Transformations ------------------------------------------------------
    // mode 0: high-quality separable filter, area-correct when shrinking.
    // False for a zero size or one beyond the limits. Paletted images become
    // 24 bits (a transparent index becomes alpha).
    bool Resample(long newx, long newy, int mode = 0, CxImage *iDst = nullptr);
    // dst becomes this picture resampled to newx x newy with every setting
    // and block of metadata this one has, as a copy resampled would, without
    // the copy of this picture's pixels; this one is left as it is.
    bool ResampleInto(long newx, long newy, CxImage &dst) const;
    bool RotateLeft(CxImage *iDst = nullptr);
    bool RotateRight(CxImage *iDst = nullptr);
    bool Rotate180(CxImage *iDst = nullptr);
    // Left-right and top-bottom, in place; palette, transparency and alpha kept.
    bool Mirror();
    bool Flip();
    // width pixels of bpp bits (8 or 24) reversed in place: a row as Mirror
    // turns it, for rows that pass one at a time.
    static void MirrorRow(BYTE *pixels, int width, int bpp);
    // 3x3 (or larger odd) convolution, divided, offset and clamped, on colour;
    // a paletted image is first raised to 24 bits. Alpha is left as it is.
    bool Filter(const long *kernel, long ksize, long kfactor, long koffset);
    // Keeps the width x height part at (left, top), which must lie inside;
    // palette, transparency and alpha kept.
    bool Crop(long left, long top, long width, long height);
    // Puts the picture at (left, top) on a width x height canvas of the
    // colour, which it must fit inside. A paletted picture becomes 24 bits;
    // an alpha plane stays (the canvas opaque).
    bool Expand(long width, long height, long left, long top, RGBQUAD canvas);
    bool IsGrayScale() const;
    bool IncreaseBpp(DWORD nbit);
    // Maps to the given palette (256 entries when null: built from the image),
    // with Floyd-Steinberg error diffusion when asked. Alpha becomes a
    // transparent index taken from an entry no opaque pixel uses.
    bool DecreaseBpp(DWORD nbit, bool errordiffusion, const RGBQUAD *ppal = nullptr, DWORD clrimportant = 0);

    // Burns text into the pixels, (x, y) the left end of the baseline. With
    // bSetAlpha the text's coverage is also made opaque in the alpha plane.
    bool DrawStringEx(long x, long y, const CXTEXTINFO *pTextType, bool bSetAlpha = false);
    // Draws the image scaled into the rectangle of a painter.
    bool Stretch(QPainter *painter, long xoffset, long yoffset, long xsize, long ysize,
                 DWORD dwRop = SRCCOPY) const;

    // --- Bridges ----------------------------------------------------------------
    // ARGB32 (non-premultiplied) copy; null image when empty.
    QImage ToQImage() const;
    // 24 bits, with alpha when the picture has any.
    bool FromQImage(const QImage &image);

protected:
    void SetError(const char *text) { m_lastError = text; }
    bool CheckSize(std::int64_t width, std::int64_t height);
    // Create; with clear false the pixels are left for the caller to write
    // (row padding is still cleared).
    bool CreateImage(int width, int height, int bpp, std::uint32_t imagetype, bool clear);
    // Replaces the pixel content with a new image's (keeps frame and settings).
    void TakePixels(CxImage &&other);
    // Takes other's frame, settings and metadata: every member TakePixels
    // leaves alone.
    void TakeSettings(const CxImage &other);
    // Takes a codec's result as this image's content, with its frame facts.
    // False when the picture cannot be turned upright (memory).
    bool AdoptDecoded(CxImage &&out, std::uint32_t format, bool autoOrient);
    // Encode for an output that carries the metadata blocks: the pixels
    // first, then the blocks written in (without them if they are refused).
    bool EncodeWithMetadata(CxFile *file, std::uint32_t imagetype);
    bool DecodeFile(CxFile *file, cxcodec::RowSink *sink, const CxDecodeRequest &req);
    bool DecodeBytes(const std::uint8_t *data, std::size_t size, cxcodec::RowSink *sink,
                     const CxDecodeRequest &req, const MappedFile *mapped = nullptr);
    // Counter-clockwise quarter turns: 1 left, 2 half, 3 right.
    bool RotateBy(int quarterTurns, CxImage *iDst);
    // The picture turned as orientation (2 to 8) says into iDst (or itself).
    bool OrientBy(int orientation, CxImage *iDst);

    int m_width = 0;
    int m_height = 0;
    int m_bpp = 0;
    int m_stride = 0;
    cxops::PixelBytes m_pixels;
    std::vector<RGBQUAD> m_palette;
    std::vector<BYTE> m_alpha; // width x height, rows not padded
    // A band of rows: only this many rows are held, row y in slot y % m_bandRows,
    // while the picture passes from a decoder to an encoder (0: every row).
    int m_bandRows = 0;
    // Set while such a band is encoded: the encoder waits on it for each row.
    cxcodec::RowFeed *m_feed = nullptr;
    int m_transIndex = -1;
    RGBQUAD m_transColor{};
    bool m_transColorSet = false;

    std::uint32_t m_type = CXIMAGE_FORMAT_UNKNOWN;
    int m_srcWidth = 0;
    int m_srcHeight = 0;
    int m_frame = 0;
    int m_numFrames = 0;
    int m_frameDelay = 0;
    int m_disposal = 0;
    BYTE m_jpegQuality = 90;
    CEncoderSettings m_encoder;
    int m_orientation = 1;
    CxMetadata m_meta;
    std::string m_lastError;

    friend struct CxImageAccess;
};
