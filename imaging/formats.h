// The formats the program reads and writes, one row each: its type code, its
// extensions, its name and what its files can carry, with its codec's entry
// points. Everything that needs to know a format asks here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class CxImage;
class CxFile;
namespace cxcodec {
struct DecodeRequest;
}

// Image type codes shared by the whole program.
enum : std::uint32_t {
    CXIMAGE_FORMAT_UNKNOWN = 0,
    CXIMAGE_FORMAT_BMP = 1,
    CXIMAGE_FORMAT_GIF = 2,
    CXIMAGE_FORMAT_JPG = 3,
    CXIMAGE_FORMAT_PNG = 4,
    CXIMAGE_FORMAT_TIF = 5,
    CXIMAGE_FORMAT_PCX = 6,
    CXIMAGE_FORMAT_WEBP = 7,
    CXIMAGE_FORMAT_AVIF = 8,
    CXIMAGE_FORMAT_JXL = 9,
    CXIMAGE_FORMAT_HEIF = 10,
    CXIMAGE_FORMAT_PNM = 11,
    CXIMAGE_FORMAT_ICO = 12,
    CXIMAGE_FORMAT_TGA = 13,
    CXIMAGE_FORMAT_RAW = 14,
    CXIMAGE_FORMAT_SVG = 15,
    CXIMAGE_FORMAT_PDF = 16,
};

// What a format's output keeps of a picture.
enum FormatCaps : unsigned {
    FORMAT_ALPHA = 1u << 0,             // an 8-bit alpha plane
    FORMAT_TRANSPARENT_INDEX = 1u << 1, // a paletted image's transparent entry
    FORMAT_PALETTE = 1u << 2,           // paletted pixels with their colour table
    FORMAT_ANIMATION = 1u << 3,         // several frames with their delays
    FORMAT_QUALITY = 1u << 4,           // a lossy quality setting
    FORMAT_METADATA = 1u << 5,          // EXIF, XMP, IPTC and a colour profile
    FORMAT_COMMENT = 1u << 6,           // a text comment and a loop count
};

// How a format's files hold several frames: the reader that walks them, and
// for a format with FORMAT_ANIMATION the writer that keeps them.
enum class FrameCodec : std::uint8_t {
    None,        // the first frame only
    GifComposer, // each frame composed on the canvas by its disposal
    WebpFrames,  // libwebp's demuxer, the same canvas model
    JxlWalker,   // each frame decoded whole by libjxl
};

// Where a format's files keep one metadata block.
enum class BlockPlace : std::uint8_t {
    None,
    Segment,   // a JPEG APPn segment
    Chunk,     // a PNG or RIFF chunk
    Ifd,       // a tag of a TIFF file's own directory
    Box,       // an ISO or JPEG XL box
    Extension, // a GIF extension block
};

struct BlockPlaces {
    BlockPlace exif = BlockPlace::None;
    BlockPlace xmp = BlockPlace::None;
    BlockPlace iptc = BlockPlace::None;
    BlockPlace profile = BlockPlace::None;
    BlockPlace comment = BlockPlace::None;
};

// Who puts the blocks into a file being written.
enum class BlockWriter : std::uint8_t {
    None,    // the format keeps none, or is only read
    Exiv2,   // exiv2, into the encoded file
    Riff,    // our own chunk writer, into the encoded WebP
    Encoder, // the encoder itself, beside the pixels (exiv2 cannot write these files)
};

// Whether a decoder hands its rows over one by one as it reads.
enum class RowDecoding : std::uint8_t {
    Whole,      // only the whole picture
    FileRows,   // in order, at the file's own size (PNG, TIFF, PNM)
    ScaledRows, // in order, maybe reduced as they are read, grey rows with the identity palette (JPEG)
};

// What pixels the writer must be handed.
enum class OutputPixels : std::uint8_t {
    AsTheyAre,
    NoColourPalette, // a paletted colour picture is widened to 24 bits, grey stays 8 bits
    Palette,         // reduced to a palette of at most 256 colours by the octree quantizer
};

