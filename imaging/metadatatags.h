// Tags a run writes into its outputs' metadata (artist, copyright, caption,
// keywords, rating) and the shot's dates moved by a fixed time, applied to
// a picture's blocks or to a file's own containers with exiv2.
#pragma once

#include "imaging/cxmetadata.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Exiv2 {
class ExifData;
class XmpData;
class IptcData;
} // namespace Exiv2

namespace cxmeta {

enum class Tag { Artist, Copyright, Caption, Keywords, Rating };

struct TagValue {
    Tag tag = Tag::Artist;
    std::string value; // UTF-8; keywords separated by ',' or ';'; a rating "0" to "5"
    bool operator==(const TagValue &) const = default;
};

struct TagEdits {
    std::vector<TagValue> values; // a later value of a tag replaces an earlier one
    bool ifEmpty = false;         // only tags the picture lacks are written
    std::int64_t shiftSeconds = 0;
    bool Any() const { return !values.empty() || shiftSeconds != 0; }
    bool operator==(const TagEdits &) const = default;
};

// The keywords of a value: split at ',' and ';', trimmed, empty ones and
// repeats left out.
std::vector<std::string> SplitKeywords(const std::string &value);

// "2024:05:06 07:08:09" moved by seconds; false when the text is no such
// date or the result leaves the years 1 to 9999.
bool ShiftExifDate(const std::string &text, std::int64_t seconds, std::string &out);
// An XMP date ("2024-05-06T07:08:09.5+02:00", "2024-05-06") moved the same
// way, its fraction and zone kept; a date without a time moves by whole days.
bool ShiftXmpDate(const std::string &text, std::int64_t seconds, std::string &out);

// Applies the edits to the containers given (null ones are left alone): the
// EXIF text tags only where the value is ASCII, as their type asks, keywords
// to XMP and IPTC (UTF-8, so marked). False when nothing changed.
bool ApplyTagEdits(Exiv2::ExifData *exif, Exiv2::XmpData *xmp, Exiv2::IptcData *iptc, const TagEdits &edits);

// The same on a picture's blocks, making those it lacks. A block exiv2
// cannot read is left as it is (an XMP packet it refuses keeps its bytes).
void EditTags(CxMetadata &meta, const TagEdits &edits);

} // namespace cxmeta
