// PNG reading and writing through libpng's classic API.
//
// libpng reports errors by longjmp. As with JPEG, everything with a
// destructor lives in a heap context made before setjmp, and the work runs in
// helpers that keep only plain values on their frames.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/pnginflate.h"
#include "imaging/cxmetadata.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace {

using namespace cxpng;

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    CxFile *file = nullptr;
    std::vector<png_byte> row;
    char message[kMessageSize] = {};
};

void OnPngError(png_structp png, png_const_charp text)
{
    char *message = static_cast<char *>(png_get_error_ptr(png));
    std::snprintf(message, kMessageSize, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n)
{
    auto *r = static_cast<PngReader *>(png_get_io_ptr(png));
    // libpng reads a few kilobytes at a time, so a raised flag is seen at once.
    if (r->cancel && r->cancel->load(std::memory_order_relaxed))
        png_error(png, "cancelled");
    if (n > r->size - r->pos) {
        if (!r->acceptTruncated || r->truncated) {
            r->truncated = true;
            png_error(png, "truncated PNG file");
        }
        // A viewer asked for what arrived: the rows complete so far are
        // whole. Zeros stand in for the rest until libpng gives up on them;
        // the rows they make are not kept.
        r->truncated = true;
        r->rowsAtCut = r->rowsDone;
        const std::size_t have = r->size - r->pos;
        std::memcpy(out, r->data + r->pos, have);
        std::memset(out + have, 0, n - have);
        r->pos = r->size;
        return;
    }
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

void WriteToFile(png_structp png, png_bytep data, png_size_t n)
{
    auto *w = static_cast<PngWriter *>(png_get_io_ptr(png));
    if (w->file->Write(data, 1, n) != n)
        png_error(png, "cannot write file");
}

void FlushNothing(png_structp) {}

int BppForColors(int n)
{
    return n <= 2 ? 1 : n <= 16 ? 4 : 8;
}

void StoreRow(Layout layout, const png_byte *src, BYTE *bgr, BYTE *alpha, int width)
{
    if (layout == Layout::Bgra) {
        for (int x = 0; x < width; ++x, src += 4, bgr += 3) {
            bgr[0] = src[0];
            bgr[1] = src[1];
            bgr[2] = src[2];
            alpha[x] = src[3];
        }
    } else {
        for (int x = 0; x < width; ++x, src += 2, bgr += 3) {
            bgr[0] = bgr[1] = bgr[2] = src[0];
            alpha[x] = src[1];
        }
    }
}

// Walks the chunk headers through IEND and adds up the IDAT lengths. False
// when a chunk claims more bytes than the file has left: libpng reads every
// chunk up to IEND, so such a file fails anyway, but only after allocating
// the claimed length for text, sPLT, pCAL and sCAL chunks (2 GB for a
// 60-byte file). Checked first, nothing large is ever asked for. With
// cutAllowed, a file that ends inside or after its image data passes, and
// only the image data that arrived is counted.
bool ChunksInFile(const std::uint8_t *d, std::size_t n, bool cutAllowed, std::uint64_t &idatBytes)
{
    idatBytes = 0;
    for (std::size_t p = 8;;) {
        if (n - p < 12)
            return cutAllowed && idatBytes > 0;
        const std::uint64_t len = std::uint64_t(d[p]) << 24 | std::uint64_t(d[p + 1]) << 16 | d[p + 2] << 8 | d[p + 3];
        const bool idat = std::memcmp(d + p + 4, "IDAT", 4) == 0;
        if (len > n - p - 12) {
            if (!cutAllowed || !idat)
                return false;
            idatBytes += n - p - 8;
            return true;
        }
        if (idat)
            idatBytes += len;
        if (std::memcmp(d + p + 4, "IEND", 4) == 0)
            return true;
        p += std::size_t(len) + 12;
    }
}

// Indices past a short palette are invalid; keep the image consistent.
void FixStrayIndices(CxImage &out, png_uint_32 first, png_uint_32 end)
{
    const int n = out.GetNumColors();
    for (png_uint_32 y = first; y < end; ++y) {
        BYTE *p = out.GetBits(int(y));
        for (int x = 0; x < out.GetWidth(); ++x)
            if (p[x] >= n)
                p[x] = 0;
    }
}

// The metadata chunks read before the image data, as the picture's blocks;
// returns the EXIF orientation. The getters used here never raise a libpng
// error, so no longjmp skips this frame; a block that cannot be held is
// dropped (metadata never stops a picture).
int KeepMetadata(png_structp png, png_infop info, CxImage &out)
{
    CxMetadata meta;
    try {
        png_uint_32 exifSize = 0;
        png_bytep exif = nullptr;
        if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif)
            meta.exif.assign(reinterpret_cast<const char *>(exif), exifSize);
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileSize = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) && profile)
            meta.icc.assign(reinterpret_cast<const char *>(profile), profileSize);
        png_textp text = nullptr;
        const int n = png_get_text(png, info, &text, nullptr);
        for (int i = 0; i < n; ++i) {
            const std::size_t length =
                text[i].compression >= PNG_ITXT_COMPRESSION_NONE ? text[i].itxt_length : text[i].text_length;
            if (std::strcmp(text[i].key, "XML:com.adobe.xmp") == 0 && meta.xmp.empty())
                meta.xmp.assign(text[i].text, length);
            // Older writers keep EXIF in text; an eXIf chunk comes first.
            else if ((std::strcmp(text[i].key, "Raw profile type exif") == 0 ||
                      std::strcmp(text[i].key, "Raw profile type APP1") == 0) &&
                     meta.exif.empty())
                meta.exif = cxmeta::ExifFromRawProfile(text[i].text, length);
        }
    } catch (const std::bad_alloc &) {
        return 1;
    }
    if (meta.Empty())
        return 1;
    const int orientation = cxmeta::ExifOrientation(meta.exif);
    CxImageAccess::SetMetadata(out, std::move(meta));
    return orientation;
}

