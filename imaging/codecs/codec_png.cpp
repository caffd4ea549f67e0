// PNG reading and writing through libpng's classic API.
//
// libpng reports errors by longjmp. As with JPEG, everything with a
// destructor lives in a heap context made before setjmp, and the work runs in
// helpers that keep only plain values on their frames.
#include "imaging/codecs/codecs.h"
#include "imaging/cxmetadata.h"
#include "imaging/largeblocks.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t kMessageSize = 160;

// Inflated PNG data held at once by all decodes together; past it, zlib
// reads a picture's data row by row (so two threads making cards of large
// PNGs hold the data of one at most).
constexpr std::size_t kInflatedBudget = std::size_t(48) << 20;
std::atomic<std::size_t> g_inflatedInUse{0};

// A PNG's inflated data, kept for the next picture (see largeblocks.h).
struct InflatedData {
    std::uint8_t *bytes = nullptr;
    std::size_t size = 0;
    InflatedData() = default;
    InflatedData(const InflatedData &) = delete;
    InflatedData &operator=(const InflatedData &) = delete;
    // False when memory is short or the budget taken.
    bool Acquire(std::size_t n)
    {
        std::size_t inUse = g_inflatedInUse.load();
        do {
            if (n > kInflatedBudget - std::min(inUse, kInflatedBudget))
                return false;
        } while (!g_inflatedInUse.compare_exchange_weak(inUse, inUse + n));
        bytes = static_cast<std::uint8_t *>(largeblocks::Acquire(n, largeblocks::Use::Inflated));
        if (!bytes) {
            g_inflatedInUse -= n;
            return false;
        }
        size = n;
        return true;
    }
    void Release()
    {
        largeblocks::Release(bytes, size);
        g_inflatedInUse -= size;
        bytes = nullptr;
        size = 0;
    }
    ~InflatedData() { Release(); }
};

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    const std::atomic<bool> *cancel = nullptr;
    std::vector<png_byte> buffer;   // rows that need converting
    std::vector<png_bytep> rows;
    char message[kMessageSize] = {};
    bool acceptTruncated = false; // a cut-off file shows the rows that arrived
    bool truncated = false;       // the data ended early
    png_uint_32 rowsDone = 0;     // complete rows in the image, from the top
    png_uint_32 rowsAtCut = 0;    // rows complete before the data ran out
    cxcodec::RowSink *sink = nullptr; // rows go here as they come, when they can
    bool autoOrient = true;
    z_stream z{};       // image data inflated here rather than by libpng
    bool zOpen = false;
    InflatedData inflated; // or here, all at once

    ~PngReader()
    {
        if (zOpen)
            inflateEnd(&z);
    }
};

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    CxFile *file = nullptr;
    std::vector<png_byte> row;
    char message[kMessageSize] = {};
};

