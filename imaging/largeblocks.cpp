#include "imaging/largeblocks.h"

#include "imaging/runresources.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace largeblocks {
namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this a block is an ordinary heap allocation, neither mapped nor kept.
constexpr std::size_t kMapped = std::size_t(1) << 20;
// Kept blocks are returned to the system, oldest first, while they and the
// blocks in use together exceed this: keeping saves faults, never memory.
constinit std::atomic<std::size_t> footprint{RunResources{}.keptBlocksBytes};
constinit std::atomic<bool> hugePages{RunResources{}.hugePages};

struct Block {
    void *data = nullptr;
    std::size_t capacity = 0;
    Use use = Use::Pixels;
};

struct Cache {
    std::mutex mutex;
    std::vector<Block> kept; // oldest first
    std::size_t keptBytes = 0;
    std::size_t inUseBytes = 0;
    std::unordered_map<void *, Block> inUse;
};

Cache &TheCache()
{
    static Cache *cache = new Cache; // outlives every thread's last release
    return *cache;
}

void Unmap(const Block &b)
{
    munmap(b.data, b.capacity);
}

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23; // Linux 5.14 on
#endif

Block Map(std::size_t bytes, Use use)
{
    // Whole huge pages, on a huge-page boundary: map one page more and cut
    // off the misaligned ends.
    const std::size_t capacity = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (capacity < bytes)
        return {};
    const std::size_t span = capacity + kHugePage;
    void *raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return {};
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        munmap(raw, aligned - start);
    const std::uintptr_t end = start + span, usedEnd = aligned + capacity;
    if (end > usedEnd)
        munmap(reinterpret_cast<void *>(usedEnd), end - usedEnd);
    void *data = reinterpret_cast<void *>(aligned);
#ifdef MADV_HUGEPAGE
    if (hugePages.load(std::memory_order_relaxed))
        madvise(data, capacity, MADV_HUGEPAGE); // advice only: fine if refused
#endif
    // Every page asked for is written soon: have them all at once rather
    // than through a fault each (on a 90 MB block of coefficients, most of
    // the time the kernel spends on it); the rest of the last huge page only
    // when a later picture needs it. Advice only: older kernels refuse.
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    madvise(data, std::min(capacity, (bytes + page - 1) / page * page), kPopulateWrite);
    return {data, capacity, use};
}

// Under the lock: drops kept blocks for use smaller than bytes, which cannot
// serve what pictures need now.
void DropSmallerLocked(Cache &c, std::size_t bytes, Use use)
{
    for (auto it = c.kept.begin(); it != c.kept.end();) {
        if (it->use == use && it->capacity < bytes) {
            c.keptBytes -= it->capacity;
            Unmap(*it);
            it = c.kept.erase(it);
        } else {
            ++it;
        }
    }
}

// Under the lock: drops the oldest kept blocks while the footprint with
// adding more bytes in use would exceed its bound.
void KeepWithinLocked(Cache &c, std::size_t adding)
{
    while (!c.kept.empty() &&
           c.inUseBytes + c.keptBytes + adding > footprint.load(std::memory_order_relaxed)) {
        c.keptBytes -= c.kept.front().capacity;
        Unmap(c.kept.front());
        c.kept.erase(c.kept.begin());
    }
}

} // namespace

void *Acquire(std::size_t bytes, Use use, bool *zeroed)
{
    if (zeroed)
        *zeroed = false;
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMapped)
        return std::malloc(bytes);
    Cache &c = TheCache();
    {
        std::lock_guard lock(c.mutex);
        try {
            c.inUse.reserve(c.inUse.size() + 1); // the inserts below cannot fail
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
        // The smallest kept block of this use that is large enough; pixels,
        // which may live as long as a picture is shown, not in one much
        // larger than they need.
        const std::size_t most = use == Use::Pixels ? 2 * bytes + kHugePage : SIZE_MAX;
        auto best = c.kept.end();
        for (auto it = c.kept.begin(); it != c.kept.end(); ++it)
            if (it->use == use && it->capacity >= bytes && it->capacity <= most &&
                (best == c.kept.end() || it->capacity < best->capacity))
                best = it;
        if (best != c.kept.end()) {
            const Block b = *best;
            c.kept.erase(best);
            c.keptBytes -= b.capacity;
            c.inUseBytes += b.capacity;
            c.inUse.emplace(b.data, b);
            return b.data;
        }
        DropSmallerLocked(c, bytes, use);
        KeepWithinLocked(c, bytes);
    }
    Block b = Map(bytes, use);
    if (!b.data) {
        // Other kept blocks may be what stands in the way.
        Trim();
        b = Map(bytes, use);
        if (!b.data)
            return nullptr;
    }
    std::lock_guard lock(c.mutex);
    try {
        c.inUse.emplace(b.data, b);
    } catch (const std::bad_alloc &) {
        Unmap(b);
        return nullptr;
    }
    c.inUseBytes += b.capacity;
    if (zeroed)
        *zeroed = true;
    return b.data;
}

void Release(void *data, std::size_t bytes) noexcept
{
    if (!data)
        return;
    if (bytes == 0)
        bytes = 1;
    if (bytes < kMapped) {
        std::free(data);
        return;
    }
    Cache &c = TheCache();
    std::lock_guard lock(c.mutex);
    const auto it = c.inUse.find(data);
    if (it == c.inUse.end())
        return; // not ours: leave it alone rather than corrupt anything
    const Block block = it->second;
    c.inUse.erase(it);
    c.inUseBytes -= block.capacity;
    try {
        c.kept.push_back(block);
        c.keptBytes += block.capacity;
    } catch (const std::bad_alloc &) {
        Unmap(block);
    }
    KeepWithinLocked(c, 0);
}

void Trim()
{
    Cache &c = TheCache();
    std::vector<Block> drop;
    {
        std::lock_guard lock(c.mutex);
        drop.swap(c.kept);
        c.keptBytes = 0;
    }
    for (const Block &b : drop)
        Unmap(b);
}

void SetLimits(std::size_t bytes, bool huge)
{
    footprint = bytes;
    hugePages = huge;
    Cache &c = TheCache();
    std::lock_guard lock(c.mutex);
    KeepWithinLocked(c, 0);
}

std::size_t KeptBytes()
{
    Cache &c = TheCache();
    std::lock_guard lock(c.mutex);
    return c.keptBytes;
}

} // namespace largeblocks
