// PNG image data inflated (libdeflate whole, or zlib row by row) and
// unfiltered by our own code (see pnginflate.h).
#include "imaging/codecs/pnginflate.h"
#include "imaging/codecs/byteorder.h"
#include "imaging/largeblocks.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <libdeflate.h>
#if defined(VELMORA_HAVE_ISAL)
#include <isa-l/igzip_lib.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace cxpng {

namespace {

using cxbytes::Be32;

std::atomic<std::size_t> g_inflatedInUse{0};

std::atomic<bool> g_ownRows{true};
std::atomic<bool> g_wholeInflate{true};
std::atomic<bool> g_fastInflate{true};
std::atomic<int> g_wholeInflates{0};

// One pixel's bytes as a number and back.
template <int Bpp> inline std::uint64_t PixelBits(const std::uint8_t *p)
{
    std::uint64_t v = std::uint64_t(p[0]) | std::uint64_t(p[1]) << 8 | std::uint64_t(p[2]) << 16;
    if constexpr (Bpp == 4)
        v |= std::uint64_t(p[3]) << 24;
    return v;
}

template <int Bpp> inline void StoreBits(std::uint8_t *p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    if constexpr (Bpp == 4)
        p[3] = std::uint8_t(v >> 24);
}

#if defined(__SSE2__)
// One pixel's bytes in a register and back, without a trip through memory.
template <int Bpp> inline __m128i LoadPixel(const std::uint8_t *p)
{
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(PixelBits<Bpp>(p))), _mm_setzero_si128());
}

template <int Bpp> inline void StorePixel(std::uint8_t *p, __m128i lanes)
{
    StoreBits<Bpp>(p, std::uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes))));
}

inline __m128i Abs16(__m128i x)
{
    return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
}

inline __m128i Choose(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

template <int Bpp> void PaethRow(std::uint8_t *cur, const std::uint8_t *prev, std::size_t n)
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
#if defined(__x86_64__) || defined(__i386__)
// The same with SSSE3's absolute values and SSE4.1's blends: fewer steps on
// the chain through the pixel to the left, which sets the pace. The nearest
// is a where pa is the least, else b where pb is no more than pc, else c.
__attribute__((target("sse4.1"), always_inline)) inline __m128i PaethNearest(__m128i a, __m128i b, __m128i c)
{
    const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
    const __m128i pa = _mm_abs_epi16(bc), pb = _mm_abs_epi16(ac);
    const __m128i pc = _mm_abs_epi16(_mm_add_epi16(ac, bc));
    const __m128i bOrC = _mm_blendv_epi8(b, c, _mm_cmpgt_epi16(pb, pc));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    return _mm_blendv_epi8(a, bOrC, notA);
}

template <int Bpp>
__attribute__((target("sse4.1"))) void PaethRowSse41(std::uint8_t *cur, const std::uint8_t *prev,
                                                     std::size_t n)
{
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (std::size_t i = 0; i < n; i += Bpp) {
        const __m128i b = LoadPixel<Bpp>(prev + i);
        // Bytewise: the sum wraps as a byte would, the high bytes stay zero.
        a = _mm_add_epi8(LoadPixel<Bpp>(cur + i), PaethNearest(a, b, c));
        StorePixel<Bpp>(cur + i, a);
        c = b;
    }
}

#if defined(__x86_64__)
// Two Paeth rows at once, the lower one a pixel behind the upper: its pixel
// x - 1 needs the upper row's x - 1 and x - 2, which the steps before made.
// Two chains through the pixel to the left in one register take hardly
// longer than one.
// One step of both rows; gives the two pixels made, the upper row's in the
// low four bytes.
__attribute__((target("sse4.1"), always_inline)) inline std::uint64_t PaethStep(__m128i &a, __m128i &c,
                                                                               std::uint64_t above,
                                                                               std::uint64_t raw)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i b = _mm_unpacklo_epi64(_mm_unpacklo_epi8(_mm_cvtsi64_si128((long long)above), zero), a);
    a = _mm_add_epi8(_mm_unpacklo_epi8(_mm_cvtsi64_si128((long long)raw), zero), PaethNearest(a, b, c));
    c = b;
    return std::uint64_t(_mm_cvtsi128_si64(_mm_packus_epi16(a, a)));
}

