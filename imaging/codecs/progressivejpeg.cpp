#include "imaging/codecs/progressivejpeg.h"

#include <algorithm>
#include <atomic>
#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace progressivejpeg {
namespace {

// Zigzag position to natural position.
constexpr std::uint8_t kNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

constexpr int kFastBits = 10;

// A table ready for decoding: codes up to kFastBits long are looked up at
// once, longer ones compared with the largest code of each length.
struct Decoder {
    std::uint16_t fast[1 << kFastBits]; // length << 8 | value; 0 when longer
    // A coefficient of a first scan whose code and extra bits both fit the
    // lookahead: its value << 16 | zeros before it << 8 | bits in all; 0
    // for anything else.
    std::int32_t coefficient[1 << kFastBits];
    std::int32_t maxCode[17]; // largest code of each length, -1 when none
    std::int32_t offset[17];  // value index minus first code, per length
    std::uint8_t values[256];

    bool Build(const HuffmanTable &t)
    {
        int count = 0;
        for (int l = 1; l <= 16; ++l)
            count += t.counts[l];
        if (count > 256)
            return false;
        std::memcpy(values, t.values, sizeof values);
        std::memset(fast, 0, sizeof fast);
        std::int32_t code = 0;
        int index = 0;
        for (int l = 1; l <= 16; ++l) {
            const int n = t.counts[l];
            // Codes must leave the all-ones code of their length unused, as
            // libjpeg requires (and fit it, before any is entered).
            if (code + n >= (1 << l))
                return false;
            offset[l] = index - code;
            for (int i = 0; i < n; ++i, ++code, ++index) {
                if (l <= kFastBits) {
                    const int shift = kFastBits - l;
                    for (int f = code << shift, e = (code + 1) << shift; f < e; ++f)
                        fast[f] = std::uint16_t(l << 8 | values[index]);
                }
            }
            maxCode[l] = n ? code - 1 : -1;
            code <<= 1;
        }
        for (int p = 0; p < (1 << kFastBits); ++p) {
            const int length = fast[p] >> 8, rs = fast[p] & 0xFF, size = rs & 15;
            coefficient[p] = 0;
            if (length && size && length + size <= kFastBits) {
                const unsigned extra = unsigned(p >> (kFastBits - length - size)) & ((1u << size) - 1);
                const int v = extra < (1u << (size - 1)) ? int(extra) - (1 << size) + 1 : int(extra);
                coefficient[p] = std::int32_t(unsigned(v) << 16) | (rs >> 4) << 8 | (length + size);
            }
        }
        return true;
    }
};

// Entropy-coded bytes of one restart interval, read where they lie in the
// file through a 64-bit window: the zero stuffed after each 0xFF is skipped,
// and past the interval's end come zeros. Reads past the end are caught when
// the interval ends (BitsUsed past its size).
struct BitReader {
    const std::uint8_t *data = nullptr;
    std::size_t pos = 0, end = 0; // in the file; every 0xFF before end is stuffed
    std::size_t size = 0;         // the interval's bytes, stuffing left out
    std::size_t loaded = 0;       // of those (and zeros past them) taken into the window
    std::uint64_t window = 0;     // next bits, first in the top bit
    int bits = 0;                 // valid bits in the window

