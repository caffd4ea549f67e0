#include "convert/animation.h"

#include "convert/outputfit.h"
#include "convert/sizelimit.h"


#include "imaging/adjust.h"
#include "imaging/cxanimation.h"
#include "imaging/cximagegif.h"
#include "imaging/formats.h"
#include "convert/metadataoptions.h"

#include <algorithm>
#include <memory>

namespace {

// One trim box for every frame: the smallest holding each frame's, so no
// frame loses what moves into another's border. Empty when a frame cannot
// be read (the run then reports it).
std::optional<CropRect> FramesTrimBox(const std::string &source, int frames, const CConvertJob &job,
                                      const std::stop_token &stop)
{
    CConvertJob cut;
    cut.m_edits.crop = job.m_edits.crop;
    cut.m_edits.margins = job.m_edits.margins;
    const std::unique_ptr<CxFrameReader> reader = OpenFrameReader(source.c_str(), job.m_bAutoRotate);
    std::optional<cxadjust::Box> all;
    for (int k = 0; k < frames && !stop.stop_requested(); ++k) {
        CxImage frame;
        std::string why;
        int w = 0, h = 0;
        if (!reader->Next(frame) || !CutAndFlip(frame, cut, w, h, nullptr, why))
            return std::nullopt;
        const cxadjust::Box box = cxadjust::TrimBox(frame, job.m_edits.trimFuzz);
        all = all ? cxadjust::UnionBox(*all, box) : box;
    }
    if (!all)
        return std::nullopt;
    return CropRect{all->left, all->top, all->width, all->height};
}

// What the frames bring besides their pixels.
struct Collected {
    AnimationFrames list;
    std::string comment;
    std::uint32_t background = 0;
    int disposal = 0;
    bool localColorTables = false;
    bool stampDrawn = false;
};

AnimatedResult CollectFrames(const std::string &source, int frameCount, std::uint32_t outType,
                             const CConvertJob &job, const StepRules &rules, IConvertReporter *reporter,
                             const std::stop_token &stop, Collected &c, std::string &why,
                             std::int64_t maxBytes = -1)
{
    const int n = std::clamp(frameCount, 0, kMaxAnimationFrames);
    c.list.frames.reserve(std::size_t(n));
    c.list.delaysMs.reserve(std::size_t(n));
    bool error = false;
    bool unreadable = false;
    int firstBpp = 0;

    const std::unique_ptr<CxFrameReader> reader = OpenFrameReader(source.c_str(), job.m_bAutoRotate);
    ContentCrops crops; // the first frame's, for every frame
    if (job.m_edits.trim)
        crops.trim = FramesTrimBox(source, n, job, stop);
    for (int k = 0; k < n; ++k) {
        if (stop.stop_requested())
            return AnimatedResult::Stopped;
        CxImage frame;
        if (!reader->Next(frame)) {
            why = "frame " + std::to_string(k + 1) + ": " + frame.GetLastError();
            unreadable = error = true;
            break;
        }
        RGBQUAD trans = frame.GetTransColor();
        const int bpp = frame.GetBpp();
        if (k == 0) {
            firstBpp = bpp;
            c.disposal = frame.GetDisposalMethod();
            ApplyMetadataOptions(frame, job);
        } else if (bpp != firstBpp) {
            c.localColorTables = true;
        }
        // A profile stays only where the output keeps it beside the pixels.
        PrepareColour(frame, outType);

        if (!error) {
            TransformOutcome t = TransformImage(frame, job, rules, 0, 0, &crops);
            c.stampDrawn = c.stampDrawn || t.stampDrawn;
            if (t.failed) {
                why = "frame " + std::to_string(k + 1) + ": " + t.reason;
                error = true;
            }
        } else {
            Sharpen(frame, job, rules);
        }
        trans.rgbReserved = 0;
        frame.SetTransColor(trans);
        c.list.frames.push_back(std::move(frame));
        c.list.delaysMs.push_back(reader->GetDelayMs());
        if (maxBytes >= 0) {
            maxBytes -= std::int64_t(frame.GetWidth()) * frame.GetHeight() * 4;
            if (maxBytes < 0 && k > 0) {
                c.list.frames.pop_back();
                c.list.delaysMs.pop_back();
                break;
            }
        }
        if (stop.stop_requested())
            return AnimatedResult::Stopped;
        if (reporter)
            reporter->AnimateStatus();
    }
    if (error)
        return unreadable ? AnimatedResult::FrameUnreadable : AnimatedResult::TransformFailed;
    c.list.loops = reader->GetLoops();
    c.comment = reader->GetComment();
    c.background = reader->GetBackground();
    return AnimatedResult::Written;
}

} // namespace