template <int Bpp>
__attribute__((target("sse4.1"))) void PaethRowsSse41(std::uint8_t *upper, std::uint8_t *lower,
                                                      const std::uint8_t *prev, std::size_t n)
{
    // Low half: the upper row's pixel x; high half: the lower row's x - 1.
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    const std::size_t w = n / Bpp;
    StoreBits<Bpp>(upper, std::uint32_t(PaethStep(a, c, PixelBits<Bpp>(prev), PixelBits<Bpp>(upper))));
    for (std::size_t x = 1; x < w; ++x) {
        const std::uint8_t *up = upper + x * Bpp;
        std::uint8_t *low = lower + (x - 1) * Bpp;
        const std::uint64_t v = PaethStep(a, c, PixelBits<Bpp>(prev + x * Bpp), PixelBits<Bpp>(up) | PixelBits<Bpp>(low) << 32);
        StoreBits<Bpp>(upper + x * Bpp, std::uint32_t(v));
        StoreBits<Bpp>(low, std::uint32_t(v >> 32));
    }
    StoreBits<Bpp>(lower + (w - 1) * Bpp, std::uint32_t(PaethStep(a, c, 0, PixelBits<Bpp>(lower + (w - 1) * Bpp) << 32) >> 32));
}
#endif

const bool kSse41 = (__builtin_cpu_init(), __builtin_cpu_supports("sse4.1"));
#endif

// Sub and Average carry from the pixel to the left too: a pixel at a time.
template <int Bpp> void SubRow(std::uint8_t *cur, std::size_t n)
{
    __m128i a = _mm_setzero_si128();
    for (std::size_t i = 0; i < n; i += Bpp) {
        a = _mm_add_epi8(LoadPixel<Bpp>(cur + i), a);
        StorePixel<Bpp>(cur + i, _mm_and_si128(a, _mm_set1_epi16(0xff)));
    }
}

template <int Bpp> void AverageRow(std::uint8_t *cur, const std::uint8_t *prev, std::size_t n)
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
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
    if (kSse41 && bpp == 3)
        return PaethRowSse41<3>(cur, prev, n);
    if (kSse41 && bpp == 4)
        return PaethRowSse41<4>(cur, prev, n);
#endif
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

// Two rows in a row that are both Paeth filtered: the upper one's row above
// is prev.
void PaethRows(std::uint8_t *upper, std::uint8_t *lower, const std::uint8_t *prev, std::size_t n, int bpp)
{
#if defined(__x86_64__)
    if (kSse41 && bpp == 3)
        return PaethRowsSse41<3>(upper, lower, prev, n);
    if (kSse41 && bpp == 4)
        return PaethRowsSse41<4>(upper, lower, prev, n);
#endif
    PaethRow(upper, prev, n, bpp);
    PaethRow(lower, upper, n, bpp);
}

} // namespace

bool InflatedData::Acquire(std::size_t n)
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

void InflatedData::Release()
{
    largeblocks::Release(bytes, size);
    g_inflatedInUse -= size;
    bytes = nullptr;
    size = 0;
}

bool Unfilter(int filter, std::uint8_t *__restrict cur, const std::uint8_t *__restrict prev, std::size_t n,
              int bpp)
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
    case 2: {
        std::size_t i = 0;
#if defined(__SSE2__)
        for (; i + 16 <= n; i += 16) {
            const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + i));
            __m128i *const at = reinterpret_cast<__m128i *>(cur + i);
            _mm_storeu_si128(at, _mm_add_epi8(_mm_loadu_si128(at), up));
        }
#endif
        for (; i < n; ++i)
            cur[i] = std::uint8_t(cur[i] + prev[i]);
        return true;
    }
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

bool OwnRows(const PngReader &r, int depth, int colorType, bool hasTrns, int passes)
{
    return g_ownRows.load(std::memory_order_relaxed) && passes == 1 && depth == 8 &&
           (colorType == PNG_COLOR_TYPE_RGB_ALPHA || (colorType == PNG_COLOR_TYPE_RGB && !hasTrns)) &&
           r.pos >= 16 && r.pos <= r.size && std::memcmp(r.data + r.pos - 4, "IDAT", 4) == 0;
}

