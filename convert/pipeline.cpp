#include "convert/pipeline.h"

#include "convert/contentgravity.h"
#include "convert/watermark.h"
#include "imaging/adjust.h"
#include "imaging/cxtext.h"
#include "imaging/formats.h"
#include "imaging/metadataio.h"
#include "imaging/octreequantizer.h"
#include "imaging/pixelops.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <mutex>

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

namespace {

std::int64_t AtLeastOne(std::int64_t v)
{
    return v < 1 ? 1 : v;
}

// The side scaled by num / den, rounded to the nearest (halves up), at
// least 1: a 4:3 part of 1622 x 2880 is 1622 x 1217, and its long edge at
// 640 is 640 x 480, not 479.
std::int64_t Scaled(std::int64_t side, std::int64_t num, std::int64_t den)
{
    return den > 0 ? AtLeastOne((2 * side * num + den) / (2 * den)) : 1;
}

// How far into the free room (0 or more) a part goes: 0, half or all of it
// by the gravity's column (horizontal) or row.
std::int64_t GravityOffset(std::int64_t room, int gravity, bool horizontal)
{
    const int g = gravity >= 0 && gravity <= 8 ? gravity : GRAVITY_CENTER;
    const int step = horizontal ? g % 3 : g / 3;
    return room <= 0 ? 0 : room * step / 2;
}

} // namespace

ResizeTarget ComputeResize(int w, int h, const CConvertJob &job)
{
    const int rule = job.m_nResizeType;
    if (rule < RESIZE_LONG_EDGE || rule > RESIZE_PAD || w <= 0 || h <= 0)
        return ComputeResize(w, h, rule, job.m_nWidth, job.m_nHeight);
    const std::int64_t W = job.m_nWidth, H = job.m_nHeight, N = job.m_nEdgeSize;
    ResizeTarget t;
    switch (rule) {
    case RESIZE_LONG_EDGE:
    case RESIZE_SHORT_EDGE:
        if ((w >= h) == (rule == RESIZE_LONG_EDGE)) {
            t.width = AtLeastOne(N);
            t.height = Scaled(h, N, w);
        } else {
            t.height = AtLeastOne(N);
            t.width = Scaled(w, N, h);
        }
        break;
    case RESIZE_PERCENT:
        t.width = Scaled(w, job.m_nPercent, 100);
        t.height = Scaled(h, job.m_nPercent, 100);
        break;
    default: {
        // The box's side that the picture meets: the other one is covered
        // (fill) or left room (pad).
        const bool boxWider = W * h > H * w;
        if (boxWider == (rule == RESIZE_FILL)) {
            t.width = AtLeastOne(W);
            t.height = Scaled(h, W, w);
        } else {
            t.height = AtLeastOne(H);
            t.width = Scaled(w, H, h);
        }
        break;
    }
    }
    return t;
}

CropRect PlaceAt(std::int64_t w, std::int64_t h, std::int64_t width, std::int64_t height, int gravity)
{
    CropRect c;
    c.width = std::min(w, width);
    c.height = std::min(h, height);
    c.left = GravityOffset(w - c.width, gravity, true);
    c.top = GravityOffset(h - c.height, gravity, false);
    return c;
}

CropRect RatioCrop(std::int64_t w, std::int64_t h, std::int64_t rw, std::int64_t rh, int gravity)
{
    if (rw <= 0 || rh <= 0)
        return CropRect{0, 0, w, h};
    // Wider than the ratio: the height stays; else the width does.
    if (w * rh > h * rw)
        return PlaceAt(w, h, Scaled(h, rw, rh), h, gravity);
    return PlaceAt(w, h, w, Scaled(w, rh, rw), gravity);
}

GeometryPlan PlanGeometry(const CConvertJob &job, const StepRules &rules, int w, int h)
{
    if (job.m_edits.borderInside)
        return PlanGeometry(WithBorderInside(job), rules, w, h);
    GeometryPlan p;
    std::int64_t rw = job.m_nCropRatioW, rh = job.m_nCropRatioH;
    // Turned to the picture's orientation; a square picture takes it as given.
    if (job.m_edits.cropRatioFollows && w != h && rw != rh && (rw > rh) != (w > h))
        std::swap(rw, rh);
    p.crop = job.CropsToRatio() ? RatioCrop(w, h, rw, rh, job.m_nGravity) : CropRect{0, 0, w, h};
    p.width = p.crop.width;
    p.height = p.crop.height;
    if (!job.m_bResize)
        return p;
    p.resample = PlannedResize(job, rules, int(p.crop.width), int(p.crop.height), p.target);
    if (p.resample) {
        p.width = p.target.width;
        p.height = p.target.height;
    }
    if (job.m_nResizeType == RESIZE_FILL) {
        p.width = std::min<std::int64_t>(p.width, job.m_nWidth);
        p.height = std::min<std::int64_t>(p.height, job.m_nHeight);
    } else if (job.m_nResizeType == RESIZE_PAD) {
        p.width = job.m_nWidth;
        p.height = job.m_nHeight;
    }
    return p;
}