// What the header says of the picture and how its rows are read. Plain
// values only: the decode may leave through longjmp.
struct PngPlan {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0;
    bool hasTrns = false;
    png_bytep transAlpha = nullptr;
    int numTrans = 0;
    png_color_16p transColor = nullptr;
    Layout layout = Layout::Index;
    int bpp = 24, numColors = 0, transIndex = -1;
    RGBQUAD palette[256];
    int passes = 1;
    std::size_t channels = 1;
    bool own = false;        // rows read by our own code (pnginflate.h)
    bool direct = false;     // rows straight into the image, no conversion
    bool stray = false;      // indices past a short palette are possible
    CxImage *band = nullptr; // rows go to the reader's sink
};

// Sets libpng up, reads everything before the image data and checks the
// header against the data.
void ReadPngInfo(PngReader &r, PngPlan &plan)
{
    png_structp png = r.png;
    png_infop info = r.info;
    png_set_user_limits(png, CxImage::kMaxDimension, CxImage::kMaxDimension);
    png_set_chunk_cache_max(png, 1000);
    png_set_chunk_malloc_max(png, 8u << 20);
    // A damaged checksum anywhere means a damaged file. The chunk CRCs
    // already cover every byte of the compressed image data, so zlib's own
    // Adler-32 over the inflated bytes (a twentieth of the decode) is skipped.
    png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_ERROR_QUIT);
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_set_read_fn(png, &r, ReadFromMemory);
    std::uint64_t idatBytes = 0;
    if (!ChunksInFile(r.data, r.size, r.acceptTruncated, idatBytes))
        png_error(png, "truncated PNG file");
    // Image data is read in small pieces for a viewer, so that little of
    // what arrived of a cut-off file waits in a piece never decoded.
    if (r.acceptTruncated)
        png_set_compression_buffer_size(png, 256);
    png_read_info(png, info);

    int interlace = 0;
    png_get_IHDR(png, info, &plan.width, &plan.height, &plan.depth, &plan.colorType, &interlace, nullptr,
                 nullptr);
    // The pixel limit is checked once it is known whether rows stream.
    if (plan.width > png_uint_32(CxImage::kMaxDimension) || plan.height > png_uint_32(CxImage::kMaxDimension))
        png_error(png, "image too large");
    // Deflate packs at most about 1032 bytes into one, so a header that
    // promises far more pixels than the data could hold is refused before
    // the picture is allocated.
    const std::uint64_t rawBytes =
        std::uint64_t(plan.height) *
        ((std::uint64_t(plan.width) * png_get_channels(png, info) * unsigned(plan.depth) + 7) / 8 + 1);
    if (rawBytes > idatBytes * 1032 + 1024)
        png_error(png, "image data too short");
    plan.hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) &&
                   png_get_tRNS(png, info, &plan.transAlpha, &plan.numTrans, &plan.transColor);
}

