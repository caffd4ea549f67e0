// Helpers shared by the pixel operations (resampling, rotation, filters,
// text). Not for callers outside imaging/.
#pragma once

#include "imaging/cximage.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace cxops {

// Threads one operation may use on the calling thread (0: one per core).
int &ThreadLimit();

// How many bands to split `count` rows into: one per core when `work` (a
// rough count of operations) makes threads pay for themselves, else one.
inline int BandCount(int count, double work)
{
    int bands = 1;
    if (work > 4e6) {
        bands = int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
        if (ThreadLimit() > 0)
            bands = std::min(bands, ThreadLimit());
    }
    return std::clamp(std::min(bands, count / 8), 1, 8);
}

// First row of band b of `bands` over `count` rows.
inline int BandStart(int count, int bands, int b)
{
    return int(std::int64_t(count) * b / bands);
}

// Runs fn(begin, end) for each band, bands after the first on threads of
// their own. True when every band returned true.
template <class Fn> bool RunBands(int count, int bands, Fn &&fn)
{
    if (bands <= 1)
        return fn(0, count);
    std::vector<char> ok(std::size_t(bands), 0);
    auto run = [&](int b) {
        ok[std::size_t(b)] = fn(BandStart(count, bands, b), BandStart(count, bands, b + 1)) ? 1 : 0;
    };
    std::vector<std::thread> threads;
    for (int b = 1; b < bands; ++b) {
        try {
            threads.emplace_back(run, b);
        } catch (const std::system_error &) {
            run(b); // no thread to be had: do it here
        }
    }
    run(0);
    for (std::thread &t : threads)
        t.join();
    return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
}

template <class Fn> bool ParallelBands(int count, double work, Fn &&fn)
{
    return RunBands(count, BandCount(count, work), fn);
}

// Resamples src to width x height into out with the high-quality filter.
// out becomes 24 bits, with an alpha plane when src has transparency. The
// size must already be checked against the limits. False (error in out)
// when memory runs out.
bool ResampleTo(const CxImage &src, int width, int height, CxImage &out);

// The k of the k x k box average ResampleTo starts with when shrinking a
// colour picture of srcWidth x srcHeight to width x height; 0 for none.
int BoxFactor(int srcWidth, int srcHeight, int width, int height);

// One row of that box average, from its source rows given in turn: Start,
// then Add for each of the (at most k) rows, then Finish writes the row of
// box averages (and of alpha) and makes ready for the next.
class BoxRow {
public:
    bool Start(int width, int k, bool alpha); // false: out of memory
    void Add(const BYTE *bgr, const BYTE *alpha);
    void Finish(BYTE *out, BYTE *outAlpha);

private:
    int m_width = 0, m_k = 1, m_rows = 0;
    bool m_alpha = false;
    std::vector<std::uint16_t> m_columns;  // opaque: sums down each column
    std::vector<std::uint32_t> m_weighted; // with alpha: B·A, G·A, R·A, A
};

// Moves result into dst and gives it src's file facts (type, frames, delay,
// disposal, quality and encoder settings, source size), for operations that write into another
// image instead of their own.
void DeliverInto(const CxImage &src, CxImage &dst, CxImage &&result);

} // namespace cxops
