#include "imaging/formats.h"

#include "imaging/codecs/codecs.h"
#include "imaging/documentwriter.h"

#include <cstring>
#include <initializer_list>

namespace {

using cxcodec::DecodeRequest;

// An ISO base media file whose ftyp box names one of the brands, as its
// major brand or among the compatible ones.
bool HasBrand(const std::uint8_t *d, std::size_t n, std::initializer_list<const char *> brands)
{
    if (n < 16 || std::memcmp(d + 4, "ftyp", 4) != 0)
        return false;
    const std::size_t box = std::size_t(d[0]) << 24 | std::size_t(d[1]) << 16 | std::size_t(d[2]) << 8 | d[3];
    if (box < 16 || box > n || box > 4096)
        return false;
    for (std::size_t at = 8; at + 4 <= box; at += at == 8 ? 8 : 4)
        for (const char *brand : brands)
            if (std::memcmp(d + at, brand, 4) == 0)
                return true;
    return false;
}

// "P1" to "P7" and the whitespace or comment that must follow.
bool IsPnm(const std::uint8_t *d, std::size_t n)
{
    return n >= 3 && d[0] == 'P' && d[1] >= '1' && d[1] <= '7' &&
           (d[2] == ' ' || d[2] == '\t' || d[2] == '\n' || d[2] == '\r' || d[2] == '#');
}

std::uint32_t Le16(const std::uint8_t *d)
{
    return std::uint32_t(d[0]) | std::uint32_t(d[1]) << 8;
}

std::uint32_t Le32(const std::uint8_t *d)
{
    return Le16(d) | Le16(d + 2) << 16;
}

// A bitmap without its file header (a .dib, the clipboard's format): a
// header size BMP knows, then a picture of some size with one plane and a
// bit count BMP has. The size's three zero bytes keep every other format's
// files out: no magic number starts so, and a TGA would have image type 0.
bool IsDib(const std::uint8_t *d, std::size_t n)
{
    if (n < 16)
        return false;
    const std::uint32_t size = Le32(d);
    if (size == 12) {
        const std::uint32_t bits = Le16(d + 10);
        return Le16(d + 4) > 0 && Le16(d + 6) > 0 && Le16(d + 8) == 1 &&
               (bits == 1 || bits == 4 || bits == 8 || bits == 24);
    }
    if (size != 16 && size != 40 && size != 52 && size != 56 && size != 64 && size != 108 && size != 124)
        return false;
    const std::int64_t width = std::int32_t(Le32(d + 4)), height = std::int32_t(Le32(d + 8));
    const std::uint32_t bits = Le16(d + 14);
    return width > 0 && width <= CxImage::kMaxDimension && height != 0 && height >= -CxImage::kMaxDimension &&
           height <= CxImage::kMaxDimension && Le16(d + 12) == 1 &&
           (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

// An icon (type 1) or cursor (2) directory whose first entry points past the
// directory into the file: its six bytes alone also begin some TGA files.
bool IsIco(const std::uint8_t *d, std::size_t n)
{
    if (n < 22 || Le16(d) != 0 || (Le16(d + 2) != 1 && Le16(d + 2) != 2))
        return false;
    const std::size_t count = Le16(d + 4), directory = 6 + 16 * count;
    const std::size_t bytes = Le32(d + 14), offset = Le32(d + 18);
    return count > 0 && directory <= n && bytes > 0 && offset >= directory && offset < n;
}

// TGA has no magic number: a known image type with the colour map that type
// needs (and no other), a depth the type allows and a picture of some size.
// Text, and every format above, fails this at the colour map type.
bool IsTga(const std::uint8_t *d, std::size_t n)
{
    if (n < 18)
        return false;
    const int mapType = d[1], type = d[2], mapDepth = d[7], depth = d[16];
    const bool mapped = type == 1 || type == 9, grey = type == 3 || type == 11,
               colour = type == 2 || type == 10;
    if (!mapped && !grey && !colour)
        return false;
    if (mapped ? mapType != 1 || (mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)
               : mapType != 0 || Le16(d + 5) != 0)
        return false;
    const bool depthOk =
        colour ? depth == 15 || depth == 16 || depth == 24 || depth == 32 : depth == 8 || depth == 16;
    return depthOk && Le16(d + 12) > 0 && Le16(d + 14) > 0 && (d[17] & 0xC0) == 0;
}

constexpr ImageFormat kFormats[] = {
    {CXIMAGE_FORMAT_JPG,
     "JPG",
     {"jpg", "jpeg"},
     FORMAT_QUALITY | FORMAT_METADATA,
     [](const std::uint8_t *d, std::size_t n) {
         return n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF;
     },
     cxcodec::DecodeJpeg,
     cxcodec::EncodeJpeg,
     CXIMAGE_FORMAT_UNKNOWN,
     {.blocks = {BlockPlace::Segment, BlockPlace::Segment, BlockPlace::Segment, BlockPlace::Segment},
      .blockWriter = BlockWriter::Exiv2,
      .rowsIn = RowDecoding::ScaledRows,
      .rowsOut = true,
      .readsMapped = true,
      .pixels = OutputPixels::NoColourPalette,
      .showsQuality = true,
      .mimeTypes = {"image/jpeg"},
      .coefficients = Coefficients::Turned}},
    {CXIMAGE_FORMAT_BMP,
     "BMP",
     {"bmp", "dib"},
     FORMAT_PALETTE,
     [](const std::uint8_t *d, std::size_t n) {
         return (n >= 14 && d[0] == 'B' && d[1] == 'M') || IsDib(d, n);
     },
     cxcodec::DecodeBmp,
     [](const CxImage &img, CxFile &file, std::string *) { return cxcodec::EncodeBmp(img, file); },
     CXIMAGE_FORMAT_UNKNOWN,
     {.mimeTypes = {"image/bmp"}}},
    // PCX has no magic number: manufacturer 10, a known version, encoding 1
    // (runs) or 0 (plain lines) and a plausible depth. No TGA starts so: its
    // image type would be 0 or need a colour map type of 1.
    {CXIMAGE_FORMAT_PCX,
     "PCX",
     {"pcx"},
     FORMAT_PALETTE,
     [](const std::uint8_t *d, std::size_t n) {
         return n >= 128 && d[0] == 0x0A && (d[1] == 0 || d[1] == 2 || d[1] == 3 || d[1] == 4 || d[1] == 5) &&
                d[2] <= 1 && (d[3] == 1 || d[3] == 2 || d[3] == 4 || d[3] == 8);
     },
     cxcodec::DecodePcx,
     [](const CxImage &img, CxFile &file, std::string *) { return cxcodec::EncodePcx(img, file); },
     CXIMAGE_FORMAT_UNKNOWN,
     {.mimeTypes = {"image/vnd.zbrush.pcx"}}},
    // The comment and the loop count travel with an animation (CxImageGIF).
    {CXIMAGE_FORMAT_GIF,
     "GIF",
     {"gif"},
     FORMAT_TRANSPARENT_INDEX | FORMAT_PALETTE | FORMAT_ANIMATION | FORMAT_COMMENT,
     [](const std::uint8_t *d, std::size_t n) {
         return n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0);
     },
     [](const std::uint8_t *d, std::size_t n, CxImage &out, const DecodeRequest &req) {
         return cxcodec::DecodeGif(d, n, out, req);
     },
     [](const CxImage &img, CxFile &file, std::string *) { return cxcodec::EncodeGif(img, file); },
     CXIMAGE_FORMAT_UNKNOWN,
     {.frames = FrameCodec::GifComposer,
      .blocks = {.comment = BlockPlace::Extension},
      .pixels = OutputPixels::Palette,
      .mimeTypes = {"image/gif"}}},
    {CXIMAGE_FORMAT_PNG,
     "PNG",
     {"png"},
     FORMAT_ALPHA | FORMAT_TRANSPARENT_INDEX | FORMAT_PALETTE | FORMAT_METADATA,
     [](const std::uint8_t *d, std::size_t n) {
         return n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0;
     },
     cxcodec::DecodePng,
     [](const CxImage &img, CxFile &file, std::string *) { return cxcodec::EncodePng(img, file); },
     CXIMAGE_FORMAT_UNKNOWN,
     {.blocks = {BlockPlace::Chunk, BlockPlace::Chunk, BlockPlace::Chunk, BlockPlace::Chunk},
      .blockWriter = BlockWriter::Exiv2,
      .rowsIn = RowDecoding::FileRows,
      .rowsOut = true,
      .mimeTypes = {"image/png"}}},
    {CXIMAGE_FORMAT_TIF,
     "TIF",
     {"tif", "tiff"},
     FORMAT_ALPHA | FORMAT_PALETTE | FORMAT_METADATA,
     // A camera's raw file in TIFF form (DNG, NEF...) is the RAW row's.
     [](const std::uint8_t *d, std::size_t n) { return cxcodec::IsTiff(d, n) && !cxcodec::IsRawTiff(d, n); },
     cxcodec::DecodeTiff,
     [](const CxImage &img, CxFile &file, std::string *) { return cxcodec::EncodeTiff(img, file); },
     CXIMAGE_FORMAT_UNKNOWN,
     {.blocks = {BlockPlace::Ifd, BlockPlace::Ifd, BlockPlace::Ifd, BlockPlace::Ifd},
      .blockWriter = BlockWriter::Exiv2,
      .rowsIn = RowDecoding::FileRows,
      .rowsOut = true,
      .readsMapped = true,
      .showsQuality = true,
      .mimeTypes = {"image/tiff"}}},
    // Quality 100 writes lossless. No IPTC: the container has no chunk for it.
    {CXIMAGE_FORMAT_WEBP,
     "WEBP",
     {"webp"},
     FORMAT_ALPHA | FORMAT_ANIMATION | FORMAT_QUALITY | FORMAT_METADATA,
     [](const std::uint8_t *d, std::size_t n) {
         return n >= 12 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0;
     },
     cxcodec::DecodeWebp,
     cxcodec::EncodeWebp,
     CXIMAGE_FORMAT_UNKNOWN,
     {.frames = FrameCodec::WebpFrames,
      .blocks = {.exif = BlockPlace::Chunk, .xmp = BlockPlace::Chunk, .profile = BlockPlace::Chunk},
      .blockWriter = BlockWriter::Riff,
      .showsQuality = true,
      .mimeTypes = {"image/webp"}}},
    // Quality 100 writes lossless. EXIF, XMP and the profile are kept;
    // IPTC has no place in the file.
    {CXIMAGE_FORMAT_AVIF,
     "AVIF",
     {"avif"},
     FORMAT_ALPHA | FORMAT_QUALITY | FORMAT_METADATA,
     [](const std::uint8_t *d, std::size_t n) {
         return HasBrand(d, n, {"avif", "avis"});
     },
     cxcodec::DecodeAvif,
     cxcodec::EncodeAvif,
     CXIMAGE_FORMAT_UNKNOWN,
     {.blocks = {.exif = BlockPlace::Box, .xmp = BlockPlace::Box, .profile = BlockPlace::Box},
      .blockWriter = BlockWriter::Encoder,
      .showsQuality = true,
      .mimeTypes = {"image/avif"}}},
    // A bare codestream or the container's signature box. Quality 100
    // writes lossless; EXIF, XMP and the profile travel in its own boxes.
    {CXIMAGE_FORMAT_JXL,
     "JXL",
     {"jxl"},
     FORMAT_ALPHA | FORMAT_QUALITY | FORMAT_METADATA,
     [](const std::uint8_t *d, std::size_t n) {
         return (n >= 2 && d[0] == 0xFF && d[1] == 0x0A) ||
                (n >= 12 && std::memcmp(d, "\0\0\0\x0CJXL \r\n\x87\n", 12) == 0);
     },
     cxcodec::DecodeJxl,
     cxcodec::EncodeJxl,
     CXIMAGE_FORMAT_UNKNOWN,
     {.frames = FrameCodec::JxlWalker,
      .blocks = {.exif = BlockPlace::Box, .xmp = BlockPlace::Box, .profile = BlockPlace::Box},
      .blockWriter = BlockWriter::Encoder,
      .showsQuality = true,
      .mimeTypes = {"image/jxl"},
      .coefficients = Coefficients::CarryJpeg}},
    // Documents: each page read as a picture, rendered on white paper at the
    // size asked (see docs/formats.md), and "keep format" writes them as PNG;
    // written one page a picture (documentwriter.h). After the written rows
    // before it, so the window's stored list entries keep their meaning.
    {CXIMAGE_FORMAT_PDF,
     "PDF",
     {"pdf"},
     FORMAT_ALPHA,
     cxcodec::IsPdf,
     cxcodec::DecodePdf,
     EncodePdf,
     CXIMAGE_FORMAT_PNG,
     {.mimeTypes = {"application/pdf"}, .rendered = true, .pages = true}},
    // Written when asked for (PGM, PPM, or a PAM with alpha), as its rows
    // come; the last of the written rows, so the window's stored list
    // entries keep their meaning. Under "keep the original format" written
    // as PNG, as before it could be written: nothing is lost, alpha included.
    {CXIMAGE_FORMAT_PNM,
     "PNM",
     {"pnm", "pbm", "pgm", "ppm", "pam"},
     FORMAT_ALPHA,
     IsPnm,
     cxcodec::DecodePnm,
     [](const CxImage &img, CxFile &file, std::string *) { return cxcodec::EncodePnm(img, file); },
     CXIMAGE_FORMAT_PNG,
     {.rowsIn = RowDecoding::FileRows,
      .rowsOut = true,
      .readsMapped = true,
      .mimeTypes = {"image/x-portable-anymap", "image/x-portable-bitmap", "image/x-portable-graymap",
                    "image/x-portable-pixmap"}}},
    // Read only (see docs/formats.md). Checked after AVIF, whose files name the same
    // general brands.
    {CXIMAGE_FORMAT_HEIF,
     "HEIC",
     {"heic", "heif", "hif"},
     FORMAT_ALPHA | FORMAT_METADATA,
     [](const std::uint8_t *d, std::size_t n) {
         return HasBrand(d, n, {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"});
     },
     cxcodec::DecodeHeif,
     nullptr,
     CXIMAGE_FORMAT_JPG,
     {.blocks = {.exif = BlockPlace::Box, .xmp = BlockPlace::Box, .profile = BlockPlace::Box},
      .mimeTypes = {"image/heif", "image/heic"}}},
    {CXIMAGE_FORMAT_ICO,
     "ICO",
     {"ico", "cur"},
     FORMAT_ALPHA,
     IsIco,
     cxcodec::DecodeIco,
     nullptr,
     CXIMAGE_FORMAT_PNG,
     {.mimeTypes = {"image/vnd.microsoft.icon", "image/x-win-bitmap"}}},
    // Camera raw files through LibRaw, written as JPG: the sensor data
    // developed, or for a thumbnail the camera's own preview.
    {CXIMAGE_FORMAT_RAW,
     "RAW",
     {"raw", "cr2", "cr3", "crw", "nef", "nrw", "arw", "sr2", "srf", "dng", "raf", "orf", "rw2",
      "rwl", "pef", "srw", "3fr", "fff", "iiq", "erf", "kdc", "dcr", "k25", "mrw", "mos", "mef"},
     FORMAT_METADATA,
     cxcodec::IsCameraRaw,
     cxcodec::DecodeRaw,
     nullptr,
     CXIMAGE_FORMAT_JPG,
     // LibRaw's buffer stream bounds every read by the buffer's size, and
     // what it unpacks is sized by what it parsed once.
     {.blocks = {.exif = BlockPlace::Ifd},
      .readsMapped = true,
      .mimeTypes = {"image/x-canon-cr2", "image/x-canon-cr3", "image/x-canon-crw", "image/x-nikon-nef",
                    "image/x-nikon-nrw", "image/x-sony-arw", "image/x-sony-sr2", "image/x-sony-srf",
                    "image/x-adobe-dng", "image/x-fuji-raf", "image/x-olympus-orf", "image/x-panasonic-rw2",
                    "image/x-panasonic-rw", "image/x-pentax-pef", "image/x-kodak-kdc", "image/x-kodak-dcr",
                    "image/x-kodak-k25", "image/x-minolta-mrw", "image/x-dcraw"}}},
    // Drawings, rendered at the size asked (see docs/formats.md); written as
    // PNG, which keeps their transparency. A document whose root is <svg>,
    // or one gzip-compressed (SVGZ).
    {CXIMAGE_FORMAT_SVG,
     "SVG",
     {"svg", "svgz"},
     FORMAT_ALPHA,
     cxcodec::IsSvg,
     cxcodec::DecodeSvg,
     nullptr,
     CXIMAGE_FORMAT_PNG,
     {.mimeTypes = {"image/svg+xml", "image/svg+xml-compressed"}, .rendered = true}},
    // Last: its test is the loosest.
    {CXIMAGE_FORMAT_TGA,
     "TGA",
     {"tga"},
     FORMAT_ALPHA,
     IsTga,
     cxcodec::DecodeTga,
     nullptr,
     CXIMAGE_FORMAT_PNG,
     {.mimeTypes = {"image/x-tga"}}},
};

constexpr std::size_t CountWritable()
{
    std::size_t n = 0;
    while (n < std::size(kFormats) && kFormats[n].encode)
        ++n;
    return n;
}

// The list's entries keep their positions: read-only rows come last, each
// naming a written format to become. GCC cannot compare function addresses
// at compile time under AddressSanitizer.
#ifndef __SANITIZE_ADDRESS__
static_assert([] {
    for (std::size_t i = CountWritable(); i < std::size(kFormats); ++i) {
        bool target = false;
        for (std::size_t k = 0; k < CountWritable(); ++k)
            target |= kFormats[k].type == kFormats[i].writtenAs;
        if (kFormats[i].encode || !target)
            return false;
    }
    return true;
}());
#endif

// The flags and the facts tell the same: metadata where EXIF has a place,
// a comment where it has one, animations written only by a frame codec.
static_assert([] {
    for (const ImageFormat &f : kFormats)
        if (((f.caps & FORMAT_METADATA) != 0) != (f.facts.blocks.exif != BlockPlace::None) ||
            ((f.caps & FORMAT_COMMENT) != 0) != (f.facts.blocks.comment != BlockPlace::None) ||
            ((f.caps & FORMAT_ANIMATION) != 0 && f.facts.frames == FrameCodec::None) ||
            f.facts.mimeTypes[0].empty())
            return false;
    return true;
}());

} // namespace

std::span<const ImageFormat> ImageFormats()
{
    return kFormats;
}

std::span<const ImageFormat> OutputFormats()
{
    return {kFormats, CountWritable()};
}

const ImageFormat *FormatByType(std::uint32_t type)
{
    for (const ImageFormat &f : kFormats)
        if (type != CXIMAGE_FORMAT_UNKNOWN && f.type == type)
            return &f;
    return nullptr;
}

const ImageFormat *FormatByExtension(std::string_view ext)
{
    for (const ImageFormat &f : kFormats)
        for (std::string_view e : f.Extensions())
            if (e == ext)
                return &f;
    return nullptr;
}

std::uint32_t TypeFromExtension(std::string_view ext)
{
    const ImageFormat *f = FormatByExtension(ext);
    return f ? f->type : CXIMAGE_FORMAT_UNKNOWN;
}

std::uint32_t SourceTypeFromExtension(std::string_view ext)
{
    const ImageFormat *f = FormatByExtension(ext);
    return f && f->Readable() ? f->type : CXIMAGE_FORMAT_UNKNOWN;
}