    void Start(const std::uint8_t *d, std::size_t from, std::size_t to, std::size_t bytes)
    {
        data = d;
        pos = from;
        end = to;
        size = bytes;
        loaded = 0;
        window = 0;
        bits = 0;
        Refill();
    }
    // Tops the window up to at least 56 bits: eight bytes at once where none
    // of them is 0xFF and the interval has them all, else byte by byte.
    void Refill()
    {
        if (end - pos >= 8) {
            std::uint64_t next;
            std::memcpy(&next, data + pos, 8);
            constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
            if ((((~next) - kOnes) & next & kHigh) == 0) {
                window |= __builtin_bswap64(next) >> bits;
                const std::size_t n = std::size_t(63 - bits) >> 3;
                pos += n;
                loaded += n;
                bits |= 56;
                return;
            }
        }
        while (bits <= 56) {
            std::uint64_t b = 0;
            if (pos < end) {
                b = data[pos];
                pos += b == 0xFF && end - pos > 1 ? 2 : 1;
            }
            window |= b << (56 - bits);
            bits += 8;
            ++loaded;
        }
    }
    unsigned Peek(int n) const { return unsigned(window >> (64 - n)); }
    void Skip(int n)
    {
        window <<= n;
        bits -= n;
    }
    unsigned Get(int n) // 1 to 16 bits, with the window holding them
    {
        const unsigned v = Peek(n);
        Skip(n);
        return v;
    }
    std::size_t BitsUsed() const { return loaded * 8 - std::size_t(bits); }
};

// The next Huffman symbol, or -1 for a code no table holds. Needs 16 bits in
// the window.
inline int DecodeSymbol(BitReader &br, const Decoder &d)
{
    const unsigned e = d.fast[br.Peek(kFastBits)];
    if (e) {
        br.Skip(int(e >> 8));
        return int(e & 0xFF);
    }
    const std::int32_t code16 = std::int32_t(br.Peek(16));
    int l = kFastBits + 1;
    while (l <= 16 && (code16 >> (16 - l)) > d.maxCode[l])
        ++l;
    if (l > 16)
        return -1; // libjpeg warns and reads it as zero
    const int v = (code16 >> (16 - l)) + d.offset[l];
    br.Skip(l);
    return d.values[v & 0xFF];
}

inline int Extend(unsigned v, int s)
{
    return v < (1u << (s - 1)) ? int(v) - (1 << s) + 1 : int(v);
}

struct Scan {
    int component = -1; // index into the frame
    int ss = 0, se = 0, ah = 0, al = 0;
    int table = 0;
};

// Which coefficients of each block are nonzero, a bit per zigzag position:
// refinement scans correct only those and count runs of the others, and
// most are zero. A row of blocks goes through all of its scans before the
// next, so the masks of one row are all there is (masks[column]).
using Masks = std::vector<std::uint64_t>;

inline std::uint64_t Band(int from, int to) // zigzag positions from to to, inclusive
{
    return (~std::uint64_t(0) >> (63 - to)) & (~std::uint64_t(0) << from);
}

// Where block b of a component lies, followed from block to block without
// a division each time.
struct BlockCursor {
    std::size_t row, col;
    unsigned w;
    BlockCursor(std::size_t b, unsigned width) : row(b / width), col(b % width), w(width) {}
    void Next()
    {
        if (++col == w) {
            col = 0;
            ++row;
        }
    }
};

// Blocks of an AC first scan, within one restart interval. False on a code
// libjpeg would warn about or a run past the band.
bool FirstBlocks(BitReader &br, unsigned &eobrun, const Decoder &d, const Scan &s, const Component &c,
                 std::uint64_t *masks, std::size_t firstBlock, std::size_t blocks)
{
    const unsigned w = c.widthInBlocks;
    const int ss = s.ss, se = s.se, al = s.al;
    BlockCursor at(firstBlock, w);
    for (std::size_t b = firstBlock, e = firstBlock + blocks; b < e; ++b, at.Next()) {
        if (eobrun) {
            --eobrun;
            continue;
        }
        short *block = c.rows[at.row][at.col];
        std::uint64_t nz = masks[at.col];
        for (int k = ss; k <= se; ++k) {
            if (br.bits < 32)
                br.Refill();
            int run;
            short v;
            if (const std::int32_t f = d.coefficient[br.Peek(kFastBits)]) {
                br.Skip(f & 0xFF);
                run = (f >> 8) & 0xFF;
                v = short(unsigned(f >> 16) << al);
            } else {
                const int rs = DecodeSymbol(br, d);
                if (rs < 0)
                    return false;
                const int r = rs >> 4, size = rs & 15;
                if (!size && r == 15) {
                    k += 15;
                    continue;
                }
                if (!size) {
                    eobrun = 1u << r;
                    if (r)
                        eobrun += br.Get(r);
                    --eobrun;
                    break;
                }
                run = r;
                v = short(unsigned(Extend(br.Get(size), size)) << al);
            }
            k += run;
            if (k > se)
                return false; // libjpeg writes such a value into coefficient 63
            block[kNatural[k]] = v;
            nz = v ? nz | std::uint64_t(1) << k : nz & ~(std::uint64_t(1) << k);
        }
        masks[at.col] = nz;
    }
    return true;
}

// A correction bit for each nonzero coefficient of the set, in zigzag order:
// a set bit adds the scan's bit to the coefficient's magnitude, unless it is
// there already.
inline void Correct(BitReader &br, short *block, std::uint64_t set, int p1)
{
    for (int n = __builtin_popcountll(set); n > 0;) {
        if (br.bits < 32)
            br.Refill();
        const int take = n < 32 ? n : 32;
        std::uint32_t v = br.Get(take) << (32 - take);
        n -= take;
        for (int i = 0; i < take; ++i, v <<= 1) {
            short &coef = block[kNatural[__builtin_ctzll(set)]];
            set &= set - 1;
            const int add = (v >> 31) & int((coef & p1) == 0);
            coef = short(coef + add * (coef >= 0 ? p1 : -p1));
        }
    }
}

// kNthInByte[b][n]: the position of the set bit of b with n set bits below it.
struct NthInByte {
    std::uint8_t at[256][8] = {};
    constexpr NthInByte()
    {
        for (int b = 0; b < 256; ++b)
            for (int i = 0, n = 0; i < 8; ++i)
                if (b >> i & 1)
                    at[b][n++] = std::uint8_t(i);
    }
};
constexpr NthInByte kNthInByte;

// The position of the set bit of x with n set bits below it; x has more
// than n. Halves the word by counting rather than clearing bit after bit.
inline int NthSetBit(std::uint64_t x, int n)
{
    int pos = 0;
    for (int half = 32; half >= 8; half /= 2) {
        const std::uint64_t low = x & ((std::uint64_t(1) << half) - 1);
        const int c = __builtin_popcountll(low);
        const bool up = n >= c;
        n -= up ? c : 0;
        x = up ? x >> half : low;
        pos += up ? half : 0;
    }
    return pos + kNthInByte.at[x & 0xFF][n];
}

// Finding the zero a run ends at: by counting halves, or with the pdep
// instruction where it is fast.
struct CountSelect {
    static int Nth(std::uint64_t x, int n) { return NthSetBit(x, n); }
};

#if defined(__x86_64__)
struct PdepSelect {
    __attribute__((target("bmi2"))) static int Nth(std::uint64_t x, int n)
    {
        return __builtin_ctzll(_pdep_u64(std::uint64_t(1) << n, x));
    }
};

// pdep is a single quick instruction on Intel's processors and on AMD's
// since Zen 3; earlier AMD ones run it as a slow loop.
bool FastPdep()
{
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("bmi2") || !__builtin_cpu_supports("popcnt"))
        return false;
    if (__builtin_cpu_is("intel"))
        return true;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__builtin_cpu_is("amd") || !__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const unsigned base = (a >> 8) & 0xF;
    const unsigned family = base == 0xF ? base + ((a >> 20) & 0xFF) : base;
    return family >= 0x19;
}
#else
bool FastPdep()
{
    return false;
}
#endif