void ChoosePaletteLayout(png_structp png, png_infop info, PngPlan &plan)
{
    png_colorp plte = nullptr;
    int numPlte = 0;
    if (!png_get_PLTE(png, info, &plte, &numPlte) || numPlte < 1)
        png_error(png, "missing palette");
    numPlte = std::min(numPlte, 256);
    // One fully transparent entry and nothing partial fits a transparent
    // index; anything else needs an alpha plane.
    int clear = 0, partial = 0, clearIndex = -1;
    for (int i = 0; plan.hasTrns && plan.transAlpha && i < std::min(plan.numTrans, numPlte); ++i) {
        if (plan.transAlpha[i] == 0) {
            ++clear;
            clearIndex = i;
        } else if (plan.transAlpha[i] != 255) {
            ++partial;
        }
    }
    if (partial == 0 && clear <= 1) {
        plan.numColors = numPlte;
        plan.bpp = BppForColors(numPlte);
        plan.transIndex = clearIndex;
        for (int i = 0; i < numPlte; ++i)
            plan.palette[i] = RGBQUAD{plte[i].blue, plte[i].green, plte[i].red, 0};
        png_set_packing(png);
    } else {
        plan.layout = Layout::Bgra;
        png_set_palette_to_rgb(png);
        png_set_tRNS_to_alpha(png);
        png_set_bgr(png);
    }
}

void ChooseGreyLayout(png_structp png, PngPlan &plan)
{
    if (plan.hasTrns && plan.depth == 16) {
        // The transparent grey is a 16-bit value; reduced to 8 bits it would
        // also catch its neighbours, so keep it as alpha.
        plan.layout = Layout::GreyAlpha;
        png_set_tRNS_to_alpha(png);
        return;
    }
    const int bits = std::min(plan.depth, 8);
    plan.numColors = 1 << bits;
    plan.bpp = BppForColors(plan.numColors);
    for (int i = 0; i < plan.numColors; ++i) {
        const BYTE v = BYTE(i * 255 / (plan.numColors - 1));
        plan.palette[i] = RGBQUAD{v, v, v, 0};
    }
    if (plan.hasTrns && plan.transColor && plan.transColor->gray < plan.numColors)
        plan.transIndex = plan.transColor->gray;
    png_set_packing(png);
}

// How the rows reach the image, and libpng's transforms to match.
void ChooseLayout(png_structp png, png_infop info, PngPlan &plan)
{
    if (plan.depth == 16)
        png_set_scale_16(png);
    switch (plan.colorType) {
    case PNG_COLOR_TYPE_PALETTE:
        ChoosePaletteLayout(png, info, plan);
        break;
    case PNG_COLOR_TYPE_GRAY:
        ChooseGreyLayout(png, plan);
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        plan.layout = Layout::GreyAlpha;
        break;
    case PNG_COLOR_TYPE_RGB:
        png_set_bgr(png);
        if (plan.hasTrns) {
            plan.layout = Layout::Bgra;
            png_set_tRNS_to_alpha(png);
        } else {
            plan.layout = Layout::Bgr;
        }
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        png_set_bgr(png);
        plan.layout = Layout::Bgra;
        break;
    default:
        png_error(png, "unsupported PNG colour type");
    }
    plan.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    plan.channels = plan.layout == Layout::Index  ? 1
                    : plan.layout == Layout::Bgr  ? 3
                    : plan.layout == Layout::Bgra ? 4
                                                  : 2;
    if (png_get_rowbytes(png, info) != plan.channels * plan.width || png_get_bit_depth(png, info) != 8)
        png_error(png, "unexpected PNG row layout");
}

