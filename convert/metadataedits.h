// The tags a run writes and the date shift, as the command line, presets
// and the window's dialog give them ("Artist=Jane", "+1h30m").
#pragma once

#include "imaging/metadatatags.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The tags' names in option values, in order: Artist, Copyright,
// ImageDescription, Keywords, Rating.
const char *TagName(cxmeta::Tag tag);
std::vector<cxmeta::Tag> AllTags();

// Longest value a tag takes, in bytes.
inline constexpr std::size_t kMaxTagValueBytes = 2000;

// Why a value cannot be written for the tag (a rating other than 0 to 5, a
// control character, too long); empty when it can.
std::string TagValueProblem(cxmeta::Tag tag, std::string_view value);

// "TAG=VALUE" (the name in any case); empty when taken, else why not.
std::string ParseTagAssignment(std::string_view text, cxmeta::TagValue &out);

// A shift of "[+-]N(d|h|m|s)..." ("+1h30m", "-2d") in seconds, at most 100
// years either way; empty when taken, else why not.
inline constexpr std::int64_t kMaxDateShiftSeconds = 100LL * 36525 * 864; // 100 years of 365.25 days
std::string ParseDateShift(std::string_view text, std::int64_t &seconds);
// The shift as ParseDateShift reads it ("+1h30m"); "" for none.
std::string DateShiftText(std::int64_t seconds);

// The values as one line of text ("Artist=Jane|Keywords=a;b", '|' and '\'
// escaped by '\'), and back; false (problem set) where the text is no such
// list or a value is refused.
std::string TagValuesText(const std::vector<cxmeta::TagValue> &values);
bool ReadTagValuesText(std::string_view text, std::vector<cxmeta::TagValue> &values, std::string &problem);