const bool kFastPdep = FastPdep();
std::atomic<bool> g_usePdep{kFastPdep};
#if defined(__x86_64__)
const bool kPopcnt = (__builtin_cpu_init(), __builtin_cpu_supports("popcnt"));
#endif

template <class Select>
bool RefineWith(BitReader &br, unsigned &eobrun, const Decoder &d, const Scan &s, const Component &c,
                std::uint64_t *masks, std::size_t firstBlock, std::size_t blocks)
{
    const unsigned w = c.widthInBlocks;
    const int ss = s.ss, se = s.se;
    const int p1 = 1 << s.al;
    BlockCursor at(firstBlock, w);
    for (std::size_t b = firstBlock, e = firstBlock + blocks; b < e; ++b, at.Next()) {
        short *block = c.rows[at.row][at.col];
        std::uint64_t nz = masks[at.col];
        int k = ss;
        if (!eobrun) {
            for (; k <= se; ++k) {
                if (br.bits < 32)
                    br.Refill();
                const int rs = DecodeSymbol(br, d);
                if (rs < 0)
                    return false;
                const int r = rs >> 4;
                short value = 0;
                if (rs & 15) {
                    if ((rs & 15) != 1)
                        return false; // libjpeg warns and takes it as 1
                    value = short(br.Get(1) ? p1 : -p1);
                } else if (r != 15) {
                    eobrun = 1u << r;
                    if (r)
                        eobrun += br.Get(r);
                    break;
                }
                // Past r zero coefficients, correcting the nonzero ones on
                // the way, to the next zero: where the new coefficient goes
                // (or, for a run of sixteen, the last of them).
                const std::uint64_t band = Band(k, se);
                const std::uint64_t zeros = ~nz & band;
                const int to = __builtin_popcountll(zeros) > r ? Select::Nth(zeros, r) : se + 1;
                Correct(br, block, nz & (to > se ? band : band & ~(~std::uint64_t(0) << to)), p1);
                k = to;
                if (value) {
                    if (k > se)
                        return false; // libjpeg puts it in coefficient 63
                    block[kNatural[k]] = value;
                    nz |= std::uint64_t(1) << k;
                }
            }
        }
        if (eobrun) {
            if (k <= se)
                Correct(br, block, nz & Band(k, se), p1);
            --eobrun;
        }
        masks[at.col] = nz;
    }
    return true;
}