// The picture the rows go to: a band of the sink or out itself, with its
// palette or alpha plane; and the buffers for reading.
CxImage &PrepareImage(PngReader &r, CxImage &out, PngPlan &plan)
{
    png_structp png = r.png;
    // A picture read in one pass that needs no turning can go to the sink
    // row by row; out then stays empty.
    // (A cut-off file's rows are shown only when read by the program's own
    // code, which stops at the cut.)
    const int orientation = KeepMetadata(png, r.info, out);
    plan.own = OwnRows(r, plan.depth, plan.colorType, plan.hasTrns, plan.passes);
    const int width = int(plan.width), height = int(plan.height);
    // (A picture too large to hold streams even where a cut-off file would
    // then fail rather than show what arrived.)
    const bool streamed = r.sink && plan.passes == 1 &&
                          (!r.acceptTruncated || plan.own || !cxcodec::FitsPixelLimits(width, height)) &&
                          (orientation == 1 || !r.autoOrient);
    plan.band =
        streamed ? r.sink->Begin(width, height, plan.bpp, CXIMAGE_FORMAT_PNG, out.GetMetadata()) : nullptr;
    CxImage &img = plan.band ? *plan.band : out;
    // Rows that pass through a band are never held together.
    if (!plan.band && !cxcodec::FitsPixelLimits(width, height))
        png_error(png, "image too large");
    // Every row is written below (interlaced passes together cover each pixel).
    if (!plan.band && !CxImageAccess::CreateForDecode(out, width, height, plan.bpp, CXIMAGE_FORMAT_PNG))
        png_error(png, "out of memory");
    if (plan.band)
        CxImageAccess::SetMetadata(img, out.GetMetadata());
    CxImageAccess::SetOrientation(img, orientation);
    if (plan.layout == Layout::Index) {
        if (!img.SetPalette(plan.palette, plan.numColors))
            png_error(png, "bad palette");
        img.SetTransIndex(plan.transIndex);
    } else if (plan.layout != Layout::Bgr && !img.AlphaCreate()) {
        png_error(png, "out of memory");
    }

    // Interlaced converted rows need the whole picture at once; otherwise one
    // row of scratch is enough.
    plan.direct = plan.layout == Layout::Index || plan.layout == Layout::Bgr;
    plan.stray = plan.layout == Layout::Index && plan.numColors < (1 << std::min(plan.depth, 8));
    const std::size_t scratchRows = plan.direct ? 0 : plan.passes > 1 ? plan.height : 1;
    bool allocated = true;
    try {
        r.rows.resize(plan.passes > 1 ? plan.height : 0);
        // Own rows: three read in turn and a row of zeros, with filter bytes.
        r.buffer.assign(plan.own ? 4 * (std::size_t(plan.width) * plan.channels + 1)
                                 : scratchRows * plan.channels * plan.width,
                        0);
    } catch (const std::bad_alloc &) {
        allocated = false;
    }
    if (!allocated)
        png_error(png, "out of memory");
    return img;
}

// Our own rows; for a cut-off file streamed to the sink, the rows below the
// cut repeat the last that arrived.
void ReadRowsOwn(PngReader &r, CxImage &img, const PngPlan &plan)
{
    ReadOwnRows(r, img, plan.band, plan.layout, plan.width, plan.height);
    if (!plan.band || !r.truncated)
        return;
    if (r.rowsAtCut == 0)
        png_error(r.png, "truncated PNG file");
    for (png_uint_32 y = r.rowsAtCut; y < plan.height; ++y) {
        if (!r.sink->Room(int(y)))
            png_error(r.png, "stopped");
        std::memmove(img.GetBits(int(y)), img.GetBits(int(y) - 1), std::size_t(img.GetEffWidth()));
        if (img.AlphaIsValid())
            std::memmove(img.AlphaGetPointer(int(y)), img.AlphaGetPointer(int(y) - 1),
                         std::size_t(plan.width));
        r.sink->Filled(int(y));
    }
    r.truncated = false;
}

// One pass, row by row, so a cut-off file can still show the rows that
// arrived.
void ReadRowsInOrder(PngReader &r, CxImage &img, const PngPlan &plan)
{
    for (png_uint_32 y = 0; y < plan.height; ++y, r.rowsDone = y) {
        if (plan.band && !r.sink->Room(int(y)))
            png_error(r.png, "stopped");
        BYTE *const bits = img.GetBits(int(y));
        png_read_row(r.png, plan.direct ? bits : r.buffer.data(), nullptr);
        if (!plan.direct)
            StoreRow(plan.layout, r.buffer.data(), bits, img.AlphaGetPointer(int(y)), int(plan.width));
        if (plan.band) {
            if (plan.stray)
                FixStrayIndices(img, y, y + 1);
            r.sink->Filled(int(y));
        }
    }
}

// Interlaced: every pass over the whole picture at once.
void ReadRowsInterlaced(PngReader &r, CxImage &out, const PngPlan &plan)
{
    const std::size_t rowBytes = plan.channels * plan.width;
    for (png_uint_32 y = 0; y < plan.height; ++y)
        r.rows[y] = plan.direct ? out.GetBits(int(y)) : r.buffer.data() + std::size_t(y) * rowBytes;
    png_read_image(r.png, r.rows.data());
    for (png_uint_32 y = 0; !plan.direct && y < plan.height; ++y)
        StoreRow(plan.layout, r.rows[y], out.GetBits(int(y)), out.AlphaGetPointer(int(y)), int(plan.width));
}

