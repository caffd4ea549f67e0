// JPEG reading and writing through libjpeg-turbo.
//
// libjpeg reports fatal errors through error_exit, which must not return; we
// leave with longjmp. Everything with a destructor that lives across a jump
// sits in a heap-allocated context created before setjmp, so no destructor
// is ever skipped and nothing touched after setjmp is an automatic variable.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/jpegcoefficients.h"
#include "imaging/colourprofile.h"
#include "imaging/cxmetadata.h"
#include "imaging/mappedfile.h"
#include "imaging/testhooks.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h: which warnings exist depends on its configuration.
#include <jerror.h>

namespace cxjpeg {

void FailWith(j_common_ptr cinfo, const char *text)
{
    auto *err = reinterpret_cast<JpegErrorMgr *>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", text);
    std::longjmp(err->jump, 1);
}

JpegDecoder::JpegDecoder() = default;

JpegDecoder::~JpegDecoder()
{
    coef.Free();
    cxcolour::FreeTransform(cmykTransform);
}

} // namespace cxjpeg

namespace {

using namespace cxjpeg;

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

} // namespace

void cxjpeg::InstallErrorMgr(JpegErrorMgr &err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = OnErrorExit;
    err.pub.output_message = OnOutputMessage;
    err.pub.emit_message = OnEmitMessage;
    err.message[0] = '\0';
    err.acceptTruncated = false;
    err.truncated = false;
}

namespace {

std::atomic<int> g_redoneDecodes{0};

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

} // namespace

void cxjpeg::WriteTo(j_compress_ptr cinfo, JpegDest &dest, CxFile &file)
{
    dest.file = &file;
    dest.pub.init_destination = DestInit;
    dest.pub.empty_output_buffer = DestEmpty;
    dest.pub.term_destination = DestTerm;
    cinfo->dest = &dest.pub;
}