// Built three ways, chosen as the processor allows (Refine below): plain,
// with the popcnt instruction, and with pdep too.
bool RefineBlocks(BitReader &br, unsigned &eobrun, const Decoder &d, const Scan &s, const Component &c,
                  std::uint64_t *masks, std::size_t firstBlock, std::size_t blocks)
{
    return RefineWith<CountSelect>(br, eobrun, d, s, c, masks, firstBlock, blocks);
}

#if defined(__x86_64__)
__attribute__((target("popcnt"), flatten)) bool RefineBlocksPopcnt(BitReader &br, unsigned &eobrun,
                                                                   const Decoder &d, const Scan &s,
                                                                   const Component &c, std::uint64_t *masks,
                                                                   std::size_t firstBlock, std::size_t blocks)
{
    return RefineWith<CountSelect>(br, eobrun, d, s, c, masks, firstBlock, blocks);
}

__attribute__((target("bmi2,popcnt"), flatten)) bool
RefineBlocksPdep(BitReader &br, unsigned &eobrun, const Decoder &d, const Scan &s, const Component &c,
                 std::uint64_t *masks, std::size_t firstBlock, std::size_t blocks)
{
    return RefineWith<PdepSelect>(br, eobrun, d, s, c, masks, firstBlock, blocks);
}
#endif

// Where a restart interval's entropy-coded bytes lie in the file.
struct Interval {
    std::size_t from = 0, to = 0;
    std::size_t bytes = 0; // stuffed zeros left out
};

// A scan's entropy-coded data and where it stands in its decoding.
struct ScanState {
    Scan scan;
    Decoder table;
    const std::uint8_t *data = nullptr; // the file
    std::vector<Interval> intervals;
    std::size_t blocks = 0;          // in the component
    std::size_t blocksPerInterval = 0;
    std::size_t interval = 0;    // the one being read
    std::size_t intervalEnd = 0; // the block it ends before
    BitReader br;
    unsigned eobrun = 0;

    void StartInterval()
    {
        const Interval &i = intervals[interval];
        br.Start(data, i.from, i.to, i.bytes);
        eobrun = 0;
    }
    // Past its data libjpeg would have warned; a whole byte left over it
    // would have skipped with a warning.
    bool IntervalClean() const
    {
        const std::size_t used = br.BitsUsed();
        return used <= br.size * 8 && (used + 7) / 8 == br.size;
    }
    bool Refine(const Component &c, std::uint64_t *masks, std::size_t first, std::size_t n)
    {
#if defined(__x86_64__)
        if (g_usePdep.load(std::memory_order_relaxed))
            return RefineBlocksPdep(br, eobrun, table, scan, c, masks, first, n);
        if (kPopcnt)
            return RefineBlocksPopcnt(br, eobrun, table, scan, c, masks, first, n);
#endif
        return RefineBlocks(br, eobrun, table, scan, c, masks, first, n);
    }
    // Decodes blocks from first up to end (in the scan's raster order),
    // crossing restart intervals as they come.
    bool Decode(const Component &c, std::uint64_t *masks, std::size_t first, std::size_t end)
    {
        while (first < end) {
            const std::size_t stop = std::min(end, intervalEnd);
            const bool ok = scan.ah == 0 ? FirstBlocks(br, eobrun, table, scan, c, masks, first, stop - first)
                                         : Refine(c, masks, first, stop - first);
            if (!ok)
                return false;
            first = stop;
            if (first == intervalEnd) {
                if (!IntervalClean())
                    return false;
                if (++interval < intervals.size()) {
                    StartInterval();
                    intervalEnd = std::min(intervalEnd + blocksPerInterval, blocks);
                }
            }
        }
        return true;
    }
};

