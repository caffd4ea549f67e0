#include "convert/filepreparer.h"

#include "convert/animation.h"
#include "imaging/cxanimation.h"
#include "imaging/cxfile.h"
#include "imaging/metadataio.h"
#include "convert/metadataoptions.h"
#include "convert/naming.h"
#include "convert/pipeline.h"
#include "imaging/rowband.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <sys/stat.h>

void EncodedBytes::Free::operator()(std::uint8_t *p) const
{
    CxMemFile::FreeBuffer(p);
}

bool IsRegularFile(const std::string &path, std::string *reason)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (reason)
            *reason = std::strerror(errno);
        return false;
    }
    if (S_ISREG(st.st_mode))
        return true;
    if (reason)
        *reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    return false;
}

namespace {

bool Encode(CxImage &image, std::uint32_t type, EncodedBytes &out)
{
    CxMemFile mem;
    if (!mem.Open() || !image.Encode(&mem, type) || mem.Error())
        return false;
    out.size = std::size_t(mem.Size());
    out.data.reset(mem.GetBuffer(true));
    return out.data != nullptr || out.size == 0;
}

} // namespace

std::string KeptOutput(const CConvertJob &job, int index)
{
    if ((job.m_nOverwrite != OVERWRITE_SKIP && job.m_nOverwrite != OVERWRITE_UPDATE) || !NameKnownBeforeDecoding(job))
        return {};
    const std::string &source = job.GetFile(index);
    std::string output = PlannedOutputPath(job, index, TypeFromExtension(LowerExtension(source))).path;
    return KeepsExistingOutput(job, source, output) ? output : std::string();
}

namespace {

PreparedFile PrepareUntimed(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop)
{
    const std::string &source = job.GetFile(index);
    PreparedFile r;
    // Folders, pipes and devices are never opened: a pipe would block.
    if (!IsRegularFile(source, &r.reason))
        return r;
    r.sourceType = TypeFromExtension(LowerExtension(source));
    r.outType = OutputTypeFor(job, source, r.sourceType);
    r.keptOutput = KeptOutput(job, index);
    if (!r.keptOutput.empty()) {
        r.kind = PreparedFile::Kind::Skipped;
        return r;
    }
    bool copy = !job.ChangesPixels() && r.outType == r.sourceType;
    // A copy that must lose metadata is rewritten without it, pixels
    // untouched, or else converted.
    if (copy && (job.m_bStripMetadata || job.m_bStripLocation) && cxmeta::Carries(r.sourceType))
        copy = StrippedCopy(source, job, r.bytes);

    image.SetAutoOrient(job.m_bAutoRotate);
    bool loaded = false;
    if (!copy && NeedsNoWholePicture(job) && cxstream::Streams(r.sourceType, r.outType)) {
        // Rows go from the decoder to the encoder as they come.
        const auto prepare = [&](CxImage &picture) {
            r.width = picture.GetWidth();
            r.height = picture.GetHeight();
            ApplyMetadataOptions(picture, job);
            // What PrepareForOutput sets besides pixels; the encoders take
            // a palette as it is.
            picture.SetJpegQuality(BYTE(job.m_nQuality));
        };
        CxMemFile mem;
        switch (cxstream::Convert(source.c_str(), r.outType, prepare, image, mem, r.reason)) {
        case cxstream::Outcome::Encoded:
            r.frames = 1;
            r.bytes.size = std::size_t(mem.Size());
            r.bytes.data.reset(mem.GetBuffer(true));
            r.kind = stop.stop_requested() ? PreparedFile::Kind::Stopped : PreparedFile::Kind::Encoded;
            return r;
        case cxstream::Outcome::DecodeFailed:
            return r;
        case cxstream::Outcome::EncodeFailed:
            r.kind = PreparedFile::Kind::EncodeFailed;
            return r;
        case cxstream::Outcome::Whole:
            loaded = true;
            break;
        }
    } else {
        image.SetLoadSizeRule(copy ? CxImage::LoadSizeRule() : ReducedDecodeRule(job));
        if (auto rule = ShrinkAsDecodedRule(job, r.outType)) {
            // A JPEG may be shrunk as its rows come, never held whole.
            ResampledRows shrunk(std::move(rule));
            loaded = image.LoadRows(source.c_str(), shrunk) && (image.IsValid() || shrunk.Take(image));
        } else {
            loaded = image.Load(source.c_str(), r.sourceType);
        }
        image.SetLoadSizeRule({});
    }
    if (!loaded) {
        r.reason = *image.GetLastError() ? image.GetLastError() : "cannot decode the image";
        return r;
    }
    r.frames = image.GetNumFrames();
    r.width = image.GetWidth();
    r.height = image.GetHeight();
    ApplyMetadataOptions(image, job);
    PrepareColour(image, r.outType);
    if (stop.stop_requested()) {
        r.kind = PreparedFile::Kind::Stopped;
    } else if (copy) {
        r.kind = PreparedFile::Kind::Copy;
    } else if (IsAnimationType(image.GetType()) && IsAnimationOutputType(r.outType) && r.frames > 1) {
        r.kind = PreparedFile::Kind::Animated;
        const ResizeTarget size = PlannedOutputSize(job, kAnimationSteps, image.GetWidth(), image.GetHeight());
        r.width = size.width;
        r.height = size.height;
    } else {
        const TransformOutcome t = TransformImage(image, job, {}, image.GetSrcWidth(), image.GetSrcHeight());
        if (stop.stop_requested()) {
            r.kind = PreparedFile::Kind::Stopped;
        } else if (t.failed) {
            r.kind = PreparedFile::Kind::Failed;
            r.reason = t.reason;
        } else {
            r.width = image.GetWidth();
            r.height = image.GetHeight();
            PrepareForOutput(image, r.outType, job, t.stampDrawn);
            bool ok = false;
            try {
                ok = Encode(image, r.outType, r.bytes);
                if (!ok)
                    r.reason = *image.GetLastError() ? image.GetLastError() : "cannot encode the image";
            } catch (const std::bad_alloc &) {
                r.reason = std::strerror(ENOMEM);
            }
            r.kind = ok ? PreparedFile::Kind::Encoded : PreparedFile::Kind::EncodeFailed;
        }
    }
    image.Destroy();
    return r;
}

} // namespace

PreparedFile PrepareFile(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop)
{
    const auto started = std::chrono::steady_clock::now();
    PreparedFile r = PrepareUntimed(job, index, image, stop);
    r.microseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    return r;
}
