// JPEG reading and writing through libjpeg-turbo.
//
// libjpeg reports fatal errors through error_exit, which must not return; we
// leave with longjmp. Everything with a destructor that lives across a jump
// sits in a heap-allocated context created before setjmp, so no destructor
// is ever skipped and nothing touched after setjmp is an automatic variable.
#include "imaging/codecs/codecs.h"
#include "imaging/colourprofile.h"
#include "imaging/cxmetadata.h"
#include "imaging/largeblocks.h"
#include "imaging/pixelops.h"
#include "imaging/codecs/progressivejpeg.h"
#include "imaging/runresources.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h: which warnings exist depends on its configuration.
#include <jerror.h>

namespace {

// A real progressive file has about ten scans; thousands of tiny scans over a
// large frame are a way to make decoding crawl.
constexpr int kMaxScans = 256;

struct JpegErrorMgr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool acceptTruncated; // a cut-off file decodes to what arrived
    bool truncated;       // the data ended early (libjpeg fills the rest)
};

[[noreturn]] void FailWith(j_common_ptr cinfo, const char *text)
{
    auto *err = reinterpret_cast<JpegErrorMgr *>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", text);
    std::longjmp(err->jump, 1);
}

[[noreturn]] void OnErrorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<JpegErrorMgr *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void OnOutputMessage(j_common_ptr) {}

void OnEmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return; // trace output
    // Warnings that mean pixels were lost or invented make the file unreadable
    // for us; harmless ones (stray bytes between markers, odd JFIF versions)
    // are tolerated. A viewer may ask for the part of a cut-off file that
    // arrived: after the early end the decoder meets the end marker it put
    // there itself and fills the rest. It takes what libjpeg recovers of
    // damaged data the same way, as every viewer shows it.
    auto *err = reinterpret_cast<JpegErrorMgr *>(cinfo->err);
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
        if (!err->acceptTruncated)
            OnErrorExit(cinfo);
        err->truncated = true;
        break;
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
        if (!err->truncated && !err->acceptTruncated)
            OnErrorExit(cinfo);
        break;
    default:
        break;
    }
    if (++cinfo->err->num_warnings > 1000)
        FailWith(cinfo, "too many damaged markers");
}

void OnProgress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        FailWith(cinfo, "too many progressive scans");
}

void InstallErrorMgr(JpegErrorMgr &err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = OnErrorExit;
    err.pub.output_message = OnOutputMessage;
    err.pub.emit_message = OnEmitMessage;
    err.message[0] = '\0';
    err.acceptTruncated = false;
    err.truncated = false;
}

// The coefficient arrays of a multi-scan decode, held in large blocks that
// outlive the decode (see largeblocks.h) instead of libjpeg's own pool,
// which frees them and makes the next picture fault in fresh pages. libjpeg
// reaches its arrays only through the memory manager's methods, so ours
// stand in for the block-array ones; everything else stays libjpeg's.
struct CoefArray {
    JBLOCKROW *rows = nullptr;
    JDIMENSION width = 0, height = 0;
    JDIMENSION maxAccess = 0;      // rows libjpeg asks for at once
    JDIMENSION firstUndefined = 0; // rows from here on have not been cleared yet
};

// Coefficient arrays that are never held whole, for a progressive file whose
// AC scans our decoder reads a row at a time: libjpeg's DC scans write into
// a few rows at a time, whose DC coefficients are kept aside, and when
// libjpeg asks for rows to make pixels of, they are made then, their DC
// coefficients put back and their AC ones decoded. A 5120 x 2880 photo then
// needs a few megabytes (DC coefficients, our decoder's masks) instead of 90.
struct RowArrays {
    progressivejpeg::RowReader reader;
    struct Window {
        std::vector<JCOEF> dc;     // every block's DC coefficient
        std::vector<JCOEF> blocks; // the rows libjpeg holds now
        std::vector<JBLOCKROW> rows;
        JDIMENSION start = 0, count = 0;
        bool writable = false;
        JDIMENSION acRows = 0; // rows with AC coefficients in the file (the rest pad)
        bool wanted = false;   // whether its AC coefficients are decoded
    } windows[MAX_COMPONENTS];
};