// Finds a scan's restart intervals from pos on, and the bytes each holds once
// its stuffed zeros are left out; returns the position of the marker that
// ends the scan (size when none does). inTurn is false when restart markers
// are out of turn.
std::size_t FindIntervals(const std::uint8_t *data, std::size_t size, std::size_t pos, ScanState &st,
                          bool &inTurn)
{
    st.data = data;
    inTurn = true;
    std::size_t from = pos, stuffed = 0;
    while (pos < size) {
        const void *ff = std::memchr(data + pos, 0xFF, size - pos);
        pos = ff ? std::size_t(static_cast<const std::uint8_t *>(ff) - data) : size;
        if (pos + 1 >= size)
            return size;
        const std::uint8_t next = data[pos + 1];
        if (next == 0x00) {
            ++stuffed;
            pos += 2;
        } else if (next >= 0xD0 && next <= 0xD7) {
            inTurn = inTurn && next - 0xD0 == int(st.intervals.size() % 8);
            st.intervals.push_back({from, pos, pos - from - stuffed});
            pos += 2;
            from = pos;
            stuffed = 0;
        } else {
            break;
        }
    }
    st.intervals.push_back({from, pos, pos - from - stuffed});
    return pos;
}

class AcDecoder {
public:
    explicit AcDecoder(const Frame &f) : frame(f)
    {
        for (int t = 0; t < 4; ++t)
            tables[t] = f.ac[t];
        restartInterval = f.restartInterval;
        std::memset(coefBits, -1, sizeof coefBits);
    }

    bool Run(const std::uint8_t *data, std::size_t size, std::size_t pos)
    {
        return ReadScans(data, size, pos) && DecodeRows();
    }

    // For decoding a row at a time: reads the segments only.
    bool Start(const std::uint8_t *data, std::size_t size, std::size_t pos)
    {
        if (!ReadScans(data, size, pos))
            return false;
        for (int ci = 0; ci < frame.count; ++ci)
            if (frame.components[ci].rows)
                masks[ci].resize(frame.components[ci].widthInBlocks);
        return true;
    }