// The decode proper; may leave through longjmp at any libpng call, so it
// and its helpers keep nothing with a destructor on their frames.
void ReadPng(PngReader &r, CxImage &out)
{
    PngPlan plan;
    ReadPngInfo(r, plan);
    ChooseLayout(r.png, r.info, plan);
    CxImage &img = PrepareImage(r, out, plan);
    if (plan.own)
        ReadRowsOwn(r, img, plan);
    else if (plan.passes == 1)
        ReadRowsInOrder(r, img, plan);
    else
        ReadRowsInterlaced(r, out, plan);
    if (!plan.own) {
        r.rowsDone = plan.height;
        png_read_end(r.png, nullptr);
    }
    if (plan.stray && !plan.band)
        FixStrayIndices(out, 0, plan.height);
    if (plan.band)
        CxImageAccess::SetMetadata(out, CxMetadata{});
}

bool Refuse(CxImage &out)
{
    out.Destroy();
    CxImageAccess::SetError(out, "truncated PNG file");
    return false;
}

// Keeps the rows that arrived of a cut-off file, the ones below repeating
// the last of them. False when none arrived or the file was whole.
bool ShowArrivedRows(const PngReader &r, CxImage &out)
{
    if (!r.truncated || r.rowsAtCut == 0 || !out.IsValid())
        return false;
    if (out.GetBpp() != 24)
        FixStrayIndices(out, 0, r.rowsAtCut);
    const int last = int(r.rowsAtCut) - 1;
    const std::size_t bytes = std::size_t(out.GetEffWidth());
    for (int y = last + 1; y < out.GetHeight(); ++y) {
        std::memcpy(out.GetBits(y), out.GetBits(last), bytes);
        if (out.AlphaIsValid())
            std::memcpy(out.AlphaGetPointer(y), out.AlphaGetPointer(last), std::size_t(out.GetWidth()));
    }
    return true;
}

// How a level writes. The default, zlib level 4 with the sub, up and Paeth
// filters, was measured on photos and on drawn wallpapers: 2.5 times as fast
// as libpng's defaults (level 6, every filter) for 3 to 6 % more bytes.
// With filtered rows libpng asks zlib for Z_FILTERED, which drops matches of
// up to five bytes; only zlib's lazy levels (4 to 9) heed it. On grainy
// photos those short matches are worth more than the lazy search, so zlib
// levels 1 to 3 wrote less than 4 to 9 (on one photo level 3 gave 0.92 of
// level 4's bytes, level 9 0.97). Below the default, runs of equal bytes are
// the only matches: on the bench's photos 1.01 to 1.46 of the default's
// bytes, in less time (on smooth drawn wallpapers 0.92 to 1.65); each step
// down lets the filters choose less. Palette rows (grey photos among them)
// stay unfiltered, as libpng does, with zlib's own levels but for 3, which
// is written as 2: zlib's greedy level 3 searches twice as far as the lazy
// level 4 and wrote 0.97 of its bytes on the bench's grey photo.
struct LevelPlan {
    int zlibLevel = CEncoderSettings::kDefaultPngLevel;
    int strategy = -1; // libpng's choice
    int memLevel = 0;  // libpng's (8)
    int filters = PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_PAETH;
};

LevelPlan PlanForLevel(int level, bool paletted)
{
    LevelPlan plan;
    plan.zlibLevel = std::clamp(level, 0, 9);
    if (plan.zlibLevel == 0 || plan.zlibLevel >= CEncoderSettings::kDefaultPngLevel)
        return plan;
    if (paletted) {
        plan.zlibLevel = std::min(plan.zlibLevel, 2);
        return plan;
    }
    plan.strategy = Z_RLE;
    plan.filters = plan.zlibLevel == 1 ? PNG_FILTER_SUB : PNG_FILTER_SUB | PNG_FILTER_UP;
    // Larger blocks give the codes more to fit: a few thousandths smaller.
    if (plan.zlibLevel == 3)
        plan.memLevel = 9;
    return plan;
}

