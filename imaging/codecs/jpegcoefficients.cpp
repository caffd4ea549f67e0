// The coefficient arrays of a multi-scan JPEG decode, the scans our own
// decoder takes from libjpeg and the budget the decodes share (see
// jpegcoefficients.h).
#include "imaging/codecs/jpegcoefficients.h"
#include "imaging/codecs/codecs.h"
#include "imaging/cxfile.h"
#include "imaging/largeblocks.h"
#include "imaging/pixelops.h"
#include "imaging/runresources.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <unistd.h>

namespace cxjpeg {

bool CoefStore::LayOut(const CoefArray *arrays, int count)
{
    std::size_t blocks = 0, rowCount = 0;
    for (int i = 0; i < count; ++i) {
        blocks += std::size_t(arrays[i].width) * arrays[i].height;
        rowCount += arrays[i].height;
    }
    try {
        rowPointers.resize(rowCount);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (blocks > SIZE_MAX / sizeof(JBLOCK))
        return false;
    bytes = blocks * sizeof(JBLOCK);
    block = largeblocks::Acquire(bytes, largeblocks::Use::Coefficients, &zeroed);
    if (!block)
        return false;
    auto *next = static_cast<JBLOCK *>(block);
    JBLOCKROW *row = rowPointers.data();
    for (int i = 0; i < count; ++i) {
        rows[i] = row;
        for (JDIMENSION y = 0; y < arrays[i].height; ++y, next += arrays[i].width)
            *row++ = next;
    }
    return true;
}

void CoefStore::Release()
{
    largeblocks::Release(block, bytes);
    block = nullptr;
}

namespace {

CoefArrays &CoefOf(j_common_ptr cinfo)
{
    return static_cast<JpegDecoder *>(cinfo->client_data)->coef;
}

jvirt_barray_ptr RequestCoefArray(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION width,
                                  JDIMENSION height, JDIMENSION maxAccess)
{
    CoefArrays &c = CoefOf(cinfo);
    if (pool != JPOOL_IMAGE || c.realized || c.count == int(std::size(c.arrays)))
        return c.own.request_virt_barray(cinfo, pool, preZero, width, height, maxAccess);
    CoefArray &a = c.arrays[c.count];
    a.rows = nullptr;
    a.width = width;
    a.height = height;
    a.maxAccess = maxAccess;
    a.firstUndefined = 0;
    // libjpeg asks for one array per component, in component order.
    ++c.count;
    return reinterpret_cast<jvirt_barray_ptr>(&a);
}

// A large file's components are decoded on two threads when the run allows
// more than one.
constexpr std::size_t kHelperMinCoefBytes = std::size_t(4) << 20;
std::atomic<int> g_helperDecodes{0}, g_byRowDecodes{0};
bool HelperAllowed(j_decompress_ptr cinfo, std::size_t coefBytes);

// Clears the rows of an array this decoder has not reached yet, up to end.
void ClearUpTo(CoefArray &a, JDIMENSION end)
{
    // Cleared as the decode first reaches each row, like libjpeg's own
    // arrays: coefficients a damaged file never sends read as zero, and the
    // rows are cleared while they are about to be used anyway.
    for (JDIMENSION y = a.firstUndefined; y < end; ++y)
        std::memset(a.rows[y], 0, std::size_t(a.width) * sizeof(JBLOCK));
    a.firstUndefined = std::max(a.firstUndefined, end);
}

void ClearArrays(CoefArrays &c)
{
    for (int i = 0; i < c.count; ++i) {
        c.arrays[i].firstUndefined = 0;
        ClearUpTo(c.arrays[i], c.arrays[i].height);
    }
}

// What our decoder needs to know of the frame (its rows aside); false when
// the arrays do not fit it.
bool DescribeFrame(j_decompress_ptr cinfo, const CoefArrays &c, progressivejpeg::Frame &f)
{
    static_assert(sizeof(JCOEF) == sizeof(short) && sizeof(JBLOCK) == sizeof(progressivejpeg::Block));
    if (c.count != cinfo->num_components || c.count > int(std::size(f.components)))
        return false;
    for (int i = 0; i < c.count; ++i) {
        const jpeg_component_info &comp = cinfo->comp_info[i];
        if (c.arrays[i].width < comp.width_in_blocks || c.arrays[i].height < comp.height_in_blocks)
            return false;
        f.components[i].id = comp.component_id;
        f.components[i].widthInBlocks = comp.width_in_blocks;
        f.components[i].heightInBlocks = comp.height_in_blocks;
    }
    f.count = c.count;
    for (int t = 0; t < NUM_HUFF_TBLS && t < int(std::size(f.ac)); ++t) {
        if (const JHUFF_TBL *h = cinfo->ac_huff_tbl_ptrs[t]) {
            f.ac[t].defined = true;
            std::memcpy(f.ac[t].counts, h->bits, sizeof f.ac[t].counts);
            std::memcpy(f.ac[t].values, h->huffval, sizeof f.ac[t].values);
        }
    }
    f.restartInterval = cinfo->restart_interval;
    return true;
}

// Sets up arrays made a row at a time (RowArrays), when our decoder takes
// the file on this thread alone; false to hold them whole.
bool StartRowArrays(j_decompress_ptr cinfo, CoefArrays &c)
{
    auto &d = *static_cast<JpegDecoder *>(cinfo->client_data);
    progressivejpeg::Frame f;
    if (!d.ownAc.byRow || (!d.ownAc.rowsOnly && HelperAllowed(cinfo, d.reserved)) ||
        !DescribeFrame(cinfo, c, f))
        return false;
    try {
        auto rows = std::make_unique<RowArrays>();
        for (int i = 0; i < c.count; ++i) {
            const CoefArray &a = c.arrays[i];
            RowArrays::Window &w = rows->windows[i];
            const JDIMENSION most = std::max<JDIMENSION>(1, a.maxAccess);
            w.dc.assign(std::size_t(a.width) * a.height, 0);
            w.blocks.assign(std::size_t(a.width) * most * DCTSIZE2, 0);
            w.rows.resize(most);
            w.acRows = cinfo->comp_info[i].height_in_blocks;
            w.wanted = d.ownAc.wanted[i];
        }
        if (!rows->reader.Start(d.ownAc.data, d.ownAc.size, d.ownAc.firstMarker, f, d.ownAc.wanted))
            return false;
        c.byRow = std::move(rows);
        ++g_byRowDecodes;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Rows [start, start + count) of array i made from what RowArrays keeps.
// Leaves through longjmp when the AC data of a row turns out damaged.
JBLOCKARRAY AccessRows(j_decompress_ptr cinfo, CoefArrays &c, int i, JDIMENSION start, JDIMENSION count,
                       boolean writable)
{
    const CoefArray &a = c.arrays[i];
    RowArrays::Window &w = c.byRow->windows[i];
    if (count > w.rows.size() || start > a.height || count > a.height - start)
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "bad coefficient access");
    // Only DC scans write (AC ones are ours): keep their coefficients.
    for (JDIMENSION r = 0; w.writable && r < w.count; ++r)
        for (JDIMENSION x = 0; x < a.width; ++x)
            w.dc[std::size_t(w.start + r) * a.width + x] = w.rows[r][x][0];
    for (JDIMENSION r = 0; r < count; ++r) {
        const JDIMENSION y = start + r;
        auto *row = reinterpret_cast<JBLOCKROW>(w.blocks.data() + std::size_t(r) * a.width * DCTSIZE2);
        if (!writable) {
            std::memset(row, 0, std::size_t(a.width) * sizeof(JBLOCK));
            if (w.wanted && y < w.acRows && !c.byRow->reader.Row(i, y, row)) {
                static_cast<JpegDecoder *>(cinfo->client_data)->ownAc.redo = true;
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "damaged progressive scan");
            }
        }
        for (JDIMENSION x = 0; x < a.width; ++x)
            row[x][0] = w.dc[std::size_t(y) * a.width + x];
        w.rows[r] = row;
    }
    w.start = start;
    w.count = count;
    w.writable = writable;
    return w.rows.data();
}

// Decodes the AC scans into the arrays just laid out, before libjpeg reads
// anything past the first scan's header. Data our decoder does not take
// goes to libjpeg whole instead, as if it had never been trimmed.
void DecodeOwnAcScans(j_common_ptr common, CoefArrays &c)
{
    auto &d = *static_cast<JpegDecoder *>(common->client_data);
    auto *cinfo = reinterpret_cast<j_decompress_ptr>(common);
    progressivejpeg::Frame f;
    const bool ok = DescribeFrame(cinfo, c, f);
    for (int i = 0; i < c.count; ++i) {
        const jpeg_component_info &comp = cinfo->comp_info[i];
        f.components[i].rows = d.ownAc.wanted[i] ? c.arrays[i].rows : nullptr;
        f.components[i].rowBlocks = c.arrays[i].width;
        f.components[i].zeroed = c.store.zeroed;
        // Our decoder clears the rows it fills as it reaches them; the
        // padding rows and the components it skips are cleared here.
        CoefArray &a = c.arrays[i];
        a.firstUndefined = c.store.zeroed ? a.height : ok && d.ownAc.wanted[i] ? comp.height_in_blocks : 0;
        ClearUpTo(a, a.height);
    }
    f.helper = HelperAllowed(cinfo, d.reserved);
    if (ok && progressivejpeg::DecodeAcScans(d.ownAc.data, d.ownAc.size, d.ownAc.firstMarker, f)) {
        if (f.helper)
            ++g_helperDecodes;
        return;
    }
    ClearArrays(c);
    cinfo->do_block_smoothing = d.ownAc.smoothing;
    cinfo->src->next_input_byte = d.ownAc.data + d.ownAc.firstData;
    cinfo->src->bytes_in_buffer = d.ownAc.size - d.ownAc.firstData;
    d.ownAc.data = nullptr;
}

void RealizeCoefArrays(j_common_ptr cinfo)
{
    CoefArrays &c = CoefOf(cinfo);
    if (!c.realized && c.count > 0 && static_cast<JpegDecoder *>(cinfo->client_data)->ownAc.data &&
        StartRowArrays(reinterpret_cast<j_decompress_ptr>(cinfo), c)) {
        c.realized = true;
    } else if (!c.realized && c.count > 0) {
        if (static_cast<JpegDecoder *>(cinfo->client_data)->ownAc.rowsOnly)
            FailWith(cinfo, "image too large");
        if (!c.store.LayOut(c.arrays, c.count))
            FailWith(cinfo, "out of memory");
        for (int i = 0; i < c.count; ++i) {
            c.arrays[i].rows = c.store.rows[i];
            if (c.store.zeroed)
                c.arrays[i].firstUndefined = c.arrays[i].height; // nothing to clear
        }
        if (static_cast<JpegDecoder *>(cinfo->client_data)->ownAc.data)
            DecodeOwnAcScans(cinfo, c);
        c.realized = true;
    }
    c.own.realize_virt_arrays(cinfo);
}

JBLOCKARRAY AccessCoefArray(j_common_ptr cinfo, jvirt_barray_ptr ptr, JDIMENSION start, JDIMENSION count,
                            boolean writable)
{
    CoefArrays &c = CoefOf(cinfo);
    auto *a = reinterpret_cast<CoefArray *>(ptr);
    if (a < c.arrays || a >= c.arrays + c.count)
        return c.own.access_virt_barray(cinfo, ptr, start, count, writable);
    if (c.realized && c.byRow)
        return AccessRows(reinterpret_cast<j_decompress_ptr>(cinfo), c, int(a - c.arrays), start, count,
                          writable);
    if (!c.realized || start > a->height || count > a->height - start)
        FailWith(cinfo, "bad coefficient access");
    ClearUpTo(*a, start + count);
    return a->rows + start;
}

void FreeCoefPool(j_common_ptr cinfo, int pool)
{
    CoefArrays &c = CoefOf(cinfo);
    if (pool == JPOOL_IMAGE)
        c.Free();
    c.own.free_pool(cinfo, pool);
}

void DestroyCoefMemory(j_common_ptr cinfo)
{
    CoefArrays &c = CoefOf(cinfo);
    c.Free();
    c.own.self_destruct(cinfo);
}

} // namespace

// --- Coefficients of an encode kept in a file ---------------------------------

namespace {

std::atomic<int> g_coefFiles{0};

} // namespace

CoefFile &CoefFile::Of(j_common_ptr cinfo)
{
    return *static_cast<CoefFile *>(cinfo->client_data);
}

void CoefFile::Install(j_common_ptr cinfo, std::string folder)
{
    m_folder = std::move(folder);
    m_own = *cinfo->mem;
    cinfo->client_data = this;
    cinfo->mem->request_virt_barray = Request;
    cinfo->mem->realize_virt_arrays = Realize;
    cinfo->mem->access_virt_barray = Access;
    cinfo->mem->free_pool = FreePool;
    cinfo->mem->self_destruct = Destroy;
}

jvirt_barray_ptr CoefFile::Request(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION width,
                                   JDIMENSION height, JDIMENSION maxAccess)
{
    CoefFile &f = Of(cinfo);
    if (pool != JPOOL_IMAGE || f.m_realized || f.m_count == MAX_COMPONENTS)
        return f.m_own.request_virt_barray(cinfo, pool, preZero, width, height, maxAccess);
    Array &a = f.m_arrays[f.m_count++];
    a.width = width;
    a.height = height;
    a.maxAccess = std::max<JDIMENSION>(1, maxAccess);
    return reinterpret_cast<jvirt_barray_ptr>(&a);
}

bool CoefFile::Open(j_common_ptr cinfo)
{
    std::uint64_t bytes = 0;
    for (int i = 0; i < m_count; ++i) {
        Array &a = m_arrays[i];
        a.offset = bytes;
        if (!a.make)
            bytes += std::uint64_t(a.width) * a.height * sizeof(JBLOCK);
    }
    const char *why = nullptr;
    if ((m_fd = OpenScratchFile(m_folder, bytes, why)) < 0) {
        char message[96];
        std::snprintf(message, sizeof message, "%s to write the picture", why);
        FailWith(cinfo, message);
    }
    ++g_coefFiles;
    // Rows never written read as zeros, as in libjpeg's own arrays.
    if (::ftruncate(m_fd, off_t(bytes)) != 0)
        return false;
    try {
        for (int i = 0; i < m_count; ++i) {
            Array &a = m_arrays[i];
            a.window.resize(std::size_t(a.width) * a.maxAccess * DCTSIZE2);
            a.rows.resize(a.maxAccess);
            for (JDIMENSION r = 0; r < a.maxAccess; ++r)
                a.rows[r] =
                    reinterpret_cast<JBLOCKROW>(a.window.data() + std::size_t(r) * a.width * DCTSIZE2);
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void CoefFile::Realize(j_common_ptr cinfo)
{
    CoefFile &f = Of(cinfo);
    if (!f.m_realized && f.m_count > 0) {
        if (!f.Open(cinfo))
            FailWith(cinfo, "out of memory");
        f.m_realized = true;
    }
    f.m_own.realize_virt_arrays(cinfo);
}

namespace {

// All bytes bytes at at in fd written from data, or read into it.
bool Transfer(int fd, void *data, std::size_t bytes, std::uint64_t at, bool write)
{
    auto *p = static_cast<char *>(data);
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t n = write ? ::pwrite(fd, p + done, bytes - done, off_t(at + done))
                                : ::pread(fd, p + done, bytes - done, off_t(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

} // namespace

// Writes the window's rows to the file, or reads them from it.
bool CoefFile::Move(Array &a, bool write)
{
    const std::size_t rowBytes = std::size_t(a.width) * sizeof(JBLOCK);
    return Transfer(m_fd, a.window.data(), rowBytes * a.count, a.offset + std::uint64_t(a.start) * rowBytes,
                    write);
}

JBLOCKARRAY CoefFile::Access(j_common_ptr cinfo, jvirt_barray_ptr ptr, JDIMENSION start, JDIMENSION count,
                             boolean writable)
{
    CoefFile &f = Of(cinfo);
    auto *a = reinterpret_cast<Array *>(ptr);
    if (a < f.m_arrays || a >= f.m_arrays + f.m_count)
        return f.m_own.access_virt_barray(cinfo, ptr, start, count, writable);
    if (!f.m_realized || count > a->maxAccess || start > a->height || count > a->height - start)
        FailWith(cinfo, "bad coefficient access");
    const auto clear = [a] {
        std::fill_n(a->window.begin(), std::size_t(a->count) * a->width * DCTSIZE2, JCOEF(0));
    };
    if (a->make) {
        // Made a window at a time from where the rows asked for start.
        if (start < a->start || start + count > a->start + a->count) {
            a->start = start;
            a->count = std::min(a->maxAccess, a->height - start);
            clear();
            a->make(a->start, a->count, a->rows.data());
        }
        return a->rows.data() + (start - a->start);
    }
    if (start != a->start || count != a->count) {
        if (!f.WriteBack(*a))
            FailWith(cinfo, "cannot write file");
        a->start = start;
        a->count = count;
        // Rows being filled for the first time need not be read.
        if (start >= a->written)
            clear();
        else if (!f.Move(*a, false))
            FailWith(cinfo, "cannot read file");
    }
    a->dirty |= writable != FALSE;
    return a->rows.data();
}

void CoefFile::Lend(j_common_ptr other)
{
    other->client_data = this;
    other->mem->access_virt_barray = Access;
}

jvirt_barray_ptr CoefFile::Made(JDIMENSION width, JDIMENSION height, JDIMENSION rows, Maker make)
{
    if (m_realized || m_count == MAX_COMPONENTS)
        return nullptr;
    Array &a = m_arrays[m_count++];
    a.width = width;
    a.height = height;
    a.maxAccess = std::max<JDIMENSION>(1, rows);
    a.make = std::move(make);
    return reinterpret_cast<jvirt_barray_ptr>(&a);
}

bool CoefFile::WriteBack(Array &a)
{
    if (!a.dirty)
        return true;
    if (!Move(a, true))
        return false;
    a.written = std::max(a.written, a.start + a.count);
    a.dirty = false;
    return true;
}

bool CoefFile::Flush()
{
    for (int i = 0; i < m_count; ++i)
        if (!WriteBack(m_arrays[i]))
            return false;
    return true;
}

bool CoefFile::ReadBlocks(jvirt_barray_ptr array, JDIMENSION y, JDIMENSION x, JDIMENSION n, JBLOCKROW to)
{
    auto *a = reinterpret_cast<Array *>(array);
    if (a < m_arrays || a >= m_arrays + m_count || y >= a->height || x > a->width || n > a->width - x)
        return false;
    return Transfer(m_fd, to, std::size_t(n) * sizeof(JBLOCK),
                    a->offset + (std::uint64_t(y) * a->width + x) * sizeof(JBLOCK), false);
}

void CoefFile::Free()
{
    for (int i = 0; i < m_count; ++i)
        m_arrays[i] = Array{};
    m_count = 0;
    m_realized = false;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CoefFile::FreePool(j_common_ptr cinfo, int pool)
{
    CoefFile &f = Of(cinfo);
    if (pool == JPOOL_IMAGE)
        f.Free();
    f.m_own.free_pool(cinfo, pool);
}

void CoefFile::Destroy(j_common_ptr cinfo)
{
    CoefFile &f = Of(cinfo);
    f.Free();
    f.m_own.self_destruct(cinfo);
}

namespace {

// --- Scans read by our own code ---------------------------------------------
//
// Entropy decoding a progressive file runs scan after scan and is nearly all
// of its decoding time; its AC scans are read by progressivejpeg (see there)
// and only the rest of the file by libjpeg.

using progressivejpeg::ScanDataEnd;

struct ScanRecord {
    std::size_t begin = 0, end = 0; // the whole segment (for a scan: its header and data)
    bool scan = false;
    int component = -1; // the one component of an AC scan, -1 for DC scans and other segments
};

// Each coefficient keeps the precision of the last scan that sent it.
struct ScanProgress {
    bool complete[MAX_COMPONENTS][DCTSIZE2] = {};
    bool dcSeen[MAX_COMPONENTS] = {};
    int scans = 0;

    // Notes a scan; false for an AC scan before its component's first DC one.
    bool Note(const int *comps, int n, int ss, int se, int al)
    {
        for (int i = 0; i < n; ++i) {
            for (int k = ss; k <= se; ++k)
                complete[comps[i]][k] = al == 0;
            if (ss == 0)
                dcSeen[comps[i]] = true;
        }
        return ss == 0 || dcSeen[comps[0]];
    }
    bool Complete(int components) const
    {
        for (int c = 0; c < components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (!complete[c][k])
                    return false;
        return true;
    }
};

int ComponentIndex(j_decompress_ptr cinfo, int id)
{
    for (int c = 0; c < cinfo->num_components; ++c)
        if (cinfo->comp_info[c].component_id == id)
            return c;
    return -1;
}

// The first scan, whose header libjpeg has read.
bool ListFirstScan(j_decompress_ptr cinfo, const std::uint8_t *data, std::size_t size, std::size_t firstData,
                   ScanProgress &progress, std::vector<ScanRecord> &segments, std::size_t &firstMarker)
{
    if (cinfo->Ss != 0 || cinfo->comps_in_scan < 1)
        return false;
    const std::size_t headerBytes = 2 + 2 + 1 + 2 * std::size_t(cinfo->comps_in_scan) + 3;
    if (firstData < headerBytes)
        return false;
    firstMarker = firstData - headerBytes;
    if (data[firstMarker] != 0xFF || data[firstMarker + 1] != 0xDA)
        return false;
    int comps[MAX_COMPS_IN_SCAN];
    for (int i = 0; i < cinfo->comps_in_scan; ++i)
        comps[i] = cinfo->cur_comp_info[i]->component_index;
    progress.Note(comps, cinfo->comps_in_scan, 0, 0, cinfo->Al);
    ++progress.scans;
    ScanRecord first;
    first.begin = firstMarker;
    first.end = ScanDataEnd(data, size, firstData);
    first.scan = true;
    segments.push_back(first);
    return true;
}

// A later scan's header and the end of its data into seg.
bool ListLaterScan(j_decompress_ptr cinfo, const std::uint8_t *data, std::size_t size,
                   const progressivejpeg::MarkerSegment &ms, ScanProgress &progress, ScanRecord &seg)
{
    const std::size_t length = ms.end - ms.body + 2;
    if (length < 8 || ++progress.scans > kMaxScans)
        return false;
    const std::uint8_t *h = data + ms.body;
    const int n = h[0];
    if (n < 1 || n > MAX_COMPS_IN_SCAN || length != std::size_t(6 + 2 * n))
        return false;
    int comps[MAX_COMPS_IN_SCAN];
    for (int i = 0; i < n; ++i)
        if ((comps[i] = ComponentIndex(cinfo, h[1 + 2 * i])) < 0)
            return false;
    const int ss = h[1 + 2 * n], se = h[2 + 2 * n], al = h[3 + 2 * n] & 15;
    if (ss > se || se >= DCTSIZE2 || (ss > 0 && n != 1) || (ss == 0 && se != 0))
        return false;
    if (!progress.Note(comps, n, ss, se, al))
        return false;
    seg.scan = true;
    seg.component = ss > 0 ? comps[0] : -1;
    seg.end = ScanDataEnd(data, size, ms.end);
    return seg.end < size;
}

// Lists the segments from the first scan on (as libjpeg left the source: at
// the first scan's data) and checks that leaving AC scans out of what libjpeg
// reads is sound: AC scans of one component each, each after that
// component's first DC scan; the last scan of every coefficient of every
// component at full precision (so no smoothing of missing coefficients would
// have applied); no quantisation table defined after the first scan; only
// Huffman tables, restart intervals and metadata between scans; no more
// scans than a whole decode accepts. False when libjpeg reads every scan.
bool ListScans(j_decompress_ptr cinfo, const std::uint8_t *data, std::size_t size, std::size_t firstData,
               std::vector<ScanRecord> &segments, std::size_t &firstMarker)
{
    ScanProgress progress;
    if (!ListFirstScan(cinfo, data, size, firstData, progress, segments, firstMarker))
        return false;
    std::size_t pos = segments.back().end;
    for (;;) {
        progressivejpeg::MarkerSegment ms;
        if (!progressivejpeg::ReadMarkerSegment(data, size, pos, ms))
            return false;
        if (ms.marker == 0xD9)
            break;
        ScanRecord seg;
        seg.begin = pos;
        if (ms.marker == 0xDA) {
            if (!ListLaterScan(cinfo, data, size, ms, progress, seg))
                return false;
        } else if (ms.marker == 0xC4 || ms.marker == 0xDD || ms.marker == 0xFE ||
                   (ms.marker >= 0xE0 && ms.marker <= 0xEF)) {
            seg.end = ms.end;
        } else {
            return false;
        }
        segments.push_back(seg);
        pos = seg.end;
    }
    return progress.Complete(cinfo->num_components);
}

std::atomic<bool> g_trimScans{true};
std::atomic<bool> g_ownAcScans{true};

bool OwnAcScansApply(const JpegDecoder &d)
{
    return d.ownAc.allowed && g_ownAcScans.load(std::memory_order_relaxed) && d.cinfo.progressive_mode &&
           !d.cinfo.arith_code && d.cinfo.num_components <= 4;
}

bool HelperAllowed(j_decompress_ptr cinfo, std::size_t coefBytes)
{
    if (!cinfo->progressive_mode || cinfo->arith_code || cinfo->num_components < 2 ||
        cinfo->num_components > MAX_COMPONENTS || coefBytes < kHelperMinCoefBytes)
        return false;
    const int limit = cxops::ThreadLimit();
    return limit == 1 ? false : limit >= 2 || std::thread::hardware_concurrency() >= 2;
}

std::mutex &BudgetMutex()
{
    static std::mutex m;
    return m;
}

std::condition_variable &BudgetChanged()
{
    static std::condition_variable c;
    return c;
}

std::size_t &BudgetInUse()
{
    static std::size_t n = 0;
    return n;
}

std::atomic<std::size_t> &BudgetBytes()
{
    static constinit std::atomic<std::size_t> bytes{RunResources{}.decodeBudgetBytes};
    return bytes;
}

} // namespace

void InstallCoefArrays(JpegDecoder &d)
{
    jpeg_memory_mgr *mem = d.cinfo.mem;
    d.coef.own = *mem;
    d.cinfo.client_data = &d;
    mem->request_virt_barray = RequestCoefArray;
    mem->realize_virt_arrays = RealizeCoefArrays;
    mem->access_virt_barray = AccessCoefArray;
    mem->free_pool = FreeCoefPool;
    mem->self_destruct = DestroyCoefMemory;
}

void LeaveOutAcScans(JpegDecoder &d, const std::uint8_t *data, std::size_t size)
{
    j_decompress_ptr cinfo = &d.cinfo;
    if (!cinfo->progressive_mode || cinfo->arith_code || cinfo->num_components > MAX_COMPONENTS)
        return;
    const bool own = OwnAcScansApply(d);
    bool dcOnly[MAX_COMPONENTS] = {};
    bool any = false;
    for (int c = 0; c < cinfo->num_components; ++c)
        any |= dcOnly[c] = cinfo->comp_info[c].DCT_scaled_size == 1;
    if (!own && !(any && g_trimScans.load(std::memory_order_relaxed)))
        return;
    const std::size_t firstData = std::size_t(cinfo->src->next_input_byte - data);
    if (firstData > size || cinfo->src->bytes_in_buffer != size - firstData)
        return;
    try {
        std::vector<ScanRecord> segments;
        std::size_t firstMarker = 0;
        if (!ListScans(cinfo, data, size, firstData, segments, firstMarker))
            return;
        static const JOCTET kEnd[2] = {0xFF, 0xD9};
        d.trimmed.reserve(size - firstData + 2);
        bool first = true;
        for (const ScanRecord &seg : segments) {
            if (!seg.scan || seg.component < 0 || (!own && !dcOnly[seg.component]))
                d.trimmed.insert(d.trimmed.end(), data + (first ? firstData : seg.begin), data + seg.end);
            first = false;
        }
        d.trimmed.insert(d.trimmed.end(), kEnd, kEnd + 2);
        if (own) {
            d.ownAc.data = data;
            d.ownAc.size = size;
            d.ownAc.firstMarker = firstMarker;
            d.ownAc.firstData = firstData;
            d.ownAc.smoothing = cinfo->do_block_smoothing;
            for (int c = 0; c < cinfo->num_components; ++c)
                d.ownAc.wanted[c] = !dcOnly[c] || !g_trimScans.load(std::memory_order_relaxed);
        }
    } catch (const std::exception &) {
        d.trimmed.clear();
        return; // short of memory: the whole file then
    }
    // Nothing is missing that smoothing would make up: the file sends every
    // coefficient, and those left out are read elsewhere or never used.
    cinfo->do_block_smoothing = FALSE;
    cinfo->src->next_input_byte = d.trimmed.data();
    cinfo->src->bytes_in_buffer = d.trimmed.size();
}

void CoefficientBudget::Acquire(std::size_t bytes)
{
    std::unique_lock lock(BudgetMutex());
    BudgetChanged().wait(lock, [&] { return BudgetInUse() == 0 || BudgetInUse() + bytes <= BudgetBytes(); });
    BudgetInUse() += bytes;
}

void CoefficientBudget::SetBytes(std::size_t bytes)
{
    {
        std::lock_guard lock(BudgetMutex());
        BudgetBytes() = bytes;
    }
    BudgetChanged().notify_all();
}

std::size_t CoefficientBudget::Bytes()
{
    return BudgetBytes();
}

void CoefficientBudget::Release(std::size_t bytes)
{
    {
        std::lock_guard lock(BudgetMutex());
        BudgetInUse() -= bytes;
    }
    BudgetChanged().notify_all();
}

// As libjpeg asks for them: each component's blocks rounded up to whole
// sampling units.
std::size_t CoefficientBytes(j_decompress_ptr cinfo)
{
    const auto roundUp = [](std::size_t n, int unit) {
        return unit > 1 ? (n + std::size_t(unit) - 1) / std::size_t(unit) * std::size_t(unit) : n;
    };
    std::size_t bytes = 0;
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info &comp = cinfo->comp_info[c];
        bytes += roundUp(comp.width_in_blocks, comp.h_samp_factor) *
                 roundUp(comp.height_in_blocks, comp.v_samp_factor) * sizeof(JBLOCK);
    }
    return bytes;
}

} // namespace cxjpeg

namespace cxcodec {

using cxjpeg::CoefficientBudget;

void SetJpegDecodeBudget(std::size_t bytes)
{
    CoefficientBudget::SetBytes(bytes);
}

std::size_t JpegDecodeBudget()
{
    return CoefficientBudget::Bytes();
}

DecodeBudgetHold::DecodeBudgetHold(std::size_t bytes) : m_bytes(bytes)
{
    CoefficientBudget::Acquire(m_bytes);
}

DecodeBudgetHold::~DecodeBudgetHold()
{
    CoefficientBudget::Release(m_bytes);
}

void testhooks::SetJpegTrimScans(bool on)
{
    cxjpeg::g_trimScans.store(on);
}

void testhooks::SetJpegOwnAcScans(bool on)
{
    cxjpeg::g_ownAcScans.store(on);
}

void testhooks::SetJpegPdep(bool on)
{
    progressivejpeg::UsePdep(on);
}

int testhooks::JpegDecodesWithHelper()
{
    return cxjpeg::g_helperDecodes.load();
}

int testhooks::JpegCoefficientFiles()
{
    return cxjpeg::g_coefFiles.load();
}

int testhooks::JpegDecodesByRow()
{
    return cxjpeg::g_byRowDecodes.load();
}

std::size_t JpegScratchBytes(std::FILE *f)
{
    // Walks the markers up to the frame header, skipping metadata segments
    // without reading them; a few hundred segments are plenty for any real
    // file.
    unsigned char b[2];
    if (std::fread(b, 1, 2, f) != 2 || b[0] != 0xFF || b[1] != 0xD8)
        return 0;
    for (int segments = 0; segments < 512; ++segments) {
        int c = std::fgetc(f);
        if (c != 0xFF)
            return 0;
        do
            c = std::fgetc(f);
        while (c == 0xFF); // fill bytes
        if (c == EOF || c == 0xD9 || c == 0xDA)
            return 0; // no frame before the image data
        if (c == 0x01 || (c >= 0xD0 && c <= 0xD7))
            continue; // markers without a length
        if (std::fread(b, 1, 2, f) != 2)
            return 0;
        const long length = (long(b[0]) << 8 | b[1]) - 2;
        if (length < 0)
            return 0;
        const bool frame = c >= 0xC0 && c <= 0xCF && c != 0xC4 && c != 0xC8 && c != 0xCC;
        if (!frame) {
            if (std::fseek(f, length, SEEK_CUR) != 0)
                return 0;
            continue;
        }
        // Only progressive frames keep every coefficient as a rule
        // (sequential files with one scan per component are rare).
        const bool progressive = c == 0xC2 || c == 0xC6 || c == 0xCA || c == 0xCE;
        unsigned char h[6 + 3 * 4];
        if (!progressive || length < 6 || std::fread(h, 1, 6, f) != 6)
            return 0;
        const long height = long(h[1]) << 8 | h[2], width = long(h[3]) << 8 | h[4];
        const int n = h[5];
        if (n < 1 || n > 4 || length < 6 + 3 * n ||
            std::fread(h + 6, 1, std::size_t(3 * n), f) != std::size_t(3 * n))
            return 0;
        int hmax = 1, vmax = 1;
        for (int i = 0; i < n; ++i) {
            hmax = std::max(hmax, h[6 + 3 * i + 1] >> 4);
            vmax = std::max(vmax, h[6 + 3 * i + 1] & 15);
        }
        std::size_t bytes = 0;
        for (int i = 0; i < n; ++i) {
            const int hs = std::max(1, h[6 + 3 * i + 1] >> 4), vs = std::max(1, h[6 + 3 * i + 1] & 15);
            // Blocks rounded up to whole sampling units, as the decoder
            // asks for them.
            const long bw = (width * hs + 8L * hmax - 1) / (8L * hmax) + hs - 1;
            const long bh = (height * vs + 8L * vmax - 1) / (8L * vmax) + vs - 1;
            bytes += std::size_t(bw / hs * hs) * std::size_t(bh / vs * vs) * sizeof(JBLOCK);
        }
        return bytes;
    }
    return 0;
}

} // namespace cxcodec