namespace {

RGBQUAD BorderCanvas(const Edits &e)
{
    RGBQUAD canvas{};
    canvas.rgbRed = BYTE(GetRValue(e.borderColor));
    canvas.rgbGreen = BYTE(GetGValue(e.borderColor));
    canvas.rgbBlue = BYTE(GetBValue(e.borderColor));
    return canvas;
}

// Edits that need no row but their own (a border only adds rows); counted:
// auto-levels' counts are gathered before the rows pass.
bool EditsGoByRow(const Edits &e, bool counted = false)
{
    return (e.flip == FLIP_NONE || e.flip == FLIP_HORIZONTAL) && !e.trim && !e.borderInside &&
           (!e.tone.Any() || cxadjust::ToneRows::Takes(e.tone, counted));
}

class RowEditStep final : public CxRowStep {
public:
    // counts: auto-levels' (complete before the first row is stepped).
    RowEditStep(const Edits &e, const cxadjust::LevelCounts *counts)
        : m_mirror(e.flip == FLIP_HORIZONTAL), m_settings(e.tone), m_counts(counts)
    {
        if (e.tone.Any() && !m_counts)
            m_tone.emplace(e.tone);
    }
    // Tone on a paletted picture changes its palette, which the encoder
    // may have read: such a picture comes whole.
    bool Takes(int bpp) const override { return bpp == 24 || (bpp == 8 && !m_tone); }
    void Row(BYTE *pixels, BYTE *alpha, int width, int bpp) const override
    {
        if (m_mirror) {
            CxImage::MirrorRow(pixels, width, bpp);
            if (alpha)
                CxImage::MirrorRow(alpha, width, 8);
        }
        if (m_counts)
            std::call_once(m_made, [this] { m_tone.emplace(m_settings, m_counts); });
        if (m_tone)
            m_tone->Row(pixels, width);
    }

private:
    const bool m_mirror;
    const cxadjust::ToneSettings m_settings;
    const cxadjust::LevelCounts *const m_counts;
    mutable std::once_flag m_made;
    mutable std::optional<cxadjust::ToneRows> m_tone;
};

// The job's watermark (the plain stamp too), drawn on the rows it touches.
class WatermarkStamp final : public CxRowStamp {
public:
    explicit WatermarkStamp(const CConvertJob &job) : m_job(job) {}
    void Rows(int width, int height, int &top, int &bottom) const override
    {
        long t = 0, b = 0;
        WatermarkRows(m_job, width, height, t, b);
        top = int(t);
        bottom = int(b);
    }
    void Draw(CxImage &rows, int top, int width, int height) const override
    {
        const RowsOfPicture at{width, height, top};
        if (IsPlainStamp(m_job))
            DrawStamp(rows, m_job, at);
        else
            DrawWatermark(rows, m_job, at);
    }

private:
    const CConvertJob &m_job;
};

} // namespace

bool Stamps(const CConvertJob &job)
{
    return (job.m_bStamp && !job.m_szStampText.empty()) || job.m_logo;
}

bool NeedsNoWholePicture(const CConvertJob &job)
{
    // (Sharpen comes after a resize, whose shrunk rows it may take: alone
    // it keeps the picture whole.)
    return !job.m_bRotate && !job.m_bResize && job.m_bSharpen != 1 && !job.CropsToRatio() &&
           EditsGoByRow(job.m_edits) &&
           job.m_nMaxFileSize == 0; // a size limit tries several encodes of one picture
}

bool RowsAfterShrink(const CConvertJob &job)
{
    // The shrink's rule has no turn, ratio, cut, flip or trim before it.
    return job.m_bResize && job.m_nResizeType != RESIZE_FILL && job.m_nResizeType != RESIZE_PAD &&
           !job.m_bRotate && !job.CropsToRatio() && !job.m_edits.BeforeRotation() &&
           EditsGoByRow(job.m_edits) && job.m_nMaxFileSize == 0;
}

