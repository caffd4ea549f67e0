#include "imaging/metadataio.h"
#include "tests/imaging/jpeg_png_tiff_helpers.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <sstream>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

using namespace codectest;
using namespace testsupport;

namespace {

using Bytes = std::vector<std::uint8_t>;

// What libjpeg reads in a JPEG's headers: its scans, the luma sampling
// factors and the JFIF density.
std::string JpegFacts(const Bytes &bytes)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    std::ostringstream s;
    s << (jpeg_has_multiple_scans(&cinfo) ? "progressive" : "baseline") << ' '
      << cinfo.comp_info[0].h_samp_factor << 'x' << cinfo.comp_info[0].v_samp_factor << ' '
      << int(cinfo.density_unit) << ':' << cinfo.X_density << 'x' << cinfo.Y_density;
    jpeg_destroy_decompress(&cinfo);
    return s.str();
}

// libpng's pHYs of a PNG: pixels per metre and its unit, "none" without one.
std::string PngFacts(const Bytes &bytes)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    struct Reader {
        const Bytes *bytes;
        std::size_t at = 0;
    } reader{&bytes};
    png_set_read_fn(png, &reader, [](png_structp p, png_bytep out, png_size_t n) {
        auto *r = static_cast<Reader *>(png_get_io_ptr(p));
        if (r->at + n > r->bytes->size())
            png_error(p, "short");
        std::copy_n(r->bytes->data() + r->at, n, out);
        r->at += n;
    });
    std::string facts = "unreadable";
    if (!setjmp(png_jmpbuf(png))) {
        png_read_info(png, info);
        png_uint_32 x = 0, y = 0;
        int unit = 0;
        facts = png_get_pHYs(png, info, &x, &y, &unit)
                    ? std::to_string(x) + 'x' + std::to_string(y) + (unit == PNG_RESOLUTION_METER ? "/m" : "")
                    : "none";
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return facts;
}

// libtiff's Compression and Photometric tags and the resolution.
std::string TiffFacts(const Bytes &bytes)
{
    ScratchDir dir;
    const std::string path = dir.Path("f.tif");
    TIFF *tif = WriteFileBytes(path, bytes) ? TIFFOpen(path.c_str(), "r") : nullptr;
    if (!tif)
        return "unreadable";
    std::uint16_t compression = 0, photometric = 0;
    float xres = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
    TIFFClose(tif);
    return "compression " + std::to_string(compression) + " photometric " + std::to_string(photometric) +
           " " + std::to_string(int(xres)) + "dpi";
}

// libwebp's lossy (1) or lossless (2) bitstream.
std::string WebpFacts(const Bytes &bytes)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        return "unreadable";
    return features.format == 2 ? "lossless" : "lossy";
}

// exiv2's EXIF resolution of the written file.
std::string ExifFacts(const Bytes &bytes, const char *name)
{
    ScratchDir dir;
    const std::string path = dir.Path(name);
    if (!WriteFileBytes(path, bytes))
        return "unwritable";
    const auto keys = MetadataKeys(path);
    const auto x = keys.find("Exif.Image.XResolution"), unit = keys.find("Exif.Image.ResolutionUnit");
    return (x == keys.end() ? "none" : x->second) + " " + (unit == keys.end() ? "none" : unit->second);
}

// The picture with a small EXIF block, as a decoded photo carries one.
CxImage WithExif(CxImage img)
{
    CxMetadata meta;
    meta.exif = cxmeta::EditedBlocks(CxMetadata{}, img.GetWidth(), img.GetHeight(), 6).exif;
    img.SetMetadata(meta);
    return img;
}

Bytes Encode(CxImage img, std::uint32_t type, const CEncoderSettings &settings, int quality)
{
    img.SetJpegQuality(BYTE(quality));
    img.SetEncoderSettings(settings);
    return EncodeBytes(img, type);
}

} // namespace

