#include "convert/pipeline.h"

#include "imaging/cxtext.h"
#include "imaging/formats.h"
#include "imaging/metadataio.h"
#include "imaging/octreequantizer.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

const long kSharpenKernel[9] = {-1, -1, -1, -1, 15, -1, -1, -1, -1};

namespace {

std::int64_t Truncate(double v)
{
    // Far outside anything an image can be; keeps the conversion defined.
    constexpr double limit = 4.0e18;
    if (std::isnan(v))
        return 0;
    if (v > limit)
        return std::int64_t(limit);
    if (v < -limit)
        return -std::int64_t(limit);
    return std::int64_t(std::trunc(v));
}

// A target side as the resampler takes it. Sizes it refuses stay refused
// for the same reason (empty or too large) instead of wrapping in a long.
long ResampleSide(std::int64_t side)
{
    return long(std::clamp<std::int64_t>(side, 0, std::int64_t(CxImage::kMaxDimension) + 1));
}

bool Rotate(CxImage &img, std::int32_t type)
{
    switch (type) {
    case ROTATE_LEFT:
        return img.RotateLeft();
    case ROTATE_RIGHT:
        return img.RotateRight();
    case ROTATE_180:
        return img.Rotate180();
    default:
        return true; // no choice made
    }
}

} // namespace

ResizeTarget ComputeResize(int w, int h, int rule, std::int32_t W, std::int32_t H)
{
    ResizeTarget t;
    const double ratio = w > 0 ? double(h) / double(w) : 0.0;
    switch (rule) {
    case 0:
        t.width = W;
        t.height = Truncate(double(W) * ratio);
        if (t.height > H) {
            t.height = H;
            t.width = ratio > 0 ? Truncate(double(H) / ratio) : 0;
        }
        break;
    case 1:
        t.width = W;
        t.height = Truncate(double(W) * ratio);
        break;
    case 2:
        t.height = H;
        t.width = h > 0 ? Truncate(double(H) * (double(w) / double(h))) : 0;
        break;
    default:
        t.width = W;
        t.height = H;
        break;
    }
    return t;
}

bool NeedsNoWholePicture(const CConvertJob &job)
{
    return !job.m_bRotate && !job.m_bResize && job.m_bSharpen != 1 && !(job.m_bStamp && !job.m_szStampText.empty());
}

void DrawStamp(CxImage &img, const CConvertJob &job)
{
    const LOGFONT font = job.m_lfStampFont.value_or(LOGFONT{});
    tagCxTextInfo info;
    info.text = job.m_szStampText;
    info.lfont = font;
    info.fcolor = job.m_crStampColor;
    const long x = long(img.GetWidth()) - TextExtentWidth(font, info.text) - 10;
    const long y = long(img.GetHeight()) - 10;
    img.DrawStringEx(x, y, &info, false);
}

namespace {

bool TurnsQuarter(const CConvertJob &job)
{
    return job.m_bRotate && (job.m_nrotateType == ROTATE_LEFT || job.m_nrotateType == ROTATE_RIGHT);
}

} // namespace

CxDecodeRequest::LoadSizeRule ReducedDecodeRule(const CConvertJob &job)
{
    if (!job.m_bResize)
        return {};
    const bool turned = TurnsQuarter(job);
    const int rule = job.m_nResizeType, W = job.m_nWidth, H = job.m_nHeight;
    return [=](int srcW, int srcH, int &hintW, int &hintH) {
        const int w = turned ? srcH : srcW, h = turned ? srcW : srcH;
        const ResizeTarget t = ComputeResize(w, h, rule, W, H);
        if (t.width <= 0 || t.height <= 0 || t.width >= w || t.height >= h)
            return; // not a shrink in both directions (never skipped then): decode it whole
        const double hw = std::ceil(double(t.width) * kReducedDecodeMargin);
        const double hh = std::ceil(double(t.height) * kReducedDecodeMargin);
        if (hw >= w || hh >= h)
            return;
        hintW = int(turned ? hh : hw);
        hintH = int(turned ? hw : hh);
    };
}