namespace {

// The part the region or margins keep of the upright picture, where it lies
// once turned: mirrored, flipped, then turned clockwise by quarters.
EditRegion TurnedCut(const Edits &e, const CxTurnedRows::Turn &turn, std::int64_t width, std::int64_t height)
{
    std::int64_t w = (turn.quarters & 1) ? height : width, h = (turn.quarters & 1) ? width : height;
    EditRegion r = CutRegion(e, w, h);
    if (turn.mirror)
        r.x = w - r.x - r.width;
    if (turn.flip)
        r.y = h - r.y - r.height;
    for (int q = 0; q < (turn.quarters & 3); ++q) {
        r = {h - r.y - r.height, r.x, r.height, r.width};
        std::swap(w, h);
    }
    return r;
}

} // namespace

bool TurnsOnDisk(const CConvertJob &job)
{
    const Edits &e = job.m_edits;
    const bool turns = TurnOf(job).quarters != 0 || (e.flip & FLIP_VERTICAL) || job.m_bAutoRotate ||
                       e.tone.autoLevels || e.trim;
    // After the turn: a shrink (nothing cut before it) and sharpen, or a
    // cut; and the steps that go by row. Auto-levels counts the whole
    // picture as stored: nothing cut, trimmed or resized; the trim is the
    // store's, before any cut.
    const bool sized = job.m_bResize ? job.m_nResizeType != RESIZE_FILL && job.m_nResizeType != RESIZE_PAD &&
                                           !e.Cuts() && !job.CropsToRatio()
                                     : job.m_bSharpen != 1;
    const bool levels = !e.tone.autoLevels || (!job.m_bResize && !e.Cuts() && !e.trim);
    return turns && sized && levels && !(e.trim && e.Cuts()) && !e.borderInside &&
           (!e.tone.Any() || cxadjust::ToneRows::Takes(e.tone, true)) && job.m_nMaxFileSize == 0;
}

CxTurnedRows::Turn TurnOf(const CConvertJob &job)
{
    CxTurnedRows::Turn turn;
    turn.orient = job.m_bAutoRotate;
    turn.trim = job.m_edits.trim;
    turn.trimFuzz = job.m_edits.trimFuzz;
    turn.mirror = (job.m_edits.flip & FLIP_HORIZONTAL) != 0;
    turn.flip = (job.m_edits.flip & FLIP_VERTICAL) != 0;
    if (job.m_bRotate)
        turn.quarters = job.m_nrotateType == ROTATE_RIGHT  ? 1
                        : job.m_nrotateType == ROTATE_180  ? 2
                        : job.m_nrotateType == ROTATE_LEFT ? 3
                                                           : 0;
    return turn;
}

RowEditsOf::RowEditsOf(const CConvertJob &job, const CxTurnedRows::Turn *turn)
{
    // What the turn did not do: a flip and a trim are the turn's, and
    // auto-levels counts the rows it stores.
    Edits e = job.m_edits;
    if (turn) {
        e.flip = FLIP_NONE;
        e.trim = false;
    }
    if (!EditsGoByRow(e, turn != nullptr))
        return;
    if (turn && e.tone.autoLevels)
        m_counts = std::make_unique<cxadjust::LevelCounts>();
    if (e.flip != FLIP_NONE || e.tone.Any()) {
        m_step = std::make_unique<RowEditStep>(e, m_counts.get());
        edits.step = m_step.get();
    }
    if (e.Cuts())
        edits.region = [e, turn = turn ? *turn : CxTurnedRows::Turn{}](int width, int height,
                                                                       CxRegion &region) {
            const EditRegion cut = TurnedCut(e, turn, width, height);
            if (cut.width <= 0 || cut.height <= 0)
                return false; // the whole picture's way says what is wrong
            region = {int(cut.x), int(cut.y), int(cut.width), int(cut.height)};
            return true;
        };
    if (job.m_bSharpen == 1) {
        m_sharpen = std::make_unique<CxRowFilter>(kSharpenKernel, 3, 7, 0);
        edits.filter = m_sharpen.get();
    }
    if (e.HasBorder()) {
        edits.border = [e](std::int64_t width, std::int64_t height) {
            return BorderPixels(e, width, height);
        };
        edits.borderColour = BorderCanvas(e);
    }
    if (Stamps(job)) {
        m_stamp = std::make_unique<WatermarkStamp>(job);
        edits.stamp = m_stamp.get();
    }
}

RowEditsOf::~RowEditsOf() = default;

