// AVIF reading and writing through libavif: the primary image, 8 bits per
// channel, with its alpha. Rotation and mirroring (irot, imir) are reported
// as the EXIF orientation they amount to, so the one orientation step after
// decoding applies them; the EXIF block's own orientation is then ignored.
#include "codecs.h"
#include "cxmetadata.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include <avif/avif.h>

namespace {

// A sequence file may declare many frames; only its first is read, so the
// count is bounded well below libavif's default of hours of video.
constexpr std::uint32_t kMaxFrames = 1 << 16;

// libaom's speed (0 slowest to 10): a 4-megapixel photo takes about 0.7 s of
// one core at 8, 1.3 s at 7 and 1.9 s at 6 (avifenc's default), which saves
// only some 5 % of the bytes.
constexpr int kAvifSpeed = 8;
// The quantizers libaom may use on either side of the one quality asks for.
constexpr int kAvifQuantizerSpread = 4;

int Threads()
{
    const int limit = CxImage::GetThreadLimit();
    return limit > 0 ? limit : int(std::max(1u, std::thread::hardware_concurrency()));
}

struct DecoderDeleter {
    void operator()(avifDecoder *d) const { avifDecoderDestroy(d); }
};
struct EncoderDeleter {
    void operator()(avifEncoder *e) const { avifEncoderDestroy(e); }
};
struct ImageDeleter {
    void operator()(avifImage *i) const { avifImageDestroy(i); }
};

// irot turns the stored picture anti-clockwise by angle x 90 degrees, then
// imir mirrors it (mode 0: top and bottom exchanged, 1: left and right).
int OrientationOf(const avifImage &img)
{
    const int angle = img.transformFlags & AVIF_TRANSFORM_IROT ? img.irot.angle & 3 : 0;
    const int mirror = img.transformFlags & AVIF_TRANSFORM_IMIR ? img.imir.mode & 1 : -1;
    static constexpr int kByAngle[4][3] = {
        // no mirror, top-bottom, left-right
        {1, 4, 2},
        {8, 5, 7},
        {3, 2, 4},
        {6, 7, 5},
    };
    return kByAngle[angle][mirror + 1];
}

void SetOrientation(avifImage &img, int orientation)
{
    struct Transform {
        int angle, mirror; // mirror -1: none
    };
    static constexpr Transform kByOrientation[9] = {
        {0, -1}, {0, -1}, {0, 1}, {2, -1}, {0, 0}, {1, 0}, {3, -1}, {3, 0}, {1, -1},
    };
    const Transform t = kByOrientation[orientation >= 1 && orientation <= 8 ? orientation : 1];
    img.transformFlags &= ~avifTransformFlags(AVIF_TRANSFORM_IROT | AVIF_TRANSFORM_IMIR);
    if (t.angle != 0) {
        img.transformFlags |= AVIF_TRANSFORM_IROT;
        img.irot.angle = std::uint8_t(t.angle);
    }
    if (t.mirror >= 0) {
        img.transformFlags |= AVIF_TRANSFORM_IMIR;
        img.imir.mode = std::uint8_t(t.mirror);
    }
}

std::string Bytes(const avifRWData &d)
{
    return d.size ? std::string(reinterpret_cast<const char *>(d.data), d.size) : std::string();
}

// Parses the file's first image: the primary item, or for a sequence
// without one, its first frame.
avifResult Parse(avifDecoder &dec, const std::uint8_t *data, std::size_t size, avifDecoderSource source)
{
    dec.maxThreads = Threads();
    dec.imageSizeLimit = std::uint32_t(CxImage::kMaxPixels);
    dec.imageDimensionLimit = std::uint32_t(CxImage::kMaxDimension);
    dec.imageCountLimit = kMaxFrames;
    // Files from older writers lack properties the format later required.
    dec.strictFlags = AVIF_STRICT_DISABLED;
    avifResult r = avifDecoderSetSource(&dec, source);
    if (r == AVIF_RESULT_OK)
        r = avifDecoderSetIOMemory(&dec, data, size);
    return r == AVIF_RESULT_OK ? avifDecoderParse(&dec) : r;
}

const char *ReadError(avifResult r)
{
    switch (r) {
    case AVIF_RESULT_OUT_OF_MEMORY:
        return "out of memory";
    case AVIF_RESULT_TRUNCATED_DATA:
        return "truncated AVIF file";
    default:
        return "cannot decode AVIF";
    }
}

} // namespace

