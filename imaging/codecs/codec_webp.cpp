// WebP reading and writing through libwebp. Load reads an animation as its
// first frame, composed on its canvas; WebpFrames walks all of them and
// EncodeWebpAnimation writes one.
#include "imaging/codecs/codecs.h"
#include "imaging/cxmetadata.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer *d) const { WebPDemuxDelete(d); }
};
struct AnimDeleter {
    void operator()(WebPAnimDecoder *d) const { WebPAnimDecoderDelete(d); }
};

std::string Chunk(WebPDemuxer *dmux, const char *fourcc)
{
    WebPChunkIterator it;
    std::string bytes;
    if (WebPDemuxGetChunk(dmux, fourcc, 1, &it))
        bytes.assign(reinterpret_cast<const char *>(it.chunk.bytes), it.chunk.size);
    WebPDemuxReleaseChunkIterator(&it);
    return bytes;
}

// The EXIF, XMP and ICC chunks of an extended file as the picture's blocks;
// returns the EXIF orientation. A damaged container only loses them.
int KeepMetadata(const std::uint8_t *data, std::size_t size, CxImage &out)
{
    const WebPData whole{data, size};
    std::unique_ptr<WebPDemuxer, DemuxDeleter> dmux(WebPDemux(&whole));
    if (!dmux)
        return 1;
    const std::uint32_t flags = WebPDemuxGetI(dmux.get(), WEBP_FF_FORMAT_FLAGS);
    CxMetadata meta;
    if (flags & EXIF_FLAG) {
        meta.exif = Chunk(dmux.get(), "EXIF");
        // Some writers keep JPEG's APP1 prefix.
        if (meta.exif.compare(0, 6, std::string("Exif\0\0", 6)) == 0)
            meta.exif.erase(0, 6);
    }
    if (flags & XMP_FLAG)
        meta.xmp = Chunk(dmux.get(), "XMP ");
    if (flags & ICCP_FLAG)
        meta.icc = Chunk(dmux.get(), "ICCP");
    if (meta.Empty())
        return 1;
    const int orientation = cxmeta::ExifOrientation(meta.exif);
    CxImageAccess::SetMetadata(out, std::move(meta));
    return orientation;
}

// Splits B, G, R, A rows into the picture's colour and alpha.
bool StoreBgra(const std::uint8_t *src, int w, int h, std::size_t stride, CxImage &out)
{
    if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_WEBP) || !out.AlphaCreate())
        return false;
    for (int y = 0; y < h; ++y, src += stride) {
        BYTE *bgr = out.GetBits(y);
        BYTE *alpha = out.AlphaGetPointer(y);
        const std::uint8_t *p = src;
        for (int x = 0; x < w; ++x, p += 4, bgr += 3) {
            bgr[0] = p[0];
            bgr[1] = p[1];
            bgr[2] = p[2];
            alpha[x] = p[3];
        }
    }
    return true;
}

// A canvas is trusted only as far as its frames can cover it: real
// animations paint all of it (the first frame usually does), while a
// hostile one declares a 16383 x 16383 canvas for a few 1 x 1 frames and
// would cost gigabytes before the first pixel. Beyond 256 x 256, a canvas
// larger than four times the frames' areas together is refused, before the
// decoder allocates it. Frame headers are read, no frame is decoded.
bool CanvasCovered(const std::uint8_t *data, std::size_t size, int &frames)
{
    frames = 0;
    const WebPData whole{data, size};
    std::unique_ptr<WebPDemuxer, DemuxDeleter> dmux(WebPDemux(&whole));
    if (!dmux)
        return false;
    const std::int64_t canvas = std::int64_t(WebPDemuxGetI(dmux.get(), WEBP_FF_CANVAS_WIDTH)) *
                                std::int64_t(WebPDemuxGetI(dmux.get(), WEBP_FF_CANVAS_HEIGHT));
    frames = int(WebPDemuxGetI(dmux.get(), WEBP_FF_FRAME_COUNT));
    if (canvas <= 256 * 256)
        return true;
    std::int64_t painted = 0;
    WebPIterator it;
    if (WebPDemuxGetFrame(dmux.get(), 1, &it)) {
        do
            painted += std::int64_t(it.width) * std::int64_t(it.height);
        while (painted * 4 < canvas && WebPDemuxNextFrame(&it));
        WebPDemuxReleaseIterator(&it);
    }
    return painted * 4 >= canvas;
}

