#include "imaging/libraryversions.h"

#include <QtGlobal>

#include <avif/avif.h>
#include <cstdio>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <gif_lib.h>
#include <jxl/decode.h>
#include <lcms2.h>
#include <libdeflate.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <zlib.h>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION is the project version, set by CMake"
#endif

namespace {

std::string Dotted(unsigned major, unsigned minor, unsigned patch)
{
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

// "LIBTIFF, Version 4.5.0\nCopyright ...": the number alone.
std::string TiffVersion()
{
    const char *text = TIFFGetVersion();
    const char *at = text ? std::strstr(text, "Version ") : nullptr;
    if (!at)
        return text ? text : "";
    at += std::strlen("Version ");
    return std::string(at, std::strcspn(at, "\n"));
}

} // namespace

const char *VelmoraVersion()
{
    return VELMORA_VERSION;
}

std::vector<LibraryVersion> LibraryVersions()
{
    const unsigned webp = unsigned(WebPGetDecoderVersion());
    const unsigned jxl = JxlDecoderVersion();
    const unsigned lcms = unsigned(cmsGetEncodedCMMversion());
    return {
        {"libjpeg-turbo",
         Dotted(LIBJPEG_TURBO_VERSION_NUMBER / 1000000, LIBJPEG_TURBO_VERSION_NUMBER / 1000 % 1000,
                LIBJPEG_TURBO_VERSION_NUMBER % 1000)},
        {"libpng", png_get_libpng_ver(nullptr)},
        {"libtiff", TiffVersion()},
        {"giflib", Dotted(GIFLIB_MAJOR, GIFLIB_MINOR, GIFLIB_RELEASE)},
        {"libwebp", Dotted(webp >> 16, (webp >> 8) & 0xFF, webp & 0xFF)},
        {"libavif", avifVersion()},
        {"libheif", heif_get_version()},
        {"libjxl", Dotted(jxl / 1000000, jxl / 1000 % 1000, jxl % 1000)},
        {"exiv2", Exiv2::versionString()},
        // 2140 is 2.14.
        {"lcms2", std::to_string(lcms / 1000) + "." + std::to_string(lcms / 10 % 100)},
        {"zlib", zlibVersion()},
        {"libdeflate", LIBDEFLATE_VERSION_STRING},
        {"Qt", qVersion()},
    };
}

std::string VersionText(const char *program)
{
    std::string text = std::string(program) + " " + VelmoraVersion() + "\n";
    for (const LibraryVersion &library : LibraryVersions())
        text += std::string(library.name) + " " + library.version + "\n";
    return text;
}
