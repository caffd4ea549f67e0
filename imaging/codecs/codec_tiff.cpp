// TIFF reading and writing through libtiff, entirely in memory.
//
// Reading covers the first page. Palette and grey pages are read strip by
// strip (or tile by tile) into a paletted image; RGB(A) (8 and 16 bits, 12-
// and 32-bit integers, 16-, 24-, 32- and 64-bit floats), 16-bit CMYK and CIE
// L*a*b* the same way into colour; everything else (8-bit CMYK, subsampled
// YCbCr, separate planes) goes through libtiff's RGBA reader. Rows come out
// as stored: the orientation tag is only reported (CxImage turns the
// picture upright). libtiff messages go to per-file handlers, never to
// stderr.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/probes.h"
#include "imaging/mappedfile.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <tiffio.h>

#include "imaging/codecs/tiffpages.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Largest single allocation libtiff itself may make.
constexpr tmsize_t kMaxLibraryAlloc = tmsize_t(1) << 30;
// Pages of one file read or counted, at most: a chain of directories is
// walked one by one.
constexpr int kMaxTiffPages = 10000;
// A tile may overhang the picture, but not absurdly.
constexpr std::uint64_t kMaxTileBytes = std::uint64_t(256) << 20;
// The largest strip read for a page whose rows stream.
constexpr std::uint64_t kMaxStreamedStrip = std::uint64_t(64) << 20;
// The size from which an output is written as BigTIFF: what a classic
// TIFF's 32-bit offsets reach, unless a test asks for less.
std::atomic<std::uint64_t> g_bigTiffFrom{std::uint64_t(1) << 32};
// Uncompressed bytes per written strip.
constexpr std::uint64_t kStripTargetBytes = 256 * 1024;

struct TiffMessages {
    char error[256] = {};
};

int OnTiffError(TIFF *, void *user, const char *, const char *fmt, va_list ap)
{
    auto *m = static_cast<TiffMessages *>(user);
    if (m && !m->error[0])
        std::vsnprintf(m->error, sizeof m->error, fmt, ap);
    return 1;  // handled: nothing reaches the process-wide handlers
}

int OnTiffWarning(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

// Belt and braces: should any libtiff path still use the process-wide
// handlers, they print nothing either. Done once, before our first file.
void SilenceGlobalHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

// --- Memory streams -------------------------------------------------------

struct MemSource {
    const std::uint8_t *data;
    std::uint64_t size;
    std::uint64_t pos;
};

// New position for a seek, or false when it would be negative or absurd.
// libtiff passes offsets unsigned; a backwards relative seek arrives wrapped.
bool SeekTarget(std::uint64_t pos, std::uint64_t size, toff_t off, int whence, std::uint64_t &target)
{
    switch (whence) {
    case SEEK_SET: target = off; break;
    case SEEK_CUR: target = pos + off; break;
    case SEEK_END: target = size + off; break;
    default: return false;
    }
    return target <= (std::uint64_t(1) << 62);
}

tmsize_t SourceRead(thandle_t h, void *buf, tmsize_t n)
{
    auto *s = static_cast<MemSource *>(h);
    if (n <= 0 || s->pos >= s->size)
        return 0;
    const std::uint64_t k = std::min<std::uint64_t>(std::uint64_t(n), s->size - s->pos);
    std::memcpy(buf, s->data + s->pos, std::size_t(k));
    s->pos += k;
    return tmsize_t(k);
}

tmsize_t SourceWrite(thandle_t, void *, tmsize_t)
{
    return -1;
}

toff_t SourceSeek(thandle_t h, toff_t off, int whence)
{
    auto *s = static_cast<MemSource *>(h);
    std::uint64_t target;
    if (!SeekTarget(s->pos, s->size, off, whence, target))
        return toff_t(-1);
    s->pos = target;
    return target;
}

toff_t SourceSize(thandle_t h)
{
    return static_cast<MemSource *>(h)->size;
}

// The bytes are already in memory: let libtiff read strips in place.
int SourceMap(thandle_t h, void **base, toff_t *size)
{
    auto *s = static_cast<MemSource *>(h);
    *base = const_cast<std::uint8_t *>(s->data);
    *size = s->size;
    return 1;
}

int NoMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void NoUnmap(thandle_t, void *, toff_t) {}

int CloseNothing(thandle_t)
{
    return 0;
}

// An output file as libtiff's stream, the TIFF beginning where the file
// stood when it was opened.
struct FileStream {
    CxFile *file;
    std::int64_t base;
    std::uint64_t written = 0;
};

tmsize_t StreamRead(thandle_t h, void *buf, tmsize_t n)
{
    auto *s = static_cast<FileStream *>(h);
    return n > 0 ? tmsize_t(s->file->Read(buf, 1, std::size_t(n))) : 0;
}

tmsize_t StreamWrite(thandle_t h, void *buf, tmsize_t n)
{
    auto *s = static_cast<FileStream *>(h);
    if (n < 0 || s->file->Write(buf, 1, std::size_t(n)) != std::size_t(n))
        return -1;
    s->written += std::uint64_t(n);
    return n;
}

toff_t StreamSeek(thandle_t h, toff_t off, int whence)
{
    auto *s = static_cast<FileStream *>(h);
    // A backwards relative seek arrives wrapped: as a signed offset, it is one.
    if (whence == SEEK_SET && off > toff_t(INT64_MAX / 2))
        return toff_t(-1);
    const bool moved = whence == SEEK_SET ? s->file->Seek(s->base + std::int64_t(off), SEEK_SET)
                                          : s->file->Seek(std::int64_t(off), whence);
    const std::int64_t at = moved ? s->file->Tell() : -1;
    return at >= s->base ? toff_t(at - s->base) : toff_t(-1);
}

toff_t StreamSize(thandle_t h)
{
    auto *s = static_cast<FileStream *>(h);
    const std::int64_t size = s->file->Size();
    return size >= s->base ? toff_t(size - s->base) : 0;
}

struct TiffCloser {
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TIFF *OpenTiff(const char *mode, thandle_t handle, TIFFReadWriteProc rd, TIFFReadWriteProc wr, TIFFSeekProc sk,
               TIFFSizeProc sz, TIFFMapFileProc mp, TiffMessages *messages)
{
    SilenceGlobalHandlers();
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, OnTiffError, messages);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, OnTiffWarning, messages);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxLibraryAlloc);
    TIFF *tif = TIFFClientOpenExt("memory", mode, handle, rd, wr, sk, CloseNothing, sz, mp, NoUnmap, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

// --- Reading --------------------------------------------------------------

// libtiff skips tags whose values lie past the end of the file with only a
// warning, and never looks at later directories, so a cut-off file can still
// open. Walk the directory chain of a classic TIFF and insist that every
// directory and every value it points to is present.
bool DirectoriesComplete(const std::uint8_t *d, std::uint64_t n)
{
    if (n < 8)
        return false;
    const bool le = d[0] == 'I';
    auto u16 = [&](std::uint64_t at) -> std::uint32_t {
        return le ? std::uint32_t(d[at] | d[at + 1] << 8) : std::uint32_t(d[at] << 8 | d[at + 1]);
    };
    auto u32 = [&](std::uint64_t at) -> std::uint64_t { return le ? u16(at) | std::uint64_t(u16(at + 2)) << 16
                                                                   : std::uint64_t(u16(at)) << 16 | u16(at + 2); };
    if (u16(2) != 42)
        return true;  // not classic TIFF: leave it to libtiff
    static constexpr std::uint8_t kTypeSize[19] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    std::vector<std::uint64_t> seen;
    std::uint64_t entriesChecked = 0;
    for (std::uint64_t off = u32(4); off != 0;) {
        // Past these the file is only checked as far as libtiff reads it.
        if (seen.size() >= 4096 || entriesChecked > (1u << 20))
            return true;
        if (std::find(seen.begin(), seen.end(), off) != seen.end())
            return true;  // a loop; libtiff stops there too
        seen.push_back(off);
        if (off + 2 > n)
            return false;
        const std::uint64_t count = u16(off);
        if (off + 2 + count * 12 + 4 > n)
            return false;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t e = off + 2 + i * 12;
            const std::uint32_t type = u16(e + 2);
            const std::uint64_t bytes = (type < 19 ? kTypeSize[type] : 0) * u32(e + 4);
            if (bytes > 4 && u32(e + 8) + bytes > n)
                return false;
        }
        entriesChecked += count;
        off = u32(off + 2 + count * 12);
    }
    return true;
}

