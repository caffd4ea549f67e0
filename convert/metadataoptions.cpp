#include "convert/metadataoptions.h"

#include "imaging/colourprofile.h"
#include "imaging/cxfile.h"
#include "imaging/metadataio.h"

void ApplyMetadataOptions(CxMetadata &meta, const CConvertJob &job)
{
    if ((!job.m_bStripMetadata && !job.m_bStripLocation) || meta.Empty())
        return;
    // Where the location cannot be cut out of a damaged block, the block goes.
    if (job.m_bStripMetadata || !cxmeta::DropLocation(meta)) {
        meta.exif.clear();
        meta.xmp.clear();
        if (job.m_bStripMetadata)
            meta.iptc.clear();
    }
}

void ApplyMetadataOptions(CxImage &image, const CConvertJob &job)
{
    if ((!job.m_bStripMetadata && !job.m_bStripLocation) || image.GetMetadata().Empty())
        return;
    CxMetadata meta = image.GetMetadata();
    ApplyMetadataOptions(meta, job);
    image.SetMetadata(std::move(meta));
}

namespace {
constexpr std::size_t kMaxCopyBytes = std::size_t(1) << 31;
} // namespace

void PrepareColour(CxImage &image, std::uint32_t outType)
{
    if (!cxmeta::Carries(outType))
        cxcolour::ToSrgb(image);
}

bool StrippedCopy(const std::string &source, const CConvertJob &job, EncodedBytes &out)
{
    if (!job.m_bStripMetadata && !job.m_bStripLocation)
        return false;
    CxIOFile in;
    std::string bytes, stripped;
    if (!in.Open(source.c_str(), "rb") || !in.ReadAll(bytes, kMaxCopyBytes))
        return false;
    if (!cxmeta::StripFile(bytes, job.m_bStripMetadata, stripped))
        return false;
    CxMemFile mem;
    if (!mem.Open() || mem.Write(stripped.data(), 1, stripped.size()) != stripped.size())
        return false;
    out.size = std::size_t(mem.Size());
    out.data.reset(mem.GetBuffer(true));
    return out.data != nullptr;
}
