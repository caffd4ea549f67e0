// The coefficient arrays of a multi-scan JPEG decode and the scans read by
// our own decoder (progressivejpeg.h) instead of libjpeg: a memory manager
// that stands in for libjpeg's block arrays, the list of scans left out of
// what libjpeg reads, and the budget the decodes on all threads share.
// Private to the JPEG codec.
#pragma once

#include "imaging/codecs/progressivejpeg.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

class CxFile;

namespace cxjpeg {

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

// Where an encode's bytes go: a stream, through a buffer.
struct JpegDest {
    jpeg_destination_mgr pub;
    CxFile *file;
    JOCTET buffer[65536];
};
// Points cinfo's output at file through dest.
void WriteTo(j_compress_ptr cinfo, JpegDest &dest, CxFile &file);

// Leaves the decode or encode with text as its message.
[[noreturn]] void FailWith(j_common_ptr cinfo, const char *text);
// Sets err up to leave through its jump on an error, and on warnings that
// mean pixels were lost.
void InstallErrorMgr(JpegErrorMgr &err);

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
    bool LayOut(const CoefArray *arrays, int count);
    void Release();
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

// The coefficient arrays of a progressive encode too large to hold, kept in
// an unnamed file (O_TMPFILE: nothing of it outlives the process) in a
// folder, else the system's temporary folder; only the rows libjpeg works on
// at the moment are in memory. libjpeg fills the arrays in order as the rows
// come, then reads them through once or twice for each scan.
class CoefFile {
public:
    CoefFile() = default;
    ~CoefFile() { Free(); }
    CoefFile(const CoefFile &) = delete;
    CoefFile &operator=(const CoefFile &) = delete;

    // Puts these arrays in place of libjpeg's in cinfo's memory manager;
    // cinfo->client_data must point at this from then on.
    void Install(j_common_ptr cinfo, std::string folder);
    // Lets another libjpeg object (an encode of arrays made here) reach
    // these arrays; its client_data then points at this.
    void Lend(j_common_ptr other);
    // Writes every window written to into the file.
    bool Flush();
    // Blocks [x, x + n) of the array's row y, from the file (after Flush).
    bool ReadBlocks(jvirt_barray_ptr array, JDIMENSION y, JDIMENSION x, JDIMENSION n, JBLOCKROW to);
    // An array (asked for before libjpeg lays its own out) whose rows are
    // made as they are asked for instead of kept: make fills count rows
    // from start (cleared) of at most rows rows, in order from the top.
    using Maker = std::function<void(JDIMENSION start, JDIMENSION count, JBLOCKARRAY rows)>;
    jvirt_barray_ptr Made(JDIMENSION width, JDIMENSION height, JDIMENSION rows, Maker make);

private:
    struct Array {
        JDIMENSION width = 0, height = 0, maxAccess = 0;
        std::uint64_t offset = 0;  // of row 0 in the file
        std::vector<JCOEF> window; // maxAccess rows of blocks
        std::vector<JBLOCKROW> rows;
        JDIMENSION start = 0, count = 0; // the rows in the window
        bool dirty = false;              // written since read
        JDIMENSION written = 0;          // rows from here on were never written: zeros
        Maker make;                      // rows made, not kept
    };
    static CoefFile &Of(j_common_ptr cinfo);
    static jvirt_barray_ptr Request(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION width,
                                    JDIMENSION height, JDIMENSION maxAccess);
    static void Realize(j_common_ptr cinfo);
    static JBLOCKARRAY Access(j_common_ptr cinfo, jvirt_barray_ptr ptr, JDIMENSION start, JDIMENSION count,
                              boolean writable);
    static void FreePool(j_common_ptr cinfo, int pool);
    static void Destroy(j_common_ptr cinfo);
    bool Open(j_common_ptr cinfo);
    bool Move(Array &a, bool write);
    // The window's rows into the file where they were written to.
    bool WriteBack(Array &a);
    void Free();

    jpeg_memory_mgr m_own{}; // libjpeg's methods
    std::string m_folder;
    Array m_arrays[MAX_COMPONENTS];
    int m_count = 0;
    bool m_realized = false;
    int m_fd = -1;
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
        // The frame has more coefficients than a picture may hold: it is
        // read only as RowArrays, or not at all.
        bool rowsOnly = false;
    } ownAc;
    void *cmykTransform = nullptr; // through the file's CMYK profile
    JpegDecoder();
    ~JpegDecoder();
};

// A JPEG too large to hold turned on its coefficients (turn and trim as
// cxlossless::TurnJpeg takes them), the coefficients of the file and of the
// turned picture kept in an unnamed file in folder (else the system's
// temporary folder) instead of memory, the turned file written into out.
bool TurnOnDisk(const std::uint8_t *data, std::size_t size, int turn, bool trim, const std::string &folder,
                std::string &out, int &width, int &height, std::string &reason);

// Puts our block arrays in place of libjpeg's in d's memory manager.
void InstallCoefArrays(JpegDecoder &d);

// The AC scans, most of a progressive file, are left out of what libjpeg
// reads. Our own decoder reads those the output uses (progressivejpeg.h);
// failing that, at 1/8 scale, a component whose blocks become single pixels
// needs only their DC coefficients, and its AC scans are simply dropped (for
// a thumbnail of a progressive photo, most of the decoding time). The
// pixels are the same. Leaves the decoder on the whole file when neither
// applies.
void LeaveOutAcScans(JpegDecoder &d, const std::uint8_t *data, std::size_t size);

// The bytes of every coefficient of the frame, as libjpeg asks for them.
std::size_t CoefficientBytes(j_decompress_ptr cinfo);

// A multi-scan file keeps every DCT coefficient of its frame in memory (for
// a 5120 x 2880 photo about 90 MB) whatever the output scale, unless our
// decoder makes them a row at a time (RowArrays: one thread only). Decoders on
// several threads share one budget (RunResources::decodeBudgetBytes), so a
// batch on many cores never holds more than two such photos at once; a file
// larger than the budget waits until it can run alone.
class CoefficientBudget {
public:
    static void Acquire(std::size_t bytes);
    static void SetBytes(std::size_t bytes);
    static std::size_t Bytes();
    static void Release(std::size_t bytes);
};

} // namespace cxjpeg
