// Converting an animated GIF that stays a GIF, frame by frame: one path for
// a run's output file and the preview's bytes in memory.
#pragma once

#include "convertjob.h"
#include "convertreporter.h"
#include "outputwriter.h"
#include "pipeline.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

// Most frames an output keeps.
constexpr int kMaxGifFrames = 512;

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

// Reads every frame (at most kMaxGifFrames) in order, puts each through the
// steps under rules, keeps each frame's delay and transparent colour, and
// encodes one animation with the source's comment, loop count and disposal
// method into sink. Frames of different depths give local colour tables.
// After a failed step the remaining frames are still read (and sharpened
// when the rules keep it) but no longer rotated, resized or stamped.
// reporter (when given) sees a status tick per frame; reason (when given)
// says why a failure happened.
AnimatedResult TransformAnimatedGif(const std::string &source, int frameCount, const CConvertJob &job,
                                    const StepRules &rules, const AnimationSink &sink,
                                    IConvertReporter *reporter, const std::stop_token &stop,
                                    std::string *reason = nullptr);

// A run's animation: the frames ignore don't-enlarge, and the result is
// written atomically to output.
AnimatedResult ConvertAnimatedGif(const std::string &source, int frameCount, const std::string &output,
                                  const CConvertJob &job, IConvertReporter &reporter,
                                  const std::stop_token &stop, std::string *reason = nullptr);

// The animation under rules as GIF bytes in memory; empty on any failure.
AnimatedResult AnimatedGifBytes(const std::string &source, int frameCount, const CConvertJob &job,
                                const StepRules &rules, std::vector<std::uint8_t> &bytes);
