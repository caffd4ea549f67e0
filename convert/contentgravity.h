// The gravities that look at the pixels (GRAVITY_ATTENTION, GRAVITY_ENTROPY):
// where a crop keeps its part is chosen by what the picture shows. The
// picture is scored on a copy box-averaged to at most kContentScoreSide
// pixels on its long side, in integers (attention) or with the same double
// steps every time (entropy), so a picture always gets the same box.
#pragma once

#include "convert/pipeline.h"

inline constexpr int kContentScoreSide = 256;

// The width x height part (each cut to the picture) of img that the gravity
// keeps. attention: the part whose cells' scores (edges, saturation, skin
// tone, each past what nine cells in ten score) sum highest, moved towards
// the middle of what scores in it where that costs next to nothing;
// entropy: the part whose luma histogram holds the most information (of
// equal ones, the nearest the centre). A picture where nothing scores, and a
// gravity that is not one of these, gets exactly the part PlaceAt gives the
// centre.
CropRect ContentCrop(const CxImage &img, std::int64_t width, std::int64_t height, int gravity);
