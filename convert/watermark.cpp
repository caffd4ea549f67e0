#include "convert/watermark.h"

#include "convert/convertjob.h"
#include "imaging/cxtext.h"
#include "imaging/pixelops.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLogoGap = 4; // between the logo and the text under it

// Where a block of w x h goes in a W x H picture at the anchor, margin in.
void Place(int anchor, int margin, long W, long H, long w, long h, long &x, long &y)
{
    const int column = anchor % 3, row = anchor / 3;
    x = column == 0 ? margin : column == 1 ? (W - w) / 2 : W - w - margin;
    y = row == 0 ? margin : row == 1 ? (H - h) / 2 : H - h - margin;
}

// The text's colour under a light text is black, under a dark one white.
COLORREF ShadowColour(COLORREF text)
{
    const int luma = (GetRValue(text) * 299 + GetGValue(text) * 587 + GetBValue(text) * 114) / 1000;
    return luma >= 128 ? RGB(0, 0, 0) : RGB(255, 255, 255);
}

struct TextBlock {
    LOGFONT font{};
    long width = 0, ascent = 0, descent = 0, pixels = 0;
};

TextBlock MeasureText(const CConvertJob &job, long pictureHeight)
{
    TextBlock t;
    t.font = job.m_lfStampFont.value_or(LOGFONT{});
    if (job.m_nStampSizePercent > 0)
        t.font.lfHeight = -std::max<long>(1, std::lround(double(pictureHeight) * job.m_nStampSizePercent / 100.0));
    t.width = TextExtentWidth(t.font, job.m_szStampText);
    const QFont qfont = FontFromLogFont(t.font);
    const QFontMetricsF metrics(qfont);
    t.ascent = std::lround(metrics.ascent());
    t.descent = std::lround(metrics.descent());
    t.pixels = qfont.pixelSize();
    return t;
}

// The logo's size on a picture pictureWidth wide; false when it has none.
bool LogoSize(const CxImage &logo, long pictureWidth, int percent, long &w, long &h)
{
    if (!logo.IsValid() || logo.GetWidth() == 0)
        return false;
    w = std::clamp<long>(std::lround(double(pictureWidth) * percent / 100.0), 1, CxImage::kMaxDimension);
    h = std::clamp<long>(std::lround(double(logo.GetHeight()) * w / logo.GetWidth()), 1,
                         CxImage::kMaxDimension);
    return true;
}

bool ScaledLogo(const CxImage &logo, long pictureWidth, int percent, CxImage &out)
{
    long w = 0, h = 0;
    if (!LogoSize(logo, pictureWidth, percent, w, h) || std::int64_t(w) * h > CxImage::kMaxPixels)
        return false;
    return cxops::ResampleTo(logo, int(w), int(h), out);
}

// The logo over img at (x, y), through its alpha.
void Compose(CxImage &img, const CxImage &logo, long x, long y)
{
    const bool alpha = logo.AlphaIsValid();
    for (long row = std::max(0L, -y); row < long(logo.GetHeight()) && y + row < long(img.GetHeight()); ++row) {
        const BYTE *s = logo.GetBits(int(row));
        const BYTE *sa = alpha ? logo.AlphaGetPointer(int(row)) : nullptr;
        BYTE *d = img.GetBits(int(y + row));
        BYTE *da = img.AlphaIsValid() ? img.AlphaGetPointer(int(y + row)) : nullptr;
        for (long col = std::max(0L, -x); col < long(logo.GetWidth()) && x + col < long(img.GetWidth()); ++col) {
            const int a = sa ? sa[col] : 255;
            BYTE *p = d + (x + col) * 3;
            for (int c = 0; c < 3; ++c)
                p[c] = BYTE((s[col * 3 + c] * a + p[c] * (255 - a) + 127) / 255);
            if (da)
                da[x + col] = BYTE(std::min(255, da[x + col] + (a * (255 - da[x + col]) + 127) / 255));
        }
    }
}

// img = before + (img - before) * opacity inside the rectangle.
void Fade(CxImage &img, const CxImage &before, int opacity, long x0, long y0, long x1, long y1)
{
    x0 = std::max(0L, x0), y0 = std::max(0L, y0);
    x1 = std::min<long>(img.GetWidth(), x1), y1 = std::min<long>(img.GetHeight(), y1);
    for (long y = y0; y < y1; ++y) {
        BYTE *d = img.GetBits(int(y));
        const BYTE *b = before.GetBits(int(y));
        for (long i = x0 * 3; i < x1 * 3; ++i)
            d[i] = BYTE(b[i] + ((d[i] - b[i]) * opacity + (d[i] >= b[i] ? 50 : -50)) / 100);
        if (img.AlphaIsValid() && before.AlphaIsValid()) {
            BYTE *da = img.AlphaGetPointer(int(y));
            const BYTE *ba = before.AlphaGetPointer(int(y));
            for (long i = x0; i < x1; ++i)
                da[i] = BYTE(ba[i] + ((da[i] - ba[i]) * opacity + (da[i] >= ba[i] ? 50 : -50)) / 100);
        }
    }
}

} // namespace

