// What a run may take of the machine: its threads and its memory, in one
// place. velmora-batch and the window build it with these defaults (--jobs
// sets the workers); a run (ConvertWorker) takes it, and the settings that
// belong to the whole process are made by ApplyProcessMemorySettings, called
// once from main() before any other thread starts. Loading the libraries
// changes nothing in the process.
#pragma once

#include <cstddef>

struct RunResources {
    static constexpr std::size_t kMiB = std::size_t(1) << 20;

    // Files converted at once. 0: DefaultWorkers() (VELMORA_JOBS from the
    // environment when set, else one per core; never more than 64).
    int workers = 0;
    // Threads one pixel operation or one JPEG decode may use on the thread
    // that runs a run: 0 one per core, 1 keeps it on that thread (one job
    // means one file decoded at a time, on one thread). Threads that prepare
    // files ahead always use 1.
    int pixelThreads = 0;

    // Decoding memory beyond the pictures themselves (a progressive JPEG
    // keeps all its coefficients). Files whose decodes fit together within
    // preferredScratchBytes alongside those running are started first; past
    // it a file starts only when nothing else may.
    std::size_t preferredScratchBytes = 96 * kMiB;
    // Never past this unless a file runs alone: the scheduler's bound and the
    // JPEG decoders' shared budget (threads whose coefficients would exceed
    // it together wait), so a batch holds at most two large photos at once.
    std::size_t decodeBudgetBytes = 192 * kMiB;
    // Encoded output held for the writer beyond which only the file being
    // taken is started (large BMP or TIFF outputs, a slow disk, a question
    // waiting for its answer).
    std::size_t maxHeldBytes = 384 * kMiB;

    // Large blocks decoders release are kept for the next picture while they
    // and the blocks in use stay within this (keeping saves faults, never
    // memory); past it the oldest are returned to the system.
    std::size_t keptBlocksBytes = 128 * kMiB;
    // Whether large blocks are mapped on huge-page boundaries with
    // transparent huge pages asked for. Off: measured on 19 wallpaper photos
    // fitted to 800 x 600 on one thread, huge pages saved about 0.1 s of user
    // time (fewer TLB misses) but cost 0.15 to 0.35 s of system time zeroing
    // freshly faulted huge pages, more after other programs had run, for the
    // same wall time; without them system time stays near a tenth of user
    // time whatever ran before.
    bool hugePages = false;
    // malloc: decoders ask for the same large blocks picture after picture,
    // so blocks below mmapThresholdBytes stay in the heap, and free memory
    // at its top is returned only past trimThresholdBytes, rather than
    // mapping, faulting in and clearing fresh pages every time.
    std::size_t mmapThresholdBytes = 32 * kMiB;
    std::size_t trimThresholdBytes = 512 * kMiB;
    // malloc's heaps (0: the C library's choice, one per thread up to eight
    // per core). Each heap keeps what its threads freed for those threads
    // alone, so a run's memory is the sum of every thread's own peak. One
    // heap shared by all: measured with two workers, PNGs to JPEG peaked at
    // 54 MB instead of 63 MB in the same time, but cards of 72 files on two
    // threads (the window's thumbnails) came about 4 % slower (113 MB
    // instead of 121 MB). velmora-batch takes one; the window the default.
    int mallocArenas = 0;

    // workers, or DefaultWorkers() when 0.
    int Workers() const;
    static int DefaultWorkers();
};

// Settings of the whole process from the policy: malloc's heaps and
// thresholds, the bound and huge pages of the kept large blocks, the JPEG
// decoders' shared budget. Until it is called these are the defaults above,
// except malloc's, which stay the C library's.
void ApplyProcessMemorySettings(const RunResources &resources = {});