void DrawStamp(CxImage &img, const CConvertJob &job, const RowsOfPicture &at)
{
    const LOGFONT font = job.m_lfStampFont.value_or(LOGFONT{});
    tagCxTextInfo info;
    info.text = job.m_szStampText;
    info.lfont = font;
    info.fcolor = job.m_crStampColor;
    const long width = at.width > 0 ? at.width : long(img.GetWidth());
    const long height = at.width > 0 ? at.height : long(img.GetHeight());
    const long x = width - TextExtentWidth(font, info.text) - 10;
    const long y = height - 10 - at.top;
    img.DrawStringEx(x, y, &info, false);
}

namespace {

bool TurnsQuarter(const CConvertJob &job)
{
    return job.m_bRotate && (job.m_nrotateType == ROTATE_LEFT || job.m_nrotateType == ROTATE_RIGHT);
}

} // namespace

namespace {

// What the rules below share: the job's geometry planned for the file's
// part the resize scales, and fn(plan, fullW, fullH, hintW, hintH) deciding
// the hint for the whole file of fullW x fullH (as the job turns it).
using HintFromPlan = std::function<void(const GeometryPlan &, int, int, int &, int &)>;

// What a job's resize reads of it, and nothing else (not its files).
CConvertJob SizesOf(const CConvertJob &job)
{
    CConvertJob sizes;
    sizes.m_bResize = true;
    sizes.m_nResizeType = job.m_nResizeType;
    sizes.SetSize(job.m_nWidth, job.m_nHeight);
    sizes.m_nEdgeSize = job.m_nEdgeSize;
    sizes.m_nPercent = job.m_nPercent;
    sizes.m_nGravity = job.m_nGravity;
    sizes.m_nCropRatioW = job.m_nCropRatioW;
    sizes.m_nCropRatioH = job.m_nCropRatioH;
    sizes.m_bDontEnlarge = job.m_bDontEnlarge;
    return sizes;
}

CxDecodeRequest::LoadSizeRule GeometryRule(const CConvertJob &job, StepRules rules, HintFromPlan decide)
{
    if (!job.m_bResize)
        return {};
    const bool turned = TurnsQuarter(job);
    CConvertJob geometry = SizesOf(job); // the rule's own copy of the sizes it needs
    // What the trim keeps is known only from the pixels.
    if (job.m_edits.trim)
        return {};
    geometry.m_edits.crop = job.m_edits.crop;
    geometry.m_edits.margins = job.m_edits.margins;
    geometry.m_edits.border = job.m_edits.border;
    geometry.m_edits.borderInside = job.m_edits.borderInside;
    geometry.m_edits.cropRatioFollows = job.m_edits.cropRatioFollows;
    return [=](int srcW, int srcH, int &hintW, int &hintH) {
        // The part the region or margins keep is what the resize scales.
        const EditRegion cut = CutRegion(geometry.m_edits, srcW, srcH);
        if (cut.width <= 0 || cut.height <= 0)
            return;
        const int w = int(turned ? cut.height : cut.width), h = int(turned ? cut.width : cut.height);
        const int fullW = turned ? srcH : srcW, fullH = turned ? srcW : srcH;
        // The resample scales the ratio crop's part, which the decode
        // holds at the same scale as the whole picture.
        const GeometryPlan plan = PlanGeometry(geometry, rules, w, h);
        int hw = 0, hh = 0;
        decide(plan, fullW, fullH, hw, hh);
        if (hw <= 0 || hh <= 0)
            return;
        hintW = turned ? hh : hw;
        hintH = turned ? hw : hh;
    };
}

} // namespace

CxDecodeRequest::LoadSizeRule ReducedDecodeRule(const CConvertJob &job)
{
    return GeometryRule(job, {.consultDontEnlarge = false},
                        [](const GeometryPlan &plan, int fullW, int fullH, int &hintW, int &hintH) {
                            const ResizeTarget t = plan.target;
                            const std::int64_t cw = plan.crop.width, ch = plan.crop.height;
                            if (t.width <= 0 || t.height <= 0 || t.width >= cw || t.height >= ch)
                                return; // not a shrink in both directions (never skipped then): decode it whole
                            const double hw = std::ceil(double(t.width) * kReducedDecodeMargin * double(fullW) / double(cw));
                            const double hh = std::ceil(double(t.height) * kReducedDecodeMargin * double(fullH) / double(ch));
                            if (hw >= fullW || hh >= fullH)
                                return;
                            hintW = int(hw);
                            hintH = int(hh);
                        });
}