// One block holding a decode's coefficient arrays, one per request, rows
// laid out one after another.
struct CoefStore {
    void *block = nullptr;
    std::size_t bytes = 0;
    bool zeroed = false; // freshly mapped: every coefficient already zero
    std::vector<JBLOCKROW> rowPointers;
    JBLOCKROW *rows[MAX_COMPONENTS] = {}; // each array's first row pointer

    // Lays out arrays of these shapes; false when memory is short. Never
    // leaves through longjmp (callers may hold a lock).
    bool LayOut(const CoefArray *arrays, int count)
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
    void Release()
    {
        largeblocks::Release(block, bytes);
        block = nullptr;
    }
    ~CoefStore() { Release(); }
};

struct CoefArrays {
    jpeg_memory_mgr own{}; // libjpeg's methods
    CoefArray arrays[MAX_COMPONENTS];
    int count = 0;
    bool realized = false;
    CoefStore store;
    std::unique_ptr<RowArrays> byRow;

    void Free()
    {
        store.Release();
        byRow.reset();
        count = 0;
        realized = false;
    }
};

struct JpegDecoder {
    jpeg_decompress_struct cinfo{};
    JpegErrorMgr err{};
    jpeg_progress_mgr progress{};
    std::vector<JSAMPROW> rows;
    std::vector<JSAMPLE> scratch;
    std::size_t reserved = 0; // bytes held in the coefficient budget
    CoefArrays coef;
    std::vector<JOCTET> trimmed; // the file without the scans libjpeg needs not read
    // AC scans decoded by progressivejpeg as the arrays are laid out; libjpeg
    // then reads only the rest of the file (trimmed).
    struct {
        const std::uint8_t *data = nullptr; // the whole file, or nullptr when libjpeg reads every scan
        std::size_t size = 0, firstMarker = 0, firstData = 0;
        bool wanted[MAX_COMPONENTS] = {}; // components whose AC coefficients the output uses
        bool smoothing = true;            // libjpeg's block smoothing, to restore when libjpeg reads all
        bool allowed = true;              // false: libjpeg reads every scan
        bool byRow = false;               // rows may be decoded as libjpeg asks for them (RowArrays)
        bool redo = false;                // a row turned out damaged: decode again with libjpeg alone
    } ownAc;
    void *cmykTransform = nullptr; // through the file's CMYK profile
    JpegDecoder();
    ~JpegDecoder();
};

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
std::atomic<int> g_helperDecodes{0}, g_byRowDecodes{0}, g_redoneDecodes{0};
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
    if (!d.ownAc.byRow || HelperAllowed(cinfo, d.reserved) || !DescribeFrame(cinfo, c, f))
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
    // Each coefficient keeps the precision of the last scan that sent it.
    bool complete[MAX_COMPONENTS][DCTSIZE2] = {};
    bool dcSeen[MAX_COMPONENTS] = {};
    int scans = 0;
    const auto note = [&](const int *comps, int n, int ss, int se, int al) {
        for (int i = 0; i < n; ++i) {
            for (int k = ss; k <= se; ++k)
                complete[comps[i]][k] = al == 0;
            if (ss == 0)
                dcSeen[comps[i]] = true;
        }
        return ss == 0 || dcSeen[comps[0]];
    };
    const auto componentIndex = [&](int id) {
        for (int c = 0; c < cinfo->num_components; ++c)
            if (cinfo->comp_info[c].component_id == id)
                return c;
        return -1;
    };

    // The first scan, whose header libjpeg has read.
    if (cinfo->Ss != 0 || cinfo->comps_in_scan < 1)
        return false;
    {
        const std::size_t headerBytes = 2 + 2 + 1 + 2 * std::size_t(cinfo->comps_in_scan) + 3;
        if (firstData < headerBytes)
            return false;
        firstMarker = firstData - headerBytes;
        if (data[firstMarker] != 0xFF || data[firstMarker + 1] != 0xDA)
            return false;
        int comps[MAX_COMPS_IN_SCAN];
        for (int i = 0; i < cinfo->comps_in_scan; ++i)
            comps[i] = cinfo->cur_comp_info[i]->component_index;
        note(comps, cinfo->comps_in_scan, 0, 0, cinfo->Al);
        ++scans;
        ScanRecord first;
        first.begin = firstMarker;
        first.end = ScanDataEnd(data, size, firstData);
        first.scan = true;
        segments.push_back(first);
    }
    std::size_t pos = segments.back().end;
    for (;;) {
        progressivejpeg::MarkerSegment ms;
        if (!progressivejpeg::ReadMarkerSegment(data, size, pos, ms))
            return false;
        if (ms.marker == 0xD9)
            break;
        const std::size_t length = ms.end - ms.body + 2;
        ScanRecord seg;
        seg.begin = pos;
        if (ms.marker == 0xDA) {
            if (length < 8 || ++scans > kMaxScans)
                return false;
            const std::uint8_t *h = data + ms.body;
            const int n = h[0];
            if (n < 1 || n > MAX_COMPS_IN_SCAN || length != std::size_t(6 + 2 * n))
                return false;
            int comps[MAX_COMPS_IN_SCAN];
            for (int i = 0; i < n; ++i)
                if ((comps[i] = componentIndex(h[1 + 2 * i])) < 0)
                    return false;
            const int ss = h[1 + 2 * n], se = h[2 + 2 * n], al = h[3 + 2 * n] & 15;
            if (ss > se || se >= DCTSIZE2 || (ss > 0 && n != 1) || (ss == 0 && se != 0))
                return false;
            if (!note(comps, n, ss, se, al))
                return false;
            seg.scan = true;
            seg.component = ss > 0 ? comps[0] : -1;
            seg.end = ScanDataEnd(data, size, ms.end);
            if (seg.end >= size)
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
    for (int c = 0; c < cinfo->num_components; ++c)
        for (int k = 0; k < DCTSIZE2; ++k)
            if (!complete[c][k])
                return false;
    return true;
}

JpegDecoder::JpegDecoder() = default;

JpegDecoder::~JpegDecoder()
{
    coef.Free();
    cxcolour::FreeTransform(cmykTransform);
}

std::atomic<bool> g_trimScans{true};
std::atomic<bool> g_ownAcScans{true};

bool OwnAcScansApply(const JpegDecoder &d)
{
    return d.ownAc.allowed && g_ownAcScans.load(std::memory_order_relaxed) && d.cinfo.progressive_mode &&
           !d.cinfo.arith_code && d.cinfo.num_components <= 4;
}

// The AC scans, most of a progressive file, are left out of what libjpeg
// reads. Our own decoder reads those the output uses (progressivejpeg.h);
// failing that, at 1/8 scale, a component whose blocks become single pixels
// needs only their DC coefficients, and its AC scans are simply dropped (for
// a thumbnail of a progressive photo, most of the decoding time). The
// pixels are the same. Leaves the decoder on the whole file when neither
// applies.
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

bool HelperAllowed(j_decompress_ptr cinfo, std::size_t coefBytes)
{
    if (!cinfo->progressive_mode || cinfo->arith_code || cinfo->num_components < 2 ||
        cinfo->num_components > MAX_COMPONENTS || coefBytes < kHelperMinCoefBytes)
        return false;
    const int limit = cxops::ThreadLimit();
    return limit == 1 ? false : limit >= 2 || std::thread::hardware_concurrency() >= 2;
}

// A multi-scan file keeps every DCT coefficient of its frame in memory (for
// a 5120 x 2880 photo about 90 MB) whatever the output scale, unless our
// decoder makes them a row at a time (RowArrays: one thread only). Decoders on
// several threads share one budget (RunResources::decodeBudgetBytes), so a
// batch on many cores never holds more than two such photos at once; a file
// larger than the budget waits until it can run alone.
class CoefficientBudget {
public:
    static void Acquire(std::size_t bytes)
    {
        std::unique_lock lock(Mutex());
        Changed().wait(lock, [&] { return InUse() == 0 || InUse() + bytes <= Bytes(); });
        InUse() += bytes;
    }
    static void SetBytes(std::size_t bytes)
    {
        {
            std::lock_guard lock(Mutex());
            Bytes() = bytes;
        }
        Changed().notify_all();
    }
    static std::atomic<std::size_t> &Bytes()
    {
        static constinit std::atomic<std::size_t> bytes{RunResources{}.decodeBudgetBytes};
        return bytes;
    }
    static void Release(std::size_t bytes)
    {
        {
            std::lock_guard lock(Mutex());
            InUse() -= bytes;
        }
        Changed().notify_all();
    }

private:
    static std::mutex &Mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::condition_variable &Changed()
    {
        static std::condition_variable c;
        return c;
    }
    static std::size_t &InUse()
    {
        static std::size_t n = 0;
        return n;
    }
};

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

inline BYTE Mul255(int a, int b)
{
    return BYTE((a * b + 127) / 255);
}

// CMYK row (C, M, Y, K per pixel) to B, G, R. Adobe files store the inks
// inverted (0 = full ink), which makes the product direct.
void CmykRowToBgr(const JSAMPLE *src, BYTE *dst, int width, bool inverted)
{
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
        int c = src[0], m = src[1], y = src[2], k = src[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        dst[0] = Mul255(y, k);
        dst[1] = Mul255(m, k);
        dst[2] = Mul255(c, k);
    }
}

struct JpegDest {
    jpeg_destination_mgr pub;
    CxFile *file;
    JOCTET buffer[65536];
};

void DestInit(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<JpegDest *>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = sizeof dest->buffer;
}

boolean DestEmpty(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<JpegDest *>(cinfo->dest);
    if (dest->file->Write(dest->buffer, 1, sizeof dest->buffer) != sizeof dest->buffer)
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "cannot write file");
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = sizeof dest->buffer;
    return TRUE;
}

