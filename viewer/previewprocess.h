// How the viewer shows a picture "as the conversion would make it": the
// rotation, resize and stamp of the chosen options, without writing
// anything. Unlike a run, the viewer never consults don't-enlarge and never
// sharpens.
#pragma once

#include "convertjob.h"
#include "cximage.h"

#include <cstdint>
#include <string>
#include <vector>

// Most frames an animated preview keeps.
constexpr int kMaxPreviewFrames = 512;

// Rotates, resizes and stamps as the settings say. A still keeps going after
// a failed step (stopAtFailure false); an animation's frames stop at the
// first one. Returns false when a step failed.
bool ApplyPreviewSteps(CxImage &img, const CConvertJob &settings, bool stopAtFailure);

// Whether an animated GIF is shown moving: always without preview; with it
// only while the output format keeps GIFs as they are ("" or "gif").
bool PreviewKeepsAnimation(bool preview, const std::string &format);

// Decodes up to kMaxPreviewFrames frames of an animated GIF, applies the
// preview steps to each (stopping them all at the first failure), and
// encodes the result with the source's comment, loop count and disposal
// into GIF bytes. False when a frame cannot be read, a step failed or the
// encoding failed; bytes is then empty.
bool BuildAnimatedPreview(const std::string &path, int frameCount, const CConvertJob &settings,
                          std::vector<std::uint8_t> &bytes);