namespace cxcodec {

bool DecodeAvif(const std::uint8_t *data, std::size_t size, CxImage &out, const DecodeRequest &req)
{
    std::unique_ptr<avifDecoder, DecoderDeleter> dec(avifDecoderCreate());
    if (!dec)
        return cxcodec::RefuseImage(out, "out of memory");
    avifResult r = Parse(*dec, data, size, AVIF_DECODER_SOURCE_PRIMARY_ITEM);
    if (r != AVIF_RESULT_OK && r != AVIF_RESULT_OUT_OF_MEMORY) {
        dec.reset(avifDecoderCreate());
        if (!dec)
            return cxcodec::RefuseImage(out, "out of memory");
        r = Parse(*dec, data, size, AVIF_DECODER_SOURCE_AUTO);
    }
    // libavif refuses sizes past the limits it was given while parsing,
    // saying so only in its diagnostics.
    if (r != AVIF_RESULT_OK)
        return cxcodec::RefuseImage(out, std::strstr(dec->diag.error, "too large") ? "image too large"
                                                                                   : ReadError(r));
    const avifImage &header = *dec->image;
    // The container's size is checked before anything is decoded for it.
    if (!cxcodec::FitsPixelLimits(header.width, header.height))
        return cxcodec::RefuseImage(out, "image too large");
    if (req.cancel && req.cancel->load())
        return cxcodec::RefuseImage(out, "cancelled");
    r = avifDecoderNextImage(dec.get());
    if (r != AVIF_RESULT_OK)
        return cxcodec::RefuseImage(out, ReadError(r));
    const avifImage &img = *dec->image;
    const int w = int(img.width), h = int(img.height);
    if (!cxcodec::FitsPixelLimits(w, h))
        return cxcodec::RefuseImage(out, "image too large");
    const bool alpha = img.alphaPlane != nullptr;

    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &img);
    rgb.depth = 8; // deeper samples are scaled down by the conversion
    // Written straight into the picture's rows, or through a B, G, R, A
    // buffer when there is alpha.
    std::vector<std::uint8_t> bgra;
    if (alpha) {
        try {
            bgra.resize(std::size_t(w) * std::size_t(h) * 4);
        } catch (const std::bad_alloc &) {
            return cxcodec::RefuseImage(out, "out of memory");
        }
        rgb.format = AVIF_RGB_FORMAT_BGRA;
        rgb.pixels = bgra.data();
        rgb.rowBytes = std::uint32_t(w) * 4;
    } else {
        if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_AVIF))
            return cxcodec::RefuseImage(out, "out of memory");
        rgb.format = AVIF_RGB_FORMAT_BGR;
        rgb.pixels = out.GetBits(0);
        rgb.rowBytes = std::uint32_t(out.GetEffWidth());
    }
    r = avifImageYUVToRGB(&img, &rgb);
    if (r != AVIF_RESULT_OK)
        return cxcodec::RefuseImage(out, ReadError(r));
    if (alpha) {
        if (!CxImageAccess::CreateForDecode(out, w, h, 24, CXIMAGE_FORMAT_AVIF) || !out.AlphaCreate())
            return cxcodec::RefuseImage(out, "out of memory");
        const std::uint8_t *src = bgra.data();
        for (int y = 0; y < h; ++y) {
            BYTE *dst = out.GetBits(y);
            BYTE *a = out.AlphaGetPointer(y);
            for (int x = 0; x < w; ++x, src += 4, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                a[x] = src[3];
            }
        }
    }

    CxMetadata meta;
    meta.exif = cxmeta::ExifFromBmff(img.exif.data, img.exif.size);
    meta.xmp = Bytes(img.xmp);
    meta.icc = Bytes(img.icc);
    if (!meta.Empty())
        CxImageAccess::SetMetadata(out, std::move(meta));
    CxImageAccess::SetOrientation(out, OrientationOf(img));
    CxImageAccess::SetSourceSize(out, w, h);
    return true;
}