void DestTerm(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<JpegDest *>(cinfo->dest);
    const std::size_t n = sizeof dest->buffer - dest->pub.free_in_buffer;
    if (n && dest->file->Write(dest->buffer, 1, n) != n)
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "cannot write file");
}

struct JpegEncoder {
    jpeg_compress_struct cinfo{};
    JpegErrorMgr err{};
    JpegDest dest{};
    std::vector<JSAMPLE> row;
    std::vector<JSAMPROW> rows;
};

// A paletted image whose visible entries are all grey can be written as a
// one-channel JPEG (its transparent entry turns white either way).
bool HasGreyPalette(const CxImage &img)
{
    if (img.GetBpp() == 24)
        return false;
    const RGBQUAD *pal = img.GetPalette();
    for (int i = 0; i < img.GetNumColors(); ++i) {
        if (i == img.GetTransIndex())
            continue;
        if (pal[i].rgbRed != pal[i].rgbGreen || pal[i].rgbRed != pal[i].rgbBlue)
            return false;
    }
    return true;
}

// The metadata segments libjpeg kept while reading the header, as the
// picture's blocks; returns the EXIF orientation. Calls no libjpeg function,
// so nothing here is skipped by a longjmp; a block that cannot be held is
// dropped (metadata never stops a picture).
int KeepMetadata(j_decompress_ptr cinfo, CxImage &out)
{
    static const char kExif[] = "Exif\0";
    static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";
    static const char kIcc[] = "ICC_PROFILE";
    static const char kPhotoshop[] = "Photoshop 3.0";
    auto startsWith = [](const jpeg_marker_struct *m, const char *name, std::size_t n) {
        return m->data_length >= n && std::memcmp(m->data, name, n) == 0;
    };
    if (!cinfo->marker_list)
        return 1;
    CxMetadata meta;
    try {
        // ICC profiles longer than a segment come in numbered chunks.
        std::vector<const jpeg_marker_struct *> icc;
        for (const jpeg_marker_struct *m = cinfo->marker_list; m; m = m->next) {
            const auto *d = reinterpret_cast<const char *>(m->data);
            if (m->marker == JPEG_APP0 + 1 && meta.exif.empty() && startsWith(m, kExif, 6))
                meta.exif.assign(d + 6, m->data_length - 6);
            else if (m->marker == JPEG_APP0 + 1 && meta.xmp.empty() && startsWith(m, kXmp, sizeof kXmp))
                meta.xmp.assign(d + sizeof kXmp, m->data_length - sizeof kXmp);
            else if (m->marker == JPEG_APP0 + 2 && startsWith(m, kIcc, sizeof kIcc) && m->data_length > 14)
                icc.push_back(m);
            else if (m->marker == JPEG_APP0 + 13 && meta.iptc.empty() &&
                     startsWith(m, kPhotoshop, sizeof kPhotoshop))
                meta.iptc = cxmeta::IptcFromPhotoshop(m->data + sizeof kPhotoshop,
                                                      m->data_length - sizeof kPhotoshop);
        }
        // Chunks in sequence order; a missing or repeated one drops the profile.
        const std::size_t count = icc.empty() ? 0 : icc.front()->data[13];
        for (std::size_t seq = 1; seq <= count && count == icc.size(); ++seq) {
            const auto it = std::find_if(icc.begin(), icc.end(), [&](auto *m) { return m->data[12] == seq; });
            if (it == icc.end()) {
                meta.icc.clear();
                break;
            }
            meta.icc.append(reinterpret_cast<const char *>((*it)->data) + 14, (*it)->data_length - 14);
        }
    } catch (const std::bad_alloc &) {
        return 1;
    }
    const int orientation = cxmeta::ExifOrientation(meta.exif);
    CxImageAccess::SetMetadata(out, std::move(meta));
    return orientation;
}