bool DecodeFirstFrame(const std::uint8_t *data, std::size_t size, CxImage &out)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return cxcodec::RefuseImage(out, "cannot decode WebP");
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData whole{data, size};
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> dec(WebPAnimDecoderNew(&whole, &options));
    WebPAnimInfo info;
    if (!dec || !WebPAnimDecoderGetInfo(dec.get(), &info))
        return cxcodec::RefuseImage(out, "cannot decode WebP");
    if (!cxcodec::FitsPixelLimits(info.canvas_width, info.canvas_height))
        return cxcodec::RefuseImage(out, "image too large");
    std::uint8_t *canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(dec.get(), &canvas, &timestamp) || !canvas)
        return cxcodec::RefuseImage(out, "cannot decode WebP");
    const int w = int(info.canvas_width), h = int(info.canvas_height);
    if (!StoreBgra(canvas, w, h, std::size_t(w) * 4, out))
        return cxcodec::RefuseImage(out, "out of memory");
    CxImageAccess::SetFrameInfo(out, int(info.frame_count), (timestamp + 5) / 10, 1);
    return true;
}

// A frame or picture as libwebp takes it: A, R, G, B words.
bool ImportArgb(const CxImage &img, WebPPicture &picture)
{
    const int w = img.GetWidth(), h = img.GetHeight();
    picture.width = w;
    picture.height = h;
    picture.use_argb = 1;
    std::vector<std::uint8_t> rows;
    try {
        rows.resize(std::size_t(w) * std::size_t(h) * 4);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (int y = 0; y < h; ++y)
        cxcodec::RowToRGBA(img, y, rows.data() + std::size_t(y) * std::size_t(w) * 4);
    return WebPPictureImportRGBA(&picture, rows.data(), w * 4);
}

void ConfigureFor(const CxImage &img, WebPConfig &config)
{
    const int quality = img.GetJpegQuality();
    const CEncoderSettings &settings = img.GetEncoderSettings();
    config.lossless = quality >= 100 || settings.m_bWebpLossless;
    config.quality = config.lossless ? 75.0f : float(quality);
    config.method = std::clamp(settings.m_nWebpEffort, 0, 6);
    // Lossless keeps even the colour under fully transparent pixels.
    config.exact = config.lossless;
}

} // namespace

namespace cxcodec {

struct WebpFrames::State {
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> decoder;
    WebPAnimInfo info{};
    CxMetadata meta;
    int timestamp = 0; // end of the frame given last, in ms
    int next = 0;
    bool failed = false;
};

WebpFrames::WebpFrames() : m(std::make_unique<State>()) {}
WebpFrames::~WebpFrames() = default;

bool WebpFrames::Open(const std::uint8_t *data, std::size_t size, std::string &error)
{
    WebPBitstreamFeatures features;
    const VP8StatusCode header = WebPGetFeatures(data, size, &features);
    if (header != VP8_STATUS_OK) {
        error = header == VP8_STATUS_NOT_ENOUGH_DATA ? "truncated WebP file" : "cannot decode WebP";
        return false;
    }
    int frames = 1;
    if (!cxcodec::FitsPixelLimits(features.width, features.height) ||
        (features.has_animation && !CanvasCovered(data, size, frames))) {
        error = frames > 0 ? "image too large" : "cannot decode WebP";
        return false;
    }
    CxImage holder;
    KeepMetadata(data, size, holder);
    m->meta = holder.GetMetadata();
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) {
        error = "cannot decode WebP";
        return false;
    }
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData whole{data, size};
    m->decoder.reset(WebPAnimDecoderNew(&whole, &options));
    if (!m->decoder || !WebPAnimDecoderGetInfo(m->decoder.get(), &m->info) || m->info.frame_count == 0) {
        m->decoder.reset();
        error = "cannot decode WebP";
        return false;
    }
    return true;
}

int WebpFrames::NumFrames() const
{
    return m->decoder ? int(m->info.frame_count) : 0;
}

int WebpFrames::LoopCount() const
{
    return int(m->info.loop_count);
}