bool Fail(CxImage &out, const char *text)
{
    out.Destroy();
    CxImageAccess::SetError(out, text);
    return false;
}

inline unsigned Load16(const std::uint8_t *p)
{
    std::uint16_t v;
    std::memcpy(&v, p, 2);  // libtiff hands 16-bit samples over in host order
    return v;
}

inline BYTE To8(unsigned v16)
{
    return BYTE((v16 + 128) / 257);
}

// One sample of an 8- or 16-bit row as 8 bits. Signed samples are shifted
// so that their range maps onto 0..255, as other readers show them.
inline int Sample8(const std::uint8_t *row, std::size_t i, bool wide, bool isSigned)
{
    if (wide) {
        const unsigned v = Load16(row + 2 * i);
        return isSigned ? int((v ^ 0x8000) >> 8) : To8(v);
    }
    return isSigned ? row[i] ^ 0x80 : row[i];
}

// Samples of other depths as 8 bits, as ImageMagick shows them: 12- and
// 32-bit integers scaled from their whole range (signed ones shifted like
// the 8- and 16-bit ones), floats of 16 (IEEE half), 24 (Adobe's: 7-bit
// exponent, 16-bit fraction), 32 and 64 bits taken as 0 to 1 and clamped.
// (ImageMagick refuses 64-bit integers, and so do we.)
struct DeepSamples {
    int bits = 0;
    std::uint16_t format = SAMPLEFORMAT_UINT;

    static bool Handles(int bits, std::uint16_t format)
    {
        if (format == SAMPLEFORMAT_IEEEFP)
            return bits == 16 || bits == 24 || bits == 32 || bits == 64;
        return (format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_VOID || format == SAMPLEFORMAT_INT) &&
               (bits == 12 || bits == 32);
    }
    int operator()(const std::uint8_t *row, std::size_t i) const
    {
        const bool isSigned = format == SAMPLEFORMAT_INT;
        switch (bits) {
        case 12: {
            // Packed big-endian, two samples in three bytes.
            const std::uint8_t *p = row + i * 3 / 2;
            const unsigned v = i & 1 ? (p[0] & 0x0Fu) << 8 | p[1] : unsigned(p[0]) << 4 | p[1] >> 4;
            return int(((isSigned ? v ^ 0x800u : v) * 255 + 2047) / 4095);
        }
        case 16:
            return FloatTo8(SmallFloat(Load16(row + 2 * i), 5, 10));
        case 24: {
            // Host order, as libtiff hands it over.
            const std::uint8_t *p = row + 3 * i;
            const std::uint32_t v =
                std::endian::native == std::endian::little
                    ? std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
                    : std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]);
            return FloatTo8(SmallFloat(v, 7, 16));
        }
        case 32: {
            if (format == SAMPLEFORMAT_IEEEFP) {
                float f;
                std::memcpy(&f, row + 4 * i, 4);
                return FloatTo8(f);
            }
            std::uint32_t v;
            std::memcpy(&v, row + 4 * i, 4); // host order, as libtiff hands it over
            if (isSigned)
                v ^= 0x80000000u;
            return int((std::uint64_t(v) * 255 + 0x7FFFFFFFu) / 0xFFFFFFFFu);
        }
        default: {
            double f;
            std::memcpy(&f, row + 8 * i, 8);
            return FloatTo8(f);
        }
        }
    }
    // A sign bit, then the exponent and fraction bits, as IEEE lays them out.
    static double SmallFloat(std::uint32_t v, int exponentBits, int fractionBits)
    {
        const std::uint32_t fraction = v & ((1u << fractionBits) - 1);
        const int maxExponent = (1 << exponentBits) - 1, bias = maxExponent / 2;
        const int exponent = int(v >> fractionBits) & maxExponent;
        double f;
        if (exponent == maxExponent)
            f = fraction ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
        else if (exponent == 0)
            f = std::ldexp(fraction, 1 - bias - fractionBits);
        else
            f = std::ldexp(fraction | 1u << fractionBits, exponent - bias - fractionBits);
        return v >> (exponentBits + fractionBits) & 1 ? -f : f;
    }
    static int FloatTo8(double f)
    {
        return f > 0 ? int(std::lround(std::min(f, 1.0) * 255)) : 0; // NaN too gives 0
    }
};

inline BYTE Unpremultiply(int c, int a)
{
    return a == 0 ? 0 : BYTE(std::min(255, (c * 255 + a / 2) / a));
}

// One decoded sample as B, G, R (and alpha when the picture has a plane).
inline void StorePixel(BYTE *dst, BYTE *alpha, int r, int g, int b, int av, bool premultiplied)
{
    if (premultiplied) {
        r = Unpremultiply(r, av);
        g = Unpremultiply(g, av);
        b = Unpremultiply(b, av);
    }
    dst[0] = BYTE(b);
    dst[1] = BYTE(g);
    dst[2] = BYTE(r);
    if (alpha)
        *alpha = BYTE(av);
}