// A transform through the picture's CMYK profile (null without one), which
// then leaves the picture's blocks. Calls no libjpeg function.
void *MakeCmykTransform(CxImage &out, bool inverted)
{
    void *t = cxcolour::MakeCmykTransform(out.GetMetadata().icc, inverted);
    if (t) {
        CxMetadata meta = out.GetMetadata();
        meta.icc.clear();
        CxImageAccess::SetMetadata(out, std::move(meta));
    }
    return t;
}

// The decode proper. May leave through longjmp at any libjpeg call, so it
// keeps nothing with a destructor on its own frame.
void ReadJpeg(JpegDecoder &dec, const std::uint8_t *data, std::size_t size, CxImage &out,
              const cxcodec::DecodeRequest &req)
{
    JpegDecoder *const d = &dec;
    j_decompress_ptr cinfo = &d->cinfo;
    jpeg_create_decompress(cinfo);
    InstallCoefArrays(*d);
    d->progress.progress_monitor = OnProgress;
    cinfo->progress = &d->progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    for (const int marker : {JPEG_APP0 + 1, JPEG_APP0 + 2, JPEG_APP0 + 13})
        jpeg_save_markers(cinfo, marker, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    const int orientation = KeepMetadata(cinfo, out);

    const int srcW = int(cinfo->image_width), srcH = int(cinfo->image_height);
    // Multi-scan files keep every coefficient of the full frame in memory, so
    // their own size must fit; a sequential file only needs the output to.
    if (jpeg_has_multiple_scans(cinfo) && !cxcodec::FitsPixelLimits(srcW, srcH))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "image too large");

    // Huffman data spends at least two bits on every block (DC and end of
    // block), or in a progressive file at least one in its DC scans, so a
    // file too short for its frame is refused before anything is allocated.
    // Arithmetic coding packs an empty block into a sliver of a bit; there a
    // block per 1/16 bit is the most believed, which bounds what a small file
    // can make us allocate (a 1 KB file: 128K blocks, about 24 MB).
    {
        std::uint64_t blocks = 0;
        for (int c = 0; c < cinfo->num_components; ++c)
            blocks +=
                std::uint64_t(cinfo->comp_info[c].width_in_blocks) * cinfo->comp_info[c].height_in_blocks;
        const std::uint64_t perByte = cinfo->arith_code ? 128 : cinfo->progressive_mode ? 8 : 4;
        if (blocks > std::uint64_t(size) * perByte)
            FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
    }

    bool grey = false, cmyk = false;
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        grey = true;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK; // libjpeg turns YCCK into CMYK
        cmyk = true;
        break;
    default:
        cinfo->out_color_space = JCS_EXT_BGR;
        break;
    }

    // A coarse look at a progressive file: its first scan only (every block's
    // average, all a first scan holds), so at 1/8 scale.
    const bool coarse = req.coarse && cinfo->progressive_mode && !cmyk;
    if (coarse)
        cinfo->buffered_image = TRUE;

    // Reduced decode: the strongest of 1/8, 1/4, 1/2 that still covers the
    // hint (these have fast IDCTs; other M/8 factors are not worth it).
    cinfo->scale_num = 1;
    cinfo->scale_denom = coarse ? 8 : 1;
    int hintW = 0, hintH = 0;
    req.Hint(srcW, srcH, orientation, hintW, hintH);
    if (!coarse && (hintW > 0 || hintH > 0)) {
        for (unsigned denom = 8; denom > 1; denom /= 2) {
            cinfo->scale_denom = denom;
            jpeg_calc_output_dimensions(cinfo);
            if ((hintW <= 0 || int(cinfo->output_width) >= hintW) &&
                (hintH <= 0 || int(cinfo->output_height) >= hintH))
                break;
            cinfo->scale_denom = 1;
        }
    }
    jpeg_calc_output_dimensions(cinfo);

    // Only the top left part: the rows below it are never decoded and the
    // columns right of it never reach the inverse DCT. Sequential files
    // stored upright only (a turned picture's top left lies elsewhere in
    // the file, and a multi-scan file has to be read whole anyway).
    if (req.regionWidth > 0 && req.regionHeight > 0 && (orientation == 1 || !req.autoOrient) && !cmyk &&
        cinfo->scale_denom == 1 && !jpeg_has_multiple_scans(cinfo) &&
        (req.regionWidth < srcW || req.regionHeight < srcH)) {
        jpeg_start_decompress(cinfo);
        JDIMENSION x0 = 0, cropW = JDIMENSION(std::min(req.regionWidth, srcW));
        jpeg_crop_scanline(cinfo, &x0, &cropW);
        const int rw = int(cinfo->output_width), rh = std::min(req.regionHeight, srcH);
        if (!cxcodec::FitsPixelLimits(rw, rh) ||
            !CxImageAccess::CreateForDecode(out, rw, rh, grey ? 8 : 24, CXIMAGE_FORMAT_JPG))
            FailWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
        bool rowsAllocated = true;
        try {
            d->rows.resize(std::size_t(rh));
        } catch (const std::bad_alloc &) {
            rowsAllocated = false; // never jump out of a handler
        }
        if (!rowsAllocated)
            FailWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
        for (int y = 0; y < rh; ++y)
            d->rows[std::size_t(y)] = out.GetBits(y);
        while (int(cinfo->output_scanline) < rh) {
            const JDIMENSION line = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, &d->rows[line], JDIMENSION(rh) - line) == 0)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
        }
        jpeg_abort_decompress(cinfo);
        CxImageAccess::SetSourceSize(out, srcW, srcH);
        CxImageAccess::SetOrientation(out, orientation);
        return;
    }

    const int w = int(cinfo->output_width), h = int(cinfo->output_height);
    if (!cxcodec::FitsPixelLimits(w, h))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "image too large");
    // Rows may go to a sink as they come: not for a turned or CMYK picture.
    const bool mayStream = req.rows && !coarse && !cmyk && (orientation == 1 || !req.autoOrient);
    if (mayStream)
        req.rows->FileSize(srcW, srcH);
    CxImage *const band =
        mayStream ? req.rows->Begin(w, h, grey ? 8 : 24, CXIMAGE_FORMAT_JPG, out.GetMetadata()) : nullptr;
    // Every row is written below, or the decode fails.
    if (band) {
        CxImageAccess::SetMetadata(*band, out.GetMetadata());
        CxImageAccess::SetOrientation(*band, orientation);
        CxImageAccess::SetMetadata(out, CxMetadata{});
    } else if (!CxImageAccess::CreateForDecode(out, w, h, grey ? 8 : 24, CXIMAGE_FORMAT_JPG)) {
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    }
    bool allocated = true;
    try {
        d->rows.resize(band ? 0 : std::size_t(h));
        if (cmyk)
            d->scratch.resize(std::size_t(w) * 4);
    } catch (const std::bad_alloc &) {
        allocated = false; // never jump out of a handler
    }
    if (!allocated)
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    for (int y = 0; !band && y < h; ++y)
        d->rows[std::size_t(y)] = out.GetBits(y);

    if (jpeg_has_multiple_scans(cinfo)) {
        d->reserved = CoefficientBytes(cinfo);
        CoefficientBudget::Acquire(d->reserved);
        if (!coarse) {
            // Rows handed on as they come are decoded a second time only
            // where the sink may begin again.
            d->ownAc.byRow = !band || req.rows->Repeatable();
            LeaveOutAcScans(*d, data, size);
        }
    }
    jpeg_start_decompress(cinfo);
    if (coarse) {
        // Output from the first scan: input is read only as far as it needs.
        jpeg_start_output(cinfo, 1);
        if (int(cinfo->output_width) != w || int(cinfo->output_height) != h ||
            cinfo->output_components != (grey ? 1 : 3))
            FailWith(reinterpret_cast<j_common_ptr>(cinfo), "unexpected JPEG layout");
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION line = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, &d->rows[line], cinfo->output_height - line) == 0)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
        }
        jpeg_abort_decompress(cinfo);
        CxImageAccess::SetSourceSize(out, srcW, srcH);
        CxImageAccess::SetOrientation(out, orientation);
        return;
    }
    if (int(cinfo->output_width) != w || int(cinfo->output_height) != h ||
        cinfo->output_components != (grey   ? 1
                                     : cmyk ? 4
                                            : 3))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "unexpected JPEG layout");

    if (band) {
        while (cinfo->output_scanline < cinfo->output_height) {
            const int line = int(cinfo->output_scanline);
            if (!req.rows->Room(line))
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "stopped");
            JSAMPROW row = band->GetBits(line);
            if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
            req.rows->Filled(line);
        }
    } else if (!cmyk) {
        // Straight into the image rows: no second conversion pass.
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION line = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, &d->rows[line], cinfo->output_height - line) == 0)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
        }
    } else {
        const bool inverted = cinfo->saw_Adobe_marker;
        // With its profile the ink turns into the colours it was meant to
        // print; the picture is then sRGB and the profile is dropped.
        d->cmykTransform = MakeCmykTransform(out, inverted);
        JSAMPROW scratch = d->scratch.data();
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION line = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, &scratch, 1) != 1)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
            if (d->cmykTransform)
                cxcolour::CmykToBgr(d->cmykTransform, scratch, d->rows[line], w);
            else
                CmykRowToBgr(scratch, d->rows[line], w, inverted);
        }
    }
    jpeg_finish_decompress(cinfo);
    if (band)
        return;
    CxImageAccess::SetSourceSize(out, srcW, srcH);
    CxImageAccess::SetOrientation(out, orientation);
}

