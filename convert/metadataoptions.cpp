#include "convert/metadataoptions.h"

#include "imaging/colourprofile.h"
#include "imaging/formats.h"

#include <QtGlobal>
#include "imaging/cxfile.h"
#include "imaging/metadataio.h"
#include "imaging/metadatatags.h"

namespace {

bool Strips(const CConvertJob &job)
{
    return job.m_bStripMetadata || job.m_bStripLocation;
}

} // namespace

void ApplyMetadataOptions(CxMetadata &meta, const CConvertJob &job)
{
    // Where the location cannot be cut out of a damaged block, the block goes.
    if (Strips(job) && !meta.Empty() && (job.m_bStripMetadata || !cxmeta::DropLocation(meta))) {
        meta.exif.clear();
        meta.xmp.clear();
        if (job.m_bStripMetadata)
            meta.iptc.clear();
    }
    // What is set comes after the strip: "--strip --set" leaves only it.
    cxmeta::EditTags(meta, job.m_metaEdits);
}

void ApplyMetadataOptions(CxImage &image, const CConvertJob &job)
{
    if ((!Strips(job) || image.GetMetadata().Empty()) && !job.m_metaEdits.Any())
        return;
    CxMetadata meta = image.GetMetadata();
    ApplyMetadataOptions(meta, job);
    image.SetMetadata(std::move(meta));
}

namespace {
constexpr std::size_t kMaxCopyBytes = std::size_t(1) << 31;
} // namespace

const char *const kEncodedForMetadataNote = QT_TRANSLATE_NOOP(
    "velmora-batch", "metadata cannot be written into AVIF/HEIC files as they are: they are encoded again");

bool EncodedForMetadata(const CConvertJob &job, std::uint32_t sourceType)
{
    const ImageFormat *source = FormatByType(sourceType);
    if (!job.m_metaEdits.Any() || !source || !source->Has(FORMAT_METADATA) || job.ChangesPixels() ||
        job.RendersAnew(sourceType))
        return false;
    const std::uint32_t outType = job.GetOutputType();
    return (outType == 0 || outType == sourceType) &&
           (source->facts.blockWriter == BlockWriter::Encoder || !source->Writable());
}

void PrepareColour(CxImage &image, std::uint32_t outType)
{
    if (!cxmeta::Carries(outType))
        cxcolour::ToSrgb(image);
}

bool CopyEditsMetadata(const CConvertJob &job)
{
    return Strips(job) || job.m_metaEdits.Any();
}

bool RewriteMetadata(const std::string &file, const CConvertJob &job, std::string &out)
{
    const cxmeta::Strip strip = job.m_bStripMetadata   ? cxmeta::Strip::All
                                : job.m_bStripLocation ? cxmeta::Strip::Location
                                                       : cxmeta::Strip::None;
    return cxmeta::RewriteFile(file, strip, job.m_metaEdits.Any() ? &job.m_metaEdits : nullptr, out);
}

bool StrippedCopy(const std::string &source, const CConvertJob &job, EncodedBytes &out)
{
    if (!CopyEditsMetadata(job))
        return false;
    CxIOFile in;
    std::string bytes, stripped;
    if (!in.Open(source.c_str(), "rb") || !in.ReadAll(bytes, kMaxCopyBytes))
        return false;
    if (!RewriteMetadata(bytes, job, stripped))
        return false;
    CxMemFile mem;
    if (!mem.Open() || mem.Write(stripped.data(), 1, stripped.size()) != stripped.size())
        return false;
    out.size = std::size_t(mem.Size());
    out.data.reset(mem.GetBuffer(true));
    return out.data != nullptr;
}