bool Allocate(std::vector<std::uint8_t> &buf, std::uint64_t bytes)
{
    try {
        buf.resize(std::size_t(bytes));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

// Where a page's rows go as its strips are read, when they may stream: a
// band of the request's sink, begun by the reader that knows the depth.
struct Streaming {
    const cxcodec::DecodeRequest *req = nullptr; // set when the rows may stream
    const std::uint8_t *end = nullptr;            // the end of the file's bytes
    int orientation = 1;
    CxMetadata meta;
    CxImage *band = nullptr;
};

// The bytes of one row of a tiled page's tiles (every tile across it),
// or 0 when its tile facts are unusable.
std::uint64_t TileRowBytes(TIFF *tif)
{
    std::uint32_t tw = 0, width = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    return tw == 0 ? 0 : TIFFTileSize64(tif) * ((std::uint64_t(width) + tw - 1) / tw);
}

// Calls fn(y, x0, columns, sourceRow) for every decoded row piece of the
// page, whether it is stored in strips or tiles; rows going to a band wait
// for room before fn writes them and are handed on after (a tiled page's
// are read a row of tiles at a time).
template <class RowFn>
bool ForEachRow(TIFF *tif, std::uint32_t width, std::uint32_t height, RowFn &&fn, const Streaming *s = nullptr)
{
    cxcodec::RowSink *const sink = s && s->band ? s->req->rows : nullptr;
    const auto handOn = [&](std::uint32_t row) {
        sink->Filled(int(row));
        // Nothing of the picture is held, so neither is the file read.
        if (s->req->mapped && row % 64 == 63)
            s->req->mapped->Release(s->end);
    };
    // Only the part the sink reads is decoded: rows above it (and a tiled
    // page's tiles beside it) are passed over, told as written.
    std::uint32_t partLeft = 0, partTop = 0, partRight = width;
    if (int l = 0, t = 0, w = 0, h = 0;
        sink && sink->Wants(l, t, w, h) && l >= 0 && t >= 0 && w > 0 && h > 0) {
        partLeft = std::min(std::uint32_t(l), width);
        partTop = std::min(std::uint32_t(t), height);
        partRight = std::min(width, std::uint32_t(l) + std::uint32_t(w));
    }
    const auto passOver = [&](std::uint32_t row) {
        if (!sink->Room(int(row)))
            return false;
        handOn(row);
        return true;
    };
    std::vector<std::uint8_t> buf;
    if (TIFFIsTiled(tif)) {
        std::uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        const std::uint64_t tileBytes = TIFFTileSize64(tif), rowBytes = TIFFTileRowSize64(tif);
        const std::uint64_t pictureBytes = TIFFScanlineSize64(tif) * height;
        if (tw == 0 || th == 0 || tileBytes == 0 || rowBytes == 0 || rowBytes * th > tileBytes ||
            tileBytes > kMaxTileBytes || tileBytes > std::max<std::uint64_t>(16u << 20, 2 * pictureBytes))
            return false;
        // Into a band, the whole row of tiles is read before its rows go on
        // (DecodeTiff streams only pages whose rows of tiles are small);
        // otherwise one tile at a time.
        const std::uint32_t across = sink ? (width + tw - 1) / tw : 1;
        if (!Allocate(buf, tileBytes * across))
            return false;
        for (std::uint32_t ty = 0; ty < height; ty += th) {
            const std::uint32_t rows = std::min(th, height - ty);
            if (sink && ty + rows <= partTop) {
                for (std::uint32_t r = 0; r < rows; ++r)
                    if (!passOver(ty + r))
                        return false;
                continue;
            }
            for (std::uint32_t tx = 0; tx < width; tx += tw) {
                if (sink && (tx + tw <= partLeft || tx >= partRight))
                    continue;
                std::uint8_t *tileBuf =
                    buf.data() + (sink ? std::size_t(tx / tw) * std::size_t(tileBytes) : 0);
                const std::uint32_t tile = TIFFComputeTile(tif, tx, ty, 0, 0);
                if (TIFFReadEncodedTile(tif, tile, tileBuf, tmsize_t(tileBytes)) < tmsize_t(tileBytes))
                    return false;
                if (sink)
                    continue;
                const std::uint32_t cols = std::min(tw, width - tx);
                for (std::uint32_t r = 0; r < rows; ++r)
                    fn(ty + r, tx, cols, tileBuf + std::size_t(r * rowBytes));
            }
            if (!sink)
                continue;
            for (std::uint32_t r = 0; r < rows; ++r) {
                if (!sink->Room(int(ty + r)))
                    return false;
                for (std::uint32_t tx = 0; tx < width; tx += tw)
                    if (tx + tw > partLeft && tx < partRight)
                        fn(ty + r, tx, std::min(tw, width - tx),
                           buf.data() + std::size_t(tx / tw) * std::size_t(tileBytes) +
                               std::size_t(r * rowBytes));
                handOn(ty + r);
            }
        }
        return true;
    }
    std::uint32_t rps = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    if (rps == 0 || rps > height)
        rps = height;
    const std::uint64_t rowBytes = TIFFScanlineSize64(tif);
    // rps never exceeds the height, so the strip is no bigger than the picture.
    if (rowBytes == 0 || !Allocate(buf, rowBytes * rps))
        return false;
    for (std::uint32_t y = 0; y < height; y += rps) {
        const std::uint32_t rows = std::min(rps, height - y);
        if (sink && y + rows <= partTop) {
            for (std::uint32_t r = 0; r < rows; ++r)
                if (!passOver(y + r))
                    return false;
            continue;
        }
        const tmsize_t need = tmsize_t(rows * rowBytes);
        if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, 0), buf.data(), need) < need)
            return false;
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t row = y + r;
            if (sink && !sink->Room(int(row)))
                return false;
            fn(row, 0, width, buf.data() + std::size_t(r * rowBytes));
            if (sink)
                handOn(row);
        }
    }
    return true;
}

// The picture a reader writes its rows into: a band of the sink where the
// rows stream, else out itself, which must fit the pixel limits. Null (out
// failed, saying why) when neither can be had.
CxImage *CreateTarget(CxImage &out, std::uint32_t width, std::uint32_t height, int bpp, Streaming &s)
{
    if (s.req && (bpp == 8 || bpp == 24))
        s.band = s.req->rows->Begin(int(width), int(height), bpp, CXIMAGE_FORMAT_TIF, s.meta);
    if (s.band) {
        CxImageAccess::SetMetadata(*s.band, s.meta);
        CxImageAccess::SetOrientation(*s.band, s.orientation);
        return s.band;
    }
    if (!cxcodec::FitsPixelLimits(width, height)) {
        Fail(out, "image too large");
        return nullptr;
    }
    if (!out.Create(int(width), int(height), bpp, CXIMAGE_FORMAT_TIF)) {
        Fail(out, "out of memory");
        return nullptr;
    }
    return &out;
}

void UnpackIndices(const std::uint8_t *src, BYTE *dst, std::uint32_t n, int bits)
{
    switch (bits) {
    case 8: std::memcpy(dst, src, n); break;
    case 4:
        for (std::uint32_t i = 0; i < n; ++i)
            dst[i] = BYTE((src[i >> 1] >> ((i & 1) ? 0 : 4)) & 0x0F);
        break;
    case 2:
        for (std::uint32_t i = 0; i < n; ++i)
            dst[i] = BYTE((src[i >> 2] >> (6 - 2 * (i & 3))) & 0x03);
        break;
    default:
        for (std::uint32_t i = 0; i < n; ++i)
            dst[i] = BYTE((src[i >> 3] >> (7 - (i & 7))) & 0x01);
        break;
    }
}

struct PageInfo {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t extraCount = 0;
    std::uint16_t firstExtra = EXTRASAMPLE_UNSPECIFIED;
    bool IsSigned() const { return sampleFormat == SAMPLEFORMAT_INT; }
};