// The encode proper; like ReadJpeg it may leave through longjmp.
void WriteJpeg(JpegEncoder &enc, const CxImage &img, CxFile &file)
{
    JpegEncoder *const e = &enc;
    j_compress_ptr cinfo = &e->cinfo;
    const int w = img.GetWidth(), h = img.GetHeight();
    const bool grey = HasGreyPalette(img);
    // Colour rows that need no conversion go to libjpeg as they are.
    const bool direct = img.GetBpp() == 24 && !img.AlphaIsValid();
    jpeg_create_compress(cinfo);
    e->dest.file = &file;
    e->dest.pub.init_destination = DestInit;
    e->dest.pub.empty_output_buffer = DestEmpty;
    e->dest.pub.term_destination = DestTerm;
    cinfo->dest = &e->dest.pub;

    cinfo->image_width = JDIMENSION(w);
    cinfo->image_height = JDIMENSION(h);
    cinfo->input_components = grey ? 1 : 3;
    cinfo->in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);
    const int quality = std::max(1, int(img.GetJpegQuality()));
    jpeg_set_quality(cinfo, quality, TRUE);
    if (!grey && quality >= 90) {
        // At high quality chroma subsampling costs more than it saves.
        cinfo->comp_info[0].h_samp_factor = 1;
        cinfo->comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(cinfo, TRUE);

    // A band picture's rows are taken one at a time as they arrive.
    cxcodec::RowFeed *const feed = CxImageAccess::Feed(img);
    const auto arrived = [&](int y) {
        if (feed && !feed->Arrived(y))
            FailWith(reinterpret_cast<j_common_ptr>(cinfo), "the picture could not be read");
    };
    if (direct && feed) {
        for (int y = 0; y < h; ++y) {
            arrived(y);
            JSAMPROW row = const_cast<JSAMPROW>(img.GetBits(y));
            jpeg_write_scanlines(cinfo, &row, 1);
        }
    } else if (direct) {
        for (int y = 0; y < h; ++y)
            e->rows[std::size_t(y)] = const_cast<JSAMPROW>(img.GetBits(y));
        while (cinfo->next_scanline < cinfo->image_height) {
            const JDIMENSION line = cinfo->next_scanline;
            if (jpeg_write_scanlines(cinfo, &e->rows[line], cinfo->image_height - line) == 0)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "cannot write file");
        }
    } else {
        JSAMPROW row = e->row.data();
        const RGBQUAD *pal = img.GetPalette();
        const int trans = img.GetTransIndex();
        for (int y = 0; y < h; ++y) {
            arrived(y);
            if (grey) {
                const BYTE *src = img.GetBits(y);
                for (int x = 0; x < w; ++x)
                    row[x] = src[x] == trans ? 255 : pal[src[x]].rgbRed;
            } else {
                cxcodec::RowToBGR(img, y, row, true);
            }
            jpeg_write_scanlines(cinfo, &row, 1);
        }
    }
    jpeg_finish_compress(cinfo);
}

