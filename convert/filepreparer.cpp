#include "convert/filepreparer.h"

#include "convert/animation.h"
#include "convert/decodeplan.h"
#include "convert/losslessway.h"
#include "convert/metadataoptions.h"
#include "convert/naming.h"
#include "convert/outputfit.h"
#include "convert/pipeline.h"
#include "imaging/cxanimation.h"
#include "imaging/cxfile.h"
#include "imaging/documentwriter.h"
#include "imaging/formats.h"
#include "imaging/imageheader.h"
#include "imaging/metadataio.h"
#include "imaging/rowband.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

void EncodedBytes::Free::operator()(std::uint8_t *p) const
{
    CxMemFile::FreeBuffer(p);
}

OwnedFd &OwnedFd::operator=(OwnedFd &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

OwnedFd::~OwnedFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
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
        *reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR)
                                      : QT_TRANSLATE_NOOP("FileRecord", "not a regular file");
    return false;
}

namespace {

std::atomic<long long> g_decodes{0};

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

long long DecodeCount()
{
    return g_decodes.load();
}

namespace {

thread_local EncodeStartsHook t_encodeStarts;

} // namespace

void EncodeStarts(const CxImage &picture)
{
    if (EncodeStartsHook hook = std::move(t_encodeStarts)) {
        t_encodeStarts = nullptr;
        hook(picture);
    }
}

void SetEncodeStartsHook(EncodeStartsHook hook)
{
    t_encodeStarts = std::move(hook);
}

bool EncodeOutput(CxImage &picture, std::uint32_t outType, const CConvertJob &job, bool stampDrawn,
                  EncodedBytes &bytes, std::string &reason)
{
    PrepareForOutput(picture, outType, job, stampDrawn);
    bool ok = false;
    try {
        ok = Encode(picture, outType, bytes);
        if (!ok)
            reason = *picture.GetLastError() ? picture.GetLastError()
                                             : QT_TRANSLATE_NOOP("FileRecord", "cannot encode the image");
    } catch (const std::bad_alloc &) {
        reason = std::strerror(ENOMEM);
    }
    return ok;
}

std::string KeptOutput(const CConvertJob &job, int index)
{
    if ((job.m_nOverwrite != OVERWRITE_SKIP && job.m_nOverwrite != OVERWRITE_UPDATE) || !NameKnownBeforeDecoding(job))
        return {};
    const std::string &source = job.GetFile(index);
    std::string output = PlannedOutputPath(job, index, SourceTypeFromExtension(LowerExtension(source))).path;
    return KeepsExistingOutput(job, source, output) ? output : std::string();
}

namespace {

// The plan for source; a copy that must lose metadata is rewritten here
// without it, pixels untouched, or else converted.
DecodePlan PlanFor(const CConvertJob &job, int index, PreparedFile &r, bool losslessRefused = false)
{
    const std::string &source = job.GetFile(index);
    PlanInput in{.sourceType = r.sourceType,
                 .outType = r.outType,
                 .losslessRefused = losslessRefused,
                 .page = job.GetPage(index)};
    if (PlanReadsHeader(job, r.outType))
        in.contentType = ProbeImageType(source.c_str());
    DecodePlan plan = ChooseDecodePlan(job, in);
    if (plan == DecodePlan::PlainCopy && CopyEditsMetadata(job) && cxmeta::Carries(r.sourceType) &&
        !StrippedCopy(source, job, r.bytes)) {
        in.copyRefused = true;
        plan = ChooseDecodePlan(job, in);
    }
    // A copy over the size limit is encoded instead.
    if (plan == DecodePlan::PlainCopy && job.m_nMaxFileSize > 0) {
        struct stat st;
        const std::int64_t size =
            r.bytes.data ? std::int64_t(r.bytes.size) : stat(source.c_str(), &st) == 0 ? std::int64_t(st.st_size) : 0;
        if (size > job.m_nMaxFileSize) {
            r.bytes = {};
            in.copyRefused = true;
            plan = ChooseDecodePlan(job, in);
        }
    }
    return plan;
}

CxDecodeRequest RequestFor(const CConvertJob &job, DecodePlan plan)
{
    CxDecodeRequest req;
    req.autoOrient = job.m_bAutoRotate;
    // A JPEG the resize shrinks a lot is decoded at a reduced scale.
    if (plan == DecodePlan::ShrinkWhileDecoding || plan == DecodePlan::Whole)
        req.hintRule = ReducedDecodeRule(job);
    // A drawing is rendered at the size the resize makes, never scaled after.
    req.renderRule = RenderSizeRule(job);
    req.renderDpi = job.m_nRenderDpi;
    return req;
}

// An output in its source's format and size, nothing drawn on it and not
// turned, that came out larger than its source: the source is copied
// instead, its metadata as the job keeps it (where a copy cannot lose what
// the job drops, the rewrite stays).
void KeepSmallerSource(const CConvertJob &job, const std::string &source, bool sameSize, bool drawn,
                       PreparedFile &r)
{
    struct stat st;
    if (!job.m_bKeepIfLarger || r.kind != PreparedFile::Kind::Encoded || r.outType != r.sourceType ||
        !sameSize || drawn || (job.m_bRotate && job.m_nrotateType != ROTATE_NONE) || job.m_edits.ChangesPixels() ||
        stat(source.c_str(), &st) != 0 || r.bytes.size <= std::size_t(st.st_size))
        return;
    EncodedBytes copy;
    if (CopyEditsMetadata(job) && cxmeta::Carries(r.sourceType) && !StrippedCopy(source, job, copy))
        return;
    r.bytes = std::move(copy);
    r.kind = PreparedFile::Kind::Copy;
    r.way = FileWay::Kept;
}

// The fewest bytes a picture can take as outType: its samples at the
// fewest bits its colours need, exactly so uncompressed; deflate packs flat
// colour about a thousand to one, and a JPEG spends a few bits at least on
// each block of every component.
std::uint64_t LeastEncodedBytes(const CxImage &picture, std::uint32_t outType, const CEncoderSettings &settings)
{
    const std::uint64_t pixels = std::uint64_t(picture.GetWidth()) * std::uint64_t(picture.GetHeight());
    const int colours = picture.GetNumColors();
    const std::uint64_t bits = picture.GetBpp() == 24 ? (picture.AlphaIsValid() ? 32 : 24)
                               : colours <= 2        ? 1
                               : colours <= 4        ? 2
                               : colours <= 16       ? 4
                                                     : 8;
    const std::uint64_t bytes = pixels * bits / 8;
    if (outType == CXIMAGE_FORMAT_TIF && settings.m_nTifCompression == TIFCOMPRESS_NONE)
        return bytes;
    return outType == CXIMAGE_FORMAT_JPG ? pixels / 1024 : bytes / 1032;
}

// Rows go from the decoder to the encoder as they come. True when r is
// final; false when the decoder gave the whole picture into image instead.
// shrink (when given) shrinks the rows first.
} // namespace

std::string OutputFolder(const CConvertJob &job, const std::string &source)
{
    const std::size_t slash = source.rfind('/');
    return !job.m_szOutDir.empty()      ? job.m_szOutDir
           : slash == std::string::npos ? std::string(".")
                                        : source.substr(0, std::max<std::size_t>(slash, 1));
}

namespace {

bool StreamRows(const CConvertJob &job, const std::string &source, CxImage &image, const CxDecodeRequest &req,
                const std::stop_token &stop, std::size_t spoolAbove, PreparedFile &r,
                ResampledRows *shrink = nullptr, CxTurnedRows *turn = nullptr)
{
    // A large output goes to a file in the folder it is written to, so it
    // can be named there without leaving the disk.
    const std::string folder = spoolAbove ? OutputFolder(job, source) : std::string();
    const auto prepare = [&](CxImage &picture) {
        r.width = picture.GetWidth();
        r.height = picture.GetHeight();
        ApplyMetadataOptions(picture, job);
        // What PrepareForOutput sets besides pixels; the encoders take a
        // palette as it is.
        picture.SetJpegQuality(Stamps(job) ? BYTE(95) : BYTE(job.m_nQuality));
        picture.SetEncoderSettings(job.m_encoder);
        // A large output that cannot fit on the disk it goes to fails before
        // its first row rather than when the disk is full (a file system
        // that tells no sizes is taken at its word).
        const std::uint64_t least = LeastEncodedBytes(picture, r.outType, job.m_encoder);
        struct statvfs fs;
        if (!folder.empty() && least > spoolAbove && statvfs(folder.c_str(), &fs) == 0 && fs.f_blocks > 0 &&
            least > std::uint64_t(fs.f_bavail) * fs.f_frsize)
            return std::string(QT_TRANSLATE_NOOP("FileRecord", "not enough free space in the output folder"));
        return std::string();
    };
    CxSpillFile out(folder, spoolAbove ? spoolAbove : SIZE_MAX);
    out.Open();
    ++g_decodes;
    const CxTurnedRows::Turn turned = TurnOf(job);
    const RowEditsOf edits(job, turn ? &turned : nullptr);
    if (turn) {
        turn->CountInto(edits.Counts());
        // What the rows read back go through must take them, or nothing is
        // stored (a shrink takes colour without alpha, or grey).
        turn->TakesOnly(
            [&edits, shrink](const CxImage &facts, const CxMetadata &meta, int width, int height) {
                const CxRowEdits &e = edits.edits;
                if (shrink && shrink->Declines(width, height, meta))
                    return false;
                if (facts.GetBpp() == 24)
                    return !(shrink && facts.AlphaIsValid());
                return facts.GetBpp() == 8 && !e.filter && !e.border && !e.stamp &&
                       (!e.step || e.step->Takes(8)) &&
                       (!shrink || (facts.IsGrayScale() && facts.GetTransIndex() < 0));
            });
    }
    switch (cxstream::Convert(source.c_str(), r.outType, prepare, image, out, r.reason, req, edits.edits,
                              shrink, turn)) {
    case cxstream::Outcome::Encoded:
        r.frames = 1;
        r.bytes.size = std::size_t(out.Size());
        if (out.Spilled())
            r.bytes.spool = OwnedFd(out.TakeFd());
        else
            r.bytes.data.reset(out.TakeBuffer());
        r.kind = stop.stop_requested() ? PreparedFile::Kind::Stopped : PreparedFile::Kind::Encoded;
        // Rows go through unresized unless shrunk (their edits, a watermark
        // too, keep the output whatever its size).
        KeepSmallerSource(job, source, !shrink, Stamps(job), r);
        return true;
    case cxstream::Outcome::DecodeFailed:
        return true;
    case cxstream::Outcome::EncodeFailed:
        r.kind = PreparedFile::Kind::EncodeFailed;
        return true;
    case cxstream::Outcome::Whole:
        break;
    }
    return false;
}

// A JPEG shrunk as its rows come, never held whole; any other picture, or
// one the sink declines, is decoded whole as Load would.
bool LoadShrunk(const CConvertJob &job, const std::string &source, std::uint32_t outType, CxImage &image,
                const CxDecodeRequest &req, bool pastLimit = false)
{
    ResampledRows shrunk(ShrinkAsDecodedRule(job, outType), pastLimit);
    ++g_decodes;
    return image.LoadRows(source.c_str(), shrunk, req) &&
           (image.IsValid() || shrunk.Take(image, req.autoOrient));
}

// Under the job's size limit: the best output that fits, or the file's
// error saying how close it came.
void EncodeFitted(const CConvertJob &job, const std::string &source, CxImage &image, bool stampDrawn,
                  const std::stop_token &stop, PreparedFile &r)
{
    const std::int64_t sourceWidth = image.GetSrcWidth(), sourceHeight = image.GetSrcHeight();
    const bool sameSize = r.width == sourceWidth && r.height == sourceHeight;
    FittedOutput fitted =
        EncodeWithinLimit(image, r.outType, job, stampDrawn, [&stop] { return stop.stop_requested(); });
    r.fit = {true, fitted.quality, fitted.encodes, fitted.shrunk, fitted.width, fitted.height};
    switch (fitted.outcome) {
    case FittedOutput::Outcome::Fitted:
        r.kind = PreparedFile::Kind::Encoded;
        r.bytes = std::move(fitted.bytes);
        r.width = fitted.width;
        r.height = fitted.height;
        break;
    case FittedOutput::Outcome::Stopped:
        r.kind = PreparedFile::Kind::Stopped;
        return;
    case FittedOutput::Outcome::TooLarge:
    case FittedOutput::Outcome::EncodeFailed:
        r.kind = PreparedFile::Kind::EncodeFailed;
        r.reason = fitted.reason;
        return;
    }
    KeepSmallerSource(job, source, sameSize && !fitted.shrunk, stampDrawn, r);
    if (r.kind == PreparedFile::Kind::Copy)
        r.fit = {};
}

// The output of a picture the steps are done on (t tells how they went).
void FinishOutput(const CConvertJob &job, const std::string &source, CxImage &image,
                  const TransformOutcome &t, const std::stop_token &stop, PreparedFile &r)
{
    if (stop.stop_requested()) {
        r.kind = PreparedFile::Kind::Stopped;
        return;
    }
    if (t.failed) {
        r.kind = PreparedFile::Kind::Failed;
        r.reason = t.reason;
        return;
    }
    r.width = image.GetWidth();
    r.height = image.GetHeight();
    EncodeStarts(image);
    if (job.m_nMaxFileSize > 0) {
        EncodeFitted(job, source, image, t.stampDrawn, stop, r);
        return;
    }
    const bool ok = EncodeOutput(image, r.outType, job, t.stampDrawn, r.bytes, r.reason);
    r.kind = ok ? PreparedFile::Kind::Encoded : PreparedFile::Kind::EncodeFailed;
    KeepSmallerSource(job, source, r.width == image.GetSrcWidth() && r.height == image.GetSrcHeight(),
                      t.stampDrawn, r);
}

void TransformAndEncode(const CConvertJob &job, const std::string &source, CxImage &image,
                        const std::stop_token &stop, PreparedFile &r)
{
    const TransformOutcome t = TransformImage(image, job, {}, image.GetSrcWidth(), image.GetSrcHeight());
    FinishOutput(job, source, image, t, stop, r);
}

// What becomes of a picture decoded whole.
void FinishDecoded(const CConvertJob &job, const std::string &source, CxImage &image, bool copy,
                   const std::stop_token &stop, PreparedFile &r)
{
    r.frames = image.GetNumFrames();
    r.width = image.GetWidth();
    r.height = image.GetHeight();
    if (!copy)
        EncodeStarts(image);
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
        TransformAndEncode(job, source, image, stop, r);
    }
    image.Destroy();
}

// The file's types, and whether an existing output it is kept for ends its
// way here; false when nothing more is to be done for it.
bool BeginFile(const CConvertJob &job, int index, PreparedFile &r)
{
    const std::string &source = job.GetFile(index);
    // Folders, pipes and devices are never opened: a pipe would block.
    if (!IsRegularFile(source, &r.reason))
        return false;
    r.sourceType = SourceTypeFromExtension(LowerExtension(source));
    r.outType = OutputTypeFor(job, source, r.sourceType);
    r.keptOutput = KeptOutput(job, index);
    if (!r.keptOutput.empty()) {
        r.kind = PreparedFile::Kind::Skipped;
        return false;
    }
    return true;
}

// A JPEG no step changes goes into its one-page PDF as its own bytes (less
// the metadata the job drops); false leaves it to be decoded. One its EXIF
// turns is decoded, so that the job's auto-rotation decides.
bool JpegAsPdf(const CConvertJob &job, const std::string &source, PreparedFile &r)
{
    constexpr std::size_t kMostBytes = std::size_t(1) << 31;
    if (job.ChangesPixels() || job.m_nMaxFileSize > 0 || ProbeImageType(source.c_str()) != CXIMAGE_FORMAT_JPG)
        return false;
    EncodedBytes stripped;
    std::string read;
    const bool strips = job.m_bStripMetadata || job.m_bStripLocation;
    if (strips && !StrippedCopy(source, job, stripped))
        return false;
    if (!strips) {
        CxIOFile in;
        if (!in.Open(source.c_str(), "rb") || !in.ReadAll(read, kMostBytes))
            return false;
    }
    const auto *data = strips ? stripped.data.get() : reinterpret_cast<const std::uint8_t *>(read.data());
    const std::size_t size = strips ? stripped.size : read.size();
    ImageHeader header;
    if (!ProbeImageHeader(data, size, header) || header.type != CXIMAGE_FORMAT_JPG || header.orientation != 1)
        return false;
    CxImage settings;
    settings.SetEncoderSettings(job.m_encoder);
    settings.SetJpegQuality(BYTE(job.m_nQuality));
    CxMemFile mem;
    std::string why;
    if (!mem.Open() || !EncodePdfOfEncoded(data, size, settings, mem, &why) || mem.Error())
        return false;
    r.bytes.size = std::size_t(mem.Size());
    r.bytes.data.reset(mem.GetBuffer(true));
    r.kind = PreparedFile::Kind::Encoded;
    r.frames = 1;
    r.width = header.width;
    r.height = header.height;
    return r.bytes.data != nullptr;
}

// A picture too large to hold, shrunk as its rows are read, where what
// follows the shrink goes by row: its shrunk rows encoded as they are made,
// neither picture held. True when r is final; false when declined (shrunk
// so much it is box-averaged first, or not a shrink), image then empty.
bool StreamShrunkPastLimit(const CConvertJob &job, const std::string &source, CxImage &image,
                           const CxDecodeRequest &req, const std::stop_token &stop, std::size_t spoolAbove,
                           PreparedFile &r)
{
    ResampledRows::SizeRule rule = ShrinkAsDecodedRule(job, r.outType);
    if (!rule || !RowsAfterShrink(job) || !cxstream::Streams(r.sourceType, r.outType))
        return false;
    ResampledRows shrink(std::move(rule), true);
    const std::string before = r.reason;
    if (StreamRows(job, source, image, req, stop, spoolAbove, r, &shrink) &&
        r.kind != PreparedFile::Kind::NotLoaded)
        return true;
    r.reason = before;
    image.Destroy();
    return false;
}

// A picture too large to hold that the job turns (or its file records
// turned): turned through tiles in a temporary file, then what follows
// the turn done on its rows as they are read back. True when r is final.
bool StreamTurnedPastLimit(const CConvertJob &job, const std::string &source, CxImage &image,
                           const CxDecodeRequest &req, const std::stop_token &stop, std::size_t spoolAbove,
                           PreparedFile &r)
{
    if (!TurnsOnDisk(job) || !cxstream::Streams(r.sourceType, r.outType))
        return false;
    ResampledRows::SizeRule rule = ShrinkAfterTurnRule(job, r.outType);
    if (job.m_bResize && !rule)
        return false;
    std::optional<ResampledRows> shrink;
    if (rule)
        shrink.emplace(std::move(rule), true);
    CxDecodeRequest stored = req;
    stored.autoOrient = false; // the turn puts it upright
    CxTurnedRows turn(OutputFolder(job, source), TurnOf(job));
    const std::string before = r.reason;
    const bool final =
        StreamRows(job, source, image, stored, stop, spoolAbove, r, shrink ? &*shrink : nullptr, &turn);
    if (!turn.Failure().empty() && turn.Failure() != "image too large") {
        image.Destroy();
        r.reason = turn.Failure();
        return true;
    }
    if (final && r.kind != PreparedFile::Kind::NotLoaded)
        return true;
    r.reason = before;
    image.Destroy();
    return false;
}

// Takes the rows of a picture decoded only to know it is sound, and lets
// each go.
class SoundRows final : public cxcodec::RowSink {
public:
    explicit SoundRows(const std::stop_token &stop) : m_stop(stop) {}
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &) override
    {
        return CxImageAccess::CreateBand(m_band, width, height, bpp, type, 1) ? &m_band : nullptr;
    }
    bool Room(int) override { return !m_stop.stop_requested(); }
    void Filled(int) override {}
    bool Repeatable() const override { return true; }
    const CxImage &Band() const { return m_band; }

private:
    const std::stop_token &m_stop;
    CxImage m_band;
};