void OnPngError(png_structp png, png_const_charp text)
{
    char *message = static_cast<char *>(png_get_error_ptr(png));
    std::snprintf(message, kMessageSize, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n)
{
    auto *r = static_cast<PngReader *>(png_get_io_ptr(png));
    // libpng reads a few kilobytes at a time, so a raised flag is seen at once.
    if (r->cancel && r->cancel->load(std::memory_order_relaxed))
        png_error(png, "cancelled");
    if (n > r->size - r->pos) {
        if (!r->acceptTruncated || r->truncated) {
            r->truncated = true;
            png_error(png, "truncated PNG file");
        }
        // A viewer asked for what arrived: the rows complete so far are
        // whole. Zeros stand in for the rest until libpng gives up on them;
        // the rows they make are not kept.
        r->truncated = true;
        r->rowsAtCut = r->rowsDone;
        const std::size_t have = r->size - r->pos;
        std::memcpy(out, r->data + r->pos, have);
        std::memset(out + have, 0, n - have);
        r->pos = r->size;
        return;
    }
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

void WriteToFile(png_structp png, png_bytep data, png_size_t n)
{
    auto *w = static_cast<PngWriter *>(png_get_io_ptr(png));
    if (w->file->Write(data, 1, n) != n)
        png_error(png, "cannot write file");
}

void FlushNothing(png_structp) {}

// How decoded rows reach the image.
enum class Layout {
    Index,      // one index byte per pixel, straight into the image
    Bgr,        // B, G, R straight into the image
    Bgra,       // B, G, R, A split into colour and alpha
    GreyAlpha,  // G, A expanded into colour and alpha
};

int BppForColors(int n)
{
    return n <= 2 ? 1 : n <= 16 ? 4 : 8;
}

void StoreRow(Layout layout, const png_byte *src, BYTE *bgr, BYTE *alpha, int width)
{
    if (layout == Layout::Bgra) {
        for (int x = 0; x < width; ++x, src += 4, bgr += 3) {
            bgr[0] = src[0];
            bgr[1] = src[1];
            bgr[2] = src[2];
            alpha[x] = src[3];
        }
    } else {
        for (int x = 0; x < width; ++x, src += 2, bgr += 3) {
            bgr[0] = bgr[1] = bgr[2] = src[0];
            alpha[x] = src[1];
        }
    }
}

// Walks the chunk headers through IEND and adds up the IDAT lengths. False
// when a chunk claims more bytes than the file has left: libpng reads every
// chunk up to IEND, so such a file fails anyway, but only after allocating
// the claimed length for text, sPLT, pCAL and sCAL chunks (2 GB for a
// 60-byte file). Checked first, nothing large is ever asked for. With
// cutAllowed, a file that ends inside or after its image data passes, and
// only the image data that arrived is counted.
bool ChunksInFile(const std::uint8_t *d, std::size_t n, bool cutAllowed, std::uint64_t &idatBytes)
{
    idatBytes = 0;
    for (std::size_t p = 8;;) {
        if (n - p < 12)
            return cutAllowed && idatBytes > 0;
        const std::uint64_t len = std::uint64_t(d[p]) << 24 | std::uint64_t(d[p + 1]) << 16 | d[p + 2] << 8 | d[p + 3];
        const bool idat = std::memcmp(d + p + 4, "IDAT", 4) == 0;
        if (len > n - p - 12) {
            if (!cutAllowed || !idat)
                return false;
            idatBytes += n - p - 8;
            return true;
        }
        if (idat)
            idatBytes += len;
        if (std::memcmp(d + p + 4, "IEND", 4) == 0)
            return true;
        p += std::size_t(len) + 12;
    }
}

// Indices past a short palette are invalid; keep the image consistent.
void FixStrayIndices(CxImage &out, png_uint_32 first, png_uint_32 end)
{
    const int n = out.GetNumColors();
    for (png_uint_32 y = first; y < end; ++y) {
        BYTE *p = out.GetBits(int(y));
        for (int x = 0; x < out.GetWidth(); ++x)
            if (p[x] >= n)
                p[x] = 0;
    }
}

// The metadata chunks read before the image data, as the picture's blocks;
// returns the EXIF orientation. The getters used here never raise a libpng
// error, so no longjmp skips this frame; a block that cannot be held is
// dropped (metadata never stops a picture).
int KeepMetadata(png_structp png, png_infop info, CxImage &out)
{
    CxMetadata meta;
    try {
        png_uint_32 exifSize = 0;
        png_bytep exif = nullptr;
        if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif)
            meta.exif.assign(reinterpret_cast<const char *>(exif), exifSize);
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileSize = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) && profile)
            meta.icc.assign(reinterpret_cast<const char *>(profile), profileSize);
        png_textp text = nullptr;
        const int n = png_get_text(png, info, &text, nullptr);
        for (int i = 0; i < n; ++i) {
            const std::size_t length =
                text[i].compression >= PNG_ITXT_COMPRESSION_NONE ? text[i].itxt_length : text[i].text_length;
            if (std::strcmp(text[i].key, "XML:com.adobe.xmp") == 0 && meta.xmp.empty())
                meta.xmp.assign(text[i].text, length);
            // Older writers keep EXIF in text; an eXIf chunk comes first.
            else if ((std::strcmp(text[i].key, "Raw profile type exif") == 0 ||
                      std::strcmp(text[i].key, "Raw profile type APP1") == 0) &&
                     meta.exif.empty())
                meta.exif = cxmeta::ExifFromRawProfile(text[i].text, length);
        }
    } catch (const std::bad_alloc &) {
        return 1;
    }
    if (meta.Empty())
        return 1;
    const int orientation = cxmeta::ExifOrientation(meta.exif);
    CxImageAccess::SetMetadata(out, std::move(meta));
    return orientation;
}

// --- Rows read here rather than by libpng ---------------------------------
//
// For 8-bit RGB and RGBA pictures stored in one pass, which is what photos
// and drawn pictures are, the image data is inflated and unfiltered here:
// libpng's Paeth filter, which such files use on nearly every row, works a
// byte at a time, this one a pixel at a time. The checks are libpng's: every
// chunk's CRC through IEND, the filter codes, enough image data, no second
// IHDR after it.

std::atomic<bool> g_ownRows{true};
std::atomic<bool> g_wholeInflate{true};
std::atomic<int> g_wholeInflates{0};

std::uint32_t Be32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

#if defined(__SSE2__)
// One pixel's bytes in a register and back, without a trip through memory.
template <int Bpp>
inline __m128i LoadPixel(const std::uint8_t *p)
{
    std::uint32_t v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
    if constexpr (Bpp == 4)
        v |= std::uint32_t(p[3]) << 24;
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
}

