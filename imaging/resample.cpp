// Resampling: separable Lanczos-3 in fixed point. The kernel is widened by
// the reduction factor when shrinking, so every source pixel contributes and
// detail finer than the new pixel grid averages out instead of aliasing.
//
// Samples travel as 16-bit values with 6 fraction bits; weights have 14 bits
// and sum to exactly one, so a flat area stays exactly flat. The pass that
// shrinks the row count runs first (vertical when the height shrinks), so
// the costlier horizontal pass sees as few rows as possible; rows go through
// a small ring, so memory is read and written in order.
#include "imaging/cximage.h"
#include "imaging/formats.h"

#include "imaging/codecs/codecs.h"
#include "imaging/pixelops.h"
#include "imaging/resampledrows.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <numbers>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr int kWeightBits = 14;
constexpr int kFracBits = 6; // fraction bits of the samples between passes
constexpr int kAccBits = kWeightBits + kFracBits;
constexpr int kLobes = 3;

double Lanczos(double x)
{
    x = std::fabs(x);
    if (x < 1e-12)
        return 1.0;
    if (x >= kLobes)
        return 0.0;
    const double px = std::numbers::pi * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// Weights of every output position along one axis. Each position's weights
// are padded with zeros to a multiple of 8 for the vector dot products.
struct Taps {
    std::vector<int> first;  // first source index
    std::vector<int> count;  // weights that matter
    std::vector<int> offset; // into weights
    std::vector<std::int16_t> weights; // a block of `stride` for each output
    int maxCount = 0;
    int stride = 0; // the longest count, padded with zeros to a multiple of eight
};

void MakeTaps(int srcLen, int dstLen, Taps &t)
{
    const double scale = double(srcLen) / double(dstLen);
    const double widen = std::max(1.0, scale);
    const double support = kLobes * widen;
    t.first.resize(std::size_t(dstLen));
    t.count.resize(std::size_t(dstLen));
    t.offset.resize(std::size_t(dstLen));
    t.weights.clear();
    t.maxCount = 0;
    t.weights.reserve(std::size_t(dstLen) * std::size_t(2 * std::ceil(support) + 10));
    std::vector<double> w;
    std::vector<std::int16_t> q;
    for (int i = 0; i < dstLen; ++i) {
        // Pixel centres sit at half-integers on both axes.
        const double centre = (i + 0.5) * scale;
        const int lo = std::max(0, int(std::floor(centre - support)));
        const int hi = std::min(srcLen, int(std::ceil(centre + support)));
        w.assign(std::size_t(hi - lo), 0.0);
        double sum = 0;
        for (int j = lo; j < hi; ++j) {
            w[std::size_t(j - lo)] = Lanczos((j + 0.5 - centre) / widen);
            sum += w[std::size_t(j - lo)];
        }
        q.assign(w.size(), 0);
        if (sum <= 1e-9) {
            // Not reachable with this kernel; the nearest pixel is a safe answer.
            q[std::size_t(std::clamp(int(centre), lo, hi - 1) - lo)] = 1 << kWeightBits;
        } else {
            // Rounding the running total keeps the sum exact and every weight
            // within one unit of its true value.
            double run = 0;
            long prev = 0;
            for (std::size_t k = 0; k < w.size(); ++k) {
                run += w[k] / sum;
                const long now =
                    k + 1 == w.size() ? (1L << kWeightBits) : std::lround(run * (1 << kWeightBits));
                q[k] = std::int16_t(now - prev);
                prev = now;
            }
        }
        std::size_t a = 0, b = q.size();
        while (a < b && q[a] == 0)
            ++a;
        while (b > a && q[b - 1] == 0)
            --b;
        const int n = int(b - a);
        t.first[std::size_t(i)] = lo + int(a);
        t.count[std::size_t(i)] = n;
        t.offset[std::size_t(i)] = int(t.weights.size());
        t.weights.insert(t.weights.end(), q.begin() + std::ptrdiff_t(a), q.begin() + std::ptrdiff_t(b));
        t.maxCount = std::max(t.maxCount, n);
    }
    // Every output's weights in a block of the same length, so that a
    // vector pass can take as many for each.
    t.stride = (t.maxCount + 7) & ~7;
    std::vector<std::int16_t> uniform(std::size_t(dstLen) * std::size_t(t.stride), 0);
    for (int i = 0; i < dstLen; ++i) {
        const std::size_t at = std::size_t(i) * std::size_t(t.stride);
        std::copy_n(t.weights.begin() + t.offset[std::size_t(i)], t.count[std::size_t(i)],
                    uniform.begin() + std::ptrdiff_t(at));
        t.offset[std::size_t(i)] = int(at);
    }
    t.weights.swap(uniform);
}

// The taps of the last sizes met on this thread, copied out: a run's
// photos often share their sizes, and every weight costs two sines.
void CachedTaps(int srcLen, int dstLen, Taps &t)
{
    struct Entry {
        int srcLen = 0, dstLen = 0;
        Taps taps;
    };
    constexpr unsigned kEntries = 16;
    thread_local Entry cache[kEntries];
    thread_local unsigned next = 0;
    for (const Entry &e : cache) {
        if (e.srcLen == srcLen && e.dstLen == dstLen) {
            t = e.taps;
            return;
        }
    }
    Entry &e = cache[next++ % kEntries];
    e.srcLen = e.dstLen = 0; // until its taps are whole
    MakeTaps(srcLen, dstLen, e.taps);
    e.srcLen = srcLen;
    e.dstLen = dstLen;
    t = e.taps;
}

inline std::int16_t ToSample(std::int32_t acc)
{
    return std::int16_t(std::clamp((acc + (1 << (kWeightBits - 1))) >> kWeightBits, -32768, 32767));
}

inline BYTE ToByte(std::int32_t acc)
{
    return BYTE(std::clamp((acc + (1 << (kAccBits - 1))) >> kAccBits, 0, 255));
}

// A row of accumulators to bytes, eight at a time where the processor can:
// the saturating packs clamp as ToByte does.
void ToBytes(const std::int32_t *acc, std::size_t n, BYTE *d)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i round = _mm_set1_epi32(1 << (kAccBits - 1));
    for (; i + 8 <= n; i += 8) {
        const __m128i lo = _mm_srai_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(acc + i)), round), kAccBits);
        const __m128i hi = _mm_srai_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(acc + i + 4)), round), kAccBits);
        const __m128i words = _mm_packs_epi32(lo, hi);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(d + i), _mm_packus_epi16(words, words));
    }