TEST(EncoderSettings, EachSettingIsReadBackFromTheFileWritten)
{
    const CxImage photo = MakeTexturedImage(96, 64);
    CxImage paletted = photo;
    ASSERT_TRUE(paletted.DecreaseBpp(8, false));
    using Change = std::function<void(CEncoderSettings &)>;
    using Facts = std::function<std::string(const Bytes &)>;
    const Facts jpeg = JpegFacts, png = PngFacts, tiff = TiffFacts, webp = WebpFacts;
    const Facts jpegExif = [](const Bytes &b) { return ExifFacts(b, "f.jpg"); };
    const Facts webpExif = [](const Bytes &b) { return ExifFacts(b, "f.webp"); };
    const struct Row {
        const char *name;
        const CxImage *picture;
        std::uint32_t type;
        int quality;
        Change change;
        Facts facts;
        const char *expected;
    } rows[] = {
        {"JPEG defaults at 95", &photo, CXIMAGE_FORMAT_JPG, 95, [](auto &) {}, jpeg, "baseline 1x1 0:1x1"},
        {"JPEG defaults at 75", &photo, CXIMAGE_FORMAT_JPG, 75, [](auto &) {}, jpeg, "baseline 2x2 0:1x1"},
        {"progressive", &photo, CXIMAGE_FORMAT_JPG, 95, [](auto &s) { s.m_bJpegProgressive = true; }, jpeg,
         "progressive 1x1 0:1x1"},
        {"4:4:4 at 75", &photo, CXIMAGE_FORMAT_JPG, 75,
         [](auto &s) { s.m_nJpegSubsampling = SUBSAMPLING_444; }, jpeg, "baseline 1x1 0:1x1"},
        {"4:2:2 at 95", &photo, CXIMAGE_FORMAT_JPG, 95,
         [](auto &s) { s.m_nJpegSubsampling = SUBSAMPLING_422; }, jpeg, "baseline 2x1 0:1x1"},
        {"4:2:0 at 95", &photo, CXIMAGE_FORMAT_JPG, 95,
         [](auto &s) { s.m_nJpegSubsampling = SUBSAMPLING_420; }, jpeg, "baseline 2x2 0:1x1"},
        {"JFIF density", &photo, CXIMAGE_FORMAT_JPG, 95, [](auto &s) { s.m_nDpi = 300; }, jpeg,
         "baseline 1x1 1:300x300"},
        {"no pHYs by default", &photo, CXIMAGE_FORMAT_PNG, 95, [](auto &) {}, png, "none"},
        {"pHYs", &photo, CXIMAGE_FORMAT_PNG, 95, [](auto &s) { s.m_nDpi = 300; }, png, "11811x11811/m"},
        {"TIFF defaults", &photo, CXIMAGE_FORMAT_TIF, 95, [](auto &) {}, tiff,
         "compression 8 photometric 2 72dpi"},
        {"TIFF LZW", &photo, CXIMAGE_FORMAT_TIF, 95, [](auto &s) { s.m_nTifCompression = TIFCOMPRESS_LZW; },
         tiff, "compression 5 photometric 2 72dpi"},
        {"TIFF JPEG", &photo, CXIMAGE_FORMAT_TIF, 95, [](auto &s) { s.m_nTifCompression = TIFCOMPRESS_JPEG; },
         tiff, "compression 7 photometric 6 72dpi"},
        {"TIFF JPEG of a palette", &paletted, CXIMAGE_FORMAT_TIF, 95,
         [](auto &s) { s.m_nTifCompression = TIFCOMPRESS_JPEG; }, tiff, "compression 7 photometric 6 72dpi"},
        {"TIFF none", &photo, CXIMAGE_FORMAT_TIF, 95, [](auto &s) { s.m_nTifCompression = TIFCOMPRESS_NONE; },
         tiff, "compression 1 photometric 2 72dpi"},
        {"TIFF resolution", &photo, CXIMAGE_FORMAT_TIF, 95, [](auto &s) { s.m_nDpi = 240; }, tiff,
         "compression 8 photometric 2 240dpi"},
        {"WebP lossy by default", &photo, CXIMAGE_FORMAT_WEBP, 95, [](auto &) {}, webp, "lossy"},
        {"WebP lossless", &photo, CXIMAGE_FORMAT_WEBP, 60, [](auto &s) { s.m_bWebpLossless = true; }, webp,
         "lossless"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        CEncoderSettings settings;
        r.change(settings);
        const Bytes bytes = Encode(*r.picture, r.type, settings, r.quality);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(r.facts(bytes), r.expected);
        // Whatever the settings, the file reads back as the picture.
        EXPECT_GT(Psnr(Decoded(bytes), *r.picture), 25.0);
    }
    // The EXIF block a photo carries gets the resolution too; without a
    // DPI it is left as it was.
    for (const auto &[type, facts] :
         {std::pair{CXIMAGE_FORMAT_JPG, jpegExif}, {CXIMAGE_FORMAT_WEBP, webpExif}}) {
        CEncoderSettings settings;
        EXPECT_EQ(facts(Encode(WithExif(photo), type, settings, 90)), "none none");
        settings.m_nDpi = 300;
        EXPECT_EQ(facts(Encode(WithExif(photo), type, settings, 90)), "300/1 2");
    }
}

// Settings nothing in the file records show in what they cost.
TEST(EncoderSettings, EffortAndLevelsChangeTheOutput)
{
    const CxImage photo = MakeTexturedImage(64, 48);
    const auto size = [&](std::uint32_t type, int quality,
                          const std::function<void(CEncoderSettings &)> &change) {
        CEncoderSettings settings;
        change(settings);
        return Encode(photo, type, settings, quality);
    };
    // No PNG level writes more than the one below it, on the textured picture
    // and on a grainy photo (where zlib's levels 1 to 3 wrote less than 4 to 9).
    const CxImage grain(DataPath("photo/grain.jpg").c_str(), CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(grain.IsValid());
    for (const CxImage *picture : {&photo, &grain}) {
        std::size_t below = SIZE_MAX;
        for (int level = 0; level <= 9; ++level) {
            CEncoderSettings settings;
            settings.m_nPngLevel = level;
            const Bytes png = Encode(*picture, CXIMAGE_FORMAT_PNG, settings, 95);
            EXPECT_LE(png.size(), below) << picture->GetWidth() << " wide, level " << level;
            below = png.size();
        }
    }
    const struct {
        const char *name;
        std::uint32_t type;
        std::function<void(CEncoderSettings &)> change;
    } rows[] = {
        {"WebP effort", CXIMAGE_FORMAT_WEBP, [](auto &s) { s.m_nWebpEffort = 0; }},
        {"AVIF speed", CXIMAGE_FORMAT_AVIF, [](auto &s) { s.m_nAvifSpeed = 10; }},
        {"JPEG XL effort", CXIMAGE_FORMAT_JXL, [](auto &s) { s.m_nJxlEffort = 1; }},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const Bytes changed = size(r.type, 80, r.change);
        ASSERT_FALSE(changed.empty());
        EXPECT_NE(changed, size(r.type, 80, [](auto &) {}));
        EXPECT_GT(Psnr(Decoded(changed), photo), 25.0);
    }
}
