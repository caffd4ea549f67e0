// Camera raw files through LibRaw. The sensor data is developed with the
// camera's white balance into 8-bit sRGB, stored as the sensor lies: LibRaw's
// flip is reported as the orientation, so turning it follows AutoRotate as
// an EXIF orientation does. A thumbnail may take the camera's embedded
// preview instead. Raw files keep their shot facts in maker notes LibRaw
// reads, not in an EXIF block an output could carry, so one is built.
#include "imaging/codecs/codecs.h"
#include "imaging/codecs/rawfile.h"
#include "imaging/cxmetadata.h"
#include "imaging/metadataio.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include <libraw/libraw.h>

namespace {

struct ProcessedDeleter {
    void operator()(libraw_processed_image_t *p) const { LibRaw::dcraw_clear_mem(p); }
};
using Processed = std::unique_ptr<libraw_processed_image_t, ProcessedDeleter>;

// 8-bit RGB rows as LibRaw hands them into out as B, G, R.
const char *CopyRgb(const std::uint8_t *rgb, int w, int h, CxImage &out)
{
    if (!cxcodec::FitsPixelLimits(w, h))
        return "image too large";
    if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_RAW))
        return "out of memory";
    for (int y = 0; y < h; ++y) {
        BYTE *bgr = out.GetBits(y);
        const std::uint8_t *s = rgb + std::size_t(y) * std::size_t(w) * 3;
        for (int x = 0; x < w; ++x, s += 3, bgr += 3) {
            bgr[0] = s[2];
            bgr[1] = s[1];
            bgr[2] = s[0];
        }
    }
    return nullptr;
}

const char *CopyProcessed(const libraw_processed_image_t *p, CxImage &out)
{
    if (!p || p->type != LIBRAW_IMAGE_BITMAP || p->colors != 3 || p->bits != 8 ||
        std::size_t(p->data_size) < std::size_t(p->width) * p->height * 3)
        return "cannot decode camera raw";
    return CopyRgb(p->data, p->width, p->height, out);
}

// The embedded preview, at least hintW x hintH as stored; false when there
// is none that large, or it does not decode.
bool DecodePreview(LibRaw &raw, int hintW, int hintH, CxImage &out)
{
    if (raw.unpack_thumb() != LIBRAW_SUCCESS)
        return false;
    const libraw_thumbnail_t &t = raw.imgdata.thumbnail;
    if (!t.thumb || t.tlength == 0)
        return false;
    if (t.tformat == LIBRAW_THUMBNAIL_JPEG) {
        cxcodec::DecodeRequest jpeg;
        jpeg.hintWidth = hintW;
        jpeg.hintHeight = hintH;
        jpeg.autoOrient = false;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(t.thumb);
        if (!cxcodec::DecodeJpeg(bytes, t.tlength, out, jpeg) || !out.IsValid())
            return false;
        // The JPEG's own size, before any scaled decode.
        const int w = out.GetSrcWidth() > 0 ? out.GetSrcWidth() : out.GetWidth();
        const int h = out.GetSrcHeight() > 0 ? out.GetSrcHeight() : out.GetHeight();
        return w >= hintW && h >= hintH;
    }
    if (t.tformat != LIBRAW_THUMBNAIL_BITMAP || t.twidth < hintW || t.theight < hintH)
        return false;
    int error = 0;
    const Processed p(raw.dcraw_make_mem_thumb(&error));
    return error == LIBRAW_SUCCESS && !CopyProcessed(p.get(), out);
}

int Progress(void *cancel, LibRaw_progress, int, int)
{
    const auto *flag = static_cast<const std::atomic<bool> *>(cancel);
    return flag && flag->load() ? 1 : 0;
}

// LibRaw's own handlers print to stderr; a damaged file is told by
// error_count() and the return codes instead.
void QuietDataError(void *, const char *, const int) {}
void QuietMemoryError(void *, const char *, const char *) {}