#endif
    for (; i < n; ++i)
        d[i] = ToByte(acc[i]);
}

// Premultiplied B, G, R, A accumulators back to B, G, R and alpha.
void StoreAlphaRow(const std::int32_t *acc, int width, BYTE *bgr, BYTE *alpha)
{
    for (int x = 0; x < width; ++x, acc += 4) {
        const std::int64_t a = acc[3];
        alpha[x] = ToByte(acc[3]);
        for (int c = 0; c < 3; ++c) {
            const std::int64_t v = a > 0 ? (std::int64_t(acc[c]) * 255 + a / 2) / a : 0;
            bgr[x * 3 + c] = BYTE(std::clamp<std::int64_t>(v, 0, 255));
        }
    }
}

// --- Vertical pass: rows[k] * w[k] summed, over len samples ---------------

enum class Out { Samples, Bytes, Acc };

template <Out O>
void VerticalPass(const std::int16_t *const *rows, const std::int16_t *w, int n, std::size_t len, void *dst)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= len; i += 8) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        int k = 0;
        for (; k + 1 < n; k += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + i));
            const __m128i wp =
                _mm_set1_epi32(int((std::uint32_t(std::uint16_t(w[k + 1])) << 16) | std::uint16_t(w[k])));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), wp));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), wp));
        }
        if (k < n) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i));
            const __m128i wp = _mm_set1_epi32(std::uint16_t(w[k]));
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, _mm_setzero_si128()), wp));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, _mm_setzero_si128()), wp));
        }
        if constexpr (O == Out::Samples) {
            const __m128i r = _mm_set1_epi32(1 << (kWeightBits - 1));
            lo = _mm_srai_epi32(_mm_add_epi32(lo, r), kWeightBits);
            hi = _mm_srai_epi32(_mm_add_epi32(hi, r), kWeightBits);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(static_cast<std::int16_t *>(dst) + i),
                             _mm_packs_epi32(lo, hi));
        } else if constexpr (O == Out::Bytes) {
            const __m128i r = _mm_set1_epi32(1 << (kAccBits - 1));
            lo = _mm_srai_epi32(_mm_add_epi32(lo, r), kAccBits);
            hi = _mm_srai_epi32(_mm_add_epi32(hi, r), kAccBits);
            const __m128i words = _mm_packs_epi32(lo, hi);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(static_cast<BYTE *>(dst) + i),
                             _mm_packus_epi16(words, words));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(static_cast<std::int32_t *>(dst) + i), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(static_cast<std::int32_t *>(dst) + i + 4), hi);
        }
    }
#endif
    for (; i < len; ++i) {
        std::int32_t acc = 0;
        for (int k = 0; k < n; ++k)
            acc += std::int32_t(w[k]) * rows[k][i];
        if constexpr (O == Out::Samples)
            static_cast<std::int16_t *>(dst)[i] = ToSample(acc);
        else if constexpr (O == Out::Bytes)
            static_cast<BYTE *>(dst)[i] = ToByte(acc);
        else
            static_cast<std::int32_t *>(dst)[i] = acc;
    }
}

#if defined(__x86_64__) || defined(__i386__)
bool HaveAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#else
bool HaveAvx2()
{
    return false;
}
#endif

const bool kHaveAvx2 = HaveAvx2();
std::atomic<bool> g_avx2{kHaveAvx2};

bool UseAvx2()
{
    return g_avx2.load(std::memory_order_relaxed);
}

// The vertical pass straight from 8-bit rows, for opaque colour pictures:
// the sums are those over samples (bytes with kFracBits fraction bits)
// divided by 2^kFracBits, so rounding them by the rest of the weight bits
// gives exactly the same samples, without the rows first widened into a
// ring.
void VerticalPassBytes(const BYTE *const *rows, const std::int16_t *w, int n, std::size_t len,
                       std::int16_t *dst, std::size_t from = 0)
{
    constexpr int kShift = kWeightBits - kFracBits;
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
    for (; i + 16 <= len; i += 16) {
        __m128i acc[4] = {zero, zero, zero, zero};
        for (int k = 0; k < n; k += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i));
            const bool pair = k + 1 < n;
            const __m128i b =
                pair ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + i)) : zero;
            const std::uint16_t w1 = pair ? std::uint16_t(w[k + 1]) : 0;
            const __m128i wp = _mm_set1_epi32(int((std::uint32_t(w1) << 16) | std::uint16_t(w[k])));
            const __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
            const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
            acc[0] = _mm_add_epi32(acc[0], _mm_madd_epi16(_mm_unpacklo_epi16(aLo, bLo), wp));
            acc[1] = _mm_add_epi32(acc[1], _mm_madd_epi16(_mm_unpackhi_epi16(aLo, bLo), wp));
            acc[2] = _mm_add_epi32(acc[2], _mm_madd_epi16(_mm_unpacklo_epi16(aHi, bHi), wp));
            acc[3] = _mm_add_epi32(acc[3], _mm_madd_epi16(_mm_unpackhi_epi16(aHi, bHi), wp));
        }
        for (__m128i &a : acc)
            a = _mm_srai_epi32(_mm_add_epi32(a, round), kShift);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_packs_epi32(acc[0], acc[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i + 8), _mm_packs_epi32(acc[2], acc[3]));
    }