AnimatedResult TransformAnimation(const std::string &source, int frameCount, std::uint32_t outType,
                                  const CConvertJob &job, const StepRules &rules, const AnimationSink &sink,
                                  IConvertReporter *reporter, const std::stop_token &stop, std::string *reason,
                                  SizeFit *fit)
{
    std::string why;
    auto failed = [&](AnimatedResult result) {
        if (reason)
            *reason = why;
        return result;
    };
    Collected c;
    const AnimatedResult collected = CollectFrames(source, frameCount, outType, job, rules, reporter, stop, c, why);
    if (collected != AnimatedResult::Written)
        return collected == AnimatedResult::Stopped ? collected : failed(collected);

    std::vector<CxImage *> pointers;
    for (CxImage &f : c.list.frames)
        pointers.push_back(&f);
    std::string encodeWhy;
    std::function<bool(CxFile &)> encode;
    const ImageFormat *format = FormatByType(outType);
    if (format && format->facts.frames == FrameCodec::WebpFrames) {
        // As a still WebP: the job's quality, 95 under a watermark.
        pointers.front()->SetJpegQuality(c.stampDrawn ? BYTE(95) : BYTE(job.m_nQuality));
        pointers.front()->SetEncoderSettings(job.m_encoder);
        encode = [&](CxFile &file) {
            return WriteWebpAnimation(file, pointers.data(), c.list.delaysMs.data(), int(pointers.size()),
                                      c.list.loops, c.background, &encodeWhy);
        };
    } else {
        // The animation's own settings come from the source file; the whole
        // comment is carried over, not a fixed-size piece of it.
        for (std::size_t k = 0; k < pointers.size(); ++k)
            pointers[k]->SetFrameDelay(GifDelay(c.list.delaysMs[k]));
        encode = [&, gif = std::make_shared<CxImageGIF>()](CxFile &file) {
            gif->SetComment(c.comment.c_str());
            gif->SetLoops(c.list.loops);
            gif->SetDisposalMethod(c.disposal);
            const bool ok = gif->Encode(&file, pointers.data(), int(pointers.size()), c.localColorTables);
            if (!ok && *gif->GetLastError())
                encodeWhy = gif->GetLastError();
            return ok;
        };
    }
    // Under a size limit the animation is encoded in memory until it
    // fits, from the frames read once; the sink gets the bytes that did.
    std::vector<std::uint8_t> fitted;
    if (job.m_nMaxFileSize > 0) {
        // A GIF has no quality: it is encoded once.
        const QualityRange range = QualityRangeFor(outType, job);
        const auto trial = [&](int q) -> std::optional<std::int64_t> {
            if (range.ceiling > 0)
                pointers.front()->SetJpegQuality(BYTE(q));
            CxMemFile mem;
            if (!mem.Open() || !encode(mem) || mem.Error())
                return std::nullopt;
            const auto size = std::int64_t(mem.Size());
            if (size <= job.m_nMaxFileSize) {
                const auto *data = static_cast<const std::uint8_t *>(mem.GetBuffer(false));
                fitted.assign(data, data + size);
            }
            return size;
        };
        const QualityFit search = SearchQuality(range.floor, range.ceiling, job.m_nMaxFileSize, trial);
        if (fit)
            *fit = {true, search.quality, search.encodes, false, std::int64_t(pointers.front()->GetWidth()),
                    std::int64_t(pointers.front()->GetHeight())};
        if (search.failed) {
            why = encodeWhy.empty() ? QT_TRANSLATE_NOOP("FileRecord", "cannot encode the image") : encodeWhy;
            return failed(AnimatedResult::SaveFailed);
        }
        if (!search.fits) {
            why = NoFitReason(job.m_nMaxFileSize, search.size, search.quality);
            return failed(AnimatedResult::SaveFailed);
        }
        encode = [&fitted](CxFile &file) {
            return fitted.empty() || file.Write(fitted.data(), 1, fitted.size()) == fitted.size();
        };
    }
    const WriteResult written = sink(encode, &why);
    if (written == WriteResult::Stopped || stop.stop_requested())
        return AnimatedResult::Stopped;
    if (written == WriteResult::Failed) {
        if (!encodeWhy.empty())
            why = encodeWhy;
        return failed(AnimatedResult::SaveFailed);
    }
    return AnimatedResult::Written;
}

