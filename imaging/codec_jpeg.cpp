// JPEG reading and writing through libjpeg-turbo.
//
// libjpeg reports fatal errors through error_exit, which must not return; we
// leave with longjmp. Everything with a destructor that lives across a jump
// sits in a heap-allocated context created before setjmp, so no destructor
// is ever skipped and nothing touched after setjmp is an automatic variable.
#include "codecs.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
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
    // are tolerated.
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
        OnErrorExit(cinfo);
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
}

struct JpegDecoder {
    jpeg_decompress_struct cinfo{};
    JpegErrorMgr err{};
    jpeg_progress_mgr progress{};
    std::vector<JSAMPROW> rows;
    std::vector<JSAMPLE> scratch;
    std::size_t reserved = 0; // bytes held in the coefficient budget
};

// A multi-scan file keeps every DCT coefficient of its frame in memory (for
// a 5120 x 2880 photo about 90 MB) whatever the output scale. Decoders on
// several threads share one budget, so a batch on many cores never holds
// more than two such photos at once; a file larger than the budget waits
// until it can run alone.
class CoefficientBudget {
public:
    static constexpr std::size_t kBytes = std::size_t(192) << 20;

    static void Acquire(std::size_t bytes)
    {
        std::unique_lock lock(Mutex());
        Changed().wait(lock, [&] { return InUse() == 0 || InUse() + bytes <= kBytes; });
        InUse() += bytes;
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

std::size_t CoefficientBytes(j_decompress_ptr cinfo)
{
    std::size_t bytes = 0;
    for (int c = 0; c < cinfo->num_components; ++c)
        bytes += std::size_t(cinfo->comp_info[c].width_in_blocks) * cinfo->comp_info[c].height_in_blocks *
                 sizeof(JBLOCK);
    return bytes;
}

bool FitsLimits(long long w, long long h)
{
    return w > 0 && h > 0 && w <= CxImage::kMaxDimension && h <= CxImage::kMaxDimension &&
           w * h <= CxImage::kMaxPixels;
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

// The decode proper. May leave through longjmp at any libjpeg call, so it
// keeps nothing with a destructor on its own frame.
void ReadJpeg(JpegDecoder &dec, const std::uint8_t *data, std::size_t size, CxImage &out,
              const cxcodec::DecodeRequest &req)
{
    JpegDecoder *const d = &dec;
    j_decompress_ptr cinfo = &d->cinfo;
    jpeg_create_decompress(cinfo);
    d->progress.progress_monitor = OnProgress;
    cinfo->progress = &d->progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);

    const int srcW = int(cinfo->image_width), srcH = int(cinfo->image_height);
    // Multi-scan files keep every coefficient of the full frame in memory, so
    // their own size must fit; a sequential file only needs the output to.
    if (jpeg_has_multiple_scans(cinfo) && !FitsLimits(srcW, srcH))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "image too large");

    // Huffman data spends at least two bits on every block (DC and end of
    // block), or in a progressive file at least one in its DC scans, so a
    // file too short for its frame is refused before anything is allocated.
    // Arithmetic coding can pack empty blocks tighter; it is not checked.
    if (!cinfo->arith_code) {
        int hmax = 1, vmax = 1;
        for (int c = 0; c < cinfo->num_components; ++c) {
            hmax = std::max(hmax, cinfo->comp_info[c].h_samp_factor);
            vmax = std::max(vmax, cinfo->comp_info[c].v_samp_factor);
        }
        const std::uint64_t mcus = std::uint64_t((srcW + 8 * hmax - 1) / (8 * hmax)) *
                                   std::uint64_t((srcH + 8 * vmax - 1) / (8 * vmax));
        if (mcus > std::uint64_t(size) * (cinfo->progressive_mode ? 8 : 4))
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

    // Reduced decode: the strongest of 1/8, 1/4, 1/2 that still covers the
    // hint (these have fast IDCTs; other M/8 factors are not worth it).
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    int hintW = req.hintWidth, hintH = req.hintHeight;
    if (req.hintRule && *req.hintRule) {
        hintW = hintH = 0;
        (*req.hintRule)(srcW, srcH, hintW, hintH);
    }
    if (hintW > 0 || hintH > 0) {
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
    const int w = int(cinfo->output_width), h = int(cinfo->output_height);
    if (!FitsLimits(w, h))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "image too large");
    // Every row is written below, or the decode fails.
    if (!CxImageAccess::CreateForDecode(out, w, h, grey ? 8 : 24, CXIMAGE_FORMAT_JPG))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    bool allocated = true;
    try {
        d->rows.resize(std::size_t(h));
        if (cmyk)
            d->scratch.resize(std::size_t(w) * 4);
    } catch (const std::bad_alloc &) {
        allocated = false; // never jump out of a handler
    }
    if (!allocated)
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    for (int y = 0; y < h; ++y)
        d->rows[std::size_t(y)] = out.GetBits(y);

    if (jpeg_has_multiple_scans(cinfo)) {
        d->reserved = CoefficientBytes(cinfo);
        CoefficientBudget::Acquire(d->reserved);
    }
    jpeg_start_decompress(cinfo);
    if (int(cinfo->output_width) != w || int(cinfo->output_height) != h ||
        cinfo->output_components != (grey   ? 1
                                     : cmyk ? 4
                                            : 3))
        FailWith(reinterpret_cast<j_common_ptr>(cinfo), "unexpected JPEG layout");

    if (!cmyk) {
        // Straight into the image rows: no second conversion pass.
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION line = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, &d->rows[line], cinfo->output_height - line) == 0)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
        }
    } else {
        const bool inverted = cinfo->saw_Adobe_marker;
        JSAMPROW scratch = d->scratch.data();
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION line = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, &scratch, 1) != 1)
                FailWith(reinterpret_cast<j_common_ptr>(cinfo), "truncated JPEG");
            CmykRowToBgr(scratch, d->rows[line], w, inverted);
        }
    }
    jpeg_finish_decompress(cinfo);
    CxImageAccess::SetSourceSize(out, srcW, srcH);
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

    if (direct) {
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

} // namespace

