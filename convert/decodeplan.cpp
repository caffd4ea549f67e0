#include "convert/decodeplan.h"

#include "convert/pipeline.h"
#include "imaging/rowband.h"

namespace {

bool CopiesPlainly(const CConvertJob &job, const PlanInput &in)
{
    return !in.copyRefused && !job.ChangesPixels() && in.outType == in.sourceType &&
           !job.m_encoder.ChangesOutput(in.outType) && !job.RendersAnew(in.sourceType);
}

} // namespace

bool UsesCoefficients(const CConvertJob &job, std::uint32_t sourceType, std::uint32_t outType)
{
    const ImageFormat *source = FormatByType(sourceType), *out = FormatByType(outType);
    // An encoder setting for the output's format means encoding it.
    if (!source || !out || job.ChangesPixelsBeyondRotation() || job.m_encoder.ChangesOutput(outType))
        return false;
    const Coefficients from = source->facts.coefficients, to = out->facts.coefficients;
    if (from == Coefficients::Turned && sourceType == outType)
        return (job.m_bRotate || job.m_edits.flip != FLIP_NONE) && job.m_nLossless != LOSSLESS_OFF;
    if (job.ChangesPixels())
        return false;
    return (from == Coefficients::Turned && to == Coefficients::CarryJpeg && job.m_nQuality >= 100) ||
           (from == Coefficients::CarryJpeg && to == Coefficients::Turned);
}

bool PlanReadsHeader(const CConvertJob &job, std::uint32_t outType)
{
    return static_cast<bool>(ShrinkAsDecodedRule(job, outType));
}

DecodePlan ChooseDecodePlan(const CConvertJob &job, const PlanInput &in)
{
    if (in.page > 0)
        return DecodePlan::Whole;
    if (CopiesPlainly(job, in))
        return DecodePlan::PlainCopy;
    if (!in.losslessRefused && UsesCoefficients(job, in.sourceType, in.outType))
        return DecodePlan::LosslessTransform;
    if (NeedsNoWholePicture(job) && cxstream::Streams(in.sourceType, in.outType))
        return DecodePlan::RowsStreamed;
    // Only rows a decoder reads reduced (a JPEG's) are shrunk as they come;
    // any other file (whatever its name says) would be decoded whole by
    // that path too.
    const ImageFormat *content = FormatByType(in.contentType);
    if (PlanReadsHeader(job, in.outType) && (!content || content->facts.rowsIn == RowDecoding::ScaledRows))
        return DecodePlan::ShrinkWhileDecoding;
    return DecodePlan::Whole;
}
