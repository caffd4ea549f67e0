// Checks shared by the fuzz targets: a decoded picture must keep every rule
// of the picture model, and an image written by one of our encoders must
// read back as the same picture. A broken rule aborts, which the fuzzer
// reports as a crash.
#pragma once

#include "imaging/codecs/codecs.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fuzzcheck {

inline void Require(bool ok)
{
    if (!ok)
        std::abort();
}

inline void CheckPicture(const CxImage &img)
{
    Require(img.IsValid());
    const int w = img.GetWidth(), h = img.GetHeight(), bpp = img.GetBpp();
    Require(w > 0 && h > 0 && w <= CxImage::kMaxDimension && h <= CxImage::kMaxDimension);
    Require(std::int64_t(w) * h <= CxImage::kMaxPixels);
    Require(img.GetEffWidth() % 4 == 0);
    Require(img.GetBits(0) != nullptr && img.GetBits(h - 1) != nullptr);
    if (bpp == 24) {
        Require(img.GetNumColors() == 0 && img.GetEffWidth() >= 3 * w);
        Require(img.GetTransIndex() < 0);
        Require(!img.AlphaIsValid() || img.AlphaGetPointer(h - 1) != nullptr);
        return;
    }
    Require(bpp == 1 || bpp == 4 || bpp == 8);
    const int colors = img.GetNumColors();
    Require(colors >= 1 && colors <= (1 << bpp) && img.GetEffWidth() >= w);
    Require(!img.AlphaIsValid());
    Require(img.GetTransIndex() < colors);
    for (int y = 0; y < h; ++y) {
        const BYTE *row = img.GetBits(y);
        for (int x = 0; x < w; ++x)
            Require(row[x] < colors);
    }
}

// Colour of a pixel as our writers store it: transparency onto white.
inline RGBQUAD OnWhite(const CxImage &img, int x, int y)
{
    const RGBQUAD c = img.GetPixelColor(x, y);
    const int a = c.rgbReserved;
    auto blend = [a](int v) { return BYTE((v * a + 255 * (255 - a) + 127) / 255); };
    return RGBQUAD{blend(c.rgbBlue), blend(c.rgbGreen), blend(c.rgbRed), 255};
}

// Writes the picture with `encode`, reads it back with `decode` and
// requires the same pixels (paletted pictures also keep their indices).
// Pictures wider than the format can describe may be refused.
template <typename Encode, typename Decode>
void CheckRoundTrip(const CxImage &img, Encode encode, Decode decode, int maxWidth)
{
    if (std::int64_t(img.GetWidth()) * img.GetHeight() > (1 << 20))
        return;  // big pictures cost time without finding more
    CxMemFile mem;
    Require(mem.Open());
    if (!encode(img, mem)) {
        Require(img.GetWidth() > maxWidth);
        return;
    }
    CxImage back;
    Require(decode(mem.GetBuffer(false), std::size_t(mem.Size()), back, cxcodec::DecodeRequest{}));
    CheckPicture(back);
    Require(back.GetWidth() == img.GetWidth() && back.GetHeight() == img.GetHeight());
    Require((back.GetBpp() == 24) == (img.GetBpp() == 24));
    for (int y = 0; y < img.GetHeight(); ++y)
        for (int x = 0; x < img.GetWidth(); ++x) {
            Require(OnWhite(back, x, y) == OnWhite(img, x, y) ||
                    (img.GetBpp() != 24 && img.GetPixelIndex(x, y) == img.GetTransIndex()));
            if (img.GetBpp() != 24)
                Require(back.GetPixelIndex(x, y) == img.GetPixelIndex(x, y));
        }
}

// A reader of a format only read: what it accepts must keep every rule and
// survive the PNG write it gets as an output, read back unchanged.
template <typename Decode>
int CheckReadOnlyFormat(Decode decode, const std::uint8_t *data, std::size_t size)
{
    CxImage img;
    if (!decode(data, size, img, cxcodec::DecodeRequest{}))
        return 0;
    CheckPicture(img);
    CheckRoundTrip(img, cxcodec::EncodePng,
                   [](const std::uint8_t *d, std::size_t n, CxImage &out, const cxcodec::DecodeRequest &req) {
                       return cxcodec::DecodePng(d, n, out, req);
                   },
                   CxImage::kMaxDimension);
    return 0;
}

}  // namespace fuzzcheck
