// HEIC/HEIF reading through libheif: the primary image, 8 bits per channel,
// with its alpha. libheif applies the file's rotation and mirroring while
// decoding, so the picture leaves upright (orientation 1) and the EXIF
// block's own orientation, which describes the stored rows, is ignored.
#include "imaging/codecs/codecs.h"
#include "imaging/cxmetadata.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <libheif/heif.h>

namespace {

struct ContextDeleter {
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(const heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(const heif_image *i) const { heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options *o) const { heif_decoding_options_free(o); }
};
using Handle = std::unique_ptr<const heif_image_handle, HandleDeleter>;

// The declared sizes, turned and untouched, both within our limits.
bool HandleFits(const heif_image_handle *h)
{
    return cxcodec::FitsPixelLimits(heif_image_handle_get_width(h), heif_image_handle_get_height(h)) &&
           cxcodec::FitsPixelLimits(heif_image_handle_get_ispe_width(h),
                                    heif_image_handle_get_ispe_height(h));
}

const char *ReadError(const heif_error &e)
{
    // libheif reports its limits as allocation errors.
    if (e.subcode == heif_suberror_Security_limit_exceeded)
        return "image too large";
    if (e.code == heif_error_Memory_allocation_error)
        return "out of memory";
    if (e.subcode == heif_suberror_End_of_data)
        return "truncated HEIF file";
    return "cannot decode HEIF";
}

// The smallest thumbnail that still covers the hint and is smaller than the
// primary image, if any.
Handle ThumbnailFor(const heif_image_handle *primary, int hintW, int hintH)
{
    const int primaryW = heif_image_handle_get_width(primary),
              primaryH = heif_image_handle_get_height(primary);
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0 || (hintW <= 0 && hintH <= 0))
        return nullptr;
    std::vector<heif_item_id> ids(std::size_t(std::min(count, 16)));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), int(ids.size()));
    Handle best;
    for (int i = 0; i < listed; ++i) {
        heif_image_handle *t = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[std::size_t(i)], &t).code != heif_error_Ok || !t)
            continue;
        Handle thumb(t);
        const int w = heif_image_handle_get_width(t), h = heif_image_handle_get_height(t);
        if (!HandleFits(t) || w < hintW || h < hintH || w > primaryW || h > primaryH)
            continue;
        if (!best || std::int64_t(w) * h < std::int64_t(heif_image_handle_get_width(best.get())) *
                                               heif_image_handle_get_height(best.get()))
            best = std::move(thumb);
    }
    return best;
}

// EXIF, XMP and the ICC profile of the primary image.
CxMetadata Blocks(const heif_image_handle *h)
{
    CxMetadata meta;
    const int count = heif_image_handle_get_number_of_metadata_blocks(h, nullptr);
    std::vector<heif_item_id> ids(std::size_t(std::clamp(count, 0, 64)));
    const int listed =
        heif_image_handle_get_list_of_metadata_block_IDs(h, nullptr, ids.data(), int(ids.size()));
    for (int i = 0; i < listed; ++i) {
        const heif_item_id id = ids[std::size_t(i)];
        const char *typeText = heif_image_handle_get_metadata_type(h, id);
        const char *contentText = heif_image_handle_get_metadata_content_type(h, id);
        const std::string type = typeText ? typeText : "", content = contentText ? contentText : "";
        const bool exif = type == "Exif", xmp = type == "mime" && content == "application/rdf+xml";
        if ((!exif || !meta.exif.empty()) && (!xmp || !meta.xmp.empty()))
            continue;
        std::vector<std::uint8_t> bytes(heif_image_handle_get_metadata_size(h, id));
        if (bytes.empty() || heif_image_handle_get_metadata(h, id, bytes.data()).code != heif_error_Ok)
            continue;
        if (exif)
            meta.exif = cxmeta::ExifFromBmff(bytes.data(), bytes.size());
        else
            meta.xmp.assign(bytes.begin(), bytes.end());
    }
    const std::size_t icc = heif_image_handle_get_raw_color_profile_size(h);
    if (icc > 0 && heif_image_handle_get_color_profile_type(h) != heif_color_profile_type_nclx) {
        meta.icc.resize(icc);
        if (heif_image_handle_get_raw_color_profile(h, meta.icc.data()).code != heif_error_Ok)
            meta.icc.clear();
    }
    return meta;
}

