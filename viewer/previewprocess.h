// The viewer's own rule for showing a picture "as the conversion would make
// it"; the steps themselves are the conversion's (PreviewSteps).
#pragma once

#include <cstdint>
#include <string>

// What an animation of sourceType is shown as: itself without preview or
// while the output format keeps it ("" or its own), a GIF or a WebP when
// the preview makes one; 0 when the preview makes a still of it.
std::uint32_t PreviewAnimationType(bool preview, const std::string &format, std::uint32_t sourceType);
