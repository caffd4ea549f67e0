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

// Pictures with a colour profile going to a format that cannot carry one
// are turned into sRGB, so they look the same without it.
void PrepareColour(CxImage &image, std::uint32_t outType);

// A plain copy of source with the metadata the job asks away removed, the
// pixels untouched: true with the file's new bytes in out, false when the
// job strips nothing or the file's metadata cannot be rewritten (it must
// then be converted instead of copied).
bool StrippedCopy(const std::string &source, const CConvertJob &job, EncodedBytes &out);