namespace {

struct JpegEncoder {
    jpeg_compress_struct cinfo{};
    JpegErrorMgr err{};
    JpegDest dest{};
    std::vector<JSAMPLE> row;
    std::vector<JSAMPROW> rows;
    std::unique_ptr<CoefFile> coefFile; // a progressive picture's coefficients too many to hold
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

// What the header says of the picture and how it is decoded. Plain values
// only: the decode may leave through longjmp.
struct JpegPlan {
    int srcW = 0, srcH = 0, orientation = 1;
    bool grey = false, cmyk = false;
    bool coarse = false;     // the first scans only
    int w = 0, h = 0;        // the output
    CxImage *band = nullptr; // rows go to the request's sink
};

[[noreturn]] void Fail(j_decompress_ptr cinfo, const char *text)
{
    FailWith(reinterpret_cast<j_common_ptr>(cinfo), text);
}

// Huffman data spends at least two bits on every block (DC and end of
// block), or in a progressive file at least one in its DC scans, so a file
// too short for its frame is refused before anything is allocated.
// Arithmetic coding packs an empty block into a sliver of a bit; there a
// block per 1/16 bit is the most believed, which bounds what a small file
// can make us allocate (a 1 KB file: 128K blocks, about 24 MB).
void RefuseTooShort(j_decompress_ptr cinfo, std::size_t size)
{
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo->num_components; ++c)
        blocks += std::uint64_t(cinfo->comp_info[c].width_in_blocks) * cinfo->comp_info[c].height_in_blocks;
    const std::uint64_t perByte = cinfo->arith_code ? 128 : cinfo->progressive_mode ? 8 : 4;
    if (blocks > std::uint64_t(size) * perByte)
        Fail(cinfo, "truncated JPEG");
}

void ReadJpegHeader(JpegDecoder &d, const std::uint8_t *data, std::size_t size, CxImage &out, JpegPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    jpeg_create_decompress(cinfo);
    InstallCoefArrays(d);
    d.progress.progress_monitor = OnProgress;
    cinfo->progress = &d.progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    for (const int marker : {JPEG_APP0 + 1, JPEG_APP0 + 2, JPEG_APP0 + 13})
        jpeg_save_markers(cinfo, marker, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    plan.orientation = KeepMetadata(cinfo, out);
    plan.srcW = int(cinfo->image_width);
    plan.srcH = int(cinfo->image_height);
    // Multi-scan files keep every coefficient of the full frame in memory, so
    // their own size must fit; a sequential file only needs the output to. A
    // larger progressive file can still be read with its coefficients made a
    // block row at a time as the rows are wanted (only its DC coefficients,
    // two bytes a block, are kept whole).
    if (jpeg_has_multiple_scans(cinfo) && !cxcodec::FitsPixelLimits(plan.srcW, plan.srcH)) {
        if (!cinfo->progressive_mode || cinfo->arith_code)
            Fail(cinfo, "image too large");
        d.ownAc.rowsOnly = true;
    }
    RefuseTooShort(cinfo, size);
}

void ChooseColourSpace(j_decompress_ptr cinfo, JpegPlan &plan)
{
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        plan.grey = true;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK; // libjpeg turns YCCK into CMYK
        plan.cmyk = true;
        break;
    default:
        cinfo->out_color_space = JCS_EXT_BGR;
        break;
    }
}

void ChooseScale(JpegDecoder &d, const cxcodec::DecodeRequest &req, JpegPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    // A coarse look at a progressive file: its first scans only, up to the
    // one that brings the last component's block averages, so at 1/8 scale
    // (not for a file read by rows: libjpeg would hold its coefficients).
    plan.coarse = req.coarse && cinfo->progressive_mode && !plan.cmyk && !d.ownAc.rowsOnly;
    if (plan.coarse)
        cinfo->buffered_image = TRUE;

    // Reduced decode: the strongest of 1/8, 1/4, 1/2 that still covers the
    // hint (these have fast IDCTs; other M/8 factors are not worth it).
    cinfo->scale_num = 1;
    cinfo->scale_denom = plan.coarse ? 8 : 1;
    int hintW = 0, hintH = 0;
    req.Hint(plan.srcW, plan.srcH, plan.orientation, hintW, hintH);
    if (!plan.coarse && (hintW > 0 || hintH > 0)) {
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
}

// Only a part: the rows above it are skipped (their data read, never
// turned into pixels), those below never decoded, and the columns beside it
// never reach the inverse DCT. Sequential files stored upright only (a
// turned picture's part lies elsewhere in the file, and a multi-scan file
// has to be read whole anyway). The part is in the scaled picture's pixels.
bool RegionApplies(j_decompress_ptr cinfo, const cxcodec::DecodeRequest &req, const JpegPlan &plan)
{
    const int w = int(cinfo->output_width), h = int(cinfo->output_height);
    return req.regionWidth > 0 && req.regionHeight > 0 && (plan.orientation == 1 || !req.autoOrient) &&
           !plan.cmyk && !jpeg_has_multiple_scans(cinfo) && req.regionLeft < w && req.regionTop < h &&
           (req.regionLeft > 0 || req.regionTop > 0 || req.regionWidth < w || req.regionHeight < h);
}

// Points d.rows at the picture's first n rows.
void PointRowsAt(JpegDecoder &d, CxImage &img, int n)
{
    bool allocated = true;
    try {
        d.rows.resize(std::size_t(n));
    } catch (const std::bad_alloc &) {
        allocated = false; // never jump out of a handler
    }
    if (!allocated)
        Fail(&d.cinfo, "out of memory");
    for (int y = 0; y < n; ++y)
        d.rows[std::size_t(y)] = img.GetBits(y);
}

// Reads scanlines into d.rows until the output has rows rows.
void ReadScanlines(JpegDecoder &d, JDIMENSION rows)
{
    j_decompress_ptr cinfo = &d.cinfo;
    while (cinfo->output_scanline < rows) {
        const JDIMENSION line = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, &d.rows[line], rows - line) == 0)
            Fail(cinfo, "truncated JPEG");
    }
}