// A plain copy's source is decoded only to know that it is sound: where its
// decoder gives rows one by one (a JPEG, PNG, TIFF or PNM), they are looked
// at and let go, so that no picture is held for a copy and one too large to
// hold is copied too. True when r is final; false to decode it whole as
// usual (the decoder gave the picture whole, or failed where a whole decode
// may not: that one then says what is wrong, unless it refuses the picture
// as too large to hold, when failure does).
bool CopyCheckedByRows(const CConvertJob &job, const std::string &source, CxImage &image, CxDecodeRequest req,
                       const std::stop_token &stop, PreparedFile &r, std::string &failure)
{
    const ImageFormat *format = FormatByType(ProbeImageType(source.c_str()));
    if (!format || format->facts.rowsIn == RowDecoding::Whole)
        return false;
    // Its size is the rows' turned upright where the job turns it, so a
    // stored turn need not keep them together.
    req.autoOrient = false;
    SoundRows rows(stop);
    ++g_decodes;
    const bool ok = image.LoadRows(source.c_str(), rows, req);
    const bool whole = image.IsValid();
    if (!ok)
        failure = image.GetLastError();
    image.Destroy();
    if (stop.stop_requested()) {
        r.kind = PreparedFile::Kind::Stopped;
        return true;
    }
    if (!ok || whole)
        return false;
    const CxImage &band = rows.Band();
    const bool across = job.m_bAutoRotate && band.GetOrientation() >= 5;
    r.frames = 1;
    r.width = across ? band.GetHeight() : band.GetWidth();
    r.height = across ? band.GetWidth() : band.GetHeight();
    r.kind = PreparedFile::Kind::Copy;
    return true;
}