// The sensor data developed into out; null when done, else why not.
const char *Develop(LibRaw &raw, bool half, const std::atomic<bool> *cancel, CxImage &out)
{
    libraw_output_params_t &o = raw.imgdata.params;
    o.use_camera_wb = 1;
    o.output_color = 1; // sRGB
    o.output_bps = 8;
    o.user_flip = 0; // reported as the orientation instead
    o.half_size = half ? 1 : 0;
    o.gamm[0] = 1 / 2.4; // the sRGB curve rather than BT.709's
    o.gamm[1] = 12.92;
    const libraw_image_sizes_t &s = raw.imgdata.sizes;
    const std::size_t pixels = std::size_t(s.width) * std::size_t(s.height) / (half ? 4 : 1);
    // The raw samples and LibRaw's four 16-bit channels per pixel, counted
    // in the run's decode budget beside the JPEG decoders'.
    const cxcodec::DecodeBudgetHold hold(std::size_t(s.raw_width) * s.raw_height * 2 + pixels * 8);
    if (raw.unpack() != LIBRAW_SUCCESS || raw.error_count() > 0)
        return "damaged camera raw file";
    if (cancel && cancel->load())
        return "cancelled";
    if (raw.dcraw_process() != LIBRAW_SUCCESS)
        return cancel && cancel->load() ? "cancelled" : "cannot decode camera raw";
    int error = 0;
    const Processed p(raw.dcraw_make_mem_image(&error));
    if (error != LIBRAW_SUCCESS)
        return "out of memory";
    return CopyProcessed(p.get(), out);
}

cxmeta::ShotFacts FactsOf(const libraw_data_t &d)
{
    cxmeta::ShotFacts f;
    f.make = d.idata.make;
    f.model = d.idata.model;
    f.lens = d.lens.Lens;
    if (d.other.timestamp > 0) {
        std::tm tm{};
        const std::time_t t = d.other.timestamp;
        char text[32];
        if (localtime_r(&t, &tm) && std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &tm))
            f.dateTimeOriginal = text;
    }
    f.exposureSeconds = d.other.shutter;
    f.fNumber = d.other.aperture;
    f.focalLengthMm = d.other.focal_len;
    f.iso = int(std::lround(d.other.iso_speed));
    const libraw_gps_info_t &g = d.other.parsed_gps;
    f.hasGps =
        g.gpsparsed != 0 && (g.latref == 'N' || g.latref == 'S') && (g.longref == 'E' || g.longref == 'W');
    if (f.hasGps) {
        for (int i = 0; i < 3; ++i) {
            f.latitude[i] = g.latitude[i];
            f.longitude[i] = g.longitude[i];
        }
        f.latitudeRef = g.latref;
        f.longitudeRef = g.longref;
        f.altitudeM = g.altitude;
        f.belowSeaLevel = g.altref == 1;
    }
    return f;
}

} // namespace

namespace cxcodec {

bool DecodeRaw(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    try {
        auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
        raw->set_dataerror_handler(QuietDataError, nullptr);
        raw->set_memerror_handler(QuietMemoryError, nullptr);
        raw->set_progress_handler(Progress, const_cast<std::atomic<bool> *>(req.cancel));
        cxraw::Bound(*raw);
        int orientation = 1;
        if (const char *why = cxraw::Open(*raw, data, size, orientation))
            return RefuseImage(out, why);
        // The file's own size: a half-size decode changes LibRaw's.
        const int srcW = raw->imgdata.sizes.width, srcH = raw->imgdata.sizes.height;
        int hintW = 0, hintH = 0;
        req.Hint(srcW, srcH, orientation, hintW, hintH);
        const bool hinted = hintW > 0 || hintH > 0;
        const bool previewed = req.embeddedPreview && hinted && DecodePreview(*raw, hintW, hintH, out);
        if (!previewed) {
            out.Destroy();
            const bool half = hinted && srcW / 2 >= hintW && srcH / 2 >= hintH;
            if (const char *why = Develop(*raw, half, req.cancel, out))
                return RefuseImage(out, why);
        }
        CxMetadata meta;
        meta.exif = cxmeta::ExifFromFacts(FactsOf(raw->imgdata));
        CxImageAccess::SetMetadata(out, std::move(meta));
        CxImageAccess::SetOrientation(out, orientation);
        CxImageAccess::SetSourceSize(out, srcW, srcH);
        return true;
    } catch (const std::bad_alloc &) {
        return RefuseImage(out, "out of memory");
    } catch (...) {
        return RefuseImage(out, "cannot decode camera raw");
    }
}

} // namespace cxcodec