std::uint32_t WebpFrames::Background() const
{
    return m->info.bgcolor;
}

const CxMetadata &WebpFrames::Metadata() const
{
    return m->meta;
}

bool WebpFrames::Next(CxImage &out, int &durationMs)
{
    std::uint8_t *canvas = nullptr;
    int timestamp = 0;
    if (!m->decoder || m->failed || !WebPAnimDecoderGetNext(m->decoder.get(), &canvas, &timestamp) ||
        !canvas) {
        m->failed = true;
        return cxcodec::RefuseImage(out, m->next >= NumFrames() ? "no such frame" : "cannot decode WebP");
    }
    durationMs = std::max(timestamp - m->timestamp, 0);
    m->timestamp = timestamp;
    const int w = int(m->info.canvas_width), h = int(m->info.canvas_height);
    if (!StoreBgra(canvas, w, h, std::size_t(w) * 4, out)) {
        m->failed = true;
        return cxcodec::RefuseImage(out, "out of memory");
    }
    CxImageAccess::SetFrameInfo(out, NumFrames(), (durationMs + 5) / 10, 1);
    CxImageAccess::SetSourceSize(out, w, h);
    ++m->next;
    return true;
}

bool EncodeWebpAnimation(const CxImage *const *frames, const int *delaysMs, int count, int loopCount,
                         std::uint32_t background, CxFile &file, std::string *why)
{
    auto fail = [&](const char *text) {
        if (why)
            *why = text;
        return false;
    };
    if (count <= 0 || !frames[0]->IsValid())
        return fail("no image to save");
    const int w = frames[0]->GetWidth(), h = frames[0]->GetHeight();
    if (w > WEBP_MAX_DIMENSION || h > WEBP_MAX_DIMENSION)
        return fail("image too large for WebP");
    WebPAnimEncoderOptions options;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config))
        return fail("cannot encode WebP");
    options.anim_params.loop_count = std::clamp(loopCount, 0, 65535);
    options.anim_params.bgcolor = background;
    ConfigureFor(*frames[0], config);
    struct EncoderDeleter {
        void operator()(WebPAnimEncoder *e) const { WebPAnimEncoderDelete(e); }
    };
    std::unique_ptr<WebPAnimEncoder, EncoderDeleter> encoder(WebPAnimEncoderNew(w, h, &options));
    if (!encoder)
        return fail("out of memory");
    int timestamp = 0;
    for (int k = 0; k < count; ++k) {
        if (frames[k]->GetWidth() != w || frames[k]->GetHeight() != h)
            return fail("frames of different sizes");
        WebPPicture picture;
        if (!WebPPictureInit(&picture))
            return fail("cannot encode WebP");
        const bool added = ImportArgb(*frames[k], picture) &&
                           WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config);
        const bool memory = picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY;
        WebPPictureFree(&picture);
        if (!added)
            return fail(memory ? "out of memory" : "cannot encode WebP");
        timestamp += std::max(delaysMs[k], 0);
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    if (!WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr) ||
        !WebPAnimEncoderAssemble(encoder.get(), &assembled))
        return fail("cannot encode WebP");
    const bool ok = file.Write(assembled.bytes, 1, assembled.size) == assembled.size;
    WebPDataClear(&assembled);
    return ok || fail("cannot write image");
}