// Palette or grey page into a paletted image.
bool ReadIndexed(TIFF *tif, const PageInfo &p, CxImage &out, Streaming &stream)
{
    const int bits = std::min<int>(p.bps, 8);
    const int n = 1 << bits;
    RGBQUAD pal[256];
    if (p.photometric == PHOTOMETRIC_PALETTE) {
        std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
            return Fail(out, "TIFF palette missing");
        // Some writers store 8-bit values in the 16-bit colour map.
        bool eightBit = true;
        for (int i = 0; i < n && eightBit; ++i)
            eightBit = r[i] < 256 && g[i] < 256 && b[i] < 256;
        for (int i = 0; i < n; ++i) {
            pal[i] = eightBit ? RGBQUAD{BYTE(b[i]), BYTE(g[i]), BYTE(r[i]), 0}
                              : RGBQUAD{To8(b[i]), To8(g[i]), To8(r[i]), 0};
        }
    } else {
        const bool white = p.photometric == PHOTOMETRIC_MINISWHITE;
        for (int i = 0; i < n; ++i) {
            const BYTE v = BYTE((white ? n - 1 - i : i) * 255 / (n - 1));
            pal[i] = RGBQUAD{v, v, v, 0};
        }
    }
    const int bpp = n <= 2 ? 1 : n <= 16 ? 4 : 8;
    CxImage *const img = CreateTarget(out, p.width, p.height, bpp, stream);
    if (!img)
        return false;
    if (!img->SetPalette(pal, n))
        return Fail(out, "out of memory");
    const bool wide = p.bps == 16, isSigned = p.IsSigned();
    const DeepSamples deep{DeepSamples::Handles(p.bps, p.sampleFormat) ? p.bps : 0, p.sampleFormat};
    const bool ok = ForEachRow(tif, p.width, p.height,
                               [&](std::uint32_t y, std::uint32_t x0, std::uint32_t cols, const std::uint8_t *src) {
                                   BYTE *dst = img->GetBits(int(y)) + x0;
                                   if (deep.bits) {
                                       for (std::uint32_t i = 0; i < cols; ++i)
                                           dst[i] = BYTE(deep(src, i));
                                   } else if (wide || isSigned) {
                                       for (std::uint32_t i = 0; i < cols; ++i)
                                           dst[i] = BYTE(Sample8(src, i, wide, isSigned));
                                   } else {
                                       UnpackIndices(src, dst, cols, bits);
                                   }
                               },
                               &stream);
    return ok || Fail(out, "damaged TIFF image data");
}

// Contiguous grey+alpha or RGB(A) into colour and alpha: 8 or 16 bits, or
// the depths DeepSamples reads.
bool ReadDirectColour(TIFF *tif, const PageInfo &p, bool grey, bool alpha, bool associated, CxImage &out,
                      Streaming &stream)
{
    CxImage *const img = CreateTarget(out, p.width, p.height, 24, stream);
    if (!img)
        return false;
    if (alpha && !img->AlphaCreate())
        return Fail(out, "out of memory");
    const int spp = p.spp;
    const bool wide = p.bps == 16, isSigned = p.IsSigned();
    const DeepSamples deep{DeepSamples::Handles(p.bps, p.sampleFormat) ? p.bps : 0, p.sampleFormat};
    const bool ok = ForEachRow(
        tif, p.width, p.height, [&](std::uint32_t y, std::uint32_t x0, std::uint32_t cols, const std::uint8_t *src) {
            BYTE *dst = img->GetBits(int(y)) + std::size_t(x0) * 3;
            BYTE *a = alpha ? img->AlphaGetPointer(int(y)) + x0 : nullptr;
            for (std::uint32_t i = 0; i < cols; ++i, dst += 3) {
                int s[4];
                for (int k = 0; k < spp && k < 4; ++k) {
                    const std::size_t at = std::size_t(i) * spp + std::size_t(k);
                    s[k] = deep.bits ? deep(src, at) : Sample8(src, at, wide, isSigned);
                }
                int r, g, b, av = 255;
                if (grey) {
                    r = g = b = s[0];
                    if (alpha)
                        av = s[1];
                } else {
                    r = s[0];
                    g = s[1];
                    b = s[2];
                    if (alpha)
                        av = s[3];
                }
                StorePixel(dst, a ? a + i : nullptr, r, g, b, av, associated);
            }
        },
        &stream);
    return ok || Fail(out, "damaged TIFF image data");
}

// Contiguous 16-bit CMYK, which libtiff's RGBA reader refuses, into colour:
// each channel (1 - ink)(1 - black), as ImageMagick and that reader (at 8
// bits) turn CMYK into RGB.
bool ReadCmyk16(TIFF *tif, const PageInfo &p, CxImage &out)
{
    Streaming whole;
    if (!CreateTarget(out, p.width, p.height, 24, whole))
        return false;
    const int spp = p.spp;
    const bool ok =
        ForEachRow(tif, p.width, p.height,
                   [&](std::uint32_t y, std::uint32_t x0, std::uint32_t cols, const std::uint8_t *src) {
                       BYTE *dst = out.GetBits(int(y)) + std::size_t(x0) * 3;
                       for (std::uint32_t i = 0; i < cols; ++i, dst += 3) {
                           const std::uint8_t *px = src + std::size_t(i) * spp * 2;
                           const std::uint64_t white = 65535 - Load16(px + 6);
                           for (int c = 0; c < 3; ++c) {
                               constexpr std::uint64_t kFull = 65535ull * 65535ull;
                               const std::uint64_t v = (65535 - Load16(px + 2 * c)) * white; // over kFull
                               dst[2 - c] = BYTE((v * 255 + kFull / 2) / kFull);
                           }
                       }
                   });
    return ok || Fail(out, "damaged TIFF image data");
}

// Anything else libtiff's RGBA reader understands.
bool ReadThroughRgba(TIFF *tif, const PageInfo &p, CxImage &out)
{
    if (!cxcodec::FitsPixelLimits(p.width, p.height))
        return Fail(out, "image too large");
    char emsg[1024] = {};
    if (!TIFFRGBAImageOK(tif, emsg))
        return Fail(out, emsg[0] ? emsg : "unsupported TIFF layout");
    const std::uint64_t pixels = std::uint64_t(p.width) * p.height;
    std::vector<std::uint32_t> raster;
    try {
        raster.resize(std::size_t(pixels));
    } catch (const std::bad_alloc &) {
        return Fail(out, "out of memory");
    }
    TIFFRGBAImage img;
    if (!TIFFRGBAImageBegin(&img, tif, 1, emsg))
        return Fail(out, emsg[0] ? emsg : "unsupported TIFF layout");
    img.req_orientation = img.orientation; // rows as stored
    const int got = TIFFRGBAImageGet(&img, raster.data(), p.width, p.height);
    const int alphaKind = img.alpha;
    TIFFRGBAImageEnd(&img);
    if (!got)
        return Fail(out, "damaged TIFF image data");
    // The RGBA reader premultiplies colour; grey with alpha it leaves as stored.
    const bool grey = p.photometric == PHOTOMETRIC_MINISBLACK || p.photometric == PHOTOMETRIC_MINISWHITE;
    const bool alpha = alphaKind != 0;
    const bool premultiplied = alpha && (!grey || alphaKind == EXTRASAMPLE_ASSOCALPHA);
    if (!out.Create(int(p.width), int(p.height), 24, CXIMAGE_FORMAT_TIF) || (alpha && !out.AlphaCreate()))
        return Fail(out, "out of memory");
    for (std::uint32_t y = 0; y < p.height; ++y) {
        const std::uint32_t *src = raster.data() + std::size_t(y) * p.width;
        BYTE *dst = out.GetBits(int(y));
        BYTE *a = out.AlphaGetPointer(int(y));
        for (std::uint32_t x = 0; x < p.width; ++x, dst += 3) {
            const std::uint32_t px = src[x];
            const int av = int(TIFFGetA(px));
            int r = int(TIFFGetR(px)), g = int(TIFFGetG(px)), b = int(TIFFGetB(px));
            StorePixel(dst, a ? a + x : nullptr, r, g, b, av, premultiplied);
        }
    }
    return true;
}

