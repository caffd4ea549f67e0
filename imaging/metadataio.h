// Metadata blocks edited and written with exiv2: what a converted picture
// carries into its output, and what a plain copy loses when asked. Damaged
// metadata never stops a picture: every function here gives false (leaving
// its output untouched) where exiv2 refuses the data.
#pragma once

#include "imaging/cxmetadata.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace cxmeta {

struct TagEdits;

// Sets exiv2 up (the XMP toolkit with a lock, warnings muted). Call before
// worker threads start; the other functions here call it too.
void Initialize();

// Held by whatever reads or writes XMP with exiv2 (see metadataio.cpp).
std::unique_lock<std::recursive_mutex> XmpToolkitLock();

// Whether outputs of the type carry metadata blocks (JPEG, PNG, TIFF, WebP;
// WebP has no place for IPTC).
bool Carries(std::uint32_t type);

// Removes the GPS fields from the EXIF and XMP blocks; an XMP packet that
// cannot be parsed goes whole. False when the EXIF cannot be read.
bool DropLocation(CxMetadata &meta);

// An encoded file of the type (data, size) with the blocks written in, the
// EXIF edited for the picture it now holds: orientation and pixel sizes set,
// the embedded thumbnail dropped, and its resolution set when dpi > 0.
bool Embed(const std::uint8_t *data, std::size_t size, const CxMetadata &meta, int width, int height,
           int orientation, std::string &out, int dpi = 0);

// Whether the type's encoder writes the blocks it is given itself (AVIF,
// JPEG XL),
// since exiv2 cannot write them into their files.
bool WrittenByEncoder(std::uint32_t type);

// The blocks edited as Embed edits them, for such an encoder: EXIF and XMP
// set for the picture, the profile kept, IPTC left out (no place for it).
// A block exiv2 refuses is left out.
CxMetadata EditedBlocks(const CxMetadata &meta, int width, int height, int orientation, int dpi = 0);

// A JPEG, PNG, TIFF or WebP file's bytes without its EXIF, XMP and IPTC (all) or
// without only the GPS fields; pixels and colour profile untouched. An
// orientation other than 1 stays, since the pixels are still stored turned.
bool StripFile(const std::string &file, bool all, std::string &out);

// What a rewritten copy loses: nothing, all its blocks, or the GPS fields.
enum class Strip { None, All, Location };
// StripFile's rewrite, the tags then edited in (after the strip), when edits
// is given. False where the file's metadata cannot be rewritten.
bool RewriteFile(const std::string &file, Strip strip, const TagEdits *edits, std::string &out);

// The EXIF DateTimeOriginal of a file as it is written ("2024:05:06
// 07:08:09"), read from its headers; empty when it has none.
std::string DateTimeOriginal(const std::string &path);

// What a camera tells of a shot where it keeps no EXIF block of its own
// (a raw file as LibRaw reads it). Empty texts and zero numbers are left out.
struct ShotFacts {
    std::string make, model, lens;
    std::string dateTimeOriginal; // "2024:05:06 07:08:09"
    double exposureSeconds = 0, fNumber = 0, focalLengthMm = 0;
    int iso = 0;
    bool hasGps = false;
    // Degrees, minutes, seconds; refs as EXIF writes them ('N', 'E'...).
    double latitude[3] = {}, longitude[3] = {};
    double altitudeM = 0;
    char latitudeRef = 'N', longitudeRef = 'E';
    bool belowSeaLevel = false;
};

// A TIFF-structured EXIF block holding the facts; empty when there are none.
std::string ExifFromFacts(const ShotFacts &facts);

} // namespace cxmeta