CxDecodeRequest::LoadSizeRule RenderSizeRule(const CConvertJob &job)
{
    return GeometryRule(job, {}, [](const GeometryPlan &plan, int fullW, int fullH, int &hintW, int &hintH) {
        const ResizeTarget t = plan.target;
        const std::int64_t cw = plan.crop.width, ch = plan.crop.height;
        if (!plan.resample || t.width <= 0 || t.height <= 0 || cw <= 0 || ch <= 0)
            return; // left as it is
        // The whole drawing at the scale that makes its part the target.
        const double hw = std::ceil(double(t.width) * double(fullW) / double(cw) - 1e-6);
        const double hh = std::ceil(double(t.height) * double(fullH) / double(ch) - 1e-6);
        if (hw > CxImage::kMaxDimension || hh > CxImage::kMaxDimension)
            return; // the decoder refuses its own size, not this one's
        hintW = int(std::max(1.0, hw));
        hintH = int(std::max(1.0, hh));
    });
}

ResizeTarget PlannedOutputSize(const CConvertJob &job, const StepRules &rules, int w, int h)
{
    const EditRegion cut = CutRegion(job.m_edits, w, h);
    w = int(cut.width);
    h = int(cut.height);
    if (TurnsQuarter(job))
        std::swap(w, h);
    const GeometryPlan plan = PlanGeometry(job, rules, w, h);
    // Inside, the border is the pixels the rule's size was made smaller by.
    const std::int64_t border = job.m_edits.borderInside ? WithBorderInside(job).m_edits.border.Of(0)
                                                         : BorderPixels(job.m_edits, plan.width, plan.height);
    return ResizeTarget{plan.width + 2 * border, plan.height + 2 * border};
}

bool PlannedResize(const CConvertJob &job, const StepRules &rules, int w, int h, ResizeTarget &t)
{
    t = ComputeResize(w, h, job);
    return !(rules.consultDontEnlarge && job.m_bDontEnlarge == 1 && !(w > t.width && h > t.height));
}

namespace {

// The size a picture of fileW x fileH is shrunk to as its rows come; false
// when it is not (a profile the output cannot carry is applied whole first).
bool ShrinkTarget(const CConvertJob &job, bool keepsProfile, int fileW, int fileH, const CxMetadata &meta,
                  int &width, int &height)
{
    ResizeTarget t;
    if ((!meta.icc.empty() && !keepsProfile) || !PlannedResize(job, {}, fileW, fileH, t))
        return false;
    width = int(ResampleSide(t.width));
    height = int(ResampleSide(t.height));
    return true;
}

} // namespace

ResampledRows::SizeRule ShrinkAsDecodedRule(const CConvertJob &job, std::uint32_t outType)
{
    if (!job.m_bResize || job.m_bRotate || job.CropsToRatio() || job.m_edits.BeforeRotation() ||
        job.m_edits.borderInside)
        return {};
    const bool keepsProfile = cxmeta::Carries(outType);
    return [&job, keepsProfile](int fileW, int fileH, const CxMetadata &meta, int &width, int &height) {
        return ShrinkTarget(job, keepsProfile, fileW, fileH, meta, width, height);
    };
}

ResampledRows::SizeRule BoxedBeforeTurnRule(const CConvertJob &job, std::uint32_t outType)
{
    if (!job.m_bResize || !(job.m_bRotate || job.m_edits.flip != FLIP_NONE) || job.CropsToRatio() ||
        job.m_edits.Cuts() || job.m_edits.trim || job.m_edits.borderInside ||
        job.m_nResizeType == RESIZE_FILL || job.m_nResizeType == RESIZE_PAD)
        return {};
    const CConvertJob sizes = SizesOf(job); // the rule's own copy
    const bool quarter = TurnsQuarter(job), keepsProfile = cxmeta::Carries(outType);
    return [sizes, quarter, keepsProfile](int fileW, int fileH, const CxMetadata &meta, int &width,
                                          int &height) {
        int w = 0, h = 0;
        if (!ShrinkTarget(sizes, keepsProfile, quarter ? fileH : fileW, quarter ? fileW : fileH, meta, w, h))
            return false;
        if (quarter)
            std::swap(w, h);
        // Only a shrink the rows are box-averaged for first.
        if (cxops::BoxFactor(fileW, fileH, w, h) == 0)
            return false;
        width = w;
        height = h;
        return true;
    };
}

ResampledRows::SizeRule ShrinkAfterTurnRule(const CConvertJob &job, std::uint32_t outType)
{
    if (!job.m_bResize || job.CropsToRatio() || job.m_edits.Cuts() || job.m_edits.borderInside)
        return {};
    const CConvertJob sizes = SizesOf(job); // the rule's own copy
    const bool keepsProfile = cxmeta::Carries(outType);
    return [sizes, keepsProfile](int fileW, int fileH, const CxMetadata &meta, int &width, int &height) {
        return ShrinkTarget(sizes, keepsProfile, fileW, fileH, meta, width, height);
    };
}

