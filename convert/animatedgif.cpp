#include "animatedgif.h"

#include "cximagegif.h"
#include "outputwriter.h"
#include "pipeline.h"

#include <algorithm>
#include <memory>
#include <vector>

AnimatedResult ConvertAnimatedGif(const std::string &source, int frameCount, const std::string &output,
                                  const CConvertJob &job, IConvertReporter &reporter,
                                  const std::stop_token &stop, std::string *reason)
{
    std::string why;
    const int n = std::clamp(frameCount, 0, kMaxGifFrames);
    std::vector<std::unique_ptr<CxImage>> frames;
    frames.reserve(std::size_t(n));
    bool error = false;
    bool unreadable = false;
    bool localColorTables = false;
    int firstBpp = 0;

    for (int k = 0; k < n; ++k) {
        if (stop.stop_requested())
            return AnimatedResult::Stopped;
        auto frame = std::make_unique<CxImage>(CXIMAGE_FORMAT_UNKNOWN);
        frame->SetFrame(k);
        if (!frame->Load(source.c_str(), CXIMAGE_FORMAT_GIF)) {
            why = "frame " + std::to_string(k + 1) + ": " + frame->GetLastError();
            unreadable = error = true;
            break;
        }
        const int delay = frame->GetFrameDelay();
        RGBQUAD trans = frame->GetTransColor();
        const int bpp = frame->GetBpp();
        if (k == 0)
            firstBpp = bpp;
        else if (bpp != firstBpp)
            localColorTables = true;

        // After a failed transformation the remaining frames are still
        // loaded and sharpened, but no longer rotated, resized or stamped.
        if (!error) {
            TransformOutcome t = TransformImage(*frame, job, false);
            if (t.failed) {
                why = "frame " + std::to_string(k + 1) + ": " + t.reason;
                error = true;
            }
        } else if (job.m_bSharpen == 1) {
            frame->Filter(kSharpenKernel, 3, 7, 0);
        }
        frame->SetFrameDelay(delay);
        trans.rgbReserved = 0;
        frame->SetTransColor(trans);
        frames.push_back(std::move(frame));
        if (stop.stop_requested())
            return AnimatedResult::Stopped;
        reporter.AnimateStatus();
    }

    auto failed = [&](AnimatedResult result) {
        if (reason)
            *reason = why;
        return result;
    };
    if (error)
        return failed(unreadable ? AnimatedResult::FrameUnreadable : AnimatedResult::TransformFailed);

    // The animation's own settings come from the source file.
    CxImageGIF gif;
    // The whole comment is carried over, not a fixed-size piece of it.
    std::string comment;
    int loops = 0, disposal = 0;
    {
        CxIOFile in;
        if (in.Open(source.c_str(), "rb")) {
            gif.Decode(&in);
            comment = gif.GetComment();
            loops = gif.GetLoops();
            disposal = gif.GetDisposalMethod();
            gif.Destroy();
        }
    }
    gif.SetComment(comment.c_str());
    gif.SetLoops(loops);
    gif.SetDisposalMethod(disposal);

    std::vector<CxImage *> pointers;
    for (auto &f : frames)
        pointers.push_back(f.get());
    bool encoded = true;
    const WriteResult written = WriteAtomically(
        output, stop,
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