PreparedFile PrepareOne(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop,
                        std::size_t spoolAbove)
{
    const std::string &source = job.GetFile(index);
    PreparedFile r;
    if (!BeginFile(job, index, r))
        return r;
    if (r.outType == CXIMAGE_FORMAT_PDF && JpegAsPdf(job, source, r))
        return r;
    DecodePlan plan = PlanFor(job, index, r);
    // What cannot be made from the coefficients is decoded.
    if (plan == DecodePlan::LosslessTransform) {
        if (PrepareFromCoefficients(job, source, r)) {
            if (job.m_nMaxFileSize == 0 || std::int64_t(r.bytes.size) <= job.m_nMaxFileSize)
                return r;
            // Over the size limit: encoded instead.
            r.bytes = {};
            r.kind = PreparedFile::Kind::NotLoaded;
            r.way = FileWay::Usual;
        }
        plan = PlanFor(job, index, r, true);
    }
    CxDecodeRequest req = RequestFor(job, plan);
    req.page = job.GetPage(index);
    bool loaded = true;
    const char *why = nullptr; // what the failure is told as, where not the decoder's own words
    std::string copyFailure;   // why a copy's rows could not be read
    switch (plan) {
    case DecodePlan::RowsStreamed:
        if (StreamRows(job, source, image, req, stop, spoolAbove, r)) {
            // Too large to hold, and turned by its file's orientation.
            if (r.kind == PreparedFile::Kind::NotLoaded && r.reason == "image too large" && req.page <= 1)
                StreamTurnedPastLimit(job, source, image, req, stop, spoolAbove, r);
            return r;
        }
        break; // the picture came whole
    case DecodePlan::ShrinkWhileDecoding:
        loaded = LoadShrunk(job, source, r.outType, image, req);
        // Too large to hold even shrunk (a shrink the decoder's scales do
        // not reach, to a picture too large to hold whole): its shrunk rows
        // may still go on as they are made.
        if (!loaded && std::strcmp(image.GetLastError(), "image too large") == 0 && req.page <= 1) {
            if (StreamShrunkPastLimit(job, source, image, req, stop, spoolAbove, r))
                return r;
            why = "image too large";
        }
        break;
    case DecodePlan::PlainCopy:
        if (CopyCheckedByRows(job, source, image, req, stop, r, copyFailure))
            return r;
        [[fallthrough]];
    case DecodePlan::LosslessTransform: // refused above
    case DecodePlan::Whole:
        ++g_decodes;
        loaded = image.Load(source.c_str(), r.sourceType, req);
        // A picture too large to hold whose first step shrinks it is shrunk
        // as its rows are read (and, where what follows goes by row, its
        // shrunk rows encoded as they are made); otherwise it stays
        // refused, as it was.
        if (!loaded && std::strcmp(image.GetLastError(), "image too large") == 0 &&
            ShrinkAsDecodedRule(job, r.outType) && req.page <= 1) {
            if (StreamShrunkPastLimit(job, source, image, req, stop, spoolAbove, r))
                return r;
            loaded = LoadShrunk(job, source, r.outType, image, req, true);
            why = "image too large";
        }
        break;
    }
    // A copy too large to hold whose rows could not be read fails as they
    // did.
    if (!loaded && plan == DecodePlan::PlainCopy && !copyFailure.empty() &&
        std::strcmp(image.GetLastError(), "image too large") == 0)
        why = copyFailure.c_str();
    // A picture too large to hold that is turned may be turned on disk; or,
    // shrunk a great deal after, box-averaged as its rows come and turned
    // held.
    if (!loaded && plan != DecodePlan::PlainCopy && req.page <= 1 &&
        std::strcmp(why ? why : image.GetLastError(), "image too large") == 0) {
        if (StreamTurnedPastLimit(job, source, image, req, stop, spoolAbove, r))
            return r;
        if (ResampledRows::SizeRule boxed = BoxedBeforeTurnRule(job, r.outType)) {
            ResampledRows shrunk(std::move(boxed), true);
            ++g_decodes;
            loaded = image.LoadRows(source.c_str(), shrunk, req) &&
                     (image.IsValid() || shrunk.Take(image, req.autoOrient));
            if (!loaded)
                image.Destroy();
        }
    }
    if (!loaded) {
        r.reason = why                    ? why
                   : *image.GetLastError() ? image.GetLastError()
                                           : QT_TRANSLATE_NOOP("FileRecord", "cannot decode the image");
        return r;
    }
    FinishDecoded(job, source, image, plan == DecodePlan::PlainCopy, stop, r);
    return r;
}