namespace {

// A crop's part where the gravity looks at the pixels: the one found for an
// earlier picture (kept), else the one this picture's pixels give, then kept.
// Under an anchor the part stays as placed.
CropRect ContentPlaced(const CxImage &img, CropRect part, int gravity, std::optional<CropRect> *kept)
{
    if (!IsContentGravity(gravity))
        return part;
    if (kept && *kept) {
        part.left = std::clamp<std::int64_t>((*kept)->left, 0, img.GetWidth() - part.width);
        part.top = std::clamp<std::int64_t>((*kept)->top, 0, img.GetHeight() - part.height);
        return part;
    }
    part = ContentCrop(img, part.width, part.height, gravity);
    if (kept)
        *kept = part;
    return part;
}

// The ratio crop, the resample, and the fill's crop or the pad's canvas, as
// planned for a w x h picture (the file's size: a reduced decode holds the
// picture smaller, and its crop is scaled to what it holds). A gravity that
// looks at the pixels places each crop on the pixels it cuts (the ratio
// crop's size as planned); pad puts the picture in the centre under it.
bool Reframe(CxImage &img, const CConvertJob &job, const GeometryPlan &plan, int w, int h,
             ContentCrops *crops)
{
    if (job.CropsToRatio()) {
        // Both edges scaled and rounded, so the part is the nearest one held.
        const auto edge = [](std::int64_t v, int held, int file) {
            return std::clamp<std::int64_t>(std::llround(double(v) * held / file), 0, held);
        };
        const int hw = img.GetWidth(), hh = img.GetHeight();
        const std::int64_t left = std::min<std::int64_t>(edge(plan.crop.left, hw, w), hw - 1);
        const std::int64_t top = std::min<std::int64_t>(edge(plan.crop.top, hh, h), hh - 1);
        const std::int64_t width =
            std::max<std::int64_t>(1, edge(plan.crop.left + plan.crop.width, hw, w) - left);
        const std::int64_t height =
            std::max<std::int64_t>(1, edge(plan.crop.top + plan.crop.height, hh, h) - top);
        const CropRect part =
            ContentPlaced(img, {left, top, width, height}, job.m_nGravity, crops ? &crops->ratio : nullptr);
        if (!img.Crop(long(part.left), long(part.top), long(part.width), long(part.height)))
            return false;
    }
    if (plan.resample && !img.Resample(ResampleSide(plan.target.width), ResampleSide(plan.target.height), 0))
        return false;
    if (!job.m_bResize || (job.m_nResizeType != RESIZE_FILL && job.m_nResizeType != RESIZE_PAD))
        return true;
    CropRect part = PlaceAt(img.GetWidth(), img.GetHeight(), plan.width, plan.height, job.m_nGravity);
    if (job.m_nResizeType == RESIZE_FILL)
        part = ContentPlaced(img, part, job.m_nGravity, crops ? &crops->fill : nullptr);
    if (!img.Crop(long(part.left), long(part.top), long(part.width), long(part.height)))
        return false;
    if (job.m_nResizeType == RESIZE_FILL)
        return true;
    RGBQUAD canvas;
    canvas.rgbRed = BYTE(GetRValue(job.m_crBackground));
    canvas.rgbGreen = BYTE(GetGValue(job.m_crBackground));
    canvas.rgbBlue = BYTE(GetBValue(job.m_crBackground));
    const std::int64_t left = GravityOffset(plan.width - img.GetWidth(), job.m_nGravity, true);
    const std::int64_t top = GravityOffset(plan.height - img.GetHeight(), job.m_nGravity, false);
    return img.Expand(long(plan.width), long(plan.height), long(left), long(top), canvas);
}

} // namespace

