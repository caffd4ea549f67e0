#include "convert/outputfit.h"

#include "convert/pipeline.h"
#include "convert/sizelimit.h"
#include "imaging/cxfile.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>

bool HasQualityToFit(std::uint32_t outType, const CConvertJob &job)
{
    if (outType == CXIMAGE_FORMAT_TIF)
        return job.m_encoder.m_nTifCompression == TIFCOMPRESS_JPEG;
    if (outType == CXIMAGE_FORMAT_WEBP && job.m_encoder.m_bWebpLossless)
        return false;
    const ImageFormat *f = FormatByType(outType);
    return f && f->Has(FORMAT_QUALITY);
}

QualityRange QualityRangeFor(std::uint32_t outType, const CConvertJob &job)
{
    if (!HasQualityToFit(outType, job))
        return {};
    const int ceiling = std::clamp(job.m_nQuality, 1, 100);
    return {std::clamp(job.m_nMinQuality, 1, ceiling), ceiling};
}

namespace {

// A scale step: each about a tenth smaller than the one before.
constexpr double kShrinkStep = 0.9;
// Past this many steps the picture is under a hundredth of its area.
constexpr int kMaxShrinkSteps = 44;

class Trials {
public:
    Trials(std::uint32_t outType, const CConvertJob &job, FittedOutput &out)
        : m_type(outType), m_job(job), m_range(QualityRangeFor(outType, job)), m_out(out)
    {
    }

    // The size of img encoded at q (any q when the format has none); the
    // bytes are kept when they fit and beat what was kept.
    std::optional<std::int64_t> Encode(CxImage &img, int q)
    {
        if (m_range.ceiling > 0)
            img.SetJpegQuality(BYTE(q));
        ++m_out.encodes;
        CxMemFile mem;
        bool ok = false;
        try {
            ok = mem.Open() && img.Encode(&mem, m_type) && !mem.Error();
        } catch (const std::bad_alloc &) {
            m_out.reason = std::strerror(ENOMEM);
            return std::nullopt;
        }
        if (!ok) {
            m_out.reason = *img.GetLastError() ? img.GetLastError()
                                               : QT_TRANSLATE_NOOP("FileRecord", "cannot encode the image");
            return std::nullopt;
        }
        const auto size = std::int64_t(mem.Size());
        if (size <= m_job.m_nMaxFileSize && (!m_kept || q > m_keptQuality)) {
            m_out.bytes.size = std::size_t(size);
            m_out.bytes.data.reset(mem.GetBuffer(true));
            m_kept = true;
            m_keptQuality = q;
        }
        return size;
    }

    // The best quality of img that fits, searched down from the job's.
    QualityFit Search(CxImage &img)
    {
        m_kept = false;
        return SearchQuality(m_range.floor, m_range.ceiling, m_job.m_nMaxFileSize,
                             [&](int q) { return Encode(img, q); });
    }

    // Only the floor, to see whether a scale can fit at all.
    std::optional<std::int64_t> AtFloor(CxImage &img)
    {
        m_kept = false;
        return Encode(img, m_range.floor);
    }

    const QualityRange &Range() const { return m_range; }

private:
    std::uint32_t m_type;
    const CConvertJob &m_job;
    QualityRange m_range;
    FittedOutput &m_out;
    bool m_kept = false;
    int m_keptQuality = 0;
};

long Side(std::int64_t side, double scale)
{
    return std::max<long>(1, long(std::lround(double(side) * scale)));
}

} // namespace

FittedOutput EncodeWithinLimit(CxImage &image, std::uint32_t outType, const CConvertJob &job, bool stampDrawn,
                               const std::function<bool()> &stopped)
{
    FittedOutput out;
    Trials trials(outType, job, out);
    // Shrinking starts again from the picture as the steps left it.
    std::optional<CxImage> original;
    if (job.m_bMaxFileSizeShrink)
        original.emplace(image);
    PrepareForOutput(image, outType, job, stampDrawn);
    const auto finish = [&](const QualityFit &fit, const CxImage &written) {
        out.width = written.GetWidth();
        out.height = written.GetHeight();
        out.quality = fit.quality; // 0 without a quality
        out.outcome = fit.failed ? FittedOutput::Outcome::EncodeFailed
                      : fit.fits ? FittedOutput::Outcome::Fitted
                                 : FittedOutput::Outcome::TooLarge;
        if (out.outcome == FittedOutput::Outcome::TooLarge)
            out.reason = NoFitReason(job.m_nMaxFileSize, fit.size, out.quality);
        return std::move(out);
    };
    const QualityFit whole = trials.Search(image);
    if (whole.fits || whole.failed || !original)
        return finish(whole, image);

    // Scaled down a tenth at a time. The file shrinks about as the area
    // does, so the first try skips the steps that plainly cannot fit, and
    // the way back up finds the largest that does.
    const double area = double(job.m_nMaxFileSize) / double(std::max<std::int64_t>(whole.size, 1));
    int step = std::clamp(int(std::floor(std::log(std::sqrt(area)) / std::log(kShrinkStep))), 1, kMaxShrinkSteps);
    const std::int64_t w = original->GetWidth(), h = original->GetHeight();
    std::optional<CxImage> fitting;
    int fittingStep = 0;
    std::int64_t reached = whole.size;
    const auto tryStep = [&](int k, CxImage &scaled) -> std::optional<bool> {
        scaled = *original;
        const double scale = std::pow(kShrinkStep, k);
        if (!scaled.Resample(Side(w, scale), Side(h, scale), 0))
            return std::nullopt;
        PrepareForOutput(scaled, outType, job, stampDrawn);
        const std::optional<std::int64_t> size = trials.AtFloor(scaled);
        if (!size)
            return std::nullopt;
        reached = std::min(reached, *size);
        return *size <= job.m_nMaxFileSize;
    };
    const int firstStep = step;
    for (;; ++step) {
        if (stopped()) {
            out.outcome = FittedOutput::Outcome::Stopped;
            return out;
        }
        CxImage scaled;
        const std::optional<bool> fits = tryStep(step, scaled);
        if (!fits) {
            out.outcome = FittedOutput::Outcome::EncodeFailed;
            if (out.reason.empty())
                out.reason = *scaled.GetLastError() ? scaled.GetLastError()
                                                    : QT_TRANSLATE_NOOP("FileRecord", "cannot transform the image");
            return out;
        }
        if (*fits) {
            fitting = std::move(scaled);
            fittingStep = step;
            break;
        }
        const double scale = std::pow(kShrinkStep, step);
        if (step >= kMaxShrinkSteps || (Side(w, scale) == 1 && Side(h, scale) == 1)) {
            out.outcome = FittedOutput::Outcome::TooLarge;
            out.reason = NoFitReason(job.m_nMaxFileSize, reached, trials.Range().floor);
            return out;
        }
    }
    // The guess fitted at once: back up while a larger step fits too.
    const bool backUp = fittingStep == firstStep;
    while (backUp && fittingStep > 1 && !stopped()) {
        CxImage scaled;
        const std::optional<bool> fits = tryStep(fittingStep - 1, scaled);
        if (!fits || !*fits)
            break;
        fitting = std::move(scaled);
        --fittingStep;
    }
    out.shrunk = true;
    // Without a quality the bytes of the largest step that fits are kept.
    const QualityFit fit = trials.Range().ceiling > 0
                               ? trials.Search(*fitting)
                               : QualityFit{true, false, 0, std::int64_t(out.bytes.size), out.encodes};
    image = std::move(*fitting);
    return finish(fit, image);
}