#endif
    for (; i < len; ++i) {
        std::int32_t acc = 0;
        for (int k = 0; k < n; ++k)
            acc += std::int32_t(w[k]) * rows[k][i];
        dst[i] = std::int16_t(std::clamp((acc + (1 << (kShift - 1))) >> kShift, -32768, 32767));
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The same with 256-bit vectors, where the processor has them: the same
// integer sums, so the same samples.
__attribute__((target("avx2"))) void VerticalPassBytesAvx2(const BYTE *const *rows, const std::int16_t *w,
                                                           int n, std::size_t len, std::int16_t *dst)
{
    constexpr int kShift = kWeightBits - kFracBits;
    std::size_t i = 0;
    const __m256i round = _mm256_set1_epi32(1 << (kShift - 1));
    for (; i + 32 <= len; i += 32) {
        __m256i acc[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
                          _mm256_setzero_si256()};
        for (int k = 0; k < n; k += 2) {
            const bool pair = k + 1 < n;
            const std::uint16_t w1 = pair ? std::uint16_t(w[k + 1]) : 0;
            const __m256i wp = _mm256_set1_epi32(int((std::uint32_t(w1) << 16) | std::uint16_t(w[k])));
            for (int half = 0; half < 2; ++half) {
                const BYTE *pa = rows[k] + i + 16 * half;
                const __m256i a =
                    _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pa)));
                const __m256i b = pair ? _mm256_cvtepu8_epi16(_mm_loadu_si128(
                                             reinterpret_cast<const __m128i *>(rows[k + 1] + i + 16 * half)))
                                       : _mm256_setzero_si256();
                // In-lane interleaving: samples 0-3 and 8-11, then 4-7 and
                // 12-15, which the in-lane pack below puts back in order.
                acc[2 * half] =
                    _mm256_add_epi32(acc[2 * half], _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), wp));
                acc[2 * half + 1] =
                    _mm256_add_epi32(acc[2 * half + 1], _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), wp));
            }
        }
        for (__m256i &a : acc)
            a = _mm256_srai_epi32(_mm256_add_epi32(a, round), kShift);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_packs_epi32(acc[0], acc[1]));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i + 16), _mm256_packs_epi32(acc[2], acc[3]));
    }
    VerticalPassBytes(rows, w, n, len, dst, i);
}
#endif

void VerticalPassBytesBest(const BYTE *const *rows, const std::int16_t *w, int n, std::size_t len,
                           std::int16_t *dst)
{
#if defined(__x86_64__) || defined(__i386__)
    if (UseAvx2())
        return VerticalPassBytesAvx2(rows, w, n, len, dst);
#endif
    VerticalPassBytes(rows, w, n, len, dst);
}

// Entries in each of the two tables of pairs of a row of width pixels:
// past its end, zeros as far as taps as many as the longest read.
std::size_t PairTableEntries(int width, const Taps &t)
{
    return std::size_t(width + 1) / 2 + std::size_t(t.stride) / 2 + 2;
}

#if defined(__x86_64__) || defined(__i386__)

// One output pixel's three sums over steps of four taps: each step one
// load of two pairs (taps k, k+1 and k+2, k+3) and their weights, spread
// to the lanes as the multiply-add takes them.
template <int Steps>
__attribute__((target("avx2"), always_inline)) inline __m128i Dot3Pairs(const __m256i *p,
                                                                        const std::int16_t *w, int steps)
{
    const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    __m256i s = _mm256_setzero_si256();
    const int n = Steps > 0 ? Steps : steps;
    for (int i = 0; i < n; ++i) {
        const __m256i wv = _mm256_permutevar8x32_epi32(
            _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(w + 4 * i))), spread);
        s = _mm256_add_epi32(s, _mm256_madd_epi16(_mm256_loadu_si256(p + i), wv));
    }
    return _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
}

// Eight samples from pixel a in the low lane, eight from pixel b in the high.
__attribute__((target("avx2"), always_inline)) inline __m256i LoadPixels2(const std::int16_t *src, int a,
                                                                          int b)
{
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + a * 3))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + b * 3)), 1);
}

// Every output pixel's three sums from the tables of pairs below, Steps
// steps of four taps each (0: steps, known only when run). Each store
// writes a fourth sum (zero) the next pixel's store replaces.
template <int Steps>
__attribute__((target("avx2"))) void Outputs3(std::int16_t *const table[2], const Taps &t, int steps,
                                              int dstWidth, std::int32_t *acc)
{
    const int *first = t.first.data();
    const std::int16_t *w = t.weights.data();
    const std::size_t stride = std::size_t(t.stride);
    const auto at = [&](int o) {
        const unsigned f = unsigned(first[o]);
        return reinterpret_cast<const __m256i *>(table[f & 1] + std::size_t(f >> 1) * 8);
    };
    int o = 0;
    for (; o + 1 < dstWidth; ++o)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(acc + o * 3),
                         Dot3Pairs<Steps>(at(o), w + std::size_t(o) * stride, steps));
    for (; o < dstWidth; ++o) {
        const __m128i s = Dot3Pairs<Steps>(at(o), w + std::size_t(o) * stride, steps);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(acc + o * 3), s);
        acc[o * 3 + 2] = _mm_extract_epi32(s, 2);
    }
}

// The horizontal pass over three channels: the row first laid out as the
// pairs the multiply-adds take (pixels j and j+1 side by side in each
// channel: r r g g b b 0 0), the even positions' pairs in one table and the
// odd ones' in another, so that taps k to k+3 of a pixel are one load.
// Each output pixel is then a multiply-add per four taps into its three
// sums. The same integer sums as below.
__attribute__((target("avx2"))) void HorizontalPass3Avx2(const std::int16_t *src, int width,
                                                         std::int16_t *pairs, const Taps &t, int dstWidth,
                                                         std::int32_t *acc)
{
    const std::size_t half = PairTableEntries(width, t);
    std::int16_t *table[2] = {pairs, pairs + half * 8};
    // Pixel j's and j+1's samples (0-2 and 3-5 of eight) paired by channel.
    const __m256i pairUp =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1));
    int j = 0;
    // Four positions a step, read no further than the row's last sample.
    for (; j + 6 <= width; j += 4) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(table[0] + std::size_t(j / 2) * 8),
                            _mm256_shuffle_epi8(LoadPixels2(src, j, j + 2), pairUp));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(table[1] + std::size_t(j / 2) * 8),
                            _mm256_shuffle_epi8(LoadPixels2(src, j + 1, j + 3), pairUp));
    }
    // The rest, and zeros past the end under the zero weights that pad
    // each pixel's taps.
    for (; j < 2 * int(half); ++j) {
        std::int16_t *p = table[j & 1] + std::size_t(j / 2) * 8;
        for (int c = 0; c < 3; ++c) {
            p[2 * c] = j < width ? src[j * 3 + c] : 0;
            p[2 * c + 1] = j + 1 < width ? src[(j + 1) * 3 + c] : 0;
        }
        p[6] = p[7] = 0;
    }

    // As many whole steps of four taps for every pixel as the longest needs:
    // the weights past each one's own are zeros.
    const int steps = (t.maxCount + 3) / 4;
    switch (steps) {
    case 1:
        return Outputs3<1>(table, t, steps, dstWidth, acc);
    case 2:
        return Outputs3<2>(table, t, steps, dstWidth, acc);
    case 3:
        return Outputs3<3>(table, t, steps, dstWidth, acc);
    case 4:
        return Outputs3<4>(table, t, steps, dstWidth, acc);
    default:
        return Outputs3<0>(table, t, steps, dstWidth, acc);
    }
}