// CIE L*a*b* (D50, as TIFF defines it) to sRGB: XYZ, Bradford-adapted to
// D65, the sRGB primaries and transfer curve. libtiff's own conversion aims
// at a display of its own and tints white.
void LabToBgr(double L, double a, double b, BYTE *bgr)
{
    constexpr double e = 6.0 / 29.0;
    const auto finv = [](double t) { return t > e ? t * t * t : 3 * e * e * (t - 4.0 / 29.0); };
    const double fy = (L + 16) / 116;
    const double X = 0.96422 * finv(fy + a / 500), Y = finv(fy), Z = 0.82521 * finv(fy - b / 200);
    const double lin[3] = {3.1338561 * X - 1.6168667 * Y - 0.4906146 * Z,
                           -0.9787684 * X + 1.9161415 * Y + 0.0334540 * Z,
                           0.0719453 * X - 0.2289914 * Y + 1.4052427 * Z};
    for (int i = 0; i < 3; ++i) {
        const double c = std::clamp(lin[i], 0.0, 1.0);
        const double v = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
        bgr[2 - i] = BYTE(std::lround(v * 255));
    }
}

// Contiguous 8- or 16-bit L*a*b* (L* alone, or with a* b*, and an alpha
// sample) into colour.
bool ReadCieLab(TIFF *tif, const PageInfo &p, CxImage &out)
{
    const bool alpha = p.extraCount == 1;
    Streaming whole;
    if (!CreateTarget(out, p.width, p.height, 24, whole))
        return false;
    if (alpha && !out.AlphaCreate())
        return Fail(out, "out of memory");
    const int spp = p.spp;
    const bool wide = p.bps == 16, chroma = spp >= 3;
    // L* runs over the whole unsigned range; a* and b* are signed, 8-bit
    // ones in units, 16-bit ones in 1/256.
    const double lScale = 100.0 / (wide ? 65535 : 255), abScale = wide ? 1.0 / 256 : 1.0;
    const bool ok =
        ForEachRow(tif, p.width, p.height,
                   [&](std::uint32_t y, std::uint32_t x0, std::uint32_t cols, const std::uint8_t *src) {
                       BYTE *dst = out.GetBits(int(y)) + std::size_t(x0) * 3;
                       BYTE *a = alpha ? out.AlphaGetPointer(int(y)) + x0 : nullptr;
                       for (std::uint32_t i = 0; i < cols; ++i, dst += 3) {
                           const std::size_t at = std::size_t(i) * spp;
                           const auto raw = [&](std::size_t k) -> unsigned {
                               return wide ? Load16(src + 2 * k) : src[k];
                           };
                           const auto chromaAt = [&](std::size_t k) {
                               return wide ? double(std::int16_t(raw(k))) : double(std::int8_t(raw(k)));
                           };
                           const double L = raw(at) * lScale;
                           LabToBgr(L, chroma ? chromaAt(at + 1) * abScale : 0.0,
                                    chroma ? chromaAt(at + 2) * abScale : 0.0, dst);
                           if (a)
                               a[i] = BYTE(Sample8(src, at + std::size_t(spp - 1), wide, false));
                       }
                   });
    return ok || Fail(out, "damaged TIFF image data");
}

// Strips or tiles outside the file, or too few compressed bytes to hold the
// promised pixels (by the best ratio each method can reach), mean a damaged
// or hostile file: refuse it before allocating the picture.
bool DataPlausible(TIFF *tif, const PageInfo &p, std::uint64_t fileSize)
{
    const std::uint32_t n = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        int err = 0;
        const std::uint64_t off = TIFFGetStrileOffsetWithErr(tif, i, &err);
        const std::uint64_t len = TIFFGetStrileByteCountWithErr(tif, i, &err);
        if (err || off > fileSize || len > fileSize - off)
            return false;
        total += len;
    }
    // Most raw bytes one stored byte can stand for.
    std::uint64_t ratio = 0;
    switch (p.compression) {
    case COMPRESSION_NONE: ratio = 1; break;
    case COMPRESSION_PACKBITS: ratio = 64; break;
    case COMPRESSION_LZW: ratio = 3000; break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: ratio = 1100; break;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: ratio = 1024; break;
    default: break;
    }
    if (p.photometric == PHOTOMETRIC_YCBCR && ratio != 1024)
        return true;  // subsampled data is smaller than width x height samples
    const std::uint64_t raw = (std::uint64_t(p.width) * p.bps * p.spp + 7) / 8 * p.height;
    if (ratio != 0)
        return raw <= total * ratio + 4096;
    // Fax coding spends as little as a bit on a blank row, and other codecs
    // have no known ratio: allow 16384 pixels (or raw bytes) a stored byte,
    // more than a blank fax page needs (about 13000). Past it the file
    // promises far more than it holds; a small one never costs more than a
    // few tens of MB.
    const std::uint64_t pixels = std::uint64_t(p.width) * p.height;
    if (std::max(raw, pixels) <= total * 16384 + 65536)
        return true;
    // Fax coding spends at least a bit on every row: a blank page wider than
    // a fax (a scan at 400 dpi) may hold fewer bytes, up to a page-sized picture.
    const bool fax = p.compression == COMPRESSION_CCITTRLE || p.compression == COMPRESSION_CCITTFAX3 ||
                     p.compression == COMPRESSION_CCITTFAX4 || p.compression == COMPRESSION_CCITTRLEW;
    return fax && pixels <= (std::uint64_t(1) << 26) && p.height <= total * 8;
}

