#include "convert/decodeplan.h"

#include "convert/pipeline.h"
#include "imaging/rowband.h"

namespace {

bool CopiesPlainly(const CConvertJob &job, const PlanInput &in)
{
    return !in.copyRefused && !job.ChangesPixels() && in.outType == in.sourceType;
}

} // namespace

bool PlanReadsHeader(const CConvertJob &job, std::uint32_t outType)
{
    return static_cast<bool>(ShrinkAsDecodedRule(job, outType));
}

DecodePlan ChooseDecodePlan(const CConvertJob &job, const PlanInput &in)
{
    if (CopiesPlainly(job, in))
        return DecodePlan::PlainCopy;
    if (NeedsNoWholePicture(job) && cxstream::Streams(in.sourceType, in.outType))
        return DecodePlan::RowsStreamed;
    // Only a JPEG's rows are shrunk as they come; any other file (whatever
    // its name says) would be decoded whole by that path too.
    if (PlanReadsHeader(job, in.outType) && (!in.contentType || in.contentType == CXIMAGE_FORMAT_JPG))
        return DecodePlan::ShrinkWhileDecoding;
    return DecodePlan::Whole;
}