#endif

// --- Horizontal pass over one row of C-channel samples ----------------------

template <int C> class HorizontalPass {
public:
    bool Init(int srcWidth)
    {
        try {
            m_planes.assign(std::size_t(C) * std::size_t(srcWidth + 8), 0);
        } catch (const std::bad_alloc &) {
            return false;
        }
        m_stride = std::size_t(srcWidth + 8);
        m_width = srcWidth;
        return true;
    }

    // Filters src (srcWidth interleaved pixels) into accumulators, C per
    // output pixel.
    void Run(const std::int16_t *src, const Taps &t, int dstWidth, std::int32_t *acc)
    {
#if defined(__x86_64__) || defined(__i386__)
        if constexpr (C == 3) {
            if (UseAvx2()) {
                // Room for the two tables of pairs of pixels, made once for
                // the taps' length (short of memory, the planes below).
                const std::size_t pairs = 2 * PairTableEntries(m_width, t) * 8;
                bool room = true;
                try {
                    if (m_planes.size() < pairs)
                        m_planes.resize(pairs);
                } catch (const std::bad_alloc &) {
                    room = false;
                }
                if (room) {
                    HorizontalPass3Avx2(src, m_width, m_planes.data(), t, dstWidth, acc);
                    return;
                }
            }
        }
#endif
        // Channel planes make each dot product a run of contiguous samples.
        for (int x = 0; x < m_width; ++x)
            for (int c = 0; c < C; ++c)
                m_planes[std::size_t(c) * m_stride + std::size_t(x)] = src[x * C + c];
        const std::int16_t *plane[C];
        for (int c = 0; c < C; ++c)
            plane[c] = m_planes.data() + std::size_t(c) * m_stride;
        for (int x = 0; x < dstWidth; ++x) {
            const int first = t.first[std::size_t(x)];
            const int n = t.count[std::size_t(x)];
            const std::int16_t *w = t.weights.data() + t.offset[std::size_t(x)];
#if defined(__SSE2__)
            __m128i sum[C];
            for (int c = 0; c < C; ++c)
                sum[c] = _mm_setzero_si128();
            for (int k = 0; k < n; k += 8) {
                const __m128i wv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w + k));
                for (int c = 0; c < C; ++c)
                    sum[c] = _mm_add_epi32(
                        sum[c],
                        _mm_madd_epi16(
                            _mm_loadu_si128(reinterpret_cast<const __m128i *>(plane[c] + first + k)), wv));
            }
            for (int c = 0; c < C; ++c) {
                __m128i s = _mm_add_epi32(sum[c], _mm_shuffle_epi32(sum[c], 0x4E));
                s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
                acc[x * C + c] = _mm_cvtsi128_si32(s);
            }
#else
            for (int c = 0; c < C; ++c) {
                std::int32_t s = 0;
                for (int k = 0; k < n; ++k)
                    s += std::int32_t(w[k]) * plane[c][first + k];
                acc[x * C + c] = s;
            }
#endif
        }
    }

private:
    std::vector<std::int16_t> m_planes; // zero padding past the end of each
    std::size_t m_stride = 0;
    int m_width = 0;
};

// --- Source rows as samples ---------------------------------------------------

struct Source {
    const CxImage *img = nullptr;
    bool alpha = false; // 4 channels, premultiplied
    bool paletted = false;
    std::int16_t lut[256][4] = {};

    void Row(int y, std::int16_t *dst) const
    {
        const BYTE *s = img->GetBits(y);
        const int w = img->GetWidth();
        if (paletted) {
            const int c = alpha ? 4 : 3;
            for (int x = 0; x < w; ++x, dst += c)
                std::memcpy(dst, lut[s[x]], sizeof(std::int16_t) * std::size_t(c));
            return;
        }
        if (!alpha) {
            const int n = w * 3;
            int i = 0;
#if defined(__SSE2__)
            const __m128i zero = _mm_setzero_si128();
            for (; i + 16 <= n; i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i),
                                 _mm_slli_epi16(_mm_unpacklo_epi8(v, zero), kFracBits));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i + 8),
                                 _mm_slli_epi16(_mm_unpackhi_epi8(v, zero), kFracBits));
            }
#endif
            for (; i < n; ++i)
                dst[i] = std::int16_t(s[i] << kFracBits);
            return;
        }
        const BYTE *a = img->AlphaGetPointer(y);
        for (int x = 0; x < w; ++x, dst += 4, s += 3) {
            const int al = a[x];
            for (int c = 0; c < 3; ++c)
                dst[c] = std::int16_t((s[c] * al * (1 << kFracBits) + 127) / 255);
            dst[3] = std::int16_t(al << kFracBits);
        }
    }
};

// Rows of samples kept while a window of output rows needs them.
class RowRing {
public:
    bool Init(int rows, std::size_t len)
    {
        m_rows = std::max(1, rows);
        m_len = len;
        try {
            m_data.assign(std::size_t(m_rows) * len, 0);
            m_held.assign(std::size_t(m_rows), -1);
        } catch (const std::bad_alloc &) {
            return false;
        }
        return true;
    }
    // Slot for source row y, and whether it already holds it.
    std::int16_t *Slot(int y, bool &held)
    {
        const std::size_t s = std::size_t(y % m_rows);
        held = m_held[s] == y;
        m_held[s] = y;
        return m_data.data() + s * m_len;
    }

private:
    std::vector<std::int16_t> m_data;
    std::vector<int> m_held;
    int m_rows = 1;
    std::size_t m_len = 0;
};