// A decode as large as the largest of the sizes needs: reduced only where
// every size would reduce it, to the largest hint any of them gives.
CxDecodeRequest::LoadSizeRule LargestDecodeRule(const std::vector<CConvertJob> &jobs)
{
    std::vector<CxDecodeRequest::LoadSizeRule> rules;
    for (const CConvertJob &job : jobs) {
        CxDecodeRequest::LoadSizeRule rule = ReducedDecodeRule(job);
        if (!rule)
            return {};
        rules.push_back(std::move(rule));
    }
    return [rules = std::move(rules)](int srcW, int srcH, int &hintW, int &hintH) {
        int w = 0, h = 0;
        for (const auto &rule : rules) {
            int rw = 0, rh = 0;
            rule(srcW, srcH, rw, rh);
            if (rw <= 0 || rh <= 0)
                return; // this size needs the whole picture
            w = std::max(w, rw);
            h = std::max(h, rh);
        }
        hintW = w;
        hintH = h;
    };
}

// Where every size's resize is the first step to see the pixels: the rows
// shrunk as they are decoded to the largest size any of them gives (as one
// resize to that size shrinks them), so the whole picture is never held.
// Empty when any size needs the picture as decoded.
ResampledRows::SizeRule LargestShrinkRule(const std::vector<CConvertJob> &jobs, std::uint32_t outType)
{
    std::vector<ResampledRows::SizeRule> rules;
    for (const CConvertJob &job : jobs) {
        ResampledRows::SizeRule rule = ShrinkAsDecodedRule(job, outType);
        if (!rule)
            return {};
        rules.push_back(std::move(rule));
    }
    return [rules = std::move(rules)](int fileW, int fileH, const CxMetadata &meta, int &width, int &height) {
        std::int64_t most = 0;
        for (const auto &rule : rules) {
            int w = 0, h = 0;
            if (!rule(fileW, fileH, meta, w, h))
                return false;
            if (std::int64_t(w) * h > most) {
                most = std::int64_t(w) * h;
                width = w;
                height = h;
            }
        }
        return most > 0;
    };
}

