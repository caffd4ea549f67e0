#include "tests/dng_maker.h"

#include <algorithm>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <tiffio.h>

namespace testsupport {

namespace {

constexpr std::uint16_t kBlack = 64, kWhite = 4095;

// XYZ (D65) to linear sRGB: as DNG's ColorMatrix1 it makes the camera's own
// space linear sRGB.
constexpr float kXyzToSrgb[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f,
                                 0.0415f, 0.0557f,  -0.2040f, 1.0570f};

std::uint16_t Sample(const DngPlan &s, int x, int y)
{
    const int rows = int((s.patches.size() + std::size_t(s.patchColumns) - 1) / std::size_t(s.patchColumns));
    const int px = x * s.patchColumns / s.width, py = y * rows / s.height;
    const std::size_t patch = std::size_t(py * s.patchColumns + px);
    const int colour = (y % 2) + (x % 2); // R G / G B
    const double v = patch < s.patches.size() ? s.patches[patch][std::size_t(colour)] : 0;
    return std::uint16_t(kBlack + std::lround(v * s.neutral[std::size_t(colour)] * (kWhite - kBlack)));
}

void DngTags(TIFF *tif, const DngPlan &s)
{
    static const std::uint8_t version[4] = {1, 4, 0, 0};
    TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
    TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, version);
    TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Velmora Test Camera");
    TIFFSetField(tif, TIFFTAG_MAKE, "Velmora");
    TIFFSetField(tif, TIFFTAG_MODEL, "Test Camera");
    TIFFSetField(tif, TIFFTAG_ORIENTATION, std::uint16_t(s.orientation));
    TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, kXyzToSrgb);
    TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, std::uint16_t(21)); // D65
    const float neutral[3] = {float(s.neutral[0]), float(s.neutral[1]), float(s.neutral[2])};
    TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
}

bool WriteMosaic(TIFF *tif, const DngPlan &s, bool sub)
{
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, std::uint32_t(0));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(s.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(s.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(16));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(1));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_CFA));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(s.height));
    static const std::uint16_t dim[2] = {2, 2};
    static const std::uint8_t pattern[4] = {0, 1, 1, 2};
    TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, dim);
    TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, pattern);
    const float black = kBlack;
    const std::uint32_t white = kWhite;
    TIFFSetField(tif, TIFFTAG_BLACKLEVEL, 1, &black);
    TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, &white);
    if (!sub)
        DngTags(tif, s);
    std::vector<std::uint16_t> row(std::size_t(s.width));
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x)
            row[std::size_t(x)] = Sample(s, x, y);
        if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) < 0)
            return false;
    }
    return TIFFWriteDirectory(tif) != 0;
}

bool WritePreview(TIFF *tif, const DngPlan &s)
{
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, std::uint32_t(FILETYPE_REDUCEDIMAGE));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(s.previewWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(s.previewHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(3));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(s.previewHeight));
    std::uint64_t sub = 0;
    TIFFSetField(tif, TIFFTAG_SUBIFD, 1, &sub);
    DngTags(tif, s);
    std::vector<std::uint8_t> row(std::size_t(s.previewWidth) * 3);
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = s.previewRgb[i % 3];
    for (int y = 0; y < s.previewHeight; ++y)
        if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) < 0)
            return false;
    return TIFFWriteDirectory(tif) != 0;
}

bool AddShotFacts(const std::string &path)
{
    try {
        auto image = Exiv2::ImageFactory::open(path);
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t(400);
        exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
        exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
        exif["Exif.Photo.FocalLength"] = Exiv2::URational(50, 1);
        exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
        exif["Exif.Photo.LensModel"] = "Velmora 50mm F2.8";
        exif["Exif.GPSInfo.GPSVersionID"] = "2 2 0 0";
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        exif["Exif.GPSInfo.GPSLatitude"] = "52/1 30/1 0/1";
        exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
        exif["Exif.GPSInfo.GPSLongitude"] = "13/1 24/1 0/1";
        image->writeMetadata();
        return true;
    } catch (...) {
        return false;
    }
}

// Offset of the entry for tag in the little-endian file's IFD0, or 0.
std::size_t Ifd0Entry(const std::vector<std::uint8_t> &d, std::uint16_t tag)
{
    const auto u16 = [&](std::size_t at) { return std::uint32_t(d[at]) | std::uint32_t(d[at + 1]) << 8; };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (d.size() < 8 || d[0] != 'I')
        return 0;
    const std::size_t ifd = u32(4);
    for (std::uint32_t i = 0; ifd + 2 <= d.size() && i < u16(ifd); ++i) {
        const std::size_t e = ifd + 2 + std::size_t(i) * 12;
        if (e + 12 <= d.size() && u16(e) == tag)
            return e;
    }
    return 0;
}

void PutValue(std::vector<std::uint8_t> &d, std::size_t entry, std::uint32_t v)
{
    const bool shortType = d[entry + 2] == 3;
    for (int i = 0; i < (shortType ? 2 : 4); ++i)
        d[entry + 8 + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

} // namespace

int SrgbByte(double linear)
{
    const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return int(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

bool WriteDng(const std::string &path, const DngPlan &plan)
{
    TIFF *tif = TIFFOpen(path.c_str(), "wl");
    if (!tif)
        return false;
    const bool preview = plan.previewWidth > 0 && plan.previewHeight > 0;
    const bool ok =
        preview ? WritePreview(tif, plan) && WriteMosaic(tif, plan, true) : WriteMosaic(tif, plan, false);
    TIFFClose(tif);
    return ok && (!plan.shotFacts || AddShotFacts(path));
}

std::vector<std::uint8_t> WithDeclaredSize(const std::vector<std::uint8_t> &dng, std::uint32_t width,
                                           std::uint32_t height)
{
    std::vector<std::uint8_t> d = dng;
    const std::size_t w = Ifd0Entry(d, 256), h = Ifd0Entry(d, 257);
    if (!w || !h)
        return {};
    PutValue(d, w, width);
    PutValue(d, h, height);
    return d;
}

std::vector<std::uint8_t> WithStripPastEnd(const std::vector<std::uint8_t> &dng, std::uint32_t short_)
{
    std::vector<std::uint8_t> d = dng;
    const std::size_t strip = Ifd0Entry(d, 273);
    if (!strip || short_ > d.size())
        return {};
    PutValue(d, strip, std::uint32_t(d.size() - short_));
    return d;
}

} // namespace testsupport
