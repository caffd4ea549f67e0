// A JPEG too large to hold turned on its DCT coefficients, with the
// coefficients of the file and of the turned picture kept in an unnamed file
// instead of memory (see jpegcoefficients.h, CoefFile).
//
// The turned picture is made a band of block rows at a time, as libjpeg
// asks for its rows while it writes the file: the source blocks the band
// takes (a band of columns, for a turn that swaps the axes) are read from
// the file, each moved to its new place with its coefficients transposed and
// their signs changed as the turn mirrors the block. So only the file's
// coefficients are ever kept, and the file written is the one a
// whole-picture transform writes.
#include "imaging/codecs/jpegcoefficients.h"
#include "imaging/cxfile.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace cxjpeg {

namespace {

// Block rows of the turned picture made at once.
constexpr JDIMENSION kBand = 32;

// A turn on the block grid, numbered as the EXIF orientation it makes
// upright: the turned picture's block (x, y) is the source's block at
// (swap ? (y, x) : (x, y)), mirrored across the source's width (mirrorX)
// or height (mirrorY) where the turn says.
struct Shape {
    bool swap, mirrorX, mirrorY;
};
constexpr std::array<Shape, 8> kShapes = {{
    {false, false, false}, // 1
    {false, true, false},  // 2 mirror
    {false, true, true},   // 3 180 degrees
    {false, false, true},  // 4 flip
    {true, false, false},  // 5 transpose
    {true, false, true},   // 6 90 degrees clockwise
    {true, true, true},    // 7 transverse
    {true, true, false},   // 8 90 degrees anticlockwise
}};

// Everything with a destructor the turn needs lives here, on the heap,
// made before setjmp (libjpeg leaves through longjmp).
struct TurnContext {
    jpeg_decompress_struct src{};
    jpeg_compress_struct dst{};
    JpegErrorMgr err{};
    CoefFile file;
    JpegDest dest{};
    CxMemFile turned; // the turned file
    bool srcMade = false, dstMade = false;
    std::vector<JCOEF> rect;            // the source blocks a band takes
    jvirt_barray_ptr *source = nullptr; // the file's arrays
    // Each source coefficient's place in the turned block, and its sign.
    int place[DCTSIZE2] = {};
    int sign[DCTSIZE2] = {};
};

// Reads source rows [y0, y0 + ny), columns [x0, x0 + nx), into c.rect.
void ReadRect(TurnContext &c, jvirt_barray_ptr array, JDIMENSION x0, JDIMENSION nx, JDIMENSION y0, JDIMENSION ny)
{
    bool allocated = true;
    try {
        c.rect.resize(std::size_t(nx) * ny * DCTSIZE2);
    } catch (const std::bad_alloc &) {
        allocated = false;
    }
    if (!allocated)
        FailWith(reinterpret_cast<j_common_ptr>(&c.src), "out of memory");
    for (JDIMENSION y = 0; y < ny; ++y)
        if (!c.file.ReadBlocks(array, y0 + y, x0, nx,
                               reinterpret_cast<JBLOCKROW>(c.rect.data() + std::size_t(y) * nx * DCTSIZE2)))
            FailWith(reinterpret_cast<j_common_ptr>(&c.src), "cannot read file");
}

// Rows [dy0, dy0 + n) of the turned component (cleared) into rows, from
// the kw x kh source blocks the turn keeps of the array from.
void MakeRows(TurnContext &c, const Shape &t, jvirt_barray_ptr from, JDIMENSION kw, JDIMENSION kh,
              JDIMENSION dy0, JDIMENSION n, JBLOCKARRAY rows)
{
    const JDIMENSION dw = t.swap ? kh : kw, dh = t.swap ? kw : kh;
    const JDIMENSION used = dy0 < dh ? std::min(n, dh - dy0) : 0;
    if (used == 0)
        return; // padding rows stay zero
    // The rows come from source columns (swapped) or rows.
    const bool mirrored = t.swap ? t.mirrorX : t.mirrorY;
    const JDIMENSION first = mirrored ? (t.swap ? kw : kh) - dy0 - used : dy0;
    JDIMENSION x0 = 0, nx = kw, y0 = 0, ny = kh;
    (t.swap ? x0 : y0) = first;
    (t.swap ? nx : ny) = used;
    ReadRect(c, from, x0, nx, y0, ny);
    for (JDIMENSION r = 0; r < used; ++r) {
        const JDIMENSION dy = dy0 + r;
        for (JDIMENSION dx = 0; dx < dw; ++dx) {
            const JDIMENSION px = t.swap ? dy : dx, py = t.swap ? dx : dy;
            const JDIMENSION sx = t.mirrorX ? kw - 1 - px : px, sy = t.mirrorY ? kh - 1 - py : py;
            const JCOEF *in = c.rect.data() + (std::size_t(sy - y0) * nx + (sx - x0)) * DCTSIZE2;
            JCOEF *out = rows[r][dx];
            for (int k = 0; k < DCTSIZE2; ++k)
                out[c.place[k]] = JCOEF(in[k] * c.sign[k]);
        }
    }
}

JDIMENSION RoundUp(JDIMENSION n, int unit)
{
    return (n + JDIMENSION(unit) - 1) / JDIMENSION(unit) * JDIMENSION(unit);
}

JDIMENSION CeilDiv(std::uint64_t a, std::uint64_t b)
{
    return JDIMENSION((a + b - 1) / b);
}

void Turn(TurnContext &c, const std::uint8_t *data, std::size_t size, int turn, bool trim, const std::string &folder,
          std::string &out, int &width, int &height)
{
    j_decompress_ptr s = &c.src;
    j_common_ptr common = reinterpret_cast<j_common_ptr>(s);
    jpeg_create_decompress(s);
    c.srcMade = true;
    c.file.Install(common, folder);
    jpeg_mem_src(s, data, static_cast<unsigned long>(size));
    jpeg_read_header(s, TRUE);
    const Shape &t = kShapes[std::size_t(turn - 1)];
    const int maxH = s->max_h_samp_factor, maxV = s->max_v_samp_factor;
    const JDIMENSION mcuW = JDIMENSION(DCTSIZE * maxH), mcuH = JDIMENSION(DCTSIZE * maxV);
    // An edge the turn moves must be whole blocks, or is dropped (trim).
    JDIMENSION keptW = s->image_width, keptH = s->image_height;
    if (t.mirrorX && keptW % mcuW != 0) {
        if (!trim)
            FailWith(common, "the picture's edge is not whole blocks");
        keptW -= keptW % mcuW;
    }
    if (t.mirrorY && keptH % mcuH != 0) {
        if (!trim)
            FailWith(common, "the picture's edge is not whole blocks");
        keptH -= keptH % mcuH;
    }
    if (keptW == 0 || keptH == 0 || s->num_components > MAX_COMPONENTS)
        FailWith(common, "cannot turn the JPEG");
    const JDIMENSION outW = t.swap ? keptH : keptW, outH = t.swap ? keptW : keptH;
    const int outMaxH = t.swap ? maxV : maxH, outMaxV = t.swap ? maxH : maxV;

    // The turned picture's arrays, as the encoder will reach them: their
    // rows made as it asks for them, from the source's.
    jvirt_barray_ptr turned[MAX_COMPONENTS];
    for (int ci = 0; ci < s->num_components; ++ci) {
        const jpeg_component_info &comp = s->comp_info[ci];
        const int h = comp.h_samp_factor, v = comp.v_samp_factor;
        const JDIMENSION kw = t.mirrorX ? keptW / mcuW * JDIMENSION(h) : comp.width_in_blocks;
        const JDIMENSION kh = t.mirrorY ? keptH / mcuH * JDIMENSION(v) : comp.height_in_blocks;
        const int sampH = t.swap ? v : h, sampV = t.swap ? h : v;
        const JDIMENSION blocksW =
            std::max(t.swap ? kh : kw, CeilDiv(std::uint64_t(outW) * sampH, 8 * std::uint64_t(outMaxH)));
        const JDIMENSION blocksH =
            std::max(t.swap ? kw : kh, CeilDiv(std::uint64_t(outH) * sampV, 8 * std::uint64_t(outMaxV)));
        turned[ci] = c.file.Made(RoundUp(blocksW, sampH), RoundUp(blocksH, sampV), kBand,
                                 [&c, &t, ci, kw, kh](JDIMENSION start, JDIMENSION count, JBLOCKARRAY rows) {
                                     MakeRows(c, t, c.source[ci], kw, kh, start, count, rows);
                                 });
        if (!turned[ci])
            FailWith(common, "cannot turn the JPEG");
    }
    c.source = jpeg_read_coefficients(s);
    if (!c.source || !c.file.Flush())
        FailWith(common, "cannot write file");
    for (int k = 0; k < DCTSIZE2; ++k) {
        const int u = k % DCTSIZE, v = k / DCTSIZE;
        c.place[k] = t.swap ? u * DCTSIZE + v : k;
        c.sign[k] = ((t.mirrorX && (u & 1)) != (t.mirrorY && (v & 1))) ? -1 : 1;
    }

    j_compress_ptr d = &c.dst;
    jpeg_create_compress(d);
    c.dstMade = true;
    c.file.Lend(reinterpret_cast<j_common_ptr>(d));
    if (!c.turned.Open())
        FailWith(common, "out of memory");
    WriteTo(d, c.dest, c.turned);
    jpeg_copy_critical_parameters(s, d);
    d->image_width = outW;
    d->image_height = outH;
    if (t.swap) {
        for (int ci = 0; ci < d->num_components; ++ci)
            std::swap(d->comp_info[ci].h_samp_factor, d->comp_info[ci].v_samp_factor);
        // Each coefficient is transposed, so is the step it was quantised by.
        for (JQUANT_TBL *q : d->quant_tbl_ptrs) {
            if (!q)
                continue;
            for (int v = 0; v < DCTSIZE; ++v)
                for (int u = v + 1; u < DCTSIZE; ++u)
                    std::swap(q->quantval[v * DCTSIZE + u], q->quantval[u * DCTSIZE + v]);
        }
        std::swap(d->X_density, d->Y_density);
    }
    jpeg_write_coefficients(d, turned);
    jpeg_finish_compress(d);
    bool copied = true;
    try {
        out.assign(reinterpret_cast<const char *>(c.turned.GetBuffer(false)), std::size_t(c.turned.Size()));
    } catch (const std::bad_alloc &) {
        copied = false; // never jump out of a handler
    }
    if (!copied)
        FailWith(common, "out of memory");
    width = int(outW);
    height = int(outH);
}

} // namespace

bool TurnOnDisk(const std::uint8_t *data, std::size_t size, int turn, bool trim, const std::string &folder,
                std::string &out, int &width, int &height, std::string &reason)
{
    out.clear();
    if (turn < 1 || turn > 8 || !data || size == 0 || size > ULONG_MAX) {
        reason = "cannot turn the JPEG";
        return false;
    }
    const std::unique_ptr<TurnContext> holder(new (std::nothrow) TurnContext);
    TurnContext *const c = holder.get();
    if (!c) {
        reason = "out of memory";
        return false;
    }
    InstallErrorMgr(c->err);
    c->src.err = &c->err.pub;
    c->dst.err = &c->err.pub;
    if (setjmp(c->err.jump)) {
        reason = c->err.message[0] ? c->err.message : "cannot turn the JPEG";
        if (c->dstMade)
            jpeg_destroy_compress(&c->dst);
        if (c->srcMade)
            jpeg_destroy_decompress(&c->src);
        out.clear();
        return false;
    }
    Turn(*c, data, size, turn, trim, folder, out, width, height);
    jpeg_destroy_compress(&c->dst);
    jpeg_destroy_decompress(&c->src);
    return true;
}

} // namespace cxjpeg
