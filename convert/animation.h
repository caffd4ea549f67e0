// Converting an animation (a GIF or a WebP of several frames) that stays
// animated, as a GIF or a WebP, frame by frame: one path for a run's output
// file, the preview's bytes in memory and the viewer's frame list.
#pragma once

#include "convert/convertjob.h"
#include "convert/convertreporter.h"
#include "convert/filepreparer.h"
#include "convert/outputwriter.h"
#include "convert/pipeline.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

// Most frames an output keeps.
constexpr int kMaxAnimationFrames = 512;

enum class AnimatedResult {
    Written,
    FrameUnreadable, // a frame could not be read: nothing was written
    TransformFailed, // a frame's rotation or resize failed: nothing was written
    SaveFailed,      // encoding or writing failed: nothing was replaced
    Stopped,         // a stop came: nothing was written
};

// Where the animation goes: given the encoder, writes its bytes somewhere
// (reason, when given, says why it failed).
using AnimationSink =
    std::function<WriteResult(const std::function<bool(CxFile &)> &encode, std::string *reason)>;

// An animation's frames after the steps, each a whole canvas, with how long
// each shows (milliseconds) and the source's loop count (GIF's way).
struct AnimationFrames {
    std::vector<CxImage> frames;
    std::vector<int> delaysMs;
    int loops = 0;
};

// Reads every frame (at most kMaxAnimationFrames) in order, puts each
// through the steps under rules, keeps each frame's delay and transparency,
// and encodes one animation of outType (GIF or WEBP) into sink: a GIF with
// the source's comment, loop count and disposal method (frames of
// different depths get local colour tables), a WebP at the job's quality
// with the source's loop count, background and metadata (as the job's
// options leave it). After a failed step the remaining frames are still
// read (and sharpened when the rules keep it) but no longer rotated,
// resized or stamped. Under the job's size limit the quality is searched
// as for a still (fit, when given, says how it went); an animation that
// does not fit is not shrunk but fails with the size it reached. reporter (when given) sees a status tick per frame;
// reason (when given) says why a failure happened.
AnimatedResult TransformAnimation(const std::string &source, int frameCount, std::uint32_t outType,
                                  const CConvertJob &job, const StepRules &rules, const AnimationSink &sink,
                                  IConvertReporter *reporter, const std::stop_token &stop,
                                  std::string *reason = nullptr, SizeFit *fit = nullptr);

// A run's animation: the frames ignore don't-enlarge, and the result is
// written atomically to output.
AnimatedResult ConvertAnimation(const std::string &source, int frameCount, std::uint32_t outType,
                                const std::string &output, const CConvertJob &job, IConvertReporter &reporter,
                                const std::stop_token &stop, std::string *reason = nullptr);

// A run's animation encoded in memory: the bytes ConvertAnimation writes.
AnimatedResult AnimationBytes(const std::string &source, int frameCount, std::uint32_t outType,
                              const CConvertJob &job, IConvertReporter *reporter, const std::stop_token &stop,
                              EncodedBytes &bytes, std::string *reason = nullptr, SizeFit *fit = nullptr);

// The animation under rules as GIF bytes in memory; empty on any failure.
AnimatedResult AnimatedGifBytes(const std::string &source, int frameCount, const CConvertJob &job,
                                const StepRules &rules, std::vector<std::uint8_t> &bytes);

// The frames under rules, unencoded and in sRGB, for showing. Frames stop
// (the first always kept) where their pixels would pass about maxBytes
// (counted as 32-bit canvases; -1: no bound).
AnimatedResult AnimationFrameList(const std::string &source, int frameCount, const CConvertJob &job,
                                  const StepRules &rules, std::int64_t maxBytes, AnimationFrames &out);