// A drawing rendered as large as the largest of the sizes needs: a size the
// resize leaves (or cannot tell) needs its own size.
CxDecodeRequest::LoadSizeRule LargestRenderRule(const std::vector<CConvertJob> &jobs)
{
    std::vector<CxDecodeRequest::LoadSizeRule> rules;
    for (const CConvertJob &job : jobs)
        rules.push_back(RenderSizeRule(job));
    return [rules = std::move(rules)](int srcW, int srcH, int &hintW, int &hintH) {
        int w = 0, h = 0;
        for (const auto &rule : rules) {
            int rw = 0, rh = 0;
            if (rule)
                rule(srcW, srcH, rw, rh);
            if (rw <= 0 || rh <= 0) {
                rw = srcW;
                rh = srcH;
            }
            w = std::max(w, rw);
            h = std::max(h, rh);
        }
        hintW = w;
        hintH = h;
    };
}

// One size's output made from `from` (the decoded picture, or a larger
// size's resized one): the resize, then the sharpen and the watermark, as
// TransformImage does them. resized (when given) gets the picture between.
// The picture is turned already: fileW x fileH is the file's size turned.
// spare, when given, is from, no longer needed by the sizes after this one.
void MakeSize(const CConvertJob &job, const std::string &source, const CxImage &from, int fileW, int fileH,
              CxImage *resized, CxImage *spare, const std::stop_token &stop, PreparedFile &r)
{
    // The steps before the rotation are done already, once for every size.
    const CConvertJob inside = WithBorderInside(job);
    CConvertJob geometry = inside;
    geometry.SetRotateFlag(false);
    geometry.SetSharpen(false);
    geometry.SetStampFlag(false);
    geometry.m_logo.reset();
    geometry.m_edits = {};
    geometry.m_edits.cropRatioFollows = inside.m_edits.cropRatioFollows;
    CxImage picture;
    TransformOutcome t = ReframeCopy(from, picture, geometry, fileW, fileH, spare);
    if (!t.failed) {
        if (resized)
            *resized = picture;
        CConvertJob finish = geometry;
        finish.SetResizeFlag(false);
        finish.m_nCropRatioW = finish.m_nCropRatioH = 0;
        finish.m_edits.tone = inside.m_edits.tone;
        finish.m_edits.border = inside.m_edits.border;
        finish.m_edits.borderColor = inside.m_edits.borderColor;
        finish.SetSharpen(job.m_bSharpen == 1);
        finish.SetStampFlag(job.m_bStamp);
        finish.m_logo = job.m_logo;
        t = TransformImage(picture, finish);
    }
    FinishOutput(job, source, picture, t, stop, r);
}

