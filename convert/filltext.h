// Translated texts of the conversion core and velmora-batch with their
// values filled in as bytes: a file name need not be UTF-8, and a "%" in it
// is the name's own.
#pragma once

#include <QString>

#include <initializer_list>
#include <string>
#include <string_view>

// pattern with %1 ... %9 replaced by values in one pass; a "%" not followed
// by the number of a value stays.
std::string FillText(const QString &pattern, std::initializer_list<std::string_view> values);
