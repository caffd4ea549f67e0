// Per-format readers of a file's headers for ProbeImageHeader
// (imaging/imageheader.h). Each fills width, height, orientation, frames and
// hasProfile as a whole decode would report them, reading no pixel data;
// false when its headers are damaged.
#pragma once

#include "imaging/imageheader.h"

#include <cstddef>
#include <cstdint>

namespace cxprobe {

bool ProbeJpeg(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbePng(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeGif(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeWebp(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeTiff(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeAvif(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeHeif(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeJxl(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeBmp(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbePcx(const std::uint8_t *data, std::size_t size, ImageHeader &h);
bool ProbeRaw(const std::uint8_t *data, std::size_t size, ImageHeader &h);
// The drawing's own size at 96 dpi, the document examined as a decode does.
bool ProbeSvg(const std::uint8_t *data, std::size_t size, ImageHeader &h);
// The first page's size at the default DPI.
bool ProbePdf(const std::uint8_t *data, std::size_t size, ImageHeader &h);

} // namespace cxprobe