void ReadRegion(JpegDecoder &d, CxImage &out, const cxcodec::DecodeRequest &req, const JpegPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    jpeg_start_decompress(cinfo);
    const int w = int(cinfo->output_width), h = int(cinfo->output_height);
    const int left = req.regionLeft, top = req.regionTop;
    const int rw = std::min(req.regionWidth, w - left), rh = std::min(req.regionHeight, h - top);
    // The columns decoded start at a block's edge at or left of the part's.
    JDIMENSION x0 = JDIMENSION(left), cropW = JDIMENSION(rw);
    jpeg_crop_scanline(cinfo, &x0, &cropW);
    const int bytes = plan.grey ? 1 : 3, skip = left - int(x0);
    if (skip < 0 || int(cropW) < skip + rw || !cxcodec::FitsPixelLimits(rw, rh) ||
        !CxImageAccess::CreateForDecode(out, rw, rh, plan.grey ? 8 : 24, CXIMAGE_FORMAT_JPG))
        Fail(cinfo, "out of memory");
    if (top > 0 && jpeg_skip_scanlines(cinfo, JDIMENSION(top)) != JDIMENSION(top))
        Fail(cinfo, "truncated JPEG");
    if (skip == 0) {
        // Straight into the rows.
        PointRowsAt(d, out, rh);
        for (JDIMENSION done = 0; done < JDIMENSION(rh);)
            if (const JDIMENSION got = jpeg_read_scanlines(cinfo, &d.rows[done], JDIMENSION(rh) - done))
                done += got;
            else
                Fail(cinfo, "truncated JPEG");
    } else {
        bool allocated = true;
        try {
            d.scratch.resize(std::size_t(cropW) * std::size_t(bytes));
        } catch (const std::bad_alloc &) {
            allocated = false; // never jump out of a handler
        }
        if (!allocated)
            Fail(cinfo, "out of memory");
        JSAMPROW row = d.scratch.data();
        for (int y = 0; y < rh; ++y) {
            if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
                Fail(cinfo, "truncated JPEG");
            std::memcpy(out.GetBits(y), row + std::size_t(skip) * std::size_t(bytes),
                        std::size_t(rw) * std::size_t(bytes));
        }
    }
    jpeg_abort_decompress(cinfo);
}

// The whole output: a band of the request's sink, or out itself.
void PrepareOutput(JpegDecoder &d, CxImage &out, const cxcodec::DecodeRequest &req, JpegPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    plan.w = int(cinfo->output_width);
    plan.h = int(cinfo->output_height);
    // Rows may go to a sink as they come: not for a turned or CMYK picture.
    const bool mayStream =
        req.rows && !plan.coarse && !plan.cmyk && (plan.orientation == 1 || !req.autoOrient);
    if (mayStream)
        req.rows->FileSize(plan.srcW, plan.srcH);
    const int bpp = plan.grey ? 8 : 24;
    plan.band =
        mayStream ? req.rows->Begin(plan.w, plan.h, bpp, CXIMAGE_FORMAT_JPG, out.GetMetadata()) : nullptr;
    // Rows that pass through a band are never held together.
    if (!plan.band && !cxcodec::FitsPixelLimits(plan.w, plan.h))
        Fail(cinfo, "image too large");
    // Every row is written below, or the decode fails.
    if (plan.band) {
        CxImageAccess::SetMetadata(*plan.band, out.GetMetadata());
        CxImageAccess::SetOrientation(*plan.band, plan.orientation);
        CxImageAccess::SetMetadata(out, CxMetadata{});
    } else if (!CxImageAccess::CreateForDecode(out, plan.w, plan.h, bpp, CXIMAGE_FORMAT_JPG)) {
        Fail(cinfo, "out of memory");
    }
    bool allocated = true;
    try {
        if (plan.cmyk)
            d.scratch.resize(std::size_t(plan.w) * 4);
    } catch (const std::bad_alloc &) {
        allocated = false; // never jump out of a handler
    }
    if (!allocated)
        Fail(cinfo, "out of memory");
    PointRowsAt(d, out, plan.band ? 0 : plan.h);
}

// A multi-scan file holds its coefficients within the shared budget, and
// has the AC scans our decoder reads left out of what libjpeg reads.
void ReserveCoefficients(JpegDecoder &d, const std::uint8_t *data, std::size_t size,
                         const cxcodec::DecodeRequest &req, const JpegPlan &plan)
{
    // Read by rows, only the DC coefficients are held.
    d.reserved = CoefficientBytes(&d.cinfo) / (d.ownAc.rowsOnly ? DCTSIZE2 : 1);
    CoefficientBudget::Acquire(d.reserved);
    if (plan.coarse)
        return;
    // Rows handed on as they come are decoded a second time only where the
    // sink may begin again; a file read only by rows is never decoded again.
    d.ownAc.byRow = d.ownAc.rowsOnly || !plan.band || req.rows->Repeatable();
    LeaveOutAcScans(d, data, size);
    if (d.ownAc.rowsOnly && !d.ownAc.data)
        Fail(&d.cinfo, "image too large");
}