// The outputs of several sizes from one decode. The sizes' outputs an
// existing file is kept for are not made; none is decoded when all are.
PreparedFile PrepareSizes(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop)
{
    using Kind = PreparedFile::Kind;
    const std::string &source = job.GetFile(index);
    std::vector<CConvertJob> jobs;
    for (std::size_t k = 0; k < job.m_sizes.size(); ++k)
        jobs.push_back(job.ForSize(k));
    PreparedFile first;
    if (!IsRegularFile(source, &first.reason))
        return first;
    first.sourceType = SourceTypeFromExtension(LowerExtension(source));
    first.outType = OutputTypeFor(job, source, first.sourceType);
    std::vector<PreparedFile> outs(jobs.size());
    bool anyToMake = false;
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        outs[k].sourceType = first.sourceType;
        outs[k].outType = first.outType;
        outs[k].keptOutput = KeptOutput(jobs[k], index);
        if (!outs[k].keptOutput.empty())
            outs[k].kind = Kind::Skipped;
        anyToMake = anyToMake || outs[k].keptOutput.empty();
    }
    const auto joined = [&outs] {
        PreparedFile r = std::move(outs.front());
        r.more.assign(std::make_move_iterator(outs.begin() + 1), std::make_move_iterator(outs.end()));
        return r;
    };
    if (!anyToMake)
        return joined();
    // A resize always runs, so the picture is never copied, streamed or
    // turned on its coefficients: it is decoded once, its rows shrunk as
    // they come where every size allows it.
    CxDecodeRequest req;
    req.autoOrient = job.m_bAutoRotate;
    req.hintRule = LargestDecodeRule(jobs);
    req.renderRule = LargestRenderRule(jobs);
    req.renderDpi = job.m_nRenderDpi;
    req.page = job.GetPage(index);
    ResampledRows::SizeRule shrink = LargestShrinkRule(jobs, first.outType);
    const ImageFormat *content = shrink ? FormatByType(ProbeImageType(source.c_str())) : nullptr;
    bool loaded = false;
    ++g_decodes;
    if (shrink && (!content || content->facts.rowsIn == RowDecoding::ScaledRows)) {
        ResampledRows shrunk(std::move(shrink));
        loaded = image.LoadRows(source.c_str(), shrunk, req) && (image.IsValid() || shrunk.Take(image, req.autoOrient));
    } else {
        loaded = image.Load(source.c_str(), first.sourceType, req);
    }
    if (!loaded) {
        const std::string reason = *image.GetLastError()
                                       ? image.GetLastError()
                                       : QT_TRANSLATE_NOOP("FileRecord", "cannot decode the image");
        for (PreparedFile &out : outs)
            if (out.kind != Kind::Skipped)
                out.reason = reason;
        return joined();
    }
    const int frames = image.GetNumFrames();
    ApplyMetadataOptions(image, job);
    PrepareColour(image, first.outType);
    const bool animated =
        IsAnimationType(image.GetType()) && IsAnimationOutputType(first.outType) && frames > 1;
    // Turned once for every size.
    int fileW = image.GetSrcWidth(), fileH = image.GetSrcHeight();
    if (!animated && (job.m_bRotate || job.m_edits.BeforeRotation())) {
        CConvertJob turn;
        turn.SetRotateFlag(job.m_bRotate);
        turn.SetRotation(job.m_nrotateType);
        TransformOutcome t;
        if (!CutAndFlip(image, job, fileW, fileH, nullptr, t.reason)) {
            t.failed = true;
            if (t.reason.empty())
                t.reason = *image.GetLastError() ? image.GetLastError()
                                                 : QT_TRANSLATE_NOOP("FileRecord", "cannot transform the image");
        } else {
            t = TransformImage(image, turn);
        }
        if (t.failed) {
            for (PreparedFile &out : outs)
                if (out.kind != Kind::Skipped) {
                    out.kind = Kind::Failed;
                    out.reason = t.reason;
                }
            image.Destroy();
            return joined();
        }
        if (job.m_bRotate && (job.m_nrotateType == ROTATE_LEFT || job.m_nrotateType == ROTATE_RIGHT))
            std::swap(fileW, fileH);
    }
    // Largest first: a smaller size is resized from a larger one's resized
    // picture where that holds it kReducedDecodeMargin times over, as a
    // reduced decode would. Not under a ratio crop, which each size makes
    // from the whole picture.
    const bool cascade = !job.CropsToRatio();
    std::vector<std::size_t> order(jobs.size());
    std::vector<ResizeTarget> targets;
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        order[k] = k;
        targets.push_back(PlannedOutputSize(jobs[k], {}, image.GetSrcWidth(), image.GetSrcHeight()));
    }
    std::stable_sort(order.begin(), order.end(), [&targets](std::size_t a, std::size_t b) {
        return targets[a].width * targets[a].height > targets[b].width * targets[b].height;
    });
    // A size the picture already is goes last, where it can take the
    // picture rather than a copy of it.
    const auto asDecoded = [&](std::size_t k) {
        return targets[k].width == image.GetWidth() && targets[k].height == image.GetHeight();
    };
    std::stable_partition(order.begin(), order.end(), [&](std::size_t k) { return !asDecoded(k); });
    std::vector<CxImage> held; // resized pictures of the larger sizes
    bool stopped = stop.stop_requested();
    for (std::size_t at = 0; at < order.size() && !stopped; ++at) {
        const std::size_t k = order[at];
        PreparedFile &out = outs[k];
        if (out.kind == Kind::Skipped)
            continue;
        out.frames = frames;
        if (animated) {
            // Each size is an animation of its own, its frames read as it is written.
            out.kind = Kind::Animated;
            const ResizeTarget size =
                PlannedOutputSize(jobs[k], kAnimationSteps, image.GetWidth(), image.GetHeight());
            out.width = size.width;
            out.height = size.height;
            continue;
        }
        const CxImage *from = &image;
        for (const CxImage &larger : held)
            if (larger.GetWidth() < from->GetWidth() &&
                larger.GetWidth() >= kReducedDecodeMargin * double(targets[k].width) &&
                larger.GetHeight() >= kReducedDecodeMargin * double(targets[k].height))
                from = &larger;
        CxImage resized;
        // A size the picture already is (shrunk to it as decoded) is not
        // kept again: the smaller ones are made from the picture itself.
        const bool keep = cascade && at + 1 < order.size() &&
                          (targets[k].width < image.GetWidth() || targets[k].height < image.GetHeight());
        CxImage *spare = from == &image && at + 1 == order.size() ? &image : nullptr;
        MakeSize(jobs[k], source, *from, fileW, fileH, keep ? &resized : nullptr, spare, stop, out);
        if (keep && resized.IsValid() && resized.GetWidth() < image.GetWidth())
            held.push_back(std::move(resized));
        stopped = out.kind == Kind::Stopped || stop.stop_requested();
    }
    image.Destroy();
    PreparedFile r = joined();
    if (stopped)
        r.kind = Kind::Stopped;
    return r;
}

