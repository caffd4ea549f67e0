// What the imaging library counts about its own work, for its tests: not
// part of the codec interface, and nothing in the program reads it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cxcodec::testhooks {

// Whether a progressive JPEG decoded at 1/8 scale leaves out the AC scans it
// needs not (the default).
void SetJpegTrimScans(bool on);
// Whether a progressive JPEG's AC scans are read by the program's own code
// (the default) or by libjpeg's.
void SetJpegOwnAcScans(bool on);
// Whether that code uses the pdep instruction where the processor runs it
// fast (the default), or the way for other processors.
void SetJpegPdep(bool on);

// How many coefficient files JPEG encodes and turns have made so far.
int JpegCoefficientFiles();
// Whether every JPEG turned on its coefficients keeps them on disk (as one
// too large to hold does), or only those too large (the default).
void SetJpegTurnsOnDisk(bool always);

// How many JPEG decodes so far shared their work with a helper thread, made
// their coefficients a row at a time, or were begun again by libjpeg alone
// when that found damaged data.
int JpegDecodesWithHelper();
int JpegDecodesByRow();
int JpegDecodesRedone();

// The most a JPEG XL decode held through its memory manager, the last one
// to finish on any thread.
std::size_t JxlDecodePeakBytes();
// Replaces the JPEG XL decoders' memory cap (0: derived from the picture's
// size again).
void SetJxlMemoryCap(std::size_t bytes);

// Whether 8-bit RGB and RGBA PNG rows are read by the program's own code
// (the default) or by libpng's.
void SetPngOwnRows(bool on);
// Whether those rows' data may be inflated whole, by libdeflate (the
// default), or always row by row by zlib; and how often it was.
void SetPngWholeInflate(bool on);
// Row by row, ISA-L inflates while the data is sound (on by default), or zlib alone.
void SetPngFastInflate(bool on);
int PngWholeInflates();

// The estimated size from which a TIFF is written as BigTIFF (0: 4 GB, the
// classic form's reach).
void SetBigTiffFrom(std::uint64_t bytes);

// Whether resampling uses 256-bit vectors where the processor has them (the
// default) or the 128-bit ones every x86-64 processor has.
void SetResampleAvx2(bool on);
// Whether the tone steps' channel tables are looked up 64 bytes at a time
// where the processor can (the default), or a byte at a time.
void SetToneVectors(bool on);

} // namespace cxcodec::testhooks