    // Block row y of component ci through all of its scans; rows come in
    // order from the first.
    bool Row(int ci, unsigned y)
    {
        const Component &c = frame.components[ci];
        if (!c.rows || y >= c.heightInBlocks)
            return true;
        if (y != nextRow[ci])
            return false;
        ++nextRow[ci];
        const std::size_t first = std::size_t(y) * c.widthInBlocks, end = first + c.widthInBlocks;
        std::fill(masks[ci].begin(), masks[ci].end(), 0);
        for (const auto &st : scans[ci])
            if (!st->Decode(c, masks[ci].data(), first, end))
                return false;
        return true;
    }

private:
    // Reads every segment to the end of the image, keeping the AC scans to
    // decode.
    bool ReadScans(const std::uint8_t *data, std::size_t size, std::size_t pos)
    {
        for (;;) {
            // Between segments libjpeg would warn about any byte but a marker.
            MarkerSegment seg;
            if (!ReadMarkerSegment(data, size, pos, seg))
                return false;
            const std::uint8_t marker = seg.marker;
            if (marker == 0xD9)
                break;
            const std::uint8_t *body = data + seg.body;
            const std::size_t bodyLength = seg.end - seg.body;
            pos = seg.end;
            if (marker == 0xC4) {
                if (!DefineTables(body, bodyLength))
                    return false;
            } else if (marker == 0xDD) {
                if (bodyLength != 2)
                    return false;
                restartInterval = unsigned(body[0]) << 8 | body[1];
            } else if (marker == 0xDA) {
                Scan s;
                if (!ReadScanHeader(body, bodyLength, s))
                    return false;
                if (s.ss > 0 && frame.components[s.component].rows) {
                    auto st = std::make_unique<ScanState>();
                    st->scan = s;
                    bool inTurn = false;
                    pos = FindIntervals(data, size, pos, *st, inTurn);
                    if (pos >= size || !inTurn || !Prepare(*st))
                        return false;
                    scans[s.component].push_back(std::move(st));
                } else {
                    pos = ScanDataEnd(data, size, pos);
                    if (pos >= size)
                        return false;
                }
            } else if (marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF)) {
                // comments and application data: nothing to decode
            } else {
                return false;
            }
        }
        // Every coefficient sent to full precision: nothing for libjpeg's
        // smoothing of missing coefficients to make up.
        for (int c = 0; c < frame.count; ++c)
            for (int k = 0; k < 64; ++k)
                if (coefBits[c][k] != 0)
                    return false;
        return true;
    }

    // Fixes the scan's table and restart intervals as they stand at its
    // header.
    bool Prepare(ScanState &st)
    {
        const Scan &s = st.scan;
        if (s.table > 3 || !tables[s.table].defined || !st.table.Build(tables[s.table]))
            return false;
        const Component &c = frame.components[s.component];
        const std::size_t blocks = std::size_t(c.widthInBlocks) * c.heightInBlocks;
        if (blocks == 0)
            return false;
        st.blocks = blocks;
        st.blocksPerInterval = restartInterval ? restartInterval : blocks;
        // One restart marker between intervals, and no more.
        if (st.intervals.size() != (blocks + st.blocksPerInterval - 1) / st.blocksPerInterval)
            return false;
        st.intervalEnd = std::min(st.blocksPerInterval, blocks);
        st.StartInterval();
        return true;
    }

    // Each component's scans row by row of blocks, each row through all of
    // them while its coefficients are still in the cache, rather than scan by
    // scan over the whole picture. Stops early once stop is set.
    bool DecodeComponent(int ci, const std::atomic<bool> &stop)
    {
        const Component &c = frame.components[ci];
        if (!c.rows)
            return true;
        Masks masks(c.widthInBlocks);
        for (unsigned y = 0; y < c.heightInBlocks; ++y) {
            if (stop.load(std::memory_order_relaxed))
                return false;
            if (!c.zeroed)
                std::memset(c.rows[y], 0, std::size_t(c.rowBlocks) * sizeof(Block));
            std::fill(masks.begin(), masks.end(), 0);
            const std::size_t first = std::size_t(y) * c.widthInBlocks, end = first + c.widthInBlocks;
            for (const auto &st : scans[ci])
                if (!st->Decode(c, masks.data(), first, end))
                    return false;
        }
        return true;
    }

    // The components are independent: with a helper, it takes the first
    // (the luminance, the largest) while this thread does the others.
    bool DecodeRows()
    {
        std::atomic<bool> stop{false};
        bool helperOk = true;
        std::thread helper;
        if (frame.helper && frame.count > 1 && frame.components[0].rows) {
            try {
                helper = std::thread([&] {
                    try {
                        helperOk = DecodeComponent(0, stop);
                    } catch (const std::bad_alloc &) {
                        helperOk = false;
                    }
                    if (!helperOk)
                        stop = true;
                });
            } catch (const std::system_error &) {
                // no thread to be had: all on this one
            }
        }
        bool ok = true;
        for (int ci = helper.joinable() ? 1 : 0; ok && ci < frame.count; ++ci)
            ok = DecodeComponent(ci, stop);
        if (!ok)
            stop = true;
        if (helper.joinable())
            helper.join();
        return ok && helperOk;
    }

    bool DefineTables(const std::uint8_t *p, std::size_t n)
    {
        while (n > 0) {
            if (n < 17)
                return false;
            const int cls = p[0] >> 4, index = p[0] & 15;
            if (cls > 1 || index > 3)
                return false;
            int count = 0;
            for (int l = 1; l <= 16; ++l)
                count += p[l];
            if (count > 256 || std::size_t(count) > n - 17)
                return false;
            if (cls == 1) {
                HuffmanTable &t = tables[index];
                t.defined = true;
                t.counts[0] = 0;
                std::memcpy(t.counts + 1, p + 1, 16);
                std::memset(t.values, 0, sizeof t.values);
                std::memcpy(t.values, p + 17, std::size_t(count));
            }
            p += 17 + count;
            n -= 17 + std::size_t(count);
        }
        return true;
    }

    // Checks the scan as libjpeg does and notes the precision it leaves each
    // coefficient at; false where libjpeg would stop or warn.
    bool ReadScanHeader(const std::uint8_t *p, std::size_t n, Scan &s)
    {
        if (n < 1)
            return false;
        const int comps = p[0];
        if (comps < 1 || comps > 4 || n != std::size_t(4 + 2 * comps))
            return false;
        int indices[4];
        for (int i = 0; i < comps; ++i) {
            indices[i] = -1;
            for (int c = 0; c < frame.count; ++c)
                if (frame.components[c].id == p[1 + 2 * i])
                    indices[i] = c;
            if (indices[i] < 0)
                return false;
            for (int j = 0; j < i; ++j)
                if (indices[j] == indices[i])
                    return false;
            s.table = p[2 + 2 * i] & 15;
        }
        s.ss = p[1 + 2 * comps];
        s.se = p[2 + 2 * comps];
        s.ah = p[3 + 2 * comps] >> 4;
        s.al = p[3 + 2 * comps] & 15;
        if (s.ss == 0 ? s.se != 0 : (s.ss > s.se || s.se > 63 || comps != 1))
            return false;
        if ((s.ah != 0 && s.al != s.ah - 1) || s.al > 13)
            return false;
        for (int i = 0; i < comps; ++i) {
            signed char *bits = coefBits[indices[i]];
            if (s.ss > 0 && bits[0] < 0)
                return false;
            for (int k = s.ss; k <= s.se; ++k) {
                if (s.ah != (bits[k] < 0 ? 0 : bits[k]))
                    return false;
                bits[k] = static_cast<signed char>(s.al);
            }
        }
        s.component = indices[0];
        return true;
    }

    const Frame &frame;
    HuffmanTable tables[4];
    unsigned restartInterval = 0;
    signed char coefBits[4][64];
    std::vector<std::unique_ptr<ScanState>> scans[4]; // each component's AC scans, in file order
    Masks masks[4];                                   // when decoding a row at a time
    unsigned nextRow[4] = {};
};

} // namespace

