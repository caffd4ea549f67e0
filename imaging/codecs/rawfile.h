// What the raw codec and its header probe share: LibRaw opened over a file's
// bytes within the program's limits.
#pragma once

#include <cstddef>
#include <cstdint>

class LibRaw;

namespace cxraw {

// LibRaw's raw buffer may take at most this much; the sensor's size is
// checked against the picture limits before it is unpacked.
constexpr unsigned kMaxRawMemoryMb = 1024;

// Sets the bounds on a fresh LibRaw.
void Bound(LibRaw &raw);

// Reads the headers (nothing unpacked) and checks the sizes: null when
// opened, else why not. orientation gets LibRaw's flip as EXIF counts it.
const char *Open(LibRaw &raw, const std::uint8_t *data, std::size_t size, int &orientation);

// LibRaw's flip (bit 0 mirrors columns, bit 1 rows, bit 2 swaps them, as
// dcraw applies them) as an EXIF orientation.
int OrientationOfFlip(int flip);

} // namespace cxraw