// One decode; own says whether our decoder may read AC scans. A file whose
// AC data turns out damaged once rows have been made is decoded again by
// libjpeg alone, as if our decoder had declined it at the start.
bool DecodeJpegOnce(const std::uint8_t *data, std::size_t size, CxImage &out,
                    const cxcodec::DecodeRequest &req, bool own)
{
    std::unique_ptr<JpegDecoder> holder(new (std::nothrow) JpegDecoder);
    JpegDecoder *const d = holder.get();
    if (!d) {
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    InstallErrorMgr(d->err);
    d->err.acceptTruncated = req.acceptTruncated;
    d->cinfo.err = &d->err.pub;
    d->ownAc.allowed = own;
    if (setjmp(d->err.jump)) {
        jpeg_destroy_decompress(&d->cinfo);
        if (d->reserved)
            CoefficientBudget::Release(d->reserved);
        out.Destroy();
        if (d->ownAc.redo) {
            ++g_redoneDecodes;
            holder.reset();
            return DecodeJpegOnce(data, size, out, req, false);
        }
        CxImageAccess::SetError(out, d->err.message[0] ? d->err.message : "cannot decode JPEG");
        return false;
    }
    ReadJpeg(*d, data, size, out, req);
    jpeg_destroy_decompress(&d->cinfo);
    if (d->reserved)
        CoefficientBudget::Release(d->reserved);
    return true;
}

} // namespace