// Whether the scans begun so far bring every component's DC (libjpeg notes
// a scan's coefficients as its header is read).
bool AllDcBegun(j_decompress_ptr cinfo)
{
    for (int c = 0; c < cinfo->num_components; ++c)
        if (cinfo->coef_bits[c][0] < 0)
            return false;
    return true;
}

// Output from the first scans that hold every component's DC (a first scan
// of the luminance alone would show the picture grey): input is read only
// as far as it needs.
void ReadFirstScansOnly(JpegDecoder &d, const JpegPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    while (!AllDcBegun(cinfo)) {
        const int got = jpeg_consume_input(cinfo);
        if (got == JPEG_REACHED_EOI || got == JPEG_SUSPENDED)
            break;
    }
    jpeg_start_output(cinfo, cinfo->input_scan_number);
    if (int(cinfo->output_width) != plan.w || int(cinfo->output_height) != plan.h ||
        cinfo->output_components != (plan.grey ? 1 : 3))
        Fail(cinfo, "unexpected JPEG layout");
    ReadScanlines(d, cinfo->output_height);
    jpeg_abort_decompress(cinfo);
}

void ReadRowsToSink(JpegDecoder &d, const cxcodec::DecodeRequest &req, const JpegPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    while (cinfo->output_scanline < cinfo->output_height) {
        const int line = int(cinfo->output_scanline);
        if (!req.rows->Room(line))
            Fail(cinfo, "stopped");
        JSAMPROW row = plan.band->GetBits(line);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            Fail(cinfo, "truncated JPEG");
        req.rows->Filled(line);
        // Nothing of the picture is held, so neither is the file read.
        if (req.mapped && line % 64 == 63)
            req.mapped->Release(cinfo->src->next_input_byte);
    }
}

void ReadCmykRows(JpegDecoder &d, CxImage &out, const JpegPlan &plan)
{
    j_decompress_ptr cinfo = &d.cinfo;
    const bool inverted = cinfo->saw_Adobe_marker;
    // With its profile the ink turns into the colours it was meant to print;
    // the picture is then sRGB and the profile is dropped.
    d.cmykTransform = MakeCmykTransform(out, inverted);
    JSAMPROW scratch = d.scratch.data();
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION line = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, &scratch, 1) != 1)
            Fail(cinfo, "truncated JPEG");
        if (d.cmykTransform)
            cxcolour::CmykToBgr(d.cmykTransform, scratch, d.rows[line], plan.w);
        else
            CmykRowToBgr(scratch, d.rows[line], plan.w, inverted);
    }
}

// The decode proper. May leave through longjmp at any libjpeg call, so it
// and its helpers keep nothing with a destructor on their frames.
void ReadJpeg(JpegDecoder &d, const std::uint8_t *data, std::size_t size, CxImage &out,
              const cxcodec::DecodeRequest &req)
{
    j_decompress_ptr cinfo = &d.cinfo;
    JpegPlan plan;
    ReadJpegHeader(d, data, size, out, plan);
    ChooseColourSpace(cinfo, plan);
    ChooseScale(d, req, plan);
    if (RegionApplies(cinfo, req, plan)) {
        ReadRegion(d, out, req, plan);
        CxImageAccess::SetSourceSize(out, plan.srcW, plan.srcH);
        CxImageAccess::SetOrientation(out, plan.orientation);
        return;
    }
    PrepareOutput(d, out, req, plan);
    if (jpeg_has_multiple_scans(cinfo))
        ReserveCoefficients(d, data, size, req, plan);
    jpeg_start_decompress(cinfo);
    if (plan.coarse) {
        ReadFirstScansOnly(d, plan);
        CxImageAccess::SetSourceSize(out, plan.srcW, plan.srcH);
        CxImageAccess::SetOrientation(out, plan.orientation);
        return;
    }
    if (int(cinfo->output_width) != plan.w || int(cinfo->output_height) != plan.h ||
        cinfo->output_components != (plan.grey   ? 1
                                     : plan.cmyk ? 4
                                                 : 3))
        Fail(cinfo, "unexpected JPEG layout");
    if (plan.band)
        ReadRowsToSink(d, req, plan);
    else if (!plan.cmyk)
        ReadScanlines(d, cinfo->output_height); // straight into the image rows
    else
        ReadCmykRows(d, out, plan);
    jpeg_finish_decompress(cinfo);
    if (plan.band)
        return;
    CxImageAccess::SetSourceSize(out, plan.srcW, plan.srcH);
    CxImageAccess::SetOrientation(out, plan.orientation);
}

