// Cutting a picture down to a part of it and putting it on a larger canvas.
#include "imaging/cximage.h"

#include <cstring>

bool CxImage::Crop(long left, long top, long width, long height)
{
    if (!IsValid() || m_bandRows > 0) {
        SetError("no image");
        return false;
    }
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || left + width > m_width || top + height > m_height) {
        SetError("crop outside the image");
        return false;
    }
    if (left == 0 && top == 0 && width == m_width && height == m_height)
        return true;
    CxImage out;
    if (!out.CreateImage(int(width), int(height), m_bpp, m_type, false)) {
        m_lastError = out.m_lastError;
        return false;
    }
    out.m_palette = m_palette;
    out.m_transIndex = m_transIndex;
    out.m_transColor = m_transColor;
    out.m_transColorSet = m_transColorSet;
    const std::size_t pixel = m_bpp == 24 ? 3 : 1;
    for (long y = 0; y < height; ++y)
        std::memcpy(out.GetBits(int(y)), GetBits(int(top + y)) + std::size_t(left) * pixel,
                    std::size_t(width) * pixel);
    if (AlphaIsValid()) {
        if (!out.AlphaCreate()) {
            m_lastError = out.m_lastError;
            return false;
        }
        for (long y = 0; y < height; ++y)
            std::memcpy(out.AlphaGetPointer(int(y)), AlphaGetPointer(int(top + y)) + left, std::size_t(width));
    }
    TakePixels(std::move(out));
    return true;
}

bool CxImage::Expand(long width, long height, long left, long top, RGBQUAD canvas)
{
    if (!IsValid() || m_bandRows > 0) {
        SetError("no image");
        return false;
    }
    if (left < 0 || top < 0 || left + m_width > width || top + m_height > height) {
        SetError("the image does not fit the canvas");
        return false;
    }
    if (m_bpp != 24 && !IncreaseBpp(24))
        return false;
    CxImage out;
    if (!out.CreateImage(int(width), int(height), 24, m_type, false)) {
        m_lastError = out.m_lastError;
        return false;
    }
    for (int y = 0; y < out.m_height; ++y) {
        BYTE *d = out.GetBits(y);
        for (int x = 0; x < out.m_width; ++x, d += 3) {
            d[0] = canvas.rgbBlue;
            d[1] = canvas.rgbGreen;
            d[2] = canvas.rgbRed;
        }
    }
    for (int y = 0; y < m_height; ++y)
        std::memcpy(out.GetBits(int(top) + y) + std::size_t(left) * 3, GetBits(y), std::size_t(m_width) * 3);
    if (AlphaIsValid()) {
        if (!out.AlphaCreate()) {
            m_lastError = out.m_lastError;
            return false;
        }
        for (int y = 0; y < m_height; ++y)
            std::memcpy(out.AlphaGetPointer(int(top) + y) + left, AlphaGetPointer(y), std::size_t(m_width));
    }
    out.m_transColor = m_transColor;
    out.m_transColorSet = m_transColorSet;
    TakePixels(std::move(out));
    return true;
}
