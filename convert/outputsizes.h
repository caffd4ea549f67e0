// Several sizes of each picture: the list as typed ("320w,768h,1024,800x600"),
// each size's tag in the output's name, and the rule each one resizes by.
#pragma once

#include "convert/convertjob.h"

#include <string>
#include <string_view>
#include <vector>

// Reads a list of up to kMaxOutputSizes items, comma-separated: Nw (width N),
// Nh (height N), N (long edge N) or WxH (fit inside W x H), every number from
// 1 to 2147483647, no size twice. False, with problem saying why (English,
// context "velmora-batch"), for anything else; sizes is then left alone.
bool ParseSizeList(std::string_view text, std::vector<OutputSize> &sizes, std::string &problem);

// "320w", "320h", "1024px", "800x600": the size as the output's name tells it.
std::string SizeTag(const OutputSize &size);
// The list as ParseSizeList reads it back.
std::string SizeListText(const std::vector<OutputSize> &sizes);

// Sets the job's resize to the size's rule: set width, set height, the long
// edge (RESIZE_LONG_EDGE) or fit inside (rule 0).
void ApplySize(CConvertJob &job, const OutputSize &size);

// The job for these sizes: the list, and the first one's rule in the
// resize fields. Sharpen, don't-enlarge and the rest stay as they are.
void SetSizes(CConvertJob &job, std::vector<OutputSize> sizes);
