// Plain records shared by the imaging layer and its callers: colours, palette
// entries and the logical-font record, in the forms the rest of the program
// stores them.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using DWORD = std::uint32_t;
using COLORREF = std::uint32_t;  // 0x00BBGGRR

constexpr COLORREF RGB(int r, int g, int b)
{
    return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c) { return int(c & 0xFF); }
constexpr int GetGValue(COLORREF c) { return int((c >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF c) { return int((c >> 16) & 0xFF); }

// One palette entry, in the byte order of a bitmap palette. rgbReserved is
// carried along but is never an alpha value: transparency of a paletted image
// is its transparent index (see CxImage).
struct RGBQUAD {
    BYTE rgbBlue = 0;
    BYTE rgbGreen = 0;
    BYTE rgbRed = 0;
    BYTE rgbReserved = 0;
    friend bool operator==(const RGBQUAD &, const RGBQUAD &) = default;
};

constexpr int LF_FACESIZE = 32;

// Logical font: the stored watermark font. Heights follow the usual rule:
// negative = character (em) height in pixels, positive = cell height,
// 0 = a default size. Escapement is in tenths of a degree, counter-clockwise.
struct LOGFONT {
    std::int32_t lfHeight = -16;
    std::int32_t lfWidth = 0;
    std::int32_t lfEscapement = 0;
    std::int32_t lfOrientation = 0;
    std::int32_t lfWeight = 400;
    BYTE lfItalic = 0;
    BYTE lfUnderline = 0;
    BYTE lfStrikeOut = 0;
    BYTE lfCharSet = 0;
    BYTE lfOutPrecision = 0;
    BYTE lfClipPrecision = 0;
    BYTE lfQuality = 0;
    BYTE lfPitchAndFamily = 0;
    char lfFaceName[LF_FACESIZE] = {};  // UTF-8, always NUL-terminated

    // Copies a face name, cutting it between characters so it always fits.
    void SetFaceName(const char *name);
};

// Raster operation of Stretch; only a plain copy exists.
constexpr DWORD SRCCOPY = 0x00CC0020;