// Reads big-endian unsigned integers of 0, 4 or 8 bytes (or 1 and 2), or
// fails past the end.
struct Reader {
    const std::uint8_t *d;
    std::size_t n, at;
    bool ok = true;
    std::uint64_t Get(std::size_t bytes)
    {
        if (!ok || bytes > 8 || n - at < bytes) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            v = v << 8 | d[at++];
        return v;
    }
};

// The payload [begin, end) of the first box of the type among the boxes in
// [at, end); false when there is none or the boxes do not add up.
bool FindBox(const std::uint8_t *d, std::size_t at, std::size_t end, const char *type, std::size_t &begin,
             std::size_t &stop)
{
    while (end - at >= 8) {
        Reader r{d, end, at};
        std::uint64_t size = r.Get(4);
        const std::size_t typeAt = r.at;
        r.at += 4;
        if (size == 1)
            size = r.Get(8);
        else if (size == 0)
            size = end - at;
        const std::size_t header = r.at - at;
        if (!r.ok || size < header || size > end - at)
            return false;
        if (std::memcmp(d + typeAt, type, 4) == 0) {
            begin = at + header;
            stop = at + std::size_t(size);
            return true;
        }
        at += std::size_t(size);
    }
    return false;
}

// One extent of an item's data, as the meta box's iloc lists it, with the
// range its offsets count in: the file (method 0) or the idat box (1).
struct Extent {
    std::uint64_t item = 0, base = 0, offset = 0, length = 0;
    std::size_t from = 0, to = 0; // 0, 0 for any other method
    bool first = false;           // the item's first extent
};

// Every extent of every item; false when the boxes do not add up.
bool ReadExtents(const std::uint8_t *d, std::size_t n, std::size_t &meta, std::size_t &metaEnd,
                 std::vector<Extent> &out)
{
    std::size_t iloc = 0, ilocEnd = 0, idat = 0, idatEnd = 0;
    if (!FindBox(d, 0, n, "meta", meta, metaEnd) || metaEnd - meta < 4)
        return false;
    meta += 4; // version and flags
    if (!FindBox(d, meta, metaEnd, "iloc", iloc, ilocEnd))
        return false;
    const bool hasIdat = FindBox(d, meta, metaEnd, "idat", idat, idatEnd);
    Reader r{d, ilocEnd, iloc};
    const std::uint64_t version = r.Get(1);
    r.Get(3);
    const std::uint64_t sizes = r.Get(2);
    const std::size_t offsetSize = sizes >> 12, lengthSize = (sizes >> 8) & 15, baseSize = (sizes >> 4) & 15;
    const std::size_t indexSize = version >= 1 ? sizes & 15 : 0;
    if (version > 2)
        return false;
    const std::uint64_t items = r.Get(version < 2 ? 2 : 4);
    for (std::uint64_t i = 0; i < items && r.ok; ++i) {
        Extent e;
        e.item = r.Get(version < 2 ? 2 : 4);
        const std::uint64_t method = version >= 1 ? r.Get(2) & 15 : 0;
        r.Get(2);
        e.base = r.Get(baseSize);
        if (method == 0)
            e.to = n;
        else if (method == 1 && hasIdat)
            std::tie(e.from, e.to) = std::pair(idat, idatEnd);
        const std::uint64_t extents = r.Get(2);
        for (std::uint64_t k = 0; k < extents && r.ok && out.size() < 4096; ++k) {
            r.Get(indexSize);
            e.offset = r.Get(offsetSize);
            e.length = r.Get(lengthSize);
            e.first = k == 0;
            out.push_back(e);
        }
    }
    return r.ok;
}