CConvertJob WithBorderInside(const CConvertJob &job)
{
    if (!job.m_edits.borderInside)
        return job;
    CConvertJob inside = job;
    Edits &e = inside.m_edits;
    e.borderInside = false;
    const int rule = job.m_nResizeType;
    const bool width = rule != 2 && rule != RESIZE_LONG_EDGE && rule != RESIZE_SHORT_EDGE;
    const bool height = rule != 1 && rule != RESIZE_LONG_EDGE && rule != RESIZE_SHORT_EDGE;
    const bool edge = rule == RESIZE_LONG_EDGE || rule == RESIZE_SHORT_EDGE;
    std::int64_t shorter = edge ? job.m_nEdgeSize : width && height ? std::min(job.m_nWidth, job.m_nHeight)
                                                    : width          ? job.m_nWidth
                                                                     : job.m_nHeight;
    std::int64_t border = e.border.Of(std::max<std::int64_t>(shorter, 0));
    // At least one pixel of picture stays.
    border = std::clamp<std::int64_t>(border, 0, std::max<std::int64_t>(0, (shorter - 1) / 2));
    e.border = EditLength{double(border), false};
    const auto less = [border](std::int32_t side) { return std::int32_t(std::max<std::int64_t>(1, side - 2 * border)); };
    if (edge)
        inside.m_nEdgeSize = less(job.m_nEdgeSize);
    if (width && !edge)
        inside.m_nWidth = less(job.m_nWidth);
    if (height && !edge)
        inside.m_nHeight = less(job.m_nHeight);
    return inside;
}

bool CutAndFlip(CxImage &img, const CConvertJob &job, int &fileWidth, int &fileHeight, ContentCrops *crops,
                std::string &reason)
{
    const Edits &e = job.m_edits;
    if (!e.BeforeRotation())
        return true;
    const int held = img.GetWidth(), heldH = img.GetHeight();
    // The file's size, which the region is given in.
    std::int64_t fw = fileWidth > 0 ? fileWidth : img.GetSrcWidth() > 0 ? img.GetSrcWidth() : held;
    std::int64_t fh = fileHeight > 0 ? fileHeight : img.GetSrcHeight() > 0 ? img.GetSrcHeight() : heldH;
    if (e.Cuts()) {
        const EditRegion r = CutRegion(e, fw, fh);
        if (r.width <= 0 || r.height <= 0) {
            reason = QT_TRANSLATE_NOOP("FileRecord", "the crop leaves nothing of the picture");
            return false;
        }
        // Both edges scaled to the pixels held and rounded.
        const auto edge = [](std::int64_t v, int heldSide, std::int64_t fileSide) {
            return std::clamp<std::int64_t>(std::llround(double(v) * heldSide / double(fileSide)), 0, heldSide);
        };
        const std::int64_t left = std::min<std::int64_t>(edge(r.x, held, fw), held - 1);
        const std::int64_t top = std::min<std::int64_t>(edge(r.y, heldH, fh), heldH - 1);
        const std::int64_t width = std::max<std::int64_t>(1, edge(r.x + r.width, held, fw) - left);
        const std::int64_t height = std::max<std::int64_t>(1, edge(r.y + r.height, heldH, fh) - top);
        if ((left != 0 || top != 0 || width != held || height != heldH) &&
            !img.Crop(long(left), long(top), long(width), long(height)))
            return false;
        fw = r.width;
        fh = r.height;
    }
    if (e.trim) {
        CropRect box;
        if (crops && crops->trim) {
            box = *crops->trim;
        } else {
            const cxadjust::Box b = cxadjust::TrimBox(img, e.trimFuzz);
            box = {b.left, b.top, b.width, b.height};
            if (crops)
                crops->trim = box;
        }
        box.left = std::clamp<std::int64_t>(box.left, 0, img.GetWidth() - 1);
        box.top = std::clamp<std::int64_t>(box.top, 0, img.GetHeight() - 1);
        box.width = std::clamp<std::int64_t>(box.width, 1, img.GetWidth() - box.left);
        box.height = std::clamp<std::int64_t>(box.height, 1, img.GetHeight() - box.top);
        if (box.width != img.GetWidth() || box.height != img.GetHeight()) {
            const double sx = double(fw) / img.GetWidth(), sy = double(fh) / img.GetHeight();
            if (!img.Crop(long(box.left), long(box.top), long(box.width), long(box.height)))
                return false;
            fw = std::max<std::int64_t>(1, std::llround(double(box.width) * sx));
            fh = std::max<std::int64_t>(1, std::llround(double(box.height) * sy));
        }
    }
    if ((e.flip & FLIP_HORIZONTAL) && !img.Mirror())
        return false;
    if ((e.flip & FLIP_VERTICAL) && !img.Flip())
        return false;
    if (fileWidth > 0 && fileHeight > 0) {
        fileWidth = int(fw);
        fileHeight = int(fh);
    }
    return true;
}