PreparedFile PrepareUntimed(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop,
                            std::size_t spoolAbove)
{
    if (job.m_sizes.size() > 1)
        return PrepareSizes(job, index, image, stop);
    // One size is the one resize it names.
    return PrepareOne(job.m_sizes.empty() ? job : job.ForSize(0), index, image, stop, spoolAbove);
}

PreparedFile PlanOne(const CConvertJob &job, int index);

} // namespace

PreparedFile PrepareForDocument(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop)
{
    constexpr std::size_t kMostBytes = std::size_t(1) << 31;
    const auto started = std::chrono::steady_clock::now();
    PreparedFile r;
    if (TagsNameFiles(job) || !BeginFile(job, index, r) || r.sourceType != CXIMAGE_FORMAT_JPG ||
        r.outType != CXIMAGE_FORMAT_JPG || PlanFor(job, index, r) != DecodePlan::PlainCopy)
        return PrepareFile(job, index, image, stop);
    if (!r.bytes.data) {
        std::string read;
        CxIOFile in;
        if (!in.Open(job.GetFile(index).c_str(), "rb") || !in.ReadAll(read, kMostBytes) || read.empty())
            return PrepareFile(job, index, image, stop);
        r.bytes.data.reset(static_cast<std::uint8_t *>(std::malloc(read.size())));
        if (!r.bytes.data)
            return PrepareFile(job, index, image, stop);
        std::memcpy(r.bytes.data.get(), read.data(), read.size());
        r.bytes.size = read.size();
    }
    ImageHeader header;
    if (!ProbeImageHeader(r.bytes.data.get(), r.bytes.size, header) || header.type != CXIMAGE_FORMAT_JPG ||
        !JpegRunsWhole(r.bytes.data.get(), r.bytes.size))
        return PrepareFile(job, index, image, stop); // decoded, to say what is wrong
    r.kind = PreparedFile::Kind::Copy;
    r.frames = 1;
    r.width = job.m_bAutoRotate ? header.UprightWidth() : header.width;
    r.height = job.m_bAutoRotate ? header.UprightHeight() : header.height;
    r.microseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    return r;
}

