// The options of a run by the names the settings store keeps them under
// ("m_bResize", "Output Quality", ...): what a preset file holds, and the one
// way such values become the options a run is made from, for the window and
// for velmora-batch alike.
#pragma once

#include "convert/convertjob.h"

#include <map>
#include <span>
#include <string>
#include <string_view>

// Name -> value as stored: numbers in decimal, texts as they are.
using StoredValues = std::map<std::string, std::string>;

struct StoredName {
    const char *name;
    long least = 0; // a number's bounds; unused for a text
    long most = 1;
    bool text = false;
};

// Every name a run's options are stored under, in a preset's order.
std::span<const StoredName> StoredRunNames();
const StoredName *FindStoredName(std::string_view name);

enum class StoredFault { None, Unknown, NotNumber, OutOfRange, BadText };
// What is wrong with a value read for name, if anything.
StoredFault CheckStoredValue(std::string_view name, std::string_view value);
// Why a text value cannot be taken (a prefix or suffix holding a "/", a
// name template the run refuses); empty when it can.
std::string StoredTextProblem(std::string_view name, std::string_view value);

// The options of those values; an absent value has the window's default.
ConvertOptions OptionsFromStored(const StoredValues &values);

// The values of a velmora-batch job, with what the job does not keep (the
// logo's file, the font and colour of a watermark not drawn). Empty with
// why set when the job does something no stored value says.
StoredValues StoredFromJob(const CConvertJob &job, const std::string &logoPath, const LOGFONT &font,
                           COLORREF colour, std::string &why);