bool DecodeWebp(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    WebPBitstreamFeatures features;
    const VP8StatusCode header = WebPGetFeatures(data, size, &features);
    if (header != VP8_STATUS_OK)
        return cxcodec::RefuseImage(out, header == VP8_STATUS_NOT_ENOUGH_DATA ? "truncated WebP file"
                                                                              : "cannot decode WebP");
    // The header's size is checked before anything is allocated for it.
    if (!cxcodec::FitsPixelLimits(features.width, features.height))
        return cxcodec::RefuseImage(out, "image too large");
    const int srcW = features.width, srcH = features.height;
    int frames = 1;
    if (features.has_animation && !CanvasCovered(data, size, frames))
        return cxcodec::RefuseImage(out, frames > 0 ? "image too large" : "cannot decode WebP");
    const int orientation = KeepMetadata(data, size, out);
    if (features.has_animation) {
        if (!DecodeFirstFrame(data, size, out))
            return false;
    } else {
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config))
            return cxcodec::RefuseImage(out, "cannot decode WebP");
        // Reduced decode: the smallest size keeping the shape that still
        // covers the hint.
        int w = srcW, h = srcH;
        int hintW = 0, hintH = 0;
        req.Hint(srcW, srcH, orientation, hintW, hintH);
        if (hintW > 0 || hintH > 0) {
            const double scale =
                std::max(double(std::max(hintW, 0)) / srcW, double(std::max(hintH, 0)) / srcH);
            if (scale < 1) {
                w = std::clamp(int(std::ceil(srcW * scale)), 1, srcW);
                h = std::clamp(int(std::ceil(srcH * scale)), 1, srcH);
                config.options.use_scaling = 1;
                config.options.scaled_width = w;
                config.options.scaled_height = h;
            }
        }
        // Written straight into the picture's rows, or through a B, G, R, A
        // buffer when there is alpha.
        std::vector<std::uint8_t> bgra;
        config.output.is_external_memory = 1;
        if (features.has_alpha) {
            try {
                bgra.resize(std::size_t(w) * std::size_t(h) * 4);
            } catch (const std::bad_alloc &) {
                return cxcodec::RefuseImage(out, "out of memory");
            }
            config.output.colorspace = MODE_BGRA;
            config.output.u.RGBA.rgba = bgra.data();
            config.output.u.RGBA.stride = w * 4;
            config.output.u.RGBA.size = bgra.size();
        } else {
            if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_WEBP))
                return cxcodec::RefuseImage(out, "out of memory");
            config.output.colorspace = MODE_BGR;
            config.output.u.RGBA.rgba = out.GetBits(0);
            config.output.u.RGBA.stride = out.GetEffWidth();
            config.output.u.RGBA.size = std::size_t(out.GetEffWidth()) * std::size_t(h);
        }
        const VP8StatusCode status = WebPDecode(data, size, &config);
        WebPFreeDecBuffer(&config.output);
        if (status != VP8_STATUS_OK)
            return cxcodec::RefuseImage(out, status == VP8_STATUS_NOT_ENOUGH_DATA ? "truncated WebP file"
                                                                                  : "cannot decode WebP");
        if (features.has_alpha && !StoreBgra(bgra.data(), w, h, std::size_t(w) * 4, out))
            return cxcodec::RefuseImage(out, "out of memory");
    }
    CxImageAccess::SetOrientation(out, orientation);
    CxImageAccess::SetSourceSize(out, srcW, srcH);
    return true;
}

bool EncodeWebp(const CxImage &img, CxFile &file, std::string *why)
{
    if (!img.IsValid())
        return false;
    const int w = img.GetWidth(), h = img.GetHeight();
    // libwebp's own limit on a side.
    if (w > WEBP_MAX_DIMENSION || h > WEBP_MAX_DIMENSION) {
        if (why)
            *why = "image too large for WebP";
        return false;
    }
    const bool alpha = img.AlphaIsValid() || (img.GetNumColors() != 0 && img.GetTransIndex() >= 0);
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture))
        return false;
    ConfigureFor(img, config);
    picture.width = w;
    picture.height = h;
    picture.use_argb = config.lossless;
    std::vector<std::uint8_t> rows;
    try {
        rows.resize(std::size_t(w) * std::size_t(h) * (alpha ? 4 : 3));
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (int y = 0; y < h; ++y) {
        if (alpha)
            RowToRGBA(img, y, rows.data() + std::size_t(y) * std::size_t(w) * 4);
        else
            RowToBGR(img, y, rows.data() + std::size_t(y) * std::size_t(w) * 3, false);
    }
    const bool imported = alpha ? WebPPictureImportRGBA(&picture, rows.data(), w * 4)
                                : WebPPictureImportBGR(&picture, rows.data(), w * 3);
    std::vector<std::uint8_t>().swap(rows);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool encoded = imported && WebPEncode(&config, &picture);
    if (!encoded && why)
        *why = picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY ? "out of memory" : "cannot encode WebP";
    WebPPictureFree(&picture);
    const bool ok = encoded && file.Write(writer.mem, 1, writer.size) == writer.size;
    WebPMemoryWriterClear(&writer);
    return ok;
}

} // namespace cxcodec