// What its files' DCT coefficients allow without decoding them.
enum class Coefficients : std::uint8_t {
    None,
    Turned,     // turned and mirrored losslessly (JPEG)
    CarryJpeg,  // a JPEG's carried, and that JPEG given back (JPEG XL)
};

// What a row tells those who read, write or offer its files.
struct FormatFacts {
    FrameCodec frames = FrameCodec::None;
    BlockPlaces blocks = {};
    BlockWriter blockWriter = BlockWriter::None;
    RowDecoding rowsIn = RowDecoding::Whole;
    // The encoder takes a band's rows in order as they arrive.
    bool rowsOut = false;
    // Its reader keeps within the bytes' bounds even if they change under it,
    // so a large file may be mapped rather than copied.
    bool readsMapped = false;
    OutputPixels pixels = OutputPixels::AsTheyAre;
    // The window's quality box opens for it: the lossy formats, and TIF,
    // where it always has though nothing reads it.
    bool showsQuality = false;
    // Lower case, unused ones empty: the desktop entry offers the program
    // for exactly these.
    std::array<std::string_view, 20> mimeTypes = {};
    Coefficients coefficients = Coefficients::None;
    // Its files are drawings, rendered at a DPI a job may choose
    // (CConvertJob::m_nRenderDpi): one chosen is a change of the pixels.
    bool rendered = false;
    // Its files are documents of pages (PDF), each page a picture: never a
    // plain copy.
    bool pages = false;
};

struct ImageFormat {
    std::uint32_t type;
    // In the window's format list and on --format (lower-cased); an output
    // whose format changes gets it as its extension.
    const char *name;
    std::array<std::string_view, 28> extensions; // lower case, unused ones empty
    unsigned caps;
    // The file's first bytes say it is of this format.
    bool (*detect)(const std::uint8_t *data, std::size_t size);
    bool (*decode)(const std::uint8_t *data, std::size_t size, CxImage &out,
                   const cxcodec::DecodeRequest &req);
    // why (when given) may receive the codec's own words on failure. Null
    // for a format that is only read.
    bool (*encode)(const CxImage &img, CxFile &file, std::string *why);
    // For a format only read (and for PDF's pages and PNM, written only when
    // asked for): the format its files are written as under "keep the
    // original format" once they cannot stay a plain copy.
    std::uint32_t writtenAs = CXIMAGE_FORMAT_UNKNOWN;
    // What callers switch on besides the flags.
    FormatFacts facts = {};

    bool Writable() const { return encode != nullptr; }
    // A format only written (PDF) has no reader: its files are no sources.
    bool Readable() const { return decode != nullptr; }
    bool Has(unsigned cap) const { return (caps & cap) == cap; }
    std::span<const std::string_view> Extensions() const { return Filled(extensions); }
    std::span<const std::string_view> MimeTypes() const { return Filled(facts.mimeTypes); }
    // Whether the type can hold frames that OpenFrameReader walks.
    bool WalksFrames() const { return facts.frames != FrameCodec::None; }

private:
    template <std::size_t N>
    static std::span<const std::string_view> Filled(const std::array<std::string_view, N> &list)
    {
        std::size_t n = 0;
        while (n < list.size() && !list[n].empty())
            ++n;
        return {list.data(), n};
    }
};

// Every format: first those written, in the order of the window's format
// list, then those only read.
std::span<const ImageFormat> ImageFormats();

// The formats written, in the order of the window's format list (its entry k
// is OutputFormats()[k - 1]) and of --format.
std::span<const ImageFormat> OutputFormats();

// The row of a type code; null for 0 or an unknown code.
const ImageFormat *FormatByType(std::uint32_t type);

// The row of an extension already in lower case, compared exactly; null for
// anything else.
const ImageFormat *FormatByExtension(std::string_view ext);

// Type code of an extension already in lower case, compared exactly; 0 for
// anything else.
std::uint32_t TypeFromExtension(std::string_view ext);

// The same for a source: 0 for a format only written.
std::uint32_t SourceTypeFromExtension(std::string_view ext);
