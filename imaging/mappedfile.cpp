#include "imaging/mappedfile.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The live mappings, for the SIGBUS handler to tell its own faults from any
// other. Each slot is a small sequence lock: the handler may run on any
// thread while another maps or unmaps, and must never act on a range half
// written.
struct Slot {
    std::atomic<unsigned> seq{0};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lost{false};
    bool used = false; // guarded by g_slotsLock
};

constexpr int kSlots = 64;
Slot g_slots[kSlots];
std::mutex g_slotsLock;
std::once_flag g_installed;
struct sigaction g_previous = {};
std::uintptr_t g_pageSize = 4096;

void Publish(Slot &slot, std::uintptr_t begin, std::uintptr_t end)
{
    const unsigned seq = slot.seq.load(std::memory_order_relaxed);
    slot.seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.begin.store(begin, std::memory_order_relaxed);
    slot.end.store(end, std::memory_order_relaxed);
    slot.seq.store(seq + 2, std::memory_order_release);
}

void OnBusError(int sig, siginfo_t *info, void *context)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot &slot : g_slots) {
        const unsigned seq = slot.seq.load(std::memory_order_acquire);
        const std::uintptr_t begin = slot.begin.load(std::memory_order_relaxed);
        const std::uintptr_t end = slot.end.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((seq & 1) || slot.seq.load(std::memory_order_relaxed) != seq || address < begin || address >= end)
            continue;
        void *page = reinterpret_cast<void *>(address & ~(g_pageSize - 1));
        if (mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            slot.lost.store(true, std::memory_order_relaxed);
            return; // the read runs again and finds zeros
        }
    }
    // Not a page of ours: it goes where it would have gone without us.
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) {
            g_previous.sa_sigaction(sig, info, context);
            return;
        }
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(sig);
        return;
    }
    // The default action, which a faulting access cannot ignore: the access
    // runs again and ends the process as it would have.
    signal(SIGBUS, SIG_DFL);
}

void Install()
{
    const long page = sysconf(_SC_PAGESIZE);
    if (page > 0)
        g_pageSize = std::uintptr_t(page);
    struct sigaction act = {};
    act.sa_sigaction = OnBusError;
    act.sa_flags = SA_SIGINFO;
    sigemptyset(&act.sa_mask);
    sigaction(SIGBUS, &act, &g_previous);
}

} // namespace

MappedFile::~MappedFile()
{
    Unmap();
}

std::size_t MappedFile::Span(std::size_t size)
{
    return ((size + g_pageSize - 1) & ~(g_pageSize - 1)) + g_pageSize;
}

bool MappedFile::Map(int fd)
{
    Unmap();
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        std::uintmax_t(st.st_size) > SIZE_MAX / 2)
        return false;
    std::call_once(g_installed, Install);

    int slot = -1;
    {
        std::lock_guard<std::mutex> lock(g_slotsLock);
        for (int i = 0; i < kSlots && slot < 0; ++i)
            if (!g_slots[i].used)
                slot = i;
        if (slot < 0)
            return false;
        g_slots[slot].used = true;
    }
    const auto size = std::size_t(st.st_size);
    // The bytes are followed by zeros, at least one, as a copy in a string is
    // by its NUL: a reader that scans text there (LibRaw's sscanf) stops
    // instead of running off the end. The file goes over the front of a
    // zeroed span a page longer than its own pages.
    void *data = mmap(nullptr, Span(size), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data != MAP_FAILED && mmap(data, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
        munmap(data, Span(size));
        data = MAP_FAILED;
    }
    if (data == MAP_FAILED) {
        std::lock_guard<std::mutex> lock(g_slotsLock);
        g_slots[slot].used = false;
        return false;
    }
    // Ask for the whole file from the disk at once: a progressive JPEG is
    // read scan by scan, not front to back.
    madvise(data, size, MADV_WILLNEED);
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    g_slots[slot].lost.store(false, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(g_slotsLock);
        Publish(g_slots[slot], begin, begin + ((size + g_pageSize - 1) & ~(g_pageSize - 1)));
    }
    m_data = static_cast<const std::uint8_t *>(data);
    m_size = size;
    m_fd = fd;
    m_slot = slot;
    m_modifiedSeconds = st.st_mtim.tv_sec;
    m_modifiedNanoseconds = st.st_mtim.tv_nsec;
    return true;
}

void MappedFile::Unmap()
{
    if (!m_data)
        return;
    {
        // Forgotten before it goes, so a fault in whatever is mapped there
        // next is never taken for ours.
        std::lock_guard<std::mutex> lock(g_slotsLock);
        Publish(g_slots[m_slot], 0, 0);
        g_slots[m_slot].used = false;
    }
    munmap(const_cast<std::uint8_t *>(m_data), Span(m_size));
    m_data = nullptr;
    m_size = 0;
    m_fd = -1;
    m_slot = -1;
}

bool MappedFile::Changed() const
{
    if (!m_data)
        return false;
    if (g_slots[m_slot].lost.load(std::memory_order_relaxed))
        return true;
    struct stat st;
    return fstat(m_fd, &st) != 0 || std::uintmax_t(st.st_size) != m_size ||
           st.st_mtim.tv_sec != m_modifiedSeconds || st.st_mtim.tv_nsec != m_modifiedNanoseconds;
}

void MappedFile::Release(const std::uint8_t *at) const
{
    // Only a place within the file (a decoder may be reading a copy).
    const auto begin = reinterpret_cast<std::uintptr_t>(m_data), end = begin + m_size;
    if (!m_data || reinterpret_cast<std::uintptr_t>(at) <= begin ||
        reinterpret_cast<std::uintptr_t>(at) > end)
        return;
    const std::size_t bytes = std::min(std::size_t(at - m_data), m_size) & ~(g_pageSize - 1);
    if (bytes > 0)
        madvise(const_cast<std::uint8_t *>(m_data), bytes, MADV_DONTNEED);
}
