// Large scratch blocks that decoders need picture after picture (a
// progressive JPEG keeps tens of megabytes of coefficients while it decodes,
// a large picture's pixels take as much again). Fresh pages are expensive:
// the kernel clears every one of them on first touch and, under a
// hypervisor, the host may have to back them first. So released blocks are
// kept for the next picture, on any thread (as long as they and the blocks in
// use stay within a bound); they can be mapped with transparent huge pages
// (RunResources::hugePages says whether, and why not by default).
#pragma once

#include <cstddef>

namespace largeblocks {

// Blocks are kept apart by use, so that a picture's pixels never take the
// block its coefficients (a JPEG's) or its inflated data (a PNG's) will ask
// for next.
enum class Use { Pixels, Coefficients, Inflated };

// At least bytes of memory, suitably aligned for any type, contents
// unspecified (zero when *zeroed says so: a block freshly mapped); nullptr
// when memory is short. Small requests are plain heap allocations.
void *Acquire(std::size_t bytes, Use use = Use::Pixels, bool *zeroed = nullptr);
// Gives back memory from Acquire(bytes), with the same bytes (nullptr is
// ignored).
void Release(void *data, std::size_t bytes) noexcept;
// Returns every kept block to the system (at the end of a run, say).
void Trim();
// Bytes held in kept blocks, not in use.
std::size_t KeptBytes();
// The bound on kept blocks and blocks in use together, and whether blocks
// are mapped with huge pages (RunResources says what and why).
void SetLimits(std::size_t footprint, bool hugePages);

} // namespace largeblocks