// Output rows of an opaque colour picture whose height shrinks, each made
// from the source rows under its filter where they lie (bytes).
class ByteRowShrinker {
public:
    bool Init(int srcW, int dstW, int taps)
    {
        try {
            m_row.resize(std::size_t(srcW) * 3);
            m_acc.resize(std::size_t(std::max(srcW, dstW)) * 3);
            m_rows.resize(std::size_t(std::max(1, taps)));
        } catch (const std::bad_alloc &) {
            return false;
        }
        return m_hpass.Init(srcW);
    }
    // Output row y into d; rowAt(i) is source row i.
    template <class RowAt> void Make(RowAt &&rowAt, const Taps &tx, const Taps &ty, int y, BYTE *d)
    {
        const int first = ty.first[std::size_t(y)];
        const int n = ty.count[std::size_t(y)];
        for (int k = 0; k < n; ++k)
            m_rows[std::size_t(k)] = rowAt(first + k);
        VerticalPassBytesBest(m_rows.data(), ty.weights.data() + ty.offset[std::size_t(y)], n, m_row.size(),
                              m_row.data());
        const int dstW = int(tx.first.size());
        m_hpass.Run(m_row.data(), tx, dstW, m_acc.data());
        ToBytes(m_acc.data(), std::size_t(dstW) * 3, d);
    }

private:
    HorizontalPass<3> m_hpass;
    std::vector<std::int16_t> m_row; // the vertical pass's result
    std::vector<std::int32_t> m_acc;
    std::vector<const BYTE *> m_rows;
};

// Output rows of an opaque colour picture whose height grows, made as the
// whole picture's are: each source row filtered across first, as it comes,
// and kept as samples while the output rows under it need it.
class ByteRowWidener {
public:
    bool Init(int srcW, int dstW, int ring)
    {
        m_ring = std::max(1, ring);
        m_len = std::size_t(dstW) * 3;
        try {
            m_row.resize(std::size_t(srcW) * 3);
            m_acc.resize(std::size_t(std::max(srcW, dstW)) * 3);
            m_samples.resize(std::size_t(m_ring) * m_len);
            m_rows.resize(std::size_t(m_ring));
        } catch (const std::bad_alloc &) {
            return false;
        }
        return m_hpass.Init(srcW);
    }
    // Source row y, as bytes.
    void Add(const BYTE *bgr, int y, const Taps &tx)
    {
        for (std::size_t i = 0; i < m_row.size(); ++i)
            m_row[i] = std::int16_t(bgr[i] << kFracBits);
        m_hpass.Run(m_row.data(), tx, int(m_len / 3), m_acc.data());
        std::int16_t *slot = Slot(y);
        for (std::size_t i = 0; i < m_len; ++i)
            slot[i] = ToSample(m_acc[i]);
    }
    // Output row y into d, once the source rows under it are in.
    void Make(const Taps &ty, int y, BYTE *d)
    {
        const int first = ty.first[std::size_t(y)];
        const int n = ty.count[std::size_t(y)];
        for (int k = 0; k < n; ++k)
            m_rows[std::size_t(k)] = Slot(first + k);
        VerticalPass<Out::Bytes>(m_rows.data(), ty.weights.data() + ty.offset[std::size_t(y)], n, m_len, d);
    }

private:
    std::int16_t *Slot(int y) { return m_samples.data() + std::size_t(y % m_ring) * m_len; }

    HorizontalPass<3> m_hpass;
    std::vector<std::int16_t> m_row, m_samples;
    std::vector<std::int32_t> m_acc;
    std::vector<const std::int16_t *> m_rows;
    std::size_t m_len = 0;
    int m_ring = 1;
};

template <int C>
bool ResampleBand(const Source &src, const Taps &tx, const Taps &ty, CxImage &out, int y0, int y1)
{
    const int srcW = src.img->GetWidth();
    const int dstW = out.GetWidth();
    const bool verticalFirst = out.GetHeight() <= src.img->GetHeight();
    const std::size_t srcLen = std::size_t(srcW) * C, dstLen = std::size_t(dstW) * C;

    // Opaque colour rows shrinking in height are read where they lie.
    if (C == 3 && verticalFirst && !src.alpha && !src.paletted) {
        ByteRowShrinker shrink;
        if (!shrink.Init(srcW, dstW, ty.maxCount))
            return false;
        for (int y = y0; y < y1; ++y)
            shrink.Make([&](int i) { return src.img->GetBits(i); }, tx, ty, y, out.GetBits(y));
        return true;
    }
    RowRing ring;
    HorizontalPass<C> hpass;
    std::vector<std::int16_t> row; // one source row, or one vertical result
    std::vector<std::int32_t> acc; // accumulators of one output row
    std::vector<const std::int16_t *> rows(std::size_t(std::max(1, ty.maxCount)));
    try {
        row.resize(srcLen);
        acc.resize(std::max(srcLen, dstLen));
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!ring.Init(ty.maxCount, verticalFirst ? srcLen : dstLen) || !hpass.Init(srcW))
        return false;

    for (int y = y0; y < y1; ++y) {
        const int first = ty.first[std::size_t(y)];
        const int n = ty.count[std::size_t(y)];
        const std::int16_t *w = ty.weights.data() + ty.offset[std::size_t(y)];
        for (int k = 0; k < n; ++k) {
            bool held;
            std::int16_t *slot = ring.Slot(first + k, held);
            if (!held) {
                if (verticalFirst) {
                    src.Row(first + k, slot);
                } else {
                    src.Row(first + k, row.data());
                    hpass.Run(row.data(), tx, dstW, acc.data());
                    for (std::size_t i = 0; i < dstLen; ++i)
                        slot[i] = ToSample(acc[i]);
                }
            }
            rows[std::size_t(k)] = slot;
        }
        BYTE *d = out.GetBits(y);
        if (verticalFirst) {
            VerticalPass<Out::Samples>(rows.data(), w, n, srcLen, row.data());
            hpass.Run(row.data(), tx, dstW, acc.data());
            if constexpr (C == 3) {
                ToBytes(acc.data(), dstLen, d);
            } else {
                StoreAlphaRow(acc.data(), dstW, d, out.AlphaGetPointer(y));
            }
        } else if constexpr (C == 3) {
            VerticalPass<Out::Bytes>(rows.data(), w, n, dstLen, d);
        } else {
            VerticalPass<Out::Acc>(rows.data(), w, n, dstLen, acc.data());
            StoreAlphaRow(acc.data(), dstW, d, out.AlphaGetPointer(y));
        }
    }
    return true;
}