void WritePng(PngWriter &w, const CxImage &img)
{
    png_structp png = w.png;
    png_infop info = w.info;
    png_set_write_fn(png, &w, WriteToFile, FlushNothing);
    const int width = img.GetWidth(), height = img.GetHeight();
    const bool paletted = img.GetBpp() != 24;
    const bool alpha = !paletted && img.AlphaIsValid();
    const int colorType = paletted ? PNG_COLOR_TYPE_PALETTE : alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), paletted ? img.GetBpp() : 8, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (paletted) {
        png_color plte[256];
        const int n = img.GetNumColors();
        const RGBQUAD *pal = img.GetPalette();
        for (int i = 0; i < n; ++i)
            plte[i] = png_color{pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue};
        png_set_PLTE(png, info, plte, n);
        const int trans = img.GetTransIndex();
        if (trans >= 0) {
            png_byte alphas[256];
            std::memset(alphas, 255, sizeof alphas);
            alphas[trans] = 0;
            png_set_tRNS(png, info, alphas, trans + 1, nullptr);
        }
    }
    const CEncoderSettings &settings = img.GetEncoderSettings();
    const LevelPlan plan = PlanForLevel(settings.m_nPngLevel, paletted);
    png_set_compression_level(png, plan.zlibLevel);
    if (plan.strategy >= 0)
        png_set_compression_strategy(png, plan.strategy);
    if (plan.memLevel > 0)
        png_set_compression_mem_level(png, plan.memLevel);
    if (settings.m_nDpi > 0) {
        const auto perMetre = png_uint_32(std::lround(settings.m_nDpi / 0.0254));
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    }
    if (!paletted)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, plan.filters);
    png_write_info(png, info);
    if (paletted)
        png_set_packing(png);
    else if (!alpha)
        png_set_bgr(png);

    cxcodec::RowFeed *const feed = CxImageAccess::Feed(img);
    for (int y = 0; y < height; ++y) {
        if (feed && !feed->Arrived(y))
            png_error(png, "the picture could not be read");
        if (alpha) {
            cxcodec::RowToRGBA(img, y, w.row.data());
            png_write_row(png, w.row.data());
        } else {
            png_write_row(png, const_cast<png_bytep>(img.GetBits(y)));
        }
    }
    png_write_end(png, info);
}

}  // namespace

namespace cxcodec {

bool DecodePng(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (!data || size < 8) {
        CxImageAccess::SetError(out, "truncated PNG file");
        return false;
    }
    std::unique_ptr<PngReader> holder(new (std::nothrow) PngReader);
    PngReader *const r = holder.get();
    if (!r) {
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    r->data = data;
    r->size = size;
    r->cancel = req.cancel;
    r->acceptTruncated = req.acceptTruncated;
    r->sink = req.rows;
    r->autoOrient = req.autoOrient;
    r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, r->message, OnPngError, OnPngWarning);
    if (r->png)
        r->info = png_create_info_struct(r->png);
    if (!r->png || !r->info) {
        png_destroy_read_struct(&r->png, &r->info, nullptr);
        CxImageAccess::SetError(out, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(r->png))) {
        png_destroy_read_struct(&r->png, &r->info, nullptr);
        // Only rows read in order (not interlaced passes) can be shown part way.
        if (ShowArrivedRows(*r, out))
            return true;
        out.Destroy();
        CxImageAccess::SetError(out, r->message[0] ? r->message : "cannot decode PNG");
        return false;
    }
    ReadPng(*r, out);
    png_destroy_read_struct(&r->png, &r->info, nullptr);
    // Zeros in place of missing data may still have made a picture.
    return !r->truncated || ShowArrivedRows(*r, out) || Refuse(out);
}

bool EncodePng(const CxImage &img, CxFile &file)
{
    if (!img.IsValid())
        return false;
    std::unique_ptr<PngWriter> holder(new (std::nothrow) PngWriter);
    PngWriter *const w = holder.get();
    if (!w)
        return false;
    try {
        w->row.resize(std::size_t(img.GetWidth()) * 4);
    } catch (const std::bad_alloc &) {
        return false;
    }
    w->file = &file;
    w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, w->message, OnPngError, OnPngWarning);
    if (w->png)
        w->info = png_create_info_struct(w->png);
    if (!w->png || !w->info) {
        png_destroy_write_struct(&w->png, &w->info);
        return false;
    }
    if (setjmp(png_jmpbuf(w->png))) {
        png_destroy_write_struct(&w->png, &w->info);
        return false;
    }
    WritePng(*w, img);
    png_destroy_write_struct(&w->png, &w->info);
    return true;
}

}  // namespace cxcodec
