// Colour profiles with Little CMS: pictures whose file carries a profile are
// turned into sRGB where the output or the screen cannot carry or honour it.
#pragma once

#include <cstdint>
#include <string>

class CxImage;

namespace cxcolour {

// Whether an ICC profile describes sRGB (its description says so) or is not
// a usable RGB profile; such pictures need no conversion.
bool IsSrgbOrUnusable(const std::string &icc);

// Whether a profile can describe the decoded pixels (RGB or grey); a CMYK
// or Lab profile no longer does once the picture is RGB.
bool DescribesDecodedPixels(const std::string &icc);

// Converts the colour (or palette) of a picture carrying a non-sRGB RGB
// profile into sRGB and drops the profile. True when the picture is in sRGB
// afterwards or nothing could be done (no profile, grey, damaged profile).
bool ToSrgb(CxImage &img);

// Converts CMYK rows through a CMYK profile: a transform made once per
// picture, null when the profile is not a CMYK one. inverted: the rows hold
// 255 for no ink (Adobe's files).
void *MakeCmykTransform(const std::string &icc, bool inverted);
void CmykToBgr(void *transform, const std::uint8_t *cmyk, std::uint8_t *bgr, int width);
void FreeTransform(void *transform);

} // namespace cxcolour