std::shared_ptr<const CxImage> ReadLogo(const std::string &path, std::string &why)
{
    auto logo = std::make_shared<CxImage>();
    if (!logo->Load(path.c_str()) || !logo->IsValid()) {
        why = *logo->GetLastError() ? logo->GetLastError() : "cannot read the picture";
        return nullptr;
    }
    if (logo->GetBpp() != 24 && !logo->IncreaseBpp(24)) {
        why = logo->GetLastError();
        return nullptr;
    }
    return logo;
}

bool IsPlainStamp(const CConvertJob &job)
{
    return job.m_nStampPosition == GRAVITY_BOTTOM_RIGHT && job.m_nStampMargin == kDefaultStampMargin &&
           job.m_nStampOpacity == 100 && job.m_nStampSizePercent == 0 && !job.m_bStampShadow && !job.m_logo;
}

void WatermarkRows(const CConvertJob &job, long width, long height, long &top, long &bottom)
{
    const bool text = job.m_bStamp && !job.m_szStampText.empty();
    if (IsPlainStamp(job)) {
        // Its baseline 10 rows up from the bottom.
        const TextBlock t = MeasureText(job, height);
        const long reach = t.ascent + t.descent + std::max<long>(4, t.pixels);
        top = std::max(0L, height - 10 - reach);
        bottom = height;
        return;
    }
    const TextBlock t = text ? MeasureText(job, height) : TextBlock{};
    long logoH = 0, logoW = 0;
    if (job.m_logo && !LogoSize(*job.m_logo, width, job.m_nLogoSizePercent, logoW, logoH))
        logoW = logoH = 0;
    const long blockW = std::max(t.width, logoW);
    const long blockH = logoH + t.ascent + t.descent + kLogoGap;
    long x = 0, y = 0;
    Place(job.m_nStampPosition, job.m_nStampMargin, width, height, blockW, blockH, x, y);
    // A fade's frame, and marks and a shadow as far again as the text is tall.
    const long reach = std::max<long>(4, t.pixels) + 2 * (t.ascent + t.descent);
    top = std::clamp(y - reach, 0L, height);
    bottom = std::clamp(y + blockH + reach, top, height);
}

bool DrawWatermark(CxImage &img, const CConvertJob &job, const RowsOfPicture &at)
{
    const long width = at.width > 0 ? at.width : long(img.GetWidth());
    const long height = at.width > 0 ? at.height : long(img.GetHeight());
    const bool text = job.m_bStamp && !job.m_szStampText.empty();
    CxImage logo;
    const bool hasLogo = job.m_logo && ScaledLogo(*job.m_logo, width, job.m_nLogoSizePercent, logo);
    if ((!text && !hasLogo) || (img.GetBpp() != 24 && !img.IncreaseBpp(24)))
        return false;
    const TextBlock t = text ? MeasureText(job, height) : TextBlock{};
    // The block: the logo above the text; a text's descent hangs into the
    // margin below it, as the plain stamp's does.
    const long logoH = hasLogo ? long(logo.GetHeight()) : 0, logoW = hasLogo ? long(logo.GetWidth()) : 0;
    const long textH = text ? t.ascent + (job.m_nStampPosition / 3 == 2 ? 0 : t.descent) : 0;
    const long blockW = std::max(t.width, logoW);
    const long blockH = logoH + textH + (hasLogo && text ? kLogoGap : 0);
    long x = 0, y = 0;
    Place(job.m_nStampPosition, job.m_nStampMargin, width, height, blockW, blockH, x, y);
    y -= at.top; // in img's rows
    const int column = job.m_nStampPosition % 3;
    const auto inBlock = [&](long w) { return column == 0 ? x : column == 1 ? x + (blockW - w) / 2 : x + blockW - w; };

    const bool fades = job.m_nStampOpacity < 100;
    const CxImage before = fades ? img : CxImage();
    if (hasLogo)
        Compose(img, logo, inBlock(logoW), y);
    if (text) {
        tagCxTextInfo info;
        info.text = job.m_szStampText;
        info.lfont = t.font;
        const long tx = inBlock(t.width), baseline = y + logoH + (hasLogo ? kLogoGap : 0) + t.ascent;
        if (job.m_bStampShadow) {
            const long d = std::max<long>(1, std::lround(t.pixels / 12.0));
            info.fcolor = ShadowColour(job.m_crStampColor);
            img.DrawStringEx(tx + d, baseline + d, &info, true);
        }
        info.fcolor = job.m_crStampColor;
        img.DrawStringEx(tx, baseline, &info, true);
    }
    if (fades) {
        // The text's marks may reach past its box: fade a generous frame.
        const long pad = std::max<long>(4, t.pixels);
        Fade(img, before, std::max(0, job.m_nStampOpacity), x - pad, y - pad, x + blockW + pad, y + blockH + pad);
    }
    return true;
}
