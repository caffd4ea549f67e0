#include "imaging/encodersettings.h"

#include "imaging/formats.h"

bool CEncoderSettings::ChangesOutput(std::uint32_t type) const
{
    const CEncoderSettings d;
    switch (type) {
    case CXIMAGE_FORMAT_JPG:
        return m_nDpi != d.m_nDpi || m_bJpegProgressive != d.m_bJpegProgressive ||
               m_nJpegSubsampling != d.m_nJpegSubsampling;
    case CXIMAGE_FORMAT_PNG:
        return m_nDpi != d.m_nDpi || m_nPngLevel != d.m_nPngLevel;
    case CXIMAGE_FORMAT_TIF:
        return m_nDpi != d.m_nDpi || m_nTifCompression != d.m_nTifCompression;
    // Their DPI lives only in a carried EXIF block.
    case CXIMAGE_FORMAT_WEBP:
        return m_nDpi != d.m_nDpi || m_nWebpEffort != d.m_nWebpEffort || m_bWebpLossless != d.m_bWebpLossless;
    case CXIMAGE_FORMAT_AVIF:
        return m_nDpi != d.m_nDpi || m_nAvifSpeed != d.m_nAvifSpeed;
    case CXIMAGE_FORMAT_JXL:
        return m_nDpi != d.m_nDpi || m_nJxlEffort != d.m_nJxlEffort;
    default:
        return false;
    }
}
