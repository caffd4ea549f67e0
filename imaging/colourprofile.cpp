#include "imaging/colourprofile.h"

#include "imaging/cximage.h"

#include <lcms2.h>

#include <cstring>
#include <memory>

namespace {

struct ProfileCloser {
    void operator()(void *p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

Profile Open(const std::string &icc)
{
    return Profile(icc.empty() ? nullptr : cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size())));
}

bool DescribesSrgb(cmsHPROFILE profile)
{
    char text[256] = {};
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
    return std::strstr(text, "sRGB") != nullptr;
}

cmsHTRANSFORM ToSrgbTransform(cmsHPROFILE from, cmsUInt32Number inFormat)
{
    const Profile srgb(cmsCreate_sRGBProfile());
    return srgb ? cmsCreateTransform(from, inFormat, srgb.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, 0) : nullptr;
}

} // namespace

bool cxcolour::IsSrgbOrUnusable(const std::string &icc)
{
    const Profile p = Open(icc);
    return !p || cmsGetColorSpace(p.get()) != cmsSigRgbData || DescribesSrgb(p.get());
}

bool cxcolour::DescribesDecodedPixels(const std::string &icc)
{
    const Profile p = Open(icc);
    return p && (cmsGetColorSpace(p.get()) == cmsSigRgbData || cmsGetColorSpace(p.get()) == cmsSigGrayData);
}

bool cxcolour::ToSrgb(CxImage &img)
{
    const std::string &icc = img.GetMetadata().icc;
    if (icc.empty() || !img.IsValid() || IsSrgbOrUnusable(icc))
        return true;
    const Profile p = Open(icc);
    const cmsHTRANSFORM t = ToSrgbTransform(p.get(), TYPE_BGR_8);
    if (!t)
        return true;
    if (img.GetBpp() == 24) {
        for (int y = 0; y < img.GetHeight(); ++y)
            cmsDoTransform(t, img.GetBits(y), img.GetBits(y), cmsUInt32Number(img.GetWidth()));
    } else {
        // Paletted: the entries are the colours.
        const int n = img.GetNumColors();
        RGBQUAD pal[256];
        std::memcpy(pal, img.GetPalette(), sizeof(RGBQUAD) * std::size_t(n));
        for (int i = 0; i < n; ++i) {
            std::uint8_t bgr[3] = {pal[i].rgbBlue, pal[i].rgbGreen, pal[i].rgbRed};
            cmsDoTransform(t, bgr, bgr, 1);
            pal[i].rgbBlue = bgr[0];
            pal[i].rgbGreen = bgr[1];
            pal[i].rgbRed = bgr[2];
        }
        img.SetPalette(pal, n);
    }
    cmsDeleteTransform(t);
    CxMetadata meta = img.GetMetadata();
    meta.icc.clear();
    img.SetMetadata(std::move(meta));
    return true;
}

void *cxcolour::MakeCmykTransform(const std::string &icc, bool inverted)
{
    const Profile p = Open(icc);
    if (!p || cmsGetColorSpace(p.get()) != cmsSigCmykData)
        return nullptr;
    return ToSrgbTransform(p.get(), inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8);
}

void cxcolour::CmykToBgr(void *transform, const std::uint8_t *cmyk, std::uint8_t *bgr, int width)
{
    cmsDoTransform(transform, cmyk, bgr, cmsUInt32Number(width));
}

void cxcolour::FreeTransform(void *transform)
{
    if (transform)
        cmsDeleteTransform(transform);
}
