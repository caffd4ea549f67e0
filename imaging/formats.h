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

struct ImageFormat {
    std::uint32_t type;
    // In the window's format list and on --format (lower-cased); an output
    // whose format changes gets it as its extension.
    const char *name;
    std::array<std::string_view, 4> extensions; // lower case, unused ones empty
    unsigned caps;
    // The file's first bytes say it is of this format.
    bool (*detect)(const std::uint8_t *data, std::size_t size);
    bool (*decode)(const std::uint8_t *data, std::size_t size, CxImage &out,
                   const cxcodec::DecodeRequest &req);
    // why (when given) may receive the codec's own words on failure. Null
    // for a format that is only read.
    bool (*encode)(const CxImage &img, CxFile &file, std::string *why);
    // For a format only read: the format its files are written as under
    // "keep the original format" once they cannot stay a plain copy.
    std::uint32_t writtenAs = CXIMAGE_FORMAT_UNKNOWN;

    bool Writable() const { return encode != nullptr; }
    bool Has(unsigned cap) const { return (caps & cap) == cap; }
    std::span<const std::string_view> Extensions() const
    {
        std::size_t n = 0;
        while (n < extensions.size() && !extensions[n].empty())
            ++n;
        return {extensions.data(), n};
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