template <int C> bool RunBands(const Source &src, const Taps &tx, const Taps &ty, CxImage &out)
{
    const double work = double(std::min(src.img->GetHeight(), out.GetHeight())) *
                        std::max(src.img->GetWidth(), out.GetWidth()) * (tx.maxCount + ty.maxCount);
    return cxops::ParallelBands(out.GetHeight(), work,
                                [&](int y0, int y1) { return ResampleBand<C>(src, tx, ty, out, y0, y1); });
}

// Large shrinks of colour pictures start with a k x k box average:
// the Lanczos filter after it still reduces by kBoxResidual or more, which
// removes what the box lets through, at a fraction of the cost of a filter
// wide enough for the whole reduction.
constexpr double kBoxFrom = 6.0;
constexpr int kBoxResidual = 3;

bool BoxShrink(const CxImage &src, int k, CxImage &out)
{
    const int w = src.GetWidth(), h = src.GetHeight();
    const int bw = (w + k - 1) / k, bh = (h + k - 1) / k;
    const bool alpha = src.AlphaIsValid();
    if (!out.Create(bw, bh, 24, src.GetType()) || (alpha && !out.AlphaCreate()))
        return false;
    return cxops::ParallelBands(bh, double(w) * h * 3, [&](int b0, int b1) {
        cxops::BoxRow row;
        if (!row.Start(w, k, alpha))
            return false;
        for (int by = b0; by < b1; ++by) {
            const int y0 = by * k, y1 = std::min(h, y0 + k);
            for (int y = y0; y < y1; ++y)
                row.Add(src.GetBits(y), src.AlphaGetPointer(y));
            row.Finish(out.GetBits(by), out.AlphaGetPointer(by));
        }
        return true;
    });
}

} // namespace

void cxcodec::testhooks::SetResampleAvx2(bool on)
{
    g_avx2.store(on && kHaveAvx2);
}