bool PlannedResize(const CConvertJob &job, const StepRules &rules, int w, int h, ResizeTarget &t)
{
    t = ComputeResize(w, h, job.m_nResizeType, job.m_nWidth, job.m_nHeight);
    return !(rules.consultDontEnlarge && job.m_bDontEnlarge == 1 && !(w > t.width && h > t.height));
}

ResampledRows::SizeRule ShrinkAsDecodedRule(const CConvertJob &job, std::uint32_t outType)
{
    if (!job.m_bResize || job.m_bRotate)
        return {};
    const bool keepsProfile = cxmeta::Carries(outType);
    return [&job, keepsProfile](int fileW, int fileH, const CxMetadata &meta, int &width, int &height) {
        ResizeTarget t;
        if ((!meta.icc.empty() && !keepsProfile) || !PlannedResize(job, {}, fileW, fileH, t))
            return false;
        width = int(ResampleSide(t.width));
        height = int(ResampleSide(t.height));
        return true;
    };
}

void Sharpen(CxImage &img, const CConvertJob &job, const StepRules &rules)
{
    if (rules.sharpen && job.m_bSharpen == 1)
        img.Filter(kSharpenKernel, 3, 7, 0);
}

TransformOutcome TransformImage(CxImage &img, const CConvertJob &job, const StepRules &rules, int fileWidth,
                                int fileHeight)
{
    TransformOutcome out;
    auto fail = [&] {
        if (out.failed)
            return;
        out.failed = true;
        out.reason = *img.GetLastError() ? img.GetLastError()
                                         : QT_TRANSLATE_NOOP("FileRecord", "cannot transform the image");
    };
    const bool goOn = rules.goOnAfterFailure;
    if (job.m_bRotate && !Rotate(img, job.m_nrotateType))
        fail();

    if (job.m_bResize && (!out.failed || goOn)) {
        int w = img.GetWidth(), h = img.GetHeight();
        if (fileWidth > 0 && fileHeight > 0) {
            const bool turned = TurnsQuarter(job);
            w = turned ? fileHeight : fileWidth;
            h = turned ? fileWidth : fileHeight;
        }
        ResizeTarget t;
        if (PlannedResize(job, rules, w, h, t) &&
            !img.Resample(ResampleSide(t.width), ResampleSide(t.height), 0))
            fail();
    }

    Sharpen(img, job, rules);

    if (job.m_bStamp && (!out.failed || goOn) && !job.m_szStampText.empty()) {
        DrawStamp(img, job);
        out.stampDrawn = true;
    }
    return out;
}

void PrepareForOutput(CxImage &img, std::uint32_t outType, const CConvertJob &job, bool stampDrawn)
{
    const ImageFormat *f = FormatByType(outType);
    if (!f)
        return;
    if (f->facts.pixels == OutputPixels::NoColourPalette && img.GetNumColors() != 0 && !img.IsGrayScale())
        img.IncreaseBpp(24);
    if (f->Has(FORMAT_QUALITY))
        img.SetJpegQuality(stampDrawn ? BYTE(95) : BYTE(job.m_nQuality));
    if (f->facts.pixels == OutputPixels::Palette && img.GetNumColors() != 8) {
        COctreeQuantizer quantizer(256, 6);
        quantizer.ProcessImage(img);
        RGBQUAD palette[256] = {};
        quantizer.SetColorTable(palette);
        img.DecreaseBpp(8, true, palette, 0);
    }
}

ConvertResult ConvertImage(CxImage &img, const CConvertJob &job, const std::string &outPath,
                           std::uint32_t outType)
{
    const TransformOutcome t = TransformImage(img, job);
    if (t.failed)
        return ConvertResult::TransformFailed;
    PrepareForOutput(img, outType, job, t.stampDrawn);
    return img.Save(outPath.c_str(), outType) ? ConvertResult::Saved : ConvertResult::SaveFailed;
}