template <int Bpp>
inline void StorePixel(std::uint8_t *p, __m128i lanes)
{
    const std::uint32_t v = std::uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    if constexpr (Bpp == 4)
        p[3] = std::uint8_t(v >> 24);
}

inline __m128i Abs16(__m128i x)
{
    return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
}

inline __m128i Choose(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

template <int Bpp>
void PaethRow(std::uint8_t *cur, const std::uint8_t *prev, std::size_t n)
{
    // a left, b above, c above left, each pixel's channels in 16-bit lanes.
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi16(0xff);
    for (std::size_t i = 0; i < n; i += Bpp) {
        const __m128i b = LoadPixel<Bpp>(prev + i);
        __m128i pa = _mm_sub_epi16(b, c); // p - a where p = a + b - c
        __m128i pb = _mm_sub_epi16(a, c); // p - b
        const __m128i pc = Abs16(_mm_add_epi16(pa, pb));
        pa = Abs16(pa);
        pb = Abs16(pb);
        const __m128i least = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        const __m128i nearest =
            Choose(_mm_cmpeq_epi16(pa, least), a, Choose(_mm_cmpeq_epi16(pb, least), b, c));
        a = _mm_and_si128(_mm_add_epi16(LoadPixel<Bpp>(cur + i), nearest), low);
        StorePixel<Bpp>(cur + i, a);
        c = b;
    }
}
// Sub and Average carry from the pixel to the left too: a pixel at a time.
template <int Bpp>
void SubRow(std::uint8_t *cur, std::size_t n)
{
    __m128i a = _mm_setzero_si128();
    for (std::size_t i = 0; i < n; i += Bpp) {
        a = _mm_add_epi8(LoadPixel<Bpp>(cur + i), a);
        StorePixel<Bpp>(cur + i, _mm_and_si128(a, _mm_set1_epi16(0xff)));
    }
}

template <int Bpp>
void AverageRow(std::uint8_t *cur, const std::uint8_t *prev, std::size_t n)
{
    __m128i a = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi16(0xff);
    for (std::size_t i = 0; i < n; i += Bpp) {
        const __m128i mean = _mm_srli_epi16(_mm_add_epi16(a, LoadPixel<Bpp>(prev + i)), 1);
        a = _mm_and_si128(_mm_add_epi16(LoadPixel<Bpp>(cur + i), mean), low);
        StorePixel<Bpp>(cur + i, a);
    }
}
#endif

void PaethRow(std::uint8_t *cur, const std::uint8_t *prev, std::size_t n, int bpp)
{
#if defined(__SSE2__)
    if (bpp == 3)
        return PaethRow<3>(cur, prev, n);
    if (bpp == 4)
        return PaethRow<4>(cur, prev, n);
#endif
    for (std::size_t i = 0; i < n; ++i) {
        const int a = i >= std::size_t(bpp) ? cur[i - std::size_t(bpp)] : 0, b = prev[i];
        const int c = i >= std::size_t(bpp) ? prev[i - std::size_t(bpp)] : 0;
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        cur[i] = std::uint8_t(cur[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
    }
}

// Undoes one row's filter; prev is the row above (zeros for the first).
bool Unfilter(int filter, std::uint8_t *__restrict cur, const std::uint8_t *__restrict prev, std::size_t n, int bpp)
{
    const std::size_t step = std::size_t(bpp);
    switch (filter) {
    case 0:
        return true;
    case 1:
#if defined(__SSE2__)
        if (bpp == 3)
            return SubRow<3>(cur, n), true;
        if (bpp == 4)
            return SubRow<4>(cur, n), true;
#endif
        for (std::size_t i = step; i < n; ++i)
            cur[i] = std::uint8_t(cur[i] + cur[i - step]);
        return true;
    case 2:
        for (std::size_t i = 0; i < n; ++i)
            cur[i] = std::uint8_t(cur[i] + prev[i]);
        return true;
    case 3:
#if defined(__SSE2__)
        if (bpp == 3)
            return AverageRow<3>(cur, prev, n), true;
        if (bpp == 4)
            return AverageRow<4>(cur, prev, n), true;
#endif
        for (std::size_t i = 0; i < step && i < n; ++i)
            cur[i] = std::uint8_t(cur[i] + (prev[i] >> 1));
        for (std::size_t i = step; i < n; ++i)
            cur[i] = std::uint8_t(cur[i] + ((cur[i - step] + prev[i]) >> 1));
        return true;
    case 4:
        PaethRow(cur, prev, n, bpp);
        return true;
    default:
        return false;
    }
}

// Whether the rows of this picture are read here: libpng has read up to the
// data of the first IDAT chunk and nothing else is asked of it.
bool OwnRows(const PngReader &r, int depth, int colorType, bool hasTrns, int passes)
{
    return g_ownRows.load(std::memory_order_relaxed) && passes == 1 && depth == 8 &&
           (colorType == PNG_COLOR_TYPE_RGB_ALPHA || (colorType == PNG_COLOR_TYPE_RGB && !hasTrns)) &&
           r.pos >= 16 && r.pos <= r.size && std::memcmp(r.data + r.pos - 4, "IDAT", 4) == 0;
}

// Gives zlib the next IDAT chunk's data from offset next on, its CRC checked.
// False when there is none: the next chunk is another, or the file ended
// (*ended; only a file allowed to be cut gets here).
bool FeedNextIdat(PngReader &r, std::size_t &next, bool *ended)
{
    *ended = false;
    if (r.size - next < 8) {
        *ended = true;
        return false;
    }
    const std::uint8_t *chunk = r.data + next;
    if (std::memcmp(chunk + 4, "IDAT", 4) != 0)
        return false;
    const std::size_t len = Be32(chunk);
    const std::size_t have = r.size - next - 8;
    if (len + 4 > have) {
        // Cut inside the chunk: what arrived is used, unchecked.
        if (!r.acceptTruncated)
            png_error(r.png, "truncated PNG file");
        r.z.next_in = const_cast<Bytef *>(chunk + 8);
        r.z.avail_in = uInt(std::min(len, have));
        next = r.size;
        return true;
    }
    if (crc32(0, chunk + 4, uInt(len + 4)) != Be32(chunk + 8 + len))
        png_error(r.png, "IDAT: CRC error");
    r.z.next_in = const_cast<Bytef *>(chunk + 8);
    r.z.avail_in = uInt(len);
    next += len + 12;
    return true;
}

// The chunks after the image data, through IEND: each one's CRC, and no
// second IHDR.
void CheckTail(PngReader &r, std::size_t next)
{
    while (next < r.size) {
        if (r.size - next < 12)
            break;
        const std::uint8_t *chunk = r.data + next;
        const std::size_t len = Be32(chunk);
        if (len > r.size - next - 12)
            break;
        if (crc32(0, chunk + 4, uInt(len + 4)) != Be32(chunk + 8 + len))
            png_error(r.png, "CRC error");
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return;
        // As libpng reads what follows the image: a second IHDR is fatal,
        // any other chunk is passed over.
        if (std::memcmp(chunk + 4, "IHDR", 4) == 0)
            png_error(r.png, "IHDR: out of place");
        next += len + 12;
    }
    // The file ends before IEND: only one allowed to be cut gets here.
    if (!r.acceptTruncated)
        png_error(r.png, "truncated PNG file");
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

// Inflates the image data from the IDAT chunk at offset next on in one go
// (libdeflate takes about a third of zlib's time, but only whole), into raw:
// every filtered row. Only a file whose data is sound, complete and exactly
// as long as the rows goes this way; for any other (a cut-off one shown as
// far as it goes among them) zlib reads it as it always has, failing or not
// with the same words. Moves next past the IDAT chunks when it succeeds.
bool InflateWhole(PngReader &r, bool band, std::size_t rawBytes, std::size_t &next)
{
    if (!g_wholeInflate.load(std::memory_order_relaxed))
        return false;
    if (rawBytes > kInflatedBudget || (band && rawBytes > r.sink->SpareBytes()))
        return false;
    std::size_t pos = next;
    const std::uint8_t *stream = nullptr;
    std::size_t streamBytes = 0;
    std::vector<std::uint8_t> joined; // when the data spans several chunks
    for (int chunks = 0; r.size - pos >= 12 && std::memcmp(r.data + pos + 4, "IDAT", 4) == 0; ++chunks) {
        const std::uint8_t *chunk = r.data + pos;
        const std::size_t len = Be32(chunk);
        if (len > r.size - pos - 12 || crc32(0, chunk + 4, uInt(len + 4)) != Be32(chunk + 8 + len))
            return false;
        if (chunks == 1)
            joined.assign(stream, stream + streamBytes);
        if (chunks >= 1)
            joined.insert(joined.end(), chunk + 8, chunk + 8 + len);
        else
            stream = chunk + 8;
        streamBytes += len;
        pos += len + 12;
    }
    if (!joined.empty())
        stream = joined.data();
    // The zlib header zlib would accept without a word: deflate, a window it
    // knows, no preset dictionary. Its checksum at the end is not read (the
    // chunk CRCs cover the same bytes).
    if (streamBytes < 2 || (stream[0] & 0x0F) != 8 || (stream[0] >> 4) > 7 ||
        (unsigned(stream[0]) << 8 | stream[1]) % 31 != 0 || (stream[1] & 0x20))
        return false;
    const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> d(libdeflate_alloc_decompressor());
    if (!d)
        return false;
    InflatedData &raw = r.inflated;
    if (!raw.Acquire(rawBytes))
        return false;
    std::size_t used = 0, made = 0;
    if (libdeflate_deflate_decompress_ex(d.get(), stream + 2, streamBytes - 2, raw.bytes, rawBytes, &used,
                                         &made) != LIBDEFLATE_SUCCESS ||
        made != rawBytes) {
        raw.Release();
        return false;
    }
    next = pos;
    ++g_wholeInflates;
    return true;
}

void ReadOwnRows(PngReader &r, CxImage &img, CxImage *band, Layout layout, png_uint_32 width, png_uint_32 height)
{
    png_structp png = r.png;
    const int bpp = layout == Layout::Bgra ? 4 : 3;
    const std::size_t n = std::size_t(width) * std::size_t(bpp);
    std::size_t next = r.pos - 8;
    bool whole = false;
    try {
        whole = InflateWhole(r, band != nullptr, std::size_t(height) * (n + 1), next);
    } catch (const std::bad_alloc &) {
        whole = false; // short of memory: row by row then
    }
    if (!whole) {
        if (inflateInit(&r.z) != Z_OK)
            png_error(png, "out of memory");
        r.zOpen = true;
        // The chunk CRCs already cover the compressed bytes.
        inflateValidate(&r.z, 0);
    }
    bool streamEnd = false, ended = false;
    for (png_uint_32 y = 0; y < height; ++y) {
        if (r.cancel && r.cancel->load(std::memory_order_relaxed))
            png_error(png, "cancelled");
        if (band && !r.sink->Room(int(y)))
            png_error(png, "stopped");
        // (The row above the first is the buffer's second, which stays zero.)
        std::uint8_t *const cur =
            whole ? r.inflated.bytes + std::size_t(y) * (n + 1) : r.buffer.data() + (y & 1) * (n + 1);
        const std::uint8_t *const prev = whole && y > 0 ? cur - (n + 1)
                                         : whole        ? r.buffer.data() + (n + 1)
                                                        : r.buffer.data() + ((y + 1) & 1) * (n + 1);
        r.z.next_out = cur;
        r.z.avail_out = whole ? 0 : uInt(n + 1);
        while (r.z.avail_out > 0) {
            if (streamEnd)
                png_error(png, "Not enough image data");
            if (r.z.avail_in == 0 && !FeedNextIdat(r, next, &ended)) {
                if (!ended || !r.acceptTruncated)
                    png_error(png, ended ? "truncated PNG file" : "Not enough image data");
                // What arrived of a cut-off file: the complete rows.
                r.truncated = true;
                r.rowsAtCut = y;
                return;
            }
            const int ret = inflate(&r.z, Z_SYNC_FLUSH);
            if (ret == Z_STREAM_END)
                streamEnd = true;
            else if (ret != Z_OK && ret != Z_BUF_ERROR)
                png_error(png, r.z.msg ? r.z.msg : "damaged image data");
        }
        if (!Unfilter(cur[0], cur + 1, prev + 1, n, bpp))
            png_error(png, "bad adaptive filter value");
        // R, G, B (, A) into the picture's B, G, R and its alpha plane.
        BYTE *bgr = img.GetBits(int(y));
        const std::uint8_t *src = cur + 1;
        if (layout == Layout::Bgra) {
            BYTE *const alpha = img.AlphaGetPointer(int(y));
            for (png_uint_32 x = 0; x < width; ++x, src += 4, bgr += 3) {
                bgr[0] = src[2];
                bgr[1] = src[1];
                bgr[2] = src[0];
                alpha[x] = src[3];
            }
        } else {
            for (png_uint_32 x = 0; x < width; ++x, src += 3, bgr += 3) {
                bgr[0] = src[2];
                bgr[1] = src[1];
                bgr[2] = src[0];
            }
        }
        if (band)
            r.sink->Filled(int(y));
        r.rowsDone = y + 1;
    }
    CheckTail(r, next);
}

// The decode proper; may leave through longjmp at any libpng call.
void ReadPng(PngReader &r, CxImage &out)
{
    png_structp png = r.png;
    png_infop info = r.info;
    png_set_user_limits(png, CxImage::kMaxDimension, CxImage::kMaxDimension);
    png_set_chunk_cache_max(png, 1000);
    png_set_chunk_malloc_max(png, 8u << 20);
    // A damaged checksum anywhere means a damaged file. The chunk CRCs
    // already cover every byte of the compressed image data, so zlib's own
    // Adler-32 over the inflated bytes (a twentieth of the decode) is skipped.
    png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_ERROR_QUIT);
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_set_read_fn(png, &r, ReadFromMemory);
    std::uint64_t idatBytes = 0;
    if (!ChunksInFile(r.data, r.size, r.acceptTruncated, idatBytes))
        png_error(png, "truncated PNG file");
    // Image data is read in small pieces for a viewer, so that little of
    // what arrived of a cut-off file waits in a piece never decoded.
    if (r.acceptTruncated)
        png_set_compression_buffer_size(png, 256);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    if (std::int64_t(width) * std::int64_t(height) > CxImage::kMaxPixels)
        png_error(png, "image too large");
    // Deflate packs at most about 1032 bytes into one, so a header that
    // promises far more pixels than the data could hold is refused before
    // the picture is allocated.
    const std::uint64_t rawBytes =
        std::uint64_t(height) * ((std::uint64_t(width) * png_get_channels(png, info) * unsigned(depth) + 7) / 8 + 1);
    if (rawBytes > idatBytes * 1032 + 1024)
        png_error(png, "image data too short");

    png_bytep transAlpha = nullptr;
    int numTrans = 0;
    png_color_16p transColor = nullptr;
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) &&
                         png_get_tRNS(png, info, &transAlpha, &numTrans, &transColor);

    Layout layout = Layout::Index;
    int bpp = 24, numColors = 0, transIndex = -1;
    RGBQUAD palette[256];
    if (depth == 16)
        png_set_scale_16(png);

    switch (colorType) {
    case PNG_COLOR_TYPE_PALETTE: {
        png_colorp plte = nullptr;
        int numPlte = 0;
        if (!png_get_PLTE(png, info, &plte, &numPlte) || numPlte < 1)
            png_error(png, "missing palette");
        numPlte = std::min(numPlte, 256);
        // One fully transparent entry and nothing partial fits a transparent
        // index; anything else needs an alpha plane.
        int clear = 0, partial = 0, clearIndex = -1;
        for (int i = 0; hasTrns && transAlpha && i < std::min(numTrans, numPlte); ++i) {
            if (transAlpha[i] == 0) {
                ++clear;
                clearIndex = i;
            } else if (transAlpha[i] != 255) {
                ++partial;
            }
        }
        if (partial == 0 && clear <= 1) {
            numColors = numPlte;
            bpp = BppForColors(numPlte);
            transIndex = clearIndex;
            for (int i = 0; i < numPlte; ++i)
                palette[i] = RGBQUAD{plte[i].blue, plte[i].green, plte[i].red, 0};
            png_set_packing(png);
        } else {
            layout = Layout::Bgra;
            png_set_palette_to_rgb(png);
            png_set_tRNS_to_alpha(png);
            png_set_bgr(png);
        }
        break;
    }
    case PNG_COLOR_TYPE_GRAY:
        if (hasTrns && depth == 16) {
            // The transparent grey is a 16-bit value; reduced to 8 bits it
            // would also catch its neighbours, so keep it as alpha.
            layout = Layout::GreyAlpha;
            png_set_tRNS_to_alpha(png);
        } else {
            const int bits = std::min(depth, 8);
            numColors = 1 << bits;
            bpp = BppForColors(numColors);
            for (int i = 0; i < numColors; ++i) {
                const BYTE v = BYTE(i * 255 / (numColors - 1));
                palette[i] = RGBQUAD{v, v, v, 0};
            }
            if (hasTrns && transColor && transColor->gray < numColors)
                transIndex = transColor->gray;
            png_set_packing(png);
        }
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        layout = Layout::GreyAlpha;
        break;
    case PNG_COLOR_TYPE_RGB:
        png_set_bgr(png);
        if (hasTrns) {
            layout = Layout::Bgra;
            png_set_tRNS_to_alpha(png);
        } else {
            layout = Layout::Bgr;
        }
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        png_set_bgr(png);
        layout = Layout::Bgra;
        break;
    default:
        png_error(png, "unsupported PNG colour type");
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const std::size_t channels = layout == Layout::Index ? 1 : layout == Layout::Bgr ? 3
                                                           : layout == Layout::Bgra  ? 4
                                                                                     : 2;
    if (png_get_rowbytes(png, info) != channels * width || png_get_bit_depth(png, info) != 8)
        png_error(png, "unexpected PNG row layout");

    // A picture read in one pass that needs no turning can go to the sink
    // row by row; out then stays empty.
    // (A cut-off file's rows are shown only when read by the program's own
    // code, which stops at the cut.)
    const int orientation = KeepMetadata(png, info, out);
    const bool own = OwnRows(r, depth, colorType, hasTrns, passes);
    const bool streamed = r.sink && passes == 1 && (!r.acceptTruncated || own) && (orientation == 1 || !r.autoOrient);
    CxImage *const band =
        streamed ? r.sink->Begin(int(width), int(height), bpp, CXIMAGE_FORMAT_PNG, out.GetMetadata()) : nullptr;
    CxImage &img = band ? *band : out;
    // Every row is written below (interlaced passes together cover each pixel).
    if (!band && !CxImageAccess::CreateForDecode(out, int(width), int(height), bpp, CXIMAGE_FORMAT_PNG))
        png_error(png, "out of memory");
    if (band)
        CxImageAccess::SetMetadata(img, out.GetMetadata());
    CxImageAccess::SetOrientation(img, orientation);
    if (layout == Layout::Index) {
        if (!img.SetPalette(palette, numColors))
            png_error(png, "bad palette");
        img.SetTransIndex(transIndex);
    } else if (layout != Layout::Bgr && !img.AlphaCreate()) {
        png_error(png, "out of memory");
    }

    // Interlaced converted rows need the whole picture at once; otherwise one
    // row of scratch is enough.
    const bool direct = layout == Layout::Index || layout == Layout::Bgr;
    const bool stray = layout == Layout::Index && numColors < (1 << std::min(depth, 8));
    const std::size_t scratchRows = direct ? 0 : passes > 1 ? height : 1;
    bool allocated = true;
    try {
        r.rows.resize(passes > 1 ? height : 0);
        // Own rows: the row being read and the one above, with filter bytes.
        r.buffer.assign(own ? 2 * (std::size_t(width) * channels + 1) : scratchRows * channels * width, 0);
    } catch (const std::bad_alloc &) {
        allocated = false;
    }
    if (!allocated)
        png_error(png, "out of memory");

    if (own) {
        ReadOwnRows(r, img, band, layout, width, height);
        if (band && r.truncated) {
            // The rows below the cut repeat the last that arrived.
            if (r.rowsAtCut == 0)
                png_error(png, "truncated PNG file");
            for (png_uint_32 y = r.rowsAtCut; y < height; ++y) {
                if (!r.sink->Room(int(y)))
                    png_error(png, "stopped");
                std::memmove(img.GetBits(int(y)), img.GetBits(int(y) - 1), std::size_t(img.GetEffWidth()));
                if (img.AlphaIsValid())
                    std::memmove(img.AlphaGetPointer(int(y)), img.AlphaGetPointer(int(y) - 1), std::size_t(width));
                r.sink->Filled(int(y));
            }
            r.truncated = false;
        }
    } else if (passes == 1) {
        // Row by row, so a cut-off file can still show the rows that arrived.
        for (png_uint_32 y = 0; y < height; ++y, r.rowsDone = y) {
            if (band && !r.sink->Room(int(y)))
                png_error(png, "stopped");
            BYTE *const bits = img.GetBits(int(y));
            png_read_row(png, direct ? bits : r.buffer.data(), nullptr);
            if (!direct)
                StoreRow(layout, r.buffer.data(), bits, img.AlphaGetPointer(int(y)), int(width));
            if (band) {
                if (stray)
                    FixStrayIndices(img, y, y + 1);
                r.sink->Filled(int(y));
            }
        }
    } else {
        for (png_uint_32 y = 0; y < height; ++y)
            r.rows[y] = direct ? out.GetBits(int(y)) : r.buffer.data() + std::size_t(y) * channels * width;
        png_read_image(png, r.rows.data());
        for (png_uint_32 y = 0; !direct && y < height; ++y)
            StoreRow(layout, r.rows[y], out.GetBits(int(y)), out.AlphaGetPointer(int(y)), int(width));
    }
    if (!own) {
        r.rowsDone = height;
        png_read_end(png, nullptr);
    }
    if (stray && !band)
        FixStrayIndices(out, 0, height);
    if (band)
        CxImageAccess::SetMetadata(out, CxMetadata{});
}

bool Refuse(CxImage &out)
{
    out.Destroy();
    CxImageAccess::SetError(out, "truncated PNG file");
    return false;
}

// Keeps the rows that arrived of a cut-off file, the ones below repeating
// the last of them. False when none arrived or the file was whole.
bool ShowArrivedRows(const PngReader &r, CxImage &out)
{
    if (!r.truncated || r.rowsAtCut == 0 || !out.IsValid())
        return false;
    if (out.GetBpp() != 24)
        FixStrayIndices(out, 0, r.rowsAtCut);
    const int last = int(r.rowsAtCut) - 1;
    const std::size_t bytes = std::size_t(out.GetEffWidth());
    for (int y = last + 1; y < out.GetHeight(); ++y) {
        std::memcpy(out.GetBits(y), out.GetBits(last), bytes);
        if (out.AlphaIsValid())
            std::memcpy(out.AlphaGetPointer(y), out.AlphaGetPointer(last), std::size_t(out.GetWidth()));
    }
    return true;
}

void WritePng(PngWriter &w, const CxImage &img)
{
    png_structp png = w.png;
    png_infop info = w.info;
    png_set_write_fn(png, &w, WriteToFile, FlushNothing);
    const int width = img.GetWidth(), height = img.GetHeight();
    const bool paletted = img.GetBpp() != 24;
    const bool alpha = !paletted && img.AlphaIsValid();
    const int colorType = paletted ? PNG_COLOR_TYPE_PALETTE : alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), paletted ? img.GetBpp() : 8, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (paletted) {
        png_color plte[256];
        const int n = img.GetNumColors();
        const RGBQUAD *pal = img.GetPalette();
        for (int i = 0; i < n; ++i)
            plte[i] = png_color{pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue};
        png_set_PLTE(png, info, plte, n);
        const int trans = img.GetTransIndex();
        if (trans >= 0) {
            png_byte alphas[256];
            std::memset(alphas, 255, sizeof alphas);
            alphas[trans] = 0;
            png_set_tRNS(png, info, alphas, trans + 1, nullptr);
        }
    }
    // zlib level 4 with the sub, up and Paeth filters: measured on photos
    // and on drawn wallpapers, 2.5 times as fast as libpng's defaults (level
    // 6, every filter) for 3 to 6 % more bytes; level 3 loses as much again
    // in size for little time. Palette rows stay unfiltered, as libpng does.
    png_set_compression_level(png, 4);
    if (!paletted)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_PAETH);
    png_write_info(png, info);
    if (paletted)
        png_set_packing(png);
    else if (!alpha)
        png_set_bgr(png);

    cxcodec::RowFeed *const feed = CxImageAccess::Feed(img);
    for (int y = 0; y < height; ++y) {
        if (feed && !feed->Arrived(y))
            png_error(png, "the picture could not be read");
        if (alpha) {
            cxcodec::RowToRGBA(img, y, w.row.data());
            png_write_row(png, w.row.data());
        } else {
            png_write_row(png, const_cast<png_bytep>(img.GetBits(y)));
        }
    }
    png_write_end(png, info);
}

}  // namespace