namespace cxops {

int BoxFactor(int srcWidth, int srcHeight, int width, int height)
{
    const double sx = double(srcWidth) / width, sy = double(srcHeight) / height;
    if (width <= 0 || height <= 0 || sx < kBoxFrom || sy < kBoxFrom)
        return 0;
    // At most 256 x 256 pixels a box, so alpha-weighted sums fit 32 bits.
    return std::min(256, int(std::min(sx, sy)) / kBoxResidual);
}

bool BoxRow::Start(int width, int k, bool alpha)
{
    m_width = width;
    m_k = k;
    m_alpha = alpha;
    m_rows = 0;
    try {
        // Opaque: k <= 256 rows of 255 fit 16 bits a column.
        m_columns.assign(alpha ? 0 : std::size_t(width) * 3, 0);
        m_weighted.assign(alpha ? std::size_t(width) * 4 : 0, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void BoxRow::Add(const BYTE *bgr, const BYTE *alpha)
{
    ++m_rows;
    if (!m_alpha) {
        std::uint16_t *__restrict col = m_columns.data();
        const BYTE *__restrict s = bgr;
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            col[i] = std::uint16_t(col[i] + s[i]);
        return;
    }
    // Colour weighted by alpha, so transparent pixels lend no colour.
    std::uint32_t *col = m_weighted.data();
    for (int x = 0; x < m_width; ++x, col += 4) {
        const std::uint32_t a = alpha[x];
        col[0] += bgr[x * 3] * a;
        col[1] += bgr[x * 3 + 1] * a;
        col[2] += bgr[x * 3 + 2] * a;
        col[3] += a;
    }
}

void BoxRow::Finish(BYTE *out, BYTE *outAlpha)
{
    const int bw = (m_width + m_k - 1) / m_k;
    for (int bx = 0; bx < bw; ++bx) {
        const int x0 = bx * m_k, x1 = std::min(m_width, x0 + m_k);
        const std::uint32_t n = std::uint32_t((x1 - x0) * m_rows);
        if (!m_alpha) {
            std::uint32_t b = 0, g = 0, r = 0;
            for (int x = x0; x < x1; ++x) {
                b += m_columns[std::size_t(x) * 3];
                g += m_columns[std::size_t(x) * 3 + 1];
                r += m_columns[std::size_t(x) * 3 + 2];
            }
            out[bx * 3] = BYTE((b + n / 2) / n);
            out[bx * 3 + 1] = BYTE((g + n / 2) / n);
            out[bx * 3 + 2] = BYTE((r + n / 2) / n);
            continue;
        }
        std::uint32_t sum[4] = {};
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 4; ++c)
                sum[c] += m_weighted[std::size_t(x) * 4 + std::size_t(c)];
        const std::uint32_t t = sum[3];
        for (int c = 0; c < 3; ++c)
            out[bx * 3 + c] = t ? BYTE((sum[c] + t / 2) / t) : 0;
        if (outAlpha)
            outAlpha[bx] = BYTE((t + n / 2) / n);
    }
    std::fill(m_columns.begin(), m_columns.end(), std::uint16_t(0));
    std::fill(m_weighted.begin(), m_weighted.end(), 0u);
    m_rows = 0;
}

bool ResampleTo(const CxImage &src, int width, int height, CxImage &out)
{
    if (const int k = src.GetBpp() == 24 ? BoxFactor(src.GetWidth(), src.GetHeight(), width, height) : 0) {
        CxImage reduced;
        if (!BoxShrink(src, k, reduced)) {
            CxImageAccess::SetError(out, "out of memory");
            return false;
        }
        return ResampleTo(reduced, width, height, out);
    }

    Source s;
    s.img = &src;
    s.paletted = src.GetBpp() != 24;
    s.alpha = s.paletted ? src.IsTransparent() : src.AlphaIsValid();
    if (s.paletted) {
        const RGBQUAD *pal = src.GetPalette();
        const int trans = src.GetTransIndex();
        for (int i = 0; i < src.GetNumColors(); ++i) {
            if (s.alpha && i == trans)
                continue; // premultiplied transparency is all zero
            std::int16_t *e = s.lut[i];
            e[0] = std::int16_t(pal[i].rgbBlue << kFracBits);
            e[1] = std::int16_t(pal[i].rgbGreen << kFracBits);
            e[2] = std::int16_t(pal[i].rgbRed << kFracBits);
            e[3] = std::int16_t(255 << kFracBits);
        }
    }

    Taps tx, ty;
    CxImage result;
    try {
        CachedTaps(src.GetWidth(), width, tx);
        CachedTaps(src.GetHeight(), height, ty);
    } catch (const std::bad_alloc &) {
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    if (!result.Create(width, height, 24, src.GetType()) || (s.alpha && !result.AlphaCreate())) {
        CxImageAccess::SetError(out, result.GetLastError());
        return false;
    }
    const bool ok = s.alpha ? RunBands<4>(s, tx, ty, result) : RunBands<3>(s, tx, ty, result);
    if (!ok) {
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    out = std::move(result);
    return true;
}

} // namespace cxops

bool CxImage::Resample(long newx, long newy, int mode, CxImage *iDst)
{
    (void)mode; // every mode uses the one high-quality filter
    if (!IsValid()) {
        SetError("no image");
        return false;
    }
    // Checked before anything is allocated, whatever the caller passes.
    if (newx <= 0 || newy <= 0 || newx > kMaxDimension || newy > kMaxDimension ||
        std::int64_t(newx) * std::int64_t(newy) > kMaxPixels) {
        SetError(newx <= 0 || newy <= 0 ? "empty image size" : "image too large");
        return false;
    }
    const CxImage &self = *this;
    if (newx == m_width && newy == m_height) {
        if (iDst && iDst != this)
            cxops::DeliverInto(self, *iDst, CxImage(self));
        return true;
    }
    CxImage out;
    if (!cxops::ResampleTo(self, int(newx), int(newy), out)) {
        m_lastError = out.m_lastError;
        return false;
    }
    if (m_transColorSet)
        out.SetTransColor(m_transColor);
    if (iDst && iDst != this)
        cxops::DeliverInto(self, *iDst, std::move(out));
    else
        TakePixels(std::move(out));
    return true;
}

bool CxImage::ResampleInto(long newx, long newy, CxImage &dst) const
{
    // What Resample refuses, or a size it keeps, goes its way on a copy.
    if (&dst == this || !IsValid() || newx <= 0 || newy <= 0 || newx > kMaxDimension || newy > kMaxDimension ||
        std::int64_t(newx) * std::int64_t(newy) > kMaxPixels || (newx == m_width && newy == m_height)) {
        if (&dst != this)
            dst = *this;
        return dst.Resample(newx, newy, 0);
    }
    CxImage out;
    if (!cxops::ResampleTo(*this, int(newx), int(newy), out)) {
        dst = *this;
        dst.m_lastError = out.m_lastError;
        return false;
    }
    if (m_transColorSet)
        out.SetTransColor(m_transColor);
    dst.TakeSettings(*this);
    dst.TakePixels(std::move(out));
    return true;
}

struct ResampledRows::State {
    int fileWidth = 0, fileHeight = 0;
    std::uint32_t type = 0;
    Taps tx, ty;
    ByteRowShrinker shrink;
    // An enlargement (whose rows go on) filters each row across as it comes.
    std::optional<ByteRowWidener> widen;
    CxImage band; // the source rows, a ring of them
    // A grey picture's rows as colour, slot for slot with the band: its
    // palette is the identity, so they resample as a whole grey picture does.
    std::vector<BYTE> colour;
    int ring = 0;
    CxImage out;
    CxImage *sent = nullptr; // the next sink's band, when the rows go on
    bool stopped = false;    // the next sink wants no more rows
    int next = 0;       // output row to make next
    bool large = false; // rows at the file's own size of a picture too large to hold
    // Such a picture shrunk a lot is box-averaged by this factor as its rows
    // come (out is then the averaged picture, which the resize starts from,
    // as Resample would); 0 for the resample proper.
    int box = 0;
    cxops::BoxRow boxRow;
};

ResampledRows::ResampledRows(SizeRule rule, bool pastLimit) : m_rule(std::move(rule)), m_pastLimit(pastLimit) {}

ResampledRows::~ResampledRows() = default;

void ResampledRows::FileSize(int width, int height)
{
    if (!m && !(m = std::unique_ptr<State>(new (std::nothrow) State)))
        return;
    m->fileWidth = width;
    m->fileHeight = height;
}

CxImage *ResampledRows::Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta)
{
    if (!m && !(m = std::unique_ptr<State>(new (std::nothrow) State)))
        return nullptr;
    State &s = *m;
    const int fileW = s.fileWidth > 0 ? s.fileWidth : width, fileH = s.fileHeight > 0 ? s.fileHeight : height;
    s.fileWidth = s.fileHeight = 0; // told again before the next decode
    s.out.Destroy();
    s.band.Destroy();
    s.widen.reset();
    int dstW = 0, dstH = 0;
    // Only a decoder that may reduce as it reads gives grey rows the
    // identity palette CreateBand gives.
    const ImageFormat *format = FormatByType(type);
    s.large = m_pastLimit && format && format->facts.rowsIn == RowDecoding::FileRows &&
              !cxcodec::FitsPixelLimits(width, height);
    if (!format || (format->facts.rowsIn != RowDecoding::ScaledRows && !s.large) || (bpp != 24 && bpp != 8) ||
        !m_rule || !m_rule(fileW, fileH, meta, dstW, dstH))
        return nullptr;
    // What Resample would do otherwise: nothing, refuse the size, or start
    // with a box average (made here, as the rows come, for a picture too
    // large to hold).
    // (Rows that go on are never held: their picture may be past the limit;
    // nor are those of an enlargement, which are made only where they go on.)
    if (dstW <= 0 || dstH <= 0 || (dstH > height && !m_next) || (dstW == width && dstH == height) ||
        (!m_next && !cxcodec::FitsPixelLimits(dstW, dstH)))
        return nullptr;
    s.box = cxops::BoxFactor(width, height, dstW, dstH);
    if (s.box != 0 && (!s.large || m_next))
        return nullptr;
    s.sent = nullptr;
    s.stopped = false;
    if (s.box != 0) {
        try {
            s.colour.resize(bpp == 8 ? std::size_t(width) * 3 : 0);
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
        if (!s.boxRow.Start(width, s.box, false) || !CxImageAccess::CreateBand(s.band, width, height, bpp, type, 1) ||
            !CxImageAccess::CreateForDecode(s.out, (width + s.box - 1) / s.box, (height + s.box - 1) / s.box, 24,
                                            type))
            return nullptr;
        CxImageAccess::SetSourceSize(s.out, fileW, fileH);
        s.ring = 1;
        s.type = type;
        s.next = 0;
        return &s.band;
    }
    try {
        CachedTaps(width, dstW, s.tx);
        CachedTaps(height, dstH, s.ty);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    // (A picture too large to hold, or one whose rows go on, is shrunk
    // here however long it takes.)
    const double work = double(dstH) * std::max(width, dstW) * (s.tx.maxCount + s.ty.maxCount);
    if (!s.large && !m_next && cxops::BandCount(dstH, work) > 1)
        return nullptr;
    // Output row y is made once row last(y) (the furthest any row up to it
    // reaches) has arrived; the ring keeps every row from its first on.
    int reach = 0, ring = 1;
    for (int y = 0; y < dstH; ++y) {
        const int first = s.ty.first[std::size_t(y)];
        reach = std::max(reach, first + s.ty.count[std::size_t(y)] - 1);
        ring = std::max(ring, reach - first + 1);
    }
    // Grown, each row is filtered across as it comes: the ring keeps those.
    const bool grows = dstH > height;
    if (grows && !s.widen.emplace().Init(width, dstW, ring))
        return nullptr;
    if ((!grows && !s.shrink.Init(width, dstW, s.ty.maxCount)) ||
        !CxImageAccess::CreateBand(s.band, width, height, bpp, type, grows ? 1 : ring))
        return nullptr;
    if (m_next) {
        // Where the rows go on: the next sink's band, of the shrunk size.
        if (!(s.sent = m_next->Begin(dstW, dstH, 24, type, meta)))
            return nullptr;
        CxImageAccess::SetSourceSize(*s.sent, fileW, fileH);
    } else if (!CxImageAccess::CreateForDecode(s.out, dstW, dstH, 24, type)) {
        return nullptr;
    }
    try {
        s.colour.resize(bpp == 8 ? std::size_t(grows ? 1 : ring) * std::size_t(width) * 3 : 0);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    s.ring = grows ? 1 : ring;
    if (!s.sent)
        CxImageAccess::SetSourceSize(s.out, fileW, fileH);
    s.type = type;
    s.next = 0;
    return &s.band;
}

bool ResampledRows::Declines(int width, int height, const CxMetadata &meta) const
{
    int dstW = 0, dstH = 0;
    if (!m_rule || !m_rule(width, height, meta, dstW, dstH) || dstW <= 0 || dstH <= 0 ||
        (dstH > height && !m_next) || (dstW == width && dstH == height))
        return true;
    return m_next && cxops::BoxFactor(width, height, dstW, dstH) != 0;
}

bool ResampledRows::Room(int y)
{
    // Rows are used up as they come. Those read at the file's own size are
    // taken as plain colour, or grey through the identity palette: anything
    // else (alpha, a colour palette), set by now, is refused.
    if (m && m->stopped)
        return false;
    if (y != 0 || !m || !m->large)
        return true;
    const CxImage &band = m->band;
    if (band.AlphaIsValid() || band.GetTransIndex() >= 0)
        return false;
    if (band.GetBpp() == 24)
        return true;
    const RGBQUAD *palette = band.GetPalette();
    for (int i = 0; i < 256; ++i)
        if (!palette || palette[i].rgbRed != i || palette[i].rgbGreen != i || palette[i].rgbBlue != i)
            return false;
    return true;
}

void ResampledRows::Filled(int y)
{
    State &s = *m;
    if (s.box != 0) {
        const BYTE *row = s.band.GetBits(y);
        if (!s.colour.empty()) {
            cxcodec::RowToBGR(s.band, y, s.colour.data(), false);
            row = s.colour.data();
        }
        s.boxRow.Add(row, nullptr);
        if ((y + 1) % s.box == 0 || y + 1 == s.band.GetHeight())
            s.boxRow.Finish(s.out.GetBits(s.next++), nullptr);
        return;
    }
    const std::size_t width = std::size_t(s.band.GetWidth());
    const auto colourRow = [&](int i) { return s.colour.data() + std::size_t(i % s.ring) * width * 3; };
    if (!s.colour.empty()) {
        const BYTE *grey = s.band.GetBits(y);
        BYTE *bgr = colourRow(y);
        for (std::size_t x = 0; x < width; ++x)
            bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = grey[x];
    }
    if (s.widen)
        s.widen->Add(s.colour.empty() ? s.band.GetBits(y) : colourRow(y), y, s.tx);
    const int dstH = s.sent ? s.sent->GetHeight() : s.out.GetHeight();
    while (!s.stopped && s.next < dstH &&
           s.ty.first[std::size_t(s.next)] + s.ty.count[std::size_t(s.next)] - 1 <= y) {
        if (s.sent && s.next == 0) {
            // What the decoder set before its first row, before the next
            // sink's first row (its encoder reads them then).
            CxImageAccess::SetMetadata(*s.sent, s.band.GetMetadata());
            CxImageAccess::SetOrientation(*s.sent, s.band.GetOrientation());
        }
        if (s.sent && !m_next->Room(s.next)) {
            s.stopped = true;
            break;
        }
        BYTE *d = s.sent ? s.sent->GetBits(s.next) : s.out.GetBits(s.next);
        if (s.widen)
            s.widen->Make(s.ty, s.next, d);
        else
            s.shrink.Make([&](int i) { return s.colour.empty() ? s.band.GetBits(i) : colourRow(i); }, s.tx,
                          s.ty, s.next, d);
        if (s.sent)
            m_next->Filled(s.next);
        ++s.next;
    }
}

bool ResampledRows::Take(CxImage &image, bool autoOrient)
{
    if (!m || !m->out.IsValid() || m->next != m->out.GetHeight())
        return false;
    State &s = *m;
    CxImageAccess::SetMetadata(s.out, s.band.GetMetadata());
    CxImageAccess::SetOrientation(s.out, s.band.GetOrientation());
    s.band.Destroy();
    return CxImageAccess::Adopt(image, std::move(s.out), s.type, autoOrient);
}