// Sampling, scans and density as the settings ask, after the defaults.
void ConfigureJpeg(jpeg_compress_struct &cinfo, const CEncoderSettings &settings, int quality, bool grey)
{
    int sampling = settings.m_nJpegSubsampling;
    if (sampling == SUBSAMPLING_AUTO)
        // At high quality chroma subsampling costs more than it saves.
        sampling = quality >= 90 ? SUBSAMPLING_444 : SUBSAMPLING_420;
    if (!grey) {
        cinfo.comp_info[0].h_samp_factor = sampling == SUBSAMPLING_444 ? 1 : 2;
        cinfo.comp_info[0].v_samp_factor = sampling == SUBSAMPLING_420 ? 2 : 1;
    }
    if (settings.m_bJpegProgressive)
        jpeg_simple_progression(&cinfo);
    if (settings.m_nDpi > 0) {
        cinfo.density_unit = 1; // dots per inch
        cinfo.X_density = cinfo.Y_density = UINT16(std::min(settings.m_nDpi, CEncoderSettings::kMaxDpi));
    }
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
    if (e->coefFile)
        e->coefFile->Install(reinterpret_cast<j_common_ptr>(cinfo), file.ScratchFolder());
    WriteTo(cinfo, e->dest, file);

    cinfo->image_width = JDIMENSION(w);
    cinfo->image_height = JDIMENSION(h);
    cinfo->input_components = grey ? 1 : 3;
    cinfo->in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);
    const int quality = std::max(1, int(img.GetJpegQuality()));
    jpeg_set_quality(cinfo, quality, TRUE);
    ConfigureJpeg(*cinfo, img.GetEncoderSettings(), quality, grey);
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
        if (d->ownAc.redo && !d->ownAc.rowsOnly) {
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

bool ReadJpegMetadata(const std::uint8_t *data, std::size_t size, CxMetadata &meta)
{
    if (!data || size == 0 || size > ULONG_MAX)
        return false;
    std::unique_ptr<JpegDecoder> holder(new (std::nothrow) JpegDecoder);
    JpegDecoder *const d = holder.get();
    if (!d)
        return false;
    InstallErrorMgr(d->err);
    d->cinfo.err = &d->err.pub;
    CxImage blocks;
    if (setjmp(d->err.jump)) {
        jpeg_destroy_decompress(&d->cinfo);
        return false;
    }
    jpeg_create_decompress(&d->cinfo);
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    for (const int marker : {JPEG_APP0 + 1, JPEG_APP0 + 2, JPEG_APP0 + 13})
        jpeg_save_markers(&d->cinfo, marker, 0xFFFF);
    jpeg_read_header(&d->cinfo, TRUE);
    KeepMetadata(&d->cinfo, blocks);
    jpeg_destroy_decompress(&d->cinfo);
    meta = blocks.GetMetadata();
    return true;
}

int testhooks::JpegDecodesRedone()
{
    return g_redoneDecodes.load();
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
        // A progressive file's scans come after every block is known: a band
        // past the pixel limit, or a picture whose blocks (128 bytes each,
        // at most three an 8 x 8 square) would take more than the run's
        // decodes may hold, keeps them in a file, not in memory.
        const std::uint64_t mostBlockBytes = std::uint64_t(img.GetWidth()) * std::uint64_t(img.GetHeight()) *
                                             (HasGreyPalette(img) ? 1 : 3) * 2;
        if (img.GetEncoderSettings().m_bJpegProgressive &&
            ((CxImageAccess::IsBand(img) && !FitsPixelLimits(img.GetWidth(), img.GetHeight())) ||
             mostBlockBytes > JpegDecodeBudget()))
            e->coefFile = std::make_unique<CoefFile>();
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
