// The viewer's own rule for showing a picture "as the conversion would make
// it"; the steps themselves are the conversion's (PreviewSteps).
#pragma once

#include <string>

// Whether an animated GIF is shown moving: always without preview; with it
// only while the output format keeps GIFs as they are ("" or "gif").
bool PreviewKeepsAnimation(bool preview, const std::string &format);
