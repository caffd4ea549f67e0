#include "animatedgif.h"

#include "cximagegif.h"

#include <algorithm>
#include <memory>

AnimatedResult TransformAnimatedGif(const std::string &source, int frameCount, const CConvertJob &job,
                                    const StepRules &rules, const AnimationSink &sink,
                                    IConvertReporter *reporter, const std::stop_token &stop,
                                    std::string *reason)
{
    std::string why;
    const int n = std::clamp(frameCount, 0, kMaxGifFrames);
    std::vector<std::unique_ptr<CxImage>> frames;
    frames.reserve(std::size_t(n));
    bool error = false;
    bool unreadable = false;
    bool localColorTables = false;
    int firstBpp = 0;
    int disposal = 0;

    CxGifFrameReader reader(source.c_str());
    for (int k = 0; k < n; ++k) {
        if (stop.stop_requested())
            return AnimatedResult::Stopped;
        auto frame = std::make_unique<CxImage>(CXIMAGE_FORMAT_UNKNOWN);
        if (!reader.Next(*frame)) {
            why = "frame " + std::to_string(k + 1) + ": " + frame->GetLastError();
            unreadable = error = true;
            break;
        }
        const int delay = frame->GetFrameDelay();
        RGBQUAD trans = frame->GetTransColor();
        const int bpp = frame->GetBpp();
        if (k == 0) {
            firstBpp = bpp;
            disposal = frame->GetDisposalMethod();
        } else if (bpp != firstBpp) {
            localColorTables = true;
        }

        if (!error) {
            TransformOutcome t = TransformImage(*frame, job, rules);
            if (t.failed) {
                why = "frame " + std::to_string(k + 1) + ": " + t.reason;
                error = true;
            }
        } else {
            Sharpen(*frame, job, rules);
        }
        frame->SetFrameDelay(delay);
        trans.rgbReserved = 0;
        frame->SetTransColor(trans);
        frames.push_back(std::move(frame));
        if (stop.stop_requested())
            return AnimatedResult::Stopped;
        if (reporter)
            reporter->AnimateStatus();
    }

    auto failed = [&](AnimatedResult result) {
        if (reason)
            *reason = why;
        return result;
    };
    if (error)
        return failed(unreadable ? AnimatedResult::FrameUnreadable : AnimatedResult::TransformFailed);

    // The animation's own settings come from the source file; the whole
    // comment is carried over, not a fixed-size piece of it.
    CxImageGIF gif;
    gif.SetComment(reader.GetComment().c_str());
    gif.SetLoops(reader.GetLoops());
    gif.SetDisposalMethod(disposal);

    std::vector<CxImage *> pointers;
    for (auto &f : frames)
        pointers.push_back(f.get());
    bool encoded = true;
    const WriteResult written = sink(
        [&](CxFile &file) {
            return encoded = gif.Encode(&file, pointers.data(), int(pointers.size()), localColorTables);
        },
        &why);
    if (written == WriteResult::Stopped || stop.stop_requested())
        return AnimatedResult::Stopped;
    if (written == WriteResult::Failed) {
        if (!encoded && *gif.GetLastError())
            why = gif.GetLastError();
        return failed(AnimatedResult::SaveFailed);
    }
    return AnimatedResult::Written;
}

AnimatedResult ConvertAnimatedGif(const std::string &source, int frameCount, const std::string &output,
                                  const CConvertJob &job, IConvertReporter &reporter,
                                  const std::stop_token &stop, std::string *reason)
{
    const AnimationSink toFile = [&](const std::function<bool(CxFile &)> &encode, std::string *why) {
        return WriteAtomically(output, stop, encode, why);
    };
    return TransformAnimatedGif(source, frameCount, job, kAnimationSteps, toFile, &reporter, stop, reason);
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
    return TransformAnimatedGif(source, frameCount, job, rules, toMemory, nullptr, std::stop_token(),
                                nullptr);
}