bool ReadFirstPage(TIFF *tif, std::uint64_t fileSize, CxImage &out, Streaming &stream)
{
    PageInfo p;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height))
        return Fail(out, "TIFF size missing");
    // A page whose rows may stream is checked against the pixel limit only
    // where its reader holds it whole.
    if (p.width == 0 || p.height == 0 || p.width > std::uint32_t(CxImage::kMaxDimension) ||
        p.height > std::uint32_t(CxImage::kMaxDimension) ||
        (!stream.req && std::uint64_t(p.width) * p.height > std::uint64_t(CxImage::kMaxPixels)))
        return Fail(out, "image too large");
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &p.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &p.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &p.compression);
    std::uint16_t *extras = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &p.extraCount, &extras);
    if (p.extraCount > 0 && extras)
        p.firstExtra = extras[0];
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric)) {
        std::uint16_t *r, *g, *b;
        p.photometric = p.spp >= 3                                               ? PHOTOMETRIC_RGB
                        : TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 0 ? PHOTOMETRIC_PALETTE
                                                                                 : PHOTOMETRIC_MINISBLACK;
    }
    if (p.compression == COMPRESSION_JPEG && p.photometric == PHOTOMETRIC_YCBCR && p.planar == PLANARCONFIG_CONTIG) {
        // Let the JPEG codec do the colour conversion and upsampling.
        if (TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
            p.photometric = PHOTOMETRIC_RGB;
    }

    if (!DataPlausible(tif, p, fileSize))
        return Fail(out, "TIFF image data missing or damaged");

    // Signed samples are read here only at 8 and 16 bits, and never as
    // palette indices.
    const bool signedInt =
        p.IsSigned() && (p.bps == 8 || p.bps == 16) && p.photometric != PHOTOMETRIC_PALETTE;
    const bool contiguous = p.planar == PLANARCONFIG_CONTIG || p.spp == 1;
    const bool plain =
        (p.sampleFormat == SAMPLEFORMAT_UINT || p.sampleFormat == SAMPLEFORMAT_VOID || signedInt) &&
        contiguous;
    if (p.photometric == PHOTOMETRIC_CIELAB && contiguous && (p.bps == 8 || p.bps == 16) &&
        p.sampleFormat != SAMPLEFORMAT_IEEEFP && p.extraCount <= 1 &&
        (p.spp - p.extraCount == 1 || p.spp - p.extraCount == 3))
        return ReadCieLab(tif, p, out);
    const bool grey = p.photometric == PHOTOMETRIC_MINISBLACK || p.photometric == PHOTOMETRIC_MINISWHITE;
    if (plain && p.spp == 1 && p.photometric == PHOTOMETRIC_PALETTE &&
        (p.bps == 1 || p.bps == 2 || p.bps == 4 || p.bps == 8))
        return ReadIndexed(tif, p, out, stream);
    if (plain && p.spp == 1 && grey && (p.bps == 1 || p.bps == 2 || p.bps == 4 || p.bps == 8 || p.bps == 16))
        return ReadIndexed(tif, p, out, stream);
    const bool deep =
        contiguous && DeepSamples::Handles(p.bps, p.sampleFormat) && p.photometric != PHOTOMETRIC_PALETTE;
    if (deep && p.spp == 1 && grey)
        return ReadIndexed(tif, p, out, stream);
    if (contiguous && p.photometric == PHOTOMETRIC_SEPARATED && p.bps == 16 && p.spp == 4 &&
        p.sampleFormat != SAMPLEFORMAT_IEEEFP) {
        std::uint16_t inkSet = INKSET_CMYK;
        TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
        if (inkSet == INKSET_CMYK)
            return ReadCmyk16(tif, p, out);
    }
    if ((plain && (p.bps == 8 || p.bps == 16)) || deep) {
        // Grey with an alpha sample is read straight (stored values kept
        // unless marked premultiplied). A fourth RGB sample counts as
        // premultiplied alpha unless marked otherwise, as libtiff reads it.
        if (grey && p.spp == 2 && p.photometric == PHOTOMETRIC_MINISBLACK && p.extraCount == 1)
            return ReadDirectColour(tif, p, true, true, p.firstExtra == EXTRASAMPLE_ASSOCALPHA, out, stream);
        if (p.photometric == PHOTOMETRIC_RGB && p.spp == 3 && p.extraCount == 0)
            return ReadDirectColour(tif, p, false, false, false, out, stream);
        if (p.photometric == PHOTOMETRIC_RGB && p.spp == 4 && p.extraCount <= 1)
            return ReadDirectColour(tif, p, false, true, p.firstExtra != EXTRASAMPLE_UNASSALPHA, out, stream);
    }
    return ReadThroughRgba(tif, p, out);
}

// --- Writing --------------------------------------------------------------

enum class Kind { Palette, MinIsBlack, MinIsWhite, Rgb, Rgba };

// Whether the palette is exactly the grey ramp of 2, 4, 16 or 256 levels,
// rising (0) or falling (1); -1 otherwise.
int GreyRampDirection(const CxImage &img, int &bits)
{
    const int n = img.GetNumColors();
    bits = n == 2 ? 1 : n == 4 ? 2 : n == 16 ? 4 : n == 256 ? 8 : 0;
    if (!bits)
        return -1;
    const RGBQUAD *pal = img.GetPalette();
    bool rising = true, falling = true;
    for (int i = 0; i < n; ++i) {
        const BYTE up = BYTE(i * 255 / (n - 1)), down = BYTE((n - 1 - i) * 255 / (n - 1));
        const RGBQUAD &c = pal[i];
        const bool grey = c.rgbRed == c.rgbGreen && c.rgbRed == c.rgbBlue;
        rising = rising && grey && c.rgbRed == up;
        falling = falling && grey && c.rgbRed == down;
    }
    return rising ? 0 : falling ? 1 : -1;
}

void PackIndices(const BYTE *src, std::uint8_t *dst, int n, int bits)
{
    if (bits == 8) {
        std::memcpy(dst, src, std::size_t(n));
        return;
    }
    const int perByte = 8 / bits;
    const int mask = (1 << bits) - 1;
    std::memset(dst, 0, std::size_t((n + perByte - 1) / perByte));
    for (int i = 0; i < n; ++i)
        dst[i / perByte] |= std::uint8_t((src[i] & mask) << (8 - bits * (i % perByte + 1)));
}

// How the page is written, and its bits per sample.
// JPEG compression takes 8-bit grey or colour only: paletted pages are
// widened and alpha is composited onto white.
Kind ChooseKind(const CxImage &img, int &bits, bool jpeg)
{
    bits = 8;
    if (jpeg) {
        int rampBits = 0;
        return img.GetBpp() != 24 && img.GetTransIndex() < 0 && GreyRampDirection(img, rampBits) == 0 &&
                       rampBits == 8
                   ? Kind::MinIsBlack
                   : Kind::Rgb;
    }
    if (img.GetBpp() == 24)
        return img.AlphaIsValid() ? Kind::Rgba : Kind::Rgb;
    // Neither palette nor grey TIFF can mark a transparent entry.
    if (img.GetTransIndex() >= 0 && img.IsTransparent())
        return Kind::Rgba;
    const int ramp = GreyRampDirection(img, bits);
    if (ramp >= 0)
        return ramp == 0 ? Kind::MinIsBlack : Kind::MinIsWhite;
    bits = img.GetBpp();
    return Kind::Palette;
}

