// What a file's headers say of its picture, read before (and without)
// decoding any pixel, so a caller can plan the decode: the size and
// orientation as stored, how many frames, whether a colour profile comes
// with it. Each format's own library reads its headers; a format without
// such a reader is decoded whole to answer.
#pragma once

#include "imaging/formats.h"

#include <cstddef>
#include <cstdint>

struct ImageHeader {
    std::uint32_t type = CXIMAGE_FORMAT_UNKNOWN; // from the bytes, as Load sees them
    int width = 0;                               // as stored, before the orientation is applied
    int height = 0;
    int orientation = 1; // 1 to 8 as in EXIF
    int frames = 0;
    bool hasProfile = false;

    // The size once turned upright.
    int UprightWidth() const { return orientation >= 5 ? height : width; }
    int UprightHeight() const { return orientation >= 5 ? width : height; }
};

// False when the file cannot be read or is no picture this program knows.
bool ProbeImageHeader(const char *filename, ImageHeader &header);
bool ProbeImageHeader(const std::uint8_t *data, std::size_t size, ImageHeader &header);

// Whether a JPEG's segments run whole from its start to its end marker,
// with at least one scan between: a file cut short or garbled between its
// markers fails. Nothing is decoded.
bool JpegRunsWhole(const std::uint8_t *data, std::size_t size);

// The type the file's first bytes say, as Load would find it, reading no
// more than those: for a plan that needs no more of the headers. 0 when the
// file cannot be read or its bytes name no format (a format recognised only
// further in may also read as 0).
std::uint32_t ProbeImageType(const char *filename);

// The pages a list entry of the file may be: a PDF's (0 when locked,
// damaged or unreadable), a TIFF's directories (at most 10000), 1 for any
// other picture, 0 for what cannot be read.
int CountPages(const char *filename);

// Whether the file's bytes are a drawing (SVG, PDF), which only our own reader
// may open: Qt's image plugin for it would parse the document unexamined,
// loading the files it names. width and height then get its own size (0, 0
// when it is refused).
bool IsDrawingFile(const char *filename, int &width, int &height);