bool ReadMarkerSegment(const std::uint8_t *data, std::size_t size, std::size_t pos, MarkerSegment &seg)
{
    if (pos + 1 >= size || data[pos] != 0xFF)
        return false;
    while (pos < size && data[pos] == 0xFF)
        ++pos; // fill bytes
    if (pos >= size)
        return false;
    seg.marker = data[pos++];
    if (seg.marker == 0xD9) {
        seg.body = seg.end = pos;
        return true;
    }
    if (pos + 2 > size)
        return false;
    const std::size_t length = std::size_t(data[pos]) << 8 | data[pos + 1];
    if (length < 2 || pos + length > size)
        return false;
    seg.body = pos + 2;
    seg.end = pos + length;
    return true;
}

std::size_t ScanDataEnd(const std::uint8_t *data, std::size_t size, std::size_t pos)
{
    while (pos + 1 < size) {
        const void *ff = std::memchr(data + pos, 0xFF, size - pos - 1);
        if (!ff)
            return size;
        pos = std::size_t(static_cast<const std::uint8_t *>(ff) - data);
        const std::uint8_t next = data[pos + 1];
        if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7))
            return pos;
        pos += 2;
    }
    return size;
}

void UsePdep(bool on)
{
    g_usePdep.store(on && kFastPdep);
}

bool DecodeAcScans(const std::uint8_t *data, std::size_t size, std::size_t first, const Frame &frame)
{
    if (frame.count < 1 || frame.count > 4)
        return false;
    for (int c = 0; c < frame.count; ++c)
        if (frame.components[c].rows && frame.components[c].rowBlocks < frame.components[c].widthInBlocks)
            return false;
    try {
        auto decoder = std::make_unique<AcDecoder>(frame);
        return decoder->Run(data, size, first);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

struct RowReader::Impl {
    explicit Impl(const Frame &f) : frame(f), decoder(frame) {}
    Frame frame;
    std::vector<Block *> rows[4]; // the row being decoded, where the decoder looks for it
    AcDecoder decoder;
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;

bool RowReader::Start(const std::uint8_t *data, std::size_t size, std::size_t first, const Frame &frame,
                      const bool *wanted)
{
    m_impl.reset();
    if (frame.count < 1 || frame.count > 4)
        return false;
    try {
        auto impl = std::make_unique<Impl>(frame);
        impl->frame.helper = false;
        for (int c = 0; c < frame.count; ++c) {
            Component &comp = impl->frame.components[c];
            impl->rows[c].assign(wanted[c] ? comp.heightInBlocks : 0, nullptr);
            comp.rows = wanted[c] ? impl->rows[c].data() : nullptr;
            comp.rowBlocks = comp.widthInBlocks;
            comp.zeroed = true;
        }
        if (!impl->decoder.Start(data, size, first))
            return false;
        m_impl = std::move(impl);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool RowReader::Row(int component, unsigned y, Block *row)
{
    if (!m_impl || component < 0 || component >= m_impl->frame.count)
        return false;
    std::vector<Block *> &rows = m_impl->rows[component];
    if (y < rows.size())
        rows[y] = row;
    const bool ok = m_impl->decoder.Row(component, y);
    if (y < rows.size())
        rows[y] = nullptr;
    return ok;
}

} // namespace progressivejpeg