// Every item's data lies inside the file or its idat box (libheif 1.15 has
// been seen to ask for gigabytes, and then take them, for an extent far past
// the end of a small file), and every grid's output size (its descriptor,
// among its data) fits our limits (libheif 1.15 allocates a grid's canvas as
// the descriptor says, 815 megapixels for a grid whose ispe says 8 x 4 has
// been seen, checking only each side against its own limit).
const char *RefusedLayout(const std::uint8_t *d, std::size_t n)
{
    std::size_t meta = 0, metaEnd = 0;
    std::vector<Extent> extents;
    if (!ReadExtents(d, n, meta, metaEnd, extents))
        return "cannot decode HEIF";
    for (const Extent &e : extents) {
        const std::uint64_t limit = e.to == 0 ? ~0ull : e.to - e.from;
        if (e.base > limit || e.offset > limit - e.base || e.length > limit - e.base - e.offset)
            return "cannot decode HEIF";
    }
    // The grid items' ids, from their infe boxes (versions 2 and 3).
    std::size_t iinf = 0, iinfEnd = 0;
    std::vector<std::uint64_t> grids;
    if (FindBox(d, meta, metaEnd, "iinf", iinf, iinfEnd)) {
        Reader r{d, iinfEnd, iinf};
        const std::uint64_t version = r.Get(1);
        r.Get(3);
        r.Get(version == 0 ? 2 : 4);
        std::size_t at = r.at, begin = 0, stop = 0;
        while (r.ok && FindBox(d, at, iinfEnd, "infe", begin, stop)) {
            Reader e{d, stop, begin};
            const std::uint64_t v = e.Get(1);
            e.Get(3);
            const std::uint64_t id = v >= 3 ? e.Get(4) : e.Get(2);
            e.Get(2);
            if (v >= 2 && e.ok && stop - e.at >= 4 && std::memcmp(d + e.at, "grid", 4) == 0)
                grids.push_back(id);
            at = stop;
        }
    }
    for (const Extent &e : extents) {
        if (!e.first || e.to == 0 || std::find(grids.begin(), grids.end(), e.item) == grids.end())
            continue;
        Reader g{d, e.to, e.from + std::size_t(e.base + e.offset)};
        g.Get(1);
        const bool wide = g.Get(1) & 1;
        g.Get(2); // rows and columns, less one
        const std::uint64_t w = g.Get(wide ? 4 : 2), h = g.Get(wide ? 4 : 2);
        if (!g.ok || !cxcodec::FitsPixelLimits(static_cast<long long>(w), static_cast<long long>(h)))
            return "image too large";
    }
    return nullptr;
}

using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Image = std::unique_ptr<const heif_image, ImageDeleter>;

// Reads the file into a new context; null when it is read, else why not.
const char *OpenContext(const std::uint8_t *data, std::size_t size, Context &ctx)
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
    ctx.reset(heif_context_alloc());
    if (!ctx)
        return "out of memory";
    heif_context_set_maximum_image_size_limit(ctx.get(), CxImage::kMaxDimension);
    const int limit = CxImage::GetThreadLimit();
    const int threads = limit > 0 ? limit : int(std::max(1u, std::thread::hardware_concurrency()));
    // 0 keeps the tiles of a grid on the calling thread.
    heif_context_set_max_decoding_threads(ctx.get(), threads == 1 ? 0 : threads);
    const heif_error e = heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr);
    return e.code != heif_error_Ok ? ReadError(e) : nullptr;
}

// Decodes one image; null when it is decoded, else why not.
const char *DecodeHandle(const heif_image_handle *handle, const heif_decoding_options *options, Image &image,
                         bool &alpha)
{
    // A coded image whose depth its own header does not declare has been
    // seen to make libde265 ask for gigabytes for a few pixels.
    const int depth = heif_image_handle_get_luma_bits_per_pixel(handle);
    if (depth < 1 || depth > 16)
        return "cannot decode HEIF";
    alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    heif_image *decoded = nullptr;
    const heif_error e =
        heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
    image.reset(decoded);
    if (e.code != heif_error_Ok || !decoded)
        return ReadError(e);
    // The picture must be the size its file declares, which the limits and
    // the hint were checked against.
    if (heif_image_get_width(decoded, heif_channel_interleaved) != heif_image_handle_get_width(handle) ||
        heif_image_get_height(decoded, heif_channel_interleaved) != heif_image_handle_get_height(handle))
        return "cannot decode HEIF";
    return nullptr;
}

