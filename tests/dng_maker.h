// Small DNG files written with libtiff for the camera raw tests: a Bayer
// mosaic (RGGB) of colour patches whose camera space is linear sRGB, so a
// developed patch is its colour through the sRGB curve.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct DngPlan {
    int width = 96;
    int height = 64;
    // Linear sRGB colours, laid out left to right, top to bottom, in a grid
    // of patchColumns; the brightest should be white, which fixes LibRaw's
    // automatic brightness at 1.
    std::vector<std::array<double, 3>> patches = {{1, 1, 1},         {0.2, 0.2, 0.2},   {0.5, 0.05, 0.05},
                                                  {0.05, 0.4, 0.05}, {0.05, 0.05, 0.5}, {0.02, 0.02, 0.02}};
    int patchColumns = 3;
    // The camera's response to white, as AsShotNeutral says it.
    std::array<double, 3> neutral = {0.5, 1, 0.8};
    int orientation = 1;
    // An 8-bit RGB preview of one colour in IFD0 (the mosaic then in a sub
    // directory) when its size is given.
    int previewWidth = 0;
    int previewHeight = 0;
    std::array<std::uint8_t, 3> previewRgb = {255, 0, 255};
    // ISO, exposure, aperture, focal length, lens, date and GPS, written with
    // exiv2 into the EXIF directory.
    bool shotFacts = false;
};

// The 8-bit sRGB value LibRaw should develop a linear value to.
int SrgbByte(double linear);

// Writes the file; false when libtiff or exiv2 refuses.
bool WriteDng(const std::string &path, const DngPlan &plan = {});

// The file's bytes with the mosaic directory's ImageWidth and ImageLength
// made width x height (the samples left as they are); empty when not found.
std::vector<std::uint8_t> WithDeclaredSize(const std::vector<std::uint8_t> &dng, std::uint32_t width,
                                           std::uint32_t height);

// The file's bytes with the mosaic's strip moved to start `short_` bytes
// before the end, so its samples run past the end of the file.
std::vector<std::uint8_t> WithStripPastEnd(const std::vector<std::uint8_t> &dng, std::uint32_t short_);

} // namespace testsupport