namespace cxcodec {

bool DecodeJpeg(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size == 0 || size > ULONG_MAX) {
        CxImageAccess::SetError(out, "empty JPEG file");
        return false;
    }
    std::unique_ptr<JpegDecoder> holder(new (std::nothrow) JpegDecoder);
    JpegDecoder *const d = holder.get();
    if (!d) {
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    InstallErrorMgr(d->err);
    d->cinfo.err = &d->err.pub;
    if (setjmp(d->err.jump)) {
        jpeg_destroy_decompress(&d->cinfo);
        if (d->reserved)
            CoefficientBudget::Release(d->reserved);
        out.Destroy();
        CxImageAccess::SetError(out, d->err.message[0] ? d->err.message : "cannot decode JPEG");
        return false;
    }
    ReadJpeg(*d, data, size, out, req);
    jpeg_destroy_decompress(&d->cinfo);
    if (d->reserved)
        CoefficientBudget::Release(d->reserved);
    return true;
}

bool EncodeJpeg(const CxImage &img, CxFile &file)
{
    if (!img.IsValid())
        return false;
    std::unique_ptr<JpegEncoder> holder(new (std::nothrow) JpegEncoder);
    JpegEncoder *const e = holder.get();
    if (!e)
        return false;
    try {
        e->row.resize(std::size_t(img.GetWidth()) * 3);
        e->rows.resize(std::size_t(img.GetHeight()));
    } catch (const std::bad_alloc &) {
        return false;
    }
    InstallErrorMgr(e->err);
    e->cinfo.err = &e->err.pub;
    if (setjmp(e->err.jump)) {
        jpeg_destroy_compress(&e->cinfo);
        return false;
    }
    WriteJpeg(*e, img, file);
    jpeg_destroy_compress(&e->cinfo);
    return true;
}

} // namespace cxcodec