AnimatedResult AnimationBytes(const std::string &source, int frameCount, std::uint32_t outType,
                              const CConvertJob &job, IConvertReporter *reporter, const std::stop_token &stop,
                              EncodedBytes &bytes, std::string *reason, SizeFit *fit)
{
    const AnimationSink toMemory = [&](const std::function<bool(CxFile &)> &encode, std::string *why) {
        CxMemFile mem;
        if (!mem.Open() || !encode(mem)) {
            if (why)
                *why = QT_TRANSLATE_NOOP("FileRecord", "cannot encode the image");
            return WriteResult::Failed;
        }
        bytes.size = std::size_t(mem.Size());
        bytes.data.reset(mem.GetBuffer(true));
        return WriteResult::Written;
    };
    return TransformAnimation(source, frameCount, outType, job, kAnimationSteps, toMemory, reporter, stop,
                              reason, fit);
}

AnimatedResult ConvertAnimation(const std::string &source, int frameCount, std::uint32_t outType,
                                const std::string &output, const CConvertJob &job, IConvertReporter &reporter,
                                const std::stop_token &stop, std::string *reason)
{
    const AnimationSink toFile = [&](const std::function<bool(CxFile &)> &encode, std::string *why) {
        return WriteAtomically(output, stop, encode, why);
    };
    return TransformAnimation(source, frameCount, outType, job, kAnimationSteps, toFile, &reporter, stop, reason);
}

AnimatedResult AnimatedGifBytes(const std::string &source, int frameCount, const CConvertJob &job,
                                const StepRules &rules, std::vector<std::uint8_t> &bytes)
{
    bytes.clear();
    const AnimationSink toMemory = [&](const std::function<bool(CxFile &)> &encode, std::string *) {
        CxMemFile mem;
        if (!mem.Open() || !encode(mem))
            return WriteResult::Failed;
        const std::int64_t size = mem.Size();
        std::uint8_t *data = mem.GetBuffer(true);
        if (data && size > 0)
            bytes.assign(data, data + size);
        CxMemFile::FreeBuffer(data);
        return bytes.empty() ? WriteResult::Failed : WriteResult::Written;
    };
    // The picture control plays GIF bytes itself.
    return TransformAnimation(source, frameCount, CXIMAGE_FORMAT_GIF, job, rules, toMemory, nullptr,
                              std::stop_token(), nullptr);
}

AnimatedResult AnimationFrameList(const std::string &source, int frameCount, const CConvertJob &job,
                                  const StepRules &rules, std::int64_t maxBytes, AnimationFrames &out)
{
    Collected c;
    std::string why;
    // Shown on the screen, taken as sRGB.
    const AnimatedResult r =
        CollectFrames(source, frameCount, {}, job, rules, nullptr, std::stop_token(), c, why, maxBytes);
    out = r == AnimatedResult::Written ? std::move(c.list) : AnimationFrames{};
    return r;
}
