// What is done to a JPEG's DCT coefficients without decoding them: turning
// the picture (libjpeg-turbo's lossless transforms) and carrying them into a
// JPEG XL file that gives the very JPEG back (libjxl's reconstruction data).
#pragma once

#include "imaging/cxmetadata.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace cxlossless {

// Turns of a picture's stored grid, numbered as the EXIF orientation whose
// picture they make upright: 1 none, 2 mirror, 3 180 degrees, 4 flip,
// 5 transpose, 6 90 degrees clockwise, 7 transverse, 8 90 degrees
// anticlockwise.
// The turn that does first and then then; 1 for a value outside 1 to 8.
int ComposeTurns(int first, int then);

// The blocks a JPEG is coded in, read from its header.
struct JpegLayout {
    int width = 0, height = 0;
    int mcuWidth = 0, mcuHeight = 0;
};
// False when the header cannot be read or names a block shape the
// transforms do not know.
bool ReadJpegLayout(const std::uint8_t *data, std::size_t size, JpegLayout &layout);
// Whether the turn leaves no partial block at an edge that it moves.
bool TurnsWhole(const JpegLayout &layout, int turn);

// The JPEG turned; with trim the partial blocks at edges the turn moves are
// dropped, as jpegtran -trim does, else a picture with such blocks is
// refused. No marker segment is copied. width and height get the output's
// size; reason says why on failure. A picture too large to hold keeps its
// coefficients in an unnamed file in scratchFolder (else the system's
// temporary folder) while it is turned, not in memory.
bool TurnJpeg(const std::uint8_t *data, std::size_t size, int turn, bool trim, std::string &out, int &width,
              int &height, std::string &reason, const std::string &scratchFolder = {});

// The metadata blocks of a JPEG as its decoder keeps them.
bool ReadJpegMetadata(const std::uint8_t *data, std::size_t size, CxMetadata &meta);

// A JPEG XL file holding the JPEG's coefficients and what is needed to write
// the same JPEG again, byte for byte (its EXIF and XMP also as boxes).
bool JpegToJxl(const std::uint8_t *data, std::size_t size, std::string &out, std::string &reason);
// The JPEG a JPEG XL file was made from; false when the file holds none
// (it was encoded from pixels) or cannot be read.
bool JxlToJpeg(const std::uint8_t *data, std::size_t size, std::string &out);

} // namespace cxlossless