// The decoded samples into out as B, G, R and alpha (premultiplied alpha
// undone); null when done, else why not.
const char *CopyPixels(const heif_image *decoded, const heif_image_handle *chosen, bool alpha, CxImage &out)
{
    const int w = heif_image_get_width(decoded, heif_channel_interleaved);
    const int h = heif_image_get_height(decoded, heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t *src = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int pixel = alpha ? 4 : 3;
    if (!src || !cxcodec::FitsPixelLimits(w, h) || stride < w * pixel ||
        heif_image_get_bits_per_pixel(decoded, heif_channel_interleaved) != pixel * 8)
        return "cannot decode HEIF";
    if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_HEIF) || (alpha && !out.AlphaCreate()))
        return "out of memory";
    const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(chosen);
    for (int y = 0; y < h; ++y, src += stride) {
        BYTE *bgr = out.GetBits(y);
        BYTE *a = alpha ? out.AlphaGetPointer(y) : nullptr;
        const std::uint8_t *s = src;
        for (int x = 0; x < w; ++x, s += pixel, bgr += 3) {
            int r = s[0], g = s[1], b = s[2];
            if (alpha) {
                a[x] = s[3];
                if (premultiplied && s[3] != 0 && s[3] != 255) {
                    r = std::min(255, (r * 255 + s[3] / 2) / s[3]);
                    g = std::min(255, (g * 255 + s[3] / 2) / s[3]);
                    b = std::min(255, (b * 255 + s[3] / 2) / s[3]);
                }
            }
            bgr[0] = BYTE(b);
            bgr[1] = BYTE(g);
            bgr[2] = BYTE(r);
        }
    }
    return nullptr;
}

} // namespace

namespace cxcodec {

bool DecodeHeif(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    if (const char *why = RefusedLayout(data, size))
        return cxcodec::RefuseImage(out, why);
    Context ctx;
    if (const char *why = OpenContext(data, size, ctx))
        return cxcodec::RefuseImage(out, why);
    heif_image_handle *p = nullptr;
    const heif_error e = heif_context_get_primary_image_handle(ctx.get(), &p);
    if (e.code != heif_error_Ok || !p)
        return cxcodec::RefuseImage(out, ReadError(e));
    const Handle primary(p);
    // The declared sizes are checked before anything is decoded for them.
    if (!HandleFits(primary.get()))
        return cxcodec::RefuseImage(out, "image too large");
    const int srcW = heif_image_handle_get_width(primary.get());
    const int srcH = heif_image_handle_get_height(primary.get());
    int hintW = 0, hintH = 0;
    req.Hint(srcW, srcH, 1, hintW, hintH);
    const Handle thumb = ThumbnailFor(primary.get(), hintW, hintH);
    if (req.cancel && req.cancel->load())
        return cxcodec::RefuseImage(out, "cancelled");

    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (!options)
        return cxcodec::RefuseImage(out, "out of memory");
    options->convert_hdr_to_8bit = 1;
    // The thumbnail when there is one, else (or when it fails) the primary
    // image.
    const heif_image_handle *chosen = nullptr;
    Image image;
    bool alpha = false;
    for (const heif_image_handle *handle : {thumb.get(), primary.get()}) {
        if (!handle)
            continue;
        const char *why = DecodeHandle(handle, options.get(), image, alpha);
        if (!why) {
            chosen = handle;
            break;
        }
        if (handle == primary.get())
            return cxcodec::RefuseImage(out, why);
    }
    if (const char *why = CopyPixels(image.get(), chosen, alpha, out))
        return cxcodec::RefuseImage(out, why);
    CxMetadata meta = Blocks(primary.get());
    if (!meta.Empty())
        CxImageAccess::SetMetadata(out, std::move(meta));
    CxImageAccess::SetOrientation(out, 1);
    CxImageAccess::SetSourceSize(out, srcW, srcH);
    return true;
}

} // namespace cxcodec
