#include "imaging/runresources.h"

#include "imaging/codecs/codecs.h"
#include "imaging/largeblocks.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <thread>

#include <malloc.h>

int RunResources::Workers() const
{
    return workers > 0 ? workers : DefaultWorkers();
}

int RunResources::DefaultWorkers()
{
    constexpr int kMost = 64;
    if (const char *env = std::getenv("VELMORA_JOBS")) {
        char *end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n > 0)
            return int(std::min<long>(n, kMost));
    }
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, unsigned(kMost)));
}

void ApplyProcessMemorySettings(const RunResources &resources)
{
    const auto clamp = [](std::size_t bytes) { return int(std::min<std::size_t>(bytes, INT_MAX)); };
    mallopt(M_MMAP_THRESHOLD, clamp(resources.mmapThresholdBytes));
    mallopt(M_TRIM_THRESHOLD, clamp(resources.trimThresholdBytes));
    if (resources.mallocArenas > 0)
        mallopt(M_ARENA_MAX, resources.mallocArenas);
    largeblocks::SetLimits(resources.keptBlocksBytes, resources.hugePages);
    cxcodec::SetJpegDecodeBudget(resources.decodeBudgetBytes);
}