// The palette as TIFF's colour map of 2^bits entries (libtiff keeps a copy).
bool SetColourMap(TIFF *tif, const CxImage &img, int bits)
{
    const int n = 1 << bits;
    std::vector<std::uint16_t> map;
    try {
        map.assign(std::size_t(n) * 3, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    const RGBQUAD *pal = img.GetPalette();
    for (int i = 0; i < img.GetNumColors() && i < n; ++i) {
        map[std::size_t(i)] = std::uint16_t(pal[i].rgbRed * 257);
        map[std::size_t(n + i)] = std::uint16_t(pal[i].rgbGreen * 257);
        map[std::size_t(2 * n + i)] = std::uint16_t(pal[i].rgbBlue * 257);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    return true;
}

bool WriteRows(TIFF *tif, const CxImage &img, Kind kind, int bits, std::uint64_t rowBytes)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    std::vector<std::uint8_t> row;
    if (!Allocate(row, std::max<std::uint64_t>(rowBytes, std::uint64_t(w) * 4)))
        return false;
    // A band picture's rows are taken one at a time as they arrive.
    cxcodec::RowFeed *const feed = CxImageAccess::Feed(img);
    for (int y = 0; y < h; ++y) {
        if (feed && !feed->Arrived(y))
            return false;
        switch (kind) {
        case Kind::Rgba:
            cxcodec::RowToRGBA(img, y, row.data());
            break;
        case Kind::Rgb: {
            if (img.GetBpp() != 24 || img.AlphaIsValid()) {
                cxcodec::RowToBGR(img, y, row.data(), true);
                for (int x = 0; x < w; ++x)
                    std::swap(row[std::size_t(x) * 3], row[std::size_t(x) * 3 + 2]);
                break;
            }
            const BYTE *src = img.GetBits(y);
            for (int x = 0; x < w; ++x) {
                row[std::size_t(x) * 3] = src[x * 3 + 2];
                row[std::size_t(x) * 3 + 1] = src[x * 3 + 1];
                row[std::size_t(x) * 3 + 2] = src[x * 3];
            }
            break;
        }
        default:
            PackIndices(img.GetBits(y), row.data(), w, bits);
            break;
        }
        if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) < 0)
            return false;
    }
    return true;
}

// The compression tags the settings ask for, after the photometric tag.
void SetCompression(TIFF *tif, const CxImage &img, Kind kind, int bits)
{
    const CEncoderSettings &settings = img.GetEncoderSettings();
    switch (settings.m_nTifCompression) {
    case TIFCOMPRESS_JPEG:
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, std::max(1, int(img.GetJpegQuality())));
        if (kind == Kind::Rgb) {
            // libjpeg turns the RGB rows into YCbCr, as readers expect.
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        }
        return;
    case TIFCOMPRESS_NONE:
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        return;
    default: {
        const bool lzw = settings.m_nTifCompression == TIFCOMPRESS_LZW;
        TIFFSetField(tif, TIFFTAG_COMPRESSION, lzw ? COMPRESSION_LZW : COMPRESSION_ADOBE_DEFLATE);
        // Differencing helps smooth 8-bit samples; on indices it only hurts.
        const bool predict = bits == 8 && kind != Kind::Palette;
        TIFFSetField(tif, TIFFTAG_PREDICTOR, predict ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE);
    }
    }
}

bool WritePage(TIFF *tif, const CxImage &img)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    int bits = 8;
    const CEncoderSettings &settings = img.GetEncoderSettings();
    const bool jpeg = settings.m_nTifCompression == TIFCOMPRESS_JPEG;
    const Kind kind = ChooseKind(img, bits, jpeg);
    const int spp = kind == Kind::Rgba ? 4 : kind == Kind::Rgb ? 3 : 1;
    const std::uint16_t photometric = kind == Kind::Palette      ? PHOTOMETRIC_PALETTE
                                      : kind == Kind::MinIsBlack ? PHOTOMETRIC_MINISBLACK
                                      : kind == Kind::MinIsWhite ? PHOTOMETRIC_MINISWHITE
                                                                 : PHOTOMETRIC_RGB;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(spp));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    SetCompression(tif, img, kind, bits);
    const double dpi = settings.m_nDpi > 0 ? double(settings.m_nDpi) : 72.0;
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (kind == Kind::Rgba) {
        const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (kind == Kind::Palette && !SetColourMap(tif, img, bits))
        return false;
    const std::uint64_t rowBytes = (std::uint64_t(w) * bits * spp + 7) / 8;
    std::uint64_t rps = std::clamp<std::uint64_t>(kStripTargetBytes / rowBytes, 1, std::uint64_t(h));
    if (jpeg) // whole blocks of subsampled rows in every strip but the last
        rps = std::min<std::uint64_t>(std::max<std::uint64_t>(rps / 16 * 16, 16), std::uint64_t(h));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(rps));
    return WriteRows(tif, img, kind, bits, rowBytes) && TIFFWriteDirectory(tif) != 0;
}

// The page's colour profile, XMP packet and IPTC datasets as the picture's
// blocks (its EXIF fields are the TIFF's own tags, not a block to carry).
// A block that cannot be held is dropped: metadata never stops a picture.
CxMetadata ReadMetadata(TIFF *tif)
{
    CxMetadata meta;
    try {
        std::uint32_t n = 0;
        void *p = nullptr;
        if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &n, &p) && p)
            meta.icc.assign(static_cast<const char *>(p), n);
        if (TIFFGetField(tif, TIFFTAG_XMLPACKET, &n, &p) && p)
            meta.xmp.assign(static_cast<const char *>(p), n);
        // Stored as LONG or UNDEFINED by different writers; the bytes are the same.
        if (TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &n, &p) && p) {
            const std::size_t bytes =
                TIFFFieldDataType(TIFFFieldWithTag(tif, TIFFTAG_RICHTIFFIPTC)) == TIFF_LONG
                    ? std::size_t(n) * 4
                    : std::size_t(n);
            meta.iptc.assign(static_cast<const char *>(p), bytes);
        }
    } catch (const std::bad_alloc &) {
        return {};
    }
    return meta;
}

}  // namespace

namespace cxcodec {

bool DecodeTiff(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size < 8 || !DirectoriesComplete(data, size))
        return Fail(out, "truncated TIFF file");
    MemSource src{data, size, 0};
    TiffMessages messages;
    TiffPtr tif(OpenTiff("r", &src, SourceRead, SourceWrite, SourceSeek, SourceSize, SourceMap, &messages));
    if (!tif)
        return Fail(out, messages.error[0] ? messages.error : "cannot read TIFF");
    // One page is read (the first unless asked), so the file counts as one
    // frame. libtiff walks the chain to the page and stops at a loop.
    if (req.page > 1 && (req.page > kMaxTiffPages || !TIFFSetDirectory(tif.get(), tdir_t(req.page - 1))))
        return Fail(out, "the document has no such page");
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    // Rows in strips of a picture that needs no turning may go to the sink
    // as they are read; out then stays empty.
    Streaming stream;
    stream.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    // (A strip, or a row of tiles, is read whole: one too large to hold
    // keeps the page whole, within the pixel limit.)
    const std::uint64_t readAtOnce =
        TIFFIsTiled(tif.get()) ? TileRowBytes(tif.get()) : TIFFStripSize64(tif.get());
    if (req.rows && readAtOnce > 0 && readAtOnce <= kMaxStreamedStrip &&
        (stream.orientation == 1 || !req.autoOrient)) {
        stream.req = &req;
        stream.end = data + size;
        stream.meta = ReadMetadata(tif.get());
    }
    if (!ReadFirstPage(tif.get(), size, out, stream))
        return false;
    if (stream.band)
        return true;
    CxImageAccess::SetOrientation(out, orientation);
    CxMetadata meta = ReadMetadata(tif.get());
    if (!meta.Empty())
        CxImageAccess::SetMetadata(out, std::move(meta));
    return true;
}

