// Converting an animated GIF that stays a GIF, frame by frame.
#pragma once

#include "convertjob.h"
#include "convertreporter.h"

#include <stop_token>
#include <string>

// Most frames an output keeps.
constexpr int kMaxGifFrames = 512;

enum class AnimatedResult {
    Written,
    FrameUnreadable, // a frame could not be read: nothing was written
    TransformFailed, // a frame's rotation or resize failed: nothing was written
    SaveFailed,      // encoding or writing failed: nothing was replaced
    Stopped,         // a stop came: nothing was written
};

// Loads every frame (at most kMaxGifFrames), rotates, resizes (whatever
// don't-enlarge says), sharpens and stamps each as a single image would be,
// keeps each frame's delay and transparent colour, and writes one animation
// with the source's comment, loop count and disposal method. Frames of
// different depths give local colour tables. The reporter only sees status
// ticks; reason (when given) says why a failure happened.
AnimatedResult ConvertAnimatedGif(const std::string &source, int frameCount, const std::string &output,
                                  const CConvertJob &job, IConvertReporter &reporter,
                                  const std::stop_token &stop, std::string *reason = nullptr);