// Quality q (1-99) sets the quantizer range around (100 - q) x 63 / 100,
// the scale libavif's own quality setting later adopted; libaom encodes at
// the middle of the range and may move within it. From 90 up chroma is not
// subsampled; 100 is lossless: the identity matrix and quantizer 0. Alpha is
// always kept exactly.
bool EncodeAvif(const CxImage &img, CxFile &file, std::string *why)
{
    auto fail = [why](const char *text) {
        if (why)
            *why = text;
        return false;
    };
    if (!img.IsValid())
        return false;
    const int w = img.GetWidth(), h = img.GetHeight();
    // AV1 frames are at most 65536 on a side.
    if (w > 65536 || h > 65536)
        return fail("image too large for AVIF");
    const int quality = img.GetJpegQuality();
    const bool lossless = quality >= 100;
    const bool alpha = img.AlphaIsValid() || (img.GetNumColors() != 0 && img.GetTransIndex() >= 0);

    // As for JPEG, chroma is kept whole at high quality, where halving it
    // costs more than it saves.
    std::unique_ptr<avifImage, ImageDeleter> image(
        avifImageCreate(std::uint32_t(w), std::uint32_t(h), 8,
                        quality >= 90 ? AVIF_PIXEL_FORMAT_YUV444 : AVIF_PIXEL_FORMAT_YUV420));
    if (!image)
        return fail("out of memory");
    image->yuvRange = AVIF_RANGE_FULL;
    if (lossless)
        image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_IDENTITY;

    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    std::vector<std::uint8_t> rows;
    if (alpha || img.GetBpp() != 24) {
        const std::size_t pixel = alpha ? 4 : 3;
        try {
            rows.resize(std::size_t(w) * std::size_t(h) * pixel);
        } catch (const std::bad_alloc &) {
            return fail("out of memory");
        }
        for (int y = 0; y < h; ++y) {
            std::uint8_t *row = rows.data() + std::size_t(y) * std::size_t(w) * pixel;
            if (alpha)
                RowToRGBA(img, y, row);
            else
                RowToBGR(img, y, row, false);
        }
        rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_BGR;
        rgb.pixels = rows.data();
        rgb.rowBytes = std::uint32_t(std::size_t(w) * pixel);
    } else {
        // Only read by the conversion.
        rgb.format = AVIF_RGB_FORMAT_BGR;
        rgb.pixels = const_cast<std::uint8_t *>(img.GetBits(0));
        rgb.rowBytes = std::uint32_t(img.GetEffWidth());
    }
    if (avifImageRGBToYUV(image.get(), &rgb) != AVIF_RESULT_OK)
        return fail("out of memory");
    std::vector<std::uint8_t>().swap(rows);

    const CxMetadata &meta = img.GetMetadata();
    if (!meta.exif.empty())
        avifImageSetMetadataExif(image.get(), reinterpret_cast<const std::uint8_t *>(meta.exif.data()),
                                 meta.exif.size());
    if (!meta.xmp.empty())
        avifImageSetMetadataXMP(image.get(), reinterpret_cast<const std::uint8_t *>(meta.xmp.data()),
                                meta.xmp.size());
    if (!meta.icc.empty())
        avifImageSetProfileICC(image.get(), reinterpret_cast<const std::uint8_t *>(meta.icc.data()),
                               meta.icc.size());
    // The picture's own orientation, whatever the EXIF block said.
    SetOrientation(*image, img.GetOrientation());

    std::unique_ptr<avifEncoder, EncoderDeleter> enc(avifEncoderCreate());
    if (!enc)
        return fail("out of memory");
    // libaom: the one encoder here that writes lossless.
    enc->codecChoice = AVIF_CODEC_CHOICE_AOM;
    enc->maxThreads = Threads();
    enc->speed = kAvifSpeed;
    const int q = lossless ? 0 : std::clamp(((100 - quality) * 63 + 50) / 100, 0, 63);
    enc->minQuantizer = std::max(0, q - kAvifQuantizerSpread);
    enc->maxQuantizer = std::min(63, q + kAvifQuantizerSpread);
    if (lossless)
        enc->minQuantizer = enc->maxQuantizer = AVIF_QUANTIZER_LOSSLESS;
    enc->minQuantizerAlpha = enc->maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
    avifRWData output = AVIF_DATA_EMPTY;
    const avifResult r = avifEncoderWrite(enc.get(), image.get(), &output);
    if (r != AVIF_RESULT_OK) {
        avifRWDataFree(&output);
        return fail(r == AVIF_RESULT_OUT_OF_MEMORY ? "out of memory" : "cannot encode AVIF");
    }
    const bool ok = file.Write(output.data, 1, output.size) == output.size;
    avifRWDataFree(&output);
    return ok;
}

} // namespace cxcodec