int CountTiffPages(const std::uint8_t *data, std::size_t size, int limit)
{
    if (!data || size < 8 || !DirectoriesComplete(data, size))
        return 0;
    MemSource src{data, size, 0};
    TiffMessages messages;
    TiffPtr tif(OpenTiff("r", &src, SourceRead, SourceWrite, SourceSeek, SourceSize, SourceMap, &messages));
    if (!tif)
        return 0;
    int pages = 1;
    while (pages < std::min(limit, kMaxTiffPages) && TIFFReadDirectory(tif.get()))
        ++pages;
    return pages;
}

bool TiffWritesBand(const CxImage &img)
{
    // Whether a transparent entry is used decides how a paletted page is
    // written, which only the whole picture can tell.
    return img.GetBpp() == 24 || img.GetTransIndex() < 0;
}

bool EncodeTiff(const CxImage &img, CxFile &file)
{
    if (!img.IsValid() || (CxImageAccess::IsBand(img) && !TiffWritesBand(img)))
        return false;
    // Written straight into the file, which need not fit in memory; past
    // what a classic TIFF's offsets reach, as BigTIFF (never a picture
    // small enough to be held whole).
    const std::uint64_t rawBytes = std::uint64_t(img.GetWidth()) * std::uint64_t(img.GetHeight()) * 4;
    const bool big = rawBytes + rawBytes / 4 + (std::uint64_t(16) << 20) >= g_bigTiffFrom.load();
    FileStream stream{&file, file.Tell()};
    if (stream.base < 0)
        return false;
    TiffMessages messages;
    {
        TiffPtr tif(OpenTiff(big ? "w8" : "w", &stream, StreamRead, StreamWrite, StreamSeek, StreamSize, NoMap,
                             &messages));
        if (!tif || !WritePage(tif.get(), img))
            return false;
    }
    return !messages.error[0] && !file.Error() && stream.written > 0;
}

}  // namespace cxcodec

namespace cxprobe {

// The first directory only: the size, orientation tag and profile tag of
// the page DecodeTiff reads.
bool ProbeTiff(const std::uint8_t *data, std::size_t size, ImageHeader &h)
{
    if (!data || size < 8)
        return false;
    MemSource src{data, size, 0};
    TiffMessages messages;
    TiffPtr tif(OpenTiff("r", &src, SourceRead, SourceWrite, SourceSeek, SourceSize, SourceMap, &messages));
    if (!tif)
        return false;
    std::uint32_t width = 0, height = 0;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint32_t iccSize = 0;
    void *icc = nullptr;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        return false;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    h.width = int(std::min<std::uint32_t>(width, INT32_MAX));
    h.height = int(std::min<std::uint32_t>(height, INT32_MAX));
    h.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    h.hasProfile = TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &iccSize, &icc) && icc && iccSize > 0;
    h.frames = 1; // only the first page is read
    return cxcodec::FitsPixelLimits(h.width, h.height);
}

} // namespace cxprobe

namespace {

// An open file as libtiff's stream: positioned reads and writes on its
// descriptor, so no stdio buffer stands between the pages.
struct FileSink {
    int fd;
    std::uint64_t pos = 0, size = 0;
};

tmsize_t FileRead(thandle_t h, void *buf, tmsize_t n)
{
    auto *s = static_cast<FileSink *>(h);
    const ssize_t got = n > 0 ? ::pread(s->fd, buf, std::size_t(n), off_t(s->pos)) : 0;
    if (got > 0)
        s->pos += std::uint64_t(got);
    return got < 0 ? -1 : tmsize_t(got);
}

tmsize_t FileWrite(thandle_t h, void *buf, tmsize_t n)
{
    auto *s = static_cast<FileSink *>(h);
    const auto *p = static_cast<const char *>(buf);
    for (tmsize_t done = 0; done < n;) {
        const ssize_t put = ::pwrite(s->fd, p + done, std::size_t(n - done), off_t(s->pos));
        if (put <= 0)
            return -1;
        done += put;
        s->pos += std::uint64_t(put);
    }
    s->size = std::max(s->size, s->pos);
    return n;
}

toff_t FileSeek(thandle_t h, toff_t off, int whence)
{
    auto *s = static_cast<FileSink *>(h);
    std::uint64_t target;
    if (!SeekTarget(s->pos, s->size, off, whence, target))
        return toff_t(-1);
    s->pos = target;
    return target;
}

toff_t FileSize(thandle_t h)
{
    return static_cast<FileSink *>(h)->size;
}

} // namespace

namespace cxcodec {

struct TiffPages::State {
    FileSink sink;
    TiffMessages messages;
    TIFF *tif = nullptr;
    bool failed = false;
    int ownFd = -1;
};

TiffPages::TiffPages(std::FILE *file) : m_state(std::make_unique<State>())
{
    // libtiff reads back what it wrote to link each page's directory: a file
    // opened only for writing is opened again for both.
    const int fd = file ? ::fileno(file) : -1;
    if (fd >= 0 && (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR)
        m_state->ownFd = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR | O_CLOEXEC);
    m_state->sink.fd = m_state->ownFd >= 0 ? m_state->ownFd : fd;
    struct stat st;
    if (fd < 0 || std::fflush(file) != 0 || ::fstat(m_state->sink.fd, &st) != 0 || st.st_size != 0) {
        m_state->failed = true;
        m_error = "cannot write the TIFF file";
        return;
    }
    m_state->tif = OpenTiff("w", &m_state->sink, FileRead, FileWrite, FileSeek, FileSize, NoMap, &m_state->messages);
    if (!m_state->tif) {
        m_state->failed = true;
        m_error = m_state->messages.error[0] ? m_state->messages.error : "cannot write the TIFF file";
    }
}

TiffPages::~TiffPages()
{
    if (m_state->tif)
        TIFFClose(m_state->tif);
    if (m_state->ownFd >= 0)
        ::close(m_state->ownFd);
}

bool TiffPages::Add(const CxImage &img)
{
    if (m_state->failed)
        return false;
    if (!img.IsValid() || !WritePage(m_state->tif, img) || m_state->messages.error[0]) {
        m_state->failed = true;
        m_error = m_state->messages.error[0] ? m_state->messages.error : "cannot write the TIFF page";
        return false;
    }
    return true;
}

bool TiffPages::Close()
{
    if (m_state->tif) {
        // Each page's directory was written as it ended; closing only frees.
        TIFFClose(m_state->tif);
        m_state->tif = nullptr;
    }
    if (m_state->messages.error[0] && m_error.empty())
        m_error = m_state->messages.error;
    return !m_state->failed && !m_state->messages.error[0];
}

} // namespace cxcodec

void cxcodec::testhooks::SetBigTiffFrom(std::uint64_t bytes)
{
    g_bigTiffFrom.store(bytes ? bytes : std::uint64_t(1) << 32);
}
