// Metadata a picture brings from its file, kept as the file's own bytes so
// that a picture nobody asks about pays nothing to carry it. Decoders fill
// it (JPEG APP1/APP2/APP13, PNG eXIf/iTXt/iCCP, TIFF tags); CxImage::Encode
// writes what the output format can carry, edited for the output by
// metadataio.h. Empty blocks are absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct CxMetadata {
    std::string exif; // TIFF-structured EXIF block ("II*\0" or "MM\0*" first)
    std::string xmp;  // XMP packet
    std::string iptc; // IPTC-IIM datasets
    std::string icc;  // ICC colour profile
    bool Empty() const { return exif.empty() && xmp.empty() && iptc.empty() && icc.empty(); }
};

namespace cxmeta {

// The Orientation tag (274) of IFD0 in a TIFF-structured EXIF block, one
// value of any integer type: 1 to 8, or 1 when absent or damaged. Reads
// nothing past the block.
int ExifOrientation(const std::uint8_t *data, std::size_t size);
inline int ExifOrientation(const std::string &exif)
{
    return ExifOrientation(reinterpret_cast<const std::uint8_t *>(exif.data()), exif.size());
}

// Edits a TIFF-structured EXIF block for a picture of width x height shown
// with the given orientation, where its values stand: the Orientation and
// pixel-size entries that are present take the new values, and the
// thumbnail IFD is unlinked and cut off the end of the block. Everything
// else, maker notes included, keeps its bytes and place. False, leaving exif
// as it was, when that is not enough (an orientation other than 1 to add, a
// value too small for the new one, a thumbnail amid other data, structures
// it does not follow) or the block is damaged: the caller then rebuilds it.
bool EditExifInPlace(std::string &exif, int width, int height, int orientation);

// The TIFF-structured EXIF block of an AVIF or HEIF Exif item, which starts
// with a 4-byte big-endian offset to the TIFF header (often after
// "Exif\0\0"); a block that already starts with the header is taken as it
// is. Empty when no header is found.
std::string ExifFromBmff(const std::uint8_t *data, std::size_t size);

// The IPTC-IIM datasets inside a Photoshop resource block (JPEG APP13 after
// its "Photoshop 3.0" name), empty when there are none.
std::string IptcFromPhotoshop(const std::uint8_t *data, std::size_t size);

// The EXIF block of a PNG text chunk "Raw profile type exif" (or "APP1"),
// as ImageMagick and exiv2 write it: a name line, a length line, then the
// bytes in hex, perhaps behind "Exif\0\0". Empty when damaged.
std::string ExifFromRawProfile(const char *text, std::size_t size);

} // namespace cxmeta