namespace {

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

// A zlib header zlib takes without a word: deflate, a window it knows, no
// preset dictionary.
bool PlainZlibHeader(const std::uint8_t *z)
{
    return (z[0] & 0x0F) == 8 && (z[0] >> 4) <= 7 && (unsigned(z[0]) << 8 | z[1]) % 31 == 0 && !(z[1] & 0x20);
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
    if (streamBytes < 2 || !PlainZlibHeader(stream))
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

} // namespace

namespace {

// Row by row, ISA-L inflates the data while it goes well: while each IDAT
// chunk it is given is whole with its CRC right and the data inflates
// cleanly. At anything else (damage, a cut, too little data) zlib takes over
// from the first chunk, passing over what was given out already, and so
// fails or goes on exactly as it would have alone. ISA-L takes no data zlib
// refuses and gives what zlib gives; it only reads ahead further, which
// shows nowhere: the chunks it read beyond zlib's are sound ones, which the
// check of the chunks after the data passes over too.
#if defined(VELMORA_HAVE_ISAL)
enum class Feed { Fed, Ended, Unsound };

// Gives ISA-L the next IDAT chunk: Ended where another chunk follows the
// data, Unsound at a cut or damaged one.
Feed FeedFast(PngReader &r, std::size_t &next)
{
    if (r.size - next < 12)
        return Feed::Unsound;
    const std::uint8_t *chunk = r.data + next;
    if (std::memcmp(chunk + 4, "IDAT", 4) != 0)
        return Feed::Ended;
    const std::size_t len = Be32(chunk);
    if (len > r.size - next - 12 || crc32(0, chunk + 4, uInt(len + 4)) != Be32(chunk + 8 + len))
        return Feed::Unsound;
    r.fast->next_in = const_cast<std::uint8_t *>(chunk + 8);
    r.fast->avail_in = std::uint32_t(len);
    next += len + 12;
    return Feed::Fed;
}

// Starts ISA-L on the chunk at next: a plain zlib header and the 32 KB
// window (smaller ones limit what zlib looks back on).
bool StartFast(PngReader &r, std::size_t &next)
{
    if (!g_fastInflate.load(std::memory_order_relaxed))
        return false;
    r.fast.reset(new (std::nothrow) inflate_state);
    if (!r.fast)
        return false;
    isal_inflate_init(r.fast.get());
    r.fast->crc_flag = ISAL_DEFLATE; // the header is read here, the checksum left as zlib leaves it
    std::size_t from = next;
    const bool fed = FeedFast(r, from) == Feed::Fed && r.fast->avail_in >= 2;
    const std::uint8_t *z = r.fast->next_in;
    if (!fed || !PlainZlibHeader(z) || (z[0] >> 4) != 7) {
        r.fast.reset();
        return false;
    }
    r.fast->next_in += 2;
    r.fast->avail_in -= 2;
    next = from;
    return true;
}

// One row by ISA-L; false where zlib is to take over.
bool InflateRowFast(PngReader &r, std::uint8_t *cur, std::size_t n, std::size_t &next)
{
    inflate_state &s = *r.fast;
    s.next_out = cur;
    s.avail_out = std::uint32_t(n + 1);
    while (s.avail_out > 0) {
        if (s.block_state == ISAL_BLOCK_FINISH)
            return false; // too little data
        const Feed feed = s.avail_in == 0 ? FeedFast(r, next) : Feed::Ended;
        if (feed == Feed::Unsound)
            return false;
        const std::uint32_t in = s.avail_in, out = s.avail_out;
        if (isal_inflate(&s) < 0)
            return false;
        // Past the data, what ISA-L holds may still make bytes.
        if (feed == Feed::Ended && s.avail_in == in && s.avail_out == out)
            return false;
    }
    return true;
}
#endif

// Inflates with zlib into out until it holds n bytes, or fails as libpng
// would; false at the cut of a file allowed to be cut.
bool InflateSlow(PngReader &r, std::uint8_t *out, std::size_t n, std::size_t &next, bool &streamEnd)
{
    bool ended = false;
    r.z.next_out = out;
    r.z.avail_out = uInt(n);
    while (r.z.avail_out > 0) {
        if (streamEnd)
            png_error(r.png, "Not enough image data");
        if (r.z.avail_in == 0 && !FeedNextIdat(r, next, &ended)) {
            if (!ended || !r.acceptTruncated)
                png_error(r.png, ended ? "truncated PNG file" : "Not enough image data");
            return false;
        }
        const int ret = inflate(&r.z, Z_SYNC_FLUSH);
        if (ret == Z_STREAM_END)
            streamEnd = true;
        else if (ret != Z_OK && ret != Z_BUF_ERROR)
            png_error(r.png, r.z.msg ? r.z.msg : "damaged image data");
    }
    return true;
}

void StartSlow(PngReader &r)
{
    if (inflateInit(&r.z) != Z_OK)
        png_error(r.png, "out of memory");
    r.zOpen = true;
    // The chunk CRCs already cover the compressed bytes.
    inflateValidate(&r.z, 0);
}

// Inflates one filtered row of n + 1 bytes into cur; false at the cut of a
// file allowed to be cut.
bool InflateRow(PngReader &r, std::uint8_t *cur, std::size_t n, std::size_t &next, bool &streamEnd)
{
    std::size_t made = 0; // of this row, by ISA-L
#if defined(VELMORA_HAVE_ISAL)
    if (r.fast) {
        if (InflateRowFast(r, cur, n, next))
            return true;
        // zlib from the start, over what ISA-L gave out already (as zlib
        // would have given it: an error on the way is zlib's own).
        made = n + 1 - r.fast->avail_out;
        std::size_t skip = std::size_t(r.fast->total_out);
        r.fast.reset();
        next = r.firstIdat;
        StartSlow(r);
        std::uint8_t scratch[4096];
        for (std::size_t k; skip > 0; skip -= k) {
            k = std::min(skip, sizeof scratch);
            if (!InflateSlow(r, scratch, k, next, streamEnd))
                return false;
        }
    }
#endif
    return InflateSlow(r, cur + made, n + 1 - made, next, streamEnd);
}

// R, G, B (, A) into the picture's B, G, R and its alpha plane.
void StoreOwnRow(const std::uint8_t *src, CxImage &img, int y, Layout layout, png_uint_32 width)
{
    BYTE *bgr = img.GetBits(y);
    if (layout == Layout::Bgra) {
        BYTE *const alpha = img.AlphaGetPointer(y);
        for (png_uint_32 x = 0; x < width; ++x, src += 4, bgr += 3) {
            bgr[0] = src[2];
            bgr[1] = src[1];
            bgr[2] = src[0];
            alpha[x] = src[3];
        }
        return;
    }
    for (png_uint_32 x = 0; x < width; ++x, src += 3, bgr += 3) {
        bgr[0] = src[2];
        bgr[1] = src[1];
        bgr[2] = src[0];
    }
}

} // namespace

void ReadOwnRows(PngReader &r, CxImage &img, CxImage *band, Layout layout, png_uint_32 width,
                 png_uint_32 height)
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
    r.firstIdat = next;
#if defined(VELMORA_HAVE_ISAL)
    const bool fast = !whole && StartFast(r, next);
#else
    const bool fast = false;
#endif
    if (!whole && !fast)
        StartSlow(r);
    // Row by row, the buffer holds three rows in turn and a fourth of zeros,
    // the row above the first.
    std::uint8_t *const zeros = r.buffer.data() + 3 * (n + 1);
    const auto rowAt = [&](png_uint_32 y) {
        return whole ? r.inflated.bytes + std::size_t(y) * (n + 1) : r.buffer.data() + (y % 3) * (n + 1);
    };
    bool streamEnd = false;
    bool ahead = false;    // row y is inflated already, read with the one above
    bool cutAhead = false; // and the data ended before it
    // Before a row: whether it may be written. After: it goes to the picture.
    const auto begin = [&](png_uint_32 y) {
        if (r.cancel && r.cancel->load(std::memory_order_relaxed))
            png_error(png, "cancelled");
        if (band && !r.sink->Room(int(y)))
            png_error(png, "stopped");
    };
    const auto finish = [&](png_uint_32 y, const std::uint8_t *row) {
        StoreOwnRow(row + 1, img, int(y), layout, width);
        if (band)
            r.sink->Filled(int(y));
        r.rowsDone = y + 1;
    };
    for (png_uint_32 y = 0; y < height; ++y) {
        begin(y);
        std::uint8_t *const cur = rowAt(y);
        const std::uint8_t *const prev = y > 0 ? rowAt(y - 1) : zeros;
        if (cutAhead || (!whole && !ahead && !InflateRow(r, cur, n, next, streamEnd))) {
            // What arrived of a cut-off file: the complete rows.
            r.truncated = true;
            r.rowsAtCut = y;
            return;
        }
        ahead = false;
        if (cur[0] == 4 && y + 1 < height) {
            // Paeth rows mostly come in runs: two at once when the next is one too.
            std::uint8_t *const below = rowAt(y + 1);
            ahead = !whole;
            if (ahead && !InflateRow(r, below, n, next, streamEnd))
                ahead = false, cutAhead = true;
            if (!cutAhead && below[0] == 4) {
                PaethRows(cur + 1, below + 1, prev + 1, n, bpp);
                finish(y, cur);
                begin(++y);
                finish(y, below);
                ahead = false;
                continue;
            }
        }
        if (!Unfilter(cur[0], cur + 1, prev + 1, n, bpp))
            png_error(png, "bad adaptive filter value");
        finish(y, cur);
    }
    CheckTail(r, next);
}

} // namespace cxpng

void cxcodec::testhooks::SetPngOwnRows(bool on)
{
    cxpng::g_ownRows.store(on);
}

void cxcodec::testhooks::SetPngWholeInflate(bool on)
{
    cxpng::g_wholeInflate.store(on);
}

void cxcodec::testhooks::SetPngFastInflate(bool on)
{
    cxpng::g_fastInflate.store(on);
}

void cxpng::FastInflater::operator()(inflate_state *s) const
{
#if defined(VELMORA_HAVE_ISAL)
    delete s;
#else
    (void)s;
#endif
}

int cxcodec::testhooks::PngWholeInflates()
{
    return cxpng::g_wholeInflates.load();
}
