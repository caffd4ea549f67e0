// What a run does with the metadata a photo brings: the job's strip options
// applied to a decoded picture, and to a plain copy.
#pragma once

#include "convert/convertjob.h"
#include "imaging/cximage.h"
#include "convert/filepreparer.h"

#include <string>

// Drops the blocks the job asks away (EXIF, XMP and IPTC, or only the GPS
// fields; the colour profile stays, it says what the pixels mean).
void ApplyMetadataOptions(CxImage &image, const CConvertJob &job);
void ApplyMetadataOptions(CxMetadata &meta, const CConvertJob &job);

// Whether a file of sourceType that the job would otherwise copy is encoded
// again since its metadata cannot be rewritten in place (AVIF, HEIC, JPEG
// XL) while the job sets tags or moves dates.
bool EncodedForMetadata(const CConvertJob &job, std::uint32_t sourceType);
// The line a run says that in, once.
extern const char *const kEncodedForMetadataNote;

// Pictures with a colour profile going to a format that cannot carry one
// are turned into sRGB, so they look the same without it.
void PrepareColour(CxImage &image, std::uint32_t outType);

// Whether a plain copy's metadata is rewritten: stripped, or tags set or
// dates moved.
bool CopyEditsMetadata(const CConvertJob &job);
// A JPEG, PNG, TIFF or WebP file's bytes with its metadata as the job has
// it (StrippedCopy's rewrite); false where it cannot be rewritten.
bool RewriteMetadata(const std::string &file, const CConvertJob &job, std::string &out);

// A plain copy of source with the metadata the job asks away removed and
// the tags it sets written, the pixels untouched: true with the file's new
// bytes in out, false when the job changes no metadata or the file's
// metadata cannot be rewritten (it must then be converted instead of
// copied: AVIF, HEIC and JPEG XL files).
bool StrippedCopy(const std::string &source, const CConvertJob &job, EncodedBytes &out);