namespace cxcodec {

bool DecodeJpeg(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size == 0 || size > ULONG_MAX) {
        CxImageAccess::SetError(out, "empty JPEG file");
        return false;
    }
    return DecodeJpegOnce(data, size, out, req, true);
}

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
    g_trimScans.store(on);
}

void testhooks::SetJpegOwnAcScans(bool on)
{
    g_ownAcScans.store(on);
}

void testhooks::SetJpegPdep(bool on)
{
    progressivejpeg::UsePdep(on);
}

int testhooks::JpegDecodesWithHelper()
{
    return g_helperDecodes.load();
}

int testhooks::JpegDecodesByRow()
{
    return g_byRowDecodes.load();
}

int testhooks::JpegDecodesRedone()
{
    return g_redoneDecodes.load();
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

bool EncodeJpeg(const CxImage &img, CxFile &file, std::string *why)
{
    if (!img.IsValid())
        return false;
    std::unique_ptr<JpegEncoder> holder(new (std::nothrow) JpegEncoder);
    JpegEncoder *const e = holder.get();
    if (!e)
        return false;
    try {
        e->row.resize(std::size_t(img.GetWidth()) * 3);
        e->rows.resize(CxImageAccess::Feed(img) ? 0 : std::size_t(img.GetHeight()));
    } catch (const std::bad_alloc &) {
        return false;
    }
    InstallErrorMgr(e->err);
    e->cinfo.err = &e->err.pub;
    if (setjmp(e->err.jump)) {
        if (why)
            *why = e->err.message;
        jpeg_destroy_compress(&e->cinfo);
        return false;
    }
    WriteJpeg(*e, img, file);
    jpeg_destroy_compress(&e->cinfo);
    return true;
}

} // namespace cxcodec