PreparedFile PlanFile(const CConvertJob &job, int index)
{
    if (job.m_sizes.empty())
        return PlanOne(job, index);
    PreparedFile r = PlanOne(job.ForSize(0), index);
    for (std::size_t k = 1; k < job.m_sizes.size(); ++k)
        r.more.push_back(PlanOne(job.ForSize(k), index));
    return r;
}

namespace {

PreparedFile PlanOne(const CConvertJob &job, int index)
{
    const std::string &source = job.GetFile(index);
    PreparedFile r;
    if (!BeginFile(job, index, r))
        return r;
    ImageHeader header;
    if (!ProbeImageHeader(source.c_str(), header)) {
        r.reason = QT_TRANSLATE_NOOP("FileRecord", "cannot decode the image");
        return r;
    }
    // A copy that must lose its metadata is taken to be rewritable in place.
    PlanInput in{
        .sourceType = r.sourceType, .outType = r.outType, .contentType = header.type, .page = job.GetPage(index)};
    const DecodePlan plan = ChooseDecodePlan(job, in);
    const int w = job.m_bAutoRotate ? header.UprightWidth() : header.width;
    const int h = job.m_bAutoRotate ? header.UprightHeight() : header.height;
    r.frames = header.frames;
    if (plan == DecodePlan::PlainCopy) {
        r.kind = PreparedFile::Kind::Copy;
        r.width = w;
        r.height = h;
        return r;
    }
    const bool animated =
        IsAnimationType(header.type) && IsAnimationOutputType(r.outType) && header.frames > 1;
    const ResizeTarget size = PlannedOutputSize(job, animated ? kAnimationSteps : StepRules{}, w, h);
    r.kind = animated ? PreparedFile::Kind::Animated : PreparedFile::Kind::Encoded;
    r.lossless = plan == DecodePlan::LosslessTransform;
    r.width = size.width;
    r.height = size.height;
    return r;
}

} // namespace

PreparedFile PrepareFile(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop)
{
    return PrepareFileSpooling(job, index, image, stop, 0);
}

PreparedFile PrepareFileSpooling(const CConvertJob &job, int index, CxImage &image, const std::stop_token &stop,
                                 std::size_t spoolAbove)
{
    const auto started = std::chrono::steady_clock::now();
    // A watermark or a tag naming the file gets its own text; the copy
    // shares the list.
    std::optional<CConvertJob> own;
    if (job.m_bStamp && job.m_szStampText.find('{') != std::string::npos) {
        own = job;
        own->m_szStampText = StampTextFor(job, index);
    }
    if (TagsNameFiles(job)) {
        if (!own)
            own = job;
        own->m_metaEdits = TagEditsFor(job, index);
    }
    PreparedFile r = PrepareUntimed(own ? *own : job, index, image, stop, spoolAbove);
    if (own) {
        r.stampText = own->m_szStampText;
        for (PreparedFile &more : r.more)
            more.stampText = own->m_szStampText;
    }
    r.microseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    return r;
}
