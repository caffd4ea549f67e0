// The viewer's own rule for showing a picture "as the conversion would make
// it"; the steps themselves are the conversion's (PreviewSteps).
#pragma once

#include <cstdint>
#include <string>

// What an animation of sourceType is shown as: itself without preview, a GIF
// or a WebP when the preview's output (its own format for "") stays one; 0
// when the preview makes a still of it (any other output format).
std::uint32_t PreviewAnimationType(bool preview, const std::string &format, std::uint32_t sourceType);