bool AddBorder(CxImage &img, const CConvertJob &job)
{
    const std::int64_t b = BorderPixels(job.m_edits, img.GetWidth(), img.GetHeight());
    if (b <= 0)
        return true;
    const std::int64_t w = img.GetWidth() + 2 * b, h = img.GetHeight() + 2 * b;
    if (w > CxImage::kMaxDimension || h > CxImage::kMaxDimension)
        return false;
    return img.Expand(long(w), long(h), long(b), long(b), BorderCanvas(job.m_edits));
}

void Sharpen(CxImage &img, const CConvertJob &job, const StepRules &rules)
{
    if (rules.sharpen && job.m_bSharpen == 1)
        img.Filter(kSharpenKernel, 3, 7, 0);
}

TransformOutcome TransformImage(CxImage &img, const CConvertJob &job, const StepRules &rules, int fileWidth,
                                int fileHeight, ContentCrops *crops)
{
    if (job.m_edits.borderInside)
        return TransformImage(img, WithBorderInside(job), rules, fileWidth, fileHeight, crops);
    TransformOutcome out;
    auto fail = [&] {
        if (out.failed)
            return;
        out.failed = true;
        out.reason = *img.GetLastError() ? img.GetLastError()
                                         : QT_TRANSLATE_NOOP("FileRecord", "cannot transform the image");
    };
    const bool goOn = rules.goOnAfterFailure;
    if (std::string why; !CutAndFlip(img, job, fileWidth, fileHeight, crops, why)) {
        fail();
        if (!why.empty())
            out.reason = why;
        if (!goOn)
            return out;
    }
    if (job.m_bRotate && !Rotate(img, job.m_nrotateType))
        fail();

    if ((job.m_bResize || job.CropsToRatio()) && (!out.failed || goOn)) {
        int w = img.GetWidth(), h = img.GetHeight();
        if (fileWidth > 0 && fileHeight > 0) {
            const bool turned = TurnsQuarter(job);
            w = turned ? fileHeight : fileWidth;
            h = turned ? fileWidth : fileHeight;
        }
        if (!Reframe(img, job, PlanGeometry(job, rules, w, h), w, h, crops))
            fail();
    }

    if (job.m_edits.tone.Any() && (!out.failed || goOn))
        cxadjust::ApplyTone(img, job.m_edits.tone);

    Sharpen(img, job, rules);

    if (job.m_edits.HasBorder() && (!out.failed || goOn) && !AddBorder(img, job))
        fail();

    const bool text = job.m_bStamp && !job.m_szStampText.empty();
    if ((text || job.m_logo) && (!out.failed || goOn)) {
        if (IsPlainStamp(job))
            DrawStamp(img, job);
        else
            DrawWatermark(img, job);
        out.stampDrawn = true;
    }
    return out;
}

TransformOutcome ReframeCopy(const CxImage &from, CxImage &img, const CConvertJob &job, int fileWidth,
                             int fileHeight, CxImage *spare)
{
    const bool geometryOnly = !job.m_bRotate && job.m_bSharpen != 1 && !job.m_bStamp && !job.m_logo &&
                              !job.m_edits.ChangesPixels() && !job.m_edits.borderInside;
    int w = from.GetWidth(), h = from.GetHeight();
    if (fileWidth > 0 && fileHeight > 0) {
        w = fileWidth;
        h = fileHeight;
    }
    GeometryPlan plan;
    if (geometryOnly && job.m_bResize && !job.CropsToRatio())
        plan = PlanGeometry(job, {}, w, h);
    if (!plan.resample) {
        if (spare == &from)
            img = std::move(*spare);
        else
            img = from;
        return TransformImage(img, job, {}, fileWidth, fileHeight);
    }
    TransformOutcome out;
    // The resample first, from the picture as it is; then the rest of the
    // geometry (fill's cut, pad's canvas) on its result.
    const long width = ResampleSide(plan.target.width), height = ResampleSide(plan.target.height);
    bool done = true;
    if (spare == &from && width == from.GetWidth() && height == from.GetHeight())
        img = std::move(*spare); // decoded at its size already
    else
        done = from.ResampleInto(width, height, img);
    plan.resample = false;
    done = done && Reframe(img, job, plan, w, h, nullptr);
    if (!done) {
        out.failed = true;
        out.reason = *img.GetLastError() ? img.GetLastError()
                                         : QT_TRANSLATE_NOOP("FileRecord", "cannot transform the image");
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
    // TIFF's JPEG compression takes the quality too, as its streamed rows do.
    if (f->Has(FORMAT_QUALITY) || outType == CXIMAGE_FORMAT_TIF)
        img.SetJpegQuality(stampDrawn ? BYTE(95) : BYTE(job.m_nQuality));
    img.SetEncoderSettings(job.m_encoder);
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