void cxcodec::testhooks::SetPngOwnRows(bool on)
{
    g_ownRows.store(on);
}

void cxcodec::testhooks::SetPngWholeInflate(bool on)
{
    g_wholeInflate.store(on);
}

int cxcodec::testhooks::PngWholeInflates()
{
    return g_wholeInflates.load();
}

namespace cxcodec {

bool DecodePng(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size < 8) {
        CxImageAccess::SetError(out, "truncated PNG file");
        return false;
    }
    std::unique_ptr<PngReader> holder(new (std::nothrow) PngReader);
    PngReader *const r = holder.get();
    if (!r) {
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    r->data = data;
    r->size = size;
    r->cancel = req.cancel;
    r->acceptTruncated = req.acceptTruncated;
    r->sink = req.rows;
    r->autoOrient = req.autoOrient;
    r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, r->message, OnPngError, OnPngWarning);
    if (r->png)
        r->info = png_create_info_struct(r->png);
    if (!r->png || !r->info) {
        png_destroy_read_struct(&r->png, &r->info, nullptr);
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(r->png))) {
        png_destroy_read_struct(&r->png, &r->info, nullptr);
        // Only rows read in order (not interlaced passes) can be shown part way.
        if (ShowArrivedRows(*r, out))
            return true;
        out.Destroy();
        CxImageAccess::SetError(out, r->message[0] ? r->message : "cannot decode PNG");
        return false;
    }
    ReadPng(*r, out);
    png_destroy_read_struct(&r->png, &r->info, nullptr);
    // Zeros in place of missing data may still have made a picture.
    return !r->truncated || ShowArrivedRows(*r, out) || Refuse(out);
}

bool EncodePng(const CxImage &img, CxFile &file)
{
    if (!img.IsValid())
        return false;
    std::unique_ptr<PngWriter> holder(new (std::nothrow) PngWriter);
    PngWriter *const w = holder.get();
    if (!w)
        return false;
    try {
        w->row.resize(std::size_t(img.GetWidth()) * 4);
    } catch (const std::bad_alloc &) {
        return false;
    }
    w->file = &file;
    w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, w->message, OnPngError, OnPngWarning);
    if (w->png)
        w->info = png_create_info_struct(w->png);
    if (!w->png || !w->info) {
        png_destroy_write_struct(&w->png, &w->info);
        return false;
    }
    if (setjmp(png_jmpbuf(w->png))) {
        png_destroy_write_struct(&w->png, &w->info);
        return false;
    }
    WritePng(*w, img);
    png_destroy_write_struct(&w->png, &w->info);
    return true;
}

}  // namespace cxcodec
